#include "healthcheck/health_check.h"

#include "core/error_line.h"
#include "platform/activity_log.h"
#include "platform/health_record.h"
#include "platform/ini.h"
#include "platform/services.h"

namespace quillet {

void SubAgtHlthChkSrvcs(Context& ctx) {
    try {
        PblSubWriteLog(ctx, "INF : Agent Health Check :: Checking status of services");
        std::string notRunning;
        const std::string list = ReadIniString(ctx, "SERVICE", "svcfiles", healthFile(ctx));
        // No list asks about no service, not about one without a name.
        const bool someDown = !list.empty() && checkServiceList(ctx, list, notRunning);
        SubUpdtAgtHlthChkStatus(ctx, "SERVICE", !someDown, notRunning);
    } catch (...) {
        PblSubWriteLog(ctx, errSource("SubAgtHlthChkSrvcs", describeCurrentException()));
    }
}

}  // namespace quillet
