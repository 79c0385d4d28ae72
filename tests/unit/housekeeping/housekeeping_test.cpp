#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>

#include "housekeeping/aged_files.h"
#include "housekeeping/agent_type.h"
#include "housekeeping/alert_tickets.h"
#include "housekeeping/folder_size.h"
#include "run/preview.h"
#include "support/fake_system.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using testing::FakeRun;
using Lines = std::vector<std::string>;

const std::time_t kNow = std::time(nullptr);
const std::string kLogs = "ApplicationLog\\", kData = "Datadirectory\\";

void age(const std::string& hostPath, long days) {
    fs::last_write_time(hostPath, fs::file_time_type::clock::now() - std::chrono::hours(24 * days));
}

// Files (or, ending in "\", folders) under `top`; files modified 9 days ago when `old`.
void plant(FakeRun& f, const std::string& top, const Lines& entries, bool old) {
    for (const auto& p : entries) {
        if (p.back() == '\\') {
            fs::create_directories(f.hostFile(top + p));
        } else {
            f.writeFile(top + p, "old");
            age(f.hostFile(top + p), old ? 9 : 0);
        }
    }
}

// Everything left beneath a host folder, links not followed: "A A/a.log b.log";
// "" for a missing folder.
std::string tree(const std::string& root) {
    std::set<std::string> names;
    std::error_code missing;
    for (const auto& e : fs::recursive_directory_iterator(root, missing))
        names.insert(e.path().lexically_relative(root));
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
}

// The log sweep of ApplicationLog now, or the data sweep of Datadirectory `days` later.
void sweep(FakeRun& f, bool logs, long days = 0) {
    f.os.clock = kNow + days * 86400;
    if (logs)
        PriSubDeleteLogs(f.ctx, f.install + "ApplicationLog\\");
    else
        PriSubDeleteOldData(f.ctx, f.install + "Datadirectory\\", 14);
}

std::string logError(const std::string& lastChosen) {
    return "ERR : Error while deleting log files. Error No. : 5, Error Description : Access is "
           "denied., Source = PriSubDeleteLogs(), File=" +
           (lastChosen.empty() ? "" : "C:\\Agents\\KORBOD\\ApplicationLog\\" + lastChosen);
}
const std::string kDataError =
    "ERR : Error while deleting older data files. Error No. : 5, Error Description : Access is "
    "denied., Source = PriSubDeleteOldData()";
const std::string kLogReport =
    "\r\nDesc=Delete log failed. - \r\nPID=Agent_DeleteLogs_MNStatus\r\n";
const std::string kDataReport =
    "\r\nDesc=Failed to Delete data\r\nPID=Agent_DeleteData_MNStatus\r\n";
std::string deleteError(const std::string& file) {
    return "ERR : Error Source : SubDeleteFiles(),File : C:\\Agents\\KORBOD\\" + file +
           ",Desc:Access is denied.";
}

TEST(SweepFailure, EndsTheInvocationWhoseFolderFailedAndReportsOncePerInvocation) {
    struct Case {
        const char* what;
        std::string top;           // the swept folder under the install folder
        Lines old, young, faults;  // faults: "operation path", path under `top`
        Lines log;
        std::string left;
    } cases[] = {
        // clang-format off
        // A and Y are nested invocations; each ends at its unlistable subfolder
        // with its own last choice (Y chose nothing), and the top one goes on.
        {"nested invocations end alone", kLogs,
         {"top.log", "A\\a.log", "A\\B\\b.log", "A\\C\\c.log", "Y\\D\\d.log", "Z\\z.log"}, {"Y\\E\\e.log"},
         {"listFolder A\\B\\", "listFolder Y\\D\\"}, {logError("A\\a.log"), logError("")},
         "A A/B A/B/b.log A/C A/C/c.log MNStatusLog.txt Y Y/D Y/D/d.log Y/E Y/E/e.log Z"},
        // L1's file was examined in place: its choice is the top invocation's
        // last; the later sibling Z is not examined.
        {"a folder examined in place ends the enclosing invocation", kLogs,
         {"top.log", "L1\\l.log", "L2\\m.log", "Z\\z.log"}, {}, {"listFolder L2\\"},
         {logError("L1\\l.log")}, "L1 L2 L2/m.log MNStatusLog.txt Z Z/z.log"},
        // N's listing breaks off; N is listed again to count its subfolders.
        {"a broken listing without subfolders is the enclosing one's", kLogs,
         {"top.log", "N\\b.log", "Z\\z.log"}, {"N\\a.log"}, {"listEntry N\\b.log"},
         {logError("top.log")}, "MNStatusLog.txt N N/a.log N/b.log Z Z/z.log"},
        {"a broken listing with subfolders is its own", kLogs,
         {"top.log", "N\\b.log", "N\\zsub\\s.log", "Z\\z.log"}, {"N\\a.log"}, {"listEntry N\\b.log"},
         {logError("")}, "MNStatusLog.txt N N/a.log N/b.log N/zsub N/zsub/s.log Z"},
        {"an undeletable file is logged and the log sweep goes on", kLogs,
         {"S\\a.dat", "S\\b.dat"}, {}, {"deleteFile S\\a.dat"},
         {deleteError(kLogs + "S\\a.dat")}, "MNStatusLog.txt S S/a.dat"},
        // A's own invocation fails, then the top one cannot measure A; Z is not swept.
        {"a subfolder that cannot be measured ends the data sweep", kData,
         {"top.dat", "A\\a.dat", "Z\\z.dat"}, {}, {"listFolder A\\"},
         {kDataError, kDataError}, "A A/a.dat Z Z/z.dat"},
        // A's invocation ends at B; the top one goes on and removes Z.
        {"a nested data failure ends alone", kData,
         {}, {"A\\young.dat", "A\\B\\", "A\\C\\", "Z\\"}, {"removeFolder A\\B\\"},
         {kDataError}, "A A/B A/C A/young.dat"},
        {"an undeletable file is logged and the data sweep goes on", kData,
         {"S\\a.dat", "S\\b.dat"}, {}, {"deleteFile S\\a.dat"},
         {deleteError(kData + "S\\a.dat")}, "S S/a.dat"},
        // P's file is still there, pending deletion: P stays, Z is swept all the same.
        {"a folder left full by a pending deletion stays and the data sweep goes on", kData,
         {"P\\p.dat", "Z\\z.dat"}, {}, {"leavePending P\\p.dat"}, {}, "P P/p.dat"},
        // No install folder holds it yet: the sweep has nothing to do.
        {"a missing log folder", kLogs, {}, {}, {}, {}, ""},
        // clang-format on
    };
    for (const auto& c : cases) {
        FakeRun f;
        const bool logs = c.top == kLogs;
        plant(f, c.top, c.old, true);
        plant(f, c.top, c.young, false);
        for (const auto& fault : c.faults)
            f.os.failOn(fault.substr(0, fault.find(' ')),
                        c.top + fault.substr(fault.find(' ') + 1));
        // Data files age by creation: the old ones are made old by moving the clock.
        sweep(f, logs, logs || c.old.empty() ? 1 : 15);
        EXPECT_EQ(f.logMessages(), c.log) << c.what;
        EXPECT_EQ(tree(f.hostFile(c.top)), c.left) << c.what;
        // One Failed report for each invocation that failed.
        const auto failed = std::count_if(c.log.begin(), c.log.end(), [](const std::string& l) {
            return l.find("Error while") != std::string::npos;
        });
        EXPECT_EQ(f.run.overallStatusOK, failed == 0) << c.what;
        ASSERT_EQ(f.reportFiles().size(), static_cast<std::size_t>(failed)) << c.what;
        for (const auto& name : f.reportFiles())
            EXPECT_NE(f.read("PMStatus\\" + name).find(logs ? kLogReport : kDataReport),
                      std::string::npos)
                << c.what;
    }
}

TEST(SweepListing, AFileListedOldOrEmptyThatIsYoungAndHoldsBytesIsKept) {
    // Windows' listings lag behind a file that another program has open for
    // writing: the file itself decides, through the handle that would delete it.
    const struct {
        const char* what;
        std::string file;  // under the install folder
        bool listedEmpty;
        long listedDaysAgo;
    } cases[] = {
        {"a log listed as written long ago", kLogs + "agent.log", false, 30},
        {"a data file listed as old and empty", kData + "fresh\\new.dat", true, 30},
        {"a young data file listed as empty", kData + "fresh\\new.dat", true, 0},
    };
    for (const auto& c : cases) {
        FakeRun f;
        f.writeFile(c.file, "written today");
        f.os.listingSays = [&](const std::string& path, os::FolderEntry& entry) {
            if (path != f.install + c.file) return;
            if (c.listedEmpty) entry.size = 0;
            std::tm tm{};
            const std::time_t then = kNow - c.listedDaysAgo * 86400;
            localtime_r(&then, &tm);
            entry.created = entry.modified = {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday,
                                              tm.tm_hour,        tm.tm_min,     tm.tm_sec};
        };
        sweep(f, c.file.rfind(kLogs, 0) == 0);
        EXPECT_EQ(f.read(c.file), "written today") << c.what;
        EXPECT_EQ(f.logMessages(), Lines{}) << c.what;
        EXPECT_TRUE(f.reportFiles().empty()) << c.what;
    }
}

TEST(SweepListing, AnUnknownIdIsNoObstacleAndAnotherObjectsIdGetsALine) {
    // Some file systems list no file ids (0); an object that is not the one
    // listed is left, and said so.
    const struct {
        const char* what;
        std::string top, listed;  // `listed` under `top`: the entry whose id the listing changes
        bool unknown;             // else another object's id
        Lines log;
        std::string left;
    } cases[] = {
        // clang-format off
        {"a file listed without an id is deleted", kLogs, "old.log", true, {}, ""},
        {"a folder listed without an id is swept and removed", kData, "sub", true, {}, ""},
        {"a file listed with another's id is left with its line", kLogs, "old.log", false,
         {"ERR : Error Source : SubDeleteFiles(),File : C:\\Agents\\KORBOD\\ApplicationLog\\"
          "old.log,Desc:Stale file handle"}, "MNStatusLog.txt old.log"},
        // clang-format on
    };
    for (const auto& c : cases) {
        FakeRun f;
        const bool logs = c.top == kLogs;
        plant(f, c.top, {logs ? "old.log" : "sub\\old.dat"}, true);
        f.os.listingSays = [&](const std::string& path, os::FolderEntry& entry) {
            if (path == f.install + c.top + c.listed)
                entry.fileId = c.unknown ? 0 : entry.fileId + 1;
        };
        sweep(f, logs, logs ? 0 : 15);
        EXPECT_EQ(f.logMessages(), c.log) << c.what;
        EXPECT_EQ(tree(f.hostFile(c.top)), c.left) << c.what;
    }
}

TEST(SweepLinks, AFolderSwappedForALinkAfterItWasListedIsNeitherEnteredNorDeleted) {
    // The moment between listing a folder and opening it is where a path
    // walk would follow a link that an adversary put in the folder's place.
    for (const std::string sweepName : {"LOG", "DATA", "SIZE"}) {
        FakeRun f;
        // An old file outside the agent for the link to point to.
        const std::string outside = f.root + "/outside";
        fs::create_directories(outside);
        std::ofstream(outside + "/o.log") << "old";
        age(outside + "/o.log", 30);
        const std::string top = sweepName == "LOG" ? "ApplicationLog\\" : "Datadirectory\\";
        plant(f, top, {"S\\T\\old.dat", "S\\old.dat", "V\\old.dat"}, true);
        f.os.beforeOpenSubfolder = [&](const std::string& path) {
            if (path != f.install + top + "S\\") return;
            fs::rename(f.hostFile(top + "S"), f.root + "/moved-away");
            fs::create_symlink(outside, f.hostFile(top + "S"));
        };
        if (sweepName == "SIZE")
            EXPECT_EQ(folderTreeSize(f.os, f.install + top), 3u) << "V's file only";
        else
            sweep(f, sweepName == "LOG", 30);
        EXPECT_EQ(tree(outside), "o.log") << sweepName;
        EXPECT_TRUE(fs::is_symlink(f.hostFile(top + "S"))) << sweepName;
        EXPECT_EQ(f.read(top + "V\\old.dat"), sweepName == "SIZE" ? "old" : "") << sweepName;
        EXPECT_TRUE(f.reportFiles().empty()) << sweepName;
    }
}

std::string localDate(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &tm);
    return text;
}

// A preview shows each deletion with the date its sweep went by: the log
// sweep by the last change, the data sweep by the creation.
TEST(SweepPreview, ShowsTheDateTheSweepChoseTheFileBy) {
    FakeRun f;
    plant(f, kLogs, {"old.log"}, true);
    plant(f, kData, {"new.dat"}, false);
    age(f.hostFile(kData + "new.dat"), -10);  // changed later than created
    std::string shown;
    PreviewSystem preview(f.os, [&](const std::string& text) { shown += text; });
    RunState run;
    Context ctx{preview, run};
    f.os.clock = kNow + 20 * 86400;
    PriSubDeleteLogs(ctx, f.install + kLogs);
    PriSubDeleteOldData(ctx, f.install + kData, 14);
    preview.flush();
    EXPECT_EQ(shown, "delete  " + f.install + kLogs + "old.log (modified " +
                         localDate(kNow - 9 * 86400) + ", 29 days ago, 3 bytes)\r\n" + "delete  " +
                         f.install + kData + "new.dat (created " + localDate(kNow) +
                         ", 20 days ago, 3 bytes)\r\n");
}

TEST(AlertTicketCheck, CountsLinksToFilesAndSaysWhenTheFolderIsMissingOrUnreadable) {
    FakeRun f;
    PriSubCheckAlertTktPending(f.ctx, f.install + "AlertTkt\\");
    f.writeFile("AlertTkt\\t", "x");
    std::filesystem::create_symlink(f.hostFile("AlertTkt\\t"), f.hostFile("AlertTkt\\file-link"));
    std::filesystem::create_symlink("/usr", f.hostFile("AlertTkt\\folder-link"));
    PriSubCheckAlertTktPending(f.ctx, f.install + "AlertTkt\\");
    f.os.failOn("listFolder", "AlertTkt\\");
    PriSubCheckAlertTktPending(f.ctx, f.install + "AlertTkt\\");
    EXPECT_EQ(f.logMessages(),
              (Lines{"INF : Alert Ticket folder not found",
                     "INF : Number of files pending in alert ticket folder are - 2",
                     "ERR : Error while files in alert ticket. Error No. : 5, Error Description : "
                     "Access is denied., Source = PriSubCheckAlertTktPending()"}));
}

TEST(FolderSizeText, RoundsHalfToEvenAndDropsTrailingZeros) {
    struct Case {
        std::uint64_t bytes;
        const char* text;
    } cases[] = {
        {1048576 + 104858, "1.1"}, {160716472, "153.27"},
        {1048576 / 8, "0.12"},  // an exact half goes to the even neighbour
        {1048576 * 3 / 8, "0.38"}, {1048576ull * 1048576ull, "1048576"},
    };
    for (const auto& c : cases) EXPECT_EQ(megabytesText(c.bytes), c.text) << c.bytes;
}

TEST(FolderSizeReport, AFolderThatCannotBeMeasuredStillReportsTheRun) {
    FakeRun f;
    SubGetFolderSize(f.ctx, "C:\\Agents\\KORBOD\\Missing");
    EXPECT_EQ(f.logMessages(),
              (Lines{"MSG : Getting \\KORBOD folder size...",
                     "ERR : Error while getting the size of \\KORBOD folder. Error No.: 2, Error "
                     "Description : No such file or directory, Source = SubGetFolderSize()"}));
    const std::string report = f.read("PMStatus\\" + f.reportFiles().at(0));
    EXPECT_NE(report.find("\r\nDesc=Failed to get the size of \\KORBOD folder\r\n"),
              std::string::npos);
    EXPECT_NE(report.find("LastRunStatusCode=Success"), std::string::npos);
}

// The run passes its gate only for a RULK agent; the check reads the type
// again, so what it finds wrong was changed during the run.
TEST(AgentTypeCheck, ATypeChangedSinceTheGateIsReportedAsMissingOrInvalid) {
    const struct {
        const char* type;
        std::string line, desc;  // desc "": no report
    } cases[] = {
        {" 0 ", "ERR : Agent type missing in registry", "Agent type missing"},
        {"   ", "ERR : Agent type missing in registry", "Agent type missing"},
        {" xyz ", "ERR : Invalid agent type found as -  xyz ",
         "Invalid agent type found as -  xyz "},
        {" tova ", "INF : Agent type check completed", ""},
    };
    for (const auto& c : cases) {
        FakeRun f("", c.type);
        PriSubCheckForAgentType(f.ctx);
        EXPECT_EQ(f.logMessages(), Lines{c.line}) << c.type;
        EXPECT_EQ(f.run.overallStatusOK, c.desc.empty()) << c.type;
        ASSERT_EQ(f.reportFiles().size(), c.desc.empty() ? 0u : 1u) << c.type;
        if (c.desc.empty()) continue;
        const std::string report = f.read("PMStatus\\" + f.reportFiles()[0]);
        EXPECT_NE(report.find("\r\nDesc=" + c.desc + "\r\nPID=Agent_AgentType_MNStatus\r\n"),
                  std::string::npos)
            << c.type;
        EXPECT_NE(report.find("LastRunStatusCode=Failed"), std::string::npos) << c.type;
    }
}

}  // namespace
}  // namespace quillet
