// Hierarchy reconstruction and net trees: inverter placement, ports and
// their directions, local constants and supply pins, the nets that are
// kept or dropped, and flat output as a complete design.  The written
// files are compared byte for byte and checked for equivalence with the
// input by simulation.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "flat/flat.h"
#include "rebuild/rebuild.h"
#include "rebuild/rebuild_internal.h"
#include "support/fixture.h"
#include "support/sim.h"
#include "writer/writer.h"

namespace zelk {
namespace {

using Files = std::map<std::string, std::string>;
using test::check_equivalent;
using test::list_dir;
using test::load_flat;
using test::read_file;

// Flattens the design (without reduction: every inverter is still a weight
// of -1), rebuilds it and writes it.  Returns the written files; the
// design stays in `r` for further checks.
Files rebuild(test::Loaded& r, const Files& in, bool flat_output) {
  r = load_flat(in, "top");
  Design& d = *r.design;
  if (flat_output) d.h_or_f = 3;
  output(d);
  hierarchy(d);
  d.log = std::tmpfile();
  print_nld(d);
  std::fclose(d.log);
  d.log = stderr;
  Files out;
  for (const std::string& f : list_dir(d.write_dir)) out[f] = read_file(d.write_dir + "/" + f);
  return out;
}

std::string equivalent(const test::Loaded& r) {
  return check_equivalent("top", {r.design->opt_dir[0]}, "top", {r.design->write_dir});
}

void expect_files(const Files& got, const Files& want) {
  ASSERT_EQ(got.size(), want.size());
  for (auto& [name, text] : want) {
    auto it = got.find(name);
    ASSERT_NE(it, got.end()) << name;
    EXPECT_EQ(it->second, text) << name;
  }
}

// Every port pairs a new pin inside a copy with a new terminal outside.
void expect_partners(const Design& d) {
  for (Module* m = d.top->next; m; m = m->next) {
    if (m->state != kStateOpen || m->inst->use != 1) continue;
    for (Instance* p = m->pins; p; p = p->next) {
      if (p->use != 1 || p->link->partner == nullptr) continue;
      Link* outside = p->link->partner;
      EXPECT_EQ(outside->partner, p->link);
      EXPECT_EQ(outside->inst, m->inst);
      EXPECT_STREQ(outside->pin_name, p->name);
      EXPECT_EQ(p->link->pin_type, p->type);
    }
  }
}

const Files kD1In = {
     {"loc.nld",
      "(def-module loc (def-pin x type input) (def-pin q type output)\n"
      " (def-comp and--2 e) (def-comp inv- v) (def-comp or--2 f)\n"
      " (def-net x e.in1 e.in2 f.in2) (def-net e.out v.in) (def-net v.nout f.in1) (def-net f.out q))\n"},
     {"sub.nld",
      "(def-module sub (def-pin x type input) (def-pin q type output)\n"
      " (def-comp and--2 e)\n"
      " (def-net x e.in1 e.in2) (def-net e.out q))\n"},
     {"top.nld",
      "(def-module top\n"
      " (def-pin a type input) (def-pin y type output) (def-pin z type output) (def-pin w type output)\n"
      " (def-comp sub u1 u2) (def-comp loc u3)\n"
      " (def-comp and--2 g) (def-comp inv- i)\n"
      " (def-net a g.in1 g.in2 u3.x)\n"
      " (def-net g.out i.in)\n"
      " (def-net i.nout u1.x u2.x)\n"
      " (def-net u1.q y) (def-net u2.q z) (def-net u3.q w))\n"}};

const Files kD2In = {
     {"busr.nld",
      "(def-module busr (def-pin e type input) (def-pin b type bidirect) (def-pin o type output)\n"
      " (def-comp ts_buf- t2) (def-comp and--2 g)\n"
      " (def-net e t2.nenb t2.in) (def-net t2.out b g.in1 g.in2) (def-net g.out o))\n"},
     {"busw.nld",
      "(def-module busw (def-pin e type input) (def-pin b type bidirect)\n"
      " (def-comp ts_buf- t3) (def-net e t3.nenb t3.in) (def-net t3.out b))\n"},
     {"leaf.nld",
      "(def-module leaf (def-pin a type input) (def-pin y type output)\n"
      " (def-comp and--2 g) (def-net a g.in1 g.in2) (def-net g.out y))\n"},
     {"mid.nld",
      "(def-module mid (def-pin a type input) (def-pin y type output)\n"
      " (def-comp leaf u2) (def-net a u2.a) (def-net u2.y y))\n"},
     {"top.nld",
      "(def-module top\n"
      " (def-pin a type input) (def-pin y type output) (def-pin e type input) (def-pin d type input)\n"
      " (def-pin b type bidirect) (def-pin o type output)\n"
      " (def-comp mid u1) (def-comp busr r1) (def-comp busw w1) (def-comp ts_buf- t)\n"
      " (def-net a u1.a) (def-net u1.y y)\n"
      " (def-net d t.in) (def-net e t.nenb r1.e w1.e)\n"
      " (def-net t.out r1.b w1.b b)\n"
      " (def-net r1.o o))\n"}};

const Files kD3In = {
     {"sub.nld",
      "(def-module sub\n"
      " (def-pin x type input) (def-pin c type input) (def-pin s type input) (def-pin m_clock type input)\n"
      " (def-pin nc type unused-connected) (def-pin q type output)\n"
      " (def-comp reg-1 r) (def-comp and--2 k) (def-comp or--3 h)\n"
      " (def-net m_clock r.m_clock) (def-net x k.in1) (def-net c k.in2) (def-net k.out r.in)\n"
      " (def-net r.out h.in1) (def-net s h.in2) (def-net nc h.in3) (def-net h.out q))\n"},
     {"top.nld",
      "(def-module top\n"
      " (def-pin a type input) (def-pin m_clock type input) (def-pin VSS type global)\n"
      " (def-pin tu type unused-connected) (def-pin yy type output)\n"
      " (def-pin y1 type output) (def-pin y2 type output) (def-pin y3 type output) (def-pin y4 type output)\n"
      " (def-comp sub u1 u2) (def-comp high- H) (def-comp sreg-1 s) (def-comp inv- i) (def-comp and--2 g)\n"
      " (def-net H.out u1.c u2.c)\n"
      " (def-net VSS u1.s)\n"
      " (def-net m_clock s.m_clock u1.m_clock u2.m_clock)\n"
      " (def-net a s.in g.in1 u2.x u2.s)\n"
      " (def-net s.scan_out i.in g.in2)\n"
      " (def-net i.nout u1.x)\n"
      " (def-net yy) (def-net s.scan_in)\n"
      " (def-net tu)\n"
      " (def-net s.out y1) (def-net g.out y2) (def-net u1.q y3) (def-net u2.q y4))\n"}};

const Files kD4In = {
     {"leaf.nld",
      "(def-module leaf\n"
      " (def-pin d type input) (def-pin m_clock type input) (def-pin q type output)\n"
      " (def-comp reg-1 R1)\n"
      " (def-comp inv- j)\n"
      " (def-net d j.in)\n"
      " (def-net j.nout R1.in)\n"
      " (def-net m_clock R1.m_clock)\n"
      " (def-net R1.out q))\n"},
     {"mid.nld",
      "(def-module mid\n"
      " (def-pin d type input) (def-pin m_clock type input) (def-pin q type output) (def-pin VDD type global)\n"
      " (def-comp leaf u2)\n"
      " (def-comp and--2 g)\n"
      " (def-net d u2.d)\n"
      " (def-net m_clock u2.m_clock)\n"
      " (def-net u2.q g.in1)\n"
      " (def-net VDD g.in2)\n"
      " (def-net g.out q))\n"},
     {"top.nld",
      "(def-module top\n"
      " (def-pin a type input) (def-pin m_clock type input) (def-pin y type output) (def-pin z type output)\n"
      " (def-pin VDD type global)\n"
      " (def-comp mid u1 u3) (def-comp and--2 t0) (def-comp inv- i)\n"
      " (def-net a i.in) (def-net i.nout u1.d u3.d) (def-net m_clock u1.m_clock u3.m_clock)\n"
      " (def-net u1.q y) (def-net u3.q t0.in1) (def-net VDD t0.in2) (def-net t0.out z))\n"}};

const Files kD1TreeOut = {
     {"loc-1.nld",
      "(def-module\tloc-1\n"
      "\t(def-pin\tin1\ttype input)\n"
      "\t(def-pin\tout1\ttype output)\n"
      "\n"
      "\t(def-comp\tor--2\tor-1)\n"
      "\t(def-comp\tand--2\tand-1)\n"
      "\t(def-comp\tinv-\tinv-1)\n"
      "\n"
      "\t(def-net\tinv-1.nout\tor-1.in1)\n"
      "\t(def-net\tinv-1.in\tand-1.out)\n"
      "\t(def-net\tin1\tor-1.in2\tand-1.in2\tand-1.in1)\n"
      "\t(def-net\tout1\tor-1.out)\n"
      ")\n"},
     {"sub-1.nld",
      "(def-module\tsub-1\n"
      "\t(def-pin\tin1\ttype input)\n"
      "\t(def-pin\tout1\ttype output)\n"
      "\n"
      "\t(def-comp\tand--2\tand-1)\n"
      "\n"
      "\t(def-net\tin1\tand-1.in2\tand-1.in1)\n"
      "\t(def-net\tout1\tand-1.out)\n"
      ")\n"},
     {"sub-2.nld",
      "(def-module\tsub-2\n"
      "\t(def-pin\tin1\ttype input)\n"
      "\t(def-pin\tout1\ttype output)\n"
      "\n"
      "\t(def-comp\tand--2\tand-1)\n"
      "\n"
      "\t(def-net\tin1\tand-1.in2\tand-1.in1)\n"
      "\t(def-net\tout1\tand-1.out)\n"
      ")\n"},
     {"top.nld",
      "(def-module\ttop\n"
      "\t(def-pin\tw\ttype output)\n"
      "\t(def-pin\tz\ttype output)\n"
      "\t(def-pin\ty\ttype output)\n"
      "\t(def-pin\ta\ttype input)\n"
      "\n"
      "\t(def-comp\tand--2\tand-1)\n"
      "\t(def-comp\tloc-1\tu3)\n"
      "\t(def-comp\tsub-1\tu2)\n"
      "\t(def-comp\tsub-2\tu1)\n"
      "\t(def-comp\tinv-\tinv-1)\n"
      "\n"
      "\t(def-net\tu3.in1\tand-1.in2\tand-1.in1\ta)\n"
      "\t(def-net\tu1.in1\tu2.in1\tinv-1.nout)\n"
      "\t(def-net\tand-1.out\tinv-1.in)\n"
      "\t(def-net\tu1.out1\ty)\n"
      "\t(def-net\tu2.out1\tz)\n"
      "\t(def-net\tu3.out1\tw)\n"
      ")\n"}};

const Files kD2TreeOut = {
     {"busr-1.nld",
      "(def-module\tbusr-1\n"
      "\t(def-pin\tin1\ttype input)\n"
      "\t(def-pin\tout1\ttype bidirect)\n"
      "\t(def-pin\tout2\ttype output)\n"
      "\n"
      "\t(def-comp\tand--2\tand-1)\n"
      "\t(def-comp\tts_buf-\tt2)\n"
      "\n"
      "\t(def-net\tin1\tt2.in\tt2.nenb)\n"
      "\t(def-net\tout1\tand-1.in2\tand-1.in1\tt2.out)\n"
      "\t(def-net\tout2\tand-1.out)\n"
      ")\n"},
     {"busw-1.nld",
      "(def-module\tbusw-1\n"
      "\t(def-pin\tin1\ttype input)\n"
      "\t(def-pin\tout1\ttype tristate)\n"
      "\n"
      "\t(def-comp\tts_buf-\tt3)\n"
      "\n"
      "\t(def-net\tin1\tt3.in\tt3.nenb)\n"
      "\t(def-net\tout1\tt3.out)\n"
      ")\n"},
     {"leaf-1.nld",
      "(def-module\tleaf-1\n"
      "\t(def-pin\tin1\ttype input)\n"
      "\t(def-pin\tout1\ttype output)\n"
      "\n"
      "\t(def-comp\tand--2\tand-1)\n"
      "\n"
      "\t(def-net\tin1\tand-1.in2\tand-1.in1)\n"
      "\t(def-net\tout1\tand-1.out)\n"
      ")\n"},
     {"mid-1.nld",
      "(def-module\tmid-1\n"
      "\t(def-pin\tin1\ttype input)\n"
      "\t(def-pin\tout1\ttype output)\n"
      "\n"
      "\t(def-comp\tleaf-1\tu2)\n"
      "\n"
      "\t(def-net\tu2.in1\tin1)\n"
      "\t(def-net\tu2.out1\tout1)\n"
      ")\n"},
     {"top.nld",
      "(def-module\ttop\n"
      "\t(def-pin\to\ttype output)\n"
      "\t(def-pin\tb\ttype bidirect)\n"
      "\t(def-pin\td\ttype input)\n"
      "\t(def-pin\te\ttype input)\n"
      "\t(def-pin\ty\ttype output)\n"
      "\t(def-pin\ta\ttype input)\n"
      "\n"
      "\t(def-comp\tts_buf-\tt)\n"
      "\t(def-comp\tbusw-1\tw1)\n"
      "\t(def-comp\tbusr-1\tr1)\n"
      "\t(def-comp\tmid-1\tu1)\n"
      "\n"
      "\t(def-net\tu1.in1\ta)\n"
      "\t(def-net\tu1.out1\ty)\n"
      "\t(def-net\tt.in\td)\n"
      "\t(def-net\tr1.in1\tw1.in1\tt.nenb\te)\n"
      "\t(def-net\tr1.out1\tw1.out1\tb\tt.out)\n"
      "\t(def-net\tr1.out2\to)\n"
      ")\n"}};

const Files kD3TreeOut = {
     {"sub-1.nld",
      "(def-module\tsub-1\n"
      "\t(def-pin\tin1\ttype input)\n"
      "\t(def-pin\tout1\ttype output)\n"
      "\t(def-pin\tm_clock\ttype input)\n"
      "\n"
      "\t(def-comp\tor--3\tor-1)\n"
      "\t(def-comp\tand--2\tand-1)\n"
      "\t(def-comp\treg-1\tr)\n"
      "\t(def-comp\thigh-\thigh-)\n"
      "\n"
      "\t(def-net\tr.in\tand-1.out)\n"
      "\t(def-net\tor-1.in1\tr.out)\n"
      "\t(def-net\thigh-.out\tand-1.in2)\n"
      "\t(def-net\tin1\tor-1.in2\tand-1.in1)\n"
      "\t(def-net\tout1\tor-1.out)\n"
      "\t(def-net\tr.m_clock\tm_clock)\n"
      ")\n"},
     {"sub-2.nld",
      "(def-module\tsub-2\n"
      "\t(def-pin\tVSS\ttype global)\n"
      "\t(def-pin\tin1\ttype input)\n"
      "\t(def-pin\tout1\ttype output)\n"
      "\t(def-pin\tm_clock\ttype input)\n"
      "\n"
      "\t(def-comp\tor--3\tor-1)\n"
      "\t(def-comp\tand--2\tand-1)\n"
      "\t(def-comp\treg-1\tr)\n"
      "\t(def-comp\thigh-\thigh-)\n"
      "\n"
      "\t(def-net\tr.in\tand-1.out)\n"
      "\t(def-net\tor-1.in1\tr.out)\n"
      "\t(def-net\thigh-.out\tand-1.in2)\n"
      "\t(def-net\tVSS\tor-1.in2)\n"
      "\t(def-net\tin1\tand-1.in1)\n"
      "\t(def-net\tout1\tor-1.out)\n"
      "\t(def-net\tr.m_clock\tm_clock)\n"
      ")\n"},
     {"top.nld",
      "(def-module\ttop\n"
      "\t(def-pin\ty4\ttype output)\n"
      "\t(def-pin\ty3\ttype output)\n"
      "\t(def-pin\ty2\ttype output)\n"
      "\t(def-pin\ty1\ttype output)\n"
      "\t(def-pin\tyy\ttype output)\n"
      "\t(def-pin\ttu\ttype unused-connected)\n"
      "\t(def-pin\tVSS\ttype global)\n"
      "\t(def-pin\tm_clock\ttype input)\n"
      "\t(def-pin\ta\ttype input)\n"
      "\n"
      "\t(def-comp\tand--2\tand-1)\n"
      "\t(def-comp\tsreg-1\ts)\n"
      "\t(def-comp\tsub-1\tu2)\n"
      "\t(def-comp\tsub-2\tu1)\n"
      "\t(def-comp\tinv-\tinv-1)\n"
      "\n"
      "\t(def-net\tu2.m_clock\tu1.m_clock\ts.m_clock\tm_clock)\n"
      "\t(def-net\tu2.in1\tand-1.in1\ts.in\ta)\n"
      "\t(def-net\tu1.in1\tinv-1.nout)\n"
      "\t(def-net\tand-1.in2\ts.scan_out\tinv-1.in)\n"
      "\t(def-net\ttu)\n"
      "\t(def-net\ty1\ts.out)\n"
      "\t(def-net\ty2\tand-1.out)\n"
      "\t(def-net\tu1.out1\ty3)\n"
      "\t(def-net\tu2.out1\ty4)\n"
      ")\n"}};

const Files kD1FlatOut = {
     {"top.nld",
      "(def-module\ttop\n"
      "\t(def-pin\tw\ttype output)\n"
      "\t(def-pin\tz\ttype output)\n"
      "\t(def-pin\ty\ttype output)\n"
      "\t(def-pin\ta\ttype input)\n"
      "\n"
      "\t(def-comp\tor--2\tor-1)\n"
      "\t(def-comp\tand--2\tand-1)\n"
      "\t(def-comp\tand--2\tand-2)\n"
      "\t(def-comp\tand--2\tand-3)\n"
      "\t(def-comp\tand--2\tand-4)\n"
      "\t(def-comp\tinv-\tinv-1)\n"
      "\t(def-comp\tinv-\tinv-2)\n"
      "\n"
      "\t(def-net\tand-2.out\tinv-2.in)\n"
      "\t(def-net\tor-1.in1\tinv-2.nout)\n"
      "\t(def-net\tand-2.in1\tand-2.in2\tor-1.in2\ta\tand-1.in1\tand-1.in2)\n"
      "\t(def-net\tinv-1.in\tand-1.out)\n"
      "\t(def-net\tand-4.in1\tand-4.in2\tand-3.in1\tand-3.in2\tinv-1.nout)\n"
      "\t(def-net\tand-4.out\ty)\n"
      "\t(def-net\tand-3.out\tz)\n"
      "\t(def-net\tor-1.out\tw)\n"
      ")\n"}};

const Files kD4FlatOut = {
     {"top.nld",
      "(def-module\ttop\n"
      "\t(def-pin\tVDD\ttype global)\n"
      "\t(def-pin\tz\ttype output)\n"
      "\t(def-pin\ty\ttype output)\n"
      "\t(def-pin\tm_clock\ttype input)\n"
      "\t(def-pin\ta\ttype input)\n"
      "\n"
      "\t(def-comp\treg-1\tu1/u2/R1)\n"
      "\t(def-comp\treg-1\tu3/u2/R1)\n"
      "\t(def-comp\tand--2\tand-1)\n"
      "\t(def-comp\tand--2\tand-2)\n"
      "\t(def-comp\tand--2\tand-3)\n"
      "\n"
      "\t(def-net\tu1/u2/R1.out\tand-3.in1)\n"
      "\t(def-net\tu3/u2/R1.out\tand-2.in1)\n"
      "\t(def-net\tu1/u2/R1.in\tu3/u2/R1.in\ta)\n"
      "\t(def-net\tm_clock\tu3/u2/R1.m_clock\tu1/u2/R1.m_clock)\n"
      "\t(def-net\tand-3.out\ty)\n"
      "\t(def-net\tand-2.out\tand-1.in1)\n"
      "\t(def-net\tand-1.in2\tVDD\tand-2.in2\tand-3.in2)\n"
      "\t(def-net\tand-1.out\tz)\n"
      ")\n"}};

int count_class(const Module* m, int cls) {
  int k = 0;
  for (const CompGroup* g = m->comp_groups; g; g = g->next)
    for (const Instance* i = g->first; i; i = i->next)
      if (i->cls == cls) ++k;
  return k;
}

TEST(RebuildHierarchy, InverterGoesToYoungestCommonAncestor) {
  test::Loaded r;
  Files out = rebuild(r, kD1In, false);
  expect_files(out, kD1TreeOut);
  EXPECT_EQ(equivalent(r), "");
  const Design& d = *r.design;
  expect_partners(d);
  // One inverter in the top module serves both sibling copies; the copy
  // with its own inverted terminal keeps its inverter inside.
  EXPECT_EQ(count_class(d.top, kInv), 1);
  for (Module* m = d.top->next; m; m = m->next) {
    EXPECT_TRUE(check_lists(m));
    EXPECT_EQ(count_class(m, kInv), std::string(m->name) == "loc-1" ? 1 : 0) << m->name;
  }
}

TEST(RebuildHierarchy, PortsTakeTheDirectionOfTheDrivers) {
  test::Loaded r;
  Files out = rebuild(r, kD2In, false);
  // mid-1 passes a net through without a terminal of its own; busr-1 reads
  // its bus (bidirect), busw-1 only drives it (tristate).
  expect_files(out, kD2TreeOut);
  EXPECT_EQ(equivalent(r), "");
  expect_partners(*r.design);
}

TEST(RebuildHierarchy, ConstantsSupplyControlAndScanNets) {
  test::Loaded r;
  Files out = rebuild(r, kD3In, false);
  // Each copy gets its own "high-" cell and, where it needs it, its own
  // "VSS" pin; the top "high-" cell that drives nothing of its own drops
  // out.  The scan output gets an inverter; clock nets stay; the copy's
  // unused net and the net without a driver are dropped, the top
  // module's unused net stays.  (The dropped nets leave inputs open that
  // were open before, so no equivalence check here.)
  expect_files(out, kD3TreeOut);
  const Design& d = *r.design;
  expect_partners(d);
  Module* u2 = d.top->next;  // the copies come in the order of the top's comps
  Module* u1 = u2->next;
  EXPECT_STREQ(u1->inst_name, "u1");
  EXPECT_EQ(test::find_pin(u1, "nc")->use, 0);
  EXPECT_EQ(test::find_pin(u1, "m_clock")->use, 1);
  EXPECT_EQ(test::find_pin(u1, "x")->use, 0);
  EXPECT_EQ(test::find_pin(u1, "VSS")->type, kwGlobal);
  EXPECT_EQ(test::find_pin(u2, "VSS"), nullptr);
}

TEST(RebuildHierarchy, FlatOutputIsACompleteDesign) {
  {
    // Inverters for inverted terminals of any copy go into the top module.
    test::Loaded r;
    Files out = rebuild(r, kD1In, true);
    expect_files(out, kD1FlatOut);
    EXPECT_EQ(equivalent(r), "");
    EXPECT_EQ(count_class(r.design->top, kInv), 2);
    EXPECT_TRUE(check_lists(r.design->top));
  }
  {
    // Registers get hierarchical names, the clock nets of the copies join
    // the top clock net, the copies' global pins join the top "VDD" net,
    // and no terminal of a copy's pin or of an opened instance is left.
    test::Loaded r;
    Files out = rebuild(r, kD4In, true);
    expect_files(out, kD4FlatOut);
    EXPECT_EQ(equivalent(r), "");
    const Module* top = r.design->top;
    EXPECT_TRUE(check_lists(top));
    for (const Net* n = top->nets; n; n = n->next)
      for (const Link* l = n->links; l; l = l->next) {
        EXPECT_NE(l->inst->cls, kUser);
        if (l->inst->cls == kPin) {
          EXPECT_EQ(l->inst->module, top);
        }
      }
  }
}

// Terminals on made-up instances of a loaded design's copies, for the net
// tree alone.
struct TreeBench {
  test::Loaded r = load_flat(kD2In, "top");
  Design& d = *r.design;
  Module* top = d.top;
  Module* copy(const char* inst) {
    for (Module* m = top->next; m; m = m->next)
      if (std::string(m->inst_name) == inst) return m;
    return nullptr;
  }
  Link* term(Module* m, int16_t pin_type, int16_t cls = kAnd) {
    Instance* i = d.make<Instance>();
    i->cls = cls;
    i->module = m;
    Link* l = d.make<Link>();
    l->inst = i;
    l->pin_type = pin_type;
    l->inst_next = l;
    i->link = l;
    return l;
  }
  Net* net(std::vector<Link*> links) {
    Net* n = d.make<Net>();
    for (Link* l : links) net_push_back(n, l);
    return n;
  }
};

TEST(RebuildNetTree, YoungestCommonAncestor) {
  TreeBench b;
  Module* mid = b.copy("u1");
  Module* leaf = b.copy("u2");
  Module* busr = b.copy("r1");
  EXPECT_EQ(yca(mid, leaf), mid);
  EXPECT_EQ(yca(leaf, mid), mid);
  EXPECT_EQ(yca(leaf, busr), b.top);
  EXPECT_EQ(yca(leaf, leaf), leaf);
  EXPECT_EQ(yca(nullptr, leaf), leaf);
  EXPECT_EQ(yca(busr, nullptr), busr);
}

TEST(RebuildNetTree, TreeShapeAndPortTypes) {
  TreeBench b;
  Module* mid = b.copy("u1");
  Module* leaf = b.copy("u2");
  Module* busw = b.copy("w1");
  NetTrees trees(b.d);
  // Whatever the order of the terminals, the tree is the same: the top
  // module with the bus copy and the middle copy (no terminal) as children,
  // the leaf below the middle copy.
  for (int order = 0; order < 2; ++order) {
    Link* in_leaf = b.term(leaf, kwOutput);
    Link* in_busw = b.term(busw, kwInput);
    Link* in_top = b.term(b.top, kwInput);
    Net* n = order == 0 ? b.net({in_leaf, in_busw, in_top}) : b.net({in_leaf, in_top, in_busw});
    HierNode* t = trees.h_net(n);
    ASSERT_EQ(t->module, b.top);
    EXPECT_EQ(t->up, nullptr);
    EXPECT_EQ(t->links, in_top);
    HierNode* first = t->children;
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->module, busw);
    EXPECT_EQ(first->links, in_busw);
    HierNode* second = first->sibling;
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->module, mid);
    EXPECT_EQ(second->links, nullptr);
    EXPECT_EQ(second->sibling, nullptr);
    EXPECT_EQ(second->up, t);
    ASSERT_NE(second->children, nullptr);
    EXPECT_EQ(second->children->module, leaf);
    EXPECT_EQ(second->children->up, second);
    EXPECT_EQ(second->children->links, in_leaf);
    std::vector<HierNode*> pre = trees.preorder(t);
    ASSERT_EQ(pre.size(), 4u);
    EXPECT_EQ(pre[2], second);

    // Signal net driven in the leaf: out through the middle copy, into the
    // bus copy.
    trees.pin_type_check(t, kNetSignal);
    EXPECT_EQ(pre[3]->port_type, kwOutput);
    EXPECT_EQ(pre[2]->port_type, kwOutput);
    EXPECT_EQ(pre[1]->port_type, kwInput);
    EXPECT_EQ(pre[1]->source, nullptr);
    EXPECT_EQ(pre[3]->source, in_leaf);
  }
  {
    // Tristate net driven in the leaf and in the bus copy: both ways; the
    // bus copy, which also reads the net, is bidirect.
    Link* drv_leaf = b.term(leaf, kwOutput);
    Link* drv_busw = b.term(busw, kwTristate, kTsBuf);
    Link* read_busw = b.term(busw, kwInput);
    HierNode* t = trees.h_net(b.net({drv_leaf, drv_busw, read_busw}));
    std::vector<HierNode*> pre = trees.preorder(t);
    ASSERT_EQ(pre.size(), 4u);
    trees.pin_type_check(t, kNetTristate);
    EXPECT_EQ(pre[1]->module, busw);
    EXPECT_EQ(pre[1]->port_type, kwBidirect);
    EXPECT_EQ(pre[2]->port_type, kwTristate);
    EXPECT_EQ(pre[3]->port_type, kwTristate);
    // A net without any driver: every node reads as driving nothing.
    HierNode* u = trees.h_net(b.net({b.term(leaf, kwInput), b.term(busw, kwInput)}));
    trees.pin_type_check(u, kNetSignal);
    for (HierNode* n : trees.preorder(u)) EXPECT_EQ(n->port_type, kwOutput);
  }
}

// The whole run: the reduction turns both exclusive-or cells into their
// duals, the copies are rewritten under new names and the top module's
// inverter is gone.
const Files kEorIn = {
     {"sub.nld",
      "(def-module sub\n"
      " (def-pin x type input) (def-pin q type output)\n"
      " (def-comp eor--2 e) (def-comp high- h)\n"
      " (def-net x e.in1)\n"
      " (def-net h.out e.in2)\n"
      " (def-net e.out q))\n"},
     {"top.nld",
      "(def-module top\n"
      " (def-pin a type input) (def-pin b type input) (def-pin y type output) (def-pin z type output)\n"
      " (def-comp sub u1 u2)\n"
      " (def-comp nand--2 g)\n"
      " (def-comp inv- i)\n"
      " (def-net a g.in1)\n"
      " (def-net b g.in2)\n"
      " (def-net g.nout i.in)\n"
      " (def-net i.nout u1.x u2.x)\n"
      " (def-net u1.q y)\n"
      " (def-net u2.q z))\n"}};
const Files kEorOut = {
     {"sub-1.nld",
      "(def-module\tsub-1\n"
      "\t(def-pin\tin1\ttype input)\n"
      "\t(def-pin\tout1\ttype output)\n"
      "\n"
      "\t(def-comp\thigh-\th)\n"
      "\t(def-comp\tenor--2\tenor-1)\n"
      "\n"
      "\t(def-net\tenor-1.in2\th.out)\n"
      "\t(def-net\tin1\tenor-1.in1)\n"
      "\t(def-net\tout1\tenor-1.nout)\n"
      ")\n"},
     {"sub-2.nld",
      "(def-module\tsub-2\n"
      "\t(def-pin\tin1\ttype input)\n"
      "\t(def-pin\tout1\ttype output)\n"
      "\n"
      "\t(def-comp\tenor--2\tenor-1)\n"
      "\t(def-comp\thigh-\thigh-)\n"
      "\n"
      "\t(def-net\thigh-.out\tenor-1.in2)\n"
      "\t(def-net\tin1\tenor-1.in1)\n"
      "\t(def-net\tout1\tenor-1.nout)\n"
      ")\n"},
     {"top.nld",
      "(def-module\ttop\n"
      "\t(def-pin\tz\ttype output)\n"
      "\t(def-pin\ty\ttype output)\n"
      "\t(def-pin\tb\ttype input)\n"
      "\t(def-pin\ta\ttype input)\n"
      "\n"
      "\t(def-comp\tnand--2\tnand-1)\n"
      "\t(def-comp\tsub-1\tu2)\n"
      "\t(def-comp\tsub-2\tu1)\n"
      "\n"
      "\t(def-net\tnand-1.in1\ta)\n"
      "\t(def-net\tnand-1.in2\tb)\n"
      "\t(def-net\tu1.in1\tu2.in1\tnand-1.nout)\n"
      "\t(def-net\tu1.out1\ty)\n"
      "\t(def-net\tu2.out1\tz)\n"
      ")\n"}};

TEST(RebuildEndToEnd, AbsorbedInverterRewritesCopies) {
  test::TempDir dir;
  for (auto& [name, text] : kEorIn) dir.write("opt/" + name, text);
  dir.mkdir("out");
  test::RunResult res = test::run_zelk({"top", dir / "opt", "-w", dir / "out"});
  ASSERT_EQ(res.status, 0) << res.err;
  EXPECT_NE(res.err.find("\tWrote " + (dir / "out") + "/sub-2.nld\n"), std::string::npos);
  EXPECT_NE(res.err.find("\t1 ---> 0\n"), std::string::npos);
  Files got;
  for (const std::string& f : list_dir(dir / "out")) got[f] = read_file(dir / "out" + "/" + f);
  expect_files(got, kEorOut);
  EXPECT_EQ(check_equivalent("top", {dir / "opt"}, "top", {dir / "out"}), "");
}

}  // namespace
}  // namespace zelk
