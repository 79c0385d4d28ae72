#include <windows.h>
// after windows.h
#include <imagehlp.h>
#include <winternl.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <vector>

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

// A folder walk refuses a link; every supported system has a text for this code.
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
    DWORD tag = 0;  // the reparse tag, where the reparse attribute is set
    DWORD volume = 0;
    std::uint64_t fileId = 0;
    bool isLink() const { return isLinkTag(attributes, tag); }
    bool isFolder() const { return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0; }
};

Identity identityOf(HANDLE h) {
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(h, &info)) throw lastFailure();
    Identity identity;
    identity.attributes = info.dwFileAttributes;
    identity.volume = info.dwVolumeSerialNumber;
    identity.fileId = sizeOf(info.nFileIndexHigh, info.nFileIndexLow);
    FILE_ATTRIBUTE_TAG_INFO tagInfo;
    if ((identity.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        GetFileInformationByHandleEx(h, FileAttributeTagInfo, &tagInfo, sizeof tagInfo)) {
        identity.tag = tagInfo.ReparseTag;
    }
    return identity;
}

// Whether a path ends at a link, by what its folder lists for it (the one
// place Wine shows a link to a folder). Nothing is opened, so nothing is recalled.
bool linkAtPath(std::string path) {
    // The listing of a name, never of what a final "\" would make of it.
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    const std::wstring full = extendedPath(path);
    const DWORD attributes = GetFileAttributesW(full.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0) {
        return false;
    }
    // A pattern would list other names; no such name is a link's own.
    if (hasWildcard(path)) return true;
    WIN32_FIND_DATAW data;
    const HANDLE find =
        FindFirstFileExW(full.c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return true;
    FindClose(find);
    return isLinkTag(data.dwFileAttributes, data.dwReserved0);
}

// A file id of 0 is unknown (a file system that keeps none, or a listing
// that gives none): the kind of object is all there is to go by then.
bool isListedObject(const Identity& opened, const FolderEntry& entry) {
    if (opened.volume != entry.volume) return false;
    if (entry.fileId == 0 || opened.fileId == 0) return opened.isFolder() == entry.isFolder;
    return opened.fileId == entry.fileId;
}

// The object under a listed name is another than the one listed.
constexpr DWORD kReplaced = ERROR_FILE_INVALID;

Failure ntFailure(NTSTATUS status) { return failureOf(RtlNtStatusToDosError(status)); }

bool setAttributes(HANDLE h, DWORD attributes) {
    FILE_BASIC_INFO basic = {};  // times of 0 stay as they are
    basic.FileAttributes = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    return SetFileInformationByHandle(h, FileBasicInfo, &basic, sizeof basic) != FALSE;
}

// Renames what the handle has open (DELETE access) to a name in the folder
// `root` has open or, with no root, to a full path.
bool renameOpened(HANDLE h, HANDLE root, const std::wstring& name) {
    std::vector<unsigned char> buffer(offsetof(FILE_RENAME_INFO, FileName) +
                                      (name.size() + 1) * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_RENAME_INFO*>(buffer.data());
    info->RootDirectory = root;
    info->FileNameLength = static_cast<DWORD>(name.size() * sizeof(wchar_t));
    std::memcpy(info->FileName, name.c_str(), (name.size() + 1) * sizeof(wchar_t));
    return SetFileInformationByHandle(h, FileRenameInfo, info, static_cast<DWORD>(buffer.size())) !=
           FALSE;
}

// The folder of a file that is being deleted, where it can be moved aside
// to and back: its handle, or its full path where there is no handle.
struct Aside {
    HANDLE folderHandle = nullptr;
    std::wstring folder;  // with its final "\"
    std::wstring name;    // the name it has in it

    // By the folder's handle, so that no path is resolved again; where that is
    // refused (Wine), by the path the handle's folder has now.
    bool moveTo(HANDLE h, const std::wstring& to) const {
        if (folderHandle && renameOpened(h, folderHandle, to)) return true;
        std::wstring full = folder;
        if (full.empty() && folderHandle) {
            full = finalPathOf(folderHandle);
            if (full.empty()) return false;
            full += L'\\';
        }
        return renameOpened(h, nullptr, full + to);
    }
};

// Deletes the object the handle has open (DELETE and FILE_WRITE_ATTRIBUTES
// access): no name is looked up again, so nothing can be swapped in between.
// A read-only object loses that attribute first, and gets it back when the
// deletion still fails. False for a folder that is not empty (a file in it
// still pending deletion, or a new one): it stays, and is no failure.
bool deleteOpened(HANDLE h, const Identity& opened, const Aside& aside) {
    const DWORD attributes = opened.attributes;
    const bool readOnly = (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    const DWORD writable = attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
    if (readOnly && !setAttributes(h, writable)) throw lastFailure();
    // POSIX semantics take the name away at once, even while another program
    // (the agent, a virus scanner, a backup) still has the file open with
    // delete sharing, so that the emptied folder can go too. Windows 10 1607
    // and later on NTFS; the flag that ignores the read-only attribute came
    // only with 1809, hence the attribute cleared first.
    struct {
        ULONG flags;
    } disposition = {0x1 | 0x2};  // DELETE | POSIX_SEMANTICS
    constexpr auto kDispositionInfoEx = static_cast<FILE_INFO_BY_HANDLE_CLASS>(21);
    if (SetFileInformationByHandle(h, kDispositionInfoEx, &disposition, sizeof disposition))
        return true;
    DWORD error = GetLastError();
    if (error != ERROR_DIR_NOT_EMPTY) {
        // The classic deletion (older systems; FAT, exFAT, ReFS, network
        // shares) leaves the name taken until every other handle is closed:
        // the file is moved aside first, to a hidden name of its own in its
        // folder, so that its name is free for the run at once.
        bool movedAside = false;
        if (!opened.isFolder()) {
            wchar_t unique[64];
            std::swprintf(unique, 64, L".quillet-deleted-%llx-%llx",
                          static_cast<unsigned long long>(opened.fileId),
                          static_cast<unsigned long long>(GetTickCount64()));
            setAttributes(h, writable | FILE_ATTRIBUTE_HIDDEN);
            movedAside = aside.moveTo(h, unique);
        }
        FILE_DISPOSITION_INFO classic = {TRUE};
        if (SetFileInformationByHandle(h, FileDispositionInfo, &classic, sizeof classic))
            return true;
        error = GetLastError();
        if (movedAside) aside.moveTo(h, aside.name);
    }
    setAttributes(h, attributes);
    if (error == ERROR_DIR_NOT_EMPTY) return false;
    throw failureOf(error);
}

class Win32Folder : public Folder {
public:
    Win32Folder(Handle handle, DWORD volume) : handle_(std::move(handle)), volume_(volume) {}

    bool next(FolderEntry& entry) override {
        for (;;) {
            if (!holding_ && !fetch()) return false;
            const unsigned char* at =
                reinterpret_cast<const unsigned char*>(buffer_.get()) + position_;
            // Both kinds of listing begin alike; the name and the id follow.
            const auto* info = reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
            const auto* withId = reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(at);
            holding_ = info->NextEntryOffset != 0;
            position_ += info->NextEntryOffset;
            const std::wstring name(withoutIds_ ? info->FileName : withId->FileName,
                                    info->FileNameLength / sizeof(wchar_t));
            if (name == L"." || name == L"..") continue;
            entry.name = narrow(name);
            entry.nativeName.assign(reinterpret_cast<const char*>(name.data()),
                                    name.size() * sizeof(wchar_t));
            entry.isFolder = (info->FileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
            // A listed reparse point's tag stands where its extended attributes' size would.
            entry.isLink = isLinkTag(info->FileAttributes, info->EaSize);
            entry.size = entry.isFolder || entry.isLink
                             ? 0
                             : static_cast<std::uint64_t>(info->EndOfFile.QuadPart);
            entry.created = localTimeOf(info->CreationTime);
            entry.modified = localTimeOf(info->LastWriteTime);
            entry.fileId = withoutIds_ ? 0 : static_cast<std::uint64_t>(withId->FileId.QuadPart);
            entry.volume = volume_;
            return true;
        }
    }

    std::unique_ptr<Folder> openSubfolder(const FolderEntry& entry) override {
        // A link is never entered, whatever an open of it would do.
        if (entry.isLink || !entry.isFolder) return nullptr;
        HANDLE raw = INVALID_HANDLE_VALUE;
        const NTSTATUS status =
            openEntry(entry, FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                      FILE_DIRECTORY_FILE, raw);
        if (isGone(status)) return nullptr;
        if (status < 0) throw ntFailure(status);
        Handle subfolder(raw);
        const Identity opened = identityOf(subfolder.get());
        if (opened.isLink() || !opened.isFolder()) return nullptr;
        if (!isListedObject(opened, entry)) throw failureOf(kReplaced);
        return std::make_unique<Win32Folder>(std::move(subfolder), opened.volume);
    }

    Removal remove(const FolderEntry& entry, const StillToGo& stillToGo) override {
        // A link is opened as itself, whatever it points to; a file or a
        // folder only as what it was listed as.
        const ULONG kind = entry.isLink     ? 0
                           : entry.isFolder ? FILE_DIRECTORY_FILE
                                            : FILE_NON_DIRECTORY_FILE;
        HANDLE raw = INVALID_HANDLE_VALUE;
        const NTSTATUS status = openEntry(
            entry, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES | SYNCHRONIZE, kind, raw);
        if (isGone(status)) return Removal::gone;
        if (status < 0) throw ntFailure(status);
        Handle object(raw);
        const Identity opened = identityOf(object.get());
        if (!isListedObject(opened, entry)) throw failureOf(kReplaced);
        // Where the system opened what a listed link points to instead of
        // the link: deleting that would delete the target.
        if (entry.isLink && !opened.isLink()) throw failureOf(kLinkRefused);
        // A listing shows the size and times a file had when its folder last
        // heard of them, which lags behind a file another program has open
        // for writing: the file itself decides.
        if (stillToGo && !(entry.isFolder && !entry.isLink) &&
            !stillToGo(asItIsNow(object.get(), entry))) {
            return Removal::kept;
        }
        const Aside aside{handle_.get(),
                          {},
                          std::wstring(reinterpret_cast<const wchar_t*>(entry.nativeName.data()),
                                       entry.nativeName.size() / 2)};
        return deleteOpened(object.get(), opened, aside) ? Removal::removed : Removal::kept;
    }

private:
    static FolderEntry asItIsNow(HANDLE h, const FolderEntry& listed) {
        FILE_BASIC_INFO basic;
        FILE_STANDARD_INFO standard;
        if (!GetFileInformationByHandleEx(h, FileBasicInfo, &basic, sizeof basic) ||
            !GetFileInformationByHandleEx(h, FileStandardInfo, &standard, sizeof standard)) {
            throw lastFailure();
        }
        FolderEntry now = listed;
        now.size = listed.isLink ? 0 : static_cast<std::uint64_t>(standard.EndOfFile.QuadPart);
        now.created = localTimeOf(basic.CreationTime);
        now.modified = localTimeOf(basic.LastWriteTime);
        return now;
    }

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
        if (GetFileInformationByHandleEx(
                handle_.get(), withoutIds_ ? FileFullDirectoryInfo : FileIdBothDirectoryInfo,
                buffer_.get(), static_cast<DWORD>(kListingBytes))) {
            started_ = holding_ = true;
            position_ = 0;
            return true;
        }
        const DWORD error = GetLastError();
        // Some network and third-party file systems list no file ids: their
        // entries' identity is then what a handle tells when one is opened.
        if (!started_ && !withoutIds_ &&
            (error == ERROR_INVALID_PARAMETER || error == ERROR_INVALID_LEVEL ||
             error == ERROR_NOT_SUPPORTED || error == ERROR_INVALID_FUNCTION)) {
            withoutIds_ = true;
            return fetch();
        }
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
    bool withoutIds_ = false;  // listed by FileFullDirectoryInfo
};

}  // namespace

bool isLinkTag(std::uint32_t attributes, std::uint32_t tag) {
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
           (tag == 0 || IsReparseTagNameSurrogate(tag));
}

PathStatus Win32System::status(const std::string& path) {
    PathStatus status;
    const std::wstring full = extendedPath(path);
    // The attribute calls look at a link itself, never at its target.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(full.c_str(), GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        status.exists = error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
        return status;
    }
    const DWORD attributes = data.dwFileAttributes;
    status.exists = true;
    status.isFolder = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    status.isFile = !status.isFolder;
    status.hiddenOrSystem = (attributes & kHiddenOrSystem) != 0;
    status.size = status.isFile ? sizeOf(data.nFileSizeHigh, data.nFileSizeLow) : 0;
    status.isLink = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && linkAtPath(path);
    // The spelling its folder lists it under. FindFirstFile would take
    // wildcards as a pattern and answer for another file.
    WIN32_FIND_DATAW found;
    const HANDLE find = status.isFile && !hasWildcard(path)
                            ? FindFirstFileExW(full.c_str(), FindExInfoBasic, &found,
                                               FindExSearchNameMatch, nullptr, 0)
                            : INVALID_HANDLE_VALUE;
    if (find != INVALID_HANDLE_VALUE) {
        FindClose(find);
        status.storedName = narrow(found.cFileName, std::wcslen(found.cFileName));
    }
    return status;
}

bool Win32System::ledAway(const std::string& path, bool withLast) {
    return confinement_.ledAway(path, withLast, linkAtPath);
}

bool Win32System::escaped(const std::string& path, void* handle) {
    if (!confinement_.covers(path) || confinement_.isAdministrators(path)) return false;
    // The agent's folder that holds the path, where its links lead: known
    // once it exists (a report folder may be made during the run).
    const std::string anchor = confinement_.anchorOf(path);
    std::wstring& anchorFinal = finals_[anchor];
    if (anchorFinal.empty()) {
        const Handle folder(CreateFileW(extendedPath(anchor).c_str(), FILE_READ_ATTRIBUTES,
                                        kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (folder.get() != INVALID_HANDLE_VALUE) anchorFinal = finalPathOf(folder.get());
    }
    const std::wstring opened = finalPathOf(handle);
    // Where the system cannot tell, the look at the path before the call stands.
    return !anchorFinal.empty() && !opened.empty() && !within(opened, anchorFinal);
}

void Win32System::appendToFile(const std::string& path, const std::string& bytes) {
    if (ledAway(path, true)) throw failureOf(kLinkRefused);
    // Shared for reading, writing and deletion: the agent reads the log while
    // it is written, and a sweep may delete it. Write access besides append
    // access only to cut back a write that failed part way; each write still
    // goes to the end of the file. A read-only file refuses both, whoever asks.
    // A file this call makes is opened with delete access too (nobody else
    // holds it yet), so that it can go again if it was made somewhere else.
    const std::wstring full = extendedPath(path);
    const DWORD access = FILE_APPEND_DATA | FILE_WRITE_DATA | FILE_READ_ATTRIBUTES;
    bool created = false;
    Handle file;
    for (int attempt = 0; attempt < 2 && file.get() == INVALID_HANDLE_VALUE; ++attempt) {
        file = Handle(CreateFileW(full.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        if (file.get() != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_NOT_FOUND) break;
        file = Handle(CreateFileW(full.c_str(), access | DELETE, kShareAll, nullptr, CREATE_NEW,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
        created = file.get() != INVALID_HANDLE_VALUE;
        if (!created && GetLastError() != ERROR_FILE_EXISTS) break;  // else made meanwhile
    }
    if (file.get() == INVALID_HANDLE_VALUE) throw lastFailure();
    if (escaped(path, file.get())) {
        // A link swapped in after the look: what this call made out there goes again.
        FILE_DISPOSITION_INFO gone = {TRUE};
        if (created)
            SetFileInformationByHandle(file.get(), FileDispositionInfo, &gone, sizeof gone);
        throw failureOf(kLinkRefused);
    }
    BY_HANDLE_FILE_INFORMATION info;
    if (!GetFileInformationByHandle(file.get(), &info)) throw lastFailure();
    // A second name of a file below the install folder (a hard link put in
    // the place of the log or a report) would have the run write, with its
    // rights, into whatever file it shares with.
    if (info.nNumberOfLinks > 1 && confinement_.covers(path)) throw failureOf(kLinkRefused);
    // Only where the system let it open (Wine run by root).
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
    if (escaped(path, object.get())) throw failureOf(kLinkRefused);
    const Identity opened = identityOf(object.get());
    // A real folder is no file: DeleteFile refuses it the same way.
    if (opened.isFolder() && !opened.isLink()) throw failureOf(ERROR_ACCESS_DENIED);
    const std::wstring full = extendedPath(path);
    const std::size_t name = full.rfind(L'\\') + 1;
    deleteOpened(object.get(), opened, {nullptr, full.substr(0, name), full.substr(name)});
}

void Win32System::makeSureDirectoryPathExists(const std::string& path) {
    if (!ledAway(path, false)) MakeSureDirectoryPathExists(path.c_str());
}

std::unique_ptr<Folder> Win32System::openFolder(const std::string& path) {
    if (ledAway(path, true)) throw failureOf(kLinkRefused);
    const std::wstring full = extendedPath(path);
    const auto open = [&](DWORD flags) {
        Handle folder(CreateFileW(
            full.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE, kShareAll,
            nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | flags, nullptr));
        if (folder.get() == INVALID_HANDLE_VALUE) {
            // A missing folder is a missing path, as listing "folder\*" reported it.
            const DWORD error = GetLastError();
            throw failureOf(error == ERROR_FILE_NOT_FOUND ? ERROR_PATH_NOT_FOUND : error);
        }
        return folder;
    };
    // Opened as itself first, so that a folder kept in the cloud or
    // deduplicated is listed as it is on this disk, nothing recalled.
    Handle folder = open(FILE_FLAG_OPEN_REPARSE_POINT);
    Identity opened = identityOf(folder.get());
    // A link shows on the handle, or (Wine) only in its folder's listing.
    if (opened.isLink() || linkAtPath(path)) {
        if (!confinement_.isAdministrators(path)) throw failureOf(kLinkRefused);
        folder = open(0);
        opened = identityOf(folder.get());
    }
    if (escaped(path, folder.get())) throw failureOf(kLinkRefused);
    if (!opened.isFolder()) throw failureOf(ERROR_DIRECTORY);
    return std::make_unique<Win32Folder>(std::move(folder), opened.volume);
}

}  // namespace quillet::os::win32
