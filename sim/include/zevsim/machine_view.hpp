// A read-only view of a simulated machine for the programs built on the
// simulator: the description it was built from, the device tree every device
// set lists, the names its path namespace opens, and the requests each drive
// has received. The Wine rig's set-up program recreates the devices and names
// in a Wine prefix from it, and the fuzz targets watch the drives' request
// counts through it, without the machine's private state.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zevsim/machine.hpp"
#include "zevsim/machine_config.hpp"

namespace zevsim {

enum class DeviceRole {
  OtherController,  // otherControllers[configIndex]
  InboxController,  // the NVMe controller of inbox[configIndex]
  InboxDisk,        // inbox[configIndex]
  IntelController,  // intelController
  RaidVolumeDisk,   // intelController->raidVolumes[configIndex]
  PassThroughDisk,  // intelController->passThrough[configIndex]
};

// One device of the tree, with its device-instance handle, setup and
// interface classes, interface path and the properties the package reads.
struct DeviceNode {
  DeviceRole role = DeviceRole::OtherController;
  std::size_t configIndex = 0;
  std::uint32_t devInst = 0;
  Guid setupClass;      // SP_DEVINFO_DATA.ClassGuid
  Guid interfaceClass;  // the one device interface the device registers
  std::wstring interfacePath;
  // String properties; an empty optional is a property the device lacks.
  std::optional<std::wstring> parent;
  std::optional<std::wstring> instanceId;
  std::optional<std::wstring> driverDesc;
  std::optional<std::wstring> locationInfo;
  std::optional<std::vector<std::wstring>> hardwareIds;  // SPDRP_HARDWAREID
  std::optional<std::uint32_t> diskNumber;               // disks: n of \\.\PHYSICALDRIVEn

  // The string property named by key: nullptr for a key the simulated
  // devices never carry, else the device's value (possibly absent).
  const std::optional<std::wstring>* stringProperty(const PropertyKey& key) const;
};

// ASCII case-insensitive comparison, as the object manager compares device
// names and interface paths.
bool equalsIgnoreAsciiCase(std::wstring_view a, std::wstring_view b);

// DEVPROP_TYPE_STRING value bytes: the text and its NUL, as wchar_t.
std::vector<std::uint8_t> encodeDevPropString(std::wstring_view text);
// REG_MULTI_SZ bytes: each string with its NUL, then one more NUL, as wchar_t.
std::vector<std::uint8_t> encodeMultiSz(const std::vector<std::wstring>& strings);

class MachineView {
 public:
  explicit MachineView(const Machine& machine);

  // The description the machine was built from, with every default applied.
  const MachineConfig& config() const;
  // The devices in device-set order: the other controllers; for each inbox
  // disk its NVMe controller and then the disk; the Intel controller, its
  // RAID volume disks and its pass-through disks; within each interface class
  // reordered by the list indexes of the description.
  const std::vector<DeviceNode>& devices() const;
  // Every name that createFile opens, in the namespace's order: the devices'
  // interface paths, then \\.\PHYSICALDRIVEn of every disk, then the SCSI
  // ports \\.\ScsiN:.
  std::vector<std::wstring> pathNames() const;
  // The requests of kind that reached drive config().drives[drive] so far.
  std::uint32_t driveRequests(std::size_t drive, FaultRequest kind) const;

 private:
  const MachineState& state_;
};

}  // namespace zevsim
