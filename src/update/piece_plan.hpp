// The piece plan shared by the three update paths: the image goes out in
// pieces of updateGranularity x 4096 bytes; when that does not divide the
// transfer length, the last piece carries only the remaining bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace zev {

struct Piece {
  std::uint32_t offset = 0;
  std::uint32_t length = 0;
  friend bool operator==(const Piece&, const Piece&) = default;
};

// The piece size for a granularity, in 32-bit unsigned arithmetic.
std::uint32_t pieceSizeFor(std::int32_t updateGranularity);

// (transfer length, piece size) -> pieces in offset order covering every byte.
// An empty plan for a transfer length of 0 or a piece size of 0.
std::vector<Piece> planPieces(std::uint32_t transferLength, std::uint32_t pieceSize);

}  // namespace zev
