// The NVMe Identify Controller fields the package reads, and the rules that
// turn them into a disk record's identity.
//
//   offset  size  field
//        4    20  SN  serial number
//       24    40  MN  model number
//       64     8  FR  firmware revision
//       77     1  MDTS maximum data transfer size (a power of two of 4 KiB pages)
//       80     4  VER (80: tertiary TER, 81: minor MNR, 82-83: major MJR)
//      260     1  FRMW
//      319     1  FWUG firmware update granularity (4 KiB units)
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace zev::identify {

inline constexpr std::size_t kSnOffset = 4;
inline constexpr std::size_t kSnSize = 20;
inline constexpr std::size_t kMnOffset = 24;
inline constexpr std::size_t kMnSize = 40;
inline constexpr std::size_t kFrOffset = 64;
inline constexpr std::size_t kFrSize = 8;
inline constexpr std::size_t kMdtsOffset = 77;
inline constexpr std::size_t kVerTertiaryOffset = 80;
inline constexpr std::size_t kVerMinorOffset = 81;
inline constexpr std::size_t kVerMajorOffset = 82;
inline constexpr std::size_t kFrmwOffset = 260;
inline constexpr std::size_t kFwugOffset = 319;
inline constexpr std::size_t kDataSize = 4096;

// The fields as the drive returned them, before any text rule: MN, SN and FR
// byte for byte (zero bytes included), VER, MDTS, FRMW and FWUG.
struct RawFields {
  std::string model;
  std::string serial;
  std::string firmware;
  std::uint16_t versionMajor = 0;
  std::uint8_t versionMinor = 0;
  std::uint8_t versionTertiary = 0;
  std::uint8_t fwug = 0;
  std::uint8_t mdts = 0;
  std::uint8_t frmw = 0;
  friend bool operator==(const RawFields&, const RawFields&) = default;
};

// The raw fields of Identify Controller data; a field outside data stays
// empty or 0.
RawFields rawFieldsOf(std::span<const std::uint8_t> identifyData);

// One byte of drive text as the package keeps it. NVMe fills its text fields
// with printable ASCII and blanks; a C0 or C1 control byte (0x00 to 0x1F,
// 0x7F, 0x80 to 0x9F) becomes "?", so that a drive's text can never break a
// console or log line or send an escape sequence to a terminal. Every other
// byte is the character of the same value.
wchar_t driveTextCharacter(std::uint8_t byte);

// The bytes of a text field up to its first zero byte, never more than its
// width, one character per byte; trailing blanks stay (the inbox rule).
std::wstring textUpToZero(std::span<const std::uint8_t> field);
// Every byte of a text field, blanks included, zero bytes as "?" (the Intel
// rule).
std::wstring textWholeField(std::span<const std::uint8_t> field);

// updateGranularity: FWUG when the major version is at least 1, the minor at
// least 3 and FWUG is not 0; else 1. The parts are compared separately, so
// version 2.0 gives 1.
std::int32_t granularityFor(std::uint16_t versionMajor, std::uint8_t versionMinor,
                            std::uint8_t fwug);
// The same read from Identify Controller data (at least 320 bytes).
std::int32_t granularityFromIdentify(std::span<const std::uint8_t> identifyData);

}  // namespace zev::identify
