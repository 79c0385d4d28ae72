#include "platform/process.h"

#include "core/error_line.h"
#include "platform/activity_log.h"

namespace quillet {

std::optional<std::uint32_t> ShellWait(Context& ctx, const std::string& commandText) {
    std::string command = commandText;
    for (int attempt = 0; attempt < 2; ++attempt) {
        std::unique_ptr<os::Process> process;
        try {
            process = ctx.os.startCommandLine(command);
        } catch (...) {
            PblSubWriteLog(ctx, "ERR : Error Source:ShellWait(),Desc:" +
                                    describeCurrentException().description);
            command = "cmd /c " + commandText;
            continue;
        }
        // Wait on the process itself rather than polling its exit code: a
        // program may legitimately end with 259 (STILL_ACTIVE).
        if (process->wait(os::kWaitInfinite) != os::kWaitObject0) return std::nullopt;
        return process->exitCode();
    }
    return std::nullopt;
}

bool ExecuteAndWait(Context& ctx, const std::string& programPath, const std::string& parameters,
                    std::string& errorNumber, std::string& errorText, std::uint32_t& timeoutMs) {
    errorNumber.clear();
    errorText.clear();
    try {
        if (timeoutMs == 0) timeoutMs = os::kWaitInfinite;
        PblSubWriteLog(ctx,
                       "MSG : Execution Path & Parameters : " + programPath + " " + parameters);
        std::unique_ptr<os::Process> process;
        if (isPlainFile(ctx.os.status(programPath)))
            process = ctx.os.shellOpen(programPath, parameters);
        const std::uint32_t result = process ? process->wait(timeoutMs) : os::kWaitFailed;
        if (result == os::kWaitObject0) return true;
        errorNumber = std::to_string(static_cast<std::int32_t>(result));
        errorText = GetSystemErrorText(ctx, result);
        if (process) process->terminate(0);
        return false;
    } catch (...) {
        const auto e = describeCurrentException();
        errorNumber = std::to_string(e.number);
        errorText = e.description;
        return false;
    }
}

std::string GetSystemErrorText(Context& ctx, std::uint32_t code) {
    try {
        return ctx.os.systemErrorText(code);
    } catch (...) {
        return {};
    }
}

}  // namespace quillet
