#pragma once
#include <string>
#include <vector>

namespace quillet::os::host {

// "C:\Agents\KORBOD\x.txt" -> "<machine>/drives/c/Agents/KORBOD/x.txt". A path
// that already starts with "/" is used as it is; other "\" become "/".
std::string mapPath(const std::string& machine, const std::string& windowsPath);

// Splits a command line into words as Windows programs parse theirs
// (blanks separate, double quotes group, backslashes escape quotes).
std::vector<std::string> splitCommandLine(const std::string& commandLine);

}  // namespace quillet::os::host
