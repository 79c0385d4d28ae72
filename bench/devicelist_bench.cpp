// Time per device of the device list synchronisation (into a missing list, the
// best of three runs, and over a complete one) and of the validation, on the
// host substitutes.
//
//   bench_devicelist [--dir FOLDER] [COUNT ...]      (default counts: 100 1000 3000)
//
// The machine folder is made under FOLDER (default: $TMPDIR or /tmp) and
// removed at the end. The registry is held in memory; the device list and the
// status files are real files handled by the host INI engine.
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <unordered_map>
#include <vector>

#include "core/context.h"
#include "devicelist/sync.h"
#include "devicelist/validation.h"
#include "os/host/host_system.h"

namespace {

namespace fs = std::filesystem;
using namespace quillet;

std::string normal(std::string key) {
    while (!key.empty() && key.back() == '\\') key.pop_back();
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}

// The host substitutes with the registry in memory, so that the figures are
// those of the device list and not of parsing a large registry export.
class BenchSystem : public os::host::HostSystem {
public:
    explicit BenchSystem(const std::string& machine) : HostSystem(machine) {}

    void set(const std::string& key, const std::string& name, const std::string& text) {
        os::RegValue value{1, std::vector<unsigned char>(text.begin(), text.end())};
        value.data.push_back(0);
        values_[normal(key) + "|" + normal(name)] = std::move(value);
    }
    void addSubkey(const std::string& parent, const std::string& child) {
        subkeys_[normal(parent)].push_back(child);
    }

    std::optional<os::RegValue> regQueryValue(const std::string& key,
                                              const std::string& name) override {
        const auto it = values_.find(normal(key) + "|" + normal(name));
        if (it == values_.end()) return std::nullopt;
        return it->second;
    }
    std::optional<std::vector<std::string>> regEnumSubkeys(const std::string& key) override {
        const auto it = subkeys_.find(normal(key));
        if (it == subkeys_.end()) return std::nullopt;
        return it->second;
    }

private:
    std::unordered_map<std::string, os::RegValue> values_;
    std::unordered_map<std::string, std::vector<std::string>> subkeys_;
};

std::string encode(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (!out.empty()) out += 'H';
        out += std::to_string(c);
    }
    return out;
}

// Eight in ten devices are machines, one an other device, one a host.
void populate(BenchSystem& os, std::size_t count) {
    const std::string root = "Software\\KORBOD";
    os.set(root, "InstallationPath", "C:\\Agents\\KORBOD");
    os.set(root, "Type", "RULK");
    os.set(root, "RegID", "12345");
    const std::string machines = root + "\\ManagedMachines";
    const std::string others = root + "\\ManagedpOSIX";
    for (std::size_t i = 0; i < count; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "device-%05zu", i);
        const bool machine = i % 10 >= 2;
        const bool host = i % 10 == 0;
        const std::string parent = machine ? machines : others;
        const std::string key = parent + "\\" + name;
        os.addSubkey(parent, name);
        os.set(key, "RegID", "R" + std::to_string(i));
        os.set(key, "Type", host ? "5" : machine ? "1" : "2");
        os.set(key, "Category", i % 3 ? "LAN" : "WAN");
        os.set(key, "DaysToMonitor", "127");
        os.set(key, "PortTimeout", "30");
        os.set(key, "PingPackets", "4");
        os.set(key, "PingTimeout", "1000");
        os.set(key, "PingCycleCount", "3");
        os.set(key, "PerfCycleCount", "5");
        os.set(key, "ConnectionStatus", "1");
        os.set(key, "PingStatus", "1");
        os.set(key, "Interfacenos", "2");
        os.set(key, "OS", host ? "ESXi" : "Windows Server");
        os.set(key, "OSVer", "10.0.20348");
        if (host) {
            os.set(key, "MonitoringStatus", "1");
            os.set(key, "GenStTime", "09:00");
            os.set(key, "GenStpTime", "18:00");
            os.set(key, "LOCAL", "N");
            os.set(key, "APIType", i % 20 ? "HostAgent" : "VIM");
            os.set(key, "Host", std::string(name) + ".example.lan");
            os.set(key, "HostPath", "/dc1/host/cluster1");
            os.set(key, "UUID", "4c4c4544-0042-3510-8051-" + std::to_string(100000000000 + i));
            os.set(key, "VCenterIP", "10.0.0.9");
            os.set(key, "MORIDPath", "host-" + std::to_string(i));
            os.set(key, "MORTypePath", "HostSystem");
            os.set(key, "Port", "443");
        } else {
            os.set(key, "MonitoringStatus", encode("1"));
            os.set(key, "TypeOfMachine", encode("Windows"));
            os.set(key, "GenStTime", encode("09:00"));
            os.set(key, "GenStpTime", encode("18:00"));
            os.set(key, "LOCAL", encode(i == 2 ? "Y" : "N"));
        }
    }
}

// Wall-clock and processor time (user and system) of one piece of work. The
// machine may be shared: the processor time is the steadier of the two.
struct Timing {
    double wall = 0, cpu = 0;
};

double cpuNow() {
    timespec ts{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

Timing timed(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = cpuNow();
    work();
    return {std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
            cpuNow() - cpuStart};
}

// The fastest of a few runs: the figure least disturbed by other work on the machine.
Timing bestOf(int runs, const std::function<void()>& work) {
    Timing best = timed(work);
    for (int i = 1; i < runs; ++i) {
        const Timing t = timed(work);
        best.wall = std::min(best.wall, t.wall);
        best.cpu = std::min(best.cpu, t.cpu);
    }
    return best;
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

struct Figures {
    std::size_t count = 0;
    Timing fresh, complete, validate;  // seconds per device
    std::uintmax_t listBytes = 0;
    bool unchanged = false;
};

Timing perDevice(Timing t, std::size_t count) {
    return {t.wall / static_cast<double>(count), t.cpu / static_cast<double>(count)};
}

Figures measure(const std::string& parent, std::size_t count) {
    std::string folder = parent + "/quillet-bench-XXXXXX";
    if (!mkdtemp(folder.data())) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    BenchSystem os(folder);
    RunState run;
    Context ctx{os, run};
    populate(os, count);
    fs::create_directories(os.hostPath("C:\\Agents\\KORBOD\\Configuration"));
    const std::string list = os.hostPath("C:\\Agents\\KORBOD\\Configuration\\DeviceList.ini");

    Figures f;
    f.count = count;
    // Each fresh run starts without a list; its removal, one unlink, is timed too.
    f.fresh = perDevice(bestOf(3,
                               [&] {
                                   fs::remove(list);
                                   PriSubSyncDeviceList(ctx);
                               }),
                        count);
    const std::string before = readBytes(list);
    f.listBytes = before.size();
    const int runs = count <= 100 ? 20 : count <= 1000 ? 10 : 6;
    f.complete = perDevice(bestOf(runs, [&] { PriSubSyncDeviceList(ctx); }), count);
    f.unchanged = readBytes(list) == before;
    f.validate = perDevice(bestOf(runs, [&] { PriSubValidateDeviceList(ctx); }), count);
    if (!run.overallStatusOK)
        std::fprintf(stderr, "the synchronisation failed at %zu devices\n", count);

    std::error_code ec;
    fs::remove_all(folder, ec);
    return f;
}

}  // namespace

int main(int argc, char** argv) {
    const char* tmp = std::getenv("TMPDIR");
    std::string parent = tmp && *tmp ? tmp : "/tmp";
    std::vector<std::size_t> counts;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--dir" && i + 1 < argc) {
            parent = argv[++i];
        } else {
            const unsigned long long value = std::strtoull(argv[i], nullptr, 10);
            if (value == 0) {
                std::fprintf(stderr, "usage: bench_devicelist [--dir FOLDER] [COUNT ...]\n");
                return 2;
            }
            counts.push_back(static_cast<std::size_t>(value));
        }
    }
    if (counts.empty()) counts = {100, 1000, 3000};

    std::printf("microseconds per device, wall / processor\n");
    std::printf("%8s %12s %20s %20s %20s %10s\n", "devices", "list bytes", "fresh list",
                "complete list", "validation", "unchanged");
    std::vector<Figures> all;
    for (const std::size_t count : counts) {
        const Figures f = measure(parent, count);
        all.push_back(f);
        std::printf("%8zu %12ju %9.1f / %8.1f %9.1f / %8.1f %9.1f / %8.1f %10s\n", f.count,
                    f.listBytes, f.fresh.wall * 1e6, f.fresh.cpu * 1e6, f.complete.wall * 1e6,
                    f.complete.cpu * 1e6, f.validate.wall * 1e6, f.validate.cpu * 1e6,
                    f.unchanged ? "yes" : "NO");
        std::fflush(stdout);
    }
    if (all.size() >= 2) {
        const Figures& a = all.front();
        const Figures& b = all.back();
        std::printf(
            "per-device ratio %zu vs %zu devices (wall / processor): fresh %.2f / %.2f, "
            "complete %.2f / %.2f, validation %.2f / %.2f\n",
            b.count, a.count, b.fresh.wall / a.fresh.wall, b.fresh.cpu / a.fresh.cpu,
            b.complete.wall / a.complete.wall, b.complete.cpu / a.complete.cpu,
            b.validate.wall / a.validate.wall, b.validate.cpu / a.validate.cpu);
    }
    bool ok = true;
    for (const auto& f : all) ok = ok && f.unchanged;
    return ok ? 0 : 1;
}
