// The subcommands. Each has an options record, an operation that the demo can call directly, and a
// function that registers it with the command-line parser. A registered subcommand, when chosen,
// stores in `runner` the work to do after parsing; the work returns the exit code.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <tl/expected.hpp>
#include <vector>

#include "cli_support.hpp"
#include "quillmarsh/tools/dat2qma.hpp"

namespace quillmarsh::cli {

using Runner = std::function<int()>;

// --- pack (alias dat2qma) ---
struct PackOptions {
  std::filesystem::path output;
  tools::ConversionProfile profile = tools::ConversionProfile::Full;
  std::optional<std::string> namespace_;
  std::optional<std::string> hint;
  bool no_compress = false;
  bool no_derive = false;
  bool tree = false;
  unsigned jobs = 1;  // compression threads; 1 compresses inside the packing thread
  std::vector<std::filesystem::path> inputs;
};
struct PackSummary {
  std::uint64_t inputs = 0;
  std::uint64_t files_seen = 0;     // content files read from the inputs
  std::uint64_t files_written = 0;  // entries in the output, derived assets included
  std::uint64_t skipped_names = 0;  // directory files whose names are not content ids
  std::uint64_t pruned = 0;         // dropped by the profile
  std::uint64_t bytes_in = 0;
  std::uint64_t bytes_out = 0;  // size of the finished archive
  bool derived = false;
  std::size_t kinematics_tables = 0;
  std::size_t kinematics_setups = 0;
};
tl::expected<PackSummary, std::string> pack_archive(const PackOptions& options, const Globals& globals);
std::string describe(const PackSummary& summary, const PackOptions& options);
void add_pack_command(CLI::App& app, const Globals& globals, Runner& runner);

// --- ls ---
struct ListTotals {
  std::uint64_t entries = 0;
  std::uint64_t size = 0;
  std::uint64_t stored_size = 0;
  std::uint64_t compressed = 0;
};
void add_ls_command(CLI::App& app, const Globals& globals, Runner& runner);
// The text listing of `archive` written to `out`; the totals are returned as well.
tl::expected<ListTotals, std::string> list_archive(const std::filesystem::path& archive,
                                                   const std::optional<std::string>& namespace_, bool json,
                                                   std::FILE* out);

// --- cat ---
void add_cat_command(CLI::App& app, const Globals& globals, Runner& runner);

// --- extract ---
void add_extract_command(CLI::App& app, const Globals& globals, Runner& runner);

// --- verify ---
struct VerifyReport {
  std::uint32_t entries = 0;
  std::vector<std::string> problems;  // each naming its entry; open failures name the archive
  std::string open_error;             // set when the archive did not open
};
VerifyReport verify_file(const std::filesystem::path& archive);
void add_verify_command(CLI::App& app, const Globals& globals, Runner& runner);

// --- shard ---
struct ShardOptions {
  std::optional<std::filesystem::path> output;
  std::uint32_t spawn = 0xA9B4;
  bool plan_only = false;
  bool json = false;
  std::vector<std::filesystem::path> bundles;
};
struct ShardReport {
  std::uint32_t spawn = 0;
  std::size_t planned = 0;
  std::vector<std::pair<std::string, std::uint32_t>> written;  // planned files the bundle has
  std::vector<std::pair<std::string, std::uint32_t>> missing;  // planned files it lacks
  std::vector<std::pair<std::string, std::uint32_t>> core;     // core-namespace files carried along
  std::uint64_t bytes_out = 0;
};
tl::expected<ShardReport, std::string> shard_bundle(const ShardOptions& options, const Globals& globals);
void add_shard_command(CLI::App& app, const Globals& globals, Runner& runner);

// --- spells ---
struct SpellsOptions {
  std::filesystem::path table;
  std::string preset = "base";
  std::vector<std::string> fields;
  std::vector<std::uint32_t> schools;
  std::vector<std::uint32_t> categories;
  std::optional<std::filesystem::path> output;
};
// The export document as text, and the number of spells exported.
tl::expected<std::pair<std::string, std::size_t>, std::string> export_spell_document(const SpellsOptions& options);
void add_spells_command(CLI::App& app, const Globals& globals, Runner& runner);

// --- inspect ---
void add_inspect_command(CLI::App& app, const Globals& globals, Runner& runner);

// --- demo ---
void add_demo_command(CLI::App& app, const Globals& globals, Runner& runner);

}  // namespace quillmarsh::cli
