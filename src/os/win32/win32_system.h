#pragma once
// os::System over the real Win32 API. Paths and names cross the seam in the
// ANSI code page; the file calls go through the wide functions (wide_path.h)
// so that any name and any length is reached. The program is one thread; a
// folder walk holds its folders open (os::Folder), every other method opens,
// uses and closes what it needs.
//
// Wine is a supported target (the tests run there), and the checks here hold
// on it too, where it differs from Windows: it shows a Unix link to a folder
// only in its folder's listing, with no reparse tag, and one to a file not at
// all; it opens through a Unix link whatever it is asked, so a handle is
// looked at where it really leads; run by root, it opens read-only files for
// writing; it knows no POSIX deletion and no rename relative to a folder's
// handle; and it deletes a file at once when the last handle goes.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "os/confinement.h"
#include "os/system.h"

namespace quillet::os::win32 {

// A SYSTEMTIME (already local) as the seam's LocalTime.
LocalTime fromSystemTime(const struct _SYSTEMTIME& t);

// Whether an object with these attributes and reparse tag is a link: a
// name-surrogate reparse point (symbolic link, junction, mount point). Every
// other reparse point (a deduplicated, cloud-synced or system-compressed file
// or folder) is what it shows. Where no tag is known (0: Wine, some network
// file systems) a reparse point is taken for a link, so that nothing is
// followed that could not be told apart.
bool isLinkTag(std::uint32_t attributes, std::uint32_t tag);

// A file time (UTC) as the local time in force on its date, in `zone` or by
// default in the system's own.
LocalTime localTimeOfFile(const struct _FILETIME& fileTime,
                          const struct _TIME_ZONE_INFORMATION* zone = nullptr);

class Win32System : public System {
public:
    // wide_path.cpp
    std::size_t characterCount(const std::string& text) override;

    // time.cpp
    LocalTime now() override;
    void sleep(std::uint32_t ms) override;
    std::string timeSeparator() override;

    // registry.cpp
    std::optional<RegValue> regQueryValue(const std::string& keyPath,
                                          const std::string& valueName) override;
    std::optional<std::vector<std::string>> regEnumSubkeys(const std::string& keyPath) override;

    // files.cpp
    PathStatus status(const std::string& path) override;
    void appendToFile(const std::string& path, const std::string& bytes) override;
    void deleteFile(const std::string& path) override;
    void makeSureDirectoryPathExists(const std::string& path) override;
    std::unique_ptr<Folder> openFolder(const std::string& path) override;
    void confineWritesTo(const std::string& folder,
                         const std::vector<std::string>& layout) override {
        confinement_.confineTo(folder, layout);
        finals_.clear();
    }
    // Whether the confinement refuses `path`.
    bool ledAway(const std::string& path, bool withLast);
    // Whether what `handle` holds open for a path below the install folder
    // lies outside the agent's folder that holds the path, links resolved: a
    // link swapped in after the path was looked at shows there.
    bool escaped(const std::string& path, void* handle);

    // profile.cpp
    std::string iniGetString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, std::size_t bufferSize,
                             const std::string& file) override;
    std::optional<Failure> iniWriteString(const std::string& section, const std::string& key,
                                          const std::string& value,
                                          const std::string& file) override;
    std::string iniGetSectionNames(std::size_t bufferSize, const std::string& file) override;

    // services.cpp
    std::optional<std::vector<std::string>> activeServiceNames() override;

    // processes.cpp
    std::unique_ptr<Process> startCommandLine(const std::string& commandLine) override;
    std::unique_ptr<Process> shellOpen(const std::string& programPath,
                                       const std::string& parameters) override;
    std::string systemErrorText(std::uint32_t code) override;
    void reportEvent(const std::string& text) override;

private:
    WriteConfinement confinement_;
    // The install folder and the agent's folders, links resolved, once known.
    std::map<std::string, std::wstring> finals_;
};

}  // namespace quillet::os::win32
