// The synthetic content generator. Records with a library encoder (motion tables, animations) use it;
// the others are laid out here field by field in their stored layouts.
#include "quillmarsh/tools/synthetic_content.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "quillmarsh/common/splitmix64.hpp"
#include "quillmarsh/dat/file_type/animation.hpp"
#include "quillmarsh/dat/file_type/motion_table.hpp"
#include "quillmarsh/tools/dat_shard.hpp"
#include "quillmarsh/tools/spell_table_json.hpp"

namespace quillmarsh::tools {

namespace {

// The seeded sequence, with the draws this generator needs.
class Random : public SplitMix64 {
 public:
  using SplitMix64::SplitMix64;
  // Uniform enough in [lo, hi] for content generation.
  std::uint32_t range(std::uint32_t lo, std::uint32_t hi) {
    return lo + static_cast<std::uint32_t>(next() % (std::uint64_t{hi} - lo + 1));
  }
  float real(float lo, float hi) {
    return lo + (hi - lo) * static_cast<float>(next() >> 40) / static_cast<float>(1ULL << 24);
  }
  template <class T>
  const T& pick(const std::vector<T>& items) {
    return items[range(0, static_cast<std::uint32_t>(items.size() - 1))];
  }
};

constexpr std::uint32_t PALETTE = 0x04000000;
constexpr std::uint32_t TEXTURE = 0x06000000;
constexpr std::uint32_t SURFACE_TEXTURE = 0x05000000;
constexpr std::uint32_t SURFACE = 0x08000000;
constexpr std::uint32_t GFX_OBJECT = 0x01000000;
constexpr std::uint32_t SETUP = 0x02000000;
constexpr std::uint32_t MOTION_TABLE = 0x09000000;
constexpr std::uint32_t ANIMATION = 0x03000000;
constexpr std::uint32_t AUDIO = 0x0A000000;
constexpr std::uint32_t CLOTHING = 0x10000000;
constexpr std::uint32_t STYLE = 0x80000003;

std::vector<std::uint32_t> ids(std::uint32_t base, std::uint32_t count) {
  std::vector<std::uint32_t> out;
  for (std::uint32_t i = 1; i <= count; ++i) out.push_back(base + i);
  return out;
}

void write_frame(ByteWriter& w, float x, float y, float z, float heading) {
  w.write_f32(x);
  w.write_f32(y);
  w.write_f32(z);
  // A rotation about the vertical axis: w first, then x, y, z.
  w.write_f32(1.0F - heading * heading / 2.0F);
  w.write_f32(0.0F);
  w.write_f32(0.0F);
  w.write_f32(heading);
}

// Bytes that look like real payload: a repeating pattern with noise, so that compression helps.
Bytes payload(Random& random, std::size_t size) {
  Bytes out(size);
  const auto period = static_cast<std::uint8_t>(random.range(3, 17));
  for (std::size_t i = 0; i < size; ++i) {
    out[i] = static_cast<std::uint8_t>((i % period) * 13 + ((random.next() & 0x7) == 0 ? random.range(0, 255) : 0));
  }
  return out;
}

Bytes palette(Random& random, std::uint32_t id) {
  Bytes out;
  ByteWriter w(out);
  w.write_u32(id);
  w.write_u32(16);
  for (int i = 0; i < 16; ++i) w.write_u32(0xFF000000U | random.range(0, 0xFFFFFF));
  return out;
}

Bytes texture(Random& random, std::uint32_t id, std::uint32_t palette_id) {
  const std::uint32_t side = 8U << random.range(0, 2);
  const bool paletted = palette_id != 0;
  const Bytes pixels = payload(random, std::size_t{side} * side * (paletted ? 1 : 2));
  Bytes out;
  ByteWriter w(out);
  w.write_u32(id);
  w.write_u32(random.range(0, 3));  // _unknown
  w.write_u32(side);
  w.write_u32(side);
  w.write_u32(paletted ? 0x65 : 0x14);
  w.write_u32(static_cast<std::uint32_t>(pixels.size()));
  w.write_bytes(pixels);
  if (paletted) w.write_u32(palette_id);
  return out;
}

Bytes surface_texture(std::uint32_t id, const std::vector<std::uint32_t>& textures) {
  Bytes out;
  ByteWriter w(out);
  w.write_u32(id);
  w.write_u32(1);  // unknown_int
  w.write_u8(0);   // unknown_byte
  w.write_u32(static_cast<std::uint32_t>(textures.size()));
  for (const auto t : textures) w.write_u32(t);
  return out;
}

Bytes surface(Random& random, std::uint32_t surface_texture_id, std::uint32_t palette_id) {
  Bytes out;
  ByteWriter w(out);
  if (surface_texture_id != 0) {
    w.write_u32(0x2);  // textured
    w.write_u32(surface_texture_id);
    w.write_u32(palette_id);
  } else {
    w.write_u32(0x1);  // coloured
    w.write_u32(0xFF000000U | random.range(0, 0xFFFFFF));
  }
  w.write_f32(0.0F);                     // translucency
  w.write_f32(random.real(0.0F, 0.5F));  // luminosity
  w.write_f32(random.real(0.5F, 1.0F));  // diffuse
  return out;
}

Bytes graphics_object(Random& random, std::uint32_t id, const std::vector<std::uint32_t>& surfaces) {
  Bytes out;
  ByteWriter w(out);
  w.write_u32(id);
  w.write_u32(random.range(0, 3));                         // flags
  w.write_u8(static_cast<std::uint8_t>(surfaces.size()));  // packed count, one byte below 0x80
  for (const auto s : surfaces) w.write_u32(s);
  w.write_bytes(payload(random, random.range(48, 160)));  // vertex data, not read by anything here
  return out;
}

// A setup whose parts are `parts`, with one placement, a cylinder sphere, a sphere and the default
// motion table in the third trailing id (0 for none).
Bytes setup(Random& random, std::uint32_t id, const std::vector<std::uint32_t>& parts, std::uint32_t motion_table) {
  Bytes out;
  ByteWriter w(out);
  w.write_u32(id);
  w.write_u32(0);  // flags: neither part values nor part vectors
  w.write_u32(static_cast<std::uint32_t>(parts.size()));
  for (const auto p : parts) w.write_u32(p);
  w.write_u32(0);  // locations_1
  w.write_u32(0);  // locations_2
  w.write_u32(1);  // placements
  w.write_u32(0x65);
  for (std::size_t i = 0; i < parts.size(); ++i) write_frame(w, 0.0F, 0.0F, 0.4F * static_cast<float>(i), 0.0F);
  w.write_u32(0);  // hooks
  w.write_u32(1);  // cylinder spheres: origin, radius, height
  for (const float v : {0.0F, 0.0F, 0.0F, 0.5F, random.real(1.0F, 2.5F)}) w.write_f32(v);
  w.write_u32(1);  // spheres: center, radius
  for (const float v : {0.0F, 0.0F, 0.9F, 1.0F}) w.write_f32(v);
  for (int i = 0; i < 4; ++i) w.write_u32(0);                         // scalars
  for (int i = 0; i < 8; ++i) w.write_f32(i % 4 == 3 ? 1.0F : 0.0F);  // sphere_1, sphere_2
  w.write_u32(0);                                                     // lights
  w.write_u32(0);
  w.write_u32(0);
  w.write_u32(motion_table);
  w.write_u32(0);
  w.write_u32(0);
  return out;
}

dat::Animation animation(Random& random, std::uint32_t id, bool moves) {
  dat::Animation a;
  a.id = id;
  const std::uint32_t parts = random.range(1, 3);
  const std::uint32_t frames = random.range(4, 10);
  a.header_words = {dat::Animation::FLAG_POSITION_FRAMES, parts, frames};
  const float step = moves ? random.real(0.05F, 0.25F) : 0.0F;
  for (std::uint32_t f = 0; f < frames; ++f) {
    dat::Frame frame;
    frame.origin = Vector3{0.0F, step, 0.0F};
    a.position_frames.push_back(frame);
    dat::AnimFrame record;
    for (std::uint32_t p = 0; p < parts; ++p) {
      dat::Frame pose;
      pose.origin = Vector3{0.0F, 0.0F, random.real(-0.1F, 0.1F)};
      record.frames.push_back(pose);
    }
    if (f == 0) record.hooks.push_back(dat::AnimationHook{0, 1, {}});  // a hook without payload
    a.frame_records.push_back(std::move(record));
  }
  return a;
}

dat::MotionEntry entry(std::vector<std::uint32_t> anims, float framerate) {
  dat::MotionEntry e;
  for (const auto id : anims) e.anims.push_back(dat::AnimRef{id, 0, -1, framerate});
  return e;
}

// Cycles: walk and run (forward, velocity inferred from the animations), a turn with an explicit omega,
// idle, and sometimes a side-step with an explicit velocity.
dat::MotionTable motion_table(Random& random, std::uint32_t id, const std::vector<std::uint32_t>& moving,
                              const std::vector<std::uint32_t>& still) {
  dat::MotionTable t;
  t.id = id;
  t.default_style = STYLE;
  t.defaults.emplace(STYLE, 0x41000003);
  t.cycles.emplace(dat::cycle_key(STYLE, 0x45000005), entry({random.pick(moving)}, 30.0F));
  t.cycles.emplace(dat::cycle_key(STYLE, 0x44000007), entry({random.pick(moving), random.pick(moving)}, 30.0F));
  dat::MotionEntry turn = entry({random.pick(still)}, 30.0F);
  turn.omega = Vector3{0.0F, 0.0F, 1.5F};
  turn.flags = dat::MotionEntry::FLAG_OMEGA;
  t.cycles.emplace(dat::cycle_key(STYLE, 0x6500000D), std::move(turn));
  t.cycles.emplace(dat::cycle_key(STYLE, 0x41000003), entry({random.pick(still)}, 30.0F));
  if (random.range(0, 1) == 1) {
    dat::MotionEntry side = entry({random.pick(still)}, 30.0F);
    side.velocity = Vector3{1.25F, 0.0F, 0.0F};
    side.flags = dat::MotionEntry::FLAG_VELOCITY;
    t.cycles.emplace(dat::cycle_key(STYLE, 0x6500000F), std::move(side));
  }
  t.secondary_entries.emplace(0x10000057, entry({random.pick(still)}, 30.0F));
  return t;
}

Bytes landblock_file(Random& random, std::uint32_t id) {
  Bytes out;
  ByteWriter w(out);
  w.write_u32(id);
  w.write_u32(0);                                                                               // flags
  for (int i = 0; i < 81; ++i) w.write_u16(static_cast<std::uint16_t>(random.range(0, 0x7F)));  // terrain
  for (int i = 0; i < 81; ++i) w.write_u8(static_cast<std::uint8_t>(random.range(40, 90)));     // heights
  return out;
}

Bytes landblock_info(Random& random, std::uint32_t id, std::uint32_t cells, const std::vector<std::uint32_t>& models,
                     const std::vector<std::uint32_t>& buildings) {
  Bytes out;
  ByteWriter w(out);
  w.write_u32(id);
  w.write_u32(cells);
  const std::uint32_t objects = random.range(3, 6);
  w.write_u32(objects);
  for (std::uint32_t i = 0; i < objects; ++i) {
    w.write_u32(random.pick(models));
    write_frame(w, random.real(0, 192), random.real(0, 192), random.real(40, 90), random.real(-0.5F, 0.5F));
  }
  const auto building_count = static_cast<std::uint16_t>(random.range(0, 2));
  const bool restricted = random.range(0, 3) == 0;
  w.write_u16(building_count);
  w.write_u16(restricted ? 0x1 : 0x0);
  for (std::uint16_t b = 0; b < building_count; ++b) {
    w.write_u32(random.pick(buildings));
    write_frame(w, random.real(0, 192), random.real(0, 192), random.real(40, 90), 0.0F);
    w.write_u32(random.range(1, 4));  // num_leaves
    const std::uint32_t portals = random.range(1, 2);
    w.write_u32(portals);
    for (std::uint32_t p = 0; p < portals; ++p) {
      const auto stabs = static_cast<std::uint16_t>(random.range(0, 3));
      w.write_u16(0x0002);  // flags
      w.write_u16(static_cast<std::uint16_t>(0x0100 + p));
      w.write_u16(static_cast<std::uint16_t>(p));
      w.write_u16(stabs);
      for (std::uint16_t s = 0; s < stabs; ++s) w.write_u16(s);
      if (stabs % 2 == 1) w.write_u16(0);  // padding to a multiple of 4
    }
  }
  if (restricted) {
    w.write_u16(1);
    w.write_u16(8);  // bucket size
    w.write_u32(id & 0xFFFF0000U);
    w.write_u32(0x7F000001);
  }
  return out;
}

dat::SpellTable spell_table(Random& random, std::uint32_t count) {
  static const std::vector<std::string> adjectives = {"Minor", "Lesser", "Moderate", "Greater", "Superior"};
  static const std::vector<std::string> effects = {"Healing",  "Flame Bolt",    "Frost Armor",   "Swiftness",
                                                   "Strength", "Lightning Arc", "Vulnerability", "Warding"};
  dat::SpellTable table;
  table.id = dat::SpellTable::FILE_ID;
  for (std::uint32_t i = 1; i <= count; ++i) {
    dat::SpellBase s;
    const std::uint32_t level = random.range(0, 4);
    s.name = adjectives[level] + " " + random.pick(effects);
    s.description = fmt::format("{} of power {}.", s.name, level + 1);
    s.school = random.range(1, 4);
    s.category = random.range(1, 12);
    s.bitfield = random.range(0, 0xFFFF);
    s.base_mana = 5 + 10 * level;
    s.base_range_constant = random.range(0, 1) == 1 ? 5.0F : 0.0F;
    s.base_range_mod = random.real(0.0F, 1.0F);
    s.power = 1 + 50 * level;
    for (auto& c : s.raw_components) c = random.range(0, 1) == 1 ? random.range(1, 200) : 0;
    s.mana_mod = random.range(0, 3);
    s.formula_version = 1;
    table.spells.emplace(i, std::move(s));
  }
  return table;
}

}  // namespace

SyntheticContent generate_synthetic_content(const SyntheticContentOptions& options) {
  const std::uint32_t scale = options.scale == 0 ? 1 : options.scale;
  Random random(options.seed);
  SyntheticContent content;
  auto& portal = content.portal;

  const auto palettes = ids(PALETTE, 8 * scale);
  for (const auto id : palettes) portal[id] = palette(random, id);

  const auto textures = ids(TEXTURE, 24 * scale);
  for (std::size_t i = 0; i < textures.size(); ++i) {
    portal[textures[i]] = texture(random, textures[i], i % 2 == 0 ? random.pick(palettes) : 0);
  }

  const auto surface_textures = ids(SURFACE_TEXTURE, 24 * scale);
  for (const auto id : surface_textures) {
    std::vector<std::uint32_t> levels;  // the walker follows the last one
    for (std::uint32_t n = random.range(1, 3); n > 0; --n) levels.push_back(random.pick(textures));
    portal[id] = surface_texture(id, levels);
  }

  const auto surfaces = ids(SURFACE, 40 * scale);
  for (std::size_t i = 0; i < surfaces.size(); ++i) {
    const bool textured = i % 4 != 3;
    const std::uint32_t tex = textured ? random.pick(surface_textures) : 0;
    const std::uint32_t pal = textured && random.range(0, 1) == 1 ? random.pick(palettes) : 0;
    portal[surfaces[i]] = surface(random, tex, pal);
  }

  const auto gfx_objects = ids(GFX_OBJECT, 48 * scale);
  for (const auto id : gfx_objects) {
    std::vector<std::uint32_t> own;
    for (std::uint32_t n = random.range(1, 4); n > 0; --n) own.push_back(random.pick(surfaces));
    portal[id] = graphics_object(random, id, own);
  }

  // Animations: the first half move (walk and run cycles), the rest stand still.
  const auto animations = ids(ANIMATION, 30 * scale);
  const std::vector<std::uint32_t> moving(animations.begin(), animations.begin() + animations.size() / 2);
  const std::vector<std::uint32_t> still(animations.begin() + animations.size() / 2, animations.end());
  for (const auto id : animations) {
    auto packed = animation(random, id, id <= moving.back()).pack();
    portal[id] = packed ? std::move(*packed) : Bytes{};  // every generated animation describes its lists
  }

  const auto motion_tables = ids(MOTION_TABLE, 6 * scale);
  for (const auto id : motion_tables) {
    auto packed = motion_table(random, id, moving, still).pack();
    portal[id] = packed ? std::move(*packed) : Bytes{};
  }

  // Setups: most have a default motion table; every sixth nests the previous setup as a part.
  const auto setups = ids(SETUP, 24 * scale);
  for (std::size_t i = 0; i < setups.size(); ++i) {
    std::vector<std::uint32_t> parts;
    for (std::uint32_t n = random.range(1, 4); n > 0; --n) parts.push_back(random.pick(gfx_objects));
    if (i % 6 == 5) parts.push_back(setups[i - 1]);
    const std::uint32_t table = i % 5 == 4 ? 0 : random.pick(motion_tables);
    portal[setups[i]] = setup(random, setups[i], parts, table);
  }

  for (const std::uint32_t id : {0x0E000002U, 0x0E000007U, 0x0E000004U, 0x0E00000EU, 0x0E000018U, 0x0E000099U}) {
    Bytes table;
    ByteWriter w(table);
    w.write_u32(id);
    w.write_bytes(payload(random, random.range(200, 600)));
    portal[id] = std::move(table);
  }
  for (const auto id : ids(AUDIO, 4 * scale)) portal[id] = payload(random, random.range(300, 900));
  for (const auto id : ids(CLOTHING, 4 * scale)) portal[id] = payload(random, random.range(40, 120));

  // Cells: the spawn neighbourhood, then distant landblocks along the grid's diagonal.
  std::vector<std::uint32_t> models = setups;
  models.insert(models.end(), gfx_objects.begin(), gfx_objects.begin() + gfx_objects.size() / 3);
  std::vector<std::uint32_t> landblocks = spawn_neighborhood_cells(options.spawn_landblock);
  for (std::uint32_t i = 0; i < 2 * scale && i < 0x80; ++i) {
    const std::uint32_t far = ((0x10 + i) << 8) | (0x10 + i);
    if (std::find(landblocks.begin(), landblocks.end(), far) == landblocks.end()) landblocks.push_back(far);
  }
  for (const std::uint32_t lb : landblocks) {
    const std::uint32_t cells = random.range(0, 3);
    content.cell[landblock_file_id(lb)] = landblock_file(random, landblock_file_id(lb));
    content.cell[landblock_info_file_id(lb)] =
        landblock_info(random, landblock_info_file_id(lb), cells, models, setups);
    for (std::uint32_t c = 0; c < cells; ++c) {
      content.cell[(lb << 16) | (0x0100 + c)] = payload(random, random.range(60, 200));
    }
  }

  content.spells = spell_table(random, 40 * scale);
  return content;
}

std::string synthetic_file_name(std::uint32_t id) { return fmt::format("{:08X}.bin", id); }

ToolResult<SyntheticContentFiles> write_synthetic_content(const SyntheticContent& content,
                                                          const std::filesystem::path& out) {
  SyntheticContentFiles files{out / "portal", out / "cell", out / "spells.json"};
  auto io_error = [](const std::filesystem::path& path, int err) {
    return tool_fail(
        ToolError::Io{IoError{IoErrorKind::Os, err, fmt::format("{}: {}", path.string(), std::strerror(err))}});
  };
  auto write = [&](const std::filesystem::path& path, const void* data, std::size_t size) -> ToolResult<void> {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (file) file.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
    if (file) file.close();
    if (!file) return io_error(path, errno != 0 ? errno : EIO);
    return {};
  };
  for (const auto& dir : {files.portal_dir, files.cell_dir}) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    if (ec) return io_error(dir, ec.value());
  }
  for (const auto& [map, dir] :
       {std::pair{&content.portal, files.portal_dir}, std::pair{&content.cell, files.cell_dir}}) {
    for (const auto& [id, bytes] : *map) {
      if (auto done = write(dir / synthetic_file_name(id), bytes.data(), bytes.size()); !done) {
        return tl::unexpected(std::move(done.error()));
      }
    }
  }
  const std::string spells = spell_table_to_json(content.spells);
  if (auto done = write(files.spells_json, spells.data(), spells.size()); !done)
    return tl::unexpected(std::move(done.error()));
  return files;
}

}  // namespace quillmarsh::tools
