#include "input_prefetch.hpp"

#include <cassert>
#include <system_error>

namespace quillmarsh::cli {

namespace {
std::size_t size_of(const tools::ToolResult<Bytes>& result) { return result ? result->size() : 0; }
}  // namespace

InputPrefetcher::InputPrefetcher(std::span<const InputFile> files) : files_(files) {
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {  // read inline instead
  }
}

InputPrefetcher::~InputPrefetcher() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  room_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool InputPrefetcher::has_room() const {
  return ready_.empty() || (ready_.size() < MAX_FILES && ready_bytes_ < MAX_BYTES);
}

// The reader, once full, waits until the queue is half empty: each side then wakes the other once per
// many files rather than once per file.
bool InputPrefetcher::below_half() const {
  return ready_.empty() || (ready_.size() <= MAX_FILES / 2 && ready_bytes_ <= MAX_BYTES / 2);
}

void InputPrefetcher::run() {
  std::size_t left = files_.size();
  for (const InputFile& file : files_) {
    {
      std::unique_lock lock(mutex_);
      if (!has_room()) {
        reader_waiting_ = true;
        room_.wait(lock, [this] { return stopping_ || below_half(); });
        reader_waiting_ = false;
      }
      if (stopping_) return;
    }
    auto content = read_input_file(file);
    const bool last = --left == 0;
    bool wake = false;
    {
      const std::lock_guard lock(mutex_);
      ready_bytes_ += size_of(content);
      ready_.push_back(std::move(content));
      // A waiting taker is woken for a batch of files, not for each one.
      wake = taker_waiting_ && (ready_.size() >= WAKE_FILES || ready_bytes_ >= WAKE_BYTES || last);
      if (wake) taker_waiting_ = false;
    }
    if (wake) filled_.notify_one();
  }
}

tools::ToolResult<Bytes> InputPrefetcher::next() {
  assert(taken_ < files_.size());
  const std::size_t index = taken_++;
  if (!thread_.joinable()) return read_input_file(files_[index]);
  std::unique_lock lock(mutex_);
  if (ready_.empty()) {
    taker_waiting_ = true;
    filled_.wait(lock, [this] { return !taker_waiting_; });
  }
  auto content = std::move(ready_.front());
  ready_.pop_front();
  ready_bytes_ -= size_of(content);
  const bool wake = reader_waiting_ && below_half();
  lock.unlock();
  if (wake) room_.notify_one();
  return content;
}

}  // namespace quillmarsh::cli
