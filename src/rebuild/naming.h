// Grouping of components for writing, and the three name series: module
// copies, gate instances and new port pins.
#pragma once

#include "netlist/netlist.h"

namespace zelk {

void class_name(Design& d);                 // renames used opened copies after top
void make_comp(Design& d, Module* m);       // builds m->comp_groups from used comps
void inst_name(Design& d, Module* m);       // names gates (classes 400..409)
void pin_name(Design& d, Module* m);        // names new pins (name == null)
void other_pin_name(Design& d, Module* m);  // outside terminals take pin names

// base + ("-" when form is 10) + decimal k.
const char* make_name(Design& d, const char* base, long k, int form);

}  // namespace zelk
