#include "quillmarsh/tools/synthetic_content.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <set>

#include "quillmarsh/dat/file_type/setup_model.hpp"
#include "quillmarsh/dat/landblock.hpp"
#include "quillmarsh/dat/walk.hpp"
#include "quillmarsh/tools/dat2qma.hpp"
#include "quillmarsh/tools/dat_shard.hpp"
#include "quillmarsh/tools/spell_table_json.hpp"
#include "test_support.hpp"

namespace quillmarsh::tools {
namespace {

using quillmarsh::testing::TempDir;

const SyntheticContent& content() {
  static const SyntheticContent c = generate_synthetic_content({});
  return c;
}

std::vector<std::uint32_t> of_kind(std::uint32_t kind) {
  std::vector<std::uint32_t> ids;
  for (const auto& [id, bytes] : content().portal) {
    if (id >> 24 == kind) ids.push_back(id);
  }
  return ids;
}

TEST(SyntheticContent, IsDeterministicPerSeedAndGrowsWithScale) {
  const SyntheticContent again = generate_synthetic_content({});
  EXPECT_EQ(again.portal, content().portal);
  EXPECT_EQ(again.cell, content().cell);
  EXPECT_EQ(again.spells, content().spells);

  SyntheticContentOptions other;
  other.seed = 7;
  EXPECT_NE(generate_synthetic_content(other).portal, content().portal);

  SyntheticContentOptions bigger;
  bigger.scale = 3;
  const SyntheticContent big = generate_synthetic_content(bigger);
  EXPECT_GT(big.portal.size(), 2 * content().portal.size());
  EXPECT_GT(big.cell.size(), content().cell.size());
  EXPECT_EQ(big.spells.spells.size(), 3 * content().spells.spells.size());
  const std::size_t total = content().portal.size() + content().cell.size();
  EXPECT_GT(total, 200U);
  EXPECT_LT(total, 400U);
}

TEST(SyntheticContent, EveryRecordDecodesWithTheLibrary) {
  for (const auto id : of_kind(0x02)) {
    ByteReader reader(content().portal.at(id));
    auto setup = dat::SetupModel::unpack(reader);
    ASSERT_TRUE(setup) << std::hex << id << ": " << setup.error().to_string();
    EXPECT_EQ(setup->id, id);
    for (const auto part : setup->parts) EXPECT_TRUE(content().portal.contains(part)) << std::hex << part;
    if (setup->default_motion_table) {
      EXPECT_TRUE(content().portal.contains(*setup->default_motion_table));
    }
  }
  for (const auto id : of_kind(0x01)) {
    const auto surfaces = dat::read_gfx_obj_surfaces(content().portal.at(id));
    ASSERT_TRUE(surfaces) << std::hex << id;
    EXPECT_FALSE(surfaces->empty());
  }
  for (const auto& [id, bytes] : content().cell) {
    if ((id & 0xFFFF) != 0xFFFE) continue;
    auto info = dat::LandblockInfo::unpack(bytes);
    ASSERT_TRUE(info) << std::hex << id << ": " << info.error().to_string();
    EXPECT_FALSE(info->objects.empty());
    for (const auto& o : info->objects) EXPECT_TRUE(content().portal.contains(o.id)) << std::hex << o.id;
    for (const auto& b : info->buildings) EXPECT_TRUE(content().portal.contains(b.model_id));
  }
}

TEST(SyntheticContent, DerivesKinematicsFromItsMotionAssets) {
  std::vector<dat::MotionTable> tables;
  std::vector<dat::SetupModel> setups;
  dat::AnimationMap animations;
  for (const auto id : of_kind(0x09)) {
    auto table = dat::MotionTable::unpack(content().portal.at(id));
    ASSERT_TRUE(table) << table.error().to_string();
    tables.push_back(std::move(*table));
  }
  for (const auto id : of_kind(0x02)) {
    ByteReader reader(content().portal.at(id));
    setups.push_back(*dat::SetupModel::unpack(reader));
  }
  for (const auto id : of_kind(0x03)) {
    auto animation = dat::Animation::unpack(content().portal.at(id));
    ASSERT_TRUE(animation) << animation.error().to_string();
    animations.emplace(id, std::move(*animation));
  }
  auto kinematics =
      derive_motion_kinematics_from_parsed_portal_assets(std::move(tables), std::move(setups), animations);
  ASSERT_TRUE(kinematics) << kinematics.error().to_string();
  EXPECT_EQ(kinematics->tables.size(), of_kind(0x09).size());
  std::size_t inferred = 0;
  for (const auto& [id, table] : kinematics->tables) {
    for (const auto& [key, cycle] : table.cycles) inferred += dat::is_forward_cycle(key) && cycle.velocity ? 1 : 0;
  }
  EXPECT_GE(inferred, 2 * kinematics->tables.size());  // walk and run of every table
}

TEST(SyntheticContent, BootPlanReachesModelsAndTheirTextureChains) {
  BundleSource bundle;
  for (const auto& [id, bytes] : content().portal) bundle.files[{"eor/portal", id}] = bytes;
  for (const auto& [id, bytes] : content().cell) bundle.files[{"eor/cell", id}] = bytes;
  const dat::KeepSet keep = compute_boot_keep_set(bundle, DEFAULT_SPAWN_LANDBLOCK);
  std::set<std::uint32_t> kinds;
  for (const auto& id : keep) {
    if (id.namespace_ == "eor/portal") kinds.insert(id.file_id >> 24);
    if (id.namespace_ == "eor/cell" || id.file_id == 0x4D4F544B) continue;
    EXPECT_TRUE(content().portal.contains(id.file_id)) << std::hex << id.file_id;  // nothing dangles
  }
  EXPECT_EQ(kinds, (std::set<std::uint32_t>{0x01, 0x02, 0x04, 0x05, 0x06, 0x08, 0x0E, 0x4D}));
  for (const auto lb : spawn_neighborhood_cells(DEFAULT_SPAWN_LANDBLOCK)) {
    EXPECT_TRUE(content().cell.contains(landblock_file_id(lb)));
    EXPECT_TRUE(content().cell.contains(landblock_info_file_id(lb)));
  }
}

TEST(SyntheticContent, WritesTheDirectoryLayout) {
  const TempDir dir;
  auto files = write_synthetic_content(content(), dir / "set");
  ASSERT_TRUE(files) << files.error().to_string();
  EXPECT_EQ(files->portal_dir, dir / "set" / "portal");
  EXPECT_EQ(synthetic_file_name(0x0E000002), "0E000002.bin");
  std::ifstream in(files->portal_dir / "0E000002.bin", std::ios::binary);
  const Bytes written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, content().portal.at(0x0E000002));
  EXPECT_EQ(static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(files->cell_dir),
                                                   std::filesystem::directory_iterator())),
            content().cell.size());
  std::ifstream json(files->spells_json);
  const std::string text((std::istreambuf_iterator<char>(json)), std::istreambuf_iterator<char>());
  auto table = spell_table_from_json(text);
  ASSERT_TRUE(table) << table.error().to_string();
  EXPECT_EQ(*table, content().spells);

  std::ofstream(dir / "blocked") << "a file where a directory must go";
  auto failed = write_synthetic_content(content(), dir / "blocked" / "set");
  ASSERT_FALSE(failed);
  EXPECT_NE(failed.error().get_if<ToolError::Io>(), nullptr);
}

}  // namespace
}  // namespace quillmarsh::tools
