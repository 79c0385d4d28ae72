// Replays a script of private-profile reads and writes through the program's
// own OS layer and prints every value read, so that the host INI engine and
// the Windows functions can be compared on the same script.
//
// Script lines (fields separated by TAB; "\r", "\n", "\t", "\\", "\0" and
// "\xHH" escapes allowed in every field):
//   file   PATH  CONTENT            replace PATH with CONTENT (raw bytes)
//   write  SECTION KEY VALUE PATH    WritePrivateProfileString
//   read   SECTION KEY DEFAULT SIZE PATH
//   names  SIZE PATH                 GetPrivateProfileSectionNames
//   # ...                            comment
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "os/make_system.h"

namespace {

const std::string kPlain = "rnt0\\", kEscaped("\r\n\t\0\\", 5);

std::string unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s.compare(i, 2, "\\x") == 0 && i + 3 < s.size()) {  // \xHH: any byte
            out += static_cast<char>(std::stoi(s.substr(i + 2, 2), nullptr, 16));
            i += 3;
        } else if (s[i] == '\\' && i + 1 < s.size()) {
            const auto at = kPlain.find(s[++i]);  // any other escaped character stands for itself
            out += at == std::string::npos ? s[i] : kEscaped[at];
        } else {
            out += s[i];
        }
    }
    return out;
}

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        const auto at = kEscaped.find(c);
        out += at == std::string::npos ? std::string(1, c) : "\\" + kPlain.substr(at, 1);
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    std::ifstream in(argc == 2 ? argv[1] : "", std::ios::binary);
    if (!in) {
        std::cerr << "usage: ini_replay SCRIPT\n";
        return 2;
    }
    auto os = quillet::os::makeSystem();
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::stringstream fields(line);
        for (std::string field; std::getline(fields, field, '\t');) f.push_back(unescape(field));
        try {
            if (f[0] == "file" && f.size() == 3) {
                if (os->status(f[1]).exists) os->deleteFile(f[1]);
                os->makeSureDirectoryPathExists(f[1]);
                os->appendToFile(f[1], f[2]);
            } else if (f[0] == "write" && f.size() == 5) {
                std::cout << number << " write "
                          << !os->iniWriteString(f[1], f[2], f[3], f[4]).has_value() << "\n";
            } else if (f[0] == "read" && f.size() == 6) {
                std::cout << number << " read ["
                          << escape(os->iniGetString(f[1], f[2], f[3], std::stoul(f[4]), f[5]))
                          << "]\n";
            } else if (f[0] == "names" && f.size() == 3) {
                std::cout << number << " names ["
                          << escape(os->iniGetSectionNames(std::stoul(f[1]), f[2])) << "]\n";
            } else {
                std::cerr << "line " << number << ": not understood\n";
                return 2;
            }
        } catch (const std::exception& e) {
            std::cout << number << " failure " << e.what() << "\n";
        }
    }
}
