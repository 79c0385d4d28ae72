#pragma once
// A machine for unit tests: the host substitutes over a temporary machine
// folder, with a fake clock and the faults that a whole run cannot be made
// to meet, injected per operation and path.
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "core/context.h"
#include "os/host/host_system.h"

namespace quillet::testing {

class FakeSystem : public os::host::HostSystem {
public:
    explicit FakeSystem(const std::string& machine);

    // Starts at 2026-12-05 04:13:01 local time; moves by sleep() and by
    // `tick` seconds after each reading.
    std::time_t clock;
    long tick = 0;
    os::LocalTime now() override;
    void sleep(std::uint32_t ms) override;

    // The call `operation` ("appendToFile", "deleteFile"; in a walk
    // "listFolder" for the opening of a folder, "deleteFile" or "removeFolder"
    // for a removal, "listEntry" for a listing that breaks off once at an
    // entry, "iniGetString", "iniWriteThrow" for an INI write, and
    // "activeServiceNames" with the suffix "") throws when its Windows path
    // ends with `pathSuffix`; folders' paths end with "\". "iniWriteString" is
    // refused by its return value, as on a full disk; "leavePending" reports a
    // removal done but leaves the file, as a deletion Windows keeps pending
    // while others have it open.
    // Each fails once `after` such calls went through.
    void failOn(const std::string& operation, const std::string& pathSuffix, int after = 0) {
        failures_.push_back({operation, pathSuffix, after});
    }
    bool injected(const std::string& operation, const std::string& path);
    void failIfInjected(const std::string& operation, const std::string& path);
    std::vector<std::string> events;  // the event log's entries
    void reportEvent(const std::string& text) override { events.push_back(text); }
    // Called with a subfolder's Windows path just before a walk opens it.
    std::function<void(const std::string& path)> beforeOpenSubfolder;
    // Changes what a listing says of an entry (its Windows path), as Windows'
    // listings lag behind a file another program is writing.
    std::function<void(const std::string& path, os::FolderEntry& entry)> listingSays;

    void appendToFile(const std::string& path, const std::string& bytes) override;
    void deleteFile(const std::string& path) override;
    // Listings come sorted by name, so that "later siblings" are known.
    std::unique_ptr<os::Folder> openFolder(const std::string& path) override;
    std::optional<Failure> iniWriteString(const std::string& section, const std::string& key,
                                          const std::string& value,
                                          const std::string& file) override;
    std::string iniGetString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, std::size_t bufferSize,
                             const std::string& file) override;
    std::optional<std::vector<std::string>> activeServiceNames() override;

private:
    struct Fault {
        std::string operation, pathSuffix;
        int after;
    };
    std::vector<Fault> failures_;
};

// A run over a fake machine (a temporary folder, removed at the end) whose
// agent is installed in C:\Agents\KORBOD\.
struct FakeRun {
    std::string root;
    FakeSystem os;
    RunState run;
    Context ctx{os, run};
    std::string install = "C:\\Agents\\KORBOD\\";

    // The agent's key with RegID 12345 and Type `type`, and the `more` lines.
    explicit FakeRun(const std::string& more = "", const std::string& type = "RULK");
    ~FakeRun();
    // Writes the registry file: the agent's key, then `more` (REGEDIT4
    // lines), and makes the install and Configuration folders.
    void registry(const std::string& more, const std::string& type = "RULK") const;
    std::string hostFile(const std::string& relative) const;
    void writeFile(const std::string& relative, const std::string& bytes) const;
    std::string read(const std::string& relative) const;  // "" when missing
    // The log's messages without their timestamps and line ends.
    std::vector<std::string> logMessages() const;
    std::vector<std::string> reportFiles() const;  // names in PMStatus\, sorted
};

}  // namespace quillet::testing
