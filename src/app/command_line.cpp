// Parsing of the two options, in argument order, stopping at the first
// rejected argument.
#include "app/command_line.hpp"

#include <optional>
#include <string_view>

#include "core/silent_mode.hpp"
#include "core/text.hpp"
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

// Two spellings of one file ("a.txt" and ".\\a.txt", a relative and an
// absolute path, another letter case on Windows, a hard link) have one
// identity; their text decides nothing. A path whose identity cannot be read
// cannot be told apart from the other, and counts as the same.
bool sameFile(const std::wstring& a, const std::wstring& b) {
  const std::optional<platform::FileIdentity> first = platform::fileIdentity(a);
  const std::optional<platform::FileIdentity> second = platform::fileIdentity(b);
  return !first || !second || *first == *second;
}

constexpr std::wstring_view kSilentOption = L"/s";
constexpr std::wstring_view kLogOption = L"/log";
constexpr std::wstring_view kCheckSwitch = L"/c";
constexpr std::wstring_view kJsonOption = L"/json";
// Exact and case-sensitive: a deployment tool's command line names it so.
constexpr std::wstring_view kInstallerCodesOption = L"/rc=msi";

// The value of a path option: checked for writing (an existing regular file
// is never cut, a missing one created) and refused when it names the file of
// the other path option. Nothing after the usage block or the invalid-path
// line.
std::optional<platform::FileCheck> acceptPath(std::wstring_view argument, std::size_t nameLength,
                                              const std::wstring* otherPath, std::wstring& path) {
  path = std::wstring(argument.substr(nameLength + 1));
  if (path.empty()) {
    printUsage();
    return std::nullopt;
  }
  const platform::FileCheck check = platform::openFileForWriting(path);
  if (check == platform::FileCheck::Refused ||
      (otherPath != nullptr && sameFile(path, *otherPath))) {
    wideOut << L"[ERROR] " << printableText(path) << L" is invalid file path." << endLine;
    return std::nullopt;
  }
  return check;
}

// The options in argument order, up to the first rejected one.
int parseArguments(UpdateContext& context, int argc, const wchar_t* const* argv) {
  for (int i = 1; i < argc; ++i) {
    const std::wstring_view argument(argv[i]);
    if (argument == kCheckSwitch) {
      context.checkOnly = true;
      continue;
    }
    if (argument == kInstallerCodesOption) {
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
      // A later option replaces the results file: the one the check created
      // for the earlier option goes, as no run will write it.
      if (context.jsonCreatedByCheck) {
        platform::discardFile(context.jsonPath);
        context.jsonCreatedByCheck = false;
      }
      const std::optional<platform::FileCheck> check =
          acceptPath(argument, kJsonOption.size(),
                     context.logRequested ? &context.logPath : nullptr, context.jsonPath);
      if (!check) {
        return 0;
      }
      context.jsonRequested = true;
      context.jsonCreatedByCheck = *check == platform::FileCheck::Created;
      continue;
    }
    printUsage();
    return 0;
  }
  return 1;
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
  narrowOut.leftAdjusted("/rc=msi", 20)
      << "Return Windows Installer codes: 3010 reboot, 1618 busy, 1603 failure." << endLine;
}

bool validateLogPath(const UpdateContext& context) {
  return platform::openFileForWriting(context.logPath) != platform::FileCheck::Refused;
}

int parseCommandLine(UpdateContext& context, int argc, const wchar_t* const* argv) {
  for (int i = 0; i < argc; ++i) {
    context.inputCommand += argv[i];
    context.inputCommand += L' ';
    context.arguments.emplace_back(argv[i]);
    // The style holds for the whole command line, so that a rejected one
    // ends with the code the caller asked for.
    if (i > 0 && std::wstring_view(argv[i]) == kInstallerCodesOption) {
      context.exitCodeStyle = ExitCodeStyle::WindowsInstaller;
    }
  }
  const int accepted = parseArguments(context, argc, argv);
  if (accepted == 0 && context.jsonCreatedByCheck) {
    // A rejected command line leaves no empty results file behind.
    platform::discardFile(context.jsonPath);
    context.jsonCreatedByCheck = false;
  }
  return accepted;
}

}  // namespace zev
