// The fault matrix: for each driver stack, each kind of request the package
// sends to it and each way the request can fail, the whole package runs on a
// machine holding the faulted stack and one healthy inbox TQ270c. Every row
// checks the exit status, the faulted drive's line in the log, the console
// line the failure gives, that no activation or commit follows a failed
// download, that the healthy drive is still updated, and that every handle is
// closed.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/entry_point.hpp"
#include "support/bound_machine.hpp"

namespace zev {
namespace {

using testsupport::CapturedMachine;
using zevsim::FaultRequest;

enum class Stack { Inbox, IrstRaid, IrstPassThrough, VrocRaid, VrocNonRaid };

// The healthy inbox drive comes first in device order, and the faulted one
// after it.
constexpr const char* kHealthyDrive = R"({ "id": "healthy", "serial": "KD27H0001", "fwug": 255 })";

const char* victimId(Stack stack) {
  return stack == Stack::Inbox      ? "victim"
         : stack == Stack::IrstRaid ? "raid-a"
         : stack == Stack::VrocRaid ? "vroc-a"
                                    : "pt";
}

// Every TQ270c here reports FWUG 255 with NVMe 1.3: pieces of 255 x 4 KiB,
// so the image goes out as two whole pieces and a short last one. The VROC
// records carry granularity 1: 512 pieces.
std::string machineFor(Stack stack, const std::string& victimFaults,
                       const std::string& controllerFaults) {
  const std::string victim = R"({ "id": ")" + std::string(victimId(stack)) +
                             R"(", "serial": "KD27V0002", "firmware": "KTW5LMZB",)" +
                             R"( "fwug": 255, "faults": [)" + victimFaults + "] }";
  const std::string partner =
      R"({ "id": "partner", "serial": "KD27P0003", "firmware": "KTW5LMZB", "fwug": 255 })";
  std::string text = R"({ "drives": [ )" + std::string(kHealthyDrive) + ", " + victim;
  switch (stack) {
    case Stack::Inbox:
      return text + R"( ], "inbox": [ { "drive": "healthy" }, { "drive": "victim" } ] })";
    case Stack::IrstRaid:
    case Stack::VrocRaid:
      return text + ", " + partner + R"( ], "inbox": [ { "drive": "healthy" } ],
        "intelController": { "driver": ")" +
             (stack == Stack::IrstRaid ? "irst" : "vroc") + R"(", "faults": [)" + controllerFaults +
             R"(],
          "raidVolumes": [ { "members": [ { "drive": ")" +
             victimId(stack) + R"(", "port": 0 }, { "drive": "partner", "port": 1 } ] } ] } })";
    case Stack::IrstPassThrough:
    case Stack::VrocNonRaid:
      return text + R"( ], "inbox": [ { "drive": "healthy" } ],
        "intelController": { "driver": ")" +
             (stack == Stack::IrstPassThrough ? "irst" : "vroc") + R"(", "faults": [)" +
             controllerFaults + R"(],
          "passThrough": [ { "drive": "pt", "busNumber": 3 } ] } })";
  }
  return text;
}

// Where a row's fault lies: in the faulted drive's requests, in the Intel
// controller's, or in the last open of the update's path (error 5).
enum class At { Drive, Controller, UpdateOpen };

// What the faulted drive itself shows after the run, besides its log line.
enum Victim : unsigned {
  kUnchecked = 0,      // neither: its update goes on, or the fault alters a completion it acted on
  kKeepsRevision = 1,  // still on KTW5LMZB after the reset: the fault stopped its update
  kNoActivation = 2,   // one of its downloads failed: no activation or commit reaches it
  kNotExamined = 4,    // its disk could not be examined: logged as such, and the run fails
};

struct FaultRow {
  std::string name;
  Stack stack;
  At at;
  std::string fault;  // a FAULT of the machine file ("" for At::UpdateOpen)
  // The faulted drive's Return Code in the log; nullopt: it is never
  // identified, so neither updated nor logged.
  std::optional<int> victimResult;
  std::string consoleLine;  // a line the failure prints ("" when it prints none)
  unsigned victim;          // Victim flags
};

void PrintTo(const FaultRow& row, std::ostream* os) {
  *os << row.name;
}

std::string fault(const char* request, const char* how, std::optional<int> nth = std::nullopt) {
  std::string text = std::string(R"({ "request": ")") + request + R"(", )" + how;
  if (nth) {
    text += R"(, "nth": )" + std::to_string(*nth);
  }
  return text + " }";
}

constexpr const char* kError = R"("error": 1117)";  // ERROR_IO_DEVICE, 0x45d
constexpr unsigned kFailedDownload = kKeepsRevision | kNoActivation;

std::vector<FaultRow> rows() {
  const At drive = At::Drive;
  const At controller = At::Controller;
  const std::nullopt_t unlogged = std::nullopt;
  std::vector<FaultRow> out;
  // --- Inbox: each disk is opened by the enumeration, the identification and
  // the update, in that order.
  const Stack inbox = Stack::Inbox;
  const unsigned unexamined = kKeepsRevision | kNotExamined;
  out.push_back({"InboxOpenInEnumeration", inbox, drive, fault("open", kError, 1), unlogged,
                 "  [ERROR] Failed to get disk handle: 0x45d", unexamined});
  out.push_back({"InboxOpenInIdentify", inbox, drive, fault("open", kError, 2), unlogged,
                 "  [ERROR] Failed to get disk handle: 0x45d", unexamined});
  out.push_back({"InboxOpenInUpdate", inbox, drive, fault("open", kError, 3), 5,
                 "  [ERROR] Failed to get disk handle: 0x45d", kKeepsRevision});
  out.push_back({"InboxDeviceNumber", inbox, drive, fault("deviceNumber", kError), unlogged,
                 "  [ERROR] Get device number failed: 0x45d", unexamined});
  out.push_back({"InboxIdentify", inbox, drive, fault("identify", kError), unlogged,
                 "  [ERROR] Identify failed: 0x45d", unexamined});
  // An activation that asks for a power cycle: the drive commits, and the run
  // says it needs the reboot.
  out.push_back({"InboxActivatePowerCycle", inbox, drive, fault("activate", R"("returnCode": 32)"),
                 1602, "", kUnchecked});
  out.push_back({"InboxSlotInfoUndelivered", inbox, drive, fault("getInfo", kError), 5,
                 "  [ERROR] Get device Information Failed: 0x45d", kKeepsRevision});
  // A reply that moves the slot information: inside the buffer it is read
  // there; outside it, the reply has failed.
  out.push_back({"InboxSlotInfoMoved", inbox, drive, fault("getInfo", R"("dataBufferOffset": 100)"),
                 0, "", kUnchecked});
  out.push_back({"InboxSlotInfoOutsideTheBuffer", inbox, drive,
                 fault("getInfo", R"("dataBufferOffset": 1048576)"), 5,
                 "  [ERROR] Get device info failed. Malformed reply.", kKeepsRevision});
  out.push_back({"InboxSlotInfoReturnCode", inbox, drive, fault("getInfo", R"("returnCode": 3)"), 5,
                 "  [ERROR] Get device info failed. ReturnCode: 0x3", kKeepsRevision});
  for (int nth : {1, 2, 3}) {
    const std::string piece = nth == 1 ? "First" : nth == 2 ? "Middle" : "Last";
    out.push_back({"Inbox" + piece + "PieceUndelivered", inbox, drive,
                   fault("download", kError, nth), 5, "  [ERROR] DeviceIO failed. Function: 0x45d",
                   kFailedDownload});
    out.push_back({"Inbox" + piece + "PieceReturnCode", inbox, drive,
                   fault("download", R"("returnCode": 3)", nth), 5,
                   "  [ERROR] DeviceIO failed. ReturnCode: 0x3", kFailedDownload});
  }
  out.push_back({"InboxActivateUndelivered", inbox, drive, fault("activate", kError), 5,
                 "  [ERROR] DeviceIO failed. activate failed: 0x45d", kKeepsRevision});
  out.push_back({"InboxActivateReturnCode", inbox, drive, fault("activate", R"("returnCode": 7)"),
                 1, "  [ERROR] Firmware activation failed. ReturnCode: 0x7", kKeepsRevision});

  // --- IRST: RAID members and pass-through drives share the controller path.
  for (Stack stack : {Stack::IrstRaid, Stack::IrstPassThrough}) {
    const std::string prefix = stack == Stack::IrstRaid ? "IrstRaid" : "IrstPassThrough";
    // A matching controller that does not open hides its disks: not examined.
    out.push_back({prefix + "ControllerOpen", stack, controller, fault("open", kError), unlogged,
                   "  [ERROR] Failed to get disk handle: 0x45d", unexamined});
    out.push_back({prefix + "UpdateOpen", stack, At::UpdateOpen, "", 5,
                   "  [ERROR] Failed to get disk handle: 0x5", kKeepsRevision});
    out.push_back({prefix + "IdentifyUndelivered", stack, drive, fault("identify", kError),
                   unlogged, "", kKeepsRevision});
    out.push_back({prefix + "IdentifyReturnCode", stack, drive,
                   fault("identify", R"("returnCode": 3)"), unlogged, "", kKeepsRevision});
    for (int nth : {1, 2, 3}) {
      const std::string piece = nth == 1 ? "First" : nth == 2 ? "Middle" : "Last";
      out.push_back({prefix + piece + "PieceUndelivered", stack, drive,
                     fault("download", kError, nth), 1,
                     "  [ERROR] Firmware download IOCTL failed: 0x45D", kFailedDownload});
      out.push_back({prefix + piece + "PieceReturnCode", stack, drive,
                     fault("download", R"("returnCode": 3)", nth), 1,
                     "  [ERROR] Firmware download failed: srbControl->ReturnCode 3",
                     kFailedDownload});
    }
    out.push_back({prefix + "ActivateUndelivered", stack, drive, fault("activate", kError), 1,
                   "  [ERROR] Firmware activate IOCTL failed: 0x45D", kKeepsRevision});
    out.push_back({prefix + "ActivateReturnCode", stack, drive,
                   fault("activate", R"("returnCode": 7)"), 1,
                   "  [ERROR] Firmware activate failed: invalid firmware image", kKeepsRevision});
  }
  out.push_back({"IrstRaidCsmiUndelivered", Stack::IrstRaid, controller, fault("csmi", kError),
                 unlogged, "  [ERROR] CSMI GET RAID CONFIG IOCTL failed: 0x45D", unexamined});
  out.push_back({"IrstRaidCsmiReturnCode", Stack::IrstRaid, controller,
                 fault("csmi", R"("returnCode": 3)"), unlogged,
                 "  [ERROR] CSMI GET RAID CONFIG ReturnCode: 0x3", unexamined});

  // A pass-through disk behind the Intel controller that cannot be opened is
  // not examined, whichever driver the controller runs.
  for (Stack stack : {Stack::IrstPassThrough, Stack::VrocNonRaid}) {
    out.push_back(
        {stack == Stack::IrstPassThrough ? "IrstPassThroughDiskOpen" : "VrocNonRaidDiskOpen", stack,
         drive, fault("open", kError), unlogged, "  [ERROR] Failed to get disk handle: 0x45d",
         unexamined});
  }

  // --- VROC: the SCSI port serves the lists and the NVMe pass-through.
  for (Stack stack : {Stack::VrocRaid, Stack::VrocNonRaid}) {
    const bool raid = stack == Stack::VrocRaid;
    const std::string prefix = raid ? "VrocRaid" : "VrocNonRaid";
    // The CSMI query of a RAID volume fails under the VROC driver by design;
    // when the scan then identifies no member either, the volume was not
    // examined. Pass-through drives are not counted.
    const unsigned unlisted = raid ? unexamined : kKeepsRevision;
    out.push_back({prefix + "PortOpen", stack, controller, fault("scsiPortOpen", kError), unlogged,
                   "", unlisted});
    out.push_back({prefix + "UpdateOpen", stack, At::UpdateOpen, "", 5,
                   "  [ERROR] Failed to get disk handle: 0x5", kKeepsRevision});
    out.push_back({prefix + "ListsUndelivered", stack, controller, fault("vrocList", kError),
                   unlogged, "", unlisted});
    out.push_back({prefix + "ListsReturnCode", stack, controller,
                   fault("vrocList", R"("returnCode": 3)"), unlogged, "", unlisted});
    // The scan's requests are counted in order: the RAID volume count, then
    // the volume information and member list, or the non-RAID count and list.
    // A volume information or a list that fails on a port that has drives
    // leaves them not examined; a failed non-RAID count is a port without
    // drives.
    for (int nth : {2, 3}) {
      out.push_back({prefix + (nth == 2 ? "Second" : "Third") + "ListRequestUndelivered", stack,
                     controller, fault("vrocList", kError, nth), unlogged,
                     raid ? "dwError: 1117" : "", raid || nth == 3 ? unexamined : kKeepsRevision});
    }
    // The driver serves NVMe drives only: a drive whose Identify fails is not
    // examined.
    out.push_back({prefix + "IdentifyUndelivered", stack, drive, fault("identify", kError),
                   unlogged, "  [ERROR] Identify failed: 0x45d", unexamined});
    out.push_back({prefix + "IdentifyReturnCode", stack, drive,
                   fault("identify", R"("returnCode": 14)"), unlogged,
                   "  [ERROR] Identify failed. ReturnCode: 0xe", unexamined});
    out.push_back({prefix + "IdentifyNvmeStatus", stack, drive,
                   fault("identify", R"("nvmeStatus": 2)"), unlogged,
                   "  [ERROR] Identify failed. NVMe status: 0x2", unexamined});
    // Granularity 1: pieces 1, 256 and 512 are the first, a middle and the last.
    for (int nth : {1, 256, 512}) {
      const std::string piece = nth == 1 ? "First" : nth == 256 ? "Middle" : "Last";
      out.push_back({prefix + piece + "PieceUndelivered", stack, drive,
                     fault("download", kError, nth), 1,
                     "  [ERROR] Firmware download IOCTL failed: 0x45D", kFailedDownload});
      out.push_back({prefix + piece + "PieceReturnCode", stack, drive,
                     fault("download", R"("returnCode": 3)", nth), 1,
                     "  [ERROR] Firmware download failed: srbControl->ReturnCode 3",
                     kFailedDownload});
      out.push_back(
          {prefix + piece + "PieceNvmeStatus", stack, drive,
           fault("download", R"("nvmeStatus": 2)", nth), 1,
           "  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
           "0x00000002",
           kFailedDownload});
    }
    // A status with bit 31 of CplEntry[3] set is still a failure, and the
    // phase tag alone is not one. Both change only the completion, after the
    // drive has acted on the request.
    out.push_back({prefix + "LastPieceStatusBit31", stack, drive,
                   fault("download", R"("completion": 2147483648)", 512), 1,
                   "  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
                   "0x00004000",
                   kNoActivation});
    out.push_back({prefix + "PiecePhaseTagOnly", stack, drive,
                   fault("download", R"("completion": 65536)", 2), 0, "", kUnchecked});
    out.push_back({prefix + "CommitStatusBit31", stack, drive,
                   fault("activate", R"("completion": 2147483648)"), 5,
                   "  [ERROR] Firmware activation failed: Completion Queue Entry Status Value: "
                   "0x00004000",
                   kUnchecked});
    out.push_back({prefix + "CommitUndelivered", stack, drive, fault("activate", kError), 1,
                   "  [ERROR] Firmware activate IOCTL failed: 0x45D", kKeepsRevision});
    out.push_back({prefix + "CommitReturnCode", stack, drive,
                   fault("activate", R"("returnCode": 14)"), 1,
                   "  [ERROR] NVME_IOCTL_INVALID_PATH_TARGET_ID", kKeepsRevision});
    out.push_back({prefix + "CommitNvmeStatus", stack, drive,
                   fault("activate", R"("nvmeStatus": 262)"), 5,
                   "  [ERROR] Firmware activation failed: Completion Queue Entry Status Value: "
                   "0x00000106",
                   kKeepsRevision});
  }
  return out;
}

// The Return Code of the log's disk block whose serial number starts with
// serial; nullopt when no block names it.
std::optional<int> loggedResult(const std::string& log, const std::string& serial) {
  std::istringstream lines(log);
  std::string line;
  bool inBlock = false;
  while (std::getline(lines, line)) {
    if (line.rfind("Serial Number : " + serial, 0) == 0) {
      inBlock = true;
    } else if (inBlock && line.rfind("Return Code : ", 0) == 0) {
      return std::stoi(line.substr(14));
    }
  }
  return std::nullopt;
}

struct RunOutcome {
  int exitStatus = -1;
  std::string console;
  std::string log;
};

RunOutcome runPackage(CapturedMachine& sim, const std::string& name) {
  const auto logPath =
      std::filesystem::temp_directory_path() / ("zev_fault_matrix_" + name + ".log");
  std::filesystem::remove(logPath);
  const std::wstring logArg = L"/log=" + logPath.wstring();
  const wchar_t* argv[] = {L"C:\\pkg\\ZEV_TQ270c_V1.0.2_KTW8LMZB.exe", logArg.c_str()};
  RunOutcome out;
  out.exitStatus = packageMain(2, argv);
  out.console = sim.console();
  {
    // Closed before the removal: Windows does not remove a file that is open.
    std::ifstream file(logPath, std::ios::binary);
    out.log.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  std::filesystem::remove(logPath);
  return out;
}

// The path the update of the stack's drives opens, and which of its opens in
// a fault-free run is the faulted drive's update: the last one, or for a RAID
// volume, whose first member is the faulted drive, the one before it.
struct UpdatePath {
  std::wstring path;
  std::uint32_t opens = 0;
};

UpdatePath updatePathOf(const FaultRow& row) {
  CapturedMachine sim(machineFor(row.stack, "", ""));
  runPackage(sim, row.name + "_baseline");
  UpdatePath out;
  const bool vroc = row.stack == Stack::VrocRaid || row.stack == Stack::VrocNonRaid;
  out.path = vroc ? L"\\\\.\\Scsi2:" : sim.controllerPath();
  for (const zevsim::CallRecord& call : sim.calls(zevsim::CallKind::CreateFile)) {
    out.opens += call.path == out.path ? 1 : 0;
  }
  if (row.stack == Stack::IrstRaid || row.stack == Stack::VrocRaid) {
    --out.opens;
  }
  return out;
}

class FaultMatrixTest : public ::testing::TestWithParam<FaultRow> {};

TEST_P(FaultMatrixTest, FailsTheFaultedDriveOnlyAndNeverCommitsAfterAFailedDownload) {
  const FaultRow& row = GetParam();
  const std::optional<UpdatePath> updatePath =
      row.at == At::UpdateOpen ? std::optional(updatePathOf(row)) : std::nullopt;
  CapturedMachine sim(machineFor(row.stack, row.at == At::Drive ? row.fault : "",
                                 row.at == At::Controller ? row.fault : ""));
  if (updatePath) {
    zevsim::CallFault open =
        testsupport::callFault(zevsim::CallKind::CreateFile, 5, updatePath->opens);
    open.path = updatePath->path;
    sim.machine().injectCallFault(open);
  }
  const RunOutcome run = runPackage(sim, row.name);

  // The faulted drive's own result, as the log words it.
  EXPECT_EQ(loggedResult(run.log, "KD27V0002"), row.victimResult) << run.log;
  const bool notExamined = (row.victim & kNotExamined) != 0;
  EXPECT_EQ(run.log.find("Result Details : Disk could not be examined (") != std::string::npos,
            notExamined)
      << run.log;
  const bool failed =
      notExamined || (row.victimResult && *row.victimResult != 0 && *row.victimResult != 1602);
  const bool reboot = row.victimResult == 1602;
  EXPECT_EQ(run.exitStatus, failed ? 1 : reboot ? 1602 : 0) << run.console;
  if (failed) {
    EXPECT_NE(run.log.find("Patch Failed."), std::string::npos) << run.log;
  }
  if (!row.consoleLine.empty()) {
    EXPECT_NE(run.console.find(row.consoleLine + "\n"), std::string::npos)
        << "missing: " << row.consoleLine << "\n"
        << run.console;
  }

  // The faulted drive's own state, as the row's Victim flags say.
  const zevsim::DriveReport victim = sim.drive(victimId(row.stack));
  if ((row.victim & kNoActivation) != 0) {
    EXPECT_EQ(victim.requests[static_cast<int>(FaultRequest::Activate)], 0u);
  }
  if ((row.victim & kKeepsRevision) != 0) {
    EXPECT_EQ(victim.firmwareAfterReset, "KTW5LMZB");
  }

  const zevsim::DriveReport healthy = sim.drive("healthy");
  EXPECT_TRUE(healthy.stagedImageMatchesPackage);
  EXPECT_EQ(healthy.firmwareAfterReset, "KTW8LMZB");
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrixTest, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<FaultRow>& info) {
                           return info.param.name;
                         });

// The rows' piece positions rely on the piece counts of these machines: a
// fault-free run sends the faulted drive exactly that many pieces and one
// activation, and updates it.
struct PieceCountRow {
  Stack stack;
  std::uint32_t pieces;
};

class FaultMatrixBaselineTest : public ::testing::TestWithParam<PieceCountRow> {};

TEST_P(FaultMatrixBaselineTest, FaultFreeRunUpdatesEveryDriveInTheExpectedPieces) {
  CapturedMachine sim(machineFor(GetParam().stack, "", ""));
  const RunOutcome run =
      runPackage(sim, "baseline" + std::to_string(static_cast<int>(GetParam().stack)));
  EXPECT_EQ(run.exitStatus, 0) << run.console;
  EXPECT_EQ(loggedResult(run.log, "KD27V0002"), 0) << run.log;
  const zevsim::DriveReport victim = sim.drive(victimId(GetParam().stack));
  EXPECT_EQ(victim.requests[static_cast<int>(FaultRequest::Download)], GetParam().pieces);
  EXPECT_EQ(victim.requests[static_cast<int>(FaultRequest::Activate)], 1u);
  EXPECT_EQ(victim.firmwareAfterReset, "KTW8LMZB");
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Stacks, FaultMatrixBaselineTest,
                         ::testing::Values(PieceCountRow{Stack::Inbox, 3},
                                           PieceCountRow{Stack::IrstRaid, 3},
                                           PieceCountRow{Stack::IrstPassThrough, 3},
                                           PieceCountRow{Stack::VrocRaid, 512},
                                           PieceCountRow{Stack::VrocNonRaid, 512}));

}  // namespace
}  // namespace zev
