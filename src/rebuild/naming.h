// Grouping of components for writing, and the three name series: module
// copies, gate instances and new port pins.
#pragma once

#include <vector>

#include "netlist/netlist.h"

namespace zelk {

void class_name(Design& d);                 // renames used opened copies after top
void make_comp(Design& d, Module* m);       // builds m->comp_groups from used comps
void inst_name(Design& d, Module* m);       // names gates (classes 400..409)
// inst_name, then names new pins (name == null).
void inst_and_pin_name(Design& d, Module* m);
// The terminals on instances of opened copies (on the nets of opened
// modules) take the names of the copies' pins.
void other_pin_name(const std::vector<Link*>& on_copies);

// The three forms of a generated name.
enum class NameForm {
  kModule,  // base "-" k: module copies ("adder-2")
  kGate,    // base k: gates, whose cell name already ends in "-" ("nand-3")
  kPin,     // base k: new port pins ("out12")
};

const char* make_name(Design& d, const char* base, long k, NameForm form);

}  // namespace zelk
