// NVMe disk enumeration on the inbox driver, against the simulated device
// tree: the vendor and "NVMe" matches, the device-number path, and every way
// the walk can end, each leaving no device set or handle behind.
#include "discovery/inbox_enumeration.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "discovery/device_property.hpp"
#include "platform/platform_constants.hpp"
#include "support/bound_machine.hpp"

namespace zev {
namespace {

using testsupport::callFault;
using InboxMachine = testsupport::CapturedMachine;

std::string machineWithInbox(const std::string& inboxDisks,
                             const std::string& drives = R"({ "id": "a" })") {
  return R"({ "description": "inbox enumeration", "drives": [)" + drives + R"(], "inbox": [)" +
         inboxDisks + "] }";
}

struct MatchCase {
  const char* name;
  std::string inboxDisk;  // one INBOX_DISK object for drive "a"
  std::vector<std::wstring> expectedPaths;
};

// The enumeration on a machine where every matching disk can be examined.
int enumerateHealthy(DiskList& candidates) {
  UnexaminedList unexamined;
  const int result = enumerateInboxNvmeDisks(candidates, unexamined);
  EXPECT_TRUE(unexamined.empty());
  return result;
}

TEST(InboxEnumeration, MatchesVendorAndNvmeExactly) {
  const std::vector<MatchCase> cases = {
      {"defaults", R"({ "drive": "a" })", {L"\\\\.\\PHYSICALDRIVE0"}},
      {"device number 3", R"({ "drive": "a", "deviceNumber": 3 })", {L"\\\\.\\PHYSICALDRIVE3"}},
      {"device number 12", R"({ "drive": "a", "deviceNumber": 12 })", {L"\\\\.\\PHYSICALDRIVE12"}},
      {"vendor in lower case",
       R"({ "drive": "a", "parentInstanceId": "PCI\\ven_1d9b&DEV_2700\\4&1&0&00E8" })",
       {}},
      {"another vendor",
       R"({ "drive": "a", "parentInstanceId": "PCI\\VEN_1E4F&DEV_5013\\4&1&0&00E9" })",
       {}},
      {"vendor anywhere in the parent",
       R"({ "drive": "a", "parentInstanceId": "ACPI\\X&VEN_1D9B" })",
       {L"\\\\.\\PHYSICALDRIVE0"}},
      {"no parent property", R"({ "drive": "a", "parentInstanceId": null })", {}},
      {"no hardware identifiers", R"({ "drive": "a", "hardwareIds": null })", {}},
      {"empty hardware identifiers", R"({ "drive": "a", "hardwareIds": [] })", {}},
      {"NVMe only in capitals",
       R"({ "drive": "a", "hardwareIds": ["SCSI\\DiskNVME_X", "NVME"] })",
       {}},
      {"NVMe in the last identifier",
       R"({ "drive": "a", "hardwareIds": ["GenDisk", "SCSI\\Disk", "xNVMex"] })",
       {L"\\\\.\\PHYSICALDRIVE0"}},
      {"NVMe in two identifiers gives one candidate",
       R"({ "drive": "a", "hardwareIds": ["SCSI\\DiskNVMe_A", "NVMe_B"] })",
       {L"\\\\.\\PHYSICALDRIVE0"}},
      {"no instance identifier", R"({ "drive": "a", "instanceId": null })", {}},
  };
  for (const MatchCase& c : cases) {
    SCOPED_TRACE(c.name);
    InboxMachine sim(machineWithInbox(c.inboxDisk));
    DiskList candidates;
    EXPECT_EQ(enumerateHealthy(candidates), 1);
    ASSERT_EQ(candidates.size(), c.expectedPaths.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      EXPECT_EQ(candidates[i].devicePath, c.expectedPaths[i]);
    }
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
    EXPECT_EQ(sim.console(), "");
  }
}

TEST(InboxEnumeration, CandidateCarriesAddressingOnly) {
  InboxMachine sim(machineWithInbox(R"({ "drive": "a", "deviceNumber": 3 })"));
  DiskList candidates(1);  // an earlier candidate stays in front
  candidates[0].devicePath = L"earlier";
  EXPECT_EQ(enumerateHealthy(candidates), 1);
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(candidates[0].devicePath, L"earlier");
  const DiskInfo& disk = candidates[1];
  EXPECT_EQ(disk.devicePath, L"\\\\.\\PHYSICALDRIVE3");
  EXPECT_EQ(disk.pathId, -1);
  EXPECT_EQ(disk.driverKind, DriverKind::Inbox);
  EXPECT_TRUE(disk.modelNumber.empty());
  EXPECT_TRUE(disk.serialNumber.empty());
  EXPECT_TRUE(disk.firmwareRevision.empty());
  EXPECT_EQ(disk.updateGranularity, 1);
  EXPECT_EQ(disk.vrocDiskId, 0u);
  EXPECT_EQ(disk.resultCode, 0);

  // The platform calls: the disk-interface set with DIGCF_PRESENT |
  // DIGCF_DEVICEINTERFACE, the open of the interface path read/write with
  // read/write sharing, and the device-number request with 12 output bytes.
  const auto sets = sim.calls(zevsim::CallKind::GetClassDevs);
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].setFlags, 0x12u);
  const auto opens = sim.calls(zevsim::CallKind::CreateFile);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].path, sim.inboxInterfacePath(0));
  EXPECT_EQ(opens[0].access, 0xC0000000u);
  EXPECT_EQ(opens[0].shareMode, 3u);
  EXPECT_EQ(opens[0].disposition, 3u);
  EXPECT_EQ(opens[0].flags, 0u);
  const auto numbers = sim.requests(platform::kIoctlStorageGetDeviceNumber);
  ASSERT_EQ(numbers.size(), 1u);
  EXPECT_EQ(numbers[0].inSize, 0u);
  EXPECT_EQ(numbers[0].outSize, 12u);
  EXPECT_EQ(sim.calls(zevsim::CallKind::DestroyDeviceInfoList).size(), 1u);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(InboxEnumeration, OneCandidatePerDiskInDeviceOrder) {
  InboxMachine sim(machineWithInbox(
      R"({ "drive": "a", "deviceNumber": 5 }, { "drive": "b", "deviceNumber": 1 },
         { "drive": "a", "deviceNumber": 2 })",
      R"({ "id": "a" }, { "id": "b" })"));
  DiskList candidates;
  EXPECT_EQ(enumerateHealthy(candidates), 1);
  ASSERT_EQ(candidates.size(), 3u);
  EXPECT_EQ(candidates[0].devicePath, L"\\\\.\\PHYSICALDRIVE5");
  EXPECT_EQ(candidates[1].devicePath, L"\\\\.\\PHYSICALDRIVE1");
  EXPECT_EQ(candidates[2].devicePath, L"\\\\.\\PHYSICALDRIVE2");
}

TEST(InboxEnumeration, UnopenableDiskIsSetAsideAndTheWalkGoesOn) {
  InboxMachine sim(machineWithInbox(
      R"({ "drive": "a", "deviceNumber": 0 }, { "drive": "b", "deviceNumber": 1 },
         { "drive": "c", "deviceNumber": 2 })",
      R"({ "id": "a" }, { "id": "b", "faults": [ { "request": "open", "error": 5 } ] },
         { "id": "c" })"));
  DiskList candidates;
  UnexaminedList unexamined;
  EXPECT_EQ(enumerateInboxNvmeDisks(candidates, unexamined), 1);
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(candidates[0].devicePath, L"\\\\.\\PHYSICALDRIVE0");
  EXPECT_EQ(candidates[1].devicePath, L"\\\\.\\PHYSICALDRIVE2");
  EXPECT_EQ(unexamined,
            (UnexaminedList{{sim.inboxInterfacePath(1), 5, false, "Failed to get disk handle: 0x5",
                             1, FailedRequest{RequestKind::Open, FailureForm::Error, 5}}}));
  EXPECT_EQ(sim.calls(zevsim::CallKind::DestroyDeviceInfoList).size(), 1u);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
  EXPECT_EQ(sim.console(), "  [ERROR] Failed to get disk handle: 0x5\n\n");
}

TEST(InboxEnumeration, FailedDeviceNumberSkipsOnlyThatDisk) {
  InboxMachine sim(machineWithInbox(
      R"({ "drive": "a", "deviceNumber": 0 }, { "drive": "b", "deviceNumber": 1 })",
      R"({ "id": "a", "faults": [ { "request": "deviceNumber", "error": 1117 } ] },
         { "id": "b" })"));
  DiskList candidates;
  UnexaminedList unexamined;
  EXPECT_EQ(enumerateInboxNvmeDisks(candidates, unexamined), 1);
  ASSERT_EQ(candidates.size(), 1u);
  EXPECT_EQ(candidates[0].devicePath, L"\\\\.\\PHYSICALDRIVE1");
  EXPECT_EQ(
      unexamined,
      (UnexaminedList{{sim.inboxInterfacePath(0), 1117, false, "Get device number failed: 0x45d", 0,
                       FailedRequest{RequestKind::DeviceNumber, FailureForm::Error, 1117}}}));
  EXPECT_EQ(sim.console(), "  [ERROR] Get device number failed: 0x45d\n\n");
  // Only one device-number request per disk, though disk a has more NVMe
  // identifiers: a disk whose request failed is done.
  EXPECT_EQ(sim.requests(platform::kIoctlStorageGetDeviceNumber).size(), 2u);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(InboxEnumeration, NoDeviceSet) {
  InboxMachine sim(machineWithInbox(R"({ "drive": "a" })"));
  sim.machine().injectCallFault(testsupport::callFault(zevsim::CallKind::GetClassDevs, 13));
  DiskList candidates;
  EXPECT_EQ(enumerateHealthy(candidates), 0);
  EXPECT_TRUE(candidates.empty());
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(InboxEnumeration, EmptyDeviceSet) {
  InboxMachine sim(R"({ "description": "no disks" })");
  DiskList candidates;
  EXPECT_EQ(enumerateHealthy(candidates), 1);
  EXPECT_TRUE(candidates.empty());
  EXPECT_EQ(sim.calls(zevsim::CallKind::DestroyDeviceInfoList).size(), 1u);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

struct CallFaultCase {
  const char* name;
  zevsim::CallFault fault;
  std::vector<std::wstring> expectedPaths;
};

// Failures of single platform calls on a machine of two disks: a failed
// identifier read or interface lookup moves on to the next hardware
// identifier, or to the next device when there is none.
TEST(InboxEnumeration, PlatformCallFailures) {
  using zevsim::CallKind;
  const zevsim::PropertyKey instanceIdKey{
      {0x78C34FC8u, 0x104A, 0x4ACA, {0x9E, 0xA4, 0x52, 0x4D, 0x52, 0x99, 0x6E, 0x57}}, 256};
  const zevsim::PropertyKey parentKey{
      {0x4340A6C5u, 0x93FA, 0x4706, {0x97, 0x2C, 0x7B, 0x64, 0x80, 0x08, 0xA5, 0xA7}}, 8};
  const std::wstring a = L"\\\\.\\PHYSICALDRIVE0";
  const std::wstring b = L"\\\\.\\PHYSICALDRIVE1";
  const std::vector<CallFaultCase> cases = {
      {"every interface lookup", callFault(CallKind::EnumDeviceInterfaces, 259), {}},
      {"every interface detail", callFault(CallKind::GetInterfaceDetail, 1117), {}},
      // The sizing call fails with another error than 122: no buffer, so
      // the next NVMe identifier of the same disk tries again.
      {"first detail sizing call", callFault(CallKind::GetInterfaceDetail, 87, 1), {a, b}},
      {"first detail read", callFault(CallKind::GetInterfaceDetail, 1117, 2), {a, b}},
      {"first instance identifier",
       callFault(CallKind::GetDeviceProperty, 13, 1, std::nullopt, instanceIdKey),
       {a, b}},
      {"every instance identifier",
       callFault(CallKind::GetDeviceProperty, 13, std::nullopt, std::nullopt, instanceIdKey),
       {}},
      {"parent of the first disk",
       callFault(CallKind::GetDeviceProperty, 13, std::nullopt, 0, parentKey),
       {b}},
      {"hardware identifiers of the second disk",
       callFault(CallKind::GetRegistryProperty, 13, std::nullopt, 1),
       {a}},
      {"open of the first disk", callFault(CallKind::CreateFile, 32), {}},
      {"device-number request of the first disk",
       callFault(CallKind::DeviceIoControl, 1117, 1),
       {b}},
      {"enumeration of the second device", callFault(CallKind::EnumDeviceInfo, 259, 2), {a}},
  };
  for (const CallFaultCase& c : cases) {
    SCOPED_TRACE(c.name);
    InboxMachine sim(machineWithInbox(R"({ "drive": "a" }, { "drive": "b" })",
                                      R"({ "id": "a" }, { "id": "b" })"));
    sim.machine().injectCallFault(c.fault);
    DiskList candidates;
    UnexaminedList unexamined;
    EXPECT_EQ(enumerateInboxNvmeDisks(candidates, unexamined), 1);
    // Both disks fail to open; the first one's device number fails.
    EXPECT_EQ(unexamined.size(), c.fault.kind == CallKind::CreateFile        ? 2u
                                 : c.fault.kind == CallKind::DeviceIoControl ? 1u
                                                                             : 0u);
    ASSERT_EQ(candidates.size(), c.expectedPaths.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
      EXPECT_EQ(candidates[i].devicePath, c.expectedPaths[i]);
    }
    EXPECT_EQ(sim.calls(CallKind::DestroyDeviceInfoList).size(), 1u);
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
  }
}

}  // namespace
}  // namespace zev
