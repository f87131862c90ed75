#include "quillmarsh/dat/walk.hpp"

#include <cstring>

#include "quillmarsh/dat/file_type/setup_model.hpp"
#include "quillmarsh/dat/file_type/surface.hpp"
#include "quillmarsh/dat/file_type/surface_texture.hpp"
#include "quillmarsh/dat/file_type/texture.hpp"

namespace quillmarsh::dat {

namespace {

constexpr std::uint32_t GFX_OBJ_CLASS = 0x01;
constexpr std::uint32_t SETUP_CLASS = 0x02;
constexpr std::size_t SURFACE_COUNT_OFFSET = 8;

// Records a portal id; true when it was not yet in the set.
bool record(KeepSet& visited, std::uint32_t file_id) {
  return visited.insert(ResourceId{std::string(EOR_PORTAL_NAMESPACE), file_id}).second;
}

DatResult<Bytes> fetch(const ResourceSource& source, std::uint32_t file_id) {
  return source.get_file_by_key(ResourceKey{EOR_PORTAL_NAMESPACE, file_id});
}

// Follows one surface to its palette, its surface texture, that texture's last texture and the
// texture's default palette. Palettes are recorded, never fetched.
void walk_surface(const ResourceSource& source, std::uint32_t surface_id, KeepSet& visited) {
  if (!record(visited, surface_id)) return;
  auto surface_bytes = fetch(source, surface_id);
  if (!surface_bytes) return;
  auto surface = Surface::unpack(*surface_bytes);
  if (!surface || !surface->texture_refs) return;  // a coloured surface references nothing
  const TextureRefs refs = *surface->texture_refs;
  if (refs.orig_palette_id != 0) record(visited, refs.orig_palette_id);

  if (!record(visited, refs.orig_texture_id)) return;
  auto surface_texture_bytes = fetch(source, refs.orig_texture_id);
  if (!surface_texture_bytes) return;
  auto surface_texture = SurfaceTexture::unpack(*surface_texture_bytes);
  if (!surface_texture || surface_texture->textures.empty()) return;

  // Only the last texture of the list is followed.
  const std::uint32_t texture_id = surface_texture->textures.back();
  if (!record(visited, texture_id)) return;
  auto texture_bytes = fetch(source, texture_id);
  if (!texture_bytes) return;
  auto texture = Texture::unpack(*texture_bytes);
  if (texture && texture->default_palette_id) record(visited, *texture->default_palette_id);
}

}  // namespace

std::optional<std::vector<std::uint32_t>> read_gfx_obj_surfaces(ByteView bytes) {
  if (bytes.size() < SURFACE_COUNT_OFFSET + 1) return std::nullopt;
  const std::uint8_t b = bytes[SURFACE_COUNT_OFFSET];
  std::uint64_t count = 0;
  std::size_t count_size = 0;
  if ((b & 0x80) == 0) {
    count = b;
    count_size = 1;
  } else if ((b & 0xC0) == 0x80) {
    if (bytes.size() < SURFACE_COUNT_OFFSET + 2) return std::nullopt;
    count = (static_cast<std::uint64_t>(b & 0x3F) << 8) | bytes[SURFACE_COUNT_OFFSET + 1];
    count_size = 2;
  } else {
    if (bytes.size() < SURFACE_COUNT_OFFSET + 4) return std::nullopt;
    const std::uint64_t high = (static_cast<std::uint64_t>(b & 0x3F) << 8) | bytes[SURFACE_COUNT_OFFSET + 1];
    const std::uint64_t low = bytes[SURFACE_COUNT_OFFSET + 2] | (bytes[SURFACE_COUNT_OFFSET + 3] << 8);
    count = (high << 16) | low;
    count_size = 4;
  }
  const std::size_t ids_start = SURFACE_COUNT_OFFSET + count_size;
  if ((bytes.size() - ids_start) / 4 < count) return std::nullopt;  // the ids must all be present

  std::vector<std::uint32_t> surfaces(static_cast<std::size_t>(count));
  if (count != 0) std::memcpy(surfaces.data(), bytes.data() + ids_start, surfaces.size() * 4);
  return surfaces;
}

void walk_model(const ResourceSource& source, std::uint32_t model_id, KeepSet& visited, std::uint32_t depth) {
  if (depth > MAX_WALK_DEPTH) return;
  if (!record(visited, model_id)) return;
  auto bytes = fetch(source, model_id);
  if (!bytes) return;

  switch (model_id >> 24) {
    case GFX_OBJ_CLASS: {
      const auto surfaces = read_gfx_obj_surfaces(*bytes);
      if (!surfaces) return;
      for (const std::uint32_t surface_id : *surfaces) walk_surface(source, surface_id, visited);
      return;
    }
    case SETUP_CLASS: {
      ByteReader reader(*bytes);
      const auto setup = SetupModel::unpack(reader);
      if (!setup) return;
      for (const std::uint32_t part : setup->parts) walk_model(source, part, visited, depth + 1);
      return;
    }
    default:
      return;  // recorded only
  }
}

}  // namespace quillmarsh::dat
