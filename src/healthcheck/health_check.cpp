#include "healthcheck/health_check.h"

#include "common/error_line.h"
#include "common/text.h"
#include "platform/activity_log.h"
#include "platform/ini.h"
#include "platform/registry.h"
#include "platform/services.h"

namespace quillet {

namespace {
std::string healthFile(Context& ctx) {
    return agentInstallPath(ctx) + "Configuration\\AgtHealthChk.ini";
}
}  // namespace

void SubAgtHlthChkSrvcs(Context& ctx) {
    try {
        PblSubWriteLog(ctx, "INF : Agent Health Check :: Checking status of services");
        std::string notRunning;
        bool someDown = false;
        const std::string list = ReadIniString(ctx, "SERVICE", "svcfiles", healthFile(ctx));
        if (!list.empty()) {
            // Names are not trimmed: "a, b" asks for " b", which no service is called.
            for (const auto& name : splitAll(list, ',')) {
                if (IsServiceRunning(ctx, name)) {
                    PblSubWriteLog(ctx, "INF : Service found to be running");
                    continue;
                }
                if (!trimSpaces(notRunning).empty())
                    notRunning += "," + name;
                else
                    notRunning = name;
                PblSubWriteLog(ctx, "INF :" + name + "  Service found to be not running");
                someDown = true;
            }
        }
        SubUpdtAgtHlthChkStatus(ctx, "SERVICE", !someDown, notRunning);
    } catch (...) {
        PblSubWriteLog(ctx, errSource("SubAgtHlthChkSrvcs", describeCurrentException()));
    }
}

void SubUpdtAgtHlthChkStatus(Context& ctx, const std::string& section, bool succeeded,
                             const std::string& description) {
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
