// extract ARCHIVE -C DIR [--namespace NS]: every entry to DIR/<namespace>/<ID>, plus the type manifest.
//
// Nothing is ever written outside DIR: labels that would leave it are refused before anything is
// written, and every directory and file below DIR is opened relative to its parent with O_NOFOLLOW,
// so a symbolic link planted inside DIR is refused rather than followed. Each file is written under a
// temporary name and renamed into place, which replaces (never follows) whatever was there.
#include <fcntl.h>
#include <fmt/format.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "commands.hpp"
#include "extracted_tree.hpp"
#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/archive_verify.hpp"

namespace quillmarsh::cli {

namespace {

struct ExtractOptions {
  std::filesystem::path archive;
  std::filesystem::path dir;
  std::optional<std::string> namespace_;
};

class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  Fd(Fd&& o) noexcept : fd_(std::exchange(o.fd_, -1)) {}
  Fd& operator=(Fd&& o) noexcept {
    std::swap(fd_, o.fd_);
    return *this;
  }
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }

 private:
  int fd_;
};

std::string os_error(std::string_view what, const std::filesystem::path& path, int err) {
  if (err == ELOOP || err == ENOTDIR) {
    return fmt::format("refusing to {} {}: it is a symbolic link or not a directory", what, path.string());
  }
  return fmt::format("cannot {} {}: {}", what, path.string(), std::strerror(err));
}

// Opens (creating when missing) the directory `name` inside `parent`, never through a symbolic link.
tl::expected<Fd, std::string> open_subdir(int parent, const std::string& name, const std::filesystem::path& shown) {
  if (::mkdirat(parent, name.c_str(), 0777) != 0 && errno != EEXIST)
    return tl::unexpected(os_error("create", shown, errno));
  const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return tl::unexpected(os_error("enter", shown, errno));
  return Fd(fd);
}

tl::expected<void, std::string> write_all(int fd, ByteView data, const std::filesystem::path& shown) {
  std::size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return tl::unexpected(os_error("write", shown, n < 0 ? errno : EIO));
    done += static_cast<std::size_t>(n);
  }
  return {};
}

// Writes `name` inside `dir` atomically: a fresh temporary file, then a rename over the name.
tl::expected<void, std::string> write_file_at(int dir, const std::string& name, ByteView data,
                                              const std::filesystem::path& shown) {
  static unsigned counter = 0;
  std::string temp;
  Fd fd;
  for (int attempt = 0; fd.get() < 0; ++attempt) {
    temp = fmt::format(".{}.{}.{}.tmp", name, ::getpid(), counter++);
    fd = Fd(::openat(dir, temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666));
    if (fd.get() < 0 && (errno != EEXIST || attempt > 100)) return tl::unexpected(os_error("create", shown, errno));
  }
  auto written = write_all(fd.get(), data, shown);
  if (::close(fd.release()) != 0 && written) written = tl::unexpected(os_error("write", shown, errno));
  if (written && ::renameat(dir, temp.c_str(), dir, name.c_str()) != 0)
    written = tl::unexpected(os_error("write", shown, errno));
  if (!written) ::unlinkat(dir, temp.c_str(), 0);
  return written;
}

tl::expected<std::string, std::string> read_file_at(int dir, const std::string& name) {
  Fd fd(::openat(dir, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (fd.get() < 0) return tl::unexpected(std::string(std::strerror(errno)));
  std::string text;
  char buf[65536];
  for (;;) {
    const ssize_t n = ::read(fd.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return tl::unexpected(std::string(std::strerror(errno)));
    if (n == 0) break;
    text.append(buf, static_cast<std::size_t>(n));
  }
  return text;
}

int run_extract(const ExtractOptions& options, const Globals& globals) {
  auto reader = dat::QmaReader::open(options.archive);
  if (!reader)
    return fail(fmt::format("cannot open archive {}: {}", options.archive.string(), reader.error().to_string()));

  // Choose the namespaces and check every label before anything is written.
  std::vector<dat::QmaNamespaceIndexEntry> spans;
  for (const auto& span : reader->namespaces()) {
    if (!options.namespace_ || span.namespace_.label() == *options.namespace_) spans.push_back(span);
  }
  if (options.namespace_ && spans.empty()) {
    return fail(fmt::format("archive {} has no namespace '{}'", options.archive.string(), *options.namespace_));
  }
  std::vector<std::vector<std::string>> paths;
  std::uint64_t total = 0;
  for (const auto& span : spans) {
    auto parts = namespace_path_components(span.namespace_.label());
    if (!parts) return fail(parts.error());
    paths.push_back(std::move(*parts));
    total += span.entry_count;
  }

  std::error_code ec;
  std::filesystem::create_directories(options.dir, ec);
  if (ec) return fail(fmt::format("cannot create {}: {}", options.dir.string(), ec.message()));
  const Fd root(::open(options.dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (root.get() < 0) return fail(os_error("open", options.dir, errno));

  // Type ids that the file name does not imply; merged with a manifest already in DIR, whose rows for
  // the namespaces extracted now are replaced.
  TypeOverrides overrides;
  if (auto existing = read_file_at(root.get(), std::string(TYPE_MANIFEST_NAME))) {
    auto parsed = parse_type_manifest(*existing);
    if (!parsed) return fail(fmt::format("{}: {}", (options.dir / TYPE_MANIFEST_NAME).string(), parsed.error()));
    overrides = std::move(*parsed);
    for (const auto& span : spans) {
      std::erase_if(overrides, [&](const auto& kv) { return kv.first.first == span.namespace_.label(); });
    }
  }

  Progress progress(globals, "extract", total);
  for (std::size_t s = 0; s < spans.size(); ++s) {
    const std::string label(spans[s].namespace_.label());
    Fd dir;
    int parent = root.get();
    std::filesystem::path shown = options.dir;
    for (const std::string& part : paths[s]) {
      shown /= part;
      auto sub = open_subdir(parent, part, shown);
      if (!sub) return fail(sub.error());
      dir = std::move(*sub);
      parent = dir.get();
    }
    std::string error;
    auto scanned = dat::scan_index_records(
        *reader, spans[s].start_index, spans[s].entry_count, [&](std::uint32_t, const dat::QmaEntry& entry) {
          const std::string name = fmt::format("{:08X}", entry.file_id);
          auto data = reader->read_entry_data(entry);
          if (!data) {
            error = fmt::format("{}:{}: {}", label, hex_id(entry.file_id), data.error().to_string());
            return false;
          }
          auto written = write_file_at(parent, name, *data, shown / name);
          if (!written) {
            error = written.error();
            return false;
          }
          if (entry.type_id != default_type_id(entry.file_id)) {
            overrides[{label, entry.file_id}] = entry.type_id;
          }
          progress.advance(1, data->size());
          return true;
        });
    if (!scanned)
      return fail(
          fmt::format("cannot read the index of {}: {}", options.archive.string(), scanned.error().to_string()));
    if (!error.empty()) return fail(error);
  }
  const std::string manifest = type_manifest_json(overrides);
  auto written = write_file_at(root.get(), std::string(TYPE_MANIFEST_NAME),
                               ByteView(reinterpret_cast<const std::uint8_t*>(manifest.data()), manifest.size()),
                               options.dir / TYPE_MANIFEST_NAME);
  if (!written) return fail(written.error());
  progress.finish();
  print_summary(globals, fmt::format("extracted {} files ({}) in {} namespace{} from {} into {}", progress.files(),
                                     human_bytes(progress.bytes()), spans.size(), spans.size() == 1 ? "" : "s",
                                     options.archive.string(), options.dir.string()));
  return EXIT_OK;
}

}  // namespace

void add_extract_command(CLI::App& app, const Globals& globals, Runner& runner) {
  auto options = std::make_shared<ExtractOptions>();
  CLI::App* cmd =
      app.add_subcommand("extract", "Write every entry to DIR/<namespace>/<ID> (pack --tree reads it back)");
  cmd->add_option("ARCHIVE", options->archive, "The .qma archive")->required();
  cmd->add_option("-C,--directory", options->dir, "Directory to extract into (created if missing)")->required();
  cmd->add_option("--namespace", options->namespace_, "Only this namespace");
  cmd->callback(
      [options, &globals, &runner] { runner = [options, &globals] { return run_extract(*options, globals); }; });
}

}  // namespace quillmarsh::cli
