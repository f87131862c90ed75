#include <gtest/gtest.h>

#include <unordered_set>

#include "checks.hpp"
#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/tools/dat2qma.hpp"
#include "test_support.hpp"

namespace quillmarsh::checks {

using dat::Animation;
using dat::AnimationMap;
using dat::AnimRef;
using dat::MotionEntry;
using dat::MotionTable;

namespace {

AnimRef anim_ref(std::uint32_t id, float framerate) {
  AnimRef ref;
  ref.anim_id = id;
  ref.framerate = framerate;
  return ref;
}

Animation animation_with_frames(std::uint32_t id, std::initializer_list<Vector3> origins) {
  Animation anim;
  anim.id = id;
  for (const Vector3& o : origins) {
    dat::Frame frame;
    frame.origin = o;
    anim.position_frames.push_back(frame);
  }
  return anim;
}

MotionEntry forward_entry(std::uint32_t anim_id, float framerate) {
  MotionEntry entry;
  entry.anims.push_back(anim_ref(anim_id, framerate));
  return entry;
}

MotionEntry omega_entry(Vector3 omega) {
  MotionEntry entry;
  entry.omega = omega;
  entry.flags = 0x02;
  return entry;
}

}  // namespace

void derives_forward_velocity_and_explicit_omega() {
  MotionTable table;
  table.id = 0x09000023;
  table.default_style = 0x80000003;
  table.cycles.emplace(0x00030007, forward_entry(0x03000023, 2.5F));
  table.cycles.emplace(0x0003000D, omega_entry({0, 0, 1.5F}));
  dat::SetupModel setup;
  setup.id = 0x02000023;
  setup.default_motion_table = 0x09000023;
  AnimationMap animations;
  animations.emplace(0x03000023, animation_with_frames(0x03000023, {{1, 0, 0}}));

  std::vector<MotionTable> tables;
  tables.push_back(std::move(table));
  std::vector<dat::SetupModel> setups;
  setups.push_back(std::move(setup));
  auto kin =
      tools::derive_motion_kinematics_from_parsed_portal_assets(std::move(tables), std::move(setups), animations);
  ASSERT_TRUE(kin) << kin.error().to_string();
  EXPECT_EQ(kin->default_motion_table_for_setup(0x02000023), 0x09000023U);
  EXPECT_EQ(kin->default_style_for_motion_table(0x09000023), 0x80000003U);
  const auto* forward = kin->cycle_kinematics(0x09000023, 0x80000003, 0x44000007);
  ASSERT_NE(forward, nullptr);
  EXPECT_EQ(forward->velocity, (Vector3{2.5F, 0, 0}));
  EXPECT_FALSE(forward->omega.has_value());
  const auto* turn = kin->cycle_kinematics(0x09000023, 0x80000003, 0x6500000D);
  ASSERT_NE(turn, nullptr);
  EXPECT_EQ(turn->omega, (Vector3{0, 0, 1.5F}));
  EXPECT_FALSE(turn->velocity.has_value());
}

void turn_cycle_gets_no_inferred_velocity() {
  MotionTable table;
  table.id = 0x09000024;
  table.default_style = 0x80000003;
  table.cycles.emplace(0x0003000D, forward_entry(0x03000024, 2.5F));
  AnimationMap animations;
  animations.emplace(0x03000024, animation_with_frames(0x03000024, {{1, 0, 0}}));
  std::vector<MotionTable> tables;
  tables.push_back(std::move(table));

  auto kin = tools::derive_motion_kinematics_from_parsed_portal_assets(std::move(tables), {}, animations);
  ASSERT_TRUE(kin) << kin.error().to_string();
  const auto* turn = kin->cycle_kinematics(0x09000024, 0x80000003, 0x6500000D);
  ASSERT_NE(turn, nullptr);
  EXPECT_FALSE(turn->velocity.has_value());
}

void missing_animation_fails_derivation() {
  auto result = tools::derive_motion_command_kinematics(0x00030007, forward_entry(0x0300DEAD, 1.0F), AnimationMap{});
  ASSERT_FALSE(result);
  const auto* failure = result.error().get_if<tools::ToolError::AssetDerivation>();
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(failure->text, "missing animation 0x0300DEAD while deriving motion kinematics");
}

void kinematics_asset_round_trips_through_archive() {
  testing::TempDir dir;
  const auto path = dir / "bundle.qma";
  dat::MotionKinematics kin;
  kin.setup_defaults.emplace(0x02000001, 0x09000001);
  {
    auto writer = dat::QmaStreamWriter::create(path);
    ASSERT_TRUE(writer);
    auto written = tools::write_motion_kinematics_asset(kin, *writer, path);
    ASSERT_TRUE(written) << written.error().to_string();
    ASSERT_TRUE(std::move(*writer).finish());
  }
  auto reader = dat::QmaReader::open(path);
  ASSERT_TRUE(reader) << reader.error().to_string();
  auto entry = reader->find_entry_in_namespace(dat::CORE_NAMESPACE, tools::MOTION_KINEMATICS_FILE_ID);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->type_id, tools::MOTION_KINEMATICS_TYPE_ID);
  auto bytes = reader->read_entry_data(*entry);
  ASSERT_TRUE(bytes);
  ByteReader source(*bytes);
  auto decoded = dat::MotionKinematics::read(source);
  ASSERT_TRUE(decoded) << decoded.error().to_string();
  EXPECT_EQ(decoded->magic, 0x4D4F544BU);
  EXPECT_EQ(decoded->default_motion_table_for_setup(0x02000001), 0x09000001U);
}

void collects_only_forward_cycle_animations() {
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
  tools::collect_referenced_animation_ids(table, ids);
  EXPECT_EQ(ids, (std::unordered_set<std::uint32_t>{0x03001001}));
}

}  // namespace quillmarsh::checks
