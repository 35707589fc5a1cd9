// The command line: silent switch, log option, usage block and rejection.
#include "app/command_line.hpp"
#include "core/silent_mode.hpp"

#include <gtest/gtest.h>

#include "core/text.hpp"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "report/console.hpp"

namespace zev {
namespace {

namespace fs = std::filesystem;

const std::string kUsage =
    "\nAllowed Behaviors:\n"
    "/s                  Execute update package in silently without user intervention.\n"
    "/log=<FILEPATH>     Write installation log to a specified file.\n"
    "/c                  Check which drives need this update; change nothing.\n"
    "/json=<FILEPATH>    Write the results as JSON to a specified file.\n"
    "/rc=msi             Return Windows Installer codes: 3010 reboot, 1618 busy, 1603 failure.\n"
    "/capture=<FILEPATH> Write the drives and devices found as a machine file.\n";

struct Parsed {
  int result = 0;
  bool silent = false;
  std::wstring logPath;
  std::wstring inputCommand;
  bool logRequested = false;
  bool checkOnly = false;
  std::string output;
};

Parsed parse(std::vector<std::wstring> args) {
  args.insert(args.begin(), L"C:\\pkg\\zev.exe");
  std::vector<const wchar_t*> argv;
  for (const auto& a : args) {
    argv.push_back(a.c_str());
  }
  silentMode = false;
  UpdateContext context;
  Parsed parsed;
  {
    ConsoleCapture capture;
    parsed.result = parseCommandLine(context, static_cast<int>(argv.size()), argv.data());
    parsed.output = capture.text();
  }
  parsed.silent = silentMode;
  parsed.logPath = context.logPath;
  parsed.inputCommand = context.inputCommand;
  parsed.logRequested = context.logRequested;
  parsed.checkOnly = context.checkOnly;
  silentMode = false;
  return parsed;
}

class CommandLine : public testing::Test {
 protected:
  void SetUp() override {
    // One directory per test, so that tests running side by side never share one.
    dir_ = fs::temp_directory_path() /
           ("zev-command-line-" +
            std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    // Relative paths are relative to it.
    previousDirectory_ = fs::current_path();
    fs::current_path(dir_);
  }
  void TearDown() override {
    fs::current_path(previousDirectory_);
    fs::remove_all(dir_);
  }
  std::wstring path(const char* name) const { return (dir_ / name).wstring(); }
  fs::path dir_;
  fs::path previousDirectory_;
};

struct SwitchCase {
  const wchar_t* argument;
  int result;
  bool silent;
  bool usage;
};

TEST_F(CommandLine, SilentSwitchAndRejectedArguments) {
  const SwitchCase cases[] = {
      {L"/s", 1, true, false},
      {L"/", 1, true, false},
      {L"", 1, true, false},
      {L"/S", 0, false, true},
      {L"/s1", 0, false, true},
      {L"/silent", 0, false, true},
      {L"s", 0, false, true},
      {L"/log", 0, false, true},
      {L"/LOG=C:\\x.log", 0, false, true},
      {L"/log=", 0, false, true},
      {L"/logfile=x", 0, false, true},
      {L"/c", 1, false, false},
      {L"/C", 0, false, true},
      {L"/check", 0, false, true},
      {L"/json=", 0, false, true},
      {L"/JSON=x", 0, false, true},
      {L"/capture=", 0, false, true},
      {L"/CAPTURE=x", 0, false, true},
  };
  for (const SwitchCase& c : cases) {
    const Parsed p = parse({c.argument});
    EXPECT_EQ(p.result, c.result) << "argument [" << narrowText(c.argument) << "]";
    EXPECT_EQ(p.silent, c.silent) << "argument [" << narrowText(c.argument) << "]";
    EXPECT_EQ(p.output, c.usage ? kUsage : "") << "argument [" << narrowText(c.argument) << "]";
  }
}

TEST_F(CommandLine, NoArgumentsEchoesTheProgramPath) {
  const Parsed p = parse({});
  EXPECT_EQ(p.result, 1);
  EXPECT_FALSE(p.silent);
  EXPECT_EQ(p.inputCommand, L"C:\\pkg\\zev.exe ");
  EXPECT_EQ(p.logPath, L"test.txt");
  EXPECT_FALSE(p.logRequested);
}

TEST_F(CommandLine, SilentAndLogInEitherOrderKeepAnExistingFile) {
  const std::wstring log = path("x.log");
  for (const auto& args : {std::vector<std::wstring>{L"/s", L"/log=" + log},
                           std::vector<std::wstring>{L"/log=" + log, L"/s"}}) {
    {
      std::ofstream existing(fs::path(log), std::ios::binary);
      existing << "old content";
    }
    const Parsed p = parse(args);
    EXPECT_EQ(p.result, 1);
    EXPECT_TRUE(p.silent);
    EXPECT_EQ(p.logPath, log);
    EXPECT_TRUE(p.logRequested);
    ASSERT_TRUE(fs::exists(fs::path(log)));
    EXPECT_EQ(fs::file_size(fs::path(log)), 11u);  // replaced only when the results are written
    EXPECT_EQ(p.inputCommand, L"C:\\pkg\\zev.exe " + args[0] + L" " + args[1] + L" ");
  }
}

TEST_F(CommandLine, TwoLogOptionsCreateBothAndKeepTheLast) {
  const std::wstring a = path("a.log");
  const std::wstring b = path("b.log");
  const Parsed p = parse({L"/log=" + a, L"/log=" + b});
  EXPECT_EQ(p.result, 1);
  EXPECT_EQ(p.logPath, b);
  EXPECT_TRUE(fs::exists(fs::path(a)));
  EXPECT_TRUE(fs::exists(fs::path(b)));
}

// A checked log path is never cut: a rejected command line, a later invalid
// path or a superseding log option leaves an existing file as it was.
TEST_F(CommandLine, ALogOptionNeverDestroysAFile) {
  const std::wstring precious = path("precious.txt");
  const std::vector<std::vector<std::wstring>> lines = {
      {L"/log=" + precious, L"/x"},
      {L"/log=" + precious, L"/log=" + path("missing-dir/x.log")},
      {L"/log=" + precious, L"/log=" + path("other.log")},
  };
  for (const auto& args : lines) {
    {
      std::ofstream existing(fs::path(precious), std::ios::binary);
      existing << "keep me";
    }
    parse(args);
    std::ifstream file(fs::path(precious), std::ios::binary);
    const std::string content{std::istreambuf_iterator<char>(file),
                              std::istreambuf_iterator<char>()};
    EXPECT_EQ(content, "keep me") << narrowText(args[1]);
  }
}

TEST_F(CommandLine, CheckAndResultsOptionsStandAnywhere) {
  const std::wstring log = path("run.log");
  const std::wstring json = path("run.json");
  const Parsed p = parse({L"/json=" + json, L"/c", L"/s", L"/log=" + log});
  EXPECT_EQ(p.result, 1);
  EXPECT_TRUE(p.silent);
  EXPECT_TRUE(p.checkOnly);
  EXPECT_TRUE(fs::exists(fs::path(json)));
  // A capture writes what a check finds.
  EXPECT_TRUE(parse({L"/capture=" + path("machine.json")}).checkOnly);
  // One file for both is refused for the option that names it second.
  const Parsed same = parse({L"/log=" + log, L"/json=" + log});
  EXPECT_EQ(same.result, 0);
  EXPECT_EQ(same.output, "[ERROR] " + narrowText(log) + " is invalid file path.\n");
}

// A path that cannot be created, or names something other than a regular
// file or nothing, is refused with its line, and nothing is created there.
TEST_F(CommandLine, InvalidPathPrintsItsLineWithoutUsage) {
  fs::create_directories(dir_ / "folder");
  for (const std::wstring& argument : std::vector<std::wstring>{
           L"/log=" + path("missing-dir/x.log"), L"/json=" + path("missing-dir/x.json"),
           L"/log=" + path("folder"), L"/json=folder", std::wstring(L"/log=/dev/null")}) {
    const std::wstring bad = argument.substr(argument.find(L'=') + 1);
    const Parsed p = parse({argument});
    EXPECT_EQ(p.result, 0) << narrowText(argument);
    EXPECT_EQ(p.output, "[ERROR] " + narrowText(bad) + " is invalid file path.\n");
  }
  // Its control characters are "?": the line cannot be split in two.
  EXPECT_EQ(parse({L"/log=missing-dir/x\n[Final Result]\r"}).output,
            "[ERROR] missing-dir/x?[Final Result]? is invalid file path.\n");
  EXPECT_FALSE(fs::exists(dir_ / "missing-dir"));
  EXPECT_TRUE(fs::is_empty(dir_ / "folder"));
}

struct SameFileCase {
  std::wstring first;
  std::wstring second;   // refused: it names the first option's file
  bool firstLeftBehind;  // the file exists after the rejection
};

// "/log=", "/json=" and "/capture=" naming one file under two spellings are refused as
// one spelling is, by the file's identity: a relative and an absolute path,
// "./", "..", a hard link. A results file the check created goes again.
TEST_F(CommandLine, OneFileUnderTwoSpellingsIsRefused) {
  const std::wstring absolute = path("a.txt");
  const SameFileCase cases[] = {
      {L"/log=a.txt", L"/json=a.txt", true},
      {L"/log=a.txt", L"/json=./a.txt", true},
      {L"/json=a.txt", L"/log=./a.txt", false},
      {L"/log=a.txt", L"/json=" + absolute, true},
      {L"/json=sub/../a.txt", L"/log=a.txt", false},
      {L"/log=hard.txt", L"/json=a.txt", true},
      {L"/capture=a.txt", L"/log=./a.txt", false},
      {L"/log=a.txt", L"/capture=" + absolute, true},
      {L"/json=a.txt", L"/capture=a.txt", false},
      {L"/capture=a.txt", L"/json=sub/../a.txt", false},
  };
  fs::create_directories(dir_ / "sub");
  for (const SameFileCase& c : cases) {
    fs::remove(dir_ / "a.txt");
    fs::remove(dir_ / "hard.txt");
    if (c.first.ends_with(L"hard.txt")) {
      std::ofstream(dir_ / "a.txt").put('x');
      fs::create_hard_link(dir_ / "a.txt", dir_ / "hard.txt");
    }
    const Parsed p = parse({c.first, c.second, L"/s"});
    EXPECT_EQ(p.result, 0) << narrowText(c.first) << " " << narrowText(c.second);
    EXPECT_EQ(p.output, "[ERROR] " + narrowText(c.second.substr(c.second.find(L'=') + 1)) +
                            " is invalid file path.\n");
    EXPECT_EQ(fs::exists(dir_ / "a.txt"), c.firstLeftBehind) << narrowText(c.first);
  }
}

// A results or capture file the check created that no run will write is removed: the
// command line was rejected, or a later option replaced it. One that existed
// before stays as it was.
TEST_F(CommandLine, AResultsFileTheCheckCreatedGoesWhenNoRunWritesIt) {
  const std::vector<std::vector<std::wstring>> lines = {
      {L"/json=r.json", L"/x"},
      {L"/json=r.json", L"/log=missing-dir/x.log"},
      {L"/json=r.json", L"/json=s.json"},
      {L"/capture=r.json", L"/x"},
      {L"/capture=r.json", L"/capture=s.json"},
  };
  for (const auto& args : lines) {
    fs::remove(dir_ / "r.json");
    parse(args);
    EXPECT_FALSE(fs::exists(dir_ / "r.json")) << narrowText(args[1]);
    std::ofstream(dir_ / "r.json") << "earlier results";
    parse(args);
    std::ifstream file(dir_ / "r.json", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), "earlier results")
        << narrowText(args[1]);
  }
  EXPECT_TRUE(fs::exists(dir_ / "s.json"));
}

TEST_F(CommandLine, ArgumentsAfterARejectedOneAreNotLookedAt) {
  const std::wstring log = path("never.log");
  const Parsed p = parse({L"/x", L"/log=" + log, L"/s"});
  EXPECT_EQ(p.result, 0);
  EXPECT_EQ(p.output, kUsage);
  EXPECT_FALSE(fs::exists(fs::path(log)));
  EXPECT_FALSE(p.silent);
}

}  // namespace
}  // namespace zev
