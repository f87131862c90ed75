// Writes that fail part-way. Each archive is written in a forked child whose writes start failing at a
// chosen byte: under a lowered file-size limit (RLIMIT_FSIZE, with SIGXFSZ ignored so write() returns
// EFBIG instead of killing the process), or on a tiny tmpfs (ENOSPC). The writer must report the
// failure from create, add or finish as a DatError carrying the operating-system error, never crash,
// never report success, and never leave a file that opens as an archive.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "quillmarsh/dat/archive.hpp"
#include "quillmarsh/dat/resource.hpp"
#include "test_support.hpp"

namespace quillmarsh::dat {
namespace {

using quillmarsh::testing::TempDir;

// What the child saw: the step that failed ("create", "add <n>", "finish" or "none") and the errno
// inside the error, 0 when the error carried none.
struct WriteOutcome {
  std::string step;
  int os_errno = 0;
  std::string text;
};

// Runs `body` in a forked child and returns what it wrote to the pipe; a child that does not exit
// normally with status 0 fails the test.
std::optional<std::string> run_in_child(const std::function<std::string()>& body, int* exit_code = nullptr) {
  int fds[2];
  if (::pipe(fds) != 0) {
    ADD_FAILURE() << "pipe: " << std::strerror(errno);
    return std::nullopt;
  }
  const pid_t pid = ::fork();
  if (pid < 0) {
    ADD_FAILURE() << "fork: " << std::strerror(errno);
    return std::nullopt;
  }
  if (pid == 0) {
    ::close(fds[0]);
    const std::string report = body();
    std::size_t done = 0;
    while (done < report.size()) {
      const ssize_t n = ::write(fds[1], report.data() + done, report.size() - done);
      if (n <= 0) ::_exit(3);
      done += static_cast<std::size_t>(n);
    }
    ::_exit(report.starts_with("skip:") ? 77 : 0);
  }
  ::close(fds[1]);
  std::string report;
  char buffer[512];
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    report.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  if (!WIFEXITED(status)) {
    ADD_FAILURE() << "writer child died"
                  << (WIFSIGNALED(status) ? " by signal " + std::to_string(WTERMSIG(status)) : "");
    return std::nullopt;
  }
  if (exit_code != nullptr) *exit_code = WEXITSTATUS(status);
  if (WEXITSTATUS(status) != 0 && WEXITSTATUS(status) != 77) {
    ADD_FAILURE() << "writer child exited with " << WEXITSTATUS(status);
    return std::nullopt;
  }
  return report;
}

int os_errno_of(const DatError& error) {
  if (const auto* io = error.get_if<DatError::Io>()) return io->error.os_errno;
  if (const auto* bin = error.get_if<DatError::BinRead>()) {
    if (const IoError* io = bin->error.io_error()) return io->os_errno;
  }
  return 0;
}

struct Entry {
  std::string_view namespace_;
  std::uint32_t file_id;
  Bytes data;
  bool compress;
};

Bytes noise(std::size_t n, std::uint32_t seed) {
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>((seed = seed * 1664525U + 1013904223U) >> 24);
  return out;
}

// How the writer stores blobs: within each add, collected in a write buffer, or through compression
// workers; the last two defer writes, so a failure may surface in a later add or in finish.
struct WriterMode {
  const char* name;
  std::size_t write_buffer;
  unsigned workers;
};
constexpr WriterMode kWriterModes[] = {{"direct", 0, 0}, {"buffered", 4096, 0}, {"workers", 0, 2}, {"both", 2048, 2}};

// Writes `entries` to `path`; meant to run in the child. The report is "<step>\n<errno>\n<text>".
std::string write_archive(const std::filesystem::path& path, const std::vector<Entry>& entries,
                          const WriterMode& mode = kWriterModes[0]) {
  auto fail = [](const std::string& step, const DatError& error) {
    return step + "\n" + std::to_string(os_errno_of(error)) + "\n" + error.to_string();
  };
  auto writer = QmaStreamWriter::create(path);
  if (!writer) return fail("create", writer.error());
  if (auto set = writer->set_write_buffer_size(mode.write_buffer); !set) return fail("setup", set.error());
  if (auto set = writer->set_compression_workers(mode.workers); !set) return fail("setup", set.error());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    writer->compress = entries[i].compress;
    auto added = writer->add(entries[i].namespace_, entries[i].file_id, 0x20, entries[i].data);
    if (!added) return fail("add " + std::to_string(i), added.error());
  }
  auto finished = std::move(*writer).finish();
  if (!finished) return fail("finish", finished.error());
  return "none\n0\n";
}

WriteOutcome parse(const std::string& report) {
  WriteOutcome outcome;
  const auto first = report.find('\n');
  const auto second = report.find('\n', first + 1);
  outcome.step = report.substr(0, first);
  outcome.os_errno = std::stoi(report.substr(first + 1, second - first - 1));
  outcome.text = report.substr(second + 1);
  return outcome;
}

std::uint64_t size_on_disk(const std::filesystem::path& path) {
  std::error_code ec;
  const auto size = std::filesystem::file_size(path, ec);
  return ec ? 0 : size;
}

const std::vector<Entry>& sample_entries() {
  static const std::vector<Entry> entries = {
      {EOR_PORTAL_NAMESPACE, 0x0E000002, Bytes(3000, 0x41), true},  // stored compressed
      {EOR_CELL_NAMESPACE, 0xA9B4FFFE, noise(1500, 7), true},       // does not compress
      {EOR_PORTAL_NAMESPACE, 0x01000001, noise(700, 9), false},
      {CORE_NAMESPACE, 0x4D4F544B, Bytes(200, 0x07), false},
  };
  return entries;
}

class ArchiveWriteFaults : public ::testing::TestWithParam<WriterMode> {};

TEST_P(ArchiveWriteFaults, FileSizeLimitAtEveryStageIsReportedNeverSuccess) {
  const WriterMode& mode = GetParam();
  TempDir dir;
  const auto path = dir / "limited.qma";

  // The unlimited write gives the layout, and the places where a limit bites differently.
  const auto full = run_in_child([&] { return write_archive(path, sample_entries(), mode); });
  ASSERT_TRUE(full);
  ASSERT_EQ(parse(*full).step, "none") << *full;
  auto reader = QmaReader::open(path);
  ASSERT_TRUE(reader) << reader.error().to_string();
  const std::uint64_t total = size_on_disk(path);
  const std::uint64_t index_offset = reader->header().index_offset;
  const std::uint64_t metadata_offset = index_offset - reader->header().metadata_size;
  std::set<std::uint64_t> limits = {0,
                                    1,
                                    23,
                                    24,
                                    25,
                                    metadata_offset - 1,
                                    metadata_offset,
                                    metadata_offset + 1,
                                    index_offset - 1,
                                    index_offset,
                                    index_offset + 1,
                                    total - 1};
  for (std::uint32_t p = 0; p < reader->header().entry_count; ++p) {
    auto entry = reader->entry_at(p);
    ASSERT_TRUE(entry);
    for (std::uint64_t at : {entry->offset, entry->offset + 1, entry->offset + entry->comp_size / 2,
                             entry->offset + entry->comp_size - 1}) {
      limits.insert(at);
    }
  }
  for (std::uint64_t at = 0; at < total; at += 31) limits.insert(at);

  std::set<std::string> failing_steps;
  for (const std::uint64_t limit : limits) {
    ASSERT_LT(limit, total);
    SCOPED_TRACE("file size limit " + std::to_string(limit) + " of " + std::to_string(total));
    std::filesystem::remove(path);
    const auto report = run_in_child([&] {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit rl{limit, limit};
      if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) return std::string("setrlimit failed\n0\n");
      return write_archive(path, sample_entries(), mode);
    });
    ASSERT_TRUE(report);
    const WriteOutcome outcome = parse(*report);
    EXPECT_NE(outcome.step, "none") << "a write cut off at byte " << limit << " was reported as success";
    EXPECT_EQ(outcome.os_errno, EFBIG) << outcome.step << ": " << outcome.text;
    if (outcome.step == "create") {
      EXPECT_LT(limit, QMA_HEADER_SIZE);
    }
    failing_steps.insert(outcome.step.substr(0, outcome.step.find(' ')));
    // Nothing beyond the limit reached the disk, and what did is not a readable archive.
    EXPECT_LE(size_on_disk(path), limit);
    if (std::filesystem::exists(path)) {
      EXPECT_FALSE(QmaReader::open(path)) << "a failed write left an archive";
    }
  }
  // The limits reach every stage: the placeholder header, the blobs, the metadata and the index. With
  // deferred writes the blobs' failures may all surface in finish.
  if (mode.write_buffer == 0 && mode.workers == 0) {
    EXPECT_EQ(failing_steps, (std::set<std::string>{"create", "add", "finish"}));
  } else {
    EXPECT_TRUE(failing_steps.contains("create") && failing_steps.contains("finish"));
    EXPECT_FALSE(failing_steps.contains("setup"));
  }
  std::cout << "[ faults   ] " << mode.name << ": " << limits.size() << " file-size limits between 0 and " << total - 1
            << " bytes\n";
}

INSTANTIATE_TEST_SUITE_P(WriterModes, ArchiveWriteFaults, ::testing::ValuesIn(kWriterModes),
                         [](const ::testing::TestParamInfo<WriterMode>& info) { return std::string(info.param.name); });

// Mounts a tmpfs of `size` bytes at `dir` in a private mount namespace of the calling process (the
// child); a message when the platform does not allow it.
std::optional<std::string> mount_small_tmpfs(const std::filesystem::path& dir, std::size_t size) {
  const std::string options = "size=" + std::to_string(size);
  const uid_t uid = ::getuid();
  const gid_t gid = ::getgid();
  if (::unshare(CLONE_NEWNS) != 0) {
    // Without privileges, a user namespace of our own may still allow the mount.
    if (::unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return std::string("unshare: ") + std::strerror(errno);
    auto write_text = [](const char* file, const std::string& text) {
      std::ofstream out(file);
      out << text;
      return static_cast<bool>(out.flush());
    };
    write_text("/proc/self/setgroups", "deny");
    if (!write_text("/proc/self/uid_map", "0 " + std::to_string(uid) + " 1") ||
        !write_text("/proc/self/gid_map", "0 " + std::to_string(gid) + " 1")) {
      return std::string("cannot map ids in a user namespace");
    }
  }
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) {
    return std::string("making mounts private: ") + std::strerror(errno);
  }
  if (::mount("tmpfs", dir.c_str(), "tmpfs", 0, options.c_str()) != 0) {
    return std::string("mounting tmpfs: ") + std::strerror(errno);
  }
  return std::nullopt;
}

// On a full file system, in a child: the archive's blobs, or its metadata and index, do not fit.
void expect_full_filesystem_failure(std::size_t fs_size, const std::vector<Entry>& entries, const std::string& step) {
  TempDir dir;
  int code = 0;
  const auto report = run_in_child(
      [&] {
        if (auto why = mount_small_tmpfs(dir.path(), fs_size)) return "skip:" + *why;
        const std::string result = write_archive(dir / "full.qma", entries);
        // The file left behind on the full file system must not open as an archive.
        return result + (QmaReader::open(dir / "full.qma") ? "\nREADABLE" : "");
      },
      &code);
  ASSERT_TRUE(report);
  if (code == 77) GTEST_SKIP() << "cannot mount a small tmpfs here (" << report->substr(5) << ")";
  const WriteOutcome outcome = parse(*report);
  EXPECT_EQ(outcome.step.substr(0, outcome.step.find(' ')), step) << *report;
  EXPECT_EQ(outcome.os_errno, ENOSPC) << *report;
  EXPECT_EQ(report->find("READABLE"), std::string::npos) << "a failed write left an archive";
}

TEST(ArchiveFullFileSystem, FailsTheAdd) {
  // 64 KiB of blobs on a 16 KiB file system.
  std::vector<Entry> entries;
  for (std::uint32_t i = 0; i < 8; ++i) entries.push_back({EOR_PORTAL_NAMESPACE, 0x01000000 + i, noise(8192, i), true});
  expect_full_filesystem_failure(16384, entries, "add");
}

TEST(ArchiveFullFileSystem, FailsTheFinish) {
  // Header and blobs fill the 16 KiB file system to 10 bytes short: the metadata does not fit.
  const std::size_t data = 16384 - QMA_HEADER_SIZE - 10;
  const std::vector<Entry> entries = {{EOR_PORTAL_NAMESPACE, 0x01000001, noise(data / 2, 1), false},
                                      {EOR_CELL_NAMESPACE, 0xA9B4FFFE, noise(data - data / 2, 2), false}};
  expect_full_filesystem_failure(16384, entries, "finish");
}

}  // namespace
}  // namespace quillmarsh::dat
