#pragma once
#include <string>
#include <vector>

#include "os/system.h"

namespace quillet {

// Every complete section name of an INI file, in file order; empty when the
// file is missing or has no section. The platform cuts a list that does not
// fit its buffer, so the buffer grows until the whole list comes back.
std::vector<std::string> readAllSectionNames(os::System& os, const std::string& file);

// A section name as the private-profile functions match it: blanks around it
// do not count, nor does the letter case.
std::string sectionMatchKey(const std::string& name);

}  // namespace quillet
