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

}  // namespace zelk
