#include <windows.h>
// after windows.h
#include <shellapi.h>

#include <vector>

#include "os/win32/command_line.h"
#include "os/win32/error_text.h"
#include "os/win32/handle.h"
#include "os/win32/wide_path.h"
#include "os/win32/win32_system.h"

namespace quillet::os::win32 {

namespace {

class Win32Process : public Process {
public:
    explicit Win32Process(HANDLE process) : process_(process) {}

    std::uint32_t wait(std::uint32_t timeoutMs) override {
        return WaitForSingleObject(process_.get(), timeoutMs);
    }

    std::uint32_t exitCode() override {
        DWORD code = 0;
        // A code that cannot be read is not 259 (still active): a caller
        // polling for the end must not poll for ever.
        if (!GetExitCodeProcess(process_.get(), &code)) return 0xFFFFFFFFu;
        return code;
    }

    void terminate(std::uint32_t exitCode) override { TerminateProcess(process_.get(), exitCode); }

private:
    ObjectHandle process_;
};

}  // namespace

std::unique_ptr<Process> Win32System::startCommandLine(const std::string& commandLine) {
    // A search by name tries the program's own folder (the agent's install
    // folder) and the current folder before the system folder: regsvr32 and
    // cmd, run as the scheduler's account, are named by their full path.
    std::wstring systemFolder(MAX_PATH, L'\0');
    const UINT length = GetSystemDirectoryW(systemFolder.data(), MAX_PATH);
    if (length == 0 || length >= MAX_PATH) throw lastFailure();
    systemFolder.resize(length);
    const std::string started = withSystemProgramPaths(commandLine, narrow(systemFolder));
    // CreateProcessA may write into the command line it is given.
    std::vector<char> line(started.begin(), started.end());
    line.push_back('\0');

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_HIDE;
    PROCESS_INFORMATION info = {};
    // No application name: the first word of the line is the program, any
    // other looked up on the search path as a command prompt would. No handle
    // is inherited.
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info)) {
        throw lastFailure();
    }
    CloseHandle(info.hThread);
    return std::make_unique<Win32Process>(info.hProcess);
}

std::unique_ptr<Process> Win32System::shellOpen(const std::string& programPath,
                                                const std::string& parameters) {
    SHELLEXECUTEINFOA request = {};
    request.cbSize = sizeof request;
    // No error dialog: nobody is there to close it, and the run would wait.
    request.fMask = SEE_MASK_NOCLOSEPROCESS | SEE_MASK_FLAG_NO_UI;
    request.lpVerb = "Open";
    request.lpFile = programPath.c_str();
    request.lpParameters = parameters.c_str();
    request.nShow = SW_HIDE;
    if (!ShellExecuteExA(&request) || request.hProcess == nullptr) return nullptr;
    return std::make_unique<Win32Process>(request.hProcess);
}

std::string Win32System::systemErrorText(std::uint32_t code) { return messageText(code); }

void Win32System::reportEvent(const std::string& text) {
    // No message file is registered for the source: the viewer shows the text
    // as the event's inserted string, which is all the entry needs to carry.
    const HANDLE source = RegisterEventSourceA(nullptr, "Quillet");
    if (source == nullptr) return;
    const char* strings[] = {text.c_str()};
    ReportEventA(source, EVENTLOG_ERROR_TYPE, 0, 1, nullptr, 1, 0, strings, nullptr);
    DeregisterEventSource(source);
}

}  // namespace quillet::os::win32
