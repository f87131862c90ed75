// End-to-end: quillmarsh extract, the extract -> pack --tree round trip, and the path-traversal refusal.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_test_support.hpp"

namespace quillmarsh::testing {
namespace {

using ::testing::HasSubstr;

// A bundle with an entry whose type id is not its kind code, so the type manifest has work to do.
struct Bundle : World {
  Bundle() {
    std::filesystem::create_directory(dir / "odd");
    spit(dir / "odd" / "0000002A", "forty-two");
    EXPECT_EQ(run({"pack", "-o", "part.qma", "--namespace", "custom/odd", "--no-derive", "odd"}).code, 0);
  }
};

TEST(Extract, ThenPackTreeReproducesEveryEntry) {
  const Bundle world;
  ASSERT_EQ(world.run({"pack", "-o", "bundle.qma", "content/portal", "content/cell", "part.qma"}).code, 0);
  const Outcome extracted = world.run({"extract", "bundle.qma", "-C", "tree"});
  ASSERT_EQ(extracted.code, 0) << extracted.err;
  EXPECT_THAT(extracted.err, HasSubstr("extracted " + std::to_string(read_entries(world.dir / "bundle.qma").size())));
  EXPECT_EQ(slurp(world.dir / "tree" / "custom" / "odd" / "0000002A"), "forty-two");
  EXPECT_TRUE(std::filesystem::is_regular_file(world.dir / "tree" / "eor" / "portal" / "0E000002"));
  EXPECT_TRUE(std::filesystem::is_regular_file(world.dir / "tree" / "quillmarsh" / "core" / "4D4F544B"));

  // With and without re-deriving, the entries (namespace, id, type id, bytes) come back unchanged.
  for (const bool derive : {true, false}) {
    std::vector<std::string> args = {"pack", "--tree", "-o", "again.qma", "tree"};
    if (!derive) args.insert(args.begin() + 1, "--no-derive");
    const Outcome packed = world.run(args);
    ASSERT_EQ(packed.code, 0) << packed.err;
    EXPECT_EQ(read_entries(world.dir / "again.qma"), read_entries(world.dir / "bundle.qma"));
  }
  // The type ids that the names do not imply are kept in the tree's manifest.
  EXPECT_THAT(slurp(world.dir / "tree" / ".quillmarsh-types.json"), HasSubstr("\"type_id\": \"0xFFFFFF01\""));
}

TEST(Extract, OneNamespaceOnly) {
  const World world;
  ASSERT_EQ(world.run({"pack", "-o", "bundle.qma", "content/portal", "content/cell"}).code, 0);
  ASSERT_EQ(world.run({"extract", "bundle.qma", "-C", "tree", "--namespace", "eor/cell"}).code, 0);
  EXPECT_EQ(names_in(world.dir / "tree"), (std::vector<std::string>{".quillmarsh-types.json", "eor"}));
  EXPECT_EQ(names_in(world.dir / "tree" / "eor"), (std::vector<std::string>{"cell"}));
  EXPECT_EQ(names_in(world.dir / "tree" / "eor" / "cell").size(), world.content.cell.size());

  const Outcome absent = world.run({"extract", "bundle.qma", "-C", "tree", "--namespace", "nope"});
  EXPECT_EQ(absent.code, 1);
  EXPECT_THAT(absent.err, HasSubstr("has no namespace 'nope'"));
}

class ExtractRefuses : public ::testing::TestWithParam<std::pair<const char*, const char*>> {};

TEST_P(ExtractRefuses, LabelsThatWouldLeaveTheDirectory) {
  const auto [label, reason] = GetParam();
  const World world;
  std::filesystem::create_directories(world.dir / "in");
  spit(world.dir / "in" / "0E000002", "payload");
  ASSERT_EQ(world.run({"pack", "-o", "evil.qma", "--no-derive", "--namespace", label, "in"}).code, 0);
  std::filesystem::create_directories(world.dir / "jail" / "x");

  const Outcome run = world.run({"extract", "evil.qma", "-C", "jail/x"});
  EXPECT_EQ(run.code, 1);
  EXPECT_THAT(run.err, HasSubstr(std::string("refusing namespace '") + label + "': " + reason));
  // Nothing was written anywhere: not inside the directory, not beside or above it.
  EXPECT_TRUE(names_in(world.dir / "jail" / "x").empty());
  EXPECT_EQ(names_in(world.dir / "jail"), (std::vector<std::string>{"x"}));
  EXPECT_EQ(names_in(world.dir.path()), (std::vector<std::string>{"content", "evil.qma", "in", "jail"}));
}

INSTANTIATE_TEST_SUITE_P(Labels, ExtractRefuses,
                         ::testing::Values(std::pair{"..", "it has a '..' path component"},
                                           std::pair{"../../escape", "it has a '..' path component"},
                                           std::pair{"a/../../b", "it has a '..' path component"},
                                           std::pair{"./a", "it has a '.' path component"},
                                           std::pair{"/abs/path", "it is an absolute path"},
                                           std::pair{"a//b", "it has an empty path component"},
                                           std::pair{"a/", "it has an empty path component"}));

TEST(Extract, DoesNotFollowSymbolicLinksPlantedInside) {
  const World world;
  ASSERT_EQ(world.run({"pack", "-o", "bundle.qma", "content/portal"}).code, 0);
  std::filesystem::create_directories(world.dir / "outside");
  std::filesystem::create_directories(world.dir / "tree");
  std::filesystem::create_directory_symlink(world.dir / "outside", world.dir / "tree" / "eor");

  const Outcome run = world.run({"extract", "bundle.qma", "-C", "tree"});
  EXPECT_EQ(run.code, 1);
  EXPECT_THAT(run.err, HasSubstr("refusing to enter"));
  EXPECT_TRUE(names_in(world.dir / "outside").empty());

  // A link in place of a file is replaced, never written through.
  std::filesystem::remove(world.dir / "tree" / "eor");
  std::filesystem::create_directories(world.dir / "tree" / "eor" / "portal");
  spit(world.dir / "outside" / "victim", "keep me");
  std::filesystem::create_symlink(world.dir / "outside" / "victim", world.dir / "tree" / "eor" / "portal" / "0E000002");
  ASSERT_EQ(world.run({"extract", "bundle.qma", "-C", "tree"}).code, 0);
  EXPECT_EQ(slurp(world.dir / "outside" / "victim"), "keep me");
  EXPECT_FALSE(std::filesystem::is_symlink(world.dir / "tree" / "eor" / "portal" / "0E000002"));
  EXPECT_EQ(slurp(world.dir / "tree" / "eor" / "portal" / "0E000002").size(),
            world.content.portal.at(0x0E000002).size());
}

TEST(Cat, WritesOneFileOrFails) {
  const World world;
  ASSERT_EQ(world.run({"pack", "-o", "bundle.qma", "content/portal"}).code, 0);
  const Outcome cat = world.run({"cat", "bundle.qma", "eor/portal", "0x0E000004"});
  ASSERT_EQ(cat.code, 0);
  const Bytes& expected = world.content.portal.at(0x0E000004);
  EXPECT_EQ(cat.out, std::string(expected.begin(), expected.end()));

  const Outcome missing = world.run({"cat", "bundle.qma", "eor/portal", "0E0000FF"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.err, "quillmarsh: error: eor/portal:0x0E0000FF: File ID 0E0000FF not found in provider\n");
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(world.run({"cat", "bundle.qma", "eor/portal", "0xZZ"}).code, 2);
}

}  // namespace
}  // namespace quillmarsh::testing
