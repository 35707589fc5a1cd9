// A simulated machine for the inbox tests: built from machine-file text (so it
// gets the loader's defaults), bound to the platform boundary for the life of
// the object, with the package identity built so that imageBuffer holds the
// image the drives compare against. Console text is captured meanwhile.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/firmware_image.hpp"
#include "platform/sim/sim_binding.hpp"
#include "report/console.hpp"
#include "zevsim/machine.hpp"
#include "zevsim/machine_file.hpp"

namespace zev::inboxtest {

class InboxMachine {
 public:
  explicit InboxMachine(std::string_view machineFile) {
    zevsim::MachineFileResult loaded = zevsim::parseMachineFile(machineFile, "<inbox test>");
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
    capture_ = std::make_unique<ConsoleCapture>();
  }
  ~InboxMachine() {
    capture_.reset();
    platform::sim::bindMachine(nullptr);
    narrowOut.reset();
  }
  InboxMachine(const InboxMachine&) = delete;
  InboxMachine& operator=(const InboxMachine&) = delete;

  zevsim::Machine& machine() { return *machine_; }
  const zevsim::MachineConfig& config() const { return config_; }
  const std::string& console() const { return capture_->text(); }

  // The disk interface path of the i-th inbox disk, as the package opens it.
  std::wstring interfacePath(std::size_t inboxIndex) const {
    const std::string& path = config_.inbox.at(inboxIndex).interfacePath;
    return std::wstring(path.begin(), path.end());
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

  std::vector<zevsim::CallRecord> requests(std::uint32_t controlCode) const {
    std::vector<zevsim::CallRecord> out;
    for (const zevsim::CallRecord& call : calls(zevsim::CallKind::DeviceIoControl)) {
      if (call.controlCode == controlCode) {
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

  std::uint32_t requestsOf(std::string_view id, zevsim::FaultRequest kind) const {
    return drive(id).requests[static_cast<int>(kind)];
  }

 private:
  zevsim::MachineConfig config_;
  std::unique_ptr<zevsim::Machine> machine_;
  std::unique_ptr<ConsoleCapture> capture_;
};

inline std::uint32_t le32At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  if (bytes.size() < offset + 4) {
    ADD_FAILURE() << "too short for offset " << offset;
    return 0;
  }
  return static_cast<std::uint32_t>(bytes[offset]) |
         (static_cast<std::uint32_t>(bytes[offset + 1]) << 8) |
         (static_cast<std::uint32_t>(bytes[offset + 2]) << 16) |
         (static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

inline std::uint64_t le64At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return static_cast<std::uint64_t>(le32At(bytes, offset)) |
         (static_cast<std::uint64_t>(le32At(bytes, offset + 4)) << 32);
}

// A call fault of kind failing with error; the filters stay open unless given.
inline zevsim::CallFault callFault(zevsim::CallKind kind, std::uint32_t error,
                                   std::optional<std::uint32_t> nth = std::nullopt,
                                   std::optional<std::uint32_t> deviceIndex = std::nullopt,
                                   std::optional<zevsim::PropertyKey> propertyKey = std::nullopt) {
  zevsim::CallFault fault;
  fault.kind = kind;
  fault.error = error;
  fault.nth = nth;
  fault.deviceIndex = deviceIndex;
  fault.propertyKey = propertyKey;
  return fault;
}

// Drive text as the package holds it: one wide character per byte.
inline std::wstring wideBytes(std::string_view bytes) {
  std::wstring out;
  for (char c : bytes) {
    out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return out;
}

}  // namespace zev::inboxtest
