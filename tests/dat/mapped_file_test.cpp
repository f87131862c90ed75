// The memory-mapped source must behave exactly like the plain file: the same bytes, the same errors,
// and, under an archive reader, the same results for every lookup.
#include "quillmarsh/dat/mapped_file.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <limits>
#include <random>
#include <thread>

#include "archive_test_support.hpp"
#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/file.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::read_file;
using quillmarsh::testing::TempDir;

void write_file(const std::filesystem::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The outcome of one read: the bytes, or the error's text.
std::string outcome(const FileExtPolyfill& source, std::size_t length, std::uint64_t offset) {
  Bytes buffer(length);
  auto r = source.read_exact_at_compat(buffer, offset);
  if (!r) return "error: " + r.error().to_string();
  return std::string(buffer.begin(), buffer.end());
}

TEST(MappedFile, ReadsAndFailsExactlyLikeAPlainFile) {
  const TempDir dir;
  Bytes content(10000);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 31 + 7);
  write_file(dir / "f.bin", content);
  auto plain = File::open(dir / "f.bin");
  auto mapped = MappedFile::open(dir / "f.bin");
  ASSERT_TRUE(plain.has_value());
  ASSERT_TRUE(mapped.has_value());
  EXPECT_EQ(mapped->len_compat().value(), 10000U);
  EXPECT_EQ(mapped->bytes().size(), 10000U);

  struct Case {
    std::size_t length;
    std::uint64_t offset;
  };
  const Case cases[] = {
      {0, 0},
      {10000, 0},
      {60, 24},
      {1, 9999},
      {0, 10000},  // inside and at the end
      {2, 9999},
      {1, 10000},
      {1, 20000},
      {0, 20000},                                      // past the end
      {1, std::numeric_limits<std::uint64_t>::max()},  // an offset that would overflow
  };
  for (const auto& c : cases) {
    const std::string expected = outcome(*plain, c.length, c.offset);
    EXPECT_EQ(outcome(*mapped, c.length, c.offset), expected) << c.length << " at " << c.offset;
    if (c.offset + c.length > 10000 && c.length > 0) {
      EXPECT_EQ(expected, "error: " + IoError::unexpected_eof().to_string());
    }
  }

  // A move hands the mapping over.
  MappedFile moved = std::move(*mapped);
  EXPECT_EQ(outcome(moved, 3, 100), outcome(*plain, 3, 100));
}

TEST(MappedFile, EmptyAndMissingFiles) {
  const TempDir dir;
  write_file(dir / "empty.bin", {});
  auto empty = MappedFile::open(dir / "empty.bin");
  ASSERT_TRUE(empty.has_value());
  EXPECT_EQ(empty->len_compat().value(), 0U);
  EXPECT_EQ(outcome(*empty, 0, 0), "");
  EXPECT_EQ(outcome(*empty, 1, 0), "error: " + IoError::unexpected_eof().to_string());

  auto missing = MappedFile::open(dir / "missing.bin");
  ASSERT_FALSE(missing.has_value());
  EXPECT_EQ(missing.error(), File::open(dir / "missing.bin").error());
  auto reader = QmaReader::open_mapped(dir / "missing.bin");
  ASSERT_FALSE(reader.has_value());
  EXPECT_EQ(reader.error().to_string(), QmaReader::open(dir / "missing.bin").error().to_string());
}

// Every lookup through a mapped reader gives what the plain reader gives, successes and failures.
TEST(MappedFile, ArchiveLookupsMatchThePlainReader) {
  const TempDir dir;
  const auto path = dir / "a.qma";
  std::mt19937 rng(99);
  {
    auto writer = QmaStreamWriter::create(path);
    ASSERT_TRUE(writer.has_value());
    for (std::uint32_t i = 0; i < 200; ++i) {
      Bytes data(i % 4 == 0 ? 0 : (i % 4 == 1 ? 3000 : 50 + i));
      for (auto& b : data) b = static_cast<std::uint8_t>(i % 4 == 1 ? 'x' : rng());
      ASSERT_TRUE(writer->add(i % 2 == 0 ? "eor/portal" : "eor/cell", i * 3, 0, std::move(data)).has_value());
    }
    ASSERT_TRUE(std::move(*writer).finish().has_value());
  }
  auto plain = QmaReader::open(path);
  auto mapped = QmaReader::open_mapped(path);
  ASSERT_TRUE(plain.has_value());
  ASSERT_TRUE(mapped.has_value());

  auto text = [](const DatResult<Bytes>& r) { return r ? std::string(r->begin(), r->end()) : r.error().to_string(); };
  // Present ids, ids between them, below and above every id, an unknown and an empty namespace.
  for (const char* ns : {"eor/portal", "eor/cell", "eor/other", ""}) {
    for (std::uint32_t id = 0; id < 610; ++id) {
      ASSERT_EQ(text(mapped->get_file_in_namespace(ns, id)), text(plain->get_file_in_namespace(ns, id)))
          << ns << " " << id;
    }
  }

  // Several threads share one mapped reader; each has its own decompression context.
  std::vector<std::thread> threads;
  std::vector<int> mismatches(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (std::uint32_t i = 0; i < 200; ++i) {
        const char* ns = i % 2 == 0 ? "eor/portal" : "eor/cell";
        if (text(mapped->get_file_in_namespace(ns, i * 3)) != text(plain->get_file_in_namespace(ns, i * 3))) {
          ++mismatches[t];
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(mismatches, std::vector<int>(4, 0));
}

// Damage is reported the same way: a compressed blob that does not decode, and one cut short.
TEST(MappedFile, DamagedArchivesFailAsWithThePlainReader) {
  const TempDir dir;
  const auto path = dir / "a.qma";
  {
    auto writer = QmaStreamWriter::create(path);
    ASSERT_TRUE(writer.has_value());
    ASSERT_TRUE(writer->add("quillmarsh/core", 0x4D4F544B, 0xFFFFFF01, Bytes(4096, 0)).has_value());
    ASSERT_TRUE(writer->add("quillmarsh/core", 0x4D4F5400, 0, Bytes(4096, 1)).has_value());
    ASSERT_TRUE(std::move(*writer).finish().has_value());
  }
  Bytes bytes = read_file(path);
  auto reader = QmaReader::open(path);
  ASSERT_TRUE(reader.has_value());
  const QmaEntry first = reader->find_entry_in_namespace("quillmarsh/core", 0x4D4F544B).value();
  ASSERT_TRUE(first.compressed());
  const QmaEntry second = reader->find_entry_in_namespace("quillmarsh/core", 0x4D4F5400).value();

  // Index records are sorted by id: record 1 is the compressed 0x4D4F544B.
  const std::size_t record = reader->header().index_offset + QMA_ENTRY_SIZE * 1;
  auto patched = [&](std::size_t at, std::uint32_t value) {
    Bytes b = bytes;
    std::memcpy(b.data() + at, &value, 4);
    return b;
  };
  Bytes damaged = bytes;
  for (std::uint32_t i = 0; i < first.comp_size; ++i) damaged[first.offset + i] ^= 0xA5;
  write_file(dir / "damaged.qma", damaged);
  write_file(dir / "larger.qma", patched(record + 48, 4097));     // size: more than the frame yields
  write_file(dir / "smaller.qma", patched(record + 48, 4095));    // size: less than the frame yields
  write_file(dir / "beyond.qma", patched(record + 52, 1 << 20));  // comp_size: past the end of the file

  for (const char* name : {"damaged.qma", "larger.qma", "smaller.qma", "beyond.qma"}) {
    auto plain = QmaReader::open(dir / name);
    auto mapped = QmaReader::open_mapped(dir / name);
    ASSERT_TRUE(plain.has_value());
    ASSERT_TRUE(mapped.has_value());
    for (const std::uint32_t id : {first.file_id, second.file_id}) {
      auto a = plain->get_file_in_namespace("quillmarsh/core", id);
      auto b = mapped->get_file_in_namespace("quillmarsh/core", id);
      ASSERT_EQ(a.has_value(), b.has_value()) << name << " " << id;
      if (!a) {
        EXPECT_EQ(a.error().to_string(), b.error().to_string()) << name;
      }
      if (id == first.file_id) {
        EXPECT_FALSE(a.has_value()) << name;
      }
    }
  }
  EXPECT_EQ(QmaReader::open_mapped(dir / "damaged.qma")
                ->get_file_in_namespace("quillmarsh/core", 0x4D4F544B)
                .error()
                .to_string(),
            "Failed to recover compressed file 4D4F544B");
}

}  // namespace
}  // namespace quillmarsh::dat
