#include "platform/ini.h"

#include <gtest/gtest.h>

#include "support/fake_system.h"

namespace quillet {
namespace {

using testing::FakeRun;

const std::string kFile = "C:\\Agents\\KORBOD\\Configuration\\Test.ini";

TEST(IniAccess, ReadersTrimOrNotAndCutAtTheirBuffers) {
    struct Case {
        std::string stored;    // value written into the file as it stands
        std::string readIni;   // ReadIniString
        std::string keyValue;  // GetKeyValue
    } cases[] = {
        {"plain", "plain", "plain"},
        {"   ", "", ""},
        {"\t", "", ""},  // the platform trims tabs around values itself
        {std::string(300, 'v'), std::string(300, 'v'), std::string(254, 'v')},
        {std::string(5000, 'w'), std::string(4999, 'w'), std::string(254, 'w')},
    };
    for (const auto& c : cases) {
        FakeRun f;
        f.writeFile("Configuration\\Test.ini", "[S]\r\nk=" + c.stored + "\r\n");
        EXPECT_EQ(ReadIniString(f.ctx, "S", "k", kFile), c.readIni) << c.stored.substr(0, 10);
        EXPECT_EQ(GetKeyValue(f.ctx, "s", "K", kFile), c.keyValue) << c.stored.substr(0, 10);
    }
}

TEST(IniAccess, MissingFileSectionOrKeyReadsEmptyAndLogsNothing) {
    FakeRun f;
    EXPECT_EQ(ReadIniString(f.ctx, "S", "k", kFile), "");
    f.writeFile("Configuration\\Test.ini", "[S]\r\nother=1\r\n");
    EXPECT_EQ(ReadIniString(f.ctx, "S", "k", kFile), "");
    EXPECT_EQ(ReadIniString(f.ctx, "T", "other", kFile), "");
    EXPECT_EQ(GetKeyValue(f.ctx, "S", "k", kFile), "");
    EXPECT_FALSE(f.exists("ApplicationLog\\MNStatusLog.txt"));
}

TEST(IniAccess, UpdateWritesOnlyMissingOrBlankKeys) {
    struct Case {
        std::string before;
        std::string after;
    } cases[] = {
        {"", "[S]\r\nk=new\r\n"},                              // missing file
        {"[S]\r\nk=0\r\n", "[S]\r\nk=0\r\n"},                  // "0" is a value
        {"[S]\r\nk=   \r\n", "[S]\r\nk=new\r\n"},              // spaces only
        {"[S]\r\nk=\r\n", "[S]\r\nk=new\r\n"},                 // present but empty
        {"[T]\r\nx=1\r\n", "[T]\r\nx=1\r\n[S]\r\nk=new\r\n"},  // missing section
    };
    for (const auto& c : cases) {
        FakeRun f;
        if (!c.before.empty())
            f.writeFile("Configuration\\Test.ini", c.before);
        else
            f.writeFile("Configuration\\keep", "");
        SubUpdateIniKeyValue(f.ctx, "S", "k", "new", kFile);
        EXPECT_EQ(f.read("Configuration\\Test.ini"), c.after) << c.before;
    }
}

TEST(IniAccess, WriteIniStringDropsFailuresAndSetKeyValueLogsThem) {
    FakeRun f;
    f.os.failOn("iniWriteString", "Test.ini", 5, "Access is denied.");
    WriteIniString(f.ctx, kFile, "S", "k", "v");
    EXPECT_FALSE(f.exists("ApplicationLog\\MNStatusLog.txt"));
    SetKeyValue(f.ctx, "S", "k", "v", kFile);
    EXPECT_EQ(f.logMessages(),
              std::vector<std::string>{
                  "ERR : Error Source : SetKeyValue(),Error Number : 5,Desc:Access is denied."});
}

TEST(IniAccess, WriteWithEmptyValueKeepsTheKey) {
    FakeRun f;
    f.writeFile("Configuration\\keep", "");
    WriteIniString(f.ctx, kFile, "S", "k", "");
    EXPECT_EQ(f.read("Configuration\\Test.ini"), "[S]\r\nk=\r\n");
}

}  // namespace
}  // namespace quillet
