// The tools' error type. Library errors that a tool reports are kept whole (DatRead) or as their
// display text (QmaWrite, Validation).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <tl/expected.hpp>
#include <variant>

#include "quillmarsh/dat/error.hpp"

namespace quillmarsh::tools {

class ToolError {
 public:
  struct DatOpen {
    std::filesystem::path path;
    std::string text;
  };
  struct DatRead {
    std::uint32_t id;
    dat::DatError source;
  };
  struct QmaWrite {
    std::filesystem::path path;
    std::string text;
  };
  struct Io {
    IoError error;
  };
  struct ProgressTemplate {
    std::string text;
  };
  struct Validation {
    std::string text;
  };
  struct AssetDerivation {
    std::string text;
  };

  using Variant = std::variant<DatOpen, DatRead, QmaWrite, Io, ProgressTemplate, Validation, AssetDerivation>;

  template <class V>
  requires std::is_constructible_v<Variant, V> ToolError(V variant)
      : v_(std::move(variant)) {}  // NOLINT(google-explicit-constructor)

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
using ToolResult = tl::expected<T, ToolError>;

inline tl::unexpected<ToolError> tool_fail(ToolError e) { return tl::unexpected<ToolError>(std::move(e)); }

}  // namespace quillmarsh::tools
