#include "support/fake_system.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "core/text.h"

namespace fs = std::filesystem;

namespace quillet::testing {

namespace {
bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

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
    for (auto it = fs::recursive_directory_iterator(path_, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec))
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
// Wraps a host folder for the injected faults, the swap hook and, when
// asked, name order. `path` is the folder's Windows path with its final "\".
class FakeFolder : public os::Folder {
public:
    FakeFolder(FakeSystem& system, std::string path, std::unique_ptr<os::Folder> inner)
        : system_(system), path_(std::move(path)), inner_(std::move(inner)) {}
    bool next(os::FolderEntry& entry) override {
        if (system_.sortedListings) {
            if (!drained_) {
                os::FolderEntry e;
                while (inner_->next(e)) entries_.push_back(e);
                std::sort(entries_.begin(), entries_.end(),
                          [](const os::FolderEntry& a, const os::FolderEntry& b) {
                              return a.name < b.name;
                          });
                drained_ = true;
            }
            if (at_ == entries_.size()) return false;
            entry = entries_[at_++];
        } else if (!inner_->next(entry)) {
            return false;
        }
        system_.failIfInjected("listEntry", path_ + entry.name);
        return true;
    }
    std::unique_ptr<os::Folder> openSubfolder(const os::FolderEntry& entry) override {
        const std::string path = path_ + entry.name + "\\";
        if (system_.beforeOpenSubfolder) system_.beforeOpenSubfolder(path);
        system_.failIfInjected("listFolder", path);
        system_.calls.push_back("listFolder " + path);
        auto inner = inner_->openSubfolder(entry);
        if (!inner) return nullptr;
        return std::make_unique<FakeFolder>(system_, path, std::move(inner));
    }
    bool remove(const os::FolderEntry& entry) override {
        const bool realFolder = entry.isFolder && !entry.isLink;
        const std::string path = path_ + entry.name + (realFolder ? "\\" : "");
        system_.failIfInjected(realFolder ? "removeFolder" : "deleteFile", path);
        system_.calls.push_back((realFolder ? "removeFolder " : "deleteFile ") + path);
        return inner_->remove(entry);
    }

private:
    FakeSystem& system_;
    std::string path_;
    std::unique_ptr<os::Folder> inner_;
    bool drained_ = false;
    std::vector<os::FolderEntry> entries_;
    std::size_t at_ = 0;
};
}  // namespace

std::unique_ptr<os::Folder> FakeSystem::openFolder(const std::string& path) {
    std::string folder = path;
    if (folder.empty() || folder.back() != '\\') folder += '\\';
    maybeFail("listFolder", folder);
    return std::make_unique<FakeFolder>(*this, folder, HostSystem::openFolder(path));
}

void FakeSystem::appendToFile(const std::string& path, const std::string& bytes) {
    maybeFail("appendToFile", path);
    HostSystem::appendToFile(path, bytes);
}
void FakeSystem::deleteFile(const std::string& path) {
    maybeFail("deleteFile", path);
    HostSystem::deleteFile(path);
}
std::uint64_t FakeSystem::fileSize(const std::string& path) {
    maybeFail("fileSize", path);
    return HostSystem::fileSize(path);
}
void FakeSystem::refuseIniWrites(const std::string& pathSuffix, int afterWrites, long number,
                                 const std::string& description) {
    refusal_ = {pathSuffix, afterWrites, Failure(number, description)};
}

Failure FakeSystem::lastFailure() { return refused_ ? *refused_ : HostSystem::lastFailure(); }

bool FakeSystem::iniWriteString(const std::string& section, const std::string& key,
                                const std::string& value, const std::string& file) {
    maybeFail("iniWriteString", file);
    refused_.reset();
    if (refusal_.left >= 0 && endsWith(file, refusal_.suffix) && refusal_.left-- == 0) {
        refusal_.left = 0;
        refused_ = refusal_.failure;
        return false;
    }
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
