#pragma once
// The host's registry: HKEY_LOCAL_MACHINE as a registry export file
// (`regedit` / `reg export` format, REGEDIT4 or version 5.00; ANSI, UTF-8 or
// UTF-16LE with BOM). Read only.
#include <cstddef>
#include <iosfwd>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "os/system.h"

namespace quillet::os::host {

class RegistryFile {
public:
    // Parses the text of an export file. Lines that cannot be parsed are
    // skipped with one warning line each on `warnings`.
    static RegistryFile parse(const std::string& fileBytes, std::ostream& warnings);
    // A missing file is an empty registry.
    static RegistryFile load(const std::string& posixPath, std::ostream& warnings);

    // keyPath is relative to HKEY_LOCAL_MACHINE ("Software\KORBOD\" or
    // "Software\KORBOD\ManagedMachines\PC1"); a trailing "\" is allowed.
    // Names match without regard to case. String types come back as the ANSI
    // query call gives them (terminating NUL included, as stored).
    std::optional<RegValue> query(const std::string& keyPath, const std::string& valueName) const;
    // Direct subkeys, sorted by name without regard to case; nullopt for a key
    // that does not exist.
    std::optional<std::vector<std::string>> subkeys(const std::string& keyPath) const;

private:
    class Parser;

    struct Key {
        std::string name;                             // spelled as when first created
        std::map<std::string, std::size_t> children;  // folded name -> index in keys_
        std::map<std::string, RegValue> values;       // folded name -> value
    };

    // keys_[0] is HKEY_LOCAL_MACHINE itself.
    std::vector<Key> keys_ = std::vector<Key>(1);

    static RegistryFile parseText(const std::string& fileBytes, const std::string& source,
                                  std::ostream& warnings);
    std::optional<std::size_t> find(const std::string& keyPath) const;
};

}  // namespace quillet::os::host
