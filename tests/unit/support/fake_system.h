#pragma once
// A machine for unit tests: the host substitutes over a temporary machine
// folder, with a fake clock, an in-memory registry and service table, and
// failures injected per operation and path.
#include <cstdlib>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/clock_text.h"
#include "core/context.h"
#include "os/host/host_system.h"

namespace quillet::testing {

class TempMachine {
public:
    TempMachine();
    ~TempMachine();
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

class FakeSystem : public os::host::HostSystem {
public:
    explicit FakeSystem(const std::string& machine, std::string commandText = "");

    // --- clock: starts at 2026-12-05 04:13:01 and moves only when told to or by sleep()
    os::LocalTime clock{2026, 12, 5, 4, 13, 1};
    std::vector<std::uint32_t> sleeps;
    os::LocalTime now() override { return clock; }
    void sleep(std::uint32_t ms) override;
    void advanceSeconds(long seconds);

    std::string command;
    std::string commandText() override { return command; }

    // --- registry in memory (key paths without the trailing "\", any case)
    void setValue(const std::string& key, const std::string& name, std::uint32_t type,
                  std::vector<unsigned char> data);
    void setString(const std::string& key, const std::string& name, const std::string& text);
    void addKey(const std::string& key);
    std::optional<os::RegValue> regQueryValue(const std::string& keyPath,
                                              const std::string& valueName) override;
    std::optional<std::vector<std::string>> regEnumSubkeys(const std::string& keyPath) override;

    // --- services in memory; nullopt = connection refused
    std::optional<std::vector<std::string>> services;
    std::optional<std::vector<std::string>> activeServiceNames() override { return services; }

    // --- injected failures: an operation name ("appendToFile", "deleteFile",
    // "listFolder", "fileSize", "removeFolder", "iniWriteString", ...) and a
    // Windows path suffix. The failure is thrown when the call's path ends so.
    // In a walk, "listFolder" fails the opening of a folder (path with its
    // final "\"), "deleteFile" and "removeFolder" the removal of an entry (a
    // real folder's path with its final "\").
    // "listEntry" fails a folder listing when it reaches an entry whose path
    // (folder + name) ends so, as when a file's dates or size cannot be read.
    void failOn(const std::string& operation, const std::string& pathSuffix, long number = 5,
                const std::string& description = "Access is denied.");
    // The same, for the first matching call only: a passing fault.
    void failOnceOn(const std::string& operation, const std::string& pathSuffix, long number = 5,
                    const std::string& description = "Access is denied.");
    // Throws the injected failure, if any, for this operation and path.
    void failIfInjected(const std::string& operation, const std::string& path);

    // INI writes to files whose path ends so are refused (by return value, as
    // on a full disk) once `afterWrites` of them have gone through.
    void refuseIniWrites(const std::string& pathSuffix, int afterWrites = 0, long number = 112,
                         const std::string& description = "There is not enough space on the disk.");
    Failure lastFailure() override;

    // Folder listings sorted by name, for tests that depend on sibling order.
    bool sortedListings = false;
    // Called with a subfolder's Windows path just before a walk opens it: a
    // test can swap the folder for something else at that moment.
    std::function<void(const std::string& path)> beforeOpenSubfolder;
    void appendToFile(const std::string& path, const std::string& bytes) override;
    void deleteFile(const std::string& path) override;
    std::unique_ptr<os::Folder> openFolder(const std::string& path) override;
    std::uint64_t fileSize(const std::string& path) override;
    bool iniWriteString(const std::string& section, const std::string& key,
                        const std::string& value, const std::string& file) override;
    std::unique_ptr<os::Process> startCommandLine(const std::string& commandLine,
                                                  int windowStyle) override;

    // Every call of an operation, in order (operation + " " + path).
    std::vector<std::string> calls;

private:
    void maybeFail(const std::string& operation, const std::string& path);
    struct Injected {
        std::string operation, suffix;
        long number;
        std::string description;
        bool once = false;
        bool spent = false;
    };
    std::vector<Injected> failures_;
    struct Refusal {
        std::string suffix;
        int left = -1;  // writes still allowed; -1: none refused
        Failure failure{0, ""};
    } refusal_;
    std::optional<Failure> refused_;
    std::map<std::string, os::RegValue> values_;
    std::set<std::string> keys_;
};

// A run over a fake machine whose agent is installed in C:\Agents\KORBOD\.
struct FakeRun {
    TempMachine machine;
    FakeSystem os{machine.path()};
    RunState run;
    Context ctx{os, run};
    std::string install = "C:\\Agents\\KORBOD\\";

    FakeRun();
    // The host path of a file under the install folder.
    std::string hostFile(const std::string& relative) const;
    void writeFile(const std::string& relative, const std::string& bytes) const;
    bool exists(const std::string& relative) const;
    std::string read(const std::string& relative) const;
    // The log's messages without their timestamps and line ends.
    std::vector<std::string> logMessages() const;
    // The names of the report files in PMStatus\.
    std::vector<std::string> reportFiles() const;
};

}  // namespace quillet::testing
