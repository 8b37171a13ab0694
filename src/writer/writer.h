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

// One output pass as a run of its own: every file into a temporary of a set
// printing to the design's log, then all renamed into place, so that the
// write directory never holds a partial result.  A fault of the pass comes
// after any failure of the files it had written.
void write_all(Design& d, void (*pass)(Design&, OutputSet&));

// The same for each pass.
void print_nld(Design& d);
void copy_file(Design& d);

}  // namespace zelk
