#pragma once
#include <string>

#include "core/context.h"

namespace quillet {

// Appends one timestamped line to ApplicationLog\MNStatusLog.txt under the
// install path. Never fails towards the caller: a line that cannot be written is lost.
void PblSubWriteLog(Context& ctx, const std::string& message) noexcept;

}  // namespace quillet
