#include "quillmarsh/dat/archive_source.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "archive_test_support.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::open_bytes;
using quillmarsh::testing::read_file;
using quillmarsh::testing::TempDir;

QmaReader archive_of(const std::vector<std::tuple<std::string, std::uint32_t, Bytes>>& files) {
  TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "a.qma");
  EXPECT_TRUE(writer);
  for (const auto& [ns, id, data] : files) EXPECT_TRUE(writer->add(ns, id, id >> 24, data));
  EXPECT_TRUE(std::move(*writer).finish());
  auto reader = QmaReader::open(dir / "a.qma");  // the reader keeps its descriptor after the unlink
  EXPECT_TRUE(reader);
  return std::move(*reader);
}

TEST(ArchiveSource, FetchesByNamespaceAndId) {
  const ArchiveSource source(archive_of({{"eor/portal", 0x01000001, Bytes(300, 4)}, {"eor/cell", 0x01000001, {9}}}));
  EXPECT_EQ(source.get_file_by_key({"eor/portal", 0x01000001}), Bytes(300, 4));
  EXPECT_EQ(source.get_file_by_key({"eor/cell", 0x01000001}), Bytes{9});
  auto missing = source.get_file_by_key({"eor/portal", 0x02000001});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().to_string(), "File ID 02000001 not found in provider");
}

TEST(MultiArchiveSource, FirstArchiveThatHasTheFileWins) {
  std::vector<QmaReader> readers;
  readers.push_back(archive_of({{"eor/portal", 1, {1}}}));
  readers.push_back(archive_of({{"eor/portal", 1, {2}}, {"eor/portal", 2, {3}}}));
  const MultiArchiveSource source(std::move(readers));
  EXPECT_EQ(source.get_file_by_key({"eor/portal", 1}), Bytes{1});
  EXPECT_EQ(source.get_file_by_key({"eor/portal", 2}), Bytes{3});
  auto missing = source.get_file_by_key({"eor/cell", 2});
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().get_if<DatError::NotFound>(), nullptr);
}

TEST(MultiArchiveSource, DamagedEntryIsNotReplacedByALaterArchive) {
  TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "d.qma");
  ASSERT_TRUE(writer);
  ASSERT_TRUE(writer->add("eor/portal", 1, 1, Bytes(4096, 0)));  // compressed
  ASSERT_TRUE(std::move(*writer).finish());
  Bytes bytes = read_file(dir / "d.qma");
  bytes[24] ^= 0xFF;  // the frame's first byte
  auto damaged = open_bytes(std::move(bytes));
  ASSERT_TRUE(damaged);

  std::vector<QmaReader> readers;
  readers.push_back(std::move(*damaged));
  readers.push_back(archive_of({{"eor/portal", 1, {2}}}));
  const MultiArchiveSource source(std::move(readers));
  auto result = source.get_file_by_key({"eor/portal", 1});
  ASSERT_FALSE(result);
  EXPECT_NE(result.error().get_if<DatError::DecompressionFailed>(), nullptr);
}

}  // namespace
}  // namespace quillmarsh::dat
