#include "platform/services.h"

#include "core/error_line.h"
#include "core/text.h"
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

bool checkServiceList(Context& ctx, const std::string& names, std::string& notRunning) {
    bool someDown = false;
    // Names are not trimmed: "a, b" asks for " b", which no service is called.
    for (const auto& name : splitAll(names, ',')) {
        if (IsServiceRunning(ctx, name)) {
            PblSubWriteLog(ctx, "INF : Service found to be running");
            continue;
        }
        if (trimSpaces(notRunning).empty())
            notRunning = name;
        else
            notRunning += "," + name;
        PblSubWriteLog(ctx, "INF :" + name + "  Service found to be not running");
        someDown = true;
    }
    return someDown;
}

}  // namespace quillet
