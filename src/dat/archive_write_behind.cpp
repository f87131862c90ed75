#include "archive_write_behind.hpp"

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace quillmarsh::dat::detail {

tl::expected<void, IoError> write_all(int fd, ByteView bytes, std::uint64_t& pos) {
  while (!bytes.empty()) {
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return tl::unexpected(IoError::from_errno(errno));
    }
    if (n == 0) return tl::unexpected(IoError::write_zero());
    bytes = bytes.subspan(static_cast<std::size_t>(n));
    pos += static_cast<std::uint64_t>(n);
  }
  return {};
}

tl::expected<std::unique_ptr<WriteBehind>, std::string> WriteBehind::start(int fd) {
  auto writer = std::make_unique<WriteBehind>(fd);
  try {
    writer->thread_ = std::thread([w = writer.get()] { w->run(); });
  } catch (const std::exception& e) {
    return tl::unexpected(std::string("cannot start the write thread: ") + e.what());
  }
  return writer;
}

WriteBehind::~WriteBehind() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

tl::expected<void, IoError> WriteBehind::submit(BlobBuffer& buffer) {
  {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [this] { return !busy_; });
    if (failed_) return tl::unexpected(*failed_);
    std::swap(pending_, buffer);
    busy_ = true;
  }
  buffer.clear();
  changed_.notify_all();
  return {};
}

tl::expected<void, IoError> WriteBehind::wait() {
  std::unique_lock lock(mutex_);
  changed_.wait(lock, [this] { return !busy_; });
  if (failed_) return tl::unexpected(*failed_);
  return {};
}

void WriteBehind::run() {
  std::unique_lock lock(mutex_);
  for (;;) {
    // A taken buffer is written even when stopping, so that a writer dropped after `submit` leaves
    // the file as a synchronous writer would.
    changed_.wait(lock, [this] { return busy_ || stopping_; });
    if (!busy_) return;
    lock.unlock();
    std::uint64_t written = 0;
    auto result = write_all(fd_, pending_.view(), written);
    lock.lock();
    if (!result && !failed_) failed_ = std::move(result.error());
    busy_ = false;
    changed_.notify_all();
  }
}

}  // namespace quillmarsh::dat::detail
