#include <windows.h>

#include <cwchar>

#include "os/win32/handle.h"
#include "os/win32/wide_path.h"
#include "os/win32/win32_system.h"

namespace quillet::os::win32 {

namespace {

// The agent's 32-bit registry view, whatever the bitness of this build.
constexpr REGSAM kView = KEY_WOW64_32KEY;

// A registry value can grow between the sizing call and the read; after this
// many rounds the value is treated as unreadable rather than chased for ever.
constexpr int kReadAttempts = 5;

// Key names are 255 characters at most, and the wide call wants room for the
// NUL. The ANSI one counts bytes, which a long name of double-byte letters
// overruns long before 255 of them, and the list would end at that name.
constexpr DWORD kSubkeyNameChars = 256;

// The key, or none when it does not open. Callers spell the agent's root key
// "Software\KORBOD\"; the trailing separator names no further key, so it is
// not passed on.
KeyHandle openKey(const std::string& keyPath, REGSAM access) {
    std::string path = keyPath;
    while (!path.empty() && path.back() == '\\') path.pop_back();
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, access | kView, &key) != ERROR_SUCCESS)
        key = nullptr;
    return KeyHandle(key);
}

}  // namespace

std::optional<RegValue> Win32System::regQueryValue(const std::string& keyPath,
                                                   const std::string& valueName) {
    const KeyHandle key = openKey(keyPath, KEY_QUERY_VALUE);
    if (!key) return std::nullopt;

    for (int attempt = 0; attempt < kReadAttempts; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        if (RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS) {
            return std::nullopt;
        }
        RegValue value;
        value.type = type;
        if (size == 0) return value;
        // The whole zero-filled buffer of the size first reported is kept, not
        // only the bytes the read reports: where the sizing call over-reports
        // (string types on some systems), the readers above must still find
        // the zero after the text, as in a buffer of that size.
        value.data.assign(size, 0);
        DWORD read = size;
        const LONG rc = RegQueryValueExA(key.get(), valueName.c_str(), nullptr, &type,
                                         value.data.data(), &read);
        if (rc == ERROR_MORE_DATA) continue;
        if (rc != ERROR_SUCCESS) return std::nullopt;
        value.type = type;
        return value;
    }
    return std::nullopt;
}

std::optional<std::vector<std::string>> Win32System::regEnumSubkeys(const std::string& keyPath) {
    // Read rights only: the program never writes the registry, and asking for
    // more would fail for an account that may read the agent's key but not change it.
    const KeyHandle key = openKey(keyPath, KEY_READ);
    if (!key) return std::nullopt;

    std::vector<std::string> names;
    wchar_t name[kSubkeyNameChars];
    for (DWORD index = 0;; ++index) {
        DWORD length = kSubkeyNameChars;
        if (RegEnumKeyExW(key.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS) {
            break;
        }
        // Cut at a first NUL, which a name made through the native calls may hold.
        names.push_back(narrow(name, wcsnlen(name, length)));
    }
    return names;
}

}  // namespace quillet::os::win32
