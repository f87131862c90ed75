// Textures from arbitrary bytes: the pixel block is exactly `length` bytes of the input, and a palette
// id is present exactly for the paletted formats.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.hpp"
#include "quillmarsh/dat/file_type/texture.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using quillmarsh::dat::Texture;
  auto texture = Texture::unpack(quillmarsh::ByteView(data, size));
  if (texture) {
    QM_FUZZ_CHECK(texture->length >= 0);
    QM_FUZZ_CHECK(texture->source_data.size() == static_cast<std::size_t>(texture->length));
    QM_FUZZ_CHECK(24 + texture->source_data.size() <= size);
    const bool paletted =
        texture->format_raw == Texture::FORMAT_PALETTED_101 || texture->format_raw == Texture::FORMAT_PALETTED_41;
    QM_FUZZ_CHECK(texture->default_palette_id.has_value() == paletted);
  } else {
    (void)texture.error().to_string();
  }
  return 0;
}
