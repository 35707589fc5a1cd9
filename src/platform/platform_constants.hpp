// Published Windows values that the package passes through the platform
// boundary: access and share flags, error codes, device-set flags, property
// keys, interface classes and device-request control codes. The names are our
// own (kGenericRead, not GENERIC_READ) so that this header can stand beside
// <windows.h>; the Windows build checks every value against the SDK.
#pragma once

#include <cstdint>

#include "platform/platform.hpp"

namespace zev::platform {

// CreateFileW
inline constexpr std::uint32_t kGenericRead = 0x80000000u;
inline constexpr std::uint32_t kGenericWrite = 0x40000000u;
inline constexpr std::uint32_t kGenericReadWrite = kGenericRead | kGenericWrite;
inline constexpr std::uint32_t kFileShareRead = 0x1u;
inline constexpr std::uint32_t kFileShareWrite = 0x2u;
inline constexpr std::uint32_t kFileShareReadWrite = kFileShareRead | kFileShareWrite;
inline constexpr std::uint32_t kOpenExisting = 3u;
inline constexpr std::uint32_t kFileAttributeNormal = 0x80u;
inline constexpr std::uint32_t kFileFlagOverlapped = 0x40000000u;

// Last-error values
inline constexpr std::uint32_t kErrorSuccess = 0u;
inline constexpr std::uint32_t kErrorInvalidFunction = 1u;
inline constexpr std::uint32_t kErrorFileNotFound = 2u;
inline constexpr std::uint32_t kErrorAccessDenied = 5u;
inline constexpr std::uint32_t kErrorInvalidHandle = 6u;
inline constexpr std::uint32_t kErrorInvalidParameter = 87u;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122u;
inline constexpr std::uint32_t kErrorNoMoreItems = 259u;
inline constexpr std::uint32_t kErrorIoDevice = 1117u;
inline constexpr std::uint32_t kErrorNotFound = 1168u;

// SetupDiGetClassDevsW flags
inline constexpr std::uint32_t kDigcfPresent = 0x2u;
inline constexpr std::uint32_t kDigcfAllClasses = 0x4u;
inline constexpr std::uint32_t kDigcfDeviceInterface = 0x10u;

// Record sizes that SetupAPI checks in cbSize (x64 layout)
inline constexpr std::uint32_t kDeviceInfoDataCbSize = 32;
inline constexpr std::uint32_t kDeviceInterfaceDataCbSize = 32;

// SetupDiGetDeviceRegistryPropertyW
inline constexpr std::uint32_t kSpdrpHardwareId = 1u;

// Device interface classes
inline constexpr Guid kGuidDevinterfaceDisk{
    0x53F56307u, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};
inline constexpr Guid kGuidDevinterfaceStoragePort{
    0x2ACCFE60u, 0xC130, 0x11D2, {0xB0, 0x82, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}};

// Device property keys
inline constexpr PropertyKey kDevpkeyDeviceParent{
    {0x4340A6C5u, 0x93FA, 0x4706, {0x97, 0x2C, 0x7B, 0x64, 0x80, 0x08, 0xA5, 0xA7}}, 8};
inline constexpr PropertyKey kDevpkeyDeviceInstanceId{
    {0x78C34FC8u, 0x104A, 0x4ACA, {0x9E, 0xA4, 0x52, 0x4D, 0x52, 0x99, 0x6E, 0x57}}, 256};
inline constexpr PropertyKey kDevpkeyDeviceDriverDesc{
    {0xA8B865DDu, 0x2E3D, 0x4094, {0xAD, 0x97, 0xE5, 0x93, 0xA7, 0x0C, 0x75, 0xD6}}, 4};
inline constexpr PropertyKey kDevpkeyDeviceLocationInfo{
    {0xA45C254Eu, 0xDF1C, 0x4EFD, {0x80, 0x20, 0x67, 0xD1, 0x46, 0xA8, 0x50, 0xE0}}, 15};

// Device-request control codes
inline constexpr std::uint32_t kIoctlStorageGetDeviceNumber = 0x002D1080u;
inline constexpr std::uint32_t kIoctlStorageQueryProperty = 0x002D1400u;
inline constexpr std::uint32_t kIoctlScsiMiniport = 0x0004D008u;
inline constexpr std::uint32_t kIoctlScsiMiniportFirmware = 0x001B0780u;

}  // namespace zev::platform
