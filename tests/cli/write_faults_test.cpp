// The command line under failing writes: `quillmarsh pack` runs in a forked child under a lowered
// file-size limit (RLIMIT_FSIZE, SIGXFSZ ignored so write() returns EFBIG). Wherever the limit cuts
// the archive, the program must exit non-zero with a message and leave nothing in the output
// directory: neither the archive nor a temporary file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "test_support.hpp"

namespace {

namespace fs = std::filesystem;
using quillmarsh::Bytes;
using quillmarsh::testing::TempDir;

struct ProgramRun {
  bool exited = false;  // false: killed by a signal
  int code = -1;
  std::string stderr_text;
};

// Runs the program with `args` in a child whose files may not grow past `limit` bytes (none if 0).
// Its stderr comes back through a pipe, which no file-size limit applies to.
ProgramRun run_program(const std::vector<std::string>& args, rlim_t limit) {
  ProgramRun run;
  int fds[2];
  if (::pipe(fds) != 0) return run;
  const pid_t pid = ::fork();
  if (pid == 0) {
    if (limit != 0) {
      ::signal(SIGXFSZ, SIG_IGN);
      const rlimit rl{limit, limit};
      if (::setrlimit(RLIMIT_FSIZE, &rl) != 0) ::_exit(120);
    }
    const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (null < 0 || ::dup2(fds[1], 2) < 0 || ::dup2(null, 1) < 0) ::_exit(121);
    ::close(fds[0]);
    std::vector<char*> argv;
    for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    ::execv(argv[0], argv.data());
    ::_exit(122);
  }
  ::close(fds[1]);
  if (pid < 0) {
    ::close(fds[0]);
    return run;
  }
  char buffer[512];
  for (;;) {
    const ssize_t n = ::read(fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    run.stderr_text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  run.exited = WIFEXITED(status);
  run.code = run.exited ? WEXITSTATUS(status) : -1;
  return run;
}

Bytes noise(std::size_t n, std::uint32_t seed) {
  Bytes out(n);
  for (auto& b : out) b = static_cast<std::uint8_t>((seed = seed * 1664525U + 1013904223U) >> 24);
  return out;
}

void write_file(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<std::string> directory_listing(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(dir)) names.push_back(entry.path().filename().string());
  return names;
}

TEST(CliWriteFaults, PackCutOffByAFileSizeLimitLeavesNoOutput) {
#ifndef QUILLMARSH_EXE
  GTEST_SKIP() << "the quillmarsh program is not part of this build";
#else
  TempDir dir;
  const fs::path input = dir / "portal";
  const fs::path output_dir = dir / "out";
  fs::create_directories(input);
  fs::create_directories(output_dir);
  // Content that does not compress, so the archive is about as large as its inputs.
  write_file(input / "0E000002", noise(6000, 1));
  write_file(input / "01000001", noise(3000, 2));
  write_file(input / "01000002.bin", noise(2000, 3));
  write_file(input / "08000001", Bytes(4000, 0x55));  // compresses
  const fs::path output = output_dir / "bundle.qma";
  // Compressing inside the writer, and on worker threads whose writes are deferred.
  for (const std::vector<std::string>& jobs : {std::vector<std::string>{}, std::vector<std::string>{"-j", "2"}}) {
    std::vector<std::string> args = {QUILLMARSH_EXE, "pack", "-o", output.string(), "--namespace", "eor/portal"};
    args.insert(args.end(), jobs.begin(), jobs.end());
    args.push_back(input.string());
    SCOPED_TRACE(jobs.empty() ? "single-threaded" : "-j 2");

    // Without a limit the same command succeeds, so the failures below are the limit's doing.
    const ProgramRun full = run_program(args, 0);
    ASSERT_TRUE(full.exited && full.code == 0) << full.stderr_text;
    const auto total = fs::file_size(output);
    fs::remove(output);

    for (const rlim_t limit :
         {rlim_t{1}, rlim_t{23}, rlim_t{24}, rlim_t{100}, rlim_t{4000}, rlim_t{9000}, static_cast<rlim_t>(total / 2),
          static_cast<rlim_t>(total - 61), static_cast<rlim_t>(total - 1)}) {
      SCOPED_TRACE("file size limit " + std::to_string(limit) + " of " + std::to_string(total));
      const ProgramRun run = run_program(args, limit);
      EXPECT_TRUE(run.exited) << "killed by a signal";
      EXPECT_NE(run.code, 0) << "a cut-off archive was reported as written";
      EXPECT_LT(run.code, 120) << "the child could not start the program";
      EXPECT_FALSE(run.stderr_text.empty());
      EXPECT_EQ(directory_listing(output_dir), std::vector<std::string>{}) << run.stderr_text;
    }
  }
#endif
}

}  // namespace
