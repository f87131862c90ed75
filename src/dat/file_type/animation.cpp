#include "quillmarsh/dat/file_type/animation.hpp"

#include <fmt/format.h>

#include <limits>

#include "../reserve_bounded.hpp"

namespace quillmarsh::dat {

namespace {

constexpr std::size_t FRAME_SIZE = 28;
constexpr std::size_t HOOK_MIN_SIZE = 8;

BinResult<void> read_frames(ByteReader& r, std::uint32_t count, std::vector<Frame>& out) {
  detail::reserve_bounded(out, count, r, FRAME_SIZE);
  for (std::uint32_t i = 0; i < count; ++i) {
    QM_TRY_ASSIGN(const Frame frame, Frame::read(r));
    out.push_back(frame);
  }
  return {};
}

BinResult<void> read_hooks(ByteReader& r, std::vector<AnimationHook>& out) {
  QM_TRY_ASSIGN(const std::uint32_t count, r.read_u32());
  detail::reserve_bounded(out, count, r, HOOK_MIN_SIZE);
  for (std::uint32_t i = 0; i < count; ++i) {
    QM_TRY_ASSIGN(AnimationHook hook, AnimationHook::read(r));
    out.push_back(std::move(hook));
  }
  return {};
}

BinResult<void> read_frame_records(ByteReader& r, std::uint32_t count, std::uint32_t part_count,
                                   std::vector<AnimFrame>& out) {
  // Each record holds its part poses and at least a hook count.
  const std::uint64_t min_size = std::uint64_t{part_count} * FRAME_SIZE + 4;
  out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(count, r.remaining() / min_size)));
  for (std::uint32_t i = 0; i < count; ++i) {
    QM_TRY_ASSIGN(AnimFrame record, AnimFrame::read(r, part_count));
    out.push_back(std::move(record));
  }
  return {};
}

BinError cannot_encode(const ByteWriter& w, std::string message) {
  return BinError::Assert{w.position(), std::move(message)};
}

void write_frame(ByteWriter& w, const Frame& frame) {
  frame.origin.write(w);
  w.write_f32(frame.orientation.w);
  w.write_f32(frame.orientation.x);
  w.write_f32(frame.orientation.y);
  w.write_f32(frame.orientation.z);
}

// A hook's data carries its payload and padding; it is written only if it reads back as the same hook.
BinResult<void> write_hook(ByteWriter& w, const AnimationHook& hook) {
  Bytes encoded;
  ByteWriter hw(encoded);
  hw.write_u32(hook.hook_type);
  hw.write_u32(hook.hook_value);
  hw.write_bytes(hook.data);
  ByteReader check(encoded);
  auto reread = AnimationHook::read(check);
  if (!reread || !(*reread == hook) || check.remaining() != 0) {
    return bin_fail(cannot_encode(w, fmt::format("AnimationHook of type {} with {} data bytes does not match its "
                                                 "type's payload",
                                                 hook.hook_type, hook.data.size())));
  }
  w.write_bytes(encoded);
  return {};
}

}  // namespace

BinResult<AnimFrame> AnimFrame::read(ByteReader& reader, std::uint32_t part_count) {
  RecordReader rec(reader, "AnimFrame");
  AnimFrame record;
  QM_TRY(rec.field("frames", [&](ByteReader& r) { return read_frames(r, part_count, record.frames); }));
  // The hook count shares the frame of the hook list.
  QM_TRY(rec.field("hooks", [&](ByteReader& r) { return read_hooks(r, record.hooks); }));
  return record;
}

BinResult<Animation> Animation::unpack(ByteView bytes) {
  ByteReader reader(bytes);
  RecordReader rec(reader, "Animation");
  Animation anim;
  QM_TRY_ASSIGN(anim.id, rec.u32("id"));
  QM_TRY_ASSIGN(anim.header_words[0], rec.u32("flags"));
  QM_TRY_ASSIGN(anim.header_words[1], rec.u32("part_count"));
  QM_TRY_ASSIGN(anim.header_words[2], rec.u32("frame_count"));
  const std::uint32_t part_count = anim.header_words[1];
  const std::uint32_t frame_count = anim.header_words[2];
  if ((anim.header_words[0] & FLAG_POSITION_FRAMES) != 0) {
    QM_TRY(
        rec.field("position_frames", [&](ByteReader& r) { return read_frames(r, frame_count, anim.position_frames); }));
  }
  QM_TRY(rec.field("frame_records",
                   [&](ByteReader& r) { return read_frame_records(r, frame_count, part_count, anim.frame_records); }));
  return anim;
}

BinResult<Bytes> Animation::pack() const {
  Bytes out;
  ByteWriter w(out);
  const auto [flags, part_count, frame_count] = header_words;
  const std::size_t expected_positions = (flags & FLAG_POSITION_FRAMES) != 0 ? frame_count : 0;
  if (position_frames.size() != expected_positions) {
    return bin_fail(cannot_encode(w, fmt::format("Animation 0x{:08X} has {} position frames; its header asks for {}",
                                                 id, position_frames.size(), expected_positions)));
  }
  if (frame_records.size() != frame_count) {
    return bin_fail(cannot_encode(w, fmt::format("Animation 0x{:08X} has {} frame records; its header asks for {}", id,
                                                 frame_records.size(), frame_count)));
  }
  w.write_u32(id);
  for (const std::uint32_t word : header_words) w.write_u32(word);
  for (const Frame& frame : position_frames) write_frame(w, frame);
  for (const AnimFrame& record : frame_records) {
    if (record.frames.size() != part_count) {
      return bin_fail(cannot_encode(w, fmt::format("Animation 0x{:08X} has a frame record of {} parts; its header "
                                                   "asks for {}",
                                                   id, record.frames.size(), part_count)));
    }
    if (record.hooks.size() > std::numeric_limits<std::uint32_t>::max()) {
      return bin_fail(cannot_encode(w, "too many hooks in one frame record"));
    }
    for (const Frame& frame : record.frames) write_frame(w, frame);
    w.write_u32(static_cast<std::uint32_t>(record.hooks.size()));
    for (const AnimationHook& hook : record.hooks) QM_TRY(write_hook(w, hook));
  }
  return out;
}

}  // namespace quillmarsh::dat
