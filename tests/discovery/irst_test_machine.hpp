// A simulated machine for the IRST tests: built from machine-file text (so it
// gets the loader's defaults), bound to the platform boundary for the life of
// the object, with the package identity built so that imageBuffer holds the
// image the drives compare against.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "app/firmware_image.hpp"
#include "platform/sim/sim_binding.hpp"
#include "report/console.hpp"
#include "zevsim/machine.hpp"
#include "zevsim/machine_file.hpp"

namespace zev::irsttest {

class BoundMachine {
 public:
  explicit BoundMachine(std::string_view machineFile) {
    zevsim::MachineFileResult loaded = zevsim::parseMachineFile(machineFile, "<test machine>");
    if (!loaded.config) {
      ADD_FAILURE() << loaded.error;
      loaded.config = zevsim::MachineConfig{};
    }
    config_ = std::move(*loaded.config);
    resetPackageIdentity();
    buildPackageIdentity();
    const auto image = firmwareImage();
    machine_ = std::make_unique<zevsim::Machine>(
        config_, std::vector<std::uint8_t>(image.begin(), image.end()));
    platform::sim::bindMachine(machine_.get());
    narrowOut.reset();
  }
  ~BoundMachine() {
    platform::sim::bindMachine(nullptr);
    narrowOut.reset();
  }
  BoundMachine(const BoundMachine&) = delete;
  BoundMachine& operator=(const BoundMachine&) = delete;

  zevsim::Machine& machine() { return *machine_; }
  const zevsim::MachineConfig& config() const { return config_; }

  // The Intel controller's storage-port interface path as the package sees it.
  std::wstring controllerPath() const {
    const std::string& path = config_.intelController->interfacePath;
    return std::wstring(path.begin(), path.end());
  }

  // The device requests sent, in order, with the given control code.
  std::vector<zevsim::CallRecord> requests(std::uint32_t controlCode) const {
    std::vector<zevsim::CallRecord> out;
    for (const zevsim::CallRecord& call : machine_->calls()) {
      if (call.kind == zevsim::CallKind::DeviceIoControl && call.controlCode == controlCode) {
        out.push_back(call);
      }
    }
    return out;
  }

  std::vector<zevsim::CallRecord> calls(zevsim::CallKind kind) const {
    std::vector<zevsim::CallRecord> out;
    for (const zevsim::CallRecord& call : machine_->calls()) {
      if (call.kind == kind) {
        out.push_back(call);
      }
    }
    return out;
  }

  const zevsim::DriveReport* drive(std::string_view id) {
    reports_ = machine_->driveReports();
    for (const zevsim::DriveReport& report : reports_) {
      if (report.id == id) {
        return &report;
      }
    }
    ADD_FAILURE() << "no drive " << id;
    return nullptr;
  }

  std::uint32_t requestsOf(std::string_view id, zevsim::FaultRequest kind) {
    const zevsim::DriveReport* report = drive(id);
    return report == nullptr ? 0 : report->requests[static_cast<int>(kind)];
  }

 private:
  zevsim::MachineConfig config_;
  std::unique_ptr<zevsim::Machine> machine_;
  std::vector<zevsim::DriveReport> reports_;
};

// The request's signature bytes (4 to 11) from a call record's input head.
inline std::string signatureOf(const zevsim::CallRecord& call) {
  if (call.inputHead.size() < 12) {
    return {};
  }
  return std::string(call.inputHead.begin() + 4, call.inputHead.begin() + 12);
}

inline std::uint32_t le32At(const zevsim::CallRecord& call, std::size_t offset) {
  if (call.inputHead.size() < offset + 4) {
    ADD_FAILURE() << "input head too short for offset " << offset;
    return 0;
  }
  return static_cast<std::uint32_t>(call.inputHead[offset]) |
         (static_cast<std::uint32_t>(call.inputHead[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(call.inputHead[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(call.inputHead[offset + 3]) << 24);
}

// Drive text as the package holds it: one wide character per byte.
inline std::wstring wideBytes(std::string_view bytes) {
  std::wstring out;
  for (char c : bytes) {
    out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return out;
}

}  // namespace zev::irsttest
