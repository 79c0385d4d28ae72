#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "devicelist/sync.h"
#include "devicelist/validation.h"
#include "support/fake_system.h"

namespace quillet {
namespace {

using testing::FakeRun;
using ::testing::HasSubstr;

TEST(DecryptString, TurnsCodesIntoCharactersOrFailsTheWholeTextWithItsLine) {
    struct Case {
        std::string input, decoded;
        int error;  // 0: decoded without a log line
    } cases[] = {
        {" 49 H  50 ", "12", 0},
        {"007H065", "\aA", 0},
        {"255", "\xFF", 0},
        {"65H0H66", std::string("A\0B", 3), 0},
        {"", "", 0},
        {"49h50", "", 13},
        {"  ", "", 13},
        {"\t49", "", 13},
        {"+65", "", 13},
        {"65.0", "", 13},
        {"256", "", 5},
        {"65H123456789012345678901234567890", "", 5},
    };
    for (const auto& c : cases) {
        FakeRun f;
        EXPECT_EQ(PriSubDecryptString(f.ctx, c.input), c.decoded) << c.input;
        const std::string description =
            c.error == 13 ? "Type mismatch" : "Invalid procedure call or argument";
        const std::vector<std::string> line = {
            "ERR : Error while decrypting string. Error No. : " + std::to_string(c.error) +
            ", Error Description : " + description + ", Source = PriSubDecryptString()"};
        EXPECT_EQ(f.logMessages(), c.error ? line : std::vector<std::string>{}) << c.input;
    }
}

// A registry key of the agent's managed devices, in REGEDIT4 lines.
std::string device(const std::string& parent, const std::string& name, const std::string& values) {
    return "[HKEY_LOCAL_MACHINE\\Software\\KORBOD\\" + parent + "\\" + name + "]\n" + values + "\n";
}
const std::string kMachine =
    "\"RegID\"=\"R-1\"\n\"Type\"=\"1\"\n\"Category\"=\"LAN\"\n\"MonitoringStatus\"=\"49\"\n"
    "\"GenStTime\"=\"48H57\"\n\"OS\"=\"Windows\"\n\"OSVer\"=\"10.0\"\n";
const std::string kHost =
    "\"Type\"=\"5\"\n\"APIType\"=\"HostAgent\"\n\"VCenterIP\"=\"10.0.0.9\"\n\"Port\"=\"443\"\n"
    "\"MonitoringStatus\"=\"49\"\n";

TEST(DeviceListSync, AWriteThePlatformRefusesFailsTheSynchronisation) {
    // A full disk: the first writes go through, then every one is refused.
    for (const int allowed : {0, 5, 19}) {
        FakeRun f(device("ManagedMachines", "pc1", kMachine) +
                  device("ManagedMachines", "pc2", kMachine));
        f.os.failOn("iniWriteString", "DeviceList.ini", allowed);
        PriSubSyncDeviceList(f.ctx);
        // Refused within pc1's keys, or at pc2's first once pc1 is whole.
        EXPECT_EQ(f.logMessages(),
                  std::vector<std::string>{
                      "ERR : Error while recreating devicelist.ini from registry. Error No. : 112, "
                      "Error Description : There is not enough space on the disk., Source = "
                      "PriSubSyncDeviceList() Line No : 90"})
            << allowed;
    }
}

// The device layouts hang on exact texts, and so does the health record, which
// the procedure writes for the health-check command alone.
TEST(DeviceListSync, DeviceRulesAndHealthRecordHangOnExactTexts) {
    struct Case {
        std::string values;  // over kHost
        std::vector<std::string> present, absent;
        const char* agentType = "RULK";
        const char* command = "";
        const char* record = "none/none";  // CONFIGURATION's status/errdesc
    } cases[] = {
        {"\"APIType\"=\"hostagent\"", {"VCenterIP=10.0.0.9"}, {}},
        {"\"RegID\"=\"   \"", {"RegID=0"}, {}},
        // Any other Type is a machine's layout, decoded.
        {"\"Type\"=\"5 \"", {"Type=5 ", "Enable=1", "Platform="}, {"APIType", "Port"}},
        {"\"Type\"=\"05\"", {"Enable=1"}, {"VCenterIP"}},
        // An agent type with blanks passes no gate and makes no list.
        {"", {}, {"Type"}, "RULK "},
        {"", {}, {"Type"}, " RULK"},
        {"", {"Type=5"}, {}, "RULK", "  AGTHLTHCHK ", "1/"},
        {"", {"Type=5"}, {}, "RULK", "agthlthchk"},
    };
    for (const auto& c : cases) {
        FakeRun f(device("ManagedpOSIX", "dev", kHost + c.values), c.agentType);
        f.run.commandText = c.command;
        PriSubSyncDeviceList(f.ctx);
        const std::string list = f.read("Configuration\\DeviceList.ini");
        for (const auto& line : c.present)
            EXPECT_THAT(list, HasSubstr("\n" + line + "\r")) << c.values;
        for (const auto& key : c.absent)
            EXPECT_THAT(list, ::testing::Not(HasSubstr("\n" + key + "="))) << c.values;
        const std::string file = f.install + "Configuration\\AgtHealthChk.ini";
        EXPECT_EQ(f.os.iniGetString("CONFIGURATION", "status", "none", 255, file) + "/" +
                      f.os.iniGetString("CONFIGURATION", "errdesc", "none", 255, file),
                  c.record)
            << c.values << "[" << c.command << "]";
    }
}

// The fake clock's second: 5 December 2026, 04:13:01, day before month.
const std::string kStatusFile = "Status\\wpdevicestatus_12345_20260512041301.txt";

TEST(DeviceListValidation, StatusFileOfTheSameSecondIsReplacedAndItsTimeTakenAnew) {
    FakeRun f;
    f.writeFile(kStatusFile, "an older file of the same second\r\n");
    f.os.tick = 1;  // each reading of the clock one second later
    PriSubValidateDeviceList(f.ctx);
    const std::string status = f.read(kStatusFile);
    EXPECT_EQ(status.substr(0, status.find("RegID=")),
              "[MAIN]\r\nServer=\r\nDateTime=12/05/2026 04:13:02\r\n");
}

}  // namespace
}  // namespace quillet
