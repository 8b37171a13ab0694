// The reduction driver, its two phases and the local moves: whole
// component, single gate, tristate bus, negated output.
#include <algorithm>
#include <functional>
#include <vector>

#include "flat/flat.h"
#include "reduce/reduce.h"
#include "reduce/reduce_internal.h"

namespace zelk {

using namespace reduce_detail;

void red_inv(Design& d, Recount how) {
  Reducer r(d, how);
  r.run();
}

void Reducer::run() {
  conn_comp();
  for (Instance* c = d_.top->comps; c; c = c->next) {
    c->dual = 0;
    c->negate = 0;
  }
  if (absorb_after_moves())
    for (Instance* h = d_.top->conn_comps; h; h = h->comp_next) eor_enor_and_or_nand_nor(h);
  d_.start_sub_comp = nullptr;
  for (Instance* h = d_.top->conn_comps; h; h = h->comp_next) {
    do {
      red_inv2(h);
    } while (red_wt2(h));
  }
}

// ---------------------------------------------------------------- phases

int Reducer::red_inv2(Instance* h) {
  int any = 0;
  for (;;) {
    int changed = 0;
    while (red_inv_global(h) > 0) changed = 1;
    if (d_.eor_enor_exist == 1)
      while (red_inv_global_eor_enor(h) > 0) changed = 1;
    while (red_inv_local(h) > 0) changed = 1;
    if (!changed) return any;
    any = 1;
  }
}

int Reducer::red_wt2(Instance* h) {
  int any = 0;
  for (;;) {
    int changed = 0;
    while (red_wt_global(h) > 0) changed = 1;
    if (d_.eor_enor_exist == 1)
      while (red_wt_global_eor_enor(h) > 0) changed = 1;
    while (red_wt_local(h) > 0) changed = 1;
    if (!changed) return any;
    any = 1;
  }
}

// ---------------------------------------------------------------- local moves

int Reducer::red_inv_local(Instance* h) {
  int changed = 0;
  if (conn_comp_flip(h, false)) {
    conn_comp_dual(h);
    if (absorb_after_moves()) eor_enor_and_or_nand_nor(h);
    changed = 1;
  }
  if (red_inv_node(h)) changed = 1;
  if (d_.all == 1 && red_inv_neg(h)) changed = 1;
  return changed;
}

int Reducer::red_wt_local(Instance* h) {
  int changed = 0;
  if (conn_comp_flip(h, true)) {
    conn_comp_dual(h);
    if (absorb_after_moves()) eor_enor_and_or_nand_nor(h);
    changed = 1;
  }
  if (red_wt_node(h)) changed = 1;
  if (d_.all == 1 && red_wt_neg(h)) changed = 1;
  return changed;
}

namespace {

// Single-gate moves flip and-/or-/nand-/nor-/aoi-/oai- gates; exclusive-or
// cells only change through absorption.
bool flips_alone(int cls) { return is_gate(cls) && !is_exor(cls); }

}  // namespace

int Reducer::red_inv_node(Instance* h) {
  int changed = 0;
  for (Instance* g = h; g; g = g->comp_member) {
    if (flips_alone(g->cls)) {
      if (diff_inv(d_, g)) {
        toggle(g->dual);
        if (absorb_after_moves()) eor_enor_and_or_nand_nor_instance(d_, g);
        changed = 1;
      }
    } else if (g->cls == kTsBuf) {
      if (diff_inv_ts(d_, g, how_)) {
        if (absorb_after_moves()) eor_enor_and_or_nand_nor_instance(d_, g);
        changed = 1;
      }
    }
  }
  return changed;
}

int Reducer::red_wt_node(Instance* h) {
  int changed = 0;
  for (Instance* g = h; g; g = g->comp_member) {
    if (flips_alone(g->cls)) {
      if (diff_wt(d_, g)) {
        toggle(g->dual);
        if (absorb_after_moves()) eor_enor_and_or_nand_nor_instance(d_, g);
        changed = 1;
      }
    } else if (g->cls == kTsBuf) {
      if (diff_wt_ts(d_, g, how_)) {
        if (absorb_after_moves()) eor_enor_and_or_nand_nor_instance(d_, g);
        changed = 1;
      }
    }
  }
  return changed;
}

int Reducer::red_inv_neg(Instance* h) {
  int changed = 0;
  for (Instance* g = h; g; g = g->comp_member) {
    if (is_and_or(g->cls) && diff_inv_neg(d_, g)) {
      toggle(g->negate);
      changed = 1;
    }
  }
  return changed;
}

int Reducer::red_wt_neg(Instance* h) {
  int changed = 0;
  for (Instance* g = h; g; g = g->comp_member) {
    if (is_and_or(g->cls) && diff_wt_neg(d_, g)) {
      toggle(g->negate);
      changed = 1;
    }
  }
  return changed;
}

// ---------------------------------------------------------------- diffs

namespace {

bool counts_in_whole(const Net* n) { return n->type == kNetSignal || n->type == kNetTristate; }

// The nets around g that the whole counts measure (signal and tristate
// nets), each once however many of g's terminals it holds, so that a move is
// measured by exactly the change it makes to the whole counts.
std::vector<Net*> nets_around(const Instance* g) {
  std::vector<Net*> nets;
  for_each_terminal(g, [&nets](Link* t) {
    if (t->net && counts_in_whole(t->net)) nets.push_back(t->net);
  });
  std::sort(nets.begin(), nets.end(), std::less<Net*>());
  nets.erase(std::unique(nets.begin(), nets.end()), nets.end());
  return nets;
}

int inv_sum(const Design& d, const std::vector<Net*>& nets) {
  int sum = 0;
  for (const Net* n : nets) sum += count_inv_net(d, n);
  return sum;
}

long wt_sum(const Design& d, const std::vector<Net*>& nets) {
  long sum = 0;
  for (const Net* n : nets) sum += count_wt_net(d, n);
  return sum;
}

// The weight-phase rule: fewer inverters, or as many and fewer weights.
bool wt_pays(int inv_gain, long wt_gain) { return inv_gain > 0 || (inv_gain == 0 && wt_gain > 0); }

}  // namespace

int diff_inv(const Design& d, Instance* g) {
  std::vector<Net*> nets = nets_around(g);
  int before = inv_sum(d, nets);
  rev_instance(g);
  if (before - inv_sum(d, nets) > 0) return 1;
  rev_instance(g);
  return 0;
}

int diff_wt(const Design& d, Instance* g) {
  std::vector<Net*> nets = nets_around(g);
  int inv_before = inv_sum(d, nets);
  long wt_before = wt_sum(d, nets);
  rev_instance(g);
  if (wt_pays(inv_before - inv_sum(d, nets), wt_before - wt_sum(d, nets))) return 1;
  rev_instance(g);
  return 0;
}

int diff_inv_ts(const Design& d, Instance* t, Recount how) {
  TouchedNets nets;
  if (how == Recount::kTouched) {
    nets.add_bus(t);
    nets.finish(d);
  }
  if (flip_pays(d, how, false, nets, [t] { rev_ts_bufs(t); })) return 1;
  rev_ts_bufs(t);
  return 0;
}

int diff_wt_ts(const Design& d, Instance* t, Recount how) {
  TouchedNets nets;
  if (how == Recount::kTouched) {
    nets.add_bus(t);
    nets.finish(d);
  }
  if (flip_pays(d, how, true, nets, [t] { rev_ts_bufs(t); })) return 1;
  rev_ts_bufs(t);
  return 0;
}

namespace {

TouchedNets component_nets(const Design& d, const Instance* h, Recount how) {
  TouchedNets nets;
  if (how == Recount::kTouched) {
    for (const Instance* m = h; m; m = m->comp_member)
      if (is_gate(m->cls)) nets.add_gate(m);
    nets.finish(d);
  }
  return nets;
}

}  // namespace

int Reducer::conn_comp_flip(Instance* h, bool weight_rule) {
  if (how_ == Recount::kWhole)
    return weight_rule ? diff_wt_conn_comp(d_, h, how_) : diff_inv_conn_comp(d_, h, how_);
  TouchedNets nets;
  if (touched_for_ == h) {
    nets.swap(touched_);
  } else {
    nets = component_nets(d_, h, how_);
    touched_for_ = h;
  }
  const bool pays = flip_pays(d_, how_, weight_rule, nets, [h] { rev_instance_all(h); });
  if (!pays) rev_instance_all(h);
  nets.swap(touched_);
  return pays ? 1 : 0;
}

int diff_inv_conn_comp(const Design& d, Instance* h, Recount how) {
  TouchedNets nets = component_nets(d, h, how);
  if (flip_pays(d, how, false, nets, [h] { rev_instance_all(h); })) return 1;
  rev_instance_all(h);
  return 0;
}

int diff_wt_conn_comp(const Design& d, Instance* h, Recount how) {
  TouchedNets nets = component_nets(d, h, how);
  if (flip_pays(d, how, true, nets, [h] { rev_instance_all(h); })) return 1;
  rev_instance_all(h);
  return 0;
}

int diff_inv_neg(const Design& d, Instance* g) {
  Link* out = first_terminal_of_type(g, kwOutput);
  if (!out || !out->net || !counts_in_whole(out->net)) return 0;
  Net* n = out->net;
  int before = count_inv_net(d, n);
  negate_net(n);
  if (count_inv_net(d, n) < before) return 1;
  negate_net(n);
  return 0;
}

int diff_wt_neg(const Design& d, Instance* g) {
  Link* out = first_terminal_of_type(g, kwOutput);
  if (!out || !out->net || !counts_in_whole(out->net)) return 0;
  Net* n = out->net;
  int inv_before = count_inv_net(d, n);
  long wt_before = count_wt_net(d, n);
  negate_net(n);
  if (wt_pays(inv_before - count_inv_net(d, n), wt_before - count_wt_net(d, n))) return 1;
  negate_net(n);
  return 0;
}

// ---------------------------------------------------------------- touched nets

void TouchedNets::add_gate(const Instance* g) {
  for_each_terminal(g, [this](Link* t) {
    if (t->net) nets_.push_back(t->net);
  });
}

void TouchedNets::add_bus(const Instance* t) {
  Link* out = first_terminal_of_type(t, kwTristate);
  if (!out || !out->net) return;
  nets_.push_back(out->net);
  for (Link* u = out->net->links; u; u = u->next) {
    if (!is_ts_buf_output(u)) continue;
    if (Link* in = data_input(u->inst); in && in->net) nets_.push_back(in->net);
  }
}

void TouchedNets::finish(const Design& d) {
  std::sort(nets_.begin(), nets_.end(), std::less<Net*>());
  nets_.erase(std::unique(nets_.begin(), nets_.end()), nets_.end());
  const Module* top = d.top;
  nets_.erase(std::remove_if(nets_.begin(), nets_.end(),
                             [top](const Net* n) {
                               return !(n->type == kNetSignal || n->type == kNetTristate) ||
                                      !module_has_net(top, n);
                             }),
              nets_.end());
}

int TouchedNets::inv(const Design& d) const {
  // Only an open top module counts its nets (count_inv by state).
  if (d.top->state != kStateOpen) return 0;
  int k = 0;
  for (const Net* n : nets_) k += count_inv_net(d, n);
  return k;
}

long TouchedNets::wt(const Design& d) const {
  long k = 0;
  for (const Net* n : nets_) k += count_wt_net(d, n);
  return k;
}

}  // namespace zelk
