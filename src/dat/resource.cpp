#include "quillmarsh/dat/resource.hpp"

#include <fmt/format.h>

#include <algorithm>

namespace quillmarsh::dat {

std::optional<std::string> utf8_error(std::string_view text) {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    std::size_t len = 0;
    std::uint32_t min = 0;
    if (c < 0x80) {
      ++i;
      continue;
    }
    if ((c & 0xE0) == 0xC0) {
      len = 2;
      min = 0x80;
    } else if ((c & 0xF0) == 0xE0) {
      len = 3;
      min = 0x800;
    } else if ((c & 0xF8) == 0xF0) {
      len = 4;
      min = 0x10000;
    } else {
      return fmt::format("invalid utf-8 sequence starting at index {}", i);
    }
    if (n - i < len) return fmt::format("incomplete utf-8 byte sequence from index {}", i);
    std::uint32_t cp = c & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return fmt::format("invalid utf-8 sequence starting at index {}", i);
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
      return fmt::format("invalid utf-8 sequence starting at index {}", i);
    }
    i += len;
  }
  return std::nullopt;
}

DatResult<ResourceNamespace> ResourceNamespace::create(std::string_view label) {
  if (label.empty()) return dat_fail(DatError::InvalidNamespace{"namespace label cannot be empty"});
  if (label.size() > NAMESPACE_SIZE) {
    return dat_fail(
        DatError::InvalidNamespace{fmt::format("namespace label '{}' exceeds {} bytes", label, NAMESPACE_SIZE)});
  }
  if (label.find('\0') != std::string_view::npos) {
    return dat_fail(DatError::InvalidNamespace{fmt::format("namespace label '{}' contains a NUL byte", label)});
  }
  // Text reaching us as std::string_view is not guaranteed UTF-8; the archive only stores valid labels.
  if (auto err = utf8_error(label)) {
    return dat_fail(DatError::InvalidNamespace{fmt::format("namespace bytes are not valid UTF-8: {}", *err)});
  }
  Raw raw{};
  std::copy(label.begin(), label.end(), raw.begin());
  return ResourceNamespace(raw);
}

DatResult<ResourceNamespace> ResourceNamespace::from_bytes(const Raw& bytes) {
  const auto first_zero = std::find(bytes.begin(), bytes.end(), std::uint8_t{0});
  if (std::any_of(first_zero, bytes.end(), [](std::uint8_t b) { return b != 0; })) {
    return dat_fail(DatError::InvalidNamespace{"namespace bytes must be zero-padded without embedded trailing data"});
  }
  const auto n = static_cast<std::size_t>(first_zero - bytes.begin());
  if (n == 0) return dat_fail(DatError::InvalidNamespace{"namespace label cannot be empty"});
  if (auto err = utf8_error(std::string_view(reinterpret_cast<const char*>(bytes.data()), n))) {
    return dat_fail(DatError::InvalidNamespace{fmt::format("namespace bytes are not valid UTF-8: {}", *err)});
  }
  return ResourceNamespace(bytes);
}

std::string_view ResourceNamespace::label() const {
  const auto end = std::find(bytes_.begin(), bytes_.end(), std::uint8_t{0});
  return {reinterpret_cast<const char*>(bytes_.data()), static_cast<std::size_t>(end - bytes_.begin())};
}

}  // namespace quillmarsh::dat
