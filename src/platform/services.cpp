#include "platform/services.h"

#include "common/error_line.h"
#include "common/text.h"
#include "platform/activity_log.h"

namespace quillet {

bool IsServiceRunning(Context& ctx, const std::string& serviceName) {
    try {
        const auto active = ctx.os.activeServiceNames();
        if (!active) return false;
        const std::string wanted = upper(serviceName);
        for (const auto& name : *active)
            if (upper(cutAtNul(name)) == wanted) return true;
        return false;
    } catch (...) {
        PblSubWriteLog(ctx, errWhile("checking service", ": ", describeCurrentException(),
                                     "IsServiceRunning"));
        return false;
    }
}

}  // namespace quillet
