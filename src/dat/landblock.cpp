#include "quillmarsh/dat/landblock.hpp"

#include "reserve_bounded.hpp"

namespace quillmarsh::dat {

namespace {

// Reads `count` elements of a list member, each failure framed by that member.
template <class T, class Read>
BinResult<void> read_list(RecordReader& rec, const char* member, std::uint64_t count, std::size_t min_encoded_size,
                          std::vector<T>& out, Read read) {
  detail::reserve_bounded(out, count, rec.reader(), min_encoded_size);
  for (std::uint64_t i = 0; i < count; ++i) {
    QM_TRY_ASSIGN(T element, rec.field(member, read));
    out.push_back(std::move(element));
  }
  return {};
}

}  // namespace

BinResult<Stab> Stab::read(ByteReader& reader) {
  RecordReader rec(reader, "Stab");
  Stab stab;
  QM_TRY_ASSIGN(stab.id, rec.u32("id"));
  QM_TRY_ASSIGN(stab.frame, rec.record<Frame>("frame"));
  return stab;
}

BinResult<PortalInternal> PortalInternal::read(ByteReader& reader) {
  RecordReader rec(reader, "PortalInternal");
  PortalInternal portal;
  QM_TRY_ASSIGN(portal.flags, rec.u16("flags"));
  QM_TRY_ASSIGN(portal.other_cell_id, rec.u16("other_cell_id"));
  QM_TRY_ASSIGN(portal.other_portal_id, rec.u16("other_portal_id"));
  QM_TRY_ASSIGN(const std::uint16_t num_stabs, rec.u16("num_stabs"));
  QM_TRY(read_list(rec, "stab_list", num_stabs, 2, portal.stab_list, [](ByteReader& r) { return r.read_u16(); }));
  // Keeps the portal a multiple of 4 bytes long. Not read: at the end of the data it may lie beyond it.
  if (num_stabs % 2 != 0) reader.skip(2);
  return portal;
}

BinResult<BuildInfo> BuildInfo::read(ByteReader& reader) {
  constexpr std::size_t MIN_PORTAL_SIZE = 8;
  RecordReader rec(reader, "BuildInfo");
  BuildInfo building;
  QM_TRY_ASSIGN(building.model_id, rec.u32("model_id"));
  QM_TRY_ASSIGN(building.frame, rec.record<Frame>("frame"));
  QM_TRY_ASSIGN(building.num_leaves, rec.u32("num_leaves"));
  QM_TRY_ASSIGN(const std::uint32_t num_portals, rec.u32("num_portals"));
  QM_TRY(read_list(rec, "portals", num_portals, MIN_PORTAL_SIZE, building.portals, PortalInternal::read));
  return building;
}

BinResult<RestrictionTable> RestrictionTable::read(ByteReader& reader) {
  RecordReader rec(reader, "RestrictionTable");
  RestrictionTable table;
  QM_TRY_ASSIGN(const std::uint16_t count, rec.u16("count"));
  QM_TRY(rec.u16("_bucket_size"));
  for (std::uint16_t i = 0; i < count; ++i) {
    QM_TRY_ASSIGN(const std::uint32_t key, rec.u32("tables"));
    QM_TRY_ASSIGN(const std::uint32_t value, rec.u32("tables"));
    table.tables.insert_or_assign(key, value);
  }
  return table;
}

DatResult<LandblockInfo> LandblockInfo::unpack(ByteView bytes) {
  constexpr std::size_t STAB_SIZE = 32;
  constexpr std::size_t MIN_BUILDING_SIZE = 40;
  ByteReader reader(bytes);
  RecordReader rec(reader, "LandblockInfo");
  LandblockInfo info;
  QM_TRY_ASSIGN(info.id, rec.u32("id"));
  QM_TRY_ASSIGN(info.num_cells, rec.u32("num_cells"));
  QM_TRY_ASSIGN(const std::uint32_t num_objects, rec.u32("num_objects"));
  QM_TRY(read_list(rec, "objects", num_objects, STAB_SIZE, info.objects, Stab::read));
  QM_TRY_ASSIGN(const std::uint16_t num_buildings, rec.u16("num_buildings"));
  QM_TRY_ASSIGN(info.pack_mask, rec.u16("pack_mask"));
  QM_TRY(read_list(rec, "buildings", num_buildings, MIN_BUILDING_SIZE, info.buildings, BuildInfo::read));
  if ((info.pack_mask & HAS_RESTRICTION_TABLE) != 0) {
    QM_TRY_ASSIGN(info.restriction_tables, rec.record<RestrictionTable>("restriction_tables"));
  }
  return info;
}

}  // namespace quillmarsh::dat
