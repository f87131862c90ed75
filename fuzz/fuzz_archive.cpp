// The archive reader over arbitrary bytes held in memory: open, then every lookup the index allows.
// Each namespace record's span is walked record by record; each record is looked up again by its
// namespace and id, and its bytes are read. Ids around every stored id, and the extremes, are looked
// up too, so the binary search runs off both ends of every span.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "fuzz_check.hpp"
#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/archive_verify.hpp"

namespace {

using quillmarsh::Bytes;
using quillmarsh::dat::QmaEntry;
using quillmarsh::dat::QmaReader;

// Bounds the work per input; a span can claim up to file length / 60 records.
constexpr std::uint32_t kMaxEntriesWalked = 4096;

void check_entry_bytes(const QmaReader& reader, const QmaEntry& entry) {
  auto bytes = reader.read_entry_data(entry);
  if (!bytes) {
    (void)bytes.error().to_string();
    return;
  }
  // What comes back is exactly as long as the index says: the stored length, or the original size.
  QM_FUZZ_CHECK(bytes->size() == (entry.compressed() ? entry.size : entry.comp_size));
  QM_FUZZ_CHECK(entry.offset + entry.comp_size <= reader.file_len());
}

void probe(const QmaReader& reader, std::string_view label, std::uint32_t file_id) {
  auto found = reader.find_entry_in_namespace(label, file_id);
  if (found) QM_FUZZ_CHECK(found->file_id == file_id);
  auto bytes = reader.get_file_in_namespace(label, file_id);
  if (!bytes) (void)bytes.error().to_string();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto opened = QmaReader::from_source(std::make_unique<quillmarsh::dat::MemoryFile>(Bytes(data, data + size)));
  if (!opened) {
    (void)opened.error().to_string();
    return 0;
  }
  const QmaReader& reader = *opened;
  QM_FUZZ_CHECK(reader.header().index_offset + std::uint64_t{60} * reader.header().entry_count <= size);

  std::uint32_t walked = 0;
  for (const auto& record : reader.namespaces()) {
    const std::string label(record.namespace_.label());
    QM_FUZZ_CHECK(!label.empty());
    for (std::uint32_t i = 0; i < record.entry_count && walked < kMaxEntriesWalked; ++i, ++walked) {
      auto entry = reader.entry_at(record.start_index + i);
      if (!entry) {
        (void)entry.error().to_string();
        continue;
      }
      check_entry_bytes(reader, *entry);
      probe(reader, label, entry->file_id);
      probe(reader, label, entry->file_id - 1);
      probe(reader, label, entry->file_id + 1);
    }
    probe(reader, label, 0);
    probe(reader, label, 0xFFFFFFFFU);
  }
  probe(reader, "eor/portal", 1);
  probe(reader, "", 1);
  // One past the last record is out of range, never a read beyond the index.
  QM_FUZZ_CHECK(!reader.entry_at(reader.header().entry_count).has_value());

  if (reader.header().entry_count <= kMaxEntriesWalked) {
    for (const auto& problem : quillmarsh::dat::verify_archive(reader)) (void)problem.to_string();
  }
  return 0;
}
