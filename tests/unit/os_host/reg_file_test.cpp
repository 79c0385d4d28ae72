#include "os/host/reg_file.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <random>
#include <sstream>
#include <string>
#include <vector>

namespace quillet::os::host {
namespace {

using namespace std::string_literals;

const std::string kHeader5 = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kHeader4 = "REGEDIT4\r\n\r\n";
const std::string kTestKey = "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n";

std::string dataOf(const RegValue& value) {
    return std::string(value.data.begin(), value.data.end());
}

std::string fixture(const std::string& name) {
    return std::string(QUILLET_TEST_DATA) + "/reg/" + name;
}

// UTF-8 text to UTF-16LE bytes with a BOM, as `reg export` writes files.
std::string toUtf16File(const std::string& utf8) {
    std::string out = "\xFF\xFE";
    auto put = [&out](std::uint32_t unit) {
        out += static_cast<char>(unit & 0xFF);
        out += static_cast<char>(unit >> 8);
    };
    for (std::size_t i = 0; i < utf8.size();) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        std::uint32_t cp = lead;
        std::size_t len = 1;
        if (lead >= 0xF0)
            cp = lead & 0x07, len = 4;
        else if (lead >= 0xE0)
            cp = lead & 0x0F, len = 3;
        else if (lead >= 0xC0)
            cp = lead & 0x1F, len = 2;
        for (std::size_t k = 1; k < len; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(utf8[i + k]) & 0x3F);
        i += len;
        if (cp >= 0x10000) {
            cp -= 0x10000;
            put(0xD800 + (cp >> 10));
            put(0xDC00 + (cp & 0x3FF));
        } else {
            put(cp);
        }
    }
    return out;
}

std::size_t lineCount(const std::string& text) {
    std::size_t n = 0;
    for (char c : text) n += c == '\n';
    return n;
}

// ---------------------------------------------------------------------------

struct ValueCase {
    const char* label;
    const std::string* header;
    std::string line;  // may hold continuation lines
    std::uint32_t type;
    std::string data;
};

TEST(RegistryFileValues, EachValueFormGivesItsTypeAndTheBytesTheAnsiQueryReturns) {
    const std::vector<ValueCase> cases = {
        {"plain text", &kHeader5, R"("v"="abc")", 1, "abc\0"s},
        {"empty text keeps its terminator", &kHeader5, R"("v"="")", 1, "\0"s},
        {"escaped backslash and quote", &kHeader5, R"("v"="C:\\x \"q\"")", 1, "C:\\x \"q\"\0"s},
        {"unknown escape kept as written", &kHeader4, R"("v"="C:\Temp")", 1, "C:\\Temp\0"s},
        {"newline escape", &kHeader5, R"("v"="a\nb")", 1, "a\nb\0"s},
        {"spaces kept inside text", &kHeader5, R"("v"="  x  ")", 1, "  x  \0"s},
        {"blanks around = and a trailing comment", &kHeader5, "\"v\" =\t\"x\"  ; note", 1, "x\0"s},
        {"dword little-endian", &kHeader5, R"("v"=dword:00000031)", 4, "\x31\0\0\0"s},
        {"dword of fewer digits", &kHeader5, R"("v"=dword:1bb)", 4, "\xbb\x01\0\0"s},
        {"dword upper-case spelling", &kHeader5, R"("v"=DWORD:FFFFFFFF)", 4, "\xff\xff\xff\xff"s},
        {"binary", &kHeader5, R"("v"=hex:2c,01)", 3, "\x2c\x01"s},
        {"binary of one-digit bytes and blanks", &kHeader5, R"("v"=hex: 1 ,a,  ff)", 3,
         "\x01\x0a\xff"s},
        {"empty binary", &kHeader5, R"("v"=hex:)", 3, ""},
        {"REG_NONE empty", &kHeader5, R"("v"=hex(0):)", 0, ""},
        {"QWORD stays raw", &kHeader5, R"("v"=hex(b):08,07,06,05,04,03,02,01)", 11,
         "\x08\x07\x06\x05\x04\x03\x02\x01"s},
        {"dword written as hex(4) stays raw", &kHeader5, R"("v"=hex(4):01,02,03,04)", 4,
         "\x01\x02\x03\x04"s},
        {"large type number", &kHeader5, R"("v"=hex(100):aa)", 0x100, "\xaa"s},
        {"expand string in version 5 is UTF-16", &kHeader5, R"("v"=hex(2):25,00,41,00,25,00,00,00)",
         2, "%A%\0"s},
        {"multi string in version 5 keeps every NUL", &kHeader5,
         R"("v"=hex(7):78,00,00,00,79,00,00,00,00,00)", 7, "x\0y\0\0"s},
        {"hex(1) in version 5 converted to UTF-8", &kHeader5, R"("v"=hex(1):fc,00,00,00)", 1,
         "\xc3\xbc\0"s},
        {"surrogate pair becomes one UTF-8 character", &kHeader5, R"("v"=hex(1):3d,d8,00,de,00,00)",
         1, "\xf0\x9f\x98\x80\0"s},
        {"lone surrogate becomes U+FFFD", &kHeader5, R"("v"=hex(1):3d,d8,41,00)", 1,
         "\xef\xbf\xbd"
         "A"s},
        {"odd last byte of UTF-16 dropped", &kHeader5, R"("v"=hex(2):41,00,42)", 2, "A"},
        {"expand string in REGEDIT4 is already ANSI", &kHeader4, R"("v"=hex(2):25,41,25,00)", 2,
         "%A%\0"s},
        {"multi string in REGEDIT4 stays raw", &kHeader4, R"("v"=hex(7):78,00,79,00,00)", 7,
         "x\0y\0\0"s},
        {"continuation lines", &kHeader5, "\"v\"=hex:01,02,\\\r\n    03,04,\\\r\n\t05", 3,
         "\x01\x02\x03\x04\x05"s},
        {"continued UTF-16 string", &kHeader5, "\"v\"=hex(2):25,00,53,00,\\\r\n  25,00,00,00", 2,
         "%S%\0"s},
        {"continuation at end of file", &kHeader5, "\"v\"=hex:01,\\", 3, "\x01"s},
        {"default value via @", &kHeader5, R"(@="dflt")", 1, "dflt\0"s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::ostringstream warnings;
        const std::string name = c.line.front() == '@' ? "" : "v";
        const auto reg = RegistryFile::parse(*c.header + kTestKey + c.line + "\r\n", warnings);
        EXPECT_EQ(warnings.str(), "");
        const auto value = reg.query("Software\\T", name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, c.type);
        EXPECT_EQ(dataOf(*value), c.data);
    }
}

TEST(RegistryFileValues, NamesMatchWithoutRegardToCase) {
    std::ostringstream warnings;
    const auto reg = RegistryFile::parse(kHeader5 +
                                             "[HKEY_LOCAL_MACHINE\\Software\\KORBOD]\r\n"
                                             "\"InstallationPath\"=\"C:\\\\A\\\\\"\r\n"
                                             "\"\xc3\x9c"
                                             "bung\"=\"latin\"\r\n"
                                             "\"\xd0\x9f\xd1\x83\xd1\x82\xd1\x8c\"=\"cyrillic\"\r\n"
                                             "\"dup\"=\"first\"\r\n"
                                             "\"DUP\"=\"second\"\r\n",
                                         warnings);
    struct Lookup {
        std::string key, name, expected;
    };
    const std::vector<Lookup> lookups = {
        {"Software\\KORBOD\\", "INSTALLATIONPATH", "C:\\A\\\0"s},
        {"SOFTWARE\\korbod", "installationpath", "C:\\A\\\0"s},
        {"software\\KorBod\\", "InstallationPath", "C:\\A\\\0"s},
        {"Software\\KORBOD",
         "\xc3\xbc"
         "BUNG",
         "latin\0"s},                                                             // ü / Ü
        {"Software\\KORBOD", "\xd0\x9f\xd0\xa3\xd0\xa2\xd0\xac", "cyrillic\0"s},  // ПУТЬ
        {"Software\\KORBOD", "Dup", "second\0"s},
    };
    for (const auto& l : lookups) {
        SCOPED_TRACE(l.key + " / " + l.name);
        const auto value = reg.query(l.key, l.name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(dataOf(*value), l.expected);
    }
    EXPECT_FALSE(reg.query("Software\\KORBOD", "InstallationPat"));
    EXPECT_FALSE(reg.query("Software\\KORBO", "InstallationPath"));
    EXPECT_FALSE(reg.query("Software\\KORBOD\\\\", "InstallationPath"));
    EXPECT_FALSE(reg.query("\\Software\\KORBOD", "InstallationPath"));
    EXPECT_FALSE(reg.query("Software\\KORBOD", ""));  // no default value was set
    EXPECT_EQ(warnings.str(), "");
}

// ---------------------------------------------------------------------------

struct ScriptCase {
    const char* label;
    std::string body;                                          // after the version 5 header
    std::vector<std::pair<std::string, std::string>> present;  // key path, value name
    std::vector<std::pair<std::string, std::string>> absent;
};

TEST(RegistryFileScripts, DeletionsMergesAndOtherHivesShapeTheTree) {
    const std::vector<ScriptCase> cases = {
        {"a value deleted by name=-",
         "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n\"A\"=-\r\n",
         {{"Software\\T", "b"}},
         {{"Software\\T", "a"}}},
        {"the default value deleted by @=-",
         "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n@=\"1\"\r\n@=-\r\n",
         {},
         {{"Software\\T", ""}}},
        {"a key deleted with its subtree; later values of the deleted key go nowhere",
         "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n\"keep\"=\"1\"\r\n"
         "[HKEY_LOCAL_MACHINE\\Software\\T\\Sub]\r\n\"a\"=\"1\"\r\n"
         "[HKEY_LOCAL_MACHINE\\Software\\T\\Sub\\Deep]\r\n\"a\"=\"1\"\r\n"
         "[-HKEY_LOCAL_MACHINE\\SOFTWARE\\t\\sub]\r\n\"stray\"=\"1\"\r\n",
         {{"Software\\T", "keep"}},
         {{"Software\\T\\Sub", "a"},
          {"Software\\T\\Sub\\Deep", "a"},
          {"Software\\T", "stray"},
          {"Software\\T\\Sub", "stray"}}},
        {"a key re-created after its deletion starts empty",
         "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n\"old\"=\"1\"\r\n"
         "[-HKEY_LOCAL_MACHINE\\Software\\T]\r\n"
         "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n\"new\"=\"1\"\r\n",
         {{"Software\\T", "new"}},
         {{"Software\\T", "old"}}},
        {"deleting a key that does not exist changes nothing",
         "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n\"a\"=\"1\"\r\n"
         "[-HKEY_LOCAL_MACHINE\\Software\\Nothing\\Here]\r\n",
         {{"Software\\T", "a"}},
         {}},
        {"a key defined twice merges, later values replace earlier ones",
         "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n\"a\"=\"old\"\r\n\"b\"=\"1\"\r\n"
         "[HKEY_LOCAL_MACHINE\\software\\t]\r\n\"a\"=\"new\"\r\n\"c\"=\"1\"\r\n",
         {{"Software\\T", "a"}, {"Software\\T", "b"}, {"Software\\T", "c"}},
         {}},
        {"keys of other hives are skipped with their values",
         "[HKEY_CURRENT_USER\\Software\\T]\r\n\"user\"=\"1\"\r\n"
         "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n\"machine\"=\"1\"\r\n"
         "[HKEY_USERS\\.DEFAULT\\Software\\T]\r\n\"users\"=\"1\"\r\n",
         {{"Software\\T", "machine"}},
         {{"Software\\T", "user"}, {"Software\\T", "users"}, {".DEFAULT\\Software\\T", "users"}}},
        {"the short hive name HKLM is accepted",
         "[HKLM\\Software\\T]\r\n\"a\"=\"1\"\r\n",
         {{"Software\\T", "a"}},
         {}},
        {"Wow6432Node right after Software is folded away",
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Wow6432Node\\KORBOD]\r\n\"a\"=\"1\"\r\n"
         "[HKEY_LOCAL_MACHINE\\Software\\WOW6432NODE\\KORBOD\\Sub]\r\n\"b\"=\"1\"\r\n",
         {{"Software\\KORBOD", "a"},
          {"Software\\KORBOD\\Sub", "b"},
          {"Software\\Wow6432Node\\KORBOD", "a"}},
         {}},
        {"Wow6432Node anywhere else is an ordinary key",
         "[HKEY_LOCAL_MACHINE\\Software\\KORBOD\\Wow6432Node\\X]\r\n\"a\"=\"1\"\r\n"
         "[HKEY_LOCAL_MACHINE\\System\\Wow6432Node\\Y]\r\n\"b\"=\"1\"\r\n",
         {{"Software\\KORBOD\\Wow6432Node\\X", "a"}, {"System\\Wow6432Node\\Y", "b"}},
         {{"Software\\KORBOD\\X", "a"}, {"System\\Y", "b"}}},
        {"deleting through Wow6432Node deletes the folded key",
         "[HKEY_LOCAL_MACHINE\\Software\\KORBOD]\r\n\"a\"=\"1\"\r\n"
         "[-HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\KORBOD]\r\n",
         {},
         {{"Software\\KORBOD", "a"}}},
        {"values on the hive itself",
         "[HKEY_LOCAL_MACHINE]\r\n\"top\"=\"1\"\r\n",
         {{"", "top"}},
         {}},
        {"comments, blank lines and indented lines",
         "; comment\r\n# also a comment\r\n\r\n   [HKEY_LOCAL_MACHINE\\Software\\T]   \r\n"
         "\t\"a\"=\"1\"\r\n  ; \"b\"=\"1\"\r\n",
         {{"Software\\T", "a"}},
         {{"Software\\T", "b"}}},
        {"LF-only line ends",
         "[HKEY_LOCAL_MACHINE\\Software\\T]\n\"a\"=hex:01,\\\n  02\n\"b\"=\"1\"\n",
         {{"Software\\T", "a"}, {"Software\\T", "b"}},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::ostringstream warnings;
        const auto reg = RegistryFile::parse(kHeader5 + c.body, warnings);
        EXPECT_EQ(warnings.str(), "");
        for (const auto& [key, name] : c.present)
            EXPECT_TRUE(reg.query(key, name).has_value()) << key << " / " << name;
        for (const auto& [key, name] : c.absent)
            EXPECT_FALSE(reg.query(key, name).has_value()) << key << " / " << name;
    }
}

TEST(RegistryFileScripts, MergedValueTakesTheLaterDataAndKeyKeepsItsFirstSpelling) {
    std::ostringstream warnings;
    const auto reg = RegistryFile::parse(kHeader5 +
                                             "[HKEY_LOCAL_MACHINE\\Software\\T\\Device]\r\n"
                                             "\"a\"=\"old\"\r\n"
                                             "[HKEY_LOCAL_MACHINE\\Software\\T\\DEVICE]\r\n"
                                             "\"A\"=dword:00000007\r\n",
                                         warnings);
    const auto value = reg.query("Software\\T\\device", "a");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(value->type, 4u);
    EXPECT_EQ(dataOf(*value), "\x07\0\0\0"s);
    EXPECT_EQ(reg.subkeys("Software\\T"), std::vector<std::string>{"Device"});
}

TEST(RegistryFileSubkeys, EnumerateSortedByUpperCaseNameAsWindowsDoes) {
    std::string body;
    for (const char* name : {"Zeta", "pc0", "PC1", "a_b", "AB", "A-B", "ab2", "b", "pc1"})
        body += std::string("[HKEY_LOCAL_MACHINE\\Software\\T\\") + name + "]\r\n";
    body +=
        "[HKEY_LOCAL_MACHINE\\Software\\T\\b\\Child]\r\n[HKEY_LOCAL_MACHINE\\Software\\Empty]\r\n";
    std::ostringstream warnings;
    const auto reg = RegistryFile::parse(kHeader5 + body, warnings);

    // "_" sorts after the letters because names are compared in upper case.
    const std::vector<std::string> expected = {"A-B", "AB",  "ab2", "a_b",
                                               "b",   "pc0", "PC1", "Zeta"};
    EXPECT_EQ(reg.subkeys("Software\\T"), expected);
    EXPECT_EQ(reg.subkeys("software\\t\\"), expected);
    EXPECT_EQ(reg.subkeys("Software\\T\\B"), std::vector<std::string>{"Child"});
    EXPECT_EQ(reg.subkeys("Software"), (std::vector<std::string>{"Empty", "T"}));
    EXPECT_EQ(reg.subkeys(""), std::vector<std::string>{"Software"});
    EXPECT_EQ(reg.subkeys("Software\\Empty"), std::vector<std::string>{});
    EXPECT_EQ(reg.subkeys("Software\\Missing"), std::nullopt);
    EXPECT_EQ(warnings.str(), "");
}

// ---------------------------------------------------------------------------

struct BadLineCase {
    const char* label;
    std::string line;
};

TEST(RegistryFileBadLines, EachIsSkippedWithOneWarningAndTheRestStillReads) {
    const std::vector<BadLineCase> cases = {
        {"unknown value type", R"("v"=qword:1)"},
        {"unterminated text", R"("v"="abc)"},
        {"text followed by junk", R"("v"="abc" junk)"},
        {"no equals sign", R"("v")"},
        {"unterminated name", R"("v=dword:1)"},
        {"dword of nine digits", R"("v"=dword:123456789)"},
        {"dword without digits", R"("v"=dword:)"},
        {"dword followed by junk", R"("v"=dword:12xz)"},
        {"hex byte that is not hex", R"("v"=hex:0g)"},
        {"hex byte of three digits", R"("v"=hex:012)"},
        {"hex type not closed", R"("v"=hex(2:01)"},
        {"hex type not a number", R"("v"=hex(zz):01)"},
        {"hex type of too many digits", R"("v"=hex(123456789):01)"},
        {"junk after a deletion", R"("v"=-x)"},
        {"a line of plain words", "this is not a registry line"},
        {"a second header", "REGEDIT4"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::ostringstream warnings;
        const auto reg = RegistryFile::parse(
            kHeader5 + kTestKey + "\"before\"=\"1\"\r\n" + c.line + "\r\n\"after\"=\"1\"\r\n",
            warnings);
        EXPECT_EQ(lineCount(warnings.str()), 1u) << warnings.str();
        EXPECT_NE(warnings.str().find(":5:"), std::string::npos) << warnings.str();
        EXPECT_TRUE(reg.query("Software\\T", "before").has_value());
        EXPECT_TRUE(reg.query("Software\\T", "after").has_value());
        EXPECT_FALSE(reg.query("Software\\T", "v").has_value());
    }
}

TEST(RegistryFileBadLines, ABadKeyLineDropsTheValuesUnderIt) {
    const std::vector<BadLineCase> cases = {
        {"key not closed", "[HKEY_LOCAL_MACHINE\\Software\\Bad"},
        {"junk after the key", "[HKEY_LOCAL_MACHINE\\Software\\Bad] junk"},
        {"unknown hive", "[HKEY_NOWHERE\\Software\\Bad]"},
        {"empty name inside the path", "[HKEY_LOCAL_MACHINE\\Software\\\\Bad]"},
        {"deleting the hive itself", "[-HKEY_LOCAL_MACHINE]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        std::ostringstream warnings;
        const auto reg = RegistryFile::parse(
            kHeader5 + kTestKey + "\"before\"=\"1\"\r\n" + c.line + "\r\n\"lost\"=\"1\"\r\n" +
                "[HKEY_LOCAL_MACHINE\\Software\\Good]\r\n\"after\"=\"1\"\r\n",
            warnings);
        EXPECT_EQ(lineCount(warnings.str()), 1u) << warnings.str();
        EXPECT_NE(warnings.str().find(":5:"), std::string::npos) << warnings.str();
        EXPECT_TRUE(reg.query("Software\\T", "before").has_value());
        EXPECT_FALSE(reg.query("Software\\T", "lost").has_value());
        EXPECT_FALSE(reg.query("Software\\Bad", "lost").has_value());
        EXPECT_TRUE(reg.query("Software\\Good", "after").has_value());
    }
}

TEST(RegistryFileBadLines, ValueBeforeAnyKeyAndMissingHeaderAreWarned) {
    std::ostringstream warnings;
    const auto early = RegistryFile::parse(kHeader5 + "\"v\"=\"1\"\r\n" + kTestKey, warnings);
    EXPECT_EQ(lineCount(warnings.str()), 1u) << warnings.str();
    EXPECT_EQ(early.subkeys("Software\\T"), std::vector<std::string>{});

    // Without a header the file still reads, as version 5 (hex(2) is UTF-16).
    std::ostringstream noHeaderWarnings;
    const auto noHeader =
        RegistryFile::parse(kTestKey + "\"v\"=hex(2):41,00,00,00\r\n", noHeaderWarnings);
    EXPECT_EQ(lineCount(noHeaderWarnings.str()), 1u) << noHeaderWarnings.str();
    const auto value = noHeader.query("Software\\T", "v");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(dataOf(*value), "A\0"s);
}

TEST(RegistryFileBadLines, ALongBadLineIsQuotedShortened) {
    std::ostringstream warnings;
    RegistryFile::parse(kHeader5 + kTestKey + std::string(100000, 'x') + "\r\n", warnings);
    EXPECT_EQ(lineCount(warnings.str()), 1u);
    EXPECT_LT(warnings.str().size(), 400u);
}

TEST(RegistryFileBadLines, RandomInputNeverThrows) {
    // Fragments of real syntax shuffled into broken lines.
    const std::vector<std::string> pieces = {"[",
                                             "]",
                                             "-",
                                             "HKEY_LOCAL_MACHINE",
                                             "\\",
                                             "Software",
                                             "Wow6432Node",
                                             "\"",
                                             "=",
                                             "@",
                                             "hex",
                                             "(",
                                             ")",
                                             ":",
                                             "dword:",
                                             "ff",
                                             ",",
                                             "00",
                                             " ",
                                             ";",
                                             "\\\r\n",
                                             "\r\n",
                                             "\n",
                                             "x",
                                             std::string("\0", 1),
                                             "\xff\xfe",
                                             "\xc3",
                                             "\xd8"};
    std::mt19937 random(20240611);
    for (int round = 0; round < 200; ++round) {
        std::string text = round % 2 ? kHeader5 : kHeader4;
        for (int i = 0; i < 400; ++i) text += pieces[random() % pieces.size()];
        if (round % 3 == 0) text = toUtf16File(text);
        std::ostringstream warnings;
        EXPECT_NO_THROW({
            const auto reg = RegistryFile::parse(text, warnings);
            reg.subkeys("Software");
            reg.query("Software\\x", "x");
        });
    }
}

// ---------------------------------------------------------------------------

TEST(RegistryFileEncodings, AnsiUtf8AndUtf16FilesReadAlike) {
    const std::string text = kHeader5 +
                             "[HKEY_LOCAL_MACHINE\\Software\\Gr\xc3\xbc\xc3\x9f"
                             "e]\r\n"
                             "\"Owner\"=\"M\xc3\xbcller \xe2\x82\xac\"\r\n"
                             "\"Path\"=hex(2):25,00,54,00,25,00,5c,00,fc,00,00,00\r\n";
    const std::string owner = "M\xc3\xbcller \xe2\x82\xac\0"s;
    const std::string path = "%T%\\\xc3\xbc\0"s;
    struct Encoding {
        const char* label;
        std::string bytes;
    };
    std::string lfOnly = text;
    for (std::size_t p; (p = lfOnly.find("\r\n")) != std::string::npos;) lfOnly.erase(p, 1);
    const std::vector<Encoding> encodings = {
        {"UTF-8 without BOM", text},
        {"UTF-8 with BOM", "\xEF\xBB\xBF" + text},
        {"UTF-16LE with BOM", toUtf16File(text)},
        {"UTF-16LE with BOM, LF line ends", toUtf16File(lfOnly)},
    };
    for (const auto& e : encodings) {
        SCOPED_TRACE(e.label);
        std::ostringstream warnings;
        const auto reg = RegistryFile::parse(e.bytes, warnings);
        EXPECT_EQ(warnings.str(), "");
        EXPECT_EQ(reg.subkeys("Software"), std::vector<std::string>{"Gr\xc3\xbc\xc3\x9f"
                                                                    "e"});
        const auto o = reg.query(
            "SOFTWARE\\GR\xc3\x9c\xc3\x9f"
            "E",
            "owner");
        ASSERT_TRUE(o.has_value());
        EXPECT_EQ(dataOf(*o), owner);
        const auto p = reg.query(
            "Software\\Gr\xc3\xbc\xc3\x9f"
            "e",
            "Path");
        ASSERT_TRUE(p.has_value());
        EXPECT_EQ(p->type, 2u);
        EXPECT_EQ(dataOf(*p), path);
    }
}

TEST(RegistryFileEncodings, AnsiBytesPassThroughUnchanged) {
    std::ostringstream warnings;
    const auto reg = RegistryFile::parse(kHeader4 + kTestKey +
                                             "\"\xe4"
                                             "b\"=\"M\xfcller\"\r\n",
                                         warnings);
    EXPECT_EQ(warnings.str(), "");
    const auto value = reg.query("Software\\T",
                                 "\xe4"
                                 "b");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(dataOf(*value), "M\xfcller\0"s);
}

// ---------------------------------------------------------------------------
// Files written by Wine's `reg export` and a hand-written REGEDIT4 file.

struct Expected {
    std::string name;
    std::uint32_t type;
    std::string data;
};

const std::vector<Expected>& korbodExportValues() {
    static const std::vector<Expected> values = {
        {"", 1, "default text\0"s},
        {"Big", 11, "\x08\x07\x06\x05\x04\x03\x02\x01"s},
        {"Empty", 1, "\0"s},
        {"InstallationPath", 1, "C:\\Program Files\\KORBOD\\\0"s},
        {"Interval", 3, "\x2c\x01"s},
        {"Level", 4, "\x31\0\0\0"s},
        {"LogDir", 2, "%SystemRoot%\\Logs\0"s},
        {"Names", 7, "x\0y\0\0"s},
        {"NoneVal", 0, "\0\0"s},
        {"Quote", 1, "say \"hi\" \\\\ there\0"s},
        {"RegID", 1, "  RID 42  \0"s},
        {"Type", 1, "TOVA\0"s},
        {"Unicode", 1,
         "Gr\xc3\xbc\xc3\x9f"
         "e \xe2\x82\xac\0"s},
        {"UniExpand", 2,
         "%TEMP%\\Gr\xc3\xbc\xc3\x9f"
         "e\0"s},
    };
    return values;
}

void expectKorbodExport(const RegistryFile& reg) {
    for (const auto& e : korbodExportValues()) {
        SCOPED_TRACE(e.name);
        const auto value = reg.query("Software\\KORBOD\\", e.name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, e.type);
        EXPECT_EQ(dataOf(*value), e.data);
    }
    std::string longData;
    for (int i = 0; i < 0x30; ++i) longData += static_cast<char>(i);
    const auto longValue = reg.query("Software\\KORBOD", "LONG");
    ASSERT_TRUE(longValue.has_value());
    EXPECT_EQ(dataOf(*longValue), longData);

    EXPECT_EQ(reg.subkeys("Software"), std::vector<std::string>{"KORBOD"});
    EXPECT_EQ(reg.subkeys("Software\\KORBOD\\"),
              (std::vector<std::string>{"ManagedMachines", "ManagedpOSIX"}));
    EXPECT_EQ(reg.subkeys("Software\\KORBOD\\ManagedMachines\\"),
              (std::vector<std::string>{"a_b", "pc0", "PC1", "Zeta"}));
    const auto name = reg.query(
        "Software\\KORBOD\\ManagedMachines\\"
        "PC1",
        "NAME");
    ASSERT_TRUE(name.has_value());
    EXPECT_EQ(dataOf(*name), "PC1\0"s);
    const auto port = reg.query("Software\\KORBOD\\ManagedpOSIX\\HV1", "Port");
    ASSERT_TRUE(port.has_value());
    EXPECT_EQ(dataOf(*port), "\xbb\x01\0\0"s);
}

TEST(RegistryFileWineExports, ThirtyTwoBitViewExportReadsEveryType) {
    std::ostringstream warnings;
    expectKorbodExport(RegistryFile::load(fixture("wine_export_32bit_view.reg"), warnings));
    EXPECT_EQ(warnings.str(), "");
}

TEST(RegistryFileWineExports, Wow6432NodeExportReadsAsTheSameKey) {
    std::ostringstream warnings;
    expectKorbodExport(RegistryFile::load(fixture("wine_export_wow6432node.reg"), warnings));
    EXPECT_EQ(warnings.str(), "");
}

TEST(RegistryFileWineExports, SameExportRecodedToUtf8ReadsAlike) {
    // The UTF-16 export put through iconv; the BOM comes along as EF BB BF.
    std::ostringstream warnings;
    expectKorbodExport(RegistryFile::load(fixture("wine_export_32bit_view_utf8.reg"), warnings));
    EXPECT_EQ(warnings.str(), "");
}

TEST(RegistryFileRegedit4, HandWrittenAnsiFileKeepsItsBytes) {
    std::ostringstream warnings;
    const auto reg = RegistryFile::load(fixture("regedit4_ansi.reg"), warnings);
    EXPECT_EQ(warnings.str(), "");
    const std::vector<Expected> values = {
        {"InstallationPath", 1, "C:\\Agents\\KORBOD\\\0"s},
        {"Type", 1, "RULK\0"s},
        {"REGID", 1, "RID-4711\0"s},
        {"LogDir", 2, "%SystemRoot%\\Logs\0"s},
        {"Names", 7, "x\0y\0\0"s},
        {"Interval", 3, "\xff\xff"s},
        {"Level", 4, "\x01\x01\x01\x01"s},
        {"Owner", 1, "M\xfcller\0"s},
        {"Empty", 1, "\0"s},
        {"", 1, "ansi default\0"s},
    };
    for (const auto& e : values) {
        SCOPED_TRACE(e.name);
        const auto value = reg.query("Software\\KORBOD", e.name);
        ASSERT_TRUE(value.has_value());
        EXPECT_EQ(value->type, e.type);
        EXPECT_EQ(dataOf(*value), e.data);
    }
    EXPECT_EQ(reg.subkeys("Software\\KORBOD\\ManagedMachines"),
              (std::vector<std::string>{"ws-01", "WS-02"}));
    const auto key = reg.query("Software\\KORBOD\\ManagedMachines\\WS-02", "Key");
    ASSERT_TRUE(key.has_value());
    EXPECT_EQ(key->data.size(), 26u);
    EXPECT_EQ(key->data.back(), 0x99);
    EXPECT_FALSE(reg.query("Software\\KORBOD", "Ignored").has_value());
    EXPECT_EQ(reg.subkeys("Software"), std::vector<std::string>{"KORBOD"});
}

TEST(RegistryFileLoad, MissingFileIsAnEmptyRegistryWithoutWarning) {
    std::ostringstream warnings;
    const auto reg = RegistryFile::load(fixture("no_such_file.reg"), warnings);
    EXPECT_EQ(warnings.str(), "");
    EXPECT_EQ(reg.subkeys(""), std::vector<std::string>{});
    EXPECT_EQ(reg.subkeys("Software"), std::nullopt);
    EXPECT_FALSE(reg.query("Software\\KORBOD", "InstallationPath").has_value());
}

TEST(RegistryFileLoad, UnreadablePathIsAnEmptyRegistryWithAWarning) {
    std::ostringstream warnings;
    const auto reg = RegistryFile::load(fixture(""), warnings);  // a folder
    EXPECT_EQ(lineCount(warnings.str()), 1u);
    EXPECT_EQ(reg.subkeys(""), std::vector<std::string>{});
}

// ---------------------------------------------------------------------------

// The bound only catches a parse that grows with the square of the file (it
// would take minutes here); it leaves room for sanitizer builds and load.
TEST(RegistryFileScale, ThreeThousandDevicesOfTwentyValuesParseInLinearTime) {
    std::string text = kHeader5 +
                       "[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\KORBOD]\r\n"
                       "\"InstallationPath\"=\"C:\\\\Agents\\\\KORBOD\\\\\"\r\n";
    for (int d = 0; d < 3000; ++d) {
        const std::string device = "DEV-" + std::to_string(100000 + (d * 7919) % 3000);
        text += "\r\n[HKEY_LOCAL_MACHINE\\Software\\Wow6432Node\\KORBOD\\ManagedMachines\\" +
                device + "]\r\n";
        for (int v = 0; v < 18; ++v)
            text += "\"Setting" + std::to_string(v) + "\"=\"value of " + device + "\"\r\n";
        text += "\"Flags\"=dword:0000000" + std::to_string(d % 10) + "\r\n";
        text +=
            "\"Blob\"=hex(2):25,00,53,00,79,00,73,00,74,00,65,00,6d,00,52,00,6f,00,6f,00,\\\r\n"
            "  74,00,25,00,00,00\r\n";
    }
    const std::string file = toUtf16File(text);

    std::ostringstream warnings;
    const auto start = std::chrono::steady_clock::now();
    const auto reg = RegistryFile::parse(file, warnings);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count(), 15000);
    EXPECT_EQ(warnings.str(), "");

    const auto devices = reg.subkeys("Software\\KORBOD\\ManagedMachines");
    ASSERT_TRUE(devices.has_value());
    ASSERT_EQ(devices->size(), 3000u);
    EXPECT_EQ(devices->front(), "DEV-100000");
    EXPECT_EQ(devices->back(), "DEV-102999");
    const auto value = reg.query("Software\\KORBOD\\ManagedMachines\\dev-101234", "setting17");
    ASSERT_TRUE(value.has_value());
    EXPECT_EQ(dataOf(*value), "value of DEV-101234\0"s);
    const auto blob = reg.query("Software\\KORBOD\\ManagedMachines\\DEV-102999", "Blob");
    ASSERT_TRUE(blob.has_value());
    EXPECT_EQ(dataOf(*blob), "%SystemRoot%\0"s);
}

}  // namespace
}  // namespace quillet::os::host
