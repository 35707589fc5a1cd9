// Device properties through the growing-buffer protocol.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.hpp"

namespace zev {

// Reads one string-typed device property into out (replacing its content),
// as ASCII of at most 256 characters; true when out was filled.
bool readDeviceStringProperty(platform::DeviceSet set, const platform::DeviceInfoData& device,
                              const platform::PropertyKey& key, std::wstring& out);
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

}  // namespace zev
