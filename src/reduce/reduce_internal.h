// Small helpers shared by the reduction's source files.
#pragma once

#include "netlist/netlist.h"

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

}  // namespace zelk::reduce_detail
