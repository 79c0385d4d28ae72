#pragma once
// Small text operations with the exact meaning the program's rules need:
// "trim" removes the space character only (tabs stay), upper-casing is ASCII.
#include <string>
#include <vector>

namespace quillet {

std::string trimSpaces(const std::string& s);
std::string upper(std::string s);
std::string lowerAscii(std::string s);
// Splits at every separator; empty pieces stay, an empty text gives one empty piece.
std::vector<std::string> splitAll(const std::string& s, char separator);
// Text before the first NUL character.
std::string cutAtNul(const std::string& s);
// Appends "\" when the text does not end with one.
std::string withTrailingBackslash(std::string path);
// Bytes in MiB, in floating point as every limit of the program compares them.
inline double mebibytes(unsigned long long bytes) {
    return static_cast<double>(bytes) / 1024.0 / 1024.0;
}

}  // namespace quillet
