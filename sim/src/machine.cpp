// The simulated machine: construction from the machine description (drives,
// the Intel controller model, the device tree and the path namespace), the
// process services (module handle, message box, event log, clock),
// observation (call records, handle accounting, drive reports) and the
// injected call faults.
// The SetupAPI calls are in machine_setupapi.cpp, the device I/O calls in
// machine_device_io.cpp.
#include "zevsim/machine.hpp"

#include <ctime>
#include <stdexcept>
#include <unordered_set>

#include "machine_state.hpp"
#include "windows_values.hpp"

namespace zevsim {
namespace {

std::tm localParts(std::time_t when) {
  std::tm parts{};
#ifdef _WIN32
  localtime_s(&parts, &when);
#else
  localtime_r(&when, &parts);
#endif
  return parts;
}

std::tm utcParts(std::time_t when) {
  std::tm parts{};
#ifdef _WIN32
  gmtime_s(&parts, &when);
#else
  gmtime_r(&when, &parts);
#endif
  return parts;
}

// Local time minus UTC at the same instant, in minutes.
int utcOffsetMinutes(const std::tm& local, const std::tm& utc) {
  int days = local.tm_yday - utc.tm_yday;
  if (local.tm_year != utc.tm_year) {
    days = local.tm_year > utc.tm_year ? 1 : -1;  // across a new year
  }
  return (days * 24 + local.tm_hour - utc.tm_hour) * 60 + local.tm_min - utc.tm_min;
}

NvmeDrive& requireDrive(const MachineState& state, const std::string& id, const std::string& user) {
  NvmeDrive* drive = state.findDrive(id);
  if (drive == nullptr) {
    throw std::invalid_argument(user + " names unknown drive \"" + id + "\"");
  }
  return *drive;
}

bool matches(const CallFault& fault, const CallSubject& subject) {
  if (fault.kind != subject.kind) {
    return false;
  }
  if (fault.path &&
      (subject.path == nullptr || !equalsIgnoreAsciiCase(*fault.path, *subject.path))) {
    return false;
  }
  if (fault.controlCode && subject.controlCode != fault.controlCode) {
    return false;
  }
  if (fault.propertyKey &&
      (subject.propertyKey == nullptr || !(*subject.propertyKey == *fault.propertyKey))) {
    return false;
  }
  if (fault.deviceIndex && subject.deviceIndex != fault.deviceIndex) {
    return false;
  }
  return true;
}

void buildIntelModel(MachineState& state) {
  const IntelControllerConfig& intel = *state.config.intelController;
  IntelControllerModel& model = state.intel.emplace();
  model.config = &intel;
  for (const RaidVolumeConfig& volume : intel.raidVolumes) {
    std::vector<NvmeDrive*> members;
    std::vector<std::uint32_t> ports;
    std::vector<FaultCounter> attachments;
    for (const RaidMemberConfig& member : volume.members) {
      members.push_back(&requireDrive(state, member.drive, "a RAID volume member"));
      ports.push_back(member.port);
      attachments.emplace_back(member.faults);
    }
    model.volumeMembers.push_back(std::move(members));
    model.volumePorts.push_back(std::move(ports));
    model.memberAttachments.push_back(std::move(attachments));
  }
  for (const PassThroughConfig& pass : intel.passThrough) {
    model.passThroughDrives.push_back(&requireDrive(state, pass.drive, "a pass-through disk"));
    model.passThroughAttachments.emplace_back(pass.faults);
  }
  model.faults = FaultCounter(intel.faults);
}

// The namespace CreateFileW resolves: every device's interface path, then
// \\.\PHYSICALDRIVEn of every disk, then the SCSI ports \\.\ScsiN:.
void buildPaths(MachineState& state) {
  std::vector<PathTarget> diskNames;
  std::unordered_set<std::uint32_t> diskNumbers;
  for (const DeviceNode& device : state.devices) {
    PathTarget target;
    target.path = device.interfacePath;
    switch (device.role) {
      case DeviceRole::InboxDisk: {
        const InboxDiskConfig& inbox = state.config.inbox[device.configIndex];
        target.kind = PathTarget::Kind::InboxDisk;
        target.drive = &requireDrive(state, inbox.drive, "an inbox disk");
        target.attachment = &state.inboxAttachments[device.configIndex];
        target.number = inbox.deviceNumber;
        break;
      }
      case DeviceRole::IntelController:
        target.kind = PathTarget::Kind::IntelControllerPort;
        break;
      case DeviceRole::PassThroughDisk: {
        const PassThroughConfig& pass =
            state.config.intelController->passThrough[device.configIndex];
        target.drive = &requireDrive(state, pass.drive, "a pass-through disk");
        target.attachment = state.intel->passThroughAttachment(device.configIndex);
        break;
      }
      case DeviceRole::OtherController:
      case DeviceRole::InboxController:
      case DeviceRole::RaidVolumeDisk:
        break;
    }
    if (device.diskNumber) {
      if (!diskNumbers.insert(*device.diskNumber).second) {
        throw std::invalid_argument("two disks with device number " +
                                    std::to_string(*device.diskNumber));
      }
      PathTarget name = target;
      name.path = widen("\\\\.\\PHYSICALDRIVE" + std::to_string(*device.diskNumber));
      diskNames.push_back(std::move(name));
    }
    state.paths.push_back(std::move(target));
  }
  state.paths.insert(state.paths.end(), diskNames.begin(), diskNames.end());
  if (state.config.intelController) {
    for (std::uint32_t port = 0; port < state.config.intelController->scsiPorts; ++port) {
      PathTarget target;
      target.path = widen("\\\\.\\Scsi" + std::to_string(port) + ":");
      target.kind = PathTarget::Kind::ScsiPort;
      target.number = port;
      state.paths.push_back(std::move(target));
    }
  }
  state.pathIndex.reserve(state.paths.size());
  for (std::size_t i = 0; i < state.paths.size(); ++i) {
    state.pathIndex.emplace(foldAsciiCase(state.paths[i].path), i);  // keeps the first
  }
}

}  // namespace

MachineState::MachineState(const MachineConfig& machineConfig, std::vector<std::uint8_t> image)
    : config(machineConfig),
      packageImage(std::move(image)),
      moduleHandleFails(machineConfig.moduleHandleFails) {
  for (const DriveConfig& drive : config.drives) {
    drives.push_back(std::make_unique<NvmeDrive>(drive, packageImage));
    driveIndex.emplace(drive.id, drives.back().get());  // the first of equal ids
  }
  inboxAttachments.reserve(config.inbox.size());
  for (const InboxDiskConfig& disk : config.inbox) {
    inboxAttachments.emplace_back(disk.faults);
  }
  if (config.intelController) {
    buildIntelModel(*this);
  }
  devices = buildDeviceTree(config);
  buildPaths(*this);
}

NvmeDrive* MachineState::findDrive(const std::string& id) const {
  const auto it = driveIndex.find(id);
  return it == driveIndex.end() ? nullptr : it->second;
}

const PathTarget* MachineState::findPath(std::wstring_view path) const {
  const auto it = pathIndex.find(foldAsciiCase(path));
  return it == pathIndex.end() ? nullptr : &paths[it->second];
}

SimHandle MachineState::newHandle() {
  // Kernel handles are multiples of 4; none is ever reused, so a stale
  // handle stays invalid.
  const SimHandle handle = nextHandle_;
  nextHandle_ += 4;
  return handle;
}

std::uintptr_t MachineState::newElementBase() {
  const std::uintptr_t base = nextElementBase_;
  nextElementBase_ += kElementSpan;
  return base;
}

std::optional<std::uint32_t> MachineState::injectedFailure(const CallSubject& subject) {
  std::optional<std::uint32_t> error;
  for (InjectedCallFault& injected : callFaults) {
    if (!matches(injected.fault, subject)) {
      continue;
    }
    ++injected.matched;
    if (!error && (!injected.fault.nth || injected.matched == *injected.fault.nth)) {
      error = injected.fault.error;
    }
  }
  return error;
}

bool MachineState::fail(CallRecord& record, std::uint32_t error) {
  lastError = error;
  record.succeeded = false;
  record.error = error;
  if (recording) {
    calls.push_back(std::move(record));
  }
  return false;
}

bool MachineState::succeed(CallRecord& record, bool keepLastError) {
  if (!keepLastError) {
    lastError = kErrorSuccess;
  }
  record.succeeded = true;
  record.error = 0;
  if (recording) {
    calls.push_back(std::move(record));
  }
  return true;
}

Machine::Machine(const MachineConfig& config, std::vector<std::uint8_t> packageImage)
    : state_(std::make_unique<MachineState>(config, std::move(packageImage))) {}

Machine::~Machine() = default;

std::uint32_t Machine::lastError() const {
  return state_->lastError;
}

void Machine::setLastError(std::uint32_t error) {
  state_->lastError = error;
}

bool Machine::moduleHandleAvailable() const {
  return !state_->moduleHandleFails;
}

const std::string& Machine::computerName() const {
  return state_->config.computerName;
}

bool Machine::acquireRunGuard() {
  MachineState& s = *state_;
  if (s.config.runGuardHeld || s.runGuardAcquired) {
    return false;
  }
  s.runGuardAcquired = true;
  return true;
}

void Machine::releaseRunGuard() {
  state_->runGuardAcquired = false;
}

void Machine::messageBox(const std::wstring& text, const std::wstring& caption) {
  // MessageBoxW takes C strings: both texts end at their first NUL.
  const auto cString = [](const std::wstring& s) { return s.substr(0, s.find(L'\0')); };
  MessageBoxRecord box{cString(caption), cString(text)};
  if (state_->recording) {
    CallRecord record;
    record.kind = CallKind::MessageBox;
    record.succeeded = true;
    record.path = box.caption;
    state_->calls.push_back(std::move(record));
  }
  state_->boxes.push_back(std::move(box));
}

bool Machine::reportEvent(const std::wstring& source, std::uint16_t type, std::uint32_t id,
                          const std::wstring& text) {
  MachineState& s = *state_;
  const auto cString = [](const std::wstring& t) { return t.substr(0, t.find(L'\0')); };
  CallRecord record;
  record.kind = CallKind::ReportEvent;
  record.path = cString(source);
  record.controlCode = id;
  if (const auto error = s.injectedFailure({CallKind::ReportEvent})) {
    return s.fail(record, *error);
  }
  if (s.config.eventLogFails) {
    return s.fail(record, kErrorLogFileFull);
  }
  EventRecord entry{record.path, type, id, cString(text)};
  // The limit counts UTF-16 units: a character beyond U+FFFF is two.
  std::size_t units = 0;
  for (const wchar_t c : entry.text) {
    // Nothing beyond U+FFFF fits a 16-bit wchar_t (UTF-16 already): the
    // shift keeps the test free of a comparison that is always false there.
    units += (static_cast<std::uint32_t>(c) >> 16) != 0 ? 2 : 1;
  }
  if (units > win::kEventStringLimit) {
    return s.fail(record, kErrorInvalidParameter);
  }
  s.events.push_back(std::move(entry));
  // A successful ReportEventW leaves the last error as it was.
  return s.succeed(record, true);
}

LocalTime Machine::localTime() const {
  if (state_->clock) {
    return *state_->clock;
  }
  const std::time_t now = std::time(nullptr);
  const std::tm parts = localParts(now);
  return {parts.tm_year + 1900,
          parts.tm_mon + 1,
          parts.tm_mday,
          parts.tm_hour,
          parts.tm_min,
          parts.tm_sec,
          utcOffsetMinutes(parts, utcParts(now))};
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

const std::vector<EventRecord>& Machine::events() const {
  return state_->events;
}

bool Machine::ranOutOfMemory() const {
  return state_->outOfMemory;
}

std::uint32_t Machine::handlesLeftOpen() const {
  return static_cast<std::uint32_t>(state_->handles.size() + state_->sets.size());
}

std::vector<DriveReport> Machine::driveReports() const {
  std::vector<DriveReport> reports;
  for (const auto& drive : state_->drives) {
    DriveReport report;
    report.id = drive->config().id;
    for (int kind = 0; kind < kFaultRequestKinds; ++kind) {
      report.requests[static_cast<std::size_t>(kind)] =
          drive->requestCount(static_cast<FaultRequest>(kind));
    }
    report.downloadedBytes = drive->downloadedBytes();
    report.stagedImageMatchesPackage = drive->stagedImageMatchesPackage();
    for (std::uint32_t slot = 1; slot <= drive->slotCount(); ++slot) {
      report.slots.push_back({slot, drive->slotReadOnly(slot), drive->slotRevision(slot)});
    }
    report.runningFirmware = drive->runningFirmware();
    report.firmwareAfterReset = drive->firmwareAfterReset();
    reports.push_back(std::move(report));
  }
  return reports;
}

void Machine::injectCallFault(const CallFault& fault) {
  state_->callFaults.push_back({fault, 0});
}

void Machine::setRecording(bool on) {
  state_->recording = on;
}

void Machine::wrapEndpoints(EndpointWrapper wrap) {
  state_->wrapEndpoint = std::move(wrap);
}

MachineState& Machine::state() {
  return *state_;
}

const MachineState& Machine::state() const {
  return *state_;
}

const char* faultRequestName(FaultRequest kind) {
  static const char* const names[] = {"open",    "deviceNumber", "identify",
                                      "getInfo", "download",     "activate",
                                      "csmi",    "vrocList",     "scsiPortOpen"};
  static_assert(sizeof(names) / sizeof(names[0]) == kFaultRequestKinds);
  return names[static_cast<int>(kind)];
}

}  // namespace zevsim
