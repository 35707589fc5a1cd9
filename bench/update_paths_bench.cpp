// The package's own CPU time per drive on each update path, over the null
// backend (null_platform.cpp), beside the floor: the work no implementation
// of the design can avoid, which is zeroing each piece's request buffer and
// copying the piece into it, so the 2 MiB image is copied once per drive.
//
// One iteration is one drive's whole update: target disk block, open, every
// piece, activation, verdict lines. The argument is the drive's
// updateGranularity (pieces of granularity x 4096 bytes); 1 is the most
// pieces, and the only value VROC drives carry. The counter "allocations" is
// the number of heap allocations per drive: it must not grow with the number
// of pieces.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "allocation_counter.hpp"
#include "core/disk_info.hpp"
#include "core/firmware_image.hpp"
#include "update/update_paths.hpp"

namespace {

constexpr std::uint32_t kTransferLength = 2097152;
constexpr std::uint32_t kPieceUnit = 4096;

// Each path's download request around the piece, all of which the path
// zeroes before every piece: the bytes in front of the piece, and after it.
// inbox: SRB_IO_CONTROL 28 + FIRMWARE_REQUEST_BLOCK 24 +
//        STORAGE_FIRMWARE_DOWNLOAD 24;
// IRST:  SRB_IO_CONTROL 28 + drive address 4 + FIRMWARE_REQUEST_BLOCK 24 +
//        STORAGE_FIRMWARE_DOWNLOAD_V2 32;
// VROC:  the 152-byte pass-through head, and 8 spare bytes after the piece.
struct RequestShape {
  std::size_t head = 0;
  std::size_t tail = 0;
};
constexpr RequestShape kInboxRequest{76, 0};
constexpr RequestShape kIrstRequest{88, 0};
constexpr RequestShape kVrocRequest{152, 8};

// Fills the working copy once; the identity every update path prints.
const zev::PackageIdentity& prepareImage() {
  static const zev::PackageIdentity identity = zev::buildPackageIdentity();
  return identity;
}

std::uint32_t pieceSize(const benchmark::State& state) {
  return static_cast<std::uint32_t>(state.range(0)) * kPieceUnit;
}

// allocations: the count read before the timed loop.
void setPerDriveCounters(benchmark::State& state, std::uint64_t allocationsBefore) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kTransferLength);
  state.counters["pieces"] = static_cast<double>(kTransferLength / pieceSize(state));
  state.counters["allocations"] =
      state.iterations() == 0
          ? 0.0
          : static_cast<double>(zevbench::allocationCount() - allocationsBefore) /
                static_cast<double>(state.iterations());
}

// The floor of one drive: per piece, zero a request buffer of the path's
// request size and copy the piece into it from the working image.
void BM_Floor(benchmark::State& state, RequestShape shape) {
  prepareImage();
  const std::uint32_t piece = pieceSize(state);
  std::vector<std::uint8_t> request(shape.head + piece + shape.tail);
  const std::uint8_t* image = zev::packageImage().data();
  const std::uint64_t allocationsBefore = zevbench::allocationCount();
  for (auto _ : state) {
    for (std::uint32_t offset = 0; offset < kTransferLength; offset += piece) {
      std::memset(request.data(), 0, request.size());
      std::memcpy(request.data() + shape.head, image + offset, piece);
      benchmark::DoNotOptimize(request.data());
      benchmark::ClobberMemory();
    }
  }
  setPerDriveCounters(state, allocationsBefore);
}

BENCHMARK_CAPTURE(BM_Floor, inbox, kInboxRequest)->Arg(1)->Arg(8);
BENCHMARK_CAPTURE(BM_Floor, irst, kIrstRequest)->Arg(1)->Arg(8);
BENCHMARK_CAPTURE(BM_Floor, vroc, kVrocRequest)->Arg(1)->Arg(8);

zev::DiskInfo benchDisk(zev::DriverKind kind, const benchmark::State& state) {
  zev::DiskInfo disk;
  disk.driverKind = kind;
  disk.modelNumber = L"KELDORA TQ270c 1TB                      ";
  disk.serialNumber = L"KD27BENCH0001       ";
  disk.firmwareRevision = L"KTW3LMZB";
  disk.updateGranularity = static_cast<std::int32_t>(state.range(0));
  switch (kind) {
    case zev::DriverKind::Inbox:
      disk.devicePath = L"\\\\.\\PHYSICALDRIVE3";
      break;
    case zev::DriverKind::IrstNonRaid:
      disk.devicePath =
          L"\\\\?\\pci#ven_8086&dev_2822&subsys_00000000&rev_00#3&11583659&0&FA#"
          L"{2accfe60-c130-11d2-b082-00a0c91efb8b}";
      disk.pathId = 3;
      break;
    default:
      disk.vrocDiskId = 5;
      disk.pathId = 1;
      break;
  }
  return disk;
}

template <class Update>
void runUpdates(benchmark::State& state, zev::DriverKind kind, Update update) {
  prepareImage();
  const zev::DiskInfo disk = benchDisk(kind, state);
  const std::uint64_t allocationsBefore = zevbench::allocationCount();
  for (auto _ : state) {
    std::uint32_t transferLength = kTransferLength;
    const int result = update(disk, transferLength);
    if (result != zev::kResultSuccess) {
      state.SkipWithError("the update path did not succeed on the null driver");
      return;
    }
  }
  setPerDriveCounters(state, allocationsBefore);
}

void BM_UpdateThroughInbox(benchmark::State& state) {
  runUpdates(state, zev::DriverKind::Inbox, [](const zev::DiskInfo& disk, std::uint32_t& length) {
    return zev::updateThroughInbox(disk, length, zev::packageImage(), prepareImage()).code;
  });
}
BENCHMARK(BM_UpdateThroughInbox)->Arg(1)->Arg(8);

void BM_UpdateThroughIrst(benchmark::State& state) {
  runUpdates(
      state, zev::DriverKind::IrstNonRaid, [](const zev::DiskInfo& disk, std::uint32_t& length) {
        return zev::updateThroughIrst(disk, length, zev::packageImage(), prepareImage()).code;
      });
}
BENCHMARK(BM_UpdateThroughIrst)->Arg(1)->Arg(8);

void BM_UpdateThroughVroc(benchmark::State& state) {
  runUpdates(
      state, zev::DriverKind::VrocNonRaid, [](const zev::DiskInfo& disk, std::uint32_t& length) {
        return zev::updateThroughVroc(disk, length, 2, zev::packageImage(), prepareImage()).code;
      });
}
BENCHMARK(BM_UpdateThroughVroc)->Arg(1)->Arg(8);

}  // namespace

BENCHMARK_MAIN();
