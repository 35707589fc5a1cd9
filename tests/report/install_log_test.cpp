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
  void SetUp() override {
    buildPackageIdentity();
    machine_.setClock({2027, 2, 1, 9, 5, 3});
  }
  void TearDown() override { silentMode = false; }
  zevsim::Machine machine_;
  const platform::sim::SimBinding binding_{machine_};
};

DiskInfo drive(const wchar_t* model, std::int32_t code) {
  DiskInfo disk;
  disk.modelNumber = model;
  disk.serialNumber = L"SN";
  disk.firmwareRevision = L"KTW3LMZB";
  disk.resultCode = code;
  return disk;
}

TEST_F(InstallLog, TimeStampPadsEveryField) {
  EXPECT_EQ(timeStamp(), "01-02-2027(09:05:03)");
  machine_.setClock({2026, 12, 31, 23, 59, 59});
  EXPECT_EQ(timeStamp(), "31-12-2026(23:59:59)");
}

struct FinalCase {
  std::vector<std::int32_t> codes;
  std::int32_t finalResult;
};

TEST_F(InstallLog, FinalResultFromTheDriveCodes) {
  const FinalCase cases[] = {
      {{}, 1},           {{0}, 0},       {{0, 0}, 0},    {{1602}, 1602}, {{1602, 0}, 1602},
      {{0, 1602}, 1602}, {{1, 1602}, 1}, {{1602, 1}, 1}, {{1}, 1},       {{5}, 1},
      {{0, 5}, 1},       {{1602, 5}, 1}, {{2}, 1},       {{-1}, 1},
  };
  for (const FinalCase& c : cases) {
    UpdateContext context;
    for (std::int32_t code : c.codes) {
      context.updateList.push_back(drive(L"M", code));
    }
    composeLog(context);
    EXPECT_EQ(context.finalResult, c.finalResult) << testing::PrintToString(c.codes);
  }
}

TEST_F(InstallLog, ComposesTheDriveBlocksAndTheFinalResult) {
  UpdateContext context;
  context.inputCommand = L"C:\\pkg\\zev.exe /s ";
  context.startTime = L"01-02-2027(09:05:03)";
  context.endTime = L"01-02-2027(09:06:00)";
  context.updateList.push_back(drive(L"KELDORA TQ270c 1TB", 1602));
  context.updateList.push_back(drive(L"KELDORA TQ270c 1TB", 5));
  EXPECT_EQ(composeLog(context),
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
  DiskInfo disk = drive(L"", 0);
  disk.firmwareRevision = std::wstring(L"KTW8\0\0\xE9Z", 8);
  context.updateList.push_back(disk);
  const std::string log = composeLog(context);
  EXPECT_NE(log.find(std::string("Current Firmware Version : KTW8\0\0\xE9Z\n", 36)),
            std::string::npos);
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
      context.updateList.push_back(drive(L"M", c.code));
      std::string output;
      std::int32_t result = 0;
      {
        ConsoleCapture capture;
        result = writeResults(context);
        output = capture.text();
      }
      EXPECT_EQ(result, c.code);
      EXPECT_EQ(output, "\n >> ZEV Ended (Return Code : " + std::to_string(c.code) + ")\n\n");
      EXPECT_NE(composeLog(context).find(c.finalLine), std::string::npos);
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
  context.logPath = L"/nonexistent-zev-dir/x.log";
  context.logRequested = true;
  std::string output;
  {
    ConsoleCapture capture;
    EXPECT_EQ(writeResults(context), 1);
    output = capture.text();
  }
  EXPECT_EQ(output,
            "[ERROR] /nonexistent-zev-dir/x.log could not be written.\n"
            "\n >> ZEV Ended (Return Code : 1)\n\n");
}

TEST_F(InstallLog, BeginLogPrintsTheStartedLineAndTakesTheTime) {
  UpdateContext context;
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
