#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <random>

#include "../../src/dat/archive_compressor.hpp"
#include "archive_test_support.hpp"
#include "quillmarsh/dat/archive.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::fresh_level3_frame;
using quillmarsh::testing::Le;
using quillmarsh::testing::read_file;
using quillmarsh::testing::TempDir;

Bytes random_bytes(std::size_t n, unsigned seed) {
  std::mt19937 rng(seed);
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

Bytes text_bytes(std::string_view s) { return Bytes(s.begin(), s.end()); }

std::vector<QmaEntry> index_of(const QmaReader& reader) {
  std::vector<QmaEntry> out;
  for (std::uint32_t i = 0; i < reader.header().entry_count; ++i) {
    auto e = reader.entry_at(i);
    EXPECT_TRUE(e.has_value()) << e.error().to_string();
    if (e) out.push_back(*e);
  }
  return out;
}

TEST(QmaStreamWriter, EmptyArchiveIsTheTwentyEightByteLayout) {
  TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "empty.qma");
  ASSERT_TRUE(writer) << writer.error().to_string();
  ASSERT_TRUE(std::move(*writer).finish());

  Le expected;
  quillmarsh::testing::qma_header(expected, 0, 28, 4).u32(0);
  EXPECT_EQ(read_file(dir / "empty.qma"), expected.bytes());
}

// The one-entry layout: header, stored bytes, one namespace record, one index entry.
TEST(QmaStreamWriter, OneEntryLayoutByteForByte) {
  for (const bool compressed : {true, false}) {
    SCOPED_TRACE(compressed);
    TempDir dir;
    const Bytes asset(4096, 0);
    const Bytes stored = compressed ? fresh_level3_frame(asset) : asset;
    ASSERT_FALSE(stored.empty());
    const auto c = static_cast<std::uint32_t>(stored.size());

    auto writer = QmaStreamWriter::create(dir / "bundle.qma");
    ASSERT_TRUE(writer);
    writer->compress = compressed;
    ASSERT_TRUE(writer->add("quillmarsh/core", 0x4D4F544B, 0xFFFFFF01, asset));
    ASSERT_TRUE(std::move(*writer).finish());

    Le expected;
    quillmarsh::testing::qma_header(expected, 1, 68 + c, 44).append(stored).u32(1).ns("quillmarsh/core").u32(0).u32(1);
    quillmarsh::testing::qma_entry(expected, "quillmarsh/core", 0x4D4F544B, 0xFFFFFF01, 24, 4096, c,
                                   compressed ? 1 : 0);
    EXPECT_EQ(read_file(dir / "bundle.qma"), expected.bytes());
  }
}

TEST(QmaStreamWriter, IndexIsSortedWhileBlobsKeepAddOrder) {
  TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "a.qma");
  ASSERT_TRUE(writer);
  writer->compress = false;
  ASSERT_TRUE(writer->add("eor/portal", 5, 0x10, text_bytes("five")));
  ASSERT_TRUE(writer->add("eor/cell", 9, 0x20, text_bytes("nine!")));
  ASSERT_TRUE(writer->add("eor/portal", 1, 0x30, text_bytes("one")));
  ASSERT_TRUE(std::move(*writer).finish());

  auto reader = QmaReader::open(dir / "a.qma");
  ASSERT_TRUE(reader) << reader.error().to_string();
  const auto ns = reader->namespaces();
  ASSERT_EQ(ns.size(), 2U);
  EXPECT_EQ(ns[0].namespace_.label(), "eor/cell");
  EXPECT_EQ(ns[0].start_index, 0U);
  EXPECT_EQ(ns[0].entry_count, 1U);
  EXPECT_EQ(ns[1].namespace_.label(), "eor/portal");
  EXPECT_EQ(ns[1].start_index, 1U);
  EXPECT_EQ(ns[1].entry_count, 2U);

  struct Want {
    std::string_view ns;
    std::uint32_t id, type;
    std::uint64_t offset;
    std::uint32_t size;
  };
  const Want want[] = {{"eor/cell", 9, 0x20, 28, 5}, {"eor/portal", 1, 0x30, 33, 3}, {"eor/portal", 5, 0x10, 24, 4}};
  const auto index = index_of(*reader);
  ASSERT_EQ(index.size(), 3U);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(index[i].namespace_.label(), want[i].ns);
    EXPECT_EQ(index[i].file_id, want[i].id);
    EXPECT_EQ(index[i].type_id, want[i].type);
    EXPECT_EQ(index[i].offset, want[i].offset);
    EXPECT_EQ(index[i].size, want[i].size);
    EXPECT_EQ(index[i].comp_size, want[i].size);
    EXPECT_EQ(index[i].flags, 0);
  }
  EXPECT_EQ(reader->header().metadata_size, 84U);
  EXPECT_EQ(reader->header().index_offset, 36U + 84U);
  EXPECT_EQ(reader->file_len(), 36U + 84U + 180U);
}

TEST(QmaStreamWriter, DuplicatePairIsRejectedAndTheFirstDataKept) {
  TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "d.qma");
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writer->add("eor/portal", 0x0E000004, 1, text_bytes("first")));
  auto dup = writer->add("eor/portal", 0x0E000004, 2, text_bytes("second"));
  ASSERT_FALSE(dup);
  const auto* v = dup.error().get_if<DatError::DuplicateNamespacedId>();
  ASSERT_NE(v, nullptr);
  EXPECT_EQ(v->namespace_, "eor/portal");
  EXPECT_EQ(dup.error().to_string(), "Duplicate namespaced file eor/portal:0E000004 detected");
  // Same id in another namespace is a different file; the writer stays usable after the refusal.
  ASSERT_TRUE(writer->add("eor/cell", 0x0E000004, 3, text_bytes("cell")));
  EXPECT_EQ(writer->entry_count(), 2U);
  ASSERT_TRUE(std::move(*writer).finish());

  auto reader = QmaReader::open(dir / "d.qma");
  ASSERT_TRUE(reader);
  const auto index = index_of(*reader);
  ASSERT_EQ(index.size(), 2U);
  EXPECT_EQ(index[0].namespace_.label(), "eor/cell");
  EXPECT_EQ(index[1].namespace_.label(), "eor/portal");
  EXPECT_EQ(index[1].type_id, 1U);
  EXPECT_EQ(reader->get_file_in_namespace("eor/portal", 0x0E000004), text_bytes("first"));
  EXPECT_EQ(reader->get_file_in_namespace("eor/cell", 0x0E000004), text_bytes("cell"));
}

// The duplicate check across many entries, in runs of one namespace and interleaved, at the ends of
// the id range, and after a refused label: only a repeated (namespace, id) pair is refused.
TEST(QmaStreamWriter, DuplicatesAreFoundAmongManyEntries) {
  TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "many.qma");
  ASSERT_TRUE(writer);
  writer->compress = false;
  const std::vector<std::string> namespaces = {"eor/portal", "eor/cell", "mod/ui"};
  std::vector<std::uint32_t> ids = {0U, 0xFFFFFFFFU};
  for (std::uint32_t i = 1; i <= 3000; ++i) ids.push_back(i * 2654435761U);
  for (const auto& ns : namespaces) {
    for (const std::uint32_t id : ids) ASSERT_TRUE(writer->add(ns, id, 0, {})) << ns << " " << id;
  }
  EXPECT_FALSE(writer->add(std::string(33, 'x'), 7, 0, {}));  // too long: refused, not remembered
  EXPECT_FALSE(writer->add(std::string(33, 'x'), 7, 0, {}));
  for (std::size_t k = 0; k < ids.size(); k += 7) {
    const std::string& ns = namespaces[k % namespaces.size()];
    auto dup = writer->add(ns, ids[k], 0, {});
    ASSERT_FALSE(dup) << ns << " " << ids[k];
    EXPECT_NE(dup.error().get_if<DatError::DuplicateNamespacedId>(), nullptr);
  }
  ASSERT_TRUE(writer->add("mod/textures", 0xFFFFFFFFU, 0, {}));
  EXPECT_EQ(writer->entry_count(), namespaces.size() * ids.size() + 1);
  ASSERT_TRUE(std::move(*writer).finish());
}

TEST(QmaStreamWriter, InvalidNamespaceWritesNothing) {
  TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "n.qma");
  ASSERT_TRUE(writer);
  EXPECT_EQ(std::filesystem::file_size(dir / "n.qma"), 24U);  // the placeholder header, at once
  auto r = writer->add("", 1, 0, text_bytes("data"));
  ASSERT_FALSE(r);
  ASSERT_NE(r.error().get_if<DatError::InvalidNamespace>(), nullptr);
  EXPECT_EQ(r.error().to_string(), "Invalid namespace: namespace label cannot be empty");
  EXPECT_EQ(std::filesystem::file_size(dir / "n.qma"), 24U);
  EXPECT_EQ(writer->entry_count(), 0U);
}

TEST(QmaStreamWriter, StorageFormDependsOnCompressionPayoff) {
  TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "s.qma");
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writer->add("eor/portal", 1, 0, Bytes{}));
  ASSERT_TRUE(writer->add("eor/portal", 2, 0, Bytes(4096, 0)));
  ASSERT_TRUE(writer->add("eor/portal", 3, 0, random_bytes(512, 7)));  // incompressible: stored raw
  writer->compress = false;
  ASSERT_TRUE(writer->add("eor/portal", 4, 0, Bytes(4096, 0)));
  ASSERT_TRUE(std::move(*writer).finish());

  auto reader = QmaReader::open(dir / "s.qma");
  ASSERT_TRUE(reader);
  const auto index = index_of(*reader);
  ASSERT_EQ(index.size(), 4U);
  EXPECT_EQ(index[0].size, 0U);
  EXPECT_EQ(index[0].comp_size, 0U);
  EXPECT_EQ(index[0].flags, 0);
  EXPECT_EQ(index[1].size, 4096U);
  EXPECT_LT(index[1].comp_size, 4096U);
  EXPECT_EQ(index[1].flags, FLAG_COMPRESSED);
  EXPECT_EQ(index[2].comp_size, index[2].size);
  EXPECT_EQ(index[2].flags, 0);
  EXPECT_EQ(index[3].comp_size, 4096U);
  EXPECT_EQ(index[3].flags, 0);
  EXPECT_EQ(reader->get_file_in_namespace("eor/portal", 2), Bytes(4096, 0));
  EXPECT_EQ(reader->get_file_in_namespace("eor/portal", 3), random_bytes(512, 7));
}

// The compression context is reused across entries; every frame must still equal a fresh one.
TEST(QmaStreamWriter, ReusedContextGivesFreshFrames) {
  TempDir dir;
  std::vector<Bytes> inputs;
  for (unsigned i = 0; i < 6; ++i) {
    Bytes b;
    for (unsigned k = 0; k < 2000 + 700 * i; ++k) b.push_back(static_cast<std::uint8_t>((k * (i + 3)) % 17));
    inputs.push_back(i == 2 ? random_bytes(3000, i) : b);
  }
  auto writer = QmaStreamWriter::create(dir / "r.qma");
  ASSERT_TRUE(writer);
  for (std::uint32_t i = 0; i < inputs.size(); ++i) ASSERT_TRUE(writer->add("eor/portal", i, 0, inputs[i]));
  ASSERT_TRUE(std::move(*writer).finish());

  const Bytes file = read_file(dir / "r.qma");
  auto reader = QmaReader::open(dir / "r.qma");
  ASSERT_TRUE(reader);
  for (std::uint32_t i = 0; i < inputs.size(); ++i) {
    auto e = reader->find_entry_in_namespace("eor/portal", i);
    ASSERT_TRUE(e);
    const Bytes frame = fresh_level3_frame(inputs[i]);
    const Bytes expected = frame.size() < inputs[i].size() ? frame : inputs[i];
    const auto begin = file.begin() + static_cast<std::ptrdiff_t>(e->offset);
    EXPECT_EQ(Bytes(begin, begin + e->comp_size), expected) << "entry " << i;
  }
}

TEST(QmaStreamWriter, RefusesWhatTheFormatCannotDescribe) {
  constexpr std::uint64_t four_gib = std::uint64_t{1} << 32;
  EXPECT_TRUE(check_qma_entry_limits("eor/portal", 1, four_gib - 1, 0));
  EXPECT_TRUE(check_qma_entry_limits("eor/portal", 1, 0, QMA_MAX_ENTRIES - 1));
  EXPECT_EQ(QMA_MAX_ENTRIES, 71'582'788U);

  auto big = check_qma_entry_limits("eor/portal", 0x0E000004, four_gib, 0);
  ASSERT_FALSE(big);
  ASSERT_NE(big.error().get_if<DatError::Other>(), nullptr);
  EXPECT_THAT(big.error().to_string(), ::testing::HasSubstr("eor/portal:0x0E000004"));
  EXPECT_THAT(big.error().to_string(), ::testing::HasSubstr("4294967296 bytes"));

  auto full = check_qma_entry_limits("eor/cell", 7, 10, QMA_MAX_ENTRIES);
  ASSERT_FALSE(full);
  ASSERT_NE(full.error().get_if<DatError::Other>(), nullptr);
  EXPECT_THAT(full.error().to_string(), ::testing::HasSubstr("index is full (71582788 entries)"));
}

TEST(QmaStreamWriter, CreateFailureIsAnIoError) {
  TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "missing" / "x.qma");
  ASSERT_FALSE(writer);
  const auto* io = writer.error().get_if<DatError::Io>();
  ASSERT_NE(io, nullptr);
  EXPECT_EQ(io->error.os_errno, ENOENT);
}

TEST(QmaStreamWriter, NewFileModeFollowsTheCreationMask) {
  TempDir dir;
  const mode_t old = ::umask(027);
  auto writer = QmaStreamWriter::create(dir / "m.qma");
  ::umask(old);
  ASSERT_TRUE(writer);
  struct stat st {};
  ASSERT_EQ(::stat((dir / "m.qma").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640U);
}

TEST(QmaStreamWriter, DroppedWriterLeavesAPlaceholderTheReaderRejects) {
  TempDir dir;
  {
    auto writer = QmaStreamWriter::create(dir / "p.qma");
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->add("eor/portal", 1, 0, text_bytes("orphan")));
  }
  auto reader = QmaReader::open(dir / "p.qma");
  ASSERT_FALSE(reader);
  EXPECT_EQ(reader.error().to_string(), "Corruption detected: QMA metadata offset 0 is within header area");
}

TEST(QmaStreamWriter, WriteThenReadBack) {
  TempDir dir;
  const Bytes asset = text_bytes("KTOM motion kinematics payload, repeated payload, repeated payload");
  auto writer = QmaStreamWriter::create(dir / "bundle.qma");
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writer->add(CORE_NAMESPACE, 0x4D4F544B, 0xFFFFFF01, asset));
  ASSERT_TRUE(std::move(*writer).finish());

  auto reader = QmaReader::open(dir / "bundle.qma");
  ASSERT_TRUE(reader) << reader.error().to_string();
  auto entry = reader->find_entry_in_namespace(CORE_NAMESPACE, 0x4D4F544B);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->type_id, 0xFFFFFF01U);
  EXPECT_EQ(reader->get_file_in_namespace(CORE_NAMESPACE, 0x4D4F544B), asset);
}

// The warning goes to the "quillmarsh_dat::archive" logger, created on first use and writing to stderr.
TEST(QmaStreamWriter, CompressionFailureWarningText) {
  ::testing::internal::CaptureStderr();
  detail::warn_compression_failed("eor/portal", 0x0E000004, "Allocation error : not enough memory");
  const std::string captured = ::testing::internal::GetCapturedStderr();
  EXPECT_THAT(captured, ::testing::HasSubstr("[quillmarsh_dat::archive] [warning] Compression failed for "
                                             "eor/portal:0x0E000004: Allocation error : not enough memory\n"));
}

}  // namespace
}  // namespace quillmarsh::dat
