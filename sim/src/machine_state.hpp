// The state behind zevsim::Machine: the machine description it was built
// from, the drives and the Intel controller model, the device tree, the
// namespace of openable paths, the open device-information sets and device
// handles, the last-error value, the call records and the injected call
// faults. machine.cpp, machine_setupapi.cpp and machine_device_io.cpp work on
// it; tests may read it through Machine::state().
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "device_tree.hpp"
#include "endpoint.hpp"
#include "nvme_drive.hpp"
#include "zevsim/machine.hpp"

namespace zevsim {

// Win32 error values of the simulated platform.
inline constexpr std::uint32_t kErrorSuccess = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;
inline constexpr std::uint32_t kErrorAccessDenied = 5;
inline constexpr std::uint32_t kErrorInvalidHandle = 6;
inline constexpr std::uint32_t kErrorInvalidData = 13;
inline constexpr std::uint32_t kErrorInvalidParameter = 87;
inline constexpr std::uint32_t kErrorInsufficientBuffer = 122;
inline constexpr std::uint32_t kErrorNoMoreItems = 259;
inline constexpr std::uint32_t kErrorNoAccess = 998;
inline constexpr std::uint32_t kErrorNotFound = 1168;
inline constexpr std::uint32_t kErrorLogFileFull = 1502;
inline constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;
inline constexpr std::uint32_t kErrorInvalidRegProperty = 0xE0000209;

// SetupDiGetClassDevsW flags.
inline constexpr std::uint32_t kDigcfPresent = 0x02;
inline constexpr std::uint32_t kDigcfAllClasses = 0x04;
inline constexpr std::uint32_t kDigcfDeviceInterface = 0x10;

// cbSize values of the x64 SetupAPI records.
inline constexpr std::uint32_t kSpDevInfoDataSize = 32;
inline constexpr std::uint32_t kSpDeviceInterfaceDataSize = 32;
inline constexpr std::uint32_t kSpDeviceInterfaceDetailDataSize = 8;
// SP_DEVICE_INTERFACE_DETAIL_DATA_W:
//   offset 0, 4 bytes: cbSize
//   offset 4, n wchar_t: DevicePath, NUL-terminated
inline constexpr std::uint32_t kDetailCbSizeOffset = 0;
inline constexpr std::uint32_t kDetailPathOffset = 4;
// SP_DEVICE_INTERFACE_DATA.Flags of an interface that is enabled.
inline constexpr std::uint32_t kSpintActive = 0x1;

inline constexpr std::uint32_t kDevPropTypeEmpty = 0x0;
inline constexpr std::uint32_t kDevPropTypeString = 0x12;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kSpdrpHardwareId = 0x1;
inline constexpr std::uint32_t kSpdrpMaximumProperty = 0x25;

// The most input bytes a call record keeps.
inline constexpr std::size_t kRecordedInputBytes = 256;

// One device-information set: the tree's devices it lists, in set order.
// Its elements (SP_DEVINFO_DATA and SP_DEVICE_INTERFACE_DATA) carry, in
// Reserved, an identifier that only this set knows, so a record of another
// set is refused as it is by SetupAPI.
struct DeviceSetState {
  std::vector<std::size_t> devices;
  std::uintptr_t elementBase = 0;
  // Interface enumeration without a device filter: per interface class, the
  // set positions of its devices in set order (member i is positions[i]);
  // and per set position, the device's member index within its class.
  std::vector<std::pair<Guid, std::vector<std::size_t>>> interfaceMembers;
  std::vector<std::uint32_t> interfaceMemberIndex;
};
// Element identifiers: elementBase + kDeviceElement + position, or
// elementBase + kInterfaceElement + position.
inline constexpr std::uintptr_t kDeviceElement = 0x1;
inline constexpr std::uintptr_t kInterfaceElement = 0x8001;
inline constexpr std::uintptr_t kElementSpan = 0x10000;

// What a path of the namespace opens.
struct PathTarget {
  enum class Kind { InboxDisk, IntelControllerPort, ScsiPort, InvalidFunction };
  std::wstring path;
  Kind kind = Kind::InvalidFunction;
  NvmeDrive* drive = nullptr;          // a disk path of this drive: its `open` requests
  FaultCounter* attachment = nullptr;  // and the attachment's own count of them
  std::uint32_t number = 0;            // InboxDisk: the disk number; ScsiPort: the port
};

struct OpenHandle {
  std::wstring path;  // as the caller gave it
  std::unique_ptr<Endpoint> endpoint;
  std::uint32_t access = 0;  // CreateFileW's dwDesiredAccess
};

struct InjectedCallFault {
  CallFault fault;
  std::uint32_t matched = 0;  // matching calls since the injection
};

// What one call offers to the filters of the injected call faults.
struct CallSubject {
  CallSubject(CallKind callKind) : kind(callKind) {}  // NOLINT: converts from the kind alone
  CallKind kind;
  const std::wstring* path = nullptr;
  std::optional<std::uint32_t> controlCode;
  const PropertyKey* propertyKey = nullptr;
  std::optional<std::uint32_t> deviceIndex;
};

class MachineState {
 public:
  MachineState(const MachineConfig& machineConfig, std::vector<std::uint8_t> image);

  MachineConfig config;
  std::vector<std::uint8_t> packageImage;
  std::vector<std::unique_ptr<NvmeDrive>> drives;  // in config.drives order
  std::optional<IntelControllerModel> intel;
  std::vector<FaultCounter> inboxAttachments;  // in config.inbox order
  std::vector<DeviceNode> devices;
  std::vector<PathTarget> paths;
  // Lookups of large machines in constant time: drives by id, and paths by
  // their ASCII upper-case form (the first of paths that fold alike).
  std::unordered_map<std::string, NvmeDrive*> driveIndex;
  std::unordered_map<std::wstring, std::size_t> pathIndex;

  std::map<SimHandle, DeviceSetState> sets;
  std::map<SimHandle, OpenHandle> handles;

  std::uint32_t lastError = 0;
  bool moduleHandleFails = false;
  bool runGuardAcquired = false;  // by the caller, through acquireRunGuard()
  bool recording = true;
  // A release call (CloseHandle, SetupDiDestroyDeviceInfoList) ran out of
  // memory: it released, but its record is missing.
  bool outOfMemory = false;
  std::vector<CallRecord> calls;
  std::vector<MessageBoxRecord> boxes;
  std::vector<EventRecord> events;
  std::optional<LocalTime> clock;
  std::vector<InjectedCallFault> callFaults;
  // When set, every endpoint an open creates passes through it
  // (Machine::wrapEndpoints).
  EndpointWrapper wrapEndpoint;

  NvmeDrive* findDrive(const std::string& id) const;
  const PathTarget* findPath(std::wstring_view path) const;
  // A handle value never given out before, for sets and device handles alike.
  SimHandle newHandle();
  std::uintptr_t newElementBase();

  // Counts the call against every injected fault whose filters it matches
  // and returns the error of the first one that fails it.
  std::optional<std::uint32_t> injectedFailure(const CallSubject& subject);

  // Ends a call: sets the last error (unless keepLastError), completes the
  // record and keeps it when recording.
  bool fail(CallRecord& record, std::uint32_t error);
  bool succeed(CallRecord& record, bool keepLastError = false);

 private:
  SimHandle nextHandle_ = 0x100;
  std::uintptr_t nextElementBase_ = kElementSpan;
};

}  // namespace zevsim
