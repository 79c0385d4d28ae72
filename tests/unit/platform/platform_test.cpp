#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <functional>

#include "platform/activity_log.h"
#include "platform/ini.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/services.h"
#include "platform/status_report.h"
#include "support/fake_system.h"

namespace quillet {
namespace {

using testing::FakeRun;
using Lines = std::vector<std::string>;

TEST(ActivityLog, RemovesCrLfPairsButKeepsLoneBreaks) {
    FakeRun f;
    PblSubWriteLog(f.ctx, "a\r\nb\nc\rd\r\r\ne\n\r");
    EXPECT_EQ(f.read("ApplicationLog\\MNStatusLog.txt"),
              "12/05/2026 04:13:01\tab\nc\rd\re\n\r\r\n");
}

TEST(ActivityLog, LinesAreWholeOrAbsentOnAFullDisk) {
    // The file size limit stands in for a disk that fills in the middle of a
    // line: the write takes what fits, then fails.
    FakeRun f;
    const std::string log = "ApplicationLog\\MNStatusLog.txt";
    PblSubWriteLog(f.ctx, "INF : before");
    const std::string before = f.read(log);
    rlimit saved{};
    getrlimit(RLIMIT_FSIZE, &saved);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = before.size() + 10;
    setrlimit(RLIMIT_FSIZE, &small);
    PblSubWriteLog(f.ctx, "INF : a line longer than the room left on the disk");
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(f.read(log), before);
    PblSubWriteLog(f.ctx, "INF : after");
    EXPECT_EQ(f.read(log), before + "12/05/2026 04:13:01\tINF : after\r\n");
}

const std::string kFile = "C:\\Agents\\KORBOD\\Configuration\\Test.ini";

TEST(IniAccess, ReadersCutAtTheirBuffers) {
    FakeRun f;
    f.writeFile("Configuration\\Test.ini", "[S]\r\nk=" + std::string(5000, 'v') + "\r\n");
    EXPECT_EQ(ReadIniString(f.ctx, "S", "k", kFile), std::string(4999, 'v'));
    EXPECT_EQ(GetKeyValue(f.ctx, "s", "K", kFile), std::string(254, 'v'));
}

TEST(TrappedFailure, IsLoggedByTheProcedureThatMetItAndTheRunGoesOn) {
    const struct {
        const char* fault;  // the operation that throws, on kFile
        std::function<std::string(Context&)> call;
        std::string result, line;
    } cases[] = {
        {"iniGetString", [](Context& c) { return GetKeyValue(c, "S", "k", kFile); }, "",
         "ERR : Error Source : GetKeyValue(),Error Number : 5,Desc:Access is denied."},
        {"iniWriteThrow",
         [](Context& c) { return SetKeyValue(c, "S", "k", "new", kFile) ? "refused" : ""; }, "",
         "ERR : Error Source : SetKeyValue(),Error Number : 5,Desc:Access is denied."},
        {"activeServiceNames",
         [](Context& c) { return IsServiceRunning(c, "KORBGuard") ? "running" : "down"; }, "down",
         "ERR : Error while checking service. Error No.: 5, Error Description : Access is "
         "denied., Source = IsServiceRunning()"},
    };
    for (const auto& c : cases) {
        FakeRun f;
        std::ofstream(f.root + "/services") << "KORBGuard\trunning\n";
        f.writeFile("Configuration\\Test.ini", "[S]\r\nk=old\r\n");
        f.os.failOn(c.fault, std::string(c.fault) == "activeServiceNames" ? "" : kFile);
        EXPECT_EQ(c.call(f.ctx), c.result) << c.fault;
        EXPECT_EQ(f.logMessages(), Lines{c.line}) << c.fault;
        EXPECT_EQ(f.read("Configuration\\Test.ini"), "[S]\r\nk=old\r\n") << c.fault;
    }
}

TEST(ExecuteAndWait, EndsAProgramThatOutlastsItsTimeOutAndSaysWhy) {
    FakeRun f;
    // The program says who it is, then sleeps far past the time-out.
    f.writeFile("Sleeper.exe", "#!/bin/sh\necho $$ > \"$0.pid\"\nexec sleep 60\n");
    chmod(f.hostFile("Sleeper.exe").c_str(), 0755);
    std::string number = "x", text = "x";
    std::uint32_t timeoutMs = 1000;
    EXPECT_FALSE(
        ExecuteAndWait(f.ctx, f.install + "Sleeper.exe", "Local", number, text, timeoutMs));
    EXPECT_EQ(number, "258");
    EXPECT_EQ(text, "The wait operation timed out.");
    EXPECT_EQ(timeoutMs, 1000u);
    const pid_t pid = std::stoi(f.read("Sleeper.exe.pid"));
    const bool ended = kill(pid, 0) != 0 && errno == ESRCH;
    if (!ended) kill(pid, SIGKILL);
    EXPECT_TRUE(ended) << "the program still runs";
}

TEST(RegistryConversion, GivesTheTextTheRunSees) {
    struct Case {
        const char* value;  // a REGEDIT4 value of "Probe"
        const char* text;
    } cases[] = {
        {"hex:ff,ff", "-1"},  // the low word, signed
        {"hex:01,00,01,00", "1"},
        {"hex:", "0"},
        {"hex(1):", "0"},  // a string without data is not set
        {"hex(b):34,32,00,00,00,00,00,00", "42"},
    };
    for (const auto& c : cases) {
        FakeRun f;
        f.registry(std::string("[HKEY_LOCAL_MACHINE\\Software\\KORBOD]\n\"Probe\"=") + c.value +
                   "\n");
        EXPECT_EQ(GetRegistryValue(f.ctx, HKEY_LOCAL_MACHINE_HIVE, "Software\\KORBOD\\", "Probe"),
                  c.text)
            << c.value;
    }
}

TEST(StatusReport, IsWholeWithItsDescOnOneLineThenPausesOrIsLoggedAndLeftOut) {
    // Refused after so many of its writes (as on a full disk), not even
    // created (-1), or written whole (7: all its writes go through).
    const std::string name = "PMStatus\\12345_Quillet_20261205041301.ini";
    for (const int allowed : {0, 3, 6, -1, 7}) {
        FakeRun f;
        if (allowed >= 0)
            f.os.failOn("iniWriteString", name, allowed);
        else
            f.os.failOn("appendToFile", ".ini");
        const std::time_t start = f.os.clock;
        f.run.statusDescription = "bad\r\n[STATUS_INFO]\r\nLastRunStatusCode=Success";
        PriSubGeneratePID(f.ctx, "Failed", f.run.statusDescription, "X");
        const bool whole = allowed == 7;
        const std::string error = allowed >= 0 ? "112, Error Description : There is not enough "
                                                 "space on the disk."
                                               : "5, Error Description : Access is denied.";
        EXPECT_EQ(f.logMessages(), whole ? Lines{}
                                         : Lines{"ERR : Error while generating PID. Error No.: " +
                                                 error + ", Source = PriSubGeneratePID()"})
            << allowed;
        // No partial report is left for the agent to upload.
        EXPECT_EQ(f.reportFiles().size(), whole ? 1u : 0u) << allowed;
        // Month before day, the hour without a leading zero.
        EXPECT_EQ(f.read(name).find("\r\nDesc=bad[STATUS_INFO]LastRunStatusCode=Success\r\nPID=X"
                                    "\r\nSysID=\r\nLastRunDateTime=12/05/2026 4:13:01\r\n") !=
                      std::string::npos,
                  whole);
        EXPECT_EQ(f.os.clock - start, whole ? 2 : 0) << "the 2 s pause after a whole report";
        EXPECT_EQ(f.run.statusDescription, "");
    }
}

}  // namespace
}  // namespace quillet
