// Device properties through the growing-buffer protocol, and the bounded wide
// formatter. Device identifiers are plain ASCII: the reader narrows the value
// (at most 256 bytes, never more than the form's narrow buffer) and widens it
// again one byte per character, which is what the multibyte round trip through
// UTF-8 does for ASCII text.
#include "discovery/device_property.hpp"

#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <optional>
#include <string>

#include "discovery/growing_buffer.hpp"

namespace zev {

namespace {

// The C runtime's bounded conversion converts at most this many bytes.
constexpr std::size_t kConvertedBytesLimit = 256;
constexpr std::size_t kParentNarrowBufferSize = 356;
constexpr std::size_t kInstanceNarrowBufferSize = 256;

// The wide characters of a property value, up to its terminator, never past
// the bytes that the call reported or the buffer holds.
std::wstring wideValue(const GrownValue& value) {
  const std::size_t bytes = std::min<std::size_t>(value.size, value.buffer.size());
  const std::size_t units = bytes / sizeof(wchar_t);
  std::wstring text;
  for (std::size_t i = 0; i < units; ++i) {
    wchar_t unit = 0;
    std::memcpy(&unit, value.buffer.data() + i * sizeof(wchar_t), sizeof(wchar_t));
    if (unit == 0) {
      break;
    }
    text.push_back(unit);
  }
  return text;
}

// Narrow bytes of an ASCII value: one byte per character, at most limit bytes.
// A character outside ASCII has no single-byte form and ends the conversion.
std::string narrowAscii(const std::wstring& wide, std::size_t limit) {
  std::string narrow;
  for (wchar_t c : wide) {
    if (narrow.size() >= limit || static_cast<std::uint32_t>(c) >= 0x80u) {
      break;
    }
    narrow.push_back(static_cast<char>(c));
  }
  return narrow;
}

}  // namespace

namespace {

// The property's wide text, read whole by the growing-buffer protocol.
std::optional<std::wstring> readPropertyText(platform::DeviceSet set,
                                             const platform::DeviceInfoData& device,
                                             const platform::PropertyKey& key) {
  std::uint32_t propertyType = 0;
  const auto value =
      readWithGrowingBuffer([&](std::uint8_t* buffer, std::uint32_t size, std::uint32_t* required) {
        return platform::getDeviceProperty(set, device, key, &propertyType, buffer, size, required);
      });
  if (!value) {
    return std::nullopt;
  }
  return wideValue(*value);
}

}  // namespace

bool readDeviceStringProperty(platform::DeviceSet set, const platform::DeviceInfoData& device,
                              const platform::PropertyKey& key, std::wstring& out,
                              std::size_t narrowBufferSize) {
  const auto text = readPropertyText(set, device, key);
  if (!text) {
    return false;
  }
  const std::string narrow = narrowAscii(*text, std::min(kConvertedBytesLimit, narrowBufferSize));
  out.assign(narrow.begin(), narrow.end());
  return true;
}

bool readDeviceWideStringProperty(platform::DeviceSet set, const platform::DeviceInfoData& device,
                                  const platform::PropertyKey& key, std::wstring& out) {
  const auto text = readPropertyText(set, device, key);
  if (!text) {
    return false;
  }
  out = *text;
  return true;
}

bool readParentInstanceId(platform::DeviceSet set, const platform::DeviceInfoData& device,
                          std::wstring& out) {
  return readDeviceStringProperty(set, device, platform::kDevpkeyDeviceParent, out,
                                  kParentNarrowBufferSize);
}

bool readInstanceId(platform::DeviceSet set, const platform::DeviceInfoData& device,
                    std::wstring& out) {
  return readDeviceStringProperty(set, device, platform::kDevpkeyDeviceInstanceId, out,
                                  kInstanceNarrowBufferSize);
}

int formatWide(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...) {
  if (buffer == nullptr || capacity == 0 || format == nullptr) {
    return -1;
  }
  std::va_list args;
  va_start(args, format);
  const int written = std::vswprintf(buffer, capacity, format, args);
  va_end(args);
  // Some C runtimes return the length the text would have had when it does
  // not fit; a text that does not fit is a failed format either way.
  if (written < 0 || static_cast<std::size_t>(written) >= capacity) {
    return -1;
  }
  return written;
}

}  // namespace zev
