// The fuzz targets' simulated machine: a machine-file machine bound to the
// platform boundary, whose drivers answer through a hostile endpoint in front
// of the real one. The fuzzer's bytes decide, request by request, whether the
// driver's reply passes unchanged, the request fails undelivered with an
// error of the fuzzer's choosing, the reply is altered at chosen bytes, or it
// is replaced by the fuzzer's bytes with a chosen byte count.
//
// The real driver always acts first, so the drives keep their request counts
// and a download that is reported as failed still reaches the drive: a commit
// that follows it would then succeed on the drive, which is what the checks
// here watch for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "platform/sim/sim_binding.hpp"
#include "report/console.hpp"
#include "zevsim/machine.hpp"

namespace zevfuzz {

// Reads the fuzzer's bytes front to back; past the end every read gives 0.
class ByteSource {
 public:
  ByteSource(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  std::uint8_t byte();
  std::uint16_t u16();
  std::uint32_t u32();
  bool empty() const { return pos_ >= size_; }
  // Up to count bytes, fewer at the end.
  std::span<const std::uint8_t> take(std::size_t count);
  std::span<const std::uint8_t> rest() const { return {data_ + pos_, size_ - pos_}; }

 private:
  const std::uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

// What the hostile endpoints did, per drive (machine config order).
struct DriveObservation {
  bool downloadReportedFailed = false;       // a download the drive took was failed undelivered
  bool activateReportedFailed = false;       // likewise an activation
  bool activateAfterFailedDownload = false;  // on the handle that saw the failure
  std::uint32_t downloadsSeen = 0;
  std::uint32_t activationsSeen = 0;
};

class FuzzMachine {
 public:
  // Binds the machine for the life of the object; the package identity is
  // built fresh.
  FuzzMachine(std::string_view machineFile, ByteSource& source);
  ~FuzzMachine();
  FuzzMachine(const FuzzMachine&) = delete;
  FuzzMachine& operator=(const FuzzMachine&) = delete;

  zevsim::Machine& machine() { return *machine_; }
  // false: the endpoints pass every reply unchanged (and still observe).
  void setHostile(bool on) { hostile_ = on; }
  const std::vector<DriveObservation>& observations() const { return observations_; }
  // Any drive that saw an activation after one of its downloads was failed.
  bool activationFollowedFailedDownload() const;

  // Used by the endpoints.
  bool hostile() const { return hostile_; }
  ByteSource& source() { return source_; }
  std::vector<std::uint32_t> driveCounts(zevsim::FaultRequest kind) const;
  std::vector<DriveObservation>& mutableObservations() { return observations_; }

 private:
  ByteSource& source_;
  bool hostile_ = true;
  std::unique_ptr<zevsim::Machine> machine_;
  std::optional<zev::platform::sim::SimBinding> binding_;
  std::unique_ptr<zev::ConsoleCapture> capture_;  // the package's output is not wanted
  std::vector<DriveObservation> observations_;
};

// What a broken invariant does. By default it prints the invariant and
// aborts, so that libFuzzer reports the input. The suite's seed replay
// installs a handler that throws instead: the exception unwinds the entry
// function, whose FuzzMachine unbinds the simulated machine and ends its
// console capture on the way out, to the replay, which fails that seed and
// goes on with the next. The invariants are checked in the entry functions
// only, between the package's calls, so the exception never passes through
// the package. A handler that returns gets the default's abort.
using InvariantHandler = void (*)(const char* what);

// Installs handler (nullptr: the default) and returns the one it replaces.
InvariantHandler setInvariantHandler(InvariantHandler handler);

// Ends the current input through the installed handler (a broken invariant).
[[noreturn]] void invariantBroken(const char* what);

}  // namespace zevfuzz
