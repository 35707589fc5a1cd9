// The firmware update through the inbox driver, against the simulated inbox
// driver and NVMe drive: the request bytes, the piece plan on the wire, the
// slot choice, every failure row with its result code and console line, and
// what the drive holds afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "core/firmware_image.hpp"
#include "platform/platform_constants.hpp"
#include "support/bound_machine.hpp"
#include "update/update_paths.hpp"

namespace zev {
namespace {

using InboxMachine = testsupport::CapturedMachine;
using testsupport::le32At;
using testsupport::le64At;

constexpr std::uint32_t kImageLength = 2097152;

std::string machineWithDrive(const std::string& driveKeys) {
  return R"({ "description": "inbox update", "drives": [ { "id": "a", "model": "KELDORA TQ270c 1TB",
             "serial": "KD27A0001", "firmware": "KTW3LMZB")" +
         driveKeys + R"( } ], "inbox": [ { "drive": "a" } ] })";
}

DiskInfo inboxDisk(std::int32_t granularity) {
  DiskInfo disk;
  disk.devicePath = L"\\\\.\\PHYSICALDRIVE0";
  disk.pathId = -1;
  disk.driverKind = DriverKind::Inbox;
  disk.modelNumber = L"KELDORA TQ270c 1TB" + std::wstring(22, L' ');
  disk.serialNumber = L"KD27A0001" + std::wstring(11, L' ');
  disk.firmwareRevision = L"KTW3LMZB";
  disk.updateGranularity = granularity;
  return disk;
}

// The miniport firmware requests sent, in order.
std::vector<zevsim::CallRecord> firmwareRequests(const InboxMachine& sim) {
  return sim.requests(platform::kIoctlScsiMiniport);
}

std::vector<std::uint32_t> functionsOf(const std::vector<zevsim::CallRecord>& requests) {
  std::vector<std::uint32_t> functions;
  for (const auto& request : requests) {
    functions.push_back(le32At(request.inputHead, 36));
  }
  return functions;
}

std::size_t countFunction(const std::vector<zevsim::CallRecord>& requests, std::uint32_t function) {
  const auto functions = functionsOf(requests);
  return static_cast<std::size_t>(std::count(functions.begin(), functions.end(), function));
}

// The header and request block every inbox request carries, for a request
// of total bytes.
void expectFrame(const zevsim::CallRecord& request, std::uint32_t total, std::uint32_t function) {
  const auto& head = request.inputHead;
  EXPECT_EQ(request.controlCode, 0x0004D008u);
  EXPECT_EQ(request.inSize, total);
  EXPECT_EQ(request.outSize, total);
  EXPECT_EQ(le32At(head, 0), 28u);
  EXPECT_EQ(std::string(head.begin() + 4, head.begin() + 12), "FIRMWARE");
  EXPECT_EQ(le32At(head, 12), 30u);
  EXPECT_EQ(le32At(head, 16), 0x001B0780u);
  EXPECT_EQ(le32At(head, 20), 0u);
  EXPECT_EQ(le32At(head, 24), total - 28);
  EXPECT_EQ(le32At(head, 28), 1u);
  EXPECT_EQ(le32At(head, 32), 24u);
  EXPECT_EQ(le32At(head, 36), function);
  EXPECT_EQ(le32At(head, 40), 1u);
  EXPECT_EQ(le32At(head, 44), 52u);
  EXPECT_EQ(le32At(head, 48), total - 52);
}

const std::string kTargetBlock =
    "\n"
    "---------------------------------------------\n"
    " Firmware Download | Target Disk Information \n"
    "---------------------------------------------\n"
    " Driver : Inbox Driver\n"
    " Raid : No\n"
    " Model Number : KELDORA TQ270c 1TB                      \n"
    " Serial Number : KD27A0001           \n"
    " Current FW : KTW3LMZB\n"
    " Updated FW : KTW8LMZB\n"
    "---------------------------------------------\n";

TEST(InboxUpdate, UpgradableDriveWithFwug8) {
  InboxMachine sim(machineWithDrive(R"(, "nvmeVersion": "1.3", "fwug": 8)"));
  std::uint32_t transferLength = kImageLength;
  EXPECT_EQ(updateThroughInbox(inboxDisk(8), transferLength, zev::packageImage(),
                               zev::buildPackageIdentity())
                .code,
            0);
  EXPECT_EQ(transferLength, kImageLength);
  EXPECT_EQ(sim.console(), kTargetBlock);

  const auto opens = sim.calls(zevsim::CallKind::CreateFile);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].path, L"\\\\.\\PHYSICALDRIVE0");
  EXPECT_EQ(opens[0].access, 0xC0000000u);
  EXPECT_EQ(opens[0].shareMode, 3u);
  EXPECT_EQ(opens[0].disposition, 3u);
  EXPECT_EQ(opens[0].flags, 0u);

  const auto requests = firmwareRequests(sim);
  ASSERT_EQ(requests.size(), 1u + 64u + 1u);
  constexpr std::uint32_t kTotal = 32768 + 76;
  expectFrame(requests.front(), kTotal, 1);
  for (std::size_t i = 0; i < 64; ++i) {
    SCOPED_TRACE(i);
    const auto& request = requests[1 + i];
    expectFrame(request, kTotal, 2);
    EXPECT_EQ(le32At(request.inputHead, 52), 1u);   // Version
    EXPECT_EQ(le32At(request.inputHead, 56), 24u);  // Size
    EXPECT_EQ(le64At(request.inputHead, 60), i * 32768u);
    EXPECT_EQ(le64At(request.inputHead, 68), 32768u);
    EXPECT_TRUE(std::equal(request.inputHead.begin() + 76, request.inputHead.end(),
                           packageImage().begin() + static_cast<std::ptrdiff_t>(i * 32768)));
  }
  const auto& activation = requests.back();
  expectFrame(activation, kTotal, 3);
  EXPECT_EQ(le32At(activation.inputHead, 52), 1u);
  EXPECT_EQ(le32At(activation.inputHead, 56), 12u);
  EXPECT_EQ(le32At(activation.inputHead, 60), 2u);  // slot 2, reserved bytes zero

  const zevsim::DriveReport drive = sim.drive("a");
  EXPECT_EQ(drive.downloadedBytes, kImageLength);
  EXPECT_TRUE(drive.stagedImageMatchesPackage);
  EXPECT_EQ(drive.runningFirmware, "KTW3LMZB");
  EXPECT_EQ(drive.firmwareAfterReset, "KTW8LMZB");
  EXPECT_EQ(sim.calls(zevsim::CallKind::CloseHandle).size(), 1u);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

struct PlanCase {
  const char* name;
  std::string driveKeys;
  std::int32_t granularity;
  std::size_t downloads;
  std::uint32_t lastPiece;
};

TEST(InboxUpdate, PiecesOnTheWire) {
  const std::vector<PlanCase> cases = {
      {"granularity 1", "", 1, 512, 4096},
      {"granularity 3, short last piece", R"(, "fwug": 3)", 3, 171, 8192},
      {"granularity 3 on a strict drive", R"(, "fwug": 3, "fwugStrict": true)", 3, 171, 8192},
      {"granularity 255", R"(, "fwug": 255)", 255, 3, 2097152 - 2 * 1044480},
  };
  for (const PlanCase& c : cases) {
    SCOPED_TRACE(c.name);
    InboxMachine sim(machineWithDrive(c.driveKeys));
    std::uint32_t transferLength = kImageLength;
    EXPECT_EQ(updateThroughInbox(inboxDisk(c.granularity), transferLength, zev::packageImage(),
                                 zev::buildPackageIdentity())
                  .code,
              0);
    const auto requests = firmwareRequests(sim);
    ASSERT_EQ(requests.size(), c.downloads + 2);
    const std::uint32_t piece = static_cast<std::uint32_t>(c.granularity) * 4096u;
    // The slot information and the activation go out in the full-size buffer.
    expectFrame(requests.front(), piece + 76, 1);
    expectFrame(requests.back(), piece + 76, 3);
    std::uint64_t next = 0;
    for (std::size_t i = 1; i + 1 < requests.size(); ++i) {
      const std::uint64_t length = le64At(requests[i].inputHead, 68);
      EXPECT_EQ(le64At(requests[i].inputHead, 60), next);
      EXPECT_EQ(length, i + 2 < requests.size() ? piece : c.lastPiece);
      expectFrame(requests[i], static_cast<std::uint32_t>(length) + 76, 2);
      next += length;
    }
    EXPECT_EQ(next, kImageLength);
    EXPECT_TRUE(sim.drive("a").stagedImageMatchesPackage);
    EXPECT_EQ(sim.drive("a").firmwareAfterReset, "KTW8LMZB");
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
  }
}

TEST(InboxUpdate, ZeroTransferLengthSendsNoPiece) {
  InboxMachine sim(machineWithDrive(""));
  std::uint32_t transferLength = 0;
  // The drive refuses to activate an image it never received.
  EXPECT_EQ(updateThroughInbox(inboxDisk(1), transferLength, zev::packageImage(),
                               zev::buildPackageIdentity())
                .code,
            1);
  EXPECT_EQ(functionsOf(firmwareRequests(sim)), (std::vector<std::uint32_t>{1, 3}));
  EXPECT_EQ(sim.console(),
            kTargetBlock + "  [ERROR] Firmware activation failed. ReturnCode: 0x7\n\n");
}

TEST(InboxUpdate, TransferLongerThanTheImageSendsNothing) {
  InboxMachine sim(machineWithDrive(""));
  std::uint32_t transferLength = kImageLength + 4096;
  EXPECT_EQ(updateThroughInbox(inboxDisk(1), transferLength, zev::packageImage(),
                               zev::buildPackageIdentity())
                .code,
            1);
  EXPECT_TRUE(firmwareRequests(sim).empty());
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

struct SlotCase {
  const char* name;
  std::string driveKeys;
  int result;
  std::uint32_t activatedSlot;  // 0: no activation request
  std::string diagnostic;       // console text after the target block
};

TEST(InboxUpdate, SlotChoice) {
  const std::vector<SlotCase> cases = {
      {"first read-only, second writable", "", 0, 2, ""},
      {"first writable", R"(, "slots": 3, "slot1ReadOnly": false)", 0, 1, ""},
      {"only slot read-only", R"(, "slots": 1)", 1, 0, "  [ERROR] No writable firmware slot.\n\n"},
      {"no slots", R"(, "slots": 0)", 1, 0,
       "  [ERROR] Firmware update is not supported by the drive.\n\n"},
      {"no upgrade support", R"(, "upgradeSupport": false)", 1, 0,
       "  [ERROR] Firmware update is not supported by the drive.\n\n"},
  };
  for (const SlotCase& c : cases) {
    SCOPED_TRACE(c.name);
    InboxMachine sim(machineWithDrive(c.driveKeys));
    std::uint32_t transferLength = kImageLength;
    const StepOutcome outcome =
        updateThroughInbox(inboxDisk(8), transferLength, zev::packageImage(), sim.identity());
    EXPECT_EQ(outcome.code, c.result);
    EXPECT_EQ(outcome.diagnostic, testsupport::firstErrorLine(c.diagnostic));
    const auto requests = firmwareRequests(sim);
    if (c.activatedSlot == 0) {
      EXPECT_EQ(functionsOf(requests), (std::vector<std::uint32_t>{1}));
    } else {
      ASSERT_EQ(functionsOf(requests).back(), 3u);
      EXPECT_EQ(requests.back().inputHead.at(60), c.activatedSlot);
      EXPECT_EQ(sim.drive("a").slots.at(c.activatedSlot - 1).firmware, "KTW8LMZB");
    }
    EXPECT_EQ(sim.console(), kTargetBlock + c.diagnostic);
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
  }
}

struct FailureCase {
  const char* name;
  std::string fault;  // one FAULT object
  int result;
  std::string diagnostic;  // console text after the target block
  std::size_t downloads;
  bool activationSent;
};

TEST(InboxUpdate, FailureRows) {
  const std::vector<FailureCase> cases = {
      {"drive cannot be opened", R"({ "request": "open", "error": 5 })", 5,
       "  [ERROR] Failed to get disk handle: 0x5\n\n", 0, false},
      {"slot information not delivered", R"({ "request": "getInfo", "error": 1117 })", 5,
       "  [ERROR] Get device Information Failed: 0x45d\n\n", 0, false},
      {"slot information ReturnCode", R"({ "request": "getInfo", "returnCode": 3 })", 5,
       "  [ERROR] Get device info failed. ReturnCode: 0x3\n\n", 0, false},
      {"slot information moved", R"({ "request": "getInfo", "dataBufferOffset": 100 })", 0, "", 64,
       true},
      {"slot information moved to an odd offset",
       R"({ "request": "getInfo", "dataBufferOffset": 61 })", 0, "", 64, true},
      {"slot information outside the buffer",
       R"({ "request": "getInfo", "dataBufferOffset": 32830 })", 5,
       "  [ERROR] Get device info failed. Malformed reply.\n\n", 0, false},
      {"third download not delivered", R"({ "request": "download", "nth": 3, "error": 1117 })", 5,
       "  [ERROR] DeviceIO failed. Function: 0x45d\n\n", 3, false},
      {"second download refused", R"({ "request": "download", "nth": 2, "returnCode": 7 })", 5,
       "  [ERROR] DeviceIO failed. ReturnCode: 0x7\n\n", 2, false},
      {"download ReturnCode in hexadecimal",
       R"({ "request": "download", "nth": 1, "returnCode": 171 })", 5,
       "  [ERROR] DeviceIO failed. ReturnCode: 0xab\n\n", 1, false},
      {"activation not delivered", R"({ "request": "activate", "error": 1117 })", 5,
       "  [ERROR] DeviceIO failed. activate failed: 0x45d\n\n", 64, true},
      {"activation power cycle status", R"({ "request": "activate", "returnCode": 32 })", 1602, "",
       64, true},
      {"activation status 0x21", R"({ "request": "activate", "returnCode": 33 })", 1,
       "  [ERROR] Firmware activation failed. ReturnCode: 0x21\n\n", 64, true},
      {"activation invalid slot", R"({ "request": "activate", "returnCode": 6 })", 1,
       "  [ERROR] Firmware activation failed. ReturnCode: 0x6\n\n", 64, true},
  };
  for (const FailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    InboxMachine sim(
        machineWithDrive(R"(, "nvmeVersion": "1.3", "fwug": 8, "faults": [ )" + c.fault + " ]"));
    std::uint32_t transferLength = kImageLength;
    const StepOutcome outcome =
        updateThroughInbox(inboxDisk(8), transferLength, zev::packageImage(), sim.identity());
    EXPECT_EQ(outcome.code, c.result);
    EXPECT_EQ(sim.console(), kTargetBlock + c.diagnostic);
    EXPECT_EQ(outcome.diagnostic, testsupport::firstErrorLine(c.diagnostic));
    const auto requests = firmwareRequests(sim);
    EXPECT_EQ(countFunction(requests, 2), c.downloads);
    EXPECT_EQ(countFunction(requests, 3), c.activationSent ? 1u : 0u);
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
  }
}

TEST(InboxUpdate, PowerCycleDriveNeedsTheReboot) {
  InboxMachine sim(machineWithDrive(R"(, "activation": "powerCycle")"));
  std::uint32_t transferLength = kImageLength;
  EXPECT_EQ(updateThroughInbox(inboxDisk(1), transferLength, zev::packageImage(),
                               zev::buildPackageIdentity())
                .code,
            1602);
  EXPECT_EQ(sim.drive("a").firmwareAfterReset, "KTW8LMZB");
}

TEST(InboxUpdate, StrictDriveRefusesPiecesBelowItsGranularity) {
  // A drive of version 1.2 reports FWUG 8, which the granularity rule ignores:
  // its 4096-byte pieces break the drive's own granularity.
  InboxMachine sim(machineWithDrive(R"(, "nvmeVersion": "1.2", "fwug": 8, "fwugStrict": true)"));
  std::uint32_t transferLength = kImageLength;
  EXPECT_EQ(updateThroughInbox(inboxDisk(1), transferLength, zev::packageImage(),
                               zev::buildPackageIdentity())
                .code,
            5);
  EXPECT_EQ(sim.console(), kTargetBlock + "  [ERROR] DeviceIO failed. ReturnCode: 0x3\n\n");
  EXPECT_EQ(countFunction(firmwareRequests(sim), 3), 0u);
}

}  // namespace
}  // namespace zev
