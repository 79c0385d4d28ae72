#pragma once
// Reads of the agent's registry key. The utility never writes the registry.
#include <cstdint>
#include <string>

#include "core/agent.h"
#include "core/context.h"

namespace quillet {

inline constexpr std::uint32_t HKEY_LOCAL_MACHINE_HIVE = 0x80000002u;

// The value as text; "0" when it is missing, empty or blank; "" when the read
// was abandoned (a string with no terminating zero in its data).
std::string GetRegistryValue(Context& ctx, std::uint32_t hive, const std::string& keyPath,
                             const std::string& valueName);
// The typed conversion underneath; throws Failure when the data holds no zero.
std::string QueryRegistryValue(Context& ctx, const std::string& keyPath,
                               const std::string& valueName);
// Direct subkey names joined by ","; "" when there are none or the key does not open.
std::string EnumRegistryKeys(Context& ctx, std::uint32_t hive, const std::string& keyPath);

// A value of the agent's own key, as GetRegistryValue reads it (afresh each call).
std::string agentValue(Context& ctx, const char* valueName);
// InstallationPath of the agent key with a final "\" (read afresh each call).
std::string agentInstallPath(Context& ctx);

}  // namespace quillet
