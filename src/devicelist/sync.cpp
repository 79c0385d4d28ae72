#include "devicelist/sync.h"

#include <cstdint>
#include <unordered_set>
#include <vector>

#include "core/error_line.h"
#include "core/text.h"
#include "devicelist/section_names.h"
#include "platform/activity_log.h"
#include "platform/health_record.h"
#include "platform/ini.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/status_report.h"

namespace quillet {

namespace {

const char* const kToolName = agent::kConfigurationTool;
const char* const kToolParameter = "Local";
const char* const kHostDeviceType = "5";
// CR LF written as a line of its own: two line ends.
const char* const kDeviceSeparator = "\r\n\r\n";
constexpr std::size_t kKeyBuffer = 255;

// One decoded character code: decimal digits with optional spaces around them.
// No sign, no fraction, no other notation.
unsigned char characterCode(const std::string& piece) {
    const auto first = piece.find_first_not_of(' ');
    if (first == std::string::npos) throw Failure(13, "Type mismatch");
    const auto last = piece.find_last_not_of(' ');
    unsigned long code = 0;
    for (auto i = first; i <= last; ++i) {
        const char c = piece[i];
        if (c < '0' || c > '9') throw Failure(13, "Type mismatch");
        // Saturates: any code past 255 is out of range however many digits follow.
        if (code <= 255) code = code * 10 + static_cast<unsigned long>(c - '0');
    }
    if (code > 255) throw Failure(5, "Invalid procedure call or argument");
    return static_cast<unsigned char>(code);
}

// The device list as this run writes it. Sections are known by their match
// key, so a device whose name differs from an existing section only in letter
// case or surrounding blanks completes that section, as the INI functions do.
class DeviceList {
public:
    DeviceList(Context& ctx, std::string path) : ctx_(ctx), path_(std::move(path)) {}

    void learnExistingSections() {
        for (const auto& name : readAllSectionNames(ctx_.os, path_))
            known_.insert(sectionMatchKey(name));
    }
    // True when the section is not in the list yet; from now on it counts as present.
    bool addsSection(const std::string& name) {
        return known_.insert(sectionMatchKey(name)).second;
    }

    void fill(const std::string& section, const char* key, const std::string& value) {
        // The platform takes zero-terminated text: a decoded code 0 ends the value.
        const std::string text = cutAtNul(value);
        // A blank value over a key that is present and blank would rewrite the
        // whole file for nothing, on every run; only a missing key needs it.
        if (trimSpaces(text).empty() && isPresentAndBlank(section, key)) return;
        // A list the platform refused to write is not synchronised.
        if (const auto refusal = SubUpdateIniKeyValue(ctx_, section, key, text, path_))
            throw *refusal;
    }
    // Only a section this run created gets the separator, so that a complete
    // list stays byte for byte as it is.
    void appendSeparator() { ctx_.os.appendToFile(path_, kDeviceSeparator); }

private:
    bool isPresentAndBlank(const std::string& section, const char* key) {
        // A missing key reads as the default, a present one as its value.
        const char* const missing = "\x01";
        try {
            return ctx_.os.iniGetString(section, key, missing, kKeyBuffer, path_).empty();
        } catch (...) {
            return false;  // the update that follows reports its own failure
        }
    }

    Context& ctx_;
    std::string path_;
    std::unordered_set<std::string> known_;
};

// The 19 values of a machine or other device, as they go to the list.
struct DeviceValues {
    std::string regId, type, category, enable, daysToMonitor, fromTime, toTime, portTimeout,
        pingPackets, perfCycleCount, localMachine, platform, connectionStatus, pingStatus, os,
        osVer, pingTimeout, pingCycleCount, interfacenos;
};

// The 22 values of a host device that follow RegID and Type.
struct HostValues {
    std::string category, daysToMonitor, pingPackets, perfCycleCount, connectionStatus, pingStatus,
        os, osVer, pingTimeout, pingCycleCount, enable, fromTime, toTime, localMachine, apiType,
        host, hostPath, uuid, vCenterIp, morIdPath, morTypePath, port;
};

class DeviceKey {
public:
    DeviceKey(Context& ctx, std::string path) : ctx_(ctx), path_(std::move(path)) {}
    std::string read(const char* valueName) {
        return GetRegistryValue(ctx_, HKEY_LOCAL_MACHINE_HIVE, path_, valueName);
    }
    std::string decoded(const char* valueName) {
        return PriSubDecryptString(ctx_, read(valueName));
    }

private:
    Context& ctx_;
    std::string path_;
};

// The values after RegID and Type, in the registry's reading order.
void readDeviceRest(DeviceKey& key, DeviceValues& v) {
    v.category = key.read("Category");
    v.enable = key.decoded("MonitoringStatus");
    v.daysToMonitor = key.read("DaysToMonitor");
    v.fromTime = key.decoded("GenStTime");
    v.toTime = key.decoded("GenStpTime");
    v.portTimeout = key.read("PortTimeout");
    v.pingPackets = key.read("PingPackets");
    v.perfCycleCount = key.read("PerfCycleCount");
    v.localMachine = key.decoded("LOCAL");
    v.platform = key.decoded("TypeOfMachine");
    v.connectionStatus = key.read("ConnectionStatus");
    v.pingStatus = key.read("PingStatus");
    v.os = key.read("OS");
    v.osVer = key.read("OSVer");
    v.pingTimeout = key.read("PingTimeout");
    v.pingCycleCount = key.read("PingCycleCount");
    v.interfacenos = key.read("Interfacenos");
    if (v.interfacenos == "0") v.interfacenos.clear();
}

void writeDevice(DeviceList& list, const std::string& name, const DeviceValues& v) {
    list.fill(name, "Type", v.type);
    list.fill(name, "Category", v.category);
    list.fill(name, "Enable", v.enable);
    list.fill(name, "Platform", v.platform);
    list.fill(name, "DaysToMonitor", v.daysToMonitor);
    list.fill(name, "FromTime", v.fromTime);
    list.fill(name, "ToTime", v.toTime);
    list.fill(name, "PortTimeout", v.portTimeout);
    list.fill(name, "PingPackets", v.pingPackets);
    list.fill(name, "PingTimeout", v.pingTimeout);
    list.fill(name, "PingCycleCount", v.pingCycleCount);
    list.fill(name, "PerfCycleCount", v.perfCycleCount);
    list.fill(name, "LocalMachine", v.localMachine);
    list.fill(name, "ConnectionStatus", v.connectionStatus);
    list.fill(name, "PingStatus", v.pingStatus);
    list.fill(name, "Interfacenos", v.interfacenos);
    list.fill(name, "OS", v.os);
    list.fill(name, "OSVer", v.osVer);
    list.fill(name, "RegID", v.regId);
}

// A virtualisation host: nothing is decoded.
void readHost(DeviceKey& key, HostValues& v) {
    v.category = key.read("Category");
    v.daysToMonitor = key.read("DaysToMonitor");
    v.pingPackets = key.read("PingPackets");
    v.perfCycleCount = key.read("PerfCycleCount");
    v.connectionStatus = key.read("ConnectionStatus");
    v.pingStatus = key.read("PingStatus");
    v.os = key.read("OS");
    v.osVer = key.read("OSVer");
    v.pingTimeout = key.read("PingTimeout");
    v.pingCycleCount = key.read("PingCycleCount");
    v.enable = key.read("MonitoringStatus");
    v.fromTime = key.read("GenStTime");
    v.toTime = key.read("GenStpTime");
    v.localMachine = key.read("LOCAL");
    v.apiType = key.read("APIType");
    v.host = key.read("Host");
    v.hostPath = key.read("HostPath");
    v.uuid = key.read("UUID");
    v.vCenterIp = key.read("VCenterIP");
    v.morIdPath = key.read("MORIDPath");
    v.morTypePath = key.read("MORTypePath");
    v.port = key.read("Port");
}

void writeHost(DeviceList& list, const std::string& name, const std::string& regId,
               const std::string& type, const HostValues& v) {
    list.fill(name, "Type", type);
    list.fill(name, "Category", v.category);
    list.fill(name, "Enable", v.enable);
    list.fill(name, "DaysToMonitor", v.daysToMonitor);
    list.fill(name, "FromTime", v.fromTime);
    list.fill(name, "ToTime", v.toTime);
    list.fill(name, "PingPackets", v.pingPackets);
    list.fill(name, "PingTimeout", v.pingTimeout);
    list.fill(name, "PingCycleCount", v.pingCycleCount);
    list.fill(name, "PerfCycleCount", v.perfCycleCount);
    list.fill(name, "LocalMachine", v.localMachine);
    list.fill(name, "ConnectionStatus", v.connectionStatus);
    list.fill(name, "PingStatus", v.pingStatus);
    list.fill(name, "OS", v.os);
    list.fill(name, "OSVer", v.osVer);
    list.fill(name, "APIType", v.apiType);
    list.fill(name, "Host", v.host);
    list.fill(name, "HostPath", v.hostPath);
    list.fill(name, "UUID", v.uuid);
    // A host reached through its own agent has no vCenter.
    list.fill(name, "VCenterIP",
              trimSpaces(v.apiType) == "HostAgent" ? std::string() : v.vCenterIp);
    list.fill(name, "MORIDPath", v.morIdPath);
    list.fill(name, "MORTypePath", v.morTypePath);
    list.fill(name, "Port", v.port);
    if (!trimSpaces(regId).empty()) list.fill(name, "RegID", regId);
}

// Subkey names of a device key; an empty list names no device.
std::vector<std::string> deviceNames(const std::string& list) {
    if (list.empty()) return {};
    return splitAll(list, ',');
}

void runConfigurationTool(Context& ctx, const std::string& installPath) {
    const std::string tool = installPath + kToolName;
    // The tool counts only under its own spelling.
    const os::PathStatus found = ctx.os.status(tool);
    if (!isPlainFile(found) || found.storedName != kToolName) {
        PblSubWriteLog(
            ctx, "DESC : Unable to create DeviceList as " + upper(kToolName) + " not found .");
        return;
    }
    PblSubWriteLog(
        ctx, "IMF : Executing " + upper(kToolName) + " with \"" + kToolParameter + "\" parameter");
    std::string errorNumber, errorText;
    std::uint32_t noTimeLimit = 0;
    if (ExecuteAndWait(ctx, tool, kToolParameter, errorNumber, errorText, noTimeLimit))
        PblSubWriteLog(ctx, "DESC : Parvix.exe Exe executed Successfully. ");
    else
        PblSubWriteLog(
            ctx, "DESC : failed to execute Parvix.exe, ErrNo : " + errorNumber + " - " + errorText);
}

bool isHealthCheckRun(Context& ctx) {
    return trimSpaces(ctx.run.commandText) == agent::kHealthCheckWord;
}

}  // namespace

void PriSubSyncDeviceList(Context& ctx) {
    int step = 0;  // reported as "Line No" when a step fails
    try {
        step = 10;
        std::string installPath = agentValue(ctx, agent::kInstallPathValue);
        const std::string agentType = agentValue(ctx, agent::kTypeValue);

        step = 20;
        if (agentType != "RULK") return;

        step = 30;
        installPath = withTrailingBackslash(installPath);
        const std::string deviceListPath = installPath + agent::kDeviceList;
        DeviceList list(ctx, deviceListPath);

        step = 40;
        // Creates a missing list; fails when the Configuration folder is missing.
        ctx.os.appendToFile(deviceListPath, "");

        step = 50;
        list.learnExistingSections();

        step = 60;
        const std::string machines =
            EnumRegistryKeys(ctx, HKEY_LOCAL_MACHINE_HIVE, agent::kMachinesKey);

        step = 70;
        if (trimSpaces(machines).empty()) runConfigurationTool(ctx, installPath);

        for (const auto& name : deviceNames(machines)) {
            step = 80;
            DeviceKey key(ctx, agent::kMachinesKey + name);
            DeviceValues values;
            values.regId = key.read("RegID");
            values.type = key.read("Type");
            readDeviceRest(key, values);

            step = 90;
            const bool added = list.addsSection(name);
            writeDevice(list, name, values);

            step = 100;
            if (added) list.appendSeparator();
        }

        step = 110;
        const std::string others =
            EnumRegistryKeys(ctx, HKEY_LOCAL_MACHINE_HIVE, agent::kOtherDevicesKey);

        for (const auto& name : deviceNames(others)) {
            step = 120;
            DeviceKey key(ctx, agent::kOtherDevicesKey + name);
            const std::string regId = key.read("RegID");
            const std::string type = key.read("Type");
            const bool host = type == kHostDeviceType;
            HostValues hostValues;
            DeviceValues values;
            if (host) {
                readHost(key, hostValues);
            } else {
                values.regId = regId;
                values.type = type;
                readDeviceRest(key, values);
            }

            step = 130;
            const bool added = list.addsSection(name);
            if (host)
                writeHost(list, name, regId, type, hostValues);
            else
                writeDevice(list, name, values);

            step = 140;
            if (added) list.appendSeparator();
        }

        step = 150;
        if (isHealthCheckRun(ctx)) SubUpdtAgtHlthChkStatus(ctx, "CONFIGURATION", true, "");
    } catch (...) {
        PblSubWriteLog(ctx, errWhile("recreating devicelist.ini from registry", " : ",
                                     describeCurrentException(), "PriSubSyncDeviceList") +
                                " Line No : " + std::to_string(step));
        ctx.run.statusDescription = "Failed to recreate devicelist.ini";
        PriSubGeneratePID(ctx, "Failed", ctx.run.statusDescription,
                          "Agent_SyncDeviceList_MNStatus");
        if (isHealthCheckRun(ctx))
            SubUpdtAgtHlthChkStatus(ctx, "CONFIGURATION", false, "DeviceList.ini");
        ctx.run.overallStatusOK = false;
    }
}

std::string PriSubDecryptString(Context& ctx, const std::string& text) {
    try {
        if (text.empty()) return {};
        std::string decoded;
        for (const auto& piece : splitAll(text, 'H'))
            decoded += static_cast<char>(characterCode(piece));
        return decoded;
    } catch (...) {
        PblSubWriteLog(ctx, errWhile("decrypting string", " : ", describeCurrentException(),
                                     "PriSubDecryptString"));
        return {};
    }
}

}  // namespace quillet
