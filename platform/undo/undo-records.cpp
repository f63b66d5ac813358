#include "undo-records.h"

#include "undo-controller.h"

namespace zya {

void Record::redo() {
    if (!m_pushed) {
        m_pushed = true;
        return;
    }
    ReplayScope replay;
    m_done = true;
    if (ZyObject* object = target())
        doRedo(object);
}

void Record::undo() {
    ReplayScope replay;
    m_done = false;
    if (ZyObject* object = target())
        doUndo(object);
}

ValueRecord::ValueRecord(QUndoCommand* parent, ZyObject* object, std::string key, bg::Value before,
                         bool hadBefore, bg::Value after, bool typed)
    : Record(parent), m_key(std::move(key)), m_before(std::move(before)), m_hadBefore(hadBefore),
      m_after(std::move(after)), m_typed(typed) {
    m_handle = object->handle();
}

int ValueRecord::id() const {
    constexpr int kTyping = 0x7479; // any id other than -1; mergeWith tells records apart
    return m_typed ? kTyping : -1;
}

bool ValueRecord::mergeWith(const QUndoCommand* other) {
    const auto* next = dynamic_cast<const ValueRecord*>(other);
    if (!m_typed || !m_done || !next || !next->m_typed || next->m_handle != m_handle || next->m_key != m_key)
        return false;
    m_after = next->m_after;
    return true;
}

void ValueRecord::doRedo(ZyObject* object) {
    object->storeValue(m_key, m_after, true);
    object->onChange(ZyObject::OpChanged, bg::Value(m_key));
}

void ValueRecord::doUndo(ZyObject* object) {
    object->storeValue(m_key, m_before, m_hadBefore);
    object->onUndo(ZyObject::OpChanged, bg::Value(m_key));
}

ObjectRecord::ObjectRecord(QUndoCommand* parent, ZyObject* object, Kind kind, bg::Value context)
    : Record(parent), m_kind(kind), m_context(std::move(context)) {
    m_handle = object->handle();
}

ObjectRecord::~ObjectRecord() {
    if (ownsObject()) {
        if (ZyObject* object = target())
            delete object; // clears the handle, so no other record touches it again
    }
}

void ObjectRecord::doRedo(ZyObject* object) {
    object->onChange(m_kind == Added ? ZyObject::OpAdded : ZyObject::OpRemoved, m_context);
}

void ObjectRecord::doUndo(ZyObject* object) {
    object->onUndo(m_kind == Added ? ZyObject::OpAdded : ZyObject::OpRemoved, m_context);
}

} // namespace zya
