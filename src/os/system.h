#pragma once
// The one seam between the program and the operating system. Everything above
// src/os/ talks to the machine through this interface only; src/os/win32/ is
// the real Windows implementation and src/os/host/ the Linux substitutes.
//
// Conventions:
// - Paths are Windows paths as the program forms them ("C:\Agents\KORBOD\x").
// - Text is bytes in the system's ANSI code page.
// - Calls that Windows reports by return value (a key that does not open, an
//   INI write refused, a service listing that fails) report by return value
//   here too. Calls that would raise a run-time failure throw quillet::Failure.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "os/failure.h"

namespace quillet::os {

struct LocalTime {
    int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
};

struct RegValue {
    std::uint32_t type = 0;              // REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, ...
    std::vector<unsigned char> data;     // the bytes the ANSI query call returns
};

// One entry of a folder as the sweeps see it.
struct FolderEntry {
    std::string name;                    // without the folder
    bool isFolder = false;
    bool isLink = false;                 // symbolic link, junction or any other reparse point;
                                         // isFolder then tells a folder link from a file link
    std::uint64_t size = 0;              // bytes; 0 for folders and links
    LocalTime created;                   // creation (birth) time, local
    LocalTime modified;                  // last-modification time, local
};

// Entries are read one at a time so that a folder of any size costs constant
// memory. next() throws Failure when the listing breaks off.
class FolderListing {
public:
    virtual ~FolderListing() = default;
    virtual bool next(FolderEntry& entry) = 0;
};

class Process {
public:
    virtual ~Process() = default;
    // WaitForSingleObject semantics: 0 when the process ended, 258 when the
    // time-out passed, 0xFFFFFFFF when the wait failed. 0xFFFFFFFF = no limit.
    virtual std::uint32_t wait(std::uint32_t timeoutMs) = 0;
    virtual std::uint32_t exitCode() = 0;    // valid after wait() returned 0
    virtual void terminate(std::uint32_t exitCode) = 0;
};

inline constexpr std::uint32_t kWaitInfinite = 0xFFFFFFFFu;
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;

class System {
public:
    virtual ~System() = default;

    // --- the process itself
    // Everything after the program's own name on its command line, as received.
    virtual std::string commandText() = 0;

    // --- time
    virtual LocalTime now() = 0;
    virtual void sleep(std::uint32_t ms) = 0;
    // The system's time separator (":" under the usual regional settings).
    virtual std::string timeSeparator() = 0;

    // --- registry: HKEY_LOCAL_MACHINE, 32-bit view, read only
    // nullopt when the key does not open or the value does not exist.
    virtual std::optional<RegValue> regQueryValue(const std::string& keyPath,
                                                  const std::string& valueName) = 0;
    // Direct subkey names in the registry's enumeration order; nullopt when the
    // key does not open. Enumeration stops at the first index that fails.
    virtual std::optional<std::vector<std::string>> regEnumSubkeys(const std::string& keyPath) = 0;

    // --- files and folders
    // A plain file that exists and has neither the hidden nor the system attribute.
    virtual bool fileExists(const std::string& path) = 0;
    // The name of that file as the file system stores it (letter case included).
    virtual std::optional<std::string> storedFileName(const std::string& path) = 0;
    virtual bool folderExists(const std::string& path) = 0;
    // Anything at that path, whatever its attributes; a link is not followed.
    virtual bool entryExists(const std::string& path) = 0;
    virtual std::uint64_t fileSize(const std::string& path) = 0;                 // throws
    // Open for appending (creating the file when missing), write, close.
    virtual void appendToFile(const std::string& path, const std::string& bytes) = 0;  // throws
    // Delete a file, read-only or not; a link is removed as a link. Throws.
    virtual void deleteFile(const std::string& path) = 0;
    // DeleteFileA: no force, result by return value.
    virtual bool deleteFilePlain(const std::string& path) = 0;
    // Remove an empty folder, or a folder link / junction itself. Throws.
    virtual void removeFolder(const std::string& path) = 0;
    // MakeSureDirectoryPathExists: every folder up to the last "\" of the path.
    virtual bool makeSureDirectoryPathExists(const std::string& path) = 0;
    // Direct entries of a folder, in the order the file system lists them. Throws.
    virtual std::unique_ptr<FolderListing> listFolder(const std::string& folderPath) = 0;

    // --- private-profile (INI) functions
    // GetPrivateProfileStringA: returns the text placed in a buffer of
    // bufferSize characters (at most bufferSize - 1), which is also the count.
    virtual std::string iniGetString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue, std::size_t bufferSize,
                                     const std::string& file) = 0;
    // WritePrivateProfileStringA; false when the platform refused the write.
    virtual bool iniWriteString(const std::string& section, const std::string& key,
                                const std::string& value, const std::string& file) = 0;
    // GetPrivateProfileSectionNamesA: the returned count's characters of the
    // buffer (names each followed by NUL; cut when the buffer is too small).
    virtual std::string iniGetSectionNames(std::size_t bufferSize, const std::string& file) = 0;

    // --- services
    // Key names of the active Win32 services (own and shared process; every
    // state but stopped). nullopt when the service control manager refuses the
    // connection or the listing fails.
    virtual std::optional<std::vector<std::string>> activeServiceNames() = 0;

    // --- processes
    // Start a command line, the program looked up on the search path, with a
    // show-window style. Throws Failure when it cannot be started.
    virtual std::unique_ptr<Process> startCommandLine(const std::string& commandLine,
                                                      int windowStyle) = 0;
    // ShellExecuteEx with the verb "Open", hidden; nullptr when nothing started.
    virtual std::unique_ptr<Process> shellOpen(const std::string& programPath,
                                               const std::string& parameters) = 0;
    // FormatMessage text of a system error code, without its closing line
    // break; "" when the system has none. 0 means the last error code.
    virtual std::string systemErrorText(std::uint32_t code) = 0;
};

}  // namespace quillet::os
