// Little-endian binary records: positioned byte sources and sinks, the binary read error with its
// context chain, and the declared-record helper that names the failing field.
#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <tl/expected.hpp>
#include <variant>
#include <vector>

namespace quillmarsh {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

enum class IoErrorKind { UnexpectedEof, WriteZero, Interrupted, Os };

// An operating-system I/O error: its kind and message.
struct IoError {
  IoErrorKind kind = IoErrorKind::Os;
  int os_errno = 0;  // 0 unless kind == Os
  std::string message;

  static IoError unexpected_eof();  // "failed to fill whole buffer"
  static IoError write_zero();      // "failed to write whole buffer"
  static IoError from_errno(int err);
  std::string to_string() const { return message; }
  std::string debug_string() const;
  friend bool operator==(const IoError&, const IoError&) = default;
};

// The failure of a record reader: an I/O error, an assertion or custom failure with its stream
// position, or an inner error wrapped in "While parsing field ..." frames (innermost first).
class BinError {
 public:
  struct Io {
    IoError error;
  };
  struct Assert {
    std::uint64_t position;
    std::string message;
  };
  struct Custom {
    std::uint64_t position;
    std::string message;
  };
  struct Frame {
    std::string message;
    const char* file;
    int line;
  };
  struct Context {
    std::shared_ptr<const BinError> inner;  // never itself a Context: frames are flattened
    std::vector<Frame> frames;              // innermost first
  };

  BinError(Io v) : v_(std::move(v)) {}           // NOLINT(google-explicit-constructor)
  BinError(IoError e) : v_(Io{std::move(e)}) {}  // NOLINT(google-explicit-constructor)
  BinError(Assert v) : v_(std::move(v)) {}       // NOLINT(google-explicit-constructor)
  BinError(Custom v) : v_(std::move(v)) {}       // NOLINT(google-explicit-constructor)

  static BinError eof() { return BinError(IoError::unexpected_eof()); }

  // Adds one frame outside the frames already present.
  BinError with_context(std::string message, const char* file, int line) &&;

  std::string to_string() const;     // root cause, then every frame on its own line
  std::string debug_string() const;  // variant names and members, frames with source locations
  const BinError& root_cause() const;
  std::vector<std::string> context_messages() const;  // innermost first

  template <class V>
  const V* get_if() const {
    return std::get_if<V>(&v_);
  }
  // The I/O error at the root, if the root cause is one.
  const IoError* io_error() const;

 private:
  explicit BinError(Context c) : v_(std::move(c)) {}
  std::variant<Io, Assert, Custom, Context> v_;
};

template <class T>
using BinResult = tl::expected<T, BinError>;

inline tl::unexpected<BinError> bin_fail(BinError e) { return tl::unexpected<BinError>(std::move(e)); }

// Positioned source over borrowed bytes. Reads past the end fail with "failed to fill whole buffer"
// and leave the position unchanged; the position itself may be moved past the end.
class ByteReader {
 public:
  explicit ByteReader(ByteView bytes) : bytes_(bytes) {}

  std::size_t position() const { return pos_; }
  void set_position(std::size_t pos) { pos_ = pos; }
  std::size_t size() const { return bytes_.size(); }
  std::size_t remaining() const { return pos_ < bytes_.size() ? bytes_.size() - pos_ : 0; }
  bool has(std::size_t n) const { return remaining() >= n; }
  void skip(std::size_t n) { pos_ += n; }

  BinResult<std::uint8_t> read_u8();
  BinResult<std::uint16_t> read_u16();
  BinResult<std::uint32_t> read_u32();
  BinResult<std::int32_t> read_i32();
  BinResult<std::uint64_t> read_u64();
  BinResult<float> read_f32();
  // A borrowed view of the next n bytes.
  BinResult<ByteView> read_bytes(std::size_t n);
  // Copies the next N bytes into a fixed array.
  template <std::size_t N>
  BinResult<std::array<std::uint8_t, N>> read_array() {
    auto view = read_bytes(N);
    if (!view) return bin_fail(std::move(view.error()));
    std::array<std::uint8_t, N> out{};
    std::copy(view->begin(), view->end(), out.begin());
    return out;
  }

 private:
  ByteView bytes_;
  std::size_t pos_ = 0;
};

// Positioned sink over a growable buffer. A position past the end is zero-filled up to it on write.
class ByteWriter {
 public:
  explicit ByteWriter(Bytes& buffer) : buf_(&buffer) {}

  std::size_t position() const { return pos_; }
  void set_position(std::size_t pos) { pos_ = pos; }

  void write_bytes(ByteView bytes);
  void write_u8(std::uint8_t v) { write_bytes(ByteView(&v, 1)); }
  void write_u16(std::uint16_t v);
  void write_u32(std::uint32_t v);
  void write_u64(std::uint64_t v);
  void write_f32(float v);

 private:
  Bytes* buf_;
  std::size_t pos_ = 0;
};

// The declared-record helper: every field read through it that fails adds the frame
// "While parsing field '<field>' in <Record>" and puts the reader back at the record's first byte.
class RecordReader {
 public:
  RecordReader(ByteReader& reader, const char* record) : r_(reader), record_(record), start_(reader.position()) {}

  template <class F>
  auto field(const char* name, F&& read, const char* file = __builtin_FILE(), int line = __builtin_LINE())
      -> decltype(read(std::declval<ByteReader&>())) {
    auto result = read(r_);
    if (!result) {
      r_.set_position(start_);
      return bin_fail(frame(std::move(result.error()), name, file, line));
    }
    return result;
  }

  BinResult<std::uint8_t> u8(const char* name, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    return field(
        name, [](ByteReader& r) { return r.read_u8(); }, file, line);
  }
  BinResult<std::uint16_t> u16(const char* name, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    return field(
        name, [](ByteReader& r) { return r.read_u16(); }, file, line);
  }
  BinResult<std::uint32_t> u32(const char* name, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    return field(
        name, [](ByteReader& r) { return r.read_u32(); }, file, line);
  }
  BinResult<std::int32_t> i32(const char* name, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    return field(
        name, [](ByteReader& r) { return r.read_i32(); }, file, line);
  }
  BinResult<std::uint64_t> u64(const char* name, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    return field(
        name, [](ByteReader& r) { return r.read_u64(); }, file, line);
  }
  BinResult<float> f32(const char* name, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    return field(
        name, [](ByteReader& r) { return r.read_f32(); }, file, line);
  }
  // A nested declared record (any type with `static BinResult<T> read(ByteReader&)`).
  template <class T>
  BinResult<T> record(const char* name, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    return field(
        name, [](ByteReader& r) { return T::read(r); }, file, line);
  }

  // Wraps an error that arose outside `field` (for example inside a loop over a list member).
  BinError frame(BinError error, const char* name, const char* file = __builtin_FILE(),
                 int line = __builtin_LINE()) const;

  ByteReader& reader() { return r_; }
  std::size_t start() const { return start_; }

 private:
  ByteReader& r_;
  const char* record_;
  std::size_t start_;
};

}  // namespace quillmarsh

// Propagates the error of a BinResult/DatResult expression, or binds its value.
#define QM_TRY_ASSIGN(lhs, expr)                                                                               \
  auto QM_CONCAT(qm_try_, __LINE__) = (expr);                                                                  \
  if (!QM_CONCAT(qm_try_, __LINE__)) return ::tl::unexpected(std::move(QM_CONCAT(qm_try_, __LINE__).error())); \
  lhs = std::move(*QM_CONCAT(qm_try_, __LINE__))
#define QM_TRY(expr)                                                     \
  do {                                                                   \
    auto qm_try_v = (expr);                                              \
    if (!qm_try_v) return ::tl::unexpected(std::move(qm_try_v.error())); \
  } while (0)
#define QM_CONCAT_INNER(a, b) a##b
#define QM_CONCAT(a, b) QM_CONCAT_INNER(a, b)
