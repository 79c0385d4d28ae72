#include "devicelist/validation.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>

#include "support/fake_system.h"

namespace quillet {
namespace {

using namespace std::string_literals;
using testing::FakeRun;
using Values = std::vector<std::pair<std::string, std::string>>;

const std::string kList = "Configuration\\DeviceList.ini";
// The fake clock's second: 5 December 2026, 04:13:01, day before month.
const std::string kStatusFile = "Status\\wpdevicestatus_12345_20260512041301.txt";

const Values kValid = {{"Type", "1"},          {"Category", "LAN"},   {"Enable", "1"},
                       {"DaysToMonitor", "7"}, {"FromTime", "09:00"}, {"ToTime", "18:00"},
                       {"LocalMachine", "N"},  {"RegID", "R1"}};

// A section of valid values, one key given another value or left out (nullopt).
std::string section(const std::string& name, const std::string& key = "",
                    const std::optional<std::string>& value = std::nullopt) {
    std::string text = "[" + name + "]\r\n";
    for (const auto& [k, v] : kValid)
        if (k != key || value) text += k + "=" + (k == key ? *value : v) + "\r\n";
    return text + "\r\n";
}

// The five summary lines, MS to VMWare.
std::string totals(const std::vector<unsigned>& counts) {
    std::string text;
    const char* const kinds[] = {"MS", "POSIX", "SNMP", "ICMP", "VMWare"};
    for (int i = 0; i < 5; ++i)
        text += "Total number of " + std::string(kinds[i]) +
                " Servers : " + std::to_string(counts[i]) + "\r\n";
    return text;
}

const std::string kVerdict = "All the entries in DeviceList.ini file are valid\r\n";

// What follows "[DATA]" in the status file.
std::string dataBlock(const std::string& status) {
    const auto at = status.find("[DATA]\r\n");
    return at == std::string::npos ? "<no DATA>" : status.substr(at + 8);
}

TEST(DeviceListValidation, MissingDeviceListGivesAValidEmptyStatusFile) {
    FakeRun f;
    PriSubValidateDeviceList(f.ctx);
    EXPECT_EQ(f.read(kStatusFile),
              "[MAIN]\r\nServer=\r\nDateTime=12/05/2026 04:13:01\r\nRegID=12345\r\n"
              "\r\n\r\n[DATA]\r\n" +
                  kVerdict + "\r\n" + totals({0, 0, 0, 0, 0}) + "\r\n");
    EXPECT_FALSE(f.exists("ApplicationLog\\MNStatusLog.txt"));
}

TEST(DeviceListValidation, EachKeyIsCheckedByItsRule) {
    struct Case {
        const char* what;
        std::string key;
        std::optional<std::string> value;  // as written in the file; nullopt: key left out
        std::string finding;               // "" when the value passes
        int counted;                       // index of the total it feeds, -1 none
    };
    const std::string longType(300, '9');
    const Case cases[] = {
        {"all valid", "", "", "", 0},
        {"Type spaces only", "Type", "\"   \"", "Type value is blank", -1},
        {"Type 1.0", "Type", "1.0", "Invalid value for Type found as : 1.0", -1},
        {"Type with a leading space passes but counts nowhere", "Type", "\" 1\"", "", -1},
        {"Type with a trailing space passes but counts nowhere", "Type", "\"4 \"", "", -1},
        {"Type 2", "Type", "2", "", 1},
        {"Type 3", "Type", "3", "", 2},
        {"Type 4", "Type", "4", "", 3},
        {"Type 5", "Type", "5", "", 4},
        {"Type read through 255 characters", "Type", longType,
         "Invalid value for Type found as : " + longType.substr(0, 254), -1},
        {"Category missing", "Category", std::nullopt, "Category value is blank", 0},
        {"Category wan", "Category", "wan", "", 0},
        {"Category Lan with spaces", "Category", "\" Lan \"", "", 0},
        {"Category LAN2", "Category", "LAN2", "Invalid value for Category found as : LAN2", 0},
        {"Category tab is not trimmed", "Category", "\"\tLAN\"",
         "Invalid value for Category found as : \tLAN", 0},
        {"Enable blank", "Enable", "", "Enable value is blank", 0},
        {"DaysToMonitor abc", "DaysToMonitor", "abc", "", 0},
        {"DaysToMonitor spaces", "DaysToMonitor", "\"  \"", "DaysToMonitor value is blank", 0},
        {"FromTime blank", "FromTime", "", "FromTime value is blank", 0},
        {"ToTime blank", "ToTime", "", "ToTime value is blank", 0},
        {"LocalMachine blank", "LocalMachine", "", "LocalMachine value is blank", 0},
        {"LocalMachine y", "LocalMachine", "y", "", 0},
        {"LocalMachine n with spaces", "LocalMachine", "\" n \"", "", 0},
        {"LocalMachine Yes", "LocalMachine", "Yes", "Invalid value for LocalMachine found as : Yes",
         0},
        {"RegID blank", "RegID", "", "RegID value is blank", 0},
    };
    for (const auto& c : cases) {
        FakeRun f;
        f.writeFile(kList, section("dev", c.key, c.value));
        PriSubValidateDeviceList(f.ctx);
        std::vector<unsigned> counts(5);
        if (c.counted >= 0) counts[c.counted] = 1;
        const std::string expected =
            (c.finding.empty() ? kVerdict : "INI_ERR :\tdev\t" + c.finding + "\r\n") + "\r\n" +
            totals(counts) + "\r\n";
        EXPECT_EQ(dataBlock(f.read(kStatusFile)), expected) << c.what;
    }
}

TEST(DeviceListValidation, SectionWithoutAnyKeyGivesEightFindingsInOrderAndNothingElse) {
    FakeRun f;
    f.run.statusDescription = "kept";
    f.writeFile(kList, "[bare]\r\nOther=1\r\n");
    PriSubValidateDeviceList(f.ctx);
    std::string expected;
    for (const char* key : {"Type", "Category", "Enable", "DaysToMonitor", "FromTime", "ToTime",
                            "LocalMachine", "RegID"})
        expected += std::string("INI_ERR :\tbare\t") + key + " value is blank\r\n";
    EXPECT_EQ(dataBlock(f.read(kStatusFile)), expected + "\r\n" + totals({0, 0, 0, 0, 0}) + "\r\n");
    // Findings never reach the log, the reports or the run's state.
    EXPECT_FALSE(f.exists("ApplicationLog\\MNStatusLog.txt"));
    EXPECT_TRUE(f.reportFiles().empty());
    EXPECT_EQ(f.run.statusDescription, "kept");
    EXPECT_TRUE(f.run.overallStatusOK);
}

TEST(DeviceListValidation, LaterSectionWithLocalMachineYNamesTheServer) {
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> sections;  // name, LocalMachine
        std::string server;
    };
    const Case cases[] = {
        {"none", {{"a", "N"}, {"b", "n"}}, ""},
        {"one", {{"a", "N"}, {"b", "Y"}, {"c", "N"}}, "b"},
        {"later wins", {{"a", "Y"}, {"b", "y"}, {"c", "N"}}, "b"},
        {"Yes is not Y", {{"a", "Y"}, {"b", "Yes"}}, "a"},
        {"spaces around y", {{"a", "\" y \""}}, "a"},
    };
    for (const auto& c : cases) {
        FakeRun f;
        std::string list;
        for (const auto& [name, local] : c.sections) list += section(name, "LocalMachine", local);
        f.writeFile(kList, list);
        PriSubValidateDeviceList(f.ctx);
        const std::string status = f.read(kStatusFile);
        EXPECT_EQ(status.substr(0, status.find("DateTime=")),
                  "[MAIN]\r\nServer=" + c.server + "\r\n")
            << c.what;
    }
}

TEST(DeviceListValidation, FileNameIsYearDayMonthAndReplacesOneOfTheSameName) {
    FakeRun f;
    f.os.clock = {2026, 12, 5, 4, 13, 9};
    f.os.setString("Software\\KORBOD", "RegID", "");  // not set: "0"
    const std::string name = "Status\\wpdevicestatus_0_20260512041309.txt";
    f.writeFile(name, "an older file of the same second\r\n");
    f.writeFile("Status\\wpdevicestatus_0_20260512041308.txt", "kept");
    f.writeFile(kList, section("pc"));
    PriSubValidateDeviceList(f.ctx);
    const std::string status = f.read(name);
    EXPECT_EQ(status.substr(0, status.find("[DATA]")),
              "[MAIN]\r\nServer=\r\nDateTime=12/05/2026 04:13:09\r\nRegID=0\r\n\r\n\r\n");
    EXPECT_EQ(f.read("Status\\wpdevicestatus_0_20260512041308.txt"), "kept");
}

// A clock that moves one second each time it is read.
class TickingSystem : public testing::FakeSystem {
public:
    using FakeSystem::FakeSystem;
    os::LocalTime now() override {
        const os::LocalTime t = clock;
        advanceSeconds(1);
        return t;
    }
};

TEST(DeviceListValidation, DateTimeLineTakesTheTimeAnew) {
    testing::TempMachine machine;
    TickingSystem os(machine.path());
    RunState run;
    Context ctx{os, run};
    os.setString("Software\\KORBOD", "InstallationPath", "C:\\Agents\\KORBOD\\");
    os.setString("Software\\KORBOD", "RegID", "7");
    PriSubValidateDeviceList(ctx);
    const std::string folder = os.hostPath("C:\\Agents\\KORBOD\\Status");
    std::string name;  // the only file
    for (const auto& e : std::filesystem::directory_iterator(folder)) name = e.path().filename();
    std::ifstream in(folder + "/" + name, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    const auto at = text.find("DateTime=12/05/2026 ");
    ASSERT_NE(at, std::string::npos) << text;
    std::string lineTime = text.substr(at + 20, 8);  // HH:MM:SS, later than the name's HHMMSS
    EXPECT_GT(lineTime.erase(5, 1).erase(2, 1), name.substr(name.size() - 10, 6));
}

TEST(DeviceListValidation, EverySectionIsValidatedAndFindingsSuppressOnlyTheVerdict) {
    FakeRun f;
    std::string list = section("a") + section("b", "Type", "5") + section(" c d ", "Enable", "");
    for (int i = 0; i < 1000; ++i)  // about 36,000 characters of names: more than one buffer
        list += section("device-with-a-fairly-long-name-" + std::to_string(10000 + i), "Type",
                        i == 999 ? "7" : "1");
    f.writeFile(kList, list);
    PriSubValidateDeviceList(f.ctx);
    // The section name is written as the list gives it.
    EXPECT_EQ(
        dataBlock(f.read(kStatusFile)),
        "INI_ERR :\tc d\tEnable value is blank\r\n"
        "INI_ERR :\tdevice-with-a-fairly-long-name-10999\tInvalid value for Type found as : 7\r\n"
        "\r\n" +
            totals({1001, 0, 0, 0, 1}) + "\r\n");
}

TEST(DeviceListValidation, StatusFileThatCannotBeWrittenLogsOneLine) {
    FakeRun f;
    f.run.statusDescription = "kept";
    f.writeFile(kList, section("pc"));
    f.os.failOn("appendToFile", "_20260512041301.txt", 5, "Access is denied.");
    PriSubValidateDeviceList(f.ctx);
    EXPECT_EQ(f.logMessages(),
              std::vector<std::string>{"ERR : Error while validating DeviceList.ini file. "
                                       "Error No.: 5, Error Description : Access is "
                                       "denied., Source = PriSubValidateDeviceList()"});
    EXPECT_FALSE(f.exists(kStatusFile));
    EXPECT_TRUE(f.reportFiles().empty());
    EXPECT_EQ(f.run.statusDescription, "kept");
    EXPECT_TRUE(f.run.overallStatusOK);
}

TEST(DeviceListValidation, StripNullsCutsAtTheFirstZeroInPlace) {
    FakeRun f;
    for (const auto& [in, out] :
         Values{{"abc", "abc"}, {"ab\0cd"s, "ab"}, {"\0x"s, ""}, {"a\0\0"s, "a"}, {"", ""}}) {
        std::string text = in;
        EXPECT_EQ(StripNulls(f.ctx, text), out);
        EXPECT_EQ(text, out);
    }
}

}  // namespace
}  // namespace quillet
