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

// The whole run, of the command text in ctx.run.commandText.
RunEnd Main(Context& ctx);

// Exit status for schedulers and people: 0 normal, 1 a "Failed" report or a
// failed health-check record was written, 2 no usable install path, 3 ended
// by an unexpected failure.
int exitStatus(RunEnd end, const RunState& run);

// The exit status, after leaving an entry in the system's event log for the
// ends that the activity log cannot show: no install path (no log to write),
// a run ended by a failure, and a run that lost lines of its log.
int finishRun(Context& ctx, RunEnd end);

}  // namespace quillet
