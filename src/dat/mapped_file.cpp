#include "quillmarsh/dat/mapped_file.hpp"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace quillmarsh::dat {

tl::expected<MappedFile, IoError> MappedFile::open(const std::filesystem::path& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return tl::unexpected(IoError::from_errno(errno));

  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    const int err = errno;
    ::close(fd);
    return tl::unexpected(IoError::from_errno(err));
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size > std::numeric_limits<std::size_t>::max()) {
    ::close(fd);
    return tl::unexpected(IoError::from_errno(EFBIG));
  }
  // A zero-length mapping is refused by the kernel; an empty file needs none.
  void* data = nullptr;
  if (size > 0) {
    data = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (data == MAP_FAILED) {
      const int err = errno;
      ::close(fd);
      return tl::unexpected(IoError::from_errno(err));
    }
  }
  ::close(fd);  // the mapping keeps the file alive
  return MappedFile(static_cast<const std::uint8_t*>(data), size);
}

void MappedFile::unmap() noexcept {
  if (data_ != nullptr) ::munmap(const_cast<std::uint8_t*>(data_), static_cast<std::size_t>(size_));
  data_ = nullptr;
  size_ = 0;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    unmap();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

MappedFile::~MappedFile() { unmap(); }

tl::expected<void, IoError> MappedFile::read_exact_at_compat(std::span<std::uint8_t> buf, std::uint64_t offset) const {
  if (buf.empty()) return {};
  // pread refuses offsets that do not fit its signed offset type; so does this, with the same error.
  if (offset > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
    return tl::unexpected(IoError::from_errno(EINVAL));
  }
  if (offset > size_ || size_ - offset < buf.size()) return tl::unexpected(IoError::unexpected_eof());
  std::memcpy(buf.data(), data_ + offset, buf.size());
  return {};
}

}  // namespace quillmarsh::dat
