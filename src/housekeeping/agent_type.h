#pragma once
#include "core/context.h"

namespace quillet {

// Reports a missing or unknown agent type (TOVA and RULK are known).
void PriSubCheckForAgentType(Context& ctx);

}  // namespace quillet
