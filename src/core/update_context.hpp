// core/: what the whole run shares: the disk records and lists, this
// context, the firmware image and the package identity, the steps' outcomes,
// the result codes and the run's result rule, the text rules, the silent flag
// and the zero-filled buffer. Includes nothing of the package above it.
//
// The run's shared state, created on entry and destroyed just before the entry
// point returns.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/disk_info.hpp"
#include "core/firmware_image.hpp"
#include "platform/platform.hpp"

namespace zev {

// The style of the process's exit code ("/rc=msi" asks for Windows
// Installer's).
enum class ExitCodeStyle {
  // The package's own statuses: 0, 1 and 1602; a check's 0, 2 and 1.
  Package,
  // 0, 3010 (soft reboot), 1618 (another installation is running), 1639
  // (invalid command line) and 1603 (fatal error) for an update.
  WindowsInstaller,
};

// How the run ended, where one exit status 1 stands for several causes.
enum class RunEnd {
  CommandLineRejected,
  GuardHeld,
  Ran,
};

struct UpdateContext {
  UpdateContext() = default;
  UpdateContext(const UpdateContext&) = delete;
  UpdateContext& operator=(const UpdateContext&) = delete;

  DiskList updateList;
  DiskInventory inventory;
  std::wstring logPath = L"test.txt";
  std::wstring inputCommand;
  std::wstring startTime;
  std::wstring endTime;
  std::int32_t finalResult = 0;
  // True once a log option named logPath; a run without one writes no log.
  bool logRequested = false;

  // The package title and the image's revision.
  PackageIdentity identity;
  // "/c": discovery, identification, the gate and read-only slot reads only.
  bool checkOnly = false;
  // "/json=<FILEPATH>": the run's results for programs.
  std::wstring jsonPath;
  bool jsonRequested = false;
  // True while the command line check created the file at jsonPath (nothing
  // was there): removed again when no run writes it.
  bool jsonCreatedByCheck = false;
  // "/capture=<FILEPATH>": what the run found, as a machine file; it implies
  // a check. Created by the command line check like jsonPath.
  std::wstring capturePath;
  bool captureRequested = false;
  bool captureCreatedByCheck = false;
  // The arguments as the program received them, its own path first.
  std::vector<std::wstring> arguments;
  platform::LocalTime startClock;
  platform::LocalTime endClock;
  // The image's SHA-256 in lower-case hexadecimal, once it was computed.
  std::string imageSha256;
  // A failure of the whole run before any drive was touched (a damaged image,
  // another run holding the guard): its text, as the log's and the results
  // file's error.
  std::optional<std::string> runError;
  // "/rc=msi" anywhere on the command line, even after a rejected argument.
  ExitCodeStyle exitCodeStyle = ExitCodeStyle::Package;
  // Set when another run holds the guard.
  RunEnd runEnd = RunEnd::Ran;
  // Every drive's outcome, recorded as the run goes: the identified drives in
  // identified-list order, then the disks that could not be examined.
  std::vector<DriveOutcome> outcomes;
};

}  // namespace zev
