#include "os/host/host_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>

#include "os/host/posix.h"

namespace quillet::os::host {

namespace {

// One status call per entry: type, size, identity, modification time and
// birth time (the status-change time where the file system records none).
struct EntryStatus {
    mode_t mode = 0;
    std::uint64_t size = 0, volume = 0, fileId = 0;
    std::time_t modified = 0, created = 0;
};

bool statusOf(int dirFd, const char* name, int flags, EntryStatus& out) {
    struct statx sx {};
    if (statx(dirFd, name, flags,
              STATX_TYPE | STATX_SIZE | STATX_INO | STATX_MTIME | STATX_CTIME | STATX_BTIME,
              &sx) != 0)
        return false;
    out.mode = sx.stx_mode;
    out.size = sx.stx_size;
    out.volume = makedev(sx.stx_dev_major, sx.stx_dev_minor);
    out.fileId = sx.stx_ino;
    out.modified = static_cast<std::time_t>(sx.stx_mtime.tv_sec);
    out.created = static_cast<std::time_t>((sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec
                                                                       : sx.stx_ctime.tv_sec);
    return true;
}

// The folder's descriptor is the walk's anchor: entries are reached by name
// relative to it, never by a path resolved again. It is read directly
// (getdents64) into a buffer that lives only while the listing runs, so a
// folder waiting for its subfolders to be walked holds one descriptor and no
// buffer, and a listing costs no system call beyond the reads.
class HostFolder : public Folder {
    // Whether an object is the one listed; an unknown id (0) cannot tell.
    static bool isListed(const FolderEntry& entry, std::uint64_t volume, std::uint64_t fileId) {
        return entry.fileId == 0 || (volume == entry.volume && fileId == entry.fileId);
    }

public:
    explicit HostFolder(int fd) : fd_(fd) {}
    ~HostFolder() override { close(fd_); }
    HostFolder(const HostFolder&) = delete;
    HostFolder& operator=(const HostFolder&) = delete;

    bool next(FolderEntry& entry) override {
        for (;;) {
            const char* name = nextName();
            if (!name) return false;
            EntryStatus st;
            if (!statusOf(fd_, name, AT_SYMLINK_NOFOLLOW, st)) {
                if (errno == ENOENT) continue;  // gone since it was listed
                throwErrno(errno);
            }
            entry.name = name;
            entry.nativeName = entry.name;
            entry.volume = st.volume;
            entry.fileId = st.fileId;
            entry.isLink = S_ISLNK(st.mode);
            if (entry.isLink) {
                // What a link points to only decides how it is shown; the
                // walk never goes through it.
                EntryStatus target;
                entry.isFolder = statusOf(fd_, name, 0, target) && S_ISDIR(target.mode);
                entry.size = 0;
            } else {
                entry.isFolder = S_ISDIR(st.mode);
                entry.size = entry.isFolder ? 0 : st.size;
            }
            entry.modified = toLocal(st.modified);
            entry.created = toLocal(st.created);
            lastName_ = entry.nativeName;
            lastStatus_ = st;
            return true;
        }
    }

    std::unique_ptr<Folder> openSubfolder(const FolderEntry& entry) override {
        const int fd =
            openat(fd_, entry.nativeName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            // Gone, or something else under its name: a link (ELOOP) or a file.
            if (errno == ENOENT || errno == ELOOP || errno == ENOTDIR) return nullptr;
            throwErrno(errno);
        }
        auto folder = std::make_unique<HostFolder>(fd);
        struct stat st {};
        if (fstat(fd, &st) != 0) throwErrno(errno);
        // Another folder moved in under the listed name since the listing.
        if (!isListed(entry, st.st_dev, st.st_ino)) throwErrno(ESTALE);
        return folder;
    }

    Removal remove(const FolderEntry& entry, const StillToGo& stillToGo) override {
        // unlinkat acts on the name in this folder itself: a link goes as a
        // link, and a real folder only when it is (still) an empty folder.
        const bool realFolder = entry.isFolder && !entry.isLink;
        // Only the object that was listed: not one that has taken its name
        // since. A file removed as it is listed was looked at a moment ago.
        EntryStatus st = lastStatus_;
        const bool justListed = !realFolder && entry.nativeName == lastName_ &&
                                entry.fileId == st.fileId && entry.volume == st.volume;
        if (!justListed && !statusOf(fd_, entry.nativeName.c_str(), AT_SYMLINK_NOFOLLOW, st)) {
            if (errno == ENOENT) return Removal::gone;
            throwErrno(errno);
        }
        if (!isListed(entry, st.volume, st.fileId)) throwErrno(ESTALE);
        if (!realFolder && stillToGo) {
            FolderEntry now = entry;
            now.size = entry.isLink ? 0 : st.size;
            now.modified = toLocal(st.modified);
            now.created = toLocal(st.created);
            if (!stillToGo(now)) return Removal::kept;
        }
        if (unlinkat(fd_, entry.nativeName.c_str(), realFolder ? AT_REMOVEDIR : 0) == 0)
            return Removal::removed;
        if (errno == ENOENT) return Removal::gone;
        // Something new in it since it was listed: it stays, as full folders do.
        if (realFolder && (errno == ENOTEMPTY || errno == EEXIST)) return Removal::kept;
        // A folder replaced by a link or a file is no longer the one listed.
        if (realFolder && errno == ENOTDIR) throwErrno(ESTALE);
        throwErrno(errno);
    }

private:
    static constexpr std::size_t kBufferSize = 32 * 1024;

    // The next name of the listing but "." and ".."; nullptr at its end.
    const char* nextName() {
        for (;;) {
            if (ended_) return nullptr;
            if (at_ == filled_) {
                if (!buffer_) buffer_ = std::make_unique<char[]>(kBufferSize);
                const ssize_t n = getdents64(fd_, buffer_.get(), kBufferSize);
                if (n <= 0) {
                    const int err = errno;
                    ended_ = true;
                    buffer_.reset();
                    if (n < 0) throwErrno(err);
                    return nullptr;
                }
                filled_ = static_cast<std::size_t>(n);
                at_ = 0;
            }
            const auto* d = reinterpret_cast<const dirent64*>(buffer_.get() + at_);
            at_ += d->d_reclen;
            const char* name = d->d_name;
            if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
            return name;
        }
    }

    int fd_;
    std::string lastName_;  // of the entry next() gave last, and its status then
    EntryStatus lastStatus_;
    std::unique_ptr<char[]> buffer_;
    std::size_t filled_ = 0, at_ = 0;
    bool ended_ = false;
};

}  // namespace

std::unique_ptr<Folder> openHostFolder(const std::string& hostPath, bool follow) {
    std::string path = hostPath;
    // A final "/" would make the open resolve a link there.
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    const int fd =
        open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (follow ? 0 : O_NOFOLLOW));
    if (fd < 0) {
        // Linux says ENOTDIR for a link when O_DIRECTORY is asked as well.
        const int err = errno;
        struct stat st {};
        throwErrno(err == ENOTDIR && lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode) ? ELOOP
                                                                                          : err);
    }
    return std::make_unique<HostFolder>(fd);
}

}  // namespace quillet::os::host
