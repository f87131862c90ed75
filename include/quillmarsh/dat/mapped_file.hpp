// A read-only file mapped into memory behind the positional-read interface: reads are copies out of the
// mapping, so lookups cost no system call. Errors match File's: a read past the end is an
// unexpected-end error and leaves the buffer's contents unspecified.
//
// The length is fixed when the file is mapped. A file that another process truncates while it is
// mapped can make a read fault (SIGBUS), which a plain File would report as a short read: map only
// files that are not rewritten in place, such as finished archives.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <tl/expected.hpp>
#include <utility>

#include "quillmarsh/common/binary.hpp"
#include "quillmarsh/dat/file.hpp"

namespace quillmarsh::dat {

class MappedFile final : public FileExtPolyfill {
 public:
  static tl::expected<MappedFile, IoError> open(const std::filesystem::path& path);

  MappedFile(MappedFile&& other) noexcept
      : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}
  MappedFile& operator=(MappedFile&& other) noexcept;
  ~MappedFile() override;

  tl::expected<std::uint64_t, IoError> len_compat() const override { return size_; }
  tl::expected<void, IoError> read_exact_at_compat(std::span<std::uint8_t> buf, std::uint64_t offset) const override;

  // The mapped bytes, valid as long as this object lives (empty for an empty file).
  ByteView bytes() const { return {data_, static_cast<std::size_t>(size_)}; }

 private:
  MappedFile(const std::uint8_t* data, std::uint64_t size) : data_(data), size_(size) {}
  void unmap() noexcept;

  const std::uint8_t* data_ = nullptr;
  std::uint64_t size_ = 0;
};

}  // namespace quillmarsh::dat
