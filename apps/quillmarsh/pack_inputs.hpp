// The inputs of `pack`: directories of content files, extracted trees and existing archives, listed
// up front (names and index records only) so that their contents can be streamed one file at a time.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <tl/expected.hpp>
#include <vector>

#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/tools/error.hpp"

namespace quillmarsh::cli {

// One content file of a directory or tree input.
struct InputFile {
  std::string namespace_;
  std::uint32_t id = 0;
  std::uint32_t type_id = 0;
  std::filesystem::path path;
};

struct PackInput {
  enum class Kind { Directory, Tree, Archive };

  std::filesystem::path path;
  Kind kind = Kind::Directory;
  std::vector<InputFile> files;  // Directory and Tree, sorted by (namespace, id)
  std::uint64_t skipped = 0;     // Directory and Tree: entries whose names are not content file names
  std::optional<dat::QmaReader> archive;

  std::uint64_t file_count() const { return archive ? archive->header().entry_count : files.size(); }
};

// A directory input: each regular file named by eight hex digits (plus an optional extension) directly
// inside `dir` is the file with that id, in `namespace_`, with its kind code as type id.
tl::expected<PackInput, std::string> list_directory_input(const std::filesystem::path& dir,
                                                          const std::string& namespace_);
// An extracted tree (see extracted_tree.hpp): namespaces from the directories, type ids from the manifest.
tl::expected<PackInput, std::string> list_tree_input(const std::filesystem::path& dir);
// An existing archive, opened with every check of the reader.
tl::expected<PackInput, std::string> open_archive_input(const std::filesystem::path& path);

// The whole content of one input file. Failures are DatRead naming the file's id.
tools::ToolResult<Bytes> read_input_file(const InputFile& file);

}  // namespace quillmarsh::cli
