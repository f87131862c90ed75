// End-to-end: quillmarsh shard over a generated world.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_test_support.hpp"
#include "quillmarsh/tools/dat_shard.hpp"

namespace quillmarsh::testing {
namespace {

using ::testing::HasSubstr;
using Key = std::pair<std::string, std::uint32_t>;

struct Packed : World {
  Packed() { EXPECT_EQ(run({"pack", "-o", "bundle.qma", "content/portal", "content/cell"}).code, 0); }

  // The plan computed in memory over the same files.
  std::set<Key> plan_in_memory(std::uint32_t spawn) const {
    tools::BundleSource bundle;
    for (const auto& [id, bytes] : content.portal) bundle.files[{"eor/portal", id}] = bytes;
    for (const auto& [id, bytes] : content.cell) bundle.files[{"eor/cell", id}] = bytes;
    std::set<Key> plan;
    for (const auto& id : tools::compute_boot_keep_set(bundle, spawn)) plan.emplace(id.namespace_, id.file_id);
    return plan;
  }
};

std::set<Key> keys_of(const nlohmann::json& list) {
  std::set<Key> keys;
  for (const auto& row : list) {
    keys.emplace(row["namespace"].get<std::string>(),
                 static_cast<std::uint32_t>(std::stoul(row["id"].get<std::string>(), nullptr, 16)));
  }
  return keys;
}

TEST(Shard, WritesExactlyThePlannedFilesTheBundleHasPlusTheCoreNamespace) {
  const Packed world;
  const Outcome run = world.run({"shard", "-o", "boot.qma", "--json", "bundle.qma"});
  ASSERT_EQ(run.code, 0) << run.err;
  const auto report = nlohmann::json::parse(run.out);

  // Planned over the archive read lazily, the plan equals the in-memory plan over a BundleSource.
  const std::set<Key> plan = world.plan_in_memory(0xA9B4);
  std::set<Key> reported = keys_of(report["present"]);
  const std::set<Key> missing = keys_of(report["missing"]);
  reported.insert(missing.begin(), missing.end());
  EXPECT_EQ(reported, plan);
  EXPECT_EQ(report["planned"], plan.size());
  // Only the kinematics id paired with the portal namespace is planned but absent.
  EXPECT_EQ(missing, (std::set<Key>{{"eor/portal", 0x4D4F544B}}));

  const Entries shard = read_entries(world.dir / "boot.qma");
  const Entries bundle = read_entries(world.dir / "bundle.qma");
  std::set<Key> written;
  for (const auto& [key, value] : shard) {
    written.insert(key);
    EXPECT_EQ(value, bundle.at(key));  // same type id and bytes
  }
  std::set<Key> expected = keys_of(report["present"]);
  expected.insert({"quillmarsh/core", 0x4D4F544B});
  EXPECT_EQ(written, expected);
  // The neighbourhood's landblock files are in, a distant landblock is not.
  EXPECT_TRUE(written.contains({"eor/cell", 0xA8B3FFFF}));
  EXPECT_TRUE(written.contains({"eor/cell", 0xAAB5FFFE}));
  EXPECT_FALSE(written.contains({"eor/cell", 0x1010FFFE}));
  EXPECT_TRUE(written.contains({"eor/portal", 0x0E00000E}));
}

TEST(Shard, PlanOnlyAndOtherSpawns) {
  const Packed world;
  const Outcome plan = world.run({"shard", "--plan", "--spawn", "1010", "bundle.qma"});
  ASSERT_EQ(plan.code, 0) << plan.err;
  EXPECT_THAT(plan.out, HasSubstr("eor/cell     0x1010FFFE present"));
  EXPECT_THAT(plan.out, HasSubstr("eor/portal   0x4D4F544B missing"));
  EXPECT_THAT(plan.out, HasSubstr(std::to_string(world.plan_in_memory(0x1010).size()) + " planned"));
  EXPECT_EQ(names_in(world.dir.path()), (std::vector<std::string>{"bundle.qma", "content"}));

  const Outcome bad = world.run({"shard", "-o", "boot.qma", "--spawn", "not-hex", "bundle.qma"});
  EXPECT_EQ(bad.code, 2);
  EXPECT_EQ(bad.err, "quillmarsh: error: invalid hex u32 \"not-hex\": invalid digit found in string\n");
  EXPECT_EQ(world.run({"shard", "bundle.qma"}).code, 2);  // neither -o nor --plan
}

TEST(Shard, SeveralBundlesFirstThatHasAFileProvidesIt) {
  const Packed world;
  ASSERT_EQ(world.run({"pack", "-o", "cells.qma", "--no-derive", "content/cell"}).code, 0);
  ASSERT_EQ(world.run({"pack", "-o", "portal.qma", "content/portal"}).code, 0);
  const Outcome run = world.run({"shard", "-o", "boot.qma", "cells.qma", "portal.qma"});
  ASSERT_EQ(run.code, 0) << run.err;
  ASSERT_EQ(world.run({"shard", "-o", "boot1.qma", "bundle.qma"}).code, 0);
  EXPECT_EQ(read_entries(world.dir / "boot.qma"), read_entries(world.dir / "boot1.qma"));
}

}  // namespace
}  // namespace quillmarsh::testing
