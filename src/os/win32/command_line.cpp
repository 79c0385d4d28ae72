#include "os/win32/command_line.h"

namespace quillet::os::win32 {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

}  // namespace

std::string commandTextFrom(const char* cmdLine) {
    if (cmdLine == nullptr) return {};
    const char* p = cmdLine;
    bool inQuotes = false;
    for (; *p != '\0'; ++p) {
        if (*p == '"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && isBlank(*p)) {
            break;
        }
    }
    // Only the one separator goes: further blanks belong to the command text,
    // which the task words are parsed from exactly as received.
    if (isBlank(*p)) ++p;
    return std::string(p);
}

}  // namespace quillet::os::win32
