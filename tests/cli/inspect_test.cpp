// End-to-end: quillmarsh inspect of each record kind, from an archive and from a file.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_test_support.hpp"

namespace quillmarsh::testing {
namespace {

using ::testing::HasSubstr;

struct Packed : World {
  Packed() { EXPECT_EQ(run({"pack", "-o", "bundle.qma", "content/portal", "content/cell"}).code, 0); }
};

const Packed& packed() {
  static const Packed world;
  return world;
}

struct KindCase {
  const char* kind;
  const char* namespace_;
  const char* id;
  const char* member;  // a member of the decoded record
  nlohmann::json value;
};

void PrintTo(const KindCase& c, std::ostream* os) { *os << c.kind; }

class InspectKind : public ::testing::TestWithParam<KindCase> {};

TEST_P(InspectKind, DecodesFromTheArchive) {
  const KindCase& c = GetParam();
  const Outcome json = packed().run({"inspect", c.kind, "bundle.qma", c.namespace_, c.id, "--json"});
  ASSERT_EQ(json.code, 0) << json.err;
  const auto doc = nlohmann::json::parse(json.out);
  EXPECT_EQ(doc["kind"], c.kind);
  ASSERT_TRUE(doc["record"].contains(c.member)) << json.out;
  if (!c.value.is_null()) {
    EXPECT_EQ(doc["record"][c.member], c.value);
  }

  const Outcome text = packed().run({"inspect", c.kind, "bundle.qma", c.namespace_, c.id});
  ASSERT_EQ(text.code, 0);
  EXPECT_THAT(text.out, HasSubstr(std::string("\n  ") + c.member + ":"));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, InspectKind,
    ::testing::Values(KindCase{"setup", "eor/portal", "0x02000001", "id", "0x02000001"},
                      KindCase{"surface", "eor/portal", "0x08000001", "orig_texture_id", nullptr},
                      KindCase{"surface", "eor/portal", "0x08000004", "color_value", nullptr},
                      KindCase{"surface-texture", "eor/portal", "0x05000001", "textures", nullptr},
                      KindCase{"texture", "eor/portal", "0x06000001", "default_palette_id", nullptr},
                      KindCase{"landblock-info", "eor/cell", "0xA9B4FFFE", "id", "0xA9B4FFFE"},
                      KindCase{"motion-table", "eor/portal", "0x09000001", "default_style", "0x80000003"},
                      KindCase{"animation", "eor/portal", "0x03000001", "id", "0x03000001"},
                      KindCase{"kinematics", "quillmarsh/core", "0x4D4F544B", "magic", "0x4D4F544B"},
                      KindCase{"gfx-surfaces", "eor/portal", "0x01000001", "surfaces", nullptr}),
    [](const auto& info) {
      std::string name = std::string(info.param.kind) + "_" + std::to_string(info.index);
      std::replace(name.begin(), name.end(), '-', '_');
      return name;
    });

TEST(Inspect, FromAFileAndDecodeFailuresWithEveryFrame) {
  const World& world = packed();
  const Outcome file = world.run({"inspect", "gfx-surfaces", "content/portal/01000001.bin", "--json"});
  ASSERT_EQ(file.code, 0) << file.err;
  EXPECT_EQ(nlohmann::json::parse(file.out)["source"], "content/portal/01000001.bin");

  // A texture cut inside its pixel data, and a landblock info cut inside its first object.
  const Bytes& texture = world.content.portal.at(0x06000001);
  spit(world.dir / "cut-texture", std::string(texture.begin(), texture.begin() + 30));
  const Outcome tex = world.run({"inspect", "texture", "cut-texture"});
  EXPECT_EQ(tex.code, 1);
  EXPECT_THAT(tex.err, HasSubstr("quillmarsh: error: cannot decode cut-texture as texture: "));
  EXPECT_THAT(tex.err, HasSubstr("While parsing field 'source_data' in Texture"));

  const Bytes& info = world.content.cell.at(0xA9B4FFFE);
  spit(world.dir / "cut-info", std::string(info.begin(), info.begin() + 20));
  const Outcome lb = world.run({"inspect", "landblock-info", "cut-info"});
  EXPECT_EQ(lb.code, 1);
  EXPECT_THAT(lb.err, HasSubstr("failed to fill whole buffer"));
  EXPECT_THAT(lb.err, HasSubstr("While parsing field 'frame' in Stab"));
  EXPECT_THAT(lb.err, HasSubstr("While parsing field 'objects' in LandblockInfo"));

  EXPECT_EQ(world.run({"inspect", "setup", "bundle.qma", "eor/portal"}).code, 2);  // two of three arguments
  EXPECT_EQ(world.run({"inspect", "palette", "content/portal/04000001.bin"}).code, 2);
  EXPECT_EQ(world.run({"inspect", "setup", "bundle.qma", "eor/portal", "0x02FFFFFF"}).code, 1);
}

}  // namespace
}  // namespace quillmarsh::testing
