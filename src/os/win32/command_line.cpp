#include "os/win32/command_line.h"

namespace quillet::os::win32 {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t'; }

// Where the program's name ends: at the first blank or tab outside double
// quotes, which only switch quoting on and off (as the C runtime reads argv[0]
// and CreateProcess the program to start).
const char* endOfProgramName(const char* p) {
    for (bool inQuotes = false; *p != '\0'; ++p) {
        if (*p == '"') {
            inQuotes = !inQuotes;
        } else if (!inQuotes && isBlank(*p)) {
            break;
        }
    }
    return p;
}

}  // namespace

std::string commandTextFrom(const char* cmdLine) {
    if (cmdLine == nullptr) return {};
    const char* p = endOfProgramName(cmdLine);
    // Only the one separator goes: further blanks belong to the command text,
    // which the task words are parsed from exactly as received.
    if (isBlank(*p)) ++p;
    return std::string(p);
}

std::string withSystemProgramPaths(const std::string& commandLine,
                                   const std::string& systemFolder) {
    const std::size_t end =
        static_cast<std::size_t>(endOfProgramName(commandLine.c_str()) - commandLine.c_str());
    std::string name;  // without its quotes, in lower case
    for (const char c : commandLine.substr(0, end))
        if (c != '"') name += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".exe") == 0)
        name.resize(name.size() - 4);
    if (name != "regsvr32" && name != "cmd") return commandLine;

    std::string program = systemFolder;
    if (program.empty() || program.back() != '\\') program += '\\';
    program += name + ".exe";
    if (program.find_first_of(" \t") != std::string::npos) program = '"' + program + '"';
    std::string rest = commandLine.substr(end);
    // The interpreter would look for the command it runs in the current
    // folder first as well.
    if (name == "cmd" && rest.size() > 4 &&
        (rest.compare(0, 4, " /c ") == 0 || rest.compare(0, 4, " /C ") == 0)) {
        const std::string command = rest.substr(4);
        std::string resolved = withSystemProgramPaths(command, systemFolder);
        // cmd takes the first and the last quote off a command that begins
        // with one: a quoted program path needs a pair around the whole.
        if (resolved != command && resolved[0] == '"') resolved = '"' + resolved + '"';
        rest = rest.substr(0, 4) + resolved;
    }
    return program + rest;
}

}  // namespace quillet::os::win32
