// Flattening: boundary joins and their polarities, open ends, constants,
// control cones, inverters turned into weights, net types and sources.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "flat/flat.h"
#include "reduce/reduce.h"
#include "loader/loader.h"
#include "support/fixture.h"

namespace zelk {
namespace {

using test::find_comp;
using test::find_module;
using test::find_pin;
using test::find_term;
using test::load_flat;
using test::load_text;
using Files = std::map<std::string, std::string>;

// The terminal of instance `inst` (first of that name in the top module's
// components) on pin `pin`.
Link* term(const Module* m, const std::string& inst, const std::string& pin) {
  Instance* c = find_comp(m, inst);
  EXPECT_NE(c, nullptr) << inst;
  if (c == nullptr) return nullptr;
  Link* t = find_term(c, pin);
  EXPECT_NE(t, nullptr) << inst << "." << pin;
  return t;
}

// The net of the top module that holds terminal t, or null.
Net* top_net(const Module* top, const Link* t) {
  if (t == nullptr || !net_contains(t) || !module_has_net(top, t->net)) return nullptr;
  return t->net;
}

int net_count(const Module* m) {
  int k = 0;
  for (Net* n = m->nets; n; n = n->next) ++k;
  return k;
}

int terminal_count(const Net* n) {
  int k = 0;
  for (Link* t = n->links; t; t = t->next) ++k;
  return k;
}

const char* kSubInv =
    "(def-module sub\n"
    " (def-pin i type input)\n"
    " (def-pin o type output)\n"
    " (def-comp inv- x)\n"
    " (def-net i x.in)\n"
    " (def-net x.nout o))\n";

TEST(Flat, InverterInsideCopyNegatesOutputSide) {
  // The outer output net is scanned first in one top, last in the other;
  // the joins go through the instance side or the pin side accordingly.
  const std::vector<std::string> tops = {
      "(def-module top (def-pin a type input) (def-pin y type output)\n"
      " (def-comp sub u1) (def-comp and--2 g)\n"
      " (def-net a u1.i) (def-net u1.o g.a g.b) (def-net g.out y))\n",
      "(def-module top (def-pin a type input) (def-pin y type output)\n"
      " (def-comp sub u1) (def-comp and--2 g)\n"
      " (def-net g.out y) (def-net u1.o g.a g.b) (def-net a u1.i))\n"};
  for (const std::string& top_text : tops) {
    auto r = load_flat({{"top.nld", top_text}, {"sub.nld", kSubInv}}, "top");
    Design& d = *r.design;
    Module* top = d.top;
    ASSERT_TRUE(check_lists(top));
    Link* ga = term(top, "g", "a");
    Link* gb = term(top, "g", "b");
    Net* n = top_net(top, ga);
    ASSERT_NE(n, nullptr);
    EXPECT_EQ(gb->net, n);
    EXPECT_EQ(ga->weight, -1);
    EXPECT_EQ(gb->weight, -1);
    ASSERT_NE(n->source, nullptr);
    EXPECT_EQ(n->source->inst, find_pin(top, "a"));
    EXPECT_EQ(n->type, kNetSignal);
    EXPECT_EQ(terminal_count(n), 3);  // a, g.a, g.b
    // The boundary terminals left the nets and point at each other.
    Link* uo = term(top, "u1", "o");
    EXPECT_FALSE(net_contains(uo));
    ASSERT_NE(uo->partner, nullptr);
    EXPECT_EQ(uo->partner->inst, find_pin(find_module(d, "sub"), "o"));
    EXPECT_EQ(uo->partner->partner, uo);
    // The inverter survives as a record without nets; the copy is empty.
    Instance* x = find_comp(top, "x");
    ASSERT_NE(x, nullptr);
    EXPECT_EQ(x->cls, kInv);
    Module* sub = find_module(d, "sub");
    EXPECT_EQ(sub->nets, nullptr);
    EXPECT_EQ(sub->comps, nullptr);
    EXPECT_EQ(count_inv(d, top), 1);
    EXPECT_EQ(count_wt(d), 2);
    EXPECT_EQ(count_control_inv(d, top), 0);
  }
}

TEST(Flat, TwoInvertersInSeriesCancel) {
  const char* sub2 =
      "(def-module sub2 (def-pin i type input) (def-pin o type output)\n"
      " (def-comp inv- x1 x2)\n"
      " (def-net i x1.in) (def-net x1.nout x2.in) (def-net x2.nout o))\n";
  const char* top =
      "(def-module top (def-pin a type input) (def-pin y type output)\n"
      " (def-comp sub2 u1) (def-comp and--2 g)\n"
      " (def-net a u1.i) (def-net u1.o g.a g.b) (def-net g.out y))\n";
  auto r = load_flat({{"top.nld", top}, {"sub2.nld", sub2}}, "top");
  Design& d = *r.design;
  ASSERT_TRUE(check_lists(d.top));
  Link* ga = term(d.top, "g", "a");
  EXPECT_EQ(ga->weight, 1);
  EXPECT_EQ(term(d.top, "g", "b")->weight, 1);
  EXPECT_EQ(top_net(d.top, ga)->source->inst, find_pin(d.top, "a"));
  EXPECT_EQ(count_inv(d, d.top), 0);
  EXPECT_EQ(count_wt(d), 0);
}

TEST(Flat, InvertedInstanceInputNegatesInnerNet) {
  const char* buf =
      "(def-module buf (def-pin i type input) (def-pin o type output)\n"
      " (def-comp and--2 g) (def-net i g.a g.b) (def-net g.out o))\n";
  const char* top =
      "(def-module top (def-pin a type input) (def-pin y type output)\n"
      " (def-comp inv- t) (def-comp buf u1)\n"
      " (def-net a t.in) (def-net t.nout u1.i) (def-net u1.o y))\n";
  auto r = load_flat({{"top.nld", top}, {"buf.nld", buf}}, "top");
  Design& d = *r.design;
  ASSERT_TRUE(check_lists(d.top));
  Link* ga = term(d.top, "g", "a");
  Net* n = top_net(d.top, ga);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(ga->weight, -1);
  EXPECT_EQ(term(d.top, "g", "b")->weight, -1);
  EXPECT_EQ(n->source->inst, find_pin(d.top, "a"));
  // The output side: the gate drives the top pin with plain polarity.
  Link* y = find_pin(d.top, "y")->link;
  Net* out = top_net(d.top, y);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(out->source, term(d.top, "g", "out"));
  EXPECT_EQ(y->weight, 1);
  EXPECT_EQ(count_inv(d, d.top), 1);
}

TEST(Flat, OpenEndsAtTheBoundary) {
  // o is used inside but left open by the instance; k is connected outside
  // but used by nothing inside.
  const char* sub3 =
      "(def-module sub3 (def-pin i type input) (def-pin o type output)\n"
      " (def-pin k type input) (def-comp and--2 h)\n"
      " (def-net i h.a) (def-net h.out o))\n";
  const char* top =
      "(def-module top (def-pin a type input) (def-pin b type input)\n"
      " (def-comp sub3 u1) (def-net a u1.i) (def-net b u1.k))\n";
  auto r = load_flat({{"top.nld", top}, {"sub3.nld", sub3}}, "top");
  Design& d = *r.design;
  ASSERT_TRUE(check_lists(d.top));
  Module* sub = find_module(d, "sub3");
  Instance* o = find_pin(sub, "o");
  EXPECT_EQ(o->use, 2);
  Net* on = top_net(d.top, o->link);
  ASSERT_NE(on, nullptr);
  EXPECT_EQ(o->link->cut, 1);
  EXPECT_EQ(o->link->weight, 0);
  EXPECT_EQ(on->source, term(d.top, "h", "out"));

  Instance* k = find_pin(sub, "k");
  EXPECT_EQ(k->use, 2);
  Link* uk = term(d.top, "u1", "k");
  ASSERT_NE(top_net(d.top, uk), nullptr);
  EXPECT_EQ(uk->cut, 1);
  EXPECT_EQ(uk->weight, 0);

  EXPECT_EQ(find_pin(sub, "i")->use, 1);
  EXPECT_EQ(find_pin(d.top, "a")->use, 1);
  EXPECT_EQ(term(d.top, "u1", "i")->cut, 0);
}

TEST(Flat, GlobalPinIsNotJoined) {
  const char* sub4 =
      "(def-module sub4 (def-pin g type global) (def-pin o type output)\n"
      " (def-comp and--2 h) (def-net g h.a) (def-net h.out o))\n";
  const char* top =
      "(def-module top (def-pin y type output) (def-comp and--2 k) (def-comp sub4 u1)\n"
      " (def-net u1.g k.a) (def-net u1.o k.b) (def-net k.out y))\n";
  auto r = load_flat({{"top.nld", top}, {"sub4.nld", sub4}}, "top");
  Design& d = *r.design;
  ASSERT_TRUE(check_lists(d.top));
  Instance* g = find_pin(find_module(d, "sub4"), "g");
  Net* inner = top_net(d.top, g->link);
  ASSERT_NE(inner, nullptr);
  EXPECT_EQ(inner->type, kNetSignal);
  EXPECT_EQ(inner->source, g->link);
  EXPECT_EQ(g->link->partner, nullptr);
  EXPECT_EQ(g->link->cut, 0);
  EXPECT_EQ(g->use, 1);
  Link* ug = term(d.top, "u1", "g");
  Net* outer = top_net(d.top, ug);
  ASSERT_NE(outer, nullptr);
  EXPECT_NE(outer, inner);
  EXPECT_EQ(outer, term(d.top, "k", "a")->net);
}

// Loads from an optimisation and a read-only directory, then flattens.
struct TwoDirs {
  test::TempDir dir;
  Design d;
  TwoDirs(const Files& opt, const Files& ro, const std::string& top) {
    d.opt_dir.push_back(dir.mkdir("opt"));
    d.read_dir.push_back(dir.mkdir("ro"));
    for (auto& [name, text] : opt) dir.write("opt/" + name, text);
    for (auto& [name, text] : ro) dir.write("ro/" + name, text);
    d.top_name = top;
    FILE* log = std::tmpfile();
    d.log = log;
    read_module(d, top);
    flat(d);
    d.log = stderr;
    std::fclose(log);
  }
};

TEST(Flat, FixedParentClosesTheCopiesBelow) {
  const char* fx =
      "(def-module fx (def-pin i type input) (def-pin o type output)\n"
      " (def-comp inv- n1) (def-comp sub u2)\n"
      " (def-net i n1.in) (def-net n1.nout u2.i) (def-net u2.o o))\n";
  const char* top =
      "(def-module top (def-pin a type input) (def-pin y type output)\n"
      " (def-pin z type output) (def-comp fx u1 u3)\n"
      " (def-net a u1.i u3.i) (def-net u1.o y) (def-net u3.o z))\n";
  TwoDirs env({{"top.nld", top}, {"sub.nld", kSubInv}}, {{"fx.nld", fx}}, "top");
  Design& d = env.d;
  ASSERT_TRUE(check_lists(d.top));
  Module* u1 = find_module(d, "fx");
  Module* u2 = find_module(d, "sub");
  ASSERT_NE(u1, nullptr);
  ASSERT_NE(u2, nullptr);
  EXPECT_EQ(u1->state, kStateFixed);
  EXPECT_EQ(u2->state, kStateFixed);
  // Closed copies keep their contents and count their inverter cells.
  EXPECT_NE(u2->nets, nullptr);
  EXPECT_NE(find_comp(u2, "x"), nullptr);
  EXPECT_EQ(count_inv(d, u1), 1);
  EXPECT_EQ(count_inv(d, u2), 1);
  int total = 0;
  for (Module* m = d.top; m; m = m->next) total += count_inv(d, m) + count_control_inv(d, m);
  // Each instance of the closed module has its own copy, counted again.
  EXPECT_EQ(total, 4);
  EXPECT_EQ(d.first_inv_num, 4);
  // The instance of the closed module stays in the top's flat network.
  Link* ui = term(d.top, "u1", "i");
  EXPECT_NE(top_net(d.top, ui), nullptr);
  EXPECT_EQ(ui->pin_type, kwInput);
}

TEST(Flat, ConstantsAndSuppliesMerge) {
  const char* top =
      "(def-module top (def-pin VDD type input) (def-pin y type output)\n"
      " (def-comp high- h1 h2 h3) (def-comp low- l1 l2)\n"
      " (def-comp and--2 g1 g2 g3 g4 g5 g6 g7)\n"
      " (def-net h1.out g1.a) (def-net h2.out g2.a) (def-net h3.out g3.a g3.b)\n"
      " (def-net l1.nout g4.a) (def-net l2.nout g4.b)\n"
      " (def-net VDD g5.a) (def-net VDD g6.a g7.a)\n"
      " (def-net g1.out g2.b g5.b) (def-net g2.out y))\n";
  auto r = load_flat({{"top.nld", top}}, "top");
  Design& d = *r.design;
  Module* t = d.top;
  ASSERT_TRUE(check_lists(t));
  int high = 0, low = 0, vdd = 0;
  Net* hn = nullptr;
  for (Net* n = t->nets; n; n = n->next) {
    if (n->source == nullptr) continue;
    if (n->source->inst->cls == kHigh) ++high, hn = n;
    if (n->source->inst->cls == kLow) ++low;
    if (n->source->inst->cls == kPin && same(n->source->pin_name, "VDD")) ++vdd;
  }
  EXPECT_EQ(high, 1);
  EXPECT_EQ(low, 1);
  EXPECT_EQ(vdd, 1);
  ASSERT_NE(hn, nullptr);
  EXPECT_EQ(terminal_count(hn), 5);  // one cell and four gate inputs
  for (const char* g : {"g1", "g2", "g3"}) EXPECT_EQ(term(t, g, "a")->net, hn);
  int driving = 0;
  for (const char* h : {"h1", "h2", "h3"}) driving += net_contains(term(t, h, "out"));
  EXPECT_EQ(driving, 1);
  EXPECT_EQ(term(t, "g4", "a")->net, term(t, "g4", "b")->net);
  EXPECT_EQ(term(t, "g5", "a")->net, term(t, "g7", "a")->net);
  EXPECT_EQ(count_inv(d, t), 0);
}

TEST(Flat, ControlNets) {
  {
    const char* top =
        "(def-module top (def-pin scan_clock type input) (def-pin clock type input)\n"
        " (def-pin b type input) (def-pin y type output) (def-pin z type output)\n"
        " (def-comp and--2 g h)\n"
        " (def-net scan_clock g.a) (def-net b g.b) (def-net g.out y)\n"
        " (def-net clock h.a) (def-net h.out z))\n";
    auto r = load_flat({{"top.nld", top}}, "top");
    Module* t = r.design->top;
    Net* sc = term(t, "g", "a")->net;
    EXPECT_EQ(sc->type, kNetControl);
    EXPECT_EQ(sc->source, find_pin(t, "scan_clock")->link);
    EXPECT_EQ(term(t, "h", "a")->net->type, kNetSignal);
    EXPECT_EQ(term(t, "h", "a")->net->source, find_pin(t, "clock")->link);
    // The cone runs through the gate into its other input and its output.
    EXPECT_EQ(term(t, "g", "b")->net->type, kNetControl);
    EXPECT_EQ(term(t, "g", "out")->net->type, kNetControl);
  }
  {
    // Clock through an and gate into a register and a bus gate: the cone
    // stops at their clock inputs.
    const char* top =
        "(def-module top (def-pin m_clock type input) (def-pin en type input)\n"
        " (def-pin d type input) (def-pin e type input) (def-pin q type output)\n"
        " (def-pin z type output)\n"
        " (def-comp and--2 g) (def-comp reg-1 r) (def-comp bgate--2 b)\n"
        " (def-net m_clock g.a) (def-net en g.b) (def-net g.out r.m_clock b.clock)\n"
        " (def-net d r.in) (def-net r.out q) (def-net e b.enb) (def-net b.nout z))\n";
    auto r = load_flat({{"top.nld", top}}, "top");
    Module* t = r.design->top;
    EXPECT_EQ(term(t, "g", "a")->net->type, kNetControl);
    EXPECT_EQ(term(t, "g", "b")->net->type, kNetControl);
    EXPECT_EQ(term(t, "g", "out")->net->type, kNetControl);
    EXPECT_EQ(term(t, "r", "in")->net->type, kNetSignal);
    EXPECT_EQ(term(t, "r", "out")->net->type, kNetSignal);
    EXPECT_EQ(term(t, "b", "enb")->net->type, kNetSignal);
    EXPECT_EQ(term(t, "b", "nout")->net->type, kNetSignal);
  }
  {
    // Gates closing a loop with no register in between: the walk ends.
    const char* top =
        "(def-module top (def-pin p_reset type input) (def-pin y type output)\n"
        " (def-comp and--2 g1 g2) (def-comp inv- n)\n"
        " (def-net p_reset g1.a) (def-net g1.out g2.a) (def-net g2.out n.in)\n"
        " (def-net n.nout g1.b g2.b y))\n";
    auto r = load_flat({{"top.nld", top}}, "top");
    Design& d = *r.design;
    Module* t = d.top;
    for (Net* n = t->nets; n; n = n->next) EXPECT_EQ(n->type, kNetControl);
    EXPECT_EQ(net_count(t), 4);
    // The inverter on the cone stays a cell and counts as one.
    EXPECT_EQ(term(t, "n", "in")->net, term(t, "g2", "out")->net);
    EXPECT_EQ(count_inv(d, t), 0);
    EXPECT_EQ(count_control_inv(d, t), 1);
  }
}

TEST(Flat, ClockPinOfCopyFencesOuterCone) {
  // The copy's reset pin is fed from a top-level gate and inverter: their
  // nets become control nets (so no signal net is joined into the reset net
  // that stays in the copy), and the inverter stays a cell.
  const char* rs =
      "(def-module rs (def-pin p_reset type input) (def-pin d type input)\n"
      " (def-pin q type output) (def-comp regr-1 r)\n"
      " (def-net p_reset r.p_reset) (def-net d r.in) (def-net r.out q))\n";
  const char* top =
      "(def-module top (def-pin a type input) (def-pin b type input)\n"
      " (def-pin d type input) (def-pin q type output)\n"
      " (def-comp and--2 g) (def-comp inv- n) (def-comp rs u1)\n"
      " (def-net a g.a) (def-net b n.in) (def-net n.nout g.b)\n"
      " (def-net g.out u1.p_reset) (def-net d u1.d) (def-net u1.q q))\n";
  auto r = load_flat({{"top.nld", top}, {"rs.nld", rs}}, "top");
  Design& d = *r.design;
  Module* t = d.top;
  ASSERT_TRUE(check_lists(t));
  for (const char* pin : {"a", "b", "out"}) EXPECT_EQ(term(t, "g", pin)->net->type, kNetControl);
  EXPECT_EQ(term(t, "n", "in")->net->type, kNetControl);
  EXPECT_TRUE(net_contains(term(t, "u1", "p_reset")));
  Module* copy = find_module(d, "rs");
  ASSERT_EQ(net_count(copy), 1);
  EXPECT_EQ(copy->nets->type, kNetControl);
  EXPECT_EQ(copy->nets, find_pin(copy, "p_reset")->link->net);
  // The register's data path went into the flat network.
  Link* rin = term(t, "r", "in");
  ASSERT_NE(top_net(t, rin), nullptr);
  EXPECT_EQ(rin->net->source->inst, find_pin(t, "d"));
  EXPECT_EQ(count_control_inv(d, t), 1);
  EXPECT_EQ(count_inv(d, t), 0);
}

TEST(Flat, InverterDrivingNothingBecomesPlaceholder) {
  const char* top =
      "(def-module top (def-pin a type input) (def-pin y type output)\n"
      " (def-comp inv- n) (def-comp and--2 g)\n"
      " (def-net a n.in g.a) (def-net g.out y))\n";
  auto r = load_flat({{"top.nld", top}}, "top");
  Design& d = *r.design;
  Module* t = d.top;
  ASSERT_TRUE(check_lists(t));
  Instance* ph = t->comps;
  ASSERT_NE(ph, nullptr);
  EXPECT_EQ(ph->cls, kNinv);
  EXPECT_EQ(ph->name, nullptr);
  EXPECT_EQ(ph->module, t);
  Link* in = ph->link;
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(in->inst, ph);
  EXPECT_STREQ(in->pin_name, "in");
  EXPECT_EQ(in->weight, 0);
  EXPECT_EQ(in->inst_next, in);
  EXPECT_EQ(top_net(t, in), term(t, "g", "a")->net);
  // The inverter record itself stays among the components.
  Instance* n = find_comp(t, "n");
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(n->cls, kInv);
  EXPECT_EQ(count_inv(d, t), 0);
  EXPECT_EQ(count_control_inv(d, t), 0);
}

TEST(Flat, NetTypeTakenFromLastTerminal) {
  // Lists hold members in reverse file order.
  auto type_of = [](const char* members) {
    std::string top = std::string(
                          "(def-module top (def-pin z type bidirect) (def-pin a type input)\n"
                          " (def-comp and--2 g) (def-comp inv- n) (def-net a n.in)\n"
                          " (def-net n.nout g.a) (def-net ") +
                      members + "))\n";
    auto r = load_flat({{"top.nld", top}}, "top");
    return test::find_term(find_comp(r.design->top, "g"), "out")->net->type;
  };
  EXPECT_EQ(type_of("z g.out"), kNetTristate);  // list: g.out, then z
  EXPECT_EQ(type_of("g.out z"), kNetSignal);    // list: z, then g.out
}

TEST(Flat, PinsTiedInsideAndOutside) {
  const char* tie =
      "(def-module tie (def-pin p type input) (def-pin q type input)\n"
      " (def-net p q))\n";
  const char* top =
      "(def-module top (def-pin a type input) (def-pin y type output)\n"
      " (def-comp tie u1) (def-comp and--2 g) (def-comp inv- n)\n"
      " (def-net u1.p u1.q n.in a) (def-net n.nout g.a) (def-net g.out y))\n";
  auto r = load_flat({{"top.nld", top}, {"tie.nld", tie}}, "top");
  Design& d = *r.design;
  Module* t = d.top;
  ASSERT_TRUE(check_lists(t));
  Link* ga = term(t, "g", "a");
  Net* n = top_net(t, ga);
  ASSERT_NE(n, nullptr);
  EXPECT_EQ(terminal_count(n), 2);  // a and g.a
  EXPECT_EQ(n->source->inst, find_pin(t, "a"));
  EXPECT_EQ(ga->weight, -1);
  Module* tm = find_module(d, "tie");
  Link* p = find_pin(tm, "p")->link;
  Link* q = find_pin(tm, "q")->link;
  Link* up = term(t, "u1", "p");
  Link* uq = term(t, "u1", "q");
  for (Link* l : {p, q, up, uq}) EXPECT_FALSE(net_contains(l));
  // The first join pairs q and brings p right behind u1.p; the second finds
  // both ends on one net and the scan must not go on at p.
  EXPECT_EQ(uq->partner, q);
  EXPECT_EQ(up->partner, nullptr);
  EXPECT_EQ(p->partner, nullptr);
  EXPECT_EQ(count_inv(d, t), 1);
}

TEST(Flat, SourcesAndNetsWithoutDriver) {
  // Two drivers: the first in list order wins.  The inverter joins two
  // nets that have no driver at all: the joined net keeps no source and
  // costs by the one-polarity rule.
  const char* top =
      "(def-module top (def-pin a type input) (def-pin y type output)\n"
      " (def-comp and--2 g h) (def-comp inv- n)\n"
      " (def-net g.out a h.a) (def-net n.in h.b) (def-net n.nout g.a g.b)\n"
      " (def-net h.out y))\n";
  auto r = load_flat({{"top.nld", top}}, "top");
  Design& d = *r.design;
  Module* t = d.top;
  ASSERT_TRUE(check_lists(t));
  Net* first = term(t, "h", "a")->net;
  EXPECT_EQ(first->source->inst, find_pin(t, "a"));
  Net* loose = top_net(t, term(t, "h", "b"));
  ASSERT_NE(loose, nullptr);
  EXPECT_EQ(loose, term(t, "g", "a")->net);
  EXPECT_EQ(loose->type, kNetSignal);
  EXPECT_EQ(loose->source, nullptr);
  EXPECT_EQ(term(t, "h", "b")->weight, 1);
  EXPECT_EQ(term(t, "g", "a")->weight, -1);
  EXPECT_EQ(count_inv_net(d, loose), 1);
  EXPECT_EQ(count_wt_net(d, loose), 2);

  Net n{};
  Link l1{}, l2{};
  Instance gate{}, pin{};
  gate.cls = kAnd;
  pin.cls = kPin;
  l1.inst = &gate;
  l1.pin_type = kwInput;
  l2.inst = &pin;
  l2.pin_type = kwGlobal;
  net_push_back(&n, &l1);
  net_push_back(&n, &l2);
  find_source(&n);
  EXPECT_EQ(n.source, &l2);
  l2.pin_type = kwOutput;  // an output pin does not drive its net from inside
  n.source = &l1;
  find_source(&n);
  EXPECT_EQ(n.source, &l1);  // none found: the former source stays
}

TEST(Flat, Faults) {
  // A top module without nets, then one without components.
  EXPECT_THROW(load_flat({{"top.nld", "(def-module top (def-comp inv- n))\n"}}, "top"),
               Fault);
  EXPECT_THROW(load_flat({{"top.nld",
                           "(def-module top (def-pin a type input)"
                           " (def-pin b type output) (def-net a b))\n"}},
                         "top"),
               Fault);
  // An instance terminal whose pin the module does not have.
  EXPECT_THROW(load_flat({{"top.nld",
                           "(def-module top (def-pin a type input) (def-comp s u1)"
                           " (def-net a u1.zz))\n"},
                          {"s.nld", "(def-module s (def-pin i type input))\n"}},
                         "top"),
               Fault);
}

TEST(Flat, IndexAnswersLikeTheWalk) {
  // Twelve pins make the look-ups leave the short walks for the maps.
  std::string sub = "(def-module wide";
  std::string inner, outer = "(def-module top (def-pin a type input) (def-comp wide u1 u2)";
  for (int i = 0; i < 12; ++i) {
    std::string p = "p" + std::to_string(i);
    sub += " (def-pin " + p + " type input)";
    inner += " (def-net " + p + " g" + std::to_string(i) + ".a)";
    outer += " (def-net a u1." + p + " u2." + p + ")";
  }
  sub += " (def-comp and--2";
  for (int i = 0; i < 12; ++i) sub += " g" + std::to_string(i);
  sub += ")" + inner + ")\n";
  outer += " (def-net a u1.p3))\n";  // u1 meets p3 twice
  auto r = load_text({{"top.nld", outer}, {"wide.nld", sub}}, "top");
  Design& d = *r.design;
  FlatIndex ix;
  int checked = 0;
  for (Module* m = d.top; m; m = m->next)
    for (Net* n = m->nets; n; n = n->next)
      for (Link* t = n->links; t; t = t->next) {
        if (t->inst->cls != kPin && t->inst->cls != kUser) continue;
        EXPECT_EQ(ix.find_node(t), find_node(d, t));
        ++checked;
      }
  EXPECT_GT(checked, 40);
  Module* u2 = nullptr;
  for (Module* m = d.top; m; m = m->next)
    if (same(m->inst_name, "u2")) u2 = m;
  ASSERT_NE(u2, nullptr);
  Link* p3 = find_pin(u2, "p3")->link;
  ASSERT_NE(ix.find_node(p3), nullptr);
  EXPECT_EQ(ix.find_node(p3)->inst->name, u2->inst_name);
  EXPECT_EQ(ix.pin(u2, "p11"), find_pin(u2, "p11"));
  EXPECT_EQ(ix.pin(u2, "nope"), nullptr);
}

}  // namespace
}  // namespace zelk
