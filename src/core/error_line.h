#pragma once
// The two families of "ERR : " lines. Each call site keeps its own wording;
// these only put the number and description in their places.
#include <string>

#include "os/failure.h"

namespace quillet {

// Number and description of whatever an error trap caught.
struct CaughtError {
    long number;
    std::string description;
};
CaughtError describeCurrentException();

// "ERR : Error while <activity>. Error No.<numberSep><n>, Error Description : <d>, Source =
// <proc>()" numberSep is " : " or ": " as each procedure writes it.
std::string errWhile(const std::string& activity, const std::string& numberSep,
                     const CaughtError& e, const std::string& procedure);
// "ERR : Error Source : <proc>(),Error Number : <n>,Desc:<d>"
std::string errSource(const std::string& procedure, const CaughtError& e);

}  // namespace quillet
