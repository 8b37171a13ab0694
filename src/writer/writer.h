// Writing the result: NLD files of rebuilt modules, and byte copies of the
// input files of modules that stay unchanged.
#pragma once

#include <string>
#include <vector>

#include "netlist/netlist.h"

namespace zelk {

// Writes the top module and every rebuilt module as NLD files into the
// write directory and copies the files of unchanged modules.  Prints
// "\tWrote %s\n" per file.  Throws Fault ("Could not open %s\n") when an
// output file cannot be opened.
void print_nld(Design& d);

// Copies the input files of the whole design unchanged into the write
// directory (a run without gain).
void copy_file(Design& d);

}  // namespace zelk
