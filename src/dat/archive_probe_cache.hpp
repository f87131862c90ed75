// The file ids of the index records that lookups probe first. Every binary search over a namespace's
// span starts with the same probes, and from a plain file each probe is a read: keeping the ids of
// the first levels in memory spares those reads on every lookup, in a bounded amount of memory
// whatever the archive's size. Shared by the threads using one reader, without a lock.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>

namespace quillmarsh::dat::detail {

// One step of a search: the span it searches, which probe of the search it is (1 for the first; a
// probe n is followed by 2n when the search goes lower and 2n + 1 when it goes higher), and the index
// position it reads.
struct SearchProbe {
  std::uint32_t span_start = 0;
  std::uint32_t node = 1;
  std::uint32_t position = 0;
};

class ProbeCache {
 public:
  // Probes this many steps deep into a search are kept (nodes below 2^LEVELS), so that in an index of
  // up to a million records a lookup from a file reads a single block of records.
  static constexpr unsigned LEVELS = 14;
  // The most slots, one 64-bit word each: 128 KiB.
  static constexpr std::size_t MAX_SLOTS = std::size_t{1} << LEVELS;

  // A cache for an index of `entry_count` records: two slots per record up to MAX_SLOTS, allocated by
  // the first lookup.
  explicit ProbeCache(std::uint32_t entry_count);

  std::size_t slots() const { return std::size_t{1} << slot_bits_; }
  static bool keeps(const SearchProbe& probe) { return probe.node < (1U << LEVELS); }
  // The id at the probe's position, when it is kept.
  std::optional<std::uint32_t> find(const SearchProbe& probe) const;
  // Keeps the id read at the probe's position, unless its slot holds a probe nearer the top of its
  // search (which more lookups pass through). Only probes that `keeps` are kept.
  void remember(const SearchProbe& probe, std::uint32_t file_id) const;

 private:
  std::atomic<std::uint64_t>& slot(const SearchProbe& probe) const;

  int slot_bits_;
  // Each word is (position + 1) << 37 | depth << 32 | id, or 0 when empty: written and read whole, so a
  // reader sees either nothing or a complete record, and another position can never match. Positions
  // below 2^27 - 1 fit, far more than an index holds.
  mutable std::once_flag allocated_;
  mutable std::unique_ptr<std::atomic<std::uint64_t>[]> words_;
};

}  // namespace quillmarsh::dat::detail
