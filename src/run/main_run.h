#pragma once
#include "core/context.h"

namespace quillet {

// The five ways a run ends.
enum class RunEnd {
    NoInstallPath,  // no usable install path: nothing done, nothing written
    HealthCheck,    // after the health-check run
    TypeGate,       // the agent type is not RULK
    Closed,         // after the folder size report and the finished banner
    Trapped,        // ended by a failure in the run's own steps
};

// The whole run. The command text comes from ctx.os.commandText().
RunEnd Main(Context& ctx);

// Exit status for schedulers and people: 0 normal, 1 a "Failed" report was
// written, 2 no usable install path, 3 ended by an unexpected failure.
int exitStatus(RunEnd end, const RunState& run);

}  // namespace quillet
