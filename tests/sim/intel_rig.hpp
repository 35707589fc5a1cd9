// An Intel RAID controller with its drives, built the way the machine builds
// its controller model, for the IRST and VROC driver tests.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "endpoint.hpp"
#include "nvme_drive.hpp"
#include "sim/request_bytes.hpp"

namespace zevsim::test {

struct RigMember {
  DriveConfig drive;
  std::uint32_t port = 0;
};

class IntelRig {
 public:
  // volumes: the RAID volumes' members; passThrough: drives and bus numbers.
  IntelRig(IntelDriver driver, std::vector<std::vector<RigMember>> volumes,
           std::vector<RigMember> passThrough, Bytes packageImage = {},
           std::vector<Fault> controllerFaults = {})
      : image_(std::move(packageImage)) {
    config_.driver = driver;
    config_.faults = controllerFaults;
    for (const auto& volume : volumes) {
      RaidVolumeConfig volumeConfig;
      std::vector<NvmeDrive*> members;
      std::vector<std::uint32_t> ports;
      for (const RigMember& member : volume) {
        drives_.push_back(std::make_unique<NvmeDrive>(member.drive, image_));
        members.push_back(drives_.back().get());
        ports.push_back(member.port);
        volumeConfig.members.push_back({member.drive.id, member.port});
      }
      config_.raidVolumes.push_back(volumeConfig);
      model_.volumeMembers.push_back(members);
      model_.volumePorts.push_back(ports);
    }
    for (const RigMember& pass : passThrough) {
      drives_.push_back(std::make_unique<NvmeDrive>(pass.drive, image_));
      model_.passThroughDrives.push_back(drives_.back().get());
      PassThroughConfig passConfig;
      passConfig.drive = pass.drive.id;
      passConfig.busNumber = pass.port;
      config_.passThrough.push_back(passConfig);
    }
    model_.config = &config_;
    model_.faults = FaultCounter(controllerFaults);
  }
  IntelRig(const IntelRig&) = delete;
  IntelRig& operator=(const IntelRig&) = delete;

  // Drives in construction order: volume members, then pass-through drives.
  NvmeDrive& drive(std::size_t i) { return *drives_.at(i); }
  IntelControllerModel& model() { return model_; }
  IntelControllerConfig& config() { return config_; }
  const Bytes& image() const { return image_; }

 private:
  Bytes image_;
  std::vector<std::unique_ptr<NvmeDrive>> drives_;
  IntelControllerConfig config_;
  IntelControllerModel model_;
};

inline IoReply send(Endpoint& endpoint, const Bytes& in) {
  return endpoint.request(kScsiMiniport, in, static_cast<std::uint32_t>(in.size()));
}

}  // namespace zevsim::test
