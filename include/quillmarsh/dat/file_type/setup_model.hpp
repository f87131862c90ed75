// Setup models: composite models made of parts, with placements, hooks, locations, spheres and lights.
#pragma once

#include <cstdint>
#include <optional>
#include <unordered_map>
#include <vector>

#include "quillmarsh/common/binary.hpp"
#include "quillmarsh/common/math.hpp"
#include "quillmarsh/dat/graphics.hpp"

namespace quillmarsh::dat {

// A hook: type 0..26, a value, and the type's payload plus alignment padding as raw bytes.
struct AnimationHook {
  std::uint32_t hook_type = 0;
  std::uint32_t hook_value = 0;
  Bytes data;

  // Reads one hook; padding aligns the hook's length, counted from its first byte, to 4.
  static BinResult<AnimationHook> read(ByteReader& reader);
  friend bool operator==(const AnimationHook&, const AnimationHook&) = default;
};

struct LocationType {
  std::uint32_t part_id = 0;
  Frame frame;
  static BinResult<LocationType> read(ByteReader& reader);
  friend bool operator==(const LocationType&, const LocationType&) = default;
};

struct CylSphere {
  Vector3 origin;
  float radius = 0.0F;
  float height = 0.0F;
  static BinResult<CylSphere> read(ByteReader& reader);
  friend bool operator==(const CylSphere&, const CylSphere&) = default;
};

struct LightInfo {
  Frame viewer_space_location;
  std::uint32_t color = 0;
  float intensity = 0.0F;
  float falloff = 0.0F;
  float cone_angle = 0.0F;
  static BinResult<LightInfo> read(ByteReader& reader);
  friend bool operator==(const LightInfo&, const LightInfo&) = default;
};

struct PlacementType {
  std::vector<Frame> frames;  // one per part of the owning setup
  std::vector<AnimationHook> hooks;
  static BinResult<PlacementType> read(ByteReader& reader, std::uint32_t part_count);
  friend bool operator==(const PlacementType&, const PlacementType&) = default;
};

struct SetupModel {
  std::uint32_t id = 0;
  std::uint32_t flags = 0;
  std::vector<std::uint32_t> parts;
  std::vector<std::uint32_t> part_values;
  std::vector<Vector3> part_vectors;
  std::unordered_map<std::uint32_t, LocationType> locations_1;
  std::unordered_map<std::uint32_t, LocationType> locations_2;
  std::unordered_map<std::uint32_t, PlacementType> placements;
  std::vector<CylSphere> cyl_spheres;
  std::vector<Sphere> spheres;
  std::uint32_t scalar_1 = 0;
  std::uint32_t scalar_2 = 0;
  std::uint32_t scalar_3 = 0;
  std::uint32_t scalar_4 = 0;
  Sphere sphere_1;
  Sphere sphere_2;
  std::unordered_map<std::uint32_t, LightInfo> lights;
  std::optional<std::uint32_t> default_id_1;
  std::optional<std::uint32_t> default_id_2;
  std::optional<std::uint32_t> default_motion_table;
  std::optional<std::uint32_t> default_id_4;
  std::optional<std::uint32_t> default_id_5;

  static BinResult<SetupModel> unpack(ByteReader& reader);
};

}  // namespace quillmarsh::dat
