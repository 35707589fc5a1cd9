// The check ("/c") and the results file ("/json="), end to end on simulated
// machines: the verdict of every drive on every stack, the check's exit
// status, that a check sends no download, activation or commit, that the
// results file says what the console says, that the log and the results
// file are written through temporary files that nothing can stand in for, and
// the run's one event log entry through zev-sim's report.
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "app/entry_point.hpp"
#include "launcher.hpp"
#include "platform/sha256.hpp"
#include "platform/sim/sim_binding.hpp"
#include "report/console.hpp"
#include "support/bound_machine.hpp"

namespace zev {
namespace {

using testsupport::CapturedMachine;
using zevsim::FaultRequest;

struct PackageRun {
  int exitStatus = -1;
  std::string console;
  std::string log;
  nlohmann::json results;
};

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

PackageRun runPackage(CapturedMachine& sim, const std::vector<std::wstring>& options) {
  const auto dir =
      std::filesystem::temp_directory_path() /
      ("zev-check-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::vector<std::wstring> args = {L"C:\\pkg\\zev.exe", L"/s",
                                    L"/log=" + (dir / "run.log").wstring(),
                                    L"/json=" + (dir / "run.json").wstring()};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<const wchar_t*> argv;
  for (const std::wstring& arg : args) {
    argv.push_back(arg.c_str());
  }
  PackageRun run;
  run.exitStatus = packageMain(static_cast<int>(argv.size()), argv.data());
  run.console = sim.console();
  run.log = readFile(dir / "run.log");
  // A rejected command line writes no results file.
  const std::string results = readFile(dir / "run.json");
  if (!results.empty()) {
    run.results = nlohmann::json::parse(results);
  }
  std::filesystem::remove_all(dir);
  return run;
}

struct CheckRow {
  std::string name;
  std::string machine;
  int exitStatus;
  std::string verdict;   // the first drive's verdict line, without "  [CHECK] "
  std::string decision;  // its decision in the results file
};

std::string drive(const std::string& keys) {
  return R"({ "id": "a", "fwug": 8)" + keys + " }";
}
std::string inbox(const std::string& keys) {
  return R"({ "drives": [ )" + drive(keys) + R"( ], "inbox": [ { "drive": "a" } ] })";
}
std::string irst(const std::string& keys) {
  return R"({ "drives": [ )" + drive(keys) +
         R"( ], "intelController": { "raidVolumes": [ { "members": [ { "drive": "a", "port": 0 } ] } ] } })";
}
std::string vroc(const std::string& keys) {
  return R"({ "drives": [ )" + drive(keys) +
         R"( ], "intelController": { "driver": "vroc", "passThrough": [ { "drive": "a", "busNumber": 1 } ] } })";
}

const std::string kPending =
    R"(, "firmware": "KTW3LMZB", "slotFirmware": ["KTW3LMZB", "KTW8LMZB"], "pendingSlot": 2)";

std::vector<CheckRow> checkRows() {
  std::vector<CheckRow> rows;
  for (const auto& [stack, machineOf] :
       std::vector<std::pair<std::string, std::string (*)(const std::string&)>>{
           {"Inbox", inbox}, {"Irst", irst}, {"Vroc", vroc}}) {
    rows.push_back({stack + "Available", machineOf(R"(, "firmware": "KTW3LMZB")"), 0,
                    "Update available.", "updateAvailable"});
    rows.push_back({stack + "PendingReset", machineOf(kPending), 2, "Update pending reset.",
                    "updatePendingReset"});
    rows.push_back({stack + "Current", machineOf(R"(, "firmware": "KTW8LMZB")"), 2,
                    "Already at KTW8LMZB.", "alreadyCurrent"});
    rows.push_back({stack + "Refused", machineOf(R"(, "firmware": "KTW3LMZA")"), 2,
                    "Revision not accepted.", "notAccepted"});
    // It runs the image, but an older revision waits for the next reset.
    rows.push_back({stack + "CurrentButOlderPending",
                    machineOf(R"(, "firmware": "KTW8LMZB", "slotFirmware": ["KTW8LMZB", "KTW3LMZB"],
                                "pendingSlot": 2)"),
                    0, "Update available.", "updateAvailable"});
  }
  // The inbox slot information is the update's own first request: what would
  // stop the update there makes it not possible, and the check fails.
  const std::string available = R"(, "firmware": "KTW3LMZB")";
  for (const auto& [name, keys, reason] : std::vector<std::array<std::string, 3>>{
           {"NoUpgradeSupport", R"(, "upgradeSupport": false)",
            "Firmware update is not supported by the drive."},
           {"NoWritableSlot", R"(, "slots": 1)", "No writable firmware slot."},
           {"SlotInformationReturnCode",
            R"(, "faults": [ { "request": "getInfo", "returnCode": 3 } ])",
            "Get device info failed. ReturnCode: 0x3"}}) {
    rows.push_back({"Inbox" + name, inbox(available + keys), 1, "Update not possible: " + reason,
                    "updateNotPossible"});
  }
  rows.push_back({"NoDrive", R"({ "drives": [] })", 2, "", ""});
  rows.push_back({"InboxNotExamined",
                  inbox(R"(, "faults": [ { "request": "identify", "error": 1117 } ])"), 1, "",
                  "notExamined"});
  return rows;
}

void PrintTo(const CheckRow& row, std::ostream* os) {
  *os << row.name;
}

class CheckTest : public testing::TestWithParam<CheckRow> {};

TEST_P(CheckTest, GivesTheVerdictAndChangesNothing) {
  const CheckRow& row = GetParam();
  CapturedMachine sim(row.machine);
  const PackageRun run = runPackage(sim, {L"/c"});
  EXPECT_EQ(run.exitStatus, row.exitStatus) << run.console;
  if (!row.verdict.empty()) {
    EXPECT_NE(run.console.find("  [CHECK] " + row.verdict + "\n\n"), std::string::npos)
        << run.console;
    EXPECT_NE(run.log.find("Result Details : " + row.verdict + "\n"), std::string::npos) << run.log;
  }
  EXPECT_EQ(run.results["mode"], "check");
  EXPECT_EQ(run.results["exitStatus"], row.exitStatus);
  if (!row.decision.empty()) {
    ASSERT_EQ(run.results["drives"].size(), 1u) << run.results.dump(2);
    EXPECT_EQ(run.results["drives"][0]["decision"], row.decision);
    EXPECT_TRUE(run.results["drives"][0]["resultCode"].is_null());
  }
  for (const zevsim::DriveReport& report : sim.machine().driveReports()) {
    EXPECT_EQ(report.requests[static_cast<int>(FaultRequest::Download)], 0u) << report.id;
    EXPECT_EQ(report.requests[static_cast<int>(FaultRequest::Activate)], 0u) << report.id;
  }
  EXPECT_TRUE(sim.machine().messageBoxes().empty());
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Rows, CheckTest, testing::ValuesIn(checkRows()),
                         [](const testing::TestParamInfo<CheckRow>& info) {
                           return info.param.name;
                         });

// After an update, the results file holds every drive with the decision the
// console and the log show, and the image's fingerprint.
TEST(ResultsFile, AfterAnUpdateRunSaysWhatBecameOfEveryDrive) {
  CapturedMachine sim(R"({ "drives": [ { "id": "a", "firmware": "KTW3LMZB", "fwug": 8 },
      { "id": "b", "firmware": "KTW3LMZB", "fwug": 8,
        "faults": [ { "request": "activate", "returnCode": 7 } ] },
      { "id": "c", "firmware": "XXXXXXXX" }, { "id": "d", "faults": [ { "request": "open", "error": 5 } ] } ],
    "inbox": [ { "drive": "a" }, { "drive": "b" }, { "drive": "c" }, { "drive": "d" } ] })");
  const PackageRun run = runPackage(sim, {});
  EXPECT_EQ(run.exitStatus, 1);
  const nlohmann::json& results = run.results;
  EXPECT_EQ(results["schemaVersion"], 1);
  EXPECT_EQ(results["mode"], "update");
  EXPECT_EQ(results["exitStatus"], 1);
  EXPECT_TRUE(results["error"].is_null());
  EXPECT_EQ(results["commandLine"][0], "C:\\pkg\\zev.exe");
  EXPECT_EQ(results["computerName"], "ZEVSIM-01");
  const auto image = std::filesystem::path(ZEV_IMAGE_FILE);
  const std::string bytes = readFile(image);
  const auto digest =
      platform::sha256({reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size()});
  ASSERT_TRUE(digest.has_value());
  std::string hex;
  for (std::uint8_t byte : *digest) {
    hex += "0123456789abcdef"[byte >> 4];
    hex += "0123456789abcdef"[byte & 15];
  }
  EXPECT_EQ(results["imageSha256"], hex);
  const nlohmann::json& drives = results["drives"];
  ASSERT_EQ(drives.size(), 4u) << results.dump(2);
  EXPECT_EQ(drives[0]["decision"], "updated");
  EXPECT_EQ(drives[0]["resultCode"], 0);
  EXPECT_EQ(drives[0]["serial"], "KD27A");
  EXPECT_EQ(drives[0]["driver"], "inbox");
  EXPECT_EQ(drives[1]["decision"], "failed");
  EXPECT_EQ(drives[1]["resultCode"], 1);
  EXPECT_EQ(drives[1]["detail"], "Firmware activation failed. ReturnCode: 0x7");
  EXPECT_EQ(drives[2]["decision"], "notAccepted");
  EXPECT_TRUE(drives[2]["resultCode"].is_null());
  EXPECT_EQ(drives[3]["decision"], "notExamined");
  EXPECT_TRUE(drives[3]["driver"].is_null());
  EXPECT_TRUE(drives[3]["model"].is_null());
  EXPECT_EQ(drives[3]["detail"], "Failed to get disk handle: 0x5");
}

// Machines on which a drive used to go unexamined or a result read as
// success: the update's and the check's exit statuses, and what the update
// leaves on the drive.
struct AccountedRow {
  std::string name;
  std::string machine;
  int updateStatus;
  int checkStatus;
  std::string drive;       // a drive whose revision after the reset is checked, or ""
  std::string afterReset;  // its revision after the update's reset
};

class AccountedTest : public testing::TestWithParam<AccountedRow> {};

TEST_P(AccountedTest, EveryDriveIsAccountedFor) {
  const AccountedRow& row = GetParam();
  CapturedMachine updated(row.machine);
  const PackageRun update = runPackage(updated, {});
  EXPECT_EQ(update.exitStatus, row.updateStatus) << update.console;
  if (row.updateStatus == 1) {
    EXPECT_NE(update.log.find("Disk could not be examined ("), std::string::npos) << update.log;
    EXPECT_NE(update.results.dump().find("notExamined"), std::string::npos);
  }
  if (!row.drive.empty()) {
    EXPECT_EQ(updated.drive(row.drive).firmwareAfterReset, row.afterReset);
  }
  CapturedMachine checked(row.machine);
  EXPECT_EQ(runPackage(checked, {L"/c"}).exitStatus, row.checkStatus);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, AccountedTest,
    testing::Values(AccountedRow{"IntelControllerDoesNotOpen",
                                 R"({ "drives": [ { "id": "a" }, { "id": "b" },
            { "id": "n" } ], "inbox": [ { "drive": "n" } ],
            "intelController": { "faults": [ { "request": "open", "error": 5, "nth": 1 } ],
              "raidVolumes": [ { "members": [ { "drive": "a", "port": 0 },
                                              { "drive": "b", "port": 1 } ] } ] } })",
                                 1, 1, "n", "KTW8LMZB"},
                    AccountedRow{"VrocPassThroughBesideARaidVolume",
                                 R"({ "drives": [ { "id": "a" }, { "id": "b" },
            { "id": "p" } ], "intelController": { "driver": "vroc",
              "raidVolumes": [ { "members": [ { "drive": "a", "port": 0 },
                                              { "drive": "b", "port": 1 } ] } ],
              "passThrough": [ { "drive": "p", "busNumber": 4 } ] } })",
                                 0, 0, "p", "KTW8LMZB"},
                    AccountedRow{"VrocIdentifyFails", R"({ "drives": [ { "id": "a" },
            { "id": "p", "faults": [ { "request": "identify", "nvmeStatus": 2 } ] } ],
            "intelController": { "driver": "vroc",
              "passThrough": [ { "drive": "a", "busNumber": 3 }, { "drive": "p", "busNumber": 4 } ] } })",
                                 1, 1, "a", "KTW8LMZB"},
                    AccountedRow{"VrocTwoRaidVolumes",
                                 R"({ "drives": [ { "id": "a" }, { "id": "b" } ],
            "intelController": { "driver": "vroc",
              "raidVolumes": [ { "members": [ { "drive": "a", "port": 0 } ] },
                               { "members": [ { "drive": "b", "port": 1 } ] } ] } })",
                                 1, 1, "b", "KTW3LMZB"},
                    AccountedRow{"InboxActivationAsksForAPowerCycle", R"({ "drives": [
            { "id": "a", "activation": "powerCycle" } ], "inbox": [ { "drive": "a" } ] })",
                                 1602, 0, "a", "KTW8LMZB"}),
    [](const testing::TestParamInfo<AccountedRow>& info) { return info.param.name; });

// "/rc=msi": the process ends with Windows Installer's code, while the end
// line, the log and the results file's exitStatus keep the package's own.
struct InstallerCodeRow {
  std::string name;
  std::string machine;
  std::vector<std::wstring> options;
  int exitStatus;  // the package's own, as the end line states it
  int exitCode;    // the process's
};

class InstallerCodeTest : public testing::TestWithParam<InstallerCodeRow> {};

TEST_P(InstallerCodeTest, MapsOnlyTheProcessExitCode) {
  const InstallerCodeRow& row = GetParam();
  CapturedMachine sim(row.machine);
  const PackageRun run = runPackage(sim, row.options);
  EXPECT_EQ(run.exitStatus, row.exitCode) << run.console;
  // A rejected command line ends after its usage block: no end line, no files.
  if (!run.results.is_null()) {
    EXPECT_NE(run.console.find(" >> ZEV Ended (Return Code : " + std::to_string(row.exitStatus)),
              std::string::npos)
        << run.console;
    EXPECT_NE(run.log.find("[Final Result]\nReturn Code : " + std::to_string(row.exitStatus)),
              std::string::npos)
        << run.log;
    EXPECT_EQ(run.results["exitStatus"], row.exitStatus);
    EXPECT_EQ(run.results["processExitCode"], row.exitCode);
  }
}

const std::string kOneInboxDrive =
    R"({ "drives": [ { "id": "a", "firmware": "KTW3LMZB" } ], "inbox": [ { "drive": "a" } ] })";
const std::string kPowerCycle = R"({ "drives": [ { "id": "a", "activation": "powerCycle" } ],
    "inbox": [ { "drive": "a" } ] })";
const std::string kGuardHeld =
    R"({ "runGuardHeld": true, "drives": [ { "id": "a" } ], "inbox": [ { "drive": "a" } ] })";
const std::string kActivationFails = R"({ "drives": [ { "id": "a",
    "faults": [ { "request": "activate", "returnCode": 7 } ] } ], "inbox": [ { "drive": "a" } ] })";

INSTANTIATE_TEST_SUITE_P(
    Rows, InstallerCodeTest,
    testing::Values(
        InstallerCodeRow{"Success", kOneInboxDrive, {L"/rc=msi"}, 0, 0},
        InstallerCodeRow{"PowerCycle", kPowerCycle, {L"/rc=msi"}, 1602, 3010},
        InstallerCodeRow{"PowerCycleWithoutTheOption", kPowerCycle, {}, 1602, 1602},
        InstallerCodeRow{"GuardHeld", kGuardHeld, {L"/rc=msi"}, 1, 1618},
        InstallerCodeRow{"Failure", kActivationFails, {L"/rc=msi"}, 1, 1603},
        InstallerCodeRow{"NoDisk", R"({ "drives": [] })", {L"/rc=msi"}, 1, 1603},
        InstallerCodeRow{"RejectedBeforeTheOption", kOneInboxDrive, {L"/x", L"/rc=msi"}, 1, 1639},
        InstallerCodeRow{"OptionInAnotherCase", kOneInboxDrive, {L"/rc=MSI"}, 1, 1},
        InstallerCodeRow{"CheckAvailable", kOneInboxDrive, {L"/rc=msi", L"/c"}, 0, 0},
        InstallerCodeRow{"CheckNothingNeeded", R"({ "drives": [] })", {L"/c", L"/rc=msi"}, 2, 2},
        InstallerCodeRow{"CheckGuardHeld", kGuardHeld, {L"/c", L"/rc=msi"}, 1, 1}),
    [](const testing::TestParamInfo<InstallerCodeRow>& info) { return info.param.name; });

// Disks that could not be examined are listed in discovery order: an
// identification failure of an earlier disk before an enumeration failure of
// a later one, in the results file and in the log.
TEST(ResultsFile, DisksNotExaminedAreListedInDiscoveryOrder) {
  CapturedMachine sim(R"({ "drives": [
      { "id": "a", "faults": [ { "request": "identify", "error": 1117 } ] },
      { "id": "b", "faults": [ { "request": "open", "error": 5 } ] }, { "id": "c" } ],
    "inbox": [ { "drive": "a" }, { "drive": "b" }, { "drive": "c" } ] })");
  const PackageRun run = runPackage(sim, {});
  EXPECT_EQ(run.exitStatus, 1);
  const nlohmann::json& drives = run.results["drives"];
  ASSERT_EQ(drives.size(), 3u) << run.results.dump(2);
  EXPECT_EQ(drives[0]["decision"], "updated");
  EXPECT_EQ(drives[1]["detail"], "Identify failed: 0x45d");
  EXPECT_EQ(drives[1]["devicePath"], "\\\\.\\PHYSICALDRIVE0");
  EXPECT_EQ(drives[2]["detail"], "Failed to get disk handle: 0x5");
  EXPECT_LT(
      run.log.find("Disk could not be examined (\\\\.\\PHYSICALDRIVE0)"),
      run.log.find("Disk could not be examined (" + drives[2]["devicePath"].get<std::string>()));
}

// What stands at the temporary names a run writes its log and results file
// through, when a test makes those names predictable.
enum class InTheWay { Nothing, File, Link };

struct TemporaryNameRow {
  std::string name;
  InTheWay inTheWay;
};

void PrintTo(const TemporaryNameRow& row, std::ostream* os) {
  *os << row.name;
}

class TemporaryName : public testing::TestWithParam<TemporaryNameRow> {
 protected:
  void TearDown() override { platform::sim::setTemporaryNameSource({}); }
};

// A file or a link at the temporary name is neither opened, followed nor
// destroyed: the file it stands for is not written. The log then keeps its
// earlier content, no results file of an earlier run is left to be read as
// this run's, and the exit status stays the drives'.
TEST_P(TemporaryName, NothingAtItIsOpenedFollowedOrDestroyed) {
  const TemporaryNameRow& row = GetParam();
  const auto dir = std::filesystem::temp_directory_path() / ("zev-temporary-" + row.name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const auto log = dir / "run.log";
  const auto json = dir / "run.json";
  const auto victim = dir / "victim";
  std::ofstream(log, std::ios::binary) << "earlier log\n";
  std::ofstream(json, std::ios::binary) << "{ \"exitStatus\": 0 }";
  std::ofstream(victim, std::ios::binary) << "victim\n";
  platform::sim::setTemporaryNameSource(
      [](const std::wstring& path) { return path + L".zevtest.tmp"; });
  for (const auto& target : {log, json}) {
    auto temporary = target;
    temporary += ".zevtest.tmp";
    if (row.inTheWay == InTheWay::Link) {
      std::error_code error;
      std::filesystem::create_symlink(victim, temporary, error);
      if (error) {
        GTEST_SKIP() << "no symbolic links here: " << error.message();
      }
    } else if (row.inTheWay == InTheWay::File) {
      std::ofstream(temporary, std::ios::binary) << "someone else's\n";
    }
  }
  CapturedMachine sim(R"({ "drives": [ { "id": "a", "firmware": "KTW3LMZB" } ],
      "inbox": [ { "drive": "a" } ] })");
  const std::vector<std::wstring> args = {L"C:\\pkg\\zev.exe", L"/s", L"/log=" + log.wstring(),
                                          L"/json=" + json.wstring()};
  std::vector<const wchar_t*> argv;
  for (const std::wstring& arg : args) {
    argv.push_back(arg.c_str());
  }
  EXPECT_EQ(packageMain(static_cast<int>(argv.size()), argv.data()), 0);
  EXPECT_EQ(readFile(victim), "victim\n");
  if (row.inTheWay == InTheWay::Nothing) {
    EXPECT_NE(readFile(log).find("[Final Result]\nReturn Code : 0\n"), std::string::npos);
    EXPECT_EQ(nlohmann::json::parse(readFile(json))["drives"][0]["decision"], "updated");
    // The temporary files were moved: nothing else is left beside them.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 3);
  } else {
    for (const auto& target : {log, json}) {
      EXPECT_NE(sim.console().find("[ERROR] " + target.string() + " could not be written.\n"),
                std::string::npos)
          << sim.console();
      auto temporary = target;
      temporary += ".zevtest.tmp";
      if (row.inTheWay == InTheWay::Link) {
        EXPECT_TRUE(std::filesystem::is_symlink(temporary));
      } else {
        EXPECT_EQ(readFile(temporary), "someone else's\n");
      }
    }
    EXPECT_EQ(readFile(log), "earlier log\n");
    EXPECT_FALSE(std::filesystem::exists(json));
  }
  std::filesystem::remove_all(dir);
}

INSTANTIATE_TEST_SUITE_P(Rows, TemporaryName,
                         testing::Values(TemporaryNameRow{"Nothing", InTheWay::Nothing},
                                         TemporaryNameRow{"File", InTheWay::File},
                                         TemporaryNameRow{"Link", InTheWay::Link}),
                         [](const testing::TestParamInfo<TemporaryNameRow>& info) {
                           return info.param.name;
                         });

// Another run holds the guard: nothing is touched, and the run fails.
TEST(RunGuard, HeldByAnotherRunRefusesTheRun) {
  CapturedMachine sim(
      R"({ "runGuardHeld": true, "drives": [ { "id": "a", "firmware": "KTW3LMZB" } ],
      "inbox": [ { "drive": "a" } ] })");
  const PackageRun run = runPackage(sim, {});
  EXPECT_EQ(run.exitStatus, 1);
  EXPECT_NE(run.console.find("  [ERROR] Another firmware update is running.\n\n"),
            std::string::npos);
  EXPECT_TRUE(sim.calls(zevsim::CallKind::GetClassDevs).empty());
  EXPECT_TRUE(sim.calls(zevsim::CallKind::CreateFile).empty());
  EXPECT_NE(run.log.find("Result Details : Another firmware update is running.\n"),
            std::string::npos);
  EXPECT_EQ(run.results["error"], "Another firmware update is running.");
  EXPECT_EQ(run.results["imageSha256"].get<std::string>().size(), 64u);
  // The guard a run takes is released at its end: the next run proceeds.
  CapturedMachine free(R"({ "drives": [] })");
  EXPECT_EQ(runPackage(free, {L"/c"}).exitStatus, 2);
  EXPECT_EQ(runPackage(free, {L"/c"}).exitStatus, 2);
}

// One run through zev-sim: its standard output, log, results file and
// report.
struct LauncherRun {
  int status = -1;
  std::string console;
  std::string log;
  std::string results;
  nlohmann::json report;
};

LauncherRun runThroughLauncher(const std::string& name, const std::string& machine,
                               const std::vector<std::wstring>& packageArgs) {
  const auto dir = std::filesystem::temp_directory_path() / ("zev-event-" + name);
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  std::ofstream(dir / "machine.json", std::ios::binary) << machine;
  std::vector<std::wstring> args = {L"zev-sim",
                                    L"--clock",
                                    L"2027-02-01T09:05:03",
                                    L"--argv0",
                                    L"C:\\pkg\\ZEV_TQ270c_V1.0.2_KTW8LMZB.exe",
                                    L"--machine",
                                    (dir / "machine.json").wstring(),
                                    L"--report",
                                    (dir / "report.json").wstring(),
                                    L"--"};
  for (const std::wstring& arg : packageArgs) {
    std::wstring text = arg;
    if (const std::size_t at = text.find(L"{dir}"); at != std::wstring::npos) {
      text.replace(at, 5, dir.wstring());
    }
    args.push_back(text);
  }
  LauncherRun run;
  {
    ConsoleCapture capture;
    run.status = zevlauncher::runLauncher(args);
    run.console = capture.text();
  }
  run.log = readFile(dir / "run.log");
  run.results = readFile(dir / "run.json");
  run.report = nlohmann::json::parse(readFile(dir / "report.json"));
  std::filesystem::remove_all(dir);
  return run;
}

// The entry's text as the results file gives its values: the package, the
// mode, the exit status, the run's error, then one line per drive.
std::string eventTextOf(const nlohmann::json& results) {
  const auto text = [](const nlohmann::json& value) {
    return value.is_null()     ? std::string("null")
           : value.is_string() ? value.get<std::string>()
                               : value.dump();
  };
  std::string out = results["package"].get<std::string>() + "\r\nMode : " + text(results["mode"]) +
                    "\r\nExit Status : " + text(results["exitStatus"]);
  if (!results["error"].is_null()) {
    out += "\r\nError : " + text(results["error"]);
  }
  int number = 1;
  for (const nlohmann::json& drive : results["drives"]) {
    out += "\r\nDrive " + std::to_string(number++) + " : driver=" + text(drive["driver"]);
    for (const char* key :
         {"devicePath", "model", "serial", "firmware", "decision", "resultCode", "detail"}) {
      out += std::string("; ") + key + "=" + text(drive[key]);
    }
  }
  return out;
}

struct EventRow {
  std::string name;
  std::string machine;
  std::vector<std::wstring> options;  // after /s and the two files
  int exitStatus;
  std::string type;  // "" for a rejected command line: no entry
  int id;
};

void PrintTo(const EventRow& row, std::ostream* os) {
  *os << row.name;
}

class EventLogEntry : public testing::TestWithParam<EventRow> {};

// Every accepted run writes exactly one entry with its outcome's type and id
// and the results file's values; a log that takes no entry changes nothing
// else of the run.
TEST_P(EventLogEntry, OnePerRunAndNothingElseChangesWhenTheLogFails) {
  const EventRow& row = GetParam();
  std::vector<std::wstring> options = {L"/s", L"/log={dir}/run.log", L"/json={dir}/run.json"};
  options.insert(options.end(), row.options.begin(), row.options.end());
  const LauncherRun run = runThroughLauncher(row.name, row.machine, options);
  EXPECT_EQ(run.report["exitStatus"], row.exitStatus) << run.console;
  const nlohmann::json& events = run.report["events"];
  if (row.type.empty()) {
    EXPECT_TRUE(events.empty()) << events.dump(2);
  } else {
    ASSERT_EQ(events.size(), 1u) << run.report.dump(2);
    EXPECT_EQ(events[0]["source"], "ZEV_TQ270c");
    EXPECT_EQ(events[0]["type"], row.type);
    EXPECT_EQ(events[0]["id"], row.id);
    EXPECT_EQ(events[0]["text"], eventTextOf(nlohmann::json::parse(run.results)));
  }
  std::string failing = row.machine;
  failing.insert(failing.find('{') + 1, R"( "eventLogFails": true, )");
  const LauncherRun refused = runThroughLauncher(row.name, failing, options);
  EXPECT_TRUE(refused.report["events"].empty());
  EXPECT_EQ(refused.status, run.status);
  EXPECT_EQ(refused.report["exitStatus"], run.report["exitStatus"]);
  EXPECT_EQ(refused.console, run.console);
  EXPECT_EQ(refused.log, run.log);
  EXPECT_EQ(refused.results, run.results);
}

const std::string kInboxDrive = R"({ "drives": [ { "id": "a", "firmware": "KTW3LMZB" } ],
    "inbox": [ { "drive": "a" } ] })";

INSTANTIATE_TEST_SUITE_P(
    Rows, EventLogEntry,
    testing::Values(
        EventRow{"UpdateSucceeded", kInboxDrive, {}, 0, "information", 100},
        EventRow{"UpdateNeedsPowerCycle",
                 R"({ "drives": [ { "id": "a", "activation": "powerCycle" } ],
                      "inbox": [ { "drive": "a" } ] })",
                 {},
                 1602,
                 "warning",
                 101},
        EventRow{
            "UpdateFailed",
            R"({ "drives": [ { "id": "a", "faults": [ { "request": "activate", "returnCode": 7 } ] },
                                  { "id": "b", "faults": [ { "request": "open", "error": 5 } ] } ],
                      "inbox": [ { "drive": "a" }, { "drive": "b" } ] })",
            {},
            1,
            "error",
            102},
        EventRow{
            "UpdateRefusedByTheRunGuard",
            R"({ "runGuardHeld": true, "drives": [ { "id": "a" } ], "inbox": [ { "drive": "a" } ] })",
            {},
            1,
            "error",
            102},
        EventRow{"CheckUpdateAvailable", kInboxDrive, {L"/c"}, 0, "information", 200},
        EventRow{
            "CheckNoUpdateNeeded",
            R"({ "drives": [ { "id": "a", "firmware": "KTW8LMZB" } ], "inbox": [ { "drive": "a" } ] })",
            {L"/c"},
            2,
            "information",
            201},
        EventRow{
            "CheckFailed",
            R"({ "drives": [ { "id": "a", "faults": [ { "request": "identify", "error": 1117 } ] } ],
                      "inbox": [ { "drive": "a" } ] })",
            {L"/c"},
            1,
            "error",
            202},
        EventRow{"RejectedCommandLine", kInboxDrive, {L"/x"}, 1, "", 0}),
    [](const testing::TestParamInfo<EventRow>& info) { return info.param.name; });

}  // namespace
}  // namespace zev
