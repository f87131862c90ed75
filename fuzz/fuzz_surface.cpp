// Surfaces from arbitrary bytes: a decoded surface is either textured or coloured, never both.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.hpp"
#include "quillmarsh/dat/file_type/surface.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using quillmarsh::dat::Surface;
  auto surface = Surface::unpack(quillmarsh::ByteView(data, size));
  if (surface) {
    const bool textured = (surface->surface_type & Surface::TEXTURED_MASK) != 0;
    QM_FUZZ_CHECK(surface->texture_refs.has_value() == textured);
    QM_FUZZ_CHECK(surface->color_value.has_value() != textured);
    QM_FUZZ_CHECK(size >= (textured ? 24U : 20U));
  } else {
    (void)surface.error().to_string();
  }
  return 0;
}
