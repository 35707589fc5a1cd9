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
//   on a machine of 10,000 inbox disks (the simulator's own scaling).
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

}  // namespace

BENCHMARK_MAIN();
