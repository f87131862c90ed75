// The (namespace, file id) pairs an archive writer has accepted, for its duplicate check. Each namespace
// gets a number the first time it is seen; the pairs are 64-bit keys in one open-addressing table, so
// an entry costs 16 to 32 bytes and no allocation of its own.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "quillmarsh/dat/resource.hpp"

namespace quillmarsh::dat::detail {

class SeenKeys {
 public:
  // Records the pair; false when it was recorded before.
  bool insert(const ResourceNamespace::Raw& namespace_, std::uint32_t file_id);
  std::size_t size() const { return size_; }
  // Forgets every pair and gives the memory back.
  void clear();

 private:
  // No pair makes this key: a namespace number is below 2^32 - 1 (the writer's entry limit).
  static constexpr std::uint64_t EMPTY = ~std::uint64_t{0};

  std::uint32_t namespace_number(const ResourceNamespace::Raw& namespace_);
  void grow();

  std::unordered_map<std::string, std::uint32_t> numbers_;  // namespace bytes -> number
  ResourceNamespace::Raw last_namespace_{};                 // entries come in runs of one namespace
  std::uint32_t last_number_ = 0;
  bool has_last_ = false;
  std::vector<std::uint64_t> slots_;  // a power of two long, at most half full
  std::size_t size_ = 0;
};

}  // namespace quillmarsh::dat::detail
