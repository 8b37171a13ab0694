// Loading a design: finds each module's file, expands the instance tree
// (one module copy per instance), rings the terminals and checks counts.
#pragma once

#include <string>

#include "netlist/netlist.h"

namespace zelk {

// Loads the top module `name` and everything below it into d.top.  Prints
// "\tRead %s\n" per file read.  Throws Fault on any failure.
void read_module(Design& d, const std::string& name);

}  // namespace zelk
