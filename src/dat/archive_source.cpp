// Resource sources over QMA archives: lookups go straight to the readers' positional index search.
#include "quillmarsh/dat/archive_source.hpp"

namespace quillmarsh::dat {

DatResult<Bytes> ArchiveSource::get_file_by_key(const ResourceKey& key) const {
  return reader_.get_file_in_namespace(key.namespace_, key.file_id);
}

DatResult<Bytes> MultiArchiveSource::get_file_by_key(const ResourceKey& key) const {
  for (const QmaReader& reader : readers_) {
    auto entry = reader.find_entry_in_namespace(key.namespace_, key.file_id);
    if (entry) return reader.read_entry_data(*entry);
    if (entry.error().get_if<DatError::NotFound>() == nullptr) return dat_fail(std::move(entry.error()));
  }
  return dat_fail(DatError::NotFound{key.file_id});
}

}  // namespace quillmarsh::dat
