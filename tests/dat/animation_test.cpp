#include "quillmarsh/dat/file_type/animation.hpp"

#include <gtest/gtest.h>

#include "test_support.hpp"

namespace quillmarsh::dat {
namespace {

using testing::Le;

Le& frame(Le& le, float x, float y, float z) { return le.f32(x).f32(y).f32(z).f32(1).f32(0).f32(0).f32(0); }

// Two parts, two frames, position frames present; hooks of types 0, 5 (padded) and 1.
Bytes sample_animation_bytes() {
  Le le;
  le.u32(0x03000023).u32(0x01).u32(2).u32(2);
  frame(le, 1, 0, 0);
  frame(le, 0.5F, 0.25F, 0);
  // frame record 0: two poses, two hooks
  frame(le, 0, 0, 1);
  frame(le, 0, 0, 2);
  le.u32(2);
  le.u32(0).u32(11);                                // type 0: no payload
  le.u32(5).u32(12).u8(0xAA).u16(0x1234).u8(0x00);  // type 5: 3 bytes + 1 padding
  // frame record 1: two poses, one hook
  frame(le, 0, 1, 0);
  frame(le, 0, 2, 0);
  le.u32(1);
  le.u32(1).u32(13).u32(0xDEADBEEF);  // type 1: 4 bytes
  return le.take();
}

TEST(AnimationUnpack, DecodesFramesAndHooksAndPacksBackToTheSameBytes) {
  const Bytes bytes = sample_animation_bytes();
  auto anim = Animation::unpack(bytes);
  ASSERT_TRUE(anim) << anim.error().to_string();
  EXPECT_EQ(anim->id, 0x03000023U);
  EXPECT_EQ(anim->header_words, (std::array<std::uint32_t, 3>{1, 2, 2}));
  ASSERT_EQ(anim->position_frames.size(), 2U);
  EXPECT_EQ(anim->position_frames[1].origin, (Vector3{0.5F, 0.25F, 0}));
  EXPECT_EQ(anim->position_frames[1].orientation, (Quaternion{1, 0, 0, 0}));
  ASSERT_EQ(anim->frame_records.size(), 2U);
  ASSERT_EQ(anim->frame_records[0].frames.size(), 2U);
  EXPECT_EQ(anim->frame_records[0].frames[1].origin, (Vector3{0, 0, 2}));
  ASSERT_EQ(anim->frame_records[0].hooks.size(), 2U);
  EXPECT_EQ(anim->frame_records[0].hooks[0], (AnimationHook{0, 11, {}}));
  EXPECT_EQ(anim->frame_records[0].hooks[1], (AnimationHook{5, 12, {0xAA, 0x34, 0x12, 0x00}}));
  EXPECT_EQ(anim->frame_records[1].hooks.at(0), (AnimationHook{1, 13, {0xEF, 0xBE, 0xAD, 0xDE}}));

  auto packed = anim->pack();
  ASSERT_TRUE(packed) << packed.error().to_string();
  EXPECT_EQ(*packed, bytes);
}

TEST(AnimationUnpack, FlagBitOneGatesPositionFrames) {
  // Flags 0x02: no position frames, so the frame record follows the header directly.
  Le le;
  le.u32(0x03000001).u32(0x02).u32(1).u32(1);
  frame(le, 3, 2, 1);
  le.u32(0);
  const Bytes bytes = le.take();
  auto anim = Animation::unpack(bytes);
  ASSERT_TRUE(anim) << anim.error().to_string();
  EXPECT_TRUE(anim->position_frames.empty());
  EXPECT_EQ(anim->header_words[0], 0x02U);
  ASSERT_EQ(anim->frame_records.size(), 1U);
  EXPECT_EQ(anim->frame_records[0].frames.at(0).origin, (Vector3{3, 2, 1}));
  auto packed = anim->pack();
  ASSERT_TRUE(packed);
  EXPECT_EQ(*packed, bytes);
}

TEST(AnimationUnpack, TruncationNamesTheFieldsInnermostFirst) {
  const Bytes full = sample_animation_bytes();
  const std::size_t records = 16 + 2 * 28;
  struct Case {
    std::size_t length;
    std::vector<std::string> contexts;
  };
  const std::vector<Case> cases = {
      {14, {"While parsing field 'frame_count' in Animation"}},
      {16 + 28 + 17,
       {"While parsing field 'x' in Quaternion", "While parsing field 'orientation' in Frame",
        "While parsing field 'position_frames' in Animation"}},
      {records + 28 + 2,
       {"While parsing field 'x' in Vector3", "While parsing field 'origin' in Frame",
        "While parsing field 'frames' in AnimFrame", "While parsing field 'frame_records' in Animation"}},
      {records + 56 + 2,
       {"While parsing field 'hooks' in AnimFrame", "While parsing field 'frame_records' in Animation"}},
      // Inside the type-5 hook's padding byte.
      {records + 56 + 4 + 8 + 11,
       {"While parsing field 'hooks' in AnimFrame", "While parsing field 'frame_records' in Animation"}},
  };
  for (const Case& c : cases) {
    auto anim = Animation::unpack(ByteView(full).first(c.length));
    ASSERT_FALSE(anim) << c.length;
    ASSERT_NE(anim.error().io_error(), nullptr) << c.length;
    EXPECT_EQ(anim.error().io_error()->message, "failed to fill whole buffer");
    EXPECT_EQ(anim.error().context_messages(), c.contexts) << c.length;
  }
}

TEST(AnimationUnpack, UnsupportedHookTypeKeepsTheHookReadersError) {
  const Bytes bytes = Le().u32(1).u32(0).u32(0).u32(1).u32(1).u32(27).u32(0).take();
  auto anim = Animation::unpack(bytes);
  ASSERT_FALSE(anim);
  const auto* custom = anim.error().root_cause().get_if<BinError::Custom>();
  ASSERT_NE(custom, nullptr);
  EXPECT_EQ(custom->message, "Unsupported AnimationHook type: 0x0000001B");
  EXPECT_EQ(anim.error().context_messages(),
            (std::vector<std::string>{"While parsing field 'hooks' in AnimFrame",
                                      "While parsing field 'frame_records' in Animation"}));
}

TEST(AnimationUnpack, HugeCountsInShortInputFailAtEndOfInput) {
  // Part count x frame count far beyond the input: nothing may be reserved from the counts.
  const Bytes cases[] = {
      Le().u32(1).u32(1).u32(0xFFFFFFFF).u32(0xFFFFFFFF).zeros(30).take(),
      Le().u32(1).u32(0).u32(0xFFFFFFFF).u32(0xFFFFFFFF).zeros(30).take(),
      Le().u32(1).u32(0).u32(0).u32(0xFFFFFFFF).u32(0).u32(0).take(),
      Le().u32(1).u32(0).u32(0).u32(1).u32(0xFFFFFFFF).u32(0).u32(0).take(),
  };
  for (const Bytes& bytes : cases) {
    auto anim = Animation::unpack(bytes);
    ASSERT_FALSE(anim);
    ASSERT_NE(anim.error().io_error(), nullptr);
    EXPECT_EQ(anim.error().io_error()->message, "failed to fill whole buffer");
  }
}

TEST(AnimationPack, RefusesRecordsThatDisagreeWithTheirHeader) {
  auto base = Animation::unpack(sample_animation_bytes());
  ASSERT_TRUE(base);
  std::vector<Animation> bad(4, *base);
  bad[0].position_frames.pop_back();
  bad[1].frame_records.pop_back();
  bad[2].frame_records[1].frames.pop_back();
  bad[3].frame_records[0].hooks[1].data.pop_back();  // type 5 hook without its padding
  for (const Animation& anim : bad) {
    auto packed = anim.pack();
    ASSERT_FALSE(packed);
    EXPECT_NE(packed.error().get_if<BinError::Assert>(), nullptr);
  }
}

}  // namespace
}  // namespace quillmarsh::dat
