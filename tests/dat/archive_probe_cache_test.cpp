// Lookups from a plain file keep the ids of the first probes of each search. A kept id must never stand
// in for another record's: over an index far larger than the cache, in several namespaces, every
// lookup must agree with the mapped reader (which reads the index in place), cold and warm, and from
// several threads at once.
#include "../../src/dat/archive_probe_cache.hpp"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "archive_test_support.hpp"
#include "quillmarsh/dat/archive.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::TempDir;

using detail::ProbeCache;
using detail::SearchProbe;

// A made-up search position for a probe: distinct for distinct (span, node).
std::uint32_t position_of(std::uint32_t span_start, std::uint32_t node) { return span_start + node * 3; }

TEST(ProbeCache, SizedByTheRecordCountWithinBounds) {
  EXPECT_EQ(ProbeCache(0).slots(), 64U);
  EXPECT_EQ(ProbeCache(1000).slots(), 2048U);
  EXPECT_EQ(ProbeCache(1024).slots(), 2048U);
  EXPECT_EQ(ProbeCache(QMA_MAX_ENTRIES).slots(), ProbeCache::MAX_SLOTS);
}

TEST(ProbeCache, KeepsEveryTopProbeOfOneSearchAndPrefersTheTopOnCollisions) {
  const ProbeCache cache(QMA_MAX_ENTRIES);
  const std::uint32_t top = 1U << ProbeCache::LEVELS;
  EXPECT_FALSE(cache.find(SearchProbe{0, 1, 0}).has_value());
  // One span fills every slot, and each probe keeps its own id.
  for (std::uint32_t node = 1; node < top; ++node) cache.remember({0, node, position_of(0, node)}, node ^ 0xABCD0000U);
  for (std::uint32_t node = 1; node < top; ++node) {
    EXPECT_EQ(cache.find({0, node, position_of(0, node)}), node ^ 0xABCD0000U) << node;
  }
  // A second span's deepest kept probes collide with the first span's: the shallower ones stay.
  const std::uint32_t other = 5000;
  for (std::uint32_t node = top / 2; node < top; ++node) cache.remember({other, node, position_of(other, node)}, 1);
  for (std::uint32_t node = 1; node < top / 2; ++node) {
    EXPECT_EQ(cache.find({0, node, position_of(0, node)}), node ^ 0xABCD0000U) << node;
  }
  // Its first probe displaces whatever sat in its slot.
  cache.remember({other, 1, position_of(other, 1)}, 77);
  EXPECT_EQ(cache.find({other, 1, position_of(other, 1)}), 77U);
  // A probe at another position never matches, even in the same slot.
  EXPECT_FALSE(cache.find({other, 1, position_of(other, 1) + 1}).has_value());
  // Deep probes and positions beyond what a word holds are not kept.
  cache.remember({0, top, 1}, 5);
  EXPECT_FALSE(cache.find({0, top, 1}).has_value());
  cache.remember({0, 1, 0x7FFFFFFU}, 5);
  EXPECT_FALSE(cache.find({0, 1, 0x7FFFFFFU}).has_value());
  cache.remember({0, 1, 0x7FFFFFEU}, 0xFFFFFFFFU);
  EXPECT_EQ(cache.find({0, 1, 0x7FFFFFEU}), 0xFFFFFFFFU);
}

class ProbeCacheLookups : public ::testing::Test {
 protected:
  static constexpr std::uint32_t PER_NAMESPACE = 20000;  // searched nine levels deep before the last read
  static inline const std::vector<std::string> NAMESPACES = {"eor/cell", "eor/portal", "mod/ui"};

  static std::uint32_t id_of(std::size_t ns, std::uint32_t k) { return 3 * k + static_cast<std::uint32_t>(ns); }

  void SetUp() override {
    auto writer = QmaStreamWriter::create(dir_ / "big.qma");
    ASSERT_TRUE(writer);
    writer->compress = false;
    for (std::size_t ns = 0; ns < NAMESPACES.size(); ++ns) {
      for (std::uint32_t k = 0; k < PER_NAMESPACE; ++k) {
        ASSERT_TRUE(writer->add(NAMESPACES[ns], id_of(ns, k), 0, {}));
      }
    }
    ASSERT_TRUE(std::move(*writer).finish());
  }

  // Every id of every namespace, present or not, as (namespace, id, index offset or -1) from `reader`.
  static std::vector<std::int64_t> answers(const QmaReader& reader, std::uint32_t stride) {
    std::vector<std::int64_t> out;
    for (const auto& ns : NAMESPACES) {
      for (std::uint32_t id = 0; id < 3 * PER_NAMESPACE + 3; id += stride) {
        auto entry = reader.find_entry_in_namespace(ns, id);
        out.push_back(entry ? static_cast<std::int64_t>(entry->file_id) : -1);
      }
    }
    return out;
  }

  TempDir dir_;
};

TEST_F(ProbeCacheLookups, ColdAndWarmLookupsMatchTheMappedReader) {
  auto mapped = QmaReader::open_mapped(dir_ / "big.qma");
  auto plain = QmaReader::open(dir_ / "big.qma");
  ASSERT_TRUE(mapped && plain);
  const auto expected = answers(*mapped, 1);
  EXPECT_EQ(answers(*plain, 1), expected);  // cold, then warm
  EXPECT_EQ(answers(*plain, 1), expected);
  // Found ids are exactly the written ones.
  std::size_t found = 0;
  for (const auto a : expected) found += a >= 0;
  EXPECT_EQ(found, NAMESPACES.size() * PER_NAMESPACE);
}

TEST_F(ProbeCacheLookups, ThreadsSharingOneReaderAgree) {
  auto mapped = QmaReader::open_mapped(dir_ / "big.qma");
  auto plain = QmaReader::open(dir_ / "big.qma");
  ASSERT_TRUE(mapped && plain);
  const auto expected = answers(*mapped, 7);
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      if (answers(*plain, 7) != expected) ++mismatches;
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
}

}  // namespace
}  // namespace quillmarsh::dat
