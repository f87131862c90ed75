#include <gtest/gtest.h>

#include "checks.hpp"
#include "quillmarsh/dat/file_type/spell_table.hpp"
#include "quillmarsh/tools/dat_shard.hpp"
#include "quillmarsh/tools/spell_export.hpp"

namespace quillmarsh::checks {

void parses_hex_landblock_ids() {
  EXPECT_EQ(tools::parse_hex_u32("0xA9B4"), 0xA9B4U);
  EXPECT_EQ(tools::parse_hex_u32("a9b4"), 0xA9B4U);
  EXPECT_EQ(tools::parse_hex_u32("0X1234"), 0x1234U);
  EXPECT_EQ(tools::parse_hex_u32("+ff"), 0xFFU);
  EXPECT_EQ(tools::parse_hex_u32("not-hex"),
            tl::unexpected(std::string(R"(invalid hex u32 "not-hex": invalid digit found in string)")));
  EXPECT_EQ(tools::parse_hex_u32("0x"),
            tl::unexpected(std::string(R"(invalid hex u32 "0x": cannot parse integer from empty string)")));
  EXPECT_EQ(tools::parse_hex_u32("0x100000000"),
            tl::unexpected(std::string(R"(invalid hex u32 "0x100000000": number too large to fit in target type)")));
}

void boot_keep_set_of_empty_bundle_has_24_pairs() {
  const tools::BundleSource bundle;
  const dat::KeepSet keep = tools::compute_boot_keep_set(bundle, tools::DEFAULT_SPAWN_LANDBLOCK);
  EXPECT_EQ(keep.size(), 24U);
  for (const dat::ResourceId& id : {dat::ResourceId{"eor/portal", 0x0E000002},
                                    dat::ResourceId{"eor/portal", 0x0E000004}, dat::ResourceId{"eor/cell", 0xA9B4FFFF},
                                    dat::ResourceId{"eor/cell", 0xA9B4FFFE}, dat::ResourceId{"eor/cell", 0xA8B3FFFF}}) {
    EXPECT_TRUE(keep.contains(id)) << id.namespace_ << ":" << std::hex << id.file_id;
  }
  EXPECT_FALSE(keep.contains(dat::ResourceId{"eor/cell", 0x0000FFFF}));
}

void spell_export_filters_by_school_and_category() {
  dat::SpellTable table;
  table.id = dat::SpellTable::FILE_ID;
  dat::SpellBase first;
  first.school = 1;
  first.category = 207;
  dat::SpellBase second;
  second.school = 2;
  second.category = 47;
  table.spells.emplace(1, first);
  table.spells.emplace(2, second);

  tools::SpellExportRequest request;
  request.fields = {tools::SpellExportField::Name};
  request.schools = {0};
  request.categories = {207};
  request.preset = tools::SpellExportPreset::Base;
  const tools::SpellExportFile file = tools::export_spells(table, request);
  EXPECT_EQ(file.table_id, 0x0E00000EU);
  ASSERT_EQ(file.spells.size(), 1U);
  ASSERT_TRUE(file.spells.contains(1));
  EXPECT_EQ(file.spells.at(1).dump(), R"({"name":""})");
}

}  // namespace quillmarsh::checks
