// Motion tables from arbitrary bytes. A decoded table must encode again, and the encoding must be a
// fixed point: decode(encode(t)) encodes to the same bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.hpp"
#include "quillmarsh/dat/file_type/motion_table.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using quillmarsh::dat::MotionTable;
  auto table = MotionTable::unpack(quillmarsh::ByteView(data, size));
  if (!table) {
    (void)table.error().to_string();
    return 0;
  }
  auto packed = table->pack();
  QM_FUZZ_CHECK(packed.has_value());
  auto again = MotionTable::unpack(*packed);
  QM_FUZZ_CHECK(again.has_value());
  auto repacked = again->pack();
  QM_FUZZ_CHECK(repacked.has_value());
  QM_FUZZ_CHECK(*repacked == *packed);
  return 0;
}
