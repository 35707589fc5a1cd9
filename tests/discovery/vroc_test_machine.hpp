// A simulated machine for the VROC tests: built from machine-file text (so it
// gets the loader's defaults), optionally adjusted before it is built, bound
// to the platform boundary for the life of the object, with the package
// identity built so that imageBuffer holds the image the drives compare with.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/firmware_image.hpp"
#include "platform/sim/sim_binding.hpp"
#include "report/console.hpp"
#include "zevsim/machine.hpp"
#include "zevsim/machine_file.hpp"

namespace zev::vroctest {

inline constexpr std::uint32_t kIoctlScsiMiniport = 0x0004D008;

class VrocMachine {
 public:
  explicit VrocMachine(std::string_view machineFile,
                       const std::function<void(zevsim::MachineConfig&)>& adjust = {}) {
    zevsim::MachineFileResult loaded = zevsim::parseMachineFile(machineFile, "<vroc machine>");
    if (!loaded.config) {
      ADD_FAILURE() << loaded.error;
      loaded.config = zevsim::MachineConfig{};
    }
    config_ = std::move(*loaded.config);
    if (adjust) {
      adjust(config_);
    }
    resetPackageIdentity();
    buildPackageIdentity();
    const auto image = firmwareImage();
    machine_ = std::make_unique<zevsim::Machine>(
        config_, std::vector<std::uint8_t>(image.begin(), image.end()));
    platform::sim::bindMachine(machine_.get());
    narrowOut.reset();
  }
  ~VrocMachine() {
    platform::sim::bindMachine(nullptr);
    narrowOut.reset();
  }
  VrocMachine(const VrocMachine&) = delete;
  VrocMachine& operator=(const VrocMachine&) = delete;

  zevsim::Machine& machine() { return *machine_; }

  std::vector<zevsim::CallRecord> calls(zevsim::CallKind kind) const {
    std::vector<zevsim::CallRecord> out;
    for (const zevsim::CallRecord& call : machine_->calls()) {
      if (call.kind == kind) {
        out.push_back(call);
      }
    }
    return out;
  }

  // The "NvmeRAID" requests sent, in order, whose header carries controlCode.
  std::vector<zevsim::CallRecord> requests(std::uint32_t controlCode) const {
    std::vector<zevsim::CallRecord> out;
    for (const zevsim::CallRecord& call : calls(zevsim::CallKind::DeviceIoControl)) {
      if (call.inputHead.size() >= 20 && le32At(call, 16) == controlCode) {
        out.push_back(call);
      }
    }
    return out;
  }

  zevsim::DriveReport drive(std::string_view id) const {
    for (const zevsim::DriveReport& report : machine_->driveReports()) {
      if (report.id == id) {
        return report;
      }
    }
    ADD_FAILURE() << "no drive " << id;
    return {};
  }

  static std::uint32_t le32At(const zevsim::CallRecord& call, std::size_t offset) {
    if (call.inputHead.size() < offset + 4) {
      ADD_FAILURE() << "input head too short for offset " << offset;
      return 0;
    }
    return static_cast<std::uint32_t>(call.inputHead[offset]) |
           (static_cast<std::uint32_t>(call.inputHead[offset + 1]) << 8) |
           (static_cast<std::uint32_t>(call.inputHead[offset + 2]) << 16) |
           (static_cast<std::uint32_t>(call.inputHead[offset + 3]) << 24);
  }

 private:
  zevsim::MachineConfig config_;
  std::unique_ptr<zevsim::Machine> machine_;
};

// Drive text as the package holds it: one wide character per byte.
inline std::wstring wideBytes(std::string_view bytes) {
  std::wstring out;
  for (char c : bytes) {
    out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return out;
}

// A drive text padded with blanks to its field width, as NVMe fills it.
inline std::string padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

}  // namespace zev::vroctest
