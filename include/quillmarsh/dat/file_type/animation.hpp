// Animations: the root displacement of each frame plus per-frame part poses and hooks.
#pragma once

#include <array>
#include <cstdint>
#include <unordered_map>
#include <vector>

#include "quillmarsh/common/binary.hpp"
#include "quillmarsh/dat/file_type/setup_model.hpp"
#include "quillmarsh/dat/graphics.hpp"

namespace quillmarsh::dat {

// The pose of every part in one frame, and the hooks that fire on it.
struct AnimFrame {
  std::vector<Frame> frames;  // one per part
  std::vector<AnimationHook> hooks;

  // Reads one frame record with `part_count` part poses.
  static BinResult<AnimFrame> read(ByteReader& reader, std::uint32_t part_count);
  friend bool operator==(const AnimFrame&, const AnimFrame&) = default;
};

struct Animation {
  static constexpr std::uint32_t FLAG_POSITION_FRAMES = 0x01;

  std::vector<Frame> position_frames;  // origin: displacement of the whole model over that frame
  std::vector<AnimFrame> frame_records;
  std::uint32_t id = 0;
  // flags, part count, frame count, as stored.
  std::array<std::uint32_t, 3> header_words{};

  static BinResult<Animation> unpack(ByteView bytes);
  // Encodes the animation in the layout `unpack` reads. The header words must describe the lists:
  // frame_records holds `frame count` records of `part count` poses each, and position_frames holds
  // `frame count` frames when flags bit 0x01 is set and none otherwise; any hook must re-read as
  // itself. A record that breaks this cannot be encoded and fails.
  BinResult<Bytes> pack() const;
  friend bool operator==(const Animation&, const Animation&) = default;
};

// Animation file id -> animation.
using AnimationMap = std::unordered_map<std::uint32_t, Animation>;

}  // namespace quillmarsh::dat
