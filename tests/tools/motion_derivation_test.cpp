#include <fmt/format.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <random>

#include "quillmarsh/tools/dat2qma.hpp"

namespace quillmarsh::tools {
namespace {

using dat::Animation;
using dat::AnimationMap;
using dat::AnimRef;
using dat::MotionEntry;
using dat::MotionTable;

constexpr std::uint32_t STYLE = 0x80000003;
constexpr std::uint32_t WALK = 0x00030007;
constexpr std::uint32_t TURN = 0x0003000D;

Animation animation_with_origins(std::uint32_t id, std::vector<Vector3> origins) {
  Animation anim;
  anim.id = id;
  for (const Vector3& origin : origins) anim.position_frames.push_back(dat::Frame{origin, Quaternion{}});
  return anim;
}

MotionEntry entry_with_anims(std::vector<AnimRef> anims) {
  MotionEntry entry;
  entry.anims = std::move(anims);
  return entry;
}

std::string derivation_error(const ToolResult<dat::MotionCommandKinematics>& result) {
  if (result) return "<success>";
  const auto* failure = result.error().get_if<ToolError::AssetDerivation>();
  return failure != nullptr ? failure->text : result.error().to_string();
}

TEST(DeriveMotionKinematics, WalkAndTurnTableWithSetupDefault) {
  MotionTable table;
  table.id = 0x09000023;
  table.default_style = STYLE;
  table.cycles.emplace(WALK, entry_with_anims({{0x03000023, 0, 0, 2.5F}}));
  MotionEntry turn;
  turn.omega = Vector3{0, 0, 1.5F};
  turn.flags = 0x02;
  table.cycles.emplace(TURN, turn);
  dat::SetupModel setup;
  setup.id = 0x02000023;
  setup.default_motion_table = 0x09000023;
  AnimationMap animations;
  animations.emplace(0x03000023, animation_with_origins(0x03000023, {{1, 0, 0}}));

  auto kin = derive_motion_kinematics_from_parsed_portal_assets({table}, {setup}, animations);
  ASSERT_TRUE(kin) << kin.error().to_string();
  EXPECT_EQ(kin->magic, dat::MOTION_KINEMATICS_MAGIC);
  EXPECT_EQ(kin->version, dat::MOTION_KINEMATICS_VERSION);
  EXPECT_EQ(kin->default_motion_table_for_setup(0x02000023), 0x09000023U);
  EXPECT_EQ(kin->default_style_for_motion_table(0x09000023), STYLE);
  const auto* walk = kin->cycle_kinematics(0x09000023, STYLE, 0x44000007);
  ASSERT_NE(walk, nullptr);
  EXPECT_EQ(walk->velocity, (Vector3{2.5F, 0, 0}));
  EXPECT_FALSE(walk->omega);
  const auto* turning = kin->cycle_kinematics(0x09000023, STYLE, 0x6500000D);
  ASSERT_NE(turning, nullptr);
  EXPECT_FALSE(turning->velocity);
  EXPECT_EQ(turning->omega, (Vector3{0, 0, 1.5F}));
}

TEST(DeriveMotionKinematics, TurnCycleWithAnimationGetsNoVelocity) {
  MotionTable table;
  table.id = 0x09000024;
  table.default_style = STYLE;
  table.cycles.emplace(TURN, entry_with_anims({{0x03000024, 0, 0, 2.5F}}));
  AnimationMap animations;
  animations.emplace(0x03000024, animation_with_origins(0x03000024, {{1, 0, 0}}));
  auto kin = derive_motion_kinematics_from_parsed_portal_assets({table}, {}, animations);
  ASSERT_TRUE(kin) << kin.error().to_string();
  const auto* turn = kin->cycle_kinematics(0x09000024, STYLE, 0x6500000D);
  ASSERT_NE(turn, nullptr);
  EXPECT_FALSE(turn->velocity);
  EXPECT_TRUE(kin->setup_defaults.empty());
}

TEST(DeriveMotionCommandKinematics, InfersForwardSpeedFromRootDisplacement) {
  AnimationMap animations;
  animations.emplace(0x0300000A, animation_with_origins(0x0300000A, {{0, 1, 0}, {0, 1, 0}}));
  animations.emplace(0x0300000B, animation_with_origins(0x0300000B, {{0, 1, 0}}));
  animations.emplace(0x0300000C, animation_with_origins(0x0300000C, {}));
  animations.emplace(0x0300000D, animation_with_origins(0x0300000D, {{1, 2, 3}, {-1, -2, -3}}));
  animations.emplace(0x0300000E, animation_with_origins(0x0300000E, {{1, 0, 0}}));
  const float inf = std::numeric_limits<float>::infinity();
  struct Case {
    const char* name;
    std::uint32_t key;
    MotionEntry entry;
    std::optional<Vector3> velocity;
  };
  MotionEntry explicit_velocity = entry_with_anims({{0x0300DEAD, 0, 0, 1.0F}});
  explicit_velocity.velocity = Vector3{1, 0, 0};
  const std::vector<Case> cases = {
      // (0, 3, 0) over 3 frames at the first reference's 10 fps; the speed goes on x.
      {"two refs, first framerate", WALK, entry_with_anims({{0x0300000A, 0, 0, 10}, {0x0300000B, 0, 0, 20}}),
       Vector3{10, 0, 0}},
      {"no position frames", WALK, entry_with_anims({{0x0300000C, 0, 0, 30}}), std::nullopt},
      {"zero displacement", 0x00030005, entry_with_anims({{0x0300000D, 0, 0, 30}}), Vector3{0, 0, 0}},
      {"zero displacement, infinite rate", WALK, entry_with_anims({{0x0300000D, 0, 0, inf}}), Vector3{0, 0, 0}},
      {"negative framerate", WALK, entry_with_anims({{0x0300000E, 0, 0, -2.5F}}), Vector3{-2.5F, 0, 0}},
      {"explicit velocity wins", WALK, explicit_velocity, Vector3{1, 0, 0}},
      {"no anims", WALK, MotionEntry{}, std::nullopt},
      // Cycles that are not forward never look their animations up, even missing ones.
      {"0x0006 is not forward", 0x00030006, entry_with_anims({{0x0300DEAD, 0, 0, 1}}), std::nullopt},
      {"0x000D is not forward", TURN, entry_with_anims({{0x0300DEAD, 0, 0, 1}}), std::nullopt},
  };
  for (const Case& c : cases) {
    auto result = derive_motion_command_kinematics(c.key, c.entry, animations);
    ASSERT_TRUE(result) << c.name << ": " << result.error().to_string();
    EXPECT_EQ(result->velocity, c.velocity) << c.name;
    EXPECT_FALSE(result->omega) << c.name;
  }
}

TEST(DeriveMotionCommandKinematics, OmegaIsCopiedNeverInferred) {
  MotionEntry entry = entry_with_anims({{0x0300000E, 0, 0, 1}});
  entry.omega = Vector3{0.5F, -0.0F, 2};
  AnimationMap animations;
  animations.emplace(0x0300000E, animation_with_origins(0x0300000E, {{0, 0, 1}}));
  auto result = derive_motion_command_kinematics(WALK, entry, animations);
  ASSERT_TRUE(result);
  EXPECT_EQ(result->omega, entry.omega);
  EXPECT_EQ(result->velocity, (Vector3{1, 0, 0}));
}

TEST(DeriveMotionCommandKinematics, MissingAnimationOfForwardCycleFails) {
  AnimationMap animations;
  // Against an empty map, the first reference is the one reported.
  auto empty = derive_motion_command_kinematics(
      WALK, entry_with_anims({{0x0300DEAD, 0, 0, 1.0F}, {0x0300BEEF, 0, 0, 1.0F}}), animations);
  EXPECT_EQ(derivation_error(empty), "missing animation 0x0300DEAD while deriving motion kinematics");
  // Otherwise the first reference without an entry, in list order.
  animations.emplace(0x03000001, animation_with_origins(0x03000001, {{1, 0, 0}}));
  auto second = derive_motion_command_kinematics(
      0x00030005, entry_with_anims({{0x03000001, 0, 0, 1.0F}, {0x0000BEEF, 0, 0, 1.0F}, {0x0300DEAD, 0, 0, 1.0F}}),
      animations);
  EXPECT_EQ(derivation_error(second), "missing animation 0x0000BEEF while deriving motion kinematics");
}

TEST(DeriveMotionCommandKinematics, SpeedIsComputedInSinglePrecisionWithoutFusedMultiplyAdd) {
  // For this displacement a fused x*x + y*y, or multiplying by the framerate before dividing by the
  // frame count, changes the last bit of the result.
  const Vector3 origin{std::bit_cast<float>(0x400C9D1AU), std::bit_cast<float>(0x4032B2A4U),
                       std::bit_cast<float>(0x3F83B893U)};
  AnimationMap animations;
  animations.emplace(0x03000001, animation_with_origins(0x03000001, {origin, {0, 0, 0}, {0, 0, 0}}));
  auto result = derive_motion_command_kinematics(WALK, entry_with_anims({{0x03000001, 0, 0, 2.5F}}), animations);
  ASSERT_TRUE(result);
  ASSERT_TRUE(result->velocity);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(result->velocity->x), 0x40454722U);
}

TEST(DeriveMotionKinematics, ReportsFirstFailingCycleOfFirstFailingTable) {
  std::vector<std::uint32_t> keys;
  // Forward keys differ in their style half: low 16 bits 0x0005 or 0x0007.
  for (std::uint32_t style = 0x100; style < 0x100 + 200; ++style) {
    keys.push_back(dat::cycle_key(style, style % 2 == 0 ? 0x45000005 : 0x44000007));
  }
  std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
  auto failing_table = [&keys](std::uint32_t id, std::uint32_t anim_base) {
    MotionTable table;
    table.id = id;
    for (const std::uint32_t key : keys) table.cycles.emplace(key, entry_with_anims({{anim_base + key, 0, 0, 1}}));
    return table;
  };
  MotionTable fine;
  fine.id = 0x09000001;
  fine.cycles.emplace(TURN, entry_with_anims({{0x0300DEAD, 0, 0, 1}}));
  std::vector<MotionTable> tables = {fine, failing_table(0x09000003, 0x10000000),
                                     failing_table(0x09000002, 0x20000000)};
  const std::uint32_t lowest = *std::min_element(keys.begin(), keys.end());
  // The map's own order would report another cycle.
  ASSERT_NE(tables[1].cycles.begin()->first, lowest);

  AnimationMap animations;
  animations.emplace(0x03000001, animation_with_origins(0x03000001, {{1, 0, 0}}));
  auto kin = derive_motion_kinematics_from_parsed_portal_assets(std::move(tables), {}, animations);
  ASSERT_FALSE(kin);
  const auto* failure = kin.error().get_if<ToolError::AssetDerivation>();
  ASSERT_NE(failure, nullptr);
  EXPECT_EQ(failure->text,
            fmt::format("missing animation 0x{:08X} while deriving motion kinematics", 0x10000000 + lowest));
}

TEST(DeriveMotionKinematics, EmptyInputsDuplicatesAndTablesWithoutCycles) {
  auto empty = derive_motion_kinematics_from_parsed_portal_assets({}, {}, {});
  ASSERT_TRUE(empty);
  EXPECT_EQ(*empty, dat::MotionKinematics{});

  std::vector<dat::SetupModel> setups(3);
  setups[0].id = 0x02000001;
  setups[0].default_motion_table = 0x09000001;
  setups[1].id = 0x02000002;  // no default motion table
  setups[2].id = 0x02000001;
  setups[2].default_motion_table = 0x09000002;
  std::vector<MotionTable> tables(2);
  tables[0].id = 0x09000002;
  tables[0].default_style = 1;
  tables[0].cycles.emplace(TURN, MotionEntry{});
  tables[1].id = 0x09000002;
  tables[1].default_style = 2;
  auto kin = derive_motion_kinematics_from_parsed_portal_assets(std::move(tables), std::move(setups), {});
  ASSERT_TRUE(kin) << kin.error().to_string();
  EXPECT_EQ(kin->setup_defaults, (std::unordered_map<std::uint32_t, std::uint32_t>{{0x02000001, 0x09000002}}));
  ASSERT_EQ(kin->tables.size(), 1U);
  EXPECT_EQ(kin->tables.at(0x09000002).default_style, 2U);
  EXPECT_TRUE(kin->tables.at(0x09000002).cycles.empty());

  // A cycle with neither vector is still recorded.
  MotionTable table;
  table.id = 0x09000005;
  table.cycles.emplace(0x00030006, MotionEntry{});
  auto with_empty_cycle = derive_motion_kinematics_from_parsed_portal_assets({table}, {}, {});
  ASSERT_TRUE(with_empty_cycle);
  EXPECT_EQ(with_empty_cycle->tables.at(0x09000005).cycles.at(0x00030006), dat::MotionCommandKinematics{});
}

}  // namespace
}  // namespace quillmarsh::tools
