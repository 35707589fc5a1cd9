// zev-rig-setup.exe: puts a machine file's devices into a Wine prefix and
// reads the emulated machine's report back. Runs under Wine, with the prefix's
// server kept alive (wineserver -p), as scripts/wine_rig.sh does.
//
//   zev-rig-setup load MACHINE_FILE IMAGE_FILE DRIVER_FILE
//       Creates every device of the machine with SetupAPI's install functions
//       (instance id, setup class, hardware ids, one device interface), writes
//       the properties Wine does not synthesise (parent, instance id, driver
//       description, location text) and marks each interface Linked, installs
//       and starts the zevrig kernel-driver service and hands it the machine
//       and the names it must answer.
//       MACHINE_FILE "-" is the simulator's built-in demonstration machine.
//   zev-rig-setup run STATUS_FILE PROGRAM [ARGUMENTS...]
//       Runs PROGRAM with the arguments, each as one argument of its command
//       line (quoted for the C runtime's parser), on this process's standard
//       streams; writes its full 32-bit exit status in decimal to STATUS_FILE
//       and exits with it. `wine` itself passes only the low 8 bits on.
//   zev-rig-setup report EXIT_STATUS REPORT_FILE
//       Writes the machine's report for the package's exit status, with the
//       fields the rig cannot fill set to null and named under "rig".
//
// Wine lists the devices of a set in the sorted order of their instance ids
// (each component compared without regard to case), and names a device's
// interface after its instance id (\\?\ + the id in lower case with '\' as
// '#' + #{guid}). A device gets the machine's own instance id when every
// device has one and, for each interface class, their sorted order is the
// machine's: interface paths are then exactly the simulator's. Otherwise
// device i gets ZEVRIG\<i, 4 digits>_<enumerator>_<device id>\<instance>,
// which keeps the machine's order and the id's text (the package looks for
// VEN_8086 in a controller's interface path); interface paths then differ
// from the simulator's. Either way the driver links each interface name to
// the machine's own interface path, so requests reach the same device.
#define _WIN32_WINNT 0x0A00
#include <windows.h>

#include <setupapi.h>
// The property keys are defined (not only declared) in this file.
#include <initguid.h>

#include <devpkey.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "rig_bridge.h"
#include "zevsim/machine.hpp"
#include "zevsim/machine_file.hpp"
#include "zevsim/machine_view.hpp"
#include "zevsim/utf8.hpp"

// Exported by Wine's setupapi.dll and linked by libsetupapi.a, but not
// declared by mingw-w64's header.
extern "C" WINSETUPAPI BOOL WINAPI SetupDiSetDevicePropertyW(HDEVINFO set, PSP_DEVINFO_DATA device,
                                                             const DEVPROPKEY* key,
                                                             DEVPROPTYPE type, const BYTE* buffer,
                                                             DWORD size, DWORD flags);

namespace {

constexpr wchar_t kServiceName[] = L"zevrig";
constexpr wchar_t kControlPath[] = L"\\\\.\\ZevRigControl";

int fail(const std::string& what) {
  std::fprintf(stderr, "zev-rig-setup: %s (error %lu)\n", what.c_str(), GetLastError());
  return 2;
}

GUID toSdk(const zevsim::Guid& g) {
  GUID s{};
  s.Data1 = g.data1;
  s.Data2 = g.data2;
  s.Data3 = g.data3;
  std::copy(g.data4.begin(), g.data4.end(), s.Data4);
  return s;
}

std::wstring guidText(const GUID& g) {
  wchar_t text[40];
  std::swprintf(text, 40, L"{%08lX-%04hX-%04hX-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.Data1,
                g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4],
                g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

bool setStringProperty(HDEVINFO set, SP_DEVINFO_DATA& device, const DEVPROPKEY& key,
                       const std::optional<std::wstring>& value) {
  if (!value) {
    return true;  // a property the machine's device lacks stays absent
  }
  const auto bytes = static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t));
  return SetupDiSetDevicePropertyW(set, &device, &key, DEVPROP_TYPE_STRING,
                                   reinterpret_cast<const BYTE*>(value->c_str()), bytes,
                                   0) != FALSE;
}

// SetupAPI's interface is listed only once the interface key says Linked:
// HKLM\System\CurrentControlSet\Control\DeviceClasses\{guid}\##?#<name>\#\Control.
bool markLinked(const GUID& interfaceClass, const std::wstring& devicePath) {
  std::wstring key = L"System\\CurrentControlSet\\Control\\DeviceClasses\\" +
                     guidText(interfaceClass) + L"\\##?#" + devicePath.substr(4) + L"\\#\\Control";
  HKEY handle = nullptr;
  if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, key.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                      &handle, nullptr) != ERROR_SUCCESS) {
    return false;
  }
  const DWORD linked = 1;
  const bool ok =
      RegSetValueExW(handle, L"Linked", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&linked),
                     sizeof(linked)) == ERROR_SUCCESS;
  RegCloseKey(handle);
  return ok;
}

bool startDriver(const std::wstring& driverFile) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) {
    return false;
  }
  SC_HANDLE service =
      CreateServiceW(manager, kServiceName, kServiceName, SERVICE_ALL_ACCESS, SERVICE_KERNEL_DRIVER,
                     SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, driverFile.c_str(), nullptr,
                     nullptr, nullptr, nullptr, nullptr);
  if (service == nullptr && GetLastError() == ERROR_SERVICE_EXISTS) {
    service = OpenServiceW(manager, kServiceName, SERVICE_ALL_ACCESS);
  }
  bool ok = service != nullptr;
  if (ok && !StartServiceW(service, 0, nullptr)) {
    ok = GetLastError() == ERROR_SERVICE_ALREADY_RUNNING;
  }
  if (service != nullptr) {
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return ok;
}

HANDLE openControl() {
  return CreateFileW(kControlPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                     nullptr);
}

std::wstring upperAscii(std::wstring text) {
  for (wchar_t& c : text) {
    if (c >= L'a' && c <= L'z') {
      c = static_cast<wchar_t>(c - L'a' + L'A');
    }
  }
  return text;
}

// Wine's order of two instance ids: component by component, upper-cased.
bool sortsBefore(const std::wstring& a, const std::wstring& b) {
  std::vector<std::wstring> pa, pb;
  for (auto* parts : {&pa, &pb}) {
    const std::wstring& text = parts == &pa ? a : b;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find(L'\\', start)) != std::wstring::npos; start = end + 1) {
      parts->push_back(upperAscii(text.substr(start, end - start)));
    }
    parts->push_back(upperAscii(text.substr(start)));
  }
  return pa < pb;
}

// The instance ids the devices get in Wine (see the head of this file).
std::vector<std::wstring> wineInstanceIds(const std::vector<zevsim::DeviceNode>& devices) {
  bool machineIds = true;
  for (const zevsim::DeviceNode& node : devices) {
    machineIds = machineIds && node.instanceId &&
                 std::count(node.instanceId->begin(), node.instanceId->end(), L'\\') == 2;
  }
  for (std::size_t i = 0; machineIds && i < devices.size(); ++i) {
    for (std::size_t j = i + 1; machineIds && j < devices.size(); ++j) {
      if (devices[j].interfaceClass == devices[i].interfaceClass) {
        machineIds = sortsBefore(*devices[i].instanceId, *devices[j].instanceId);
      }
    }
  }
  std::vector<std::wstring> ids;
  for (std::size_t i = 0; i < devices.size(); ++i) {
    if (machineIds) {
      ids.push_back(*devices[i].instanceId);
      continue;
    }
    wchar_t order[16];
    std::swprintf(order, 16, L"%04u", static_cast<unsigned>(i));
    std::wstring id = devices[i].instanceId.value_or(L"");
    const std::size_t first = id.find(L'\\');
    const std::size_t last = id.rfind(L'\\');
    if (first == std::wstring::npos || first == last) {
      ids.push_back(L"ZEVRIG\\" + std::wstring(order) + L"\\0");
      continue;
    }
    std::wstring middle = id.substr(0, first) + L"_" + id.substr(first + 1, last - first - 1);
    ids.push_back(L"ZEVRIG\\" + std::wstring(order) + L"_" + middle + id.substr(last));
  }
  return ids;
}

int load(const std::wstring& machineFile, const std::wstring& imageFile,
         const std::wstring& driverFile) {
  const zevsim::MachineFileResult loaded =
      machineFile == L"-" ? zevsim::MachineFileResult{zevsim::demonstrationMachine(), {}}
                          : zevsim::loadMachineFile(zevsim::utf8FromWide(machineFile));
  if (!loaded.config) {
    std::fprintf(stderr, "%s\n", loaded.error.c_str());
    return 2;
  }
  // A machine of this process only for its device tree and path namespace;
  // the drives that answer live in the driver.
  zevsim::Machine tree(*loaded.config, {});
  const zevsim::MachineView view(tree);
  const std::vector<zevsim::DeviceNode>& devices = view.devices();

  std::wstring request = L"machine=" + machineFile + L"\nimage=" + imageFile + L"\n";
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) {
    return fail("SetupDiCreateDeviceInfoList failed");
  }
  std::vector<std::wstring> interfacePaths;
  const std::vector<std::wstring> instanceIds = wineInstanceIds(devices);
  for (std::size_t i = 0; i < devices.size(); ++i) {
    const zevsim::DeviceNode& node = devices[i];
    const wchar_t* instanceId = instanceIds[i].c_str();
    const GUID setupClass = toSdk(node.setupClass);
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof(device);
    if (!SetupDiCreateDeviceInfoW(set, instanceId, &setupClass, nullptr, nullptr, 0, &device) ||
        !SetupDiRegisterDeviceInfo(set, &device, 0, nullptr, nullptr, nullptr)) {
      return fail("cannot create device " + zevsim::utf8FromWide(instanceId));
    }
    if (node.hardwareIds) {
      const std::vector<std::uint8_t> ids = zevsim::encodeMultiSz(*node.hardwareIds);
      if (!SetupDiSetDeviceRegistryPropertyW(set, &device, SPDRP_HARDWAREID, ids.data(),
                                             static_cast<DWORD>(ids.size()))) {
        return fail("cannot set the hardware ids of " + zevsim::utf8FromWide(instanceId));
      }
    }
    if (!setStringProperty(set, device, DEVPKEY_Device_Parent, node.parent) ||
        !setStringProperty(set, device, DEVPKEY_Device_InstanceId, node.instanceId) ||
        !setStringProperty(set, device, DEVPKEY_Device_DriverDesc, node.driverDesc) ||
        !setStringProperty(set, device, DEVPKEY_Device_LocationInfo, node.locationInfo)) {
      return fail("cannot set the properties of " + zevsim::utf8FromWide(instanceId));
    }
    const GUID interfaceClass = toSdk(node.interfaceClass);
    SP_DEVICE_INTERFACE_DATA iface{};
    iface.cbSize = sizeof(iface);
    if (!SetupDiCreateDeviceInterfaceW(set, &device, &interfaceClass, nullptr, 0, &iface)) {
      return fail("cannot create the interface of " + zevsim::utf8FromWide(instanceId));
    }
    std::vector<std::uint8_t> detail(4096);
    auto* data = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_W*>(detail.data());
    data->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_W);
    if (!SetupDiGetDeviceInterfaceDetailW(set, &iface, data, static_cast<DWORD>(detail.size()),
                                          nullptr, nullptr)) {
      return fail("cannot read the interface path of " + zevsim::utf8FromWide(instanceId));
    }
    const std::wstring devicePath = data->DevicePath;
    if (!markLinked(interfaceClass, devicePath)) {
      return fail("cannot mark the interface " + zevsim::utf8FromWide(devicePath) + " linked");
    }
    // \\?\<name> opens \??\<name>: the driver links <name> to this device.
    request += L"link=" + devicePath.substr(4) + L"|" + node.interfacePath + L"\n";
    interfacePaths.push_back(node.interfacePath);
  }
  SetupDiDestroyDeviceInfoList(set);

  // The machine's other names: \\.\PHYSICALDRIVEn and \\.\ScsiN:.
  for (const std::wstring& name : view.pathNames()) {
    bool isInterface = false;
    for (const std::wstring& path : interfacePaths) {
      isInterface = isInterface || zevsim::equalsIgnoreAsciiCase(path, name);
    }
    if (!isInterface && name.rfind(L"\\\\.\\", 0) == 0) {
      request += L"link=" + name.substr(4) + L"|" + name + L"\n";
    }
  }

  if (!startDriver(driverFile)) {
    return fail("cannot install or start the zevrig driver service");
  }
  HANDLE control = openControl();
  if (control == INVALID_HANDLE_VALUE) {
    return fail("cannot open the driver's control device");
  }
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(control, IOCTL_ZEV_RIG_LOAD, request.data(),
                                  static_cast<DWORD>(request.size() * sizeof(wchar_t)), nullptr, 0,
                                  &returned, nullptr);
  CloseHandle(control);
  if (!ok) {
    return fail("the driver refused the machine (see WINEDEBUG=+ntoskrnl)");
  }
  return 0;
}

// One argument as the C runtime's command-line parser reads it back:
// backslashes are literal except before a quote, where they are doubled.
std::wstring quoted(const std::wstring& arg) {
  if (!arg.empty() && arg.find_first_of(L" \t\"") == std::wstring::npos) {
    return arg;
  }
  std::wstring out = L"\"";
  std::size_t backslashes = 0;
  for (wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    out.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
    backslashes = 0;
    out.push_back(c);
  }
  out.append(backslashes * 2, L'\\');
  out.push_back(L'"');
  return out;
}

int run(const std::wstring& statusFile, const std::vector<std::wstring>& program) {
  std::wstring commandLine;
  for (const std::wstring& arg : program) {
    commandLine += (commandLine.empty() ? L"" : L" ") + quoted(arg);
  }
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program[0].c_str(), commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                      nullptr, &startup, &process)) {
    return fail("cannot start " + zevsim::utf8FromWide(program[0]));
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD status = 0;
  GetExitCodeProcess(process.hProcess, &status);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  std::FILE* out = _wfopen(statusFile.c_str(), L"wb");
  if (out == nullptr) {
    return fail("cannot write " + zevsim::utf8FromWide(statusFile));
  }
  std::fprintf(out, "%ld\n", static_cast<long>(static_cast<std::int32_t>(status)));
  std::fclose(out);
  return static_cast<int>(status);
}

int report(const std::wstring& exitStatusText, const std::wstring& reportFile) {
  const std::int32_t exitStatus =
      static_cast<std::int32_t>(std::wcstol(exitStatusText.c_str(), nullptr, 10));
  HANDLE control = openControl();
  if (control == INVALID_HANDLE_VALUE) {
    return fail("cannot open the driver's control device");
  }
  std::vector<char> text(16u << 20);
  DWORD returned = 0;
  const BOOL ok = DeviceIoControl(control, IOCTL_ZEV_RIG_REPORT,
                                  const_cast<std::int32_t*>(&exitStatus), sizeof(exitStatus),
                                  text.data(), static_cast<DWORD>(text.size()), &returned, nullptr);
  CloseHandle(control);
  if (!ok) {
    return fail("the driver gave no report");
  }
  nlohmann::ordered_json json = nlohmann::ordered_json::parse(std::string(text.data(), returned));
  // Under Wine the package's message boxes and event log entries never reach
  // the machine, and the handles it leaves open are closed by Wine when its
  // process ends, before the report is read: all three stay unknown.
  json["messageBoxes"] = nullptr;
  json["events"] = nullptr;
  json["handlesLeftOpen"] = nullptr;
  json["rig"] = {{"notFilled", {"messageBoxes", "events", "handlesLeftOpen"}}};
  const std::string bytes = json.dump(2) + "\n";
  std::FILE* out = _wfopen(reportFile.c_str(), L"wb");
  const bool written =
      out != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (out == nullptr || std::fclose(out) != 0 || !written) {
    return fail("cannot write the report " + zevsim::utf8FromWide(reportFile));
  }
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::vector<std::wstring> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == L"load") {
    return load(args[1], args[2], args[3]);
  }
  if (args.size() >= 3 && args[0] == L"run") {
    return run(args[1], std::vector<std::wstring>(args.begin() + 2, args.end()));
  }
  if (args.size() == 3 && args[0] == L"report") {
    return report(args[1], args[2]);
  }
  std::fprintf(stderr,
               "usage: zev-rig-setup load MACHINE_FILE IMAGE_FILE DRIVER_FILE\n"
               "       zev-rig-setup run STATUS_FILE PROGRAM [ARGUMENTS...]\n"
               "       zev-rig-setup report EXIT_STATUS REPORT_FILE\n");
  return 2;
}
