// The motion kinematics asset from arbitrary bytes. Whatever reads must write, and write -> read ->
// write must give identical bytes (floats are carried bit for bit, NaNs included).
#include <cstddef>
#include <cstdint>

#include "fuzz_check.hpp"
#include "quillmarsh/dat/file_type/motion_kinematics.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using quillmarsh::ByteReader;
  using quillmarsh::Bytes;
  using quillmarsh::ByteWriter;
  using quillmarsh::dat::MotionKinematics;

  ByteReader reader(quillmarsh::ByteView(data, size));
  auto kinematics = MotionKinematics::read(reader);
  if (!kinematics) {
    (void)kinematics.error().to_string();
    return 0;
  }
  QM_FUZZ_CHECK(reader.position() <= size);

  Bytes first;
  ByteWriter writer(first);
  QM_FUZZ_CHECK(kinematics->write(writer).has_value());
  QM_FUZZ_CHECK(first.size() <= reader.position());  // repeated keys collapse, nothing is invented

  ByteReader again_reader(first);
  auto again = MotionKinematics::read(again_reader);
  QM_FUZZ_CHECK(again.has_value());
  QM_FUZZ_CHECK(again_reader.position() == first.size());
  Bytes second;
  ByteWriter again_writer(second);
  QM_FUZZ_CHECK(again->write(again_writer).has_value());
  QM_FUZZ_CHECK(second == first);
  return 0;
}
