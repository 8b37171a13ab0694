// Random corner-case designs (every pin type across boundaries, every
// register kind, constants, supply pins, tristate buses, library cells,
// read-only modules, several copies) with every option: what zelk writes
// computes what it read, and reads back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gen/corner.h"
#include "support/fixture.h"
#include "support/sim.h"

namespace zelk::test {
namespace {

std::string describe(const zelkgen::CornerDesign& d) {
  std::string t;
  for (const auto& [name, text] : d.opt) t += "--- " + name + "\n" + text;
  for (const auto& [name, text] : d.lib) t += "--- lib/" + name + "\n" + text;
  return t;
}

// Runs zelk on a design and compares what it wrote with it: "" when equal.
std::string run_and_compare(const zelkgen::CornerDesign& design,
                            const std::vector<std::string>& opts) {
  TempDir dir;
  for (const auto& [name, text] : design.opt) dir.write("opt/" + name, text);
  for (const auto& [name, text] : design.lib) dir.write("lib/" + name, text);
  dir.mkdir("lib");
  std::vector<std::string> args{"top", dir / "opt", "-r", dir / "lib", "-w", dir.mkdir("out")};
  args.insert(args.end(), opts.begin(), opts.end());
  RunResult r = run_inproc(args);
  if (r.status != 0) return "status " + std::to_string(r.status) + "\n" + r.err;
  std::string diff =
      check_equivalent("top", {dir / "opt", dir / "lib"}, "top", {dir / "out", dir / "lib"});
  if (!diff.empty()) return diff;
  RunResult back = run_inproc({"top", dir / "out", "-r", dir / "lib", "-w", dir.mkdir("back")});
  return back.status == 0 ? "" : "written design does not read back:\n" + back.err;
}

TEST(CornerDesigns, WrittenDesignComputesInputFunction) {
  int seeds = 150;
  if (const char* env = std::getenv("ZELK_CORNER_SEEDS")) seeds = std::atoi(env);
  const std::vector<std::vector<std::string>> options = {{}, {"-a"}, {"-f"}, {"-a", "-f"}};
  int failures = 0;
  for (int seed = 1; seed <= seeds && failures < 3; ++seed) {
    zelkgen::CornerDesign design = zelkgen::corner_design(static_cast<uint64_t>(seed));
    for (const auto& opts : options) {
      std::string diff = run_and_compare(design, opts);
      if (diff.empty()) continue;
      ++failures;
      std::string option = opts.empty() ? "none" : opts.size() == 1 ? opts[0] : "-a -f";
      ADD_FAILURE() << "seed " << seed << ", option " << option << ": " << diff << "\n"
                    << describe(design);
    }
  }
}

// Function changes that the rules of the reduction and the rebuild allow
// as they stand; each is the smallest case found by the random designs.
// They are kept disabled until a rule covers them.

// A gate's flip inverts its whole output net, but a bidirect top pin that
// reads the net carries no weight and gets the inverted signal.
TEST(CornerDesigns, DISABLED_GateFlipInvertsBidirectPinReadingItsOutput) {
  EXPECT_EQ(run_and_compare({{{"top.nld",
                               "(def-module top (def-pin a type input) (def-pin b type input)"
                               " (def-pin p type bidirect) (def-pin z type output)"
                               " (def-comp inv- i1 i2) (def-comp nand--2 g)"
                               " (def-net a i1.in) (def-net b i2.in) (def-net i1.nout g.in1)"
                               " (def-net i2.nout g.in2) (def-net g.nout p z))"}}, {}},
                            {}),
            "");
}

// A supply net that passes through a copy's tristate pin becomes a tristate
// net: the constant exchange skips it and the inversion after it is lost.
TEST(CornerDesigns, DISABLED_SupplyThroughTristatePinLosesInversion) {
  EXPECT_EQ(run_and_compare({{{"top.nld",
                               "(def-module top (def-pin VSS type global) (def-pin z type output)"
                               " (def-comp m u1) (def-comp inv- i1) (def-net VSS u1.a)"
                               " (def-net u1.y i1.in) (def-net i1.nout z))"},
                              {"m.nld",
                               "(def-module m (def-pin a type static) (def-pin y type tristate)"
                               " (def-net a y))"}},
                             {}},
                            {}),
            "");
}

// A net driven only through a read-only module's scan_out pin gets no type,
// and the rebuild drops it with the pin it drives.
TEST(CornerDesigns, DISABLED_NetDrivenByScanOutOfFixedModuleIsDropped) {
  EXPECT_EQ(run_and_compare({{{"top.nld",
                               "(def-module top (def-pin a type input) (def-pin z type output)"
                               " (def-pin y type output) (def-comp fx u1) (def-comp inv- i1 i2)"
                               " (def-net a u1.a i1.in) (def-net u1.q z) (def-net i1.nout i2.in)"
                               " (def-net i2.nout y))"}},
                             {{"fx.nld",
                               "(def-module fx (def-pin a type input) (def-pin q type scan_out)"
                               " (def-comp and--2 g) (def-net a g.in1 g.in2) (def-net g.out q))"}}},
                            {}),
            "");
}

// A copy drives its global pin from a copy's scan_out pin: the parent net
// that reads the global pin is never joined, and its reader loses its driver.
TEST(CornerDesigns, DISABLED_GlobalPinDrivenThroughScanOutLosesReader) {
  EXPECT_EQ(run_and_compare({{{"top.nld",
                               "(def-module top (def-pin a type input) (def-pin z type output)"
                               " (def-pin y type output) (def-comp m u1) (def-comp inv- i2 i3)"
                               " (def-net a u1.a i2.in) (def-net u1.g z) (def-net i2.nout i3.in)"
                               " (def-net i3.nout y))"},
                              {"m.nld",
                               "(def-module m (def-pin a type input) (def-pin g type global)"
                               " (def-comp n u2) (def-comp inv- i1) (def-net a u2.a)"
                               " (def-net u2.q i1.in) (def-net i1.nout g))"},
                              {"n.nld",
                               "(def-module n (def-pin a type input) (def-pin q type scan_out)"
                               " (def-comp and--2 g) (def-net a g.in1 g.in2) (def-net g.out q))"}},
                             {}},
                            {}),
            "");
}

}  // namespace
}  // namespace zelk::test
