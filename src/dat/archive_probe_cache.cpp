#include "archive_probe_cache.hpp"

#include <algorithm>
#include <bit>

namespace quillmarsh::dat::detail {

namespace {

constexpr std::uint32_t POSITION_LIMIT = (1U << 27) - 1;

std::uint64_t depth_of(std::uint32_t node) { return static_cast<std::uint64_t>(std::bit_width(node) - 1); }

}  // namespace

ProbeCache::ProbeCache(std::uint32_t entry_count)
    : slot_bits_(std::bit_width(std::clamp<std::size_t>(2 * std::size_t{entry_count}, 64, MAX_SLOTS) - 1)) {}

std::atomic<std::uint64_t>& ProbeCache::slot(const SearchProbe& probe) const {
  std::call_once(allocated_, [this] { words_ = std::make_unique<std::atomic<std::uint64_t>[]>(slots()); });
  // Within one span every probe has a slot of its own: a search over n records numbers its probes below
  // 2n, and kept ones below MAX_SLOTS. Spans start at scattered offsets, so that two spans' first
  // probes rarely share a slot.
  const std::uint32_t offset = probe.span_start * 0x9E3779B9U;
  return words_[(probe.node + offset) & (slots() - 1)];
}

std::optional<std::uint32_t> ProbeCache::find(const SearchProbe& probe) const {
  if (!keeps(probe) || probe.position >= POSITION_LIMIT) return std::nullopt;
  const std::uint64_t word = slot(probe).load(std::memory_order_relaxed);
  if ((word >> 37) != std::uint64_t{probe.position} + 1) return std::nullopt;
  return static_cast<std::uint32_t>(word);
}

void ProbeCache::remember(const SearchProbe& probe, std::uint32_t file_id) const {
  if (!keeps(probe) || probe.position >= POSITION_LIMIT) return;
  std::atomic<std::uint64_t>& word = slot(probe);
  const std::uint64_t depth = depth_of(probe.node);
  const std::uint64_t held = word.load(std::memory_order_relaxed);
  if (held != 0 && ((held >> 32) & 0x1F) < depth) return;
  word.store(((std::uint64_t{probe.position} + 1) << 37) | (depth << 32) | file_id, std::memory_order_relaxed);
}

}  // namespace quillmarsh::dat::detail
