#include "os/host/host_system.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <thread>

#include "os/host/ansi_text.h"
#include "os/host/host_folder.h"
#include "os/host/host_paths.h"
#include "os/host/posix.h"
#include "os/make_system.h"

extern char** environ;

namespace quillet::os::host {

namespace {

class HostProcess : public Process {
public:
    explicit HostProcess(pid_t pid) : pid_(pid) {
#ifdef SYS_pidfd_open
        pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
#endif
    }
    // Closing the handle leaves a running child running, as on Windows.
    ~HostProcess() override {
        if (pidfd_ >= 0) close(pidfd_);
    }
    std::uint32_t wait(std::uint32_t timeoutMs) override {
        if (reaped_) return kWaitObject0;
        if (timeoutMs == kWaitInfinite) return reap(0) ? kWaitObject0 : kWaitFailed;
        const auto deadline =
            std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        for (;;) {
            if (reap(WNOHANG)) return kWaitObject0;
            if (failed_) return kWaitFailed;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                                  deadline - std::chrono::steady_clock::now())
                                  .count();
            if (left <= 0) return kWaitTimeout;
            if (pidfd_ >= 0) {
                pollfd p{pidfd_, POLLIN, 0};
                poll(&p, 1, static_cast<int>(left > 1000000 ? 1000000 : left));
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(left < 20 ? left : 20));
            }
        }
    }
    std::uint32_t exitCode() override { return exitCode_; }
    void terminate(std::uint32_t code) override {
        if (reaped_) return;
        kill(pid_, SIGKILL);
        reap(0);
        exitCode_ = code;
    }

private:
    bool reap(int flags) {
        int status = 0;
        pid_t r;
        do {
            r = waitpid(pid_, &status, flags);
        } while (r < 0 && errno == EINTR);
        if (r < 0) {
            failed_ = true;
            return false;
        }
        if (r == 0) return false;
        reaped_ = true;
        exitCode_ = WIFEXITED(status) ? static_cast<std::uint32_t>(WEXITSTATUS(status))
                                      : 0xC0000000u | static_cast<std::uint32_t>(WTERMSIG(status));
        return true;
    }
    pid_t pid_;
    int pidfd_ = -1;
    bool reaped_ = false;
    bool failed_ = false;
    std::uint32_t exitCode_ = 259;
};

pid_t spawn(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
    if (rc != 0) throwErrno(rc);
    return pid;
}

bool isExecutableFile(const std::string& path) {
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

}  // namespace

HostSystem::HostSystem(std::string machineFolder) : machine_(std::move(machineFolder)) {}

std::string HostSystem::hostPath(const std::string& windowsPath) const {
    return mapPath(machine_, windowsPath);
}

std::size_t HostSystem::characterCount(const std::string& text) {
    return host::characterCount(text);
}

LocalTime HostSystem::now() { return toLocal(std::time(nullptr)); }

void HostSystem::sleep(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string HostSystem::timeSeparator() { return ":"; }

const RegistryFile& HostSystem::registry() {
    // Parsed once for a run's many reads: the program never writes the
    // registry, and what it starts (which may) drops the parse.
    if (!registry_)
        registry_ = std::make_unique<RegistryFile>(
            RegistryFile::load(machine_ + "/registry.reg", std::cerr));
    return *registry_;
}

void HostSystem::forgetReads() {
    ini_.forget();
    registry_.reset();
}

std::optional<RegValue> HostSystem::regQueryValue(const std::string& keyPath,
                                                  const std::string& valueName) {
    return registry().query(keyPath, valueName);
}

std::optional<std::vector<std::string>> HostSystem::regEnumSubkeys(const std::string& keyPath) {
    return registry().subkeys(keyPath);
}

PathStatus HostSystem::status(const std::string& path) {
    PathStatus status;
    const std::string p = hostPath(path);
    struct stat st {};
    if (lstat(p.c_str(), &st) != 0) {
        status.exists = errno != ENOENT && errno != ENOTDIR;
        return status;
    }
    status.exists = true;
    status.isLink = S_ISLNK(st.st_mode);
    // What a link leads to, as Windows' attribute calls show a Unix link.
    if (!status.isLink || stat(p.c_str(), &st) == 0) {
        status.isFile = S_ISREG(st.st_mode);
        status.isFolder = S_ISDIR(st.st_mode);
        status.size = status.isFile ? static_cast<std::uint64_t>(st.st_size) : 0;
    }
    const auto slash = p.find_last_of('/');
    status.storedName = slash == std::string::npos ? p : p.substr(slash + 1);
    return status;
}

bool HostSystem::ledAway(const std::string& path, bool withLast) {
    const bool refused = confinement_.ledAway(path, withLast, [this](const std::string& p) {
        struct stat st {};
        return lstat(hostPath(p).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
    });
    return refused;
}

void HostSystem::appendToFile(const std::string& path, const std::string& bytes) {
    ini_.forget();
    if (ledAway(path, true)) throwErrno(ELOOP);
    const int fd = open(hostPath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throwErrno(errno);
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int err = errno;
        close(fd);
        throwErrno(err);
    }
    // Windows refuses to open a read-only file for writing, whoever asks.
    // A second name of a file below the install folder (a hard link put in
    // the place of the log or a report) would have the run write into
    // whatever file it shares with.
    const int refused = (st.st_mode & 0222) == 0                       ? EACCES
                        : st.st_nlink > 1 && confinement_.covers(path) ? EMLINK
                                                                       : 0;
    if (refused != 0) {
        close(fd);
        throwErrno(refused);
    }
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            const int err = n < 0 ? errno : EIO;
            // Whole or not at all: what went in of a line that did not fit
            // would join the next line written.
            if (done > 0 && ftruncate(fd, st.st_size) != 0) {
                // Nothing more to try: the start of the line stays.
            }
            close(fd);
            throwErrno(err);
        }
        done += static_cast<std::size_t>(n);
    }
    if (close(fd) != 0) throwErrno(errno);
}

void HostSystem::deleteFile(const std::string& path) {
    // unlink removes a link itself, never its target; a read-only file goes too.
    if (ledAway(path, false)) throwErrno(ELOOP);
    if (unlink(hostPath(path).c_str()) != 0) throwErrno(errno);
}

void HostSystem::makeSureDirectoryPathExists(const std::string& path) {
    if (ledAway(path, false)) return;
    const std::string p = hostPath(path);
    const auto last = p.find_last_of('/');
    if (last == std::string::npos) return;
    for (std::size_t pos = 1; pos <= last; ++pos) {
        if (pos != last && p[pos] != '/') continue;
        const std::string prefix = p.substr(0, pos);
        if (prefix.empty()) continue;
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return;
    }
}

std::unique_ptr<Folder> HostSystem::openFolder(const std::string& path) {
    if (ledAway(path, true)) throwErrno(ELOOP);
    return openHostFolder(hostPath(path), confinement_.isAdministrators(path));
}

std::string HostSystem::iniGetString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue, std::size_t bufferSize,
                                     const std::string& file) {
    return ini_.getString(section, key, defaultValue, bufferSize, hostPath(file));
}

std::optional<Failure> HostSystem::iniWriteString(const std::string& section,
                                                  const std::string& key, const std::string& value,
                                                  const std::string& file) {
    if (ledAway(file, true)) return errnoFailure(ELOOP);
    errno = 0;
    if (ini_.writeString(section, key, value, hostPath(file))) return std::nullopt;
    return errnoFailure(errno != 0 ? errno : EACCES);
}

std::string HostSystem::iniGetSectionNames(std::size_t bufferSize, const std::string& file) {
    return ini_.getSectionNames(bufferSize, hostPath(file));
}

std::optional<std::vector<std::string>> HostSystem::activeServiceNames() {
    std::ifstream in(machine_ + "/services", std::ios::binary);
    if (!in) return std::nullopt;  // the service control manager refuses the connection
    std::vector<std::string> active;
    std::string line;
    int lineNumber = 0;
    while (std::getline(in, line)) {
        ++lineNumber;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> fields;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, '\t')) fields.push_back(field);
        static const char* const kStates[] = {"stopped", "start_pending",    "stop_pending",
                                              "running", "continue_pending", "pause_pending",
                                              "paused"};
        bool knownState = false;
        if (fields.size() >= 2)
            for (const char* s : kStates) knownState = knownState || fields[1] == s;
        const std::string type = fields.size() >= 3 ? fields[2] : "own";
        const bool knownType =
            type == "own" || type == "shared" || type == "kernel_driver" || type == "fs_driver";
        if (!knownState || !knownType || fields.size() > 3) {
            std::cerr << "services:" << lineNumber << ": line skipped: " << line << "\n";
            continue;
        }
        if (fields[1] != "stopped" && (type == "own" || type == "shared"))
            active.push_back(fields[0]);
    }
    return active;
}

std::string HostSystem::findProgram(const std::string& name) const {
    if (name.find('\\') != std::string::npos || name.find('/') != std::string::npos ||
        name.find(':') != std::string::npos)
        return isExecutableFile(hostPath(name)) ? hostPath(name) : std::string();
    std::vector<std::string> candidates{name};
    const std::string lower = lowerAscii(name);
    if (lower.size() > 4 && lower.compare(lower.size() - 4, 4, ".exe") == 0)
        candidates.push_back(name.substr(0, name.size() - 4));
    std::vector<std::string> dirs{machine_ + "/bin"};
    if (const char* path = std::getenv("PATH")) {
        std::stringstream ss(path);
        std::string dir;
        while (std::getline(ss, dir, ':'))
            if (!dir.empty()) dirs.push_back(dir);
    }
    for (const auto& dir : dirs)
        for (const auto& candidate : candidates)
            if (isExecutableFile(dir + "/" + candidate)) return dir + "/" + candidate;
    return {};
}

std::unique_ptr<Process> HostSystem::startCommandLine(const std::string& commandLine) {
    forgetReads();  // the program may write what was read
    const auto words = splitCommandLine(commandLine);
    if (words.empty()) throwErrno(ENOENT);
    const std::string first = lowerAscii(words[0]);
    if ((first == "cmd" || first == "cmd.exe") && words.size() >= 2 &&
        lowerAscii(words[1]) == "/c") {
        const auto at = lowerAscii(commandLine).find("/c");
        std::string rest = commandLine.substr(at + 2);
        if (!rest.empty() && rest[0] == ' ') rest.erase(0, 1);
        return std::make_unique<HostProcess>(spawn("/bin/sh", {"/bin/sh", "-c", rest}));
    }
    const std::string program = findProgram(words[0]);
    if (program.empty()) throwErrno(ENOENT);
    return std::make_unique<HostProcess>(spawn(program, words));
}

std::unique_ptr<Process> HostSystem::shellOpen(const std::string& programPath,
                                               const std::string& parameters) {
    forgetReads();
    const std::string program = hostPath(programPath);
    if (!isExecutableFile(program)) return nullptr;
    std::vector<std::string> args{program};
    for (auto& word : splitCommandLine(parameters)) args.push_back(word);
    try {
        return std::make_unique<HostProcess>(spawn(program, args));
    } catch (const Failure&) {
        return nullptr;
    }
}

void HostSystem::reportEvent(const std::string& text) { std::cerr << text << '\n' << std::flush; }

std::string HostSystem::systemErrorText(std::uint32_t code) {
    // The codes a wait reports are Windows' own; their texts are Windows' too.
    if (code == kWaitTimeout) return "The wait operation timed out.";
    if (code == 0 || code >= 4096) return {};
    return std::strerror(static_cast<int>(code));
}

}  // namespace quillet::os::host

namespace quillet::os {

namespace {
// A walk holds each folder of its path open, one descriptor a level. Windows
// goes some 16,000 levels deep; the usual soft limit of 1,024 descriptors
// would end the walk at about a thousand, so the soft limit goes up to the hard one.
void raiseOpenFileLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);  // a walk that still runs out fails as it would have
}
}  // namespace

std::unique_ptr<System> makeSystem() {
    raiseOpenFileLimit();
    const char* machine = std::getenv("QUILLET_MACHINE");
    return std::make_unique<host::HostSystem>(machine && *machine ? machine : "/etc/quillet");
}

void printToConsole(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    std::cout << out << std::flush;
}

}  // namespace quillet::os
