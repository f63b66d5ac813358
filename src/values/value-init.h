// Included by every source file that uses values: before the entry point it
// fetches the value library's interface and registers the Qt value types.
// However many files include it, each type is registered once.
#pragma once

#include "value/interface.h"
#include "values/value-qt.h"

namespace {

struct ValueLibraryInit {
    ValueLibraryInit() {
        bg::__Init_CD_Later__(&bg::g_interface);
        bg::ValueQt::registerTypes();
        bg::ValueQtG::registerTypes();
    }
};

[[maybe_unused]] const ValueLibraryInit s_valueLibraryInit;

} // namespace
