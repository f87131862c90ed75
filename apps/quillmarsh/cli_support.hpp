// What every subcommand shares: exit codes, error messages on stderr, the progress line and the
// one-line summary, and small formatting helpers.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "quillmarsh/dat/error.hpp"
#include "quillmarsh/tools/error.hpp"

namespace quillmarsh::cli {

inline constexpr int EXIT_OK = 0;
inline constexpr int EXIT_FAILURE_ = 1;  // the operation failed (or found problems)
inline constexpr int EXIT_USAGE = 2;     // the command line itself is wrong

// Options every subcommand understands.
struct Globals {
  bool quiet = false;
};

// "quillmarsh: error: <text>" on stderr. Always printed, even with --quiet.
void print_error(std::string_view text);
// "quillmarsh: note: <text>" on stderr (always).
void print_note(std::string_view text);
// "quillmarsh: warning: <text>" on stderr, unless quiet.
void print_warning(const Globals& globals, std::string_view text);
// A one-line summary on stderr, unless quiet.
void print_summary(const Globals& globals, std::string_view text);

// Prints the error and returns EXIT_FAILURE_, for `return fail(...)` in command bodies.
int fail(std::string_view text);
int fail(const tools::ToolError& error);

// A progress line on stderr ("pack: 120/480 files, 3.1 MiB, 12.0 MiB/s"), redrawn at most ten times a
// second, shown only when stderr is a terminal and not quiet. Cleared by finish() or on destruction.
class Progress {
 public:
  Progress(const Globals& globals, std::string verb, std::uint64_t total_files);
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;
  ~Progress();

  void set_total(std::uint64_t total_files) { total_ = total_files; }
  void advance(std::uint64_t files, std::uint64_t bytes);
  void finish();

  std::uint64_t files() const { return files_; }
  std::uint64_t bytes() const { return bytes_; }
  double seconds() const;

 private:
  void draw();

  bool enabled_;
  bool drawn_ = false;
  std::string verb_;
  std::uint64_t total_;
  std::uint64_t files_ = 0;
  std::uint64_t bytes_ = 0;
  std::chrono::steady_clock::time_point start_;
  std::chrono::steady_clock::time_point last_draw_;
};

// "1.5 MiB", "812 B".
std::string human_bytes(std::uint64_t bytes);
// "0x0E000002"
std::string hex_id(std::uint32_t id);

// A file id or landblock given on the command line: hexadecimal with an optional 0x prefix.
tl::expected<std::uint32_t, std::string> parse_id(std::string_view text);

// Serialises a JSON document for output; text that is not valid UTF-8 is replaced, never thrown on.
std::string dump_json(const nlohmann::ordered_json& document, int indent = 2);

// Reads a whole (small) file: spell tables, manifests, single records for inspect. The error text
// names the path.
tl::expected<std::string, std::string> read_whole_file(const std::filesystem::path& path);

// Strips trailing separators, so that "content/cell/" names the directory "cell".
std::filesystem::path without_trailing_separator(std::filesystem::path path);

}  // namespace quillmarsh::cli
