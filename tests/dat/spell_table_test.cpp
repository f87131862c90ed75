#include "quillmarsh/dat/file_type/spell_table.hpp"

#include <gtest/gtest.h>

#include <variant>

namespace quillmarsh::dat {
namespace {

TEST(SpellBase, DefaultsAreEmptyTextsZeroNumbersAndEightZeroComponents) {
  const SpellBase spell;
  EXPECT_TRUE(spell.name.empty());
  EXPECT_TRUE(spell.description.empty());
  EXPECT_EQ(spell.school, 0U);
  EXPECT_EQ(spell.category, 0U);
  EXPECT_EQ(spell.bitfield, 0U);
  EXPECT_EQ(spell.base_mana, 0U);
  EXPECT_EQ(spell.base_range_constant, 0.0F);
  EXPECT_EQ(spell.base_range_mod, 0.0F);
  EXPECT_EQ(spell.power, 0U);
  EXPECT_EQ(spell.raw_components, std::vector<std::uint32_t>(8, 0));
  EXPECT_EQ(spell.mana_mod, 0U);
  EXPECT_EQ(spell.formula_version, 0U);

  EXPECT_EQ(spell.extra_f64, 0.0);
  for (const std::uint32_t value : spell.extra_u32) EXPECT_EQ(value, 0U);
  for (const float value : spell.extra_f32) EXPECT_EQ(value, 0.0F);
  EXPECT_TRUE(std::holds_alternative<std::monostate>(spell.extra_tagged));
}

TEST(SpellTable, FileIdAndEmptyDefault) {
  EXPECT_EQ(SpellTable::FILE_ID, 0x0E00000EU);
  const SpellTable table;
  EXPECT_TRUE(table.spells.empty());
  EXPECT_TRUE(table.grouped_lists.empty());
}

}  // namespace
}  // namespace quillmarsh::dat
