// Builders and readers of the VROC driver's "NvmeRAID" requests.
#include "records/vroc_records.hpp"

#include <algorithm>
#include <limits>

#include "records/identify_fields.hpp"
#include "records/little_endian.hpp"
#include "records/nvme_command.hpp"

namespace zev::vroc {

namespace {

// Header of a scan request: Length is the buffer size less the header.
void writeScanHeader(std::span<std::uint8_t> request, std::uint32_t controlCode) {
  srb::writeHeader(request, kSignature, kScanTimeout, controlCode);
}

// A list request of fixedSize + count x 108 bytes, whose Length must fit 32 bits.
std::optional<std::size_t> listRequestSize(std::uint32_t count, std::size_t fixedSize) {
  const std::uint64_t size = static_cast<std::uint64_t>(count) * kEntrySize + fixedSize;
  if (size - srb::kHeaderSize > std::numeric_limits<std::uint32_t>::max() ||
      size > std::numeric_limits<std::size_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::size_t>(size);
}

// The pass-through head shared by the three uses; request is zero-filled.
void writePassThroughHead(std::span<std::uint8_t> request, std::uint32_t diskId,
                          std::uint32_t timeout, std::uint32_t direction, std::uint32_t dataLength,
                          std::uint32_t returnBufferLength) {
  srb::writeHeader(request, kSignature, timeout, kPassThroughCode, diskId);
  storeLe32(request, kPtDirectionOffset, direction);
  storeLe32(request, kPtQueueIdOffset, 0);
  storeLe32(request, kPtDataLengthOffset, dataLength);
  storeLe32(request, kPtMetadataLengthOffset, 0);
  storeLe32(request, kPtReturnBufferLengthOffset, returnBufferLength);
}

// The submission queue entry inside a pass-through request.
std::span<std::uint8_t, nvme::kCommandSize> commandEntry(std::span<std::uint8_t> request) {
  return request.subspan<kPtCommandOffset, nvme::kCommandSize>();
}

}  // namespace

std::wstring scsiPortPath(std::int32_t port) {
  return L"\\\\.\\Scsi" + std::to_wstring(port) + L":";
}

void buildCountRequest(std::span<std::uint8_t> request, std::uint32_t controlCode) {
  writeScanHeader(request, controlCode);
}

std::uint32_t readRaidVolumeCount(std::span<const std::uint8_t> reply) {
  return fieldInside(reply, kCountOffset, 4) ? loadLe32(reply, kCountOffset) : 0;
}

std::int32_t readNonRaidCount(std::span<const std::uint8_t> reply) {
  return fieldInside(reply, kCountOffset, 4)
             ? static_cast<std::int32_t>(loadLe32(reply, kCountOffset))
             : 0;
}

void buildVolumeInfoRequest(std::span<std::uint8_t> request) {
  writeScanHeader(request, kRaidVolumeInfoCode);
  storeLe32(request, kVolumeInfoVolumeOffset, kVolumeNumber);
}

std::uint32_t readVolumeMemberCount(std::span<const std::uint8_t> reply) {
  return fieldInside(reply, kVolumeInfoMemberCountOffset, 4)
             ? loadLe32(reply, kVolumeInfoMemberCountOffset)
             : 0;
}

std::optional<VrocDiskEntry> readDiskEntry(std::span<const std::uint8_t> list,
                                           std::size_t entriesOffset, std::uint64_t index) {
  if (entriesOffset > list.size() || index >= (list.size() - entriesOffset) / kEntrySize) {
    return std::nullopt;
  }
  const auto entry =
      list.subspan(entriesOffset + static_cast<std::size_t>(index) * kEntrySize, kEntrySize);
  VrocDiskEntry out;
  out.diskId = loadLe32(entry, kEntryDiskIdOffset);
  for (std::uint8_t byte : entry.subspan(kEntryModelOffset, kEntryModelSize)) {
    out.modelNumber.push_back(identify::driveTextCharacter(byte));
  }
  // The serial text ends at its first zero byte; without one it ends with
  // the 48 bytes the entry gives it, never running into the path id.
  for (std::uint8_t byte : entry.subspan(kEntrySerialOffset, kEntrySerialSize)) {
    if (byte == 0) {
      break;
    }
    out.serialText.push_back(static_cast<char>(identify::driveTextCharacter(byte)));
  }
  out.pathId = loadLe32(entry, kEntryPathIdOffset);
  const auto model = entry.subspan(kEntryModelOffset, kEntryModelSize);
  out.modelBytes.assign(model.begin(), model.end());
  const auto serial = entry.subspan(kEntrySerialOffset, identify::kSnSize);
  out.serialBytes.assign(serial.begin(), serial.end());
  return out;
}

std::optional<std::size_t> memberListRequestSize(std::uint32_t memberCount) {
  return listRequestSize(memberCount, kMemberListFixedSize);
}

std::optional<std::size_t> nonRaidListRequestSize(std::uint32_t driveCount) {
  return listRequestSize(driveCount, kNonRaidListFixedSize);
}

void buildMemberListRequest(std::span<std::uint8_t> request, std::uint32_t memberCount) {
  writeScanHeader(request, kRaidMemberListCode);
  storeLe32(request, kMemberListVolumeOffset, kVolumeNumber);
  storeLe32(request, kMemberListBytesOffset,
            static_cast<std::uint32_t>(memberCount * static_cast<std::uint64_t>(kEntrySize)));
}

void buildNonRaidListRequest(std::span<std::uint8_t> request, std::uint32_t driveCount) {
  writeScanHeader(request, kNonRaidListCode);
  storeLe32(request, kNonRaidListBytesOffset,
            static_cast<std::uint32_t>(driveCount * static_cast<std::uint64_t>(kEntrySize)));
}

void buildIdentifyRequest(std::span<std::uint8_t> request, std::uint32_t diskId) {
  writePassThroughHead(request, diskId, kScanTimeout, kDirectionDriveToHost, 0,
                       static_cast<std::uint32_t>(kIdentifyRequestSize));
  nvme::Command command;
  command.opcode = nvme::kOpcodeIdentify;
  command.cdw10 = nvme::kCnsController;
  nvme::writeCommand(commandEntry(request), command);
  std::fill_n(request.begin() + kPtDataOffset, identify::kDataSize, kIdentifyFillByte);
}

std::span<const std::uint8_t> identifyData(std::span<const std::uint8_t> reply) {
  return reply.subspan(kPtDataOffset, identify::kDataSize);
}

void buildDownloadRequest(std::span<std::uint8_t> request, std::uint32_t diskId,
                          std::uint32_t byteOffset, std::span<const std::uint8_t> piece) {
  const auto pieceLength = static_cast<std::uint32_t>(piece.size());
  writePassThroughHead(request, diskId, kUpdateTimeout, kDirectionHostToDrive, pieceLength,
                       kPassThroughOutputSize);
  nvme::Command command;
  command.opcode = nvme::kOpcodeFirmwareImageDownload;
  // NUMD is zero-based: the number of dwords less one; OFST counts dwords.
  command.cdw10 = pieceLength / 4 - 1;
  command.cdw11 = byteOffset / 4;
  nvme::writeCommand(commandEntry(request), command);
  std::copy(piece.begin(), piece.end(), request.begin() + kPtDataOffset);
}

void buildCommitRequest(std::span<std::uint8_t> request, std::uint32_t diskId) {
  writePassThroughHead(request, diskId, kUpdateTimeout, kDirectionHostToDrive, 0,
                       kPassThroughOutputSize);
  nvme::Command command;
  command.opcode = nvme::kOpcodeFirmwareCommit;
  command.cdw10 = kCommitDword10;
  nvme::writeCommand(commandEntry(request), command);
}

void buildSlotLogRequest(std::span<std::uint8_t> request, std::uint32_t diskId) {
  writePassThroughHead(request, diskId, kScanTimeout, kDirectionDriveToHost,
                       static_cast<std::uint32_t>(kSlotLogSize),
                       static_cast<std::uint32_t>(kSlotLogRequestSize));
  nvme::Command command;
  command.opcode = nvme::kOpcodeGetLogPage;
  command.nsid = nvme::kNsidAll;
  command.cdw10 = kSlotLogDword10;
  nvme::writeCommand(commandEntry(request), command);
}

std::optional<FirmwareSlotLog> readSlotLog(std::span<const std::uint8_t> reply) {
  if (!fieldInside(reply, kPtDataOffset, kSlotLogSize)) {
    return std::nullopt;
  }
  const auto log = reply.subspan(kPtDataOffset, kSlotLogSize);
  FirmwareSlotLog out;
  out.activeSlot = log[0] & 0x07u;
  out.nextResetSlot = (log[0] >> 4) & 0x07u;
  for (std::size_t slot = 0; slot < nvme::kMaxFirmwareSlots; ++slot) {
    const auto revision =
        log.subspan(kSlotLogRevisionOffset + slot * kSlotLogRevisionSize, kSlotLogRevisionSize);
    out.revisions.emplace_back(revision.begin(), revision.end());
  }
  return out;
}

std::uint32_t readCompletionDword3(std::span<const std::uint8_t> reply) {
  return loadLe32(reply.first(kPtDirectionOffset), completionDwordOffset(3));
}

}  // namespace zev::vroc
