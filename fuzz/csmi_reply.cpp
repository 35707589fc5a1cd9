// The IRST driver's replies: the CSMI RAID configuration reader and the
// "IntelNvm" Identify data on raw bytes, and the RAID set query and the
// pass-through identification with a hostile IRST driver.
#include <span>
#include <string>

#include "core/disk_info.hpp"
#include "discovery/intel_identify.hpp"
#include "fuzz_machine.hpp"
#include "fuzz_machines.hpp"
#include "fuzz_targets.hpp"
#include "records/identify_fields.hpp"
#include "records/intel_requests.hpp"
#include "zevsim/machine_view.hpp"

int zevFuzzCsmiReply(const std::uint8_t* data, std::size_t size) {
  const std::span<const std::uint8_t> bytes{data, size};
  const zev::intel::CsmiRaidConfigReply reply(bytes);
  (void)reply.returnCode();
  (void)reply.driveCount();
  const std::size_t room = reply.entryRoom();
  if (zev::intel::csmiRaidConfigRequestSize(room) > size && room != 0) {
    zevfuzz::invariantBroken("CSMI entry room beyond the reply");
  }
  for (std::size_t i = 0; i < room + 2; ++i) {
    if (reply.memberPort(i).has_value() != (i < room)) {
      zevfuzz::invariantBroken("CSMI member port against the entry room");
    }
  }
  const auto identifyData = zev::intel::intelNvmIdentifyData(bytes);
  if (!identifyData.empty() && identifyData.size() != zev::identify::kDataSize) {
    zevfuzz::invariantBroken("IntelNvm Identify data not 4096 bytes");
  }

  zevfuzz::ByteSource source(data, size);
  zevfuzz::FuzzMachine sim(zevfuzz::kIrstMachine, source);
  const std::string& path =
      zevsim::MachineView(sim.machine()).config().intelController->interfacePath;
  zev::DiskInfo raid;
  raid.devicePath.assign(path.begin(), path.end());
  raid.driverKind = zev::DriverKind::IrstRaid;
  zev::DiskList identified;
  const int raidResult = zev::queryCsmiRaidConfig(raid, identified, source.byte() % 3).code;
  if (raidResult != 0 && raidResult != 5) {
    zevfuzz::invariantBroken("queryCsmiRaidConfig result outside 0, 5");
  }
  if (identified.size() > 255) {
    zevfuzz::invariantBroken("more members than bDriveCount can name");
  }
  zev::DiskInfo passThrough = raid;
  passThrough.driverKind = zev::DriverKind::IrstNonRaid;
  passThrough.pathId = source.byte() % 5;
  const std::size_t before = identified.size();
  const int ptResult = zev::identifyIntelPassThroughDisk(passThrough, identified).code;
  if ((ptResult != 0 && ptResult != 5 && ptResult != 8) ||
      identified.size() != before + (ptResult == 0 ? 1 : 0)) {
    zevfuzz::invariantBroken("identifyIntelPassThroughDisk result against its record");
  }
  for (const zev::DiskInfo& disk : identified) {
    if (disk.modelNumber.size() > zev::identify::kMnSize ||
        disk.serialNumber.size() > zev::identify::kSnSize ||
        disk.firmwareRevision.size() > zev::identify::kFrSize) {
      zevfuzz::invariantBroken("IRST disk record outside its field widths");
    }
  }
  if (sim.machine().handlesLeftOpen() != 0) {
    zevfuzz::invariantBroken("handles left open");
  }
  return 0;
}
