#pragma once
#include <string>

#include "os/system.h"

namespace quillet {

// Run-wide values, alive for one run and shared with the task procedures.
struct RunState {
    std::string statusDescription;   // what the next status report carries as Desc
    bool overallStatusOK = true;     // cleared by every check that writes a "Failed" report
    std::string commandText;         // the command text as received, set at start
    bool healthCheckFailed = false;  // a health-check record of this run says "failed",
                                     // or could not be written
    // Why the first line of the activity log that could not be written was
    // not (number and text), "" while every line was: the event that reports
    // the loss says why, the log itself cannot.
    std::string logLost;
    std::string failure;  // what ended the run, when a failure did
};

struct Context {
    os::System& os;
    RunState& run;
};

// A file the program reads or runs: one that is there, neither a folder nor
// hidden or system (as the file-system scripting object counts files).
inline bool isPlainFile(const os::PathStatus& status) {
    return status.isFile && !status.hiddenOrSystem;
}

}  // namespace quillet
