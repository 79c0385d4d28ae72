#pragma once
// System error codes as text, and the Failure that a failed Windows call raises.
#include <cstdint>
#include <string>

#include "os/failure.h"

namespace quillet::os::win32 {

// FormatMessageA's text for a system error code (system message table, default
// language) without its closing line break; "" when the system has no text
// for the code.
std::string messageText(std::uint32_t code);

// A Failure carrying GetLastError() and its text. Call it right after the
// failed Windows call, before anything else can change the last error.
Failure lastFailure();

// A Failure for a code kept from an earlier call.
Failure failureOf(std::uint32_t code);

}  // namespace quillet::os::win32
