// The IRST update path: the "IntelFw " records against hand-written bytes,
// and updateThroughIrst, irstDownload and irstActivate on a simulated machine.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "platform/device_request.hpp"
#include "platform/platform_constants.hpp"
#include "records/irst_records.hpp"
#include "support/bound_machine.hpp"
#include "update/update_paths.hpp"

namespace zev {
namespace {

using Bytes = std::vector<std::uint8_t>;

void expectRuns(const Bytes& request, const std::vector<std::pair<std::size_t, Bytes>>& runs) {
  Bytes expected(request.size(), 0);
  for (const auto& [offset, bytes] : runs) {
    ASSERT_LE(offset + bytes.size(), request.size());
    std::copy(bytes.begin(), bytes.end(), expected.begin() + offset);
  }
  for (std::size_t i = 0; i < request.size(); ++i) {
    ASSERT_EQ(request[i], expected[i]) << "byte " << i;
  }
}

TEST(IntelFwRecords, DownloadRequestMatchesTheHandWrittenBytes) {
  const Bytes piece{0xDE, 0xAD, 0xBE, 0xEF, 0x01, 0x02, 0x03, 0x04};
  Bytes request(96, 0);
  ASSERT_EQ(irst::downloadRequestSize(piece.size()), request.size());
  // An offset above 4 GiB shows that all eight bytes of the field are written.
  irst::writeDownloadRequest(request, 0x07, 0x0000000123456000ull, piece);
  expectRuns(request, {
                          {0, {0x1C, 0, 0, 0}},                                     // HeaderLength
                          {4, {'I', 'n', 't', 'e', 'l', 'F', 'w', ' '}},            // Signature
                          {12, {0x1E, 0, 0, 0}},                                    // Timeout 30
                          {16, {0x40, 0x00, 0x00, 0xF0}},                           // 0xF0000040
                          {24, {68, 0, 0, 0}},                                      // Length
                          {28, {0x01, 0x07, 0x00, 0x00}},                           // address
                          {32, {1, 0, 0, 0, 24, 0, 0, 0, 2, 0, 0, 0, 1, 0, 0, 0}},  // block
                          {48, {56, 0, 0, 0, 40, 0, 0, 0}},  // data offset, length
                          {56, {2, 0, 0, 0, 32, 0, 0, 0}},   // V2, Size 32
                          {64, {0x00, 0x60, 0x45, 0x23, 0x01, 0x00, 0x00, 0x00}},  // Offset
                          {72, {8, 0, 0, 0, 0, 0, 0, 0}},                          // BufferSize
                          {80, {0xFF, 0, 0, 0, 0, 0, 0, 0}},  // Slot, ImageSize
                          {88, piece},                        // image bytes
                      });
}

TEST(IntelFwRecords, AFullPieceRequestIs4184Bytes) {
  EXPECT_EQ(irst::downloadRequestSize(4096), 4184u);
  EXPECT_EQ(irst::downloadRequestSize(32768), 32856u);
}

TEST(IntelFwRecords, ActivateRequestMatchesTheHandWrittenBytes) {
  Bytes request(irst::kActivateRequestSize, 0);
  ASSERT_EQ(request.size(), 68u);
  irst::writeActivateRequest(request, 0xFF);
  expectRuns(request, {
                          {0, {0x1C, 0, 0, 0}},
                          {4, {'I', 'n', 't', 'e', 'l', 'F', 'w', ' '}},
                          {12, {0x1E, 0, 0, 0}},
                          {16, {0x40, 0x00, 0x00, 0xF0}},
                          {24, {40, 0, 0, 0}},                                      // Length 40
                          {28, {0x01, 0xFF, 0x00, 0x00}},                           // address
                          {32, {1, 0, 0, 0, 24, 0, 0, 0, 3, 0, 0, 0, 1, 0, 0, 0}},  // activate
                          {48, {56, 0, 0, 0, 12, 0, 0, 0}},             // data offset, length
                          {56, {1, 0, 0, 0, 12, 0, 0, 0, 2, 0, 0, 0}},  // slot 2
                      });
}

using testsupport::BoundMachine;
using testsupport::le32At;
using testsupport::signatureOf;
using zevsim::CallFault;
using zevsim::CallKind;
using zevsim::FaultRequest;

constexpr std::uint32_t kImageLength = 2097152;

// A RAID 1 of drives "a" (port 0) and "b" (port 1) on an upgradable
// revision; extra keys (each beginning with a comma) for drive "a".
std::string raid1(const std::string& driveAKeys = "") {
  return R"({ "drives": [ { "id": "a", "serial": "SN-A", "firmware": "KTW5LMZB")" + driveAKeys +
         R"( }, { "id": "b", "serial": "SN-B", "firmware": "KTW5LMZB" } ],
    "intelController": { "raidVolumes": [ { "members": [ { "drive": "a", "port": 0 },
                                                         { "drive": "b", "port": 1 } ] } ] } })";
}

DiskInfo member(const BoundMachine& sim, std::int64_t pathId, std::int32_t granularity = 1,
                DriverKind kind = DriverKind::IrstRaid) {
  DiskInfo disk;
  disk.devicePath = sim.controllerPath();
  disk.pathId = pathId;
  disk.driverKind = kind;
  disk.modelNumber = L"KELDORA TQ270c 1TB";
  disk.serialNumber = L"SN-A";
  disk.firmwareRevision = L"KTW5LMZB";
  disk.updateGranularity = granularity;
  return disk;
}

std::string targetBlock(const char* raid) {
  return std::string(
             "\n"
             "---------------------------------------------\n"
             " Firmware Download | Target Disk Information \n"
             "---------------------------------------------\n"
             " Driver : IRST Driver\n"
             " Raid : ") +
         raid +
         "\n"
         " Model Number : KELDORA TQ270c 1TB\n"
         " Serial Number : SN-A\n"
         " Current FW : KTW5LMZB\n"
         " Updated FW : KTW8LMZB\n"
         "---------------------------------------------\n";
}

std::vector<zevsim::CallRecord> firmwareRequests(const BoundMachine& sim, std::uint32_t function) {
  std::vector<zevsim::CallRecord> out;
  for (const auto& call : sim.requests(platform::kIoctlScsiMiniport)) {
    if (signatureOf(call) == "IntelFw " && le32At(call, 40) == function) {
      out.push_back(call);
    }
  }
  return out;
}

TEST(UpdateThroughIrst, SendsTheWholeImageAndActivatesSlot2) {
  BoundMachine sim(raid1());
  std::uint32_t transferLength = kImageLength;
  ConsoleCapture console;
  EXPECT_EQ(updateThroughIrst(member(sim, 0), transferLength, zev::packageImage(),
                              zev::buildPackageIdentity())
                .code,
            0);
  EXPECT_EQ(console.text(), targetBlock("Yes") +
                                "\n"
                                "  [PASS] Firmware download succeeded.\n"
                                "  [PASS] Firmware activation succeeded.\n\n");

  const auto downloads = firmwareRequests(sim, 2);
  ASSERT_EQ(downloads.size(), 512u);
  for (std::size_t i = 0; i < downloads.size(); ++i) {
    ASSERT_EQ(downloads[i].inSize, 4184u) << i;
    ASSERT_EQ(downloads[i].outSize, 4184u) << i;
    ASSERT_EQ(le32At(downloads[i], 64), i * 4096u) << i;  // Offset, low half
    ASSERT_EQ(le32At(downloads[i], 72), 4096u) << i;      // BufferSize, low half
  }
  const auto activations = firmwareRequests(sim, 3);
  ASSERT_EQ(activations.size(), 1u);
  EXPECT_EQ(activations[0].inSize, 68u);
  EXPECT_EQ(activations[0].inputHead[64], 2);

  const auto opens = sim.calls(CallKind::CreateFile);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].shareMode, 0u);
  EXPECT_EQ(opens[0].flags, 0u);

  const zevsim::DriveReport a = sim.drive("a");
  EXPECT_EQ(a.downloadedBytes, kImageLength);
  EXPECT_TRUE(a.stagedImageMatchesPackage);
  EXPECT_EQ(a.firmwareAfterReset, "KTW8LMZB");
  EXPECT_EQ(sim.requestsOf("b", FaultRequest::Download), 0u);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

struct GranularityCase {
  std::int32_t granularity;
  std::size_t requests;
  std::uint32_t firstSize;
  std::uint32_t lastSize;
};

class IrstDownloadPieces : public testing::TestWithParam<GranularityCase> {};

TEST_P(IrstDownloadPieces, SendEveryByteOfTheImage) {
  BoundMachine sim(raid1());
  std::uint32_t transferLength = kImageLength;
  ConsoleCapture console;
  EXPECT_EQ(updateThroughIrst(member(sim, 0, GetParam().granularity), transferLength,
                              zev::packageImage(), zev::buildPackageIdentity())
                .code,
            0);
  const auto downloads = firmwareRequests(sim, 2);
  ASSERT_EQ(downloads.size(), GetParam().requests);
  EXPECT_EQ(downloads.front().inSize, GetParam().firstSize + 88u);
  const auto& last = downloads.back();
  EXPECT_EQ(last.inSize, GetParam().lastSize + 88u);
  EXPECT_EQ(last.outSize, GetParam().lastSize + 88u);
  EXPECT_EQ(le32At(last, 24), GetParam().lastSize + 60u);  // Length
  EXPECT_EQ(le32At(last, 52), GetParam().lastSize + 32u);  // DataBufferLength
  EXPECT_EQ(le32At(last, 72), GetParam().lastSize);        // BufferSize
  EXPECT_EQ(le32At(last, 64), kImageLength - GetParam().lastSize);
  const zevsim::DriveReport a = sim.drive("a");
  EXPECT_EQ(a.downloadedBytes, kImageLength);
  EXPECT_TRUE(a.stagedImageMatchesPackage);
}

INSTANTIATE_TEST_SUITE_P(Granularities, IrstDownloadPieces,
                         testing::Values(GranularityCase{1, 512, 4096, 4096},
                                         GranularityCase{8, 64, 32768, 32768},
                                         // 170 whole pieces and a short one of 8192 bytes.
                                         GranularityCase{3, 171, 12288, 8192},
                                         GranularityCase{255, 3, 1044480, 8192}));

// A granularity whose piece size is 0 (a multiple of 2^20 in 32-bit
// arithmetic) sends nothing, fails the download and never activates.
TEST(UpdateThroughIrst, APieceSizeThatCannotBeSentFailsWithoutActivation) {
  for (std::int32_t granularity : {0, 1 << 20}) {
    BoundMachine sim(raid1());
    std::uint32_t transferLength = kImageLength;
    ConsoleCapture console;
    EXPECT_EQ(updateThroughIrst(member(sim, 0, granularity), transferLength, zev::packageImage(),
                                zev::buildPackageIdentity())
                  .code,
              1)
        << granularity;
    EXPECT_NE(console.text().find("  [FAIL] Firmware download failed.\n"), std::string::npos);
    EXPECT_EQ(sim.requestsOf("a", FaultRequest::Download), 0u) << granularity;
    EXPECT_EQ(sim.requestsOf("a", FaultRequest::Activate), 0u) << granularity;
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
  }
}

TEST(UpdateThroughIrst, ANonRaidDrivePrintsRaidNo) {
  BoundMachine sim(R"({ "drives": [ { "id": "p", "firmware": "KTW5LMZB" } ],
      "intelController": { "passThrough": [ { "drive": "p", "busNumber": 3 } ] } })");
  std::uint32_t transferLength = kImageLength;
  ConsoleCapture console;
  EXPECT_EQ(updateThroughIrst(member(sim, 3, 1, DriverKind::IrstNonRaid), transferLength,
                              zev::packageImage(), zev::buildPackageIdentity())
                .code,
            0);
  EXPECT_EQ(console.text().substr(0, targetBlock("No").size()), targetBlock("No"));
  EXPECT_EQ(sim.requestsOf("p", FaultRequest::Download), 512u);
  EXPECT_EQ(sim.requestsOf("p", FaultRequest::Activate), 1u);
}

TEST(UpdateThroughIrst, AControllerThatDoesNotOpenGives5) {
  BoundMachine sim(raid1());
  CallFault fault;
  fault.kind = CallKind::CreateFile;
  fault.error = 0x1F;
  sim.machine().injectCallFault(fault);
  std::uint32_t transferLength = kImageLength;
  ConsoleCapture console;
  EXPECT_EQ(updateThroughIrst(member(sim, 0), transferLength, zev::packageImage(),
                              zev::buildPackageIdentity())
                .code,
            5);
  narrowOut << 31 << endLine;
  EXPECT_EQ(console.text(),
            targetBlock("Yes") + "  [ERROR] Failed to get disk handle: 0x1f\n\n31\n");
  EXPECT_TRUE(sim.calls(CallKind::DeviceIoControl).empty());
}

struct DownloadFaultCase {
  const char* name;
  const char* fault;  // the download FAULT's keys after "request"
  const char* errorLine;
};

class IrstRefusedPiece : public testing::TestWithParam<DownloadFaultCase> {};

TEST_P(IrstRefusedPiece, EndsTheDownloadWithoutActivation) {
  BoundMachine sim(raid1(std::string(R"(, "faults": [ { "request": "download", "nth": 3, )") +
                         GetParam().fault + " } ]"));
  std::uint32_t transferLength = kImageLength;
  ConsoleCapture console;
  EXPECT_EQ(updateThroughIrst(member(sim, 0), transferLength, zev::packageImage(),
                              zev::buildPackageIdentity())
                .code,
            1);
  EXPECT_EQ(console.text(), targetBlock("Yes") + GetParam().errorLine +
                                "\n"
                                "  [FAIL] Firmware download failed.\n");
  EXPECT_EQ(firmwareRequests(sim, 2).size(), 3u);
  EXPECT_TRUE(firmwareRequests(sim, 3).empty());
  EXPECT_EQ(sim.requestsOf("a", FaultRequest::Activate), 0u);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, IrstRefusedPiece,
    testing::Values(
        DownloadFaultCase{"NotDelivered", R"("error": 1117)",
                          "  [ERROR] Firmware download IOCTL failed: 0x45D\n"},
        DownloadFaultCase{"Refused", R"("returnCode": 3)",
                          "  [ERROR] Firmware download failed: srbControl->ReturnCode 3\n"},
        DownloadFaultCase{"RefusedWithHighBit", R"("returnCode": 4294967295)",
                          "  [ERROR] Firmware download failed: srbControl->ReturnCode -1\n"}),
    [](const testing::TestParamInfo<DownloadFaultCase>& info) { return info.param.name; });

TEST(IrstDownload, ANothingToSendTransferStillPassesAndActivates) {
  BoundMachine sim(raid1());
  std::uint32_t transferLength = 0;
  ConsoleCapture console;
  // The drive has nothing staged, so it refuses to activate an incomplete image.
  EXPECT_EQ(updateThroughIrst(member(sim, 0), transferLength, zev::packageImage(),
                              zev::buildPackageIdentity())
                .code,
            1);
  EXPECT_EQ(console.text(), targetBlock("Yes") +
                                "\n"
                                "  [PASS] Firmware download succeeded.\n"
                                "  [ERROR] Firmware activate failed: invalid firmware image\n\n");
  EXPECT_TRUE(firmwareRequests(sim, 2).empty());
  EXPECT_EQ(firmwareRequests(sim, 3).size(), 1u);
}

TEST(IrstDownload, ATransferLongerThanTheImageIsNotSent) {
  BoundMachine sim(raid1());
  const OpenOutcome opened = openDevice(sim.controllerPath(), 0, 0);
  ASSERT_TRUE(opened.ok());
  ConsoleCapture console;
  EXPECT_EQ(irstDownload(opened.handle.get(), member(sim, 0, 512), zev::packageImage(),
                         kImageLength + 4096)
                .code,
            1);
  EXPECT_EQ(console.text(), "\n  [FAIL] Firmware download failed.\n");
  // The plan is refused as a whole: not even the pieces inside the image go out.
  EXPECT_TRUE(firmwareRequests(sim, 2).empty());
}

// Every way the activation ends once the whole image is sent: the drive's
// extra keys, the lines after the download's PASS line and the result.
TEST(IrstActivate, EveryOutcomeIsWordedAndCounted) {
  const auto returnCode = [](std::uint32_t code) {
    return R"(, "faults": [ { "request": "activate", "returnCode": )" + std::to_string(code) +
           " } ]";
  };
  const std::string failed = "  [ERROR] Firmware activate failed: ";
  const std::string parameter = "  [ERROR] Firmware activate parameter error: ";
  const std::string unexpected = failed + "unexpected error, srbControl->ReturnCode ";
  const struct {
    std::string driveKeys;
    std::string printed;
    int result;
    const char* afterReset = nullptr;  // checked when given
  } cases[] = {
      {returnCode(1), failed + "error returned\n\n", 1},
      {returnCode(16), failed + "error returned\n\n", 1},
      {returnCode(2), parameter + "srbControl->ReturnCode 2\n\n", 1},
      {returnCode(3), parameter + "srbControl->ReturnCode 3\n\n", 1},
      {returnCode(4), parameter + "srbControl->ReturnCode 4\n\n", 1},
      {returnCode(6), failed + "invalid slot number\n\n", 1},
      {returnCode(7), failed + "invalid firmware image\n\n", 1},
      {returnCode(32), "  [PASS] Firmware activate succeeded. PLEASE SHUTDOWN COMPUTER.\n\n\n",
       1602},
      {returnCode(5), unexpected + "5\n\n", 1},
      {returnCode(8), unexpected + "8\n\n", 1},
      {returnCode(15), unexpected + "15\n\n", 1},
      {returnCode(17), unexpected + "17\n\n", 1},
      {returnCode(31), unexpected + "31\n\n", 1},
      {returnCode(33), unexpected + "33\n\n", 1},
      {returnCode(0x80000000u), unexpected + "-2147483648\n\n", 1},
      // A drive that asks for a power cycle gives 1602.
      {R"(, "activation": "powerCycle")",
       "  [PASS] Firmware activate succeeded. PLEASE SHUTDOWN COMPUTER.\n\n\n", 1602, "KTW8LMZB"},
      {R"(, "faults": [ { "request": "activate", "error": 1117 } ])",
       "  [ERROR] Firmware activate IOCTL failed: 0x45D\n", 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.driveKeys);
    BoundMachine sim(raid1(c.driveKeys));
    std::uint32_t transferLength = kImageLength;
    ConsoleCapture console;
    const StepOutcome outcome =
        updateThroughIrst(member(sim, 0), transferLength, zev::packageImage(), sim.identity());
    EXPECT_EQ(outcome.code, c.result);
    EXPECT_EQ(console.text(),
              targetBlock("Yes") + "\n  [PASS] Firmware download succeeded.\n" + c.printed);
    EXPECT_EQ(outcome.diagnostic, testsupport::firstErrorLine(c.printed));
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
    if (c.afterReset) {
      EXPECT_EQ(sim.drive("a").firmwareAfterReset, c.afterReset);
    }
  }
}

struct PathIdCase {
  std::int64_t pathId;
  std::uint8_t carried;
  const char* reached;  // the drive that took the pieces, or ""
};

class IrstPathId : public testing::TestWithParam<PathIdCase> {};

TEST_P(IrstPathId, IsCarriedAsItsLowEightBits) {
  BoundMachine sim(raid1());
  std::uint32_t transferLength = 8192;  // two pieces are enough to see the address
  ConsoleCapture console;
  EXPECT_EQ(updateThroughIrst(member(sim, GetParam().pathId), transferLength, zev::packageImage(),
                              zev::buildPackageIdentity())
                .code,
            1);
  const auto downloads = firmwareRequests(sim, 2);
  ASSERT_FALSE(downloads.empty());
  for (const auto& download : downloads) {
    EXPECT_EQ(download.inputHead[29], GetParam().carried);
  }
  for (const auto& activation : firmwareRequests(sim, 3)) {
    EXPECT_EQ(activation.inputHead[29], GetParam().carried);
  }
  for (const char* id : {"a", "b"}) {
    const bool reached = std::string(id) == GetParam().reached;
    EXPECT_EQ(sim.requestsOf(id, FaultRequest::Download), reached ? 2u : 0u) << id;
    EXPECT_EQ(sim.requestsOf(id, FaultRequest::Activate), reached ? 1u : 0u) << id;
  }
}

// Port 1 is drive "b"; no drive answers at path id 255, so the driver does
// not deliver the first piece. With only 8192 bytes staged, the drive refuses
// the activation (an incomplete image): result 1 either way, but the address
// decides which drive saw the requests.
INSTANTIATE_TEST_SUITE_P(Values, IrstPathId,
                         testing::Values(PathIdCase{257, 0x01, "b"}, PathIdCase{-1, 0xFF, ""},
                                         PathIdCase{256, 0x00, "a"}, PathIdCase{0, 0x00, "a"}));

}  // namespace
}  // namespace zev
