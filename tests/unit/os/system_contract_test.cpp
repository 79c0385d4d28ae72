// What the program relies on os::System for, checked against the machine
// itself: on the host over the substitutes in a temporary machine folder, on
// Windows (Wine in the test runs) over the real calls. The same tests run on
// both; a check only Windows can make says so when it skips. Run in a
// daylight-saving time zone (TZ=Europe/Berlin) for the local-date checks to count.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <thread>

#include "os/make_system.h"
#include "os/win32/command_line.h"
#include "scratch.h"
#ifdef _WIN32
#include "os/win32/win32_system.h"
#endif

namespace quillet::contract {
namespace {

using namespace std::string_literals;
using os::FolderEntry;
using os::kWaitObject0;
using os::Removal;

class Contract : public ::testing::Test {
protected:
    Scratch scratch;
    std::unique_ptr<os::System> os = os::makeSystem();
};
using CommandText = Contract;
using Registry = Contract;
using Files = Contract;
using FolderWalk = Contract;
using Links = Contract;
using Processes = Contract;

void expectFailure(long expected, const std::string& what, const std::function<void()>& call) {
    try {
        call();
        ADD_FAILURE() << what << ": no Failure thrown";
    } catch (const Failure& f) {
        EXPECT_EQ(f.number, expected) << what << ": " << f.description;
        // The system's own text, without the line break that ends it there.
        EXPECT_TRUE(f.description != "" && f.description.find_first_of("\r\n") == std::string::npos)
            << what << ": " << f.description;
    }
}

std::vector<FolderEntry> listAll(os::Folder& folder) {
    std::vector<FolderEntry> entries;
    for (FolderEntry entry; folder.next(entry);) entries.push_back(entry);
    return entries;
}

// By the name as the file system spells it; an empty entry when not listed.
FolderEntry named(const std::vector<FolderEntry>& entries, const std::string& utf8) {
    for (const auto& e : entries)
        if (e.nativeName == Scratch::nativeName(utf8)) return e;
    return {};
}

std::string text(const os::LocalTime& t) {
    char out[32];
    std::snprintf(out, sizeof out, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return out;
}

TEST_F(CommandText, LeavesOutTheProgramNameAsTheRuntimeParsesItAndOneBlank) {
    const char* const cases[][2] = {
        {"quillet.exe\tLOG,DATA", "LOG,DATA"},
        {"\"C:\\Program Files (x86)\\KORBOD Agent\\quillet.exe\" LOG, DATA", "LOG, DATA"},
        {"C:\\Agents\\\"KORBOD x\"\\quillet.exe TYPE", "TYPE"},
        {"\"C:\\unterminated quote", ""},
        {"quillet.exe", ""},
        {"C:\\QTest\\quillet.exe ", ""},
        {"  LOG", " LOG"}};
    for (const auto& c : cases) EXPECT_EQ(os::win32::commandTextFrom(c[0]), c[1]) << c[0];
    EXPECT_EQ(os::win32::commandTextFrom(nullptr), "");
}

TEST_F(CommandText, SystemProgramsAreStartedFromTheSystemFolderOnly) {
    const std::string agent = " /s \"C:\\Program Files (x86)\\KORBOD Agent\\Logparser.dll\"";
    const std::string sys = "C:\\Windows\\system32", spaced = "C:\\Win dows\\system32";
    const std::string cases[][3] = {
        {sys + "\\", "\"RegSvr32.EXE\"" + agent, sys + "\\regsvr32.exe" + agent},
        {sys, "cmd /c regsvr32" + agent, sys + "\\cmd.exe /c " + sys + "\\regsvr32.exe" + agent},
        {sys, "CMD.exe /C exit 3", sys + "\\cmd.exe /C exit 3"},
        // cmd takes the first and the last quote off what follows /c
        {spaced, "cmd /c regsvr32" + agent,
         "\"" + spaced + "\\cmd.exe\" /c \"\"" + spaced + "\\regsvr32.exe\"" + agent + "\""},
        {sys, "C:\\Agent\\regsvr32.exe" + agent, "C:\\Agent\\regsvr32.exe" + agent},
        {sys, "regsvr32x" + agent, "regsvr32x" + agent},
        {sys, "Parvix.exe Local", "Parvix.exe Local"},
        {sys, "cmdx /c regsvr32", "cmdx /c regsvr32"},
    };
    for (const auto& [folder, line, started] : cases)
        EXPECT_EQ(os::win32::withSystemProgramPaths(line, folder), started) << line;
}

const std::string kKey = "Software\\QuilletContract";

// Values of every type are read by whole runs on both targets; none has an
// empty one.
TEST_F(Registry, ListsMoreSubkeysThanASixteenBitIndexCountsAndTellsEmptyFromMissing) {
    std::vector<RegFixture> fixtures{{kKey, "Nothing", 3, ""}};
    char name[8];
    for (int i = 0; i < 33000; ++i) {
        std::snprintf(name, sizeof name, "K%05d", i);
        fixtures.push_back({kKey + "\\Many\\" + name});
    }
    scratch.setRegistry(fixtures);
    const auto all = os->regEnumSubkeys(kKey + "\\Many");
    ASSERT_TRUE(all.has_value());
    EXPECT_EQ(all->size(), 33000u);
    EXPECT_EQ(all->back(), "K32999");
    const auto nothing = os->regQueryValue(kKey + "\\", "Nothing");
    EXPECT_TRUE(nothing && nothing->type == 3 && nothing->data.empty());
    EXPECT_FALSE(os->regEnumSubkeys(kKey + "Missing"));
    EXPECT_FALSE(os->regQueryValue(kKey + "Missing\\", "Nothing"));
    EXPECT_FALSE(os->regQueryValue(kKey, "Missing"));
}

TEST_F(Files, RefusedCallsThrowThePlatformsError) {
    ASSERT_TRUE(scratch.make({"folder\\", "readonly.log", "shared.log"}) &&
                scratch.makeReadOnly("readonly.log") &&
                scratch.makeHardLink("second name.log", "shared.log"));
    const std::string at = scratch.at("");
    const std::tuple<const char*, long, std::function<void()>> cases[] = {
        {"append into a missing folder", Error::pathNotFound,
         [&] { os->appendToFile(at + "no\\x", "x"); }},
        // Never into a read-only file, whoever asks (root, and Wine run by root).
        {"append to a read-only file", Error::accessDenied,
         [&] { os->appendToFile(at + "readonly.log", "x"); }},
        // A hard link put in the place of the log below the agent's folder.
        {"append to a second name of a file", Error::secondName,
         [&] {
             os->confineWritesTo(at, {});
             os->appendToFile(at + "second name.log", "x");
         }},
        {"delete a missing file", Error::fileNotFound, [&] { os->deleteFile(at + "missing.txt"); }},
        {"delete a folder", Error::isAFolder, [&] { os->deleteFile(at + "folder"); }},
        {"open a missing folder", Error::pathNotFound, [&] { os->openFolder(at + "no\\"); }},
        {"open a file as a folder", Error::notAFolder,
         [&] { os->openFolder(at + "readonly.log"); }},
    };
    for (const auto& [what, error, call] : cases) expectFailure(error, what, call);
    EXPECT_EQ(scratch.read("shared.log"), "12345");
    EXPECT_EQ(scratch.read("readonly.log"), "12345");
    EXPECT_TRUE(scratch.exists("folder"));
}

TEST_F(Files, CaseAndHiddenOrSystemAttributesAsWindowsHasThem) {
    ASSERT_TRUE(scratch.make({"Report.TXT", "hidden.txt", "system.txt"}));
    if (!scratch.makeHidden("hidden.txt", false) || !scratch.makeHidden("system.txt", true))
        GTEST_SKIP()
            << "Windows only: host names are case-sensitive, with no hidden or system files";
    EXPECT_TRUE(os->status(scratch.at("REPORT.txt")).isFile);
    for (const char* name : {"hidden.txt", "system.txt"}) {
        const os::PathStatus status = os->status(scratch.at(name));
        EXPECT_TRUE(status.isFile && status.hiddenOrSystem) << name;
    }
}

TEST_F(Files, PathsPastThreeHundredCharactersWorkLikeAnyOther) {
    std::string deep;
    for (char letter = 'a'; scratch.at(deep).size() < 300; ++letter) {
        deep += std::string(40, letter) + "\\";
        ASSERT_TRUE(scratch.make({deep})) << deep;
    }
    const std::string farLog = scratch.at(deep + "farLog.log");
    os->appendToFile(farLog, "12345");
    const os::PathStatus status = os->status(farLog);
    EXPECT_TRUE(status.isFile && status.size == 5u && status.storedName == "farLog.log");
    EXPECT_TRUE(os->status(scratch.at(deep)).isFolder);
    EXPECT_EQ(listAll(*os->openFolder(scratch.at(deep))).size(), 1u);
    os->deleteFile(farLog);
    EXPECT_FALSE(os->status(farLog).exists);
}

const std::string kEmojiLog = "\U0001F600.log";

// The sweeps count a file's age in days: a daylight-saving hour applied to
// the wrong date moves a file half an hour from midnight to another day.
TEST_F(FolderWalk, ListsModifiedTimesInTheLocalTimeOfTheirDate) {
    const os::LocalTime winter{2020, 12, 31, 23, 30, 10}, summer{2021, 7, 1, 0, 30, 20};
    ASSERT_TRUE(scratch.make({"walk\\", "walk\\winter.txt", "walk\\summer.txt"}) &&
                scratch.setModified("walk\\winter.txt", winter) &&
                scratch.setModified("walk\\summer.txt", summer));
    const auto entries = listAll(*os->openFolder(scratch.at("walk")));
    EXPECT_EQ(text(named(entries, "winter.txt").modified), text(winter));
    EXPECT_EQ(text(named(entries, "summer.txt").modified), text(summer));
}

TEST_F(FolderWalk, ATimeNoDateHoldsIsTheEarliest) {
#ifdef _WIN32
    // Five hours west of UTC a zero time, which file systems give for a time
    // they do not keep, falls on 31 December 1600: no system date holds it.
    TIME_ZONE_INFORMATION west = {};
    west.Bias = 300;
    for (const std::uint64_t stamp : {0ull, 0x8000000000000000ull, 0xFFFFFFFFFFFFFFFFull}) {
        const FILETIME fileTime{static_cast<DWORD>(stamp), static_cast<DWORD>(stamp >> 32)};
        EXPECT_EQ(text(os::win32::localTimeOfFile(fileTime, &west)), "1601-01-01 00:00:00")
            << std::hex << stamp;
    }
#else
    GTEST_SKIP() << "Windows only: file times as the system converts them";
#endif
}

TEST_F(FolderWalk, RemovesFilesAndEmptyFoldersReadOnlyOrNotButNoFullFolder) {
    ASSERT_TRUE(scratch.make({"walk\\", "walk\\" + kEmojiLog, "walk\\empty\\", "walk\\readonly.txt",
                              "walk\\full\\", "walk\\full\\inner.txt", "walk\\busy.txt",
                              "walk\\held.txt", "walk\\held by path.txt"}) &&
                scratch.makeReadOnly("walk\\empty") && scratch.makeReadOnly("walk\\readonly.txt"));
    auto folder = os->openFolder(scratch.at("walk"));
    const auto entries = listAll(*folder);
    EXPECT_EQ(folder->remove(named(entries, "full"), {}), Removal::kept);
    EXPECT_TRUE(scratch.exists("walk\\full\\inner.txt"));
    for (const std::string& name : {kEmojiLog, "readonly.txt"s, "empty"s}) {
        EXPECT_EQ(folder->remove(named(entries, name), {}), Removal::removed) << name;
        EXPECT_FALSE(scratch.exists("walk\\" + name)) << name;
        EXPECT_EQ(folder->remove(named(entries, name), {}), Removal::gone) << name;
    }
    // In use without delete sharing (Windows only: the host has no sharing modes).
    if (const auto hold = scratch.holdOpen("walk\\busy.txt")) {  // 32: ERROR_SHARING_VIOLATION
        expectFailure(32, "remove a file in use",
                      [&] { folder->remove(named(entries, "busy.txt"), {}); });
        EXPECT_TRUE(scratch.exists("walk\\busy.txt"));
    }
    // Held by a program that lets it be deleted (the agent reading its log):
    // where the deletion waits for it to let go, the name is free at once.
    if (const auto hold = scratch.holdOpen("walk\\held.txt", true)) {
        const auto holdToo = scratch.holdOpen("walk\\held by path.txt", true);
        EXPECT_EQ(folder->remove(named(entries, "held.txt"), {}), Removal::removed);
        os->deleteFile(scratch.at("walk\\held by path.txt"));
        EXPECT_FALSE(scratch.exists("walk\\held.txt") || scratch.exists("walk\\held by path.txt"));
    }
}

TEST_F(FolderWalk, LeavesAloneWhatTookAListedEntrysNameOrWhatIsGone) {
    ASSERT_TRUE(scratch.make(
        {"walk\\", "walk\\swapped\\", "walk\\gone\\", "walk\\swapped.txt", "walk\\gone.txt"}));
    auto folder = os->openFolder(scratch.at("walk"));
    const auto entries = listAll(*folder);
    // Renamed away and replaced by new ones of the same name; deleted.
    ASSERT_TRUE(scratch.rename("walk\\swapped", "walk\\swapped.away") &&
                scratch.rename("walk\\swapped.txt", "walk\\swapped.txt.away") &&
                scratch.make({"walk\\swapped\\", "walk\\swapped.txt"}) &&
                scratch.remove("walk\\gone") && scratch.remove("walk\\gone.txt"));
    // Another object under the name says so; a gone one is nothing to say.
    expectFailure(Error::replaced, "enter a replaced folder",
                  [&] { folder->openSubfolder(named(entries, "swapped")); });
    for (const char* name : {"swapped", "swapped.txt"})
        expectFailure(Error::replaced, name, [&] { folder->remove(named(entries, name), {}); });
    EXPECT_FALSE(folder->openSubfolder(named(entries, "gone")));
    for (const char* name : {"gone", "gone.txt"})
        EXPECT_EQ(folder->remove(named(entries, name), {}), Removal::gone) << name;
    for (const char* name : {"swapped", "swapped.away", "swapped.txt", "swapped.txt.away"})
        EXPECT_TRUE(scratch.exists("walk\\"s + name)) << name;
}

TEST_F(FolderWalk, RemovesEveryEntryOnceWhileTheListingGoesOn) {
    std::vector<std::string> many{"many\\"};  // more than one fetch of entries holds
    for (int i = 0; i < 700; ++i)
        many.push_back("many\\" + std::to_string(i) + std::string(60, 'n'));
    ASSERT_TRUE(scratch.make(many));
    auto folder = os->openFolder(scratch.at("many"));
    int listed = 0, removed = 0;
    for (FolderEntry e; folder->next(e); ++listed)
        removed += folder->remove(e, {}) == Removal::removed ? 1 : 0;
    EXPECT_EQ(listed, 700);
    EXPECT_EQ(removed, 700);
    EXPECT_TRUE(listAll(*os->openFolder(scratch.at("many"))).empty());
}

TEST_F(Links, AreListedButNeverEnteredOrDeletedThrough) {
    // The target is empty: a deletion through a link would take it.
    ASSERT_TRUE(scratch.make({"target\\", "links\\"}));
    if (!scratch.makeFolderLink("links\\dirlink", "target") ||
        !scratch.makeFolderLink("links\\dirlink2", "target"))
        GTEST_SKIP() << "this system makes no folder link here (Wine makes none)";
    auto folder = os->openFolder(scratch.at("links"));
    const FolderEntry link = named(listAll(*folder), "dirlink");
    EXPECT_TRUE(link.isLink && link.isFolder);
    EXPECT_FALSE(folder->openSubfolder(link));
    expectFailure(Error::link, "open a link as a folder",
                  [&] { os->openFolder(scratch.at("links\\dirlink")); });
    EXPECT_EQ(folder->remove(link, {}), Removal::removed);
    os->deleteFile(scratch.at("links\\dirlink2"));
    EXPECT_FALSE(scratch.exists("links\\dirlink") || scratch.exists("links\\dirlink2"));
    EXPECT_TRUE(os->status(scratch.at("target")).isFolder);
}

TEST_F(Links, AreTheNameSurrogateReparsePointsOnlyTheRestIsData) {
#ifndef _WIN32
    GTEST_SKIP() << "Windows only: reparse tags are Windows' own";
#else
    // A deduplicated or cloud-synced file taken for a link would be measured
    // as holding no bytes, and a young one deleted with its folder.
    const std::uint32_t reparse = FILE_ATTRIBUTE_REPARSE_POINT, folder = FILE_ATTRIBUTE_DIRECTORY;
    const struct {
        const char* what;
        std::uint32_t attributes, tag;
        bool link;
    } rows[] = {
        {"symbolic link", reparse, IO_REPARSE_TAG_SYMLINK, true},
        {"junction or mount point", reparse | folder, IO_REPARSE_TAG_MOUNT_POINT, true},
        {"WSL symbolic link", reparse, 0xA000001D, true},
        {"no tag told (Wine)", reparse | folder, 0, true},
        {"deduplicated file", reparse, IO_REPARSE_TAG_DEDUP, false},
        {"cloud placeholder", reparse, 0x9000001A, false},
        {"cloud placeholder folder", reparse | folder, 0x9000701A, false},
        {"system-compressed file (WOF)", reparse, 0x80000017, false},
        {"unknown tag that is no name surrogate", reparse, 0x00000123, false},
        {"a link's tag without the reparse attribute", folder, IO_REPARSE_TAG_SYMLINK, false},
    };
    for (const auto& row : rows)
        EXPECT_EQ(os::win32::isLinkTag(row.attributes, row.tag), row.link) << row.what;
#endif
}

TEST_F(Processes, StartWaitEndAndGiveTheirExitCodes) {
    auto sleeper = os->startCommandLine("\"" + Scratch::selfPath() + "\" --sleep 20000");
    EXPECT_EQ(sleeper->wait(300), os::kWaitTimeout);
    sleeper->terminate(7);
    EXPECT_EQ(sleeper->wait(10000), kWaitObject0);
    EXPECT_EQ(sleeper->exitCode(), 7u);
    EXPECT_FALSE(os->shellOpen(scratch.at("no_such_program.exe"), "Local"));
    expectFailure(Error::fileNotFound, "start a missing program",
                  [&] { os->startCommandLine("quillet_no_such_program /x"); });
    if (kWindows)  // a shell built-in is no program (on the host echo is one)
        expectFailure(Error::fileNotFound, "start echo", [&] { os->startCommandLine("echo x"); });
}

}  // namespace
}  // namespace quillet::contract

// Its own child for the process checks: --sleep MS.
int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--sleep") {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::atoi(argv[2])));
        return 0;
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
