// A byte buffer for stored blobs and compressed frames, whose new room is not zeroed: zstd and the
// writer fill every byte before it counts, so zeroing would only double the memory traffic.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "quillmarsh/common/binary.hpp"

namespace quillmarsh::dat::detail {

class BlobBuffer {
 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  ByteView view() const { return {data_.get(), size_}; }

  // Room for `n` bytes after the contents, valid until the buffer next changes; grows when needed.
  std::span<std::uint8_t> room(std::size_t n);
  // Counts `n` bytes written into the room as contents.
  void commit(std::size_t n) { size_ += n; }
  void append(ByteView bytes);
  void clear() { size_ = 0; }
  // Empties the buffer and gives its memory back.
  void release();

 private:
  std::unique_ptr<std::uint8_t[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace quillmarsh::dat::detail
