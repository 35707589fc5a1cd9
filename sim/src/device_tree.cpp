// Builds the device tree from the machine description and encodes property
// values the way SetupAPI returns them.
#include "device_tree.hpp"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <unordered_map>

namespace zevsim {
namespace {

// Texts of the devices the machine file does not describe in full: the
// inbox driver stack's own descriptions and the SCSI identity of the disks
// that the Intel driver presents.
constexpr std::string_view kInboxControllerDriverDesc = "Standard NVM Express Controller";
constexpr std::string_view kDiskDriverDesc = "Disk drive";
constexpr std::string_view kRaidVolumeVendor = "Intel";
constexpr std::string_view kRaidVolumeProduct = "Raid Volume";
constexpr std::string_view kRaidVolumeRevision = "1.0.";
constexpr std::string_view kNvmeDiskVendor = "NVMe";

// INQUIRY field widths of a SCSI hardware identifier.
constexpr std::size_t kScsiVendorWidth = 8;
constexpr std::size_t kScsiProductWidth = 16;
constexpr std::size_t kScsiRevisionWidth = 4;

std::optional<std::wstring> widenOptional(const std::optional<std::string>& text) {
  if (!text) {
    return std::nullopt;
  }
  return widen(*text);
}

// One INQUIRY text as a hardware identifier field: cut or padded with '_' to
// width, with blanks and characters that may not appear in a device
// identifier replaced by '_'.
std::string scsiField(std::string_view text, std::size_t width) {
  std::string out(width, '_');
  for (std::size_t i = 0; i < width && i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c > 0x20 && c < 0x7F && c != ',') {
      out[i] = static_cast<char>(c);
    }
  }
  return out;
}

std::string byteText(const std::string& bytes, std::size_t count) {
  return bytes.substr(0, count);
}

class TreeBuilder {
 public:
  explicit TreeBuilder(const MachineConfig& config) : config_(config) {}

  std::vector<DeviceNode> build() {
    for (std::size_t i = 0; i < config_.otherControllers.size(); ++i) {
      const OtherControllerConfig& other = config_.otherControllers[i];
      DeviceNode& node = add(DeviceRole::OtherController, i, kGuidDevClassScsiAdapter,
                             kGuidDevInterfaceStoragePort, other.interfacePath);
      setPciController(node, other.instanceId);
      node.driverDesc = widenOptional(other.driverDesc);
    }
    for (std::size_t i = 0; i < config_.inbox.size(); ++i) {
      const InboxDiskConfig& inbox = config_.inbox[i];
      DeviceNode& controller = add(DeviceRole::InboxController, i, kGuidDevClassScsiAdapter,
                                   kGuidDevInterfaceStoragePort, inbox.controllerInterfacePath);
      setPciController(controller, inbox.controllerInstanceId);
      controller.driverDesc = widen(kInboxControllerDriverDesc);

      DeviceNode& disk = add(DeviceRole::InboxDisk, i, kGuidDevClassDiskDrive,
                             kGuidDevInterfaceDisk, inbox.interfacePath);
      disk.parent = widenOptional(inbox.parentInstanceId);
      disk.instanceId = widenOptional(inbox.instanceId);
      disk.driverDesc = widen(kDiskDriverDesc);
      if (inbox.hardwareIds) {
        std::vector<std::wstring> ids;
        for (const std::string& id : *inbox.hardwareIds) {
          ids.push_back(widen(id));
        }
        disk.hardwareIds = std::move(ids);
      }
      disk.diskNumber = inbox.deviceNumber;
    }
    if (config_.intelController) {
      addIntel(*config_.intelController);
    }
    orderAsListed();
    return std::move(nodes_);
  }

 private:
  // The place the file gives a device among the devices of its class.
  std::optional<std::uint32_t> listIndexOf(const DeviceNode& node) const {
    switch (node.role) {
      case DeviceRole::OtherController:
        return config_.otherControllers[node.configIndex].listIndex;
      case DeviceRole::InboxController:
        return config_.inbox[node.configIndex].controllerListIndex;
      case DeviceRole::InboxDisk:
        return config_.inbox[node.configIndex].listIndex;
      case DeviceRole::IntelController:
        return config_.intelController->listIndex;
      case DeviceRole::RaidVolumeDisk:
        return config_.intelController->raidVolumes[node.configIndex].listIndex;
      case DeviceRole::PassThroughDisk:
        return config_.intelController->passThrough[node.configIndex].listIndex;
    }
    return std::nullopt;
  }

  // Within each interface class, the devices with a list index come first in
  // ascending index, then the others in build order; each class keeps the
  // places it had in the build order, so the all-classes set interleaves the
  // classes as before. Instance handles then number the devices in that
  // order.
  void orderAsListed() {
    std::vector<std::size_t> order(nodes_.size());
    std::vector<bool> placed(nodes_.size(), false);
    for (std::size_t first = 0; first < nodes_.size(); ++first) {
      if (placed[first]) {
        continue;
      }
      std::vector<std::size_t> places;
      for (std::size_t i = first; i < nodes_.size(); ++i) {
        if (nodes_[i].interfaceClass == nodes_[first].interfaceClass) {
          places.push_back(i);
          placed[i] = true;
        }
      }
      std::vector<std::size_t> members = places;
      std::stable_sort(members.begin(), members.end(), [&](std::size_t a, std::size_t b) {
        const std::optional<std::uint32_t> ia = listIndexOf(nodes_[a]);
        const std::optional<std::uint32_t> ib = listIndexOf(nodes_[b]);
        return ia && (!ib || *ia < *ib);
      });
      for (std::size_t k = 0; k < places.size(); ++k) {
        order[places[k]] = members[k];
      }
    }
    std::vector<DeviceNode> ordered;
    ordered.reserve(nodes_.size());
    for (const std::size_t from : order) {
      ordered.push_back(std::move(nodes_[from]));
      ordered.back().devInst = kFirstDevInst + static_cast<std::uint32_t>(ordered.size() - 1);
    }
    nodes_ = std::move(ordered);
  }

  DeviceNode& add(DeviceRole role, std::size_t configIndex, const Guid& setupClass,
                  const Guid& interfaceClass, const std::string& interfacePath) {
    DeviceNode node;
    node.role = role;
    node.configIndex = configIndex;
    node.devInst = kFirstDevInst + static_cast<std::uint32_t>(nodes_.size());
    node.setupClass = setupClass;
    node.interfaceClass = interfaceClass;
    node.interfacePath = widen(interfacePath);
    nodes_.push_back(std::move(node));
    return nodes_.back();
  }

  static void setPciController(DeviceNode& node, const std::string& instanceId) {
    node.parent = std::wstring(kPciRootInstanceId);
    node.instanceId = widen(instanceId);
    node.hardwareIds = pciHardwareIds(instanceId);
  }

  const DriveConfig* findDrive(const std::string& id) {
    if (drivesById_.empty()) {
      for (const DriveConfig& drive : config_.drives) {
        drivesById_.emplace(drive.id, &drive);  // the first of equal ids
      }
    }
    const auto it = drivesById_.find(id);
    return it == drivesById_.end() ? nullptr : it->second;
  }

  void addIntel(const IntelControllerConfig& intel) {
    DeviceNode& controller = add(DeviceRole::IntelController, 0, kGuidDevClassScsiAdapter,
                                 kGuidDevInterfaceStoragePort, intel.interfacePath);
    setPciController(controller, intel.instanceId);
    if (!intel.instanceIdReadable) {
      controller.instanceId.reset();
    }
    controller.driverDesc = widenOptional(intel.driverDesc);
    const std::wstring controllerId = widen(intel.instanceId);

    for (std::size_t i = 0; i < intel.raidVolumes.size(); ++i) {
      const RaidVolumeConfig& volume = intel.raidVolumes[i];
      DeviceNode& disk = add(DeviceRole::RaidVolumeDisk, i, kGuidDevClassDiskDrive,
                             kGuidDevInterfaceDisk, volume.interfacePath);
      disk.parent = controllerId;
      disk.instanceId = widenOptional(volume.instanceId);
      disk.driverDesc = widen(kDiskDriverDesc);
      disk.hardwareIds =
          scsiDiskHardwareIds(kRaidVolumeVendor, kRaidVolumeProduct, kRaidVolumeRevision);
      disk.diskNumber = volume.deviceNumber;
    }
    for (std::size_t i = 0; i < intel.passThrough.size(); ++i) {
      const PassThroughConfig& pass = intel.passThrough[i];
      DeviceNode& disk = add(DeviceRole::PassThroughDisk, i, kGuidDevClassDiskDrive,
                             kGuidDevInterfaceDisk, pass.interfacePath);
      disk.parent = controllerId;
      disk.instanceId = widenOptional(pass.instanceId);
      disk.driverDesc = widen(kDiskDriverDesc);
      disk.locationInfo = widenOptional(pass.locationInfo);
      const DriveConfig* drive = findDrive(pass.drive);
      if (drive == nullptr) {
        throw std::invalid_argument("pass-through disk of unknown drive \"" + pass.drive + "\"");
      }
      // The Intel driver passes the NVMe identity through as a SCSI one:
      // vendor "NVMe", the first 16 MN bytes and the first 4 FR bytes.
      disk.hardwareIds =
          scsiDiskHardwareIds(kNvmeDiskVendor, byteText(drive->model, kScsiProductWidth),
                              byteText(drive->firmware, kScsiRevisionWidth));
      disk.diskNumber = pass.deviceNumber;
    }
  }

  const MachineConfig& config_;
  std::vector<DeviceNode> nodes_;
  std::unordered_map<std::string, const DriveConfig*> drivesById_;
};

}  // namespace

const std::optional<std::wstring>* DeviceNode::stringProperty(const PropertyKey& key) const {
  if (key == kDevPKeyParent) {
    return &parent;
  }
  if (key == kDevPKeyInstanceId) {
    return &instanceId;
  }
  if (key == kDevPKeyDriverDesc) {
    return &driverDesc;
  }
  if (key == kDevPKeyLocationInfo) {
    return &locationInfo;
  }
  return nullptr;
}

std::vector<DeviceNode> buildDeviceTree(const MachineConfig& config) {
  return TreeBuilder(config).build();
}

std::wstring widen(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (char c : bytes) {
    out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return out;
}

bool equalsIgnoreAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) {
    return false;
  }
  const auto fold = [](wchar_t c) { return (c >= L'a' && c <= L'z') ? c - (L'a' - L'A') : c; };
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (fold(a[i]) != fold(b[i])) {
      return false;
    }
  }
  return true;
}

std::wstring foldAsciiCase(std::wstring_view text) {
  std::wstring out(text);
  for (wchar_t& c : out) {
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - (L'a' - L'A'));
    }
  }
  return out;
}

std::vector<std::uint8_t> encodeDevPropString(std::wstring_view text) {
  std::vector<std::uint8_t> bytes((text.size() + 1) * sizeof(wchar_t), 0);
  if (!text.empty()) {
    std::memcpy(bytes.data(), text.data(), text.size() * sizeof(wchar_t));
  }
  return bytes;
}

std::vector<std::uint8_t> encodeMultiSz(const std::vector<std::wstring>& strings) {
  std::vector<std::uint8_t> bytes;
  for (const std::wstring& s : strings) {
    const std::vector<std::uint8_t> one = encodeDevPropString(s);
    bytes.insert(bytes.end(), one.begin(), one.end());
  }
  bytes.insert(bytes.end(), sizeof(wchar_t), 0);
  return bytes;
}

std::vector<std::wstring> scsiDiskHardwareIds(std::string_view vendor, std::string_view product,
                                              std::string_view revision) {
  const std::string v = scsiField(vendor, kScsiVendorWidth);
  const std::string p = scsiField(product, kScsiProductWidth);
  const std::string r = scsiField(revision, kScsiRevisionWidth);
  return {
      widen("SCSI\\Disk" + v + p + r), widen("SCSI\\Disk" + v + p),
      widen("SCSI\\Disk" + v),         widen("SCSI\\" + v + p + r.substr(0, 1)),
      widen(v + p + r.substr(0, 1)),   widen("GenDisk"),
  };
}

std::vector<std::wstring> pciHardwareIds(std::string_view instanceId) {
  // The device identifier is the instance identifier without its last
  // (instance-specific) component.
  std::string_view deviceId = instanceId;
  const std::size_t first = instanceId.find('\\');
  const std::size_t last = instanceId.rfind('\\');
  if (first != std::string_view::npos && last != first) {
    deviceId = instanceId.substr(0, last);
  }
  std::vector<std::wstring> ids{widen(deviceId)};
  // Shorter forms drop one "&FIELD" at a time, down to "PCI\VEN_x&DEV_y".
  const std::size_t enumEnd = deviceId.find('\\');
  std::string_view rest = deviceId;
  for (;;) {
    const std::size_t amp = rest.rfind('&');
    if (amp == std::string_view::npos || enumEnd == std::string_view::npos || amp <= enumEnd ||
        rest.find('&', enumEnd) == amp) {
      break;
    }
    rest = rest.substr(0, amp);
    ids.push_back(widen(rest));
  }
  return ids;
}

}  // namespace zevsim
