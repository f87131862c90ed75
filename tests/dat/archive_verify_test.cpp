#include "quillmarsh/dat/archive_verify.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "archive_test_support.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::open_bytes;
using quillmarsh::testing::read_file;
using quillmarsh::testing::TempDir;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

// A sound archive written by the writer. Index order: cell:9 (compressed), portal:1 (uncompressed),
// portal:5 (compressed), portal:7 (uncompressed, empty).
Bytes sound_archive() {
  TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "a.qma");
  EXPECT_TRUE(writer);
  EXPECT_TRUE(writer->add("eor/portal", 5, 0x0E, Bytes(4096, 0)));
  EXPECT_TRUE(writer->add("eor/cell", 9, 0xA9, Bytes(2048, 7)));
  EXPECT_TRUE(writer->add("eor/portal", 1, 0x01, Bytes{1, 2, 3}));
  EXPECT_TRUE(writer->add("eor/portal", 7, 0x01, Bytes{}));
  EXPECT_TRUE(std::move(*writer).finish());
  return read_file(dir / "a.qma");
}

std::uint64_t index_offset(const Bytes& archive) {
  std::uint64_t v = 0;
  std::memcpy(&v, archive.data() + 12, 8);
  return v;
}
std::uint8_t* record(Bytes& archive, std::size_t position) {
  return archive.data() + index_offset(archive) + QMA_ENTRY_SIZE * position;
}
void put_u32(std::uint8_t* at, std::uint32_t v) { std::memcpy(at, &v, 4); }
void put_u64(std::uint8_t* at, std::uint64_t v) { std::memcpy(at, &v, 8); }
std::uint32_t get_u32(const std::uint8_t* at) {
  std::uint32_t v = 0;
  std::memcpy(&v, at, 4);
  return v;
}

std::vector<ArchiveProblem> verify_bytes(Bytes bytes) {
  auto reader = open_bytes(std::move(bytes));
  EXPECT_TRUE(reader) << reader.error().to_string();
  if (!reader) return {};
  return verify_archive(*reader);
}

TEST(VerifyArchive, SoundArchiveHasNoProblems) { EXPECT_THAT(verify_bytes(sound_archive()), IsEmpty()); }

TEST(VerifyArchive, EmptyArchiveHasNoProblems) {
  TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "e.qma");
  ASSERT_TRUE(writer);
  ASSERT_TRUE(std::move(*writer).finish());
  EXPECT_THAT(verify_bytes(read_file(dir / "e.qma")), IsEmpty());
}

struct Damage {
  const char* name;
  std::function<void(Bytes&)> apply;
  std::uint32_t position;
  const char* namespace_;
  std::uint32_t file_id;
  const char* message;
};

void PrintTo(const Damage& d, std::ostream* os) { *os << d.name; }

class VerifyDamage : public ::testing::TestWithParam<Damage> {};

TEST_P(VerifyDamage, ReportsTheEntry) {
  const Damage& d = GetParam();
  Bytes archive = sound_archive();
  d.apply(archive);
  const auto problems = verify_bytes(std::move(archive));
  ASSERT_EQ(problems.size(), 1U) << (problems.empty() ? "" : problems.back().to_string());
  EXPECT_EQ(problems[0].index_position, d.position);
  ASSERT_TRUE(problems[0].namespace_.has_value());
  EXPECT_EQ(*problems[0].namespace_, d.namespace_);
  EXPECT_EQ(problems[0].file_id, d.file_id);
  EXPECT_THAT(problems[0].message, HasSubstr(d.message));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, VerifyDamage,
    ::testing::Values(
        // portal:7 renumbered 3 now sorts before portal:5.
        Damage{"OutOfOrder", [](Bytes& a) { put_u32(record(a, 3) + 32, 3); }, 3, "eor/portal", 3,
               "index out of order: sorts before index 2 (eor/portal:0x00000005)"},
        Damage{"Duplicate", [](Bytes& a) { put_u32(record(a, 3) + 32, 5); }, 3, "eor/portal", 5,
               "duplicate of index 2"},
        // The first portal record relabelled "eor/celm": still in order, but inside the portal span.
        Damage{"NamespaceOutsideItsSpan", [](Bytes& a) { std::memcpy(record(a, 1), "eor/celm\0\0", 10); }, 1,
               "eor/celm", 1, "namespace differs from that of its span 'eor/portal' (index 1..3)"},
        Damage{"RangePastDataArea", [](Bytes& a) { put_u64(record(a, 1) + 40, index_offset(a) - 2); }, 1, "eor/portal",
               1, "stored range out of bounds"},
        Damage{"RangeInHeader", [](Bytes& a) { put_u64(record(a, 1) + 40, 4); }, 1, "eor/portal", 1,
               "stored range out of bounds: offset 4 + comp_size 3"},
        Damage{"UncompressedSizeMismatch", [](Bytes& a) { put_u32(record(a, 1) + 48, 4); }, 1, "eor/portal", 1,
               "uncompressed entry has comp_size 3 but size 4"},
        Damage{"CompressedNotSmaller", [](Bytes& a) { put_u32(record(a, 2) + 48, get_u32(record(a, 2) + 52)); }, 2,
               "eor/portal", 5, "compressed entry is not smaller than its data"},
        Damage{"CompressedFrameDamaged",
               [](Bytes& a) {
                 const std::uint32_t offset = get_u32(record(a, 2) + 40);    // the low half of the u64
                 for (std::size_t i = 0; i < 4; ++i) a[offset + i] ^= 0xFF;  // the frame's magic
               },
               2, "eor/portal", 5, "Failed to recover compressed file 00000005"},
        Damage{"CompressedToWrongSize", [](Bytes& a) { put_u32(record(a, 0) + 48, 2049); }, 0, "eor/cell", 9,
               "Decompressed size mismatch for 0x00000009: expected 2049, got 2048"}),
    [](const ::testing::TestParamInfo<Damage>& info) { return std::string(info.param.name); });

TEST(VerifyArchive, EveryDamagedEntryIsReported) {
  Bytes archive = sound_archive();
  put_u32(record(archive, 1) + 48, 4);  // portal:1 size
  put_u32(record(archive, 3) + 32, 5);  // portal:7 becomes a duplicate of portal:5
  const auto problems = verify_bytes(std::move(archive));
  ASSERT_EQ(problems.size(), 2U);
  EXPECT_EQ(problems[0].to_string(), "index 1 (eor/portal:0x00000001): uncompressed entry has comp_size 3 but size 4");
  EXPECT_EQ(problems[1].to_string(), "index 3 (eor/portal:0x00000005): duplicate of index 2");
}

// Counts positional reads, to show the index is not read one record at a time.
class CountingFile final : public FileExtPolyfill {
 public:
  CountingFile(Bytes bytes, std::size_t& reads) : inner_(std::move(bytes)), reads_(reads) {}
  tl::expected<std::uint64_t, IoError> len_compat() const override { return inner_.len_compat(); }
  tl::expected<void, IoError> read_exact_at_compat(std::span<std::uint8_t> buf, std::uint64_t offset) const override {
    ++reads_;
    return inner_.read_exact_at_compat(buf, offset);
  }

 private:
  MemoryFile inner_;
  std::size_t& reads_;
};

TEST(VerifyArchive, ReadsTheIndexInChunks) {
  TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "big.qma");
  ASSERT_TRUE(writer);
  writer->compress = false;
  for (std::uint32_t id = 0; id < 20000; ++id) ASSERT_TRUE(writer->add("eor/portal", id, 1, Bytes{1}));
  ASSERT_TRUE(std::move(*writer).finish());
  std::size_t reads = 0;
  auto reader = QmaReader::from_source(std::make_unique<CountingFile>(read_file(dir / "big.qma"), reads));
  ASSERT_TRUE(reader);
  reads = 0;
  std::vector<std::uint32_t> progress;
  EXPECT_THAT(verify_archive(*reader, [&](std::uint32_t done, std::uint32_t) { progress.push_back(done); }), IsEmpty());
  EXPECT_LE(reads, 4U);  // 20000 records of 60 bytes in chunks of 16384
  EXPECT_EQ(progress, (std::vector<std::uint32_t>{16384, 20000}));
}

TEST(ScanIndexRecords, VisitsARangeInOrderAndStopsWhenAsked) {
  auto reader = open_bytes(sound_archive());
  ASSERT_TRUE(reader);
  std::vector<std::uint32_t> ids;
  ASSERT_TRUE(scan_index_records(*reader, 1, 3, [&](std::uint32_t, const QmaEntry& e) {
    ids.push_back(e.file_id);
    return true;
  }));
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{1, 5, 7}));

  ids.clear();
  ASSERT_TRUE(scan_index_records(*reader, 0, 4, [&](std::uint32_t, const QmaEntry& e) {
    ids.push_back(e.file_id);
    return ids.size() < 2;
  }));
  EXPECT_EQ(ids, (std::vector<std::uint32_t>{9, 1}));

  auto outside = scan_index_records(*reader, 2, 3, [](std::uint32_t, const QmaEntry&) { return true; });
  ASSERT_FALSE(outside);
  EXPECT_THAT(outside.error().to_string(), HasSubstr("out of range"));
}

TEST(PrintableNamespace, EscapesBytesThatAreNotPrintableAscii) {
  ResourceNamespace::Raw raw{};
  std::memcpy(raw.data(), "a\x01\xC3\xA9/b\\", 7);
  EXPECT_EQ(printable_namespace(raw), "a\\x01\\xC3\\xA9/b\\x5C");
}

}  // namespace
}  // namespace quillmarsh::dat
