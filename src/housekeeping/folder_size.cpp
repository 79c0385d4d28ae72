#include "housekeeping/folder_size.h"

#include <cmath>
#include <functional>
#include <optional>
#include <vector>

#include "core/agent.h"
#include "core/error_line.h"
#include "core/text.h"
#include "platform/activity_log.h"
#include "platform/status_report.h"

namespace quillet {

namespace {

// Opens an agent's folder, by its name relative to the install folder, where
// the link in its place points.
using OpenAgentFolder = std::function<std::unique_ptr<os::Folder>(const std::string& relative)>;

bool isAgentFolder(const std::string& relative) {
    for (const char* name : agent::kLayoutFolders)
        if (upper(relative) == upper(name)) return true;
    return false;
}

// The walk of both: links are never followed, but for the agent's folders
// met on the way down from the install folder when `openAgentFolder` is given.
std::uint64_t treeSize(os::Folder& top, const OpenAgentFolder& openAgentFolder) {
    // An explicit stack: a tree of any depth costs no call stack, and each
    // level keeps its folder open (the anchor of the next) with the
    // subfolders it has yet to walk.
    struct Level {
        std::unique_ptr<os::Folder> owned;
        os::Folder* folder;
        std::vector<os::FolderEntry> subfolders;
        // Relative to the install folder, for the install folder ("") and the
        // agent's folders only: nothing below them is followed.
        std::optional<std::string> relative;
    };
    std::uint64_t total = 0;
    std::vector<Level> levels;
    levels.push_back(
        {nullptr, &top, {}, openAgentFolder ? std::optional<std::string>("") : std::nullopt});
    bool listed = false;
    os::FolderEntry entry;
    const auto below = [](const Level& level, const os::FolderEntry& sub) {
        return level.relative->empty() ? sub.name : *level.relative + "\\" + sub.name;
    };
    while (!levels.empty()) {
        Level& level = levels.back();
        if (!listed) {
            while (level.folder->next(entry)) {
                if (entry.isLink) {
                    if (entry.isFolder && level.relative && isAgentFolder(below(level, entry)))
                        level.subfolders.push_back(entry);
                } else if (entry.isFolder) {
                    level.subfolders.push_back(entry);
                } else {
                    total += entry.size;
                }
            }
            listed = true;
        }
        if (level.subfolders.empty()) {
            levels.pop_back();
            continue;
        }
        const os::FolderEntry sub = std::move(level.subfolders.back());
        level.subfolders.pop_back();
        std::optional<std::string> relative;
        if (level.relative && isAgentFolder(below(level, sub))) relative = below(level, sub);
        if (auto child =
                sub.isLink ? openAgentFolder(*relative) : level.folder->openSubfolder(sub)) {
            os::Folder* raw = child.get();
            levels.push_back({std::move(child), raw, {}, std::move(relative)});
            listed = false;
        }
    }
    return total;
}

}  // namespace

std::uint64_t folderTreeSize(os::Folder& top) { return treeSize(top, nullptr); }

std::uint64_t folderTreeSize(os::System& os, const std::string& folderPath) {
    auto folder = os.openFolder(folderPath);
    return folderTreeSize(*folder);
}

std::uint64_t installFolderSize(os::System& os, const std::string& installFolder) {
    auto folder = os.openFolder(installFolder);
    return treeSize(*folder, [&](const std::string& relative) {
        return os.openFolder(installFolder + "\\" + relative);
    });
}

std::string megabytesText(std::uint64_t bytes) {
    const double megabytes = mebibytes(bytes);
    // nearbyint rounds an exact half to the even neighbour in the default mode.
    const double hundredths = std::nearbyint(megabytes * 100.0);
    const auto whole = static_cast<std::uint64_t>(hundredths) / 100;
    const auto fraction = static_cast<unsigned>(static_cast<std::uint64_t>(hundredths) % 100);
    std::string text = std::to_string(whole);
    if (fraction != 0) {
        text += '.';
        text += static_cast<char>('0' + fraction / 10);
        if (fraction % 10 != 0) text += static_cast<char>('0' + fraction % 10);
    }
    return text;
}

void SubGetFolderSize(Context& ctx, const std::string& folderPath) {
    try {
        PblSubWriteLog(ctx, "MSG : Getting \\KORBOD folder size...");
        const std::uint64_t bytes = installFolderSize(ctx.os, folderPath);
        ctx.run.statusDescription = "KORBOD folder Size : " + megabytesText(bytes) + " MB";
        PblSubWriteLog(ctx, "MSG : " + ctx.run.statusDescription);
    } catch (...) {
        PblSubWriteLog(ctx, errWhile("getting the size of \\KORBOD folder", ": ",
                                     describeCurrentException(), "SubGetFolderSize"));
        ctx.run.statusDescription = "Failed to get the size of \\KORBOD folder";
    }
    PriSubGeneratePID(ctx, ctx.run.overallStatusOK ? "Success" : "Failed",
                      ctx.run.statusDescription, "MN Status Check");
}

}  // namespace quillet
