#include "run/main_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "support/fake_system.h"

namespace quillet {
namespace {

TEST(RunStart, FailureInTheRunsOwnStepsEndsTheRunThroughItsTrap) {
    testing::FakeRun f;
    f.writeFile("ApplicationLog\\MNStatusLog.txt", std::string(2097153, 'x'));
    f.os.failOn("deleteFile", "MNStatusLog.txt");
    const RunEnd end = Main(f.ctx);
    EXPECT_EQ(exitStatus(end, f.run), 3);
    EXPECT_EQ(f.logMessages().back(),
              "ERR : Error while executing Quillet utility. Error No: 5, Error Description : "
              "Access is denied., Source=Main()");
}

// The ends that the activity log cannot show leave one event; others none.
TEST(RunEnd, OnlyEndsTheLogCannotShowLeaveAnEvent) {
    const struct {
        const char* what;
        std::function<void(testing::FakeRun&)> setUp;
        int status;
        const char* event;  // nullptr: none
    } cases[] = {
        {"no install path",
         [](testing::FakeRun& f) {
             const std::string file = f.machine.path + "/registry.reg";
             std::ofstream(file + ".new") << "REGEDIT4\n\n";
             std::rename((file + ".new").c_str(), file.c_str());
         },
         2,
         "Quillet exit status 2: no usable install path in "
         "HKEY_LOCAL_MACHINE\\Software\\KORBOD\\InstallationPath, so no activity log"},
        {"locked oversized log",
         [](testing::FakeRun& f) {
             f.writeFile("ApplicationLog\\MNStatusLog.txt", std::string(2097153, 'x'));
             f.os.failOn("deleteFile", "MNStatusLog.txt");
             f.os.failOn("appendToFile", "MNStatusLog.txt");
         },
         3, "Quillet exit status 3: ended by a failure: 5, Access is denied."},
        {"log refused, run otherwise done",
         [](testing::FakeRun& f) { f.os.failOn("appendToFile", "MNStatusLog.txt"); }, 0,
         "Quillet exit status 0: a line of the activity log could not be written"},
        {"run done", [](testing::FakeRun&) {}, 0, nullptr},
    };
    for (const auto& c : cases) {
        testing::FakeRun f;
        f.os.command = "TYPE";
        c.setUp(f);
        EXPECT_EQ(finishRun(f.ctx, Main(f.ctx)), c.status) << c.what;
        if (c.event)
            EXPECT_EQ(f.os.events, std::vector<std::string>{c.event}) << c.what;
        else
            EXPECT_TRUE(f.os.events.empty()) << c.what;
    }
}

}  // namespace
}  // namespace quillet
