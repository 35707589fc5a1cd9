// STUB: replaced by the device-tree work. A machine with no devices.
#include "zevsim/machine.hpp"

#include <ctime>

namespace zevsim {

class MachineState {
 public:
  std::uint32_t lastError = 0;
  bool moduleHandleFails = false;
  std::vector<CallRecord> calls;
  std::vector<MessageBoxRecord> boxes;
  std::optional<LocalTime> clock;
};

Machine::Machine(const MachineConfig& config, std::vector<std::uint8_t>)
    : state_(std::make_unique<MachineState>()) {
  state_->moduleHandleFails = config.moduleHandleFails;
}
Machine::~Machine() = default;
SimHandle Machine::getClassDevs(const Guid*, std::uint32_t) {
  return 1;
}
bool Machine::enumDeviceInfo(SimHandle, std::uint32_t, DeviceInfoData&) {
  state_->lastError = 259;
  return false;
}
bool Machine::enumDeviceInterfaces(SimHandle, const DeviceInfoData*, const Guid&, std::uint32_t,
                                   DeviceInterfaceData&) {
  state_->lastError = 259;
  return false;
}
bool Machine::getDeviceInterfaceDetail(SimHandle, const DeviceInterfaceData&, std::uint8_t*,
                                       std::uint32_t, std::uint32_t*, DeviceInfoData*) {
  state_->lastError = 87;
  return false;
}
bool Machine::getDeviceProperty(SimHandle, const DeviceInfoData&, const PropertyKey&,
                                std::uint32_t*, std::uint8_t*, std::uint32_t, std::uint32_t*) {
  state_->lastError = 1168;
  return false;
}
bool Machine::getDeviceRegistryProperty(SimHandle, const DeviceInfoData&, std::uint32_t,
                                        std::uint32_t*, std::uint8_t*, std::uint32_t,
                                        std::uint32_t*) {
  state_->lastError = 13;
  return false;
}
bool Machine::destroyDeviceInfoList(SimHandle) {
  return true;
}
SimHandle Machine::createFile(const wchar_t*, std::uint32_t, std::uint32_t, std::uint32_t,
                              std::uint32_t) {
  state_->lastError = 2;
  return kInvalidSimHandle;
}
bool Machine::deviceIoControl(SimHandle, std::uint32_t, const void*, std::uint32_t, void*,
                              std::uint32_t, std::uint32_t*) {
  state_->lastError = 6;
  return false;
}
bool Machine::closeHandle(SimHandle) {
  state_->lastError = 6;
  return false;
}
std::uint32_t Machine::lastError() const {
  return state_->lastError;
}
void Machine::setLastError(std::uint32_t error) {
  state_->lastError = error;
}
bool Machine::moduleHandleAvailable() const {
  return !state_->moduleHandleFails;
}
void Machine::messageBox(const std::wstring& text, const std::wstring& caption) {
  state_->boxes.push_back({caption, text});
}
LocalTime Machine::localTime() const {
  if (state_->clock) {
    return *state_->clock;
  }
  std::time_t now = std::time(nullptr);
  std::tm parts{};
  localtime_r(&now, &parts);
  return {parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
          parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}
void Machine::setClock(const LocalTime& fixed) {
  state_->clock = fixed;
}
const std::vector<CallRecord>& Machine::calls() const {
  return state_->calls;
}
const std::vector<MessageBoxRecord>& Machine::messageBoxes() const {
  return state_->boxes;
}
std::uint32_t Machine::handlesLeftOpen() const {
  return 0;
}
std::vector<DriveReport> Machine::driveReports() const {
  return {};
}
void Machine::injectCallFault(const CallFault&) {}
void Machine::setRecording(bool) {}
MachineState& Machine::state() {
  return *state_;
}
const char* faultRequestName(FaultRequest kind) {
  static const char* const names[] = {"open",    "deviceNumber", "identify",
                                      "getInfo", "download",     "activate",
                                      "csmi",    "vrocList",     "scsiPortOpen"};
  return names[static_cast<int>(kind)];
}
}  // namespace zevsim
