#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "checks.hpp"
#include "quillmarsh/dat/archive.hpp"
#include "test_support.hpp"

namespace quillmarsh::checks {

using dat::QmaReader;
using dat::QmaStreamWriter;
using testing::Le;
using testing::TempDir;

void archive_round_trip_in_core_namespace() {
  TempDir dir;
  const auto path = dir / "bundle.qma";
  Bytes asset(300, 0x5A);  // compressible: stored compressed
  Bytes raw = {1, 2, 3};   // too small to shrink: stored as is
  {
    auto writer = QmaStreamWriter::create(path);
    ASSERT_TRUE(writer) << writer.error().to_string();
    ASSERT_TRUE(writer->add("quillmarsh/core", 0x4D4F544B, 0xFFFFFF01, asset));
    ASSERT_TRUE(writer->add("quillmarsh/core", 0x00000001, 7, raw));
    ASSERT_TRUE(std::move(*writer).finish());
  }
  auto reader = QmaReader::open(path);
  ASSERT_TRUE(reader) << reader.error().to_string();
  auto entry = reader->find_entry_in_namespace("quillmarsh/core", 0x4D4F544B);
  ASSERT_TRUE(entry);
  EXPECT_EQ(entry->type_id, 0xFFFFFF01U);
  EXPECT_TRUE(entry->compressed());
  EXPECT_EQ(reader->get_file_in_namespace("quillmarsh/core", 0x4D4F544B).value(), asset);
  EXPECT_EQ(reader->get_file_in_namespace("quillmarsh/core", 1).value(), raw);
  EXPECT_FALSE(reader->find_entry_in_namespace("quillmarsh/core", 1)->compressed());
}

void archive_rejects_duplicate_namespaced_id() {
  TempDir dir;
  const auto path = dir / "bundle.qma";
  auto writer = QmaStreamWriter::create(path);
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writer->add("eor/portal", 0x0E000004, 14, Bytes{1}));
  auto second = writer->add("eor/portal", 0x0E000004, 14, Bytes{2});
  ASSERT_FALSE(second);
  ASSERT_NE(second.error().get_if<dat::DatError::DuplicateNamespacedId>(), nullptr);
  EXPECT_EQ(second.error().to_string(), "Duplicate namespaced file eor/portal:0E000004 detected");
  ASSERT_TRUE(writer->add("eor/cell", 0x0E000004, 14, Bytes{3}));  // same id, other namespace
  ASSERT_TRUE(std::move(*writer).finish());

  auto reader = QmaReader::open(path);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->header().entry_count, 2U);
  EXPECT_EQ(reader->get_file_in_namespace("eor/portal", 0x0E000004).value(), Bytes{1});
  EXPECT_EQ(reader->get_file_in_namespace("eor/cell", 0x0E000004).value(), Bytes{3});
}

void empty_archive_is_28_bytes_and_opens() {
  TempDir dir;
  const auto path = dir / "empty.qma";
  auto writer = QmaStreamWriter::create(path);
  ASSERT_TRUE(writer);
  ASSERT_TRUE(std::move(*writer).finish());

  const Bytes expected = Le().text("QMA").u8(0).u32(2).u32(0).u64(28).u32(4).u32(0).take();
  std::ifstream in(path, std::ios::binary);
  const Bytes actual((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(actual, expected);

  auto reader = QmaReader::open(path);
  ASSERT_TRUE(reader) << reader.error().to_string();
  auto missing = reader->get_file_in_namespace("eor/portal", 5);
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().to_string(), "File ID 00000005 not found in provider");
}

void unfinished_archive_is_rejected() {
  TempDir dir;
  const auto path = dir / "unfinished.qma";
  {
    auto writer = QmaStreamWriter::create(path);
    ASSERT_TRUE(writer);
    ASSERT_TRUE(writer->add("eor/portal", 0x01000001, 1, Bytes(64, 1)));
    // Dropped without finish: the placeholder header stays.
  }
  auto reader = QmaReader::open(path);
  ASSERT_FALSE(reader);
  EXPECT_EQ(reader.error().to_string(), "Corruption detected: QMA metadata offset 0 is within header area");
}

void namespace_metadata_must_be_contiguous() {
  // Two index entries, with namespace records ("eor/cell", 0, 1) and ("eor/portal", 2, 1).
  Le file;
  file.text("QMA").u8(0).u32(2).u32(2).u64(24 + 84).u32(84);
  file.u32(2).ns("eor/cell").u32(0).u32(1).ns("eor/portal").u32(2).u32(1);
  for (const char* ns : {"eor/cell", "eor/portal"}) {
    file.ns(ns).u32(1).u32(0).u64(24).u32(0).u32(0).u8(0).u8(0).u16(0);
  }
  auto reader = QmaReader::from_source(std::make_unique<dat::MemoryFile>(file.take()));
  ASSERT_FALSE(reader);
  EXPECT_EQ(reader.error().to_string(),
            "Corruption detected: QMA namespace metadata is not contiguous: expected start 1, found 2");
}

}  // namespace quillmarsh::checks
