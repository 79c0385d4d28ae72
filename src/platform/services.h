#pragma once
#include <string>

#include "core/context.h"

namespace quillet {

// True when a Win32 service of this key name is active (any state but
// stopped). Names compare without regard to case and without trimming.
bool IsServiceRunning(Context& ctx, const std::string& serviceName);

// Asks of every name of a comma-separated list whether its service runs, a
// log line for each; the names not running go into `notRunning`, joined by
// "," (text there that is blank is replaced). True when one is not running.
bool checkServiceList(Context& ctx, const std::string& names, std::string& notRunning);

}  // namespace quillet
