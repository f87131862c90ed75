// shard -o BOOT.qma [--spawn 0xA9B4] [--plan] [--json] BUNDLE.qma...
//
// Plans the boot keep set over the bundle archives read lazily (only the files the plan touches are
// read), then writes the planned files the bundle has, plus every file of its core namespace (the
// derived assets, which the plan does not name). With several bundles, the first that has a file
// provides it.
#include <fmt/format.h>

#include <algorithm>
#include <set>

#include "atomic_output.hpp"
#include "commands.hpp"
#include "quillmarsh/dat/archive_source.hpp"
#include "quillmarsh/dat/archive_verify.hpp"
#include "quillmarsh/tools/dat_shard.hpp"

namespace quillmarsh::cli {

namespace {

using FileKey = std::pair<std::string, std::uint32_t>;

struct ShardCommand {
  ShardOptions options;
  std::string spawn_text = "0xA9B4";
};

// The reader that holds (namespace, id): the first bundle that has it. Damage in a bundle that has
// the entry is an error, not a reason to look further.
tl::expected<std::optional<std::pair<const dat::QmaReader*, dat::QmaEntry>>, std::string> locate(
    const std::vector<dat::QmaReader>& readers, const FileKey& key) {
  for (const auto& reader : readers) {
    auto entry = reader.find_entry_in_namespace(key.first, key.second);
    if (entry) return std::make_optional(std::make_pair(&reader, *entry));
    if (entry.error().get_if<dat::DatError::NotFound>() == nullptr) {
      return tl::unexpected(fmt::format("{}:{}: {}", key.first, hex_id(key.second), entry.error().to_string()));
    }
  }
  return std::nullopt;
}

nlohmann::ordered_json keys_json(const std::vector<FileKey>& keys) {
  auto list = nlohmann::ordered_json::array();
  for (const auto& [ns, id] : keys) list.push_back(nlohmann::ordered_json{{"namespace", ns}, {"id", hex_id(id)}});
  return list;
}

int run_shard(ShardCommand& command, const Globals& globals) {
  ShardOptions& options = command.options;
  const auto spawn = tools::parse_hex_u32(command.spawn_text);
  if (!spawn) {
    print_error(spawn.error());
    return EXIT_USAGE;
  }
  options.spawn = *spawn;
  if (!options.plan_only && !options.output) {
    print_error("shard needs -o BOOT.qma (or --plan to print the plan only)");
    return EXIT_USAGE;
  }
  auto report = shard_bundle(options, globals);
  if (!report) return fail(report.error());

  if (options.json) {
    nlohmann::ordered_json doc;
    doc["spawn"] = fmt::format("0x{:04X}", report->spawn);
    doc["output"] =
        options.plan_only ? nlohmann::ordered_json(nullptr) : nlohmann::ordered_json(options.output->string());
    doc["planned"] = report->planned;
    doc["present"] = keys_json(report->written);
    doc["missing"] = keys_json(report->missing);
    doc["core"] = keys_json(report->core);
    fmt::print("{}\n", dump_json(doc));
  } else if (options.plan_only) {
    std::vector<std::pair<FileKey, bool>> rows;
    for (const auto& k : report->written) rows.emplace_back(k, true);
    for (const auto& k : report->missing) rows.emplace_back(k, false);
    std::sort(rows.begin(), rows.end());
    for (const auto& [key, present] : rows) {
      fmt::print("{:<12} {} {}\n", key.first, hex_id(key.second), present ? "present" : "missing");
    }
    fmt::print("{} planned, {} present, {} missing\n", report->planned, report->written.size(), report->missing.size());
  } else {
    for (const auto& [ns, id] : report->missing) fmt::print("missing {} {}\n", ns, hex_id(id));
    fmt::print("{}: {} planned files written, {} missing from the bundle, {} core file{}\n", options.output->string(),
               report->written.size(), report->missing.size(), report->core.size(),
               report->core.size() == 1 ? "" : "s");
  }
  return std::fflush(stdout) == 0 ? EXIT_OK : fail("cannot write to standard output");
}

}  // namespace

tl::expected<ShardReport, std::string> shard_bundle(const ShardOptions& options, const Globals& globals) {
  std::vector<dat::QmaReader> readers;
  for (const auto& path : options.bundles) {
    auto reader = dat::QmaReader::open(path);
    if (!reader)
      return tl::unexpected(fmt::format("cannot open archive {}: {}", path.string(), reader.error().to_string()));
    readers.push_back(std::move(*reader));
  }
  const dat::MultiArchiveSource source(std::move(readers));

  ShardReport report;
  report.spawn = options.spawn & 0xFFFF;
  const dat::KeepSet keep = tools::compute_boot_keep_set(source, options.spawn);
  std::vector<FileKey> planned;
  planned.reserve(keep.size());
  for (const auto& id : keep) planned.emplace_back(id.namespace_, id.file_id);
  std::sort(planned.begin(), planned.end());
  report.planned = planned.size();

  // Where each planned file lives, and the core-namespace entries of every bundle (first one wins).
  std::vector<std::pair<const dat::QmaReader*, dat::QmaEntry>> copies;
  for (const auto& key : planned) {
    auto found = locate(source.readers(), key);
    if (!found) return tl::unexpected(std::move(found.error()));
    if (*found) {
      report.written.push_back(key);
      copies.push_back(**found);
    } else {
      report.missing.push_back(key);
    }
  }
  std::set<std::uint32_t> core_ids;
  for (const auto& reader : source.readers()) {
    for (const auto& span : reader.namespaces()) {
      if (span.namespace_.label() != dat::CORE_NAMESPACE) continue;
      auto scanned = dat::scan_index_records(
          reader, span.start_index, span.entry_count, [&](std::uint32_t, const dat::QmaEntry& entry) {
            if (core_ids.insert(entry.file_id).second) {
              report.core.emplace_back(std::string(dat::CORE_NAMESPACE), entry.file_id);
              copies.emplace_back(&reader, entry);
            }
            return true;
          });
      if (!scanned) return tl::unexpected(scanned.error().to_string());
    }
  }
  if (options.plan_only) return report;

  auto out = AtomicOutput::create(*options.output);
  if (!out) return tl::unexpected(std::move(out.error()));
  auto writer = dat::QmaStreamWriter::create(out->temp_path());
  if (!writer)
    return tl::unexpected(fmt::format("cannot create {}: {}", options.output->string(), writer.error().to_string()));
  Progress progress(globals, "shard", copies.size());
  for (const auto& [reader, entry] : copies) {
    const std::string label(entry.namespace_.label());
    auto data = reader->read_entry_data(entry);
    if (!data) return tl::unexpected(fmt::format("{}:{}: {}", label, hex_id(entry.file_id), data.error().to_string()));
    const std::size_t size = data->size();
    auto added = writer->add(label, entry.file_id, entry.type_id, std::move(*data));
    if (!added)
      return tl::unexpected(fmt::format("cannot write {}: {}", options.output->string(), added.error().to_string()));
    progress.advance(1, size);
  }
  auto finished = std::move(*writer).finish();
  if (!finished)
    return tl::unexpected(fmt::format("cannot write {}: {}", options.output->string(), finished.error().to_string()));
  auto committed = out->commit();
  if (!committed) return tl::unexpected(std::move(committed.error()));
  progress.finish();
  std::error_code ec;
  report.bytes_out = std::filesystem::file_size(*options.output, ec);
  return report;
}

void add_shard_command(CLI::App& app, const Globals& globals, Runner& runner) {
  auto command = std::make_shared<ShardCommand>();
  CLI::App* cmd =
      app.add_subcommand("shard", "Write the boot shard of a bundle: what a client needs to start at a spawn");
  cmd->add_option("-o,--output", command->options.output, "The boot shard archive to write");
  cmd->add_option("--spawn", command->spawn_text, "Spawn landblock in hex (0xXXYY)")->default_str("0xA9B4");
  cmd->add_flag("--plan", command->options.plan_only, "Print the plan (present and missing files) and write nothing");
  cmd->add_flag("--json", command->options.json, "One JSON document");
  cmd->add_option("BUNDLE", command->options.bundles, "Bundle archive(s); the first that has a file provides it")
      ->required()
      ->check(CLI::ExistingFile);
  cmd->callback(
      [command, &globals, &runner] { runner = [command, &globals] { return run_shard(*command, globals); }; });
}

}  // namespace quillmarsh::cli
