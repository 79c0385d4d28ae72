#pragma once
#include <string>

#include "core/context.h"

namespace quillet {

// Completes Configuration\DeviceList.ini from the managed-device keys of the
// registry; a key that holds a value is never overwritten.
void PriSubSyncDeviceList(Context& ctx);
// Decodes "H"-separated character codes ("49H50" is "12"); "" when it cannot.
std::string PriSubDecryptString(Context& ctx, const std::string& text);

}  // namespace quillet
