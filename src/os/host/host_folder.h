#pragma once
// The folder walker over POSIX directory descriptors.
#include <memory>
#include <string>

#include "os/system.h"

namespace quillet::os::host {

// Opens the folder at a host path for a walk; a link at the path itself is
// refused (ELOOP). Throws Failure.
std::unique_ptr<Folder> openHostFolder(const std::string& hostPath);

}  // namespace quillet::os::host
