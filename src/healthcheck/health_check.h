#pragma once
#include <string>

#include "run/context.h"

namespace quillet {

// Checks the services listed under [SERVICE] svcfiles of AgtHealthChk.ini and
// records the outcome there.
void SubAgtHlthChkSrvcs(Context& ctx);
// Records an outcome in a section of AgtHealthChk.ini: a "status" of "0" is
// kept, "errdesc" accumulates.
void SubUpdtAgtHlthChkStatus(Context& ctx, const std::string& section, bool succeeded,
                             const std::string& description);

}  // namespace quillet
