// The capture: the run's observation and disk records rendered as a machine
// file. Drive texts are written as the drive returned them (Latin-1, one code
// point per byte, zero bytes included); device properties as read, null where
// a property was asked for and absent, left out where it was never asked for.
#include "report/machine_capture.hpp"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <set>
#include <vector>

#include "core/text.hpp"
#include "platform/platform.hpp"
#include "report/results_json.hpp"

namespace zev {

namespace {

using Json = nlohmann::ordered_json;

// Slots are numbered 1 to 7; the format's path ids lie below 256.
constexpr std::uint32_t kMaxSlots = 7;
constexpr std::int64_t kPathIds = 256;
constexpr std::uint32_t kDefaultScsiPorts = 3;
// MDTS is a power of two of 4 KiB pages; the format holds it in bytes.
constexpr std::uint8_t kMaxMdtsExponent = 19;

std::string utf8(const std::wstring& text) {
  return utf8FromWide(text);
}

// Drive bytes as the format's Latin-1 text.
std::string latin1(const std::string& bytes) {
  return utf8FromWide(widenBytes(bytes));
}

// A property as read: left out when it was never asked for, null when absent.
template <class T, class Render>
void putProperty(Json& object, const char* key, const ReadProperty<T>& property, Render&& render) {
  if (!property) {
    return;
  }
  object[key] = *property ? render(**property) : Json(nullptr);
}

void putText(Json& object, const char* key, const ReadProperty<std::wstring>& property) {
  putProperty(object, key, property, [](const std::wstring& text) { return Json(utf8(text)); });
}

const char* requestName(RequestKind kind) {
  switch (kind) {
    case RequestKind::Open:
      return "open";
    case RequestKind::DeviceNumber:
      return "deviceNumber";
    case RequestKind::Identify:
      return "identify";
    case RequestKind::GetInfo:
      return "getInfo";
    case RequestKind::Download:
      return "download";
    case RequestKind::Activate:
      return "activate";
    case RequestKind::Csmi:
      return "csmi";
    case RequestKind::VrocList:
      return "vrocList";
    case RequestKind::ScsiPortOpen:
      return "scsiPortOpen";
  }
  return "open";
}

const char* formName(FailureForm form) {
  switch (form) {
    case FailureForm::Error:
      return "error";
    case FailureForm::ReturnCode:
      return "returnCode";
    case FailureForm::NvmeStatus:
      return "nvmeStatus";
    case FailureForm::Completion:
      return "completion";
  }
  return "error";
}

// The fault that makes the nth request of its kind fail as it failed.
Json faultJson(const FailedRequest& failed, std::uint32_t nth) {
  Json fault = Json::object();
  fault["request"] = requestName(failed.request);
  fault["nth"] = nth;
  fault[formName(failed.form)] = failed.value;
  return fault;
}

std::string padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

bool blank(const std::string& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c == ' ' || c == '\0'; });
}

// A drive of the capture and what the attachments made of it so far.
struct CapturedDrive {
  Json json;
  // The Identify texts that make two attachments one drive (empty: never).
  std::string serial;
  std::string model;
  std::set<std::size_t> volumes;  // the RAID volumes it is a member of
  // The MN and SN bytes the simulator gives the drive: its Identify fields,
  // or for a placeholder the format's defaults.
  std::string modelBytes;
  std::string serialBytes;
  std::uint32_t inboxAttachments = 0;
  std::uint32_t slotReads = 0;
  bool slotsWritten = false;
};

class CaptureComposer {
 public:
  explicit CaptureComposer(const UpdateContext& context)
      : inventory_(context.inventory),
        observation_(context.inventory.observation),
        driveOfIdentified_(context.inventory.identified.size(), kNone) {}

  Json compose() {
    Json machine = Json::object();
    machine["description"] = "Captured by the package's check (/capture).";
    machine["computerName"] = utf8(platform::computerName());
    if (observation_.moduleHandleFails) {
      machine["moduleHandleFails"] = true;
    }
    if (observation_.runGuardHeld) {
      machine["runGuardHeld"] = true;
    }
    Json inbox = inboxDisks();
    Json controller = intelController();
    addSlotReads();
    if (!controller.is_null()) {
      for (Json& fault : slotOpenFaults_) {
        controller["faults"].push_back(std::move(fault));
      }
    }
    Json drives = Json::array();
    for (CapturedDrive& drive : drives_) {
      drives.push_back(std::move(drive.json));
    }
    machine["drives"] = std::move(drives);
    machine["inbox"] = std::move(inbox);
    if (!controller.is_null()) {
      machine["intelController"] = std::move(controller);
    }
    Json others = Json::array();
    for (const ObservedController& seen : observation_.otherControllers) {
      Json other = Json::object();
      if (seen.instanceId && *seen.instanceId) {
        other["instanceId"] = utf8(**seen.instanceId);
      }
      putText(other, "driverDesc", seen.driverDesc);
      other["interfacePath"] = utf8(seen.interfacePath);
      others.push_back(std::move(other));
    }
    machine["otherControllers"] = std::move(others);
    return machine;
  }

 private:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  std::string idOf(std::size_t drive) const { return drives_[drive].json["id"]; }

  std::size_t newDrive() {
    CapturedDrive drive;
    drive.json = Json::object();
    const std::string id = "drive" + std::to_string(drives_.size() + 1);
    drive.json["id"] = id;
    // The format's defaults: the maker's model, "KD27" and the id upper-cased.
    drive.modelBytes = padded("KELDORA TQ270c 1TB", identify::kMnSize);
    std::string serial = "KD27" + id;
    std::transform(serial.begin(), serial.end(), serial.begin(), [](char c) {
      return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    });
    drive.serialBytes = padded(serial.substr(0, identify::kSnSize), identify::kSnSize);
    drives_.push_back(std::move(drive));
    return drives_.size() - 1;
  }

  // A drive that could not be examined: the format's defaults, and the
  // request that failed.
  std::size_t placeholder(const std::optional<FailedRequest>& failed, std::uint32_t nth) {
    const std::size_t drive = newDrive();
    if (failed) {
      drives_[drive].json["faults"] = Json::array({faultJson(*failed, nth)});
    }
    return drive;
  }

  // The drive of identified entry index: one already captured with the same
  // non-blank serial and model (never a member of the same RAID volume), or
  // a new one with its Identify fields.
  std::size_t identifiedDrive(std::size_t index, std::size_t volume = kNone) {
    const DiskInfo& disk = inventory_.identified[index];
    const identify::RawFields fields = disk.identifyFields.value_or(identify::RawFields{});
    const bool mergeable = !blank(fields.serial) && !blank(fields.model);
    for (std::size_t d = 0; mergeable && d < drives_.size(); ++d) {
      CapturedDrive& drive = drives_[d];
      if (drive.serial == fields.serial && drive.model == fields.model &&
          (volume == kNone || !drive.volumes.contains(volume))) {
        if (volume != kNone) {
          drive.volumes.insert(volume);
        }
        driveOfIdentified_[index] = d;
        return d;
      }
    }
    const std::size_t d = newDrive();
    CapturedDrive& drive = drives_[d];
    if (mergeable) {
      drive.serial = fields.serial;
      drive.model = fields.model;
    }
    if (volume != kNone) {
      drive.volumes.insert(volume);
    }
    drive.modelBytes = fields.model;
    drive.serialBytes = fields.serial;
    Json& json = drive.json;
    json["model"] = latin1(fields.model);
    json["serial"] = latin1(fields.serial);
    json["firmware"] = latin1(fields.firmware);
    if (fields.versionTertiary == 0) {
      json["nvmeVersion"] =
          std::to_string(fields.versionMajor) + "." + std::to_string(fields.versionMinor);
    } else {
      // "major.minor" has no tertiary version: the whole VER as returned.
      json["nvmeVersionRaw"] = (std::uint32_t{fields.versionMajor} << 16) |
                               (std::uint32_t{fields.versionMinor} << 8) | fields.versionTertiary;
    }
    json["fwug"] = fields.fwug;
    if (fields.mdts != 0 && fields.mdts <= kMaxMdtsExponent) {
      json["mdts"] = std::uint32_t{4096} << fields.mdts;
    } else if (fields.mdts != 0) {
      // A limit of 4 GiB or more has no 32-bit byte count: the byte itself.
      json["mdtsExponent"] = fields.mdts;
    }
    driveOfIdentified_[index] = d;
    return d;
  }

  // The first identified entry of kind whose record matches, not yet used.
  template <class Match>
  std::optional<std::size_t> findIdentified(DriverKind kind, Match&& match) const {
    for (std::size_t i = 0; i < inventory_.identified.size(); ++i) {
      const DiskInfo& disk = inventory_.identified[i];
      if (disk.driverKind == kind && driveOfIdentified_[i] == kNone && match(disk)) {
        return i;
      }
    }
    return std::nullopt;
  }

  // The not-examined entry of devicePath, when there is one with a request.
  const UnexaminedDisk* unexaminedAt(const std::wstring& devicePath) const {
    for (const UnexaminedDisk& disk : inventory_.unexamined) {
      if (disk.devicePath == devicePath && disk.failedRequest) {
        return &disk;
      }
    }
    return nullptr;
  }

  static std::wstring physicalDrive(std::uint32_t number) {
    return L"\\\\.\\PHYSICALDRIVE" + std::to_wstring(number);
  }

  // The drive behind an inbox disk: identified, or a placeholder with what
  // the enumeration (the disk's first open, its device number) or the
  // identification (its second open, the Identify query) met.
  std::size_t inboxDrive(const ObservedInboxDisk& seen) {
    if (seen.deviceNumber) {
      const std::wstring path = physicalDrive(*seen.deviceNumber);
      if (const auto index = findIdentified(
              DriverKind::Inbox, [&](const DiskInfo& disk) { return disk.devicePath == path; })) {
        const std::size_t drive = identifiedDrive(*index);
        ++drives_[drive].inboxAttachments;
        return drive;
      }
      if (const UnexaminedDisk* failed = unexaminedAt(path)) {
        const bool open = failed->failedRequest->request == RequestKind::Open;
        return placeholder(failed->failedRequest, open ? 2 : 1);
      }
    }
    const UnexaminedDisk* failed = seen.interfacePath ? unexaminedAt(*seen.interfacePath) : nullptr;
    return placeholder(failed ? failed->failedRequest : std::nullopt, 1);
  }

  Json inboxDisks() {
    const std::vector<ObservedInboxDisk>& disks = observation_.inboxDisks;
    std::set<std::uint32_t> numbers;
    for (const ObservedInboxDisk& seen : disks) {
      if (seen.deviceNumber) {
        numbers.insert(*seen.deviceNumber);
      }
    }
    Json list = Json::array();
    for (std::size_t i = 0; i < disks.size(); ++i) {
      const ObservedInboxDisk& seen = disks[i];
      Json disk = Json::object();
      disk["drive"] = idOf(inboxDrive(seen));
      if (seen.deviceNumber) {
        disk["deviceNumber"] = *seen.deviceNumber;
      } else if (numbers.contains(static_cast<std::uint32_t>(i))) {
        // A number nobody read: the list position, unless a disk read it.
        std::uint32_t free = 0;
        while (numbers.contains(free)) {
          ++free;
        }
        numbers.insert(free);
        disk["deviceNumber"] = free;
      }
      putText(disk, "parentInstanceId", seen.parentInstanceId);
      putProperty(disk, "hardwareIds", seen.hardwareIds, [](const std::vector<std::wstring>& ids) {
        Json list = Json::array();
        for (const std::wstring& id : ids) {
          list.push_back(utf8(id));
        }
        return list;
      });
      putText(disk, "instanceId", seen.instanceId);
      if (seen.interfacePath) {
        disk["interfacePath"] = utf8(*seen.interfacePath);
      }
      list.push_back(std::move(disk));
    }
    return list;
  }

  // A path id for a drive whose own was never read: the lowest one free.
  std::int64_t freePathId() {
    std::int64_t id = 0;
    while (pathIds_.contains(id)) {
      ++id;
    }
    pathIds_.insert(id);
    return id;
  }

  std::int64_t claimPathId(std::int64_t id) {
    if (id < 0 || id >= kPathIds || pathIds_.contains(id)) {
      return freePathId();
    }
    pathIds_.insert(id);
    return id;
  }

  // The IRST drive at pathId: identified, or a placeholder with the failure
  // of its Intel Identify.
  std::size_t irstDrive(DriverKind kind, std::int64_t pathId, std::size_t volume) {
    if (const auto index =
            findIdentified(kind, [&](const DiskInfo& disk) { return disk.pathId == pathId; })) {
      return identifiedDrive(*index, volume);
    }
    for (const ObservedIdentifyFailure& failure : observation_.identifyFailures) {
      if (failure.pathId == pathId && failure.failedRequest.request == RequestKind::Identify) {
        return placeholder(failure.failedRequest, 1);
      }
    }
    return placeholder(std::nullopt, 1);
  }

  // The VROC drive of a list entry: identified by its disk id, or a
  // placeholder with the failure of its Identify, whose texts are the ones the
  // list gave it.
  std::size_t vrocDrive(const ObservedVrocEntry& entry, std::size_t volume) {
    const DriverKind kind = entry.raidMember ? DriverKind::VrocRaid : DriverKind::VrocNonRaid;
    if (const auto index = findIdentified(
            kind, [&](const DiskInfo& disk) { return disk.vrocDiskId == entry.diskId; })) {
      return identifiedDrive(*index, volume);
    }
    const std::size_t d = placeholder(entry.failedRequest, 1);
    CapturedDrive& drive = drives_[d];
    drive.modelBytes = entry.listModel;
    drive.serialBytes = entry.listSerial;
    drive.json["model"] = latin1(entry.listModel);
    drive.json["serial"] = latin1(entry.listSerial);
    return d;
  }

  // The keys of a VROC list entry that differ from what the simulator would
  // list by default: a disk id other than the entry's position (from 1, the
  // members first), MN and SN bytes other than the drive's own.
  void putListKeys(Json& json, const ObservedVrocEntry& entry, std::size_t drive) {
    const std::uint32_t position = ++vrocPosition_;
    if (entry.diskId != position) {
      json["diskId"] = entry.diskId;
    }
    if (entry.listSerial != drives_[drive].serialBytes) {
      json["listSerial"] = latin1(entry.listSerial);
    }
    if (entry.listModel != drives_[drive].modelBytes) {
      json["listModel"] = latin1(entry.listModel);
    }
  }

  // The simulator lists the RAID volume disks before the pass-through disks;
  // when the walk met them otherwise, every Intel disk gets the place it had.
  bool intelOrderGiven() const {
    bool passThroughSeen = false;
    for (const ObservedIntelDisk& disk : observation_.intelDisks) {
      if (disk.raidVolume && passThroughSeen) {
        return true;
      }
      passThroughSeen = passThroughSeen || !disk.raidVolume;
    }
    return false;
  }

  void addVolumes(Json& controller, Json& faults, bool vroc) {
    Json volumes = Json::array();
    std::size_t k = 0;
    std::uint32_t csmiRequests = 0;
    for (const ObservedIntelDisk& disk : observation_.intelDisks) {
      if (!disk.raidVolume) {
        continue;
      }
      const std::size_t volume = k++;
      Json members = Json::array();
      if (vroc && volume == 0) {
        for (std::uint32_t m = 0; m < observation_.vrocUnlistedMembers; ++m) {
          ++vrocPosition_;  // an unlisted member still takes its disk id
          members.push_back(
              {{"drive", idOf(placeholder(std::nullopt, 1))}, {"port", freePathId()}});
        }
        for (const ObservedVrocEntry& entry : observation_.vrocEntries) {
          if (entry.raidMember) {
            const std::size_t drive = vrocDrive(entry, volume);
            Json member = {{"drive", idOf(drive)}, {"port", claimPathId(entry.pathId)}};
            putListKeys(member, entry, drive);
            members.push_back(std::move(member));
          }
        }
      } else if (!vroc && volume < observation_.raidVolumes.size()) {
        const ObservedRaidVolume& seen = observation_.raidVolumes[volume];
        csmiRequests += seen.csmiRequests;
        if (seen.failedRequest) {
          faults.push_back(faultJson(*seen.failedRequest, csmiRequests));
        }
        for (const std::int64_t port : seen.memberPorts) {
          const std::size_t drive = irstDrive(DriverKind::IrstRaid, port, volume);
          members.push_back({{"drive", idOf(drive)}, {"port", claimPathId(port)}});
        }
      }
      Json entry = Json::object();
      entry["members"] = std::move(members);
      putText(entry, "instanceId", disk.instanceId);
      if (intelOrderGiven()) {
        entry["listIndex"] = disk.listIndex;
      }
      volumes.push_back(std::move(entry));
    }
    controller["raidVolumes"] = std::move(volumes);
  }

  void addPassThrough(Json& controller, bool vroc) {
    Json list = Json::array();
    std::vector<const ObservedVrocEntry*> listed;
    for (const ObservedVrocEntry& entry : observation_.vrocEntries) {
      if (!entry.raidMember) {
        listed.push_back(&entry);
      }
    }
    std::size_t k = 0;
    for (const ObservedIntelDisk& disk : observation_.intelDisks) {
      if (disk.raidVolume || !disk.interfacePath) {
        continue;
      }
      Json entry = Json::object();
      std::size_t drive = kNone;
      std::int64_t busNumber = -1;
      if (vroc) {
        if (k < listed.size()) {
          busNumber = listed[k]->pathId;
          drive = vrocDrive(*listed[k], kNone);
          putListKeys(entry, *listed[k], drive);
        }
        ++k;
      } else if (disk.openFailure) {
        drive = placeholder(disk.openFailure, 1);
      } else {
        busNumber = disk.busNumber;
        drive = irstDrive(DriverKind::IrstNonRaid, busNumber, kNone);
      }
      if (drive == kNone) {
        drive = placeholder(std::nullopt, 1);
      }
      entry["drive"] = idOf(drive);
      entry["busNumber"] = claimPathId(busNumber);
      putText(entry, "locationInfo", disk.locationInfo);
      putText(entry, "instanceId", disk.instanceId);
      if (intelOrderGiven()) {
        entry["listIndex"] = disk.listIndex;
      }
      list.push_back(std::move(entry));
    }
    controller["passThrough"] = std::move(list);
  }

  Json intelController() {
    if (!observation_.intelController) {
      return nullptr;
    }
    const ObservedController& seen = *observation_.intelController;
    const bool vroc = observation_.vrocPort.has_value();
    Json controller = Json::object();
    controller["driver"] = vroc ? "vroc" : "irst";
    putText(controller, "driverDesc", seen.driverDesc);
    putText(controller, "instanceId", seen.instanceId);
    controller["interfacePath"] = utf8(seen.interfacePath);
    Json faults = Json::array();
    for (const FailedRequest& failed : observation_.controllerFailures) {
      faults.push_back(faultJson(failed, 1));
    }
    if (const auto& failed = observation_.vrocListFailure; vroc && failed) {
      faults.push_back(faultJson(failed->failedRequest, failed->nth));
    }
    addVolumes(controller, faults, vroc);
    addPassThrough(controller, vroc);
    if (vroc) {
      const auto port = static_cast<std::uint32_t>(*observation_.vrocPort);
      controller["vrocPort"] = port;
      if (port >= kDefaultScsiPorts) {
        controller["scsiPorts"] = port + 1;
      }
    }
    controller["faults"] = std::move(faults);
    return controller;
  }

  // What the check's slot reads found, on the drives they read: the slots
  // the first read described, and the request a read failed on, counted
  // among the drive's requests of its kind; a failed open of the Intel
  // controller's path or of the VROC port is the controller's, counted among
  // that device's opens.
  void addSlotReads() {
    for (const ObservedSlotRead& read : observation_.slotReads) {
      const std::size_t d = driveOfIdentified_.at(read.identifiedIndex);
      if (d == kNone) {
        continue;
      }
      CapturedDrive& drive = drives_[d];
      const DiskInfo& disk = inventory_.identified[read.identifiedIndex];
      const DriverKind kind = disk.driverKind;
      const std::uint32_t earlier = drive.slotReads++;
      if (read.slots && !drive.slotsWritten) {
        drive.slotsWritten = writeSlots(drive.json, *read.slots, disk.identifyFields);
      }
      if (!read.failedRequest) {
        continue;
      }
      const FailedRequest& failed = *read.failedRequest;
      const bool controllerOpen =
          (failed.request == RequestKind::Open && kind != DriverKind::Inbox) ||
          failed.request == RequestKind::ScsiPortOpen;
      if (controllerOpen) {
        if (read.openNth != 0) {
          slotOpenFaults_.push_back(faultJson(failed, read.openNth));
        }
        continue;
      }
      std::optional<std::uint32_t> nth;
      if (failed.request == RequestKind::GetInfo) {
        nth = earlier + 1;
      } else if (failed.request == RequestKind::Open && kind == DriverKind::Inbox) {
        // Each attachment was opened by the enumeration and the Identify.
        nth = 2 * drive.inboxAttachments + earlier + 1;
      }
      if (nth) {
        if (!drive.json.contains("faults")) {
          drive.json["faults"] = Json::array();
        }
        drive.json["faults"].push_back(faultJson(failed, *nth));
      }
    }
  }

  // The slot keys of what a reply said, with the slot count and slot 1's
  // read-only bit from Identify's FRMW where the reply does not say them (the
  // VROC slot log); false when neither says them.
  static bool writeSlots(Json& json, SlotState slots,
                         const std::optional<identify::RawFields>& fields) {
    if (!slots.slotCount && fields) {
      slots.slotCount = static_cast<std::uint8_t>((fields->frmw >> 1) & 0x7u);
      slots.slot1ReadOnly = (fields->frmw & 0x1u) != 0;
    }
    if (!slots.slotCount || *slots.slotCount > kMaxSlots) {
      return false;
    }
    const std::uint8_t count = *slots.slotCount;
    json["slots"] = count;
    if (slots.slot1ReadOnly) {
      json["slot1ReadOnly"] = *slots.slot1ReadOnly;
    }
    if (slots.activeSlot >= 1 && (count == 0 || slots.activeSlot <= count)) {
      json["activeSlot"] = slots.activeSlot;
    }
    if (slots.upgradeSupport) {
      json["upgradeSupport"] = *slots.upgradeSupport;
    }
    Json revisions = Json::array();
    for (std::size_t s = 0; s < count; ++s) {
      if (s >= slots.revisions.size() || !slots.revisions[s]) {
        break;
      }
      const std::vector<std::uint8_t>& bytes = *slots.revisions[s];
      const std::size_t width = std::min<std::size_t>(bytes.size(), 8);
      revisions.push_back(latin1(std::string(bytes.begin(), bytes.begin() + width)));
    }
    if (count > 0 && revisions.size() == count) {
      json["slotFirmware"] = std::move(revisions);
    }
    if (slots.pendingSlot && *slots.pendingSlot <= count) {
      json["pendingSlot"] = *slots.pendingSlot;
    }
    return true;
  }

  const DiskInventory& inventory_;
  const MachineObservation& observation_;
  std::vector<std::size_t> driveOfIdentified_;
  std::vector<CapturedDrive> drives_;
  std::set<std::int64_t> pathIds_;
  std::uint32_t vrocPosition_ = 0;
  // The controller faults of the slot reads' failed opens.
  Json slotOpenFaults_ = Json::array();
};

}  // namespace

std::string composeMachineCapture(const UpdateContext& context) {
  return CaptureComposer(context).compose().dump(2) + "\n";
}

}  // namespace zev
