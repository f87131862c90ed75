// Setup models from arbitrary bytes: decoding either fails or ends inside the input.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.hpp"
#include "quillmarsh/dat/file_type/setup_model.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  quillmarsh::ByteReader reader(quillmarsh::ByteView(data, size));
  auto setup = quillmarsh::dat::SetupModel::unpack(reader);
  if (setup) {
    QM_FUZZ_CHECK(reader.position() <= size);
    const auto part_count = setup->parts.size();
    QM_FUZZ_CHECK(setup->part_values.empty() || setup->part_values.size() == part_count);
    QM_FUZZ_CHECK(setup->part_vectors.empty() || setup->part_vectors.size() == part_count);
    for (const auto& [key, placement] : setup->placements) QM_FUZZ_CHECK(placement.frames.size() == part_count);
  } else {
    (void)setup.error().to_string();
  }
  return 0;
}
