// Wall time and peak memory of the aged file sweeps and of the folder size
// walk on the host, each against the standard tool doing the same work:
//
//   log sweep, half the files past 5 days  vs  find DIR -type f ! -newermt CUTOFF -delete
//   data sweep, every file past the limit  vs  find DIR -mindepth 1 ! -newermt CUTOFF -delete
//   data sweep, no file past the limit     vs  the first find, matching no file
//   folderTreeSize                         vs  du -sb DIR
//
// over a flat tree and over chains of folders 12 deep. Targets: 1.1 for the
// sweeps, 1.0 for the size. Every destructive run gets a fresh tree. Each run is a child
// process, so its peak resident size (ru_maxrss) is its own.
//
//   bench_sweeps [--files N] [--folders M] [--dir FOLDER]
//
// Defaults: 200000 files in 2000 folders, under $TMPDIR or /tmp.
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "core/context.h"
#include "housekeeping/aged_files.h"
#include "housekeeping/folder_size.h"
#include "os/host/host_system.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;
using namespace quillet;

constexpr long kDay = 86400;

// The host system with "now" moved by a number of seconds, so that files made
// just now can be past the data sweep's limit of creation age.
class ShiftedHost : public os::host::HostSystem {
public:
    ShiftedHost(const std::string& machine, long shiftSeconds)
        : HostSystem(machine), shift_(shiftSeconds) {}
    os::LocalTime now() override {
        const std::time_t t = std::time(nullptr) + shift_;
        std::tm tm{};
        localtime_r(&t, &tm);
        return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
    }

private:
    long shift_;
};

struct Options {
    long files = 200000;
    long folders = 2000;
    std::string dir;
};

struct Shape {
    const char* name;
    int depth;  // 1: every folder right under the root; 12: chains of 12 nested folders
};

// The host path (relative to the root) of folder j of a tree.
std::string folderOf(const Shape& shape, long j) {
    if (shape.depth <= 1) return "f" + std::to_string(j);
    std::string path = "c" + std::to_string(j / shape.depth);
    for (long level = 0; level < j % shape.depth; ++level) path += "/d";
    return path;
}

// Builds a tree of `files` files of 64 bytes spread over `folders` folders;
// every second file gets a modification time 30 days back.
void buildTree(const std::string& root, const Shape& shape, const Options& o) {
    fs::create_directories(root);
    for (long j = 0; j < o.folders; ++j) fs::create_directories(root + "/" + folderOf(shape, j));
    const std::string bytes(64, 'q');
    const std::time_t old = std::time(nullptr) - 30 * kDay;
    const timespec oldTimes[2] = {{old, 0}, {old, 0}};
    for (long j = 0; j < o.folders; ++j) {
        const std::string folder = root + "/" + folderOf(shape, j);
        const int dir = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir < 0) throw std::runtime_error("cannot open " + folder);
        for (long i = j; i < o.files; i += o.folders) {
            const std::string name = "file" + std::to_string(i) + ".dat";
            const int fd =
                openat(dir, name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
            if (fd < 0 ||
                write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
                throw std::runtime_error("cannot write " + folder + "/" + name);
            if (i % 2 == 0 && futimens(fd, oldTimes) != 0) throw std::runtime_error("futimens");
            close(fd);
        }
        close(dir);
    }
}

void removeTree(const std::string& root) {
    std::error_code ec;
    fs::remove_all(root, ec);
}

long countFiles(const std::string& root) {
    long n = 0;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
        if (it->is_regular_file(ec)) ++n;
    return n;
}

struct Measure {
    double seconds = 0;     // wall time
    double cpuSeconds = 0;  // user + system time of the process
    long maxRssKb = 0;
};

double secondsOf(const timeval& t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

Measure waitFor(pid_t pid, std::chrono::steady_clock::time_point start) {
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("a measured run failed");
    const auto end = std::chrono::steady_clock::now();
    return {std::chrono::duration<double>(end - start).count(),
            secondsOf(usage.ru_utime) + secondsOf(usage.ru_stime), usage.ru_maxrss};
}

// Runs `work` in a child process.
Measure ours(const std::function<void()>& work) {
    std::fflush(nullptr);
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        try {
            work();
        } catch (...) {
            _exit(1);
        }
        _exit(0);
    }
    return waitFor(pid, start);
}

Measure theirs(const std::vector<std::string>& args) {
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start " + args[0]);
    posix_spawn_file_actions_destroy(&actions);
    return waitFor(pid, start);
}

std::string cutoff(long secondsFromNow) {
    return "@" + std::to_string(static_cast<long long>(std::time(nullptr) + secondsFromNow));
}

std::vector<std::string> findDelete(const std::string& root, long cutoffFromNow) {
    return {"find", root, "-type", "f", "!", "-newermt", cutoff(cutoffFromNow), "-delete"};
}

// Building and removing a tree of this size leaves the kernel work of
// freeing its inodes and dentries to whatever runs next, and on a shared
// machine other load comes and goes: each side runs three times, in turns
// that alternate which goes first, and its best run counts.
Measure bestOf(const std::vector<Measure>& runs) {
    Measure best = runs.front();
    for (const Measure& m : runs) {
        best.seconds = std::min(best.seconds, m.seconds);
        best.cpuSeconds = std::min(best.cpuSeconds, m.cpuSeconds);
        best.maxRssKb = std::max(best.maxRssKb, m.maxRssKb);
    }
    return best;
}

std::pair<Measure, Measure> alternating(const std::function<Measure()>& a,
                                        const std::function<Measure()>& b) {
    std::vector<Measure> as, bs;
    for (int turn = 0; turn < 3; ++turn) {
        if (turn % 2 == 0) {
            as.push_back(a());
            bs.push_back(b());
        } else {
            bs.push_back(b());
            as.push_back(a());
        }
    }
    return {bestOf(as), bestOf(bs)};
}

struct Bench {
    Options o;
    std::string machine;  // the host machine folder; trees live under drives/c/
    int failures = 0;

    std::string hostRoot(const std::string& tree) const { return machine + "/drives/c/" + tree; }
    static std::string windowsRoot(const std::string& tree) { return "C:\\" + tree + "\\"; }

    Measure logSweep(const std::string& tree) {
        return ours([&] {
            ShiftedHost host(machine, 0);
            RunState run;
            Context ctx{host, run};
            PriSubDeleteLogs(ctx, windowsRoot(tree));
            if (!run.overallStatusOK) throw std::runtime_error("sweep failed");
        });
    }
    Measure dataSweep(const std::string& tree, long shiftDays) {
        return ours([&] {
            ShiftedHost host(machine, shiftDays * kDay);
            RunState run;
            Context ctx{host, run};
            PriSubDeleteOldData(ctx, windowsRoot(tree), 14);
            if (!run.overallStatusOK) throw std::runtime_error("sweep failed");
        });
    }
    Measure treeSize(const std::string& tree, std::uint64_t expected) {
        return ours([&] {
            ShiftedHost host(machine, 0);
            if (folderTreeSize(host, windowsRoot(tree)) != expected)
                throw std::runtime_error("wrong size");
        });
    }

    void check(bool ok, const std::string& what) {
        if (!ok) {
            std::printf("  CHECK FAILED: %s\n", what.c_str());
            ++failures;
        }
    }
    // The target is on wall time; CPU time is shown because wall time on a
    // shared machine also carries other people's load and disk writes.
    void row(const char* what, const Measure& a, const Measure& b, double target) {
        const double ratio = a.seconds / b.seconds;
        std::printf("%-34s %8.3f %8.3f %6.2f %s %8.3f %8.3f %6.2f   %6ld %6ld\n", what, a.seconds,
                    b.seconds, ratio, ratio <= target ? "ok  " : "SLOW", a.cpuSeconds, b.cpuSeconds,
                    a.cpuSeconds / b.cpuSeconds, a.maxRssKb, b.maxRssKb);
        if (ratio > target) ++failures;
    }

    // A fresh tree for one destructive run.
    std::string fresh(const std::string& tree, const Shape& shape) {
        removeTree(hostRoot(tree));
        buildTree(hostRoot(tree), shape, o);
        // The tree's own writes are not the measured run's: whoever ran
        // first would pay for them.
        ::sync();
        return tree;
    }
};

Options parse(int argc, char** argv) {
    Options o;
    const char* tmp = std::getenv("TMPDIR");
    o.dir = tmp && *tmp ? tmp : "/tmp";
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string flag = argv[i];
        if (flag == "--files")
            o.files = std::atol(argv[i + 1]);
        else if (flag == "--folders")
            o.folders = std::atol(argv[i + 1]);
        else if (flag == "--dir")
            o.dir = argv[i + 1];
        else
            throw std::runtime_error(
                "usage: bench_sweeps [--files N] [--folders M] [--dir FOLDER]");
    }
    if (o.files < 2 || o.folders < 1)
        throw std::runtime_error("need at least 2 files and 1 folder");
    return o;
}

int run(const Options& options) {
    Bench b{options, {}};
    std::string tmpl = options.dir + "/bench-sweeps-XXXXXX";
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed in " + options.dir);
    b.machine = tmpl;
    const long half = options.files / 2;
    const long young = options.files - half;
    // The walk may cost what find and du cost, which make one status call
    // per entry and one deletion per deleted entry, relative to an open folder.
    constexpr double kSweepTarget = 1.1, kSizeTarget = 1.0;

    std::printf("%ld files in %ld folders under %s\n", options.files, options.folders,
                b.machine.c_str());
    Measure logFlat, dataAllFlat;
    for (const Shape& shape : {Shape{"flat", 1}, Shape{"12 deep", 12}}) {
        std::printf("\n%-34s %-27s %-24s %s\n", shape.name, "wall s: ours theirs ratio",
                    "cpu s: ours theirs ratio", "peak KB: ours theirs");
        // Log sweep: half the files are 30 days old; find deletes those older than 10 days.
        const auto [log, findLog] = alternating(
            [&] {
                const Measure m = b.logSweep(b.fresh("t", shape));
                b.check(countFiles(b.hostRoot("t")) == young, "log sweep left the young half");
                return m;
            },
            [&] {
                const Measure m = theirs(findDelete(b.hostRoot(b.fresh("t", shape)), -10 * kDay));
                b.check(countFiles(b.hostRoot("t")) == young, "find left the young half");
                return m;
            });
        b.row("log sweep (half old)", log, findLog, kSweepTarget);

        // Data sweep with every file past 14 days of creation age, the emptied
        // folders removed, against find deleting every file and folder by a
        // test that needs each one's status, as the sweep needs its date.
        const auto [dataAll, findAll] = alternating(
            [&] {
                const Measure m = b.dataSweep(b.fresh("t", shape), 30);
                b.check(countFiles(b.hostRoot("t")) == 0 && fs::is_empty(b.hostRoot("t")),
                        "data sweep emptied the tree");
                return m;
            },
            [&] {
                return theirs({"find", b.hostRoot(b.fresh("t", shape)), "-mindepth", "1", "!",
                               "-newermt", cutoff(kDay), "-delete"});
            });
        b.row("data sweep (all past the limit)", dataAll, findAll, kSweepTarget);

        // Walks that delete nothing, on one tree: the data sweep with no file
        // past its limit, find matching nothing, then the size walk against du.
        b.fresh("t", shape);
        const auto [dataNone, findNone] = alternating(
            [&] {
                const Measure m = b.dataSweep("t", 0);
                b.check(countFiles(b.hostRoot("t")) == options.files, "nothing deleted");
                return m;
            },
            [&] { return theirs(findDelete(b.hostRoot("t"), -3650 * kDay)); });
        b.row("data sweep (none past the limit)", dataNone, findNone, kSweepTarget);
        const auto [size, du] = alternating(
            [&] { return b.treeSize("t", static_cast<std::uint64_t>(options.files) * 64); },
            [&] {
                return theirs({"du", "-sb", b.hostRoot("t")});
            });
        b.row("folderTreeSize vs du -sb", size, du, kSizeTarget);
        for (const Measure* m : {&log, &dataAll, &dataNone, &size})
            b.check(m->maxRssKb < 32 * 1024, "peak memory under 32 MB");
        if (shape.depth == 1) logFlat = log, dataAllFlat = dataAll;
    }

    // Peak memory must not follow the number of files: a tenth of the files.
    Options small = options;
    small.files = options.files / 10;
    Bench s{small, b.machine};
    const Shape flat{"flat", 1};
    Measure logSmall = s.logSweep(s.fresh("t", flat));
    Measure dataSmall = s.dataSweep(s.fresh("t", flat), 30);
    std::printf("\npeak resident size (KB)            %ld files  %ld files\n", small.files,
                options.files);
    std::printf("  log sweep                        %8ld  %8ld\n", logSmall.maxRssKb,
                logFlat.maxRssKb);
    std::printf("  data sweep                       %8ld  %8ld\n", dataSmall.maxRssKb,
                dataAllFlat.maxRssKb);
    b.check(logFlat.maxRssKb < logSmall.maxRssKb + 2048 &&
                dataAllFlat.maxRssKb < dataSmall.maxRssKb + 2048,
            "peak memory does not grow with the file count");

    removeTree(b.machine);
    std::printf("\n%s\n", b.failures + s.failures == 0 ? "all targets met" : "TARGETS MISSED");
    return b.failures + s.failures == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(parse(argc, argv));
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_sweeps: %s\n", e.what());
        return 2;
    }
}
