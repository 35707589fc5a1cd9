// The console channels over one narrow byte sink.
#include "report/console.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "core/text.hpp"
#include "platform/platform.hpp"

namespace zev {

NarrowOut narrowOut;
WideOut wideOut;

namespace {
ConsoleCapture* activeCapture = nullptr;
}  // namespace

ConsoleCapture::ConsoleCapture() : previous_(activeCapture) {
  activeCapture = this;
}
ConsoleCapture::~ConsoleCapture() {
  activeCapture = previous_;
}

void writeConsoleBytes(std::string_view bytes) {
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

void printErrorLine(std::string_view text, int lineEnds) {
  narrowOut << "  [ERROR] " << text;
  for (int i = 0; i < lineEnds; ++i) {
    narrowOut << endLine;
  }
}

StepOutcome failedStep(int code, std::string text, std::uint32_t systemError, int lineEnds) {
  printErrorLine(text, lineEnds);
  return {code, std::move(text), systemError, std::nullopt};
}

StepOutcome failedStep(int code, std::string text, const FailedRequest& request, int lineEnds) {
  const std::uint32_t systemError = request.form == FailureForm::Error ? request.value : 0;
  StepOutcome outcome = failedStep(code, std::move(text), systemError, lineEnds);
  outcome.failedRequest = request;
  return outcome;
}

NarrowOut& NarrowOut::operator<<(std::string_view text) {
  writeConsoleBytes(text);
  return *this;
}

NarrowOut& NarrowOut::operator<<(std::int64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%lld", static_cast<long long>(value));
  return *this << std::string_view(text);
}

NarrowOut& NarrowOut::operator<<(std::uint64_t value) {
  char text[32];
  std::snprintf(text, sizeof text, "%llu", static_cast<unsigned long long>(value));
  return *this << std::string_view(text);
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
