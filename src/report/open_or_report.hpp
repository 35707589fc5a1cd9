// The one report of a drive, port or controller that cannot be opened: the
// enumerations, the identifications and the update paths all open a device
// this way and print the same line when the open fails.
#pragma once

#include <cstdint>
#include <string>

#include "core/step_outcome.hpp"
#include "platform/device_request.hpp"

namespace zev {

struct OpenedDevice {
  DeviceHandle handle;  // closed when it goes out of scope
  // When the open failed: failureCode, "Failed to get disk handle: 0x" + the
  // error in lower-case hexadecimal, and the error.
  StepOutcome failure;
  bool ok() const { return handle.valid(); }
};

// openDevice, and on failure the error line "  [ERROR] Failed to get disk
// handle: 0x" + the error, a line end and an empty line.
OpenedDevice openOrReport(const std::wstring& path, std::uint32_t shareMode, std::uint32_t flags,
                          int failureCode);
// The same for an open already made (a counted one, core/counted_open.hpp).
OpenedDevice reportOpen(OpenOutcome opened, int failureCode);

}  // namespace zev
