#pragma once
// Windows' private-profile functions over real files, for the host build.
// Files are addressed by their host (POSIX) path.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace quillet::os::host {

class IniEngine {
public:
    std::string getString(const std::string& section, const std::string& key,
                          const std::string& defaultValue, std::size_t bufferSize,
                          const std::string& file);
    bool writeString(const std::string& section, const std::string& key, const std::string& value,
                     const std::string& file);
    std::string getSectionNames(std::size_t bufferSize, const std::string& file);

    // The last file read or written is kept while its identity, size and
    // time stay as they were. The program is single-threaded, and the only
    // other writers are the programs it starts: so the kept file is dropped
    // whenever the program starts a program or appends to a file, and a
    // change that leaves all four alike cannot slip by.
    void forget() { doc_.reset(); }

private:
    struct Stamp {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t mtimeNs = 0;
        bool operator==(const Stamp& o) const {
            return device == o.device && inode == o.inode && size == o.size && mtimeNs == o.mtimeNs;
        }
    };

    struct Section {
        std::string name;       // between the brackets, trimmed
        std::size_t begin = 0;  // where its header line starts in the text
    };

    // A file as the engine last read or wrote it, every byte kept so that a
    // write can put back what it does not change. A UTF-16 file is held in
    // the ANSI code page.
    struct Document {
        std::string path;
        Stamp stamp;
        bool utf16 = false;
        std::string text;
        std::vector<Section> sections{Section{}};  // [0]: the lines before the first header
        std::unordered_map<std::string, std::size_t> firstSection;  // by folded name
    };

    // Where a section holds a key, and where a key it lacks goes: just past
    // its last non-blank line.
    struct Place {
        std::size_t keyLine = std::string::npos;
        std::size_t insertAt = 0;
    };

    // Mode and owner of the file a write replaces (none for a new file).
    struct Keep {
        bool exists = false;
        std::uint32_t mode = 0, uid = 0, gid = 0;
    };

    // The file as it is now, or nullptr with errno's value in `error`
    // (ENOENT for a missing file).
    Document* load(const std::string& file, int& error);
    static void findSections(Document& doc);
    static Place find(const Document& doc, std::size_t section, std::string_view key);
    static void splice(Document& doc, std::size_t section, std::size_t at, std::size_t length,
                       const std::string& text);
    bool replaceFile(const std::string& target, const Keep& keep, std::string_view bytes,
                     Stamp& written);
    std::string besideName(const std::string& target);
    void removeStaleTemporaries(const std::string& target);

    std::optional<Document> doc_;
    std::unordered_set<std::string> swept_;  // targets checked for stale temporaries
    std::uint64_t tempCounter_ = 0;
};

}  // namespace quillet::os::host
