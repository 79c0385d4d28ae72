#include <windows.h>

#include "os/win32/win32_system.h"

namespace quillet::os::win32 {

LocalTime fromSystemTime(const SYSTEMTIME& t) {
    LocalTime result;
    result.year = t.wYear;
    result.month = t.wMonth;
    result.day = t.wDay;
    result.hour = t.wHour;
    result.minute = t.wMinute;
    result.second = t.wSecond;
    return result;
}

LocalTime Win32System::now() {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return fromSystemTime(t);
}

void Win32System::sleep(std::uint32_t ms) { Sleep(ms); }

std::string Win32System::timeSeparator() {
    // LOCALE_STIME is at most four characters with its NUL; leave room anyway.
    char buffer[16] = {};
    const int count = GetLocaleInfoA(LOCALE_USER_DEFAULT, LOCALE_STIME, buffer, sizeof buffer);
    if (count <= 1) return ":";
    return std::string(buffer, static_cast<std::size_t>(count - 1));
}

}  // namespace quillet::os::win32
