// What both platforms' scratch folders do alike, through std::filesystem.
#include "scratch.h"

#include <fstream>
#include <iterator>

namespace quillet::contract {

namespace fs = std::filesystem;

bool Scratch::make(const std::vector<std::string>& paths) {
    std::error_code ec;
    for (const auto& path : paths)
        if (path.back() == '\\' ? !fs::create_directory(real(path), ec)
                                : !(std::ofstream(real(path), std::ios::binary) << "12345"))
            return false;
    return true;
}

bool Scratch::makeReadOnly(const std::string& path) {
    std::error_code ec;
    fs::permissions(real(path),
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove, ec);
    return !ec;
}

bool Scratch::exists(const std::string& path) const {
    std::error_code ec;
    return fs::exists(fs::symlink_status(real(path), ec));
}

std::string Scratch::read(const std::string& path) const {
    std::ifstream in(real(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool Scratch::rename(const std::string& from, const std::string& to) {
    std::error_code ec;
    fs::rename(real(from), real(to), ec);
    return !ec;
}

bool Scratch::remove(const std::string& path) {
    std::error_code ec;
    return fs::remove(real(path), ec);
}

}  // namespace quillet::contract
