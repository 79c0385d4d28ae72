#pragma once
// Command lines as the program receives and starts them on Windows. Pure text
// work, no Windows call, so it can be checked anywhere.
#include <string>

namespace quillet::os::win32 {

// Everything after the program's own name on a raw command line (as
// GetCommandLineA gives it), less the one blank or tab that separates the two.
// The name is taken as the C runtime takes argv[0]: it ends at the first blank
// or tab outside double quotes, and quotes only switch quoting on and off.
// A null or name-only command line gives "".
std::string commandTextFrom(const char* cmdLine);

// The command line with a system program that it names by its bare name
// (regsvr32 or cmd, with or without ".exe", in any case) given its full path
// in `systemFolder`; behind "cmd /c" the command the interpreter runs too.
// Any other command line comes back as it is.
std::string withSystemProgramPaths(const std::string& commandLine, const std::string& systemFolder);

}  // namespace quillet::os::win32
