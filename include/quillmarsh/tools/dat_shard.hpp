// Boot shard planning: the essential tables, the landblock files of the 3 x 3 landblocks around a
// spawn landblock, and every model, surface, texture and palette their objects and buildings use.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <tl/expected.hpp>
#include <utility>
#include <vector>

#include "quillmarsh/dat/resource.hpp"

namespace quillmarsh::tools {

// A landblock id is 0xXXYY (grid X in bits 15..8, Y in bits 7..0); higher bits are ignored.
inline constexpr std::uint32_t DEFAULT_SPAWN_LANDBLOCK = 0xA9B4;

// Cell-namespace files of a landblock: (landblock << 16) | low 16 bits.
inline constexpr std::uint32_t LANDBLOCK_FILE_LOW_BITS = 0xFFFF;
inline constexpr std::uint32_t LANDBLOCK_INFO_LOW_BITS = 0xFFFE;
constexpr std::uint32_t landblock_file_id(std::uint32_t landblock) {
  return ((landblock & 0xFFFF) << 16) | LANDBLOCK_FILE_LOW_BITS;
}
constexpr std::uint32_t landblock_info_file_id(std::uint32_t landblock) {
  return ((landblock & 0xFFFF) << 16) | LANDBLOCK_INFO_LOW_BITS;
}

// An unsigned 32-bit hexadecimal number, with an optional "0x"/"0X" prefix and an optional "+".
// On failure: `invalid hex u32 "<input>": <reason>`, the input quoted with `"`, `\` and control
// characters escaped (\" \\ \0 \t \n \r, other controls as \u{1b}; bytes that are not UTF-8 as \x{ff}).
tl::expected<std::uint32_t, std::string> parse_hex_u32(std::string_view text);

// The landblock and its up to eight neighbours inside the 256 x 256 grid, ordered by X, then Y.
std::vector<std::uint32_t> spawn_neighborhood_cells(std::uint32_t landblock);

// True for the landblock file or landblock info file (cell namespace) of a neighbourhood landblock;
// false for every other file.
bool is_boot_essential(std::string_view namespace_, std::uint32_t file_id, std::uint32_t spawn_landblock);

// Files held in memory, keyed by (namespace, file id) in byte order of the namespace, then id order.
struct BundleSource final : dat::ResourceSource {
  std::map<std::pair<std::string, std::uint32_t>, Bytes> files;

  // A copy of the file, or Other("BundleSource: missing <namespace>:0x<id>").
  dat::DatResult<Bytes> get_file_by_key(const dat::ResourceKey& key) const override;
};

// The keep set of a boot shard over any source; a landblock info file that cannot be fetched or
// decoded adds nothing beyond the landblock's own two cell ids. Never fails.
dat::KeepSet compute_boot_keep_set(const dat::ResourceSource& source, std::uint32_t spawn_landblock);
// The same plan over a bundle, reading its landblock info files in place.
dat::KeepSet compute_boot_keep_set(const BundleSource& bundle, std::uint32_t spawn_landblock);

}  // namespace quillmarsh::tools
