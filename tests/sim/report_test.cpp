// The report file's JSON text: layout, request counts, Latin-1 drive text,
// message boxes read as C strings and event log entries.
#include "zevsim/report.hpp"

#include <gtest/gtest.h>

#include "report_format.hpp"
#include "sim/sample_machine.hpp"
#include "zevsim/machine.hpp"
#include "zevsim/machine_file.hpp"

namespace zevsim {
namespace {

DriveReport reportOf(std::string id, std::string firmware) {
  DriveReport drive;
  drive.id = std::move(id);
  drive.runningFirmware = firmware;
  drive.firmwareAfterReset = firmware;
  drive.slots = {{1, true, firmware}, {2, false, firmware}};
  return drive;
}

TEST(ReportFormat, WritesTheDocumentedLayout) {
  DriveReport boot = reportOf("boot", "KTW3LMZB");
  boot.requests[static_cast<int>(FaultRequest::Open)] = 2;
  boot.requests[static_cast<int>(FaultRequest::Download)] = 64;
  boot.requests[static_cast<int>(FaultRequest::Activate)] = 1;
  boot.downloadedBytes = 2097152;
  boot.stagedImageMatchesPackage = true;
  boot.slots[1].firmware = "KTW8LMZB";
  boot.firmwareAfterReset = "KTW8LMZB";
  const DriveReport idle = reportOf("idle", std::string("KTW8\0\0\0\xE9", 8));

  const std::string text = formatReport(
      1602, {{L"Result", L"Line one\nline two\n"}},
      {{L"ZEV_TQ270c", 2, 101, L"ZEV_TQ270c_V1.0.2_KTW8LMZB\r\nMode : update"}}, 3, {boot, idle});

  const std::string expected = R"({
  "exitStatus": 1602,
  "messageBoxes": [
    {
      "caption": "Result",
      "text": "Line one\nline two\n"
    }
  ],
  "events": [
    {
      "source": "ZEV_TQ270c",
      "type": "warning",
      "id": 101,
      "text": "ZEV_TQ270c_V1.0.2_KTW8LMZB\r\nMode : update"
    }
  ],
  "handlesLeftOpen": 3,
  "drives": [
    {
      "id": "boot",
      "requests": {
        "open": 2,
        "download": 64,
        "activate": 1
      },
      "downloadedBytes": 2097152,
      "stagedImageMatchesPackage": true,
      "slots": [
        {
          "slot": 1,
          "readOnly": true,
          "firmware": "KTW3LMZB"
        },
        {
          "slot": 2,
          "readOnly": false,
          "firmware": "KTW8LMZB"
        }
      ],
      "runningFirmware": "KTW3LMZB",
      "firmwareAfterReset": "KTW8LMZB"
    },
    {
      "id": "idle",
      "requests": {},
      "downloadedBytes": 0,
      "stagedImageMatchesPackage": false,
      "slots": [
        {
          "slot": 1,
          "readOnly": true,
          "firmware": "KTW8\u0000\u0000\u0000é"
        },
        {
          "slot": 2,
          "readOnly": false,
          "firmware": "KTW8\u0000\u0000\u0000é"
        }
      ],
      "runningFirmware": "KTW8\u0000\u0000\u0000é",
      "firmwareAfterReset": "KTW8\u0000\u0000\u0000é"
    }
  ]
}
)";
  EXPECT_EQ(text, expected);
}

TEST(ReportFormat, EmptyRunHasEmptyLists) {
  EXPECT_EQ(formatReport(-1, {}, {}, 0, {}),
            "{\n  \"exitStatus\": -1,\n  \"messageBoxes\": [],\n  \"events\": [],\n"
            "  \"handlesLeftOpen\": 0,\n  \"drives\": []\n}\n");
}

TEST(ReportFormat, RequestKindsFollowTheirOrderAndNames) {
  DriveReport drive = reportOf("d", "KTW3LMZB");
  for (int kind = 0; kind < kFaultRequestKinds; ++kind) {
    drive.requests[static_cast<std::size_t>(kind)] = static_cast<std::uint32_t>(kind + 1);
  }
  const std::string text = formatReport(0, {}, {}, 0, {drive});
  std::size_t at = 0;
  for (const char* entry : {"\"open\": 1", "\"deviceNumber\": 2", "\"identify\": 3",
                            "\"getInfo\": 4", "\"download\": 5", "\"activate\": 6", "\"csmi\": 7",
                            "\"vrocList\": 8", "\"scsiPortOpen\": 9"}) {
    const std::size_t found = text.find(entry, at);
    ASSERT_NE(found, std::string::npos) << entry << " in order in\n" << text;
    at = found;
  }
}

struct BoxTextCase {
  const char* name;
  std::wstring wide;
  std::string json;  // the JSON string as the report writes it, quotes included
};

class ReportMessageBox : public testing::TestWithParam<BoxTextCase> {};

TEST_P(ReportMessageBox, CaptionAndTextAreCStrings) {
  const BoxTextCase& c = GetParam();
  const std::string text = formatReport(0, {{c.wide, c.wide}}, {}, 0, {});
  EXPECT_NE(text.find("\"caption\": " + c.json + ",\n"), std::string::npos) << text;
  EXPECT_NE(text.find("\"text\": " + c.json + "\n"), std::string::npos) << text;
}

const BoxTextCase kBoxTextCases[] = {
    {"Plain", L"Patch completed", "\"Patch completed\""},
    {"CutAtFirstZero", std::wstring(L"KELDORA\0tail", 12), "\"KELDORA\""},
    {"LeadingZeroIsEmpty", std::wstring(L"\0x", 2), "\"\""},
    {"LineBreaksAndQuotes", L"a\r\nb \"c\"\t\\", "\"a\\r\\nb \\\"c\\\"\\t\\\\\""},
    {"LatinAndBeyond", L"\u00e9\u20ac", "\"\xC3\xA9\xE2\x82\xAC\""},
    {"NotAScalarValue", std::wstring(1, static_cast<wchar_t>(0xD800)), "\"\xEF\xBF\xBD\""},
};

INSTANTIATE_TEST_SUITE_P(Cases, ReportMessageBox, testing::ValuesIn(kBoxTextCases), test::ByName());

TEST(ReportFormat, EventTypesAreNamedAndOthersNumbered) {
  EXPECT_EQ(eventTypeName(1), "error");
  EXPECT_EQ(eventTypeName(2), "warning");
  EXPECT_EQ(eventTypeName(4), "information");
  EXPECT_EQ(eventTypeName(0), "success");
  EXPECT_EQ(eventTypeName(8), "auditSuccess");
  EXPECT_EQ(eventTypeName(16), "auditFailure");
  EXPECT_EQ(eventTypeName(3), "3");
}

TEST(ReportText, Latin1BytesBecomeTheirCodePoints) {
  EXPECT_EQ(utf8FromLatin1(std::string("A\0\x7F\x80\xFF", 5)),
            std::string("A\0\x7F\xC2\x80\xC3\xBF", 7));
}

// Through a machine: a fresh drive has received nothing and still runs what
// the file says in every slot.
TEST(ReportJson, FreshMachineReportsItsDrivesUntouched) {
  MachineFileResult loaded = parseMachineFile(
      R"({"drives": [{"id": "boot", "firmware": "KTW3"}], "inbox": [{"drive": "boot"}]})",
      "r.json");
  ASSERT_TRUE(loaded.config.has_value()) << loaded.error;
  Machine machine(*loaded.config, std::vector<std::uint8_t>(16, 0));
  machine.messageBox(L"text", std::wstring(L"cap\0tion", 8));
  const std::string text = reportJson(machine, 1);
  EXPECT_EQ(text, R"({
  "exitStatus": 1,
  "messageBoxes": [
    {
      "caption": "cap",
      "text": "text"
    }
  ],
  "events": [],
  "handlesLeftOpen": 0,
  "drives": [
    {
      "id": "boot",
      "requests": {},
      "downloadedBytes": 0,
      "stagedImageMatchesPackage": false,
      "slots": [
        {
          "slot": 1,
          "readOnly": true,
          "firmware": "KTW3    "
        },
        {
          "slot": 2,
          "readOnly": false,
          "firmware": "KTW3    "
        }
      ],
      "runningFirmware": "KTW3    ",
      "firmwareAfterReset": "KTW3    "
    }
  ]
}
)");
}

}  // namespace
}  // namespace zevsim
