// A disk on the operating system's inbox NVMe driver: its device number, the
// NVMe protocol-specific Identify Controller query, and the storport miniport
// firmware interface (signature "FIRMWARE", IOCTL_SCSI_MINIPORT_FIRMWARE).
#include <algorithm>

#include "byte_order.hpp"
#include "driver_request.hpp"
#include "endpoint.hpp"
#include "firmware_layout.hpp"
#include "nvme_drive.hpp"
#include "nvme_layout.hpp"
#include "srb_layout.hpp"
#include "storage_query_layout.hpp"
#include "windows_values.hpp"

namespace zevsim {

namespace {

// The firmware function's data record may not overlap SRB_IO_CONTROL or
// FIRMWARE_REQUEST_BLOCK.
constexpr std::size_t kRequestBlockAt = srb::kSize;
constexpr std::size_t kFirmwareDataStart = kRequestBlockAt + firmware::request_block::kRecordSize;
static_assert(kFirmwareDataStart == 52);

// What the query asks for: Identify Controller, 4096 bytes.
constexpr std::uint32_t kIdentifyDataSize = nvme::identify::kSize;

class InboxDiskEndpoint : public Endpoint {
 public:
  InboxDiskEndpoint(NvmeDrive& drive, std::uint32_t deviceNumber, FaultCounter* attachment)
      : drive_(drive), deviceNumber_(deviceNumber), attachment_(attachment) {}

  IoReply request(std::uint32_t controlCode, std::span<const std::uint8_t> in,
                  std::uint32_t outSize) override {
    switch (controlCode) {
      case win::kIoctlStorageGetDeviceNumber:
        return getDeviceNumber(outSize);
      case win::kIoctlStorageQueryProperty:
        return queryProperty(in, outSize);
      case win::kIoctlScsiMiniport:
        return miniport(in, outSize);
      default:
        return notDelivered(win::kErrorInvalidFunction);
    }
  }

 private:
  IoReply getDeviceNumber(std::uint32_t outSize) {
    if (outSize < device_number::kSize) {
      return notDelivered(win::kErrorInsufficientBuffer);
    }
    const Fault* fault = drive_.countRequest(FaultRequest::DeviceNumber, attachment_);
    if (fault != nullptr && fault->error) {
      return notDelivered(*fault->error);
    }
    std::vector<std::uint8_t> reply(device_number::kSize, 0);
    le::store32(reply, device_number::kDeviceType, win::kFileDeviceDisk);
    le::store32(reply, device_number::kDeviceNumber, deviceNumber_);
    le::store32(reply, device_number::kPartitionNumber, 0);
    return deliveredReply(reply, reply.size(), outSize);
  }

  // STORAGE_PROPERTY_QUERY for StorageAdapterProtocolSpecificProperty with
  // an NVMe Identify Controller request in its protocol-specific data.
  IoReply queryProperty(std::span<const std::uint8_t> in, std::uint32_t outSize) {
    namespace pq = property_query;
    namespace pd = protocol_data;
    constexpr std::size_t kBlockAt = pq::kAdditionalParameters;
    if (in.size() < kBlockAt + pd::kSize ||
        le::load32(in, pq::kPropertyId) != pq::kStorageAdapterProtocolSpecificProperty ||
        le::load32(in, pq::kQueryType) != pq::kPropertyStandardQuery) {
      return notDelivered(win::kErrorInvalidParameter);
    }
    const auto block = in.subspan(kBlockAt, pd::kSize);
    const std::uint32_t dataOffset = le::load32(block, pd::kProtocolDataOffset);
    const std::uint32_t dataLength = le::load32(block, pd::kProtocolDataLength);
    if (le::load32(block, pd::kProtocolType) != pd::kProtocolTypeNvme ||
        le::load32(block, pd::kDataType) != pd::kNvmeDataTypeIdentify ||
        le::load32(block, pd::kRequestValue) != pd::kIdentifyCnsController ||
        dataOffset < pd::kSize || dataLength < kIdentifyDataSize) {
      return notDelivered(win::kErrorInvalidParameter);
    }
    // The data goes ProtocolDataOffset bytes after the start of the
    // protocol-specific block, which the reply's descriptor puts at 8.
    const std::uint64_t dataAt =
        protocol_descriptor::kProtocolSpecificData + std::uint64_t{dataOffset};
    if (outSize < dataAt + dataLength) {
      return notDelivered(win::kErrorInsufficientBuffer);
    }
    const Fault* fault = drive_.countRequest(FaultRequest::Identify, attachment_);
    if (fault != nullptr && fault->error) {
      return notDelivered(*fault->error);
    }
    std::vector<std::uint8_t> buffer(std::max<std::size_t>(in.size(), outSize), 0);
    std::copy(in.begin(), in.end(), buffer.begin());
    const std::span<std::uint8_t> bytes(buffer);
    namespace desc = protocol_descriptor;
    le::store32(bytes, desc::kVersion, desc::kRecordSize);
    le::store32(bytes, desc::kSize, desc::kRecordSize);
    std::copy(block.begin(), block.end(), buffer.begin() + desc::kProtocolSpecificData);
    le::store32(bytes, desc::kProtocolSpecificData + pd::kProtocolDataLength, kIdentifyDataSize);
    const auto identify = drive_.identifyController();
    std::copy(identify.begin(), identify.end(),
              buffer.begin() + static_cast<std::ptrdiff_t>(dataAt));
    return deliveredReply(buffer, dataAt + kIdentifyDataSize, outSize);
  }

  // IOCTL_SCSI_MINIPORT with the miniport firmware interface.
  IoReply miniport(std::span<const std::uint8_t> in, std::uint32_t outSize) {
    auto request = MiniportRequest::accept(in, outSize);
    if (!request || !request->signatureIs(firmware::kSignature) ||
        request->controlCode() != firmware::kIoctlScsiMiniportFirmware) {
      return notDelivered(win::kErrorInvalidParameter);
    }
    const auto block = readFirmwareRequestBlock(request->bytes(), kRequestBlockAt);
    const auto kind = block ? firmwareFunctionKind(block->function) : std::nullopt;
    if (!kind) {
      return notDelivered(win::kErrorInvalidParameter);
    }
    const Fault* fault = drive_.countRequest(*kind, attachment_);
    if (auto stopped = stopByFault(firmwareStoppingFault(fault, *kind), *request, outSize)) {
      return *stopped;
    }
    const auto record = firmwareDataRecord(request->bytes(), *block, kFirmwareDataStart);
    if (!record) {
      request->setReturnCode(firmware::kStatusInvalidParameter);
      return request->reply(outSize);
    }
    std::uint32_t status = firmware::kStatusSuccess;
    switch (*kind) {
      case FaultRequest::GetInfo:
        status = getInfo(*request, *record, block->flags, fault);
        break;
      case FaultRequest::Download:
        status = firmwareDownload(drive_, *record, DownloadRecords::Windows);
        break;
      default:
        status = firmwareActivate(drive_, *record, /*exactSize=*/false);
        break;
    }
    request->setReturnCode(firmwareReplyStatus(fault, *kind, status));
    return request->reply(outSize);
  }

  // Writes STORAGE_FIRMWARE_INFO into the data record (every slot with
  // FIRMWARE_REQUEST_FLAG_CONTROLLER, the active slot alone without it); a
  // `dataBufferOffset` fault makes the driver name another offset in the
  // returned request block and write the information there, if it fits.
  std::uint32_t getInfo(MiniportRequest& request, std::span<std::uint8_t> record,
                        std::uint32_t flags, const Fault* fault) {
    const std::vector<std::uint8_t> info =
        firmwareInfo(drive_, (flags & firmware::kRequestFlagController) != 0);
    if (record.size() < info.size()) {
      return firmware::kStatusInvalidParameter;
    }
    if (fault != nullptr && fault->dataBufferOffset) {
      const std::uint32_t moved = *fault->dataBufferOffset;
      le::store32(request.bytes(), kRequestBlockAt + firmware::request_block::kDataBufferOffset,
                  moved);
      if (le::inside(request.size(), moved, info.size())) {
        std::copy(info.begin(), info.end(), request.bytes().begin() + moved);
      }
      return firmware::kStatusSuccess;
    }
    std::copy(info.begin(), info.end(), record.begin());
    return firmware::kStatusSuccess;
  }

  NvmeDrive& drive_;
  std::uint32_t deviceNumber_;
  FaultCounter* attachment_;
};

}  // namespace

std::unique_ptr<Endpoint> makeInboxDiskEndpoint(NvmeDrive& drive, std::uint32_t deviceNumber,
                                                FaultCounter* attachment) {
  return std::make_unique<InboxDiskEndpoint>(drive, deviceNumber, attachment);
}

}  // namespace zevsim
