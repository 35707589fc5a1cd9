// End-to-end scenarios: the whole package runs in-process on a machine file
// through the launcher, and its standard output, log file, exit status and
// report are compared with the golden files of tests/golden/<scenario>/.
//
//   scenario.json  {"machine": "examples/machines/x.json", "args": [...], "exitStatus": n}
//                  ("{log}" in an argument stands for a fresh temporary log path)
//   stdout.txt     the exact standard output
//   log.txt        the exact log file (optional; "{log}" as above)
//   report.json    a subset of the simulator's report (optional)
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "launcher.hpp"
#include "report/console.hpp"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const char* const kClock = "2027-02-01T09:05:03";
const char* const kArgv0 = "C:\\pkg\\ZEV_TQ270c_V1.0.2_KTW8LMZB.exe";

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos;
       at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// Every key of expected must be in actual with an equal value; arrays are
// compared element by element and must have equal lengths.
void expectSubset(const json& expected, const json& actual, const std::string& where) {
  if (expected.is_object()) {
    ASSERT_TRUE(actual.is_object()) << where;
    for (const auto& [key, value] : expected.items()) {
      ASSERT_TRUE(actual.contains(key)) << where << "." << key << " missing";
      expectSubset(value, actual.at(key), where + "." + key);
    }
  } else if (expected.is_array()) {
    ASSERT_TRUE(actual.is_array()) << where;
    ASSERT_EQ(expected.size(), actual.size()) << where;
    for (std::size_t i = 0; i < expected.size(); ++i) {
      expectSubset(expected[i], actual[i], where + "[" + std::to_string(i) + "]");
    }
  } else {
    EXPECT_EQ(expected, actual) << where;
  }
}

// Shows the first line where two texts differ, for readable failures.
std::string firstDifference(const std::string& expected, const std::string& actual) {
  std::istringstream e(expected), a(actual);
  std::string el, al;
  for (int line = 1;; ++line) {
    const bool moreE = static_cast<bool>(std::getline(e, el));
    const bool moreA = static_cast<bool>(std::getline(a, al));
    if (!moreE && !moreA) {
      return "texts differ only in their final line break";
    }
    if (el != al || moreE != moreA) {
      return "line " + std::to_string(line) + ":\n  expected: [" + (moreE ? el : "<end>") +
             "]\n  actual:   [" + (moreA ? al : "<end>") + "]";
    }
  }
}

std::vector<std::string> scenarioNames() {
  std::vector<std::string> names;
  const fs::path root = fs::path(ZEV_SOURCE_DIR) / "tests" / "golden";
  if (fs::exists(root)) {
    for (const auto& entry : fs::directory_iterator(root)) {
      if (fs::exists(entry.path() / "scenario.json")) {
        names.push_back(entry.path().filename().string());
      }
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

class Scenario : public testing::TestWithParam<std::string> {};

TEST_P(Scenario, MatchesItsGoldenFiles) {
  const fs::path dir = fs::path(ZEV_SOURCE_DIR) / "tests" / "golden" / GetParam();
  const json scenario = json::parse(readFile(dir / "scenario.json"));
  const fs::path work = fs::temp_directory_path() / ("zev-e2e-" + GetParam());
  fs::remove_all(work);
  fs::create_directories(work);
  const std::string logPath = (work / "install.log").string();
  const std::string reportPath = (work / "report.json").string();

  std::vector<std::wstring> args = {L"zev-sim",
                                    L"--clock",
                                    zevlauncher::wideFromUtf8(kClock),
                                    L"--argv0",
                                    zevlauncher::wideFromUtf8(kArgv0),
                                    L"--report",
                                    zevlauncher::wideFromUtf8(reportPath)};
  if (scenario.contains("machine")) {
    args.push_back(L"--machine");
    args.push_back(zevlauncher::wideFromUtf8(
        (fs::path(ZEV_SOURCE_DIR) / scenario.at("machine").get<std::string>()).string()));
  }
  args.push_back(L"--");
  for (const auto& arg : scenario.value("args", json::array())) {
    args.push_back(zevlauncher::wideFromUtf8(replaceAll(arg.get<std::string>(), "{log}", logPath)));
  }

  int status = 0;
  std::string output;
  {
    zev::ConsoleCapture capture;
    status = zevlauncher::runLauncher(args);
    output = capture.text();
  }

  EXPECT_EQ(status, scenario.at("exitStatus").get<int>());
  const std::string expectedOutput = readFile(dir / "stdout.txt");
  EXPECT_EQ(output, expectedOutput) << firstDifference(expectedOutput, output);
  if (fs::exists(dir / "log.txt")) {
    const std::string expectedLog = replaceAll(readFile(dir / "log.txt"), "{log}", logPath);
    const std::string log = readFile(logPath);
    EXPECT_EQ(log, expectedLog) << firstDifference(expectedLog, log);
  }
  if (fs::exists(dir / "report.json")) {
    expectSubset(json::parse(readFile(dir / "report.json")), json::parse(readFile(reportPath)),
                 "report");
  }
  fs::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(Golden, Scenario, testing::ValuesIn(scenarioNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           for (char& c : name) {
                             if (!std::isalnum(static_cast<unsigned char>(c))) {
                               c = '_';
                             }
                           }
                           return name;
                         });

}  // namespace
