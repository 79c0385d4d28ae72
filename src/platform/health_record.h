#pragma once
// The records of AgtHealthChk.ini that the health-check run keeps.
#include <string>

#include "core/context.h"

namespace quillet {

// Records an outcome in a section of AgtHealthChk.ini: a "status" of "0" is
// kept, "errdesc" accumulates.
void SubUpdtAgtHlthChkStatus(Context& ctx, const std::string& section, bool succeeded,
                             const std::string& description);

// AgtHealthChk.ini of the agent.
std::string healthFile(Context& ctx);

}  // namespace quillet
