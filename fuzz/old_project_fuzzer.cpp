// Reads a project file of the older layout (.zya); see project-harness.h for what is checked.
#include "project-harness.h"

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz::initProjectHarness(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::readProjectInput(fuzz::ProjectInput::OldProject, data, size);
    return 0;
}
