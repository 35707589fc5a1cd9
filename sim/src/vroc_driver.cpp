// The SCSI port devices \\.\ScsiN. On a "vroc" controller the port vrocPort
// is the VROC driver's: it answers "NvmeRAID" requests (RAID volume count and
// information, member list, non-RAID count and list, and the raw NVMe
// pass-through to a drive named by its disk id). Every other port fails
// everything with ERROR_INVALID_FUNCTION.
#include <algorithm>
#include <optional>
#include <unordered_map>

#include "byte_order.hpp"
#include "driver_request.hpp"
#include "endpoint.hpp"
#include "nvme_drive.hpp"
#include "nvme_layout.hpp"
#include "vroc_layout.hpp"
#include "windows_values.hpp"

namespace zevsim {

namespace {

namespace pt = vroc::pass_through;

// The one RAID volume the driver reports is volume number 1.
constexpr std::uint32_t kFirstVolume = 1;
// The fixed part of a count request: the header and one 32-bit word.
constexpr std::size_t kCountRequestSize = vroc::kCount + 4;

// --- The NVMe pass-through's commands ---------------------------------------

// The NVMe command of a pass-through request and the command dwords the
// commands carried here read.
struct NvmeCommand {
  explicit NvmeCommand(std::span<const std::uint8_t> request)
      : dwords(request.subspan(pt::kCommand, 64)),
        opcode(dwords[nvme::commandDword(0)]),
        commandId(le::load16(dwords, nvme::commandDword(0) + 2)),
        cdw10(le::load32(dwords, nvme::commandDword(10))),
        cdw11(le::load32(dwords, nvme::commandDword(11))) {}

  std::span<const std::uint8_t> dwords;
  std::uint8_t opcode;
  std::uint16_t commandId;
  std::uint32_t cdw10;
  std::uint32_t cdw11;
};

// Identify: the drive answers the Identify Controller data structure (CNS 1)
// only.
std::uint32_t identify(NvmeDrive& drive, const NvmeCommand& command, std::span<std::uint8_t> data) {
  if ((command.cdw10 & 0xFF) != nvme::kCnsController) {
    return nvme::kStatusInvalidField;
  }
  const auto structure = drive.identifyController();
  std::copy(structure.begin(), structure.end(), data.begin());
  return nvme::kStatusSuccess;
}

// Get Log Page for the Firmware Slot Information log (LID 03h) of the
// whole controller (NSID 0 or FFFFFFFFh), all 512 bytes: AFI and FRS1 to
// FRS7.
std::uint32_t firmwareSlotLog(NvmeDrive& drive, const NvmeCommand& command,
                              std::span<std::uint8_t> data) {
  namespace lg = nvme::slot_log;
  const std::uint32_t nsid = le::load32(command.dwords, lg::kNsid);
  if ((command.cdw10 & 0xFF) != lg::kLidFirmwareSlot) {
    return nvme::kStatusInvalidLogPage;
  }
  if (nsid != 0 && nsid != lg::kNsidAll) {
    return nvme::kStatusInvalidNamespace;
  }
  std::fill(data.begin(), data.end(), std::uint8_t{0});
  const std::uint32_t pending = drive.pendingSlot().value_or(0);
  data[lg::kAfi] = static_cast<std::uint8_t>((drive.activeSlot() & 0x7) |
                                             ((pending & 0x7) << lg::kAfiNextResetShift));
  for (std::uint32_t n = 1; n <= std::min(drive.slotCount(), lg::kMaxSlots); ++n) {
    const std::string revision = drive.slotRevision(n);
    std::copy_n(revision.begin(), std::min(lg::kFrsSize, revision.size()),
                data.begin() + static_cast<std::ptrdiff_t>(lg::kFrs + lg::kFrsSize * (n - 1)));
  }
  return nvme::kStatusSuccess;
}

// Firmware Image Download: the piece's offset in dwords is command dword 11.
std::uint32_t firmwareImageDownload(NvmeDrive& drive, const NvmeCommand& command,
                                    std::span<std::uint8_t> data) {
  const bool accepted = drive.downloadPiece(std::uint64_t{command.cdw11} * 4, data);
  return accepted ? nvme::kStatusSuccess : nvme::kStatusInvalidField;
}

// Firmware Commit: slot in bits 2:0 of command dword 10, action in 5:3.
std::uint32_t firmwareCommit(NvmeDrive& drive, const NvmeCommand& command,
                             std::span<std::uint8_t>) {
  const std::uint32_t slot = command.cdw10 & 0x7;
  const std::uint32_t action = (command.cdw10 >> 3) & 0x7;
  if (action > static_cast<std::uint32_t>(NvmeDrive::CommitAction::ReplaceAndActivateNow)) {
    return nvme::kStatusInvalidField;
  }
  switch (drive.commit(slot, static_cast<NvmeDrive::CommitAction>(action))) {
    case NvmeDrive::CommitResult::InvalidSlot:
      return nvme::kStatusInvalidFirmwareSlot;
    case NvmeDrive::CommitResult::InvalidImage:
      return nvme::kStatusInvalidFirmwareImage;
    case NvmeDrive::CommitResult::Success:
      break;
  }
  return nvme::kStatusSuccess;
}

// Where a command keeps NUMD, its 0-based count of data dwords.
enum class Numd {
  None,
  Dword10,        // Firmware Image Download
  NumduAndNumdl,  // Get Log Page: NUMDU in bits 15:0 of dword 11, NUMDL in 31:16 of dword 10
};

// One command the pass-through carries, as the package's request tables
// give it: the request kind it counts as (and its faults apply to), the
// direction, the data length field and the return buffer length the request
// must carry, the data area it must hold from offset 152, and what the drive
// does with it (returning the NVMe status).
struct PassThroughCommand {
  std::uint8_t opcode;
  FaultRequest kind;
  std::uint32_t direction;
  Numd numd;
  // The data length field; nullopt: (NUMD + 1) x 4 bytes. A command with a
  // NUMD and a fixed length must have the two agree.
  std::optional<std::uint32_t> dataLength;
  std::uint32_t returnLength;
  // The bytes the request must hold from offset 152; nullopt: the data length.
  std::optional<std::uint32_t> dataArea;
  std::uint32_t (*carryOut)(NvmeDrive& drive, const NvmeCommand& command,
                            std::span<std::uint8_t> data);
};

constexpr PassThroughCommand kPassThroughCommands[] = {
    // Identify returns its 4096 bytes with a data length field of 0.
    {nvme::kOpcodeIdentify, FaultRequest::Identify, pt::kDirectionDeviceToHost, Numd::None,
     pt::kIdentifyDataLength, pt::kIdentifyReturnLength, nvme::identify::kSize, identify},
    // The slot log is read whole.
    {nvme::kOpcodeGetLogPage, FaultRequest::GetInfo, pt::kDirectionDeviceToHost,
     Numd::NumduAndNumdl, pt::kSlotLogDataLength, pt::kSlotLogReturnLength, std::nullopt,
     firmwareSlotLog},
    // The data a download carries is exactly its NUMD.
    {nvme::kOpcodeFirmwareImageDownload, FaultRequest::Download, pt::kDirectionHostToDevice,
     Numd::Dword10, std::nullopt, pt::kUpdateReturnLength, std::nullopt, firmwareImageDownload},
    {nvme::kOpcodeFirmwareCommit, FaultRequest::Activate, pt::kDirectionHostToDevice, Numd::None, 0,
     pt::kUpdateReturnLength, std::nullopt, firmwareCommit},
};

const PassThroughCommand* findPassThroughCommand(std::uint8_t opcode) {
  for (const PassThroughCommand& row : kPassThroughCommands) {
    if (row.opcode == opcode) {
      return &row;
    }
  }
  return nullptr;
}

// The data area of a request for row: nullopt when its data length field,
// NUMD or return buffer length is not the command's, or the request does not
// hold the data from offset 152.
std::optional<std::uint64_t> carriedDataArea(const PassThroughCommand& row,
                                             const NvmeCommand& command,
                                             std::span<const std::uint8_t> request) {
  std::uint64_t numd = 0;
  switch (row.numd) {
    case Numd::None:
      break;
    case Numd::Dword10:
      numd = command.cdw10;
      break;
    case Numd::NumduAndNumdl:
      numd = (std::uint64_t{command.cdw11 & 0xFFFF} << 16) |
             (command.cdw10 >> nvme::slot_log::kNumdlShift);
      break;
  }
  const std::uint64_t numdLength = (numd + 1) * 4;
  const std::uint64_t dataLength = row.dataLength.value_or(numdLength);
  const std::uint64_t dataArea = row.dataArea.value_or(dataLength);
  const bool numdAgrees = row.numd == Numd::None || numdLength == dataLength;
  if (!numdAgrees || le::load32(request, pt::kDataLength) != dataLength ||
      le::load32(request, pt::kReturnBufferLength) != row.returnLength ||
      !le::inside(request.size(), pt::kData, dataArea)) {
    return std::nullopt;
  }
  return dataArea;
}

// --- The driver -------------------------------------------------------------

// One drive as the VROC driver lists and addresses it.
struct ListedDrive {
  NvmeDrive* drive = nullptr;
  std::uint32_t port = 0;
  std::uint32_t diskId = 0;
  const VrocListing* listing = nullptr;  // nullptr: the drive's own texts
  FaultCounter* attachment = nullptr;
};

class VrocPortEndpoint : public Endpoint {
 public:
  explicit VrocPortEndpoint(IntelControllerModel& controller) : controller_(controller) {
    // The RAID members in volume and member order, then the pass-through
    // drives, in file order; their disk ids are the file's or 1, 2, ... in
    // that order.
    const IntelControllerConfig& config = *controller.config;
    for (std::size_t v = 0; v < controller.volumeMembers.size(); ++v) {
      for (std::size_t m = 0; m < controller.volumeMembers[v].size(); ++m) {
        const VrocListing* listing =
            v < config.raidVolumes.size() && m < config.raidVolumes[v].members.size()
                ? &config.raidVolumes[v].members[m].listing
                : nullptr;
        add({controller.volumeMembers[v][m], controller.volumePorts[v][m], 0, listing,
             controller.memberAttachment(v, m)});
      }
    }
    firstPassThrough_ = disks_.size();
    for (std::size_t i = 0; i < controller.passThroughDrives.size(); ++i) {
      add({controller.passThroughDrives[i], config.passThrough[i].busNumber, 0,
           &config.passThrough[i].listing, controller.passThroughAttachment(i)});
    }
  }

  IoReply request(std::uint32_t controlCode, std::span<const std::uint8_t> in,
                  std::uint32_t outSize) override {
    if (controlCode != win::kIoctlScsiMiniport) {
      return notDelivered(win::kErrorInvalidFunction);
    }
    auto request = MiniportRequest::accept(in, outSize);
    if (!request || !request->signatureIs(vroc::kSignature)) {
      return notDelivered(win::kErrorInvalidParameter);
    }
    switch (request->controlCode()) {
      case vroc::kPassThrough:
        return passThrough(*request, outSize);
      case vroc::kRaidVolumeCount:
      case vroc::kRaidVolumeInfo:
      case vroc::kRaidMemberList:
      case vroc::kNonRaidCount:
      case vroc::kNonRaidList:
        return listRequest(*request, outSize);
      default:
        return notDelivered(win::kErrorInvalidParameter);
    }
  }

 private:
  void add(ListedDrive disk) {
    const auto position = static_cast<std::uint32_t>(disks_.size());
    disk.diskId =
        disk.listing != nullptr && disk.listing->diskId ? *disk.listing->diskId : position + 1;
    byDiskId_.emplace(disk.diskId, position);  // the loader keeps them unique
    disks_.push_back(disk);
  }

  std::size_t volumeMemberCount() const {
    return controller_.volumeMembers.empty() ? 0 : controller_.volumeMembers.front().size();
  }

  // Fills one VrocDiskEntry for disk index i: its disk id, the list texts
  // (the drive's MN and SN unless the file gives others) and its port.
  void putEntry(std::span<std::uint8_t> bytes, std::size_t at, std::size_t i) const {
    namespace e = vroc::entry;
    const auto entry = bytes.subspan(at, e::kRecordSize);
    std::fill(entry.begin(), entry.end(), std::uint8_t{0});
    const ListedDrive& disk = disks_[i];
    le::store32(entry, e::kDiskId, disk.diskId);
    const DriveConfig& config = disk.drive->config();
    const std::string& model = disk.listing != nullptr && disk.listing->listModel
                                   ? *disk.listing->listModel
                                   : config.model;
    const std::string& serial = disk.listing != nullptr && disk.listing->listSerial
                                    ? *disk.listing->listSerial
                                    : config.serial;
    std::copy_n(model.begin(), std::min(e::kModelSize, model.size()), entry.begin() + e::kModel);
    std::copy_n(serial.begin(), std::min(nvme::identify::kSnSize, serial.size()),
                entry.begin() + e::kSerial);
    le::store32(entry, e::kPort, disk.port);
  }

  // Fills entries for disk indexes [first, first + count) from offset at, as
  // many as the request's byte-count field (at bytesAt) allows and the
  // request has room for.
  void putList(MiniportRequest& request, std::size_t bytesAt, std::size_t at, std::size_t first,
               std::size_t count) const {
    const std::size_t room = (request.size() - at) / vroc::entry::kRecordSize;
    const std::size_t allowed = le::load32(request.bytes(), bytesAt) / vroc::entry::kRecordSize;
    for (std::size_t k = 0; k < std::min({room, allowed, count}); ++k) {
      putEntry(request.bytes(), at + k * vroc::entry::kRecordSize, first + k);
    }
  }

  IoReply listRequest(MiniportRequest& request, std::uint32_t outSize) {
    if (auto stopped =
            stopByFault(controller_.faults.count(FaultRequest::VrocList), request, outSize)) {
      return *stopped;
    }
    const std::uint32_t code = request.controlCode();
    const std::size_t needed = code == vroc::kRaidVolumeInfo   ? vroc::kVolumeInfoSize
                               : code == vroc::kRaidMemberList ? vroc::kMemberListEntries
                                                               : kCountRequestSize;
    if (request.size() < needed) {
      return refuse(request, outSize, vroc::kIoctlInsufficientInBuffer);
    }
    const std::span<std::uint8_t> bytes = request.bytes();
    const bool hasVolume = !controller_.volumeMembers.empty();
    if ((code == vroc::kRaidVolumeInfo || code == vroc::kRaidMemberList) &&
        (!hasVolume || le::load32(bytes, vroc::kVolumeNumber) != kFirstVolume)) {
      return refuse(request, outSize, vroc::kIoctlInvalidPathTargetId);
    }
    switch (code) {
      case vroc::kRaidVolumeCount:
        // The number of the controller's volumes; the information and member
        // requests answer for the first only.
        le::store32(bytes, vroc::kCount,
                    static_cast<std::uint32_t>(controller_.volumeMembers.size()));
        break;
      case vroc::kRaidVolumeInfo:
        le::store32(bytes, vroc::kVolumeInfoMemberCount,
                    static_cast<std::uint32_t>(volumeMemberCount()));
        break;
      case vroc::kRaidMemberList:
        // Volume 1's members are the first disk ids.
        putList(request, vroc::kMemberListBytes, vroc::kMemberListEntries, 0, volumeMemberCount());
        break;
      case vroc::kNonRaidCount:
        le::store32(bytes, vroc::kCount,
                    static_cast<std::uint32_t>(disks_.size() - firstPassThrough_));
        break;
      default:
        putList(request, vroc::kNonRaidListBytes, vroc::kNonRaidListEntries, firstPassThrough_,
                disks_.size() - firstPassThrough_);
        break;
    }
    request.setReturnCode(vroc::kIoctlSuccess);
    return request.reply(outSize);
  }

  // The NVMe pass-through: the disk id comes in ReturnCode, the driver's
  // verdict goes back in ReturnCode and the drive's in completion dword 3.
  // The command's row of kPassThroughCommands says what the request must
  // carry; anything else is refused before it reaches the drive.
  IoReply passThrough(MiniportRequest& request, std::uint32_t outSize) {
    const std::span<std::uint8_t> bytes = request.bytes();
    if (bytes.size() < pt::kData) {
      return refuse(request, outSize, vroc::kIoctlInsufficientInBuffer);
    }
    const auto listed = byDiskId_.find(request.returnCode());
    if (listed == byDiskId_.end()) {
      return refuse(request, outSize, vroc::kIoctlInvalidPathTargetId);
    }
    const ListedDrive& disk = disks_[listed->second];
    NvmeDrive& drive = *disk.drive;
    if (le::load32(bytes, pt::kMetadataLength) != 0) {
      return refuse(request, outSize, vroc::kIoctlInvalidMetaBufferLength);
    }
    if (le::load32(bytes, pt::kQueueId) != 0) {
      return refuse(request, outSize, vroc::kIoctlUnsupportedNvmCmd);
    }
    const NvmeCommand command(bytes);
    const PassThroughCommand* row = findPassThroughCommand(command.opcode);
    if (row == nullptr) {
      // A command the drive model does not implement.
      return complete(request, outSize, nvme::kStatusInvalidOpcode, command.commandId, nullptr);
    }
    if (le::load32(bytes, pt::kDirection) != row->direction) {
      return refuse(request, outSize, vroc::kIoctlInvalidDirectionSpecified);
    }
    const std::optional<std::uint64_t> dataArea = carriedDataArea(*row, command, bytes);
    if (!dataArea) {
      return refuse(request, outSize, vroc::kIoctlInsufficientInBuffer);
    }
    const Fault* fault = drive.countRequest(row->kind, disk.attachment);
    if (auto stopped = stopByFault(fault, request, outSize)) {
      return *stopped;
    }
    if (fault != nullptr && fault->nvmeStatus) {
      return complete(request, outSize, *fault->nvmeStatus, command.commandId, nullptr);
    }
    const auto data = bytes.subspan(pt::kData, static_cast<std::size_t>(*dataArea));
    return complete(request, outSize, row->carryOut(drive, command, data), command.commandId,
                    fault);
  }

  // A request the driver refuses: its ReturnCode says why.
  static IoReply refuse(MiniportRequest& request, std::uint32_t outSize, std::uint32_t returnCode) {
    request.setReturnCode(returnCode);
    return request.reply(outSize);
  }

  // Writes the completion entry; a `completion` fault replaces dword 3.
  static IoReply complete(MiniportRequest& request, std::uint32_t outSize, std::uint32_t status,
                          std::uint16_t commandId, const Fault* fault) {
    const std::span<std::uint8_t> bytes = request.bytes();
    for (std::size_t dword = 0; dword < 3; ++dword) {
      le::store32(bytes, pt::kCompletion + 4 * dword, 0);
    }
    std::uint32_t dword3 = (status << nvme::kCompletionStatusShift) | commandId;
    if (fault != nullptr && fault->completion) {
      dword3 = *fault->completion;
    }
    le::store32(bytes, pt::kCompletionDword3, dword3);
    request.setReturnCode(vroc::kIoctlSuccess);
    return request.reply(outSize);
  }

  IntelControllerModel& controller_;
  std::vector<ListedDrive> disks_;
  std::unordered_map<std::uint32_t, std::size_t> byDiskId_;  // disk id: index in disks_
  std::size_t firstPassThrough_ = 0;
};

}  // namespace

std::unique_ptr<Endpoint> makeScsiPortEndpoint(IntelControllerModel* controller,
                                               std::uint32_t port) {
  if (controller == nullptr || controller->config == nullptr ||
      controller->config->driver != IntelDriver::Vroc || port != controller->config->vrocPort) {
    return makeInvalidFunctionEndpoint();
  }
  return std::make_unique<VrocPortEndpoint>(*controller);
}

}  // namespace zevsim
