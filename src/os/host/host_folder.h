#pragma once
// The folder walker over POSIX directory descriptors.
#include <memory>
#include <string>

#include "os/system.h"

namespace quillet::os::host {

// Opens the folder at a host path for a walk. A link at the path itself is
// followed when `follow`, refused (ELOOP) otherwise. Throws Failure.
std::unique_ptr<Folder> openHostFolder(const std::string& hostPath, bool follow);

}  // namespace quillet::os::host
