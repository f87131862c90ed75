// verify ARCHIVE [--json]: the reader's open checks, then every invariant open does not check.
#include <fmt/format.h>

#include "commands.hpp"
#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/archive_verify.hpp"

namespace quillmarsh::cli {

namespace {

struct VerifyOptions {
  std::filesystem::path archive;
  bool json = false;
};

nlohmann::ordered_json problem_json(const dat::ArchiveProblem& p) {
  nlohmann::ordered_json j;
  j["index"] = p.index_position;
  j["namespace"] = p.namespace_ ? nlohmann::ordered_json(*p.namespace_) : nlohmann::ordered_json(nullptr);
  j["id"] = p.namespace_ ? nlohmann::ordered_json(hex_id(p.file_id)) : nlohmann::ordered_json(nullptr);
  j["message"] = p.message;
  return j;
}

int run_verify(const VerifyOptions& options, const Globals& globals) {
  auto reader = dat::QmaReader::open(options.archive);
  if (!reader) {
    const std::string text = reader.error().to_string();
    if (options.json) {
      nlohmann::ordered_json doc;
      doc["archive"] = options.archive.string();
      doc["ok"] = false;
      doc["open_error"] = text;
      doc["problems"] = nlohmann::ordered_json::array();
      fmt::print("{}\n", dump_json(doc));
    }
    return fail(fmt::format("{}: {}", options.archive.string(), text));
  }
  const std::uint32_t total = reader->header().entry_count;
  Progress progress(globals, "verify", total);
  std::uint32_t last = 0;
  const auto problems = dat::verify_archive(*reader, [&](std::uint32_t done, std::uint32_t) {
    progress.advance(done - last, std::uint64_t{done - last} * dat::QMA_ENTRY_SIZE);
    last = done;
  });
  progress.finish();

  if (options.json) {
    nlohmann::ordered_json doc;
    doc["archive"] = options.archive.string();
    doc["ok"] = problems.empty();
    doc["entries"] = total;
    doc["problems"] = nlohmann::ordered_json::array();
    for (const auto& p : problems) doc["problems"].push_back(problem_json(p));
    fmt::print("{}\n", dump_json(doc));
  } else {
    for (const auto& p : problems) fmt::print("{}\n", p.to_string());
    if (problems.empty()) fmt::print("{}: ok, {} entries\n", options.archive.string(), total);
  }
  if (!problems.empty()) {
    return fail(fmt::format("{}: {} problem{} found in {} entries", options.archive.string(), problems.size(),
                            problems.size() == 1 ? "" : "s", total));
  }
  return EXIT_OK;
}

}  // namespace

VerifyReport verify_file(const std::filesystem::path& archive) {
  VerifyReport report;
  auto reader = dat::QmaReader::open(archive);
  if (!reader) {
    report.open_error = reader.error().to_string();
    return report;
  }
  report.entries = reader->header().entry_count;
  for (const auto& p : dat::verify_archive(*reader)) report.problems.push_back(p.to_string());
  return report;
}

void add_verify_command(CLI::App& app, const Globals& globals, Runner& runner) {
  auto options = std::make_shared<VerifyOptions>();
  CLI::App* cmd = app.add_subcommand("verify", "Check every invariant of an archive; exit 1 when any is broken");
  cmd->add_option("ARCHIVE", options->archive, "The .qma archive")->required();
  cmd->add_flag("--json", options->json, "One JSON document with every problem");
  cmd->callback(
      [options, &globals, &runner] { runner = [options, &globals] { return run_verify(*options, globals); }; });
}

}  // namespace quillmarsh::cli
