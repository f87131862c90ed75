// Atomic output files. Temporary names are ".<target name>.<pid>.<counter>.<random>.tmp" in the target's
// directory, so the final rename never crosses file systems.
#include "atomic_output.hpp"

#include <fcntl.h>
#include <fmt/format.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>

namespace quillmarsh::cli {

namespace {

// Temporary files still pending, as fixed buffers a signal handler may read and unlink.
constexpr int MAX_PENDING = 16;
constexpr std::size_t MAX_PATH_BYTES = 4096;
std::array<std::array<char, MAX_PATH_BYTES>, MAX_PENDING> g_pending_paths{};
std::array<std::atomic<bool>, MAX_PENDING> g_pending_used{};

extern "C" void remove_pending_and_reraise(int sig) {
  for (int i = 0; i < MAX_PENDING; ++i) {
    if (g_pending_used[i].load()) ::unlink(g_pending_paths[i].data());
  }
  std::signal(sig, SIG_DFL);
  std::raise(sig);
}

void install_handlers_once() {
  static const bool installed = [] {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
      struct sigaction action {};
      action.sa_handler = remove_pending_and_reraise;
      sigemptyset(&action.sa_mask);
      sigaction(sig, &action, nullptr);
    }
    return true;
  }();
  (void)installed;
}

int register_pending(const std::filesystem::path& path) {
  const std::string& text = path.native();
  if (text.size() + 1 > MAX_PATH_BYTES) return -1;
  install_handlers_once();
  for (int i = 0; i < MAX_PENDING; ++i) {
    if (g_pending_used[i].load()) continue;
    std::memcpy(g_pending_paths[i].data(), text.c_str(), text.size() + 1);
    g_pending_used[i].store(true);
    return i;
  }
  return -1;
}

void unregister_pending(int slot) {
  if (slot >= 0) g_pending_used[slot].store(false);
}

}  // namespace

tl::expected<AtomicOutput, std::string> AtomicOutput::create(const std::filesystem::path& target) {
  if (target.empty() || !target.has_filename()) {
    return tl::unexpected(fmt::format("output path '{}' does not name a file", target.string()));
  }
  std::error_code ec;
  if (std::filesystem::is_directory(target, ec)) {
    return tl::unexpected(fmt::format("output path {} is a directory", target.string()));
  }
  const std::filesystem::path dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
  static std::atomic<unsigned> counter{0};
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::filesystem::path temp =
        dir / fmt::format(".{}.{}.{}.{:08x}.tmp", target.filename().string(), ::getpid(), counter++, random());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
    if (fd >= 0) {
      ::close(fd);
      return AtomicOutput(target, temp, register_pending(temp));
    }
    if (errno != EEXIST) {
      return tl::unexpected(fmt::format("cannot create a file in {}: {}", dir.string(), std::strerror(errno)));
    }
  }
  return tl::unexpected(fmt::format("cannot find a free temporary name in {}", dir.string()));
}

AtomicOutput::AtomicOutput(AtomicOutput&& other) noexcept
    : target_(std::move(other.target_)),
      temp_(std::move(other.temp_)),
      slot_(std::exchange(other.slot_, -1)),
      done_(std::exchange(other.done_, true)) {}

AtomicOutput::~AtomicOutput() { discard(); }

void AtomicOutput::discard() {
  if (done_) return;
  done_ = true;
  ::unlink(temp_.c_str());
  unregister_pending(slot_);
}

tl::expected<void, std::string> AtomicOutput::commit() {
  if (done_) return tl::unexpected(std::string("output already finished"));
  if (::rename(temp_.c_str(), target_.c_str()) != 0) {
    const int err = errno;
    discard();
    return tl::unexpected(
        fmt::format("cannot rename {} to {}: {}", temp_.string(), target_.string(), std::strerror(err)));
  }
  done_ = true;
  unregister_pending(slot_);
  return {};
}

tl::expected<void, std::string> write_file_atomically(const std::filesystem::path& target, std::string_view contents) {
  auto out = AtomicOutput::create(target);
  if (!out) return tl::unexpected(std::move(out.error()));
  const int fd = ::open(out->temp_path().c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC | O_NOFOLLOW);
  if (fd < 0) return tl::unexpected(fmt::format("cannot write {}: {}", target.string(), std::strerror(errno)));
  std::size_t done = 0;
  while (done < contents.size()) {
    const ssize_t n = ::write(fd, contents.data() + done, contents.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int err = n < 0 ? errno : EIO;
      ::close(fd);
      return tl::unexpected(fmt::format("cannot write {}: {}", target.string(), std::strerror(err)));
    }
    done += static_cast<std::size_t>(n);
  }
  if (::close(fd) != 0)
    return tl::unexpected(fmt::format("cannot write {}: {}", target.string(), std::strerror(errno)));
  return out->commit();
}

}  // namespace quillmarsh::cli
