#pragma once
// The date and time layouts that the log, the reports and the status files use.
#include <string>

#include "os/system.h"

namespace quillet {

// MM/DD/YYYY HH:MM:SS (activity log, device list status file).
std::string logTimestamp(const os::LocalTime& t, const std::string& timeSep);
// MM/DD/YYYY H:MM:SS (status report LastRunDateTime).
std::string reportTimestamp(const os::LocalTime& t, const std::string& timeSep);
// YYYYMMDDHHMMSS (status report file name).
std::string stampYmd(const os::LocalTime& t);
// YYYYDDMMHHMMSS (device list status file name).
std::string stampYdm(const os::LocalTime& t);
// Days since 1970-01-01 of the calendar date; differences give calendar-day ages.
long dayNumber(const os::LocalTime& t);

}  // namespace quillet
