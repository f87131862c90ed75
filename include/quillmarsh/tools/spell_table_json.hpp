// The spell table's JSON interchange form, read by spell_export until the table file itself is decoded:
//
//   {"id": <u32>, "spells": {"<spell id>": {<SpellBase member>: <value>, ...}, ...}}
//
// Both top-level members are required. A spell id key is a decimal u32 without sign or leading zeros.
// A spell may give any of the twelve exported SpellBase members (name, description, school, category,
// bitfield, base_mana, base_range_constant, base_range_mod, power, raw_components, mana_mod,
// formula_version); a member it leaves out keeps its default. Texts are strings; the u32 members and
// the entries of raw_components are integers in 0..4294967295; the two floats take any JSON number
// that fits a finite 32-bit float. The further SpellBase members and the grouped lists are not part of
// the form: a table read from JSON has them at their defaults.
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

#include "quillmarsh/dat/file_type/spell_table.hpp"
#include "quillmarsh/tools/error.hpp"

namespace quillmarsh::tools {

// Fails with ToolError::Validation: invalid JSON (the parser's message), a misplaced or unknown member
// (named), a spell id key that is not a decimal u32 (named), or a value of the wrong type or range
// (naming the spell id and the member). Never throws.
ToolResult<dat::SpellTable> spell_table_from_json(std::string_view text);
// The same rules over an already parsed document.
ToolResult<dat::SpellTable> spell_table_from_json_value(const nlohmann::json& document);

// The inverse: every spell with all twelve members, spells in ascending id order, indented by two.
// JSON has no NaN or infinity: such a float is written as null, which spell_table_from_json rejects.
// Text that is not valid UTF-8 is written with U+FFFD in place of the bad bytes. Never throws.
std::string spell_table_to_json(const dat::SpellTable& table);

}  // namespace quillmarsh::tools
