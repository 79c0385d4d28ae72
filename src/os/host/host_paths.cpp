#include "os/host/host_paths.h"

namespace quillet::os::host {

std::string mapPath(const std::string& machine, const std::string& windowsPath) {
    if (!windowsPath.empty() && windowsPath[0] == '/') return windowsPath;
    std::string rest = windowsPath;
    std::string prefix;
    if (rest.size() >= 2 && rest[1] == ':' &&
        ((rest[0] >= 'A' && rest[0] <= 'Z') || (rest[0] >= 'a' && rest[0] <= 'z'))) {
        const char drive = static_cast<char>(rest[0] | 0x20);
        prefix = machine + "/drives/" + drive;
        rest = rest.substr(2);
        if (rest.empty() || (rest[0] != '\\' && rest[0] != '/')) rest = "/" + rest;
    }
    for (char& c : rest)
        if (c == '\\') c = '/';
    return prefix + rest;
}

std::vector<std::string> splitCommandLine(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 0;
    const std::size_t n = line.size();
    while (i < n) {
        while (i < n && (line[i] == ' ' || line[i] == '\t')) ++i;
        if (i >= n) break;
        std::string word;
        bool quoted = false;
        while (i < n && (quoted || (line[i] != ' ' && line[i] != '\t'))) {
            if (line[i] == '\\') {
                std::size_t slashes = 0;
                while (i < n && line[i] == '\\') ++slashes, ++i;
                if (i < n && line[i] == '"') {
                    word.append(slashes / 2, '\\');
                    if (slashes % 2) {
                        word += '"';
                        ++i;
                    }
                } else {
                    word.append(slashes, '\\');
                }
            } else if (line[i] == '"') {
                quoted = !quoted;
                ++i;
            } else {
                word += line[i++];
            }
        }
        words.push_back(word);
    }
    return words;
}

}  // namespace quillet::os::host
