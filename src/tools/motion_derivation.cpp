// Deriving the motion kinematics asset from parsed motion tables, setup models and animations.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "quillmarsh/tools/dat2qma.hpp"

namespace quillmarsh::tools {

namespace {

[[noreturn]] void invariant_failed(const char* message) {
  std::fputs(message, stderr);
  std::fputc('\n', stderr);
  std::abort();
}

ToolError missing_animation(std::uint32_t anim_id) {
  return ToolError::AssetDerivation{
      fmt::format("missing animation 0x{:08X} while deriving motion kinematics", anim_id)};
}

// Mean root displacement per frame, scaled to units per second by the first reference's framerate.
// All arithmetic is binary32, one rounding per operation: each step is its own statement so no
// multiply-add is fused (g++ only contracts when FMA instructions are enabled, clang only within one
// expression).
ToolResult<std::optional<Vector3>> infer_forward_velocity(const std::vector<dat::AnimRef>& anims,
                                                          const dat::AnimationMap& animations) {
  float sum_x = 0.0F;
  float sum_y = 0.0F;
  float sum_z = 0.0F;
  std::uint64_t frame_count = 0;
  for (const dat::AnimRef& ref : anims) {
    const auto it = animations.find(ref.anim_id);
    if (it == animations.end()) return tool_fail(missing_animation(ref.anim_id));
    for (const dat::Frame& frame : it->second.position_frames) {
      sum_x += frame.origin.x;
      sum_y += frame.origin.y;
      sum_z += frame.origin.z;
    }
    frame_count += it->second.position_frames.size();
  }
  if (frame_count == 0) return std::optional<Vector3>{};

  const float xx = sum_x * sum_x;
  const float yy = sum_y * sum_y;
  const float zz = sum_z * sum_z;
  const float xy = xx + yy;
  const float length_squared = xy + zz;
  float speed = 0.0F;
  if (length_squared != 0.0F) {
    const float length = std::sqrt(length_squared);
    const float per_frame = length / static_cast<float>(frame_count);
    speed = per_frame * anims.front().framerate;
  }
  // The speed goes on x, whatever the direction of the displacement.
  return std::optional<Vector3>{Vector3{speed, 0.0F, 0.0F}};
}

}  // namespace

ToolResult<dat::MotionCommandKinematics> derive_motion_command_kinematics(std::uint32_t cycle_key,
                                                                          const dat::MotionEntry& entry,
                                                                          const dat::AnimationMap& animations) {
  dat::MotionCommandKinematics out;
  out.omega = entry.omega;
  if (entry.velocity) {
    out.velocity = entry.velocity;
  } else if (!entry.anims.empty() && dat::is_forward_cycle(cycle_key)) {
    if (animations.empty()) return tool_fail(missing_animation(entry.anims.front().anim_id));
    QM_TRY_ASSIGN(out.velocity, infer_forward_velocity(entry.anims, animations));
  }
  return out;
}

ToolResult<dat::MotionKinematics> derive_motion_kinematics_from_parsed_portal_assets(
    std::vector<dat::MotionTable> motion_tables, std::vector<dat::SetupModel> setups,
    const dat::AnimationMap& animations) {
  dat::MotionKinematics kinematics;
  for (const dat::SetupModel& setup : setups) {
    if (setup.default_motion_table) kinematics.setup_defaults.insert_or_assign(setup.id, *setup.default_motion_table);
  }
  setups.clear();

  for (dat::MotionTable& table : motion_tables) {
    dat::MotionKinematicsTable derived(table.id, table.default_style);
    // Ascending keys make the reported failure the same whatever the map's order.
    std::vector<std::uint32_t> keys;
    keys.reserve(table.cycles.size());
    for (const auto& [key, entry] : table.cycles) keys.push_back(key);
    std::sort(keys.begin(), keys.end());
    derived.cycles.reserve(keys.size());
    for (const std::uint32_t key : keys) {
      const auto it = table.cycles.find(key);
      if (it == table.cycles.end()) invariant_failed("sorted cycle key should exist");
      QM_TRY_ASSIGN(dat::MotionCommandKinematics cycle, derive_motion_command_kinematics(key, it->second, animations));
      derived.cycles.insert_or_assign(key, cycle);
    }
    kinematics.tables.insert_or_assign(table.id, std::move(derived));
    table = dat::MotionTable{};  // release the table's storage as soon as it is done
  }
  return kinematics;
}

}  // namespace quillmarsh::tools
