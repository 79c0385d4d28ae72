#pragma once
// Windows' private-profile functions over real files, for the host build.
// Files are addressed by their host (POSIX) path.
#include <cstddef>
#include <cstdint>
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

private:
    // One "[name]" header and the lines under it, kept as the file holds them
    // so that a write can put back every byte it does not change.
    struct Section {
        std::string name;  // between the brackets, trimmed; "" for the lines before any header
        std::string text;  // bytes from the start of the header line up to the next header
        std::unordered_map<std::string, std::size_t> keys;  // folded key -> offset of first line
        std::size_t insertAt = 0;  // just past the last non-blank line and its line end
    };

    struct Document {
        std::vector<Section> sections;  // [0]: what precedes the first header
        std::unordered_map<std::string, std::size_t> sectionIndex;  // folded name -> first one
        std::size_t size = 0;                                       // bytes in all texts
    };

    // What tells one state of a file from another without reading it.
    struct Stamp {
        std::uint64_t device = 0, inode = 0, size = 0;
        std::int64_t mtimeNs = 0;
        bool operator==(const Stamp& o) const {
            return device == o.device && inode == o.inode && size == o.size && mtimeNs == o.mtimeNs;
        }
    };

    struct CachedFile {
        Stamp stamp;
        // The file's last change may share its timestamp with a change still to
        // come; until the clock has moved past it, the bytes are checked on use.
        bool racy = true;
        Document doc;
        bool utf16 = false;  // the file is UTF-16LE with a byte-order mark; doc holds its text
        std::uint64_t lastUse = 0;
    };

    // The parsed file as it is now, or nullptr with errno's value in `error`
    // (ENOENT for a missing file).
    CachedFile* current(const std::string& file, int& error);
    CachedFile& freshEntry(const std::string& file);
    bool readFile(const std::string& file, Stamp& stamp, int& error);
    // Mode and owner of the file a write replaces (none for a new file).
    struct Keep {
        bool exists = false;
        std::uint32_t mode = 0, uid = 0, gid = 0;
    };
    bool replaceFile(const std::string& target, const Keep& keep, Stamp& written);

    bool mayShareTimestamp(const std::string& file, const Stamp& stamp, std::int64_t clockNs);
    bool changesAlwaysRestamp(const std::string& file, std::uint64_t device);
    std::string besideName(const std::string& target, const char* tag);
    void removeStaleTemporaries(const std::string& target);

    static Document parse(std::string_view bytes);
    static void appendText(Document& doc, std::string_view bytes);
    static void appendLine(Document& doc, std::string_view line);
    static bool sameBytes(const Document& doc, std::string_view bytes);
    static bool extendedBy(const Document& doc, std::string_view bytes);
    static void replaceKeyLine(Document& doc, Section& section, std::size_t offset,
                               const std::string& line);
    static void insertKeyLine(Document& doc, Section& section, const std::string& foldedKey,
                              const std::string& line);
    static void appendSection(Document& doc, const std::string& name, const std::string& foldedKey,
                              const std::string& line);
    void serialize(const Document& doc);

    std::unordered_map<std::string, CachedFile> cache_;  // by the path the caller gave
    std::unordered_map<std::uint64_t, bool> restamps_;   // by file system (st_dev)
    std::unordered_set<std::string> swept_;              // targets checked for stale temporaries
    std::uint64_t useCounter_ = 0;
    std::uint64_t tempCounter_ = 0;
    std::string scratch_;  // a file's bytes on their way in or out
};

}  // namespace quillet::os::host
