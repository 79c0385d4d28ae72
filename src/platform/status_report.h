#pragma once
#include <string>

#include "core/context.h"

namespace quillet {

// Writes one PMStatus\ report file, pauses 2,000 ms so that no two reports of
// a run share a name, and empties StatusDescription.
void PriSubGeneratePID(Context& ctx, const std::string& status, const std::string& description,
                       const std::string& reportName);

}  // namespace quillet
