// The inbox NVMe driver's storage requests: STORAGE_DEVICE_NUMBER (the reply
// of IOCTL_STORAGE_GET_DEVICE_NUMBER) and the IOCTL_STORAGE_QUERY_PROPERTY
// request for the NVMe Identify Controller data, a STORAGE_PROPERTY_QUERY
// whose AdditionalParameters hold a STORAGE_PROTOCOL_SPECIFIC_DATA. The reply
// comes back in the same buffer as a STORAGE_PROTOCOL_DATA_DESCRIPTOR with
// the Identify data at offset 48.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "records/identify_fields.hpp"
#include "records/little_endian.hpp"
#include "records/nvme_command.hpp"

namespace zev::storage {

// --- STORAGE_DEVICE_NUMBER ---
//
//   offset  size  field
//        0     4  DeviceType
//        4     4  DeviceNumber     the n of \\.\PHYSICALDRIVEn
//        8     4  PartitionNumber
inline constexpr std::size_t kDeviceTypeOffset = 0;
inline constexpr std::size_t kDeviceNumberOffset = 4;
inline constexpr std::size_t kPartitionNumberOffset = 8;
inline constexpr std::size_t kDeviceNumberSize = 12;
static_assert(kPartitionNumberOffset + 4 == kDeviceNumberSize);

// --- The Identify Controller query (request) ---
//
//   offset  size  field
//        0     4  STORAGE_PROPERTY_QUERY.PropertyId   49 StorageAdapterProtocolSpecificProperty
//        4     4  STORAGE_PROPERTY_QUERY.QueryType    0 PropertyStandardQuery
//        8    40  STORAGE_PROTOCOL_SPECIFIC_DATA (AdditionalParameters):
//        8     4    ProtocolType                      3 ProtocolTypeNvme
//       12     4    DataType                          1 NVMeDataTypeIdentify
//       16     4    ProtocolDataRequestValue          CNS 1, Identify Controller
//       20     4    ProtocolDataRequestSubValue       0
//       24     4    ProtocolDataOffset                40, from the protocol block
//       28     4    ProtocolDataLength                4096
//       32    16    FixedProtocolReturnData, SubValue2..4  0
//       48  4096  room for the Identify data
//
// --- The reply (STORAGE_PROTOCOL_DATA_DESCRIPTOR) ---
//
//   offset  size  field
//        0     4  Version
//        4     4  Size
//        8    40  the echoed STORAGE_PROTOCOL_SPECIFIC_DATA
//       48  4096  Identify Controller data
inline constexpr std::size_t kPropertyIdOffset = 0;
inline constexpr std::size_t kQueryTypeOffset = 4;
inline constexpr std::size_t kProtocolSpecificOffset = 8;
inline constexpr std::size_t kProtocolTypeOffset = 8;
inline constexpr std::size_t kDataTypeOffset = 12;
inline constexpr std::size_t kRequestValueOffset = 16;
inline constexpr std::size_t kRequestSubValueOffset = 20;
inline constexpr std::size_t kProtocolDataOffsetOffset = 24;
inline constexpr std::size_t kProtocolDataLengthOffset = 28;
inline constexpr std::size_t kProtocolSpecificSize = 40;
inline constexpr std::size_t kIdentifyDataOffset = 48;
inline constexpr std::size_t kIdentifyQuerySize = kIdentifyDataOffset + identify::kDataSize;
static_assert(kProtocolSpecificOffset + kProtocolSpecificSize == kIdentifyDataOffset);
static_assert(kIdentifyQuerySize == 4144);

inline constexpr std::uint32_t kStorageAdapterProtocolSpecificProperty = 49;
inline constexpr std::uint32_t kPropertyStandardQuery = 0;
inline constexpr std::uint32_t kProtocolTypeNvme = 3;
inline constexpr std::uint32_t kNvmeDataTypeIdentify = 1;

// buffer: kIdentifyQuerySize bytes. Writes the Identify Controller query.
inline void writeIdentifyControllerQuery(std::span<std::uint8_t> buffer) {
  storeLe32(buffer, kPropertyIdOffset, kStorageAdapterProtocolSpecificProperty);
  storeLe32(buffer, kQueryTypeOffset, kPropertyStandardQuery);
  storeLe32(buffer, kProtocolTypeOffset, kProtocolTypeNvme);
  storeLe32(buffer, kDataTypeOffset, kNvmeDataTypeIdentify);
  storeLe32(buffer, kRequestValueOffset, nvme::kCnsController);
  storeLe32(buffer, kRequestSubValueOffset, 0);
  storeLe32(buffer, kProtocolDataOffsetOffset, static_cast<std::uint32_t>(kProtocolSpecificSize));
  storeLe32(buffer, kProtocolDataLengthOffset, static_cast<std::uint32_t>(identify::kDataSize));
}

// The Identify Controller data of a reply of kIdentifyQuerySize bytes.
inline std::span<const std::uint8_t> identifyDataOf(std::span<const std::uint8_t> reply) {
  return reply.subspan(kIdentifyDataOffset, identify::kDataSize);
}

}  // namespace zev::storage
