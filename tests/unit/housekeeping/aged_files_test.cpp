#include "housekeeping/aged_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>

#include "housekeeping/folder_size.h"
#include "support/fake_system.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using testing::FakeRun;
using Lines = std::vector<std::string>;

// Sets the last-modification time of a file, or of a link itself.
void setModified(const std::string& hostPath, const os::LocalTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900, tm.tm_mon = t.month - 1, tm.tm_mday = t.day;
    tm.tm_hour = t.hour, tm.tm_min = t.minute, tm.tm_sec = t.second, tm.tm_isdst = -1;
    const timespec times[2] = {{std::mktime(&tm), 0}, {std::mktime(&tm), 0}};
    if (utimensat(AT_FDCWD, hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("utimensat failed on " + hostPath);
}

// Creation times cannot be set: the tests read them and move the clock instead.
os::LocalTime createdOf(FakeRun& f, const std::string& relative) {
    const auto cut = relative.find_last_of('\\');
    auto folder = f.os.HostSystem::openFolder(f.install + relative.substr(0, cut + 1));
    os::FolderEntry entry;
    while (folder->next(entry))
        if (entry.name == relative.substr(cut + 1)) return entry.created;
    throw std::runtime_error("not listed: " + relative);
}

// A file of the given size; with a modification time when one is given.
void makeFile(FakeRun& f, const std::string& relative, std::uintmax_t size,
              const os::LocalTime* modified = nullptr) {
    f.writeFile(relative, "");
    fs::resize_file(f.hostFile(relative), size);
    if (modified) setModified(f.hostFile(relative), *modified);
}
void plant(FakeRun& f, const std::string& folder, const Lines& files, const os::LocalTime& modified,
           std::uintmax_t size = 3) {
    for (const auto& p : files) makeFile(f, folder + p, size, &modified);
}
void makeFolder(FakeRun& f, const std::string& relative) {
    fs::create_directories(f.hostFile(relative));
}
void link(FakeRun& f, const std::string& relative, const std::string& target,
          const os::LocalTime& modified) {
    fs::create_symlink(target, f.hostFile(relative));
    setModified(f.hostFile(relative), modified);
}

// Everything left beneath a host folder, links not followed: "A A/a.log b.log";
// "<missing>" when the folder itself is gone.
std::string tree(const std::string& root) {
    if (!fs::exists(root)) return "<missing>";
    std::set<std::string> names;
    for (const auto& e : fs::recursive_directory_iterator(root))
        names.insert(e.path().lexically_relative(root));
    std::string out;
    for (const auto& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
}
std::string tree(const FakeRun& f, const std::string& relative) {
    return tree(f.hostFile(relative));
}

const std::string kLogs = "ApplicationLog\\", kData = "Datadirectory\\";
const os::LocalTime kNow{2026, 12, 10, 12, 0, 0};
const os::LocalTime kOld{2026, 12, 1, 12, 0, 0};  // 9 days before kNow
const os::LocalTime kYoung{2026, 12, 10, 8, 0, 0};

void sweepLogs(FakeRun& f) {
    f.os.clock = kNow;
    PriSubDeleteLogs(f.ctx, f.install + "ApplicationLog\\");
}
// Runs the data sweep `daysLater` calendar days after `relative` was created.
void sweepData(FakeRun& f, const std::string& relative, long daysLater, int hour = 12,
               std::int16_t limit = 14) {
    const os::LocalTime created = createdOf(f, relative);
    f.os.clock = {created.year, created.month, created.day, hour, 0, 0};
    f.os.advanceSeconds(daysLater * 86400);
    PriSubDeleteOldData(f.ctx, f.install + "Datadirectory\\", limit);
}

std::string logError(const std::string& lastChosen) {
    return "ERR : Error while deleting log files. Error No. : 5, Error Description : Access is "
           "denied., Source = PriSubDeleteLogs(), File=" +
           lastChosen;
}
const std::string kDataError =
    "ERR : Error while deleting older data files. Error No. : 5, Error Description : Access is "
    "denied., Source = PriSubDeleteOldData()";

// Every report of the run has the given Desc, PID and the status "Failed".
void expectFailedReports(const FakeRun& f, std::size_t count, const std::string& desc,
                         const std::string& pid) {
    const auto reports = f.reportFiles();
    ASSERT_EQ(reports.size(), count);
    EXPECT_EQ(f.os.sleeps.size(), count);
    for (const auto& name : reports) {
        const std::string text = f.read("PMStatus\\" + name);
        for (const std::string& line :
             {"Desc=" + desc, "PID=" + pid, std::string("LastRunStatusCode=Failed")})
            EXPECT_NE(text.find("\r\n" + line + "\r\n"), std::string::npos) << text;
    }
    EXPECT_FALSE(f.run.overallStatusOK);
    EXPECT_EQ(f.run.statusDescription, "") << "emptied by the report";
}

void expectQuiet(const FakeRun& f) {
    EXPECT_TRUE(f.logMessages().empty());
    EXPECT_TRUE(f.reportFiles().empty());
    EXPECT_TRUE(f.run.overallStatusOK);
}

TEST(LogSweepRule, DeletesFilesOverFiveCalendarDaysOldByModificationOrOverFiveMebibytes) {
    struct Case {
        const char* what;
        os::LocalTime now, modified;
        std::uintmax_t size;
        bool deleted;
    } cases[] = {
        {"23:59 six dates back: 5 days 2 min",
         {2026, 12, 10, 0, 1, 0},
         {2026, 12, 4, 23, 59, 0},
         3,
         true},
        {"00:01 five dates back: 6 days less",
         {2026, 12, 10, 23, 59, 0},
         {2026, 12, 5, 0, 1, 0},
         3,
         false},
        {"six dates across a month end",
         {2026, 12, 3, 12, 0, 0},
         {2026, 11, 27, 12, 0, 0},
         3,
         true},
        {"five dates across a year end",
         {2027, 1, 3, 0, 0, 0},
         {2026, 12, 29, 23, 59, 59},
         3,
         false},
        {"stamped in the future", kNow, {2031, 1, 1, 0, 0, 0}, 3, false},
        {"years ago", kNow, {2001, 6, 1, 0, 0, 0}, 0, true},
        {"young, exactly 5 MiB", kNow, kYoung, 5242880, false},
        {"young, one byte more", kNow, kYoung, 5242881, true},
    };
    for (const auto& c : cases) {
        FakeRun f;
        makeFile(f, "ApplicationLog\\x.log", c.size, &c.modified);
        f.os.clock = c.now;
        PriSubDeleteLogs(f.ctx, f.install + "ApplicationLog\\");
        EXPECT_EQ(!f.exists("ApplicationLog\\x.log"), c.deleted) << c.what;
        expectQuiet(f);
    }
}

TEST(DataSweepRule, CountsCalendarDaysOfTheCreationTimeWhateverTheModificationTime) {
    const os::LocalTime longAgo{2001, 1, 1, 0, 0, 0}, future{2099, 1, 1, 0, 0, 0};
    struct Case {
        const char* what;
        std::int16_t limit;
        long daysLater;
        int hour;
        os::LocalTime modified;
        bool deleted;
    } cases[] = {
        {"14 dates later, modified long before", 14, 14, 23, longAgo, false},
        {"15 dates later, modified in the future", 14, 15, 0, future, true},
        {"created today, limit 0", 0, 0, 23, longAgo, false},
        {"created yesterday at any hour, limit 0", 0, 1, 0, future, true},
        {"created in the future, limit 0", 0, -1, 12, longAgo, false},
    };
    for (const auto& c : cases) {
        FakeRun f;
        makeFile(f, "Datadirectory\\x.dat", 4, &c.modified);
        sweepData(f, "Datadirectory\\x.dat", c.daysLater, c.hour, c.limit);
        EXPECT_EQ(!f.exists("Datadirectory\\x.dat"), c.deleted) << c.what;
        EXPECT_TRUE(f.exists("Datadirectory")) << "the swept folder itself always stays";
        expectQuiet(f);
    }
}

TEST(LogSweepWalk, DeletesOldAndLargeFilesAtAnyDepthAndNeverAFolder) {
    FakeRun f;
    plant(f, kLogs, {"old.log", "A\\old.log", "A\\B\\C\\old.log", "Leaf\\old.txt"}, kOld);
    plant(f, kLogs, {"young.log", "A\\young.log", "A\\B\\young.log", "Leaf\\young.txt"}, kYoung);
    plant(f, kLogs, {"MNStatusLog.txt"}, kYoung, 5242881);  // the activity log is no exception
    makeFolder(f, kLogs + "Empty");
    sweepLogs(f);
    EXPECT_EQ(tree(f, kLogs),
              "A A/B A/B/C A/B/young.log A/young.log Empty Leaf Leaf/young.txt young.log");
    expectQuiet(f);
}

// A tree outside the swept folders for links to point into.
std::string outsideTree(FakeRun& f) {
    const std::string outside = f.machine.path() + "/outside";
    fs::create_directories(outside + "/sub");
    std::ofstream(outside + "/sub/empty.dat") << "";
    for (const char* name : {"/o.log", "/sub/o.log"}) {
        std::ofstream(outside + name) << "old";
        setModified(outside + name, kOld);
    }
    std::ofstream(outside + "/big.log") << "";
    fs::resize_file(outside + "/big.log", 6 * 1048576);
    return outside;
}

TEST(LogSweepLinks, LinksAreJudgedByTheirOwnDatesAndNeverFollowed) {
    FakeRun f;
    const std::string outside = outsideTree(f), outsideBefore = tree(outside);
    makeFolder(f, kLogs + "Leaf");
    link(f, kLogs + "young-folder-link", outside, kYoung);
    link(f, kLogs + "old-folder-link", outside, kOld);
    link(f, kLogs + "old-file-link", outside + "/o.log", kOld);
    link(f, kLogs + "link-to-large-file", outside + "/big.log", kYoung);
    link(f, kLogs + "Leaf\\young-folder-link", outside, kYoung);
    link(f, kLogs + "Leaf\\old-folder-link", outside + "/sub", kOld);
    sweepLogs(f);
    EXPECT_EQ(tree(f, kLogs), "Leaf Leaf/young-folder-link link-to-large-file young-folder-link");
    EXPECT_EQ(tree(outside), outsideBefore) << "nothing is reached through a link";
    expectQuiet(f);
}

TEST(DataSweepFolders, RemovesSubfoldersLeftWithoutBytes) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, long>> entries;  // size -1: a folder
        bool old;                                           // all past the limit, or none
        std::string left;
    } cases[] = {
        {"emptied by the sweep", {{"S\\a.dat", 10}, {"S\\T\\b.dat", 10}}, true, ""},
        {"only a young zero-length file", {{"S\\z.dat", 0}}, false, ""},
        {"one young non-empty file", {{"S\\y.dat", 1}}, false, "S S/y.dat"},
        {"only empty folders beneath", {{"S\\a\\b", -1}, {"S\\c", -1}}, false, ""},
        {"young bytes deep down keep their chain",
         {{"S\\a\\b\\y.dat", 3}, {"S\\a\\z.dat", 0}, {"S\\e\\f", -1}},
         false,
         "S S/a S/a/b S/a/b/y.dat S/a/z.dat"},
        {"old file three levels down", {{"S\\a\\b\\old.dat", 5}, {"top.dat", 5}}, true, ""},
    };
    for (const auto& c : cases) {
        FakeRun f;
        makeFolder(f, kData);
        for (const auto& [relative, size] : c.entries) {
            if (size < 0)
                makeFolder(f, kData + relative);
            else
                makeFile(f, kData + relative, static_cast<std::uintmax_t>(size));
        }
        sweepData(f, "Datadirectory", c.old ? 15 : 1);
        EXPECT_EQ(tree(f, kData), c.left) << c.what;  // the swept folder itself always stays
        expectQuiet(f);
    }
}

TEST(DataSweepLinks, LinksGoAsLinksAndWhatTheyPointToStays) {
    for (const bool old : {true, false}) {
        FakeRun f;
        const std::string outside = outsideTree(f), outsideBefore = tree(outside);
        makeFolder(f, kData + "S");
        makeFile(f, kData + "T\\y.dat", 1);
        link(f, kData + "S\\folder-link", outside, kNow);
        link(f, kData + "T\\folder-link", outside + "/sub", kNow);
        link(f, kData + "file-link", outside + "/o.log", kNow);
        sweepData(f, kData + "S\\folder-link", old ? 30 : 1);
        // S held nothing but a link: no bytes, so it goes, its link removed as a link.
        EXPECT_EQ(tree(f, kData), old ? "" : "T T/folder-link T/y.dat file-link");
        EXPECT_EQ(tree(outside), outsideBefore) << "nothing is reached through a link";
        expectQuiet(f);
    }
}

TEST(SweepLinks, AFolderSwappedForALinkAfterItWasListedIsNeitherEnteredNorDeleted) {
    // The moment between listing a folder and opening it is where a path
    // walk would follow a link that an adversary put in the folder's place.
    for (const char* sweep : {"LOG", "DATA", "SIZE"}) {
        FakeRun f;
        const std::string outside = outsideTree(f), outsideBefore = tree(outside);
        const std::string top = std::string(sweep) == "LOG" ? kLogs : kData;
        plant(f, top, {"S\\T\\old.dat", "S\\old.dat", "V\\old.dat"}, kOld);
        f.os.beforeOpenSubfolder = [&](const std::string& path) {
            if (path != f.install + top + "S\\") return;
            fs::rename(f.hostFile(top + "S"), f.machine.path() + "/moved-away");
            fs::create_symlink(outside, f.hostFile(top + "S"));
        };
        if (std::string(sweep) == "LOG") {
            sweepLogs(f);
        } else if (std::string(sweep) == "DATA") {
            sweepData(f, kData + "V\\old.dat", 30);
        } else {
            EXPECT_EQ(folderTreeSize(f.os, f.install + kData), 3u) << "V's file only";
        }
        EXPECT_EQ(tree(outside), outsideBefore) << sweep;
        EXPECT_TRUE(fs::is_symlink(f.hostFile(top + "S")))
            << sweep << ": the link was never listed";
        EXPECT_EQ(f.exists(top + "V\\old.dat"), std::string(sweep) == "SIZE") << sweep;
        expectQuiet(f);
    }
}

TEST(SweepLinks, ASweptFolderThatIsItselfALinkIsRefusedAndReported) {
    for (const bool logSweep : {true, false}) {
        FakeRun f;
        const std::string outside = outsideTree(f), outsideBefore = tree(outside);
        // Not ApplicationLog: the activity log would be written through that link.
        fs::create_symlink(outside, f.hostFile("Swept"));
        f.os.clock = kNow;  // the outside files are then too old for both sweeps
        if (logSweep)
            PriSubDeleteLogs(f.ctx, f.install + "Swept\\");
        else
            PriSubDeleteOldData(f.ctx, f.install + "Swept\\", 0);
        EXPECT_EQ(tree(outside), outsideBefore);
        EXPECT_EQ(f.reportFiles().size(), 1u) << "a Failed report says the sweep did not happen";
        EXPECT_FALSE(f.run.overallStatusOK);
    }
}

TEST(SweepMissingFolder, NeitherSweepDoesAnythingForAFolderThatIsNotThere) {
    FakeRun f;
    f.run.statusDescription = "from an earlier check";
    sweepLogs(f);
    PriSubDeleteOldData(f.ctx, f.install + "Datadirectory\\", 14);
    expectQuiet(f);
    EXPECT_EQ(f.run.statusDescription, "from an earlier check");
}

TEST(DeleteFile, ReadOnlyFilesGoAndOneGoneSinceItWasListedIsNoFailure) {
    FakeRun f;
    for (const char* p :
         {"Datadirectory\\ro.dat", "ApplicationLog\\ro.log", "direct.txt", "gone.txt"}) {
        makeFile(f, p, 9, &kOld);
        chmod(f.hostFile(p).c_str(), 0444);
    }
    auto folder = f.os.openFolder(f.install);
    for (os::FolderEntry entry; folder->next(entry);) {
        if (entry.name == "gone.txt") fs::remove(f.hostFile("gone.txt"));
        if (entry.name == "direct.txt" || entry.name == "gone.txt")
            SubDeleteFiles(f.ctx, *folder, entry, f.install + entry.name);
    }
    sweepLogs(f);
    sweepData(f, "Datadirectory\\ro.dat", 15);
    for (const char* p : {"direct.txt", "Datadirectory\\ro.dat", "ApplicationLog\\ro.log"})
        EXPECT_FALSE(f.exists(p)) << p;
    expectQuiet(f);
}

TEST(DeleteFile, AFileThatCannotBeDeletedIsLoggedAndTheSweepGoesOn) {
    const std::string busy =
        "The process cannot access the file because it is being used by another process.";
    for (const bool logSweep : {true, false}) {
        FakeRun f;
        const std::string folder = logSweep ? "ApplicationLog\\S\\" : "Datadirectory\\S\\";
        for (const char* name : {"a.dat", "b.dat"}) makeFile(f, folder + name, 5, &kOld);
        f.os.failOn("deleteFile", "S\\a.dat", 32, busy);
        if (logSweep)
            sweepLogs(f);
        else
            sweepData(f, folder + "a.dat", 20);
        EXPECT_EQ(f.logMessages(), Lines{"ERR : Error Source : SubDeleteFiles(),File : " +
                                         f.install + folder + "a.dat,Desc:" + busy});
        EXPECT_TRUE(f.exists(folder + "a.dat"));
        EXPECT_FALSE(f.exists(folder + "b.dat")) << "the sweep goes on";
        EXPECT_TRUE(f.reportFiles().empty());
        EXPECT_TRUE(f.run.overallStatusOK);
    }
}

// ------------------------------------------------------------ failure scopes

TEST(LogSweepFailure, AFolderThatCannotBeListedEndsTheInvocationThatLooksIntoIt) {
    FakeRun f;
    f.os.sortedListings = true;  // so that "later siblings" are known
    plant(f, kLogs,
          {"top.log", "A\\a.log", "A\\B\\b.log", "A\\C\\c.log", "Y\\D\\d.log", "Z\\z.log"}, kOld);
    plant(f, kLogs, {"Y\\E\\e.log"}, kYoung);
    f.os.failOn("listFolder", kLogs + "A\\B\\");
    f.os.failOn("listFolder", kLogs + "Y\\D\\");
    sweepLogs(f);
    // A and Y are nested invocations; each ends at its unlistable subfolder
    // with its own last choice (Y chose nothing), and the top one goes on.
    EXPECT_EQ(f.logMessages(), (Lines{logError(f.install + kLogs + "A\\a.log"), logError("")}));
    expectFailedReports(f, 2, "Delete log failed. - ", "Agent_DeleteLogs_MNStatus");
    EXPECT_EQ(tree(f, kLogs),
              "A A/B A/B/b.log A/C A/C/c.log MNStatusLog.txt Y Y/D Y/D/d.log Y/E Y/E/e.log Z");
}

TEST(LogSweepFailure, InPlaceFolderFailureEndsTheEnclosingInvocation) {
    FakeRun f;
    f.os.sortedListings = true;
    plant(f, kLogs, {"top.log", "L1\\l.log", "L2\\m.log", "Z\\z.log"}, kOld);
    f.os.failOn("listFolder", kLogs + "L2\\");
    sweepLogs(f);
    // L1's file was examined in place: its choice is the top invocation's last;
    // the later sibling Z is not examined.
    EXPECT_EQ(f.logMessages(), Lines{logError(f.install + kLogs + "L1\\l.log")});
    expectFailedReports(f, 1, "Delete log failed. - ", "Agent_DeleteLogs_MNStatus");
    EXPECT_EQ(tree(f, kLogs), "L1 L2 L2/m.log MNStatusLog.txt Z Z/z.log");
}

TEST(LogSweepFailure, ListingThatBreaksOffIsChargedByWhetherTheFolderHasSubfolders) {
    for (const bool hasSubfolder : {false, true}) {
        FakeRun f;
        f.os.sortedListings = true;
        plant(f, kLogs, {"top.log", "N\\b.log", "Z\\z.log"}, kOld);
        plant(f, kLogs, {"N\\a.log"}, kYoung);
        if (hasSubfolder) plant(f, kLogs, {"N\\zsub\\s.log"}, kOld);
        // The listing of N breaks off at b.log once; N is listed again to count its subfolders.
        f.os.failOnceOn("listEntry", kLogs + "N\\b.log");
        sweepLogs(f);
        // Nested: N's own invocation had chosen nothing. In place: the top one had chosen top.log.
        EXPECT_EQ(f.logMessages(),
                  Lines{logError(hasSubfolder ? "" : f.install + kLogs + "top.log")});
        expectFailedReports(f, 1, "Delete log failed. - ", "Agent_DeleteLogs_MNStatus");
        EXPECT_EQ(tree(f, kLogs), hasSubfolder
                                      ? "MNStatusLog.txt N N/a.log N/b.log N/zsub N/zsub/s.log Z"
                                      : "MNStatusLog.txt N N/a.log N/b.log Z Z/z.log");
    }
}

TEST(DataSweepFailure, ASubfolderThatCannotBeMeasuredEndsTheInvocationThatExaminesIt) {
    FakeRun f;
    f.os.sortedListings = true;
    plant(f, kData, {"top.dat", "A\\a.dat", "Z\\z.dat"}, kOld);
    f.os.failOn("listFolder", kData + "A\\");
    sweepData(f, kData + "top.dat", 15);
    // A's own invocation fails, then the top one cannot measure A; Z is not swept.
    EXPECT_EQ(f.logMessages(), (Lines{kDataError, kDataError}));
    expectFailedReports(f, 2, "Failed to Delete data", "Agent_DeleteData_MNStatus");
    EXPECT_EQ(tree(f, kData), "A A/a.dat Z Z/z.dat");
}

TEST(DataSweepFailure, ANestedFailureEndsAloneWhenItsFolderCanStillBeMeasured) {
    FakeRun f;
    f.os.sortedListings = true;
    makeFile(f, kData + "A\\young.dat", 4);
    for (const char* p : {"A\\B", "A\\C", "Z"}) makeFolder(f, kData + p);
    f.os.failOn("removeFolder", kData + "A\\B\\");
    sweepData(f, kData + "A\\young.dat", 1);
    EXPECT_EQ(f.logMessages(), Lines{kDataError});
    expectFailedReports(f, 1, "Failed to Delete data", "Agent_DeleteData_MNStatus");
    // A's invocation ended at B; the top one went on and removed Z.
    EXPECT_EQ(tree(f, kData), "A A/B A/C A/young.dat");
}

}  // namespace
}  // namespace quillet
