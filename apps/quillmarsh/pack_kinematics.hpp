// Gathers what the motion kinematics derivation needs while `pack` streams its inputs: the parsed
// setups (0x02) and motion tables (0x09) of the portal namespace, and only the location of each
// animation (0x03), so that afterwards just the animations the tables reference are read and parsed.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <unordered_map>
#include <variant>
#include <vector>

#include "pack_inputs.hpp"
#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/tools/dat2qma.hpp"

namespace quillmarsh::cli {

// Where a file's bytes can be read again: an input file on disk, or an entry of an open archive. Both
// are pointers into the listed inputs, which outlive the packing: a location costs no copy of a path.
using FileLocation = std::variant<const InputFile*, std::pair<const dat::QmaReader*, dat::QmaEntry>>;

class KinematicsGatherer {
 public:
  struct Result {
    bool derived = false;  // false: an input's existing asset was carried over
    std::size_t motion_tables = 0;
    std::size_t setups = 0;
    std::size_t animations = 0;
  };

  // Looks at one input file. A setup or motion table of the portal namespace that does not decode
  // fails with DatRead naming its id.
  tools::ToolResult<void> observe(std::string_view namespace_, std::uint32_t id, ByteView bytes,
                                  const FileLocation& location);
  // An input archive's own kinematics asset: replaced by the derived one, unless the inputs hold no
  // setups or motion tables to derive from, in which case it is carried over unchanged.
  void observe_existing_asset(const FileLocation& location) { existing_asset_ = location; }

  // Derives the asset and adds it to `writer` (or carries the existing one over).
  tools::ToolResult<Result> emit(dat::QmaStreamWriter& writer, const std::filesystem::path& archive_path);

 private:
  std::vector<dat::SetupModel> setups_;
  std::vector<dat::MotionTable> motion_tables_;
  std::unordered_map<std::uint32_t, FileLocation> animations_;
  std::optional<FileLocation> existing_asset_;
};

// The bytes at a location; a failure is DatRead naming `id`.
tools::ToolResult<Bytes> read_location(const FileLocation& location, std::uint32_t id);

}  // namespace quillmarsh::cli
