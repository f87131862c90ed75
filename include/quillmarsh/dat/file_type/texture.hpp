// Textures: the pixel data of one image in its stored format, with an optional default palette.
#pragma once

#include <cstdint>
#include <optional>

#include "quillmarsh/common/binary.hpp"
#include "quillmarsh/dat/error.hpp"

namespace quillmarsh::dat {

struct Texture {
  // Paletted formats: only these carry a default palette id after the pixel data.
  static constexpr std::uint32_t FORMAT_PALETTED_101 = 0x65;
  static constexpr std::uint32_t FORMAT_PALETTED_41 = 0x29;

  std::uint32_t id = 0;
  std::uint32_t _unknown = 0;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  std::uint32_t format_raw = 0;
  std::int32_t length = 0;  // byte count of source_data
  Bytes source_data;
  std::optional<std::uint32_t> default_palette_id;

  // Decodes a whole texture file; every failure is DatError::BinRead.
  static DatResult<Texture> unpack(ByteView bytes);
};

}  // namespace quillmarsh::dat
