#include <windows.h>
// after windows.h
#include <imagehlp.h>

#include <cstring>

#include "os/win32/error_text.h"
#include "os/win32/win32_system.h"

namespace quillet::os::win32 {

namespace {

constexpr DWORD kHiddenOrSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

bool hasWildcard(const std::string& path) { return path.find_first_of("*?") != std::string::npos; }

std::uint64_t sizeOf(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

// File times are stored in UTC. They are shown in the local time that was in
// force on that date (FileTimeToLocalFileTime would apply today's daylight
// saving bias instead, moving a summer file by an hour in winter and so, near
// midnight, to another day).
LocalTime localTimeOf(const FILETIME& fileTime) {
    SYSTEMTIME utc;
    SYSTEMTIME local;
    if (!FileTimeToSystemTime(&fileTime, &utc) ||
        !SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local)) {
        throw lastFailure();
    }
    return fromSystemTime(local);
}

// Clears the read-only attribute so that a forced deletion can go ahead; the
// attributes it had are returned so that a deletion that still fails can put
// them back.
DWORD clearReadOnly(const std::string& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        DWORD rest = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
        if (rest == 0) rest = FILE_ATTRIBUTE_NORMAL;
        if (!SetFileAttributesA(path.c_str(), rest)) throw lastFailure();
    }
    return attributes;
}

void restoreReadOnly(const std::string& path, DWORD attributes) {
    if ((attributes & FILE_ATTRIBUTE_READONLY) != 0) SetFileAttributesA(path.c_str(), attributes);
}

DWORD attributesOrThrow(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) throw lastFailure();
    return attributes;
}

class Handle {
public:
    explicit Handle(HANDLE h) : h_(h) {}
    ~Handle() {
        if (h_ != INVALID_HANDLE_VALUE) CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }
    // Closes now, so that a failed close is seen; the destructor then has nothing to do.
    bool close() {
        const BOOL ok = CloseHandle(h_);
        h_ = INVALID_HANDLE_VALUE;
        return ok != FALSE;
    }

private:
    HANDLE h_;
};

class Win32FolderListing : public FolderListing {
public:
    explicit Win32FolderListing(const std::string& folderPath) {
        std::string pattern = folderPath;
        if (pattern.empty() || pattern.back() != '\\') pattern += '\\';
        pattern += '*';
        find_ = FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &data_, FindExSearchNameMatch,
                                 nullptr, FIND_FIRST_EX_LARGE_FETCH);
        if (find_ != INVALID_HANDLE_VALUE) {
            pending_ = true;
            return;
        }
        const DWORD error = GetLastError();
        // A folder with no entries at all (not even "." and "..", as at the
        // root of a drive) answers "file not found"; a missing folder must not
        // pass for an empty one.
        if (error == ERROR_FILE_NOT_FOUND) {
            const DWORD attributes = GetFileAttributesA(folderPath.c_str());
            if (attributes != INVALID_FILE_ATTRIBUTES &&
                (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
                return;
            }
        }
        throw failureOf(error);
    }
    ~Win32FolderListing() override {
        if (find_ != INVALID_HANDLE_VALUE) FindClose(find_);
    }
    Win32FolderListing(const Win32FolderListing&) = delete;
    Win32FolderListing& operator=(const Win32FolderListing&) = delete;

    bool next(FolderEntry& entry) override {
        while (advance()) {
            const char* name = data_.cFileName;
            if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
            entry.name = name;
            entry.isFolder = (data_.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            entry.isLink = (data_.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            entry.size = entry.isFolder || entry.isLink
                             ? 0
                             : sizeOf(data_.nFileSizeHigh, data_.nFileSizeLow);
            entry.created = localTimeOf(data_.ftCreationTime);
            entry.modified = localTimeOf(data_.ftLastWriteTime);
            return true;
        }
        return false;
    }

private:
    // Makes data_ the next raw entry; false at the end of the folder.
    bool advance() {
        if (find_ == INVALID_HANDLE_VALUE) return false;
        if (pending_) {
            pending_ = false;
            return true;
        }
        if (FindNextFileA(find_, &data_)) return true;
        const DWORD error = GetLastError();
        FindClose(find_);
        find_ = INVALID_HANDLE_VALUE;
        if (error == ERROR_NO_MORE_FILES) return false;
        throw failureOf(error);
    }

    HANDLE find_ = INVALID_HANDLE_VALUE;
    WIN32_FIND_DATAA data_ = {};
    bool pending_ = false;  // data_ holds the first entry, not yet handed out
};

}  // namespace

bool Win32System::fileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | kHiddenOrSystem)) == 0;
}

std::optional<std::string> Win32System::storedFileName(const std::string& path) {
    // FindFirstFileA would take wildcards as a pattern and answer for another file.
    if (hasWildcard(path)) return std::nullopt;
    WIN32_FIND_DATAA data;
    const HANDLE find = FindFirstFileA(path.c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(find);
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | kHiddenOrSystem)) != 0) {
        return std::nullopt;
    }
    return std::string(data.cFileName);
}

bool Win32System::folderExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32System::entryExists(const std::string& path) {
    // GetFileAttributes looks at a link itself, never at its target.
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::uint64_t Win32System::fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) throw lastFailure();
    return sizeOf(data.nFileSizeHigh, data.nFileSizeLow);
}

void Win32System::appendToFile(const std::string& path, const std::string& bytes) {
    // Shared for reading, writing and deletion: the agent reads the log while
    // it is written, and a sweep may delete it.
    Handle file(CreateFileA(path.c_str(), FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) throw lastFailure();
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t rest = bytes.size() - done;
        const DWORD chunk = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
        DWORD written = 0;
        if (!WriteFile(file.get(), bytes.data() + done, chunk, &written, nullptr)) {
            throw lastFailure();
        }
        if (written == 0) throw failureOf(ERROR_WRITE_FAULT);
        done += written;
    }
    if (!file.close()) throw lastFailure();
}

void Win32System::deleteFile(const std::string& path) {
    const DWORD attributes = clearReadOnly(path, attributesOrThrow(path));
    // A link to a folder is a directory entry and goes with RemoveDirectory,
    // which removes the link and never what it points to.
    const bool folderLink = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
                            (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    const BOOL ok = folderLink ? RemoveDirectoryA(path.c_str()) : DeleteFileA(path.c_str());
    if (!ok) {
        const DWORD error = GetLastError();
        restoreReadOnly(path, attributes);
        throw failureOf(error);
    }
}

bool Win32System::deleteFilePlain(const std::string& path) {
    return DeleteFileA(path.c_str()) != FALSE;
}

void Win32System::removeFolder(const std::string& path) {
    const DWORD attributes = clearReadOnly(path, attributesOrThrow(path));
    if (!RemoveDirectoryA(path.c_str())) {
        const DWORD error = GetLastError();
        restoreReadOnly(path, attributes);
        throw failureOf(error);
    }
}

bool Win32System::makeSureDirectoryPathExists(const std::string& path) {
    return MakeSureDirectoryPathExists(path.c_str()) != FALSE;
}

std::unique_ptr<FolderListing> Win32System::listFolder(const std::string& folderPath) {
    return std::make_unique<Win32FolderListing>(folderPath);
}

}  // namespace quillet::os::win32
