// The simulated machine inside zevrig.sys: the zevsim library, built into the
// driver image with the C and C++ runtimes. This works only because Wine's
// device host (winedevice.exe) is a user-mode process that loads a driver
// like any DLL, with the user-mode runtimes at hand; a Windows kernel would
// refuse the image.
//
// Wine's device host hands the driver one request at a time, but the machine
// is guarded by a mutex all the same, so that the driver stays correct if a
// request ever arrives from another thread.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "rig_bridge.h"
#include "zevsim/machine.hpp"
#include "zevsim/machine_file.hpp"
#include "zevsim/report.hpp"
#include "zevsim/utf8.hpp"

extern "C" BOOL WINAPI DllMainCRTStartup(HANDLE module, DWORD reason, LPVOID reserved);

namespace {

std::mutex machineMutex;
std::unique_ptr<zevsim::Machine> machine;

void copyProblem(const std::string& text, char* error, size_t errorSize) {
  if (errorSize == 0) {
    return;
  }
  const size_t length = std::min(text.size(), errorSize - 1);
  std::memcpy(error, text.data(), length);
  error[length] = 0;
}

}  // namespace

extern "C" void zev_rig_runtime_attach(void* module, uint32_t reason, void* reserved) {
  DllMainCRTStartup(module, reason, reserved);
}

extern "C" int zev_rig_load(const wchar_t* machineFile, const wchar_t* imageFile, char* error,
                            size_t errorSize) {
  try {
    const std::lock_guard lock(machineMutex);
    // "-": the simulator's built-in demonstration machine.
    const zevsim::MachineFileResult loaded =
        std::wstring_view(machineFile) == L"-"
            ? zevsim::MachineFileResult{zevsim::demonstrationMachine(), {}}
            : zevsim::loadMachineFile(zevsim::utf8FromWide(machineFile));
    if (!loaded.config) {
      copyProblem(loaded.error, error, errorSize);
      return 1;
    }
    std::ifstream image(imageFile, std::ios::binary);
    if (!image) {
      copyProblem("cannot read the image " + zevsim::utf8FromWide(imageFile), error, errorSize);
      return 1;
    }
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(image)),
                                    std::istreambuf_iterator<char>());
    machine = std::make_unique<zevsim::Machine>(*loaded.config, std::move(bytes));
    return 0;
  } catch (const std::exception& e) {
    copyProblem(e.what(), error, errorSize);
    return 1;
  }
}

extern "C" intptr_t zev_rig_open(const wchar_t* path, uint32_t access, uint32_t shareMode,
                                 uint32_t disposition, uint32_t flags, uint32_t* error) {
  const std::lock_guard lock(machineMutex);
  const zevsim::SimHandle handle = machine->createFile(path, access, shareMode, disposition, flags);
  *error = machine->lastError();
  return handle;
}

extern "C" int zev_rig_ioctl(intptr_t handle, uint32_t code, const void* in, uint32_t inSize,
                             void* out, uint32_t outSize, uint32_t* returned, uint32_t* error) {
  const std::lock_guard lock(machineMutex);
  // The caller's last error is its own; the machine's is only read after a
  // failure, so it starts at 0 for every request.
  machine->setLastError(0);
  std::uint32_t bytes = 0;
  const bool ok = machine->deviceIoControl(handle, code, in, inSize, out, outSize, &bytes);
  *returned = bytes;
  *error = machine->lastError();
  return ok ? 1 : 0;
}

extern "C" void zev_rig_close(intptr_t handle) {
  const std::lock_guard lock(machineMutex);
  machine->closeHandle(handle);
}

extern "C" size_t zev_rig_report(int32_t exitStatus, char* out, size_t size) {
  const std::lock_guard lock(machineMutex);
  const std::string text = zevsim::reportJson(*machine, exitStatus);
  if (out != nullptr && text.size() <= size) {
    std::memcpy(out, text.data(), text.size());
  }
  return text.size();
}
