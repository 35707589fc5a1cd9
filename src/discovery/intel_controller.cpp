// Intel RAID controller detection and the disks behind it. The controller is
// the first storage port whose interface path names Intel's PCI vendor and
// whose driver description names an Intel RST or RAID controller; every disk
// whose parent is an Intel device then becomes a candidate addressed through
// that controller's path: RAID volume disks as IrstRaid, the others as
// IrstNonRaid with the bus number of their location text as path id.
#include "discovery/intel_controller.hpp"

#include <cstring>
#include <limits>
#include <new>
#include <string_view>
#include <vector>

#include "discovery/device_property.hpp"
#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"

namespace zev {

namespace {

// DIGCF_PRESENT | DIGCF_DEVICEINTERFACE: the controller and disk sets.
constexpr std::uint32_t kInterfaceSetFlags =
    platform::kDigcfPresent | platform::kDigcfDeviceInterface;
// DIGCF_PRESENT | DIGCF_ALLCLASSES: the set searched for a disk's location.
constexpr std::uint32_t kAllDevicesSetFlags = platform::kDigcfPresent | platform::kDigcfAllClasses;

// Attempts of the growing detail protocol before a device is given up; the
// platform reports the final size on its first answer.
constexpr int kDetailAttempts = 8;

bool contains(std::wstring_view text, std::wstring_view part) {
  return text.find(part) != std::wstring_view::npos;
}

std::wstring upperCasedAscii(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - L'a' + L'A');
    }
  }
  return text;
}

// The device path of an SP_DEVICE_INTERFACE_DETAIL_DATA_W buffer: wchar_t
// from byte 4 up to the terminator, never past the buffer's end.
std::wstring detailPath(const std::vector<std::uint8_t>& detail) {
  std::wstring path;
  for (std::size_t at = platform::kInterfaceDetailPathOffset; at + sizeof(wchar_t) <= detail.size();
       at += sizeof(wchar_t)) {
    wchar_t c = 0;
    std::memcpy(&c, detail.data() + at, sizeof c);
    if (c == 0) {
      break;
    }
    path.push_back(c);
  }
  return path;
}

// A zero-filled detail buffer of size bytes with its cbSize set; empty when
// it cannot be had.
std::vector<std::uint8_t> detailBuffer(std::uint32_t size) {
  std::vector<std::uint8_t> detail;
  try {
    detail.assign(size, 0);
  } catch (const std::bad_alloc&) {
    return {};
  }
  if (detail.size() >= 4) {
    std::memcpy(detail.data(), &platform::kInterfaceDetailCbSize,
                sizeof platform::kInterfaceDetailCbSize);
  }
  return detail;
}

// The controller's interface detail: one sizing call, then one call with a
// buffer of exactly the reported size. Empty when either call fails (other
// than the sizing call's ERROR_INSUFFICIENT_BUFFER) or the size is 0.
std::vector<std::uint8_t> controllerDetail(platform::DeviceSet set,
                                           const platform::DeviceInterfaceData& interfaceData,
                                           platform::DeviceInfoData& device) {
  std::uint32_t required = 0;
  const bool sized =
      platform::getDeviceInterfaceDetail(set, interfaceData, nullptr, 0, &required, nullptr);
  const std::uint32_t error = platform::getLastError();
  if (required == 0 || (!sized && error != platform::kErrorInsufficientBuffer)) {
    return {};
  }
  std::vector<std::uint8_t> detail = detailBuffer(required);
  if (detail.empty()) {
    return {};
  }
  device.cbSize = platform::kDeviceInfoDataCbSize;
  if (!platform::getDeviceInterfaceDetail(set, interfaceData, detail.data(), required, nullptr,
                                          &device)) {
    return {};
  }
  return detail;
}

// A disk's interface detail by the growing protocol: ask without a buffer,
// then with a buffer of the reported size while the platform asks for more.
// Empty when the first call succeeds (no detail) or no call with a buffer
// succeeds.
std::vector<std::uint8_t> diskDetail(platform::DeviceSet set,
                                     const platform::DeviceInterfaceData& interfaceData,
                                     platform::DeviceInfoData& device) {
  std::uint32_t required = 0;
  if (platform::getDeviceInterfaceDetail(set, interfaceData, nullptr, 0, &required, nullptr)) {
    return {};
  }
  std::uint32_t error = platform::getLastError();
  for (int attempt = 0; attempt < kDetailAttempts && error == platform::kErrorInsufficientBuffer;
       ++attempt) {
    std::vector<std::uint8_t> detail = detailBuffer(required);
    if (detail.empty()) {
      return {};
    }
    device.cbSize = platform::kDeviceInfoDataCbSize;
    if (platform::getDeviceInterfaceDetail(set, interfaceData, detail.data(), required, &required,
                                           &device)) {
      return detail;
    }
    error = platform::getLastError();
  }
  return {};
}

// The text the controller test looks at: the driver description, or the
// instance identifier when no description could be read.
bool readControllerText(platform::DeviceSet set, const platform::DeviceInfoData& device,
                        std::wstring& text) {
  std::wstring instanceId;
  const bool haveInstanceId =
      readDeviceStringProperty(set, device, platform::kDevpkeyDeviceInstanceId, instanceId);
  if (readDeviceStringProperty(set, device, platform::kDevpkeyDeviceDriverDesc, text)) {
    return true;
  }
  text = instanceId;
  return haveInstanceId;
}

bool isIntelRaidControllerText(std::wstring_view text) {
  return contains(text, L"Intel") && contains(text, L"Controller") &&
         (contains(text, L"RST") || contains(text, L"RAID"));
}

}  // namespace

std::int32_t busNumberFromLocation(std::wstring_view location) {
  if (!contains(location, L"Bus Number ")) {
    return -1;
  }
  const std::wstring_view field = location.substr(0, location.find(L','));
  const std::size_t firstSpace = field.find(L' ');
  if (firstSpace == std::wstring_view::npos) {
    return -1;
  }
  const std::size_t nextSpace = field.find(L' ', firstSpace + 1);
  if (nextSpace == std::wstring_view::npos) {
    return -1;
  }
  // A decimal integer as the C runtime reads one: blanks skipped, an optional
  // sign, digits; 0 when no digit follows. Out-of-range values saturate as a
  // 32-bit long does.
  std::size_t at = nextSpace;
  while (at < field.size() && (field[at] == L' ' || (field[at] >= L'\t' && field[at] <= L'\r'))) {
    ++at;
  }
  bool negative = false;
  if (at < field.size() && (field[at] == L'+' || field[at] == L'-')) {
    negative = field[at] == L'-';
    ++at;
  }
  std::int64_t value = 0;
  constexpr std::int64_t kLimit = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
  for (; at < field.size() && field[at] >= L'0' && field[at] <= L'9'; ++at) {
    value = value * 10 + (field[at] - L'0');
    if (value > kLimit) {
      value = kLimit;
    }
  }
  if (negative) {
    return static_cast<std::int32_t>(-value);
  }
  return static_cast<std::int32_t>(value >= kLimit ? kLimit - 1 : value);
}

bool findIntelRaidController(RaidControllerInfo& controller) {
  const DeviceSetGuard set(
      platform::getClassDevs(platform::kGuidDevinterfaceStoragePort, kInterfaceSetFlags));
  if (!set.valid()) {
    return false;
  }
  for (std::uint32_t i = 0;; ++i) {
    platform::DeviceInfoData listed;
    listed.cbSize = platform::kDeviceInfoDataCbSize;
    if (!platform::enumDeviceInfo(set.get(), i, listed)) {
      return false;
    }
    platform::DeviceInterfaceData interfaceData;
    interfaceData.cbSize = platform::kDeviceInterfaceDataCbSize;
    if (!platform::enumDeviceInterfaces(set.get(), nullptr, platform::kGuidDevinterfaceStoragePort,
                                        i, interfaceData)) {
      continue;
    }
    platform::DeviceInfoData device;
    const std::vector<std::uint8_t> detail = controllerDetail(set.get(), interfaceData, device);
    if (detail.empty()) {
      return false;  // one unreadable interface ends the detection
    }
    const std::wstring path = detailPath(detail);
    if (!contains(upperCasedAscii(path), L"VEN_8086")) {
      continue;
    }
    std::wstring text;
    if (!readControllerText(set.get(), device, text) || !isIntelRaidControllerText(text)) {
      continue;
    }

    // The first matching controller decides; it must open.
    const OpenOutcome opened =
        openDevice(path, platform::kFileShareReadWrite,
                   platform::kFileFlagOverlapped | platform::kFileAttributeNormal);
    if (!opened.ok()) {
      return false;
    }
    const DeviceHandle handle(opened.handle);  // proves only that it opens
    controller.found = true;
    controller.controllerPath = path;
    std::wstring instanceId;
    if (!readDeviceStringProperty(set.get(), device, platform::kDevpkeyDeviceInstanceId,
                                  instanceId)) {
      return false;
    }
    controller.instanceId = instanceId;
    return true;
  }
}

int enumerateIntelControllerDisks(const RaidControllerInfo& controller, DiskList& candidates) {
  const DeviceSetGuard set(
      platform::getClassDevs(platform::kGuidDevinterfaceDisk, kInterfaceSetFlags));
  if (!set.valid()) {
    return 0;
  }
  for (std::uint32_t i = 0;; ++i) {
    platform::DeviceInfoData listed;
    listed.cbSize = platform::kDeviceInfoDataCbSize;
    if (!platform::enumDeviceInfo(set.get(), i, listed)) {
      return 1;
    }
    std::wstring parentId;
    if (!readParentInstanceId(set.get(), listed, parentId)) {
      parentId.clear();
    }
    if (!contains(parentId, L"VEN_8086")) {
      continue;
    }
    std::wstring instanceId;
    if (!readInstanceId(set.get(), listed, instanceId)) {
      continue;
    }

    if (contains(instanceId, L"VEN_INTEL") && contains(instanceId, L"PROD_RAID")) {
      // A RAID volume disk: its members are found later through CSMI on the
      // controller; nothing is sent to the volume disk itself.
      DiskInfo volume;
      volume.devicePath = controller.controllerPath;
      volume.pathId = -1;
      volume.driverKind = DriverKind::IrstRaid;
      candidates.push_back(volume);
      continue;
    }

    platform::DeviceInterfaceData interfaceData;
    interfaceData.cbSize = platform::kDeviceInterfaceDataCbSize;
    if (!platform::enumDeviceInterfaces(set.get(), nullptr, platform::kGuidDevinterfaceDisk, i,
                                        interfaceData)) {
      continue;
    }
    platform::DeviceInfoData device;
    const std::vector<std::uint8_t> detail = diskDetail(set.get(), interfaceData, device);
    if (detail.empty()) {
      continue;
    }
    const OpenOutcome opened = openDevice(detailPath(detail), platform::kFileShareReadWrite, 0);
    if (!opened.ok()) {
      return 0;  // candidates appended so far stay
    }
    const DeviceHandle handle(opened.handle);  // proves only that the disk opens

    DiskInfo disk;
    disk.devicePath = controller.controllerPath;
    disk.pathId = readDiskBusNumber(device.devInst);
    disk.driverKind = DriverKind::IrstNonRaid;
    candidates.push_back(disk);
  }
}

std::int32_t readDiskBusNumber(std::uint32_t devInst) {
  const DeviceSetGuard set(
      platform::getClassDevs(platform::kGuidDevinterfaceDisk, kAllDevicesSetFlags));
  if (!set.valid()) {
    return -1;
  }
  for (std::uint32_t i = 0;; ++i) {
    platform::DeviceInfoData device;
    device.cbSize = platform::kDeviceInfoDataCbSize;
    if (!platform::enumDeviceInfo(set.get(), i, device)) {
      return -1;
    }
    if (device.devInst != devInst) {
      continue;
    }
    std::wstring location;
    if (!readDeviceStringProperty(set.get(), device, platform::kDevpkeyDeviceLocationInfo,
                                  location)) {
      return -1;
    }
    return busNumberFromLocation(location);
  }
}

}  // namespace zev
