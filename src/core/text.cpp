#include "core/text.h"

namespace quillet {

std::string trimSpaces(const std::string& s) {
    const auto first = s.find_first_not_of(' ');
    if (first == std::string::npos) return {};
    const auto last = s.find_last_not_of(' ');
    return s.substr(first, last - first + 1);
}

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string upper(std::string s) {
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

std::vector<std::string> splitAll(const std::string& s, char separator) {
    std::vector<std::string> pieces;
    std::string::size_type start = 0;
    for (;;) {
        const auto pos = s.find(separator, start);
        if (pos == std::string::npos) {
            pieces.push_back(s.substr(start));
            return pieces;
        }
        pieces.push_back(s.substr(start, pos - start));
        start = pos + 1;
    }
}

std::string cutAtNul(const std::string& s) {
    const auto pos = s.find('\0');
    return pos == std::string::npos ? s : s.substr(0, pos);
}

std::string withTrailingBackslash(std::string path) {
    if (path.empty() || path.back() != '\\') path += '\\';
    return path;
}

}  // namespace quillet
