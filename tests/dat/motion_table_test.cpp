#include "quillmarsh/dat/file_type/motion_table.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "test_support.hpp"

namespace quillmarsh::dat {
namespace {

using ::testing::ElementsAre;
using testing::Le;

// One AnimRef: id, param_a, param_b, framerate.
Le& anim_ref(Le& le, std::uint32_t id, std::int32_t a, std::int32_t b, float rate) {
  return le.u32(id).i32(a).i32(b).f32(rate);
}

TEST(CycleKey, PacksStyleAndTwentyCommandBits) {
  struct Case {
    std::uint32_t style, command, key;
    bool forward;
  };
  const Case cases[] = {
      {0x80000003, 0x44000007, 0x00030007, true},
      {0x80000003, 0x6500000D, 0x0003000D, false},
      {0x80000003, 0x45000005, 0x00030005, true},
      {0x80000003, 0x45000006, 0x00030006, false},
      // Command bits 16..19 survive the mask and overlap the style's low bits.
      {0x00000001, 0x000F0007, 0x000F0007, true},
      {0xFFFF0000, 0x12345678, 0x00045678, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(cycle_key(c.style, c.command), c.key) << std::hex << c.style << " " << c.command;
    EXPECT_EQ(is_forward_cycle(c.key), c.forward) << std::hex << c.key;
  }
}

// A table with every map filled: defaults, two cycles, one secondary entry, one paired map.
Bytes sample_table_bytes() {
  Le le;
  le.u32(0x09000023).u32(0x80000003);
  le.u32(1).u32(0x80000003).u32(0x41000003);  // defaults
  le.u32(2);                                  // cycles, ascending
  le.u32(0x00030007).u8(1).u8(0x05).u8(0x00).u8(0);
  anim_ref(le, 0x03000023, -1, 7, 2.5F);
  le.u32(0x0003000D).u8(0).u8(0).u8(0x02).u8(0).f32(0).f32(0).f32(1.5F);
  le.u32(1);  // secondary entries
  le.u32(0x10000057).u8(2).u8(0).u8(0x03).u8(0);
  anim_ref(le, 0x03000001, 0, 0, 30.0F);
  anim_ref(le, 0x03000002, 1, 2, 15.0F);
  le.f32(1).f32(2).f32(3).f32(4).f32(5).f32(6);
  le.u32(1).u32(0x41000003);  // paired entries: one outer key
  le.u32(1).u32(0x45000005).u8(0).u8(9).u8(0x01).u8(0).f32(0.5F).f32(0).f32(0);
  return le.take();
}

TEST(MotionTableUnpack, DecodesEveryMapAndPacksBackToTheSameBytes) {
  const Bytes bytes = sample_table_bytes();
  auto table = MotionTable::unpack(bytes);
  ASSERT_TRUE(table) << table.error().to_string();
  EXPECT_EQ(table->id, 0x09000023U);
  EXPECT_EQ(table->default_style, 0x80000003U);
  EXPECT_EQ(table->defaults, (std::unordered_map<std::uint32_t, std::uint32_t>{{0x80000003, 0x41000003}}));

  ASSERT_EQ(table->cycles.size(), 2U);
  const MotionEntry& walk = table->cycles.at(0x00030007);
  EXPECT_THAT(walk.anims, ElementsAre(AnimRef{0x03000023, -1, 7, 2.5F}));
  EXPECT_EQ(walk.bits, 0x05);
  EXPECT_FALSE(walk.velocity);
  EXPECT_FALSE(walk.omega);
  const MotionEntry& turn = table->cycles.at(0x0003000D);
  EXPECT_TRUE(turn.anims.empty());
  EXPECT_FALSE(turn.velocity);
  EXPECT_EQ(turn.omega, (Vector3{0, 0, 1.5F}));

  const MotionEntry& secondary = table->secondary_entries.at(0x10000057);
  EXPECT_EQ(secondary.anims.size(), 2U);
  EXPECT_EQ(secondary.velocity, (Vector3{1, 2, 3}));
  EXPECT_EQ(secondary.omega, (Vector3{4, 5, 6}));

  const MotionEntry& paired = table->paired_entries.at(0x41000003).at(0x45000005);
  EXPECT_EQ(paired.bits, 9);
  EXPECT_EQ(paired.velocity, (Vector3{0.5F, 0, 0}));
  EXPECT_FALSE(paired.omega);

  auto packed = table->pack();
  ASSERT_TRUE(packed);
  EXPECT_EQ(*packed, bytes);
}

TEST(MotionTableUnpack, FlagsGateVelocityAndOmegaAndOtherBitsAreCarried) {
  // Flags 0x04 has neither vector: the entry ends after its head, and the next table field follows.
  const Bytes bytes =
      Le().u32(1).u32(2).u32(0).u32(1).u32(0x00030007).u8(0).u8(0).u8(0x04).u8(0xEE).u32(0).u32(0).take();
  auto table = MotionTable::unpack(bytes);
  ASSERT_TRUE(table) << table.error().to_string();
  const MotionEntry& entry = table->cycles.at(0x00030007);
  EXPECT_EQ(entry.flags, 0x04);
  EXPECT_FALSE(entry.velocity);
  EXPECT_FALSE(entry.omega);
  // The padding byte is not kept; packing writes it as zero.
  auto packed = table->pack();
  ASSERT_TRUE(packed);
  Bytes expected = bytes;
  expected[23] = 0;
  EXPECT_EQ(*packed, expected);
}

TEST(MotionTableUnpack, LaterKeyReplacesEarlierInEveryMap) {
  const Bytes bytes = Le().u32(1)
                          .u32(2)
                          .u32(2)
                          .u32(7)
                          .u32(100)
                          .u32(7)
                          .u32(200)
                          .u32(2)
                          .u32(0x00030007)
                          .u8(0)
                          .u8(1)
                          .u8(0)
                          .u8(0)
                          .u32(0x00030007)
                          .u8(0)
                          .u8(2)
                          .u8(0)
                          .u8(0)
                          .u32(0)
                          .u32(2)
                          .u32(5)
                          .u32(0)
                          .u32(5)
                          .u32(1)
                          .u32(9)
                          .u8(0)
                          .u8(3)
                          .u8(0)
                          .u8(0)
                          .take();
  auto table = MotionTable::unpack(bytes);
  ASSERT_TRUE(table) << table.error().to_string();
  EXPECT_EQ(table->defaults.at(7), 200U);
  EXPECT_EQ(table->cycles.size(), 1U);
  EXPECT_EQ(table->cycles.at(0x00030007).bits, 2);
  ASSERT_EQ(table->paired_entries.size(), 1U);
  EXPECT_EQ(table->paired_entries.at(5).at(9).bits, 3);
}

TEST(MotionTableUnpack, TruncationNamesTheFieldsInnermostFirst) {
  const Bytes full = sample_table_bytes();
  // Offsets into sample_table_bytes: header 8, defaults 12, cycle count 4, first cycle key 4 + head 4.
  const std::size_t first_anim_ref = 8 + 12 + 4 + 4 + 4;
  const std::size_t turn_omega = first_anim_ref + 16 + 4 + 4;
  struct Case {
    std::size_t length;
    std::vector<std::string> contexts;
  };
  const std::vector<Case> cases = {
      {2, {"While parsing field 'id' in MotionTable"}},
      {10, {"While parsing field 'defaults' in MotionTable"}},
      {8 + 12 + 2, {"While parsing field 'cycles' in MotionTable"}},
      {8 + 12 + 4 + 4 + 2,
       {"While parsing field 'flags' in MotionEntry", "While parsing field 'cycles' in MotionTable"}},
      {first_anim_ref + 13,
       {"While parsing field 'framerate' in AnimRef", "While parsing field 'anims' in MotionEntry",
        "While parsing field 'cycles' in MotionTable"}},
      {turn_omega + 9,
       {"While parsing field 'z' in Vector3", "While parsing field 'omega' in MotionEntry",
        "While parsing field 'cycles' in MotionTable"}},
      {full.size() - 1,
       {"While parsing field 'z' in Vector3", "While parsing field 'velocity' in MotionEntry",
        "While parsing field 'paired_entries' in MotionTable"}},
  };
  for (const Case& c : cases) {
    auto table = MotionTable::unpack(ByteView(full).first(c.length));
    ASSERT_FALSE(table) << c.length;
    ASSERT_NE(table.error().io_error(), nullptr) << c.length;
    EXPECT_EQ(table.error().io_error()->message, "failed to fill whole buffer");
    EXPECT_EQ(table.error().context_messages(), c.contexts) << c.length;
  }
}

TEST(MotionTableUnpack, HugeCountInShortInputFailsAtEndOfInput) {
  for (const Bytes& bytes :
       {Le().u32(1).u32(2).u32(0xFFFFFFFF).u32(1).take(), Le().u32(1).u32(2).u32(0).u32(0xFFFFFFFF).u32(3).u8(0).take(),
        Le().u32(1).u32(2).u32(0).u32(0).u32(0).u32(0xFFFFFFFF).u32(1).u32(0xFFFFFFFF).take()}) {
    auto table = MotionTable::unpack(bytes);
    ASSERT_FALSE(table);
    ASSERT_NE(table.error().io_error(), nullptr);
    EXPECT_EQ(table.error().io_error()->message, "failed to fill whole buffer");
  }
}

TEST(MotionTablePack, FlagBitsFollowPresenceAndTooManyAnimsFail) {
  MotionTable table;
  table.id = 0x09000001;
  MotionEntry entry;
  entry.flags = 0x01 | 0x40;  // claims a velocity it does not hold
  entry.omega = Vector3{0, 0, 2};
  entry.anims.push_back({0x03000001, 0, 0, 30.0F});
  table.cycles.emplace(0x00030007, entry);
  auto packed = table.pack();
  ASSERT_TRUE(packed);
  auto back = MotionTable::unpack(*packed);
  ASSERT_TRUE(back) << back.error().to_string();
  const MotionEntry& round = back->cycles.at(0x00030007);
  EXPECT_EQ(round.flags, 0x42);
  EXPECT_FALSE(round.velocity);
  EXPECT_EQ(round.omega, entry.omega);
  EXPECT_EQ(round.anims, entry.anims);

  table.cycles.at(0x00030007).anims.resize(256);
  auto too_many = table.pack();
  ASSERT_FALSE(too_many);
  EXPECT_NE(too_many.error().get_if<BinError::Assert>(), nullptr);
}

TEST(MotionTablePack, UnpackOfPackIsIdentityForConsistentTables) {
  MotionTable table;
  table.id = 0x09000099;
  table.default_style = 0x8000003D;
  for (std::uint32_t i = 0; i < 40; ++i) {
    MotionEntry entry;
    entry.bits = static_cast<std::uint8_t>(i);
    for (std::uint32_t a = 0; a < i % 4; ++a)
      entry.anims.push_back({0x03000000 + i * 4 + a, -int(a), int(i), 30.0F / (a + 1)});
    if (i % 3 == 0) entry.velocity = Vector3{float(i), -1, 0.25F};
    if (i % 5 == 0) entry.omega = Vector3{0, 0, float(i) / 8};
    entry.flags = static_cast<std::uint8_t>((entry.velocity ? 1 : 0) | (entry.omega ? 2 : 0) | (i % 2 ? 0x10 : 0));
    table.cycles.emplace(cycle_key(0x8000003D, 0x45000000 + i), entry);
    if (i % 7 == 0) table.secondary_entries.emplace(i, entry);
    if (i % 9 == 0) table.paired_entries[i % 2].emplace(i, entry);
    table.defaults.emplace(i * 3, i);
  }
  auto packed = table.pack();
  ASSERT_TRUE(packed);
  auto back = MotionTable::unpack(*packed);
  ASSERT_TRUE(back) << back.error().to_string();
  EXPECT_EQ(*back, table);
}

}  // namespace
}  // namespace quillmarsh::dat
