#pragma once
// What a run would do on this machine, without doing it: support's first
// question is "what will it delete here?".
#include <functional>
#include <memory>
#include <set>
#include <string>

#include "os/system.h"

namespace quillet {

// An os::System over the real one that performs every read and, in place of
// every change, prints one line of what the change would have been:
//   delete  PATH  (modified YYYY-MM-DD, N days ago, B bytes)   a file or link, with
//                 the date its sweep judged by ("created" for the data sweeps)
//   delete  PATH\  (folder)
//   write   FILE [SECTION] key=value | key=value ...           consecutive INI writes
//   append  FILE (B bytes) / create FILE / folder PATH\ / start COMMAND / event TEXT
//   log     LINE                                               the activity log's lines
// Nothing waits: pauses are skipped and a started program counts as ended at
// once with exit code 0. Reads that follow a change see the machine as it
// was, so a preview can differ from the run where the run reads back what it
// wrote (the device list after its own writes, what a program would have made).
class PreviewSystem : public os::System {
public:
    using Sink = std::function<void(const std::string&)>;
    PreviewSystem(os::System& real, Sink sink);
    ~PreviewSystem() override;
    PreviewSystem(const PreviewSystem&) = delete;
    PreviewSystem& operator=(const PreviewSystem&) = delete;

    // One line of the preview's own (the exit status, say), after all before it.
    void say(const std::string& line);
    // Hands everything printed so far to the sink.
    void flush();

    std::size_t characterCount(const std::string& text) override {
        return real_.characterCount(text);
    }
    os::LocalTime now() override { return real_.now(); }
    void sleep(std::uint32_t) override {}
    std::string timeSeparator() override { return real_.timeSeparator(); }
    std::optional<os::RegValue> regQueryValue(const std::string& keyPath,
                                              const std::string& valueName) override {
        return real_.regQueryValue(keyPath, valueName);
    }
    std::optional<std::vector<std::string>> regEnumSubkeys(const std::string& keyPath) override {
        return real_.regEnumSubkeys(keyPath);
    }
    os::PathStatus status(const std::string& path) override { return real_.status(path); }
    void appendToFile(const std::string& path, const std::string& bytes) override;
    void deleteFile(const std::string& path) override;
    void makeSureDirectoryPathExists(const std::string& path) override;
    // The preview changes nothing, so it cannot tell where the run will
    // refuse a write that a link leads away.
    void confineWritesTo(const std::string& folder,
                         const std::vector<std::string>& layout) override {
        real_.confineWritesTo(folder, layout);
    }
    std::unique_ptr<os::Folder> openFolder(const std::string& path) override;
    std::string iniGetString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, std::size_t bufferSize,
                             const std::string& file) override {
        return real_.iniGetString(section, key, defaultValue, bufferSize, file);
    }
    std::optional<Failure> iniWriteString(const std::string& section, const std::string& key,
                                          const std::string& value,
                                          const std::string& file) override;
    std::string iniGetSectionNames(std::size_t bufferSize, const std::string& file) override {
        return real_.iniGetSectionNames(bufferSize, file);
    }
    std::optional<std::vector<std::string>> activeServiceNames() override {
        return real_.activeServiceNames();
    }
    std::unique_ptr<os::Process> startCommandLine(const std::string& commandLine) override;
    std::unique_ptr<os::Process> shellOpen(const std::string& programPath,
                                           const std::string& parameters) override;
    std::string systemErrorText(std::uint32_t code) override { return real_.systemErrorText(code); }
    void reportEvent(const std::string& text) override;

    // For the folders of a walk: a deletion of an entry as a folder listed it.
    void previewRemoval(const std::string& path, const os::FolderEntry& entry);

private:
    void line(const std::string& text);
    void endWrites();

    os::System& real_;
    Sink sink_;
    std::string out_;
    std::string writeFile_, writeSection_;  // the INI writes being gathered on one line
    std::set<std::string> foldersMade_;     // said once each
};

}  // namespace quillet
