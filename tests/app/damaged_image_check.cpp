// A package whose recorded image digest does not match its image (the build
// links the mismatching digest into this program only): the run refuses
// before any drive is touched, in an update and in a check.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/entry_point.hpp"
#include "support/bound_machine.hpp"

namespace zev {
namespace {

TEST(DamagedImage, IsRefusedBeforeAnyDriveIsTouched) {
  for (const wchar_t* mode : {L"/s", L"/c"}) {
    testsupport::CapturedMachine sim(
        R"({ "drives": [ { "id": "a", "firmware": "KTW3LMZB" } ], "inbox": [ { "drive": "a" } ] })");
    const auto log = std::filesystem::temp_directory_path() / "zev_damaged_image.log";
    std::filesystem::remove(log);
    const std::wstring logArg = L"/log=" + log.wstring();
    const wchar_t* argv[] = {L"zev.exe", mode, logArg.c_str()};
    EXPECT_EQ(packageMain(3, argv), 1);
    EXPECT_NE(sim.console().find("  [ERROR] The firmware image is damaged.\n\n"), std::string::npos)
        << sim.console();
    EXPECT_TRUE(sim.calls(zevsim::CallKind::CreateFile).empty());
    EXPECT_TRUE(sim.calls(zevsim::CallKind::GetClassDevs).empty());
    std::ifstream file(log, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    EXPECT_NE(text.find("\n[Final Result]\nReturn Code : 1\n"
                        "Result Details : The firmware image is damaged.\n"),
              std::string::npos)
        << text;
    file.close();
    std::filesystem::remove(log);
  }
}

}  // namespace
}  // namespace zev
