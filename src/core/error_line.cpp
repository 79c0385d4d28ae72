#include "core/error_line.h"

#include <exception>
#include <new>

namespace quillet {

CaughtError describeCurrentException() {
    try {
        throw;
    } catch (const Failure& f) {
        return {f.number, f.description};
    } catch (const std::bad_alloc&) {
        return {7, "Out of memory"};
    } catch (const std::exception& e) {
        return {5, e.what()};
    } catch (...) {
        return {5, "Unknown failure"};
    }
}

std::string errWhile(const std::string& activity, const std::string& numberSep,
                     const CaughtError& e, const std::string& procedure) {
    return "ERR : Error while " + activity + ". Error No." + numberSep + std::to_string(e.number) +
           ", Error Description : " + e.description + ", Source = " + procedure + "()";
}

std::string errSource(const std::string& procedure, const CaughtError& e) {
    return "ERR : Error Source : " + procedure + "(),Error Number : " + std::to_string(e.number) +
           ",Desc:" + e.description;
}

}  // namespace quillet
