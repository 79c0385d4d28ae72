#pragma once
// One owner for every kind of Win32 handle: closed once, when its owner goes
// or when close() is asked for, so that a failed close can be seen.
#include <windows.h>

#include <utility>

namespace quillet::os::win32 {

template <typename H, typename Kind>
class Owned {
public:
    explicit Owned(H h = Kind::invalid()) : h_(h) {}
    Owned(Owned&& other) noexcept : h_(std::exchange(other.h_, Kind::invalid())) {}
    Owned& operator=(Owned&& other) noexcept {
        if (this != &other) {
            close();
            h_ = std::exchange(other.h_, Kind::invalid());
        }
        return *this;
    }
    Owned(const Owned&) = delete;
    Owned& operator=(const Owned&) = delete;
    ~Owned() { close(); }

    H get() const { return h_; }
    explicit operator bool() const { return h_ != Kind::invalid(); }
    // False when the system refused to close it.
    bool close() {
        const bool ok = h_ == Kind::invalid() || Kind::close(h_);
        h_ = Kind::invalid();
        return ok;
    }

private:
    H h_;
};

struct FileKind {
    static HANDLE invalid() { return INVALID_HANDLE_VALUE; }
    static bool close(HANDLE h) { return CloseHandle(h) != FALSE; }
};
struct ObjectKind {  // processes and the like: no handle is null
    static HANDLE invalid() { return nullptr; }
    static bool close(HANDLE h) { return CloseHandle(h) != FALSE; }
};
struct KeyKind {
    static HKEY invalid() { return nullptr; }
    static bool close(HKEY h) { return RegCloseKey(h) == ERROR_SUCCESS; }
};
struct ServiceKind {
    static SC_HANDLE invalid() { return nullptr; }
    static bool close(SC_HANDLE h) { return CloseServiceHandle(h) != FALSE; }
};

using Handle = Owned<HANDLE, FileKind>;
using ObjectHandle = Owned<HANDLE, ObjectKind>;
using KeyHandle = Owned<HKEY, KeyKind>;
using ServiceHandle = Owned<SC_HANDLE, ServiceKind>;

}  // namespace quillet::os::win32
