#pragma once
#include <cstdint>
#include <string>

#include "core/context.h"

namespace quillet {

// Total bytes of the files beneath a folder at any depth. Links are never
// followed: a link counts as nothing. Throws Failure when a folder cannot be read.
std::uint64_t folderTreeSize(os::System& os, const std::string& folderPath);
// The same for a folder already open.
std::uint64_t folderTreeSize(os::Folder& folder);
// The same for the install folder (without its final "\"), where the agent's
// folders in it that are links are measured where they point.
std::uint64_t installFolderSize(os::System& os, const std::string& installFolder);

// Megabytes rounded to two places (half to even), in the shortest form: 153.27, 153.2, 153, 0.
std::string megabytesText(std::uint64_t bytes);

// Logs the install folder's size and writes the run's closing "MN Status Check" report.
void SubGetFolderSize(Context& ctx, const std::string& folderPath);

}  // namespace quillet
