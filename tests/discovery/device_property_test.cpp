// The growing-buffer protocol, the device-property reader's bounds, and the
// bounded wide formatter.
#include "discovery/device_property.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "discovery/growing_buffer.hpp"
#include "platform/platform_constants.hpp"
#include "support/bound_machine.hpp"

namespace zev {
namespace {

using InboxMachine = testsupport::CapturedMachine;

// A query that reports the sizes of a script, one per call, failing with the
// script's error until a call offers enough room.
struct ScriptedQuery {
  zevsim::Machine& machine;
  std::vector<std::uint32_t> reported;  // required size reported by call i
  std::vector<std::uint32_t> errors;    // error of call i when it fails
  std::vector<std::uint32_t> offered;   // sizes offered, recorded
  bool operator()(std::uint8_t* buffer, std::uint32_t size, std::uint32_t* required) {
    const std::size_t call = offered.size();
    offered.push_back(size);
    *required = reported.at(call);
    if (errors.at(call) == 0 && buffer == nullptr) {
      return true;  // no value to read
    }
    if (errors.at(call) == 0 && buffer != nullptr && size >= *required) {
      std::memset(buffer, 0xAB, *required);
      return true;
    }
    machine.setLastError(errors.at(call) != 0 ? errors.at(call)
                                              : platform::kErrorInsufficientBuffer);
    return false;
  }
};

TEST(GrowingBuffer, OffersTwiceTheReportedSizeZeroFilled) {
  InboxMachine sim(R"({ "description": "none" })");
  ScriptedQuery query{sim.machine(), {10, 10}, {122, 0}, {}};
  const auto value = readWithGrowingBuffer(std::ref(query));
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(query.offered, (std::vector<std::uint32_t>{0, 20}));
  EXPECT_EQ(value->size, 10u);
  ASSERT_EQ(value->buffer.size(), 20u);
  EXPECT_EQ(value->buffer[9], 0xAB);
  EXPECT_EQ(value->buffer[10], 0x00);  // the rest of the doubled buffer stays zero
}

TEST(GrowingBuffer, GrowsAgainWhileTheValueGrows) {
  InboxMachine sim(R"({ "description": "none" })");
  ScriptedQuery query{sim.machine(), {10, 50, 50}, {122, 122, 0}, {}};
  const auto value = readWithGrowingBuffer(std::ref(query));
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(query.offered, (std::vector<std::uint32_t>{0, 20, 100}));
  EXPECT_EQ(value->size, 50u);
}

struct EndCase {
  const char* name;
  std::vector<std::uint32_t> reported;
  std::vector<std::uint32_t> errors;
  std::size_t calls;
};

TEST(GrowingBuffer, EndsWithoutAValue) {
  const std::vector<EndCase> cases = {
      {"first call succeeds: no value", {0}, {0}, 1},
      {"another error at once", {10}, {13}, 1},
      {"another error after growing", {10, 10}, {122, 1117}, 2},
      {"asks for no more than offered", {10, 20}, {122, 122}, 2},
      {"reports zero", {0, 0}, {122, 122}, 2},
      {"doubled size beyond 32 bits", {0x80000000u}, {122}, 1},
  };
  for (const EndCase& c : cases) {
    SCOPED_TRACE(c.name);
    InboxMachine sim(R"({ "description": "none" })");
    ScriptedQuery query{sim.machine(), c.reported, c.errors, {}};
    EXPECT_FALSE(readWithGrowingBuffer(std::ref(query)).has_value());
    EXPECT_EQ(query.offered.size(), c.calls);
  }
}

// Reads the string property key of the first disk of the disk-interface set.
bool readFirstDisk(const platform::PropertyKey& key, std::wstring& out, bool parentForm = false,
                   bool instanceForm = false) {
  const platform::DeviceSet set = platform::getClassDevs(
      platform::kGuidDevinterfaceDisk, platform::kDigcfPresent | platform::kDigcfDeviceInterface);
  platform::DeviceInfoData device;
  device.cbSize = platform::kDeviceInfoDataCbSize;
  bool ok = false;
  if (platform::enumDeviceInfo(set, 0, device)) {
    if (parentForm) {
      ok = readParentInstanceId(set, device, out);
    } else if (instanceForm) {
      ok = readInstanceId(set, device, out);
    } else {
      ok = readDeviceStringProperty(set, device, key, out);
    }
  }
  platform::destroyDeviceInfoList(set);
  return ok;
}

std::string diskWith(const std::string& keys) {
  return R"({ "description": "one disk", "drives": [ { "id": "a" } ],
             "inbox": [ { "drive": "a")" +
         keys + " } ] }";
}

TEST(DeviceProperty, ReadsAndReplacesTheOutput) {
  InboxMachine sim(diskWith(R"(, "instanceId": "SCSI\\DISK&VEN_NVME&PROD_X\\5&1&0&000000")"));
  std::wstring out = L"old content that is longer than the value";
  ASSERT_TRUE(readFirstDisk(platform::kDevpkeyDeviceInstanceId, out));
  EXPECT_EQ(out, L"SCSI\\DISK&VEN_NVME&PROD_X\\5&1&0&000000");
  EXPECT_EQ(sim.machine().handlesLeftOpen(), 0u);
}

TEST(DeviceProperty, AbsentPropertyLeavesTheOutput) {
  InboxMachine sim(diskWith(R"(, "instanceId": null)"));
  std::wstring out = L"unchanged";
  EXPECT_FALSE(readFirstDisk(platform::kDevpkeyDeviceInstanceId, out));
  EXPECT_EQ(out, L"unchanged");
}

TEST(DeviceProperty, ConversionIsBoundedTo256Bytes) {
  const std::string longId = "SCSI_" + std::string(395, 'Q');
  InboxMachine sim(diskWith(R"(, "instanceId": ")" + longId +
                            R"(", "parentInstanceId": "PCI\\VEN_1D9B)" + std::string(390, 'P') +
                            R"(")"));
  std::wstring out;
  ASSERT_TRUE(readFirstDisk(platform::kDevpkeyDeviceInstanceId, out, false, true));
  EXPECT_EQ(out, std::wstring(longId.begin(), longId.begin() + 256));
  ASSERT_TRUE(readFirstDisk(platform::kDevpkeyDeviceParent, out, true));
  EXPECT_EQ(out.size(), 256u);
  EXPECT_EQ(out.substr(0, 12), L"PCI\\VEN_1D9B");
}

TEST(DeviceProperty, FailedPropertyCall) {
  InboxMachine sim(diskWith(""));
  sim.machine().injectCallFault(testsupport::callFault(zevsim::CallKind::GetDeviceProperty, 13));
  std::wstring out = L"unchanged";
  EXPECT_FALSE(readFirstDisk(platform::kDevpkeyDeviceInstanceId, out));
  EXPECT_EQ(out, L"unchanged");
}

}  // namespace
}  // namespace zev
