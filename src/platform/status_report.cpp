#include "platform/status_report.h"

#include "common/clock_text.h"
#include "common/error_line.h"
#include "platform/activity_log.h"
#include "platform/ini.h"
#include "platform/registry.h"

namespace quillet {

void PriSubGeneratePID(Context& ctx, const std::string& status, const std::string& description,
                       const std::string& reportName) {
    try {
        const std::string installPath = agentInstallPath(ctx);
        const std::string regId =
            GetRegistryValue(ctx, HKEY_LOCAL_MACHINE_HIVE, kAgentKey, "RegID");
        const std::string folder = installPath + "PMStatus\\";
        const std::string file = folder + regId + "_Quillet_" + stampYmd(ctx.os.now()) + ".ini";
        ctx.os.makeSureDirectoryPathExists(folder);
        ctx.os.appendToFile(file, "");

        const char* const section = "STATUS_INFO";
        // A refused write is not examined: the next key is written regardless.
        writeProfileString(ctx.os, section, "RegID", regId, file);
        writeProfileString(ctx.os, section, "Desc", status == "SUCCESS" ? "" : description, file);
        writeProfileString(ctx.os, section, "PID", reportName, file);
        writeProfileString(ctx.os, section, "SysID", "", file);
        writeProfileString(ctx.os, section, "LastRunDateTime",
                           reportTimestamp(ctx.os.now(), ctx.os.timeSeparator()), file);
        writeProfileString(ctx.os, section, "NextRunDateTime", "", file);
        writeProfileString(ctx.os, section, "LastRunStatusCode", status, file);
        ctx.os.sleep(2000);
    } catch (...) {
        PblSubWriteLog(ctx, errWhile("generating PID", ": ", describeCurrentException(),
                                     "PriSubGeneratePID"));
    }
    ctx.run.statusDescription.clear();
}

}  // namespace quillet
