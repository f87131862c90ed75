#include "quillmarsh/tools/spell_table_json.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

namespace quillmarsh::tools {
namespace {

using ::testing::HasSubstr;

std::string validation_text(const ToolResult<dat::SpellTable>& result) {
  if (result) return "<succeeded>";
  const auto* validation = result.error().get_if<ToolError::Validation>();
  return validation != nullptr ? validation->text : "<not a Validation error: " + result.error().debug_string() + ">";
}

TEST(SpellTableFromJson, ReadsGivenMembersAndKeepsDefaultsForTheRest) {
  const auto result = spell_table_from_json(R"({
    "id": 234881038,
    "spells": {
      "1": {"name": "Flame Bolt", "school": 1, "category": 207, "base_range_mod": 1.5,
            "raw_components": [4294967295, 0, 3]},
      "2": {"base_range_constant": 7, "formula_version": 2},
      "4294967295": {}
    }
  })");
  ASSERT_TRUE(result) << result.error().to_string();
  const dat::SpellTable& table = *result;
  EXPECT_EQ(table.id, dat::SpellTable::FILE_ID);
  ASSERT_EQ(table.spells.size(), 3U);

  dat::SpellBase one;
  one.name = "Flame Bolt";
  one.school = 1;
  one.category = 207;
  one.base_range_mod = 1.5F;
  one.raw_components = {4294967295U, 0, 3};
  EXPECT_EQ(table.spells.at(1), one);

  dat::SpellBase two;
  two.base_range_constant = 7.0F;  // an integer is a number too
  two.formula_version = 2;
  EXPECT_EQ(table.spells.at(2), two);

  EXPECT_EQ(table.spells.at(4294967295U), dat::SpellBase{});
}

TEST(SpellTableFromJson, RejectsBadInputWithMessagesThatNameTheCulprit) {
  struct Case {
    const char* label;
    std::string text;
    std::vector<std::string> needles;  // each must appear in the Validation text
  };
  const std::string deep_array = std::string(100000, '[') + std::string(100000, ']');
  const std::vector<Case> cases = {
      {"bad JSON carries the parser's message", R"({"id": 1, "spells": {)", {"not valid JSON", "parse error"}},
      {"empty text", "", {"not valid JSON"}},
      {"unterminated deep nesting", std::string(100000, '['), {"not valid JSON"}},
      {"top level not an object", "[1]", {"expected an object", "an array"}},
      {"missing id", R"({"spells": {}})", {"missing top-level member 'id'"}},
      {"missing spells", R"({"id": 1})", {"missing top-level member 'spells'"}},
      {"unknown top-level member", R"({"id": 1, "spells": {}, "extra": 0})", {"unknown top-level member 'extra'"}},
      {"table id out of range", R"({"id": 4294967296, "spells": {}})", {"member 'id'", "4294967296"}},
      {"spells not an object", R"({"id": 1, "spells": []})", {"member 'spells'", "an array"}},
      {"spell id not decimal", R"({"id": 1, "spells": {"0x10": {}}})", {"spell id key '0x10'"}},
      {"spell id negative", R"({"id": 1, "spells": {"-1": {}}})", {"spell id key '-1'"}},
      {"spell id leading zero", R"({"id": 1, "spells": {"01": {}}})", {"spell id key '01'"}},
      {"spell id out of range", R"({"id": 1, "spells": {"4294967296": {}}})", {"spell id key '4294967296'"}},
      {"spell id empty", R"({"id": 1, "spells": {"": {}}})", {"spell id key ''"}},
      {"spell not an object", R"({"id": 1, "spells": {"7": 3}})", {"spell 7", "expected an object"}},
      {"unknown member named",
       R"({"id": 1, "spells": {"7": {"name": "x", "colour": 1}}})",
       {"spell 7", "unknown member 'colour'"}},
      {"unknown members all named",
       R"({"id": 1, "spells": {"7": {"Name": "x", "extra_f64": 1}}})",
       {"unknown members 'Name', 'extra_f64'"}},
      {"text member given a number",
       R"({"id": 1, "spells": {"7": {"name": 5}}})",
       {"spell 7, member 'name'", "expected a string", "got 5"}},
      {"u32 member given a string",
       R"({"id": 1, "spells": {"7": {"power": "5"}}})",
       {"spell 7, member 'power'", "a string"}},
      {"u32 member negative",
       R"({"id": 1, "spells": {"7": {"school": -1}}})",
       {"spell 7, member 'school'", "0..4294967295", "got -1"}},
      {"u32 member too large",
       R"({"id": 1, "spells": {"7": {"base_mana": 4294967296}}})",
       {"spell 7, member 'base_mana'", "4294967296"}},
      {"u32 member fractional",
       R"({"id": 1, "spells": {"7": {"category": 2.5}}})",
       {"spell 7, member 'category'", "2.5"}},
      {"u32 member null", R"({"id": 1, "spells": {"7": {"mana_mod": null}}})", {"spell 7, member 'mana_mod'", "null"}},
      {"u32 member boolean",
       R"({"id": 1, "spells": {"7": {"bitfield": true}}})",
       {"spell 7, member 'bitfield'", "true"}},
      {"float member null",
       R"({"id": 1, "spells": {"7": {"base_range_mod": null}}})",
       {"spell 7, member 'base_range_mod'", "null"}},
      {"float member beyond float range",
       R"({"id": 1, "spells": {"7": {"base_range_constant": 1e39}}})",
       {"spell 7, member 'base_range_constant'", "32-bit float"}},
      {"components not an array",
       R"({"id": 1, "spells": {"7": {"raw_components": 3}}})",
       {"spell 7, member 'raw_components'", "expected an array"}},
      {"component out of range",
       R"({"id": 1, "spells": {"7": {"raw_components": [1, -2]}}})",
       {"spell 7, member 'raw_components' entry 1", "got -2"}},
      {"deeply nested value",
       R"({"id": 1, "spells": {"7": {"power": )" + deep_array + "}}}",
       {"spell 7, member 'power'", "an array"}},
  };
  for (const Case& c : cases) {
    const std::string text = validation_text(spell_table_from_json(c.text));
    for (const std::string& needle : c.needles) EXPECT_THAT(text, HasSubstr(needle)) << c.label;
  }
}

TEST(SpellTableJson, RoundTripsEveryExportedMember) {
  dat::SpellTable table;
  table.id = dat::SpellTable::FILE_ID;
  dat::SpellBase& full = table.spells[42];
  full.name = "Frost \"Lance\" \u00e9";
  full.description = "line one\nline two";
  full.school = 4;
  full.category = 0xFFFFFFFFU;
  full.bitfield = 0x80000001U;
  full.base_mana = 50;
  full.base_range_constant = 0.1F;
  full.base_range_mod = -std::numeric_limits<float>::max();
  full.power = 300;
  full.raw_components = {1, 0, 0, 2};
  full.mana_mod = 5;
  full.formula_version = 1;
  table.spells[7].base_range_constant = std::numeric_limits<float>::denorm_min();
  table.spells[0].raw_components.clear();

  const std::string text = spell_table_to_json(table);
  const auto back = spell_table_from_json(text);
  ASSERT_TRUE(back) << back.error().to_string() << "\n" << text;
  EXPECT_EQ(*back, table);

  // Spells are written in ascending id order.
  EXPECT_LT(text.find("\"0\""), text.find("\"7\""));
  EXPECT_LT(text.find("\"7\""), text.find("\"42\""));
}

TEST(SpellTableJson, NonFiniteFloatsAreWrittenAsNullAndRejectedOnRead) {
  dat::SpellTable table;
  table.spells[3].base_range_mod = std::numeric_limits<float>::quiet_NaN();
  const std::string text = spell_table_to_json(table);
  EXPECT_THAT(text, HasSubstr("\"base_range_mod\": null"));
  EXPECT_THAT(validation_text(spell_table_from_json(text)), HasSubstr("spell 3, member 'base_range_mod'"));
}

TEST(SpellTableJson, InvalidUtf8TextIsWrittenWithoutThrowing) {
  dat::SpellTable table;
  table.spells[1].name = std::string("ab\xff", 3);
  const std::string text = spell_table_to_json(table);
  const auto back = spell_table_from_json(text);
  ASSERT_TRUE(back) << back.error().to_string();
  EXPECT_EQ(back->spells.at(1).name, "ab\xEF\xBF\xBD");  // U+FFFD in place of the bad byte
}

}  // namespace
}  // namespace quillmarsh::tools
