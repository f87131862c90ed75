// The spell table held in memory: one SpellBase per spell id, plus grouped lists carried along unread.
// The table file's on-disk layout is not decoded; tables are built in memory (or from the JSON
// interchange form in quillmarsh/tools/spell_table_json.hpp).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <variant>
#include <vector>

namespace quillmarsh::dat {

// Alternatives of SpellBase::extra_tagged. Plain data only: the record stays cheap to copy.
struct SpellExtraWords {
  std::uint32_t first = 0;
  std::uint32_t second = 0;
  friend bool operator==(const SpellExtraWords&, const SpellExtraWords&) = default;
};
struct SpellExtraScalar {
  float value = 0.0F;
  friend bool operator==(const SpellExtraScalar&, const SpellExtraScalar&) = default;
};
using SpellExtraTagged = std::variant<std::monostate, SpellExtraWords, SpellExtraScalar>;

struct SpellBase {
  // Members the spell export reads; their names are the export's field keys.
  std::string name;
  std::string description;
  std::uint32_t school = 0;  // school code; export selector k stands for code k + 1
  std::uint32_t category = 0;
  std::uint32_t bitfield = 0;
  std::uint32_t base_mana = 0;
  float base_range_constant = 0.0F;
  float base_range_mod = 0.0F;
  std::uint32_t power = 0;
  std::vector<std::uint32_t> raw_components = std::vector<std::uint32_t>(8, 0);  // as stored, never trimmed
  std::uint32_t mana_mod = 0;
  std::uint32_t formula_version = 0;

  // Further members that nothing in quillmarsh reads; only a reader of the table file would name them.
  double extra_f64 = 0.0;
  std::array<std::uint32_t, 9> extra_u32{};
  std::array<float, 2> extra_f32{};
  SpellExtraTagged extra_tagged;  // std::monostate by default

  friend bool operator==(const SpellBase&, const SpellBase&) = default;
};

// One group of the table's grouped lists: each entry owns its list of values.
struct SpellGroup {
  std::unordered_map<std::uint32_t, std::vector<std::uint32_t>> lists;
  friend bool operator==(const SpellGroup&, const SpellGroup&) = default;
};

struct SpellTable {
  static constexpr std::uint32_t FILE_ID = 0x0E00000E;

  std::uint32_t id = 0;
  std::unordered_map<std::uint32_t, SpellBase> spells;
  std::unordered_map<std::uint32_t, SpellGroup> grouped_lists;  // carried with the table, read by nothing

  friend bool operator==(const SpellTable&, const SpellTable&) = default;
};

}  // namespace quillmarsh::dat
