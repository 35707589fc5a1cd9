// The storport miniport firmware records against golden bytes: the request
// block, the two download records (whose 8-byte fields lie unaligned in the
// inbox and Intel requests), the activate record and the slot-information
// reader with its bounds.
#include "records/firmware_records.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

namespace zev::fw {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes slice(const Bytes& bytes, std::size_t offset, std::size_t size) {
  return Bytes(bytes.begin() + static_cast<std::ptrdiff_t>(offset),
               bytes.begin() + static_cast<std::ptrdiff_t>(offset + size));
}

TEST(FirmwareRecords, RequestBlockAtTheInboxOffset) {
  Bytes request(100, 0xEE);
  writeRequestBlock(request, 28, kFunctionDownload, 52);
  const Bytes expected = {
      0x01, 0x00, 0x00, 0x00,  // Version
      0x18, 0x00, 0x00, 0x00,  // Size 24
      0x02, 0x00, 0x00, 0x00,  // Function DOWNLOAD
      0x01, 0x00, 0x00, 0x00,  // Flags CONTROLLER
      0x34, 0x00, 0x00, 0x00,  // DataBufferOffset 52
      0x30, 0x00, 0x00, 0x00,  // DataBufferLength 100 - 52
  };
  EXPECT_EQ(slice(request, 28, 24), expected);
  // Nothing outside the block is written.
  EXPECT_EQ(request[27], 0xEE);
  EXPECT_EQ(request[52], 0xEE);
}

TEST(FirmwareRecords, RequestBlockAtTheIntelOffset) {
  Bytes request(68, 0);
  writeRequestBlock(request, 32, kFunctionActivate, 56);
  EXPECT_EQ(slice(request, 32 + 8, 4), (Bytes{0x03, 0, 0, 0}));
  EXPECT_EQ(slice(request, 32 + 16, 8), (Bytes{0x38, 0, 0, 0, 0x0C, 0, 0, 0}));
}

TEST(FirmwareRecords, DownloadV1WritesUnalignedEightByteFields) {
  Bytes piece(8);
  std::iota(piece.begin(), piece.end(), std::uint8_t{0xA0});
  Bytes request(52 + 24 + piece.size(), 0);
  writeDownload(request, 52, 0x0102030405060708ull, piece);
  const Bytes expected = {
      0x01, 0x00, 0x00, 0x00,                          // Version 1
      0x18, 0x00, 0x00, 0x00,                          // Size 24
      0x08, 0x07, 0x06, 0x05, 0x04, 0x03, 0x02, 0x01,  // Offset at 60
      0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // BufferSize at 68
      0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7,  // ImageBuffer at 76
  };
  EXPECT_EQ(slice(request, 52, expected.size()), expected);
  // The vector's storage is aligned for any type, so Offset and BufferSize
  // lie 4 bytes past a multiple of 8; the package's reader gets them back.
  EXPECT_EQ(loadLe64(request, 52 + kDownloadOffsetOffset), 0x0102030405060708ull);
  EXPECT_EQ(loadLe64(request, 52 + kDownloadBufferSizeOffset), piece.size());
}

TEST(FirmwareRecords, DownloadV2AtTheIntelOffset) {
  const Bytes piece = {0x11, 0x22, 0x33, 0x44};
  Bytes request(56 + 32 + piece.size(), 0);
  writeDownloadV2(request, 56, 0x8000, piece);
  const Bytes expected = {
      0x02, 0x00, 0x00, 0x00,                          // Version 2
      0x20, 0x00, 0x00, 0x00,                          // Size 32
      0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // Offset at 64
      0x04, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // BufferSize at 72
      0xFF, 0x00, 0x00, 0x00,                          // Slot, Reserved
      0x00, 0x00, 0x00, 0x00,                          // ImageSize
      0x11, 0x22, 0x33, 0x44,                          // image at 88
  };
  EXPECT_EQ(slice(request, 56, expected.size()), expected);
}

TEST(FirmwareRecords, ActivateRecord) {
  Bytes request(52 + 12 + 4, 0);
  writeActivate(request, 52, 2);
  const Bytes expected = {0x01, 0, 0, 0, 0x0C, 0, 0, 0, 0x02, 0, 0, 0};
  EXPECT_EQ(slice(request, 52, 12), expected);
}

// A STORAGE_FIRMWARE_INFO with the given slots (number, read-only) at offset.
Bytes infoReply(std::size_t size, std::size_t offset, std::uint8_t upgradeSupport,
                const std::vector<std::pair<std::uint8_t, std::uint8_t>>& slots,
                std::uint8_t slotCount) {
  Bytes reply(size, 0);
  reply[offset + 0] = 1;
  reply[offset + 8] = upgradeSupport;
  reply[offset + 9] = slotCount;
  reply[offset + 10] = 1;
  reply[offset + 11] = 2;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    reply[offset + 16 + 16 * i] = slots[i].first;
    reply[offset + 17 + 16 * i] = slots[i].second;
    reply[offset + 18 + 16 * i] = 0x5A;  // reserved bytes are not read
  }
  return reply;
}

TEST(FirmwareRecords, ReadsSlotInformationAtAnyOffset) {
  for (std::size_t offset : {std::size_t{52}, std::size_t{53}, std::size_t{100}}) {
    const Bytes reply = infoReply(200, offset, 1, {{1, 1}, {2, 0}, {3, 0}}, 3);
    const auto info = readFirmwareInfo(reply, offset);
    ASSERT_TRUE(info.has_value()) << offset;
    EXPECT_TRUE(info->upgradeSupport);
    EXPECT_EQ(info->slotCount, 3);
    EXPECT_EQ(info->activeSlot, 1);
    EXPECT_EQ(info->pendingActivateSlot, 2);
    ASSERT_EQ(info->slots.size(), 3u);
    EXPECT_EQ(info->slots[0].slotNumber, 1);
    EXPECT_TRUE(info->slots[0].readOnly);
    EXPECT_EQ(info->slots[1].slotNumber, 2);
    EXPECT_FALSE(info->slots[1].readOnly);
    EXPECT_EQ(info->slots[2].slotNumber, 3);
  }
}

struct BoundsCase {
  const char* name;
  std::size_t replySize;
  std::size_t offset;
  std::uint8_t slotCount;
  bool readable;
};

TEST(FirmwareRecords, SlotInformationMustLieInsideTheReply) {
  const BoundsCase cases[] = {
      {"exact fit of two slots", 52 + 16 + 32, 52, 2, true},
      {"second slot one byte short", 52 + 16 + 31, 52, 2, false},
      {"no slots, header fits", 52 + 16, 52, 0, true},
      {"header one byte short", 52 + 15, 52, 0, false},
      {"offset at the end", 100, 100, 0, false},
      {"offset far past the end", 100, 0xFFFFFFF0u, 1, false},
      {"255 slots, last one byte short", 52 + 16 + 255 * 16 - 1, 52, 255, false},
      {"255 slots exactly", 52 + 16 + 255 * 16, 52, 255, true},
  };
  for (const BoundsCase& c : cases) {
    Bytes reply(c.replySize, 0);
    if (c.offset + 10 <= reply.size()) {
      reply[c.offset + 9] = c.slotCount;
    }
    // Only the bytes of the reply may be read: a copy of exactly that size.
    const auto info = readFirmwareInfo(std::span<const std::uint8_t>(reply), c.offset);
    EXPECT_EQ(info.has_value(), c.readable) << c.name;
  }
}

TEST(FirmwareRecords, DataBufferOffsetReader) {
  Bytes reply(52, 0);
  reply[44] = 0x64;
  EXPECT_EQ(readDataBufferOffset(reply, 28), std::optional<std::uint32_t>(100));
  EXPECT_FALSE(readDataBufferOffset(Bytes(47, 0), 28).has_value());
}

}  // namespace
}  // namespace zev::fw
