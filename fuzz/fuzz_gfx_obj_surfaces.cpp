// The surface list of a graphics object from arbitrary bytes, checked against a plain reading of the
// packed count: the ids come back exactly when the bytes hold them all, and they are the stored ids.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "fuzz_check.hpp"
#include "quillmarsh/dat/walk.hpp"

namespace {

std::uint32_t u32_at(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[3]} << 24);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto surfaces = quillmarsh::dat::read_gfx_obj_surfaces(quillmarsh::ByteView(data, size));

  std::optional<std::size_t> ids_at;
  std::uint64_t count = 0;
  if (size >= 9) {
    const std::uint8_t b = data[8];
    if (b < 0x80) {
      count = b, ids_at = 9;
    } else if ((b & 0xC0) == 0x80 && size >= 10) {
      count = (std::uint64_t{b & 0x3FU} << 8) | data[9], ids_at = 10;
    } else if ((b & 0xC0) == 0xC0 && size >= 12) {
      count = (((std::uint64_t{b & 0x3FU} << 8) | data[9]) << 16) | data[10] | (std::uint64_t{data[11]} << 8);
      ids_at = 12;
    }
  }
  const bool complete = ids_at && *ids_at + 4 * count <= size;
  QM_FUZZ_CHECK(surfaces.has_value() == complete);
  if (!surfaces) return 0;
  QM_FUZZ_CHECK(surfaces->size() == count);
  for (std::size_t i = 0; i < surfaces->size(); ++i) QM_FUZZ_CHECK((*surfaces)[i] == u32_at(data + *ids_at + 4 * i));
  return 0;
}
