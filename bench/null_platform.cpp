// A null backend of the platform boundary, for measuring the update paths'
// own work: every device opens, every device request is accepted at once and
// nothing is copied, and standard output goes nowhere. The platform call
// itself costs next to nothing, so what a benchmark over this backend
// measures is the package's own CPU time.
//
// The driver writes only what the update paths need to go on:
// - SRB_IO_CONTROL.ReturnCode (offset 20) is set to 0, the success of every
//   miniport interface (the "NvmeRAID" pass-through carries the drive's disk
//   id there on input);
// - a FIRMWARE_FUNCTION_GET_INFO request of the "FIRMWARE" interface gets a
//   STORAGE_FIRMWARE_INFO with two slots, slot 1 read-only, at its
//   DataBufferOffset, so that the inbox path goes on to download.
// The offsets are this file's own, from the published layouts; no package
// request code is used to answer the package.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace zev::platform {
namespace {

constexpr std::uint32_t kIoctlScsiMiniport = 0x0004D008u;
constexpr Handle kNullDevice = 0x104;

// SRB_IO_CONTROL, then the inbox FIRMWARE_REQUEST_BLOCK at 28:
//   offset  size  field
//        4     8  Signature ("FIRMWARE")
//       20     4  ReturnCode
//       36     4  FIRMWARE_REQUEST_BLOCK.Function (1: GET_INFO)
//       44     4  FIRMWARE_REQUEST_BLOCK.DataBufferOffset
constexpr std::size_t kSignatureOffset = 4;
constexpr std::size_t kSignatureSize = 8;
constexpr std::size_t kReturnCodeOffset = 20;
constexpr std::size_t kHeaderSize = 28;
constexpr std::size_t kFunctionOffset = 36;
constexpr std::size_t kDataBufferOffsetOffset = 44;
constexpr std::uint32_t kFunctionGetInfo = 1;
constexpr std::string_view kFirmwareSignature = "FIRMWARE";

// STORAGE_FIRMWARE_INFO (version 1) with two STORAGE_FIRMWARE_SLOT_INFO:
//   offset  size  field
//        0     4  Version (1)
//        4     4  Size (16 + 2 x 16)
//        8     1  UpgradeSupport (1)
//        9     1  SlotCount (2)
//       10     1  ActiveSlot (1)
//       16    16  slot 1: SlotNumber 1, ReadOnly 1
//       32    16  slot 2: SlotNumber 2, ReadOnly 0
constexpr std::size_t kInfoSize = 48;
static_assert(kInfoSize == 16 + 2 * 16);

void store32(std::uint8_t* bytes, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::uint32_t load32(const std::uint8_t* bytes) {
  std::uint32_t value = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
  }
  return value;
}

void answerGetInfo(std::uint8_t* request, std::uint32_t size) {
  const std::uint32_t at = load32(request + kDataBufferOffsetOffset);
  if (at > size || size - at < kInfoSize) {
    return;
  }
  std::uint8_t* info = request + at;
  std::memset(info, 0, kInfoSize);
  store32(info, 1);
  store32(info + 4, kInfoSize);
  info[8] = 1;
  info[9] = 2;
  info[10] = 1;
  info[16] = 1;
  info[17] = 1;
  info[32] = 2;
}

}  // namespace

DeviceSet getClassDevs(const Guid&, std::uint32_t) {
  return kInvalidDeviceSet;
}
bool enumDeviceInfo(DeviceSet, std::uint32_t, DeviceInfoData&) {
  return false;
}
bool enumDeviceInterfaces(DeviceSet, const DeviceInfoData*, const Guid&, std::uint32_t,
                          DeviceInterfaceData&) {
  return false;
}
bool getDeviceInterfaceDetail(DeviceSet, const DeviceInterfaceData&, std::uint8_t*, std::uint32_t,
                              std::uint32_t*, DeviceInfoData*) {
  return false;
}
bool getDeviceProperty(DeviceSet, const DeviceInfoData&, const PropertyKey&, std::uint32_t*,
                       std::uint8_t*, std::uint32_t, std::uint32_t*) {
  return false;
}
bool getDeviceRegistryProperty(DeviceSet, const DeviceInfoData&, std::uint32_t, std::uint32_t*,
                               std::uint8_t*, std::uint32_t, std::uint32_t*) {
  return false;
}
bool destroyDeviceInfoList(DeviceSet) {
  return true;
}

Handle createFile(const wchar_t*, std::uint32_t, std::uint32_t, std::uint32_t, std::uint32_t) {
  return kNullDevice;
}

bool deviceIoControl(Handle, std::uint32_t controlCode, void* inBuffer, std::uint32_t inBufferSize,
                     void*, std::uint32_t outBufferSize, std::uint32_t* bytesReturned) {
  auto* request = static_cast<std::uint8_t*>(inBuffer);
  if (controlCode == kIoctlScsiMiniport && request != nullptr && inBufferSize >= kHeaderSize) {
    store32(request + kReturnCodeOffset, 0);
    const std::string_view signature(reinterpret_cast<const char*>(request + kSignatureOffset),
                                     kSignatureSize);
    if (signature == kFirmwareSignature && inBufferSize >= kDataBufferOffsetOffset + 4 &&
        load32(request + kFunctionOffset) == kFunctionGetInfo) {
      answerGetInfo(request, inBufferSize);
    }
  }
  if (bytesReturned != nullptr) {
    *bytesReturned = outBufferSize;
  }
  return true;
}

bool closeHandle(Handle) {
  return true;
}
std::uint32_t getLastError() {
  return 0;
}

bool getModuleHandle() {
  return true;
}
void showMessageBox(const std::wstring&, const std::wstring&) {}
bool writeEventLogEntry(const std::wstring&, EventType, std::uint32_t, const std::wstring&) {
  return true;
}
LocalTime localTime() {
  return {};
}
std::wstring computerName() {
  return L"BENCH";
}
bool acquireRunGuard() {
  return true;
}
void releaseRunGuard() {}

FileCheck openFileForWriting(const std::wstring&) {
  return FileCheck::Refused;
}
std::optional<FileIdentity> fileIdentity(const std::wstring&) {
  return std::nullopt;
}
bool writeFileSafely(const std::wstring&, std::string_view) {
  return false;
}
void discardFile(const std::wstring&) {}
void writeStandardOutput(std::string_view) {}
void flushStandardOutput() {}

}  // namespace zev::platform
