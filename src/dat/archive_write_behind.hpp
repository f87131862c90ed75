// The archive writer's buffered output: a thread that writes full blob buffers while the writer goes
// on compressing, so that the system call and the copy into the page cache overlap the next entries'
// work. One buffer is written while the writer fills the other: memory stays at two buffers.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tl/expected.hpp>

#include "archive_blob_buffer.hpp"
#include "quillmarsh/common/binary.hpp"

namespace quillmarsh::dat::detail {

// Writes all of `bytes` at the descriptor's cursor, retrying interrupted writes. `pos` follows every
// byte that reached the file, so it stays the true end even after a failure part way.
tl::expected<void, IoError> write_all(int fd, ByteView bytes, std::uint64_t& pos);

class WriteBehind {
 public:
  // Starts the thread; the operating system's refusal is an error text.
  static tl::expected<std::unique_ptr<WriteBehind>, std::string> start(int fd);
  explicit WriteBehind(int fd) : fd_(fd) {}
  WriteBehind(const WriteBehind&) = delete;
  WriteBehind& operator=(const WriteBehind&) = delete;
  // Lets the write in progress finish, then stops the thread.
  ~WriteBehind();

  // Waits for the write in progress, then takes `buffer`'s bytes to write at the descriptor's cursor
  // after everything taken before, leaving `buffer` empty (it keeps the drained buffer's memory). An
  // earlier write's failure is returned instead, and the bytes are not taken.
  tl::expected<void, IoError> submit(BlobBuffer& buffer);
  // Waits until everything taken is written; the first failure if any.
  tl::expected<void, IoError> wait();

 private:
  void run();

  const int fd_;
  std::mutex mutex_;
  std::condition_variable changed_;
  BlobBuffer pending_;  // taken and not yet written while `busy_`
  bool busy_ = false;
  bool stopping_ = false;
  std::optional<IoError> failed_;
  std::thread thread_;
};

}  // namespace quillmarsh::dat::detail
