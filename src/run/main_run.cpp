#include "run/main_run.h"

#include <cstdint>
#include <iterator>

#include "core/agent.h"
#include "core/error_line.h"
#include "core/text.h"
#include "devicelist/sync.h"
#include "devicelist/validation.h"
#include "healthcheck/health_check.h"
#include "housekeeping/aged_files.h"
#include "housekeeping/agent_type.h"
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

// Step S: the agent's seven default services.
void checkDefaultServices(Context& ctx, const std::string&) {
    if (!checkServiceList(ctx, kDefaultServiceList, ctx.run.statusDescription)) return;
    ctx.run.statusDescription += " Not started";
    PriSubGeneratePID(ctx, "Failed", ctx.run.statusDescription, "Agent_Services_MNStatus");
    ctx.run.overallStatusOK = false;
}

void registerLogparser(Context& ctx, const std::string& installPath) {
    const std::string library = installPath + agent::kLogparser;
    if (!isPlainFile(ctx.os.status(library))) {
        PblSubWriteLog(ctx, "INF : File not found - " + library);
        return;
    }
    // The path is quoted: most install paths hold blanks, and regsvr32 would
    // otherwise be handed only the part before the first one.
    const std::string command = "regsvr32 /s \"" + library + "\"";
    PblSubWriteLog(ctx, "INF : Registering Logparser.dll using path : " + command);
    const auto exitCode = ShellWait(ctx, command);
    if (!exitCode)
        PblSubWriteLog(ctx,
                       "ERR : Failed to register Logparser.dll. regsvr32 could not be started");
    else if (*exitCode != 0)
        PblSubWriteLog(ctx, "ERR : Failed to register Logparser.dll. Exit code : " +
                                std::to_string(*exitCode));
    else
        PblSubWriteLog(ctx, "INF : Registered Logparser.dll successfully");
}

void healthCheckSteps(Context& ctx, const std::string& installPath) {
    SubAgtHlthChkSrvcs(ctx);
    PriSubSyncDeviceList(ctx);
    PriSubDeleteOldData(ctx, installPath + agent::kPostErrorFolder, 7);
}

// The tasks in the order of the default run; a task without a word belongs
// to the default run only, one not in it is reached by its word only.
struct Task {
    const char* word;
    const char* logLine;  // written before the task; nullptr: none
    bool inDefaultRun;
    void (*action)(Context& ctx, const std::string& installPath);
};

const Task kTasks[] = {
    {"LOG", "INF : Deleting log files", true,
     [](Context& ctx, const std::string& path) {
         PriSubDeleteLogs(ctx, path + agent::kLogFolder);
     }},
    {"DATA", "INF : Deleting data files", true,
     [](Context& ctx, const std::string& path) {
         PriSubDeleteOldData(ctx, path + agent::kDataFolder, 14);
     }},
    {nullptr, "INF : Deleting data files from Tarsel", true,
     [](Context& ctx, const std::string& path) {
         PriSubDeleteOldData(ctx, path + agent::kTarselDataFolder, 14);
     }},
    {"DEVICELIST", "INF : Synchronising DeviceList.ini file", true,
     [](Context& ctx, const std::string&) { PriSubSyncDeviceList(ctx); }},
    {"SRV", "INF : Checking status of services", true, checkDefaultServices},
    {"ALERT", nullptr, false,
     [](Context& ctx, const std::string& path) {
         PriSubCheckAlertTktPending(ctx, path + agent::kAlertFolder);
     }},
    {"TYPE", nullptr, true, [](Context& ctx, const std::string&) { PriSubCheckForAgentType(ctx); }},
    {"CFG", nullptr, true, [](Context& ctx, const std::string&) { PriSubValidateDeviceList(ctx); }},
    {agent::kHealthCheckWord, nullptr, false, healthCheckSteps},
};

void runTask(Context& ctx, const Task& task, const std::string& installPath) {
    if (task.logLine) PblSubWriteLog(ctx, task.logLine);
    task.action(ctx, installPath);
}

RunEnd runSteps(Context& ctx) {
    std::string installPath = agentValue(ctx, agent::kInstallPathValue);
    const std::string agentType = agentValue(ctx, agent::kTypeValue);

    // Without a usable install path the log's location is unknown: end silently.
    if (ctx.os.characterCount(trimSpaces(installPath)) < 9) return RunEnd::NoInstallPath;
    installPath = withTrailingBackslash(installPath);
    ctx.os.confineWritesTo(installPath,
                           {std::begin(agent::kLayoutFolders), std::end(agent::kLayoutFolders)});

    const std::string logFile = installPath + agent::kActivityLog;
    const os::PathStatus log = ctx.os.status(logFile);
    if (isPlainFile(log) && mebibytes(log.size) > 2.0) ctx.os.deleteFile(logFile);

    PblSubWriteLog(ctx, kStartedBanner);
    ctx.run.statusDescription.clear();
    ctx.run.overallStatusOK = true;
    const std::string& commandText = ctx.run.commandText;
    PblSubWriteLog(ctx, "INF : Command-line parameters received as - " + commandText);

    if (upper(trimSpaces(agentType)) == "TOVA") {
        PblSubWriteLog(ctx, "INF : Deleting data files for TOVA Agent");
        PriSubDeleteOldData(ctx, installPath + agent::kDataFolder, 45);
        PblSubWriteLog(ctx, "INF : Deleting data files from Tarsel for TOVA Agent");
        PriSubDeleteOldData(ctx, installPath + agent::kTarselDataFolder, 45);
    }

    if (upper(commandText) == agent::kHealthCheckWord) {
        PblSubWriteLog(ctx, "INF : Start Agent Health Check...");
        healthCheckSteps(ctx, installPath);
        PblSubWriteLog(ctx, kFinishedBanner);
        return RunEnd::HealthCheck;
    }

    // Not trimmed, unlike the TOVA test: a stored "RULK " does not pass.
    if (upper(agentType) != "RULK") {
        PblSubWriteLog(ctx,
                       "INF : Invalid command-line parameter passed or not a valid agent type.");
        PblSubWriteLog(ctx, kFinishedBanner);
        return RunEnd::TypeGate;
    }

    registerLogparser(ctx, installPath);

    if (trimSpaces(commandText).empty()) {
        for (const Task& task : kTasks)
            if (task.inDefaultRun) runTask(ctx, task, installPath);
    } else {
        // Anything but a task word, an empty word included, is skipped without a line.
        for (const auto& piece : splitAll(commandText, ',')) {
            const std::string word = upper(trimSpaces(piece));
            for (const Task& task : kTasks)
                if (task.word && word == task.word) runTask(ctx, task, installPath);
        }
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
        ctx.run.failure = std::to_string(e.number) + ", " + e.description;
        PblSubWriteLog(ctx, "ERR : Error while executing Quillet utility. Error No: " +
                                std::to_string(e.number) +
                                ", Error Description : " + e.description + ", Source=Main()");
        return RunEnd::Trapped;
    }
}

int exitStatus(RunEnd end, const RunState& run) {
    switch (end) {
        case RunEnd::NoInstallPath:
            return 2;
        case RunEnd::Trapped:
            return 3;
        case RunEnd::Closed:
        case RunEnd::HealthCheck:
        case RunEnd::TypeGate:
            return run.overallStatusOK && !run.healthCheckFailed ? 0 : 1;
    }
    return 3;
}

int finishRun(Context& ctx, RunEnd end) {
    const int status = exitStatus(end, ctx.run);
    std::string reason;
    if (end == RunEnd::NoInstallPath)
        reason = std::string("no usable install path in HKEY_LOCAL_MACHINE\\") + agent::kKey +
                 agent::kInstallPathValue + ", so no activity log";
    else if (end == RunEnd::Trapped)
        reason = "ended by a failure: " + ctx.run.failure;
    else if (!ctx.run.logLost.empty())
        reason = "a line of the activity log could not be written: " + ctx.run.logLost;
    if (!reason.empty())
        ctx.os.reportEvent("Quillet exit status " + std::to_string(status) + ": " + reason);
    return status;
}

}  // namespace quillet
