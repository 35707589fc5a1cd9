// STUB: replaced by the inbox discovery work.
#include "discovery/device_property.hpp"
namespace zev {
bool readDeviceStringProperty(platform::DeviceSet, const platform::DeviceInfoData&,
                              const platform::PropertyKey&, std::wstring&, std::size_t) {
  return false;
}
bool readParentInstanceId(platform::DeviceSet, const platform::DeviceInfoData&, std::wstring&) {
  return false;
}
bool readInstanceId(platform::DeviceSet, const platform::DeviceInfoData&, std::wstring&) {
  return false;
}
int formatWide(wchar_t*, std::size_t, const wchar_t*, ...) {
  return -1;
}
}  // namespace zev
