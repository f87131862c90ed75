// inspect KIND (FILE | ARCHIVE NAMESPACE ID) [--json]: decode one record and print it.
//
// Each kind is turned into one ordered JSON value; --json prints it as is, the text form renders the
// same value as indented "key: value" lines. A decode failure prints the error with every context
// frame ("While parsing field ...") and exits 1.
#include <fmt/format.h>

#include <algorithm>
#include <cmath>
#include <map>

#include "commands.hpp"
#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/file_type/animation.hpp"
#include "quillmarsh/dat/file_type/motion_kinematics.hpp"
#include "quillmarsh/dat/file_type/motion_table.hpp"
#include "quillmarsh/dat/file_type/setup_model.hpp"
#include "quillmarsh/dat/file_type/surface.hpp"
#include "quillmarsh/dat/file_type/surface_texture.hpp"
#include "quillmarsh/dat/file_type/texture.hpp"
#include "quillmarsh/dat/landblock.hpp"
#include "quillmarsh/dat/walk.hpp"

namespace quillmarsh::cli {

namespace {

using json = nlohmann::ordered_json;

struct InspectOptions {
  std::string kind;
  std::vector<std::string> source;
  bool json = false;
};

const std::vector<std::string> KINDS = {"setup",        "surface",   "surface-texture", "texture",     "landblock-info",
                                        "motion-table", "animation", "kinematics",      "gfx-surfaces"};

json hex(std::uint32_t v) { return hex_id(v); }
json number(float v) { return std::isfinite(v) ? json(static_cast<double>(v)) : json(nullptr); }
json vec3(const Vector3& v) { return json::array({number(v.x), number(v.y), number(v.z)}); }
json optional_vec3(const std::optional<Vector3>& v) { return v ? vec3(*v) : json(nullptr); }
json optional_hex(const std::optional<std::uint32_t>& v) { return v ? hex(*v) : json(nullptr); }

template <class Map>
std::vector<typename Map::key_type> sorted_keys(const Map& map) {
  std::vector<typename Map::key_type> keys;
  keys.reserve(map.size());
  for (const auto& kv : map) keys.push_back(kv.first);
  std::sort(keys.begin(), keys.end());
  return keys;
}

// A decode error with every context frame, or the decoded record as JSON.
using Decoded = tl::expected<json, std::string>;

Decoded setup_json(ByteView bytes) {
  ByteReader reader(bytes);
  auto s = dat::SetupModel::unpack(reader);
  if (!s) return tl::unexpected(s.error().to_string());
  json j;
  j["id"] = hex(s->id);
  j["flags"] = hex(s->flags);
  j["parts"] = json::array();
  for (const auto id : s->parts) j["parts"].push_back(hex(id));
  j["part_values"] = s->part_values;
  j["part_vectors"] = s->part_vectors.size();
  j["locations_1"] = s->locations_1.size();
  j["locations_2"] = s->locations_2.size();
  j["placements"] = json::array();
  for (const auto key : sorted_keys(s->placements)) {
    const auto& p = s->placements.at(key);
    j["placements"].push_back(json{{"key", key}, {"frames", p.frames.size()}, {"hooks", p.hooks.size()}});
  }
  j["cyl_spheres"] = s->cyl_spheres.size();
  j["spheres"] = s->spheres.size();
  j["lights"] = s->lights.size();
  j["default_id_1"] = optional_hex(s->default_id_1);
  j["default_id_2"] = optional_hex(s->default_id_2);
  j["default_motion_table"] = optional_hex(s->default_motion_table);
  j["default_id_4"] = optional_hex(s->default_id_4);
  j["default_id_5"] = optional_hex(s->default_id_5);
  return j;
}

Decoded surface_json(ByteView bytes) {
  auto s = dat::Surface::unpack(bytes);
  if (!s) return tl::unexpected(s.error().to_string());
  json j;
  j["surface_type"] = hex(s->surface_type);
  if (s->texture_refs) {
    j["orig_texture_id"] = hex(s->texture_refs->orig_texture_id);
    j["orig_palette_id"] = hex(s->texture_refs->orig_palette_id);
  } else {
    j["color_value"] = hex(s->color_value.value_or(0));
  }
  j["translucency"] = number(s->translucency);
  j["luminosity"] = number(s->luminosity);
  j["diffuse"] = number(s->diffuse);
  return j;
}

Decoded surface_texture_json(ByteView bytes) {
  auto s = dat::SurfaceTexture::unpack(bytes);
  if (!s) return tl::unexpected(s.error().to_string());
  json j;
  j["id"] = hex(s->id);
  j["unknown_int"] = s->unknown_int;
  j["unknown_byte"] = s->unknown_byte;
  j["textures"] = json::array();
  for (const auto id : s->textures) j["textures"].push_back(hex(id));
  return j;
}

Decoded texture_json(ByteView bytes) {
  auto t = dat::Texture::unpack(bytes);
  if (!t) return tl::unexpected(t.error().to_string());
  json j;
  j["id"] = hex(t->id);
  j["width"] = t->width;
  j["height"] = t->height;
  j["format_raw"] = hex(t->format_raw);
  j["length"] = t->length;
  j["default_palette_id"] = optional_hex(t->default_palette_id);
  return j;
}

Decoded landblock_info_json(ByteView bytes) {
  auto info = dat::LandblockInfo::unpack(bytes);
  if (!info) return tl::unexpected(info.error().to_string());
  json j;
  j["id"] = hex(info->id);
  j["num_cells"] = info->num_cells;
  j["objects"] = json::array();
  for (const auto& o : info->objects) j["objects"].push_back(json{{"id", hex(o.id)}, {"origin", vec3(o.frame.origin)}});
  j["pack_mask"] = hex(info->pack_mask);
  j["buildings"] = json::array();
  for (const auto& b : info->buildings) {
    j["buildings"].push_back(json{{"model_id", hex(b.model_id)},
                                  {"origin", vec3(b.frame.origin)},
                                  {"num_leaves", b.num_leaves},
                                  {"portals", b.portals.size()}});
  }
  j["restriction_tables"] = info->restriction_tables ? json(info->restriction_tables->tables.size()) : json(nullptr);
  return j;
}

json motion_entry_json(const dat::MotionEntry& e) {
  json j;
  j["anims"] = json::array();
  for (const auto& a : e.anims) {
    j["anims"].push_back(json{{"anim_id", hex(a.anim_id)}, {"framerate", number(a.framerate)}});
  }
  j["velocity"] = optional_vec3(e.velocity);
  j["omega"] = optional_vec3(e.omega);
  return j;
}

Decoded motion_table_json(ByteView bytes) {
  auto t = dat::MotionTable::unpack(bytes);
  if (!t) return tl::unexpected(t.error().to_string());
  json j;
  j["id"] = hex(t->id);
  j["default_style"] = hex(t->default_style);
  j["cycles"] = json::array();
  for (const auto key : sorted_keys(t->cycles)) {
    json c;
    c["key"] = hex(key);
    c.update(motion_entry_json(t->cycles.at(key)));
    j["cycles"].push_back(std::move(c));
  }
  j["defaults"] = t->defaults.size();
  j["secondary_entries"] = t->secondary_entries.size();
  j["paired_entries"] = t->paired_entries.size();
  return j;
}

Decoded animation_json(ByteView bytes) {
  auto a = dat::Animation::unpack(bytes);
  if (!a) return tl::unexpected(a.error().to_string());
  json j;
  j["id"] = hex(a->id);
  j["flags"] = hex(a->header_words[0]);
  j["part_count"] = a->header_words[1];
  j["frame_count"] = a->header_words[2];
  j["position_frames"] = json::array();
  for (const auto& f : a->position_frames) j["position_frames"].push_back(vec3(f.origin));
  std::size_t hooks = 0;
  for (const auto& r : a->frame_records) hooks += r.hooks.size();
  j["frame_records"] = a->frame_records.size();
  j["hooks"] = hooks;
  return j;
}

Decoded kinematics_json(ByteView bytes) {
  ByteReader reader(bytes);
  auto k = dat::MotionKinematics::read(reader);
  if (!k) return tl::unexpected(k.error().to_string());
  json j;
  j["magic"] = hex(k->magic);
  j["version"] = k->version;
  j["setup_defaults"] = json::array();
  for (const auto setup : sorted_keys(k->setup_defaults)) {
    j["setup_defaults"].push_back(json{{"setup", hex(setup)}, {"motion_table", hex(k->setup_defaults.at(setup))}});
  }
  j["tables"] = json::array();
  for (const auto id : sorted_keys(k->tables)) {
    const auto& t = k->tables.at(id);
    json tj;
    tj["motion_table_id"] = hex(t.motion_table_id);
    tj["default_style"] = hex(t.default_style);
    tj["cycles"] = json::array();
    for (const auto key : sorted_keys(t.cycles)) {
      const auto& c = t.cycles.at(key);
      tj["cycles"].push_back(
          json{{"key", hex(key)}, {"velocity", optional_vec3(c.velocity)}, {"omega", optional_vec3(c.omega)}});
    }
    j["tables"].push_back(std::move(tj));
  }
  return j;
}

Decoded gfx_surfaces_json(ByteView bytes) {
  auto surfaces = dat::read_gfx_obj_surfaces(bytes);
  if (!surfaces) {
    return tl::unexpected(fmt::format("graphics object of {} bytes is too short for its surface list", bytes.size()));
  }
  json j;
  j["surfaces"] = json::array();
  for (const auto id : *surfaces) j["surfaces"].push_back(hex(id));
  return j;
}

Decoded decode(std::string_view kind, ByteView bytes) {
  if (kind == "setup") return setup_json(bytes);
  if (kind == "surface") return surface_json(bytes);
  if (kind == "surface-texture") return surface_texture_json(bytes);
  if (kind == "texture") return texture_json(bytes);
  if (kind == "landblock-info") return landblock_info_json(bytes);
  if (kind == "motion-table") return motion_table_json(bytes);
  if (kind == "animation") return animation_json(bytes);
  if (kind == "kinematics") return kinematics_json(bytes);
  return gfx_surfaces_json(bytes);
}

bool is_scalar_list(const json& v) {
  return v.is_array() && std::all_of(v.begin(), v.end(), [](const json& e) { return !e.is_structured(); });
}

// Indented "key: value" lines; lists of scalars stay on one line, lists of records become "- " items.
void render(const json& value, int indent, std::string& out) {
  const std::string pad(static_cast<std::size_t>(indent), ' ');
  for (const auto& [key, v] : value.items()) {
    if (!v.is_structured() || is_scalar_list(v)) {
      out += fmt::format("{}{}: {}\n", pad, key, dump_json(v, -1));
    } else if (v.is_object()) {
      out += fmt::format("{}{}:\n", pad, key);
      render(v, indent + 2, out);
    } else {
      out += fmt::format("{}{}:\n", pad, key);
      for (const auto& item : v) {
        if (!item.is_object()) {
          out += fmt::format("{}  - {}\n", pad, dump_json(item, -1));
          continue;
        }
        std::string inner;
        render(item, indent + 4, inner);
        if (inner.size() >= pad.size() + 4) inner.replace(pad.size() + 2, 2, "- ");
        out += inner;
      }
    }
  }
}

int run_inspect(const InspectOptions& options) {
  if (options.source.size() != 1 && options.source.size() != 3) {
    print_error("inspect takes FILE, or ARCHIVE NAMESPACE ID");
    return EXIT_USAGE;
  }
  Bytes bytes;
  std::string where;
  if (options.source.size() == 1) {
    where = options.source[0];
    auto text = read_whole_file(options.source[0]);
    if (!text) return fail(text.error());
    bytes.assign(text->begin(), text->end());
  } else {
    const auto id = parse_id(options.source[2]);
    if (!id) {
      print_error(id.error());
      return EXIT_USAGE;
    }
    where = fmt::format("{}:{}", options.source[1], hex_id(*id));
    auto reader = dat::QmaReader::open(options.source[0]);
    if (!reader) return fail(fmt::format("cannot open archive {}: {}", options.source[0], reader.error().to_string()));
    auto data = reader->get_file_in_namespace(options.source[1], *id);
    if (!data) return fail(fmt::format("{}: {}", where, data.error().to_string()));
    bytes = std::move(*data);
  }
  auto decoded = decode(options.kind, bytes);
  if (!decoded) return fail(fmt::format("cannot decode {} as {}: {}", where, options.kind, decoded.error()));
  json document;
  document["kind"] = options.kind;
  document["source"] = where;
  document["record"] = std::move(*decoded);
  if (options.json) {
    fmt::print("{}\n", dump_json(document));
  } else {
    std::string out = fmt::format("{} {} ({} bytes)\n", options.kind, where, bytes.size());
    render(document["record"], 2, out);
    fmt::print("{}", out);
  }
  return std::fflush(stdout) == 0 ? EXIT_OK : fail("cannot write to standard output");
}

}  // namespace

void add_inspect_command(CLI::App& app, const Globals& /*globals*/, Runner& runner) {
  auto options = std::make_shared<InspectOptions>();
  CLI::App* cmd = app.add_subcommand("inspect", "Decode one record and print it");
  std::string kinds;
  for (const auto& k : KINDS) kinds += (kinds.empty() ? "" : ", ") + k;
  cmd->add_option("KIND", options->kind, "Record kind: " + kinds)->required()->check(CLI::IsMember(KINDS));
  cmd->add_option("SOURCE", options->source, "FILE, or ARCHIVE NAMESPACE ID")->required()->expected(1, 3);
  cmd->add_flag("--json", options->json, "One JSON document");
  cmd->callback([options, &runner] { runner = [options] { return run_inspect(*options); }; });
}

}  // namespace quillmarsh::cli
