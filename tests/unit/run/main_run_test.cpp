#include "run/main_run.h"

#include <gtest/gtest.h>

#include <fstream>
#include <functional>

#include "support/fake_system.h"

namespace quillet {
namespace {

// A failure in the run's own steps ends it through its trap; the ends that
// the activity log cannot show leave one event, other ends none.
TEST(RunEnd, TrapExitStatusAndEventsOfEachEnd) {
    const auto lockedOversizedLog = [](testing::FakeRun& f) {
        f.writeFile("ApplicationLog\\MNStatusLog.txt", std::string(2097153, 'x'));
        f.os.failOn("deleteFile", "MNStatusLog.txt");
    };
    const struct {
        const char* what;
        std::function<void(testing::FakeRun&)> setUp;
        int status;
        const char* event;    // nullptr: none
        const char* lastLog;  // nullptr: not checked
    } cases[] = {
        {"no install path",
         [](testing::FakeRun& f) { std::ofstream(f.root + "/registry.reg") << "REGEDIT4\n"; }, 2,
         "Quillet exit status 2: no usable install path in "
         "HKEY_LOCAL_MACHINE\\Software\\KORBOD\\InstallationPath, so no activity log",
         nullptr},
        {"locked oversized log", lockedOversizedLog, 3,
         "Quillet exit status 3: ended by a failure: 5, Access is denied.",
         "ERR : Error while executing Quillet utility. Error No: 5, Error Description : "
         "Access is denied., Source=Main()"},
        {"locked oversized log, no line written",
         [&](testing::FakeRun& f) {
             lockedOversizedLog(f);
             f.os.failOn("appendToFile", "MNStatusLog.txt");
         },
         3, "Quillet exit status 3: ended by a failure: 5, Access is denied.", nullptr},
        {"log refused, run otherwise done",
         [](testing::FakeRun& f) { f.os.failOn("appendToFile", "MNStatusLog.txt"); }, 0,
         "Quillet exit status 0: a line of the activity log could not be written: 5, "
         "Access is denied.",
         nullptr},
        {"run done", [](testing::FakeRun&) {}, 0, nullptr,
         "INF : Quillet utility finished "
         "************************************"},
    };
    for (const auto& c : cases) {
        testing::FakeRun f;
        f.run.commandText = "TYPE";
        c.setUp(f);
        EXPECT_EQ(finishRun(f.ctx, Main(f.ctx)), c.status) << c.what;
        using Events = std::vector<std::string>;
        EXPECT_EQ(f.os.events, c.event ? Events{c.event} : Events{}) << c.what;
        if (c.lastLog) {
            EXPECT_EQ(f.logMessages().back(), c.lastLog) << c.what;
        }
    }
}

}  // namespace
}  // namespace quillet
