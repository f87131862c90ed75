// Landblock info from arbitrary bytes: every decoded list is backed by bytes of the input.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.hpp"
#include "quillmarsh/dat/landblock.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  auto info = quillmarsh::dat::LandblockInfo::unpack(quillmarsh::ByteView(data, size));
  if (!info) {
    (void)info.error().to_string();
    return 0;
  }
  // Head, 32 bytes a stab, 40 bytes a building head, 8 bytes a portal head, 2 a stab index.
  std::size_t floor = 16 + 32 * info->objects.size();
  for (const auto& building : info->buildings) {
    floor += 40;
    for (const auto& portal : building.portals) floor += 8 + 2 * portal.stab_list.size();
  }
  if (info->restriction_tables) floor += 4 + 8 * info->restriction_tables->tables.size();
  QM_FUZZ_CHECK(floor <= size);
  QM_FUZZ_CHECK(info->restriction_tables.has_value() ==
                ((info->pack_mask & quillmarsh::dat::LandblockInfo::HAS_RESTRICTION_TABLE) != 0));
  return 0;
}
