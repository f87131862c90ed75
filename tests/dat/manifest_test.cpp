#include "quillmarsh/dat/manifest.hpp"

#include <gtest/gtest.h>

#include "quillmarsh/dat/resource.hpp"

namespace quillmarsh::dat {
namespace {

struct Query {
  std::string_view namespace_;
  std::uint32_t file_id;
  DatFileType file_type;
  bool kept;
};

void expect_decisions(const StripperManifest& manifest, const std::vector<Query>& queries) {
  for (const Query& q : queries) {
    EXPECT_EQ(manifest.should_keep_entry(q.namespace_, q.file_id, q.file_type), q.kept)
        << q.namespace_ << " " << std::hex << q.file_id << " kind " << static_cast<std::uint32_t>(q.file_type);
  }
}

TEST(DatFileType, CodesAndTopByte) {
  EXPECT_EQ(static_cast<std::uint32_t>(DatFileType::Model), 1U);
  EXPECT_EQ(static_cast<std::uint32_t>(DatFileType::Animation), 3U);
  EXPECT_EQ(static_cast<std::uint32_t>(DatFileType::MotionTable), 9U);
  EXPECT_EQ(static_cast<std::uint32_t>(DatFileType::Audio), 10U);
  EXPECT_EQ(static_cast<std::uint32_t>(DatFileType::Table), 14U);
  EXPECT_EQ(static_cast<std::uint32_t>(DatFileType::Clothing), 16U);
  EXPECT_EQ(file_type_of(0x01000001), DatFileType::Model);
  EXPECT_EQ(file_type_of(0x0E000099), DatFileType::Table);
  EXPECT_EQ(static_cast<std::uint32_t>(file_type_of(0x7F123456)), 0x7FU);  // unnamed codes are held too
}

TEST(StripperManifest, LogicOnlyKeepsThirteenKindsInEveryNamespace) {
  const StripperManifest manifest = StripperManifest::logic_only();
  ASSERT_EQ(manifest.rules.size(), 13U);
  const std::uint32_t expected_order[] = {1, 2, 10, 13, 14, 19, 50, 51, 52, 32, 254, 255, 253};
  for (std::size_t i = 0; i < 13; ++i) {
    EXPECT_FALSE(manifest.rules[i].namespace_);
    EXPECT_FALSE(manifest.rules[i].file_id);
    ASSERT_TRUE(manifest.rules[i].file_type);
    EXPECT_EQ(static_cast<std::uint32_t>(*manifest.rules[i].file_type), expected_order[i]);
  }
  expect_decisions(manifest, {
                                 {"eor/portal", 0x01000001, DatFileType::Model, true},
                                 {"eor/portal", 0x0E000099, DatFileType::Table, true},
                                 {"eor/portal", 0x0A000001, DatFileType::Audio, true},
                                 {"eor/cell", 0x0E000099, DatFileType::Table, true},
                                 {"eor/portal", 0x10000001, DatFileType::Clothing, false},
                                 {"eor/portal", 0x03000003, DatFileType::Animation, false},
                                 {"eor/portal", 0x09000001, DatFileType::MotionTable, false},
                             });
}

TEST(StripperManifest, MicroKeepsOnlyTheFivePortalTables) {
  const StripperManifest manifest = StripperManifest::micro();
  ASSERT_EQ(manifest.rules.size(), 5U);
  const std::uint32_t expected_order[] = {0x0E000002, 0x0E000007, 0x0E000004, 0x0E00000E, 0x0E000018};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(manifest.rules[i].namespace_, "eor/portal");
    EXPECT_EQ(manifest.rules[i].file_id, expected_order[i]);
    EXPECT_FALSE(manifest.rules[i].file_type);
  }
  expect_decisions(manifest, {
                                 {"eor/portal", SkillTable::FILE_ID, DatFileType::Table, true},
                                 {"eor/portal", 0x0E00000E, DatFileType::Table, true},
                                 {"eor/portal", XpTable::FILE_ID, DatFileType::Table, true},
                                 {"eor/portal", ESSENTIAL_TABLE_0E000007, DatFileType::Table, true},
                                 {"eor/portal", CharGen::FILE_ID, DatFileType::Model, true},  // no kind in the rules
                                 {"eor/portal", 0x09000001, DatFileType::MotionTable, false},
                                 {"eor/portal", 0x03000003, DatFileType::Animation, false},
                                 {"eor/cell", 0x09000001, DatFileType::MotionTable, false},
                                 {"eor/portal", 0x0E000099, DatFileType::Table, false},
                                 {"eor/portal", 0x01000001, DatFileType::Model, false},
                                 {"eor/cell", SkillTable::FILE_ID, DatFileType::Table, false},
                                 {"EOR/PORTAL", SkillTable::FILE_ID, DatFileType::Table, false},
                                 {"eor/portal ", SkillTable::FILE_ID, DatFileType::Table, false},
                             });
}

TEST(StripperManifest, RulesMatchOnEveryPresentMemberAndNoRulesKeepNothing) {
  EXPECT_FALSE(StripperManifest{}.should_keep_entry("eor/portal", 0x01000001, DatFileType::Model));

  StripperManifest manifest;
  manifest.rules.push_back(KeepRule{"eor/cell", 0xA9B4FFFE, DatFileType::Table});
  expect_decisions(manifest, {
                                 {"eor/cell", 0xA9B4FFFE, DatFileType::Table, true},
                                 {"eor/cell", 0xA9B4FFFE, DatFileType::Model, false},
                                 {"eor/cell", 0xA9B4FFFF, DatFileType::Table, false},
                                 {"eor/portal", 0xA9B4FFFE, DatFileType::Table, false},
                             });
  // An empty rule matches everything.
  manifest.rules.push_back(KeepRule{});
  EXPECT_TRUE(manifest.should_keep_entry("anything", 7, DatFileType::Audio));
}

}  // namespace
}  // namespace quillmarsh::dat
