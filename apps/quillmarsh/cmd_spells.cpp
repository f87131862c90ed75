// spells --table TABLE.json [--preset base|minimal] [--fields name,power,...] [--school K]...
//        [--category C]... [-o OUT.json]
//
// --school takes the export's school selector: K stands for school code K + 1 (--school 0 selects the
// spells of school 1). Without --school or --category, that axis is not filtered.
#include <fmt/format.h>

#include "atomic_output.hpp"
#include "commands.hpp"
#include "quillmarsh/tools/spell_export.hpp"
#include "quillmarsh/tools/spell_table_json.hpp"

namespace quillmarsh::cli {

namespace {

std::string field_keys_list() {
  std::string keys;
  for (std::size_t i = 0; i < tools::SPELL_EXPORT_FIELD_COUNT; ++i) {
    if (!keys.empty()) keys += ", ";
    keys += tools::field_key(static_cast<tools::SpellExportField>(i));
  }
  return keys;
}

int run_spells(const SpellsOptions& options, const Globals& globals) {
  auto document = export_spell_document(options);
  if (!document) return fail(document.error());
  if (options.output) {
    auto written = write_file_atomically(*options.output, document->first);
    if (!written) return fail(written.error());
    print_summary(globals, fmt::format("exported {} spells to {}", document->second, options.output->string()));
    return EXIT_OK;
  }
  fmt::print("{}", document->first);
  return std::fflush(stdout) == 0 ? EXIT_OK : fail("cannot write to standard output");
}

}  // namespace

tl::expected<std::pair<std::string, std::size_t>, std::string> export_spell_document(const SpellsOptions& options) {
  tools::SpellExportRequest request;
  request.preset = options.preset == "minimal" ? tools::SpellExportPreset::Minimal : tools::SpellExportPreset::Base;
  for (const std::string& key : options.fields) {
    const auto field = tools::field_from_key(key);
    if (!field) return tl::unexpected(fmt::format("unknown spell field '{}' (fields: {})", key, field_keys_list()));
    request.fields.push_back(*field);
  }
  for (const std::uint32_t k : options.schools) request.schools.push_back(static_cast<std::uint8_t>(k));
  request.categories = options.categories;

  auto text = read_whole_file(options.table);
  if (!text) return tl::unexpected(std::move(text.error()));
  auto table = tools::spell_table_from_json(*text);
  if (!table) return tl::unexpected(fmt::format("{}: {}", options.table.string(), table.error().to_string()));
  const tools::SpellExportFile file = tools::export_spells(*table, request);
  return std::make_pair(dump_json(tools::to_json(file)) + "\n", file.spells.size());
}

void add_spells_command(CLI::App& app, const Globals& globals, Runner& runner) {
  auto options = std::make_shared<SpellsOptions>();
  CLI::App* cmd = app.add_subcommand("spells", "Export spell records as one JSON document");
  cmd->add_option("--table", options->table, "Spell table in the JSON interchange form")->required();
  cmd->add_option("--preset", options->preset, "Field preset when --fields is not given")
      ->check(CLI::IsMember({"base", "minimal"}))
      ->default_str("base");
  cmd->add_option("--fields", options->fields, "Comma-separated fields: " + field_keys_list())
      ->delimiter(',')
      ->check(CLI::Validator(
          [](std::string& key) {
            return tools::field_from_key(key) ? std::string() : "unknown spell field '" + key + "'";
          },
          "FIELD"));
  cmd->add_option("--school", options->schools,
                  "School selector K (repeatable): K stands for school code K+1, so 0 selects school 1")
      ->check(CLI::Range(0, 255));
  cmd->add_option("--category", options->categories, "Category code C (repeatable)");
  cmd->add_option("-o,--output", options->output, "Write the document here (atomically) instead of stdout");
  cmd->callback(
      [options, &globals, &runner] { runner = [options, &globals] { return run_spells(*options, globals); }; });
}

}  // namespace quillmarsh::cli
