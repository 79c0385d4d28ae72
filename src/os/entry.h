#pragma once
// Where the program begins, called by the platform's own entry point
// (os/win32/entry.cpp, os/host/entry.cpp) and defined in main.cpp.
#include <string>

namespace quillet {

// `commandText`: everything after the program's own name on its command line,
// exactly as received. Gives the process's exit status.
int programMain(const std::string& commandText);

}  // namespace quillet
