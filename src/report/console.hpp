// report/: the console channels, the banner, the installation log and the
// final result. Includes core/ and platform/ only.
//
// The four console channels. All of them format into text and write bytes
// through one narrow sink (standard output, or a capture buffer in tests), so
// text comes out in call order whichever channel wrote it. Wide text reaches
// the sink one byte per character up to U+00FF and "?" above it, as the log
// narrows it; an end of line writes "\n" and flushes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zev {

// Number base of narrowOut; a caller that switches to Hex for one value switches
// back to Dec right after it.
enum class NumberBase { Dec, Hex };

struct EndLine {};
inline constexpr EndLine endLine{};

// The narrow (8-bit) output stream.
class NarrowOut {
 public:
  NarrowOut& operator<<(std::string_view text);
  NarrowOut& operator<<(const char* text) { return *this << std::string_view(text); }
  NarrowOut& operator<<(std::int64_t value);
  NarrowOut& operator<<(std::uint64_t value);
  NarrowOut& operator<<(std::int32_t value) { return *this << static_cast<std::int64_t>(value); }
  NarrowOut& operator<<(std::uint32_t value) { return *this << static_cast<std::uint64_t>(value); }
  NarrowOut& operator<<(NumberBase base);
  NarrowOut& operator<<(EndLine);
  // Writes text left-adjusted in a field of width characters, padded with
  // blanks (the usage block's option column).
  NarrowOut& leftAdjusted(std::string_view text, std::size_t width);
  NumberBase base() const { return base_; }
  void reset() { base_ = NumberBase::Dec; }

 private:
  NumberBase base_ = NumberBase::Dec;
};

// The wide output stream: wide text, signed 32-bit decimal numbers.
class WideOut {
 public:
  WideOut& operator<<(std::wstring_view text);
  WideOut& operator<<(const wchar_t* text) { return *this << std::wstring_view(text); }
  WideOut& operator<<(std::int32_t value);
  WideOut& operator<<(EndLine);
};

extern NarrowOut narrowOut;
extern WideOut wideOut;

// Formatted wide print (vswprintf). Formats use %d, %X, %08x and the like;
// never %s, whose meaning differs between C runtimes.
void printWide(const wchar_t* format, ...);
// Formatted narrow print (vsnprintf).
void printNarrow(const char* format, ...)
#if defined(__GNUC__)
    __attribute__((format(printf, 1, 2)))
#endif
    ;

// A drive's error line on narrowOut: two blanks, "[ERROR] ", text, then the
// code in lower-case hexadecimal when one is given (text then ends in "0x"),
// a line end and an empty line.
void printErrorLine(std::string_view text);
void printErrorLine(std::string_view text, std::uint32_t code);
// The text of such a line with a code: text + the code in lower-case
// hexadecimal.
std::string errorText(std::string_view text, std::uint32_t code);
// The first line written since the last call that began with "  [ERROR] ",
// without that prefix; empty when there was none. Tells the results file
// which diagnostic a drive's step printed.
std::string takeErrorLine();

// Narrows wide text: a character up to U+00FF is its own byte, any other "?".
std::string narrowText(std::wstring_view text);
// Widens bytes one per character, zero-extended.
std::wstring widenBytes(std::string_view bytes);

// Test hook: while a capture is active, the sink appends to it instead of
// writing to standard output.
class ConsoleCapture {
 public:
  ConsoleCapture();
  ~ConsoleCapture();
  ConsoleCapture(const ConsoleCapture&) = delete;
  ConsoleCapture& operator=(const ConsoleCapture&) = delete;
  const std::string& text() const { return text_; }

 private:
  friend void writeConsoleBytes(std::string_view bytes);
  std::string text_;
  ConsoleCapture* previous_;
};

// The one sink every channel writes through.
void writeConsoleBytes(std::string_view bytes);
void flushConsole();

}  // namespace zev
