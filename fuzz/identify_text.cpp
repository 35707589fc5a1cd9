// Identify Controller bytes: the text rules and the granularity rule on raw
// bytes, and the inbox identification (storage property query) with a
// hostile inbox driver.
#include <span>

#include "core/disk_info.hpp"
#include "discovery/inbox_identify.hpp"
#include "fuzz_machine.hpp"
#include "fuzz_machines.hpp"
#include "fuzz_targets.hpp"
#include "records/identify_fields.hpp"

namespace {

using namespace zev::identify;

void checkFieldTexts(std::span<const std::uint8_t> bytes, std::size_t offset, std::size_t width) {
  if (offset >= bytes.size()) {
    return;
  }
  const auto field = bytes.subspan(offset, std::min(width, bytes.size() - offset));
  if (textUpToZero(field).size() > field.size()) {
    zevfuzz::invariantBroken("textUpToZero longer than its field");
  }
  if (textWholeField(field).size() != field.size()) {
    zevfuzz::invariantBroken("textWholeField not the field's width");
  }
}

}  // namespace

int zevFuzzIdentifyText(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes{data, size};
  checkFieldTexts(bytes, kSnOffset, kSnSize);
  checkFieldTexts(bytes, kMnOffset, kMnSize);
  checkFieldTexts(bytes, kFrOffset, kFrSize);
  if (size > kFwugOffset) {
    const std::int32_t granularity = granularityFromIdentify(bytes);
    if (granularity < 1 || granularity > 255) {
      zevfuzz::invariantBroken("granularity outside 1 to 255");
    }
  }

  zevfuzz::ByteSource source(data, size);
  zevfuzz::FuzzMachine sim(zevfuzz::kInboxMachine, source);
  zev::DiskList identified;
  for (const wchar_t* path : {L"\\\\.\\PHYSICALDRIVE0", L"\\\\.\\PHYSICALDRIVE1"}) {
    zev::DiskInfo candidate;
    candidate.devicePath = path;
    candidate.driverKind = zev::DriverKind::Inbox;
    const std::size_t before = identified.size();
    const int result = zev::identifyInboxDisk(candidate, identified).code;
    if (result != 0 && result != 2 && result != 5) {
      zevfuzz::invariantBroken("identifyInboxDisk result outside 0, 2, 5");
    }
    if (identified.size() != before + (result == 0 ? 1 : 0)) {
      zevfuzz::invariantBroken("identifyInboxDisk appended against its result");
    }
  }
  for (const zev::DiskInfo& disk : identified) {
    if (disk.modelNumber.size() > kMnSize || disk.serialNumber.size() > kSnSize ||
        disk.firmwareRevision.size() > kFrSize || disk.updateGranularity < 1 ||
        disk.updateGranularity > 255) {
      zevfuzz::invariantBroken("inbox disk record outside its field widths");
    }
  }
  if (sim.machine().handlesLeftOpen() != 0) {
    zevfuzz::invariantBroken("handles left open");
  }
  return 0;
}
