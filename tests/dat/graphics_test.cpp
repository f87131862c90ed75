#include "quillmarsh/dat/graphics.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::Le;

TEST(Frame, OriginThenOrientationWithScalarFirst) {
  const Bytes bytes = Le().f32(1).f32(2).f32(3).f32(0.5F).f32(4).f32(5).f32(6).u8(0xEE).take();
  ByteReader r(bytes);
  auto f = Frame::read(r);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->origin, (Vector3{1, 2, 3}));
  EXPECT_EQ(f->orientation, (Quaternion{0.5F, 4, 5, 6}));
  EXPECT_EQ(r.position(), 28U);
}

TEST(Frame, ShortInputFailsInsideTheRotation) {
  struct Case {
    std::size_t available;
    std::vector<std::string> frames;
  };
  const std::vector<Case> cases = {
      {27, {"While parsing field 'z' in Quaternion", "While parsing field 'orientation' in Frame"}},
      {12, {"While parsing field 'w' in Quaternion", "While parsing field 'orientation' in Frame"}},
      {5, {"While parsing field 'y' in Vector3", "While parsing field 'origin' in Frame"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.available);
    const Bytes bytes(3 + c.available, 0);
    ByteReader r(bytes);
    r.set_position(3);
    auto f = Frame::read(r);
    ASSERT_FALSE(f);
    EXPECT_EQ(f.error().context_messages(), c.frames);
    EXPECT_EQ(f.error().io_error()->message, "failed to fill whole buffer");
    EXPECT_EQ(r.position(), 3U);
  }
}

}  // namespace
}  // namespace quillmarsh::dat
