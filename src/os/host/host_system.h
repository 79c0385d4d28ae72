#pragma once
// The Linux substitutes of the Windows services, over one machine folder:
// registry.reg, services, drives/<letter>/..., bin/.
#include <cstdint>
#include <memory>
#include <string>

#include "os/confinement.h"
#include "os/host/ini_engine.h"
#include "os/host/reg_file.h"
#include "os/system.h"

namespace quillet::os::host {

class HostSystem : public System {
public:
    explicit HostSystem(std::string machineFolder);

    std::size_t characterCount(const std::string& text) override;
    LocalTime now() override;
    void sleep(std::uint32_t ms) override;
    std::string timeSeparator() override;

    std::optional<RegValue> regQueryValue(const std::string& keyPath,
                                          const std::string& valueName) override;
    std::optional<std::vector<std::string>> regEnumSubkeys(const std::string& keyPath) override;

    PathStatus status(const std::string& path) override;
    void appendToFile(const std::string& path, const std::string& bytes) override;
    void deleteFile(const std::string& path) override;
    void makeSureDirectoryPathExists(const std::string& path) override;
    void confineWritesTo(const std::string& folder,
                         const std::vector<std::string>& layout) override {
        confinement_.confineTo(folder, layout);
    }
    std::unique_ptr<Folder> openFolder(const std::string& path) override;

    std::string iniGetString(const std::string& section, const std::string& key,
                             const std::string& defaultValue, std::size_t bufferSize,
                             const std::string& file) override;
    std::optional<Failure> iniWriteString(const std::string& section, const std::string& key,
                                          const std::string& value,
                                          const std::string& file) override;
    std::string iniGetSectionNames(std::size_t bufferSize, const std::string& file) override;

    std::optional<std::vector<std::string>> activeServiceNames() override;

    std::unique_ptr<Process> startCommandLine(const std::string& commandLine) override;
    std::unique_ptr<Process> shellOpen(const std::string& programPath,
                                       const std::string& parameters) override;
    std::string systemErrorText(std::uint32_t code) override;
    void reportEvent(const std::string& text) override;

    // The host path of a Windows path on this machine.
    std::string hostPath(const std::string& windowsPath) const;

private:
    const RegistryFile& registry();
    // What the program starts may change the registry and INI files.
    void forgetReads();
    // Whether the confinement refuses `path`.
    bool ledAway(const std::string& path, bool withLast);
    std::string findProgram(const std::string& name) const;

    std::string machine_;
    IniEngine ini_;
    std::unique_ptr<RegistryFile> registry_;
    WriteConfinement confinement_;
};

}  // namespace quillet::os::host
