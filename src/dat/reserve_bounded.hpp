// Reserving room for a list whose length was read from the input: never more than the bytes still
// unread can hold, so a corrupt count cannot size an allocation.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "quillmarsh/common/binary.hpp"

namespace quillmarsh::dat::detail {

template <class T>
void reserve_bounded(std::vector<T>& list, std::uint64_t declared_count, const ByteReader& reader,
                     std::size_t encoded_size) {
  const std::uint64_t fits = reader.remaining() / encoded_size;
  list.reserve(static_cast<std::size_t>(std::min(declared_count, fits)));
}

}  // namespace quillmarsh::dat::detail
