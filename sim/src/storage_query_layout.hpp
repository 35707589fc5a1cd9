// The storage requests every disk answers: STORAGE_DEVICE_NUMBER (the output
// of IOCTL_STORAGE_GET_DEVICE_NUMBER) and IOCTL_STORAGE_QUERY_PROPERTY's
// STORAGE_PROPERTY_QUERY with STORAGE_PROTOCOL_SPECIFIC_DATA and its
// STORAGE_PROTOCOL_DATA_DESCRIPTOR reply, as the inbox NVMe driver reads and
// fills them for an NVMe Identify.
//
// Named offsets over byte buffers (byte_order.hpp reads and writes them),
// never a struct overlay; nothing of the package is included.
//
// STORAGE_DEVICE_NUMBER:
//   offset  size  field
//        0     4  DeviceType
//        4     4  DeviceNumber
//        8     4  PartitionNumber
//
// Query:                               Reply:
//   offset  size  field                  offset  size  field
//        0     4  PropertyId                  0     4  Version (48)
//        4     4  QueryType                   4     4  Size (48)
//        8    40  protocol-specific data      8    40  protocol-specific data
//
// STORAGE_PROTOCOL_SPECIFIC_DATA (offsets within the 40-byte block):
//        0     4  ProtocolType
//        4     4  DataType
//        8     4  ProtocolDataRequestValue
//       12     4  ProtocolDataRequestSubValue
//       16     4  ProtocolDataOffset (from the start of this block)
//       20     4  ProtocolDataLength
//       24     4  FixedProtocolReturnData
//       28    12  ProtocolDataRequestSubValue2..4
#pragma once

#include <cstddef>
#include <cstdint>

namespace zevsim {

namespace device_number {

inline constexpr std::size_t kDeviceType = 0;
inline constexpr std::size_t kDeviceNumber = 4;
inline constexpr std::size_t kPartitionNumber = 8;
inline constexpr std::size_t kSize = 12;
static_assert(kPartitionNumber + 4 == kSize);

}  // namespace device_number

namespace property_query {

inline constexpr std::size_t kPropertyId = 0;
inline constexpr std::size_t kQueryType = 4;
inline constexpr std::size_t kAdditionalParameters = 8;
inline constexpr std::size_t kQueryHeaderSize = 8;

inline constexpr std::uint32_t kStorageAdapterProtocolSpecificProperty = 49;
inline constexpr std::uint32_t kPropertyStandardQuery = 0;

}  // namespace property_query

namespace protocol_data {

inline constexpr std::size_t kProtocolType = 0;
inline constexpr std::size_t kDataType = 4;
inline constexpr std::size_t kRequestValue = 8;
inline constexpr std::size_t kRequestSubValue = 12;
inline constexpr std::size_t kProtocolDataOffset = 16;
inline constexpr std::size_t kProtocolDataLength = 20;
inline constexpr std::size_t kFixedProtocolReturnData = 24;
inline constexpr std::size_t kSize = 40;
static_assert(kFixedProtocolReturnData + 4 + 12 == kSize);

inline constexpr std::uint32_t kProtocolTypeNvme = 3;
inline constexpr std::uint32_t kNvmeDataTypeIdentify = 1;
inline constexpr std::uint32_t kIdentifyCnsController = 1;

}  // namespace protocol_data

namespace protocol_descriptor {

inline constexpr std::size_t kVersion = 0;
inline constexpr std::size_t kSize = 4;
inline constexpr std::size_t kProtocolSpecificData = 8;
inline constexpr std::size_t kRecordSize = 48;
static_assert(kProtocolSpecificData + protocol_data::kSize == kRecordSize);

}  // namespace protocol_descriptor

}  // namespace zevsim
