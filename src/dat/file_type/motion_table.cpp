#include "quillmarsh/dat/file_type/motion_table.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "../reserve_bounded.hpp"

namespace quillmarsh::dat {

namespace {

constexpr std::size_t ANIM_REF_SIZE = 16;
constexpr std::size_t MOTION_ENTRY_MIN_SIZE = 4;  // count, bits, flags, padding

// Room for a map read from a declared count, never more than the unread bytes can hold.
template <class Map>
void reserve_map_bounded(Map& map, std::uint64_t declared_count, const ByteReader& reader, std::size_t min_size) {
  map.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(declared_count, reader.remaining() / min_size)));
}

BinResult<void> read_entry_map(ByteReader& r, MotionEntryMap& map) {
  QM_TRY_ASSIGN(const std::uint32_t count, r.read_u32());
  reserve_map_bounded(map, count, r, 4 + MOTION_ENTRY_MIN_SIZE);
  for (std::uint32_t i = 0; i < count; ++i) {
    QM_TRY_ASSIGN(const std::uint32_t key, r.read_u32());
    QM_TRY_ASSIGN(MotionEntry entry, MotionEntry::read(r));
    map.insert_or_assign(key, std::move(entry));
  }
  return {};
}

BinResult<void> read_defaults(ByteReader& r, std::unordered_map<std::uint32_t, std::uint32_t>& map) {
  QM_TRY_ASSIGN(const std::uint32_t count, r.read_u32());
  reserve_map_bounded(map, count, r, 8);
  for (std::uint32_t i = 0; i < count; ++i) {
    QM_TRY_ASSIGN(const std::uint32_t key, r.read_u32());
    QM_TRY_ASSIGN(const std::uint32_t value, r.read_u32());
    map.insert_or_assign(key, value);
  }
  return {};
}

BinResult<void> read_paired(ByteReader& r, std::unordered_map<std::uint32_t, MotionEntryMap>& map) {
  QM_TRY_ASSIGN(const std::uint32_t count, r.read_u32());
  reserve_map_bounded(map, count, r, 8);  // key and inner count
  for (std::uint32_t i = 0; i < count; ++i) {
    QM_TRY_ASSIGN(const std::uint32_t key, r.read_u32());
    MotionEntryMap inner;
    QM_TRY(read_entry_map(r, inner));
    map.insert_or_assign(key, std::move(inner));
  }
  return {};
}

BinResult<void> write_count(ByteWriter& w, std::size_t count, const char* what) {
  if (count > std::numeric_limits<std::uint32_t>::max()) {
    return bin_fail(
        BinError::Assert{w.position(), fmt::format("{} has {} entries; at most 2^32 - 1 fit", what, count)});
  }
  w.write_u32(static_cast<std::uint32_t>(count));
  return {};
}

template <class Map>
std::vector<std::uint32_t> sorted_keys(const Map& map) {
  std::vector<std::uint32_t> keys;
  keys.reserve(map.size());
  for (const auto& [key, value] : map) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  return keys;
}

BinResult<void> write_entry_map(ByteWriter& w, const MotionEntryMap& map, const char* what) {
  QM_TRY(write_count(w, map.size(), what));
  for (const std::uint32_t key : sorted_keys(map)) {
    w.write_u32(key);
    QM_TRY(map.at(key).write(w));
  }
  return {};
}

}  // namespace

BinResult<AnimRef> AnimRef::read(ByteReader& reader) {
  RecordReader rec(reader, "AnimRef");
  AnimRef ref;
  QM_TRY_ASSIGN(ref.anim_id, rec.u32("anim_id"));
  QM_TRY_ASSIGN(ref.param_a, rec.i32("param_a"));
  QM_TRY_ASSIGN(ref.param_b, rec.i32("param_b"));
  QM_TRY_ASSIGN(ref.framerate, rec.f32("framerate"));
  return ref;
}

void AnimRef::write(ByteWriter& writer) const {
  writer.write_u32(anim_id);
  writer.write_u32(static_cast<std::uint32_t>(param_a));
  writer.write_u32(static_cast<std::uint32_t>(param_b));
  writer.write_f32(framerate);
}

BinResult<MotionEntry> MotionEntry::read(ByteReader& reader) {
  RecordReader rec(reader, "MotionEntry");
  MotionEntry entry;
  // The count shares the frame of the list it sizes.
  QM_TRY_ASSIGN(const std::uint8_t anim_count, rec.u8("anims"));
  QM_TRY_ASSIGN(entry.bits, rec.u8("bits"));
  QM_TRY_ASSIGN(entry.flags, rec.u8("flags"));
  QM_TRY(rec.u8("padding"));  // pads the 3-byte head to 4; its value is not checked
  detail::reserve_bounded(entry.anims, anim_count, reader, ANIM_REF_SIZE);
  for (std::uint8_t i = 0; i < anim_count; ++i) {
    QM_TRY_ASSIGN(AnimRef ref, rec.record<AnimRef>("anims"));
    entry.anims.push_back(ref);
  }
  if ((entry.flags & FLAG_VELOCITY) != 0) {
    QM_TRY_ASSIGN(entry.velocity, rec.record<Vector3>("velocity"));
  }
  if ((entry.flags & FLAG_OMEGA) != 0) {
    QM_TRY_ASSIGN(entry.omega, rec.record<Vector3>("omega"));
  }
  return entry;
}

BinResult<void> MotionEntry::write(ByteWriter& writer) const {
  if (anims.size() > std::numeric_limits<std::uint8_t>::max()) {
    return bin_fail(BinError::Assert{writer.position(),
                                     fmt::format("MotionEntry has {} animations; at most 255 fit", anims.size())});
  }
  auto out_flags = static_cast<std::uint8_t>(flags & ~(FLAG_VELOCITY | FLAG_OMEGA));
  if (velocity) out_flags |= FLAG_VELOCITY;
  if (omega) out_flags |= FLAG_OMEGA;
  writer.write_u8(static_cast<std::uint8_t>(anims.size()));
  writer.write_u8(bits);
  writer.write_u8(out_flags);
  writer.write_u8(0);
  for (const AnimRef& ref : anims) ref.write(writer);
  if (velocity) velocity->write(writer);
  if (omega) omega->write(writer);
  return {};
}

BinResult<MotionTable> MotionTable::unpack(ByteView bytes) {
  ByteReader reader(bytes);
  RecordReader rec(reader, "MotionTable");
  MotionTable table;
  QM_TRY_ASSIGN(table.id, rec.u32("id"));
  QM_TRY_ASSIGN(table.default_style, rec.u32("default_style"));
  QM_TRY(rec.field("defaults", [&table](ByteReader& r) { return read_defaults(r, table.defaults); }));
  QM_TRY(rec.field("cycles", [&table](ByteReader& r) { return read_entry_map(r, table.cycles); }));
  QM_TRY(
      rec.field("secondary_entries", [&table](ByteReader& r) { return read_entry_map(r, table.secondary_entries); }));
  QM_TRY(rec.field("paired_entries", [&table](ByteReader& r) { return read_paired(r, table.paired_entries); }));
  return table;
}

BinResult<Bytes> MotionTable::pack() const {
  Bytes out;
  ByteWriter w(out);
  w.write_u32(id);
  w.write_u32(default_style);
  QM_TRY(write_count(w, defaults.size(), "defaults"));
  for (const std::uint32_t key : sorted_keys(defaults)) {
    w.write_u32(key);
    w.write_u32(defaults.at(key));
  }
  QM_TRY(write_entry_map(w, cycles, "cycles"));
  QM_TRY(write_entry_map(w, secondary_entries, "secondary_entries"));
  QM_TRY(write_count(w, paired_entries.size(), "paired_entries"));
  for (const std::uint32_t key : sorted_keys(paired_entries)) {
    w.write_u32(key);
    QM_TRY(write_entry_map(w, paired_entries.at(key), "paired_entries"));
  }
  return out;
}

}  // namespace quillmarsh::dat
