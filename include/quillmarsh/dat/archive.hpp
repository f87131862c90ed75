// The QMA archive: a header, the entries' stored bytes in the order they were added, the namespace
// metadata block, then the index, sorted by namespace bytes and then file id.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "quillmarsh/dat/error.hpp"
#include "quillmarsh/dat/file.hpp"
#include "quillmarsh/dat/resource.hpp"

namespace quillmarsh::dat {

inline constexpr std::size_t QMA_HEADER_SIZE = 24;
inline constexpr std::size_t QMA_ENTRY_SIZE = 60;
inline constexpr std::size_t QMA_NAMESPACE_RECORD_SIZE = 40;
inline constexpr std::uint32_t QMA_VERSION = 2;
inline constexpr std::uint8_t FLAG_COMPRESSED = 0x01;
inline constexpr std::array<std::uint8_t, 4> QMA_MAGIC = {0x51, 0x4D, 0x41, 0x00};  // "QMA\0"
// The most compression threads a writer starts.
inline constexpr unsigned QMA_MAX_COMPRESSION_WORKERS = 256;
// 60 × entry_count must fit in 32 bits.
inline constexpr std::uint32_t QMA_MAX_ENTRIES = 0xFFFFFFFFU / QMA_ENTRY_SIZE;

struct QmaHeader {
  std::array<std::uint8_t, 4> magic = QMA_MAGIC;
  std::uint32_t version = QMA_VERSION;
  std::uint32_t entry_count = 0;
  std::uint64_t index_offset = 0;
  std::uint32_t metadata_size = 0;

  static BinResult<QmaHeader> read(ByteReader& reader);
  void write(ByteWriter& writer) const;
};

struct QmaNamespaceIndexEntry {
  ResourceNamespace namespace_;
  std::uint32_t start_index = 0;
  std::uint32_t entry_count = 0;

  static BinResult<QmaNamespaceIndexEntry> read(ByteReader& reader);  // namespace not validated here
  void write(ByteWriter& writer) const;
};

struct QmaEntry {
  ResourceNamespace namespace_;
  std::uint32_t file_id = 0;
  std::uint32_t type_id = 0;
  std::uint64_t offset = 0;
  std::uint32_t size = 0;
  std::uint32_t comp_size = 0;
  std::uint8_t flags = 0;
  std::uint8_t storage_id = 0;
  std::uint16_t reserved = 0;

  bool compressed() const { return (flags & FLAG_COMPRESSED) != 0; }
  static BinResult<QmaEntry> read(ByteReader& reader);  // namespace bytes taken as stored
  void write(ByteWriter& writer) const;
};

// Writes an archive in one pass: `create`, any number of `add`, then `finish`. By default each entry's
// bytes are written at once, and memory holds only the 60-byte index records; compression workers and
// a write buffer (opt-in, below) defer writes within a bounded amount of memory.
class QmaStreamWriter {
 public:
  static DatResult<QmaStreamWriter> create(const std::filesystem::path& path);

  QmaStreamWriter(QmaStreamWriter&&) noexcept;
  QmaStreamWriter& operator=(QmaStreamWriter&&) noexcept;
  ~QmaStreamWriter();

  DatResult<void> add(std::string_view namespace_, std::uint32_t file_id, std::uint32_t type_id, Bytes data);
  DatResult<void> finish() &&;

  // Entries accepted so far, including those still being compressed.
  std::size_t entry_count() const;

  // Compresses entries on `workers` threads; 0 (the default) compresses inside `add`. Blobs are still
  // written in `add` order, so the archive is byte for byte the one a single-threaded writer makes.
  // With workers, `add` checks the namespace, the limits and duplicates at once and queues the entry
  // (waiting while the bounded queue of entries in flight is full); its blob is written by a later
  // `add` or by `finish`. A write that fails there is returned by that call, and then by every later
  // `add` and `finish`: the writer is failed for good. Changing the count first writes every entry in
  // flight, so it can return such an error too. More than QMA_MAX_COMPRESSION_WORKERS, or threads the
  // system refuses to start, is an error after which the writer goes on with the workers it had.
  DatResult<void> set_compression_workers(unsigned workers);
  unsigned compression_workers() const;

  // Collects stored blobs, in `add` order, up to `bytes` and writes them with one write; a blob of
  // that size or more is written on its own. 0 (the default) writes each blob within its `add`. Many
  // small entries then cost far fewer system calls, and full buffers are written by a thread of the
  // writer's own while `add` goes on (memory: two buffers); the archive's bytes are the same. Writes
  // become deferred as with workers, with the same error rule; changing the size first writes what is
  // held.
  DatResult<void> set_write_buffer_size(std::size_t bytes);

  bool compress = true;

 private:
  struct State;
  explicit QmaStreamWriter(std::unique_ptr<State> state);
  DatResult<void> write_entry(std::string_view namespace_, std::uint32_t file_id, std::uint32_t type_id, Bytes data,
                              std::uint8_t flag_code);
  std::unique_ptr<State> state_;
};

namespace detail {
class ProbeCache;
}

// Validates an archive at open, then serves lookups by (namespace, file id) with positional reads
// only: the index stays on disk, and a reader may be shared by threads. From a plain file, the ids of
// the records every search probes first are kept once read (16 bytes a record, 256 KiB at most).
class QmaReader {
 public:
  static DatResult<QmaReader> open(const std::filesystem::path& path);
  // The same over a memory mapping of the file (see MappedFile): lookups without system calls, and
  // compressed entries decompressed straight out of the mapping. Errors as `open`.
  static DatResult<QmaReader> open_mapped(const std::filesystem::path& path);
  static DatResult<QmaReader> from_source(std::unique_ptr<FileExtPolyfill> source);

  QmaReader(QmaReader&&) noexcept;
  QmaReader& operator=(QmaReader&&) noexcept;
  ~QmaReader();

  DatResult<QmaEntry> find_entry_in_namespace(std::string_view namespace_, std::uint32_t file_id) const;
  DatResult<Bytes> get_file_in_namespace(std::string_view namespace_, std::uint32_t file_id) const;
  DatResult<Bytes> read_entry_data(const QmaEntry& entry) const;

  const QmaHeader& header() const { return header_; }
  std::span<const QmaNamespaceIndexEntry> namespaces() const { return namespaces_; }
  std::uint64_t file_len() const { return file_len_; }
  // The index record at `position` (0 .. entry_count - 1), read from disk.
  DatResult<QmaEntry> entry_at(std::uint32_t position) const;
  const FileExtPolyfill& source() const { return *source_; }

 private:
  QmaReader(std::unique_ptr<FileExtPolyfill> source, QmaHeader header, std::uint64_t file_len,
            std::vector<QmaNamespaceIndexEntry> namespaces);

  std::unique_ptr<FileExtPolyfill> source_;
  ByteView mapped_;  // the whole file when the source is a MappedFile; empty otherwise
  QmaHeader header_;
  std::uint64_t file_len_ = 0;
  std::vector<QmaNamespaceIndexEntry> namespaces_;
  std::unique_ptr<const detail::ProbeCache> probes_;  // plain files only; a mapping needs no reads
};

// Whether one more entry of `data_size` bytes fits the format: sizes are 32-bit and the index holds at
// most QMA_MAX_ENTRIES records. `add` runs this before it writes or records anything for the entry.
DatResult<void> check_qma_entry_limits(std::string_view namespace_, std::uint32_t file_id, std::uint64_t data_size,
                                       std::size_t entries_so_far);

// One-shot zstd decompression into exactly `capacity` bytes at most; nothing on any zstd error.
std::optional<Bytes> decompress_zstd(ByteView data, std::size_t capacity);

}  // namespace quillmarsh::dat
