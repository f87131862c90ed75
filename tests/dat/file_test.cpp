#include "quillmarsh/dat/file.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <memory>

#include "test_support.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::TempDir;

const Bytes kTen = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};

// Both implementations of the positional-read interface must behave alike.
class PositionalReads : public ::testing::TestWithParam<bool> {
 protected:
  void SetUp() override {
    if (GetParam()) {
      std::ofstream(dir_ / "ten.bin", std::ios::binary).write(reinterpret_cast<const char*>(kTen.data()), 10);
      auto f = File::open(dir_ / "ten.bin");
      ASSERT_TRUE(f) << f.error().message;
      source_ = std::make_unique<File>(std::move(*f));
    } else {
      source_ = std::make_unique<MemoryFile>(kTen);
    }
  }
  TempDir dir_;
  std::unique_ptr<FileExtPolyfill> source_;
};

TEST_P(PositionalReads, ReadsExactlyOrFailsWithEndOfFile) {
  EXPECT_EQ(source_->len_compat(), 10U);

  Bytes four(4);
  ASSERT_TRUE(source_->read_exact_at_compat(four, 6));
  EXPECT_EQ(four, (Bytes{6, 7, 8, 9}));

  // An empty buffer succeeds without touching the file, even past its end.
  EXPECT_TRUE(source_->read_exact_at_compat({}, 1000));

  for (const auto& [size, offset] : {std::pair<std::size_t, std::uint64_t>{24, 0}, {1, 10}, {5, 7}}) {
    Bytes buf(size);
    auto r = source_->read_exact_at_compat(buf, offset);
    ASSERT_FALSE(r) << size << "@" << offset;
    EXPECT_EQ(r.error().kind, IoErrorKind::UnexpectedEof);
    EXPECT_EQ(r.error().message, "failed to fill whole buffer");
  }
}

INSTANTIATE_TEST_SUITE_P(FileAndMemory, PositionalReads, ::testing::Values(true, false));

TEST(File, ReadsNeverMoveTheCursor) {
  TempDir dir;
  std::ofstream(dir / "ten.bin", std::ios::binary).write(reinterpret_cast<const char*>(kTen.data()), 10);
  auto f = File::open(dir / "ten.bin");
  ASSERT_TRUE(f);
  Bytes buf(3);
  ASSERT_TRUE(f->read_exact_at_compat(buf, 5));
  EXPECT_EQ(::lseek(f->fd(), 0, SEEK_CUR), 0);
}

TEST(File, OpenFailureCarriesTheOsError) {
  TempDir dir;
  auto f = File::open(dir / "missing.bin");
  ASSERT_FALSE(f);
  EXPECT_EQ(f.error().kind, IoErrorKind::Os);
  EXPECT_EQ(f.error().os_errno, ENOENT);
}

TEST(File, MoveTransfersTheDescriptor) {
  TempDir dir;
  std::ofstream(dir / "ten.bin", std::ios::binary).write(reinterpret_cast<const char*>(kTen.data()), 10);
  auto f = File::open(dir / "ten.bin");
  ASSERT_TRUE(f);
  const int fd = f->fd();
  File moved = std::move(*f);
  EXPECT_EQ(moved.fd(), fd);
  EXPECT_EQ(f->fd(), -1);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(moved.len_compat(), 10U);
}

}  // namespace
}  // namespace quillmarsh::dat
