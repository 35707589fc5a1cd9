// The SetupAPI calls of the simulated machine: device-information sets over
// the device tree, device and interface enumeration, interface details and
// device properties, with SetupAPI's record checks (cbSize), its
// required-size protocol (ERROR_INSUFFICIENT_BUFFER with the size needed) and
// its errors for absent values. A successful call sets the last error to
// ERROR_SUCCESS, as SetupAPI does: callers that loop while the last error is
// ERROR_INSUFFICIENT_BUFFER rely on it.
#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include "machine_state.hpp"
#include "zevsim/machine.hpp"

namespace zevsim {
namespace {

bool hasFlag(std::uint32_t flags, std::uint32_t flag) {
  return (flags & flag) != 0;
}

// A device that one SP_DEVINFO_DATA names within its set.
struct SetDevice {
  std::size_t position = 0;  // index in the set
  const DeviceNode* node = nullptr;
};

std::optional<SetDevice> deviceOfElement(const MachineState& state, const DeviceSetState& set,
                                         std::uintptr_t reserved, std::uintptr_t kind) {
  if (reserved < set.elementBase + kind) {
    return std::nullopt;
  }
  const std::uintptr_t position = reserved - set.elementBase - kind;
  if (position >= set.devices.size()) {
    return std::nullopt;
  }
  return SetDevice{position, &state.devices[set.devices[position]]};
}

void fillDeviceInfo(const DeviceSetState& set, std::size_t position, const DeviceNode& node,
                    DeviceInfoData& out) {
  out.classGuid = node.setupClass;
  out.devInst = node.devInst;
  out.reserved = set.elementBase + kDeviceElement + position;
}

// Indexes the set's interfaces: member i of a class is the i-th device of the
// set that has that class.
void indexInterfaces(const MachineState& state, DeviceSetState& set) {
  set.interfaceMemberIndex.reserve(set.devices.size());
  for (std::size_t position = 0; position < set.devices.size(); ++position) {
    const Guid& interfaceClass = state.devices[set.devices[position]].interfaceClass;
    auto members = std::find_if(set.interfaceMembers.begin(), set.interfaceMembers.end(),
                                [&](const auto& entry) { return entry.first == interfaceClass; });
    if (members == set.interfaceMembers.end()) {
      set.interfaceMembers.push_back({interfaceClass, {}});
      members = std::prev(set.interfaceMembers.end());
    }
    set.interfaceMemberIndex.push_back(static_cast<std::uint32_t>(members->second.size()));
    members->second.push_back(position);
  }
}

// The set positions of the devices with this interface class, in set order.
const std::vector<std::size_t>* interfaceMembers(const DeviceSetState& set, const Guid& guid) {
  for (const auto& [interfaceClass, positions] : set.interfaceMembers) {
    if (interfaceClass == guid) {
      return &positions;
    }
  }
  return nullptr;
}

// The checks SetupDiGetDeviceProperty(W) and SetupDiGetDeviceRegistryProperty
// share: a valid set and an SP_DEVINFO_DATA of that set.
struct PropertyTarget {
  const DeviceSetState* set = nullptr;
  SetDevice device;
};

std::optional<PropertyTarget> resolveDevice(MachineState& state, SimHandle setHandle,
                                            const DeviceInfoData& deviceInfo,
                                            std::uint32_t& error) {
  const auto it = state.sets.find(setHandle);
  if (it == state.sets.end()) {
    error = kErrorInvalidHandle;
    return std::nullopt;
  }
  if (deviceInfo.cbSize != kSpDevInfoDataSize) {
    error = kErrorInvalidUserBuffer;
    return std::nullopt;
  }
  const std::optional<SetDevice> device =
      deviceOfElement(state, it->second, deviceInfo.reserved, kDeviceElement);
  if (!device) {
    error = kErrorInvalidParameter;
    return std::nullopt;
  }
  return PropertyTarget{&it->second, *device};
}

}  // namespace

SimHandle Machine::getClassDevs(const Guid* classGuid, std::uint32_t flags) {
  MachineState& s = *state_;
  CallRecord record;
  record.kind = CallKind::GetClassDevs;
  record.setFlags = flags;
  if (const auto error = s.injectedFailure({CallKind::GetClassDevs})) {
    s.fail(record, *error);
    return kInvalidSimHandle;
  }
  const bool allClasses = hasFlag(flags, kDigcfAllClasses);
  if (!allClasses && classGuid == nullptr) {
    s.fail(record, kErrorInvalidParameter);
    return kInvalidSimHandle;
  }
  // Every simulated device is present, so DIGCF_PRESENT selects them all.
  // Without DIGCF_DEVICEINTERFACE the GUID names a setup class.
  DeviceSetState set;
  set.elementBase = s.newElementBase();
  for (std::size_t i = 0; i < s.devices.size(); ++i) {
    const DeviceNode& node = s.devices[i];
    const bool member =
        allClasses || (hasFlag(flags, kDigcfDeviceInterface) ? node.interfaceClass == *classGuid
                                                             : node.setupClass == *classGuid);
    if (member) {
      set.devices.push_back(i);
    }
  }
  indexInterfaces(s, set);
  const SimHandle handle = s.newHandle();
  s.sets.emplace(handle, std::move(set));
  s.succeed(record);
  return handle;
}

bool Machine::enumDeviceInfo(SimHandle setHandle, std::uint32_t memberIndex, DeviceInfoData& out) {
  MachineState& s = *state_;
  CallRecord record;
  record.kind = CallKind::EnumDeviceInfo;
  record.index = memberIndex;
  const auto it = s.sets.find(setHandle);
  if (it == s.sets.end()) {
    return s.fail(record, kErrorInvalidHandle);
  }
  if (out.cbSize != kSpDevInfoDataSize) {
    return s.fail(record, kErrorInvalidUserBuffer);
  }
  const DeviceSetState& set = it->second;
  const DeviceNode* node =
      memberIndex < set.devices.size() ? &s.devices[set.devices[memberIndex]] : nullptr;
  if (node != nullptr) {
    record.path = node->interfacePath;
  }
  CallSubject subject{CallKind::EnumDeviceInfo};
  subject.path = node != nullptr ? &node->interfacePath : nullptr;
  subject.deviceIndex = memberIndex;
  if (const auto error = s.injectedFailure(subject)) {
    return s.fail(record, *error);
  }
  if (node == nullptr) {
    return s.fail(record, kErrorNoMoreItems);
  }
  fillDeviceInfo(set, memberIndex, *node, out);
  return s.succeed(record);
}

bool Machine::enumDeviceInterfaces(SimHandle setHandle, const DeviceInfoData* deviceInfo,
                                   const Guid& guid, std::uint32_t memberIndex,
                                   DeviceInterfaceData& out) {
  MachineState& s = *state_;
  CallRecord record;
  record.kind = CallKind::EnumDeviceInterfaces;
  record.index = memberIndex;
  const auto it = s.sets.find(setHandle);
  if (it == s.sets.end()) {
    return s.fail(record, kErrorInvalidHandle);
  }
  const DeviceSetState& set = it->second;
  if (out.cbSize != kSpDeviceInterfaceDataSize) {
    return s.fail(record, kErrorInvalidUserBuffer);
  }
  // With a device filter the member index counts that device's interfaces
  // of the class (every simulated device has one); without, the interfaces
  // of the class across the set.
  std::optional<std::size_t> found;
  if (deviceInfo != nullptr) {
    if (deviceInfo->cbSize != kSpDevInfoDataSize) {
      return s.fail(record, kErrorInvalidUserBuffer);
    }
    const std::optional<SetDevice> device =
        deviceOfElement(s, set, deviceInfo->reserved, kDeviceElement);
    if (!device) {
      return s.fail(record, kErrorInvalidParameter);
    }
    if (memberIndex == 0 && device->node->interfaceClass == guid) {
      found = device->position;
    }
  } else if (const std::vector<std::size_t>* positions = interfaceMembers(set, guid)) {
    if (memberIndex < positions->size()) {
      found = (*positions)[memberIndex];
    }
  }
  const DeviceNode* node = found ? &s.devices[set.devices[*found]] : nullptr;
  if (node != nullptr) {
    record.path = node->interfacePath;
  }
  CallSubject subject{CallKind::EnumDeviceInterfaces};
  subject.path = node != nullptr ? &node->interfacePath : nullptr;
  subject.deviceIndex = memberIndex;
  if (const auto error = s.injectedFailure(subject)) {
    return s.fail(record, *error);
  }
  if (node == nullptr) {
    return s.fail(record, kErrorNoMoreItems);
  }
  out.interfaceClassGuid = node->interfaceClass;
  out.flags = kSpintActive;
  out.reserved = set.elementBase + kInterfaceElement + *found;
  return s.succeed(record);
}

bool Machine::getDeviceInterfaceDetail(SimHandle setHandle,
                                       const DeviceInterfaceData& interfaceData,
                                       std::uint8_t* detail, std::uint32_t detailSize,
                                       std::uint32_t* requiredSize, DeviceInfoData* deviceInfo) {
  MachineState& s = *state_;
  CallRecord record;
  record.kind = CallKind::GetInterfaceDetail;
  record.outSize = detailSize;
  const auto it = s.sets.find(setHandle);
  if (it == s.sets.end()) {
    return s.fail(record, kErrorInvalidHandle);
  }
  const DeviceSetState& set = it->second;
  if (interfaceData.cbSize != kSpDeviceInterfaceDataSize) {
    return s.fail(record, kErrorInvalidUserBuffer);
  }
  const std::optional<SetDevice> device =
      deviceOfElement(s, set, interfaceData.reserved, kInterfaceElement);
  if (!device) {
    return s.fail(record, kErrorInvalidParameter);
  }
  const DeviceNode& node = *device->node;
  record.path = node.interfacePath;
  record.index = set.interfaceMemberIndex[device->position];

  if (detail == nullptr && detailSize != 0) {
    return s.fail(record, kErrorInvalidUserBuffer);
  }
  if (detail != nullptr) {
    std::uint32_t cbSize = 0;
    if (detailSize < kDetailPathOffset) {
      return s.fail(record, kErrorInvalidUserBuffer);
    }
    std::memcpy(&cbSize, detail + kDetailCbSizeOffset, sizeof(cbSize));
    if (cbSize != kSpDeviceInterfaceDetailDataSize) {
      return s.fail(record, kErrorInvalidUserBuffer);
    }
  }
  if (deviceInfo != nullptr && deviceInfo->cbSize != kSpDevInfoDataSize) {
    return s.fail(record, kErrorInvalidUserBuffer);
  }
  CallSubject subject{CallKind::GetInterfaceDetail};
  subject.path = &node.interfacePath;
  subject.deviceIndex = record.index;
  const std::optional<std::uint32_t> error = s.injectedFailure(subject);
  if (error && *error != kErrorSuccess) {
    return s.fail(record, *error);
  }

  const std::vector<std::uint8_t> path = encodeDevPropString(node.interfacePath);
  const auto needed = static_cast<std::uint32_t>(kDetailPathOffset + path.size());
  if (requiredSize != nullptr) {
    *requiredSize = needed;
  }
  // An injected success: a sizing call that succeeds and reports the size.
  if (error && detail == nullptr) {
    return s.succeed(record);
  }
  if (detail == nullptr || detailSize < needed) {
    return s.fail(record, kErrorInsufficientBuffer);
  }
  std::memcpy(detail + kDetailPathOffset, path.data(), path.size());
  if (deviceInfo != nullptr) {
    fillDeviceInfo(set, device->position, node, *deviceInfo);
  }
  return s.succeed(record);
}

bool Machine::getDeviceProperty(SimHandle setHandle, const DeviceInfoData& deviceInfo,
                                const PropertyKey& key, std::uint32_t* propertyType,
                                std::uint8_t* buffer, std::uint32_t bufferSize,
                                std::uint32_t* requiredSize) {
  MachineState& s = *state_;
  CallRecord record;
  record.kind = CallKind::GetDeviceProperty;
  record.propertyKey = key;
  record.outSize = bufferSize;
  std::uint32_t error = 0;
  const std::optional<PropertyTarget> target = resolveDevice(s, setHandle, deviceInfo, error);
  if (!target) {
    return s.fail(record, error);
  }
  const DeviceNode& node = *target->device.node;
  record.path = node.interfacePath;
  record.index = static_cast<std::uint32_t>(target->device.position);
  if (propertyType == nullptr || (buffer == nullptr && bufferSize != 0)) {
    return s.fail(record, kErrorInvalidUserBuffer);
  }
  CallSubject subject{CallKind::GetDeviceProperty};
  subject.path = &node.interfacePath;
  subject.propertyKey = &key;
  subject.deviceIndex = record.index;
  if (const auto failure = s.injectedFailure(subject)) {
    return s.fail(record, *failure);
  }

  const std::optional<std::wstring>* value = node.stringProperty(key);
  if (value == nullptr || !value->has_value()) {
    *propertyType = kDevPropTypeEmpty;
    if (requiredSize != nullptr) {
      *requiredSize = 0;
    }
    return s.fail(record, kErrorNotFound);
  }
  const std::vector<std::uint8_t> bytes = encodeDevPropString(**value);
  *propertyType = kDevPropTypeString;
  if (requiredSize != nullptr) {
    *requiredSize = static_cast<std::uint32_t>(bytes.size());
  }
  if (buffer == nullptr || bufferSize < bytes.size()) {
    return s.fail(record, kErrorInsufficientBuffer);
  }
  std::memcpy(buffer, bytes.data(), bytes.size());
  return s.succeed(record);
}

bool Machine::getDeviceRegistryProperty(SimHandle setHandle, const DeviceInfoData& deviceInfo,
                                        std::uint32_t property, std::uint32_t* dataType,
                                        std::uint8_t* buffer, std::uint32_t bufferSize,
                                        std::uint32_t* requiredSize) {
  MachineState& s = *state_;
  CallRecord record;
  record.kind = CallKind::GetRegistryProperty;
  record.registryProperty = property;
  record.outSize = bufferSize;
  std::uint32_t error = 0;
  const std::optional<PropertyTarget> target = resolveDevice(s, setHandle, deviceInfo, error);
  if (!target) {
    return s.fail(record, error);
  }
  const DeviceNode& node = *target->device.node;
  record.path = node.interfacePath;
  record.index = static_cast<std::uint32_t>(target->device.position);
  if (buffer == nullptr && bufferSize != 0) {
    return s.fail(record, kErrorInvalidParameter);
  }
  if (property >= kSpdrpMaximumProperty) {
    return s.fail(record, kErrorInvalidRegProperty);
  }
  CallSubject subject{CallKind::GetRegistryProperty};
  subject.path = &node.interfacePath;
  subject.deviceIndex = record.index;
  if (const auto failure = s.injectedFailure(subject)) {
    return s.fail(record, *failure);
  }

  // SPDRP_HARDWAREID is the one registry property the simulated devices
  // carry; any other reads as a value the device does not have.
  if (property != kSpdrpHardwareId || !node.hardwareIds) {
    return s.fail(record, kErrorInvalidData);
  }
  const std::vector<std::uint8_t> bytes = encodeMultiSz(*node.hardwareIds);
  if (dataType != nullptr) {
    *dataType = kRegMultiSz;
  }
  if (requiredSize != nullptr) {
    *requiredSize = static_cast<std::uint32_t>(bytes.size());
  }
  if (buffer == nullptr || bufferSize < bytes.size()) {
    return s.fail(record, kErrorInsufficientBuffer);
  }
  std::memcpy(buffer, bytes.data(), bytes.size());
  return s.succeed(record);
}

namespace {

bool destroyRecorded(MachineState& s, SimHandle setHandle) {
  CallRecord record;
  record.kind = CallKind::DestroyDeviceInfoList;
  const auto it = s.sets.find(setHandle);
  if (it == s.sets.end()) {
    return s.fail(record, kErrorInvalidHandle);
  }
  if (const auto error = s.injectedFailure({CallKind::DestroyDeviceInfoList})) {
    return s.fail(record, *error);
  }
  s.sets.erase(it);
  return s.succeed(record);
}

}  // namespace

// Called from the package's destructors, as CloseHandle is: see closeHandle.
bool Machine::destroyDeviceInfoList(SimHandle setHandle) {
  MachineState& s = *state_;
  try {
    return destroyRecorded(s, setHandle);
  } catch (const std::bad_alloc&) {
    s.sets.erase(setHandle);
    s.outOfMemory = true;
    return true;
  }
}

}  // namespace zevsim
