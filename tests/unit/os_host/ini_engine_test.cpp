#include "os/host/ini_engine.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>

#include "os/host/ansi_text.h"

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
// Sets the modification time this many seconds from now.
void setMtimeFromNow(const std::string& file, long seconds) {
    timespec t{};
    ::clock_gettime(CLOCK_REALTIME, &t);
    t.tv_sec += seconds;
    const timespec times[2] = {t, t};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

TEST_F(IniEngineRead, FollowsTheWindowsLookupRules) {
    put(path("a.ini"),
        "top=before any section\r\n[Main]\r\nPlain=value\r\n  \tSpaced \t=  \t padded value \t \r\n"
        "Dup=first\r\ndup=second\r\nEquals=a=b\r\nEmpty=\r\nDoubleQ=\"  inner  \"\r\n"
        "SingleQ='single'\r\nMixed=\"mixed'\r\nLone=\"\r\nPair=\"\"\r\nLong=abcdef\r\n"
        "bare line\r\n;Commented=yes\r\n\r\n[ \tPadded Section\t ] trailing text\r\nKey=in padded\n"
        "[main]\r\nPlain=shadowed\r\nOnlyHere=later section\r\n[Unix]\nk=lf\n[]\r\n"
        "nameless=in []\r\n[Last]\r\ntail=no line end");
    struct Case {
        std::string section, key, defaultValue;
        std::size_t size;
        std::string expected;
    };
    const Case cases[] = {
        {"MAIN", "plain", "d", 100, "value"},  // names ignore case; the first [main] wins
        {"main", "OnlyHere", "d", 100, "d"},   // a later same-named section is not searched
        {"Main", "Dup", "d", 100, "first"},    // the first key wins
        {" Main\t", " Spaced ", "d", 100, "padded value"},  // spaces and tabs trimmed
        {"Padded Section", "key", "d", 100, "in padded"},
        {"Main", "Equals", "d", 100, "a=b"},
        {"Main", "Empty", "d", 100, ""},  // present but empty: not the default
        {"Main", "DoubleQ", "d", 100, "  inner  "},
        {"Main", "SingleQ", "d", 100, "single"},
        {"Main", "Mixed", "d", 100, "\"mixed'"},  // quotes that do not match stay
        {"Main", "Lone", "d", 100, "\""},
        {"Main", "Pair", "d", 100, ""},
        {"Main", "DoubleQ", "d", 4, "  i"},  // quotes go before the cut
        {"Main", "Long", "d", 7, "abcdef"},
        {"Main", "Long", "d", 6, "abcde"},
        {"Main", "Long", "d", 0, ""},
        {"Main", "bare line", "d", 100, "d"},  // a line without "=" is no key
        {"Main", ";Commented", "d", 100, "d"},
        {"", "top", "d", 100, "d"},  // keys before any header belong nowhere
        {"Unix", "k", "d", 100, "lf"},
        {"Last", "tail", "d", 100, "no line end"},
        {"", "nameless", "d", 100, "d"},  // "[]" cannot be looked up
        {"Nowhere", "Plain", "d", 100, "d"},
        {"Main", "Missing", "default value", 8, "default"},
        {"Main", "Missing", "trailing   ", 100, "trailing"},
        {"Main", "", "d", 100, "d"},
        {"Main", "Plain\0junk"s, "d", 100, "value"},  // names end at a NUL, as C strings do
        {"Main", "Missing", "ab\0cd"s, 100, "ab"},
    };
    IniEngine engine;
    for (const Case& c : cases)
        EXPECT_EQ(engine.getString(c.section, c.key, c.defaultValue, c.size, path("a.ini")),
                  c.expected)
            << "[" << c.section << "] " << c.key << " size " << c.size;
}

TEST_F(IniEngineRead, FileThatCannotBeReadGivesTheDefault) {
    ASSERT_EQ(::mkdir(path("folder.ini").c_str(), 0755), 0);
    IniEngine engine;
    for (const std::string& file :
         {path("missing.ini"), path("no/such/a.ini"), path("folder.ini")}) {
        EXPECT_EQ(engine.getString("S", "k", "fallback", 5, file), "fall") << file;
        EXPECT_EQ(engine.getSectionNames(5000, file), "") << file;
    }
}

TEST_F(IniEngineRead, SectionNamesAreListedAndCutAsWindowsCutsThem) {
    const std::string three = "[section1]\r\n[section2]\r\n[section3]\r\n";
    const std::pair<std::size_t, std::string> sizes[] = {
        {29, "section1\0section2\0section3\0"s},  // 27 + closing NUL + 1 fits
        {28, "section1\0section2\0section3"s},    // exactly full: Windows cuts
        {27, "section1\0section2\0section"s},     // a name cut halfway
        {20, "section1\0section2\0"s},           {3, "s"}, {2, ""}, {0, ""},
    };
    IniEngine engine;
    put(path("three.ini"), three);
    for (const auto& [size, expected] : sizes)
        EXPECT_EQ(engine.getSectionNames(size, path("three.ini")), expected) << size;
    const std::pair<std::string, std::string> files[] = {
        {"k=v\r\n[ A ]x\r\n;[Commented]\r\n  [B]\n[a]\r\n[Unclosed\r\n[]\r\n[C]", "A\0B\0a\0C\0"s},
        {"no sections\r\nk=v\r\n", ""},
    };
    for (const auto& [content, expected] : files) {
        put(path("names.ini"), content);
        EXPECT_EQ(engine.getSectionNames(5000, path("names.ini")), expected) << content;
    }
}

// Writes once into a file of the given bytes (nullopt: no file) and returns
// the file after it; the engine must then read what a fresh one reads.
std::string afterWrite(const std::string& file, const std::optional<std::string>& before,
                       const std::string& section, const std::string& key,
                       const std::string& value) {
    IniEngine engine, fresh;
    if (before) put(file, *before);
    if (before) engine.getString(section, key, "", 10, file);  // warm the cache
    EXPECT_TRUE(engine.writeString(section, key, value, file));
    EXPECT_EQ(engine.getString(section, key, "d", 5000, file),
              fresh.getString(section, key, "d", 5000, file));
    return get(file);
}

TEST_F(IniEngineWrite, ReplacesOrInsertsAKeyAndKeepsEveryOtherByte) {
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
        {"[S]\r\nk=1\r\n", "S", "k", "", "[S]\r\nk=\r\n"},
        {"[S]\r\n", "S", "k", "  \"q\"  ", "[S]\r\nk=  \"q\"  \r\n"},  // written as given
        {"[S]\r\n", "S", "k", "ab\0cd"s, "[S]\r\nk=ab\r\n"},           // ends at a NUL
    };
    int n = 0;
    for (const auto& c : cases)
        EXPECT_EQ(afterWrite(path(std::to_string(n++)), c[0], c[1], c[2], c[3]), c[4]) << c[0];
}

TEST_F(IniEngineWrite, AppendsAMissingSectionAndCreatesAMissingFile) {
    const std::pair<std::optional<std::string>, std::string> cases[] = {
        {"[A]\r\nk=v\r\n", "[A]\r\nk=v\r\n"},
        {"[A]\r\nk=v", "[A]\r\nk=v\r\n"},
        {"[A]\r\nk=v\r\n\r\n\r\n", "[A]\r\nk=v\r\n\r\n\r\n"},
        {"[A]\nk=v\n", "[A]\nk=v\n"},
        {"", ""},
        {std::nullopt, ""},
    };
    int n = 0;
    for (const auto& [before, kept] : cases)
        EXPECT_EQ(afterWrite(path(std::to_string(n++)), before, "MiXed", "key", "val"),
                  kept + "[MiXed]\r\nkey=val\r\n")
            << before.value_or("(no file)");
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

TEST_F(IniEngineWrite, AUtf16FileIsReadAndWrittenAsUtf16) {
    const auto utf16 = [](const std::string& text) { return "\xFF\xFE"s + utf8ToUtf16le(text); };
    const std::string file = path("health.ini");
    put(file,
        utf16("[SERVICE]\r\nsvcfiles=KORBGuard\r\n[CONFIGURATION]\r\nnote=\xC3\xA9t\xC3\xA9\r\n"));
    IniEngine engine;
    EXPECT_EQ(engine.getString("service", "SVCFILES", "", 50, file), "KORBGuard");
    EXPECT_EQ(engine.getString("CONFIGURATION", "note", "", 50, file), "\xC3\xA9t\xC3\xA9");
    EXPECT_EQ(engine.getSectionNames(100, file), "SERVICE\0CONFIGURATION\0"s);
    ASSERT_TRUE(engine.writeString("SERVICE", "status", "0", file));
    ASSERT_TRUE(engine.writeString("NEW", "k", "\xC3\xBC", file));
    EXPECT_EQ(get(file), utf16("[SERVICE]\r\nsvcfiles=KORBGuard\r\nstatus=0\r\n[CONFIGURATION]\r\n"
                               "note=\xC3\xA9t\xC3\xA9\r\n[NEW]\r\nk=\xC3\xBC\r\n"));
}

TEST_F(IniEngineWrite, RemovesTemporariesThatAKilledWriterLeft) {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    ::waitpid(child, nullptr, 0);  // a process number that is no longer in use
    const std::string dead = std::to_string(child), alive = std::to_string(::getpid());
    const std::set<std::string> kept{".a.ini.~" + alive + ".1", ".a.ini.~x.1",
                                     ".b.ini.~" + dead + ".1", ".a.ini.old" + dead + ".1"};
    for (const auto& name : kept) put(path(name), "");
    for (const auto& name : {".a.ini.~" + dead + ".3", ".a.ini.probe" + dead + ".2"})
        put(path(name), "x");
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

TEST_F(IniEngineWrite, CachedDocumentMatchesTheFileAfterAnyWrite) {
    // Texts that a fresh reading splits differently from how they were written.
    const std::string writes[][3] = {{"S", "a=b", "1"},      {"S", "[T]", "2"},
                                     {"S", ";c", "3"},       {"S", "k", "x\r\n[Injected]\r\ny=4"},
                                     {"Odd]Name", "k", "5"}, {" Spaced ", " k ", " 6 "},
                                     {"S", "", "7"}};
    const std::string file = path("a.ini");
    put(file, "[S]\r\nz=0\r\n");
    IniEngine engine, fresh;
    for (const auto& w : writes) ASSERT_TRUE(engine.writeString(w[0], w[1], w[2], file));
    EXPECT_EQ(engine.getSectionNames(5000, file), fresh.getSectionNames(5000, file));
    const std::string probes[][2] = {{"S", "a"},      {"S", "[T]"},      {"S", "k"},
                                     {"S", "z"},      {"Injected", "y"}, {"Odd]Name", "k"},
                                     {"Spaced", "k"}, {"S", ";c"}};
    for (const auto& p : probes)
        EXPECT_EQ(engine.getString(p[0], p[1], "d", 100, file),
                  fresh.getString(p[0], p[1], "d", 100, file))
            << p[0] << "/" << p[1];
    EXPECT_EQ(fresh.getString("Injected", "y", "d", 100, file) +
                  fresh.getString("Odd]Name", "k", "d", 100, file) +
                  fresh.getString("Spaced", "k", "d", 100, file),
              "456");
}

TEST_F(IniEngineCache, SeesEveryChangeMadeOutside) {
    struct Step {
        const char* name;
        char how;  // p: rewrite in place, a: append, r: replace by rename, d: delete
        std::string bytes, section, key, expected, names;
    };
    const Step steps[] = {
        {"same size, same inode", 'p', "[S]\r\nk=2\r\n", "S", "k", "2", "S\0"s},
        {"whole lines appended", 'a', "\r\n\r\n[T]\r\nx=9\r\n", "T", "x", "9", "S\0T\0"s},
        {"lines appended to the last section", 'a', "y=8\r\n", "T", "y", "8", "S\0T\0"s},
        {"rewritten without a final line end", 'p', "[S]\r\nk=1\r\nnew", "S", "k", "1", "S\0"s},
        {"a tail that continues the last line", 'a', "key=7\r\n", "S", "newkey", "7", "S\0"s},
        {"replaced by rename", 'r', "[R]\r\nk=r\r\n", "R", "k", "r", "R\0"s},
        {"deleted", 'd', "", "R", "k", "d", ""},
        {"created again", 'p', "[N]\r\nk=n\r\n", "N", "k", "n", "N\0"s},
    };
    const std::string file = path("a.ini");
    put(file, "[S]\r\nk=1\r\n");
    IniEngine engine;
    ASSERT_EQ(engine.getString("S", "k", "d", 100, file), "1");
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        if (s.how == 'p' || s.how == 'a') put(file, s.bytes, s.how == 'a');
        if (s.how == 'r') put(file + ".new", s.bytes);
        if (s.how == 'r') ASSERT_EQ(::rename((file + ".new").c_str(), file.c_str()), 0);
        if (s.how == 'd') ASSERT_EQ(::unlink(file.c_str()), 0);
        EXPECT_EQ(engine.getString(s.section, s.key, "d", 100, file), s.expected);
        EXPECT_EQ(engine.getSectionNames(5000, file), s.names);
    }
}

TEST_F(IniEngineCache, SameStampDoesNotHideAChangeWhileTheClockIsOnIt) {
    // The file's time is ahead of the clock: a change that keeps inode, size
    // and time must still be seen.
    const std::string file = path("a.ini");
    put(file, "[S]\r\nk=1\r\n");
    setMtimeFromNow(file, 3600);
    IniEngine engine;
    ASSERT_EQ(engine.getString("S", "k", "d", 100, file), "1");
    const struct stat before = statOf(file);
    put(file, "[S]\r\nk=2\r\n");
    const timespec times[2] = {before.st_mtim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
    ASSERT_EQ(statOf(file).st_ino, before.st_ino);
    EXPECT_EQ(engine.getString("S", "k", "d", 100, file), "2");
}

TEST_F(IniEngineCache, ExternalAppendsBetweenWritesKeepTheFileExact) {
    // The device list's pattern: keys written one by one per section, then
    // line ends appended from outside after every section.
    const std::string file = path("devices.ini");
    IniEngine engine, fresh;
    std::string expected;
    for (int d = 0; d < 40; ++d) {
        const std::string device = "PC" + std::to_string(d);
        expected += "[" + device + "]\r\n";
        for (int k = 0; k < 19; ++k) {
            const std::string key = "Key" + std::to_string(k);
            ASSERT_EQ(engine.getString(device, key, "", 255, file), "");
            ASSERT_TRUE(engine.writeString(device, key, device + key, file));
            expected += key + "=" + device + key + "\r\n";
        }
        put(file, "\r\n\r\n", true);
        expected += "\r\n\r\n";
    }
    ASSERT_EQ(get(file), expected);
    EXPECT_EQ(engine.getSectionNames(5000, file), fresh.getSectionNames(5000, file));
}

TEST_F(IniEngineCache, ReadsOfAnUnchangedLargeFileDoNotParseItAgain) {
    const std::string file = path("big.ini");
    std::string text;
    for (int i = 0; i < 60000; ++i)  // 3,000 sections of 20 keys
        text += (i % 20 ? "" : "[Device" + std::to_string(i / 20) + "]\r\n") + "Key" +
                std::to_string(i % 20) + "=value " + std::to_string(i) + "\r\n";
    put(file, text);
    setMtimeFromNow(file, -3600);
    IniEngine engine;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 60000; i += 7) {
        const auto section = "device" + std::to_string(i / 20),
                   key = "key" + std::to_string(i % 20);
        ASSERT_EQ(engine.getString(section, key, "", 255, file), "value " + std::to_string(i));
    }
    // A parse per read costs milliseconds each, minutes for these 8,572 reads.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 5.0);
    const std::string names = engine.getSectionNames(5000, file);
    EXPECT_EQ(names.substr(0, 16), "Device0\0Device1\0"s);
    EXPECT_EQ(names.size(), 5000u - 2);  // does not fit: cut
}

}  // namespace
}  // namespace quillet::os::host
