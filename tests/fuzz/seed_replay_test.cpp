// Replays every committed fuzz seed through the fuzz entry functions, without
// libFuzzer, so that the suite (and its sanitizer build) runs the same checks
// on every build. A broken invariant fails the seed that broke it, naming the
// invariant and the seed file, and the replay goes on with the next seed.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "fuzz_machine.hpp"
#include "fuzz_machines.hpp"
#include "fuzz_targets.hpp"
#include "platform/sim/sim_binding.hpp"
#include "report/console.hpp"

namespace {

using Entry = int (*)(const std::uint8_t*, std::size_t);

struct FuzzTarget {
  const char* name;
  Entry entry;
};

void PrintTo(const FuzzTarget& target, std::ostream* os) {
  *os << target.name;
}

// What the replay's invariant handler throws: the invariant's own words.
struct BrokenInvariant {
  std::string what;
};

[[noreturn]] void throwBrokenInvariant(const char* what) {
  throw BrokenInvariant{what};
}

// Runs entry on bytes with the throwing handler installed; the invariant it
// broke, or nullopt. The entry function's FuzzMachine has released the
// machine by the time the exception arrives here.
std::optional<std::string> brokenInvariant(Entry entry, const std::vector<std::uint8_t>& bytes) {
  struct Installed {
    zevfuzz::InvariantHandler previous = zevfuzz::setInvariantHandler(throwBrokenInvariant);
    ~Installed() { zevfuzz::setInvariantHandler(previous); }
  } installed;
  try {
    entry(bytes.data(), bytes.size());
  } catch (const BrokenInvariant& broken) {
    return broken.what;
  }
  return std::nullopt;
}

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
    const std::optional<std::string> broken = brokenInvariant(GetParam().entry, bytes);
    EXPECT_FALSE(broken.has_value())
        << "invariant broken: " << broken.value_or("") << "\n  seed: " << entry.path().string();
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

// An entry function that breaks an invariant while its machine is bound and
// its console captured, as a fuzz target does when a check fails.
int breakAnInvariantMidRun(const std::uint8_t* data, std::size_t size) {
  zevfuzz::ByteSource source(data, size);
  zevfuzz::FuzzMachine sim(zevfuzz::kInboxMachine, source);
  zev::writeConsoleBytes("inside the run\n");
  zevfuzz::invariantBroken("a test invariant");
}

TEST(SeedReplayHandler, ABrokenInvariantEndsTheInputAndReleasesItsMachine) {
  const zev::ConsoleCapture outer;
  const std::vector<std::uint8_t> bytes{1, 2, 3};
  EXPECT_EQ(brokenInvariant(breakAnInvariantMidRun, bytes), "a test invariant");
  // Nothing of the run is left behind for the next seed: the machine is
  // unbound, the run's own capture has ended, and the default is back.
  EXPECT_EQ(zev::platform::sim::boundMachine(), nullptr);
  zev::writeConsoleBytes("after the run\n");
  EXPECT_EQ(outer.text(), "after the run\n");
  EXPECT_EQ(zevfuzz::setInvariantHandler(nullptr), nullptr);
}

}  // namespace
