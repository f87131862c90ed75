#include "quillmarsh/dat/file_type/motion_kinematics.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <vector>

namespace quillmarsh::dat {

namespace {

constexpr std::uint8_t FLAG_VELOCITY = 0x01;
constexpr std::uint8_t FLAG_OMEGA = 0x02;
constexpr std::size_t SETUP_DEFAULT_SIZE = 8;
constexpr std::size_t TABLE_BLOCK_MIN_SIZE = 12;
constexpr std::size_t CYCLE_BLOCK_MIN_SIZE = 5;

// A key just taken from a map was not found in it again: the program itself is broken.
[[noreturn]] void invariant_failed(const char* message) {
  std::fputs(message, stderr);
  std::fputc('\n', stderr);
  std::abort();
}

template <class Map>
std::vector<std::uint32_t> sorted_keys(const Map& map) {
  std::vector<std::uint32_t> keys;
  keys.reserve(map.size());
  for (const auto& [key, value] : map) keys.push_back(key);
  std::sort(keys.begin(), keys.end());
  return keys;
}

template <class Map>
void reserve_map_bounded(Map& map, std::uint32_t declared_count, const ByteReader& reader, std::size_t min_size) {
  map.reserve(std::min<std::size_t>(declared_count, reader.remaining() / min_size));
}

// Counts are 32 bits; a larger map cannot be encoded.
BinResult<void> write_count(ByteWriter& w, std::size_t count, const char* what) {
  if (count > std::numeric_limits<std::uint32_t>::max()) {
    return bin_fail(
        BinError::Assert{w.position(), fmt::format("{} has {} entries; at most 2^32 - 1 fit", what, count)});
  }
  w.write_u32(static_cast<std::uint32_t>(count));
  return {};
}

BinResult<void> write_table(ByteWriter& w, const MotionKinematicsTable& table) {
  w.write_u32(table.motion_table_id);
  w.write_u32(table.default_style);
  QM_TRY(write_count(w, table.cycles.size(), "motion kinematics table cycles"));
  for (const std::uint32_t key : sorted_keys(table.cycles)) {
    w.write_u32(key);
    const auto it = table.cycles.find(key);
    if (it == table.cycles.end()) invariant_failed("sorted cycle key should exist");
    const MotionCommandKinematics& cycle = it->second;
    std::uint8_t flags = 0;
    if (cycle.velocity) flags |= FLAG_VELOCITY;
    if (cycle.omega) flags |= FLAG_OMEGA;
    w.write_u8(flags);
    if (cycle.velocity) cycle.velocity->write(w);
    if (cycle.omega) cycle.omega->write(w);
  }
  return {};
}

BinResult<MotionKinematicsTable> read_table(ByteReader& r) {
  QM_TRY_ASSIGN(const std::uint32_t motion_table_id, r.read_u32());
  QM_TRY_ASSIGN(const std::uint32_t default_style, r.read_u32());
  QM_TRY_ASSIGN(const std::uint32_t cycle_count, r.read_u32());
  MotionKinematicsTable table(motion_table_id, default_style);
  reserve_map_bounded(table.cycles, cycle_count, r, CYCLE_BLOCK_MIN_SIZE);
  for (std::uint32_t i = 0; i < cycle_count; ++i) {
    QM_TRY_ASSIGN(const std::uint32_t key, r.read_u32());
    QM_TRY_ASSIGN(const std::uint8_t flags, r.read_u8());
    MotionCommandKinematics cycle;
    // Flag bits other than 0x01 and 0x02 carry nothing.
    if ((flags & FLAG_VELOCITY) != 0) {
      QM_TRY_ASSIGN(cycle.velocity, Vector3::read(r));
    }
    if ((flags & FLAG_OMEGA) != 0) {
      QM_TRY_ASSIGN(cycle.omega, Vector3::read(r));
    }
    table.cycles.insert_or_assign(key, cycle);
  }
  return table;
}

}  // namespace

const MotionCommandKinematics* MotionKinematics::cycle_kinematics(std::uint32_t motion_table_id, std::uint32_t style,
                                                                  std::uint32_t command) const {
  const auto table = tables.find(motion_table_id);
  if (table == tables.end()) return nullptr;
  const auto cycle = table->second.cycles.find(cycle_key(style, command));
  return cycle == table->second.cycles.end() ? nullptr : &cycle->second;
}

std::optional<std::uint32_t> MotionKinematics::default_motion_table_for_setup(std::uint32_t setup_id) const {
  const auto it = setup_defaults.find(setup_id);
  if (it == setup_defaults.end()) return std::nullopt;
  return it->second;
}

std::optional<std::uint32_t> MotionKinematics::default_style_for_motion_table(std::uint32_t motion_table_id) const {
  const auto it = tables.find(motion_table_id);
  if (it == tables.end()) return std::nullopt;
  return it->second.default_style;
}

BinResult<void> MotionKinematics::write(ByteWriter& writer) const {
  writer.write_u32(magic);
  writer.write_u32(version);
  QM_TRY(write_count(writer, setup_defaults.size(), "motion kinematics setup defaults"));
  for (const std::uint32_t setup_id : sorted_keys(setup_defaults)) {
    const auto it = setup_defaults.find(setup_id);
    if (it == setup_defaults.end()) invariant_failed("sorted setup default key should exist");
    writer.write_u32(setup_id);
    writer.write_u32(it->second);
  }
  QM_TRY(write_count(writer, tables.size(), "motion kinematics tables"));
  for (const std::uint32_t table_key : sorted_keys(tables)) {
    const auto it = tables.find(table_key);
    if (it == tables.end()) invariant_failed("sorted table ids should exist");
    // The block carries the table's own id, not the map key.
    QM_TRY(write_table(writer, it->second));
  }
  return {};
}

BinResult<MotionKinematics> MotionKinematics::read(ByteReader& reader) {
  MotionKinematics asset;
  QM_TRY_ASSIGN(asset.magic, reader.read_u32());
  QM_TRY_ASSIGN(asset.version, reader.read_u32());
  QM_TRY_ASSIGN(const std::uint32_t setup_count, reader.read_u32());
  reserve_map_bounded(asset.setup_defaults, setup_count, reader, SETUP_DEFAULT_SIZE);
  for (std::uint32_t i = 0; i < setup_count; ++i) {
    QM_TRY_ASSIGN(const std::uint32_t setup_id, reader.read_u32());
    QM_TRY_ASSIGN(const std::uint32_t motion_table_id, reader.read_u32());
    asset.setup_defaults.insert_or_assign(setup_id, motion_table_id);
  }
  QM_TRY_ASSIGN(const std::uint32_t table_count, reader.read_u32());
  reserve_map_bounded(asset.tables, table_count, reader, TABLE_BLOCK_MIN_SIZE);
  for (std::uint32_t i = 0; i < table_count; ++i) {
    QM_TRY_ASSIGN(MotionKinematicsTable table, read_table(reader));
    const std::uint32_t id = table.motion_table_id;
    asset.tables.insert_or_assign(id, std::move(table));
  }
  return asset;
}

}  // namespace quillmarsh::dat
