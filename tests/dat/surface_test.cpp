// Surfaces, surface textures and textures.
#include "quillmarsh/dat/file_type/surface.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "quillmarsh/dat/file_type/surface_texture.hpp"
#include "quillmarsh/dat/file_type/texture.hpp"
#include "test_support.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::Le;
using ::testing::ElementsAre;

Bytes prefix(const Bytes& bytes, std::size_t n) { return Bytes(bytes.begin(), bytes.begin() + n); }

std::string root_message(const BinError& error) {
  const IoError* io = error.io_error();
  return io != nullptr ? io->message : "<not an I/O error>";
}

TEST(Surface, TexturedOrColouredBySurfaceTypeBits) {
  for (const std::uint32_t type : {0x2U, 0x4U, 0x6U, 0x103U}) {
    SCOPED_TRACE(type);
    const Bytes bytes = Le().u32(type).u32(0x08000010).u32(0x04000020).f32(0.5F).f32(0.25F).f32(1.0F).take();
    ASSERT_EQ(bytes.size(), 24U);
    auto surface = Surface::unpack(bytes);
    ASSERT_TRUE(surface) << surface.error().to_string();
    EXPECT_EQ(surface->surface_type, type);
    ASSERT_TRUE(surface->texture_refs);
    EXPECT_EQ(surface->texture_refs->orig_texture_id, 0x08000010U);
    EXPECT_EQ(surface->texture_refs->orig_palette_id, 0x04000020U);
    EXPECT_FALSE(surface->color_value);
    EXPECT_EQ(surface->translucency, 0.5F);
    EXPECT_EQ(surface->luminosity, 0.25F);
    EXPECT_EQ(surface->diffuse, 1.0F);
  }
  for (const std::uint32_t type : {0x0U, 0x1U, 0x10U}) {
    SCOPED_TRACE(type);
    // Trailing bytes are ignored.
    const Bytes bytes = Le().u32(type).u32(0xFF00FF00).f32(0.5F).f32(0.25F).f32(1.0F).u32(0xAAAAAAAA).take();
    auto surface = Surface::unpack(bytes);
    ASSERT_TRUE(surface) << surface.error().to_string();
    EXPECT_EQ(surface->color_value, 0xFF00FF00U);
    EXPECT_FALSE(surface->texture_refs);
    EXPECT_EQ(surface->diffuse, 1.0F);
  }
}

TEST(Surface, TruncationNamesTheMissingField) {
  const Bytes textured = Le().u32(0x2).u32(1).u32(2).f32(0).f32(0).f32(0).take();
  const Bytes coloured = Le().u32(0x1).u32(1).f32(0).f32(0).f32(0).take();
  struct Case {
    Bytes bytes;
    std::vector<std::string> contexts;
  };
  const std::vector<Case> cases = {
      {prefix(textured, 3), {"While parsing field 'surface_type' in Surface"}},
      {prefix(textured, 7),
       {"While parsing field 'orig_texture_id' in TextureRefs", "While parsing field 'texture_refs' in Surface"}},
      {prefix(textured, 11),
       {"While parsing field 'orig_palette_id' in TextureRefs", "While parsing field 'texture_refs' in Surface"}},
      {prefix(textured, 15), {"While parsing field 'translucency' in Surface"}},
      {prefix(textured, 23), {"While parsing field 'diffuse' in Surface"}},
      {prefix(coloured, 7), {"While parsing field 'color_value' in Surface"}},
      {prefix(coloured, 15), {"While parsing field 'luminosity' in Surface"}},
      {prefix(coloured, 19), {"While parsing field 'diffuse' in Surface"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    auto surface = Surface::unpack(c.bytes);
    ASSERT_FALSE(surface);
    EXPECT_EQ(surface.error().context_messages(), c.contexts);
    EXPECT_EQ(root_message(surface.error()), "failed to fill whole buffer");
  }
}

TEST(SurfaceTexture, CountAtOffsetNineThenIds) {
  const Bytes empty = Le().u32(0x05000001).u32(7).u8(9).i32(0).take();
  ASSERT_EQ(empty.size(), 13U);
  auto none = SurfaceTexture::unpack(empty);
  ASSERT_TRUE(none) << none.error().to_string();
  EXPECT_EQ(none->id, 0x05000001U);
  EXPECT_EQ(none->unknown_int, 7U);
  EXPECT_EQ(none->unknown_byte, 9U);
  EXPECT_TRUE(none->textures.empty());

  auto three = SurfaceTexture::unpack(
      Le().u32(0x05000002).u32(0).u8(0).i32(3).u32(0x06000001).u32(0x06000002).u32(0x06000003).u32(0xEE).take());
  ASSERT_TRUE(three) << three.error().to_string();
  EXPECT_THAT(three->textures, ElementsAre(0x06000001U, 0x06000002U, 0x06000003U));
}

TEST(SurfaceTexture, TruncationAndInvalidCounts) {
  const Bytes two = Le().u32(0x05000001).u32(0).u8(0).i32(2).u32(0x06000001).take();  // second id missing
  struct Case {
    Bytes bytes;
    std::string context;
  };
  const std::vector<Case> cases = {
      {prefix(two, 3), "While parsing field 'id' in SurfaceTexture"},
      {prefix(two, 7), "While parsing field 'unknown_int' in SurfaceTexture"},
      {prefix(two, 8), "While parsing field 'unknown_byte' in SurfaceTexture"},
      {prefix(two, 12), "While parsing field 'textures' in SurfaceTexture"},
      {two, "While parsing field 'textures' in SurfaceTexture"},
      // A huge count fails at the end of the data rather than reserving room for it.
      {Le().u32(1).u32(0).u8(0).i32(0x7FFFFFFF).take(), "While parsing field 'textures' in SurfaceTexture"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.bytes.size());
    auto texture = SurfaceTexture::unpack(c.bytes);
    ASSERT_FALSE(texture);
    EXPECT_THAT(texture.error().context_messages(), ElementsAre(c.context));
    EXPECT_EQ(root_message(texture.error()), "failed to fill whole buffer");
  }

  // A negative count is invalid: an assertion failure inside the 'textures' frame.
  auto negative = SurfaceTexture::unpack(Le().u32(1).u32(0).u8(0).i32(-1).u32(0x06000001).take());
  ASSERT_FALSE(negative);
  EXPECT_THAT(negative.error().context_messages(), ElementsAre("While parsing field 'textures' in SurfaceTexture"));
  const auto* assert_failure = negative.error().root_cause().get_if<BinError::Assert>();
  ASSERT_NE(assert_failure, nullptr) << negative.error().debug_string();
  EXPECT_EQ(assert_failure->message, "count -1 out of range");
  EXPECT_EQ(assert_failure->position, 13U);
}

Le texture_head(std::uint32_t format, std::int32_t length) {
  Le le;
  le.u32(0x06000001).u32(0x77).u32(16).u32(8).u32(format).i32(length);
  return le;
}

TEST(Texture, PaletteIdOnlyForPalettedFormats) {
  for (const std::uint32_t format : {0x65U, 0x29U}) {
    SCOPED_TRACE(format);
    const Bytes bytes = texture_head(format, 0).u32(0x04000ABC).take();
    ASSERT_EQ(bytes.size(), 28U);
    auto texture = Texture::unpack(bytes);
    ASSERT_TRUE(texture) << texture.error().to_string();
    EXPECT_TRUE(texture->source_data.empty());
    EXPECT_EQ(texture->default_palette_id, 0x04000ABCU);

    auto short_texture = Texture::unpack(prefix(bytes, 27));
    ASSERT_FALSE(short_texture);
    const auto* bin = short_texture.error().get_if<DatError::BinRead>();
    ASSERT_NE(bin, nullptr);
    EXPECT_THAT(bin->error.context_messages(), ElementsAre("While parsing field 'default_palette_id' in Texture"));
  }

  // Another format reads no palette, even with bytes behind the pixels.
  auto plain = Texture::unpack(texture_head(0x14, 4).u8(1).u8(2).u8(3).u8(4).u32(0x04000ABC).take());
  ASSERT_TRUE(plain) << plain.error().to_string();
  EXPECT_EQ(plain->id, 0x06000001U);
  EXPECT_EQ(plain->_unknown, 0x77U);
  EXPECT_EQ(plain->width, 16U);
  EXPECT_EQ(plain->height, 8U);
  EXPECT_EQ(plain->format_raw, 0x14U);
  EXPECT_EQ(plain->length, 4);
  EXPECT_THAT(plain->source_data, ElementsAre(1, 2, 3, 4));
  EXPECT_FALSE(plain->default_palette_id);
}

TEST(Texture, Failures) {
  const Bytes head = texture_head(0x65, 0).take();
  struct Case {
    Bytes bytes;
    std::string context;
    std::string root;
  };
  const std::vector<Case> cases = {
      {prefix(head, 0), "While parsing field 'id' in Texture", "failed to fill whole buffer"},
      {prefix(head, 7), "While parsing field '_unknown' in Texture", "failed to fill whole buffer"},
      {prefix(head, 11), "While parsing field 'width' in Texture", "failed to fill whole buffer"},
      {prefix(head, 15), "While parsing field 'height' in Texture", "failed to fill whole buffer"},
      {prefix(head, 19), "While parsing field 'format_raw' in Texture", "failed to fill whole buffer"},
      {prefix(head, 23), "While parsing field 'length' in Texture", "failed to fill whole buffer"},
      {texture_head(0x14, 5).u32(0).take(), "While parsing field 'source_data' in Texture",
       "not enough bytes in reader"},
      {texture_head(0x14, 0x7FFFFFFF).take(), "While parsing field 'source_data' in Texture",
       "not enough bytes in reader"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.context);
    auto texture = Texture::unpack(c.bytes);
    ASSERT_FALSE(texture);
    const auto* bin = texture.error().get_if<DatError::BinRead>();
    ASSERT_NE(bin, nullptr) << texture.error().debug_string();
    EXPECT_THAT(bin->error.context_messages(), ElementsAre(c.context));
    ASSERT_NE(bin->error.io_error(), nullptr);
    EXPECT_EQ(bin->error.io_error()->kind, IoErrorKind::UnexpectedEof);
    EXPECT_EQ(bin->error.io_error()->message, c.root);
  }

  auto negative = Texture::unpack(texture_head(0x14, -5).zeros(16).take());
  ASSERT_FALSE(negative);
  const auto* bin = negative.error().get_if<DatError::BinRead>();
  ASSERT_NE(bin, nullptr);
  EXPECT_TRUE(bin->error.context_messages().empty());
  const auto* assert_failure = bin->error.get_if<BinError::Assert>();
  ASSERT_NE(assert_failure, nullptr) << bin->error.debug_string();
  EXPECT_EQ(assert_failure->position, 24U);
  EXPECT_EQ(assert_failure->message, "count -5 out of range");
}

}  // namespace
}  // namespace quillmarsh::dat
