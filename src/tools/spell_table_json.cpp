#include "quillmarsh/tools/spell_table_json.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>
#include <limits>
#include <vector>

#include "quillmarsh/common/binary.hpp"
#include "quillmarsh/tools/spell_export.hpp"

namespace quillmarsh::tools {
namespace {

using Json = nlohmann::json;

constexpr std::string_view PREFIX = "spell table JSON: ";

tl::unexpected<ToolError> invalid(std::string_view text) {
  return tool_fail(ToolError::Validation{fmt::format("{}{}", PREFIX, text)});
}

// What a wrong value was, for the message: numbers, booleans and null as written, containers by kind.
std::string describe(const Json& value) {
  switch (value.type()) {
    case Json::value_t::string:
      return "a string";
    case Json::value_t::array:
      return "an array";
    case Json::value_t::object:
      return "an object";
    default:
      return value.dump();
  }
}

ToolResult<std::uint32_t> read_u32(const Json& value, std::string_view where) {
  if (value.is_number_unsigned()) {
    const auto number = value.get<std::uint64_t>();
    if (number <= std::numeric_limits<std::uint32_t>::max()) return static_cast<std::uint32_t>(number);
  }
  return invalid(fmt::format("{}: expected an integer in 0..4294967295, got {}", where, describe(value)));
}

ToolResult<float> read_f32(const Json& value, std::string_view where) {
  if (value.is_number()) {
    const auto number = value.get<double>();
    // Narrowing a double outside the float range is undefined, and JSON cannot carry NaN or infinity.
    if (std::isfinite(number) && std::fabs(number) <= static_cast<double>(std::numeric_limits<float>::max())) {
      return static_cast<float>(number);
    }
  }
  return invalid(
      fmt::format("{}: expected a number within the finite 32-bit float range, got {}", where, describe(value)));
}

ToolResult<std::string> read_text(const Json& value, std::string_view where) {
  if (value.is_string()) return value.get<std::string>();
  return invalid(fmt::format("{}: expected a string, got {}", where, describe(value)));
}

ToolResult<std::vector<std::uint32_t>> read_u32_list(const Json& value, std::string_view where) {
  if (!value.is_array()) {
    return invalid(fmt::format("{}: expected an array of integers, got {}", where, describe(value)));
  }
  std::vector<std::uint32_t> list;
  list.reserve(value.size());
  for (std::size_t i = 0; i < value.size(); ++i) {
    QM_TRY_ASSIGN(const std::uint32_t entry, read_u32(value[i], fmt::format("{} entry {}", where, i)));
    list.push_back(entry);
  }
  return list;
}

// Decimal digits only, no sign and no leading zeros, so "1" and "01" cannot name the same spell.
std::optional<std::uint32_t> parse_spell_id(std::string_view key) {
  if (key.empty() || (key.size() > 1 && key.front() == '0')) return std::nullopt;
  if (!std::all_of(key.begin(), key.end(), [](char c) { return c >= '0' && c <= '9'; })) return std::nullopt;
  std::uint32_t id = 0;
  const auto [end, ec] = std::from_chars(key.data(), key.data() + key.size(), id);
  if (ec != std::errc{} || end != key.data() + key.size()) return std::nullopt;
  return id;
}

std::string quoted_list(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ", ";
    text += fmt::format("'{}'", name);
  }
  return text;
}

ToolResult<void> read_member(SpellExportField field, const Json& value, std::string_view where, dat::SpellBase& spell) {
  switch (field) {
    case SpellExportField::Name: {
      QM_TRY_ASSIGN(spell.name, read_text(value, where));
      return {};
    }
    case SpellExportField::Description: {
      QM_TRY_ASSIGN(spell.description, read_text(value, where));
      return {};
    }
    case SpellExportField::School: {
      QM_TRY_ASSIGN(spell.school, read_u32(value, where));
      return {};
    }
    case SpellExportField::Category: {
      QM_TRY_ASSIGN(spell.category, read_u32(value, where));
      return {};
    }
    case SpellExportField::Bitfield: {
      QM_TRY_ASSIGN(spell.bitfield, read_u32(value, where));
      return {};
    }
    case SpellExportField::BaseMana: {
      QM_TRY_ASSIGN(spell.base_mana, read_u32(value, where));
      return {};
    }
    case SpellExportField::BaseRangeConstant: {
      QM_TRY_ASSIGN(spell.base_range_constant, read_f32(value, where));
      return {};
    }
    case SpellExportField::BaseRangeMod: {
      QM_TRY_ASSIGN(spell.base_range_mod, read_f32(value, where));
      return {};
    }
    case SpellExportField::Power: {
      QM_TRY_ASSIGN(spell.power, read_u32(value, where));
      return {};
    }
    case SpellExportField::RawComponents: {
      QM_TRY_ASSIGN(spell.raw_components, read_u32_list(value, where));
      return {};
    }
    case SpellExportField::ManaMod: {
      QM_TRY_ASSIGN(spell.mana_mod, read_u32(value, where));
      return {};
    }
    case SpellExportField::FormulaVersion: {
      QM_TRY_ASSIGN(spell.formula_version, read_u32(value, where));
      return {};
    }
  }
  return {};
}

ToolResult<dat::SpellBase> read_spell(std::string_view id_key, const Json& object) {
  if (!object.is_object()) {
    return invalid(fmt::format("spell {}: expected an object, got {}", id_key, describe(object)));
  }
  std::vector<std::string> unknown;
  for (const auto& [key, value] : object.items()) {
    if (!field_from_key(key)) unknown.push_back(key);
  }
  if (!unknown.empty()) {
    return invalid(
        fmt::format("spell {}: unknown member{} {}", id_key, unknown.size() == 1 ? "" : "s", quoted_list(unknown)));
  }

  dat::SpellBase spell;
  for (const auto& [key, value] : object.items()) {
    const std::string where = fmt::format("spell {}, member '{}'", id_key, key);
    QM_TRY(read_member(*field_from_key(key), value, where, spell));
  }
  return spell;
}

ToolResult<dat::SpellTable> read_table(const Json& document) {
  if (!document.is_object()) return invalid(fmt::format("expected an object, got {}", describe(document)));
  std::vector<std::string> unknown;
  for (const auto& [key, value] : document.items()) {
    if (key != "id" && key != "spells") unknown.push_back(key);
  }
  if (!unknown.empty()) {
    return invalid(fmt::format("unknown top-level member{} {}", unknown.size() == 1 ? "" : "s", quoted_list(unknown)));
  }
  if (!document.contains("id")) return invalid("missing top-level member 'id'");
  if (!document.contains("spells")) return invalid("missing top-level member 'spells'");

  dat::SpellTable table;
  QM_TRY_ASSIGN(table.id, read_u32(document["id"], "member 'id'"));
  const Json& spells = document["spells"];
  if (!spells.is_object()) return invalid(fmt::format("member 'spells': expected an object, got {}", describe(spells)));
  table.spells.reserve(spells.size());
  for (const auto& [key, value] : spells.items()) {
    const std::optional<std::uint32_t> id = parse_spell_id(key);
    if (!id)
      return invalid(
          fmt::format("spell id key '{}' is not a spell id (a decimal u32 without sign or leading zeros)", key));
    QM_TRY_ASSIGN(dat::SpellBase spell, read_spell(key, value));
    table.spells.insert_or_assign(*id, std::move(spell));
  }
  return table;
}

}  // namespace

ToolResult<dat::SpellTable> spell_table_from_json_value(const nlohmann::json& document) {
  try {
    return read_table(document);
  } catch (const std::exception& e) {  // not expected: every value's type is checked before it is read
    return invalid(e.what());
  }
}

ToolResult<dat::SpellTable> spell_table_from_json(std::string_view text) {
  Json document;
  try {
    document = Json::parse(text.begin(), text.end());
  } catch (const Json::exception& e) {
    return invalid(fmt::format("not valid JSON: {}", e.what()));
  }
  return spell_table_from_json_value(document);
}

std::string spell_table_to_json(const dat::SpellTable& table) {
  // The interchange records are exactly the export's records of every field, unfiltered.
  const SpellExportFile exported = export_spells(table, SpellExportRequest{});
  nlohmann::ordered_json spells = nlohmann::ordered_json::object();
  for (const auto& [id, record] : exported.spells) spells[std::to_string(id)] = record;
  nlohmann::ordered_json document = nlohmann::ordered_json::object();
  document["id"] = table.id;
  document["spells"] = std::move(spells);
  return document.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace quillmarsh::tools
