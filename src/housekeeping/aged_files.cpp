#include "housekeeping/aged_files.h"

#include <optional>
#include <utility>
#include <vector>

#include "core/clock_text.h"
#include "core/error_line.h"
#include "core/text.h"
#include "housekeeping/folder_size.h"
#include "platform/activity_log.h"
#include "platform/status_report.h"

namespace quillet {

namespace {

constexpr long kLogAgeLimitDays = 5;
constexpr double kLogSizeLimitMiB = 5.0;

// Calendar days from the stamp's local date to today's: the time of day plays
// no part, and a stamp in the future gives a negative age.
long ageInDays(os::System& os, const os::LocalTime& stamp) {
    return dayNumber(os.now()) - dayNumber(stamp);
}

bool tooLargeForLog(std::uint64_t bytes) { return mebibytes(bytes) > kLogSizeLimitMiB; }

bool isRealFolder(const os::FolderEntry& entry) { return entry.isFolder && !entry.isLink; }

// ---------------------------------------------------------------- log sweep

// What one invocation of the log sweep keeps for its error line and report.
struct LogInvocation {
    std::string lastChosen;  // full path of the last file chosen for deletion
    std::string examining;   // name of the file under examination; "" between files
};

void reportLogFailure(Context& ctx, const LogInvocation& inv, const CaughtError& e) {
    PblSubWriteLog(ctx, errWhile("deleting log files", " : ", e, "PriSubDeleteLogs") +
                            ", File=" + inv.lastChosen);
    ctx.run.statusDescription = "Delete log failed. - " + inv.examining;
    PriSubGeneratePID(ctx, "Failed", ctx.run.statusDescription, "Agent_DeleteLogs_MNStatus");
    ctx.run.overallStatusOK = false;
}

// Applies the log rule to the files (and links to files) of one open folder
// and collects its real subfolders for later. No folder is removed by this
// sweep, and a link to one (an administrator's archive moved elsewhere) is
// left as it is.
void examineLogEntries(Context& ctx, os::Folder& folder, const std::string& folderPath,
                       LogInvocation& inv, std::vector<os::FolderEntry>& subfolders) {
    const auto tooOldOrLarge = [&](const os::FolderEntry& e) {
        return ageInDays(ctx.os, e.modified) > kLogAgeLimitDays || tooLargeForLog(e.size);
    };
    os::FolderEntry entry;
    while (folder.next(entry)) {
        if (entry.isFolder) {
            if (!entry.isLink) subfolders.push_back(entry);
            continue;
        }
        inv.examining = entry.name;
        if (tooOldOrLarge(entry)) {
            inv.lastChosen = folderPath + entry.name;
            SubDeleteFiles(ctx, folder, entry, folderPath, tooOldOrLarge);
        }
        inv.examining.clear();
    }
}

// Asked only after a listing broke off before showing a subfolder: whether
// the folder has a real subfolder decides whose failure that was.
bool hasRealSubfolder(os::Folder& parent, const os::FolderEntry& sub) {
    try {
        auto folder = parent.openSubfolder(sub);
        os::FolderEntry entry;
        while (folder && folder->next(entry))
            if (isRealFolder(entry)) return true;
    } catch (...) {
    }
    return false;
}

// A subfolder without subfolders of its own is examined within the enclosing
// invocation: the file it last chose and the one it was examining become
// that invocation's, for the error line should the invocation fail.
void adopt(LogInvocation& enclosing, const LogInvocation& inPlace) {
    if (!inPlace.lastChosen.empty()) enclosing.lastChosen = inPlace.lastChosen;
    enclosing.examining = inPlace.examining;
}

// The subfolders of `parent` for invocation `inv`. A subfolder with real
// subfolders of its own is a nested invocation with its own trap; one without
// is examined in place, and a failure there (or in opening any subfolder at
// all, which is how its subfolders are counted) escapes to end `inv`.
void sweepLogSubfolders(Context& ctx, os::Folder& parent, const std::string& parentPath,
                        const std::vector<os::FolderEntry>& subfolders, LogInvocation& inv) {
    for (const auto& sub : subfolders) {
        inv.examining.clear();
        const std::string path = parentPath + sub.name + "\\";
        auto folder = parent.openSubfolder(sub);
        if (!folder) continue;  // gone, or replaced by a link, since it was listed
        // One listing both examines the files and finds out whether there are
        // subfolders; the choices stay apart until it is known whose they are.
        LogInvocation own;
        std::vector<os::FolderEntry> children;
        try {
            examineLogEntries(ctx, *folder, path, own, children);
        } catch (...) {
            const CaughtError e = describeCurrentException();
            folder.reset();
            if (children.empty() && !hasRealSubfolder(parent, sub)) {
                adopt(inv, own);
                throw;
            }
            reportLogFailure(ctx, own, e);
            continue;
        }
        if (children.empty()) {
            adopt(inv, own);
            continue;
        }
        try {
            sweepLogSubfolders(ctx, *folder, path, children, own);
        } catch (...) {
            reportLogFailure(ctx, own, describeCurrentException());
        }
    }
    inv.examining.clear();
}

// --------------------------------------------------------------- data sweep

void reportDataFailure(Context& ctx, const CaughtError& e) {
    PblSubWriteLog(ctx, errWhile("deleting older data files", " : ", e, "PriSubDeleteOldData"));
    ctx.run.statusDescription = "Failed to Delete data";
    PriSubGeneratePID(ctx, "Failed", ctx.run.statusDescription, "Agent_DeleteData_MNStatus");
    ctx.run.overallStatusOK = false;
}

// What a data sweep invocation left beneath its folder.
struct Left {
    std::uint64_t bytes = 0;
    bool entries = false;  // anything at all: a folder left without entries can go at once
};

// Deletes a subfolder that holds no bytes, bottom-up: zero-length files, links
// as links, then the folders, each through the folder that listed it. A file
// that holds bytes after all (one still being written, listed as empty)
// stays, and so do the folders above it: what stays is what is left.
Left removeEmptyTree(os::Folder& parent, const os::FolderEntry& sub) {
    Left left;
    {
        auto folder = parent.openSubfolder(sub);
        if (!folder) return left;  // gone, or replaced by a link: not the folder that was measured
        std::vector<os::FolderEntry> subfolders;
        os::FolderEntry entry;
        while (folder->next(entry)) {
            if (isRealFolder(entry)) {
                subfolders.push_back(entry);
                continue;
            }
            std::uint64_t bytes = 0;
            const auto holdsNothing = [&bytes](const os::FolderEntry& now) {
                bytes = now.size;
                return now.isLink || now.size == 0;
            };
            if (folder->remove(entry, holdsNothing) == os::Removal::kept)
                left = {left.bytes + bytes, true};
        }
        for (const auto& child : subfolders) {
            const Left below = removeEmptyTree(*folder, child);
            if (below.entries) left = {left.bytes + below.bytes, true};
        }
    }  // closed before it goes: a folder still open is only marked for deletion on Windows
    if (!left.entries && parent.remove(sub, {}) == os::Removal::kept) left.entries = true;
    return left;
}

std::optional<Left> sweepData(Context& ctx, os::Folder& folder, const std::string& folderPath,
                              long days);

// A nested invocation over the subfolder `sub` of `parent`: what it left
// beneath it once swept; nothing when it failed (its trap has reported).
// `gone` when the folder is no longer there to sweep.
std::optional<Left> sweepDataSubfolder(Context& ctx, os::Folder& parent, const os::FolderEntry& sub,
                                       const std::string& path, long days, bool& gone) {
    std::unique_ptr<os::Folder> folder;
    try {
        folder = parent.openSubfolder(sub);
    } catch (...) {
        reportDataFailure(ctx, describeCurrentException());
        return std::nullopt;
    }
    gone = !folder;
    return folder ? sweepData(ctx, *folder, path, days) : Left{};
}

// One invocation of the data sweep over an open folder. Gives what is left
// beneath the folder once swept, or nothing when the invocation failed (its
// trap has reported).
std::optional<Left> sweepData(Context& ctx, os::Folder& folder, const std::string& folderPath,
                              long days) {
    const auto tooOld = [&](const os::FolderEntry& e) {
        return ageInDays(ctx.os, e.created) > days;
    };
    try {
        Left left;
        std::vector<os::FolderEntry> subfolders;
        os::FolderEntry entry;
        while (folder.next(entry)) {
            if (isRealFolder(entry)) {
                subfolders.push_back(entry);
                continue;
            }
            entry.agedByCreation = true;
            if (tooOld(entry)) {
                // Judged again on what the file itself says: the listing can
                // show a file another program is writing as old and empty.
                os::FolderEntry now = entry;
                const auto stillTooOld = [&](const os::FolderEntry& e) {
                    now = e;
                    return tooOld(e);
                };
                if (SubDeleteFiles(ctx, folder, entry, folderPath, stillTooOld) !=
                    os::Removal::kept)
                    continue;
                entry = now;
            }
            left.entries = true;
            if (!entry.isLink) left.bytes += entry.size;  // a link holds no bytes of its own
        }
        for (const auto& sub : subfolders) {
            const std::string path = folderPath + sub.name + "\\";
            bool gone = false;
            std::optional<Left> below = sweepDataSubfolder(ctx, folder, sub, path, days, gone);
            if (gone) {
                left.entries = true;  // whatever took its name is no concern of this sweep
                continue;
            }
            // Only a sweep that broke off leaves the size unknown; then the
            // subfolder is measured, and a failure to do so is this invocation's.
            if (!below) {
                auto measured = folder.openSubfolder(sub);
                if (!measured) continue;
                below = Left{folderTreeSize(*measured), true};
            }
            if (below->entries && below->bytes == 0) {
                below = removeEmptyTree(folder, sub);  // the subfolder too, once emptied
                if (!below->entries) continue;
            } else if (!below->entries && folder.remove(sub, {}) != os::Removal::kept) {
                continue;
            }
            left = {left.bytes + below->bytes, true};
        }
        return left;
    } catch (...) {
        reportDataFailure(ctx, describeCurrentException());
        return std::nullopt;
    }
}

}  // namespace

void PriSubDeleteLogs(Context& ctx, const std::string& folderPath) {
    LogInvocation inv;
    try {
        if (!ctx.os.status(folderPath).isFolder) return;
        auto folder = ctx.os.openFolder(folderPath);
        std::vector<os::FolderEntry> subfolders;
        examineLogEntries(ctx, *folder, folderPath, inv, subfolders);
        sweepLogSubfolders(ctx, *folder, folderPath, subfolders, inv);
    } catch (...) {
        reportLogFailure(ctx, inv, describeCurrentException());
    }
}

void PriSubDeleteOldData(Context& ctx, const std::string& folderPath, std::int16_t days) {
    std::unique_ptr<os::Folder> folder;
    try {
        if (!ctx.os.status(folderPath).isFolder) return;
        folder = ctx.os.openFolder(folderPath);
    } catch (...) {
        reportDataFailure(ctx, describeCurrentException());
        return;
    }
    // The folder passed is never removed itself, so what is left in it does not matter.
    sweepData(ctx, *folder, folderPath, days);
}

os::Removal SubDeleteFiles(Context& ctx, os::Folder& folder, const os::FolderEntry& entry,
                           const std::string& folderPath, const os::StillToGo& stillToGo) {
    try {
        return folder.remove(entry, stillToGo);
    } catch (...) {
        // The path is put together only when there is a line to write.
        PblSubWriteLog(ctx, "ERR : Error Source : SubDeleteFiles(),File : " + folderPath +
                                entry.name + ",Desc:" + describeCurrentException().description);
        return os::Removal::kept;
    }
}

}  // namespace quillet
