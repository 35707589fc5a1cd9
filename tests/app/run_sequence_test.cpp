// The run sequence's dispatch: which identification follows which candidate,
// when the VROC scan runs, and which update path each record takes.
#include "app/run_sequence.hpp"

#include <gtest/gtest.h>

#include <string>

#include "support/bound_machine.hpp"

namespace zev {
namespace {

using testsupport::BoundMachine;

// Opens of \\.\Scsi0:, the first port every VROC scan tries.
std::size_t scansStarted(const BoundMachine& sim) {
  std::size_t count = 0;
  for (const zevsim::CallRecord& open : sim.calls(zevsim::CallKind::CreateFile)) {
    count += open.path == L"\\\\.\\Scsi0:" ? 1 : 0;
  }
  return count;
}

struct DispatchCase {
  const char* name;
  const char* machine;
  std::size_t scans;       // VROC scans started
  std::size_t identified;  // records identified
  std::size_t updated;     // records on the update list
  DriverKind firstKind;
};

const DispatchCase kCases[] = {
    // The CSMI query fails on both volume disks: nothing is identified, so the
    // scan follows each of them (and finds no VROC port on an RST machine).
    {"csmi fails on two volumes",
     R"({"drives": [{"id": "a"}, {"id": "b"}],
         "intelController": {"raidVolumes": [{"members": [{"drive": "a", "port": 0}]},
                                             {"members": [{"drive": "b", "port": 1}]}],
                             "faults": [{"request": "csmi", "returnCode": 26}]}})",
     2, 0, 0, DriverKind::None},
    // A VROC controller answers no CSMI request: the scan after the volume disk
    // finds both members and then the port's pass-through drive; that drive's
    // own candidate fails the Intel pass-through, and no second scan runs.
    {"vroc after the first candidate only",
     R"({"drives": [{"id": "a"}, {"id": "b"}, {"id": "c"}],
         "intelController": {"driver": "vroc",
                             "raidVolumes": [{"members": [{"drive": "a", "port": 0},
                                                          {"drive": "b", "port": 1}]}],
                             "passThrough": [{"drive": "c", "busNumber": 4}]}})",
     1, 3, 3, DriverKind::VrocRaid},
    // An RST volume identifies its members: no scan at all; the inbox drive
    // follows the Intel ones.
    {"rst members then inbox",
     R"({"drives": [{"id": "a"}, {"id": "b"}, {"id": "n"}],
         "inbox": [{"drive": "n"}],
         "intelController": {"raidVolumes": [{"members": [{"drive": "a", "port": 0},
                                                          {"drive": "b", "port": 1}]}]}})",
     0, 3, 3, DriverKind::IrstRaid},
    // Inbox candidates never start a scan, whatever they identify.
    {"inbox only",
     R"({"drives": [{"id": "n", "firmware": "KTW9LMZB"}], "inbox": [{"drive": "n"}]})", 0, 1, 0,
     DriverKind::None},
};

TEST(RunSequence, DispatchesIdentificationAndTheVrocScan) {
  for (const DispatchCase& c : kCases) {
    BoundMachine sim(c.machine, {}, true);
    UpdateContext context;
    context.identity = sim.identity();
    runSequence(context.inventory, context);
    EXPECT_EQ(scansStarted(sim), c.scans) << c.name;
    EXPECT_EQ(context.inventory.identified.size(), c.identified) << c.name;
    ASSERT_EQ(context.updateList.size(), c.updated) << c.name;
    if (c.updated > 0) {
      EXPECT_EQ(context.updateList.front().driverKind, c.firstKind) << c.name;
      for (const DiskInfo& disk : context.updateList) {
        EXPECT_EQ(disk.resultCode, 0) << c.name;
      }
    }
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u) << c.name;
  }
}

TEST(RunSequence, CandidatesAreNeverChangedByIdentification) {
  BoundMachine sim(R"({"drives": [{"id": "n"}], "inbox": [{"drive": "n"}]})", {}, true);
  UpdateContext context;
  context.identity = sim.identity();
  runSequence(context.inventory, context);
  ASSERT_EQ(context.inventory.candidates.size(), 1u);
  const DiskInfo& candidate = context.inventory.candidates.front();
  EXPECT_EQ(candidate.devicePath, L"\\\\.\\PHYSICALDRIVE0");
  EXPECT_TRUE(candidate.modelNumber.empty());
  EXPECT_TRUE(candidate.firmwareRevision.empty());
  ASSERT_EQ(context.updateList.size(), 1u);
  EXPECT_EQ(context.updateList.front().firmwareRevision, L"KTW3LMZB");
}

}  // namespace
}  // namespace zev
