#pragma once
// The command text as the program receives it on Windows. Pure text work, no
// Windows call, so it can be checked anywhere.
#include <string>

namespace quillet::os::win32 {

// Everything after the program's own name on a raw command line (as
// GetCommandLineA gives it), less the one blank or tab that separates the two.
// The name is taken as the C runtime takes argv[0]: it ends at the first blank
// or tab outside double quotes, and quotes only switch quoting on and off.
// A null or name-only command line gives "".
std::string commandTextFrom(const char* cmdLine);

}  // namespace quillet::os::win32
