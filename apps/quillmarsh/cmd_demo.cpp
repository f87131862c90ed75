// demo [DIR]: the main job on a built-in default. Generates the synthetic content set under DIR, then
// packs it (full and micro), verifies and lists the bundle, writes its boot shard and exports the
// spells, and says what it made and where.
#include <fmt/format.h>

#include <cstdio>

#include "commands.hpp"
#include "quillmarsh/tools/synthetic_content.hpp"

namespace quillmarsh::cli {

namespace {

struct DemoOptions {
  std::filesystem::path dir = "out/demo";
  std::uint32_t scale = 1;
  std::uint64_t seed = 0x5EED;
};

int run_demo(const DemoOptions& options, const Globals& globals) {
  const Globals quiet{true};  // the steps' own summaries are replaced by the lines below
  const std::filesystem::path& dir = options.dir;
  const std::filesystem::path content_dir = dir / "content";

  tools::SyntheticContentOptions generate;
  generate.seed = options.seed;
  generate.scale = options.scale;
  const tools::SyntheticContent content = tools::generate_synthetic_content(generate);
  auto files = tools::write_synthetic_content(content, content_dir);
  if (!files) return fail(files.error());
  fmt::print(
      "generated  {}: {} portal files, {} cell files (the 3 x 3 landblocks around 0xA9B4 and more), "
      "a spell table of {} spells\n",
      content_dir.string(), content.portal.size(), content.cell.size(), content.spells.spells.size());

  PackOptions pack;
  pack.output = dir / "bundle.qma";
  pack.inputs = {files->portal_dir, files->cell_dir};
  auto packed = pack_archive(pack, quiet);
  if (!packed) return fail(packed.error());
  fmt::print(
      "pack       {}: {} entries, {} (eor/portal, eor/cell and the derived motion kinematics in "
      "quillmarsh/core: {} motion tables, {} setups)\n",
      pack.output.string(), packed->files_written, human_bytes(packed->bytes_out), packed->kinematics_tables,
      packed->kinematics_setups);

  PackOptions micro = pack;
  micro.output = dir / "micro.qma";
  micro.profile = tools::ConversionProfile::Micro;
  auto packed_micro = pack_archive(micro, quiet);
  if (!packed_micro) return fail(packed_micro.error());
  fmt::print("pack       {}: micro profile, {} entries (the essential tables and the kinematics), {}\n",
             micro.output.string(), packed_micro->files_written, human_bytes(packed_micro->bytes_out));

  const VerifyReport verified = verify_file(pack.output);
  if (!verified.open_error.empty()) return fail(fmt::format("{}: {}", pack.output.string(), verified.open_error));
  for (const auto& problem : verified.problems) print_error(problem);
  if (!verified.problems.empty())
    return fail(fmt::format("{}: {} problems", pack.output.string(), verified.problems.size()));
  fmt::print("verify     {}: ok, {} entries checked\n", pack.output.string(), verified.entries);

  const std::filesystem::path listing = dir / "bundle-ls.txt";
  std::FILE* out = std::fopen(listing.c_str(), "w");
  if (out == nullptr) return fail(fmt::format("cannot write {}", listing.string()));
  auto listed = list_archive(pack.output, std::nullopt, false, out);
  const bool closed = std::fclose(out) == 0;
  if (!listed) return fail(listed.error());
  if (!closed) return fail(fmt::format("cannot write {}", listing.string()));
  fmt::print("ls         {}: {} entries, {} bytes stored for {} bytes of content, {} compressed\n", listing.string(),
             listed->entries, listed->stored_size, listed->size, listed->compressed);

  ShardOptions shard;
  shard.output = dir / "boot.qma";
  shard.bundles = {pack.output};
  auto sharded = shard_bundle(shard, quiet);
  if (!sharded) return fail(sharded.error());
  fmt::print("shard      {}: {} of {} planned files for spawn 0xA9B4 ({} not in the bundle), plus {} core file{}\n",
             shard.output->string(), sharded->written.size(), sharded->planned, sharded->missing.size(),
             sharded->core.size(), sharded->core.size() == 1 ? "" : "s");

  SpellsOptions spells;
  spells.table = files->spells_json;
  spells.preset = "minimal";
  auto exported = export_spell_document(spells);
  if (!exported) return fail(exported.error());
  const std::filesystem::path spells_out = dir / "spells-export.json";
  std::FILE* spells_file = std::fopen(spells_out.c_str(), "w");
  if (spells_file == nullptr) return fail(fmt::format("cannot write {}", spells_out.string()));
  const bool spells_written = std::fputs(exported->first.c_str(), spells_file) >= 0;
  if (std::fclose(spells_file) != 0 || !spells_written)
    return fail(fmt::format("cannot write {}", spells_out.string()));
  fmt::print("spells     {}: {} spells, minimal preset\n", spells_out.string(), exported->second);

  print_summary(globals, fmt::format("demo finished: everything is in {}", dir.string()));
  return EXIT_OK;
}

}  // namespace

void add_demo_command(CLI::App& app, const Globals& globals, Runner& runner) {
  auto options = std::make_shared<DemoOptions>();
  CLI::App* cmd = app.add_subcommand("demo",
                                     "Generate a synthetic content set and run pack, verify, ls, shard and "
                                     "spells on it");
  cmd->add_option("DIR", options->dir, "Where to put everything")->default_str("out/demo");
  cmd->add_option("--scale", options->scale, "Size of the content set (1: about 250 files)")
      ->check(CLI::Range(1, 1000))
      ->default_str("1");
  cmd->add_option("--seed", options->seed, "Seed of the generator")->default_str("24301");
  cmd->callback([options, &globals, &runner] { runner = [options, &globals] { return run_demo(*options, globals); }; });
}

}  // namespace quillmarsh::cli
