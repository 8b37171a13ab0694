// A reference logic checker for end-to-end tests.  It reads NLD/PCD files
// with a reader of its own, flattens the hierarchy under a top module and
// compares two designs by bit-parallel random simulation (64 vectors per
// round).  It shares no code with the tool it checks.
//
// What a design computes:
//  - free inputs: the top module's input-like pins (by pin name; "VDD" and
//    "VSS" are the constants 1 and 0), the state of every register (by its
//    hierarchical path, "u1/u2/R1"), every output-like pin of a PCD cell
//    ("u1/bb.q"), and a global pin that its parents leave open (by its name);
//  - observed points: the top module's output-like pins (by name), every
//    connected input pin of a register or of a PCD cell ("u1/R1.in");
//  - a net driven by several tri-state buffers takes the value of its
//    enabled driver (nenb 0) with the smallest hierarchical name, or of the
//    smallest-named driver when none is enabled.
#pragma once

#include <cstdint>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelk::test {

// A file, format or structure problem (missing file, bad pin, two drivers
// on one net, a combinational loop, ...).
struct SimError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One evaluation step; ops are stored in evaluation order.
struct SimOp {
  enum Kind : uint8_t {
    kConst0, kConst1, kBuf, kNot, kAnd, kNand, kOr, kNor, kXor, kXnor,
    kAoi, kOai, kBgate, kBus, kDead,
  };
  Kind kind = kDead;
  uint8_t ngroups = 0;    // and-or groups (aoi/oai)
  uint8_t groups[3] = {}; // inputs per group, in input order
  int out = -1;           // net written
  int first = 0;          // inputs: op_inputs[first .. first + count)
  int count = 0;          // for kBus: pairs (data, nenb), smallest name first
};

struct SimDesign {
  std::string top;
  int num_nets = 0;
  std::vector<SimOp> ops;
  std::vector<int> op_inputs;
  // Free inputs: name and the net holding its value.
  std::vector<std::pair<std::string, int>> vars;
  // Observed points: name and net.
  std::map<std::string, int> observed;
  // Leaf counts, for reports.
  long cells = 0;       // built-in cell instances
  long inverters = 0;   // "inv-" cells
  long black_boxes = 0; // PCD cell instances
};

// Loads the design under `top` (its NLD file is found in `dirs`, in order);
// an instantiated cell name is looked up as a PCD file in every directory
// in order, then as an NLD file in every directory in order.  Throws
// SimError.
SimDesign load_sim(const std::string& top, const std::vector<std::string>& dirs);

// Values of every net for one round of 64 vectors.  Each free input gets a
// word that depends only on its name and the round, so two designs see
// the same stimulus.
std::vector<uint64_t> simulate(const SimDesign& d, int round);

// "" when both designs have the same free inputs, the same observed points
// and equal values on every observed point in every vector of `rounds`
// rounds; otherwise a message naming the first difference.
std::string compare(const SimDesign& a, const SimDesign& b, int rounds = 16);

// Loads both designs and compares them; load errors come back as a message
// starting with "error: ".
std::string check_equivalent(const std::string& top_a, const std::vector<std::string>& dirs_a,
                             const std::string& top_b, const std::vector<std::string>& dirs_b,
                             int rounds = 16);

}  // namespace zelk::test
