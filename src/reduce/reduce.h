// Inverter reduction by polarity moves on the flat network.
#pragma once

#include <cstdint>
#include <unordered_map>
#include <vector>

#include "netlist/netlist.h"

namespace zelk {

// How a tentative flip of a component, sub-component or tristate bus is
// measured: on the nets it touches, or by recounting the whole flat
// network.  Both give the same answers; the whole recount is quadratic on
// large designs and is kept as the plain reference to check against.
enum class Recount { kTouched, kWhole };

// Runs the whole reduction on the flat network of d.top (after flat()).
// Changes only terminal weights and the dual / negate marks of gates.
void red_inv(Design& d, Recount how = Recount::kTouched);

// ---------------------------------------------------------------- flips
// Each flip changes weights only and is its own inverse.

// Turns a gate into its De Morgan dual: negates the weight of each input
// terminal and every weight of the net of each other terminal.
void rev_instance(Instance* g);
// rev_instance on every gate (and- to oai-) of component h.
void rev_instance_all(Instance* h);
// Toggles dual on every gate (and- to oai-) of component h.
void conn_comp_dual(Instance* h);
// Inverts the tristate bus of t together with the data input of every
// tristate buffer driving it.  Does nothing when t has no tristate terminal
// or when the bus holds a driver that cannot follow the inversion.
void rev_ts_bufs(Instance* t);

// ---------------------------------------------------------------- moves
// Each returns 1 and keeps the flip when it pays, else restores it and
// returns 0.  The _inv forms need the inverter count to fall; the _wt forms
// also accept an equal inverter count with a lower weight count.

int diff_inv(const Design& d, Instance* g);  // one gate, nets around it
int diff_wt(const Design& d, Instance* g);
// A tristate bus, a whole component: measured as `how` says.
int diff_inv_ts(const Design& d, Instance* t, Recount how = Recount::kTouched);
int diff_wt_ts(const Design& d, Instance* t, Recount how = Recount::kTouched);
int diff_inv_neg(const Design& d, Instance* g);  // negate the output net
int diff_wt_neg(const Design& d, Instance* g);
int diff_inv_conn_comp(const Design& d, Instance* h, Recount how = Recount::kTouched);
int diff_wt_conn_comp(const Design& d, Instance* h, Recount how = Recount::kTouched);

// ---------------------------------------------------------------- sub-components

// rev_instance on every gate of x's sub-component (ninv- members stay).
void rev_sub_comp_tmp(Instance* x);
// Toggles dual on the same members.
void sub_comp_dual(Instance* x);
// The first sub-component of d.start_sub_comp whose flip pays, left
// flipped; null when none pays.  The _eor_enor forms skip exclusive-or heads.
Instance* rev_sub_comp_inv(const Design& d, Recount how = Recount::kTouched);
Instance* rev_sub_comp_wt(const Design& d, Recount how = Recount::kTouched);
Instance* rev_sub_comp_inv_eor_enor(const Design& d, Recount how = Recount::kTouched);
Instance* rev_sub_comp_wt_eor_enor(const Design& d, Recount how = Recount::kTouched);

// ---------------------------------------------------------------- exclusive-or absorption

// Sum of the weights of n's terminals that are not on eor- / enor- cells.
int count_wt_net_eor_enor_aside(const Net* n);
// Inverted exclusive-or inputs of n become plain ones, their cells toggled.
void eor_enor_minus_wt_dual(Net* n);
// After n's driver took the opposite polarity: ordinary terminals change
// sign, exclusive-or inputs stay plain (their cells toggled).
void eor_enor_plus_wt_dual(Net* n);
// Absorption on one net, by the class of its driver.
void eor_enor_and_or_nand_nor_net(const Design& d, Net* n);
// Absorption on the net of each terminal of g.
void eor_enor_and_or_nand_nor_instance(const Design& d, Instance* g);

// ---------------------------------------------------------------- driver

// The reduction of one design: connected components, the nets driven from
// each component, and the phases and moves that work one component at a
// time.
class Reducer {
 public:
  explicit Reducer(Design& d, Recount how = Recount::kTouched) : d_(d), how_(how) {}

  // All of the reduction (red_inv).
  void run();

  // Builds the connected components into d.top->conn_comps and records,
  // per component, its signal and tristate nets in net-list order.
  void conn_comp();
  // Builds the sub-components of component h into d.start_sub_comp.
  void plus_factor(Instance* h);
  void plus_factor_eor_enor(Instance* h);

  // Absorption over every net driven from component h.
  void eor_enor_and_or_nand_nor(Instance* h);

  int red_inv2(Instance* h);
  int red_wt2(Instance* h);
  int red_inv_local(Instance* h);
  int red_wt_local(Instance* h);
  int red_inv_node(Instance* h);
  int red_wt_node(Instance* h);
  int red_inv_neg(Instance* h);
  int red_wt_neg(Instance* h);
  int red_inv_global(Instance* h);
  int red_wt_global(Instance* h);
  int red_inv_global_eor_enor(Instance* h);
  int red_wt_global_eor_enor(Instance* h);

 private:
  // The signal and tristate nets whose source belongs to component h.
  struct NetSpan {
    Net* const* first;
    Net* const* last;
    Net* const* begin() const { return first; }
    Net* const* end() const { return last; }
  };
  NetSpan nets_of(const Instance* h) const;
  void build_sub_comps(Instance* h, bool with_eor);
  // diff_inv_conn_comp / diff_wt_conn_comp on h; the nets a component
  // flip touches are gathered once per component, as membership and
  // connections never change during the reduction.
  int conn_comp_flip(Instance* h, bool weight_rule);
  bool absorb_after_moves() const { return d_.eor_enor_exist == 1 || d_.all == 1; }

  Design& d_;
  Recount how_;
  std::unordered_map<const Instance*, uint32_t> head_index_;
  std::vector<uint32_t> net_first_;  // per component: start in comp_nets_
  std::vector<Net*> comp_nets_;
  const Instance* touched_for_ = nullptr;  // component whose flip nets are held
  std::vector<Net*> touched_;
};

}  // namespace zelk
