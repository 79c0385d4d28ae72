#include "housekeeping/aged_files.h"

namespace quillet {

// Not built yet: the sweeps come with the housekeeping work.
void PriSubDeleteLogs(Context&, const std::string&) {}
void PriSubDeleteOldData(Context&, const std::string&, std::int16_t) {}
void SubDeleteFiles(Context&, const std::string&) {}

}  // namespace quillet
