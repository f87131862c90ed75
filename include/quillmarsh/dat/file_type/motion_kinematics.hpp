// The motion kinematics asset: per motion table and cycle, the velocity and angular velocity a cycle
// moves a model with, plus each setup model's default motion table. Its encoding is deterministic:
// every map is written in ascending key order.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>

#include "quillmarsh/common/binary.hpp"
#include "quillmarsh/dat/file_type/motion_table.hpp"

namespace quillmarsh::dat {

inline constexpr std::uint32_t MOTION_KINEMATICS_MAGIC = 0x4D4F544B;  // bytes "KTOM"
inline constexpr std::uint32_t MOTION_KINEMATICS_VERSION = 1;

struct MotionKinematicsTable {
  std::uint32_t motion_table_id = 0;
  std::uint32_t default_style = 0;
  std::unordered_map<std::uint32_t, MotionCommandKinematics> cycles;  // cycle key -> kinematics

  MotionKinematicsTable() = default;
  MotionKinematicsTable(std::uint32_t motion_table_id, std::uint32_t default_style)
      : motion_table_id(motion_table_id), default_style(default_style) {}
  friend bool operator==(const MotionKinematicsTable&, const MotionKinematicsTable&) = default;
};

struct MotionKinematics {
  std::unordered_map<std::uint32_t, std::uint32_t> setup_defaults;  // setup id -> motion table id
  std::unordered_map<std::uint32_t, MotionKinematicsTable> tables;  // motion table id -> kinematics
  std::uint32_t magic = MOTION_KINEMATICS_MAGIC;
  std::uint32_t version = MOTION_KINEMATICS_VERSION;

  // The cycle of (style, command) in the given table; null when the table or the cycle is absent.
  const MotionCommandKinematics* cycle_kinematics(std::uint32_t motion_table_id, std::uint32_t style,
                                                  std::uint32_t command) const;
  std::optional<std::uint32_t> default_motion_table_for_setup(std::uint32_t setup_id) const;
  std::optional<std::uint32_t> default_style_for_motion_table(std::uint32_t motion_table_id) const;

  // Appends the encoding at the writer's position; stops at the first failing write.
  BinResult<void> write(ByteWriter& writer) const;
  // Decodes one asset. Magic and version are kept as read, not checked; trailing bytes are ignored.
  static BinResult<MotionKinematics> read(ByteReader& reader);

  friend bool operator==(const MotionKinematics&, const MotionKinematics&) = default;
};

}  // namespace quillmarsh::dat
