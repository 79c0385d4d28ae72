#include "devicelist/validation.h"

#include <cstdint>

#include "core/clock_text.h"
#include "core/error_line.h"
#include "core/text.h"
#include "devicelist/section_names.h"
#include "platform/activity_log.h"
#include "platform/registry.h"

namespace quillet {

namespace {

constexpr std::size_t kValueBuffer = 255;
const char* const kCrLf = "\r\n";

// One validation's findings and totals.
class Findings {
public:
    void add(const std::string& section, const std::string& message) {
        text_ += "INI_ERR :\t" + section + "\t" + message + kCrLf;
        allValid_ = false;
    }
    bool allValid() const { return allValid_; }
    const std::string& text() const { return text_; }

private:
    std::string text_;
    bool allValid_ = true;
};

// The eight keys' values of one section, as read.
struct SectionValues {
    std::string type, category, enable, daysToMonitor, fromTime, toTime, localMachine, regId;
};

bool isBlank(const std::string& value) { return trimSpaces(value).empty(); }

// A key that only has to be present.
void checkPresent(Findings& findings, const std::string& section, const char* key,
                  const std::string& value) {
    if (isBlank(value)) findings.add(section, std::string(key) + " value is blank");
}

// A key whose value must be one of a few; `normalised` is what is compared.
template <std::size_t N>
void checkOneOf(Findings& findings, const std::string& section, const char* key,
                const std::string& value, const std::string& normalised,
                const char* const (&accepted)[N]) {
    if (isBlank(value)) {
        findings.add(section, std::string(key) + " value is blank");
        return;
    }
    for (const char* a : accepted)
        if (normalised == a) return;
    findings.add(section, "Invalid value for " + std::string(key) + " found as : " + value);
}

const char* const kTypes[] = {"1", "2", "3", "4", "5"};
const char* const kCategories[] = {"LAN", "WAN"};
const char* const kYesNo[] = {"Y", "N"};

// Totals by type code, in the order of the summary lines.
struct TypeTotal {
    const char* code;
    const char* line;
};
const TypeTotal kTotals[] = {
    {"1", "Total number of MS Servers : "},     {"2", "Total number of POSIX Servers : "},
    {"3", "Total number of SNMP Servers : "},   {"4", "Total number of ICMP Servers : "},
    {"5", "Total number of VMWare Servers : "},
};
constexpr std::size_t kTypeCount = sizeof kTotals / sizeof kTotals[0];

}  // namespace

void PriSubValidateDeviceList(Context& ctx) {
    try {
        const std::string installPath = agentInstallPath(ctx);
        const std::string deviceList = installPath + agent::kDeviceList;
        const std::vector<std::string> sections = readAllSectionNames(ctx.os, deviceList);

        Findings findings;
        std::uint64_t counts[kTypeCount] = {};
        std::string localServer;

        auto read = [&](const std::string& section, const char* key) {
            std::string value = ctx.os.iniGetString(section, key, "", kValueBuffer, deviceList);
            return StripNulls(ctx, value);
        };

        for (const auto& section : sections) {
            SectionValues v;
            v.type = read(section, "Type");
            // Counted as read: a " 1" passes the check below but counts nowhere.
            for (std::size_t i = 0; i < kTypeCount; ++i)
                if (v.type == kTotals[i].code) ++counts[i];
            v.category = read(section, "Category");
            v.enable = read(section, "Enable");
            v.daysToMonitor = read(section, "DaysToMonitor");
            v.fromTime = read(section, "FromTime");
            v.toTime = read(section, "ToTime");
            v.localMachine = read(section, "LocalMachine");
            v.regId = read(section, "RegID");

            const std::string localFlag = upper(trimSpaces(v.localMachine));
            checkOneOf(findings, section, "Type", v.type, trimSpaces(v.type), kTypes);
            checkOneOf(findings, section, "Category", v.category, upper(trimSpaces(v.category)),
                       kCategories);
            checkPresent(findings, section, "Enable", v.enable);
            checkPresent(findings, section, "DaysToMonitor", v.daysToMonitor);
            checkPresent(findings, section, "FromTime", v.fromTime);
            checkPresent(findings, section, "ToTime", v.toTime);
            checkOneOf(findings, section, "LocalMachine", v.localMachine, localFlag, kYesNo);
            checkPresent(findings, section, "RegID", v.regId);

            if (localFlag == "Y") localServer = section;
        }

        std::string report = findings.text();
        if (findings.allValid())
            report += std::string("All the entries in DeviceList.ini file are valid") + kCrLf;
        report += kCrLf;
        for (std::size_t i = 0; i < kTypeCount; ++i)
            report += kTotals[i].line + std::to_string(counts[i]) + kCrLf;

        const std::string statusFolder = installPath + agent::kDeviceStatusFolder;
        // A folder that cannot be made shows when the file cannot be created.
        ctx.os.makeSureDirectoryPathExists(statusFolder);
        const std::string regId = agentValue(ctx, agent::kRegIdValue);
        const std::string statusFile =
            statusFolder + "wpdevicestatus_" + regId + "_" + stampYdm(ctx.os.now()) + ".txt";
        if (isPlainFile(ctx.os.status(statusFile))) ctx.os.deleteFile(statusFile);

        std::string content = std::string("[MAIN]") + kCrLf;
        content += "Server=" + localServer + kCrLf;
        content += "DateTime=" + logTimestamp(ctx.os.now(), ctx.os.timeSeparator()) + kCrLf;
        content += "RegID=" + regId + kCrLf;
        content += kCrLf;
        content += kCrLf;
        content += std::string("[DATA]") + kCrLf;
        content += report + kCrLf;
        ctx.os.appendToFile(statusFile, content);
    } catch (...) {
        PblSubWriteLog(ctx, errWhile("validating DeviceList.ini file", ": ",
                                     describeCurrentException(), "PriSubValidateDeviceList"));
    }
}

std::string StripNulls(Context& ctx, std::string& text) {
    try {
        text = cutAtNul(text);
        return text;
    } catch (...) {
        PblSubWriteLog(
            ctx, errWhile("sdtripping nulls", " : ", describeCurrentException(), "StripNulls"));
        return {};
    }
}

}  // namespace quillet
