// The command line: which argument lists are usage errors and which reach
// the loading stage (the messages after the banner tell them apart).
#include <gtest/gtest.h>

#include "support/fixture.h"

namespace zelk::test {
namespace {

// What a run in-process writes after the six banner lines.
std::string after_banner(const std::vector<std::string>& args) {
  std::string err = run_inproc(args).err;
  size_t at = 0;
  for (int line = 0; line < 6; ++line) at = err.find('\n', at) + 1;
  return err.substr(at);
}

TEST(CommandLine, UsageErrors) {
  const std::string usage =
      "usage:\n"
      "        zelk [-a] <top_module_name> <nld_or_pcd_dir> ... \n"
      "             [-r <nld_or_pcd_dir> ...] -w <write_dir>\n";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {},
           {"top"},
           {"top", "d", "-w"},                              // three arguments are never enough
           {"top", "-w", "out", "-a"},                      // no optimisation directory
           {"top", "d1", "-w", "out", "d2"},                // a second optimisation list
           {"top", "-r", "lib", "d1", "-w", "out"},         // the next directory joins the read-only list
           {"top", "d", "-w", "a", "-w", "b"},              // a second -w
           {"top", "d", "-r", "a", "-w", "o", "-r", "b"},   // a second -r run
           {"top", "d", "-a", "-w"},                        // -w as the last argument
           {"top", "d", "-w", "o", "-r"},                   // -r as the last argument
           {"top", "d", "-a", "-f"},                        // no write directory
       })
    EXPECT_EQ(after_banner(args), usage) << testing::PrintToString(args);
}

TEST(CommandLine, ValidFormsReachLoading) {
  const std::string loading = "Start to read NLD/PCD files\nCould not find \"top.nld\"\n";
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"top", "d1", "d2", "-r", "lib", "-w", "out"},
           {"-a", "-w", "out", "top", "d1", "-f"},
           {"top", "-w", "out", "d1"},
           {"top", "d1", "-r", "a", "-r", "b", "-w", "out"},  // -r inside a run is a directory
           {"top", "d1", "-a", "-a", "-f", "-f", "-w", "out"},
           {"top", "-r", "lib", "-w", "out", "d1"},
       })
    EXPECT_EQ(after_banner(args), loading) << testing::PrintToString(args);
  // With four arguments "-author" is the top module name.
  EXPECT_EQ(after_banner({"-author", "d", "-w", "o"}),
            "Start to read NLD/PCD files\nCould not find \"-author.nld\"\n");
}

}  // namespace
}  // namespace zelk::test
