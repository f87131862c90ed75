// File kinds, the well-known table ids, and the keep-rules that prune content going into an archive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillmarsh::dat {

// The kind of a content file as a 32-bit code; it equals the top byte of the file's id. Any code
// can be held, named or not.
enum class DatFileType : std::uint32_t {
  Model = 1,  // graphics object
  Setup = 2,
  Animation = 3,
  MotionTable = 9,
  Audio = 10,
  SoundTable = 13,
  Table = 14,
  Clothing = 16,
  Scene = 19,
  MaterialModifier = 32,
  LanguageString = 50,
  ParticleEmitter = 51,
  PhysicsScript = 52,
  DerivedAsset = 253,
  FontTable = 254,
  Palette = 255,
};

// The kind code of a file id: its top byte.
constexpr DatFileType file_type_of(std::uint32_t file_id) { return static_cast<DatFileType>(file_id >> 24); }

// Well-known tables of the portal namespace (kind Table).
struct CharGen {
  static constexpr std::uint32_t FILE_ID = 0x0E000002;
};
struct SkillTable {
  static constexpr std::uint32_t FILE_ID = 0x0E000004;
};
struct XpTable {
  static constexpr std::uint32_t FILE_ID = 0x0E000018;
};
// The fifth essential table, which has no record type of its own.
inline constexpr std::uint32_t ESSENTIAL_TABLE_0E000007 = 0x0E000007;

// A file matches when every present member equals the file's namespace (exact bytes), id or kind.
struct KeepRule {
  std::optional<std::string> namespace_;
  std::optional<std::uint32_t> file_id;
  std::optional<DatFileType> file_type;

  bool matches(std::string_view namespace_label, std::uint32_t id, DatFileType type) const;
  friend bool operator==(const KeepRule&, const KeepRule&) = default;
};

// An ordered list of keep-rules: a file is kept when at least one rule matches it. No rules keep nothing.
struct StripperManifest {
  std::vector<KeepRule> rules;

  // Every file of the kinds that game logic needs, in any namespace.
  static StripperManifest logic_only();
  // Only the five essential tables of the portal namespace.
  static StripperManifest micro();

  bool should_keep_entry(std::string_view namespace_, std::uint32_t file_id, DatFileType file_type) const;
};

}  // namespace quillmarsh::dat
