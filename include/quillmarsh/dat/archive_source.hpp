// Resource sources over QMA archives. A lookup reads only the index records of its binary search and
// the one entry it returns, so planning over a multi-gigabyte archive never loads it into memory.
#pragma once

#include <vector>

#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/resource.hpp"

namespace quillmarsh::dat {

// One archive behind the ResourceSource interface: get_file_by_key is get_file_in_namespace, so a
// missing file is the reader's NotFound and a damaged one its Corruption or DecompressionFailed.
class ArchiveSource final : public ResourceSource {
 public:
  explicit ArchiveSource(QmaReader reader) : reader_(std::move(reader)) {}

  DatResult<Bytes> get_file_by_key(const ResourceKey& key) const override;

  const QmaReader& reader() const { return reader_; }

 private:
  QmaReader reader_;
};

// Several archives searched in order: the first archive that has the (namespace, id) answers. An
// archive that has the entry but cannot return its bytes answers with that error; later archives are
// not consulted, so a damaged entry is never silently replaced by another archive's copy.
class MultiArchiveSource final : public ResourceSource {
 public:
  explicit MultiArchiveSource(std::vector<QmaReader> readers) : readers_(std::move(readers)) {}

  DatResult<Bytes> get_file_by_key(const ResourceKey& key) const override;

  const std::vector<QmaReader>& readers() const { return readers_; }

 private:
  std::vector<QmaReader> readers_;
};

}  // namespace quillmarsh::dat
