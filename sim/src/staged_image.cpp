// The staged image of a drive, in pages taken as pieces arrive.
#include "staged_image.hpp"

#include <algorithm>
#include <cstring>

namespace zevsim {

void StagedImage::start(std::uint32_t size) {
  started_ = true;
  size_ = size;
  pages_.clear();
  pages_.resize((std::size_t{size} + kPageBytes - 1) / kPageBytes);
  heldPages_ = 0;
  receivedDwords_ = 0;
}

void StagedImage::write(std::uint64_t offset, std::span<const std::uint8_t> data) {
  std::size_t done = 0;
  while (done < data.size()) {
    const std::uint64_t at = offset + done;
    const auto pageIndex = static_cast<std::size_t>(at / kPageBytes);
    const auto inPage = static_cast<std::size_t>(at % kPageBytes);
    const std::size_t count = std::min(kPageBytes - inPage, data.size() - done);
    std::unique_ptr<Page>& page = pages_[pageIndex];
    if (!page) {
      page = std::make_unique<Page>();
      ++heldPages_;
    }
    std::memcpy(page->bytes.data() + inPage, data.data() + done, count);
    for (std::size_t dword = inPage / 4; dword < (inPage + count) / 4; ++dword) {
      if (!page->received[dword]) {
        page->received[dword] = true;
        ++receivedDwords_;
      }
    }
    done += count;
  }
}

bool StagedImage::complete() const {
  return started_ && size_ != 0 && size_ % 4 == 0 && receivedDwords_ == size_ / 4;
}

std::uint8_t StagedImage::byteAt(std::uint64_t offset) const {
  if (offset >= size_) {
    return 0;
  }
  const std::unique_ptr<Page>& page = pages_[static_cast<std::size_t>(offset / kPageBytes)];
  return page ? page->bytes[static_cast<std::size_t>(offset % kPageBytes)] : 0;
}

bool StagedImage::equals(std::span<const std::uint8_t> bytes) const {
  if (!complete() || bytes.size() != size_) {
    return false;
  }
  for (std::size_t i = 0; i < pages_.size(); ++i) {
    const std::size_t begin = i * kPageBytes;
    const std::size_t count = std::min(kPageBytes, bytes.size() - begin);
    if (std::memcmp(pages_[i]->bytes.data(), bytes.data() + begin, count) != 0) {
      return false;
    }
  }
  return true;
}

}  // namespace zevsim
