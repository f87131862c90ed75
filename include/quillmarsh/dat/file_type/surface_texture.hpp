// Surface textures: the list of texture files that make up one texture of a surface.
#pragma once

#include <cstdint>
#include <vector>

#include "quillmarsh/common/binary.hpp"

namespace quillmarsh::dat {

struct SurfaceTexture {
  std::uint32_t id = 0;
  std::uint32_t unknown_int = 0;
  std::uint8_t unknown_byte = 0;
  std::vector<std::uint32_t> textures;  // texture file ids in file order

  // Decodes a whole surface-texture file. The texture count is signed on disk; a negative count is
  // rejected with an assertion failure ("count <n> out of range", position just after the count)
  // inside the frame of 'textures'.
  static BinResult<SurfaceTexture> unpack(ByteView bytes);
};

}  // namespace quillmarsh::dat
