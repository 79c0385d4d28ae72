#include "platform/health_record.h"

#include "core/agent.h"
#include "core/error_line.h"
#include "platform/activity_log.h"
#include "platform/ini.h"
#include "platform/registry.h"

namespace quillet {

std::string healthFile(Context& ctx) { return agentInstallPath(ctx) + agent::kHealthFile; }

void SubUpdtAgtHlthChkStatus(Context& ctx, const std::string& section, bool succeeded,
                             const std::string& description) {
    if (!succeeded) ctx.run.healthCheckFailed = true;
    try {
        const std::string file = healthFile(ctx);
        const std::string oldStatus = ReadIniString(ctx, section, "status", file);
        const std::string oldDescription = ReadIniString(ctx, section, "errdesc", file);
        if (oldStatus != "0") WriteIniString(ctx, file, section, "status", succeeded ? "1" : "0");
        WriteIniString(ctx, file, section, "errdesc",
                       oldDescription.empty() ? description : oldDescription + "," + description);
    } catch (...) {
        PblSubWriteLog(ctx, errSource("SubUpdtAgtHlthChkStatus", describeCurrentException()));
    }
}

}  // namespace quillet
