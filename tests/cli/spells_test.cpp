// End-to-end: quillmarsh spells with presets, fields and filters.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_test_support.hpp"

namespace quillmarsh::testing {
namespace {

using ::testing::ElementsAre;
using ::testing::HasSubstr;

std::vector<std::string> keys_of(const nlohmann::ordered_json& object) {
  std::vector<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.push_back(key);
  return keys;
}

TEST(Spells, PresetsAndExplicitFields) {
  const World world;
  const Outcome base = world.run({"spells", "--table", "content/spells.json"});
  ASSERT_EQ(base.code, 0) << base.err;
  const auto doc = nlohmann::ordered_json::parse(base.out);
  EXPECT_EQ(keys_of(doc), (std::vector<std::string>{"table_id", "fields", "spells"}));
  EXPECT_EQ(doc["table_id"], 0x0E00000E);
  EXPECT_EQ(doc["spells"].size(), world.content.spells.spells.size());
  EXPECT_EQ(doc["fields"].size(), 12U);
  // Ascending ids.
  std::vector<std::uint32_t> ids;
  for (const auto& [key, value] : doc["spells"].items()) ids.push_back(static_cast<std::uint32_t>(std::stoul(key)));
  EXPECT_TRUE(std::is_sorted(ids.begin(), ids.end()));

  const Outcome minimal = world.run({"spells", "--table", "content/spells.json", "--preset", "minimal"});
  ASSERT_EQ(minimal.code, 0);
  const auto first = nlohmann::ordered_json::parse(minimal.out)["spells"].front();
  EXPECT_EQ(keys_of(first), (std::vector<std::string>{"name", "description", "school", "category", "bitfield",
                                                      "base_range_constant", "base_range_mod", "power"}));

  const Outcome fields = world.run({"spells", "--table", "content/spells.json", "--fields", "power,name,power"});
  ASSERT_EQ(fields.code, 0);
  const auto picked = nlohmann::ordered_json::parse(fields.out);
  EXPECT_THAT(picked["fields"], ElementsAre("power", "name"));
  EXPECT_EQ(keys_of(picked["spells"].front()), (std::vector<std::string>{"power", "name"}));
}

TEST(Spells, SchoolSelectorKIsSchoolKPlusOneAndFiltersCombine) {
  const World world;
  const auto& spells = world.content.spells.spells;
  const Outcome run = world.run({"spells", "--table", "content/spells.json", "--fields", "school,category", "--school",
                                 "0", "--school", "2", "--category", "3", "--category", "7", "-o", "out.json"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.out, "");
  const auto doc = nlohmann::json::parse(slurp(world.dir / "out.json"));
  std::size_t expected = 0;
  for (const auto& [id, spell] : spells) {
    const bool pass = (spell.school == 1 || spell.school == 3) && (spell.category == 3 || spell.category == 7);
    expected += pass ? 1 : 0;
    EXPECT_EQ(doc["spells"].contains(std::to_string(id)), pass) << id;
  }
  EXPECT_GT(expected, 0U);
  EXPECT_EQ(doc["spells"].size(), expected);
}

TEST(Spells, Errors) {
  const World world;
  const Outcome field = world.run({"spells", "--table", "content/spells.json", "--fields", "name,colour"});
  EXPECT_EQ(field.code, 2);
  EXPECT_THAT(field.err, HasSubstr("unknown spell field 'colour'"));
  EXPECT_EQ(world.run({"spells", "--table", "content/spells.json", "--school", "256"}).code, 2);
  EXPECT_EQ(world.run({"spells", "--table", "content/spells.json", "--preset", "huge"}).code, 2);

  spit(world.dir / "bad.json", R"({"id": 1, "spells": {"7": {"power": "lots"}}})");
  const Outcome bad = world.run({"spells", "--table", "bad.json", "-o", "out.json"});
  EXPECT_EQ(bad.code, 1);
  EXPECT_THAT(bad.err, HasSubstr("bad.json: "));
  EXPECT_THAT(bad.err, HasSubstr("power"));
  EXPECT_FALSE(std::filesystem::exists(world.dir / "out.json"));
  EXPECT_EQ(world.run({"spells", "--table", "missing.json"}).code, 1);
}

}  // namespace
}  // namespace quillmarsh::testing
