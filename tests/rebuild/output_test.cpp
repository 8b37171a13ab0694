// Output polarity on the flat network: renamed gate outputs, dual and
// negated classes, inverted terminals served by the opposite constant, the
// other supply pin or the register's complementary output.
#include <gtest/gtest.h>

#include <string>

#include "rebuild/rebuild.h"
#include "rebuild/rebuild_internal.h"
#include "support/fixture.h"

namespace zelk {
namespace {

using test::find_comp;
using test::find_pin;
using test::find_term;
using test::load_flat;

Net* net_of_pin(Module* m, const char* pin) { return find_pin(m, pin)->link->net; }

bool on_net(const Net* n, const Link* l) {
  for (const Link* t = n->links; t; t = t->next)
    if (t == l) return true;
  return false;
}

int ring_size(const Instance* i) {
  int k = 0;
  const Link* t = i->link;
  do {
    ++k;
    t = t->inst_next;
  } while (t != i->link);
  return k;
}

TEST(RebuildOutput, GateOutputsFollowNewClasses) {
  const char* top =
      "(def-module top (def-pin a type input) (def-pin b type input)\n"
      " (def-pin y1 type output) (def-pin y2 type output) (def-pin y3 type output)\n"
      " (def-pin y4 type output) (def-pin y5 type output) (def-pin y6 type output)\n"
      " (def-comp and--2 g1 g5 g6) (def-comp nor--2 g2) (def-comp eor--2 g3)\n"
      " (def-comp aoi--21 g4)\n"
      " (def-net a g1.in1 g2.in1 g3.in1 g4.in1 g5.in1 g6.nout)\n"
      " (def-net b g1.in2 g2.in2 g3.in2 g4.in2 g4.in3 g5.in2 g6.in2)\n"
      " (def-net g1.out y1) (def-net g2.nout y2) (def-net g3.out y3)\n"
      " (def-net g4.nout y4) (def-net g5.out y5) (def-net g6.out y6))\n";
  auto r = load_flat({{"top.nld", top}}, "top");
  Design& d = *r.design;
  Module* t = d.top;
  Instance* g[7] = {nullptr};
  for (int k = 1; k <= 6; ++k) g[k] = find_comp(t, "g" + std::to_string(k));
  g[1]->negate = 1;
  g[2]->negate = 1;
  g[3]->dual = 1;
  g[4]->dual = 1;
  g[5]->dual = 1;
  g[5]->negate = 1;
  g[6]->negate = 1;
  Link* g6_input = find_term(g[6], "nout");
  output(d);

  EXPECT_EQ(g[1]->cls, kNand);
  EXPECT_EQ(g[2]->cls, kOr);
  EXPECT_EQ(g[3]->cls, kEnor);
  EXPECT_EQ(g[4]->cls, kOai);
  EXPECT_EQ(g[5]->cls, kNor);
  EXPECT_EQ(g[6]->cls, kNand);
  EXPECT_STREQ(net_of_pin(t, "y1")->source->pin_name, "nout");
  EXPECT_STREQ(net_of_pin(t, "y2")->source->pin_name, "out");
  EXPECT_STREQ(net_of_pin(t, "y3")->source->pin_name, "nout");
  EXPECT_STREQ(net_of_pin(t, "y4")->source->pin_name, "nout");
  EXPECT_STREQ(net_of_pin(t, "y5")->source->pin_name, "nout");
  // The input that was called "nout" gives the name up to the output.
  EXPECT_STREQ(net_of_pin(t, "y6")->source->pin_name, "nout");
  EXPECT_STREQ(g6_input->pin_name, "out");
  EXPECT_TRUE(on_net(net_of_pin(t, "a"), g6_input));
  EXPECT_TRUE(check_lists(t));
}

TEST(RebuildOutput, ConstantNetsExchangeInvertedTerminals) {
  {
    // A "low-" net with an inverted sink and no "high-" net: a new cell
    // and net serve it.
    const char* top =
        "(def-module top (def-pin a type input) (def-pin y1 type output)"
        " (def-pin y2 type output)\n"
        " (def-comp low- L) (def-comp inv- i1) (def-comp and--2 g1 g2)\n"
        " (def-net L.nout i1.in g2.in1) (def-net i1.nout g1.in1)\n"
        " (def-net a g1.in2 g2.in2) (def-net g1.out y1) (def-net g2.out y2))\n";
    auto r = load_flat({{"top.nld", top}}, "top");
    Design& d = *r.design;
    Module* t = d.top;
    Link* sink = find_term(find_comp(t, "g1"), "in1");
    ASSERT_EQ(sink->weight, -1);
    Net* low_net = find_term(find_comp(t, "L"), "nout")->net;
    output(d);
    Instance* high = t->comps;
    EXPECT_EQ(high->cls, kHigh);
    EXPECT_STREQ(high->name, "high-");
    Net* n = t->nets;
    EXPECT_EQ(n->type, kNetSignal);
    EXPECT_EQ(n->source, high->link);
    EXPECT_STREQ(high->link->pin_name, "out");
    EXPECT_EQ(high->link->pin_type, kwOutput);
    EXPECT_EQ(n->links, high->link);
    EXPECT_EQ(n->links->next, sink);
    EXPECT_EQ(sink->weight, 1);
    EXPECT_TRUE(module_has_net(t, low_net));
    EXPECT_TRUE(on_net(low_net, find_term(find_comp(t, "g2"), "in1")));
    EXPECT_TRUE(check_lists(t));
  }
  {
    // A "high-" net whose only sink is inverted empties and leaves.
    const char* top =
        "(def-module top (def-pin a type input) (def-pin y1 type output)\n"
        " (def-comp high- H) (def-comp inv- i1) (def-comp and--2 g1)\n"
        " (def-net H.out i1.in) (def-net i1.nout g1.in1)\n"
        " (def-net a g1.in2) (def-net g1.out y1))\n";
    auto r = load_flat({{"top.nld", top}}, "top");
    Design& d = *r.design;
    Module* t = d.top;
    Net* high_net = find_term(find_comp(t, "H"), "out")->net;
    Link* sink = find_term(find_comp(t, "g1"), "in1");
    output(d);
    EXPECT_FALSE(module_has_net(t, high_net));
    EXPECT_EQ(t->comps->cls, kLow);
    EXPECT_STREQ(t->comps->link->pin_name, "nout");
    EXPECT_EQ(sink->net, t->nets);
    EXPECT_EQ(t->nets->source, t->comps->link);
    EXPECT_EQ(sink->weight, 1);
    EXPECT_TRUE(check_lists(t));
  }
}

TEST(RebuildOutput, SupplyPinsExchangeInvertedTerminals) {
  const char* top =
      "(def-module top (def-pin VDD type global) (def-pin y1 type output)"
      " (def-pin y2 type output)\n"
      " (def-comp inv- i1) (def-comp and--2 g1 g2)\n"
      " (def-net VDD i1.in g2.in1 g2.in2 g1.in2) (def-net i1.nout g1.in1)\n"
      " (def-net g1.out y1) (def-net g2.out y2))\n";
  auto r = load_flat({{"top.nld", top}}, "top");
  Design& d = *r.design;
  Module* t = d.top;
  Link* sink = find_term(find_comp(t, "g1"), "in1");
  output(d);
  Instance* vss = t->pins;
  EXPECT_STREQ(vss->name, "VSS");
  EXPECT_EQ(vss->type, kwGlobal);
  EXPECT_EQ(vss->note, 0);
  EXPECT_EQ(vss->module, t);
  EXPECT_EQ(vss->link->pin_name, vss->name);
  EXPECT_EQ(vss->link->pin_type, kwGlobal);
  EXPECT_EQ(t->nets->source, vss->link);
  EXPECT_EQ(sink->net, t->nets);
  EXPECT_EQ(sink->weight, 1);
  EXPECT_TRUE(check_lists(t));
}

TEST(RebuildOutput, RegisterOutputsServeEachOther) {
  const char* top =
      "(def-module top (def-pin a type input) (def-pin m_clock type input)\n"
      " (def-pin y1 type output) (def-pin y2 type output) (def-pin y3 type output)"
      " (def-pin y4 type output)\n"
      " (def-comp reg-1 r1 r2) (def-comp inv- i1 i2) (def-comp and--2 g1 g2 g3 g4)\n"
      " (def-net a r1.in r2.in g1.in2 g2.in2 g3.in2 g4.in2)\n"
      " (def-net m_clock r1.m_clock r2.m_clock)\n"
      " (def-net r1.out i1.in g2.in1) (def-net i1.nout g1.in1)\n"
      " (def-net r2.out i2.in) (def-net i2.nout g3.in1) (def-net r2.nout g4.in1)\n"
      " (def-net g1.out y1) (def-net g2.out y2) (def-net g3.out y3) (def-net g4.out y4))\n";
  auto r = load_flat({{"top.nld", top}}, "top");
  Design& d = *r.design;
  Module* t = d.top;
  Instance* r1 = find_comp(t, "r1");
  Instance* r2 = find_comp(t, "r2");
  Link* s1 = find_term(find_comp(t, "g1"), "in1");
  Link* s3 = find_term(find_comp(t, "g3"), "in1");
  Net* r2_out = find_term(r2, "out")->net;
  Net* r2_nout = find_term(r2, "nout")->net;
  ASSERT_EQ(ring_size(r1), 3);
  output(d);

  // r1 had no "nout" net: it gets the terminal and the net.
  Link* nout = find_term(r1, "nout");
  ASSERT_NE(nout, nullptr);
  EXPECT_EQ(ring_size(r1), 4);
  EXPECT_EQ(nout->pin_type, kwOutput);
  EXPECT_EQ(nout->net->source, nout);
  EXPECT_EQ(nout->net->type, kNetSignal);
  EXPECT_TRUE(module_has_net(t, nout->net));
  EXPECT_EQ(s1->net, nout->net);
  EXPECT_EQ(s1->weight, 1);
  EXPECT_TRUE(on_net(find_term(r1, "out")->net, find_term(find_comp(t, "g2"), "in1")));

  // r2's "out" net only had the inverted sink: it leaves, and so does the
  // register's "out" terminal.
  EXPECT_EQ(s3->net, r2_nout);
  EXPECT_EQ(s3->weight, 1);
  EXPECT_FALSE(module_has_net(t, r2_out));
  EXPECT_EQ(find_term(r2, "out"), nullptr);
  EXPECT_TRUE(check_lists(t));
}

TEST(RebuildOutput, DeleteLinkAndClassTables) {
  Instance i{};
  Link a{}, b{}, c{};
  a.inst = b.inst = c.inst = &i;
  a.inst_next = &b;
  b.inst_next = &c;
  c.inst_next = &a;
  i.link = &a;
  delete_link(&a);
  EXPECT_EQ(i.link, &c);
  EXPECT_EQ(c.inst_next, &b);
  EXPECT_EQ(b.inst_next, &c);

}

}  // namespace
}  // namespace zelk
