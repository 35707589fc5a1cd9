// The "NvmeRAID" request records against golden bytes written out by hand
// from the record layouts, and the readers of the driver's replies.
#include "records/vroc_records.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

namespace zev::vroc {
namespace {

using Bytes = std::vector<std::uint8_t>;

// An expected request: size zero bytes, then the given bytes at each offset.
struct Patch {
  std::size_t offset;
  std::vector<std::uint8_t> bytes;
};
Bytes golden(std::size_t size, std::initializer_list<Patch> patches) {
  Bytes out(size, 0);
  for (const Patch& p : patches) {
    for (std::size_t i = 0; i < p.bytes.size(); ++i) {
      out.at(p.offset + i) = p.bytes[i];
    }
  }
  return out;
}

// HeaderLength 28 and the signature "NvmeRAID", common to every request.
const Patch kHeaderStart{0, {0x1C, 0, 0, 0, 'N', 'v', 'm', 'e', 'R', 'A', 'I', 'D'}};
const Patch kScanTimeout40{12, {0x28, 0, 0, 0}};
const Patch kUpdateTimeout30{12, {0x1E, 0, 0, 0}};

void expectSameBytes(const Bytes& actual, const Bytes& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(actual[i], expected[i]) << "byte " << i;
  }
}

struct CountCase {
  const char* name;
  std::uint32_t controlCode;
  std::vector<std::uint8_t> codeBytes;
};

TEST(VrocRecords, CountRequestsMatchGoldenBytes) {
  const CountCase cases[] = {
      {"RAID volume count", kRaidVolumeCountCode, {0x14, 0x20, 0x00, 0xE0}},
      {"non-RAID drive count", kNonRaidCountCode, {0x28, 0x20, 0x00, 0xE0}},
  };
  for (const CountCase& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes request(kCountRequestSize, 0);
    buildCountRequest(request, c.controlCode);
    expectSameBytes(
        request,
        golden(32, {kHeaderStart, kScanTimeout40, {16, c.codeBytes}, {24, {0x04, 0, 0, 0}}}));
  }
}

TEST(VrocRecords, VolumeInformationRequestMatchesGoldenBytes) {
  Bytes request(kVolumeInfoRequestSize, 0);
  buildVolumeInfoRequest(request);
  expectSameBytes(request, golden(132, {kHeaderStart,
                                        kScanTimeout40,
                                        {16, {0x18, 0x20, 0x00, 0xE0}},
                                        {24, {0x68, 0, 0, 0}},
                                        {28, {0x01, 0, 0, 0}}}));
}

TEST(VrocRecords, MemberListRequestMatchesGoldenBytes) {
  const auto size = memberListRequestSize(2);
  ASSERT_TRUE(size.has_value());
  ASSERT_EQ(*size, 256u);  // 2 x 108 + 40
  Bytes request(*size, 0);
  buildMemberListRequest(request, 2);
  expectSameBytes(request, golden(256, {kHeaderStart,
                                        kScanTimeout40,
                                        {16, {0x1C, 0x20, 0x00, 0xE0}},
                                        {24, {0xE4, 0, 0, 0}},  // 228
                                        {28, {0x01, 0, 0, 0}},
                                        {32, {0xD8, 0, 0, 0}}}));  // 216
}

TEST(VrocRecords, NonRaidListRequestMatchesGoldenBytes) {
  const auto size = nonRaidListRequestSize(3);
  ASSERT_TRUE(size.has_value());
  ASSERT_EQ(*size, 360u);  // 3 x 108 + 36
  Bytes request(*size, 0);
  buildNonRaidListRequest(request, 3);
  expectSameBytes(request, golden(360, {kHeaderStart,
                                        kScanTimeout40,
                                        {16, {0x2C, 0x20, 0x00, 0xE0}},
                                        {24, {0x4C, 0x01, 0, 0}},     // 332
                                        {28, {0x44, 0x01, 0, 0}}}));  // 324
}

struct ListSizeCase {
  std::uint32_t count;
  std::optional<std::size_t> members;
  std::optional<std::size_t> nonRaid;
};

TEST(VrocRecords, ListSizesAreComputedWithoutOverflowAndBoundedByTheLengthField) {
  // 39768215 is the largest count whose Length (count x 108 + 12 or + 8)
  // fits 32 bits; the next one would wrap to a 72-byte member list in 32-bit
  // arithmetic.
  const ListSizeCase cases[] = {
      {0, 40, 36},
      {1, 148, 144},
      {39768215, 4294967260u, 4294967256u},
      {39768216, std::nullopt, std::nullopt},
      {0x7FFFFFFF, std::nullopt, std::nullopt},
      {0xFFFFFFFF, std::nullopt, std::nullopt},
  };
  for (const ListSizeCase& c : cases) {
    SCOPED_TRACE(c.count);
    EXPECT_EQ(memberListRequestSize(c.count), c.members);
    EXPECT_EQ(nonRaidListRequestSize(c.count), c.nonRaid);
  }
}

TEST(VrocRecords, IdentifyPassThroughMatchesGoldenBytes) {
  Bytes request(kIdentifyRequestSize, 0);
  buildIdentifyRequest(request, 0x01020304);
  Bytes expected = golden(4252, {kHeaderStart,
                                 kScanTimeout40,
                                 {16, {0x00, 0x20, 0x00, 0xE0}},
                                 {20, {0x04, 0x03, 0x02, 0x01}},  // disk id in ReturnCode
                                 {24, {0x80, 0x10, 0, 0}},        // 4224
                                 {52, {0x06}},                    // Identify
                                 {92, {0x01}},                    // CNS 1
                                 {132, {0x02}},                   // drive to host
                                 {148, {0x9C, 0x10, 0, 0}}});     // 4252
  for (std::size_t i = 152; i < 152 + 4096; ++i) {
    expected[i] = 0x55;
  }
  expectSameBytes(request, expected);
  const auto data = identifyData(request);
  EXPECT_EQ(data.data(), request.data() + 152);
  EXPECT_EQ(data.size(), 4096u);
}

Bytes patternPiece(std::size_t size) {
  Bytes piece(size);
  for (std::size_t i = 0; i < size; ++i) {
    piece[i] = static_cast<std::uint8_t>(i * 7 + 3);
  }
  return piece;
}

struct DownloadCase {
  const char* name;
  std::size_t pieceSize;
  std::uint32_t offset;
  std::vector<std::uint8_t> length;  // header Length: piece + 132
  std::vector<std::uint8_t> dword10;
  std::vector<std::uint8_t> dword11;
  std::vector<std::uint8_t> dataLength;
};

TEST(VrocRecords, FirmwareDownloadMatchesGoldenBytes) {
  const DownloadCase cases[] = {
      {"whole 4 KiB piece",
       4096,
       0x3000,
       {0x84, 0x10, 0, 0},
       {0xFF, 0x03, 0, 0},
       {0x00, 0x0C, 0, 0},
       {0x00, 0x10, 0, 0}},
      {"32 KiB piece",
       32768,
       0x8000,
       {0x84, 0x80, 0, 0},
       {0xFF, 0x1F, 0, 0},
       {0x00, 0x20, 0, 0},
       {0x00, 0x80, 0, 0}},
      {"short last piece",
       2048,
       0x1FF800,
       {0x84, 0x08, 0, 0},
       {0xFF, 0x01, 0, 0},
       {0x00, 0xFE, 0x07, 0},
       {0x00, 0x08, 0, 0}},
  };
  for (const DownloadCase& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes piece = patternPiece(c.pieceSize);
    Bytes request(c.pieceSize + 160, 0);
    buildDownloadRequest(request, 7, c.offset, piece);
    Bytes expected = golden(c.pieceSize + 160, {kHeaderStart,
                                                kUpdateTimeout30,
                                                {16, {0x00, 0x20, 0x00, 0xE0}},
                                                {20, {0x07, 0, 0, 0}},
                                                {24, c.length},
                                                {52, {0x11}},
                                                {92, c.dword10},
                                                {96, c.dword11},
                                                {132, {0x01}},
                                                {140, c.dataLength},
                                                {148, {0x99, 0, 0, 0}}});  // 153
    std::copy(piece.begin(), piece.end(), expected.begin() + 152);
    expectSameBytes(request, expected);
  }
}

TEST(VrocRecords, FirmwareCommitMatchesGoldenBytes) {
  Bytes request(kCommitRequestSize, 0);
  buildCommitRequest(request, 0xA1B2C3D4);
  expectSameBytes(request, golden(153, {kHeaderStart,
                                        kUpdateTimeout30,
                                        {16, {0x00, 0x20, 0x00, 0xE0}},
                                        {20, {0xD4, 0xC3, 0xB2, 0xA1}},
                                        {24, {0x7D, 0, 0, 0}},  // 125
                                        {52, {0x10}},
                                        {92, {0x0A, 0, 0, 0}},  // slot 2, action 1
                                        {132, {0x01}},
                                        {148, {0x99, 0, 0, 0}}}));
}

// One list entry written byte by byte.
Bytes entryBytes(std::uint32_t diskId, const std::string& model, const Bytes& serial,
                 std::uint32_t pathId) {
  Bytes entry(108, 0);
  for (int i = 0; i < 4; ++i) {
    entry[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(diskId >> (8 * i));
    entry[static_cast<std::size_t>(100 + i)] = static_cast<std::uint8_t>(pathId >> (8 * i));
  }
  std::copy(model.begin(), model.end(), entry.begin() + 4);
  std::copy(serial.begin(), serial.end(), entry.begin() + 52);
  return entry;
}

TEST(VrocRecords, DiskEntryReaderTakesEachFieldFromItsOffset) {
  Bytes list(36, 0);
  const std::string model = "KELDORA TQ270c 1TB                      ";
  const Bytes serialA = {'K', 'D', '2', '7', 'A', ' ', ' ', ' ', 0, 'X'};
  const Bytes serialB = {'S', 'N', '2'};
  for (const Bytes& e :
       {entryBytes(1, model, serialA, 3), entryBytes(0x10000002, model, serialB, 0x80000001)}) {
    list.insert(list.end(), e.begin(), e.end());
  }
  list.resize(list.size() + 4, 0);

  const auto first = readDiskEntry(list, 36, 0);
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(first->diskId, 1u);
  EXPECT_EQ(first->modelNumber, std::wstring(model.begin(), model.end()));
  EXPECT_EQ(first->serialText, "KD27A   ");  // ends at the zero byte
  EXPECT_EQ(first->pathId, 3u);

  const auto second = readDiskEntry(list, 36, 1);
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->diskId, 0x10000002u);
  EXPECT_EQ(second->serialText, "SN2");
  EXPECT_EQ(second->pathId, 0x80000001u);
}

TEST(VrocRecords, ModelTextKeepsAllFortyBytesControlBytesAsQuestionMarks) {
  Bytes list(32, 0);
  const Bytes e = entryBytes(4, std::string("AB\0C\n\x1B\x9F\xA0", 8), {0x53, 0x0D, 0x0A}, 0);
  list.insert(list.end(), e.begin(), e.end());
  const auto entry = readDiskEntry(list, 32, 0);
  ASSERT_TRUE(entry.has_value());
  ASSERT_EQ(entry->modelNumber.size(), 40u);
  EXPECT_EQ(entry->modelNumber.substr(0, 8), std::wstring(L"AB?C???\u00A0"));
  EXPECT_EQ(entry->modelNumber[39], L'?');
  EXPECT_EQ(entry->serialText, "S??");
}

TEST(VrocRecords, SerialWithoutZeroByteStopsAtItsFortyEightBytes) {
  // Every serial byte set and a non-zero path id right after: the text must
  // not run into offset 100.
  Bytes list(36, 0);
  const Bytes e = entryBytes(1, "", Bytes(48, 'S'), 0x41414141);
  list.insert(list.end(), e.begin(), e.end());
  const auto entry = readDiskEntry(list, 36, 0);
  ASSERT_TRUE(entry.has_value());
  EXPECT_EQ(entry->serialText, std::string(48, 'S'));
}

TEST(VrocRecords, EntriesOutsideTheListAreNotRead) {
  Bytes list(36 + 108 + 50, 0);  // one whole entry, then part of a second
  EXPECT_TRUE(readDiskEntry(list, 36, 0).has_value());
  EXPECT_FALSE(readDiskEntry(list, 36, 1).has_value());
  EXPECT_FALSE(readDiskEntry(list, 36, 0xFFFFFFFFull).has_value());
  EXPECT_FALSE(readDiskEntry(list, 400, 0).has_value());
  EXPECT_FALSE(readDiskEntry(Bytes(36, 0), 36, 0).has_value());
}

TEST(VrocRecords, CountRepliesAreReadFromTheirOffsets) {
  Bytes count(32, 0);
  count[28] = 0xFE;
  count[29] = 0xFF;
  count[30] = 0xFF;
  count[31] = 0xFF;
  EXPECT_EQ(readRaidVolumeCount(count), 0xFFFFFFFEu);
  EXPECT_EQ(readNonRaidCount(count), -2);  // the non-RAID count is signed

  Bytes info(132, 0);
  info[128] = 0x02;
  info[131] = 0x01;
  EXPECT_EQ(readVolumeMemberCount(info), 0x01000002u);
}

struct CompletionCase {
  std::uint32_t dword3;
  bool failed;
  std::uint32_t shown;
};

TEST(VrocRecords, CompletionDwordThreeCarriesTheStatusAboveThePhaseTag) {
  const CompletionCase cases[] = {
      {0x00000000, false, 0x0},   {0x00010000, false, 0x0},   {0x0001FFFF, false, 0x0},
      {0x00020000, true, 0x1},    {0x00040000, true, 0x2},    {0x020C0000, true, 0x106},
      {0x80000000, true, 0x4000}, {0xFFFFFFFF, true, 0x7FFF},
  };
  for (const CompletionCase& c : cases) {
    SCOPED_TRACE(c.dword3);
    Bytes reply(153, 0);
    reply[128] = static_cast<std::uint8_t>(c.dword3);
    reply[129] = static_cast<std::uint8_t>(c.dword3 >> 8);
    reply[130] = static_cast<std::uint8_t>(c.dword3 >> 16);
    reply[131] = static_cast<std::uint8_t>(c.dword3 >> 24);
    const std::uint32_t read = readCompletionDword3(reply);
    EXPECT_EQ(read, c.dword3);
    EXPECT_EQ(completionFailed(read), c.failed);
    EXPECT_EQ(read >> kCompletionStatusShift, c.shown);
  }
}

TEST(VrocRecords, ScsiPortPathsNameThePortInDecimal) {
  EXPECT_EQ(scsiPortPath(0), L"\\\\.\\Scsi0:");
  EXPECT_EQ(scsiPortPath(2), L"\\\\.\\Scsi2:");
  EXPECT_EQ(scsiPortPath(15), L"\\\\.\\Scsi15:");
}

}  // namespace
}  // namespace zev::vroc
