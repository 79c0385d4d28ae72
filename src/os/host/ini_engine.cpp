#include "os/host/ini_engine.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "os/host/ansi_text.h"

namespace quillet::os::host {
namespace {

constexpr auto npos = std::string::npos;

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

bool sameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// Where the line that holds `offset` ends: its '\n', or the end of the text.
std::size_t lineEnd(std::string_view text, std::size_t offset) {
    const auto nl = text.find('\n', offset);
    return nl == npos ? text.size() : nl;
}

std::string_view valueOf(std::string_view keyLine) {
    std::string_view value = trim(keyLine.substr(keyLine.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front())
        value = value.substr(1, value.size() - 2);
    return value;
}

template <typename Stamp>
Stamp stampOf(const struct stat& st) {
    return {static_cast<std::uint64_t>(st.st_dev), static_cast<std::uint64_t>(st.st_ino),
            static_cast<std::uint64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec};
}

}  // namespace

// --- reading

void IniEngine::findSections(Document& doc) {
    doc.sections.assign(1, Section{});
    doc.firstSection.clear();
    const std::string_view text(doc.text);
    for (std::size_t pos = 0, end = 0; pos < text.size(); pos = end + 1) {
        end = lineEnd(text, pos);
        const std::string_view line = trim(text.substr(pos, end - pos));
        const auto close = line.rfind(']');
        if (line.empty() || line.front() != '[' || close == npos) continue;
        Section section{std::string(trim(line.substr(1, close - 1))), pos};
        // "[]" names nothing that can be looked up, as under Windows.
        if (!section.name.empty())
            doc.firstSection.emplace(fold(section.name), doc.sections.size());
        doc.sections.push_back(std::move(section));
    }
}

IniEngine::Place IniEngine::find(const Document& doc, std::size_t section, std::string_view key) {
    const std::string_view text(doc.text);
    const std::size_t stop =
        section + 1 < doc.sections.size() ? doc.sections[section + 1].begin : text.size();
    Place place;
    place.insertAt = std::min(lineEnd(text, doc.sections[section].begin) + 1, stop);
    for (std::size_t pos = place.insertAt; pos < stop;) {
        const std::size_t end = lineEnd(text, pos);
        const std::string_view line = trim(text.substr(pos, end - pos));
        const std::size_t next = std::min(end + 1, stop);
        if (!line.empty()) {
            place.insertAt = next;
            const auto eq = line.find('=');
            if (place.keyLine == npos && eq != npos && sameName(trim(line.substr(0, eq)), key))
                place.keyLine = pos;
        }
        pos = next;
    }
    return place;
}

IniEngine::Document* IniEngine::load(const std::string& file, int& error) {
    struct stat st {};
    error = ::stat(file.c_str(), &st) != 0 ? errno
            : S_ISDIR(st.st_mode)          ? EISDIR
            : !S_ISREG(st.st_mode)         ? EINVAL
                                           : 0;
    if (error == 0 && doc_ && doc_->path == file && doc_->stamp == stampOf<Stamp>(st))
        return &*doc_;
    doc_.reset();
    if (error != 0) return nullptr;
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        error = errno;
        if (fd >= 0) ::close(fd);
        return nullptr;
    }
    std::string bytes(static_cast<std::size_t>(st.st_size), '\0');
    std::size_t got = 0;
    ssize_t n = 0;
    do {
        if (got == bytes.size()) bytes.resize(got + 4096);
        n = ::read(fd, &bytes[got], bytes.size() - got);
        if (n > 0) got += static_cast<std::size_t>(n);
    } while (n > 0 || (n < 0 && errno == EINTR));
    error = n < 0 ? errno : 0;
    ::close(fd);
    if (error != 0) return nullptr;
    bytes.resize(got);
    Document& doc = doc_.emplace();
    doc.path = file;
    doc.stamp = stampOf<Stamp>(st);
    // A file that starts with the UTF-16LE byte-order mark is Unicode to
    // Windows: its text is taken in the ANSI code page, and written back as
    // UTF-16.
    doc.utf16 = got >= 2 && bytes.compare(0, 2, "\xFF\xFE") == 0;
    doc.text = doc.utf16 ? utf16leToUtf8(reinterpret_cast<const unsigned char*>(bytes.data()) + 2,
                                         got - 2, true)
                         : std::move(bytes);
    findSections(doc);
    return &doc;
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
    if (const Document* doc = keyName.empty() ? nullptr : load(file, error)) {
        const auto s = doc->firstSection.find(fold(trim(cutAtNul(section))));
        const std::size_t line =
            s == doc->firstSection.end() ? npos : find(*doc, s->second, trim(keyName)).keyLine;
        if (line != npos) {
            result = std::string(
                valueOf(std::string_view(doc->text).substr(line, lineEnd(doc->text, line) - line)));
            found = true;
        }
    }
    if (!found) {
        // Windows drops trailing blanks of the default.
        result = cutAtNul(defaultValue);
        const auto last = result.find_last_not_of(' ');
        result.resize(last == npos ? 0 : last + 1);
    }
    if (result.size() > bufferSize - 1) result.resize(bufferSize - 1);
    return result;
}

std::string IniEngine::getSectionNames(std::size_t bufferSize, const std::string& file) {
    if (bufferSize < 2) return {};
    int error = 0;
    const Document* doc = load(file, error);
    if (doc == nullptr) return {};
    // Windows wants room for the list's closing NUL and one more; when that
    // is missing it cuts the list, a name possibly halfway, and counts
    // bufferSize - 2.
    const std::size_t room = bufferSize - 2;
    std::string list;
    for (std::size_t i = 1; i < doc->sections.size() && list.size() <= room; ++i) {
        const std::string& name = doc->sections[i].name;
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
    Document* doc = load(file, error);
    if (doc == nullptr) {
        errno = error;
        if (error != ENOENT) return false;
        doc = &doc_.emplace();
        doc->path = file;
        keep.exists = false;
    }

    const std::string line = keyName + "=" + valueText;
    const auto s = doc->firstSection.find(fold(trim(sectionName)));
    if (s != doc->firstSection.end()) {
        const Place place = find(*doc, s->second, trim(keyName));
        if (place.keyLine != npos) {
            // The line end stays as the file had it.
            std::size_t end = lineEnd(doc->text, place.keyLine);
            if (end < doc->text.size() && end > place.keyLine && doc->text[end - 1] == '\r') --end;
            splice(*doc, s->second, place.keyLine, end - place.keyLine, line);
        } else {
            // Only the file's last line can lack a line end.
            const std::size_t at = place.insertAt;
            const bool ended = at == 0 || doc->text[at - 1] == '\n';
            splice(*doc, s->second, at, 0, (ended ? "" : "\r\n") + line + "\r\n");
        }
    } else {
        if (!doc->text.empty() && doc->text.back() != '\n') doc->text += "\r\n";
        Section added{std::string(trim(sectionName)), doc->text.size()};
        doc->text += "[" + sectionName + "]\r\n" + line + "\r\n";
        if (!added.name.empty()) doc->firstSection.emplace(fold(added.name), doc->sections.size());
        doc->sections.push_back(std::move(added));
    }
    // A line end in what was written, or a key line that reads as a header,
    // makes sections of their own.
    if ((sectionName + line).find('\n') != npos || trim(keyName).substr(0, 1) == "[")
        findSections(*doc);

    Stamp written;
    const bool ok = doc->utf16
                        ? replaceFile(target, keep, "\xFF\xFE" + utf8ToUtf16le(doc->text), written)
                        : replaceFile(target, keep, doc->text, written);
    if (!ok) {
        doc_.reset();
        return false;
    }
    doc->stamp = written;
    return true;
}

void IniEngine::splice(Document& doc, std::size_t section, std::size_t at, std::size_t length,
                       const std::string& text) {
    doc.text.replace(at, length, text);
    for (std::size_t i = section + 1; i < doc.sections.size(); ++i)
        doc.sections[i].begin = doc.sections[i].begin + text.size() - length;
}

// --- writing files

std::string IniEngine::besideName(const std::string& target) {
    const auto slash = target.rfind('/');
    const std::string folder = slash == npos ? "" : target.substr(0, slash + 1);
    const std::string base = slash == npos ? target : target.substr(slash + 1);
    return folder + "." + base + ".~" + std::to_string(::getpid()) + "." +
           std::to_string(++tempCounter_);
}

// The temporary files (".NAME.~PID.N" beside the target) that a killed run
// left behind. Looked for once per file and process; removed only when
// their maker is gone.
void IniEngine::removeStaleTemporaries(const std::string& target) {
    if (!swept_.insert(target).second) return;
    const auto slash = target.rfind('/');
    const std::string folder = slash == npos ? "." : target.substr(0, slash + 1);
    const std::string prefix = "." + (slash == npos ? target : target.substr(slash + 1)) + ".~";
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr) return;
    while (const dirent* d = ::readdir(dir)) {
        const std::string_view name(d->d_name);
        if (name.substr(0, prefix.size()) != prefix) continue;
        const std::string_view rest = name.substr(prefix.size());
        const auto dot = rest.find('.');
        if (dot == 0 || dot == npos || rest.find_first_not_of("0123456789.") != npos) continue;
        const long pid = std::strtol(std::string(rest.substr(0, dot)).c_str(), nullptr, 10);
        if (pid > 0 && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH)
            ::unlinkat(::dirfd(dir), d->d_name, 0);
    }
    ::closedir(dir);
}

bool IniEngine::replaceFile(const std::string& target, const Keep& keep, std::string_view bytes,
                            Stamp& written) {
    // The new bytes go to a file beside the target, then take its name in one
    // step: a reader, or the next run after a kill, sees the old file or the
    // new one, never a part. As with Windows' own writes, nothing waits for
    // them to reach the disk (the README says what a power cut can cost).
    removeStaleTemporaries(target);
    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = besideName(target);
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
    while (ok && done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0)
            ok = false;
        else
            done += static_cast<std::size_t>(n);
    }
    struct stat st {};
    ok = ok && ::fstat(fd, &st) == 0;
    ok = (::close(fd) == 0) && ok;
    // Swapped with the file it replaces where the file system can, rather
    // than renamed over it: ext4 starts writing out at once a file renamed
    // over another (its guard for programs that do not sync), which costs
    // several times the write. The old file then goes under the temporary
    // name, which a kill may leave for the next write to remove.
    const bool swapped =
        ok && keep.exists &&
        ::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) == 0;
    ok = ok && (swapped || ::rename(temp.c_str(), target.c_str()) == 0);
    const int err = errno;
    if (!ok || swapped) ::unlink(temp.c_str());
    errno = err;
    if (!ok) return false;
    written = stampOf<Stamp>(st);
    return true;
}

}  // namespace quillet::os::host
