// Helpers shared by the archive tests: whole-file reads, a reference zstd frame and hand-built archives.
#pragma once

#include <zstd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "quillmarsh/dat/archive.hpp"
#include "test_support.hpp"

namespace quillmarsh::testing {

inline Bytes read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What a brand-new level-3 streaming compressor makes of `data`.
inline Bytes fresh_level3_frame(ByteView data) {
  ZSTD_CCtx* cctx = ZSTD_createCCtx();
  ZSTD_CCtx_setParameter(cctx, ZSTD_c_compressionLevel, 3);
  Bytes out(ZSTD_compressBound(data.size()));
  ZSTD_inBuffer in{data.data(), data.size(), 0};
  ZSTD_outBuffer o{out.data(), out.size(), 0};
  const std::size_t rc = ZSTD_compressStream2(cctx, &o, &in, ZSTD_e_end);
  ZSTD_freeCCtx(cctx);
  if (ZSTD_isError(rc) || rc != 0) return {};
  out.resize(o.pos);
  return out;
}

inline Le& qma_header(Le& b, std::uint32_t entry_count, std::uint64_t index_offset, std::uint32_t metadata_size,
                      std::uint32_t version = 2) {
  return b.text("QMA").u8(0).u32(version).u32(entry_count).u64(index_offset).u32(metadata_size);
}

struct NsRecord {
  std::string label;
  std::uint32_t start_index;
  std::uint32_t entry_count;
};

inline Le& qma_entry(Le& b, std::string_view ns, std::uint32_t file_id, std::uint32_t type_id, std::uint64_t offset,
                     std::uint32_t size, std::uint32_t comp_size, std::uint8_t flags) {
  return b.ns(ns).u32(file_id).u32(type_id).u64(offset).u32(size).u32(comp_size).u8(flags).u8(0).u16(0);
}

// Header, metadata holding `records`, then `entry_count` zeroed index records.
inline Bytes hand_archive(std::uint32_t entry_count, const std::vector<NsRecord>& records) {
  const auto metadata_size = static_cast<std::uint32_t>(4 + 40 * records.size());
  Le b;
  qma_header(b, entry_count, 24 + metadata_size, metadata_size).u32(static_cast<std::uint32_t>(records.size()));
  for (const auto& r : records) b.ns(r.label).u32(r.start_index).u32(r.entry_count);
  return b.zeros(60 * std::size_t{entry_count}).take();
}

inline dat::DatResult<dat::QmaReader> open_bytes(Bytes bytes) {
  return dat::QmaReader::from_source(std::make_unique<dat::MemoryFile>(std::move(bytes)));
}

}  // namespace quillmarsh::testing
