#include "quillmarsh/tools/dat2qma.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace quillmarsh::tools {
namespace {

using dat::MotionEntry;
using dat::MotionTable;

TEST(WriteMotionKinematicsAsset, StoresTheAssetInTheCoreNamespaceOfAFreshArchive) {
  testing::TempDir dir;
  const auto path = dir / "bundle.qma";
  dat::MotionKinematics kinematics;
  kinematics.setup_defaults.emplace(0x02000001, 0x09000001);
  {
    auto writer = dat::QmaStreamWriter::create(path);
    ASSERT_TRUE(writer) << writer.error().to_string();
    auto written = write_motion_kinematics_asset(kinematics, *writer, path);
    ASSERT_TRUE(written) << written.error().to_string();

    // A second copy collides with the first; the archive writer's text is carried with the path.
    auto again = write_motion_kinematics_asset(kinematics, *writer, path);
    ASSERT_FALSE(again);
    const auto* failure = again.error().get_if<ToolError::QmaWrite>();
    ASSERT_NE(failure, nullptr);
    EXPECT_EQ(failure->path, path);
    EXPECT_EQ(failure->text, "Duplicate namespaced file quillmarsh/core:4D4F544B detected");

    auto finished = std::move(*writer).finish();
    ASSERT_TRUE(finished) << finished.error().to_string();
  }

  auto reader = dat::QmaReader::open(path);
  ASSERT_TRUE(reader) << reader.error().to_string();
  EXPECT_EQ(reader->header().entry_count, 1U);
  auto entry = reader->find_entry_in_namespace("quillmarsh/core", 0x4D4F544B);
  ASSERT_TRUE(entry) << entry.error().to_string();
  EXPECT_EQ(entry->file_id, MOTION_KINEMATICS_FILE_ID);
  EXPECT_EQ(entry->type_id, 0xFFFFFF01U);
  EXPECT_EQ(entry->namespace_.label(), "quillmarsh/core");

  auto bytes = reader->get_file_in_namespace(dat::CORE_NAMESPACE, MOTION_KINEMATICS_FILE_ID);
  ASSERT_TRUE(bytes) << bytes.error().to_string();
  ByteReader source(*bytes);
  auto decoded = dat::MotionKinematics::read(source);
  ASSERT_TRUE(decoded) << decoded.error().to_string();
  EXPECT_EQ(decoded->magic, 0x4D4F544BU);
  EXPECT_EQ(decoded->default_motion_table_for_setup(0x02000001), 0x09000001U);
  EXPECT_EQ(*decoded, kinematics);
}

MotionEntry forward_entry(std::uint32_t anim_id, float framerate) {
  MotionEntry entry;
  entry.anims.push_back({anim_id, 0, 0, framerate});
  return entry;
}

TEST(CollectReferencedAnimationIds, OnlyForwardCyclesWithoutExplicitVelocity) {
  MotionTable table;
  table.id = 0x09001000;
  table.default_style = 0x80000003;
  table.cycles.emplace(0x00030007, forward_entry(0x03001001, 2.5F));
  table.cycles.emplace(0x0003000D, forward_entry(0x03001002, 1.0F));
  MotionEntry explicit_velocity = forward_entry(0x03001003, 1.0F);
  explicit_velocity.velocity = Vector3{1, 0, 0};
  explicit_velocity.flags = 0x01;
  table.cycles.emplace(0x00030005, explicit_velocity);

  std::unordered_set<std::uint32_t> ids;
  collect_referenced_animation_ids(table, ids);
  EXPECT_EQ(ids, (std::unordered_set<std::uint32_t>{0x03001001}));

  // A second table referencing the same animation, and one with two references, add to the set.
  MotionTable other;
  other.id = 0x09001001;
  MotionEntry two = forward_entry(0x03001001, 1.0F);
  two.anims.push_back({0x03001004, 0, 0, 1.0F});
  other.cycles.emplace(0x00040005, two);
  collect_referenced_animation_ids(other, ids);
  EXPECT_EQ(ids, (std::unordered_set<std::uint32_t>{0x03001001, 0x03001004}));

  // A table without cycles adds nothing and removes nothing the caller had.
  ids.insert(0x0300FFFF);
  collect_referenced_animation_ids(MotionTable{}, ids);
  EXPECT_EQ(ids, (std::unordered_set<std::uint32_t>{0x03001001, 0x03001004, 0x0300FFFF}));
}

TEST(CollectReferencedAnimationIds, MatchesWhatTheDerivationLooksUp) {
  // Every animation the derivation needs is collected: with exactly those present, it succeeds.
  MotionTable table;
  table.id = 0x09002000;
  table.cycles.emplace(0x00030007, forward_entry(0x03002001, 30));
  table.cycles.emplace(0x00050005, forward_entry(0x03002002, 30));
  table.cycles.emplace(0x0003000D, forward_entry(0x0300DEAD, 30));
  table.cycles.emplace(0x00030006, forward_entry(0x0300BEEF, 30));
  std::unordered_set<std::uint32_t> ids;
  collect_referenced_animation_ids(table, ids);
  dat::AnimationMap animations;
  for (const std::uint32_t id : ids) animations.emplace(id, dat::Animation{});
  EXPECT_EQ(ids, (std::unordered_set<std::uint32_t>{0x03002001, 0x03002002}));
  auto kin = derive_motion_kinematics_from_parsed_portal_assets({table}, {}, animations);
  EXPECT_TRUE(kin) << kin.error().to_string();
}

}  // namespace
}  // namespace quillmarsh::tools
