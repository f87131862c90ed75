#include "archive_seen_keys.hpp"

#include <bit>

namespace quillmarsh::dat::detail {

namespace {

// Fibonacci hashing: the top bits of the product spread consecutive ids over the whole table.
std::size_t slot_of(std::uint64_t key, std::size_t mask, int shift) {
  return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ULL) >> shift) & mask;
}

}  // namespace

std::uint32_t SeenKeys::namespace_number(const ResourceNamespace::Raw& namespace_) {
  if (has_last_ && namespace_ == last_namespace_) return last_number_;
  const std::string key(namespace_.begin(), namespace_.end());
  const auto [it, added] = numbers_.try_emplace(key, static_cast<std::uint32_t>(numbers_.size()));
  last_namespace_ = namespace_;
  last_number_ = it->second;
  has_last_ = true;
  return last_number_;
}

bool SeenKeys::insert(const ResourceNamespace::Raw& namespace_, std::uint32_t file_id) {
  const std::uint64_t key = (std::uint64_t{namespace_number(namespace_)} << 32) | file_id;
  if ((size_ + 1) * 2 > slots_.size()) grow();
  const std::size_t mask = slots_.size() - 1;
  const int shift = 64 - std::countr_zero(slots_.size());
  for (std::size_t i = slot_of(key, mask, shift);; i = (i + 1) & mask) {
    if (slots_[i] == key) return false;
    if (slots_[i] == EMPTY) {
      slots_[i] = key;
      ++size_;
      return true;
    }
  }
}

void SeenKeys::grow() {
  std::vector<std::uint64_t> old = std::move(slots_);
  slots_.assign(old.empty() ? 1024 : old.size() * 2, EMPTY);
  const std::size_t mask = slots_.size() - 1;
  const int shift = 64 - std::countr_zero(slots_.size());
  for (const std::uint64_t key : old) {
    if (key == EMPTY) continue;
    std::size_t i = slot_of(key, mask, shift);
    while (slots_[i] != EMPTY) i = (i + 1) & mask;
    slots_[i] = key;
  }
}

void SeenKeys::clear() {
  numbers_ = {};
  has_last_ = false;
  slots_ = {};
  size_ = 0;
}

}  // namespace quillmarsh::dat::detail
