// The simulated machine: a device tree that answers the SetupAPI calls, the
// path namespace that CreateFileW opens, the drivers behind those paths and
// the NVMe drives they reach. Its methods follow the Win32 conventions: a
// failing call returns false (or kInvalid...) and sets lastError(); a
// successful createFile sets the last error to 0, a successful
// deviceIoControl leaves it unchanged, and a request that is not delivered
// leaves the caller's buffer untouched.
//
// Every call is recorded (calls()) so that tests can assert what was sent, and
// any call can be made to fail through injectCallFault().
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "zevsim/device_endpoint.hpp"
#include "zevsim/machine_config.hpp"

namespace zevsim {

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
  friend bool operator==(const Guid&, const Guid&) = default;
};

struct PropertyKey {
  Guid fmtid;
  std::uint32_t pid = 0;
  friend bool operator==(const PropertyKey&, const PropertyKey&) = default;
};

struct DeviceInfoData {
  std::uint32_t cbSize = 0;
  Guid classGuid;
  std::uint32_t devInst = 0;
  std::uintptr_t reserved = 0;
};

struct DeviceInterfaceData {
  std::uint32_t cbSize = 0;
  Guid interfaceClassGuid;
  std::uint32_t flags = 0;
  std::uintptr_t reserved = 0;
};

struct LocalTime {
  int year = 1970, month = 1, day = 1, hour = 0, minute = 0, second = 0;
  // Local time minus UTC; a fixed clock is at +00:00.
  int utcOffsetMinutes = 0;
};

using SimHandle = std::intptr_t;
inline constexpr SimHandle kInvalidSimHandle = -1;

// The kinds of platform call, for the call record and for injected faults.
enum class CallKind {
  GetClassDevs,
  EnumDeviceInfo,
  EnumDeviceInterfaces,
  GetInterfaceDetail,
  GetDeviceProperty,
  GetRegistryProperty,
  DestroyDeviceInfoList,
  CreateFile,
  DeviceIoControl,
  CloseHandle,
  MessageBox,
  ReportEvent,
};

struct CallRecord {
  CallKind kind = CallKind::CreateFile;
  bool succeeded = false;
  std::uint32_t error = 0;  // last error after a failed call
  std::wstring path;        // CreateFile: the path; others: the handle's path
  std::uint32_t access = 0, shareMode = 0, disposition = 0, flags = 0;
  std::uint32_t controlCode = 0;
  std::uint32_t inSize = 0, outSize = 0;
  std::vector<std::uint8_t> inputHead;  // first bytes of a request's input (at most 256)
  std::uint32_t setFlags = 0;           // GetClassDevs
  std::uint32_t index = 0;              // Enum*: member index
  std::optional<PropertyKey> propertyKey;
  std::uint32_t registryProperty = 0;
};

// A failure injected at the C++ level: the nth call (1-based, counted from
// the injection) of kind that matches the filters fails with error. With
// nth absent every matching call fails.
struct CallFault {
  CallKind kind = CallKind::CreateFile;
  std::optional<std::uint32_t> nth;
  // The error the call fails with. 0 on GetInterfaceDetail: the call succeeds
  // instead, a sizing call without a buffer too (it reports the size).
  std::uint32_t error = 1117;
  std::optional<std::wstring> path;          // CreateFile / DeviceIoControl: handle's path
  std::optional<std::uint32_t> controlCode;  // DeviceIoControl
  std::optional<PropertyKey> propertyKey;    // GetDeviceProperty
  std::optional<std::uint32_t> deviceIndex;  // Enum*, properties: member index / device index
};

struct MessageBoxRecord {
  std::wstring caption;
  std::wstring text;
};

// One event log entry with one string, as ReportEventW writes it.
struct EventRecord {
  std::wstring source;
  std::uint16_t type = 0;  // wType: EVENTLOG_ERROR_TYPE (1), _WARNING_TYPE (2), ...
  std::uint32_t id = 0;
  std::wstring text;
};

struct SlotReport {
  std::uint32_t slot = 0;
  bool readOnly = false;
  std::string firmware;  // 8 bytes
};

struct DriveReport {
  std::string id;
  std::array<std::uint32_t, kFaultRequestKinds> requests{};  // indexed by FaultRequest
  std::uint64_t downloadedBytes = 0;
  bool stagedImageMatchesPackage = false;
  std::vector<SlotReport> slots;
  std::string runningFirmware;
  std::string firmwareAfterReset;
};

class MachineState;  // the device tree, drives and drivers

class Machine {
 public:
  // packageImage: the image the package carries, for stagedImageMatchesPackage.
  Machine(const MachineConfig& config, std::vector<std::uint8_t> packageImage);
  ~Machine();
  Machine(const Machine&) = delete;
  Machine& operator=(const Machine&) = delete;

  // --- SetupAPI ---
  SimHandle getClassDevs(const Guid* classGuid, std::uint32_t flags);
  bool enumDeviceInfo(SimHandle set, std::uint32_t memberIndex, DeviceInfoData& out);
  bool enumDeviceInterfaces(SimHandle set, const DeviceInfoData* deviceInfo, const Guid& guid,
                            std::uint32_t memberIndex, DeviceInterfaceData& out);
  // detail: cbSize (must be 8) in its first 4 bytes, the wchar_t path from byte 4.
  bool getDeviceInterfaceDetail(SimHandle set, const DeviceInterfaceData& interfaceData,
                                std::uint8_t* detail, std::uint32_t detailSize,
                                std::uint32_t* requiredSize, DeviceInfoData* deviceInfo);
  // String properties come back as NUL-terminated wchar_t (DEVPROP_TYPE_STRING, 0x12).
  bool getDeviceProperty(SimHandle set, const DeviceInfoData& deviceInfo, const PropertyKey& key,
                         std::uint32_t* propertyType, std::uint8_t* buffer,
                         std::uint32_t bufferSize, std::uint32_t* requiredSize);
  // SPDRP_HARDWAREID (1): REG_MULTI_SZ (7) of wchar_t.
  bool getDeviceRegistryProperty(SimHandle set, const DeviceInfoData& deviceInfo,
                                 std::uint32_t property, std::uint32_t* dataType,
                                 std::uint8_t* buffer, std::uint32_t bufferSize,
                                 std::uint32_t* requiredSize);
  bool destroyDeviceInfoList(SimHandle set);

  // --- Device I/O ---
  SimHandle createFile(const wchar_t* path, std::uint32_t access, std::uint32_t shareMode,
                       std::uint32_t disposition, std::uint32_t flags);
  bool deviceIoControl(SimHandle handle, std::uint32_t controlCode, const void* inBuffer,
                       std::uint32_t inSize, void* outBuffer, std::uint32_t outSize,
                       std::uint32_t* bytesReturned);
  bool closeHandle(SimHandle handle);
  std::uint32_t lastError() const;
  void setLastError(std::uint32_t error);

  // --- Process ---
  bool moduleHandleAvailable() const;
  // The computer's name, as the machine description gives it.
  const std::string& computerName() const;
  // The system-wide run guard that keeps two runs of the package apart:
  // false when the description says another run holds it (runGuardHeld) or
  // when it was acquired and not released since; true when this call takes it.
  bool acquireRunGuard();
  // Releases the guard this machine's caller holds; nothing when it holds none.
  void releaseRunGuard();
  void messageBox(const std::wstring& text, const std::wstring& caption);
  // Writes an entry with one string to the Application log from source (the
  // source's registration is the platform's business and not modelled). Both
  // texts are C strings to the call: they end at their first NUL. Fails with
  // ERROR_LOG_FILE_FULL (1502) when the machine says so (eventLogFails) and
  // with ERROR_INVALID_PARAMETER (87) for a text longer than 31,839 UTF-16
  // units, the limit of one string; a failed entry is not kept.
  bool reportEvent(const std::wstring& source, std::uint16_t type, std::uint32_t id,
                   const std::wstring& text);
  LocalTime localTime() const;
  void setClock(const LocalTime& fixed);

  // --- Observation and faults ---
  const std::vector<CallRecord>& calls() const;
  const std::vector<MessageBoxRecord>& messageBoxes() const;
  // The event log entries written, in order.
  const std::vector<EventRecord>& events() const;
  // Device handles and device-information sets opened and never released.
  std::uint32_t handlesLeftOpen() const;
  // A release call (CloseHandle, SetupDiDestroyDeviceInfoList) could not be
  // recorded for want of memory. Those calls never throw, since the package
  // makes them from destructors; every other call lets std::bad_alloc pass.
  bool ranOutOfMemory() const;
  std::vector<DriveReport> driveReports() const;
  void injectCallFault(const CallFault& fault);
  // Keeps no call records (for large rehearsals).
  void setRecording(bool on);
  // Every endpoint an open creates from now on passes through wrap (an empty
  // one: none does), so that a test or fuzz target can stand its own driver
  // behaviour in front of the real one.
  void wrapEndpoints(EndpointWrapper wrap);

  // The private state, for the simulator's own tests; zevsim/machine_view.hpp
  // is the view for everything else.
  MachineState& state();
  const MachineState& state() const;

 private:
  std::unique_ptr<MachineState> state_;
};

// Names of the report's request kinds, indexed by FaultRequest.
const char* faultRequestName(FaultRequest kind);

}  // namespace zevsim
