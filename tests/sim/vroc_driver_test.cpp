// The VROC driver on its SCSI port: RAID volume and non-RAID lists, and the
// NVMe pass-through (Identify, Firmware Image Download, Firmware Commit).
#include <gtest/gtest.h>

#include "sim/intel_rig.hpp"

namespace zevsim {
namespace {

using test::Bytes;
using test::get32;
using test::IntelRig;
using test::put32;
using test::RigMember;

constexpr std::uint32_t kPassThrough = 0xE0002000;
constexpr std::uint32_t kVolumeCount = 0xE0002014;
constexpr std::uint32_t kVolumeInfo = 0xE0002018;
constexpr std::uint32_t kMemberList = 0xE000201C;
constexpr std::uint32_t kNonRaidCount = 0xE0002028;
constexpr std::uint32_t kNonRaidList = 0xE000202C;
constexpr std::uint32_t kPort = 2;

// Disk ids: 1 "a" (port 0) and 2 "b" (port 3) in the volume, then the
// pass-through drives 3 "d" (bus 2) and 4 "f" (bus 7).
std::unique_ptr<IntelRig> vrocRig(bool withVolume = true, bool withPassThrough = true,
                                  std::vector<Fault> controllerFaults = {},
                                  std::vector<Fault> driveBFaults = {},
                                  IntelDriver driver = IntelDriver::Vroc) {
  DriveConfig b = test::testDrive("b", 10244);
  b.faults = std::move(driveBFaults);
  std::vector<std::vector<RigMember>> volumes;
  if (withVolume) {
    volumes.push_back({{test::testDrive("a"), 0}, {b, 3}});
  }
  std::vector<RigMember> passThrough;
  if (withPassThrough) {
    passThrough = {{test::testDrive("d"), 2}, {test::testDrive("f"), 7}};
  }
  auto rig = std::make_unique<IntelRig>(driver, volumes, passThrough, test::testImage(10244),
                                        std::move(controllerFaults));
  rig->config().vrocPort = kPort;
  return rig;
}

Bytes vrocRequest(std::size_t size, std::uint32_t code, std::uint32_t returnCode = 0) {
  return test::srbRequest(size, "NvmeRAID", code, returnCode);
}

Bytes memberList(std::size_t entries) {
  Bytes b = vrocRequest(entries * 108 + 40, kMemberList);
  put32(b, 28, 1);
  put32(b, 32, static_cast<std::uint32_t>(entries * 108));
  return b;
}

Bytes nonRaidList(std::size_t entries) {
  Bytes b = vrocRequest(entries * 108 + 36, kNonRaidList);
  put32(b, 28, static_cast<std::uint32_t>(entries * 108));
  return b;
}

Bytes volumeInfo(std::uint32_t volume = 1) {
  Bytes b = vrocRequest(132, kVolumeInfo);
  put32(b, 28, volume);
  return b;
}

Bytes identifyPassThrough(std::uint32_t diskId) {
  Bytes b = vrocRequest(4252, kPassThrough, diskId);
  b[52] = 6;
  b[92] = 1;
  put32(b, 132, 2);
  put32(b, 148, 4252);
  std::fill(b.begin() + 152, b.end(), std::uint8_t{0x55});
  return b;
}

// The download the way the package sizes it: piece + 160 bytes, sent with an
// output length of 153.
Bytes downloadPassThrough(std::uint32_t diskId, std::uint32_t offset,
                          std::span<const std::uint8_t> piece) {
  Bytes b = vrocRequest(piece.size() + 160, kPassThrough, diskId);
  b[52] = 0x11;
  put32(b, 92, static_cast<std::uint32_t>(piece.size() / 4 - 1));
  put32(b, 96, offset / 4);
  put32(b, 132, 1);
  put32(b, 140, static_cast<std::uint32_t>(piece.size()));
  put32(b, 148, 153);
  std::copy(piece.begin(), piece.end(), b.begin() + 152);
  return b;
}

Bytes commitPassThrough(std::uint32_t diskId, std::uint32_t cdw10 = 0x0A) {
  Bytes b = vrocRequest(153, kPassThrough, diskId);
  b[52] = 0x10;
  put32(b, 92, cdw10);
  put32(b, 132, 1);
  put32(b, 148, 153);
  return b;
}

// Sends image to diskId in pieces, the last one short; returns each reply's
// (ReturnCode, CplEntry[3]).
std::vector<std::pair<std::uint32_t, std::uint32_t>> downloadThroughVroc(Endpoint& endpoint,
                                                                         std::uint32_t diskId,
                                                                         const Bytes& image,
                                                                         std::size_t piece) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> results;
  for (std::size_t offset = 0; offset < image.size(); offset += piece) {
    const auto part = std::span(image).subspan(offset, std::min(piece, image.size() - offset));
    const Bytes request = downloadPassThrough(diskId, static_cast<std::uint32_t>(offset), part);
    EXPECT_EQ(get32(request, 24), part.size() + 132);
    const IoReply reply = endpoint.request(test::kScsiMiniport, request, 153);
    EXPECT_TRUE(reply.delivered);
    EXPECT_EQ(reply.reply.size(), 153u);
    results.emplace_back(get32(reply.reply, 20), get32(reply.reply, 128));
  }
  return results;
}

TEST(SimVrocLists, CountTheVolume) {
  for (const bool withVolume : {true, false}) {
    auto rig = vrocRig(withVolume);
    auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
    const IoReply reply = test::send(*endpoint, vrocRequest(32, kVolumeCount));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), 0u);
    EXPECT_EQ(get32(reply.reply, 28), withVolume ? 1u : 0u);
  }
}

TEST(SimVrocLists, GiveTheMemberCountOfVolumeOne) {
  auto rig = vrocRig();
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  const IoReply reply = test::send(*endpoint, volumeInfo());
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 128), 2u);
  EXPECT_EQ(get32(test::send(*endpoint, volumeInfo(2)).reply, 20), 14u);
  auto noVolume = vrocRig(false);
  auto other = makeScsiPortEndpoint(&noVolume->model(), kPort);
  EXPECT_EQ(get32(test::send(*other, volumeInfo()).reply, 20), 14u);
}

void expectEntry(const Bytes& r, std::size_t at, std::uint32_t diskId, const NvmeDrive& drive,
                 std::uint32_t port) {
  EXPECT_EQ(get32(r, at), diskId);
  EXPECT_EQ(test::text(r, at + 4, 40), drive.config().model);
  EXPECT_TRUE(std::all_of(r.begin() + static_cast<std::ptrdiff_t>(at + 44),
                          r.begin() + static_cast<std::ptrdiff_t>(at + 52),
                          [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(test::text(r, at + 52, 20), drive.config().serial);
  EXPECT_TRUE(std::all_of(r.begin() + static_cast<std::ptrdiff_t>(at + 72),
                          r.begin() + static_cast<std::ptrdiff_t>(at + 100),
                          [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(get32(r, at + 100), port);
  EXPECT_EQ(get32(r, at + 104), 0u);
}

TEST(SimVrocLists, ListTheMembersWithDiskIdsAndPorts) {
  auto rig = vrocRig();
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  const IoReply reply = test::send(*endpoint, memberList(2));
  ASSERT_TRUE(reply.delivered);
  ASSERT_EQ(reply.reply.size(), 256u);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  expectEntry(reply.reply, 36, 1, rig->drive(0), 0);
  expectEntry(reply.reply, 144, 2, rig->drive(1), 3);
}

TEST(SimVrocLists, ListTheNonRaidDrivesAfterTheMembers) {
  auto rig = vrocRig();
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  EXPECT_EQ(get32(test::send(*endpoint, vrocRequest(32, kNonRaidCount)).reply, 28), 2u);
  const IoReply reply = test::send(*endpoint, nonRaidList(2));
  ASSERT_TRUE(reply.delivered);
  expectEntry(reply.reply, 32, 3, rig->drive(2), 2);
  expectEntry(reply.reply, 140, 4, rig->drive(3), 7);
}

TEST(SimVrocLists, NonRaidIdsStartAtOneWithoutAVolume) {
  auto rig = vrocRig(false);
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  const IoReply reply = test::send(*endpoint, nonRaidList(2));
  expectEntry(reply.reply, 32, 1, rig->drive(0), 2);
  expectEntry(reply.reply, 140, 2, rig->drive(1), 7);
}

struct Room {
  std::uint32_t code;
  std::size_t entries;   // room in the request
  std::size_t expected;  // entries filled
};

class SimVrocListRoom : public testing::TestWithParam<Room> {};

TEST_P(SimVrocListRoom, FillsAsManyEntriesAsTheBufferHolds) {
  auto rig = vrocRig();
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  const bool members = GetParam().code == kMemberList;
  const Bytes request = members ? memberList(GetParam().entries) : nonRaidList(GetParam().entries);
  const IoReply reply = test::send(*endpoint, request);
  ASSERT_TRUE(reply.delivered);
  const std::size_t first = members ? 36 : 32;
  for (std::size_t k = 0; k < GetParam().entries; ++k) {
    const std::uint32_t id = get32(reply.reply, first + 108 * k);
    EXPECT_EQ(id, k < GetParam().expected ? (members ? 1 : 3) + k : 0) << k;
  }
}

INSTANTIATE_TEST_SUITE_P(Table, SimVrocListRoom,
                         testing::Values(Room{kMemberList, 0, 0}, Room{kMemberList, 1, 1},
                                         Room{kMemberList, 3, 2}, Room{kNonRaidList, 1, 1},
                                         Room{kNonRaidList, 4, 2}));

struct ShortRequest {
  std::uint32_t code;
  std::size_t size;
};

class SimVrocListShort : public testing::TestWithParam<ShortRequest> {};

TEST_P(SimVrocListShort, IsAnInsufficientBuffer) {
  auto rig = vrocRig();
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  Bytes request = vrocRequest(GetParam().size, GetParam().code);
  if (GetParam().size >= 32) {
    put32(request, 28, 1);
  }
  const IoReply reply = test::send(*endpoint, request);
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 3u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimVrocListShort,
    testing::Values(ShortRequest{kVolumeCount, 31}, ShortRequest{kVolumeInfo, 131},
                    ShortRequest{kMemberList, 35}, ShortRequest{kNonRaidCount, 28},
                    ShortRequest{kNonRaidList, 31}, ShortRequest{kPassThrough, 151}));

TEST(SimVrocLists, FaultsCountOverEveryListRequest) {
  Fault code = test::fault(FaultRequest::VrocList);
  code.nth = 2;
  code.returnCode = 1;
  Fault error = test::fault(FaultRequest::VrocList);
  error.nth = 3;
  error.error = 31;
  auto rig = vrocRig(true, true, {code, error});
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  EXPECT_EQ(get32(test::send(*endpoint, vrocRequest(32, kVolumeCount)).reply, 28), 1u);
  const IoReply second = test::send(*endpoint, volumeInfo());
  EXPECT_EQ(get32(second.reply, 20), 1u);
  EXPECT_EQ(get32(second.reply, 128), 0u);
  const IoReply third = test::send(*endpoint, memberList(2));
  EXPECT_FALSE(third.delivered);
  EXPECT_EQ(third.error, 31u);
  EXPECT_EQ(get32(test::send(*endpoint, vrocRequest(32, kNonRaidCount)).reply, 28), 2u);
  EXPECT_EQ(rig->model().faults.countOf(FaultRequest::VrocList), 4u);
}

TEST(SimVrocPorts, OnlyTheVrocPortOfAVrocControllerAnswers) {
  auto rig = vrocRig();
  auto irst = vrocRig(true, true, {}, {}, IntelDriver::Irst);
  const std::vector<std::unique_ptr<Endpoint>> refusing = [&] {
    std::vector<std::unique_ptr<Endpoint>> e;
    e.push_back(makeScsiPortEndpoint(&rig->model(), 0));
    e.push_back(makeScsiPortEndpoint(&rig->model(), 1));
    e.push_back(makeScsiPortEndpoint(&irst->model(), kPort));
    e.push_back(makeScsiPortEndpoint(nullptr, kPort));
    return e;
  }();
  for (const auto& endpoint : refusing) {
    const IoReply reply = test::send(*endpoint, vrocRequest(32, kVolumeCount));
    EXPECT_FALSE(reply.delivered);
    EXPECT_EQ(reply.error, test::kErrInvalidFunction);
  }
}

struct Malformed {
  const char* name;
  std::size_t at;
  std::uint32_t value;
};

class SimVrocMalformed : public testing::TestWithParam<Malformed> {};

TEST_P(SimVrocMalformed, IsNotDelivered) {
  auto rig = vrocRig();
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  Bytes request = vrocRequest(32, kVolumeCount);
  put32(request, GetParam().at, GetParam().value);
  const IoReply reply = test::send(*endpoint, request);
  EXPECT_FALSE(reply.delivered) << GetParam().name;
  EXPECT_EQ(reply.error, test::kErrInvalidParameter) << GetParam().name;
  EXPECT_EQ(rig->model().faults.countOf(FaultRequest::VrocList), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, SimVrocMalformed,
                         testing::Values(Malformed{"HeaderLength", 0, 0},
                                         Malformed{"signature", 4, 0x656D764F},
                                         Malformed{"control code", 16, 0xE0002010},
                                         Malformed{"Length", 24, 5}));

TEST(SimVrocPassThrough, IdentifiesTheDriveNamedInReturnCode) {
  auto rig = vrocRig();
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  const IoReply reply = test::send(*endpoint, identifyPassThrough(3));
  ASSERT_TRUE(reply.delivered);
  ASSERT_EQ(reply.reply.size(), 4252u);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_EQ(get32(reply.reply, 128), 0u);
  const auto identify = rig->drive(2).identifyController();
  EXPECT_TRUE(std::equal(identify.begin(), identify.end(), reply.reply.begin() + 152));
  EXPECT_EQ(rig->drive(2).requestCount(FaultRequest::Identify), 1u);
}

struct PassThroughCase {
  const char* name;
  std::size_t at;  // 32-bit field to change; the byte at 52 when at is 52
  std::uint32_t value;
  std::uint32_t returnCode;
  std::uint32_t completion;
};

class SimVrocIdentifyRefused : public testing::TestWithParam<PassThroughCase> {};

TEST_P(SimVrocIdentifyRefused, ReturnsNoData) {
  const PassThroughCase& c = GetParam();
  auto rig = vrocRig();
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  Bytes request = identifyPassThrough(3);
  if (c.at == 52) {
    request[52] = static_cast<std::uint8_t>(c.value);
  } else {
    put32(request, c.at, c.value);
  }
  const IoReply reply = test::send(*endpoint, request);
  ASSERT_TRUE(reply.delivered) << c.name;
  EXPECT_EQ(get32(reply.reply, 20), c.returnCode) << c.name;
  EXPECT_EQ(get32(reply.reply, 128), c.completion) << c.name;
  EXPECT_EQ(reply.reply[152 + 64], 0x55) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimVrocIdentifyRefused,
    testing::Values(PassThroughCase{"disk id 0", 20, 0, 14, 0},
                    PassThroughCase{"disk id 5", 20, 5, 14, 0},
                    PassThroughCase{"direction", 132, 1, 11, 0},
                    PassThroughCase{"metadata", 144, 8, 12, 0},
                    PassThroughCase{"queue", 136, 1, 6, 0},
                    PassThroughCase{"namespace identify", 92, 0, 0, 0x002u << 17},
                    PassThroughCase{"get log page", 52, 0x02, 0, 0x001u << 17}));

TEST(SimVrocUpdate, AShortLastPieceCompletesTheImageAndTheCommitWaitsForAReset) {
  auto rig = vrocRig();
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  const auto results = downloadThroughVroc(*endpoint, 2, rig->image(), 4096);
  EXPECT_EQ(results, (std::vector<std::pair<std::uint32_t, std::uint32_t>>(3, {0, 0})));
  EXPECT_TRUE(rig->drive(1).stagedImageMatchesPackage());
  EXPECT_EQ(rig->drive(1).downloadedBytes(), 10244u);
  const IoReply reply = test::send(*endpoint, commitPassThrough(2));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_EQ(get32(reply.reply, 128), 0u);
  EXPECT_EQ(rig->drive(1).pendingSlot(), 2u);
  EXPECT_EQ(rig->drive(1).runningFirmware(), "KTW3LMZB");
  EXPECT_EQ(rig->drive(1).firmwareAfterReset(), "KTW8LMZB");
}

struct CommitCase {
  const char* name;
  std::uint32_t cdw10;
  bool download;
  std::uint32_t status;
};

class SimVrocCommit : public testing::TestWithParam<CommitCase> {};

TEST_P(SimVrocCommit, CompletesWithTheNvmeStatus) {
  auto rig = vrocRig();
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  if (GetParam().download) {
    downloadThroughVroc(*endpoint, 2, rig->image(), 4096);
  }
  const IoReply reply = test::send(*endpoint, commitPassThrough(2, GetParam().cdw10));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 0u) << GetParam().name;
  EXPECT_EQ(get32(reply.reply, 128), GetParam().status << 17) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Table, SimVrocCommit,
                         testing::Values(CommitCase{"slot 2 action 1", 0x0A, true, 0},
                                         CommitCase{"read-only slot 1", 0x09, true, 0x106},
                                         CommitCase{"slot 3", 0x0B, true, 0x106},
                                         CommitCase{"slot 0", 0x08, true, 0x106},
                                         CommitCase{"no image", 0x0A, false, 0x107},
                                         CommitCase{"action 4", 0x22, true, 0x002},
                                         CommitCase{"activate slot 1 as it is", 0x11, false, 0}));

TEST(SimVrocCommit, APowerCycleDriveStillSucceeds) {
  auto rig = vrocRig();
  DriveConfig config = test::testDrive("p", 10244);
  config.activation = Activation::PowerCycle;
  test::IntelRig single(IntelDriver::Vroc, {{{config, 1}}}, {}, rig->image());
  single.config().vrocPort = kPort;
  auto endpoint = makeScsiPortEndpoint(&single.model(), kPort);
  downloadThroughVroc(*endpoint, 1, single.image(), 8192);
  EXPECT_EQ(get32(test::send(*endpoint, commitPassThrough(1)).reply, 128), 0u);
  EXPECT_EQ(single.drive(0).firmwareAfterReset(), "KTW8LMZB");
}

TEST(SimVrocDownload, APieceBeyondTheImageIsAnInvalidField) {
  auto rig = vrocRig();
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  const Bytes piece(4096, 1);
  const IoReply reply =
      endpoint->request(test::kScsiMiniport, downloadPassThrough(2, 8192, piece), 153);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_EQ(get32(reply.reply, 128), 0x00040000u);
  EXPECT_EQ(rig->drive(1).downloadedBytes(), 0u);
}

struct DataCase {
  const char* name;
  std::uint32_t cdw10;
  std::uint32_t dataLength;
};

class SimVrocDownloadData : public testing::TestWithParam<DataCase> {};

TEST_P(SimVrocDownloadData, ThatTheRecordDoesNotCarryIsAnInsufficientBuffer) {
  auto rig = vrocRig();
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  Bytes request = downloadPassThrough(2, 0, std::span(rig->image()).first(4096));
  put32(request, 92, GetParam().cdw10);
  put32(request, 140, GetParam().dataLength);
  const IoReply reply = endpoint->request(test::kScsiMiniport, request, 153);
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 3u) << GetParam().name;
  EXPECT_EQ(rig->drive(1).downloadedBytes(), 0u);
}

// The request is 4256 bytes: data from 152 to its end has room for 4104.
INSTANTIATE_TEST_SUITE_P(Table, SimVrocDownloadData,
                         testing::Values(DataCase{"data length short of NUMD", 1023, 4092},
                                         DataCase{"NUMD past the buffer", 1026, 4108},
                                         DataCase{"NUMD of 2^32 dwords", 0xFFFFFFFF, 0xFFFFFFFF}));

TEST(SimVrocFaults, NvmeStatusStopsTheCommitBeforeTheDrive) {
  Fault f = test::fault(FaultRequest::Activate);
  f.nvmeStatus = 0x106;
  auto rig = vrocRig(true, true, {}, {f});
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  downloadThroughVroc(*endpoint, 2, rig->image(), 4096);
  const IoReply reply = test::send(*endpoint, commitPassThrough(2));
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_EQ(get32(reply.reply, 128), 0x020C0000u);
  EXPECT_FALSE(rig->drive(1).pendingSlot().has_value());
}

TEST(SimVrocFaults, ACompletionReplacesDwordThreeAfterTheDriveActs) {
  Fault f = test::fault(FaultRequest::Activate);
  f.completion = 0x00010000;
  auto rig = vrocRig(true, true, {}, {f});
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  downloadThroughVroc(*endpoint, 2, rig->image(), 4096);
  const IoReply reply = test::send(*endpoint, commitPassThrough(2));
  EXPECT_EQ(get32(reply.reply, 128), 0x00010000u);
  EXPECT_EQ(rig->drive(1).pendingSlot(), 2u);
}

TEST(SimVrocFaults, ReturnCodeAndErrorStopTheDownload) {
  Fault code = test::fault(FaultRequest::Download);
  code.nth = 1;
  code.returnCode = 13;
  Fault error = test::fault(FaultRequest::Download);
  error.nth = 2;
  error.error = 1117;
  auto rig = vrocRig(true, true, {}, {code, error});
  auto endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  const auto piece = std::span(rig->image()).first(4096);
  const IoReply first =
      endpoint->request(test::kScsiMiniport, downloadPassThrough(2, 0, piece), 153);
  EXPECT_EQ(get32(first.reply, 20), 13u);
  const IoReply second =
      endpoint->request(test::kScsiMiniport, downloadPassThrough(2, 0, piece), 153);
  EXPECT_FALSE(second.delivered);
  EXPECT_EQ(second.error, 1117u);
  EXPECT_EQ(rig->drive(1).downloadedBytes(), 0u);
  EXPECT_EQ(rig->drive(1).requestCount(FaultRequest::Download), 2u);
}

}  // namespace
}  // namespace zevsim
