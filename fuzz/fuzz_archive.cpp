// The archive reader over arbitrary bytes: open, then every lookup the index allows. Each namespace
// record's span is walked record by record; each record is looked up again by its namespace and id,
// and its bytes are read. Ids around every stored id, and the extremes, are looked up too, so the
// binary search runs off both ends of every span.
//
// The same bytes are read twice: from memory through the positional-read interface, and from a
// memory mapping of a file holding them, where lookups read the index in place. Both readers must
// give the same answer to every question.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include "fuzz_check.hpp"
#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/archive_verify.hpp"

namespace {

using quillmarsh::Bytes;
using quillmarsh::dat::DatResult;
using quillmarsh::dat::QmaEntry;
using quillmarsh::dat::QmaReader;

// Bounds the work per input; a span can claim up to file length / 60 records.
constexpr std::uint32_t kMaxEntriesWalked = 4096;

bool same_entry(const QmaEntry& a, const QmaEntry& b) {
  return a.namespace_ == b.namespace_ && a.file_id == b.file_id && a.type_id == b.type_id && a.offset == b.offset &&
         a.size == b.size && a.comp_size == b.comp_size && a.flags == b.flags && a.storage_id == b.storage_id &&
         a.reserved == b.reserved;
}

// Both readers failed, or both succeeded with the same value.
template <class T, class Same>
void agree(const DatResult<T>& a, const DatResult<T>& b, Same same) {
  QM_FUZZ_CHECK(a.has_value() == b.has_value());
  if (a && b) QM_FUZZ_CHECK(same(*a, *b));
  if (!a) (void)a.error().to_string();
}

void check_entry_bytes(const QmaReader& memory, const QmaReader& mapped, const QmaEntry& entry) {
  auto bytes = memory.read_entry_data(entry);
  agree(bytes, mapped.read_entry_data(entry), std::equal_to<Bytes>());
  if (!bytes) return;
  // What comes back is exactly as long as the index says: the stored length, or the original size.
  QM_FUZZ_CHECK(bytes->size() == (entry.compressed() ? entry.size : entry.comp_size));
  QM_FUZZ_CHECK(entry.offset + entry.comp_size <= memory.file_len());
}

void probe(const QmaReader& memory, const QmaReader& mapped, std::string_view label, std::uint32_t file_id) {
  auto found = memory.find_entry_in_namespace(label, file_id);
  agree(found, mapped.find_entry_in_namespace(label, file_id), same_entry);
  if (found) QM_FUZZ_CHECK(found->file_id == file_id);
  agree(memory.get_file_in_namespace(label, file_id), mapped.get_file_in_namespace(label, file_id),
        std::equal_to<Bytes>());
}

// The input as a file of this process's own, for the mapped reader.
std::filesystem::path scratch_file(const std::uint8_t* data, std::size_t size) {
  static const std::filesystem::path path =
      std::filesystem::temp_directory_path() / ("quillmarsh-fuzz-archive-" + std::to_string(::getpid()) + ".qma");
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  QM_FUZZ_CHECK(static_cast<bool>(out));
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto memory = QmaReader::from_source(std::make_unique<quillmarsh::dat::MemoryFile>(Bytes(data, data + size)));
  const auto path = scratch_file(data, size);
  auto mapped = QmaReader::open_mapped(path);
  std::filesystem::remove(path);  // the mapping outlives the name
  QM_FUZZ_CHECK(memory.has_value() == mapped.has_value());
  if (!memory) {
    QM_FUZZ_CHECK(memory.error().to_string() == mapped.error().to_string());
    return 0;
  }
  const QmaReader& reader = *memory;
  QM_FUZZ_CHECK(reader.header().index_offset + std::uint64_t{60} * reader.header().entry_count <= size);

  std::uint32_t walked = 0;
  for (const auto& record : reader.namespaces()) {
    const std::string label(record.namespace_.label());
    QM_FUZZ_CHECK(!label.empty());
    for (std::uint32_t i = 0; i < record.entry_count && walked < kMaxEntriesWalked; ++i, ++walked) {
      auto entry = reader.entry_at(record.start_index + i);
      agree(entry, mapped->entry_at(record.start_index + i), same_entry);
      if (!entry) continue;
      check_entry_bytes(reader, *mapped, *entry);
      probe(reader, *mapped, label, entry->file_id);
      probe(reader, *mapped, label, entry->file_id - 1);
      probe(reader, *mapped, label, entry->file_id + 1);
    }
    probe(reader, *mapped, label, 0);
    probe(reader, *mapped, label, 0xFFFFFFFFU);
  }
  probe(reader, *mapped, "eor/portal", 1);
  probe(reader, *mapped, "", 1);
  // One past the last record is out of range, never a read beyond the index.
  QM_FUZZ_CHECK(!reader.entry_at(reader.header().entry_count).has_value());

  if (reader.header().entry_count <= kMaxEntriesWalked) {
    for (const auto& problem : quillmarsh::dat::verify_archive(reader)) (void)problem.to_string();
  }
  return 0;
}
