// zelk on the shared benchmark designs: every design it writes computes
// what its input computes and reads back into zelk.  Also a guard that the
// oracle does see a difference.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>

#include "support/fixture.h"
#include "support/sim.h"

namespace zelk::test {
namespace {

namespace fs = std::filesystem;

// The oracle is the only judge of a blessed run: it must see a missing
// inverter before an output and before a register.
TEST(Oracle, SeesDifferences) {
  auto equiv = [](const std::string& a, const std::string& b) {
    TempDir dir;
    dir.write("a/top.nld", "(def-module top (def-pin d type input) (def-pin y type output)" + a);
    dir.write("b/top.nld", "(def-module top (def-pin d type input) (def-pin y type output)" + b);
    return check_equivalent("top", {dir / "a"}, "top", {dir / "b"});
  };
  const std::string reg = " (def-comp reg-1 R) (def-net R.out y)";
  const std::string inv = " (def-comp inv- i) (def-net d i.in) (def-net i.nout ";
  EXPECT_EQ(equiv(reg + inv + "R.in))", reg + inv + "R.in))"), "");
  EXPECT_EQ(equiv(reg + inv + "R.in))", reg + " (def-net d R.in))")
                .rfind("observed point R.in differs", 0), 0u);
  EXPECT_EQ(equiv(inv + "y))", " (def-comp ninv- i) (def-net d i.in) (def-net i.out y))")
                .rfind("observed point y differs", 0), 0u);
}

struct Bench {
  std::string dir, name, flags;
};

void PrintTo(const Bench& b, std::ostream* os) { *os << b.name << " " << b.flags; }

std::vector<Bench> benches() {
  std::vector<Bench> list;
  std::string root = shared_designs_dir();
  if (root.empty()) return list;
  std::error_code ec;
  for (const char* suite : {"iscas85", "iscas89", "epfl"})
    for (auto& e : fs::directory_iterator(root + "/" + suite, ec)) {
      std::string name = e.path().filename().string();
      if (!file_exists(e.path().string() + "/" + name + ".nld")) continue;
      list.push_back({e.path().string(), name, ""});
      for (const char* small : {"c17", "c432", "s27", "s344", "cavlc", "i2c"})
        if (name == small)
          for (const char* flags : {"-a", "-f", "-a -f"})
            list.push_back({e.path().string(), name, flags});
    }
  std::sort(list.begin(), list.end(),
            [](const Bench& a, const Bench& b) { return a.name + a.flags < b.name + b.flags; });
  return list;
}

class Benchmark : public testing::TestWithParam<Bench> {};

// Large designs only with ZELK_ALL_DESIGNS=1, to keep CI short.
TEST_P(Benchmark, OutputComputesTheInput) {
  const Bench& b = GetParam();
  SimDesign in = load_sim(b.name, {b.dir});
  const char* every = std::getenv("ZELK_ALL_DESIGNS");
  if (in.cells >= 20000 && !(every && std::string(every) == "1"))
    GTEST_SKIP() << in.cells << " cells; ZELK_ALL_DESIGNS=1 runs it";
  TempDir work;
  std::string out = b.dir;
  for (int pass = 1; pass <= 2; ++pass) {
    std::vector<std::string> args{b.name, out, "-w", work.mkdir("out" + std::to_string(pass))};
    if (b.flags.find("-a") != std::string::npos) args.push_back("-a");
    if (b.flags.find("-f") != std::string::npos) args.push_back("-f");
    RunResult r = run_zelk(args);
    ASSERT_EQ(r.status, 0) << "pass " << pass << "\n" << r.err;
    out = args[3];
    EXPECT_EQ(compare(in, load_sim(b.name, {out})), "") << "pass " << pass;
  }
}

std::string bench_name(const testing::TestParamInfo<Bench>& info) {
  std::string s = info.param.name;
  for (char c : info.param.flags)
    if (std::isalpha(static_cast<unsigned char>(c))) s += std::string("_") + c;
  return s;
}

INSTANTIATE_TEST_SUITE_P(Designs, Benchmark, testing::ValuesIn(benches()), bench_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Benchmark);

}  // namespace
}  // namespace zelk::test
