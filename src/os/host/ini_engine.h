#pragma once
// Windows' private-profile functions over real files, for the host build.
// Files are addressed by their host (POSIX) path.
#include <cstddef>
#include <string>

namespace quillet::os::host {

class IniEngine {
public:
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t bufferSize,
                          const std::string& file);
    bool writeString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file);
    std::string getSectionNames(std::size_t bufferSize, const std::string& file);

private:
    // ... implementation's choice (a parsed-file cache keyed on size and mtime)
};

}  // namespace quillet::os::host
