// The opens of the devices whose driver counts every open that reaches it,
// failed ones included: the Intel controller's storage-port path and the SCSI
// ports \\.\ScsiN:. Discovery and the check open them only through these
// functions, so that a capture can tell which of its device's opens an open
// that failed was.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "platform/device_request.hpp"
#include "records/vroc_records.hpp"

namespace zev {

struct DeviceOpens {
  // The opens of the Intel controller's storage-port path.
  std::uint32_t controller = 0;
  // The opens of \\.\ScsiN:, by N.
  std::array<std::uint32_t, vroc::kScsiPortCount> scsiPorts{};

  // The opens of \\.\ScsiN:, 0 for a port outside them.
  std::uint32_t ofScsiPort(std::int32_t port) const {
    return port >= 0 && port < vroc::kScsiPortCount ? scsiPorts[static_cast<std::size_t>(port)] : 0;
  }
};

// openDevice on the Intel controller's path, counted in opens when given.
OpenOutcome openController(const std::wstring& path, std::uint32_t shareMode, std::uint32_t flags,
                           DeviceOpens* opens);
// openDevice on \\.\ScsiN: (port from 0 below vroc::kScsiPortCount), counted
// in opens when given.
OpenOutcome openScsiPort(std::int32_t port, std::uint32_t shareMode, std::uint32_t flags,
                         DeviceOpens* opens);

}  // namespace zev
