#include "quillmarsh/dat/resource.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

namespace quillmarsh::dat {
namespace {

ResourceNamespace::Raw raw_of(std::string_view s) {
  ResourceNamespace::Raw raw{};
  std::copy(s.begin(), s.end(), raw.begin());
  return raw;
}

TEST(ResourceNamespace, LabelIsZeroPaddedAndRoundTrips) {
  auto ns = ResourceNamespace::create(EOR_PORTAL_NAMESPACE);
  ASSERT_TRUE(ns);
  EXPECT_EQ(ns->bytes(), raw_of("eor/portal"));
  EXPECT_EQ(ns->label(), "eor/portal");
  auto back = ResourceNamespace::from_bytes(ns->bytes());
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, *ns);

  const std::string full(32, 'n');
  auto longest = ResourceNamespace::create(full);
  ASSERT_TRUE(longest);
  EXPECT_EQ(longest->label(), full);
  EXPECT_TRUE(ResourceNamespace::from_bytes(longest->bytes()));
}

TEST(ResourceNamespace, CreateRejectsInvalidLabels) {
  const std::string too_long(33, 'n');
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"", "namespace label cannot be empty"},
      {too_long, "namespace label '" + too_long + "' exceeds 32 bytes"},
      {std::string("eor\0cell", 8), std::string("namespace label 'eor\0cell' contains a NUL byte", 46)},
  };
  for (const auto& [label, reason] : cases) {
    auto ns = ResourceNamespace::create(label);
    ASSERT_FALSE(ns) << label;
    const auto* e = ns.error().get_if<DatError::InvalidNamespace>();
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(e->reason, reason);
  }
  // The byte length counts, not characters: 11 three-byte characters are 33 bytes.
  std::string wide;
  for (int i = 0; i < 11; ++i) wide += "\xE2\x82\xAC";
  EXPECT_FALSE(ResourceNamespace::create(wide));
}

TEST(ResourceNamespace, FromBytesChecksInOrder) {
  ResourceNamespace::Raw trailing = raw_of("eor");
  trailing[20] = 'x';
  ResourceNamespace::Raw bad_utf8{};
  bad_utf8[0] = 0xFF;
  ResourceNamespace::Raw bad_utf8_and_trailing = bad_utf8;
  bad_utf8_and_trailing[2] = 'x';

  EXPECT_EQ(ResourceNamespace::from_bytes(trailing).error().to_string(),
            "Invalid namespace: namespace bytes must be zero-padded without embedded trailing data");
  EXPECT_EQ(ResourceNamespace::from_bytes(bad_utf8_and_trailing).error().to_string(),
            "Invalid namespace: namespace bytes must be zero-padded without embedded trailing data");
  EXPECT_EQ(ResourceNamespace::from_bytes(ResourceNamespace::Raw{}).error().to_string(),
            "Invalid namespace: namespace label cannot be empty");
  auto utf8 = ResourceNamespace::from_bytes(bad_utf8);
  ASSERT_FALSE(utf8);
  EXPECT_THAT(utf8.error().to_string(),
              ::testing::StartsWith("Invalid namespace: namespace bytes are not valid UTF-8: "));
  EXPECT_THAT(utf8.error().to_string(), ::testing::HasSubstr("index 0"));
}

TEST(ResourceNamespace, OrdersByUnsignedBytes) {
  const auto cell = *ResourceNamespace::create(EOR_CELL_NAMESPACE);
  const auto portal = *ResourceNamespace::create(EOR_PORTAL_NAMESPACE);
  const auto core = *ResourceNamespace::create(CORE_NAMESPACE);
  const auto eor = *ResourceNamespace::create("eor");
  const auto high = *ResourceNamespace::create("\xC3\xA9");  // a byte >= 0x80 sorts after ASCII
  EXPECT_LT(cell, portal);
  EXPECT_LT(portal, core);
  EXPECT_LT(eor, cell);  // a prefix sorts first
  EXPECT_LT(core, high);
}

TEST(KeepSet, PairsAreDistinctByNamespaceAndId) {
  KeepSet set;
  set.insert({"eor/portal", 1});
  set.insert({"eor/cell", 1});
  set.insert({"eor/portal", 1});
  EXPECT_EQ(set.size(), 2U);
  EXPECT_TRUE(set.contains(ResourceId{"eor/cell", 1}));
  EXPECT_FALSE(set.contains(ResourceId{"eor/cell", 2}));
}

}  // namespace
}  // namespace quillmarsh::dat
