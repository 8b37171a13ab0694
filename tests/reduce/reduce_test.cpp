// The moves of the reduction on small hand-made networks: each tried alone
// (measured literally), then the whole run, tallied and literal.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reduce/reduce.h"
#include "support/fixture.h"

namespace zelk {
namespace {

using test::find_comp;
using test::find_pin;
using test::find_term;
using test::load_flat;
using test::Loaded;

std::vector<int> weights(const Design& d) {
  std::vector<int> w;
  for (Net* n = d.top->nets; n; n = n->next)
    for (Link* t = n->links; t; t = t->next) w.push_back(t->weight);
  for (Instance* c = d.top->comps; c; c = c->next) w.push_back(c->dual * 2 + c->negate);
  return w;
}

int inv(const Design& d) { return count_inv(d, d.top); }

std::string top(const std::string& pins, const std::string& body) {
  return "(def-module top " + pins + "\n" + body + ")\n";
}

// One and- gate g between top pins; a and b reach it through inverters
// when asked.
std::string gate(bool a_inv, bool b_inv) {
  return top("(def-pin a type input) (def-pin b type input) (def-pin y type output)",
             std::string(" (def-comp and--2 g) (def-comp inv- ia ib)") +
                 (a_inv ? " (def-net a ia.in) (def-net ia.nout g.i1)" : " (def-net a g.i1)") +
                 (b_inv ? " (def-net b ib.in) (def-net ib.nout g.i2)" : " (def-net b g.i2)") +
                 " (def-net g.out y)");
}

// Two tristate buffers drive a bus read through inverters by four outputs.
std::string bus(const std::string& extra_pin, const std::string& on_bus) {
  return top("(def-pin e1 type input) (def-pin e2 type input) (def-pin y1 type output)"
             " (def-pin y2 type output) (def-pin y3 type output) (def-pin y4 type output)" +
                 extra_pin,
             " (def-comp ts_buf- t1 t2) (def-comp reg-1 r1 r2) (def-comp inv- n1 n2 n3 n4)"
             " (def-net r1.out t1.in) (def-net r2.out t2.in) (def-net e1 t1.nenb)"
             " (def-net e2 t2.nenb) (def-net t1.out t2.out n1.in n2.in n3.in n4.in" +
                 on_bus +
                 ") (def-net n1.nout y1) (def-net n2.nout y2) (def-net n3.nout y3)"
                 " (def-net n4.nout y4)");
}

struct MoveCase {
  const char* name;
  std::string design;
  int all;
  char move;  // g gate, c whole component, s sub-component, o negated output, t bus
  const char* on;
  int before, pays_inv, pays_wt, after_run;
};

// Tries the move on instance `on` under rule weight_rule; returns 1 when kept.
int try_move(Design& d, char move, Instance* x, bool weight_rule) {
  switch (move) {
    case 'g': return weight_rule ? diff_wt(d, x) : diff_inv(d, x);
    case 'o': return weight_rule ? diff_wt_neg(d, x) : diff_inv_neg(d, x);
    case 't': return weight_rule ? diff_wt_ts(d, x) : diff_inv_ts(d, x);
    default: break;
  }
  Reducer r(d, Recount::kWhole);
  r.conn_comp();
  if (move == 'c') {
    const Members comp = r.members_of(x->comp);
    return weight_rule ? diff_wt_conn_comp(d, comp) : diff_inv_conn_comp(d, comp);
  }
  r.plus_factor(x->comp);
  Instance* got = weight_rule ? r.rev_sub_comp_wt() : r.rev_sub_comp_inv();
  EXPECT_TRUE(got == nullptr || got == r.sub_head(x));
  return got ? 1 : 0;
}

TEST(ReduceMoves, EachMoveAloneThenTheRun) {
  const std::string sub_comp = top(
      "(def-pin a type input) (def-pin b type input) (def-pin c type input)"
      " (def-pin e type input) (def-pin y type output)",
      " (def-comp and--2 g1) (def-comp or--3 g2) (def-comp inv- ia ic ie)"
      " (def-net a ia.in) (def-net ia.nout g1.i1) (def-net b g1.i2) (def-net g1.out g2.i1)"
      " (def-net c ic.in) (def-net ic.nout g2.i2) (def-net e ie.in) (def-net ie.nout g2.i3)"
      " (def-net g2.out y)");
  const MoveCase cases[] = {
      {"both inputs inverted", gate(true, true), 0, 'g', "g", 2, 1, 1, 1},
      {"one input inverted", gate(true, false), 0, 'g', "g", 1, 0, 0, 1},
      {"weight tie-break",
       top("(def-pin a type input) (def-pin b type input) (def-pin c type input)"
           " (def-pin y type output) (def-pin z type output)",
           " (def-comp and--2 g h) (def-comp inv- ia ib) (def-net a ia.in)"
           " (def-net ia.nout g.i1 h.i1) (def-net b ib.in) (def-net ib.nout g.i2)"
           " (def-net c h.i2) (def-net g.out y) (def-net h.out z)"),
       0, 'g', "g", 2, 0, 1, 2},
      // Both inputs on one inverted net: that net counts once.
      {"one net twice",
       top("(def-pin a type input) (def-pin y type output)",
           " (def-comp and--2 g) (def-comp inv- ia) (def-net a ia.in)"
           " (def-net ia.nout g.i1 g.i2) (def-net g.out y)"),
       0, 'g', "g", 1, 0, 1, 1},
      {"whole component", gate(true, true), 0, 'c', "g", 2, 1, 1, 1},
      // No gate alone pays; g1 and g2 together do.
      {"sub-component", sub_comp, 0, 's', "g1", 3, 1, 1, 2},
      // Driven by input pin a (one polarity); z reads it inverted.
      {"negated output",
       top("(def-pin a type input) (def-pin b type input) (def-pin c type input)"
           " (def-pin z type output)",
           " (def-comp and--2 g) (def-comp inv- n) (def-net b g.i1) (def-net c g.i2)"
           " (def-net g.out a n.in) (def-net n.nout z)"),
       1, 'o', "g", 1, 1, 1, 0},
      {"negation of a reversible net",
       top("(def-pin a type input) (def-pin b type input) (def-pin y type output)"
           " (def-pin z type output)",
           " (def-comp and--2 g) (def-comp inv- n) (def-net a g.i1) (def-net b g.i2)"
           " (def-net g.out y n.in) (def-net n.nout z)"),
       1, 'o', "g", 1, 0, 0, 1},
      {"tristate bus", bus("", ""), 0, 't', "t1", 1, 1, 1, 0},
      // A bidirect pin on the bus would not follow: never flipped.
      {"bus with a bidirect pin", bus(" (def-pin io type bidirect)", " io"), 0, 't', "t1", 1, 0, 0,
       1},
  };
  for (const MoveCase& c : cases) {
    SCOPED_TRACE(c.name);
    for (bool weight_rule : {false, true}) {
      Loaded l = load_flat({{"top.nld", c.design}}, "top", c.all);
      Design& d = *l.design;
      ASSERT_EQ(inv(d), c.before);
      const std::vector<int> before = weights(d);
      const int pays = weight_rule ? c.pays_wt : c.pays_inv;
      EXPECT_EQ(try_move(d, c.move, find_comp(d.top, c.on), weight_rule), pays);
      if (pays) {
        EXPECT_LE(inv(d), c.before - (weight_rule ? 0 : 1));
      } else {
        EXPECT_EQ(weights(d), before);  // a refused move restores everything
      }
    }
    Loaded tallied = load_flat({{"top.nld", c.design}}, "top", c.all);
    Loaded literal = load_flat({{"top.nld", c.design}}, "top", c.all);
    red_inv(*tallied.design);
    red_inv(*literal.design, Recount::kWhole);
    EXPECT_EQ(inv(*tallied.design), c.after_run);
    EXPECT_EQ(weights(*tallied.design), weights(*literal.design));
  }
}

TEST(ReduceComponents, PinHeadsCutTerminalsAndInvertedConnections) {
  // g1 feeds g2 plainly and g3 through an inverter: one component, headed
  // by a pin; g3 is a sub-component of its own.
  Loaded l = load_flat(
      {{"top.nld", top("(def-pin a type input) (def-pin b type input) (def-pin y type output)"
                       " (def-pin z type output)",
                       " (def-comp and--2 g1) (def-comp or--2 g2) (def-comp nand--2 g3)"
                       " (def-comp inv- n) (def-net a g1.i1 g2.i2 g3.i2) (def-net b g1.i2)"
                       " (def-net g1.out g2.i1 n.in) (def-net n.nout g3.i1) (def-net g2.out y)"
                       " (def-net g3.nout z)")}},
      "top");
  Design& d = *l.design;
  Reducer r(d);
  r.conn_comp();
  Instance* g1 = find_comp(d.top, "g1");
  Instance* g3 = find_comp(d.top, "g3");
  EXPECT_EQ(find_comp(d.top, "n")->comp, nullptr);  // inverters are in no component
  EXPECT_EQ(g1->comp, g3->comp);
  EXPECT_EQ(g1->comp->cls, kPin);
  r.plus_factor(g1->comp);
  EXPECT_EQ(r.sub_head(g1), r.sub_head(find_comp(d.top, "g2")));
  EXPECT_EQ(r.sub_head(g3), g3);
}

// The absorption on one net: inverted exclusive-or inputs become plain
// ones; with -a an and- driver is negated instead; an exclusive-or driver
// takes the dual when most ordinary sinks want the inverse.
TEST(ReduceAbsorption, ByDriverKind) {
  const std::string and_driver = top(
      "(def-pin a type input) (def-pin b type input) (def-pin c type input)"
      " (def-pin y type output) (def-pin z type output) (def-pin w type output)",
      " (def-comp and--2 g) (def-comp eor--2 x) (def-comp inv- n) (def-net a g.i1)"
      " (def-net b g.i2) (def-net g.out n.in) (def-net n.nout x.in1 y w) (def-net c x.in2)"
      " (def-net x.out z)");
  for (int all : {0, 1}) {
    Loaded l = load_flat({{"top.nld", and_driver}}, "top", all);
    Design& d = *l.design;
    Instance* g = find_comp(d.top, "g");
    Instance* x = find_comp(d.top, "x");
    Net* n = find_term(g, "out")->net;
    ASSERT_EQ(count_wt_net_eor_enor_aside(n), -2);
    eor_enor_and_or_nand_nor_net(d, n);
    EXPECT_EQ(find_term(x, "in1")->weight, 1);
    EXPECT_EQ(x->dual, all ? 0 : 1);
    EXPECT_EQ(g->negate, all);
    EXPECT_EQ(find_pin(d.top, "y")->link->weight, all ? 1 : -1);
    const std::vector<int> once = weights(d);
    eor_enor_and_or_nand_nor_net(d, n);  // nothing left to absorb
    EXPECT_EQ(weights(d), once);
  }
  Loaded l = load_flat(
      {{"top.nld", top("(def-pin a type input) (def-pin b type input) (def-pin y1 type output)"
                       " (def-pin y2 type output) (def-pin y3 type output) (def-pin y4 type output)"
                       " (def-pin z type output)",
                       " (def-comp eor--2 x e) (def-comp inv- n) (def-net a x.in1 e.in2)"
                       " (def-net b x.in2) (def-net x.out n.in y4 e.in1) (def-net n.nout y1 y2 y3)"
                       " (def-net e.out z)")}},
      "top");
  Design& d = *l.design;
  Instance* x = find_comp(d.top, "x");
  eor_enor_and_or_nand_nor_net(d, find_term(x, "out")->net);
  EXPECT_EQ(x->dual, 1);
  EXPECT_EQ(find_comp(d.top, "e")->dual, 1);  // its plain input follows the inverted driver
  EXPECT_EQ(find_pin(d.top, "y1")->link->weight, 1);
  EXPECT_EQ(find_pin(d.top, "y4")->link->weight, -1);
  EXPECT_EQ(inv(d), 1);
}

}  // namespace
}  // namespace zelk
