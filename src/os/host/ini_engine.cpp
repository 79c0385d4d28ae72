#include "os/host/ini_engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "os/host/ansi_text.h"

namespace quillet::os::host {
namespace {

constexpr std::size_t kMaxCachedFiles = 8;
constexpr std::size_t kMaxFileSystems = 64;
constexpr std::int64_t kNsPerSecond = 1000000000;

// The Windows functions take zero-terminated text: what follows a NUL is not seen.
std::string cutAtNul(const std::string& s) { return s.substr(0, s.find('\0')); }

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

std::string_view trim(std::string_view s) {
    std::size_t first = 0;
    std::size_t last = s.size();
    while (first < last && isBlank(s[first])) ++first;
    while (last > first && isBlank(s[last - 1])) --last;
    return s.substr(first, last - first);
}

std::string fold(std::string_view s) { return lowerAscii(std::string(s)); }

// The line that starts at `offset`, without its line end.
std::string_view lineAt(const std::string& text, std::size_t offset) {
    const auto nl = text.find('\n', offset);
    const std::size_t end = nl == std::string::npos ? text.size() : nl;
    return std::string_view(text).substr(offset, end - offset);
}

std::string_view valueOf(std::string_view keyLine) {
    std::string_view value = trim(keyLine.substr(keyLine.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

// The clock that stamps file changes, read straight from the kernel: a
// time-shifting preload (whole-run tests age files that way) must not make a
// file that just changed look old.
std::int64_t fileClockNowNs() {
    timespec ts{};
#if defined(SYS_clock_gettime)
    if (syscall(SYS_clock_gettime, CLOCK_REALTIME_COARSE, &ts) != 0)
#endif
        clock_gettime(CLOCK_REALTIME_COARSE, &ts);
    return static_cast<std::int64_t>(ts.tv_sec) * kNsPerSecond + ts.tv_nsec;
}

template <typename StampT>
StampT stampFrom(const struct stat& st) {
    StampT s;
    s.device = st.st_dev;
    s.inode = st.st_ino;
    s.size = static_cast<std::uint64_t>(st.st_size);
    s.mtimeNs = static_cast<std::int64_t>(st.st_mtim.tv_sec) * kNsPerSecond + st.st_mtim.tv_nsec;
    return s;
}

// Whether a change after `nowNs` could still leave the file with the same
// timestamp. Timestamps that fall on whole hundredths come from a file system
// with coarse times (FAT and the like), whose tick is up to two seconds.
bool isRacy(std::int64_t mtimeNs, std::int64_t nowNs) {
    const std::int64_t tick = mtimeNs % (kNsPerSecond / 100) == 0 ? 2 * kNsPerSecond : 0;
    return nowNs <= mtimeNs + tick;
}

// Whether the lines a write adds read back, on a fresh parse of the file, as
// the one header and the one key that the edit recorded in the cached
// document. When they do not (a line end inside a value, a key that looks
// like a header or a comment), the document is parsed again from the bytes.
bool parsesBackAsWritten(const std::string& section, const std::string& key,
                         const std::string& value) {
    auto hasLineEnd = [](const std::string& s) {
        return s.find_first_of("\r\n") != std::string::npos;
    };
    if (hasLineEnd(section) || hasLineEnd(key) || hasLineEnd(value)) return false;
    const std::string_view k = trim(key);
    if (k.find('=') != std::string_view::npos) return false;
    return k.empty() || (k.front() != '[' && k.front() != ';');
}

}  // namespace

// --- parsing

IniEngine::Document IniEngine::parse(std::string_view bytes) {
    Document doc;
    doc.sections.emplace_back();
    appendText(doc, bytes);
    return doc;
}

void IniEngine::appendText(Document& doc, std::string_view bytes) {
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const auto nl = bytes.find('\n', pos);
        const std::size_t end = nl == std::string_view::npos ? bytes.size() : nl + 1;
        appendLine(doc, bytes.substr(pos, end - pos));
        pos = end;
    }
}

void IniEngine::appendLine(Document& doc, std::string_view line) {
    const std::string_view t = trim(line.substr(0, line.size() - (line.back() == '\n' ? 1 : 0)));
    doc.size += line.size();
    if (!t.empty() && t.front() == '[') {
        const auto close = t.rfind(']');
        if (close != std::string_view::npos) {
            Section section;
            section.name = std::string(trim(t.substr(1, close - 1)));
            section.text = std::string(line);
            section.insertAt = section.text.size();
            // "[]" names nothing that can be looked up, as under Windows.
            if (!section.name.empty())
                doc.sectionIndex.emplace(fold(section.name), doc.sections.size());
            doc.sections.push_back(std::move(section));
            return;
        }
    }
    Section& section = doc.sections.back();
    const std::size_t offset = section.text.size();
    section.text.append(line);
    if (t.empty()) return;
    section.insertAt = section.text.size();
    // Lines before the first header belong to no section: no key is looked up there.
    if (doc.sections.size() == 1 || t.front() == ';') return;
    const auto eq = t.find('=');
    if (eq == std::string_view::npos) return;
    section.keys.emplace(fold(trim(t.substr(0, eq))), offset);
}

bool IniEngine::sameBytes(const Document& doc, std::string_view bytes) {
    if (bytes.size() != doc.size) return false;
    std::size_t pos = 0;
    for (const Section& s : doc.sections) {
        if (bytes.compare(pos, s.text.size(), s.text) != 0) return false;
        pos += s.text.size();
    }
    return true;
}

// True when `bytes` is the document followed by whole new lines, so that only
// the new lines need parsing (the device list grows by appended line ends).
bool IniEngine::extendedBy(const Document& doc, std::string_view bytes) {
    if (bytes.size() <= doc.size) return false;
    if (doc.size > 0 && bytes[doc.size - 1] != '\n') return false;
    return sameBytes(doc, bytes.substr(0, doc.size));
}

// --- reading files

bool IniEngine::readFile(const std::string& file, Stamp& stamp, int& error) {
    // A writer that changes the file in place while it is read shows in its
    // stamp; read again, a few times at most.
    for (int attempt = 0; attempt < 3; ++attempt) {
        const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            error = errno;
            return false;
        }
        struct stat before {};
        const bool known = ::fstat(fd, &before) == 0;
        if (!known || !S_ISREG(before.st_mode)) {
            error = !known ? errno : S_ISDIR(before.st_mode) ? EISDIR : EINVAL;
            ::close(fd);
            return false;
        }
        scratch_.resize(static_cast<std::size_t>(before.st_size) + 1);
        std::size_t got = 0;
        for (;;) {
            if (got == scratch_.size()) scratch_.resize(scratch_.size() * 2);
            const ssize_t n = ::read(fd, &scratch_[got], scratch_.size() - got);
            if (n < 0) {
                if (errno == EINTR) continue;
                error = errno;
                ::close(fd);
                return false;
            }
            if (n == 0) break;
            got += static_cast<std::size_t>(n);
        }
        scratch_.resize(got);
        struct stat after {};
        const bool stable = ::fstat(fd, &after) == 0 &&
                            stampFrom<Stamp>(after) == stampFrom<Stamp>(before) &&
                            got == static_cast<std::size_t>(before.st_size);
        ::close(fd);
        stamp = stampFrom<Stamp>(after);
        if (stable) return true;
    }
    // Still changing: keep the last reading, under a stamp no file can have,
    // so that the next call reads again.
    stamp.size = UINT64_MAX;
    return true;
}

IniEngine::CachedFile& IniEngine::freshEntry(const std::string& file) {
    if (cache_.size() >= kMaxCachedFiles && cache_.find(file) == cache_.end()) {
        auto oldest = cache_.begin();
        for (auto it = cache_.begin(); it != cache_.end(); ++it)
            if (it->second.lastUse < oldest->second.lastUse) oldest = it;
        cache_.erase(oldest);
    }
    CachedFile& entry = cache_[file];
    entry = CachedFile{};
    entry.doc.sections.emplace_back();
    entry.lastUse = ++useCounter_;
    return entry;
}

IniEngine::CachedFile* IniEngine::current(const std::string& file, int& error) {
    struct stat st {};
    const bool exists = ::stat(file.c_str(), &st) == 0;
    if (!exists || !S_ISREG(st.st_mode)) {
        error = !exists ? errno : S_ISDIR(st.st_mode) ? EISDIR : EINVAL;
        cache_.erase(file);
        return nullptr;
    }
    const Stamp now = stampFrom<Stamp>(st);

    auto it = cache_.find(file);
    if (it != cache_.end() && it->second.stamp == now && !it->second.racy) {
        it->second.lastUse = ++useCounter_;
        return &it->second;
    }

    // The clock is read before the bytes: a change after this moment gets a
    // later timestamp once the clock is past the file's.
    const std::int64_t clockNs = fileClockNowNs();
    Stamp stamp;
    if (!readFile(file, stamp, error)) {
        cache_.erase(file);
        return nullptr;
    }
    // A file that starts with the UTF-16LE byte-order mark is Unicode to
    // Windows: its text is taken in the ANSI code page, and written back as
    // UTF-16.
    const bool utf16 = scratch_.size() >= 2 && static_cast<unsigned char>(scratch_[0]) == 0xFF &&
                       static_cast<unsigned char>(scratch_[1]) == 0xFE;
    if (utf16)
        scratch_ = utf16leToUtf8(reinterpret_cast<const unsigned char*>(scratch_.data()) + 2,
                                 scratch_.size() - 2, true);
    const std::string_view bytes(scratch_);
    CachedFile* entry = nullptr;
    if (it != cache_.end() && sameBytes(it->second.doc, bytes)) {
        entry = &it->second;
    } else if (it != cache_.end() && extendedBy(it->second.doc, bytes)) {
        entry = &it->second;
        appendText(entry->doc, bytes.substr(entry->doc.size));
    } else {
        entry = &freshEntry(file);
        entry->doc = parse(bytes);
    }
    entry->utf16 = utf16;
    entry->stamp = stamp;
    entry->racy = mayShareTimestamp(file, stamp, clockNs);
    entry->lastUse = ++useCounter_;
    return entry;
}

// Whether a change still to come could leave the file with this very stamp,
// so that the bytes must be compared until the clock has moved on.
bool IniEngine::mayShareTimestamp(const std::string& file, const Stamp& stamp,
                                  std::int64_t clockNs) {
    if (!isRacy(stamp.mtimeNs, clockNs)) return false;
    // A time well ahead of the clock was set by hand, or the clock went back:
    // then nothing promises that the next change gets a newer time.
    if (stamp.mtimeNs > clockNs + kNsPerSecond) return true;
    return !changesAlwaysRestamp(file, stamp.device);
}

// File systems with fine-grained (or multigrain) timestamps give a change
// made after a stat a new modification time; on those no change can hide
// behind an equal stamp and no comparison is needed. Probed once per file
// system, with a scratch file beside the INI file; a folder that refuses the
// probe is taken as coarse.
bool IniEngine::changesAlwaysRestamp(const std::string& file, std::uint64_t device) {
    const auto known = restamps_.find(device);
    if (known != restamps_.end()) return known->second;
    bool restamps = false;
    const std::string probe = besideName(file, "probe");
    const int fd = ::open(probe.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        struct stat before {};
        restamps = ::fstat(fd, &before) == 0 && static_cast<std::uint64_t>(before.st_dev) == device;
        // Three back-to-back changes, microseconds apart: a coarse clock
        // (ticks of milliseconds) gives at least one of them its old time.
        for (int i = 0; i < 3 && restamps; ++i) {
            struct stat after {};
            restamps = ::pwrite(fd, "x", 1, i) == 1 && ::fstat(fd, &after) == 0 &&
                       !(stampFrom<Stamp>(after).mtimeNs == stampFrom<Stamp>(before).mtimeNs);
            before = after;
        }
        ::close(fd);
        ::unlink(probe.c_str());
    }
    if (restamps_.size() >= kMaxFileSystems) restamps_.clear();
    restamps_.emplace(device, restamps);
    return restamps;
}

// --- the three calls

std::string IniEngine::getString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue, std::size_t bufferSize,
                                 const std::string& file) {
    if (bufferSize == 0) return {};
    const std::string keyName = cutAtNul(key);
    std::string result;
    bool found = false;
    int error = 0;
    CachedFile* entry = keyName.empty() ? nullptr : current(file, error);
    if (entry != nullptr) {
        const Document& doc = entry->doc;
        const auto s = doc.sectionIndex.find(fold(trim(cutAtNul(section))));
        if (s != doc.sectionIndex.end()) {
            const Section& sec = doc.sections[s->second];
            const auto k = sec.keys.find(fold(trim(keyName)));
            if (k != sec.keys.end()) {
                result = std::string(valueOf(lineAt(sec.text, k->second)));
                found = true;
            }
        }
    }
    if (!found) {
        // Windows drops trailing blanks of the default.
        result = cutAtNul(defaultValue);
        const auto last = result.find_last_not_of(' ');
        result.resize(last == std::string::npos ? 0 : last + 1);
    }
    if (result.size() > bufferSize - 1) result.resize(bufferSize - 1);
    return result;
}

std::string IniEngine::getSectionNames(std::size_t bufferSize, const std::string& file) {
    if (bufferSize < 2) return {};
    int error = 0;
    const CachedFile* entry = current(file, error);
    if (entry == nullptr) return {};
    // Windows wants room for the list's closing NUL and one more; when that
    // is missing it cuts the list, a name possibly halfway, and counts
    // bufferSize - 2.
    const std::size_t room = bufferSize - 2;
    std::string list;
    for (std::size_t i = 1; i < entry->doc.sections.size() && list.size() <= room; ++i) {
        const std::string& name = entry->doc.sections[i].name;
        if (name.empty()) continue;
        list += name;
        list += '\0';
    }
    if (list.size() > room) list.resize(room);
    return list;
}

bool IniEngine::writeString(const std::string& section, const std::string& key,
                            const std::string& value, const std::string& file) {
    const std::string sectionName = cutAtNul(section);
    const std::string keyName = cutAtNul(key);
    const std::string valueText = cutAtNul(value);

    // A link stays a link: the file it points to is the one replaced.
    std::string target = file;
    struct stat st {};
    if (::lstat(file.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* resolved = ::realpath(file.c_str(), nullptr)) {
            target = resolved;
            std::free(resolved);
        }
    }
    Keep keep;
    if (::stat(target.c_str(), &st) == 0) {
        // A read-only file refuses the write, as on Windows, even to root.
        if (!S_ISREG(st.st_mode) || (st.st_mode & 0222) == 0 ||
            ::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0) {
            errno = S_ISDIR(st.st_mode) ? EISDIR : EACCES;
            return false;
        }
        keep.exists = true;
        keep.mode = st.st_mode & 07777;
        keep.uid = st.st_uid;
        keep.gid = st.st_gid;
    } else if (errno != ENOENT) {
        return false;
    }

    int error = 0;
    CachedFile* entry = current(file, error);
    if (entry == nullptr) {
        errno = error;
        if (error != ENOENT) return false;
        entry = &freshEntry(file);
        keep.exists = false;
    }

    Document& doc = entry->doc;
    const std::string line = keyName + "=" + valueText;
    const std::string foldedKey = fold(trim(keyName));
    const auto s = doc.sectionIndex.find(fold(trim(sectionName)));
    if (s == doc.sectionIndex.end()) {
        appendSection(doc, sectionName, foldedKey, line);
    } else {
        Section& sec = doc.sections[s->second];
        const auto k = sec.keys.find(foldedKey);
        if (k != sec.keys.end())
            replaceKeyLine(doc, sec, k->second, line);
        else
            insertKeyLine(doc, sec, foldedKey, line);
    }

    serialize(doc);
    if (!parsesBackAsWritten(sectionName, keyName, valueText)) entry->doc = parse(scratch_);
    if (entry->utf16) scratch_ = "\xFF\xFE" + utf8ToUtf16le(scratch_);
    Stamp written;
    if (!replaceFile(target, keep, written)) {
        cache_.erase(file);
        return false;
    }
    entry->stamp = written;
    entry->racy = mayShareTimestamp(file, written, fileClockNowNs());
    entry->lastUse = ++useCounter_;
    return true;
}

// --- edits

void IniEngine::replaceKeyLine(Document& doc, Section& section, std::size_t offset,
                               const std::string& line) {
    // The line end stays as the file had it.
    std::size_t end = offset + lineAt(section.text, offset).size();
    if (end < section.text.size() && end > offset && section.text[end - 1] == '\r') --end;
    const std::size_t oldLength = end - offset;
    section.text.replace(offset, oldLength, line);
    const auto shift = [&](std::size_t& at) {
        if (at > offset) at = at + line.size() - oldLength;
    };
    for (auto& k : section.keys) shift(k.second);
    shift(section.insertAt);
    doc.size = doc.size + line.size() - oldLength;
}

void IniEngine::insertKeyLine(Document& doc, Section& section, const std::string& foldedKey,
                              const std::string& line) {
    const std::size_t at = section.insertAt;
    std::string added;
    // Only the file's last line can lack a line end.
    if (at > 0 && section.text[at - 1] != '\n') added = "\r\n";
    const std::size_t lineStart = at + added.size();
    added += line;
    added += "\r\n";
    // Only blank lines follow `at`, so no key's offset moves.
    section.text.insert(at, added);
    section.keys.emplace(foldedKey, lineStart);
    section.insertAt = at + added.size();
    doc.size += added.size();
}

void IniEngine::appendSection(Document& doc, const std::string& name, const std::string& foldedKey,
                              const std::string& line) {
    Section& last = doc.sections.back();
    if (!last.text.empty() && last.text.back() != '\n') {
        const bool lastLineCounts = last.insertAt == last.text.size();
        last.text += "\r\n";
        doc.size += 2;
        if (lastLineCounts) last.insertAt = last.text.size();
    }
    Section added;
    added.name = std::string(trim(name));
    added.text = "[" + name + "]\r\n";
    added.keys.emplace(foldedKey, added.text.size());
    added.text += line;
    added.text += "\r\n";
    added.insertAt = added.text.size();
    doc.size += added.text.size();
    if (!added.name.empty()) doc.sectionIndex.emplace(fold(added.name), doc.sections.size());
    doc.sections.push_back(std::move(added));
}

// --- writing files

std::string IniEngine::besideName(const std::string& target, const char* tag) {
    const auto slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    return folder + "." + base + "." + tag + std::to_string(::getpid()) + "." +
           std::to_string(++tempCounter_);
}

// Files of this engine's making ("probe" and "~" beside the target, named
// with the maker's process number) that a killed run left behind. Looked for
// once per file and process; removed only when their maker is gone.
void IniEngine::removeStaleTemporaries(const std::string& target) {
    if (swept_.size() >= kMaxCachedFiles * 8) swept_.clear();
    if (!swept_.insert(target).second) return;
    const auto slash = target.rfind('/');
    const std::string folder = slash == std::string::npos ? "." : target.substr(0, slash + 1);
    const std::string prefix =
        "." + (slash == std::string::npos ? target : target.substr(slash + 1)) + ".";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* d = ::readdir(dir)) {
        const std::string_view name(d->d_name);
        if (name.substr(0, prefix.size()) != prefix) continue;
        std::string_view rest = name.substr(prefix.size());
        if (rest.substr(0, 1) == "~")
            rest.remove_prefix(1);
        else if (rest.substr(0, 5) == "probe")
            rest.remove_prefix(5);
        else
            continue;
        const auto dot = rest.find('.');
        if (dot == 0 || dot == std::string_view::npos ||
            rest.find_first_not_of("0123456789.") != std::string_view::npos)
            continue;
        const long pid = std::strtol(std::string(rest.substr(0, dot)).c_str(), nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(dir), d->d_name, 0);
    }
    ::closedir(dir);
}

void IniEngine::serialize(const Document& doc) {
    scratch_.clear();
    scratch_.reserve(doc.size);
    for (const Section& s : doc.sections) scratch_ += s.text;
}

bool IniEngine::replaceFile(const std::string& target, const Keep& keep, Stamp& written) {
    // The new bytes go to a file beside the target, then take its name in one
    // step: a reader sees the old file or the new one, never a part.
    removeStaleTemporaries(target);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = besideName(target, "~");
        fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) return false;
    }
    if (fd < 0) return false;

    bool ok = true;
    if (keep.exists) {
        if (::fchown(fd, keep.uid, keep.gid) != 0) {
            // Only root may keep another user's ownership; otherwise the
            // file becomes ours, as with any editor that saves by renaming.
        }
        ok = ::fchmod(fd, keep.mode) == 0;
    }
    std::size_t done = 0;
    while (ok && done < scratch_.size()) {
        const ssize_t n = ::write(fd, scratch_.data() + done, scratch_.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<std::size_t>(n);
    }
    // On the disk before it takes the name: a crash after the rename must
    // not leave an empty list where a whole one was.
    ok = ok && ::fdatasync(fd) == 0;
    struct stat st {};
    ok = ok && ::fstat(fd, &st) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && ::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        const int err = errno;
        ::unlink(temp.c_str());
        errno = err;
        return false;
    }
    written = stampFrom<Stamp>(st);
    return true;
}

}  // namespace quillet::os::host
