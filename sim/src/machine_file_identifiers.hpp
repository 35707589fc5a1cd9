// The device identifiers that the machine-file loader gives to devices the
// file does not name: PCI and SCSI instance identifiers in the forms Windows
// uses (upper case), their device-interface paths (lower case, as the
// SetupAPI interface detail returns them), the hardware identifiers of an NVMe
// disk on the inbox driver and the location text of a disk behind an Intel
// controller. Every identifier is deterministic and differs from device to
// device; nothing here reads the machine file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zevsim {

// Interface class GUIDs as they appear in device-interface paths.
inline constexpr std::string_view kDiskInterfaceGuidText = "{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
inline constexpr std::string_view kStoragePortInterfaceGuidText =
    "{2accfe60-c130-11d2-b082-00a0c91efb8b}";

// "\\?\" + the instance identifier lower-cased, with its backslashes turned
// into '#', + "#" + the interface class GUID.
std::string diskInterfacePath(std::string_view instanceId);
std::string storagePortInterfacePath(std::string_view instanceId);

// The PCI NVMe controller of the index-th inbox disk:
// PCI\VEN_1D9B&DEV_2700&SUBSYS_00011D9B&REV_01\4&<8 hex digits>&0&00E8.
std::string inboxControllerInstanceId(std::size_t index);

// The hardware identifiers that the inbox NVMe driver's disk reports, built
// from the drive's 40 MN bytes and 8 FR bytes ("SCSI\DiskNVMe____<model>..."),
// most specific first.
std::vector<std::string> inboxHardwareIds(std::string_view model, std::string_view firmware);

// SCSI\DISK&VEN_NVME&PROD_<first 16 model characters>\5&<8 hex digits>&0&000000.
std::string inboxDiskInstanceId(std::string_view model, std::size_t index);

// The Intel RAID controller: PCI\VEN_8086&DEV_A77F&SUBSYS_...\3&11583659&0&B8.
std::string intelControllerInstanceId();

// A RAID volume disk: SCSI\DISK&VEN_INTEL&PROD_RAID<level>VOLUME\4&<hex>&0&<n>,
// the level following from the member count (1: RAID 0, 2: RAID 1, more:
// RAID 5).
std::string raidVolumeInstanceId(std::size_t memberCount, std::size_t index);

// A non-RAID NVMe disk behind the Intel controller:
// SCSI\DISK&VEN_NVME&PROD_<model>\4&<hex>&0&<bus>0000.
std::string passThroughInstanceId(std::string_view model, std::uint32_t busNumber,
                                  std::size_t index);

// "Bus Number <n>, Target Id 0, LUN 0".
std::string passThroughLocationInfo(std::uint32_t busNumber);

// The index-th storage port of another driver (a SATA AHCI controller).
std::string otherControllerInstanceId(std::size_t index);
inline constexpr std::string_view kOtherControllerDriverDesc = "Standard SATA AHCI Controller";

inline constexpr std::string_view kIrstDriverDesc =
    "Intel(R) Chipset SATA/PCIe RST Premium Controller";
inline constexpr std::string_view kVrocDriverDesc =
    "Intel(R) Volume Management Device NVMe RAID Controller";

}  // namespace zevsim
