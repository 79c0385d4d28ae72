#pragma once
// The install folder and the agent's own folders in it are the
// administrator's: a link there (a log folder moved to another drive with a
// junction, a mounted volume) is a decision, and is followed. Below them other
// programs write, and a link met there is never followed: whoever can put one
// in place of a file or folder of the agent's could otherwise lead the run's
// own writes and deletions, made with its rights, to any file of the machine.
#include <string>
#include <vector>

namespace quillet::os {

class WriteConfinement {
public:
    // The install folder ("" lifts the confinement) and the agent's folders
    // relative to it ("ApplicationLog", "Tarsel\Datadirectory").
    void confineTo(std::string folder, const std::vector<std::string>& layout) {
        if (!folder.empty() && folder.back() != '\\') folder += '\\';
        root_ = std::move(folder);
        layout_.clear();
        for (std::string name : layout) {
            while (!name.empty() && name.back() == '\\') name.pop_back();
            if (!name.empty()) layout_.push_back(std::move(name));
        }
    }

    const std::string& root() const { return root_; }
    // Whether `path` lies below the install folder (by its letters: links aside).
    bool covers(const std::string& path) const {
        return !root_.empty() && path.size() > root_.size() && sameLetters(path, root_);
    }
    // Whether `path` is the install folder or one of the agent's folders,
    // with or without its final "\": a link there is followed.
    bool isAdministrators(const std::string& path) const {
        if (root_.empty()) return false;
        std::string p = path;
        while (p.size() >= root_.size() && p.back() == '\\') p.pop_back();
        if (p.size() + 1 == root_.size() && sameLetters(root_, p)) return true;
        return covers(p) && isLayout(p.substr(root_.size()));
    }
    // The folder whose final location a path below the install folder must
    // lie in: the deepest of the install folder and the agent's folders that
    // holds it, without its final "\".
    std::string anchorOf(const std::string& path) const {
        std::string anchor = root_.substr(0, root_.size() - 1);
        for (const std::string& name : layout_) {
            const std::string folder = root_ + name;
            if (folder.size() > anchor.size() && path.size() > folder.size() &&
                path[folder.size()] == '\\' && sameLetters(path, folder)) {
                anchor = folder;
            }
        }
        return anchor;
    }

    // Whether `path`, when it lies below the install folder, passes through
    // a link below the agent's folders on the way down, or ends at one when
    // `withLast`. `isLink` answers for one path; what does not exist (yet) is
    // no link.
    template <class IsLink>
    bool ledAway(const std::string& path, bool withLast, IsLink isLink) const {
        if (!covers(path)) return false;
        for (std::size_t end = path.find('\\', root_.size());; end = path.find('\\', end + 1)) {
            const bool last = end == std::string::npos;
            if (last && !withLast) return false;
            const std::size_t size = last ? path.size() : end;
            // An empty name (a doubled "\") is no component of its own.
            if (path[size - 1] != '\\' &&
                !isLayout(path.substr(root_.size(), size - root_.size())) &&
                isLink(path.substr(0, size))) {
                return true;
            }
            if (last) return false;
        }
    }

private:
    bool isLayout(const std::string& relative) const {
        for (const std::string& name : layout_)
            if (relative.size() == name.size() && sameLetters(relative, name)) return true;
        return false;
    }

    // The letters of `prefix` at the start of `text`, ASCII case aside (as
    // Windows compares the names of the paths the program makes).
    static bool sameLetters(const std::string& text, const std::string& prefix) {
        if (text.size() < prefix.size()) return false;
        for (std::size_t i = 0; i < prefix.size(); ++i) {
            const auto a = static_cast<unsigned char>(text[i]);
            const auto b = static_cast<unsigned char>(prefix[i]);
            if (a != b && !((a | 0x20) == (b | 0x20) && (a | 0x20) >= 'a' && (a | 0x20) <= 'z'))
                return false;
        }
        return true;
    }

    std::string root_;
    std::vector<std::string> layout_;
};

}  // namespace quillet::os
