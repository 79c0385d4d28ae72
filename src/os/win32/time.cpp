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

// The local time in force on the file's date, not today's: FileTimeToLocalFileTime
// would apply today's daylight saving bias, moving a summer file by an hour in
// winter and so, near midnight, to another day.
LocalTime localTimeOfFile(const FILETIME& fileTime, const TIME_ZONE_INFORMATION* zone) {
    SYSTEMTIME utc;
    SYSTEMTIME local;
    if (FileTimeToSystemTime(&fileTime, &utc) &&
        SystemTimeToTzSpecificLocalTime(zone, &utc, &local)) {
        return fromSystemTime(local);
    }
    // No date holds it: a time with the top bit set, or one that lands before
    // 1601, as the zero time that file systems give for a time they do not
    // keep does west of UTC. It is taken as the earliest date, so the file is
    // old like any other and the listing it is in goes on.
    LocalTime earliest;
    earliest.year = 1601;
    return earliest;
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
