#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "core/context.h"

namespace quillet {

// Runs a command line (retrying once through "cmd /c ") and waits, without a
// time limit, until it has ended. Gives the program's exit code, or nothing
// when it could not be started.
std::optional<std::uint32_t> ShellWait(Context& ctx, const std::string& commandText);

// Opens a program through the shell's "Open" verb, hidden, and waits for it.
// A timeoutMs of 0 becomes no limit (0xFFFFFFFF), which the caller then sees.
// False when it did not end in time (it is then ended) or was not started.
bool ExecuteAndWait(Context& ctx, const std::string& programPath, const std::string& parameters,
                    std::string& errorNumber, std::string& errorText, std::uint32_t& timeoutMs);

// The system's message text for an error code, without its final line break.
std::string GetSystemErrorText(Context& ctx, std::uint32_t code);

}  // namespace quillet
