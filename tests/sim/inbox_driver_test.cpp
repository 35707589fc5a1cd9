// The inbox NVMe driver's disk endpoint: device number, the protocol-specific
// Identify query and the miniport firmware interface, checked byte by byte.
#include <gtest/gtest.h>

#include "endpoint.hpp"
#include "nvme_drive.hpp"
#include "sim/request_bytes.hpp"

namespace zevsim {
namespace {

using test::Bytes;
using test::get32;
using test::put32;
using test::put64;

constexpr std::uint32_t kGetDeviceNumber = 0x002D1080;
constexpr std::uint32_t kQueryProperty = 0x002D1400;
constexpr std::uint32_t kMiniportFirmware = 0x001B0780;

// SRB_IO_CONTROL + FIRMWARE_REQUEST_BLOCK with dataLength bytes of data
// record at offset 52.
Bytes firmwareRequest(std::uint32_t function, std::size_t dataLength) {
  Bytes b = test::srbRequest(52 + dataLength, "FIRMWARE", kMiniportFirmware);
  put32(b, 28, 1);   // Version
  put32(b, 32, 24);  // Size
  put32(b, 36, function);
  put32(b, 40, 1);  // FIRMWARE_REQUEST_FLAG_CONTROLLER
  put32(b, 44, 52);
  put32(b, 48, static_cast<std::uint32_t>(dataLength));
  return b;
}

// A download request the way the package sizes it: piece + 76 bytes.
Bytes downloadRequest(std::uint64_t offset, std::span<const std::uint8_t> piece) {
  Bytes b = firmwareRequest(2, 24 + piece.size());
  put32(b, 52, 1);
  put32(b, 56, 24);
  put64(b, 60, offset);
  put64(b, 68, piece.size());
  std::copy(piece.begin(), piece.end(), b.begin() + 76);
  return b;
}

Bytes activateRequest(std::uint8_t slot, std::size_t dataLength = 12) {
  Bytes b = firmwareRequest(3, dataLength);
  put32(b, 52, 1);
  put32(b, 56, 12);
  b[60] = slot;
  return b;
}

Bytes identifyQuery(std::uint32_t dataOffset = 40, std::size_t size = 4144) {
  Bytes b(size, 0);
  put32(b, 0, 49);  // StorageAdapterProtocolSpecificProperty
  put32(b, 4, 0);   // PropertyStandardQuery
  put32(b, 8, 3);   // ProtocolTypeNvme
  put32(b, 12, 1);  // NVMeDataTypeIdentify
  put32(b, 16, 1);  // CNS controller
  put32(b, 24, dataOffset);
  put32(b, 28, 4096);
  return b;
}

// Drive "a" with the given faults.
DriveConfig faulty(std::vector<Fault> faults) {
  DriveConfig config = test::testDrive("a");
  config.faults = std::move(faults);
  return config;
}

struct Inbox {
  explicit Inbox(DriveConfig config = test::testDrive("a"), Bytes packageImage = {})
      : image(std::move(packageImage)),
        drive(std::move(config), image),
        endpoint(makeInboxDiskEndpoint(drive, 3)) {}

  // A request with an output buffer as large as its input.
  IoReply send(const Bytes& in, std::uint32_t code = test::kScsiMiniport) {
    return endpoint->request(code, in, static_cast<std::uint32_t>(in.size()));
  }

  // Sends image in pieces of piece bytes, the last one short; returns the
  // ReturnCodes that are not 0.
  std::vector<std::uint32_t> download(const Bytes& of, std::size_t piece) {
    std::vector<std::uint32_t> failures;
    test::inPieces(of, piece, [&](std::size_t offset, std::span<const std::uint8_t> part) {
      const Bytes request = downloadRequest(offset, part);
      EXPECT_EQ(get32(request, 24), part.size() + 48);
      const IoReply reply = send(request);
      if (!reply.delivered || get32(reply.reply, 20) != 0) {
        failures.push_back(reply.delivered ? get32(reply.reply, 20) : ~0u);
      }
    });
    return failures;
  }

  Bytes image;
  NvmeDrive drive;
  std::unique_ptr<Endpoint> endpoint;
};

TEST(SimInboxDeviceNumber, ReportsADiskWithItsNumber) {
  Inbox inbox;
  const IoReply reply = inbox.endpoint->request(kGetDeviceNumber, {}, 12);
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(reply.reply, (Bytes{7, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(reply.bytesReturned, 12u);
  EXPECT_EQ(inbox.drive.requestCount(FaultRequest::DeviceNumber), 1u);
}

TEST(SimInbox, ASmallOutputBufferFails) {
  Inbox inbox;
  const struct {
    std::uint32_t code;
    Bytes in;
    std::uint32_t outSize;
  } cases[] = {{kGetDeviceNumber, {}, 11}, {kQueryProperty, identifyQuery(), 4143}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.code);
    const IoReply reply = inbox.endpoint->request(c.code, c.in, c.outSize);
    EXPECT_FALSE(reply.delivered);
    EXPECT_EQ(reply.error, test::kErrInsufficientBuffer);
    EXPECT_TRUE(reply.reply.empty());
  }
}

TEST(SimInboxDeviceNumber, AFaultFailsTheNthRequest) {
  Inbox inbox(faulty({test::fault(FaultRequest::DeviceNumber).nth(2).error(1117)}));
  EXPECT_TRUE(inbox.endpoint->request(kGetDeviceNumber, {}, 12).delivered);
  const IoReply second = inbox.endpoint->request(kGetDeviceNumber, {}, 12);
  EXPECT_FALSE(second.delivered);
  EXPECT_EQ(second.error, 1117u);
  EXPECT_TRUE(inbox.endpoint->request(kGetDeviceNumber, {}, 12).delivered);
}

TEST(SimInboxIdentify, ReturnsTheDescriptorTheEchoedBlockAndTheData) {
  Inbox inbox;
  const Bytes query = identifyQuery();
  const IoReply reply = inbox.send(query, kQueryProperty);
  ASSERT_TRUE(reply.delivered);
  ASSERT_EQ(reply.reply.size(), 4144u);
  EXPECT_EQ(reply.bytesReturned, 4144u);
  EXPECT_EQ(get32(reply.reply, 0), 48u);
  EXPECT_EQ(get32(reply.reply, 4), 48u);
  EXPECT_TRUE(std::equal(query.begin() + 8, query.begin() + 48, reply.reply.begin() + 8));
  const auto identify = inbox.drive.identifyController();
  EXPECT_TRUE(std::equal(identify.begin(), identify.end(), reply.reply.begin() + 48));
  EXPECT_EQ(test::text(reply.reply, 52, 20), inbox.drive.config().serial);
  EXPECT_EQ(test::text(reply.reply, 112, 8), "KTW3LMZB");
  EXPECT_EQ(inbox.drive.requestCount(FaultRequest::Identify), 1u);
  // The data goes where ProtocolDataOffset says.
  const IoReply moved = inbox.send(identifyQuery(48, 4152), kQueryProperty);
  ASSERT_TRUE(moved.delivered);
  EXPECT_EQ(get32(moved.reply, 24), 48u);
  EXPECT_EQ(test::text(moved.reply, 56 + 64, 8), "KTW3LMZB");
}

TEST(SimInboxIdentify, RefusesAQueryThatIsNotIdentifyController) {
  const test::Edit edits[] = {{"device property", 0, 50},    {"exists query", 4, 1},
                              {"ATA protocol", 8, 2},        {"log page", 12, 2},
                              {"namespace identify", 16, 0}, {"data inside the block", 24, 32},
                              {"short data", 28, 512},       {"input without the block", 0, 47, 0}};
  for (const test::Edit& e : edits) {
    SCOPED_TRACE(e.name);
    Inbox inbox;
    const IoReply reply =
        inbox.endpoint->request(kQueryProperty, test::edited(identifyQuery(), e), 4144);
    EXPECT_FALSE(reply.delivered);
    EXPECT_EQ(reply.error, test::kErrInvalidParameter);
    EXPECT_EQ(inbox.drive.requestCount(FaultRequest::Identify), 0u);
  }
}

TEST(SimInboxIdentify, AFaultFailsTheCall) {
  Inbox inbox(faulty({test::fault(FaultRequest::Identify).error(21)}));
  const IoReply reply = inbox.send(identifyQuery(), kQueryProperty);
  EXPECT_FALSE(reply.delivered);
  EXPECT_EQ(reply.error, 21u);
  EXPECT_TRUE(reply.reply.empty());
}

TEST(SimInboxGetInfo, WritesStorageFirmwareInfoAtTheDataOffset) {
  Inbox inbox;
  const IoReply reply = inbox.send(firmwareRequest(1, 4096 + 24));
  ASSERT_TRUE(reply.delivered);
  const Bytes& r = reply.reply;
  ASSERT_EQ(r.size(), 4096u + 76u);
  EXPECT_EQ(get32(r, 20), 0u);
  EXPECT_EQ(get32(r, 44), 52u);
  EXPECT_EQ(get32(r, 52), 1u);   // Version
  EXPECT_EQ(get32(r, 56), 32u);  // Size
  EXPECT_EQ(r[60], 1);           // UpgradeSupport
  EXPECT_EQ(r[61], 2);           // SlotCount
  EXPECT_EQ(r[62], 1);           // ActiveSlot
  EXPECT_EQ(r[63], 0xFF);        // PendingActivateSlot: none
  EXPECT_EQ(r[68], 1);           // Slot[0].SlotNumber
  EXPECT_EQ(r[69], 1);           // Slot[0].ReadOnly
  EXPECT_EQ(test::text(r, 76, 8), "KTW3LMZB");
  EXPECT_EQ(r[84], 2);
  EXPECT_EQ(r[85], 0);
  EXPECT_EQ(test::text(r, 92, 8), "KTW3LMZB");
  EXPECT_TRUE(test::allZero(r, 100));
  EXPECT_EQ(inbox.drive.requestCount(FaultRequest::GetInfo), 1u);

  // A data offset that is not eight-byte aligned is taken as it is.
  Bytes request = firmwareRequest(1, 4096 + 24);
  put32(request, 44, 53);
  put32(request, 48, 4096 + 23);
  const IoReply unaligned = inbox.send(request);
  ASSERT_TRUE(unaligned.delivered);
  EXPECT_EQ(get32(unaligned.reply, 20), 0u);
  EXPECT_EQ(unaligned.reply[53 + 9], 2);
  EXPECT_EQ(test::text(unaligned.reply, 53 + 16 + 16 + 8, 8), "KTW3LMZB");
}

TEST(SimInboxGetInfo, ReportsThePendingSlotAndAFixedDriveState) {
  DriveConfig config = test::testDrive("a");
  config.upgradeSupport = false;
  config.slots = 3;
  config.activeSlot = 2;
  Inbox inbox(config);
  ASSERT_EQ(inbox.drive.commit(3, NvmeDrive::CommitAction::ActivateAtReset),
            NvmeDrive::CommitResult::Success);
  const IoReply reply = inbox.send(firmwareRequest(1, 100));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(reply.reply[60], 0);
  EXPECT_EQ(reply.reply[61], 3);
  EXPECT_EQ(reply.reply[62], 2);
  EXPECT_EQ(reply.reply[63], 3);
  EXPECT_EQ(reply.reply[68 + 32], 3);
}

// A drive an earlier run left waiting for its reset.
DriveConfig leftPending() {
  DriveConfig config = test::testDrive("a");
  config.slots = 3;
  config.activeSlot = 2;
  config.slotFirmware = {"KTW1LMZB", "KTW3LMZB", "KTW8LMZB"};
  config.pendingSlot = 3;
  return config;
}

TEST(SimInboxGetInfo, ReportsTheRevisionsAndPendingSlotAnEarlierRunLeft) {
  Inbox inbox(leftPending());
  const IoReply reply = inbox.send(firmwareRequest(1, 100));
  ASSERT_TRUE(reply.delivered);
  const Bytes& r = reply.reply;
  EXPECT_EQ(get32(r, 20), 0u);
  EXPECT_EQ(r[61], 3);
  EXPECT_EQ(r[62], 2);
  EXPECT_EQ(r[63], 3);
  for (std::size_t n = 0; n < 3; ++n) {
    EXPECT_EQ(r[68 + 16 * n], n + 1);
    EXPECT_EQ(test::text(r, 76 + 16 * n, 8), leftPending().slotFirmware[n]);
  }
}

TEST(SimInboxGetInfo, WithoutTheControllerFlagDescribesOnlyTheActiveSlot) {
  const struct {
    const char* name;
    std::uint32_t flags;
    std::uint8_t slotCount;
  } cases[] = {{"controller", 1, 3}, {"no flags", 0, 1}, {"last segment only", 2, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Inbox inbox(leftPending());
    Bytes request = firmwareRequest(1, 100);
    put32(request, 40, c.flags);
    const IoReply reply = inbox.send(request);
    ASSERT_TRUE(reply.delivered);
    const Bytes& r = reply.reply;
    EXPECT_EQ(get32(r, 20), 0u);
    EXPECT_EQ(r[61], c.slotCount);
    EXPECT_EQ(r[62], 2);                                  // ActiveSlot
    EXPECT_EQ(r[63], 3);                                  // PendingActivateSlot
    const std::size_t active = c.slotCount == 1 ? 0 : 1;  // the active slot's entry
    EXPECT_EQ(r[68 + 16 * active], 2);
    EXPECT_EQ(test::text(r, 76 + 16 * active, 8), "KTW3LMZB");
    EXPECT_TRUE(test::allZero(r, 68 + 16 * c.slotCount));
  }
}

TEST(SimInboxGetInfo, AFaultNamesAnotherOffsetAndWritesThereIfItFits) {
  const struct {
    std::uint32_t offset;
    bool written;
  } cases[] = {{100, true}, {204, true}, {205, false}, {5000, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.offset);
    Inbox inbox(faulty({test::fault(FaultRequest::GetInfo).dataBufferOffset(c.offset)}));
    const IoReply reply = inbox.send(firmwareRequest(1, 200));
    ASSERT_TRUE(reply.delivered);
    const Bytes& r = reply.reply;
    EXPECT_EQ(get32(r, 20), 0u);
    EXPECT_EQ(get32(r, 44), c.offset);
    EXPECT_EQ(r[61], 0);  // nothing at the offset the request named
    if (c.written) {
      EXPECT_EQ(r[c.offset + 9], 2);
      EXPECT_EQ(test::text(r, c.offset + 40, 8), "KTW3LMZB");
    } else {
      EXPECT_TRUE(test::allZero(r, 52));
    }
  }
}

TEST(SimInboxMiniport, AMalformedRequestIsNotDeliveredAndReachesNoDrive) {
  const test::Edit edits[] = {{"HeaderLength", 0, 24},
                              {"signature", 8, 0x46524157},
                              {"control code", 16, 0x001B0781},
                              {"Length beyond the buffers", 24, 153},
                              {"Length without a request block", 24, 23},
                              {"request block version", 28, 2},
                              {"request block size", 32, 32},
                              {"function 0", 36, 0},
                              {"function 4", 36, 4},
                              {"input shorter than the header", 0, 27, 0}};
  for (const test::Edit& e : edits) {
    SCOPED_TRACE(e.name);
    Inbox inbox;
    const IoReply reply = inbox.send(test::edited(firmwareRequest(1, 100), e));
    EXPECT_FALSE(reply.delivered);
    EXPECT_EQ(reply.error, test::kErrInvalidParameter);
    EXPECT_TRUE(reply.reply.empty());
    EXPECT_EQ(inbox.drive.requestCount(FaultRequest::GetInfo), 0u);
  }
}

TEST(SimInboxMiniport, DataOutsideTheBufferIsAnInvalidParameterStatus) {
  const struct {
    const char* name;
    std::size_t recordSize;  // the data record the request is built with
    std::uint32_t dataOffset;
    std::uint32_t dataLength;
    std::uint32_t length = 0;  // SRB_IO_CONTROL Length; 0: the whole buffer
  } cases[] = {{"over the request block", 100, 48, 104},
               {"one byte past the end", 100, 52, 101},
               {"offset past the end", 100, 153, 0},
               {"wrapping length", 100, 52, 0xFFFFFFF0},
               {"a record too small for every slot", 47, 52, 47},
               {"beyond Length though inside the buffer", 100, 52, 100, 120},
               {"offset beyond Length though inside the buffer", 100, 150, 1, 120}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Inbox inbox;
    Bytes request = firmwareRequest(1, c.recordSize);
    put32(request, 44, c.dataOffset);
    put32(request, 48, c.dataLength);
    if (c.length != 0) {
      put32(request, 24, c.length);
    }
    const IoReply reply = inbox.send(request);
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), 3u);
    EXPECT_EQ(reply.reply[61], 0);
  }
}

TEST(SimInboxMiniport, TakesALengthThatOnlyTheOutputBufferHoldsAndCutsTheReply) {
  Inbox inbox;
  Bytes request = firmwareRequest(1, 100);
  request.resize(52);
  const IoReply reply = inbox.endpoint->request(test::kScsiMiniport, request, 152);
  ASSERT_TRUE(reply.delivered);
  ASSERT_EQ(reply.reply.size(), 152u);
  EXPECT_EQ(reply.reply[61], 2);
  // The reply is cut to the output length.
  const IoReply cut = inbox.endpoint->request(test::kScsiMiniport, firmwareRequest(1, 100), 24);
  ASSERT_TRUE(cut.delivered);
  EXPECT_EQ(cut.reply.size(), 24u);
  EXPECT_EQ(cut.bytesReturned, 24u);
  // Other control codes are invalid functions.
  const IoReply other = inbox.endpoint->request(0x002D0C14, {}, 0);
  EXPECT_FALSE(other.delivered);
  EXPECT_EQ(other.error, test::kErrInvalidFunction);
}

TEST(SimInboxUpdate, AShortLastPieceCompletesTheImageAndActivates) {
  const Bytes image = test::testImage(10244);  // 4096 + 4096 + 2052
  Inbox inbox(test::testDrive("a", 10244), image);
  EXPECT_TRUE(inbox.download(image, 4096).empty());
  EXPECT_TRUE(inbox.drive.stagedImageMatchesPackage());
  EXPECT_EQ(inbox.drive.downloadedBytes(), 10244u);
  EXPECT_EQ(inbox.drive.requestCount(FaultRequest::Download), 3u);
  const IoReply reply = inbox.send(activateRequest(2, 4096 + 24));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_EQ(inbox.drive.pendingSlot(), 2u);
  EXPECT_EQ(inbox.drive.firmwareAfterReset(), "KTW8LMZB");
}

TEST(SimInboxActivate, ReturnsTheFirmwareStatus) {
  const struct {
    const char* name;
    Activation activation;
    std::uint8_t slot;
    bool fullImage;
    std::uint32_t returnCode;
  } cases[] = {{"reset", Activation::Reset, 2, true, 0},
               {"power cycle", Activation::PowerCycle, 2, true, 0x20},
               {"immediate", Activation::Immediate, 2, true, 0},
               {"read-only slot", Activation::Reset, 1, true, 6},
               {"missing slot", Activation::Reset, 3, true, 6},
               {"incomplete image", Activation::Reset, 2, false, 7}};
  const Bytes image = test::testImage(0x2000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DriveConfig config = test::testDrive("a");
    config.activation = c.activation;
    Inbox inbox(config, image);
    inbox.download(c.fullImage ? image : Bytes(image.begin(), image.begin() + 4096), 4096);
    const IoReply reply = inbox.send(activateRequest(c.slot));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), c.returnCode);
    EXPECT_EQ(inbox.drive.firmwareAfterReset(),
              c.returnCode == 0 || c.returnCode == 0x20 ? "KTW8LMZB" : "KTW3LMZB");
  }
}

TEST(SimInboxActivate, ARecordWithAWrongVersionIsAParameterError) {
  const Bytes image = test::testImage(0x2000);
  Inbox inbox(test::testDrive("a"), image);
  inbox.download(image, 4096);
  Bytes request = activateRequest(2);
  put32(request, 52, 2);
  EXPECT_EQ(get32(inbox.send(request).reply, 20), 3u);
  EXPECT_FALSE(inbox.drive.pendingSlot().has_value());
}

TEST(SimInboxDownload, TheRecordIsCheckedBeforeTheDriveTakesThePiece) {
  const struct {
    test::Edit edit;
    std::uint32_t returnCode;
  } cases[] = {{{"as sent", 52, 1}, 0},
               {{"Size as sizeof", 56, 32}, 0},
               {{"Size 28", 56, 28}, 3},
               {{"version 3", 52, 3}, 3},
               {{"BufferSize past the record", 68, 4100, 8}, 3},
               {{"misaligned offset", 60, 2, 8}, 3},
               {{"offset past the image", 60, 0x2000, 8}, 3},
               {{"huge BufferSize", 68, ~0ull, 8}, 3}};
  const Bytes image = test::testImage(0x2000);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit.name);
    Inbox inbox(test::testDrive("a"), image);
    const IoReply reply =
        inbox.send(test::edited(downloadRequest(0, std::span(image).first(4096)), c.edit));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), c.returnCode);
    EXPECT_EQ(inbox.drive.downloadedBytes(), c.returnCode == 0 ? 4096u : 0u);
  }
}

TEST(SimInboxDownload, TakesTheVersionTwoRecord) {
  const Bytes image = test::testImage(0x2000);
  Inbox inbox(test::testDrive("a"), image);
  Bytes request = firmwareRequest(2, 32 + 0x2000);
  put32(request, 52, 2);
  put32(request, 56, 32);
  put64(request, 60, 0);
  put64(request, 68, 0x2000);
  request[76] = 0xFF;
  std::copy(image.begin(), image.end(), request.begin() + 84);
  EXPECT_EQ(get32(inbox.send(request).reply, 20), 0u);
  EXPECT_TRUE(inbox.drive.stagedImageMatchesPackage());
}

TEST(SimInboxFaults, AReturnCodeStopsTheRequestBeforeTheDrive) {
  const Bytes image = test::testImage(0x2000);
  Inbox inbox(faulty({test::fault(FaultRequest::Download).nth(1).returnCode(0x10)}), image);
  EXPECT_EQ(inbox.download(image, 4096), std::vector<std::uint32_t>{0x10});
  EXPECT_EQ(inbox.drive.downloadedBytes(), 4096u);
  EXPECT_FALSE(inbox.drive.stagedImageMatchesPackage());
}

TEST(SimInboxFaults, AnErrorFailsTheCallAndLeavesTheDriveAlone) {
  const Bytes image = test::testImage(0x2000);
  Inbox inbox(faulty({test::fault(FaultRequest::Activate).error(1117)}), image);
  inbox.download(image, 4096);
  const IoReply reply = inbox.send(activateRequest(2));
  EXPECT_FALSE(reply.delivered);
  EXPECT_EQ(reply.error, 1117u);
  EXPECT_FALSE(inbox.drive.pendingSlot().has_value());
  EXPECT_EQ(inbox.drive.requestCount(FaultRequest::Activate), 1u);
}

}  // namespace
}  // namespace zevsim
