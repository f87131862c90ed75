// Listing pack inputs. Directory listings are sorted so that archives come out the same whatever the
// order the file system returns names in.
#include "pack_inputs.hpp"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "cli_support.hpp"
#include "extracted_tree.hpp"
#include "quillmarsh/dat/file.hpp"

namespace quillmarsh::cli {

namespace {

bool by_key(const InputFile& a, const InputFile& b) {
  return std::tie(a.namespace_, a.id) < std::tie(b.namespace_, b.id);
}

// Two names for one id ("0E000002" and "0E000002.bin") would be two files for one entry.
tl::expected<void, std::string> check_unique(const std::vector<InputFile>& files) {
  const auto dup = std::adjacent_find(files.begin(), files.end(), [](const InputFile& a, const InputFile& b) {
    return a.namespace_ == b.namespace_ && a.id == b.id;
  });
  if (dup == files.end()) return {};
  return tl::unexpected(fmt::format("two input files for {}:{}: {} and {}", dup->namespace_, hex_id(dup->id),
                                    dup->path.string(), std::next(dup)->path.string()));
}

// The last component of a path as the directory iterator gave it, without building another path.
std::string_view file_name_of(const std::filesystem::path& path) {
  const std::string& text = path.native();
  const auto slash = text.rfind('/');
  return slash == std::string::npos ? std::string_view(text) : std::string_view(text).substr(slash + 1);
}

// Calls visit(namespace, directory entry) for everything below `dir` that is not a directory, where the
// namespace is the '/'-separated path of its directory relative to `dir` ("" directly in `dir`).
// Symbolic links to directories are neither followed nor visited. The first error opening or reading
// a directory ends the walk and is returned. Tracking namespaces while descending spares building a
// relative path for every file.
template <class Visit>
std::error_code walk_tree(const std::filesystem::path& dir, Visit visit) {
  std::vector<std::pair<std::filesystem::path, std::string>> pending{{dir, ""}};
  while (!pending.empty()) {
    const auto [directory, namespace_] = std::move(pending.back());
    pending.pop_back();
    std::error_code ec;
    for (std::filesystem::directory_iterator it(directory, ec), end; !ec && it != end; it.increment(ec)) {
      std::error_code type_ec;
      if (it->is_directory(type_ec)) {
        if (!it->is_symlink(type_ec)) {
          const std::string_view name = file_name_of(it->path());
          pending.emplace_back(it->path(),
                               namespace_.empty() ? std::string(name) : namespace_ + "/" + std::string(name));
        }
        continue;
      }
      visit(namespace_, *it);
    }
    if (ec) return ec;
  }
  return {};
}

}  // namespace

tl::expected<PackInput, std::string> list_directory_input(const std::filesystem::path& dir,
                                                          const std::string& namespace_) {
  PackInput input;
  input.path = dir;
  input.kind = PackInput::Kind::Directory;
  std::error_code ec;
  for (std::filesystem::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const auto id = content_file_id(it->path().filename().string());
    std::error_code type_ec;
    if (!id || !it->is_regular_file(type_ec)) {
      ++input.skipped;
      continue;
    }
    input.files.push_back(InputFile{namespace_, *id, default_type_id(*id), it->path()});
  }
  if (ec) return tl::unexpected(tools::ToolError(tools::ToolError::DatOpen{dir, ec.message()}).to_string());
  std::sort(input.files.begin(), input.files.end(), by_key);
  if (auto unique = check_unique(input.files); !unique) return tl::unexpected(std::move(unique.error()));
  return input;
}

tl::expected<PackInput, std::string> list_tree_input(const std::filesystem::path& dir) {
  PackInput input;
  input.path = dir;
  input.kind = PackInput::Kind::Tree;
  TypeOverrides overrides;
  std::error_code manifest_ec;
  const std::filesystem::path manifest = dir / TYPE_MANIFEST_NAME;
  if (std::filesystem::exists(manifest, manifest_ec)) {
    auto text = read_whole_file(manifest);
    if (!text) return tl::unexpected(std::move(text.error()));
    auto parsed = parse_type_manifest(*text);
    if (!parsed) return tl::unexpected(fmt::format("{}: {}", manifest.string(), parsed.error()));
    overrides = std::move(*parsed);
  }
  const std::error_code ec =
      walk_tree(dir, [&](const std::string& namespace_, const std::filesystem::directory_entry& entry) {
        const std::string_view name = file_name_of(entry.path());
        const auto id = content_file_id(name);
        std::error_code type_ec;
        if (!id || namespace_.empty() || !entry.is_regular_file(type_ec)) {
          if (!namespace_.empty() || name != TYPE_MANIFEST_NAME) ++input.skipped;
          return;
        }
        const auto override_ = overrides.find({namespace_, *id});
        const std::uint32_t type_id = override_ == overrides.end() ? default_type_id(*id) : override_->second;
        input.files.push_back(InputFile{namespace_, *id, type_id, entry.path()});
      });
  if (ec) return tl::unexpected(tools::ToolError(tools::ToolError::DatOpen{dir, ec.message()}).to_string());
  std::sort(input.files.begin(), input.files.end(), by_key);
  if (auto unique = check_unique(input.files); !unique) return tl::unexpected(std::move(unique.error()));
  return input;
}

tl::expected<PackInput, std::string> open_archive_input(const std::filesystem::path& path) {
  auto reader = dat::QmaReader::open(path);
  if (!reader) {
    return tl::unexpected(tools::ToolError(tools::ToolError::DatOpen{
                                               path, "not a directory or a QMA archive: " + reader.error().to_string()})
                              .to_string());
  }
  PackInput input;
  input.path = path;
  input.kind = PackInput::Kind::Archive;
  input.archive.emplace(std::move(*reader));
  return input;
}

tools::ToolResult<Bytes> read_input_file(const InputFile& file) {
  auto fail = [&](IoError error) {
    return tools::tool_fail(tools::ToolError::DatRead{file.id, dat::DatError::PathError{file.path, std::move(error)}});
  };
  auto handle = dat::File::open(file.path);
  if (!handle) return fail(std::move(handle.error()));
  auto len = handle->len_compat();
  if (!len) return fail(std::move(len.error()));
  if (*len > std::numeric_limits<std::uint32_t>::max()) {
    return fail(
        IoError{IoErrorKind::Os, EFBIG, fmt::format("file of {} bytes is too large for an archive entry", *len)});
  }
  Bytes bytes(static_cast<std::size_t>(*len));
  if (auto read = handle->read_exact_at_compat(bytes, 0); !read) return fail(std::move(read.error()));
  return bytes;
}

}  // namespace quillmarsh::cli
