#pragma once
// The contract suite's machine, made with the platform's own calls and never
// through the System under test: scratch_host.cpp over a temporary machine
// folder (QUILLET_MACHINE), scratch_win32.cpp over %TEMP% and a registry key
// of its own. Paths here are UTF-8, relative to the scratch folder, "\"-separated.
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "os/system.h"

namespace quillet::contract {

extern const bool kWindows;

// The failures the suite expects; errorNumber gives the platform's own number.
enum class Error {
    fileNotFound,
    pathNotFound,
    accessDenied,
    dirNotEmpty,
    notAFolder,
    isAFolder,
    link
};
long errorNumber(Error error);

struct RegFixture {
    std::string key, name{};  // no name: the key alone
    std::uint32_t type = 0;
    std::string bytes{};
};

class Scratch {
public:
    Scratch();
    ~Scratch();
    // A path as the program names it.
    std::string at(const std::string& path) const { return root_ + path; }
    // Folders end in "\"; files hold "12345".
    bool make(const std::vector<std::string>& paths);
    bool makeReadOnly(const std::string& path);
    bool makeHidden(const std::string& path, bool system);  // false: no such attribute here
    bool setModified(const std::string& path, const os::LocalTime& local);
    bool exists(const std::string& path) const;
    std::string read(const std::string& path) const;
    bool rename(const std::string& from, const std::string& to);
    bool remove(const std::string& path);  // a file or an empty folder
    bool makeFolderLink(const std::string& link, const std::string& target);  // false: cannot here
    // Held open without delete sharing; null where there are no sharing modes.
    std::shared_ptr<void> holdOpen(const std::string& path);
    void setRegistry(const std::vector<RegFixture>& fixtures);  // HKEY_LOCAL_MACHINE, 32-bit view
    bool set64BitOnly(const RegFixture& fixture);               // false: one view only

    static std::string nativeName(const std::string& utf8);  // as FolderEntry::nativeName spells it
    static std::string ansiName(const std::string& utf8);    // as FolderEntry::name spells it
    static std::string selfPath();

private:
    std::filesystem::path real(const std::string& path) const;
    std::string root_, machine_;
};

}  // namespace quillet::contract
