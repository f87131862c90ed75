#include "quillmarsh/dat/file_type/setup_model.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "test_support.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::Le;
using ::testing::ElementsAre;

// Everything after the placements of a setup with no entries: counts of cylinder spheres and
// spheres, four scalars, two spheres, the light count and the five trailing ids.
Le& empty_tail(Le& le) { return le.u32(0).u32(0).zeros(16 + 32).u32(0).zeros(20); }

// A frame whose origin x is `x` and whose orientation is the identity.
Le& frame(Le& le, float x) { return le.f32(x).f32(0).f32(0).f32(1).f32(0).f32(0).f32(0); }

BinResult<SetupModel> unpack(const Bytes& bytes) {
  ByteReader reader(bytes);
  return SetupModel::unpack(reader);
}

bool is_bare_eof(const BinError& error) {
  return error.get_if<BinError::Io>() != nullptr && error.io_error()->message == "failed to fill whole buffer";
}

TEST(SetupModel, SmallestRecordDecodesToEmptySetup) {
  Le le;
  le.u32(0x02000001).zeros(100);
  ASSERT_EQ(le.size(), 104U);
  ByteReader reader(le.bytes());
  auto setup = SetupModel::unpack(reader);
  ASSERT_TRUE(setup) << setup.error().to_string();
  EXPECT_EQ(reader.position(), 104U);
  EXPECT_EQ(setup->id, 0x02000001U);
  EXPECT_EQ(setup->flags, 0U);
  EXPECT_TRUE(setup->parts.empty());
  EXPECT_TRUE(setup->part_values.empty());
  EXPECT_TRUE(setup->part_vectors.empty());
  EXPECT_TRUE(setup->locations_1.empty());
  EXPECT_TRUE(setup->locations_2.empty());
  EXPECT_TRUE(setup->placements.empty());
  EXPECT_TRUE(setup->cyl_spheres.empty());
  EXPECT_TRUE(setup->spheres.empty());
  EXPECT_TRUE(setup->lights.empty());
  EXPECT_EQ(setup->scalar_1, 0U);
  EXPECT_EQ(setup->scalar_4, 0U);
  EXPECT_EQ(setup->sphere_1, Sphere{});
  EXPECT_EQ(setup->sphere_2, Sphere{});
  EXPECT_FALSE(setup->default_id_1);
  EXPECT_FALSE(setup->default_id_2);
  EXPECT_FALSE(setup->default_motion_table);
  EXPECT_FALSE(setup->default_id_4);
  EXPECT_FALSE(setup->default_id_5);

  // One byte short: the setup's own reads add no context.
  Bytes short_bytes(le.bytes().begin(), le.bytes().end() - 1);
  auto failed = unpack(short_bytes);
  ASSERT_FALSE(failed);
  EXPECT_TRUE(is_bare_eof(failed.error()));
  EXPECT_TRUE(failed.error().context_messages().empty());
}

TEST(SetupModel, FlagsGatePartValuesAndVectors) {
  struct Case {
    std::uint32_t flags;
    bool values;
    bool vectors;
  };
  for (const Case c :
       {Case{0x3, true, true}, Case{0x2, false, true}, Case{0x1, true, false}, Case{0x4, false, false}}) {
    SCOPED_TRACE(c.flags);
    Le le;
    le.u32(0x02000002).u32(c.flags).u32(2).u32(0x01000010).u32(0x01000011);
    if (c.values) le.u32(7).u32(8);
    if (c.vectors) le.f32(1).f32(2).f32(3).f32(4).f32(5).f32(6);
    le.u32(0).u32(0).u32(0);  // locations_1, locations_2, placements
    empty_tail(le);
    auto setup = unpack(le.bytes());
    ASSERT_TRUE(setup) << setup.error().to_string();
    EXPECT_THAT(setup->parts, ElementsAre(0x01000010U, 0x01000011U));
    if (c.values) {
      EXPECT_THAT(setup->part_values, ElementsAre(7U, 8U));
    } else {
      EXPECT_TRUE(setup->part_values.empty());
    }
    if (c.vectors) {
      EXPECT_THAT(setup->part_vectors, ElementsAre(Vector3{1, 2, 3}, Vector3{4, 5, 6}));
    } else {
      EXPECT_TRUE(setup->part_vectors.empty());
    }
  }
}

TEST(SetupModel, TrailingIdsAreOptionalWithZeroAbsent) {
  Le le;
  le.u32(0x02000003).zeros(80).u32(0x11).u32(0).u32(0x09000023).u32(0).u32(0x55);
  auto setup = unpack(le.bytes());
  ASSERT_TRUE(setup) << setup.error().to_string();
  EXPECT_EQ(setup->default_id_1, 0x11U);
  EXPECT_FALSE(setup->default_id_2);
  EXPECT_EQ(setup->default_motion_table, 0x09000023U);
  EXPECT_FALSE(setup->default_id_4);
  EXPECT_EQ(setup->default_id_5, 0x55U);
}

TEST(SetupModel, NegativePlacementCountIsRejected) {
  Le le;
  le.u32(0x02000001).u32(0).u32(0).u32(0).u32(0).i32(-1);
  empty_tail(le);
  auto setup = unpack(le.bytes());
  ASSERT_FALSE(setup);
  const auto* custom = setup.error().get_if<BinError::Custom>();
  ASSERT_NE(custom, nullptr) << setup.error().debug_string();
  EXPECT_EQ(custom->message, "SetupModel 0x02000001 declared negative placement count -1");
  EXPECT_EQ(custom->position, 24U);  // just after the count
}

TEST(SetupModel, PlacementsReadOneFramePerPartThenHooks) {
  // N = 3: each placement starts with 3 frames; one hook of type 1 (4 bytes of payload).
  Le le;
  le.u32(0x02000004).u32(0).u32(3).u32(0x01000001).u32(0x01000002).u32(0x01000003);
  le.u32(0).u32(0).u32(2);  // locations, placements = 2
  le.u32(0x10);
  frame(le, 1.0F);
  frame(le, 2.0F);
  frame(le, 3.0F);
  le.u32(1).u32(1).u32(0xAB).u32(0xDEADBEEF);
  le.u32(0x10);  // the same key again replaces the first placement
  frame(le, 4.0F);
  frame(le, 5.0F);
  frame(le, 6.0F);
  le.u32(0);
  empty_tail(le);
  auto setup = unpack(le.bytes());
  ASSERT_TRUE(setup) << setup.error().to_string();
  ASSERT_EQ(setup->placements.size(), 1U);
  const PlacementType& placement = setup->placements.at(0x10);
  ASSERT_EQ(placement.frames.size(), 3U);
  EXPECT_EQ(placement.frames[2].origin.x, 6.0F);
  EXPECT_EQ(placement.frames[0].orientation, Quaternion{});
  EXPECT_TRUE(placement.hooks.empty());

  // With N = 0 a placement starts directly with its hook count.
  Le zero;
  zero.u32(0x02000005).u32(0).u32(0).u32(0).u32(0).u32(1).u32(7).u32(1).u32(1).u32(0xAB).u32(0xDEADBEEF);
  empty_tail(zero);
  auto setup0 = unpack(zero.bytes());
  ASSERT_TRUE(setup0) << setup0.error().to_string();
  const PlacementType& p0 = setup0->placements.at(7);
  EXPECT_TRUE(p0.frames.empty());
  ASSERT_EQ(p0.hooks.size(), 1U);
  EXPECT_EQ(p0.hooks[0].hook_type, 1U);
  EXPECT_EQ(p0.hooks[0].hook_value, 0xABU);
  EXPECT_THAT(p0.hooks[0].data, ElementsAre(0xEF, 0xBE, 0xAD, 0xDE));
}

TEST(AnimationHook, LengthAndDataByType) {
  struct Case {
    std::uint32_t type;
    Bytes payload;  // payload and padding as stored
    std::size_t occupied;
  };
  const std::vector<Case> cases = {
      {0, {}, 8},
      {17, {}, 8},
      {1, Bytes(4, 0x11), 12},
      {12, Bytes(8, 0x22), 16},
      {8, Bytes(12, 0x33), 20},
      {21, Bytes(16, 0x44), 24},
      {3, Bytes(28, 0x55), 36},
      {13, Bytes(40, 0x66), 48},
      {26, Bytes(40, 0x77), 48},
      // Type 5: a byte and 0x1234, one byte of padding.
      {5, {0x09, 0x34, 0x12, 0xEE}, 12},
      // Type 5 with bit 15 set: a byte, 0x8001, a second value, three bytes of padding.
      {5, {0x09, 0x01, 0x80, 0x78, 0x56, 0xEE, 0xEE, 0xEE}, 16},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "type " << c.type << " size " << c.payload.size());
    Le le;
    le.u32(c.type).u32(0x42).append(c.payload).u32(0xCAFEF00D);  // a following value stays unread
    ByteReader reader(le.bytes());
    auto hook = AnimationHook::read(reader);
    ASSERT_TRUE(hook) << hook.error().to_string();
    EXPECT_EQ(reader.position(), c.occupied);
    EXPECT_EQ(hook->hook_type, c.type);
    EXPECT_EQ(hook->hook_value, 0x42U);
    EXPECT_EQ(hook->data, c.payload);
  }
}

TEST(AnimationHook, PaddingCountsFromTheHooksFirstByte) {
  // A type-5 hook starting at offset 1 still occupies 12 bytes.
  Le le;
  le.u8(0xFF).u32(5).u32(0).u8(1).u16(0x1234).u8(0);
  ByteReader reader(le.bytes());
  reader.set_position(1);
  auto hook = AnimationHook::read(reader);
  ASSERT_TRUE(hook) << hook.error().to_string();
  EXPECT_EQ(reader.position(), 13U);
  EXPECT_EQ(hook->data.size(), 4U);
}

TEST(AnimationHook, Failures) {
  {
    Le le;
    le.u32(27).u32(0).zeros(40);
    ByteReader reader(le.bytes());
    auto hook = AnimationHook::read(reader);
    ASSERT_FALSE(hook);
    const auto* custom = hook.error().get_if<BinError::Custom>();
    ASSERT_NE(custom, nullptr) << hook.error().debug_string();
    EXPECT_EQ(custom->message, "Unsupported AnimationHook type: 0x0000001B");
    EXPECT_EQ(custom->position, 8U);
  }
  // Short header, short payload, missing second value, missing padding: each the bare end of input.
  for (const Bytes& bytes : {Le().u32(1).take(), Le().u32(1).u32(0).u16(0).take(),
                             Le().u32(5).u32(0).u8(0).u16(0x8000).take(), Le().u32(5).u32(0).u8(0).u16(1).take()}) {
    SCOPED_TRACE(bytes.size());
    ByteReader reader(bytes);
    auto hook = AnimationHook::read(reader);
    ASSERT_FALSE(hook);
    EXPECT_TRUE(is_bare_eof(hook.error())) << hook.error().debug_string();
  }
}

TEST(SetupModel, LaterLightWithTheSameKeyWins) {
  Le le;
  le.u32(0x02000006).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).u32(0).zeros(48).u32(2);
  le.u32(5);
  frame(le, 1.0F).u32(0x111).f32(1).f32(2).f32(3);
  le.u32(5);
  frame(le, 2.0F).u32(0x222).f32(4).f32(5).f32(6);
  le.zeros(20);
  auto setup = unpack(le.bytes());
  ASSERT_TRUE(setup) << setup.error().to_string();
  ASSERT_EQ(setup->lights.size(), 1U);
  const LightInfo& light = setup->lights.at(5);
  EXPECT_EQ(light.color, 0x222U);
  EXPECT_EQ(light.viewer_space_location.origin.x, 2.0F);
  EXPECT_EQ(light.cone_angle, 6.0F);
}

TEST(SetupModel, NestedRecordFailuresCarryTheirFieldContexts) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::vector<std::string> contexts;
  };
  Le light;
  light.u32(0x02000007).zeros(28).zeros(48).u32(1).u32(9);
  frame(light, 0).u32(0).f32(0).f32(0);  // cone_angle missing
  Le location;
  location.u32(0x02000007).u32(0).u32(0).u32(1).u32(3).u32(0).f32(0).f32(0);  // frame cut in origin.z
  Le cyl;
  cyl.u32(0x02000007).zeros(20).u32(1).f32(0).f32(0).f32(0).f32(0);  // height missing
  Le sphere;
  sphere.u32(0x02000007).zeros(20 + 8 + 16).f32(0);  // sphere_1 cut in center.y
  const std::vector<Case> cases = {
      {"light", light.take(), {"While parsing field 'cone_angle' in LightInfo"}},
      {"location",
       location.take(),
       {"While parsing field 'z' in Vector3", "While parsing field 'origin' in Frame",
        "While parsing field 'frame' in LocationType"}},
      {"cyl", cyl.take(), {"While parsing field 'height' in CylSphere"}},
      {"sphere", sphere.take(), {"While parsing field 'y' in Vector3", "While parsing field 'center' in Sphere"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto setup = unpack(c.bytes);
    ASSERT_FALSE(setup);
    EXPECT_EQ(setup.error().context_messages(), c.contexts);
    EXPECT_EQ(setup.error().io_error()->message, "failed to fill whole buffer");
  }
}

TEST(SetupModel, HugeDeclaredCountsFailAtEndOfInput) {
  // id, flags, part count 0xFFFFFFFF and nothing behind it.
  const Bytes parts = Le().u32(0x02000001).u32(0x3).u32(0xFFFFFFFF).take();
  auto setup = unpack(parts);
  ASSERT_FALSE(setup);
  EXPECT_TRUE(is_bare_eof(setup.error()));

  // A placement whose hook count is 0xFFFFFFFF, and huge list counts.
  const Bytes hooks = Le().u32(0x02000001).u32(0).u32(0).u32(0).u32(0).u32(1).u32(0).u32(0xFFFFFFFF).take();
  const Bytes spheres = Le().u32(0x02000001).zeros(16).u32(0).u32(0xFFFFFFFF).take();
  for (const Bytes& bytes : {hooks, spheres}) {
    auto failed = unpack(bytes);
    ASSERT_FALSE(failed);
    EXPECT_EQ(failed.error().io_error()->message, "failed to fill whole buffer");
  }
}

}  // namespace
}  // namespace quillmarsh::dat
