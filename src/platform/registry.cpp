#include "platform/registry.h"

#include "core/text.h"

namespace quillet {

namespace {
constexpr std::uint32_t kRegBinary = 3;
}

std::string QueryRegistryValue(Context& ctx, const std::string& keyPath,
                               const std::string& valueName) {
    const auto value = ctx.os.regQueryValue(keyPath, valueName);
    if (!value) return {};
    if (value->type == kRegBinary) {
        // Only the first four bytes reach the slot, however long the data.
        unsigned char slot[4] = {0, 0, 0, 0};
        for (std::size_t i = 0; i < value->data.size() && i < 4; ++i) slot[i] = value->data[i];
        const auto low =
            static_cast<std::int16_t>(static_cast<std::uint16_t>(slot[0] | (slot[1] << 8)));
        return std::to_string(low);
    }
    if (value->data.empty()) return {};
    const std::string buffer(value->data.begin(), value->data.end());
    const auto zero = buffer.find('\0');
    if (zero == std::string::npos)
        // The cut at the first zero has nothing to cut at: the read is abandoned.
        throw Failure(5, "Invalid procedure call or argument");
    return buffer.substr(0, zero);
}

std::string GetRegistryValue(Context& ctx, std::uint32_t hive, const std::string& keyPath,
                             const std::string& valueName) {
    if (hive != HKEY_LOCAL_MACHINE_HIVE) return "0";
    std::string text;
    try {
        text = QueryRegistryValue(ctx, keyPath, valueName);
    } catch (...) {
        return {};
    }
    return trimSpaces(text).empty() ? "0" : text;
}

std::string EnumRegistryKeys(Context& ctx, std::uint32_t hive, const std::string& keyPath) {
    if (hive != HKEY_LOCAL_MACHINE_HIVE) return {};
    try {
        const auto names = ctx.os.regEnumSubkeys(keyPath);
        if (!names) return {};
        std::string joined;
        bool first = true;
        for (const auto& name : *names) {
            if (!first) joined += ',';
            joined += cutAtNul(name);
            first = false;
        }
        return joined;
    } catch (...) {
        return {};
    }
}

std::string agentValue(Context& ctx, const char* valueName) {
    return GetRegistryValue(ctx, HKEY_LOCAL_MACHINE_HIVE, agent::kKey, valueName);
}

std::string agentInstallPath(Context& ctx) {
    return withTrailingBackslash(agentValue(ctx, agent::kInstallPathValue));
}

}  // namespace quillet
