// Device properties through the growing-buffer protocol, and the bounded wide
// formatter the discovery paths build device paths with.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace zev {

// Reads one string-typed device property into out (replacing its content);
// true when out was filled. narrowBufferSize is the form's narrow buffer
// (356 bytes for the parent identifier, 256 otherwise).
bool readDeviceStringProperty(platform::DeviceSet set, const platform::DeviceInfoData& device,
                              const platform::PropertyKey& key, std::wstring& out,
                              std::size_t narrowBufferSize = 256);
// Reads one string-typed device property whole, every wide character up to
// its terminator, whatever its length (a driver description may hold "®" or
// run past 256 characters); true when out was filled.
bool readDeviceWideStringProperty(platform::DeviceSet set, const platform::DeviceInfoData& device,
                                  const platform::PropertyKey& key, std::wstring& out);
// The two fixed-key forms.
bool readParentInstanceId(platform::DeviceSet set, const platform::DeviceInfoData& device,
                          std::wstring& out);
bool readInstanceId(platform::DeviceSet set, const platform::DeviceInfoData& device,
                    std::wstring& out);

// Formats into buffer (capacity wide characters, terminator included);
// returns the characters written or -1 when formatting fails.
int formatWide(wchar_t* buffer, std::size_t capacity, const wchar_t* format, ...);

}  // namespace zev
