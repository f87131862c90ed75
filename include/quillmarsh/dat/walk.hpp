// The model walker: the best-effort set of portal files that a model needs to be drawn.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "quillmarsh/common/binary.hpp"
#include "quillmarsh/dat/resource.hpp"

namespace quillmarsh::dat {

// Setups nest at most this many levels below the model a walk starts from.
inline constexpr std::uint32_t MAX_WALK_DEPTH = 4;

// The surface ids of a graphics object, read from its packed count at offset 8; nothing when the
// bytes are too short for the count or the ids it declares.
std::optional<std::vector<std::uint32_t>> read_gfx_obj_surfaces(ByteView bytes);

// Adds the model and everything it references (setup parts, surfaces, palettes, surface textures,
// textures) to `visited`, all in the portal namespace. Each id is recorded before it is fetched and
// fetched at most once per visited set; a fetch or decode failure ends only that branch. A call with
// depth above MAX_WALK_DEPTH does nothing.
void walk_model(const ResourceSource& source, std::uint32_t model_id, KeepSet& visited, std::uint32_t depth);

}  // namespace quillmarsh::dat
