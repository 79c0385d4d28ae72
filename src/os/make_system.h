#pragma once
#include <memory>
#include <string>

#include "os/system.h"

namespace quillet::os {

// The machine this build runs on: the real Windows services, or on the host
// the substitutes in the folder named by QUILLET_MACHINE (default /etc/quillet).
std::unique_ptr<System> makeSystem();

// Shows help or version text on the console the program was started from, if any.
void printToConsole(const std::string& text);

}  // namespace quillet::os
