// The buffered-request conventions, the SRB_IO_CONTROL checks of the port
// driver, and the miniport firmware functions shared by the inbox and IRST
// drivers.
#include "driver_request.hpp"

#include <algorithm>

#include "byte_order.hpp"
#include "firmware_layout.hpp"
#include "intel_fw_layout.hpp"
#include "nvme_drive.hpp"
#include "srb_layout.hpp"

namespace zevsim {

IoReply notDelivered(std::uint32_t error) {
  IoReply reply;
  reply.delivered = false;
  reply.error = error;
  return reply;
}

IoReply deliveredReply(std::span<const std::uint8_t> buffer, std::uint64_t returned,
                       std::uint32_t outSize) {
  const std::size_t count = static_cast<std::size_t>(
      std::min<std::uint64_t>({returned, outSize, static_cast<std::uint64_t>(buffer.size())}));
  IoReply reply;
  reply.reply.assign(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
  reply.bytesReturned = static_cast<std::uint32_t>(count);
  return reply;
}

std::optional<MiniportRequest> MiniportRequest::accept(std::span<const std::uint8_t> in,
                                                       std::uint32_t outSize) {
  if (in.size() < srb::kSize) {
    return std::nullopt;
  }
  if (le::load32(in, srb::kHeaderLength) != srb::kSize) {
    return std::nullopt;
  }
  const std::uint64_t total = srb::kSize + static_cast<std::uint64_t>(le::load32(in, srb::kLength));
  if (total > std::max<std::uint64_t>(in.size(), outSize)) {
    return std::nullopt;
  }
  std::vector<std::uint8_t> buffer(static_cast<std::size_t>(total), 0);
  std::copy_n(in.begin(), std::min<std::size_t>(in.size(), buffer.size()), buffer.begin());
  return MiniportRequest(std::move(buffer));
}

bool MiniportRequest::signatureIs(std::string_view signature) const {
  return signature.size() == srb::kSignatureSize &&
         std::equal(signature.begin(), signature.end(), buffer_.begin() + srb::kSignature,
                    [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

std::uint32_t MiniportRequest::controlCode() const {
  return le::load32(buffer_, srb::kControlCode);
}

std::uint32_t MiniportRequest::returnCode() const {
  return le::load32(buffer_, srb::kReturnCode);
}

void MiniportRequest::setReturnCode(std::uint32_t status) {
  le::store32(buffer_, srb::kReturnCode, status);
}

IoReply MiniportRequest::reply(std::uint32_t outSize) const {
  return deliveredReply(buffer_, buffer_.size(), outSize);
}

std::optional<IoReply> stopByFault(const Fault* fault, MiniportRequest& request,
                                   std::uint32_t outSize) {
  if (fault == nullptr) {
    return std::nullopt;
  }
  if (fault->error) {
    return notDelivered(*fault->error);
  }
  if (fault->returnCode) {
    request.setReturnCode(*fault->returnCode);
    return request.reply(outSize);
  }
  return std::nullopt;
}

namespace {

bool reportsSuccess(const Fault* fault, FaultRequest kind) {
  return fault != nullptr && fault->returnCode && kind == FaultRequest::Activate &&
         *fault->returnCode == firmware::kStatusPowerCycleRequired;
}

}  // namespace

const Fault* firmwareStoppingFault(const Fault* fault, FaultRequest kind) {
  return reportsSuccess(fault, kind) ? nullptr : fault;
}

std::uint32_t firmwareReplyStatus(const Fault* fault, FaultRequest kind,
                                  std::uint32_t driveStatus) {
  return reportsSuccess(fault, kind) ? *fault->returnCode : driveStatus;
}

std::optional<FirmwareRequestBlock> readFirmwareRequestBlock(std::span<const std::uint8_t> request,
                                                             std::size_t at) {
  namespace rb = firmware::request_block;
  if (!le::inside(request.size(), at, rb::kRecordSize)) {
    return std::nullopt;
  }
  if (le::load32(request, at + rb::kVersion) != rb::kStructureVersion ||
      le::load32(request, at + rb::kSize) != rb::kRecordSize) {
    return std::nullopt;
  }
  FirmwareRequestBlock block;
  block.function = le::load32(request, at + rb::kFunction);
  block.flags = le::load32(request, at + rb::kFlags);
  block.dataBufferOffset = le::load32(request, at + rb::kDataBufferOffset);
  block.dataBufferLength = le::load32(request, at + rb::kDataBufferLength);
  return block;
}

std::optional<std::span<std::uint8_t>> firmwareDataRecord(std::span<std::uint8_t> request,
                                                          const FirmwareRequestBlock& block,
                                                          std::size_t dataStart) {
  if (block.dataBufferOffset < dataStart ||
      !le::inside(request.size(), block.dataBufferOffset, block.dataBufferLength)) {
    return std::nullopt;
  }
  return request.subspan(block.dataBufferOffset, block.dataBufferLength);
}

std::optional<FaultRequest> firmwareFunctionKind(std::uint32_t function) {
  switch (function) {
    case firmware::kFunctionGetInfo:
      return FaultRequest::GetInfo;
    case firmware::kFunctionDownload:
      return FaultRequest::Download;
    case firmware::kFunctionActivate:
      return FaultRequest::Activate;
    default:
      return std::nullopt;
  }
}

namespace {

// Copies the revision bytes of slot n into a field of width bytes (the rest
// stays zero).
void putRevision(std::span<std::uint8_t> bytes, std::size_t at, std::size_t width,
                 const std::string& revision) {
  std::copy_n(revision.begin(), std::min(width, revision.size()), bytes.begin() + at);
}

std::uint8_t pendingSlotByte(const NvmeDrive& drive) {
  return drive.pendingSlot() ? static_cast<std::uint8_t>(*drive.pendingSlot())
                             : firmware::info::kInvalidSlot;
}

}  // namespace

std::vector<std::uint8_t> firmwareInfo(const NvmeDrive& drive, bool controller) {
  namespace info = firmware::info;
  namespace slot = firmware::slot_info;
  // The slots described: all of them, or the active one alone.
  std::vector<std::uint32_t> described;
  if (controller) {
    for (std::uint32_t n = 1; n <= drive.slotCount(); ++n) {
      described.push_back(n);
    }
  } else if (drive.slotCount() != 0) {
    described.push_back(drive.activeSlot());
  }
  std::vector<std::uint8_t> record(info::kSlots + slot::kRecordSize * described.size(), 0);
  const std::span<std::uint8_t> bytes(record);
  le::store32(bytes, info::kVersion, info::kStructureVersion);
  le::store32(bytes, info::kSize, firmware::kInfoSizeof);
  record[info::kUpgradeSupport] = drive.upgradeSupport() ? 1 : 0;
  record[info::kSlotCount] = static_cast<std::uint8_t>(described.size());
  record[info::kActiveSlot] = static_cast<std::uint8_t>(drive.activeSlot());
  record[info::kPendingActivateSlot] = pendingSlotByte(drive);
  for (std::size_t k = 0; k < described.size(); ++k) {
    const std::size_t entry = info::kSlots + slot::kRecordSize * k;
    record[entry + slot::kSlotNumber] = static_cast<std::uint8_t>(described[k]);
    record[entry + slot::kReadOnly] = drive.slotReadOnly(described[k]) ? 1 : 0;
    putRevision(bytes, entry + slot::kRevision, slot::kRevisionSize,
                drive.slotRevision(described[k]));
  }
  return record;
}

std::vector<std::uint8_t> firmwareInfoV2(const NvmeDrive& drive) {
  namespace info = firmware::info;
  namespace v2 = firmware::info_v2;
  namespace slot = firmware::slot_info;
  constexpr std::uint32_t kPayloadAlignment = 4096;
  const std::uint32_t slots = drive.slotCount();
  std::vector<std::uint8_t> record(v2::kSlots + v2::kSlotRecordSize * slots, 0);
  const std::span<std::uint8_t> bytes(record);
  le::store32(bytes, info::kVersion, v2::kStructureVersion);
  le::store32(bytes, info::kSize, v2::kSizeof);
  record[info::kUpgradeSupport] = drive.upgradeSupport() ? 1 : 0;
  record[info::kSlotCount] = static_cast<std::uint8_t>(slots);
  record[info::kActiveSlot] = static_cast<std::uint8_t>(drive.activeSlot());
  record[info::kPendingActivateSlot] = pendingSlotByte(drive);
  record[v2::kFirmwareShared] = 1;
  le::store32(bytes, v2::kImagePayloadAlignment, kPayloadAlignment);
  le::store32(bytes, v2::kImagePayloadMaxSize, drive.config().mdts);
  for (std::uint32_t n = 1; n <= slots; ++n) {
    const std::size_t entry = v2::kSlots + v2::kSlotRecordSize * (n - 1);
    record[entry + slot::kSlotNumber] = static_cast<std::uint8_t>(n);
    record[entry + slot::kReadOnly] = drive.slotReadOnly(n) ? 1 : 0;
    // The 8 FR bytes, then zeros to the 16-byte field's end.
    putRevision(bytes, entry + slot::kRevision, slot::kRevisionSize, drive.slotRevision(n));
  }
  return record;
}

std::uint32_t firmwareDownload(NvmeDrive& drive, std::span<const std::uint8_t> record,
                               DownloadRecords accepted) {
  namespace dl = firmware::download;
  if (record.size() < dl::kImageBufferV1) {
    return firmware::kStatusInvalidParameter;
  }
  const std::uint32_t version = le::load32(record, dl::kVersion);
  const std::uint32_t size = le::load32(record, dl::kSize);
  const bool windows = accepted == DownloadRecords::Windows;
  std::size_t imageAt = 0;
  // The inbox driver takes Size both as the offset of ImageBuffer and as the
  // padded sizeof of the record; "IntelFw " takes the V2 record as the
  // package's request table gives it, and nothing else.
  if (windows && version == dl::kVersion1 &&
      (size == dl::kImageBufferV1 || size == dl::kSizeofV1)) {
    imageAt = dl::kImageBufferV1;
  } else if (version == dl::kVersion2 &&
             (size == dl::kImageBufferV2 || (windows && size == dl::kSizeofV2)) &&
             record.size() >= dl::kImageBufferV2) {
    imageAt = dl::kImageBufferV2;
    if (!windows && (record[dl::kSlotV2] != intel::fw::kDownloadAnySlot ||
                     le::load32(record, dl::kImageSizeV2) != intel::fw::kDownloadImageSize)) {
      return firmware::kStatusInvalidParameter;
    }
  } else {
    return firmware::kStatusInvalidParameter;
  }
  const std::uint64_t offset = le::load64(record, dl::kOffset);
  const std::uint64_t bufferSize = le::load64(record, dl::kBufferSize);
  if (!le::inside(record.size(), imageAt, bufferSize)) {
    return firmware::kStatusInvalidParameter;
  }
  const bool taken =
      drive.downloadPiece(offset, record.subspan(imageAt, static_cast<std::size_t>(bufferSize)));
  return taken ? firmware::kStatusSuccess : firmware::kStatusInvalidParameter;
}

std::uint32_t firmwareActivate(NvmeDrive& drive, std::span<const std::uint8_t> record,
                               bool exactSize) {
  namespace act = firmware::activate;
  const std::uint32_t size = record.size() < act::kRecordSize ? 0 : le::load32(record, act::kSize);
  if (record.size() < act::kRecordSize ||
      le::load32(record, act::kVersion) != act::kStructureVersion || size < act::kRecordSize ||
      (exactSize && size != act::kRecordSize)) {
    return firmware::kStatusInvalidParameter;
  }
  switch (drive.commit(record[act::kSlotToActivate])) {
    case NvmeDrive::CommitResult::InvalidSlot:
      return firmware::kStatusInvalidSlot;
    case NvmeDrive::CommitResult::InvalidImage:
      return firmware::kStatusInvalidImage;
    case NvmeDrive::CommitResult::Success:
      break;
  }
  return drive.config().activation == Activation::PowerCycle ? firmware::kStatusPowerCycleRequired
                                                             : firmware::kStatusSuccess;
}

}  // namespace zevsim
