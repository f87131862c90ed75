#include "quillmarsh/common/binary.hpp"

#include <gtest/gtest.h>

#include <cerrno>

#include "test_support.hpp"

namespace quillmarsh {
namespace {

using testing::Le;

// A two-level record to exercise the declared-record helper on its own.
struct Inner {
  std::uint32_t a = 0;
  std::uint16_t b = 0;
  static BinResult<Inner> read(ByteReader& r) {
    RecordReader rec(r, "Inner");
    Inner v;
    QM_TRY_ASSIGN(v.a, rec.u32("a"));
    QM_TRY_ASSIGN(v.b, rec.u16("b"));
    return v;
  }
};
struct Outer {
  std::uint8_t tag = 0;
  Inner inner;
  static BinResult<Outer> read(ByteReader& r) {
    RecordReader rec(r, "Outer");
    Outer v;
    QM_TRY_ASSIGN(v.tag, rec.u8("tag"));
    QM_TRY_ASSIGN(v.inner, rec.record<Inner>("inner"));
    return v;
  }
};

TEST(ByteReader, ReadsLittleEndianAndStopsAtTheEnd) {
  const Bytes bytes = Le().u16(0x1234).u32(0xA1B2C3D4).u64(0x0102030405060708ULL).i32(-2).u8(0x7F).take();
  ByteReader r(bytes);
  EXPECT_EQ(r.read_u16(), 0x1234);
  EXPECT_EQ(r.read_u32(), 0xA1B2C3D4U);
  EXPECT_EQ(r.read_u64(), 0x0102030405060708ULL);
  EXPECT_EQ(r.read_i32(), -2);
  ASSERT_EQ(r.position(), 18U);
  auto short_read = r.read_u16();  // one byte left
  ASSERT_FALSE(short_read);
  ASSERT_NE(short_read.error().io_error(), nullptr);
  EXPECT_EQ(short_read.error().io_error()->kind, IoErrorKind::UnexpectedEof);
  EXPECT_EQ(short_read.error().to_string(), "failed to fill whole buffer");
  EXPECT_EQ(r.position(), 18U);
  EXPECT_EQ(r.read_u8(), 0x7F);
  // A position past the end reads nothing and does not underflow.
  r.set_position(100);
  EXPECT_EQ(r.remaining(), 0U);
  EXPECT_FALSE(r.read_bytes(1));
}

TEST(RecordReader, FramesAreInnermostFirstAndPositionIsRestored) {
  const Bytes bytes = Le().zeros(5).u8(9).u32(1).u8(0).take();  // Outer at 5; Inner.b is cut short
  ByteReader r(bytes);
  r.set_position(5);
  auto outer = Outer::read(r);
  ASSERT_FALSE(outer);
  const std::vector<std::string> frames = {"While parsing field 'b' in Inner", "While parsing field 'inner' in Outer"};
  EXPECT_EQ(outer.error().context_messages(), frames);
  EXPECT_EQ(r.position(), 5U);
  EXPECT_EQ(outer.error().root_cause().io_error()->message, "failed to fill whole buffer");
  EXPECT_EQ(outer.error().to_string(),
            "failed to fill whole buffer\n  While parsing field 'b' in Inner\n  While parsing field 'inner' in Outer");
  EXPECT_NE(outer.error().debug_string().find("binary_test.cpp"), std::string::npos);  // frames carry their source

  const Bytes whole = Le().u8(9).u32(1).u16(2).u8(0xEE).take();
  ByteReader ok(whole);
  auto v = Outer::read(ok);
  ASSERT_TRUE(v);
  EXPECT_EQ(v->inner.b, 2);
  EXPECT_EQ(ok.position(), 7U);  // trailing bytes are left alone
}

TEST(RecordReader, FrameWrapsErrorsRaisedOutsideAField) {
  const Bytes bytes(4, 0);
  ByteReader r(bytes);
  RecordReader rec(r, "List");
  BinError e = rec.frame(BinError(BinError::Custom{3, "negative count"}), "items");
  EXPECT_EQ(e.context_messages(), std::vector<std::string>{"While parsing field 'items' in List"});
  ASSERT_NE(e.root_cause().get_if<BinError::Custom>(), nullptr);
  EXPECT_EQ(e.root_cause().get_if<BinError::Custom>()->message, "negative count");
  EXPECT_EQ(e.io_error(), nullptr);
}

TEST(ByteWriter, OverwritesGrowsAndZeroFillsGaps) {
  Bytes buf = {1, 2, 3};
  ByteWriter w(buf);
  w.set_position(1);
  w.write_u16(0xBBAA);
  EXPECT_EQ(buf, (Bytes{1, 0xAA, 0xBB}));
  w.set_position(5);
  w.write_u32(0x04030201);
  EXPECT_EQ(buf, (Bytes{1, 0xAA, 0xBB, 0, 0, 1, 2, 3, 4}));
  EXPECT_EQ(w.position(), 9U);
}

TEST(IoError, KindsAndFixedMessages) {
  EXPECT_EQ(IoError::unexpected_eof().message, "failed to fill whole buffer");
  EXPECT_EQ(IoError::write_zero().message, "failed to write whole buffer");
  EXPECT_EQ(IoError::write_zero().kind, IoErrorKind::WriteZero);
  EXPECT_EQ(IoError::from_errno(EINTR).kind, IoErrorKind::Interrupted);
  const IoError os = IoError::from_errno(ENOENT);
  EXPECT_EQ(os.kind, IoErrorKind::Os);
  EXPECT_EQ(os.os_errno, ENOENT);
  EXPECT_EQ(os.to_string(), "No such file or directory");
}

}  // namespace
}  // namespace quillmarsh
