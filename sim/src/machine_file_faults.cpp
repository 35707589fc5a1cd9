// FAULT entries: reading and fit to the drive's or controller's stack.
#include "machine_file_faults.hpp"

#include <algorithm>
#include <iterator>

namespace zevsim::machine_file {

namespace {

constexpr std::uint32_t kMaxNvmeStatus = 0x7FFF;  // CplEntry[3] bits 31:17

struct FaultKindName {
  FaultRequest kind;
  std::string_view name;
};
constexpr FaultKindName kFaultKindNames[] = {
    {FaultRequest::Open, "open"},
    {FaultRequest::DeviceNumber, "deviceNumber"},
    {FaultRequest::Identify, "identify"},
    {FaultRequest::GetInfo, "getInfo"},
    {FaultRequest::Download, "download"},
    {FaultRequest::Activate, "activate"},
    {FaultRequest::Csmi, "csmi"},
    {FaultRequest::VrocList, "vrocList"},
    {FaultRequest::ScsiPortOpen, "scsiPortOpen"},
};

std::string_view faultKindName(FaultRequest kind) {
  for (const FaultKindName& entry : kFaultKindNames) {
    if (entry.kind == kind) {
      return entry.name;
    }
  }
  return "?";
}

bool isControllerRequest(FaultRequest kind) {
  return kind == FaultRequest::Csmi || kind == FaultRequest::VrocList ||
         kind == FaultRequest::ScsiPortOpen;
}

// The key that says how a fault changes its request.
const char* faultFormKey(const Fault& fault) {
  if (fault.error) {
    return "error";
  }
  if (fault.returnCode) {
    return "returnCode";
  }
  if (fault.nvmeStatus) {
    return "nvmeStatus";
  }
  if (fault.completion) {
    return "completion";
  }
  return "dataBufferOffset";
}

// The request kind a fault names: one of a drive's requests, or with
// controller one of a controller's (its opens among them).
FaultRequest readFaultRequest(const ObjectReader& object, bool controller) {
  const std::string requestPath = object.pathOf("request");
  const std::string& request = readString(object.require("request"), requestPath);
  const auto* entry =
      std::find_if(std::begin(kFaultKindNames), std::end(kFaultKindNames),
                   [&](const FaultKindName& candidate) { return candidate.name == request; });
  if (entry == std::end(kFaultKindNames)) {
    fail(requestPath, "unknown request kind " + inQuotes(request) +
                          "; expected open, deviceNumber, identify, getInfo, download, activate, "
                          "csmi, vrocList or scsiPortOpen");
  }
  if (controller && !isControllerRequest(entry->kind) && entry->kind != FaultRequest::Open) {
    fail(requestPath, inQuotes(request) +
                          " is a drive's request; a controller's faults take open, "
                          "scsiPortOpen, csmi or vrocList");
  }
  if (!controller && isControllerRequest(entry->kind)) {
    fail(requestPath,
         inQuotes(request) + " is a controller's request; give it in $.intelController.faults");
  }
  return entry->kind;
}

// How a fault changes its request: exactly one of error, returnCode,
// nvmeStatus, completion and dataBufferOffset.
void readFaultForm(const ObjectReader& object, Fault& fault) {
  struct Form {
    const char* key;
    std::optional<std::uint32_t> Fault::*field;
    std::uint64_t max;
  };
  constexpr Form kForms[] = {
      {"error", &Fault::error, kMaxU32},
      {"returnCode", &Fault::returnCode, kMaxU32},
      {"nvmeStatus", &Fault::nvmeStatus, kMaxNvmeStatus},
      {"completion", &Fault::completion, kMaxU32},
      {"dataBufferOffset", &Fault::dataBufferOffset, kMaxU32},
  };
  const char* first = nullptr;
  for (const Form& form : kForms) {
    const Json* field = object.find(form.key);
    if (field == nullptr) {
      continue;
    }
    if (first != nullptr) {
      fail(object.pathOf(form.key), std::string("a fault takes only one of error, returnCode, "
                                                "nvmeStatus, completion and dataBufferOffset; "
                                                "this one already has ") +
                                        first);
    }
    first = form.key;
    fault.*form.field = readU32(*field, object.pathOf(form.key), 0, form.max);
    // ReturnCode 0, NVMe status 0 and completion dword 3 of 0 are the plain
    // success values: a fault that sets them fails nothing.
    if (form.field != &Fault::error && form.field != &Fault::dataBufferOffset &&
        *(fault.*form.field) == 0) {
      fail(object.pathOf(form.key), "0 is the success value, so this fault fails nothing");
    }
  }
  if (first == nullptr) {
    fail(object.path(),
         "a fault needs one of error, returnCode, nvmeStatus, completion and dataBufferOffset");
  }
}

// Reads one FAULT: the request kind, nth, and exactly one way of failing.
// Whether the fault fits the drive's or controller's stack is checked once the
// attachments are known.
Fault readFault(const Json& value, const std::string& path, bool controller) {
  const ObjectReader object(
      value, path,
      {"request", "nth", "error", "returnCode", "nvmeStatus", "completion", "dataBufferOffset"});
  Fault fault;
  fault.request = readFaultRequest(object, controller);
  if (const Json* nth = object.find("nth")) {
    fault.nth = readU32(*nth, object.pathOf("nth"), 1);
  }
  readFaultForm(object, fault);
  if (fault.dataBufferOffset && fault.request != FaultRequest::GetInfo) {
    fail(object.pathOf("dataBufferOffset"), "only a getInfo request has a DataBufferOffset");
  }
  return fault;
}

const char* stackName(Stack stack) {
  switch (stack) {
    case Stack::InboxDisk:
      return "an inbox disk";
    case Stack::IrstMember:
      return "a RAID member behind the \"irst\" controller";
    case Stack::IrstPassThrough:
      return "a pass-through drive behind the \"irst\" controller";
    case Stack::VrocMember:
      return "a RAID member behind the \"vroc\" controller";
    case Stack::VrocPassThrough:
      return "a pass-through drive behind the \"vroc\" controller";
  }
  return "?";
}

bool isVrocStack(Stack stack) {
  return stack == Stack::VrocMember || stack == Stack::VrocPassThrough;
}

// Whether requests of this kind reach a drive attached this way. Only the
// inbox driver asks for the device number; every stack answers the slot
// information (inbox and "IntelFw " GET_INFO, the VROC Firmware Slot
// Information log); a RAID member has no disk path of its own to open (its
// volume's disk is opened, not the drive).
bool stackCarries(Stack stack, FaultRequest kind) {
  switch (kind) {
    case FaultRequest::Open:
      return stack != Stack::IrstMember && stack != Stack::VrocMember;
    case FaultRequest::DeviceNumber:
      return stack == Stack::InboxDisk;
    case FaultRequest::GetInfo:
    case FaultRequest::Identify:
    case FaultRequest::Download:
    case FaultRequest::Activate:
      return true;
    default:
      return false;
  }
}

// Whether the request starts with an SRB_IO_CONTROL header whose ReturnCode a
// fault can set. Opens, the device-number request and the inbox driver's
// storage property query (its Identify) have none.
bool stackHasHeader(Stack stack, FaultRequest kind) {
  switch (kind) {
    case FaultRequest::Identify:
      return stack != Stack::InboxDisk;
    case FaultRequest::GetInfo:
    case FaultRequest::Download:
    case FaultRequest::Activate:
      return true;
    default:
      return false;
  }
}

}  // namespace

std::vector<Fault> readFaults(const Json& value, const std::string& path, bool controller) {
  std::vector<Fault> faults;
  const Json& list = readArray(value, path);
  for (std::size_t i = 0; i < list.size(); ++i) {
    faults.push_back(readFault(list[i], indexPath(path, i), controller));
  }
  return faults;
}

namespace {

// One fault of a drive or an attachment against the stacks its requests take
// (stacks is not empty).
void checkFaultFits(const Fault& fault, const std::vector<Stack>& stacks, const std::string& path,
                    const char* reached) {
  std::vector<Stack> carriers;
  for (const Stack stack : stacks) {
    if (stackCarries(stack, fault.request)) {
      carriers.push_back(stack);
    }
  }
  if (carriers.empty()) {
    std::string attached;
    for (std::size_t k = 0; k < stacks.size(); ++k) {
      attached += (k == 0 ? "" : " and ") + std::string(stackName(stacks[k]));
    }
    fail(path + ".request", "no " + inQuotes(faultKindName(fault.request)) + " request reaches " +
                                reached + " as " + attached);
  }
  for (const Stack stack : carriers) {
    if (fault.returnCode && !stackHasHeader(stack, fault.request)) {
      fail(path + ".returnCode", "the " + std::string(faultKindName(fault.request)) +
                                     " request of " + stackName(stack) +
                                     " has no SRB_IO_CONTROL header to carry a ReturnCode");
    }
    if (fault.dataBufferOffset && stack != Stack::InboxDisk) {
      fail(path + ".dataBufferOffset",
           "only the inbox driver's slot information is moved by a DataBufferOffset; this "
           "request reaches the drive as " +
               std::string(stackName(stack)));
    }
    if ((fault.nvmeStatus || fault.completion) &&
        !(isVrocStack(stack) && stackHasHeader(stack, fault.request))) {
      fail(path + "." + faultFormKey(fault),
           "only a drive behind a \"vroc\" controller answers with an NVMe completion; this "
           "request reaches the drive as " +
               std::string(stackName(stack)));
    }
  }
}

}  // namespace

void checkDriveFaultsFit(const DriveConfig& drive, const std::vector<Stack>& stacks,
                         const std::string& drivePath) {
  for (std::size_t j = 0; j < drive.faults.size(); ++j) {
    const std::string path = indexPath(drivePath + ".faults", j);
    if (stacks.empty()) {
      fail(path, "the drive is not attached to any disk or controller, so no request reaches it");
    }
    checkFaultFits(drive.faults[j], stacks, path, "this drive");
  }
}

void checkAttachmentFaultsFit(const std::vector<Fault>& faults, Stack stack,
                              const std::string& faultsPath) {
  for (std::size_t j = 0; j < faults.size(); ++j) {
    checkFaultFits(faults[j], {stack}, indexPath(faultsPath, j), "this attachment");
  }
}

void checkControllerFaultsFit(const IntelControllerConfig& controller, const std::string& path) {
  const bool vroc = controller.driver == IntelDriver::Vroc;
  for (std::size_t j = 0; j < controller.faults.size(); ++j) {
    const Fault& fault = controller.faults[j];
    const std::string faultPath = indexPath(path + ".faults", j);
    const bool carried =
        fault.request == FaultRequest::Open || (fault.request == FaultRequest::Csmi && !vroc) ||
        ((fault.request == FaultRequest::ScsiPortOpen || fault.request == FaultRequest::VrocList) &&
         vroc);
    if (!carried) {
      fail(faultPath + ".request",
           "a controller with driver " + std::string(vroc ? "\"vroc\"" : "\"irst\"") +
               " receives no " + inQuotes(faultKindName(fault.request)) + " request");
    }
    if (fault.returnCode && fault.request != FaultRequest::Csmi &&
        fault.request != FaultRequest::VrocList) {
      fail(faultPath + ".returnCode", "an open has no SRB_IO_CONTROL header to carry a ReturnCode");
    }
    if (fault.nvmeStatus || fault.completion) {
      fail(faultPath + "." + faultFormKey(fault),
           "a controller's own requests have no NVMe completion");
    }
  }
}

}  // namespace zevsim::machine_file
