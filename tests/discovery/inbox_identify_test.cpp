// Inbox disk identification against the simulated inbox driver: the Identify
// Controller query's bytes, the identity taken from the reply, the
// granularity rule, and the two failures.
#include "discovery/inbox_identify.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/platform_constants.hpp"
#include "records/storage_query_records.hpp"
#include "support/bound_machine.hpp"

namespace zev {
namespace {

using InboxMachine = testsupport::CapturedMachine;
using testsupport::le32At;
using testsupport::wideBytes;

std::string machineWithDrive(const std::string& driveKeys) {
  return R"({ "description": "inbox identify", "drives": [ { "id": "a")" + driveKeys +
         R"( } ], "inbox": [ { "drive": "a", "deviceNumber": 4 } ] })";
}

DiskInfo inboxCandidate(std::wstring path = L"\\\\.\\PHYSICALDRIVE4") {
  DiskInfo candidate;
  candidate.devicePath = std::move(path);
  candidate.pathId = -1;
  candidate.driverKind = DriverKind::Inbox;
  return candidate;
}

TEST(InboxIdentify, FillsTheIdentityFromIdentifyController) {
  InboxMachine sim(machineWithDrive(
      R"(, "model": "KELDORA TQ270c 1TB", "serial": "KD27X", "firmware": "KTW3LMZB")"));
  DiskList identified;
  DiskInfo candidate = inboxCandidate();
  candidate.pathId = 42;  // set back to -1
  EXPECT_EQ(identifyInboxDisk(candidate, identified).code, 0);
  ASSERT_EQ(identified.size(), 1u);
  const DiskInfo& disk = identified[0];
  EXPECT_EQ(disk.devicePath, L"\\\\.\\PHYSICALDRIVE4");
  EXPECT_EQ(disk.driverKind, DriverKind::Inbox);
  EXPECT_EQ(disk.pathId, -1);
  // A 18-character model filled up with blanks to its 40 bytes keeps them.
  EXPECT_EQ(disk.modelNumber, L"KELDORA TQ270c 1TB" + std::wstring(22, L' '));
  EXPECT_EQ(disk.serialNumber, L"KD27X" + std::wstring(15, L' '));
  EXPECT_EQ(disk.firmwareRevision, L"KTW3LMZB");
  EXPECT_EQ(disk.updateGranularity, 1);
  EXPECT_EQ(disk.vrocDiskId, 0u);
  EXPECT_EQ(disk.resultCode, 0);
  EXPECT_EQ(sim.console(), "");
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(InboxIdentify, SendsTheProtocolSpecificQuery) {
  InboxMachine sim(machineWithDrive(""));
  DiskList identified;
  identifyInboxDisk(inboxCandidate(), identified);

  const auto opens = sim.calls(zevsim::CallKind::CreateFile);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].path, L"\\\\.\\PHYSICALDRIVE4");
  EXPECT_EQ(opens[0].access, 0xC0000000u);
  EXPECT_EQ(opens[0].shareMode, 3u);
  EXPECT_EQ(opens[0].disposition, 3u);
  EXPECT_EQ(opens[0].flags, 0u);

  const auto queries = sim.requests(platform::kIoctlStorageQueryProperty);
  ASSERT_EQ(queries.size(), 1u);
  EXPECT_EQ(queries[0].controlCode, 0x002D1400u);
  EXPECT_EQ(queries[0].inSize, 4144u);
  EXPECT_EQ(queries[0].outSize, 4144u);
  const std::vector<std::uint8_t> expectedHead = {
      49, 0,  0, 0,  // PropertyId StorageAdapterProtocolSpecificProperty
      0,  0,  0, 0,  // QueryType PropertyStandardQuery
      3,  0,  0, 0,  // ProtocolType NVMe
      1,  0,  0, 0,  // DataType Identify
      1,  0,  0, 0,  // CNS Identify Controller
      0,  0,  0, 0,  // sub value
      40, 0,  0, 0,  // ProtocolDataOffset
      0,  16, 0, 0,  // ProtocolDataLength 4096
  };
  const auto& head = queries[0].inputHead;
  ASSERT_GE(head.size(), 64u);
  EXPECT_EQ(std::vector<std::uint8_t>(head.begin(), head.begin() + 32), expectedHead);
  for (std::size_t i = 32; i < head.size(); ++i) {
    EXPECT_EQ(head[i], 0) << "byte " << i;
  }
  EXPECT_EQ(sim.calls(zevsim::CallKind::CloseHandle).size(), 1u);
}

TEST(InboxIdentify, QueryRecordGoldenBytes) {
  std::vector<std::uint8_t> buffer(storage::kIdentifyQuerySize, 0);
  storage::writeIdentifyControllerQuery(buffer);
  const std::uint32_t expected[] = {49, 0, 3, 1, 1, 0, 40, 4096, 0, 0, 0, 0};
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_EQ(le32At(buffer, 4 * i), expected[i]) << "word " << i;
  }
}

struct GranularityCase {
  const char* version;
  int fwug;
  std::int32_t expected;
};

TEST(InboxIdentify, GranularityFromVersionAndFwug) {
  const std::vector<GranularityCase> cases = {
      {"1.2", 8, 1}, {"1.3", 0, 1}, {"1.4", 8, 8}, {"1.3", 255, 255},
      {"2.0", 8, 1}, {"1.3", 8, 8}, {"1.0", 8, 1}, {"2.3", 3, 3},
  };
  for (const GranularityCase& c : cases) {
    SCOPED_TRACE(std::string(c.version) + " fwug " + std::to_string(c.fwug));
    InboxMachine sim(machineWithDrive(std::string(R"(, "nvmeVersion": ")") + c.version +
                                      R"(", "fwug": )" + std::to_string(c.fwug)));
    DiskList identified;
    ASSERT_EQ(identifyInboxDisk(inboxCandidate(), identified).code, 0);
    ASSERT_EQ(identified.size(), 1u);
    EXPECT_EQ(identified[0].updateGranularity, c.expected);
  }
}

struct TextCase {
  const char* name;
  std::string driveKeys;
  std::wstring serial, model, firmware;
};

TEST(InboxIdentify, TextFieldsUpToTheirFirstZeroByte) {
  const std::vector<TextCase> cases = {
      {"full widths",
       R"(, "serial": "SSSSSSSSSSSSSSSSSSSS", "model": "MMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMMM",
          "firmware": "FFFFFFFF")",
       std::wstring(20, L'S'), std::wstring(40, L'M'), std::wstring(8, L'F')},
      {"zero at index 4 of FR", R"(, "firmware": "KTW8\u0000\u0000\u0000\u0000")", L"", L"",
       L"KTW8"},
      {"zero first in FR", R"(, "firmware": "\u0000TW8LMZB")", L"", L"", L""},
      {"short FR padded with blanks", R"(, "firmware": "KTW8")", L"", L"", L"KTW8    "},
      {"lower case kept", R"(, "firmware": "ktw3lmzb")", L"", L"", L"ktw3lmzb"},
  };
  for (const TextCase& c : cases) {
    SCOPED_TRACE(c.name);
    InboxMachine sim(machineWithDrive(c.driveKeys));
    DiskList identified;
    ASSERT_EQ(identifyInboxDisk(inboxCandidate(), identified).code, 0);
    ASSERT_EQ(identified.size(), 1u);
    const auto& drive = sim.config().drives[0];
    EXPECT_EQ(identified[0].serialNumber, c.serial.empty() ? wideBytes(drive.serial) : c.serial);
    EXPECT_EQ(identified[0].modelNumber, c.model.empty() ? wideBytes(drive.model) : c.model);
    EXPECT_EQ(identified[0].firmwareRevision, c.firmware);
  }
}

TEST(InboxIdentify, OpenFailurePrintsTheErrorAndReturns2) {
  InboxMachine sim(machineWithDrive(""));
  sim.machine().injectCallFault(testsupport::callFault(zevsim::CallKind::CreateFile, 5));
  DiskList identified;
  EXPECT_EQ(identifyInboxDisk(inboxCandidate(), identified).code, 2);
  EXPECT_TRUE(identified.empty());
  EXPECT_EQ(sim.console(), "  [ERROR] Failed to get disk handle: 0x5\n\n");
  EXPECT_TRUE(sim.requests(platform::kIoctlStorageQueryProperty).empty());
}

TEST(InboxIdentify, OpenErrorInLowerCaseHexadecimal) {
  InboxMachine sim(machineWithDrive(""));
  DiskList identified;
  EXPECT_EQ(identifyInboxDisk(inboxCandidate(L"\\\\.\\PHYSICALDRIVE9"), identified).code, 2);
  const std::uint32_t error = sim.calls(zevsim::CallKind::CreateFile).at(0).error;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%x", static_cast<unsigned>(error));
  EXPECT_EQ(sim.console(), std::string("  [ERROR] Failed to get disk handle: 0x") + hex + "\n\n");
  sim.machine().injectCallFault(testsupport::callFault(zevsim::CallKind::CreateFile, 0xABCD));
  EXPECT_EQ(identifyInboxDisk(inboxCandidate(), identified).code, 2);
  EXPECT_NE(sim.console().find("handle: 0xabcd\n\n"), std::string::npos);
}

TEST(InboxIdentify, QueryFailureIsReportedAndClosesTheDisk) {
  InboxMachine sim(machineWithDrive(R"(, "faults": [ { "request": "identify", "error": 1117 } ])"));
  DiskList identified;
  EXPECT_EQ(identifyInboxDisk(inboxCandidate(), identified).code, 5);
  EXPECT_TRUE(identified.empty());
  EXPECT_EQ(sim.console(), "  [ERROR] Identify failed: 0x45d\n\n");
  EXPECT_EQ(sim.calls(zevsim::CallKind::CloseHandle).size(), 1u);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(InboxIdentify, TwoCandidatesOfOneDriveGiveTwoRecords) {
  InboxMachine sim(machineWithDrive(R"(, "fwug": 8, "nvmeVersion": "1.4")"));
  DiskList identified;
  EXPECT_EQ(identifyInboxDisk(inboxCandidate(), identified).code, 0);
  EXPECT_EQ(identifyInboxDisk(inboxCandidate(), identified).code, 0);
  ASSERT_EQ(identified.size(), 2u);
  EXPECT_EQ(identified[0].firmwareRevision, identified[1].firmwareRevision);
  EXPECT_EQ(identified[0].serialNumber, identified[1].serialNumber);
  EXPECT_EQ(identified[0].devicePath, identified[1].devicePath);
  EXPECT_EQ(identified[1].updateGranularity, 8);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

}  // namespace
}  // namespace zev
