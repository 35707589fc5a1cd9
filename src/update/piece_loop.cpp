// The bounds rule of the piece loop.
#include "update/piece_loop.hpp"

#include <limits>

namespace zev {

std::optional<ImagePieces> ImagePieces::plan(std::span<const std::uint8_t> image,
                                             std::uint32_t transferLength, std::uint32_t pieceSize,
                                             std::uint32_t requestOverhead) {
  if (transferLength > image.size() || (transferLength != 0 && pieceSize == 0) ||
      pieceSize > std::numeric_limits<std::uint32_t>::max() - requestOverhead) {
    return std::nullopt;
  }
  return ImagePieces(image, planPieces(transferLength, pieceSize));
}

}  // namespace zev
