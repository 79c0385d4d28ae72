#pragma once
#include <string>

#include "core/context.h"

namespace quillet {

// Counts the files directly in the alert ticket folder; more than 100 is a
// backlog and gets a status report.
void PriSubCheckAlertTktPending(Context& ctx, const std::string& folderPath);

}  // namespace quillet
