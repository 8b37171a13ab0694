// Output polarity on the flat network: gates marked dual or negated take
// their new class and output pin name.  Inverted terminals served by
// constants, supply pins and register outputs are in the golden cases.
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

// A gate output that is the second driver of its net, not its source, takes
// the output name of the gate's new class too (else the written design
// names a pin the new cell does not have and cannot be read back).
TEST(RebuildOutput, SecondDriverOutputFollowsNewClass) {
  const char* top =
      "(def-module top (def-pin a type input) (def-pin b type input) (def-pin y type output)\n"
      " (def-comp or--2 p) (def-comp eor--2 e) (def-comp and--2 g)\n"
      " (def-net a p.in1 e.in1 g.in1) (def-net b p.in2 e.in2 g.in2)\n"
      " (def-net p.out e.out g.out y))\n";
  auto r = load_flat({{"top.nld", top}}, "top");
  Design& d = *r.design;
  Instance* e = find_comp(d.top, "e");
  Instance* g = find_comp(d.top, "g");
  Link* e_out = find_term(e, "out");
  Link* g_out = find_term(g, "out");
  ASSERT_EQ(net_of_pin(d.top, "y")->source, g_out);  // e's output is a second driver
  e->dual = 1;
  g->negate = 1;
  output(d);
  EXPECT_EQ(e->cls, kEnor);
  EXPECT_STREQ(e_out->pin_name, "nout");
  EXPECT_EQ(g->cls, kNand);
  EXPECT_STREQ(g_out->pin_name, "nout");
}

}  // namespace
}  // namespace zelk
