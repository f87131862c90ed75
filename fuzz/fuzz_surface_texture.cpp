// Surface textures from arbitrary bytes: the texture list is backed by bytes of the input.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.hpp"
#include "quillmarsh/dat/file_type/surface_texture.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto texture = quillmarsh::dat::SurfaceTexture::unpack(quillmarsh::ByteView(data, size));
  if (texture) {
    QM_FUZZ_CHECK(13 + 4 * texture->textures.size() <= size);
  } else {
    (void)texture.error().to_string();
  }
  return 0;
}
