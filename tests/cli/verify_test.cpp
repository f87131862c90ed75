// End-to-end: quillmarsh verify and ls on sound and damaged archives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "cli_test_support.hpp"

namespace quillmarsh::testing {
namespace {

using ::testing::HasSubstr;

struct Packed : World {
  Packed() { EXPECT_EQ(run({"pack", "-o", "bundle.qma", "content/portal", "content/cell"}).code, 0); }
  Bytes bytes() const {
    const std::string text = slurp(dir / "bundle.qma");
    return Bytes(text.begin(), text.end());
  }
  void write(const std::string& name, const Bytes& b) const { spit(dir / name, std::string(b.begin(), b.end())); }
};

std::uint64_t u64_at(const Bytes& b, std::size_t at) {
  std::uint64_t v = 0;
  std::memcpy(&v, b.data() + at, 8);
  return v;
}

TEST(Verify, SoundArchive) {
  const Packed world;
  const Outcome text = world.run({"verify", "bundle.qma"});
  EXPECT_EQ(text.code, 0) << text.err;
  EXPECT_THAT(text.out, HasSubstr("bundle.qma: ok, "));
  const Outcome json = world.run({"verify", "--json", "bundle.qma"});
  ASSERT_EQ(json.code, 0);
  const auto doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["ok"], true);
  EXPECT_TRUE(doc["problems"].empty());
}

TEST(Verify, DamagedArchivesNameTheEntry) {
  const Packed world;
  const Bytes sound = world.bytes();
  const std::size_t index = u64_at(sound, 12);

  // Index records 0 and 1 (both eor/cell) swapped: record 1 now sorts before record 0.
  Bytes swapped = sound;
  std::swap_ranges(swapped.begin() + static_cast<std::ptrdiff_t>(index),
                   swapped.begin() + static_cast<std::ptrdiff_t>(index + 60),
                   swapped.begin() + static_cast<std::ptrdiff_t>(index + 60));
  world.write("swapped.qma", swapped);
  const Outcome out_of_order = world.run({"verify", "swapped.qma"});
  EXPECT_EQ(out_of_order.code, 1);
  EXPECT_THAT(out_of_order.out, HasSubstr("index 1 (eor/cell:0x"));
  EXPECT_THAT(out_of_order.out, HasSubstr("index out of order"));
  EXPECT_THAT(out_of_order.err, HasSubstr("quillmarsh: error: swapped.qma: 1 problem found"));

  // Damage the stored bytes of every compressed entry: each is reported, JSON lists them all.
  Bytes damaged = sound;
  std::size_t compressed = 0;
  const std::uint32_t count = static_cast<std::uint32_t>(u64_at(sound, 8) & 0xFFFFFFFF);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t record = index + 60 * std::size_t{i};
    if ((sound[record + 56] & 1) == 0) continue;
    ++compressed;
    damaged[u64_at(sound, record + 40)] ^= 0xFF;
  }
  world.write("damaged.qma", damaged);
  const Outcome json = world.run({"verify", "--json", "damaged.qma"});
  EXPECT_EQ(json.code, 1);
  const auto doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["ok"], false);
  ASSERT_EQ(doc["problems"].size(), compressed);
  EXPECT_THAT(doc["problems"][0]["message"].get<std::string>(), HasSubstr("Failed to recover compressed file"));
  EXPECT_TRUE(doc["problems"][0]["id"].is_string());

  // A truncated file fails the open checks.
  world.write("short.qma", Bytes(sound.begin(), sound.begin() + static_cast<std::ptrdiff_t>(sound.size() - 1)));
  const Outcome truncated = world.run({"verify", "short.qma"});
  EXPECT_EQ(truncated.code, 1);
  EXPECT_THAT(truncated.err, HasSubstr("QMA index extends beyond file size"));
}

TEST(Ls, RowsThenTotals) {
  const Packed world;
  const Outcome text = world.run({"ls", "bundle.qma", "--namespace", "quillmarsh/core"});
  ASSERT_EQ(text.code, 0);
  EXPECT_THAT(text.out, HasSubstr("quillmarsh/core      0x4D4F544B 0xFFFFFF01"));
  EXPECT_THAT(text.out, HasSubstr("\n1 entries, "));

  const Outcome json = world.run({"ls", "--json", "bundle.qma"});
  ASSERT_EQ(json.code, 0);
  const auto doc = nlohmann::json::parse(json.out);
  const std::size_t total = world.content.portal.size() + world.content.cell.size() + 1;
  ASSERT_EQ(doc["entries"].size(), total);
  EXPECT_EQ(doc["totals"]["entries"], total);
  const auto& first = doc["entries"][0];
  EXPECT_EQ(first["namespace"], "eor/cell");
  EXPECT_EQ(first["id"].get<std::string>().size(), 10U);
  std::uint64_t size = 0;
  for (const auto& e : doc["entries"]) size += e["size"].get<std::uint64_t>();
  EXPECT_EQ(doc["totals"]["size"], size);

  const Outcome none = world.run({"ls", "--json", "bundle.qma", "--namespace", "absent"});
  ASSERT_EQ(none.code, 0);
  EXPECT_EQ(nlohmann::json::parse(none.out)["entries"].size(), 0U);
  EXPECT_EQ(world.run({"ls", "content/spells.json"}).code, 1);
}

}  // namespace
}  // namespace quillmarsh::testing
