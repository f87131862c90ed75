// Small helpers shared by the unit tests: a fresh temporary directory and a little-endian byte builder.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>

#include "quillmarsh/common/binary.hpp"

namespace quillmarsh::testing {

// A directory of its own under the system temp dir, removed with everything in it on destruction.
class TempDir {
 public:
  TempDir() {
    std::random_device rd;
    for (;;) {
      path_ =
          std::filesystem::temp_directory_path() / ("quillmarsh-test-" + std::to_string(rd()) + std::to_string(rd()));
      std::error_code ec;
      if (std::filesystem::create_directory(path_, ec)) break;
    }
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(std::string_view name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Builds little-endian test inputs: Le().u32(1).f32(2.5F).bytes()
class Le {
 public:
  Le& u8(std::uint8_t v) { return raw(&v, 1); }
  Le& u16(std::uint16_t v) { return raw(&v, 2); }
  Le& u32(std::uint32_t v) { return raw(&v, 4); }
  Le& i32(std::int32_t v) { return raw(&v, 4); }
  Le& u64(std::uint64_t v) { return raw(&v, 8); }
  Le& f32(float v) { return raw(&v, 4); }
  Le& zeros(std::size_t n) {
    b_.insert(b_.end(), n, 0);
    return *this;
  }
  Le& text(std::string_view s) {
    b_.insert(b_.end(), s.begin(), s.end());
    return *this;
  }
  Le& append(ByteView bytes) {
    b_.insert(b_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  // A label padded with zero bytes to 32.
  Le& ns(std::string_view label) {
    text(label);
    return zeros(32 - label.size());
  }
  const Bytes& bytes() const { return b_; }
  Bytes take() { return std::move(b_); }
  std::size_t size() const { return b_.size(); }

 private:
  Le& raw(const void* p, std::size_t n) {
    const auto* c = static_cast<const std::uint8_t*>(p);
    b_.insert(b_.end(), c, c + n);
    return *this;
  }
  Bytes b_;
};

}  // namespace quillmarsh::testing
