// pack (alias dat2qma) -o OUT.qma [--profile full|pruned|micro] [--namespace NS] [--hint NS]
//      [--no-compress] [--no-derive] [--tree] INPUT...
//
// Inputs are streamed into the archive writer, the files of directories read a bounded way ahead;
// only the parsed setups and motion tables (and, at the end, the animations they reference) are held
// for the kinematics derivation. The output is written under a temporary name beside OUT and renamed
// into place on success only.
//
// Namespaces: a directory input gets resolve_namespace_hint(--namespace, its path, --hint); an
// archive input keeps its entries' namespaces; a --tree input takes them from its directories.
// Profiles prune content files (full keeps all); the core namespace ("quillmarsh/core": derived
// assets) is never pruned.
#include <fmt/format.h>

#include <map>

#include "atomic_output.hpp"
#include "commands.hpp"
#include "input_prefetch.hpp"
#include "pack_inputs.hpp"
#include "pack_kinematics.hpp"
#include "quillmarsh/dat/archive_verify.hpp"

namespace quillmarsh::cli {

namespace {

constexpr std::size_t PACK_WRITE_BUFFER_BYTES = std::size_t{1} << 20;

const std::map<std::string, tools::ConversionProfile> PROFILES = {
    {"full", tools::ConversionProfile::Full},
    {"pruned", tools::ConversionProfile::Pruned},
    {"micro", tools::ConversionProfile::Micro},
};

std::string_view profile_name(tools::ConversionProfile profile) {
  for (const auto& [name, value] : PROFILES) {
    if (value == profile) return name;
  }
  return "?";
}

tl::expected<PackInput, std::string> open_input(const std::filesystem::path& given, const PackOptions& options) {
  const std::filesystem::path path = without_trailing_separator(given);
  std::error_code ec;
  if (std::filesystem::is_directory(path, ec)) {
    if (options.tree) return list_tree_input(path);
    auto namespace_ = tools::resolve_namespace_hint(options.namespace_, path, options.hint);
    if (!namespace_) return tl::unexpected(namespace_.error().to_string());
    return list_directory_input(path, *namespace_);
  }
  if (!std::filesystem::exists(path, ec)) {
    return tl::unexpected(tools::ToolError(tools::ToolError::DatOpen{path, "no such file or directory"}).to_string());
  }
  return open_archive_input(path);
}

// Everything between opening the inputs and finishing the archive at `temp`.
class Packer {
 public:
  Packer(const PackOptions& options, const Globals& globals, dat::QmaStreamWriter& writer)
      : options_(options),
        writer_(writer),
        manifest_(tools::manifest_for_profile(options.profile)),
        progress_(globals, "pack", 0) {}

  tl::expected<void, std::string> run(std::vector<PackInput>& inputs, PackSummary& summary) {
    std::uint64_t total = 0;
    for (const auto& input : inputs) total += input.file_count();
    progress_.set_total(total);
    for (const auto& input : inputs) {
      summary.skipped_names += input.skipped;
      if (input.archive) {
        if (auto done = pack_archive_input(*input.archive, summary); !done) return done;
      } else {
        InputPrefetcher ahead(input.files);
        for (const InputFile& file : input.files) {
          auto bytes = ahead.next();
          if (divert_existing_asset(file.namespace_, file.id, &file)) continue;
          if (!bytes) return tl::unexpected(bytes.error().to_string());
          if (auto done = take(file.namespace_, file.id, file.type_id, std::move(*bytes), &file, summary); !done) {
            return done;
          }
        }
      }
    }
    if (!options_.no_derive) {
      auto emitted = gatherer_.emit(writer_, options_.output);
      if (!emitted) return tl::unexpected(emitted.error().to_string());
      summary.derived = emitted->derived;
      summary.kinematics_tables = emitted->motion_tables;
      summary.kinematics_setups = emitted->setups;
      ++summary.files_written;
    }
    progress_.finish();
    return {};
  }

 private:
  tl::expected<void, std::string> pack_archive_input(const dat::QmaReader& reader, PackSummary& summary) {
    std::string error;
    auto scanned =
        dat::scan_index_records(reader, 0, reader.header().entry_count, [&](std::uint32_t, const dat::QmaEntry& entry) {
          const std::string label(entry.namespace_.label());
          const FileLocation location = std::make_pair(&reader, entry);
          if (divert_existing_asset(label, entry.file_id, location)) return true;
          auto data = read_location(location, entry.file_id);
          if (!data) {
            error = data.error().to_string();
            return false;
          }
          auto done = take(label, entry.file_id, entry.type_id, std::move(*data), location, summary);
          if (!done) error = std::move(done.error());
          return done.has_value();
        });
    if (!scanned) return tl::unexpected(scanned.error().to_string());
    if (!error.empty()) return tl::unexpected(std::move(error));
    return {};
  }

  // An input's own kinematics asset is not copied when a new one is derived (see KinematicsGatherer).
  bool divert_existing_asset(std::string_view namespace_, std::uint32_t id, const FileLocation& location) {
    if (options_.no_derive || namespace_ != dat::CORE_NAMESPACE || id != tools::MOTION_KINEMATICS_FILE_ID) return false;
    gatherer_.observe_existing_asset(location);
    progress_.advance(1, 0);
    return true;
  }

  tl::expected<void, std::string> take(const std::string& namespace_, std::uint32_t id, std::uint32_t type_id,
                                       Bytes bytes, const FileLocation& location, PackSummary& summary) {
    ++summary.files_seen;
    summary.bytes_in += bytes.size();
    progress_.advance(1, bytes.size());
    if (!options_.no_derive) {
      if (auto seen = gatherer_.observe(namespace_, id, bytes, location); !seen) {
        return tl::unexpected(seen.error().to_string());
      }
    }
    if (!keep(namespace_, id, type_id)) {
      ++summary.pruned;
      return {};
    }
    if (auto added = writer_.add(namespace_, id, type_id, std::move(bytes)); !added) {
      return tl::unexpected(
          tools::ToolError(tools::ToolError::QmaWrite{options_.output, added.error().to_string()}).to_string());
    }
    ++summary.files_written;
    return {};
  }

  bool keep(std::string_view namespace_, std::uint32_t id, std::uint32_t type_id) const {
    if (!manifest_ || namespace_ == dat::CORE_NAMESPACE) return true;
    return manifest_->should_keep_entry(namespace_, id, static_cast<dat::DatFileType>(type_id));
  }

  const PackOptions& options_;
  dat::QmaStreamWriter& writer_;
  std::optional<dat::StripperManifest> manifest_;
  KinematicsGatherer gatherer_;
  Progress progress_;
};

int run_pack(const PackOptions& options, const Globals& globals) {
  auto summary = pack_archive(options, globals);
  if (!summary) return fail(summary.error());
  print_summary(globals, describe(*summary, options));
  return EXIT_OK;
}

}  // namespace

tl::expected<PackSummary, std::string> pack_archive(const PackOptions& options, const Globals& globals) {
  PackSummary summary;
  std::vector<PackInput> inputs;
  inputs.reserve(options.inputs.size());  // archive readers are referred to by address while packing
  for (const auto& path : options.inputs) {
    auto input = open_input(path, options);
    if (!input) return tl::unexpected(std::move(input.error()));
    inputs.push_back(std::move(*input));
  }
  summary.inputs = inputs.size();

  auto out = AtomicOutput::create(options.output);
  if (!out) return tl::unexpected(std::move(out.error()));
  auto writer = dat::QmaStreamWriter::create(out->temp_path());
  if (!writer) {
    return tl::unexpected(
        tools::ToolError(tools::ToolError::QmaWrite{options.output, writer.error().to_string()}).to_string());
  }
  writer->compress = !options.no_compress;
  // Blobs are written a megabyte at a time by the writer's own thread. Nothing is lost by deferring
  // writes: the archive is a temporary file until it is complete.
  if (auto buffered = writer->set_write_buffer_size(PACK_WRITE_BUFFER_BYTES); !buffered) {
    return tl::unexpected(buffered.error().to_string());
  }
  if (options.jobs > 1 && writer->compress) {
    // Entries are still written in input order: the archive is the same whatever the thread count.
    if (auto workers = writer->set_compression_workers(options.jobs); !workers) {
      return tl::unexpected(workers.error().to_string());
    }
  }
  Packer packer(options, globals, *writer);
  if (auto packed = packer.run(inputs, summary); !packed) return tl::unexpected(std::move(packed.error()));
  if (auto finished = std::move(*writer).finish(); !finished) {
    return tl::unexpected(
        tools::ToolError(tools::ToolError::QmaWrite{options.output, finished.error().to_string()}).to_string());
  }
  if (auto committed = out->commit(); !committed) return tl::unexpected(std::move(committed.error()));
  std::error_code ec;
  summary.bytes_out = std::filesystem::file_size(options.output, ec);
  return summary;
}

std::string describe(const PackSummary& s, const PackOptions& options) {
  std::string text =
      fmt::format("packed {} files from {} input{} into {} ({} read, {} written)", s.files_written, s.inputs,
                  s.inputs == 1 ? "" : "s", options.output.string(), human_bytes(s.bytes_in), human_bytes(s.bytes_out));
  if (s.skipped_names > 0) text += fmt::format("; skipped {} files not named as content ids", s.skipped_names);
  if (s.pruned > 0) text += fmt::format("; {} pruned by the {} profile", s.pruned, profile_name(options.profile));
  if (s.derived) {
    text += fmt::format("; motion kinematics derived from {} motion tables and {} setups", s.kinematics_tables,
                        s.kinematics_setups);
  } else if (!options.no_derive) {
    text += "; motion kinematics carried over from the input archive";
  }
  return text;
}

void add_pack_command(CLI::App& app, const Globals& globals, Runner& runner) {
  auto options = std::make_shared<PackOptions>();
  CLI::App* cmd = app.add_subcommand("pack", "Pack content directories, extracted trees or archives into one archive");
  cmd->alias("dat2qma");
  cmd->add_option("-o,--output", options->output, "The archive to write")->required();
  cmd->add_option_function<std::string>(
         "--profile", [options](const std::string& name) { options->profile = PROFILES.at(name); },
         "Pruning profile: full keeps every file, pruned what game logic needs, micro the essential tables")
      ->check(CLI::IsMember({"full", "pruned", "micro"}))
      ->default_str("full");
  auto* ns = cmd->add_option("--namespace", options->namespace_, "Namespace of every directory input")
                 ->check(CLI::Validator(
                     [](std::string& label) {
                       auto valid = dat::ResourceNamespace::create(label);
                       return valid ? std::string() : valid.error().to_string();
                     },
                     "LABEL"));
  auto* hint = cmd->add_option("--hint", options->hint, "Namespace of directory inputs when --namespace is not given");
  cmd->add_flag("--no-compress", options->no_compress, "Store every entry uncompressed");
  cmd->add_option("-j,--jobs", options->jobs, "Compress on this many threads (the archive is the same)")
      ->check(CLI::Range(1U, 256U))
      ->default_str("1");
  cmd->add_flag("--no-derive", options->no_derive, "Do not derive the motion kinematics asset");
  cmd->add_flag("--tree", options->tree, "Directory inputs are trees written by extract (DIR/<namespace>/<ID>)")
      ->excludes(ns)
      ->excludes(hint);
  cmd->add_option("INPUT", options->inputs, "Content directories, extracted trees (--tree) or .qma archives")
      ->required();
  cmd->callback([options, &globals, &runner] { runner = [options, &globals] { return run_pack(*options, globals); }; });
}

}  // namespace quillmarsh::cli
