// The reference equivalence checker, and zelk runs checked with it: every
// design zelk writes must compute what its input computes, and must read
// back into zelk.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "support/fixture.h"
#include "support/sim.h"

namespace zelk::test {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

// Writes two designs into their own directories and compares them.
std::string equiv(const Files& a, const Files& b, const std::string& top = "top") {
  TempDir dir;
  for (auto& [name, text] : a) dir.write("a/" + name, text);
  for (auto& [name, text] : b) dir.write("b/" + name, text);
  return check_equivalent(top, {dir / "a"}, top, {dir / "b"});
}

SimDesign load_files(const TempDir& dir, const Files& files, const std::string& top = "top") {
  for (auto& [name, text] : files) dir.write("d/" + name, text);
  return load_sim(top, {dir / "d"});
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

const std::string kAnd2 =
    "(def-module top (def-pin a type input) (def-pin b type input) (def-pin y type output)\n"
    " (def-comp and--2 g) (def-net a g.in1) (def-net b g.in2) (def-net g.out y))\n";
const std::string kNandInv =
    "(def-module top (def-pin a type input) (def-pin b type input) (def-pin y type output)\n"
    " (def-comp nand--2 g) (def-comp inv- i)\n"
    " (def-net a g.in2) (def-net b g.in1) (def-net g.nout i.in) (def-net i.nout y))\n";
const std::string kNandOnly =
    "(def-module top (def-pin a type input) (def-pin b type input) (def-pin y type output)\n"
    " (def-comp nand--2 g) (def-net a g.in1) (def-net b g.in2) (def-net g.nout y))\n";

TEST(EquivalenceChecker, EquivalentPairs) {
  EXPECT_EQ(equiv({{"top.nld", kAnd2}}, {{"top.nld", kAnd2}}), "");
  EXPECT_EQ(equiv({{"top.nld", kAnd2}}, {{"top.nld", kNandInv}}), "");

  // eor(a, b) against enor(!a, b).
  EXPECT_EQ(equiv({{"top.nld",
                    "(def-module top (def-pin a type input) (def-pin b type input)"
                    " (def-pin y type output) (def-comp eor--2 e)"
                    " (def-net a e.in1) (def-net b e.in2) (def-net e.out y))"}},
                  {{"top.nld",
                    "(def-module top (def-pin a type input) (def-pin b type input)"
                    " (def-pin y type output) (def-comp enor--2 e) (def-comp inv- i)"
                    " (def-net a i.in) (def-net i.nout e.in2) (def-net b e.in1)"
                    " (def-net e.nout y))"}}),
            "");

  // De Morgan: aoi21(a, b, c) = !oai21(!a, !b, !c); the inputs of the
  // and-or cell are grouped by the number in their names, whatever the
  // order of the file.
  EXPECT_EQ(equiv({{"top.nld",
                    "(def-module top (def-pin a type input) (def-pin b type input)"
                    " (def-pin c type input) (def-pin y type output) (def-comp aoi--21 g)"
                    " (def-net c g.in3) (def-net a g.in1) (def-net b g.in2) (def-net g.nout y))"}},
                  {{"top.nld",
                    "(def-module top (def-pin a type input) (def-pin b type input)"
                    " (def-pin c type input) (def-pin y type output) (def-comp oai--21 g)"
                    " (def-comp inv- ia ib ic io) (def-net a ia.in) (def-net b ib.in)"
                    " (def-net c ic.in) (def-net ic.nout g.in3) (def-net ia.nout g.in1)"
                    " (def-net ib.nout g.in2) (def-net g.nout io.in) (def-net io.nout y))"}}),
            "");

  // aoi--211 is !((in1 & in2) | in3 | in4).
  EXPECT_EQ(equiv({{"top.nld",
                    "(def-module top (def-pin a type input) (def-pin b type input)"
                    " (def-pin c type input) (def-pin d type input) (def-pin y type output)"
                    " (def-comp aoi--211 g) (def-net a g.in1) (def-net b g.in2)"
                    " (def-net c g.in3) (def-net d g.in4) (def-net g.nout y))"}},
                  {{"top.nld",
                    "(def-module top (def-pin a type input) (def-pin b type input)"
                    " (def-pin c type input) (def-pin d type input) (def-pin y type output)"
                    " (def-comp and--2 g1) (def-comp nor--3 g2) (def-net a g1.in1)"
                    " (def-net b g1.in2) (def-net g1.out g2.x) (def-net c g2.y)"
                    " (def-net d g2.z) (def-net g2.nout y))"}}),
            "");

  // A register's nout instead of out and an inverter.
  const char* reg_a =
      "(def-module top (def-pin d type input) (def-pin ck type input) (def-pin y type output)"
      " (def-comp reg-1 R) (def-comp inv- i) (def-net d R.in) (def-net ck R.m_clock)"
      " (def-net R.out i.in) (def-net i.nout y))";
  const char* reg_b =
      "(def-module top (def-pin d type input) (def-pin ck type input) (def-pin y type output)"
      " (def-comp reg-1 R) (def-net d R.in) (def-net ck R.m_clock) (def-net R.nout y))";
  EXPECT_EQ(equiv({{"top.nld", reg_a}}, {{"top.nld", reg_b}}), "");

  // A tri-state bus inverted as a whole: data inputs and sink.
  const char* bus_a =
      "(def-module top (def-pin a type input) (def-pin b type input) (def-pin e1 type input)"
      " (def-pin e2 type input) (def-pin y type output) (def-comp ts_buf- t1 t2)"
      " (def-net a t1.in) (def-net b t2.in) (def-net e1 t1.nenb) (def-net e2 t2.nenb)"
      " (def-net t1.out t2.out y))";
  const char* bus_b =
      "(def-module top (def-pin a type input) (def-pin b type input) (def-pin e1 type input)"
      " (def-pin e2 type input) (def-pin y type output) (def-comp ts_buf- t1 t2)"
      " (def-comp inv- ia ib iy) (def-net a ia.in) (def-net b ib.in) (def-net ia.nout t1.in)"
      " (def-net ib.nout t2.in) (def-net e1 t1.nenb) (def-net e2 t2.nenb)"
      " (def-net t2.out t1.out iy.in) (def-net iy.nout y))";
  EXPECT_EQ(equiv({{"top.nld", bus_a}}, {{"top.nld", bus_b}}), "");

  // Hierarchy against its flat form: registers are named by their path, a
  // global pin left open is the top's signal of that name, and "VDD" is a
  // constant, not a free input.
  const char* sub =
      "(def-module sub (def-pin x type input) (def-pin z type output)"
      " (def-pin ck type global) (def-comp reg-1 R) (def-comp inv- i)"
      " (def-net x R.in) (def-net ck R.m_clock) (def-net R.out i.in) (def-net i.nout z))";
  const char* hier =
      "(def-module top (def-pin d type input) (def-pin ck type input) (def-pin y type output)"
      " (def-comp sub u1 u2) (def-net d u1.x) (def-net u1.z u2.x) (def-net u2.z y))";
  const char* flat =
      "(def-module top (def-pin d type input) (def-pin ck type input) (def-pin y type output)"
      " (def-pin VDD type input) (def-comp reg-1 u1/R u2/R) (def-comp nand--2 g)"
      " (def-net d u1/R.in) (def-net ck u1/R.m_clock u2/R.m_clock)"
      " (def-net u1/R.nout u2/R.in) (def-net u2/R.out g.in1) (def-net VDD g.in2)"
      " (def-net g.nout y))";
  EXPECT_EQ(equiv({{"top.nld", hier}, {"sub.nld", sub}}, {{"top.nld", flat}}), "");
}

TEST(EquivalenceChecker, DifferencesAreNamed) {
  // One missing inverter.
  std::string r = equiv({{"top.nld", kAnd2}}, {{"top.nld", kNandOnly}});
  EXPECT_TRUE(contains(r, "observed point y differs")) << r;

  // Inverting only one data input of a bus changes it.
  const char* bus_a =
      "(def-module top (def-pin a type input) (def-pin b type input) (def-pin e1 type input)"
      " (def-pin e2 type input) (def-pin y type output) (def-comp ts_buf- t1 t2)"
      " (def-net a t1.in) (def-net b t2.in) (def-net e1 t1.nenb) (def-net e2 t2.nenb)"
      " (def-net t1.out t2.out y))";
  const char* bus_c =
      "(def-module top (def-pin a type input) (def-pin b type input) (def-pin e1 type input)"
      " (def-pin e2 type input) (def-pin y type output) (def-comp ts_buf- t1 t2)"
      " (def-comp inv- ia iy) (def-net a ia.in) (def-net ia.nout t1.in) (def-net b t2.in)"
      " (def-net e1 t1.nenb) (def-net e2 t2.nenb) (def-net t2.out t1.out iy.in)"
      " (def-net iy.nout y))";
  r = equiv({{"top.nld", bus_a}}, {{"top.nld", bus_c}});
  EXPECT_TRUE(contains(r, "observed point y differs")) << r;

  // Register inputs are observed: the difference is found behind a register.
  const char* reg_a =
      "(def-module top (def-pin d type input) (def-pin y type output) (def-comp reg-1 R)"
      " (def-comp inv- i) (def-net d i.in) (def-net i.nout R.in) (def-net R.out y))";
  const char* reg_b =
      "(def-module top (def-pin d type input) (def-pin y type output) (def-comp reg-1 R)"
      " (def-net d R.in) (def-net R.out y))";
  r = equiv({{"top.nld", reg_a}}, {{"top.nld", reg_b}});
  EXPECT_TRUE(contains(r, "observed point R.in differs")) << r;

  // Different free inputs and observed points.
  std::string renamed = kAnd2;
  renamed.replace(renamed.find("(def-pin b"), 10, "(def-pin c");
  renamed.replace(renamed.find("(def-net b"), 10, "(def-net c");
  r = equiv({{"top.nld", kAnd2}}, {{"top.nld", renamed}});
  EXPECT_EQ(r, "free input b only in the first design");
  const char* reg_renamed =
      "(def-module top (def-pin d type input) (def-pin y type output) (def-comp reg-1 Q)"
      " (def-comp inv- i) (def-net d i.in) (def-net i.nout Q.in) (def-net Q.out y))";
  r = equiv({{"top.nld", reg_a}}, {{"top.nld", reg_renamed}});
  EXPECT_EQ(r, "free input R only in the first design");

  // A PCD cell is a black box: outputs free, inputs observed.
  const char* bb_pcd =
      "(def-module bb area 2.5 cell_name bbx (def-pin d type input load .5)"
      " (def-pin q type output) (def-pin t type tristate))";
  const char* bb_a =
      "(def-module top (def-pin a type input) (def-pin y type output) (def-comp bb b1)"
      " (def-comp inv- i) (def-net a i.in) (def-net i.nout b1.d) (def-net b1.q y))";
  const char* bb_b =
      "(def-module top (def-pin a type input) (def-pin y type output) (def-comp bb b1)"
      " (def-net a b1.d) (def-net b1.q y))";
  EXPECT_EQ(equiv({{"top.nld", bb_a}, {"bb.pcd", bb_pcd}}, {{"top.nld", bb_a}, {"bb.pcd", bb_pcd}}),
            "");
  r = equiv({{"top.nld", bb_a}, {"bb.pcd", bb_pcd}}, {{"top.nld", bb_b}, {"bb.pcd", bb_pcd}});
  EXPECT_TRUE(contains(r, "observed point b1.d differs")) << r;
  TempDir dir;
  SimDesign d = load_files(dir, {{"top.nld", bb_a}, {"bb.pcd", bb_pcd}});
  std::vector<std::string> vars;
  for (auto& v : d.vars) vars.push_back(v.first);
  std::sort(vars.begin(), vars.end());
  EXPECT_EQ(vars, (std::vector<std::string>{"a", "b1.q", "b1.t"}));
  EXPECT_EQ(d.observed.count("b1.d"), 1u);
  EXPECT_EQ(d.inverters, 1);
  EXPECT_EQ(d.black_boxes, 1);
}

TEST(EquivalenceChecker, RejectsBrokenDesigns) {
  auto error_of = [](const Files& files) {
    TempDir dir;
    try {
      load_files(dir, files);
    } catch (const SimError& e) {
      return std::string(e.what());
    }
    return std::string();
  };
  EXPECT_TRUE(contains(error_of({{"top.nld",
                                  "(def-module top (def-pin y type output) (def-comp inv- i j)"
                                  " (def-net i.nout j.in y) (def-net j.nout i.in))"}}),
                       "combinational loop"));
  EXPECT_TRUE(contains(error_of({{"top.nld",
                                  "(def-module top (def-pin a type input) (def-pin y type output)"
                                  " (def-comp inv- i j) (def-net a i.in j.in)"
                                  " (def-net i.nout j.nout y))"}}),
                       "driven by both"));
  EXPECT_TRUE(contains(error_of({{"top.nld",
                                  "(def-module top (def-pin a type input) (def-comp inv- i)"
                                  " (def-net a i.out))"}}),
                       "no pin out"));
  EXPECT_TRUE(contains(error_of({{"top.nld", "(def-module top (def-comp nothere u1))"}}),
                       "could not find nothere.pcd/nld"));
  EXPECT_TRUE(contains(error_of({{"top.nld", "(def-module top (def-net u1.a))"}}),
                       "u1 undefined"));
  EXPECT_TRUE(contains(error_of({{"top.nld", "(def-module top (def-comp loop u1))"},
                                 {"loop.nld", "(def-module loop (def-comp top u1))"}}),
                       "instantiates itself"));
  // A loop through a register is no combinational loop.
  EXPECT_EQ(error_of({{"top.nld",
                       "(def-module top (def-pin y type output) (def-comp reg-1 R)"
                       " (def-comp inv- i) (def-net R.out i.in y) (def-net i.nout R.in))"}}),
            "");
}

TEST(EquivalenceChecker, BenchmarkDesignsEqualThemselves) {
  std::string dir = shared_designs_dir();
  if (dir.empty()) GTEST_SKIP() << "no shared designs";
  for (const char* path : {"iscas85/c17", "iscas89/s27", "epfl/cavlc"}) {
    std::string name = fs::path(path).filename().string();
    SimDesign d = load_sim(name, {dir + "/" + path});
    EXPECT_EQ(compare(d, d), "") << name;
    EXPECT_GT(d.cells, 0) << name;
  }
  SimDesign s27 = load_sim("s27", {dir + "/iscas89/s27"});
  EXPECT_EQ(s27.cells, 13);
  EXPECT_EQ(s27.inverters, 3);
  EXPECT_EQ(s27.observed.count("R1.in"), 1u);
}

// ------------------------------------------------------------------ zelk runs

// Why zelk cannot be checked yet ("" when it runs a simple design).
const std::string& zelk_missing() {
  static const std::string reason = [] {
    TempDir dir;
    dir.write("opt/probe.nld",
              "(def-module probe (def-pin a type input) (def-pin b type input)"
              " (def-pin c type input) (def-pin y type output) (def-comp and--2 g)"
              " (def-comp inv- i) (def-comp eor--2 e) (def-net a g.in1) (def-net b g.in2)"
              " (def-net g.out i.in) (def-net i.nout e.in1) (def-net c e.in2)"
              " (def-net e.out y))\n");
    std::string out = dir.mkdir("out");
    RunResult r = run_zelk({"probe", dir / "opt", "-w", out});
    if (r.status != 0 || contains(r.err, "not built"))
      return "zelk does not run yet (status " + std::to_string(r.status) + ")";
    return std::string();
  }();
  return reason;
}

#define SKIP_UNLESS_ZELK()                                           \
  do {                                                               \
    if (!zelk_missing().empty()) GTEST_SKIP() << zelk_missing();     \
  } while (0)

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Runs zelk on the design `top` of `opt` (with read-only directories
// `reads`), checks the output against the input, then runs zelk again on
// its own output and checks that too.
void run_and_check(const std::string& top, const std::string& opt,
                   const std::vector<std::string>& reads, const std::vector<std::string>& flags,
                   const TempDir& work, const SimDesign* original = nullptr) {
  SimDesign in;
  if (!original) {
    in = load_sim(top, with({opt}, reads));
    original = &in;
  }
  std::string dir = opt;
  for (int pass = 1; pass <= 2; ++pass) {
    std::string out = work.mkdir("out" + std::to_string(pass));
    std::vector<std::string> args{top, dir};
    std::vector<std::string> r_list = reads;
    if (pass == 2) r_list.push_back(opt);  // PCD cells are not written
    if (!r_list.empty()) {
      args.push_back("-r");
      args.insert(args.end(), r_list.begin(), r_list.end());
    }
    args.push_back("-w");
    args.push_back(out);
    args.insert(args.end(), flags.begin(), flags.end());
    RunResult r = run_zelk(args);
    ASSERT_EQ(r.status, 0) << "pass " << pass << "\n" << r.err;
    ASSERT_TRUE(contains(r.err, "Number of inverters\n")) << r.err;
    size_t at = r.err.rfind("\t");
    int before = -1, after = -1;
    ASSERT_EQ(std::sscanf(r.err.c_str() + at, "\t%d ---> %d", &before, &after), 2) << r.err;
    EXPECT_LE(after, before) << "pass " << pass;
    std::string counts = std::to_string(before);
    counts += " ---> ";
    counts += std::to_string(after);
    testing::Test::RecordProperty(pass == 1 ? "inverters" : "inverters_again", counts);
    SimDesign result;
    try {
      result = load_sim(top, with({out}, with(reads, {opt})));
    } catch (const SimError& e) {
      FAIL() << "pass " << pass << ": output unreadable: " << e.what();
    }
    EXPECT_EQ(compare(*original, result), "") << "pass " << pass;
    if (pass == 1) {
      EXPECT_EQ(result.inverters, after) << "inverters written";
    }
    dir = out;
  }
}

struct Small {
  const char* name;
  Files files;
};

std::vector<Small> small_designs() {
  return {
      {"and_inv_eor",
       {{"and_inv_eor.nld",
         "(def-module and_inv_eor (def-pin a type input) (def-pin b type input)\n"
         " (def-pin c type input) (def-pin y type output)\n"
         " (def-comp and--2 g1) (def-comp inv- i1) (def-comp eor--2 e1)\n"
         " (def-net a g1.in1) (def-net b g1.in2) (def-net g1.out i1.in)\n"
         " (def-net i1.nout e1.in1) (def-net c e1.in2) (def-net e1.out y))\n"}}},
      {"regs",
       {{"regs.nld",
         "(def-module regs (def-pin d type input) (def-pin e type input)\n"
         " (def-pin ck type input) (def-pin y type output) (def-pin z type output)\n"
         " (def-comp reg-1 R1 R2) (def-comp inv- i1 i2 i3) (def-comp nand--2 g1)\n"
         " (def-net d i1.in) (def-net i1.nout R1.in) (def-net ck R1.m_clock R2.m_clock)\n"
         " (def-net R1.out i2.in) (def-net i2.nout g1.in1) (def-net e g1.in2)\n"
         " (def-net g1.nout R2.in i3.in) (def-net i3.nout y) (def-net R2.out z))\n"}}},
      {"demorgan",
       {{"demorgan.nld",
         "(def-module demorgan (def-pin a type input) (def-pin b type input)\n"
         " (def-pin c type input) (def-pin d type input) (def-pin y type output)\n"
         " (def-pin z type output)\n"
         " (def-comp inv- i1 i2 i3 i4 i5) (def-comp aoi--21 g1) (def-comp oai--22 g2)\n"
         " (def-comp nor--3 g3) (def-comp or--3 g4)\n"
         " (def-net a i1.in g3.in3) (def-net b i2.in) (def-net c i3.in g2.in4)\n"
         " (def-net i1.nout g1.in1 g2.in1) (def-net i2.nout g1.in2 g2.in2)\n"
         " (def-net i3.nout g1.in3 g4.in1) (def-net d g2.in3 g4.in2)\n"
         " (def-net g1.nout i4.in g3.in1) (def-net i4.nout y)\n"
         " (def-net g2.nout g3.in2) (def-net g3.nout i5.in) (def-net i5.nout g4.in3)\n"
         " (def-net g4.out z))\n"}}},
      {"bus",
       {{"bus.nld",
         "(def-module bus (def-pin a type input) (def-pin b type input)\n"
         " (def-pin c type input) (def-pin e1 type input) (def-pin e2 type input)\n"
         " (def-pin y type output)\n"
         " (def-comp inv- i1 i2 i3) (def-comp ts_buf- t1 t2) (def-comp and--2 g1)\n"
         " (def-net a i1.in) (def-net b i2.in) (def-net i1.nout t1.in)\n"
         " (def-net i2.nout t2.in) (def-net e1 t1.nenb) (def-net e2 t2.nenb)\n"
         " (def-net t1.out t2.out i3.in) (def-net i3.nout g1.in1) (def-net c g1.in2)\n"
         " (def-net g1.out y))\n"}}},
      {"consts",
       {{"consts.nld",
         "(def-module consts (def-pin a type input) (def-pin VDD type input)\n"
         " (def-pin y type output) (def-pin z type output)\n"
         " (def-comp high- h1) (def-comp low- l1) (def-comp inv- i1 i2)\n"
         " (def-comp and--3 g1) (def-comp or--2 g2)\n"
         " (def-net h1.out i1.in) (def-net i1.nout g2.in1) (def-net a g1.in1 g2.in2)\n"
         " (def-net VDD g1.in2) (def-net l1.nout i2.in) (def-net i2.nout g1.in3)\n"
         " (def-net g1.out y) (def-net g2.out z))\n"}}},
      {"global_clock",
       {{"global_clock.nld",
         "(def-module global_clock (def-pin d type input) (def-pin e type input)\n"
         " (def-pin ck type input) (def-pin y type output)\n"
         " (def-comp core u1 u2) (def-comp inv- i1)\n"
         " (def-net d u1.x) (def-net e u1.w u2.w) (def-net u1.q i1.in)\n"
         " (def-net i1.nout u2.x) (def-net u2.q y))\n"},
        {"core.nld",
         "(def-module core (def-pin x type input) (def-pin w type input)\n"
         " (def-pin q type output) (def-pin ck type global)\n"
         " (def-comp reg-1 R) (def-comp and--2 g) (def-comp inv- i) (def-comp eor--2 e)\n"
         " (def-net x g.in1) (def-net w g.in2 e.in2) (def-net g.out i.in)\n"
         " (def-net i.nout e.in1) (def-net e.out R.in) (def-net ck R.m_clock)\n"
         " (def-net R.out q))\n"}}},
  };
}

TEST(EquivalenceZelk, SmallDesigns) {
  SKIP_UNLESS_ZELK();
  for (const Small& s : small_designs()) {
    for (const std::vector<std::string>& flags :
         {std::vector<std::string>{}, {"-a"}, {"-f"}, {"-a", "-f"}}) {
      std::string trace = s.name;
      for (const std::string& f : flags) trace += " " + f;
      SCOPED_TRACE(trace);
      TempDir work;
      for (auto& [name, text] : s.files) work.write("opt/" + name, text);
      run_and_check(s.name, work / "opt", {}, flags, work);
    }
  }
}

// A top module with two copies of a module holding inverters, a fixed
// module from a read-only directory and a PCD cell.
TEST(EquivalenceZelk, HierarchicalFlow) {
  SKIP_UNLESS_ZELK();
  const Files opt = {
      {"hier.nld",
       "(def-module hier (def-pin a type input) (def-pin b type input)\n"
       " (def-pin ck type input) (def-pin y1 type output) (def-pin y2 type output)\n"
       " (def-pin y3 type output)\n"
       " (def-comp sub u1 u2) (def-comp fix f1) (def-comp bb b1) (def-comp inv- i1 i2)\n"
       " (def-comp nand--2 g1)\n"
       " (def-net a u1.x) (def-net b u1.w u2.w) (def-net ck u1.ck u2.ck)\n"
       " (def-net u1.z i1.in) (def-net i1.nout u2.x) (def-net u2.z y1)\n"
       " (def-net u1.q g1.in1) (def-net u2.q g1.in2) (def-net g1.nout f1.a b1.d)\n"
       " (def-net f1.y y2) (def-net b1.q i2.in) (def-net i2.nout y3))\n"},
      {"sub.nld",
       "(def-module sub (def-pin x type input) (def-pin w type input)\n"
       " (def-pin ck type input) (def-pin z type output) (def-pin q type output)\n"
       " (def-comp and--2 g1) (def-comp inv- i1 i2) (def-comp eor--2 e1) (def-comp reg-1 R)\n"
       " (def-net x g1.in1) (def-net w g1.in2 e1.in2) (def-net g1.out i1.in)\n"
       " (def-net i1.nout e1.in1) (def-net e1.out z R.in) (def-net ck R.m_clock)\n"
       " (def-net R.out i2.in) (def-net i2.nout q))\n"},
  };
  const Files lib = {
      {"fix.nld",
       "(def-module fix (def-pin a type input) (def-pin y type output) (def-comp inv- i)\n"
       " (def-net a i.in) (def-net i.nout y))\n"},
      {"bb.pcd",
       "(def-module bb area 4 cell_name bbx (def-pin d type input load 1.5)\n"
       " (def-pin q type output))\n"},
  };
  for (const std::vector<std::string>& flags : {std::vector<std::string>{}, {"-f"}}) {
    SCOPED_TRACE(flags.empty() ? "hierarchical" : "flat");
    TempDir work;
    for (auto& [name, text] : opt) work.write("opt/" + name, text);
    for (auto& [name, text] : lib) work.write("lib/" + name, text);
    run_and_check("hier", work / "opt", {work / "lib"}, flags, work);
    if (flags.empty()) {
      // The copies became modules of their own; the fixed module is copied.
      std::vector<std::string> written = list_dir(work / "out1");
      EXPECT_TRUE(std::find(written.begin(), written.end(), "fix.nld") != written.end());
      EXPECT_TRUE(std::find(written.begin(), written.end(), "hier.nld") != written.end());
      EXPECT_TRUE(std::find(written.begin(), written.end(), "bb.pcd") == written.end());
    } else {
      EXPECT_TRUE(file_exists(work / "out1/hier.nld"));
      EXPECT_FALSE(file_exists(work / "out1/sub.nld"));
    }
  }
}

// ------------------------------------------------------------------ benchmarks

struct Bench {
  std::string suite, name;
  std::vector<std::string> flags;
};

std::vector<Bench> all_benches() {
  std::vector<Bench> list;
  std::string dir = shared_designs_dir();
  if (dir.empty()) return list;
  std::error_code ec;
  for (const char* suite : {"iscas85", "iscas89", "epfl"})
    for (auto& e : fs::directory_iterator(dir + "/" + suite, ec))
      if (e.is_directory() && file_exists(e.path().string() + "/" +
                                          e.path().filename().string() + ".nld"))
        list.push_back({suite, e.path().filename().string(), {}});
  std::sort(list.begin(), list.end(), [](const Bench& a, const Bench& b) {
    return a.suite != b.suite ? a.suite < b.suite : a.name < b.name;
  });
  return list;
}

std::vector<Bench> option_benches() {
  std::vector<Bench> list;
  for (const Bench& b : all_benches())
    for (const char* n : {"c17", "c432", "c880", "s27", "s344", "s1196", "cavlc", "i2c"})
      if (b.name == n)
        for (const std::vector<std::string>& f :
             {std::vector<std::string>{"-a"}, {"-f"}, {"-a", "-f"}})
          list.push_back({b.suite, b.name, f});
  return list;
}

std::string bench_name(const testing::TestParamInfo<Bench>& info) {
  std::string s = info.param.name;
  for (const auto& f : info.param.flags) {
    s += '_';
    s.append(f, 1);
  }
  return s;
}

class EquivalenceBench : public testing::TestWithParam<Bench> {};

TEST_P(EquivalenceBench, OutputEqualsInput) {
  SKIP_UNLESS_ZELK();
  const Bench& b = GetParam();
  std::string opt = shared_designs_dir() + "/" + b.suite + "/" + b.name;
  SimDesign in = load_sim(b.name, {opt});
  const char* every = std::getenv("ZELK_ALL_DESIGNS");
  if (in.cells >= 20000 && !(every && std::string(every) == "1"))
    GTEST_SKIP() << in.cells << " cells; ZELK_ALL_DESIGNS=1 runs it";
  TempDir work;
  run_and_check(b.name, opt, {}, b.flags, work, &in);
}

INSTANTIATE_TEST_SUITE_P(Designs, EquivalenceBench, testing::ValuesIn(all_benches()), bench_name);
INSTANTIATE_TEST_SUITE_P(Options, EquivalenceBench, testing::ValuesIn(option_benches()),
                         bench_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(EquivalenceBench);

}  // namespace
}  // namespace zelk::test
