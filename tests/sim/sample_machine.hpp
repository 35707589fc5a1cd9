// Machine-description pieces shared by the device tree and machine tests: a
// drive and an inbox disk with identifiers written the way Windows shows them.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "zevsim/machine_config.hpp"

namespace zevsim::test {

// A drive with the package's target model and revision KTW3LMZB.
inline DriveConfig sampleDrive(const std::string& id) {
  DriveConfig d;
  d.id = id;
  d.model = "KELDORA TQ270c 1TB";
  d.model.resize(40, ' ');
  d.serial = "KD27" + id;
  d.serial.resize(20, ' ');
  d.firmware = "KTW3LMZB";
  return d;
}

// The inbox disk of driveId with the disk number number, every optional
// property present.
inline InboxDiskConfig inboxDisk(const std::string& driveId, std::uint32_t number) {
  const std::string n = std::to_string(number);
  InboxDiskConfig disk;
  disk.drive = driveId;
  disk.deviceNumber = number;
  disk.parentInstanceId = "PCI\\VEN_1D9B&DEV_2700&SUBSYS_00011D9B&REV_01\\4&1A2B&0&00E" + n;
  disk.hardwareIds = std::vector<std::string>{"SCSI\\DiskNVMe____KELDORA_TQ270c_1KTW3",
                                              "SCSI\\DiskNVMe____", "GenDisk"};
  disk.instanceId = "SCSI\\DISK&VEN_NVME&PROD_KELDORA_TQ270C\\5&2C&0&00000" + n;
  disk.interfacePath = "\\\\?\\scsi#disk&ven_nvme&prod_keldora_tq270c#5&2c&0&00000" + n +
                       "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
  disk.controllerInstanceId = *disk.parentInstanceId;
  disk.controllerInterfacePath =
      "\\\\?\\pci#ven_1d9b&dev_2700#4&1a2b&0&00e" + n + "#{2accfe60-c130-11d2-b082-00a0c91efb8b}";
  return disk;
}

// Names parameterised cases by their row's name field, which must be a valid
// test name: stable from one build to the next, whatever the row holds.
struct ByName {
  template <typename Param>
  std::string operator()(const testing::TestParamInfo<Param>& info) const {
    return std::string(info.param.name);
  }
};

}  // namespace zevsim::test
