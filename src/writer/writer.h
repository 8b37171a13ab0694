// Writing the result: NLD files of rebuilt modules, and byte copies of the
// input files of modules that stay unchanged.
#pragma once

#include <string>
#include <vector>

#include "netlist/netlist.h"
#include "writer/output_set.h"

namespace zelk {

// Writes the top module and every rebuilt module as NLD files into the
// write directory and copies the files of unchanged modules, each into a
// temporary of `out`; the caller commits `out` once the run is complete.
// Prints "\tWrote %s\n" per file completed.  Throws Fault ("Could not open
// %s\n", "Could not write %s\n").
void print_nld(Design& d, OutputSet& out);

// Copies the input files of the whole design unchanged into the write
// directory (a run without gain), into temporaries of `out`.
void copy_file(Design& d, OutputSet& out);

// The same, each as a run of its own: written, then committed.
void print_nld(Design& d);
void copy_file(Design& d);

}  // namespace zelk
