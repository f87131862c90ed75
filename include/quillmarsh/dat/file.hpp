// Positional reads that never move a file cursor, so one handle can serve several threads.
#pragma once

#include <cstdint>
#include <filesystem>
#include <span>
#include <tl/expected.hpp>
#include <utility>

#include "quillmarsh/common/binary.hpp"

namespace quillmarsh::dat {

class FileExtPolyfill {
 public:
  FileExtPolyfill() = default;
  FileExtPolyfill(const FileExtPolyfill&) = delete;
  FileExtPolyfill& operator=(const FileExtPolyfill&) = delete;
  virtual ~FileExtPolyfill() = default;

  virtual tl::expected<std::uint64_t, IoError> len_compat() const = 0;
  // Fills the whole buffer with the bytes starting at `offset`; an empty buffer succeeds at once.
  virtual tl::expected<void, IoError> read_exact_at_compat(std::span<std::uint8_t> buf, std::uint64_t offset) const = 0;
};

// A read-only file descriptor, closed on destruction.
class File final : public FileExtPolyfill {
 public:
  static tl::expected<File, IoError> open(const std::filesystem::path& path);

  File(File&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  File& operator=(File&& other) noexcept;
  ~File() override;

  tl::expected<std::uint64_t, IoError> len_compat() const override;
  tl::expected<void, IoError> read_exact_at_compat(std::span<std::uint8_t> buf, std::uint64_t offset) const override;

  int fd() const { return fd_; }

 private:
  explicit File(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Bytes held in memory behind the same interface (tests, fuzzing, archives built in memory).
class MemoryFile final : public FileExtPolyfill {
 public:
  explicit MemoryFile(Bytes bytes) : bytes_(std::move(bytes)) {}

  tl::expected<std::uint64_t, IoError> len_compat() const override { return bytes_.size(); }
  tl::expected<void, IoError> read_exact_at_compat(std::span<std::uint8_t> buf, std::uint64_t offset) const override;

  const Bytes& bytes() const { return bytes_; }

 private:
  Bytes bytes_;
};

}  // namespace quillmarsh::dat
