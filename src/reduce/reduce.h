// Inverter reduction by polarity moves on the flat network.
#pragma once

#include "netlist/netlist.h"

namespace zelk {

// Runs the whole reduction on the flat network of d.top (after flat()).
// Changes only terminal weights and the dual / negate marks of gates.
void red_inv(Design& d);

}  // namespace zelk
