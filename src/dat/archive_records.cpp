// The three fixed-size records of an archive: header, namespace record and index entry.
#include <fmt/format.h>

#include <limits>

#include "quillmarsh/dat/archive.hpp"

namespace quillmarsh::dat {

BinResult<QmaHeader> QmaHeader::read(ByteReader& reader) {
  RecordReader rec(reader, "QmaHeader");
  QmaHeader h;
  QM_TRY_ASSIGN(h.magic, rec.field("magic", [](ByteReader& r) { return r.read_array<4>(); }));
  QM_TRY_ASSIGN(h.version, rec.u32("version"));
  QM_TRY_ASSIGN(h.entry_count, rec.u32("entry_count"));
  QM_TRY_ASSIGN(h.index_offset, rec.u64("index_offset"));
  QM_TRY_ASSIGN(h.metadata_size, rec.u32("metadata_size"));
  return h;
}

void QmaHeader::write(ByteWriter& writer) const {
  writer.write_bytes(magic);
  writer.write_u32(version);
  writer.write_u32(entry_count);
  writer.write_u64(index_offset);
  writer.write_u32(metadata_size);
}

BinResult<QmaNamespaceIndexEntry> QmaNamespaceIndexEntry::read(ByteReader& reader) {
  RecordReader rec(reader, "QmaNamespaceIndexEntry");
  QmaNamespaceIndexEntry e;
  QM_TRY_ASSIGN(const auto raw, rec.field("namespace", [](ByteReader& r) { return r.read_array<NAMESPACE_SIZE>(); }));
  e.namespace_ = ResourceNamespace::from_stored_unchecked(raw);
  QM_TRY_ASSIGN(e.start_index, rec.u32("start_index"));
  QM_TRY_ASSIGN(e.entry_count, rec.u32("entry_count"));
  return e;
}

void QmaNamespaceIndexEntry::write(ByteWriter& writer) const {
  writer.write_bytes(namespace_.bytes());
  writer.write_u32(start_index);
  writer.write_u32(entry_count);
}

BinResult<QmaEntry> QmaEntry::read(ByteReader& reader) {
  RecordReader rec(reader, "QmaEntry");
  QmaEntry e;
  QM_TRY_ASSIGN(const auto raw, rec.field("namespace", [](ByteReader& r) { return r.read_array<NAMESPACE_SIZE>(); }));
  e.namespace_ = ResourceNamespace::from_stored_unchecked(raw);
  QM_TRY_ASSIGN(e.file_id, rec.u32("file_id"));
  QM_TRY_ASSIGN(e.type_id, rec.u32("type_id"));
  QM_TRY_ASSIGN(e.offset, rec.u64("offset"));
  QM_TRY_ASSIGN(e.size, rec.u32("size"));
  QM_TRY_ASSIGN(e.comp_size, rec.u32("comp_size"));
  QM_TRY_ASSIGN(e.flags, rec.u8("flags"));
  QM_TRY_ASSIGN(e.storage_id, rec.u8("storage_id"));
  QM_TRY_ASSIGN(e.reserved, rec.u16("reserved"));
  return e;
}

void QmaEntry::write(ByteWriter& writer) const {
  writer.write_bytes(namespace_.bytes());
  writer.write_u32(file_id);
  writer.write_u32(type_id);
  writer.write_u64(offset);
  writer.write_u32(size);
  writer.write_u32(comp_size);
  writer.write_u8(flags);
  writer.write_u8(storage_id);
  writer.write_u16(reserved);
}

DatResult<void> check_qma_entry_limits(std::string_view namespace_, std::uint32_t file_id, std::uint64_t data_size,
                                       std::size_t entries_so_far) {
  if (data_size > std::numeric_limits<std::uint32_t>::max()) {
    return dat_fail(DatError::Other{
        fmt::format("Cannot add {}:0x{:08X}: {} bytes exceed the archive's 32-bit entry size limit of {} bytes",
                    namespace_, file_id, data_size, std::numeric_limits<std::uint32_t>::max())});
  }
  if (entries_so_far >= QMA_MAX_ENTRIES) {
    return dat_fail(DatError::Other{fmt::format("Cannot add {}:0x{:08X}: the archive index is full ({} entries)",
                                                namespace_, file_id, QMA_MAX_ENTRIES)});
  }
  return {};
}

}  // namespace quillmarsh::dat
