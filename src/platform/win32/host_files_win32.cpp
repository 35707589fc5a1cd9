// The host's files on Windows (the Win32 backend, and the sim backend on a
// Windows host): CreateFileW with CREATE_NEW and FILE_FLAG_OPEN_REPARSE_POINT
// for every file the package creates, MoveFileExW to replace, the volume
// serial number and file id of an opened file for its identity.

// The SDK headers depend on this order.
#include <windows.h>

#include <algorithm>
#include <iterator>
#include <random>

#include "platform/host_files.hpp"

namespace zev::platform::host {
namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
// Writing, and reading the attributes that tell a regular file.
constexpr DWORD kWriteAccess = GENERIC_WRITE | FILE_READ_ATTRIBUTES;

// Closes a handle at the end of its scope.
class OwnedHandle {
 public:
  explicit OwnedHandle(HANDLE handle) : handle_(handle) {}
  ~OwnedHandle() {
    if (valid()) {
      CloseHandle(handle_);
    }
  }
  OwnedHandle(const OwnedHandle&) = delete;
  OwnedHandle& operator=(const OwnedHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

// A file on a file system, not a directory, a device (NUL, CON, a disk or a
// volume, which GetFileType may also call FILE_TYPE_DISK) or a reparse point
// such as a link opened as itself.
bool isRegular(HANDLE file) {
  if (GetFileType(file) != FILE_TYPE_DISK) {
    return false;
  }
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file, &information)) {
    return false;
  }
  constexpr DWORD kNotRegular =
      FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_REPARSE_POINT;
  return (information.dwFileAttributes & kNotRegular) == 0;
}

bool fileExists(DWORD error) {
  return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

bool writeAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) {
      return false;
    }
    bytes.remove_prefix(written);
  }
  return true;
}

}  // namespace

FileCheck checkFileForWriting(const std::wstring& path) {
  {
    // Nothing there: create it. FILE_FLAG_OPEN_REPARSE_POINT: a link of that
    // name is the name taken, never a way to create its target.
    OwnedHandle created(CreateFileW(path.c_str(), kWriteAccess, kShareAll, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (created.valid()) {
      // A device name (NUL, CON) opens the device whatever the disposition.
      return isRegular(created.get()) ? FileCheck::Created : FileCheck::Refused;
    }
    if (!fileExists(GetLastError())) {
      return FileCheck::Refused;
    }
  }
  OwnedHandle existing(CreateFileW(path.c_str(), kWriteAccess, kShareAll, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
  return existing.valid() && isRegular(existing.get()) ? FileCheck::Existing : FileCheck::Refused;
}

std::optional<FileIdentity> fileIdentity(const std::wstring& path) {
  // FILE_FLAG_BACKUP_SEMANTICS: a directory opens too, and has its identity.
  OwnedHandle file(CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid()) {
    return std::nullopt;
  }
  FileIdentity identity;
  FILE_ID_INFO id{};
  if (GetFileInformationByHandleEx(file.get(), FileIdInfo, &id, sizeof id)) {
    static_assert(sizeof id.FileId.Identifier == sizeof identity.file);
    identity.volume = id.VolumeSerialNumber;
    std::copy(std::begin(id.FileId.Identifier), std::end(id.FileId.Identifier),
              identity.file.begin());
    return identity;
  }
  // Before Windows 8, and on file systems without FileIdInfo: the 64-bit file
  // index, which is the 128-bit id's low half where both exist (NTFS).
  BY_HANDLE_FILE_INFORMATION information{};
  if (!GetFileInformationByHandle(file.get(), &information)) {
    return std::nullopt;
  }
  identity.volume = information.dwVolumeSerialNumber;
  const std::uint64_t index =
      (static_cast<std::uint64_t>(information.nFileIndexHigh) << 32) | information.nFileIndexLow;
  for (std::size_t i = 0; i < 8; ++i) {
    identity.file[i] = static_cast<std::uint8_t>(index >> (8 * i));
  }
  return identity;
}

void discardFile(const std::wstring& path) {
  // DeleteFileW removes a file or a link itself, never a directory.
  if (DeleteFileW(path.c_str())) {
    return;
  }
  OwnedHandle file(CreateFileW(path.c_str(), kWriteAccess, kShareAll, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (file.valid() && isRegular(file.get())) {
    LARGE_INTEGER start{};
    if (SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN)) {
      SetEndOfFile(file.get());
    }
  }
}

TemporaryWrite writeThroughTemporary(const std::wstring& path, const std::wstring& temporary,
                                     std::string_view bytes) {
  bool written = false;
  {
    // CREATE_NEW fails on any existing name, a link included; with
    // FILE_FLAG_OPEN_REPARSE_POINT no reparse point is followed either.
    OwnedHandle file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!file.valid()) {
      return fileExists(GetLastError()) ? TemporaryWrite::NameTaken : TemporaryWrite::Failed;
    }
    written = writeAll(file.get(), bytes);
  }
  if (!written || !MoveFileExW(temporary.c_str(), path.c_str(),
                               MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    DeleteFileW(temporary.c_str());
    return TemporaryWrite::Failed;
  }
  return TemporaryWrite::Written;
}

std::wstring temporaryNameBeside(const std::wstring& path) {
  std::random_device source;
  const std::uint64_t random = (static_cast<std::uint64_t>(source()) << 32) | source();
  return temporaryName(path, static_cast<std::uint32_t>(GetCurrentProcessId()), random);
}

}  // namespace zev::platform::host
