// The machines the fuzz targets run on. The TQ270c drives report FWUG 255
// with NVMe 1.3, so an image goes out in three pieces (first, middle and a
// short last one) and a run stays fast.
#pragma once

#include <string_view>

namespace zevfuzz {

inline constexpr std::string_view kInboxMachine = R"({
  "drives": [ { "id": "boot", "serial": "KD27F0001", "fwug": 255 },
              { "id": "other", "model": "OTHER MAKER SSD", "serial": "OT0002" } ],
  "inbox": [ { "drive": "boot" }, { "drive": "other" } ]
})";

inline constexpr std::string_view kIrstMachine = R"({
  "drives": [ { "id": "boot", "serial": "KD27F0001", "fwug": 255 },
              { "id": "raid-a", "serial": "KD27R1A0001", "firmware": "KTW5LMZB", "fwug": 255 },
              { "id": "raid-b", "serial": "KD27R1B0002", "firmware": "KTW5LMZB", "fwug": 255 },
              { "id": "pt", "serial": "KD27PT0003", "firmware": "KTW5LMZB", "fwug": 255 } ],
  "inbox": [ { "drive": "boot" } ],
  "intelController": {
    "driver": "irst",
    "raidVolumes": [ { "members": [ { "drive": "raid-a", "port": 0 },
                                    { "drive": "raid-b", "port": 1 } ] } ],
    "passThrough": [ { "drive": "pt", "busNumber": 3 } ]
  }
})";

inline constexpr std::string_view kVrocMachine = R"({
  "drives": [ { "id": "boot", "serial": "KD27F0001", "fwug": 255 },
              { "id": "vroc-a", "serial": "KD27VRA0001", "firmware": "KTW5LMZB", "fwug": 255 },
              { "id": "vroc-b", "serial": "KD27VRB0002", "firmware": "KTW5LMZB", "fwug": 255 },
              { "id": "pt", "serial": "KD27PT0003", "firmware": "KTW4LMZB", "fwug": 255 } ],
  "inbox": [ { "drive": "boot" } ],
  "intelController": {
    "driver": "vroc",
    "raidVolumes": [ { "members": [ { "drive": "vroc-a", "port": 0 },
                                    { "drive": "vroc-b", "port": 1 } ] } ],
    "passThrough": [ { "drive": "pt", "busNumber": 3 } ]
  }
})";

inline constexpr std::string_view kVrocPassThroughMachine = R"({
  "drives": [ { "id": "boot", "serial": "KD27F0001", "fwug": 255 },
              { "id": "pt-a", "serial": "KD27PTA0101", "firmware": "KTW4LMZB", "fwug": 255 },
              { "id": "pt-b", "serial": "KD27PTB0102", "firmware": "KTW5LMZB", "fwug": 255 } ],
  "inbox": [ { "drive": "boot" } ],
  "intelController": {
    "driver": "vroc",
    "vrocPort": 4,
    "scsiPorts": 6,
    "passThrough": [ { "drive": "pt-a", "busNumber": 3 }, { "drive": "pt-b", "busNumber": 5 } ]
  }
})";

}  // namespace zevfuzz
