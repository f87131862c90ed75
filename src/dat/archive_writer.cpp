// The one-pass archive writer: blobs go to disk as they arrive, the index is sorted and written by finish.
#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>

#include "archive_compressor.hpp"
#include "archive_seen_keys.hpp"
#include "archive_write_behind.hpp"
#include "quillmarsh/dat/archive.hpp"

namespace quillmarsh::dat {

namespace {

using detail::write_all;

tl::expected<void, IoError> write_all_at(int fd, ByteView bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t n = ::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset));
    if (n < 0) {
      if (errno == EINTR) continue;
      return tl::unexpected(IoError::from_errno(errno));
    }
    if (n == 0) return tl::unexpected(IoError::write_zero());
    bytes = bytes.subspan(static_cast<std::size_t>(n));
    offset += static_cast<std::uint64_t>(n);
  }
  return {};
}

// Collects small records and hands them to the file 8 KiB at a time. A record that cannot be written
// is a binary (record) error; the final flush is a plain I/O error.
class RecordSink {
 public:
  RecordSink(int fd, std::uint64_t& pos) : fd_(fd), pos_(pos) {}

  template <class Record>
  DatResult<void> put(const Record& record) {
    scratch_.clear();
    ByteWriter w(scratch_);
    record.write(w);
    if (len_ + scratch_.size() > buffer_.size()) {
      if (auto r = flush_buffer(); !r) return dat_fail(BinError(std::move(r.error())));
    }
    std::memcpy(buffer_.data() + len_, scratch_.data(), scratch_.size());
    len_ += scratch_.size();
    return {};
  }
  DatResult<void> put_u32(std::uint32_t v) {
    struct Count {
      std::uint32_t v;
      void write(ByteWriter& w) const { w.write_u32(v); }
    };
    return put(Count{v});
  }
  DatResult<void> flush() {
    if (auto r = flush_buffer(); !r) return dat_fail(std::move(r.error()));
    return {};
  }

 private:
  tl::expected<void, IoError> flush_buffer() {
    const std::size_t n = std::exchange(len_, 0);
    return write_all(fd_, ByteView(buffer_.data(), n), pos_);
  }

  int fd_;
  std::uint64_t& pos_;
  std::array<std::uint8_t, 8192> buffer_{};
  std::size_t len_ = 0;
  Bytes scratch_;
};

}  // namespace

// Entries in flight per worker, and the input bytes in flight in all: enough to keep every worker
// busy while the caller writes, small enough that memory stays far below the archive's size.
constexpr std::size_t IN_FLIGHT_ENTRIES_PER_WORKER = 512;
constexpr std::size_t IN_FLIGHT_BYTES = std::size_t{64} << 20;

struct QmaStreamWriter::State {
  int fd = -1;
  // The end of everything written so far; with a write thread, of everything handed to it.
  std::uint64_t pos = 0;
  std::vector<QmaEntry> entries;
  detail::SeenKeys seen;
  std::optional<std::string> last_label;  // the namespace of the last add, as given, and as validated
  ResourceNamespace last_namespace;
  detail::EntryCompressor compressor;
  std::unique_ptr<detail::CompressionPipeline> pipeline;  // only with compression workers
  std::size_t write_buffer_limit = 0;                     // 0: every blob is written by its own add
  detail::BlobBuffer batch;                               // blobs not yet written, back to back
  std::unique_ptr<detail::WriteBehind> write_behind;      // writes full batches; only with a buffer
  std::optional<DatError> failed;                         // a deferred write that failed

  explicit State(int fd_) : fd(fd_) {}
  State(const State&) = delete;
  State& operator=(const State&) = delete;
  ~State() {
    pipeline.reset();      // joins the workers
    write_behind.reset();  // finishes the write in progress
    if (fd >= 0) ::close(fd);
  }

  std::size_t accepted() const { return entries.size() + (pipeline ? pipeline->in_flight() : 0); }
  // Whether a blob may reach the file after its add returned; then a failed write fails the writer.
  bool deferred() const { return pipeline != nullptr || write_buffer_limit > 0; }

  // The validated namespace; the last one is remembered, as entries come in runs of one namespace.
  DatResult<ResourceNamespace> namespace_of(std::string_view label) {
    if (!last_label || label != *last_label) {
      QM_TRY_ASSIGN(last_namespace, ResourceNamespace::create(label));
      last_label = std::string(label);
    }
    return last_namespace;
  }

  // Appends the entry's stored bytes at the end of the file (or of the batch) and records it.
  DatResult<void> store(QmaEntry entry, ByteView stored) {
    entry.comp_size = static_cast<std::uint32_t>(stored.size());
    if (write_buffer_limit > 0) {
      if (!batch.empty() && batch.size() + stored.size() > write_buffer_limit) QM_TRY(flush_batch());
      if (!batch.empty() || stored.size() < write_buffer_limit) {
        entry.offset = pos + batch.size();
        batch.append(stored);
        entries.push_back(entry);
        return {};
      }
      // A blob as large as the buffer goes straight to the file, without a copy, after what the
      // write thread holds.
      QM_TRY(wait_for_writes());
    }
    entry.offset = pos;
    QM_TRY(write_all(fd, stored, pos));
    entries.push_back(entry);
    return {};
  }

  // Compresses the entry straight into the batch when its frame is sure to fit, and records it;
  // false when the entry must take the general path (compressor's buffer, then `store`).
  DatResult<bool> store_compressing_in_batch(QmaEntry& entry, ByteView data, std::string_view label) {
    const std::size_t bound = detail::EntryCompressor::bound(data.size());
    if (write_buffer_limit == 0 || bound >= write_buffer_limit) return false;
    if (!batch.empty() && batch.size() + bound > write_buffer_limit) QM_TRY(flush_batch());
    const std::size_t start = batch.size();
    auto written = compressor.compress_into(data, batch.room(bound));
    if (!written) detail::warn_compression_failed(label, entry.file_id, written.error());
    if (written && *written < data.size()) {
      batch.commit(*written);
      entry.flags |= FLAG_COMPRESSED;
    } else {
      batch.append(data);
    }
    entry.offset = pos + start;
    entry.comp_size = static_cast<std::uint32_t>(batch.size() - start);
    entries.push_back(entry);
    return true;
  }

  // Hands the batched blobs to the write thread, or writes them with one write without it.
  DatResult<void> flush_batch() {
    if (batch.empty()) return {};
    if (write_behind) {
      const std::uint64_t size = batch.size();
      QM_TRY(write_behind->submit(batch));
      pos += size;
      return {};
    }
    auto written = write_all(fd, batch.view(), pos);
    batch.clear();
    QM_TRY(written);
    return {};
  }

  // Returns once every byte handed to the write thread is in the file.
  DatResult<void> wait_for_writes() {
    if (write_behind) QM_TRY(write_behind->wait());
    return {};
  }

  // A failure of a deferred write is kept and returned by every later call.
  DatResult<void> sticky(DatResult<void> result) {
    if (!result && deferred()) failed = result.error();
    return result;
  }

  // Stores an entry the pipeline has finished; a failure fails the writer for good.
  DatResult<void> store_pending(std::unique_ptr<detail::PendingEntry> p) {
    if (p->failure) detail::warn_compression_failed(p->namespace_text, p->entry.file_id, *p->failure);
    ByteView stored = p->data;
    if (p->compressed) {
      stored = p->frame.view();
      p->entry.flags |= FLAG_COMPRESSED;
    }
    return sticky(store(p->entry, stored));
  }

  // Stores every finished entry at the front of the pipeline; with `wait`, every entry in flight.
  DatResult<void> drain(bool wait) {
    if (!pipeline) return {};
    for (;;) {
      auto p = wait ? pipeline->pop_front() : pipeline->try_pop_front();
      if (!p) return {};
      QM_TRY(store_pending(std::move(p)));
    }
  }
};

QmaStreamWriter::QmaStreamWriter(std::unique_ptr<State> state) : state_(std::move(state)) {}
QmaStreamWriter::QmaStreamWriter(QmaStreamWriter&&) noexcept = default;
QmaStreamWriter& QmaStreamWriter::operator=(QmaStreamWriter&&) noexcept = default;
QmaStreamWriter::~QmaStreamWriter() = default;

DatResult<QmaStreamWriter> QmaStreamWriter::create(const std::filesystem::path& path) {
  int fd = -1;
  do {
    fd = ::open(path.c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0666);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return dat_fail(IoError::from_errno(errno));
  auto state = std::make_unique<State>(fd);

  // The placeholder stays until finish rewrites it; a reader rejects an unfinished archive by it.
  const QmaHeader placeholder{QMA_MAGIC, QMA_VERSION, 0, 0, 0};
  Bytes header;
  ByteWriter w(header);
  placeholder.write(w);
  if (auto r = write_all(fd, header, state->pos); !r) return dat_fail(BinError(std::move(r.error())));
  return QmaStreamWriter(std::move(state));
}

std::size_t QmaStreamWriter::entry_count() const { return state_ ? state_->accepted() : 0; }

DatResult<void> QmaStreamWriter::set_compression_workers(unsigned workers) {
  if (!state_) return dat_fail(DatError::Other{"QMA writer is already finished"});
  if (workers > QMA_MAX_COMPRESSION_WORKERS) {
    return dat_fail(DatError::Other{fmt::format("Cannot use {} compression workers: at most {} are supported", workers,
                                                QMA_MAX_COMPRESSION_WORKERS)});
  }
  State& s = *state_;
  if (s.failed) return dat_fail(*s.failed);
  if (workers == compression_workers()) return {};
  QM_TRY(s.drain(true));
  std::unique_ptr<detail::CompressionPipeline> pipeline;
  if (workers > 0) {
    auto started = detail::CompressionPipeline::start(workers, IN_FLIGHT_ENTRIES_PER_WORKER * workers, IN_FLIGHT_BYTES);
    if (!started) return dat_fail(DatError::Other{std::move(started.error())});
    pipeline = std::move(*started);
  }
  s.pipeline = std::move(pipeline);
  return {};
}

DatResult<void> QmaStreamWriter::set_write_buffer_size(std::size_t bytes) {
  if (!state_) return dat_fail(DatError::Other{"QMA writer is already finished"});
  State& s = *state_;
  if (s.failed) return dat_fail(*s.failed);
  QM_TRY(s.drain(true));
  QM_TRY(s.sticky(s.flush_batch()));
  QM_TRY(s.sticky(s.wait_for_writes()));
  s.write_buffer_limit = bytes;
  if (bytes == 0) {
    s.write_behind.reset();
    s.batch.release();
  } else if (!s.write_behind) {
    // Without the thread (the system refused it), full batches are written by `add` itself.
    if (auto started = detail::WriteBehind::start(s.fd)) s.write_behind = std::move(*started);
  }
  return {};
}

unsigned QmaStreamWriter::compression_workers() const {
  return state_ && state_->pipeline ? state_->pipeline->workers() : 0;
}

DatResult<void> QmaStreamWriter::add(std::string_view namespace_, std::uint32_t file_id, std::uint32_t type_id,
                                     Bytes data) {
  return write_entry(namespace_, file_id, type_id, std::move(data), 0);
}

DatResult<void> QmaStreamWriter::write_entry(std::string_view namespace_, std::uint32_t file_id, std::uint32_t type_id,
                                             Bytes data, std::uint8_t flag_code) {
  if (!state_) return dat_fail(DatError::Other{"QMA writer is already finished"});
  State& s = *state_;
  if (s.failed) return dat_fail(*s.failed);
  QM_TRY_ASSIGN(const ResourceNamespace ns, s.namespace_of(namespace_));
  // Refused before the pair is marked seen, so nothing about this entry sticks.
  QM_TRY(check_qma_entry_limits(namespace_, file_id, data.size(), s.accepted()));
  if (!s.seen.insert(ns.bytes(), file_id)) {
    return dat_fail(DatError::DuplicateNamespacedId{std::string(namespace_), file_id});
  }

  QmaEntry entry;
  entry.namespace_ = ns;
  entry.file_id = file_id;
  entry.type_id = type_id;
  entry.size = static_cast<std::uint32_t>(data.size());
  entry.flags = static_cast<std::uint8_t>(flag_code << 2);

  if (s.pipeline) {
    auto pending = std::make_unique<detail::PendingEntry>();
    pending->entry = entry;
    pending->namespace_text = std::string(namespace_);
    pending->data = std::move(data);
    pending->try_compress = compress;
    // Room first: store finished entries from the front until the queue takes one more.
    while (s.pipeline->full()) QM_TRY(s.store_pending(s.pipeline->pop_front()));
    s.pipeline->push(std::move(pending));
    return s.drain(false);
  }

  if (compress) {
    auto in_batch = s.store_compressing_in_batch(entry, data, namespace_);
    if (!in_batch) return s.sticky(tl::unexpected(std::move(in_batch.error())));
    if (*in_batch) return {};
  }
  ByteView stored = data;
  if (compress) {
    auto compressed = s.compressor.compress(data);
    if (!compressed) {
      detail::warn_compression_failed(namespace_, file_id, compressed.error());
    } else if (compressed->size() < data.size()) {
      stored = *compressed;
      entry.flags |= FLAG_COMPRESSED;
    }
  }
  auto stored_ok = s.store(entry, stored);
  s.compressor.trim();
  return s.sticky(std::move(stored_ok));
}

DatResult<void> QmaStreamWriter::finish() && {
  if (!state_) return dat_fail(DatError::Other{"QMA writer is already finished"});
  // Closes the file on every return, success or not.
  const std::unique_ptr<State> owned = std::move(state_);
  State& s = *owned;
  if (s.failed) return dat_fail(*s.failed);
  QM_TRY(s.drain(true));
  s.pipeline.reset();
  QM_TRY(s.flush_batch());
  QM_TRY(s.wait_for_writes());
  s.write_behind.reset();
  s.batch.release();
  s.seen.clear();

  std::sort(s.entries.begin(), s.entries.end(), [](const QmaEntry& a, const QmaEntry& b) {
    if (a.namespace_ != b.namespace_) return a.namespace_ < b.namespace_;
    return a.file_id < b.file_id;
  });

  std::vector<QmaNamespaceIndexEntry> namespaces;
  for (std::size_t i = 0; i < s.entries.size(); ++i) {
    if (namespaces.empty() || namespaces.back().namespace_ != s.entries[i].namespace_) {
      namespaces.push_back({s.entries[i].namespace_, static_cast<std::uint32_t>(i), 0});
    }
    ++namespaces.back().entry_count;
  }

  const std::uint64_t metadata_offset = s.pos;
  {
    RecordSink sink(s.fd, s.pos);
    QM_TRY(sink.put_u32(static_cast<std::uint32_t>(namespaces.size())));
    for (const auto& record : namespaces) QM_TRY(sink.put(record));
    QM_TRY(sink.flush());
  }

  const std::uint64_t index_offset = s.pos;
  {
    RecordSink sink(s.fd, s.pos);
    for (const auto& entry : s.entries) QM_TRY(sink.put(entry));
    QM_TRY(sink.flush());
  }

  const QmaHeader header{QMA_MAGIC, QMA_VERSION, static_cast<std::uint32_t>(s.entries.size()), index_offset,
                         static_cast<std::uint32_t>(index_offset - metadata_offset)};
  Bytes bytes;
  ByteWriter w(bytes);
  header.write(w);
  if (auto r = write_all_at(s.fd, bytes, 0); !r) return dat_fail(BinError(std::move(r.error())));

  // A failing close can mean lost data on some file systems: report it rather than claim success.
  const int fd = std::exchange(s.fd, -1);
  if (::close(fd) != 0 && errno != EINTR) return dat_fail(IoError::from_errno(errno));
  return {};
}

}  // namespace quillmarsh::dat
