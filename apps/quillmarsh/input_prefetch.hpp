// Reads a directory input's files ahead of the packer, in order, on a thread of its own: opening and
// reading the next files overlaps compressing this one. A bounded number of files and bytes is held.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <span>
#include <thread>

#include "pack_inputs.hpp"

namespace quillmarsh::cli {

class InputPrefetcher {
 public:
  // Files read ahead and not yet taken: at most this many, and about this many bytes (a single larger
  // file is always let in).
  static constexpr std::size_t MAX_FILES = 256;
  static constexpr std::size_t MAX_BYTES = std::size_t{32} << 20;
  // `next`, once it has to wait, waits for this many files or bytes (or the last file).
  static constexpr std::size_t WAKE_FILES = 32;
  static constexpr std::size_t WAKE_BYTES = std::size_t{1} << 20;

  // Starts reading `files`, which must outlive the prefetcher. When the system refuses the thread,
  // `next` reads each file itself.
  explicit InputPrefetcher(std::span<const InputFile> files);
  InputPrefetcher(const InputPrefetcher&) = delete;
  InputPrefetcher& operator=(const InputPrefetcher&) = delete;
  // Stops reading after the file in progress.
  ~InputPrefetcher();

  // The next file's content, or the error reading it gave (as read_input_file): once per file, in order.
  tools::ToolResult<Bytes> next();

 private:
  void run();
  bool has_room() const;
  bool below_half() const;

  const std::span<const InputFile> files_;
  std::size_t taken_ = 0;  // files handed out by `next`
  std::mutex mutex_;
  std::condition_variable room_;
  std::condition_variable filled_;
  std::deque<tools::ToolResult<Bytes>> ready_;  // read ahead, in order
  std::size_t ready_bytes_ = 0;
  bool reader_waiting_ = false;  // the thread waits for room
  bool taker_waiting_ = false;   // `next` waits for files; cleared by the thread that wakes it
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace quillmarsh::cli
