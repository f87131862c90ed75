#include "quillmarsh/dat/graphics.hpp"

namespace quillmarsh::dat {

BinResult<Frame> Frame::read(ByteReader& reader) {
  RecordReader rec(reader, "Frame");
  Frame f;
  QM_TRY_ASSIGN(f.origin, rec.record<Vector3>("origin"));
  QM_TRY_ASSIGN(f.orientation, rec.record<Quaternion>("orientation"));
  return f;
}

}  // namespace quillmarsh::dat
