#include "quillmarsh/dat/file.hpp"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace quillmarsh::dat {

tl::expected<File, IoError> File::open(const std::filesystem::path& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return tl::unexpected(IoError::from_errno(errno));
  return File(fd);
}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

File::~File() {
  if (fd_ >= 0) ::close(fd_);
}

tl::expected<std::uint64_t, IoError> File::len_compat() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) return tl::unexpected(IoError::from_errno(errno));
  return static_cast<std::uint64_t>(st.st_size);
}

tl::expected<void, IoError> File::read_exact_at_compat(std::span<std::uint8_t> buf, std::uint64_t offset) const {
  while (!buf.empty()) {
    const ssize_t n = ::pread(fd_, buf.data(), buf.size(), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return tl::unexpected(IoError::from_errno(errno));
    }
    if (n == 0) return tl::unexpected(IoError::unexpected_eof());
    buf = buf.subspan(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
  return {};
}

tl::expected<void, IoError> MemoryFile::read_exact_at_compat(std::span<std::uint8_t> buf, std::uint64_t offset) const {
  if (buf.empty()) return {};
  if (offset > bytes_.size() || bytes_.size() - offset < buf.size()) {
    return tl::unexpected(IoError::unexpected_eof());
  }
  std::memcpy(buf.data(), bytes_.data() + offset, buf.size());
  return {};
}

}  // namespace quillmarsh::dat
