// End-to-end: quillmarsh pack of directories, trees and archives.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "cli_test_support.hpp"
#include "quillmarsh/dat/file_type/motion_kinematics.hpp"

namespace quillmarsh::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr std::uint32_t KINEMATICS = 0x4D4F544B;
const std::pair<std::string, std::uint32_t> CORE_ASSET{"quillmarsh/core", KINEMATICS};

std::size_t count_namespace(const Entries& entries, std::string_view ns) {
  return static_cast<std::size_t>(
      std::count_if(entries.begin(), entries.end(), [&](const auto& kv) { return kv.first.first == ns; }));
}

struct ProfileCase {
  const char* profile;
  std::size_t portal;  // expected eor/portal entries of the synthetic set
  bool cells_kept;
};

void PrintTo(const ProfileCase& c, std::ostream* os) { *os << c.profile; }

class PackProfile : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(PackProfile, KeepsWhatTheProfileKeeps) {
  const World world;
  const ProfileCase& c = GetParam();
  const Outcome run = world.run({"pack", "-o", "out.qma", "--profile", c.profile, "content/portal", "content/cell"});
  ASSERT_EQ(run.code, 0) << run.err;
  const Entries entries = read_entries(world.dir / "out.qma");
  EXPECT_EQ(count_namespace(entries, "eor/portal"), c.portal);
  EXPECT_EQ(count_namespace(entries, "eor/cell"), c.cells_kept ? world.content.cell.size() : 0U);
  ASSERT_TRUE(entries.contains(CORE_ASSET));
  EXPECT_EQ(entries.at(CORE_ASSET).first, 0xFFFFFF01U);
  // Every kept content file has its kind code (the top byte of its id) as type id, and its bytes.
  for (const auto& [key, value] : entries) {
    if (key.first == "quillmarsh/core") continue;
    EXPECT_EQ(value.first, key.second >> 24);
    const auto& source = key.first == "eor/portal" ? world.content.portal : world.content.cell;
    EXPECT_EQ(value.second, source.at(key.second));
  }
}

std::size_t kinds(const World& w, std::initializer_list<std::uint32_t> codes) {
  return static_cast<std::size_t>(std::count_if(w.content.portal.begin(), w.content.portal.end(), [&](const auto& kv) {
    return std::find(codes.begin(), codes.end(), kv.first >> 24) != codes.end();
  }));
}

const World& reference_world() {
  static const World world;
  return world;
}

INSTANTIATE_TEST_SUITE_P(Profiles, PackProfile,
                         ::testing::Values(ProfileCase{"full", reference_world().content.portal.size(), true},
                                           // pruned keeps setups, graphics objects, audio and tables; cell ids' top
                                           // bytes are not among its kinds, so no cell file stays
                                           ProfileCase{"pruned", kinds(reference_world(), {0x01, 0x02, 0x0A, 0x0E}),
                                                       false},
                                           ProfileCase{"micro", 5, false}),
                         [](const auto& info) { return std::string(info.param.profile); });

TEST(Pack, NamespaceOfEachDirectoryFollowsExplicitThenHintThenFileName) {
  const World world;
  std::filesystem::rename(world.files.cell_dir, world.dir / "content" / "CELL_1.dat");  // stem holds "cell"
  std::filesystem::create_directory(world.dir / "misc");
  spit(world.dir / "misc" / "0E000099.bin", "x");
  std::filesystem::create_directory(world.dir / "more");
  spit(world.dir / "more" / "0E000099", "y");

  struct Case {
    std::vector<std::string> args;
    std::string input;
    std::string expected;
  };
  for (const Case& c :
       {Case{{}, "content/CELL_1.dat/", "eor/cell"}, Case{{}, "misc", "eor/portal"},
        Case{{"--hint", "eor/cell"}, "misc", "eor/cell"},
        Case{{"--namespace", "derived/test", "--hint", "eor/cell"}, "content/CELL_1.dat", "derived/test"}}) {
    std::vector<std::string> args = {"pack", "-o", "ns.qma", "--no-derive"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    args.push_back(c.input);
    const Outcome run = world.run(args);
    ASSERT_EQ(run.code, 0) << run.err;
    const Entries entries = read_entries(world.dir / "ns.qma");
    ASSERT_FALSE(entries.empty());
    for (const auto& [key, value] : entries) EXPECT_EQ(key.first, c.expected) << c.input;
  }

  // One namespace for all directory inputs: the same id twice is a duplicate, and nothing is written.
  const Outcome dup = world.run({"pack", "-o", "dup.qma", "--namespace", "x/y", "misc", "more"});
  EXPECT_EQ(dup.code, 1);
  EXPECT_THAT(dup.err, HasSubstr("Duplicate namespaced file x/y:0E000099"));
  EXPECT_FALSE(std::filesystem::exists(world.dir / "dup.qma"));

  const Outcome invalid = world.run({"pack", "-o", "bad.qma", "--namespace", std::string(33, 'n'), "misc"});
  EXPECT_EQ(invalid.code, 2);
  EXPECT_THAT(invalid.err, HasSubstr("exceeds 32 bytes"));
}

TEST(Pack, SkipsAndCountsFilesNotNamedAsContentIds) {
  const World world;
  spit(world.files.portal_dir / "README.txt", "not content");
  spit(world.files.portal_dir / "0E00000.bin", "seven digits");
  spit(world.files.portal_dir / "0E0000020.bin", "nine digits");
  std::filesystem::create_directory(world.files.portal_dir / "0E000123");  // a directory, not a file
  const Outcome run = world.run({"pack", "-o", "out.qma", "content/portal"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("skipped 4 files not named as content ids"));
  EXPECT_EQ(read_entries(world.dir / "out.qma").size(), world.content.portal.size() + 1);

  const Outcome quiet = world.run({"pack", "--quiet", "-o", "out2.qma", "content/portal"});
  ASSERT_EQ(quiet.code, 0);
  EXPECT_EQ(quiet.err, "");
}

// A tree's namespaces are the directories, at any depth; files directly in the tree and files not
// named as ids are skipped and counted (the type manifest is neither), and a link to a directory is
// not followed.
TEST(Pack, TreeNamespacesComeFromNestedDirectories) {
  const World world;
  const auto tree = world.dir / "tree";
  std::filesystem::create_directories(tree / "a" / "b" / "c");
  spit(tree / "a" / "0E000001", "one");
  spit(tree / "a" / "b" / "c" / "0E000001.bin", "deep");
  spit(tree / "a" / "notes.txt", "not content");
  spit(tree / "0E000003", "at the top");
  spit(tree / ".quillmarsh-types.json", R"({"format": "quillmarsh-extracted-tree", "version": 1, "type_ids": []})");
  std::filesystem::create_directories(world.dir / "elsewhere");
  spit(world.dir / "elsewhere" / "0E000004", "behind a link");
  std::filesystem::create_directory_symlink(world.dir / "elsewhere", tree / "linked");

  const Outcome run = world.run({"pack", "--tree", "--no-derive", "-o", "tree.qma", "tree"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("skipped 2 files not named as content ids"));
  const Entries entries = read_entries(world.dir / "tree.qma");
  ASSERT_EQ(entries.size(), 2U);
  EXPECT_EQ(entries.at({"a", 0x0E000001U}).second, Bytes({'o', 'n', 'e'}));
  EXPECT_EQ(entries.at({"a/b/c", 0x0E000001U}).second, Bytes({'d', 'e', 'e', 'p'}));
}

TEST(Pack, RepacksAnArchiveKeepingNamespacesAndTypeIds) {
  const World world;
  ASSERT_EQ(world.run({"pack", "-o", "full.qma", "content/portal", "content/cell"}).code, 0);
  // dat2qma is the same command.
  const Outcome micro = world.run({"dat2qma", "-o", "micro.qma", "--profile", "micro", "full.qma"});
  ASSERT_EQ(micro.code, 0) << micro.err;
  const Entries full = read_entries(world.dir / "full.qma");
  const Entries pruned = read_entries(world.dir / "micro.qma");
  std::vector<std::pair<std::string, std::uint32_t>> keys;
  for (const auto& kv : pruned) keys.push_back(kv.first);
  EXPECT_EQ(keys, (std::vector<std::pair<std::string, std::uint32_t>>{{"eor/portal", 0x0E000002},
                                                                      {"eor/portal", 0x0E000004},
                                                                      {"eor/portal", 0x0E000007},
                                                                      {"eor/portal", 0x0E00000E},
                                                                      {"eor/portal", 0x0E000018},
                                                                      CORE_ASSET}));
  for (const auto& [key, value] : pruned) EXPECT_EQ(value, full.at(key));  // type ids and bytes, asset included

  // Repacking the micro archive has nothing to derive from: its asset is carried over unchanged.
  ASSERT_EQ(world.run({"pack", "-o", "again.qma", "micro.qma"}).code, 0);
  EXPECT_EQ(read_entries(world.dir / "again.qma"), pruned);
}

TEST(Pack, DerivesKinematicsFromPortalSetupsTablesAndReferencedAnimations) {
  const World world;
  // An animation that no forward cycle references is never decoded: garbage there is harmless.
  const std::uint32_t unused_animation = 0x030000FF;
  spit(world.files.portal_dir / "030000FF.bin", "not an animation");
  const Outcome run = world.run({"pack", "-o", "out.qma", "content/portal"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_THAT(run.err, HasSubstr("motion kinematics derived from 6 motion tables and 24 setups"));
  const Entries entries = read_entries(world.dir / "out.qma");
  ASSERT_TRUE(entries.contains({"eor/portal", unused_animation}));
  const Bytes& asset = entries.at(CORE_ASSET).second;
  ByteReader reader(asset);
  auto kinematics = dat::MotionKinematics::read(reader);
  ASSERT_TRUE(kinematics);
  EXPECT_EQ(kinematics->tables.size(), 6U);
  EXPECT_EQ(kinematics->default_motion_table_for_setup(0x02000001).has_value(), true);
  // The walk cycle's velocity is inferred from its moving animation; the turn keeps its explicit omega.
  const auto* walk = kinematics->cycle_kinematics(0x09000001, 0x80000003, 0x45000005);
  ASSERT_NE(walk, nullptr);
  ASSERT_TRUE(walk->velocity.has_value());
  EXPECT_NE(*walk->velocity, Vector3{});
  const auto* turn = kinematics->cycle_kinematics(0x09000001, 0x80000003, 0x6500000D);
  ASSERT_NE(turn, nullptr);
  EXPECT_FALSE(turn->velocity.has_value());
  EXPECT_EQ(turn->omega, (Vector3{0.0F, 0.0F, 1.5F}));

  const Outcome none = world.run({"pack", "-o", "plain.qma", "--no-derive", "content/portal"});
  ASSERT_EQ(none.code, 0);
  EXPECT_FALSE(read_entries(world.dir / "plain.qma").contains(CORE_ASSET));
}

TEST(Pack, CompressionThreadsMakeTheSameArchive) {
  const World world;
  ASSERT_EQ(world.run({"pack", "-o", "one.qma", "content/portal", "content/cell"}).code, 0);
  ASSERT_EQ(world.run({"pack", "-j", "4", "-o", "four.qma", "content/portal", "content/cell"}).code, 0);
  EXPECT_EQ(slurp(world.dir / "one.qma"), slurp(world.dir / "four.qma"));
  EXPECT_EQ(world.run({"pack", "-j", "0", "-o", "none.qma", "content/portal"}).code, 2);
}

TEST(Pack, UndecodableFileFailsNamingItsIdAndLeavesNoOutput) {
  const World world;
  spit(world.dir / "out.qma", "the previous archive");
  spit(world.files.portal_dir / "02000001.bin", "\x01\x00\x00\x02 truncated setup");
  const Outcome run = world.run({"pack", "-o", "out.qma", "content/portal"});
  EXPECT_EQ(run.code, 1);
  EXPECT_THAT(run.err, StartsWith("quillmarsh: error: failed to read content file 0x02000001: "));
  EXPECT_THAT(run.err, HasSubstr("failed to fill whole buffer"));
  // The old file is untouched and no temporary file is left beside it.
  EXPECT_EQ(slurp(world.dir / "out.qma"), "the previous archive");
  EXPECT_EQ(names_in(world.dir.path()), (std::vector<std::string>{"content", "out.qma"}));

  // The same input packs without derivation: the setup is then only stored, never decoded.
  EXPECT_EQ(world.run({"pack", "-o", "out.qma", "--no-derive", "content/portal"}).code, 0);
}

TEST(Pack, UnreadableInputLeavesNoOutput) {
  if (::geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
  const World world;
  const auto file = world.files.portal_dir / "0A000001.bin";
  ASSERT_EQ(::chmod(file.c_str(), 0), 0);
  const Outcome run = world.run({"pack", "-o", "out.qma", "content/portal"});
  EXPECT_EQ(run.code, 1);
  EXPECT_THAT(run.err, HasSubstr("0x0A000001"));
  EXPECT_EQ(names_in(world.dir.path()), (std::vector<std::string>{"content"}));
}

// Files are read ahead of packing: a read that fails part way through the inputs still stops the
// pack with that file's error, and nothing is left behind.
TEST(Pack, InputTooLargeForAnEntryLeavesNoOutput) {
  const World world;
  const auto file = world.files.portal_dir / "0A7FFFFF.bin";
  { std::ofstream(file) << "x"; }
  std::filesystem::resize_file(file, std::uintmax_t{5} << 30);  // sparse: no disk space used
  const Outcome run = world.run({"pack", "-o", "out.qma", "content/portal"});
  EXPECT_EQ(run.code, 1);
  EXPECT_THAT(run.err, HasSubstr("0x0A7FFFFF"));
  EXPECT_THAT(run.err, HasSubstr("too large for an archive entry"));
  EXPECT_EQ(names_in(world.dir.path()), (std::vector<std::string>{"content"}));
}

TEST(Pack, MissingInputAndUnusableOutput) {
  const World world;
  const Outcome missing = world.run({"pack", "-o", "out.qma", "no-such-dir"});
  EXPECT_EQ(missing.code, 1);
  EXPECT_THAT(missing.err, HasSubstr("no-such-dir"));
  const Outcome not_archive = world.run({"pack", "-o", "out.qma", "content/spells.json"});
  EXPECT_EQ(not_archive.code, 1);
  EXPECT_THAT(not_archive.err, HasSubstr("not a directory or a QMA archive"));
  const Outcome into_dir = world.run({"pack", "-o", "content", "content/portal"});
  EXPECT_EQ(into_dir.code, 1);
  EXPECT_EQ(names_in(world.dir.path()), (std::vector<std::string>{"content"}));
}

}  // namespace
}  // namespace quillmarsh::testing
