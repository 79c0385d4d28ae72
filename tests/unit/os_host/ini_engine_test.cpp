#include "os/host/ini_engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace quillet::os::host {
namespace {

using namespace std::string_literals;

class IniEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = ::testing::TempDir();
        if (pattern.empty() || pattern.back() != '/') pattern += '/';
        pattern += "ini_engine_XXXXXX";
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::set<std::string> folderNames() const {
        std::set<std::string> names;
        for (const auto& e : std::filesystem::directory_iterator(dir_))
            names.insert(e.path().filename().string());
        return names;
    }

    std::string dir_;
};

// Rewrites the file in place (same inode), as an editor that truncates does.
void put(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

void append(const std::string& file, const std::string& bytes) {
    std::ofstream(file, std::ios::binary | std::ios::app) << bytes;
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

void setMtime(const std::string& file, timespec mtime) {
    const timespec times[2] = {mtime, mtime};
    ASSERT_EQ(::utimensat(AT_FDCWD, file.c_str(), times, 0), 0);
}

// --- reading

using IniEngineRead = IniEngineTest;

const std::string kReadFile =
    "top=before any section\r\n"
    "[Main]\r\n"
    "Plain=value\r\n"
    "  \tSpaced \t=  \t padded value \t \r\n"
    "Dup=first\r\n"
    "dup=second\r\n"
    "Equals=a=b\r\n"
    "Empty=\r\n"
    "DoubleQ=\"  inner  \"\r\n"
    "SingleQ='single'\r\n"
    "Mixed=\"mixed'\r\n"
    "Lone=\"\r\n"
    "Pair=\"\"\r\n"
    "Long=abcdef\r\n"
    "bare line\r\n"
    ";Commented=yes\r\n"
    "\r\n"
    "[ \tPadded Section\t ] trailing text\r\n"
    "Key=in padded\n"
    "[main]\r\n"
    "Plain=shadowed\r\n"
    "OnlyHere=later section\r\n"
    "[Unix]\n"
    "k=lf\n"
    "[]\r\n"
    "nameless=in []\r\n"
    "[Last]\r\n"
    "tail=no line end";

TEST_F(IniEngineRead, FollowsTheWindowsLookupRules) {
    put(path("a.ini"), kReadFile);
    struct Case {
        std::string section, key, defaultValue;
        std::size_t size;
        std::string expected;
    };
    const Case cases[] = {
        {"Main", "Plain", "d", 100, "value"},
        {"MAIN", "plain", "d", 100, "value"},          // names ignore case
        {"main", "PLAIN", "d", 100, "value"},          // the first [main] wins
        {"main", "OnlyHere", "d", 100, "d"},           // a later same-named section is not searched
        {"Main", "Dup", "d", 100, "first"},            // the first key wins
        {"Main", "Spaced", "d", 100, "padded value"},  // spaces and tabs trimmed
        {" Main\t", " Spaced ", "d", 100, "padded value"},
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
        {"Main", "Long", "d", 2, "a"},
        {"Main", "Long", "d", 1, ""},
        {"Main", "Long", "d", 0, ""},
        {"Main", "bare line", "d", 100, "d"},  // a line without "=" is no key
        {"Main", "Commented", "d", 100, "d"},
        {"Main", ";Commented", "d", 100, "d"},
        {"Main", "top", "d", 100, "d"},  // keys before any header belong nowhere
        {"", "top", "d", 100, "d"},
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
    for (const Case& c : cases) {
        EXPECT_EQ(engine.getString(c.section, c.key, c.defaultValue, c.size, path("a.ini")),
                  c.expected)
            << "[" << c.section << "] " << c.key << " size " << c.size;
    }
}

TEST_F(IniEngineRead, FileThatCannotBeReadGivesTheDefault) {
    ASSERT_EQ(::mkdir(path("folder.ini").c_str(), 0755), 0);
    const std::string files[] = {path("missing.ini"), path("no/such/folder.ini"),
                                 path("folder.ini")};
    IniEngine engine;
    for (const std::string& file : files) {
        EXPECT_EQ(engine.getString("S", "k", "fallback", 100, file), "fallback") << file;
        EXPECT_EQ(engine.getString("S", "k", "fallback", 5, file), "fall") << file;
        EXPECT_EQ(engine.getSectionNames(5000, file), "") << file;
    }
}

// --- section names

using IniEngineSectionNames = IniEngineTest;

TEST_F(IniEngineSectionNames, ListsNamesAndCutsAsWindows) {
    const std::string three = "[section1]\r\n[section2]\r\n[section3]\r\n";
    struct Case {
        std::string content;
        std::size_t size;
        std::string expected;
    };
    const Case cases[] = {
        {three, 5000, "section1\0section2\0section3\0"s},
        {three, 29, "section1\0section2\0section3\0"s},  // 27 + closing NUL + 1 fits
        {three, 28, "section1\0section2\0section3"s},    // exactly full: Windows cuts
        {three, 27, "section1\0section2\0section"s},     // a name cut halfway
        {three, 20, "section1\0section2\0"s},
        {three, 3, "s"},
        {three, 2, ""},
        {three, 1, ""},
        {three, 0, ""},
        {"k=v\r\n[ A ]x\r\n;[Commented]\r\n  [B]\n[a]\r\n[Unclosed\r\n[]\r\n[C]", 5000,
         "A\0B\0a\0C\0"s},
        {"", 5000, ""},
        {"no sections\r\nk=v\r\n", 5000, ""},
    };
    IniEngine engine;
    int n = 0;
    for (const Case& c : cases) {
        const std::string file = path("names" + std::to_string(n++) + ".ini");
        put(file, c.content);
        EXPECT_EQ(engine.getSectionNames(c.size, file), c.expected)
            << "case " << n - 1 << " size " << c.size;
    }
}

// --- writing

using IniEngineWrite = IniEngineTest;

TEST_F(IniEngineWrite, ChangesOnlyWhatItMust) {
    struct Case {
        std::string name;
        std::string before;  // "" with missing = true: no file
        bool missing;
        std::string section, key, value;
        std::string after;
        std::string readBack;
    };
    const std::string mixed =
        "; top comment\r\n"
        "\r\n"
        "[Main]\n"
        "  Key = old value  \n"
        " odd line without equals\r\n"
        ";c\r\n"
        "\r\n"
        "[Other]\r\n"
        "Key=x\r\n";
    const Case cases[] = {
        {"replace keeps everything else", mixed, false, "MAIN", "KEY", "new",
         "; top comment\r\n\r\n[Main]\nKEY=new\n odd line without equals\r\n;c\r\n\r\n"
         "[Other]\r\nKey=x\r\n",
         "new"},
        {"insert after the last non-blank line", mixed, false, "main", "Added", "1",
         "; top comment\r\n\r\n[Main]\n  Key = old value  \n odd line without equals\r\n;c\r\n"
         "Added=1\r\n\r\n[Other]\r\nKey=x\r\n",
         "1"},
        {"insert under a bare header", "[A]\r\n[B]\r\n", false, "A", "k", "v",
         "[A]\r\nk=v\r\n[B]\r\n", "v"},
        {"insert after a last line without line end", "[A]\r\nk1=v1", false, "A", "k2", "v2",
         "[A]\r\nk1=v1\r\nk2=v2\r\n", "v2"},
        {"insert into the first of two same-named sections", "[S]\r\na=1\r\n[s]\r\nb=2\r\n", false,
         "S", "b", "3", "[S]\r\na=1\r\nb=3\r\n[s]\r\nb=2\r\n", "3"},
        {"a line without = is no key", "[S]\r\nk\r\n", false, "S", "k", "v", "[S]\r\nk\r\nk=v\r\n",
         "v"},
        {"a key before any header is no key", "k=0\r\n[S]\r\n", false, "S", "k", "1",
         "k=0\r\n[S]\r\nk=1\r\n", "1"},
        {"replace the first of two same keys", "[S]\r\nk=1\r\nk=2\r\n", false, "s", "K", "9",
         "[S]\r\nK=9\r\nk=2\r\n", "9"},
        {"replace a last line without line end", "[S]\r\nk=1", false, "S", "k", "22", "[S]\r\nk=22",
         "22"},
        {"empty value keeps the key", "[S]\r\nk=1\r\n", false, "S", "k", "", "[S]\r\nk=\r\n", ""},
        {"value written as given", "[S]\r\n", false, "S", "k", "  \"q\"  ",
         "[S]\r\nk=  \"q\"  \r\n", "q"},
        {"value ends at a NUL", "[S]\r\n", false, "S", "k", "ab\0cd"s, "[S]\r\nk=ab\r\n", "ab"},
        {"new section after a line end", "[A]\r\nk=v\r\n", false, "MiXed", "key", "val",
         "[A]\r\nk=v\r\n[MiXed]\r\nkey=val\r\n", "val"},
        {"new section after a last line without line end", "[A]\r\nk=v", false, "New", "key", "val",
         "[A]\r\nk=v\r\n[New]\r\nkey=val\r\n", "val"},
        {"new section right after blank lines", "[A]\r\nk=v\r\n\r\n\r\n", false, "New", "key",
         "val", "[A]\r\nk=v\r\n\r\n\r\n[New]\r\nkey=val\r\n", "val"},
        {"new section after LF line ends", "[A]\nk=v\n", false, "New", "key", "val",
         "[A]\nk=v\n[New]\r\nkey=val\r\n", "val"},
        {"new section in an empty file", "", false, "New", "key", "val", "[New]\r\nkey=val\r\n",
         "val"},
        {"missing file is created", "", true, "New", "key", "val", "[New]\r\nkey=val\r\n", "val"},
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string file = path("w" + std::to_string(n++) + ".ini");
        if (!c.missing) put(file, c.before);
        IniEngine engine;
        if (!c.missing) engine.getString(c.section, c.key, "", 10, file);  // warm the cache
        EXPECT_TRUE(engine.writeString(c.section, c.key, c.value, file));
        EXPECT_EQ(get(file), c.after);
        EXPECT_EQ(engine.getString(c.section, c.key, "d", 5000, file), c.readBack);
        IniEngine fresh;
        EXPECT_EQ(fresh.getString(c.section, c.key, "d", 5000, file), c.readBack);
    }
}

TEST_F(IniEngineWrite, RefusedWritesReturnFalseAndLeaveNoTrace) {
    put(path("readonly.ini"), "[S]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(path("readonly.ini").c_str(), 0444), 0);
    ASSERT_EQ(::mkdir(path("folder.ini").c_str(), 0755), 0);
    const std::set<std::string> before = folderNames();

    const std::string files[] = {path("no/such/folder/x.ini"), path("no/x.ini"), path("folder.ini"),
                                 path("readonly.ini")};
    IniEngine engine;
    for (const std::string& file : files) {
        EXPECT_FALSE(engine.writeString("S", "k", "2", file)) << file;
        EXPECT_EQ(folderNames(), before) << file;
    }
    EXPECT_EQ(get(path("readonly.ini")), "[S]\r\nk=1\r\n");
    EXPECT_EQ(engine.getString("S", "k", "", 10, path("readonly.ini")), "1");
}

TEST_F(IniEngineWrite, FolderWithoutWriteAccessRefusesTheWrite) {
    if (::geteuid() == 0) GTEST_SKIP() << "root writes into any folder";
    ASSERT_EQ(::mkdir(path("locked").c_str(), 0755), 0);
    put(path("locked/a.ini"), "[S]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(path("locked").c_str(), 0555), 0);
    IniEngine engine;
    EXPECT_FALSE(engine.writeString("S", "k", "2", path("locked/a.ini")));
    EXPECT_FALSE(engine.writeString("S", "k", "2", path("locked/new.ini")));
    ::chmod(path("locked").c_str(), 0755);
    EXPECT_EQ(get(path("locked/a.ini")), "[S]\r\nk=1\r\n");
}

TEST_F(IniEngineWrite, ReplacesTheFileWholeAndKeepsItsMode) {
    const std::string file = path("a.ini");
    put(file, "[S]\r\nk=1\r\n");
    ASSERT_EQ(::chmod(file.c_str(), 0640), 0);
    const ino_t inodeBefore = statOf(file).st_ino;
    // A reader that opened the file before the write still reads the old
    // file whole, never a truncated or half-written one.
    const int reader = ::open(file.c_str(), O_RDONLY);
    ASSERT_GE(reader, 0);

    IniEngine engine;
    ASSERT_TRUE(engine.writeString("S", "k", "a much longer value than before", file));

    char buffer[64] = {};
    const ssize_t n = ::pread(reader, buffer, sizeof buffer, 0);
    ::close(reader);
    EXPECT_EQ(std::string(buffer, n > 0 ? n : 0), "[S]\r\nk=1\r\n");
    const struct stat after = statOf(file);
    EXPECT_NE(after.st_ino, inodeBefore);
    EXPECT_EQ(after.st_mode & 07777, 0640u);
    EXPECT_EQ(folderNames(), std::set<std::string>{"a.ini"});  // no temporary file left

    const mode_t mask = ::umask(0);
    ::umask(mask);
    ASSERT_TRUE(engine.writeString("S", "k", "v", path("new.ini")));
    EXPECT_EQ(statOf(path("new.ini")).st_mode & 07777, 0666u & ~mask);
    EXPECT_EQ(folderNames(), (std::set<std::string>{"a.ini", "new.ini"}));
}

TEST_F(IniEngineWrite, CachedDocumentMatchesTheFileAfterAnyWrite) {
    // Texts that a fresh reading of the file splits differently from how
    // they were written.
    struct Case {
        std::string section, key, value;
    };
    const Case cases[] = {
        {"S", "a=b", "1"},      {"S", "[T]", "2"},
        {"S", ";c", "3"},       {"S", "k", "x\r\n[Injected]\r\ny=4"},
        {"Odd]Name", "k", "5"}, {" Spaced ", " k ", " 6 "},
        {"S", "", "7"},
    };
    const std::string file = path("a.ini");
    put(file, "[S]\r\nz=0\r\n");
    IniEngine engine;
    for (const Case& c : cases) ASSERT_TRUE(engine.writeString(c.section, c.key, c.value, file));

    IniEngine fresh;
    EXPECT_EQ(engine.getSectionNames(5000, file), fresh.getSectionNames(5000, file));
    const std::string probes[][2] = {{"S", "a"},      {"S", "[T]"},      {"S", "k"},
                                     {"S", "z"},      {"Injected", "y"}, {"Odd]Name", "k"},
                                     {"Spaced", "k"}, {"S", ";c"}};
    for (const auto& p : probes)
        EXPECT_EQ(engine.getString(p[0], p[1], "d", 100, file),
                  fresh.getString(p[0], p[1], "d", 100, file))
            << p[0] << "/" << p[1];
    EXPECT_EQ(fresh.getString("Injected", "y", "d", 100, file), "4");
    EXPECT_EQ(fresh.getString("Odd]Name", "k", "d", 100, file), "5");
    EXPECT_EQ(fresh.getString("Spaced", "k", "d", 100, file), "6");
}

// --- the cache

using IniEngineCache = IniEngineTest;

TEST_F(IniEngineCache, SeesEveryChangeMadeOutside) {
    const std::string file = path("a.ini");
    struct Step {
        std::string name;
        void (*change)(const std::string& file);
        std::string section, key, expected, names;
    };
    const Step steps[] = {
        {"same size, same inode", [](const std::string& f) { put(f, "[S]\r\nk=2\r\n"); }, "S", "k",
         "2", "S\0"s},
        {"whole lines appended", [](const std::string& f) { append(f, "\r\n\r\n[T]\r\nx=9\r\n"); },
         "T", "x", "9", "S\0T\0"s},
        {"lines appended to the last section", [](const std::string& f) { append(f, "y=8\r\n"); },
         "T", "y", "8", "S\0T\0"s},
        {"rewritten without a final line end",
         [](const std::string& f) { put(f, "[S]\r\nk=1\r\nnew"); }, "S", "k", "1", "S\0"s},
        {"a tail that continues the last line",
         [](const std::string& f) { append(f, "key=7\r\n"); }, "S", "newkey", "7", "S\0"s},
        {"replaced by rename",
         [](const std::string& f) {
             const std::string other = f + ".other";
             put(other, "[R]\r\nk=r\r\n");
             ASSERT_EQ(::rename(other.c_str(), f.c_str()), 0);
         },
         "R", "k", "r", "R\0"s},
        {"deleted", [](const std::string& f) { ::unlink(f.c_str()); }, "R", "k", "d", ""},
        {"created again", [](const std::string& f) { put(f, "[N]\r\nk=n\r\n"); }, "N", "k", "n",
         "N\0"s},
    };
    put(file, "[S]\r\nk=1\r\n");
    IniEngine engine;
    ASSERT_EQ(engine.getString("S", "k", "d", 100, file), "1");
    for (const Step& s : steps) {
        SCOPED_TRACE(s.name);
        s.change(file);
        EXPECT_EQ(engine.getString(s.section, s.key, "d", 100, file), s.expected);
        EXPECT_EQ(engine.getSectionNames(5000, file), s.names);
    }
}

TEST_F(IniEngineCache, SameSizeRewritesInQuickSuccessionAreSeen) {
    const std::string file = path("a.ini");
    IniEngine engine;
    for (int i = 0; i < 20; ++i) {
        const std::string value = std::to_string(i % 10);
        put(file, "[S]\r\nk=" + value + "\r\n");
        ASSERT_EQ(engine.getString("S", "k", "d", 100, file), value) << i;
        // Our own write, then one from outside of the same size.
        ASSERT_TRUE(engine.writeString("S", "k", "x", file));
        put(file, "[S]\r\nk=" + std::to_string((i + 1) % 10) + "\r\n");
        ASSERT_EQ(engine.getString("S", "k", "d", 100, file), std::to_string((i + 1) % 10)) << i;
    }
}

TEST_F(IniEngineCache, SameStampDoesNotHideAChangeWhileTheClockIsOnIt) {
    // The file's time is ahead of the clock (or equal to it): a change that
    // keeps inode, size and time must still be seen.
    const std::string file = path("a.ini");
    put(file, "[S]\r\nk=1\r\n");
    timespec ahead{};
    ::clock_gettime(CLOCK_REALTIME, &ahead);
    ahead.tv_sec += 3600;
    setMtime(file, ahead);
    IniEngine engine;
    ASSERT_EQ(engine.getString("S", "k", "d", 100, file), "1");
    const struct stat before = statOf(file);

    put(file, "[S]\r\nk=2\r\n");
    setMtime(file, ahead);
    const struct stat after = statOf(file);
    ASSERT_EQ(after.st_ino, before.st_ino);
    ASSERT_EQ(after.st_size, before.st_size);
    EXPECT_EQ(engine.getString("S", "k", "d", 100, file), "2");
}

TEST_F(IniEngineCache, ExternalAppendsBetweenWritesKeepTheFileExact) {
    // The device list's pattern: keys written one by one per section, then
    // line ends appended from outside after every section.
    const std::string file = path("devices.ini");
    IniEngine engine;
    std::string expected;
    for (int d = 0; d < 40; ++d) {
        const std::string device = "PC" + std::to_string(d);
        expected += "[" + device + "]\r\n";
        for (int k = 0; k < 19; ++k) {
            const std::string key = "Key" + std::to_string(k);
            if (engine.getString(device, key, "", 255, file).empty()) {
                ASSERT_TRUE(engine.writeString(device, key, std::to_string(d * k), file));
            }
            expected += key + "=" + std::to_string(d * k) + "\r\n";
        }
        append(file, "\r\n\r\n");
        expected += "\r\n\r\n";
    }
    ASSERT_EQ(get(file), expected);
    // A second pass over a complete list writes nothing.
    IniEngine fresh;
    for (int d = 0; d < 40; ++d)
        for (int k = 0; k < 19; ++k)
            ASSERT_EQ(
                fresh.getString("pc" + std::to_string(d), "KEY" + std::to_string(k), "", 255, file),
                std::to_string(d * k));
    EXPECT_EQ(engine.getSectionNames(5000, file), fresh.getSectionNames(5000, file));
}

TEST_F(IniEngineCache, ReadsOfAnUnchangedLargeFileDoNotParseItAgain) {
    const std::string file = path("big.ini");
    std::string text;
    for (int s = 0; s < 3000; ++s) {
        text += "[Device" + std::to_string(s) + "]\r\n";
        for (int k = 0; k < 20; ++k)
            text += "Key" + std::to_string(k) + "=value " + std::to_string(s * k) + "\r\n";
        text += "\r\n";
    }
    put(file, text);
    timespec old{};
    ::clock_gettime(CLOCK_REALTIME, &old);
    old.tv_sec -= 3600;
    setMtime(file, old);

    IniEngine engine;
    const auto start = std::chrono::steady_clock::now();
    for (int s = 0; s < 3000; ++s)
        for (int k = 0; k < 20; k += 7)
            ASSERT_EQ(engine.getString("device" + std::to_string(s), "key" + std::to_string(k), "",
                                       255, file),
                      "value " + std::to_string(s * k));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    // A parse per read costs milliseconds each, minutes for these 9,000 reads.
    EXPECT_LT(seconds, 5.0);
    const std::string names = engine.getSectionNames(5000, file);
    EXPECT_EQ(names.substr(0, 16), "Device0\0Device1\0"s);
    EXPECT_EQ(names.size(), 5000u - 2);  // does not fit: cut
}

}  // namespace
}  // namespace quillet::os::host
