// Files on the host's own file system, checked, identified and written the
// safe way: the one implementation of the boundary's file functions for the
// Win32 backend and for the sim backend, whose files are the host's. The
// build picks win32/host_files_win32.cpp (Windows hosts) or
// sim/host_files_posix.cpp (POSIX hosts); only the backends include this.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/platform.hpp"

namespace zev::platform::host {

FileCheck checkFileForWriting(const std::wstring& path);
std::optional<FileIdentity> fileIdentity(const std::wstring& path);
void discardFile(const std::wstring& path);

// How one attempt at writing through a temporary file ended.
enum class TemporaryWrite {
  Written,    // the temporary file was created, written and moved over path
  NameTaken,  // something (a file, a link) has the temporary name: nothing touched
  Failed,     // a step failed: the temporary file was removed, path is untouched
};
// Creates temporary exclusively (never opening an existing file, never
// through a link), writes bytes to it and moves it over path.
TemporaryWrite writeThroughTemporary(const std::wstring& path, const std::wstring& temporary,
                                     std::string_view bytes);

// A fresh temporary name beside path: path, the process id and 64 random
// bits, so that no other writer, and no one guessing, has it.
std::wstring temporaryNameBeside(const std::wstring& path);

inline std::wstring temporaryName(const std::wstring& path, std::uint32_t processId,
                                  std::uint64_t random) {
  constexpr const wchar_t* kDigits = L"0123456789abcdef";
  std::wstring name = path + L"." + std::to_wstring(processId) + L".";
  for (int shift = 60; shift >= 0; shift -= 4) {
    name.push_back(kDigits[(random >> shift) & 0xFu]);
  }
  return name + L".tmp";
}

// writeThroughTemporary under the names nameFor gives, a new one after a name
// that was taken, a bounded number of times.
inline bool writeFileSafely(const std::wstring& path, std::string_view bytes,
                            const std::function<std::wstring(const std::wstring&)>& nameFor) {
  constexpr int kNameAttempts = 4;
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    switch (writeThroughTemporary(path, nameFor(path), bytes)) {
      case TemporaryWrite::Written:
        return true;
      case TemporaryWrite::Failed:
        return false;
      case TemporaryWrite::NameTaken:
        break;
    }
  }
  return false;
}

}  // namespace zev::platform::host
