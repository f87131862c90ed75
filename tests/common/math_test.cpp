#include "quillmarsh/common/math.hpp"

#include <gtest/gtest.h>

#include <bit>
#include <cstring>

#include "test_support.hpp"

namespace quillmarsh {
namespace {

using testing::Le;

TEST(Vector3, DecodesAndEncodesTheSameTwelveBytes) {
  const Bytes bytes = {0x00, 0x00, 0x80, 0x3F, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00, 0x40, 0x40};
  ByteReader r(bytes);
  auto v = Vector3::read(r);
  ASSERT_TRUE(v);
  EXPECT_EQ(*v, (Vector3{1.0F, 2.0F, 3.0F}));
  EXPECT_EQ(r.position(), 12U);
  Bytes out;
  ByteWriter w(out);
  v->write(w);
  EXPECT_EQ(out, bytes);
}

TEST(Vector3, WritePastTheEndZeroFillsTheGap) {
  Bytes out = {9, 9};
  ByteWriter w(out);
  w.set_position(6);  // 4 bytes beyond the end
  Vector3{1.0F, 2.0F, 3.0F}.write(w);
  EXPECT_EQ(out, Le().u8(9).u8(9).zeros(4).f32(1.0F).f32(2.0F).f32(3.0F).bytes());
  EXPECT_EQ(w.position(), 18U);
}

TEST(Vector3, FloatBitsPassThroughUnchanged) {
  const std::uint32_t nan_bits = 0x7FC12345;  // a NaN with payload
  const std::uint32_t neg_zero = 0x80000000;
  const std::uint32_t subnormal = 0x00000001;
  const Bytes bytes = Le().u32(nan_bits).u32(neg_zero).u32(subnormal).take();
  ByteReader r(bytes);
  auto v = Vector3::read(r);
  ASSERT_TRUE(v);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(v->x), nan_bits);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(v->y), neg_zero);
  EXPECT_EQ(std::bit_cast<std::uint32_t>(v->z), subnormal);
  Bytes out;
  ByteWriter w(out);
  v->write(w);
  EXPECT_EQ(out, bytes);
}

TEST(Quaternion, ScalarPartComesFirst) {
  const Bytes bytes = Le().f32(1.0F).zeros(12).take();
  ByteReader r(bytes);
  auto q = Quaternion::read(r);
  ASSERT_TRUE(q);
  EXPECT_EQ(*q, (Quaternion{1.0F, 0.0F, 0.0F, 0.0F}));
  const Bytes other = Le().f32(0.5F).f32(1.0F).f32(2.0F).f32(3.0F).take();
  ByteReader r2(other);
  auto q2 = Quaternion::read(r2);
  ASSERT_TRUE(q2);
  EXPECT_EQ(q2->w, 0.5F);
  EXPECT_EQ(q2->z, 3.0F);
}

struct ShortCase {
  const char* name;
  std::size_t available;
  std::vector<std::string> frames;
  bool sphere;
};

TEST(Geometry, ShortInputNamesTheMemberAndRestoresThePosition) {
  const std::vector<ShortCase> cases = {
      {"vector3 x", 3, {"While parsing field 'x' in Vector3"}, false},
      {"vector3 z", 8, {"While parsing field 'z' in Vector3"}, false},
      {"sphere center.y", 7, {"While parsing field 'y' in Vector3", "While parsing field 'center' in Sphere"}, true},
      {"sphere radius", 15, {"While parsing field 'radius' in Sphere"}, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes bytes(2 + c.available, 0);
    ByteReader r(bytes);
    r.set_position(2);
    auto error = c.sphere ? Sphere::read(r).error() : Vector3::read(r).error();
    EXPECT_EQ(error.context_messages(), c.frames);
    ASSERT_NE(error.io_error(), nullptr);
    EXPECT_EQ(error.io_error()->message, "failed to fill whole buffer");
    EXPECT_EQ(r.position(), 2U);
  }
}

TEST(Sphere, RadiusMayBeNegative) {
  const Bytes bytes = Le().f32(1).f32(2).f32(3).f32(-4.5F).take();
  ByteReader r(bytes);
  auto s = Sphere::read(r);
  ASSERT_TRUE(s);
  EXPECT_EQ(s->center, (Vector3{1, 2, 3}));
  EXPECT_EQ(s->radius, -4.5F);
}

}  // namespace
}  // namespace quillmarsh
