// Packing with compression workers: the archive must be byte for byte the single-threaded one, the
// synchronous checks of add must stay synchronous, and a write that fails after its add returned must
// still reach the caller.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "archive_test_support.hpp"
#include "quillmarsh/dat/archive.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::read_file;
using quillmarsh::testing::TempDir;

struct Item {
  std::string namespace_;
  std::uint32_t file_id;
  Bytes data;
  bool compress = true;
};

Bytes random_bytes(std::mt19937& rng, std::size_t n) {
  Bytes b(n);
  for (auto& x : b) x = static_cast<std::uint8_t>(rng());
  return b;
}

// Text-like bytes that compress well.
Bytes compressible_bytes(std::mt19937& rng, std::size_t n) {
  static constexpr std::string_view words[] = {"surface ", "texture ", "palette ", "setup ", "motion "};
  Bytes b;
  b.reserve(n);
  while (b.size() < n) {
    const auto w = words[rng() % 5];
    b.insert(b.end(), w.begin(), w.end());
  }
  b.resize(n);
  return b;
}

// Empty, tiny, incompressible and compressible entries (some past the compressor's 1 MiB trim), the
// same ids in several namespaces, added out of index order, with a stretch added uncompressed.
std::vector<Item> mixed_corpus() {
  std::mt19937 rng(20240611);
  const std::vector<std::string> namespaces = {"eor/portal", "eor/cell", "mod/textures"};
  std::vector<Item> items;
  for (std::uint32_t i = 0; i < 360; ++i) {
    Item item{namespaces[i % 3], 0x06000000U + (i * 7919U) % 1000U, {}, !(i >= 200 && i < 230)};
    switch (i % 6) {
      case 0:
        break;  // empty
      case 1:
        item.data = random_bytes(rng, 1 + rng() % 300);
        break;
      case 2:
        item.data = random_bytes(rng, 2000 + rng() % 60000);
        break;
      case 3:
        item.data = compressible_bytes(rng, 100 + rng() % 4000);
        break;
      case 4:
        item.data = compressible_bytes(rng, 20000 + rng() % 300000);
        break;
      default: {
        item.data = compressible_bytes(rng, 1000 + rng() % 2000);
        const Bytes noise = random_bytes(rng, item.data.size() / 2);
        item.data.insert(item.data.end(), noise.begin(), noise.end());
      }
    }
    items.push_back(std::move(item));
  }
  items[17].data = compressible_bytes(rng, 3 << 20);
  items[301].data = Bytes(4096, 0);
  return items;
}

// Packs `items` with a write buffer of `buffer` bytes, switching to `workers[k]` compression workers
// before item k * items / workers.size().
Bytes pack(const std::filesystem::path& path, const std::vector<Item>& items, const std::vector<unsigned>& workers,
           std::size_t buffer = 0) {
  auto writer = QmaStreamWriter::create(path);
  EXPECT_TRUE(writer.has_value());
  if (!writer) return {};
  EXPECT_TRUE(writer->set_write_buffer_size(buffer).has_value());
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i * workers.size() % items.size() == 0 || i == 0) {
      const unsigned n = workers[i * workers.size() / items.size()];
      EXPECT_TRUE(writer->set_compression_workers(n).has_value());
      EXPECT_EQ(writer->compression_workers(), n);
    }
    writer->compress = items[i].compress;
    auto added = writer->add(items[i].namespace_, items[i].file_id, 0x06000000U, items[i].data);
    EXPECT_TRUE(added.has_value()) << (added ? "" : added.error().to_string());
  }
  EXPECT_EQ(writer->entry_count(), items.size());
  auto finished = std::move(*writer).finish();
  EXPECT_TRUE(finished.has_value()) << (finished ? "" : finished.error().to_string());
  return read_file(path);
}

TEST(ArchiveParallel, WorkersWriteTheSameBytesAsTheSingleThreadedWriter) {
  const TempDir dir;
  const auto items = mixed_corpus();
  const Bytes reference = pack(dir / "single.qma", items, {0});
  ASSERT_GT(reference.size(), 28U);

  struct Config {
    std::vector<unsigned> workers;
    std::size_t buffer;
  };
  const Config configs[] = {{{1}, 0},          {{2}, 0},       {{3}, 0},         {{8}, 0},
                            {{0, 2, 0, 3}, 0}, {{4, 1}, 0},    {{0}, 64},        {{0}, 4096},
                            {{0}, 1 << 20},    {{2}, 1 << 20}, {{0, 3}, 100000}, {{0, 2, 0}, 300000}};
  for (const auto& config : configs) {
    const Bytes parallel = pack(dir / "parallel.qma", items, config.workers, config.buffer);
    EXPECT_TRUE(parallel == reference) << "starting with " << config.workers.front() << " workers, "
                                       << config.workers.size() << " steps, buffer " << config.buffer;
  }

  // And the content reads back.
  auto reader = QmaReader::open(dir / "parallel.qma");
  ASSERT_TRUE(reader.has_value());
  for (const Item& item : items) {
    auto data = reader->get_file_in_namespace(item.namespace_, item.file_id);
    ASSERT_TRUE(data.has_value());
  }
}

TEST(ArchiveParallel, ChecksInAddStaySynchronous) {
  const TempDir dir;
  auto writer = QmaStreamWriter::create(dir / "a.qma");
  ASSERT_TRUE(writer.has_value());
  ASSERT_TRUE(writer->set_compression_workers(2).has_value());
  ASSERT_TRUE(writer->add("eor/portal", 0x0E000004, 0, Bytes(5000, 'a')).has_value());

  auto dup = writer->add("eor/portal", 0x0E000004, 0, Bytes(10, 'b'));
  ASSERT_FALSE(dup.has_value());
  EXPECT_EQ(dup.error().to_string(), "Duplicate namespaced file eor/portal:0E000004 detected");
  auto empty_ns = writer->add("", 1, 0, Bytes(10, 'c'));
  ASSERT_FALSE(empty_ns.has_value());
  EXPECT_NE(empty_ns.error().get_if<DatError::InvalidNamespace>(), nullptr);
  // An absurd worker count is refused up front rather than exhausting the system's threads.
  auto too_many = writer->set_compression_workers(QMA_MAX_COMPRESSION_WORKERS + 1);
  ASSERT_FALSE(too_many.has_value());
  EXPECT_EQ(too_many.error().to_string(), "Other error: Cannot use 257 compression workers: at most 256 are supported");
  EXPECT_EQ(writer->compression_workers(), 2U);
  // None of these failures disturbs the writer.
  ASSERT_TRUE(writer->add("eor/cell", 0x0E000004, 0, Bytes()).has_value());
  ASSERT_TRUE(std::move(*writer).finish().has_value());

  auto reader = QmaReader::open(dir / "a.qma");
  ASSERT_TRUE(reader.has_value());
  EXPECT_EQ(reader->header().entry_count, 2U);
  EXPECT_EQ(reader->get_file_in_namespace("eor/portal", 0x0E000004).value(), Bytes(5000, 'a'));
}

TEST(ArchiveParallel, DroppingAWriterWithEntriesInFlightStopsCleanly) {
  const TempDir dir;
  {
    auto writer = QmaStreamWriter::create(dir / "dropped.qma");
    ASSERT_TRUE(writer.has_value());
    ASSERT_TRUE(writer->set_compression_workers(3).has_value());
    std::mt19937 rng(7);
    for (std::uint32_t i = 0; i < 50; ++i) {
      ASSERT_TRUE(writer->add("eor/portal", i, 0, compressible_bytes(rng, 50000)).has_value());
    }
  }
  // The placeholder header is still in place: the unfinished archive is refused.
  auto reader = QmaReader::open(dir / "dropped.qma");
  ASSERT_FALSE(reader.has_value());
  EXPECT_EQ(reader.error().to_string(), "Corruption detected: QMA metadata offset 0 is within header area");
}

// In a forked child under a 64 KiB file-size limit (SIGXFSZ ignored, so writes fail with EFBIG), packs
// `count` incompressible 40 KiB entries with `workers` workers and a write buffer of `buffer` bytes. Reports the index
// of the first add that failed (-1 if none), whether every later add failed too, and the errno of the add and finish
// errors.
std::string pack_over_limit(std::uint32_t count, unsigned workers, std::size_t buffer,
                            const std::filesystem::path& path) {
  const int rlimit_ok = [] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{64 * 1024, 64 * 1024};
    return ::setrlimit(RLIMIT_FSIZE, &limit);
  }();
  if (rlimit_ok != 0) return "setrlimit failed";
  auto writer = QmaStreamWriter::create(path);
  if (!writer) return "create failed";
  if (!writer->set_compression_workers(workers) || !writer->set_write_buffer_size(buffer)) return "setup failed";
  std::mt19937 rng(count);
  int first_failed = -1;
  int add_errno = 0;
  bool later_all_failed = true;
  for (std::uint32_t i = 0; i < count; ++i) {
    auto added = writer->add("eor/portal", i, 0, random_bytes(rng, 40 * 1024));
    if (!added) {
      if (first_failed < 0) {
        first_failed = static_cast<int>(i);
        const auto* io = added.error().get_if<DatError::Io>();
        add_errno = io != nullptr ? io->error.os_errno : -1;
      }
    } else if (first_failed >= 0) {
      later_all_failed = false;
    }
  }
  auto finished = std::move(*writer).finish();
  int finish_errno = 0;
  if (!finished) {
    const auto* io = finished.error().get_if<DatError::Io>();
    finish_errno = io != nullptr ? io->error.os_errno : -1;
  }
  return std::to_string(first_failed) + " " + (later_all_failed ? "sticky" : "not-sticky") + " " +
         std::to_string(add_errno) + " " + std::to_string(finish_errno);
}

std::string run_in_child(std::uint32_t count, unsigned workers, std::size_t buffer, const std::filesystem::path& path) {
  int fds[2];
  if (::pipe(fds) != 0) return "pipe failed";
  const pid_t pid = ::fork();
  if (pid < 0) return "fork failed";
  if (pid == 0) {
    ::close(fds[0]);
    const std::string report = pack_over_limit(count, workers, buffer, path);
    const bool ok = ::write(fds[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
    ::_exit(ok ? 0 : 3);
  }
  ::close(fds[1]);
  std::string report;
  char chunk[256];
  for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    report.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return "child failed: " + report;
  return report;
}

TEST(ArchiveParallel, AFailedDeferredWriteReachesTheCaller) {
  const TempDir dir;
  const std::string efbig = std::to_string(EFBIG);
  // Three entries may all still be in flight when the last add returns: then finish reports the
  // failure, else the add that wrote the second entry (the first fits under the limit).
  const auto few = run_in_child(3, 2, 0, dir / "few.qma");
  EXPECT_TRUE(few == "-1 sticky 0 " + efbig || few == "1 sticky " + efbig + " " + efbig ||
              few == "2 sticky " + efbig + " " + efbig)
      << few;
  // Forty cannot all be in flight: an add reports the failure, and every later add and finish report
  // it again; with workers, with a write buffer, and with both.
  struct Config {
    unsigned workers;
    std::size_t buffer;
  };
  for (const Config config : {Config{2, 0}, Config{0, 256 * 1024}, Config{2, 256 * 1024}}) {
    const auto name = "many-" + std::to_string(config.workers) + "-" + std::to_string(config.buffer) + ".qma";
    const auto many = run_in_child(40, config.workers, config.buffer, dir / name);
    std::istringstream in(many);
    int first = 0;
    std::string sticky;
    int add_errno = 0;
    int finish_errno = 0;
    in >> first >> sticky >> add_errno >> finish_errno;
    EXPECT_GE(first, 1) << name << ": " << many;
    EXPECT_EQ(sticky, "sticky") << name << ": " << many;
    EXPECT_EQ(add_errno, EFBIG) << name << ": " << many;
    EXPECT_EQ(finish_errno, EFBIG) << name << ": " << many;
    EXPECT_FALSE(QmaReader::open(dir / name).has_value()) << name;
  }
  EXPECT_FALSE(QmaReader::open(dir / "few.qma").has_value());
}

}  // namespace
}  // namespace quillmarsh::dat
