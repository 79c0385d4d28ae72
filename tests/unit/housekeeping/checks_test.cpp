#include <gtest/gtest.h>

#include <filesystem>

#include "housekeeping/agent_type.h"
#include "housekeeping/alert_tickets.h"
#include "housekeeping/folder_size.h"
#include "support/fake_system.h"

namespace quillet {
namespace {

using testing::FakeRun;
using Lines = std::vector<std::string>;

TEST(AgentTypeCheck, ReportsMissingAndUnknownEditions) {
    struct Case {
        std::string type;
        std::string line;        // the one log line
        std::string reportDesc;  // "" when no report
    } cases[] = {
        {"", "ERR : Agent type missing in registry", "Agent type missing"},
        {"   ", "ERR : Agent type missing in registry", "Agent type missing"},
        {" 0 ", "ERR : Agent type missing in registry", "Agent type missing"},
        {"tova", "INF : Agent type check completed", ""},
        {" Rulk ", "INF : Agent type check completed", ""},
        {"XYZ", "ERR : Invalid agent type found as - XYZ", "Invalid agent type found as - XYZ"},
        {" xyz ", "ERR : Invalid agent type found as -  xyz ",
         "Invalid agent type found as -  xyz "},
    };
    for (const auto& c : cases) {
        FakeRun f;
        f.os.setString("Software\\KORBOD", "Type", c.type);
        PriSubCheckForAgentType(f.ctx);
        EXPECT_EQ(f.logMessages(), Lines{c.line}) << "[" << c.type << "]";
        EXPECT_EQ(f.run.overallStatusOK, c.reportDesc.empty()) << "[" << c.type << "]";
        if (c.reportDesc.empty()) {
            EXPECT_TRUE(f.reportFiles().empty());
        } else {
            ASSERT_EQ(f.reportFiles().size(), 1u);
            const std::string report = f.read("PMStatus\\" + f.reportFiles()[0]);
            EXPECT_NE(
                report.find("\r\nDesc=" + c.reportDesc + "\r\nPID=Agent_AgentType_MNStatus\r\n"),
                std::string::npos);
            EXPECT_NE(report.find("LastRunStatusCode=Failed"), std::string::npos);
        }
    }
}

TEST(AlertTicketCheck, CountsDirectFilesAndReportsMoreThanAHundred) {
    struct Case {
        int files, inSubfolder, fileLinks;  // each file link comes with a folder link
        bool report;
    } cases[] = {{0, 0, 0, false},
                 {100, 0, 0, false},
                 {101, 0, 0, true},
                 {5, 500, 0, false},
                 {99, 0, 2, true}};
    for (const auto& c : cases) {
        FakeRun f;
        for (int i = 0; i < c.files; ++i) f.writeFile("AlertTkt\\t" + std::to_string(i), "x");
        for (int i = 0; i < c.fileLinks; ++i) {
            std::filesystem::create_symlink(f.hostFile("AlertTkt\\t0"),
                                            f.hostFile("AlertTkt\\file-link" + std::to_string(i)));
            std::filesystem::create_symlink("/usr",
                                            f.hostFile("AlertTkt\\dir-link" + std::to_string(i)));
        }
        for (int i = 0; i < c.inSubfolder; ++i)
            f.writeFile("AlertTkt\\sub\\t" + std::to_string(i), "x");
        if (c.files + c.inSubfolder == 0)
            std::filesystem::create_directories(f.hostFile("AlertTkt"));
        PriSubCheckAlertTktPending(f.ctx, f.install + "AlertTkt\\");
        const std::string n = std::to_string(c.files + c.fileLinks);
        EXPECT_EQ(f.logMessages(),
                  Lines{"INF : Number of files pending in alert ticket folder are - " + n});
        EXPECT_EQ(f.reportFiles().size(), c.report ? 1u : 0u) << n;
        EXPECT_TRUE(f.run.overallStatusOK);
        if (c.report) {
            EXPECT_NE(f.read("PMStatus\\" + f.reportFiles()[0])
                          .find("Desc=Files in alert ticket folder - "
                                "101\r\nPID=Agent_AlertTktPending_MNStatus"),
                      std::string::npos);
        }
    }
}

TEST(AlertTicketCheck, MissingOrUnreadableFolder) {
    FakeRun f;
    PriSubCheckAlertTktPending(f.ctx, f.install + "AlertTkt\\");
    f.writeFile("AlertTkt\\t1", "x");
    f.os.failOn("listFolder", "AlertTkt\\", 5, "Access is denied.");
    PriSubCheckAlertTktPending(f.ctx, f.install + "AlertTkt\\");
    EXPECT_EQ(
        f.logMessages(),
        (Lines{
            "INF : Alert Ticket folder not found",
            "ERR : Error while files in alert ticket. Error No. : 5, Error Description : Access is "
            "denied., Source = PriSubCheckAlertTktPending()"}));
}

TEST(FolderSizeText, RoundsHalfToEvenAndDropsTrailingZeros) {
    struct Case {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {0, "0"},
        {1048576, "1"},
        {5000000, "4.77"},
        {1048576 + 104858, "1.1"},  // 1.1000003 MB
        {160716472, "153.27"},
        {static_cast<std::uint64_t>(1048576 * 0.125), "0.12"},  // exact half goes to even
        {static_cast<std::uint64_t>(1048576 * 0.375), "0.38"},
        {1048576ull * 1048576ull, "1048576"},
    };
    for (const auto& c : cases) EXPECT_EQ(megabytesText(c.bytes), c.text) << c.bytes;
}

TEST(FolderSizeReport, CarriesTheRunOutcome) {
    FakeRun f;
    f.writeFile("Data\\a", std::string(5000000 - 10, 'a'));
    f.writeFile("Data\\deep\\er\\b", std::string(10, 'b'));
    std::filesystem::create_symlink("/usr", f.hostFile("Data\\usr-link"));
    f.run.overallStatusOK = false;
    SubGetFolderSize(f.ctx, "C:\\Agents\\KORBOD\\Data");
    EXPECT_EQ(f.logMessages(), (Lines{"MSG : Getting \\KORBOD folder size...",
                                      "MSG : KORBOD folder Size : 4.77 MB"}));
    const std::string report = f.read("PMStatus\\" + f.reportFiles().at(0));
    EXPECT_NE(report.find("Desc=KORBOD folder Size : 4.77 MB\r\nPID=MN Status Check\r\n"),
              std::string::npos);
    EXPECT_NE(report.find("LastRunStatusCode=Failed"), std::string::npos);
}

TEST(FolderSizeReport, AFolderThatCannotBeMeasuredStillReportsTheRun) {
    FakeRun f;
    SubGetFolderSize(f.ctx, "C:\\Agents\\KORBOD\\Missing");
    const Lines lines = f.logMessages();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(
        lines[1].rfind("ERR : Error while getting the size of \\KORBOD folder. Error No.: 2, Error "
                       "Description : No such file or directory, Source = SubGetFolderSize()",
                       0),
        0u)
        << lines[1];
    const std::string report = f.read("PMStatus\\" + f.reportFiles().at(0));
    EXPECT_NE(report.find("Desc=Failed to get the size of \\KORBOD folder\r\n"), std::string::npos);
    EXPECT_NE(report.find("LastRunStatusCode=Success"), std::string::npos);
    EXPECT_TRUE(f.run.overallStatusOK);
}

}  // namespace
}  // namespace quillet
