// "IntelFw ", the IRST driver's firmware request: a FIRMWARE_REQUEST_BLOCK
// (firmware_layout.hpp) for the drive at the record's address, and the data
// record of its function.
//
// Named offsets over byte buffers (byte_order.hpp reads and writes them),
// never a struct overlay; nothing of the package is included.
//
// After SRB_IO_CONTROL and the drive address (intel_address_layout.hpp):
//   offset  size  field
//       32    24  FIRMWARE_REQUEST_BLOCK (DataBufferOffset from the start of
//                 the buffer)
//       56        the function's data record
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "firmware_layout.hpp"
#include "intel_address_layout.hpp"

namespace zevsim {

namespace intel::fw {
inline constexpr std::string_view kSignature{"IntelFw ", 8};
inline constexpr std::uint32_t kControlCode = 0xF0000040;
// The download record's Slot and ImageSize as the driver takes them: the
// controller chooses the slot, and the image size is not announced.
inline constexpr std::uint8_t kDownloadAnySlot = 0xFF;
inline constexpr std::uint32_t kDownloadImageSize = 0;
inline constexpr std::size_t kRequestBlock = 32;
inline constexpr std::size_t kRequestBlockEnd =
    kRequestBlock + firmware::request_block::kRecordSize;
static_assert(kRequestBlockEnd == 56);
}  // namespace intel::fw

}  // namespace zevsim
