// The hostile endpoint and the fuzz targets' machine.
#include "fuzz_machine.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <utility>

#include "core/firmware_image.hpp"
#include "records/little_endian.hpp"
#include "records/srb_io_control.hpp"
#include "records/vroc_records.hpp"
#include "report/console.hpp"
#include "zevsim/machine_file.hpp"
#include "zevsim/machine_view.hpp"

namespace zevfuzz {

std::uint8_t ByteSource::byte() {
  return pos_ < size_ ? data_[pos_++] : 0;
}

std::uint16_t ByteSource::u16() {
  const std::uint16_t low = byte();
  return static_cast<std::uint16_t>(low | (byte() << 8));
}

std::uint32_t ByteSource::u32() {
  const std::uint32_t low = u16();
  return low | (static_cast<std::uint32_t>(u16()) << 16);
}

std::span<const std::uint8_t> ByteSource::take(std::size_t count) {
  const std::size_t n = std::min(count, size_ - std::min(pos_, size_));
  const std::span<const std::uint8_t> out{data_ + pos_, n};
  pos_ += n;
  return out;
}

namespace {
InvariantHandler invariantHandler = nullptr;
}  // namespace

InvariantHandler setInvariantHandler(InvariantHandler handler) {
  return std::exchange(invariantHandler, handler);
}

void invariantBroken(const char* what) {
  if (invariantHandler != nullptr) {
    invariantHandler(what);
  }
  std::fprintf(stderr, "zev fuzz invariant broken: %s\n", what);
  std::abort();
}

namespace {

// The VROC driver's counts size the lists the package allocates and the
// Identify requests it sends, up to what a 32-bit Length allows (about 4 GiB
// and 40 million drives). Such counts are handled by the package but make a
// fuzz run last for hours, so the bench keeps the counts it reports to 64.
constexpr std::uint32_t kMostListedDrives = 64;

void limitVrocCount(std::span<const std::uint8_t> in, std::vector<std::uint8_t>& reply) {
  if (in.size() < zev::srb::kHeaderSize) {
    return;
  }
  const std::uint32_t code = zev::loadLe32(in, zev::srb::kControlCodeOffset);
  std::size_t at = 0;
  if (code == zev::vroc::kNonRaidCountCode) {
    at = zev::vroc::kCountOffset;
  } else if (code == zev::vroc::kRaidVolumeInfoCode) {
    at = zev::vroc::kVolumeInfoMemberCountOffset;
  } else {
    return;
  }
  // A reply that ends inside the count leaves the rest of the caller's buffer,
  // which held the request, in place: the count is read across both.
  if (reply.size() > at && reply.size() < at + 4 && in.size() >= at + 4) {
    reply.insert(reply.end(), in.begin() + static_cast<std::ptrdiff_t>(reply.size()),
                 in.begin() + static_cast<std::ptrdiff_t>(at + 4));
  }
  if (reply.size() >= at + 4) {
    const std::uint32_t count = zev::loadLe32(reply, at);
    // The non-RAID count is signed: negative counts pass as they are.
    const bool negative = code == zev::vroc::kNonRaidCountCode && count >= 0x80000000u;
    if (!negative && count > kMostListedDrives) {
      zev::storeLe32(reply, at, kMostListedDrives);
    }
  }
}

enum class Action : std::uint8_t { Pass = 0, Undelivered = 1, Alter = 2, Replace = 3 };

class HostileEndpoint : public zevsim::Endpoint {
 public:
  HostileEndpoint(FuzzMachine& owner, std::unique_ptr<zevsim::Endpoint> real)
      : owner_(owner), real_(std::move(real)) {}

  zevsim::IoReply request(std::uint32_t controlCode, std::span<const std::uint8_t> in,
                          std::uint32_t outSize) override {
    const auto downloadsBefore = owner_.driveCounts(zevsim::FaultRequest::Download);
    const auto activationsBefore = owner_.driveCounts(zevsim::FaultRequest::Activate);
    zevsim::IoReply reply = real_->request(controlCode, in, outSize);
    const auto downloadsAfter = owner_.driveCounts(zevsim::FaultRequest::Download);
    const auto activationsAfter = owner_.driveCounts(zevsim::FaultRequest::Activate);

    Action action = Action::Pass;
    if (owner_.hostile() && !owner_.source().empty()) {
      action = static_cast<Action>(owner_.source().byte() % 4);
    }
    ByteSource& source = owner_.source();
    switch (action) {
      case Action::Pass:
        break;
      case Action::Undelivered:
        reply.delivered = false;
        reply.error = source.u32();
        reply.reply.clear();
        reply.bytesReturned = 0;
        break;
      case Action::Alter: {
        if (!reply.delivered) {
          reply.delivered = true;
          reply.reply.assign(in.begin(), in.end());
          reply.bytesReturned = static_cast<std::uint32_t>(in.size());
        }
        const int changes = source.byte() % 8;
        for (int i = 0; i < changes && !reply.reply.empty(); ++i) {
          const std::size_t at = source.u16() % reply.reply.size();
          reply.reply[at] = source.byte();
        }
        if (source.byte() % 4 == 0) {
          reply.bytesReturned = source.u32();
        }
        break;
      }
      case Action::Replace: {
        reply.delivered = true;
        const std::size_t length = source.u16() % (static_cast<std::size_t>(outSize) + 1);
        const auto bytes = source.take(length);
        reply.reply.assign(bytes.begin(), bytes.end());
        reply.bytesReturned =
            source.byte() % 2 == 0 ? static_cast<std::uint32_t>(bytes.size()) : source.u32();
        break;
      }
    }

    if (reply.delivered && action != Action::Pass) {
      limitVrocCount(in, reply.reply);
    }

    auto& seen = owner_.mutableObservations();
    failedDownloadHere_.resize(seen.size());
    for (std::size_t d = 0; d < seen.size(); ++d) {
      const bool downloaded = downloadsAfter[d] != downloadsBefore[d];
      const bool activated = activationsAfter[d] != activationsBefore[d];
      seen[d].downloadsSeen += downloaded ? 1 : 0;
      seen[d].activationsSeen += activated ? 1 : 0;
      // Each update opens its own handle and starts its image at offset 0,
      // so a failed piece forbids an activation on this handle only: a later
      // update of the same drive (a disk listed twice) sends a whole image.
      if (activated && failedDownloadHere_[d]) {
        seen[d].activateAfterFailedDownload = true;
      }
      if (action == Action::Undelivered) {
        failedDownloadHere_[d] = failedDownloadHere_[d] || downloaded;
        seen[d].downloadReportedFailed = seen[d].downloadReportedFailed || downloaded;
        seen[d].activateReportedFailed = seen[d].activateReportedFailed || activated;
      }
    }
    return reply;
  }

 private:
  FuzzMachine& owner_;
  std::unique_ptr<zevsim::Endpoint> real_;
  std::vector<bool> failedDownloadHere_;  // per drive, on this handle
};

}  // namespace

FuzzMachine::FuzzMachine(std::string_view machineFile, ByteSource& source) : source_(source) {
  zevsim::MachineFileResult loaded = zevsim::parseMachineFile(machineFile, "<fuzz machine>");
  if (!loaded.config) {
    std::fprintf(stderr, "%s\n", loaded.error.c_str());
    std::abort();
  }
  zev::buildPackageIdentity();
  const auto image = zev::firmwareImage();
  machine_ = std::make_unique<zevsim::Machine>(
      *loaded.config, std::vector<std::uint8_t>(image.begin(), image.end()));
  machine_->setRecording(false);
  observations_.resize(zevsim::MachineView(*machine_).config().drives.size());
  machine_->wrapEndpoints([this](std::unique_ptr<zevsim::Endpoint> real) {
    return std::unique_ptr<zevsim::Endpoint>(new HostileEndpoint(*this, std::move(real)));
  });
  binding_.emplace(*machine_);
  capture_ = std::make_unique<zev::ConsoleCapture>();
}

FuzzMachine::~FuzzMachine() {
  capture_.reset();
  binding_.reset();
}

bool FuzzMachine::activationFollowedFailedDownload() const {
  return std::any_of(observations_.begin(), observations_.end(),
                     [](const DriveObservation& o) { return o.activateAfterFailedDownload; });
}

std::vector<std::uint32_t> FuzzMachine::driveCounts(zevsim::FaultRequest kind) const {
  const zevsim::MachineView view(*machine_);
  std::vector<std::uint32_t> counts;
  for (std::size_t drive = 0; drive < view.config().drives.size(); ++drive) {
    counts.push_back(view.driveRequests(drive, kind));
  }
  return counts;
}

}  // namespace zevfuzz
