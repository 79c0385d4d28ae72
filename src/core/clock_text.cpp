#include "core/clock_text.h"

#include <cstdio>

namespace quillet {

namespace {
std::string two(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02d", v);
    return buf;
}
std::string four(int v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d", v);
    return buf;
}
}  // namespace

std::string logTimestamp(const os::LocalTime& t, const std::string& sep) {
    return two(t.month) + "/" + two(t.day) + "/" + four(t.year) + " " + two(t.hour) + sep +
           two(t.minute) + sep + two(t.second);
}

std::string reportTimestamp(const os::LocalTime& t, const std::string& sep) {
    return two(t.month) + "/" + two(t.day) + "/" + four(t.year) + " " + std::to_string(t.hour) +
           sep + two(t.minute) + sep + two(t.second);
}

std::string stampYmd(const os::LocalTime& t) {
    return four(t.year) + two(t.month) + two(t.day) + two(t.hour) + two(t.minute) + two(t.second);
}

std::string stampYdm(const os::LocalTime& t) {
    return four(t.year) + two(t.day) + two(t.month) + two(t.hour) + two(t.minute) + two(t.second);
}

long dayNumber(const os::LocalTime& t) {
    // Howard Hinnant's days_from_civil: exact for the proleptic Gregorian calendar.
    const long y = t.month <= 2 ? t.year - 1 : t.year;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long m = t.month;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + t.day - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

}  // namespace quillet
