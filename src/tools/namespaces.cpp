// How dat2qma names the namespace of each input and which keep-rules a profile uses.
#include <algorithm>
#include <string>

#include "quillmarsh/dat/resource.hpp"
#include "quillmarsh/tools/dat2qma.hpp"

namespace quillmarsh::tools {

namespace {

// The last file name of a path, the way a path's components read: trailing separators and "."
// steps are skipped; a root or a final ".." leaves no file name.
std::optional<std::string> final_file_name(const std::filesystem::path& path) {
  std::optional<std::string> last;
  for (const auto& component : path.relative_path()) {
    const std::string name = component.string();
    if (name.empty() || name == ".") continue;
    last = name;
  }
  if (!last || *last == "..") return std::nullopt;
  return last;
}

// The file name without its last extension; a name whose only dot leads keeps it.
std::string file_stem(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos || dot == 0) return name;
  return name.substr(0, dot);
}

}  // namespace

ToolResult<std::string> resolve_namespace_hint(std::optional<std::string_view> explicit_,
                                               const std::filesystem::path& input_path,
                                               std::optional<std::string_view> hint) {
  if (explicit_) {
    auto validated = dat::ResourceNamespace::create(*explicit_);
    if (!validated) return tool_fail(ToolError::Validation{validated.error().to_string()});
    return std::string(*explicit_);
  }
  // A hint is taken as given; the archive writer rejects an unusable label when it is first used.
  if (hint) return std::string(*hint);
  return std::string(infer_input_namespace_fallback(input_path));
}

std::string_view infer_input_namespace_fallback(const std::filesystem::path& input_path) {
  const auto name = final_file_name(input_path);
  if (!name) return dat::EOR_PORTAL_NAMESPACE;
  std::string stem = file_stem(*name);
  if (dat::utf8_error(stem)) return dat::EOR_PORTAL_NAMESPACE;
  std::transform(stem.begin(), stem.end(), stem.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return stem.find("cell") != std::string::npos ? dat::EOR_CELL_NAMESPACE : dat::EOR_PORTAL_NAMESPACE;
}

std::optional<dat::StripperManifest> manifest_for_profile(ConversionProfile profile) {
  switch (profile) {
    case ConversionProfile::Pruned:
      return dat::StripperManifest::logic_only();
    case ConversionProfile::Micro:
      return dat::StripperManifest::micro();
    case ConversionProfile::Full:
      return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace quillmarsh::tools
