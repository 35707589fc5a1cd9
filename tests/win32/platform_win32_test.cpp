// The Win32 backend of the platform boundary against a real Windows API
// (Wine's, in the cross build's test run): the records round-trip through
// SetupAPI, failures arrive through getLastError, device requests reach a
// real disk, the log file keeps its bytes and its wide name, and files are
// told apart by identity and written through exclusively created temporary
// files.
//
// Built only for Windows, into its own test program (zev_win32_tests), since
// zev_tests links the sim backend that defines the same functions.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/host_files.hpp"
#include "platform/platform.hpp"
#include "platform/platform_constants.hpp"
#include "records/little_endian.hpp"

namespace zev::platform {
namespace {

constexpr std::uint32_t kRegMultiSz = 7;      // REG_MULTI_SZ
constexpr std::uint32_t kFileDeviceDisk = 7;  // FILE_DEVICE_DISK
constexpr std::uint32_t kErrorInvalidUserBuffer = 1784;

DeviceInfoData freshDeviceInfo() {
  DeviceInfoData d;
  d.cbSize = kDeviceInfoDataCbSize;
  return d;
}

std::filesystem::path scratchFile(const std::wstring& name) {
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / L"zev_win32_tests";
  std::filesystem::create_directories(dir);
  return dir / name;
}

std::string readBytes(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// The strings of a REG_MULTI_SZ value; empty when the closing empty string is
// missing.
std::vector<std::wstring> hardwareIds(std::span<const std::uint8_t> bytes) {
  std::vector<std::wstring> ids;
  std::wstring current;
  for (std::size_t at = 0; at + 2 <= bytes.size(); at += 2) {
    const std::uint16_t c = loadLe16(bytes, at);
    if (c != 0) {
      current.push_back(static_cast<wchar_t>(c));
    } else if (current.empty()) {
      return ids;
    } else {
      ids.push_back(current);
      current.clear();
    }
  }
  return {};
}

// Every device of the all-classes set answers SPDRP_HARDWAREID by the growing-
// buffer protocol. Reading a property needs the set's own Reserved value in
// SP_DEVINFO_DATA, so this also shows that the record survives the copy to
// and from the SDK's.
TEST(Win32DeviceSetTest, HardwareIdsFollowTheGrowingBufferProtocol) {
  const DeviceSet set = getClassDevs(Guid{}, kDigcfAllClasses | kDigcfPresent);
  ASSERT_NE(set, kInvalidDeviceSet);
  std::uint32_t devices = 0;
  std::uint32_t endError = 0;
  for (std::uint32_t i = 0;; ++i) {
    DeviceInfoData device = freshDeviceInfo();
    if (!enumDeviceInfo(set, i, device)) {
      endError = getLastError();
      break;
    }
    ++devices;
    std::uint32_t type = 0;
    std::uint32_t required = 0;
    EXPECT_FALSE(
        getDeviceRegistryProperty(set, device, kSpdrpHardwareId, &type, nullptr, 0, &required));
    EXPECT_EQ(getLastError(), kErrorInsufficientBuffer) << "device " << i;
    ASSERT_GE(required, 4u) << "device " << i;

    std::vector<std::uint8_t> buffer(required, 0xEE);
    std::uint32_t returned = 0;
    ASSERT_TRUE(getDeviceRegistryProperty(set, device, kSpdrpHardwareId, &type, buffer.data(),
                                          required, &returned))
        << "device " << i << ", error " << getLastError();
    EXPECT_EQ(type, kRegMultiSz);
    EXPECT_EQ(returned, required);
    // A list of NUL-terminated UTF-16 strings closed by an empty one, inside
    // the bytes written (Wine reports some lists longer than they are).
    const std::vector<std::wstring> ids = hardwareIds(buffer);
    ASSERT_FALSE(ids.empty()) << "device " << i;
    EXPECT_FALSE(ids.front().empty()) << "device " << i;
  }
  EXPECT_GT(devices, 0u);
  EXPECT_EQ(endError, kErrorNoMoreItems);
  EXPECT_TRUE(destroyDeviceInfoList(set));
}

// The caller's cbSize reaches SetupAPI unchanged: a wrong one is refused.
TEST(Win32DeviceSetTest, CallersCbSizeIsChecked) {
  const DeviceSet set = getClassDevs(Guid{}, kDigcfAllClasses | kDigcfPresent);
  ASSERT_NE(set, kInvalidDeviceSet);
  DeviceInfoData device;
  device.cbSize = 0;
  EXPECT_FALSE(enumDeviceInfo(set, 0, device));
  EXPECT_EQ(getLastError(), kErrorInvalidUserBuffer);
  EXPECT_TRUE(destroyDeviceInfoList(set));
}

TEST(Win32DeviceSetTest, AbsentPropertyIsNotFound) {
  const DeviceSet set = getClassDevs(Guid{}, kDigcfAllClasses | kDigcfPresent);
  ASSERT_NE(set, kInvalidDeviceSet);
  DeviceInfoData device = freshDeviceInfo();
  ASSERT_TRUE(enumDeviceInfo(set, 0, device));
  const PropertyKey nobodysKey{
      {0x5A45564Eu, 0x0001, 0x0002, {0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A}}, 77};
  std::uint32_t type = 0;
  std::uint32_t required = 0;
  EXPECT_FALSE(getDeviceProperty(set, device, nobodysKey, &type, nullptr, 0, &required));
  EXPECT_EQ(getLastError(), kErrorNotFound);
  EXPECT_TRUE(destroyDeviceInfoList(set));
}

// Every disk interface yields its device path by the two-call detail protocol;
// the walk ends with ERROR_NO_MORE_ITEMS (at once where, as under Wine, the
// disk interface class has no members).
TEST(Win32DeviceSetTest, DiskInterfacesGiveTheirDevicePaths) {
  const DeviceSet set = getClassDevs(kGuidDevinterfaceDisk, kDigcfPresent | kDigcfDeviceInterface);
  ASSERT_NE(set, kInvalidDeviceSet);
  std::uint32_t endError = 0;
  for (std::uint32_t i = 0; i < 256; ++i) {
    DeviceInterfaceData data;
    data.cbSize = kDeviceInterfaceDataCbSize;
    if (!enumDeviceInterfaces(set, nullptr, kGuidDevinterfaceDisk, i, data)) {
      endError = getLastError();
      break;
    }
    EXPECT_EQ(data.interfaceClassGuid, kGuidDevinterfaceDisk);
    std::uint32_t required = 0;
    EXPECT_FALSE(getDeviceInterfaceDetail(set, data, nullptr, 0, &required, nullptr));
    EXPECT_EQ(getLastError(), kErrorInsufficientBuffer);
    ASSERT_GT(required, kInterfaceDetailCbSize);
    std::vector<std::uint8_t> detail(required, 0);
    storeLe32(detail, 0, kInterfaceDetailCbSize);
    DeviceInfoData device = freshDeviceInfo();
    ASSERT_TRUE(getDeviceInterfaceDetail(set, data, detail.data(), required, &required, &device));
    // The path begins with two backslashes ("\\?\" or "\\.\").
    EXPECT_EQ(loadLe16(detail, kInterfaceDetailPathOffset), 0x5Cu);
    EXPECT_EQ(loadLe16(detail, kInterfaceDetailPathOffset + 2), 0x5Cu);
  }
  EXPECT_EQ(endError, kErrorNoMoreItems);
  EXPECT_TRUE(destroyDeviceInfoList(set));
}

// IOCTL_STORAGE_GET_DEVICE_NUMBER on \\.\PHYSICALDRIVE0: the reply's
// STORAGE_DEVICE_NUMBER and its byte count come back through the boundary.
TEST(Win32DeviceIoTest, PhysicalDriveAnswersItsDeviceNumber) {
  const Handle disk = createFile(L"\\\\.\\PHYSICALDRIVE0", kGenericReadWrite, kFileShareReadWrite,
                                 kOpenExisting, 0);
  ASSERT_NE(disk, kInvalidHandle) << "error " << getLastError();
  std::array<std::uint8_t, 12> reply{};
  reply.fill(0xEE);
  std::uint32_t returned = 0;
  ASSERT_TRUE(deviceIoControl(disk, kIoctlStorageGetDeviceNumber, nullptr, 0, reply.data(),
                              static_cast<std::uint32_t>(reply.size()), &returned))
      << "error " << getLastError();
  EXPECT_EQ(returned, reply.size());
  EXPECT_EQ(loadLe32(reply, 0), kFileDeviceDisk);
  EXPECT_EQ(loadLe32(reply, 4), 0u);
  EXPECT_TRUE(closeHandle(disk));
}

TEST(Win32DeviceIoTest, RequestOnAClosedHandleFailsWithInvalidHandle) {
  const Handle disk = createFile(L"\\\\.\\PHYSICALDRIVE0", kGenericReadWrite, kFileShareReadWrite,
                                 kOpenExisting, 0);
  ASSERT_NE(disk, kInvalidHandle);
  ASSERT_TRUE(closeHandle(disk));
  std::array<std::uint8_t, 12> reply{};
  std::uint32_t returned = 0;
  EXPECT_FALSE(deviceIoControl(disk, kIoctlStorageGetDeviceNumber, nullptr, 0, reply.data(),
                               static_cast<std::uint32_t>(reply.size()), &returned));
  EXPECT_EQ(getLastError(), kErrorInvalidHandle);
}

TEST(Win32DeviceIoTest, OpenOfAMissingDeviceFailsWithFileNotFound) {
  EXPECT_EQ(createFile(L"\\\\.\\ZevNoSuchDevice", kGenericReadWrite, kFileShareReadWrite,
                       kOpenExisting, 0),
            kInvalidHandle);
  EXPECT_EQ(getLastError(), kErrorFileNotFound);
}

// The log keeps "\n" as one byte, zero bytes and bytes of 0x80 and above.
TEST(Win32FileTest, LogBytesAreWrittenUnchanged) {
  const std::filesystem::path path = scratchFile(L"bytes.log");
  const std::string bytes("Start\nA\r\nB\0C\xFF\x80\n", 15);
  ASSERT_TRUE(writeFileSafely(path.wstring(), bytes));
  EXPECT_EQ(readBytes(path), bytes);
}

// Names are passed as wide text: a name outside every narrow code page works.
TEST(Win32FileTest, WideFileNamesAreKept) {
  const std::filesystem::path path = scratchFile(L"zev_\u00E9\u6F22\u0416.log");
  std::filesystem::remove(path);
  ASSERT_EQ(openFileForWriting(path.wstring()), FileCheck::Created);
  EXPECT_TRUE(std::filesystem::exists(path));
  ASSERT_TRUE(writeFileSafely(path.wstring(), "x\n"));
  EXPECT_EQ(readBytes(path), "x\n");
}

TEST(Win32FileTest, OpeningForWritingKeepsAnExistingFile) {
  const std::filesystem::path path = scratchFile(L"old.log");
  ASSERT_TRUE(writeFileSafely(path.wstring(), "previous run\n"));
  ASSERT_EQ(openFileForWriting(path.wstring()), FileCheck::Existing);
  EXPECT_EQ(readBytes(path), "previous run\n");
}

TEST(Win32FileTest, MissingDirectoryIsRefused) {
  const std::filesystem::path path = scratchFile(L"no_such_dir") / L"x.log";
  EXPECT_EQ(openFileForWriting(path.wstring()), FileCheck::Refused);
  EXPECT_FALSE(writeFileSafely(path.wstring(), "x"));
  EXPECT_FALSE(std::filesystem::exists(path));
}

// One file under every spelling Windows accepts for it (letter case, ".",
// "..", a hard link) has one identity; another file has another.
TEST(Win32FileTest, IdentityIgnoresTheSpelling) {
  const std::filesystem::path dir = scratchFile(L"identity");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / L"sub");
  ASSERT_EQ(openFileForWriting((dir / L"a.txt").wstring()), FileCheck::Created);
  ASSERT_EQ(openFileForWriting((dir / L"b.txt").wstring()), FileCheck::Created);
  std::filesystem::create_hard_link(dir / L"a.txt", dir / L"hard.txt");
  const std::optional<FileIdentity> a = fileIdentity((dir / L"a.txt").wstring());
  ASSERT_TRUE(a.has_value());
  for (const std::wstring& spelling :
       {(dir / L"A.TXT").wstring(), dir.wstring() + L"\\.\\a.txt",
        dir.wstring() + L"\\sub\\..\\a.Txt", (dir / L"hard.txt").wstring()}) {
    EXPECT_EQ(fileIdentity(spelling), a) << std::filesystem::path(spelling).string();
  }
  EXPECT_NE(fileIdentity((dir / L"b.txt").wstring()), a);
  EXPECT_FALSE(fileIdentity((dir / L"missing.txt").wstring()).has_value());
}

// The check creates a missing file, keeps an existing one, and refuses what
// is not a regular file: a directory, a device.
TEST(Win32FileTest, CheckRefusesDirectoriesAndDevices) {
  const std::filesystem::path dir = scratchFile(L"check");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  EXPECT_EQ(openFileForWriting((dir / L"new.log").wstring()), FileCheck::Created);
  EXPECT_EQ(openFileForWriting((dir / L"new.log").wstring()), FileCheck::Existing);
  EXPECT_EQ(openFileForWriting(dir.wstring()), FileCheck::Refused);
  EXPECT_EQ(openFileForWriting(L"NUL"), FileCheck::Refused);
  EXPECT_EQ(openFileForWriting(L"\\\\.\\NUL"), FileCheck::Refused);
}

// CREATE_NEW never opens what has the temporary name: the attempt reports
// the name taken and touches neither that file nor the target. A free name
// is written and moved over the target, and nothing is left beside it.
TEST(Win32FileTest, TemporaryFileIsCreatedExclusively) {
  const std::filesystem::path dir = scratchFile(L"temporary");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir);
  const std::filesystem::path target = dir / L"run.json";
  const std::filesystem::path temporary = dir / L"run.json.tmp";
  ASSERT_TRUE(writeFileSafely(target.wstring(), "earlier\n"));
  ASSERT_TRUE(writeFileSafely(temporary.wstring(), "someone else's\n"));
  EXPECT_EQ(host::writeThroughTemporary(target.wstring(), temporary.wstring(), "new\n"),
            host::TemporaryWrite::NameTaken);
  EXPECT_EQ(readBytes(temporary), "someone else's\n");
  EXPECT_EQ(readBytes(target), "earlier\n");
  std::filesystem::remove(temporary);
  EXPECT_EQ(host::writeThroughTemporary(target.wstring(), temporary.wstring(), "new\n"),
            host::TemporaryWrite::Written);
  EXPECT_EQ(readBytes(target), "new\n");
  EXPECT_FALSE(std::filesystem::exists(temporary));
  // A target that cannot be replaced (a directory): the temporary file goes.
  std::filesystem::create_directories(dir / L"folder");
  EXPECT_EQ(host::writeThroughTemporary((dir / L"folder").wstring(), temporary.wstring(), "x"),
            host::TemporaryWrite::Failed);
  EXPECT_FALSE(std::filesystem::exists(temporary));
  // The package's own names are fresh each time: one file is left, the target.
  ASSERT_TRUE(writeFileSafely(target.wstring(), "again\n"));
  EXPECT_EQ(readBytes(target), "again\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), {}), 2);
}

// A results file is removed, a directory is left alone.
TEST(Win32FileTest, DiscardRemovesAFileOnly) {
  const std::filesystem::path dir = scratchFile(L"discard");
  std::filesystem::remove_all(dir);
  std::filesystem::create_directories(dir / L"folder");
  ASSERT_TRUE(writeFileSafely((dir / L"run.json").wstring(), "{}"));
  discardFile((dir / L"run.json").wstring());
  EXPECT_FALSE(std::filesystem::exists(dir / L"run.json"));
  discardFile((dir / L"folder").wstring());
  EXPECT_TRUE(std::filesystem::is_directory(dir / L"folder"));
}

TEST(Win32ProcessTest, ModuleHandleIsAvailable) {
  EXPECT_TRUE(getModuleHandle());
}

}  // namespace
}  // namespace zev::platform
