// Landblock info: the static objects, buildings (with their portals) and the optional restriction
// table of one landblock, stored in the cell namespace under (landblock << 16) | 0xFFFE.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "quillmarsh/common/binary.hpp"
#include "quillmarsh/dat/error.hpp"
#include "quillmarsh/dat/graphics.hpp"

namespace quillmarsh::dat {

// One static object: a model id (a setup or a graphics object) and where it stands.
struct Stab {
  std::uint32_t id = 0;
  Frame frame;

  static BinResult<Stab> read(ByteReader& reader);
  friend bool operator==(const Stab&, const Stab&) = default;
};

// One portal of a building. On disk its stab list is padded to a multiple of 4 bytes.
struct PortalInternal {
  std::uint16_t flags = 0;
  std::uint16_t other_cell_id = 0;
  std::uint16_t other_portal_id = 0;
  std::vector<std::uint16_t> stab_list;

  static BinResult<PortalInternal> read(ByteReader& reader);
  friend bool operator==(const PortalInternal&, const PortalInternal&) = default;
};

struct BuildInfo {
  std::uint32_t model_id = 0;
  Frame frame;
  std::uint32_t num_leaves = 0;
  std::vector<PortalInternal> portals;

  static BinResult<BuildInfo> read(ByteReader& reader);
  friend bool operator==(const BuildInfo&, const BuildInfo&) = default;
};

struct RestrictionTable {
  std::unordered_map<std::uint32_t, std::uint32_t> tables;  // a repeated key keeps the later value

  static BinResult<RestrictionTable> read(ByteReader& reader);
  friend bool operator==(const RestrictionTable&, const RestrictionTable&) = default;
};

struct LandblockInfo {
  // pack_mask bit 0: a restriction table follows the buildings.
  static constexpr std::uint16_t HAS_RESTRICTION_TABLE = 0x1;

  std::uint32_t id = 0;
  std::uint32_t num_cells = 0;
  std::vector<Stab> objects;
  std::uint16_t pack_mask = 0;
  std::vector<BuildInfo> buildings;
  std::optional<RestrictionTable> restriction_tables;

  // Decodes a whole landblock info file in place; every failure is DatError::BinRead.
  static DatResult<LandblockInfo> unpack(ByteView bytes);
};

}  // namespace quillmarsh::dat
