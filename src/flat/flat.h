// Flattening: the open module copies dissolve into the top module's flat
// network; nets get types and sources, control cones are fenced off and
// inverters become terminal weights.
#pragma once

#include "netlist/netlist.h"

namespace zelk {

void flat(Design& d);

// The terminal on the other side of a module boundary, or null.
Link* find_node(Design& d, Link* t);
// Joins l1's net into l0's net and unlinks l1's net from m's nets; returns
// the terminal at which the caller's scan of l0's net goes on (or null).
Link* merge_net(Design& d, Link* l0, Link* l1, Module* m);

// Inverter and weight counts (the reduction's cost function).
int count_inv(const Design& d, const Module* m);
int count_control_inv(const Design& d, const Module* m);
int count_inv_net(const Design& d, const Net* n);
long count_wt(const Design& d);
long count_wt_net(const Design& d, const Net* n);

}  // namespace zelk
