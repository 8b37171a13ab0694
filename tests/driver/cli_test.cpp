// The command line: usage errors, the banner, the credit, and which
// command lines reach the loading stage.
#include <gtest/gtest.h>

#include "support/fixture.h"

namespace zelk::test {
namespace {


const char kUsage[] =
    "usage:\n"
    "        zelk [-a] <top_module_name> <nld_or_pcd_dir> ... \n"
    "             [-r <nld_or_pcd_dir> ...] -w <write_dir>\n";

TEST(CommandLine, BannerLinesAre63Wide) {
  std::string b = kBanner;
  size_t start = 1;
  for (int line = 0; line < 4; ++line) {
    size_t end = b.find('\n', start);
    EXPECT_EQ(end - start, 63u) << "line " << line + 2;
    start = end + 1;
  }
}

TEST(CommandLine, UsageErrorsPrintBannerAndUsage) {
  const std::vector<std::vector<std::string>> bad = {
      {},
      {"top"},
      {"top", "d", "-w"},               // three arguments are never enough
      {"top", "-w", "out", "-a"},       // no optimisation directory
      {"top", "d1", "-w", "out", "d2"}, // a second optimisation list
      {"top", "-r", "lib", "d1", "-w", "out"},  // the bare directory joins the read-only list
      {"top", "d", "-w", "a", "-w", "b"},       // a second -w
      {"top", "d", "-r", "a", "-w", "o", "-r", "b"},  // a second -r run
      {"top", "d", "-a", "-w"},         // -w as the last argument
      {"top", "d", "-w", "o", "-r"},    // -r as the last argument
      {"top", "d", "-a", "-f"},         // no write directory
  };
  for (const auto& args : bad) {
    RunResult r = run_inproc(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(kBanner) + kUsage) << ::testing::PrintToString(args);
  }
}

TEST(CommandLine, AuthorOnlyAsSoleShortCommandLine) {
  RunResult r = run_inproc({"-author"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(kBanner) +
                       "zelk was designed and written by the zelk developers,\n"
                       "for logic designers who want fewer inverters and exact netlists.\n" +
                       kUsage);
  // With four arguments "-author" is the top module name.
  TempDir dir;
  dir.mkdir("d");
  dir.mkdir("o");
  r = run_inproc({"-author", dir / "d", "-w", dir / "o"});
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.err, std::string(kBanner) + "Start to read NLD/PCD files\n" +
                       "Could not find \"-author.nld\"\n");
}

TEST(CommandLine, ValidFormsReachLoading) {
  TempDir dir;
  std::string d1 = dir.mkdir("d1"), d2 = dir.mkdir("d2"), lib = dir.mkdir("lib");
  std::string out = dir.mkdir("out");
  const std::vector<std::vector<std::string>> good = {
      {"top", d1, d2, "-r", lib, "-w", out},
      {"-a", "-w", out, "top", d1, "-f"},
      {"top", "-w", out, d1},
      {"top", d1, "-r", "a", "-r", "b", "-w", out},  // -r inside a run is a directory
      {"top", d1, "-a", "-a", "-f", "-f", "-w", out},
      {"top", "-r", lib, "-w", out, d1},
  };
  for (const auto& args : good) {
    RunResult r = run_inproc(args);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.err, std::string(kBanner) + "Start to read NLD/PCD files\n" +
                         "Could not find \"top.nld\"\n")
        << ::testing::PrintToString(args);
  }
}

}  // namespace
}  // namespace zelk::test
