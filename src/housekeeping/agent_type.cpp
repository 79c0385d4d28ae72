#include "housekeeping/agent_type.h"

#include "core/error_line.h"
#include "core/text.h"
#include "platform/activity_log.h"
#include "platform/registry.h"
#include "platform/status_report.h"

namespace quillet {

void PriSubCheckForAgentType(Context& ctx) {
    try {
        const std::string value = agentValue(ctx, agent::kTypeValue);
        const std::string trimmed = trimSpaces(value);
        if (trimmed == "0" || trimmed.empty()) {
            PblSubWriteLog(ctx, "ERR : Agent type missing in registry");
            ctx.run.statusDescription = "Agent type missing";
        } else if (upper(trimmed) != "TOVA" && upper(trimmed) != "RULK") {
            PblSubWriteLog(ctx, "ERR : Invalid agent type found as - " + value);
            ctx.run.statusDescription = "Invalid agent type found as - " + value;
        } else {
            PblSubWriteLog(ctx, "INF : Agent type check completed");
            return;
        }
        PriSubGeneratePID(ctx, "Failed", ctx.run.statusDescription, "Agent_AgentType_MNStatus");
        ctx.run.overallStatusOK = false;
    } catch (...) {
        PblSubWriteLog(ctx, errWhile("checking agent type", " : ", describeCurrentException(),
                                     "PriSubCheckForAgentType"));
    }
}

}  // namespace quillet
