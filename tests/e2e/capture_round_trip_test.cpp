// The capture ("/capture="), end to end: for every example machine (every
// golden scenario's machine among them), a check on the machine file the
// check captured prints, logs and reports what the check on the original
// did, and captures the same file again; an update on the capture gives every
// drive the outcome the update on the original gave it, unless an update
// meets what a check never reads. The cases where the round trip cannot hold
// are listed with their reasons in capture_round_trip_exceptions.json.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "launcher.hpp"
#include "report/console.hpp"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

std::string readFile(const fs::path& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

// The machines whose runs on the capture differ, as a check cannot see what
// they meet: machine name to reason, under "check" and "update". The runs of
// zev-sim.exe under Wine (tests/win32/run_capture_round_trip.pl) read it too.
const json& exceptions() {
  static const json table = json::parse(
      readFile(fs::path(ZEV_SOURCE_DIR) / "tests" / "e2e" / "capture_round_trip_exceptions.json"));
  return table;
}

struct PackageRun {
  int status = -1;
  std::string output;
  std::string log;
  std::string results;
  std::string capture;
  json report;
};

// The package on machine with options; the log, results and capture files
// named the same in every run, so that the texts compare whole.
PackageRun runOn(const fs::path& machine, const fs::path& work,
                 const std::vector<std::string>& options) {
  for (const char* name : {"run.log", "run.json", "capture.json", "report.json"}) {
    fs::remove(work / name);
  }
  std::vector<std::wstring> args = {L"zev-sim",
                                    L"--clock",
                                    L"2027-02-01T09:05:03",
                                    L"--argv0",
                                    L"C:\\pkg\\zev.exe",
                                    L"--report",
                                    zevlauncher::wideFromUtf8((work / "report.json").string()),
                                    L"--machine",
                                    zevlauncher::wideFromUtf8(machine.string()),
                                    L"--"};
  for (const std::string& option : options) {
    args.push_back(zevlauncher::wideFromUtf8(option));
  }
  PackageRun run;
  {
    zev::ConsoleCapture capture;
    run.status = zevlauncher::runLauncher(args);
    run.output = capture.text();
  }
  run.log = readFile(work / "run.log");
  run.results = readFile(work / "run.json");
  run.capture = readFile(work / "capture.json");
  run.report = json::parse(readFile(work / "report.json"), nullptr, false);
  return run;
}

// Per drive of the results file its decision and result code; and the
// revisions the drives that took an image run after their next reset.
std::pair<json, std::multiset<std::string>> updateOutcome(const PackageRun& run) {
  json decisions = json::array();
  const json results = json::parse(run.results);
  for (const json& drive : results.at("drives")) {
    decisions.push_back({drive.at("devicePath"), drive.at("decision"), drive.at("resultCode")});
  }
  std::multiset<std::string> afterReset;
  for (const json& drive : run.report.at("drives")) {
    if (drive.value("downloadedBytes", 0) > 0) {
      afterReset.insert(drive.at("firmwareAfterReset").get<std::string>());
    }
  }
  return {decisions, afterReset};
}

// A fault only an update meets: a download or an activation.
bool hasUpdateFault(const json& machine) {
  bool found = false;
  const auto visit = [&](const json& value, const auto& self) -> void {
    if (value.is_object()) {
      const std::string request = value.value("request", "");
      found = found || request == "download" || request == "activate";
    }
    if (value.is_structured()) {
      for (const json& child : value) {
        self(child, self);
      }
    }
  };
  visit(machine, visit);
  return found;
}

std::vector<std::string> machineNames() {
  std::set<std::string> names;
  const fs::path root(ZEV_SOURCE_DIR);
  for (const auto& entry : fs::directory_iterator(root / "examples" / "machines")) {
    names.insert(entry.path().stem().string());
  }
  for (const auto& entry : fs::directory_iterator(root / "tests" / "golden")) {
    const json scenario = json::parse(readFile(entry.path() / "scenario.json"));
    names.insert(
        fs::path(scenario.value("machine", "examples/machines/demo.json")).stem().string());
  }
  return {names.begin(), names.end()};
}

class CaptureRoundTrip : public testing::TestWithParam<std::string> {};

TEST_P(CaptureRoundTrip, ChecksAndUpdatesAsTheOriginal) {
  const fs::path original =
      fs::path(ZEV_SOURCE_DIR) / "examples" / "machines" / (GetParam() + ".json");
  const fs::path work = fs::temp_directory_path() / ("zev-capture-" + GetParam());
  fs::remove_all(work);
  fs::create_directories(work);
  const fs::path captured = work / "machine.json";
  const std::vector<std::string> check = {"/c", "/s", "/log=" + (work / "run.log").string(),
                                          "/json=" + (work / "run.json").string(),
                                          "/capture=" + (work / "capture.json").string()};

  const PackageRun first = runOn(original, work, check);
  ASSERT_FALSE(first.capture.empty());
  // A capture is a check: no drive received a piece, an activation or a
  // commit, and no file was written but the three named and the report.
  for (const json& drive : first.report.at("drives")) {
    const json requests = drive.value("requests", json::object());
    EXPECT_EQ(requests.value("download", 0) + requests.value("activate", 0), 0) << drive;
  }
  EXPECT_EQ(std::distance(fs::directory_iterator(work), fs::directory_iterator()), 4);
  std::ofstream(captured, std::ios::binary) << first.capture;
  const PackageRun second = runOn(captured, work, check);
  const bool same = second.status == first.status && second.output == first.output &&
                    second.log == first.log && second.results == first.results &&
                    second.capture == first.capture;
  if (const json& listed = exceptions().at("check"); listed.contains(GetParam())) {
    EXPECT_FALSE(same) << "listed as an exception, but the check round-trips: "
                       << listed.at(GetParam()).get<std::string>();
  } else {
    EXPECT_EQ(second.status, first.status);
    EXPECT_EQ(second.output, first.output);
    EXPECT_EQ(second.log, first.log);
    EXPECT_EQ(second.results, first.results);
    EXPECT_EQ(second.capture, first.capture) << "a capture of the capture differs";
  }

  if (!hasUpdateFault(json::parse(readFile(original)))) {
    const std::vector<std::string> update = {"/s", "/json=" + (work / "run.json").string()};
    const auto before = updateOutcome(runOn(original, work, update));
    const auto after = updateOutcome(runOn(captured, work, update));
    if (const json& listed = exceptions().at("update"); listed.contains(GetParam())) {
      EXPECT_NE(after, before) << "listed as an exception, but the update round-trips: "
                               << listed.at(GetParam()).get<std::string>();
    } else {
      EXPECT_EQ(after.first, before.first);
      EXPECT_EQ(after.second, before.second);
    }
  }
  fs::remove_all(work);
}

INSTANTIATE_TEST_SUITE_P(Machines, CaptureRoundTrip, testing::ValuesIn(machineNames()),
                         [](const testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace_if(
                               name.begin(), name.end(),
                               [](char c) { return !std::isalnum(static_cast<unsigned char>(c)); },
                               '_');
                           return name;
                         });

}  // namespace
