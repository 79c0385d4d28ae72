#pragma once
// The agent's own names: its registry key and values, and its folders and
// files relative to the install folder (which ends with "\").
namespace quillet::agent {

inline constexpr const char* kKey = "Software\\KORBOD\\";
inline constexpr const char* kMachinesKey = "Software\\KORBOD\\ManagedMachines\\";
inline constexpr const char* kOtherDevicesKey = "Software\\KORBOD\\ManagedpOSIX\\";
inline constexpr const char* kInstallPathValue = "InstallationPath";
inline constexpr const char* kTypeValue = "Type";
inline constexpr const char* kRegIdValue = "RegID";

inline constexpr const char* kLogFolder = "ApplicationLog\\";
inline constexpr const char* kActivityLog = "ApplicationLog\\MNStatusLog.txt";
inline constexpr const char* kDataFolder = "Datadirectory\\";
inline constexpr const char* kTarselDataFolder = "Tarsel\\Datadirectory\\";
inline constexpr const char* kPostErrorFolder = "NDatapost\\Error\\";
inline constexpr const char* kAlertFolder = "AlertTkt\\";
inline constexpr const char* kReportFolder = "PMStatus\\";
inline constexpr const char* kDeviceStatusFolder = "Status\\";
inline constexpr const char* kDeviceList = "Configuration\\DeviceList.ini";
inline constexpr const char* kHealthFile = "Configuration\\AgtHealthChk.ini";
inline constexpr const char* kLogparser = "Logparser.dll";
inline constexpr const char* kConfigurationTool = "Parvix.exe";

// The command text of the health-check run (each rule compares it in its own way).
inline constexpr const char* kHealthCheckWord = "AGTHLTHCHK";

// The agent's folders, the administrator's like the install folder: a link
// in the place of one is where the administrator moved it, and is followed.
inline constexpr const char* kLayoutFolders[] = {
    "ApplicationLog", "Datadirectory",    "Tarsel",   "Tarsel\\Datadirectory",
    "NDatapost",      "NDatapost\\Error", "AlertTkt", "PMStatus",
    "Status",         "Configuration"};

}  // namespace quillet::agent
