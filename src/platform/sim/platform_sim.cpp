// The sim backend of the platform boundary: forwards every call to the bound
// simulated machine, translating the boundary's records to the simulator's
// own. Files (host_files_posix.cpp, or host_files_win32.cpp on a Windows
// host) and standard output are the host's.
#include <cstdio>

#include "platform/host_files.hpp"
#include "platform/platform.hpp"
#include "platform/sim/sim_binding.hpp"
#include "zevsim/machine.hpp"

namespace zev::platform {
namespace {

zevsim::Machine* machine = nullptr;
std::uint32_t unboundLastError = 0;

zevsim::Guid toSim(const Guid& g) {
  return {g.data1, g.data2, g.data3, g.data4};
}
Guid fromSim(const zevsim::Guid& g) {
  return {g.data1, g.data2, g.data3, g.data4};
}
zevsim::PropertyKey toSim(const PropertyKey& k) {
  return {toSim(k.fmtid), k.pid};
}

zevsim::DeviceInfoData toSim(const DeviceInfoData& d) {
  return {d.cbSize, toSim(d.classGuid), d.devInst, d.reserved};
}
void copyBack(const zevsim::DeviceInfoData& s, DeviceInfoData& d) {
  d.cbSize = s.cbSize;
  d.classGuid = fromSim(s.classGuid);
  d.devInst = s.devInst;
  d.reserved = s.reserved;
}
zevsim::DeviceInterfaceData toSim(const DeviceInterfaceData& d) {
  return {d.cbSize, toSim(d.interfaceClassGuid), d.flags, d.reserved};
}
void copyBack(const zevsim::DeviceInterfaceData& s, DeviceInterfaceData& d) {
  d.cbSize = s.cbSize;
  d.interfaceClassGuid = fromSim(s.interfaceClassGuid);
  d.flags = s.flags;
  d.reserved = s.reserved;
}

bool unbound() {
  if (machine == nullptr) {
    unboundLastError = 1168;  // ERROR_NOT_FOUND
    return true;
  }
  return false;
}

// Set by tests to predict the names of temporary files; empty: a fresh
// random name per file, as on Windows.
std::function<std::wstring(const std::wstring&)> temporaryNameSource;

}  // namespace

namespace sim {
SimBinding::SimBinding(zevsim::Machine& bound) {
  machine = &bound;
}
SimBinding::~SimBinding() {
  machine = nullptr;
}
zevsim::Machine* boundMachine() {
  return machine;
}
void setTemporaryNameSource(std::function<std::wstring(const std::wstring&)> source) {
  temporaryNameSource = std::move(source);
}
}  // namespace sim

DeviceSet getClassDevs(const Guid& classGuid, std::uint32_t flags) {
  if (unbound()) {
    return kInvalidDeviceSet;
  }
  const zevsim::Guid guid = toSim(classGuid);
  return machine->getClassDevs(&guid, flags);
}

bool enumDeviceInfo(DeviceSet set, std::uint32_t memberIndex, DeviceInfoData& deviceInfo) {
  if (unbound()) {
    return false;
  }
  zevsim::DeviceInfoData data = toSim(deviceInfo);
  const bool ok = machine->enumDeviceInfo(set, memberIndex, data);
  copyBack(data, deviceInfo);
  return ok;
}

bool enumDeviceInterfaces(DeviceSet set, const DeviceInfoData* deviceInfo,
                          const Guid& interfaceClass, std::uint32_t memberIndex,
                          DeviceInterfaceData& interfaceData) {
  if (unbound()) {
    return false;
  }
  zevsim::DeviceInfoData filter{};
  if (deviceInfo != nullptr) {
    filter = toSim(*deviceInfo);
  }
  zevsim::DeviceInterfaceData data = toSim(interfaceData);
  const bool ok = machine->enumDeviceInterfaces(set, deviceInfo != nullptr ? &filter : nullptr,
                                                toSim(interfaceClass), memberIndex, data);
  copyBack(data, interfaceData);
  return ok;
}

bool getDeviceInterfaceDetail(DeviceSet set, const DeviceInterfaceData& interfaceData,
                              std::uint8_t* detail, std::uint32_t detailSize,
                              std::uint32_t* requiredSize, DeviceInfoData* deviceInfo) {
  if (unbound()) {
    return false;
  }
  zevsim::DeviceInfoData info{};
  if (deviceInfo != nullptr) {
    info = toSim(*deviceInfo);
  }
  const bool ok =
      machine->getDeviceInterfaceDetail(set, toSim(interfaceData), detail, detailSize, requiredSize,
                                        deviceInfo != nullptr ? &info : nullptr);
  if (deviceInfo != nullptr) {
    copyBack(info, *deviceInfo);
  }
  return ok;
}

bool getDeviceProperty(DeviceSet set, const DeviceInfoData& deviceInfo, const PropertyKey& key,
                       std::uint32_t* propertyType, std::uint8_t* buffer, std::uint32_t bufferSize,
                       std::uint32_t* requiredSize) {
  if (unbound()) {
    return false;
  }
  return machine->getDeviceProperty(set, toSim(deviceInfo), toSim(key), propertyType, buffer,
                                    bufferSize, requiredSize);
}

bool getDeviceRegistryProperty(DeviceSet set, const DeviceInfoData& deviceInfo,
                               std::uint32_t property, std::uint32_t* dataType,
                               std::uint8_t* buffer, std::uint32_t bufferSize,
                               std::uint32_t* requiredSize) {
  if (unbound()) {
    return false;
  }
  return machine->getDeviceRegistryProperty(set, toSim(deviceInfo), property, dataType, buffer,
                                            bufferSize, requiredSize);
}

bool destroyDeviceInfoList(DeviceSet set) {
  if (unbound()) {
    return false;
  }
  return machine->destroyDeviceInfoList(set);
}

Handle createFile(const wchar_t* path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                  std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes) {
  if (unbound()) {
    return kInvalidHandle;
  }
  return machine->createFile(path, desiredAccess, shareMode, creationDisposition,
                             flagsAndAttributes);
}

bool deviceIoControl(Handle handle, std::uint32_t controlCode, void* inBuffer,
                     std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                     std::uint32_t* bytesReturned) {
  if (unbound()) {
    return false;
  }
  return machine->deviceIoControl(handle, controlCode, inBuffer, inBufferSize, outBuffer,
                                  outBufferSize, bytesReturned);
}

bool closeHandle(Handle handle) {
  if (unbound()) {
    return false;
  }
  return machine->closeHandle(handle);
}

std::uint32_t getLastError() {
  return machine != nullptr ? machine->lastError() : unboundLastError;
}

bool getModuleHandle() {
  return machine == nullptr || machine->moduleHandleAvailable();
}

void showMessageBox(const std::wstring& text, const std::wstring& caption) {
  if (machine != nullptr) {
    machine->messageBox(text, caption);
  }
}

bool writeEventLogEntry(const std::wstring& source, EventType type, std::uint32_t id,
                        const std::wstring& text) {
  if (unbound()) {
    return false;
  }
  return machine->reportEvent(source, static_cast<std::uint16_t>(type), id, text);
}

LocalTime localTime() {
  if (machine == nullptr) {
    return {};
  }
  const zevsim::LocalTime t = machine->localTime();
  return {t.year, t.month, t.day, t.hour, t.minute, t.second, t.utcOffsetMinutes};
}

std::wstring computerName() {
  if (machine == nullptr) {
    return {};
  }
  const std::string& name = machine->computerName();
  return std::wstring(name.begin(), name.end());  // ASCII
}

bool acquireRunGuard() {
  return machine == nullptr || machine->acquireRunGuard();
}

void releaseRunGuard() {
  if (machine != nullptr) {
    machine->releaseRunGuard();
  }
}

FileCheck openFileForWriting(const std::wstring& path) {
  return host::checkFileForWriting(path);
}

std::optional<FileIdentity> fileIdentity(const std::wstring& path) {
  return host::fileIdentity(path);
}

bool writeFileSafely(const std::wstring& path, std::string_view bytes) {
  if (temporaryNameSource) {
    return host::writeFileSafely(path, bytes, temporaryNameSource);
  }
  return host::writeFileSafely(path, bytes, host::temporaryNameBeside);
}

void discardFile(const std::wstring& path) {
  host::discardFile(path);
}

void writeStandardOutput(std::string_view bytes) {
  std::fwrite(bytes.data(), 1, bytes.size(), stdout);
}

void flushStandardOutput() {
  std::fflush(stdout);
}

}  // namespace zev::platform
