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

// The three forms of a generated name.
enum class NameForm {
  kModule,  // base "-" k: module copies ("adder-2")
  kGate,    // base k: gates, whose cell name already ends in "-" ("nand-3")
  kPin,     // base k: new port pins ("out12")
};

const char* make_name(Design& d, const char* base, long k, NameForm form);

}  // namespace zelk
