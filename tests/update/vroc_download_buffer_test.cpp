// The VROC path reuses one request buffer for every piece, and the driver
// writes its reply (ReturnCode, the completion entry) into that buffer. Each
// download request must still go out exactly as a freshly zeroed one would:
// nothing of the previous piece or of the previous reply may reach the drive,
// also for a short last piece after longer ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "core/firmware_image.hpp"
#include "support/bound_machine.hpp"
#include "update/update_paths.hpp"

namespace zev {
namespace {

// VrocNvmePassThrough as the drive must receive a Firmware Image Download:
//   offset  size  field
//        0     4  HeaderLength 28
//        4     8  Signature "NvmeRAID"
//       12     4  Timeout 30
//       16     4  ControlCode 0xE0002000
//       20     4  ReturnCode: the disk id
//       24     4  Length: piece + 132
//       52     4  command dword 0: opcode 0x11
//       92     4  command dword 10: dwords in the piece - 1
//       96     4  command dword 11: offset in dwords
//      116    16  completion entry: 0
//      132     4  direction 1
//      140     4  data length: piece
//      148     4  return buffer length 153
//      152     n  the piece
// Every other byte of the head is 0.
void put32(std::vector<std::uint8_t>& bytes, std::size_t offset, std::uint32_t value) {
  for (std::size_t i = 0; i < 4; ++i) {
    bytes[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
  }
}

std::vector<std::uint8_t> expectedHead(std::uint32_t diskId, std::uint32_t offset,
                                       std::uint32_t size, std::size_t headBytes) {
  std::vector<std::uint8_t> bytes(152, 0);
  put32(bytes, 0, 28);
  const std::string signature = "NvmeRAID";
  std::copy(signature.begin(), signature.end(), bytes.begin() + 4);
  put32(bytes, 12, 30);
  put32(bytes, 16, 0xE0002000u);
  put32(bytes, 20, diskId);
  put32(bytes, 24, size + 132);
  bytes[52] = 0x11;
  put32(bytes, 92, size / 4 - 1);
  put32(bytes, 96, offset / 4);
  put32(bytes, 132, 1);
  put32(bytes, 140, size);
  put32(bytes, 148, 153);
  const auto image = firmwareImage();
  for (std::size_t i = 0; bytes.size() < headBytes; ++i) {
    bytes.push_back(image[offset + i]);
  }
  return bytes;
}

struct ReuseCase {
  const char* name;
  std::int32_t granularity;
  std::uint32_t pieceSize;
  std::uint32_t pieces;
  std::uint32_t lastPieceSize;
  std::uint32_t completion;  // what the drive leaves in completion dword 3
};

TEST(VrocDownloadBuffer, EveryPieceGoesOutAsAFreshRequestWhateverTheLastReplyLeft) {
  const ReuseCase cases[] = {
      // The phase tag alone is a successful completion that leaves a bit set.
      {"4 KiB pieces, phase tag", 1, 4096, 512, 4096, 0x00010000u},
      // 170 pieces of 12 KiB, then 8 KiB in a shorter request.
      {"12 KiB pieces and a short last one, phase tag", 3, 12288, 171, 8192, 0x00010000u},
      {"32 KiB pieces, command id in the completion", 8, 32768, 64, 32768, 0x0000BEEFu},
  };
  for (const ReuseCase& c : cases) {
    SCOPED_TRACE(c.name);
    testsupport::BoundMachine sim(R"({
      "drives": [ { "id": "vroc-a", "firmware": "KTW5LMZB",
                    "faults": [ { "request": "download", "completion": )" +
                                  std::to_string(c.completion) + R"( } ] } ],
      "intelController": { "driver": "vroc",
        "passThrough": [ { "drive": "vroc-a", "busNumber": 0 } ] } })");
    DiskInfo disk;
    disk.driverKind = DriverKind::VrocNonRaid;
    disk.firmwareRevision = L"KTW5LMZB";
    disk.updateGranularity = c.granularity;
    disk.vrocDiskId = 1;
    ConsoleCapture quiet;
    std::uint32_t transferLength = 2097152;
    ASSERT_EQ(
        updateThroughVroc(disk, transferLength, 2, zev::packageImage(), zev::buildPackageIdentity())
            .code,
        0);

    const auto requests = sim.miniportRequests(0xE0002000u);
    ASSERT_EQ(requests.size(), c.pieces + 1);  // the pieces and the commit
    for (std::uint32_t i = 0; i < c.pieces; ++i) {
      const zevsim::CallRecord& call = requests[i];
      const std::uint32_t size = i + 1 == c.pieces ? c.lastPieceSize : c.pieceSize;
      ASSERT_EQ(call.inSize, size + 160) << i;
      ASSERT_EQ(call.inputHead, expectedHead(1, i * c.pieceSize, size, call.inputHead.size()))
          << "download request " << i;
    }
    EXPECT_TRUE(sim.drive("vroc-a").stagedImageMatchesPackage);
  }
}

}  // namespace
}  // namespace zev
