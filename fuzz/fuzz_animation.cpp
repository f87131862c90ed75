// Animations from arbitrary bytes. A decoded animation describes its own lists, so it must encode,
// and the encoding must be a fixed point.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.hpp"
#include "quillmarsh/dat/file_type/animation.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using quillmarsh::dat::Animation;
  auto animation = Animation::unpack(quillmarsh::ByteView(data, size));
  if (!animation) {
    (void)animation.error().to_string();
    return 0;
  }
  QM_FUZZ_CHECK(animation->frame_records.size() == animation->header_words[2]);
  auto packed = animation->pack();
  QM_FUZZ_CHECK(packed.has_value());
  auto again = Animation::unpack(*packed);
  QM_FUZZ_CHECK(again.has_value());
  auto repacked = again->pack();
  QM_FUZZ_CHECK(repacked.has_value());
  QM_FUZZ_CHECK(*repacked == *packed);
  return 0;
}
