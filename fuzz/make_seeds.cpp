// Writes the seed corpora of the fuzz targets into OUT_DIR/<target>/: valid records, made with the
// library's encoders where the library has one (archives, motion tables, animations, the kinematics
// asset) and with the tests' byte builder where it only decodes. Each run replaces the directories'
// contents, so the seeds always match the current encoders. Usage: make_seeds OUT_DIR
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "bundle_split.hpp"
#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/archive_verify.hpp"
#include "quillmarsh/dat/file_type/animation.hpp"
#include "quillmarsh/dat/file_type/motion_kinematics.hpp"
#include "quillmarsh/dat/file_type/motion_table.hpp"
#include "quillmarsh/dat/file_type/setup_model.hpp"
#include "quillmarsh/dat/file_type/surface.hpp"
#include "quillmarsh/dat/file_type/surface_texture.hpp"
#include "quillmarsh/dat/file_type/texture.hpp"
#include "quillmarsh/dat/landblock.hpp"
#include "quillmarsh/dat/resource.hpp"
#include "quillmarsh/dat/walk.hpp"
#include "quillmarsh/tools/dat_shard.hpp"
#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using quillmarsh::Bytes;
using quillmarsh::Quaternion;
using quillmarsh::Vector3;
using quillmarsh::testing::Le;
namespace dat = quillmarsh::dat;

[[noreturn]] void die(const std::string& what) {
  std::cerr << "make_seeds: " << what << "\n";
  std::exit(1);
}

template <class T, class E>
T must(tl::expected<T, E> result, std::string_view what) {
  if (!result) die(std::string(what) + ": " + result.error().to_string());
  return std::move(*result);
}

class Corpus {
 public:
  Corpus(fs::path root, std::string_view target) : dir_(std::move(root) / target) {
    fs::remove_all(dir_);
    fs::create_directories(dir_);
  }
  // Adds a seed after checking that the library reads it as a valid record: a seed that does not
  // decode would only test the first error path.
  template <class Decode>
  void add(std::string_view name, const Bytes& bytes, Decode decode) {
    if (!decode(bytes)) die("seed " + (dir_ / name).string() + " does not decode");
    add(name, bytes);
  }
  void add(std::string_view name, const Bytes& bytes) {
    std::ofstream out(dir_ / name, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) die("cannot write " + (dir_ / name).string());
  }

 private:
  fs::path dir_;
};

Bytes text_bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

// ---- hand-laid records (the library decodes these but has no encoder) ----

Le& frame(Le& le, float x, float y, float z) { return le.f32(x).f32(y).f32(z).f32(1.0F).f32(0).f32(0).f32(0.5F); }

// A hook: type, value, payload, then padding that aligns the hook's length to 4.
Le& hook(Le& le, std::uint32_t type, std::uint32_t value, const Bytes& payload) {
  le.u32(type).u32(value).append(payload);
  return le.zeros((4 - (8 + payload.size()) % 4) % 4);
}

Bytes setup_bytes(std::uint32_t id, const std::vector<std::uint32_t>& parts, bool rich) {
  const auto n = static_cast<std::uint32_t>(parts.size());
  Le le;
  le.u32(id).u32(rich ? 0x3 : 0x0).u32(n);
  for (std::uint32_t part : parts) le.u32(part);
  if (rich) {
    for (std::uint32_t i = 0; i < n; ++i) le.u32(100 + i);
    for (std::uint32_t i = 0; i < n; ++i) le.f32(1.0F).f32(2.0F).f32(static_cast<float>(i));
    le.u32(1).u32(7).u32(0);  // locations_1: key 7, part 0
    frame(le, 1, 2, 3);
    le.u32(0);            // locations_2
    le.i32(1).u32(0x65);  // one placement, key 0x65
    for (std::uint32_t i = 0; i < n; ++i) frame(le, 0, 0, static_cast<float>(i));
    le.u32(4);
    hook(le, 5, 1, Le().u8(1).u16(0x1234).take());
    hook(le, 5, 2, Le().u8(2).u16(0x8001).u16(0x0002).take());
    hook(le, 13, 3, Bytes(40, 0x11));
    hook(le, 0, 4, {});
    le.u32(1).f32(0).f32(0).f32(1).f32(0.5F).f32(2.0F);  // one cylinder sphere
    le.u32(1).f32(0).f32(0).f32(1).f32(1.5F);            // one sphere
  } else {
    le.u32(0).u32(0).i32(0).u32(0).u32(0);
  }
  le.u32(1).u32(2).u32(3).u32(4);        // scalars
  le.f32(0).f32(0).f32(0).f32(1.0F);     // sphere_1
  le.f32(0).f32(0).f32(1.0F).f32(2.0F);  // sphere_2
  if (rich) {
    le.u32(1).u32(9);
    frame(le, 0, 1, 0).u32(0xFFFFFFFF).f32(1.0F).f32(2.0F).f32(0.25F);
  } else {
    le.u32(0);
  }
  return le.u32(0).u32(0).u32(rich ? 0x09000001 : 0).u32(0).u32(rich ? 0x0A000001 : 0).take();
}

Bytes textured_surface(std::uint32_t texture, std::uint32_t palette) {
  return Le().u32(0x2).u32(texture).u32(palette).f32(0.0F).f32(0.5F).f32(1.0F).take();
}
Bytes coloured_surface(std::uint32_t colour) { return Le().u32(0x1).u32(colour).f32(0).f32(0).f32(1.0F).take(); }

Bytes surface_texture(std::uint32_t id, const std::vector<std::uint32_t>& textures) {
  Le le;
  le.u32(id).u32(0).u8(2).i32(static_cast<std::int32_t>(textures.size()));
  for (std::uint32_t t : textures) le.u32(t);
  return le.take();
}

Bytes texture(std::uint32_t id, std::uint32_t format, std::uint32_t palette) {
  Le le;
  le.u32(id).u32(0).u32(2).u32(2).u32(format).i32(16).append(Bytes(16, 0x7F));
  if (format == 0x65 || format == 0x29) le.u32(palette);
  return le.take();
}

// A graphics object's head: 8 unread bytes, the packed surface count, the surface ids.
Bytes gfx_object(const std::vector<std::uint32_t>& surfaces, int count_bytes) {
  const auto n = static_cast<std::uint32_t>(surfaces.size());
  Le le;
  le.u32(0x01000001).u32(0);
  if (count_bytes == 1) le.u8(static_cast<std::uint8_t>(n));
  if (count_bytes == 2) le.u8(static_cast<std::uint8_t>(0x80 | (n >> 8))).u8(static_cast<std::uint8_t>(n));
  if (count_bytes == 4)
    le.u8(static_cast<std::uint8_t>(0xC0 | (n >> 24)))
        .u8(static_cast<std::uint8_t>(n >> 16))
        .u16(static_cast<std::uint16_t>(n));
  for (std::uint32_t s : surfaces) le.u32(s);
  return le.zeros(16).take();  // the rest of a graphics object, never read
}

Bytes landblock_info(std::uint32_t id, const std::vector<std::uint32_t>& objects,
                     const std::vector<std::uint32_t>& buildings, bool restrictions) {
  Le le;
  le.u32(id).u32(3).u32(static_cast<std::uint32_t>(objects.size()));
  for (std::uint32_t object : objects) frame(le.u32(object), 10, 20, 0);
  le.u16(static_cast<std::uint16_t>(buildings.size())).u16(restrictions ? 0x1 : 0x0);
  for (std::uint32_t building : buildings) {
    frame(le.u32(building), 5, 5, 0).u32(2).u32(3);
    le.u16(1).u16(0x0100).u16(0).u16(1).u16(0x0101).zeros(2);  // odd stab count: padded
    le.u16(2).u16(0x0102).u16(1).u16(2).u16(0x0103).u16(0x0104);
    le.u16(0).u16(0x0105).u16(2).u16(0);
  }
  if (restrictions) le.u16(2).u16(8).u32(0x7D000001).u32(0x0100).u32(0x7D000002).u32(0x0200);
  return le.take();
}

// ---- records the library encodes ----

dat::MotionEntry motion_entry(std::vector<std::uint32_t> anims, bool velocity, bool omega) {
  dat::MotionEntry entry;
  std::int32_t param = 0;
  for (std::uint32_t anim : anims) entry.anims.push_back({anim, param++, -1, 30.0F});
  if (velocity) entry.velocity = Vector3{0.0F, 3.1F, 0.0F};
  if (omega) entry.omega = Vector3{0.0F, 0.0F, 1.5F};
  entry.bits = 0x20;
  return entry;
}

Bytes motion_table_bytes(bool rich) {
  dat::MotionTable table;
  table.id = 0x09000001;
  table.default_style = 0x8000003D;
  table.defaults[0x8000003D] = 0x41000003;
  table.cycles[dat::cycle_key(0x8000003D, 0x41000003)] = motion_entry({0x03000001, 0x03000002}, false, false);
  if (rich) {
    table.cycles[dat::cycle_key(0x8000003D, 0x45000005)] = motion_entry({0x03000003}, true, false);
    table.cycles[dat::cycle_key(0x8000003D, 0x6500000D)] = motion_entry({0x03000004}, true, true);
    table.secondary_entries[0x10000057] = motion_entry({0x03000005}, false, true);
    table.paired_entries[0x41000003][0x45000005] = motion_entry({0x03000006, 0x03000007}, false, false);
    table.paired_entries[0x41000003][0x44000007] = motion_entry({}, true, false);
  }
  return must(table.pack(), "motion table");
}

Bytes animation_bytes(bool position_frames) {
  dat::Animation animation;
  animation.id = 0x03000001;
  constexpr std::uint32_t parts = 2;
  constexpr std::uint32_t frames = 3;
  animation.header_words = {position_frames ? dat::Animation::FLAG_POSITION_FRAMES : 0U, parts, frames};
  for (std::uint32_t f = 0; f < frames; ++f) {
    if (position_frames) animation.position_frames.push_back({Vector3{0, 0.5F, 0}, Quaternion{}});
    dat::AnimFrame record;
    for (std::uint32_t p = 0; p < parts; ++p)
      record.frames.push_back({Vector3{0, 0, static_cast<float>(p)}, Quaternion{}});
    if (f == 0) record.hooks.push_back({1, 0, Le().u32(0x0A000001).take()});
    if (f == 1) record.hooks.push_back({5, 2, Le().u8(1).u16(0x0042).zeros(1).take()});
    animation.frame_records.push_back(std::move(record));
  }
  return must(animation.pack(), "animation");
}

Bytes kinematics_bytes(bool rich) {
  dat::MotionKinematics kinematics;
  if (rich) {
    kinematics.setup_defaults[0x02000023] = 0x09000023;
    kinematics.setup_defaults[0x02000024] = 0x09000023;
    dat::MotionKinematicsTable table{0x09000023, 0x80000003};
    table.cycles[0x00030007] = {Vector3{2.5F, 0, 0}, std::nullopt};
    table.cycles[0x0003000D] = {std::nullopt, Vector3{0, 0, 1.5F}};
    table.cycles[0x00030005] = {Vector3{0, 4.0F, 0}, Vector3{0, 0, -1.0F}};
    table.cycles[0x00030003] = {};
    kinematics.tables.emplace(table.motion_table_id, table);
    kinematics.tables.emplace(0x09000024, dat::MotionKinematicsTable{0x09000024, 0x8000003D});
  }
  Bytes out;
  quillmarsh::ByteWriter writer(out);
  must(kinematics.write(writer).map([] { return 0; }), "kinematics");
  return out;
}

Bytes archive_bytes(const fs::path& scratch, bool compress, bool with_entries) {
  const fs::path path = scratch / "seed.qma";
  auto writer = must(dat::QmaStreamWriter::create(path), "create archive");
  writer.compress = compress;
  if (with_entries) {
    Bytes repetitive(1500);
    for (std::size_t i = 0; i < repetitive.size(); ++i) repetitive[i] = static_cast<std::uint8_t>(i % 7);
    Bytes noisy(96);
    std::uint32_t x = 0x9E3779B9;
    for (auto& b : noisy) b = static_cast<std::uint8_t>((x = x * 1664525U + 1013904223U) >> 24);
    const std::pair<std::string_view, std::uint32_t> keys[] = {{dat::EOR_PORTAL_NAMESPACE, 0x0E000002},
                                                               {dat::EOR_PORTAL_NAMESPACE, 0x01000001},
                                                               {dat::EOR_CELL_NAMESPACE, 0xA9B4FFFE},
                                                               {dat::EOR_PORTAL_NAMESPACE, 0x08000001},
                                                               {dat::EOR_CELL_NAMESPACE, 0xA9B4FFFF}};
    must(writer.add(keys[0].first, keys[0].second, 0x0E, repetitive).map([] { return 0; }), "add");
    must(writer.add(keys[1].first, keys[1].second, 0x01, noisy).map([] { return 0; }), "add");
    must(writer.add(keys[2].first, keys[2].second, 0x00, landblock_info(0xA9B4FFFE, {0x02000001}, {}, false)).map([] {
      return 0;
    }),
         "add");
    must(writer.add(keys[3].first, keys[3].second, 0x08, textured_surface(0x05000001, 0)).map([] { return 0; }), "add");
    must(writer.add(keys[4].first, keys[4].second, 0x00, {}).map([] { return 0; }), "add");
    must(writer.add(dat::CORE_NAMESPACE, dat::MOTION_KINEMATICS_MAGIC, 0xFFFFFF01, kinematics_bytes(true)).map([] {
      return 0;
    }),
         "add");
  }
  must(std::move(writer).finish().map([] { return 0; }), "finish archive");
  std::ifstream in(path, std::ios::binary);
  Bytes bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  fs::remove(path);
  return bytes;
}

// Whether the walk from the bundle's first file reaches `id`: the seed exercises the whole chain.
auto walk_reaches(std::uint32_t id) {
  return [id](const Bytes& input) {
    quillmarsh::tools::BundleSource bundle;
    const auto pieces = quillmarsh::fuzz::split_bundle(input);
    for (const auto& p : pieces)
      bundle.files[{std::string(dat::EOR_PORTAL_NAMESPACE), p.file_id}] = Bytes(p.bytes.begin(), p.bytes.end());
    dat::KeepSet visited;
    dat::walk_model(bundle, pieces.front().file_id, visited, 0);
    return visited.contains({std::string(dat::EOR_PORTAL_NAMESPACE), id});
  };
}

// Whether the boot shard plan around `spawn` reaches portal file `id` through the landblock info.
auto plan_reaches(std::uint32_t spawn, std::uint32_t id) {
  return [spawn, id](const Bytes& input) {
    quillmarsh::tools::BundleSource bundle;
    for (const auto& p : quillmarsh::fuzz::split_bundle(input)) {
      const bool cell = (p.file_id & 0xFFFFU) == quillmarsh::tools::LANDBLOCK_INFO_LOW_BITS;
      bundle.files[{std::string(cell ? dat::EOR_CELL_NAMESPACE : dat::EOR_PORTAL_NAMESPACE), p.file_id}] =
          Bytes(p.bytes.begin(), p.bytes.end());
    }
    return quillmarsh::tools::compute_boot_keep_set(bundle, spawn)
        .contains({std::string(dat::EOR_PORTAL_NAMESPACE), id});
  };
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) die("usage: make_seeds OUT_DIR");
  const fs::path root = argv[1];
  const fs::path scratch = root / ".scratch";
  fs::create_directories(scratch);

  const auto opens_clean = [](const Bytes& b) {
    auto reader = dat::QmaReader::from_source(std::make_unique<dat::MemoryFile>(b));
    return reader && dat::verify_archive(*reader).empty();
  };
  const auto decodes_surface = [](const Bytes& b) { return dat::Surface::unpack(b).has_value(); };
  const auto decodes_surface_texture = [](const Bytes& b) { return dat::SurfaceTexture::unpack(b).has_value(); };
  const auto decodes_texture = [](const Bytes& b) { return dat::Texture::unpack(b).has_value(); };
  const auto decodes_landblock_info = [](const Bytes& b) { return dat::LandblockInfo::unpack(b).has_value(); };
  const auto decodes_motion_table = [](const Bytes& b) { return dat::MotionTable::unpack(b).has_value(); };
  const auto decodes_animation = [](const Bytes& b) { return dat::Animation::unpack(b).has_value(); };
  const auto has_surfaces = [](const Bytes& b) {
    return !dat::read_gfx_obj_surfaces(b).value_or(std::vector<std::uint32_t>{}).empty();
  };
  const auto decodes_kinematics = [](const Bytes& b) {
    quillmarsh::ByteReader reader(b);
    return dat::MotionKinematics::read(reader).has_value();
  };
  const auto whole_setup = [](const Bytes& b) {
    quillmarsh::ByteReader reader(b);
    return dat::SetupModel::unpack(reader).has_value() && reader.position() == b.size();
  };
  {
    Corpus c(root, "archive");
    c.add("compressed.qma", archive_bytes(scratch, true, true), opens_clean);
    c.add("stored.qma", archive_bytes(scratch, false, true), opens_clean);
    c.add("empty.qma", archive_bytes(scratch, true, false), opens_clean);
  }
  {
    Corpus c(root, "setup_model");
    c.add("minimal", setup_bytes(0x02000001, {}, false), whole_setup);
    c.add("parts", setup_bytes(0x02000002, {0x01000001, 0x01000002}, false), whole_setup);
    c.add("rich", setup_bytes(0x02000003, {0x01000001, 0x01000002, 0x01000003}, true), whole_setup);
  }
  {
    Corpus c(root, "surface");
    c.add("textured", textured_surface(0x05000001, 0x04000001), decodes_surface);
    c.add("coloured", coloured_surface(0xFF00FF00), decodes_surface);
  }
  {
    Corpus c(root, "surface_texture");
    c.add("none", surface_texture(0x05000001, {}), decodes_surface_texture);
    c.add("three", surface_texture(0x05000002, {0x06000001, 0x06000002, 0x06000003}), decodes_surface_texture);
  }
  {
    Corpus c(root, "texture");
    c.add("paletted", texture(0x06000001, 0x65, 0x04000002), decodes_texture);
    c.add("paletted_41", texture(0x06000002, 0x29, 0x04000003), decodes_texture);
    c.add("plain", texture(0x06000003, 0x14, 0), decodes_texture);
  }
  {
    Corpus c(root, "landblock_info");
    c.add("empty", landblock_info(0xA9B4FFFE, {}, {}, false), decodes_landblock_info);
    c.add("objects", landblock_info(0xA9B4FFFE, {0x02000001, 0x01000001}, {}, false), decodes_landblock_info);
    c.add("buildings", landblock_info(0xA9B5FFFE, {0x01000002}, {0x01000003, 0x02000004}, true),
          decodes_landblock_info);
  }
  {
    Corpus c(root, "gfx_obj_surfaces");
    c.add("count1", gfx_object({0x08000001, 0x08000002}, 1), has_surfaces);
    c.add("count2", gfx_object({0x08000001, 0x08000002, 0x08000003}, 2), has_surfaces);
    c.add("count4", gfx_object({0x08000004}, 4), has_surfaces);
  }
  {
    Corpus c(root, "motion_table");
    c.add("one_cycle", motion_table_bytes(false), decodes_motion_table);
    c.add("rich", motion_table_bytes(true), decodes_motion_table);
  }
  {
    Corpus c(root, "animation");
    c.add("positions", animation_bytes(true), decodes_animation);
    c.add("poses_only", animation_bytes(false), decodes_animation);
  }
  {
    Corpus c(root, "kinematics");
    c.add("empty", kinematics_bytes(false), decodes_kinematics);
    c.add("tables", kinematics_bytes(true), decodes_kinematics);
  }
  {
    Corpus c(root, "walker");
    // A setup whose parts are graphics objects and a nested setup; the objects' surfaces lead to a
    // surface texture, its last texture and that texture's palette.
    c.add("setup_chain",
          quillmarsh::fuzz::join_bundle({
              {0x02000001, setup_bytes(0x02000001, {0x01000001, 0x01000002, 0x02000002}, true)},
              {0x02000002, setup_bytes(0x02000002, {0x01000001, 0x02000001}, false)},
              {0x01000001, gfx_object({0x08000001, 0x08000002}, 1)},
              {0x01000002, gfx_object({0x08000001, 0x08000003}, 2)},
              {0x08000001, textured_surface(0x05000001, 0x04000001)},
              {0x08000002, coloured_surface(0x80808080)},
              {0x08000003, textured_surface(0x05000002, 0)},
              {0x05000001, surface_texture(0x05000001, {0x06000001, 0x06000002})},
              {0x05000002, surface_texture(0x05000002, {0x06000003})},
              {0x06000002, texture(0x06000002, 0x65, 0x04000002)},
              {0x06000003, texture(0x06000003, 0x14, 0)},
          }),
          walk_reaches(0x04000002));
    c.add("gfx_root",
          quillmarsh::fuzz::join_bundle({
              {0x01000001, gfx_object({0x08000001}, 4)},
              {0x08000001, textured_surface(0x05000001, 0x04000001)},
              {0x05000001, surface_texture(0x05000001, {0x06000001})},
              {0x06000001, texture(0x06000001, 0x29, 0x04000009)},
          }),
          walk_reaches(0x04000009));
    c.add("landblock",
          quillmarsh::fuzz::join_bundle({
              {0xA9B4FFFE, landblock_info(0xA9B4FFFE, {0x02000001}, {0x01000001}, true)},
              {0x02000001, setup_bytes(0x02000001, {0x01000001}, false)},
              {0x01000001, gfx_object({0x08000001}, 1)},
              {0x08000001, coloured_surface(0x12345678)},
          }),
          plan_reaches(0xA9B4, 0x08000001));
  }
  {
    Corpus c(root, "parse_hex_u32");
    for (std::string_view text :
         {"0xA9B4", "a9b4", "0X1234", "+ff", "FFFFFFFF", "000000000001", "100000000", "0x0x1", "not-hex", ""}) {
      std::string name = "text_" + std::to_string(text.size()) + "_";
      for (char ch : text) name += std::isalnum(static_cast<unsigned char>(ch)) ? ch : '_';
      c.add(name, text_bytes(text));  // valid and invalid texts alike: both paths matter
    }
  }
  fs::remove_all(scratch);
  return 0;
}
