#include "quillmarsh/dat/walk.hpp"

#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "test_support.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::Le;
using ::testing::ElementsAre;
using ::testing::UnorderedElementsAreArray;

// Portal files in memory; counts every fetch per id.
class CountingSource final : public ResourceSource {
 public:
  DatResult<Bytes> get_file_by_key(const ResourceKey& key) const override {
    EXPECT_EQ(key.namespace_, EOR_PORTAL_NAMESPACE);
    ++fetches[key.file_id];
    auto it = files.find(key.file_id);
    if (it == files.end()) return dat_fail(DatError::NotFound{key.file_id});
    return it->second;
  }
  std::map<std::uint32_t, Bytes> files;
  mutable std::map<std::uint32_t, int> fetches;
};

Bytes gfx_obj(const std::vector<std::uint32_t>& surfaces) {
  Le le;
  le.zeros(8).u8(static_cast<std::uint8_t>(surfaces.size()));
  for (const std::uint32_t s : surfaces) le.u32(s);
  return le.take();
}
Bytes textured_surface(std::uint32_t surface_texture, std::uint32_t palette) {
  return Le().u32(0x2).u32(surface_texture).u32(palette).zeros(12).take();
}
Bytes coloured_surface() { return Le().u32(0x1).u32(0xFF0000FF).zeros(12).take(); }
Bytes surface_texture(const std::vector<std::uint32_t>& textures) {
  Le le;
  le.u32(0x05000000).u32(0).u8(0).i32(static_cast<std::int32_t>(textures.size()));
  for (const std::uint32_t t : textures) le.u32(t);
  return le.take();
}
Bytes texture(std::uint32_t format, std::uint32_t palette) {
  Le le;
  le.u32(0x06000000).u32(0).u32(1).u32(1).u32(format).i32(0);
  if (format == 0x65) le.u32(palette);
  return le.take();
}
Bytes setup(std::uint32_t id, const std::vector<std::uint32_t>& parts) {
  Le le;
  le.u32(id).u32(0).u32(static_cast<std::uint32_t>(parts.size()));
  for (const std::uint32_t p : parts) le.u32(p);
  return le.zeros(20 + 48 + 4 + 20).take();
}

std::vector<ResourceId> portal(const std::vector<std::uint32_t>& ids) {
  std::vector<ResourceId> out;
  for (const std::uint32_t id : ids) out.push_back(ResourceId{std::string(EOR_PORTAL_NAMESPACE), id});
  return out;
}

TEST(ReadGfxObjSurfaces, PackedCounts) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::optional<std::vector<std::uint32_t>> surfaces;
  };
  const std::vector<Case> cases = {
      {"8 bytes", Bytes(8, 0), std::nullopt},
      {"zero count", Bytes(9, 0), std::vector<std::uint32_t>{}},
      {"one-byte count", gfx_obj({0x08000001, 0x08000002}), std::vector<std::uint32_t>{0x08000001, 0x08000002}},
      {"two-byte count cut", Le().zeros(8).u8(0x80).take(), std::nullopt},
      {"two-byte count", Le().zeros(8).u8(0x80).u8(0x01).u32(0x08000009).u32(0xEE).take(),
       std::vector<std::uint32_t>{0x08000009}},
      {"four-byte count cut", Le().zeros(8).u8(0xC0).u8(0).u8(0).take(), std::nullopt},
      {"four-byte count", Le().zeros(8).u8(0xC0).u8(0x00).u16(0x0002).u32(7).u32(8).take(),
       std::vector<std::uint32_t>{7, 8}},
      {"count beyond data", Le().zeros(8).u8(3).u32(1).u32(2).take(), std::nullopt},
      {"largest count", Le().zeros(8).u8(0xFF).u8(0xFF).u16(0xFFFF).u32(1).take(), std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(read_gfx_obj_surfaces(c.bytes), c.surfaces);
  }
}

TEST(WalkModel, MissingFileAndDepthLimit) {
  CountingSource source;
  KeepSet visited;
  walk_model(source, 0x01000001, visited, 0);
  EXPECT_THAT(visited, UnorderedElementsAreArray(portal({0x01000001})));

  KeepSet untouched;
  walk_model(source, 0x01000002, untouched, MAX_WALK_DEPTH + 1);
  EXPECT_TRUE(untouched.empty());
  EXPECT_EQ(source.fetches.count(0x01000002), 0U);
}

TEST(WalkModel, GraphicsObjectLeadsThroughSurfaceChains) {
  CountingSource source;
  source.files[0x01000001] = gfx_obj({0x08000001, 0x08000002, 0x08000003});
  // Textured with a palette: its surface texture lists two textures; only the second is followed.
  source.files[0x08000001] = textured_surface(0x05000001, 0x04000001);
  source.files[0x05000001] = surface_texture({0x06000001, 0x06000002});
  source.files[0x06000001] = texture(0x65, 0x04000099);
  source.files[0x06000002] = texture(0x65, 0x04000002);
  // Coloured: only its own id.
  source.files[0x08000002] = coloured_surface();
  // Textured without a palette: three textures, the third is followed and has no default palette.
  source.files[0x08000003] = textured_surface(0x05000003, 0);
  source.files[0x05000003] = surface_texture({0x06000031, 0x06000032, 0x06000033});
  source.files[0x06000033] = texture(0x14, 0);

  KeepSet visited;
  walk_model(source, 0x01000001, visited, 0);
  EXPECT_THAT(visited, UnorderedElementsAreArray(portal({0x01000001, 0x08000001, 0x04000001, 0x05000001, 0x06000002,
                                                         0x04000002, 0x08000002, 0x08000003, 0x05000003, 0x06000033})));
  // Palettes are recorded, not fetched; unfollowed textures are not fetched either.
  for (const std::uint32_t id : {0x04000001U, 0x04000002U, 0x06000001U, 0x06000031U, 0x06000032U}) {
    EXPECT_EQ(source.fetches.count(id), 0U) << std::hex << id;
  }
}

TEST(WalkModel, SharedFilesAreFetchedOnceAndPrefilledIdsAreNotFollowed) {
  CountingSource source;
  source.files[0x01000001] = gfx_obj({0x08000001, 0x08000002});
  source.files[0x01000002] = gfx_obj({0x08000002, 0x08000001});
  source.files[0x02000001] = setup(0x02000001, {0x01000001, 0x01000002, 0x01000001});
  source.files[0x08000001] = textured_surface(0x05000001, 0x04000001);
  source.files[0x08000002] = textured_surface(0x05000001, 0);  // shares the surface texture
  source.files[0x05000001] = surface_texture({0x06000001});
  source.files[0x06000001] = texture(0x65, 0x04000002);

  KeepSet visited;
  walk_model(source, 0x02000001, visited, 0);
  walk_model(source, 0x01000002, visited, 0);
  EXPECT_THAT(visited, UnorderedElementsAreArray(portal({0x02000001, 0x01000001, 0x01000002, 0x08000001, 0x08000002,
                                                         0x04000001, 0x05000001, 0x06000001, 0x04000002})));
  for (const auto& [id, count] : source.fetches) EXPECT_EQ(count, 1) << std::hex << id;

  // An id already in the set is treated as visited: nothing behind it is fetched.
  CountingSource second;
  second.files = source.files;
  KeepSet prefilled;
  prefilled.insert(ResourceId{std::string(EOR_PORTAL_NAMESPACE), 0x08000001});
  walk_model(second, 0x01000001, prefilled, 0);
  EXPECT_EQ(second.fetches.count(0x08000001), 0U);
  EXPECT_TRUE(prefilled.contains(ResourceId{std::string(EOR_PORTAL_NAMESPACE), 0x08000002}));
}

TEST(WalkModel, NestedSetupsStopBelowDepthFour) {
  CountingSource source;
  // 0x02000000 -> 0x02000001 -> ... -> 0x02000005 -> graphics object 0x01000001.
  for (std::uint32_t level = 0; level < 5; ++level) {
    source.files[0x02000000 + level] = setup(0x02000000 + level, {0x02000000 + level + 1});
  }
  source.files[0x02000005] = setup(0x02000005, {0x01000001});
  source.files[0x01000001] = gfx_obj({});
  KeepSet visited;
  walk_model(source, 0x02000000, visited, 0);
  EXPECT_THAT(visited, UnorderedElementsAreArray(portal({0x02000000, 0x02000001, 0x02000002, 0x02000003, 0x02000004})));
  EXPECT_EQ(source.fetches.count(0x02000005), 0U);
}

TEST(WalkModel, OtherKindsAndUndecodableFilesEndTheirBranch) {
  CountingSource source;
  // Top byte 0x03: recorded and fetched, never interpreted, even if it looks like a graphics object.
  source.files[0x03000001] = gfx_obj({0x08000001});
  // An undecodable setup and an undecodable surface texture.
  source.files[0x02000001] = Le().u32(0x02000001).u32(0).u32(1).u32(0x01000009).take();
  source.files[0x01000001] = gfx_obj({0x08000001, 0x08000002});
  source.files[0x08000001] = textured_surface(0x05000001, 0);
  source.files[0x05000001] = Le().u32(1).u32(0).u8(0).i32(-1).take();
  source.files[0x08000002] = Bytes(5, 0);  // undecodable surface

  KeepSet visited;
  walk_model(source, 0x03000001, visited, 0);
  walk_model(source, 0x02000001, visited, 0);
  walk_model(source, 0x01000001, visited, 0);
  EXPECT_THAT(visited, UnorderedElementsAreArray(
                           portal({0x03000001, 0x02000001, 0x01000001, 0x08000001, 0x05000001, 0x08000002})));
  EXPECT_EQ(source.fetches.at(0x03000001), 1);
  EXPECT_EQ(source.fetches.count(0x01000009), 0U);
}

}  // namespace
}  // namespace quillmarsh::dat
