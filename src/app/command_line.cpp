// Parsing of the two options, in argument order, stopping at the first
// rejected argument.
#include "app/command_line.hpp"

#include <algorithm>
#include <string_view>

#include "core/silent_mode.hpp"
#include "platform/platform.hpp"
#include "report/console.hpp"

namespace zev {

namespace {

// "/s", "/" and "" select silent mode: an argument of at most two characters
// that equals the same number of leading characters of the silent option.
bool isSilentSwitch(std::wstring_view argument, std::wstring_view silentOption) {
  const std::size_t n = argument.size();
  return n <= 2 && n <= silentOption.size() && argument == silentOption.substr(0, n);
}

// An option name ("/log", "/json") followed by "="; the value is everything
// after the "=".
bool isPathOption(std::wstring_view argument, std::wstring_view option) {
  return argument.size() > option.size() && argument.substr(0, option.size()) == option &&
         argument[option.size()] == L'=';
}

// Windows compares file names without regard to ASCII case.
bool sameFileName(std::wstring_view a, std::wstring_view b) {
  const auto lower = [](wchar_t c) { return c >= L'A' && c <= L'Z' ? c - L'A' + L'a' : c; };
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [&](wchar_t x, wchar_t y) { return lower(x) == lower(y); });
}

constexpr std::wstring_view kSilentOption = L"/s";
constexpr std::wstring_view kLogOption = L"/log";
constexpr std::wstring_view kCheckSwitch = L"/c";
constexpr std::wstring_view kJsonOption = L"/json";

// The value of a path option: checked like the log path (opened for writing,
// never cut) and refused when it names the file of the other path option.
// False after the usage block or the invalid-path line.
bool acceptPath(std::wstring_view argument, std::size_t nameLength, const std::wstring* otherPath,
                std::wstring& path) {
  path = std::wstring(argument.substr(nameLength + 1));
  if (path.empty()) {
    printUsage();
    return false;
  }
  if ((otherPath != nullptr && sameFileName(path, *otherPath)) ||
      !platform::openFileForWriting(path)) {
    wideOut << L"[ERROR] " << path << L" is invalid file path." << endLine;
    return false;
  }
  return true;
}

}  // namespace

void printUsage() {
  narrowOut << endLine;
  narrowOut << "Allowed Behaviors:" << endLine;
  narrowOut.leftAdjusted("/s", 20)
      << "Execute update package in silently without user intervention." << endLine;
  narrowOut.leftAdjusted("/log=<FILEPATH>", 20)
      << "Write installation log to a specified file." << endLine;
  narrowOut.leftAdjusted("/c", 20)
      << "Check which drives need this update; change nothing." << endLine;
  narrowOut.leftAdjusted("/json=<FILEPATH>", 20)
      << "Write the results as JSON to a specified file." << endLine;
}

bool validateLogPath(const UpdateContext& context) {
  return platform::openFileForWriting(context.logPath);
}

int parseCommandLine(UpdateContext& context, int argc, const wchar_t* const* argv) {
  for (int i = 0; i < argc; ++i) {
    context.inputCommand += argv[i];
    context.inputCommand += L' ';
    context.arguments.emplace_back(argv[i]);
  }
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view argument(argv[i]);
    if (argument == kCheckSwitch) {
      context.checkOnly = true;
      continue;
    }
    if (isSilentSwitch(argument, kSilentOption)) {
      silentMode = true;
      continue;
    }
    if (isPathOption(argument, kLogOption)) {
      if (!acceptPath(argument, kLogOption.size(),
                      context.jsonRequested ? &context.jsonPath : nullptr, context.logPath)) {
        return 0;
      }
      context.logRequested = true;
      continue;
    }
    if (isPathOption(argument, kJsonOption)) {
      if (!acceptPath(argument, kJsonOption.size(),
                      context.logRequested ? &context.logPath : nullptr, context.jsonPath)) {
        return 0;
      }
      context.jsonRequested = true;
      continue;
    }
    printUsage();
    return 0;
  }
  return 1;
}

}  // namespace zev
