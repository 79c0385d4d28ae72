#include <windows.h>
// after windows.h
#include <winsvc.h>

#include <vector>

#include "os/win32/handle.h"
#include "os/win32/win32_system.h"

namespace quillet::os::win32 {

namespace {

constexpr DWORD kWin32Services = SERVICE_WIN32_OWN_PROCESS | SERVICE_WIN32_SHARE_PROCESS;  // 0x30

// Services added between the sizing call and the listing make the listing
// ask for more room; a machine that keeps adding them is given up on.
constexpr int kListingAttempts = 5;

// Whole records for the bytes asked for, plus one: the names the records
// point to share the buffer, and the records must stay aligned.
std::size_t recordsFor(DWORD bytesNeeded) {
    const std::size_t record = sizeof(ENUM_SERVICE_STATUSA);
    return (bytesNeeded + record - 1) / record + 1;
}

}  // namespace

std::optional<std::vector<std::string>> Win32System::activeServiceNames() {
    const ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ENUMERATE_SERVICE));
    if (!manager) return std::nullopt;

    DWORD needed = 0;
    DWORD count = 0;
    DWORD resume = 0;
    if (EnumServicesStatusA(manager.get(), kWin32Services, SERVICE_ACTIVE, nullptr, 0, &needed,
                            &count, &resume)) {
        return std::vector<std::string>{};  // nothing active at all
    }
    if (GetLastError() != ERROR_MORE_DATA) return std::nullopt;

    std::vector<ENUM_SERVICE_STATUSA> records;
    for (int attempt = 0; attempt < kListingAttempts; ++attempt) {
        const std::size_t wanted = recordsFor(needed);
        records.assign(wanted > records.size() ? wanted : records.size() * 2,
                       ENUM_SERVICE_STATUSA{});
        const DWORD bytes = static_cast<DWORD>(records.size() * sizeof(ENUM_SERVICE_STATUSA));

        std::vector<std::string> names;
        resume = 0;
        for (;;) {
            const DWORD pageStart = resume;
            count = 0;
            const BOOL ok = EnumServicesStatusA(manager.get(), kWin32Services, SERVICE_ACTIVE,
                                                records.data(), bytes, &needed, &count, &resume);
            if (!ok && GetLastError() != ERROR_MORE_DATA) return std::nullopt;
            for (DWORD i = 0; i < count && i < records.size(); ++i) {
                if (records[i].lpServiceName != nullptr)
                    names.emplace_back(records[i].lpServiceName);
            }
            if (ok) return names;
            // A list longer than one call may return comes in pages that the
            // resume handle strings together. A page that brought nothing, or
            // a resume handle that did not move on, means the buffer was too
            // small: the listing starts over with a larger one.
            if (count == 0 || resume <= pageStart) break;
        }
    }
    return std::nullopt;
}

}  // namespace quillet::os::win32
