#pragma once
// What every host substitute needs of POSIX: its errors as the seam's
// failures, and its times as local time.
#include <cerrno>
#include <cstring>
#include <ctime>

#include "os/system.h"

namespace quillet::os::host {

inline Failure errnoFailure(int err) { return Failure(err, std::strerror(err)); }
[[noreturn]] inline void throwErrno(int err) { throw errnoFailure(err); }

inline LocalTime toLocal(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

}  // namespace quillet::os::host
