// The one piece loop of the three update paths. The piece plan becomes
// pieces of the image under one bounds rule; each path then only encodes,
// sends and judges one piece at a time through sendEach.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "update/piece_plan.hpp"

namespace zev {

struct ImagePiece {
  std::uint32_t offset = 0;
  std::span<const std::uint8_t> bytes;  // the piece's bytes of the image
};

class ImagePieces {
 public:
  // The first transferLength bytes of image in pieces of pieceSize bytes, the
  // short last piece included; each piece goes out in a request of its length
  // plus requestOverhead bytes. nullopt when the transfer cannot be sent
  // whole: it is longer than the image, it has bytes to send but the piece
  // size is 0, or the request of a whole piece would not fit a 32-bit
  // DeviceIoControl length. Nothing is sent for a refused plan.
  static std::optional<ImagePieces> plan(std::span<const std::uint8_t> image,
                                         std::uint32_t transferLength, std::uint32_t pieceSize,
                                         std::uint32_t requestOverhead);

  bool empty() const { return pieces_.empty(); }
  std::size_t size() const { return pieces_.size(); }
  // The first piece is the longest; 0 when there is none.
  std::uint32_t longest() const { return pieces_.empty() ? 0 : pieces_.front().length; }

  // Calls send(const ImagePiece&) -> bool for each piece in offset order and
  // stops at the first that returns false; true when every piece was sent.
  template <class Send>
  bool sendEach(Send&& send) const {
    for (const Piece& piece : pieces_) {
      if (!send(ImagePiece{piece.offset, image_.subspan(piece.offset, piece.length)})) {
        return false;
      }
    }
    return true;
  }

 private:
  ImagePieces(std::span<const std::uint8_t> image, std::vector<Piece> pieces)
      : image_(image), pieces_(std::move(pieces)) {}

  std::span<const std::uint8_t> image_;
  std::vector<Piece> pieces_;
};

}  // namespace zev
