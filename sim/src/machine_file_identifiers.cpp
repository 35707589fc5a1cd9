// Generated device identifiers for the machine-file loader.
#include "machine_file_identifiers.hpp"

#include <cstdio>

namespace zevsim {

namespace {

// The instance-specific part of a device instance identifier ("4&2A3B4C5D&0&..."):
// seed plus an odd step per index, so that every index of one kind yields a
// different value (an odd step is a bijection modulo 2^32).
std::string instanceHash(std::uint32_t seed, std::size_t index) {
  const std::uint32_t value = seed + static_cast<std::uint32_t>(index) * 0x0104C11Du;
  char text[9];
  std::snprintf(text, sizeof text, "%08X", static_cast<unsigned>(value));
  return text;
}

std::string hex2(std::uint32_t value) {
  char text[9];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value & 0xFFu));
  return text;
}

// Drive text as the storage stack puts it into SCSI identifiers: trailing
// blanks and zero bytes dropped, at most limit characters, and every
// character other than a letter, digit, '-' or '.' given as '_'.
std::string identifierText(std::string_view bytes, std::size_t limit, bool upperCase) {
  std::size_t end = bytes.size();
  while (end > 0 && (bytes[end - 1] == ' ' || bytes[end - 1] == '\0')) {
    --end;
  }
  std::string out;
  for (std::size_t i = 0; i < end && out.size() < limit; ++i) {
    char c = bytes[i];
    const bool letter = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    const bool digit = c >= '0' && c <= '9';
    if (!letter && !digit && c != '-' && c != '.') {
      c = '_';
    } else if (upperCase && c >= 'a' && c <= 'z') {
      c = static_cast<char>(c - 'a' + 'A');
    }
    out.push_back(c);
  }
  return out;
}

std::string interfacePath(std::string_view instanceId, std::string_view guid) {
  std::string path = "\\\\?\\";
  for (char c : instanceId) {
    if (c == '\\') {
      c = '#';
    } else if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    path.push_back(c);
  }
  path.push_back('#');
  path.append(guid);
  return path;
}

}  // namespace

std::string diskInterfacePath(std::string_view instanceId) {
  return interfacePath(instanceId, kDiskInterfaceGuidText);
}

std::string storagePortInterfacePath(std::string_view instanceId) {
  return interfacePath(instanceId, kStoragePortInterfaceGuidText);
}

std::string inboxControllerInstanceId(std::size_t index) {
  return "PCI\\VEN_1D9B&DEV_2700&SUBSYS_00011D9B&REV_01\\4&" + instanceHash(0x2A3B4C5Du, index) +
         "&0&00E8";
}

std::vector<std::string> inboxHardwareIds(std::string_view model, std::string_view firmware) {
  const std::string product = identifierText(model, 40, false);
  const std::string revision = identifierText(firmware, 8, false);
  return {"SCSI\\DiskNVMe____" + product + "_" + revision,
          "SCSI\\DiskNVMe____" + product,
          "SCSI\\DiskNVMe____",
          "SCSI\\NVMe____" + product,
          "NVMe____" + product,
          "GenDisk"};
}

std::string inboxDiskInstanceId(std::string_view model, std::size_t index) {
  return "SCSI\\DISK&VEN_NVME&PROD_" + identifierText(model, 16, true) + "\\5&" +
         instanceHash(0x1A2B3C4Du, index) + "&0&000000";
}

std::string intelControllerInstanceId() {
  return "PCI\\VEN_8086&DEV_A77F&SUBSYS_0A2B8086&REV_00\\3&11583659&0&B8";
}

std::string raidVolumeInstanceId(std::size_t memberCount, std::size_t index) {
  const char* level = memberCount <= 1 ? "0" : memberCount == 2 ? "1" : "5";
  return std::string("SCSI\\DISK&VEN_INTEL&PROD_RAID") + level + "VOLUME\\4&" +
         instanceHash(0x3C5D7E9Fu, index) + "&0&" + hex2(static_cast<std::uint32_t>(index)) +
         "0100";
}

std::string passThroughInstanceId(std::string_view model, std::uint32_t busNumber,
                                  std::size_t index) {
  return "SCSI\\DISK&VEN_NVME&PROD_" + identifierText(model, 16, true) + "\\4&" +
         instanceHash(0x3C5D7E9Fu + 0x80000000u, index) + "&0&" + hex2(busNumber) + "0000";
}

std::string passThroughLocationInfo(std::uint32_t busNumber) {
  return "Bus Number " + std::to_string(busNumber) + ", Target Id 0, LUN 0";
}

std::string otherControllerInstanceId(std::size_t index) {
  return "PCI\\VEN_1022&DEV_7901&SUBSYS_7901103C&REV_51\\3&" + instanceHash(0x2411E6FEu, index) +
         "&0&91";
}

}  // namespace zevsim
