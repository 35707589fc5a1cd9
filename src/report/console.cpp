// The console channels over one narrow byte sink.
#include "report/console.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "platform/platform.hpp"

namespace zev {

NarrowOut narrowOut;
WideOut wideOut;

namespace {
ConsoleCapture* activeCapture = nullptr;

// The line being written and the first error line since the last take.
constexpr std::string_view kErrorPrefix = "  [ERROR] ";
std::string currentLine;
std::string firstErrorLine;
bool errorLineSeen = false;

void noteLines(std::string_view bytes) {
  for (char c : bytes) {
    if (c != '\n') {
      currentLine.push_back(c);
      continue;
    }
    if (!errorLineSeen && currentLine.starts_with(kErrorPrefix)) {
      firstErrorLine = currentLine.substr(kErrorPrefix.size());
      errorLineSeen = true;
    }
    currentLine.clear();
  }
}
}  // namespace

ConsoleCapture::ConsoleCapture() : previous_(activeCapture) {
  activeCapture = this;
}
ConsoleCapture::~ConsoleCapture() {
  activeCapture = previous_;
}

void writeConsoleBytes(std::string_view bytes) {
  noteLines(bytes);
  if (activeCapture != nullptr) {
    activeCapture->text_.append(bytes);
    return;
  }
  platform::writeStandardOutput(bytes);
}

void flushConsole() {
  if (activeCapture == nullptr) {
    platform::flushStandardOutput();
  }
}

std::string takeErrorLine() {
  std::string line = errorLineSeen ? std::move(firstErrorLine) : std::string();
  firstErrorLine.clear();
  errorLineSeen = false;
  return line;
}

void printErrorLine(std::string_view text) {
  narrowOut << "  [ERROR] " << text << endLine << endLine;
}

void printErrorLine(std::string_view text, std::uint32_t code) {
  printErrorLine(errorText(text, code));
}

std::string errorText(std::string_view text, std::uint32_t code) {
  char digits[16];
  std::snprintf(digits, sizeof digits, "%lx", static_cast<unsigned long>(code));
  return std::string(text) + digits;
}

std::string narrowText(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (wchar_t c : text) {
    // Up to U+00FF a character is its own byte; above it, the low 8 bits
    // would be a different character (or a zero byte), so it becomes "?".
    const auto code = static_cast<std::uint32_t>(c);
    out.push_back(code <= 0xFFu ? static_cast<char>(code) : '?');
  }
  return out;
}

std::wstring widenBytes(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return out;
}

NarrowOut& NarrowOut::operator<<(std::string_view text) {
  writeConsoleBytes(text);
  return *this;
}

NarrowOut& NarrowOut::operator<<(std::int64_t value) {
  if (base_ == NumberBase::Hex) {
    // Like a C++ stream in hexadecimal: the value's bits, no sign.
    return *this << static_cast<std::uint64_t>(value);
  }
  char text[32];
  std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
  return *this << std::string_view(text);
}

NarrowOut& NarrowOut::operator<<(std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, base_ == NumberBase::Hex ? "%llx" : "%llu",
                static_cast<unsigned long long>(value));
  return *this << std::string_view(text);
}

NarrowOut& NarrowOut::operator<<(NumberBase base) {
  base_ = base;
  return *this;
}

NarrowOut& NarrowOut::operator<<(EndLine) {
  writeConsoleBytes("\n");
  flushConsole();
  return *this;
}

NarrowOut& NarrowOut::leftAdjusted(std::string_view text, std::size_t width) {
  *this << text;
  if (text.size() < width) {
    *this << std::string(width - text.size(), ' ');
  }
  return *this;
}

WideOut& WideOut::operator<<(std::wstring_view text) {
  writeConsoleBytes(narrowText(text));
  return *this;
}

WideOut& WideOut::operator<<(std::int32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "%ld", static_cast<long>(value));
  writeConsoleBytes(text);
  return *this;
}

WideOut& WideOut::operator<<(EndLine) {
  writeConsoleBytes("\n");
  flushConsole();
  return *this;
}

void printWide(const wchar_t* format, ...) {
  std::vector<wchar_t> buffer(512);
  for (;;) {
    va_list args;
    va_start(args, format);
    int written = std::vswprintf(buffer.data(), buffer.size(), format, args);
    va_end(args);
    // A text that does not fit is retried in a larger buffer: some C runtimes
    // return -1 then, others the length the text would have had.
    if (written >= 0 && static_cast<std::size_t>(written) < buffer.size()) {
      writeConsoleBytes(
          narrowText(std::wstring_view(buffer.data(), static_cast<std::size_t>(written))));
      return;
    }
    if (buffer.size() >= 65536) {
      return;  // a format that cannot be expanded prints nothing
    }
    const std::size_t wanted = written > 0 ? static_cast<std::size_t>(written) + 1 : 0;
    buffer.resize(std::max(buffer.size() * 4, wanted));
  }
}

void printNarrow(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed > 0) {
    std::string text(static_cast<std::size_t>(needed) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, args);
    text.resize(static_cast<std::size_t>(needed));
    writeConsoleBytes(text);
  }
  va_end(args);
}

}  // namespace zev
