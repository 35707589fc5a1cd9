// The whole package (zev::packageMain) on a machine with an inbox TQ270c, a
// drive of another maker, and an IRST controller (RAID 1 and a pass-through
// drive) or a VROC controller (RAID 1, or pass-through drives), every driver answering through the
// hostile endpoint; an update run, or a check ("/c") that must send no
// download, activation or commit whatever the drivers answer.
#include <algorithm>
#include <vector>

#include "app/entry_point.hpp"
#include "fuzz_machine.hpp"
#include "fuzz_machines.hpp"
#include "fuzz_targets.hpp"

int zevFuzzPackageMain(const std::uint8_t* data, std::size_t size) {
  zevfuzz::ByteSource source(data, size);
  const std::uint8_t choice = source.byte();
  const std::string_view machines[] = {zevfuzz::kInboxMachine, zevfuzz::kIrstMachine,
                                       zevfuzz::kVrocMachine, zevfuzz::kVrocPassThroughMachine};
  zevfuzz::FuzzMachine sim(machines[choice % 4], source);
  std::vector<const wchar_t*> argv{L"C:\\pkg\\ZEV_TQ270c_V1.0.2_KTW8LMZB.exe"};
  if ((choice & 0x40) != 0) {
    argv.push_back(L"/s");
  }
  const bool check = (choice & 0x20) != 0;
  if (check) {
    argv.push_back(L"/c");
  }
  const std::int32_t status = zev::packageMain(static_cast<int>(argv.size()), argv.data());
  if (check) {
    if (status != 0 && status != 1 && status != 2) {
      zevfuzz::invariantBroken("check exit status outside 0, 1, 2");
    }
    for (const zevsim::DriveReport& drive : sim.machine().driveReports()) {
      if (drive.requests[static_cast<int>(zevsim::FaultRequest::Download)] != 0 ||
          drive.requests[static_cast<int>(zevsim::FaultRequest::Activate)] != 0) {
        zevfuzz::invariantBroken("a check sent a download, activation or commit");
      }
    }
    if (sim.machine().handlesLeftOpen() != 0) {
      zevfuzz::invariantBroken("handles left open");
    }
    return 0;
  }
  if (status != 0 && status != 1 && status != 1602) {
    zevfuzz::invariantBroken("exit status outside 0, 1, 1602");
  }
  if (sim.activationFollowedFailedDownload()) {
    zevfuzz::invariantBroken("activation after a failed download");
  }
  const auto& seen = sim.observations();
  const bool failedRequest =
      std::any_of(seen.begin(), seen.end(), [](const zevfuzz::DriveObservation& o) {
        return o.downloadReportedFailed || o.activateReportedFailed;
      });
  if (failedRequest && status != 1) {
    zevfuzz::invariantBroken("a failed download or activation in a successful run");
  }
  if (sim.machine().handlesLeftOpen() != 0) {
    zevfuzz::invariantBroken("handles left open");
  }
  return 0;
}
