// Spell export: the spells of a table that pass the school and category filters, each turned into an
// insertion-ordered JSON record of the chosen fields, held in ascending spell-id order.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "quillmarsh/dat/file_type/spell_table.hpp"

namespace quillmarsh::tools {

// The exportable fields; the code (the enum value) is the field's position in this list.
enum class SpellExportField : std::uint8_t {
  Name = 0,
  Description = 1,
  School = 2,
  Category = 3,
  Bitfield = 4,
  BaseMana = 5,
  BaseRangeConstant = 6,
  BaseRangeMod = 7,
  Power = 8,
  RawComponents = 9,
  ManaMod = 10,
  FormulaVersion = 11,
};
inline constexpr std::size_t SPELL_EXPORT_FIELD_COUNT = 12;

// The record key ("base_mana"); empty for a code outside 0..11.
std::string_view field_key(SpellExportField field);
// The diagnostic name ("BaseMana"); empty for a code outside 0..11.
std::string_view field_name(SpellExportField field);
// The field written under `key` ("base_mana" -> BaseMana); nullopt for anything else.
std::optional<SpellExportField> field_from_key(std::string_view key);

enum class SpellExportPreset : std::uint8_t {
  Base = 0,     // all twelve fields in code order
  Minimal = 1,  // Name, Description, School, Category, Bitfield, BaseRangeConstant, BaseRangeMod, Power
};
std::span<const SpellExportField> preset_fields(SpellExportPreset preset);

// What to export.
//
// Filters: an EMPTY `schools` or `categories` list places no restriction on that axis, so a request
// without filters exports every spell. A non-empty list is a membership test: a spell passes the
// school filter when its `school` equals k + 1 for some selector k in `schools` (selector 0 is school
// 1), and the category filter when its `category` equals an entry of `categories`. A spell must pass
// both filters.
struct SpellExportRequest {
  std::vector<SpellExportField> fields;  // when not empty, used instead of the preset
  std::vector<std::uint8_t> schools;
  std::vector<std::uint32_t> categories;
  SpellExportPreset preset = SpellExportPreset::Base;

  // `fields` if not empty, else the preset's list; each field kept once, at its first position.
  std::vector<SpellExportField> resolved_fields() const;
};

struct SpellExportFile {
  std::vector<SpellExportField> fields;                    // the order every record follows
  std::map<std::uint32_t, nlohmann::ordered_json> spells;  // ascending by spell id
  std::uint32_t table_id = 0;
};

// Cannot fail. Codes outside 0..11 in an explicit field list are not fields and are dropped from the
// resolved list, so `fields` and every record agree.
SpellExportFile export_spells(const dat::SpellTable& table, const SpellExportRequest& request);

// The document {"table_id": <u32>, "fields": [<keys>...], "spells": {"<id>": {record}, ...}} with spells in
// ascending id order, ids as decimal strings. Records may hold text that is not valid UTF-8 (spell names are
// copied as they stand): dump with nlohmann::ordered_json::error_handler_t::replace to never throw.
nlohmann::ordered_json to_json(const SpellExportFile& file);

}  // namespace quillmarsh::tools
