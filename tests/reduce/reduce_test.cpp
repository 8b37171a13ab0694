#include <gtest/gtest.h>

#include <cstdlib>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "flat/flat.h"
#include "reduce/reduce.h"
#include "support/fixture.h"

namespace zelk {
namespace {

using test::find_comp;
using test::find_module;
using test::find_pin;
using test::find_term;
using test::load_flat;
using test::Loaded;

int wt(const Instance* i, const char* pin) {
  Link* t = find_term(i, pin);
  EXPECT_NE(t, nullptr) << pin;
  return t ? t->weight : 99;
}

// Every weight of the flat network, in list order, to compare states.
std::vector<int> weights(const Design& d) {
  std::vector<int> w;
  for (Net* n = d.top->nets; n; n = n->next)
    for (Link* t = n->links; t; t = t->next) w.push_back(t->weight);
  return w;
}

int inv(const Design& d) { return count_inv(d, d.top); }

std::vector<Instance*> members(Instance* h) {
  std::vector<Instance*> v;
  for (Instance* m = h; m; m = m->comp_member) v.push_back(m);
  return v;
}

std::vector<Instance*> heads(const Design& d) {
  std::vector<Instance*> v;
  for (Instance* h = d.top->conn_comps; h; h = h->comp_next) v.push_back(h);
  return v;
}

// ------------------------------------------------------------------ designs

// The typical run: inside a module copy an inverter sits between an and-
// gate and an input of an eor- cell.
const std::map<std::string, std::string> kTypical = {
    {"sub.nld",
     "(def-module sub (def-pin a type input) (def-pin b type input) (def-pin c type input)\n"
     " (def-pin y type output)\n"
     " (def-comp and--2 g1) (def-comp inv- i1) (def-comp eor--2 x1)\n"
     " (def-net a g1.a) (def-net b g1.b) (def-net g1.out i1.in) (def-net i1.nout x1.in1)\n"
     " (def-net c x1.in2) (def-net x1.out y))\n"},
    {"top.nld",
     "(def-module top (def-pin a type input) (def-pin b type input) (def-pin c type input)\n"
     " (def-pin y type output) (def-comp sub u1)\n"
     " (def-net a u1.a) (def-net b u1.b) (def-net c u1.c) (def-net y u1.y))\n"},
};

// One and- gate g between top pins; a and b reach it through inverters
// when asked.
std::string gate_design(bool a_inverted, bool b_inverted) {
  std::string s =
      "(def-module top (def-pin a type input) (def-pin b type input) (def-pin y type output)\n"
      " (def-comp and--2 g) (def-comp inv- ia ib)\n";
  s += a_inverted ? " (def-net a ia.in) (def-net ia.nout g.i1)\n" : " (def-net a g.i1)\n";
  s += b_inverted ? " (def-net b ib.in) (def-net ib.nout g.i2)\n" : " (def-net b g.i2)\n";
  s += " (def-net g.out y))\n";
  return s;
}

// ------------------------------------------------------------------ tests

TEST(ReduceRun, TypicalRunAbsorbsIntoExclusiveOr) {
  Loaded l = load_flat(kTypical, "top");
  Design& d = *l.design;
  ASSERT_EQ(inv(d), 0);  // an eor- input never costs
  Instance* x1 = find_comp(d.top, "x1");
  ASSERT_NE(x1, nullptr);
  EXPECT_EQ(wt(x1, "in1"), -1);
  red_inv(d);
  EXPECT_EQ(wt(x1, "in1"), 1);
  EXPECT_EQ(x1->dual, 1);
  EXPECT_EQ(find_comp(d.top, "g1")->dual, 0);
  EXPECT_EQ(inv(d), 0);
  EXPECT_TRUE(check_lists(d.top));
}

TEST(ReduceFlips, RevInstanceNegatesInputsAndOutputNet) {
  // g's inputs +1 / -1; its output net feeds y1 (+1) and, through an
  // inverter, y2 (-1).
  Loaded l = load_flat(
      {{"top.nld",
        "(def-module top (def-pin a type input) (def-pin b type input)\n"
        " (def-pin y1 type output) (def-pin y2 type output)\n"
        " (def-comp and--2 g) (def-comp inv- ib iy)\n"
        " (def-net a g.i1) (def-net b ib.in) (def-net ib.nout g.i2)\n"
        " (def-net g.out y1 iy.in) (def-net iy.nout y2))\n"}},
      "top");
  Design& d = *l.design;
  Instance* g = find_comp(d.top, "g");
  Link* y1 = find_pin(d.top, "y1")->link;
  Link* y2 = find_pin(d.top, "y2")->link;
  ASSERT_EQ(wt(g, "i1"), 1);
  ASSERT_EQ(wt(g, "i2"), -1);
  ASSERT_EQ(y1->weight, 1);
  ASSERT_EQ(y2->weight, -1);
  std::vector<int> before = weights(d);

  rev_instance(g);
  EXPECT_EQ(wt(g, "i1"), -1);
  EXPECT_EQ(wt(g, "i2"), 1);
  EXPECT_EQ(y1->weight, -1);
  EXPECT_EQ(y2->weight, 1);
  EXPECT_EQ(wt(g, "out"), 0);

  rev_instance(g);
  EXPECT_EQ(weights(d), before);
  EXPECT_EQ(g->dual, 0);
}

TEST(ReduceMoves, SingleGateFlip) {
  {
    // Both inputs inverted: the dual gate needs only one inverter, on its
    // output.
    Loaded l = load_flat({{"top.nld", gate_design(true, true)}}, "top");
    Design& d = *l.design;
    Instance* g = find_comp(d.top, "g");
    ASSERT_EQ(inv(d), 2);
    EXPECT_EQ(diff_inv(d, g), 1);
    EXPECT_EQ(inv(d), 1);
    EXPECT_EQ(wt(g, "i1"), 1);
    EXPECT_EQ(find_pin(d.top, "y")->link->weight, -1);
  }
  {
    // One inverted input: the flip would move it to the other input and
    // add one on the output, so it is undone.
    Loaded l = load_flat({{"top.nld", gate_design(true, false)}}, "top");
    Design& d = *l.design;
    Instance* g = find_comp(d.top, "g");
    std::vector<int> before = weights(d);
    ASSERT_EQ(inv(d), 1);
    EXPECT_EQ(diff_inv(d, g), 0);
    EXPECT_EQ(diff_wt(d, g), 0);
    EXPECT_EQ(weights(d), before);
  }
}

TEST(ReduceMoves, WeightPhaseTieBreak) {
  // Net a feeds g and h inverted; net b feeds g inverted.  Flipping g keeps
  // two inverters (a still feeds h inverted, y now needs one) but needs one
  // inverted terminal less.
  const std::string top =
      "(def-module top (def-pin a type input) (def-pin b type input) (def-pin c type input)\n"
      " (def-pin y type output) (def-pin z type output)\n"
      " (def-comp and--2 g h) (def-comp inv- ia ib)\n"
      " (def-net a ia.in) (def-net ia.nout g.i1 h.i1) (def-net b ib.in) (def-net ib.nout g.i2)\n"
      " (def-net c h.i2) (def-net g.out y) (def-net h.out z))\n";
  Loaded l = load_flat({{"top.nld", top}}, "top");
  Design& d = *l.design;
  Instance* g = find_comp(d.top, "g");
  ASSERT_EQ(inv(d), 2);
  ASSERT_EQ(count_wt(d), 3);
  std::vector<int> before = weights(d);
  EXPECT_EQ(diff_inv(d, g), 0);
  EXPECT_EQ(weights(d), before);
  EXPECT_EQ(diff_wt(d, g), 1);
  EXPECT_EQ(inv(d), 2);
  EXPECT_EQ(count_wt(d), 2);
  EXPECT_EQ(wt(g, "i1"), 1);
  EXPECT_EQ(find_pin(d.top, "y")->link->weight, -1);

  // The whole run keeps that flip: the count stays 2 and g is dual.
  Loaded l2 = load_flat({{"top.nld", top}}, "top");
  red_inv(*l2.design);
  EXPECT_EQ(inv(*l2.design), 2);
  EXPECT_EQ(count_wt(*l2.design), 2);
}

TEST(ReduceMoves, GateWithTwoTerminalsOnOneNetCountsItOnce) {
  // Both inputs of g on the inverted net a.  Flipping g clears a but needs
  // an inverter on y: no gain, though counting net a twice would see one.
  Loaded l = load_flat({{"top.nld",
                         "(def-module top (def-pin a type input) (def-pin y type output)\n"
                         " (def-comp and--2 g) (def-comp inv- ia)\n"
                         " (def-net a ia.in) (def-net ia.nout g.i1 g.i2) (def-net g.out y))\n"}},
                       "top");
  Design& d = *l.design;
  Instance* g = find_comp(d.top, "g");
  ASSERT_EQ(inv(d), 1);
  std::vector<int> before = weights(d);
  EXPECT_EQ(diff_inv(d, g), 0);
  EXPECT_EQ(diff_wt(d, g), 1);  // two inverted terminals become one
  EXPECT_EQ(inv(d), 1);
  EXPECT_EQ(count_wt(d), 1);
  rev_instance(g);
  EXPECT_EQ(weights(d), before);

  red_inv(d);  // ends, and never raises the count
  EXPECT_EQ(inv(d), 1);
}

TEST(ReduceMoves, WholeComponentFlip) {
  {
    Loaded l = load_flat({{"top.nld", gate_design(true, true)}}, "top");
    Design& d = *l.design;
    Reducer r(d);
    r.conn_comp();
    std::vector<Instance*> hs = heads(d);
    ASSERT_EQ(hs.size(), 1u);
    Instance* h = hs[0];
    EXPECT_EQ(h->cls, kPin);  // top pins and the gate they feed, headed by a pin
    EXPECT_EQ(members(h).size(), 4u);
    EXPECT_EQ(diff_inv_conn_comp(d, h), 1);
    EXPECT_EQ(inv(d), 1);
    conn_comp_dual(h);
    Instance* g = find_comp(d.top, "g");
    EXPECT_EQ(g->dual, 1);
    // Flipping back would raise the count again: undone.
    std::vector<int> before = weights(d);
    EXPECT_EQ(diff_inv_conn_comp(d, h), 0);
    EXPECT_EQ(diff_wt_conn_comp(d, h), 0);
    EXPECT_EQ(weights(d), before);
    EXPECT_EQ(g->dual, 1);
  }
  {
    Loaded l = load_flat({{"top.nld", gate_design(true, true)}}, "top");
    Design& d = *l.design;
    red_inv(d);
    EXPECT_EQ(inv(d), 1);
    EXPECT_EQ(find_comp(d.top, "g")->dual, 1);
    EXPECT_EQ(find_comp(d.top, "g")->negate, 0);
  }
}

TEST(ReduceComponents, PinsHeadCutTerminalsPassOverInvertersExcluded) {
  // Copy u1 of s: its pin y is left open outside (cut, not its net's
  // source) and stays a component of its own; its pin b is left open
  // outside too but drives g's input, so it joins g.
  Loaded l = load_flat(
      {{"s.nld",
        "(def-module s (def-pin a type input) (def-pin b type input) (def-pin y type output)\n"
        " (def-comp and--2 g) (def-comp inv- n)\n"
        " (def-net a n.in) (def-net n.nout g.i1) (def-net b g.i2) (def-net g.out y))\n"},
       {"top.nld",
        "(def-module top (def-pin p type input) (def-comp s u1) (def-comp or--2 k)\n"
        " (def-net p u1.a k.i1))\n"}},
      "top");
  Design& d = *l.design;
  Module* s = find_module(d, "s");
  ASSERT_NE(s, nullptr);
  Instance* sy = find_pin(s, "y");
  Instance* sb = find_pin(s, "b");
  ASSERT_EQ(sy->pin_use, kPinOpenEnd);
  ASSERT_EQ(sb->pin_use, kPinOpenEnd);
  Reducer r(d);
  r.conn_comp();

  Instance* p = find_pin(d.top, "p");
  Instance* g = find_comp(d.top, "g");
  Instance* k = find_comp(d.top, "k");
  Instance* n = find_comp(d.top, "n");
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->comp, nullptr);  // inverters are in no component
  // p drives g (through the joined boundary) and k; then the open pin b
  // drives g.  One component: both heads are pins, so the component of b,
  // the driver of the later net, keeps its head.
  EXPECT_EQ(sb->comp, sb);
  EXPECT_EQ(p->comp, sb);
  EXPECT_EQ(g->comp, sb);
  EXPECT_EQ(k->comp, sb);
  EXPECT_EQ(sy->comp, sy);
  std::vector<Instance*> chain = members(sb);
  ASSERT_EQ(chain.size(), 4u);
  EXPECT_EQ(chain[0], sb);  // b's chain, then p's chain (p, k, g)
  EXPECT_EQ(chain[1], p);
  EXPECT_EQ(chain[2], k);
  EXPECT_EQ(chain[3], g);
  std::vector<Instance*> hs = heads(d);
  EXPECT_EQ(std::count(hs.begin(), hs.end(), sy), 1);
  EXPECT_EQ(std::count(hs.begin(), hs.end(), p), 0);
}

TEST(ReduceComponents, SubComponentsSplitAtInvertedConnections) {
  // g1 feeds g2 plainly and g3 through an inverter: one component, but g3
  // is a sub-component of its own.
  Loaded l = load_flat(
      {{"top.nld",
        "(def-module top (def-pin a type input) (def-pin b type input)\n"
        " (def-pin y type output) (def-pin z type output)\n"
        " (def-comp and--2 g1) (def-comp or--2 g2) (def-comp nand--2 g3) (def-comp inv- n)\n"
        " (def-net a g1.i1 g2.i2 g3.i2) (def-net b g1.i2)\n"
        " (def-net g1.out g2.i1 n.in) (def-net n.nout g3.i1)\n"
        " (def-net g2.out y) (def-net g3.nout z))\n"}},
      "top");
  Design& d = *l.design;
  Reducer r(d);
  r.conn_comp();
  Instance* g1 = find_comp(d.top, "g1");
  Instance* g2 = find_comp(d.top, "g2");
  Instance* g3 = find_comp(d.top, "g3");
  ASSERT_EQ(g1->comp, g2->comp);
  ASSERT_EQ(g1->comp, g3->comp);
  r.plus_factor(g1->comp);
  EXPECT_EQ(g1->sub_comp, g2->sub_comp);
  EXPECT_NE(g1->sub_comp, g3->sub_comp);
  EXPECT_EQ(g3->sub_comp, g3);
}

TEST(ReduceMoves, SubComponentFlip) {
  // g1 (inputs a inverted, b plain) feeds g2 plainly; g2's other inputs c
  // and e are inverted.  No single gate flip pays, flipping g1 and g2
  // together does: a, c, e become plain; b and y need inverters.
  const std::string top =
      "(def-module top (def-pin a type input) (def-pin b type input) (def-pin c type input)\n"
      " (def-pin e type input) (def-pin y type output)\n"
      " (def-comp and--2 g1) (def-comp or--3 g2) (def-comp inv- ia ic ie)\n"
      " (def-net a ia.in) (def-net ia.nout g1.i1) (def-net b g1.i2)\n"
      " (def-net g1.out g2.i1) (def-net c ic.in) (def-net ic.nout g2.i2)\n"
      " (def-net e ie.in) (def-net ie.nout g2.i3) (def-net g2.out y))\n";
  Loaded l = load_flat({{"top.nld", top}}, "top");
  Design& d = *l.design;
  Instance* g1 = find_comp(d.top, "g1");
  Instance* g2 = find_comp(d.top, "g2");
  ASSERT_EQ(inv(d), 3);
  EXPECT_EQ(diff_inv(d, g1), 0);
  EXPECT_EQ(diff_inv(d, g2), 0);

  Reducer r(d);
  r.conn_comp();
  Instance* h = g1->comp;
  r.plus_factor(h);
  ASSERT_EQ(g1->sub_comp, g2->sub_comp);
  Instance* x = rev_sub_comp_inv(d);
  ASSERT_EQ(x, g1->sub_comp);
  EXPECT_EQ(inv(d), 2);
  EXPECT_EQ(g1->dual, 0);  // the search leaves the flags to its caller
  rev_sub_comp_tmp(x);     // undo; the global move makes it for real
  EXPECT_EQ(inv(d), 3);
  EXPECT_EQ(r.red_inv_global(h), 1);
  EXPECT_EQ(inv(d), 2);
  EXPECT_EQ(g1->dual, 1);
  EXPECT_EQ(g2->dual, 1);
  EXPECT_EQ(wt(g1, "i1"), 1);
  EXPECT_EQ(wt(g1, "i2"), -1);
  EXPECT_EQ(wt(g1, "out"), 0);
  EXPECT_EQ(wt(g2, "i1"), 1);  // the inside connection keeps its polarity
  // Nothing more pays now, the same search finds nothing and changes
  // nothing.
  std::vector<int> before = weights(d);
  EXPECT_EQ(r.red_inv_global(h), 0);
  EXPECT_EQ(r.red_wt_global(h), 0);
  EXPECT_EQ(weights(d), before);

  Loaded l2 = load_flat({{"top.nld", top}}, "top");
  red_inv(*l2.design);
  EXPECT_EQ(inv(*l2.design), 2);
}

TEST(ReduceMoves, NegatedOutput) {
  {
    // g's output is wired to the input pin a, which drives the net and has
    // one polarity; z reads it inverted.  Negating g's output (with -a)
    // serves z plainly.
    const std::string top =
        "(def-module top (def-pin a type input) (def-pin b type input) (def-pin c type input)\n"
        " (def-pin z type output) (def-comp and--2 g) (def-comp inv- n)\n"
        " (def-net b g.i1) (def-net c g.i2) (def-net g.out a n.in) (def-net n.nout z))\n";
    Loaded l = load_flat({{"top.nld", top}}, "top", /*all=*/1);
    Design& d = *l.design;
    Instance* g = find_comp(d.top, "g");
    ASSERT_EQ(find_term(g, "out")->net->source->inst, find_pin(d.top, "a"));
    ASSERT_EQ(inv(d), 1);
    EXPECT_EQ(diff_inv_neg(d, g), 1);
    EXPECT_EQ(inv(d), 0);
    EXPECT_EQ(find_pin(d.top, "z")->link->weight, 1);
    EXPECT_EQ(g->negate, 0);  // the flag is the caller's

    Loaded l2 = load_flat({{"top.nld", top}}, "top", 1);
    red_inv(*l2.design);
    EXPECT_EQ(find_comp(l2.design->top, "g")->negate, 1);
    EXPECT_EQ(find_comp(l2.design->top, "g")->dual, 0);
    EXPECT_EQ(inv(*l2.design), 0);
  }
  {
    // Driven by g itself with -a, either polarity costs the same: undone.
    Loaded l = load_flat({{"top.nld",
                           "(def-module top (def-pin a type input) (def-pin b type input)\n"
                           " (def-pin y type output) (def-pin z type output)\n"
                           " (def-comp and--2 g) (def-comp inv- n)\n"
                           " (def-net a g.i1) (def-net b g.i2) (def-net g.out y n.in)\n"
                           " (def-net n.nout z))\n"}},
                         "top", 1);
    Design& d = *l.design;
    Instance* g = find_comp(d.top, "g");
    ASSERT_EQ(inv(d), 1);
    std::vector<int> before = weights(d);
    EXPECT_EQ(diff_inv_neg(d, g), 0);
    EXPECT_EQ(diff_wt_neg(d, g), 0);
    EXPECT_EQ(weights(d), before);
    red_inv(d);
    EXPECT_EQ(g->negate, 0);
    EXPECT_EQ(inv(d), 1);
  }
}

// Two tristate buffers drive a bus that feeds four outputs through
// inverters; their data come from registers.  `extra_pins` adds pins,
// `bus_extra` members of the bus.
std::string bus_design(const std::string& extra_pins, const std::string& bus_extra) {
  return "(def-module top (def-pin e1 type input) (def-pin e2 type input)\n"
         " (def-pin y1 type output) (def-pin y2 type output) (def-pin y3 type output)\n"
         " (def-pin y4 type output)" +
         extra_pins +
         "\n (def-comp ts_buf- t1 t2) (def-comp reg-1 r1 r2) (def-comp inv- n1 n2 n3 n4)\n"
         " (def-net r1.out t1.in) (def-net r2.out t2.in) (def-net e1 t1.nenb)\n"
         " (def-net e2 t2.nenb)\n"
         " (def-net t1.out t2.out n1.in n2.in n3.in n4.in" +
         bus_extra +
         ")\n"
         " (def-net n1.nout y1) (def-net n2.nout y2) (def-net n3.nout y3)\n"
         " (def-net n4.nout y4))\n";
}

TEST(ReduceMoves, TristateBusFlip) {
  {
    Loaded l = load_flat({{"top.nld", bus_design("", "")}}, "top");
    Design& d = *l.design;
    Instance* t1 = find_comp(d.top, "t1");
    Instance* t2 = find_comp(d.top, "t2");
    ASSERT_EQ(inv(d), 1);
    ASSERT_EQ(find_term(t1, "out")->net->type, kNetTristate);
    EXPECT_EQ(diff_inv_ts(d, t1), 1);
    EXPECT_EQ(inv(d), 0);
    EXPECT_EQ(wt(t1, "in"), -1);
    EXPECT_EQ(wt(t2, "in"), -1);
    EXPECT_EQ(wt(t1, "nenb"), 1);
    EXPECT_EQ(find_pin(d.top, "y3")->link->weight, 1);
    // Flipping back would cost again.
    EXPECT_EQ(diff_inv_ts(d, t2), 0);
    EXPECT_EQ(diff_wt_ts(d, t2), 0);
    EXPECT_EQ(inv(d), 0);
    // Twice is the identity.
    std::vector<int> before = weights(d);
    rev_ts_bufs(t2);
    rev_ts_bufs(t2);
    EXPECT_EQ(weights(d), before);
    // An instance without a tristate terminal changes nothing.
    rev_ts_bufs(find_comp(d.top, "r1"));
    EXPECT_EQ(weights(d), before);
  }
  {
    Loaded l = load_flat({{"top.nld", bus_design("", "")}}, "top");
    red_inv(*l.design);
    EXPECT_EQ(inv(*l.design), 0);
    EXPECT_EQ(find_comp(l.design->top, "t1")->dual, 0);
  }
  {
    // A bidirect pin on the bus would not follow the inversion: the bus
    // is never flipped.
    Loaded l = load_flat({{"top.nld", bus_design(" (def-pin io type bidirect)", " io")}}, "top");
    Design& d = *l.design;
    Instance* t1 = find_comp(d.top, "t1");
    ASSERT_EQ(find_pin(d.top, "io")->link->weight, 0);
    ASSERT_EQ(inv(d), 1);
    std::vector<int> before = weights(d);
    rev_ts_bufs(t1);
    EXPECT_EQ(weights(d), before);
    EXPECT_EQ(diff_inv_ts(d, t1), 0);
    EXPECT_EQ(diff_wt_ts(d, t1), 0);
    red_inv(d);
    EXPECT_EQ(inv(d), 1);
    EXPECT_EQ(wt(t1, "in"), 1);
  }
}

TEST(ReduceAbsorption, AndDriverWithoutAllOnlyAbsorbsExclusiveOrInputs) {
  // g drives, through inverters, an eor- input, an enor- input and pin y.
  Loaded l = load_flat(
      {{"top.nld",
        "(def-module top (def-pin a type input) (def-pin b type input) (def-pin c type input)\n"
        " (def-pin y type output) (def-pin z type output) (def-pin w type output)\n"
        " (def-comp and--2 g) (def-comp eor--2 x) (def-comp enor--2 v) (def-comp inv- n)\n"
        " (def-net a g.i1) (def-net b g.i2) (def-net g.out n.in)\n"
        " (def-net n.nout x.in1 v.in2 y) (def-net c x.in2 v.in1)\n"
        " (def-net x.out z) (def-net v.nout w))\n"}},
      "top");
  Design& d = *l.design;
  Instance* g = find_comp(d.top, "g");
  Instance* x = find_comp(d.top, "x");
  Instance* v = find_comp(d.top, "v");
  Net* n = find_term(g, "out")->net;
  ASSERT_EQ(count_wt_net_eor_enor_aside(n), -1);
  eor_enor_and_or_nand_nor_net(d, n);
  EXPECT_EQ(wt(x, "in1"), 1);
  EXPECT_EQ(wt(v, "in2"), 1);
  EXPECT_EQ(x->dual, 1);
  EXPECT_EQ(v->dual, 1);
  EXPECT_EQ(find_pin(d.top, "y")->link->weight, -1);
  EXPECT_EQ(g->negate, 0);
  EXPECT_EQ(g->dual, 0);
  // Again: nothing left to absorb.
  eor_enor_and_or_nand_nor_net(d, n);
  EXPECT_EQ(x->dual, 1);
  EXPECT_EQ(wt(x, "in1"), 1);
}

TEST(ReduceAbsorption, AndDriverWithAllIsNegated) {
  // With -a the and- gate's output is negated instead: its two ordinary
  // sinks become plain and the exclusive-or input stays plain.
  Loaded l = load_flat(
      {{"top.nld",
        "(def-module top (def-pin a type input) (def-pin b type input) (def-pin c type input)\n"
        " (def-pin y type output) (def-pin z type output) (def-pin w type output)\n"
        " (def-comp and--2 g) (def-comp eor--2 x) (def-comp inv- n)\n"
        " (def-net a g.i1) (def-net b g.i2) (def-net g.out n.in)\n"
        " (def-net n.nout x.in1 y w) (def-net c x.in2) (def-net x.out z))\n"}},
      "top", /*all=*/1);
  Design& d = *l.design;
  Instance* g = find_comp(d.top, "g");
  Instance* x = find_comp(d.top, "x");
  red_inv(d);
  EXPECT_EQ(g->negate, 1);
  EXPECT_EQ(find_pin(d.top, "y")->link->weight, 1);
  EXPECT_EQ(find_pin(d.top, "w")->link->weight, 1);
  EXPECT_EQ(wt(x, "in1"), 1);
  EXPECT_EQ(x->dual, 0);  // toggled by the absorption, back by the negation
  EXPECT_EQ(inv(d), 0);
}

const char* const kEorDriver =
    "(def-module top (def-pin a type input) (def-pin b type input)\n"
    " (def-pin y1 type output) (def-pin y2 type output) (def-pin y3 type output)\n"
    " (def-pin y4 type output) (def-pin z type output)\n"
    " (def-comp eor--2 x e) (def-comp inv- n)\n"
    " (def-net a x.in1 e.in2) (def-net b x.in2)\n"
    " (def-net x.out n.in y4 e.in1) (def-net n.nout y1 y2 y3) (def-net e.out z))\n";

TEST(ReduceAbsorption, ExclusiveOrDriverTogglesDual) {
  // x drives three ordinary sinks through an inverter, one plainly, and a
  // plain input of the exclusive-or e.
  Loaded l = load_flat({{"top.nld", kEorDriver}}, "top");
  Design& d = *l.design;
  Instance* x = find_comp(d.top, "x");
  Instance* e = find_comp(d.top, "e");
  Net* n = find_term(x, "out")->net;
  ASSERT_EQ(count_wt_net_eor_enor_aside(n), -2);
  ASSERT_EQ(inv(d), 1);
  eor_enor_and_or_nand_nor_net(d, n);
  EXPECT_EQ(x->dual, 1);
  EXPECT_EQ(e->dual, 1);  // its plain input follows the inverted driver
  EXPECT_EQ(wt(e, "in1"), 1);
  for (const char* p : {"y1", "y2", "y3"}) EXPECT_EQ(find_pin(d.top, p)->link->weight, 1) << p;
  EXPECT_EQ(find_pin(d.top, "y4")->link->weight, -1);
  EXPECT_EQ(inv(d), 1);
  EXPECT_EQ(count_wt(d), 1);

  // The run reaches the same state.
  Loaded l2 = load_flat({{"top.nld", kEorDriver}}, "top");
  Design& d2 = *l2.design;
  red_inv(d2);
  EXPECT_EQ(find_comp(d2.top, "x")->dual, 1);
  EXPECT_EQ(find_comp(d2.top, "e")->dual, 1);
  EXPECT_EQ(inv(d2), 1);
  EXPECT_EQ(count_wt(d2), 1);
}

}  // namespace
}  // namespace zelk

namespace zelk {
namespace {

// ------------------------------------------------------------------ reference grouping
// The grouping as a plain walk: each merge unlinks the absorbed head from
// the list of heads, walks to the survivor's last member and moves the
// absorbed members over one by one.  Quadratic, for small designs only.

struct Groups {
  Instance* Instance::*head;
  Instance* Instance::*next_head;
  Instance* Instance::*member;
};

Instance* walk_merge(const Groups& g, Instance*& list, Instance* a, Instance* b) {
  Instance* keep = a->*g.head;
  Instance* gone = b->*g.head;
  if (gone->cls == kPin && keep->cls != kPin) std::swap(keep, gone);
  for (Instance** p = &list; *p; p = &((*p)->*g.next_head))
    if (*p == gone) {
      *p = gone->*g.next_head;
      break;
    }
  Instance* last = keep;
  while (last->*g.member) last = last->*g.member;
  last->*g.member = gone;
  for (Instance* m = gone; m; m = m->*g.member) m->*g.head = keep;
  return keep;
}

// Heads and member chains of a grouping, to compare two builds.
std::vector<std::vector<Instance*>> snapshot(const Groups& g, Instance* list) {
  std::vector<std::vector<Instance*>> v;
  for (Instance* h = list; h; h = h->*g.next_head) {
    v.emplace_back();
    for (Instance* m = h; m; m = m->*g.member) {
      EXPECT_EQ(m->*g.head, h);
      v.back().push_back(m);
    }
  }
  return v;
}

const Groups kComp{&Instance::comp, &Instance::comp_next, &Instance::comp_member};
const Groups kSub{&Instance::sub_comp, &Instance::sub_comp_next, &Instance::sub_member};

void reference_conn_comp(Design& d) {
  Module* top = d.top;
  top->conn_comps = nullptr;
  auto add = [&](Instance* x) {
    x->comp = x;
    x->comp_member = nullptr;
    x->comp_next = top->conn_comps;
    top->conn_comps = x;
  };
  for (Instance* p = top->pins; p; p = p->next)
    if (p->pin_use == kPinConnected) add(p);
  for (Module* m = top->next; m; m = m->next)
    if (m->state == kStateOpen)
      for (Instance* p = m->pins; p; p = p->next)
        if (p->pin_use == kPinOpenEnd || p->type == kwGlobal) add(p);
  for (Instance* c = top->comps; c; c = c->next)
    if (c->cls != kInv) add(c);
  for (Net* n = top->nets; n; n = n->next) {
    if ((n->type != kNetSignal && n->type != kNetTristate) || !n->source) continue;
    Instance* s = n->source->inst;
    Instance* cur = s->comp;
    if (!cur) continue;
    for (Link* t = n->links; t; t = t->next)
      if (t->cut == 0 && t->inst->comp && t->inst->comp != cur)
        cur = walk_merge(kComp, top->conn_comps, s, t->inst);
  }
}

void reference_plus_factor(Design& d, Instance* h, bool with_eor) {
  auto joins = [with_eor](int c) {
    return (c >= kNinv && c <= kOai) && (with_eor || (c != kEor && c != kEnor));
  };
  d.start_sub_comp = nullptr;
  for (Instance* m = h; m; m = m->comp_member) {
    m->sub_comp = m;
    m->sub_member = nullptr;
    m->sub_comp_next = d.start_sub_comp;
    d.start_sub_comp = m;
  }
  for (Net* n = d.top->nets; n; n = n->next) {
    if (n->type != kNetSignal || !n->source) continue;
    Instance* s = n->source->inst;
    if (s->comp != h || !joins(s->cls)) continue;
    Instance* cur = s->sub_comp;
    for (Link* t = n->links; t; t = t->next)
      if (t->weight == 1 && joins(t->inst->cls) && t->inst->sub_comp != cur)
        cur = walk_merge(kSub, d.start_sub_comp, s, t->inst);
  }
}

// A random network of gates between top pins, part of it inside a copy
// of a second module; signals reach some inputs through inverters, and
// the nets are listed in a shuffled order.
std::map<std::string, std::string> random_design(unsigned seed) {
  unsigned state = seed;
  auto rnd = [&state](unsigned n) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % n;
  };
  const char* kCells[] = {"and--2", "or--2", "nand--2", "nor--2", "eor--2", "enor--2", "aoi--21"};
  // prefix + number
  auto num = [](const char* prefix, int i) {
    std::string t(prefix);
    t += std::to_string(i);
    return t;
  };
  auto module = [&](const std::string& name, int inputs, int gates, int outputs) {
    std::string s = "(def-module ";
    s += name;
    std::vector<std::vector<std::string>> sinks;
    std::vector<std::string> drivers;
    for (int i = 0; i < inputs; ++i) {
      s += " (def-pin ";
      s += num("i", i);
      s += " type input)";
      drivers.push_back(num("i", i));
    }
    for (int i = 0; i < outputs; ++i) {
      s += " (def-pin ";
      s += num("o", i);
      s += " type output)";
    }
    sinks.resize(drivers.size());
    std::string comps;
    int inv = 0;
    for (int g = 0; g < gates; ++g) {
      const std::string cell = kCells[rnd(7)];
      const std::string gname = num("g", g);
      comps += " (def-comp ";
      comps += cell;
      comps += ' ';
      comps += gname;
      comps += ')';
      bool inverting = cell[0] == 'n' || cell == "aoi--21" || cell == "enor--2";
      int n_in = cell == "aoi--21" ? 3 : 2;
      for (int k = 1; k <= n_in; ++k) {
        size_t from = rnd(static_cast<unsigned>(drivers.size()));
        std::string pin = gname;
        pin += num(".in", k);
        if (rnd(3) == 0) {
          std::string iname = num("n", inv++);
          comps += " (def-comp inv- ";
          comps += iname;
          comps += ')';
          sinks[from].push_back(iname);
          sinks[from].back() += ".in";
          drivers.push_back(iname);
          drivers.back() += ".nout";
          sinks.push_back({pin});
        } else {
          sinks[from].push_back(pin);
        }
      }
      drivers.push_back(gname);
      drivers.back() += inverting ? ".nout" : ".out";
      sinks.emplace_back();
    }
    for (int i = 0; i < outputs; ++i)
      sinks[drivers.size() - 1 - static_cast<size_t>(i)].push_back(num("o", i));
    std::vector<std::string> nets;
    for (size_t i = 0; i < drivers.size(); ++i) {
      std::string n = "(def-net " + drivers[i];
      for (auto& k : sinks[i]) {
        n += ' ';
        n += k;
      }
      n += ')';
      nets.push_back(n);
    }
    for (size_t i = nets.size(); i > 1; --i)
      std::swap(nets[i - 1], nets[rnd(static_cast<unsigned>(i))]);
    s += comps;
    for (auto& n : nets) {
      s += "\n ";
      s += n;
    }
    s += ")\n";
    return s;
  };
  std::string top = module("top", 4, 40, 3);
  // An instance of sub, fed by top's inputs, its outputs left open.
  top.insert(top.size() - 2, "\n (def-comp sub u1) (def-net i0 u1.i0) (def-net i1 u1.i1)");
  return {{"top.nld", top}, {"sub.nld", module("sub", 2, 30, 2)}};
}

TEST(ReduceComponents, GroupingMatchesPlainWalk) {
  for (unsigned seed = 1; seed <= 12; ++seed) {
    Loaded l = load_flat(random_design(seed), "top");
    Design& d = *l.design;
    reference_conn_comp(d);
    auto expected = snapshot(kComp, d.top->conn_comps);
    Reducer r(d);
    r.conn_comp();
    EXPECT_EQ(snapshot(kComp, d.top->conn_comps), expected) << "seed " << seed;
    ASSERT_GT(expected.size(), 0u);

    for (Instance* h = d.top->conn_comps; h; h = h->comp_next) {
      for (bool with_eor : {true, false}) {
        reference_plus_factor(d, h, with_eor);
        auto sub_expected = snapshot(kSub, d.start_sub_comp);
        if (with_eor)
          r.plus_factor(h);
        else
          r.plus_factor_eor_enor(h);
        EXPECT_EQ(snapshot(kSub, d.start_sub_comp), sub_expected) << "seed " << seed;
      }
    }
    // And the whole run ends below or at the start.
    int before = inv(d);
    red_inv(d);
    EXPECT_LE(inv(d), before);
  }
}

}  // namespace
}  // namespace zelk

namespace zelk {
namespace {

// ------------------------------------------------------------------ touched-net measure
// Moves measured on the nets they touch must decide exactly as moves
// measured by recounting the whole network.

// Everything the reduction leaves behind: each weight in net and terminal
// order, each gate's marks in component order, and the final counts.
struct Outcome {
  std::vector<int> weights;
  std::vector<int> marks;
  int inv = 0;
  long wt = 0;
};

Outcome outcome(const Design& d) {
  Outcome o;
  for (Net* n = d.top->nets; n; n = n->next)
    for (Link* t = n->links; t; t = t->next) o.weights.push_back(t->weight);
  for (Instance* c = d.top->comps; c; c = c->next) o.marks.push_back(c->dual * 2 + c->negate);
  o.inv = count_inv(d, d.top);
  o.wt = count_wt(d);
  return o;
}

// Empty when equal, else where the two first differ.
std::string first_difference(const std::vector<int>& a, const std::vector<int>& b) {
  if (a.size() != b.size()) return "sizes " + std::to_string(a.size()) + " / " + std::to_string(b.size());
  for (size_t i = 0; i < a.size(); ++i)
    if (a[i] != b[i])
      return "at " + std::to_string(i) + ": " + std::to_string(a[i]) + " / " + std::to_string(b[i]);
  return "";
}

// Runs the reduction both ways on two loads of one design; returns the
// inverter count before the run.
int expect_same_as_whole_recount(const std::map<std::string, std::string>& files,
                                 const std::string& top, int all, const std::string& what) {
  Loaded fast = load_flat(files, top, all);
  Loaded whole = load_flat(files, top, all);
  int before = count_inv(*fast.design, fast.design->top);
  red_inv(*fast.design);
  red_inv(*whole.design, Recount::kWhole);
  Outcome a = outcome(*fast.design);
  Outcome b = outcome(*whole.design);
  EXPECT_EQ(first_difference(a.weights, b.weights), "") << what << " weights";
  EXPECT_EQ(first_difference(a.marks, b.marks), "") << what << " dual/negate";
  EXPECT_EQ(a.inv, b.inv) << what;
  EXPECT_EQ(a.wt, b.wt) << what;
  EXPECT_LE(a.inv, before) << what;
  return before;
}

// A random network of gates and tristate buses between top pins: each bus
// has two or three ts_buf- drivers fed (sometimes through inverters) from
// earlier signals, some buses also hold a bidirect pin, and later gates
// read the buses directly or through inverters.
std::string random_bus_design(unsigned seed) {
  unsigned state = seed * 7919u + 17u;
  auto rnd = [&state](unsigned n) {
    state = state * 1103515245u + 12345u;
    return (state >> 16) % n;
  };
  const char* kCells[] = {"and--2", "or--2", "nand--2", "nor--2", "eor--2", "aoi--21", "ninv-"};
  std::string pins, comps;
  std::vector<std::string> drivers;
  std::vector<std::vector<std::string>> sinks;
  int inv = 0;
  auto feed = [&](const std::string& sink) {
    size_t from = rnd(static_cast<unsigned>(drivers.size()));
    if (rnd(3) == 0) {
      std::string iname = "n" + std::to_string(inv++);
      comps += " (def-comp inv- " + iname + ")";
      sinks[from].push_back(iname + ".in");
      drivers.push_back(iname + ".nout");
      sinks.push_back({sink});
    } else {
      sinks[from].push_back(sink);
    }
  };
  for (int i = 0; i < 5; ++i) {
    pins += " (def-pin i" + std::to_string(i) + " type input)";
    drivers.push_back("i" + std::to_string(i));
    sinks.emplace_back();
  }
  for (int g = 0; g < 60; ++g) {
    const std::string name = "g" + std::to_string(g);
    if (rnd(6) == 0) {
      // A bus of two or three buffers.
      std::string bus;
      int k = 2 + static_cast<int>(rnd(2));
      comps += " (def-comp ts_buf-";
      for (int j = 0; j < k; ++j) comps += " " + name + "_" + std::to_string(j);
      comps += ")";
      for (int j = 0; j < k; ++j) {
        std::string b = name + "_" + std::to_string(j);
        feed(b + ".in");
        feed(b + ".nenb");
        bus += (j ? " " : "") + b + ".out";
      }
      drivers.push_back(bus);
      sinks.emplace_back();
      if (rnd(4) == 0) {
        pins += " (def-pin io" + std::to_string(g) + " type bidirect)";
        sinks.back().push_back("io" + std::to_string(g));
      }
      continue;
    }
    const std::string cell = kCells[rnd(7)];
    comps += " (def-comp " + cell + " " + name + ")";
    if (cell == "ninv-") {
      feed(name + ".in");
    } else {
      int n_in = cell == "aoi--21" ? 3 : 2;
      for (int k = 1; k <= n_in; ++k) feed(name + ".in" + std::to_string(k));
    }
    bool inverting = cell[0] == 'n' && cell != "ninv-";
    inverting = inverting || cell == "aoi--21";
    drivers.push_back(name + (inverting ? ".nout" : ".out"));
    sinks.emplace_back();
  }
  for (int o = 0; o < 4; ++o) {
    pins += " (def-pin o" + std::to_string(o) + " type output)";
    feed("o" + std::to_string(o));
  }
  std::string s = "(def-module top" + pins + "\n" + comps;
  for (size_t i = 0; i < drivers.size(); ++i) {
    if (sinks[i].empty()) continue;
    s += "\n (def-net " + drivers[i];
    for (auto& k : sinks[i]) s += " " + k;
    s += ")";
  }
  return s + ")\n";
}

TEST(ReduceTouched, RandomDesignsDecideAsWholeRecount) {
  for (unsigned seed = 1; seed <= 12; ++seed)
    for (int all : {0, 1}) {
      std::string what = "seed " + std::to_string(seed) + " -a " + std::to_string(all);
      expect_same_as_whole_recount(random_design(seed), "top", all, "gates " + what);
      expect_same_as_whole_recount({{"top.nld", random_bus_design(seed)}}, "top", all,
                                   "buses " + what);
    }
}

TEST(ReduceTouched, SingleMovesDecideAsWholeRecount) {
  // Each bus and component trial on its own, from the same state.
  for (unsigned seed = 1; seed <= 6; ++seed) {
    Loaded a = load_flat({{"top.nld", random_bus_design(seed)}}, "top", 1);
    Loaded b = load_flat({{"top.nld", random_bus_design(seed)}}, "top", 1);
    Design& da = *a.design;
    Design& db = *b.design;
    Reducer ra(da);
    Reducer rb(db, Recount::kWhole);
    ra.conn_comp();
    rb.conn_comp();
    for (Instance *x = da.top->comps, *y = db.top->comps; x && y; x = x->next, y = y->next) {
      ASSERT_STREQ(x->name, y->name);
      if (x->cls == kTsBuf) {
        EXPECT_EQ(diff_inv_ts(da, x), diff_inv_ts(db, y, Recount::kWhole)) << x->name;
        EXPECT_EQ(diff_wt_ts(da, x), diff_wt_ts(db, y, Recount::kWhole)) << x->name;
      }
    }
    for (Instance *h = da.top->conn_comps, *k = db.top->conn_comps; h && k;
         h = h->comp_next, k = k->comp_next) {
      EXPECT_EQ(diff_wt_conn_comp(da, h), diff_wt_conn_comp(db, k, Recount::kWhole));
      EXPECT_EQ(diff_inv_conn_comp(da, h), diff_inv_conn_comp(db, k, Recount::kWhole));
      ra.plus_factor(h);
      rb.plus_factor(k);
      Instance* x = rev_sub_comp_wt(da);
      Instance* y = rev_sub_comp_wt(db, Recount::kWhole);
      EXPECT_EQ(std::string(x ? x->name : "-"), std::string(y ? y->name : "-")) << "seed " << seed;
    }
    EXPECT_EQ(first_difference(outcome(da).weights, outcome(db).weights), "") << "seed " << seed;
  }
}

// Names of the directories in `path`, sorted.
std::vector<std::string> subdirs(const std::string& path) {
  std::vector<std::string> v;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(path, ec))
    if (e.is_directory()) v.push_back(e.path().filename().string());
  std::sort(v.begin(), v.end());
  return v;
}

TEST(ReduceTouched, SharedDesignsDecideAsWholeRecount) {
  std::string root = test::shared_designs_dir();
  if (root.empty()) GTEST_SKIP() << "no shared designs";
  int tried = 0;
  for (const char* suite : {"iscas85", "iscas89", "epfl"}) {
    for (const std::string& name : subdirs(root + "/" + suite)) {
      std::string path = root + "/" + suite + "/" + name + "/" + name + ".nld";
      if (!test::file_exists(path)) continue;
      std::string text = test::read_file(path);
      // The whole recount is quadratic: by default designs up to about 3000
      // cells, with ZELK_ALL_DESIGNS=1 up to about 20000.
      std::size_t limit = std::getenv("ZELK_ALL_DESIGNS") ? 1150000 : 180000;
      if (text.size() > limit) continue;
      for (int all : {0, 1})
        expect_same_as_whole_recount({{name + ".nld", text}}, name, all,
                                     name + " -a " + std::to_string(all));
      ++tried;
    }
  }
  EXPECT_GT(tried, 0);
}

}  // namespace
}  // namespace zelk
