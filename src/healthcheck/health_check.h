#pragma once
#include "core/context.h"

namespace quillet {

// Checks the services listed under [SERVICE] svcfiles of AgtHealthChk.ini and
// records the outcome there.
void SubAgtHlthChkSrvcs(Context& ctx);

}  // namespace quillet
