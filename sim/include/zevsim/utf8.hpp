// UTF-8 for the simulator and its launcher: the report file's text, host file
// names and the launcher's arguments. Wide text is UTF-16 where wchar_t has
// 16 bits (Windows) and UTF-32 elsewhere.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zevsim {

// Appends one code point; a surrogate or a value above U+10FFFF becomes
// U+FFFD.
void appendUtf8(std::string& out, std::uint32_t code);
// Wide text to UTF-8 (a surrogate pair is one code point; characters that are
// not Unicode scalar values become U+FFFD).
std::string utf8FromWide(std::wstring_view text);
// UTF-8 text to wide text (invalid or overlong bytes become U+FFFD).
std::wstring wideFromUtf8(std::string_view text);

}  // namespace zevsim
