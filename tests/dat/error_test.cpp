#include "quillmarsh/dat/error.hpp"

#include <gtest/gtest.h>

namespace quillmarsh::dat {
namespace {

TEST(DatError, DisplayTexts) {
  const BinError bin = BinError(IoError::unexpected_eof()).with_context("While parsing field 'x' in Vector3", "f", 1);
  const std::vector<std::pair<DatError, std::string>> cases = {
      {IoError::unexpected_eof(), "IO error: failed to fill whole buffer"},
      {bin, "Binary read error: failed to fill whole buffer\n  While parsing field 'x' in Vector3"},
      {DatError::NotFound{0x4D4F544B}, "File ID 4D4F544B not found in provider"},
      {DatError::NotFound{0x1}, "File ID 00000001 not found in provider"},
      {DatError::DuplicateId{0xABC}, "Duplicate File ID 00000ABC detected"},
      {DatError::DuplicateNamespacedId{"quillmarsh/core", 0x0E000004},
       "Duplicate namespaced file quillmarsh/core:0E000004 detected"},
      {DatError::InvalidMagic{"QMA"}, "Invalid magic for format: QMA"},
      {DatError::UnsupportedVersion{3}, "Unsupported version: 3"},
      {DatError::InvalidNamespace{"namespace label cannot be empty"},
       "Invalid namespace: namespace label cannot be empty"},
      {DatError::Corruption{"QMA namespace span overflow"}, "Corruption detected: QMA namespace span overflow"},
      {DatError::DecompressionFailed{0x4D4F544B}, "Failed to recover compressed file 4D4F544B"},
      {DatError::PathError{"/tmp/x.qma", IoError::from_errno(ENOENT)},
       "Failed to open file at /tmp/x.qma: No such file or directory"},
      {DatError::Other{"anything"}, "Other error: anything"},
  };
  for (const auto& [error, text] : cases) EXPECT_EQ(error.to_string(), text);
}

TEST(DatError, ConversionsKeepTheSourceWhole) {
  const DatError io = IoError::from_errno(EACCES);
  ASSERT_NE(io.get_if<DatError::Io>(), nullptr);
  EXPECT_EQ(io.get_if<DatError::Io>()->error.os_errno, EACCES);

  const DatError bin = BinError(BinError::Custom{7, "bad hook"}).with_context("While parsing field 'a' in B", "f", 2);
  const auto* b = bin.get_if<DatError::BinRead>();
  ASSERT_NE(b, nullptr);
  EXPECT_EQ(b->error.context_messages(), std::vector<std::string>{"While parsing field 'a' in B"});
  EXPECT_EQ(b->error.root_cause().get_if<BinError::Custom>()->position, 7U);
}

TEST(DatError, DebugFormNamesVariantAndMembers) {
  const DatError dup = DatError::DuplicateNamespacedId{"eor/portal", 0x0E000004};
  EXPECT_NE(dup.debug_string().find("DuplicateNamespacedId"), std::string::npos);
  EXPECT_NE(dup.debug_string().find("namespace"), std::string::npos);
  EXPECT_NE(dup.debug_string().find("file_id"), std::string::npos);
  const DatError path = DatError::PathError{"a.qma", IoError::from_errno(ENOENT)};
  EXPECT_NE(path.debug_string().find("path"), std::string::npos);
  EXPECT_NE(path.debug_string().find("source"), std::string::npos);
}

}  // namespace
}  // namespace quillmarsh::dat
