#include "housekeeping/alert_tickets.h"

#include "core/error_line.h"
#include "platform/activity_log.h"
#include "platform/status_report.h"

namespace quillet {

void PriSubCheckAlertTktPending(Context& ctx, const std::string& folderPath) {
    try {
        if (!ctx.os.status(folderPath).isFolder) {
            PblSubWriteLog(ctx, "INF : Alert Ticket folder not found");
            return;
        }
        std::uint64_t count = 0;
        auto folder = ctx.os.openFolder(folderPath);
        os::FolderEntry entry;
        // A link to a file is a file of the folder (a link to a folder is
        // not); counting it follows nothing.
        while (folder->next(entry))
            if (!entry.isFolder) ++count;
        const std::string n = std::to_string(count);
        PblSubWriteLog(ctx, "INF : Number of files pending in alert ticket folder are - " + n);
        if (count > 100) {
            ctx.run.statusDescription = "Files in alert ticket folder - " + n;
            PriSubGeneratePID(ctx, "Success", ctx.run.statusDescription,
                              "Agent_AlertTktPending_MNStatus");
        }
    } catch (...) {
        PblSubWriteLog(ctx, errWhile("files in alert ticket", " : ", describeCurrentException(),
                                     "PriSubCheckAlertTktPending"));
    }
}

}  // namespace quillet
