#include <gtest/gtest.h>

#include "checks.hpp"
#include "quillmarsh/dat/file_type/spell_table.hpp"
#include "quillmarsh/dat/manifest.hpp"
#include "quillmarsh/tools/dat2qma.hpp"

namespace quillmarsh::checks {

using dat::DatFileType;

void logic_only_keeps_logic_kinds() {
  const auto manifest = tools::manifest_for_profile(tools::ConversionProfile::Pruned);
  ASSERT_TRUE(manifest.has_value());
  EXPECT_TRUE(manifest->should_keep_entry("eor/portal", 0x01000001, DatFileType::Model));
  EXPECT_TRUE(manifest->should_keep_entry("eor/portal", 0x0E000099, DatFileType::Table));
  EXPECT_TRUE(manifest->should_keep_entry("eor/portal", 0x0A000001, DatFileType::Audio));
  EXPECT_TRUE(manifest->should_keep_entry("eor/cell", 0x0E000099, DatFileType::Table));
  EXPECT_FALSE(manifest->should_keep_entry("eor/portal", 0x10000001, DatFileType::Clothing));
  EXPECT_FALSE(manifest->should_keep_entry("eor/portal", 0x09000001, DatFileType::MotionTable));
  EXPECT_FALSE(manifest->should_keep_entry("eor/portal", 0x03000003, DatFileType::Animation));
}

void micro_keeps_only_essential_tables() {
  const auto manifest = tools::manifest_for_profile(tools::ConversionProfile::Micro);
  ASSERT_TRUE(manifest.has_value());
  for (std::uint32_t id : {dat::CharGen::FILE_ID, 0x0E000007U, dat::SkillTable::FILE_ID, dat::SpellTable::FILE_ID,
                           dat::XpTable::FILE_ID}) {
    EXPECT_TRUE(manifest->should_keep_entry("eor/portal", id, DatFileType::Table)) << std::hex << id;
  }
  EXPECT_TRUE(manifest->should_keep_entry("eor/portal", 0x0E000002, DatFileType::Model));  // rules name no kind
  EXPECT_FALSE(manifest->should_keep_entry("eor/portal", 0x09000001, DatFileType::MotionTable));
  EXPECT_FALSE(manifest->should_keep_entry("eor/portal", 0x0E000099, DatFileType::Table));
  EXPECT_FALSE(manifest->should_keep_entry("eor/cell", dat::SkillTable::FILE_ID, DatFileType::Table));
  EXPECT_FALSE(manifest->should_keep_entry("EOR/PORTAL", dat::SkillTable::FILE_ID, DatFileType::Table));
}

void explicit_namespace_wins_over_hint_and_file_name() {
  auto ns = tools::resolve_namespace_hint("derived/test", "client_portal.dat", "eor/portal");
  ASSERT_TRUE(ns);
  EXPECT_EQ(*ns, "derived/test");
  auto hinted = tools::resolve_namespace_hint(std::nullopt, "client_portal.dat", "eor/cell");
  ASSERT_TRUE(hinted);
  EXPECT_EQ(*hinted, "eor/cell");
}

void namespace_falls_back_to_file_stem() {
  const std::pair<const char*, std::string_view> cases[] = {
      {"client_portal.dat", "eor/portal"},
      {"client_cell_1.dat", "eor/cell"},
      {"CLIENT_CELL_1.DAT", "eor/cell"},
      {"portal.cell", "eor/portal"},
      {"/data/cell/client_portal.dat", "eor/portal"},
  };
  for (const auto& [path, expected] : cases) {
    auto ns = tools::resolve_namespace_hint(std::nullopt, path, std::nullopt);
    ASSERT_TRUE(ns) << path;
    EXPECT_EQ(*ns, expected) << path;
  }
}

void invalid_explicit_namespace_is_rejected() {
  auto empty = tools::resolve_namespace_hint("", "client_portal.dat", std::nullopt);
  ASSERT_FALSE(empty);
  const auto* validation = empty.error().get_if<tools::ToolError::Validation>();
  ASSERT_NE(validation, nullptr);
  EXPECT_EQ(validation->text, "Invalid namespace: namespace label cannot be empty");

  const std::string long_label(33, 'n');
  auto too_long = tools::resolve_namespace_hint(long_label, "client_portal.dat", std::nullopt);
  ASSERT_FALSE(too_long);
  ASSERT_NE(too_long.error().get_if<tools::ToolError::Validation>(), nullptr);
  EXPECT_EQ(too_long.error().get_if<tools::ToolError::Validation>()->text,
            "Invalid namespace: namespace label '" + long_label + "' exceeds 32 bytes");
}

}  // namespace quillmarsh::checks
