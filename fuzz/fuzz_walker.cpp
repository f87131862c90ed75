// The model walker over a bundle made from arbitrary bytes (see bundle_split.hpp): the walk starts at
// the first piece's id, then the boot shard plan runs over the same bundle with that id's upper half
// as the spawn landblock, so landblock info pieces (ids ending in 0xFFFE, kept in the cell namespace)
// lead into walks as well. Every recorded pair is a portal id, and the walk always records its root.
#include <cstddef>
#include <cstdint>
#include <string>

#include "bundle_split.hpp"
#include "fuzz_check.hpp"
#include "quillmarsh/dat/walk.hpp"
#include "quillmarsh/tools/dat_shard.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  namespace dat = quillmarsh::dat;
  const auto pieces = quillmarsh::fuzz::split_bundle(quillmarsh::ByteView(data, size));
  if (pieces.empty()) return 0;

  quillmarsh::tools::BundleSource bundle;
  for (const auto& piece : pieces) {
    const bool cell = (piece.file_id & 0xFFFFU) == quillmarsh::tools::LANDBLOCK_INFO_LOW_BITS;
    const std::string ns(cell ? dat::EOR_CELL_NAMESPACE : dat::EOR_PORTAL_NAMESPACE);
    bundle.files[{ns, piece.file_id}] = quillmarsh::Bytes(piece.bytes.begin(), piece.bytes.end());
  }

  const std::uint32_t root = pieces.front().file_id;
  dat::KeepSet visited;
  dat::walk_model(bundle, root, visited, 0);
  QM_FUZZ_CHECK(visited.contains(dat::ResourceId{std::string(dat::EOR_PORTAL_NAMESPACE), root}));
  for (const auto& id : visited) QM_FUZZ_CHECK(id.namespace_ == dat::EOR_PORTAL_NAMESPACE);

  const auto keep = quillmarsh::tools::compute_boot_keep_set(bundle, root >> 16);
  QM_FUZZ_CHECK(keep.size() >= 6 + 2 * quillmarsh::tools::spawn_neighborhood_cells(root >> 16).size());
  return 0;
}
