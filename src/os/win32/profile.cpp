#include <windows.h>

#include <vector>

#include "os/win32/error_text.h"
#include "os/win32/wide_path.h"
#include "os/win32/win32_system.h"

namespace quillet::os::win32 {

namespace {

// The profile calls take a DWORD size; callers ask for a few thousand at most.
DWORD sizeArgument(std::size_t bufferSize) {
    return bufferSize > 0x7FFFFFFFu ? 0x7FFFFFFFu : static_cast<DWORD>(bufferSize);
}

std::string leadingChars(const std::vector<char>& buffer, DWORD count) {
    const std::size_t n = count < buffer.size() ? count : buffer.size();
    return std::string(buffer.data(), n);
}

}  // namespace

std::string Win32System::iniGetString(const std::string& section, const std::string& key,
                                      const std::string& defaultValue, std::size_t bufferSize,
                                      const std::string& file) {
    if (bufferSize == 0) return {};
    const DWORD size = sizeArgument(bufferSize);
    std::vector<char> buffer(size, '\0');
    const DWORD count = GetPrivateProfileStringA(section.c_str(), key.c_str(), defaultValue.c_str(),
                                                 buffer.data(), size, file.c_str());
    return leadingChars(buffer, count);
}

std::optional<Failure> Win32System::iniWriteString(const std::string& section,
                                                   const std::string& key, const std::string& value,
                                                   const std::string& file) {
    if (ledAway(file, true)) return failureOf(ERROR_CANT_ACCESS_FILE);
    // Windows refuses to write a read-only file, whoever asks; Wine run by
    // root would write it.
    const DWORD attributes = GetFileAttributesW(extendedPath(file).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
        return failureOf(ERROR_ACCESS_DENIED);
    }
    if (WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()))
        return std::nullopt;
    return lastFailure();
}

std::string Win32System::iniGetSectionNames(std::size_t bufferSize, const std::string& file) {
    if (bufferSize == 0) return {};
    const DWORD size = sizeArgument(bufferSize);
    std::vector<char> buffer(size, '\0');
    const DWORD count = GetPrivateProfileSectionNamesA(buffer.data(), size, file.c_str());
    return leadingChars(buffer, count);
}

}  // namespace quillet::os::win32
