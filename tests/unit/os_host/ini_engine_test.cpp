#include "os/host/ini_engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <utility>

#include "support/fake_system.h"

namespace quillet::os::host {
namespace {

using namespace std::string_literals;

class IniEngineTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NE(::mkdtemp(dir_.data()), nullptr); }
    void TearDown() override { std::filesystem::remove_all(dir_, ignored_); }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }
    std::set<std::string> folderNames() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_))
            names.insert(e.path().filename().string());
        return names;
    }
    std::string dir_ = ::testing::TempDir() + "/ini_engine_XXXXXX";
    std::error_code ignored_;
};
using IniEngineRead = IniEngineTest;
using IniEngineWrite = IniEngineTest;
using IniEngineCache = IniEngineTest;

// Rewrites the file in place (same inode), as an editor that truncates does, or appends.
void put(const std::string& file, const std::string& bytes, bool append = false) {
    std::ofstream(file, std::ios::binary | (append ? std::ios::app : std::ios::trunc)) << bytes;
}
std::string get(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
struct stat statOf(const std::string& file) {
    struct stat st {};
    EXPECT_EQ(::stat(file.c_str(), &st), 0) << file;
    return st;
}
// Sets the modification time this many seconds after a fixed moment.
constexpr long kStart = 1577836800;
void setTime(const std::string& file, long seconds) {
    const timespec times[2] = {{kStart + seconds, 0}, {kStart + seconds, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// Lookups and writes that Windows and this engine share are checked against
// Windows itself (tests/differential/ini_script.txt); Wine differs on these.
TEST_F(IniEngineRead, CommentsAndKeysBeforeAnySectionAreNoKeys) {
    put(path("a.ini"), "top=before any section\r\n[Main]\r\n;Commented=yes\r\n");
    IniEngine engine;
    EXPECT_EQ(engine.getString("", "top", "d", 100, path("a.ini")), "d");
    EXPECT_EQ(engine.getString("Main", ";Commented", "d", 100, path("a.ini")), "d");
    ASSERT_TRUE(engine.writeString("Main", ";c", "3", path("a.ini")));
    EXPECT_EQ(engine.getString("Main", ";c", "d", 100, path("a.ini")), "d");
}

// Every byte a write does not change is kept (Wine rewrites files its own
// way, so these bytes are checked here only).
TEST_F(IniEngineWrite, ReplacesInsertsOrAppendsAndKeepsEveryOtherByte) {
    const std::string mixed =
        "; top comment\r\n\r\n[Main]\n  Key = old value  \n odd line without equals\r\n;c\r\n\r\n"
        "[Other]\r\nKey=x\r\n";
    const std::string cases[][5] = {
        // before, section, key, value, after
        {mixed, "MAIN", "KEY", "new",
         "; top comment\r\n\r\n[Main]\nKEY=new\n odd line without equals\r\n;c\r\n\r\n"
         "[Other]\r\nKey=x\r\n"},
        {mixed, "main", "Added", "1",  // after the section's last non-blank line
         "; top comment\r\n\r\n[Main]\n  Key = old value  \n odd line without equals\r\n;c\r\n"
         "Added=1\r\n\r\n[Other]\r\nKey=x\r\n"},
        {"[A]\r\n[B]\r\n", "A", "k", "v", "[A]\r\nk=v\r\n[B]\r\n"},
        {"[A]\r\nk1=v1", "A", "k2", "v2", "[A]\r\nk1=v1\r\nk2=v2\r\n"},
        {"[S]\r\na=1\r\n[s]\r\nb=2\r\n", "S", "b", "3", "[S]\r\na=1\r\nb=3\r\n[s]\r\nb=2\r\n"},
        {"[S]\r\nk=1\r\nk=2\r\n", "s", "K", "9", "[S]\r\nK=9\r\nk=2\r\n"},
        {"[S]\r\nk=1", "S", "k", "22", "[S]\r\nk=22"},
        {"[S]\r\n", "S", "k", "  \"q\"  ", "[S]\r\nk=  \"q\"  \r\n"},  // written as given
        {"[S]\r\n", "S", "k", "ab\0cd"s, "[S]\r\nk=ab\r\n"},           // ends at a NUL
        // A missing section goes at the end, after a line end if the file has none.
        {"[A]\r\nk=v\r\n\r\n", "B", "k", "v", "[A]\r\nk=v\r\n\r\n[B]\r\nk=v\r\n"},
        {"[A]\r\nk=v", "B", "k", "v", "[A]\r\nk=v\r\n[B]\r\nk=v\r\n"},
        {"[A]\nk=v\n", "B", "k", "v", "[A]\nk=v\n[B]\r\nk=v\r\n"},
        {"", "B", "k", "v", "[B]\r\nk=v\r\n"},
        // Written texts that make sections of their own.
        {"[S]\r\nk=1\r\n[U]\r\nu=1\r\n", "S", "k", "x\r\n[Injected]\r\ny=4",
         "[S]\r\nk=x\r\n[Injected]\r\ny=4\r\n[U]\r\nu=1\r\n"},
        {"[S]\r\n[U]\r\nu=1\r\n", "S", "[T]", "2", "[S]\r\n[T]=2\r\n[U]\r\nu=1\r\n"},
    };
    const std::pair<const char*, const char*> probes[] = {
        {"Main", "Key"}, {"Other", "Key"}, {"A", "k1"}, {"A", "k2"},       {"B", "k"},
        {"S", "b"},      {"s", "b"},       {"S", "k"},  {"Injected", "y"}, {"U", "u"}};
    for (const auto& c : cases) {
        put(path("a.ini"), c[0]);
        IniEngine engine;
        EXPECT_TRUE(engine.writeString(c[1], c[2], c[3], path("a.ini")));
        EXPECT_EQ(get(path("a.ini")), c[4]) << c[0];
        // What the engine keeps of the file after the write is the file.
        IniEngine fresh;
        EXPECT_EQ(engine.getSectionNames(500, path("a.ini")),
                  fresh.getSectionNames(500, path("a.ini")));
        for (const auto& [s, k] : probes)
            EXPECT_EQ(engine.getString(s, k, "-", 100, path("a.ini")),
                      fresh.getString(s, k, "-", 100, path("a.ini")))
                << c[0] << s << k;
    }
}

TEST_F(IniEngineWrite, RefusedWritesReturnFalseAndLeaveNoTrace) {
    put(path("readonly.ini"), "[S]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(path("readonly.ini").c_str(), 0444), 0);
    ASSERT_EQ(::mkdir(path("folder.ini").c_str(), 0755), 0);
    const std::set<std::string> before = folderNames();
    IniEngine engine;
    for (const char* name : {"no/such/folder/x.ini", "no/x.ini", "folder.ini", "readonly.ini"}) {
        EXPECT_FALSE(engine.writeString("S", "k", "2", path(name))) << name;
        EXPECT_EQ(folderNames(), before) << name;
    }
    EXPECT_EQ(get(path("readonly.ini")), "[S]\r\nk=1\r\n");
    EXPECT_EQ(engine.getString("S", "k", "", 10, path("readonly.ini")), "1");
}

TEST_F(IniEngineWrite, RemovesTemporariesThatAKilledWriterLeft) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);  // a process number that is no longer in use
    const std::string dead = std::to_string(child), alive = std::to_string(::getpid());
    const std::set<std::string> kept{".a.ini.~" + alive + ".1", ".a.ini.~x.1",
                                     ".b.ini.~" + dead + ".1", ".a.ini.old" + dead + ".1"};
    for (const auto& name : kept) put(path(name), "");
    put(path(".a.ini.~" + dead + ".3"), "x");
    IniEngine engine;
    ASSERT_TRUE(engine.writeString("S", "k", "v", path("a.ini")));
    std::set<std::string> expected = kept;
    expected.insert("a.ini");
    EXPECT_EQ(folderNames(), expected);
}

TEST_F(IniEngineWrite, ReplacesTheFileWholeAndKeepsItsMode) {
    const std::string file = path("a.ini");
    put(file, "[S]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    // A reader that opened the file before the write reads the old file whole.
    const int reader = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);
    IniEngine engine;
    ASSERT_TRUE(engine.writeString("S", "k", "a much longer value than before", file));
    char buffer[64] = {};
    const ssize_t n = ::pread(reader, buffer, sizeof buffer, 0);
    ::close(reader);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "[S]\r\nk=1\r\n");
    EXPECT_EQ(statOf(file).st_mode & 07777, 0640u);
    EXPECT_EQ(folderNames(), std::set<std::string>{"a.ini"});  // no temporary file left

    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_TRUE(engine.writeString("S", "k", "v", path("new.ini")));
    EXPECT_EQ(statOf(path("new.ini")).st_mode & 07777, 0666u & ~mask);
}

// The host's ANSI code page is UTF-8, so text written into a UTF-16 file
// may hold bytes that are no UTF-8 character (a Latin-1 device name from an
// ANSI export). Each must come back as written, or the next run misses its
// section and adds it again.
TEST_F(IniEngineWrite, EveryByteStringReadsBackFromAUtf16File) {
    const std::string names[] = {
        "caf\xE9",     "\xFF",         "\xC3",         "\xC3\xA9 valid",   "\xE9\xC3\xA9",
        "\xC0\xAF",    "\xED\xA0\x80", "\xED\xB2\x80", "\xF4\x90\x80\x80", "\xF0\x9F\x98\x80\xF0",
        "\xEF\xBF\xBD"};
    const std::string file = path("u.ini");
    for (const std::string& name : names) {
        SCOPED_TRACE(::testing::PrintToString(name));
        put(file, "\xFF\xFE");
        for (int run = 0; run < 3; ++run) {
            IniEngine engine;
            if (engine.getString(name, "Type", "", 10, file).empty()) {
                ASSERT_TRUE(engine.writeString(name, "Type", "1", file));
            }
            ASSERT_TRUE(engine.writeString("S", "v", name, file));
            EXPECT_EQ(engine.getString("S", "v", "", 100, file), name);
        }
        IniEngine next;
        EXPECT_EQ(next.getSectionNames(100, file), name + '\0' + "S" + '\0');
        EXPECT_EQ(next.getString("S", "v", "", 100, file), name);
        EXPECT_EQ(get(file).substr(0, 4), "\xFF\xFE[\0"s);
    }
}

// The file read is kept while its inode, size and time stay as they were,
// and dropped when the run starts a program, which may leave all three alike.
TEST_F(IniEngineCache, ReadsAgainWhatChangedOrWhatAStartedProgramMayHaveChanged) {
    struct Step {
        const char* name;
        char how;  // p: rewrite in place, r: replace by rename, d: delete, x: printf by a program
        std::string bytes;
        long seconds;  // the file's time after the step, from the start
        std::string expected;
    };
    const Step steps[] = {
        {"another time", 'p', "[S]\r\nk=2\r\n", 1, "2"},
        {"another file", 'r', "[S]\r\nk=3\r\n", 1, "3"},
        {"another size", 'p', "[S]\r\nk=44\r\n", 1, "44"},
        {"by a program, all alike", 'x', "[S]\\r\\nk=55\\r\\n", 1, "55"},
        {"deleted", 'd', "", 1, "d"},
        {"created again", 'p', "[S]\r\nk=6\r\n", 1, "6"},
    };
    const std::string file = path("a.ini");
    put(file, "[S]\r\nk=1\r\n");
    setTime(file, 0);
    testing::FakeSystem os(dir_);
    ASSERT_EQ(os.iniGetString("S", "k", "d", 100, file), "1");
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.how == 'x') {
            ASSERT_EQ(os.startCommandLine("cmd /c printf '" + s.bytes + "' >" + file)
                          ->wait(os::kWaitInfinite),
                      os::kWaitObject0);
        }
        if (s.how == 'p') put(file, s.bytes);
        if (s.how == 'r') put(file + ".new", s.bytes);
        const int moved = s.how == 'r' ? ::rename((file + ".new").c_str(), file.c_str()) : 0;
        ASSERT_EQ(s.how == 'd' ? ::unlink(file.c_str()) : moved, 0);
        if (s.how != 'd') setTime(file, s.seconds);
        EXPECT_EQ(os.iniGetString("S", "k", "d", 100, file), s.expected);
    }
}

}  // namespace
}  // namespace quillet::os::host
