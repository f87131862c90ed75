// cat ARCHIVE NAMESPACE ID: one file's bytes on standard output.
#include <fmt/format.h>

#include <cstdio>

#include "commands.hpp"
#include "quillmarsh/dat/archive.hpp"

namespace quillmarsh::cli {

namespace {

struct CatOptions {
  std::filesystem::path archive;
  std::string namespace_;
  std::string id;
};

int run_cat(const CatOptions& options) {
  const auto id = parse_id(options.id);
  if (!id) {
    print_error(id.error());
    return EXIT_USAGE;
  }
  auto reader = dat::QmaReader::open(options.archive);
  if (!reader)
    return fail(fmt::format("cannot open archive {}: {}", options.archive.string(), reader.error().to_string()));
  auto bytes = reader->get_file_in_namespace(options.namespace_, *id);
  if (!bytes) return fail(fmt::format("{}:{}: {}", options.namespace_, hex_id(*id), bytes.error().to_string()));
  if (std::fwrite(bytes->data(), 1, bytes->size(), stdout) != bytes->size() || std::fflush(stdout) != 0) {
    return fail("cannot write to standard output");
  }
  return EXIT_OK;
}

}  // namespace

void add_cat_command(CLI::App& app, const Globals& /*globals*/, Runner& runner) {
  auto options = std::make_shared<CatOptions>();
  CLI::App* cmd = app.add_subcommand("cat", "Write one file's bytes to standard output");
  cmd->add_option("ARCHIVE", options->archive, "The .qma archive")->required();
  cmd->add_option("NAMESPACE", options->namespace_, "Namespace label, e.g. eor/portal")->required();
  cmd->add_option("ID", options->id, "File id in hex, e.g. 0x0E000002")->required();
  cmd->callback([options, &runner] { runner = [options] { return run_cat(*options); }; });
}

}  // namespace quillmarsh::cli
