// Device properties through the growing-buffer protocol. Device identifiers
// are plain ASCII: the reader narrows the value (at most the 256 bytes the C
// runtime's bounded conversion converts, which the forms' narrow buffers of
// 256 and 356 bytes both hold) and widens it again one byte per character,
// which is what the multibyte round trip through UTF-8 does for ASCII text.
#include "discovery/device_property.hpp"

#include <algorithm>
#include <optional>
#include <span>
#include <string>

#include "core/text.hpp"
#include "discovery/growing_buffer.hpp"

namespace zev {

namespace {

// The C runtime's bounded conversion converts at most this many bytes.
constexpr std::size_t kConvertedBytesLimit = 256;

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
  const std::size_t bytes = std::min<std::size_t>(value->size, value->buffer.size());
  return wideTextUpToZero(std::span<const std::uint8_t>(value->buffer).first(bytes));
}

}  // namespace

bool readDeviceStringProperty(platform::DeviceSet set, const platform::DeviceInfoData& device,
                              const platform::PropertyKey& key, std::wstring& out) {
  const auto text = readPropertyText(set, device, key);
  if (!text) {
    return false;
  }
  const std::string narrow = narrowAscii(*text, kConvertedBytesLimit);
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
  return readDeviceStringProperty(set, device, platform::kDevpkeyDeviceParent, out);
}

bool readInstanceId(platform::DeviceSet set, const platform::DeviceInfoData& device,
                    std::wstring& out) {
  return readDeviceStringProperty(set, device, platform::kDevpkeyDeviceInstanceId, out);
}

}  // namespace zev
