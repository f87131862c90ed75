// The extracted tree's naming rules and type manifest.
#include "extracted_tree.hpp"

#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "cli_support.hpp"

namespace quillmarsh::cli {

tl::expected<std::vector<std::string>, std::string> namespace_path_components(std::string_view label) {
  auto refuse = [&](std::string_view why) {
    return tl::unexpected(fmt::format("refusing namespace '{}': {}", label, why));
  };
  if (label.empty()) return refuse("it is empty");
  if (label.front() == '/') return refuse("it is an absolute path");
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = label.find('/', start);
    const std::string_view part = label.substr(start, slash == std::string_view::npos ? label.npos : slash - start);
    if (part.empty()) return refuse("it has an empty path component");
    if (part == "." || part == "..") return refuse(fmt::format("it has a '{}' path component", part));
    parts.emplace_back(part);
    if (slash == std::string_view::npos) break;
    start = slash + 1;
  }
  if (parts.front() == TYPE_MANIFEST_NAME) return refuse("its first component is the type manifest's name");
  return parts;
}

std::optional<std::uint32_t> content_file_id(std::string_view file_name) {
  if (file_name.size() < 8 || (file_name.size() > 8 && file_name[8] != '.')) return std::nullopt;
  std::uint32_t id = 0;
  for (std::size_t i = 0; i < 8; ++i) {
    const char c = file_name[i];
    std::uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    } else {
      return std::nullopt;
    }
    id = (id << 4) | digit;
  }
  return id;
}

std::string type_manifest_json(const TypeOverrides& overrides) {
  nlohmann::ordered_json doc;
  doc["format"] = "quillmarsh-extracted-tree";
  doc["version"] = 1;
  doc["type_ids"] = nlohmann::ordered_json::array();
  for (const auto& [key, type_id] : overrides) {
    nlohmann::ordered_json row;
    row["namespace"] = key.first;
    row["id"] = hex_id(key.second);
    row["type_id"] = hex_id(type_id);
    doc["type_ids"].push_back(std::move(row));
  }
  return dump_json(doc) + "\n";
}

tl::expected<TypeOverrides, std::string> parse_type_manifest(std::string_view text) {
  const auto doc = nlohmann::json::parse(text, nullptr, /*allow_exceptions=*/false);
  auto bad = [](std::string_view why) { return tl::unexpected(fmt::format("invalid type manifest: {}", why)); };
  if (doc.is_discarded() || !doc.is_object()) return bad("not a JSON object");
  if (doc.value("format", "") != "quillmarsh-extracted-tree") return bad("unknown format");
  if (!doc.contains("version") || doc["version"] != 1) return bad("unsupported version");
  if (!doc.contains("type_ids") || !doc["type_ids"].is_array()) return bad("'type_ids' is not an array");
  TypeOverrides overrides;
  for (const auto& row : doc["type_ids"]) {
    if (!row.is_object() || !row.contains("namespace") || !row["namespace"].is_string() || !row.contains("id") ||
        !row["id"].is_string() || !row.contains("type_id") || !row["type_id"].is_string()) {
      return bad("each row needs the strings 'namespace', 'id' and 'type_id'");
    }
    const auto id = parse_id(row["id"].get<std::string>());
    const auto type_id = parse_id(row["type_id"].get<std::string>());
    if (!id) return bad(id.error());
    if (!type_id) return bad(type_id.error());
    overrides[{row["namespace"].get<std::string>(), *id}] = *type_id;
  }
  return overrides;
}

}  // namespace quillmarsh::cli
