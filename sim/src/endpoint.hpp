// The endpoints of the simulated drivers (zevsim/device_endpoint.hpp has
// the interface): one per kind of path the namespace opens, and the request
// counter of a controller. The machine's handle table maps each handle to the
// endpoint of the path it opened.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "zevsim/device_endpoint.hpp"
#include "zevsim/machine_config.hpp"

namespace zevsim {

class NvmeDrive;

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

// A disk on the inbox NVMe driver (\\.\PHYSICALDRIVEn and its interface path);
// attachment counts the requests that come through this disk (its own faults).
std::unique_ptr<Endpoint> makeInboxDiskEndpoint(NvmeDrive& drive, std::uint32_t deviceNumber,
                                                FaultCounter* attachment = nullptr);

// The Intel RAID controller's storage-port path. For driver "irst" it answers
// CSMI, "IntelNvm" and "IntelFw "; for "vroc" every request fails with
// ERROR_INVALID_FUNCTION.
struct IntelControllerModel {
  const IntelControllerConfig* config = nullptr;
  std::vector<std::vector<NvmeDrive*>> volumeMembers;   // per RAID volume, in member order
  std::vector<std::vector<std::uint32_t>> volumePorts;  // matching member ports
  std::vector<NvmeDrive*> passThroughDrives;            // in file order
  FaultCounter faults{{}};
  // The attachments' own fault counters, matching volumeMembers and
  // passThroughDrives; a model built without them has none.
  std::vector<std::vector<FaultCounter>> memberAttachments;
  std::vector<FaultCounter> passThroughAttachments;
  FaultCounter* memberAttachment(std::size_t volume, std::size_t member);
  FaultCounter* passThroughAttachment(std::size_t index);
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
