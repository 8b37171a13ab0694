// Inverter and weight counts of the flat network, by driver kind.
#include <gtest/gtest.h>

#include <climits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "../../bench/gen/generator.h"
#include "flat/flat.h"
#include "reduce/reduce.h"
#include "support/fixture.h"

namespace zelk {
namespace {

using test::find_comp;
using test::find_term;
using test::load_flat;

// Every driver feeds an inverter whose output goes to sinks, so after
// flattening the sinks carry weight -1 on the driver's net.
const char* kTable =
    "(def-module top (def-pin a type input) (def-pin VDD type input)\n"
    " (def-pin y type output)\n"
    " (def-comp and--2 ga gb ge s1 s2 s3 t1 t2 t3 k1 k2 k3 k4 k5 k6)\n"
    " (def-comp inv- ia ib ir isc iso iv iaa ie ih)\n"
    " (def-comp reg-1 r) (def-comp sreg-1 sr) (def-comp eor--2 e) (def-comp high- hh)\n"
    " (def-net ga.out ia.in) (def-net ia.nout s1.a s2.a s3.a)\n"
    " (def-net gb.out t1.a ib.in) (def-net ib.nout t2.a t3.a)\n"
    " (def-net r.out ir.in) (def-net ir.nout k1.a)\n"
    " (def-net sr.scan_out isc.in) (def-net isc.nout k2.a)\n"
    " (def-net sr.out iso.in) (def-net iso.nout k3.a)\n"
    " (def-net VDD iv.in) (def-net iv.nout k4.a)\n"
    " (def-net a iaa.in) (def-net iaa.nout k5.a)\n"
    " (def-net ge.out ie.in) (def-net ie.nout e.in1) (def-net e.out y)\n"
    " (def-net hh.out ih.in) (def-net ih.nout k6.a))\n";

struct Row {
  const char* sink;  // instance whose pin "a" (or "in1") lies on the net
  const char* pin;
  int inv, wt;        // without -a
  int inv_a, wt_a;    // with -a
};

TEST(Count, TableByDriver) {
  const Row rows[] = {
      {"s1", "a", 1, 3, 0, 0},   // and gate, all sinks inverted
      {"t2", "a", 1, 2, 1, 1},   // and gate, one plain and two inverted sinks
      {"k1", "a", 0, 0, 0, 0},   // plain register
      {"k2", "a", 1, 1, 1, 1},   // scan register, scan_out
      {"k3", "a", 0, 0, 0, 0},   // scan register, out
      {"k4", "a", 0, 0, 0, 0},   // supply pin
      {"k5", "a", 1, 1, 1, 1},   // ordinary input pin
      {"e", "in1", 0, 0, 0, 0},  // only an exclusive-or input inverted
      {"k6", "a", 0, 0, 0, 0},   // constant cell
  };
  for (int all : {0, 1}) {
    auto r = load_flat({{"top.nld", kTable}}, "top", all);
    Design& d = *r.design;
    Module* top = d.top;
    ASSERT_TRUE(check_lists(top));
    int inv = 0;
    long wt = 0;
    Book book;  // the reduction's running tallies give the same figures
    std::vector<Net*> nets;
    for (Net* n = top->nets; n; n = n->next) nets.push_back(n);
    book.start(d, nets);
    for (const Row& row : rows) {
      Link* t = find_term(find_comp(top, row.sink), row.pin);
      ASSERT_NE(t, nullptr) << row.sink;
      ASSERT_TRUE(net_contains(t)) << row.sink;
      Net* n = t->net;
      EXPECT_EQ(t->weight, -1) << row.sink;
      EXPECT_EQ(count_inv_net(d, n), all ? row.inv_a : row.inv) << row.sink << " -a " << all;
      EXPECT_EQ(count_wt_net(d, n), all ? row.wt_a : row.wt) << row.sink << " -a " << all;
      EXPECT_EQ(book.inv(n), count_inv_net(d, n)) << row.sink;
      EXPECT_EQ(book.wt(n), count_wt_net(d, n)) << row.sink;
      inv += all ? row.inv_a : row.inv;
      wt += all ? row.wt_a : row.wt;
    }
    // The output net (eor driving a top pin) costs nothing either way.
    EXPECT_EQ(count_inv(d, top), inv);
    EXPECT_EQ(count_wt(d), wt);
    EXPECT_EQ(count_control_inv(d, top), 0);
  }
}

// Module states: only open modules count nets, only fixed ones cells.
TEST(Count, ModuleStates) {
  Design d;
  Module m{};
  Instance i1{}, i2{};
  i1.cls = kInv;
  i2.cls = kInv;
  i1.next = &i2;
  m.comps = &i1;
  m.state = kStateFixed;
  EXPECT_EQ(count_inv(d, &m), 2);
  EXPECT_EQ(count_control_inv(d, &m), 0);
  m.state = kStateCell;
  EXPECT_EQ(count_inv(d, &m), 0);
  m.state = kStateOpen;
  EXPECT_EQ(count_inv(d, &m), 0);
  Net clk{};
  clk.type = kNetControl;
  Link l{};
  l.inst = &i1;
  net_push_back(&clk, &l);
  i1.link = &l;
  EXPECT_EQ(count_control_inv(d, &m), 1);  // i2 has no terminal
}

// A change of a net's tallies that the summed-up refused trials measure
// alike must leave what each of them measures on the net unchanged: every
// trial negating m terminals of weight -1 and p of weight +1 of a net of
// up to 5 + 5 terminals, alone and with others, against every other
// tallies that still hold its terminals.
TEST(Count, RefusedTrialsMeasureAlike) {
  using reduce_detail::RefusedReads;
  using reduce_detail::Rule;
  constexpr long kMax = 5;
  struct Trial {
    long m, p;
  };
  // The inverter and weight gain of the trial on tallies (plus, minus).
  auto gain = [](Rule r, Trial t, long plus, long minus) {
    const long p2 = plus - t.p + t.m, m2 = minus - t.m + t.p;
    return std::pair<long, long>{Book::inv_of(r, plus, minus) - Book::inv_of(r, p2, m2),
                                 Book::wt_of(r, plus, minus) - Book::wt_of(r, p2, m2)};
  };
  std::vector<Trial> trials;
  for (long m = 0; m <= kMax; ++m)
    for (long p = 0; p <= kMax; ++p) trials.push_back({m, p});
  long checked = 0, alike = 0, changes = 0;
  for (Rule r : {Rule::kNone, Rule::kNormal, Rule::kReversible}) {
    for (std::size_t a = 0; a < trials.size(); ++a) {
      // The trial alone, and with a second one noted (a second trial
      // tightens the bounds, never loosens them).
      for (std::size_t b = a; b < trials.size(); b += 7) {
        RefusedReads reads;
        reads.note(trials[a].m, trials[a].p, false);
        if (b != a) reads.note(trials[b].m, trials[b].p, false);
        for (long p1 = 0; p1 <= 2 * kMax; ++p1)
          for (long m1 = 0; m1 <= 2 * kMax; ++m1)
            for (long p2 = 0; p2 <= 2 * kMax; ++p2)
              for (long m2 = 0; m2 <= 2 * kMax; ++m2) {
                ++changes;
                if (!reads.alike(r, p1, m1, p2, m2)) continue;
                ++alike;
                for (std::size_t k : {a, b}) {
                  const Trial t = trials[k];
                  if (t.m > m1 || t.m > m2 || t.p > p1 || t.p > p2) continue;
                  ++checked;
                  ASSERT_EQ(gain(r, t, p1, m1), gain(r, t, p2, m2))
                      << "rule " << static_cast<int>(r) << " trial m " << t.m << " p " << t.p
                      << " tallies (" << p1 << ", " << m1 << ") -> (" << p2 << ", " << m2 << ")";
                }
              }
      }
    }
  }
  EXPECT_GT(checked, 0);
  EXPECT_LT(alike, changes);  // not every change is alike
}

// A single gate's flip measured apart from the book (as the trials made
// ahead on two threads measure it) sums as the book's own gathering does,
// and is given up exactly where a net holds `many` weighted terminals.
TEST(Count, GateSumsApartFromTheBookAsGathered) {
  long gates = 0, given_up = 0;
  for (uint64_t seed = 1; seed <= 6; ++seed) {
    SCOPED_TRACE("seed " + std::to_string(seed));
    test::TempDir tmp;
    zelkgen::Options opt;
    opt.cells = 400;
    opt.seed = seed;
    opt.tristate = 2;
    opt.twice_permille = 50;
    opt.undriven_permille = 10;
    opt.fanout = 40;
    opt.fanout_exor = 5;
    opt.dir = tmp.mkdir("in");
    const zelkgen::Summary g = zelkgen::generate(opt);
    test::Loaded loaded = test::load_dirs(g.top, {g.dir}, {g.ro_dir}, seed % 2 == 0);
    Design& d = *loaded.design;
    flat(d);
    std::vector<Net*> nets;
    for (Net* n = d.top->nets; n; n = n->next) nets.push_back(n);
    Book book;
    book.start(d, nets);
    std::vector<Net*> met;
    for (Instance* c = d.top->comps; c; c = c->next) {
      if (!is_gate(c->cls)) continue;
      ++gates;
      met.clear();
      book.new_mark();
      reduce_detail::for_each_terminal(c, [&](Link* t) { book.flip_terminal(t, met); });
      const Book::Sums want = book.sums(met);
      Book::Sums got;
      ASSERT_TRUE(book.gate_sums(c, LONG_MAX, got)) << c->name;
      EXPECT_EQ(got.inv_before, want.inv_before) << c->name;
      EXPECT_EQ(got.inv_after, want.inv_after) << c->name;
      EXPECT_EQ(got.wt_before, want.wt_before) << c->name;
      EXPECT_EQ(got.wt_after, want.wt_after) << c->name;
      constexpr long kMany = 4;
      bool many = false;
      for (const Net* n : met) many = many || book.weighted(n) >= kMany;
      Book::Sums small;
      EXPECT_EQ(book.gate_sums(c, kMany, small), !many) << c->name;
      if (many) ++given_up;
    }
  }
  EXPECT_GT(given_up, 0);
  EXPECT_GT(gates - given_up, 0);
}

}  // namespace
}  // namespace zelk
