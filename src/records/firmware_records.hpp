// The storport miniport firmware records (IOCTL_SCSI_MINIPORT_FIRMWARE and the
// Intel "IntelFw " interface that reuses them): FIRMWARE_REQUEST_BLOCK, the
// STORAGE_FIRMWARE_INFO reply with its STORAGE_FIRMWARE_SLOT_INFO entries, and
// the STORAGE_FIRMWARE_DOWNLOAD, STORAGE_FIRMWARE_DOWNLOAD_V2 and
// STORAGE_FIRMWARE_ACTIVATE data records. Writers take the offset at which the
// record starts in the request buffer, because the inbox request places its
// request block at 28 (data at 52) and the Intel request at 32 (data at 56).
// Every multi-byte field is little-endian; the 8-byte fields of the download
// records land on offsets that are not multiples of 8 and are written
// byte by byte.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "records/little_endian.hpp"

namespace zev::fw {

// FIRMWARE_REQUEST_BLOCK.Function
inline constexpr std::uint32_t kFunctionGetInfo = 1;   // FIRMWARE_FUNCTION_GET_INFO
inline constexpr std::uint32_t kFunctionDownload = 2;  // FIRMWARE_FUNCTION_DOWNLOAD
inline constexpr std::uint32_t kFunctionActivate = 3;  // FIRMWARE_FUNCTION_ACTIVATE

// FIRMWARE_REQUEST_BLOCK.Flags
inline constexpr std::uint32_t kRequestFlagController = 0x1;  // FIRMWARE_REQUEST_FLAG_CONTROLLER

// SRB_IO_CONTROL.ReturnCode of a firmware request (FIRMWARE_STATUS_*)
inline constexpr std::uint32_t kStatusSuccess = 0x00;
inline constexpr std::uint32_t kStatusError = 0x01;
inline constexpr std::uint32_t kStatusIllegalRequest = 0x02;
inline constexpr std::uint32_t kStatusInvalidParameter = 0x03;
inline constexpr std::uint32_t kStatusInputBufferTooBig = 0x04;
inline constexpr std::uint32_t kStatusOutputBufferTooSmall = 0x05;
inline constexpr std::uint32_t kStatusInvalidSlot = 0x06;
inline constexpr std::uint32_t kStatusInvalidImage = 0x07;
inline constexpr std::uint32_t kStatusControllerError = 0x10;
inline constexpr std::uint32_t kStatusPowerCycleRequired = 0x20;

// --- FIRMWARE_REQUEST_BLOCK ---
//
//   offset  size  field
//        0     4  Version           1 (FIRMWARE_REQUEST_BLOCK_STRUCTURE_VERSION)
//        4     4  Size              24
//        8     4  Function          FIRMWARE_FUNCTION_*
//       12     4  Flags             FIRMWARE_REQUEST_FLAG_*
//       16     4  DataBufferOffset  from the start of the request (SRB_IO_CONTROL)
//       20     4  DataBufferLength  bytes from DataBufferOffset to the end
inline constexpr std::size_t kBlockVersionOffset = 0;
inline constexpr std::size_t kBlockSizeOffset = 4;
inline constexpr std::size_t kBlockFunctionOffset = 8;
inline constexpr std::size_t kBlockFlagsOffset = 12;
inline constexpr std::size_t kBlockDataBufferOffsetOffset = 16;
inline constexpr std::size_t kBlockDataBufferLengthOffset = 20;
inline constexpr std::size_t kRequestBlockSize = 24;
inline constexpr std::uint32_t kRequestBlockVersion = 1;
static_assert(kBlockDataBufferLengthOffset + 4 == kRequestBlockSize);

// Writes a request block at blockOffset of request. DataBufferLength is the
// rest of the request after dataBufferOffset, so request must be exactly the
// request's size as sent.
inline void writeRequestBlock(std::span<std::uint8_t> request, std::size_t blockOffset,
                              std::uint32_t function, std::uint32_t dataBufferOffset,
                              std::uint32_t flags = kRequestFlagController) {
  storeLe32(request, blockOffset + kBlockVersionOffset, kRequestBlockVersion);
  storeLe32(request, blockOffset + kBlockSizeOffset, static_cast<std::uint32_t>(kRequestBlockSize));
  storeLe32(request, blockOffset + kBlockFunctionOffset, function);
  storeLe32(request, blockOffset + kBlockFlagsOffset, flags);
  storeLe32(request, blockOffset + kBlockDataBufferOffsetOffset, dataBufferOffset);
  storeLe32(request, blockOffset + kBlockDataBufferLengthOffset,
            static_cast<std::uint32_t>(request.size() - dataBufferOffset));
}

// The DataBufferOffset of a returned request block; nullopt when the field
// lies outside the reply.
inline std::optional<std::uint32_t> readDataBufferOffset(std::span<const std::uint8_t> reply,
                                                         std::size_t blockOffset) {
  if (!fieldInside(reply, blockOffset + kBlockDataBufferOffsetOffset, 4)) {
    return std::nullopt;
  }
  return loadLe32(reply, blockOffset + kBlockDataBufferOffsetOffset);
}

// --- STORAGE_FIRMWARE_INFO (version 1), returned by FIRMWARE_FUNCTION_GET_INFO ---
//
//   offset  size  field
//        0     4  Version
//        4     4  Size
//        8     1  UpgradeSupport
//        9     1  SlotCount
//       10     1  ActiveSlot
//       11     1  PendingActivateSlot
//       12     4  Reserved
//       16  16*n  Slot[SlotCount], each a STORAGE_FIRMWARE_SLOT_INFO:
//                   +0  1  SlotNumber
//                   +1  1  ReadOnly
//                   +2  6  Reserved
//                   +8  8  Revision
inline constexpr std::size_t kInfoUpgradeSupportOffset = 8;
inline constexpr std::size_t kInfoSlotCountOffset = 9;
inline constexpr std::size_t kInfoActiveSlotOffset = 10;
inline constexpr std::size_t kInfoPendingActivateSlotOffset = 11;
inline constexpr std::size_t kInfoSlotsOffset = 16;
inline constexpr std::size_t kSlotNumberOffset = 0;
inline constexpr std::size_t kSlotReadOnlyOffset = 1;
inline constexpr std::size_t kSlotRevisionOffset = 8;
inline constexpr std::size_t kSlotRevisionSize = 8;
inline constexpr std::size_t kSlotInfoSize = 16;
static_assert(kSlotRevisionOffset + kSlotRevisionSize == kSlotInfoSize);
static_assert(kInfoPendingActivateSlotOffset + 1 + 4 == kInfoSlotsOffset);

struct FirmwareSlotInfo {
  std::uint8_t slotNumber = 0;
  bool readOnly = false;
  std::vector<std::uint8_t> revision;  // the Revision bytes (8, or 16 in version 2)
};

struct FirmwareInfo {
  bool upgradeSupport = false;
  std::uint8_t slotCount = 0;
  std::uint8_t activeSlot = 0;
  std::uint8_t pendingActivateSlot = 0;
  std::vector<FirmwareSlotInfo> slots;  // slotCount entries
};

// The reader of both versions: they differ only in where the slot entries
// start, how long each is and how many Revision bytes it holds. nullopt when
// the record or any of its SlotCount entries does not lie wholly inside
// reply: no byte outside the reply is read.
inline std::optional<FirmwareInfo> readFirmwareInfoLayout(std::span<const std::uint8_t> reply,
                                                          std::size_t infoOffset,
                                                          std::size_t slotsOffset,
                                                          std::size_t slotSize,
                                                          std::size_t revisionSize) {
  if (!fieldInside(reply, infoOffset, slotsOffset)) {
    return std::nullopt;
  }
  FirmwareInfo info;
  info.upgradeSupport = loadLe8(reply, infoOffset + kInfoUpgradeSupportOffset) != 0;
  info.slotCount = loadLe8(reply, infoOffset + kInfoSlotCountOffset);
  info.activeSlot = loadLe8(reply, infoOffset + kInfoActiveSlotOffset);
  info.pendingActivateSlot = loadLe8(reply, infoOffset + kInfoPendingActivateSlotOffset);
  const std::size_t slotsStart = infoOffset + slotsOffset;
  if (!fieldInside(reply, slotsStart, std::size_t{info.slotCount} * slotSize)) {
    return std::nullopt;
  }
  info.slots.reserve(info.slotCount);
  for (std::size_t i = 0; i < info.slotCount; ++i) {
    const std::size_t entry = slotsStart + i * slotSize;
    const auto revision = reply.subspan(entry + kSlotRevisionOffset, revisionSize);
    info.slots.push_back({loadLe8(reply, entry + kSlotNumberOffset),
                          loadLe8(reply, entry + kSlotReadOnlyOffset) != 0,
                          {revision.begin(), revision.end()}});
  }
  return info;
}

// Reads the STORAGE_FIRMWARE_INFO at infoOffset of reply.
inline std::optional<FirmwareInfo> readFirmwareInfo(std::span<const std::uint8_t> reply,
                                                    std::size_t infoOffset) {
  return readFirmwareInfoLayout(reply, infoOffset, kInfoSlotsOffset, kSlotInfoSize,
                                kSlotRevisionSize);
}

// --- STORAGE_FIRMWARE_INFO_V2, returned by FIRMWARE_FUNCTION_GET_INFO when
// the caller offers a version-2 record (the Intel firmware interface) ---
//
//   offset  size  field
//        0     4  Version                2 on input and output
//        4     4  Size                   48 on input and output
//        8     1  UpgradeSupport
//        9     1  SlotCount
//       10     1  ActiveSlot
//       11     1  PendingActivateSlot    0xFF: none
//       12     1  FirmwareShared
//       13     3  Reserved
//       16     4  ImagePayloadAlignment
//       20     4  ImagePayloadMaxSize
//       24  24*n  Slot[SlotCount], each a STORAGE_FIRMWARE_SLOT_INFO_V2:
//                   +0   1  SlotNumber
//                   +1   1  ReadOnly
//                   +2   6  Reserved
//                   +8  16  Revision
inline constexpr std::uint32_t kInfoV2Version = 2;
inline constexpr std::uint32_t kInfoV2Size = 48;  // the head and one slot entry
inline constexpr std::size_t kInfoV2SlotsOffset = 24;
inline constexpr std::size_t kSlotInfoV2Size = 24;
inline constexpr std::size_t kSlotRevisionV2Size = 16;
static_assert(kInfoV2SlotsOffset + kSlotInfoV2Size == kInfoV2Size);
static_assert(kSlotRevisionOffset + kSlotRevisionV2Size == kSlotInfoV2Size);
// PendingActivateSlot when no slot waits for activation
// (STORAGE_FIRMWARE_INFO_INVALID_SLOT).
inline constexpr std::uint8_t kInvalidSlot = 0xFF;

// Writes the version-2 record a GET_INFO request offers at infoOffset.
inline void writeInfoV2Request(std::span<std::uint8_t> request, std::size_t infoOffset) {
  storeLe32(request, infoOffset, kInfoV2Version);
  storeLe32(request, infoOffset + 4, kInfoV2Size);
}

// Reads the STORAGE_FIRMWARE_INFO_V2 at infoOffset of reply.
inline std::optional<FirmwareInfo> readFirmwareInfoV2(std::span<const std::uint8_t> reply,
                                                      std::size_t infoOffset) {
  return readFirmwareInfoLayout(reply, infoOffset, kInfoV2SlotsOffset, kSlotInfoV2Size,
                                kSlotRevisionV2Size);
}

// --- STORAGE_FIRMWARE_DOWNLOAD (version 1) ---
//
//   offset  size  field
//        0     4  Version      1
//        4     4  Size         24, the offset of ImageBuffer (not the padded 32)
//        8     8  Offset       byte offset of the piece within the image
//       16     8  BufferSize   piece length
//       24     n  ImageBuffer
inline constexpr std::size_t kDownloadVersionOffset = 0;
inline constexpr std::size_t kDownloadSizeOffset = 4;
inline constexpr std::size_t kDownloadOffsetOffset = 8;
inline constexpr std::size_t kDownloadBufferSizeOffset = 16;
inline constexpr std::size_t kDownloadImageOffset = 24;
inline constexpr std::uint32_t kDownloadVersion = 1;
static_assert(kDownloadBufferSizeOffset + 8 == kDownloadImageOffset);

// Writes a version-1 download record at recordOffset and copies piece after
// it; request must hold recordOffset + 24 + piece.size() bytes.
inline void writeDownload(std::span<std::uint8_t> request, std::size_t recordOffset,
                          std::uint64_t imageOffset, std::span<const std::uint8_t> piece) {
  storeLe32(request, recordOffset + kDownloadVersionOffset, kDownloadVersion);
  storeLe32(request, recordOffset + kDownloadSizeOffset,
            static_cast<std::uint32_t>(kDownloadImageOffset));
  storeLe64(request, recordOffset + kDownloadOffsetOffset, imageOffset);
  storeLe64(request, recordOffset + kDownloadBufferSizeOffset, piece.size());
  std::copy(piece.begin(), piece.end(), request.begin() + recordOffset + kDownloadImageOffset);
}

// --- STORAGE_FIRMWARE_DOWNLOAD_V2 ---
//
//   offset  size  field
//        0     4  Version      2
//        4     4  Size         32, the offset of ImageBuffer
//        8     8  Offset       byte offset of the piece within the image
//       16     8  BufferSize   piece length
//       24     1  Slot         0xFF: let the controller choose
//       25     3  Reserved
//       28     4  ImageSize    0
//       32     n  ImageBuffer
inline constexpr std::size_t kDownloadV2SlotOffset = 24;
inline constexpr std::size_t kDownloadV2ImageSizeOffset = 28;
inline constexpr std::size_t kDownloadV2ImageOffset = 32;
inline constexpr std::uint32_t kDownloadV2Version = 2;
inline constexpr std::uint8_t kDownloadV2AnySlot = 0xFF;
static_assert(kDownloadV2ImageSizeOffset + 4 == kDownloadV2ImageOffset);

// Writes a version-2 download record at recordOffset and copies piece after
// it; request must hold recordOffset + 32 + piece.size() bytes.
inline void writeDownloadV2(std::span<std::uint8_t> request, std::size_t recordOffset,
                            std::uint64_t imageOffset, std::span<const std::uint8_t> piece,
                            std::uint8_t slot = kDownloadV2AnySlot, std::uint32_t imageSize = 0) {
  storeLe32(request, recordOffset + kDownloadVersionOffset, kDownloadV2Version);
  storeLe32(request, recordOffset + kDownloadSizeOffset,
            static_cast<std::uint32_t>(kDownloadV2ImageOffset));
  storeLe64(request, recordOffset + kDownloadOffsetOffset, imageOffset);
  storeLe64(request, recordOffset + kDownloadBufferSizeOffset, piece.size());
  storeLe8(request, recordOffset + kDownloadV2SlotOffset, slot);
  storeLe32(request, recordOffset + kDownloadV2ImageSizeOffset, imageSize);
  std::copy(piece.begin(), piece.end(), request.begin() + recordOffset + kDownloadV2ImageOffset);
}

// --- STORAGE_FIRMWARE_ACTIVATE ---
//
//   offset  size  field
//        0     4  Version         1
//        4     4  Size            12
//        8     1  SlotToActivate
//        9     3  Reserved0
inline constexpr std::size_t kActivateVersionOffset = 0;
inline constexpr std::size_t kActivateSizeOffset = 4;
inline constexpr std::size_t kActivateSlotOffset = 8;
inline constexpr std::size_t kActivateRecordSize = 12;
inline constexpr std::uint32_t kActivateVersion = 1;
static_assert(kActivateSlotOffset + 4 == kActivateRecordSize);

// Writes an activate record at recordOffset; the reserved bytes are left as
// the zero-filled buffer holds them.
inline void writeActivate(std::span<std::uint8_t> request, std::size_t recordOffset,
                          std::uint8_t slotToActivate) {
  storeLe32(request, recordOffset + kActivateVersionOffset, kActivateVersion);
  storeLe32(request, recordOffset + kActivateSizeOffset,
            static_cast<std::uint32_t>(kActivateRecordSize));
  storeLe8(request, recordOffset + kActivateSlotOffset, slotToActivate);
}

}  // namespace zev::fw
