// Machine files of simulated servers for the benchmarks.
#include "server_machine.hpp"

#include <cstdio>

namespace zevbench {

namespace {

std::string driveId(const char* prefix, std::uint32_t index, const char* suffix = "") {
  char text[32];
  std::snprintf(text, sizeof text, "%s%03u%s", prefix, static_cast<unsigned>(index), suffix);
  return text;
}

void appendDrive(std::string& json, const std::string& id, std::string_view firmware) {
  if (json.back() == '}') {
    json += ",";
  }
  json += "\n    {\"id\": \"" + id + "\", \"firmware\": \"" + std::string(firmware) + "\"}";
}

}  // namespace

std::string serverMachineJson(const ServerLayout& layout) {
  std::string drives = "[";
  std::string inbox = "[";
  for (std::uint32_t i = 0; i < layout.inboxDrives; ++i) {
    const std::string id = driveId("in", i);
    appendDrive(drives, id, layout.firmware);
    inbox += std::string(i == 0 ? "" : ",") + "\n    {\"drive\": \"" + id + "\"}";
  }

  std::uint32_t pathId = 0;
  std::string passThrough = "[";
  for (std::uint32_t i = 0; i < layout.passThroughDrives; ++i) {
    const std::string id = driveId("pt", i);
    appendDrive(drives, id, layout.firmware);
    passThrough += std::string(i == 0 ? "" : ",") + "\n      {\"drive\": \"" + id +
                   "\", \"busNumber\": " + std::to_string(pathId++) + "}";
  }
  std::string volumes = "[";
  for (std::uint32_t v = 0; v < layout.raidVolumes; ++v) {
    const std::string first = driveId("rv", v, "a");
    const std::string second = driveId("rv", v, "b");
    appendDrive(drives, first, layout.firmware);
    appendDrive(drives, second, layout.firmware);
    volumes += std::string(v == 0 ? "" : ",") + "\n      {\"members\": [{\"drive\": \"" + first +
               "\", \"port\": " + std::to_string(pathId) + "}, {\"drive\": \"" + second +
               "\", \"port\": " + std::to_string(pathId + 1) + "}]}";
    pathId += 2;
  }

  std::string json = "{\n  \"description\": \"A server of " + std::to_string(layout.driveCount()) +
                     " TQ270c drives\",\n";
  json += "  \"drives\": " + drives + "\n  ],\n";
  json += "  \"inbox\": " + inbox + "\n  ]";
  if (layout.raidVolumes != 0 || layout.passThroughDrives != 0) {
    json += ",\n  \"intelController\": {\n    \"driver\": \"irst\",\n";
    json += "    \"raidVolumes\": " + volumes + "\n    ],\n";
    json += "    \"passThrough\": " + passThrough + "\n    ]\n  }";
  }
  json += "\n}\n";
  return json;
}

std::string manyDrivesMachineJson(std::uint32_t drives) {
  std::string json = "{\n  \"description\": \"" + std::to_string(drives) + " drives\",\n";
  json += "  \"drives\": [";
  for (std::uint32_t i = 0; i < drives; ++i) {
    const std::string id = driveId("d", i);
    json += std::string(i == 0 ? "" : ",") + "\n    {\"id\": \"" + id +
            "\", \"model\": \"KELDORA TQ270c 2TB\", \"serial\": \"KD27" + id +
            "\", \"firmware\": \"KTW3LMZB\", \"activation\": \"reset\"}";
  }
  json += "\n  ],\n  \"inbox\": [";
  for (std::uint32_t i = 0; i < drives / 2; ++i) {
    json += std::string(i == 0 ? "" : ",") + "\n    {\"drive\": \"" + driveId("d", i) + "\"}";
  }
  json += "\n  ]\n}\n";
  return json;
}

}  // namespace zevbench
