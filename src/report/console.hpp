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

#include "core/step_outcome.hpp"

namespace zev {

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
  NarrowOut& operator<<(EndLine);
  // Writes text left-adjusted in a field of width characters, padded with
  // blanks (the usage block's option column).
  NarrowOut& leftAdjusted(std::string_view text, std::size_t width);
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

// An error line on narrowOut: two blanks, "[ERROR] ", text, then lineEnds
// line ends (2: the line and an empty line).
void printErrorLine(std::string_view text, int lineEnds = 2);
// A failed step: prints its error line and returns its outcome, which carries
// the line's text as the step's diagnostic.
StepOutcome failedStep(int code, std::string text, std::uint32_t systemError = 0, int lineEnds = 2);
// The same for a step that failed on a request: the outcome names it, and its
// system error is the request's last error when the call failed.
StepOutcome failedStep(int code, std::string text, const FailedRequest& request, int lineEnds = 2);

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
