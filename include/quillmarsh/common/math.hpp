// Geometry records shared by every binary format: floats are kept bit for bit, never normalised.
#pragma once

#include "quillmarsh/common/binary.hpp"

namespace quillmarsh {

struct Vector3 {
  float x = 0.0F;
  float y = 0.0F;
  float z = 0.0F;

  static BinResult<Vector3> read(ByteReader& reader);
  void write(ByteWriter& writer) const;
  friend bool operator==(const Vector3&, const Vector3&) = default;
};

// The scalar part `w` is encoded first.
struct Quaternion {
  float w = 1.0F;
  float x = 0.0F;
  float y = 0.0F;
  float z = 0.0F;

  static BinResult<Quaternion> read(ByteReader& reader);
  friend bool operator==(const Quaternion&, const Quaternion&) = default;
};

struct Sphere {
  Vector3 center;
  float radius = 0.0F;

  static BinResult<Sphere> read(ByteReader& reader);
  friend bool operator==(const Sphere&, const Sphere&) = default;
};

}  // namespace quillmarsh
