// The event log entry's text: its lines and fields, and the cut at the event
// log's limit of one string.
#include "report/event_entry.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/driver_kind_row.hpp"
#include "core/firmware_image.hpp"
#include "core/result_codes.hpp"

namespace zev {
namespace {

struct CutRow {
  std::string name;
  std::vector<std::wstring> driveLines;
  std::size_t leftOut;  // drive lines the text leaves out
};

void PrintTo(const CutRow& row, std::ostream* os) {
  *os << row.name;
}

std::vector<std::wstring> lines(std::size_t count, const std::wstring& line) {
  return std::vector<std::wstring>(count, line);
}

// 300 lines of 100 characters after the head "T" take 1 + 300 * 102 units;
// a last line of 1236 makes the text exactly kEventTextLimit.
std::vector<std::wstring> withLastLine(std::size_t lastLength) {
  std::vector<std::wstring> out = lines(300, std::wstring(100, L'x'));
  out.push_back(std::wstring(lastLength, L'y'));
  return out;
}

// count times U+1F600: one wchar_t each where wchar_t has 32 bits, a
// surrogate pair where it has 16.
std::wstring beyondTheBmp(std::size_t count) {
  std::wstring out;
  for (std::size_t i = 0; i < count; ++i) {
    out += L"\U0001F600";
  }
  return out;
}

class EventTextCut : public testing::TestWithParam<CutRow> {};

TEST_P(EventTextCut, KeepsWholeLinesAndCountsTheRest) {
  const CutRow& row = GetParam();
  const std::vector<std::wstring> head = {L"T"};
  const std::wstring text = eventTextWithin(head, row.driveLines, kEventTextLimit);
  EXPECT_LE(utf16Length(text), kEventTextLimit);
  const std::size_t kept = row.driveLines.size() - row.leftOut;
  std::wstring expected = L"T";
  for (std::size_t i = 0; i < kept; ++i) {
    expected += L"\r\n" + row.driveLines[i];
  }
  if (row.leftOut > 0) {
    expected += L"\r\n" + std::to_wstring(row.leftOut) +
                (row.leftOut == 1 ? L" more drive" : L" more drives") +
                L" left out at the event log's limit of 31839 characters.";
  }
  EXPECT_TRUE(text == expected) << "lengths " << text.size() << " and " << expected.size();
}

INSTANTIATE_TEST_SUITE_P(
    Rows, EventTextCut,
    testing::Values(CutRow{"FitsExactly", withLastLine(1236), 0},
                    CutRow{"OneOver", withLastLine(1237), 1},
                    // 1 + 311 * 102 + 2 + 70 units fit, 312 lines and the
                    // closing line do not.
                    CutRow{"ManyDrives", lines(1000, std::wstring(100, L'x')), 689},
                    // A character beyond U+FFFF is two UTF-16 units: 50 of
                    // them are as long as 100 characters of the plane below.
                    CutRow{"CharactersBeyondTheBmpCountTwo", lines(1000, beyondTheBmp(50)), 689}),
    [](const testing::TestParamInfo<CutRow>& info) { return info.param.name; });

// The results file names the driver from the drive's row.
const DriverKindRow kInboxRow{DriverKind::Inbox, L"", false, false, "inbox", nullptr, nullptr};

DriveOutcome updated(const wchar_t* model) {
  DriveOutcome outcome;
  outcome.disk.devicePath = L"\\\\.\\PHYSICALDRIVE0";
  outcome.disk.modelNumber = model;
  outcome.disk.serialNumber = L"KD27A               ";
  outcome.disk.firmwareRevision = L"KTW3LMZB";
  outcome.row = &kInboxRow;
  outcome.decision = Decision::Updated;
  outcome.resultCode = 0;
  return outcome;
}

TEST(EventEntry, HeadThenOneLinePerDriveWithTheResultsFileFields) {
  UpdateContext context;
  context.identity = buildPackageIdentity();
  // A zero or a line break of drive text would end the string or forge a line.
  context.outcomes.push_back(updated(L"KELDORA\nTQ270c\0 1TB"));
  DriveOutcome notExamined;
  notExamined.disk.devicePath = L"\\\\?\\scsi#disk";
  notExamined.detail = "Failed to get disk handle: 0x5";
  context.outcomes.push_back(notExamined);
  const RunResult result = runResultOf(RunMode::Update, context.outcomes, std::nullopt);
  const EventEntry entry = composeEventEntry(context, result);
  EXPECT_EQ(entry.type, platform::EventType::Error);
  EXPECT_EQ(entry.id, kEventUpdateFailed);
  EXPECT_TRUE(entry.text ==
              context.identity.title +
                  L"\r\nMode : update\r\nExit Status : 1\r\n"
                  L"Drive 1 : driver=inbox; devicePath=\\\\.\\PHYSICALDRIVE0; "
                  L"model=KELDORA?TQ270c; serial=KD27A; firmware=KTW3LMZB; decision=updated; "
                  L"resultCode=0; detail=null\r\n"
                  L"Drive 2 : driver=null; devicePath=\\\\?\\scsi#disk; model=null; serial=null; "
                  L"firmware=null; decision=notExamined; resultCode=null; "
                  L"detail=Failed to get disk handle: 0x5");
}

TEST(EventEntry, RunErrorFollowsTheExitStatus) {
  UpdateContext context;
  context.identity = buildPackageIdentity();
  context.checkOnly = true;
  context.runError = "The firmware image is damaged.";
  const RunResult result = runResultOf(RunMode::Check, context.outcomes, context.runError);
  const EventEntry entry = composeEventEntry(context, result);
  EXPECT_EQ(entry.type, platform::EventType::Error);
  EXPECT_EQ(entry.id, kEventCheckFailed);
  EXPECT_TRUE(entry.text == context.identity.title +
                                L"\r\nMode : check\r\nExit Status : 1\r\n"
                                L"Error : The firmware image is damaged.");
}

// A server's worth of drives: the entry stays within the limit, lists the
// first drives whole and says how many it leaves out, and one more drive line
// would not have fitted.
TEST(EventEntry, ManyDrivesAreCutAtTheLimit) {
  UpdateContext context;
  context.identity = buildPackageIdentity();
  for (int i = 0; i < 400; ++i) {
    context.outcomes.push_back(updated(L"KELDORA TQ270c 1TB"));
  }
  const RunResult result = runResultOf(RunMode::Update, context.outcomes, std::nullopt);
  const std::wstring text = composeEventEntry(context, result).text;
  EXPECT_LE(text.size(), kEventTextLimit);
  std::vector<std::wstring> textLines;
  for (std::size_t at = 0; at <= text.size();) {
    const std::size_t end = std::min(text.find(L"\r\n", at), text.size());
    textLines.push_back(text.substr(at, end - at));
    at = end + 2;
  }
  ASSERT_GT(textLines.size(), 4u);
  const std::size_t listed = textLines.size() - 4;  // title, mode, status; the closing line
  for (std::size_t i = 0; i < listed; ++i) {
    EXPECT_TRUE(textLines[3 + i].starts_with(L"Drive " + std::to_wstring(i + 1) + L" : ")) << i;
  }
  EXPECT_TRUE(textLines.back() == std::to_wstring(400 - listed) +
                                      L" more drives left out at the event log's limit of "
                                      L"31839 characters.");
  EXPECT_GT(text.size() + 2 + textLines[3 + listed - 1].size(), kEventTextLimit);
}

}  // namespace
}  // namespace zev
