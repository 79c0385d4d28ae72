#include "platform/process.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "run/main_run.h"
#include "support/fake_system.h"

namespace quillet {
namespace {

using testing::FakeRun;
using Lines = std::vector<std::string>;

void writeScript(const std::string& hostPath, const std::string& body) {
    std::filesystem::create_directories(std::filesystem::path(hostPath).parent_path());
    std::ofstream(hostPath) << "#!/bin/sh\n" << body << "\n";
    chmod(hostPath.c_str(), 0755);
}

TEST(ShellWait, GivesTheExitCodeOfTheProgramFoundOnTheMachine) {
    FakeRun f;
    writeScript(f.machine.path() + "/bin/tool", "exit 7");
    EXPECT_EQ(ShellWait(f.ctx, "tool /s \"C:\\a b\\c.dll\"", 0), std::optional<std::uint32_t>(7));
    EXPECT_FALSE(f.exists("ApplicationLog\\MNStatusLog.txt"));
}

TEST(ShellWait, ExitCode259IsAnEndLikeAnyOther) {
    FakeRun f;
    writeScript(f.machine.path() + "/bin/tool",
                "exit 3");  // sh keeps 8 bits; 259 is a Windows case
    EXPECT_EQ(ShellWait(f.ctx, "tool", 0), std::optional<std::uint32_t>(3));
}

TEST(ShellWait, RetriesThroughTheCommandInterpreterOnce) {
    FakeRun f;
    // "exit" is no program anywhere, only a word of the command interpreter.
    EXPECT_EQ(ShellWait(f.ctx, "exit 4", 0), std::optional<std::uint32_t>(4));
    EXPECT_EQ(f.logMessages(),
              Lines{"ERR : Error Source:ShellWait(),Desc:No such file or directory"});
}

TEST(ExecuteAndWait, EndsAProgramThatOutlivesItsTimeout) {
    FakeRun f;
    writeScript(f.hostFile("Slow.exe"), "sleep 30");
    std::string number = "x", text = "y";
    std::uint32_t timeout = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ExecuteAndWait(f.ctx, f.install + "Slow.exe", "Local", number, text, timeout));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(number, "258");
    EXPECT_EQ(text, "The wait operation timed out.");
    EXPECT_EQ(f.logMessages(),
              Lines{"MSG : Execution Path & Parameters : C:\\Agents\\KORBOD\\Slow.exe Local"});
}

TEST(ExecuteAndWait, ZeroTimeoutWaitsWithoutLimitAndTellsTheCaller) {
    FakeRun f;
    writeScript(f.hostFile("Quick.exe"), "[ \"$1\" = Local ] || exit 1; exit 0");
    std::string number = "x", text = "y";
    std::uint32_t timeout = 0;
    EXPECT_TRUE(ExecuteAndWait(f.ctx, f.install + "Quick.exe", "Local", number, text, timeout));
    EXPECT_EQ(timeout, 0xFFFFFFFFu);
    EXPECT_EQ(number, "");
    EXPECT_EQ(text, "");
}

TEST(ExecuteAndWait, MissingProgramFailsWithMinusOneAndNoText) {
    FakeRun f;
    std::string number, text;
    std::uint32_t timeout = 0;
    EXPECT_FALSE(ExecuteAndWait(f.ctx, f.install + "Parvix.exe", "Local", number, text, timeout));
    EXPECT_EQ(number, "-1");
    EXPECT_EQ(text, "");
}

TEST(LogparserRegistration, QuotesThePathAndReportsAFailedRegistration) {
    struct Case {
        const char* regsvr32;  // script body; nullptr: no regsvr32 anywhere on the machine
        Lines lines;
    } cases[] = {
        {"[ \"$2\" = 'C:\\Agents\\KORBOD\\Logparser.dll' ] && exit 0; exit 3",
         {"INF : Registering Logparser.dll using path : regsvr32 /s "
          "\"C:\\Agents\\KORBOD\\Logparser.dll\"",
          "INF : Registered Logparser.dll successfully"}},
        {"exit 5",
         {"INF : Registering Logparser.dll using path : regsvr32 /s "
          "\"C:\\Agents\\KORBOD\\Logparser.dll\"",
          "ERR : Failed to register Logparser.dll. Exit code : 5"}},
        // Nothing can be started at all: neither regsvr32 nor the interpreter.
        {nullptr,
         {"INF : Registering Logparser.dll using path : regsvr32 /s "
          "\"C:\\Agents\\KORBOD\\Logparser.dll\"",
          "ERR : Error Source:ShellWait(),Desc:The system cannot find the file specified.",
          "ERR : Error Source:ShellWait(),Desc:The system cannot find the file specified.",
          "ERR : Failed to register Logparser.dll. regsvr32 could not be started"}},
    };
    for (const auto& c : cases) {
        FakeRun f;
        f.writeFile("Logparser.dll", "MZ");
        if (c.regsvr32)
            writeScript(f.machine.path() + "/bin/regsvr32", c.regsvr32);
        else
            f.os.failOn("startCommandLine", "Logparser.dll\"", 2,
                        "The system cannot find the file specified.");
        f.os.command = "FOO";
        Main(f.ctx);
        const Lines log = f.logMessages();
        ASSERT_GE(log.size(), 2 + c.lines.size());
        EXPECT_EQ(Lines(log.begin() + 2, log.begin() + 2 + static_cast<long>(c.lines.size())),
                  c.lines);
    }
}

}  // namespace
}  // namespace quillet
