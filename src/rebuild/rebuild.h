// Rebuild after a paying reduction: output polarity and constants, then the
// module hierarchy (or the flat top module), with names for new modules,
// gates and ports.
#pragma once

#include "netlist/netlist.h"

namespace zelk {

void output(Design& d);     // marks to netlist changes on the flat network
void hierarchy(Design& d);  // hierarchy reconstruction, grouping and naming

}  // namespace zelk
