// Graphics records of the content files.
#pragma once

#include "quillmarsh/common/math.hpp"

namespace quillmarsh::dat {

// A placement: `origin`, then `orientation` (28 bytes).
struct Frame {
  Vector3 origin;
  Quaternion orientation;

  static BinResult<Frame> read(ByteReader& reader);
  friend bool operator==(const Frame&, const Frame&) = default;
};

}  // namespace quillmarsh::dat
