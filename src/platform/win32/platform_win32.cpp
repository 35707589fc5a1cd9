// The Win32 backend of the platform boundary: SetupAPI for device sets and
// properties, CreateFileW/DeviceIoControl/CloseHandle for device requests,
// MessageBoxW, the event log (the source's registry key, ReportEventW), the
// local clock, the host's files (host_files_win32.cpp) for the installation
// log and the results file, and the C runtime's standard output in binary
// mode.
//
// This folder is the only place that includes <windows.h>. Each function
// copies the boundary's records into the SDK's, makes exactly one Win32 call
// and copies the results back; nothing that could touch the thread's last
// error runs between that call and the caller's getLastError(). The event log
// entry is the one call of several steps (the registry key, the source
// handle, the report): it keeps the report's last error.

// The SDK headers depend on this order.
#include <windows.h>

#include <setupapi.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "platform/host_files.hpp"
#include "platform/platform.hpp"

namespace zev::platform {
namespace {

GUID toSdk(const Guid& g) {
  GUID s{};
  s.Data1 = g.data1;
  s.Data2 = g.data2;
  s.Data3 = g.data3;
  std::copy(g.data4.begin(), g.data4.end(), s.Data4);
  return s;
}

Guid fromSdk(const GUID& s) {
  Guid g;
  g.data1 = s.Data1;
  g.data2 = s.Data2;
  g.data3 = s.Data3;
  std::copy(std::begin(s.Data4), std::end(s.Data4), g.data4.begin());
  return g;
}

SP_DEVINFO_DATA toSdk(const DeviceInfoData& d) {
  SP_DEVINFO_DATA s{};
  s.cbSize = d.cbSize;
  s.ClassGuid = toSdk(d.classGuid);
  s.DevInst = d.devInst;
  s.Reserved = d.reserved;
  return s;
}

void copyBack(const SP_DEVINFO_DATA& s, DeviceInfoData& d) {
  d.cbSize = s.cbSize;
  d.classGuid = fromSdk(s.ClassGuid);
  d.devInst = s.DevInst;
  d.reserved = s.Reserved;
}

SP_DEVICE_INTERFACE_DATA toSdk(const DeviceInterfaceData& d) {
  SP_DEVICE_INTERFACE_DATA s{};
  s.cbSize = d.cbSize;
  s.InterfaceClassGuid = toSdk(d.interfaceClassGuid);
  s.Flags = d.flags;
  s.Reserved = d.reserved;
  return s;
}

void copyBack(const SP_DEVICE_INTERFACE_DATA& s, DeviceInterfaceData& d) {
  d.cbSize = s.cbSize;
  d.interfaceClassGuid = fromSdk(s.InterfaceClassGuid);
  d.flags = s.Flags;
  d.reserved = s.Reserved;
}

// Handle and DeviceSet are both the integer form of a pointer-sized handle
// (HANDLE, HDEVINFO), with -1 as INVALID_HANDLE_VALUE.
static_assert(sizeof(Handle) == sizeof(HANDLE) && sizeof(DeviceSet) == sizeof(HDEVINFO));
HANDLE toSdk(std::intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// Copies a DWORD result into an optional caller's 32-bit field (DWORD is
// unsigned long, a distinct type from std::uint32_t).
void store(std::uint32_t* target, DWORD value) {
  if (target != nullptr) {
    *target = static_cast<std::uint32_t>(value);
  }
}

// Standard output of a windowed program exists only when the caller connected
// one (a pipe, a file or an inherited console). The C runtime opens its
// descriptor 1 under the same condition; a descriptor it did not open must not
// be touched, as its validation would end the process. When connected, the
// descriptor is switched to binary mode once, so "\n" stays one byte.
std::FILE* standardOutput() {
  static std::FILE* const stream = []() -> std::FILE* {
    const HANDLE handle = GetStdHandle(STD_OUTPUT_HANDLE);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE ||
        GetFileType(handle) == FILE_TYPE_UNKNOWN) {
      return nullptr;
    }
    const int descriptor = _fileno(stdout);
    if (descriptor < 0) {
      return nullptr;
    }
    std::fflush(stdout);
    _setmode(descriptor, _O_BINARY);
    return stdout;
  }();
  return stream;
}

}  // namespace

// --- Device-information sets (SetupAPI) ---

DeviceSet getClassDevs(const Guid& classGuid, std::uint32_t flags) {
  const GUID guid = toSdk(classGuid);
  const HDEVINFO set = SetupDiGetClassDevsW(&guid, nullptr, nullptr, flags);
  return reinterpret_cast<DeviceSet>(set);
}

bool enumDeviceInfo(DeviceSet set, std::uint32_t memberIndex, DeviceInfoData& deviceInfo) {
  SP_DEVINFO_DATA data = toSdk(deviceInfo);
  const BOOL ok = SetupDiEnumDeviceInfo(toSdk(set), memberIndex, &data);
  copyBack(data, deviceInfo);
  return ok != FALSE;
}

bool enumDeviceInterfaces(DeviceSet set, const DeviceInfoData* deviceInfo,
                          const Guid& interfaceClass, std::uint32_t memberIndex,
                          DeviceInterfaceData& interfaceData) {
  SP_DEVINFO_DATA filter{};
  if (deviceInfo != nullptr) {
    filter = toSdk(*deviceInfo);
  }
  const GUID guid = toSdk(interfaceClass);
  SP_DEVICE_INTERFACE_DATA data = toSdk(interfaceData);
  const BOOL ok = SetupDiEnumDeviceInterfaces(toSdk(set), deviceInfo != nullptr ? &filter : nullptr,
                                              &guid, memberIndex, &data);
  copyBack(data, interfaceData);
  return ok != FALSE;
}

bool getDeviceInterfaceDetail(DeviceSet set, const DeviceInterfaceData& interfaceData,
                              std::uint8_t* detail, std::uint32_t detailSize,
                              std::uint32_t* requiredSize, DeviceInfoData* deviceInfo) {
  SP_DEVICE_INTERFACE_DATA data = toSdk(interfaceData);
  SP_DEVINFO_DATA info{};
  if (deviceInfo != nullptr) {
    info = toSdk(*deviceInfo);
  }
  DWORD required = 0;
  // The detail buffer is SP_DEVICE_INTERFACE_DETAIL_DATA_W as bytes: cbSize,
  // then the device path; SetupAPI writes it in place.
  const BOOL ok = SetupDiGetDeviceInterfaceDetailW(
      toSdk(set), &data, reinterpret_cast<PSP_DEVICE_INTERFACE_DETAIL_DATA_W>(detail), detailSize,
      requiredSize != nullptr ? &required : nullptr, deviceInfo != nullptr ? &info : nullptr);
  store(requiredSize, required);
  if (deviceInfo != nullptr) {
    copyBack(info, *deviceInfo);
  }
  return ok != FALSE;
}

bool getDeviceProperty(DeviceSet set, const DeviceInfoData& deviceInfo, const PropertyKey& key,
                       std::uint32_t* propertyType, std::uint8_t* buffer, std::uint32_t bufferSize,
                       std::uint32_t* requiredSize) {
  SP_DEVINFO_DATA info = toSdk(deviceInfo);
  DEVPROPKEY sdkKey{};
  sdkKey.fmtid = toSdk(key.fmtid);
  sdkKey.pid = key.pid;
  // The property type is a required output of SetupDiGetDevicePropertyW.
  DEVPROPTYPE type = 0;
  DWORD required = 0;
  const BOOL ok = SetupDiGetDevicePropertyW(toSdk(set), &info, &sdkKey, &type, buffer, bufferSize,
                                            requiredSize != nullptr ? &required : nullptr, 0);
  store(propertyType, type);
  store(requiredSize, required);
  return ok != FALSE;
}

bool getDeviceRegistryProperty(DeviceSet set, const DeviceInfoData& deviceInfo,
                               std::uint32_t property, std::uint32_t* dataType,
                               std::uint8_t* buffer, std::uint32_t bufferSize,
                               std::uint32_t* requiredSize) {
  SP_DEVINFO_DATA info = toSdk(deviceInfo);
  DWORD type = 0;
  DWORD required = 0;
  const BOOL ok = SetupDiGetDeviceRegistryPropertyW(
      toSdk(set), &info, property, dataType != nullptr ? &type : nullptr, buffer, bufferSize,
      requiredSize != nullptr ? &required : nullptr);
  store(dataType, type);
  store(requiredSize, required);
  return ok != FALSE;
}

bool destroyDeviceInfoList(DeviceSet set) {
  return SetupDiDestroyDeviceInfoList(toSdk(set)) != FALSE;
}

// --- Device I/O ---

Handle createFile(const wchar_t* path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                  std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
  const HANDLE handle = CreateFileW(path, desiredAccess, shareMode, nullptr, creationDisposition,
                                    flagsAndAttributes, nullptr);
  return reinterpret_cast<Handle>(handle);
}

bool deviceIoControl(Handle handle, std::uint32_t controlCode, void* inBuffer,
                     std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                     std::uint32_t* bytesReturned) {
  // Without an OVERLAPPED record the byte count is a required output.
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(toSdk(handle), controlCode, inBuffer, inBufferSize, outBuffer,
                                  outBufferSize, &returned, nullptr);
  store(bytesReturned, returned);
  return ok != FALSE;
}

bool closeHandle(Handle handle) {
  return CloseHandle(toSdk(handle)) != FALSE;
}

std::uint32_t getLastError() {
  return static_cast<std::uint32_t>(GetLastError());
}

// --- Process ---

bool getModuleHandle() {
  return GetModuleHandleW(nullptr) != nullptr;
}

void showMessageBox(const std::wstring& text, const std::wstring& caption) {
  // No owner window, one OK button, no icon. Both texts are C strings to the
  // call: a zero character ends them.
  MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
}

LocalTime localTime() {
  // The system clock converted by the system's own time-zone rules, to the
  // second.
  SYSTEMTIME now{};
  GetLocalTime(&now);
  LocalTime t;
  t.year = now.wYear;
  t.month = now.wMonth;
  t.day = now.wDay;
  t.hour = now.wHour;
  t.minute = now.wMinute;
  t.second = now.wSecond;
  // Bias is UTC minus local time in minutes, with the daylight bias added
  // while daylight time is in force.
  TIME_ZONE_INFORMATION zone{};
  const DWORD mode = GetTimeZoneInformation(&zone);
  LONG bias = zone.Bias;
  if (mode == TIME_ZONE_ID_DAYLIGHT) {
    bias += zone.DaylightBias;
  } else if (mode == TIME_ZONE_ID_STANDARD) {
    bias += zone.StandardBias;
  }
  t.utcOffsetMinutes = mode == TIME_ZONE_ID_INVALID ? 0 : static_cast<int>(-bias);
  return t;
}

std::wstring computerName() {
  wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
  DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
  if (!GetComputerNameW(name, &size)) {
    return {};
  }
  return std::wstring(name, size);
}

namespace {
// The run guard: one named mutex for every session of the machine.
constexpr const wchar_t* kRunGuardName = L"Global\\ZEV_TQ270c_FirmwareUpdate";
HANDLE runGuard = nullptr;
}  // namespace

bool acquireRunGuard() {
  if (runGuard != nullptr) {
    return true;
  }
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kRunGuardName);
  if (mutex == nullptr) {
    // The name exists as another object, or it cannot be opened: another
    // run cannot be ruled out.
    return false;
  }
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    // Another run created it and holds it until it ends.
    CloseHandle(mutex);
    return false;
  }
  runGuard = mutex;
  return true;
}

void releaseRunGuard() {
  if (runGuard != nullptr) {
    ReleaseMutex(runGuard);
    CloseHandle(runGuard);
    runGuard = nullptr;
  }
}

namespace {

// The EventLog service finds an Application log source's message file here.
constexpr std::wstring_view kApplicationSourcesKey =
    L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\";
// The message file the eventcreate command registers its sources with: its
// messages 1 to 1000 are "%1", the entry's first string itself, so that Event
// Viewer shows the text in full without the package's own file, which is
// usually deleted with the deployment cache after the run.
constexpr wchar_t kEventMessageFile[] = L"%SystemRoot%\\System32\\EventCreate.exe";
// EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE | EVENTLOG_INFORMATION_TYPE.
constexpr DWORD kTypesSupported = 7;

// True when the source's key already names kEventMessageFile (letter case
// aside, as paths go on Windows).
bool namesEventMessageFile(HKEY key) {
  wchar_t value[MAX_PATH + 1] = {};
  DWORD type = 0;
  // One character short of the buffer: the value need not end with a zero.
  DWORD size = MAX_PATH * sizeof(wchar_t);
  if (RegQueryValueExW(key, L"EventMessageFile", nullptr, &type, reinterpret_cast<BYTE*>(value),
                       &size) != ERROR_SUCCESS ||
      type != REG_EXPAND_SZ) {
    return false;
  }
  std::wstring_view text(value, size / sizeof(wchar_t));
  while (!text.empty() && text.back() == L'\0') {
    text.remove_suffix(1);
  }
  return CompareStringOrdinal(text.data(), static_cast<int>(text.size()), kEventMessageFile, -1,
                              TRUE) == CSTR_EQUAL;
}

// Registers source in the Application log the first time, and again where
// its key names another message file; what fails here only leaves the entry
// without its text in Event Viewer.
void registerEventSource(const std::wstring& source) {
  const std::wstring path = std::wstring(kApplicationSourcesKey) + source;
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS) {
    return;
  }
  if (!namesEventMessageFile(key)) {
    // The size of a REG_EXPAND_SZ value counts its terminating zero.
    RegSetValueExW(key, L"EventMessageFile", 0, REG_EXPAND_SZ,
                   reinterpret_cast<const BYTE*>(kEventMessageFile), sizeof kEventMessageFile);
    const DWORD types = kTypesSupported;
    RegSetValueExW(key, L"TypesSupported", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&types),
                   sizeof types);
  }
  RegCloseKey(key);
}

}  // namespace

bool writeEventLogEntry(const std::wstring& source, EventType type, std::uint32_t id,
                        const std::wstring& text) {
  registerEventSource(source);
  const HANDLE log = RegisterEventSourceW(nullptr, source.c_str());
  if (log == nullptr) {
    return false;
  }
  LPCWSTR strings[] = {text.c_str()};
  const BOOL ok = ReportEventW(log, static_cast<WORD>(type), 0, static_cast<DWORD>(id), nullptr, 1,
                               0, strings, nullptr);
  // A failed report's last error outlives the deregistration.
  const DWORD error = GetLastError();
  DeregisterEventSource(log);
  SetLastError(error);
  return ok != FALSE;
}

// --- Files and standard output ---

// The files are the host's (host_files_win32.cpp); every temporary file gets
// a fresh random name.

FileCheck openFileForWriting(const std::wstring& path) {
  return host::checkFileForWriting(path);
}

std::optional<FileIdentity> fileIdentity(const std::wstring& path) {
  return host::fileIdentity(path);
}

bool writeFileSafely(const std::wstring& path, std::string_view bytes) {
  return host::writeFileSafely(path, bytes, host::temporaryNameBeside);
}

void discardFile(const std::wstring& path) {
  host::discardFile(path);
}

void writeStandardOutput(std::string_view bytes) {
  if (std::FILE* out = standardOutput(); out != nullptr && !bytes.empty()) {
    std::fwrite(bytes.data(), 1, bytes.size(), out);
  }
}

void flushStandardOutput() {
  if (std::FILE* out = standardOutput(); out != nullptr) {
    std::fflush(out);
  }
}

}  // namespace zev::platform
