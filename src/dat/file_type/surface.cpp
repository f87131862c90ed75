#include "quillmarsh/dat/file_type/surface.hpp"

namespace quillmarsh::dat {

BinResult<TextureRefs> TextureRefs::read(ByteReader& reader) {
  RecordReader rec(reader, "TextureRefs");
  TextureRefs refs;
  QM_TRY_ASSIGN(refs.orig_texture_id, rec.u32("orig_texture_id"));
  QM_TRY_ASSIGN(refs.orig_palette_id, rec.u32("orig_palette_id"));
  return refs;
}

BinResult<Surface> Surface::unpack(ByteView bytes) {
  ByteReader reader(bytes);
  RecordReader rec(reader, "Surface");
  Surface surface;
  QM_TRY_ASSIGN(surface.surface_type, rec.u32("surface_type"));
  if ((surface.surface_type & TEXTURED_MASK) != 0) {
    QM_TRY_ASSIGN(surface.texture_refs, rec.record<TextureRefs>("texture_refs"));
  } else {
    QM_TRY_ASSIGN(surface.color_value, rec.u32("color_value"));
  }
  QM_TRY_ASSIGN(surface.translucency, rec.f32("translucency"));
  QM_TRY_ASSIGN(surface.luminosity, rec.f32("luminosity"));
  QM_TRY_ASSIGN(surface.diffuse, rec.f32("diffuse"));
  return surface;
}

}  // namespace quillmarsh::dat
