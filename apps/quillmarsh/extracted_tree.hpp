// The extracted tree: what `extract` writes and `pack --tree` reads back.
//
//   DIR/<namespace label>/<ID>      one file per entry; the label's '/' separate directories, ID is the
//                                   file id as eight upper-case hex digits ("eor/portal/0E000002")
//   DIR/.quillmarsh-types.json      the entries whose type id is not the top byte of their id:
//     {"format": "quillmarsh-extracted-tree", "version": 1,
//      "type_ids": [{"namespace": "quillmarsh/core", "id": "0x4D4F544B", "type_id": "0xFFFFFF01"}, ...]}
//
// Together they reproduce every entry's namespace, id, type id and bytes.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tl/expected.hpp>
#include <utility>
#include <vector>

namespace quillmarsh::cli {

inline constexpr std::string_view TYPE_MANIFEST_NAME = ".quillmarsh-types.json";

// (namespace, id) -> type id, for the entries whose type id differs from the top byte of the id.
using TypeOverrides = std::map<std::pair<std::string, std::uint32_t>, std::uint32_t>;

// The type id a content file gets when nothing says otherwise: its kind code, the top byte of its id.
constexpr std::uint32_t default_type_id(std::uint32_t file_id) { return file_id >> 24; }

// The directory components a namespace label maps to. A label that would leave the extraction
// directory or be ambiguous (absolute, an empty, "." or ".." component, or the manifest's name as
// first component) is refused with an error that names it.
tl::expected<std::vector<std::string>, std::string> namespace_path_components(std::string_view label);

// A content file name: exactly eight hex digits, optionally followed by an extension ("0E000002",
// "0e000002.bin"). Returns the id.
std::optional<std::uint32_t> content_file_id(std::string_view file_name);

// The manifest's JSON text, and its parser (the error names what is wrong).
std::string type_manifest_json(const TypeOverrides& overrides);
tl::expected<TypeOverrides, std::string> parse_type_manifest(std::string_view text);

}  // namespace quillmarsh::cli
