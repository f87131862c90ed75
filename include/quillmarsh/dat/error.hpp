// The content library's error type: one tagged value per failure, with the display texts users see.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <tl/expected.hpp>
#include <variant>

#include "quillmarsh/common/binary.hpp"

namespace quillmarsh::dat {

class DatError {
 public:
  struct Io {
    IoError error;
  };
  struct BinRead {
    BinError error;
  };
  struct NotFound {
    std::uint32_t file_id;
  };
  struct DuplicateId {
    std::uint32_t file_id;
  };
  struct DuplicateNamespacedId {
    std::string namespace_;
    std::uint32_t file_id;
  };
  struct InvalidMagic {
    std::string format;
  };
  struct UnsupportedVersion {
    std::uint32_t version;
  };
  struct InvalidNamespace {
    std::string reason;
  };
  struct Corruption {
    std::string reason;
  };
  struct DecompressionFailed {
    std::uint32_t file_id;
  };
  struct PathError {
    std::filesystem::path path;
    IoError source;
  };
  struct Other {
    std::string text;
  };

  using Variant = std::variant<Io, BinRead, NotFound, DuplicateId, DuplicateNamespacedId, InvalidMagic,
                               UnsupportedVersion, InvalidNamespace, Corruption, DecompressionFailed, PathError, Other>;

  template <class V>
  requires std::is_constructible_v<Variant, V> DatError(V variant)
      : v_(std::move(variant)) {}                              // NOLINT(google-explicit-constructor)
  DatError(IoError error) : v_(Io{std::move(error)}) {}        // NOLINT(google-explicit-constructor)
  DatError(BinError error) : v_(BinRead{std::move(error)}) {}  // NOLINT(google-explicit-constructor)

  std::string to_string() const;
  std::string debug_string() const;

  template <class V>
  const V* get_if() const {
    return std::get_if<V>(&v_);
  }
  const Variant& variant() const { return v_; }

 private:
  Variant v_;
};

template <class T>
using DatResult = tl::expected<T, DatError>;

inline tl::unexpected<DatError> dat_fail(DatError e) { return tl::unexpected<DatError>(std::move(e)); }

}  // namespace quillmarsh::dat
