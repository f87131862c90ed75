#include "quillmarsh/dat/file_type/surface_texture.hpp"

#include <fmt/format.h>

#include "../reserve_bounded.hpp"

namespace quillmarsh::dat {

namespace {

// The signed count and the ids behind it together form the member 'textures'.
BinResult<std::vector<std::uint32_t>> read_texture_ids(ByteReader& reader) {
  QM_TRY_ASSIGN(const std::int32_t count, reader.read_i32());
  if (count < 0) {
    return bin_fail(BinError::Assert{reader.position(), fmt::format("count {} out of range", count)});
  }
  std::vector<std::uint32_t> ids;
  detail::reserve_bounded(ids, static_cast<std::uint32_t>(count), reader, 4);
  for (std::int32_t i = 0; i < count; ++i) {
    QM_TRY_ASSIGN(const std::uint32_t id, reader.read_u32());
    ids.push_back(id);
  }
  return ids;
}

}  // namespace

BinResult<SurfaceTexture> SurfaceTexture::unpack(ByteView bytes) {
  ByteReader reader(bytes);
  RecordReader rec(reader, "SurfaceTexture");
  SurfaceTexture texture;
  QM_TRY_ASSIGN(texture.id, rec.u32("id"));
  QM_TRY_ASSIGN(texture.unknown_int, rec.u32("unknown_int"));
  QM_TRY_ASSIGN(texture.unknown_byte, rec.u8("unknown_byte"));
  QM_TRY_ASSIGN(texture.textures, rec.field("textures", read_texture_ids));
  return texture;
}

}  // namespace quillmarsh::dat
