#include "quillmarsh/dat/file_type/setup_model.hpp"

#include <fmt/format.h>

#include "../reserve_bounded.hpp"

namespace quillmarsh::dat {

namespace {

constexpr std::uint32_t MAX_HOOK_TYPE = 26;

// Fixed payload size of each hook type below 27; type 5 is variable and handled apart.
constexpr std::size_t fixed_hook_payload(std::uint32_t hook_type) {
  switch (hook_type) {
    case 1:
    case 2:
    case 6:
    case 14:
    case 15:
    case 16:
    case 18:
    case 25:
      return 4;
    case 12:
    case 19:
    case 23:
      return 8;
    case 8:
    case 10:
    case 20:
    case 22:
    case 24:
      return 12;
    case 7:
    case 9:
    case 11:
    case 21:
      return 16;
    case 3:
      return 28;
    case 13:
    case 26:
      return 40;
    default:  // 0, 4, 17
      return 0;
  }
}

BinResult<void> append_bytes(ByteReader& reader, std::size_t n, Bytes& out) {
  QM_TRY_ASSIGN(const ByteView view, reader.read_bytes(n));
  out.insert(out.end(), view.begin(), view.end());
  return {};
}

// Reads `count` (key, record) pairs into a map; a repeated key keeps the later record.
template <class T>
BinResult<void> read_keyed_map(ByteReader& reader, std::uint32_t count, std::unordered_map<std::uint32_t, T>& out) {
  for (std::uint32_t i = 0; i < count; ++i) {
    QM_TRY_ASSIGN(const std::uint32_t key, reader.read_u32());
    QM_TRY_ASSIGN(T value, T::read(reader));
    out.insert_or_assign(key, std::move(value));
  }
  return {};
}

BinResult<std::optional<std::uint32_t>> read_optional_id(ByteReader& reader) {
  QM_TRY_ASSIGN(const std::uint32_t id, reader.read_u32());
  return id == 0 ? std::nullopt : std::optional<std::uint32_t>(id);
}

}  // namespace

BinResult<AnimationHook> AnimationHook::read(ByteReader& reader) {
  const std::size_t start = reader.position();
  AnimationHook hook;
  QM_TRY_ASSIGN(hook.hook_type, reader.read_u32());
  QM_TRY_ASSIGN(hook.hook_value, reader.read_u32());
  if (hook.hook_type > MAX_HOOK_TYPE) {
    return bin_fail(
        BinError::Custom{reader.position(), fmt::format("Unsupported AnimationHook type: 0x{:08X}", hook.hook_type)});
  }
  if (hook.hook_type == 5) {
    // One byte, a 16-bit value, and a second 16-bit value when bit 15 of the first is set.
    QM_TRY(append_bytes(reader, 1, hook.data));
    QM_TRY_ASSIGN(const std::uint16_t first, reader.read_u16());
    hook.data.push_back(static_cast<std::uint8_t>(first & 0xFF));
    hook.data.push_back(static_cast<std::uint8_t>(first >> 8));
    if ((first & 0x8000) != 0) QM_TRY(append_bytes(reader, 2, hook.data));
  } else {
    QM_TRY(append_bytes(reader, fixed_hook_payload(hook.hook_type), hook.data));
  }
  // Pad the hook, counted from its first byte, to a multiple of 4.
  const std::size_t padding = (4 - (reader.position() - start) % 4) % 4;
  QM_TRY(append_bytes(reader, padding, hook.data));
  return hook;
}

BinResult<LocationType> LocationType::read(ByteReader& reader) {
  RecordReader rec(reader, "LocationType");
  LocationType loc;
  QM_TRY_ASSIGN(loc.part_id, rec.u32("part_id"));
  QM_TRY_ASSIGN(loc.frame, rec.record<Frame>("frame"));
  return loc;
}

BinResult<CylSphere> CylSphere::read(ByteReader& reader) {
  RecordReader rec(reader, "CylSphere");
  CylSphere cyl;
  QM_TRY_ASSIGN(cyl.origin, rec.record<Vector3>("origin"));
  QM_TRY_ASSIGN(cyl.radius, rec.f32("radius"));
  QM_TRY_ASSIGN(cyl.height, rec.f32("height"));
  return cyl;
}

BinResult<LightInfo> LightInfo::read(ByteReader& reader) {
  RecordReader rec(reader, "LightInfo");
  LightInfo light;
  QM_TRY_ASSIGN(light.viewer_space_location, rec.record<Frame>("viewer_space_location"));
  QM_TRY_ASSIGN(light.color, rec.u32("color"));
  QM_TRY_ASSIGN(light.intensity, rec.f32("intensity"));
  QM_TRY_ASSIGN(light.falloff, rec.f32("falloff"));
  QM_TRY_ASSIGN(light.cone_angle, rec.f32("cone_angle"));
  return light;
}

BinResult<PlacementType> PlacementType::read(ByteReader& reader, std::uint32_t part_count) {
  constexpr std::size_t FRAME_SIZE = 28;
  constexpr std::size_t MIN_HOOK_SIZE = 8;
  PlacementType placement;
  detail::reserve_bounded(placement.frames, part_count, reader, FRAME_SIZE);
  for (std::uint32_t i = 0; i < part_count; ++i) {
    QM_TRY_ASSIGN(Frame frame, Frame::read(reader));
    placement.frames.push_back(frame);
  }
  QM_TRY_ASSIGN(const std::uint32_t hook_count, reader.read_u32());
  detail::reserve_bounded(placement.hooks, hook_count, reader, MIN_HOOK_SIZE);
  for (std::uint32_t i = 0; i < hook_count; ++i) {
    QM_TRY_ASSIGN(AnimationHook hook, AnimationHook::read(reader));
    placement.hooks.push_back(std::move(hook));
  }
  return placement;
}

BinResult<SetupModel> SetupModel::unpack(ByteReader& reader) {
  SetupModel setup;
  QM_TRY_ASSIGN(setup.id, reader.read_u32());
  QM_TRY_ASSIGN(setup.flags, reader.read_u32());
  QM_TRY_ASSIGN(const std::uint32_t part_count, reader.read_u32());

  detail::reserve_bounded(setup.parts, part_count, reader, 4);
  for (std::uint32_t i = 0; i < part_count; ++i) {
    QM_TRY_ASSIGN(const std::uint32_t part, reader.read_u32());
    setup.parts.push_back(part);
  }
  if ((setup.flags & 0x1) != 0) {
    detail::reserve_bounded(setup.part_values, part_count, reader, 4);
    for (std::uint32_t i = 0; i < part_count; ++i) {
      QM_TRY_ASSIGN(const std::uint32_t value, reader.read_u32());
      setup.part_values.push_back(value);
    }
  }
  if ((setup.flags & 0x2) != 0) {
    detail::reserve_bounded(setup.part_vectors, part_count, reader, 12);
    for (std::uint32_t i = 0; i < part_count; ++i) {
      QM_TRY_ASSIGN(const Vector3 vector, Vector3::read(reader));
      setup.part_vectors.push_back(vector);
    }
  }

  QM_TRY_ASSIGN(const std::uint32_t location_count_1, reader.read_u32());
  QM_TRY(read_keyed_map(reader, location_count_1, setup.locations_1));
  QM_TRY_ASSIGN(const std::uint32_t location_count_2, reader.read_u32());
  QM_TRY(read_keyed_map(reader, location_count_2, setup.locations_2));

  QM_TRY_ASSIGN(const std::int32_t placement_count, reader.read_i32());
  if (placement_count < 0) {
    return bin_fail(BinError::Custom{
        reader.position(),
        fmt::format("SetupModel 0x{:08X} declared negative placement count {}", setup.id, placement_count)});
  }
  for (std::int32_t i = 0; i < placement_count; ++i) {
    QM_TRY_ASSIGN(const std::uint32_t key, reader.read_u32());
    QM_TRY_ASSIGN(PlacementType placement, PlacementType::read(reader, part_count));
    setup.placements.insert_or_assign(key, std::move(placement));
  }

  QM_TRY_ASSIGN(const std::uint32_t cyl_sphere_count, reader.read_u32());
  detail::reserve_bounded(setup.cyl_spheres, cyl_sphere_count, reader, 20);
  for (std::uint32_t i = 0; i < cyl_sphere_count; ++i) {
    QM_TRY_ASSIGN(const CylSphere cyl, CylSphere::read(reader));
    setup.cyl_spheres.push_back(cyl);
  }
  QM_TRY_ASSIGN(const std::uint32_t sphere_count, reader.read_u32());
  detail::reserve_bounded(setup.spheres, sphere_count, reader, 16);
  for (std::uint32_t i = 0; i < sphere_count; ++i) {
    QM_TRY_ASSIGN(const Sphere sphere, Sphere::read(reader));
    setup.spheres.push_back(sphere);
  }

  QM_TRY_ASSIGN(setup.scalar_1, reader.read_u32());
  QM_TRY_ASSIGN(setup.scalar_2, reader.read_u32());
  QM_TRY_ASSIGN(setup.scalar_3, reader.read_u32());
  QM_TRY_ASSIGN(setup.scalar_4, reader.read_u32());
  QM_TRY_ASSIGN(setup.sphere_1, Sphere::read(reader));
  QM_TRY_ASSIGN(setup.sphere_2, Sphere::read(reader));

  QM_TRY_ASSIGN(const std::uint32_t light_count, reader.read_u32());
  QM_TRY(read_keyed_map(reader, light_count, setup.lights));

  QM_TRY_ASSIGN(setup.default_id_1, read_optional_id(reader));
  QM_TRY_ASSIGN(setup.default_id_2, read_optional_id(reader));
  QM_TRY_ASSIGN(setup.default_motion_table, read_optional_id(reader));
  QM_TRY_ASSIGN(setup.default_id_4, read_optional_id(reader));
  QM_TRY_ASSIGN(setup.default_id_5, read_optional_id(reader));
  return setup;
}

}  // namespace quillmarsh::dat
