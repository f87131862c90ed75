#include "archive_blob_buffer.hpp"

#include <algorithm>
#include <cstring>
#include <utility>

namespace quillmarsh::dat::detail {

std::span<std::uint8_t> BlobBuffer::room(std::size_t n) {
  if (capacity_ - size_ < n) {
    const std::size_t capacity = std::max(size_ + n, capacity_ * 2);
    auto grown = std::make_unique_for_overwrite<std::uint8_t[]>(capacity);
    if (size_ > 0) std::memcpy(grown.get(), data_.get(), size_);
    data_ = std::move(grown);
    capacity_ = capacity;
  }
  return {data_.get() + size_, n};
}

void BlobBuffer::append(ByteView bytes) {
  if (bytes.empty()) return;
  std::memcpy(room(bytes.size()).data(), bytes.data(), bytes.size());
  commit(bytes.size());
}

void BlobBuffer::release() {
  data_.reset();
  size_ = 0;
  capacity_ = 0;
}

}  // namespace quillmarsh::dat::detail
