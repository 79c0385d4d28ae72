#pragma once
// Names a parameterized test after its case's `what`, so that each case can
// be picked by name: "dword zero is not set" becomes DwordZeroIsNotSet.
#include <cctype>
#include <string>

namespace quillet::testing {

struct NameFromWhat {
    template <class Info>
    std::string operator()(const Info& info) const {
        std::string name;
        bool wordStart = true;
        for (const char c : std::string(info.param.what)) {
            const bool letter = std::isalnum(static_cast<unsigned char>(c)) != 0;
            if (letter) name += wordStart ? static_cast<char>(std::toupper(c)) : c;
            wordStart = !letter;
        }
        return name;
    }
};

}  // namespace quillet::testing
