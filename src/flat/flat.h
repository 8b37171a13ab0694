// Flattening: the open module copies dissolve into the top module's flat
// network; nets get types and sources, control cones are fenced off and
// inverters become terminal weights.
#pragma once

#include "netlist/boundary.h"
#include "netlist/netlist.h"

namespace zelk {

void flat(Design& d);

// The driving terminal of a net (first driver in list order); keeps the
// former source when there is none.
void find_source(Net* n);

// Inverter and weight counts (the reduction's cost function).
int count_inv(const Design& d, const Module* m);
int count_control_inv(const Design& d, const Module* m);
int count_inv_net(const Design& d, const Net* n);
int count_inv_net_normal(const Net* n);
int count_inv_net_reversible(const Net* n);
long count_wt(const Design& d);
long count_wt_net(const Design& d, const Net* n);
long count_wt_net_normal(const Net* n);
long count_wt_net_reversible(const Net* n);

}  // namespace zelk
