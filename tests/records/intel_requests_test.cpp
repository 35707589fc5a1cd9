// The CSMI RAID configuration and "IntelNvm" pass-through records against
// bytes written out by hand from the published layouts.
#include "records/intel_requests.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <vector>

namespace zev::intel {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Every byte of request outside the listed (offset, bytes) runs must be zero,
// and every listed run must match.
struct Run {
  std::size_t offset;
  Bytes bytes;
};

void expectBytes(const Bytes& request, std::size_t size, const std::vector<Run>& runs) {
  ASSERT_EQ(request.size(), size);
  Bytes expected(size, 0);
  for (const Run& run : runs) {
    ASSERT_LE(run.offset + run.bytes.size(), size);
    std::copy(run.bytes.begin(), run.bytes.end(), expected.begin() + run.offset);
  }
  for (std::size_t i = 0; i < size; ++i) {
    ASSERT_EQ(request[i], expected[i]) << "byte " << i;
  }
}

struct CsmiCase {
  std::size_t memberRoom;
  std::uint32_t raidSetIndex;
  std::size_t size;
  Bytes length;    // Length, little-endian
  Bytes setIndex;  // uRaidSetIndex, little-endian
};

class CsmiRaidConfigRequest : public testing::TestWithParam<CsmiCase> {};

TEST_P(CsmiRaidConfigRequest, MatchesTheHandWrittenBytes) {
  const CsmiCase& c = GetParam();
  Bytes request(csmiRaidConfigRequestSize(c.memberRoom), 0);
  writeCsmiRaidConfigRequest(request, c.raidSetIndex);
  expectBytes(request, c.size,
              {
                  {0, {0x1C, 0, 0, 0}},                         // HeaderLength 28
                  {4, {'C', 'S', 'M', 'I', 'A', 'R', 'Y', 0}},  // Signature
                  {12, {0x1E, 0, 0, 0}},                        // Timeout 30
                  {16, {0x0B, 0, 0, 0}},                        // GET_RAID_CONFIG
                  {24, c.length},                               // Length
                  {28, c.setIndex},                             // uRaidSetIndex
              });
}

INSTANTIATE_TEST_SUITE_P(
    RoomAndSet, CsmiRaidConfigRequest,
    testing::Values(CsmiCase{2, 0, 336, {0x34, 0x01, 0, 0}, {0, 0, 0, 0}},
                    CsmiCase{2, 1, 336, {0x34, 0x01, 0, 0}, {1, 0, 0, 0}},
                    CsmiCase{3, 0, 472, {0xBC, 0x01, 0, 0}, {0, 0, 0, 0}},
                    CsmiCase{5, 0x01020304, 744, {0xCC, 0x02, 0, 0}, {4, 3, 2, 1}},
                    CsmiCase{255, 7, 34744, {0x9C, 0x87, 0, 0}, {7, 0, 0, 0}}));

// A reply with room for room entries; member i's SAS address holds the
// bytes 0x50 + i*8 ... so that byte 2 is told apart from its neighbours.
Bytes csmiReply(std::size_t room, std::uint8_t driveCount, std::uint32_t returnCode = 0) {
  Bytes reply(64 + 136 * room, 0);
  reply[20] = static_cast<std::uint8_t>(returnCode);
  reply[21] = static_cast<std::uint8_t>(returnCode >> 8);
  reply[43] = driveCount;
  for (std::size_t i = 0; i < room; ++i) {
    for (std::size_t b = 0; b < 8; ++b) {
      reply[64 + 136 * i + 88 + b] = static_cast<std::uint8_t>(0x50 + i * 8 + b);
    }
  }
  return reply;
}

TEST(CsmiRaidConfigReplyReader, ReadsByteTwoOfEachMembersSasAddress) {
  const Bytes bytes = csmiReply(2, 2);
  const CsmiRaidConfigReply reply(bytes);
  EXPECT_EQ(reply.returnCode(), 0u);
  EXPECT_EQ(reply.driveCount(), 2);
  ASSERT_EQ(reply.entryRoom(), 2u);
  EXPECT_EQ(reply.memberPort(0), 0x52);  // buffer offset 154
  EXPECT_EQ(reply.memberPort(1), 0x5A);  // buffer offset 290
  EXPECT_EQ(bytes[154], 0x52);
  EXPECT_EQ(bytes[290], 0x5A);
}

TEST(CsmiRaidConfigReplyReader, ReportsTheDriveCountBeyondItsRoomButNoEntryBeyondIt) {
  const Bytes bytes = csmiReply(2, 5);
  const CsmiRaidConfigReply reply(bytes);
  EXPECT_EQ(reply.driveCount(), 5);
  EXPECT_EQ(reply.entryRoom(), 2u);
  EXPECT_FALSE(reply.memberPort(2).has_value());
  EXPECT_FALSE(reply.memberPort(255).has_value());
}

TEST(CsmiRaidConfigReplyReader, AnEntryCutShortIsNotRead) {
  Bytes bytes = csmiReply(2, 2);
  bytes.resize(64 + 136 + 91);  // entry 1 reaches its port byte but not its end
  const CsmiRaidConfigReply reply(bytes);
  EXPECT_EQ(reply.entryRoom(), 1u);
  EXPECT_EQ(reply.memberPort(0), 0x52);
  EXPECT_FALSE(reply.memberPort(1).has_value());
}

TEST(CsmiRaidConfigReplyReader, AReplyShorterThanItsFixedPartHasNoMembers) {
  const Bytes bytes(43, 0xEE);
  const CsmiRaidConfigReply reply(bytes);
  EXPECT_EQ(reply.driveCount(), 0);
  EXPECT_EQ(reply.entryRoom(), 0u);
  EXPECT_FALSE(reply.memberPort(0).has_value());
}

struct PathIdCase {
  std::int64_t pathId;
  std::uint8_t byte;
};

class IntelPathIdByte : public testing::TestWithParam<PathIdCase> {};

TEST_P(IntelPathIdByte, CarriesTheLowEightBits) {
  EXPECT_EQ(pathIdByte(GetParam().pathId), GetParam().byte);
}

INSTANTIATE_TEST_SUITE_P(
    Values, IntelPathIdByte,
    testing::Values(PathIdCase{-1, 0xFF}, PathIdCase{0, 0x00}, PathIdCase{3, 0x03},
                    PathIdCase{255, 0xFF}, PathIdCase{256, 0x00}, PathIdCase{257, 0x01},
                    PathIdCase{0x1234, 0x34}, PathIdCase{-2, 0xFE},
                    PathIdCase{std::numeric_limits<std::int64_t>::min(), 0x00}));

TEST(IntelNvmRequest, MatchesTheHandWrittenBytes) {
  Bytes request(kIntelNvmRequestSize, 0);
  writeIntelNvmIdentifyRequest(request, 0xFF);
  expectBytes(request, 4260,
              {
                  {0, {0x1C, 0, 0, 0}},                           // HeaderLength 28
                  {4, {'I', 'n', 't', 'e', 'l', 'N', 'v', 'm'}},  // Signature
                  {12, {0x0A, 0, 0, 0}},                          // Timeout 10
                  {16, {0x08, 0x28, 0x00, 0xF0}},                 // 0xF0002808
                  {24, {0x88, 0x10, 0, 0}},                       // Length 4232
                  {28, {0x01, 0xFF, 0x00, 0x00}},                 // version, path id
                  {32, {0x06, 0, 0, 0}},                          // CDW0: Identify
                  {72, {0x01, 0, 0, 0}},                          // CDW10: CNS 1
                  {116, {0xA4, 0, 0, 0}},                         // data offset 164
                  {120, {0x00, 0x10, 0, 0}},                      // data length 4096
              });
}

TEST(IntelNvmReply, IdentifyDataStartsAtByte164) {
  Bytes reply(4260, 0);
  reply[164] = 0xA1;
  reply[4259] = 0xB2;
  const auto data = intelNvmIdentifyData(reply);
  ASSERT_EQ(data.size(), 4096u);
  EXPECT_EQ(data.front(), 0xA1);
  EXPECT_EQ(data.back(), 0xB2);
}

TEST(IntelNvmReply, AShortReplyHasNoIdentifyData) {
  const Bytes reply(4259, 0);
  EXPECT_TRUE(intelNvmIdentifyData(reply).empty());
}

}  // namespace
}  // namespace zev::intel
