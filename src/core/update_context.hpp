// core/: what the whole run shares: the disk records and lists, this
// context, the firmware image and its revision, the result codes, the silent
// flag and the zero-filled buffer. Includes nothing of the package above it.
//
// The run's shared state, created on entry and destroyed just before the entry
// point returns.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "core/disk_info.hpp"

namespace zev {

struct UpdateContext {
  UpdateContext() : inventory(std::make_unique<DiskInventory>()) {}
  ~UpdateContext() {
    // The discovery lists go first (identified, then candidates).
    inventory.reset();
  }
  UpdateContext(const UpdateContext&) = delete;
  UpdateContext& operator=(const UpdateContext&) = delete;

  DiskList updateList;
  std::unique_ptr<DiskInventory> inventory;
  std::wstring silentOption = L"/s";
  std::wstring logOption = L"/log";
  std::wstring logPath = L"test.txt";
  std::wstring inputCommand;
  std::wstring startTime;
  std::wstring endTime;
  std::int32_t finalResult = 0;
  // True once a log option named logPath; a run without one writes no log.
  bool logRequested = false;
};

}  // namespace zev
