// The NVMe drive model: Identify Controller contents, the piece rules of
// Firmware Image Download, commit and activation, report accessors, faults.
#include "nvme_drive.hpp"

#include <gtest/gtest.h>

#include "sim/request_bytes.hpp"

namespace zevsim {
namespace {

using test::Bytes;
using test::testDrive;
using test::testImage;

Bytes identifyOf(const NvmeDrive& drive) {
  const auto data = drive.identifyController();
  return Bytes(data.begin(), data.end());
}

// Sends image in pieces of piece bytes (the last one short); true when every
// piece was accepted.
bool sendImage(NvmeDrive& drive, const Bytes& image, std::size_t piece) {
  bool all = true;
  for (std::size_t offset = 0; offset < image.size(); offset += piece) {
    const std::size_t n = std::min(piece, image.size() - offset);
    all = drive.downloadPiece(offset, std::span(image).subspan(offset, n)) && all;
  }
  return all;
}

TEST(NvmeDriveIdentify, CarriesTheDriveTextsVendorAndVersion) {
  DriveConfig config = testDrive("a");
  config.nvmeMajor = 1;
  config.nvmeMinor = 4;
  config.fwug = 8;
  const NvmeDrive drive(config, {});
  const Bytes id = identifyOf(drive);
  EXPECT_EQ(test::get16(id, 0), 0x1D9B);
  EXPECT_EQ(test::text(id, 4, 20), config.serial);
  EXPECT_EQ(test::text(id, 24, 40), config.model);
  EXPECT_EQ(test::text(id, 64, 8), "KTW3LMZB");
  EXPECT_EQ(id[81], 4);               // MNR
  EXPECT_EQ(test::get16(id, 82), 1);  // MJR
  EXPECT_EQ(id[80], 0);               // TER
  EXPECT_EQ(id[319], 8);
  EXPECT_EQ(test::get16(id, 256) & 0x4, 0x4);  // firmware commands supported
}

TEST(NvmeDriveIdentify, PadsShortTextsWithBlanksAndOffersNoFirmwareCommandsWithoutUpgrades) {
  DriveConfig config = testDrive("a");
  config.firmware = "AB";
  config.upgradeSupport = false;
  const Bytes id = identifyOf(NvmeDrive(config, {}));
  EXPECT_EQ(test::text(id, 64, 8), "AB      ");
  EXPECT_EQ(test::get16(id, 256) & 0x4, 0);
}

TEST(NvmeDriveIdentify, FrmwEncodesSlotsReadOnlyAndActivation) {
  const struct {
    std::uint32_t slots;
    bool slot1ReadOnly;
    Activation activation;
    std::uint8_t frmw;
  } cases[] = {{2, true, Activation::Reset, 0x05},
               {2, false, Activation::Reset, 0x04},
               {7, true, Activation::PowerCycle, 0x0F},
               {0, false, Activation::Reset, 0x00},
               {3, true, Activation::Immediate, 0x17}};
  for (const auto& c : cases) {
    DriveConfig config = testDrive("a");
    config.slots = c.slots;
    config.slot1ReadOnly = c.slot1ReadOnly;
    config.activation = c.activation;
    EXPECT_EQ(identifyOf(NvmeDrive(config, {}))[260], c.frmw) << c.slots;
  }
}

TEST(NvmeDriveIdentify, MdtsIsLog2OfFourKibUnits) {
  for (const auto& [mdts, field] :
       {std::pair<std::uint32_t, std::uint8_t>{0, 0}, {8192, 1}, {131072, 5}, {1u << 20, 8}}) {
    DriveConfig config = testDrive("a");
    config.mdts = mdts;
    EXPECT_EQ(identifyOf(NvmeDrive(config, {}))[77], field) << mdts;
  }
}

TEST(NvmeDriveIdentify, RawVerAndMdtsAreReturnedAsGiven) {
  // A capture's VER with a tertiary version, and an MDTS too wide to limit
  // anything: Identify returns the bytes, and the drive refuses no piece for
  // its size.
  DriveConfig config = testDrive("a");
  config.nvmeMajor = 2;
  config.nvmeMinor = 1;
  config.nvmeTertiary = 7;
  config.mdtsExponent = 200;
  config.mdts = 0;
  config.imageSize = 8192;
  NvmeDrive drive(config, {});
  const Bytes id = identifyOf(drive);
  EXPECT_EQ(test::get32(id, 80), 0x00020107u);
  EXPECT_EQ(id[77], 200);
  EXPECT_TRUE(drive.downloadPiece(0, Bytes(8192, 0x11)));
}

struct PieceCase {
  const char* name;
  std::uint8_t fwug;
  bool strict;
  std::uint32_t mdts;
  std::uint64_t offset;
  std::size_t size;
  bool accepted;
};

class NvmeDrivePieces : public testing::TestWithParam<PieceCase> {};

TEST_P(NvmeDrivePieces, FollowTheDriveRules) {
  const PieceCase& c = GetParam();
  DriveConfig config = testDrive("a", 0x6000);  // 24 KiB
  config.fwug = c.fwug;
  config.fwugStrict = c.strict;
  config.mdts = c.mdts;
  NvmeDrive drive(config, {});
  const Bytes data(c.size, 0xA5);
  EXPECT_EQ(drive.downloadPiece(c.offset, data), c.accepted) << c.name;
  EXPECT_EQ(drive.downloadedBytes(), c.accepted ? c.size : 0) << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    Table, NvmeDrivePieces,
    testing::Values(
        PieceCase{"aligned", 0, false, 0, 4096, 4096, true},
        PieceCase{"offset not dword aligned", 0, false, 0, 2, 4096, false},
        PieceCase{"size not dword aligned", 0, false, 0, 0, 4094, false},
        PieceCase{"empty", 0, false, 0, 0, 0, false},
        PieceCase{"last piece ends the image", 0, false, 0, 0x5000, 0x1000, true},
        PieceCase{"beyond the image", 0, false, 0, 0x5000, 0x1004, false},
        PieceCase{"offset beyond the image", 0, false, 0, 0x6000, 4, false},
        PieceCase{"at mdts", 0, false, 8192, 0, 8192, true},
        PieceCase{"over mdts", 0, false, 8192, 0, 8196, false},
        PieceCase{"lenient fwug takes any dword piece", 2, false, 0, 4, 4, true},
        PieceCase{"strict fwug multiple", 2, true, 0, 8192, 8192, true},
        PieceCase{"strict fwug short size", 2, true, 0, 0, 4096, false},
        PieceCase{"strict fwug offset off the unit", 2, true, 0, 4096, 8192, false},
        PieceCase{"strict fwug short piece short of the end", 4, true, 0, 0x4000, 0x1000, false},
        PieceCase{"strict fwug short piece ending the image", 4, true, 0, 0x4000, 0x2000, true},
        PieceCase{"strict fwug 0xFF has no granularity", 0xFF, true, 0, 4, 8, true},
        PieceCase{"strict fwug 0 has no granularity", 0, true, 0, 4, 8, true}));

TEST(NvmeDriveCommit, StoresTheImageRevisionAndMakesItPending) {
  const Bytes image = testImage(0x2000);
  NvmeDrive drive(testDrive("a"), image);
  ASSERT_TRUE(sendImage(drive, image, 4096));
  EXPECT_TRUE(drive.stagedImageMatchesPackage());
  EXPECT_EQ(drive.downloadedBytes(), 0x2000u);
  EXPECT_EQ(drive.commit(2), NvmeDrive::CommitResult::Success);
  EXPECT_EQ(drive.slotRevision(2), "KTW8LMZB");
  EXPECT_EQ(drive.slotRevision(1), "KTW3LMZB");
  EXPECT_EQ(drive.pendingSlot(), 2u);
  EXPECT_EQ(drive.runningFirmware(), "KTW3LMZB");
  EXPECT_EQ(drive.firmwareAfterReset(), "KTW8LMZB");
}

TEST(NvmeDriveCommit, ImmediateActivationRunsTheImageAtOnce) {
  DriveConfig config = testDrive("a");
  config.activation = Activation::Immediate;
  const Bytes image = testImage(0x2000);
  NvmeDrive drive(config, image);
  ASSERT_TRUE(sendImage(drive, image, 4096));
  EXPECT_EQ(drive.commit(2), NvmeDrive::CommitResult::Success);
  EXPECT_EQ(drive.activeSlot(), 2u);
  EXPECT_FALSE(drive.pendingSlot().has_value());
  EXPECT_EQ(drive.runningFirmware(), "KTW8LMZB");
  EXPECT_EQ(test::text(identifyOf(drive), 64, 8), "KTW8LMZB");
}

TEST(NvmeDriveCommit, TheRevisionComesFromTheImageBytes) {
  const Bytes image = testImage(0x2000, std::string_view("KTW8\0\0\0\0", 8));
  NvmeDrive drive(testDrive("a"), image);
  ASSERT_TRUE(sendImage(drive, image, 0x2000));
  ASSERT_EQ(drive.commit(2), NvmeDrive::CommitResult::Success);
  EXPECT_EQ(drive.firmwareAfterReset(), std::string("KTW8\0\0\0\0", 8));
}

struct CommitCase {
  const char* name;
  std::uint32_t slots;
  bool slot1ReadOnly;
  std::uint32_t slot;
  bool fullImage;
  NvmeDrive::CommitResult result;
};

class NvmeDriveCommitRules : public testing::TestWithParam<CommitCase> {};

TEST_P(NvmeDriveCommitRules, RefuseBadSlotsAndIncompleteImages) {
  const CommitCase& c = GetParam();
  DriveConfig config = testDrive("a");
  config.slots = c.slots;
  config.slot1ReadOnly = c.slot1ReadOnly;
  const Bytes image = testImage(0x2000);
  NvmeDrive drive(config, image);
  if (c.fullImage) {
    ASSERT_TRUE(sendImage(drive, image, 4096));
  } else {
    ASSERT_TRUE(drive.downloadPiece(0, std::span(image).first(4096)));
  }
  EXPECT_EQ(drive.commit(c.slot), c.result) << c.name;
  if (c.result != NvmeDrive::CommitResult::Success) {
    EXPECT_FALSE(drive.pendingSlot().has_value()) << c.name;
    EXPECT_EQ(drive.firmwareAfterReset(), "KTW3LMZB") << c.name;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Table, NvmeDriveCommitRules,
    testing::Values(
        CommitCase{"writable slot", 2, true, 2, true, NvmeDrive::CommitResult::Success},
        CommitCase{"read-only slot 1", 2, true, 1, true, NvmeDrive::CommitResult::InvalidSlot},
        CommitCase{"writable slot 1", 2, false, 1, true, NvmeDrive::CommitResult::Success},
        CommitCase{"slot 0", 2, true, 0, true, NvmeDrive::CommitResult::InvalidSlot},
        CommitCase{"slot past the count", 2, true, 3, true, NvmeDrive::CommitResult::InvalidSlot},
        CommitCase{"drive without slots", 0, false, 1, true, NvmeDrive::CommitResult::InvalidSlot},
        CommitCase{"incomplete image", 2, true, 2, false, NvmeDrive::CommitResult::InvalidImage},
        CommitCase{"read-only beats incomplete", 2, true, 1, false,
                   NvmeDrive::CommitResult::InvalidSlot}));

TEST(NvmeDriveStaging, AGapLeavesTheImageIncomplete) {
  const Bytes image = testImage(0x2000);
  NvmeDrive drive(testDrive("a"), image);
  ASSERT_TRUE(drive.downloadPiece(0, std::span(image).first(0x1000)));
  ASSERT_TRUE(drive.downloadPiece(0x1004, std::span(image).subspan(0x1004)));
  EXPECT_FALSE(drive.stagedImageMatchesPackage());
  EXPECT_EQ(drive.commit(2), NvmeDrive::CommitResult::InvalidImage);
  ASSERT_TRUE(drive.downloadPiece(0x1000, std::span(image).subspan(0x1000, 4)));
  EXPECT_TRUE(drive.stagedImageMatchesPackage());
  EXPECT_EQ(drive.commit(2), NvmeDrive::CommitResult::Success);
}

TEST(NvmeDriveStaging, PiecesMayArriveOutOfOrder) {
  const Bytes image = testImage(0x2000);
  NvmeDrive drive(testDrive("a"), image);
  ASSERT_TRUE(drive.downloadPiece(0, std::span(image).first(0x1000)));
  ASSERT_TRUE(drive.downloadPiece(0x1800, std::span(image).subspan(0x1800)));
  ASSERT_TRUE(drive.downloadPiece(0x1000, std::span(image).subspan(0x1000, 0x800)));
  EXPECT_TRUE(drive.stagedImageMatchesPackage());
}

TEST(NvmeDriveStaging, APieceAtOffsetZeroStartsANewImage) {
  const Bytes image = testImage(0x2000);
  NvmeDrive drive(testDrive("a"), image);
  ASSERT_TRUE(sendImage(drive, image, 4096));
  ASSERT_TRUE(drive.downloadPiece(0, std::span(image).first(4096)));
  EXPECT_FALSE(drive.stagedImageMatchesPackage());
  EXPECT_EQ(drive.commit(2), NvmeDrive::CommitResult::InvalidImage);
  EXPECT_EQ(drive.downloadedBytes(), 0x2000u + 4096u);
}

TEST(NvmeDriveStaging, ARefusedPieceAtOffsetZeroKeepsTheStagedImage) {
  const Bytes image = testImage(0x2000);
  NvmeDrive drive(testDrive("a"), image);
  ASSERT_TRUE(sendImage(drive, image, 4096));
  ASSERT_FALSE(drive.downloadPiece(0, std::span(image).first(6)));
  EXPECT_TRUE(drive.stagedImageMatchesPackage());
}

TEST(NvmeDriveStaging, ADifferentImageDoesNotMatchThePackage) {
  const Bytes package = testImage(0x2000);
  Bytes other = package;
  other[0x1FFF] ^= 1;
  NvmeDrive drive(testDrive("a"), package);
  ASSERT_TRUE(sendImage(drive, other, 4096));
  EXPECT_FALSE(drive.stagedImageMatchesPackage());
  EXPECT_EQ(drive.commit(2), NvmeDrive::CommitResult::Success);
}

// The staged image takes memory page by page as pieces arrive: a drive that
// declares 32 MiB and was sent 4 KiB holds one 64 KiB page. Pieces that cross
// pages still make up the image (its bytes differ from page to page).
TEST(NvmeDriveStaging, MemoryIsTakenAsPiecesArrive) {
  Bytes image = testImage(0x30008);
  for (std::size_t i = 0; i < image.size(); ++i) {
    image[i] = static_cast<std::uint8_t>(image[i] ^ (i >> 16));
  }
  NvmeDrive large(testDrive("a", 32u << 20), image);
  EXPECT_EQ(large.stagedBytesHeld(), 0u);
  ASSERT_TRUE(large.downloadPiece(0, std::span(image).first(4096)));
  EXPECT_EQ(large.stagedBytesHeld(), 0x10000u);

  NvmeDrive drive(testDrive("b", static_cast<std::uint32_t>(image.size())), image);
  ASSERT_TRUE(sendImage(drive, image, 0x3000));
  EXPECT_EQ(drive.stagedBytesHeld(), 0x40000u);
  EXPECT_TRUE(drive.stagedImageMatchesPackage());
  EXPECT_EQ(drive.commit(2), NvmeDrive::CommitResult::Success);
  EXPECT_EQ(drive.slotRevision(2), "KTW8LMZB");
}

TEST(NvmeDriveCommitActions, ReplaceWithoutActivationIsNotPendingButRewritesTheSlot) {
  const Bytes image = testImage(0x2000);
  DriveConfig config = testDrive("a");
  config.slot1ReadOnly = false;
  NvmeDrive drive(config, image);
  ASSERT_TRUE(sendImage(drive, image, 4096));
  EXPECT_EQ(drive.commit(2, NvmeDrive::CommitAction::Replace), NvmeDrive::CommitResult::Success);
  EXPECT_FALSE(drive.pendingSlot().has_value());
  EXPECT_EQ(drive.firmwareAfterReset(), "KTW3LMZB");
  // Replacing the active slot's image takes effect at the next reset.
  EXPECT_EQ(drive.commit(1, NvmeDrive::CommitAction::Replace), NvmeDrive::CommitResult::Success);
  EXPECT_EQ(drive.runningFirmware(), "KTW3LMZB");
  EXPECT_EQ(drive.firmwareAfterReset(), "KTW8LMZB");
}

TEST(NvmeDriveCommitActions, ActivatingAnExistingImageNeedsNoDownload) {
  NvmeDrive drive(testDrive("a"), {});
  EXPECT_EQ(drive.commit(1, NvmeDrive::CommitAction::ActivateAtReset),
            NvmeDrive::CommitResult::Success);
  EXPECT_EQ(drive.pendingSlot(), 1u);
  EXPECT_EQ(drive.commit(3, NvmeDrive::CommitAction::ActivateAtReset),
            NvmeDrive::CommitResult::InvalidSlot);
}

TEST(NvmeDriveCommitActions, ActionOneWaitsForAResetEvenOnAnImmediateDrive) {
  DriveConfig config = testDrive("a");
  config.activation = Activation::Immediate;
  const Bytes image = testImage(0x2000);
  NvmeDrive drive(config, image);
  ASSERT_TRUE(sendImage(drive, image, 4096));
  EXPECT_EQ(drive.commit(2, NvmeDrive::CommitAction::ReplaceAndActivateAtReset),
            NvmeDrive::CommitResult::Success);
  EXPECT_EQ(drive.runningFirmware(), "KTW3LMZB");
  EXPECT_EQ(drive.firmwareAfterReset(), "KTW8LMZB");
}

TEST(NvmeDriveSlots, StartWithTheRunningRevision) {
  DriveConfig config = testDrive("a");
  config.slots = 3;
  config.activeSlot = 2;
  const NvmeDrive drive(config, {});
  for (std::uint32_t slot = 1; slot <= 3; ++slot) {
    EXPECT_EQ(drive.slotRevision(slot), "KTW3LMZB");
  }
  EXPECT_TRUE(drive.slotReadOnly(1));
  EXPECT_FALSE(drive.slotReadOnly(2));
  EXPECT_EQ(drive.activeSlot(), 2u);
  EXPECT_EQ(drive.firmwareAfterReset(), "KTW3LMZB");
}

TEST(NvmeDriveSlots, AnEarlierRunLeavesItsRevisionsAndPendingSlot) {
  const struct {
    const char* name;
    std::vector<std::string> slotFirmware;
    std::optional<std::uint32_t> pendingSlot;
    const char* afterReset;
  } cases[] = {{"pending slot 2", {"KTW3LMZB", "KTW8LMZB", "KTW5LMZB"}, 2, "KTW8LMZB"},
               {"pending slot 1, read-only", {"KTW1LMZB", "KTW3LMZB", "KTW5LMZB"}, 1, "KTW1LMZB"},
               {"nothing pending: the active slot",
                {"KTW1LMZB", "KTW3LMZB", "KTW5LMZB"},
                std::nullopt,
                "KTW3LMZB"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    DriveConfig config = testDrive("a");
    config.slots = 3;
    config.activeSlot = 2;
    config.slotFirmware = c.slotFirmware;
    config.pendingSlot = c.pendingSlot;
    const NvmeDrive drive(config, {});
    for (std::uint32_t slot = 1; slot <= 3; ++slot) {
      EXPECT_EQ(drive.slotRevision(slot), c.slotFirmware[slot - 1]) << slot;
    }
    EXPECT_EQ(drive.pendingSlot(), c.pendingSlot);
    EXPECT_EQ(drive.runningFirmware(), "KTW3LMZB");  // FR: `firmware`
    EXPECT_EQ(drive.firmwareAfterReset(), c.afterReset);
  }
}

TEST(NvmeDriveSlots, ACommitReplacesTheLeftPendingSlot) {
  DriveConfig config = testDrive("a");
  config.slots = 3;
  config.slotFirmware = {"KTW3LMZB", "KTW5LMZB", "KTW6LMZB"};
  config.pendingSlot = 3;
  NvmeDrive drive(config, {});
  ASSERT_TRUE(sendImage(drive, testImage(config.imageSize), 4096));
  ASSERT_EQ(drive.commit(2), NvmeDrive::CommitResult::Success);
  EXPECT_EQ(drive.pendingSlot(), 2u);
  EXPECT_EQ(drive.slotRevision(3), "KTW6LMZB");
  EXPECT_EQ(drive.firmwareAfterReset(), "KTW8LMZB");
}

TEST(NvmeDriveFaults, CountPerKindAndMatchTheNthRequest) {
  DriveConfig config = testDrive("a");
  Fault second = test::fault(FaultRequest::Download);
  second.nth = 2;
  second.error = 1117;
  Fault every = test::fault(FaultRequest::Activate);
  every.returnCode = 7;
  config.faults = {second, every};
  NvmeDrive drive(config, {});
  EXPECT_EQ(drive.countRequest(FaultRequest::Download), nullptr);
  const Fault* hit = drive.countRequest(FaultRequest::Download);
  ASSERT_NE(hit, nullptr);
  EXPECT_EQ(hit->error, 1117u);
  EXPECT_EQ(drive.countRequest(FaultRequest::Download), nullptr);
  EXPECT_EQ(drive.countRequest(FaultRequest::GetInfo), nullptr);
  for (int i = 0; i < 3; ++i) {
    const Fault* each = drive.countRequest(FaultRequest::Activate);
    ASSERT_NE(each, nullptr);
    EXPECT_EQ(each->returnCode, 7u);
  }
  EXPECT_EQ(drive.requestCount(FaultRequest::Download), 3u);
  EXPECT_EQ(drive.requestCount(FaultRequest::Activate), 3u);
  EXPECT_EQ(drive.requestCount(FaultRequest::GetInfo), 1u);
  EXPECT_EQ(drive.requestCount(FaultRequest::Identify), 0u);
}

TEST(NvmeDriveFaults, TheFirstMatchingEntryWins) {
  Fault third = test::fault(FaultRequest::Identify);
  third.nth = 3;
  third.error = 5;
  Fault every = test::fault(FaultRequest::Identify);
  every.error = 6;
  const std::vector<Fault> faults{third, every};
  EXPECT_EQ(findFault(faults, FaultRequest::Identify, 3)->error, 5u);
  EXPECT_EQ(findFault(faults, FaultRequest::Identify, 2)->error, 6u);
  EXPECT_EQ(findFault(faults, FaultRequest::Open, 3), nullptr);
}

}  // namespace
}  // namespace zevsim
