// The equivalence oracle of the tests.  A design is read by zelk's own
// reader and loader (which have tests of their own); what is independent
// of the tool is the evaluation: the loaded module tree is flattened by
// net union and simulated bit-parallel (64 random vectors per round).
//
// What a design computes:
//  - free inputs: the top module's input-like pins (by name; "VDD" and
//    "VSS" are the constants 1 and 0), the state of every register (by its
//    hierarchical path, "u1/u2/R1", which is also the name flat output gives
//    it), every output-like pin of a PCD cell ("u1/bb.q"), and a global pin
//    that its parents leave open (by its name);
//  - observed points: the top module's connected output-like pins (by
//    name), every connected input pin of a register or of a PCD cell
//    ("u1/R1.in");
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

// A design that cannot be read, or that has no value (a pin missing on a
// module, two drivers on one net, a combinational loop, ...).
struct SimError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// One evaluation step; ops are stored in evaluation order.
struct SimOp {
  enum Kind : uint8_t { kConst0, kConst1, kBuf, kNot, kAnd, kNand, kOr, kNor, kXor, kXnor,
                        kAoi, kOai, kBus, kDead };
  Kind kind = kDead;
  uint8_t ngroups = 0;     // and-or groups (aoi/oai)
  uint8_t groups[3] = {};  // inputs per group, in input order
  int out = -1;            // net written
  int first = 0;           // inputs: op_inputs[first .. first + count)
  int count = 0;           // for kBus: pairs (data, nenb), smallest name first
};

struct SimDesign {
  int num_nets = 0;
  std::vector<SimOp> ops;
  std::vector<int> op_inputs;
  std::vector<std::pair<std::string, int>> vars;  // free inputs: name, net
  std::map<std::string, int> observed;            // observed points: name, net
  long cells = 0;                                 // built-in cell instances
  long inverters = 0;                             // "inv-" cells
};

// Loads the design under `top` from `dirs` (searched as zelk searches its
// optimisation directories).  Throws SimError.
SimDesign load_sim(const std::string& top, const std::vector<std::string>& dirs);

// "" when both designs have the same free inputs and observed points and
// equal values on every observed point in `rounds` rounds; otherwise a
// message naming the first difference.
std::string compare(const SimDesign& a, const SimDesign& b, int rounds = 16);

// Loads both designs and compares them; load errors come back as a
// message starting with "error: ".
std::string check_equivalent(const std::string& top_a, const std::vector<std::string>& dirs_a,
                             const std::string& top_b, const std::vector<std::string>& dirs_b,
                             int rounds = 16);

}  // namespace zelk::test
