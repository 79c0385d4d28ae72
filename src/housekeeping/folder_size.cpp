#include "housekeeping/folder_size.h"

#include <cmath>
#include <vector>

#include "common/error_line.h"
#include "platform/activity_log.h"
#include "platform/status_report.h"

namespace quillet {

std::uint64_t folderTreeSize(os::System& os, const std::string& folderPath) {
    std::uint64_t total = 0;
    // An explicit stack keeps memory proportional to the open folders' pending
    // subfolders, not to the depth of recursion.
    std::vector<std::string> pending{folderPath};
    os::FolderEntry entry;
    while (!pending.empty()) {
        std::string folder = std::move(pending.back());
        pending.pop_back();
        if (folder.empty() || folder.back() != '\\') folder += '\\';
        auto listing = os.listFolder(folder);
        while (listing->next(entry)) {
            if (entry.isLink) continue;
            if (entry.isFolder)
                pending.push_back(folder + entry.name);
            else
                total += entry.size;
        }
    }
    return total;
}

std::string megabytesText(std::uint64_t bytes) {
    const double megabytes = static_cast<double>(bytes) / 1024.0 / 1024.0;
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
        const std::uint64_t bytes = folderTreeSize(ctx.os, folderPath);
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
