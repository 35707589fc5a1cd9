// Machine files: reads the JSON description of a simulated machine, checks it
// against the schema (types, ranges, required and unknown keys, drive
// references, faults that fit their drive's driver stack) and applies every
// default. A problem ends the load with one line naming the file, the JSON path
// of the offending value and the problem; nothing is half-loaded.
#include "zevsim/machine_file.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string_view>
#include <system_error>
#include <unordered_map>
#include <vector>

#include "machine_file_faults.hpp"
#include "machine_file_identifiers.hpp"
#include "machine_file_json.hpp"

namespace zevsim {

using namespace machine_file;

namespace {

constexpr std::size_t kModelBytes = 40;    // Identify Controller MN
constexpr std::size_t kSerialBytes = 20;   // Identify Controller SN
constexpr std::size_t kFirmwareBytes = 8;  // Identify Controller FR
constexpr std::uint32_t kMaxSlots = 7;     // FRMW bits 3:1
constexpr std::uint32_t kMaxScsiPorts = 16;
constexpr std::uint32_t kMaxDeviceNumber = 65535;
constexpr std::uint32_t kMaxPathId = 255;     // the path id is one byte of the SAS address
constexpr std::size_t kMaxComputerName = 15;  // MAX_COMPUTERNAME_LENGTH
// The revision of an image lies at bytes 0x1010 to 0x1017, so a shorter image
// could never report one.
constexpr std::uint32_t kMinImageSize = 0x1018;
// The simulator holds what a drive receives in memory; an image of 32 MiB is
// several times the largest NVMe firmware image, and 64 drives of it stay
// within a few GiB.
constexpr std::uint32_t kMaxImageSize = 32u * 1024 * 1024;

// ---------------------------------------------------------------------------
// Drives

void readNvmeVersion(const Json& value, const std::string& path, DriveConfig& drive) {
  const std::string& text = readString(value, path);
  const std::size_t dot = text.find('.');
  const auto digits = [](std::string_view part) {
    return !part.empty() && part.size() <= 5 &&
           part.find_first_not_of("0123456789") == std::string_view::npos;
  };
  if (dot == std::string::npos || !digits(std::string_view(text).substr(0, dot)) ||
      !digits(std::string_view(text).substr(dot + 1))) {
    fail(path, "expected \"major.minor\" such as \"1.4\", not " + inQuotes(text));
  }
  const unsigned long major = std::stoul(text.substr(0, dot));
  const unsigned long minor = std::stoul(text.substr(dot + 1));
  if (major > 0xFFFF || minor > 0xFF) {
    fail(path, "VER holds a major version up to 65535 and a minor version up to 255, not " +
                   inQuotes(text));
  }
  drive.nvmeMajor = static_cast<std::uint16_t>(major);
  drive.nvmeMinor = static_cast<std::uint8_t>(minor);
}

// What an earlier run may have left on the drive: the revisions its slots hold
// and the slot that becomes active at the next reset.
void readSlotState(const ObjectReader& object, DriveConfig& drive) {
  if (const Json* revisions = object.find("slotFirmware")) {
    const std::string path = object.pathOf("slotFirmware");
    const Json& list = readArray(*revisions, path);
    if (list.size() != drive.slots) {
      fail(path, "lists " + std::to_string(list.size()) + " revisions for the drive's " +
                     std::to_string(drive.slots) + " slots");
    }
    for (std::size_t i = 0; i < list.size(); ++i) {
      drive.slotFirmware.push_back(readLatin1(list[i], indexPath(path, i), kFirmwareBytes));
    }
  }
  if (const Json* pending = object.find("pendingSlot")) {
    const std::string path = object.pathOf("pendingSlot");
    drive.pendingSlot = readU32(*pending, path, 1, kMaxSlots);
    if (*drive.pendingSlot > drive.slots) {
      fail(path, "slot " + std::to_string(*drive.pendingSlot) + " is beyond the drive's " +
                     std::to_string(drive.slots) + " slots");
    }
  }
}

// MN, SN and FR: the drive's Identify texts, padded to their fields.
void readDriveTexts(const ObjectReader& object, DriveConfig& drive) {
  const Json* model = object.find("model");
  drive.model = model ? readLatin1(*model, object.pathOf("model"), kModelBytes)
                      : padded("KELDORA TQ270c 1TB", kModelBytes);
  const Json* serial = object.find("serial");
  drive.serial = serial
                     ? readLatin1(*serial, object.pathOf("serial"), kSerialBytes)
                     : padded(upperAscii("KD27" + drive.id).substr(0, kSerialBytes), kSerialBytes);
  const Json* firmware = object.find("firmware");
  drive.firmware = firmware ? readLatin1(*firmware, object.pathOf("firmware"), kFirmwareBytes)
                            : padded("KTW3LMZB", kFirmwareBytes);
  if (const Json* version = object.find("nvmeVersion")) {
    readNvmeVersion(*version, object.pathOf("nvmeVersion"), drive);
  }
  if (const Json* raw = object.find("nvmeVersionRaw")) {
    // VER as Identify returned it, tertiary version and all.
    const std::string path = object.pathOf("nvmeVersionRaw");
    if (object.find("nvmeVersion") != nullptr) {
      fail(path, "a drive takes nvmeVersion or nvmeVersionRaw, not both");
    }
    const std::uint32_t ver = readU32(*raw, path);
    drive.nvmeMajor = static_cast<std::uint16_t>(ver >> 16);
    drive.nvmeMinor = static_cast<std::uint8_t>(ver >> 8);
    drive.nvmeTertiary = static_cast<std::uint8_t>(ver);
  }
}

// The rules a download piece must keep: FWUG, whether the drive enforces it,
// and MDTS.
void readPieceRules(const ObjectReader& object, DriveConfig& drive) {
  if (const Json* fwug = object.find("fwug")) {
    drive.fwug = static_cast<std::uint8_t>(readU32(*fwug, object.pathOf("fwug"), 0, 255));
  }
  if (const Json* strict = object.find("fwugStrict")) {
    drive.fwugStrict = readBool(*strict, object.pathOf("fwugStrict"));
  }
  if (const Json* mdts = object.find("mdts")) {
    // Identify reports MDTS as a power of two in units of the 4 KiB minimum
    // page size, so only 0 (no limit) and 4096 << n can be reported.
    drive.mdts = readU32(*mdts, object.pathOf("mdts"));
    const bool powerOfTwo = (drive.mdts & (drive.mdts - 1)) == 0;
    if (drive.mdts != 0 && (drive.mdts < 4096 || !powerOfTwo)) {
      fail(object.pathOf("mdts"),
           "must be 0 (no limit) or a power of two from 4096, not " + std::to_string(drive.mdts));
    }
  }
  if (const Json* exponent = object.find("mdtsExponent")) {
    const std::string path = object.pathOf("mdtsExponent");
    if (object.find("mdts") != nullptr) {
      fail(path, "a drive takes mdts or mdtsExponent, not both");
    }
    drive.mdtsExponent = static_cast<std::uint8_t>(readU32(*exponent, path, 0, 255));
    // A limit of 4 GiB or more (exponent 20 on) lies beyond every 32-bit
    // transfer length, so the drive enforces none.
    constexpr std::uint32_t kWidestEnforced = 19;
    drive.mdts = *drive.mdtsExponent == 0 || *drive.mdtsExponent > kWidestEnforced
                     ? 0
                     : std::uint32_t{4096} << *drive.mdtsExponent;
  }
}

// The firmware slots: how many, whether slot 1 is read-only, which one runs,
// and whether the drive can be upgraded at all.
void readSlots(const ObjectReader& object, DriveConfig& drive) {
  if (const Json* slots = object.find("slots")) {
    drive.slots = readU32(*slots, object.pathOf("slots"), 0, kMaxSlots);
  }
  if (const Json* readOnly = object.find("slot1ReadOnly")) {
    drive.slot1ReadOnly = readBool(*readOnly, object.pathOf("slot1ReadOnly"));
  }
  if (const Json* active = object.find("activeSlot")) {
    drive.activeSlot = readU32(*active, object.pathOf("activeSlot"), 1, kMaxSlots);
    if (drive.slots > 0 && drive.activeSlot > drive.slots) {
      fail(object.pathOf("activeSlot"), "slot " + std::to_string(drive.activeSlot) +
                                            " is beyond the drive's " +
                                            std::to_string(drive.slots) + " slots");
    }
  }
  if (const Json* upgrade = object.find("upgradeSupport")) {
    drive.upgradeSupport = readBool(*upgrade, object.pathOf("upgradeSupport"));
  }
}

Activation readActivation(const Json& value, const std::string& path) {
  const std::string& text = readString(value, path);
  if (text == "reset") {
    return Activation::Reset;
  }
  if (text == "powerCycle") {
    return Activation::PowerCycle;
  }
  if (text != "immediate") {
    fail(path, "expected \"reset\", \"powerCycle\" or \"immediate\", not " + inQuotes(text));
  }
  return Activation::Immediate;
}

// The image the drive takes: its complete length, and what a commit of it
// asks for.
void readImage(const ObjectReader& object, DriveConfig& drive) {
  if (const Json* size = object.find("imageSize")) {
    drive.imageSize = readU32(*size, object.pathOf("imageSize"), kMinImageSize, kMaxImageSize);
    // Firmware Image Download counts dwords, so an image is a whole number of them.
    if (drive.imageSize % 4 != 0) {
      fail(object.pathOf("imageSize"), "must be a multiple of 4 (a whole number of dwords), not " +
                                           std::to_string(drive.imageSize));
    }
  }
  if (const Json* activation = object.find("activation")) {
    drive.activation = readActivation(*activation, object.pathOf("activation"));
  }
}

DriveConfig readDrive(const Json& value, const std::string& path) {
  const ObjectReader object(
      value, path,
      {"id", "model", "serial", "firmware", "nvmeVersion", "nvmeVersionRaw", "fwug", "fwugStrict",
       "mdts", "mdtsExponent", "slots", "slot1ReadOnly", "activeSlot", "upgradeSupport",
       "imageSize", "activation", "slotFirmware", "pendingSlot", "faults"});
  DriveConfig drive;
  drive.id = readAscii(object.require("id"), object.pathOf("id"));
  readDriveTexts(object, drive);
  readPieceRules(object, drive);
  readSlots(object, drive);
  readImage(object, drive);
  readSlotState(object, drive);
  if (const Json* faults = object.find("faults")) {
    drive.faults = readFaults(*faults, object.pathOf("faults"), false);
  }
  return drive;
}

// ---------------------------------------------------------------------------
// The whole machine

class MachineReader {
 public:
  MachineConfig read(const Json& root) {
    const ObjectReader object(
        root, "$",
        {"description", "drives", "inbox", "intelController", "otherControllers",
         "moduleHandleFails", "computerName", "runGuardHeld", "eventLogFails"});
    if (const Json* description = object.find("description")) {
      config_.description = readString(*description, object.pathOf("description"));
    }
    if (const Json* drives = object.find("drives")) {
      readDrives(*drives, object.pathOf("drives"));
    }
    if (const Json* others = object.find("otherControllers")) {
      readOtherControllers(*others, object.pathOf("otherControllers"));
    }
    if (const Json* inbox = object.find("inbox")) {
      readInbox(*inbox, object.pathOf("inbox"));
    }
    if (const Json* controller = object.find("intelController")) {
      readIntelController(*controller, object.pathOf("intelController"));
    }
    if (const Json* fails = object.find("moduleHandleFails")) {
      config_.moduleHandleFails = readBool(*fails, object.pathOf("moduleHandleFails"));
    }
    if (const Json* name = object.find("computerName")) {
      const std::string path = object.pathOf("computerName");
      config_.computerName = readAscii(*name, path);
      if (config_.computerName.size() > kMaxComputerName) {
        fail(path, "is " + std::to_string(config_.computerName.size()) +
                       " characters, longer than a computer name's 15");
      }
    }
    if (const Json* held = object.find("runGuardHeld")) {
      config_.runGuardHeld = readBool(*held, object.pathOf("runGuardHeld"));
    }
    if (const Json* fails = object.find("eventLogFails")) {
      config_.eventLogFails = readBool(*fails, object.pathOf("eventLogFails"));
    }
    for (std::size_t i = 0; i < config_.drives.size(); ++i) {
      checkDriveFaultsFit(config_.drives[i], stacks_[i], indexPath("$.drives", i));
    }
    return std::move(config_);
  }

 private:
  void readDrives(const Json& value, const std::string& path) {
    const Json& list = readArray(value, path);
    config_.drives.reserve(list.size());
    stacks_.reserve(list.size());
    driveIndex_.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
      const std::string drivePath = indexPath(path, i);
      DriveConfig drive = readDrive(list[i], drivePath);
      const auto [it, inserted] = driveIndex_.emplace(drive.id, i);
      if (!inserted) {
        fail(drivePath + ".id",
             "the id " + inQuotes(drive.id) + " is already used by " + indexPath(path, it->second));
      }
      config_.drives.push_back(std::move(drive));
      stacks_.emplace_back();
    }
  }

  // The index of the drive that an attachment names.
  std::size_t driveReference(const ObjectReader& object, Stack stack) {
    const std::string path = object.pathOf("drive");
    const std::string id = readAscii(object.require("drive"), path);
    const auto it = driveIndex_.find(id);
    if (it == driveIndex_.end()) {
      fail(path, "no drive has the id " + inQuotes(id));
    }
    stacks_[it->second].push_back(stack);
    return it->second;
  }

  // Opening a path must reach one device, so no two devices share an
  // interface path (compared without regard to case, as the object manager
  // compares them).
  void claimInterfacePath(const std::string& interfacePath, const std::string& devicePath,
                          bool given) {
    const std::string folded = upperAscii(interfacePath);
    if (const auto port = inboxControllerPaths_.find(folded); port != inboxControllerPaths_.end()) {
      fail(given ? devicePath + ".interfacePath" : devicePath,
           "the interface path " + inQuotes(interfacePath) + " is that of the NVMe controller of " +
               port->second);
    }
    const auto [it, inserted] = interfacePaths_.emplace(folded, devicePath);
    if (!inserted) {
      fail(given ? devicePath + ".interfacePath" : devicePath,
           (given ? std::string("the interface path ")
                  : "its default interface path " + inQuotes(interfacePath) + " ") +
               "is already used by " + it->second);
    }
  }

  // An inbox disk's NVMe controller is a storage port of its own, so no other
  // device may have its interface path; inbox disks may share one (several
  // namespaces of one controller).
  void claimInboxControllerPath(const std::string& interfacePath, const ObjectReader& disk) {
    const std::string folded = upperAscii(interfacePath);
    if (const auto it = interfacePaths_.find(folded); it != interfacePaths_.end()) {
      fail(disk.find("parentInstanceId") != nullptr ? disk.pathOf("parentInstanceId") : disk.path(),
           "its NVMe controller's interface path " + inQuotes(interfacePath) +
               " is already used by " + it->second +
               "; give that storage port's place as controllerListIndex here instead");
    }
    inboxControllerPaths_.emplace(folded, disk.path());
  }

  // The place a device had in its class's device set (key "listIndex" or
  // "controllerListIndex"), which no other device of the class (taken: the
  // places so far) may have.
  static std::optional<std::uint32_t> readListIndex(const ObjectReader& object,
                                                    std::string_view key,
                                                    std::map<std::uint32_t, std::string>& taken) {
    const Json* value = object.find(key);
    if (value == nullptr) {
      return std::nullopt;
    }
    const std::string path = object.pathOf(key);
    const std::uint32_t index = readU32(*value, path);
    const auto [it, inserted] = taken.emplace(index, path);
    if (!inserted) {
      fail(path, "list index " + std::to_string(index) + " is already used by " + it->second +
                     "; a device set lists one device at each place");
    }
    return index;
  }

  // The faults of one attachment, which must fit its stack.
  static std::vector<Fault> readAttachmentFaults(const ObjectReader& object, Stack stack) {
    const Json* faults = object.find("faults");
    if (faults == nullptr) {
      return {};
    }
    const std::string path = object.pathOf("faults");
    std::vector<Fault> list = readFaults(*faults, path, false);
    checkAttachmentFaultsFit(list, stack, path);
    return list;
  }

  // What the VROC driver lists for a RAID member or pass-through drive:
  // keys of a "vroc" controller's drives only.
  static VrocListing readVrocListing(const ObjectReader& object, Stack stack) {
    const bool vroc = stack == Stack::VrocMember || stack == Stack::VrocPassThrough;
    VrocListing listing;
    for (const char* key : {"diskId", "listSerial", "listModel"}) {
      if (!vroc && object.find(key) != nullptr) {
        fail(object.pathOf(key), "applies to a drive behind a \"vroc\" controller only");
      }
    }
    if (const Json* id = object.find("diskId")) {
      listing.diskId = readU32(*id, object.pathOf("diskId"), 1);
    }
    if (const Json* serial = object.find("listSerial")) {
      listing.listSerial = readLatin1(*serial, object.pathOf("listSerial"), kSerialBytes);
    }
    if (const Json* model = object.find("listModel")) {
      listing.listModel = readLatin1(*model, object.pathOf("listModel"), kModelBytes);
    }
    return listing;
  }

  // The VROC driver names each drive of the controller by its disk id, so no
  // two share one, given or by default (1, 2, ... over the RAID members in
  // volume and member order, then the pass-through drives).
  static void checkDiskIds(const IntelControllerConfig& controller, const std::string& path) {
    std::unordered_map<std::uint32_t, std::string> ids;
    std::uint32_t position = 0;
    const auto claim = [&](const VrocListing& listing, const std::string& entryPath) {
      ++position;
      const std::uint32_t id = listing.diskId.value_or(position);
      const auto [it, inserted] = ids.emplace(id, entryPath);
      if (!inserted) {
        fail(listing.diskId ? entryPath + ".diskId" : entryPath,
             std::string(listing.diskId ? "disk id " : "its default disk id ") +
                 std::to_string(id) + " is already used by " + it->second);
      }
    };
    for (std::size_t v = 0; v < controller.raidVolumes.size(); ++v) {
      const std::string membersPath = indexPath(path + ".raidVolumes", v) + ".members";
      for (std::size_t m = 0; m < controller.raidVolumes[v].members.size(); ++m) {
        claim(controller.raidVolumes[v].members[m].listing, indexPath(membersPath, m));
      }
    }
    for (std::size_t p = 0; p < controller.passThrough.size(); ++p) {
      claim(controller.passThrough[p].listing, indexPath(path + ".passThrough", p));
    }
  }

  void readOtherControllers(const Json& value, const std::string& path) {
    const Json& list = readArray(value, path);
    for (std::size_t i = 0; i < list.size(); ++i) {
      const ObjectReader object(list[i], indexPath(path, i),
                                {"instanceId", "driverDesc", "interfacePath", "listIndex"});
      OtherControllerConfig controller;
      const Json* instance = object.find("instanceId");
      controller.instanceId = instance ? readAscii(*instance, object.pathOf("instanceId"))
                                       : otherControllerInstanceId(i);
      const Json* desc = object.find("driverDesc");
      controller.driverDesc = desc ? readOptionalDescription(*desc, object.pathOf("driverDesc"))
                                   : std::string(kOtherControllerDriverDesc);
      const Json* interface = object.find("interfacePath");
      controller.interfacePath = interface ? readAscii(*interface, object.pathOf("interfacePath"))
                                           : storagePortInterfacePath(controller.instanceId);
      claimInterfacePath(controller.interfacePath, object.path(), interface != nullptr);
      controller.listIndex = readListIndex(object, "listIndex", portListIndexes_);
      config_.otherControllers.push_back(std::move(controller));
    }
  }

  // SPDRP_HARDWAREID of an inbox disk: the identifiers given (null: the
  // property is absent), else those the inbox driver's disk reports.
  static std::optional<std::vector<std::string>> readHardwareIds(const ObjectReader& object,
                                                                 const DriveConfig& drive) {
    const Json* ids = object.find("hardwareIds");
    if (ids == nullptr) {
      return inboxHardwareIds(drive.model, drive.firmware);
    }
    if (ids->is_null()) {
      return std::nullopt;
    }
    const std::string idsPath = object.pathOf("hardwareIds");
    const Json& array = readArray(*ids, idsPath);
    std::vector<std::string> list;
    // REG_MULTI_SZ ends at its first empty string, so readAscii's refusal of
    // empty text keeps every listed identifier visible.
    for (std::size_t k = 0; k < array.size(); ++k) {
      list.push_back(readAscii(array[k], indexPath(idsPath, k)));
    }
    return list;
  }

  // The n of \\.\PHYSICALDRIVEn of the index-th inbox disk (its list position
  // by default), which no other disk of listPath may have; numbers maps the
  // device numbers taken so far to their disks' indexes.
  static std::uint32_t readDeviceNumber(const ObjectReader& object, const std::string& listPath,
                                        std::size_t index,
                                        std::unordered_map<std::uint32_t, std::size_t>& numbers) {
    const Json* number = object.find("deviceNumber");
    const std::uint32_t deviceNumber =
        number ? readU32(*number, object.pathOf("deviceNumber"), 0, kMaxDeviceNumber)
               : static_cast<std::uint32_t>(index);
    const auto [it, inserted] = numbers.emplace(deviceNumber, index);
    if (!inserted) {
      fail(number ? object.pathOf("deviceNumber") : object.path(),
           std::string(number ? "device number " : "its default device number ") +
               std::to_string(deviceNumber) + " is already used by " +
               indexPath(listPath, it->second));
    }
    return deviceNumber;
  }

  // The index-th inbox disk of the list at listPath.
  InboxDiskConfig readInboxDisk(const Json& value, const std::string& listPath, std::size_t index,
                                std::unordered_map<std::uint32_t, std::size_t>& numbers) {
    const ObjectReader object(
        value, indexPath(listPath, index),
        {"drive", "deviceNumber", "parentInstanceId", "hardwareIds", "instanceId", "interfacePath",
         "listIndex", "controllerListIndex", "faults"});
    InboxDiskConfig disk;
    const DriveConfig& drive = config_.drives[driveReference(object, Stack::InboxDisk)];
    disk.drive = drive.id;
    disk.deviceNumber = readDeviceNumber(object, listPath, index, numbers);

    const std::string defaultParent = inboxControllerInstanceId(index);
    const Json* parent = object.find("parentInstanceId");
    disk.parentInstanceId =
        parent ? readOptionalAscii(*parent, object.pathOf("parentInstanceId")) : defaultParent;
    // Without the property the disk still has its NVMe controller.
    disk.controllerInstanceId = disk.parentInstanceId.value_or(defaultParent);
    disk.controllerInterfacePath = storagePortInterfacePath(disk.controllerInstanceId);
    claimInboxControllerPath(disk.controllerInterfacePath, object);
    disk.hardwareIds = readHardwareIds(object, drive);

    const std::string defaultInstance = inboxDiskInstanceId(drive.model, index);
    const Json* instance = object.find("instanceId");
    disk.instanceId =
        instance ? readOptionalAscii(*instance, object.pathOf("instanceId")) : defaultInstance;
    const Json* interface = object.find("interfacePath");
    disk.interfacePath = interface ? readAscii(*interface, object.pathOf("interfacePath"))
                                   : diskInterfacePath(disk.instanceId.value_or(defaultInstance));
    claimInterfacePath(disk.interfacePath, object.path(), interface != nullptr);
    disk.listIndex = readListIndex(object, "listIndex", diskListIndexes_);
    disk.controllerListIndex = readListIndex(object, "controllerListIndex", portListIndexes_);
    disk.faults = readAttachmentFaults(object, Stack::InboxDisk);
    return disk;
  }

  void readInbox(const Json& value, const std::string& path) {
    const Json& list = readArray(value, path);
    std::unordered_map<std::uint32_t, std::size_t> numbers;  // device number: disk index
    numbers.reserve(list.size());
    config_.inbox.reserve(list.size());
    for (std::size_t i = 0; i < list.size(); ++i) {
      config_.inbox.push_back(readInboxDisk(list[i], path, i, numbers));
    }
  }

  // The disks behind the Intel controller get the device numbers after the
  // inbox disks' highest one.
  std::uint32_t nextDeviceNumber() {
    if (!nextDeviceNumber_) {
      std::uint32_t next = 0;
      for (const InboxDiskConfig& disk : config_.inbox) {
        next = std::max(next, disk.deviceNumber + 1);
      }
      nextDeviceNumber_ = next;
    }
    return (*nextDeviceNumber_)++;
  }

  // The IRST driver addresses a drive by its path id, so no two drives of the
  // controller share one.
  void claimPathId(std::uint32_t pathId, const std::string& path) {
    const auto [it, inserted] = pathIds_.emplace(pathId, path);
    if (!inserted) {
      fail(path, "path id " + std::to_string(pathId) + " is already used by " + it->second);
    }
  }

  static IntelDriver readIntelDriver(const Json& value, const std::string& path) {
    const std::string& text = readString(value, path);
    if (text == "vroc") {
      return IntelDriver::Vroc;
    }
    if (text != "irst") {
      fail(path, "expected \"irst\" or \"vroc\", not " + inQuotes(text));
    }
    return IntelDriver::Irst;
  }

  // The controller device: its driver description, instance identifier and
  // storage-port interface path.
  void readControllerDevice(const ObjectReader& object, IntelControllerConfig& controller) {
    const Json* desc = object.find("driverDesc");
    const bool vroc = controller.driver == IntelDriver::Vroc;
    controller.driverDesc = desc ? readOptionalDescription(*desc, object.pathOf("driverDesc"))
                                 : std::string(vroc ? kVrocDriverDesc : kIrstDriverDesc);
    // Without its instance identifier property the controller is still the
    // device it is: its path and its disks' parent follow the default one.
    const Json* instance = object.find("instanceId");
    const std::optional<std::string> instanceId =
        instance ? readOptionalAscii(*instance, object.pathOf("instanceId"))
                 : intelControllerInstanceId();
    controller.instanceIdReadable = instanceId.has_value();
    controller.instanceId = instanceId.value_or(intelControllerInstanceId());
    const Json* interface = object.find("interfacePath");
    controller.interfacePath = interface ? readAscii(*interface, object.pathOf("interfacePath"))
                                         : storagePortInterfacePath(controller.instanceId);
    claimInterfacePath(controller.interfacePath, object.path(), interface != nullptr);
    controller.listIndex = readListIndex(object, "listIndex", portListIndexes_);
  }

  // The SCSI port devices \\.\ScsiN: and, for driver "vroc", the one of them
  // that is the VROC driver's.
  static void readScsiPorts(const ObjectReader& object, IntelControllerConfig& controller) {
    const bool vroc = controller.driver == IntelDriver::Vroc;
    if (const Json* ports = object.find("scsiPorts")) {
      controller.scsiPorts = readU32(*ports, object.pathOf("scsiPorts"), 1, kMaxScsiPorts);
    }
    if (const Json* port = object.find("vrocPort")) {
      if (!vroc) {
        fail(object.pathOf("vrocPort"), "applies to driver \"vroc\" only");
      }
      controller.vrocPort = readU32(*port, object.pathOf("vrocPort"), 0, kMaxScsiPorts - 1);
    }
    if (vroc && controller.vrocPort >= controller.scsiPorts) {
      fail(object.pathOf(object.find("vrocPort") ? "vrocPort" : "scsiPorts"),
           "the VROC port " + std::to_string(controller.vrocPort) +
               " must be one of the SCSI ports 0 to " + std::to_string(controller.scsiPorts - 1));
    }
  }

  // One member of a RAID volume; volumeDrives maps the volume's drives so far
  // to their members' paths.
  RaidMemberConfig readRaidMember(const Json& value, const std::string& path, Stack stack,
                                  std::map<std::string, std::string>& volumeDrives) {
    const ObjectReader object(value, path,
                              {"drive", "port", "diskId", "listSerial", "listModel", "faults"});
    RaidMemberConfig member;
    member.drive = config_.drives[driveReference(object, stack)].id;
    // One drive cannot hold two places of one volume; a drive attached
    // twice elsewhere (two disk devices, as with multipath) is allowed.
    const auto [seen, first] = volumeDrives.emplace(member.drive, object.path());
    if (!first) {
      fail(object.pathOf("drive"), "the drive " + inQuotes(member.drive) +
                                       " is already a member of this volume, at " + seen->second);
    }
    member.port = readU32(object.require("port"), object.pathOf("port"), 0, kMaxPathId);
    claimPathId(member.port, object.pathOf("port"));
    member.listing = readVrocListing(object, stack);
    member.faults = readAttachmentFaults(object, stack);
    return member;
  }

  // The index-th RAID volume: its members and its volume disk.
  RaidVolumeConfig readRaidVolume(const Json& value, const std::string& path, std::size_t index,
                                  Stack memberStack) {
    const ObjectReader object(value, path, {"members", "instanceId", "interfacePath", "listIndex"});
    RaidVolumeConfig volume;
    const std::string membersPath = object.pathOf("members");
    const Json& members = readArray(object.require("members"), membersPath);
    // A volume may have no members: all of them are missing.
    std::map<std::string, std::string> volumeDrives;
    for (std::size_t m = 0; m < members.size(); ++m) {
      volume.members.push_back(
          readRaidMember(members[m], indexPath(membersPath, m), memberStack, volumeDrives));
    }
    const std::string defaultInstance = raidVolumeInstanceId(members.size(), index);
    const Json* instance = object.find("instanceId");
    volume.instanceId =
        instance ? readOptionalAscii(*instance, object.pathOf("instanceId")) : defaultInstance;
    const Json* interface = object.find("interfacePath");
    volume.interfacePath =
        interface ? readAscii(*interface, object.pathOf("interfacePath"))
                  : diskInterfacePath(volume.instanceId.value_or(defaultInstance));
    claimInterfacePath(volume.interfacePath, object.path(), interface != nullptr);
    volume.listIndex = readListIndex(object, "listIndex", diskListIndexes_);
    volume.deviceNumber = nextDeviceNumber();
    return volume;
  }

  // The index-th non-RAID drive behind the controller and its disk.
  PassThroughConfig readPassThroughDisk(const Json& value, const std::string& path,
                                        std::size_t index, Stack stack) {
    const ObjectReader object(value, path,
                              {"drive", "busNumber", "locationInfo", "instanceId", "interfacePath",
                               "listIndex", "diskId", "listSerial", "listModel", "faults"});
    PassThroughConfig disk;
    const DriveConfig& drive = config_.drives[driveReference(object, stack)];
    disk.drive = drive.id;
    disk.busNumber =
        readU32(object.require("busNumber"), object.pathOf("busNumber"), 0, kMaxPathId);
    claimPathId(disk.busNumber, object.pathOf("busNumber"));
    const Json* location = object.find("locationInfo");
    disk.locationInfo = location ? readOptionalAscii(*location, object.pathOf("locationInfo"))
                                 : passThroughLocationInfo(disk.busNumber);
    const std::string defaultInstance = passThroughInstanceId(drive.model, disk.busNumber, index);
    const Json* instance = object.find("instanceId");
    disk.instanceId =
        instance ? readOptionalAscii(*instance, object.pathOf("instanceId")) : defaultInstance;
    const Json* interface = object.find("interfacePath");
    disk.interfacePath = interface ? readAscii(*interface, object.pathOf("interfacePath"))
                                   : diskInterfacePath(disk.instanceId.value_or(defaultInstance));
    claimInterfacePath(disk.interfacePath, object.path(), interface != nullptr);
    disk.listIndex = readListIndex(object, "listIndex", diskListIndexes_);
    disk.listing = readVrocListing(object, stack);
    disk.faults = readAttachmentFaults(object, stack);
    disk.deviceNumber = nextDeviceNumber();
    return disk;
  }

  void readRaidVolumes(const Json& value, const std::string& path,
                       IntelControllerConfig& controller) {
    const Stack stack =
        controller.driver == IntelDriver::Vroc ? Stack::VrocMember : Stack::IrstMember;
    const Json& list = readArray(value, path);
    for (std::size_t v = 0; v < list.size(); ++v) {
      controller.raidVolumes.push_back(readRaidVolume(list[v], indexPath(path, v), v, stack));
    }
  }

  void readPassThroughDisks(const Json& value, const std::string& path,
                            IntelControllerConfig& controller) {
    const Stack stack =
        controller.driver == IntelDriver::Vroc ? Stack::VrocPassThrough : Stack::IrstPassThrough;
    const Json& list = readArray(value, path);
    for (std::size_t p = 0; p < list.size(); ++p) {
      controller.passThrough.push_back(readPassThroughDisk(list[p], indexPath(path, p), p, stack));
    }
  }

  void readIntelController(const Json& value, const std::string& path) {
    const ObjectReader object(value, path,
                              {"driver", "driverDesc", "instanceId", "interfacePath", "listIndex",
                               "raidVolumes", "passThrough", "vrocPort", "scsiPorts", "faults"});
    IntelControllerConfig controller;
    if (const Json* driver = object.find("driver")) {
      controller.driver = readIntelDriver(*driver, object.pathOf("driver"));
    }
    readControllerDevice(object, controller);
    readScsiPorts(object, controller);
    if (const Json* volumes = object.find("raidVolumes")) {
      readRaidVolumes(*volumes, object.pathOf("raidVolumes"), controller);
    }
    if (const Json* passThrough = object.find("passThrough")) {
      readPassThroughDisks(*passThrough, object.pathOf("passThrough"), controller);
    }
    if (const Json* faults = object.find("faults")) {
      controller.faults = readFaults(*faults, object.pathOf("faults"), true);
    }
    checkControllerFaultsFit(controller, path);
    checkDiskIds(controller, path);
    config_.intelController = std::move(controller);
  }

  MachineConfig config_;
  std::unordered_map<std::string, std::size_t> driveIndex_;
  std::vector<std::vector<Stack>> stacks_;  // per drive, one entry per attachment
  std::unordered_map<std::string, std::string> interfacePaths_;
  // The inbox disks' NVMe controllers' interface paths: the first disk of each.
  std::unordered_map<std::string, std::string> inboxControllerPaths_;
  std::map<std::uint32_t, std::string> pathIds_;
  // The list indexes taken so far per class: disks, storage ports.
  std::map<std::uint32_t, std::string> diskListIndexes_;
  std::map<std::uint32_t, std::string> portListIndexes_;
  std::optional<std::uint32_t> nextDeviceNumber_;
};

}  // namespace

MachineFileResult parseMachineFile(std::string_view text, const std::string& fileName) {
  try {
    const Document document(text);
    return {MachineReader().read(document.root()), {}};
  } catch (const FileError& e) {
    return {std::nullopt, shownOnOneLine(fileName) + ": " + e.path + ": " + e.problem};
  } catch (const Json::exception& e) {
    // The readers check every type before they convert, so this is a loader
    // fault; it still ends as a one-line error rather than an abort.
    return {std::nullopt, shownOnOneLine(fileName) + ": $: " + shownOnOneLine(e.what())};
  }
}

namespace {

// What a file that is not a regular file is, for its message; nullptr for a
// regular file, a directory (which the reading reports) or a missing file.
const char* irregularKind(std::filesystem::file_type type) {
  switch (type) {
    case std::filesystem::file_type::fifo:
      return "a FIFO";
    case std::filesystem::file_type::socket:
      return "a socket";
    case std::filesystem::file_type::block:
      return "a block device";
    case std::filesystem::file_type::character:
      return "a character device";
    case std::filesystem::file_type::unknown:
      return "a file of another type";
    default:
      return nullptr;
  }
}

}  // namespace

std::string shownOnOneLine(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out.push_back(c);
    }
  }
  return out;
}

MachineFileResult loadMachineFile(const std::string& path) {
  const std::string name = shownOnOneLine(path);
  const auto refused = [&](const std::string& problem) {
    return MachineFileResult{std::nullopt, name + ": $: " + problem};
  };
  const auto tooLarge = [&] {
    return refused("larger than " + std::to_string(kMaxMachineFileBytes >> 20) +
                   " MiB, the most a machine file may hold");
  };
  // A FIFO's open waits for a writer and its reading may never end, so only a
  // regular file is read as a machine file; the type is looked at before the
  // file is opened. A character device (/dev/zero) is still read up to the
  // limit, into a buffer that is discarded, so that one that never ends keeps
  // its message about the limit.
  std::error_code ignored;
  const std::filesystem::file_type type = std::filesystem::status(path, ignored).type();
  const char* kind = irregularKind(type);
  const bool character = type == std::filesystem::file_type::character;
  if (kind != nullptr && !character) {
    return refused(std::string("not a regular file (") + kind +
                   "); a machine file is read only from a regular file");
  }
  const bool regular = type == std::filesystem::file_type::regular;
  const std::uintmax_t size = regular ? std::filesystem::file_size(path, ignored) : 0;
  if (regular && size != static_cast<std::uintmax_t>(-1) && size > kMaxMachineFileBytes) {
    return tooLarge();
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    return refused(std::string("cannot be read: ") + std::strerror(errno));
  }
  std::string text;
  if (regular) {
    text.reserve(static_cast<std::size_t>(size));
  }
  std::vector<char> chunk(std::size_t{1} << 16);
  std::size_t got = 0;
  std::size_t total = 0;
  bool over = false;
  while ((got = std::fread(chunk.data(), 1, chunk.size(), file)) > 0) {
    if (got > kMaxMachineFileBytes - total) {
      over = true;
      break;
    }
    total += got;
    if (!character) {
      text.append(chunk.data(), got);
    }
  }
  const bool failed = !over && std::ferror(file) != 0;
  const int readErrno = errno;
  std::fclose(file);
  if (over) {
    return tooLarge();
  }
  if (failed) {
    return refused(std::string("cannot be read: ") + std::strerror(readErrno));
  }
  if (character) {
    return refused(std::string("not a regular file (") + kind +
                   "); a machine file is read only from a regular file");
  }
  return parseMachineFile(text, path);
}

}  // namespace zevsim
