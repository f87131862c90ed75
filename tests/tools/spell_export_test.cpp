#include "quillmarsh/tools/spell_export.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <vector>

namespace quillmarsh::tools {
namespace {

using F = SpellExportField;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

std::vector<std::uint32_t> exported_ids(const SpellExportFile& file) {
  std::vector<std::uint32_t> ids;
  for (const auto& [id, record] : file.spells) ids.push_back(id);
  return ids;
}

std::vector<std::string> record_keys(const nlohmann::ordered_json& record) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : record.items()) keys.push_back(key);
  return keys;
}

TEST(SpellExportField, KeysNamesAndCodesAgree) {
  const std::vector<std::pair<std::string_view, std::string_view>> expected = {
      {"name", "Name"},
      {"description", "Description"},
      {"school", "School"},
      {"category", "Category"},
      {"bitfield", "Bitfield"},
      {"base_mana", "BaseMana"},
      {"base_range_constant", "BaseRangeConstant"},
      {"base_range_mod", "BaseRangeMod"},
      {"power", "Power"},
      {"raw_components", "RawComponents"},
      {"mana_mod", "ManaMod"},
      {"formula_version", "FormulaVersion"},
  };
  ASSERT_EQ(expected.size(), SPELL_EXPORT_FIELD_COUNT);
  for (std::size_t code = 0; code < expected.size(); ++code) {
    const auto field = static_cast<F>(code);
    EXPECT_EQ(field_key(field), expected[code].first);
    EXPECT_EQ(field_name(field), expected[code].second);
    EXPECT_EQ(field_from_key(expected[code].first), field);
  }
  EXPECT_EQ(field_from_key("BaseMana"), std::nullopt);  // names are not keys
  EXPECT_EQ(field_from_key(""), std::nullopt);
  EXPECT_EQ(field_key(static_cast<F>(12)), "");
  EXPECT_EQ(field_name(static_cast<F>(255)), "");
}

TEST(SpellExportRequest, ResolvesFields) {
  struct Case {
    const char* label;
    SpellExportPreset preset;
    std::vector<F> fields;
    std::vector<F> expected;
  };
  const std::vector<Case> cases = {
      {"base preset: all twelve in code order",
       SpellExportPreset::Base,
       {},
       {F::Name, F::Description, F::School, F::Category, F::Bitfield, F::BaseMana, F::BaseRangeConstant,
        F::BaseRangeMod, F::Power, F::RawComponents, F::ManaMod, F::FormulaVersion}},
      {"minimal preset: eight",
       SpellExportPreset::Minimal,
       {},
       {F::Name, F::Description, F::School, F::Category, F::Bitfield, F::BaseRangeConstant, F::BaseRangeMod, F::Power}},
      {"explicit fields win over base", SpellExportPreset::Base, {F::Name}, {F::Name}},
      {"explicit fields win over minimal", SpellExportPreset::Minimal, {F::ManaMod}, {F::ManaMod}},
      {"duplicate kept at first position", SpellExportPreset::Base, {F::Power, F::Name, F::Power}, {F::Power, F::Name}},
      {"many duplicates",
       SpellExportPreset::Base,
       {F::School, F::School, F::Name, F::School, F::Name, F::Bitfield},
       {F::School, F::Name, F::Bitfield}},
  };
  for (const Case& c : cases) {
    SpellExportRequest request;
    request.preset = c.preset;
    request.fields = c.fields;
    EXPECT_EQ(request.resolved_fields(), c.expected) << c.label;
    EXPECT_EQ(request.fields, c.fields) << c.label << ": the request is not changed";
  }
}

// Spell 1 (school 1, category 207), spell 2 (school 2, category 47), spell 3 left at school 0, category 0.
dat::SpellTable filter_table() {
  dat::SpellTable table;
  table.id = dat::SpellTable::FILE_ID;
  table.spells[1].school = 1;
  table.spells[1].category = 207;
  table.spells[2].school = 2;
  table.spells[2].category = 47;
  table.spells[3] = dat::SpellBase{};
  return table;
}

TEST(ExportSpells, FiltersBySchoolSelectorAndCategory) {
  struct Case {
    const char* label;
    std::vector<std::uint8_t> schools;
    std::vector<std::uint32_t> categories;
    std::vector<std::uint32_t> expected;
  };
  const std::vector<Case> cases = {
      {"selector 0 is school 1, category 207", {0}, {207}, {1}},
      {"no filters export everything", {}, {}, {1, 2, 3}},
      {"empty category list does not restrict", {0}, {}, {1}},
      {"empty school list does not restrict", {}, {47}, {2}},
      {"school passes, category not listed", {0}, {47}, {}},
      {"category passes, school not listed", {1}, {207}, {}},
      {"several selectors and categories", {1, 0}, {47, 207}, {1, 2}},
      {"selector 255 is school 256, not school 0", {255}, {}, {}},
      {"category 0 is an ordinary code", {}, {0}, {3}},
  };
  const dat::SpellTable table = filter_table();
  for (const Case& c : cases) {
    SpellExportRequest request;
    request.fields = {F::Name};
    request.schools = c.schools;
    request.categories = c.categories;
    const SpellExportFile file = export_spells(table, request);
    EXPECT_EQ(exported_ids(file), c.expected) << c.label;
    EXPECT_EQ(file.table_id, dat::SpellTable::FILE_ID) << c.label;
    for (const auto& [id, record] : file.spells) {
      EXPECT_EQ(record, nlohmann::ordered_json({{"name", ""}})) << c.label << ": spell " << id;
    }
  }
}

TEST(ExportSpells, RecordsFollowTheResolvedFieldOrder) {
  dat::SpellTable table;
  dat::SpellBase& spell = table.spells[1];
  spell.name = "Flame Bolt";
  spell.description = "Shoots a bolt.";
  spell.school = 1;
  spell.category = 207;
  spell.bitfield = 0xFFFFFFFFU;
  spell.base_mana = 15;
  spell.base_range_constant = 0.5F;
  spell.base_range_mod = 1.25F;
  spell.power = 1;
  spell.raw_components = {7, 0, 3};
  spell.mana_mod = 2;
  spell.formula_version = 4;

  SpellExportRequest request;  // preset Base
  SpellExportFile file = export_spells(table, request);
  EXPECT_EQ(file.spells.at(1).dump(),
            R"({"name":"Flame Bolt","description":"Shoots a bolt.","school":1,"category":207,)"
            R"("bitfield":4294967295,"base_mana":15,"base_range_constant":0.5,"base_range_mod":1.25,)"
            R"("power":1,"raw_components":[7,0,3],"mana_mod":2,"formula_version":4})");

  request.fields = {F::Power, F::RawComponents, F::Name, F::Power, F::School};
  file = export_spells(table, request);
  EXPECT_THAT(file.fields, ElementsAre(F::Power, F::RawComponents, F::Name, F::School));
  EXPECT_THAT(record_keys(file.spells.at(1)), ElementsAre("power", "raw_components", "name", "school"));
  EXPECT_EQ(file.spells.at(1).dump(), R"({"power":1,"raw_components":[7,0,3],"name":"Flame Bolt","school":1})");

  request = SpellExportRequest{};
  request.preset = SpellExportPreset::Minimal;
  file = export_spells(table, request);
  EXPECT_THAT(record_keys(file.spells.at(1)), ElementsAre("name", "description", "school", "category", "bitfield",
                                                          "base_range_constant", "base_range_mod", "power"));
}

TEST(ExportSpells, IntegersStayUnsignedAndFloatsWidenExactly) {
  dat::SpellTable table;
  table.spells[1].bitfield = 0xFFFFFFFFU;
  table.spells[1].base_range_constant = 0.1F;
  const SpellExportFile file = export_spells(table, SpellExportRequest{});
  const nlohmann::ordered_json& record = file.spells.at(1);
  for (const char* key : {"school", "category", "bitfield", "base_mana", "power", "mana_mod", "formula_version"}) {
    EXPECT_TRUE(record.at(key).is_number_unsigned()) << key;
  }
  EXPECT_EQ(record.at("bitfield").get<std::uint64_t>(), 0xFFFFFFFFU);
  ASSERT_TRUE(record.at("base_range_constant").is_number_float());
  EXPECT_EQ(record.at("base_range_constant").get<double>(), static_cast<double>(0.1F));  // not 0.1
}

TEST(ExportSpells, NonFiniteFloatsBecomeNullAndZeroStaysANumber) {
  struct Case {
    float value;
    bool is_null;
  };
  const std::vector<Case> cases = {
      {std::numeric_limits<float>::infinity(), true},  {-std::numeric_limits<float>::infinity(), true},
      {std::numeric_limits<float>::quiet_NaN(), true}, {0.0F, false},
      {std::numeric_limits<float>::max(), false},      {std::numeric_limits<float>::denorm_min(), false},
  };
  for (const Case& c : cases) {
    dat::SpellTable table;
    table.spells[1].base_range_mod = c.value;
    table.spells[1].base_range_constant = c.value;
    SpellExportRequest request;
    request.fields = {F::BaseRangeMod, F::BaseRangeConstant};
    const SpellExportFile file = export_spells(table, request);
    const nlohmann::ordered_json& record = file.spells.at(1);
    for (const char* key : {"base_range_mod", "base_range_constant"}) {
      const nlohmann::ordered_json& value = record.at(key);
      if (c.is_null) {
        EXPECT_TRUE(value.is_null()) << key << " " << c.value;
      } else {
        ASSERT_TRUE(value.is_number_float()) << key << " " << c.value;
        EXPECT_EQ(value.get<double>(), static_cast<double>(c.value)) << key;
      }
    }
  }

  dat::SpellTable table;
  table.spells[1].base_range_mod = 0.0F;
  SpellExportRequest request;
  request.fields = {F::BaseRangeMod};
  EXPECT_EQ(export_spells(table, request).spells.at(1).dump(), R"({"base_range_mod":0.0})");
}

TEST(ExportSpells, DefaultRawComponentsAreEightZeros) {
  dat::SpellTable table;
  table.spells[9] = dat::SpellBase{};
  SpellExportRequest request;
  request.fields = {F::RawComponents};
  const SpellExportFile file = export_spells(table, request);
  const nlohmann::ordered_json& components = file.spells.at(9).at("raw_components");
  ASSERT_TRUE(components.is_array());
  ASSERT_EQ(components.size(), 8U);
  for (const auto& entry : components) {
    EXPECT_TRUE(entry.is_number_unsigned());
    EXPECT_EQ(entry.get<std::uint32_t>(), 0U);
  }
}

TEST(ExportSpells, SpellsComeOutInAscendingIdOrder) {
  dat::SpellTable table;
  table.id = 0x0E00000EU;
  for (const std::uint32_t id : {5U, 3U, 10U, 9U}) table.spells[id].power = id;
  SpellExportRequest request;
  request.fields = {F::Power};
  const SpellExportFile file = export_spells(table, request);
  EXPECT_THAT(exported_ids(file), ElementsAre(3U, 5U, 9U, 10U));

  // Numeric order survives into the document ("9" before "10").
  EXPECT_EQ(to_json(file).dump(), R"({"table_id":234881038,"fields":["power"],)"
                                  R"("spells":{"3":{"power":3},"5":{"power":5},"9":{"power":9},"10":{"power":10}}})");
}

TEST(ExportSpells, UnknownCodesInTheFieldListAreDropped) {
  dat::SpellTable table;
  table.spells[1].power = 7;
  SpellExportRequest request;
  request.fields = {static_cast<F>(200), F::Power, static_cast<F>(12)};
  const SpellExportFile file = export_spells(table, request);
  EXPECT_THAT(file.fields, ElementsAreArray({F::Power}));
  EXPECT_EQ(file.spells.at(1).dump(), R"({"power":7})");
}

}  // namespace
}  // namespace quillmarsh::tools
