#include "run/main_run.h"

#include <gtest/gtest.h>

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

}  // namespace
}  // namespace quillet
