#include "housekeeping/aged_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include "support/fake_system.h"

namespace quillet {
namespace {

namespace fs = std::filesystem;
using testing::FakeRun;
using Lines = std::vector<std::string>;

std::time_t epochOf(const os::LocalTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    return std::mktime(&tm);
}

// The local date `plusDays` calendar days after `date`, at the given time.
os::LocalTime onDay(const os::LocalTime& date, long plusDays, int hour, int minute, int second = 0) {
    std::tm tm{};
    tm.tm_year = date.year - 1900;
    tm.tm_mon = date.month - 1;
    tm.tm_mday = static_cast<int>(date.day + plusDays);
    tm.tm_hour = 12;
    tm.tm_isdst = -1;
    std::mktime(&tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, hour, minute, second};
}

// Sets the last-modification time of a file, or of a link itself.
void setModified(const std::string& hostPath, const os::LocalTime& t) {
    const timespec times[2] = {{epochOf(t), 0}, {epochOf(t), 0}};
    if (utimensat(AT_FDCWD, hostPath.c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("utimensat failed on " + hostPath);
}

// Creation times cannot be set: the tests read them and move the clock instead.
os::LocalTime createdOf(FakeRun& f, const std::string& relative) {
    const auto cut = relative.find_last_of('\\');
    auto listing = f.os.HostSystem::listFolder(f.install + relative.substr(0, cut + 1));
    os::FolderEntry entry;
    while (listing->next(entry))
        if (entry.name == relative.substr(cut + 1)) return entry.created;
    throw std::runtime_error("not listed: " + relative);
}

void makeFile(FakeRun& f, const std::string& relative, std::uintmax_t size) {
    f.writeFile(relative, "");
    fs::resize_file(f.hostFile(relative), size);
}

void makeFolder(FakeRun& f, const std::string& relative) { fs::create_directories(f.hostFile(relative)); }

std::string logsFolder(const FakeRun& f) { return f.install + "ApplicationLog\\"; }
std::string dataFolder(const FakeRun& f) { return f.install + "Datadirectory\\"; }

const os::LocalTime kNow{2026, 12, 10, 12, 0, 0};
const os::LocalTime kOld{2026, 12, 1, 12, 0, 0};     // 9 days before kNow
const os::LocalTime kYoung{2026, 12, 10, 8, 0, 0};

std::string logError(const std::string& lastChosen) {
    return "ERR : Error while deleting log files. Error No. : 5, Error Description : Access is "
           "denied., Source = PriSubDeleteLogs(), File=" + lastChosen;
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
        EXPECT_NE(text.find("\r\nDesc=" + desc + "\r\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\r\nPID=" + pid + "\r\n"), std::string::npos) << text;
        EXPECT_NE(text.find("\r\nLastRunStatusCode=Failed\r\n"), std::string::npos) << text;
    }
    EXPECT_FALSE(f.run.overallStatusOK);
    EXPECT_EQ(f.run.statusDescription, "") << "emptied by the report";
}

void expectQuiet(const FakeRun& f) {
    EXPECT_TRUE(f.logMessages().empty());
    EXPECT_TRUE(f.reportFiles().empty());
    EXPECT_TRUE(f.run.overallStatusOK);
}

// ------------------------------------------------------------------- ages

TEST(LogSweepAge, CountsCalendarDaysOfTheModificationTime) {
    struct Case {
        const char* what;
        os::LocalTime now, modified;
        bool deleted;
    } cases[] = {
        {"23:59 six dates back, only five days and two minutes ago", {2026, 12, 10, 0, 1, 0}, {2026, 12, 4, 23, 59, 0}, true},
        {"00:01 five dates back, almost six days ago", {2026, 12, 10, 23, 59, 0}, {2026, 12, 5, 0, 1, 0}, false},
        {"six dates back across a month end", {2026, 12, 3, 12, 0, 0}, {2026, 11, 27, 12, 0, 0}, true},
        {"five dates back across a year end", {2027, 1, 3, 0, 0, 0}, {2026, 12, 29, 23, 59, 59}, false},
        {"stamped in the future", {2026, 12, 10, 12, 0, 0}, {2031, 1, 1, 0, 0, 0}, false},
        {"years ago", {2026, 12, 10, 12, 0, 0}, {2001, 6, 1, 0, 0, 0}, true},
    };
    for (const auto& c : cases) {
        FakeRun f;
        f.writeFile("ApplicationLog\\x.log", "log");
        setModified(f.hostFile("ApplicationLog\\x.log"), c.modified);
        f.os.clock = c.now;
        PriSubDeleteLogs(f.ctx, logsFolder(f));
        EXPECT_EQ(!f.exists("ApplicationLog\\x.log"), c.deleted) << c.what;
        expectQuiet(f);
    }
}

TEST(DataSweepAge, CountsCalendarDaysOfTheCreationTimeWhateverTheModificationTime) {
    struct Case {
        const char* what;
        std::int16_t days;
        long nowPlusDays;
        int hour, minute;
        long modifiedPlusDays;
        bool deleted;
    } cases[] = {
        {"14 dates later, modified long before", 14, 14, 23, 59, -400, false},
        {"15 dates later, modified in the future", 14, 15, 0, 0, 30, true},
        {"created today, limit 0", 0, 0, 23, 59, -400, false},
        {"created yesterday at any hour, limit 0", 0, 1, 0, 1, 0, true},
        {"created in the future, limit 0", 0, -1, 12, 0, -400, false},
        {"45-day limit, 45 dates later", 45, 45, 12, 0, 0, false},
        {"45-day limit, 46 dates later", 45, 46, 12, 0, 0, true},
        {"7-day limit, 8 dates later", 7, 8, 12, 0, 0, true},
    };
    for (const auto& c : cases) {
        FakeRun f;
        f.writeFile("Datadirectory\\x.dat", "data");
        const os::LocalTime created = createdOf(f, "Datadirectory\\x.dat");
        setModified(f.hostFile("Datadirectory\\x.dat"), onDay(created, c.modifiedPlusDays, 12, 0));
        f.os.clock = onDay(created, c.nowPlusDays, c.hour, c.minute);
        PriSubDeleteOldData(f.ctx, dataFolder(f), c.days);
        EXPECT_EQ(!f.exists("Datadirectory\\x.dat"), c.deleted) << c.what;
        EXPECT_TRUE(f.exists("Datadirectory")) << "the swept folder itself always stays";
        expectQuiet(f);
    }
}

// ------------------------------------------------------------------ log sweep

TEST(LogSweepSize, DeletesYoungFilesLargerThanFiveMebibytes) {
    for (const std::uintmax_t size : {0u, 5242880u, 5242881u}) {
        FakeRun f;
        makeFile(f, "ApplicationLog\\big.log", size);
        setModified(f.hostFile("ApplicationLog\\big.log"), kYoung);
        f.os.clock = kNow;
        PriSubDeleteLogs(f.ctx, logsFolder(f));
        EXPECT_EQ(f.exists("ApplicationLog\\big.log"), size <= 5242880u) << size;
        expectQuiet(f);
    }
}

TEST(LogSweepWalk, DeletesOldAndLargeFilesAtAnyDepthAndNeverAFolder) {
    FakeRun f;
    const Lines old = {"ApplicationLog\\old.log", "ApplicationLog\\A\\old.log",
                       "ApplicationLog\\A\\B\\C\\old.log", "ApplicationLog\\Leaf\\old.txt"};
    const Lines young = {"ApplicationLog\\young.log", "ApplicationLog\\A\\young.log",
                         "ApplicationLog\\A\\B\\young.log", "ApplicationLog\\A\\B\\C\\young.log",
                         "ApplicationLog\\Leaf\\young.txt"};
    for (const auto& p : old) {
        f.writeFile(p, "old");
        setModified(f.hostFile(p), kOld);
    }
    for (const auto& p : young) {
        f.writeFile(p, "young");
        setModified(f.hostFile(p), kYoung);
    }
    makeFolder(f, "ApplicationLog\\Empty");
    makeFile(f, "ApplicationLog\\MNStatusLog.txt", 5242881);
    setModified(f.hostFile("ApplicationLog\\MNStatusLog.txt"), kYoung);
    f.os.clock = kNow;

    PriSubDeleteLogs(f.ctx, logsFolder(f));

    for (const auto& p : old) EXPECT_FALSE(f.exists(p)) << p;
    for (const auto& p : young) EXPECT_TRUE(f.exists(p)) << p;
    for (const char* p : {"ApplicationLog\\Empty", "ApplicationLog\\A\\B\\C", "ApplicationLog\\Leaf"})
        EXPECT_TRUE(f.exists(p)) << p;
    EXPECT_FALSE(f.exists("ApplicationLog\\MNStatusLog.txt")) << "the activity log is no exception";
    expectQuiet(f);
}

TEST(LogSweepLinks, LinksAreJudgedByTheirOwnDatesAndNeverFollowed) {
    FakeRun f;
    // A tree outside the swept folder, all of it old or too large.
    const std::string outside = f.machine.path() + "/outside";
    fs::create_directories(outside + "/sub");
    for (const char* name : {"/o.log", "/sub/o.log"}) {
        std::ofstream(outside + name) << "old";
        setModified(outside + name, kOld);
    }
    std::ofstream(outside + "/big.log") << "";
    fs::resize_file(outside + "/big.log", 6 * 1048576);
    setModified(outside + "/big.log", kYoung);

    makeFolder(f, "ApplicationLog\\Leaf");
    struct Link {
        const char* relative;
        std::string target;
        os::LocalTime modified;
        bool stays;
    } links[] = {
        {"ApplicationLog\\young-folder-link", outside, kYoung, true},
        {"ApplicationLog\\old-folder-link", outside, kOld, false},
        {"ApplicationLog\\old-file-link", outside + "/o.log", kOld, false},
        {"ApplicationLog\\link-to-large-file", outside + "/big.log", kYoung, true},
        {"ApplicationLog\\Leaf\\young-folder-link", outside, kYoung, true},
        {"ApplicationLog\\Leaf\\old-folder-link", outside + "/sub", kOld, false},
    };
    for (const auto& l : links) {
        fs::create_symlink(l.target, f.hostFile(l.relative));
        setModified(f.hostFile(l.relative), l.modified);
    }
    f.os.clock = kNow;

    PriSubDeleteLogs(f.ctx, logsFolder(f));

    for (const auto& l : links) EXPECT_EQ(f.exists(l.relative), l.stays) << l.relative;
    for (const char* name : {"/o.log", "/sub/o.log", "/big.log"})
        EXPECT_TRUE(fs::exists(outside + name)) << name << " was reached through a link";
    expectQuiet(f);
}

// ----------------------------------------------------------------- data sweep

TEST(DataSweepFolders, RemovesSubfoldersLeftWithoutBytes) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, long>> entries;   // size -1: a folder
        bool old;                                            // all past the limit, or none
        Lines gone, kept;
    } cases[] = {
        {"emptied by the sweep", {{"S\\a.dat", 10}, {"S\\T\\b.dat", 10}}, true, {"S"}, {}},
        {"only a young zero-length file", {{"S\\z.dat", 0}}, false, {"S"}, {}},
        {"one young non-empty file", {{"S\\y.dat", 1}}, false, {}, {"S\\y.dat"}},
        {"only empty folders beneath", {{"S\\a\\b", -1}, {"S\\c", -1}}, false, {"S"}, {}},
        {"young bytes deep down keep their chain",
         {{"S\\a\\b\\y.dat", 3}, {"S\\a\\z.dat", 0}, {"S\\e\\f", -1}},
         false, {"S\\e"}, {"S\\a\\b\\y.dat", "S\\a\\z.dat"}},
        {"old file three levels down", {{"S\\a\\b\\old.dat", 5}, {"top.dat", 5}}, true, {"S", "top.dat"}, {}},
        {"the swept folder itself", {}, true, {}, {""}},
    };
    for (const auto& c : cases) {
        FakeRun f;
        makeFolder(f, "Datadirectory");
        for (const auto& [relative, size] : c.entries) {
            if (size < 0)
                makeFolder(f, "Datadirectory\\" + relative);
            else
                makeFile(f, "Datadirectory\\" + relative, static_cast<std::uintmax_t>(size));
        }
        const os::LocalTime created = createdOf(f, "Datadirectory");
        f.os.clock = onDay(created, c.old ? 15 : 1, 12, 0);
        PriSubDeleteOldData(f.ctx, dataFolder(f), 14);
        for (const auto& p : c.gone) EXPECT_FALSE(f.exists("Datadirectory\\" + p)) << c.what << ": " << p;
        for (const auto& p : c.kept) EXPECT_TRUE(f.exists("Datadirectory\\" + p)) << c.what << ": " << p;
        expectQuiet(f);
    }
}

TEST(DataSweepLinks, LinksGoAsLinksAndWhatTheyPointToStays) {
    for (const bool old : {true, false}) {
        FakeRun f;
        const std::string outside = f.machine.path() + "/outside";
        fs::create_directories(outside + "/sub");
        std::ofstream(outside + "/f.dat") << "bytes";
        std::ofstream(outside + "/sub/g.dat") << "bytes";
        std::ofstream(outside + "/sub/empty.dat") << "";
        makeFolder(f, "Datadirectory\\S");
        makeFile(f, "Datadirectory\\T\\y.dat", 1);
        fs::create_symlink(outside, f.hostFile("Datadirectory\\S\\folder-link"));
        fs::create_symlink(outside + "/sub", f.hostFile("Datadirectory\\T\\folder-link"));
        fs::create_symlink(outside + "/f.dat", f.hostFile("Datadirectory\\file-link"));
        f.os.clock = onDay(createdOf(f, "Datadirectory\\S\\folder-link"), old ? 30 : 1, 12, 0);

        PriSubDeleteOldData(f.ctx, dataFolder(f), 14);

        // S held nothing but a link: no bytes, so it goes, its link removed as a link.
        EXPECT_FALSE(f.exists("Datadirectory\\S")) << old;
        EXPECT_EQ(f.exists("Datadirectory\\T\\folder-link"), !old);
        EXPECT_EQ(f.exists("Datadirectory\\file-link"), !old);
        EXPECT_EQ(f.exists("Datadirectory\\T\\y.dat"), !old);
        for (const char* name : {"/f.dat", "/sub/g.dat", "/sub/empty.dat"})
            EXPECT_TRUE(fs::exists(outside + name)) << name << " was reached through a link";
        expectQuiet(f);
    }
}

// ------------------------------------------------- missing folders, deletion

TEST(LogSweepMissingFolder, NeitherSweepDoesAnythingForAFolderThatIsNotThere) {
    FakeRun f;
    f.run.statusDescription = "from an earlier check";
    PriSubDeleteLogs(f.ctx, f.install + "ApplicationLog\\");
    PriSubDeleteOldData(f.ctx, f.install + "Datadirectory\\", 14);
    expectQuiet(f);
    EXPECT_EQ(f.run.statusDescription, "from an earlier check");
    for (const auto& call : f.os.calls) EXPECT_NE(call.rfind("listFolder", 0), 0u) << call;
}

TEST(DeleteFile, ReadOnlyAndMissingFiles) {
    FakeRun f;
    f.writeFile("Datadirectory\\ro.dat", "read-only");
    f.writeFile("ApplicationLog\\ro.log", "read-only");
    setModified(f.hostFile("ApplicationLog\\ro.log"), kOld);
    for (const char* p : {"Datadirectory\\ro.dat", "ApplicationLog\\ro.log"})
        chmod(f.hostFile(p).c_str(), 0444);
    f.writeFile("direct.txt", "x");
    chmod(f.hostFile("direct.txt").c_str(), 0444);

    SubDeleteFiles(f.ctx, f.install + "direct.txt");
    SubDeleteFiles(f.ctx, f.install + "never-was.txt");
    f.os.clock = kNow;
    PriSubDeleteLogs(f.ctx, logsFolder(f));
    f.os.clock = onDay(createdOf(f, "Datadirectory\\ro.dat"), 15, 12, 0);
    PriSubDeleteOldData(f.ctx, dataFolder(f), 14);

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
        for (const char* name : {"a.dat", "b.dat"}) {
            f.writeFile(folder + name, "bytes");
            setModified(f.hostFile(folder + name), kOld);
        }
        f.os.clock = logSweep ? kNow : onDay(createdOf(f, folder + "a.dat"), 20, 12, 0);
        f.os.failOn("deleteFile", "S\\a.dat", 32, busy);

        if (logSweep)
            PriSubDeleteLogs(f.ctx, logsFolder(f));
        else
            PriSubDeleteOldData(f.ctx, dataFolder(f), 14);

        EXPECT_EQ(f.logMessages(), Lines{"ERR : Error Source : SubDeleteFiles(),File : " +
                                         f.install + folder + "a.dat,Desc:" + busy});
        EXPECT_TRUE(f.exists(folder + "a.dat"));
        EXPECT_FALSE(f.exists(folder + "b.dat")) << "the sweep goes on";
        EXPECT_TRUE(f.reportFiles().empty());
        EXPECT_TRUE(f.run.overallStatusOK);
    }
}

// ------------------------------------------------------------ failure scopes

// Every file old; listings in name order so that "later siblings" are known.
void oldTree(FakeRun& f, const Lines& files) {
    f.os.sortedListings = true;
    for (const auto& p : files) {
        f.writeFile(p, "old");
        setModified(f.hostFile(p), kOld);
    }
    f.os.clock = kNow;
}

TEST(LogSweepFailure, AFolderThatCannotBeListedEndsTheInvocationThatLooksIntoIt) {
    FakeRun f;
    oldTree(f, {"ApplicationLog\\top.log", "ApplicationLog\\A\\a.log", "ApplicationLog\\A\\B\\b.log",
                "ApplicationLog\\A\\C\\c.log", "ApplicationLog\\Y\\D\\d.log",
                "ApplicationLog\\Y\\E\\e.log", "ApplicationLog\\Z\\z.log"});
    setModified(f.hostFile("ApplicationLog\\Y\\E\\e.log"), kYoung);
    f.os.failOn("listFolder", "ApplicationLog\\A\\B\\");
    f.os.failOn("listFolder", "ApplicationLog\\Y\\D\\");

    PriSubDeleteLogs(f.ctx, logsFolder(f));

    // A and Y are nested invocations; each ends at its unlistable subfolder
    // with its own last choice (Y chose nothing), and the top one goes on.
    EXPECT_EQ(f.logMessages(),
              (Lines{logError(f.install + "ApplicationLog\\A\\a.log"), logError("")}));
    expectFailedReports(f, 2, "Delete log failed. - ", "Agent_DeleteLogs_MNStatus");
    for (const char* p : {"ApplicationLog\\top.log", "ApplicationLog\\A\\a.log", "ApplicationLog\\Z\\z.log"})
        EXPECT_FALSE(f.exists(p)) << p;
    for (const char* p : {"ApplicationLog\\A\\B\\b.log", "ApplicationLog\\A\\C\\c.log",
                          "ApplicationLog\\Y\\D\\d.log", "ApplicationLog\\Y\\E\\e.log"})
        EXPECT_TRUE(f.exists(p)) << p;
}

TEST(LogSweepFailure, InPlaceFolderFailureEndsTheEnclosingInvocation) {
    FakeRun f;
    oldTree(f, {"ApplicationLog\\top.log", "ApplicationLog\\L1\\l.log", "ApplicationLog\\L2\\m.log",
                "ApplicationLog\\Z\\z.log"});
    f.os.failOn("listFolder", "ApplicationLog\\L2\\");

    PriSubDeleteLogs(f.ctx, logsFolder(f));

    // L1's file was examined in place: its choice is the top invocation's last.
    EXPECT_EQ(f.logMessages(), Lines{logError(f.install + "ApplicationLog\\L1\\l.log")});
    expectFailedReports(f, 1, "Delete log failed. - ", "Agent_DeleteLogs_MNStatus");
    EXPECT_FALSE(f.exists("ApplicationLog\\L1\\l.log"));
    EXPECT_TRUE(f.exists("ApplicationLog\\Z\\z.log")) << "later siblings are not examined";
}

TEST(LogSweepFailure, ListingThatBreaksOffIsChargedByWhetherTheFolderHasSubfolders) {
    for (const bool hasSubfolder : {false, true}) {
        FakeRun f;
        oldTree(f, {"ApplicationLog\\top.log", "ApplicationLog\\N\\b.log", "ApplicationLog\\Z\\z.log"});
        f.writeFile("ApplicationLog\\N\\a.log", "young");
        setModified(f.hostFile("ApplicationLog\\N\\a.log"), kYoung);
        if (hasSubfolder) oldTree(f, {"ApplicationLog\\N\\zsub\\s.log"});
        // The listing of N breaks off at b.log once; N is listed again to count its subfolders.
        f.os.failOnceOn("listEntry", "ApplicationLog\\N\\b.log");

        PriSubDeleteLogs(f.ctx, logsFolder(f));

        // Nested: N's own invocation had chosen nothing. In place: the top one had chosen top.log.
        EXPECT_EQ(f.logMessages(),
                  Lines{logError(hasSubfolder ? "" : f.install + "ApplicationLog\\top.log")});
        expectFailedReports(f, 1, "Delete log failed. - ", "Agent_DeleteLogs_MNStatus");
        EXPECT_TRUE(f.exists("ApplicationLog\\N\\b.log"));
        EXPECT_EQ(f.exists("ApplicationLog\\Z\\z.log"), !hasSubfolder) << hasSubfolder;
        if (hasSubfolder) {
            EXPECT_TRUE(f.exists("ApplicationLog\\N\\zsub\\s.log"));
        }
    }
}

TEST(DataSweepFailure, ASubfolderThatCannotBeMeasuredEndsTheInvocationThatExaminesIt) {
    FakeRun f;
    oldTree(f, {"Datadirectory\\top.dat", "Datadirectory\\A\\a.dat", "Datadirectory\\Z\\z.dat"});
    f.os.failOn("listFolder", "Datadirectory\\A\\");
    f.os.clock = onDay(createdOf(f, "Datadirectory\\top.dat"), 15, 12, 0);

    PriSubDeleteOldData(f.ctx, dataFolder(f), 14);

    // A's own invocation fails, then the top one cannot measure A.
    EXPECT_EQ(f.logMessages(), (Lines{kDataError, kDataError}));
    expectFailedReports(f, 2, "Failed to Delete data", "Agent_DeleteData_MNStatus");
    EXPECT_FALSE(f.exists("Datadirectory\\top.dat"));
    EXPECT_TRUE(f.exists("Datadirectory\\Z\\z.dat")) << "later siblings are not swept";
}

TEST(DataSweepFailure, ANestedFailureEndsAloneWhenItsFolderCanStillBeMeasured) {
    FakeRun f;
    f.os.sortedListings = true;
    makeFile(f, "Datadirectory\\A\\young.dat", 4);
    for (const char* p : {"Datadirectory\\A\\B", "Datadirectory\\A\\C", "Datadirectory\\Z"}) makeFolder(f, p);
    f.os.failOn("removeFolder", "Datadirectory\\A\\B\\");
    f.os.clock = onDay(createdOf(f, "Datadirectory\\A\\young.dat"), 1, 12, 0);

    PriSubDeleteOldData(f.ctx, dataFolder(f), 14);

    EXPECT_EQ(f.logMessages(), Lines{kDataError});
    expectFailedReports(f, 1, "Failed to Delete data", "Agent_DeleteData_MNStatus");
    for (const char* p : {"Datadirectory\\A\\young.dat", "Datadirectory\\A\\B", "Datadirectory\\A\\C"})
        EXPECT_TRUE(f.exists(p)) << p << ": A's invocation ended at B";
    EXPECT_FALSE(f.exists("Datadirectory\\Z")) << "the top invocation goes on";
}

}  // namespace
}  // namespace quillet
