#include <fmt/format.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <atomic>
#include <limits>
#include <thread>

#include "archive_test_support.hpp"
#include "quillmarsh/dat/archive.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::fresh_level3_frame;
using quillmarsh::testing::hand_archive;
using quillmarsh::testing::Le;
using quillmarsh::testing::NsRecord;
using quillmarsh::testing::open_bytes;
using quillmarsh::testing::qma_entry;
using quillmarsh::testing::qma_header;
using quillmarsh::testing::TempDir;

Bytes with_byte(Bytes b, std::size_t at, std::uint8_t v) {
  b.at(at) = v;
  return b;
}

Bytes header_only(std::uint32_t entry_count, std::uint64_t index_offset, std::uint32_t metadata_size,
                  std::size_t total_size) {
  Le b;
  qma_header(b, entry_count, index_offset, metadata_size);
  return b.zeros(total_size - b.size()).take();
}

// A valid archive whose index is `entry_count` zeroed records behind one "eor/portal" span.
Bytes one_span(std::uint32_t entry_count) { return hand_archive(entry_count, {{"eor/portal", 0, entry_count}}); }

struct OpenCase {
  const char* name;
  Bytes bytes;
  std::string text;
};

TEST(QmaReaderOpen, StructuralDefectsAreRejectedWithTheirTexts) {
  const Bytes empty = hand_archive(0, {});
  Bytes truncated = one_span(1);
  truncated.pop_back();
  const std::uint64_t max64 = std::numeric_limits<std::uint64_t>::max();

  const std::vector<OpenCase> cases = {
      {"magic byte 0", with_byte(empty, 0, 'X'), "Invalid magic for format: QMA"},
      {"magic byte 1", with_byte(empty, 1, 'X'), "Invalid magic for format: QMA"},
      {"magic byte 2", with_byte(empty, 2, 'X'), "Invalid magic for format: QMA"},
      {"magic zero byte", with_byte(empty, 3, 1), "Invalid magic for format: QMA"},
      {"version 1", with_byte(empty, 4, 1), "Unsupported version: 1"},
      {"version 3", with_byte(empty, 4, 3), "Unsupported version: 3"},
      {"placeholder", header_only(0, 0, 0, 24), "Corruption detected: QMA metadata offset 0 is within header area"},
      {"index size overflow", header_only(71'582'789, 28, 4, 28), "Corruption detected: QMA index size overflow"},
      // The largest count passes the size step and fails only on the file's length.
      {"largest count", header_only(71'582'788, 28, 4, 28),
       "Corruption detected: QMA index extends beyond file size (4294967308 > 28)"},
      {"index range overflow", header_only(1, max64 - 10, 4, 28), "Corruption detected: QMA index range overflow"},
      {"index one byte past the end", truncated, "Corruption detected: QMA index extends beyond file size (128 > 127)"},
      {"metadata underflow", header_only(0, 28, 29, 28), "Corruption detected: QMA metadata offset underflow"},
      {"metadata inside header", header_only(0, 28, 8, 28),
       "Corruption detected: QMA metadata offset 20 is within header area"},
      {"entries without metadata", header_only(1, 24, 0, 84),
       "Corruption detected: QMA v2 archives with entries must include namespace metadata"},
      {"count needs more metadata", Le().append(header_only(1, 28, 4, 24)).u32(1).zeros(60).take(),
       "Corruption detected: QMA metadata size mismatch: header says 4, metadata contents require 44"},
      {"metadata longer than its records", header_only(0, 32, 8, 32),
       "Corruption detected: QMA metadata size mismatch: header says 8, metadata contents require 4"},
      {"unsorted", hand_archive(2, {{"eor/portal", 0, 1}, {"eor/cell", 1, 1}}),
       "Corruption detected: QMA namespace metadata is not strictly sorted"},
      {"same namespace twice", hand_archive(2, {{"eor/portal", 0, 1}, {"eor/portal", 1, 1}}),
       "Corruption detected: QMA namespace metadata is not strictly sorted"},
      {"gap between spans", hand_archive(3, {{"eor/cell", 0, 1}, {"eor/portal", 2, 1}}),
       "Corruption detected: QMA namespace metadata is not contiguous: expected start 1, found 2"},
      {"first span not at 0", hand_archive(2, {{"eor/cell", 1, 1}}),
       "Corruption detected: QMA namespace metadata is not contiguous: expected start 0, found 1"},
      {"span overflow", hand_archive(2, {{"eor/cell", 0, 1}, {"eor/portal", 1, 0xFFFFFFFF}}),
       "Corruption detected: QMA namespace span overflow"},
      {"span past the index", hand_archive(2, {{"eor/portal", 0, 3}}),
       "Corruption detected: QMA namespace span exceeds total entry count (3 > 2)"},
      {"index not covered", hand_archive(2, {{"eor/portal", 0, 1}}),
       "Corruption detected: QMA namespace metadata covered 1 entries but header declares 2"},
      {"namespace with trailing data", hand_archive(1, {{std::string("eor\0x", 5), 0, 1}}),
       "Invalid namespace: namespace bytes must be zero-padded without embedded trailing data"},
      {"empty namespace record", hand_archive(1, {{"", 0, 1}}), "Invalid namespace: namespace label cannot be empty"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto reader = open_bytes(c.bytes);
    ASSERT_FALSE(reader);
    EXPECT_EQ(reader.error().to_string(), c.text);
  }
}

TEST(QmaReaderOpen, NamespaceRecordThatIsNotUtf8) {
  Bytes bytes = hand_archive(1, {{"x", 0, 1}});
  bytes.at(28) = 0xFF;  // first byte of the record's namespace
  auto reader = open_bytes(bytes);
  ASSERT_FALSE(reader);
  ASSERT_NE(reader.error().get_if<DatError::InvalidNamespace>(), nullptr);
  EXPECT_THAT(reader.error().to_string(),
              ::testing::StartsWith("Invalid namespace: namespace bytes are not valid UTF-8: "));
}

TEST(QmaReaderOpen, ShortFilesFailWithEndOfFile) {
  auto reader = open_bytes(Bytes(23, 0));
  ASSERT_FALSE(reader);
  const auto* io = reader.error().get_if<DatError::Io>();
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->error.kind, IoErrorKind::UnexpectedEof);
  EXPECT_EQ(reader.error().to_string(), "IO error: failed to fill whole buffer");

  // A metadata block too small for its count is a bare read failure, without field frames.
  for (std::uint32_t size : {1U, 3U}) {
    auto r = open_bytes(header_only(0, 24 + size, size, 24 + size));
    ASSERT_FALSE(r);
    const auto* bin = r.error().get_if<DatError::BinRead>();
    ASSERT_NE(bin, nullptr) << r.error().debug_string();
    ASSERT_NE(bin->error.io_error(), nullptr);
    EXPECT_EQ(bin->error.io_error()->message, "failed to fill whole buffer");
    EXPECT_TRUE(bin->error.context_messages().empty());
  }
}

TEST(QmaReaderOpen, MissingFileIsAPathError) {
  TempDir dir;
  auto reader = QmaReader::open(dir / "nope.qma");
  ASSERT_FALSE(reader);
  const auto* e = reader.error().get_if<DatError::PathError>();
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->path, dir / "nope.qma");
  EXPECT_EQ(reader.error().to_string(),
            "Failed to open file at " + (dir / "nope.qma").string() + ": No such file or directory");
}

TEST(QmaReaderLookup, EmptyArchiveOpensAndFindsNothing) {
  auto reader = open_bytes(hand_archive(0, {}));
  ASSERT_TRUE(reader) << reader.error().to_string();
  EXPECT_TRUE(reader->namespaces().empty());
  auto r = reader->get_file_in_namespace("eor/portal", 5);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().to_string(), "File ID 00000005 not found in provider");
  auto past = reader->entry_at(0);
  ASSERT_FALSE(past);
  EXPECT_NE(past.error().get_if<DatError::Other>(), nullptr);
}

// A written archive with two spans: lookups at every position, below, between and above the ids.
class QmaReaderLookupFile : public ::testing::Test {
 protected:
  void SetUp() override {
    auto writer = QmaStreamWriter::create(dir_ / "l.qma");
    ASSERT_TRUE(writer);
    for (std::uint32_t id = 10; id <= 400; id += 10) ASSERT_TRUE(writer->add("eor/portal", id, id + 1, payload(id)));
    for (std::uint32_t id : {7U, 3U, 5U}) ASSERT_TRUE(writer->add("eor/cell", id, 0, payload(id)));
    ASSERT_TRUE(std::move(*writer).finish());
    auto reader = QmaReader::open(dir_ / "l.qma");
    ASSERT_TRUE(reader) << reader.error().to_string();
    reader_.emplace(std::move(*reader));
  }
  static Bytes payload(std::uint32_t id) {
    Bytes b(id * 7 % 300, static_cast<std::uint8_t>(id));
    if (id % 20 == 0) b.push_back(0xAB);
    return b;
  }
  TempDir dir_;
  std::optional<QmaReader> reader_;
};

TEST_F(QmaReaderLookupFile, FindsEveryEntryAndReportsMisses) {
  for (std::uint32_t id = 10; id <= 400; id += 10) {
    auto e = reader_->find_entry_in_namespace("eor/portal", id);
    ASSERT_TRUE(e) << id;
    EXPECT_EQ(e->file_id, id);
    EXPECT_EQ(e->type_id, id + 1);
    EXPECT_EQ(reader_->get_file_in_namespace("eor/portal", id), payload(id)) << id;
  }
  for (std::uint32_t id : {3U, 5U, 7U}) EXPECT_EQ(reader_->get_file_in_namespace("eor/cell", id), payload(id));

  for (std::uint32_t id : {0U, 5U, 15U, 395U, 401U, 0xFFFFFFFFU}) {
    auto r = reader_->find_entry_in_namespace("eor/portal", id);
    ASSERT_FALSE(r) << id;
    EXPECT_EQ(r.error().to_string(), fmt::format("File ID {:08X} not found in provider", id));
  }
  auto other_ns = reader_->find_entry_in_namespace("quillmarsh/core", 10);
  ASSERT_FALSE(other_ns);
  EXPECT_NE(other_ns.error().get_if<DatError::NotFound>(), nullptr);

  auto bad = reader_->get_file_in_namespace("", 10);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().to_string(), "Invalid namespace: namespace label cannot be empty");
}

TEST_F(QmaReaderLookupFile, EntryAtWalksTheSortedIndex) {
  ASSERT_EQ(reader_->header().entry_count, 43U);
  auto first = reader_->entry_at(0);
  ASSERT_TRUE(first);
  EXPECT_EQ(first->namespace_.label(), "eor/cell");
  EXPECT_EQ(first->file_id, 3U);
  auto last = reader_->entry_at(42);
  ASSERT_TRUE(last);
  EXPECT_EQ(last->namespace_.label(), "eor/portal");
  EXPECT_EQ(last->file_id, 400U);
  EXPECT_FALSE(reader_->entry_at(43));
}

TEST_F(QmaReaderLookupFile, ConcurrentLookupsOnOneReader) {
  const QmaReader& shared = *reader_;
  std::atomic<int> mismatches{0};
  std::vector<std::thread> threads;
  for (unsigned t = 0; t < 4; ++t) {
    threads.emplace_back([&shared, &mismatches, t] {
      for (int round = 0; round < 20; ++round) {
        for (std::uint32_t k = 0; k < 40; ++k) {
          const std::uint32_t id = 10 * (1 + (k * 7 + t * 13 + static_cast<std::uint32_t>(round)) % 40);
          auto data = shared.get_file_in_namespace("eor/portal", id);
          if (!data || *data != payload(id)) ++mismatches;
          if (shared.find_entry_in_namespace("eor/portal", id + 1)) ++mismatches;  // never present
        }
        auto cell = shared.get_file_in_namespace("eor/cell", 5);
        if (!cell || *cell != payload(5)) ++mismatches;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(mismatches.load(), 0);
}

// Hand-built: one namespace with an empty span before a filled one.
TEST(QmaReaderLookup, EmptySpanFindsNothing) {
  Le b;
  qma_header(b, 1, 24 + 84, 84).u32(2).ns("eor/cell").u32(0).u32(0).ns("eor/portal").u32(0).u32(1);
  qma_entry(b, "eor/portal", 9, 0, 0, 0, 0, 0);
  auto reader = open_bytes(b.take());
  ASSERT_TRUE(reader) << reader.error().to_string();
  EXPECT_FALSE(reader->find_entry_in_namespace("eor/cell", 9));
  EXPECT_TRUE(reader->find_entry_in_namespace("eor/portal", 9));
}

// A reader over an archive whose one entry ("eor/portal", 0x4D4F544B) has the given record and stored bytes.
DatResult<QmaReader> archive_with(ByteView stored, std::uint32_t size, std::uint32_t comp_size, std::uint8_t flags,
                                  std::uint64_t offset = 24) {
  Le b;
  const std::uint64_t index_offset = 24 + stored.size() + 44;
  qma_header(b, 1, index_offset, 44).append(stored).u32(1).ns("eor/portal").u32(0).u32(1);
  qma_entry(b, "eor/portal", 0x4D4F544B, 0, offset, size, comp_size, flags);
  return open_bytes(b.take());
}

TEST(QmaReaderData, StoredBytesAreCheckedAndDecompressed) {
  const Bytes plain(1000, 'q');
  const Bytes frame = fresh_level3_frame(plain);
  const auto c = static_cast<std::uint32_t>(frame.size());
  Bytes damaged = frame;
  damaged[0] ^= 0xFF;  // breaks the frame magic

  struct Case {
    const char* name;
    Bytes stored;
    std::uint32_t size, comp_size;
    std::uint8_t flags;
    std::string error;  // empty: success with `plain` (compressed) or the stored bytes
  };
  const std::vector<Case> cases = {
      {"compressed", frame, 1000, c, 1, ""},
      {"raw with other flag bits", plain, 1000, 1000, 0xFE, ""},
      {"damaged frame", damaged, 1000, c, 1, "Failed to recover compressed file 4D4F544B"},
      {"frame larger than size", frame, 999, c, 1, "Failed to recover compressed file 4D4F544B"},
      {"frame smaller than size", frame, 1001, c, 1,
       "Corruption detected: Decompressed size mismatch for 0x4D4F544B: expected 1001, got 1000"},
      {"range past the end", frame, 1000, c + 200, 1,
       fmt::format("Corruption detected: Entry range out of bounds for 0x4D4F544B: offset 24 + comp_size {} > "
                   "file_len {}",
                   c + 200, 24 + c + 44 + 60)},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    auto reader = archive_with(k.stored, k.size, k.comp_size, k.flags);
    ASSERT_TRUE(reader) << reader.error().to_string();
    auto data = reader->get_file_in_namespace("eor/portal", 0x4D4F544B);
    if (k.error.empty()) {
      ASSERT_TRUE(data) << data.error().to_string();
      EXPECT_EQ(*data, (k.flags & 1) != 0 ? plain : k.stored);
    } else {
      ASSERT_FALSE(data);
      EXPECT_EQ(data.error().to_string(), k.error);
    }
  }
}

TEST(QmaReaderData, OffsetOverflowIsCorruption) {
  auto reader = open_bytes(hand_archive(0, {}));
  ASSERT_TRUE(reader);
  QmaEntry entry;
  entry.file_id = 0x0100ABCD;
  entry.offset = std::numeric_limits<std::uint64_t>::max();
  entry.comp_size = 1;
  auto r = reader->read_entry_data(entry);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().to_string(),
            "Corruption detected: Entry offset overflow for 0x0100ABCD: offset 18446744073709551615 + comp_size 1");
}

TEST(DecompressZstd, OneShotWithinCapacity) {
  const Bytes plain(5000, 'z');
  const Bytes frame = fresh_level3_frame(plain);
  EXPECT_EQ(decompress_zstd(frame, 5000), plain);
  EXPECT_EQ(decompress_zstd(frame, 6000), plain);  // cut to what was produced
  EXPECT_EQ(decompress_zstd(frame, 4999), std::nullopt);
  EXPECT_EQ(decompress_zstd(Bytes{1, 2, 3, 4, 5}, 100), std::nullopt);
  // A hostile capacity does not change the result.
  EXPECT_EQ(decompress_zstd(frame, std::numeric_limits<std::uint32_t>::max()), plain);
}

TEST(QmaRecords, TruncatedRecordsNameTheFailingField) {
  struct Case {
    std::size_t available;
    std::vector<std::string> frames;
    BinResult<int> (*read)(ByteReader&);
  };
  const std::vector<Case> cases = {
      {20,
       {"While parsing field 'metadata_size' in QmaHeader"},
       [](ByteReader& r) { return QmaHeader::read(r).map([](auto&&) { return 0; }); }},
      {35,
       {"While parsing field 'start_index' in QmaNamespaceIndexEntry"},
       [](ByteReader& r) { return QmaNamespaceIndexEntry::read(r).map([](auto&&) { return 0; }); }},
      {55,
       {"While parsing field 'comp_size' in QmaEntry"},
       [](ByteReader& r) { return QmaEntry::read(r).map([](auto&&) { return 0; }); }},
      {59,
       {"While parsing field 'reserved' in QmaEntry"},
       [](ByteReader& r) { return QmaEntry::read(r).map([](auto&&) { return 0; }); }},
  };
  for (const auto& c : cases) {
    const Bytes bytes(c.available + 3, 0);
    ByteReader reader(bytes);
    reader.set_position(3);
    auto r = c.read(reader);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error().context_messages(), c.frames);
    EXPECT_EQ(reader.position(), 3U);
  }
}

TEST(QmaRecords, EntryRoundTrip) {
  Le b;
  qma_entry(b, "eor/cell", 0xA9B4FFFE, 0x12345678, 0x1122334455667788ULL, 70000, 6000, 0x05);
  ByteReader reader(b.bytes());
  auto e = QmaEntry::read(reader);
  ASSERT_TRUE(e);
  EXPECT_EQ(e->namespace_.label(), "eor/cell");
  EXPECT_EQ(e->file_id, 0xA9B4FFFEU);
  EXPECT_EQ(e->offset, 0x1122334455667788ULL);
  EXPECT_EQ(e->flags, 0x05);
  EXPECT_TRUE(e->compressed());
  Bytes out;
  ByteWriter w(out);
  e->write(w);
  EXPECT_EQ(out, b.bytes());
}

}  // namespace
}  // namespace quillmarsh::dat
