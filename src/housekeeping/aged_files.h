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
// Deletes one file (or link, as a link) that `folder` listed, read-only or
// not; `path` names it in the log. A failure is logged, never raised.
void SubDeleteFiles(Context& ctx, os::Folder& folder, const os::FolderEntry& entry,
                    const std::string& path);

}  // namespace quillet
