#include "os/win32/error_text.h"

#include <windows.h>

namespace quillet::os::win32 {

std::string messageText(std::uint32_t code) {
    // The system sizes the buffer: a localized message can be longer than any
    // fixed one, and FormatMessage fails rather than cut it.
    char* buffer = nullptr;
    const DWORD count = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
    std::string text = count != 0 && buffer != nullptr ? std::string(buffer, count) : std::string();
    if (buffer != nullptr) LocalFree(buffer);
    // System messages end with CR LF; a few (those ending in %0) end with
    // nothing, and those must keep their last characters.
    if (!text.empty() && text.back() == '\n') text.pop_back();
    if (!text.empty() && text.back() == '\r') text.pop_back();
    return text;
}

Failure failureOf(std::uint32_t code) {
    return Failure(static_cast<long>(code), messageText(code));
}

Failure lastFailure() { return failureOf(GetLastError()); }

}  // namespace quillet::os::win32
