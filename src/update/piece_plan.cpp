// The piece plan.
#include "update/piece_plan.hpp"

namespace zev {

std::uint32_t pieceSizeFor(std::int32_t updateGranularity) {
  return static_cast<std::uint32_t>(updateGranularity) * 4096u;
}

std::vector<Piece> planPieces(std::uint32_t transferLength, std::uint32_t pieceSize) {
  std::vector<Piece> pieces;
  if (pieceSize == 0) {
    return pieces;
  }
  pieces.reserve(transferLength / pieceSize + 1);
  for (std::uint32_t offset = 0; offset < transferLength;) {
    const std::uint32_t remaining = transferLength - offset;
    const std::uint32_t length = remaining < pieceSize ? remaining : pieceSize;
    pieces.push_back({offset, length});
    offset += length;
  }
  return pieces;
}

}  // namespace zev
