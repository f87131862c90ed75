// Shared CLI helpers: messages, the progress line, formatting.
#include "cli_support.hpp"

#include <fmt/format.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "quillmarsh/tools/dat_shard.hpp"

namespace quillmarsh::cli {

void print_error(std::string_view text) { fmt::print(stderr, "quillmarsh: error: {}\n", text); }

void print_note(std::string_view text) { fmt::print(stderr, "quillmarsh: note: {}\n", text); }

void print_warning(const Globals& globals, std::string_view text) {
  if (!globals.quiet) fmt::print(stderr, "quillmarsh: warning: {}\n", text);
}

void print_summary(const Globals& globals, std::string_view text) {
  if (!globals.quiet) fmt::print(stderr, "{}\n", text);
}

int fail(std::string_view text) {
  print_error(text);
  return EXIT_FAILURE_;
}

int fail(const tools::ToolError& error) { return fail(error.to_string()); }

Progress::Progress(const Globals& globals, std::string verb, std::uint64_t total_files)
    : enabled_(!globals.quiet && isatty(STDERR_FILENO) == 1),
      verb_(std::move(verb)),
      total_(total_files),
      start_(std::chrono::steady_clock::now()),
      last_draw_(start_) {}

Progress::~Progress() { finish(); }

void Progress::advance(std::uint64_t files, std::uint64_t bytes) {
  files_ += files;
  bytes_ += bytes;
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - last_draw_ < std::chrono::milliseconds(100) && files_ != total_) return;
  last_draw_ = now;
  draw();
}

double Progress::seconds() const {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
}

void Progress::draw() {
  const double secs = seconds();
  const double rate = secs > 0 ? static_cast<double>(bytes_) / secs : 0.0;
  fmt::print(stderr, "\r\x1b[K{}: {}/{} files, {}, {}/s", verb_, files_, total_, human_bytes(bytes_),
             human_bytes(static_cast<std::uint64_t>(rate)));
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::finish() {
  if (drawn_) {
    fmt::print(stderr, "\r\x1b[K");
    std::fflush(stderr);
    drawn_ = false;
  }
  enabled_ = false;
}

std::string human_bytes(std::uint64_t bytes) {
  if (bytes < 1024) return fmt::format("{} B", bytes);
  static constexpr const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024.0;
  std::size_t unit = 0;
  while (value >= 1024.0 && unit + 1 < std::size(units)) {
    value /= 1024.0;
    ++unit;
  }
  return fmt::format("{:.1f} {}", value, units[unit]);
}

std::string hex_id(std::uint32_t id) { return fmt::format("0x{:08X}", id); }

tl::expected<std::uint32_t, std::string> parse_id(std::string_view text) { return tools::parse_hex_u32(text); }

std::string dump_json(const nlohmann::ordered_json& document, int indent) {
  return document.dump(indent, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

tl::expected<std::string, std::string> read_whole_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return tl::unexpected(fmt::format("cannot read {}: {}", path.string(), std::strerror(errno)));
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return tl::unexpected(fmt::format("cannot read {}: read failed", path.string()));
  return text;
}

std::filesystem::path without_trailing_separator(std::filesystem::path path) {
  while (!path.empty() && !path.has_filename() && path.has_relative_path()) path = path.parent_path();
  return path;
}

}  // namespace quillmarsh::cli
