// The VROC scan on simulated machines: which ports it opens, what it prints,
// the records it appends and the port it reports, including the failures the
// driver and the platform can produce.
#include "discovery/vroc_scan.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/text.hpp"
#include "support/bound_machine.hpp"

namespace zev {
namespace {

using testsupport::padded;
using VrocMachine = testsupport::BoundMachine;
using testsupport::wideBytes;

constexpr std::uint32_t kVolumeCount = 0xE0002014;
constexpr std::uint32_t kVolumeInfo = 0xE0002018;
constexpr std::uint32_t kMemberList = 0xE000201C;
constexpr std::uint32_t kNonRaidCount = 0xE0002028;
constexpr std::uint32_t kNonRaidList = 0xE000202C;
constexpr std::uint32_t kPassThrough = 0xE0002000;

// Two members on a second model and revision, at member ports 6 and 9, so
// that every field of a record shows where it came from.
constexpr std::string_view kRaidMachine = R"({
  "description": "VROC RAID of two drives on SCSI port 2",
  "drives": [
    { "id": "vroc-a", "serial": "KD27VRA0001", "firmware": "KTW5LMZB" },
    { "id": "vroc-b", "model": "KELDORA TQ270c 2TB", "serial": "KD27VRB0002",
      "firmware": "KTW6LMZB" },
    { "id": "loose", "serial": "KD27LOOSE" }
  ],
  "intelController": {
    "driver": "vroc",
    "raidVolumes": [
      { "members": [ { "drive": "vroc-a", "port": 6 }, { "drive": "vroc-b", "port": 9 } ] }
    ],
    "passThrough": [ { "drive": "loose", "busNumber": 4 } ]
  }
})";

constexpr std::string_view kNonRaidMachine = R"({
  "description": "two VROC pass-through drives on SCSI port 4 of 6",
  "drives": [
    { "id": "pt-a", "serial": "KD27PTA0101", "firmware": "KTW4LMZB" },
    { "id": "pt-b", "serial": "KD27PTB0102", "firmware": "KTW9LMZB" }
  ],
  "intelController": {
    "driver": "vroc", "vrocPort": 4, "scsiPorts": 6,
    "passThrough": [ { "drive": "pt-a", "busNumber": 3 }, { "drive": "pt-b", "busNumber": 5 } ]
  }
})";

const std::wstring kCandidatePath =
    L"\\\\?\\pci#ven_8086&dev_a77f&subsys_00000000&rev_00#candidate";

DiskInfo raidCandidate() {
  DiskInfo candidate;
  candidate.devicePath = kCandidatePath;
  candidate.driverKind = DriverKind::IrstRaid;
  return candidate;
}

struct ScanRun {
  int result = 99;
  std::int32_t port = -1;
  DiskList identified;
  VrocScan scan;
  std::string output;
};

ScanRun runScan(const DiskInfo& candidate = raidCandidate()) {
  ScanRun run;
  ConsoleCapture capture;
  run.scan = scanVrocDisks(candidate, run.identified, run.port);
  run.result = run.scan.code;
  run.output = capture.text();
  return run;
}

// The not-examined entries of a scan: "path: detail".
std::vector<std::string> unexaminedOf(const ScanRun& run) {
  std::vector<std::string> out;
  for (const UnexaminedDisk& disk : run.scan.unexamined) {
    out.push_back(narrowText(disk.devicePath) + ": " + disk.detail);
  }
  return out;
}

std::wstring scsiPath(int port) {
  return L"\\\\.\\Scsi" + std::to_wstring(port) + L":";
}

std::vector<std::wstring> openedPaths(const VrocMachine& sim) {
  std::vector<std::wstring> paths;
  for (const zevsim::CallRecord& call : sim.calls(zevsim::CallKind::CreateFile)) {
    paths.push_back(call.path);
  }
  return paths;
}

std::vector<std::wstring> scsiPaths(int count) {
  std::vector<std::wstring> paths;
  for (int port = 0; port < count; ++port) {
    paths.push_back(scsiPath(port));
  }
  return paths;
}

// The control codes of the "NvmeRAID" requests sent to one path, in order.
std::vector<std::uint32_t> codesSentTo(const VrocMachine& sim, const std::wstring& path) {
  std::vector<std::uint32_t> codes;
  for (const zevsim::CallRecord& call : sim.calls(zevsim::CallKind::DeviceIoControl)) {
    if (call.path == path) {
      codes.push_back(testsupport::le32At(call, 16));
    }
  }
  return codes;
}

std::string serialLine(const std::string& serial, const char* diskId) {
  return "\nSerial: " + serial + "\nvrocDiskId:" + diskId + "\n";
}

TEST(VrocScan, RaidVolumeOnPortTwoListsItsMembersThenThePortsOtherDrives) {
  VrocMachine sim(kRaidMachine);
  const ScanRun run = runScan();

  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.port, 2);
  EXPECT_TRUE(run.scan.raidVolumeReported);
  EXPECT_EQ(run.output, "Number of NVMe RAID volume member disks: 2\n" +
                            serialLine(padded("KD27VRA0001", 20), "1") + "RaidVROC\n" +
                            serialLine(padded("KD27VRB0002", 20), "2") + "RaidVROC\n" +
                            "NonRaidVROC\n");

  ASSERT_EQ(run.identified.size(), 3u);
  // The port's drive outside the volume follows its members.
  EXPECT_EQ(run.identified[2].driverKind, DriverKind::VrocNonRaid);
  EXPECT_EQ(run.identified[2].serialNumber, wideBytes(padded("KD27LOOSE", 20)));
  const struct {
    const char* model;
    const char* serial;
    const char* firmware;
    std::int64_t pathId;
    std::uint32_t diskId;
  } expected[] = {{"KELDORA TQ270c 1TB", "KD27VRA0001", "KTW5LMZB", 6, 1},
                  {"KELDORA TQ270c 2TB", "KD27VRB0002", "KTW6LMZB", 9, 2}};
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    const DiskInfo& record = run.identified[i];
    EXPECT_EQ(record.driverKind, DriverKind::VrocRaid);
    EXPECT_EQ(record.modelNumber, wideBytes(padded(expected[i].model, 40)));
    EXPECT_EQ(record.serialNumber, wideBytes(padded(expected[i].serial, 20)));
    EXPECT_EQ(record.firmwareRevision, wideBytes(expected[i].firmware));
    EXPECT_EQ(record.pathId, expected[i].pathId);
    EXPECT_EQ(record.vrocDiskId, expected[i].diskId);
    // Kept from the candidate.
    EXPECT_EQ(record.devicePath, kCandidatePath);
    EXPECT_EQ(record.updateGranularity, 1);
    EXPECT_EQ(record.resultCode, 0);
  }

  // Ports 3 to 15 are never opened.
  EXPECT_EQ(openedPaths(sim), scsiPaths(3));
  EXPECT_EQ(codesSentTo(sim, scsiPath(2)),
            (std::vector<std::uint32_t>{kVolumeCount, kVolumeInfo, kMemberList, kPassThrough,
                                        kPassThrough, kNonRaidCount, kNonRaidList, kPassThrough}));
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(VrocScan, PortsAreOpenedForSharedSynchronousAccess) {
  VrocMachine sim(kRaidMachine);
  runScan();
  for (const zevsim::CallRecord& open : sim.calls(zevsim::CallKind::CreateFile)) {
    SCOPED_TRACE(testing::PrintToString(open.path));
    EXPECT_EQ(open.access, 0xC0000000u);
    EXPECT_EQ(open.shareMode, 3u);
    EXPECT_EQ(open.disposition, 3u);
    EXPECT_EQ(open.flags, 0x80u);
  }
}

TEST(VrocScan, RequestsCarryTheirSizesAndThePassThroughNamesEachDisk) {
  VrocMachine sim(kRaidMachine);
  runScan();
  const struct {
    std::uint32_t code;
    std::uint32_t size;
  } sizes[] = {{kVolumeCount, 32}, {kVolumeInfo, 132}, {kMemberList, 256}, {kPassThrough, 4252}};
  for (const auto& s : sizes) {
    for (const zevsim::CallRecord& call : sim.miniportRequests(s.code)) {
      if (call.path != scsiPath(2)) {
        continue;
      }
      EXPECT_EQ(call.inSize, s.size) << std::hex << s.code;
      EXPECT_EQ(call.outSize, s.size) << std::hex << s.code;
    }
  }
  const auto passThroughs = sim.miniportRequests(kPassThrough);
  ASSERT_EQ(passThroughs.size(), 3u);
  EXPECT_EQ(testsupport::le32At(passThroughs[0], 20), 1u);
  EXPECT_EQ(testsupport::le32At(passThroughs[1], 20), 2u);
  EXPECT_EQ(testsupport::le32At(passThroughs[2], 20), 3u);
  EXPECT_EQ(sim.drive("vroc-a").requests[static_cast<int>(zevsim::FaultRequest::Identify)], 1u);
  EXPECT_EQ(sim.drive("loose").requests[static_cast<int>(zevsim::FaultRequest::Identify)], 1u);
}

TEST(VrocScan, NonRaidDrivesAreListedFromTheFirstPortThatHasThem) {
  VrocMachine sim(kNonRaidMachine);
  DiskInfo candidate;
  candidate.devicePath = kCandidatePath;
  candidate.pathId = 0;
  candidate.driverKind = DriverKind::IrstNonRaid;
  const ScanRun run = runScan(candidate);

  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.port, 4);
  EXPECT_EQ(run.output, "NonRaidVROC\nNonRaidVROC\n");
  ASSERT_EQ(run.identified.size(), 2u);
  EXPECT_EQ(run.identified[0].driverKind, DriverKind::VrocNonRaid);
  EXPECT_EQ(run.identified[0].serialNumber, wideBytes(padded("KD27PTA0101", 20)));
  EXPECT_EQ(run.identified[0].firmwareRevision, L"KTW4LMZB");
  EXPECT_EQ(run.identified[0].pathId, 3);
  EXPECT_EQ(run.identified[0].vrocDiskId, 1u);
  EXPECT_EQ(run.identified[1].driverKind, DriverKind::VrocNonRaid);
  EXPECT_EQ(run.identified[1].firmwareRevision, L"KTW9LMZB");
  EXPECT_EQ(run.identified[1].pathId, 5);
  EXPECT_EQ(run.identified[1].vrocDiskId, 2u);
  // Two records of one candidate share its path and differ in their disk id.
  EXPECT_EQ(run.identified[1].devicePath, run.identified[0].devicePath);

  // Ports 0 to 3 answer neither count and are passed over; port 5 is never opened.
  EXPECT_EQ(openedPaths(sim), scsiPaths(5));
  EXPECT_EQ(codesSentTo(sim, scsiPath(0)),
            (std::vector<std::uint32_t>{kVolumeCount, kNonRaidCount}));
  EXPECT_EQ(codesSentTo(sim, scsiPath(4)),
            (std::vector<std::uint32_t>{kVolumeCount, kNonRaidCount, kNonRaidList, kPassThrough,
                                        kPassThrough}));
  const auto list = sim.miniportRequests(kNonRaidList);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].inSize, 252u);  // 2 x 108 + 36
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

struct SilentCase {
  const char* name;
  std::string_view machine;
  std::uint32_t portsThatOpen;
};

TEST(VrocScan, WithoutAnAnsweringPortAllSixteenPortsAreTriedAndNothingIsSet) {
  const SilentCase cases[] = {
      {"no SCSI port at all", R"({"description": "no controller"})", 0},
      {"IRST controller: its ports fail every request", R"({
        "description": "irst", "drives": [ { "id": "d" } ],
        "intelController": { "driver": "irst", "scsiPorts": 5,
          "raidVolumes": [ { "members": [ { "drive": "d", "port": 0 } ] } ] } })",
       5},
      {"VROC driver with neither a volume nor a non-RAID drive", R"({
        "description": "empty vroc", "intelController": { "driver": "vroc", "scsiPorts": 16 } })",
       16},
      {"the VROC port cannot be opened", R"({
        "description": "vroc port refuses opens", "drives": [ { "id": "d" } ],
        "intelController": { "driver": "vroc", "scsiPorts": 4,
          "passThrough": [ { "drive": "d", "busNumber": 0 } ],
          "faults": [ { "request": "scsiPortOpen", "error": 5 } ] } })",
       3},
  };
  for (const SilentCase& c : cases) {
    SCOPED_TRACE(c.name);
    VrocMachine sim(c.machine);
    const ScanRun run = runScan();
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.port, -1);
    EXPECT_TRUE(run.identified.empty());
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(openedPaths(sim), scsiPaths(16));
    std::uint32_t opened = 0;
    for (const zevsim::CallRecord& open : sim.calls(zevsim::CallKind::CreateFile)) {
      opened += open.succeeded ? 1 : 0;
    }
    EXPECT_EQ(opened, c.portsThatOpen);
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
  }
}

TEST(VrocScan, AVolumeWithoutMembersStillEndsTheScanOnItsPort) {
  VrocMachine sim(kRaidMachine, [](zevsim::MachineConfig& config) {
    config.intelController->raidVolumes.front().members.clear();
  });
  const ScanRun run = runScan();
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.port, 2);
  // Only the port's drive outside the volume is listed.
  ASSERT_EQ(run.identified.size(), 1u);
  EXPECT_EQ(run.identified[0].driverKind, DriverKind::VrocNonRaid);
  EXPECT_EQ(run.output, "Number of NVMe RAID volume member disks: 0\nNonRaidVROC\n");
  EXPECT_EQ(codesSentTo(sim, scsiPath(2)),
            (std::vector<std::uint32_t>{kVolumeCount, kVolumeInfo, kMemberList, kNonRaidCount,
                                        kNonRaidList, kPassThrough}));
  EXPECT_TRUE(run.scan.unexamined.empty());
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

struct IdentifyFailureCase {
  const char* name;
  const char* fault;
  std::string dwErrorLines;  // after each member's "RaidVROC"
  std::string errorLine;     // the failed Identify's, without "  [ERROR] "
};

TEST(VrocScan, AFailedPassThroughIsADriveNotExaminedAndAppendsNoRecord) {
  // A request that is not delivered prints its last error; the next member's
  // request succeeds and leaves that value in place, so it is printed again.
  const IdentifyFailureCase cases[] = {
      {"not delivered", R"({ "request": "identify", "error": 1117 })", "dwError: 1117\n",
       "Identify failed: 0x45d"},
      {"refused by the driver", R"({ "request": "identify", "returnCode": 5 })", "",
       "Identify failed. ReturnCode: 0x5"},
      {"completed with an NVMe status", R"({ "request": "identify", "nvmeStatus": 2 })", "",
       "Identify failed. NVMe status: 0x2"},
  };
  for (const IdentifyFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string machine = R"({
      "description": "first member fails Identify",
      "drives": [ { "id": "a", "serial": "KD27A", "faults": [ )" +
                                std::string(c.fault) + R"( ] },
                  { "id": "b", "serial": "KD27B", "firmware": "KTW7LMZB" } ],
      "intelController": { "driver": "vroc",
        "raidVolumes": [ { "members": [ { "drive": "a", "port": 0 }, { "drive": "b", "port": 1 } ] } ] }
    })";
    VrocMachine sim(machine);
    const ScanRun run = runScan();
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.port, 2);
    EXPECT_EQ(run.output, "Number of NVMe RAID volume member disks: 2\n" +
                              serialLine(padded("KD27A", 20), "1") + "RaidVROC\n" + c.dwErrorLines +
                              "  [ERROR] " + c.errorLine + "\n\n" +
                              serialLine(padded("KD27B", 20), "2") + "RaidVROC\n" + c.dwErrorLines);
    // The driver serves NVMe drives only: the failed drive is not examined.
    ASSERT_EQ(run.identified.size(), 1u);
    EXPECT_EQ(run.identified[0].firmwareRevision, L"KTW7LMZB");
    EXPECT_EQ(unexaminedOf(run),
              (std::vector<std::string>{"\\\\.\\Scsi2: vrocDiskId:1: " + c.errorLine}));
    // The second member's request, built in the same buffer, carries nothing
    // of the first one's reply: CplEntry[3] goes out as 0.
    const auto passThroughs = sim.miniportRequests(kPassThrough);
    ASSERT_EQ(passThroughs.size(), 2u);
    EXPECT_EQ(testsupport::le32At(passThroughs[1], 128), 0u);
  }
}

TEST(VrocScan, AFailedPassThroughCallPrintsTheErrorReadRightAfterIt) {
  VrocMachine sim(kRaidMachine);
  zevsim::CallFault fault;
  fault.kind = zevsim::CallKind::DeviceIoControl;
  fault.nth = 2;
  fault.error = 0xE0000001;  // above 0x7FFFFFFF: printed unsigned
  fault.path = scsiPath(2);
  fault.controlCode = 0x0004D008;
  sim.machine().injectCallFault(fault);  // the volume information request
  const ScanRun run = runScan();
  // The volume information never came back: no members, but the port is set.
  EXPECT_EQ(run.output,
            "dwError: 3758096385\nNumber of NVMe RAID volume member disks: 0\n"
            "dwError: 3758096385\nNonRaidVROC\ndwError: 3758096385\n");
  EXPECT_EQ(run.port, 2);
  ASSERT_EQ(run.identified.size(), 1u);
  EXPECT_EQ(run.identified[0].driverKind, DriverKind::VrocNonRaid);
}

struct ListFailureCase {
  const char* name;
  const char* fault;
  std::string output;
  std::vector<std::string> unexamined;
};

TEST(VrocScan, ListRequestFailuresAreReportedAndTheScanGoesOn) {
  const ListFailureCase cases[] = {
      // The volume information or the member list fails: none of the
      // volume's entries is read, and its drives are one entry not examined.
      {"member list not delivered",
       R"({ "request": "vrocList", "nth": 3, "error": 31 })",
       "Number of NVMe RAID volume member disks: 2\ndwError: 31\n",
       {"\\\\.\\Scsi2:: "}},
      {"member list refused",
       R"({ "request": "vrocList", "nth": 3, "returnCode": 3 })",
       "Number of NVMe RAID volume member disks: 2\n",
       {"\\\\.\\Scsi2:: "}},
      {"volume information not delivered",
       R"({ "request": "vrocList", "nth": 2, "error": 87 })",
       "dwError: 87\nNumber of NVMe RAID volume member disks: 0\ndwError: 87\n",
       {"\\\\.\\Scsi2:: "}},
      {"volume count not delivered",
       R"({ "request": "vrocList", "nth": 1, "error": 1117 })",
       "",
       {}},
  };
  for (const ListFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string machine = R"({
      "description": "list failure", "drives": [ { "id": "a" }, { "id": "b" } ],
      "intelController": { "driver": "vroc", "faults": [ )" +
                                std::string(c.fault) + R"( ],
        "raidVolumes": [ { "members": [ { "drive": "a", "port": 0 }, { "drive": "b", "port": 1 } ] } ] }
    })";
    VrocMachine sim(machine);
    const ScanRun run = runScan();
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, c.output);
    EXPECT_TRUE(run.identified.empty());
    EXPECT_EQ(unexaminedOf(run), c.unexamined);
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
  }
}

TEST(VrocScan, AVolumeCountThatFailsLeavesThePortToItsNonRaidDrives) {
  // The count request's failure is not examined: the port looks like one
  // without a volume and its non-RAID drives are listed instead. The
  // pass-through succeeds and leaves the count's error in place, so the
  // "dwError" line shows that stale value.
  VrocMachine sim(kRaidMachine, [](zevsim::MachineConfig& config) {
    zevsim::Fault fault;
    fault.request = zevsim::FaultRequest::VrocList;
    fault.nth = 1;
    fault.error = 1117;
    config.intelController->faults.push_back(fault);
  });
  const ScanRun run = runScan();
  EXPECT_EQ(run.port, 2);
  EXPECT_EQ(run.output, "NonRaidVROC\ndwError: 1117\n");
  ASSERT_EQ(run.identified.size(), 1u);
  EXPECT_EQ(run.identified[0].driverKind, DriverKind::VrocNonRaid);
  EXPECT_EQ(run.identified[0].serialNumber, wideBytes(padded("KD27LOOSE", 20)));
  EXPECT_EQ(run.identified[0].vrocDiskId, 3u);
  EXPECT_EQ(run.identified[0].pathId, 4);
}

TEST(VrocScan, AppendsAfterWhatTheListAlreadyHolds) {
  VrocMachine sim(kNonRaidMachine);
  DiskList identified(1);
  identified[0].serialNumber = L"earlier";
  std::int32_t port = 7;
  ConsoleCapture capture;
  EXPECT_EQ(scanVrocDisks(raidCandidate(), identified, port).code, 0);
  ASSERT_EQ(identified.size(), 3u);
  EXPECT_EQ(identified[0].serialNumber, L"earlier");
  EXPECT_EQ(port, 4);
}

}  // namespace
}  // namespace zev
