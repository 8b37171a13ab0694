// The run driver: banner, command line, the stages in their fixed order.
#pragma once

#include <cstdio>

#include "netlist/netlist.h"

namespace zelk {

// Runs zelk with the given arguments (argv[0] is the program name); every
// message goes to `log`.  Returns the exit status (0 or 1).  Faults and
// exhausted memory are caught here and printed.
int run(int argc, const char* const* argv, FILE* log);

}  // namespace zelk
