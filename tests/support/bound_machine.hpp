// A simulated machine for the package's tests: built from machine-file text
// (so it gets the loader's defaults), optionally adjusted before it is built,
// bound to the platform boundary for the life of the object, with the package
// identity built so that imageBuffer holds the image the drives compare
// against. Optionally captures the console meanwhile.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/firmware_image.hpp"
#include "platform/platform.hpp"
#include "platform/sim/sim_binding.hpp"
#include "report/console.hpp"
#include "zevsim/machine.hpp"
#include "zevsim/machine_file.hpp"

namespace zev::testsupport {

using AdjustConfig = std::function<void(zevsim::MachineConfig&)>;

// The text of the first "  [ERROR] " line of console text, without that
// prefix; empty when there is none. A step's outcome must carry exactly this
// as its diagnostic.
inline std::string firstErrorLine(std::string_view console) {
  constexpr std::string_view kPrefix = "  [ERROR] ";
  for (std::size_t at = 0; at < console.size();) {
    const std::size_t end = std::min(console.find('\n', at), console.size());
    const std::string_view line = console.substr(at, end - at);
    if (line.starts_with(kPrefix)) {
      return std::string(line.substr(kPrefix.size()));
    }
    at = end + 1;
  }
  return {};
}

class BoundMachine {
 public:
  explicit BoundMachine(std::string_view machineFile, const AdjustConfig& adjust = {},
                        bool captureConsole = false) {
    zevsim::MachineFileResult loaded = zevsim::parseMachineFile(machineFile, "<test machine>");
    if (!loaded.config) {
      ADD_FAILURE() << loaded.error;
      loaded.config = zevsim::MachineConfig{};
    }
    config_ = std::move(*loaded.config);
    if (adjust) {
      adjust(config_);
    }
    identity_ = buildPackageIdentity();
    const auto image = firmwareImage();
    machine_ = std::make_unique<zevsim::Machine>(
        config_, std::vector<std::uint8_t>(image.begin(), image.end()));
    binding_.emplace(*machine_);
    if (captureConsole) {
      capture_ = std::make_unique<ConsoleCapture>();
    }
  }
  ~BoundMachine() {
    capture_.reset();
    binding_.reset();
  }
  BoundMachine(const BoundMachine&) = delete;
  BoundMachine& operator=(const BoundMachine&) = delete;

  zevsim::Machine& machine() { return *machine_; }
  const zevsim::MachineConfig& config() const { return config_; }
  // The package identity built from the image the drives compare against.
  const PackageIdentity& identity() const { return identity_; }
  // The captured console text (a machine built with captureConsole).
  const std::string& console() const { return capture_->text(); }

  std::vector<zevsim::CallRecord> calls(zevsim::CallKind kind) const {
    std::vector<zevsim::CallRecord> out;
    for (const zevsim::CallRecord& call : machine_->calls()) {
      if (call.kind == kind) {
        out.push_back(call);
      }
    }
    return out;
  }

  // The device requests sent, in order, with the given control code.
  std::vector<zevsim::CallRecord> requests(std::uint32_t controlCode) const {
    std::vector<zevsim::CallRecord> out;
    for (const zevsim::CallRecord& call : calls(zevsim::CallKind::DeviceIoControl)) {
      if (call.controlCode == controlCode) {
        out.push_back(call);
      }
    }
    return out;
  }

  // The miniport requests sent, in order, whose SRB_IO_CONTROL carries
  // srbControlCode.
  std::vector<zevsim::CallRecord> miniportRequests(std::uint32_t srbControlCode) const;

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

  // The disk interface path of the i-th inbox disk, as the package opens it.
  std::wstring inboxInterfacePath(std::size_t inboxIndex) const {
    return ascii(config_.inbox.at(inboxIndex).interfacePath);
  }
  // The Intel controller's storage-port interface path as the package sees it.
  std::wstring controllerPath() const { return ascii(config_.intelController->interfacePath); }

 private:
  static std::wstring ascii(const std::string& text) {
    return std::wstring(text.begin(), text.end());
  }

  zevsim::MachineConfig config_;
  PackageIdentity identity_;
  std::unique_ptr<zevsim::Machine> machine_;
  std::optional<platform::sim::SimBinding> binding_;
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

inline std::uint32_t le32At(const zevsim::CallRecord& call, std::size_t offset) {
  return le32At(call.inputHead, offset);
}

inline std::uint64_t le64At(const std::vector<std::uint8_t>& bytes, std::size_t offset) {
  return static_cast<std::uint64_t>(le32At(bytes, offset)) |
         (static_cast<std::uint64_t>(le32At(bytes, offset + 4)) << 32);
}

inline std::vector<zevsim::CallRecord> BoundMachine::miniportRequests(
    std::uint32_t srbControlCode) const {
  std::vector<zevsim::CallRecord> out;
  for (const zevsim::CallRecord& call : calls(zevsim::CallKind::DeviceIoControl)) {
    if (call.inputHead.size() >= 20 && le32At(call, 16) == srbControlCode) {
      out.push_back(call);
    }
  }
  return out;
}

// The request's signature bytes (4 to 11) from a call record's input head.
inline std::string signatureOf(const zevsim::CallRecord& call) {
  if (call.inputHead.size() < 12) {
    return {};
  }
  return std::string(call.inputHead.begin() + 4, call.inputHead.begin() + 12);
}

// A call fault of kind failing with error; the filters stay open unless given.
inline zevsim::CallFault callFault(zevsim::CallKind kind, std::uint32_t error = 1117,
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

// A platform property key as the simulated machine spells it.
inline zevsim::PropertyKey simKey(const platform::PropertyKey& key) {
  return {{key.fmtid.data1, key.fmtid.data2, key.fmtid.data3, key.fmtid.data4}, key.pid};
}

// Machine-file text (ASCII) as the package holds a path: one wide character each.
inline std::wstring wide(const std::string& text) {
  return std::wstring(text.begin(), text.end());
}

// Drive text as the package holds it: one wide character per byte.
inline std::wstring wideBytes(std::string_view bytes) {
  std::wstring out;
  for (char c : bytes) {
    out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  }
  return out;
}

// A bound machine that captures the console for its whole life.
class CapturedMachine : public BoundMachine {
 public:
  explicit CapturedMachine(std::string_view machineFile, const AdjustConfig& adjust = {})
      : BoundMachine(machineFile, adjust, true) {}
};

// A drive text padded with blanks to its field width, as NVMe fills it.
inline std::string padded(std::string text, std::size_t width) {
  text.resize(width, ' ');
  return text;
}

}  // namespace zev::testsupport
