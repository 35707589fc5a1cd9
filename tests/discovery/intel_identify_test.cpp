// The CSMI RAID configuration query and the Intel NVMe pass-through Identify
// on simulated IRST controllers.
#include "discovery/intel_identify.hpp"

#include <gtest/gtest.h>

#include <string>

#include "platform/platform_constants.hpp"
#include "support/bound_machine.hpp"

namespace zev {
namespace {

using testsupport::BoundMachine;
using testsupport::le32At;
using testsupport::signatureOf;
using testsupport::wideBytes;
using zevsim::CallFault;
using zevsim::CallKind;

const std::wstring kModel = wideBytes(std::string("KELDORA TQ270c 1TB") + std::string(22, ' '));

std::wstring serialText(const std::string& serial) {
  return wideBytes(serial + std::string(20 - serial.size(), ' '));
}

// A RAID 1 of drives "a" (port 4) and "b" (port 1); extra keys for drive "a"
// and for the controller (each beginning with a comma) give faults.
std::string raid1(const std::string& driveAKeys = "", const std::string& controllerKeys = "") {
  return R"({ "drives": [ { "id": "a", "serial": "SN-A", "firmware": "KTW5LMZB")" + driveAKeys +
         R"( }, { "id": "b", "serial": "SN-B", "firmware": "KTW6LMZB" } ],
    "intelController": { "raidVolumes": [ { "members": [ { "drive": "a", "port": 4 },
                                                         { "drive": "b", "port": 1 } ] } ])" +
         controllerKeys + " } }";
}

// A RAID 5 of drives "a" (port 2), "b" (port 0) and "c" (port 5).
std::string raid5(const std::string& controllerKeys = "") {
  return R"({ "drives": [ { "id": "a", "serial": "SN-A" }, { "id": "b", "serial": "SN-B" },
                          { "id": "c", "serial": "SN-C" } ],
    "intelController": { "raidVolumes": [ { "members": [ { "drive": "a", "port": 2 },
        { "drive": "b", "port": 0 }, { "drive": "c", "port": 5 } ] } ])" +
         controllerKeys + " } }";
}

constexpr const char* kTwoVolumes = R"json({
  "drives": [
    { "id": "a", "serial": "SN-A" }, { "id": "b", "serial": "SN-B" },
    { "id": "c", "serial": "SN-C" }, { "id": "d", "serial": "SN-D" }
  ],
  "intelController": {
    "raidVolumes": [
      { "members": [ { "drive": "a", "port": 0 }, { "drive": "b", "port": 1 } ] },
      { "members": [ { "drive": "c", "port": 2 }, { "drive": "d", "port": 3 } ] }
    ]
  }
})json";

DiskInfo raidCandidate(const BoundMachine& sim) {
  DiskInfo candidate;
  candidate.devicePath = sim.controllerPath();
  candidate.pathId = -1;
  candidate.driverKind = DriverKind::IrstRaid;
  return candidate;
}

DiskInfo passThroughCandidate(const BoundMachine& sim, std::int64_t pathId) {
  DiskInfo candidate;
  candidate.devicePath = sim.controllerPath();
  candidate.pathId = pathId;
  candidate.driverKind = DriverKind::IrstNonRaid;
  return candidate;
}

std::vector<zevsim::CallRecord> identifyRequests(const BoundMachine& sim) {
  std::vector<zevsim::CallRecord> out;
  for (const auto& call : sim.requests(platform::kIoctlScsiMiniport)) {
    if (signatureOf(call) == "IntelNvm") {
      out.push_back(call);
    }
  }
  return out;
}

std::vector<zevsim::CallRecord> csmiRequests(const BoundMachine& sim) {
  std::vector<zevsim::CallRecord> out;
  for (const auto& call : sim.requests(platform::kIoctlScsiMiniport)) {
    if (signatureOf(call) == std::string("CSMIARY\0", 8)) {
      out.push_back(call);
    }
  }
  return out;
}

TEST(QueryCsmiRaidConfig, IdentifiesBothMembersOfARaid1InMemberOrder) {
  BoundMachine sim(raid1());
  DiskList identified;
  ConsoleCapture console;
  EXPECT_EQ(queryCsmiRaidConfig(raidCandidate(sim), identified, 0).code, 0);

  ASSERT_EQ(identified.size(), 2u);
  const std::int64_t ports[] = {4, 1};
  const char* serials[] = {"SN-A", "SN-B"};
  const wchar_t* revisions[] = {L"KTW5LMZB", L"KTW6LMZB"};
  for (std::size_t i = 0; i < 2; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(identified[i].devicePath, sim.controllerPath());
    EXPECT_EQ(identified[i].pathId, ports[i]);
    EXPECT_EQ(identified[i].driverKind, DriverKind::IrstRaid);
    EXPECT_EQ(identified[i].modelNumber, kModel);
    EXPECT_EQ(identified[i].serialNumber, serialText(serials[i]));
    EXPECT_EQ(identified[i].firmwareRevision, revisions[i]);
    EXPECT_EQ(identified[i].updateGranularity, 1);
    EXPECT_EQ(identified[i].vrocDiskId, 0u);
    EXPECT_EQ(identified[i].resultCode, 0);
  }
  EXPECT_EQ(console.text(), "");

  // One CSMI request of 336 bytes for set 0 on an exclusive handle, then one
  // pass-through per member carrying its port.
  const auto csmi = csmiRequests(sim);
  ASSERT_EQ(csmi.size(), 1u);
  EXPECT_EQ(csmi[0].inSize, 336u);
  EXPECT_EQ(csmi[0].outSize, 336u);
  EXPECT_EQ(le32At(csmi[0], 28), 0u);
  const auto identify = identifyRequests(sim);
  ASSERT_EQ(identify.size(), 2u);
  EXPECT_EQ(identify[0].inputHead[29], 4);
  EXPECT_EQ(identify[1].inputHead[29], 1);
  EXPECT_EQ(identify[0].inSize, 4260u);
  const auto opens = sim.calls(CallKind::CreateFile);
  ASSERT_EQ(opens.size(), 3u);
  EXPECT_EQ(opens[0].shareMode, 0u);
  EXPECT_EQ(opens[0].flags, 0u);
  EXPECT_EQ(opens[0].access, platform::kGenericReadWrite);
  EXPECT_EQ(opens[1].shareMode, platform::kFileShareReadWrite);
  EXPECT_EQ(opens[1].flags, platform::kFileAttributeNormal);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(QueryCsmiRaidConfig, AsksAgainWithRoomForEveryMemberOfALargerSet) {
  BoundMachine sim(raid5());
  DiskList identified;
  EXPECT_EQ(queryCsmiRaidConfig(raidCandidate(sim), identified, 0).code, 0);

  const auto csmi = csmiRequests(sim);
  ASSERT_EQ(csmi.size(), 2u);
  EXPECT_EQ(csmi[0].inSize, 336u);
  EXPECT_EQ(csmi[1].inSize, 64u + 136u * 3u);
  EXPECT_EQ(csmi[1].outSize, 64u + 136u * 3u);
  EXPECT_EQ(le32At(csmi[1], 24), 64u + 136u * 3u - 28u);
  EXPECT_EQ(le32At(csmi[1], 28), 0u);

  ASSERT_EQ(identified.size(), 3u);
  EXPECT_EQ(identified[0].pathId, 2);
  EXPECT_EQ(identified[1].pathId, 0);
  EXPECT_EQ(identified[2].pathId, 5);
  EXPECT_EQ(identified[2].serialNumber, serialText("SN-C"));
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(QueryCsmiRaidConfig, QueriesTheRaidSetItIsGiven) {
  BoundMachine sim(kTwoVolumes);
  DiskList identified;
  EXPECT_EQ(queryCsmiRaidConfig(raidCandidate(sim), identified, 1).code, 0);
  const auto csmi = csmiRequests(sim);
  ASSERT_EQ(csmi.size(), 1u);
  EXPECT_EQ(le32At(csmi[0], 28), 1u);
  ASSERT_EQ(identified.size(), 2u);
  EXPECT_EQ(identified[0].serialNumber, serialText("SN-C"));
  EXPECT_EQ(identified[1].serialNumber, serialText("SN-D"));
}

TEST(QueryCsmiRaidConfig, ASetWithoutMembersIdentifiesNothing) {
  // A RAID set index past the last volume: the driver refuses it with
  // CSMI_SAS_STATUS_INVALID_PARAMETER.
  BoundMachine sim(raid1());
  DiskList identified;
  ConsoleCapture console;
  EXPECT_EQ(queryCsmiRaidConfig(raidCandidate(sim), identified, 1).code, 5);
  EXPECT_TRUE(identified.empty());
  EXPECT_EQ(console.text(), "  [ERROR] CSMI GET RAID CONFIG ReturnCode: 0x3\n\n");
}

TEST(QueryCsmiRaidConfig, ACsmiStatusIsPrintedInLowerCaseHexAndTheStreamGoesBackToDecimal) {
  BoundMachine sim(raid1("", R"(, "faults": [ { "request": "csmi", "returnCode": 26 } ])"));
  DiskList identified;
  ConsoleCapture console;
  EXPECT_EQ(queryCsmiRaidConfig(raidCandidate(sim), identified, 0).code, 5);
  narrowOut << 26 << endLine;
  EXPECT_EQ(console.text(), "  [ERROR] CSMI GET RAID CONFIG ReturnCode: 0x1a\n\n26\n");
  EXPECT_TRUE(identified.empty());
  EXPECT_TRUE(identifyRequests(sim).empty());
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(QueryCsmiRaidConfig, AnUndeliveredRequestPrintsTheSystemErrorInUpperCaseHex) {
  BoundMachine sim(raid1());
  CallFault fault;
  fault.kind = CallKind::DeviceIoControl;
  fault.error = 0x45D;
  fault.nth = 1;
  sim.machine().injectCallFault(fault);
  DiskList identified;
  ConsoleCapture console;
  EXPECT_EQ(queryCsmiRaidConfig(raidCandidate(sim), identified, 0).code, 5);
  EXPECT_EQ(console.text(), "  [ERROR] CSMI GET RAID CONFIG IOCTL failed: 0x45D\n\n");
  EXPECT_TRUE(identified.empty());
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(QueryCsmiRaidConfig, AFailedSecondQueryIdentifiesNoMember) {
  BoundMachine sim(raid5(R"(, "faults": [ { "request": "csmi", "nth": 2, "returnCode": 4 } ])"));
  DiskList identified;
  ConsoleCapture console;
  EXPECT_EQ(queryCsmiRaidConfig(raidCandidate(sim), identified, 0).code, 5);
  EXPECT_EQ(console.text(), "  [ERROR] CSMI GET RAID CONFIG ReturnCode: 0x4\n\n");
  EXPECT_EQ(csmiRequests(sim).size(), 2u);
  EXPECT_TRUE(identified.empty());
  EXPECT_TRUE(identifyRequests(sim).empty());
}

TEST(QueryCsmiRaidConfig, AControllerThatDoesNotOpenIsReportedAndFails) {
  BoundMachine sim(raid1());
  CallFault fault;
  fault.kind = CallKind::CreateFile;
  fault.error = 5;
  sim.machine().injectCallFault(fault);
  DiskList identified;
  ConsoleCapture console;
  EXPECT_EQ(queryCsmiRaidConfig(raidCandidate(sim), identified, 0).code, 2);
  EXPECT_EQ(console.text(), "  [ERROR] Failed to get disk handle: 0x5\n\n");
  EXPECT_TRUE(identified.empty());
  EXPECT_TRUE(csmiRequests(sim).empty());
}

TEST(QueryCsmiRaidConfig, AMemberThatFailsIdentifyIsLeftOutAndTheOthersStay) {
  BoundMachine sim(raid1(R"(, "faults": [ { "request": "identify", "error": 1117 } ])"));
  DiskList identified;
  EXPECT_EQ(queryCsmiRaidConfig(raidCandidate(sim), identified, 0).code, 0);
  ASSERT_EQ(identified.size(), 1u);
  EXPECT_EQ(identified[0].pathId, 1);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

// Pass-through drives "p" on bus 3 and "q" on bus 0; extra keys for "p".
std::string passThrough(const std::string& drivePKeys = "") {
  return R"({ "drives": [ { "id": "p", "serial": "SN-P", "firmware": "KTW2LMZB")" + drivePKeys +
         R"( }, { "id": "q", "serial": "SN-Q", "firmware": "KTW3LMZB" } ],
    "intelController": { "passThrough": [ { "drive": "p", "busNumber": 3 },
                                          { "drive": "q", "busNumber": 0 } ] } })";
}

TEST(IdentifyIntelPassThroughDisk, IdentifiesTheDriveAtItsPathId) {
  BoundMachine sim(passThrough());
  DiskList identified;
  EXPECT_EQ(identifyIntelPassThroughDisk(passThroughCandidate(sim, 3), identified).code, 0);
  ASSERT_EQ(identified.size(), 1u);
  EXPECT_EQ(identified[0].pathId, 3);
  EXPECT_EQ(identified[0].driverKind, DriverKind::IrstNonRaid);
  EXPECT_EQ(identified[0].devicePath, sim.controllerPath());
  EXPECT_EQ(identified[0].serialNumber, serialText("SN-P"));
  EXPECT_EQ(identified[0].firmwareRevision, L"KTW2LMZB");
  EXPECT_EQ(identified[0].modelNumber, kModel);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

struct PathIdCase {
  std::int64_t pathId;
  std::uint8_t sent;
  bool identified;
};

class IntelPassThroughPathId : public testing::TestWithParam<PathIdCase> {};

TEST_P(IntelPassThroughPathId, SendsTheLowByteAndKeepsTheRecordsPathId) {
  BoundMachine sim(passThrough());
  DiskList identified;
  ConsoleCapture console;
  const int result =
      identifyIntelPassThroughDisk(passThroughCandidate(sim, GetParam().pathId), identified).code;
  const auto identify = identifyRequests(sim);
  ASSERT_EQ(identify.size(), 1u);
  EXPECT_EQ(identify[0].inputHead[29], GetParam().sent);
  if (GetParam().identified) {
    EXPECT_EQ(result, 0);
    ASSERT_EQ(identified.size(), 1u);
    EXPECT_EQ(identified[0].pathId, GetParam().pathId);
  } else {
    // No drive at that path id: the driver does not deliver the request.
    EXPECT_EQ(result, 5);
    EXPECT_TRUE(identified.empty());
  }
  EXPECT_EQ(console.text(), "");
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Values, IntelPassThroughPathId,
                         testing::Values(PathIdCase{-1, 0xFF, false}, PathIdCase{256, 0x00, true},
                                         PathIdCase{259, 0x03, true}, PathIdCase{7, 0x07, false}));

TEST(IdentifyIntelPassThroughDisk, AControllerThatDoesNotOpenGives8) {
  BoundMachine sim(passThrough());
  CallFault fault;
  fault.kind = CallKind::CreateFile;
  sim.machine().injectCallFault(fault);
  DiskList identified;
  EXPECT_EQ(identifyIntelPassThroughDisk(passThroughCandidate(sim, 3), identified).code, 8);
  EXPECT_TRUE(identified.empty());
  EXPECT_TRUE(identifyRequests(sim).empty());
}

TEST(IdentifyIntelPassThroughDisk, ARefusedIdentifyAppendsNoRecord) {
  // A drive whose Identify the driver refused is absent, as when the request
  // is not delivered: no record of zero texts reaches the check or the
  // results file.
  BoundMachine sim(passThrough(R"(, "faults": [ { "request": "identify", "returnCode": 1 } ])"));
  DiskList identified;
  EXPECT_EQ(identifyIntelPassThroughDisk(passThroughCandidate(sim, 3), identified).code, 5);
  EXPECT_TRUE(identified.empty());
}

struct IdentityCase {
  const char* driveKeys;  // extra keys of the drive object
  std::int32_t granularity;
  std::wstring firmware;
};

class IntelPassThroughIdentity : public testing::TestWithParam<IdentityCase> {};

TEST_P(IntelPassThroughIdentity, TakesEveryByteOfTheFieldsAndTheGranularityRule) {
  const std::string file = std::string(R"({ "drives": [ { "id": "p", )") + GetParam().driveKeys +
                           R"( } ], "intelController": { "passThrough": [ { "drive": "p",
                           "busNumber": 2 } ] } })";
  BoundMachine sim(file);
  DiskList identified;
  ASSERT_EQ(identifyIntelPassThroughDisk(passThroughCandidate(sim, 2), identified).code, 0);
  ASSERT_EQ(identified.size(), 1u);
  EXPECT_EQ(identified[0].updateGranularity, GetParam().granularity);
  EXPECT_EQ(identified[0].firmwareRevision, GetParam().firmware);
  EXPECT_EQ(identified[0].modelNumber.size(), 40u);
  EXPECT_EQ(identified[0].serialNumber.size(), 20u);
}

INSTANTIATE_TEST_SUITE_P(
    Drives, IntelPassThroughIdentity,
    testing::Values(
        IdentityCase{R"("nvmeVersion": "1.3", "fwug": 16, "firmware": "KTW5LMZB")", 16,
                     L"KTW5LMZB"},
        IdentityCase{R"("nvmeVersion": "1.2", "fwug": 16, "firmware": "KTW5LMZB")", 1, L"KTW5LMZB"},
        IdentityCase{R"("nvmeVersion": "2.0", "fwug": 16, "firmware": "KTW5LMZB")", 1, L"KTW5LMZB"},
        IdentityCase{R"("nvmeVersion": "1.4", "fwug": 0, "firmware": "KTW5LMZB")", 1, L"KTW5LMZB"},
        IdentityCase{R"("nvmeVersion": "1.4", "fwug": 255, "firmware": "KTW5LMZB")", 255,
                     L"KTW5LMZB"},
        // A revision ending in two zero bytes keeps them, as "?" characters.
        IdentityCase{R"("firmware": "KTW5LM\u0000\u0000")", 1, L"KTW5LM??"},
        // A short revision is blank-padded by the drive and kept whole.
        IdentityCase{R"("firmware": "KTW5")", 1, L"KTW5    "}));

}  // namespace
}  // namespace zev
