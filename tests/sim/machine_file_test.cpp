// The machine-file loader: schema errors with their JSON paths, defaults,
// Latin-1 drive text, generated identifiers, fault validation against the
// drive's stack, and the demonstration machine.
#include "zevsim/machine_file.hpp"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>

#include "sim/sample_machine.hpp"

namespace zevsim {
namespace {

constexpr const char* kFileName = "m.json";

MachineFileResult parse(const std::string& text) {
  return parseMachineFile(text, kFileName);
}

MachineConfig parseOk(const std::string& text) {
  MachineFileResult result = parse(text);
  EXPECT_TRUE(result.config.has_value()) << result.error;
  return result.config.value_or(MachineConfig{});
}

bool contains(const std::string& text, std::string_view part) {
  return text.find(part) != std::string::npos;
}

// ---------------------------------------------------------------------------
// Errors: one line "<file>: <JSON path>: <problem>".

struct ErrorCase {
  const char* name;
  const char* text;
  const char* path;
  const char* keyword;  // a word the problem must carry
};

class MachineFileError : public testing::TestWithParam<ErrorCase> {};

TEST_P(MachineFileError, NamesThePathAndTheProblemOnOneLine) {
  const ErrorCase& c = GetParam();
  const MachineFileResult result = parse(c.text);
  ASSERT_FALSE(result.config.has_value());
  const std::string prefix = std::string(kFileName) + ": " + c.path + ": ";
  ASSERT_EQ(result.error.substr(0, prefix.size()), prefix) << result.error;
  const std::string problem = result.error.substr(prefix.size());
  EXPECT_FALSE(problem.empty());
  EXPECT_TRUE(contains(problem, c.keyword)) << result.error;
  EXPECT_EQ(result.error.find('\n'), std::string::npos) << result.error;
  EXPECT_EQ(result.error.find('\r'), std::string::npos) << result.error;
}

const ErrorCase kErrorCases[] = {
    // The document itself.
    {"NotJson", "{\"drives\": [", "$", "not valid JSON"},
    {"EmptyText", "", "$", "not valid JSON"},
    {"InvalidUtf8", "{\"description\": \"\xC3\x28\"}", "$", "not valid JSON"},
    {"ParseErrorAfterALineBreak", "{\n\"drives\": [\n}", "$", "line 3"},
    {"NumberOverflowAtTheTop", "1e400", "$", "too large"},
    {"TopLevelArray", "[]", "$", "expected an object, found an array"},
    {"UnknownTopKey", R"({"drivez": []})", "$.drivez", "unknown key"},
    {"UnknownKeyWithBlank", R"({"dri ves": 1})", R"($["dri ves"])", "unknown key"},
    {"DuplicateTopKey", R"({"inbox": [], "inbox": []})", "$.inbox", "twice"},
    {"DuplicateNestedKey", R"({"drives": [{"id": "a"}, {"id": "b", "id": "c"}]})", "$.drives[1].id",
     "twice"},
    {"DescriptionNotText", R"({"description": 3})", "$.description", "expected a string"},
    {"ModuleHandleFailsNotBool", R"({"moduleHandleFails": "no"})", "$.moduleHandleFails",
     "true or false"},
    {"DrivesNotArray", R"({"drives": {}})", "$.drives", "expected an array, found an object"},
    {"ComputerNameEmpty", R"({"computerName": ""})", "$.computerName", "empty"},
    {"ComputerNameLongerThan15", R"({"computerName": "ZEVSIM-SERVER-01"})", "$.computerName",
     "16 characters"},
    {"ComputerNameNotAscii", R"({"computerName": "SERVEUR-\u00e9"})", "$.computerName", "U+00E9"},
    {"ComputerNameNotText", R"({"computerName": 1})", "$.computerName", "expected a string"},
    {"RunGuardHeldNotBool", R"({"runGuardHeld": 1})", "$.runGuardHeld", "true or false"},
    {"EventLogFailsNotBool", R"({"eventLogFails": "yes"})", "$.eventLogFails", "true or false"},
    // Drives.
    {"DriveNotObject", R"({"drives": ["a"]})", "$.drives[0]", "expected an object"},
    {"DriveUnknownKey", R"({"drives": [{"id": "a"}, {"id": "b", "fwgu": 1}]})", "$.drives[1].fwgu",
     "unknown key"},
    {"DriveWithoutId", R"({"drives": [{"model": "X"}]})", "$.drives[0].id", "missing"},
    {"DriveIdNotText", R"({"drives": [{"id": 5}]})", "$.drives[0].id", "found an integer"},
    {"DriveIdEmpty", R"({"drives": [{"id": ""}]})", "$.drives[0].id", "empty"},
    {"DriveIdNotAscii", R"({"drives": [{"id": "b\u00e9"}]})", "$.drives[0].id", "U+00E9"},
    {"DriveIdWithZero", R"({"drives": [{"id": "a\u0000"}]})", "$.drives[0].id", "U+0000"},
    {"DuplicateDriveId", R"({"drives": [{"id": "a"}, {"id": "b"}, {"id": "a"}]})", "$.drives[2].id",
     "$.drives[0]"},
    {"FwugAbove255", R"({"drives": [{"id": "a"}, {"id": "b", "fwug": 256}]})", "$.drives[1].fwug",
     "too large"},
    {"FwugBeyond64Bits", R"({"drives": [{"id": "a", "fwug": 18446744073709551616}]})",
     "$.drives[0].fwug", "too large"},
    {"FwugWithExponent", R"({"drives": [{"id": "a", "fwug": 1e20}]})", "$.drives[0].fwug",
     "too large"},
    {"FwugOverflow", R"({"drives": [{"id": "a", "fwug": 1e400}]})", "$.drives[0].fwug",
     "too large"},
    {"NegativeOverflowInAList", R"({"drives": [{"id": "a", "faults": [-1e400]}]})",
     "$.drives[0].faults[0]", "too small"},
    {"DuplicateKeyInALargeObject",
     R"({"drives": [{"id": "a", "model": "m", "serial": "s", "firmware": "f", "nvmeVersion": "1.3", "fwug": 0, "fwugStrict": false, "mdts": 0, "slots": 2, "slot1ReadOnly": true, "activeSlot": 1, "upgradeSupport": true, "imageSize": 2097152, "activation": "reset", "faults": [], "x": 0, "y": 0, "model": "n"}]})",
     "$.drives[0].model", "twice"},
    {"FwugNegative", R"({"drives": [{"id": "a", "fwug": -1}]})", "$.drives[0].fwug", "too small"},
    {"FwugFraction", R"({"drives": [{"id": "a", "fwug": 1.5}]})", "$.drives[0].fwug",
     "expected an integer"},
    {"FwugText", R"({"drives": [{"id": "a", "fwug": "1"}]})", "$.drives[0].fwug",
     "expected an integer, found a string"},
    {"FwugStrictNotBool", R"({"drives": [{"id": "a", "fwugStrict": 1}]})", "$.drives[0].fwugStrict",
     "true or false"},
    {"MdtsNotPowerOfTwo", R"({"drives": [{"id": "a", "mdts": 12288}]})", "$.drives[0].mdts",
     "power of two"},
    {"MdtsBelowPage", R"({"drives": [{"id": "a", "mdts": 2048}]})", "$.drives[0].mdts",
     "power of two"},
    {"MdtsBeyond32Bits", R"({"drives": [{"id": "a", "mdts": 8589934592}]})", "$.drives[0].mdts",
     "8589934592"},
    {"SlotsAbove7", R"({"drives": [{"id": "a", "slots": 8}]})", "$.drives[0].slots", "8"},
    {"ActiveSlotZero", R"({"drives": [{"id": "a", "activeSlot": 0}]})", "$.drives[0].activeSlot",
     "0"},
    {"ActiveSlotBeyondSlots", R"({"drives": [{"id": "a", "slots": 2, "activeSlot": 3}]})",
     "$.drives[0].activeSlot", "2 slots"},
    {"ActiveSlotBeyondDefaultSlots", R"({"drives": [{"id": "a", "activeSlot": 4}]})",
     "$.drives[0].activeSlot", "2 slots"},
    {"NvmeVersionWithoutMinor", R"({"drives": [{"id": "a", "nvmeVersion": "1"}]})",
     "$.drives[0].nvmeVersion", "major.minor"},
    {"NvmeVersionWithTertiary", R"({"drives": [{"id": "a", "nvmeVersion": "1.3.0"}]})",
     "$.drives[0].nvmeVersion", "major.minor"},
    {"NvmeVersionMinorTooLarge", R"({"drives": [{"id": "a", "nvmeVersion": "1.256"}]})",
     "$.drives[0].nvmeVersion", "255"},
    {"NvmeVersionNotNumbers", R"({"drives": [{"id": "a", "nvmeVersion": "a.b"}]})",
     "$.drives[0].nvmeVersion", "major.minor"},
    {"NvmeVersionNumber", R"({"drives": [{"id": "a", "nvmeVersion": 1.3}]})",
     "$.drives[0].nvmeVersion", "expected a string"},
    {"NvmeVersionRawWithNvmeVersion",
     R"({"drives": [{"id": "a", "nvmeVersion": "1.4", "nvmeVersionRaw": 66560}]})",
     "$.drives[0].nvmeVersionRaw", "not both"},
    {"NvmeVersionRawBeyond32Bits", R"({"drives": [{"id": "a", "nvmeVersionRaw": 4294967296}]})",
     "$.drives[0].nvmeVersionRaw", "4294967295"},
    {"MdtsExponentWithMdts", R"({"drives": [{"id": "a", "mdts": 8192, "mdtsExponent": 1}]})",
     "$.drives[0].mdtsExponent", "not both"},
    {"MdtsExponentAboveByte", R"({"drives": [{"id": "a", "mdtsExponent": 256}]})",
     "$.drives[0].mdtsExponent", "255"},
    {"ActivationUnknown", R"({"drives": [{"id": "a", "activation": "later"}]})",
     "$.drives[0].activation", "\"later\""},
    {"ImageSizeTooSmallForRevision", R"({"drives": [{"id": "a", "imageSize": 4096}]})",
     "$.drives[0].imageSize", "4096"},
    {"ImageSizeAbove32MiB", R"({"drives": [{"id": "a", "imageSize": 33554436}]})",
     "$.drives[0].imageSize", "must be from 4120 to 33554432, not 33554436"},
    {"ImageSizeNotDwords", R"({"drives": [{"id": "a", "imageSize": 2097154}]})",
     "$.drives[0].imageSize", "multiple of 4"},
    {"UpgradeSupportNotBool", R"({"drives": [{"id": "a", "upgradeSupport": null}]})",
     "$.drives[0].upgradeSupport", "found null"},
    {"SlotFirmwareShorterThanSlots", R"({"drives": [{"id": "a", "slotFirmware": ["KTW3LMZB"]}]})",
     "$.drives[0].slotFirmware", "1 revisions for the drive's 2 slots"},
    {"SlotFirmwareLongerThanSlots",
     R"({"drives": [{"id": "a", "slots": 1, "slotFirmware": ["KTW3LMZB", "KTW8LMZB"]}]})",
     "$.drives[0].slotFirmware", "2 revisions for the drive's 1 slots"},
    {"SlotFirmwareNotArray", R"({"drives": [{"id": "a", "slotFirmware": "KTW3LMZB"}]})",
     "$.drives[0].slotFirmware", "expected an array"},
    {"SlotFirmwareLongerThan8",
     R"({"drives": [{"id": "a", "slotFirmware": ["KTW3LMZB", "KTW8LMZB0"]}]})",
     "$.drives[0].slotFirmware[1]", "9 bytes"},
    {"SlotFirmwareAboveLatin1", R"({"drives": [{"id": "a", "slotFirmware": ["KTW\u0100", "X"]}]})",
     "$.drives[0].slotFirmware[0]", "U+0100"},
    {"PendingSlotZero", R"({"drives": [{"id": "a", "pendingSlot": 0}]})", "$.drives[0].pendingSlot",
     "0"},
    {"PendingSlotBeyondSlots", R"({"drives": [{"id": "a", "pendingSlot": 3}]})",
     "$.drives[0].pendingSlot", "2 slots"},
    {"PendingSlotOnADriveWithoutSlots",
     R"({"drives": [{"id": "a", "slots": 0, "pendingSlot": 1}]})", "$.drives[0].pendingSlot",
     "0 slots"},
    {"PendingSlotNull", R"({"drives": [{"id": "a", "pendingSlot": null}]})",
     "$.drives[0].pendingSlot", "found null"},
    // Latin-1 drive text.
    {"ModelLongerThan40",
     R"({"drives": [{"id": "a", "model": "12345678901234567890123456789012345678901"}]})",
     "$.drives[0].model", "41 bytes"},
    {"SerialLongerThan20", R"({"drives": [{"id": "a", "serial": "123456789012345678901"}]})",
     "$.drives[0].serial", "21 bytes"},
    {"FirmwareLongerThan8", R"({"drives": [{"id": "a", "firmware": "KTW8LMZB0"}]})",
     "$.drives[0].firmware", "9 bytes"},
    {"FirmwareWithZerosLongerThan8",
     R"({"drives": [{"id": "a", "firmware": "KTW8\u0000\u0000\u0000\u0000\u0000"}]})",
     "$.drives[0].firmware", "9 bytes"},
    {"FirmwareAboveLatin1", R"({"drives": [{"id": "a", "firmware": "KTW\u0100"}]})",
     "$.drives[0].firmware", "U+0100"},
    {"ModelOutsideBasicPlane", R"({"drives": [{"id": "a", "model": "\ud83d\ude00"}]})",
     "$.drives[0].model", "U+1F600"},
    // Inbox disks.
    {"InboxUnknownDrive", R"({"drives": [{"id": "a"}], "inbox": [{"drive": "b"}]})",
     "$.inbox[0].drive", "\"b\""},
    {"InboxWithoutDrive", R"({"drives": [{"id": "a"}], "inbox": [{"deviceNumber": 1}]})",
     "$.inbox[0].drive", "missing"},
    {"InboxUnknownKey", R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "parent": "x"}]})",
     "$.inbox[0].parent", "unknown key"},
    {"InboxSharedDeviceNumber",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "deviceNumber": 4}, {"drive": "a", "deviceNumber": 4}]})",
     "$.inbox[1].deviceNumber", "$.inbox[0]"},
    {"InboxDefaultDeviceNumberTaken",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "deviceNumber": 1}, {"drive": "a"}]})",
     "$.inbox[1]", "default device number 1"},
    {"InboxDeviceNumberNegative",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "deviceNumber": -1}]})",
     "$.inbox[0].deviceNumber", "-1"},
    {"InboxParentNotAscii",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "parentInstanceId": "PCI\\VEN_1D9B\u00e9"}]})",
     "$.inbox[0].parentInstanceId", "ASCII"},
    {"InboxHardwareIdsNotArray",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "hardwareIds": "SCSI\\DiskNVMe"}]})",
     "$.inbox[0].hardwareIds", "expected an array"},
    {"InboxHardwareIdEmpty",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "hardwareIds": ["GenDisk", ""]}]})",
     "$.inbox[0].hardwareIds[1]", "empty"},
    {"InboxInterfacePathNull",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "interfacePath": null}]})",
     "$.inbox[0].interfacePath", "found null"},
    {"InboxSameInterfacePathInOtherCase",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "interfacePath": "\\\\?\\scsi#disk#1"}, {"drive": "a", "interfacePath": "\\\\?\\SCSI#DISK#1"}]})",
     "$.inbox[1].interfacePath", "$.inbox[0]"},
    {"InboxSameInstanceIdGivesSamePath",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "instanceId": "SCSI\\DISK\\1"}, {"drive": "a", "instanceId": "SCSI\\DISK\\1"}]})",
     "$.inbox[1]", "default interface path"},
    // The Intel controller.
    {"IntelNull", R"({"intelController": null})", "$.intelController", "expected an object"},
    {"IntelDriverUnknown", R"({"intelController": {"driver": "rst"}})", "$.intelController.driver",
     "\"rst\""},
    {"IntelUnknownKey", R"({"intelController": {"vrocport": 1}})", "$.intelController.vrocport",
     "unknown key"},
    {"VrocPortOnIrst", R"({"intelController": {"driver": "irst", "vrocPort": 1}})",
     "$.intelController.vrocPort", "\"vroc\""},
    {"VrocPortNotBelowScsiPorts",
     R"({"intelController": {"driver": "vroc", "vrocPort": 3, "scsiPorts": 3}})",
     "$.intelController.vrocPort", "0 to 2"},
    {"DefaultVrocPortBeyondScsiPorts", R"({"intelController": {"driver": "vroc", "scsiPorts": 2}})",
     "$.intelController.scsiPorts", "0 to 1"},
    {"ScsiPortsZero", R"({"intelController": {"scsiPorts": 0}})", "$.intelController.scsiPorts",
     "from 1 to 16"},
    {"ScsiPortsAbove16", R"({"intelController": {"scsiPorts": 17}})", "$.intelController.scsiPorts",
     "from 1 to 16"},
    {"RaidVolumeWithADriveTwice",
     R"({"drives": [{"id": "a"}], "intelController": {"raidVolumes": [{"members": [{"drive": "a", "port": 0}, {"drive": "a", "port": 1}]}]}})",
     "$.intelController.raidVolumes[0].members[1].drive", "already a member"},
    {"RaidVolumeMembersMissing", R"({"intelController": {"raidVolumes": [{}]}})",
     "$.intelController.raidVolumes[0].members", "missing"},
    {"RaidMemberWithoutPort",
     R"({"drives": [{"id": "a"}], "intelController": {"raidVolumes": [{"members": [{"drive": "a"}]}]}})",
     "$.intelController.raidVolumes[0].members[0].port", "missing"},
    {"RaidMemberPortAboveByte",
     R"({"drives": [{"id": "a"}], "intelController": {"raidVolumes": [{"members": [{"drive": "a", "port": 256}]}]}})",
     "$.intelController.raidVolumes[0].members[0].port", "255"},
    {"RaidMemberUnknownDrive",
     R"({"drives": [{"id": "a"}], "intelController": {"raidVolumes": [{"members": [{"drive": "A", "port": 0}]}]}})",
     "$.intelController.raidVolumes[0].members[0].drive", "\"A\""},
    {"PassThroughWithoutBusNumber",
     R"({"drives": [{"id": "a"}], "intelController": {"passThrough": [{"drive": "a"}]}})",
     "$.intelController.passThrough[0].busNumber", "missing"},
    {"PassThroughInterfacePathTaken",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "interfacePath": "\\\\?\\d"}], "intelController": {"passThrough": [{"drive": "a", "busNumber": 1, "interfacePath": "\\\\?\\D"}]}})",
     "$.intelController.passThrough[0].interfacePath", "$.inbox[0]"},
    {"OtherControllerIsAnInboxDisksController",
     R"({"drives": [{"id": "a"}], "otherControllers": [{"instanceId": "PCI\\VEN_1D9B&DEV_2700\\4&1"}], "inbox": [{"drive": "a", "parentInstanceId": "PCI\\VEN_1D9B&DEV_2700\\4&1"}]})",
     "$.inbox[0].parentInstanceId", "controllerListIndex"},
    {"IntelControllerHasAnInboxControllersPath",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "parentInstanceId": "PCI\\VEN_8086&DEV_1\\3"}], "intelController": {"instanceId": "PCI\\VEN_8086&DEV_1\\3"}})",
     "$.intelController", "NVMe controller of $.inbox[0]"},
    // The order the platform listed the devices in: one place per class.
    {"DiskListIndexTwice",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "listIndex": 0}], "intelController": {"passThrough": [{"drive": "a", "busNumber": 1, "listIndex": 0}]}})",
     "$.intelController.passThrough[0].listIndex", "$.inbox[0].listIndex"},
    {"PortListIndexTwice",
     R"({"drives": [{"id": "a"}], "otherControllers": [{"listIndex": 1}], "inbox": [{"drive": "a", "controllerListIndex": 1}]})",
     "$.inbox[0].controllerListIndex", "$.otherControllers[0].listIndex"},
    {"ListIndexNegative", R"({"intelController": {"listIndex": -1}})",
     "$.intelController.listIndex", "too small"},
    // The VROC driver's disk ids and list texts.
    {"DiskIdOnIrst",
     R"({"drives": [{"id": "a"}], "intelController": {"passThrough": [{"drive": "a", "busNumber": 1, "diskId": 5}]}})",
     "$.intelController.passThrough[0].diskId", "\"vroc\""},
    {"DiskIdZero",
     R"({"drives": [{"id": "a"}], "intelController": {"driver": "vroc", "raidVolumes": [{"members": [{"drive": "a", "port": 0, "diskId": 0}]}]}})",
     "$.intelController.raidVolumes[0].members[0].diskId", "from 1"},
    {"DiskIdTwice",
     R"({"drives": [{"id": "a"}, {"id": "b"}], "intelController": {"driver": "vroc", "raidVolumes": [{"members": [{"drive": "a", "port": 0, "diskId": 9}]}], "passThrough": [{"drive": "b", "busNumber": 1, "diskId": 9}]}})",
     "$.intelController.passThrough[0].diskId", "raidVolumes[0].members[0]"},
    {"DiskIdEqualToADefault",
     R"({"drives": [{"id": "a"}, {"id": "b"}], "intelController": {"driver": "vroc", "raidVolumes": [{"members": [{"drive": "a", "port": 0, "diskId": 2}]}], "passThrough": [{"drive": "b", "busNumber": 1}]}})",
     "$.intelController.passThrough[0]", "default disk id 2"},
    {"ListSerialLongerThan20",
     R"({"drives": [{"id": "a"}], "intelController": {"driver": "vroc", "passThrough": [{"drive": "a", "busNumber": 1, "listSerial": "123456789012345678901"}]}})",
     "$.intelController.passThrough[0].listSerial", "21 bytes"},
    {"ListModelOnIrst",
     R"({"drives": [{"id": "a"}], "intelController": {"raidVolumes": [{"members": [{"drive": "a", "port": 0, "listModel": "M"}]}]}})",
     "$.intelController.raidVolumes[0].members[0].listModel", "\"vroc\""},
    // Faults of one attachment must fit that attachment's stack.
    {"AttachmentOpenOnARaidMember",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a"}], "intelController": {"raidVolumes": [{"members": [{"drive": "a", "port": 0, "faults": [{"request": "open", "error": 5}]}]}]}})",
     "$.intelController.raidVolumes[0].members[0].faults[0].request", "this attachment"},
    {"AttachmentNvmeStatusOnAnInboxDisk",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "faults": [{"request": "download", "nvmeStatus": 2}]}]})",
     "$.inbox[0].faults[0].nvmeStatus", "\"vroc\""},
    {"AttachmentReturnCodeOnInboxIdentify",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "faults": [{"request": "identify", "returnCode": 1}]}]})",
     "$.inbox[0].faults[0].returnCode", "header"},
    {"AttachmentDeviceNumberOnAPassThroughDrive",
     R"({"drives": [{"id": "a"}], "intelController": {"driver": "vroc", "passThrough": [{"drive": "a", "busNumber": 1, "faults": [{"request": "deviceNumber", "error": 1}]}]}})",
     "$.intelController.passThrough[0].faults[0].request", "deviceNumber"},
    {"AttachmentControllerRequest",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "faults": [{"request": "csmi", "error": 1}]}]})",
     "$.inbox[0].faults[0].request", "controller"},
    {"PassThroughSharesAMemberPathId",
     R"({"drives": [{"id": "a"}, {"id": "b"}], "intelController": {"raidVolumes": [{"members": [{"drive": "a", "port": 2}]}], "passThrough": [{"drive": "b", "busNumber": 2}]}})",
     "$.intelController.passThrough[0].busNumber", "raidVolumes[0].members[0].port"},
    {"OtherControllerNotObject", R"({"otherControllers": ["x"]})", "$.otherControllers[0]",
     "expected an object"},
    {"OtherControllerUnknownKey", R"({"otherControllers": [{"driver": "x"}]})",
     "$.otherControllers[0].driver", "unknown key"},
    {"OtherControllerSharesTheIntelPath",
     R"({"otherControllers": [{"interfacePath": "\\\\?\\pci#x"}], "intelController": {"interfacePath": "\\\\?\\pci#x"}})",
     "$.intelController.interfacePath", "$.otherControllers[0]"},
    // Faults: their own keys.
    {"FaultUnknownRequest",
     R"({"drives": [{"id": "a", "faults": [{"request": "write", "error": 1}]}], "inbox": [{"drive": "a"}]})",
     "$.drives[0].faults[0].request", "\"write\""},
    {"FaultWithoutRequest",
     R"({"drives": [{"id": "a", "faults": [{"error": 1}]}], "inbox": [{"drive": "a"}]})",
     "$.drives[0].faults[0].request", "missing"},
    {"FaultWithoutForm",
     R"({"drives": [{"id": "a", "faults": [{"request": "open", "nth": 1}]}], "inbox": [{"drive": "a"}]})",
     "$.drives[0].faults[0]", "needs one of"},
    {"FaultWithTwoForms",
     R"({"drives": [{"id": "a", "faults": [{"request": "getInfo", "error": 1, "returnCode": 3}]}], "inbox": [{"drive": "a"}]})",
     "$.drives[0].faults[0].returnCode", "error"},
    {"FaultWithFormAndBufferOffset",
     R"({"drives": [{"id": "a", "faults": [{"request": "getInfo", "returnCode": 3, "dataBufferOffset": 8}]}], "inbox": [{"drive": "a"}]})",
     "$.drives[0].faults[0].dataBufferOffset", "returnCode"},
    {"FaultNthZero",
     R"({"drives": [{"id": "a", "faults": [{"request": "open", "nth": 0, "error": 2}]}], "inbox": [{"drive": "a"}]})",
     "$.drives[0].faults[0].nth", "from 1"},
    {"FaultErrorBeyond32Bits",
     R"({"drives": [{"id": "a", "faults": [{"request": "open", "error": 4294967296}]}], "inbox": [{"drive": "a"}]})",
     "$.drives[0].faults[0].error", "4294967295"},
    {"FaultNvmeStatusBeyond15Bits",
     R"({"drives": [{"id": "a", "faults": [{"request": "download", "nvmeStatus": 32768}]}], "intelController": {"driver": "vroc", "passThrough": [{"drive": "a", "busNumber": 0}]}})",
     "$.drives[0].faults[0].nvmeStatus", "32767"},
    {"FaultReturnCodeOfSuccess",
     R"({"drives": [{"id": "a", "faults": [{"request": "download", "returnCode": 0}]}], "inbox": [{"drive": "a"}]})",
     "$.drives[0].faults[0].returnCode", "success"},
    {"FaultNvmeStatusOfSuccess",
     R"({"drives": [{"id": "a", "faults": [{"request": "download", "nvmeStatus": 0}]}], "intelController": {"driver": "vroc", "passThrough": [{"drive": "a", "busNumber": 0}]}})",
     "$.drives[0].faults[0].nvmeStatus", "success"},
    {"FaultCompletionOfSuccess",
     R"({"drives": [{"id": "a", "faults": [{"request": "activate", "completion": 0}]}], "intelController": {"driver": "vroc", "passThrough": [{"drive": "a", "busNumber": 0}]}})",
     "$.drives[0].faults[0].completion", "success"},
    {"ControllerFaultReturnCodeOfSuccess",
     R"({"intelController": {"faults": [{"request": "csmi", "returnCode": 0}]}})",
     "$.intelController.faults[0].returnCode", "success"},
    {"FaultBufferOffsetOnDownload",
     R"({"drives": [{"id": "a", "faults": [{"request": "download", "dataBufferOffset": 8}]}], "inbox": [{"drive": "a"}]})",
     "$.drives[0].faults[0].dataBufferOffset", "getInfo"},
    {"FaultUnknownKey",
     R"({"drives": [{"id": "a", "faults": [{"request": "open", "error": 2, "count": 1}]}], "inbox": [{"drive": "a"}]})",
     "$.drives[0].faults[0].count", "unknown key"},
    {"DriveFaultWithControllerRequest",
     R"({"drives": [{"id": "a", "faults": [{"request": "csmi", "error": 1}]}], "inbox": [{"drive": "a"}]})",
     "$.drives[0].faults[0].request", "controller"},
    {"ControllerFaultWithDriveRequest",
     R"({"intelController": {"faults": [{"request": "identify", "error": 1}]}})",
     "$.intelController.faults[0].request", "drive"},
};

INSTANTIATE_TEST_SUITE_P(Cases, MachineFileError, testing::ValuesIn(kErrorCases), test::ByName());

// ---------------------------------------------------------------------------
// Faults that must fit the drive's or controller's stack.

constexpr const char* kInbox = R"("inbox": [{"drive": "d"}])";
constexpr const char* kIrstMember =
    R"("intelController": {"raidVolumes": [{"members": [{"drive": "d", "port": 0}]}]})";
constexpr const char* kIrstPassThrough =
    R"("intelController": {"passThrough": [{"drive": "d", "busNumber": 1}]})";
constexpr const char* kVrocMember =
    R"("intelController": {"driver": "vroc", "raidVolumes": [{"members": [{"drive": "d", "port": 0}]}]})";
constexpr const char* kVrocPassThrough =
    R"("intelController": {"driver": "vroc", "passThrough": [{"drive": "d", "busNumber": 1}]})";
constexpr const char* kInboxAndIrstMember =
    R"("inbox": [{"drive": "d"}], "intelController": {"raidVolumes": [{"members": [{"drive": "d", "port": 0}]}]})";
constexpr const char* kInboxAndVrocMember =
    R"("inbox": [{"drive": "d"}], "intelController": {"driver": "vroc", "raidVolumes": [{"members": [{"drive": "d", "port": 0}]}]})";
constexpr const char* kNowhere = "";

struct FaultFitCase {
  const char* name;
  const char* attachments;
  const char* fault;
  const char* errorPath;  // nullptr: the fault is accepted
};

class DriveFaultFit : public testing::TestWithParam<FaultFitCase> {};

TEST_P(DriveFaultFit, IsAcceptedOnlyWhereItsRequestCanFailThatWay) {
  const FaultFitCase& c = GetParam();
  std::string text = std::string(R"({"drives": [{"id": "d", "faults": [)") + c.fault + "]}]";
  if (*c.attachments != '\0') {
    text += std::string(", ") + c.attachments;
  }
  text += "}";
  const MachineFileResult result = parse(text);
  if (c.errorPath == nullptr) {
    ASSERT_TRUE(result.config.has_value()) << result.error;
    ASSERT_EQ(result.config->drives.size(), 1u);
    EXPECT_EQ(result.config->drives[0].faults.size(), 1u);
  } else {
    ASSERT_FALSE(result.config.has_value());
    EXPECT_EQ(result.error.substr(0, result.error.find(": ", 8)),
              std::string(kFileName) + ": " + c.errorPath)
        << result.error;
  }
}

const FaultFitCase kFaultFitCases[] = {
    {"InboxOpenError", kInbox, R"({"request": "open", "error": 2})", nullptr},
    {"InboxDeviceNumberError", kInbox, R"({"request": "deviceNumber", "nth": 1, "error": 1117})",
     nullptr},
    {"InboxGetInfoReturnCode", kInbox, R"({"request": "getInfo", "returnCode": 3})", nullptr},
    {"InboxGetInfoBufferOffset", kInbox, R"({"request": "getInfo", "dataBufferOffset": 100})",
     nullptr},
    {"InboxDownloadReturnCode", kInbox, R"({"request": "download", "nth": 3, "returnCode": 3})",
     nullptr},
    {"InboxActivatePowerCycleReturnCode", kInbox, R"({"request": "activate", "returnCode": 32})",
     nullptr},
    {"InboxIdentifyReturnCode", kInbox, R"({"request": "identify", "returnCode": 1})",
     "$.drives[0].faults[0].returnCode"},
    {"InboxOpenReturnCode", kInbox, R"({"request": "open", "returnCode": 1})",
     "$.drives[0].faults[0].returnCode"},
    {"InboxDeviceNumberReturnCode", kInbox, R"({"request": "deviceNumber", "returnCode": 1})",
     "$.drives[0].faults[0].returnCode"},
    {"InboxNvmeStatus", kInbox, R"({"request": "download", "nvmeStatus": 263})",
     "$.drives[0].faults[0].nvmeStatus"},
    {"InboxCompletion", kInbox, R"({"request": "activate", "completion": 65536})",
     "$.drives[0].faults[0].completion"},
    {"IrstMemberIdentifyReturnCode", kIrstMember, R"({"request": "identify", "returnCode": 1})",
     nullptr},
    {"IrstMemberActivateError", kIrstMember, R"({"request": "activate", "error": 1117})", nullptr},
    {"IrstMemberGetInfoError", kIrstMember, R"({"request": "getInfo", "error": 1})", nullptr},
    {"IrstPassThroughGetInfoReturnCode", kIrstPassThrough,
     R"({"request": "getInfo", "returnCode": 3})", nullptr},
    {"IrstMemberGetInfoBufferOffset", kIrstMember,
     R"({"request": "getInfo", "dataBufferOffset": 100})",
     "$.drives[0].faults[0].dataBufferOffset"},
    {"IrstMemberGetInfoNvmeStatus", kIrstMember, R"({"request": "getInfo", "nvmeStatus": 2})",
     "$.drives[0].faults[0].nvmeStatus"},
    {"IrstMemberDeviceNumber", kIrstMember, R"({"request": "deviceNumber", "error": 1})",
     "$.drives[0].faults[0].request"},
    {"IrstMemberOpen", kIrstMember, R"({"request": "open", "error": 5})",
     "$.drives[0].faults[0].request"},
    {"IrstMemberCompletion", kIrstMember, R"({"request": "download", "completion": 1})",
     "$.drives[0].faults[0].completion"},
    {"IrstPassThroughOpen", kIrstPassThrough, R"({"request": "open", "error": 5})", nullptr},
    {"IrstPassThroughOpenReturnCode", kIrstPassThrough, R"({"request": "open", "returnCode": 5})",
     "$.drives[0].faults[0].returnCode"},
    {"VrocMemberNvmeStatus", kVrocMember, R"({"request": "download", "nvmeStatus": 2})", nullptr},
    {"VrocMemberCompletion", kVrocMember, R"({"request": "activate", "completion": 131072})",
     nullptr},
    {"VrocMemberCompletionPhaseTagOnly", kVrocMember,
     R"({"request": "download", "completion": 65536})", nullptr},
    {"VrocMemberIdentifyReturnCode", kVrocMember, R"({"request": "identify", "returnCode": 14})",
     nullptr},
    {"VrocPassThroughOpen", kVrocPassThrough, R"({"request": "open", "nth": 1, "error": 2})",
     nullptr},
    {"VrocPassThroughOpenNvmeStatus", kVrocPassThrough, R"({"request": "open", "nvmeStatus": 2})",
     "$.drives[0].faults[0].nvmeStatus"},
    {"VrocMemberGetInfoBufferOffset", kVrocMember,
     R"({"request": "getInfo", "dataBufferOffset": 8})", "$.drives[0].faults[0].dataBufferOffset"},
    {"VrocMemberGetInfoNvmeStatus", kVrocMember, R"({"request": "getInfo", "nvmeStatus": 2})",
     nullptr},
    {"VrocPassThroughGetInfoCompletion", kVrocPassThrough,
     R"({"request": "getInfo", "completion": 65536})", nullptr},
    // A drive reached two ways: the fault must fit every way its request takes.
    {"TwoStacksGetInfoReturnCode", kInboxAndIrstMember,
     R"({"request": "getInfo", "returnCode": 3})", nullptr},
    {"TwoStacksGetInfoBufferOffset", kInboxAndIrstMember,
     R"({"request": "getInfo", "dataBufferOffset": 100})",
     "$.drives[0].faults[0].dataBufferOffset"},
    {"TwoStacksIdentifyReturnCode", kInboxAndIrstMember,
     R"({"request": "identify", "returnCode": 3})", "$.drives[0].faults[0].returnCode"},
    {"TwoStacksDownloadNvmeStatus", kInboxAndVrocMember,
     R"({"request": "download", "nvmeStatus": 2})", "$.drives[0].faults[0].nvmeStatus"},
    {"TwoStacksDownloadError", kInboxAndVrocMember, R"({"request": "download", "error": 1117})",
     nullptr},
    {"UnattachedDrive", kNowhere, R"({"request": "open", "error": 2})", "$.drives[0].faults[0]"},
};

INSTANTIATE_TEST_SUITE_P(Cases, DriveFaultFit, testing::ValuesIn(kFaultFitCases), test::ByName());

struct ControllerFaultCase {
  const char* name;
  const char* driver;
  const char* fault;
  const char* errorPath;  // nullptr: accepted
};

class ControllerFaultFit : public testing::TestWithParam<ControllerFaultCase> {};

TEST_P(ControllerFaultFit, IsAcceptedOnlyForRequestsItsDriverReceives) {
  const ControllerFaultCase& c = GetParam();
  const std::string text = std::string(R"({"intelController": {"driver": ")") + c.driver +
                           R"(", "faults": [)" + c.fault + "]}}";
  const MachineFileResult result = parse(text);
  if (c.errorPath == nullptr) {
    ASSERT_TRUE(result.config.has_value()) << result.error;
    ASSERT_TRUE(result.config->intelController.has_value());
    EXPECT_EQ(result.config->intelController->faults.size(), 1u);
  } else {
    ASSERT_FALSE(result.config.has_value());
    EXPECT_EQ(result.error.substr(0, result.error.find(": ", 8)),
              std::string(kFileName) + ": " + c.errorPath)
        << result.error;
  }
}

const ControllerFaultCase kControllerFaultCases[] = {
    {"IrstOpenError", "irst", R"({"request": "open", "error": 2})", nullptr},
    {"IrstCsmiReturnCode", "irst", R"({"request": "csmi", "returnCode": 3})", nullptr},
    {"IrstCsmiError", "irst", R"({"request": "csmi", "nth": 2, "error": 1117})", nullptr},
    {"IrstScsiPortOpen", "irst", R"({"request": "scsiPortOpen", "error": 2})",
     "$.intelController.faults[0].request"},
    {"IrstVrocList", "irst", R"({"request": "vrocList", "error": 1})",
     "$.intelController.faults[0].request"},
    {"IrstOpenReturnCode", "irst", R"({"request": "open", "returnCode": 1})",
     "$.intelController.faults[0].returnCode"},
    {"VrocScsiPortOpenError", "vroc", R"({"request": "scsiPortOpen", "error": 2})", nullptr},
    {"VrocListReturnCode", "vroc", R"({"request": "vrocList", "returnCode": 3})", nullptr},
    {"VrocCsmi", "vroc", R"({"request": "csmi", "error": 1})",
     "$.intelController.faults[0].request"},
    {"VrocListNvmeStatus", "vroc", R"({"request": "vrocList", "nvmeStatus": 2})",
     "$.intelController.faults[0].nvmeStatus"},
    {"VrocScsiPortOpenReturnCode", "vroc", R"({"request": "scsiPortOpen", "returnCode": 2})",
     "$.intelController.faults[0].returnCode"},
};

INSTANTIATE_TEST_SUITE_P(Cases, ControllerFaultFit, testing::ValuesIn(kControllerFaultCases),
                         test::ByName());

TEST(MachineFileFaults, KeepEveryFieldOfTheFault) {
  const MachineConfig config = parseOk(R"({
    "drives": [{"id": "d", "faults": [
      {"request": "download", "nth": 3, "nvmeStatus": 263},
      {"request": "activate", "completion": 4294967295},
      {"request": "identify", "returnCode": 14}]}],
    "intelController": {"driver": "vroc", "passThrough": [{"drive": "d", "busNumber": 0}],
                        "faults": [{"request": "vrocList", "nth": 1, "error": 1117}]}})");
  ASSERT_EQ(config.drives.size(), 1u);
  const std::vector<Fault>& faults = config.drives[0].faults;
  ASSERT_EQ(faults.size(), 3u);
  EXPECT_EQ(faults[0].request, FaultRequest::Download);
  EXPECT_EQ(faults[0].nth, 3u);
  EXPECT_EQ(faults[0].nvmeStatus, 263u);
  EXPECT_FALSE(faults[0].error || faults[0].returnCode || faults[0].completion ||
               faults[0].dataBufferOffset);
  EXPECT_EQ(faults[1].request, FaultRequest::Activate);
  EXPECT_FALSE(faults[1].nth.has_value());
  EXPECT_EQ(faults[1].completion, 0xFFFFFFFFu);
  EXPECT_EQ(faults[2].request, FaultRequest::Identify);
  EXPECT_EQ(faults[2].returnCode, 14u);
  ASSERT_TRUE(config.intelController.has_value());
  ASSERT_EQ(config.intelController->faults.size(), 1u);
  EXPECT_EQ(config.intelController->faults[0].request, FaultRequest::VrocList);
  EXPECT_EQ(config.intelController->faults[0].nth, 1u);
  EXPECT_EQ(config.intelController->faults[0].error, 1117u);
}

TEST(MachineFileCapture, TheKeysOfACapturedMachineAreKept) {
  const MachineConfig config = parseOk(R"({
    "drives": [{"id": "a", "nvmeVersionRaw": 66049, "mdtsExponent": 5},
               {"id": "b", "mdtsExponent": 20}, {"id": "c", "mdtsExponent": 0}],
    "otherControllers": [{"listIndex": 4}],
    "inbox": [{"drive": "a", "listIndex": 7, "controllerListIndex": 1,
               "faults": [{"request": "deviceNumber", "error": 1117}]}],
    "intelController": {"driver": "vroc", "instanceId": null, "listIndex": 0,
      "raidVolumes": [{"members": [{"drive": "b", "port": 0, "diskId": 4096,
                                    "listSerial": "LIST\u0000", "listModel": "MODEL",
                                    "faults": [{"request": "identify", "nth": 2, "nvmeStatus": 2}]}],
                       "interfacePath": "\\\\?\\vol", "listIndex": 2}],
      "passThrough": [{"drive": "c", "busNumber": 3, "interfacePath": "\\\\?\\pt",
                       "listIndex": 0, "faults": [{"request": "open", "error": 5}]}]}})");
  ASSERT_EQ(config.drives.size(), 3u);
  const DriveConfig& a = config.drives[0];
  EXPECT_EQ(a.nvmeMajor, 1);  // 0x00010201
  EXPECT_EQ(a.nvmeMinor, 2);
  EXPECT_EQ(a.nvmeTertiary, 1);
  EXPECT_EQ(a.mdtsExponent, 5);
  EXPECT_EQ(a.mdts, 131072u);
  // From exponent 20 on, and at 0, the drive enforces no limit.
  EXPECT_EQ(config.drives[1].mdtsExponent, 20);
  EXPECT_EQ(config.drives[1].mdts, 0u);
  EXPECT_EQ(config.drives[2].mdtsExponent, 0);
  EXPECT_EQ(config.drives[2].mdts, 0u);
  EXPECT_EQ(config.otherControllers[0].listIndex, 4u);
  const InboxDiskConfig& disk = config.inbox[0];
  EXPECT_EQ(disk.listIndex, 7u);
  EXPECT_EQ(disk.controllerListIndex, 1u);
  ASSERT_EQ(disk.faults.size(), 1u);
  EXPECT_EQ(disk.faults[0].request, FaultRequest::DeviceNumber);
  EXPECT_TRUE(a.faults.empty());
  ASSERT_TRUE(config.intelController.has_value());
  const IntelControllerConfig& intel = *config.intelController;
  EXPECT_FALSE(intel.instanceIdReadable);
  EXPECT_TRUE(contains(intel.instanceId, "PCI\\VEN_8086&"));
  EXPECT_EQ(intel.listIndex, 0u);
  const RaidMemberConfig& member = intel.raidVolumes[0].members[0];
  EXPECT_EQ(member.listing.diskId, 4096u);
  EXPECT_EQ(member.listing.listSerial, std::string("LIST\0", 5) + std::string(15, ' '));
  EXPECT_EQ(member.listing.listModel, "MODEL" + std::string(35, ' '));
  ASSERT_EQ(member.faults.size(), 1u);
  EXPECT_EQ(member.faults[0].nth, 2u);
  EXPECT_EQ(intel.raidVolumes[0].interfacePath, "\\\\?\\vol");
  EXPECT_EQ(intel.raidVolumes[0].listIndex, 2u);
  const PassThroughConfig& pass = intel.passThrough[0];
  EXPECT_EQ(pass.interfacePath, "\\\\?\\pt");
  EXPECT_EQ(pass.listIndex, 0u);
  EXPECT_FALSE(pass.listing.diskId.has_value());
  ASSERT_EQ(pass.faults.size(), 1u);
  EXPECT_EQ(pass.faults[0].error, 5u);
}

// ---------------------------------------------------------------------------
// Defaults

TEST(MachineFileDefaults, AnEmptyObjectIsAnEmptyMachine) {
  const MachineConfig config = parseOk("{}");
  EXPECT_TRUE(config.drives.empty());
  EXPECT_TRUE(config.inbox.empty());
  EXPECT_FALSE(config.intelController.has_value());
  EXPECT_TRUE(config.otherControllers.empty());
  EXPECT_FALSE(config.moduleHandleFails);
  EXPECT_EQ(config.description, "");
  EXPECT_EQ(config.computerName, "ZEVSIM-01");
  EXPECT_FALSE(config.runGuardHeld);
  EXPECT_FALSE(config.eventLogFails);
}

TEST(MachineFileDefaults, ComputerNameAndRunGuardAreRead) {
  const MachineConfig config = parseOk(
      R"({"computerName": "DB-NODE-0000007", "runGuardHeld": true, "eventLogFails": true})");
  EXPECT_EQ(config.computerName, "DB-NODE-0000007");
  EXPECT_TRUE(config.runGuardHeld);
  EXPECT_TRUE(config.eventLogFails);
}

TEST(MachineFileDefaults, DriveTakesTheDocumentedValues) {
  const MachineConfig config = parseOk(R"({"drives": [{"id": "boot"}]})");
  ASSERT_EQ(config.drives.size(), 1u);
  const DriveConfig& drive = config.drives[0];
  EXPECT_EQ(drive.id, "boot");
  EXPECT_EQ(drive.model, "KELDORA TQ270c 1TB" + std::string(22, ' '));
  EXPECT_EQ(drive.serial, "KD27BOOT" + std::string(12, ' '));
  EXPECT_EQ(drive.firmware, "KTW3LMZB");
  EXPECT_EQ(drive.nvmeMajor, 1);
  EXPECT_EQ(drive.nvmeMinor, 3);
  EXPECT_EQ(drive.fwug, 0);
  EXPECT_FALSE(drive.fwugStrict);
  EXPECT_EQ(drive.mdts, 0u);
  EXPECT_EQ(drive.slots, 2u);
  EXPECT_TRUE(drive.slot1ReadOnly);
  EXPECT_EQ(drive.activeSlot, 1u);
  EXPECT_TRUE(drive.upgradeSupport);
  EXPECT_EQ(drive.imageSize, 2097152u);
  EXPECT_EQ(drive.activation, Activation::Reset);
  EXPECT_TRUE(drive.slotFirmware.empty());  // every slot holds `firmware`
  EXPECT_FALSE(drive.pendingSlot.has_value());
  EXPECT_TRUE(drive.faults.empty());
}

TEST(MachineFileDefaults, SlotFirmwareIsPaddedDriveTextAndPendingSlotIsKept) {
  const MachineConfig config = parseOk(R"({"drives": [{"id": "x", "slots": 3,
      "slotFirmware": ["KTW3LMZB", "KTW8", "KTW\u0000\u00ff"], "pendingSlot": 2}]})");
  ASSERT_EQ(config.drives.size(), 1u);
  EXPECT_EQ(config.drives[0].slotFirmware,
            (std::vector<std::string>{"KTW3LMZB", "KTW8    ", std::string("KTW\0\xFF   ", 8)}));
  EXPECT_EQ(config.drives[0].pendingSlot, 2u);
}

TEST(MachineFileDefaults, SerialIsCutToTwentyBytes) {
  const MachineConfig config = parseOk(R"({"drives": [{"id": "verylongdriveidentifier-7"}]})");
  ASSERT_EQ(config.drives.size(), 1u);
  EXPECT_EQ(config.drives[0].serial, "KD27VERYLONGDRIVEIDE");
}

TEST(MachineFileDefaults, GivenValuesReplaceTheDefaults) {
  const MachineConfig config = parseOk(R"({"drives": [{"id": "x",
      "nvmeVersion": "2.10", "fwug": 255, "fwugStrict": true, "mdts": 131072, "slots": 7,
      "slot1ReadOnly": false, "activeSlot": 7, "upgradeSupport": false, "imageSize": 4120,
      "activation": "powerCycle"}, {"id": "y", "activation": "immediate", "slots": 0}]})");
  ASSERT_EQ(config.drives.size(), 2u);
  const DriveConfig& x = config.drives[0];
  EXPECT_EQ(x.nvmeMajor, 2);
  EXPECT_EQ(x.nvmeMinor, 10);
  EXPECT_EQ(x.fwug, 255);
  EXPECT_TRUE(x.fwugStrict);
  EXPECT_EQ(x.mdts, 131072u);
  EXPECT_EQ(x.slots, 7u);
  EXPECT_FALSE(x.slot1ReadOnly);
  EXPECT_EQ(x.activeSlot, 7u);
  EXPECT_FALSE(x.upgradeSupport);
  EXPECT_EQ(x.imageSize, 4120u);
  EXPECT_EQ(x.activation, Activation::PowerCycle);
  EXPECT_EQ(config.drives[1].activation, Activation::Immediate);
  // A drive that reports no slots keeps the default active slot.
  EXPECT_EQ(config.drives[1].slots, 0u);
  EXPECT_EQ(config.drives[1].activeSlot, 1u);
}

struct Latin1Case {
  const char* name;
  const char* key;
  const char* jsonText;  // the JSON string literal, quotes included
  std::string bytes;     // the field's bytes
};

class MachineFileLatin1 : public testing::TestWithParam<Latin1Case> {};

TEST_P(MachineFileLatin1, IsOneBytePerCodePointPaddedWithBlanks) {
  const Latin1Case& c = GetParam();
  const MachineConfig config =
      parseOk(std::string(R"({"drives": [{"id": "a", ")") + c.key + "\": " + c.jsonText + "}]}");
  ASSERT_EQ(config.drives.size(), 1u);
  const DriveConfig& drive = config.drives[0];
  const std::string& field = std::string_view(c.key) == "model"    ? drive.model
                             : std::string_view(c.key) == "serial" ? drive.serial
                                                                   : drive.firmware;
  EXPECT_EQ(field, c.bytes);
}

const Latin1Case kLatin1Cases[] = {
    {"FirmwarePadded", "firmware", R"("KTW8")", std::string("KTW8    ")},
    {"FirmwareWithZeroBytes", "firmware", R"("KTW8\u0000\u0000\u0000\u0000")",
     std::string("KTW8\0\0\0\0", 8)},
    {"FirmwareFull", "firmware", R"("KTW8LMZB")", std::string("KTW8LMZB")},
    {"FirmwareEmpty", "firmware", R"("")", std::string(8, ' ')},
    {"FirmwareHighLatin1", "firmware", R"("\u00ff\u00e9\u0080")", std::string("\xFF\xE9\x80     ")},
    {"FirmwareRawUtf8", "firmware", "\"K\xC3\xA9\"", std::string("K\xE9      ")},
    {"SerialWithTrailingZero", "serial", R"("S1\u0000")",
     std::string("S1\0", 3) + std::string(17, ' ')},
    {"ModelExactly40", "model", R"("1234567890123456789012345678901234567890")",
     std::string("1234567890123456789012345678901234567890")},
    {"ModelLatin1", "model", R"("KELDORA \u00c9t\u00e9")",
     std::string("KELDORA \xC9t\xE9") + std::string(29, ' ')},
};

INSTANTIATE_TEST_SUITE_P(Cases, MachineFileLatin1, testing::ValuesIn(kLatin1Cases), test::ByName());

// ---------------------------------------------------------------------------
// Generated identifiers: realistic, deterministic and unique per device.

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  });
  return text;
}

bool hasUpperCase(const std::string& text) {
  return std::any_of(text.begin(), text.end(), [](char c) { return c >= 'A' && c <= 'Z'; });
}

bool endsWith(const std::string& text, std::string_view tail) {
  return text.size() >= tail.size() &&
         text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

constexpr std::string_view kDiskGuid = "#{53f56307-b6bf-11d0-94f2-00a0c91efb8b}";
constexpr std::string_view kPortGuid = "#{2accfe60-c130-11d2-b082-00a0c91efb8b}";

// The rule by which the package recognises an Intel RAID controller.
bool looksLikeIntelRaid(const std::string& desc) {
  return contains(desc, "Intel") && contains(desc, "Controller") &&
         (contains(desc, "RST") || contains(desc, "RAID"));
}

constexpr const char* kFullMachine = R"({
  "drives": [{"id": "a"}, {"id": "b", "model": "ORVANE NX500"}, {"id": "c"}, {"id": "d"},
             {"id": "e"}, {"id": "f"}],
  "otherControllers": [{}, {}],
  "inbox": [{"drive": "a"}, {"drive": "b", "deviceNumber": 5}, {"drive": "c"}],
  "intelController": {
    "raidVolumes": [{"members": [{"drive": "d", "port": 0}, {"drive": "e", "port": 1}]}],
    "passThrough": [{"drive": "f", "busNumber": 2}, {"drive": "a", "busNumber": 3}]}})";

TEST(MachineFileIdentifiers, InboxDisksLookLikeTheInboxDriversDisks) {
  const MachineConfig config = parseOk(kFullMachine);
  ASSERT_EQ(config.inbox.size(), 3u);
  std::set<std::string> parents, instances, paths, controllerPaths;
  for (const InboxDiskConfig& disk : config.inbox) {
    ASSERT_TRUE(disk.parentInstanceId.has_value());
    EXPECT_TRUE(contains(*disk.parentInstanceId, "PCI\\VEN_1D9B&DEV_")) << *disk.parentInstanceId;
    ASSERT_TRUE(disk.hardwareIds.has_value());
    ASSERT_FALSE(disk.hardwareIds->empty());
    EXPECT_TRUE(contains(disk.hardwareIds->front(), "SCSI\\DiskNVMe____"));
    ASSERT_TRUE(disk.instanceId.has_value());
    EXPECT_TRUE(contains(*disk.instanceId, "SCSI\\DISK&VEN_NVME&PROD_")) << *disk.instanceId;
    EXPECT_FALSE(hasUpperCase(disk.interfacePath)) << disk.interfacePath;
    EXPECT_EQ(disk.interfacePath.substr(0, 4), "\\\\?\\");
    EXPECT_TRUE(endsWith(disk.interfacePath, kDiskGuid)) << disk.interfacePath;
    EXPECT_EQ(disk.controllerInstanceId, *disk.parentInstanceId);
    EXPECT_TRUE(endsWith(disk.controllerInterfacePath, kPortGuid));
    EXPECT_TRUE(contains(disk.controllerInterfacePath, "\\\\?\\pci#ven_1d9b&dev_"));
    parents.insert(*disk.parentInstanceId);
    instances.insert(*disk.instanceId);
    paths.insert(disk.interfacePath);
    controllerPaths.insert(disk.controllerInterfacePath);
  }
  EXPECT_EQ(parents.size(), 3u);
  EXPECT_EQ(instances.size(), 3u);
  EXPECT_EQ(paths.size(), 3u);
  EXPECT_EQ(controllerPaths.size(), 3u);
  // Device numbers: given, or the list position.
  EXPECT_EQ(config.inbox[0].deviceNumber, 0u);
  EXPECT_EQ(config.inbox[1].deviceNumber, 5u);
  EXPECT_EQ(config.inbox[2].deviceNumber, 2u);
  // Built from the drive's model: blanks become '_'.
  EXPECT_TRUE(contains(config.inbox[0].hardwareIds->front(), "KELDORA_TQ270c_1TB"));
  EXPECT_TRUE(contains(config.inbox[1].hardwareIds->front(), "ORVANE_NX500"));
  EXPECT_TRUE(contains(*config.inbox[1].instanceId, "PROD_ORVANE_NX500\\"));
}

TEST(MachineFileIdentifiers, IntelDevicesLookLikeTheIntelDriversDevices) {
  for (const char* driver : {"irst", "vroc"}) {
    SCOPED_TRACE(driver);
    std::string text = kFullMachine;
    text.replace(text.find("\"raidVolumes\""), 0, std::string("\"driver\": \"") + driver + "\", ");
    const MachineConfig config = parseOk(text);
    ASSERT_TRUE(config.intelController.has_value());
    const IntelControllerConfig& intel = *config.intelController;
    EXPECT_TRUE(contains(intel.instanceId, "PCI\\VEN_8086&"));
    EXPECT_TRUE(contains(upper(intel.interfacePath), "VEN_8086"));
    EXPECT_FALSE(hasUpperCase(intel.interfacePath));
    EXPECT_TRUE(endsWith(intel.interfacePath, kPortGuid));
    ASSERT_TRUE(intel.driverDesc.has_value());
    EXPECT_TRUE(looksLikeIntelRaid(*intel.driverDesc)) << *intel.driverDesc;

    ASSERT_EQ(intel.raidVolumes.size(), 1u);
    const RaidVolumeConfig& volume = intel.raidVolumes[0];
    ASSERT_TRUE(volume.instanceId.has_value());
    EXPECT_TRUE(contains(*volume.instanceId, "VEN_INTEL"));
    EXPECT_TRUE(contains(*volume.instanceId, "PROD_RAID"));
    EXPECT_TRUE(endsWith(volume.interfacePath, kDiskGuid));
    ASSERT_EQ(volume.members.size(), 2u);
    EXPECT_EQ(volume.members[1].drive, "e");
    EXPECT_EQ(volume.members[1].port, 1u);

    ASSERT_EQ(intel.passThrough.size(), 2u);
    for (const PassThroughConfig& disk : intel.passThrough) {
      ASSERT_TRUE(disk.instanceId.has_value());
      EXPECT_TRUE(contains(*disk.instanceId, "VEN_NVME"));
      EXPECT_FALSE(contains(*disk.instanceId, "VEN_INTEL") &&
                   contains(*disk.instanceId, "PROD_RAID"));
      ASSERT_TRUE(disk.locationInfo.has_value());
      EXPECT_EQ(*disk.locationInfo,
                "Bus Number " + std::to_string(disk.busNumber) + ", Target Id 0, LUN 0");
      EXPECT_TRUE(endsWith(disk.interfacePath, kDiskGuid));
    }
    EXPECT_NE(intel.passThrough[0].instanceId, intel.passThrough[1].instanceId);

    // The Intel-parented disks follow the inbox disks' highest number.
    std::set<std::uint32_t> numbers;
    for (const InboxDiskConfig& disk : config.inbox) {
      numbers.insert(disk.deviceNumber);
    }
    EXPECT_GT(volume.deviceNumber, 5u);
    numbers.insert(volume.deviceNumber);
    for (const PassThroughConfig& disk : intel.passThrough) {
      EXPECT_GT(disk.deviceNumber, 5u);
      numbers.insert(disk.deviceNumber);
    }
    EXPECT_EQ(numbers.size(), 6u);
  }
}

TEST(MachineFileIdentifiers, DriverDescriptionFollowsTheDriver) {
  const MachineConfig irst = parseOk(R"({"intelController": {}})");
  const MachineConfig vroc = parseOk(R"({"intelController": {"driver": "vroc"}})");
  ASSERT_TRUE(irst.intelController && vroc.intelController);
  EXPECT_EQ(irst.intelController->driver, IntelDriver::Irst);
  EXPECT_EQ(vroc.intelController->driver, IntelDriver::Vroc);
  EXPECT_TRUE(contains(irst.intelController->driverDesc.value_or(""), "RST"));
  EXPECT_TRUE(contains(vroc.intelController->driverDesc.value_or(""), "RAID"));
  EXPECT_EQ(irst.intelController->vrocPort, 2u);
  EXPECT_EQ(irst.intelController->scsiPorts, 3u);
}

TEST(MachineFileIdentifiers, EveryDeviceHasItsOwnInterfacePath) {
  const MachineConfig config = parseOk(kFullMachine);
  std::vector<std::string> paths;
  for (const OtherControllerConfig& other : config.otherControllers) {
    paths.push_back(other.interfacePath);
  }
  for (const InboxDiskConfig& disk : config.inbox) {
    paths.push_back(disk.interfacePath);
    paths.push_back(disk.controllerInterfacePath);
  }
  paths.push_back(config.intelController->interfacePath);
  for (const RaidVolumeConfig& volume : config.intelController->raidVolumes) {
    paths.push_back(volume.interfacePath);
  }
  for (const PassThroughConfig& disk : config.intelController->passThrough) {
    paths.push_back(disk.interfacePath);
  }
  std::set<std::string> distinct;
  for (const std::string& path : paths) {
    distinct.insert(upper(path));
  }
  EXPECT_EQ(distinct.size(), paths.size());
}

TEST(MachineFileIdentifiers, OtherControllersAreNotIntelRaidControllers) {
  const MachineConfig config = parseOk(kFullMachine);
  ASSERT_EQ(config.otherControllers.size(), 2u);
  for (const OtherControllerConfig& other : config.otherControllers) {
    ASSERT_TRUE(other.driverDesc.has_value());
    EXPECT_FALSE(looksLikeIntelRaid(*other.driverDesc));
    EXPECT_TRUE(endsWith(other.interfacePath, kPortGuid));
  }
  EXPECT_NE(config.otherControllers[0].instanceId, config.otherControllers[1].instanceId);
}

TEST(MachineFileIdentifiers, SameFileGivesSameIdentifiers) {
  EXPECT_EQ(parseOk(kFullMachine), parseOk(kFullMachine));
}

// ---------------------------------------------------------------------------
// Given identifiers and null

TEST(MachineFileIdentifiers, NullMarksAPropertyAsAbsent) {
  const MachineConfig config = parseOk(R"({
    "drives": [{"id": "a"}, {"id": "b"}],
    "inbox": [{"drive": "a", "parentInstanceId": null, "hardwareIds": null, "instanceId": null}],
    "intelController": {"driverDesc": null,
      "raidVolumes": [{"members": [{"drive": "b", "port": 0}], "instanceId": null}],
      "passThrough": [{"drive": "a", "busNumber": 1, "locationInfo": null, "instanceId": null}]},
    "otherControllers": [{"driverDesc": null}]})");
  ASSERT_EQ(config.inbox.size(), 1u);
  const InboxDiskConfig& disk = config.inbox[0];
  EXPECT_FALSE(disk.parentInstanceId.has_value());
  EXPECT_FALSE(disk.hardwareIds.has_value());
  EXPECT_FALSE(disk.instanceId.has_value());
  // The devices still exist and can be opened.
  EXPECT_TRUE(endsWith(disk.interfacePath, kDiskGuid));
  EXPECT_TRUE(contains(disk.controllerInstanceId, "VEN_1D9B"));
  ASSERT_TRUE(config.intelController.has_value());
  EXPECT_FALSE(config.intelController->driverDesc.has_value());
  EXPECT_FALSE(config.intelController->raidVolumes[0].instanceId.has_value());
  EXPECT_TRUE(endsWith(config.intelController->raidVolumes[0].interfacePath, kDiskGuid));
  EXPECT_FALSE(config.intelController->passThrough[0].locationInfo.has_value());
  EXPECT_FALSE(config.intelController->passThrough[0].instanceId.has_value());
  EXPECT_FALSE(config.otherControllers[0].driverDesc.has_value());
}

TEST(MachineFileIdentifiers, GivenIdentifiersAreKeptAndPathsFollowThem) {
  const MachineConfig config = parseOk(R"({
    "drives": [{"id": "a"}],
    "inbox": [{"drive": "a", "parentInstanceId": "PCI\\VEN_144D&DEV_A80A\\4&1&0&00E8",
               "hardwareIds": ["SCSI\\DiskNVME", "GenDisk"],
               "instanceId": "SCSI\\DISK&VEN_NVME&PROD_X\\5&ABC&0&000000"},
              {"drive": "a", "interfacePath": "\\\\?\\my#disk"}],
    "intelController": {"instanceId": "PCI\\VEN_8086&DEV_2822\\3&1&0&FA",
                        "passThrough": [{"drive": "a", "busNumber": 7,
                                         "locationInfo": "Channel 7"}]}})");
  ASSERT_EQ(config.inbox.size(), 2u);
  const InboxDiskConfig& disk = config.inbox[0];
  EXPECT_EQ(disk.parentInstanceId, "PCI\\VEN_144D&DEV_A80A\\4&1&0&00E8");
  EXPECT_EQ(disk.controllerInstanceId, "PCI\\VEN_144D&DEV_A80A\\4&1&0&00E8");
  EXPECT_EQ(disk.controllerInterfacePath,
            "\\\\?\\pci#ven_144d&dev_a80a#4&1&0&00e8" + std::string(kPortGuid));
  EXPECT_EQ(disk.hardwareIds, (std::vector<std::string>{"SCSI\\DiskNVME", "GenDisk"}));
  EXPECT_EQ(disk.interfacePath,
            "\\\\?\\scsi#disk&ven_nvme&prod_x#5&abc&0&000000" + std::string(kDiskGuid));
  EXPECT_EQ(config.inbox[1].interfacePath, "\\\\?\\my#disk");
  ASSERT_TRUE(config.intelController.has_value());
  EXPECT_EQ(config.intelController->interfacePath,
            "\\\\?\\pci#ven_8086&dev_2822#3&1&0&fa" + std::string(kPortGuid));
  EXPECT_EQ(config.intelController->passThrough[0].locationInfo, "Channel 7");
}

TEST(MachineFileIdentifiers, AnEmptyHardwareIdListIsKept) {
  const MachineConfig config =
      parseOk(R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a", "hardwareIds": []}]})");
  ASSERT_EQ(config.inbox.size(), 1u);
  ASSERT_TRUE(config.inbox[0].hardwareIds.has_value());
  EXPECT_TRUE(config.inbox[0].hardwareIds->empty());
}

TEST(MachineFileIdentifiers, ARaidVolumeMayHaveNoMembers) {
  for (const char* driver : {"irst", "vroc"}) {
    const MachineConfig config = parseOk(std::string(R"({"intelController": {"driver": ")") +
                                         driver + R"(", "raidVolumes": [{"members": []}]}})");
    ASSERT_TRUE(config.intelController.has_value());
    ASSERT_EQ(config.intelController->raidVolumes.size(), 1u);
    EXPECT_TRUE(config.intelController->raidVolumes[0].members.empty());
  }
}

TEST(MachineFileIdentifiers, ADriveMayBeAttachedMoreThanOnce) {
  const MachineConfig config = parseOk(R"({"drives": [{"id": "a"}],
    "inbox": [{"drive": "a"}, {"drive": "a"}],
    "intelController": {"passThrough": [{"drive": "a", "busNumber": 0}]}})");
  ASSERT_EQ(config.inbox.size(), 2u);
  EXPECT_EQ(config.inbox[0].drive, "a");
  EXPECT_EQ(config.inbox[1].drive, "a");
  EXPECT_NE(config.inbox[0].interfacePath, config.inbox[1].interfacePath);
  EXPECT_EQ(config.intelController->passThrough[0].drive, "a");
}

// Arrays and objects nest at most 64 deep: the 64th parses (and then meets the
// schema), the 65th is refused at its own path.
TEST(MachineFileDepth, NestingBeyond64IsAnErrorAtItsPath) {
  const auto arrays = [](std::size_t depth) {
    return "{\"drives\": " + std::string(depth - 1, '[') + std::string(depth - 1, ']') + "}";
  };
  EXPECT_EQ(parse(arrays(64)).error, "m.json: $.drives[0]: expected an object, found an array");
  std::string path = "$.drives";
  for (int i = 0; i < 63; ++i) {
    path += "[0]";
  }
  EXPECT_EQ(parse(arrays(65)).error,
            "m.json: " + path +
                ": an array at depth 65: arrays and objects nest at most 64 deep "
                "in a machine file");
  std::string objects = "{\"a\": ";
  std::string keys = "$";
  for (int i = 0; i < 64; ++i) {
    objects += "{\"a\": ";
    keys += ".a";
  }
  objects += "1" + std::string(65, '}');
  EXPECT_EQ(parse(objects).error, "m.json: " + keys +
                                      ": an object at depth 65: arrays and objects nest at most "
                                      "64 deep in a machine file");
}

// ---------------------------------------------------------------------------
// Files

class MachineFileOnDisk : public testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::temp_directory_path() /
                 ("zev_machine_file_" +
                  std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(directory_);
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }
  std::string write(const std::string& name, const std::string& text) {
    const std::filesystem::path path = directory_ / name;
    std::ofstream(path, std::ios::binary) << text;
    return path.string();
  }
  std::filesystem::path directory_;
};

TEST_F(MachineFileOnDisk, LoadsAFile) {
  const std::string path = write("ok.json", R"({"drives": [{"id": "x"}]})");
  const MachineFileResult result = loadMachineFile(path);
  ASSERT_TRUE(result.config.has_value()) << result.error;
  EXPECT_EQ(result.config->drives.at(0).id, "x");
}

TEST_F(MachineFileOnDisk, ErrorsNameTheFile) {
  const std::string path = write("bad.json", R"({"drives": [{"id": "x", "slots": 9}]})");
  const MachineFileResult result = loadMachineFile(path);
  ASSERT_FALSE(result.config.has_value());
  const std::string prefix = path + ": $.drives[0].slots: ";
  EXPECT_EQ(result.error.substr(0, prefix.size()), prefix);
}

TEST_F(MachineFileOnDisk, MissingFileAndDirectoryAreUnreadable) {
  for (const std::string& path : {(directory_ / "missing.json").string(), directory_.string()}) {
    const MachineFileResult result = loadMachineFile(path);
    ASSERT_FALSE(result.config.has_value());
    EXPECT_EQ(result.error.substr(0, path.size() + 5), path + ": $: ") << result.error;
    EXPECT_EQ(result.error.find('\n'), std::string::npos);
  }
}

TEST_F(MachineFileOnDisk, RefusesAFileLargerThanTheLimit) {
  const std::filesystem::path path = directory_ / "large.json";
  {
    std::ofstream out(path, std::ios::binary);
    out << "{\"description\": \"";
  }
  std::filesystem::resize_file(path, kMaxMachineFileBytes + 1);  // a sparse tail
  const MachineFileResult result = loadMachineFile(path.string());
  ASSERT_FALSE(result.config.has_value());
  EXPECT_EQ(result.error,
            path.string() + ": $: larger than 64 MiB, the most a machine file may hold");
}

#ifndef _WIN32
TEST_F(MachineFileOnDisk, RefusesAFileThatNeverEnds) {
  const MachineFileResult result = loadMachineFile("/dev/zero");
  ASSERT_FALSE(result.config.has_value());
  EXPECT_EQ(result.error, "/dev/zero: $: larger than 64 MiB, the most a machine file may hold");
}

// A FIFO is refused before it is opened (its open would wait for a writer),
// and a device that ends is refused once read.
TEST_F(MachineFileOnDisk, RefusesWhatIsNotARegularFile) {
  const std::string fifo = (directory_ / "fifo.json").string();
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
  EXPECT_EQ(loadMachineFile(fifo).error,
            fifo +
                ": $: not a regular file (a FIFO); a machine file is read only from a regular "
                "file");
  EXPECT_EQ(loadMachineFile("/dev/null").error,
            "/dev/null: $: not a regular file (a character device); a machine file is read only "
            "from a regular file");
}

// A line break in the file's name (which Windows does not allow) is shown as
// "\n", so the error keeps its one line.
TEST_F(MachineFileOnDisk, ALineBreakInTheNameIsShownEscaped) {
  const std::string path = write("a\nb.json", "[]");
  const std::string shown = (directory_ / "a\\nb.json").string();
  EXPECT_EQ(loadMachineFile(path).error, shown + ": $: expected an object, found an array");
}
#endif

TEST_F(MachineFileOnDisk, AcceptsAByteOrderMark) {
  const std::string path = write("bom.json", "\xEF\xBB\xBF{\"drives\": []}");
  EXPECT_TRUE(loadMachineFile(path).config.has_value());
}

// ---------------------------------------------------------------------------
// The demonstration machine and the example files

const std::filesystem::path kExamples =
    std::filesystem::path(ZEV_SOURCE_DIR) / "examples" / "machines";

TEST(DemonstrationMachine, IsTheExampleFile) {
  const MachineFileResult loaded = loadMachineFile((kExamples / "demo.json").string());
  ASSERT_TRUE(loaded.config.has_value()) << loaded.error;
  EXPECT_EQ(*loaded.config, demonstrationMachine());
}

TEST(DemonstrationMachine, HoldsTheDescribedDrives) {
  const MachineConfig demo = demonstrationMachine();
  const auto drive = [&](const std::string& id) -> const DriveConfig& {
    const auto it = std::find_if(demo.drives.begin(), demo.drives.end(),
                                 [&](const DriveConfig& d) { return d.id == id; });
    EXPECT_NE(it, demo.drives.end()) << id;
    return *it;
  };
  const auto isTq270c = [](const DriveConfig& d) { return contains(d.model, "TQ270c"); };
  // Revisions the package accepts: "KTW" + row digit 1 to 8 + "LMZB".
  const auto upgradable = [](const DriveConfig& d) {
    return d.firmware.size() == 8 && d.firmware.substr(0, 3) == "KTW" && d.firmware[3] >= '1' &&
           d.firmware[3] <= '8' && d.firmware.substr(4) == "LMZB";
  };

  // One inbox TQ270c on an upgradable revision and one inbox drive of another
  // maker, whose controller is not the target maker's.
  ASSERT_EQ(demo.inbox.size(), 2u);
  const DriveConfig& inboxTarget = drive(demo.inbox[0].drive);
  EXPECT_TRUE(isTq270c(inboxTarget));
  EXPECT_TRUE(upgradable(inboxTarget));
  EXPECT_TRUE(contains(demo.inbox[0].parentInstanceId.value_or(""), "VEN_1D9B"));
  const DriveConfig& other = drive(demo.inbox[1].drive);
  EXPECT_FALSE(contains(other.model, "KELDORA"));
  EXPECT_FALSE(contains(demo.inbox[1].parentInstanceId.value_or("VEN_1D9B"), "VEN_1D9B"));

  // An IRST RAID 1 of two TQ270c on an upgradable revision, one asking for a
  // power cycle.
  ASSERT_TRUE(demo.intelController.has_value());
  EXPECT_EQ(demo.intelController->driver, IntelDriver::Irst);
  ASSERT_EQ(demo.intelController->raidVolumes.size(), 1u);
  const auto& members = demo.intelController->raidVolumes[0].members;
  ASSERT_EQ(members.size(), 2u);
  int powerCycle = 0;
  for (const RaidMemberConfig& member : members) {
    const DriveConfig& d = drive(member.drive);
    EXPECT_TRUE(isTq270c(d));
    EXPECT_TRUE(upgradable(d));
    powerCycle += d.activation == Activation::PowerCycle ? 1 : 0;
  }
  EXPECT_EQ(powerCycle, 1);
  EXPECT_NE(members[0].port, members[1].port);
}

TEST(ExampleMachines, EveryExampleFileLoads) {
  int files = 0;
  for (const auto& entry : std::filesystem::directory_iterator(kExamples)) {
    if (entry.path().extension() != ".json") {
      continue;
    }
    ++files;
    const MachineFileResult loaded = loadMachineFile(entry.path().string());
    EXPECT_TRUE(loaded.config.has_value()) << loaded.error;
  }
  EXPECT_GE(files, 1);
}

}  // namespace
}  // namespace zevsim
