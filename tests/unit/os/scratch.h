#pragma once
// The contract suite's machine, made with the platform's own calls and never
// through the System under test: on the host C:\contract\ of a temporary
// machine folder (QUILLET_MACHINE), on Windows a folder in %TEMP% and the
// registry key Software\QuilletContract. Paths here are UTF-8, relative to
// the scratch folder, "\"-separated.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "os/system.h"

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#endif

namespace quillet::contract {

namespace fs = std::filesystem;

struct RegFixture {
    std::string key, name{};  // no name: the key alone
    std::uint32_t type = 0;
    std::string bytes{};
};

#ifdef _WIN32
const bool kWindows = true;
// The failures the suite expects, as the platform numbers them.
enum Error : long {
    fileNotFound = ERROR_FILE_NOT_FOUND,
    pathNotFound = ERROR_PATH_NOT_FOUND,
    accessDenied = ERROR_ACCESS_DENIED,
    notAFolder = ERROR_DIRECTORY,
    isAFolder = ERROR_ACCESS_DENIED,
    link = ERROR_CANT_ACCESS_FILE,
    secondName = ERROR_CANT_ACCESS_FILE,
    replaced = ERROR_FILE_INVALID
};

inline std::wstring wide(const std::string& text, UINT codePage) {
    std::wstring out(text.size(), L'\0');
    out.resize(static_cast<std::size_t>(
        MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), out.data(),
                            static_cast<int>(out.size()))));
    return out;
}

// Deletes a folder with everything in it (std::filesystem cannot reach past
// MAX_PATH here); a link goes as a link.
inline void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) {
        const std::wstring name = data.cFileName, path = folder + name;
        if (name == L"." || name == L"..") continue;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW(path.c_str());
        else if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            RemoveDirectoryW(path.c_str());
        else
            removeTree(path + L"\\");
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    RemoveDirectoryW(folder.c_str());
}

inline bool setValue(const RegFixture& f) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, f.key.c_str(), 0, nullptr, 0,
                        KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const auto* bytes = reinterpret_cast<const BYTE*>(f.bytes.data());
    const bool ok = f.name.empty() || RegSetValueExA(key, f.name.c_str(), 0, f.type, bytes,
                                                     static_cast<DWORD>(f.bytes.size())) == 0;
    RegCloseKey(key);
    return ok;
}

inline void deleteRegistryFixture() {
    HKEY software = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                      &software))
        return;
    RegDeleteTreeA(software, "QuilletContract");
    RegCloseKey(software);
}
#else
const bool kWindows = false;
enum Error : long {
    fileNotFound = ENOENT,
    pathNotFound = ENOENT,
    accessDenied = EACCES,
    notAFolder = ENOTDIR,
    isAFolder = EISDIR,
    link = ELOOP,
    secondName = EMLINK,
    replaced = ESTALE
};
#endif

class Scratch {
public:
    Scratch() {
#ifdef _WIN32
        char temp[MAX_PATH] = {};
        GetTempPathA(MAX_PATH, temp);
        root_ = temp + ("quillet_contract_" + std::to_string(GetCurrentProcessId())) + "\\";
        clear();  // Wine reuses process ids
#else
        root_ = "C:\\contract\\";
        machine_ = (fs::temp_directory_path() / "quillet-contract-XXXXXX").string();
        if (!mkdtemp(machine_.data())) throw std::runtime_error("no scratch folder");
        setenv("QUILLET_MACHINE", machine_.c_str(), 1);
#endif
        if (!fs::create_directories(real(""), ec_)) throw std::runtime_error("no scratch folder");
    }
    ~Scratch() {
        clear();
#ifdef _WIN32
        deleteRegistryFixture();
#endif
    }

    // A path as the program names it.
    std::string at(const std::string& path) const { return root_ + path; }

    // Folders end in "\"; files hold "12345".
    bool make(const std::vector<std::string>& paths) {
        for (const auto& path : paths)
            if (path.back() == '\\' ? !fs::create_directory(real(path), ec_)
                                    : !(std::ofstream(real(path), std::ios::binary) << "12345"))
                return false;
        return true;
    }
    bool makeReadOnly(const std::string& path) {
        fs::permissions(real(path),
                        fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove, ec_);
        return !ec_;
    }
    bool exists(const std::string& path) const {
        return fs::exists(fs::symlink_status(real(path), ec_));
    }
    std::string read(const std::string& path) const {
        std::ifstream in(real(path), std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    bool rename(const std::string& from, const std::string& to) {
        fs::rename(real(from), real(to), ec_);
        return !ec_;
    }
    bool remove(const std::string& path) { return fs::remove(real(path), ec_); }
    bool makeHardLink(const std::string& link, const std::string& target) {
        fs::create_hard_link(real(target), real(link), ec_);
        return !ec_;
    }
    // False where this system makes none (Wine's CreateSymbolicLink makes nothing).
    bool makeFolderLink(const std::string& link, const std::string& target) {
        fs::create_directory_symlink(real(target), real(link), ec_);
        return !ec_ && fs::is_symlink(fs::symlink_status(real(link), ec_));
    }

#ifdef _WIN32
    bool makeHidden(const std::string& path, bool system) {
        const DWORD wanted = system ? FILE_ATTRIBUTE_SYSTEM : FILE_ATTRIBUTE_HIDDEN;
        return SetFileAttributesW(real(path).c_str(), wanted) &&
               (GetFileAttributesW(real(path).c_str()) & wanted);
    }
    bool setModified(const std::string& path, const os::LocalTime& t) {
        const SYSTEMTIME local = {WORD(t.year),   WORD(t.month),  0, WORD(t.day), WORD(t.hour),
                                  WORD(t.minute), WORD(t.second), 0};
        SYSTEMTIME utc;
        FILETIME ft;
        const HANDLE h = CreateFileW(real(path).c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
        const bool ok = TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) &&
                        SystemTimeToFileTime(&utc, &ft) && SetFileTime(h, nullptr, nullptr, &ft);
        CloseHandle(h);
        return ok;
    }
    // Held open without delete sharing; null where there are no sharing modes.
    // Open as another program holds it: letting it be deleted or not.
    std::shared_ptr<void> holdOpen(const std::string& path, bool letDelete = false) {
        const DWORD share =
            FILE_SHARE_READ | (letDelete ? FILE_SHARE_WRITE | FILE_SHARE_DELETE : 0);
        const HANDLE h = CreateFileW(real(path).c_str(), GENERIC_READ, share, nullptr,
                                     OPEN_EXISTING, 0, nullptr);
        if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
        return std::shared_ptr<void>(h, CloseHandle);
    }
    // HKEY_LOCAL_MACHINE, 32-bit view.
    void setRegistry(const std::vector<RegFixture>& fixtures) {
        deleteRegistryFixture();
        for (const auto& f : fixtures)
            if (!setValue(f)) throw std::runtime_error(f.key + ": no rights?");
    }
    // As FolderEntry::nativeName spells a UTF-8 name.
    static std::string nativeName(const std::string& utf8) {
        const std::wstring name = wide(utf8, CP_UTF8);
        return std::string(reinterpret_cast<const char*>(name.data()), name.size() * 2);
    }
    static std::string selfPath() {
        char path[MAX_PATH] = {};
        GetModuleFileNameA(nullptr, path, MAX_PATH);
        return path;
    }

private:
    // "\\?\" reaches any name and any length.
    fs::path real(const std::string& path) const {
        return L"\\\\?\\" + wide(root_, CP_ACP) + wide(path, CP_UTF8);
    }
#else
    bool makeHidden(const std::string&, bool) { return false; }
    bool setModified(const std::string& path, const os::LocalTime& t) {
        std::tm tm{};
        tm.tm_year = t.year - 1900, tm.tm_mon = t.month - 1, tm.tm_mday = t.day;
        tm.tm_hour = t.hour, tm.tm_min = t.minute, tm.tm_sec = t.second, tm.tm_isdst = -1;
        const timespec times[2] = {{0, UTIME_OMIT}, {std::mktime(&tm), 0}};
        return ::utimensat(AT_FDCWD, real(path).c_str(), times, 0) == 0;
    }
    std::shared_ptr<void> holdOpen(const std::string&, bool = false) { return nullptr; }
    void setRegistry(const std::vector<RegFixture>& fixtures) {
        // Every value as hex(type): the bytes go in exactly as given.
        std::ofstream out(machine_ + "/registry.reg", std::ios::binary);
        out << "REGEDIT4\r\n" << std::hex;
        for (const auto& f : fixtures) {
            out << "[HKEY_LOCAL_MACHINE\\" << f.key << "]\r\n";
            if (f.name.empty()) continue;
            out << '"' << f.name << "\"=hex(" << f.type << "):";
            char byte[4];
            for (std::size_t i = 0; i < f.bytes.size(); ++i) {
                std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(f.bytes[i]));
                out << (i ? "," : "") << byte;
            }
            out << "\r\n";
        }
    }
    static std::string nativeName(const std::string& utf8) { return utf8; }
    static std::string selfPath() { return fs::read_symlink("/proc/self/exe").string(); }

private:
    fs::path real(const std::string& path) const {
        std::string unix = machine_ + "/drives/c/contract/" + path;
        for (char& c : unix)
            if (c == '\\') c = '/';
        return unix;
    }
#endif
    void clear() {
#ifdef _WIN32
        removeTree(real("").wstring());
#else
        // Read-only entries give write back before the tree can go; a link goes as a link.
        for (auto it = fs::recursive_directory_iterator(machine_, ec_); it != fs::end(it);
             it.increment(ec_))
            if (!it->is_symlink())
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec_);
        fs::remove_all(machine_, ec_);
#endif
    }

    std::string root_, machine_;
    mutable std::error_code ec_;  // of the last file system call
};

}  // namespace quillet::contract
