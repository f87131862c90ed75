// A small but realistic synthetic content set, for the demo, the end-to-end tests and benchmarks.
//
// Portal files: palettes (0x04), textures (0x06, half of them paletted with a default palette),
// surface textures (0x05), surfaces (0x08, textured and coloured), graphics objects (0x01, with packed
// surface counts), setups (0x02, parts and a default motion table; some nest another setup), motion
// tables (0x09) and animations (0x03) in their stored layouts, the essential tables 0x0E000002/07/04/
// 0E/18 and a further table 0x0E000099 as opaque bytes, and a few audio (0x0A) and clothing (0x10)
// files. Cell files: the landblock file (0xXXYYFFFF) and landblock info file (0xXXYYFFFE) of each of the
// 3 x 3 landblocks around the spawn landblock, whose objects and buildings use the setups and graphics
// objects, plus a few cell files of each and some landblocks farther away. A spell table is given in
// the JSON interchange form.
//
// The same options always give the same bytes: the generator has its own portable random sequence.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>

#include "quillmarsh/common/binary.hpp"
#include "quillmarsh/dat/file_type/spell_table.hpp"
#include "quillmarsh/tools/error.hpp"

namespace quillmarsh::tools {

struct SyntheticContentOptions {
  std::uint64_t seed = 0x5EED;
  // Multiplies the number of models, surfaces, textures, motion tables, animations, spells and distant
  // landblocks; scale 1 gives about two hundred and fifty files. 0 is taken as 1.
  std::uint32_t scale = 1;
  std::uint32_t spawn_landblock = 0xA9B4;
};

struct SyntheticContent {
  std::map<std::uint32_t, Bytes> portal;  // file id -> bytes, for the namespace "eor/portal"
  std::map<std::uint32_t, Bytes> cell;    // for "eor/cell"
  dat::SpellTable spells;                 // id 0x0E00000E
};

SyntheticContent generate_synthetic_content(const SyntheticContentOptions& options);

// The name a content file is written under: eight upper-case hex digits and ".bin" ("0E000002.bin").
std::string synthetic_file_name(std::uint32_t id);

struct SyntheticContentFiles {
  std::filesystem::path portal_dir;   // <out>/portal
  std::filesystem::path cell_dir;     // <out>/cell
  std::filesystem::path spells_json;  // <out>/spells.json
};

// Writes <out>/portal/<ID>.bin, <out>/cell/<ID>.bin and <out>/spells.json, creating the directories.
// A failure is ToolError::Io naming the file.
ToolResult<SyntheticContentFiles> write_synthetic_content(const SyntheticContent& content,
                                                          const std::filesystem::path& out);

}  // namespace quillmarsh::tools
