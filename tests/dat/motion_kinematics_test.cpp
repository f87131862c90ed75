#include "quillmarsh/dat/file_type/motion_kinematics.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace quillmarsh::dat {
namespace {

using testing::Le;

Bytes encode(const MotionKinematics& asset) {
  Bytes out;
  ByteWriter w(out);
  auto ok = asset.write(w);
  EXPECT_TRUE(ok);
  return out;
}

BinResult<MotionKinematics> decode(ByteView bytes) {
  ByteReader r(bytes);
  return MotionKinematics::read(r);
}

const Bytes EMPTY_ASSET = {0x4B, 0x54, 0x4F, 0x4D, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
const Bytes ONE_SETUP_ASSET = {0x4B, 0x54, 0x4F, 0x4D, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                               0x01, 0x00, 0x00, 0x02, 0x01, 0x00, 0x00, 0x09, 0x00, 0x00, 0x00, 0x00};
const Bytes WALK_TURN_ASSET = {0x4B, 0x54, 0x4F, 0x4D, 0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, 0x23, 0x00,
                               0x00, 0x02, 0x23, 0x00, 0x00, 0x09, 0x01, 0x00, 0x00, 0x00, 0x23, 0x00, 0x00, 0x09,
                               0x03, 0x00, 0x00, 0x80, 0x02, 0x00, 0x00, 0x00, 0x07, 0x00, 0x03, 0x00, 0x01, 0x00,
                               0x00, 0x20, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0D, 0x00, 0x03,
                               0x00, 0x02, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xC0, 0x3F};

MotionKinematics walk_turn_asset() {
  MotionKinematics asset;
  asset.setup_defaults.emplace(0x02000023, 0x09000023);
  MotionKinematicsTable table(0x09000023, 0x80000003);
  table.cycles.emplace(0x00030007, MotionCommandKinematics{Vector3{2.5F, 0, 0}, std::nullopt});
  table.cycles.emplace(0x0003000D, MotionCommandKinematics{std::nullopt, Vector3{0, 0, 1.5F}});
  asset.tables.emplace(0x09000023, std::move(table));
  return asset;
}

TEST(MotionKinematicsEncoding, MatchesTheFixedEncodingsByteForByte) {
  EXPECT_EQ(encode(MotionKinematics{}), EMPTY_ASSET);

  MotionKinematics one_setup;
  one_setup.setup_defaults.emplace(0x02000001, 0x09000001);
  EXPECT_EQ(encode(one_setup), ONE_SETUP_ASSET);

  ASSERT_EQ(WALK_TURN_ASSET.size(), 70U);
  EXPECT_EQ(encode(walk_turn_asset()), WALK_TURN_ASSET);
}

TEST(MotionKinematicsEncoding, AppendsAtTheWritersPosition) {
  Bytes out = {0xAA, 0xBB};
  ByteWriter w(out);
  w.set_position(2);
  ASSERT_TRUE(MotionKinematics{}.write(w));
  Bytes expected = {0xAA, 0xBB};
  expected.insert(expected.end(), EMPTY_ASSET.begin(), EMPTY_ASSET.end());
  EXPECT_EQ(out, expected);
}

TEST(MotionKinematicsRead, DecodesTheFixedEncodingsAndAnswersLookups) {
  auto one = decode(ONE_SETUP_ASSET);
  ASSERT_TRUE(one) << one.error().to_string();
  EXPECT_EQ(one->magic, MOTION_KINEMATICS_MAGIC);
  EXPECT_EQ(one->version, MOTION_KINEMATICS_VERSION);
  EXPECT_EQ(one->default_motion_table_for_setup(0x02000001), 0x09000001U);
  EXPECT_EQ(one->default_motion_table_for_setup(0x02000002), std::nullopt);

  auto asset = decode(WALK_TURN_ASSET);
  ASSERT_TRUE(asset) << asset.error().to_string();
  EXPECT_EQ(*asset, walk_turn_asset());
  const MotionCommandKinematics* walk = asset->cycle_kinematics(0x09000023, 0x80000003, 0x44000007);
  ASSERT_NE(walk, nullptr);
  EXPECT_EQ(walk->velocity, (Vector3{2.5F, 0, 0}));
  EXPECT_FALSE(walk->omega);
  const MotionCommandKinematics* turn = asset->cycle_kinematics(0x09000023, 0x80000003, 0x6500000D);
  ASSERT_NE(turn, nullptr);
  EXPECT_FALSE(turn->velocity);
  EXPECT_EQ(turn->omega, (Vector3{0, 0, 1.5F}));
  EXPECT_EQ(asset->default_style_for_motion_table(0x09000023), 0x80000003U);
  EXPECT_EQ(asset->default_style_for_motion_table(0x09000024), std::nullopt);
  EXPECT_EQ(asset->cycle_kinematics(0x09000024, 0x80000003, 0x44000007), nullptr);
  EXPECT_EQ(asset->cycle_kinematics(0x09000023, 0x80000003, 0x45000005), nullptr);
}

TEST(MotionKinematicsEncoding, SortsKeysWhateverTheInsertionOrder) {
  MotionKinematics asset;
  for (std::uint32_t setup : {0x02000003U, 0x02000001U, 0x02000002U}) asset.setup_defaults.emplace(setup, setup + 7);
  const Bytes out = encode(asset);
  Le expected;
  expected.u32(MOTION_KINEMATICS_MAGIC).u32(1).u32(3);
  for (std::uint32_t setup : {0x02000001U, 0x02000002U, 0x02000003U}) expected.u32(setup).u32(setup + 7);
  expected.u32(0);
  EXPECT_EQ(out, expected.bytes());
}

TEST(MotionKinematicsEncoding, CycleWithNeitherVectorIsFiveBytes) {
  MotionKinematics asset;
  MotionKinematicsTable table(0x09000001, 7);
  table.cycles.emplace(0x00030006, MotionCommandKinematics{});
  asset.tables.emplace(0x09000001, std::move(table));
  const Bytes out = encode(asset);
  EXPECT_EQ(out, Le().u32(MOTION_KINEMATICS_MAGIC)
                     .u32(1)
                     .u32(0)
                     .u32(1)
                     .u32(0x09000001)
                     .u32(7)
                     .u32(1)
                     .u32(0x00030006)
                     .u8(0)
                     .bytes());
}

TEST(MotionKinematicsRead, KeepsForeignMagicAndVersionAndIgnoresUnknownFlagBits) {
  const Bytes bytes = Le().u32(0x12345678)
                          .u32(3)
                          .u32(0)
                          .u32(1)
                          .u32(0x09000001)
                          .u32(5)
                          .u32(1)
                          .u32(0x00030007)
                          .u8(0xFC)
                          .u8(0x99)
                          .take();  // the trailing byte is not examined
  auto asset = decode(bytes);
  ASSERT_TRUE(asset) << asset.error().to_string();
  EXPECT_EQ(asset->magic, 0x12345678U);
  EXPECT_EQ(asset->version, 3U);
  const MotionCommandKinematics* cycle = asset->cycle_kinematics(0x09000001, 0, 0x00030007);
  ASSERT_NE(cycle, nullptr);
  EXPECT_EQ(*cycle, MotionCommandKinematics{});
}

TEST(MotionKinematicsRead, LaterDuplicatesReplaceEarlierOnes) {
  const Bytes bytes = Le().u32(MOTION_KINEMATICS_MAGIC)
                          .u32(1)
                          .u32(2)
                          .u32(0x02000001)
                          .u32(0x09000001)
                          .u32(0x02000001)
                          .u32(0x09000002)
                          .u32(2)
                          .u32(0x09000001)
                          .u32(1)
                          .u32(2)
                          .u32(5)
                          .u8(0)
                          .u32(5)
                          .u8(2)
                          .f32(0)
                          .f32(0)
                          .f32(1)
                          .u32(0x09000001)
                          .u32(2)
                          .u32(0)
                          .take();
  auto asset = decode(bytes);
  ASSERT_TRUE(asset) << asset.error().to_string();
  EXPECT_EQ(asset->default_motion_table_for_setup(0x02000001), 0x09000002U);
  ASSERT_EQ(asset->tables.size(), 1U);
  EXPECT_EQ(asset->tables.at(0x09000001).default_style, 2U);
  EXPECT_TRUE(asset->tables.at(0x09000001).cycles.empty());

  // Within one table, the later cycle block of a key wins.
  const Bytes one_table = Le().u32(MOTION_KINEMATICS_MAGIC)
                              .u32(1)
                              .u32(0)
                              .u32(1)
                              .u32(0x09000001)
                              .u32(1)
                              .u32(2)
                              .u32(5)
                              .u8(1)
                              .f32(1)
                              .f32(0)
                              .f32(0)
                              .u32(5)
                              .u8(2)
                              .f32(0)
                              .f32(0)
                              .f32(1)
                              .take();
  auto cycles = decode(one_table);
  ASSERT_TRUE(cycles) << cycles.error().to_string();
  EXPECT_EQ(cycles->tables.at(0x09000001).cycles.at(5), (MotionCommandKinematics{std::nullopt, Vector3{0, 0, 1}}));
}

TEST(MotionKinematicsRead, TruncationFailsAtEndOfInput) {
  struct Case {
    Bytes bytes;
    std::vector<std::string> contexts;
  };
  const std::vector<Case> cases = {
      // A short count, key or id has no field context.
      {Bytes(ONE_SETUP_ASSET.begin(), ONE_SETUP_ASSET.end() - 1), {}},
      {Bytes(WALK_TURN_ASSET.begin(), WALK_TURN_ASSET.begin() + 40), {}},
      // A short vector carries the vector's own context.
      {Bytes(WALK_TURN_ASSET.begin(), WALK_TURN_ASSET.begin() + 43), {"While parsing field 'x' in Vector3"}},
      {Bytes(WALK_TURN_ASSET.begin(), WALK_TURN_ASSET.end() - 1), {"While parsing field 'z' in Vector3"}},
      // Counts far beyond the input.
      {Le().u32(MOTION_KINEMATICS_MAGIC).u32(1).u32(0xFFFFFFFF).u32(1).take(), {}},
      {Le().u32(MOTION_KINEMATICS_MAGIC).u32(1).u32(0).u32(0xFFFFFFFF).u32(1).u32(2).u32(0xFFFFFFFF).take(), {}},
  };
  for (const Case& c : cases) {
    auto asset = decode(c.bytes);
    ASSERT_FALSE(asset) << c.bytes.size();
    ASSERT_NE(asset.error().io_error(), nullptr);
    EXPECT_EQ(asset.error().io_error()->message, "failed to fill whole buffer");
    EXPECT_EQ(asset.error().context_messages(), c.contexts) << c.bytes.size();
  }
}

TEST(MotionKinematicsEncoding, WriteReadWriteIsIdentity) {
  MotionKinematics asset;
  for (std::uint32_t i = 0; i < 50; ++i) asset.setup_defaults.emplace(0x02000000 + i * 37 % 50, 0x09000000 + i % 5);
  for (std::uint32_t t = 0; t < 5; ++t) {
    MotionKinematicsTable table(0x09000000 + t, 0x80000000 + t);
    for (std::uint32_t c = 0; c < 30; ++c) {
      MotionCommandKinematics cycle;
      if (c % 2 == 0) cycle.velocity = Vector3{float(c), -0.0F, 1e-30F};
      if (c % 3 == 0) cycle.omega = Vector3{0, float(t), -float(c)};
      table.cycles.emplace(cycle_key(0x80000000 + t, 0x45000000 + c * 11), cycle);
    }
    asset.tables.emplace(table.motion_table_id, std::move(table));
  }
  const Bytes first = encode(asset);
  auto back = decode(first);
  ASSERT_TRUE(back) << back.error().to_string();
  EXPECT_EQ(*back, asset);
  EXPECT_EQ(encode(*back), first);
}

}  // namespace
}  // namespace quillmarsh::dat
