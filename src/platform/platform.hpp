// The thin boundary between the package and the operating system.
//
// Every call the package makes to the machine goes through these functions:
// device-information sets and their properties (SetupAPI), device handles and
// device requests, the last-error value, the module handle, the message box,
// the event log, local time, the log file and standard output. The build
// picks one backend: src/platform/win32/ (the real Windows calls) or
// src/platform/sim/ (the simulated machine). Nothing above this header knows
// which one it runs on.
//
// The functions keep the Win32 conventions: a failing call returns false (or
// an invalid handle) and leaves its reason in getLastError(); buffers and
// sizes are in bytes; wide text is wchar_t.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zev::platform {

using Handle = std::intptr_t;
inline constexpr Handle kInvalidHandle = -1;

using DeviceSet = std::intptr_t;
inline constexpr DeviceSet kInvalidDeviceSet = -1;

struct Guid {
  std::uint32_t data1 = 0;
  std::uint16_t data2 = 0;
  std::uint16_t data3 = 0;
  std::array<std::uint8_t, 8> data4{};
  friend bool operator==(const Guid&, const Guid&) = default;
};

struct PropertyKey {
  Guid fmtid;
  std::uint32_t pid = 0;
  friend bool operator==(const PropertyKey&, const PropertyKey&) = default;
};

// SP_DEVINFO_DATA: names one device of a set. devInst is the device-instance
// handle, the same for a device in every set.
struct DeviceInfoData {
  std::uint32_t cbSize = 0;
  Guid classGuid;
  std::uint32_t devInst = 0;
  std::uintptr_t reserved = 0;
};

// SP_DEVICE_INTERFACE_DATA: names one device interface of a set.
struct DeviceInterfaceData {
  std::uint32_t cbSize = 0;
  Guid interfaceClassGuid;
  std::uint32_t flags = 0;
  std::uintptr_t reserved = 0;
};

// SP_DEVICE_INTERFACE_DETAIL_DATA_W as a byte buffer: cbSize in the first four
// bytes, then the NUL-terminated device path of wchar_t.
inline constexpr std::uint32_t kInterfaceDetailCbSize = 8;
inline constexpr std::size_t kInterfaceDetailPathOffset = 4;

struct LocalTime {
  int year = 1970;
  int month = 1;  // 1 to 12
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  int utcOffsetMinutes = 0;  // local time minus UTC
};

// The identity of a file: the volume it is on and its index there (on Windows
// the volume serial number and the file id, 128 bits on ReFS; on a POSIX host
// the device and the inode). Two paths name one file exactly when their
// identities are equal, whatever their spelling.
struct FileIdentity {
  std::uint64_t volume = 0;
  std::array<std::uint8_t, 16> file{};
  friend bool operator==(const FileIdentity&, const FileIdentity&) = default;
};

// What the check of a path to be written found there.
enum class FileCheck {
  Refused,   // it cannot be opened for writing, or it is not a regular file
  Existing,  // a regular file, opened for writing and left as it was
  Created,   // nothing: the check created an empty file
};

// The type of an event log entry, with the values of ReportEventW's wType
// (EVENTLOG_ERROR_TYPE, EVENTLOG_WARNING_TYPE, EVENTLOG_INFORMATION_TYPE).
enum class EventType : std::uint16_t {
  Error = 1,
  Warning = 2,
  Information = 4,
};

// --- Device-information sets (SetupAPI) ---
DeviceSet getClassDevs(const Guid& classGuid, std::uint32_t flags);
bool enumDeviceInfo(DeviceSet set, std::uint32_t memberIndex, DeviceInfoData& deviceInfo);
bool enumDeviceInterfaces(DeviceSet set, const DeviceInfoData* deviceInfo,
                          const Guid& interfaceClass, std::uint32_t memberIndex,
                          DeviceInterfaceData& interfaceData);
// detail may be null with detailSize 0 to ask for the required size.
bool getDeviceInterfaceDetail(DeviceSet set, const DeviceInterfaceData& interfaceData,
                              std::uint8_t* detail, std::uint32_t detailSize,
                              std::uint32_t* requiredSize, DeviceInfoData* deviceInfo);
bool getDeviceProperty(DeviceSet set, const DeviceInfoData& deviceInfo, const PropertyKey& key,
                       std::uint32_t* propertyType, std::uint8_t* buffer, std::uint32_t bufferSize,
                       std::uint32_t* requiredSize);
bool getDeviceRegistryProperty(DeviceSet set, const DeviceInfoData& deviceInfo,
                               std::uint32_t property, std::uint32_t* dataType,
                               std::uint8_t* buffer, std::uint32_t bufferSize,
                               std::uint32_t* requiredSize);
bool destroyDeviceInfoList(DeviceSet set);

// --- Device I/O ---
Handle createFile(const wchar_t* path, std::uint32_t desiredAccess, std::uint32_t shareMode,
                  std::uint32_t creationDisposition, std::uint32_t flagsAndAttributes);
bool deviceIoControl(Handle handle, std::uint32_t controlCode, void* inBuffer,
                     std::uint32_t inBufferSize, void* outBuffer, std::uint32_t outBufferSize,
                     std::uint32_t* bytesReturned);
bool closeHandle(Handle handle);
std::uint32_t getLastError();

// --- Process ---
// True when the program's own module handle could be obtained.
bool getModuleHandle();
// Shows a modal box with one OK button and no icon; returns when dismissed.
void showMessageBox(const std::wstring& text, const std::wstring& caption);
LocalTime localTime();
// The computer's NetBIOS name (GetComputerNameW).
std::wstring computerName();
// The system-wide guard of one run at a time (on Windows a named mutex in the
// global namespace), held from acquire to release. False when another run of
// the package holds it.
bool acquireRunGuard();
void releaseRunGuard();
// Writes one entry with one string, text (a C string to the call: it must
// hold no zero character), to the Application log from source. On Windows the
// source is first registered under the EventLog service's Application key
// with the message file that shows the string itself, so that the entry
// reads in full without the package; a key that already names that file is
// left alone. False when the entry could not be written.
bool writeEventLogEntry(const std::wstring& source, EventType type, std::uint32_t id,
                        const std::wstring& text);

// --- Files and standard output ---
// Checks that path can be written. An existing file is opened for writing and
// closed again, never cut; where nothing is, an empty file is created
// exclusively, never through a link. A directory, a device or any other
// thing than a regular file is refused.
FileCheck openFileForWriting(const std::wstring& path);
// The identity of the file path names (after links); nothing when it cannot
// be opened.
std::optional<FileIdentity> fileIdentity(const std::wstring& path);
// Replaces the content of path with bytes: they are written to a temporary
// file beside it, under a name no other file has (the process id and a random
// part), created exclusively so that no existing file is opened and no link
// followed, which is then moved over path; a reader finds the old content or
// the new, never part of it. False when it cannot be written: path is then
// untouched and the temporary file removed.
bool writeFileSafely(const std::wstring& path, std::string_view bytes);
// Removes the file path names (a link itself, never what it points to), or
// empties it where it cannot be removed; anything but a regular file or a
// link is left alone.
void discardFile(const std::wstring& path);
// Appends bytes to standard output, unchanged (no line-break translation).
void writeStandardOutput(std::string_view bytes);
void flushStandardOutput();

}  // namespace zev::platform
