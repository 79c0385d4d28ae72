// The contract suite's machine on the host: C:\contract\ of a temporary machine folder.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <stdexcept>

#include "scratch.h"

namespace quillet::contract {

namespace fs = std::filesystem;

const bool kWindows = false;

long errorNumber(Error error) {
    const int numbers[] = {ENOENT, ENOENT, EACCES, ENOTEMPTY, ENOTDIR, EISDIR, ELOOP};
    return numbers[static_cast<int>(error)];
}

Scratch::Scratch() : root_("C:\\contract\\") {
    machine_ = (fs::temp_directory_path() / "quillet-contract-XXXXXX").string();
    if (!mkdtemp(machine_.data()) || !fs::create_directories(real("")))
        throw std::runtime_error("no scratch folder");
    setenv("QUILLET_MACHINE", machine_.c_str(), 1);
}

Scratch::~Scratch() {
    std::error_code ec;
    // Read-only folders give write back before their content can go.
    for (auto it = fs::recursive_directory_iterator(machine_, ec); it != fs::end(it);
         it.increment(ec))
        if (!it->is_symlink())
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
    fs::remove_all(machine_, ec);
}

fs::path Scratch::real(const std::string& path) const {
    std::string unix = path;
    for (char& c : unix)
        if (c == '\\') c = '/';
    return machine_ + "/drives/c/contract/" + unix;
}

bool Scratch::makeHidden(const std::string&, bool) { return false; }

bool Scratch::setModified(const std::string& path, const os::LocalTime& t) {
    std::tm tm{};
    tm.tm_year = t.year - 1900, tm.tm_mon = t.month - 1, tm.tm_mday = t.day;
    tm.tm_hour = t.hour, tm.tm_min = t.minute, tm.tm_sec = t.second, tm.tm_isdst = -1;
    const timespec times[2] = {{0, UTIME_OMIT}, {std::mktime(&tm), 0}};
    return ::utimensat(AT_FDCWD, real(path).c_str(), times, 0) == 0;
}

bool Scratch::makeFolderLink(const std::string& link, const std::string& target) {
    return ::symlink(real(target).c_str(), real(link).c_str()) == 0;
}

std::shared_ptr<void> Scratch::holdOpen(const std::string&) { return nullptr; }

void Scratch::setRegistry(const std::vector<RegFixture>& fixtures) {
    // Every value as hex(type): the bytes go in exactly as given.
    std::ofstream out(machine_ + "/registry.reg", std::ios::binary);
    out << "REGEDIT4\r\n" << std::hex;
    for (const auto& f : fixtures) {
        out << "[HKEY_LOCAL_MACHINE\\" << f.key << "]\r\n";
        if (f.name.empty()) continue;
        out << '"' << f.name << "\"=hex(" << f.type << "):";
        char byte[4];
        for (std::size_t i = 0; i < f.bytes.size(); ++i) {
            std::snprintf(byte, sizeof byte, "%02x", static_cast<unsigned char>(f.bytes[i]));
            out << (i ? "," : "") << byte;
        }
        out << "\r\n";
    }
}

bool Scratch::set64BitOnly(const RegFixture&) { return false; }

std::string Scratch::nativeName(const std::string& utf8) { return utf8; }
std::string Scratch::ansiName(const std::string& utf8) { return utf8; }
std::string Scratch::selfPath() { return fs::read_symlink("/proc/self/exe").string(); }

}  // namespace quillet::contract
