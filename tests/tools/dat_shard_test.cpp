#include "quillmarsh/tools/dat_shard.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/archive_source.hpp"
#include "test_support.hpp"

namespace quillmarsh::tools {
namespace {

using quillmarsh::testing::Le;
using quillmarsh::testing::TempDir;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::UnorderedElementsAreArray;

constexpr std::string_view PORTAL = dat::EOR_PORTAL_NAMESPACE;
constexpr std::string_view CELL = dat::EOR_CELL_NAMESPACE;

dat::ResourceId id(std::string_view ns, std::uint32_t file_id) { return {std::string(ns), file_id}; }

// The six essentials and both cell files of every neighbourhood landblock.
std::vector<dat::ResourceId> base_plan(std::uint32_t spawn) {
  std::vector<dat::ResourceId> out = {id(PORTAL, 0x0E000002), id(PORTAL, 0x0E000007), id(PORTAL, 0x0E000004),
                                      id(PORTAL, 0x0E00000E), id(PORTAL, 0x0E000018), id(PORTAL, 0x4D4F544B)};
  for (const std::uint32_t landblock : spawn_neighborhood_cells(spawn)) {
    out.push_back(id(CELL, (landblock << 16) | 0xFFFF));
    out.push_back(id(CELL, (landblock << 16) | 0xFFFE));
  }
  return out;
}

TEST(ParseHexU32, AcceptsAndRejects) {
  struct Case {
    std::string input;
    tl::expected<std::uint32_t, std::string> result;
  };
  const auto fail = [](std::string text) { return tl::unexpected(std::move(text)); };
  const std::vector<Case> cases = {
      {"0xA9B4", 0xA9B4},
      {"a9b4", 0xA9B4},
      {"0X1234", 0x1234},
      {"+ff", 0xFF},
      {"0x+ff", 0xFF},
      {"0xFFFFFFFF", 0xFFFFFFFF},
      {"000000000ffffffff", 0xFFFFFFFF},  // leading zeros do not count
      {"0", 0},
      {"not-hex", fail(R"(invalid hex u32 "not-hex": invalid digit found in string)")},
      {"0x", fail(R"(invalid hex u32 "0x": cannot parse integer from empty string)")},
      {"", fail(R"(invalid hex u32 "": cannot parse integer from empty string)")},
      {"100000000", fail(R"(invalid hex u32 "100000000": number too large to fit in target type)")},
      {"0x0x5", fail(R"(invalid hex u32 "0x0x5": invalid digit found in string)")},
      {"0X0x5", fail(R"(invalid hex u32 "0X0x5": invalid digit found in string)")},
      {"+", fail(R"(invalid hex u32 "+": invalid digit found in string)")},
      {"0x+", fail(R"(invalid hex u32 "0x+": invalid digit found in string)")},
      {"-1", fail(R"(invalid hex u32 "-1": invalid digit found in string)")},
      {"++1", fail(R"(invalid hex u32 "++1": invalid digit found in string)")},
      {"12 ", fail(R"(invalid hex u32 "12 ": invalid digit found in string)")},
      {"fffffffffz", fail(R"(invalid hex u32 "fffffffffz": number too large to fit in target type)")},
      {"zfffffffff", fail(R"(invalid hex u32 "zfffffffff": invalid digit found in string)")},
      // Quotes, backslashes, control characters and stray bytes are escaped; other text stays.
      {"a\"b\\c", fail(R"(invalid hex u32 "a\"b\\c": invalid digit found in string)")},
      {"\n\t\r", fail(R"(invalid hex u32 "\n\t\r": invalid digit found in string)")},
      {std::string("\0\x1b\x7f", 3), fail(R"(invalid hex u32 "\0\u{1b}\u{7f}": invalid digit found in string)")},
      {"\xc2\x85|\xc3\xa9|\xff", fail("invalid hex u32 \"\\u{85}|\xc3\xa9|\\x{ff}\": invalid digit found in string")},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(parse_hex_u32(c.input), c.result) << "input: " << c.input;
  }
}

TEST(SpawnNeighborhoodCells, InteriorEdgesAndCorners) {
  EXPECT_THAT(spawn_neighborhood_cells(0xA9B4),
              ElementsAre(0xA8B3, 0xA8B4, 0xA8B5, 0xA9B3, 0xA9B4, 0xA9B5, 0xAAB3, 0xAAB4, 0xAAB5));
  EXPECT_THAT(spawn_neighborhood_cells(0x0000), ElementsAre(0x0000, 0x0001, 0x0100, 0x0101));
  EXPECT_THAT(spawn_neighborhood_cells(0xFFFF), ElementsAre(0xFEFE, 0xFEFF, 0xFFFE, 0xFFFF));
  EXPECT_THAT(spawn_neighborhood_cells(0x00B4), ElementsAre(0x00B3, 0x00B4, 0x00B5, 0x01B3, 0x01B4, 0x01B5));
  EXPECT_EQ(spawn_neighborhood_cells(0x1234A9B4), spawn_neighborhood_cells(0xA9B4));  // high bits ignored
}

TEST(IsBootEssential, OnlyNeighbourhoodLandblockFiles) {
  struct Case {
    std::string_view ns;
    std::uint32_t file_id;
    bool essential;
  };
  for (const Case c :
       {Case{CELL, 0xA9B4FFFF, true}, Case{CELL, 0xA9B4FFFE, true}, Case{CELL, 0xA8B3FFFF, true},
        Case{CELL, 0xAAB5FFFE, true}, Case{CELL, 0x0000FFFF, false}, Case{CELL, 0xA7B4FFFF, false},
        Case{CELL, 0xA9B40100, false}, Case{PORTAL, 0xA9B4FFFF, false}, Case{PORTAL, 0x0E000002, false}}) {
    EXPECT_EQ(is_boot_essential(c.ns, c.file_id, 0xA9B4), c.essential) << c.ns << " " << std::hex << c.file_id;
  }
}

TEST(BundleSource, ReturnsCopiesAndNamesMissingFiles) {
  BundleSource bundle;
  bundle.files[{std::string(PORTAL), 0x01000002}] = {1, 2, 3};
  auto present = bundle.get_file_by_key({PORTAL, 0x01000002});
  ASSERT_TRUE(present);
  EXPECT_THAT(*present, ElementsAre(1, 2, 3));

  auto missing = bundle.get_file_by_key({PORTAL, 0x01000001});
  ASSERT_FALSE(missing);
  const auto* other = missing.error().get_if<dat::DatError::Other>();
  ASSERT_NE(other, nullptr) << missing.error().debug_string();
  EXPECT_EQ(other->text, "BundleSource: missing eor/portal:0x01000001");
  EXPECT_EQ(missing.error().to_string(), "Other error: BundleSource: missing eor/portal:0x01000001");
  // Same id, other namespace: still missing.
  EXPECT_FALSE(bundle.get_file_by_key({CELL, 0x01000002}));
}

TEST(ComputeBootKeepSet, EmptyBundleHoldsEssentialsAndCellFiles) {
  const dat::KeepSet keep = compute_boot_keep_set(BundleSource{}, DEFAULT_SPAWN_LANDBLOCK);
  EXPECT_EQ(keep.size(), 24U);
  EXPECT_THAT(keep, UnorderedElementsAreArray(base_plan(0xA9B4)));
  EXPECT_TRUE(keep.contains(id(PORTAL, 0x0E000002)));
  EXPECT_TRUE(keep.contains(id(PORTAL, 0x0E000004)));
  EXPECT_TRUE(keep.contains(id(CELL, 0xA9B4FFFF)));
  EXPECT_TRUE(keep.contains(id(CELL, 0xA9B4FFFE)));
  EXPECT_TRUE(keep.contains(id(CELL, 0xA8B3FFFF)));
  EXPECT_FALSE(keep.contains(id(CELL, 0x0000FFFF)));

  EXPECT_EQ(compute_boot_keep_set(BundleSource{}, 0x0000).size(), 14U);
}

// A bundle whose spawn landblock info lists a graphics object with a full surface chain and a
// building whose model is a setup of one more graphics object.
BundleSource populated_bundle() {
  BundleSource bundle;
  auto put = [&](std::string_view ns, std::uint32_t file_id, Bytes bytes) {
    bundle.files[{std::string(ns), file_id}] = std::move(bytes);
  };
  Le info;
  info.u32(0xA9B4FFFE).u32(0).u32(1).u32(0x01000001).zeros(28).u16(1).u16(0);
  info.u32(0x02000001).zeros(28).u32(0).u32(0);
  put(CELL, 0xA9B4FFFE, info.take());
  put(PORTAL, 0x01000001, Le().zeros(8).u8(1).u32(0x08000001).take());
  put(PORTAL, 0x08000001, Le().u32(0x2).u32(0x05000001).u32(0x04000001).zeros(12).take());
  put(PORTAL, 0x05000001, Le().u32(0x05000001).u32(0).u8(0).i32(2).u32(0x06000001).u32(0x06000002).take());
  put(PORTAL, 0x06000002, Le().u32(0x06000002).u32(0).u32(1).u32(1).u32(0x65).i32(0).u32(0x04000002).take());
  put(PORTAL, 0x02000001, Le().u32(0x02000001).u32(0).u32(1).u32(0x01000002).zeros(92).take());
  put(PORTAL, 0x01000002, Le().zeros(8).u8(0).take());
  // A neighbour's info that does not decode adds nothing.
  put(CELL, 0xA8B3FFFE, Le().u32(0xA8B3FFFE).u32(0).u32(5).take());
  return bundle;
}

TEST(ComputeBootKeepSet, LandblockObjectsAndBuildingsBringTheirFiles) {
  const dat::KeepSet keep = compute_boot_keep_set(populated_bundle(), 0xA9B4);
  std::vector<dat::ResourceId> expected = base_plan(0xA9B4);
  for (const std::uint32_t file_id :
       {0x01000001U, 0x08000001U, 0x04000001U, 0x05000001U, 0x06000002U, 0x04000002U, 0x02000001U, 0x01000002U}) {
    expected.push_back(id(PORTAL, file_id));
  }
  EXPECT_THAT(keep, UnorderedElementsAreArray(expected));
}

TEST(ComputeBootKeepSet, UndecodableLandblockInfoAddsNothing) {
  BundleSource bundle;
  bundle.files[{std::string(CELL), 0xA9B4FFFE}] = Le().u32(0xA9B4FFFE).u32(0).u32(1).u32(0x01000001).take();
  bundle.files[{std::string(PORTAL), 0x01000001}] = Le().zeros(9).take();
  EXPECT_THAT(compute_boot_keep_set(bundle, 0xA9B4), UnorderedElementsAreArray(base_plan(0xA9B4)));
}

// Any source: here one that only forwards, so the bundle's direct lookup is not taken.
class ForwardingSource final : public dat::ResourceSource {
 public:
  explicit ForwardingSource(const dat::ResourceSource& inner) : inner_(inner) {}
  dat::DatResult<Bytes> get_file_by_key(const dat::ResourceKey& key) const override {
    return inner_.get_file_by_key(key);
  }

 private:
  const dat::ResourceSource& inner_;
};

TEST(ComputeBootKeepSet, AnySourceGivesTheSamePlanAsTheBundle) {
  const BundleSource bundle = populated_bundle();
  const dat::KeepSet from_bundle = compute_boot_keep_set(bundle, 0xA9B4);
  EXPECT_EQ(compute_boot_keep_set(ForwardingSource(bundle), 0xA9B4), from_bundle);
  EXPECT_EQ(compute_boot_keep_set(static_cast<const dat::ResourceSource&>(bundle), 0xA9B4), from_bundle);

  // An archive read lazily through its index.
  TempDir dir;
  const auto path = dir / "content.qma";
  auto writer = dat::QmaStreamWriter::create(path);
  ASSERT_TRUE(writer) << writer.error().to_string();
  for (const auto& [key, bytes] : bundle.files) {
    ASSERT_TRUE(writer->add(key.first, key.second, key.second >> 24, bytes));
  }
  ASSERT_TRUE(std::move(*writer).finish());
  auto reader = dat::QmaReader::open(path);
  ASSERT_TRUE(reader) << reader.error().to_string();
  const dat::ArchiveSource archive(std::move(*reader));
  EXPECT_EQ(compute_boot_keep_set(archive, 0xA9B4), from_bundle);
}

}  // namespace
}  // namespace quillmarsh::tools
