#include <gtest/gtest.h>

#include <cstdlib>

#include <algorithm>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

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
  ASSERT_EQ(sy->use, 2);
  ASSERT_EQ(sb->use, 2);
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
  EXPECT_EQ(r.sub_head(g1), r.sub_head(g2));
  EXPECT_NE(r.sub_head(g1), r.sub_head(g3));
  EXPECT_EQ(r.sub_head(g3), g3);
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
  ASSERT_EQ(r.sub_head(g1), r.sub_head(g2));
  Instance* x = r.rev_sub_comp_inv();
  ASSERT_EQ(x, r.sub_head(g1));
  EXPECT_EQ(inv(d), 2);
  EXPECT_EQ(g1->dual, 0);  // the search leaves the flags to its caller
  r.rev_sub_comp_tmp(x);   // undo; the global move makes it for real
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
