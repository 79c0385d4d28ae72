#include "run/preview.h"

#include <cstdio>
#include <utility>

#include "core/agent.h"
#include "core/clock_text.h"

namespace quillet {

namespace {

constexpr std::size_t kFlushAt = 64 * 1024;  // the console gets the text in pieces

bool isActivityLog(const std::string& path) {
    const std::string tail = std::string("\\") + agent::kActivityLog;
    return path.size() >= tail.size() &&
           path.compare(path.size() - tail.size(), tail.size(), tail) == 0;
}

std::string withoutLineEnd(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    return text;
}

std::string dateText(const os::LocalTime& t) {
    char text[16];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
    return text;
}

class PreviewProcess : public os::Process {
public:
    std::uint32_t wait(std::uint32_t) override { return os::kWaitObject0; }
    std::uint32_t exitCode() override { return 0; }
    void terminate(std::uint32_t) override {}
};

// The walk reads the real folder; only its deletions are previewed.
class PreviewFolder : public os::Folder {
public:
    PreviewFolder(std::unique_ptr<os::Folder> real, std::string path, PreviewSystem& preview)
        : real_(std::move(real)), path_(std::move(path)), preview_(preview) {}
    bool next(os::FolderEntry& entry) override { return real_->next(entry); }
    std::unique_ptr<os::Folder> openSubfolder(const os::FolderEntry& entry) override {
        auto folder = real_->openSubfolder(entry);
        if (!folder) return nullptr;
        return std::make_unique<PreviewFolder>(std::move(folder), path_ + entry.name + "\\",
                                               preview_);
    }
    // Decided on the listing: the preview opens nothing to delete.
    os::Removal remove(const os::FolderEntry& entry, const os::StillToGo&) override {
        preview_.previewRemoval(path_ + entry.name, entry);
        return os::Removal::removed;
    }

private:
    std::unique_ptr<os::Folder> real_;
    std::string path_;  // with its final backslash
    PreviewSystem& preview_;
};

}  // namespace

PreviewSystem::PreviewSystem(os::System& real, Sink sink) : real_(real), sink_(std::move(sink)) {}

PreviewSystem::~PreviewSystem() { flush(); }

void PreviewSystem::line(const std::string& text) {
    out_ += text;
    out_ += "\r\n";
    if (out_.size() >= kFlushAt) flush();
}

void PreviewSystem::endWrites() {
    if (writeFile_.empty()) return;
    writeFile_.clear();
    line({});
}

void PreviewSystem::say(const std::string& text) {
    endWrites();
    line(text);
}

void PreviewSystem::flush() {
    endWrites();
    if (out_.empty()) return;
    sink_(out_);
    out_.clear();
}

void PreviewSystem::appendToFile(const std::string& path, const std::string& bytes) {
    endWrites();
    if (isActivityLog(path))
        line("log     " + withoutLineEnd(bytes));
    else if (!bytes.empty())
        line("append  " + path + " (" + std::to_string(bytes.size()) + " bytes)");
    else if (!real_.status(path).exists)
        line("create  " + path);
}

void PreviewSystem::deleteFile(const std::string& path) {
    const os::PathStatus status = real_.status(path);
    say("delete  " + path +
        (status.isFile ? " (" + std::to_string(status.size) + " bytes)" : std::string()));
}

void PreviewSystem::makeSureDirectoryPathExists(const std::string& path) {
    const std::string folder = path.substr(0, path.rfind('\\') + 1);
    if (!folder.empty() && !real_.status(folder).isFolder && foldersMade_.insert(folder).second)
        say("folder  " + folder);
}

std::unique_ptr<os::Folder> PreviewSystem::openFolder(const std::string& path) {
    std::string shown = path;
    if (shown.empty() || shown.back() != '\\') shown += '\\';
    return std::make_unique<PreviewFolder>(real_.openFolder(path), shown, *this);
}

std::optional<Failure> PreviewSystem::iniWriteString(const std::string& section,
                                                     const std::string& key,
                                                     const std::string& value,
                                                     const std::string& file) {
    if (file != writeFile_ || section != writeSection_) {
        endWrites();
        writeFile_ = file;
        writeSection_ = section;
        out_ += "write   " + file + " [" + section + "] " + key + "=" + value;
    } else {
        out_ += " | " + key + "=" + value;
    }
    return std::nullopt;
}

std::unique_ptr<os::Process> PreviewSystem::startCommandLine(const std::string& commandLine) {
    say("start   " + commandLine);
    return std::make_unique<PreviewProcess>();
}

std::unique_ptr<os::Process> PreviewSystem::shellOpen(const std::string& programPath,
                                                      const std::string& parameters) {
    say("start   \"" + programPath + "\" " + parameters);
    return std::make_unique<PreviewProcess>();
}

void PreviewSystem::reportEvent(const std::string& text) { say("event   " + text); }

void PreviewSystem::previewRemoval(const std::string& path, const os::FolderEntry& entry) {
    if (entry.isFolder && !entry.isLink) {
        say("delete  " + path + "\\ (folder)");
        return;
    }
    const os::LocalTime& judged = entry.agedByCreation ? entry.created : entry.modified;
    const long age = dayNumber(real_.now()) - dayNumber(judged);
    say("delete  " + path + (entry.isLink ? " (link, " : " (") +
        (entry.agedByCreation ? "created " : "modified ") + dateText(judged) + ", " +
        std::to_string(age) + " days ago, " + std::to_string(entry.size) + " bytes)");
}

}  // namespace quillet
