#include "platform/ini.h"

#include "core/error_line.h"
#include "core/text.h"
#include "platform/activity_log.h"

namespace quillet {

namespace {
std::string withoutLineBreaks(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text)
        if (c != '\r' && c != '\n') out += c;
    return out;
}
constexpr std::size_t kReadBuffer = 5000;
constexpr std::size_t kKeyBuffer = 255;
}  // namespace

std::optional<Failure> writeProfileString(os::System& os, const std::string& section,
                                          const std::string& key, const std::string& value,
                                          const std::string& file) {
    return os.iniWriteString(withoutLineBreaks(section), withoutLineBreaks(key),
                             withoutLineBreaks(value), file);
}

std::string ReadIniString(Context& ctx, const std::string& section, const std::string& key,
                          const std::string& file) {
    std::string buffer;
    try {
        buffer = ctx.os.iniGetString(section, key, "", kReadBuffer, file);
    } catch (...) {
        return {};
    }
    std::string withoutNuls;
    for (char c : buffer)
        if (c != '\0') withoutNuls += c;
    if (trimSpaces(withoutNuls).empty()) return {};
    return trimSpaces(buffer);
}

std::optional<CaughtError> WriteIniString(Context& ctx, const std::string& file,
                                          const std::string& section, const std::string& key,
                                          const std::string& value) {
    try {
        if (const auto refusal = writeProfileString(ctx.os, section, key, value, file))
            return CaughtError{refusal->number, refusal->description};
        return std::nullopt;
    } catch (...) {
        return describeCurrentException();
    }
}

std::string GetKeyValue(Context& ctx, const std::string& section, const std::string& key,
                        const std::string& file) {
    try {
        return ctx.os.iniGetString(section, key, "", kKeyBuffer, file);
    } catch (...) {
        PblSubWriteLog(ctx, errSource("GetKeyValue", describeCurrentException()));
        return {};
    }
}

std::optional<Failure> SetKeyValue(Context& ctx, const std::string& section, const std::string& key,
                                   const std::string& value, const std::string& file) {
    try {
        return writeProfileString(ctx.os, section, key, value, file);
    } catch (...) {
        PblSubWriteLog(ctx, errSource("SetKeyValue", describeCurrentException()));
        return std::nullopt;
    }
}

std::optional<Failure> SubUpdateIniKeyValue(Context& ctx, const std::string& section,
                                            const std::string& key, const std::string& value,
                                            const std::string& file) {
    try {
        if (trimSpaces(GetKeyValue(ctx, section, key, file)).empty())
            return SetKeyValue(ctx, section, key, value, file);
    } catch (...) {
        PblSubWriteLog(ctx, errSource("SubUpdateIniKeyValue", describeCurrentException()));
    }
    return std::nullopt;
}

}  // namespace quillet
