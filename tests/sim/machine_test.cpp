// The simulated machine's Win32 surface: device sets and their protocols,
// the path namespace, device requests, handle accounting, call records and
// injected faults.
#include "zevsim/machine.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <set>
#include <stdexcept>

#include "machine_state.hpp"
#include "sim/sample_machine.hpp"

namespace zevsim {
namespace {

constexpr std::uint32_t kPresentInterfaces = 0x12;  // DIGCF_PRESENT | DIGCF_DEVICEINTERFACE
constexpr std::uint32_t kPresentAllClasses = 0x06;  // DIGCF_PRESENT | DIGCF_ALLCLASSES
constexpr std::uint32_t kGenericReadWrite = 0xC0000000;
constexpr std::uint32_t kOpenExisting = 3;
constexpr std::uint32_t kIoctlStorageGetDeviceNumber = 0x002D1080;

using test::inboxDisk;

// One other controller, two inbox disks (the second with its optional
// properties absent), an IRST controller with a RAID volume and a
// pass-through disk.
MachineConfig sampleMachine() {
  MachineConfig c;
  for (const char* id : {"boot", "data", "m1", "m2", "pt"}) {
    c.drives.push_back(test::sampleDrive(id));
  }
  c.otherControllers = {
      {"PCI\\VEN_1022&DEV_7901&SUBSYS_00000000&REV_51\\3&2411E6FE&1&91",
       "Standard SATA AHCI Controller",
       "\\\\?\\pci#ven_1022&dev_7901#3&2411e6fe&1&91#{2accfe60-c130-11d2-b082-00a0c91efb8b}"}};
  c.inbox = {inboxDisk("boot", 0), inboxDisk("data", 4)};
  c.inbox[1].parentInstanceId.reset();
  c.inbox[1].hardwareIds.reset();
  c.inbox[1].instanceId.reset();
  IntelControllerConfig intel;
  intel.driverDesc = "Intel(R) Chipset SATA/PCIe RST Premium Controller";
  intel.instanceId = "PCI\\VEN_8086&DEV_A77F&SUBSYS_0A5D1028&REV_00\\3&11583659&0&B8";
  intel.interfacePath =
      "\\\\?\\pci#ven_8086&dev_a77f&subsys_0a5d1028&rev_00#3&11583659&0&b8#"
      "{2accfe60-c130-11d2-b082-00a0c91efb8b}";
  intel.raidVolumes = {{{{"m1", 0}, {"m2", 1}},
                        "SCSI\\DISK&VEN_INTEL&PROD_RAID1\\4&1&0&000100",
                        "\\\\?\\scsi#disk&ven_intel&prod_raid1#4&1&0&000100#{53f56307}",
                        1}};
  intel.passThrough = {{"pt", 3, "Bus Number 3, Target Id 0, LUN 0", std::nullopt,
                        "\\\\?\\scsi#disk&ven_nvme&prod_pt#4&1&0&000300#{53f56307}", 2}};
  c.intelController = intel;
  return c;
}

Fault errorFault(FaultRequest request, std::optional<std::uint32_t> nth, std::uint32_t error) {
  Fault fault;
  fault.request = request;
  fault.nth = nth;
  fault.error = error;
  return fault;
}

// A call fault and its optional filters.
struct Inject {
  CallFault fault;
  Inject(CallKind kind, std::optional<std::uint32_t> nth, std::uint32_t error) {
    fault.kind = kind;
    fault.nth = nth;
    fault.error = error;
  }
  Inject& path(std::wstring p) {
    fault.path = std::move(p);
    return *this;
  }
  Inject& code(std::uint32_t c) {
    fault.controlCode = c;
    return *this;
  }
  Inject& key(const PropertyKey& k) {
    fault.propertyKey = k;
    return *this;
  }
  Inject& index(std::uint32_t i) {
    fault.deviceIndex = i;
    return *this;
  }
  operator CallFault() const { return fault; }  // NOLINT: rows read as faults
};

std::wstring wide(const std::string& s) {
  return std::wstring(s.begin(), s.end());
}

std::wstring upper(std::wstring s) {
  for (wchar_t& c : s) {
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - L'a' + L'A');
    }
  }
  return s;
}

std::wstring wideFromBytes(const std::uint8_t* bytes, std::size_t size) {
  std::wstring out;
  for (std::size_t at = 0; at + sizeof(wchar_t) <= size; at += sizeof(wchar_t)) {
    wchar_t c = 0;
    std::memcpy(&c, bytes + at, sizeof(c));
    out.push_back(c);
  }
  return out;
}

DeviceInfoData freshInfo() {
  DeviceInfoData info;
  info.cbSize = 32;
  return info;
}

DeviceInterfaceData freshInterface() {
  DeviceInterfaceData data;
  data.cbSize = 32;
  return data;
}

// A driver stand-in installed behind an open handle: answers with a scripted
// reply, or with its input reversed, and remembers what it received.
class ScriptedEndpoint : public Endpoint {
 public:
  IoReply next;
  bool replyReversedInput = false;
  int requests = 0;
  std::vector<std::uint8_t> seenInput;
  std::uint32_t seenOutSize = 0;

  IoReply request(std::uint32_t, std::span<const std::uint8_t> in, std::uint32_t outSize) override {
    ++requests;
    seenInput.assign(in.begin(), in.end());
    seenOutSize = outSize;
    IoReply reply = next;
    if (replyReversedInput) {
      reply.reply.assign(in.rbegin(), in.rend());
      reply.bytesReturned = static_cast<std::uint32_t>(in.size());
    }
    return reply;
  }
};

class MachineTest : public ::testing::Test {
 public:
  Machine& machine() {
    if (!machine_) {
      machine_ = std::make_unique<Machine>(config, std::vector<std::uint8_t>(64, 0xA5));
    }
    return *machine_;
  }

  SimHandle open(const std::wstring& path) {
    return machine().createFile(path.c_str(), kGenericReadWrite, 3, kOpenExisting, 0);
  }

  ScriptedEndpoint& script(SimHandle handle) {
    auto endpoint = std::make_unique<ScriptedEndpoint>();
    ScriptedEndpoint& ref = *endpoint;
    machine().state().handles.at(handle).endpoint = std::move(endpoint);
    return ref;
  }

  std::vector<DeviceInfoData> devicesOf(SimHandle set) {
    std::vector<DeviceInfoData> out;
    for (std::uint32_t i = 0;; ++i) {
      DeviceInfoData info = freshInfo();
      if (!machine().enumDeviceInfo(set, i, info)) {
        EXPECT_EQ(machine().lastError(), kErrorNoMoreItems);
        return out;
      }
      out.push_back(info);
    }
  }

  // Reads a string property by the size-query protocol: no buffer first,
  // then a buffer of exactly the reported size.
  std::optional<std::wstring> readProperty(SimHandle set, const DeviceInfoData& info,
                                           const PropertyKey& key) {
    std::uint32_t type = 0xFFFF;
    std::uint32_t required = 0xFFFF;
    EXPECT_FALSE(machine().getDeviceProperty(set, info, key, &type, nullptr, 0, &required));
    if (machine().lastError() == kErrorNotFound) {
      EXPECT_EQ(type, kDevPropTypeEmpty);
      return std::nullopt;
    }
    EXPECT_EQ(machine().lastError(), kErrorInsufficientBuffer);
    EXPECT_EQ(type, kDevPropTypeString);
    std::vector<std::uint8_t> buffer(required, 0xEE);
    EXPECT_TRUE(
        machine().getDeviceProperty(set, info, key, &type, buffer.data(), required, &required));
    EXPECT_EQ(machine().lastError(), kErrorSuccess);
    std::wstring value = wideFromBytes(buffer.data(), buffer.size());
    EXPECT_FALSE(value.empty());
    EXPECT_EQ(value.back(), L'\0');
    value.pop_back();
    return value;
  }

  // The interface detail path of member index of class guid in set, and the
  // device record the detail call returns with it.
  std::optional<std::pair<std::wstring, DeviceInfoData>> interfaceOf(SimHandle set,
                                                                     const Guid& guid,
                                                                     std::uint32_t index) {
    DeviceInterfaceData data = freshInterface();
    if (!machine().enumDeviceInterfaces(set, nullptr, guid, index, data)) {
      return std::nullopt;
    }
    EXPECT_EQ(data.interfaceClassGuid, guid);
    std::uint32_t required = 0;
    EXPECT_FALSE(machine().getDeviceInterfaceDetail(set, data, nullptr, 0, &required, nullptr));
    std::vector<std::uint8_t> detail(required, 0xEE);
    const std::uint32_t cbSize = 8;
    std::memcpy(detail.data(), &cbSize, sizeof(cbSize));
    DeviceInfoData info = freshInfo();
    EXPECT_TRUE(
        machine().getDeviceInterfaceDetail(set, data, detail.data(), required, nullptr, &info));
    std::wstring path = wideFromBytes(detail.data() + 4, detail.size() - 4);
    EXPECT_EQ(path.back(), L'\0');
    path.pop_back();
    return std::make_pair(path, info);
  }

  void resetMachine() { machine_.reset(); }

  MachineConfig config = sampleMachine();

 private:
  std::unique_ptr<Machine> machine_;
};

// --- Device sets ---

TEST_F(MachineTest, AllClassesSetListsEveryDeviceInMachineOrder) {
  const IntelControllerConfig& intel = *config.intelController;
  const std::vector<std::optional<std::string>> expected = {
      config.otherControllers[0].instanceId,
      config.inbox[0].controllerInstanceId,
      config.inbox[0].instanceId,
      config.inbox[1].controllerInstanceId,
      config.inbox[1].instanceId,  // absent
      intel.instanceId,
      intel.raidVolumes[0].instanceId,
      intel.passThrough[0].instanceId,  // absent
  };
  // DIGCF_ALLCLASSES ignores the GUID, even a missing one.
  for (const Guid* guid : {static_cast<const Guid*>(nullptr), &kGuidDevInterfaceDisk}) {
    const SimHandle set = machine().getClassDevs(guid, kPresentAllClasses);
    ASSERT_NE(set, kInvalidSimHandle);
    const std::vector<DeviceInfoData> devices = devicesOf(set);
    ASSERT_EQ(devices.size(), expected.size());
    for (std::size_t i = 0; i < devices.size(); ++i) {
      const std::optional<std::wstring> id = readProperty(set, devices[i], kDevPKeyInstanceId);
      EXPECT_EQ(id, expected[i] ? std::optional(wide(*expected[i])) : std::nullopt) << i;
    }
    EXPECT_TRUE(machine().destroyDeviceInfoList(set));
  }
}

TEST_F(MachineTest, InterfaceSetsHoldTheirClassInOrderWithTheSameDevInst) {
  const IntelControllerConfig& intel = *config.intelController;
  const struct {
    const Guid* guid;
    std::vector<std::string> paths;
  } cases[] = {
      {&kGuidDevInterfaceDisk,
       {config.inbox[0].interfacePath, config.inbox[1].interfacePath,
        intel.raidVolumes[0].interfacePath, intel.passThrough[0].interfacePath}},
      {&kGuidDevInterfaceStoragePort,
       {config.otherControllers[0].interfacePath, config.inbox[0].controllerInterfacePath,
        config.inbox[1].controllerInterfacePath, intel.interfacePath}},
  };
  const SimHandle all = machine().getClassDevs(nullptr, kPresentAllClasses);
  const std::vector<DeviceInfoData> allDevices = devicesOf(all);
  for (const auto& c : cases) {
    const SimHandle set = machine().getClassDevs(c.guid, kPresentInterfaces);
    const std::vector<DeviceInfoData> devices = devicesOf(set);
    ASSERT_EQ(devices.size(), c.paths.size());
    for (std::uint32_t i = 0; i < c.paths.size(); ++i) {
      SCOPED_TRACE(c.paths[i]);
      const auto member = interfaceOf(set, *c.guid, i);
      ASSERT_TRUE(member.has_value());
      EXPECT_EQ(member->first, wide(c.paths[i]));
      EXPECT_EQ(member->second.devInst, devices[i].devInst);
      // The all-classes set holds the same device under the same handle.
      const auto inAll = interfaceOf(all, *c.guid, i);
      ASSERT_TRUE(inAll.has_value());
      EXPECT_EQ(inAll->first, member->first);
      EXPECT_EQ(inAll->second.devInst, devices[i].devInst);
      int sameHandle = 0;
      for (const DeviceInfoData& d : allDevices) {
        sameHandle += d.devInst == devices[i].devInst ? 1 : 0;
      }
      EXPECT_EQ(sameHandle, 1);
    }
    DeviceInterfaceData past = freshInterface();
    EXPECT_FALSE(machine().enumDeviceInterfaces(set, nullptr, *c.guid,
                                                static_cast<std::uint32_t>(c.paths.size()), past));
    EXPECT_EQ(machine().lastError(), kErrorNoMoreItems);
    EXPECT_TRUE(machine().destroyDeviceInfoList(set));
  }
}

TEST_F(MachineTest, ListIndexesOrderEachClassAndKeepTheClassesPlaces) {
  IntelControllerConfig& intel = *config.intelController;
  intel.passThrough[0].listIndex = 0;
  config.inbox[1].listIndex = 3;  // a gap: devices the capture did not write
  intel.raidVolumes[0].listIndex = 5;
  intel.listIndex = 0;
  config.inbox[0].controllerListIndex = 1;
  const struct {
    const Guid* guid;
    std::vector<std::string> paths;
  } cases[] = {
      {&kGuidDevInterfaceDisk,
       {intel.passThrough[0].interfacePath, config.inbox[1].interfacePath,
        intel.raidVolumes[0].interfacePath, config.inbox[0].interfacePath}},
      {&kGuidDevInterfaceStoragePort,
       {intel.interfacePath, config.inbox[0].controllerInterfacePath,
        config.otherControllers[0].interfacePath, config.inbox[1].controllerInterfacePath}},
  };
  for (const auto& c : cases) {
    const SimHandle set = machine().getClassDevs(c.guid, kPresentInterfaces);
    for (std::uint32_t i = 0; i < c.paths.size(); ++i) {
      const auto member = interfaceOf(set, *c.guid, i);
      ASSERT_TRUE(member.has_value());
      EXPECT_EQ(member->first, wide(c.paths[i])) << i;
    }
    EXPECT_TRUE(machine().destroyDeviceInfoList(set));
  }
  // The all-classes set: port, port, disk, port, disk, port, disk, disk as
  // before, each class in its own order, instance handles ascending.
  const std::vector<std::optional<std::string>> expected = {
      intel.instanceId,
      config.inbox[0].controllerInstanceId,
      intel.passThrough[0].instanceId,  // absent
      config.otherControllers[0].instanceId,
      config.inbox[1].instanceId,  // absent
      config.inbox[1].controllerInstanceId,
      intel.raidVolumes[0].instanceId,
      config.inbox[0].instanceId,
  };
  const SimHandle all = machine().getClassDevs(nullptr, kPresentAllClasses);
  const std::vector<DeviceInfoData> devices = devicesOf(all);
  ASSERT_EQ(devices.size(), expected.size());
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const std::optional<std::wstring> id = readProperty(all, devices[i], kDevPKeyInstanceId);
    EXPECT_EQ(id, expected[i] ? std::optional(wide(*expected[i])) : std::nullopt) << i;
    EXPECT_EQ(devices[i].devInst, devices[0].devInst + i);
  }
  EXPECT_TRUE(machine().destroyDeviceInfoList(all));
}

TEST_F(MachineTest, InterfaceEnumerationWithADeviceFilter) {
  const SimHandle all = machine().getClassDevs(nullptr, kPresentAllClasses);
  const std::vector<DeviceInfoData> devices = devicesOf(all);
  // Device 2 is the first inbox disk: one disk interface, no storage port.
  const struct {
    const Guid* guid;
    std::uint32_t index;
    bool found;
  } cases[] = {{&kGuidDevInterfaceDisk, 0, true},
               {&kGuidDevInterfaceDisk, 1, false},
               {&kGuidDevInterfaceStoragePort, 0, false}};
  for (const auto& c : cases) {
    DeviceInterfaceData data = freshInterface();
    EXPECT_EQ(machine().enumDeviceInterfaces(all, &devices[2], *c.guid, c.index, data), c.found);
    if (!c.found) {
      EXPECT_EQ(machine().lastError(), kErrorNoMoreItems);
    }
  }
}

TEST_F(MachineTest, SetupClassSetsWithoutTheInterfaceFlag) {
  // Without DIGCF_DEVICEINTERFACE the GUID is a setup class: an interface
  // class GUID there selects nothing.
  const SimHandle byInterfaceGuid = machine().getClassDevs(&kGuidDevInterfaceDisk, 0x02);
  EXPECT_TRUE(devicesOf(byInterfaceGuid).empty());
  const SimHandle bySetupClass = machine().getClassDevs(&kGuidDevClassDiskDrive, 0x02);
  EXPECT_EQ(devicesOf(bySetupClass).size(), 4u);
  EXPECT_EQ(machine().getClassDevs(nullptr, kPresentInterfaces), kInvalidSimHandle);
  EXPECT_EQ(machine().lastError(), kErrorInvalidParameter);
}

TEST_F(MachineTest, RecordSizesAreChecked) {
  const SimHandle set = machine().getClassDevs(&kGuidDevInterfaceDisk, kPresentInterfaces);
  DeviceInfoData info;
  info.cbSize = 28;  // the 32-bit layout
  EXPECT_FALSE(machine().enumDeviceInfo(set, 0, info));
  EXPECT_EQ(machine().lastError(), kErrorInvalidUserBuffer);
  EXPECT_EQ(info.devInst, 0u);
  DeviceInterfaceData data;
  data.cbSize = 0;
  EXPECT_FALSE(machine().enumDeviceInterfaces(set, nullptr, kGuidDevInterfaceDisk, 0, data));
  EXPECT_EQ(machine().lastError(), kErrorInvalidUserBuffer);
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  EXPECT_FALSE(
      machine().getDeviceProperty(set, info, kDevPKeyParent, &type, nullptr, 0, &required));
  EXPECT_EQ(machine().lastError(), kErrorInvalidUserBuffer);
}

TEST_F(MachineTest, InvalidSetHandlesFailEveryCall) {
  const SimHandle destroyed = machine().getClassDevs(nullptr, kPresentAllClasses);
  DeviceInfoData info = freshInfo();
  ASSERT_TRUE(machine().enumDeviceInfo(destroyed, 0, info));
  DeviceInterfaceData data = freshInterface();
  ASSERT_TRUE(machine().enumDeviceInterfaces(destroyed, nullptr, kGuidDevInterfaceDisk, 0, data));
  ASSERT_TRUE(machine().destroyDeviceInfoList(destroyed));
  const SimHandle device = open(wide(config.inbox[0].interfacePath));
  ASSERT_NE(device, kInvalidSimHandle);

  const std::function<bool(SimHandle)> calls[] = {
      [&](SimHandle s) { return machine().enumDeviceInfo(s, 0, info); },
      [&](SimHandle s) {
        return machine().enumDeviceInterfaces(s, nullptr, kGuidDevInterfaceDisk, 0, data);
      },
      [&](SimHandle s) {
        std::uint32_t required = 0;
        return machine().getDeviceInterfaceDetail(s, data, nullptr, 0, &required, nullptr);
      },
      [&](SimHandle s) {
        std::uint32_t type = 0;
        std::uint32_t required = 0;
        return machine().getDeviceProperty(s, info, kDevPKeyParent, &type, nullptr, 0, &required);
      },
      [&](SimHandle s) {
        std::uint32_t required = 0;
        return machine().getDeviceRegistryProperty(s, info, 1, nullptr, nullptr, 0, &required);
      },
      [&](SimHandle s) { return machine().destroyDeviceInfoList(s); },
  };
  // A destroyed set, a device handle, a value never handed out.
  for (SimHandle bad : {destroyed, device, SimHandle{0x7777}, kInvalidSimHandle}) {
    for (std::size_t i = 0; i < std::size(calls); ++i) {
      machine().setLastError(0);
      EXPECT_FALSE(calls[i](bad)) << i;
      EXPECT_EQ(machine().lastError(), kErrorInvalidHandle) << i;
    }
  }
}

TEST_F(MachineTest, RecordsOfAnotherSetAreRefused) {
  const SimHandle first = machine().getClassDevs(nullptr, kPresentAllClasses);
  const SimHandle second = machine().getClassDevs(nullptr, kPresentAllClasses);
  DeviceInfoData info = freshInfo();
  ASSERT_TRUE(machine().enumDeviceInfo(first, 0, info));
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  EXPECT_FALSE(
      machine().getDeviceProperty(second, info, kDevPKeyInstanceId, &type, nullptr, 0, &required));
  EXPECT_EQ(machine().lastError(), kErrorInvalidParameter);
  DeviceInterfaceData data = freshInterface();
  ASSERT_TRUE(machine().enumDeviceInterfaces(first, nullptr, kGuidDevInterfaceDisk, 0, data));
  EXPECT_FALSE(machine().getDeviceInterfaceDetail(second, data, nullptr, 0, &required, nullptr));
  EXPECT_EQ(machine().lastError(), kErrorInvalidParameter);
}

// --- Interface detail ---

TEST_F(MachineTest, InterfaceDetailFollowsTheSizeQueryProtocol) {
  const SimHandle set = machine().getClassDevs(&kGuidDevInterfaceDisk, kPresentInterfaces);
  DeviceInterfaceData data = freshInterface();
  ASSERT_TRUE(machine().enumDeviceInterfaces(set, nullptr, kGuidDevInterfaceDisk, 1, data));
  const std::wstring path = wide(config.inbox[1].interfacePath);
  const std::uint32_t needed = static_cast<std::uint32_t>(4 + (path.size() + 1) * sizeof(wchar_t));

  const struct {
    const char* name;
    bool buffer;             // false: a null buffer
    std::int64_t sizeDelta;  // buffer size relative to needed (null: the size itself)
    std::uint32_t cbSize;
    std::uint32_t infoCbSize;  // 0: no device record
    std::uint32_t error;       // 0: success
    bool requiredReported;
  } cases[] = {
      {"size query", false, 0, 8, 0, kErrorInsufficientBuffer, true},
      {"null buffer with a size", false, 10, 8, 0, kErrorInvalidUserBuffer, false},
      {"one byte short", true, -1, 8, 0, kErrorInsufficientBuffer, true},
      {"exact", true, 0, 8, 32, 0, true},
      {"larger", true, 40, 8, 0, 0, true},
      {"cbSize of the whole buffer", true, 0, needed, 0, kErrorInvalidUserBuffer, false},
      {"32-bit cbSize", true, 0, 6, 0, kErrorInvalidUserBuffer, false},
      {"device record of the wrong size", true, 0, 8, 28, kErrorInvalidUserBuffer, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::uint32_t size = c.buffer ? static_cast<std::uint32_t>(needed + c.sizeDelta)
                                        : static_cast<std::uint32_t>(c.sizeDelta);
    std::vector<std::uint8_t> buffer(c.buffer ? size : 0, 0xEE);
    if (c.buffer) {
      std::memcpy(buffer.data(), &c.cbSize, sizeof(c.cbSize));
    }
    const std::vector<std::uint8_t> before = buffer;
    DeviceInfoData info;
    info.cbSize = c.infoCbSize;
    std::uint32_t required = 0xFFFFFFFF;
    machine().setLastError(1234);
    const bool ok =
        machine().getDeviceInterfaceDetail(set, data, c.buffer ? buffer.data() : nullptr, size,
                                           &required, c.infoCbSize != 0 ? &info : nullptr);
    EXPECT_EQ(ok, c.error == 0);
    EXPECT_EQ(machine().lastError(), c.error);
    EXPECT_EQ(required, c.requiredReported ? needed : 0xFFFFFFFF);
    if (c.error != 0) {
      EXPECT_EQ(buffer, before);
      continue;
    }
    const std::wstring written =
        wideFromBytes(buffer.data() + 4, (path.size() + 1) * sizeof(wchar_t));
    EXPECT_EQ(written, path + L'\0');
    if (c.infoCbSize != 0) {
      EXPECT_NE(info.devInst, 0u);
      EXPECT_EQ(info.classGuid, kGuidDevClassDiskDrive);
    }
  }
}

// --- Properties ---

TEST_F(MachineTest, StringPropertiesByDeviceAndKey) {
  const IntelControllerConfig& intel = *config.intelController;
  const std::optional<std::string> none;
  const struct {
    std::size_t device;  // in the all-classes set
    PropertyKey key;
    std::optional<std::string> value;
  } cases[] = {
      {0, kDevPKeyDriverDesc, config.otherControllers[0].driverDesc},
      {0, kDevPKeyInstanceId, config.otherControllers[0].instanceId},
      {2, kDevPKeyParent, config.inbox[0].parentInstanceId},
      {2, kDevPKeyInstanceId, config.inbox[0].instanceId},
      {2, kDevPKeyLocationInfo, none},
      {4, kDevPKeyParent, none},
      {4, kDevPKeyInstanceId, none},
      {5, kDevPKeyDriverDesc, intel.driverDesc},
      {5, kDevPKeyInstanceId, intel.instanceId},
      {6, kDevPKeyParent, intel.instanceId},
      {6, kDevPKeyInstanceId, intel.raidVolumes[0].instanceId},
      {7, kDevPKeyParent, intel.instanceId},
      {7, kDevPKeyLocationInfo, intel.passThrough[0].locationInfo},
      {7, kDevPKeyInstanceId, none},
      {7, {kDevPKeyParent.fmtid, 99}, none},
  };
  const SimHandle set = machine().getClassDevs(nullptr, kPresentAllClasses);
  const std::vector<DeviceInfoData> devices = devicesOf(set);
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "device " << c.device << " pid " << c.key.pid);
    const std::optional<std::wstring> value = readProperty(set, devices.at(c.device), c.key);
    EXPECT_EQ(value, c.value ? std::optional(wide(*c.value)) : std::nullopt);
  }
}

TEST_F(MachineTest, PropertyBufferTooSmallReportsTheSizeAndLeavesItAlone) {
  const SimHandle set = machine().getClassDevs(&kGuidDevInterfaceDisk, kPresentInterfaces);
  const std::vector<DeviceInfoData> devices = devicesOf(set);
  const std::wstring parent = wide(*config.inbox[0].parentInstanceId);
  const auto needed = static_cast<std::uint32_t>((parent.size() + 1) * sizeof(wchar_t));
  std::vector<std::uint8_t> buffer(needed - 1, 0xEE);
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  EXPECT_FALSE(machine().getDeviceProperty(set, devices[0], kDevPKeyParent, &type, buffer.data(),
                                           needed - 1, &required));
  EXPECT_EQ(machine().lastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(required, needed);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(needed - 1, 0xEE));
  // A caller that asks without a type pointer is refused, as SetupAPI does.
  EXPECT_FALSE(
      machine().getDeviceProperty(set, devices[0], kDevPKeyParent, nullptr, nullptr, 0, &required));
  EXPECT_EQ(machine().lastError(), kErrorInvalidUserBuffer);
}

TEST_F(MachineTest, HardwareIdsAreAMultiString) {
  const SimHandle set = machine().getClassDevs(&kGuidDevInterfaceDisk, kPresentInterfaces);
  const std::vector<DeviceInfoData> devices = devicesOf(set);
  std::vector<std::wstring> expected;
  for (const std::string& id : *config.inbox[0].hardwareIds) {
    expected.push_back(wide(id));
  }
  std::uint32_t needed = 0;
  for (const std::wstring& id : expected) {
    needed += static_cast<std::uint32_t>((id.size() + 1) * sizeof(wchar_t));
  }
  needed += sizeof(wchar_t);

  std::uint32_t type = 0;
  std::uint32_t required = 0;
  EXPECT_FALSE(
      machine().getDeviceRegistryProperty(set, devices[0], 1, &type, nullptr, 0, &required));
  EXPECT_EQ(machine().lastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(required, needed);
  std::vector<std::uint8_t> small(needed - 2, 0xEE);
  EXPECT_FALSE(machine().getDeviceRegistryProperty(set, devices[0], 1, &type, small.data(),
                                                   needed - 2, &required));
  EXPECT_EQ(machine().lastError(), kErrorInsufficientBuffer);
  EXPECT_EQ(small, std::vector<std::uint8_t>(needed - 2, 0xEE));

  std::vector<std::uint8_t> buffer(needed);
  EXPECT_TRUE(machine().getDeviceRegistryProperty(set, devices[0], 1, &type, buffer.data(), needed,
                                                  &required));
  EXPECT_EQ(machine().lastError(), kErrorSuccess);
  EXPECT_EQ(type, 7u);  // REG_MULTI_SZ
  const std::wstring all = wideFromBytes(buffer.data(), buffer.size());
  std::vector<std::wstring> strings;
  std::size_t at = 0;
  while (at < all.size() && all[at] != L'\0') {
    const std::size_t end = all.find(L'\0', at);
    strings.push_back(all.substr(at, end - at));
    at = end + 1;
  }
  EXPECT_EQ(strings, expected);
  EXPECT_EQ(at, all.size() - 1);  // the final, empty string

  // The second inbox disk has none; other registry properties are absent.
  EXPECT_FALSE(
      machine().getDeviceRegistryProperty(set, devices[1], 1, &type, nullptr, 0, &required));
  EXPECT_EQ(machine().lastError(), kErrorInvalidData);
  EXPECT_FALSE(
      machine().getDeviceRegistryProperty(set, devices[0], 2, &type, nullptr, 0, &required));
  EXPECT_EQ(machine().lastError(), kErrorInvalidData);
}

// --- Path namespace ---

TEST_F(MachineTest, PathsOpenCaseInsensitively) {
  const IntelControllerConfig& intel = *config.intelController;
  const struct {
    std::wstring path;
    std::uint32_t error;  // 0: opens
  } cases[] = {
      {wide(config.inbox[0].interfacePath), 0},
      {upper(wide(config.inbox[0].interfacePath)), 0},
      {upper(wide(config.inbox[0].controllerInterfacePath)), 0},
      {wide(config.otherControllers[0].interfacePath), 0},
      {upper(wide(intel.interfacePath)), 0},
      {wide(intel.raidVolumes[0].interfacePath), 0},
      {wide(intel.passThrough[0].interfacePath), 0},
      {L"\\\\.\\PHYSICALDRIVE0", 0},
      {L"\\\\.\\PhysicalDrive4", 0},
      {L"\\\\.\\physicaldrive1", 0},  // the RAID volume
      {L"\\\\.\\PHYSICALDRIVE2", 0},  // the pass-through disk
      {L"\\\\.\\PHYSICALDRIVE3", kErrorFileNotFound},
      {L"\\\\.\\PHYSICALDRIVE04", kErrorFileNotFound},
      {L"\\\\.\\Scsi0:", 0},
      {L"\\\\.\\SCSI2:", 0},
      {L"\\\\.\\Scsi3:", kErrorFileNotFound},
      {L"\\\\.\\Scsi1", kErrorFileNotFound},
      {wide(config.inbox[0].interfacePath) + L"x", kErrorFileNotFound},
      {L"", kErrorFileNotFound},
  };
  for (const auto& c : cases) {
    machine().setLastError(4321);
    const SimHandle handle = open(c.path);
    EXPECT_EQ(handle != kInvalidSimHandle, c.error == 0)
        << std::string(c.path.begin(), c.path.end());
    EXPECT_EQ(machine().lastError(), c.error);
    if (handle != kInvalidSimHandle) {
      EXPECT_TRUE(machine().closeHandle(handle));
    }
  }
  EXPECT_EQ(machine().handlesLeftOpen(), 0u);
}

TEST_F(MachineTest, NoScsiPortsWithoutAnIntelController) {
  config.intelController.reset();
  EXPECT_EQ(open(L"\\\\.\\Scsi0:"), kInvalidSimHandle);
  EXPECT_EQ(machine().lastError(), kErrorFileNotFound);
}

TEST_F(MachineTest, DevicesOfOtherDriversFailEveryRequest) {
  const IntelControllerConfig& intel = *config.intelController;
  for (const std::string& path :
       {config.otherControllers[0].interfacePath, intel.raidVolumes[0].interfacePath,
        intel.passThrough[0].interfacePath, config.inbox[0].controllerInterfacePath}) {
    const SimHandle handle = open(wide(path));
    ASSERT_NE(handle, kInvalidSimHandle) << path;
    std::vector<std::uint8_t> buffer(12, 0x5A);
    std::uint32_t returned = 77;
    EXPECT_FALSE(machine().deviceIoControl(handle, kIoctlStorageGetDeviceNumber, nullptr, 0,
                                           buffer.data(), 12, &returned));
    EXPECT_EQ(machine().lastError(), 1u) << path;  // ERROR_INVALID_FUNCTION
    EXPECT_EQ(buffer, std::vector<std::uint8_t>(12, 0x5A));
    EXPECT_EQ(returned, 77u);
    machine().closeHandle(handle);
  }
}

TEST_F(MachineTest, InboxDiskPathsReachTheirDrive) {
  // Both names of a disk lead to the inbox driver with the disk's number.
  for (const auto& [path, number] : {std::pair{wide(config.inbox[1].interfacePath), 4u},
                                     {L"\\\\.\\PHYSICALDRIVE4", 4u},
                                     {L"\\\\.\\PHYSICALDRIVE0", 0u}}) {
    const SimHandle handle = open(path);
    ASSERT_NE(handle, kInvalidSimHandle);
    std::array<std::uint8_t, 12> reply{};
    std::uint32_t returned = 0;
    ASSERT_TRUE(machine().deviceIoControl(handle, kIoctlStorageGetDeviceNumber, nullptr, 0,
                                          reply.data(), 12, &returned));
    std::uint32_t deviceNumber = 0;
    std::memcpy(&deviceNumber, reply.data() + 4, 4);  // STORAGE_DEVICE_NUMBER.DeviceNumber
    EXPECT_EQ(deviceNumber, number);
    machine().closeHandle(handle);
  }
  const std::vector<DriveReport> reports = machine().driveReports();
  EXPECT_EQ(reports[0].requests[static_cast<int>(FaultRequest::Open)], 1u);
  EXPECT_EQ(reports[1].requests[static_cast<int>(FaultRequest::Open)], 2u);
}

// --- Open faults from the machine description ---

TEST_F(MachineTest, DriveOpenFaultsCountTheDrivesOwnDiskPaths) {
  config.drives[0].faults = {errorFault(FaultRequest::Open, 2, 1117)};
  config.drives[4].faults = {errorFault(FaultRequest::Open, std::nullopt, 5)};
  const std::wstring bootPath = wide(config.inbox[0].interfacePath);
  const std::wstring ptPath = wide(config.intelController->passThrough[0].interfacePath);
  const struct {
    std::wstring path;
    std::uint32_t error;
  } steps[] = {
      {L"\\\\.\\PHYSICALDRIVE4", 0},     // another drive: not counted for boot
      {bootPath, 0},                     // boot open 1
      {L"\\\\.\\PhysicalDrive0", 1117},  // boot open 2
      {bootPath, 0},                     // boot open 3
      {ptPath, 5},                       // every open of the pass-through drive
      {L"\\\\.\\PHYSICALDRIVE2", 5},     // its disk number too
      {L"\\\\.\\PHYSICALDRIVE1", 0},     // the RAID volume is no drive's disk
  };
  for (const auto& step : steps) {
    const SimHandle handle = open(step.path);
    EXPECT_EQ(handle != kInvalidSimHandle, step.error == 0);
    EXPECT_EQ(machine().lastError(), step.error);
    if (handle != kInvalidSimHandle) {
      machine().closeHandle(handle);
    }
  }
  const std::vector<DriveReport> reports = machine().driveReports();
  const auto opens = [&](std::size_t i) {
    return reports[i].requests[static_cast<int>(FaultRequest::Open)];
  };
  EXPECT_EQ(opens(0), 3u);
  EXPECT_EQ(opens(1), 1u);
  EXPECT_EQ(opens(2), 0u);
  EXPECT_EQ(opens(3), 0u);
  EXPECT_EQ(opens(4), 2u);
  EXPECT_EQ(machine().handlesLeftOpen(), 0u);
}

TEST_F(MachineTest, AttachmentFaultsCountTheirOwnRequestsBeforeTheDrives) {
  // The boot drive reached through a second inbox disk, as with multipath.
  config.inbox.push_back(inboxDisk("boot", 9));
  config.inbox[2].interfacePath = "\\\\?\\scsi#disk&second#{53f56307}";
  config.inbox[2].faults = {errorFault(FaultRequest::Open, 2, 5)};
  config.drives[0].faults = {errorFault(FaultRequest::Open, 2, 1117),
                             errorFault(FaultRequest::Open, 3, 2)};
  const std::wstring first = wide(config.inbox[0].interfacePath);
  const struct {
    std::wstring path;
    std::uint32_t error;
  } steps[] = {
      {first, 0},                                // drive open 1
      {L"\\\\.\\PHYSICALDRIVE9", 1117},          // the second disk's open 1: drive open 2
      {wide(config.inbox[2].interfacePath), 5},  // its open 2 (and drive open 3): its own fault
      {first, 0},                                // drive open 4
  };
  for (const auto& step : steps) {
    const SimHandle handle = open(step.path);
    EXPECT_EQ(machine().lastError(), step.error) << step.error;
    if (handle != kInvalidSimHandle) {
      machine().closeHandle(handle);
    }
  }
  EXPECT_EQ(machine().driveReports()[0].requests[static_cast<int>(FaultRequest::Open)], 4u);
}

TEST_F(MachineTest, ControllerOpenFaults) {
  config.intelController->driver = IntelDriver::Vroc;
  config.intelController->vrocPort = 1;
  config.intelController->faults = {errorFault(FaultRequest::Open, 1, 1450),
                                    errorFault(FaultRequest::ScsiPortOpen, 2, 21)};
  const std::wstring controller = wide(config.intelController->interfacePath);
  const struct {
    std::wstring path;
    std::uint32_t error;
  } steps[] = {
      {controller, 1450},    {controller, 0},        {L"\\\\.\\Scsi0:", 0},
      {L"\\\\.\\Scsi1:", 0}, {L"\\\\.\\Scsi1:", 21}, {L"\\\\.\\Scsi1:", 0},
  };
  for (const auto& step : steps) {
    const SimHandle handle = open(step.path);
    EXPECT_EQ(handle != kInvalidSimHandle, step.error == 0);
    EXPECT_EQ(machine().lastError(), step.error);
  }
  EXPECT_EQ(machine().state().intel->faults.countOf(FaultRequest::Open), 2u);
  EXPECT_EQ(machine().state().intel->faults.countOf(FaultRequest::ScsiPortOpen), 3u);
  EXPECT_EQ(machine().handlesLeftOpen(), 4u);
}

TEST_F(MachineTest, ScsiPortOpensAreNotCountedWithoutAVrocDriver) {
  config.intelController->faults = {errorFault(FaultRequest::ScsiPortOpen, std::nullopt, 21)};
  const SimHandle handle = open(L"\\\\.\\Scsi2:");
  EXPECT_NE(handle, kInvalidSimHandle);
  EXPECT_EQ(machine().state().intel->faults.countOf(FaultRequest::ScsiPortOpen), 0u);
}

// --- Device requests ---

TEST_F(MachineTest, RequestCopiesTheInputBeforeTheReplyOverwritesIt) {
  const SimHandle handle = open(L"\\\\.\\PHYSICALDRIVE0");
  ScriptedEndpoint& endpoint = script(handle);
  endpoint.replyReversedInput = true;
  std::vector<std::uint8_t> buffer = {1, 2, 3, 4, 5, 6};
  std::uint32_t returned = 0;
  machine().setLastError(1234);
  ASSERT_TRUE(
      machine().deviceIoControl(handle, 0x4D008, buffer.data(), 6, buffer.data(), 6, &returned));
  EXPECT_EQ(endpoint.seenInput, (std::vector<std::uint8_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_EQ(buffer, (std::vector<std::uint8_t>{6, 5, 4, 3, 2, 1}));
  EXPECT_EQ(returned, 6u);
  EXPECT_EQ(machine().lastError(), 1234u);  // a successful request leaves it alone
}

TEST_F(MachineTest, RequestCopiesAtMostTheOutputSize) {
  const SimHandle handle = open(L"\\\\.\\PHYSICALDRIVE0");
  ScriptedEndpoint& endpoint = script(handle);
  endpoint.next = {true, 0, {9, 9, 9, 9, 9, 9, 9, 9}, 8};
  std::vector<std::uint8_t> buffer(8, 0);
  std::uint32_t returned = 0;
  ASSERT_TRUE(machine().deviceIoControl(handle, 1, buffer.data(), 2, buffer.data(), 5, &returned));
  EXPECT_EQ(buffer, (std::vector<std::uint8_t>{9, 9, 9, 9, 9, 0, 0, 0}));
  EXPECT_EQ(endpoint.seenOutSize, 5u);
  EXPECT_EQ(returned, 8u);
}

TEST_F(MachineTest, UndeliveredRequestLeavesTheBufferAlone) {
  const SimHandle handle = open(L"\\\\.\\PHYSICALDRIVE0");
  ScriptedEndpoint& endpoint = script(handle);
  endpoint.next = {false, 87, {1, 2, 3}, 3};
  std::vector<std::uint8_t> buffer(16, 0x3C);
  std::uint32_t returned = 55;
  EXPECT_FALSE(
      machine().deviceIoControl(handle, 1, buffer.data(), 16, buffer.data(), 16, &returned));
  EXPECT_EQ(machine().lastError(), 87u);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(16, 0x3C));
  EXPECT_EQ(returned, 55u);
}

TEST_F(MachineTest, RequestsOnBadHandlesOrMissingBuffers) {
  const SimHandle handle = open(L"\\\\.\\PHYSICALDRIVE0");
  ScriptedEndpoint& endpoint = script(handle);
  const SimHandle closed = open(L"\\\\.\\PHYSICALDRIVE0");
  ASSERT_TRUE(machine().closeHandle(closed));
  const SimHandle set = machine().getClassDevs(nullptr, kPresentAllClasses);
  std::uint8_t buffer[4] = {};
  std::uint32_t returned = 0;
  const struct {
    SimHandle handle;
    const void* in;
    std::uint32_t inSize;
    void* out;
    std::uint32_t outSize;
    std::uint32_t* returned;
    std::uint32_t error;
  } cases[] = {
      {closed, buffer, 4, buffer, 4, &returned, kErrorInvalidHandle},
      {set, buffer, 4, buffer, 4, &returned, kErrorInvalidHandle},
      {kInvalidSimHandle, buffer, 4, buffer, 4, &returned, kErrorInvalidHandle},
      {handle, nullptr, 4, buffer, 4, &returned, kErrorNoAccess},
      {handle, buffer, 4, nullptr, 4, &returned, kErrorNoAccess},
      {handle, buffer, 4, buffer, 4, nullptr, kErrorNoAccess},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(
        machine().deviceIoControl(c.handle, 1, c.in, c.inSize, c.out, c.outSize, c.returned));
    EXPECT_EQ(machine().lastError(), c.error);
  }
  EXPECT_EQ(endpoint.requests, 0);
  EXPECT_FALSE(machine().closeHandle(closed));
  EXPECT_EQ(machine().lastError(), kErrorInvalidHandle);
  EXPECT_FALSE(machine().closeHandle(set));  // a device set is no kernel handle
  EXPECT_EQ(machine().lastError(), kErrorInvalidHandle);
}

TEST_F(MachineTest, MiniportRequestsNeedAHandleOpenedForReadingAndWriting) {
  // IOCTL_SCSI_MINIPORT demands FILE_READ_ACCESS | FILE_WRITE_ACCESS; the
  // storage query and the device number demand nothing.
  constexpr std::uint32_t kMiniport = 0x0004D008;
  constexpr std::uint32_t kQueryProperty = 0x002D1400;
  const struct {
    const char* name;
    std::uint32_t access;
    std::uint32_t controlCode;
    bool delivered;
  } cases[] = {{"read and write", 0xC0000000, kMiniport, true},
               {"generic all", 0x10000000, kMiniport, true},
               {"maximum allowed", 0x02000000, kMiniport, true},
               {"read and write data", 0x00000003, kMiniport, true},
               {"read only", 0x80000000, kMiniport, false},
               {"write only", 0x40000000, kMiniport, false},
               {"no access", 0, kMiniport, false},
               {"read attributes only", 0x00000080, kMiniport, false},
               {"query with no access", 0, kQueryProperty, true},
               {"device number with no access", 0, kIoctlStorageGetDeviceNumber, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const SimHandle handle =
        machine().createFile(L"\\\\.\\PHYSICALDRIVE0", c.access, 3, kOpenExisting, 0);
    ASSERT_NE(handle, kInvalidSimHandle);
    ScriptedEndpoint& endpoint = script(handle);
    endpoint.next = {true, 0, {}, 0};
    std::uint8_t buffer[16] = {};
    std::uint32_t returned = 0;
    machine().setLastError(0);
    EXPECT_EQ(machine().deviceIoControl(handle, c.controlCode, buffer, 16, buffer, 16, &returned),
              c.delivered);
    EXPECT_EQ(endpoint.requests, c.delivered ? 1 : 0);
    EXPECT_EQ(machine().lastError(), c.delivered ? 0u : 5u);
    EXPECT_EQ(machine().calls().back().error, c.delivered ? 0u : 5u);
    machine().closeHandle(handle);
  }
}

// --- Observation ---

TEST_F(MachineTest, HandlesLeftOpenCountsDeviceHandlesAndSets) {
  const SimHandle set1 = machine().getClassDevs(nullptr, kPresentAllClasses);
  const SimHandle set2 = machine().getClassDevs(&kGuidDevInterfaceDisk, kPresentInterfaces);
  const SimHandle file1 = open(L"\\\\.\\PHYSICALDRIVE0");
  const SimHandle file2 = open(L"\\\\.\\Scsi0:");
  open(L"\\\\.\\PHYSICALDRIVE9");  // fails: nothing to release
  EXPECT_EQ(machine().handlesLeftOpen(), 4u);
  // Every handle value is distinct, whatever its kind.
  EXPECT_EQ(std::set<SimHandle>({set1, set2, file1, file2}).size(), 4u);
  EXPECT_TRUE(machine().destroyDeviceInfoList(set1));
  EXPECT_TRUE(machine().closeHandle(file1));
  EXPECT_EQ(machine().handlesLeftOpen(), 2u);
  EXPECT_FALSE(machine().destroyDeviceInfoList(set1));
  EXPECT_FALSE(machine().closeHandle(file1));
  EXPECT_EQ(machine().handlesLeftOpen(), 2u);
  EXPECT_TRUE(machine().destroyDeviceInfoList(set2));
  EXPECT_TRUE(machine().closeHandle(file2));
  EXPECT_EQ(machine().handlesLeftOpen(), 0u);
}

TEST_F(MachineTest, CallsAreRecordedWithTheirArguments) {
  const SimHandle set = machine().getClassDevs(&kGuidDevInterfaceDisk, kPresentInterfaces);
  DeviceInfoData info = freshInfo();
  machine().enumDeviceInfo(set, 1, info);
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  machine().getDeviceProperty(set, info, kDevPKeyParent, &type, nullptr, 0, &required);
  machine().getDeviceRegistryProperty(set, info, 1, &type, nullptr, 0, &required);
  const SimHandle handle =
      machine().createFile(L"\\\\.\\PhysicalDrive0", kGenericReadWrite, 3, kOpenExisting, 0x80);
  script(handle).next = {true, 0, {}, 0};
  std::vector<std::uint8_t> input(300);
  for (std::size_t i = 0; i < input.size(); ++i) {
    input[i] = static_cast<std::uint8_t>(i * 7);
  }
  std::uint32_t returned = 0;
  machine().deviceIoControl(handle, 0x4D008, input.data(), 300, input.data(), 100, &returned);
  machine().closeHandle(handle);
  machine().destroyDeviceInfoList(set);

  const std::vector<CallRecord>& calls = machine().calls();
  ASSERT_EQ(calls.size(), 8u);
  const std::vector<CallKind> kinds = {
      CallKind::GetClassDevs,        CallKind::EnumDeviceInfo,       CallKind::GetDeviceProperty,
      CallKind::GetRegistryProperty, CallKind::CreateFile,           CallKind::DeviceIoControl,
      CallKind::CloseHandle,         CallKind::DestroyDeviceInfoList};
  for (std::size_t i = 0; i < kinds.size(); ++i) {
    EXPECT_EQ(calls[i].kind, kinds[i]) << i;
  }
  EXPECT_EQ(calls[0].setFlags, kPresentInterfaces);
  EXPECT_TRUE(calls[0].succeeded);
  EXPECT_EQ(calls[1].index, 1u);
  EXPECT_EQ(calls[1].path, wide(config.inbox[1].interfacePath));
  // The second inbox disk has no parent: a failed call with its error.
  EXPECT_FALSE(calls[2].succeeded);
  EXPECT_EQ(calls[2].error, kErrorNotFound);
  EXPECT_EQ(calls[2].propertyKey, kDevPKeyParent);
  EXPECT_EQ(calls[3].registryProperty, 1u);
  EXPECT_EQ(calls[3].error, kErrorInvalidData);
  EXPECT_EQ(calls[4].path, L"\\\\.\\PhysicalDrive0");
  EXPECT_EQ(calls[4].access, kGenericReadWrite);
  EXPECT_EQ(calls[4].shareMode, 3u);
  EXPECT_EQ(calls[4].disposition, kOpenExisting);
  EXPECT_EQ(calls[4].flags, 0x80u);
  EXPECT_EQ(calls[5].path, L"\\\\.\\PhysicalDrive0");
  EXPECT_EQ(calls[5].controlCode, 0x4D008u);
  EXPECT_EQ(calls[5].inSize, 300u);
  EXPECT_EQ(calls[5].outSize, 100u);
  EXPECT_EQ(calls[5].inputHead, std::vector<std::uint8_t>(input.begin(), input.begin() + 256));
  EXPECT_TRUE(calls[5].succeeded);
  EXPECT_EQ(calls[6].path, L"\\\\.\\PhysicalDrive0");

  machine().setRecording(false);
  machine().getClassDevs(nullptr, kPresentAllClasses);
  open(L"\\\\.\\PHYSICALDRIVE0");
  EXPECT_EQ(machine().calls().size(), 8u);
  machine().setRecording(true);
  open(L"\\\\.\\PHYSICALDRIVE0");
  EXPECT_EQ(machine().calls().size(), 9u);
}

TEST_F(MachineTest, DriveReportsFollowTheDriveList) {
  const std::vector<DriveReport> reports = machine().driveReports();
  ASSERT_EQ(reports.size(), config.drives.size());
  for (std::size_t i = 0; i < reports.size(); ++i) {
    EXPECT_EQ(reports[i].id, config.drives[i].id);
    EXPECT_EQ(reports[i].slots.size(), config.drives[i].slots);
    for (std::size_t s = 0; s < reports[i].slots.size(); ++s) {
      EXPECT_EQ(reports[i].slots[s].slot, s + 1);
    }
    EXPECT_EQ(reports[i].runningFirmware, config.drives[i].firmware);
    EXPECT_EQ(reports[i].downloadedBytes, 0u);
  }
}

TEST_F(MachineTest, DriveReportsShowWhatAnEarlierRunLeft) {
  config.drives[0].slotFirmware = {"KTW3LMZB", "KTW8LMZB"};
  config.drives[0].pendingSlot = 2;
  const DriveReport report = machine().driveReports().at(0);
  ASSERT_EQ(report.slots.size(), 2u);
  EXPECT_EQ(report.slots[0].firmware, "KTW3LMZB");
  EXPECT_EQ(report.slots[1].firmware, "KTW8LMZB");
  EXPECT_EQ(report.runningFirmware, "KTW3LMZB");
  EXPECT_EQ(report.firmwareAfterReset, "KTW8LMZB");
}

TEST_F(MachineTest, MessageBoxTextsEndAtTheirFirstNul) {
  machine().messageBox(std::wstring(L"Patch completed\0tail", 20),
                       std::wstring(L"ZEV_TQ270c_V1.0.2_KTW8\0\0\0\0", 26));
  ASSERT_EQ(machine().messageBoxes().size(), 1u);
  EXPECT_EQ(machine().messageBoxes()[0].caption, L"ZEV_TQ270c_V1.0.2_KTW8");
  EXPECT_EQ(machine().messageBoxes()[0].text, L"Patch completed");
  EXPECT_EQ(machine().calls().back().kind, CallKind::MessageBox);
}

// ReportEventW's strings are C strings; a string over the limit, a log that
// takes nothing and an injected fault fail the call, keep no entry and leave
// their error.
TEST_F(MachineTest, EventEntriesAreKeptUnlessTheLogRefusesThem) {
  machine().setLastError(7);
  EXPECT_TRUE(machine().reportEvent(std::wstring(L"ZEV_TQ270c\0x", 12), 4, 200,
                                    std::wstring(L"line one\r\nline two\0tail", 25)));
  EXPECT_EQ(machine().lastError(), 7u);
  EXPECT_EQ(machine().calls().back().kind, CallKind::ReportEvent);
  // 31,839 UTF-16 units fit; one more, or a character beyond U+FFFF in its
  // place, does not.
  EXPECT_TRUE(machine().reportEvent(L"s", 2, 1, std::wstring(31839, L'x')));
  EXPECT_FALSE(machine().reportEvent(L"s", 2, 1, std::wstring(31840, L'x')));
  EXPECT_EQ(machine().lastError(), 87u);
  if constexpr (sizeof(wchar_t) == 4) {
    std::wstring wide(31838, L'x');
    wide += static_cast<wchar_t>(0x1F600);
    EXPECT_FALSE(machine().reportEvent(L"s", 2, 1, wide));
  }
  CallFault fault;
  fault.kind = CallKind::ReportEvent;
  fault.error = 1722;  // RPC_S_SERVER_UNAVAILABLE: the service is not running
  fault.nth = 1;
  machine().injectCallFault(fault);
  EXPECT_FALSE(machine().reportEvent(L"s", 1, 3, L"refused"));
  EXPECT_EQ(machine().lastError(), 1722u);
  ASSERT_EQ(machine().events().size(), 2u);
  EXPECT_EQ(machine().events()[0].source, L"ZEV_TQ270c");
  EXPECT_EQ(machine().events()[0].type, 4);
  EXPECT_EQ(machine().events()[0].id, 200u);
  EXPECT_EQ(machine().events()[0].text, L"line one\r\nline two");

  MachineConfig full = config;
  full.eventLogFails = true;
  Machine other(full, {});
  EXPECT_FALSE(other.reportEvent(L"ZEV_TQ270c", 4, 200, L"text"));
  EXPECT_EQ(other.lastError(), 1502u);
  EXPECT_TRUE(other.events().empty());
}

TEST_F(MachineTest, FixedClockAndModuleHandle) {
  config.moduleHandleFails = true;
  EXPECT_FALSE(machine().moduleHandleAvailable());
  const LocalTime host = machine().localTime();
  EXPECT_GE(host.month, 1);
  EXPECT_LE(host.month, 12);
  EXPECT_GE(host.year, 2000);
  machine().setClock({2024, 2, 29, 23, 59, 58});
  const LocalTime fixed = machine().localTime();
  EXPECT_EQ(fixed.year, 2024);
  EXPECT_EQ(fixed.day, 29);
  EXPECT_EQ(fixed.second, 58);
}

TEST_F(MachineTest, ComputerNameAndRunGuard) {
  EXPECT_EQ(machine().computerName(), "ZEVSIM-01");
  EXPECT_TRUE(machine().acquireRunGuard());
  EXPECT_FALSE(machine().acquireRunGuard());  // held until released
  machine().releaseRunGuard();
  EXPECT_TRUE(machine().acquireRunGuard());
  machine().releaseRunGuard();
  machine().releaseRunGuard();  // releasing nothing does nothing

  MachineConfig held = config;
  held.computerName = "DB-NODE-7";
  held.runGuardHeld = true;
  Machine other(held, {});
  EXPECT_EQ(other.computerName(), "DB-NODE-7");
  EXPECT_FALSE(other.acquireRunGuard());
  other.releaseRunGuard();  // another run's guard is not this caller's to release
  EXPECT_FALSE(other.acquireRunGuard());
}

TEST(MachineConstruction, RefusesDescriptionsThatDoNotHoldTogether) {
  const std::function<void(MachineConfig&)> breakages[] = {
      [](MachineConfig& c) { c.inbox[0].drive = "nowhere"; },
      [](MachineConfig& c) { c.intelController->raidVolumes[0].members[1].drive = "nowhere"; },
      [](MachineConfig& c) { c.intelController->passThrough[0].drive = "nowhere"; },
      [](MachineConfig& c) { c.intelController->passThrough[0].deviceNumber = 4; },
  };
  for (const auto& breakage : breakages) {
    MachineConfig c = sampleMachine();
    breakage(c);
    EXPECT_THROW({ Machine broken(c, {}); }, std::invalid_argument);
  }
}

// --- Injected call faults ---

class CallFaultTest : public MachineTest {
 public:
  void SetUp() override {
    set = machine().getClassDevs(&kGuidDevInterfaceDisk, kPresentInterfaces);
    devices = devicesOf(set);
    handle = open(L"\\\\.\\PHYSICALDRIVE0");
    endpoint = &script(handle);
    endpoint->next = {true, 0, {7, 7}, 2};
  }
  std::uint32_t errorOf(bool ok) { return ok ? 0 : machine().lastError(); }

  SimHandle set = kInvalidSimHandle;
  std::vector<DeviceInfoData> devices;
  SimHandle handle = kInvalidSimHandle;
  ScriptedEndpoint* endpoint = nullptr;
};

// Each row makes one kind of call fail; the probe performs one such call and
// returns its error (0 on success). Three probes run after the injection.
struct CallFaultCase {
  const char* name;
  CallFault fault;
  std::function<std::uint32_t(CallFaultTest&)> probe;
  std::vector<std::uint32_t> expected;
};

std::uint32_t probeClassDevs(CallFaultTest& t) {
  const SimHandle s = t.machine().getClassDevs(&kGuidDevInterfaceDisk, kPresentInterfaces);
  return s == kInvalidSimHandle ? t.machine().lastError() : 0;
}

TEST_F(CallFaultTest, EveryKindOfCallCanBeMadeToFail) {
  const std::wstring disk1 = wide(config.inbox[1].interfacePath);
  const auto property = [](const PropertyKey& key) {
    return [key](CallFaultTest& t) {
      std::uint32_t type = 0;
      std::uint32_t required = 0;
      std::vector<std::uint8_t> buffer(512);
      return t.errorOf(t.machine().getDeviceProperty(t.set, t.devices[0], key, &type, buffer.data(),
                                                     512, &required));
    };
  };
  const auto detail = [](std::uint32_t index) {
    return [index](CallFaultTest& t) {
      DeviceInterfaceData data = freshInterface();
      t.machine().enumDeviceInterfaces(t.set, nullptr, kGuidDevInterfaceDisk, index, data);
      std::vector<std::uint8_t> buffer(1024);
      const std::uint32_t cbSize = 8;
      std::memcpy(buffer.data(), &cbSize, 4);
      return t.errorOf(
          t.machine().getDeviceInterfaceDetail(t.set, data, buffer.data(), 1024, nullptr, nullptr));
    };
  };
  const auto request = [](std::uint32_t code) {
    return [code](CallFaultTest& t) {
      std::uint8_t buffer[2] = {};
      std::uint32_t returned = 0;
      return t.errorOf(
          t.machine().deviceIoControl(t.handle, code, buffer, 2, buffer, 2, &returned));
    };
  };
  const auto openPath = [](std::wstring path) {
    return [path](CallFaultTest& t) {
      const SimHandle h = t.machine().createFile(path.c_str(), kGenericReadWrite, 3, 3, 0);
      return h == kInvalidSimHandle ? t.machine().lastError() : 0;
    };
  };
  PropertyKey parent = kDevPKeyParent;
  const std::uint32_t E = 1117;
  const std::vector<CallFaultCase> cases = {
      {"device set, second", Inject(CallKind::GetClassDevs, 2, E), probeClassDevs, {0, E, 0}},
      {"device set, every",
       Inject(CallKind::GetClassDevs, std::nullopt, 31),
       probeClassDevs,
       {31, 31, 31}},
      {"enumeration step by index",
       Inject(CallKind::EnumDeviceInfo, std::nullopt, E).index(1),
       [](CallFaultTest& t) {
         DeviceInfoData info = freshInfo();
         const std::uint32_t first = t.errorOf(t.machine().enumDeviceInfo(t.set, 0, info));
         const std::uint32_t second = t.errorOf(t.machine().enumDeviceInfo(t.set, 1, info));
         return first != 0 ? first : second;
       },
       {E, E, E}},
      {"interface enumeration, first",
       Inject(CallKind::EnumDeviceInterfaces, 1, E),
       [](CallFaultTest& t) {
         DeviceInterfaceData data = freshInterface();
         return t.errorOf(
             t.machine().enumDeviceInterfaces(t.set, nullptr, kGuidDevInterfaceDisk, 0, data));
       },
       {E, 0, 0}},
      {"interface detail by path",
       Inject(CallKind::GetInterfaceDetail, std::nullopt, E).path(upper(disk1)),
       detail(1),
       {E, E, E}},
      {"interface detail of another path",
       Inject(CallKind::GetInterfaceDetail, std::nullopt, E).path(disk1),
       detail(0),
       {0, 0, 0}},
      {"property by key",
       Inject(CallKind::GetDeviceProperty, 3, E).key(parent),
       property(kDevPKeyParent),
       {0, 0, E}},
      {"property of another key",
       Inject(CallKind::GetDeviceProperty, std::nullopt, E).key(parent),
       property(kDevPKeyInstanceId),
       {0, 0, 0}},
      {"registry property",
       Inject(CallKind::GetRegistryProperty, 2, E),
       [](CallFaultTest& t) {
         std::vector<std::uint8_t> buffer(1024);
         std::uint32_t required = 0;
         return t.errorOf(t.machine().getDeviceRegistryProperty(t.set, t.devices[0], 1, nullptr,
                                                                buffer.data(), 1024, &required));
       },
       {0, E, 0}},
      {"open by path",
       Inject(CallKind::CreateFile, 2, E).path(L"\\\\.\\physicaldrive4"),
       openPath(L"\\\\.\\PHYSICALDRIVE4"),
       {0, E, 0}},
      {"open of another path",
       Inject(CallKind::CreateFile, std::nullopt, E).path(L"\\\\.\\PHYSICALDRIVE4"),
       openPath(L"\\\\.\\PHYSICALDRIVE0"),
       {0, 0, 0}},
      {"request by control code",
       Inject(CallKind::DeviceIoControl, std::nullopt, E).code(0x2D1400),
       request(0x2D1400),
       {E, E, E}},
      {"request of another control code",
       Inject(CallKind::DeviceIoControl, std::nullopt, E).code(0x2D1400),
       request(0x4D008),
       {0, 0, 0}},
      {"request by path",
       Inject(CallKind::DeviceIoControl, 1, E).path(L"\\\\.\\PHYSICALDRIVE0"),
       request(1),
       {E, 0, 0}},
      {"close",
       Inject(CallKind::CloseHandle, 1, E),
       [](CallFaultTest& t) {
         const SimHandle h = t.open(L"\\\\.\\Scsi0:");
         return t.errorOf(t.machine().closeHandle(h));
       },
       {E, 0, 0}},
      {"destroy",
       Inject(CallKind::DestroyDeviceInfoList, 2, E),
       [](CallFaultTest& t) {
         const SimHandle s = t.machine().getClassDevs(nullptr, kPresentAllClasses);
         return t.errorOf(t.machine().destroyDeviceInfoList(s));
       },
       {0, E, 0}},
  };
  for (const CallFaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    // A fresh machine per row, so that faults of one row do not reach the
    // next; calls made before the injection do not count.
    TearDown();
    config = sampleMachine();
    resetMachine();
    SetUp();
    c.probe(*this);
    machine().injectCallFault(c.fault);
    std::vector<std::uint32_t> errors;
    for (std::size_t i = 0; i < c.expected.size(); ++i) {
      machine().setLastError(0);
      errors.push_back(c.probe(*this));
    }
    EXPECT_EQ(errors, c.expected);
  }
}

TEST_F(CallFaultTest, InjectedFailuresActBeforeTheCallHasAnyEffect) {
  machine().injectCallFault(
      Inject(CallKind::CreateFile, std::nullopt, 1117).path(L"\\\\.\\PHYSICALDRIVE0"));
  machine().injectCallFault(Inject(CallKind::DeviceIoControl, std::nullopt, 1117));
  machine().injectCallFault(Inject(CallKind::EnumDeviceInfo, std::nullopt, 1117));
  machine().injectCallFault(Inject(CallKind::CloseHandle, std::nullopt, 1117));
  const std::uint32_t opensBefore = machine().driveReports()[0].requests[0];

  EXPECT_EQ(open(L"\\\\.\\PHYSICALDRIVE0"), kInvalidSimHandle);
  EXPECT_EQ(machine().driveReports()[0].requests[0], opensBefore);  // never reached the drive

  std::vector<std::uint8_t> buffer(4, 0x11);
  std::uint32_t returned = 9;
  EXPECT_FALSE(machine().deviceIoControl(handle, 1, buffer.data(), 4, buffer.data(), 4, &returned));
  EXPECT_EQ(endpoint->requests, 0);
  EXPECT_EQ(buffer, std::vector<std::uint8_t>(4, 0x11));
  EXPECT_EQ(returned, 9u);

  DeviceInfoData info = freshInfo();
  EXPECT_FALSE(machine().enumDeviceInfo(set, 0, info));
  EXPECT_EQ(info.devInst, 0u);
  EXPECT_EQ(info.reserved, 0u);

  EXPECT_FALSE(machine().closeHandle(handle));
  EXPECT_EQ(machine().lastError(), 1117u);
  EXPECT_EQ(machine().handlesLeftOpen(), 2u);  // the set and the handle
}

}  // namespace
}  // namespace zevsim
