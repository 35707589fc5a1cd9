// The image a drive has received since its last piece at offset 0: its bytes
// and which of its dwords arrived. The bytes are kept in pages that are taken
// only when a piece writes to them, so a drive's memory follows the bytes it
// was sent, never the image size it declares.
#pragma once

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace zevsim {

class StagedImage {
 public:
  static constexpr std::size_t kPageBytes = std::size_t{64} << 10;

  // A new image of size bytes (a multiple of 4), of which nothing has arrived.
  void start(std::uint32_t size);
  bool started() const { return started_; }
  std::uint32_t size() const { return size_; }

  // Stores a piece inside [0, size), both ends dword-aligned.
  void write(std::uint64_t offset, std::span<const std::uint8_t> data);

  // Every dword of the image arrived.
  bool complete() const;
  // The byte at offset: 0 where nothing arrived.
  std::uint8_t byteAt(std::uint64_t offset) const;
  // A complete image holding exactly these bytes.
  bool equals(std::span<const std::uint8_t> bytes) const;
  // The image bytes held in memory (whole pages).
  std::size_t heldBytes() const { return heldPages_ * kPageBytes; }

 private:
  struct Page {
    std::array<std::uint8_t, kPageBytes> bytes{};
    std::bitset<kPageBytes / 4> received;  // per dword
  };

  bool started_ = false;
  std::uint32_t size_ = 0;
  std::vector<std::unique_ptr<Page>> pages_;  // null: nothing of that page arrived
  std::size_t heldPages_ = 0;
  std::uint64_t receivedDwords_ = 0;
};

}  // namespace zevsim
