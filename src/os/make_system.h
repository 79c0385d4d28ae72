#pragma once
#include <memory>
#include <string>

#include "os/system.h"

namespace quillet::os {

// The machine this build runs on: the real Windows services, or on the host
// the substitutes in the folder named by QUILLET_MACHINE (default /etc/quillet).
std::unique_ptr<System> makeSystem(std::string commandText);

// Everything after the program's own name on its command line, exactly as
// received. Windows gives the raw command line (the arguments are not used);
// the host joins the arguments with single blanks.
std::string processCommandText(int argc, char** argv);

// Shows help or version text on the console the program was started from, if any.
void printToConsole(const std::string& text);

}  // namespace quillet::os
