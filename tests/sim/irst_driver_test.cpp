// The IRST driver on the Intel controller's storage-port path: CSMI RAID
// configuration, "IntelNvm" Identify and "IntelFw " download and activate.
#include <gtest/gtest.h>

#include "sim/intel_rig.hpp"

namespace zevsim {
namespace {

using test::Bytes;
using test::get32;
using test::put32;
using test::put64;
using test::RigMember;

// Drive 0 "a" port 0, drive 1 "b" port 3, drive 2 "e" port 4 in volume 0;
// drive 3 "c" port 5 in volume 1; drive 4 "d" on bus 2, not in a volume; and
// the controller endpoint of the IRST path over them.
struct Irst {
  explicit Irst(std::vector<Fault> controllerFaults = {}, std::vector<Fault> driveBFaults = {},
                Activation activation = Activation::Reset, IntelDriver driver = IntelDriver::Irst) {
    DriveConfig b = test::testDrive("b", 10244);
    b.faults = std::move(driveBFaults);
    b.activation = activation;
    rig = std::make_unique<test::IntelRig>(
        driver,
        std::vector<std::vector<RigMember>>{
            {{test::testDrive("a"), 0}, {b, 3}, {test::testDrive("e"), 4}},
            {{test::testDrive("c"), 5}}},
        std::vector<RigMember>{{test::testDrive("d"), 2}}, test::testImage(10244),
        std::move(controllerFaults));
    endpoint = makeIrstControllerEndpoint(rig->model());
  }
  IoReply send(const Bytes& in) { return test::send(*endpoint, in); }
  NvmeDrive& drive(std::size_t i) { return rig->drive(i); }

  std::unique_ptr<test::IntelRig> rig;
  std::unique_ptr<Endpoint> endpoint;
};

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

// Sends the package image to the drive at path id 3 in pieces of piece
// bytes; returns each ReturnCode, ~0 for a request not delivered.
std::vector<std::uint32_t> download(Irst& irst, std::size_t piece) {
  std::vector<std::uint32_t> codes;
  test::inPieces(irst.rig->image(), piece,
                 [&](std::size_t offset, std::span<const std::uint8_t> part) {
                   const Bytes request = intelFwDownload(3, offset, part);
                   EXPECT_EQ(get32(request, 24), part.size() + 60);
                   EXPECT_EQ(get32(request, 52), part.size() + 32);
                   const IoReply reply = irst.send(request);
                   codes.push_back(reply.delivered ? get32(reply.reply, 20) : ~0u);
                 });
  return codes;
}

TEST(SimIrstCsmi, ReportsTheFirstSetWithMemberPorts) {
  Irst irst;
  const IoReply reply = irst.send(csmiRequest(2));
  ASSERT_TRUE(reply.delivered);
  const Bytes& r = reply.reply;
  ASSERT_EQ(r.size(), 336u);
  EXPECT_EQ(get32(r, 20), 0u);
  EXPECT_EQ(r[43], 3);  // the true member count, though two entries fit
  EXPECT_EQ(r[154], 0);
  EXPECT_EQ(r[290], 3);
  EXPECT_EQ(test::text(r, 64, 40), irst.drive(0).config().model);
  EXPECT_EQ(test::text(r, 200 + 40, 8), "KTW3LMZB");
  EXPECT_EQ(irst.rig->model().faults.countOf(FaultRequest::Csmi), 1u);
}

TEST(SimIrstCsmi, FillsTheEntriesTheLengthHasRoomFor) {
  const struct {
    std::size_t entries;
    std::uint32_t raidSet;
    std::uint32_t returnCode;
    std::uint8_t driveCount;
    std::vector<std::uint8_t> ports;  // port byte of each filled entry
  } cases[] = {{0, 0, 0, 3, {}},        {1, 0, 0, 3, {0}}, {3, 0, 0, 3, {0, 3, 4}},
               {5, 0, 0, 3, {0, 3, 4}}, {2, 1, 0, 1, {5}}, {2, 2, 3, 0, {}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.entries << " entries of set " << c.raidSet);
    Irst irst;
    const IoReply reply = irst.send(csmiRequest(c.entries, c.raidSet));
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
        EXPECT_TRUE(test::allZero(r, entry, entry + 136)) << m;
      }
    }
  }
}

TEST(SimIrstCsmi, ALengthShortOfTheFixedPartIsAParameterError) {
  Irst irst;
  Bytes request = csmiRequest(0);
  request.resize(63);
  put32(request, 24, 35);
  const IoReply reply = irst.send(request);
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 3u);
  EXPECT_EQ(reply.reply[43], 0);
}

TEST(SimIrstCsmi, FaultsStopTheRequest) {
  Irst irst({test::fault(FaultRequest::Csmi).nth(1).returnCode(26),
             test::fault(FaultRequest::Csmi).nth(2).error(1117)});
  const IoReply first = irst.send(csmiRequest(2));
  ASSERT_TRUE(first.delivered);
  EXPECT_EQ(get32(first.reply, 20), 26u);
  EXPECT_EQ(first.reply[43], 0);
  const IoReply second = irst.send(csmiRequest(2));
  EXPECT_FALSE(second.delivered);
  EXPECT_EQ(second.error, 1117u);
  EXPECT_EQ(get32(irst.send(csmiRequest(2)).reply, 20), 0u);
}

TEST(SimIrstIntelNvm, IdentifiesTheDriveAtThePathIdOrBusNumber) {
  Irst irst;
  const IoReply reply = irst.send(intelNvmIdentify(3));
  ASSERT_TRUE(reply.delivered);
  ASSERT_EQ(reply.reply.size(), 4260u);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  const auto identify = irst.drive(1).identifyController();
  EXPECT_TRUE(std::equal(identify.begin(), identify.end(), reply.reply.begin() + 164));
  EXPECT_EQ(test::text(reply.reply, 168, 20), irst.drive(1).config().serial);
  EXPECT_EQ(irst.drive(1).requestCount(FaultRequest::Identify), 1u);
  EXPECT_EQ(irst.drive(0).requestCount(FaultRequest::Identify), 0u);
  // A pass-through drive is reached by its bus number.
  const IoReply passThrough = irst.send(intelNvmIdentify(2));
  ASSERT_TRUE(passThrough.delivered);
  EXPECT_EQ(test::text(passThrough.reply, 168, 20), irst.drive(4).config().serial);
  // The data goes where the record says.
  const IoReply moved = irst.send(intelNvmIdentify(0, 4300, 200));
  ASSERT_TRUE(moved.delivered);
  EXPECT_EQ(test::text(moved.reply, 200 + 64, 8), "KTW3LMZB");
  EXPECT_TRUE(test::allZero(moved.reply, 124, 200));
}

TEST(SimIrstIntelNvm, ANonexistentDriveIsNotDelivered) {
  const struct {
    test::Edit edit;
    std::uint32_t error;
  } cases[] = {{{"unknown path id", 29, 9, 1}, test::kErrIoDevice},
               {{"path id 255", 29, 255, 1}, test::kErrIoDevice},
               {{"target id", 30, 1, 1}, test::kErrIoDevice},
               {{"logical unit", 31, 1, 1}, test::kErrIoDevice},
               {{"record version", 28, 2, 1}, test::kErrInvalidParameter}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit.name);
    Irst irst;
    const IoReply reply = irst.send(test::edited(intelNvmIdentify(3), c.edit));
    EXPECT_FALSE(reply.delivered);
    EXPECT_EQ(reply.error, c.error);
    EXPECT_TRUE(reply.reply.empty());
  }
}

TEST(SimIrstIntelNvm, AnUnusableRecordIsAParameterError) {
  const struct {
    test::Edit edit;
    bool counted;
  } cases[] = {{{"short data", 120, 4095}, true},
               {{"data past the end", 116, 165}, true},
               {{"data over the record", 116, 100}, true},
               {{"not Identify", 32, 2}, false},
               {{"namespace Identify", 72, 0}, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit.name);
    Irst irst;
    const IoReply reply = irst.send(test::edited(intelNvmIdentify(3), c.edit));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), 3u);
    EXPECT_EQ(reply.reply[164 + 64], 0);
    EXPECT_EQ(irst.drive(1).requestCount(FaultRequest::Identify), c.counted ? 1u : 0u);
  }
}

TEST(SimIrstIntelNvm, TheDataLengthIsExactlyTheIdentifyData) {
  // A request with room to spare: only 4096 is taken.
  for (const std::uint32_t length : {4096u, 4097u, 4136u}) {
    SCOPED_TRACE(length);
    Irst irst;
    Bytes request = intelNvmIdentify(3, 4300);
    put32(request, 120, length);
    const IoReply reply = irst.send(request);
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), length == 4096 ? 0u : 3u);
  }
}

TEST(SimIrstIntelNvm, AReturnCodeFaultLeavesTheDataEmpty) {
  Irst irst({}, {test::fault(FaultRequest::Identify).returnCode(9)});
  const IoReply reply = irst.send(intelNvmIdentify(3));
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 9u);
  EXPECT_EQ(reply.reply[164 + 64], 0);
}

TEST(SimIrstIntelFw, AShortLastPieceCompletesTheImageAndActivates) {
  Irst irst;
  EXPECT_EQ(download(irst, 4096), (std::vector<std::uint32_t>{0, 0, 0}));
  EXPECT_TRUE(irst.drive(1).stagedImageMatchesPackage());
  EXPECT_EQ(irst.drive(1).requestCount(FaultRequest::Download), 3u);
  EXPECT_EQ(irst.drive(0).downloadedBytes(), 0u);
  const IoReply reply = irst.send(intelFwActivate(3, 2));
  ASSERT_TRUE(reply.delivered);
  ASSERT_EQ(reply.reply.size(), 68u);
  EXPECT_EQ(get32(reply.reply, 20), 0u);
  EXPECT_EQ(irst.drive(1).firmwareAfterReset(), "KTW8LMZB");
}

TEST(SimIrstIntelFw, ActivateReturnsTheFirmwareStatus) {
  const struct {
    const char* name;
    Activation activation;
    std::uint8_t slot;
    std::size_t piece;  // 0: nothing downloaded
    std::uint32_t returnCode;
  } cases[] = {{"slot 2", Activation::Reset, 2, 4096, 0},
               {"power cycle drive", Activation::PowerCycle, 2, 8192, 0x20},
               {"read-only slot 1", Activation::Reset, 1, 4096, 6},
               {"slot 7", Activation::Reset, 7, 4096, 6},
               {"nothing downloaded", Activation::Reset, 2, 0, 7}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Irst irst({}, {}, c.activation);
    if (c.piece != 0) {
      download(irst, c.piece);
    }
    const IoReply reply = irst.send(intelFwActivate(3, c.slot));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), c.returnCode);
  }
}

TEST(SimIrstIntelFw, ARecordOverTheRequestBlockOrShortOfItsPieceIsAParameterError) {
  Irst irst;
  Bytes activate = intelFwActivate(3, 2);
  put32(activate, 48, 40);
  put32(activate, 52, 28);
  const IoReply reply = irst.send(activate);
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 3u);
  // A piece longer than its record.
  Bytes piece = intelFwDownload(3, 0, std::span(irst.rig->image()).first(4096));
  put64(piece, 72, 4100);
  EXPECT_EQ(get32(irst.send(piece).reply, 20), 3u);
  EXPECT_EQ(irst.drive(1).downloadedBytes(), 0u);
}

TEST(SimIrstIntelFw, TakesOnlyTheDownloadRecordThePackageSends) {
  // STORAGE_FIRMWARE_DOWNLOAD_V2, Size 32, Slot 0xFF, ImageSize 0, Flags 1.
  const struct {
    test::Edit edit;
    std::uint32_t returnCode;
  } cases[] = {{{"as sent", 56, 2}, 0},
               {{"version 1", 56, 1}, 3},
               {{"Size 40, the padded sizeof", 60, 40}, 3},
               {{"version 3", 56, 3}, 3},
               {{"slot 2", 80, 2, 1}, 3},
               {{"slot 0", 80, 0, 1}, 3},
               {{"image size given", 84, 10244}, 3},
               {{"no controller flag", 44, 0}, 3},
               {{"another flag", 44, 3}, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit.name);
    Irst irst;
    const Bytes request = intelFwDownload(3, 0, std::span(irst.rig->image()).first(4096));
    const IoReply reply = irst.send(test::edited(request, c.edit));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), c.returnCode);
    EXPECT_EQ(irst.drive(1).downloadedBytes(), c.returnCode == 0 ? 4096u : 0u);
  }
}

TEST(SimIrstIntelFw, TakesOnlyTheActivateRecordThePackageSends) {
  const struct {
    test::Edit edit;
    std::uint32_t returnCode;
  } cases[] = {{{"as sent", 64, 2, 1}, 0},
               {{"Size 16", 60, 16}, 3},
               {{"Size 8", 60, 8}, 3},
               {{"version 2", 56, 2}, 3},
               {{"no controller flag", 44, 0}, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit.name);
    Irst irst;
    download(irst, 4096);
    const IoReply reply = irst.send(test::edited(intelFwActivate(3, 2), c.edit));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), c.returnCode);
    EXPECT_EQ(irst.drive(1).pendingSlot().has_value(), c.returnCode == 0);
  }
}

TEST(SimIrstIntelFw, DataBeyondLengthIsAParameterErrorThoughTheBufferHoldsIt) {
  // The 68-byte activate request with Length 36: its record at 56 (12 bytes)
  // reaches past HeaderLength + Length = 64.
  Irst irst;
  download(irst, 4096);
  Bytes request = intelFwActivate(3, 2);
  put32(request, 24, 36);
  const IoReply reply = irst.send(request);
  ASSERT_TRUE(reply.delivered);
  EXPECT_EQ(get32(reply.reply, 20), 3u);
  EXPECT_FALSE(irst.drive(1).pendingSlot().has_value());
}

// The slot information request as the package sends it: 248 bytes, room for
// seven 24-byte slot entries after the 24-byte head of the record.
Bytes intelFwGetInfo(std::uint8_t pathId, std::size_t size = 248) {
  Bytes b = intelFwRequest(pathId, 1, size);
  put32(b, 56, 2);   // Version
  put32(b, 60, 48);  // Size
  return b;
}

TEST(SimIrstIntelFwGetInfo, DescribesEverySlotOfTheDriveAtThePathId) {
  Irst irst;
  const IoReply reply = irst.send(intelFwGetInfo(3));
  ASSERT_TRUE(reply.delivered);
  const Bytes& r = reply.reply;
  ASSERT_EQ(r.size(), 248u);
  EXPECT_EQ(get32(r, 20), 0u);
  EXPECT_EQ(get32(r, 56), 2u);     // Version
  EXPECT_EQ(get32(r, 60), 48u);    // Size
  EXPECT_EQ(r[64], 1);             // UpgradeSupport
  EXPECT_EQ(r[65], 2);             // SlotCount
  EXPECT_EQ(r[66], 1);             // ActiveSlot
  EXPECT_EQ(r[67], 0xFF);          // PendingActivateSlot: none
  EXPECT_EQ(r[68], 1);             // FirmwareShared
  EXPECT_EQ(get32(r, 72), 4096u);  // ImagePayloadAlignment
  EXPECT_EQ(get32(r, 76), 0u);     // ImagePayloadMaxSize: no limit
  EXPECT_EQ(r[80], 1);
  EXPECT_EQ(r[81], 1);
  EXPECT_EQ(test::text(r, 88, 8), "KTW3LMZB");
  EXPECT_TRUE(test::allZero(r, 96, 104));
  EXPECT_EQ(r[104], 2);
  EXPECT_EQ(r[105], 0);
  EXPECT_EQ(test::text(r, 112, 8), "KTW3LMZB");
  EXPECT_TRUE(test::allZero(r, 120));
  EXPECT_EQ(irst.drive(1).requestCount(FaultRequest::GetInfo), 1u);
  EXPECT_EQ(irst.drive(0).requestCount(FaultRequest::GetInfo), 0u);
}

TEST(SimIrstIntelFwGetInfo, ReportsWhatAnEarlierRunLeftAndTheTransferLimit) {
  DriveConfig left = test::testDrive("left");
  left.slots = 7;
  left.activeSlot = 2;
  left.slotFirmware = {"KTW1LMZB", "KTW3LMZB", "KTW8LMZB", "A", "B", "C", "KTWÿ"};
  left.slotFirmware[3].resize(8, ' ');
  left.slotFirmware[4].resize(8, ' ');
  left.slotFirmware[5].resize(8, ' ');
  left.slotFirmware[6].resize(8, ' ');
  left.pendingSlot = 3;
  left.mdts = 131072;
  test::IntelRig rig(IntelDriver::Irst, {}, {{left, 9}});
  auto endpoint = makeIrstControllerEndpoint(rig.model());
  const IoReply reply = test::send(*endpoint, intelFwGetInfo(9));
  ASSERT_TRUE(reply.delivered);
  const Bytes& r = reply.reply;
  EXPECT_EQ(get32(r, 20), 0u);
  EXPECT_EQ(r[65], 7);
  EXPECT_EQ(r[66], 2);
  EXPECT_EQ(r[67], 3);
  EXPECT_EQ(get32(r, 76), 131072u);
  for (std::size_t n = 0; n < 7; ++n) {
    EXPECT_EQ(r[80 + 24 * n], n + 1) << n;
    EXPECT_EQ(test::text(r, 88 + 24 * n, 8), left.slotFirmware[n]) << n;
  }
}

TEST(SimIrstIntelFwGetInfo, RefusesARecordItCannotFill) {
  const struct {
    test::Edit edit;
    std::uint32_t returnCode;
  } cases[] = {{{"as sent", 56, 2}, 0},
               {{"version 1 record", 56, 1}, 3},
               {{"Size 32", 60, 32}, 3},
               {{"Size 0", 60, 0}, 3},
               {{"no controller flag", 44, 0}, 3},
               {{"room for one slot", 52, 48}, 3},
               {{"room for two slots", 52, 72}, 0},
               {{"data beyond Length", 24, 100}, 3}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit.name);
    Irst irst;
    const IoReply reply = irst.send(test::edited(intelFwGetInfo(3), c.edit));
    ASSERT_TRUE(reply.delivered);
    EXPECT_EQ(get32(reply.reply, 20), c.returnCode);
    EXPECT_EQ(reply.reply.at(65), c.returnCode == 0 ? 2 : 0);
  }
}

TEST(SimIrstIntelFwGetInfo, ADriveMissingAtThePathIdIsNotDelivered) {
  Irst irst;
  const IoReply reply = irst.send(intelFwGetInfo(9));
  EXPECT_FALSE(reply.delivered);
  EXPECT_EQ(reply.error, test::kErrIoDevice);
}

TEST(SimIrstIntelFwGetInfo, FaultsStopTheRequest) {
  Irst irst({}, {test::fault(FaultRequest::GetInfo).nth(1).error(1117),
                 test::fault(FaultRequest::GetInfo).nth(2).returnCode(0x10)});
  const IoReply first = irst.send(intelFwGetInfo(3));
  EXPECT_FALSE(first.delivered);
  EXPECT_EQ(first.error, 1117u);
  const IoReply second = irst.send(intelFwGetInfo(3));
  ASSERT_TRUE(second.delivered);
  EXPECT_EQ(get32(second.reply, 20), 0x10u);
  EXPECT_EQ(second.reply[65], 0);
  EXPECT_EQ(irst.send(intelFwGetInfo(3)).reply[65], 2);
  EXPECT_EQ(irst.drive(1).requestCount(FaultRequest::GetInfo), 3u);
}

TEST(SimIrstIntelFw, AMalformedRequestIsNotDelivered) {
  const struct {
    test::Edit edit;
    std::uint32_t error;
  } cases[] = {{{"function 4", 40, 4}, test::kErrInvalidParameter},
               {{"request block version", 32, 2}, test::kErrInvalidParameter},
               {{"control code", 16, 0xF0000041}, test::kErrInvalidParameter},
               {{"HeaderLength", 0, 32}, test::kErrInvalidParameter},
               {{"unknown path id", 28, 0x0000'0901}, test::kErrIoDevice}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.edit.name);
    Irst irst;
    const IoReply reply = irst.send(test::edited(intelFwActivate(3, 2), c.edit));
    EXPECT_FALSE(reply.delivered);
    EXPECT_EQ(reply.error, c.error);
    EXPECT_EQ(irst.drive(1).requestCount(FaultRequest::Activate), 0u);
  }
}

TEST(SimIrstIntelFw, FaultsCountOnTheAddressedDrive) {
  Irst irst({}, {test::fault(FaultRequest::Download).nth(2).error(1117)});
  EXPECT_EQ(download(irst, 4096), (std::vector<std::uint32_t>{0, ~0u, 0}));
  EXPECT_EQ(irst.drive(1).downloadedBytes(), 4096u + 2052u);
}

TEST(SimIrstController, OtherRequestsAreRefused) {
  Irst irst;
  EXPECT_EQ(irst.endpoint->request(0x002D1080, {}, 12).error, test::kErrInvalidFunction);
  const IoReply unknown = irst.send(test::srbRequest(64, "NvmeRAID", 0xE0002014));
  EXPECT_FALSE(unknown.delivered);
  EXPECT_EQ(unknown.error, test::kErrInvalidParameter);
}

TEST(SimIrstController, AVrocDriverAnswersNothingOnThisPath) {
  Irst vroc({}, {}, Activation::Reset, IntelDriver::Vroc);
  for (const Bytes& request : {csmiRequest(2), intelNvmIdentify(3), intelFwActivate(3, 2)}) {
    const IoReply reply = vroc.send(request);
    EXPECT_FALSE(reply.delivered);
    EXPECT_EQ(reply.error, test::kErrInvalidFunction);
  }
  EXPECT_EQ(vroc.rig->model().faults.countOf(FaultRequest::Csmi), 0u);
}

}  // namespace
}  // namespace zevsim
