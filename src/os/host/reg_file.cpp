#include "os/host/reg_file.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ostream>
#include <string_view>

#include "os/host/ansi_text.h"

namespace quillet::os::host {

namespace {

constexpr std::uint32_t kRegSz = 1;
constexpr std::uint32_t kRegExpandSz = 2;
constexpr std::uint32_t kRegBinary = 3;
constexpr std::uint32_t kRegDword = 4;
constexpr std::uint32_t kRegMultiSz = 7;

constexpr std::string_view kHeaderVersion4 = "REGEDIT4";
constexpr std::string_view kHeaderVersion5 = "Windows Registry Editor Version 5.00";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimLeft(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size() && isBlank(s[i])) ++i;
    return s.substr(i);
}

std::string_view trimRight(std::string_view s) {
    std::size_t n = s.size();
    while (n > 0 && isBlank(s[n - 1])) --n;
    return s.substr(0, n);
}

char asciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Reads 1 to 8 hex digits at s[pos]; false when there are none or too many.
bool readHex32(std::string_view s, std::size_t& pos, std::uint32_t& value) {
    value = 0;
    std::size_t digits = 0;
    while (pos < s.size() && hexDigit(s[pos]) >= 0) {
        if (++digits > 8) return false;
        value = (value << 4) | static_cast<std::uint32_t>(hexDigit(s[pos]));
        ++pos;
    }
    return digits > 0;
}

// Simple upper-case mapping for the scripts names are usually written in:
// ASCII, Latin-1, Latin Extended-A, Greek and Cyrillic.
std::uint32_t upcase(std::uint32_t cp) {
    if (cp >= 'a' && cp <= 'z') return cp - 0x20;
    if (cp < 0xE0) return cp;
    if (cp <= 0xFE) return cp == 0xF7 ? cp : cp - 0x20;
    if (cp == 0xFF) return 0x178;
    if ((cp >= 0x100 && cp <= 0x12F) || (cp >= 0x132 && cp <= 0x137) ||
        (cp >= 0x14A && cp <= 0x177))
        return cp & ~1u;
    if ((cp >= 0x139 && cp <= 0x148) || (cp >= 0x179 && cp <= 0x17E))
        return (cp & 1u) ? cp : cp - 1;
    if (cp >= 0x3B1 && cp <= 0x3CB && cp != 0x3C2) return cp - 0x20;
    if (cp == 0x3C2) return 0x3A3;
    if (cp >= 0x430 && cp <= 0x44F) return cp - 0x20;
    if (cp >= 0x450 && cp <= 0x45F) return cp - 0x50;
    return cp;
}

// The form names are compared and ordered in: upper case, as the registry
// compares them. Bytes that are not UTF-8 are left as they are.
std::string fold(std::string_view name) {
    std::string out;
    out.reserve(name.size());
    for (std::size_t i = 0; i < name.size();) {
        const char c = name[i];
        if (static_cast<unsigned char>(c) < 0x80) {
            out += asciiUpper(c);
            ++i;
            continue;
        }
        std::uint32_t cp = 0;
        const std::size_t len = decodeUtf8(name, i, cp);
        if (len == 0) {
            out += c;
            ++i;
            continue;
        }
        appendUtf8(out, upcase(cp));
        i += len;
    }
    return out;
}

// Splits a key path below the hive into its names. One trailing "\" is
// allowed; any other empty name makes the path invalid.
bool splitKeyPath(std::string_view path, std::vector<std::string_view>& names) {
    names.clear();
    if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
    if (path.empty()) return true;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = path.find('\\', start);
        const std::string_view name = path.substr(start, end - start);
        if (name.empty()) return false;
        names.push_back(name);
        if (end == std::string_view::npos) break;
        start = end + 1;
    }
    // A 64-bit machine's export of the 32-bit view spells it Software\Wow6432Node.
    if (names.size() >= 2 && fold(names[0]) == "SOFTWARE" && fold(names[1]) == "WOW6432NODE")
        names.erase(names.begin() + 1);
    return true;
}

// The lines of the decoded text, CR LF or LF ended.
class Lines {
public:
    explicit Lines(std::string_view text) : text_(text) {}

    bool next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        std::size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        line = text_.substr(pos_, end - pos_);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        pos_ = end + 1;
        ++number_;
        return true;
    }
    std::size_t number() const { return number_; }

private:
    std::string_view text_;
    std::size_t pos_ = 0;
    std::size_t number_ = 0;
};

}  // namespace

class RegistryFile::Parser {
public:
    Parser(RegistryFile& reg, std::string_view text, const std::string& source,
           std::ostream& warnings)
        : reg_(reg), lines_(text), source_(source), warnings_(warnings) {}

    void run() {
        std::string_view line;
        while (lines_.next(line)) {
            line = trimRight(trimLeft(line));
            if (line.empty() || line.front() == ';' || line == kHeaderVersion5) continue;
            if (line == kHeaderVersion4) {
                version5_ = false;
                continue;
            }
            if (line.front() == '[') {
                keyLine(line);
            } else if (line.front() == '"' || line.front() == '@') {
                valueLine(line);
            } else {
                warn(lines_.number(), "not a key, value or comment", line);
            }
        }
    }

private:
    enum class Section { none, key, skipped };

    void warn(std::size_t lineNumber, const char* reason, std::string_view line) {
        warnings_ << source_ << ':' << lineNumber << ": line skipped, " << reason << ": " << line
                  << '\n';
    }

    void keyLine(std::string_view line) {
        section_ = Section::skipped;  // until the line proves good
        const std::size_t close = line.rfind(']');
        if (close == std::string_view::npos) {
            warn(lines_.number(), "key name not closed by ]", line);
            return;
        }
        if (close + 1 != line.size()) {
            warn(lines_.number(), "unexpected text after the key name", line);
            return;
        }
        // A deletion line ("[-key]") is skipped here too: the registry is read
        // as an export shows it, and no export deletes.
        const std::string_view path = line.substr(1, close - 1);
        const std::size_t slash = path.find('\\');
        if (fold(path.substr(0, slash)) != "HKEY_LOCAL_MACHINE") {
            warn(lines_.number(), "only keys of HKEY_LOCAL_MACHINE are read", line);
            return;
        }
        std::vector<std::string_view> names;
        if (slash != std::string_view::npos && !splitKeyPath(path.substr(slash + 1), names)) {
            warn(lines_.number(), "empty key name in path", line);
            return;
        }
        std::size_t key = 0;
        for (const std::string_view name : names) key = child(key, name);
        current_ = key;
        section_ = Section::key;
    }

    std::size_t child(std::size_t parent, std::string_view name) {
        std::string folded = fold(name);
        const auto found = reg_.keys_[parent].children.find(folded);
        if (found != reg_.keys_[parent].children.end()) return found->second;
        const std::size_t index = reg_.keys_.size();
        reg_.keys_.push_back(Key{std::string(name), {}, {}});
        reg_.keys_[parent].children.emplace(std::move(folded), index);
        return index;
    }

    void valueLine(std::string_view line) {
        const std::size_t lineNumber = lines_.number();
        std::string name;
        std::size_t pos = 0;
        if (line.front() == '@') {
            pos = 1;
        } else if (!readQuoted(line, pos, name)) {
            warn(lineNumber, "value name not closed by \"", line);
            return;
        }
        if (pos >= line.size() || line[pos] != '=') {
            warn(lineNumber, "no = after the value name", line);
            return;
        }
        ++pos;

        RegValue value;
        if (const char* problem = readData(line.substr(pos), value)) {
            warn(lineNumber, problem, line);
            return;
        }
        if (section_ == Section::none) {
            warn(lineNumber, "value before any key", line);
            return;
        }
        if (section_ == Section::skipped) return;
        reg_.keys_[current_].values[fold(name)] = std::move(value);
    }

    // A quoted text at s[pos] with its \\ \" \n \r \0 escapes; any other
    // backslash stays as written. On success pos is past the closing quote.
    static bool readQuoted(std::string_view s, std::size_t& pos, std::string& out) {
        ++pos;  // the opening quote
        while (pos < s.size()) {
            const char c = s[pos];
            if (c == '"') {
                ++pos;
                return true;
            }
            if (c == '\\' && pos + 1 < s.size()) {
                static constexpr std::string_view kEscaped = "\\\"nr0";
                static constexpr std::string_view kMeaning{"\\\"\n\r\0", 5};
                const std::size_t known = kEscaped.find(s[pos + 1]);
                if (known == std::string_view::npos)
                    out.append(s.substr(pos, 2));
                else
                    out += kMeaning[known];
                pos += 2;
                continue;
            }
            out += c;
            ++pos;
        }
        return false;
    }

    // The data after "=". Returns why it cannot be read, or nullptr.
    const char* readData(std::string_view data, RegValue& value) {
        if (!data.empty() && data.front() == '"') {
            std::string text;
            std::size_t pos = 0;
            if (!readQuoted(data, pos, text)) return "text not closed by \"";
            if (pos != data.size()) return "unexpected text after the value";
            value.type = kRegSz;
            value.data.assign(text.begin(), text.end());
            value.data.push_back(0);
            return nullptr;
        }
        if (data.substr(0, 6) == "dword:") {
            std::size_t pos = 6;
            std::uint32_t number = 0;
            if (!readHex32(data, pos, number) || pos != data.size())
                return "dword: needs 1 to 8 hex digits";
            value.type = kRegDword;
            value.data = {
                static_cast<unsigned char>(number), static_cast<unsigned char>(number >> 8),
                static_cast<unsigned char>(number >> 16), static_cast<unsigned char>(number >> 24)};
            return nullptr;
        }
        std::size_t pos = 0;
        if (data.substr(0, 4) == "hex:") {
            value.type = kRegBinary;
            pos = 4;
        } else if (data.substr(0, 4) == "hex(") {
            pos = 4;
            if (!readHex32(data, pos, value.type) || pos + 1 >= data.size() || data[pos] != ')' ||
                data[pos + 1] != ':')
                return "hex(N): needs a hex type number";
            pos += 2;
        } else {
            return "unknown value type";
        }
        if (!readHexBytes(data.substr(pos), value.data)) return "bad hex byte list";
        const bool stringType =
            value.type == kRegSz || value.type == kRegExpandSz || value.type == kRegMultiSz;
        if (version5_ && stringType) {
            const std::string text = utf16leToUtf8(value.data.data(), value.data.size());
            value.data.assign(text.begin(), text.end());
        }
        return nullptr;
    }

    // Comma-separated bytes of one or two hex digits; a "\" at the end of a
    // line continues the list on the next line.
    bool readHexBytes(std::string_view s, std::vector<unsigned char>& out) {
        std::size_t pos = 0;
        for (;;) {
            while (pos < s.size() && isBlank(s[pos])) ++pos;
            if (pos >= s.size()) return true;
            if (s[pos] == '\\') {
                if (pos + 1 != s.size()) return false;
                std::string_view next;
                if (!lines_.next(next)) return true;
                s = next;
                pos = 0;
                continue;
            }
            const int high = hexDigit(s[pos]);
            if (high < 0) return false;
            ++pos;
            int byte = high;
            if (pos < s.size() && hexDigit(s[pos]) >= 0) byte = byte * 16 + hexDigit(s[pos++]);
            out.push_back(static_cast<unsigned char>(byte));
            while (pos < s.size() && isBlank(s[pos])) ++pos;
            if (pos < s.size() && s[pos] == ',') {
                ++pos;
            } else if (pos < s.size() && s[pos] != '\\') {
                return false;
            }
        }
    }

    RegistryFile& reg_;
    Lines lines_;
    const std::string& source_;
    std::ostream& warnings_;
    bool version5_ = true;
    Section section_ = Section::none;
    std::size_t current_ = 0;
};

RegistryFile RegistryFile::parse(const std::string& fileBytes, std::ostream& warnings) {
    return parseText(fileBytes, "registry", warnings);
}

RegistryFile RegistryFile::parseText(const std::string& fileBytes, const std::string& source,
                                     std::ostream& warnings) {
    RegistryFile reg;
    std::string_view text(fileBytes);
    std::string decoded;
    if (text.size() >= 2 && static_cast<unsigned char>(text[0]) == 0xFF &&
        static_cast<unsigned char>(text[1]) == 0xFE) {
        decoded =
            utf16leToUtf8(reinterpret_cast<const unsigned char*>(text.data()) + 2, text.size() - 2);
        text = decoded;
    } else if (text.size() >= 3 && text.substr(0, 3) == "\xEF\xBB\xBF") {
        text.remove_prefix(3);
    }
    Parser(reg, text, source, warnings).run();
    return reg;
}

RegistryFile RegistryFile::load(const std::string& posixPath, std::ostream& warnings) {
    std::FILE* file = std::fopen(posixPath.c_str(), "rb");
    if (!file) {
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR)
            warnings << posixPath << ": cannot be read (" << std::strerror(error)
                     << "); the registry is empty\n";
        return RegistryFile();
    }
    std::string bytes;
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.append(buffer, got);
    const bool failed = std::ferror(file) != 0;
    const int error = errno;
    std::fclose(file);
    if (failed) {
        warnings << posixPath << ": cannot be read (" << std::strerror(error)
                 << "); the registry is empty\n";
        return RegistryFile();
    }
    return parseText(bytes, posixPath, warnings);
}

std::optional<std::size_t> RegistryFile::find(const std::string& keyPath) const {
    std::vector<std::string_view> names;
    if (!splitKeyPath(keyPath, names)) return std::nullopt;
    std::size_t key = 0;
    for (const std::string_view name : names) {
        const auto found = keys_[key].children.find(fold(name));
        if (found == keys_[key].children.end()) return std::nullopt;
        key = found->second;
    }
    return key;
}

std::optional<RegValue> RegistryFile::query(const std::string& keyPath,
                                            const std::string& valueName) const {
    const auto key = find(keyPath);
    if (!key) return std::nullopt;
    const auto& values = keys_[*key].values;
    const auto found = values.find(fold(valueName));
    if (found == values.end()) return std::nullopt;
    return found->second;
}

std::optional<std::vector<std::string>> RegistryFile::subkeys(const std::string& keyPath) const {
    const auto key = find(keyPath);
    if (!key) return std::nullopt;
    std::vector<std::string> names;
    names.reserve(keys_[*key].children.size());
    for (const auto& child : keys_[*key].children) names.push_back(keys_[child.second].name);
    return names;
}

}  // namespace quillet::os::host
