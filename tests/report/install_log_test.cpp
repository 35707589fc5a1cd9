// The installation log, the final result and the time stamp.
#include "report/install_log.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/firmware_image.hpp"
#include "core/silent_mode.hpp"
#include "platform/sim/sim_binding.hpp"
#include "report/console.hpp"
#include "zevsim/machine.hpp"

namespace zev {
namespace {

class InstallLog : public testing::Test {
 protected:
  InstallLog() : machine_(zevsim::MachineConfig{}, {}) {}
  void SetUp() override { machine_.setClock({2027, 2, 1, 9, 5, 3}); }
  void TearDown() override { silentMode = false; }
  zevsim::Machine machine_;
  const platform::sim::SimBinding binding_{machine_};
};

DriveOutcome drive(const wchar_t* model, std::int32_t code) {
  DriveOutcome outcome;
  outcome.disk.modelNumber = model;
  outcome.disk.serialNumber = L"SN";
  outcome.disk.firmwareRevision = L"KTW3LMZB";
  outcome.disk.resultCode = code;
  outcome.resultCode = code;
  outcome.decision = code == 0      ? Decision::Updated
                     : code == 1602 ? Decision::UpdatedNeedsPowerCycle
                                    : Decision::Failed;
  return outcome;
}

RunResult resultOf(const UpdateContext& context) {
  return runResultOf(RunMode::Update, context.outcomes, context.runError);
}

TEST_F(InstallLog, TimeStampPadsEveryField) {
  EXPECT_EQ(timeStamp(), "01-02-2027(09:05:03)");
  machine_.setClock({2026, 12, 31, 23, 59, 59});
  EXPECT_EQ(timeStamp(), "31-12-2026(23:59:59)");
}

TEST_F(InstallLog, ComposesTheDriveBlocksAndTheFinalResult) {
  UpdateContext context;
  context.identity = buildPackageIdentity();
  context.inputCommand = L"C:\\pkg\\zev.exe /s ";
  context.startTime = L"01-02-2027(09:05:03)";
  context.endTime = L"01-02-2027(09:06:00)";
  context.outcomes.push_back(drive(L"KELDORA TQ270c 1TB", 1602));
  context.outcomes.push_back(drive(L"KELDORA TQ270c 1TB", 5));
  EXPECT_EQ(composeLog(context, resultOf(context)),
            "Start Time : 01-02-2027(09:05:03)\n"
            "End Time : 01-02-2027(09:06:00)\n"
            "Input Command : C:\\pkg\\zev.exe /s \n"
            "\n[Disk #1]\n"
            "Model Number : KELDORA TQ270c 1TB\n"
            "Serial Number : SN\n"
            "Current Firmware Version : KTW3LMZB\n"
            "Updated Firmware Version : KTW8LMZB\n"
            "Return Code : 1602\n"
            "Result Details : Downloaded firmware successfully, but firmware activation requires "
            "reboot.\n"
            "\n[Disk #2]\n"
            "Model Number : KELDORA TQ270c 1TB\n"
            "Serial Number : SN\n"
            "Current Firmware Version : KTW3LMZB\n"
            "Updated Firmware Version : KTW8LMZB\n"
            "Return Code : 5\n"
            "Result Details : Patch Failed.\n"
            "\n[Final Result]\n"
            "Return Code : 1\n"
            "Result Details : Patch Failed..\n");
}

TEST_F(InstallLog, DriveTextIsNarrowedByLength) {
  UpdateContext context;
  context.identity = buildPackageIdentity();
  DriveOutcome outcome = drive(L"", 0);
  outcome.disk.firmwareRevision = std::wstring(L"KTW8\0\0\xE9Z", 8);
  context.outcomes.push_back(outcome);
  const std::string log = composeLog(context, resultOf(context));
  EXPECT_NE(log.find(std::string("Current Firmware Version : KTW8\0\0\xE9Z\n", 36)),
            std::string::npos);
}

// No argument and no device path can end a log line and forge one of its
// own: their control characters are "?".
TEST_F(InstallLog, CommandLineAndDevicePathsCannotForgeALine) {
  UpdateContext context;
  context.identity = buildPackageIdentity();
  context.inputCommand = L"C:\\pkg\\zev.exe /log=x\n[Final Result]\r\nReturn Code : 0\x85 ";
  DriveOutcome unexamined;
  unexamined.decision = Decision::NotExamined;
  unexamined.disk.devicePath = L"\\\\?\\scsi#disk\n[Final Result]";
  context.outcomes.push_back(unexamined);
  const std::string log = composeLog(context, resultOf(context));
  EXPECT_NE(log.find("Input Command : C:\\pkg\\zev.exe /log=x?[Final Result]??Return Code : 0? \n"),
            std::string::npos)
      << log;
  EXPECT_NE(log.find("Disk could not be examined (\\\\?\\scsi#disk?[Final Result]).\n"),
            std::string::npos)
      << log;
  // One line begins with "[Final Result]": the log's own.
  EXPECT_EQ(log.find("\n[Final Result]"), log.rfind("\n[Final Result]\n"));
}

struct BoxCase {
  std::int32_t code;
  const wchar_t* text;
  const char* finalLine;
};

TEST_F(InstallLog, WriteResultsShowsTheBoxUnlessSilent) {
  const BoxCase cases[] = {
      {0, L"Patch completed\n", "Result Details : Patch completed\n"},
      {1602,
       L"Result Details : Downloaded firmware successfully, \nbut firmware activation requires "
       L"reboot.\n",
       "Result Details : Downloaded firmware successfully, but firmware activation requires "
       "reboot.\n"},
      {1, L"Patch Failed.\n", "Result Details : Patch Failed..\n"},
  };
  std::size_t boxes = 0;
  for (const BoxCase& c : cases) {
    for (bool silent : {false, true}) {
      silentMode = silent;
      UpdateContext context;
      context.identity = buildPackageIdentity();
      context.outcomes.push_back(drive(L"M", c.code));
      std::string output;
      std::int32_t result = 0;
      {
        ConsoleCapture capture;
        result = writeResults(context, resultOf(context));
        output = capture.text();
      }
      EXPECT_EQ(result, c.code);
      EXPECT_EQ(output, "\n >> ZEV Ended (Return Code : " + std::to_string(c.code) + ")\n\n");
      EXPECT_NE(composeLog(context, resultOf(context)).find(c.finalLine), std::string::npos);
      if (!silent) {
        ++boxes;
        ASSERT_EQ(machine_.messageBoxes().size(), boxes);
        EXPECT_EQ(machine_.messageBoxes().back().text, c.text);
        EXPECT_EQ(machine_.messageBoxes().back().caption, L"KELDORA ZEV_TQ270c_V1.0.2_KTW8LMZB");
      } else {
        EXPECT_EQ(machine_.messageBoxes().size(), boxes);
      }
    }
  }
}

TEST_F(InstallLog, ALogThatCannotBeWrittenIsReportedBeforeTheEndLine) {
  silentMode = true;
  UpdateContext context;
  context.identity = buildPackageIdentity();
  context.logPath = L"/nonexistent-zev-dir/x.log";
  context.logRequested = true;
  std::string output;
  {
    ConsoleCapture capture;
    EXPECT_EQ(writeResults(context, resultOf(context)), 1);
    output = capture.text();
  }
  EXPECT_EQ(output,
            "[ERROR] /nonexistent-zev-dir/x.log could not be written.\n"
            "\n >> ZEV Ended (Return Code : 1)\n\n");
}

TEST_F(InstallLog, BeginLogPrintsTheStartedLineAndTakesTheTime) {
  UpdateContext context;
  context.identity = buildPackageIdentity();
  std::string output;
  {
    ConsoleCapture capture;
    beginLog(context);
    output = capture.text();
  }
  EXPECT_EQ(output, "\n >> ZEV Started \n\n");
  EXPECT_EQ(context.startTime, L"01-02-2027(09:05:03)");
}

}  // namespace
}  // namespace zev
