#include "platform/activity_log.h"

#include "core/clock_text.h"
#include "core/error_line.h"
#include "platform/registry.h"

namespace quillet {

namespace {
std::string withoutCrLfPairs(const std::string& message) {
    std::string out;
    out.reserve(message.size());
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') {
            ++i;
            continue;
        }
        out += message[i];
    }
    return out;
}
}  // namespace

void PblSubWriteLog(Context& ctx, const std::string& message) noexcept {
    // Each step goes on whatever the previous one did: the log must never stop a run.
    std::string installPath;
    try {
        installPath = agentInstallPath(ctx);
    } catch (...) {
    }
    try {
        ctx.os.makeSureDirectoryPathExists(installPath + agent::kLogFolder);
    } catch (...) {
    }
    try {
        std::string stamp;
        try {
            stamp = logTimestamp(ctx.os.now(), ctx.os.timeSeparator());
        } catch (...) {
        }
        ctx.os.appendToFile(installPath + agent::kActivityLog,
                            stamp + "\t" + withoutCrLfPairs(message) + "\r\n");
    } catch (...) {
        if (ctx.run.logLost.empty()) {
            const CaughtError e = describeCurrentException();
            ctx.run.logLost = std::to_string(e.number) + ", " + e.description;
        }
    }
}

}  // namespace quillet
