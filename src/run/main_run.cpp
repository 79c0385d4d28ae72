#include "run/main_run.h"

#include <cstdint>

#include "common/error_line.h"
#include "common/text.h"
#include "devicelist/sync.h"
#include "devicelist/validation.h"
#include "healthcheck/health_check.h"
#include "housekeeping/agent_type.h"
#include "housekeeping/aged_files.h"
#include "housekeeping/alert_tickets.h"
#include "housekeeping/folder_size.h"
#include "platform/activity_log.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/status_report.h"

namespace quillet {

namespace {

const char* const kStartedBanner =
    "INF : Quillet utility started ************************************";
const char* const kFinishedBanner =
    "INF : Quillet utility finished ************************************";
const char* const kDefaultServiceList =
    "KORBTaskSvc,KORBMonCtl,KORBRemCtl,KORBSrvExt,KORBGuard,KORBAssist,KORBKeySafe";
constexpr int kHidden = 0;  // SW_HIDE

// Step S: the agent's seven default services.
void checkDefaultServices(Context& ctx) {
    bool serviceDown = false;
    for (const auto& name : splitAll(kDefaultServiceList, ',')) {
        if (IsServiceRunning(ctx, name)) {
            PblSubWriteLog(ctx, "INF : Service found to be running");
            continue;
        }
        if (trimSpaces(ctx.run.statusDescription).empty())
            ctx.run.statusDescription = name;
        else
            ctx.run.statusDescription += "," + name;
        PblSubWriteLog(ctx, "INF :" + name + "  Service found to be not running");
        serviceDown = true;
    }
    if (serviceDown) {
        ctx.run.statusDescription += " Not started";
        PriSubGeneratePID(ctx, "Failed", ctx.run.statusDescription, "Agent_Services_MNStatus");
        ctx.run.overallStatusOK = false;
    }
}

void registerLogparser(Context& ctx, const std::string& installPath) {
    const std::string library = installPath + "Logparser.dll";
    if (!ctx.os.fileExists(library)) {
        PblSubWriteLog(ctx, "INF : File not found - " + library);
        return;
    }
    // The path is quoted: most install paths hold blanks, and regsvr32 would
    // otherwise be handed only the part before the first one.
    const std::string command = "regsvr32 /s \"" + library + "\"";
    PblSubWriteLog(ctx, "INF : Registering Logparser.dll using path : " + command);
    const auto exitCode = ShellWait(ctx, command, kHidden);
    if (!exitCode)
        PblSubWriteLog(ctx, "ERR : Failed to register Logparser.dll. regsvr32 could not be started");
    else if (*exitCode != 0)
        PblSubWriteLog(ctx, "ERR : Failed to register Logparser.dll. Exit code : " +
                                std::to_string(*exitCode));
    else
        PblSubWriteLog(ctx, "INF : Registered Logparser.dll successfully");
}

void defaultRun(Context& ctx, const std::string& installPath) {
    PblSubWriteLog(ctx, "INF : Deleting log files");
    PriSubDeleteLogs(ctx, installPath + "ApplicationLog\\");
    PblSubWriteLog(ctx, "INF : Deleting data files");
    PriSubDeleteOldData(ctx, installPath + "Datadirectory\\", 14);
    PblSubWriteLog(ctx, "INF : Deleting data files from Tarsel");
    PriSubDeleteOldData(ctx, installPath + "Tarsel\\Datadirectory\\", 14);
    PblSubWriteLog(ctx, "INF : Synchronising DeviceList.ini file");
    PriSubSyncDeviceList(ctx);
    PblSubWriteLog(ctx, "INF : Checking status of services");
    checkDefaultServices(ctx);
    PriSubCheckForAgentType(ctx);
    PriSubValidateDeviceList(ctx);
}

void runTask(Context& ctx, const std::string& installPath, const std::string& word) {
    if (word == "LOG") {
        PblSubWriteLog(ctx, "INF : Deleting log files");
        PriSubDeleteLogs(ctx, installPath + "ApplicationLog\\");
    } else if (word == "DATA") {
        PblSubWriteLog(ctx, "INF : Deleting data files");
        PriSubDeleteOldData(ctx, installPath + "Datadirectory\\", 14);
    } else if (word == "DEVICELIST") {
        PblSubWriteLog(ctx, "INF : Synchronising DeviceList.ini file");
        PriSubSyncDeviceList(ctx);
    } else if (word == "SRV") {
        PblSubWriteLog(ctx, "INF : Checking status of services");
        checkDefaultServices(ctx);
    } else if (word == "ALERT") {
        PriSubCheckAlertTktPending(ctx, installPath + "AlertTkt\\");
    } else if (word == "TYPE") {
        PriSubCheckForAgentType(ctx);
    } else if (word == "CFG") {
        PriSubValidateDeviceList(ctx);
    } else if (word == "AGTHLTHCHK") {
        SubAgtHlthChkSrvcs(ctx);
        PriSubSyncDeviceList(ctx);
        PriSubDeleteOldData(ctx, installPath + "NDatapost\\Error\\", 7);
    }
    // Anything else, an empty word included, is skipped without a line.
}

RunEnd runSteps(Context& ctx) {
    std::string installPath =
        GetRegistryValue(ctx, HKEY_LOCAL_MACHINE_HIVE, kAgentKey, "INSTALLATIONPATH");
    const std::string agentType = GetRegistryValue(ctx, HKEY_LOCAL_MACHINE_HIVE, kAgentKey, "TYPE");

    // Without a usable install path the log's location is unknown: end silently.
    if (ctx.os.characterCount(trimSpaces(installPath)) < 9) return RunEnd::NoInstallPath;
    installPath = withTrailingBackslash(installPath);

    const std::string logFile = installPath + "ApplicationLog\\MNStatusLog.txt";
    if (ctx.os.fileExists(logFile) &&
        static_cast<double>(ctx.os.fileSize(logFile)) / 1024.0 / 1024.0 > 2.0)
        ctx.os.deleteFile(logFile);

    PblSubWriteLog(ctx, kStartedBanner);
    ctx.run.statusDescription.clear();
    ctx.run.overallStatusOK = true;
    ctx.run.commandText = ctx.os.commandText();
    const std::string& commandText = ctx.run.commandText;
    PblSubWriteLog(ctx, "INF : Command-line parameters received as - " + commandText);

    if (upper(trimSpaces(agentType)) == "TOVA") {
        PblSubWriteLog(ctx, "INF : Deleting data files for TOVA Agent");
        PriSubDeleteOldData(ctx, installPath + "Datadirectory\\", 45);
        PblSubWriteLog(ctx, "INF : Deleting data files from Tarsel for TOVA Agent");
        PriSubDeleteOldData(ctx, installPath + "Tarsel\\Datadirectory\\", 45);
    }

    if (upper(commandText) == "AGTHLTHCHK") {
        PblSubWriteLog(ctx, "INF : Start Agent Health Check...");
        SubAgtHlthChkSrvcs(ctx);
        PriSubSyncDeviceList(ctx);
        PriSubDeleteOldData(ctx, installPath + "NDatapost\\Error\\", 7);
        PblSubWriteLog(ctx, kFinishedBanner);
        return RunEnd::HealthCheck;
    }

    // Not trimmed, unlike the TOVA test: a stored "RULK " does not pass.
    if (upper(agentType) != "RULK") {
        PblSubWriteLog(ctx, "INF : Invalid command-line parameter passed or not a valid agent type.");
        PblSubWriteLog(ctx, kFinishedBanner);
        return RunEnd::TypeGate;
    }

    registerLogparser(ctx, installPath);

    if (trimSpaces(commandText).empty()) {
        defaultRun(ctx, installPath);
    } else {
        for (const auto& piece : splitAll(commandText, ','))
            runTask(ctx, installPath, upper(trimSpaces(piece)));
    }

    SubGetFolderSize(ctx, installPath.substr(0, installPath.size() - 1));
    PblSubWriteLog(ctx, kFinishedBanner);
    return RunEnd::Closed;
}

}  // namespace

RunEnd Main(Context& ctx) {
    try {
        return runSteps(ctx);
    } catch (...) {
        const CaughtError e = describeCurrentException();
        PblSubWriteLog(ctx, "ERR : Error while executing Quillet utility. Error No: " +
                                std::to_string(e.number) + ", Error Description : " +
                                e.description + ", Source=Main()");
        return RunEnd::Trapped;
    }
}

int exitStatus(RunEnd end, const RunState& run) {
    switch (end) {
        case RunEnd::NoInstallPath: return 2;
        case RunEnd::Trapped: return 3;
        case RunEnd::Closed:
        case RunEnd::HealthCheck:
        case RunEnd::TypeGate: return run.overallStatusOK ? 0 : 1;
    }
    return 3;
}

}  // namespace quillet
