#pragma once
#include <string>

#include "os/system.h"

namespace quillet {

// Run-wide values, alive for one run and shared with the task procedures.
struct RunState {
    std::string statusDescription;  // what the next status report carries as Desc
    bool overallStatusOK = true;    // cleared by every check that writes a "Failed" report
    std::string commandText;        // the command text as received
};

struct Context {
    os::System& os;
    RunState& run;
};

}  // namespace quillet
