// Surfaces: how a face of a model is painted, either a solid colour or a surface texture with an
// optional palette.
#pragma once

#include <cstdint>
#include <optional>

#include "quillmarsh/common/binary.hpp"

namespace quillmarsh::dat {

// The texture of a textured surface. A palette id of 0 means no palette.
struct TextureRefs {
  std::uint32_t orig_texture_id = 0;  // a surface texture
  std::uint32_t orig_palette_id = 0;

  static BinResult<TextureRefs> read(ByteReader& reader);
  friend bool operator==(const TextureRefs&, const TextureRefs&) = default;
};

struct Surface {
  // Bits 1 and 2 (mask 0x6) mark a textured surface; other bits are only stored.
  static constexpr std::uint32_t TEXTURED_MASK = 0x6;

  std::uint32_t surface_type = 0;
  std::optional<TextureRefs> texture_refs;   // exactly when textured
  std::optional<std::uint32_t> color_value;  // exactly when not textured
  float translucency = 0.0F;
  float luminosity = 0.0F;
  float diffuse = 0.0F;

  // Decodes a whole surface file; bytes after the record are ignored.
  static BinResult<Surface> unpack(ByteView bytes);
};

}  // namespace quillmarsh::dat
