#include "devicelist/sync.h"

namespace quillet {

// Not built yet: the device list comes with the device list work.
void PriSubSyncDeviceList(Context&) {}
std::string PriSubDecryptString(Context&, const std::string&) { return {}; }

}  // namespace quillet
