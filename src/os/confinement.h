#pragma once
// The agent's folders can be written to by others. Whoever can put a link in
// place of ApplicationLog, PMStatus, Configuration or a file in them could
// otherwise lead the run's own writes and deletions, made with its rights,
// to any file of the machine.
#include <string>

namespace quillet::os {

class WriteConfinement {
public:
    // The agent's folder ("" lifts the confinement).
    void confineTo(std::string folder) {
        if (!folder.empty() && folder.back() != '\\') folder += '\\';
        root_ = std::move(folder);
    }

    const std::string& root() const { return root_; }
    // Whether `path` lies below the folder (by its letters: links aside).
    bool covers(const std::string& path) const {
        return !root_.empty() && path.size() > root_.size() && sameLetters(path, root_);
    }

    // Whether `path`, when it lies below the folder, passes through a link on
    // the way down, or ends at one when `withLast`. `isLink` answers for one
    // path; what does not exist (yet) is no link.
    template <class IsLink>
    bool ledAway(const std::string& path, bool withLast, IsLink isLink) const {
        if (!covers(path)) return false;
        for (std::size_t end = path.find('\\', root_.size());; end = path.find('\\', end + 1)) {
            const bool last = end == std::string::npos;
            if (last && !withLast) return false;
            const std::size_t size = last ? path.size() : end;
            // An empty name (a doubled "\") is no component of its own.
            if (path[size - 1] != '\\' && isLink(path.substr(0, size))) return true;
            if (last) return false;
        }
    }

private:
    // The root's letters at the start of `path`, ASCII case aside (as Windows
    // compares the names of the paths the program makes).
    bool sameLetters(const std::string& path, const std::string& root) const {
        for (std::size_t i = 0; i < root.size(); ++i) {
            const auto a = static_cast<unsigned char>(path[i]);
            const auto b = static_cast<unsigned char>(root[i]);
            if (a != b && !((a | 0x20) == (b | 0x20) && (a | 0x20) >= 'a' && (a | 0x20) <= 'z'))
                return false;
        }
        return true;
    }

    std::string root_;
};

}  // namespace quillet::os
