// Windows' entry point of a program without a console: the raw command line,
// less the program's name as the runtime parses it and the one blank after it.
#include "os/entry.h"

#include <windows.h>

#include "os/win32/command_line.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    return quillet::programMain(quillet::os::win32::commandTextFrom(GetCommandLineA()));
}
