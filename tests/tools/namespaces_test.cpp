#include <gtest/gtest.h>

#include "quillmarsh/tools/dat2qma.hpp"

namespace quillmarsh::tools {
namespace {

TEST(ResolveNamespaceHint, ExplicitThenHintThenFileStem) {
  struct Case {
    std::optional<std::string_view> explicit_;
    std::filesystem::path input;
    std::optional<std::string_view> hint;
    std::string expected;
  };
  const Case cases[] = {
      {"derived/test", "client_portal.dat", "eor/portal", "derived/test"},
      {std::nullopt, "client_portal.dat", std::nullopt, "eor/portal"},
      {std::nullopt, "client_cell_1.dat", std::nullopt, "eor/cell"},
      {std::nullopt, "CLIENT_CELL_1.DAT", std::nullopt, "eor/cell"},
      {std::nullopt, "portal.cell", std::nullopt, "eor/portal"},
      {std::nullopt, "/data/cell/client_portal.dat", std::nullopt, "eor/portal"},
      {std::nullopt, "client_portal.dat", "eor/cell", "eor/cell"},
      // A hint is not validated here.
      {std::nullopt, "client_cell_1.dat", "", ""},
      {std::nullopt, "/data/MyCeLL.dat.bak", std::nullopt, "eor/cell"},
      {std::nullopt, ".cell", std::nullopt, "eor/cell"},
      {std::nullopt, "data/cells/", std::nullopt, "eor/cell"},
      {std::nullopt, "data/cells/.", std::nullopt, "eor/cell"},
      {std::nullopt, "", std::nullopt, "eor/portal"},
      {std::nullopt, "/", std::nullopt, "eor/portal"},
      {std::nullopt, "cell/..", std::nullopt, "eor/portal"},
      {std::nullopt, "cell\xFF.dat", std::nullopt, "eor/portal"},
  };
  for (const Case& c : cases) {
    auto resolved = resolve_namespace_hint(c.explicit_, c.input, c.hint);
    ASSERT_TRUE(resolved) << c.input << ": " << resolved.error().to_string();
    EXPECT_EQ(*resolved, c.expected) << c.input;
    if (!c.explicit_ && !c.hint) {
      EXPECT_EQ(infer_input_namespace_fallback(c.input), c.expected) << c.input;
    }
  }
}

TEST(ResolveNamespaceHint, InvalidExplicitNamespaceIsAValidationError) {
  auto empty = resolve_namespace_hint("", "client_cell_1.dat", "eor/cell");
  ASSERT_FALSE(empty);
  const auto* validation = empty.error().get_if<ToolError::Validation>();
  ASSERT_NE(validation, nullptr);
  EXPECT_EQ(validation->text, "Invalid namespace: namespace label cannot be empty");

  const std::string long_label(33, 'a');
  auto too_long = resolve_namespace_hint(long_label, "client_portal.dat", std::nullopt);
  ASSERT_FALSE(too_long);
  validation = too_long.error().get_if<ToolError::Validation>();
  ASSERT_NE(validation, nullptr);
  EXPECT_EQ(validation->text.rfind("Invalid namespace: ", 0), 0U);
  EXPECT_NE(validation->text.find(long_label), std::string::npos);
  EXPECT_NE(validation->text.find("32"), std::string::npos);

  // 32 bytes is still a valid label.
  auto longest = resolve_namespace_hint(std::string(32, 'a'), "x.dat", std::nullopt);
  ASSERT_TRUE(longest);
  EXPECT_EQ(*longest, std::string(32, 'a'));
}

TEST(ManifestForProfile, PrunedMicroAndFull) {
  using dat::DatFileType;
  auto pruned = manifest_for_profile(ConversionProfile::Pruned);
  ASSERT_TRUE(pruned);
  EXPECT_TRUE(pruned->should_keep_entry("eor/portal", 0x01000001, DatFileType::Model));
  EXPECT_FALSE(pruned->should_keep_entry("eor/portal", 0x10000001, DatFileType::Clothing));
  EXPECT_FALSE(pruned->should_keep_entry("eor/portal", 0x09000001, DatFileType::MotionTable));

  auto micro = manifest_for_profile(ConversionProfile::Micro);
  ASSERT_TRUE(micro);
  EXPECT_TRUE(micro->should_keep_entry("eor/portal", dat::SkillTable::FILE_ID, DatFileType::Table));
  EXPECT_FALSE(micro->should_keep_entry("eor/portal", 0x09000001, DatFileType::MotionTable));
  EXPECT_FALSE(micro->should_keep_entry("eor/portal", 0x01000001, DatFileType::Model));

  EXPECT_FALSE(manifest_for_profile(ConversionProfile::Full));
}

}  // namespace
}  // namespace quillmarsh::tools
