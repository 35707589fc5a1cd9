// The counted opens of the Intel controller's path and of the SCSI ports.
#include "core/counted_open.hpp"

namespace zev {

OpenOutcome openController(const std::wstring& path, std::uint32_t shareMode, std::uint32_t flags,
                           DeviceOpens* opens) {
  if (opens != nullptr) {
    ++opens->controller;
  }
  return openDevice(path, shareMode, flags);
}

OpenOutcome openScsiPort(std::int32_t port, std::uint32_t shareMode, std::uint32_t flags,
                         DeviceOpens* opens) {
  if (opens != nullptr && port >= 0 && port < vroc::kScsiPortCount) {
    ++opens->scsiPorts[static_cast<std::size_t>(port)];
  }
  return openDevice(vroc::scsiPortPath(port), shareMode, flags);
}

}  // namespace zev
