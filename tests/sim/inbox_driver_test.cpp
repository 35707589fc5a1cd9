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

IoReply send(Endpoint& endpoint, std::uint32_t code, const Bytes& in) {
  return endpoint.request(code, in, static_cast<std::uint32_t>(in.size()));
}

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

struct Inbox {
  explicit Inbox(DriveConfig config, Bytes packageImage = {})
      : image(std::move(packageImage)),
        drive(std::move(config), image),
        endpoint(makeInboxDiskEndpoint(drive, 3)) {}
  Bytes image;
  NvmeDrive drive;
  std::unique_ptr<Endpoint> endpoint;
};

// Sends image in pieces of piece bytes, the last one short; returns the
// ReturnCodes that are not 0.
std::vector<std::uint32_t> download(Inbox& inbox, const Bytes& image, std::size_t piece) {
  std::vector<std::uint32_t> failures;
  for (std::size_t offset = 0; offset < image.size(); offset += piece) {
    const auto part = std::span(image).subspan(offset, std::min(piece, image.size() - offset));
    const Bytes request = downloadRequest(offset, part);
    EXPECT_EQ(get32(request, 24), part.size() + 48);
    const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, request);
    if (!reply.delivered || get32(reply.reply, 20) != 0) {
      failures.push_back(reply.delivered ? get32(reply.reply, 20) : ~0u);
    }
  }
  return failures;
}

TEST(SimInboxDeviceNumber, ReportsADiskWithItsNumber) {
  Inbox inbox(test::testDrive("a"));
  const IoReply reply = inbox.endpoint->request(kGetDeviceNumber, {}, 12);
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(reply.reply, (Bytes{7, 0, 0, 0, 3, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(reply.bytesReturned, 12u);
  EXPECT_EQ(inbox.drive.requestCount(FaultRequest::DeviceNumber), 1u);
}

TEST(SimInboxDeviceNumber, ASmallOutputBufferFails) {
  Inbox inbox(test::testDrive("a"));
  const IoReply reply = inbox.endpoint->request(kGetDeviceNumber, {}, 11);
  EXPECT_FALSE(reply.delivered);
  EXPECT_EQ(reply.error, test::kErrInsufficientBuffer);
  EXPECT_TRUE(reply.reply.empty());
}

TEST(SimInboxDeviceNumber, AFaultFailsTheNthRequest) {
  DriveConfig config = test::testDrive("a");
  Fault f = test::fault(FaultRequest::DeviceNumber);
  f.nth = 2;
  f.error = 1117;
  config.faults = {f};
  Inbox inbox(config);
  EXPECT_TRUE(inbox.endpoint->request(kGetDeviceNumber, {}, 12).delivered);
  const IoReply second = inbox.endpoint->request(kGetDeviceNumber, {}, 12);
  EXPECT_FALSE(second.delivered);
  EXPECT_EQ(second.error, 1117u);
  EXPECT_TRUE(inbox.endpoint->request(kGetDeviceNumber, {}, 12).delivered);
}

TEST(SimInboxIdentify, ReturnsTheDescriptorTheEchoedBlockAndTheData) {
  Inbox inbox(test::testDrive("a"));
  const Bytes query = identifyQuery();
  const IoReply reply = send(*inbox.endpoint, kQueryProperty, query);
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
}

TEST(SimInboxIdentify, PutsTheDataWhereProtocolDataOffsetSays) {
  Inbox inbox(test::testDrive("a"));
  const IoReply reply = send(*inbox.endpoint, kQueryProperty, identifyQuery(48, 4152));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 24), 48u);
  EXPECT_EQ(test::text(reply.reply, 56 + 64, 8), "KTW3LMZB");
}

struct BadQuery {
  const char* name;
  std::size_t field;  // offset of the 32-bit field to change; SIZE_MAX: shorten
  std::uint32_t value;
};

class SimInboxIdentifyRefuses : public testing::TestWithParam<BadQuery> {};

TEST_P(SimInboxIdentifyRefuses, AQueryThatIsNotIdentifyController) {
  Inbox inbox(test::testDrive("a"));
  Bytes query = identifyQuery();
  if (GetParam().field == SIZE_MAX) {
    query.resize(GetParam().value);
  } else {
    put32(query, GetParam().field, GetParam().value);
  }
  const IoReply reply = inbox.endpoint->request(kQueryProperty, query, 4144);
  EXPECT_FALSE(reply.delivered) << GetParam().name;
  EXPECT_EQ(reply.error, test::kErrInvalidParameter) << GetParam().name;
  EXPECT_EQ(inbox.drive.requestCount(FaultRequest::Identify), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimInboxIdentifyRefuses,
    testing::Values(BadQuery{"device property", 0, 50}, BadQuery{"exists query", 4, 1},
                    BadQuery{"ATA protocol", 8, 2}, BadQuery{"log page", 12, 2},
                    BadQuery{"namespace identify", 16, 0},
                    BadQuery{"data inside the block", 24, 32}, BadQuery{"short data", 28, 512},
                    BadQuery{"input without the block", SIZE_MAX, 47}));

TEST(SimInboxIdentify, ASmallOutputBufferFails) {
  Inbox inbox(test::testDrive("a"));
  const IoReply reply = inbox.endpoint->request(kQueryProperty, identifyQuery(), 4143);
  EXPECT_FALSE(reply.delivered);
  EXPECT_EQ(reply.error, test::kErrInsufficientBuffer);
}

TEST(SimInboxIdentify, AFaultFailsTheCall) {
  DriveConfig config = test::testDrive("a");
  Fault f = test::fault(FaultRequest::Identify);
  f.error = 21;
  config.faults = {f};
  Inbox inbox(config);
  const IoReply reply = send(*inbox.endpoint, kQueryProperty, identifyQuery());
  EXPECT_FALSE(reply.delivered);
  EXPECT_EQ(reply.error, 21u);
  EXPECT_TRUE(reply.reply.empty());
}

TEST(SimInboxGetInfo, WritesStorageFirmwareInfoAtTheDataOffset) {
  Inbox inbox(test::testDrive("a"));
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, firmwareRequest(1, 4096 + 24));
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
  EXPECT_TRUE(std::all_of(r.begin() + 100, r.end(), [](std::uint8_t b) { return b == 0; }));
  EXPECT_EQ(inbox.drive.requestCount(FaultRequest::GetInfo), 1u);
}

TEST(SimInboxGetInfo, AcceptsADataOffsetThatIsNotEightByteAligned) {
  Inbox inbox(test::testDrive("a"));
  Bytes request = firmwareRequest(1, 4096 + 24);
  put32(request, 44, 53);
  put32(request, 48, 4096 + 23);
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, request);
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_EQ(reply.reply[53 + 9], 2);
  EXPECT_EQ(test::text(reply.reply, 53 + 16 + 16 + 8, 8), "KTW3LMZB");
}

TEST(SimInboxGetInfo, ReportsThePendingSlotAndAFixedDriveState) {
  DriveConfig config = test::testDrive("a");
  config.upgradeSupport = false;
  config.slots = 3;
  config.activeSlot = 2;
  Inbox inbox(config);
  ASSERT_EQ(inbox.drive.commit(3, NvmeDrive::CommitAction::ActivateAtReset),
            NvmeDrive::CommitResult::Success);
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, firmwareRequest(1, 100));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(reply.reply[60], 0);
  EXPECT_EQ(reply.reply[61], 3);
  EXPECT_EQ(reply.reply[62], 2);
  EXPECT_EQ(reply.reply[63], 3);
  EXPECT_EQ(reply.reply[68 + 32], 3);
}

TEST(SimInboxGetInfo, ARecordTooSmallForEverySlotIsAParameterError) {
  Inbox inbox(test::testDrive("a"));
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, firmwareRequest(1, 47));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 3u);
  EXPECT_EQ(reply.reply[61], 0);
}

struct MovedInfo {
  std::uint32_t offset;
  bool written;
};

class SimInboxGetInfoMoved : public testing::TestWithParam<MovedInfo> {};

TEST_P(SimInboxGetInfoMoved, TheFaultNamesAnotherOffsetAndWritesThereIfItFits) {
  DriveConfig config = test::testDrive("a");
  Fault f = test::fault(FaultRequest::GetInfo);
  f.dataBufferOffset = GetParam().offset;
  config.faults = {f};
  Inbox inbox(config);
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, firmwareRequest(1, 200));
  ASSERT_TRUE(reply.delivered);
  const Bytes& r = reply.reply;
  EXPECT_EQ(get32(r, 20), 0u);
  EXPECT_EQ(get32(r, 44), GetParam().offset);
  EXPECT_EQ(r[61], 0);  // nothing at the offset the request named
  if (GetParam().written) {
    EXPECT_EQ(r[GetParam().offset + 9], 2);
    EXPECT_EQ(test::text(r, GetParam().offset + 40, 8), "KTW3LMZB");
  } else {
    EXPECT_TRUE(std::all_of(r.begin() + 52, r.end(), [](std::uint8_t b) { return b == 0; }));
  }
}

INSTANTIATE_TEST_SUITE_P(Table, SimInboxGetInfoMoved,
                         testing::Values(MovedInfo{100, true}, MovedInfo{204, true},
                                         MovedInfo{205, false}, MovedInfo{5000, false}));

struct Malformed {
  const char* name;
  std::size_t field;  // offset of a 32-bit field; SIZE_MAX: shorten to value
  std::uint32_t value;
};

class SimInboxMalformed : public testing::TestWithParam<Malformed> {};

TEST_P(SimInboxMalformed, IsNotDeliveredAndReachesNoDrive) {
  Inbox inbox(test::testDrive("a"));
  Bytes request = firmwareRequest(1, 100);
  if (GetParam().field == SIZE_MAX) {
    request.resize(GetParam().value);
  } else {
    put32(request, GetParam().field, GetParam().value);
  }
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, request);
  EXPECT_FALSE(reply.delivered) << GetParam().name;
  EXPECT_EQ(reply.error, test::kErrInvalidParameter) << GetParam().name;
  EXPECT_TRUE(reply.reply.empty());
  EXPECT_EQ(inbox.drive.requestCount(FaultRequest::GetInfo), 0u);
}

INSTANTIATE_TEST_SUITE_P(Table, SimInboxMalformed,
                         testing::Values(Malformed{"HeaderLength", 0, 24},
                                         Malformed{"signature", 8, 0x46524157},
                                         Malformed{"control code", 16, 0x001B0781},
                                         Malformed{"Length beyond the buffers", 24, 153},
                                         Malformed{"Length without a request block", 24, 23},
                                         Malformed{"request block version", 28, 2},
                                         Malformed{"request block size", 32, 32},
                                         Malformed{"function 0", 36, 0},
                                         Malformed{"function 4", 36, 4},
                                         Malformed{"input shorter than the header", SIZE_MAX, 27}));

TEST(SimInboxMiniport, TakesALengthThatOnlyTheOutputBufferHolds) {
  Inbox inbox(test::testDrive("a"));
  Bytes request = firmwareRequest(1, 100);
  request.resize(52);
  const IoReply reply = inbox.endpoint->request(test::kScsiMiniport, request, 152);
  ASSERT_TRUE(reply.delivered);
  ASSERT_EQ(reply.reply.size(), 152u);
  EXPECT_EQ(reply.reply[61], 2);
}

TEST(SimInboxMiniport, CutsTheReplyToTheOutputLength) {
  Inbox inbox(test::testDrive("a"));
  const IoReply reply = inbox.endpoint->request(test::kScsiMiniport, firmwareRequest(1, 100), 24);
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(reply.reply.size(), 24u);
  EXPECT_EQ(reply.bytesReturned, 24u);
}

TEST(SimInboxMiniport, OtherControlCodesAreInvalidFunctions) {
  Inbox inbox(test::testDrive("a"));
  const IoReply reply = inbox.endpoint->request(0x002D0C14, {}, 0);
  EXPECT_FALSE(reply.delivered);
  EXPECT_EQ(reply.error, test::kErrInvalidFunction);
}

struct Outside {
  const char* name;
  std::uint32_t dataOffset;
  std::uint32_t dataLength;
};

class SimInboxDataOutside : public testing::TestWithParam<Outside> {};

TEST_P(SimInboxDataOutside, IsAnInvalidParameterStatus) {
  Inbox inbox(test::testDrive("a"));
  Bytes request = firmwareRequest(1, 100);
  put32(request, 44, GetParam().dataOffset);
  put32(request, 48, GetParam().dataLength);
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, request);
  ASSERT_TRUE(reply.delivered) << GetParam().name;
  EXPECT_EQ(get32(reply.reply, 20), 3u) << GetParam().name;
  EXPECT_EQ(reply.reply[61], 0) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Table, SimInboxDataOutside,
                         testing::Values(Outside{"over the request block", 48, 104},
                                         Outside{"one byte past the end", 52, 101},
                                         Outside{"offset past the end", 153, 0},
                                         Outside{"wrapping length", 52, 0xFFFFFFF0}));

TEST(SimInboxUpdate, AShortLastPieceCompletesTheImageAndActivates) {
  const Bytes image = test::testImage(10244);  // 4096 + 4096 + 2052
  Inbox inbox(test::testDrive("a", 10244), image);
  EXPECT_TRUE(download(inbox, image, 4096).empty());
  EXPECT_TRUE(inbox.drive.stagedImageMatchesPackage());
  EXPECT_EQ(inbox.drive.downloadedBytes(), 10244u);
  EXPECT_EQ(inbox.drive.requestCount(FaultRequest::Download), 3u);
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, activateRequest(2, 4096 + 24));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_EQ(inbox.drive.pendingSlot(), 2u);
  EXPECT_EQ(inbox.drive.firmwareAfterReset(), "KTW8LMZB");
}

struct ActivateCase {
  const char* name;
  Activation activation;
  std::uint8_t slot;
  bool fullImage;
  std::uint32_t returnCode;
};

class SimInboxActivate : public testing::TestWithParam<ActivateCase> {};

TEST_P(SimInboxActivate, ReturnsTheFirmwareStatus) {
  const ActivateCase& c = GetParam();
  DriveConfig config = test::testDrive("a");
  config.activation = c.activation;
  const Bytes image = test::testImage(0x2000);
  Inbox inbox(config, image);
  download(inbox, c.fullImage ? image : Bytes(image.begin(), image.begin() + 4096), 4096);
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, activateRequest(c.slot));
  ASSERT_TRUE(reply.delivered) << c.name;
  EXPECT_EQ(get32(reply.reply, 20), c.returnCode) << c.name;
  EXPECT_EQ(inbox.drive.firmwareAfterReset(),
            c.returnCode == 0 || c.returnCode == 0x20 ? "KTW8LMZB" : "KTW3LMZB")
      << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimInboxActivate,
    testing::Values(ActivateCase{"reset", Activation::Reset, 2, true, 0},
                    ActivateCase{"power cycle", Activation::PowerCycle, 2, true, 0x20},
                    ActivateCase{"immediate", Activation::Immediate, 2, true, 0},
                    ActivateCase{"read-only slot", Activation::Reset, 1, true, 6},
                    ActivateCase{"missing slot", Activation::Reset, 3, true, 6},
                    ActivateCase{"incomplete image", Activation::Reset, 2, false, 7}));

TEST(SimInboxActivate, ARecordWithAWrongVersionIsAParameterError) {
  const Bytes image = test::testImage(0x2000);
  Inbox inbox(test::testDrive("a"), image);
  download(inbox, image, 4096);
  Bytes request = activateRequest(2);
  put32(request, 52, 2);
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, request);
  EXPECT_EQ(get32(reply.reply, 20), 3u);
  EXPECT_FALSE(inbox.drive.pendingSlot().has_value());
}

struct DownloadRecord {
  const char* name;
  std::size_t field;
  std::uint64_t value;
  bool wide;  // 8-byte field
  std::uint32_t returnCode;
};

class SimInboxDownloadRecord : public testing::TestWithParam<DownloadRecord> {};

TEST_P(SimInboxDownloadRecord, IsCheckedBeforeTheDriveTakesThePiece) {
  const DownloadRecord& c = GetParam();
  const Bytes image = test::testImage(0x2000);
  Inbox inbox(test::testDrive("a"), image);
  Bytes request = downloadRequest(0, std::span(image).first(4096));
  if (c.wide) {
    put64(request, c.field, c.value);
  } else {
    put32(request, c.field, static_cast<std::uint32_t>(c.value));
  }
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, request);
  ASSERT_TRUE(reply.delivered) << c.name;
  EXPECT_EQ(get32(reply.reply, 20), c.returnCode) << c.name;
  EXPECT_EQ(inbox.drive.downloadedBytes(), c.returnCode == 0 ? 4096u : 0u) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, SimInboxDownloadRecord,
    testing::Values(DownloadRecord{"as sent", 52, 1, false, 0},
                    DownloadRecord{"Size as sizeof", 56, 32, false, 0},
                    DownloadRecord{"Size 28", 56, 28, false, 3},
                    DownloadRecord{"version 3", 52, 3, false, 3},
                    DownloadRecord{"BufferSize past the record", 68, 4100, true, 3},
                    DownloadRecord{"misaligned offset", 60, 2, true, 3},
                    DownloadRecord{"offset past the image", 60, 0x2000, true, 3},
                    DownloadRecord{"huge BufferSize", 68, ~0ull, true, 3}));

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
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, request);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_TRUE(inbox.drive.stagedImageMatchesPackage());
}

TEST(SimInboxFaults, AReturnCodeStopsTheRequestBeforeTheDrive) {
  DriveConfig config = test::testDrive("a");
  Fault f = test::fault(FaultRequest::Download);
  f.nth = 1;
  f.returnCode = 0x10;
  config.faults = {f};
  const Bytes image = test::testImage(0x2000);
  Inbox inbox(config, image);
  const std::vector<std::uint32_t> failures = download(inbox, image, 4096);
  EXPECT_EQ(failures, std::vector<std::uint32_t>{0x10});
  EXPECT_EQ(inbox.drive.downloadedBytes(), 4096u);
  EXPECT_FALSE(inbox.drive.stagedImageMatchesPackage());
}

TEST(SimInboxFaults, AnErrorFailsTheCallAndLeavesTheDriveAlone) {
  DriveConfig config = test::testDrive("a");
  Fault f = test::fault(FaultRequest::Activate);
  f.error = 1117;
  config.faults = {f};
  const Bytes image = test::testImage(0x2000);
  Inbox inbox(config, image);
  download(inbox, image, 4096);
  const IoReply reply = send(*inbox.endpoint, test::kScsiMiniport, activateRequest(2));
  EXPECT_FALSE(reply.delivered);
  EXPECT_EQ(reply.error, 1117u);
  EXPECT_FALSE(inbox.drive.pendingSlot().has_value());
  EXPECT_EQ(inbox.drive.requestCount(FaultRequest::Activate), 1u);
}

}  // namespace
}  // namespace zevsim
