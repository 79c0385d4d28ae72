#include "os/make_system.h"

#include <windows.h>

#include "os/win32/wide_path.h"
#include "os/win32/win32_system.h"

namespace quillet::os {

std::unique_ptr<System> makeSystem() { return std::make_unique<win32::Win32System>(); }

namespace {

// False only when nothing at all could be written, so that a handle that
// turns out to be useless can be passed over without doubling the text.
bool writeAll(HANDLE out, const std::string& text) {
    DWORD mode = 0;
    const bool console = GetConsoleMode(out, &mode) != FALSE;
    // A console reads 8-bit text in its own (OEM) code page, not in the ANSI
    // one the text is in, and would show other letters: it gets UTF-16. Files
    // and pipes get the ANSI bytes as they are.
    const std::wstring wide = console ? win32::widen(text) : std::wstring();
    const std::size_t size = console ? wide.size() : text.size();
    std::size_t done = 0;
    while (done < size) {
        DWORD chunk = size - done > 0x4000u ? 0x4000u : static_cast<DWORD>(size - done);
        // A letter of two UTF-16 units is not split between two calls.
        if (console && done + chunk < size && IS_HIGH_SURROGATE(wide[done + chunk - 1])) --chunk;
        DWORD written = 0;
        const BOOL ok = console ? WriteConsoleW(out, wide.data() + done, chunk, &written, nullptr)
                                : WriteFile(out, text.data() + done, chunk, &written, nullptr);
        if (!ok || written == 0) break;
        done += written;
    }
    return done > 0 || size == 0;
}

}  // namespace

void printToConsole(const std::string& text) {
    // A GUI program gets standard handles only when its starter handed some
    // over (output redirected to a file or a pipe); those come first.
    const HANDLE inherited = GetStdHandle(STD_OUTPUT_HANDLE);
    if (inherited != nullptr && inherited != INVALID_HANDLE_VALUE && writeAll(inherited, text)) {
        return;
    }
    // Otherwise the console of the command prompt it was started from, if any.
    if (!AttachConsole(ATTACH_PARENT_PROCESS)) return;
    const HANDLE console = CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE,
                                       nullptr, OPEN_EXISTING, 0, nullptr);
    if (console != INVALID_HANDLE_VALUE) {
        writeAll(console, text);
        CloseHandle(console);
    }
    FreeConsole();
}

}  // namespace quillet::os
