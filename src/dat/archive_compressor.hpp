// The writer's entry compression: one zstd context reused across entries, the warning that a failed
// compression leaves behind, and the optional pipeline that compresses entries on worker threads while
// the writer stores them in the order they were added.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <thread>
#include <tl/expected.hpp>
#include <vector>

#include "archive_blob_buffer.hpp"
#include "quillmarsh/common/binary.hpp"
#include "quillmarsh/dat/archive.hpp"

struct ZSTD_CCtx_s;

namespace quillmarsh::dat::detail {

inline constexpr int QMA_COMPRESSION_LEVEL = 3;
inline constexpr std::string_view ARCHIVE_LOG_TARGET = "quillmarsh_dat::archive";

// Compresses whole inputs at level 3 into one zstd frame. Each call starts a fresh session on the same
// context, so the frame is exactly what a new level-3 streaming compressor would produce.
class EntryCompressor {
 public:
  EntryCompressor() = default;
  EntryCompressor(const EntryCompressor&) = delete;
  EntryCompressor& operator=(const EntryCompressor&) = delete;
  ~EntryCompressor();

  // The frame, valid until the next call; or zstd's error message.
  tl::expected<ByteView, std::string> compress(ByteView data);
  // The same frame written into `out`, which must hold at least bound(data.size()) bytes; its length.
  tl::expected<std::size_t, std::string> compress_into(ByteView data, std::span<std::uint8_t> out);
  // The most bytes a frame of `size` input bytes can take.
  static std::size_t bound(std::size_t size);
  // Drops an output buffer grown by one large entry, so content is not held past its add.
  void trim();

 private:
  ZSTD_CCtx_s* cctx_ = nullptr;
  Bytes out_;  // reused across entries
};

// Logs "Compression failed for <ns>:0x<id>: <message>" as a warning on the archive's logger. Never throws.
void warn_compression_failed(std::string_view namespace_, std::uint32_t file_id, std::string_view message) noexcept;

// One accepted entry on its way to the file: its index record so far (without offset and comp_size),
// its bytes, and what compression made of them.
struct PendingEntry {
  QmaEntry entry;
  std::string namespace_text;  // as the caller gave it, for the warning
  Bytes data;
  bool try_compress = false;
  // Set by the worker: the frame when it is strictly shorter than `data` (else empty, and `compressed`
  // false), or zstd's failure message.
  BlobBuffer frame;
  bool compressed = false;
  std::optional<std::string> failure;
  bool done = false;
};

// Compresses entries on `workers` threads. Entries leave in the order they came in, each once a worker
// has finished it; the caller stores them. At most `max_entries` entries and about `max_bytes` bytes
// of input are in flight (a single larger entry is always let in), which bounds memory.
class CompressionPipeline {
 public:
  // What a worker claims at once: up to this many entries, stopping once their input reaches the bytes.
  static constexpr std::size_t CLAIM_ENTRIES = 8;
  static constexpr std::size_t CLAIM_BYTES = 32 * 1024;

  // Starts the workers; the operating system's refusal to start a thread is an error text.
  static tl::expected<std::unique_ptr<CompressionPipeline>, std::string> start(unsigned workers,
                                                                               std::size_t max_entries,
                                                                               std::size_t max_bytes);
  CompressionPipeline(std::size_t max_entries, std::size_t max_bytes);
  CompressionPipeline(const CompressionPipeline&) = delete;
  CompressionPipeline& operator=(const CompressionPipeline&) = delete;
  // Stops the workers; entries still in flight are dropped.
  ~CompressionPipeline();

  unsigned workers() const { return static_cast<unsigned>(threads_.size()); }
  std::size_t in_flight() const;
  // Whether `push` must wait until the caller has taken the front entry.
  bool full() const;
  void push(std::unique_ptr<PendingEntry> entry);
  // The front entry once it is finished (waits for it); null when nothing is in flight.
  std::unique_ptr<PendingEntry> pop_front();
  // The front entry if it is already finished; null otherwise.
  std::unique_ptr<PendingEntry> try_pop_front();

 private:
  void run_worker();
  std::unique_ptr<PendingEntry> take_front_locked();

  const std::size_t max_entries_;
  const std::size_t max_bytes_;
  mutable std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable front_done_;
  std::deque<std::unique_ptr<PendingEntry>> window_;  // in add order
  std::deque<PendingEntry*> todo_;                    // not yet claimed by a worker, in add order
  std::size_t todo_bytes_ = 0;                        // their input bytes
  std::size_t bytes_in_flight_ = 0;
  unsigned idle_workers_ = 0;    // workers waiting for work
  bool caller_waiting_ = false;  // the caller waits for the front entry
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace quillmarsh::dat::detail
