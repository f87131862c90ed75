#include "quillmarsh/dat/landblock.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "test_support.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::Le;
using ::testing::ElementsAre;

Le& frame(Le& le, float x) { return le.f32(x).f32(0).f32(0).f32(1).f32(0).f32(0).f32(0); }

// Head with no objects, then the building count and pack mask.
Le head(std::uint16_t num_buildings, std::uint16_t pack_mask) {
  Le le;
  le.u32(0xA9B4FFFE).u32(3).u32(0).u16(num_buildings).u16(pack_mask);
  return le;
}

// A building with one portal of `num_stabs` stabs; the padding is written only when asked.
Le& building(Le& le, std::uint32_t model_id, std::uint16_t num_stabs, bool write_padding) {
  le.u32(model_id);
  frame(le, 5.0F).u32(2).u32(1);
  le.u16(0x1).u16(0x0100).u16(0x2);
  le.u16(num_stabs);
  for (std::uint16_t i = 0; i < num_stabs; ++i) le.u16(static_cast<std::uint16_t>(0x10 + i));
  if (num_stabs % 2 != 0 && write_padding) le.u16(0xEEEE);
  return le;
}

const BinError& bin_error(const DatError& error) {
  const auto* bin = error.get_if<DatError::BinRead>();
  EXPECT_NE(bin, nullptr) << error.debug_string();
  static const BinError none = BinError::eof();
  return bin != nullptr ? bin->error : none;
}

TEST(LandblockInfo, EmptyLandblockAndRestrictionTable) {
  auto empty = LandblockInfo::unpack(head(0, 0).take());
  ASSERT_TRUE(empty) << empty.error().to_string();
  EXPECT_EQ(empty->id, 0xA9B4FFFEU);
  EXPECT_EQ(empty->num_cells, 3U);
  EXPECT_TRUE(empty->objects.empty());
  EXPECT_TRUE(empty->buildings.empty());
  EXPECT_FALSE(empty->restriction_tables);

  auto table = LandblockInfo::unpack(head(0, 0x1).u16(0).u16(0x1234).take());
  ASSERT_TRUE(table) << table.error().to_string();
  ASSERT_TRUE(table->restriction_tables);
  EXPECT_TRUE(table->restriction_tables->tables.empty());

  // Bit 1 alone reads no table, even with bytes behind.
  auto other_bit = LandblockInfo::unpack(head(0, 0x2).u16(1).u16(0).u32(1).u32(2).take());
  ASSERT_TRUE(other_bit) << other_bit.error().to_string();
  EXPECT_EQ(other_bit->pack_mask, 0x2);
  EXPECT_FALSE(other_bit->restriction_tables);

  // A repeated key keeps the later value.
  auto pairs = LandblockInfo::unpack(head(0, 0x1).u16(3).u16(8).u32(7).u32(1).u32(9).u32(2).u32(7).u32(3).take());
  ASSERT_TRUE(pairs) << pairs.error().to_string();
  EXPECT_EQ(pairs->restriction_tables->tables, (std::unordered_map<std::uint32_t, std::uint32_t>{{7, 3}, {9, 2}}));
}

TEST(LandblockInfo, ObjectsAndBuildingsKeepTheirIdsAndOrder) {
  Le le;
  le.u32(0x0101FFFE).u32(0).u32(2);
  le.u32(0x02000123);
  frame(le, 1.0F);
  le.u32(0x01000456);
  frame(le, 2.0F);
  le.u16(2).u16(0);
  building(le, 0x01000789, 2, true);
  building(le, 0x02000ABC, 1, true);
  auto info = LandblockInfo::unpack(le.bytes());
  ASSERT_TRUE(info) << info.error().to_string();
  ASSERT_EQ(info->objects.size(), 2U);
  EXPECT_EQ(info->objects[0].id, 0x02000123U);
  EXPECT_EQ(info->objects[1].id, 0x01000456U);
  EXPECT_EQ(info->objects[1].frame.origin.x, 2.0F);
  ASSERT_EQ(info->buildings.size(), 2U);
  EXPECT_EQ(info->buildings[0].model_id, 0x01000789U);
  EXPECT_EQ(info->buildings[1].model_id, 0x02000ABCU);
  EXPECT_EQ(info->buildings[0].num_leaves, 2U);
  ASSERT_EQ(info->buildings[0].portals.size(), 1U);
  const PortalInternal& portal = info->buildings[0].portals[0];
  EXPECT_EQ(portal.flags, 0x1);
  EXPECT_EQ(portal.other_cell_id, 0x0100);
  EXPECT_EQ(portal.other_portal_id, 0x2);
  EXPECT_THAT(portal.stab_list, ElementsAre(0x10, 0x11));
  EXPECT_THAT(info->buildings[1].portals[0].stab_list, ElementsAre(0x10));
}

TEST(LandblockInfo, PortalSizeFollowsStabCountParity) {
  // A portal with n stabs followed by a restriction table holding one pair: the table is found
  // right after 8, 12 or 12 bytes of portal.
  struct Case {
    std::uint16_t num_stabs;
    std::size_t portal_size;
  };
  for (const Case c : {Case{0, 8}, Case{1, 12}, Case{2, 12}, Case{3, 16}}) {
    SCOPED_TRACE(c.num_stabs);
    Le le = head(1, 0x1);
    const std::size_t before = le.size() + 40;  // the building's fixed part
    building(le, 0x01000001, c.num_stabs, true);
    ASSERT_EQ(le.size() - before, c.portal_size);
    le.u16(1).u16(0).u32(0xAA).u32(0xBB);
    auto info = LandblockInfo::unpack(le.bytes());
    ASSERT_TRUE(info) << info.error().to_string();
    EXPECT_EQ(info->buildings[0].portals[0].stab_list.size(), c.num_stabs);
    EXPECT_EQ(info->restriction_tables->tables.at(0xAA), 0xBBU);
  }
}

TEST(LandblockInfo, MissingPaddingAtTheEndIsNotAnError) {
  Le le = head(1, 0);
  building(le, 0x01000001, 1, false);
  auto info = LandblockInfo::unpack(le.bytes());
  ASSERT_TRUE(info) << info.error().to_string();
  EXPECT_THAT(info->buildings[0].portals[0].stab_list, ElementsAre(0x10));

  // With a restriction table expected, the skip moves past the end and the table's read fails.
  Le with_table = head(1, 0x1);
  building(with_table, 0x01000001, 1, false);
  auto failed = LandblockInfo::unpack(with_table.bytes());
  ASSERT_FALSE(failed);
  EXPECT_THAT(bin_error(failed.error()).context_messages(),
              ElementsAre("While parsing field 'count' in RestrictionTable",
                          "While parsing field 'restriction_tables' in LandblockInfo"));
}

TEST(LandblockInfo, TruncationFramesInnermostFirst) {
  Le one_stab;
  one_stab.u32(1).u32(0).u32(2).u32(0x02000001);
  frame(one_stab, 0);
  Le stab_frame;
  stab_frame.u32(1).u32(0).u32(1).u32(0x02000001).f32(0).f32(0).f32(0).f32(1);  // orientation.x missing
  Le building_head = head(1, 0);
  building_head.u32(0x01000001);
  frame(building_head, 0).u32(0);  // num_portals missing
  Le portal_stabs = head(1, 0);
  portal_stabs.u32(0x01000001);
  frame(portal_stabs, 0).u32(0).u32(1).u16(0).u16(0).u16(0).u16(2).u16(5);  // second stab missing
  Le second_portal = head(1, 0);
  second_portal.u32(0x01000001);
  frame(second_portal, 0).u32(0).u32(2).u16(0).u16(0).u16(0).u16(1).u16(5);  // padding skipped, then nothing

  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<std::string> contexts;
  };
  const std::vector<Case> cases = {
      {"empty", {}, {"While parsing field 'id' in LandblockInfo"}},
      {"num_cells", Le().u32(1).u16(0).take(), {"While parsing field 'num_cells' in LandblockInfo"}},
      {"num_objects", Le().u32(1).u32(0).take(), {"While parsing field 'num_objects' in LandblockInfo"}},
      {"second stab",
       one_stab.take(),
       {"While parsing field 'id' in Stab", "While parsing field 'objects' in LandblockInfo"}},
      {"stab frame",
       stab_frame.take(),
       {"While parsing field 'x' in Quaternion", "While parsing field 'orientation' in Frame",
        "While parsing field 'frame' in Stab", "While parsing field 'objects' in LandblockInfo"}},
      {"num_buildings",
       Le().u32(1).u32(0).u32(0).u8(0).take(),
       {"While parsing field 'num_buildings' in LandblockInfo"}},
      {"pack_mask", Le().u32(1).u32(0).u32(0).u16(0).take(), {"While parsing field 'pack_mask' in LandblockInfo"}},
      {"model_id",
       head(1, 0).take(),
       {"While parsing field 'model_id' in BuildInfo", "While parsing field 'buildings' in LandblockInfo"}},
      {"num_portals",
       building_head.take(),
       {"While parsing field 'num_portals' in BuildInfo", "While parsing field 'buildings' in LandblockInfo"}},
      {"stab_list",
       portal_stabs.take(),
       {"While parsing field 'stab_list' in PortalInternal", "While parsing field 'portals' in BuildInfo",
        "While parsing field 'buildings' in LandblockInfo"}},
      {"second portal",
       second_portal.take(),
       {"While parsing field 'flags' in PortalInternal", "While parsing field 'portals' in BuildInfo",
        "While parsing field 'buildings' in LandblockInfo"}},
      {"count",
       head(0, 1).u8(0).take(),
       {"While parsing field 'count' in RestrictionTable",
        "While parsing field 'restriction_tables' in LandblockInfo"}},
      {"bucket size",
       head(0, 1).u16(0).u8(0).take(),
       {"While parsing field '_bucket_size' in RestrictionTable",
        "While parsing field 'restriction_tables' in LandblockInfo"}},
      {"tables value",
       head(0, 1).u16(1).u16(0).u32(1).take(),
       {"While parsing field 'tables' in RestrictionTable",
        "While parsing field 'restriction_tables' in LandblockInfo"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto info = LandblockInfo::unpack(c.bytes);
    ASSERT_FALSE(info);
    const BinError& error = bin_error(info.error());
    EXPECT_EQ(error.context_messages(), c.contexts);
    ASSERT_NE(error.io_error(), nullptr);
    EXPECT_EQ(error.io_error()->message, "failed to fill whole buffer");
  }
}

TEST(LandblockInfo, HugeDeclaredCountsFailAtEndOfInput) {
  const Bytes objects = Le().u32(1).u32(0).u32(0xFFFFFFFF).take();
  const Bytes portals = Le().u32(1).u32(0).u32(0).u16(1).u16(0).u32(1).zeros(28).u32(0).u32(0xFFFFFFFF).take();
  for (const Bytes& bytes : {objects, portals}) {
    auto info = LandblockInfo::unpack(bytes);
    ASSERT_FALSE(info);
    const BinError& error = bin_error(info.error());
    ASSERT_NE(error.io_error(), nullptr);
    EXPECT_EQ(error.io_error()->message, "failed to fill whole buffer");
    EXPECT_EQ(error.context_messages().back(), bytes.size() == 12 ? "While parsing field 'objects' in LandblockInfo"
                                                                  : "While parsing field 'buildings' in LandblockInfo");
  }
}

}  // namespace
}  // namespace quillmarsh::dat
