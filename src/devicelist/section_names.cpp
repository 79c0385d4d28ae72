#include "devicelist/section_names.h"

#include "core/text.h"

namespace quillet {

namespace {
constexpr std::size_t kFirstBuffer = 5000;
// A list this long is no device list; past it the names that came back are used.
constexpr std::size_t kLargestBuffer = std::size_t{1} << 28;
}  // namespace

std::vector<std::string> readAllSectionNames(os::System& os, const std::string& file) {
    std::size_t bufferSize = kFirstBuffer;
    std::string list = os.iniGetSectionNames(bufferSize, file);
    // A cut list comes back as bufferSize - 2 characters. A list that happens
    // to be exactly that long looks the same and costs one more read.
    while (list.size() + 2 >= bufferSize && bufferSize < kLargestBuffer) {
        bufferSize *= 2;
        list = os.iniGetSectionNames(bufferSize, file);
    }
    // Each complete name is followed by its NUL; whatever follows the last NUL
    // is empty, or part of a name that was cut.
    std::vector<std::string> names;
    std::string::size_type start = 0;
    for (;;) {
        const auto nul = list.find('\0', start);
        if (nul == std::string::npos) break;
        names.push_back(list.substr(start, nul - start));
        start = nul + 1;
    }
    return names;
}

std::string sectionMatchKey(const std::string& name) {
    const auto first = name.find_first_not_of(" \t");
    if (first == std::string::npos) return {};
    const auto last = name.find_last_not_of(" \t");
    return lowerAscii(name.substr(first, last - first + 1));
}

}  // namespace quillet
