#include "archive_compressor.hpp"

#include <spdlog/sinks/stdout_color_sinks.h>
#include <spdlog/spdlog.h>
#include <zstd.h>

#include <memory>

namespace quillmarsh::dat::detail {

EntryCompressor::~EntryCompressor() { ZSTD_freeCCtx(cctx_); }

std::size_t EntryCompressor::bound(std::size_t size) { return ZSTD_compressBound(size); }

tl::expected<ByteView, std::string> EntryCompressor::compress(ByteView data) {
  const std::size_t bound = ZSTD_compressBound(data.size());
  if (ZSTD_isError(bound)) return tl::unexpected<std::string>(ZSTD_getErrorName(bound));
  if (out_.size() < bound) out_.resize(bound);
  auto written = compress_into(data, out_);
  if (!written) return tl::unexpected(std::move(written.error()));
  return ByteView(out_.data(), *written);
}

tl::expected<std::size_t, std::string> EntryCompressor::compress_into(ByteView data, std::span<std::uint8_t> out) {
  auto fail = [](std::size_t code) { return tl::unexpected<std::string>(ZSTD_getErrorName(code)); };
  if (cctx_ == nullptr) {
    cctx_ = ZSTD_createCCtx();
    if (cctx_ == nullptr) return tl::unexpected<std::string>("failed to allocate a compression context");
    const std::size_t rc = ZSTD_CCtx_setParameter(cctx_, ZSTD_c_compressionLevel, QMA_COMPRESSION_LEVEL);
    if (ZSTD_isError(rc)) {
      ZSTD_freeCCtx(cctx_);
      cctx_ = nullptr;
      return fail(rc);
    }
  }
  // A session reset drops any half-finished frame (an earlier failure) and keeps the level.
  const std::size_t rc = ZSTD_CCtx_reset(cctx_, ZSTD_reset_session_only);
  if (ZSTD_isError(rc)) return fail(rc);

  // With room for the compress bound, zstd finishes the frame in this one call.
  ZSTD_inBuffer in{data.data(), data.size(), 0};
  ZSTD_outBuffer output{out.data(), out.size(), 0};
  const std::size_t remaining = ZSTD_compressStream2(cctx_, &output, &in, ZSTD_e_end);
  if (ZSTD_isError(remaining)) return fail(remaining);
  if (remaining != 0) return tl::unexpected<std::string>("output buffer smaller than the compress bound");
  return output.pos;
}

void EntryCompressor::trim() {
  constexpr std::size_t keep = std::size_t{1} << 20;
  if (out_.capacity() > keep) Bytes().swap(out_);
}

namespace {
std::shared_ptr<spdlog::logger> archive_logger() {
  const std::string name(ARCHIVE_LOG_TARGET);
  if (auto logger = spdlog::get(name)) return logger;
  try {
    return spdlog::stderr_color_mt(name);
  } catch (...) {
    return spdlog::get(name);  // another thread registered it first
  }
}
}  // namespace

void warn_compression_failed(std::string_view namespace_, std::uint32_t file_id, std::string_view message) noexcept {
  try {
    if (auto logger = archive_logger()) {
      logger->warn("Compression failed for {}:0x{:08X}: {}", namespace_, file_id, message);
    }
  } catch (...) {  // logging must never turn a stored entry into a failed add
  }
}

CompressionPipeline::CompressionPipeline(std::size_t max_entries, std::size_t max_bytes)
    : max_entries_(max_entries == 0 ? 1 : max_entries), max_bytes_(max_bytes) {}

tl::expected<std::unique_ptr<CompressionPipeline>, std::string> CompressionPipeline::start(unsigned workers,
                                                                                           std::size_t max_entries,
                                                                                           std::size_t max_bytes) {
  auto pipeline = std::make_unique<CompressionPipeline>(max_entries, max_bytes);
  try {
    pipeline->threads_.reserve(workers);
    for (unsigned i = 0; i < workers; ++i) pipeline->threads_.emplace_back([p = pipeline.get()] { p->run_worker(); });
  } catch (const std::exception& e) {
    // The destructor stops and joins the workers that did start.
    return tl::unexpected(std::string("cannot start compression workers: ") + e.what());
  }
  return pipeline;
}

CompressionPipeline::~CompressionPipeline() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (auto& t : threads_) t.join();
}

std::size_t CompressionPipeline::in_flight() const {
  const std::lock_guard lock(mutex_);
  return window_.size();
}

bool CompressionPipeline::full() const {
  const std::lock_guard lock(mutex_);
  return !window_.empty() && (window_.size() >= max_entries_ || bytes_in_flight_ >= max_bytes_);
}

void CompressionPipeline::push(std::unique_ptr<PendingEntry> entry) {
  bool wake = false;
  {
    const std::lock_guard lock(mutex_);
    bytes_in_flight_ += entry->data.size();
    if (entry->try_compress) {
      todo_.push_back(entry.get());
      todo_bytes_ += entry->data.size();
      // A busy worker finds the entry on its own; an idle one is woken for a full claim, not for every
      // small entry (`pop_front` wakes one for whatever is left when the caller must wait).
      wake = idle_workers_ > 0 && (todo_.size() >= CLAIM_ENTRIES || todo_bytes_ >= CLAIM_BYTES);
    } else {
      entry->done = true;  // stored as given: nothing for a worker to do
    }
    window_.push_back(std::move(entry));
  }
  if (wake) work_ready_.notify_one();
}

std::unique_ptr<PendingEntry> CompressionPipeline::take_front_locked() {
  auto entry = std::move(window_.front());
  window_.pop_front();
  bytes_in_flight_ -= entry->data.size();
  return entry;
}

std::unique_ptr<PendingEntry> CompressionPipeline::pop_front() {
  std::unique_lock lock(mutex_);
  if (window_.empty()) return nullptr;
  if (!window_.front()->done && !todo_.empty() && idle_workers_ > 0) work_ready_.notify_all();
  caller_waiting_ = true;
  front_done_.wait(lock, [this] { return window_.front()->done; });
  caller_waiting_ = false;
  return take_front_locked();
}

std::unique_ptr<PendingEntry> CompressionPipeline::try_pop_front() {
  const std::lock_guard lock(mutex_);
  if (window_.empty() || !window_.front()->done) return nullptr;
  return take_front_locked();
}

void CompressionPipeline::run_worker() {
  EntryCompressor compressor;
  std::vector<PendingEntry*> claimed;
  for (;;) {
    claimed.clear();
    {
      std::unique_lock lock(mutex_);
      ++idle_workers_;
      work_ready_.wait(lock, [this] { return stopping_ || !todo_.empty(); });
      --idle_workers_;
      if (stopping_) return;
      // Small entries are claimed a few at a time, so that locking and waking cost little per entry.
      std::size_t bytes = 0;
      while (!todo_.empty() && claimed.size() < CLAIM_ENTRIES && bytes < CLAIM_BYTES) {
        claimed.push_back(todo_.front());
        bytes += todo_.front()->data.size();
        todo_bytes_ -= todo_.front()->data.size();
        todo_.pop_front();
      }
      if (!todo_.empty() && idle_workers_ > 0) work_ready_.notify_one();
    }
    // Claimed entries are this worker's alone until they are marked done; the window keeps them alive.
    // Each entry is compressed straight into a buffer of its own, which the writer copies into the file's.
    for (PendingEntry* entry : claimed) {
      auto written =
          compressor.compress_into(entry->data, entry->frame.room(EntryCompressor::bound(entry->data.size())));
      if (!written) {
        entry->failure = std::move(written.error());
        entry->frame.release();
      } else if (*written < entry->data.size()) {
        entry->frame.commit(*written);
        entry->compressed = true;
      } else {
        entry->frame.release();
      }
    }
    bool wake = false;
    {
      const std::lock_guard lock(mutex_);
      for (PendingEntry* entry : claimed) entry->done = true;
      wake = caller_waiting_;
    }
    if (wake) front_done_.notify_all();
  }
}

}  // namespace quillmarsh::dat::detail
