// Replays every committed fuzz seed through the fuzz entry functions, without
// libFuzzer, so that the suite (and its sanitizer build) runs the same checks
// on every build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "fuzz_targets.hpp"

namespace {

struct FuzzTarget {
  const char* name;
  int (*entry)(const std::uint8_t*, std::size_t);
};

class SeedReplayTest : public ::testing::TestWithParam<FuzzTarget> {};

TEST_P(SeedReplayTest, EverySeedRunsCleanly) {
  const std::filesystem::path dir =
      std::filesystem::path(ZEV_SOURCE_DIR) / "fuzz" / "corpus" / GetParam().name;
  ASSERT_TRUE(std::filesystem::is_directory(dir)) << dir;
  std::size_t seeds = 0;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    std::ifstream file(entry.path(), std::ios::binary);
    const std::vector<std::uint8_t> bytes{std::istreambuf_iterator<char>(file),
                                          std::istreambuf_iterator<char>()};
    SCOPED_TRACE(entry.path().string());
    EXPECT_EQ(GetParam().entry(bytes.data(), bytes.size()), 0);
    ++seeds;
  }
  EXPECT_GE(seeds, 3u);
}

INSTANTIATE_TEST_SUITE_P(Targets, SeedReplayTest,
                         ::testing::Values(FuzzTarget{"identify_text", zevFuzzIdentifyText},
                                           FuzzTarget{"csmi_reply", zevFuzzCsmiReply},
                                           FuzzTarget{"vroc_lists", zevFuzzVrocLists},
                                           FuzzTarget{"inbox_update", zevFuzzInboxUpdate},
                                           FuzzTarget{"intel_update", zevFuzzIntelUpdate},
                                           FuzzTarget{"package_main", zevFuzzPackageMain}),
                         [](const ::testing::TestParamInfo<FuzzTarget>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
