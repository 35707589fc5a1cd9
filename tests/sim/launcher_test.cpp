// The launcher: options, the clock, message-box lines, and the runs that end
// before the package starts (bad options, machine files or report paths).
#include "launcher.hpp"

#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "report/console.hpp"

namespace zevlauncher {
namespace {

// ---------------------------------------------------------------------------
// Options

struct OptionCase {
  const char* name;
  std::vector<std::wstring> args;
  const char* problem;  // nullptr: accepted; else a part of the problem text
  std::optional<std::string> machine;
  std::optional<std::string> report;
  std::wstring argv0;
  std::vector<std::wstring> packageArgs;
};

class LauncherOptionsTest : public testing::TestWithParam<OptionCase> {};

TEST_P(LauncherOptionsTest, SplitsLauncherAndPackageArguments) {
  const OptionCase& c = GetParam();
  const ParsedOptions parsed = parseLauncherOptions(c.args);
  if (c.problem != nullptr) {
    ASSERT_FALSE(parsed.options.has_value());
    EXPECT_NE(parsed.problem.find(c.problem), std::string::npos) << parsed.problem;
    EXPECT_EQ(parsed.problem.find('\n'), std::string::npos);
    return;
  }
  ASSERT_TRUE(parsed.options.has_value()) << parsed.problem;
  EXPECT_EQ(parsed.options->machinePath, c.machine);
  EXPECT_EQ(parsed.options->reportPath, c.report);
  EXPECT_EQ(parsed.options->argv0, c.argv0);
  EXPECT_EQ(parsed.options->packageArgs, c.packageArgs);
}

const OptionCase kOptionCases[] = {
    {"Nothing", {L"/bin/zev-sim"}, nullptr, {}, {}, L"/bin/zev-sim", {}},
    {"PackageArgumentsOnly",
     {L"zev-sim", L"/s", L"/log=x.log"},
     nullptr,
     {},
     {},
     L"zev-sim",
     {L"/s", L"/log=x.log"}},
    {"AllOptions",
     {L"zev-sim", L"--machine", L"m.json", L"--report", L"r.json", L"--clock",
      L"2026-01-02T03:04:05", L"--argv0", L"C:\\zev.exe", L"/s"},
     nullptr,
     "m.json",
     "r.json",
     L"C:\\zev.exe",
     {L"/s"}},
    {"DoubleDashEndsOptions",
     {L"zev-sim", L"--machine", L"m.json", L"--", L"--machine"},
     nullptr,
     "m.json",
     {},
     L"zev-sim",
     {L"--machine"}},
    {"OptionsAfterAPackageArgumentAreThePackages",
     {L"zev-sim", L"/s", L"--machine", L"m.json"},
     nullptr,
     {},
     {},
     L"zev-sim",
     {L"/s", L"--machine", L"m.json"}},
    {"Argv0MayBeEmptyOrWide",
     {L"zev-sim", L"--argv0", L"\u00e9\u20ac"},
     nullptr,
     {},
     {},
     L"\u00e9\u20ac",
     {}},
    {"UnknownOption",
     {L"zev-sim", L"--machines", L"m.json"},
     "unknown option \"--machines\"",
     {},
     {},
     {},
     {}},
    {"OptionWithEquals", {L"zev-sim", L"--machine=m.json"}, "unknown option", {}, {}, {}, {}},
    {"MissingValue", {L"zev-sim", L"--report"}, "--report needs a value", {}, {}, {}, {}},
    {"GivenTwice", {L"zev-sim", L"--machine", L"a", L"--machine", L"b"}, "twice", {}, {}, {}, {}},
    {"Argv0GivenTwice", {L"zev-sim", L"--argv0", L"a", L"--argv0", L"b"}, "twice", {}, {}, {}, {}},
    {"EmptyMachineName", {L"zev-sim", L"--machine", L""}, "file name", {}, {}, {}, {}},
    {"BadClock", {L"zev-sim", L"--clock", L"2026-02-30T00:00:00"}, "--clock", {}, {}, {}, {}},
    {"LineBreakInAnOption", {L"zev-sim", L"--a\nb"}, "option \"--a\\nb\"", {}, {}, {}, {}},
    {"LineBreakInAClock", {L"zev-sim", L"--clock", L"\r\n"}, "not \"\\r\\n\"", {}, {}, {}, {}},
};

INSTANTIATE_TEST_SUITE_P(Cases, LauncherOptionsTest, testing::ValuesIn(kOptionCases),
                         [](const testing::TestParamInfo<OptionCase>& info) {
                           return std::string(info.param.name);
                         });

struct ClockCase {
  const char* text;
  bool valid;
};

class LauncherClock : public testing::TestWithParam<ClockCase> {};

TEST_P(LauncherClock, AcceptsOnlyRealDatesAndTimes) {
  const ClockCase& c = GetParam();
  const std::optional<zevsim::LocalTime> t = parseClock(c.text);
  ASSERT_EQ(t.has_value(), c.valid) << c.text;
  if (t) {
    char back[32];
    std::snprintf(back, sizeof back, "%04d-%02d-%02dT%02d:%02d:%02d", t->year, t->month, t->day,
                  t->hour, t->minute, t->second);
    EXPECT_STREQ(back, c.text);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, LauncherClock,
    testing::Values(
        ClockCase{"2026-01-02T03:04:05", true}, ClockCase{"2024-02-29T23:59:59", true},
        ClockCase{"2000-02-29T00:00:00", true}, ClockCase{"1900-02-29T00:00:00", false},
        ClockCase{"2023-02-29T00:00:00", false}, ClockCase{"2026-04-31T00:00:00", false},
        ClockCase{"2026-12-31T00:00:00", true}, ClockCase{"2026-13-01T00:00:00", false},
        ClockCase{"2026-00-10T00:00:00", false}, ClockCase{"0000-01-01T00:00:00", false},
        ClockCase{"2026-01-01T24:00:00", false}, ClockCase{"2026-01-01T00:60:00", false},
        ClockCase{"2026-01-01T00:00:60", false}, ClockCase{"2026-01-01 00:00:00", false},
        ClockCase{"2026-1-01T00:00:00", false}, ClockCase{"2026-01-01T00:00:0x", false},
        ClockCase{"2026-01-01T00:00:00Z", false}, ClockCase{"", false}));

// ---------------------------------------------------------------------------
// Message boxes and text conversion

struct BoxLineCase {
  const char* name;
  std::wstring caption;
  std::wstring text;
  std::string line;
};

class LauncherMessageBox : public testing::TestWithParam<BoxLineCase> {};

TEST_P(LauncherMessageBox, IsOneLabelledBlockEndingInOneLineBreak) {
  const BoxLineCase& c = GetParam();
  EXPECT_EQ(messageBoxLine({c.caption, c.text}), c.line);
}

const BoxLineCase kBoxLineCases[] = {
    {"AddsALineBreak", L"Title", L"Patch completed", "[message box] Title: Patch completed\n"},
    {"KeepsTheTextsOwnLineBreak", L"Title", L"Done.\n", "[message box] Title: Done.\n"},
    {"KeepsInnerLineBreaks", L"T", L"one\ntwo\n", "[message box] T: one\ntwo\n"},
    {"CaptionEndsAtZero", std::wstring(L"KELDORA\0junk", 12), L"x", "[message box] KELDORA: x\n"},
    {"TextEndsAtZero", L"T", std::wstring(L"ok\0\n", 4), "[message box] T: ok\n"},
    {"EmptyText", L"T", L"", "[message box] T: \n"},
    {"NonAsciiAsUtf8", L"\u00e9", L"\u20ac", "[message box] \xC3\xA9: \xE2\x82\xAC\n"},
};

INSTANTIATE_TEST_SUITE_P(Cases, LauncherMessageBox, testing::ValuesIn(kBoxLineCases),
                         [](const testing::TestParamInfo<BoxLineCase>& info) {
                           return std::string(info.param.name);
                         });

struct Utf8Case {
  const char* name;
  std::string utf8;
  std::wstring wide;
};

class LauncherUtf8 : public testing::TestWithParam<Utf8Case> {};

TEST_P(LauncherUtf8, DecodesAndReplacesWhatIsNotUtf8) {
  EXPECT_EQ(wideFromUtf8(GetParam().utf8), GetParam().wide);
}

std::wstring codePoints(std::initializer_list<std::uint32_t> codes) {
  std::wstring out;
  for (const std::uint32_t code : codes) {
    if (sizeof(wchar_t) == 2 && code >= 0x10000) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((code - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((code - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(code));
    }
  }
  return out;
}

const Utf8Case kUtf8Cases[] = {
    {"Ascii", "/log=a.log", L"/log=a.log"},
    {"TwoThreeFourBytes", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80",
     codePoints({0xE9, 0x20AC, 0x1F600})},
    {"LoneContinuation", "a\x80z", codePoints({'a', 0xFFFD, 'z'})},
    {"Overlong", "\xC0\xAF", codePoints({0xFFFD, 0xFFFD})},
    {"EncodedSurrogate", "\xED\xA0\x80", codePoints({0xFFFD, 0xFFFD, 0xFFFD})},
    {"Truncated", "\xE2\x82", codePoints({0xFFFD, 0xFFFD})},
    {"BeyondUnicode", "\xF4\x90\x80\x80", codePoints({0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD})},
};

INSTANTIATE_TEST_SUITE_P(Cases, LauncherUtf8, testing::ValuesIn(kUtf8Cases),
                         [](const testing::TestParamInfo<Utf8Case>& info) {
                           return std::string(info.param.name);
                         });

TEST(LauncherUtf8Back, RoundTripsValidText) {
  const std::string text = "K\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80";
  EXPECT_EQ(utf8FromWide(wideFromUtf8(text)), text);
}

// ---------------------------------------------------------------------------
// Runs that end before the package starts

class LauncherRun : public testing::Test {
 protected:
  void SetUp() override {
    directory_ = std::filesystem::temp_directory_path() /
                 ("zev_launcher_" +
                  std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    std::filesystem::create_directories(directory_);
  }
  void TearDown() override { std::filesystem::remove_all(directory_); }

  std::wstring path(const std::string& name) const {
    return wideFromUtf8((directory_ / name).string());
  }
  std::wstring write(const std::string& name, const std::string& text) const {
    std::ofstream((directory_ / name), std::ios::binary) << text;
    return path(name);
  }

  // Runs the launcher; the package's console output is captured, not printed.
  int run(const std::vector<std::wstring>& args) {
    zev::ConsoleCapture capture;
    std::ostringstream errors;
    const int status = runLauncher(args, errors);
    console_ = capture.text();
    errors_ = errors.str();
    return status;
  }

  std::filesystem::path directory_;
  std::string console_;
  std::string errors_;
};

TEST_F(LauncherRun, OptionErrorIsOneLineAndStopsBeforeThePackage) {
  for (const std::vector<std::wstring>& args :
       {std::vector<std::wstring>{L"zev-sim", L"--bogus"},
        std::vector<std::wstring>{L"zev-sim", L"--clock", L"yesterday"},
        std::vector<std::wstring>{L"zev-sim", L"--machine"}}) {
    EXPECT_EQ(run(args), 2);
    EXPECT_EQ(console_, "");
    ASSERT_FALSE(errors_.empty());
    EXPECT_EQ(errors_.rfind("zev-sim: ", 0), 0u) << errors_;
    EXPECT_EQ(errors_.find('\n'), errors_.size() - 1) << errors_;
  }
}

TEST_F(LauncherRun, MachineFileErrorIsOneLineAndStopsBeforeThePackage) {
  const std::wstring machine = write("bad.json", R"({"drives": [{"id": "a", "fwug": 300}]})");
  EXPECT_EQ(run({L"zev-sim", L"--machine", machine, L"/s"}), 2);
  EXPECT_EQ(console_, "");
  EXPECT_EQ(errors_, utf8FromWide(machine) +
                         ": $.drives[0].fwug: too large: must be from 0 to 255, not 300\n");
}

TEST_F(LauncherRun, UnreadableMachineFileStopsBeforeThePackage) {
  const std::wstring machine = path("missing.json");
  EXPECT_EQ(run({L"zev-sim", L"--machine", machine}), 2);
  EXPECT_EQ(console_, "");
  EXPECT_EQ(errors_.rfind(utf8FromWide(machine) + ": $: ", 0), 0u) << errors_;
  EXPECT_EQ(errors_.find('\n'), errors_.size() - 1);
}

#ifndef _WIN32
// A file that never ends is refused once the limit is read, not read whole.
TEST_F(LauncherRun, EndlessMachineFileStopsBeforeThePackage) {
  EXPECT_EQ(run({L"zev-sim", L"--machine", L"/dev/zero"}), 2);
  EXPECT_EQ(console_, "");
  EXPECT_EQ(errors_, "/dev/zero: $: larger than 64 MiB, the most a machine file may hold\n");
}

// A FIFO would hold the launcher in its open until a writer came: it is
// refused without being opened.
TEST_F(LauncherRun, FifoMachineFileStopsBeforeThePackage) {
  const std::wstring machine = path("fifo.json");
  ASSERT_EQ(mkfifo(utf8FromWide(machine).c_str(), 0600), 0) << std::strerror(errno);
  EXPECT_EQ(run({L"zev-sim", L"--machine", machine}), 2);
  EXPECT_EQ(console_, "");
  EXPECT_EQ(errors_, utf8FromWide(machine) +
                         ": $: not a regular file (a FIFO); a machine file is read only from a "
                         "regular file\n");
}

TEST_F(LauncherRun, LineBreakInAReportNameIsShownEscaped) {
  const std::wstring machine = write("empty.json", "{}");
  EXPECT_EQ(run({L"zev-sim", L"--machine", machine, L"--report", path("no\ndir/r.json")}), 2);
  EXPECT_EQ(errors_.find('\n'), errors_.size() - 1) << errors_;
  EXPECT_NE(errors_.find("no\\ndir/r.json: "), std::string::npos) << errors_;
}

#if !defined(__SANITIZE_ADDRESS__)
// More memory than the process may take, while loading (an 8 MB list of
// numbers) or while running (200 drives that each stage the 2 MiB image):
// one line and status 2, not an abort. The child process gets 48 MiB beyond
// what it already maps. (AddressSanitizer maps its shadow memory beyond any
// such limit.)
TEST_F(LauncherRun, AllocationFailureIsOneLineAndStatusTwo) {
  std::string numbers = "{\"description\": [";
  for (int i = 0; i < 4000000; ++i) {
    numbers += "0,";
  }
  std::string drives = "{\"drives\": [{\"id\": \"d0\"}";
  std::string inbox = "], \"inbox\": [{\"drive\": \"d0\"}";
  for (int i = 1; i < 200; ++i) {
    drives += ", {\"id\": \"d" + std::to_string(i) + "\"}";
    inbox += ", {\"drive\": \"d" + std::to_string(i) + "\"}";
  }
  const std::wstring wide = write("wide.json", numbers + "0]}");
  const std::wstring many = write("many.json", drives + inbox + "]}");
  // In the child: its standard output (the package's lines) to /dev/null,
  // and its memory limited.
  const auto limitMemory = [] {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    long pages = 0;
    std::ifstream("/proc/self/statm") >> pages;
    const auto mapped = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE));
    const rlimit limit{mapped + (rlim_t{48} << 20), mapped + (rlim_t{48} << 20)};
    setrlimit(RLIMIT_AS, &limit);
  };
  EXPECT_EXIT(
      {
        limitMemory();
        std::exit(runLauncher({L"zev-sim", L"--machine", wide}, std::cerr));
      },
      testing::ExitedWithCode(2), "^zev-sim: out of memory while loading the machine file\n$");
  EXPECT_EXIT(
      {
        limitMemory();
        std::exit(runLauncher(
            {L"zev-sim", L"--machine", many, L"--", L"/s", L"/log=" + path("install.log")},
            std::cerr));
      },
      testing::ExitedWithCode(2), "^zev-sim: out of memory while running the package\n$");
}
#endif

// A report that cannot be written after the run: the reason, and status 2.
TEST_F(LauncherRun, ReportThatCannotBeWrittenEndsWithStatusTwo) {
  const std::wstring machine = write("empty.json", "{}");
  EXPECT_EQ(run({L"zev-sim", L"--machine", machine, L"--report", L"/dev/full", L"--", L"/s",
                 L"/log=" + path("install.log")}),
            2);
  EXPECT_NE(console_, "");  // the package ran
  EXPECT_EQ(errors_, "zev-sim: cannot write the report /dev/full: " +
                         std::string(std::strerror(ENOSPC)) + "\n");
}
#endif

TEST_F(LauncherRun, UnwritableReportStopsBeforeThePackage) {
  const std::wstring machine = write("empty.json", "{}");
  const std::wstring report = path("no-such-directory/report.json");
  EXPECT_EQ(run({L"zev-sim", L"--machine", machine, L"--report", report}), 2);
  EXPECT_EQ(console_, "");
  EXPECT_EQ(errors_.rfind("zev-sim: cannot write the report " + utf8FromWide(report), 0), 0u)
      << errors_;
}

// A machine without drives: the package runs, and the report carries the
// status the launcher returns.
TEST_F(LauncherRun, RunsThePackageAndReportsItsStatus) {
  const std::wstring machine = write("empty.json", R"({"description": "nothing attached"})");
  const std::wstring report = path("report.json");
  const std::wstring log = path("install.log");
  const int status = run({L"zev-sim", L"--machine", machine, L"--report", report, L"--clock",
                          L"2026-01-02T03:04:05", L"--", L"/s", L"/log=" + log});
  EXPECT_NE(console_, "");
  EXPECT_EQ(errors_, "");  // silent: no message box
  std::ifstream in(directory_ / "report.json", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str().rfind("{\n  \"exitStatus\": " + std::to_string(status) + ",\n", 0), 0u)
      << text.str();
  EXPECT_NE(text.str().find("\"drives\": []"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Whole runs: what the report shows the package's verdict leads to.

struct ReportCase {
  const char* name;
  const char* machine;
  int exitStatus;
  const char* drive;               // a drive of the report
  const char* firmwareAfterReset;  // what that drive runs after the reset
};

class LauncherReport : public LauncherRun, public testing::WithParamInterface<ReportCase> {};

TEST_P(LauncherReport, ShowsWhatEachDriveRunsAfterTheReset) {
  const ReportCase& c = GetParam();
  const std::wstring machine = write("machine.json", c.machine);
  const std::wstring report = path("report.json");
  EXPECT_EQ(run({L"zev-sim", L"--machine", machine, L"--report", report, L"--clock",
                 L"2026-01-02T03:04:05", L"--", L"/s", L"/log=" + path("install.log")}),
            c.exitStatus)
      << console_;
  std::ifstream in(directory_ / "report.json", std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  const std::string json = text.str();
  const std::size_t drive = json.find("\"id\": \"" + std::string(c.drive) + "\"");
  ASSERT_NE(drive, std::string::npos) << json;
  const std::size_t after = json.find("\"firmwareAfterReset\": ", drive);
  ASSERT_NE(after, std::string::npos) << json;
  const std::string expected =
      "\"firmwareAfterReset\": \"" + std::string(c.firmwareAfterReset) + "\"";
  EXPECT_EQ(json.substr(after, expected.size()), expected) << json;
}

const ReportCase kReportCases[] = {
    // ReturnCode 0x20 on an activation: the drive commits, and the package
    // reports that it needs a power cycle on both paths.
    {"InboxActivationPowerCycleReturnCode",
     R"({"drives": [{"id": "a", "faults": [{"request": "activate", "returnCode": 32}]}], "inbox": [{"drive": "a"}]})",
     1602, "a", "KTW8LMZB"},
    {"IrstActivationPowerCycleReturnCode",
     R"({"drives": [{"id": "a", "faults": [{"request": "activate", "returnCode": 32}]}, {"id": "b"}], "intelController": {"raidVolumes": [{"members": [{"drive": "a", "port": 0}, {"drive": "b", "port": 1}]}]}})",
     1602, "a", "KTW8LMZB"},
    // Any other ReturnCode stops the activation before the drive acts.
    {"InboxActivationReturnCode",
     R"({"drives": [{"id": "a", "faults": [{"request": "activate", "returnCode": 7}]}], "inbox": [{"drive": "a"}]})",
     1, "a", "KTW3LMZB"},
    // A RAID volume whose members are all missing lists none.
    {"IrstVolumeWithoutMembers",
     R"({"drives": [{"id": "a"}], "inbox": [{"drive": "a"}], "intelController": {"raidVolumes": [{"members": []}]}})",
     0, "a", "KTW8LMZB"},
};

INSTANTIATE_TEST_SUITE_P(Cases, LauncherReport, testing::ValuesIn(kReportCases),
                         [](const testing::TestParamInfo<ReportCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace zevlauncher
