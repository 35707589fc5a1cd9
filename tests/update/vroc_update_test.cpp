// The VROC update path on simulated machines: the Firmware Image Download
// commands it sends, the Firmware Commit, the lines it prints and the result
// codes, for every failure the driver, the drive and the platform produce.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.hpp"
#include "support/bound_machine.hpp"
#include "update/update_paths.hpp"

namespace zev {
namespace {

using testsupport::padded;
using VrocMachine = testsupport::BoundMachine;
using testsupport::wideBytes;

constexpr std::uint32_t kPassThrough = 0xE0002000;
constexpr std::uint8_t kOpcodeDownload = 0x11;
constexpr std::uint8_t kOpcodeCommit = 0x10;

// A VROC RAID of two drives on port 2 (disk ids 1 and 2), the first one with
// the drive faults given.
std::string raidMachine(const std::string& firstDriveExtra = "",
                        const std::string& controllerExtra = "") {
  return R"({
    "description": "VROC RAID on SCSI port 2",
    "drives": [
      { "id": "vroc-a", "serial": "KD27VRA0001", "firmware": "KTW5LMZB")" +
         firstDriveExtra + R"( },
      { "id": "vroc-b", "serial": "KD27VRB0002", "firmware": "KTW5LMZB" }
    ],
    "intelController": { "driver": "vroc")" +
         controllerExtra + R"(,
      "raidVolumes": [ { "members": [ { "drive": "vroc-a", "port": 0 },
                                      { "drive": "vroc-b", "port": 1 } ] } ] }
  })";
}

DiskInfo vrocDisk(std::int32_t granularity = 1, std::uint32_t diskId = 1) {
  DiskInfo disk;
  disk.devicePath = L"\\\\?\\pci#ven_8086&dev_a77f#not-opened-by-this-path";
  disk.driverKind = DriverKind::VrocRaid;
  disk.pathId = 0;
  disk.modelNumber = wideBytes(padded("KELDORA TQ270c 1TB", 40));
  disk.serialNumber = wideBytes(padded("KD27VRA0001", 20));
  disk.firmwareRevision = L"KTW5LMZB";
  disk.updateGranularity = granularity;
  disk.vrocDiskId = diskId;
  return disk;
}

// The target disk block of the VROC path: no RAID line.
std::string targetBlock() {
  const std::string rule(45, '-');
  return "\n" + rule + "\n Firmware Download | Target Disk Information \n" + rule +
         "\n Driver : VROC Driver\n Model Number : " + padded("KELDORA TQ270c 1TB", 40) +
         "\n Serial Number : " + padded("KD27VRA0001", 20) +
         "\n Current FW : KTW5LMZB\n Updated FW : KTW8LMZB\n" + rule + "\n";
}

const std::string kDownloadPass = "\n  [PASS] Firmware download succeeded.\n";
const std::string kDownloadFail = "\n  [FAIL] Firmware download failed.\n";
const std::string kActivationPass =
    "  [PASS] Firmware activation succeeded. Please reboot computer.\n\n";

struct UpdateRun {
  int result = 99;
  std::string diagnostic;
  std::string output;
  std::uint32_t transferLength = 0;
};

UpdateRun runUpdate(const DiskInfo& disk, std::int32_t port = 2,
                    std::uint32_t transferLength = 2097152) {
  UpdateRun run;
  ConsoleCapture capture;
  run.transferLength = transferLength;
  const StepOutcome outcome = updateThroughVroc(disk, run.transferLength, port, zev::packageImage(),
                                                zev::buildPackageIdentity());
  run.result = outcome.code;
  run.diagnostic = outcome.diagnostic;
  run.output = capture.text();
  EXPECT_EQ(run.diagnostic, testsupport::firstErrorLine(run.output));
  return run;
}

std::uint8_t opcodeOf(const zevsim::CallRecord& call) {
  return call.inputHead.size() > 52 ? call.inputHead[52] : 0;
}

std::vector<zevsim::CallRecord> withOpcode(const VrocMachine& sim, std::uint8_t opcode) {
  std::vector<zevsim::CallRecord> out;
  for (const zevsim::CallRecord& call : sim.miniportRequests(kPassThrough)) {
    if (opcodeOf(call) == opcode) {
      out.push_back(call);
    }
  }
  return out;
}

TEST(VrocUpdate, SendsTheImageInFiveHundredTwelveCommandsAndCommitsItToSlotTwo) {
  VrocMachine sim(raidMachine());
  const UpdateRun run = runUpdate(vrocDisk());

  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.output, targetBlock() + kDownloadPass + kActivationPass);
  EXPECT_EQ(run.transferLength, 2097152u);

  const auto opens = sim.calls(zevsim::CallKind::CreateFile);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].path, L"\\\\.\\Scsi2:");
  EXPECT_EQ(opens[0].access, 0xC0000000u);
  EXPECT_EQ(opens[0].shareMode, 0u);  // held exclusively for this drive
  EXPECT_EQ(opens[0].disposition, 3u);
  EXPECT_EQ(opens[0].flags, 0u);

  const auto requests = sim.miniportRequests(kPassThrough);
  ASSERT_EQ(requests.size(), 513u);
  for (std::uint32_t i = 0; i < 512; ++i) {
    const zevsim::CallRecord& call = requests[i];
    ASSERT_EQ(opcodeOf(call), kOpcodeDownload) << i;
    ASSERT_EQ(call.inSize, 4256u) << i;
    ASSERT_EQ(call.outSize, 153u) << i;
    ASSERT_EQ(testsupport::le32At(call, 12), 30u) << i;    // Timeout
    ASSERT_EQ(testsupport::le32At(call, 20), 1u) << i;     // disk id
    ASSERT_EQ(testsupport::le32At(call, 92), 1023u) << i;  // NUMD
    ASSERT_EQ(testsupport::le32At(call, 96), i * 1024) << i;
    ASSERT_EQ(testsupport::le32At(call, 140), 4096u) << i;
  }
  const zevsim::CallRecord& commit = requests[512];
  EXPECT_EQ(opcodeOf(commit), kOpcodeCommit);
  EXPECT_EQ(commit.inSize, 153u);
  EXPECT_EQ(commit.outSize, 153u);
  EXPECT_EQ(testsupport::le32At(commit, 20), 1u);
  EXPECT_EQ(testsupport::le32At(commit, 92), 0x0Au);

  const zevsim::DriveReport a = sim.drive("vroc-a");
  EXPECT_EQ(a.downloadedBytes, 2097152u);
  EXPECT_TRUE(a.stagedImageMatchesPackage);
  EXPECT_EQ(a.runningFirmware, "KTW5LMZB");
  EXPECT_EQ(a.firmwareAfterReset, "KTW8LMZB");
  EXPECT_EQ(sim.requestsOf("vroc-b", zevsim::FaultRequest::Download), 0u);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

struct GranularityCase {
  std::int32_t granularity;
  std::uint32_t commands;
  std::uint32_t pieceSize;
  std::uint32_t lastPieceSize;
};

TEST(VrocUpdate, PiecesFollowTheGranularityAndAShortLastPieceCarriesTheRest) {
  const GranularityCase cases[] = {
      {1, 512, 4096, 4096},
      {8, 64, 32768, 32768},
      // 12 KiB pieces: 170 whole ones and 8 KiB left for the last.
      {3, 171, 12288, 8192},
      {512, 1, 2097152, 2097152},
      // A piece larger than the image: the one piece is the whole image.
      {1000, 1, 2097152, 2097152},
  };
  for (const GranularityCase& c : cases) {
    SCOPED_TRACE(c.granularity);
    VrocMachine sim(raidMachine());
    const UpdateRun run = runUpdate(vrocDisk(c.granularity));
    EXPECT_EQ(run.result, 0);
    EXPECT_EQ(run.output, targetBlock() + kDownloadPass + kActivationPass);

    const auto downloads = withOpcode(sim, kOpcodeDownload);
    ASSERT_EQ(downloads.size(), c.commands);
    for (std::uint32_t i = 0; i < c.commands; ++i) {
      const std::uint32_t size = i + 1 == c.commands ? c.lastPieceSize : c.pieceSize;
      ASSERT_EQ(downloads[i].inSize, size + 160) << i;
      ASSERT_EQ(downloads[i].outSize, 153u) << i;
      ASSERT_EQ(testsupport::le32At(downloads[i], 24), size + 132) << i;
      ASSERT_EQ(testsupport::le32At(downloads[i], 92), size / 4 - 1) << i;
      ASSERT_EQ(testsupport::le32At(downloads[i], 96), i * (c.pieceSize / 4)) << i;
      ASSERT_EQ(testsupport::le32At(downloads[i], 140), size) << i;
    }
    const zevsim::DriveReport a = sim.drive("vroc-a");
    EXPECT_EQ(a.downloadedBytes, 2097152u);
    EXPECT_TRUE(a.stagedImageMatchesPackage);
    EXPECT_EQ(a.firmwareAfterReset, "KTW8LMZB");
  }
}

// One run that does not end in a clean update: the drive's extra keys, what
// the run prints after the target disk block, its result and what it sent;
// then the rarer settings. Counts left unset are not checked for that row.
struct OutcomeCase {
  const char* name = "";
  std::string driveExtra = {};
  std::string printed = {};  // after the target disk block
  int result = 0;
  std::optional<std::size_t> downloads = {};  // download commands sent
  std::optional<std::size_t> commits = {};    // commit commands sent
  std::string controllerExtra = {};
  std::optional<zevsim::CallFault> callFault = {};
  std::int32_t granularity = 1;
  std::uint32_t diskId = 1;
  std::int32_t port = 2;
  std::uint32_t transferLength = 2097152;
  bool noRequests = false;  // no device request at all
  std::optional<std::size_t> passThroughRequests = {};
  std::optional<std::uint32_t> driveDownloads = {};
  std::optional<std::uint32_t> driveActivations = {};
  const char* firmwareAfterReset = nullptr;
};

std::string downloadFailed(const std::string& text) {
  return "  [ERROR] Firmware download failed: " + text + "\n" + kDownloadFail;
}
std::string statusFailed(const char* shown) {
  return downloadFailed(std::string("(nvmePassThroughIoctl->CplEntry[3]) >> 17: ") + shown);
}
std::string commitFailed(const char* shown) {
  return kDownloadPass + "  [ERROR] Firmware activation failed: Completion Queue Entry " +
         "Status Value: " + shown + "\n";
}
std::string faults(const char* request, const std::string& keys) {
  return std::string(R"(, "faults": [ { "request": ")") + request + "\", " + keys + " } ]";
}
const std::string kNoHandle = "  [ERROR] Failed to get disk handle: 0x";

std::vector<OutcomeCase> outcomeCases() {
  using zevsim::CallKind;
  std::vector<OutcomeCase> cases = {
      // A failed piece ends the download without a commit.
      {"refused by the driver", faults("download", R"("returnCode": 7)"),
       downloadFailed("srbControl->ReturnCode 7"), 1, 1, 0},
      {"refused with a status above 0x7FFFFFFF",
       faults("download", R"("nth": 2, "returnCode": 4294967295)"),
       downloadFailed("srbControl->ReturnCode -1"), 1, 2, 0},
      {"completed with an NVMe status", faults("download", R"("nth": 5, "nvmeStatus": 2)"),
       statusFailed("0x00000002"), 1, 5, 0},
      {"completion dword 3 of 0x00020000", faults("download", R"("completion": 131072)"),
       statusFailed("0x00000001"), 1, 1, 0},
      {"every status bit set", faults("download", R"("nth": 512, "completion": 4294836224)"),
       statusFailed("0x00007fff"), 1, 512, 0},
      // The drive itself refuses a piece larger than its MDTS.
      {.name = "piece over the drive's MDTS",
       .driveExtra = R"(, "mdts": 4096)",
       .printed = statusFailed("0x00000002"),
       .result = 1,
       .downloads = 1,
       .commits = 0,
       .granularity = 2},
      {.name = "unknown disk id",
       .printed = downloadFailed("srbControl->ReturnCode 14"),
       .result = 1,
       .diskId = 9},
      // An undelivered piece shows the system error in upper-case hex.
      {.name = "undelivered piece",
       .printed = "  [ERROR] Firmware download IOCTL failed: 0x45D\n" + kDownloadFail,
       .result = 1,
       .callFault = testsupport::callFault(CallKind::DeviceIoControl, 1117, 3),
       .passThroughRequests = 3,
       .driveDownloads = 2},
      // A transfer that cannot be sent fails without a request.
      {.name = "beyond the image",
       .printed = kDownloadFail,
       .result = 1,
       .transferLength = 2097153,
       .noRequests = true},
      {.name = "granularity 0",
       .printed = kDownloadFail,
       .result = 1,
       .granularity = 0,
       .noRequests = true},
      // A phase tag alone in completion dword 3 is success.
      {"phase tag alone", faults("download", R"("completion": 65536 },
                                 { "request": "activate", "completion": 65536)"),
       kDownloadPass + kActivationPass, 0, 512},
      // A commit completed with an NVMe status gives 5; so does nothing to
      // send, as the drive refuses to commit, and a drive with one slot
      // refuses slot 2: Invalid Firmware Slot.
      {"commit status 0x107", faults("activate", R"("nvmeStatus": 263)"),
       commitFailed("0x00000107"), 5},
      {"commit completion dword 3 of 0x00020000", faults("activate", R"("completion": 131072)"),
       commitFailed("0x00000001"), 5},
      {"no slot 2 on the drive", R"(, "slots": 1)", commitFailed("0x00000106"), 5},
      {.name = "nothing to send",
       .printed = commitFailed("0x00000107"),
       .result = 5,
       .downloads = 0,
       .commits = 1,
       .transferLength = 0},
      {.name = "undelivered commit",
       .printed = kDownloadPass + "  [ERROR] Firmware activate IOCTL failed: 0x1F\n",
       .result = 1,
       .callFault = testsupport::callFault(CallKind::DeviceIoControl, 0x1F, 513),
       .driveActivations = 0,
       .firmwareAfterReset = "KTW5LMZB"},
      // A port that cannot be opened gives 5.
      {.name = "open refused",
       .printed = kNoHandle + "5aa\n\n",
       .result = 5,
       .controllerExtra = faults("scsiPortOpen", R"("error": 1450)"),
       .noRequests = true},
      {.name = "no such port",
       .printed = kNoHandle + "2\n\n",
       .result = 5,
       .port = 3,
       .noRequests = true},
      {.name = "port never found",
       .printed = kNoHandle + "2\n\n",
       .result = 5,
       .port = -1,
       .noRequests = true},
  };
  // Every commit return code prints its line and fails.
  const std::pair<std::uint32_t, const char*> commitCodes[] = {
      {1, "NVME_IOCTL_INVALID_IOCTL_CODE"},
      {2, "NVME_IOCTL_INVALID_SIGNATURE"},
      {3, "NVME_IOCTL_INSUFFICIENT_IN_BUFFER"},
      {4, "NVME_IOCTL_INSUFFICIENT_OUT_BUFFER"},
      {5, "NVME_IOCTL_UNSUPPORTED_ADMIN_CMD"},
      {6, "NVME_IOCTL_UNSUPPORTED_NVM_CMD"},
      {7, "NVME_IOCTL_INVALID_ADMIN_VENDOR_SPECIFIC_OPCODE"},
      {8, "NVME_IOCTL_INVALID_NVM_VENDOR_SPECIFIC_OPCODE"},
      {9, "NVME_IOCTL_ADMIN_VENDOR_SPECIFIC_NOT_SUPPORTED"},
      {10, "NVME_IOCTL_NVM_VENDOR_SPECIFIC_NOT_SUPPORTED"},
      {11, "NVME_IOCTL_INVALID_DIRECTION_SPECIFIED"},
      {12, "NVME_IOCTL_INVALID_META_BUFFER_LENGTH"},
      {13, "NVME_IOCTL_PRP_TRANSLATION_ERROR"},
      {14, "NVME_IOCTL_INVALID_PATH_TARGET_ID"},
      {15, "NVME_IOCTL_FORMAT_NVM_PENDING"},
      {16, "Firmware activate failed: unexpected error, srbControl->ReturnCode 16"},
      {0x7FFFFFFF, "Firmware activate failed: unexpected error, srbControl->ReturnCode 2147483647"},
      {0x80000000,
       "Firmware activate failed: unexpected error, srbControl->ReturnCode -2147483648"},
  };
  for (const auto& [code, line] : commitCodes) {
    cases.push_back({line, faults("activate", R"("returnCode": )" + std::to_string(code)),
                     kDownloadPass + "  [ERROR] " + line + "\n\n", 1, std::nullopt, 1});
  }
  return cases;
}

TEST(VrocUpdate, EveryFailureEndsWithItsLinesResultAndNoHandleLeftOpen) {
  for (const OutcomeCase& c : outcomeCases()) {
    SCOPED_TRACE(c.name);
    VrocMachine sim(raidMachine(c.driveExtra, c.controllerExtra));
    if (c.callFault) {
      sim.machine().injectCallFault(*c.callFault);
    }
    const UpdateRun run = runUpdate(vrocDisk(c.granularity, c.diskId), c.port, c.transferLength);
    EXPECT_EQ(run.result, c.result);
    EXPECT_EQ(run.output, targetBlock() + c.printed);
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
    if (c.downloads) {
      EXPECT_EQ(withOpcode(sim, kOpcodeDownload).size(), *c.downloads);
    }
    if (c.commits) {
      EXPECT_EQ(withOpcode(sim, kOpcodeCommit).size(), *c.commits);
    }
    if (c.passThroughRequests) {
      EXPECT_EQ(sim.miniportRequests(kPassThrough).size(), *c.passThroughRequests);
    }
    if (c.noRequests) {
      EXPECT_TRUE(sim.calls(zevsim::CallKind::DeviceIoControl).empty());
    }
    // Each piece is built in the buffer that holds the reply to the piece
    // before: no request carries a completion left from an earlier one.
    const auto requests = sim.miniportRequests(kPassThrough);
    EXPECT_EQ(std::count_if(requests.begin(), requests.end(),
                            [](const zevsim::CallRecord& call) {
                              return testsupport::le32At(call, 128) != 0;
                            }),
              0);
    if (c.driveDownloads) {
      EXPECT_EQ(sim.requestsOf("vroc-a", zevsim::FaultRequest::Download), *c.driveDownloads);
    }
    if (c.driveActivations) {
      EXPECT_EQ(sim.requestsOf("vroc-a", zevsim::FaultRequest::Activate), *c.driveActivations);
    }
    if (c.firmwareAfterReset) {
      EXPECT_EQ(sim.drive("vroc-a").firmwareAfterReset, c.firmwareAfterReset);
    }
  }
}

TEST(VrocUpdate, PortZeroIsOpenedByItsOwnPath) {
  VrocMachine sim(raidMachine("", R"(, "vrocPort": 0)"));
  const UpdateRun run = runUpdate(vrocDisk(), 0);
  EXPECT_EQ(run.result, 0);
  const auto opens = sim.calls(zevsim::CallKind::CreateFile);
  ASSERT_EQ(opens.size(), 1u);
  EXPECT_EQ(opens[0].path, L"\\\\.\\Scsi0:");
}

TEST(VrocUpdate, TheSecondDriveIsAddressedByItsDiskId) {
  VrocMachine sim(raidMachine());
  DiskInfo second = vrocDisk(1, 2);
  ConsoleCapture capture;
  std::uint32_t transferLength = 2097152;
  EXPECT_EQ(
      updateThroughVroc(second, transferLength, 2, zev::packageImage(), zev::buildPackageIdentity())
          .code,
      0);
  EXPECT_EQ(sim.requestsOf("vroc-b", zevsim::FaultRequest::Download), 512u);
  EXPECT_EQ(sim.requestsOf("vroc-a", zevsim::FaultRequest::Download), 0u);
  EXPECT_EQ(sim.drive("vroc-b").firmwareAfterReset, "KTW8LMZB");
}

TEST(VrocUpdate, AnUnknownDiskIdIsRefusedAtTheFirstPiece) {
  VrocMachine sim(raidMachine());
  const UpdateRun run = runUpdate(vrocDisk(1, 9));
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.output, targetBlock() +
                            "  [ERROR] Firmware download failed: srbControl->ReturnCode 14\n" +
                            kDownloadFail);
}

TEST(VrocUpdate, NothingToSendStillCommitsWhichTheDriveRefuses) {
  VrocMachine sim(raidMachine());
  const UpdateRun run = runUpdate(vrocDisk(), 2, 0);
  EXPECT_EQ(run.result, 5);
  EXPECT_EQ(run.output, targetBlock() + kDownloadPass +
                            "  [ERROR] Firmware activation failed: Completion Queue Entry Status "
                            "Value: 0x00000107\n");
  EXPECT_TRUE(withOpcode(sim, kOpcodeDownload).empty());
  EXPECT_EQ(withOpcode(sim, kOpcodeCommit).size(), 1u);
}

struct UnsendableCase {
  const char* name;
  std::int32_t granularity;
  std::uint32_t transferLength;
};

TEST(VrocUpdate, ATransferThatCannotBeSentFailsWithoutARequest) {
  const UnsendableCase cases[] = {
      {"beyond the image", 1, 2097153},
      {"granularity 0", 0, 2097152},
  };
  for (const UnsendableCase& c : cases) {
    SCOPED_TRACE(c.name);
    VrocMachine sim(raidMachine());
    const UpdateRun run = runUpdate(vrocDisk(c.granularity), 2, c.transferLength);
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.output, targetBlock() + kDownloadFail);
    EXPECT_TRUE(sim.calls(zevsim::CallKind::DeviceIoControl).empty());
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
  }
}

TEST(VrocUpdate, DownloadAndActivateWorkOnAHandleTheCallerHolds) {
  VrocMachine sim(raidMachine());
  const platform::Handle port = platform::createFile(L"\\\\.\\Scsi2:", 0xC0000000u, 0, 3, 0);
  ASSERT_NE(port, platform::kInvalidHandle);
  ConsoleCapture capture;
  EXPECT_EQ(vrocDownload(port, vrocDisk(), zev::packageImage(), 2097152).code, 0);
  EXPECT_EQ(vrocActivate(port, 1).code, 0);
  // Neither prints the target disk block.
  EXPECT_EQ(capture.text(), kDownloadPass + kActivationPass);
  platform::closeHandle(port);
  EXPECT_EQ(sim.drive("vroc-a").firmwareAfterReset, "KTW8LMZB");
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

}  // namespace
}  // namespace zev
