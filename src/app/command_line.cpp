// Parsing of the two options, in argument order, stopping at the first
// rejected argument.
#include "app/command_line.hpp"

#include <optional>
#include <string_view>
#include <vector>

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
constexpr std::wstring_view kCaptureOption = L"/capture";

// The value of a path option: checked for writing (an existing regular file
// is never cut, a missing one created) and refused when it names the file of
// the other path options. Nothing after the usage block or the invalid-path
// line.
std::optional<platform::FileCheck> acceptPath(std::wstring_view argument, std::size_t nameLength,
                                              const std::vector<const std::wstring*>& otherPaths,
                                              std::wstring& path) {
  path = std::wstring(argument.substr(nameLength + 1));
  if (path.empty()) {
    printUsage();
    return std::nullopt;
  }
  const platform::FileCheck check = platform::openFileForWriting(path);
  bool taken = false;
  for (const std::wstring* otherPath : otherPaths) {
    taken = taken || sameFile(path, *otherPath);
  }
  if (check == platform::FileCheck::Refused || taken) {
    wideOut << L"[ERROR] " << printableText(path) << L" is invalid file path." << endLine;
    return std::nullopt;
  }
  return check;
}

// The files the other path options named so far, but the one of option.
std::vector<const std::wstring*> otherPaths(const UpdateContext& context,
                                            std::wstring_view option) {
  std::vector<const std::wstring*> paths;
  if (option != kLogOption && context.logRequested) {
    paths.push_back(&context.logPath);
  }
  if (option != kJsonOption && context.jsonRequested) {
    paths.push_back(&context.jsonPath);
  }
  if (option != kCaptureOption && context.captureRequested) {
    paths.push_back(&context.capturePath);
  }
  return paths;
}

// A results or capture option: a later one replaces the file of an earlier
// one, and the file the check created for that one goes, as no run will
// write it. False when the path is rejected.
bool acceptWrittenFile(UpdateContext& context, std::wstring_view argument, std::wstring_view option,
                       std::wstring& path, bool& requested, bool& createdByCheck) {
  if (createdByCheck) {
    platform::discardFile(path);
    createdByCheck = false;
  }
  const std::optional<platform::FileCheck> check =
      acceptPath(argument, option.size(), otherPaths(context, option), path);
  if (!check) {
    return false;
  }
  requested = true;
  createdByCheck = *check == platform::FileCheck::Created;
  return true;
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
      if (!acceptPath(argument, kLogOption.size(), otherPaths(context, kLogOption),
                      context.logPath)) {
        return 0;
      }
      context.logRequested = true;
      continue;
    }
    if (isPathOption(argument, kJsonOption)) {
      if (!acceptWrittenFile(context, argument, kJsonOption, context.jsonPath,
                             context.jsonRequested, context.jsonCreatedByCheck)) {
        return 0;
      }
      continue;
    }
    if (isPathOption(argument, kCaptureOption)) {
      if (!acceptWrittenFile(context, argument, kCaptureOption, context.capturePath,
                             context.captureRequested, context.captureCreatedByCheck)) {
        return 0;
      }
      // A capture writes what a check finds: nothing is downloaded,
      // activated or committed.
      context.checkOnly = true;
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
  narrowOut.leftAdjusted("/capture=<FILEPATH>", 20)
      << "Write the drives and devices found as a machine file." << endLine;
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
  // A rejected command line leaves no empty results or capture file behind.
  if (accepted == 0 && context.jsonCreatedByCheck) {
    platform::discardFile(context.jsonPath);
    context.jsonCreatedByCheck = false;
  }
  if (accepted == 0 && context.captureCreatedByCheck) {
    platform::discardFile(context.capturePath);
    context.captureCreatedByCheck = false;
  }
  return accepted;
}

}  // namespace zev
