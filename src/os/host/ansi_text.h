#pragma once
// The host's ANSI code page is UTF-8: what the Windows A functions do with
// text in their code page, the host does with UTF-8.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace quillet::os::host {

void appendUtf8(std::string& out, std::uint32_t cp);
// Length of the well-formed UTF-8 sequence at s[i] with its code point, or 0.
std::size_t decodeUtf8(std::string_view s, std::size_t i, std::uint32_t& cp);
// UTF-16LE to the ANSI code page: every unit converted, NULs included; a
// lone surrogate becomes U+FFFD and an odd last byte is dropped. With
// `escapedBytes`, a lone U+DC80..U+DCFF is the byte that utf8ToUtf16le put there.
std::string utf16leToUtf8(const unsigned char* p, std::size_t byteCount, bool escapedBytes = false);
// The ANSI code page to UTF-16LE. A byte that is no part of a UTF-8 character
// has no character to stand for: it becomes the lone surrogate U+DC00 + byte,
// which no text holds, so that it reads back as the same byte.
std::string utf8ToUtf16le(std::string_view text);
std::string lowerAscii(std::string s);
// Characters as Windows counts them in a string: UTF-16 units.
std::size_t characterCount(std::string_view text);

}  // namespace quillet::os::host
