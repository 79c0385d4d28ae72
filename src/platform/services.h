#pragma once
#include <string>

#include "run/context.h"

namespace quillet {

// True when a Win32 service of this key name is active (any state but
// stopped). Names compare without regard to case and without trimming.
bool IsServiceRunning(Context& ctx, const std::string& serviceName);

}  // namespace quillet
