// Intel RAID controller detection and the disks behind it: the bus-number
// rule on location texts, then the discovery walks on simulated machines.
#include "discovery/intel_controller.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/platform_constants.hpp"
#include "support/bound_machine.hpp"

namespace zev {
namespace {

TEST(BusNumberFromLocation, FollowsTheLocationRule) {
  const struct {
    const wchar_t* location;
    std::int32_t busNumber;
  } cases[] = {// The platform's usual form.
               {L"Bus Number 2, Target Id 0, LUN 0", 2},
               {L"Bus Number 0, Target Id 0, LUN 0", 0},
               {L"Bus Number 15, Target Id 3, LUN 1", 15},
               {L"Bus Number 3,Target Id 0", 3},
               // No comma: the whole text is read.
               {L"Bus Number 7", 7},
               // Digits end at the first other character; blanks before them are skipped.
               {L"Bus Number 12abc, Target Id 0", 12},
               {L"Bus Number   4, Target Id 0", 4},
               // No digit after the second blank reads as 0.
               {L"Bus Number , Target Id 0", 0},
               {L"Bus Number x", 0},
               // A sign is read as the C runtime reads one; out-of-range values
               // saturate as a 32-bit long does.
               {L"Bus Number -4, Target Id 0", -4},
               {L"Bus Number 2147483647", 2147483647},
               {L"Bus Number 99999999999", 2147483647},
               {L"Bus Number -99999999999", -2147483647 - 1},
               // The rule reads the number after the second blank of the first field,
               // wherever "Bus Number " stands.
               {L"PCI 5 slot (Bus Number 2)", 0},
               {L"On bus 6 Bus Number 2", 6},
               // Without "Bus Number " (exact case, with its blank) there is none.
               {L"Target Id 0, LUN 0", -1},
               {L"", -1},
               {L"bus number 2, Target Id 0", -1},
               {L"Bus Number2", -1},
               {L"Bus  Number 2", -1},
               // A first field without the two blanks the rule steps over gives -1,
               // never a read past the field or the text.
               {L"Port_#0001.Hub_#0002, Bus Number 2", -1},
               {L"Slot 1, Bus Number 4", -1},
               {L"A ,Bus Number 4", -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(busNumberFromLocation(c.location), c.busNumber)
        << "location: " << testing::PrintToString(std::wstring(c.location));
  }
}

using testsupport::BoundMachine;
using testsupport::callFault;
using testsupport::simKey;
using testsupport::wide;
using zevsim::CallFault;
using zevsim::CallKind;

// An inbox drive, a RAID 1 volume and a pass-through drive on bus 3; extra
// keys (each beginning with a comma) for the controller and the machine.
std::string raidAndPassThrough(const std::string& controllerKeys = "",
                               const std::string& machineKeys = "") {
  return R"({ "drives": [ { "id": "boot" }, { "id": "a" }, { "id": "b" }, { "id": "p" } ],
    "inbox": [ { "drive": "boot" } ],
    "intelController": {
      "raidVolumes": [ { "members": [ { "drive": "a", "port": 0 }, { "drive": "b", "port": 1 } ] } ],
      "passThrough": [ { "drive": "p", "busNumber": 3 } ])" +
         controllerKeys + " }" + machineKeys + " }";
}

TEST(FindIntelRaidController, FindsTheControllerAndItsDisks) {
  BoundMachine sim(raidAndPassThrough());
  RaidControllerInfo controller;
  UnexaminedList detectionUnexamined;
  ASSERT_TRUE(findIntelRaidController(controller, detectionUnexamined));
  EXPECT_TRUE(controller.found);
  // The path exactly as the platform returns it, not the upper-cased copy.
  EXPECT_EQ(controller.controllerPath, sim.controllerPath());
  EXPECT_NE(controller.controllerPath.find(L"ven_8086"), std::wstring::npos);
  EXPECT_EQ(controller.instanceId, wide(sim.config().intelController->instanceId));

  DiskList candidates;
  UnexaminedList unexamined;
  EXPECT_EQ(enumerateIntelControllerDisks(controller, candidates, unexamined), 1);
  EXPECT_TRUE(unexamined.empty());
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(candidates[0].driverKind, DriverKind::IrstRaid);
  EXPECT_EQ(candidates[0].pathId, -1);
  EXPECT_EQ(candidates[0].devicePath, sim.controllerPath());
  EXPECT_EQ(candidates[1].driverKind, DriverKind::IrstNonRaid);
  EXPECT_EQ(candidates[1].pathId, 3);
  EXPECT_EQ(candidates[1].devicePath, sim.controllerPath());
  for (const DiskInfo& candidate : candidates) {
    EXPECT_TRUE(candidate.modelNumber.empty());
    EXPECT_EQ(candidate.updateGranularity, 1);
  }

  // The controller and the pass-through disk are opened only to prove they
  // open; nothing is sent to any of them.
  const auto opens = sim.calls(CallKind::CreateFile);
  ASSERT_EQ(opens.size(), 2u);
  EXPECT_EQ(opens[0].path, sim.controllerPath());
  EXPECT_EQ(opens[0].access, platform::kGenericReadWrite);
  EXPECT_EQ(opens[0].shareMode, platform::kFileShareReadWrite);
  EXPECT_EQ(opens[0].flags, platform::kFileFlagOverlapped | platform::kFileAttributeNormal);
  EXPECT_EQ(opens[1].path, wide(sim.config().intelController->passThrough[0].interfacePath));
  EXPECT_EQ(opens[1].shareMode, platform::kFileShareReadWrite);
  EXPECT_EQ(opens[1].flags, 0u);
  EXPECT_TRUE(sim.calls(CallKind::DeviceIoControl).empty());
  for (const auto& set : sim.calls(CallKind::GetClassDevs)) {
    EXPECT_TRUE(set.setFlags == 0x12u || set.setFlags == 0x06u) << set.setFlags;
  }
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

struct DescriptionCase {
  std::string driverDesc;  // JSON value
  bool found;
};

class IntelControllerDescription : public testing::TestWithParam<DescriptionCase> {};

TEST_P(IntelControllerDescription, DecidesWhetherTheControllerMatches) {
  BoundMachine sim(raidAndPassThrough(std::string(R"(, "driverDesc": )") + GetParam().driverDesc));
  RaidControllerInfo controller;
  UnexaminedList detectionUnexamined;
  EXPECT_EQ(findIntelRaidController(controller, detectionUnexamined), GetParam().found);
  EXPECT_EQ(controller.found, GetParam().found);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, IntelControllerDescription,
    testing::Values(DescriptionCase{R"("Intel(R) Chipset SATA/PCIe RST Premium Controller")", true},
                    DescriptionCase{R"("Intel(R) Volume Management Device NVMe RAID Controller")",
                                    true},
                    DescriptionCase{R"("Intel RST Controller")", true},
                    DescriptionCase{R"("Intel(R) Chipset SATA AHCI Controller")", false},
                    DescriptionCase{R"("intel(R) RST Premium Controller")", false},
                    DescriptionCase{R"("Intel(R) RST Premium controller")", false},
                    DescriptionCase{R"("Intel(R) Rst Premium Controller")", false},
                    DescriptionCase{R"("Intel(R) RAID")", false},
                    // The description is read whole: a character outside ASCII before
                    // the words, or words past the 256th character, still match.
                    DescriptionCase{R"("Intel\u00AE RST Premium Controller")", true},
                    DescriptionCase{"\"" + std::string(300, '-') + " Intel RST Controller\"", true},
                    // Without a description the instance identifier is the text, and it
                    // names no Intel controller.
                    DescriptionCase{"null", false}));

TEST(FindIntelRaidController, AnInterfacePathOfAnotherVendorDoesNotMatch) {
  BoundMachine sim(raidAndPassThrough(
      R"(, "interfacePath": "\\\\?\\pci#ven_1022&dev_7905#3&11583659&0&b8#{2accfe60-c130-11d2-b082-00a0c91efb8b}")"));
  RaidControllerInfo controller;
  UnexaminedList detectionUnexamined;
  EXPECT_FALSE(findIntelRaidController(controller, detectionUnexamined));
  EXPECT_TRUE(sim.calls(CallKind::CreateFile).empty());
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(FindIntelRaidController, AnUpperCaseInterfacePathIsKeptAsGiven) {
  BoundMachine sim(raidAndPassThrough(
      R"(, "interfacePath": "\\\\?\\PCI#VEN_8086&DEV_A77F#3&11583659&0&B8#{2ACCFE60-C130-11D2-B082-00A0C91EFB8B}")"));
  RaidControllerInfo controller;
  UnexaminedList detectionUnexamined;
  ASSERT_TRUE(findIntelRaidController(controller, detectionUnexamined));
  EXPECT_EQ(controller.controllerPath,
            L"\\\\?\\PCI#VEN_8086&DEV_A77F#3&11583659&0&B8#{2ACCFE60-C130-11D2-B082-"
            L"00A0C91EFB8B}");
}

TEST(FindIntelRaidController, TheFirstMatchingControllerIsUsedForEveryIntelDisk) {
  // Another Intel RAID controller listed before the one the disks hang from.
  BoundMachine sim(raidAndPassThrough("", R"(, "otherControllers": [
        { "instanceId": "PCI\\VEN_1022&DEV_7901&SUBSYS_7901103C&REV_51\\3&1&0&91" },
        { "instanceId": "PCI\\VEN_8086&DEV_2822&SUBSYS_00008086&REV_00\\3&2&0&17",
          "driverDesc": "Intel(R) Desktop/Workstation/Server Express Chipset SATA RAID Controller" } ])"));
  RaidControllerInfo controller;
  UnexaminedList detectionUnexamined;
  ASSERT_TRUE(findIntelRaidController(controller, detectionUnexamined));
  const std::wstring first = wide(sim.config().otherControllers[1].interfacePath);
  EXPECT_EQ(controller.controllerPath, first);
  EXPECT_EQ(controller.instanceId, wide(sim.config().otherControllers[1].instanceId));

  DiskList candidates;
  UnexaminedList unexamined;
  EXPECT_EQ(enumerateIntelControllerDisks(controller, candidates, unexamined), 1);
  EXPECT_TRUE(unexamined.empty());
  ASSERT_EQ(candidates.size(), 2u);
  EXPECT_EQ(candidates[0].devicePath, first);
  EXPECT_EQ(candidates[1].devicePath, first);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

// A fault injected before detection, and what detection then reports.
struct DetectionFault {
  const char* name;
  CallKind kind;
  std::uint32_t nth;
  std::optional<platform::PropertyKey> key;
  bool found;        // the result
  bool markedFound;  // RaidControllerInfo.found afterwards
  bool controllerOpened;
  std::uint32_t error = 1117;  // 0: the call succeeds instead
  // The not-examined entry's detail of a matching controller that cannot be
  // used; "" when none.
  const char* unexamined = "";
};

class IntelDetectionFailure : public testing::TestWithParam<DetectionFault> {};

TEST_P(IntelDetectionFailure, EndsTheDetectionAndReleasesEverything) {
  // Only the Intel controller is a storage port here, so it is device 0.
  BoundMachine sim(R"({ "drives": [ { "id": "p" } ],
      "intelController": { "passThrough": [ { "drive": "p", "busNumber": 3 } ] } })");
  const auto& key = GetParam().key;
  sim.machine().injectCallFault(callFault(GetParam().kind, GetParam().error, GetParam().nth,
                                          std::nullopt,
                                          key ? std::optional(simKey(*key)) : std::nullopt));
  RaidControllerInfo controller;
  UnexaminedList detectionUnexamined;
  EXPECT_EQ(findIntelRaidController(controller, detectionUnexamined), GetParam().found);
  EXPECT_EQ(controller.found, GetParam().markedFound);
  if (*GetParam().unexamined == '\0') {
    EXPECT_TRUE(detectionUnexamined.empty());
  } else {
    ASSERT_EQ(detectionUnexamined.size(), 1u);
    EXPECT_EQ(detectionUnexamined[0].devicePath, sim.controllerPath());
    EXPECT_EQ(detectionUnexamined[0].detail, GetParam().unexamined);
    EXPECT_EQ(detectionUnexamined[0].systemError, 1117u);
  }
  std::size_t controllerOpens = 0;
  for (const auto& open : sim.calls(CallKind::CreateFile)) {
    controllerOpens += open.succeeded ? 1 : 0;
  }
  EXPECT_EQ(controllerOpens, GetParam().controllerOpened ? 1u : 0u);
  // Every set obtained is destroyed and the controller handle closed, also
  // on the ways out that fail.
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, IntelDetectionFailure,
    testing::Values(
        DetectionFault{"NoDeviceSet", CallKind::GetClassDevs, 1, {}, false, false, false},
        DetectionFault{"NoDeviceInfo", CallKind::EnumDeviceInfo, 1, {}, false, false, false},
        DetectionFault{"NoInterface", CallKind::EnumDeviceInterfaces, 1, {}, false, false, false},
        DetectionFault{
            "DetailSizeUnreadable", CallKind::GetInterfaceDetail, 1, {}, false, false, false},
        DetectionFault{
            "DetailUnreadable", CallKind::GetInterfaceDetail, 2, {}, false, false, false},
        // A sizing call that succeeds still reports the size: the detection
        // asks again with the buffer (a disk's detail reader skips the disk).
        DetectionFault{
            "DetailSizingCallSucceeds", CallKind::GetInterfaceDetail, 1, {}, true, true, true, 0},

        DetectionFault{"DescriptionUnreadable", CallKind::GetDeviceProperty, 1,
                       platform::kDevpkeyDeviceDriverDesc, false, false, false},
        DetectionFault{"ControllerDoesNotOpen",
                       CallKind::CreateFile,
                       1,
                       {},
                       false,
                       false,
                       false,
                       1117,
                       "Failed to get disk handle: 0x45d"},
        // The second instance-identifier read (after the open) fails: the
        // controller was marked found, and its handle is closed all the same.
        DetectionFault{"InstanceIdUnreadableAfterOpen", CallKind::GetDeviceProperty, 3,
                       platform::kDevpkeyDeviceInstanceId, false, true, true, 1117,
                       "Get controller instance identifier failed: 0x45d"},
        // The first instance-identifier read only supplies a fallback text.
        DetectionFault{"FirstInstanceIdUnreadable", CallKind::GetDeviceProperty, 1,
                       platform::kDevpkeyDeviceInstanceId, true, true, true}),
    [](const testing::TestParamInfo<DetectionFault>& info) { return info.param.name; });

// Runs detection and the disk walk, with a fault injected between them.
struct WalkResult {
  bool found = false;
  int result = -1;
  DiskList candidates;
  UnexaminedList unexamined;
};

WalkResult walk(BoundMachine& sim, const std::optional<CallFault>& fault = std::nullopt) {
  WalkResult out;
  RaidControllerInfo controller;
  UnexaminedList detectionUnexamined;
  out.found = findIntelRaidController(controller, detectionUnexamined);
  if (fault) {
    sim.machine().injectCallFault(*fault);
  }
  if (out.found) {
    out.result = enumerateIntelControllerDisks(controller, out.candidates, out.unexamined);
  }
  return out;
}

TEST(EnumerateIntelControllerDisks, ADiskSetThatCannotBeHadGives0) {
  BoundMachine sim(raidAndPassThrough());
  const WalkResult result = walk(sim, callFault(CallKind::GetClassDevs));
  ASSERT_TRUE(result.found);
  EXPECT_EQ(result.result, 0);
  EXPECT_TRUE(result.candidates.empty());
}

struct VolumeIdCase {
  const char* instanceId;  // JSON value for the volume disk's instance identifier
  bool listed;
  DriverKind kind;
};

class IntelVolumeInstanceId : public testing::TestWithParam<VolumeIdCase> {};

TEST_P(IntelVolumeInstanceId, DecidesTheCandidateKind) {
  BoundMachine sim(std::string(R"({ "drives": [ { "id": "a" } ],
      "intelController": { "raidVolumes": [ { "members": [ { "drive": "a", "port": 0 } ],
                                               "instanceId": )") +
                   GetParam().instanceId + " } ] } }");
  const WalkResult result = walk(sim);
  ASSERT_TRUE(result.found);
  EXPECT_EQ(result.result, 1);
  if (!GetParam().listed) {
    EXPECT_TRUE(result.candidates.empty());
    return;
  }
  ASSERT_EQ(result.candidates.size(), 1u);
  EXPECT_EQ(result.candidates[0].driverKind, GetParam().kind);
  // A volume disk has no location text: as a non-RAID disk it gets -1 too.
  EXPECT_EQ(result.candidates[0].pathId, -1);
  const bool opened = sim.calls(CallKind::CreateFile).size() > 1;
  EXPECT_EQ(opened, GetParam().kind == DriverKind::IrstNonRaid);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ids, IntelVolumeInstanceId,
    testing::Values(VolumeIdCase{R"("SCSI\\DISK&VEN_INTEL&PROD_RAID1VOLUME\\4&1&0&000000")", true,
                                 DriverKind::IrstRaid},
                    VolumeIdCase{R"("SCSI\\DISK&VEN_INTEL&PROD_SSDPEKNW010T8\\4&1&0&000000")", true,
                                 DriverKind::IrstNonRaid},
                    VolumeIdCase{R"("SCSI\\DISK&VEN_INTL&PROD_RAID1VOLUME\\4&1&0&000000")", true,
                                 DriverKind::IrstNonRaid},
                    VolumeIdCase{R"("SCSI\\DISK&VEN_Intel&PROD_RAID1VOLUME\\4&1&0&000000")", true,
                                 DriverKind::IrstNonRaid},
                    VolumeIdCase{"null", false, DriverKind::None}));

struct LocationRowCase {
  const char* locationKey;  // the pass-through disk's locationInfo key, or ""
  std::int64_t pathId;
};

class IntelPassThroughLocation : public testing::TestWithParam<LocationRowCase> {};

TEST_P(IntelPassThroughLocation, GivesThePathId) {
  BoundMachine sim(std::string(R"({ "drives": [ { "id": "p" } ],
      "intelController": { "passThrough": [ { "drive": "p", "busNumber": 5)") +
                   GetParam().locationKey + " } ] } }");
  const WalkResult result = walk(sim);
  ASSERT_TRUE(result.found);
  ASSERT_EQ(result.candidates.size(), 1u);
  EXPECT_EQ(result.candidates[0].driverKind, DriverKind::IrstNonRaid);
  EXPECT_EQ(result.candidates[0].pathId, GetParam().pathId);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, IntelPassThroughLocation,
    testing::Values(LocationRowCase{"", 5},
                    LocationRowCase{R"(, "locationInfo": "Bus Number 2, Target Id 0, LUN 0")", 2},
                    LocationRowCase{R"(, "locationInfo": "PCI Slot 2")", -1},
                    LocationRowCase{R"(, "locationInfo": "Slot 1, Bus Number 4")", -1},
                    LocationRowCase{R"(, "locationInfo": null)", -1}));

constexpr const char* kThreePassThrough =
    R"({ "drives": [ { "id": "p" }, { "id": "q" }, { "id": "r" } ],
    "intelController": { "passThrough": [ { "drive": "p", "busNumber": 1 },
                                          { "drive": "q", "busNumber": 2 },
                                          { "drive": "r", "busNumber": 3 } ] } })";

TEST(EnumerateIntelControllerDisks, ADiskThatDoesNotOpenIsSetAsideAndTheWalkGoesOn) {
  BoundMachine sim(kThreePassThrough, {}, true);
  const auto& pass = sim.config().intelController->passThrough;
  CallFault fault;
  fault.kind = CallKind::CreateFile;
  fault.path = wide(pass[1].interfacePath);
  fault.error = 5;
  const WalkResult result = walk(sim, fault);
  ASSERT_TRUE(result.found);
  EXPECT_EQ(result.result, 1);
  ASSERT_EQ(result.candidates.size(), 2u);
  EXPECT_EQ(result.candidates[0].pathId, 1);
  EXPECT_EQ(result.candidates[1].pathId, 3);
  EXPECT_EQ(
      result.unexamined,
      (UnexaminedList{{wide(pass[1].interfacePath), 5, false, "Failed to get disk handle: 0x5", 1,
                       FailedRequest{RequestKind::Open, FailureForm::Error, 5}}}));
  EXPECT_EQ(sim.console(), "  [ERROR] Failed to get disk handle: 0x5\n\n");
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

struct SkipCase {
  const char* name;
  CallKind kind;
  std::optional<platform::PropertyKey> key;
  std::uint32_t error = 1117;  // 0: the call succeeds instead
};

class IntelSkippedDisk : public testing::TestWithParam<SkipCase> {};

TEST_P(IntelSkippedDisk, IsLeftOutAndTheWalkGoesOn) {
  // The fault hits the first call of its kind after detection: the first
  // pass-through disk's.
  BoundMachine sim(kThreePassThrough);
  const auto& key = GetParam().key;
  const WalkResult result = walk(sim, callFault(GetParam().kind, GetParam().error, 1, std::nullopt,
                                                key ? std::optional(simKey(*key)) : std::nullopt));
  ASSERT_TRUE(result.found);
  EXPECT_EQ(result.result, 1);
  ASSERT_EQ(result.candidates.size(), 2u);
  EXPECT_EQ(result.candidates[0].pathId, 2);
  EXPECT_EQ(result.candidates[1].pathId, 3);
  EXPECT_TRUE(result.unexamined.empty());
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, IntelSkippedDisk,
    testing::Values(SkipCase{"ParentUnreadable", CallKind::GetDeviceProperty,
                             platform::kDevpkeyDeviceParent},
                    SkipCase{"InstanceIdUnreadable", CallKind::GetDeviceProperty,
                             platform::kDevpkeyDeviceInstanceId},
                    SkipCase{"NoInterface", CallKind::EnumDeviceInterfaces, {}},
                    SkipCase{"DetailUnreadable", CallKind::GetInterfaceDetail, {}},
                    SkipCase{"DetailSizingCallSucceeds", CallKind::GetInterfaceDetail, {}, 0}),
    [](const testing::TestParamInfo<SkipCase>& info) { return info.param.name; });

TEST(EnumerateIntelControllerDisks, AnUnreadableLocationGivesPathIdMinusOne) {
  BoundMachine sim(kThreePassThrough);
  const WalkResult result = walk(sim, callFault(CallKind::GetDeviceProperty, 1117, 1, std::nullopt,
                                                simKey(platform::kDevpkeyDeviceLocationInfo)));
  ASSERT_EQ(result.candidates.size(), 3u);
  EXPECT_EQ(result.candidates[0].pathId, -1);
  EXPECT_EQ(result.candidates[1].pathId, 2);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(EnumerateIntelControllerDisks, DisksOfOtherParentsAreNotTaken) {
  BoundMachine sim(R"({ "drives": [ { "id": "boot" } ], "inbox": [ { "drive": "boot" } ],
      "intelController": {} })");
  const WalkResult result = walk(sim);
  ASSERT_TRUE(result.found);
  EXPECT_EQ(result.result, 1);
  EXPECT_TRUE(result.candidates.empty());
}

TEST(ReadDiskBusNumber, AnInstanceHandleNoDeviceHasGivesMinusOne) {
  BoundMachine sim(kThreePassThrough);
  EXPECT_EQ(readDiskBusNumber(0x7FFFFFFFu), -1);
  EXPECT_EQ(readDiskBusNumber(0), -1);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

// The instance handles of the disk set, in device order.
std::vector<std::uint32_t> diskInstanceHandles() {
  std::vector<std::uint32_t> handles;
  const platform::DeviceSet set = platform::getClassDevs(
      platform::kGuidDevinterfaceDisk, platform::kDigcfPresent | platform::kDigcfDeviceInterface);
  platform::DeviceInfoData device;
  device.cbSize = platform::kDeviceInfoDataCbSize;
  for (std::uint32_t i = 0; platform::enumDeviceInfo(set, i, device); ++i) {
    handles.push_back(device.devInst);
  }
  platform::destroyDeviceInfoList(set);
  return handles;
}

TEST(ReadDiskBusNumber, ReadsTheLocationOfTheDeviceWithThatHandle) {
  BoundMachine sim(kThreePassThrough);
  const std::vector<std::uint32_t> handles = diskInstanceHandles();
  ASSERT_EQ(handles.size(), 3u);
  EXPECT_EQ(readDiskBusNumber(handles[0]), 1);
  EXPECT_EQ(readDiskBusNumber(handles[2]), 3);
  EXPECT_EQ(readDiskBusNumber(handles[1]), 2);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(ReadDiskBusNumber, NoDeviceSetGivesMinusOne) {
  BoundMachine sim(kThreePassThrough);
  const std::vector<std::uint32_t> handles = diskInstanceHandles();
  ASSERT_EQ(handles.size(), 3u);
  sim.machine().injectCallFault(callFault(CallKind::GetClassDevs));
  EXPECT_EQ(readDiskBusNumber(handles[0]), -1);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

}  // namespace
}  // namespace zev
