// What stands behind an opened path: an endpoint answers device requests the
// way its driver would. The machine's handle table maps each handle to the
// endpoint of the path it opened.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "zevsim/machine_config.hpp"

namespace zevsim {

class NvmeDrive;

// The outcome of one device request. delivered false: the call fails with
// error and the caller's buffer is left untouched. delivered true: the call
// succeeds; reply holds the output bytes to copy back (at most the caller's
// output size), bytesReturned what the call reports.
struct IoReply {
  bool delivered = true;
  std::uint32_t error = 0;
  std::vector<std::uint8_t> reply;
  std::uint32_t bytesReturned = 0;
};

class Endpoint {
 public:
  virtual ~Endpoint() = default;
  // in: the request's input bytes; outSize: the caller's output length.
  virtual IoReply request(std::uint32_t controlCode, std::span<const std::uint8_t> in,
                          std::uint32_t outSize) = 0;
};

// Counts the requests of each kind that reached a controller and finds the
// fault that applies, like NvmeDrive::countRequest.
class FaultCounter {
 public:
  explicit FaultCounter(std::vector<Fault> faults) : faults_(std::move(faults)) {}
  const Fault* count(FaultRequest kind);
  std::uint32_t countOf(FaultRequest kind) const { return counts_[static_cast<int>(kind)]; }

 private:
  std::vector<Fault> faults_;
  std::uint32_t counts_[kFaultRequestKinds]{};
};

// A disk on the inbox NVMe driver (\\.\PHYSICALDRIVEn and its interface path).
std::unique_ptr<Endpoint> makeInboxDiskEndpoint(NvmeDrive& drive, std::uint32_t deviceNumber);

// The Intel RAID controller's storage-port path. For driver "irst" it answers
// CSMI, "IntelNvm" and "IntelFw "; for "vroc" every request fails with
// ERROR_INVALID_FUNCTION.
struct IntelControllerModel {
  const IntelControllerConfig* config = nullptr;
  std::vector<std::vector<NvmeDrive*>> volumeMembers;   // per RAID volume, in member order
  std::vector<std::vector<std::uint32_t>> volumePorts;  // matching member ports
  std::vector<NvmeDrive*> passThroughDrives;            // in file order
  FaultCounter faults{{}};
};
std::unique_ptr<Endpoint> makeIrstControllerEndpoint(IntelControllerModel& controller);

// \\.\ScsiN: the VROC driver's port when N is vrocPort on a "vroc"
// controller; every other port fails "NvmeRAID" requests.
std::unique_ptr<Endpoint> makeScsiPortEndpoint(IntelControllerModel* controller,
                                               std::uint32_t port);

// An Intel-parented disk (RAID volume or pass-through disk) or another
// driver's storage port: opens, and fails every request with
// ERROR_INVALID_FUNCTION.
std::unique_ptr<Endpoint> makeInvalidFunctionEndpoint();

}  // namespace zevsim
