// Checks the Windows implementation of os::System against a real Win32 (Wine
// in the test runs, or Windows itself) on fixtures of its own: registry keys
// in the 32-bit view, files in the temporary folder. The service listing is
// checked by the service scenarios, through quillet.exe and real services.
// Exits 0 when every check passed, 1 otherwise.
// Run it in a time zone with daylight saving time (TZ=Europe/Berlin under
// Wine) so that the local-time checks of file dates count; --many-subkeys
// also lists a key of 33,000 subkeys (some 15 s under Wine). It is its own
// child for the process checks: --exit N, --sleep MS, and with
// QUILLET_CHECK_ECHO=FILE it writes the command text it received to FILE.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "os/make_system.h"
#include "os/win32/command_line.h"

namespace {

using namespace std::string_literals;
using quillet::Failure;
using quillet::os::Folder;
using quillet::os::FolderEntry;
using quillet::os::kWaitInfinite;
using quillet::os::kWaitObject0;
using quillet::os::LocalTime;
using quillet::os::System;

int g_checks = 0, g_failures = 0, g_skips = 0;

void check(bool ok, const std::string& what, const std::string& detail = "") {
    ++g_checks;
    if (!ok) ++g_failures;
    std::printf("%s %s%s%s\n", ok ? "ok  " : "FAIL", what.c_str(), detail.empty() ? "" : ": ",
                detail.c_str());
    std::fflush(stdout);
}

void skip(const std::string& what, const std::string& why) {
    ++g_skips;
    std::printf("skip %s: %s\n", what.c_str(), why.c_str());
}

// Several checks at once: each a result and what it shows.
void checkAll(std::initializer_list<std::pair<bool, const char*>> facts) {
    for (const auto& [ok, what] : facts) check(ok, what);
}

std::string shown(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "\\x%02X", c);
        out += c >= 32 && c < 127 && c != '"' && c != '\\' ? std::string(1, c) : hex;
    }
    return out + "\"";
}

// Runs `call`, expecting a Failure with the given number and some description.
void checkFailure(const std::string& what, long expectedNumber, const std::function<void()>& call) {
    try {
        call();
        check(false, what, "no Failure thrown");
    } catch (const Failure& f) {
        check(f.number == expectedNumber && !f.description.empty(), what,
              "Failure " + std::to_string(f.number) + " " + shown(f.description));
    }
}

std::string timeText(const LocalTime& t) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    return text;
}

std::string selfPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    return path;
}

std::string folderOf(const std::string& path) { return path.substr(0, path.rfind('\\') + 1); }

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// ---------------------------------------------------------------- command text

void checkCommandText(System& os, const std::string& scratch) {
    const char* const cases[][2] = {
        {"quillet.exe", ""},
        {"quillet.exe ", ""},
        {"quillet.exe AGTHLTHCHK", "AGTHLTHCHK"},
        {"quillet.exe  AGTHLTHCHK", " AGTHLTHCHK"},
        {"quillet.exe\tLOG,DATA", "LOG,DATA"},
        {"quillet.exe LOG, DATA ", "LOG, DATA "},
        {"\"C:\\Program Files\\KORBOD\\quillet.exe\" SRV", "SRV"},
        {"\"C:\\Program Files\\KORBOD\\quillet.exe\"", ""},
        {"\"C:\\Program Files\\KORBOD\\quillet.exe\"  x  ", " x  "},
        {"C:\\Agents\\\"KORBOD x\"\\quillet.exe TYPE", "TYPE"},
        {"\"C:\\unterminated quote", ""},
        {"  LOG", " LOG"},
        {"", ""},
    };
    for (const auto& c : cases) {
        const std::string got = quillet::os::win32::commandTextFrom(c[0]);
        check(got == c[1], "commandTextFrom(" + shown(c[0]) + ")", shown(got));
    }
    check(quillet::os::win32::commandTextFrom(nullptr).empty(), "commandTextFrom(null)");

    // The same rule on a command line as the system hands it to a started program.
    const std::string out = scratch + "echo.txt", self = "\"" + selfPath() + "\"";
    SetEnvironmentVariableA("QUILLET_CHECK_ECHO", out.c_str());
    const std::pair<const char*, const char*> lives[] = {
        {"  AGTHLTHCHK", " AGTHLTHCHK"}, {" LOG,DATA", "LOG,DATA"}, {"", ""}};
    for (const auto& [args, expected] : lives) {
        DeleteFileA(out.c_str());
        try {
            os.startCommandLine(self + args, SW_HIDE)->wait(kWaitInfinite);
            check(readFile(out) == expected, "command text received by " + shown(self + args),
                  shown(readFile(out)));
        } catch (const Failure& f) {
            check(false, "start " + shown(self + args), f.description);
        }
    }
    SetEnvironmentVariableA("QUILLET_CHECK_ECHO", nullptr);
}

// ---------------------------------------------------------------- time

void checkTime(System& os) {
    const LocalTime t = os.now();
    SYSTEMTIME st;
    GetLocalTime(&st);
    check(t.year == st.wYear && t.month == st.wMonth && t.day == st.wDay && t.hour == st.wHour,
          "now() is the local date and hour", timeText(t));
    const ULONGLONG before = GetTickCount64();
    os.sleep(300);
    const ULONGLONG slept = GetTickCount64() - before;
    check(slept >= 280 && slept < 3000, "sleep(300) pauses about 300 ms",
          std::to_string(slept) + " ms");
    const std::string separator = os.timeSeparator();
    check(!separator.empty() && separator.find('\0') == std::string::npos,
          "timeSeparator() is the locale's", shown(separator));
}

// ---------------------------------------------------------------- registry

const std::string kCheckKey = "Software\\QuilletCheck";

HKEY createKey(HKEY parent, const std::string& path, REGSAM view) {
    HKEY key = nullptr;
    return RegCreateKeyExA(parent, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr,
                           &key, nullptr) == ERROR_SUCCESS
               ? key
               : nullptr;
}

void deleteCheckKeys() {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        HKEY software = nullptr;
        if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | view, &software) ==
            ERROR_SUCCESS) {
            RegDeleteTreeA(software, "QuilletCheck");
            RegCloseKey(software);
        }
    }
}

void setValue(HKEY key, const char* name, DWORD type, const std::string& bytes) {
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
}

void checkRegistry(System& os, bool manySubkeys) {
    deleteCheckKeys();
    HKEY key = createKey(HKEY_LOCAL_MACHINE, kCheckKey, KEY_WOW64_32KEY);
    if (key == nullptr) {
        check(false, "create the registry fixture (needs administrator rights)");
        return;
    }
    struct Case {
        const char* name;  // as stored
        DWORD type;
        std::string stored;
        const char* askedAs;   // the name the query uses
        std::string expected;  // bytes the query returns
    };
    const Case cases[] = {
        {"Text", REG_SZ, " spaced \0"s, "TEXT", " spaced \0"s},
        {"Empty", REG_SZ, "\0"s, "empty", "\0"s},
        {"Expand", REG_EXPAND_SZ, "%SystemRoot%\\x\0"s, "Expand", "%SystemRoot%\\x\0"s},
        {"Bin", REG_BINARY, "\x2C\x01"s, "Bin", "\x2C\x01"s},
        {"Dword", REG_DWORD, "\x31\0\0\0"s, "Dword", "\x31\0\0\0"s},
        {"Full", REG_DWORD, "\x01\x01\x01\x01"s, "Full", "\x01\x01\x01\x01"s},
        {"Multi", REG_MULTI_SZ, "x\0y\0\0"s, "Multi", "x\0y\0\0"s},
        // The ANSI query terminates a string stored without its NUL.
        {"NoNul", REG_SZ, "abc"s, "NoNul", "abc\0"s},
        {"Nothing", REG_BINARY, ""s, "Nothing", ""s},
    };
    for (const Case& c : cases) setValue(key, c.name, c.type, c.stored);
    for (const char* name : {"B2", "a1", "C3"}) RegCloseKey(createKey(key, name, KEY_WOW64_32KEY));
    RegCloseKey(key);
    // Only in the 64-bit view: the program must never see it.
    if (HKEY key64 = createKey(HKEY_LOCAL_MACHINE, kCheckKey, KEY_WOW64_64KEY)) {
        setValue(key64, "Only64", REG_SZ, "64\0"s);
        RegCloseKey(key64);
    }

    for (const Case& c : cases) {
        for (const std::string& path : {kCheckKey, kCheckKey + "\\"}) {
            const auto value = os.regQueryValue(path, c.askedAs);
            const std::string got =
                value ? std::string(value->data.begin(), value->data.end()) : "";
            check(value && value->type == c.type && got == c.expected,
                  "regQueryValue(" + shown(path) + ", " + c.askedAs + ")",
                  value ? "type " + std::to_string(value->type) + " " + shown(got) : "nullopt");
        }
    }
    const auto subkeys = os.regEnumSubkeys(kCheckKey + "\\");
    std::string joined;
    for (const auto& name : subkeys.value_or(std::vector<std::string>{}))
        joined += (joined.empty() ? "" : ",") + name;
    check(joined == "a1,B2,C3", "regEnumSubkeys lists the subkeys in the registry's order",
          shown(joined));
    const auto leaf = os.regEnumSubkeys(kCheckKey + "\\B2");
    checkAll({
        {!os.regQueryValue(kCheckKey, "Missing"), "regQueryValue of a missing value is nullopt"},
        {!os.regQueryValue("Software\\QuilletCheckMissing\\", "Text"),
         "regQueryValue under a missing key is nullopt"},
        {!os.regQueryValue(kCheckKey, "Only64"), "regQueryValue reads the 32-bit view only"},
        {leaf && leaf->empty(), "regEnumSubkeys of a key without subkeys is empty"},
        {!os.regEnumSubkeys("Software\\QuilletCheckMissing"),
         "regEnumSubkeys of a missing key is nullopt"},
    });

    if (manySubkeys) {
        // Past what a 16-bit index could count.
        HKEY many = createKey(HKEY_LOCAL_MACHINE, kCheckKey + "\\Many", KEY_WOW64_32KEY);
        char name[16];
        for (int i = 0; i < 33000 && many != nullptr; ++i) {
            std::snprintf(name, sizeof name, "K%05d", i);
            if (HKEY k = createKey(many, name, KEY_WOW64_32KEY)) RegCloseKey(k);
        }
        if (many != nullptr) RegCloseKey(many);
        const auto all = os.regEnumSubkeys(kCheckKey + "\\Many");
        check(all && all->size() == 33000 && all->back() == "K32999",
              "regEnumSubkeys lists more than 32767 subkeys",
              all ? std::to_string(all->size()) : "nullopt");
    } else {
        skip("regEnumSubkeys past 32767 subkeys", "run with --many-subkeys");
    }
    deleteCheckKeys();
}

// ---------------------------------------------------------------- files

// Fixtures are made with the wide calls and "\\?\" paths: the ANSI calls can
// make neither a name outside the ANSI code page nor a path past MAX_PATH.
std::wstring wide(const std::string& ansi) {
    std::wstring out(ansi.size(), L'\0');
    const int n = MultiByteToWideChar(CP_ACP, 0, ansi.data(), static_cast<int>(ansi.size()),
                                      out.data(), static_cast<int>(out.size()));
    out.resize(n > 0 ? static_cast<std::size_t>(n) : 0);
    return out;
}

std::wstring longForm(const std::string& path) { return L"\\\\?\\" + wide(path); }

bool existsW(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void writeFileW(const std::wstring& path, const std::string& bytes, DWORD attributes = 0) {
    HANDLE h = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    if (h != INVALID_HANDLE_VALUE) {
        WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(h);
    }
    if (attributes != 0) SetFileAttributesW(path.c_str(), attributes);
}

// Deletes a folder with everything in it, any name and any length; a link
// is removed as a link.
void removeTree(const std::wstring& folder) {
    WIN32_FIND_DATAW data;
    const HANDLE find = FindFirstFileW((folder + L"*").c_str(), &data);
    for (BOOL more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &data)) {
        const std::wstring name = data.cFileName, path = folder + name;
        if (name == L"." || name == L"..") continue;
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
        if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            DeleteFileW(path.c_str());
        else if (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)
            RemoveDirectoryW(path.c_str());
        else
            removeTree(path + L"\\");
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    RemoveDirectoryW(folder.c_str());
}

// Sets a file's modification time to the given local time.
bool setModified(const std::string& path, const SYSTEMTIME& local) {
    SYSTEMTIME utc;
    FILETIME ft;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) || !SystemTimeToFileTime(&utc, &ft))
        return false;
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
    return ok != FALSE;
}

std::vector<FolderEntry> listAll(Folder& folder) {
    std::vector<FolderEntry> entries;
    for (FolderEntry entry; folder.next(entry);) entries.push_back(entry);
    return entries;
}

std::vector<FolderEntry> listAll(System& os, const std::string& path) {
    return listAll(*os.openFolder(path));
}

// By the name as the file system spells it: ANSI names may be "?" only.
const FolderEntry* findEntry(const std::vector<FolderEntry>& entries, const std::wstring& name) {
    const std::string native(reinterpret_cast<const char*>(name.data()),
                             name.size() * sizeof(wchar_t));
    for (const auto& e : entries)
        if (e.nativeName == native) return &e;
    return nullptr;
}

// The path calls: existence, size, appending, deletion, folder creation.
void checkFiles(System& os, const std::string& base) {
    const auto at = [&](const char* name) { return base + name; };
    // Folder creation along a path: everything up to the last backslash.
    checkAll({
        {os.makeSureDirectoryPathExists(at("made\\deep\\er\\")) &&
             os.folderExists(at("made\\deep\\er")),
         "makeSureDirectoryPathExists creates every folder of the path"},
        {os.makeSureDirectoryPathExists(at("made\\other\\file.txt")) &&
             os.folderExists(at("made\\other")) && !os.folderExists(at("made\\other\\file.txt")),
         "makeSureDirectoryPathExists stops at the last backslash"},
    });
    os.appendToFile(at("Log File.txt"), "first\r\n");
    os.appendToFile(at("Log File.txt"), "second\r\n");
    check(readFile(at("Log File.txt")) == "first\r\nsecond\r\n" &&
              os.fileSize(at("Log File.txt")) == 15,
          "appendToFile creates, then appends; fileSize", shown(readFile(at("Log File.txt"))));
    checkFailure("appendToFile into a missing folder throws path-not-found", ERROR_PATH_NOT_FOUND,
                 [&] { os.appendToFile(at("nofolder\\x.txt"), "x"); });
    checkFailure("fileSize of a missing file throws file-not-found", ERROR_FILE_NOT_FOUND,
                 [&] { os.fileSize(at("missing.txt")); });
    // Never into a read-only file, whoever asks (Wine running as root too).
    writeFile(at("readonly.log"), "abc");
    SetFileAttributesA(at("readonly.log").c_str(), FILE_ATTRIBUTE_READONLY);
    checkFailure("appendToFile into a read-only file throws access-denied", ERROR_ACCESS_DENIED,
                 [&] { os.appendToFile(at("readonly.log"), "x"); });
    check(readFile(at("readonly.log")) == "abc", "  ... and leaves it as it was");

    // Existence: plain files only, hidden and system ones do not count.
    for (const char* name : {"plain.txt", "hidden.txt", "system.txt", ".dotfile", "Report.TXT"})
        writeFile(at(name), "x");
    const auto stored = os.storedFileName(at("report.txt"));
    checkAll({
        {os.fileExists(at("plain.txt")) && os.fileExists(at("PLAIN.TXT")),
         "fileExists of a plain file, without regard to case"},
        {!os.fileExists(at("missing.txt")) && !os.fileExists(at("made")),
         "fileExists of a missing file or a folder is false"},
        {os.folderExists(at("made")) && os.folderExists(at("made\\")),
         "folderExists with and without the final backslash"},
        {!os.folderExists(at("plain.txt")) && !os.folderExists(at("nofolder")),
         "folderExists of a file or of nothing is false"},
        {os.entryExists(at("plain.txt")) && os.entryExists(at("made")),
         "entryExists of a file and of a folder"},
        {!os.entryExists(at("missing.txt")) && !os.entryExists(at("nofolder\\x.txt")),
         "entryExists where nothing is, or not even the folder"},
        {stored && *stored == "Report.TXT", "storedFileName gives the stored letter case"},
        {!os.storedFileName(at("missing.txt")) && !os.storedFileName(at("made")),
         "storedFileName of a missing file or a folder is nullopt"},
        {!os.storedFileName(at("*.txt")), "storedFileName takes no wildcard"},
    });
    const std::pair<const char*, DWORD> hidden[] = {{".dotfile", 0},
                                                    {"hidden.txt", FILE_ATTRIBUTE_HIDDEN},
                                                    {"system.txt", FILE_ATTRIBUTE_SYSTEM}};
    for (const auto& [name, attribute] : hidden) {
        // A dot file is hidden where the system marks it so by itself.
        if (attribute != 0) SetFileAttributesA(at(name).c_str(), attribute);
        if (GetFileAttributesA(at(name).c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM))
            check(
                !os.fileExists(at(name)) && !os.storedFileName(at(name)),
                "fileExists and storedFileName pass over the hidden or system file " + shown(name));
        else
            skip(name, "the file system keeps no hidden or system attribute for it here");
    }

    writeFile(at("readonly.txt"), "r");
    SetFileAttributesA(at("readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    os.deleteFile(at("readonly.txt"));
    check(!os.entryExists(at("readonly.txt")), "deleteFile removes a read-only file");
    checkFailure("deleteFile of a missing file throws file-not-found", ERROR_FILE_NOT_FOUND,
                 [&] { os.deleteFile(at("readonly.txt")); });
    checkFailure("deleteFile of a folder throws access-denied", ERROR_ACCESS_DENIED,
                 [&] { os.deleteFile(at("made\\other")); });
    check(os.folderExists(at("made\\other")), "  ... and leaves it");

    // Past MAX_PATH, through the same ANSI paths the program forms.
    std::string deep = base + "long\\";
    CreateDirectoryW(longForm(deep).c_str(), nullptr);
    for (char letter = 'a'; deep.size() < 300; ++letter) {
        deep += std::string(40, letter) + "\\";
        CreateDirectoryW(longForm(deep).c_str(), nullptr);
    }
    const std::string farFile = deep + "far.log";
    os.appendToFile(farFile, "12345");
    const auto farName = os.storedFileName(farFile);
    checkAll({
        {os.fileExists(farFile) && os.entryExists(farFile) && os.fileSize(farFile) == 5,
         "a file past MAX_PATH: appendToFile, fileExists, entryExists, fileSize"},
        {os.folderExists(deep) && farName && *farName == "far.log",
         "a folder past MAX_PATH: folderExists; storedFileName of its file"},
        {listAll(os, deep).size() == 1, "openFolder past MAX_PATH lists its file"},
    });
    os.deleteFile(farFile);
    check(!os.entryExists(farFile), "deleteFile past MAX_PATH");
}

// Makes `link` a link to the folder `target`. Wine cannot make a Windows link
// (CreateSymbolicLink reports success and makes nothing); there a Unix
// symbolic link, made by the Unix ln, stands in: that is what an adversary
// on a Wine machine would use.
enum class LinkKind { none, windowsLink, unixLink };

bool isLinkAt(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

// The Unix name of a Windows path under Wine; "" elsewhere.
std::string unixPath(const std::string& path) {
    using UnixName = char*(CDECL*)(LPCWSTR);
    const auto unixName = reinterpret_cast<UnixName>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_unix_file_name")));
    char* folder = unixName ? unixName(wide(folderOf(path)).c_str()) : nullptr;
    if (folder == nullptr) return "";
    const std::string result = folder + "/"s + path.substr(path.rfind('\\') + 1);
    HeapFree(GetProcessHeap(), 0, folder);
    return result;
}

// Runs a program of /bin under Wine, then waits until `done` holds: a Unix
// program's end cannot be waited for from here.
bool runUnix(const std::string& program, std::string commandLine,
             const std::function<bool()>& done) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(("Z:\\bin\\" + program).c_str(), commandLine.data(), nullptr, nullptr,
                        FALSE, 0, nullptr, nullptr, &startup, &process))
        return false;
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    for (int i = 0; i < 50 && !done(); ++i) Sleep(100);
    return done();
}

LinkKind makeFolderLink(const std::string& link, const std::string& target) {
    if (CreateSymbolicLinkA(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY) &&
        isLinkAt(link))
        return LinkKind::windowsLink;
    const std::string unixLink = unixPath(link), unixTarget = unixPath(target);
    if (unixLink.empty() || unixTarget.empty()) return LinkKind::none;
    return runUnix("ln", "ln -s \"" + unixTarget + "\" \"" + unixLink + "\"",
                   [&] { return isLinkAt(link); })
               ? LinkKind::unixLink
               : LinkKind::none;
}

// The folder walk: listing, names outside the ANSI code page, acting on what
// was listed and on nothing that took its place.
void checkWalker(System& os, const std::string& base) {
    const std::string root = base + "walk\\";
    const std::wstring w = longForm(root);
    const std::wstring cjkFolder = L"\u6570\u636e", cjkLog = L"\u65e5\u5fd7.log",
                       emojiLog = L"\U0001F600.log";
    CreateDirectoryW(w.c_str(), nullptr);
    for (const wchar_t* name : {cjkFolder.c_str(), L"empty", L"full", L"swapped", L"gone"})
        CreateDirectoryW((w + name).c_str(), nullptr);
    SetFileAttributesW((w + L"empty").c_str(), FILE_ATTRIBUTE_READONLY);
    writeFileW(w + cjkFolder + L"\\" + cjkLog, "12345");
    writeFileW(w + emojiLog, "x");
    check(existsW(w + cjkFolder + L"\\" + cjkLog) && existsW(w + emojiLog),
          "make the CJK and emoji fixtures (Wine can only in a UTF-8 locale)");
    writeFileW(w + L"full\\inner.txt", "i");
    writeFileW(w + L"readonly.txt", "r", FILE_ATTRIBUTE_READONLY);
    for (const wchar_t* name : {L"five.bin", L"swapped.txt", L"gone.txt", L"busy.txt"})
        writeFileW(w + name, "12345");
    // Half an hour from midnight: a daylight saving hour applied to the
    // wrong date moves the file to another day, which the sweeps count in.
    for (const char* name : {"winter.txt", "summer.txt"}) writeFile(root + name, "w");
    check(setModified(root + "winter.txt", {2020, 12, 0, 31, 23, 30, 10, 0}) &&
              setModified(root + "summer.txt", {2021, 7, 0, 1, 0, 30, 20, 0}),
          "set the fixture's modification times");

    auto folder = os.openFolder(root);
    const auto entries = listAll(*folder);
    const auto entry = [&](const std::wstring& name) {
        const FolderEntry* e = findEntry(entries, name);
        return e ? *e : FolderEntry{};
    };
    const FolderEntry five = entry(L"five.bin"), cjk = entry(cjkFolder), emoji = entry(emojiLog),
                      winter = entry(L"winter.txt"), summer = entry(L"summer.txt");
    std::string names;
    for (const auto& e : entries) names += e.name + " ";
    check(entries.size() == 13 && findEntry(entries, L"busy.txt"),
          "openFolder lists every entry but . and .. once", names);
    check(!five.isFolder && !five.isLink && five.size == 5 && five.fileId != 0,
          "a file's size and identity");
    check(cjk.isFolder && !cjk.isLink && cjk.size == 0, "a folder with a CJK name");
    if (GetACP() == 1252)
        check(cjk.name == "??" && emoji.name.size() >= 5 && emoji.name[0] == '?' &&
                  emoji.name.substr(emoji.name.size() - 4) == ".log",
              "names with no ANSI spelling carry the replacement character",
              shown(cjk.name) + " " + shown(emoji.name));
    else
        skip("ANSI names of CJK and emoji", "the ANSI code page is not 1252 here");
    const std::string today = timeText(os.now()).substr(0, 10);
    check(timeText(five.created).substr(0, 10) == today, "a new file's creation date is today's",
          timeText(five.created));
    check(timeText(winter.modified) == "2020-12-31 23:30:10" &&
              timeText(summer.modified) == "2021-07-01 00:30:20",
          "winter and summer modification times in the local time of their dates",
          timeText(winter.modified) + ", " + timeText(summer.modified));

    // What changes after the listing: a folder and a file renamed away and
    // replaced by new ones of the same name, another pair deleted, a file
    // held open without delete sharing.
    MoveFileW((w + L"swapped").c_str(), (w + L"swapped.away").c_str());
    CreateDirectoryW((w + L"swapped").c_str(), nullptr);
    MoveFileW((w + L"swapped.txt").c_str(), (w + L"swapped.txt.away").c_str());
    writeFileW(w + L"swapped.txt", "new");
    RemoveDirectoryW((w + L"gone").c_str());
    DeleteFileW((w + L"gone.txt").c_str());
    HANDLE busy = CreateFileW((w + L"busy.txt").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    checkFailure("remove of a file in use throws sharing-violation", ERROR_SHARING_VIOLATION,
                 [&] { folder->remove(entry(L"busy.txt")); });
    CloseHandle(busy);
    checkFailure("remove of a folder with content throws dir-not-empty", ERROR_DIR_NOT_EMPTY,
                 [&] { folder->remove(entry(L"full")); });

    auto inCjk = folder->openSubfolder(cjk);
    const auto cjkEntries = inCjk ? listAll(*inCjk) : std::vector<FolderEntry>{};
    const FolderEntry* log = findEntry(cjkEntries, cjkLog);
    checkAll({
        {log && log->size == 5 && inCjk->remove(*log) && !existsW(w + cjkFolder + L"\\" + cjkLog),
         "openSubfolder of a CJK folder; remove of the CJK file in it"},
        {folder->remove(emoji) && !existsW(w + emojiLog), "remove of an emoji file"},
        {folder->remove(entry(L"readonly.txt")) && !existsW(w + L"readonly.txt"),
         "remove of a read-only file"},
        {folder->remove(entry(L"empty")) && !existsW(w + L"empty"),
         "remove of an empty read-only folder"},
        {existsW(w + L"busy.txt") && existsW(w + L"full\\inner.txt"),
         "a refused remove leaves the file in use and the full folder"},
        {folder->remove(five) && !folder->remove(five), "remove of a removed entry is false"},
        {!folder->openSubfolder(entry(L"swapped")) && !folder->remove(entry(L"swapped")) &&
             !folder->remove(entry(L"swapped.txt")),
         "a replaced folder is not opened; neither it nor a replaced file is removed"},
        {existsW(w + L"swapped") && existsW(w + L"swapped.away") && existsW(w + L"swapped.txt") &&
             existsW(w + L"swapped.txt.away"),
         "  ... the new ones and the renamed ones stay"},
        {!folder->openSubfolder(entry(L"gone")) && !folder->remove(entry(L"gone")) &&
             !folder->remove(entry(L"gone.txt")),
         "a deleted folder is not opened; removing deleted entries is false"},
    });

    checkFailure("openFolder of a missing folder throws path-not-found", ERROR_PATH_NOT_FOUND,
                 [&] { os.openFolder(root + "nofolder\\"); });
    checkFailure("openFolder of a file throws directory-name-invalid", ERROR_DIRECTORY,
                 [&] { os.openFolder(root + "busy.txt"); });
    const std::size_t withBackslash = listAll(os, root).size();
    check(withBackslash > 0 && listAll(os, base + "walk").size() == withBackslash,
          "openFolder with and without the final backslash");

    // Removed while the listing goes on, past what one fetch of entries holds.
    const std::string many = base + "many\\";
    CreateDirectoryA(many.c_str(), nullptr);
    for (int i = 0; i < 700; ++i)
        writeFile(many + std::to_string(i) + std::string(60, 'n') + ".dat", "");
    auto manyFolder = os.openFolder(many);
    int listed = 0, removed = 0;
    for (FolderEntry e; manyFolder->next(e); ++listed) removed += manyFolder->remove(e) ? 1 : 0;
    check(listed == 700 && removed == 700 && listAll(os, many).empty(),
          "each of 700 entries listed once and removed as it is listed",
          std::to_string(listed) + " listed, " + std::to_string(removed) + " removed");
}

void checkLinks(System& os, const std::string& base) {
    const std::string target = base + "linktarget", links = base + "links\\";
    CreateDirectoryA(target.c_str(), nullptr);  // empty: a deletion through a link would take it
    CreateDirectoryA(links.c_str(), nullptr);
    const LinkKind kind = makeFolderLink(links + "dirlink", target);
    if (kind == LinkKind::none || makeFolderLink(links + "dirlink2", target) != kind) {
        skip("folder links", "this system makes neither a Windows nor a Unix link here");
        return;
    }
    auto folder = os.openFolder(links);
    const auto entries = listAll(*folder);
    const FolderEntry* link = findEntry(entries, L"dirlink");
    check(link && link->isLink && link->isFolder, "a folder link is listed as a link to a folder");
    if (!link) return;
    check(!folder->openSubfolder(*link), "openSubfolder never enters a link");
    checkFailure("openFolder refuses a link at its path", ERROR_CANT_ACCESS_FILE,
                 [&] { os.openFolder(links + "dirlink"); });
    if (kind == LinkKind::windowsLink) {
        check(folder->remove(*link) && !os.entryExists(links + "dirlink"),
              "remove deletes a link as a link");
        os.deleteFile(links + "dirlink2");
        check(!os.entryExists(links + "dirlink2"), "deleteFile deletes a link as a link");
    } else {
        // Wine opens through a Unix link whatever it is asked.
        checkFailure("remove refuses a Unix link that the system opens through",
                     ERROR_CANT_ACCESS_FILE, [&] { folder->remove(*link); });
        try {
            os.deleteFile(links + "dirlink2");
        } catch (const Failure&) {
        }
    }
    check(os.folderExists(target), "  ... and never what it points to");
    // Nothing here removes a Unix link without removing its target.
    if (kind == LinkKind::unixLink)
        runUnix("rm",
                "rm -f \"" + unixPath(links + "dirlink") + "\" \"" + unixPath(links + "dirlink2") +
                    "\"",
                [&] { return !isLinkAt(links + "dirlink") && !isLinkAt(links + "dirlink2"); });
}

// ---------------------------------------------------------------- INI
// The reading and writing rules are compared with the host engine's by the
// INI differential test; these are the calls' own sizes and file bytes.

void checkProfile(System& os, const std::string& base) {
    const std::string ini = base + "check.ini", long300(300, 'x');
    checkAll({
        {os.iniWriteString("Service", "Name", "KORBGuard", ini) && os.fileExists(ini),
         "iniWriteString creates the file"},
        {os.iniWriteString("Service", "Blank", "", ini) &&
             readFile(ini).find("\r\nBlank=\r\n") != std::string::npos,
         "an empty value is written as key="},
        {os.iniWriteString("CONFIGURATION", "Long", long300, ini),
         "iniWriteString of a long value"},
        {os.iniGetString("SERVICE", "name", "", 255, ini) == "KORBGuard",
         "iniGetString without regard to case"},
        {os.iniGetString("Service", "Blank", "dflt", 255, ini).empty(),
         "iniGetString of an empty value is not the default"},
        {os.iniGetString("Service", "Name", "", 5, ini) == "KORB",
         "iniGetString into a small buffer gives its size less one"},
        {os.iniGetString("Configuration", "Long", "", 255, ini) == long300.substr(0, 254),
         "iniGetString cuts a long value to the buffer"},
        {os.iniGetString("Configuration", "Long", "", 5000, ini) == long300,
         "iniGetString reads a long value whole"},
        {os.iniGetSectionNames(1000, ini) == "Service\0CONFIGURATION\0"s, "iniGetSectionNames"},
        {os.iniGetSectionNames(10, ini).size() == 8,
         "iniGetSectionNames into a small buffer gives its size less two"},
        {!os.iniWriteString("S", "K", "V", base + "nofolder\\x.ini"),
         "iniWriteString into a missing folder is refused"},
    });
}

// ---------------------------------------------------------------- processes

void checkProcesses(System& os) {
    // A start that fails ends these checks with the Failure shown.
    auto cmd = os.startCommandLine("cmd /c exit 3", SW_HIDE);
    const std::uint32_t waited = cmd->wait(kWaitInfinite), code = cmd->exitCode();
    check(waited == kWaitObject0 && code == 3,
          "startCommandLine finds cmd on the search path; wait; exit code",
          std::to_string(waited) + ", " + std::to_string(code));
    auto sleeper = os.startCommandLine("\"" + selfPath() + "\" --sleep 20000", SW_HIDE);
    const std::uint32_t first = sleeper->wait(300);
    sleeper->terminate(7);
    const std::uint32_t second = sleeper->wait(10000), killed = sleeper->exitCode();
    check(first == quillet::os::kWaitTimeout && second == kWaitObject0 && killed == 7,
          "wait times out with 258; terminate ends it with the given code",
          std::to_string(first) + ", " + std::to_string(second) + ", " + std::to_string(killed));
    checkFailure("startCommandLine of a missing program throws file-not-found",
                 ERROR_FILE_NOT_FOUND,
                 [&] { os.startCommandLine("quillet_no_such_program /x", SW_HIDE); });
    checkFailure("startCommandLine of a shell built-in throws file-not-found", ERROR_FILE_NOT_FOUND,
                 [&] { os.startCommandLine("echo hello", SW_HIDE); });

    auto opened = os.shellOpen(selfPath(), "--exit 4");
    const std::uint32_t openedWait = opened ? opened->wait(10000) : 1;
    const std::uint32_t openedCode = opened ? opened->exitCode() : 0;
    check(openedWait == kWaitObject0 && openedCode == 4,
          "shellOpen starts a program with its parameters",
          std::to_string(openedWait) + ", " + std::to_string(openedCode));
    check(os.shellOpen(folderOf(selfPath()) + "no_such_program.exe", "Local") == nullptr,
          "shellOpen of a missing program is nullptr");

    const std::string text2 = os.systemErrorText(2), text5 = os.systemErrorText(5);
    check(!text2.empty() && !text5.empty() && text2.back() != '\n' && text2.back() != '\r' &&
              text5.back() != '\n',
          "systemErrorText(2) and (5) without their line break", shown(text2) + " " + shown(text5));
    // Windows has a text for the timed-out wait; Wine 8's message table does not.
    std::printf("note systemErrorText(258) is %s\n", shown(os.systemErrorText(258)).c_str());
    SetLastError(ERROR_FILE_NOT_FOUND);
    check(os.systemErrorText(0) == text2, "systemErrorText(0) is the last error's text");
    check(os.systemErrorText(0x2000FFFF).empty(), "systemErrorText of a code without text is \"\"",
          shown(os.systemErrorText(0x2000FFFF)));
}

}  // namespace

int main(int argc, char** argv) {
    char echo[MAX_PATH] = {};
    if (GetEnvironmentVariableA("QUILLET_CHECK_ECHO", echo, MAX_PATH) > 0) {
        std::ofstream(echo, std::ios::binary)
            << quillet::os::win32::commandTextFrom(GetCommandLineA());
        return 0;
    }
    bool manySubkeys = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--exit" && i + 1 < argc) return std::atoi(argv[i + 1]);
        if (arg == "--sleep" && i + 1 < argc) {
            Sleep(static_cast<DWORD>(std::atoi(argv[i + 1])));
            return 0;
        }
        manySubkeys = manySubkeys || arg == "--many-subkeys";
    }

    auto os = quillet::os::makeSystem("LOG,DATA");
    check(os->commandText() == "LOG,DATA", "makeSystem keeps the command text");
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string scratch =
        temp + "quillet_check_"s + std::to_string(GetCurrentProcessId()) + "\\";
    removeTree(longForm(scratch));  // Wine gives the same process ids run after run
    CreateDirectoryA(scratch.c_str(), nullptr);

    const std::pair<const char*, std::function<void()>> parts[] = {
        {"command text", [&] { checkCommandText(*os, scratch); }},
        {"time", [&] { checkTime(*os); }},
        {"registry", [&] { checkRegistry(*os, manySubkeys); }},
        {"files", [&] { checkFiles(*os, scratch); }},
        {"folder walk", [&] { checkWalker(*os, scratch); }},
        {"links", [&] { checkLinks(*os, scratch); }},
        {"INI", [&] { checkProfile(*os, scratch); }},
        {"processes", [&] { checkProcesses(*os); }},
    };
    for (const auto& [title, part] : parts) {
        std::printf("-- %s\n", title);
        try {
            part();
        } catch (const Failure& f) {
            check(false, title + " checks ended by an unexpected Failure"s,
                  std::to_string(f.number) + " " + f.description);
        }
    }
    removeTree(longForm(scratch));  // what a failed check left behind stays
    std::printf("%d checks, %d failed, %d skipped\n", g_checks, g_failures, g_skips);
    return g_failures == 0 ? 0 : 1;
}
