#include "quillmarsh/dat/file_type/texture.hpp"

#include <fmt/format.h>

namespace quillmarsh::dat {

DatResult<Texture> Texture::unpack(ByteView bytes) {
  ByteReader reader(bytes);
  RecordReader rec(reader, "Texture");
  Texture texture;
  QM_TRY_ASSIGN(texture.id, rec.u32("id"));
  QM_TRY_ASSIGN(texture._unknown, rec.u32("_unknown"));
  QM_TRY_ASSIGN(texture.width, rec.u32("width"));
  QM_TRY_ASSIGN(texture.height, rec.u32("height"));
  QM_TRY_ASSIGN(texture.format_raw, rec.u32("format_raw"));
  QM_TRY_ASSIGN(texture.length, rec.i32("length"));
  if (texture.length < 0) {
    return dat_fail(
        BinError(BinError::Assert{reader.position(), fmt::format("count {} out of range", texture.length)}));
  }
  QM_TRY_ASSIGN(const ByteView pixels, rec.field("source_data", [&](ByteReader& r) -> BinResult<ByteView> {
    const auto n = static_cast<std::size_t>(texture.length);
    if (!r.has(n)) {
      return bin_fail(IoError{IoErrorKind::UnexpectedEof, 0, "not enough bytes in reader"});
    }
    return r.read_bytes(n);
  }));
  texture.source_data.assign(pixels.begin(), pixels.end());
  if (texture.format_raw == FORMAT_PALETTED_101 || texture.format_raw == FORMAT_PALETTED_41) {
    QM_TRY_ASSIGN(texture.default_palette_id, rec.u32("default_palette_id"));
  }
  return texture;
}

}  // namespace quillmarsh::dat
