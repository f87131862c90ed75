// Helpers of the end-to-end tests: run the built quillmarsh program, generate content, read archives.
#pragma once

#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <tuple>
#include <vector>

#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/archive_verify.hpp"
#include "quillmarsh/tools/synthetic_content.hpp"
#include "test_support.hpp"

#ifndef QUILLMARSH_EXE
#error "QUILLMARSH_EXE must name the built quillmarsh program"
#endif

namespace quillmarsh::testing {

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
};

inline std::string slurp(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void spit(const std::filesystem::path& path, std::string_view text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::string shell_quote(const std::string& arg) {
  std::string out = "'";
  for (const char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// Runs the program with `args` in `cwd`; stdout and stderr are captured separately.
inline Outcome quillmarsh(const std::vector<std::string>& args, const std::filesystem::path& cwd) {
  const std::filesystem::path out = cwd / ".run-stdout";
  const std::filesystem::path err = cwd / ".run-stderr";
  // Built by appending: g++ 12 at -O3 warns falsely (-Wrestrict) on `"literal" + std::string&&`.
  std::string command = "cd ";
  command += shell_quote(cwd.string());
  command += " && ";
  command += shell_quote(QUILLMARSH_EXE);
  for (const auto& a : args) {
    command += ' ';
    command += shell_quote(a);
  }
  command += " >";
  command += shell_quote(out.string());
  command += " 2>";
  command += shell_quote(err.string());
  command += " </dev/null";
  const int status = std::system(command.c_str());
  Outcome run;
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.out = slurp(out);
  run.err = slurp(err);
  std::filesystem::remove(out);
  std::filesystem::remove(err);
  return run;
}

// A temporary directory with the default synthetic content written to <dir>/content.
struct World {
  TempDir dir;
  tools::SyntheticContent content = tools::generate_synthetic_content({});
  tools::SyntheticContentFiles files;

  World() {
    auto written = tools::write_synthetic_content(content, dir / "content");
    if (written) files = *written;
  }
  Outcome run(const std::vector<std::string>& args) const { return quillmarsh(args, dir.path()); }
};

// Every entry of an archive: (namespace, id) -> (type id, bytes).
using Entries = std::map<std::pair<std::string, std::uint32_t>, std::pair<std::uint32_t, Bytes>>;
inline Entries read_entries(const std::filesystem::path& archive) {
  Entries entries;
  auto reader = dat::QmaReader::open(archive);
  if (!reader) return entries;
  (void)dat::scan_index_records(*reader, 0, reader->header().entry_count, [&](std::uint32_t, const dat::QmaEntry& e) {
    auto data = reader->read_entry_data(e);
    entries[{std::string(e.namespace_.label()), e.file_id}] = {e.type_id, data ? *data : Bytes{}};
    return true;
  });
  return entries;
}

// Names in a directory (not recursive), for checking that no stray files were left behind.
inline std::vector<std::string> names_in(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace quillmarsh::testing
