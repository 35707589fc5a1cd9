// The simulated device tree: device order, classes, parents and properties
// built from a machine description, and the SetupAPI value encodings.
#include "device_tree.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <stdexcept>

#include "sim/sample_machine.hpp"

namespace zevsim {
namespace {

using test::inboxDisk;

// Two other controllers, two inbox disks, an Intel controller with two RAID
// volumes and one pass-through disk.
MachineConfig sampleMachine() {
  MachineConfig c;
  for (const char* id : {"boot", "data", "m1", "m2", "pt"}) {
    c.drives.push_back(test::sampleDrive(id));
  }
  c.otherControllers = {
      {"PCI\\VEN_1022&DEV_7901&SUBSYS_00000000&REV_51\\3&2411E6FE&1&91",
       "Standard SATA AHCI Controller",
       "\\\\?\\pci#ven_1022&dev_7901#3&2411e6fe&1&91#{2accfe60-c130-11d2-b082-00a0c91efb8b}"},
      {"PCI\\VEN_10DE&DEV_0FB9\\3&1&0&09", std::nullopt,
       "\\\\?\\pci#ven_10de&dev_0fb9#3&1&0&09#{2accfe60-c130-11d2-b082-00a0c91efb8b}"}};
  c.inbox = {inboxDisk("boot", 0), inboxDisk("data", 4)};
  IntelControllerConfig intel;
  intel.driverDesc = "Intel(R) Chipset SATA/PCIe RST Premium Controller";
  intel.instanceId = "PCI\\VEN_8086&DEV_A77F&SUBSYS_0A5D1028&REV_00\\3&11583659&0&B8";
  intel.interfacePath =
      "\\\\?\\pci#ven_8086&dev_a77f&subsys_0a5d1028&rev_00#3&11583659&0&b8#"
      "{2accfe60-c130-11d2-b082-00a0c91efb8b}";
  intel.raidVolumes = {
      {{{"m1", 0}, {"m2", 1}}, "SCSI\\DISK&VEN_INTEL&PROD_RAID1\\4&1&0&000100", "\\\\?\\raid0", 1},
      {{{"m1", 0}}, std::nullopt, "\\\\?\\raid1", 2}};
  intel.passThrough = {{"pt", 3, "Bus Number 3, Target Id 0, LUN 0", std::nullopt,
                        "\\\\?\\scsi#disk&ven_nvme&prod_pt#1#{53f56307}", 5}};
  c.intelController = intel;
  return c;
}

struct ExpectedDevice {
  DeviceRole role;
  std::size_t configIndex;
  std::string interfacePath;
};

TEST(DeviceTree, ListsDevicesInMachineOrderWithUniqueInstanceHandles) {
  const MachineConfig c = sampleMachine();
  const IntelControllerConfig& intel = *c.intelController;
  const std::vector<ExpectedDevice> expected = {
      {DeviceRole::OtherController, 0, c.otherControllers[0].interfacePath},
      {DeviceRole::OtherController, 1, c.otherControllers[1].interfacePath},
      {DeviceRole::InboxController, 0, c.inbox[0].controllerInterfacePath},
      {DeviceRole::InboxDisk, 0, c.inbox[0].interfacePath},
      {DeviceRole::InboxController, 1, c.inbox[1].controllerInterfacePath},
      {DeviceRole::InboxDisk, 1, c.inbox[1].interfacePath},
      {DeviceRole::IntelController, 0, intel.interfacePath},
      {DeviceRole::RaidVolumeDisk, 0, intel.raidVolumes[0].interfacePath},
      {DeviceRole::RaidVolumeDisk, 1, intel.raidVolumes[1].interfacePath},
      {DeviceRole::PassThroughDisk, 0, intel.passThrough[0].interfacePath},
  };
  const std::vector<DeviceNode> tree = buildDeviceTree(c);
  ASSERT_EQ(tree.size(), expected.size());
  std::set<std::uint32_t> devInsts;
  for (std::size_t i = 0; i < tree.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(tree[i].role, expected[i].role);
    EXPECT_EQ(tree[i].configIndex, expected[i].configIndex);
    EXPECT_EQ(tree[i].interfacePath, widen(expected[i].interfacePath));
    EXPECT_NE(tree[i].devInst, 0u);
    devInsts.insert(tree[i].devInst);
  }
  EXPECT_EQ(devInsts.size(), tree.size());
}

TEST(DeviceTree, DisksAndControllersCarryTheirClasses) {
  for (const DeviceNode& node : buildDeviceTree(sampleMachine())) {
    const bool disk = node.role == DeviceRole::InboxDisk ||
                      node.role == DeviceRole::RaidVolumeDisk ||
                      node.role == DeviceRole::PassThroughDisk;
    SCOPED_TRACE(static_cast<int>(node.role));
    EXPECT_EQ(node.interfaceClass, disk ? kGuidDevInterfaceDisk : kGuidDevInterfaceStoragePort);
    EXPECT_EQ(node.setupClass, disk ? kGuidDevClassDiskDrive : kGuidDevClassScsiAdapter);
    EXPECT_EQ(node.diskNumber.has_value(), disk);
  }
}

TEST(DeviceTree, NullValuesAreAbsentProperties) {
  MachineConfig c = sampleMachine();
  c.inbox[0].parentInstanceId.reset();
  c.inbox[0].hardwareIds.reset();
  c.inbox[0].instanceId.reset();
  c.intelController->driverDesc.reset();
  c.intelController->passThrough[0].locationInfo.reset();
  const std::vector<DeviceNode> tree = buildDeviceTree(c);
  EXPECT_FALSE(tree[3].parent.has_value());
  EXPECT_FALSE(tree[3].hardwareIds.has_value());
  EXPECT_FALSE(tree[3].instanceId.has_value());
  EXPECT_FALSE(tree[6].driverDesc.has_value());
  EXPECT_FALSE(tree[9].locationInfo.has_value());
}

TEST(DeviceTree, WithoutIntelControllerEndsAfterTheInboxDisks) {
  MachineConfig c = sampleMachine();
  c.intelController.reset();
  const std::vector<DeviceNode> tree = buildDeviceTree(c);
  ASSERT_EQ(tree.size(), 6u);
  EXPECT_EQ(tree.back().role, DeviceRole::InboxDisk);
}

// Reads wchar_t values back from bytes, independently of the encoder.
std::vector<std::wstring> decodeWideStrings(const std::vector<std::uint8_t>& bytes) {
  std::vector<std::wstring> out(1);
  for (std::size_t at = 0; at + sizeof(wchar_t) <= bytes.size(); at += sizeof(wchar_t)) {
    wchar_t c = 0;
    std::memcpy(&c, bytes.data() + at, sizeof(c));
    if (c == 0) {
      out.emplace_back();
    } else {
      out.back().push_back(c);
    }
  }
  return out;
}

TEST(DeviceTree, DevPropStringIsTheTextAndItsNul) {
  const std::vector<std::uint8_t> bytes = encodeDevPropString(L"PCI\\VEN_8086");
  EXPECT_EQ(bytes.size(), 13 * sizeof(wchar_t));
  const std::vector<std::wstring> parts = decodeWideStrings(bytes);
  ASSERT_EQ(parts.size(), 2u);  // the text, then what follows its NUL
  EXPECT_EQ(parts[0], L"PCI\\VEN_8086");
  EXPECT_EQ(parts[1], L"");
  EXPECT_EQ(encodeDevPropString(L"").size(), sizeof(wchar_t));
}

TEST(DeviceTree, MultiSzEndsWithAnEmptyString) {
  const struct {
    std::vector<std::wstring> strings;
    std::size_t characters;  // every NUL included
  } cases[] = {{{L"A", L"BC"}, 6}, {{L"GenDisk"}, 9}, {{}, 1}};
  for (const auto& c : cases) {
    const std::vector<std::uint8_t> bytes = encodeMultiSz(c.strings);
    EXPECT_EQ(bytes.size(), c.characters * sizeof(wchar_t));
    std::vector<std::wstring> parts = decodeWideStrings(bytes);
    // Splitting at every NUL: the strings, the empty string that ends the
    // list, and the (empty) rest after the last NUL.
    std::vector<std::wstring> expected = c.strings;
    expected.emplace_back();
    expected.emplace_back();
    EXPECT_EQ(parts, expected);
  }
}

TEST(DeviceTree, ScsiHardwareIdsFollowTheInquiryLayout) {
  // Vendor, product and revision cut or padded to 8, 16 and 4 characters.
  const std::vector<std::wstring> ids =
      scsiDiskHardwareIds("NVMe", "KELDORA TQ270c 1TB", "KTW3LMZB");
  const std::vector<std::wstring> expected = {
      L"SCSI\\DiskNVMe____KELDORA_TQ270c_1KTW3",
      L"SCSI\\DiskNVMe____KELDORA_TQ270c_1",
      L"SCSI\\DiskNVMe____",
      L"SCSI\\NVMe____KELDORA_TQ270c_1K",
      L"NVMe____KELDORA_TQ270c_1K",
      L"GenDisk",
  };
  EXPECT_EQ(ids, expected);
  // Bytes that may not appear in an identifier become '_'.
  const std::vector<std::wstring> odd = scsiDiskHardwareIds("A,B", std::string("x\0y", 3), "\xE9");
  EXPECT_EQ(odd[0], L"SCSI\\DiskA_B_____x_y_________________");
}

TEST(DeviceTree, PciHardwareIdsShortenTheDeviceIdentifier) {
  const struct {
    const char* instanceId;
    std::vector<std::wstring> expected;
  } cases[] = {
      {"PCI\\VEN_1D9B&DEV_2700&SUBSYS_00011D9B&REV_01\\4&1A2B&0&00E8",
       {L"PCI\\VEN_1D9B&DEV_2700&SUBSYS_00011D9B&REV_01", L"PCI\\VEN_1D9B&DEV_2700&SUBSYS_00011D9B",
        L"PCI\\VEN_1D9B&DEV_2700"}},
      {"PCI\\VEN_10DE&DEV_0FB9\\3&1&0&09", {L"PCI\\VEN_10DE&DEV_0FB9"}},
      {"ROOT\\STORAGE\\0000", {L"ROOT\\STORAGE"}},
      {"NOSLASH", {L"NOSLASH"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(pciHardwareIds(c.instanceId), c.expected) << c.instanceId;
  }
}

TEST(DeviceTree, AsciiCaseFoldingOnly) {
  const struct {
    const wchar_t* a;
    const wchar_t* b;
    bool equal;
  } cases[] = {
      {L"\\\\.\\PhysicalDrive0", L"\\\\.\\PHYSICALDRIVE0", true},
      {L"\\\\?\\pci#ven_8086", L"\\\\?\\PCI#VEN_8086", true},
      {L"\\\\.\\Scsi1:", L"\\\\.\\Scsi1", false},
      {L"\u00e9", L"\u00c9", false},  // only a to z fold
      {L"[", L"{", false},            // 0x5B and 0x7B differ by 0x20 but are not letters
      {L"", L"", true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(equalsIgnoreAsciiCase(c.a, c.b), c.equal);
    EXPECT_EQ(equalsIgnoreAsciiCase(c.b, c.a), c.equal);
  }
}

}  // namespace
}  // namespace zevsim
