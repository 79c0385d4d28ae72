#include "os/host/reg_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace quillet::os::host {
namespace {

using namespace std::string_literals;

const std::string kHeader5 = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kHeader4 = "REGEDIT4\r\n\r\n";
const std::string kTestKey = "[HKEY_LOCAL_MACHINE\\Software\\T]\r\n";

std::string hklm(const std::string& path) { return "[HKEY_LOCAL_MACHINE\\" + path + "]\r\n"; }

std::size_t lineCount(const std::string& text) {
    return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// "type:bytes" of a value as the ANSI query returns it, or "none".
std::string typed(const RegistryFile& reg, const std::string& key, const std::string& name) {
    const auto v = reg.query(key, name);
    return v ? std::to_string(v->type) + ":" + std::string(v->data.begin(), v->data.end()) : "none";
}

// A file parsed with its warnings kept.
struct Parsed {
    std::ostringstream warnings;
    RegistryFile reg;
    explicit Parsed(const std::string& bytes) : reg(RegistryFile::parse(bytes, warnings)) {}
};

// What no scenario writes: escapes, ANSI bytes and UTF-16 beyond the usual.
TEST(RegistryFileValues, TextsGiveTheBytesTheAnsiQueryReturns) {
    struct Case {
        const char* label;
        bool regedit4;
        std::string line;  // may hold continuation lines
        std::string expected;
    };
    const Case cases[] = {
        {"unknown escape kept as written", true, R"("v"="C:\Temp")", "1:C:\\Temp\0"s},
        {"newline escape", false, R"("v"="a\nb")", "1:a\nb\0"s},
        {"ANSI bytes pass through", true, "\"v\"=\"M\xfcller\"", "1:M\xfcller\0"s},
        {"surrogate pair", false, R"("v"=hex(1):3d,d8,00,de)", "1:\360\237\230\200"s},
        {"lone surrogate is U+FFFD", false, R"("v"=hex(1):3d,d8,41,00)", "1:\357\277\275A"s},
        {"odd last byte of UTF-16 dropped", false, R"("v"=hex(2):41,00,42)", "2:A"},
        {"continuation at end of file", false, "\"v\"=hex:01,\\", "3:\x01"s},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Parsed p((c.regedit4 ? kHeader4 : kHeader5) + kTestKey + c.line + "\r\n");
        EXPECT_EQ(p.warnings.str(), "");
        EXPECT_EQ(typed(p.reg, "Software\\T", c.line[0] == '@' ? "" : "v"), c.expected);
    }
}

TEST(RegistryFileTree, KeysAndValuesLandWhereTheExportPutsThem) {
    struct Case {
        const char* label;
        std::string body;             // after the version 5 header
        std::string present, absent;  // "key path:value name", blank-separated
    };
    const std::string a = "\"a\"=\"1\"\r\n";
    const Case cases[] = {
        {"values on the hive itself", "[HKEY_LOCAL_MACHINE]\r\n" + a, ":a", ""},
        {"Wow6432Node anywhere else is an ordinary key",
         hklm("Software\\K\\Wow6432Node\\X") + a + hklm("System\\Wow6432Node\\Y") + a,
         "Software\\K\\Wow6432Node\\X:a System\\Wow6432Node\\Y:a", "Software\\K\\X:a System\\Y:a"},
        {"comments, blank lines and indented lines",
         "; comment\r\n\r\n   [HKEY_LOCAL_MACHINE\\T]   \r\n\t" + a + "  ; \"b\"=\"1\"\r\n", "T:a",
         "T:b"},
        {"key and value names match without regard to case, beyond ASCII too",
         hklm("Software\\KORBOD") +
             "\"Path\"=\"1\"\r\n\"\303\234bung\"=\"1\"\r\n\"\344b\"=\"1\"\r\n" +
             "\"\xd0\x9f\xd1\x83\xd1\x82\xd1\x8c\"=\"1\"\r\n" + hklm("Software\\KORBOD\\Device") +
             a + hklm("SOFTWARE\\korbod\\DEVICE") + "\"b\"=\"1\"\r\n",
         "SOFTWARE\\korbod\\:PATH Software\\KORBOD:\303\274BUNG Software\\KORBOD:\344b "
         "Software\\KORBOD:\xd0\x9f\xd0\xa3\xd0\xa2\xd0\xac software\\korbod\\device:A "
         "Software\\KORBOD\\Device:b",
         "Software\\KORBOD:Pat Software\\KORBO:Path Software\\KORBOD\\\\:Path "
         "\\Software\\KORBOD:Path "
         "Software\\KORBOD:"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        Parsed p(kHeader5 + c.body);
        EXPECT_EQ(p.warnings.str(), "");
        for (const bool present : {true, false}) {
            std::istringstream list(present ? c.present : c.absent);
            for (std::string s; list >> s;) {
                const auto colon = s.rfind(':');
                EXPECT_EQ(p.reg.query(s.substr(0, colon), s.substr(colon + 1)).has_value(), present)
                    << s;
            }
        }
    }
}

TEST(RegistryFileSubkeys, EnumerateSortedByUpperCaseNameAsWindowsDoes) {
    std::string body = kHeader5;
    for (const char* name :
         {"Zeta", "pc0", "PC1", "a_b", "AB", "A-B", "ab2", "b", "pc1", "b\\Child"})
        body += hklm(std::string("Software\\T\\") + name);
    Parsed p(body + hklm("Software\\Empty"));
    // "_" sorts after the letters because names are compared in upper case.
    EXPECT_EQ(p.reg.subkeys("software\\t\\"),
              (std::vector<std::string>{"A-B", "AB", "ab2", "a_b", "b", "pc0", "PC1", "Zeta"}));
    EXPECT_EQ(p.reg.subkeys("Software\\T\\B"), std::vector<std::string>{"Child"});
    EXPECT_EQ(p.reg.subkeys("Software"), (std::vector<std::string>{"Empty", "T"}));
    EXPECT_EQ(p.reg.subkeys(""), std::vector<std::string>{"Software"});
    EXPECT_EQ(p.reg.subkeys("Software\\Empty"), std::vector<std::string>{});
    EXPECT_EQ(p.reg.subkeys("Software\\Missing"), std::nullopt);
    EXPECT_EQ(p.warnings.str(), "");
}

// One bad line a row. A bad key line also drops the values under it. Lines
// no export writes (deletions, other hives) are bad lines too.
TEST(RegistryFileBadLines, EachIsSkippedWithOneWarningAndTheRestStillReads) {
    const std::string badValues = R"("v"=qword:1
"v"="abc
"v"="abc" junk
"v"
"v=dword:1
"v"=dword:123456789
"v"=dword:
"v"=dword:12xz
"v"=hex:0g
"v"=hex:012
"v"=hex(2:01
"v"=hex(zz):01
"v"=hex(123456789):01
"before"=-
this is not a registry line)";
    const std::string badKeys = R"([HKEY_LOCAL_MACHINE\Software\Bad
[HKEY_LOCAL_MACHINE\Software\Bad] junk
[HKEY_NOWHERE\Software\Bad]
[HKEY_LOCAL_MACHINE\Software\\Bad]
[-HKEY_LOCAL_MACHINE\Software\T]
[HKEY_CURRENT_USER\Software\T]
[HKLM\Software\T])";
    for (const bool keyLine : {false, true}) {
        std::istringstream lines(keyLine ? badKeys : badValues);
        for (std::string line; std::getline(lines, line);) {
            SCOPED_TRACE(line);
            Parsed p(kHeader5 + kTestKey + "\"before\"=\"1\"\r\n" + line +
                     "\r\n\"next\"=\"1\"\r\n" + hklm("Software\\Good") + "\"after\"=\"1\"\r\n");
            EXPECT_EQ(lineCount(p.warnings.str()), 1u) << p.warnings.str();
            EXPECT_NE(p.warnings.str().find(":5:"), std::string::npos) << p.warnings.str();
            EXPECT_TRUE(p.reg.query("Software\\T", "before").has_value());
            EXPECT_FALSE(p.reg.query("Software\\T", "v").has_value());
            EXPECT_EQ(p.reg.query("Software\\T", "next").has_value(), !keyLine);
            EXPECT_FALSE(p.reg.query("Software\\Bad", "next").has_value());
            EXPECT_TRUE(p.reg.query("Software\\Good", "after").has_value());
        }
    }
}

TEST(RegistryFileBadLines, AValueBeforeAnyKeyIsWarned) {
    Parsed early(kHeader5 + "\"v\"=\"1\"\r\n" + kTestKey);
    EXPECT_EQ(lineCount(early.warnings.str()), 1u) << early.warnings.str();
    EXPECT_EQ(early.reg.subkeys("Software\\T"), std::vector<std::string>{});
}

// Files written by Wine's `reg export` (the 32-bit view, the same key through
// Wow6432Node, and the first put through iconv to UTF-8, BOM and all): their
// layout. The value forms a run reads are the startup and device list
// scenarios' registry values.
TEST(RegistryFileWineExports, EveryExportReadsAsTheSameTree) {
    std::string longData;
    for (int i = 0; i < 0x30; ++i) longData += static_cast<char>(i);
    const std::string values[][2] = {
        {"", "1:default text\0"s},
        {"Big", "11:\x08\x07\x06\x05\x04\x03\x02\x01"s},
        {"LONG", "3:" + longData},
        {"Names", "7:x\0y\0\0"s},
        {"NoneVal", "0:\0\0"s},
        {"Quote", "1:say \"hi\" \\\\ there\0"s},
        {"Unicode", "1:Gr\303\274\303\237e \xe2\x82\xac\0"s},
        {"UniExpand", "2:%TEMP%\\Gr\303\274\303\237e\0"s},
    };
    for (const char* file : {"wine_export_32bit_view.reg", "wine_export_wow6432node.reg",
                             "wine_export_32bit_view_utf8.reg"}) {
        SCOPED_TRACE(file);
        std::ostringstream warnings;
        const auto reg = RegistryFile::load(QUILLET_TEST_DATA "/reg/"s + file, warnings);
        EXPECT_EQ(warnings.str(), "");
        for (const auto& v : values)
            EXPECT_EQ(typed(reg, "Software\\KORBOD\\", v[0]), v[1]) << v[0];
        EXPECT_EQ(reg.subkeys("Software"), std::vector<std::string>{"KORBOD"});
        EXPECT_EQ(reg.subkeys("Software\\KORBOD\\"),
                  (std::vector<std::string>{"ManagedMachines", "ManagedpOSIX"}));
        EXPECT_EQ(reg.subkeys("Software\\KORBOD\\ManagedMachines\\"),
                  (std::vector<std::string>{"a_b", "pc0", "PC1", "Zeta"}));
        EXPECT_EQ(typed(reg, "Software\\KORBOD\\ManagedMachines\\PC1", "NAME"), "1:PC1\0"s);
        EXPECT_EQ(typed(reg, "Software\\KORBOD\\ManagedpOSIX\\HV1", "Port"), "4:\xbb\x01\0\0"s);
    }
}

TEST(RegistryFileLoad, MissingFileIsEmptySilentlyAndUnreadableOneWithAWarning) {
    std::ostringstream missingWarnings, folderWarnings;
    const auto missing = RegistryFile::load(QUILLET_TEST_DATA "/reg/none.reg", missingWarnings);
    EXPECT_EQ(missingWarnings.str(), "");
    EXPECT_EQ(missing.subkeys("Software"), std::nullopt);
    const auto folder = RegistryFile::load(QUILLET_TEST_DATA "/reg/", folderWarnings);
    EXPECT_EQ(lineCount(folderWarnings.str()), 1u);
    EXPECT_EQ(folder.subkeys(""), std::vector<std::string>{});
}

}  // namespace
}  // namespace quillet::os::host
