// Output files that appear atomically: written under a unique temporary name in the target's own
// directory, renamed over the target on success, removed on any failure (also when the program is
// interrupted by SIGINT, SIGTERM or SIGHUP), so no partial file is ever left under either name.
#pragma once

#include <filesystem>
#include <string>
#include <tl/expected.hpp>

namespace quillmarsh::cli {

class AtomicOutput {
 public:
  // Reserves a fresh temporary name beside `target` (created empty, exclusively).
  static tl::expected<AtomicOutput, std::string> create(const std::filesystem::path& target);

  AtomicOutput(AtomicOutput&& other) noexcept;
  AtomicOutput& operator=(AtomicOutput&&) = delete;
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;
  ~AtomicOutput();  // removes the temporary file unless committed

  const std::filesystem::path& temp_path() const { return temp_; }
  const std::filesystem::path& target() const { return target_; }

  // Renames the temporary file over the target. On failure the temporary file is removed.
  tl::expected<void, std::string> commit();
  // Removes the temporary file now.
  void discard();

 private:
  AtomicOutput(std::filesystem::path target, std::filesystem::path temp, int slot)
      : target_(std::move(target)), temp_(std::move(temp)), slot_(slot) {}

  std::filesystem::path target_;
  std::filesystem::path temp_;
  int slot_ = -1;  // registration for removal on a fatal signal
  bool done_ = false;
};

// Writes `contents` to `target` atomically.
tl::expected<void, std::string> write_file_atomically(const std::filesystem::path& target, std::string_view contents);

}  // namespace quillmarsh::cli
