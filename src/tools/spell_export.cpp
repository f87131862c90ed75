#include "quillmarsh/tools/spell_export.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <string>

namespace quillmarsh::tools {
namespace {

using Json = nlohmann::ordered_json;

// Indexed by field code.
constexpr std::array<std::string_view, SPELL_EXPORT_FIELD_COUNT> FIELD_KEYS = {
    "name",      "description",         "school",         "category", "bitfield",
    "base_mana", "base_range_constant", "base_range_mod", "power",    "raw_components",
    "mana_mod",  "formula_version",
};
constexpr std::array<std::string_view, SPELL_EXPORT_FIELD_COUNT> FIELD_NAMES = {
    "Name",         "Description", "School",        "Category", "Bitfield",       "BaseMana", "BaseRangeConstant",
    "BaseRangeMod", "Power",       "RawComponents", "ManaMod",  "FormulaVersion",
};

constexpr std::array<SpellExportField, 12> BASE_FIELDS = {
    SpellExportField::Name,
    SpellExportField::Description,
    SpellExportField::School,
    SpellExportField::Category,
    SpellExportField::Bitfield,
    SpellExportField::BaseMana,
    SpellExportField::BaseRangeConstant,
    SpellExportField::BaseRangeMod,
    SpellExportField::Power,
    SpellExportField::RawComponents,
    SpellExportField::ManaMod,
    SpellExportField::FormulaVersion,
};
constexpr std::array<SpellExportField, 8> MINIMAL_FIELDS = {
    SpellExportField::Name,         SpellExportField::Description, SpellExportField::School,
    SpellExportField::Category,     SpellExportField::Bitfield,    SpellExportField::BaseRangeConstant,
    SpellExportField::BaseRangeMod, SpellExportField::Power,
};

bool is_known(SpellExportField field) { return static_cast<std::size_t>(field) < SPELL_EXPORT_FIELD_COUNT; }

// Widened exactly to double; JSON has no NaN or infinity, so those become null.
Json float_value(float value) {
  const double wide = static_cast<double>(value);
  if (!std::isfinite(wide)) return Json(nullptr);
  return Json(wide);
}

Json field_value(const dat::SpellBase& spell, SpellExportField field) {
  switch (field) {
    case SpellExportField::Name:
      return Json(spell.name);
    case SpellExportField::Description:
      return Json(spell.description);
    case SpellExportField::School:
      return Json(spell.school);
    case SpellExportField::Category:
      return Json(spell.category);
    case SpellExportField::Bitfield:
      return Json(spell.bitfield);
    case SpellExportField::BaseMana:
      return Json(spell.base_mana);
    case SpellExportField::BaseRangeConstant:
      return float_value(spell.base_range_constant);
    case SpellExportField::BaseRangeMod:
      return float_value(spell.base_range_mod);
    case SpellExportField::Power:
      return Json(spell.power);
    case SpellExportField::RawComponents: {
      Json components = Json::array();
      for (const std::uint32_t component : spell.raw_components) components.push_back(component);
      return components;
    }
    case SpellExportField::ManaMod:
      return Json(spell.mana_mod);
    case SpellExportField::FormulaVersion:
      return Json(spell.formula_version);
  }
  return Json(nullptr);  // unreachable: export_spells drops unknown codes
}

bool passes_filters(const dat::SpellBase& spell, const SpellExportRequest& request) {
  if (!request.schools.empty()) {
    const bool school_listed = std::any_of(request.schools.begin(), request.schools.end(), [&](std::uint8_t k) {
      return spell.school == static_cast<std::uint32_t>(k) + 1U;
    });
    if (!school_listed) return false;
  }
  if (!request.categories.empty()) {
    const bool category_listed =
        std::find(request.categories.begin(), request.categories.end(), spell.category) != request.categories.end();
    if (!category_listed) return false;
  }
  return true;
}

}  // namespace

std::string_view field_key(SpellExportField field) {
  return is_known(field) ? FIELD_KEYS[static_cast<std::size_t>(field)] : std::string_view{};
}

std::string_view field_name(SpellExportField field) {
  return is_known(field) ? FIELD_NAMES[static_cast<std::size_t>(field)] : std::string_view{};
}

std::optional<SpellExportField> field_from_key(std::string_view key) {
  for (std::size_t code = 0; code < FIELD_KEYS.size(); ++code) {
    if (FIELD_KEYS[code] == key) return static_cast<SpellExportField>(code);
  }
  return std::nullopt;
}

std::span<const SpellExportField> preset_fields(SpellExportPreset preset) {
  if (preset == SpellExportPreset::Minimal) return MINIMAL_FIELDS;
  return BASE_FIELDS;
}

std::vector<SpellExportField> SpellExportRequest::resolved_fields() const {
  const std::span<const SpellExportField> source = fields.empty() ? preset_fields(preset) : std::span(fields);
  std::vector<SpellExportField> resolved;
  resolved.reserve(source.size());
  for (const SpellExportField field : source) {
    if (std::find(resolved.begin(), resolved.end(), field) == resolved.end()) resolved.push_back(field);
  }
  return resolved;
}

SpellExportFile export_spells(const dat::SpellTable& table, const SpellExportRequest& request) {
  SpellExportFile file;
  file.table_id = table.id;
  file.fields = request.resolved_fields();
  std::erase_if(file.fields, [](SpellExportField field) { return !is_known(field); });

  for (const auto& [id, spell] : table.spells) {
    if (!passes_filters(spell, request)) continue;
    Json record = Json::object();
    for (const SpellExportField field : file.fields) {
      record[std::string(field_key(field))] = field_value(spell, field);
    }
    file.spells.insert_or_assign(id, std::move(record));
  }
  return file;
}

nlohmann::ordered_json to_json(const SpellExportFile& file) {
  Json keys = Json::array();
  for (const SpellExportField field : file.fields) keys.push_back(field_key(field));
  // The ids come from an ordered map, so they are unique and already in order: each spell is appended
  // to the object's list of members. `spells[key] = ...` would search the members added before it and
  // make the document quadratic in the spell count.
  Json spells = Json::object();
  auto& members = static_cast<Json::object_t::Container&>(spells.get_ref<Json::object_t&>());
  members.reserve(file.spells.size());
  for (const auto& [id, record] : file.spells) members.emplace_back(std::to_string(id), record);

  Json document = Json::object();
  document["table_id"] = file.table_id;
  document["fields"] = std::move(keys);
  document["spells"] = std::move(spells);
  return document;
}

}  // namespace quillmarsh::tools
