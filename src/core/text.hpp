// The package's text rules, written once: narrowing wide text to the log's
// and console's 8-bit bytes, control characters out of echoed text, widening
// bytes, UTF-8 for the results file, wide characters read out of a byte
// buffer a platform call filled, and the hexadecimal forms the diagnostic
// lines print numbers in.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zev {

// Narrows wide text: a character up to U+00FF is its own byte, any other "?"
// (its low 8 bits would be another character, or a zero byte).
std::string narrowText(std::wstring_view text);
// Text of the command line or a path as the console and the log show it: a
// C0 or C1 control character (U+0000 to U+001F, U+007F to U+009F) becomes
// "?", as a byte of drive text does (identify::driveTextCharacter), so that
// no argument can end a line, forge a line of its own ("[Final Result]") or
// reach a terminal as an escape sequence. Every other character stays.
std::wstring printableText(std::wstring_view text);
// Widens bytes one per character, zero-extended.
std::wstring widenBytes(std::string_view bytes);
// Wide text as UTF-8 (a surrogate pair is one character; a character that is
// not a Unicode scalar value becomes U+FFFD).
std::string utf8FromWide(std::wstring_view text);

// The wide characters (wchar_t units in the platform's byte order) of bytes,
// read up to the first zero unit or the last whole unit.
std::wstring wideTextUpToZero(std::span<const std::uint8_t> bytes);
// The zero-terminated wide strings of a REG_MULTI_SZ value, in order; the
// list ends at the first empty string or at the last whole unit.
std::vector<std::wstring> wideMultiStrings(std::span<const std::uint8_t> bytes);

// Lower-case hexadecimal without leading zeros ("%lx": a narrow stream
// switched to hexadecimal).
std::string lowerHex(std::uint32_t value);
// Upper-case hexadecimal without leading zeros ("%X").
std::string upperHex(std::uint32_t value);
// Eight lower-case hexadecimal digits ("%08x").
std::string eightDigitHex(std::uint32_t value);
// Two lower-case hexadecimal digits per byte (a digest).
std::string hexBytes(std::span<const std::uint8_t> bytes);

}  // namespace zev
