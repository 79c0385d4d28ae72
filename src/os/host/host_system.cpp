#include "os/host/host_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
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

#include "os/host/host_paths.h"
#include "os/make_system.h"

extern char** environ;

namespace quillet::os::host {

namespace {

[[noreturn]] void throwErrno(int err) { throw Failure(err, std::strerror(err)); }

LocalTime toLocal(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

// One status call per entry: type, size, modification time and birth time
// (the status-change time where the file system records no birth time).
struct EntryStatus {
    mode_t mode = 0;
    std::uint64_t size = 0;
    std::time_t modified = 0, created = 0;
};

bool statusOf(int dirFd, const char* name, int flags, EntryStatus& out) {
#ifdef STATX_BTIME
    struct statx sx {};
    if (statx(dirFd, name, flags, STATX_TYPE | STATX_SIZE | STATX_MTIME | STATX_CTIME | STATX_BTIME,
              &sx) == 0) {
        out.mode = sx.stx_mode;
        out.size = sx.stx_size;
        out.modified = static_cast<std::time_t>(sx.stx_mtime.tv_sec);
        out.created = static_cast<std::time_t>((sx.stx_mask & STATX_BTIME) ? sx.stx_btime.tv_sec
                                                                           : sx.stx_ctime.tv_sec);
        return true;
    }
    if (errno != ENOSYS) return false;
#endif
    struct stat st {};
    if (fstatat(dirFd, name, &st, flags) != 0) return false;
    out.mode = st.st_mode;
    out.size = static_cast<std::uint64_t>(st.st_size);
    out.modified = st.st_mtime;
    out.created = st.st_ctime;
    return true;
}

class HostListing : public FolderListing {
public:
    explicit HostListing(const std::string& path) : dir_(opendir(path.c_str())) {
        if (!dir_) throwErrno(errno);
    }
    ~HostListing() override { closedir(dir_); }
    bool next(FolderEntry& entry) override {
        for (;;) {
            errno = 0;
            const dirent* d = readdir(dir_);
            if (!d) {
                if (errno != 0) throwErrno(errno);
                return false;
            }
            if (std::strcmp(d->d_name, ".") == 0 || std::strcmp(d->d_name, "..") == 0) continue;
            EntryStatus st;
            if (!statusOf(dirfd(dir_), d->d_name, AT_SYMLINK_NOFOLLOW, st)) {
                if (errno == ENOENT) continue;  // gone since it was listed
                throwErrno(errno);
            }
            entry.name = d->d_name;
            entry.isLink = S_ISLNK(st.mode);
            if (entry.isLink) {
                EntryStatus target;
                entry.isFolder = statusOf(dirfd(dir_), d->d_name, 0, target) && S_ISDIR(target.mode);
                entry.size = 0;
            } else {
                entry.isFolder = S_ISDIR(st.mode);
                entry.size = entry.isFolder ? 0 : st.size;
            }
            entry.modified = toLocal(st.modified);
            entry.created = toLocal(st.created);
            return true;
        }
    }

private:
    DIR* dir_;
};

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

std::string lowerAscii(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

}  // namespace

HostSystem::HostSystem(std::string machineFolder, std::string commandText)
    : machine_(std::move(machineFolder)), commandText_(std::move(commandText)) {}

std::string HostSystem::hostPath(const std::string& windowsPath) const {
    return mapPath(machine_, windowsPath);
}

std::string HostSystem::commandText() { return commandText_; }

LocalTime HostSystem::now() { return toLocal(std::time(nullptr)); }

void HostSystem::sleep(std::uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

std::string HostSystem::timeSeparator() { return ":"; }

const RegistryFile& HostSystem::registry() {
    // The parsed file is kept while the file on disk is unchanged, so that a
    // run's many reads cost one parse.
    const std::string path = machine_ + "/registry.reg";
    FileStamp stamp;
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        stamp.exists = true;
        stamp.size = static_cast<std::uint64_t>(st.st_size);
        stamp.inode = static_cast<std::uint64_t>(st.st_ino);
        stamp.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    }
    if (!registry_ || !(stamp == registryStamp_)) {
        registry_ = std::make_unique<RegistryFile>(RegistryFile::load(path, std::cerr));
        registryStamp_ = stamp;
    }
    return *registry_;
}

std::optional<RegValue> HostSystem::regQueryValue(const std::string& keyPath,
                                                  const std::string& valueName) {
    return registry().query(keyPath, valueName);
}

std::optional<std::vector<std::string>> HostSystem::regEnumSubkeys(const std::string& keyPath) {
    return registry().subkeys(keyPath);
}

bool HostSystem::fileExists(const std::string& path) {
    struct stat st {};
    return stat(hostPath(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::optional<std::string> HostSystem::storedFileName(const std::string& path) {
    if (!fileExists(path)) return std::nullopt;
    const std::string p = hostPath(path);
    const auto slash = p.find_last_of('/');
    return slash == std::string::npos ? p : p.substr(slash + 1);
}

bool HostSystem::folderExists(const std::string& path) {
    struct stat st {};
    return stat(hostPath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool HostSystem::entryExists(const std::string& path) {
    struct stat st {};
    return lstat(hostPath(path).c_str(), &st) == 0;
}

std::uint64_t HostSystem::fileSize(const std::string& path) {
    struct stat st {};
    if (stat(hostPath(path).c_str(), &st) != 0) throwErrno(errno);
    return static_cast<std::uint64_t>(st.st_size);
}

void HostSystem::appendToFile(const std::string& path, const std::string& bytes) {
    const int fd = open(hostPath(path).c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) throwErrno(errno);
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            const int err = errno;
            close(fd);
            throwErrno(err);
        }
        done += static_cast<std::size_t>(n);
    }
    if (close(fd) != 0) throwErrno(errno);
}

void HostSystem::deleteFile(const std::string& path) {
    // unlink removes a link itself, never its target; a read-only file goes too.
    if (unlink(hostPath(path).c_str()) != 0) throwErrno(errno);
}

bool HostSystem::deleteFilePlain(const std::string& path) {
    return unlink(hostPath(path).c_str()) == 0;
}

void HostSystem::removeFolder(const std::string& path) {
    std::string p = hostPath(path);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    struct stat st {};
    if (lstat(p.c_str(), &st) != 0) throwErrno(errno);
    if (S_ISLNK(st.st_mode) ? unlink(p.c_str()) != 0 : rmdir(p.c_str()) != 0) throwErrno(errno);
}

bool HostSystem::makeSureDirectoryPathExists(const std::string& path) {
    const std::string p = hostPath(path);
    const auto last = p.find_last_of('/');
    if (last == std::string::npos) return true;
    for (std::size_t pos = 1; pos <= last; ++pos) {
        if (pos != last && p[pos] != '/') continue;
        const std::string prefix = p.substr(0, pos);
        if (prefix.empty()) continue;
        if (mkdir(prefix.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
    struct stat st {};
    return stat(p.substr(0, last).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::unique_ptr<FolderListing> HostSystem::listFolder(const std::string& folderPath) {
    return std::make_unique<HostListing>(hostPath(folderPath));
}

std::string HostSystem::iniGetString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue, std::size_t bufferSize,
                                     const std::string& file) {
    return ini_.getString(section, key, defaultValue, bufferSize, hostPath(file));
}

bool HostSystem::iniWriteString(const std::string& section, const std::string& key,
                                const std::string& value, const std::string& file) {
    return ini_.writeString(section, key, value, hostPath(file));
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
        static const char* const kStates[] = {"stopped",      "start_pending",    "stop_pending",
                                              "running",      "continue_pending", "pause_pending",
                                              "paused"};
        bool knownState = false;
        if (fields.size() >= 2)
            for (const char* s : kStates) knownState = knownState || fields[1] == s;
        const std::string type = fields.size() >= 3 ? fields[2] : "own";
        const bool knownType = type == "own" || type == "shared" || type == "kernel_driver" ||
                               type == "fs_driver";
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

std::unique_ptr<Process> HostSystem::startCommandLine(const std::string& commandLine, int) {
    const auto words = splitCommandLine(commandLine);
    if (words.empty()) throwErrno(ENOENT);
    const std::string first = lowerAscii(words[0]);
    if ((first == "cmd" || first == "cmd.exe") && words.size() >= 2 && lowerAscii(words[1]) == "/c") {
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
    const std::string program = hostPath(programPath);
    if (!isExecutableFile(program)) return nullptr;
    std::vector<std::string> args{program};
    for (auto& word : splitCommandLine(parameters)) args.push_back(word);
    try {
        return std::make_unique<HostProcess>(spawn(program, args));
    } catch (const Failure& f) {
        lastError_ = static_cast<std::uint32_t>(f.number);
        return nullptr;
    }
}

std::string HostSystem::systemErrorText(std::uint32_t code) {
    if (code == 0) code = lastError_;
    // The codes a wait reports are Windows' own; their texts are Windows' too.
    if (code == kWaitTimeout) return "The wait operation timed out.";
    if (code == 0 || code >= 4096) return {};
    return std::strerror(static_cast<int>(code));
}

}  // namespace quillet::os::host

namespace quillet::os {

std::unique_ptr<System> makeSystem(std::string commandText) {
    const char* machine = std::getenv("QUILLET_MACHINE");
    return std::make_unique<host::HostSystem>(machine && *machine ? machine : "/etc/quillet",
                                              std::move(commandText));
}

void printToConsole(const std::string& text) {
    std::string out;
    for (char c : text)
        if (c != '\r') out += c;
    std::cout << out << std::flush;
}

}  // namespace quillet::os
