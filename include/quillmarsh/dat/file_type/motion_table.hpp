// Motion tables: the motion cycles a setup model plays, keyed by (style, command), with the animations
// that make up each cycle and any explicit velocity or angular velocity.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "quillmarsh/common/binary.hpp"
#include "quillmarsh/common/math.hpp"

namespace quillmarsh::dat {

// The key of a motion cycle. The shift drops the upper 16 bits of the style; the command keeps 20
// bits, so bits 16..19 of the command overlap the low 4 bits of the style.
constexpr std::uint32_t cycle_key(std::uint32_t style, std::uint32_t command) {
  return (style << 16) | (command & 0x000FFFFFU);
}

// Forward cycles (low 16 bits 0x0005 or 0x0007) are the ones whose velocity can be inferred from the
// root displacement of their animations.
constexpr bool is_forward_cycle(std::uint32_t key) { return ((key | 0x0002U) & 0xFFFFU) == 0x0007U; }

// A reference from a motion entry to an animation.
struct AnimRef {
  std::uint32_t anim_id = 0;
  std::int32_t param_a = 0;
  std::int32_t param_b = 0;
  float framerate = 0.0F;  // frames per second

  static BinResult<AnimRef> read(ByteReader& reader);
  void write(ByteWriter& writer) const;
  friend bool operator==(const AnimRef&, const AnimRef&) = default;
};

// One cycle (or other entry) of a motion table. Presence of `velocity` and `omega` is authoritative;
// `flags` bits 0x01 and 0x02 mirror it in the encoding.
struct MotionEntry {
  static constexpr std::uint8_t FLAG_VELOCITY = 0x01;
  static constexpr std::uint8_t FLAG_OMEGA = 0x02;

  std::vector<AnimRef> anims;
  std::optional<Vector3> velocity;
  std::optional<Vector3> omega;
  std::uint8_t bits = 0;
  std::uint8_t flags = 0;

  static BinResult<MotionEntry> read(ByteReader& reader);
  // Writes the flag bits 0x01 and 0x02 from the presence of `velocity` and `omega`, the other bits as
  // stored. Fails when there are more than 255 animations (the count is one byte).
  BinResult<void> write(ByteWriter& writer) const;
  friend bool operator==(const MotionEntry&, const MotionEntry&) = default;
};

// The kinematics of one cycle: velocity in units per second, angular velocity; each may be absent.
struct MotionCommandKinematics {
  std::optional<Vector3> velocity;
  std::optional<Vector3> omega;
  friend bool operator==(const MotionCommandKinematics&, const MotionCommandKinematics&) = default;
};

using MotionEntryMap = std::unordered_map<std::uint32_t, MotionEntry>;

struct MotionTable {
  std::uint32_t id = 0;
  std::uint32_t default_style = 0;
  MotionEntryMap cycles;  // cycle key -> entry
  std::unordered_map<std::uint32_t, std::uint32_t> defaults;
  MotionEntryMap secondary_entries;
  std::unordered_map<std::uint32_t, MotionEntryMap> paired_entries;

  // Decodes a motion table file. A key met twice in one map: the later entry replaces the earlier.
  static BinResult<MotionTable> unpack(ByteView bytes);
  // Encodes the table in the layout `unpack` reads, every map in ascending key order.
  BinResult<Bytes> pack() const;
  friend bool operator==(const MotionTable&, const MotionTable&) = default;
};

}  // namespace quillmarsh::dat
