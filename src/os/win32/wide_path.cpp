#include "os/win32/wide_path.h"

#include <windows.h>

#include <climits>
#include <cwchar>

#include "os/win32/win32_system.h"

namespace quillet::os::win32 {

namespace {

bool startsWith(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

int clampedLength(std::size_t length) {
    return length > static_cast<std::size_t>(INT_MAX) ? INT_MAX : static_cast<int>(length);
}

}  // namespace

std::wstring widen(const std::string& ansi) {
    if (ansi.empty()) return {};
    const int length = clampedLength(ansi.size());
    const int count = MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, nullptr, 0);
    if (count <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(count), L'\0');
    MultiByteToWideChar(CP_ACP, 0, ansi.data(), length, wide.data(), count);
    return wide;
}

std::string narrow(const wchar_t* text, std::size_t length) {
    if (length == 0) return {};
    const int wideLength = clampedLength(length);
    const int count =
        WideCharToMultiByte(CP_ACP, 0, text, wideLength, nullptr, 0, nullptr, nullptr);
    if (count <= 0) return {};
    std::string ansi(static_cast<std::size_t>(count), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, wideLength, ansi.data(), count, nullptr, nullptr);
    return ansi;
}

std::wstring extendedPath(const std::string& path) {
    const std::wstring wide = widen(path);
    if (startsWith(wide, L"\\\\?\\") || startsWith(wide, L"\\\\.\\")) return wide;
    // The size asked for first is the size needed; the current folder can
    // change in between only through another thread, hence the loop.
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD size = static_cast<DWORD>(full.size());
        const DWORD count = GetFullPathNameW(wide.c_str(), size, full.data(), nullptr);
        if (count == 0) return wide;
        if (count < size) {
            full.resize(count);
            break;
        }
        full.resize(count);
    }
    if (startsWith(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

// Windows counts a string's length in UTF-16 units, whatever bytes per
// character the ANSI code page takes.
std::size_t Win32System::characterCount(const std::string& text) { return widen(text).size(); }

}  // namespace quillet::os::win32
