// The writer's entry compressor: one zstd context reused across entries, and the warning that a
// failed compression leaves behind.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <tl/expected.hpp>

#include "quillmarsh/common/binary.hpp"

struct ZSTD_CCtx_s;

namespace quillmarsh::dat::detail {

inline constexpr int QMA_COMPRESSION_LEVEL = 3;
inline constexpr std::string_view ARCHIVE_LOG_TARGET = "quillmarsh_dat::archive";

// Compresses whole inputs at level 3 into one zstd frame. Each call starts a fresh session on the same
// context, so the frame is exactly what a new level-3 streaming compressor would produce.
class EntryCompressor {
 public:
  EntryCompressor() = default;
  EntryCompressor(const EntryCompressor&) = delete;
  EntryCompressor& operator=(const EntryCompressor&) = delete;
  ~EntryCompressor();

  // The frame, valid until the next call; or zstd's error message.
  tl::expected<ByteView, std::string> compress(ByteView data);
  // Drops an output buffer grown by one large entry, so content is not held past its add.
  void trim();

 private:
  ZSTD_CCtx_s* cctx_ = nullptr;
  Bytes out_;  // reused across entries
};

// Logs "Compression failed for <ns>:0x<id>: <message>" as a warning on the archive's logger. Never throws.
void warn_compression_failed(std::string_view namespace_, std::uint32_t file_id, std::string_view message) noexcept;

}  // namespace quillmarsh::dat::detail
