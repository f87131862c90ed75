// Every file is addressed by (namespace label, 32-bit file id). A namespace is held as 32 zero-padded
// bytes; comparing those bytes as unsigned numbers orders namespaces as their labels.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>

#include "quillmarsh/dat/error.hpp"

namespace quillmarsh::dat {

inline constexpr std::string_view EOR_PORTAL_NAMESPACE = "eor/portal";
inline constexpr std::string_view EOR_CELL_NAMESPACE = "eor/cell";
inline constexpr std::string_view CORE_NAMESPACE = "quillmarsh/core";

inline constexpr std::size_t NAMESPACE_SIZE = 32;

class ResourceNamespace {
 public:
  using Raw = std::array<std::uint8_t, NAMESPACE_SIZE>;

  static DatResult<ResourceNamespace> create(std::string_view label);
  static DatResult<ResourceNamespace> from_bytes(const Raw& bytes);
  // The 32 bytes of an archive index entry exactly as stored. The reader locates entries through the
  // validated namespace records and never interprets these bytes; verification compares them.
  static ResourceNamespace from_stored_unchecked(const Raw& bytes) { return ResourceNamespace(bytes); }

  // All zero bytes: a placeholder that no valid label equals.
  ResourceNamespace() = default;

  const Raw& bytes() const { return bytes_; }
  std::string_view label() const;

  friend auto operator<=>(const ResourceNamespace&, const ResourceNamespace&) = default;
  friend bool operator==(const ResourceNamespace&, const ResourceNamespace&) = default;

 private:
  explicit ResourceNamespace(const Raw& bytes) : bytes_(bytes) {}
  Raw bytes_{};
};

// Validates UTF-8; on failure gives a description that names the index of the first invalid byte.
std::optional<std::string> utf8_error(std::string_view text);

// The argument of a fetch: a borrowed label and an id. Labels compare as text.
struct ResourceKey {
  std::string_view namespace_;
  std::uint32_t file_id;
};

// An owned (namespace, file id) pair: the element of keep sets and visited sets.
struct ResourceId {
  std::string namespace_;
  std::uint32_t file_id = 0;
  friend bool operator==(const ResourceId&, const ResourceId&) = default;
  friend auto operator<=>(const ResourceId&, const ResourceId&) = default;
};

struct ResourceIdHash {
  std::size_t operator()(const ResourceId& id) const noexcept {
    const std::size_t h = std::hash<std::string>{}(id.namespace_);
    return h ^ (std::hash<std::uint32_t>{}(id.file_id) + 0x9e3779b97f4a7c15ULL + (h << 6) + (h >> 2));
  }
};

using KeepSet = std::unordered_set<ResourceId, ResourceIdHash>;

// Fetches a file's complete bytes by (namespace, file id); a missing file is an error.
class ResourceSource {
 public:
  virtual ~ResourceSource() = default;
  virtual DatResult<Bytes> get_file_by_key(const ResourceKey& key) const = 0;
};

}  // namespace quillmarsh::dat
