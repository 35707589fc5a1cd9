// What one step did for one disk (an open, a device-number request, an
// identification, an update, a slot read): its code and the text of the
// diagnostic line it printed. The step prints from this value and returns
// it, so that whoever records the drive's outcome never reads the console.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace zev {

// The kinds of request a step sends to a drive, a controller or a port, as a
// machine file names them.
enum class RequestKind : std::uint8_t {
  Open,
  DeviceNumber,
  Identify,
  GetInfo,
  Download,
  Activate,
  Csmi,
  VrocList,
  ScsiPortOpen,
};

// How a request failed: the call failed with a last error, or it was
// delivered with a ReturnCode, an NVMe status or a completion dword that is
// not success.
enum class FailureForm : std::uint8_t { Error, ReturnCode, NvmeStatus, Completion };

struct FailedRequest {
  RequestKind request = RequestKind::Open;
  FailureForm form = FailureForm::Error;
  std::uint32_t value = 0;
  friend bool operator==(const FailedRequest&, const FailedRequest&) = default;
};

struct StepOutcome {
  // The step's own code: 0 for success; for an update, the per-drive result
  // code (0, 1, 5 or 1602).
  int code = 0;
  // The first diagnostic line the step printed, without "  [ERROR] " and its
  // line ends; empty when it printed none.
  std::string diagnostic;
  // GetLastError of the failing call, when a platform call failed; else 0.
  std::uint32_t systemError = 0;
  // The request that failed and how; nothing when the step did not fail on a
  // request (success, a buffer that could not be had, a malformed reply).
  std::optional<FailedRequest> failedRequest = std::nullopt;
};

}  // namespace zev
