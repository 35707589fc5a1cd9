// The simulated machine's device tree: the devices that the SetupAPI calls
// list (DeviceNode, zevsim/machine_view.hpp), in the one order every device
// set uses, with their device-instance handles, setup and interface classes,
// interface paths and the properties the package reads. Built once from the
// machine description; the SetupAPI call semantics on top of it live in
// machine_setupapi.cpp.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zevsim/machine.hpp"
#include "zevsim/machine_config.hpp"
#include "zevsim/machine_view.hpp"

namespace zevsim {

// GUID_DEVINTERFACE_DISK {53F56307-B6BF-11D0-94F2-00A0C91EFB8B}
inline constexpr Guid kGuidDevInterfaceDisk{
    0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
// GUID_DEVINTERFACE_STORAGEPORT {2ACCFE60-C130-11D2-B082-00A0C91EFB8B}
inline constexpr Guid kGuidDevInterfaceStoragePort{
    0x2ACCFE60, 0xC130, 0x11D2, {0xB0, 0x82, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
// GUID_DEVCLASS_DISKDRIVE {4D36E967-E325-11CE-BFC1-08002BE10318}: the setup
// class that SP_DEVINFO_DATA.ClassGuid reports for a disk.
inline constexpr Guid kGuidDevClassDiskDrive{
    0x4D36E967, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// GUID_DEVCLASS_SCSIADAPTER {4D36E97B-E325-11CE-BFC1-08002BE10318}: storage
// controllers (NVMe, RAID).
inline constexpr Guid kGuidDevClassScsiAdapter{
    0x4D36E97B, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};

// DEVPKEY_Device_DriverDesc {A8B865DD-2E3D-4094-AD97-E593A70C75D6}, 4
inline constexpr PropertyKey kDevPKeyDriverDesc{
    {0xA8B865DD, 0x2E3D, 0x4094, {0xAD, 0x97, 0xE5, 0x93, 0xA7, 0x0C, 0x75, 0xD6}}, 4};
// DEVPKEY_Device_Parent {4340A6C5-93FA-4706-972C-7B648008A5A7}, 8
inline constexpr PropertyKey kDevPKeyParent{
    {0x4340A6C5, 0x93FA, 0x4706, {0x97, 0x2C, 0x7B, 0x64, 0x80, 0x08, 0xA5, 0xA7}}, 8};
// DEVPKEY_Device_LocationInfo {A45C254E-DF1C-4EFD-8020-67D146A850E0}, 15
inline constexpr PropertyKey kDevPKeyLocationInfo{
    {0xA45C254E, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 15};
// DEVPKEY_Device_InstanceId {78C34FC8-104A-4ACA-9EA4-524D52996E57}, 256
inline constexpr PropertyKey kDevPKeyInstanceId{
    {0x78C34FC8, 0x104A, 0x4ACA, {0x9E, 0xA4, 0x52, 0x4D, 0x52, 0x99, 0x6E, 0x57}}, 256};

// The parent that every PCI controller of the simulated machine hangs from:
// the PCI Express root complex.
inline constexpr std::wstring_view kPciRootInstanceId = L"ACPI\\PNP0A08\\0";
// The first device-instance handle; the root devices of a real tree take the
// numbers below it, and a package that mistakes a member index for a DevInst
// shows up at once.
inline constexpr std::uint32_t kFirstDevInst = 0x40;

// The devices of config in device-set order: the other controllers; for each
// inbox disk its NVMe controller and then the disk; the Intel controller, its
// RAID volume disks and its pass-through disks; within each interface class
// reordered by the list indexes the file gives.
std::vector<DeviceNode> buildDeviceTree(const MachineConfig& config);

// Wide text from identifier or drive bytes: one character per byte
// (ASCII identifiers, Latin-1 drive texts).
std::wstring widen(std::string_view bytes);
// The text with a to z in upper case: two texts are equal without regard to
// ASCII case exactly when their folded forms are equal.
std::wstring foldAsciiCase(std::wstring_view text);

// The hardware identifiers a SCSI-port disk reports for its INQUIRY vendor
// (8), product (16) and revision (4) texts, most specific first.
std::vector<std::wstring> scsiDiskHardwareIds(std::string_view vendor, std::string_view product,
                                              std::string_view revision);
// The hardware identifiers of a PCI device, derived from its instance
// identifier "PCI\VEN_x&DEV_y&SUBSYS_z&REV_r\instance": the device identifier
// and its shorter forms.
std::vector<std::wstring> pciHardwareIds(std::string_view instanceId);

}  // namespace zevsim
