// The project readers under a fuzzer. The editor's window (library, timeline
// and canvas, without a graphics device) is made once per process; each
// input is read into it, the result is checked against what the timeline
// promises, written, read back and written again, and the window is emptied
// for the next input. Media files are never opened: a stand-in probe calls a
// path readable unless its name contains "missing".
//
// Any broken promise aborts with a line on the harness's own copy of
// standard error, which stays open when libFuzzer closes the real one
// (-close_fd_mask=2 keeps the readers' log lines out of the fuzzer's output).
#pragma once

#include <cstddef>
#include <cstdint>

namespace fuzz {

enum class ProjectInput {
    Project,         // a whole ".zya2" file
    OldProject,      // a whole ".zya" file of the older layout
    ResourceSection, // the "Resource" element alone
    TimelineSection, // the "Timeline" element alone
};

// For LLVMFuzzerInitialize: the application and the window.
void initProjectHarness(int* argc, char*** argv);
// For LLVMFuzzerTestOneInput.
void readProjectInput(ProjectInput kind, const uint8_t* data, size_t size);

} // namespace fuzz
