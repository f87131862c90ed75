// ls ARCHIVE [--namespace NS] [--json]: one row per index entry, then totals.
#include <fmt/format.h>

#include <algorithm>

#include "commands.hpp"
#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/archive_verify.hpp"

namespace quillmarsh::cli {

namespace {

struct LsOptions {
  std::filesystem::path archive;
  std::optional<std::string> namespace_;
  bool json = false;
};

nlohmann::ordered_json entry_json(const dat::QmaEntry& e) {
  nlohmann::ordered_json row;
  row["namespace"] = dat::printable_namespace(e.namespace_.bytes());
  row["id"] = hex_id(e.file_id);
  row["type_id"] = hex_id(e.type_id);
  row["size"] = e.size;
  row["stored_size"] = e.comp_size;
  row["compressed"] = e.compressed();
  return row;
}

}  // namespace

tl::expected<ListTotals, std::string> list_archive(const std::filesystem::path& archive,
                                                   const std::optional<std::string>& namespace_, bool json,
                                                   std::FILE* out) {
  auto reader = dat::QmaReader::open(archive);
  if (!reader)
    return tl::unexpected(fmt::format("cannot open archive {}: {}", archive.string(), reader.error().to_string()));

  // The span to list: the whole index, or the one namespace's span (empty when it has none).
  std::uint32_t first = 0;
  std::uint32_t count = reader->header().entry_count;
  if (namespace_) {
    auto ns = dat::ResourceNamespace::create(*namespace_);
    if (!ns) return tl::unexpected(ns.error().to_string());
    const auto spans = reader->namespaces();
    const auto it = std::find_if(spans.begin(), spans.end(), [&](const auto& s) { return s.namespace_ == *ns; });
    first = it == spans.end() ? 0 : it->start_index;
    count = it == spans.end() ? 0 : it->entry_count;
  }

  ListTotals totals;
  if (json) {
    fmt::print(out, "{{\n  \"archive\": {},\n  \"entries\": [", dump_json(archive.string(), -1));
  } else {
    fmt::print(out, "{:<20} {:<10} {:<10} {:>10} {:>10} {}\n", "NAMESPACE", "ID", "TYPE", "SIZE", "STORED",
               "COMPRESSED");
  }
  auto scanned = dat::scan_index_records(*reader, first, count, [&](std::uint32_t, const dat::QmaEntry& e) {
    if (json) {
      fmt::print(out, "{}\n    {}", totals.entries == 0 ? "" : ",", dump_json(entry_json(e), -1));
    } else {
      fmt::print(out, "{:<20} {:<10} {:<10} {:>10} {:>10} {}\n", dat::printable_namespace(e.namespace_.bytes()),
                 hex_id(e.file_id), hex_id(e.type_id), e.size, e.comp_size, e.compressed() ? "yes" : "no");
    }
    ++totals.entries;
    totals.size += e.size;
    totals.stored_size += e.comp_size;
    totals.compressed += e.compressed() ? 1 : 0;
    return true;
  });
  if (!scanned)
    return tl::unexpected(
        fmt::format("cannot read the index of {}: {}", archive.string(), scanned.error().to_string()));

  if (json) {
    nlohmann::ordered_json t;
    t["entries"] = totals.entries;
    t["size"] = totals.size;
    t["stored_size"] = totals.stored_size;
    t["compressed"] = totals.compressed;
    fmt::print(out, "{}],\n  \"totals\": {}\n}}\n", totals.entries == 0 ? "" : "\n  ", dump_json(t, -1));
  } else {
    fmt::print(out, "{} entries, {} bytes, {} bytes stored, {} compressed\n", totals.entries, totals.size,
               totals.stored_size, totals.compressed);
  }
  return totals;
}

void add_ls_command(CLI::App& app, const Globals& /*globals*/, Runner& runner) {
  auto options = std::make_shared<LsOptions>();
  CLI::App* cmd = app.add_subcommand("ls", "List the entries of an archive, then totals");
  cmd->add_option("ARCHIVE", options->archive, "The .qma archive")->required();
  cmd->add_option("--namespace", options->namespace_, "Only the entries of this namespace");
  cmd->add_flag("--json", options->json, "One JSON document: entries and totals");
  cmd->callback([options, &runner] {
    runner = [options] {
      auto listed = list_archive(options->archive, options->namespace_, options->json, stdout);
      if (!listed) return fail(listed.error());
      return std::fflush(stdout) == 0 ? EXIT_OK : fail("cannot write to standard output");
    };
  });
}

}  // namespace quillmarsh::cli
