#pragma once
// The one seam between the program and the operating system. Everything above
// src/os/ talks to the machine through this interface only; src/os/win32/ is
// the real Windows implementation and src/os/host/ the Linux substitutes.
//
// Conventions:
// - Paths are Windows paths as the program forms them ("C:\Agents\KORBOD\x").
// - Text is bytes in the system's ANSI code page.
// - A call that can be refused says so with its quillet::Failure: thrown, or
//   returned where the program goes on all the same (an INI write). What
//   Windows answers with nothing (a key that does not open, a service listing
//   that fails) is nothing here too.
#include <cstdint>
#include <functional>
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
    std::uint32_t type = 0;           // REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, ...
    std::vector<unsigned char> data;  // the bytes the ANSI query call returns
};

// What is at a path.
struct PathStatus {
    bool exists = false;                    // anything, whatever its attributes; false only when
                                            // the system says that nothing is there
    bool isLink = false;                    // the path ends at a link
    bool isFile = false, isFolder = false;  // what it is, or leads to
    bool hiddenOrSystem = false;
    std::uint64_t size = 0;  // of a file
    std::string storedName;  // its name as the file system stores it (letter case included)
};

// One entry of a folder as the walks see it.
struct FolderEntry {
    std::string name;  // without the folder, in the ANSI code page (the
                       // system's replacement character where a letter
                       // has no ANSI form): for log lines, never to reopen
    bool isFolder = false;
    bool isLink = false;     // a symbolic link, junction or mount point; isFolder
                             // then tells a folder link from a file link. Other
                             // reparse points (deduplicated, cloud or
                             // system-compressed files) are what they show.
    std::uint64_t size = 0;  // bytes; 0 for folders and links
    LocalTime created;       // creation (birth) time, local
    LocalTime modified;      // last-modification time, local
    // Set by a sweep that judges age by `created`, so that a preview shows
    // the date that was judged.
    bool agedByCreation = false;

    // For the folder that listed the entry, and only for it: the name as the
    // file system spells it and the object's identity, so that what is acted
    // on is the object that was listed and not whatever has taken its name.
    // A file id of 0 is unknown (a file system that keeps none): the name and
    // the kind of object are all there is to go by then.
    std::string nativeName;
    std::uint64_t volume = 0, fileId = 0;
};

enum class Removal { removed, gone, kept };
// Whether an entry is still to be deleted, judged on the entry as it is now.
using StillToGo = std::function<bool(const FolderEntry& now)>;

// A folder held open while a walk works in it. Entries are listed one at a
// time (constant memory for a folder of any size) and acted on relative to
// this folder: no full path is ever resolved again, and no link is ever
// entered or deleted through. An entry may be acted on while the listing goes
// on, or after it ended.
class Folder {
public:
    virtual ~Folder() = default;
    // The next entry, "." and ".." left out; false at the end. Throws Failure
    // when the listing breaks off.
    virtual bool next(FolderEntry& entry) = 0;
    // Opens a real subfolder that this folder listed. nullptr when that folder
    // is no longer there under its name: gone, or replaced by a link or by
    // another object since it was listed. Throws Failure when it is there but
    // cannot be opened.
    virtual std::unique_ptr<Folder> openSubfolder(const FolderEntry& entry) = 0;
    // Deletes an entry that this folder listed: a file (read-only included),
    // a link as a link (never what it points to), or an empty real folder.
    // A listing can lag behind a file that another program is writing, so a
    // file or link goes only when `stillToGo` (if given) says so of the entry
    // as the object itself reports it through the handle that deletes it:
    // its size and times now. `kept` when it said no, and for a folder that
    // is not empty (a file in it still pending deletion, or new); `gone` when
    // the entry was already gone. Throws Failure when it is still there and
    // could not be deleted, or when another object has taken its name.
    virtual Removal remove(const FolderEntry& entry, const StillToGo& stillToGo) = 0;
};

class Process {
public:
    virtual ~Process() = default;
    // WaitForSingleObject semantics: 0 when the process ended, 258 when the
    // time-out passed, 0xFFFFFFFF when the wait failed. 0xFFFFFFFF = no limit.
    virtual std::uint32_t wait(std::uint32_t timeoutMs) = 0;
    virtual std::uint32_t exitCode() = 0;  // valid after wait() returned 0
    virtual void terminate(std::uint32_t exitCode) = 0;
};

inline constexpr std::uint32_t kWaitInfinite = 0xFFFFFFFFu;
inline constexpr std::uint32_t kWaitObject0 = 0;
inline constexpr std::uint32_t kWaitTimeout = 258;
inline constexpr std::uint32_t kWaitFailed = 0xFFFFFFFFu;

class System {
public:
    virtual ~System() = default;

    // Characters of a text in the ANSI code page, as Windows counts a
    // string's length (UTF-16 units), which is not its bytes in a code page
    // of several bytes per character.
    virtual std::size_t characterCount(const std::string& text) = 0;

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
    // What is at a path, as Windows' attribute calls tell it: the path itself,
    // and what it leads to for a link the system shows as what it points to.
    virtual PathStatus status(const std::string& path) = 0;
    // Open for appending (creating the file when missing), write, close. The
    // bytes go in whole or not at all: a write that fails part way (a full
    // disk) is cut back off the file. A read-only file refuses, even to an
    // administrator.
    virtual void appendToFile(const std::string& path, const std::string& bytes) = 0;  // throws
    // Delete a file, read-only or not; a link is removed as a link. Throws.
    virtual void deleteFile(const std::string& path) = 0;
    // MakeSureDirectoryPathExists: every folder up to the last "\" of the
    // path, as far as it goes (what could not be made shows at the next call).
    virtual void makeSureDirectoryPathExists(const std::string& path) = 0;
    // From here on, the install folder `folder` and the agent's folders in it
    // (`layout`, relative: "ApplicationLog", "Tarsel\Datadirectory") are the
    // administrator's: a link there is followed where it points. Below them
    // the calls that change files (appendToFile, deleteFile,
    // makeSureDirectoryPathExists, iniWriteString) and openFolder refuse a
    // path that passes through a link, or that ends at one (a link itself is
    // still deleted as a link): they never go through a link that someone put
    // in the place of a file or folder of the agent's. Each path is looked at
    // just before its call acts on it; where the call holds a handle, what it
    // holds must lie where the agent's folder holding the path lies.
    virtual void confineWritesTo(const std::string& folder,
                                 const std::vector<std::string>& layout) = 0;
    // Opens a folder for a walk. The install folder and the agent's folders
    // are followed where they are links; any other link at the path itself
    // or on its way below the install folder is refused (throws, as does a
    // folder that cannot be opened).
    virtual std::unique_ptr<Folder> openFolder(const std::string& path) = 0;

    // --- private-profile (INI) functions
    // GetPrivateProfileStringA: returns the text placed in a buffer of
    // bufferSize characters (at most bufferSize - 1), which is also the count.
    virtual std::string iniGetString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue, std::size_t bufferSize,
                                     const std::string& file) = 0;
    // WritePrivateProfileStringA: nothing when written, the platform's
    // failure when it refused the write.
    virtual std::optional<Failure> iniWriteString(const std::string& section,
                                                  const std::string& key, const std::string& value,
                                                  const std::string& file) = 0;
    // GetPrivateProfileSectionNamesA: the returned count's characters of the
    // buffer (names each followed by NUL; cut when the buffer is too small).
    virtual std::string iniGetSectionNames(std::size_t bufferSize, const std::string& file) = 0;

    // --- services
    // Key names of the active Win32 services (own and shared process; every
    // state but stopped). nullopt when the service control manager refuses the
    // connection or the listing fails.
    virtual std::optional<std::vector<std::string>> activeServiceNames() = 0;

    // --- processes
    // Start a command line, hidden, the program looked up on the search
    // path. Throws Failure when it cannot be started.
    virtual std::unique_ptr<Process> startCommandLine(const std::string& commandLine) = 0;
    // ShellExecuteEx with the verb "Open", hidden; nullptr when nothing started.
    virtual std::unique_ptr<Process> shellOpen(const std::string& programPath,
                                               const std::string& parameters) = 0;
    // FormatMessage text of a system error code, without its closing line
    // break; "" when the system has none.
    virtual std::string systemErrorText(std::uint32_t code) = 0;

    // --- the system's own record
    // One error entry in the Application event log, source "Quillet" (on the
    // host: a line on standard error), for an end that the activity log
    // cannot show. Never fails towards the caller.
    virtual void reportEvent(const std::string& text) = 0;
};

}  // namespace quillet::os
