// The logic of converting content files into one QMA archive: the namespace of each input, the keep-rules
// of a pruning profile, the derived motion kinematics asset and its place in the archive.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/file_type/animation.hpp"
#include "quillmarsh/dat/file_type/motion_kinematics.hpp"
#include "quillmarsh/dat/file_type/motion_table.hpp"
#include "quillmarsh/dat/file_type/setup_model.hpp"
#include "quillmarsh/dat/manifest.hpp"
#include "quillmarsh/tools/error.hpp"

namespace quillmarsh::tools {

// Where the derived motion kinematics asset lives in an archive (namespace dat::CORE_NAMESPACE).
inline constexpr std::uint32_t MOTION_KINEMATICS_FILE_ID = 0x4D4F544B;
inline constexpr std::uint32_t MOTION_KINEMATICS_TYPE_ID = 0xFFFFFF01;

// Which files go into the archive: Pruned keeps what game logic needs, Micro only the essential
// tables, Full every file.
enum class ConversionProfile { Pruned, Micro, Full };

// --- Input namespaces and profiles ---

// The namespace for one input: a valid explicit label, else the hint as given, else the file-stem
// fallback. An invalid explicit label fails with Validation carrying the namespace error's text.
ToolResult<std::string> resolve_namespace_hint(std::optional<std::string_view> explicit_,
                                               const std::filesystem::path& input_path,
                                               std::optional<std::string_view> hint);

// "eor/cell" when the input's file stem, ASCII-lower-cased, contains "cell"; "eor/portal" otherwise,
// including every path without a usable file name.
std::string_view infer_input_namespace_fallback(const std::filesystem::path& input_path);

// The keep-rules of a profile; none for Full, which keeps every file.
std::optional<dat::StripperManifest> manifest_for_profile(ConversionProfile profile);

// --- Motion kinematics derivation ---

// Records each setup's default motion table and, for every table, the kinematics of every cycle,
// visiting tables in list order and cycles in ascending key order; the first failure is returned.
ToolResult<dat::MotionKinematics> derive_motion_kinematics_from_parsed_portal_assets(
    std::vector<dat::MotionTable> motion_tables, std::vector<dat::SetupModel> setups,
    const dat::AnimationMap& animations);

// Omega as given; velocity as given, else inferred for a forward cycle from the summed root
// displacement of its animations, else absent. A missing animation fails with AssetDerivation.
ToolResult<dat::MotionCommandKinematics> derive_motion_command_kinematics(std::uint32_t cycle_key,
                                                                          const dat::MotionEntry& entry,
                                                                          const dat::AnimationMap& animations);

// --- Derived-asset emission ---

// Encodes the asset and adds it to the archive at (CORE_NAMESPACE, MOTION_KINEMATICS_FILE_ID) with
// MOTION_KINEMATICS_TYPE_ID. `archive_path` only names the archive in a QmaWrite failure.
ToolResult<void> write_motion_kinematics_asset(const dat::MotionKinematics& kinematics, dat::QmaStreamWriter& writer,
                                               const std::filesystem::path& archive_path);

// Adds the animations that the derivation will look up for this table: those of forward cycles
// without an explicit velocity.
void collect_referenced_animation_ids(const dat::MotionTable& table, std::unordered_set<std::uint32_t>& ids);

}  // namespace quillmarsh::tools
