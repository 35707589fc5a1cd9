// The IRST driver on the Intel controller's storage-port path: CSMI RAID
// configuration, "IntelNvm" Identify and "IntelFw " download and activate.
#include <gtest/gtest.h>

#include "sim/intel_rig.hpp"

namespace zevsim {
namespace {

using test::Bytes;
using test::get32;
using test::IntelRig;
using test::put32;
using test::put64;
using test::RigMember;

// Drive 0 "a" port 0, drive 1 "b" port 3, drive 2 "e" port 4 in volume 0;
// drive 3 "c" port 5 in volume 1; drive 4 "d" on bus 2, not in a volume.
std::unique_ptr<IntelRig> standardRig(IntelDriver driver = IntelDriver::Irst,
                                      std::vector<Fault> controllerFaults = {},
                                      std::vector<Fault> driveBFaults = {},
                                      Activation activation = Activation::Reset) {
  DriveConfig b = test::testDrive("b", 10244);
  b.faults = std::move(driveBFaults);
  b.activation = activation;
  return std::make_unique<IntelRig>(
      driver,
      std::vector<std::vector<RigMember>>{
          {{test::testDrive("a"), 0}, {b, 3}, {test::testDrive("e"), 4}},
          {{test::testDrive("c"), 5}}},
      std::vector<RigMember>{{test::testDrive("d"), 2}}, test::testImage(10244),
      std::move(controllerFaults));
}

// CSMI_SAS_RAID_CONFIG_BUFFER with room for entries member entries.
Bytes csmiRequest(std::size_t entries, std::uint32_t raidSet = 0) {
  Bytes b = test::srbRequest(64 + 136 * entries, std::string_view("CSMIARY\0", 8), 11);
  put32(b, 28, raidSet);
  return b;
}

Bytes intelNvmIdentify(std::uint8_t pathId, std::size_t size = 4260,
                       std::uint32_t dataOffset = 164) {
  Bytes b = test::srbRequest(size, "IntelNvm", 0xF0002808);
  b[28] = 1;
  b[29] = pathId;
  put32(b, 32, 6);  // opcode Identify
  put32(b, 72, 1);  // CNS 1
  put32(b, 116, dataOffset);
  put32(b, 120, 4096);
  return b;
}

Bytes intelFwRequest(std::uint8_t pathId, std::uint32_t function, std::size_t size) {
  Bytes b = test::srbRequest(size, "IntelFw ", 0xF0000040);
  b[28] = 1;
  b[29] = pathId;
  put32(b, 32, 1);
  put32(b, 36, 24);
  put32(b, 40, function);
  put32(b, 44, 1);
  put32(b, 48, 56);
  put32(b, 52, static_cast<std::uint32_t>(size - 56));
  return b;
}

// The download request the way the package sizes it: piece + 88 bytes.
Bytes intelFwDownload(std::uint8_t pathId, std::uint64_t offset,
                      std::span<const std::uint8_t> piece) {
  Bytes b = intelFwRequest(pathId, 2, piece.size() + 88);
  put32(b, 56, 2);
  put32(b, 60, 32);
  put64(b, 64, offset);
  put64(b, 72, piece.size());
  b[80] = 0xFF;
  std::copy(piece.begin(), piece.end(), b.begin() + 88);
  return b;
}

Bytes intelFwActivate(std::uint8_t pathId, std::uint8_t slot) {
  Bytes b = intelFwRequest(pathId, 3, 68);
  put32(b, 56, 1);
  put32(b, 60, 12);
  b[64] = slot;
  return b;
}

std::vector<std::uint32_t> downloadThroughIrst(Endpoint& endpoint, std::uint8_t pathId,
                                               const Bytes& image, std::size_t piece) {
  std::vector<std::uint32_t> codes;
  for (std::size_t offset = 0; offset < image.size(); offset += piece) {
    const auto part = std::span(image).subspan(offset, std::min(piece, image.size() - offset));
    const Bytes request = intelFwDownload(pathId, offset, part);
    EXPECT_EQ(get32(request, 24), part.size() + 60);
    EXPECT_EQ(get32(request, 52), part.size() + 32);
    const IoReply reply = test::send(endpoint, request);
    codes.push_back(reply.delivered ? get32(reply.reply, 20) : ~0u);
  }
  return codes;
}

TEST(SimIrstCsmi, ReportsTheFirstSetWithMemberPorts) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  const IoReply reply = test::send(*endpoint, csmiRequest(2));
  ASSERT_TRUE(reply.delivered);
  const Bytes& r = reply.reply;
  ASSERT_EQ(r.size(), 336u);
  EXPECT_EQ(get32(r, 20), 0u);
  EXPECT_EQ(r[43], 3);  // the true member count, though two entries fit
  EXPECT_EQ(r[154], 0);
  EXPECT_EQ(r[290], 3);
  EXPECT_EQ(test::text(r, 64, 40), rig->drive(0).config().model);
  EXPECT_EQ(test::text(r, 200 + 40, 8), "KTW3LMZB");
  EXPECT_EQ(rig->model().faults.countOf(FaultRequest::Csmi), 1u);
}

struct CsmiCase {
  std::size_t entries;
  std::uint32_t raidSet;
  std::uint32_t returnCode;
  std::uint8_t driveCount;
  std::vector<std::uint8_t> ports;  // port byte of each filled entry
};

class SimIrstCsmiTable : public testing::TestWithParam<CsmiCase> {};

TEST_P(SimIrstCsmiTable, FillsTheEntriesTheLengthHasRoomFor) {
  const CsmiCase& c = GetParam();
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  const IoReply reply = test::send(*endpoint, csmiRequest(c.entries, c.raidSet));
  ASSERT_TRUE(reply.delivered);
  const Bytes& r = reply.reply;
  EXPECT_EQ(get32(r, 20), c.returnCode);
  EXPECT_EQ(r[43], c.driveCount);
  for (std::size_t m = 0; m < c.entries; ++m) {
    const std::size_t entry = 64 + 136 * m;
    if (m < c.ports.size()) {
      EXPECT_EQ(r[entry + 90], c.ports[m]) << m;
      EXPECT_EQ(r[entry + 105], 1) << m;  // member usage
    } else {
      EXPECT_TRUE(std::all_of(r.begin() + static_cast<std::ptrdiff_t>(entry),
                              r.begin() + static_cast<std::ptrdiff_t>(entry + 136),
                              [](std::uint8_t b) { return b == 0; }))
          << m;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Table, SimIrstCsmiTable,
                         testing::Values(CsmiCase{0, 0, 0, 3, {}}, CsmiCase{1, 0, 0, 3, {0}},
                                         CsmiCase{3, 0, 0, 3, {0, 3, 4}},
                                         CsmiCase{5, 0, 0, 3, {0, 3, 4}}, CsmiCase{2, 1, 0, 1, {5}},
                                         CsmiCase{2, 2, 3, 0, {}}));

TEST(SimIrstCsmi, ALengthShortOfTheFixedPartIsAParameterError) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  Bytes request = csmiRequest(0);
  request.resize(63);
  put32(request, 24, 35);
  const IoReply reply = test::send(*endpoint, request);
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 3u);
  EXPECT_EQ(reply.reply[43], 0);
}

TEST(SimIrstCsmi, FaultsStopTheRequest) {
  Fault code = test::fault(FaultRequest::Csmi);
  code.nth = 1;
  code.returnCode = 26;
  Fault error = test::fault(FaultRequest::Csmi);
  error.nth = 2;
  error.error = 1117;
  auto rig = standardRig(IntelDriver::Irst, {code, error});
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  const IoReply first = test::send(*endpoint, csmiRequest(2));
  ASSERT_TRUE(first.delivered);
  EXPECT_EQ(get32(first.reply, 20), 26u);
  EXPECT_EQ(first.reply[43], 0);
  const IoReply second = test::send(*endpoint, csmiRequest(2));
  EXPECT_FALSE(second.delivered);
  EXPECT_EQ(second.error, 1117u);
  EXPECT_EQ(get32(test::send(*endpoint, csmiRequest(2)).reply, 20), 0u);
}

TEST(SimIrstIntelNvm, IdentifiesTheDriveAtThePathId) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  const IoReply reply = test::send(*endpoint, intelNvmIdentify(3));
  ASSERT_TRUE(reply.delivered);
  ASSERT_EQ(reply.reply.size(), 4260u);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  const auto identify = rig->drive(1).identifyController();
  EXPECT_TRUE(std::equal(identify.begin(), identify.end(), reply.reply.begin() + 164));
  EXPECT_EQ(test::text(reply.reply, 168, 20), rig->drive(1).config().serial);
  EXPECT_EQ(rig->drive(1).requestCount(FaultRequest::Identify), 1u);
  EXPECT_EQ(rig->drive(0).requestCount(FaultRequest::Identify), 0u);
}

TEST(SimIrstIntelNvm, ReachesAPassThroughDriveByItsBusNumber) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  const IoReply reply = test::send(*endpoint, intelNvmIdentify(2));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(test::text(reply.reply, 168, 20), rig->drive(4).config().serial);
}

TEST(SimIrstIntelNvm, PutsTheDataWhereTheRecordSays) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  const IoReply reply = test::send(*endpoint, intelNvmIdentify(0, 4300, 200));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(test::text(reply.reply, 200 + 64, 8), "KTW3LMZB");
  EXPECT_TRUE(std::all_of(reply.reply.begin() + 124, reply.reply.begin() + 200,
                          [](std::uint8_t b) { return b == 0; }));
}

struct NvmAddress {
  const char* name;
  std::size_t at;
  std::uint8_t value;
  std::uint32_t error;
};

class SimIrstIntelNvmAddress : public testing::TestWithParam<NvmAddress> {};

TEST_P(SimIrstIntelNvmAddress, ANonexistentDriveIsNotDelivered) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  Bytes request = intelNvmIdentify(3);
  request[GetParam().at] = GetParam().value;
  const IoReply reply = test::send(*endpoint, request);
  EXPECT_FALSE(reply.delivered) << GetParam().name;
  EXPECT_EQ(reply.error, GetParam().error) << GetParam().name;
  EXPECT_TRUE(reply.reply.empty());
}

INSTANTIATE_TEST_SUITE_P(Table, SimIrstIntelNvmAddress,
                         testing::Values(NvmAddress{"unknown path id", 29, 9, test::kErrIoDevice},
                                         NvmAddress{"path id 255", 29, 255, test::kErrIoDevice},
                                         NvmAddress{"target id", 30, 1, test::kErrIoDevice},
                                         NvmAddress{"logical unit", 31, 1, test::kErrIoDevice},
                                         NvmAddress{"record version", 28, 2,
                                                    test::kErrInvalidParameter}));

struct NvmRecord {
  const char* name;
  std::size_t at;
  std::uint32_t value;
  bool counted;
};

class SimIrstIntelNvmRecord : public testing::TestWithParam<NvmRecord> {};

TEST_P(SimIrstIntelNvmRecord, AnUnusableRecordIsAParameterError) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  Bytes request = intelNvmIdentify(3);
  put32(request, GetParam().at, GetParam().value);
  const IoReply reply = test::send(*endpoint, request);
  ASSERT_TRUE(reply.delivered) << GetParam().name;
  EXPECT_EQ(get32(reply.reply, 20), 3u) << GetParam().name;
  EXPECT_EQ(reply.reply[164 + 64], 0) << GetParam().name;
  EXPECT_EQ(rig->drive(1).requestCount(FaultRequest::Identify), GetParam().counted ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, SimIrstIntelNvmRecord,
                         testing::Values(NvmRecord{"short data", 120, 4095, true},
                                         NvmRecord{"data past the end", 116, 165, true},
                                         NvmRecord{"data over the record", 116, 100, true},
                                         NvmRecord{"not Identify", 32, 2, false},
                                         NvmRecord{"namespace Identify", 72, 0, false}));

TEST(SimIrstIntelNvm, AReturnCodeFaultLeavesTheDataEmpty) {
  Fault f = test::fault(FaultRequest::Identify);
  f.returnCode = 9;
  auto rig = standardRig(IntelDriver::Irst, {}, {f});
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  const IoReply reply = test::send(*endpoint, intelNvmIdentify(3));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 9u);
  EXPECT_EQ(reply.reply[164 + 64], 0);
}

TEST(SimIrstIntelFw, AShortLastPieceCompletesTheImageAndActivates) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  const Bytes& image = rig->image();
  EXPECT_EQ(downloadThroughIrst(*endpoint, 3, image, 4096), (std::vector<std::uint32_t>{0, 0, 0}));
  EXPECT_TRUE(rig->drive(1).stagedImageMatchesPackage());
  EXPECT_EQ(rig->drive(1).requestCount(FaultRequest::Download), 3u);
  EXPECT_EQ(rig->drive(0).downloadedBytes(), 0u);
  const IoReply reply = test::send(*endpoint, intelFwActivate(3, 2));
  ASSERT_TRUE(reply.delivered);
  ASSERT_EQ(reply.reply.size(), 68u);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_EQ(rig->drive(1).firmwareAfterReset(), "KTW8LMZB");
}

TEST(SimIrstIntelFw, APowerCycleDriveSaysSo) {
  auto rig = standardRig(IntelDriver::Irst, {}, {}, Activation::PowerCycle);
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  downloadThroughIrst(*endpoint, 3, rig->image(), 8192);
  EXPECT_EQ(get32(test::send(*endpoint, intelFwActivate(3, 2)).reply, 20), 0x20u);
}

struct FwActivate {
  const char* name;
  std::uint8_t slot;
  bool download;
  std::uint32_t returnCode;
};

class SimIrstIntelFwActivate : public testing::TestWithParam<FwActivate> {};

TEST_P(SimIrstIntelFwActivate, ReturnsTheFirmwareStatus) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  if (GetParam().download) {
    downloadThroughIrst(*endpoint, 3, rig->image(), 4096);
  }
  const IoReply reply = test::send(*endpoint, intelFwActivate(3, GetParam().slot));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), GetParam().returnCode) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Table, SimIrstIntelFwActivate,
                         testing::Values(FwActivate{"slot 2", 2, true, 0},
                                         FwActivate{"read-only slot 1", 1, true, 6},
                                         FwActivate{"slot 7", 7, true, 6},
                                         FwActivate{"nothing downloaded", 2, false, 7}));

TEST(SimIrstIntelFw, ADataRecordOverTheRequestBlockIsAParameterError) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  Bytes request = intelFwActivate(3, 2);
  put32(request, 48, 40);
  put32(request, 52, 28);
  const IoReply reply = test::send(*endpoint, request);
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 3u);
}

TEST(SimIrstIntelFw, APieceLongerThanItsRecordIsAParameterError) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  Bytes request = intelFwDownload(3, 0, std::span(rig->image()).first(4096));
  put64(request, 72, 4100);
  EXPECT_EQ(get32(test::send(*endpoint, request).reply, 20), 3u);
  EXPECT_EQ(rig->drive(1).downloadedBytes(), 0u);
}

struct FwMalformed {
  const char* name;
  std::size_t at;
  std::uint32_t value;
  std::uint32_t error;
};

class SimIrstIntelFwRefused : public testing::TestWithParam<FwMalformed> {};

TEST_P(SimIrstIntelFwRefused, IsNotDelivered) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  Bytes request = intelFwActivate(3, 2);
  put32(request, GetParam().at, GetParam().value);
  const IoReply reply = test::send(*endpoint, request);
  EXPECT_FALSE(reply.delivered) << GetParam().name;
  EXPECT_EQ(reply.error, GetParam().error) << GetParam().name;
  EXPECT_EQ(rig->drive(1).requestCount(FaultRequest::Activate), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimIrstIntelFwRefused,
    testing::Values(FwMalformed{"GET_INFO", 40, 1, test::kErrInvalidParameter},
                    FwMalformed{"request block version", 32, 2, test::kErrInvalidParameter},
                    FwMalformed{"control code", 16, 0xF0000041, test::kErrInvalidParameter},
                    FwMalformed{"HeaderLength", 0, 32, test::kErrInvalidParameter},
                    FwMalformed{"unknown path id", 28, 0x0000'0901, test::kErrIoDevice}));

TEST(SimIrstIntelFw, FaultsCountOnTheAddressedDrive) {
  Fault f = test::fault(FaultRequest::Download);
  f.nth = 2;
  f.error = 1117;
  auto rig = standardRig(IntelDriver::Irst, {}, {f});
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  EXPECT_EQ(downloadThroughIrst(*endpoint, 3, rig->image(), 4096),
            (std::vector<std::uint32_t>{0, ~0u, 0}));
  EXPECT_EQ(rig->drive(1).downloadedBytes(), 4096u + 2052u);
}

TEST(SimIrstController, OtherRequestsAreRefused) {
  auto rig = standardRig();
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  EXPECT_EQ(endpoint->request(0x002D1080, {}, 12).error, test::kErrInvalidFunction);
  const IoReply unknown = test::send(*endpoint, test::srbRequest(64, "NvmeRAID", 0xE0002014));
  EXPECT_FALSE(unknown.delivered);
  EXPECT_EQ(unknown.error, test::kErrInvalidParameter);
}

TEST(SimIrstController, AVrocDriverAnswersNothingOnThisPath) {
  auto rig = standardRig(IntelDriver::Vroc);
  auto endpoint = makeIrstControllerEndpoint(rig->model());
  for (const Bytes& request : {csmiRequest(2), intelNvmIdentify(3), intelFwActivate(3, 2)}) {
    const IoReply reply = test::send(*endpoint, request);
    EXPECT_FALSE(reply.delivered);
    EXPECT_EQ(reply.error, test::kErrInvalidFunction);
  }
  EXPECT_EQ(rig->model().faults.countOf(FaultRequest::Csmi), 0u);
}

}  // namespace
}  // namespace zevsim
