#include "platform/status_report.h"

#include "core/clock_text.h"
#include "core/error_line.h"
#include "platform/activity_log.h"
#include "platform/ini.h"
#include "platform/registry.h"

namespace quillet {

void PriSubGeneratePID(Context& ctx, const std::string& status, const std::string& description,
                       const std::string& reportName) {
    std::string file;
    bool created = false;
    try {
        const std::string installPath = agentInstallPath(ctx);
        const std::string regId = agentValue(ctx, agent::kRegIdValue);
        const std::string folder = installPath + agent::kReportFolder;
        file = folder + regId + "_Quillet_" + stampYmd(ctx.os.now()) + ".ini";
        ctx.os.makeSureDirectoryPathExists(folder);
        created = !ctx.os.status(file).exists;
        ctx.os.appendToFile(file, "");

        // A refused write is a failure: the agent would upload what is there.
        const auto write = [&](const char* key, const std::string& value) {
            if (const auto refusal = writeProfileString(ctx.os, "STATUS_INFO", key, value, file))
                throw *refusal;
        };
        write("RegID", regId);
        write("Desc", status == "SUCCESS" ? "" : description);
        write("PID", reportName);
        write("SysID", "");
        write("LastRunDateTime", reportTimestamp(ctx.os.now(), ctx.os.timeSeparator()));
        write("NextRunDateTime", "");
        write("LastRunStatusCode", status);
        ctx.os.sleep(2000);
    } catch (...) {
        PblSubWriteLog(
            ctx, errWhile("generating PID", ": ", describeCurrentException(), "PriSubGeneratePID"));
        // A report this call created and could not finish is deleted again, so
        // that the agent never collects half a report.
        if (created) {
            try {
                ctx.os.deleteFile(file);
            } catch (...) {
            }
        }
    }
    ctx.run.statusDescription.clear();
}

}  // namespace quillet
