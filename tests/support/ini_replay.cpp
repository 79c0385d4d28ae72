// Replays a script of private-profile reads and writes through the program's
// own OS layer and prints every value read, so that the host INI engine and
// the Windows functions can be compared on the same script.
//
// Script lines (fields separated by TAB, "\r", "\n", "\t", "\\" and "\0"
// escapes allowed in every field):
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

std::string unescape(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] != '\\' || i + 1 == s.size()) {
            out += s[i];
            continue;
        }
        const char c = s[++i];
        out += c == 'r' ? '\r' : c == 'n' ? '\n' : c == 't' ? '\t' : c == '0' ? '\0' : c;
    }
    return out;
}

std::string escape(const std::string& s) {
    std::string out;
    for (char c : s) {
        if (c == '\r')
            out += "\\r";
        else if (c == '\n')
            out += "\\n";
        else if (c == '\t')
            out += "\\t";
        else if (c == '\0')
            out += "\\0";
        else if (c == '\\')
            out += "\\\\";
        else
            out += c;
    }
    return out;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: ini_replay SCRIPT\n";
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::cerr << "cannot read " << argv[1] << "\n";
        return 2;
    }
    auto os = quillet::os::makeSystem("");
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::stringstream ss(line);
        std::string field;
        while (std::getline(ss, field, '\t')) f.push_back(unescape(field));
        try {
            if (f[0] == "file" && f.size() == 3) {
                if (os->entryExists(f[1])) os->deleteFile(f[1]);
                os->makeSureDirectoryPathExists(f[1]);
                os->appendToFile(f[1], f[2]);
            } else if (f[0] == "write" && f.size() == 5) {
                std::cout << number << " write "
                          << (os->iniWriteString(f[1], f[2], f[3], f[4]) ? 1 : 0) << "\n";
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
    return 0;
}
