#include "housekeeping/aged_files.h"

#include <optional>
#include <utility>
#include <vector>

#include "common/clock_text.h"
#include "common/error_line.h"
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

bool tooLargeForLog(std::uint64_t bytes) {
    return static_cast<double>(bytes) / 1024.0 / 1024.0 > kLogSizeLimitMiB;
}

bool isRealFolder(const os::FolderEntry& entry) { return entry.isFolder && !entry.isLink; }

// Must be called from inside a handler.
void logDeleteFailure(Context& ctx, const std::string& path) {
    PblSubWriteLog(ctx, "ERR : Error Source : SubDeleteFiles(),File : " + path +
                            ",Desc:" + describeCurrentException().description);
}

// The work of SubDeleteFiles; also tells the data sweep whether the file is
// gone, so that a subfolder's remaining size needs no second walk.
// The deletion is tried straight away and existence asked only when it
// fails: one call per file, and a file that went away meanwhile is no failure.
// Hidden and system files are deleted like any other.
bool deleteOneFile(Context& ctx, const std::string& path) {
    try {
        ctx.os.deleteFile(path);
        return true;
    } catch (...) {
        bool stillThere = true;
        try {
            stillThere = ctx.os.entryExists(path);
        } catch (...) {
        }
        if (!stillThere) return true;
        logDeleteFailure(ctx, path);
        return false;
    }
}

// A link is removed as a link; what it points to is never listed or touched.
// A failure is a failed deletion like any file's: logged, and the sweep goes on.
void deleteLink(Context& ctx, const std::string& path, bool folderLink) {
    try {
        if (folderLink)
            ctx.os.removeFolder(path);
        else
            ctx.os.deleteFile(path);
    } catch (...) {
        logDeleteFailure(ctx, path);
    }
}

// ---------------------------------------------------------------- log sweep

// What one invocation of the log sweep keeps for its error line and report.
struct LogInvocation {
    std::string lastChosen;   // full path of the last file chosen for deletion
    std::string examining;    // name of the file under examination; "" between files
};

void reportLogFailure(Context& ctx, const LogInvocation& inv, const CaughtError& e) {
    PblSubWriteLog(ctx, errWhile("deleting log files", " : ", e, "PriSubDeleteLogs") +
                            ", File=" + inv.lastChosen);
    ctx.run.statusDescription = "Delete log failed. - " + inv.examining;
    PriSubGeneratePID(ctx, "Failed", ctx.run.statusDescription, "Agent_DeleteLogs_MNStatus");
    ctx.run.overallStatusOK = false;
}

// Applies the log rule to the files (and links) of one folder listing and
// collects the names of its real subfolders for later.
void examineLogEntries(Context& ctx, os::FolderListing& listing, const std::string& folder,
                       LogInvocation& inv, std::vector<std::string>& subfolders) {
    os::FolderEntry entry;
    while (listing.next(entry)) {
        if (isRealFolder(entry)) {
            subfolders.push_back(entry.name);
            continue;
        }
        inv.examining = entry.name;
        if (ageInDays(ctx.os, entry.modified) > kLogAgeLimitDays || tooLargeForLog(entry.size)) {
            inv.lastChosen = folder + entry.name;
            if (entry.isLink)
                deleteLink(ctx, inv.lastChosen, entry.isFolder);
            else
                SubDeleteFiles(ctx, inv.lastChosen);
        }
        inv.examining.clear();
    }
}

// Asked only after a listing broke off before showing a subfolder: whether
// the folder has a real subfolder decides whose failure that was.
bool hasRealSubfolder(Context& ctx, const std::string& folder) {
    try {
        auto listing = ctx.os.listFolder(folder);
        os::FolderEntry entry;
        while (listing->next(entry))
            if (isRealFolder(entry)) return true;
    } catch (...) {
    }
    return false;
}

// A subfolder's choices made in place become the enclosing invocation's.
void adopt(LogInvocation& enclosing, const LogInvocation& inPlace) {
    if (!inPlace.lastChosen.empty()) enclosing.lastChosen = inPlace.lastChosen;
    enclosing.examining = inPlace.examining;
}

// The subfolders of `folder` for invocation `inv`. A subfolder with real
// subfolders of its own is a nested invocation with its own trap; one without
// is examined in place, and a failure there (or in listing any subfolder at
// all, which is how its subfolders are counted) escapes to end `inv`.
void sweepLogSubfolders(Context& ctx, const std::string& folder,
                        const std::vector<std::string>& subfolders, LogInvocation& inv) {
    for (const auto& name : subfolders) {
        inv.examining.clear();
        const std::string path = folder + name + "\\";
        // One listing both examines the files and finds out whether there are
        // subfolders; the choices stay apart until it is known whose they are.
        LogInvocation own;
        std::vector<std::string> children;
        auto listing = ctx.os.listFolder(path);
        try {
            examineLogEntries(ctx, *listing, path, own, children);
        } catch (...) {
            const CaughtError e = describeCurrentException();
            listing.reset();
            if (children.empty() && !hasRealSubfolder(ctx, path)) {
                adopt(inv, own);
                throw;
            }
            reportLogFailure(ctx, own, e);
            continue;
        }
        listing.reset();   // no folder handle stays open while the tree below is walked
        if (children.empty()) {
            adopt(inv, own);
            continue;
        }
        try {
            sweepLogSubfolders(ctx, path, children, own);
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

// Deletes a folder that holds no bytes, bottom-up: zero-length files, links
// as links, then the folders. Nothing is ever deleted through a link.
void removeEmptyTree(os::System& os, const std::string& folder) {
    std::vector<std::string> subfolders;
    {
        auto listing = os.listFolder(folder);
        os::FolderEntry entry;
        while (listing->next(entry)) {
            if (isRealFolder(entry))
                subfolders.push_back(entry.name);
            else if (entry.isLink && entry.isFolder)
                os.removeFolder(folder + entry.name);
            else
                os.deleteFile(folder + entry.name);
        }
    }
    for (const auto& name : subfolders) removeEmptyTree(os, folder + name + "\\");
    os.removeFolder(folder);
}

// One invocation of the data sweep. Gives the bytes left beneath the folder
// once swept, or nothing when the invocation failed (its trap has reported).
std::optional<std::uint64_t> sweepData(Context& ctx, const std::string& folder, long days) {
    try {
        if (!ctx.os.folderExists(folder)) return 0;
        std::uint64_t remaining = 0;
        std::vector<std::string> subfolders;
        {
            auto listing = ctx.os.listFolder(folder);
            os::FolderEntry entry;
            while (listing->next(entry)) {
                if (isRealFolder(entry)) {
                    subfolders.push_back(entry.name);
                    continue;
                }
                const bool tooOld = ageInDays(ctx.os, entry.created) > days;
                if (entry.isLink) {
                    if (tooOld) deleteLink(ctx, folder + entry.name, entry.isFolder);
                    continue;   // a link holds no bytes of its own
                }
                if (!(tooOld && deleteOneFile(ctx, folder + entry.name))) remaining += entry.size;
            }
        }
        for (const auto& name : subfolders) {
            const std::string path = folder + name + "\\";
            const std::optional<std::uint64_t> left = sweepData(ctx, path, days);
            // Only a sweep that broke off leaves the size unknown; then the
            // subfolder is measured, and a failure to do so is this invocation's.
            const std::uint64_t size = left ? *left : folderTreeSize(ctx.os, path);
            if (size == 0)
                removeEmptyTree(ctx.os, path);
            else
                remaining += size;
        }
        return remaining;
    } catch (...) {
        reportDataFailure(ctx, describeCurrentException());
        return std::nullopt;
    }
}

}  // namespace

void PriSubDeleteLogs(Context& ctx, const std::string& folderPath) {
    LogInvocation inv;
    try {
        if (!ctx.os.folderExists(folderPath)) return;
        std::vector<std::string> subfolders;
        {
            auto listing = ctx.os.listFolder(folderPath);
            examineLogEntries(ctx, *listing, folderPath, inv, subfolders);
        }
        sweepLogSubfolders(ctx, folderPath, subfolders, inv);
    } catch (...) {
        reportLogFailure(ctx, inv, describeCurrentException());
    }
}

void PriSubDeleteOldData(Context& ctx, const std::string& folderPath, std::int16_t days) {
    // The folder passed is never removed itself, so what is left in it does not matter.
    sweepData(ctx, folderPath, days);
}

void SubDeleteFiles(Context& ctx, const std::string& path) { deleteOneFile(ctx, path); }

}  // namespace quillet
