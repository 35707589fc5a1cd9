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

// Disk ids: 1 "a" (port 0) and 2 "b" (port 3) in the volume, then the
// pass-through drives 3 "d" (bus 2) and 4 "f" (bus 7); and the endpoint of
// SCSI port 2, the VROC port.
struct Vroc {
  explicit Vroc(bool withVolume = true, std::vector<Fault> controllerFaults = {},
                std::vector<Fault> driveBFaults = {}, IntelDriver driver = IntelDriver::Vroc) {
    DriveConfig b = test::testDrive("b", 10244);
    b.faults = std::move(driveBFaults);
    std::vector<std::vector<RigMember>> volumes;
    if (withVolume) {
      volumes.push_back({{test::testDrive("a"), 0}, {b, 3}});
    }
    rig = std::make_unique<IntelRig>(
        driver, volumes,
        std::vector<RigMember>{{test::testDrive("d"), 2}, {test::testDrive("f"), 7}},
        test::testImage(10244), std::move(controllerFaults));
    rig->config().vrocPort = kPort;
    endpoint = makeScsiPortEndpoint(&rig->model(), kPort);
  }
  IoReply send(const Bytes& in) { return test::send(*endpoint, in); }
  // A pass-through download, sent with the output length of 153 the package uses.
  IoReply send153(const Bytes& in) { return endpoint->request(test::kScsiMiniport, in, 153); }
  NvmeDrive& drive(std::size_t i) { return rig->drive(i); }

  std::unique_ptr<IntelRig> rig;
  std::unique_ptr<Endpoint> endpoint;
};

// Sends image to diskId in pieces, the last one short; returns each reply's
// (ReturnCode, CplEntry[3]).
std::vector<std::pair<std::uint32_t, std::uint32_t>> download(Endpoint& endpoint,
                                                              std::uint32_t diskId,
                                                              const Bytes& image,
                                                              std::size_t piece) {
  std::vector<std::pair<std::uint32_t, std::uint32_t>> results;
  test::inPieces(image, piece, [&](std::size_t offset, std::span<const std::uint8_t> part) {
    const Bytes request = downloadPassThrough(diskId, static_cast<std::uint32_t>(offset), part);
    EXPECT_EQ(get32(request, 24), part.size() + 132);
    const IoReply reply = endpoint.request(test::kScsiMiniport, request, 153);
    EXPECT_TRUE(reply.delivered);
    EXPECT_EQ(reply.reply.size(), 153u);
    results.emplace_back(get32(reply.reply, 20), get32(reply.reply, 128));
  });
  return results;
}

std::vector<std::pair<std::uint32_t, std::uint32_t>> download(Vroc& vroc, std::size_t piece) {
  return download(*vroc.endpoint, 2, vroc.rig->image(), piece);
}

// The disk list entry at byte at: disk id, model, serial and port, zeros
// between them.
void expectEntry(const Bytes& r, std::size_t at, std::uint32_t diskId, const NvmeDrive& drive,
                 std::uint32_t port) {
  EXPECT_EQ(get32(r, at), diskId);
  EXPECT_EQ(test::text(r, at + 4, 40), drive.config().model);
  EXPECT_TRUE(test::allZero(r, at + 44, at + 52));
  EXPECT_EQ(test::text(r, at + 52, 20), drive.config().serial);
  EXPECT_TRUE(test::allZero(r, at + 72, at + 100));
  EXPECT_EQ(get32(r, at + 100), port);
  EXPECT_EQ(get32(r, at + 104), 0u);
}

TEST(SimVrocLists, CountAndDescribeTheVolume) {
  for (const bool withVolume : {true, false}) {
    SCOPED_TRACE(withVolume);
    Vroc vroc(withVolume);
    const IoReply reply = vroc.send(vrocRequest(32, kVolumeCount));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), 0u);
    EXPECT_EQ(get32(reply.reply, 28), withVolume ? 1u : 0u);
  }
  Vroc vroc;
  const IoReply reply = vroc.send(volumeInfo());
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 128), 2u);
  EXPECT_EQ(get32(vroc.send(volumeInfo(2)).reply, 20), 14u);
  EXPECT_EQ(get32(Vroc(false).send(volumeInfo()).reply, 20), 14u);
}

TEST(SimVrocLists, ListTheMembersThenTheNonRaidDrives) {
  Vroc vroc;
  const IoReply members = vroc.send(memberList(2));
  ASSERT_TRUE(members.delivered);
  ASSERT_EQ(members.reply.size(), 256u);
  EXPECT_EQ(get32(members.reply, 20), 0u);
  expectEntry(members.reply, 36, 1, vroc.drive(0), 0);
  expectEntry(members.reply, 144, 2, vroc.drive(1), 3);
  EXPECT_EQ(get32(vroc.send(vrocRequest(32, kNonRaidCount)).reply, 28), 2u);
  const IoReply nonRaid = vroc.send(nonRaidList(2));
  ASSERT_TRUE(nonRaid.delivered);
  expectEntry(nonRaid.reply, 32, 3, vroc.drive(2), 2);
  expectEntry(nonRaid.reply, 140, 4, vroc.drive(3), 7);
  // Without a volume the non-RAID ids start at one.
  Vroc noVolume(false);
  const IoReply alone = noVolume.send(nonRaidList(2));
  expectEntry(alone.reply, 32, 1, noVolume.drive(0), 2);
  expectEntry(alone.reply, 140, 2, noVolume.drive(1), 7);
}

TEST(SimVrocLists, FillAsManyEntriesAsTheBufferHolds) {
  const struct {
    std::uint32_t code;
    std::size_t entries;   // room in the request
    std::size_t expected;  // entries filled
  } cases[] = {{kMemberList, 0, 0},
               {kMemberList, 1, 1},
               {kMemberList, 3, 2},
               {kNonRaidList, 1, 1},
               {kNonRaidList, 4, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.code << " with room for " << c.entries);
    Vroc vroc;
    const bool members = c.code == kMemberList;
    const IoReply reply = vroc.send(members ? memberList(c.entries) : nonRaidList(c.entries));
    ASSERT_TRUE(reply.delivered);
    const std::size_t first = members ? 36 : 32;
    for (std::size_t k = 0; k < c.entries; ++k) {
      const std::uint32_t id = get32(reply.reply, first + 108 * k);
      EXPECT_EQ(id, k < c.expected ? (members ? 1 : 3) + k : 0) << k;
    }
  }
}

TEST(SimVrocLists, FillNoMoreEntriesThanTheByteCountAllows) {
  const struct {
    std::uint32_t code;
    std::size_t entries;   // room in the request
    std::uint32_t bytes;   // the byte-count field
    std::size_t expected;  // entries filled
  } cases[] = {{kMemberList, 2, 216, 2},  {kMemberList, 2, 108, 1},
               {kMemberList, 2, 215, 1},  {kMemberList, 2, 0, 0},
               {kMemberList, 1, 216, 1},  {kNonRaidList, 2, 107, 0},
               {kNonRaidList, 2, 108, 1}, {kNonRaidList, 2, 0xFFFFFFFF, 2}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.code << " with " << c.bytes << " bytes");
    Vroc vroc;
    const bool members = c.code == kMemberList;
    Bytes request = members ? memberList(c.entries) : nonRaidList(c.entries);
    put32(request, members ? 32 : 28, c.bytes);
    const IoReply reply = vroc.send(request);
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), 0u);
    const std::size_t first = members ? 36 : 32;
    for (std::size_t k = 0; k < c.entries; ++k) {
      EXPECT_EQ(get32(reply.reply, first + 108 * k), k < c.expected ? (members ? 1 : 3) + k : 0)
          << k;
    }
  }
}

TEST(SimVrocLists, AShortRequestIsAnInsufficientBuffer) {
  const struct {
    std::uint32_t code;
    std::size_t size;
  } cases[] = {{kVolumeCount, 31},  {kVolumeInfo, 131}, {kMemberList, 35},
               {kNonRaidCount, 28}, {kNonRaidList, 31}, {kPassThrough, 151}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    Vroc vroc;
    Bytes request = vrocRequest(c.size, c.code);
    if (c.size >= 32) {
      put32(request, 28, 1);
    }
    const IoReply reply = vroc.send(request);
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), 3u);
  }
}

TEST(SimVrocLists, FaultsCountOverEveryListRequest) {
  Vroc vroc(true, {test::fault(FaultRequest::VrocList).nth(2).returnCode(1),
                   test::fault(FaultRequest::VrocList).nth(3).error(31)});
  EXPECT_EQ(get32(vroc.send(vrocRequest(32, kVolumeCount)).reply, 28), 1u);
  const IoReply second = vroc.send(volumeInfo());
  EXPECT_EQ(get32(second.reply, 20), 1u);
  EXPECT_EQ(get32(second.reply, 128), 0u);
  const IoReply third = vroc.send(memberList(2));
  EXPECT_FALSE(third.delivered);
  EXPECT_EQ(third.error, 31u);
  EXPECT_EQ(get32(vroc.send(vrocRequest(32, kNonRaidCount)).reply, 28), 2u);
  EXPECT_EQ(vroc.rig->model().faults.countOf(FaultRequest::VrocList), 4u);
}

TEST(SimVrocPorts, OnlyTheVrocPortOfAVrocControllerAnswers) {
  Vroc vroc;
  Vroc irst(true, {}, {}, IntelDriver::Irst);
  std::unique_ptr<Endpoint> refusing[] = {
      makeScsiPortEndpoint(&vroc.rig->model(), 0), makeScsiPortEndpoint(&vroc.rig->model(), 1),
      makeScsiPortEndpoint(&irst.rig->model(), kPort), makeScsiPortEndpoint(nullptr, kPort)};
  for (const auto& endpoint : refusing) {
    const IoReply reply = test::send(*endpoint, vrocRequest(32, kVolumeCount));
    EXPECT_FALSE(reply.delivered);
    EXPECT_EQ(reply.error, test::kErrInvalidFunction);
  }
}

TEST(SimVrocPorts, AMalformedRequestIsNotDelivered) {
  const test::Edit edits[] = {{"HeaderLength", 0, 0},
                              {"signature", 4, 0x656D764F},
                              {"control code", 16, 0xE0002010},
                              {"Length", 24, 5}};
  for (const test::Edit& e : edits) {
    SCOPED_TRACE(e.name);
    Vroc vroc;
    const IoReply reply = vroc.send(test::edited(vrocRequest(32, kVolumeCount), e));
    EXPECT_FALSE(reply.delivered);
    EXPECT_EQ(reply.error, test::kErrInvalidParameter);
    EXPECT_EQ(vroc.rig->model().faults.countOf(FaultRequest::VrocList), 0u);
  }
}

TEST(SimVrocLists, CarryTheDiskIdsAndTextsTheFileGives) {
  Vroc vroc;
  IntelControllerConfig& config = vroc.rig->config();
  const std::string listSerial = std::string("LS-B\0\0", 6) + std::string(14, 'x');
  config.raidVolumes[0].members[1].listing = {0x80000001u, listSerial, std::nullopt};
  config.passThrough[0].listing.diskId = 2;
  vroc.endpoint = makeScsiPortEndpoint(&vroc.rig->model(), kPort);
  const IoReply members = vroc.send(memberList(2));
  ASSERT_TRUE(members.delivered);
  expectEntry(members.reply, 36, 1, vroc.drive(0), 0);
  EXPECT_EQ(get32(members.reply, 144), 0x80000001u);
  EXPECT_EQ(test::text(members.reply, 144 + 4, 40), vroc.drive(1).config().model);
  EXPECT_EQ(test::text(members.reply, 144 + 52, 20), listSerial);
  const IoReply nonRaid = vroc.send(nonRaidList(2));
  expectEntry(nonRaid.reply, 32, 2, vroc.drive(2), 2);
  expectEntry(nonRaid.reply, 140, 4, vroc.drive(3), 7);
  // The pass-through follows the ids: 2 is now the first non-RAID drive, 3
  // is nobody's.
  EXPECT_EQ(get32(vroc.send(identifyPassThrough(0x80000001u)).reply, 20), 0u);
  EXPECT_EQ(get32(vroc.send(identifyPassThrough(2)).reply, 20), 0u);
  EXPECT_EQ(get32(vroc.send(identifyPassThrough(3)).reply, 20), 14u);
  EXPECT_EQ(vroc.drive(1).requestCount(FaultRequest::Identify), 1u);
  EXPECT_EQ(vroc.drive(2).requestCount(FaultRequest::Identify), 1u);
  EXPECT_EQ(vroc.drive(3).requestCount(FaultRequest::Identify), 0u);
}

TEST(SimVrocPassThrough, IdentifiesTheDriveNamedInReturnCode) {
  Vroc vroc;
  const IoReply reply = vroc.send(identifyPassThrough(3));
  ASSERT_TRUE(reply.delivered);
  ASSERT_EQ(reply.reply.size(), 4252u);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_EQ(get32(reply.reply, 128), 0u);
  const auto identify = vroc.drive(2).identifyController();
  EXPECT_TRUE(std::equal(identify.begin(), identify.end(), reply.reply.begin() + 152));
  EXPECT_EQ(vroc.drive(2).requestCount(FaultRequest::Identify), 1u);
}

TEST(SimVrocPassThrough, ARefusedIdentifyReturnsNoData) {
  const struct {
    test::Edit edit;
    std::uint32_t returnCode;
    std::uint32_t completion;
  } cases[] = {{{"disk id 0", 20, 0}, 14, 0},
               {{"disk id 5", 20, 5}, 14, 0},
               {{"direction", 132, 1}, 11, 0},
               {{"metadata", 144, 8}, 12, 0},
               {{"queue", 136, 1}, 6, 0},
               {{"namespace identify", 92, 0}, 0, 0x002u << 17},
               {{"get features", 52, 0x0A, 1}, 0, 0x001u << 17},
               {{"data length", 140, 4096}, 3, 0},
               {{"return buffer length", 148, 4248}, 3, 0},
               {{"get log page with Identify's lengths", 52, 0x02, 1}, 3, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit.name);
    Vroc vroc;
    const IoReply reply = vroc.send(test::edited(identifyPassThrough(3), c.edit));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), c.returnCode);
    EXPECT_EQ(get32(reply.reply, 128), c.completion);
    EXPECT_EQ(reply.reply[152 + 64], 0x55);
  }
}

TEST(SimVrocUpdate, AShortLastPieceCompletesTheImageAndTheCommitWaitsForAReset) {
  Vroc vroc;
  EXPECT_EQ(download(vroc, 4096),
            (std::vector<std::pair<std::uint32_t, std::uint32_t>>(3, {0, 0})));
  EXPECT_TRUE(vroc.drive(1).stagedImageMatchesPackage());
  EXPECT_EQ(vroc.drive(1).downloadedBytes(), 10244u);
  const IoReply reply = vroc.send(commitPassThrough(2));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_EQ(get32(reply.reply, 128), 0u);
  EXPECT_EQ(vroc.drive(1).pendingSlot(), 2u);
  EXPECT_EQ(vroc.drive(1).runningFirmware(), "KTW3LMZB");
  EXPECT_EQ(vroc.drive(1).firmwareAfterReset(), "KTW8LMZB");
}

TEST(SimVrocCommit, CompletesWithTheNvmeStatus) {
  const struct {
    const char* name;
    std::uint32_t cdw10;
    bool download;
    std::uint32_t status;
  } cases[] = {{"slot 2 action 1", 0x0A, true, 0},
               {"read-only slot 1", 0x09, true, 0x106},
               {"slot 3", 0x0B, true, 0x106},
               {"slot 0", 0x08, true, 0x106},
               {"no image", 0x0A, false, 0x107},
               {"action 4", 0x22, true, 0x002},
               {"activate slot 1 as it is", 0x11, false, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Vroc vroc;
    if (c.download) {
      download(vroc, 4096);
    }
    const IoReply reply = vroc.send(commitPassThrough(2, c.cdw10));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), 0u);
    EXPECT_EQ(get32(reply.reply, 128), c.status << 17);
  }
}

TEST(SimVrocCommit, APowerCycleDriveStillSucceeds) {
  DriveConfig config = test::testDrive("p", 10244);
  config.activation = Activation::PowerCycle;
  IntelRig single(IntelDriver::Vroc, {{{config, 1}}}, {}, test::testImage(10244));
  single.config().vrocPort = kPort;
  auto endpoint = makeScsiPortEndpoint(&single.model(), kPort);
  download(*endpoint, 1, single.image(), 8192);
  EXPECT_EQ(get32(test::send(*endpoint, commitPassThrough(1)).reply, 128), 0u);
  EXPECT_EQ(single.drive(0).firmwareAfterReset(), "KTW8LMZB");
}

TEST(SimVrocDownload, APieceBeyondTheImageIsAnInvalidField) {
  Vroc vroc;
  const IoReply reply = vroc.send153(downloadPassThrough(2, 8192, Bytes(4096, 1)));
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_EQ(get32(reply.reply, 128), 0x00040000u);
  EXPECT_EQ(vroc.drive(1).downloadedBytes(), 0u);
}

TEST(SimVrocDownload, DataThatTheRecordDoesNotCarryIsAnInsufficientBuffer) {
  // The request is 4256 bytes: data from 152 to its end has room for 4104.
  const struct {
    const char* name;
    std::uint32_t cdw10;
    std::uint32_t dataLength;
  } cases[] = {{"data length short of NUMD", 1023, 4092},
               {"data length past NUMD", 1023, 4100},
               {"NUMD past the buffer", 1026, 4108},
               {"NUMD of 2^32 dwords", 0xFFFFFFFF, 0xFFFFFFFF}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Vroc vroc;
    Bytes request = downloadPassThrough(2, 0, std::span(vroc.rig->image()).first(4096));
    put32(request, 92, c.cdw10);
    put32(request, 140, c.dataLength);
    const IoReply reply = vroc.send153(request);
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), 3u);
    EXPECT_EQ(vroc.drive(1).downloadedBytes(), 0u);
  }
}

TEST(SimVrocDownload, TheLengthsAreThoseOfThePiece) {
  const struct {
    test::Edit edit;
    std::uint32_t returnCode;
  } cases[] = {{{"as sent", 148, 153}, 0},
               {{"data length beyond NUMD", 140, 4100}, 3},
               {{"return buffer length of the whole request", 148, 4256}, 3},
               {{"return buffer length 152", 148, 152}, 3},
               {{"direction from the drive", 132, 2}, 11},
               {{"no direction", 132, 0}, 11}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit.name);
    Vroc vroc;
    const Bytes request = downloadPassThrough(2, 0, std::span(vroc.rig->image()).first(4096));
    const IoReply reply = vroc.send153(test::edited(request, c.edit));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), c.returnCode);
    EXPECT_EQ(vroc.drive(1).downloadedBytes(), c.returnCode == 0 ? 4096u : 0u);
    EXPECT_EQ(vroc.drive(1).requestCount(FaultRequest::Download), c.returnCode == 0 ? 1u : 0u);
  }
}

TEST(SimVrocCommit, TravelsToTheDriveWithNoDataAndTheDirectionThePackageGives) {
  const struct {
    test::Edit edit;
    std::uint32_t returnCode;
  } cases[] = {{{"as sent", 132, 1}, 0},       {{"direction from the drive", 132, 2}, 11},
               {{"no direction", 132, 0}, 11}, {{"bidirectional", 132, 3}, 11},
               {{"data length", 140, 4}, 3},   {{"return buffer length", 148, 152}, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit.name);
    Vroc vroc;
    download(vroc, 4096);
    const IoReply reply = vroc.send(test::edited(commitPassThrough(2), c.edit));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), c.returnCode);
    EXPECT_EQ(vroc.drive(1).pendingSlot().has_value(), c.returnCode == 0);
  }
}

// The Firmware Slot Information log as the package asks for it: Get Log
// Page, NSID FFFFFFFFh, LID 03h, NUMDL 127, 512 bytes from the drive, 664
// bytes in and out.
Bytes slotLogPassThrough(std::uint32_t diskId) {
  Bytes b = vrocRequest(664, kPassThrough, diskId);
  b[52] = 0x02;
  put32(b, 56, 0xFFFFFFFF);
  put32(b, 92, 0x007F0003);
  put32(b, 132, 2);
  put32(b, 140, 512);
  put32(b, 148, 664);
  return b;
}

TEST(SimVrocSlotLog, ReportsTheActiveSlotAndTheRevisions) {
  Vroc vroc;
  const IoReply reply = vroc.send(slotLogPassThrough(3));
  ASSERT_TRUE(reply.delivered);
  const Bytes& r = reply.reply;
  ASSERT_EQ(r.size(), 664u);
  EXPECT_EQ(get32(r, 20), 0u);
  EXPECT_EQ(get32(r, 128), 0u);
  EXPECT_EQ(r[152], 0x01);  // AFI: slot 1 active, nothing at the next reset
  EXPECT_TRUE(test::allZero(r, 153, 160));
  EXPECT_EQ(test::text(r, 160, 8), "KTW3LMZB");
  EXPECT_EQ(test::text(r, 168, 8), "KTW3LMZB");
  EXPECT_TRUE(test::allZero(r, 176));  // FRS3 to FRS7 and the rest
  EXPECT_EQ(vroc.drive(2).requestCount(FaultRequest::GetInfo), 1u);
  EXPECT_EQ(vroc.drive(2).requestCount(FaultRequest::Identify), 0u);
}

TEST(SimVrocSlotLog, ReportsWhatAnEarlierRunLeft) {
  DriveConfig left = test::testDrive("left");
  left.slots = 7;
  left.activeSlot = 2;
  left.slotFirmware = {"KTW1LMZB", "KTW3LMZB", "KTW8LMZB", "KTW4LMZB",
                       "KTW5LMZB", "KTW6LMZB", "KTW7LMZB"};
  left.pendingSlot = 3;
  IntelRig rig(IntelDriver::Vroc, {}, {{left, 1}});
  rig.config().vrocPort = kPort;
  auto endpoint = makeScsiPortEndpoint(&rig.model(), kPort);
  const IoReply reply = test::send(*endpoint, slotLogPassThrough(1));
  ASSERT_TRUE(reply.delivered);
  const Bytes& r = reply.reply;
  EXPECT_EQ(r[152], 0x32);  // AFI: slot 2 active, slot 3 at the next reset
  for (std::size_t n = 0; n < 7; ++n) {
    EXPECT_EQ(test::text(r, 160 + 8 * n, 8), left.slotFirmware[n]) << n;
  }
  EXPECT_TRUE(test::allZero(r, 216));
}

TEST(SimVrocSlotLog, RefusesWhatThePackageDoesNotSend) {
  const struct {
    test::Edit edit;
    std::uint32_t returnCode;
    std::uint32_t status;  // NVMe status in CplEntry[3] when delivered to the drive
  } cases[] = {{{"as sent", 132, 2}, 0, 0},
               {{"NSID 0", 56, 0}, 0, 0},
               {{"NSID 1", 56, 1}, 0, 0x00B},
               {{"SMART log", 92, 0x007F0002}, 0, 0x109},
               {{"NUMDL 63", 92, 0x003F0003}, 3, 0},
               {{"NUMDU", 96, 1}, 3, 0},
               {{"data length 256", 140, 256}, 3, 0},
               {{"return buffer length 4252", 148, 4252}, 3, 0},
               {{"direction to the drive", 132, 1}, 11, 0},
               {{"request short of the log", 0, 600, 0}, 87, 0},
               {{"disk id 5", 20, 5}, 14, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit.name);
    Vroc vroc;
    const Bytes request = test::edited(slotLogPassThrough(3), c.edit);
    const IoReply reply = vroc.send(request);
    if (c.returnCode == 87) {
      // Cut, the request's Length runs past its buffers.
      EXPECT_FALSE(reply.delivered);
      continue;
    }
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), c.returnCode);
    EXPECT_EQ(get32(reply.reply, 128), c.status << 17);
    EXPECT_EQ(reply.reply[152], c.returnCode == 0 && c.status == 0 ? 1 : 0);
    EXPECT_EQ(vroc.drive(2).requestCount(FaultRequest::GetInfo), c.returnCode == 0 ? 1u : 0u);
  }
}

TEST(SimVrocSlotLog, AShortRequestIsAnInsufficientBuffer) {
  Vroc vroc;
  Bytes request = slotLogPassThrough(3);
  request.resize(600);
  put32(request, 24, 572);
  const IoReply reply = vroc.endpoint->request(test::kScsiMiniport, request, 600);
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 3u);
  EXPECT_EQ(vroc.drive(2).requestCount(FaultRequest::GetInfo), 0u);
}

TEST(SimVrocSlotLog, FaultsActBeforeOrAfterTheDrive) {
  const struct {
    const char* name;
    Fault fault;
    bool delivered;
    std::uint32_t returnCode;
    std::uint32_t completion;
    bool filled;
  } cases[] = {
      {"error", test::fault(FaultRequest::GetInfo).error(1117), false, 0, 0, false},
      {"returnCode", test::fault(FaultRequest::GetInfo).returnCode(14), true, 14, 0, false},
      {"nvmeStatus", test::fault(FaultRequest::GetInfo).nvmeStatus(0x109), true, 0, 0x109u << 17,
       false},
      {"completion", test::fault(FaultRequest::GetInfo).completion(0x00010000), true, 0, 0x00010000,
       true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Vroc vroc(true, {}, {c.fault});
    const IoReply reply = vroc.send(slotLogPassThrough(2));
    ASSERT_EQ(reply.delivered, c.delivered);
    EXPECT_EQ(vroc.drive(1).requestCount(FaultRequest::GetInfo), 1u);
    if (!c.delivered) {
      EXPECT_EQ(reply.error, 1117u);
      continue;
    }
    EXPECT_EQ(get32(reply.reply, 20), c.returnCode);
    EXPECT_EQ(get32(reply.reply, 128), c.completion);
    EXPECT_EQ(reply.reply[152], c.filled ? 1 : 0);
  }
}

TEST(SimVrocFaults, ACommitFaultActsBeforeOrAfterTheDrive) {
  // An NVMe status stops the commit before the drive; a completion replaces
  // dword 3 after the drive has acted.
  const struct {
    Fault fault;
    std::uint32_t completion;
    bool pending;
  } cases[] = {{test::fault(FaultRequest::Activate).nvmeStatus(0x106), 0x020C0000u, false},
               {test::fault(FaultRequest::Activate).completion(0x00010000), 0x00010000u, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.completion);
    Vroc vroc(true, {}, {c.fault});
    download(vroc, 4096);
    const IoReply reply = vroc.send(commitPassThrough(2));
    EXPECT_EQ(get32(reply.reply, 20), 0u);
    EXPECT_EQ(get32(reply.reply, 128), c.completion);
    EXPECT_EQ(vroc.drive(1).pendingSlot(),
              c.pending ? std::optional<std::uint32_t>(2u) : std::nullopt);
  }
}

TEST(SimVrocFaults, ReturnCodeAndErrorStopTheDownload) {
  Vroc vroc(true, {},
            {test::fault(FaultRequest::Download).nth(1).returnCode(13),
             test::fault(FaultRequest::Download).nth(2).error(1117)});
  const Bytes request = downloadPassThrough(2, 0, std::span(vroc.rig->image()).first(4096));
  EXPECT_EQ(get32(vroc.send153(request).reply, 20), 13u);
  const IoReply second = vroc.send153(request);
  EXPECT_FALSE(second.delivered);
  EXPECT_EQ(second.error, 1117u);
  EXPECT_EQ(vroc.drive(1).downloadedBytes(), 0u);
  EXPECT_EQ(vroc.drive(1).requestCount(FaultRequest::Download), 2u);
}

}  // namespace
}  // namespace zevsim
