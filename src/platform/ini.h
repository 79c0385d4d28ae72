#pragma once
// The agent's INI files, through the platform's private-profile functions.
#include <optional>
#include <string>

#include "core/context.h"
#include "core/error_line.h"

namespace quillet {

// The one place where INI writes reach the platform. CR and LF are removed
// from every name and value so that no text can add keys or sections.
// Nothing when written; the platform's failure when it refused the write.
std::optional<Failure> writeProfileString(os::System& os, const std::string& section,
                                          const std::string& key, const std::string& value,
                                          const std::string& file);

// The value trimmed of spaces ("" when missing); never fails, never logs.
std::string ReadIniString(Context& ctx, const std::string& section, const std::string& key,
                          const std::string& file);
// Writes one value and logs nothing; what the platform refused or failed
// with is handed back, for a caller whose record must not be lost unseen.
std::optional<CaughtError> WriteIniString(Context& ctx, const std::string& file,
                                          const std::string& section, const std::string& key,
                                          const std::string& value);
// The value untrimmed, at most 254 characters; failures are logged.
std::string GetKeyValue(Context& ctx, const std::string& section, const std::string& key,
                        const std::string& file);
// The platform's failure when it refused the write (a failure that is
// thrown is logged, and is no refusal).
std::optional<Failure> SetKeyValue(Context& ctx, const std::string& section, const std::string& key,
                                   const std::string& value, const std::string& file);
// Writes the value only when the key is missing, empty or all spaces; the
// platform's failure when it refused that write, so that a caller can tell.
std::optional<Failure> SubUpdateIniKeyValue(Context& ctx, const std::string& section,
                                            const std::string& key, const std::string& value,
                                            const std::string& file);

}  // namespace quillet
