// Small helpers shared by the reduction's source files.
#pragma once

#include <vector>

#include "flat/flat.h"
#include "netlist/netlist.h"
#include "reduce/reduce.h"

namespace zelk::reduce_detail {

// and- to oai-, exclusive-or cells included: the gates that have a dual.
inline bool is_gate(int cls) { return cls >= kAnd && cls <= kOai; }
// and-, nand-, or-, nor-: the gates that can also be negated.
inline bool is_and_or(int cls) { return cls >= kAnd && cls <= kNor; }
inline bool is_exor(int cls) { return cls == kEor || cls == kEnor; }
inline bool is_exor(const Link* t) { return is_exor(t->inst->cls); }
inline bool is_register(int cls) { return cls >= kReg1 && cls <= kSregSet; }

inline void toggle(int16_t& flag) { flag = flag ? 0 : 1; }
inline void negate_weight(Link* t) { t->weight = static_cast<int16_t>(-t->weight); }

// Every weight on the net changes sign (0 stays 0).
inline void negate_net(Net* n) {
  for (Link* u = n->links; u; u = u->next) negate_weight(u);
}

// Calls f on each terminal of inst, once around its ring from inst->link.
template <class F>
void for_each_terminal(const Instance* inst, F f) {
  Link* first = inst->link;
  if (!first) return;
  Link* t = first;
  do {
    Link* next = t->inst_next;
    f(t);
    t = next;
  } while (t && t != first);
}

// The first terminal of inst (ring order from inst->link) with this pin
// type, or null.
inline Link* first_terminal_of_type(const Instance* inst, int pin_type) {
  Link* first = inst->link;
  if (!first) return nullptr;
  Link* t = first;
  do {
    if (t->pin_type == pin_type) return t;
    t = t->inst_next;
  } while (t && t != first);
  return nullptr;
}

inline bool is_ts_buf_output(const Link* u) {
  return u->inst->cls == kTsBuf && u->pin_type == kwTristate;
}

// The data input ("in") of a tristate buffer, first in ring order, or null.
inline Link* data_input(const Instance* buf) {
  Link* first = buf->link;
  if (!first) return nullptr;
  Link* t = first;
  do {
    if (same(t->pin_name, "in")) return t;
    t = t->inst_next;
  } while (t && t != first);
  return nullptr;
}

// Whether the bus can be inverted with all its drivers (rev_ts_bufs).
bool bus_can_flip(const Net* bus);

// The counted nets (signal and tristate nets of the top module) that a
// flip can change, each once.  The whole-network counts change only on
// these, so a flip is measured by summing them before and after it: the
// difference equals that of recounting the whole network.  Adding more
// nets than the flip changes never alters the difference.
class TouchedNets {
 public:
  // The nets of every terminal of gate g (rev_instance).
  void add_gate(const Instance* g);
  // The bus of t and the nets of the data inputs of its buffers
  // (rev_ts_bufs).
  void add_bus(const Instance* t);
  // Keeps each counted net once; call after the adds, before the sums.
  void finish(const Design& d);
  void clear() { nets_.clear(); }
  // Exchanges the held nets with v (to keep a finished set for reuse).
  void swap(std::vector<Net*>& v) { nets_.swap(v); }

  // The inverter count of these nets, as count_inv(top) counts them.
  int inv(const Design& d) const;
  // Their weight count, as count_wt() counts them.
  long wt(const Design& d) const;

 private:
  std::vector<Net*> nets_;
};

// Makes a tentative flip and tells whether it pays: the inverter count
// falls, or (weight rule) stays equal while the weight count falls.  The
// counts are those of the whole network, or of `nets`, which must hold the
// counted nets the flip touches.  The flip stays made either way.
template <class Flip>
bool flip_pays(const Design& d, Recount how, bool weight_rule, const TouchedNets& nets,
               Flip flip) {
  auto inv = [&] { return how == Recount::kWhole ? count_inv(d, d.top) : nets.inv(d); };
  auto wt = [&] { return how == Recount::kWhole ? count_wt(d) : nets.wt(d); };
  const int inv_before = inv();
  const long wt_before = weight_rule ? wt() : 0;
  flip();
  const int gain = inv_before - inv();
  if (gain > 0) return true;
  return weight_rule && gain == 0 && wt() < wt_before;
}

}  // namespace zelk::reduce_detail
