// Structural Verilog in and out: the built-in cells as Verilog modules, an
// NLD design written as one Verilog file, and structural Verilog read back
// into NLD and PCD files.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>
#include <vector>

#include "netlist/netlist.h"
#include "writer/output_set.h"

namespace zelk {

// The Verilog model of every built-in cell.  With `proof` the registers hold
// their state in a black box of their own (one output `q`), so that a prover
// can cut the design at every register and match registers by name.
std::string cell_library(bool proof);

// The Verilog module of one and/or/nand/nor gate of fan-in n (any n >= 1),
// for fan-ins the library does not hold.
std::string gate_model(int cls, int n);

// Fan-ins of and/or/nand/nor that the cell library holds.
constexpr int kLibraryMinFanIn = 2;
constexpr int kLibraryMaxFanIn = 16;

// A module of at least this many components has its instances written two
// at a time, on a thread beside (the same text).
constexpr std::size_t kVerilogBesideFrom = std::size_t{1} << 15;

// Writes the loaded design d (read_module done) as one Verilog text: one
// module per distinct module name, the top module first.  Throws Fault for a
// name or a connection Verilog cannot hold.  With `gates_as_assigns` every
// gate and constant is written as an assign of its output net (the form the
// prover reads fast); registers, tristate drivers and cells stay instances,
// and a "/" in their names is written as "." (the separator of a flattened
// hierarchy), so that flat and hierarchical designs name them alike.
std::string write_verilog(const Design& d, bool gates_as_assigns = false,
                          std::size_t beside_from = kVerilogBesideFrom);

// The same text written to the file begun in f as it is made, never held
// whole: a million cells make a hundred megabytes.
void write_verilog(const Design& d, bool gates_as_assigns, OutputSet& f,
                   std::size_t beside_from = kVerilogBesideFrom);

// A Verilog name for an NLD name: the name itself when it is a simple
// identifier and no keyword, otherwise an escaped identifier.  Throws Fault
// for a byte an escaped identifier cannot hold.
std::string verilog_name(const std::string& name);

// A module whose instance statements take at least this many bytes of text
// has the second half of them read on a thread beside (the same modules).
constexpr std::size_t kVerilogReadBesideFrom = std::size_t{1} << 22;

// Reads structural Verilog files and writes one NLD file per module and one
// PCD file per black-box cell into dir, all or nothing.  `names` receives
// the files written, in order.  Throws Fault "file:line: message\n" for
// anything outside the structural subset.
void read_verilog(const std::vector<std::string>& files, const std::string& dir,
                  std::vector<std::string>* names,
                  std::size_t beside_from = kVerilogReadBesideFrom);

}  // namespace zelk
