// The VROC driver's replies: counts, volume information, list entries and
// the pass-through completion on raw bytes, and the whole VROC scan (port
// probe, counts, lists, Identify through the pass-through) with a hostile
// VROC driver.
#include <span>

#include "core/disk_info.hpp"
#include "discovery/vroc_scan.hpp"
#include "fuzz_machine.hpp"
#include "fuzz_machines.hpp"
#include "fuzz_targets.hpp"
#include "records/identify_fields.hpp"
#include "records/vroc_records.hpp"

int zevFuzzVrocLists(const std::uint8_t* data, std::size_t size) {
  namespace vroc = zev::vroc;
  const std::span<const std::uint8_t> bytes{data, size};
  (void)vroc::readRaidVolumeCount(bytes);
  (void)vroc::readNonRaidCount(bytes);
  (void)vroc::readVolumeMemberCount(bytes);
  for (std::size_t entries : {vroc::kMemberListEntriesOffset, vroc::kNonRaidListEntriesOffset}) {
    for (std::uint64_t index = 0;; ++index) {
      const auto entry = vroc::readDiskEntry(bytes, entries, index);
      const bool inside = entries + (index + 1) * vroc::kEntrySize <= size;
      if (entry.has_value() != inside) {
        zevfuzz::invariantBroken("VROC entry against the list's bytes");
      }
      if (!entry) {
        break;
      }
      if (entry->modelNumber.size() != vroc::kEntryModelSize ||
          entry->serialText.size() > vroc::kEntrySerialSize) {
        zevfuzz::invariantBroken("VROC entry texts outside their fields");
      }
    }
  }
  (void)vroc::readDiskEntry(bytes, size + 1, 0);
  (void)vroc::readDiskEntry(bytes, 0, ~std::uint64_t{0});
  if (size >= vroc::kPtDataOffset) {
    (void)vroc::readCompletionDword3(bytes);
  }

  zevfuzz::ByteSource source(data, size);
  zevfuzz::FuzzMachine sim(zevfuzz::kVrocMachine, source);
  zev::DiskInfo candidate;
  candidate.devicePath = L"\\\\?\\pci#ven_8086&dev_a77f#fuzz-candidate";
  candidate.driverKind =
      source.byte() % 2 == 0 ? zev::DriverKind::IrstRaid : zev::DriverKind::IrstNonRaid;
  zev::DiskList identified;
  std::int32_t port = -1;
  const int result = zev::scanVrocDisks(candidate, identified, port).code;
  if (result != 0 && result != -1) {
    zevfuzz::invariantBroken("scanVrocDisks result outside 0, -1");
  }
  if (port < -1 || port >= vroc::kScsiPortCount) {
    zevfuzz::invariantBroken("VROC port outside the ports probed");
  }
  for (const zev::DiskInfo& disk : identified) {
    if (disk.modelNumber.size() > zev::identify::kMnSize ||
        disk.firmwareRevision.size() > zev::identify::kFrSize || disk.updateGranularity < 1 ||
        disk.updateGranularity > 255) {
      zevfuzz::invariantBroken("VROC disk record outside its field widths");
    }
  }
  if (sim.machine().handlesLeftOpen() != 0) {
    zevfuzz::invariantBroken("handles left open");
  }
  return 0;
}
