// An inversion crossing a module boundary on a pin of any type keeps the
// design's function, in hierarchical and in flat output, and what zelk
// writes reads back with the count it reported.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/fixture.h"
#include "support/sim.h"

namespace zelk::test {
namespace {

// Runs zelk on the design in dir/in (top module "top"), checks the written
// design against the input and reads it back.  Returns the summary line.
std::string run_checked(const TempDir& dir, const std::vector<std::string>& options) {
  std::vector<std::string> args{"top", dir / "in", "-w", dir.mkdir("out")};
  args.insert(args.end(), options.begin(), options.end());
  RunResult r = run_inproc(args);
  EXPECT_EQ(r.status, 0) << r.err;
  std::string summary = r.err.substr(r.err.rfind('\t') + 1);
  EXPECT_EQ(check_equivalent("top", {dir / "in"}, "top", {dir / "out"}), "")
      << "options:" << (options.empty() ? " none" : " " + options[0]) << "\n" << r.err;
  RunResult back = run_inproc({"top", dir / "out", "-w", dir.mkdir("back")});
  EXPECT_EQ(back.status, 0) << back.err;
  std::string final_count = summary.substr(summary.find("---> ") + 5);
  EXPECT_NE(back.err.find("\t" + final_count.substr(0, final_count.size() - 1) + " ---> "),
            std::string::npos)
      << back.err;
  return summary;
}

class PinType : public ::testing::TestWithParam<std::tuple<std::string, bool>> {};
using IntoChild = PinType;
using OutOfChild = PinType;

// The parent drives the child's pin g through an inverter; the child
// computes z = g and c.
TEST_P(IntoChild, Inversion) {
  auto [type, flat] = GetParam();
  TempDir dir;
  dir.write("in/top.nld",
            "(def-module top (def-pin a type input) (def-pin c type input)\n"
            " (def-pin z type output) (def-comp inv- i1) (def-comp m u1)\n"
            " (def-net a i1.in) (def-net i1.nout u1.g) (def-net c u1.c) (def-net u1.z z))\n");
  dir.write("in/m.nld", "(def-module m (def-pin g type " + type +
                            ") (def-pin c type input) (def-pin z type output)\n"
                            " (def-comp and--2 g1) (def-net g g1.in1) (def-net c g1.in2)"
                            " (def-net g1.out z))\n");
  run_checked(dir, flat ? std::vector<std::string>{"-f"} : std::vector<std::string>{});
}

// The child drives its pin q through an inverter; the parent reads it.
TEST_P(OutOfChild, Inversion) {
  auto [type, flat] = GetParam();
  TempDir dir;
  dir.write("in/top.nld",
            "(def-module top (def-pin a type input) (def-pin b type input)\n"
            " (def-pin c type input) (def-pin z type output)\n"
            " (def-comp m u1) (def-comp and--2 g2)\n"
            " (def-net a u1.a) (def-net c u1.c) (def-net u1.q g2.in1) (def-net b g2.in2)"
            " (def-net g2.out z))\n");
  dir.write("in/m.nld", "(def-module m (def-pin a type input) (def-pin c type input)"
                        " (def-pin q type " + type + ")\n"
                        " (def-comp and--2 g1) (def-comp inv- i1)\n"
                        " (def-net a g1.in1) (def-net c g1.in2) (def-net g1.out i1.in)"
                        " (def-net i1.nout q))\n");
  run_checked(dir, flat ? std::vector<std::string>{"-f"} : std::vector<std::string>{});
}

std::string case_name(const ::testing::TestParamInfo<PinType::ParamType>& info) {
  return std::get<0>(info.param) + (std::get<1>(info.param) ? "_flat" : "_tree");
}

// Every pin type that a parent can drive, and every one that a child can.
INSTANTIATE_TEST_SUITE_P(EveryType, IntoChild,
                         ::testing::Combine(::testing::Values("input", "global", "clock", "scan_in",
                                                              "scan_enb", "static", "undefined",
                                                              "unused", "bidirect"),
                                            ::testing::Bool()),
                         case_name);
INSTANTIATE_TEST_SUITE_P(EveryType, OutOfChild,
                         ::testing::Combine(::testing::Values("output", "global", "clock",
                                                              "scan_out", "static", "undefined",
                                                              "bidirect", "tristate"),
                                            ::testing::Bool()),
                         case_name);

}  // namespace
}  // namespace zelk::test
