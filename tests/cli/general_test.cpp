// End-to-end: help, version, exit codes, messages, and the demo.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "cli_test_support.hpp"

namespace quillmarsh::testing {
namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

TEST(Program, HelpOnEverySubcommandAndVersion) {
  const TempDir dir;
  for (const char* command :
       {"pack", "dat2qma", "ls", "cat", "extract", "verify", "shard", "spells", "inspect", "demo"}) {
    const Outcome help = quillmarsh({command, "--help"}, dir.path());
    EXPECT_EQ(help.code, 0) << command;
    EXPECT_THAT(help.out, HasSubstr("Usage:")) << command;
  }
  const Outcome top = quillmarsh({"--help"}, dir.path());
  EXPECT_EQ(top.code, 0);
  EXPECT_THAT(top.out, HasSubstr("shard"));
  const Outcome version = quillmarsh({"--version"}, dir.path());
  EXPECT_EQ(version.code, 0);
  EXPECT_THAT(version.out, StartsWith("quillmarsh "));
}

TEST(Program, UsageErrorsExitTwoAndFailuresExitOne) {
  const TempDir dir;
  struct Case {
    std::vector<std::string> args;
    int code;
  };
  for (const Case& c : {Case{{}, 2}, Case{{"frobnicate"}, 2}, Case{{"ls"}, 2}, Case{{"ls", "a.qma", "--bogus"}, 2},
                        Case{{"pack", "in"}, 2}, Case{{"pack", "-o", "x.qma", "--tree", "--hint", "eor/cell", "in"}, 2},
                        Case{{"ls", "missing.qma"}, 1}, Case{{"verify", "missing.qma"}, 1},
                        Case{{"extract", "missing.qma", "-C", "out"}, 1}}) {
    const Outcome run = quillmarsh(c.args, dir.path());
    EXPECT_EQ(run.code, c.code) << ::testing::PrintToString(c.args);
    EXPECT_THAT(run.err, StartsWith("quillmarsh: error: ")) << ::testing::PrintToString(c.args);
    EXPECT_EQ(run.out, "") << ::testing::PrintToString(c.args);
  }
}

TEST(Program, DemoRunsToCompletion) {
  const TempDir dir;
  const Outcome run = quillmarsh({"demo", "out/demo"}, dir.path());
  ASSERT_EQ(run.code, 0) << run.err;
  for (const char* step : {"generated", "pack", "verify", "ls", "shard", "spells"}) {
    EXPECT_THAT("\n" + run.out, HasSubstr(std::string("\n") + step)) << step;
  }
  for (const char* made : {"bundle.qma", "micro.qma", "boot.qma", "bundle-ls.txt", "spells-export.json", "content"}) {
    EXPECT_TRUE(std::filesystem::exists(dir / "out" / "demo" / made)) << made;
  }
  // Its archives are sound.
  EXPECT_EQ(quillmarsh({"verify", "out/demo/boot.qma"}, dir.path()).code, 0);
}

}  // namespace
}  // namespace quillmarsh::testing
