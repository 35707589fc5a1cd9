// The host's files on a POSIX host (the sim backend on Linux): open(2) with
// O_CREAT | O_EXCL | O_NOFOLLOW for every file the package creates, rename(2)
// to replace, stat(2) for a file's device and inode. Wide paths are UTF-8 on
// the host.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <random>

#include "platform/host_files.hpp"
#include "zevsim/utf8.hpp"

namespace zev::platform::host {
namespace {

std::string hostPath(const std::wstring& path) {
  return zevsim::utf8FromWide(path);
}

// Opens path for writing without creating it; a FIFO without a reader does
// not block the run (O_NONBLOCK) and a terminal does not become the process's
// own (O_NOCTTY).
int openExistingForWriting(const std::string& path, int extraFlags) {
  return ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | extraFlags);
}

bool isRegular(int descriptor) {
  struct stat status {};
  return ::fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode);
}

bool writeAll(int descriptor, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(descriptor, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) {
      continue;
    }
    if (written <= 0) {
      return false;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

}  // namespace

FileCheck checkFileForWriting(const std::wstring& path) {
  const std::string file = hostPath(path);
  // Nothing there: create it, and never through a dangling link.
  int descriptor =
      ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
  if (descriptor >= 0) {
    ::close(descriptor);
    return FileCheck::Created;
  }
  if (errno != EEXIST) {
    return FileCheck::Refused;
  }
  descriptor = openExistingForWriting(file, 0);
  if (descriptor < 0) {
    return FileCheck::Refused;
  }
  const bool regular = isRegular(descriptor);
  ::close(descriptor);
  return regular ? FileCheck::Existing : FileCheck::Refused;
}

std::optional<FileIdentity> fileIdentity(const std::wstring& path) {
  struct stat status {};
  if (::stat(hostPath(path).c_str(), &status) != 0) {
    return std::nullopt;
  }
  FileIdentity identity;
  identity.volume = static_cast<std::uint64_t>(status.st_dev);
  const auto inode = static_cast<std::uint64_t>(status.st_ino);
  for (std::size_t i = 0; i < 8; ++i) {
    identity.file[i] = static_cast<std::uint8_t>(inode >> (8 * i));
  }
  return identity;
}

void discardFile(const std::wstring& path) {
  const std::string file = hostPath(path);
  struct stat status {};
  if (::lstat(file.c_str(), &status) != 0 ||
      !(S_ISREG(status.st_mode) || S_ISLNK(status.st_mode))) {
    return;
  }
  if (::unlink(file.c_str()) == 0 || S_ISLNK(status.st_mode)) {
    return;
  }
  const int descriptor = openExistingForWriting(file, O_NOFOLLOW);
  if (descriptor >= 0) {
    if (isRegular(descriptor)) {
      static_cast<void>(::ftruncate(descriptor, 0));
    }
    ::close(descriptor);
  }
}

TemporaryWrite writeThroughTemporary(const std::wstring& path, const std::wstring& temporary,
                                     std::string_view bytes) {
  const std::string target = hostPath(path);
  const std::string file = hostPath(temporary);
  const int descriptor =
      ::open(file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY, 0666);
  if (descriptor < 0) {
    // O_EXCL refuses a link of that name too, dangling or not (EEXIST).
    return errno == EEXIST ? TemporaryWrite::NameTaken : TemporaryWrite::Failed;
  }
  const bool written = writeAll(descriptor, bytes);
  const bool closed = ::close(descriptor) == 0;
  if (!written || !closed || ::rename(file.c_str(), target.c_str()) != 0) {
    ::unlink(file.c_str());
    return TemporaryWrite::Failed;
  }
  return TemporaryWrite::Written;
}

std::wstring temporaryNameBeside(const std::wstring& path) {
  std::random_device source;
  const std::uint64_t random = (static_cast<std::uint64_t>(source()) << 32) | source();
  return temporaryName(path, static_cast<std::uint32_t>(::getpid()), random);
}

}  // namespace zev::platform::host
