#!/usr/bin/env bash
# Builds the benchmarks in Release (preset release), runs them and prints the
# figures as ratios to the floor: zeroing each piece's request buffer and
# copying the piece into it, that is copying the 2 MiB image once per drive.
#
#   scripts/bench.sh             # 5 repetitions, medians
#   BENCH_REPETITIONS=9 scripts/bench.sh
#
# The benchmarks run with nice -n -5 when that is permitted. The raw results
# (Google Benchmark JSON) stay in build/release/bench-results/.
set -euo pipefail
cd "$(dirname "$0")/.."
ZEV_WINDOWS=0 scripts/setup.sh >&2
cmake --preset release >/dev/null
cmake --build --preset release --target zev_bench_update zev_bench_machine >&2

repetitions="${BENCH_REPETITIONS:-5}"
results=build/release/bench-results
mkdir -p "$results"
priority=()
if nice -n -5 true 2>/dev/null; then
  priority=(nice -n -5)
fi

run() {
  local program="$1" out="$2"
  "${priority[@]}" "build/release/bench/$program" --benchmark_min_time=0.2 \
    --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true \
    --benchmark_report_aggregates_only=true \
    --benchmark_out="$results/$out" --benchmark_out_format=json >/dev/null
}

load_before="$(cut -d' ' -f1-3 /proc/loadavg)"
echo "Running the benchmarks ($repetitions repetitions each)..." >&2
run zev_bench_update update.json
run zev_bench_machine machine.json
load_after="$(cut -d' ' -f1-3 /proc/loadavg)"

cpu="$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
family="$(sed -n 's/^cpu family[[:space:]]*: //p' /proc/cpuinfo | head -n 1)"
virtual=""
if grep -qw hypervisor /proc/cpuinfo; then
  virtual=", virtual machine"
fi
echo "Machine: ${cpu:-unknown CPU} (family ${family:-?}), $(nproc) cores${virtual}," \
  "$(awk '/MemTotal/ {printf "%.0f GiB", $2 / 1048576}' /proc/meminfo)"
echo "Load average ${load_before} before, ${load_after} after; ${priority[*]:-normal priority};" \
  "medians of ${repetitions} repetitions"
echo

perl -MJSON::PP -e '
  use strict;
  use warnings;
  my %median;
  for my $file (@ARGV) {
    open(my $in, "<", $file) or die "$file: $!";
    local $/;
    my $data = decode_json(<$in>);
    for my $b (@{ $data->{benchmarks} }) {
      next unless ($b->{aggregate_name} // "") eq "median";
      die "$b->{run_name}: $b->{error_message}\n" if $b->{error_occurred};
      my %scale = (ns => 1e-3, us => 1, ms => 1e3, s => 1e6);
      my $unit = $scale{ $b->{time_unit} };
      $median{ $b->{run_name} } = {
        cpu => $b->{cpu_time} * $unit,    # microseconds
        real => $b->{real_time} * $unit,
        allocations => $b->{allocations},
      };
    }
  }
  my $get = sub {
    my $name = shift;
    $median{$name} or die "no result for $name\n";
  };
  # A real drive takes at least 0.3 s for the download and 1 s for the commit.
  my $realDrive = 1.3e6;

  print "Update paths, per drive (null driver, CPU time)\n";
  printf "%-8s %-6s %12s %12s %8s %12s %14s\n", "path", "pieces", "package us", "floor us",
    "ratio", "allocations", "of real drive";
  for my $path (["inbox", "BM_UpdateThroughInbox"], ["irst", "BM_UpdateThroughIrst"],
                ["vroc", "BM_UpdateThroughVroc"]) {
    for my $granularity (1, 8) {
      my $package = $get->("$path->[1]/$granularity");
      my $floor = $get->("BM_Floor/$path->[0]/$granularity");
      printf "%-8s %-6d %12.1f %12.1f %7.2fx %12.0f %13.4f%%\n", $path->[0], 512 / $granularity,
        $package->{cpu}, $floor->{cpu}, $package->{cpu} / $floor->{cpu},
        $package->{allocations}, 100 * $package->{cpu} / $realDrive;
    }
  }
  my $floor = $get->("BM_Floor/inbox/1")->{cpu};
  printf "floor: %.1f us per drive (inbox, 512 pieces)\n\n", $floor;

  print "Rehearsal: whole run of the entry point, 64 drives, and the report (wall time)\n";
  printf "%-26s %10s %14s %10s\n", "", "total ms", "per drive ms", "ratio";
  for my $case ([1, "with call records"], [0, "without call records"]) {
    my $run = $get->("BM_Rehearsal64Drives/$case->[0]/real_time");
    printf "%-26s %10.1f %14.3f %9.1fx\n", $case->[1], $run->{real} / 1e3,
      $run->{real} / 64 / 1e3, $run->{real} / 64 / $floor;
  }
  print "\nDiscovery and identification by disk devices (wall time)\n";
  printf "%-8s %14s %10s %16s %10s\n", "devices", "discovery ms", "ratio", "with ident. ms",
    "ratio";
  my $previous;
  for my $devices (16, 64, 256) {
    my $discovery = $get->("BM_Discovery/$devices")->{real};
    my $both = $get->("BM_DiscoveryAndIdentification/$devices")->{real};
    printf "%-8d %14.3f %9.1fx %16.3f %9.1fx%s\n", $devices, $discovery / 1e3,
      $discovery / $floor, $both / 1e3, $both / $floor,
      defined $previous ? sprintf("   (x%.1f for x4 devices)", $both / $previous) : "";
    $previous = $both;
  }
  print "\nMachine-file loading by drives (wall time; linear doubles with the drives)\n";
  printf "%-8s %10s %14s %12s\n", "drives", "load ms", "per drive us", "growth";
  $previous = undef;
  for my $drives (20000, 40000, 80000) {
    my $load = $get->("BM_LoadMachineFile/$drives/real_time")->{real};
    printf "%-8d %10.1f %14.2f %12s\n", $drives, $load / 1e3, $load / $drives,
      defined $previous ? sprintf("x%.2f", $load / $previous) : "";
    $previous = $load;
  }
  my $first = $get->("BM_LoadMachineFile/20000/real_time")->{real};
  my $last = $get->("BM_LoadMachineFile/80000/real_time")->{real};
  printf "80,000 drives take %.2f times as long as 20,000 (linear: 4)\n", $last / $first;
  my $inbox = $get->("BM_InboxDiscovery10000Disks/real_time")->{real};
  printf "\nMachine of 10,000 inbox disks: built and discovered in %.1f ms (wall time)\n",
    $inbox / 1e3;
' "$results/update.json" "$results/machine.json"
