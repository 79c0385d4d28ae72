#include "platform/status_report.h"

#include <gtest/gtest.h>

#include "support/fake_system.h"

namespace quillet {
namespace {

using testing::FakeRun;

TEST(StatusReport, WritesTheSevenKeysInOrderAndPauses) {
    struct Case {
        const char* status;
        const char* description;
        const char* desc;  // what Desc holds
    } cases[] = {
        {"Failed", "KORBGuard Not started", "KORBGuard Not started"},
        {"Success", "Files in alert ticket folder - 101", "Files in alert ticket folder - 101"},
        {"SUCCESS", "dropped for the upper-case word", ""},
    };
    for (const auto& c : cases) {
        FakeRun f;
        f.os.clock = {2026, 12, 5, 4, 13, 1};
        f.run.statusDescription = c.description;
        PriSubGeneratePID(f.ctx, c.status, c.description, "Agent_Services_MNStatus");
        ASSERT_EQ(f.reportFiles(), std::vector<std::string>{"12345_Quillet_20261205041301.ini"});
        EXPECT_EQ(f.read("PMStatus\\12345_Quillet_20261205041301.ini"),
                  std::string("[STATUS_INFO]\r\nRegID=12345\r\nDesc=") + c.desc +
                      "\r\nPID=Agent_Services_MNStatus\r\nSysID=\r\nLastRunDateTime=12/05/2026 "
                      "4:13:01\r\nNextRunDateTime=\r\nLastRunStatusCode=" +
                      c.status + "\r\n");
        EXPECT_EQ(f.os.sleeps, std::vector<std::uint32_t>{2000});
        EXPECT_EQ(f.run.statusDescription, "");
    }
}

TEST(StatusReport, TwoReportsOfOneRunNeverShareAName) {
    FakeRun f;
    PriSubGeneratePID(f.ctx, "Failed", "one", "Agent_Services_MNStatus");
    PriSubGeneratePID(f.ctx, "Success", "two", "MN Status Check");
    EXPECT_EQ(f.reportFiles(), (std::vector<std::string>{"12345_Quillet_20261205041301.ini",
                                                         "12345_Quillet_20261205041303.ini"}));
}

TEST(StatusReport, MissingRegIdNamesTheFileZero) {
    FakeRun f;
    f.os.setString("Software\\KORBOD", "RegID", " ");
    PriSubGeneratePID(f.ctx, "Failed", "x", "MN Status Check");
    ASSERT_EQ(f.reportFiles(), std::vector<std::string>{"0_Quillet_20261205041301.ini"});
    EXPECT_NE(f.read("PMStatus\\0_Quillet_20261205041301.ini").find("\r\nRegID=0\r\n"),
              std::string::npos);
}

TEST(StatusReport, ADescriptionCannotAddKeysOrSections) {
    FakeRun f;
    PriSubGeneratePID(f.ctx, "Failed", "bad\r\n[STATUS_INFO]\r\nLastRunStatusCode=Success", "X");
    const std::string text = f.read("PMStatus\\12345_Quillet_20261205041301.ini");
    EXPECT_NE(text.find("\r\nDesc=bad[STATUS_INFO]LastRunStatusCode=Success\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("\r\nLastRunStatusCode=Failed\r\n"), std::string::npos);
}

TEST(StatusReport, AFailureIsLoggedAndSkipsThePause) {
    FakeRun f;
    f.os.failOn("appendToFile", ".ini", 5, "Access is denied.");
    f.run.statusDescription = "pending";
    PriSubGeneratePID(f.ctx, "Failed", "pending", "MN Status Check");
    EXPECT_EQ(f.logMessages(),
              std::vector<std::string>{
                  "ERR : Error while generating PID. Error No.: 5, Error Description : "
                  "Access is denied., Source = PriSubGeneratePID()"});
    EXPECT_TRUE(f.os.sleeps.empty());
    EXPECT_EQ(f.run.statusDescription, "");
}

TEST(StatusReport, AReportThatCannotBeCompletedIsRemoved) {
    for (const int allowed : {0, 3, 6}) {
        FakeRun f;
        f.os.refuseIniWrites("PMStatus\\12345_Quillet_20261205041301.ini", allowed);
        PriSubGeneratePID(f.ctx, "Failed", "pending", "MN Status Check");
        EXPECT_EQ(
            f.logMessages(),
            std::vector<std::string>{"ERR : Error while generating PID. Error No.: 112, Error "
                                     "Description : There is not enough space on the disk., Source "
                                     "= PriSubGeneratePID()"})
            << allowed;
        EXPECT_TRUE(f.reportFiles().empty()) << "no partial report is left for the agent";
        EXPECT_TRUE(f.os.sleeps.empty());
    }
}

}  // namespace
}  // namespace quillet
