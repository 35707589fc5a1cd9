// The Windows values the simulated platform and its drivers use: Win32 error
// values, the event log's entry types and string limit, the device control
// codes the package sends, the access bits a control code demands, and the
// access mask of CreateFileW.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zevsim {

namespace win {

inline constexpr std::uint32_t kErrorInvalidFunction = 1;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorIoDevice = 1117;

// ReportEventW's wType values.
inline constexpr std::uint16_t kEventlogSuccess = 0x0000;
inline constexpr std::uint16_t kEventlogErrorType = 0x0001;
inline constexpr std::uint16_t kEventlogWarningType = 0x0002;
inline constexpr std::uint16_t kEventlogInformationType = 0x0004;
inline constexpr std::uint16_t kEventlogAuditSuccess = 0x0008;
inline constexpr std::uint16_t kEventlogAuditFailure = 0x0010;
// The longest string an event log entry may carry, in UTF-16 units.
inline constexpr std::size_t kEventStringLimit = 31839;

inline constexpr std::uint32_t kIoctlStorageGetDeviceNumber = 0x002D1080;
inline constexpr std::uint32_t kIoctlStorageQueryProperty = 0x002D1400;
inline constexpr std::uint32_t kIoctlScsiMiniport = 0x0004D008;

inline constexpr std::uint32_t kFileDeviceDisk = 7;

// CTL_CODE: the access the caller's handle must hold sits in bits 15:14.
inline constexpr unsigned kControlCodeAccessShift = 14;
inline constexpr std::uint32_t kFileReadAccess = 0x1;
inline constexpr std::uint32_t kFileWriteAccess = 0x2;
inline constexpr std::uint32_t requiredAccess(std::uint32_t controlCode) {
  return (controlCode >> kControlCodeAccessShift) & 0x3;
}
static_assert(requiredAccess(kIoctlScsiMiniport) == (kFileReadAccess | kFileWriteAccess));
static_assert(requiredAccess(kIoctlStorageQueryProperty) == 0);
static_assert(requiredAccess(kIoctlStorageGetDeviceNumber) == 0);

// The access mask of CreateFileW, as the file generic mapping grants it.
inline constexpr std::uint32_t kFileReadData = 0x0001;
inline constexpr std::uint32_t kFileWriteData = 0x0002;
inline constexpr std::uint32_t kFileAppendData = 0x0004;
inline constexpr std::uint32_t kMaximumAllowed = 0x02000000;
inline constexpr std::uint32_t kGenericAll = 0x10000000;
inline constexpr std::uint32_t kGenericWrite = 0x40000000;
inline constexpr std::uint32_t kGenericRead = 0x80000000;

}  // namespace win

}  // namespace zevsim
