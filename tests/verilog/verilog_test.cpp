// zelk-verilog: the cell library, Verilog names, round trips of NLD designs
// through Verilog, Yosys netlists read in, refused input, and (with Yosys
// installed) the proof command.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "../../bench/gen/generator.h"
#include "loader/loader.h"
#include "support/fixture.h"
#include "support/sim.h"
#include "verilog/verilog.h"

namespace zelk::test {
namespace {

const std::string kSrc = ZELK_SOURCE_DIR;
const std::string kExample = kSrc + "/examples/design";
const std::string kExampleLib = kSrc + "/examples/lib";

// Runs a shell command line; returns its exit status, standard error in
// *err and standard output in *out.
int shell(const std::string& cmd, std::string* err = nullptr, std::string* out = nullptr) {
  TempDir io;
  int rc = std::system(("{ " + cmd + "; } >" + (io / "out") + " 2>" + (io / "err")).c_str());
  if (err) *err = read_file(io / "err");
  if (out) *out = read_file(io / "out");
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : 128;
}

std::string zv() { return ZELK_VERILOG_BINARY; }

// The proof command, run with this build's programs.
std::string prove_command() {
  return std::string("ZELK=") + ZELK_BINARY + " ZELK_VERILOG=" + zv() + " " + kSrc + "/scripts/prove";
}

bool have_yosys() { return shell("command -v yosys && (command -v berkeley-abc || command -v yosys-abc)") == 0; }

TEST(VerilogCells, ShippedLibraryIsTheWrittenOne) {
  EXPECT_EQ(read_file(kSrc + "/share/zelk_cells.v"), cell_library(false));
}

TEST(VerilogNames, LegalIdentifiers) {
  EXPECT_EQ(verilog_name("out1"), "out1");
  EXPECT_EQ(verilog_name("and--2"), "\\and--2 ");
  EXPECT_EQ(verilog_name("u1/u2/R1"), "\\u1/u2/R1 ");
  EXPECT_EQ(verilog_name("wire"), "\\wire ");
  EXPECT_EQ(verilog_name("1a"), "\\1a ");
  EXPECT_THROW(verilog_name("a\rb"), Fault);
}

// NLD -> Verilog -> NLD gives a design that zelk reads and that computes
// what the first one does, with its names kept.
TEST(VerilogRoundTrip, ExampleAndAwkwardNames) {
  TempDir t;
  t.write("d/top.nld",
          "(def-module top\n (def-pin a type input)\n (def-pin wire type input)\n"
          " (def-pin m_clock type input)\n (def-pin out1 type output)\n"
          " (def-pin y type output)\n (def-pin z type output)\n"
          " (def-comp sub-mod u1)\n (def-comp and--2 and--2)\n (def-comp reg-1 u1/u2/R1)\n"
          " (def-comp inv- i1)\n"
          " (def-net a and--2.in1 u1.p)\n (def-net wire and--2.in2)\n"
          " (def-net and--2.out u1/u2/R1.in i1.in)\n (def-net m_clock u1/u2/R1.m_clock)\n"
          " (def-net u1/u2/R1.nout out1 y)\n (def-net i1.nout z))\n");
  t.write("d/sub-mod.nld", "(def-module sub-mod\n (def-pin p type global)\n"
                           " (def-comp box b)\n (def-net p b.x))\n");
  t.write("d/box.pcd", "(def-module box\n (def-pin x type input))\n");
  for (auto [top, dirs] : std::vector<std::pair<std::string, std::string>>{
           {"top", kExample + " -r " + kExampleLib}, {"top", t / "d"}}) {
    std::string rt = t.mkdir("rt-" + std::to_string(dirs.size()));
    std::string err;
    ASSERT_EQ(shell(zv() + " out " + top + " " + dirs + " -o " + rt + ".v", &err), 0) << err;
    ASSERT_EQ(shell(zv() + " in " + rt + ".v -w " + rt, &err), 0) << err;
    std::string out = t.mkdir("z-" + std::to_string(dirs.size()));
    EXPECT_EQ(run_zelk({top, rt, "-w", out}).status, 0);
    std::vector<std::string> from = {kExample, kExampleLib};
    if (dirs == t / "d") from = {t / "d"};
    EXPECT_EQ(check_equivalent(top, from, top, {rt}), "");
  }
  std::string text = read_file(t / "rt-" + std::to_string((t / "d").size()) + "/top.nld");
  for (const char* name : {"(def-comp reg-1 u1/u2/R1)", "(def-comp and--2 and--2)",
                           "(def-pin out1 type output)", "(def-net out1 y u1/u2/R1.nout)"})
    EXPECT_NE(text.find(name), std::string::npos) << name << "\n" << text;
  EXPECT_NE(read_file(t / "rt-" + std::to_string((t / "d").size()) + "/sub-mod.nld")
                .find("(def-pin p type global)"),
            std::string::npos);
}

// The NLD design of top "top" in t / dir, written out as Verilog (to
// t / dir.v) and read back into a fresh directory, whose path it returns.
std::string through_verilog(TempDir& t, const std::string& dir) {
  std::string err;
  EXPECT_EQ(shell(zv() + " out top " + (t / dir) + " -o " + (t / (dir + ".v")), &err), 0) << err;
  const std::string back = t.mkdir(dir + "-back");
  EXPECT_EQ(shell(zv() + " in " + (t / (dir + ".v")) + " -w " + back, &err), 0) << err;
  return back;
}

// Gate inputs named with one letter are renamed in1..inN in terminal order,
// like any other input names outside in1..inN.
TEST(VerilogRoundTrip, OneLetterGateInputs) {
  TempDir t;
  t.write("d/top.nld",
          "(def-module top\n (def-pin a type input)\n (def-pin b type input)\n"
          " (def-pin c type input)\n (def-pin y type output)\n (def-pin z type output)\n"
          " (def-comp and--2 g)\n (def-comp nor--2 h)\n"
          " (def-net a g.p h.x)\n (def-net b g.in2)\n (def-net c h.i)\n"
          " (def-net g.out y)\n (def-net h.nout z))\n");
  const std::string rt = through_verilog(t, "d");
  std::string v = read_file(t / "d.v");
  for (const char* s : {"g(.out(y), .in1(a), .in2(b));", "h(.nout(z), .in1(a), .in2(c));"})
    EXPECT_NE(v.find(s), std::string::npos) << s << "\n" << v;
  EXPECT_EQ(check_equivalent("top", {t / "d"}, "top", {rt}), "");
}

// Pins joined to their nets as the signal goes: an input that a net gives
// an output directly drives it (a simulator reads the assign that way), and
// a pin that two nets name joins both of them.
TEST(VerilogRoundTrip, PinsOnTheirNets) {
  TempDir t;
  t.write("d/top.nld",
          "(def-module top\n (def-pin y type output)\n (def-pin a type input)\n"
          " (def-pin b type input)\n (def-pin z type output)\n (def-pin w type output)\n"
          " (def-comp inv- i j)\n (def-net y a)\n (def-net b i.in)\n (def-net b j.in)\n"
          " (def-net i.nout z)\n (def-net j.nout w))\n");
  const std::string rt = through_verilog(t, "d");
  const std::string v = read_file(t / "d.v");
  EXPECT_NE(v.find("assign y = a;"), std::string::npos) << v;
  EXPECT_EQ(check_equivalent("top", {t / "d"}, "top", {rt}), "");
  // Pins of types that say no direction go the way their module uses them:
  // u.q, "undefined", is driven inside and read outside.
  t.write("e/top.nld", "(def-module top (def-pin a type input) (def-pin y type output)"
                       " (def-comp sub u) (def-comp inv- i) (def-net a u.s) (def-net u.q i.in)"
                       " (def-net i.nout y))\n");
  t.write("e/sub.nld", "(def-module sub (def-pin s type static) (def-pin q type undefined)"
                       " (def-comp inv- n) (def-net s n.in) (def-net n.nout q))\n");
  const std::string rte = through_verilog(t, "e");
  EXPECT_EQ(check_equivalent("top", {t / "e"}, "top", {rte}), "");
  EXPECT_NE(read_file(rte + "/sub.nld").find("(def-pin q type undefined)"), std::string::npos);
  // An output that tristate drivers drive stays an output (it would read
  // back as tristate).
  t.write("b/top.nld", "(def-module top (def-pin a type input) (def-pin e type input)"
                       " (def-pin y type output) (def-comp ts_buf- t1 t2) (def-comp inv- i)"
                       " (def-net a t1.in t2.in) (def-net e t1.nenb i.in) (def-net i.nout t2.nenb)"
                       " (def-net t1.out t2.out y))\n");
  const std::string rtb = through_verilog(t, "b");
  EXPECT_NE(read_file(rtb + "/top.nld").find("(def-pin y type output)"), std::string::npos);
  // So does one that a copy's output drives, which a tristate driver inside
  // the copy drives.
  t.write("c/top.nld", "(def-module top (def-pin a type input) (def-pin e type input)"
                       " (def-pin y type output) (def-comp drv u) (def-net a u.a) (def-net e u.e)"
                       " (def-net u.q y))\n");
  t.write("c/drv.nld", "(def-module drv (def-pin a type input) (def-pin e type input)"
                       " (def-pin q type output) (def-comp ts_buf- b) (def-net a b.in)"
                       " (def-net e b.nenb) (def-net b.out q))\n");
  const std::string rtc = through_verilog(t, "c");
  EXPECT_NE(read_file(rtc + "/top.nld").find("(def-pin y type output)"), std::string::npos);
  EXPECT_NE(read_file(rtc + "/drv.nld").find("(def-pin q type output)"), std::string::npos);
}

// Two pins that say no direction, joined by a net that nothing inside
// drives: the one that the parents drive (here the second in the file: an
// input in one copy, the supply in the other) takes the signal in, the
// other passes it on.  A chain of such modules is settled from the top down.
TEST(VerilogRoundTrip, JoinedPinsTakeTheWayTheirParentsDrive) {
  TempDir t;
  t.write("d/top.nld",
          "(def-module top (def-pin x type input) (def-pin VDD type global) (def-pin y type output)"
          " (def-comp mid u) (def-comp sub v) (def-comp and--2 g)"
          " (def-net x u.b) (def-net VDD v.b) (def-net u.a g.in1) (def-net v.a g.in2)"
          " (def-net g.out y))\n");
  t.write("d/mid.nld", "(def-module mid (def-pin a type undefined) (def-pin b type clock)"
                       " (def-comp sub s) (def-net b s.b) (def-net s.a a))\n");
  t.write("d/sub.nld", "(def-module sub (def-pin a type clock) (def-pin b type static)"
                       " (def-net a b))\n");
  const std::string rt = through_verilog(t, "d");
  const std::string v = read_file(t / "d.v");
  for (const char* line : {"  output a;\n  (* zelk_type = \"static\" *)\n  input b;\n  assign a = b;",
                           "  output a;\n  (* zelk_type = \"clock\" *)\n  input b;"})
    EXPECT_NE(v.find(line), std::string::npos) << line << "\n" << v;
  EXPECT_EQ(check_equivalent("top", {t / "d"}, "top", {rt}), "");
  EXPECT_NE(read_file(rt + "/sub.nld").find("(def-pin a type clock)"), std::string::npos);
  // A pin that a gate or an input drives takes the signal in before one
  // that only such a pin of the parent does; the parent's pins that the copy
  // then drives pass the signal on, all of them.
  t.write("e/top.nld", "(def-module top (def-pin a type input) (def-pin p type clock)"
                       " (def-pin q type clock) (def-comp sub u) (def-net a u.x) (def-net p q u.y))\n");
  t.write("e/sub.nld", "(def-module sub (def-pin y type static) (def-pin x type static)"
                       " (def-net x y))\n");
  const std::string rte = through_verilog(t, "e");
  const std::string e = read_file(t / "e.v");
  for (const char* line : {"  output p;", "  output q;", "  input x;", "  output y;"})
    EXPECT_NE(e.find(line), std::string::npos) << line << "\n" << e;
  EXPECT_NE(read_file(rte + "/top.nld").find("(def-pin q type clock)"), std::string::npos);
  EXPECT_EQ(run_zelk({"top", rte, "-w", t.mkdir("z")}).status, 0);
  // A bidirect pin beside them that the parent drives (by the supply)
  // takes the signal in for them: as an input, the static pin would drive
  // the supply's net through the bidirect one.
  t.write("f/top.nld", "(def-module top (def-pin VDD type global) (def-pin y type output)"
                       " (def-comp sub u) (def-net VDD u.b) (def-net u.s y))\n");
  t.write("f/sub.nld", "(def-module sub (def-pin b type bidirect) (def-pin s type static)"
                       " (def-net b s))\n");
  const std::string rtf = through_verilog(t, "f");
  const std::string f = read_file(t / "f.v");
  EXPECT_NE(f.find("  output s;\n  assign s = b;"), std::string::npos) << f;
  EXPECT_EQ(check_equivalent("top", {t / "f"}, "top", {rtf}), "");
}

// The generator's corner designs (every pin type across boundaries, pins
// joined inside copies, supplies, buses, registers, library cells,
// read-only modules) through Verilog and back compute what they did.
TEST(VerilogRoundTrip, CornerDesignsComeBackEqual) {
  int failures = 0;
  for (uint64_t seed = 1; seed <= 200 && failures < 3; ++seed) {
    const zelkgen::CornerDesign design = zelkgen::corner_design(seed);
    TempDir t;
    for (const auto& [name, text] : design.opt) t.write("opt/" + name, text);
    for (const auto& [name, text] : design.lib) t.write("lib/" + name, text);
    t.mkdir("lib");
    Design d;
    d.options.top_name = "top";
    d.options.opt_dir = {t / "opt"};
    d.options.read_dir = {t / "lib"};
    d.log = std::tmpfile();
    std::string diff;
    try {
      read_module(d, "top");
      write_file(t / "top.v", write_verilog(d));
      std::vector<std::string> written;
      read_verilog({t / "top.v"}, t.mkdir("back"), &written);
      diff = check_equivalent("top", {t / "opt", t / "lib"}, "top", {t / "back"});
    } catch (const Fault& f) {
      diff = f.message;
    }
    std::fclose(d.log);
    if (diff.empty()) continue;
    ++failures;
    ADD_FAILURE() << "seed " << seed << ": " << diff;
  }
}

// A large module's instances are written two chunks at a time, one on a
// thread beside: the text is the one written in turn, in both forms, and a
// fault is the first one in the text's order, whichever side meets it.
// The text reads back into the same design.
TEST(VerilogOut, InstancesBesideGiveTheSameText) {
  TempDir t;
  zelkgen::Options opt;
  opt.cells = 20000;
  opt.seed = 5;
  opt.dir = t.mkdir("in");
  const zelkgen::Summary g = zelkgen::generate(opt);
  test::Loaded loaded = test::load_dirs(g.top, {g.dir}, {g.ro_dir});
  Design& d = *loaded.design;
  for (bool assigns : {false, true}) {
    const std::string alone = write_verilog(d, assigns, SIZE_MAX);
    EXPECT_EQ(write_verilog(d, assigns, 0), alone);
    if (assigns) continue;
    // Read back: arrays this large have their pages asked for ahead.
    write_file(t / "top.v", alone);
    std::vector<std::string> written;
    const std::string back = t.mkdir("back");
    read_verilog({t / "top.v"}, back, &written);
    EXPECT_EQ(written, std::vector<std::string>{back + "/" + g.top + ".nld"});
    EXPECT_EQ(check_equivalent(g.top, {g.dir, g.ro_dir}, g.top, {back}), "");
  }
  // The instances in the order written, a chunk being 4096 of them.
  std::vector<Instance*> comps;
  for (Instance* c = d.top->comps; c; c = c->next) comps.insert(comps.begin(), c);
  ASSERT_GT(comps.size(), std::size_t{3 * 4096});
  // A gate of the given chunk with an output "nout" and an input on
  // another net, that input renamed "nout": a pin on two nets.  Returns the
  // terminal and its own pin name.
  auto spoil = [&](std::size_t chunk) -> std::pair<Link*, const char*> {
    for (std::size_t k = chunk * 4096; k < (chunk + 1) * 4096; ++k) {
      int cls = comps[k]->cls;
      Link* l = comps[k]->link;
      if ((cls != kInv && cls != kNand && cls != kNor) || !l || l->inst_next == l ||
          l->net == l->inst_next->net)
        continue;
      Link* other = std::string(l->pin_name) == "nout" ? l->inst_next : l;
      return {other, std::exchange(other->pin_name, "nout")};
    }
    return {nullptr, nullptr};
  };
  auto fault_of = [&](std::size_t first, std::size_t second) {
    std::pair<Link*, const char*> spoilt[2] = {spoil(first), spoil(second)};
    EXPECT_TRUE(spoilt[0].first && spoilt[1].first);
    std::string message[2];
    std::size_t beside[2] = {SIZE_MAX, 0};
    for (int k = 0; k < 2; ++k) {
      try {
        (void)write_verilog(d, false, beside[k]);
      } catch (const Fault& f) {
        message[k] = f.message;
      }
    }
    for (auto [link, pin] : spoilt)
      if (link) link->pin_name = pin;
    EXPECT_EQ(message[1], message[0]);
    return std::make_pair(message[0], spoilt[0].first ? std::string(spoilt[0].first->inst->name) : "");
  };
  for (auto [first, second] : {std::pair{1, 2}, std::pair{0, 1}}) {  // the thread's first, the caller's
    auto [message, name] = fault_of(first, second);
    EXPECT_EQ(message, "cannot write " + name + ": pin nout is on two nets\n");
  }
  std::fclose(d.log);
}

// A netlist as Yosys writes it after mapping to its gate cells.
TEST(VerilogIn, YosysGateNetlist) {
  TempDir t;
  t.write("n.v",
          "/* Generated by Yosys */\n(* top = 1 *)\nmodule n(a, b, clk, rst, en, q, y, bus);\n"
          "  wire _0_;\n  input [1:0] a;\n  wire [1:0] a;\n  input b, clk, rst, en;\n"
          "  output q;\n  output [1:0] y;\n  inout bus;\n"
          "  \\$_AND_  _1_ (.A(a[0]), .B(a[1]), .Y(_0_));\n"
          "  \\$_DFF_PN0_  r (.C(clk), .D(_0_), .R(rst), .Q(q));\n"
          "  \\$_TBUF_  t (.A(b), .E(en), .Y(bus));\n"
          "  \\$_MUX_  m (.A(a[0]), .B(1'h1), .S(b), .Y(y[1]));\n"
          "  assign y[0] = 1'h0;\nendmodule\n");
  std::string err;
  ASSERT_EQ(shell(zv() + " in " + (t / "n.v") + " -w " + t.mkdir("o"), &err), 0) << err;
  std::string nld = read_file(t / "o/n.nld");
  for (const char* s : {"(def-pin a[1] type input)", "(def-pin bus type tristate)",
                        "(def-comp regr-1 r~2)", "(def-comp inv- r~1)", "(def-comp ts_buf- t~2)",
                        "(def-comp low- low-)", "(def-comp high- high-)", "(def-net y[0] low-.nout)"})
    EXPECT_NE(nld.find(s), std::string::npos) << s << "\n" << nld;
  EXPECT_EQ(run_zelk({"n", t / "o", "-w", t.mkdir("z")}).status, 0);
}

// Yosys leaves an input it does not care about as 1'hx; a cell that
// becomes an inverter of it and a gate becomes the gate alone (the
// inverter would have no input, which zelk does not take).
TEST(VerilogIn, UndefinedInputsOfYosysCells) {
  TempDir t;
  t.write("n.v",
          "module n(a, b, clk, y, z, q);\n  input a, b, clk;\n  output y, z, q;\n  wire w;\n"
          "  \\$_ORNOT_  o (.A(a), .B(1'hx), .Y(w));\n  \\$_NOT_  i (.A(1'hx), .Y(z));\n"
          "  \\$_AND_  g (.A(w), .B(b), .Y(y));\n  \\$_DFF_N_  r (.C(clk), .D(1'hx), .Q(q));\nendmodule\n");
  std::string err;
  ASSERT_EQ(shell(zv() + " in " + (t / "n.v") + " -w " + t.mkdir("o"), &err), 0) << err;
  const std::string nld = read_file(t / "o/n.nld");
  for (const char* s : {"(def-comp or--2 o~2)", "(def-net o~2.out g.in1)", "(def-comp inv- r~1)"})
    EXPECT_NE(nld.find(s), std::string::npos) << s << "\n" << nld;
  for (const char* s : {"o~1", "def-comp inv- i"}) EXPECT_EQ(nld.find(s), std::string::npos) << s << "\n" << nld;
  EXPECT_EQ(run_zelk({"-a", "n", t / "o", "-w", t.mkdir("z")}).status, 0);
}

// Yosys declares a port that a tristate cell drives `output`; copies of
// its module then drive one bus, also through a module between.  Such a
// port is tristate in NLD, up the hierarchy, and the bus is no clash.
TEST(VerilogIn, TristateOutputsOfCopiesShareABus) {
  TempDir t;
  t.write("n.v",
          "module top(a, b, e, f, bus);\n  input a, b, e, f;\n  output bus;\n  wire ne;\n"
          "  \\$_NOT_  g (.A(e), .Y(ne));\n"
          "  mid m1 (.a(a), .e(e), .z(bus));\n  mid m2 (.a(b), .e(ne), .z(bus));\n"
          "  \\$_TBUF_  t (.A(a), .E(f), .Y(bus));\nendmodule\n"
          "module mid(a, e, z);\n  input a, e;\n  output z;\n  wire na;\n"
          "  \\$_NOT_  i (.A(a), .Y(na));\n  leaf l (.a(na), .e(e), .z(z));\nendmodule\n"
          "module leaf(a, e, z);\n  input a, e;\n  output z;\n  wire y, na;\n"
          "  \\$_NOT_  i (.A(a), .Y(na));\n  \\$_TBUF_  t (.A(na), .E(e), .Y(y));\n"
          "  assign z = y;\nendmodule\n");
  std::string err;
  ASSERT_EQ(shell(zv() + " in " + (t / "n.v") + " -w " + t.mkdir("o"), &err), 0) << err;
  for (std::string m : {"top", "mid", "leaf"}) {
    std::string nld = read_file(t / ("o/" + m + ".nld"));
    EXPECT_NE(nld.find(m == "top" ? "(def-pin bus type tristate)" : "(def-pin z type tristate)"),
              std::string::npos)
        << nld;
  }
  ASSERT_EQ(run_zelk({"-a", "top", t / "o", "-w", t.mkdir("z")}).status, 0);
  EXPECT_EQ(check_equivalent("top", {t / "o"}, "top", {t / "z"}), "");
}

// Copies whose inout port a tristate cell drives share a bus; a copy
// whose inout port an ordinary cell drives may drive a net alone, read
// inside and outside.
TEST(VerilogIn, InoutPortsDrivenInside) {
  TempDir t;
  t.write("n.v",
          "module top(a, e, f, bus, y);\n  input a, e, f;\n  inout bus;\n  output y;\n  wire w;\n"
          "  drv d1 (.a(a), .e(e), .b(bus));\n  drv d2 (.a(w), .e(f), .b(bus));\n"
          "  inv i (.a(a), .b(w));\n  \\$_AND_  g (.A(w), .B(bus), .Y(y));\nendmodule\n"
          "module drv(a, e, b);\n  input a, e;\n  inout b;\n"
          "  \\$_TBUF_  t (.A(a), .E(e), .Y(b));\nendmodule\n"
          "module inv(a, b);\n  input a;\n  inout b;\n  wire r;\n"
          "  \\$_NOT_  n (.A(a), .Y(b));\n  \\$_BUF_  k (.A(b), .Y(r));\nendmodule\n");
  std::string err;
  ASSERT_EQ(shell(zv() + " in " + (t / "n.v") + " -w " + t.mkdir("o"), &err), 0) << err;
  ASSERT_EQ(run_zelk({"-a", "top", t / "o", "-w", t.mkdir("z")}).status, 0);
  EXPECT_EQ(check_equivalent("top", {t / "o"}, "top", {t / "z"}), "");
}

// Concatenations nested as deep as an input likes: their bits in order.
TEST(VerilogIn, DeepConcatenation) {
  TempDir t;
  const std::size_t depth = 1000000;
  t.write("n.v", "module n(a, b, y);\n  input a, b;\n  output [1:0] y;\n  assign y = {" +
                     std::string(depth, '{') + "a" + std::string(depth, '}') + ", b};\nendmodule\n");
  std::string err;
  ASSERT_EQ(shell(zv() + " in " + (t / "n.v") + " -w " + t.mkdir("o"), &err), 0) << err;
  std::string nld = read_file(t / "o/n.nld");
  EXPECT_NE(nld.find("(def-net a y[1])"), std::string::npos) << nld;
  EXPECT_NE(nld.find("(def-net b y[0])"), std::string::npos) << nld;
}

// What reading one file makes: the files written, each with its text, or
// the fault told.
std::string read_outcome(const std::string& file, std::size_t beside_from) {
  TempDir t;
  const std::string out = t.mkdir("o");
  std::vector<std::string> written;
  try {
    read_verilog({file}, out, &written, beside_from);
  } catch (const Fault& f) {
    return "fault: " + f.message;
  }
  std::string r;
  for (const std::string& w : written) r += w.substr(out.size()) + "\n" + read_file(w);
  return r;
}

// The instances of a large module are read in two halves at once, the
// second from a statement near the middle of the text on: the modules
// written and the fault told are those of reading in turn, wherever the
// middle falls (spaces before "endmodule" move it over every statement).
TEST(VerilogIn, InstancesReadBesideGiveTheSameModules) {
  const std::string head =
      "module t(a, b, y, z);\n input a, b;\n output y, z;\n wire w1, w2, w3;\n";
  auto gate = [](int k, const std::string& in1, const std::string& in2, const std::string& out) {
    return " \\$_NAND_ g" + std::to_string(k) + " (.A(" + in1 + "), .B(" + in2 + "), .Y(" + out +
           "));\n";
  };
  const std::string first = gate(1, "a", "b", "w1") + gate(2, "w1", "b", "w2");
  const std::string last = gate(8, "w3", "a", "y") + gate(9, "w3", "w2", "z");
  const std::string bodies[] = {
      // Statements with a ";" inside: comments, an attribute, an escaped name.
      first + " // a; b\n" + gate(3, "w2", "a", "w3") + " /* c; d */ (* src = \"x.v:1;2\" *)\n" +
          " \\$_NAND_ \\g;4  (.A(a), .B(b), .Y());\n" + last,
      // A declaration and an assign between instances.
      first + " wire w4;\n" + gate(3, "w2", "w4", "w3") + " assign w4 = a;\n" + last,
      // A fault late, and one early and one late: the first is told.
      first + gate(3, "w2", "a", "w3") + gate(4, "w2", "nowhere", "w3") + last,
      first + " \\$_NAND_ g3 (.A(a), .A(b), .Y(w3));\n" + gate(4, "nowhere", "a", "w3") + last,
      // A fault of the lexer late; "endmodule" in a comment.
      first + gate(3, "w2", "a", "w3") + " \\$_NOT_ \\g\x01  (.A(a), .Y());\n" + last,
      first + " // endmodule\n" + gate(3, "w2", "a", "w3") + last,
  };
  TempDir t;
  int compared = 0;
  for (const std::string& body : bodies) {
    for (const char* tail : {"endmodule\n", "endmodule\nmodule u(a);\n input a;\nendmodule\n", ""}) {
      t.write("in.v", head + body + tail);
      const std::string alone = read_outcome(t / "in.v", SIZE_MAX);
      for (std::size_t pad = 0; pad <= 2 * body.size(); pad += 2) {
        t.write("in.v", head + body + std::string(pad, ' ') + tail);
        ASSERT_EQ(read_outcome(t / "in.v", 1), alone) << body << "(spaces: " << pad << ")";
        ++compared;
      }
    }
  }
  EXPECT_GT(compared, 1000);
  // The faults told are the first of the file, with their lines.
  const std::pair<const std::string*, std::string> told[] = {
      {&bodies[2], ":8: undeclared net \"nowhere\"\n"},
      {&bodies[3], ":7: port \"A\" of \"g3\" connected twice\n"},
      {&bodies[4], ":8: an escaped name holds a byte outside printable ASCII\n"}};
  for (const auto& [body, message] : told) {
    t.write("in.v", head + *body + std::string(body->size(), ' ') + "endmodule\n");
    EXPECT_EQ(read_outcome(t / "in.v", 1), "fault: " + (t / "in.v") + message);
  }
}

struct Bad {
  std::string text;
  const char* message;
};

TEST(VerilogIn, RefusedInputWritesNothing) {
  const std::string name(4096, 'n');
  const std::string head = "module t(a, y);\n  input a;\n  output y;\n";
  const Bad cases[] = {
      {"module t(a);\n input a;\n foo u(.x(a));\nendmodule\n",
       "3: unknown cell \"foo\" with no port directions"},
      {"module t(d, e, q);\n input d, e; output q;\n \\$_DLATCH_P_ l(.D(d), .E(e), .Q(q));\nendmodule\n",
       "3: Yosys gate cell \"$_DLATCH_P_\" has no built-in counterpart (latches and registers with "
       "both an asynchronous set and reset have none)"},
      {"module t(a, y);\n input a; output y;\n \\$not n(.A(a), .Y(y));\nendmodule\n",
       "3: Yosys cell \"$not\" is not mapped to gate cells (Yosys: techmap)"},
      {"module t(a, y);\n input a; output y;\n \\$_NOT_ g(.A(a),\n .A(a), .Y(y));\nendmodule\n",
       "4: port \"A\" of \"g\" connected twice"},
      {"module t(a, y);\n input a; output y;\n \\$_NOT_ g(.A(b), .Y(y));\nendmodule\n",
       "3: undeclared net \"b\""},
      {"module t(a);\n input a;\n t inner(.a(a));\nendmodule\n", "3: module \"t\" instantiates itself"},
      {"module t(a, y);\n input a; output y;\n \\$_NOT_ g(.A(a), .Y(y));\n"
       " \\$_BUF_ h(.A(a), .Y(y));\nendmodule\n",
       "4: net of \"h.out\" has more than one driver"},
      {"module t(a, y);\n input a; output y;\n always @(a) y = a;\nendmodule\n",
       "3: behavioural code (\"always\") is outside the structural subset; map it to gate cells first "
       "(Yosys: synth, then write_verilog -noexpr)"},
      {"module t(a, y);\n parameter W = 2;\nendmodule\n",
       "2: parameters (\"parameter\") are outside the structural subset"},
      {"module t(a, y);\n input a; output y;\n assign y = ~a;\nendmodule\n",
       "3: assign with an expression is outside the structural subset; write gates as cells (Yosys: write_verilog -noexpr)"},
      {"module t(a, y);\n input [1:0] a; output y;\n assign y = a[2];\nendmodule\n",
       "3: bit select outside the range of \"a\""},
      // Found while converting, after the module before it was written.
      {"module ok(a, y);\n input a; output y;\n \\$_NOT_ g(.A(a), .Y(y));\nendmodule\n"
       "module t(a, y);\n input a; output y;\n \\$_NOT_ g(.A(a), .Y(y));\n"
       " \\$_NOT_ h(.A(a), .Y(y));\nendmodule\n",
       "8: net of \"h.nout\" has more than one driver"},
      {"module \\a/b (a);\n input a;\nendmodule\nmodule \\a%2Fb (a);\n input a;\nendmodule\n",
       "4: modules \"a/b\" and \"a%2Fb\" would both be written as a%2Fb"},
      {"module t(a, y, z);\n input a; output y, z;\n \\$_NOT_ g(.A(a), .Y(y));\n"
       " \\$_NOT_ g(.A(a), .Y(z));\nendmodule\n",
       "4: instance name \"g\" used twice"},
      // Each "(" becomes "%28" in NLD: 1400 of them make too long a name.
      {"module t(a, y);\n input a; output y;\n \\$_NOT_ \\" + std::string(1400, '(') +
           " (.A(a), .Y(y));\nendmodule\n",
       "3: instance name too long"},
      {"module t(a, y);\n input a; output y;\n assign y = 1'b0;\n assign y = 1'b1;\nendmodule\n",
       "1: a net is tied to both constants"},
      {"module t(a, y);\n input a;\n output y;\n \\$_NOT_ g(.A(y), .Y(a));\nendmodule\n",
       "2: input \"a\" is driven inside the module"},
      // Gate inputs may carry any names, but no more of them than the fan-in.
      {"module t(a, b, y);\n input a, b; output y;\n \\and--2 g(.in1(a), .x(b), .in2(a), .out(y));\nendmodule\n",
       "3: cell \"and--2\" takes 3 connections, \"g\" has 4"},
      {"module t(a);\n input a;\n \\$_NOT_ \\g\x01 (.A(a));\nendmodule\n",
       "3: an escaped name holds a byte outside printable ASCII"},
      {"module t(a);\n input [1:0x] a;\nendmodule\n", "2: expected a number, found \"0x\""},
      {"module t(a);\n input [16777216:0] a;\nendmodule\n", "2: vector of 16777217 bits; at most 16777216"},
      // The pin type goes into the NLD file: it must be one zelk reads.
      {"module t(a);\n (* zelk_type = \"gloMal\" *)\n input a;\nendmodule\n",
       "3: unknown pin type \"gloMal\" in attribute zelk_type"},
      // Every byte of it: a word followed by NUL bytes is none.
      {"module t(a);\n (* zelk_type = \"global" + std::string(2, '\0') +
           "\" *)\n input a;\nendmodule\n",
       "3: unknown pin type \"global\\x00\\x00\" in attribute zelk_type"},
      // An inout port that ordinary cells alone drive inside (Yosys maps
      // a `z` so unless `tribuf` runs first) drives as an output: two
      // copies of it on one net are two drivers, and the port excuses no
      // second driver inside.
      {"module s(a, b);\n input a; inout b;\n \\$_NOT_ g(.A(a), .Y(b));\nendmodule\n"
       "module t(a, y);\n input a; output y;\n s u1(.a(a), .b(y));\n s u2(.a(a), .b(y));\nendmodule\n",
       "8: net of \"u2.b\" has more than one driver"},
      {"module t(a, b);\n input a; inout b;\n \\$_NOT_ g(.A(a), .Y(b));\n"
       " \\$_BUF_ h(.A(a), .Y(b));\nendmodule\n",
       "4: net of \"h.out\" has more than one driver"},
      // One that nothing drives inside only reads: no tristate net.
      {"module s(b, y);\n inout b; output y;\n \\$_NOT_ g(.A(b), .Y(y));\nendmodule\n"
       "module t(a, y, z);\n input a; output y, z;\n \\$_NOT_ g(.A(a), .Y(y));\n"
       " \\$_BUF_ h(.A(a), .Y(y));\n s u(.b(y), .y(z));\nendmodule\n",
       "8: net of \"h.out\" has more than one driver"},
      // NLD names pins and components in one space.
      {"module t(a, y);\n input a;\n output y;\n \\$_NOT_ y(.A(a), .Y(y));\nendmodule\n",
       "3: port \"y\" has the name of an instance"},
  };
  for (const Bad& b : cases) {
    if (*b.message == '\0') continue;
    TempDir t;
    t.write("bad.v", b.text);
    std::string out = t.mkdir("o"), err;
    EXPECT_EQ(shell(zv() + " in " + (t / "bad.v") + " -w " + out, &err), 1) << b.text;
    EXPECT_EQ(err, (t / "bad.v") + ":" + b.message + "\n");
    EXPECT_TRUE(list_dir(out).empty()) << b.text;
  }
  // A name of 4096 bytes; a good module before it is not written either.
  TempDir t;
  t.write("bad.v", "module ok(a);\n input a;\nendmodule\n" + head + "  wire " + name +
                       ";\nendmodule\n");
  std::string out = t.mkdir("o"), err;
  EXPECT_EQ(shell(zv() + " in " + (t / "bad.v") + " -w " + out, &err), 1);
  EXPECT_EQ(err, (t / "bad.v") + ":7: name of 4096 bytes; names must be shorter than 4096 bytes\n");
  EXPECT_TRUE(list_dir(out).empty());
}

// A file that cannot be written is told before a fault found later in the
// conversion, and nothing is left behind.
TEST(VerilogIn, UnwritableFileComesFirst) {
  const std::string text =
      "module ok(a, y);\n input a; output y;\n \\$_NOT_ g(.A(a), .Y(y));\nendmodule\n"
      "module t(a, y);\n input a; output y;\n \\$_NOT_ g(.A(a), .Y(y));\n"
      " \\$_NOT_ h(.A(a), .Y(y));\nendmodule\n";
  TempDir t;
  t.write("bad.v", text);
  std::string err;
  EXPECT_EQ(shell(zv() + " in " + (t / "bad.v") + " -w " + (t / "missing"), &err), 1);
  EXPECT_EQ(err, "Could not open " + (t / "missing/ok.nld") + "\n");
  std::string out = t.mkdir("o");
  t.mkdir("o/ok.nld");
  EXPECT_EQ(shell(zv() + " in " + (t / "bad.v") + " -w " + out, &err), 1);
  EXPECT_EQ(err, "Could not open " + (t / "o/ok.nld") + "\n");
  EXPECT_TRUE(list_dir(out).empty());
}

// Out: a fault of the design is told before a file that cannot be
// written, and a refused design leaves no file behind.
TEST(VerilogOut, DesignFaultBeforeUnwritableFile) {
  TempDir t;
  t.write("d/top.nld", "(def-module top (def-pin b type output) (def-comp and- g)"
                       " (def-net g.out b))\n");
  t.write("ok/top.nld", "(def-module top (def-pin a type input) (def-pin b type output)"
                        " (def-comp inv- g) (def-net a g.in) (def-net g.nout b))\n");
  std::string out = t.mkdir("o"), err;
  for (const std::string& to : {t / "missing/x.v", out + "/x.v"}) {
    EXPECT_EQ(shell(zv() + " out top " + (t / "d") + " -o " + to, &err), 1);
    EXPECT_EQ(err, "cannot write g: gate without inputs\n");
  }
  EXPECT_TRUE(list_dir(out).empty());
  EXPECT_EQ(shell(zv() + " out top " + (t / "ok") + " -o " + (t / "missing/x.v"), &err), 1);
  EXPECT_EQ(err, "Could not open " + (t / "missing/x.v") + "\n");
  EXPECT_EQ(shell(zv() + " out top " + (t / "ok") + " -o " + out + "/x.v", &err), 0) << err;
  EXPECT_EQ(list_dir(out), std::vector<std::string>{"x.v"});
}

// Faults on which zelk stops without a message: the converter says what
// stopped it, and zelk stays silent.
TEST(VerilogOut, SaysWhyZelkStopsWithoutAMessage) {
  struct Case {
    std::string top, sub, said;
  };
  const std::string ends = " (zelk stops on this without a message)\n";
  const Case cases[] = {
      {"(def-module top (def-pin a type input) (def-pin b type input) (def-pin y type output)\n"
       " (def-comp enor--2 g) (def-net a g.in1) (def-net b g.in2) (def-net g.out y))\n",
       "", "line 2: cell \"enor--2\" of \"g\" has no pin \"out\""},
      {"(def-module top (def-pin a type input) (def-pin y type output)\n"
       " (def-comp aoi--23 g) (def-net a g.in1) (def-net g.nout y))\n",
       "", "line 2: cell \"aoi--23\" has a fan-in number it does not allow"},
      {"(def-module top (def-pin a type input)\n (def-pin y) (def-comp inv- g) (def-net a g.in))\n", "",
       "line 2: pin \"y\" has no type"},
      {"(def-module top (def-pin a type input type input))\n", "", "line 1: pin \"a\" has two types"},
      {"(def-module top (def-pin a type input) (def-comp sub u) (def-net a u.a))\n",
       "(def-module sub (def-pin a type input) (def-comp top u2) (def-net a u2.a))\n",
       "module \"top\" contains itself: instance \"u2\" of \"top\" in \"sub\""},
  };
  for (const Case& c : cases) {
    TempDir t;
    t.write("d/top.nld", c.top);
    if (!c.sub.empty()) t.write("d/sub.nld", c.sub);
    std::string err;
    EXPECT_EQ(shell(zv() + " out top " + (t / "d") + " -o " + (t / "x.v"), &err), 1);
    const std::string at = c.sub.empty() ? "\"" + (t / "d/top.nld") + "\", " : "";
    EXPECT_EQ(err, at + c.said + ends);
    const RunResult z = run_zelk({"top", t / "d", "-w", t.mkdir("o")});
    EXPECT_EQ(z.status, 1);
    EXPECT_EQ(z.err.find(c.said.substr(c.said.find(':') + 2)), std::string::npos) << z.err;
    EXPECT_TRUE(list_dir(t / "o").empty());
  }
}

// NLD lets a module declare a pin twice; a Verilog module cannot, unless
// the two are one signal.
TEST(VerilogOut, TwoPinsOfOneName) {
  TempDir t;
  t.write("d/top.nld", "(def-module top (def-pin a type input) (def-pin y type output)"
                       " (def-pin y type output) (def-comp inv- i) (def-net a i.in) (def-net i.nout y))\n");
  std::string err;
  EXPECT_EQ(shell(zv() + " out top " + (t / "d") + " -o " + (t / "x.v"), &err), 1);
  EXPECT_EQ(err, "cannot write module top: two pins named y\n");
  // Two global pins of one name are one signal, which NLD delivers by
  // name: a run gives a copy two "VSS" pins when the supply reaches it on
  // two nets.  One port, on both nets.
  t.write("g/top.nld", "(def-module top (def-pin a type input) (def-pin y type output)"
                       " (def-pin z type output) (def-comp sub u) (def-net a u.x) (def-net u.y y)"
                       " (def-net u.z z))\n");
  t.write("g/sub.nld", "(def-module sub (def-pin x type input) (def-pin y type output)"
                       " (def-pin z type output) (def-pin VSS type global) (def-pin VSS type global)"
                       " (def-comp or--2 g h) (def-net x g.in1 h.in1) (def-net VSS g.in2)"
                       " (def-net VSS h.in2) (def-net g.out y) (def-net h.out z))\n");
  const std::string rt = through_verilog(t, "g");
  EXPECT_EQ(check_equivalent("top", {t / "g"}, "top", {rt}), "");
}

// A run gives the top module a global "VDD" and "VSS" pin beside its own
// supply inputs when a copy uses them, and the copy global pins of those
// names (NLD delivers them by name): written as one port each at the top,
// the copy's connected to them, so that the Verilog computes y = a; and the
// result proved.
TEST(VerilogOut, SupplyPinsTheRunAddsToTheTop) {
  TempDir t;
  t.write("d/top.nld",
          "(def-module top (def-pin a type input) (def-pin y type output) (def-pin VDD type input)"
          " (def-pin VSS type input) (def-comp inv- i) (def-comp sub u)"
          " (def-net a i.in) (def-net i.nout u.x) (def-net u.y y) (def-net VDD u.v) (def-net VSS u.w))\n");
  t.write("d/sub.nld",
          "(def-module sub (def-pin x type input) (def-pin v type input) (def-pin w type input)"
          " (def-pin y type output) (def-comp inv- n) (def-comp and--2 g) (def-comp or--2 h)"
          " (def-net x n.in) (def-net n.nout g.in1) (def-net v g.in2) (def-net g.out h.in1)"
          " (def-net w h.in2) (def-net h.out y))\n");
  const std::string out = t.mkdir("out");
  ASSERT_EQ(run_zelk({"top", t / "d", "-w", out}).status, 0);
  ASSERT_NE(read_file(out + "/top.nld").find("(def-pin\tVDD\ttype global)"), std::string::npos);
  std::string err;
  EXPECT_EQ(shell(zv() + " out top " + out + " -o " + (t / "x.v"), &err), 0) << err;
  if (!have_yosys()) GTEST_SKIP() << "yosys and berkeley-abc are not installed: proof not run";
  EXPECT_EQ(shell("yosys -q -p 'read_verilog " + (t / "x.v") + "; read_verilog " + kSrc +
                      "/share/zelk_cells.v; hierarchy -top top; proc; flatten;"
                      " sat -set VDD 1 -set VSS 0 -prove y a -verify'",
                  &err),
            0)
      << err;
  const std::string prove = prove_command();
  EXPECT_EQ(shell(prove + " top " + (t / "d") + " -w " + out, &err), 0) << err;
  // A copy whose own input is named "VDD", connected by its parent.
  t.write("v/top.nld", "(def-module top (def-pin a type input) (def-pin y type output) (def-pin VDD type input)"
                       " (def-comp sub u) (def-net a u.x) (def-net u.y y) (def-net VDD u.VDD))\n");
  t.write("v/sub.nld", "(def-module sub (def-pin x type input) (def-pin VDD type input) (def-pin y type output)"
                       " (def-comp and--2 g) (def-net x g.in1) (def-net VDD g.in2) (def-net g.out y))\n");
  EXPECT_EQ(shell(prove + " --run top " + (t / "v") + " -w " + t.mkdir("vout"), &err), 0) << err;
}

// The proof command accepts zelk's output and rejects wrong ones.
TEST(VerilogProve, ExampleProvedAndWrongOutputsRejected) {
  if (!have_yosys()) GTEST_SKIP() << "yosys and berkeley-abc are not installed: proofs not run";
  TempDir t;
  std::string err;
  ASSERT_EQ(shell("yosys -q -p 'read_verilog " + kSrc + "/share/zelk_cells.v; proc; check -assert'", &err), 0) << err;
  std::string out = t.mkdir("out");
  std::string args = " top " + kExample + " -r " + kExampleLib + " -w " + out;
  std::string prove = "ZELK_VERILOG=" + zv() + " " + kSrc + "/scripts/prove";
  ASSERT_EQ(run_zelk({"top", kExample, "-r", kExampleLib, "-w", out}).status, 0);
  EXPECT_EQ(shell(prove + args, &err), 0) << err;
  std::string top = read_file(out + "/top.nld");
  // A flipped inverter: its output becomes a buffer's.
  std::size_t at = top.find("inv-\tinv-1)");
  ASSERT_NE(at, std::string::npos) << top;
  std::string bad = top;
  bad.replace(at, 4, "ninv-");
  for (std::size_t p; (p = bad.find("inv-1.nout")) != std::string::npos;) bad.replace(p, 10, "inv-1.out");
  write_file(out + "/top.nld", bad);
  EXPECT_EQ(shell(prove + args), 1);
  // A register's out and nout swapped.
  bad = top;
  at = bad.find("r1.out");
  ASSERT_NE(at, std::string::npos) << top;
  bad.replace(at, 6, "r1.nout");
  write_file(out + "/top.nld", bad);
  EXPECT_EQ(shell(prove + args), 1);
}

// A loop of gates has no function of the inputs that a prover could
// compare (it would take any fixed point, or none): a written design that
// closes one, or an input design that holds one, is not proved.
TEST(VerilogProve, LoopsOfGatesAreNotProved) {
  if (!have_yosys()) GTEST_SKIP() << "yosys and berkeley-abc are not installed: proofs not run";
  TempDir t;
  const std::string prove = prove_command();
  t.write("d/top.nld",
          "(def-module top (def-pin a type input) (def-pin b type input) (def-pin y type output)\n"
          " (def-comp nand--2 g1) (def-comp nand--2 g2)\n"
          " (def-net a g1.in1 g2.in2) (def-net b g1.in2) (def-net g1.nout g2.in1) (def-net g2.nout y))\n");
  t.write("w/top.nld",
          "(def-module top (def-pin a type input) (def-pin b type input) (def-pin y type output)\n"
          " (def-comp nand--2 g1) (def-comp nand--2 g2)\n"
          " (def-net a g1.in1 g2.in2) (def-net g1.nout g2.in1) (def-net g2.nout y g1.in2))\n");
  std::string out;
  EXPECT_EQ(shell(prove + " top " + (t / "d") + " -w " + (t / "w"), nullptr, &out), 1);
  EXPECT_EQ(out, "NOT PROVED: the written design has a loop of gates\n");
  // A set-reset latch of two nand gates, one level down.
  t.write("l/top.nld",
          "(def-module top (def-pin s type input) (def-pin r type input) (def-pin q type output)\n"
          " (def-comp latch u) (def-net s u.s) (def-net r u.r) (def-net u.q q))\n");
  t.write("l/latch.nld",
          "(def-module latch (def-pin s type input) (def-pin r type input) (def-pin q type output)\n"
          " (def-comp nand--2 g1) (def-comp nand--2 g2)\n"
          " (def-net s g1.in1) (def-net r g2.in1) (def-net g1.nout q g2.in2) (def-net g2.nout g1.in2))\n");
  const std::string w = t.mkdir("lw");
  EXPECT_EQ(shell(prove + " --run top " + (t / "l") + " -w " + w, nullptr, &out), 1);
  EXPECT_EQ(out, "NOT PROVED: the input design has a loop of gates (in u)\n");
}

// When zelk itself fails under --run, the verdict says why in zelk's words.
TEST(VerilogProve, ZelkFailureNamedInTheVerdict) {
  if (!have_yosys()) GTEST_SKIP() << "yosys and berkeley-abc are not installed: proofs not run";
  TempDir t;
  const std::string prove = prove_command();
  std::string out;
  const std::string missing = t / "missing";
  EXPECT_EQ(shell(prove + " --run top " + kExample + " -r " + kExampleLib + " -w " + missing, nullptr, &out), 1);
  EXPECT_EQ(out, "NOT PROVED: zelk failed: Could not open " + missing + "/top.nld\n");
  EXPECT_EQ(shell(prove + " --run nothere " + kExample + " -w " + t.mkdir("w"), nullptr, &out), 1);
  EXPECT_EQ(out, "NOT PROVED: zelk failed: Could not find \"nothere.nld\"\n");
  // zelk stops without a message: the verdict says why.
  t.write("d/top.nld", "(def-module top (def-pin a type input) (def-pin y type output)"
                       " (def-comp inv- g) (def-net a g.in) (def-net g.out y))\n");
  EXPECT_EQ(shell(prove + " --run top " + (t / "d") + " -w " + t.mkdir("w2"), nullptr, &out), 1);
  EXPECT_EQ(out, "NOT PROVED: zelk failed: \"" + (t / "d/top.nld") +
                     "\", line 1: cell \"inv-\" of \"g\" has no pin \"out\" (zelk stops on this without a message)\n");
  // An inverter without an input stops the flattening, silently: the
  // verdict says so after zelk's last line.
  t.write("e/top.nld", "(def-module top (def-pin a type input) (def-pin y type output)"
                       " (def-comp inv- g) (def-net a y) (def-net g.nout y))\n");
  EXPECT_EQ(shell(prove + " --run top " + (t / "e") + " -w " + t.mkdir("w3"), nullptr, &out), 1);
  EXPECT_EQ(out, "NOT PROVED: zelk failed: status 1 without a message, after \"There is 1 inverter\"\n");
}

// zelk takes an unconnected gate input as a value that may be anything: the
// nand gate between two inverters becomes a nor gate, flipping the input
// that nothing drives.  With that input read as 0 the designs differ; read
// as undefined they agree wherever it does not decide the output, and that
// is the verdict.  A wrong output is still found.
TEST(VerilogProve, UnconnectedInputsReadAsUndefined) {
  if (!have_yosys()) GTEST_SKIP() << "yosys and berkeley-abc are not installed: proofs not run";
  TempDir t;
  const std::string prove = prove_command();
  const std::string head = "(def-module top (def-pin a type input) (def-pin y type output)\n";
  t.write("d/top.nld", head + " (def-comp inv- i1 i2) (def-comp nand--2 g)\n"
                              " (def-net a i1.in) (def-net i1.nout g.in1) (def-net g.nout i2.in) (def-net i2.nout y))\n");
  const std::string w = t.mkdir("w");
  std::string out;
  ASSERT_EQ(shell(prove + " --run top " + (t / "d") + " -w " + w, nullptr, &out), 0) << out;
  EXPECT_EQ(out, "PROVED: " + w +
                     "/top equals the input design wherever unconnected inputs do not decide its outputs "
                     "(Yosys SAT, unconnected inputs undefined)\n");
  EXPECT_EQ(read_file(w + "/top.nld").find("nand"), std::string::npos) << "the move this test is about is gone";
  t.write("x/top.nld", head + " (def-comp or--2 g) (def-net a g.in1) (def-net g.out y))\n");
  EXPECT_EQ(shell(prove + " top " + (t / "d") + " -w " + (t / "x"), nullptr, &out), 1);
  EXPECT_EQ(out, "NOT PROVED: ABC finds inputs on which the designs differ\n");
}

// A copy that the run leaves with its control pin alone is a module of
// port declarations: Yosys takes such a module for a black box, and `in`
// for a library cell.  Written with its port's net declared, it stays a
// module: the proof sees no cut there, and the round trip gives it back.
TEST(VerilogProve, ModuleOfPortsAloneIsNoBlackBox) {
  TempDir t;
  t.write("d/top.nld",
          "(def-module top (def-pin clk type input) (def-pin a type input) (def-pin z type output)\n"
          " (def-comp m c1) (def-net clk c1.m_clock) (def-net a c1.a) (def-net c1.y z))\n");
  t.write("d/m.nld",
          "(def-module m (def-pin m_clock type input) (def-pin a type input) (def-pin y type output)\n"
          " (def-comp inv- i1 i2) (def-net a i1.in) (def-net i1.nout i2.in) (def-net i2.nout y)"
          " (def-net m_clock))\n");
  const std::string w = t.mkdir("w");
  std::string err;
  ASSERT_EQ(shell(std::string(ZELK_BINARY) + " top " + (t / "d") + " -w " + w, &err), 0) << err;
  ASSERT_TRUE(std::filesystem::exists(w + "/m-1.nld")) << "the copy this test is about is gone";
  ASSERT_EQ(shell(zv() + " out top " + w + " -o " + (t / "w.v"), &err), 0) << err;
  ASSERT_EQ(shell(zv() + " in " + (t / "w.v") + " -w " + t.mkdir("rt"), &err), 0) << err;
  EXPECT_TRUE(std::filesystem::exists(t / "rt/m-1.nld"));
  EXPECT_FALSE(std::filesystem::exists(t / "rt/m-1.pcd"));
  if (!have_yosys()) GTEST_SKIP() << "yosys and berkeley-abc are not installed: proofs not run";
  std::string out;
  EXPECT_EQ(shell(prove_command() + " top " + (t / "d") + " -w " + w, nullptr, &out), 0) << out;
}

// Two enabled drivers of one bus: where they drive different values the bus
// reads as undefined, and a written design that enables two where the
// input design enables none is not proved, even when they agree.  An input
// design whose bus is always driven twice proves nothing more than that
// bus: a wrong output elsewhere is found.
TEST(VerilogProve, BusContention) {
  if (!have_yosys()) GTEST_SKIP() << "yosys and berkeley-abc are not installed: proofs not run";
  TempDir t;
  const std::string prove = prove_command();
  const std::string head =
      "(def-module top (def-pin a type input) (def-pin b type input) (def-pin e type input)\n"
      " (def-pin y type output) (def-pin z type output)\n"
      " (def-comp inv- i) (def-comp ts_buf- t1 t2) (def-comp and--2 g) (def-comp nand--2 h)\n"
      " (def-net t1.out t2.out g.in1 g.in2) (def-net g.out y) (def-net h.nout z)\n";
  // t1 and t2 drive a, one at a time.
  t.write("d/top.nld", head + " (def-net a t1.in t2.in h.in1) (def-net b h.in2) (def-net e i.in t1.nenb)"
                                   " (def-net i.nout t2.nenb))\n");
  // t2 always enabled (its enable is on a net nothing drives, which reads
  // 0): they agree, but while e is 0 the bus is driven twice.
  t.write("w/top.nld", head + " (def-net a t1.in t2.in h.in1) (def-net b h.in2) (def-net e i.in t1.nenb)"
                                   " (def-net i.nout) (def-net t2.nenb))\n");
  std::string out;
  EXPECT_EQ(shell(prove + " top " + (t / "d") + " -w " + (t / "w"), nullptr, &out), 1);
  EXPECT_EQ(out,
            "NOT PROVED: Yosys finds inputs on which the written design enables two drivers of one "
            "bus and the input design none\n");
  EXPECT_EQ(shell(prove + " top " + (t / "d") + " -w " + (t / "d"), nullptr, &out), 0) << out;
  // Enables on a net nothing drives (it reads 0): a and b always fight.
  const std::string fight =
      " (def-net a t1.in h.in1) (def-net b t2.in h.in2) (def-net e i.in) (def-net i.nout)"
      " (def-net t1.nenb t2.nenb))\n";
  t.write("c/top.nld", head + fight);
  std::string wrong = head + fight;
  wrong.replace(wrong.find("(def-comp nand--2 h)"), 20, "(def-comp and--2 h) ");
  wrong.replace(wrong.find("h.nout"), 6, "h.out");
  t.write("cw/top.nld", wrong);
  EXPECT_EQ(shell(prove + " top " + (t / "c") + " -w " + (t / "cw"), nullptr, &out), 1);
  EXPECT_EQ(out, "NOT PROVED: Yosys finds inputs on which the designs differ\n");
  EXPECT_EQ(shell(prove + " top " + (t / "c") + " -w " + (t / "c"), nullptr, &out), 0) << out;
}

// Every Yosys gate cell that `in` reads computes, once converted, what
// Yosys's own model of the cell computes: one instance of each, side by
// side, proved over eight steps from a zero state with clock edges
// modelled, so that clock, reset and enable polarities all count.
TEST(VerilogProve, YosysCellsKeepTheirFunction) {
  if (!have_yosys()) GTEST_SKIP() << "yosys and berkeley-abc are not installed: proofs not run";
  struct Cell {
    std::string name;
    std::vector<std::string> inputs;
    std::string output;
  };
  std::vector<Cell> cells;
  for (const char* g : {"AND", "NAND", "OR", "NOR", "XOR", "XNOR", "ANDNOT", "ORNOT"})
    cells.push_back({std::string("$_") + g + "_", {"A", "B"}, "Y"});
  cells.push_back({"$_NOT_", {"A"}, "Y"});
  cells.push_back({"$_BUF_", {"A"}, "Y"});
  cells.push_back({"$_AOI3_", {"A", "B", "C"}, "Y"});
  cells.push_back({"$_OAI3_", {"A", "B", "C"}, "Y"});
  cells.push_back({"$_AOI4_", {"A", "B", "C", "D"}, "Y"});
  cells.push_back({"$_OAI4_", {"A", "B", "C", "D"}, "Y"});
  cells.push_back({"$_MUX_", {"A", "B", "S"}, "Y"});
  cells.push_back({"$_NMUX_", {"A", "B", "S"}, "Y"});
  for (char c : {'P', 'N'}) {
    cells.push_back({std::string("$_DFF_") + c + "_", {"C", "D"}, "Q"});
    for (char e : {'P', 'N'}) cells.push_back({std::string("$_DFFE_") + c + e + "_", {"C", "D", "E"}, "Q"});
    for (char r : {'P', 'N'})
      for (char v : {'0', '1'}) {
        const std::string crv = std::string(1, c) + r + v;
        cells.push_back({"$_DFF_" + crv + "_", {"C", "D", "R"}, "Q"});
        cells.push_back({"$_SDFF_" + crv + "_", {"C", "D", "R"}, "Q"});
        for (char e : {'P', 'N'})
          for (const char* kind : {"$_DFFE_", "$_SDFFE_", "$_SDFFCE_"})
            cells.push_back({kind + crv + e + "_", {"C", "D", "E", "R"}, "Q"});
      }
  }
  std::string ports, decls, body;
  for (std::size_t k = 0; k < cells.size(); ++k) {
    const Cell& c = cells[k];
    const std::string p = "c" + std::to_string(k) + "_";
    std::string conns;
    for (const std::string& in : c.inputs) {
      ports += p + in + ", ";
      decls += "  input " + p + in + ";\n";
      conns += "." + in + "(" + p + in + "), ";
    }
    ports += p + c.output + (k + 1 < cells.size() ? ", " : "");
    decls += "  output " + p + c.output + ";\n";
    body += "  \\" + c.name + " u" + std::to_string(k) + " (" + conns + "." + c.output + "(" + p + c.output + "));\n";
  }
  TempDir t;
  t.write("gold.v", "module gold(" + ports + ");\n" + decls + body + "endmodule\n");
  std::string err;
  ASSERT_EQ(shell(zv() + " in " + (t / "gold.v") + " -w " + t.mkdir("n"), &err), 0) << err;
  ASSERT_EQ(shell(zv() + " out gold " + (t / "n") + " -o " + (t / "gate.v"), &err), 0) << err;
  // The converted design as module gate; its registers' unconnected pins
  // tied to what unconnected means (enabled, no reset), which a prover
  // would otherwise take as free inputs.
  std::string gate = read_file(t / "gate.v"), tied;
  gate.replace(gate.find("module gold("), 12, "module gate(");
  for (std::size_t at = 0, end; at < gate.size(); at = end + 1) {
    end = gate.find('\n', at);
    std::string line = gate.substr(at, end - at);
    if (line.find("\\reg") != std::string::npos)
      for (const char* pin : {"clk_enb(1'b1)", "p_reset(1'b0)", "s_clock(1'b0)"})
        if (line.find(std::string(".") + std::string(pin, std::strchr(pin, '(') + 1)) == std::string::npos)
          line.insert(line.find("(.") + 1, std::string(".") + pin + ", ");
    tied += line + "\n";
  }
  t.write("gate.v", tied);
  const std::string script = "read_verilog -icells " + (t / "gold.v") + "; read_verilog " + kSrc +
                             "/share/zelk_cells.v; read_verilog " + (t / "gate.v") +
                             "; proc; miter -equiv -flatten -make_assert gold gate miter;"
                             " hierarchy -top miter; flatten; clk2fflogic; opt_clean;"
                             " sat -verify -prove-asserts -set-init-zero -seq 8 -show-outputs miter";
  EXPECT_EQ(shell("yosys -q -p \"" + script + "\" > " + (t / "log"), &err), 0)
      << err << read_file(t / "log");
}

}  // namespace
}  // namespace zelk::test
