// The one choke point for device requests and device opens. Every
// DeviceIoControl of the package goes through sendDeviceRequest, which reads
// the last error right after the call, before anything else can change it.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "platform/platform.hpp"

namespace zev {

struct RequestOutcome {
  bool delivered = false;       // the platform call returned nonzero
  std::uint32_t lastError = 0;  // GetLastError right after the call (stale on success)
};

// Sends one request whose buffer serves as input (inSize bytes) and output
// (outSize bytes). Both sizes must lie within buffer.
RequestOutcome sendDeviceRequest(platform::Handle handle, std::uint32_t controlCode,
                                 std::span<std::uint8_t> buffer, std::uint32_t inSize,
                                 std::uint32_t outSize);
// The same with the whole buffer as input and output.
inline RequestOutcome sendDeviceRequest(platform::Handle handle, std::uint32_t controlCode,
                                        std::span<std::uint8_t> buffer) {
  const auto size = static_cast<std::uint32_t>(buffer.size());
  return sendDeviceRequest(handle, controlCode, buffer, size, size);
}

// Owns an open device handle and closes it when it goes out of scope.
class DeviceHandle {
 public:
  DeviceHandle() = default;
  explicit DeviceHandle(platform::Handle handle) : handle_(handle) {}
  ~DeviceHandle() { reset(); }
  DeviceHandle(DeviceHandle&& other) noexcept : handle_(other.release()) {}
  DeviceHandle& operator=(DeviceHandle&& other) noexcept {
    if (this != &other) {
      reset();
      handle_ = other.release();
    }
    return *this;
  }
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;
  platform::Handle get() const { return handle_; }
  bool valid() const { return handle_ != platform::kInvalidHandle; }
  void reset() {
    if (handle_ != platform::kInvalidHandle) {
      platform::closeHandle(handle_);
      handle_ = platform::kInvalidHandle;
    }
  }

 private:
  platform::Handle release() {
    const platform::Handle handle = handle_;
    handle_ = platform::kInvalidHandle;
    return handle;
  }
  platform::Handle handle_ = platform::kInvalidHandle;
};

struct OpenOutcome {
  DeviceHandle handle;          // closed when the outcome goes out of scope
  std::uint32_t lastError = 0;  // GetLastError right after a failed open
  bool ok() const { return handle.valid(); }
};

// CreateFileW(path, GENERIC_READ | GENERIC_WRITE, shareMode, no security
// attributes, OPEN_EXISTING, flags, no template).
OpenOutcome openDevice(const std::wstring& path, std::uint32_t shareMode, std::uint32_t flags);

// Destroys a device-information set when it is valid, whichever way its
// enumeration ends.
class DeviceSetGuard {
 public:
  explicit DeviceSetGuard(platform::DeviceSet set) : set_(set) {}
  ~DeviceSetGuard() {
    if (set_ != platform::kInvalidDeviceSet) {
      platform::destroyDeviceInfoList(set_);
    }
  }
  DeviceSetGuard(const DeviceSetGuard&) = delete;
  DeviceSetGuard& operator=(const DeviceSetGuard&) = delete;
  platform::DeviceSet get() const { return set_; }
  bool valid() const { return set_ != platform::kInvalidDeviceSet; }

 private:
  platform::DeviceSet set_;
};

}  // namespace zev
