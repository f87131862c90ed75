#include "quillmarsh/common/binary.hpp"

#include <fmt/format.h>

#include <bit>
#include <cstring>

namespace quillmarsh {

static_assert(std::endian::native == std::endian::little, "quillmarsh reads little-endian data in place");

IoError IoError::unexpected_eof() { return {IoErrorKind::UnexpectedEof, 0, "failed to fill whole buffer"}; }
IoError IoError::write_zero() { return {IoErrorKind::WriteZero, 0, "failed to write whole buffer"}; }
IoError IoError::from_errno(int err) {
  return {err == EINTR ? IoErrorKind::Interrupted : IoErrorKind::Os, err, std::strerror(err)};
}

std::string IoError::debug_string() const {
  static constexpr const char* kinds[] = {"UnexpectedEof", "WriteZero", "Interrupted", "Os"};
  return fmt::format("IoError {{ kind: {}, os_errno: {}, message: \"{}\" }}", kinds[static_cast<int>(kind)], os_errno,
                     message);
}

BinError BinError::with_context(std::string message, const char* file, int line) && {
  if (auto* ctx = std::get_if<Context>(&v_)) {
    ctx->frames.push_back({std::move(message), file, line});
    return std::move(*this);
  }
  Context c{std::make_shared<const BinError>(std::move(*this)), {}};
  c.frames.push_back({std::move(message), file, line});
  return BinError(std::move(c));
}

const BinError& BinError::root_cause() const {
  if (const auto* ctx = std::get_if<Context>(&v_)) return *ctx->inner;
  return *this;
}

const IoError* BinError::io_error() const {
  const auto* io = root_cause().get_if<Io>();
  return io != nullptr ? &io->error : nullptr;
}

std::vector<std::string> BinError::context_messages() const {
  std::vector<std::string> out;
  if (const auto* ctx = std::get_if<Context>(&v_)) {
    for (const auto& f : ctx->frames) out.push_back(f.message);
  }
  return out;
}

std::string BinError::to_string() const {
  struct Visitor {
    std::string operator()(const Io& v) const { return v.error.message; }
    std::string operator()(const Assert& v) const {
      return fmt::format("assertion failed at position {}: {}", v.position, v.message);
    }
    std::string operator()(const Custom& v) const { return fmt::format("{} (at position {})", v.message, v.position); }
    std::string operator()(const Context& v) const {
      std::string out = v.inner->to_string();
      for (const auto& f : v.frames) out += "\n  " + f.message;
      return out;
    }
  };
  return std::visit(Visitor{}, v_);
}

std::string BinError::debug_string() const {
  struct Visitor {
    std::string operator()(const Io& v) const { return fmt::format("Io({})", v.error.debug_string()); }
    std::string operator()(const Assert& v) const {
      return fmt::format("Assert {{ position: {}, message: \"{}\" }}", v.position, v.message);
    }
    std::string operator()(const Custom& v) const {
      return fmt::format("Custom {{ position: {}, message: \"{}\" }}", v.position, v.message);
    }
    std::string operator()(const Context& v) const {
      std::string out = fmt::format("Context {{ error: {}, frames: [", v.inner->debug_string());
      for (std::size_t i = 0; i < v.frames.size(); ++i) {
        out += fmt::format("{}\"{}\" at {}:{}", i == 0 ? "" : ", ", v.frames[i].message, v.frames[i].file,
                           v.frames[i].line);
      }
      return out + "] }";
    }
  };
  return std::visit(Visitor{}, v_);
}

BinResult<ByteView> ByteReader::read_bytes(std::size_t n) {
  if (!has(n)) return bin_fail(BinError::eof());
  ByteView out = bytes_.subspan(pos_, n);
  pos_ += n;
  return out;
}

namespace {
template <class T>
BinResult<T> read_le(ByteReader& r) {
  auto view = r.read_bytes(sizeof(T));
  if (!view) return bin_fail(std::move(view.error()));
  T v;
  std::memcpy(&v, view->data(), sizeof(T));
  return v;
}
}  // namespace

BinResult<std::uint8_t> ByteReader::read_u8() { return read_le<std::uint8_t>(*this); }
BinResult<std::uint16_t> ByteReader::read_u16() { return read_le<std::uint16_t>(*this); }
BinResult<std::uint32_t> ByteReader::read_u32() { return read_le<std::uint32_t>(*this); }
BinResult<std::int32_t> ByteReader::read_i32() { return read_le<std::int32_t>(*this); }
BinResult<std::uint64_t> ByteReader::read_u64() { return read_le<std::uint64_t>(*this); }
BinResult<float> ByteReader::read_f32() { return read_le<float>(*this); }

void ByteWriter::write_bytes(ByteView bytes) {
  const std::size_t end = pos_ + bytes.size();
  if (buf_->size() < end) buf_->resize(end, 0);  // also zero-fills a gap before pos_
  if (!bytes.empty()) std::memcpy(buf_->data() + pos_, bytes.data(), bytes.size());
  pos_ = end;
}

namespace {
template <class T>
void write_le(ByteWriter& w, T v) {
  std::uint8_t raw[sizeof(T)];
  std::memcpy(raw, &v, sizeof(T));
  w.write_bytes(ByteView(raw, sizeof(T)));
}
}  // namespace

void ByteWriter::write_u16(std::uint16_t v) { write_le(*this, v); }
void ByteWriter::write_u32(std::uint32_t v) { write_le(*this, v); }
void ByteWriter::write_u64(std::uint64_t v) { write_le(*this, v); }
void ByteWriter::write_f32(float v) { write_le(*this, v); }

BinError RecordReader::frame(BinError error, const char* name, const char* file, int line) const {
  return std::move(error).with_context(fmt::format("While parsing field '{}' in {}", name, record_), file, line);
}

}  // namespace quillmarsh
