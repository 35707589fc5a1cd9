// The package on simulated servers:
// - the rehearsal: a whole run of the entry point, as zev-sim runs it, on a
//   server with 64 upgradable TQ270c drives on the inbox driver, in IRST
//   RAID 1 volumes and as IRST pass-through disks, followed by the report of
//   what every drive received (wall time, with and without the simulator's
//   call records);
// - discovery, and discovery with identification, on servers of 16, 64 and
//   256 disk devices whose drives all run a revision outside the table of
//   upgradable revisions, so that the run ends at the revision gate;
// - machine-file loading at 20,000, 40,000 and 80,000 drives, and discovery
//   on a machine of 10,000 inbox disks (the simulator's own scaling);
// - the loader's bounds: machine files nested a million deep and more, and a
//   run on 20 drives that declare the largest image size, with the heap's
//   peak beside the time.
// The package's standard output goes to /dev/null while it runs.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "app/entry_point.hpp"
#include "app/run_sequence.hpp"
#include "core/firmware_image.hpp"
#include "core/update_context.hpp"
#include "discovery/inbox_enumeration.hpp"
#include "discovery/intel_controller.hpp"
#include "peak_memory.hpp"
#include "platform/sim/sim_binding.hpp"
#include "server_machine.hpp"
#include "zevsim/machine.hpp"
#include "zevsim/machine_file.hpp"
#include "zevsim/report.hpp"

namespace {

// Sends the process's standard output to /dev/null for its lifetime, so that
// the package's lines stay out of the benchmark's table.
class QuietStandardOutput {
 public:
  QuietStandardOutput() {
    std::fflush(stdout);
    saved_ = dup(STDOUT_FILENO);
    const int null = open("/dev/null", O_WRONLY);
    if (saved_ >= 0 && null >= 0) {
      dup2(null, STDOUT_FILENO);
    }
    if (null >= 0) {
      close(null);
    }
  }
  ~QuietStandardOutput() {
    std::fflush(stdout);
    if (saved_ >= 0) {
      dup2(saved_, STDOUT_FILENO);
      close(saved_);
    }
  }
  QuietStandardOutput(const QuietStandardOutput&) = delete;
  QuietStandardOutput& operator=(const QuietStandardOutput&) = delete;

 private:
  int saved_ = -1;
};

std::vector<std::uint8_t> packageImage() {
  const auto image = zev::firmwareImage();
  return {image.begin(), image.end()};
}

std::optional<zevsim::MachineConfig> loadServer(const zevbench::ServerLayout& layout,
                                                benchmark::State& state) {
  zevsim::MachineFileResult loaded =
      zevsim::parseMachineFile(zevbench::serverMachineJson(layout), "bench-server.json");
  if (!loaded.config) {
    state.SkipWithError(loaded.error.c_str());
  }
  return loaded.config;
}

// --- The 64-drive rehearsal ---

// 32 inbox drives, 8 RAID 1 volumes of 2 drives, 16 pass-through drives.
constexpr zevbench::ServerLayout kRehearsalServer{32, 8, 16, "KTW3LMZB"};
static_assert(kRehearsalServer.driveCount() == 64);

// Argument: 1 keeps the simulator's call records, as zev-sim does; 0 drops
// them.
void BM_Rehearsal64Drives(benchmark::State& state) {
  const auto config = loadServer(kRehearsalServer, state);
  if (!config) {
    return;
  }
  const std::vector<std::uint8_t> image = packageImage();
  const bool recording = state.range(0) != 0;
  const wchar_t* const argv[] = {L"zev-sim", L"/s", nullptr};
  QuietStandardOutput quiet;
  for (auto _ : state) {
    zevsim::Machine machine(*config, image);
    machine.setRecording(recording);
    machine.setClock({2024, 5, 17, 9, 30, 0});
    const std::int32_t status = [&] {
      const zev::platform::sim::SimBinding binding(machine);
      return zev::packageMain(2, argv);
    }();
    const std::string report = zevsim::reportJson(machine, status);
    benchmark::DoNotOptimize(report.data());
    if (status != 0) {
      state.SkipWithError("the rehearsal did not update every drive");
      break;
    }
  }
  state.counters["drives"] = kRehearsalServer.driveCount();
}
BENCHMARK(BM_Rehearsal64Drives)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- Discovery and identification by disk-device count ---

// Half the disk devices are inbox disks, a quarter IRST RAID 1 volume disks
// (two drives each) and a quarter IRST pass-through disks, whose bus number
// is looked up by a walk over all present devices each.
zevbench::ServerLayout discoveryServer(const benchmark::State& state) {
  const auto devices = static_cast<std::uint32_t>(state.range(0));
  return {devices / 2, devices / 4, devices / 4, "KTW9LMZB"};
}

void BM_Discovery(benchmark::State& state) {
  const zevbench::ServerLayout layout = discoveryServer(state);
  const auto config = loadServer(layout, state);
  if (!config) {
    return;
  }
  zevsim::Machine machine(*config, packageImage());
  machine.setRecording(false);
  std::size_t candidates = 0;
  {
    const zev::platform::sim::SimBinding binding(machine);
    for (auto _ : state) {
      zev::DiskList found;
      zev::UnexaminedList unexamined;
      zev::RaidControllerInfo controller;
      if (zev::findIntelRaidController(controller, unexamined)) {
        zev::enumerateIntelControllerDisks(controller, found, unexamined);
      }
      zev::enumerateInboxNvmeDisks(found, unexamined);
      candidates = found.size();
    }
  }
  if (candidates != layout.diskDeviceCount()) {
    state.SkipWithError("discovery did not find every disk device");
  }
  state.counters["candidates"] = static_cast<double>(candidates);
}
BENCHMARK(BM_Discovery)->Arg(16)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);

void BM_DiscoveryAndIdentification(benchmark::State& state) {
  const zevbench::ServerLayout layout = discoveryServer(state);
  const auto config = loadServer(layout, state);
  if (!config) {
    return;
  }
  const zev::PackageIdentity identity = zev::buildPackageIdentity();
  zevsim::Machine machine(*config, packageImage());
  machine.setRecording(false);
  std::size_t identified = 0;
  std::size_t selected = 0;
  {
    const zev::platform::sim::SimBinding binding(machine);
    QuietStandardOutput quiet;
    for (auto _ : state) {
      zev::UpdateContext context;
      context.identity = identity;
      zev::runSequence(context.inventory, context);
      identified = context.inventory.identified.size();
      selected = context.updateList.size();
    }
  }
  if (identified != layout.driveCount() || selected != 0) {
    state.SkipWithError("identification did not identify every drive, or one was selected");
  }
  state.counters["drives"] = static_cast<double>(identified);
}
BENCHMARK(BM_DiscoveryAndIdentification)->Arg(16)->Arg(64)->Arg(256)->Unit(benchmark::kMillisecond);

// --- Machine-file loading by drive count ---

// Parsing and checking a machine file of 20,000, 40,000 and 80,000 drives
// (manyDrivesMachineJson: half of them inbox disks); linear loading takes
// twice as long for twice the drives.
void BM_LoadMachineFile(benchmark::State& state) {
  const auto drives = static_cast<std::uint32_t>(state.range(0));
  const std::string text = zevbench::manyDrivesMachineJson(drives);
  for (auto _ : state) {
    zevsim::MachineFileResult loaded = zevsim::parseMachineFile(text, "bench-drives.json");
    if (!loaded.config || loaded.config->drives.size() != drives) {
      state.SkipWithError(loaded.error.c_str());
      break;
    }
    benchmark::DoNotOptimize(loaded.config->drives.data());
  }
  state.counters["drives"] = drives;
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}
BENCHMARK(BM_LoadMachineFile)
    ->Arg(20000)
    ->Arg(40000)
    ->Arg(80000)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

// --- Discovery on a machine of 10,000 inbox disks ---

// Building the simulated machine and running the package's discovery once
// over 10,000 inbox disks whose drives run a revision outside the table, as
// zev-sim does for such a machine file (the device tree's path and interface
// lookups dominate a large machine).
void BM_InboxDiscovery10000Disks(benchmark::State& state) {
  const zevbench::ServerLayout layout{10000, 0, 0, "KTW9LMZB"};
  const auto config = loadServer(layout, state);
  if (!config) {
    return;
  }
  const std::vector<std::uint8_t> image = packageImage();
  std::size_t candidates = 0;
  for (auto _ : state) {
    zevsim::Machine machine(*config, image);
    const zev::platform::sim::SimBinding binding(machine);
    zev::DiskList found;
    zev::UnexaminedList unexamined;
    zev::enumerateInboxNvmeDisks(found, unexamined);
    candidates = found.size();
  }
  if (candidates != layout.diskDeviceCount()) {
    state.SkipWithError("discovery did not find every disk device");
  }
  state.counters["candidates"] = static_cast<double>(candidates);
}
BENCHMARK(BM_InboxDiscovery10000Disks)->Unit(benchmark::kMillisecond)->UseRealTime();

// --- The loader's bounds ---

// Deep nesting: 0, arrays a million deep around a number beyond any range
// (2 MB); 1, objects three million deep around a repeated key (18 MB); 2,
// arrays thirty million deep (60 MB). Each is refused at depth 65; before the
// depth limit the first two took time quadratic in their depth (the error's
// path was rebuilt once per level) and the third held a container per level.
std::string deeplyNestedJson(std::int64_t shape) {
  std::string text;
  if (shape == 0) {
    text.append(1000000, '[').append("1e400").append(1000000, ']');
  } else if (shape == 1) {
    for (int i = 0; i < 3000000; ++i) {
      text += "{\"a\":";
    }
    text.append("{\"b\":1,\"b\":2}").append(3000000, '}');
  } else {
    text.append(30000000, '[').append(30000000, ']');
  }
  return text;
}

void BM_LoadDeepNesting(benchmark::State& state) {
  const std::string text = deeplyNestedJson(state.range(0));
  std::string error;
  const std::size_t before = zevbench::resetPeakHeap();
  for (auto _ : state) {
    error = zevsim::parseMachineFile(text, "bench-deep.json").error;
    benchmark::DoNotOptimize(error.data());
  }
  if (error.find("at depth 65") == std::string::npos) {
    state.SkipWithError(error.c_str());
  }
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
  state.counters["peakMB"] = static_cast<double>(zevbench::peakHeapBytes() - before) / 1e6;
}
BENCHMARK(BM_LoadDeepNesting)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime();

// 20 inbox drives that each declare the largest image size (32 MiB) take the
// package's 2 MiB image in pieces: the drives' memory follows the bytes sent.
// Before, each drive allocated its declared size at the first piece (20
// drives of 256 MiB took 5.4 GB).
void BM_RunOnLargeDeclaredImages(benchmark::State& state) {
  std::string text = "{\"drives\": [";
  std::string inbox = "], \"inbox\": [";
  for (int i = 0; i < 20; ++i) {
    const std::string id = "\"d" + std::to_string(i) + "\"";
    const char* comma = i == 0 ? "" : ", ";
    text.append(comma).append("{\"id\": ").append(id).append(", \"imageSize\": 33554432}");
    inbox.append(comma).append("{\"drive\": ").append(id).append("}");
  }
  zevsim::MachineFileResult loaded = zevsim::parseMachineFile(text + inbox + "]}", "bench.json");
  if (!loaded.config) {
    state.SkipWithError(loaded.error.c_str());
    return;
  }
  const std::vector<std::uint8_t> image = packageImage();
  const wchar_t* const argv[] = {L"zev-sim", L"/s", nullptr};
  QuietStandardOutput quiet;
  const std::size_t before = zevbench::resetPeakHeap();
  for (auto _ : state) {
    zevsim::Machine machine(*loaded.config, image);
    machine.setClock({2024, 5, 17, 9, 30, 0});
    const zev::platform::sim::SimBinding binding(machine);
    benchmark::DoNotOptimize(zev::packageMain(2, argv));
  }
  state.counters["peakMB"] = static_cast<double>(zevbench::peakHeapBytes() - before) / 1e6;
}
BENCHMARK(BM_RunOnLargeDeclaredImages)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
