#include "devicelist/sync.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "support/fake_system.h"

namespace quillet {
namespace {

using namespace std::string_literals;
using ::testing::Contains;
using testing::FakeRun;
using ::testing::HasSubstr;
using ::testing::StartsWith;
using Values = std::vector<std::pair<std::string, std::string>>;
using Lines = std::vector<std::string>;

const std::string kMachines = "Software\\KORBOD\\ManagedMachines\\";
const std::string kOthers = "Software\\KORBOD\\ManagedpOSIX\\";
const std::string kList = "Configuration\\DeviceList.ini";
const std::string kListFailed =
    "ERR : Error while recreating devicelist.ini from registry. Error No. : ";

void addDevice(FakeRun& f, const std::string& parent, const std::string& name,
               const Values& values) {
    f.os.addKey(parent + name);
    for (const auto& [key, value] : values) f.os.setString(parent + name, key, value);
}

// A run whose install folder has its Configuration folder.
struct ListRun : FakeRun {
    ListRun() { std::filesystem::create_directories(hostFile("Configuration")); }
};

std::string crlfLines(const Lines& lines) {
    std::string text;
    for (const auto& l : lines) text += l + "\r\n";
    return text;
}

// The lines of one section, from its header up to the next header.
Lines sectionLines(const std::string& text, const std::string& name) {
    Lines section;
    bool inside = false;
    for (std::string::size_type start = 0, end; start < text.size(); start = end + 2) {
        end = std::min(text.find("\r\n", start), text.size());
        const std::string line = text.substr(start, end - start);
        if (!line.empty() && line[0] == '[') inside = line == "[" + name + "]";
        if (inside) section.push_back(line);
    }
    return section;
}

// "Name=value Name=value ..." as registry values.
Values values(const std::string& list) {
    Values out;
    std::istringstream in(list);
    for (std::string item; in >> item;)
        out.emplace_back(item.substr(0, item.find('=')), item.substr(item.find('=') + 1));
    return out;
}

const Values kFullMachine = values(
    "RegID=R-1 Type=1 Category=LAN MonitoringStatus=49 TypeOfMachine=87H105H110 DaysToMonitor=127 "
    "GenStTime=48H57H58H48H48 GenStpTime=49H56H58H48H48 PortTimeout=30 PingPackets=4 "
    "PingTimeout=1000 PingCycleCount=3 PerfCycleCount=5 LOCAL=89 ConnectionStatus=1 PingStatus=2 "
    "Interfacenos=2 OS=Windows OSVer=10.0");
const Values kFullHost = values(
    "RegID=R9 Type=5 Category=LAN MonitoringStatus=49 DaysToMonitor=7 GenStTime=0900 "
    "GenStpTime=1800 PingPackets=4 PingTimeout=1000 PingCycleCount=3 PerfCycleCount=5 LOCAL=N "
    "ConnectionStatus=1 PingStatus=1 OS=ESXi OSVer=8.0 APIType=HostAgent Host=esx1.lan "
    "HostPath=/dc/host UUID=u-1 VCenterIP=10.0.0.9 MORIDPath=m/1 MORTypePath=t/1 Port=443 "
    // Machine values a host device neither reads nor writes.
    "PortTimeout=30 TypeOfMachine=87 Interfacenos=2");

TEST(DeviceListSync, FreshListHasOneSectionPerMachineWithNineteenKeysAndTwoEmptyLines) {
    ListRun f;
    addDevice(f, kMachines, "pc1", kFullMachine);
    addDevice(f, kMachines, "pc2", {});  // nothing set: "0" everywhere, decoded to nothing
    PriSubSyncDeviceList(f.ctx);
    EXPECT_EQ(f.read(kList), crlfLines({"[pc1]",
                                        "Type=1",
                                        "Category=LAN",
                                        "Enable=1",
                                        "Platform=Win",
                                        "DaysToMonitor=127",
                                        "FromTime=09:00",
                                        "ToTime=18:00",
                                        "PortTimeout=30",
                                        "PingPackets=4",
                                        "PingTimeout=1000",
                                        "PingCycleCount=3",
                                        "PerfCycleCount=5",
                                        "LocalMachine=Y",
                                        "ConnectionStatus=1",
                                        "PingStatus=2",
                                        "Interfacenos=2",
                                        "OS=Windows",
                                        "OSVer=10.0",
                                        "RegID=R-1",
                                        "",
                                        "",
                                        "[pc2]",
                                        "Type=0",
                                        "Category=0",
                                        "Enable=",
                                        "Platform=",
                                        "DaysToMonitor=0",
                                        "FromTime=",
                                        "ToTime=",
                                        "PortTimeout=0",
                                        "PingPackets=0",
                                        "PingTimeout=0",
                                        "PingCycleCount=0",
                                        "PerfCycleCount=0",
                                        "LocalMachine=",
                                        "ConnectionStatus=0",
                                        "PingStatus=0",
                                        "Interfacenos=",
                                        "OS=0",
                                        "OSVer=0",
                                        "RegID=0",
                                        "",
                                        ""}));
    // A successful synchronisation says nothing.
    EXPECT_FALSE(f.exists("ApplicationLog\\MNStatusLog.txt"));
    EXPECT_TRUE(f.reportFiles().empty());
    EXPECT_TRUE(f.run.overallStatusOK);
}

TEST(DeviceListSync, HostDeviceGetsTheHostLayoutUndecoded) {
    ListRun f;
    addDevice(f, kOthers, "esx1", kFullHost);
    PriSubSyncDeviceList(f.ctx);
    EXPECT_EQ(f.read(kList), crlfLines({"[esx1]",
                                        "Type=5",
                                        "Category=LAN",
                                        "Enable=49",
                                        "DaysToMonitor=7",
                                        "FromTime=0900",
                                        "ToTime=1800",
                                        "PingPackets=4",
                                        "PingTimeout=1000",
                                        "PingCycleCount=3",
                                        "PerfCycleCount=5",
                                        "LocalMachine=N",
                                        "ConnectionStatus=1",
                                        "PingStatus=1",
                                        "OS=ESXi",
                                        "OSVer=8.0",
                                        "APIType=HostAgent",
                                        "Host=esx1.lan",
                                        "HostPath=/dc/host",
                                        "UUID=u-1",
                                        "VCenterIP=",
                                        "MORIDPath=m/1",
                                        "MORTypePath=t/1",
                                        "Port=443",
                                        "RegID=R9",
                                        "",
                                        ""}));
}

TEST(DeviceListSync, OtherDeviceRulesDependOnTypeApiTypeAndRegId) {
    struct Case {
        const char* what;
        Values overrides;
        bool regIdWithoutTerminator;  // a read that is abandoned gives a blank RegID
        Lines present, absentKeys;
    };
    const Case cases[] = {
        {"HostAgent empties VCenterIP", {}, false, {"VCenterIP=", "APIType=HostAgent"}, {}},
        {"HostAgent is compared trimmed",
         {{"APIType", "  HostAgent "}},
         false,
         {"VCenterIP=", "APIType=  HostAgent "},
         {}},
        {"another API keeps VCenterIP", {{"APIType", "VIM"}}, false, {"VCenterIP=10.0.0.9"}, {}},
        {"hostagent in lower case is another API",
         {{"APIType", "hostagent"}},
         false,
         {"VCenterIP=10.0.0.9"},
         {}},
        {"blank RegID is left out for a host", {}, true, {"Type=5", "Port=443"}, {"RegID"}},
        {"RegID read as 0 is written for a host", {{"RegID", "   "}}, false, {"RegID=0"}, {}},
        {"Type 5 with a blank is another device",
         {{"Type", "5 "}},
         false,
         {"Type=5 ", "Enable=1", "Platform=W", "PortTimeout=30", "Interfacenos=2"},
         {"APIType", "VCenterIP", "Host"}},
        {"Type 05 is another device",
         {{"Type", "05"}},
         false,
         {"Enable=1", "RegID=R9"},
         {"UUID", "Port"}},
        {"blank RegID of another device is written empty",
         {{"Type", "2"}},
         true,
         {"RegID=", "Enable=1"},
         {"APIType"}},
    };
    for (const auto& c : cases) {
        ListRun f;
        addDevice(f, kOthers, "dev", kFullHost);
        addDevice(f, kOthers, "dev", c.overrides);
        if (c.regIdWithoutTerminator) f.os.setValue(kOthers + "dev", "RegID", 1, {'R'});
        PriSubSyncDeviceList(f.ctx);
        const Lines section = sectionLines(f.read(kList), "dev");
        for (const auto& line : c.present) EXPECT_THAT(section, Contains(line)) << c.what;
        for (const auto& key : c.absentKeys)
            EXPECT_THAT(section, ::testing::Not(Contains(StartsWith(key + "=")))) << c.what;
    }
}

TEST(DeviceListSync, ValueHeldInTheListIsNeverOverwrittenAndBlankOnesAreFilled) {
    FakeRun f;
    // The section differs in letter case from the registry's name: it is the same section.
    f.writeFile(kList, crlfLines({"; agent list", "[PC1]", "Category=WAN", "Enable=", "OS=   ", "",
                                  "[other]", "x=1"}));
    addDevice(f, kMachines, "pc1",
              {{"Type", "1"}, {"Category", "LAN"}, {"MonitoringStatus", "49"}, {"OS", "Linux"}});
    PriSubSyncDeviceList(f.ctx);
    EXPECT_EQ(f.read(kList), crlfLines({"; agent list",
                                        "[PC1]",
                                        "Category=WAN",
                                        "Enable=1",
                                        "OS=Linux",
                                        "Type=1",
                                        "Platform=",
                                        "DaysToMonitor=0",
                                        "FromTime=",
                                        "ToTime=",
                                        "PortTimeout=0",
                                        "PingPackets=0",
                                        "PingTimeout=0",
                                        "PingCycleCount=0",
                                        "PerfCycleCount=0",
                                        "LocalMachine=",
                                        "ConnectionStatus=0",
                                        "PingStatus=0",
                                        "Interfacenos=",
                                        "OSVer=0",
                                        "RegID=0",
                                        "",
                                        "[other]",
                                        "x=1"}));
}

TEST(DeviceListSync, RunOverACompleteListLeavesItByteForByte) {
    ListRun f;
    addDevice(f, kMachines, "pc1", kFullMachine);
    addDevice(f, kMachines, "pc2", {});
    addDevice(f, kOthers, "esx1", kFullHost);
    addDevice(f, kOthers, "sw1", {{"Type", "3"}, {"MonitoringStatus", "4x9"}});
    // 100 more names: the section names fill more than one 5,000-character buffer.
    const std::string longName(70, 'n');
    for (int i = 0; i < 100; ++i) addDevice(f, kMachines, longName + std::to_string(1000 + i), {});
    PriSubSyncDeviceList(f.ctx);
    const std::string first = f.read(kList);
    ASSERT_EQ(sectionLines(first, longName + "1099").size(), 22u);
    PriSubSyncDeviceList(f.ctx);
    PriSubSyncDeviceList(f.ctx);
    EXPECT_EQ(f.read(kList), first);
}

TEST(DeviceListSync, NameSeenTwiceCompletesOneSectionWithOneSeparator) {
    ListRun f;
    addDevice(f, kMachines, "dup", {{"Type", "1"}});
    addDevice(f, kOthers, "dup", {{"Type", "5"}, {"APIType", "VIM"}, {"Port", "443"}});
    PriSubSyncDeviceList(f.ctx);
    EXPECT_EQ(f.read(kList),
              // The host's undecoded "0" fills what the machine's decoding left empty.
              crlfLines({"[dup]",
                         "Type=1",
                         "Category=0",
                         "Enable=0",
                         "Platform=",
                         "DaysToMonitor=0",
                         "FromTime=0",
                         "ToTime=0",
                         "PortTimeout=0",
                         "PingPackets=0",
                         "PingTimeout=0",
                         "PingCycleCount=0",
                         "PerfCycleCount=0",
                         "LocalMachine=0",
                         "ConnectionStatus=0",
                         "PingStatus=0",
                         "Interfacenos=",
                         "OS=0",
                         "OSVer=0",
                         "RegID=0",
                         "APIType=VIM",
                         "Host=0",
                         "HostPath=0",
                         "UUID=0",
                         "VCenterIP=0",
                         "MORIDPath=0",
                         "MORTypePath=0",
                         "Port=443",
                         "",
                         ""}));
}

TEST(DeviceListSync, FailedDecodingLogsItsLineAndLeavesTheKeyEmpty) {
    ListRun f;
    addDevice(f, kMachines, "pc1", {{"MonitoringStatus", "49H"}, {"LOCAL", "89"}});
    PriSubSyncDeviceList(f.ctx);
    EXPECT_THAT(sectionLines(f.read(kList), "pc1"),
                ::testing::IsSupersetOf({"Enable=", "LocalMachine=Y"}));
    EXPECT_EQ(f.logMessages(),
              Lines{"ERR : Error while decrypting string. Error No. : 13, Error Description : "
                    "Type mismatch, Source = PriSubDecryptString()"});
    EXPECT_TRUE(f.run.overallStatusOK);
}

TEST(DeviceListSync, MissingConfigurationFolderFailsWithReportAndFlag) {
    FakeRun f;
    addDevice(f, kMachines, "pc1", kFullMachine);
    PriSubSyncDeviceList(f.ctx);
    // The line's error number and text are the platform's own; its wording is checked below.
    EXPECT_THAT(f.logMessages(), ::testing::ElementsAre(StartsWith(kListFailed)));
    EXPECT_FALSE(f.exists(kList));
    EXPECT_FALSE(f.run.overallStatusOK);
    EXPECT_EQ(f.run.statusDescription, "");  // the report carried it away
    const auto reports = f.reportFiles();
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_THAT(f.read("PMStatus\\" + reports[0]),
                ::testing::AllOf(HasSubstr("\r\nDesc=Failed to recreate devicelist.ini\r\n"),
                                 HasSubstr("\r\nPID=Agent_SyncDeviceList_MNStatus\r\n"),
                                 HasSubstr("\r\nLastRunStatusCode=Failed\r\n")));
}

TEST(DeviceListSync, AWriteThePlatformRefusesFailsTheSynchronisation) {
    // A full disk: the first writes go through, then every one is refused.
    for (const int allowed : {0, 5, 19}) {
        ListRun f;
        addDevice(f, kMachines, "pc1", kFullMachine);
        addDevice(f, kMachines, "pc2", kFullMachine);
        f.os.refuseIniWrites("DeviceList.ini", allowed);
        PriSubSyncDeviceList(f.ctx);
        // Refused within pc1's keys, or at pc2's first once pc1 is whole.
        EXPECT_THAT(
            f.logMessages(),
            ::testing::ElementsAre(
                kListFailed + "112, Error Description : There is not enough "
                              "space on the disk., Source = PriSubSyncDeviceList() Line No : 90"))
            << allowed;
        EXPECT_FALSE(f.run.overallStatusOK);
        ASSERT_EQ(f.reportFiles().size(), 1u);
        EXPECT_THAT(f.read("PMStatus\\" + f.reportFiles()[0]),
                    HasSubstr("\r\nPID=Agent_SyncDeviceList_MNStatus\r\n"));
    }
}

TEST(DeviceListSync, HealthCheckRecordOnlyForACommandTextOfExactlyTheWord) {
    struct Case {
        const char* command;
        bool listFails;
        const char* record;  // status and errdesc of CONFIGURATION; "none/none": no record
    };
    const Case cases[] = {
        {"AGTHLTHCHK", false, "1/"},
        {"  AGTHLTHCHK ", false, "1/"},
        {"agthlthchk", false, "none/none"},
        {"LOG,AGTHLTHCHK", false, "none/none"},
        {"", false, "none/none"},
        {"AGTHLTHCHK", true, "0/DeviceList.ini"},
        {" AGTHLTHCHK", true, "0/DeviceList.ini"},
        {"agthlthchk", true, "none/none"},
        {"DEVICELIST", true, "none/none"},
    };
    for (const auto& c : cases) {
        ListRun f;
        f.os.command = c.command;
        f.run.commandText = "AGTHLTHCHK";  // the procedure asks the process, not the run
        addDevice(f, kMachines, "pc1", {});
        if (c.listFails) f.os.failOn("appendToFile", "DeviceList.ini", 5, "Access is denied.");
        PriSubSyncDeviceList(f.ctx);
        const std::string file = f.install + "Configuration\\AgtHealthChk.ini";
        EXPECT_EQ(f.os.iniGetString("CONFIGURATION", "status", "none", 255, file) + "/" +
                      f.os.iniGetString("CONFIGURATION", "errdesc", "none", 255, file),
                  c.record)
            << "[" << c.command << "]";
        EXPECT_EQ(f.run.overallStatusOK, !c.listFails) << "[" << c.command << "]";
        if (c.listFails) {
            EXPECT_EQ(f.logMessages().at(0), kListFailed +
                                                 "5, Error Description : Access is denied., "
                                                 "Source = PriSubSyncDeviceList() Line No : 40");
        }
    }
}

TEST(DeviceListSync, AgentTypeOtherThanExactlyRulkDoesNothing) {
    for (const char* type : {"rulk", "RULK ", " RULK", "TOVA", ""}) {
        ListRun f;
        f.os.command = "AGTHLTHCHK";
        f.os.setString("Software\\KORBOD", "Type", type);
        addDevice(f, kOthers, "sw1", {{"Type", "2"}});  // no machine: the tool would be looked for
        PriSubSyncDeviceList(f.ctx);
        for (const std::string& file :
             {kList, "Configuration\\AgtHealthChk.ini"s, "ApplicationLog\\MNStatusLog.txt"s})
            EXPECT_FALSE(f.exists(file)) << type << ": " << file;
        EXPECT_TRUE(f.reportFiles().empty()) << type;
        EXPECT_TRUE(f.run.overallStatusOK) << type;
    }
}

TEST(DeviceListSync, WithoutMachinesTheConfigurationToolRunsWhenItExists) {
    const std::string imf = "IMF : Executing PARVIX.EXE with \"Local\" parameter";
    const std::string msg =
        "MSG : Execution Path & Parameters : C:\\Agents\\KORBOD\\Parvix.exe Local";
    const std::string notFound = "DESC : Unable to create DeviceList as PARVIX.EXE not found .";
    const std::string script =
        "#!/bin/sh\necho \"$@\" > \"$(dirname \"$0\")/tool-args.txt\"\nexit 3\n";
    struct Case {
        const char* what;
        const char* tool;  // the file name the tool is stored under, "" none
        bool executable, machinesKeyExists;
        Lines log;  // the last line is matched as a prefix
    };
    const Case cases[] = {
        {"no key, no tool", "", false, false, {notFound}},
        {"key without subkeys, no tool", "", false, true, {notFound}},
        {"tool stored as PARVIX.EXE", "PARVIX.EXE", true, false, {notFound}},
        {"tool runs",
         "Parvix.exe",
         true,
         false,
         {imf, msg, "DESC : Parvix.exe Exe executed Successfully. "}},
        {"tool cannot start",
         "Parvix.exe",
         false,
         true,
         {imf, msg, "DESC : failed to execute Parvix.exe, ErrNo : "}},
    };
    for (const auto& c : cases) {
        ListRun f;
        if (c.machinesKeyExists) f.os.addKey(kMachines);
        addDevice(f, kOthers, "sw1", {{"Type", "2"}});
        if (*c.tool) f.writeFile(c.tool, script);
        if (c.executable) chmod(f.hostFile(c.tool).c_str(), 0755);
        PriSubSyncDeviceList(f.ctx);
        Lines log = f.logMessages();
        ASSERT_EQ(log.size(), c.log.size()) << c.what;
        log.back() = log.back().substr(0, c.log.back().size());
        EXPECT_EQ(log, c.log) << c.what;
        EXPECT_EQ(f.read("tool-args.txt"), c.executable && c.tool == "Parvix.exe"s ? "Local\n" : "")
            << c.what;
        // The other devices are synchronised all the same.
        EXPECT_EQ(sectionLines(f.read(kList), "sw1").size(), 22u) << c.what;
        EXPECT_TRUE(f.run.overallStatusOK) << c.what;
    }
}

}  // namespace
}  // namespace quillet
