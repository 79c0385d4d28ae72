#pragma once
#include <string>

#include "core/context.h"

namespace quillet {

// Checks every section of DeviceList.ini and writes a Status\wpdevicestatus_ file.
void PriSubValidateDeviceList(Context& ctx);
// Cuts the text before its first NUL, in place, and returns it.
std::string StripNulls(Context& ctx, std::string& text);

}  // namespace quillet
