#include "quillmarsh/common/math.hpp"

namespace quillmarsh {

BinResult<Vector3> Vector3::read(ByteReader& reader) {
  RecordReader rec(reader, "Vector3");
  Vector3 v;
  QM_TRY_ASSIGN(v.x, rec.f32("x"));
  QM_TRY_ASSIGN(v.y, rec.f32("y"));
  QM_TRY_ASSIGN(v.z, rec.f32("z"));
  return v;
}

void Vector3::write(ByteWriter& writer) const {
  writer.write_f32(x);
  writer.write_f32(y);
  writer.write_f32(z);
}

BinResult<Quaternion> Quaternion::read(ByteReader& reader) {
  RecordReader rec(reader, "Quaternion");
  Quaternion q;
  QM_TRY_ASSIGN(q.w, rec.f32("w"));
  QM_TRY_ASSIGN(q.x, rec.f32("x"));
  QM_TRY_ASSIGN(q.y, rec.f32("y"));
  QM_TRY_ASSIGN(q.z, rec.f32("z"));
  return q;
}

BinResult<Sphere> Sphere::read(ByteReader& reader) {
  RecordReader rec(reader, "Sphere");
  Sphere s;
  QM_TRY_ASSIGN(s.center, rec.record<Vector3>("center"));
  QM_TRY_ASSIGN(s.radius, rec.f32("radius"));
  return s;
}

}  // namespace quillmarsh
