// dat2qma's derived-asset steps: placing the motion kinematics asset in the archive's core namespace,
// and collecting the animations the derivation needs.
#include "quillmarsh/tools/dat2qma.hpp"

#include <fmt/format.h>

#include <algorithm>

#include "quillmarsh/dat/resource.hpp"

namespace quillmarsh::tools {

ToolResult<void> write_motion_kinematics_asset(const dat::MotionKinematics& kinematics, dat::QmaStreamWriter& writer,
                                               const std::filesystem::path& archive_path) {
  Bytes encoded;
  ByteWriter sink(encoded);
  if (auto written = kinematics.write(sink); !written) {
    return tool_fail(ToolError::AssetDerivation{
        fmt::format("failed to serialize motion kinematics asset: {}", written.error().to_string())});
  }
  auto added =
      writer.add(dat::CORE_NAMESPACE, MOTION_KINEMATICS_FILE_ID, MOTION_KINEMATICS_TYPE_ID, std::move(encoded));
  if (!added) return tool_fail(ToolError::QmaWrite{archive_path, added.error().to_string()});
  return {};
}

void collect_referenced_animation_ids(const dat::MotionTable& table, std::unordered_set<std::uint32_t>& ids) {
  std::vector<std::uint32_t> keys;
  keys.reserve(table.cycles.size());
  for (const auto& [key, entry] : table.cycles) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  for (const std::uint32_t key : keys) {
    const auto it = table.cycles.find(key);
    if (it == table.cycles.end()) continue;
    const dat::MotionEntry& entry = it->second;
    // The same rule by which the derivation decides to look animations up.
    if (entry.velocity || entry.anims.empty() || !dat::is_forward_cycle(key)) continue;
    for (const dat::AnimRef& ref : entry.anims) ids.insert(ref.anim_id);
  }
}

}  // namespace quillmarsh::tools
