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

// The healthy inbox drive comes first in device order, so that a faulted open
// of the second disk, which ends the disk enumeration, leaves it listed.
constexpr const char* kHealthyDrive = R"({ "id": "healthy", "serial": "KD27H0001", "fwug": 255 })";

// Every TQ270c here reports FWUG 255 with NVMe 1.3: pieces of 255 x 4 KiB,
// so the image goes out as two whole pieces and a short last one. The VROC
// records carry granularity 1: 512 pieces.
std::string machineFor(Stack stack, const std::string& victimFaults,
                       const std::string& controllerFaults) {
  const std::string victim = [&] {
    std::string id = stack == Stack::Inbox      ? "victim"
                     : stack == Stack::IrstRaid ? "raid-a"
                     : stack == Stack::VrocRaid ? "vroc-a"
                                                : "pt";
    return R"({ "id": ")" + id + R"(", "serial": "KD27V0002", "firmware": "KTW5LMZB",)" +
           R"( "fwug": 255, "faults": [)" + victimFaults + "] }";
  }();
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
             (stack == Stack::IrstRaid ? "raid-a" : "vroc-a") +
             R"(", "port": 0 }, { "drive": "partner", "port": 1 } ] } ] } })";
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

const char* victimId(Stack stack) {
  switch (stack) {
    case Stack::Inbox:
      return "victim";
    case Stack::IrstRaid:
      return "raid-a";
    case Stack::VrocRaid:
      return "vroc-a";
    default:
      return "pt";
  }
}

struct FaultRow {
  const char* name;
  Stack stack;
  std::string victimFaults;      // FAULTs of the faulted drive
  std::string controllerFaults;  // FAULTs of the Intel controller
  bool failLastControllerOpen;   // the last open of the update's path fails (error 5)
  // The faulted drive's Return Code in the log; nullopt: it is never
  // identified, so neither updated nor logged.
  std::optional<int> victimResult;
  std::string consoleLine;  // a line the failure prints ("" when it prints none)
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

std::vector<FaultRow> rows() {
  std::vector<FaultRow> out;
  // --- Inbox: each disk is opened by the enumeration, the identification and
  // the update, in that order.
  out.push_back({"InboxOpenInEnumeration", Stack::Inbox, fault("open", kError, 1), "", false,
                 std::nullopt, ""});
  out.push_back({"InboxOpenInIdentify", Stack::Inbox, fault("open", kError, 2), "", false,
                 std::nullopt, "  [ERROR] Failed to get disk handle: 0x45d"});
  out.push_back({"InboxOpenInUpdate", Stack::Inbox, fault("open", kError, 3), "", false, 5, ""});
  out.push_back({"InboxDeviceNumber", Stack::Inbox, fault("deviceNumber", kError), "", false,
                 std::nullopt, ""});
  out.push_back(
      {"InboxIdentify", Stack::Inbox, fault("identify", kError), "", false, std::nullopt, ""});
  out.push_back({"InboxSlotInfoUndelivered", Stack::Inbox, fault("getInfo", kError), "", false, 5,
                 "  [ERROR] Get device Information Failed: 0x45d"});
  // A reply that moves the slot information: inside the buffer it is read
  // there; outside it, the reply has failed.
  out.push_back({"InboxSlotInfoMoved", Stack::Inbox, fault("getInfo", R"("dataBufferOffset": 100)"),
                 "", false, 0, ""});
  out.push_back({"InboxSlotInfoOutsideTheBuffer", Stack::Inbox,
                 fault("getInfo", R"("dataBufferOffset": 1048576)"), "", false, 5, ""});
  out.push_back({"InboxSlotInfoReturnCode", Stack::Inbox, fault("getInfo", R"("returnCode": 3)"),
                 "", false, 5, "  [ERROR] Get device info failed. ReturnCode: 0x3"});
  for (int nth : {1, 2, 3}) {
    out.push_back({nth == 1   ? "InboxFirstPieceUndelivered"
                   : nth == 2 ? "InboxMiddlePieceUndelivered"
                              : "InboxLastPieceUndelivered",
                   Stack::Inbox, fault("download", kError, nth), "", false, 5,
                   "  [ERROR] DeviceIO failed. Function: 0x45d"});
    out.push_back({nth == 1   ? "InboxFirstPieceReturnCode"
                   : nth == 2 ? "InboxMiddlePieceReturnCode"
                              : "InboxLastPieceReturnCode",
                   Stack::Inbox, fault("download", R"("returnCode": 3)", nth), "", false, 5,
                   "  [ERROR] DeviceIO failed. ReturnCode: 0x3"});
  }
  out.push_back({"InboxActivateUndelivered", Stack::Inbox, fault("activate", kError), "", false, 5,
                 "  [ERROR] DeviceIO failed. activate failed: 0x45d"});
  out.push_back({"InboxActivateReturnCode", Stack::Inbox, fault("activate", R"("returnCode": 7)"),
                 "", false, 1, ""});

  // --- IRST: RAID members and pass-through drives share the controller path.
  for (Stack stack : {Stack::IrstRaid, Stack::IrstPassThrough}) {
    const bool raid = stack == Stack::IrstRaid;
    out.push_back({raid ? "IrstRaidControllerOpen" : "IrstPassThroughControllerOpen", stack, "",
                   fault("open", kError), false, std::nullopt, ""});
    out.push_back({raid ? "IrstRaidUpdateOpen" : "IrstPassThroughUpdateOpen", stack, "", "", true,
                   5, "  [ERROR] Failed to get disk handle: 0x5"});
    out.push_back({raid ? "IrstRaidIdentifyUndelivered" : "IrstPassThroughIdentifyUndelivered",
                   stack, fault("identify", kError), "", false, std::nullopt, ""});
    out.push_back({raid ? "IrstRaidIdentifyReturnCode" : "IrstPassThroughIdentifyReturnCode", stack,
                   fault("identify", R"("returnCode": 3)"), "", false, std::nullopt, ""});
    for (int nth : {1, 2, 3}) {
      const char* position = nth == 1 ? "First" : nth == 2 ? "Middle" : "Last";
      static std::vector<std::string> names;
      names.push_back(std::string(raid ? "IrstRaid" : "IrstPassThrough") + position +
                      "PieceUndelivered");
      out.push_back({names.back().c_str(), stack, fault("download", kError, nth), "", false, 1,
                     "  [ERROR] Firmware download IOCTL failed: 0x45D"});
      names.push_back(std::string(raid ? "IrstRaid" : "IrstPassThrough") + position +
                      "PieceReturnCode");
      out.push_back({names.back().c_str(), stack, fault("download", R"("returnCode": 3)", nth), "",
                     false, 1, "  [ERROR] Firmware download failed: srbControl->ReturnCode 3"});
    }
    out.push_back({raid ? "IrstRaidActivateUndelivered" : "IrstPassThroughActivateUndelivered",
                   stack, fault("activate", kError), "", false, 1,
                   "  [ERROR] Firmware activate IOCTL failed: 0x45D"});
    out.push_back({raid ? "IrstRaidActivateReturnCode" : "IrstPassThroughActivateReturnCode", stack,
                   fault("activate", R"("returnCode": 7)"), "", false, 1,
                   "  [ERROR] Firmware activate failed: invalid firmware image"});
  }
  out.push_back({"IrstRaidCsmiUndelivered", Stack::IrstRaid, "", fault("csmi", kError), false,
                 std::nullopt, "  [ERROR] CSMI GET RAID CONFIG IOCTL failed: 0x45D"});
  out.push_back({"IrstRaidCsmiReturnCode", Stack::IrstRaid, "", fault("csmi", R"("returnCode": 3)"),
                 false, std::nullopt, "  [ERROR] CSMI GET RAID CONFIG ReturnCode: 0x3"});

  // --- VROC: the SCSI port serves the lists and the NVMe pass-through.
  for (Stack stack : {Stack::VrocRaid, Stack::VrocNonRaid}) {
    const bool raid = stack == Stack::VrocRaid;
    const std::string prefix = raid ? "VrocRaid" : "VrocNonRaid";
    static std::vector<std::string> names;
    auto name = [&](const char* what) {
      names.push_back(prefix + what);
      return names.back().c_str();
    };
    out.push_back(
        {name("PortOpen"), stack, "", fault("scsiPortOpen", kError), false, std::nullopt, ""});
    out.push_back(
        {name("UpdateOpen"), stack, "", "", true, 5, "  [ERROR] Failed to get disk handle: 0x5"});
    out.push_back(
        {name("ListsUndelivered"), stack, "", fault("vrocList", kError), false, std::nullopt, ""});
    out.push_back({name("ListsReturnCode"), stack, "", fault("vrocList", R"("returnCode": 3)"),
                   false, std::nullopt, ""});
    // The scan's requests are counted in order: the RAID volume count, then
    // the volume information and member list, or the non-RAID count and list.
    // A failed list leaves the faulted drive unlisted or unidentified.
    out.push_back({name("SecondListRequestUndelivered"), stack, "", fault("vrocList", kError, 2),
                   false, std::nullopt, raid ? "dwError: 1117" : ""});
    out.push_back({name("ThirdListRequestUndelivered"), stack, "", fault("vrocList", kError, 3),
                   false, std::nullopt, raid ? "dwError: 1117" : ""});
    // An Identify that fails leaves the data area's fill, a revision that no
    // row of the gate accepts.
    out.push_back({name("IdentifyUndelivered"), stack, fault("identify", kError), "", false,
                   std::nullopt, ""});
    out.push_back({name("IdentifyReturnCode"), stack, fault("identify", R"("returnCode": 14)"), "",
                   false, std::nullopt, ""});
    out.push_back({name("IdentifyNvmeStatus"), stack, fault("identify", R"("nvmeStatus": 2)"), "",
                   false, std::nullopt, ""});
    // Granularity 1: pieces 1, 256 and 512 are the first, a middle and the last.
    for (int nth : {1, 256, 512}) {
      const std::string position = nth == 1 ? "First" : nth == 256 ? "Middle" : "Last";
      out.push_back({name((position + "PieceUndelivered").c_str()), stack,
                     fault("download", kError, nth), "", false, 1,
                     "  [ERROR] Firmware download IOCTL failed: 0x45D"});
      out.push_back({name((position + "PieceReturnCode").c_str()), stack,
                     fault("download", R"("returnCode": 3)", nth), "", false, 1,
                     "  [ERROR] Firmware download failed: srbControl->ReturnCode 3"});
      out.push_back(
          {name((position + "PieceNvmeStatus").c_str()), stack,
           fault("download", R"("nvmeStatus": 2)", nth), "", false, 1,
           "  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
           "0x00000002"});
    }
    // A status with bit 31 of CplEntry[3] set is still a failure, and the
    // phase tag alone is not one.
    out.push_back({name("LastPieceStatusBit31"), stack,
                   fault("download", R"("completion": 2147483648)", 512), "", false, 1,
                   "  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
                   "0x00004000"});
    out.push_back({name("PiecePhaseTagOnly"), stack, fault("download", R"("completion": 65536)", 2),
                   "", false, 0, ""});
    out.push_back({name("CommitStatusBit31"), stack,
                   fault("activate", R"("completion": 2147483648)"), "", false, 5,
                   "  [ERROR] Firmware activation failed: Completion Queue Entry Status Value: "
                   "0x00004000"});
    out.push_back({name("CommitUndelivered"), stack, fault("activate", kError), "", false, 1,
                   "  [ERROR] Firmware activate IOCTL failed: 0x45D"});
    out.push_back({name("CommitReturnCode"), stack, fault("activate", R"("returnCode": 14)"), "",
                   false, 1, "  [ERROR] NVME_IOCTL_INVALID_PATH_TARGET_ID"});
    out.push_back({name("CommitNvmeStatus"), stack, fault("activate", R"("nvmeStatus": 262)"), "",
                   false, 5,
                   "  [ERROR] Firmware activation failed: Completion Queue Entry Status Value: "
                   "0x00000106"});
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
  runPackage(sim, std::string(row.name) + "_baseline");
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
  std::optional<UpdatePath> updatePath;
  if (row.failLastControllerOpen) {
    updatePath = updatePathOf(row);
  }
  CapturedMachine sim(machineFor(row.stack, row.victimFaults, row.controllerFaults));
  if (updatePath) {
    zevsim::CallFault open =
        testsupport::callFault(zevsim::CallKind::CreateFile, 5, updatePath->opens);
    open.path = updatePath->path;
    sim.machine().injectCallFault(open);
  }
  const RunOutcome run = runPackage(sim, row.name);

  // The faulted drive's own result, as the log words it.
  EXPECT_EQ(loggedResult(run.log, "KD27V0002"), row.victimResult) << run.log;
  const bool failed = row.victimResult && *row.victimResult != 0 && *row.victimResult != 1602;
  EXPECT_EQ(run.exitStatus, failed ? 1 : 0) << run.console;
  if (failed) {
    EXPECT_NE(run.log.find("Patch Failed."), std::string::npos) << run.log;
  }
  if (!row.consoleLine.empty()) {
    EXPECT_NE(run.console.find(row.consoleLine + "\n"), std::string::npos)
        << "missing: " << row.consoleLine << "\n"
        << run.console;
  }

  // A failed download is never followed by an activation or commit. A fault
  // that stops its request leaves the drive on its own revision; one that
  // only changes the completion lets the drive act first.
  const zevsim::DriveReport victim = sim.drive(victimId(row.stack));
  const bool downloadFault = row.victimFaults.find(R"("download")") != std::string::npos;
  if (downloadFault && failed) {
    EXPECT_EQ(victim.requests[static_cast<int>(FaultRequest::Activate)], 0u);
  }
  const bool driveActed = row.victimFaults.find(R"("completion")") != std::string::npos;
  if ((failed || !row.victimResult) && !driveActed) {
    EXPECT_EQ(victim.firmwareAfterReset, "KTW5LMZB");
  }

  const zevsim::DriveReport healthy = sim.drive("healthy");
  EXPECT_TRUE(healthy.stagedImageMatchesPackage);
  EXPECT_EQ(healthy.firmwareAfterReset, "KTW8LMZB");
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrixTest, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<FaultRow>& info) {
                           return std::string(info.param.name);
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
  const RunOutcome run = runPackage(sim, "baseline");
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
