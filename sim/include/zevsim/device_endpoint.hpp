// What stands behind an opened path of the simulated machine: an endpoint
// answers device requests the way its driver would. The machine's drivers are
// endpoints, and a test or fuzz target may stand its own in front of them
// (Machine::wrapEndpoints).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <vector>

namespace zevsim {

// The outcome of one device request. delivered false: the call fails with
// error and the caller's buffer is left untouched. delivered true: the call
// succeeds; reply holds the output bytes to copy back (at most the caller's
// output size), bytesReturned what the call reports.
struct IoReply {
  bool delivered = true;
  std::uint32_t error = 0;
  std::vector<std::uint8_t> reply;
  std::uint32_t bytesReturned = 0;
};

class Endpoint {
 public:
  virtual ~Endpoint() = default;
  // in: the request's input bytes; outSize: the caller's output length.
  virtual IoReply request(std::uint32_t controlCode, std::span<const std::uint8_t> in,
                          std::uint32_t outSize) = 0;
};

// Takes the endpoint an open created and returns the one that answers the
// handle's requests in its place (which may pass them on to it).
using EndpointWrapper = std::function<std::unique_ptr<Endpoint>(std::unique_ptr<Endpoint>)>;

}  // namespace zevsim
