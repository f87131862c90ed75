// How the walker fuzzer turns one input into the files of a bundle: the input is cut at every
// occurrence of an 8-byte separator; each piece is a little-endian u32 file id followed by the file's
// bytes. Pieces shorter than 4 bytes are dropped, and a later piece with the same id replaces an
// earlier one. The first piece's id is the model the walk starts from. make_seeds writes inputs in
// the same form.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "quillmarsh/common/binary.hpp"

namespace quillmarsh::fuzz {

inline constexpr std::array<std::uint8_t, 8> kBundleSeparator = {'Q', 'M', 'B', 'U', 'N', 'D', 'L', 'E'};

struct BundlePiece {
  std::uint32_t file_id = 0;
  ByteView bytes;
};

inline std::vector<BundlePiece> split_bundle(ByteView input) {
  std::vector<BundlePiece> pieces;
  auto add = [&](ByteView piece) {
    if (piece.size() < 4) return;
    const std::uint32_t id = std::uint32_t{piece[0]} | (std::uint32_t{piece[1]} << 8) |
                             (std::uint32_t{piece[2]} << 16) | (std::uint32_t{piece[3]} << 24);
    pieces.push_back({id, piece.subspan(4)});
  };
  auto start = input.begin();
  for (;;) {
    auto found = std::search(start, input.end(), kBundleSeparator.begin(), kBundleSeparator.end());
    add(ByteView(start, found));
    if (found == input.end()) break;
    start = found + static_cast<std::ptrdiff_t>(kBundleSeparator.size());
  }
  return pieces;
}

// The inverse, for seeds: id and bytes of each file, separated.
inline Bytes join_bundle(const std::vector<std::pair<std::uint32_t, Bytes>>& files) {
  Bytes out;
  for (std::size_t i = 0; i < files.size(); ++i) {
    if (i > 0) out.insert(out.end(), kBundleSeparator.begin(), kBundleSeparator.end());
    const std::uint32_t id = files[i].first;
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<std::uint8_t>(id >> shift));
    out.insert(out.end(), files[i].second.begin(), files[i].second.end());
  }
  return out;
}

}  // namespace quillmarsh::fuzz
