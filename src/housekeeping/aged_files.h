#pragma once
#include <cstdint>
#include <string>

#include "core/context.h"

namespace quillet {

// Deletes files of a log folder tree older than 5 calendar days by
// modification time or larger than 5 MiB. Never removes a folder.
void PriSubDeleteLogs(Context& ctx, const std::string& folderPath);
// Deletes files of a data folder tree older than `days` calendar days by
// creation time, then removes subfolders left without content.
void PriSubDeleteOldData(Context& ctx, const std::string& folderPath, std::int16_t days);
// Deletes one file (or link, as a link) that `folder` (at `folderPath`)
// listed, read-only or not, hidden or not, when `stillToGo` says so of it as
// it is now. Tells what became of it, so that the data sweep knows the bytes
// left beneath a folder without a second walk. An entry that went away
// meanwhile is no failure; one that is still there after a refused deletion
// gets its line in the log and is kept. A failure is never raised.
os::Removal SubDeleteFiles(Context& ctx, os::Folder& folder, const os::FolderEntry& entry,
                           const std::string& folderPath, const os::StillToGo& stillToGo);

}  // namespace quillet
