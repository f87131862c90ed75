// The archive reader: every structural check happens at open; lookups then binary-search the namespace
// records in memory and the namespace's span of the on-disk index, one 60-byte positional read a probe.
#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#define ZSTD_STATIC_LINKING_ONLY  // ZSTD_decompressBound
#include <zstd.h>

#include "archive_probe_cache.hpp"
#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/mapped_file.hpp"

namespace quillmarsh::dat {

namespace {

DatError corruption(std::string reason) { return DatError::Corruption{std::move(reason)}; }

// Where an index record keeps its file id (after the 32 namespace bytes).
constexpr std::size_t FILE_ID_OFFSET = 32;
// The index records a lookup in a plain file reads at once at the end of its search (4080 bytes).
constexpr std::uint32_t WINDOW_RECORDS = 68;

std::uint32_t read_le_u32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

// Asks the processor for the records the next two steps of a binary search over [lo, hi] may probe
// after `mid`, so that their cache misses overlap this step's instead of following it. In a large
// mapped index the last steps land on cold memory; this is what keeps their cost down.
void prefetch_next_probes(const std::uint8_t* index, std::uint32_t lo, std::uint32_t mid, std::uint32_t hi) {
  const auto hint = [index](std::uint32_t l, std::uint32_t h) {
    const std::uint32_t m = l + (h - l) / 2;
    __builtin_prefetch(index + std::size_t{QMA_ENTRY_SIZE} * m + FILE_ID_OFFSET);
    return m;
  };
  const auto two_levels = [&](std::uint32_t l, std::uint32_t h) {
    const std::uint32_t m = hint(l, h);
    if (m > l) hint(l, m - 1);
    if (m < h) hint(m + 1, h);
  };
  if (mid > lo) two_levels(lo, mid - 1);
  if (mid < hi) two_levels(mid + 1, hi);
}

// One decompression context per thread, so a reader shared by threads needs no lock.
struct DctxHolder {
  ZSTD_DCtx* dctx = ZSTD_createDCtx();
  DctxHolder() = default;
  DctxHolder(const DctxHolder&) = delete;
  DctxHolder& operator=(const DctxHolder&) = delete;
  ~DctxHolder() { ZSTD_freeDCtx(dctx); }
};
ZSTD_DCtx* thread_dctx() {
  thread_local DctxHolder holder;
  return holder.dctx;
}

// A per-thread buffer for compressed bytes read from a file, so a lookup allocates only its result.
Bytes& thread_scratch() {
  thread_local Bytes scratch;
  return scratch;
}
// Gives back a buffer grown by a very large entry.
void release_scratch(Bytes& scratch) {
  constexpr std::size_t keep = std::size_t{4} << 20;
  if (scratch.capacity() > keep) Bytes().swap(scratch);
}

// The namespace records that sit in `metadata_size` bytes at `metadata_offset`, validated: sorted,
// contiguous from index 0, and covering exactly `entry_count` index entries.
DatResult<std::vector<QmaNamespaceIndexEntry>> read_namespace_spans(const FileExtPolyfill& source,
                                                                    std::uint64_t metadata_offset,
                                                                    std::uint32_t metadata_size,
                                                                    std::uint32_t entry_count) {
  std::vector<QmaNamespaceIndexEntry> spans;
  if (metadata_size == 0) return spans;

  // The caller has checked that the block lies inside the file, so this size is backed by real bytes.
  Bytes block(metadata_size);
  QM_TRY(source.read_exact_at_compat(block, metadata_offset));
  ByteReader reader(block);
  QM_TRY_ASSIGN(const std::uint32_t count, reader.read_u32());

  const std::uint64_t required = 4 + std::uint64_t{QMA_NAMESPACE_RECORD_SIZE} * count;
  if (required != metadata_size) {
    return dat_fail(corruption(fmt::format("QMA metadata size mismatch: header says {}, metadata contents require {}",
                                           metadata_size, required)));
  }

  spans.reserve(count);  // bounded by metadata_size, which was just matched against the count
  std::uint32_t expected_start = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    QM_TRY_ASSIGN(const QmaNamespaceIndexEntry record, QmaNamespaceIndexEntry::read(reader));
    QM_TRY(ResourceNamespace::from_bytes(record.namespace_.bytes()));
    if (i > 0 && !(spans.back().namespace_ < record.namespace_)) {
      return dat_fail(corruption("QMA namespace metadata is not strictly sorted"));
    }
    if (record.start_index != expected_start) {
      return dat_fail(corruption(fmt::format("QMA namespace metadata is not contiguous: expected start {}, found {}",
                                             expected_start, record.start_index)));
    }
    if (record.entry_count > std::numeric_limits<std::uint32_t>::max() - record.start_index) {
      return dat_fail(corruption("QMA namespace span overflow"));
    }
    const std::uint32_t end = record.start_index + record.entry_count;
    if (end > entry_count) {
      return dat_fail(
          corruption(fmt::format("QMA namespace span exceeds total entry count ({} > {})", end, entry_count)));
    }
    spans.push_back(record);
    expected_start = end;
  }
  if (expected_start != entry_count) {
    return dat_fail(corruption(
        fmt::format("QMA namespace metadata covered {} entries but header declares {}", expected_start, entry_count)));
  }
  return spans;
}

}  // namespace

QmaReader::QmaReader(std::unique_ptr<FileExtPolyfill> source, QmaHeader header, std::uint64_t file_len,
                     std::vector<QmaNamespaceIndexEntry> namespaces)
    : source_(std::move(source)), header_(header), file_len_(file_len), namespaces_(std::move(namespaces)) {
  if (const auto* mapped = dynamic_cast<const MappedFile*>(source_.get())) {
    mapped_ = mapped->bytes();
  } else {
    probes_ = std::make_unique<const detail::ProbeCache>(header_.entry_count);
  }
}

QmaReader::QmaReader(QmaReader&&) noexcept = default;
QmaReader& QmaReader::operator=(QmaReader&&) noexcept = default;
QmaReader::~QmaReader() = default;

DatResult<QmaReader> QmaReader::open(const std::filesystem::path& path) {
  auto file = File::open(path);
  if (!file) return dat_fail(DatError::PathError{path, std::move(file.error())});
  return from_source(std::make_unique<File>(std::move(*file)));
}

DatResult<QmaReader> QmaReader::open_mapped(const std::filesystem::path& path) {
  auto file = MappedFile::open(path);
  if (!file) return dat_fail(DatError::PathError{path, std::move(file.error())});
  return from_source(std::make_unique<MappedFile>(std::move(*file)));
}

DatResult<QmaReader> QmaReader::from_source(std::unique_ptr<FileExtPolyfill> source) {
  std::array<std::uint8_t, QMA_HEADER_SIZE> raw{};
  QM_TRY(source->read_exact_at_compat(raw, 0));
  ByteReader reader(raw);
  QM_TRY_ASSIGN(const QmaHeader header, QmaHeader::read(reader));

  if (header.magic != QMA_MAGIC) return dat_fail(DatError::InvalidMagic{"QMA"});
  if (header.version != QMA_VERSION) return dat_fail(DatError::UnsupportedVersion{header.version});
  QM_TRY_ASSIGN(const std::uint64_t file_len, source->len_compat());

  if (header.entry_count > QMA_MAX_ENTRIES) return dat_fail(corruption("QMA index size overflow"));
  const std::uint64_t index_size = std::uint64_t{header.entry_count} * QMA_ENTRY_SIZE;
  if (header.index_offset > std::numeric_limits<std::uint64_t>::max() - index_size) {
    return dat_fail(corruption("QMA index range overflow"));
  }
  const std::uint64_t index_end = header.index_offset + index_size;
  if (index_end > file_len) {
    return dat_fail(corruption(fmt::format("QMA index extends beyond file size ({} > {})", index_end, file_len)));
  }
  if (header.index_offset < header.metadata_size) return dat_fail(corruption("QMA metadata offset underflow"));
  const std::uint64_t metadata_offset = header.index_offset - header.metadata_size;
  if (metadata_offset < QMA_HEADER_SIZE) {
    return dat_fail(corruption(fmt::format("QMA metadata offset {} is within header area", metadata_offset)));
  }
  if (header.entry_count != 0 && header.metadata_size == 0) {
    return dat_fail(corruption("QMA v2 archives with entries must include namespace metadata"));
  }
  QM_TRY_ASSIGN(auto spans, read_namespace_spans(*source, metadata_offset, header.metadata_size, header.entry_count));
  return QmaReader(std::move(source), header, file_len, std::move(spans));
}

DatResult<QmaEntry> QmaReader::entry_at(std::uint32_t position) const {
  if (position >= header_.entry_count) {
    return dat_fail(DatError::Other{
        fmt::format("QMA index position {} is out of range ({} entries)", position, header_.entry_count)});
  }
  std::array<std::uint8_t, QMA_ENTRY_SIZE> raw{};
  QM_TRY(source_->read_exact_at_compat(raw, header_.index_offset + std::uint64_t{QMA_ENTRY_SIZE} * position));
  ByteReader reader(raw);
  QM_TRY_ASSIGN(QmaEntry entry, QmaEntry::read(reader));
  return entry;
}

DatResult<QmaEntry> QmaReader::find_entry_in_namespace(std::string_view namespace_, std::uint32_t file_id) const {
  QM_TRY_ASSIGN(const ResourceNamespace ns, ResourceNamespace::create(namespace_));
  const auto it =
      std::lower_bound(namespaces_.begin(), namespaces_.end(), ns,
                       [](const QmaNamespaceIndexEntry& r, const ResourceNamespace& n) { return r.namespace_ < n; });
  if (it == namespaces_.end() || it->namespace_ != ns) return dat_fail(DatError::NotFound{file_id});
  if (it->entry_count == 0 || it->entry_count - 1 > std::numeric_limits<std::uint32_t>::max() - it->start_index) {
    return dat_fail(DatError::NotFound{file_id});
  }

  // Inclusive bounds within the namespace's span; the span guarantees every probe's namespace.
  std::uint32_t lo = it->start_index;
  std::uint32_t hi = it->start_index + (it->entry_count - 1);
  // Over a mapping the index is read in place (it lies inside the file, checked at open). From a file,
  // once the records left between lo and hi fit in a small window, they are read with one call and the
  // same probes continue in memory: fewer system calls, the same records probed in the same order.
  const std::uint8_t* index = mapped_.empty() ? nullptr : mapped_.data() + header_.index_offset;
  std::array<std::uint8_t, WINDOW_RECORDS * QMA_ENTRY_SIZE> window;  // filled before it is read
  std::uint32_t window_first = 0;
  bool windowed = false;
  const auto record_offset = [this](std::uint32_t position) {
    return header_.index_offset + std::uint64_t{QMA_ENTRY_SIZE} * position;
  };
  detail::SearchProbe probe{lo, 1, 0};
  for (;;) {
    const std::uint32_t mid = lo + (hi - lo) / 2;
    probe.position = mid;
    // A probe decodes only the record's id; the whole record is decoded on a match. Probes near the
    // top of a search from a file may take the id from the probe cache and read no record at all.
    const std::uint8_t* record = nullptr;
    std::optional<std::uint32_t> kept_id;
    std::array<std::uint8_t, QMA_ENTRY_SIZE> raw;
    if (index != nullptr) {
      prefetch_next_probes(index, lo, mid, hi);
      record = index + std::size_t{QMA_ENTRY_SIZE} * mid;
    } else {
      if (!windowed && hi - lo < WINDOW_RECORDS) {
        const std::size_t length = std::size_t{QMA_ENTRY_SIZE} * (hi - lo + 1);
        QM_TRY(source_->read_exact_at_compat(std::span(window.data(), length), record_offset(lo)));
        window_first = lo;
        windowed = true;
      }
      if (windowed) {
        record = window.data() + std::size_t{QMA_ENTRY_SIZE} * (mid - window_first);
      } else if ((kept_id = probes_->find(probe))) {
        // The id alone decides where the search goes next.
      } else {
        QM_TRY(source_->read_exact_at_compat(raw, record_offset(mid)));
        record = raw.data();
        probes_->remember(probe, read_le_u32(record + FILE_ID_OFFSET));
      }
    }
    const std::uint32_t probe_id = kept_id ? *kept_id : read_le_u32(record + FILE_ID_OFFSET);
    if (probe_id == file_id) {
      if (record == nullptr) QM_TRY(source_->read_exact_at_compat(raw, record_offset(mid)));
      if (record != nullptr && record != raw.data()) std::memcpy(raw.data(), record, QMA_ENTRY_SIZE);
      ByteReader reader(raw);
      QM_TRY_ASSIGN(QmaEntry entry, QmaEntry::read(reader));
      return entry;
    }
    if (probe_id > file_id) {
      if (mid == it->start_index) return dat_fail(DatError::NotFound{file_id});
      hi = mid - 1;
      probe.node = 2 * probe.node;
    } else {
      lo = mid + 1;
      probe.node = 2 * probe.node + 1;
    }
    if (hi < lo) return dat_fail(DatError::NotFound{file_id});
  }
}

DatResult<Bytes> QmaReader::get_file_in_namespace(std::string_view namespace_, std::uint32_t file_id) const {
  QM_TRY_ASSIGN(const QmaEntry entry, find_entry_in_namespace(namespace_, file_id));
  return read_entry_data(entry);
}

DatResult<Bytes> QmaReader::read_entry_data(const QmaEntry& entry) const {
  if (entry.offset > std::numeric_limits<std::uint64_t>::max() - entry.comp_size) {
    return dat_fail(corruption(fmt::format("Entry offset overflow for 0x{:08X}: offset {} + comp_size {}",
                                           entry.file_id, entry.offset, entry.comp_size)));
  }
  if (entry.offset + entry.comp_size > file_len_) {
    return dat_fail(
        corruption(fmt::format("Entry range out of bounds for 0x{:08X}: offset {} + comp_size {} > file_len {}",
                               entry.file_id, entry.offset, entry.comp_size, file_len_)));
  }
  std::optional<Bytes> data;
  if (!entry.compressed()) {
    Bytes stored(entry.comp_size);
    QM_TRY(source_->read_exact_at_compat(stored, entry.offset));
    return stored;
  }
  if (!mapped_.empty()) {
    // Straight out of the mapping: the range was checked against the file length above.
    data = decompress_zstd(mapped_.subspan(static_cast<std::size_t>(entry.offset), entry.comp_size), entry.size);
  } else {
    Bytes& stored = thread_scratch();
    stored.resize(entry.comp_size);
    auto read = source_->read_exact_at_compat(stored, entry.offset);
    if (read) data = decompress_zstd(stored, entry.size);
    release_scratch(stored);
    QM_TRY(read);
  }
  if (!data) return dat_fail(DatError::DecompressionFailed{entry.file_id});
  if (data->size() != entry.size) {
    return dat_fail(corruption(fmt::format("Decompressed size mismatch for 0x{:08X}: expected {}, got {}",
                                           entry.file_id, entry.size, data->size())));
  }
  return std::move(*data);
}

std::optional<Bytes> decompress_zstd(ByteView data, std::size_t capacity) {
  // The capacity comes from an index record; the frames themselves bound what they can produce, so a
  // hostile size cannot make us allocate more than the input could ever fill. A smaller buffer changes
  // no outcome: output that fits `capacity` also fits the bound.
  const unsigned long long bound = ZSTD_decompressBound(data.data(), data.size());
  if (bound == ZSTD_CONTENTSIZE_ERROR) return std::nullopt;
  const std::size_t buffer_size = bound < capacity ? static_cast<std::size_t>(bound) : capacity;

  // Each thread keeps one context; a full reset before every use makes it as good as a new one, with
  // no dictionary, so results do not depend on what the thread decompressed before.
  ZSTD_DCtx* dctx = thread_dctx();
  if (dctx == nullptr || ZSTD_isError(ZSTD_DCtx_reset(dctx, ZSTD_reset_session_and_parameters))) return std::nullopt;
  Bytes buffer(buffer_size);
  const std::size_t n = ZSTD_decompressDCtx(dctx, buffer.data(), buffer.size(), data.data(), data.size());
  if (ZSTD_isError(n)) return std::nullopt;
  buffer.resize(n);
  return buffer;
}

}  // namespace quillmarsh::dat
