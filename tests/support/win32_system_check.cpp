// Checks the Windows implementation of os::System against a real Win32: Wine
// in the test runs, or Windows itself. It builds its own fixtures (registry
// keys in the 32-bit view, files in the temporary folder, services from
// test_service.exe beside it), checks each call, removes the fixtures and
// exits 0 when every check passed, 1 otherwise.
//
// Run it with a time zone that has daylight saving time (TZ=Europe/Berlin
// under Wine), or the local-time checks of file dates prove less; with
// --many-subkeys it also lists a key of 33,000 subkeys (some 15 s under Wine).
//
// The same program is its own child process for the process checks:
//   --exit N      end at once with exit code N
//   --sleep MS    sleep, then end with 0
// and, with QUILLET_CHECK_ECHO=FILE in its environment, it writes the command
// text it received to FILE.
#include <windows.h>
// after windows.h
#include <winsvc.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "os/make_system.h"
#include "os/win32/command_line.h"

namespace {

using quillet::Failure;
using quillet::os::FolderEntry;
using quillet::os::LocalTime;
using quillet::os::Process;
using quillet::os::RegValue;
using quillet::os::System;

int g_checks = 0;
int g_failures = 0;
int g_skips = 0;

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

std::string quoted(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c >= 32 && c < 127 && c != '"' && c != '\\') {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out + "\"";
}

std::string bytesText(const std::vector<unsigned char>& data) {
    return quoted(std::string(data.begin(), data.end()));
}

// Runs what, expecting a Failure with the given number.
void checkFailure(const std::string& what, long expectedNumber, const std::function<void()>& call) {
    try {
        call();
        check(false, what, "no Failure thrown");
    } catch (const Failure& f) {
        check(f.number == expectedNumber && !f.description.empty(), what,
              "Failure " + std::to_string(f.number) + " " + quoted(f.description));
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

std::string folderOf(const std::string& path) {
    return path.substr(0, path.find_last_of('\\') + 1);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// ---------------------------------------------------------------- command text

void checkCommandText(System& os, const std::string& scratch) {
    struct Case {
        const char* cmdLine;
        const char* expected;
    };
    const Case cases[] = {
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
    for (const Case& c : cases) {
        const std::string got = quillet::os::win32::commandTextFrom(c.cmdLine);
        check(got == c.expected, "commandTextFrom(" + quoted(c.cmdLine) + ")", quoted(got));
    }
    check(quillet::os::win32::commandTextFrom(nullptr).empty(), "commandTextFrom(null)");

    // The same rule on a command line as the system hands it to a started program.
    const std::string out = scratch + "echo.txt";
    SetEnvironmentVariableA("QUILLET_CHECK_ECHO", out.c_str());
    struct Live {
        std::string cmdLine;
        std::string expected;
    };
    const Live lives[] = {
        {"\"" + selfPath() + "\"  AGTHLTHCHK", " AGTHLTHCHK"},
        {"\"" + selfPath() + "\" LOG,DATA", "LOG,DATA"},
        {"\"" + selfPath() + "\"", ""},
    };
    for (const Live& live : lives) {
        DeleteFileA(out.c_str());
        try {
            auto child = os.startCommandLine(live.cmdLine, SW_HIDE);
            child->wait(quillet::os::kWaitInfinite);
            const std::string got = readFile(out);
            check(got == live.expected, "command text received by " + quoted(live.cmdLine),
                  quoted(got));
        } catch (const Failure& f) {
            check(false, "start " + quoted(live.cmdLine), f.description);
        }
    }
    SetEnvironmentVariableA("QUILLET_CHECK_ECHO", nullptr);
    DeleteFileA(out.c_str());
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
          "timeSeparator() is the locale's", quoted(separator));
}

// ---------------------------------------------------------------- registry

const char* const kCheckKey = "Software\\QuilletCheck";

HKEY createKey(const std::string& path, REGSAM view) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view,
                        nullptr, &key, nullptr) != ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

void setValue(HKEY key, const char* name, DWORD type, const std::string& bytes) {
    RegSetValueExA(key, name, 0, type, reinterpret_cast<const BYTE*>(bytes.data()),
                   static_cast<DWORD>(bytes.size()));
}

void deleteCheckKey(REGSAM view) {
    HKEY software = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Software", 0, KEY_ALL_ACCESS | view, &software) ==
        ERROR_SUCCESS) {
        RegDeleteTreeA(software, "QuilletCheck");
        RegCloseKey(software);
    }
}

void checkRegistry(System& os, bool manySubkeys) {
    deleteCheckKey(KEY_WOW64_32KEY);
    deleteCheckKey(KEY_WOW64_64KEY);
    HKEY key = createKey(kCheckKey, KEY_WOW64_32KEY);
    if (key == nullptr) {
        check(false, "create the registry fixture (needs administrator rights)");
        return;
    }
    using namespace std::string_literals;
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
    HKEY sub = nullptr;
    for (const char* name : {"B2", "a1", "C3"}) {
        RegCreateKeyExA(key, name, 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, nullptr, &sub,
                        nullptr);
        RegCloseKey(sub);
    }
    RegCloseKey(key);
    // Only in the 64-bit view: the program must never see it.
    HKEY key64 = createKey(kCheckKey, KEY_WOW64_64KEY);
    if (key64 != nullptr) {
        setValue(key64, "Only64", REG_SZ, "64\0"s);
        RegCloseKey(key64);
    }

    for (const Case& c : cases) {
        for (const std::string& path : {std::string(kCheckKey), std::string(kCheckKey) + "\\"}) {
            const auto value = os.regQueryValue(path, c.askedAs);
            const std::string what = "regQueryValue(" + quoted(path) + ", " + c.askedAs + ")";
            if (!value) {
                check(false, what, "nullopt");
                continue;
            }
            const std::string got(value->data.begin(), value->data.end());
            check(value->type == c.type && got == c.expected, what,
                  "type " + std::to_string(value->type) + " " + bytesText(value->data));
        }
    }
    check(!os.regQueryValue(kCheckKey, "Missing"), "regQueryValue of a missing value is nullopt");
    check(!os.regQueryValue("Software\\QuilletCheckMissing\\", "Text"),
          "regQueryValue under a missing key is nullopt");
    check(!os.regQueryValue(kCheckKey, "Only64"),
          "regQueryValue reads the 32-bit view, not the 64-bit one");

    const auto subkeys = os.regEnumSubkeys(std::string(kCheckKey) + "\\");
    std::string joined;
    if (subkeys) {
        for (const auto& name : *subkeys) joined += (joined.empty() ? "" : ",") + name;
    }
    check(subkeys && joined == "a1,B2,C3",
          "regEnumSubkeys lists the subkeys in the registry's order", quoted(joined));
    const auto leaf = os.regEnumSubkeys(std::string(kCheckKey) + "\\B2");
    check(leaf && leaf->empty(), "regEnumSubkeys of a key without subkeys is empty");
    check(!os.regEnumSubkeys("Software\\QuilletCheckMissing"),
          "regEnumSubkeys of a missing key is nullopt");

    if (manySubkeys) {
        // Past what a 16-bit index could count.
        const int count = 33000;
        HKEY many = createKey(std::string(kCheckKey) + "\\Many", KEY_WOW64_32KEY);
        char name[16];
        for (int i = 0; i < count && many != nullptr; ++i) {
            std::snprintf(name, sizeof name, "K%05d", i);
            HKEY k = nullptr;
            if (RegCreateKeyExA(many, name, 0, nullptr, 0, KEY_WRITE | KEY_WOW64_32KEY, nullptr, &k,
                                nullptr) == ERROR_SUCCESS) {
                RegCloseKey(k);
            }
        }
        if (many != nullptr) RegCloseKey(many);
        const auto all = os.regEnumSubkeys(std::string(kCheckKey) + "\\Many");
        check(all && all->size() == static_cast<std::size_t>(count) && all->back() == "K32999",
              "regEnumSubkeys lists more than 32767 subkeys",
              all ? std::to_string(all->size()) : "nullopt");
    } else {
        skip("regEnumSubkeys past 32767 subkeys", "run with --many-subkeys");
    }

    deleteCheckKey(KEY_WOW64_32KEY);
    deleteCheckKey(KEY_WOW64_64KEY);
}

// ---------------------------------------------------------------- files

void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

bool setModified(const std::string& path, const SYSTEMTIME& local) {
    SYSTEMTIME utc;
    FILETIME ft;
    if (!TzSpecificLocalTimeToSystemTime(nullptr, &local, &utc) ||
        !SystemTimeToFileTime(&utc, &ft)) {
        return false;
    }
    HANDLE h = CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = SetFileTime(h, nullptr, nullptr, &ft);
    CloseHandle(h);
    return ok != FALSE;
}

SYSTEMTIME localAt(int year, int month, int day, int hour, int minute, int second) {
    SYSTEMTIME t = {};
    t.wYear = static_cast<WORD>(year);
    t.wMonth = static_cast<WORD>(month);
    t.wDay = static_cast<WORD>(day);
    t.wHour = static_cast<WORD>(hour);
    t.wMinute = static_cast<WORD>(minute);
    t.wSecond = static_cast<WORD>(second);
    return t;
}

bool sameTime(const LocalTime& a, const SYSTEMTIME& b) {
    return a.year == b.wYear && a.month == b.wMonth && a.day == b.wDay && a.hour == b.wHour &&
           a.minute == b.wMinute && a.second == b.wSecond;
}

std::vector<FolderEntry> listAll(System& os, const std::string& folder) {
    std::vector<FolderEntry> entries;
    auto listing = os.listFolder(folder);
    FolderEntry entry;
    while (listing->next(entry)) entries.push_back(entry);
    return entries;
}

const FolderEntry* findEntry(const std::vector<FolderEntry>& entries, const std::string& name) {
    for (const auto& e : entries) {
        if (e.name == name) return &e;
    }
    return nullptr;
}

void checkFiles(System& os, const std::string& base) {
    // Folder creation along a path: everything up to the last backslash.
    check(os.makeSureDirectoryPathExists(base + "made\\deep\\er\\"),
          "makeSureDirectoryPathExists creates every folder of the path");
    check(os.folderExists(base + "made\\deep\\er"), "  ... down to the last one");
    check(os.makeSureDirectoryPathExists(base + "made\\other\\file.txt") &&
              os.folderExists(base + "made\\other") &&
              !os.folderExists(base + "made\\other\\file.txt"),
          "makeSureDirectoryPathExists stops at the last backslash");

    // Appending.
    const std::string log = base + "Log File.txt";
    os.appendToFile(log, "first\r\n");
    os.appendToFile(log, "second\r\n");
    check(readFile(log) == "first\r\nsecond\r\n", "appendToFile creates, then appends",
          quoted(readFile(log)));
    check(os.fileSize(log) == 15, "fileSize", std::to_string(os.fileSize(log)));
    checkFailure("appendToFile into a missing folder throws path-not-found", ERROR_PATH_NOT_FOUND,
                 [&] { os.appendToFile(base + "nofolder\\x.txt", "x"); });
    checkFailure("fileSize of a missing file throws file-not-found", ERROR_FILE_NOT_FOUND,
                 [&] { os.fileSize(base + "missing.txt"); });

    // Existence: plain files only, hidden and system ones do not count.
    writeFile(base + "plain.txt", "p");
    writeFile(base + "hidden.txt", "h");
    writeFile(base + "system.txt", "s");
    writeFile(base + ".dotfile", "d");
    const bool hiddenSet =
        SetFileAttributesA((base + "hidden.txt").c_str(), FILE_ATTRIBUTE_HIDDEN) &&
        (GetFileAttributesA((base + "hidden.txt").c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0;
    const bool systemSet =
        SetFileAttributesA((base + "system.txt").c_str(), FILE_ATTRIBUTE_SYSTEM) &&
        (GetFileAttributesA((base + "system.txt").c_str()) & FILE_ATTRIBUTE_SYSTEM) != 0;
    check(os.fileExists(base + "plain.txt"), "fileExists of a plain file");
    check(os.fileExists(base + "PLAIN.TXT"), "fileExists without regard to case");
    check(!os.fileExists(base + "missing.txt"), "fileExists of a missing file is false");
    check(!os.fileExists(base + "made"), "fileExists of a folder is false");
    const bool dotHidden =
        (GetFileAttributesA((base + ".dotfile").c_str()) & FILE_ATTRIBUTE_HIDDEN) != 0;
    if (dotHidden) {
        check(!os.fileExists(base + ".dotfile"), "fileExists of a hidden (dot) file is false");
        check(!os.storedFileName(base + ".dotfile"), "storedFileName of a hidden file is nullopt");
    } else {
        skip("hidden dot file", "this system does not mark dot files hidden");
    }
    if (hiddenSet) {
        check(!os.fileExists(base + "hidden.txt"), "fileExists of a hidden file is false");
    } else {
        skip("hidden attribute", "the file system keeps no hidden attribute here");
    }
    if (systemSet) {
        check(!os.fileExists(base + "system.txt"), "fileExists of a system file is false");
    } else {
        skip("system attribute", "the file system keeps no system attribute here");
    }
    check(os.folderExists(base + "made") && os.folderExists(base + "made\\"),
          "folderExists with and without the final backslash");
    check(!os.folderExists(base + "plain.txt") && !os.folderExists(base + "nofolder"),
          "folderExists of a file or of nothing is false");

    // The stored spelling of a name.
    writeFile(base + "Report.TXT", "r");
    const auto stored = os.storedFileName(base + "report.txt");
    check(stored && *stored == "Report.TXT", "storedFileName gives the stored letter case",
          stored ? quoted(*stored) : "nullopt");
    check(!os.storedFileName(base + "missing.txt"), "storedFileName of a missing file is nullopt");
    check(!os.storedFileName(base + "*.txt"), "storedFileName takes no wildcard");
    check(!os.storedFileName(base + "made"), "storedFileName of a folder is nullopt");

    // Deleting.
    writeFile(base + "readonly.txt", "r");
    SetFileAttributesA((base + "readonly.txt").c_str(), FILE_ATTRIBUTE_READONLY);
    check(!os.deleteFilePlain(base + "readonly.txt") && os.fileExists(base + "readonly.txt"),
          "deleteFilePlain leaves a read-only file");
    os.deleteFile(base + "readonly.txt");
    check(GetFileAttributesA((base + "readonly.txt").c_str()) == INVALID_FILE_ATTRIBUTES,
          "deleteFile removes a read-only file");
    checkFailure("deleteFile of a missing file throws file-not-found", ERROR_FILE_NOT_FOUND,
                 [&] { os.deleteFile(base + "readonly.txt"); });
    check(os.deleteFilePlain(base + "plain.txt") && !os.fileExists(base + "plain.txt"),
          "deleteFilePlain removes a plain file");
    check(!os.deleteFilePlain(base + "plain.txt"), "deleteFilePlain of a missing file is false");

    // Folder removal.
    CreateDirectoryA((base + "empty").c_str(), nullptr);
    SetFileAttributesA((base + "empty").c_str(), FILE_ATTRIBUTE_READONLY);
    os.removeFolder(base + "empty");
    check(!os.folderExists(base + "empty"), "removeFolder removes an empty (read-only) folder");
    checkFailure("removeFolder of a folder with content throws dir-not-empty", ERROR_DIR_NOT_EMPTY,
                 [&] { os.removeFolder(base + "made"); });
    check(os.folderExists(base + "made"), "  ... and leaves it");
    checkFailure("removeFolder of a missing folder throws file-not-found", ERROR_FILE_NOT_FOUND,
                 [&] { os.removeFolder(base + "empty"); });

    // Links: removed as links, never what they point to.
    CreateDirectoryA((base + "target").c_str(), nullptr);
    writeFile(base + "target\\kept.txt", "k");
    const bool linked =
        CreateSymbolicLinkA((base + "dirlink").c_str(), (base + "target").c_str(),
                            SYMBOLIC_LINK_FLAG_DIRECTORY) != 0 &&
        (GetFileAttributesA((base + "dirlink").c_str()) & FILE_ATTRIBUTE_REPARSE_POINT) != 0 &&
        GetFileAttributesA((base + "dirlink").c_str()) != INVALID_FILE_ATTRIBUTES;
    if (linked) {
        const auto entries = listAll(os, base);
        const FolderEntry* link = findEntry(entries, "dirlink");
        check(link && link->isLink && link->isFolder, "listFolder marks a folder link");
        os.deleteFile(base + "dirlink");
        check(!os.folderExists(base + "dirlink") && os.fileExists(base + "target\\kept.txt"),
              "deleteFile removes a folder link and not its target");
    } else {
        skip("folder links", "this system cannot create symbolic links here (error " +
                                 std::to_string(GetLastError()) + ")");
    }

    // Listing.
    const std::string folder = base + "list\\";
    CreateDirectoryA(folder.c_str(), nullptr);
    CreateDirectoryA((folder + "sub").c_str(), nullptr);
    writeFile(folder + "five.bin", "12345");
    writeFile(folder + "winter.txt", "w");
    writeFile(folder + "summer.txt", "s");
    // Half an hour from midnight: a daylight saving hour applied to the wrong
    // date moves the file to another day, which the sweeps count in.
    const SYSTEMTIME winter = localAt(2020, 12, 31, 23, 30, 10);
    const SYSTEMTIME summer = localAt(2021, 7, 1, 0, 30, 20);
    check(setModified(folder + "winter.txt", winter) && setModified(folder + "summer.txt", summer),
          "set the fixture's modification times");
    SYSTEMTIME before;
    GetLocalTime(&before);
    const auto entries = listAll(os, folder);
    std::set<std::string> names;
    for (const auto& e : entries) names.insert(e.name);
    check(names == std::set<std::string>{"five.bin", "sub", "summer.txt", "winter.txt"},
          "listFolder gives every entry but . and ..", std::to_string(entries.size()) + " entries");
    const FolderEntry* five = findEntry(entries, "five.bin");
    const FolderEntry* sub = findEntry(entries, "sub");
    const FolderEntry* w = findEntry(entries, "winter.txt");
    const FolderEntry* s = findEntry(entries, "summer.txt");
    check(five && !five->isFolder && !five->isLink && five->size == 5, "listFolder: a file's size");
    check(five && five->created.year == before.wYear && five->created.month == before.wMonth,
          "listFolder: a new file's creation date is today's", five ? timeText(five->created) : "");
    check(sub && sub->isFolder && !sub->isLink && sub->size == 0, "listFolder: a folder");
    check(w && sameTime(w->modified, winter), "listFolder: a winter modification time, local",
          w ? timeText(w->modified) : "");
    check(s && sameTime(s->modified, summer), "listFolder: a summer modification time, local",
          s ? timeText(s->modified) : "");
    check(listAll(os, base + "list").size() == entries.size(),
          "listFolder without the final backslash");
    check(listAll(os, folder + "sub").empty(), "listFolder of an empty folder gives nothing");
    checkFailure("listFolder of a missing folder throws path-not-found", ERROR_PATH_NOT_FOUND,
                 [&] { listAll(os, base + "nofolder\\"); });
    try {
        listAll(os, folder + "five.bin");
        check(false, "listFolder of a file throws");
    } catch (const Failure& f) {
        check(f.number != 0, "listFolder of a file throws", std::to_string(f.number));
    }
}

// ---------------------------------------------------------------- INI

void checkProfile(System& os, const std::string& base) {
    const std::string ini = base + "check.ini";
    check(os.iniWriteString("Service", "Name", "KORBGuard", ini) && os.fileExists(ini),
          "iniWriteString creates the file");
    check(os.iniWriteString("Service", "Blank", "", ini), "iniWriteString of an empty value");
    check(os.iniWriteString("CONFIGURATION", "Padded", "  word  ", ini) &&
              os.iniWriteString("CONFIGURATION", "Quoted", "\"q v\"", ini),
          "iniWriteString into a second section");
    const std::string text = readFile(ini);
    check(text.find("Blank=\r\n") != std::string::npos,
          "an empty value stays as key=", quoted(text));
    const std::string long300(300, 'x');
    os.iniWriteString("Service", "Long", long300, ini);

    struct Case {
        const char* section;
        const char* key;
        const char* defaultValue;
        std::size_t size;
        std::string file;
        std::string expected;
    };
    const Case cases[] = {
        {"Service", "Name", "", 255, ini, "KORBGuard"},
        {"SERVICE", "name", "", 255, ini, "KORBGuard"},
        {"Service", "Blank", "dflt", 255, ini, ""},
        {"Service", "Missing", "dflt", 255, ini, "dflt"},
        {"NoSection", "Name", "", 255, ini, ""},
        {"Service", "Name", "dflt", 255, base + "missing.ini", "dflt"},
        {"Service", "Name", "", 5, ini, "KORB"},
        {"Service", "Long", "", 255, ini, std::string(254, 'x')},
        {"Service", "Long", "", 5000, ini, long300},
        {"Configuration", "Padded", "", 255, ini, "word"},
        {"Configuration", "Quoted", "", 255, ini, "q v"},
    };
    for (const Case& c : cases) {
        const std::string got = os.iniGetString(c.section, c.key, c.defaultValue, c.size, c.file);
        check(got == c.expected,
              std::string("iniGetString(") + c.section + ", " + c.key + ", size " +
                  std::to_string(c.size) + ")",
              quoted(got.size() > 40 ? got.substr(0, 12) + "...(" + std::to_string(got.size()) + ")"
                                     : got));
    }
    using namespace std::string_literals;
    const std::string names = os.iniGetSectionNames(1000, ini);
    check(names == "Service\0CONFIGURATION\0"s, "iniGetSectionNames", quoted(names));
    const std::string cut = os.iniGetSectionNames(10, ini);
    check(cut.size() == 8, "iniGetSectionNames into a small buffer gives its size less two",
          quoted(cut));
    check(os.iniGetSectionNames(1000, base + "missing.ini").empty(),
          "iniGetSectionNames of a missing file is empty");
    check(!os.iniWriteString("S", "K", "V", base + "nofolder\\x.ini"),
          "iniWriteString into a missing folder is refused");
}

// ---------------------------------------------------------------- services

class ServiceFixture {
public:
    ServiceFixture() : manager_(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS)) {}
    ~ServiceFixture() {
        for (SC_HANDLE service : services_) {
            SERVICE_STATUS status;
            ControlService(service, SERVICE_CONTROL_STOP, &status);
            waitFor(service, SERVICE_STOPPED);
            DeleteService(service);
            CloseServiceHandle(service);
        }
        if (manager_ != nullptr) CloseServiceHandle(manager_);
    }
    ServiceFixture(const ServiceFixture&) = delete;
    ServiceFixture& operator=(const ServiceFixture&) = delete;

    bool ready() const { return manager_ != nullptr; }

    SC_HANDLE create(const std::string& name, const std::string& binPath) {
        SC_HANDLE old = OpenServiceA(manager_, name.c_str(), SERVICE_ALL_ACCESS);
        if (old != nullptr) {
            SERVICE_STATUS status;
            ControlService(old, SERVICE_CONTROL_STOP, &status);
            waitFor(old, SERVICE_STOPPED);
            DeleteService(old);
            CloseServiceHandle(old);
        }
        SC_HANDLE service =
            CreateServiceA(manager_, name.c_str(), (name + " display").c_str(), SERVICE_ALL_ACCESS,
                           SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                           binPath.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
        if (service != nullptr) services_.push_back(service);
        return service;
    }

    // Polls the manager until the state is reached; ten seconds at most.
    static bool waitFor(SC_HANDLE service, DWORD state) {
        for (int i = 0; i < 100; ++i) {
            SERVICE_STATUS status;
            if (!QueryServiceStatus(service, &status)) return false;
            if (status.dwCurrentState == state) return true;
            Sleep(100);
        }
        return false;
    }

private:
    SC_HANDLE manager_;
    std::vector<SC_HANDLE> services_;
};

bool listed(System& os, const std::string& name) {
    const auto names = os.activeServiceNames();
    if (!names) return false;
    for (const auto& n : *names) {
        if (n == name) return true;
    }
    return false;
}

void checkServices(System& os) {
    const auto before = os.activeServiceNames();
    check(before.has_value(), "activeServiceNames answers",
          before ? std::to_string(before->size()) + " active" : "nullopt");

    const std::string program = folderOf(selfPath()) + "test_service.exe";
    if (GetFileAttributesA(program.c_str()) == INVALID_FILE_ATTRIBUTES) {
        skip("services", "test_service.exe is not beside this program");
        return;
    }
    ServiceFixture fixture;
    if (!fixture.ready()) {
        check(false, "open the service control manager for the fixture");
        return;
    }
    const std::string bin = "\"" + program + "\"";
    SC_HANDLE running = fixture.create("QuilletCheckRun", bin + " QuilletCheckRun");
    SC_HANDLE idle = fixture.create("QuilletCheckIdle", bin);
    SC_HANDLE paused = fixture.create("QuilletCheckPaused", bin + " --start-paused");
    SC_HANDLE pending = fixture.create("QuilletCheckPending", bin + " --start-pending");
    if (!running || !idle || !paused || !pending) {
        check(false, "create the fixture's services", std::to_string(GetLastError()));
        return;
    }
    struct Start {
        SC_HANDLE service;
        DWORD state;
        const char* what;
    };
    const Start starts[] = {
        {running, SERVICE_RUNNING, "start a test service"},
        {paused, SERVICE_PAUSED, "start a test service that pauses at once"},
        {pending, SERVICE_START_PENDING, "start a test service that stays start-pending"},
    };
    for (const Start& start : starts) {
        const bool started = StartServiceA(start.service, 0, nullptr) != FALSE;
        const DWORD error = started ? 0 : GetLastError();
        check(started && ServiceFixture::waitFor(start.service, start.state), start.what,
              started ? "" : "error " + std::to_string(error));
    }

    check(listed(os, "QuilletCheckRun"), "a running service is listed");
    check(listed(os, "QuilletCheckPaused"), "a paused service is listed");
    check(listed(os, "QuilletCheckPending"), "a start-pending service is listed");
    check(!listed(os, "QuilletCheckIdle"), "a stopped service is not listed");
    check(!listed(os, "QuilletCheckRun display"), "a display name is not listed");

    SERVICE_STATUS status;
    check(ControlService(running, SERVICE_CONTROL_PAUSE, &status) &&
              ServiceFixture::waitFor(running, SERVICE_PAUSED) && listed(os, "QuilletCheckRun"),
          "a service paused by control is still listed");
    check(ControlService(running, SERVICE_CONTROL_CONTINUE, &status) &&
              ServiceFixture::waitFor(running, SERVICE_RUNNING),
          "the test service continues");
    check(ControlService(running, SERVICE_CONTROL_STOP, &status) &&
              ServiceFixture::waitFor(running, SERVICE_STOPPED) && !listed(os, "QuilletCheckRun"),
          "a stopped service is no longer listed");
}

// ---------------------------------------------------------------- processes

void checkProcesses(System& os) {
    const std::string self = "\"" + selfPath() + "\"";
    try {
        auto p = os.startCommandLine("cmd /c exit 3", SW_HIDE);
        const std::uint32_t waited = p->wait(quillet::os::kWaitInfinite);
        const std::uint32_t code = p->exitCode();
        check(waited == quillet::os::kWaitObject0 && code == 3,
              "startCommandLine finds cmd on the search path; wait; exit code",
              std::to_string(waited) + ", " + std::to_string(code));
    } catch (const Failure& f) {
        check(false, "startCommandLine(cmd /c exit 3)", f.description);
    }
    try {
        auto p = os.startCommandLine(self + " --sleep 20000", SW_HIDE);
        const std::uint32_t first = p->wait(300);
        p->terminate(7);
        const std::uint32_t second = p->wait(10000);
        const std::uint32_t code = p->exitCode();
        check(
            first == quillet::os::kWaitTimeout && second == quillet::os::kWaitObject0 && code == 7,
            "wait times out with 258; terminate ends it with the given code",
            std::to_string(first) + ", " + std::to_string(second) + ", " + std::to_string(code));
    } catch (const Failure& f) {
        check(false, "startCommandLine(--sleep)", f.description);
    }
    checkFailure("startCommandLine of a missing program throws file-not-found",
                 ERROR_FILE_NOT_FOUND,
                 [&] { os.startCommandLine("quillet_no_such_program /x", SW_HIDE); });
    checkFailure("startCommandLine of a shell built-in throws file-not-found", ERROR_FILE_NOT_FOUND,
                 [&] { os.startCommandLine("echo hello", SW_HIDE); });

    auto opened = os.shellOpen(selfPath(), "--exit 4");
    const std::uint32_t openedWait = opened ? opened->wait(10000) : 1;
    const std::uint32_t openedCode = opened ? opened->exitCode() : 0;
    check(openedWait == quillet::os::kWaitObject0 && openedCode == 4,
          "shellOpen starts a program with its parameters",
          std::to_string(openedWait) + ", " + std::to_string(openedCode));
    check(os.shellOpen(folderOf(selfPath()) + "no_such_program.exe", "Local") == nullptr,
          "shellOpen of a missing program is nullptr");

    const std::string text2 = os.systemErrorText(2);
    check(!text2.empty() && text2.back() != '\n' && text2.back() != '\r',
          "systemErrorText(2) without its line break", quoted(text2));
    const std::string text5 = os.systemErrorText(ERROR_ACCESS_DENIED);
    check(!text5.empty() && text5.back() != '\n', "systemErrorText(5)", quoted(text5));
    // Windows has a text for the timed-out wait; Wine 8's message table does not.
    const std::string text258 = os.systemErrorText(WAIT_TIMEOUT);
    std::printf("note systemErrorText(258) is %s\n", quoted(text258).c_str());
    SetLastError(ERROR_FILE_NOT_FOUND);
    check(os.systemErrorText(0) == text2, "systemErrorText(0) is the last error's text");
    check(os.systemErrorText(0x2000FFFF).empty(), "systemErrorText of a code without text is \"\"",
          quoted(os.systemErrorText(0x2000FFFF)));
}

std::string makeScratchFolder() {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    std::string base =
        std::string(temp) + "quillet_check_" + std::to_string(GetCurrentProcessId()) + "\\";
    CreateDirectoryA(base.c_str(), nullptr);
    return base;
}

void removeTree(const std::string& folder) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            const std::string path = folder + name;
            SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
            if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
                removeTree(path + "\\");
            } else if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveDirectoryA(path.c_str());
            } else {
                DeleteFileA(path.c_str());
            }
        } while (FindNextFileA(find, &data));
        FindClose(find);
    }
    RemoveDirectoryA(folder.c_str());
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
        if (arg == "--many-subkeys") manySubkeys = true;
    }

    auto os = quillet::os::makeSystem("LOG,DATA");
    check(os->commandText() == "LOG,DATA", "makeSystem keeps the command text");
    const std::string scratch = makeScratchFolder();

    std::printf("-- command text\n");
    checkCommandText(*os, scratch);
    std::printf("-- time\n");
    checkTime(*os);
    std::printf("-- registry\n");
    checkRegistry(*os, manySubkeys);
    std::printf("-- files\n");
    try {
        checkFiles(*os, scratch);
    } catch (const Failure& f) {
        check(false, "file checks ended by an unexpected Failure",
              std::to_string(f.number) + " " + f.description);
    }
    std::printf("-- INI\n");
    checkProfile(*os, scratch);
    std::printf("-- services\n");
    checkServices(*os);
    std::printf("-- processes\n");
    checkProcesses(*os);

    removeTree(scratch);
    std::printf("%d checks, %d failed, %d skipped\n", g_checks, g_failures, g_skips);
    return g_failures == 0 ? 0 : 1;
}
