// The quillmarsh program: subcommands in the style of git, each in its own cmd_*.cpp.
//
// Exit codes: 0 success, 1 failure (or problems found), 2 usage error.
#include <CLI/CLI.hpp>
#include <exception>

#include "cli_support.hpp"
#include "commands.hpp"

#ifndef QUILLMARSH_VERSION
#define QUILLMARSH_VERSION "0"
#endif

int main(int argc, char** argv) {
  using namespace quillmarsh::cli;
  Globals globals;
  Runner runner;

  CLI::App app{"quillmarsh: pack, inspect, verify, shard and export the content files of the game client.",
               "quillmarsh"};
  app.set_version_flag("--version", std::string("quillmarsh ") + QUILLMARSH_VERSION);
  app.add_flag("-q,--quiet", globals.quiet, "No progress line and no summary on stderr");
  app.fallthrough();  // --quiet is accepted after the subcommand too
  app.require_subcommand(1);

  add_pack_command(app, globals, runner);
  add_ls_command(app, globals, runner);
  add_cat_command(app, globals, runner);
  add_extract_command(app, globals, runner);
  add_verify_command(app, globals, runner);
  add_shard_command(app, globals, runner);
  add_spells_command(app, globals, runner);
  add_inspect_command(app, globals, runner);
  add_demo_command(app, globals, runner);

  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);  // --help, --version
    print_error(e.what());
    print_note("run 'quillmarsh --help' or 'quillmarsh <command> --help' for usage");
    return EXIT_USAGE;
  }
  if (!runner) return EXIT_USAGE;
  try {
    return runner();
  } catch (const std::exception& e) {  // a dependency that throws (allocation, JSON, filesystem)
    return fail(e.what());
  }
}
