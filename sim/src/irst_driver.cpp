// The Intel RAID controller's storage-port path. Driver "irst" answers the
// CSMI RAID configuration ("CSMIARY"), the NVMe pass-through ("IntelNvm") and
// the miniport firmware interface ("IntelFw "); driver "vroc" answers none of
// them on this path.
#include <algorithm>

#include "byte_order.hpp"
#include "csmi_layout.hpp"
#include "driver_request.hpp"
#include "endpoint.hpp"
#include "firmware_layout.hpp"
#include "intel_address_layout.hpp"
#include "intel_fw_layout.hpp"
#include "intel_nvm_layout.hpp"
#include "nvme_drive.hpp"
#include "nvme_layout.hpp"
#include "windows_values.hpp"

namespace zevsim {

namespace {

constexpr std::size_t kIntelFwDataStart = intel::fw::kRequestBlockEnd;
// "IntelNvm" needs its fields up to the data buffer length.
constexpr std::size_t kIntelNvmFieldsEnd = intel::nvm::kDataBufferLength + 4;

void putBytes(std::span<std::uint8_t> bytes, std::size_t offset, std::size_t width,
              const std::string& text) {
  std::copy_n(text.begin(), std::min(width, text.size()), bytes.begin() + offset);
}

// A drive as the request reaches it: the drive and the attachment's own
// fault counter (nullptr when the model has none).
struct AddressedDrive {
  NvmeDrive* drive = nullptr;
  FaultCounter* attachment = nullptr;
};

// The drive a path id addresses: a RAID member by its port, a pass-through
// drive by its bus number.
AddressedDrive driveAtPathId(IntelControllerModel& controller, std::uint32_t pathId) {
  for (std::size_t v = 0; v < controller.volumeMembers.size(); ++v) {
    for (std::size_t m = 0; m < controller.volumeMembers[v].size(); ++m) {
      if (controller.volumePorts[v][m] == pathId) {
        return {controller.volumeMembers[v][m], controller.memberAttachment(v, m)};
      }
    }
  }
  for (std::size_t i = 0; i < controller.passThroughDrives.size(); ++i) {
    if (controller.config->passThrough[i].busNumber == pathId) {
      return {controller.passThroughDrives[i], controller.passThroughAttachment(i)};
    }
  }
  return {};
}

class IrstControllerEndpoint : public Endpoint {
 public:
  explicit IrstControllerEndpoint(IntelControllerModel& controller) : controller_(controller) {}

  IoReply request(std::uint32_t controlCode, std::span<const std::uint8_t> in,
                  std::uint32_t outSize) override {
    if (controller_.config->driver != IntelDriver::Irst || controlCode != win::kIoctlScsiMiniport) {
      return notDelivered(win::kErrorInvalidFunction);
    }
    auto request = MiniportRequest::accept(in, outSize);
    if (!request) {
      return notDelivered(win::kErrorInvalidParameter);
    }
    if (request->signatureIs(csmi::kRaidSignature) &&
        request->controlCode() == csmi::kGetRaidConfig) {
      return raidConfig(*request, outSize);
    }
    if (request->signatureIs(intel::nvm::kSignature) &&
        request->controlCode() == intel::nvm::kControlCode) {
      return nvmPassThrough(*request, outSize);
    }
    if (request->signatureIs(intel::fw::kSignature) &&
        request->controlCode() == intel::fw::kControlCode) {
      return firmwareRequest(*request, outSize);
    }
    return notDelivered(win::kErrorInvalidParameter);
  }

 private:
  // CSMI_SAS_RAID_CONFIG_BUFFER for RAID set uRaidSetIndex: bDriveCount is
  // always the set's true member count; member entries are filled as far as
  // the request's Length has room for them.
  IoReply raidConfig(MiniportRequest& request, std::uint32_t outSize) {
    if (auto stopped =
            stopByFault(controller_.faults.count(FaultRequest::Csmi), request, outSize)) {
      return *stopped;
    }
    const std::span<std::uint8_t> bytes = request.bytes();
    if (bytes.size() < csmi::kDrives) {
      request.setReturnCode(csmi::kStatusInvalidParameter);
      return request.reply(outSize);
    }
    const std::uint32_t index = le::load32(bytes, csmi::kRaidSetIndex);
    if (index >= controller_.volumeMembers.size()) {
      request.setReturnCode(csmi::kStatusInvalidParameter);
      return request.reply(outSize);
    }
    const auto& members = controller_.volumeMembers[index];
    const auto& ports = controller_.volumePorts[index];
    le::store32(bytes, csmi::kCapacity, 0);
    le::store32(bytes, csmi::kStripeSize, 0);
    // The machine description carries no RAID level.
    bytes[csmi::kRaidType] = csmi::kRaidTypeOther;
    bytes[csmi::kStatus] = csmi::kRaidSetStatusOk;
    bytes[csmi::kInformation] = 0;
    bytes[csmi::kDriveCount] = static_cast<std::uint8_t>(members.size());
    const std::size_t room = (bytes.size() - csmi::kDrives) / csmi::drive::kRecordSize;
    for (std::size_t m = 0; m < std::min(room, members.size()); ++m) {
      namespace d = csmi::drive;
      const auto entry = bytes.subspan(csmi::kDrives + m * d::kRecordSize, d::kRecordSize);
      std::fill(entry.begin(), entry.end(), std::uint8_t{0});
      putBytes(entry, d::kModel, d::kModelSize, members[m]->config().model);
      putBytes(entry, d::kFirmware, d::kFirmwareSize, members[m]->runningFirmware());
      putBytes(entry, d::kSerialNumber, d::kSerialNumberSize, members[m]->config().serial);
      entry[d::kSasAddress + d::kSasAddressPortByte] = static_cast<std::uint8_t>(ports[m]);
      entry[d::kDriveStatus] = d::kDriveStatusOk;
      entry[d::kDriveUsage] = d::kDriveUsageMember;
    }
    request.setReturnCode(csmi::kStatusSuccess);
    return request.reply(outSize);
  }

  // The drive address after SRB_IO_CONTROL: nullptr with error set when the
  // request is refused.
  AddressedDrive addressedDrive(const MiniportRequest& request, std::uint32_t& error) const {
    const auto bytes = request.bytes();
    if (bytes.size() < intel::kAddressEnd ||
        bytes[intel::kAddressVersion] != intel::kAddressVersion1) {
      error = win::kErrorInvalidParameter;
      return {};
    }
    AddressedDrive drive;
    if (bytes[intel::kTargetId] == 0 && bytes[intel::kLun] == 0) {
      drive = driveAtPathId(controller_, bytes[intel::kPathId]);
    }
    if (drive.drive == nullptr) {
      error = win::kErrorIoDevice;
    }
    return drive;
  }

  // "IntelNvm": the NVMe admin command in the record, to the drive at the
  // path id. The model carries Identify Controller only.
  IoReply nvmPassThrough(MiniportRequest& request, std::uint32_t outSize) {
    std::uint32_t error = 0;
    const AddressedDrive addressed = addressedDrive(request, error);
    if (addressed.drive == nullptr) {
      return notDelivered(error);
    }
    NvmeDrive* drive = addressed.drive;
    const std::span<std::uint8_t> bytes = request.bytes();
    if (bytes.size() < kIntelNvmFieldsEnd) {
      request.setReturnCode(intel::kStatusInvalidParameter);
      return request.reply(outSize);
    }
    const auto command = bytes.subspan(intel::nvm::kCommand, intel::nvm::kCommandSize);
    const bool identifyController =
        command[nvme::commandDword(0)] == nvme::kOpcodeIdentify &&
        command[nvme::commandDword(10)] == nvme::kCnsController &&
        bytes[intel::nvm::kCommandSetFlag] == intel::nvm::kAdminCommandSet;
    if (!identifyController) {
      request.setReturnCode(intel::kStatusInvalidParameter);
      return request.reply(outSize);
    }
    if (auto stopped = stopByFault(
            drive->countRequest(FaultRequest::Identify, addressed.attachment), request, outSize)) {
      return *stopped;
    }
    const std::uint32_t dataOffset = le::load32(bytes, intel::nvm::kDataBufferOffset);
    const std::uint32_t dataLength = le::load32(bytes, intel::nvm::kDataBufferLength);
    if (dataOffset < intel::nvm::kFixedSize || dataLength != nvme::identify::kSize ||
        !le::inside(bytes.size(), dataOffset, dataLength)) {
      request.setReturnCode(intel::kStatusInvalidParameter);
      return request.reply(outSize);
    }
    const auto identify = drive->identifyController();
    std::copy(identify.begin(), identify.end(), bytes.begin() + dataOffset);
    request.setReturnCode(intel::kStatusSuccess);
    return request.reply(outSize);
  }

  // "IntelFw ": FIRMWARE_REQUEST_BLOCK after the drive address, with the
  // values the package's request tables give: Flags 1 (controller); slot
  // information (STORAGE_FIRMWARE_INFO_V2 asked for with Version 2 and Size
  // 48), download (STORAGE_FIRMWARE_DOWNLOAD_V2, Size 32, Slot 0xFF,
  // ImageSize 0) and activate (STORAGE_FIRMWARE_ACTIVATE, Size 12).
  IoReply firmwareRequest(MiniportRequest& request, std::uint32_t outSize) {
    const auto block = readFirmwareRequestBlock(request.bytes(), intel::fw::kRequestBlock);
    const auto kind = block ? firmwareFunctionKind(block->function) : std::nullopt;
    if (!kind) {
      return notDelivered(win::kErrorInvalidParameter);
    }
    std::uint32_t error = 0;
    const AddressedDrive addressed = addressedDrive(request, error);
    if (addressed.drive == nullptr) {
      return notDelivered(error);
    }
    NvmeDrive* drive = addressed.drive;
    const Fault* fault = drive->countRequest(*kind, addressed.attachment);
    if (auto stopped = stopByFault(firmwareStoppingFault(fault, *kind), request, outSize)) {
      return *stopped;
    }
    const auto record = firmwareDataRecord(request.bytes(), *block, kIntelFwDataStart);
    if (!record || block->flags != firmware::kRequestFlagController) {
      request.setReturnCode(firmware::kStatusInvalidParameter);
      return request.reply(outSize);
    }
    std::uint32_t status = firmware::kStatusSuccess;
    switch (*kind) {
      case FaultRequest::GetInfo:
        status = slotInformation(*drive, *record);
        break;
      case FaultRequest::Download:
        status = firmwareDownload(*drive, *record, DownloadRecords::IntelFw);
        break;
      default:
        status = firmwareActivate(*drive, *record, /*exactSize=*/true);
        break;
    }
    request.setReturnCode(firmwareReplyStatus(fault, *kind, status));
    return request.reply(outSize);
  }

  // GET_INFO: the record arrives as a STORAGE_FIRMWARE_INFO_V2 with Version 2
  // and Size 48 and must have room for every slot's entry.
  static std::uint32_t slotInformation(const NvmeDrive& drive, std::span<std::uint8_t> record) {
    namespace info = firmware::info;
    namespace v2 = firmware::info_v2;
    const std::vector<std::uint8_t> filled = firmwareInfoV2(drive);
    if (record.size() < filled.size() ||
        le::load32(record, info::kVersion) != v2::kStructureVersion ||
        le::load32(record, info::kSize) != v2::kSizeof) {
      return firmware::kStatusInvalidParameter;
    }
    std::copy(filled.begin(), filled.end(), record.begin());
    return firmware::kStatusSuccess;
  }

  IntelControllerModel& controller_;
};

}  // namespace

std::unique_ptr<Endpoint> makeIrstControllerEndpoint(IntelControllerModel& controller) {
  if (controller.config == nullptr) {
    return makeInvalidFunctionEndpoint();
  }
  return std::make_unique<IrstControllerEndpoint>(controller);
}

}  // namespace zevsim
