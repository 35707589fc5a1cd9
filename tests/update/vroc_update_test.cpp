// The VROC update path on simulated machines: the Firmware Image Download
// commands it sends, the Firmware Commit, the lines it prints and the result
// codes, for every failure the driver, the drive and the platform produce.
#include <gtest/gtest.h>

#include <string>
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
  std::string output;
  std::uint32_t transferLength = 0;
};

UpdateRun runUpdate(const DiskInfo& disk, std::int32_t port = 2,
                    std::uint32_t transferLength = 2097152) {
  UpdateRun run;
  ConsoleCapture capture;
  run.transferLength = transferLength;
  run.result = updateThroughVroc(disk, zev::packageImage(), run.transferLength, port);
  run.output = capture.text();
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

std::uint32_t requestsOf(const VrocMachine& sim, const char* drive, zevsim::FaultRequest kind) {
  return sim.drive(drive).requests[static_cast<int>(kind)];
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
  EXPECT_EQ(requestsOf(sim, "vroc-b", zevsim::FaultRequest::Download), 0u);
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

struct DownloadFailureCase {
  const char* name;
  std::string driveExtra;
  std::int32_t granularity;
  std::string errorLine;
  std::uint32_t piecesSent;
};

TEST(VrocUpdate, AFailedPieceEndsTheDownloadWithoutACommit) {
  const DownloadFailureCase cases[] = {
      {"refused by the driver", R"(, "faults": [ { "request": "download", "returnCode": 7 } ])", 1,
       "  [ERROR] Firmware download failed: srbControl->ReturnCode 7\n", 1},
      {"refused with a status above 0x7FFFFFFF",
       R"(, "faults": [ { "request": "download", "nth": 2, "returnCode": 4294967295 } ])", 1,
       "  [ERROR] Firmware download failed: srbControl->ReturnCode -1\n", 2},
      {"completed with an NVMe status",
       R"(, "faults": [ { "request": "download", "nth": 5, "nvmeStatus": 2 } ])", 1,
       "  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
       "0x00000002\n",
       5},
      {"completion dword 3 of 0x00020000",
       R"(, "faults": [ { "request": "download", "completion": 131072 } ])", 1,
       "  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
       "0x00000001\n",
       1},
      {"every status bit set",
       R"(, "faults": [ { "request": "download", "nth": 512, "completion": 4294836224 } ])", 1,
       "  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
       "0x00007fff\n",
       512},
      // The drive itself refuses a piece larger than its MDTS.
      {"piece over the drive's MDTS", R"(, "mdts": 4096)", 2,
       "  [ERROR] Firmware download failed: (nvmePassThroughIoctl->CplEntry[3]) >> 17: "
       "0x00000002\n",
       1},
  };
  for (const DownloadFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    VrocMachine sim(raidMachine(c.driveExtra));
    const UpdateRun run = runUpdate(vrocDisk(c.granularity));
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.output, targetBlock() + c.errorLine + kDownloadFail);
    EXPECT_EQ(withOpcode(sim, kOpcodeDownload).size(), c.piecesSent);
    EXPECT_TRUE(withOpcode(sim, kOpcodeCommit).empty());
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
  }
}

TEST(VrocUpdate, AnUndeliveredPieceShowsTheSystemErrorInUpperCaseHex) {
  VrocMachine sim(raidMachine());
  zevsim::CallFault fault;
  fault.kind = zevsim::CallKind::DeviceIoControl;
  fault.nth = 3;
  fault.error = 1117;
  sim.machine().injectCallFault(fault);
  const UpdateRun run = runUpdate(vrocDisk());
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.output,
            targetBlock() + "  [ERROR] Firmware download IOCTL failed: 0x45D\n" + kDownloadFail);
  EXPECT_EQ(sim.miniportRequests(kPassThrough).size(), 3u);
  EXPECT_EQ(requestsOf(sim, "vroc-a", zevsim::FaultRequest::Download), 2u);
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(VrocUpdate, APhaseTagAloneInCompletionDwordThreeIsSuccess) {
  VrocMachine sim(raidMachine(R"(, "faults": [ { "request": "download", "completion": 65536 },
                                               { "request": "activate", "completion": 65536 } ])"));
  const UpdateRun run = runUpdate(vrocDisk());
  EXPECT_EQ(run.result, 0);
  EXPECT_EQ(run.output, targetBlock() + kDownloadPass + kActivationPass);
  EXPECT_EQ(withOpcode(sim, kOpcodeDownload).size(), 512u);
}

struct CommitCase {
  std::uint32_t returnCode;
  const char* line;
};

TEST(VrocUpdate, EveryCommitReturnCodePrintsItsLineAndFails) {
  const CommitCase cases[] = {
      {1, "  [ERROR] NVME_IOCTL_INVALID_IOCTL_CODE\n\n"},
      {2, "  [ERROR] NVME_IOCTL_INVALID_SIGNATURE\n\n"},
      {3, "  [ERROR] NVME_IOCTL_INSUFFICIENT_IN_BUFFER\n\n"},
      {4, "  [ERROR] NVME_IOCTL_INSUFFICIENT_OUT_BUFFER\n\n"},
      {5, "  [ERROR] NVME_IOCTL_UNSUPPORTED_ADMIN_CMD\n\n"},
      {6, "  [ERROR] NVME_IOCTL_UNSUPPORTED_NVM_CMD\n\n"},
      {7, "  [ERROR] NVME_IOCTL_INVALID_ADMIN_VENDOR_SPECIFIC_OPCODE\n\n"},
      {8, "  [ERROR] NVME_IOCTL_INVALID_NVM_VENDOR_SPECIFIC_OPCODE\n\n"},
      {9, "  [ERROR] NVME_IOCTL_ADMIN_VENDOR_SPECIFIC_NOT_SUPPORTED\n\n"},
      {10, "  [ERROR] NVME_IOCTL_NVM_VENDOR_SPECIFIC_NOT_SUPPORTED\n\n"},
      {11, "  [ERROR] NVME_IOCTL_INVALID_DIRECTION_SPECIFIED\n\n"},
      {12, "  [ERROR] NVME_IOCTL_INVALID_META_BUFFER_LENGTH\n\n"},
      {13, "  [ERROR] NVME_IOCTL_PRP_TRANSLATION_ERROR\n\n"},
      {14, "  [ERROR] NVME_IOCTL_INVALID_PATH_TARGET_ID\n\n"},
      {15, "  [ERROR] NVME_IOCTL_FORMAT_NVM_PENDING\n\n"},
      {16, "  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode 16\n\n"},
      {0x7FFFFFFF,
       "  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode "
       "2147483647\n\n"},
      {0x80000000,
       "  [ERROR] Firmware activate failed: unexpected error, srbControl->ReturnCode "
       "-2147483648\n\n"},
  };
  for (const CommitCase& c : cases) {
    SCOPED_TRACE(c.returnCode);
    VrocMachine sim(raidMachine(R"(, "faults": [ { "request": "activate", "returnCode": )" +
                                std::to_string(c.returnCode) + " } ]"));
    const UpdateRun run = runUpdate(vrocDisk());
    EXPECT_EQ(run.result, 1);
    EXPECT_EQ(run.output, targetBlock() + kDownloadPass + c.line);
    EXPECT_EQ(withOpcode(sim, kOpcodeCommit).size(), 1u);
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
  }
}

struct CompletionFailureCase {
  const char* name;
  std::string driveExtra;
  const char* shown;
};

TEST(VrocUpdate, ACommitCompletedWithAnNvmeStatusGivesFive) {
  const CompletionFailureCase cases[] = {
      {"injected status 0x107", R"(, "faults": [ { "request": "activate", "nvmeStatus": 263 } ])",
       "0x00000107"},
      {"completion dword 3 of 0x00020000",
       R"(, "faults": [ { "request": "activate", "completion": 131072 } ])", "0x00000001"},
      // A drive with one slot refuses slot 2: Invalid Firmware Slot.
      {"no slot 2 on the drive", R"(, "slots": 1)", "0x00000106"},
  };
  for (const CompletionFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    VrocMachine sim(raidMachine(c.driveExtra));
    const UpdateRun run = runUpdate(vrocDisk());
    EXPECT_EQ(run.result, 5);
    EXPECT_EQ(run.output, targetBlock() + kDownloadPass +
                              "  [ERROR] Firmware activation failed: Completion Queue Entry "
                              "Status Value: " +
                              c.shown + "\n");
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
  }
}

TEST(VrocUpdate, AnUndeliveredCommitGivesOne) {
  VrocMachine sim(raidMachine());
  zevsim::CallFault fault;
  fault.kind = zevsim::CallKind::DeviceIoControl;
  fault.nth = 513;
  fault.error = 0x1F;
  sim.machine().injectCallFault(fault);
  const UpdateRun run = runUpdate(vrocDisk());
  EXPECT_EQ(run.result, 1);
  EXPECT_EQ(run.output,
            targetBlock() + kDownloadPass + "  [ERROR] Firmware activate IOCTL failed: 0x1F\n");
  EXPECT_EQ(requestsOf(sim, "vroc-a", zevsim::FaultRequest::Activate), 0u);
  EXPECT_EQ(sim.drive("vroc-a").firmwareAfterReset, "KTW5LMZB");
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

struct OpenFailureCase {
  const char* name;
  std::string controllerExtra;
  std::int32_t port;
  const char* error;
};

TEST(VrocUpdate, APortThatCannotBeOpenedGivesFive) {
  const OpenFailureCase cases[] = {
      {"open refused", R"(, "faults": [ { "request": "scsiPortOpen", "error": 1450 } ])", 2, "5aa"},
      {"no such port", "", 3, "2"},
      {"port never found", "", -1, "2"},
  };
  for (const OpenFailureCase& c : cases) {
    SCOPED_TRACE(c.name);
    VrocMachine sim(raidMachine("", c.controllerExtra));
    const UpdateRun run = runUpdate(vrocDisk(), c.port);
    EXPECT_EQ(run.result, 5);
    EXPECT_EQ(run.output,
              targetBlock() + "  [ERROR] Failed to get disk handle: 0x" + c.error + "\n\n");
    EXPECT_TRUE(sim.calls(zevsim::CallKind::DeviceIoControl).empty());
    EXPECT_EQ(narrowOut.base(), NumberBase::Dec);
    EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
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
  EXPECT_EQ(updateThroughVroc(second, zev::packageImage(), transferLength, 2), 0);
  EXPECT_EQ(requestsOf(sim, "vroc-b", zevsim::FaultRequest::Download), 512u);
  EXPECT_EQ(requestsOf(sim, "vroc-a", zevsim::FaultRequest::Download), 0u);
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
  EXPECT_EQ(vrocDownload(port, vrocDisk(), zev::packageImage(), 2097152), 0);
  EXPECT_EQ(vrocActivate(port, 1), 0);
  // Neither prints the target disk block.
  EXPECT_EQ(capture.text(), kDownloadPass + kActivationPass);
  platform::closeHandle(port);
  EXPECT_EQ(sim.drive("vroc-a").firmwareAfterReset, "KTW8LMZB");
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

}  // namespace
}  // namespace zev
