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
        // A record the platform refuses (a read-only file, a full disk) is
        // this step's failure: the reader of the file would never learn of it.
        const auto recorded = [&](const char* key, const std::string& value) {
            const auto refused = WriteIniString(ctx, file, section, key, value);
            if (!refused) return true;
            ctx.run.healthCheckFailed = true;
            PblSubWriteLog(ctx, "ERR : Error Source : SubUpdtAgtHlthChkStatus(),File : " + file +
                                    ",Error Number : " + std::to_string(refused->number) +
                                    ",Desc:" + refused->description);
            return false;
        };
        if (oldStatus != "0" && !recorded("status", succeeded ? "1" : "0")) return;
        recorded("errdesc",
                 oldDescription.empty() ? description : oldDescription + "," + description);
    } catch (...) {
        PblSubWriteLog(ctx, errSource("SubUpdtAgtHlthChkStatus", describeCurrentException()));
    }
}

}  // namespace quillet
