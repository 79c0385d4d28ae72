#include <windows.h>
// after windows.h
#include <imagehlp.h>
#include <winternl.h>

#include <cstring>

#include "os/win32/error_text.h"
#include "os/win32/handle.h"
#include "os/win32/wide_path.h"
#include "os/win32/win32_system.h"

namespace quillet::os::win32 {

namespace {

constexpr DWORD kHiddenOrSystem = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Answers of NtCreateFile that mean the name no longer stands for what was
// listed under it (ntstatus.h does not go together with windows.h).
constexpr NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034L);
constexpr NTSTATUS kPathNotFound = static_cast<NTSTATUS>(0xC000003AL);
constexpr NTSTATUS kDeletePending = static_cast<NTSTATUS>(0xC0000056L);
constexpr NTSTATUS kFileIsADirectory = static_cast<NTSTATUS>(0xC00000BAL);
constexpr NTSTATUS kNotADirectory = static_cast<NTSTATUS>(0xC0000103L);

// A folder walk refuses a link; Windows and Wine both have a text for this code.
constexpr DWORD kLinkRefused = ERROR_CANT_ACCESS_FILE;

// Entries fetched per listing call. Held only while a listing goes on, so a
// deep walk keeps one buffer per folder it is still listing.
constexpr std::size_t kListingBytes = 64 * 1024;

bool hasWildcard(const std::string& path) { return path.find_first_of("*?") != std::string::npos; }

std::uint64_t sizeOf(DWORD high, DWORD low) {
    return (static_cast<std::uint64_t>(high) << 32) | low;
}

// File times are stored in UTC and shown in the local time of their date; a
// time no date holds never ends a listing.
LocalTime localTimeOf(const FILETIME& fileTime) { return localTimeOfFile(fileTime); }

// The path of what a handle holds open, links resolved ("\\?\C:\..."); ""
// where the system cannot tell.
std::wstring finalPathOf(HANDLE h) {
    std::wstring path(MAX_PATH, L'\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        const DWORD n = GetFinalPathNameByHandleW(h, path.data(), static_cast<DWORD>(path.size()),
                                                  FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (n == 0) return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.assign(n, L'\0');  // too small: n is the size wanted, terminator included
    }
    return {};
}

// Whether `path` lies below `folder` (neither ending in "\" but a drive's root).
bool within(const std::wstring& path, const std::wstring& folder) {
    const std::size_t n = folder.size() - (folder.back() == L'\\' ? 1 : 0);
    return path.size() > n && path[n] == L'\\' &&
           CompareStringOrdinal(path.data(), static_cast<int>(n), folder.data(),
                                static_cast<int>(n), TRUE) == CSTR_EQUAL;
}

LocalTime localTimeOf(const LARGE_INTEGER& stamp) {
    FILETIME fileTime;
    fileTime.dwLowDateTime = stamp.LowPart;
    fileTime.dwHighDateTime = static_cast<DWORD>(stamp.HighPart);
    return localTimeOf(fileTime);
}

// What an open handle is: the object itself, never what a name stands for.
struct Identity {
    DWORD attributes = 0;
    DWORD volume = 0;
    std::uint64_t fileId = 0;
    bool isLink() const { return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }
    bool isFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

Identity identityOf(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) throw lastFailure();
    Identity identity;
    identity.attributes = info.dwFileAttributes;
    identity.volume = info.dwVolumeSerialNumber;
    identity.fileId = sizeOf(info.nFileIndexHigh, info.nFileIndexLow);
    return identity;
}

bool isListedObject(const Identity& opened, const FolderEntry& entry) {
    return opened.fileId == entry.fileId && opened.volume == entry.volume;
}

Failure ntFailure(NTSTATUS status) { return failureOf(RtlNtStatusToDosError(status)); }

bool setAttributes(HANDLE h, DWORD attributes) {
    FILE_BASIC_INFO basic = {};  // times of 0 stay as they are
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

// Deletes the object the handle has open (DELETE and FILE_WRITE_ATTRIBUTES
// access): no name is looked up again, so nothing can be swapped in between.
// A read-only object loses that attribute first, and gets it back when the
// deletion still fails.
void deleteOpened(HANDLE h, DWORD attributes) {
    // POSIX semantics take the name away at once, even while another program
    // (the agent) still has the file open with delete sharing, so that the
    // emptied folder can go too; the read-only attribute is no obstacle then.
    // Systems before Windows 10 1809 and some file systems do not know it.
    struct {
        ULONG flags;
    } disposition = {0x1 | 0x2 | 0x10};  // DELETE | POSIX_SEMANTICS | IGNORE_READONLY_ATTRIBUTE
    constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
    if (SetFileInformationByHandle(h, kDispositionInfoEx, &disposition, sizeof disposition)) return;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly && !setAttributes(h, attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY))) {
        throw lastFailure();
    }
    FILE_DISPOSITION_INFO classic = {TRUE};
    if (SetFileInformationByHandle(h, FileDispositionInfo, &classic, sizeof classic)) return;
    const DWORD error = GetLastError();
    if (readOnly) setAttributes(h, attributes);
    throw failureOf(error);
}

class Win32Folder : public Folder {
public:
    Win32Folder(Handle handle, DWORD volume) : handle_(std::move(handle)), volume_(volume) {}

    bool next(FolderEntry& entry) override {
        for (;;) {
            if (!holding_ && !fetch()) return false;
            const auto* info = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(
                reinterpret_cast<const unsigned char*>(buffer_.get()) + position_);
            holding_ = info->NextEntryOffset != 0;
            position_ += info->NextEntryOffset;
            const std::wstring name(info->FileName, info->FileNameLength / sizeof(wchar_t));
            if (name == L"." || name == L"..") continue;
            entry.name = narrow(name);
            entry.nativeName.assign(reinterpret_cast<const char*>(name.data()),
                                    name.size() * sizeof(wchar_t));
            entry.isFolder = (info->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            entry.isLink = (info->FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
            entry.size = entry.isFolder || entry.isLink
                             ? 0
                             : static_cast<std::uint64_t>(info->EndOfFile.QuadPart);
            entry.created = localTimeOf(info->CreationTime);
            entry.modified = localTimeOf(info->LastWriteTime);
            entry.fileId = static_cast<std::uint64_t>(info->FileId.QuadPart);
            entry.volume = volume_;
            return true;
        }
    }

    std::unique_ptr<Folder> openSubfolder(const FolderEntry& entry) override {
        // Wine shows a Unix symbolic link only in the listing, and opens
        // through it whatever it is asked: a link is never entered.
        if (entry.isLink || !entry.isFolder) return nullptr;
        HANDLE raw = INVALID_HANDLE_VALUE;
        const NTSTATUS status =
            openEntry(entry, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                      FILE_DIRECTORY_FILE, raw);
        if (isGone(status)) return nullptr;
        if (status < 0) throw ntFailure(status);
        Handle subfolder(raw);
        const Identity opened = identityOf(subfolder.get());
        if (opened.isLink() || !opened.isFolder() || !isListedObject(opened, entry)) {
            return nullptr;
        }
        return std::make_unique<Win32Folder>(std::move(subfolder), opened.volume);
    }

    bool remove(const FolderEntry& entry) override {
        // A link is opened as itself, whatever it points to; a file or a
        // folder only as what it was listed as.
        const ULONG kind = entry.isLink     ? 0
                           : entry.isFolder ? FILE_DIRECTORY_FILE
                                            : FILE_NON_DIRECTORY_FILE;
        HANDLE raw = INVALID_HANDLE_VALUE;
        const NTSTATUS status = openEntry(
            entry, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, kind, raw);
        if (isGone(status)) return false;
        if (status < 0) throw ntFailure(status);
        Handle object(raw);
        const Identity opened = identityOf(object.get());
        if (!isListedObject(opened, entry)) return false;
        // Only where the system opened what a listed link points to (Wine
        // with a Unix link): deleting that would delete the target.
        if (entry.isLink && !opened.isLink()) throw failureOf(kLinkRefused);
        deleteOpened(object.get(), opened.attributes);
        return true;
    }

private:
    static bool isGone(NTSTATUS status) {
        return status == kNameNotFound || status == kPathNotFound || status == kDeletePending ||
               status == kFileIsADirectory || status == kNotADirectory;
    }

    // Opens an entry of this folder by the name it was listed under, relative
    // to this folder's handle, never through a link.
    NTSTATUS openEntry(const FolderEntry& entry, ACCESS_MASK access, ULONG options,
                       HANDLE& opened) {
        const std::string& native = entry.nativeName;
        std::wstring name(native.size() / sizeof(wchar_t), L'\0');
        std::memcpy(name.data(), native.data(), name.size() * sizeof(wchar_t));
        // Only a name of this folder: never one that leaves it.
        if (name.empty() || native.size() % sizeof(wchar_t) != 0 || name.size() > 0x7FFF ||
            name == L"." || name == L".." || name.find(L'\\') != std::wstring::npos) {
            throw failureOf(ERROR_INVALID_NAME);
        }
        UNICODE_STRING objectName;
        objectName.Buffer = name.data();
        objectName.Length = static_cast<USHORT>(name.size() * sizeof(wchar_t));
        objectName.MaximumLength = objectName.Length;
        OBJECT_ATTRIBUTES attributes = {};
        attributes.Length = sizeof attributes;
        attributes.RootDirectory = handle_.get();
        attributes.ObjectName = &objectName;
        IO_STATUS_BLOCK io = {};
        return NtCreateFile(&opened, access, &attributes, &io, nullptr, 0, kShareAll, FILE_OPEN,
                            options | FILE_OPEN_REPARSE_POINT | FILE_SYNCHRONOUS_IO_NONALERT |
                                FILE_OPEN_FOR_BACKUP_INTENT,
                            nullptr, 0);
    }

    // Fills the buffer with the next entries; false at the end.
    bool fetch() {
        if (ended_) return false;
        if (!buffer_) buffer_ = std::make_unique<std::uint64_t[]>(kListingBytes / 8);
        if (GetFileInformationByHandleEx(handle_.get(), FileIdBothDirectoryInfo, buffer_.get(),
                                         static_cast<DWORD>(kListingBytes))) {
            started_ = holding_ = true;
            position_ = 0;
            return true;
        }
        const DWORD error = GetLastError();
        // A folder with no entries at all (not even "." and "..", as at the
        // root of a drive) answers its first query with "file not found".
        if (error == ERROR_NO_MORE_FILES || (!started_ && error == ERROR_FILE_NOT_FOUND)) {
            ended_ = true;
            buffer_.reset();
            return false;
        }
        throw failureOf(error);
    }

    Handle handle_;
    DWORD volume_;
    std::unique_ptr<std::uint64_t[]> buffer_;  // 8-byte aligned, as the entries need
    std::size_t position_ = 0;                 // of the next entry in buffer_
    bool holding_ = false;                     // buffer_ holds entries not handed out yet
    bool started_ = false, ended_ = false;
};

}  // namespace

bool Win32System::fileExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(extendedPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | kHiddenOrSystem)) == 0;
}

std::optional<std::string> Win32System::storedFileName(const std::string& path) {
    // FindFirstFile would take wildcards as a pattern and answer for another file.
    if (hasWildcard(path)) return std::nullopt;
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileExW(extendedPath(path).c_str(), FindExInfoBasic, &data,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return std::nullopt;
    FindClose(find);
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | kHiddenOrSystem)) != 0) {
        return std::nullopt;
    }
    return narrow(data.cFileName, std::wcslen(data.cFileName));
}

bool Win32System::folderExists(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(extendedPath(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32System::entryExists(const std::string& path) {
    // GetFileAttributes looks at a link itself, never at its target.
    if (GetFileAttributesW(extendedPath(path).c_str()) != INVALID_FILE_ATTRIBUTES) return true;
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
}

std::uint64_t Win32System::fileSize(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(extendedPath(path).c_str(), GetFileExInfoStandard, &data)) {
        throw lastFailure();
    }
    return sizeOf(data.nFileSizeHigh, data.nFileSizeLow);
}

bool Win32System::ledAway(const std::string& path, bool withLast) {
    // By the path's attributes: Wine shows a Unix link to a folder only there
    // (and one to a file nowhere; escaped() sees through that).
    const bool refused = confinement_.ledAway(path, withLast, [](const std::string& p) {
        const DWORD attributes = GetFileAttributesW(extendedPath(p).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES &&
               (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    });
    if (refused) SetLastError(kLinkRefused);
    return refused;
}

bool Win32System::escaped(const std::string& path, void* handle) {
    if (!confinement_.covers(path)) return false;
    if (rootFinal_.empty()) {
        const Handle root(CreateFileW(extendedPath(confinement_.root()).c_str(),
                                      FILE_READ_ATTRIBUTES, kShareAll, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (root.get() != INVALID_HANDLE_VALUE) rootFinal_ = finalPathOf(root.get());
    }
    const std::wstring opened = finalPathOf(handle);
    // Where the system cannot tell, the look at the path before the call stands.
    return !rootFinal_.empty() && !opened.empty() && !within(opened, rootFinal_);
}

void Win32System::appendToFile(const std::string& path, const std::string& bytes) {
    if (ledAway(path, true)) throw failureOf(kLinkRefused);
    // Shared for reading, writing and deletion: the agent reads the log while
    // it is written, and a sweep may delete it. Write access besides append
    // access only to cut back a write that failed part way; each write still
    // goes to the end of the file. A read-only file refuses both, whoever asks.
    Handle file(CreateFileW(extendedPath(path).c_str(),
                            FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES, kShareAll,
                            nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE) throw lastFailure();
    if (escaped(path, file.get())) throw failureOf(kLinkRefused);
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info)) throw lastFailure();
    // Only where the system let it open: Wine run by root.
    if ((info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0)
        throw failureOf(ERROR_ACCESS_DENIED);
    FILE_END_OF_FILE_INFO before;
    before.EndOfFile.QuadPart =
        static_cast<LONGLONG>(sizeOf(info.nFileSizeHigh, info.nFileSizeLow));
    std::size_t done = 0;
    while (done < bytes.size()) {
        const std::size_t rest = bytes.size() - done;
        const DWORD chunk = rest > 0x40000000u ? 0x40000000u : static_cast<DWORD>(rest);
        OVERLAPPED atEnd = {};
        atEnd.Offset = atEnd.OffsetHigh = 0xFFFFFFFFu;
        DWORD written = 0;
        const BOOL ok = WriteFile(file.get(), bytes.data() + done, chunk, &written, &atEnd);
        if (!ok || written == 0) {
            const DWORD error = ok ? static_cast<DWORD>(ERROR_WRITE_FAULT) : GetLastError();
            // Whole or not at all: a piece of a line would join the next line
            // written. A failed write may have put in part of its own bytes.
            SetFileInformationByHandle(file.get(), FileEndOfFileInfo, &before, sizeof before);
            throw failureOf(error);
        }
        done += written;
    }
    if (!file.close()) throw lastFailure();
}

void Win32System::deleteFile(const std::string& path) {
    if (ledAway(path, false)) throw failureOf(kLinkRefused);
    // Opened as itself when it is a link, so that the link goes and never
    // what it points to.
    Handle object(CreateFileW(extendedPath(path).c_str(),
                              DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll,
                              nullptr, OPEN_EXISTING,
                              FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (object.get() == INVALID_HANDLE_VALUE) throw lastFailure();
    // Wine opens what a Unix link points to, whatever it is asked.
    if (escaped(path, object.get())) throw failureOf(kLinkRefused);
    const Identity opened = identityOf(object.get());
    // A real folder is no file: DeleteFile refuses it the same way.
    if (opened.isFolder() && !opened.isLink()) throw failureOf(ERROR_ACCESS_DENIED);
    deleteOpened(object.get(), opened.attributes);
}

bool Win32System::makeSureDirectoryPathExists(const std::string& path) {
    return !ledAway(path, false) && MakeSureDirectoryPathExists(path.c_str()) != FALSE;
}

std::unique_ptr<Folder> Win32System::openFolder(const std::string& path) {
    if (ledAway(path, false)) throw failureOf(kLinkRefused);
    const std::wstring full = extendedPath(path);
    Handle folder(CreateFileW(
        full.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (folder.get() == INVALID_HANDLE_VALUE) {
        // A missing folder is a missing path, as listing "folder\*" reported it.
        const DWORD error = GetLastError();
        throw failureOf(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
    }
    const Identity opened = identityOf(folder.get());
    // The handle shows a Windows link. Wine opens through a Unix symbolic
    // link whatever it is asked, and shows it only by the path's attributes.
    const DWORD byPath = GetFileAttributesW(full.c_str());
    if (opened.isLink() ||
        (byPath != INVALID_FILE_ATTRIBUTES && (byPath & FILE_ATTRIBUTE_REPARSE_POINT) != 0)) {
        throw failureOf(kLinkRefused);
    }
    if (escaped(path, folder.get())) throw failureOf(kLinkRefused);
    if (!opened.isFolder()) throw failureOf(ERROR_DIRECTORY);
    return std::make_unique<Win32Folder>(std::move(folder), opened.volume);
}

}  // namespace quillet::os::win32
