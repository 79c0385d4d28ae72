#include "support/fake_system.h"

#include <stdlib.h>
#include <time.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace quillet::testing {

namespace {
bool endsWith(const std::string& s, const std::string& tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Wraps a host folder for the injected faults, the swap hook and name order.
// `path` is the folder's Windows path with its final "\".
class FakeFolder : public os::Folder {
public:
    FakeFolder(FakeSystem& system, std::string path, std::unique_ptr<os::Folder> inner)
        : system_(system), path_(std::move(path)) {
        for (os::FolderEntry e; inner->next(e);) {
            if (system_.listingSays) system_.listingSays(path_ + e.name, e);
            entries_.push_back(e);
        }
        std::sort(entries_.begin(), entries_.end(),
                  [](const auto& a, const auto& b) { return a.name < b.name; });
        inner_ = std::move(inner);
    }
    bool next(os::FolderEntry& entry) override {
        if (at_ == entries_.size()) return false;
        entry = entries_[at_++];
        system_.failIfInjected("listEntry", path_ + entry.name);
        return true;
    }
    std::unique_ptr<os::Folder> openSubfolder(const os::FolderEntry& entry) override {
        const std::string path = path_ + entry.name + "\\";
        if (system_.beforeOpenSubfolder) system_.beforeOpenSubfolder(path);
        system_.failIfInjected("listFolder", path);
        auto inner = inner_->openSubfolder(entry);
        return inner ? std::make_unique<FakeFolder>(system_, path, std::move(inner)) : nullptr;
    }
    os::Removal remove(const os::FolderEntry& entry, const os::StillToGo& stillToGo) override {
        const bool realFolder = entry.isFolder && !entry.isLink;
        const std::string path = path_ + entry.name + (realFolder ? "\\" : "");
        system_.failIfInjected(realFolder ? "removeFolder" : "deleteFile", path);
        // Deleted as far as the run can tell, but still there until others let go.
        if (system_.injected("leavePending", path)) return os::Removal::removed;
        return inner_->remove(entry, stillToGo);
    }

private:
    FakeSystem& system_;
    std::string path_;
    std::unique_ptr<os::Folder> inner_;
    std::vector<os::FolderEntry> entries_;
    std::size_t at_ = 0;
};

std::string newTempFolder() {
    std::string name = (fs::temp_directory_path() / "quillet-unit-XXXXXX").string();
    if (!mkdtemp(name.data())) throw std::runtime_error("mkdtemp failed");
    return name;
}
}  // namespace

FakeSystem::FakeSystem(const std::string& machine) : HostSystem(machine) {
    std::tm start{};
    strptime("2026-12-05 04:13:01", "%Y-%m-%d %H:%M:%S", &start);
    start.tm_isdst = -1;
    clock = std::mktime(&start);
}

os::LocalTime FakeSystem::now() {
    std::tm tm{};
    localtime_r(&clock, &tm);
    clock += tick;
    return {tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

void FakeSystem::sleep(std::uint32_t ms) { clock += ms / 1000; }

bool FakeSystem::injected(const std::string& operation, const std::string& path) {
    for (auto f = failures_.begin(); f != failures_.end(); ++f) {
        if (f->operation != operation || !endsWith(path, f->pathSuffix)) continue;
        if (f->after > 0) {
            --f->after;
            return false;
        }
        if (operation == "listEntry") failures_.erase(f);
        return true;
    }
    return false;
}

void FakeSystem::failIfInjected(const std::string& operation, const std::string& path) {
    if (injected(operation, path)) throw Failure(5, "Access is denied.");
}

std::unique_ptr<os::Folder> FakeSystem::openFolder(const std::string& path) {
    const std::string folder = endsWith(path, "\\") ? path : path + "\\";
    failIfInjected("listFolder", folder);
    return std::make_unique<FakeFolder>(*this, folder, HostSystem::openFolder(path));
}

void FakeSystem::appendToFile(const std::string& path, const std::string& bytes) {
    failIfInjected("appendToFile", path);
    HostSystem::appendToFile(path, bytes);
}

void FakeSystem::deleteFile(const std::string& path) {
    failIfInjected("deleteFile", path);
    HostSystem::deleteFile(path);
}

std::optional<Failure> FakeSystem::iniWriteString(const std::string& section,
                                                  const std::string& key, const std::string& value,
                                                  const std::string& file) {
    if (injected("iniWriteString", file))
        return Failure(112, "There is not enough space on the disk.");
    failIfInjected("iniWriteThrow", file);
    return HostSystem::iniWriteString(section, key, value, file);
}

std::string FakeSystem::iniGetString(const std::string& section, const std::string& key,
                                     const std::string& defaultValue, std::size_t bufferSize,
                                     const std::string& file) {
    failIfInjected("iniGetString", file);
    return HostSystem::iniGetString(section, key, defaultValue, bufferSize, file);
}

std::optional<std::vector<std::string>> FakeSystem::activeServiceNames() {
    failIfInjected("activeServiceNames", "");
    return HostSystem::activeServiceNames();
}

FakeRun::FakeRun(const std::string& more, const std::string& type)
    : root(newTempFolder()), os(root) {
    registry(more, type);
}

FakeRun::~FakeRun() {
    std::error_code ec;
    fs::remove_all(root, ec);
}

void FakeRun::registry(const std::string& more, const std::string& type) const {
    // The host reloads a registry file that changed.
    std::ofstream(root + "/registry.reg") << "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software\\KORBOD]\n"
                                          << "\"InstallationPath\"=\"C:\\\\Agents\\\\KORBOD\"\n"
                                          << "\"Type\"=\"" << type << "\"\n\"RegID\"=\"12345\"\n\n"
                                          << more;
    fs::create_directories(hostFile("Configuration"));
}

std::string FakeRun::hostFile(const std::string& relative) const {
    return os.hostPath(install + relative);
}

void FakeRun::writeFile(const std::string& relative, const std::string& bytes) const {
    const fs::path p = hostFile(relative);
    fs::create_directories(p.parent_path());
    std::ofstream(p, std::ios::binary) << bytes;
}

std::string FakeRun::read(const std::string& relative) const {
    std::ostringstream text;
    text << std::ifstream(hostFile(relative), std::ios::binary).rdbuf();
    return text.str();
}

std::vector<std::string> FakeRun::logMessages() const {
    std::istringstream text(read("ApplicationLog\\MNStatusLog.txt"));
    std::vector<std::string> messages;
    for (std::string line; std::getline(text, line);)
        messages.push_back(line.substr(line.find('\t') + 1, line.size() - line.find('\t') - 2));
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
