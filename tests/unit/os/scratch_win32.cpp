// The contract suite's machine on Windows (Wine in the test runs): a scratch
// folder in %TEMP% made with the wide calls and "\\?\" paths, which reach any
// name and any length, and the registry key Software\QuilletContract.
#include <windows.h>

#include <stdexcept>

#include "scratch.h"

namespace quillet::contract {

const bool kWindows = true;

long errorNumber(Error error) {
    const long numbers[] = {ERROR_FILE_NOT_FOUND,  ERROR_PATH_NOT_FOUND, ERROR_ACCESS_DENIED,
                            ERROR_DIR_NOT_EMPTY,   ERROR_DIRECTORY,      ERROR_ACCESS_DENIED,
                            ERROR_CANT_ACCESS_FILE};
    return numbers[static_cast<int>(error)];
}

namespace {

std::wstring wide(const std::string& text, UINT codePage) {
    std::wstring out(text.size(), L'\0');
    out.resize(MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()),
                                   out.data(), static_cast<int>(out.size())));
    return out;
}

// Deletes a folder with everything in it; a link goes as a link.
void removeTree(const std::wstring& folder) {
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

bool setValue(const RegFixture& f, REGSAM view) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, f.key.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const auto* bytes = reinterpret_cast<const BYTE*>(f.bytes.data());
    const bool ok = f.name.empty() || RegSetValueExA(key, f.name.c_str(), 0, f.type, bytes,
                                                     static_cast<DWORD>(f.bytes.size())) == 0;
    RegCloseKey(key);
    return ok;
}

void deleteRegistryFixture() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY software = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | view, &software) ==
            0) {
            RegDeleteTreeA(software, "QuilletContract");
            RegCloseKey(software);
        }
    }
}

}  // namespace

Scratch::Scratch() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    root_ = temp + ("quillet_contract_" + std::to_string(GetCurrentProcessId())) + "\\";
    removeTree(real(""));  // Wine reuses process ids
    if (!CreateDirectoryW(real("").c_str(), nullptr)) throw std::runtime_error("no " + root_);
}

Scratch::~Scratch() {
    removeTree(real(""));
    deleteRegistryFixture();
}

std::filesystem::path Scratch::real(const std::string& path) const {
    return L"\\\\?\\" + wide(root_, CP_ACP) + wide(path, CP_UTF8);
}

bool Scratch::makeHidden(const std::string& path, bool system) {
    const DWORD wanted = system ? FILE_ATTRIBUTE_SYSTEM : FILE_ATTRIBUTE_HIDDEN;
    return SetFileAttributesW(real(path).c_str(), wanted) &&
           (GetFileAttributesW(real(path).c_str()) & wanted);
}

bool Scratch::setModified(const std::string& path, const os::LocalTime& t) {
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

// Wine makes none: its CreateSymbolicLink reports success and makes nothing.
bool Scratch::makeFolderLink(const std::string& link, const std::string& target) {
    const DWORD made =
        CreateSymbolicLinkW(real(link).c_str(), real(target).c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY)
            ? GetFileAttributesW(real(link).c_str())
            : INVALID_FILE_ATTRIBUTES;
    return made != INVALID_FILE_ATTRIBUTES && (made & FILE_ATTRIBUTE_REPARSE_POINT);
}

std::shared_ptr<void> Scratch::holdOpen(const std::string& path) {
    const HANDLE h = CreateFileW(real(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                 OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot open " + path);
    return std::shared_ptr<void>(h, CloseHandle);
}

void Scratch::setRegistry(const std::vector<RegFixture>& fixtures) {
    deleteRegistryFixture();
    for (const auto& f : fixtures)
        if (!setValue(f, KEY_WOW64_32KEY))
            throw std::runtime_error("HKLM\\" + f.key + ": no rights?");
}

bool Scratch::set64BitOnly(const RegFixture& fixture) { return setValue(fixture, KEY_WOW64_64KEY); }

std::string Scratch::nativeName(const std::string& utf8) {
    const std::wstring name = wide(utf8, CP_UTF8);
    return std::string(reinterpret_cast<const char*>(name.data()), name.size() * sizeof(wchar_t));
}

std::string Scratch::ansiName(const std::string& utf8) {
    const std::wstring name = wide(utf8, CP_UTF8);
    std::string ansi(name.size() * 2, '\0');
    ansi.resize(WideCharToMultiByte(CP_ACP, 0, name.data(), static_cast<int>(name.size()),
                                    ansi.data(), static_cast<int>(ansi.size()), nullptr, nullptr));
    return ansi;
}

std::string Scratch::selfPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

}  // namespace quillet::contract
