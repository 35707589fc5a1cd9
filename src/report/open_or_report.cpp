// The open of a device, reported when it fails.
#include "report/open_or_report.hpp"

#include "core/text.hpp"
#include "report/console.hpp"

namespace zev {

OpenedDevice openOrReport(const std::wstring& path, std::uint32_t shareMode, std::uint32_t flags,
                          int failureCode) {
  return reportOpen(openDevice(path, shareMode, flags), failureCode);
}

OpenedDevice reportOpen(OpenOutcome opened, int failureCode) {
  OpenedDevice device;
  if (opened.ok()) {
    device.handle = std::move(opened.handle);
    return device;
  }
  device.failure =
      failedStep(failureCode, "Failed to get disk handle: 0x" + lowerHex(opened.lastError),
                 FailedRequest{RequestKind::Open, FailureForm::Error, opened.lastError});
  return device;
}

}  // namespace zev
