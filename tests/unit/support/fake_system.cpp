#include "support/fake_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "common/text.h"

namespace fs = std::filesystem;

namespace quillet::testing {

namespace {
std::string normalKey(std::string key) {
    while (!key.empty() && key.back() == '\\') key.pop_back();
    for (char& c : key)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return key;
}
}  // namespace

TempMachine::TempMachine() {
    std::string tmpl = (fs::temp_directory_path() / "quillet-unit-XXXXXX").string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    path_ = tmpl;
}

TempMachine::~TempMachine() {
    std::error_code ec;
    // Tests make files read-only; give write back so the folder can go.
    for (auto it = fs::recursive_directory_iterator(path_, ec); it != fs::recursive_directory_iterator();
         it.increment(ec))
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(path_, ec);
}

FakeSystem::FakeSystem(const std::string& machine, std::string commandText)
    : HostSystem(machine, commandText), command(std::move(commandText)) {}

void FakeSystem::sleep(std::uint32_t ms) {
    sleeps.push_back(ms);
    advanceSeconds(static_cast<long>(ms / 1000));
}

void FakeSystem::advanceSeconds(long seconds) {
    long day = dayNumber(clock);
    long secs = clock.hour * 3600L + clock.minute * 60L + clock.second + seconds;
    day += secs >= 0 ? secs / 86400 : -((-secs + 86399) / 86400);
    secs = ((secs % 86400) + 86400) % 86400;
    // civil_from_days
    long z = day + 719468;
    const long era = (z >= 0 ? z : z - 146096) / 146097;
    const long doe = z - era * 146097;
    const long yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const long doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const long mp = (5 * doy + 2) / 153;
    const long d = doy - (153 * mp + 2) / 5 + 1;
    const long m = mp < 10 ? mp + 3 : mp - 9;
    clock.year = static_cast<int>(yoe + era * 400 + (m <= 2 ? 1 : 0));
    clock.month = static_cast<int>(m);
    clock.day = static_cast<int>(d);
    clock.hour = static_cast<int>(secs / 3600);
    clock.minute = static_cast<int>(secs / 60 % 60);
    clock.second = static_cast<int>(secs % 60);
}

void FakeSystem::setValue(const std::string& key, const std::string& name, std::uint32_t type,
                          std::vector<unsigned char> data) {
    addKey(key);
    values_[normalKey(key) + "|" + normalKey(name)] = os::RegValue{type, std::move(data)};
}

void FakeSystem::setString(const std::string& key, const std::string& name,
                           const std::string& text) {
    std::vector<unsigned char> data(text.begin(), text.end());
    data.push_back(0);
    setValue(key, name, 1, std::move(data));
}

void FakeSystem::addKey(const std::string& key) {
    std::string k = normalKey(key);
    while (!k.empty()) {
        keys_.insert(k);
        const auto slash = k.find_last_of('\\');
        if (slash == std::string::npos) break;
        k = k.substr(0, slash);
    }
}

std::optional<os::RegValue> FakeSystem::regQueryValue(const std::string& keyPath,
                                                      const std::string& valueName) {
    const auto it = values_.find(normalKey(keyPath) + "|" + normalKey(valueName));
    if (it == values_.end()) return std::nullopt;
    return it->second;
}

std::optional<std::vector<std::string>> FakeSystem::regEnumSubkeys(const std::string& keyPath) {
    const std::string k = normalKey(keyPath);
    if (!keys_.count(k)) return std::nullopt;
    std::vector<std::string> names;
    for (const auto& other : keys_)
        if (other.size() > k.size() + 1 && other.compare(0, k.size() + 1, k + "\\") == 0 &&
            other.find('\\', k.size() + 1) == std::string::npos)
            names.push_back(other.substr(k.size() + 1));
    return names;
}

void FakeSystem::failOn(const std::string& operation, const std::string& pathSuffix, long number,
                        const std::string& description) {
    failures_.push_back({operation, pathSuffix, number, description});
}

void FakeSystem::failOnceOn(const std::string& operation, const std::string& pathSuffix,
                            long number, const std::string& description) {
    failures_.push_back({operation, pathSuffix, number, description, true});
}

void FakeSystem::failIfInjected(const std::string& operation, const std::string& path) {
    for (auto& f : failures_) {
        if (f.operation != operation || f.spent || !endsWith(path, f.suffix)) continue;
        if (f.once) f.spent = true;
        throw Failure(f.number, f.description);
    }
}

void FakeSystem::maybeFail(const std::string& operation, const std::string& path) {
    calls.push_back(operation + " " + path);
    failIfInjected(operation, path);
}

namespace {
// Wraps a host listing for the "listEntry" faults and, when asked, name order.
class FakeListing : public os::FolderListing {
public:
    FakeListing(FakeSystem& system, std::string folder, std::unique_ptr<os::FolderListing> inner,
                bool sorted)
        : system_(system), folder_(std::move(folder)), inner_(std::move(inner)), sorted_(sorted) {}
    bool next(os::FolderEntry& entry) override {
        if (sorted_) {
            if (!drained_) {
                os::FolderEntry e;
                while (inner_->next(e)) entries_.push_back(e);
                std::sort(entries_.begin(), entries_.end(),
                          [](const os::FolderEntry& a, const os::FolderEntry& b) { return a.name < b.name; });
                drained_ = true;
            }
            if (at_ == entries_.size()) return false;
            entry = entries_[at_++];
        } else if (!inner_->next(entry)) {
            return false;
        }
        system_.failIfInjected("listEntry", folder_ + entry.name);
        return true;
    }

private:
    FakeSystem& system_;
    std::string folder_;
    std::unique_ptr<os::FolderListing> inner_;
    bool sorted_;
    bool drained_ = false;
    std::vector<os::FolderEntry> entries_;
    std::size_t at_ = 0;
};
}  // namespace

void FakeSystem::appendToFile(const std::string& path, const std::string& bytes) {
    maybeFail("appendToFile", path);
    HostSystem::appendToFile(path, bytes);
}
void FakeSystem::deleteFile(const std::string& path) {
    maybeFail("deleteFile", path);
    HostSystem::deleteFile(path);
}
std::unique_ptr<os::FolderListing> FakeSystem::listFolder(const std::string& folderPath) {
    maybeFail("listFolder", folderPath);
    std::string folder = folderPath;
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    return std::make_unique<FakeListing>(*this, folder, HostSystem::listFolder(folderPath),
                                         sortedListings);
}
std::uint64_t FakeSystem::fileSize(const std::string& path) {
    maybeFail("fileSize", path);
    return HostSystem::fileSize(path);
}
void FakeSystem::removeFolder(const std::string& path) {
    maybeFail("removeFolder", path);
    HostSystem::removeFolder(path);
}
bool FakeSystem::iniWriteString(const std::string& section, const std::string& key,
                                const std::string& value, const std::string& file) {
    maybeFail("iniWriteString", file);
    return HostSystem::iniWriteString(section, key, value, file);
}

std::unique_ptr<os::Process> FakeSystem::startCommandLine(const std::string& commandLine,
                                                          int windowStyle) {
    maybeFail("startCommandLine", commandLine);
    return HostSystem::startCommandLine(commandLine, windowStyle);
}

FakeRun::FakeRun() {
    os.setString("Software\\KORBOD", "InstallationPath", "C:\\Agents\\KORBOD");
    os.setString("Software\\KORBOD", "Type", "RULK");
    os.setString("Software\\KORBOD", "RegID", "12345");
    fs::create_directories(hostFile(""));
}

std::string FakeRun::hostFile(const std::string& relative) const {
    return os.hostPath(install + relative);
}

void FakeRun::writeFile(const std::string& relative, const std::string& bytes) const {
    const fs::path p = hostFile(relative);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

bool FakeRun::exists(const std::string& relative) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(hostFile(relative), ec));
}

std::string FakeRun::read(const std::string& relative) const {
    std::ifstream in(hostFile(relative), std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::vector<std::string> FakeRun::logMessages() const {
    const std::string text = read("ApplicationLog\\MNStatusLog.txt");
    std::vector<std::string> messages;
    std::string::size_type start = 0;
    while (start < text.size()) {
        auto end = text.find("\r\n", start);
        if (end == std::string::npos) end = text.size();
        const std::string line = text.substr(start, end - start);
        const auto tab = line.find('\t');
        messages.push_back(tab == std::string::npos ? line : line.substr(tab + 1));
        start = end + 2;
    }
    return messages;
}

std::vector<std::string> FakeRun::reportFiles() const {
    std::vector<std::string> names;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(hostFile("PMStatus"), ec))
        names.push_back(e.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

}  // namespace quillet::testing
