// The device I/O calls of the simulated machine: CreateFileW over the path
// namespace (interface paths, \\.\PHYSICALDRIVEn, \\.\ScsiN:), the handle
// table with one driver endpoint per open handle, DeviceIoControl and
// CloseHandle. Opens count against the drive or controller they reach, so
// that `open` and `scsiPortOpen` faults of the machine description apply.
#include <algorithm>
#include <cstring>
#include <new>

#include "machine_state.hpp"
#include "windows_values.hpp"
#include "zevsim/machine.hpp"

namespace zevsim {
namespace {

// The error of an `open`-kind fault that applies to this open, if any. A
// fault of such a kind can only carry an error.
std::optional<std::uint32_t> openFault(const Fault* fault) {
  if (fault != nullptr && fault->error) {
    return fault->error;
  }
  return std::nullopt;
}

// The I/O manager's check of a device request against the handle: the
// access bits of the control code (bits 15:14, FILE_READ_ACCESS and
// FILE_WRITE_ACCESS) must be granted by the access the handle was opened
// with, read through the file generic mapping. MAXIMUM_ALLOWED grants
// everything, as it does to the administrator the package runs as.
bool accessGranted(std::uint32_t handleAccess, std::uint32_t controlCode) {
  const std::uint32_t needed = win::requiredAccess(controlCode);
  const bool all = (handleAccess & (win::kGenericAll | win::kMaximumAllowed)) != 0;
  const bool read = all || (handleAccess & (win::kGenericRead | win::kFileReadData)) != 0;
  const bool write = all || (handleAccess & (win::kGenericWrite | win::kFileWriteData)) != 0;
  return ((needed & win::kFileReadAccess) == 0 || read) &&
         ((needed & win::kFileWriteAccess) == 0 || write);
}

}  // namespace

SimHandle Machine::createFile(const wchar_t* path, std::uint32_t access, std::uint32_t shareMode,
                              std::uint32_t disposition, std::uint32_t flags) {
  MachineState& s = *state_;
  CallRecord record;
  record.kind = CallKind::CreateFile;
  record.access = access;
  record.shareMode = shareMode;
  record.disposition = disposition;
  record.flags = flags;
  if (path == nullptr) {
    s.fail(record, kErrorInvalidParameter);
    return kInvalidSimHandle;
  }
  record.path = path;
  CallSubject subject{CallKind::CreateFile};
  subject.path = &record.path;
  if (const auto error = s.injectedFailure(subject)) {
    s.fail(record, *error);
    return kInvalidSimHandle;
  }
  const PathTarget* target = s.findPath(record.path);
  if (target == nullptr) {
    s.fail(record, kErrorFileNotFound);
    return kInvalidSimHandle;
  }

  // Share modes are recorded only: storage device objects do not enforce
  // them.
  std::optional<std::uint32_t> faultError;
  switch (target->kind) {
    case PathTarget::Kind::InboxDisk:
    case PathTarget::Kind::InvalidFunction:
      if (target->drive != nullptr) {
        faultError = openFault(target->drive->countRequest(FaultRequest::Open, target->attachment));
      }
      break;
    case PathTarget::Kind::IntelControllerPort:
      faultError = openFault(s.intel->faults.count(FaultRequest::Open));
      break;
    case PathTarget::Kind::ScsiPort: {
      const IntelControllerConfig& intel = *s.intel->config;
      if (intel.driver == IntelDriver::Vroc && target->number == intel.vrocPort) {
        faultError = openFault(s.intel->faults.count(FaultRequest::ScsiPortOpen));
      }
      break;
    }
  }
  if (faultError) {
    s.fail(record, *faultError);
    return kInvalidSimHandle;
  }
  std::unique_ptr<Endpoint> endpoint;
  switch (target->kind) {
    case PathTarget::Kind::InboxDisk:
      endpoint = makeInboxDiskEndpoint(*target->drive, target->number, target->attachment);
      break;
    case PathTarget::Kind::IntelControllerPort:
      endpoint = makeIrstControllerEndpoint(*s.intel);
      break;
    case PathTarget::Kind::ScsiPort:
      endpoint = makeScsiPortEndpoint(s.intel ? &*s.intel : nullptr, target->number);
      break;
    case PathTarget::Kind::InvalidFunction:
      endpoint = makeInvalidFunctionEndpoint();
      break;
  }
  if (s.wrapEndpoint) {
    endpoint = s.wrapEndpoint(std::move(endpoint));
  }
  const SimHandle handle = s.newHandle();
  s.handles.emplace(handle, OpenHandle{record.path, std::move(endpoint), access});
  s.succeed(record);
  return handle;
}

bool Machine::deviceIoControl(SimHandle handle, std::uint32_t controlCode, const void* inBuffer,
                              std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                              std::uint32_t* bytesReturned) {
  MachineState& s = *state_;
  CallRecord record;
  record.kind = CallKind::DeviceIoControl;
  record.controlCode = controlCode;
  record.inSize = inSize;
  record.outSize = outSize;
  const auto it = s.handles.find(handle);
  if (it == s.handles.end()) {
    return s.fail(record, kErrorInvalidHandle);
  }
  record.path = it->second.path;
  // The access check comes before the buffers are looked at.
  if (!accessGranted(it->second.access, controlCode)) {
    return s.fail(record, kErrorAccessDenied);
  }
  // The I/O manager's probe of a missing buffer faults (ERROR_NOACCESS);
  // a synchronous DeviceIoControl without lpBytesReturned would write
  // through a null pointer, which the simulator reports the same way.
  if ((inBuffer == nullptr && inSize != 0) || (outBuffer == nullptr && outSize != 0) ||
      bytesReturned == nullptr) {
    return s.fail(record, kErrorNoAccess);
  }
  // Input first: the caller may pass one buffer as input and output.
  std::vector<std::uint8_t> input(inSize);
  if (inSize != 0) {
    std::memcpy(input.data(), inBuffer, inSize);
  }
  record.inputHead.assign(input.begin(),
                          input.begin() + static_cast<std::ptrdiff_t>(
                                              std::min<std::size_t>(inSize, kRecordedInputBytes)));
  CallSubject subject{CallKind::DeviceIoControl};
  subject.path = &record.path;
  subject.controlCode = controlCode;
  if (const auto error = s.injectedFailure(subject)) {
    return s.fail(record, *error);
  }

  const IoReply reply = it->second.endpoint->request(controlCode, input, outSize);
  if (!reply.delivered) {
    return s.fail(record, reply.error);
  }
  const std::size_t copied = std::min<std::size_t>(reply.reply.size(), outSize);
  if (copied != 0) {
    std::memcpy(outBuffer, reply.reply.data(), copied);
  }
  *bytesReturned = reply.bytesReturned;
  return s.succeed(record, /*keepLastError=*/true);
}

namespace {

bool closeRecorded(MachineState& s, SimHandle handle) {
  CallRecord record;
  record.kind = CallKind::CloseHandle;
  const auto it = s.handles.find(handle);
  if (it == s.handles.end()) {
    return s.fail(record, kErrorInvalidHandle);
  }
  record.path = it->second.path;
  CallSubject subject{CallKind::CloseHandle};
  subject.path = &record.path;
  if (const auto error = s.injectedFailure(subject)) {
    return s.fail(record, *error);
  }
  s.handles.erase(it);
  return s.succeed(record, /*keepLastError=*/true);
}

}  // namespace

// The package closes its handles from destructors, where an exception ends
// the process: a close that cannot be recorded for want of memory still
// closes, and the machine keeps that it ran out of memory.
bool Machine::closeHandle(SimHandle handle) {
  MachineState& s = *state_;
  try {
    return closeRecorded(s, handle);
  } catch (const std::bad_alloc&) {
    s.handles.erase(handle);
    s.outOfMemory = true;
    return true;
  }
}

}  // namespace zevsim
