#include "run/main_run.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "support/fake_system.h"
#include "support/param_name.h"

namespace quillet {
namespace {

using testing::FakeRun;
using Lines = std::vector<std::string>;

const std::string kStarted = "INF : Quillet utility started ************************************";
const std::string kFinished = "INF : Quillet utility finished ************************************";
const std::string kGate = "INF : Invalid command-line parameter passed or not a valid agent type.";

// True when `wanted` appears in `lines` in order (other lines may stand between).
::testing::AssertionResult inOrder(const Lines& lines, const Lines& wanted) {
    std::size_t at = 0;
    for (const auto& line : lines)
        if (at < wanted.size() && line == wanted[at]) ++at;
    if (at == wanted.size()) return ::testing::AssertionSuccess();
    std::string all;
    for (const auto& l : lines) all += "\n  " + l;
    return ::testing::AssertionFailure()
           << "missing \"" << wanted[at] << "\" in order; log:" << all;
}

TEST(RunStart, InstallPathShorterThanNineCharactersEndsWithoutATrace) {
    struct Case {
        const char* path;
        bool runs;
    } cases[] = {
        {"C:\\Agents", true}, {"C:\\Agent", false}, {" C:\\Agen ", false}, {nullptr, false}};
    for (const auto& c : cases) {
        FakeRun f;
        f.os.setString("Software\\KORBOD", "InstallationPath", c.path ? c.path : "");
        f.os.command = "TYPE";
        const RunEnd end = Main(f.ctx);
        EXPECT_EQ(end == RunEnd::NoInstallPath, !c.runs) << (c.path ? c.path : "(missing)");
        if (!c.runs) {
            EXPECT_TRUE(f.os.calls.empty())
                << "wrote something for " << (c.path ? c.path : "(missing)");
            EXPECT_EQ(exitStatus(end, f.run), 2);
        } else {
            std::ifstream in(f.os.hostPath("C:\\Agents\\ApplicationLog\\MNStatusLog.txt"));
            EXPECT_TRUE(in.good()) << "a 9-character path gets its backslash and its log";
        }
    }
}

TEST(RunStart, LogLargerThanTwoMegabytesIsDeletedBeforeTheFirstLine) {
    for (const std::size_t size : {std::size_t{2097152}, std::size_t{2097153}}) {
        FakeRun f;
        f.writeFile("ApplicationLog\\MNStatusLog.txt", std::string(size, 'x'));
        f.os.command = "FOO";
        Main(f.ctx);
        const std::string log = f.read("ApplicationLog\\MNStatusLog.txt");
        if (size == 2097152) {
            EXPECT_EQ(log.compare(0, size, std::string(size, 'x')), 0) << "kept and appended to";
            EXPECT_GT(log.size(), size);
        } else {
            EXPECT_EQ(f.logMessages().front(), kStarted) << "new log starts with the banner";
        }
    }
}

TEST(RunStart, FailureInTheRunsOwnStepsEndsTheRunThroughItsTrap) {
    FakeRun f;
    f.writeFile("ApplicationLog\\MNStatusLog.txt", std::string(2097153, 'x'));
    f.os.failOn("deleteFile", "MNStatusLog.txt", 32,
                "The process cannot access the file because it is being used by another process.");
    const RunEnd end = Main(f.ctx);
    EXPECT_EQ(end, RunEnd::Trapped);
    EXPECT_EQ(exitStatus(end, f.run), 3);
    const Lines lines = f.logMessages();
    EXPECT_EQ(lines.back(),
              "ERR : Error while executing Quillet utility. Error No: 32, Error Description : The "
              "process cannot access the file because it is being used by another process., "
              "Source=Main()");
    EXPECT_EQ(std::count(lines.begin(), lines.end(), kStarted), 0);
}

struct GateCase {
    const char* what;
    const char* type;  // nullptr: no Type value
    const char* command;
    RunEnd end;
    Lines expected;  // in order
    Lines absent;
};

class RunGates : public ::testing::TestWithParam<GateCase> {};

TEST_P(RunGates, ChoosesTheRightBranch) {
    const GateCase& c = GetParam();
    FakeRun f;
    if (c.type)
        f.os.setString("Software\\KORBOD", "Type", c.type);
    else
        f.os.setString("Software\\KORBOD", "Type", "");
    f.os.command = c.command;
    EXPECT_EQ(Main(f.ctx), c.end) << c.what;
    const Lines lines = f.logMessages();
    EXPECT_TRUE(inOrder(lines, c.expected)) << c.what;
    for (const auto& line : c.absent)
        EXPECT_EQ(std::count(lines.begin(), lines.end(), line), 0) << c.what << ": " << line;
}

const std::string kTova1 = "INF : Deleting data files for TOVA Agent";
const std::string kTova2 = "INF : Deleting data files from Tarsel for TOVA Agent";
const std::string kHealth = "INF : Start Agent Health Check...";
const std::string kHealthServices = "INF : Agent Health Check :: Checking status of services";
const std::string kNoDll = "INF : File not found - C:\\Agents\\KORBOD\\Logparser.dll";

INSTANTIATE_TEST_SUITE_P(
    Branches, RunGates,
    ::testing::Values(
        GateCase{"LOG on a TOVA agent",
                 "TOVA",
                 "LOG",
                 RunEnd::TypeGate,
                 {kStarted, "INF : Command-line parameters received as - LOG", kTova1, kTova2,
                  kGate, kFinished},
                 {"INF : Deleting log files"}},
        GateCase{"lower-case health check on a TOVA agent",
                 " tova",
                 "agthlthchk",
                 RunEnd::HealthCheck,
                 {kTova1, kTova2, kHealth, kHealthServices, kFinished},
                 {kGate, "MSG : Getting \\KORBOD folder size..."}},
        GateCase{"health check on an agent without type",
                 nullptr,
                 "AGTHLTHCHK",
                 RunEnd::HealthCheck,
                 {kHealth, kHealthServices, kFinished},
                 {kTova1, kGate}},
        GateCase{"health check with a leading blank is a task word",
                 "RULK",
                 " AGTHLTHCHK",
                 RunEnd::Closed,
                 {"INF : Command-line parameters received as -  AGTHLTHCHK", kNoDll,
                  kHealthServices, "MSG : Getting \\KORBOD folder size...", kFinished},
                 {kHealth}},
        GateCase{"missing type ends at the gate",
                 nullptr,
                 "",
                 RunEnd::TypeGate,
                 {kGate, kFinished},
                 {kTova1, kNoDll}},
        GateCase{
            "unknown type ends at the gate", "XYZ", "", RunEnd::TypeGate, {kGate, kFinished}, {}},
        GateCase{"a trailing blank fails the untrimmed gate",
                 "RULK ",
                 "TYPE",
                 RunEnd::TypeGate,
                 {kGate, kFinished},
                 {kNoDll}},
        GateCase{"lower-case rulk passes the gate",
                 "rulk",
                 "TYPE",
                 RunEnd::Closed,
                 {kNoDll, "INF : Agent type check completed", kFinished},
                 {kGate}},
        GateCase{
            "blank command line is the default run",
            "RULK",
            "   ",
            RunEnd::Closed,
            {"INF : Command-line parameters received as -    ", kNoDll, "INF : Deleting log files",
             "INF : Deleting data files", "INF : Deleting data files from Tarsel",
             "INF : Synchronising DeviceList.ini file", "INF : Checking status of services",
             "INF : Agent type check completed", "MSG : Getting \\KORBOD folder size...",
             kFinished},
            {"INF : Alert Ticket folder not found", kHealthServices}},
        GateCase{"task words run in their order, repeated, empty and unknown skipped",
                 "RULK",
                 " log , data,,FOO,log,TYPE",
                 RunEnd::Closed,
                 {"INF : Deleting log files", "INF : Deleting data files",
                  "INF : Deleting log files", "INF : Agent type check completed", kFinished},
                 {"INF : Deleting data files from Tarsel"}},
        GateCase{"ALERT and SRV words",
                 "RULK",
                 "alert,srv",
                 RunEnd::Closed,
                 {"INF : Alert Ticket folder not found", "INF : Checking status of services",
                  "INF :KORBTaskSvc  Service found to be not running", kFinished},
                 {}}),
    testing::NameFromWhat{});

TEST(RunServiceCheck, ReportsTheServicesThatAreDownInOneReport) {
    FakeRun f;
    f.os.command = "SRV";
    f.os.services = std::vector<std::string>{"KORBTaskSvc", "korbremctl",  "KORBSrvExt",
                                             "KORBAssist",  "KORBKeySafe", "Spooler"};
    const RunEnd end = Main(f.ctx);
    const Lines lines = f.logMessages();
    EXPECT_TRUE(inOrder(
        lines,
        {"INF : Checking status of services", "INF : Service found to be running",
         "INF :KORBMonCtl  Service found to be not running", "INF : Service found to be running",
         "INF : Service found to be running", "INF :KORBGuard  Service found to be not running",
         "INF : Service found to be running", "INF : Service found to be running"}));
    EXPECT_FALSE(f.run.overallStatusOK);
    EXPECT_EQ(exitStatus(end, f.run), 1);
    const auto reports = f.reportFiles();
    ASSERT_EQ(reports.size(), 2u) << "the services report and the closing report";
    EXPECT_NE(f.read("PMStatus\\" + reports[0]).find("Desc=KORBMonCtl,KORBGuard Not started\r\n"),
              std::string::npos);
    EXPECT_NE(f.read("PMStatus\\" + reports[1]).find("LastRunStatusCode=Failed\r\n"),
              std::string::npos);
}

TEST(RunServiceCheck, AllRunningWritesNoServiceReport) {
    FakeRun f;
    f.os.command = "SRV";
    f.os.services =
        std::vector<std::string>{"KORBTaskSvc", "KORBMonCtl", "KORBRemCtl", "KORBSrvExt",
                                 "KORBGuard",   "KORBAssist", "KORBKeySafe"};
    const RunEnd end = Main(f.ctx);
    EXPECT_EQ(exitStatus(end, f.run), 0);
    ASSERT_EQ(f.reportFiles().size(), 1u);
    EXPECT_NE(f.read("PMStatus\\" + f.reportFiles()[0]).find("PID=MN Status Check\r\n"),
              std::string::npos);
}

}  // namespace
}  // namespace quillet
