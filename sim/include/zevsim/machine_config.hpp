// The description of a simulated machine, as a machine file gives it, with
// every default already applied by the loader. Drive texts (model, serial,
// firmware) are byte strings: one char per Latin-1 code point, already padded
// to their field widths. Identifiers and paths are ASCII.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zevsim {

enum class FaultRequest {
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
inline constexpr int kFaultRequestKinds = 9;

// One injected failure. nth counts (from 1) the requests of that kind that
// reached the drive or controller; absent means every one. Exactly one of
// error, returnCode, nvmeStatus and completion is set, or dataBufferOffset
// alone (getInfo only).
struct Fault {
  FaultRequest request = FaultRequest::Open;
  std::optional<std::uint32_t> nth;
  std::optional<std::uint32_t> error;
  std::optional<std::uint32_t> returnCode;
  std::optional<std::uint32_t> nvmeStatus;
  std::optional<std::uint32_t> completion;
  std::optional<std::uint32_t> dataBufferOffset;
  friend bool operator==(const Fault&, const Fault&) = default;
};

enum class Activation { Reset, PowerCycle, Immediate };

struct DriveConfig {
  std::string id;
  std::string model;     // 40 bytes
  std::string serial;    // 20 bytes
  std::string firmware;  // 8 bytes
  // VER: MJR (bytes 82-83), MNR (81) and TER (80).
  std::uint16_t nvmeMajor = 1;
  std::uint8_t nvmeMinor = 3;
  std::uint8_t nvmeTertiary = 0;
  std::uint8_t fwug = 0;
  bool fwugStrict = false;
  std::uint32_t mdts = 0;  // the limit the drive enforces, in bytes; 0 = no limit
  // The MDTS byte Identify returns, when the file gave it raw; absent: the
  // byte follows from mdts.
  std::optional<std::uint8_t> mdtsExponent;
  std::uint32_t slots = 2;
  bool slot1ReadOnly = true;
  std::uint32_t activeSlot = 1;
  bool upgradeSupport = true;
  std::uint32_t imageSize = 2097152;
  Activation activation = Activation::Reset;
  // The revisions the slots hold, slot 1 first, each 8 bytes; empty: every
  // slot holds `firmware`. Otherwise exactly `slots` entries.
  std::vector<std::string> slotFirmware;
  // The slot that becomes active at the next reset (1 to slots), as an
  // earlier run may have left it; absent: none.
  std::optional<std::uint32_t> pendingSlot;
  std::vector<Fault> faults;
  friend bool operator==(const DriveConfig&, const DriveConfig&) = default;
};

// A drive on the inbox NVMe driver. An absent optional is a property the
// device does not have.
struct InboxDiskConfig {
  std::string drive;
  std::uint32_t deviceNumber = 0;
  std::optional<std::string> parentInstanceId;
  std::optional<std::vector<std::string>> hardwareIds;
  std::optional<std::string> instanceId;
  std::string interfacePath;
  // The disk's NVMe controller (a storage-port device) that the loader
  // derives; it is listed just before the disk.
  std::string controllerInstanceId;
  std::string controllerInterfacePath;
  // The places of the disk among the disks and of its controller among the
  // storage ports, as the platform listed them; absent: the default order.
  std::optional<std::uint32_t> listIndex = std::nullopt;
  std::optional<std::uint32_t> controllerListIndex = std::nullopt;
  // Faults of this attachment alone; nth counts its own requests.
  std::vector<Fault> faults = {};
  friend bool operator==(const InboxDiskConfig&, const InboxDiskConfig&) = default;
};

// What a RAID member or a pass-through drive of a "vroc" controller carries in
// the VROC driver's lists: its disk id (absent: 1, 2, ... for the members in
// volume and member order, then the pass-through drives) and the list entry's
// texts (absent: the drive's MN and SN).
struct VrocListing {
  std::optional<std::uint32_t> diskId;
  std::optional<std::string> listSerial;  // 20 bytes
  std::optional<std::string> listModel;   // 40 bytes
  friend bool operator==(const VrocListing&, const VrocListing&) = default;
};

struct RaidMemberConfig {
  std::string drive;
  std::uint32_t port = 0;
  VrocListing listing = {};
  std::vector<Fault> faults = {};  // of this attachment alone
  friend bool operator==(const RaidMemberConfig&, const RaidMemberConfig&) = default;
};

struct RaidVolumeConfig {
  std::vector<RaidMemberConfig> members;
  std::optional<std::string> instanceId;
  std::string interfacePath;
  std::uint32_t deviceNumber = 0;
  std::optional<std::uint32_t> listIndex = std::nullopt;  // among the disks
  friend bool operator==(const RaidVolumeConfig&, const RaidVolumeConfig&) = default;
};

struct PassThroughConfig {
  std::string drive;
  std::uint32_t busNumber = 0;
  std::optional<std::string> locationInfo;
  std::optional<std::string> instanceId;
  std::string interfacePath;
  std::uint32_t deviceNumber = 0;
  std::optional<std::uint32_t> listIndex = std::nullopt;  // among the disks
  VrocListing listing = {};
  std::vector<Fault> faults = {};  // of this attachment alone
  friend bool operator==(const PassThroughConfig&, const PassThroughConfig&) = default;
};

enum class IntelDriver { Irst, Vroc };

struct IntelControllerConfig {
  IntelDriver driver = IntelDriver::Irst;
  std::optional<std::string> driverDesc;
  std::string instanceId;
  // false: the device has no DEVPKEY_Device_InstanceId; instanceId still
  // names it as its disks' parent.
  bool instanceIdReadable = true;
  std::string interfacePath;
  std::optional<std::uint32_t> listIndex = std::nullopt;  // among the storage ports
  std::vector<RaidVolumeConfig> raidVolumes;
  std::vector<PassThroughConfig> passThrough;
  std::uint32_t vrocPort = 2;
  std::uint32_t scsiPorts = 3;
  std::vector<Fault> faults;
  friend bool operator==(const IntelControllerConfig&, const IntelControllerConfig&) = default;
};

struct OtherControllerConfig {
  std::string instanceId;
  std::optional<std::string> driverDesc;
  std::string interfacePath;
  std::optional<std::uint32_t> listIndex = std::nullopt;  // among the storage ports
  friend bool operator==(const OtherControllerConfig&, const OtherControllerConfig&) = default;
};

struct MachineConfig {
  std::string description;
  std::vector<DriveConfig> drives;
  std::vector<InboxDiskConfig> inbox;
  std::optional<IntelControllerConfig> intelController;
  std::vector<OtherControllerConfig> otherControllers;
  bool moduleHandleFails = false;
  // The computer's name (GetComputerNameW): ASCII, 1 to 15 characters.
  std::string computerName = "ZEVSIM-01";
  // true: another run of the package holds the system-wide run guard, so
  // Machine::acquireRunGuard() fails.
  bool runGuardHeld = false;
  // true: the Application log takes no entry (full, or its service not
  // running), so Machine::reportEvent() fails.
  bool eventLogFails = false;
  friend bool operator==(const MachineConfig&, const MachineConfig&) = default;
};

}  // namespace zevsim
