#pragma once
// The program's ANSI paths and names as the wide calls take them, and back.
// The ANSI calls cannot reach a name outside the ANSI code page (CJK, emoji)
// nor a path longer than MAX_PATH; the wide calls with a "\\?\" path reach
// both.
#include <string>

namespace quillet::os::win32 {

// ANSI bytes (CP_ACP) as UTF-16.
std::wstring widen(const std::string& ansi);

// UTF-16 as ANSI bytes; a letter with no ANSI form becomes the system's
// default character.
std::string narrow(const wchar_t* text, std::size_t length);
inline std::string narrow(const std::wstring& text) { return narrow(text.data(), text.size()); }

// The path made absolute as the ANSI calls would resolve it (current folder,
// "." and "..", trailing dots and blanks), then in the "\\?\" form
// ("\\?\UNC\server\share\..." for a network path), which any length and any
// name passes. A path already in a "\\?\" or "\\.\" form is left as it is;
// one the system cannot make absolute goes as it is, so that the call it is
// handed to reports the system's own error.
std::wstring extendedPath(const std::string& path);

}  // namespace quillet::os::win32
