// Random corner-case designs (every pin type across boundaries, every
// register kind, constants, supply pins, tristate buses, library cells,
// read-only modules, several copies) with every option: what zelk writes
// computes what it read, and reads back.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "gen/generator.h"
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
  // ZELK_CORNER_SEEDS=N tries seeds 1..N; ZELK_CORNER_FIRST=F starts a
  // longer campaign at seed F instead.
  int seeds = 150, first = 1;
  if (const char* env = std::getenv("ZELK_CORNER_SEEDS")) seeds = std::atoi(env);
  if (const char* env = std::getenv("ZELK_CORNER_FIRST")) first = std::atoi(env);
  const std::vector<std::vector<std::string>> options = {{}, {"-a"}, {"-f"}, {"-a", "-f"}};
  int failures = 0;
  for (int seed = first; seed <= seeds && failures < 3; ++seed) {
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

}  // namespace
}  // namespace zelk::test
