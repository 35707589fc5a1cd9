// Parsing of the two options, in argument order, stopping at the first
// rejected argument.
#include "app/command_line.hpp"

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

// "/log" followed by "="; the value is everything after the "=".
bool isLogOption(std::wstring_view argument, std::wstring_view logOption) {
  return argument.size() > logOption.size() && argument.substr(0, logOption.size()) == logOption &&
         argument[logOption.size()] == L'=';
}

}  // namespace

void printUsage() {
  narrowOut << endLine;
  narrowOut << "Allowed Behaviors:" << endLine;
  narrowOut.leftAdjusted("/s", 20)
      << "Execute update package in silently without user intervention." << endLine;
  narrowOut.leftAdjusted("/log=<FILEPATH>", 20)
      << "Write installation log to a specified file." << endLine;
}

bool validateLogPath(const UpdateContext& context) {
  return platform::openFileForWriting(context.logPath);
}

int parseCommandLine(UpdateContext& context, int argc, const wchar_t* const* argv) {
  for (int i = 0; i < argc; ++i) {
    context.inputCommand += argv[i];
    context.inputCommand += L' ';
  }
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view argument(argv[i]);
    if (isSilentSwitch(argument, context.silentOption)) {
      silentMode = true;
      continue;
    }
    if (isLogOption(argument, context.logOption)) {
      context.logPath = std::wstring(argument.substr(context.logOption.size() + 1));
      if (context.logPath.empty()) {
        printUsage();
        return 0;
      }
      if (!validateLogPath(context)) {
        wideOut << L"[ERROR] " << context.logPath << L" is invalid file path." << endLine;
        return 0;
      }
      context.logRequested = true;
      continue;
    }
    printUsage();
    return 0;
  }
  return 1;
}

}  // namespace zev
