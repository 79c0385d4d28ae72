#pragma once
// A run-time failure as the platform reports it: GetLastError() with its
// FormatMessage text on Windows, errno with its strerror text on the host.
// Procedures with an error trap catch it and write their own "ERR : " line.
#include <stdexcept>
#include <string>

namespace quillet {

struct Failure : std::runtime_error {
    long number;
    std::string description;
    Failure(long num, std::string desc)
        : std::runtime_error(desc), number(num), description(std::move(desc)) {}
};

}  // namespace quillet
