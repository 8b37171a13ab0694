// What the codes mean, in one place: the keyword and cell tables, the
// classes of cells, the pin types by direction, and the class a gate
// becomes as its dual or with its output negated.
#pragma once

#include <cstdint>

#include "netlist/netlist.h"

namespace zelk {

// ---------------------------------------------------------------- tables

// Table lookups: selector kKeywordTable (300) or any other value for the
// cell table.  screen returns the code, or 425 when no row matches;
// inv_screen returns the text of the row with that code, or null.
int screen(const char* text, int selector);
const char* inv_screen(int code, int selector);

// ---------------------------------------------------------------- classes

inline bool is_gate(int cls) { return cls >= kAnd && cls <= kOai; }          // and- .. oai-
inline bool is_and_or(int cls) { return cls >= kAnd && cls <= kNor; }        // and- nand- or- nor-
inline bool is_exor(int cls) { return cls == kEor || cls == kEnor; }
inline bool is_register(int cls) { return cls >= kReg1 && cls <= kSregSet; }
inline bool is_constant_cell(int cls) { return cls == kHigh || cls == kLow; }
// Registers, constant cells, tristate buffers and bus gates keep the names
// they were read with; gates and inverters are renamed.
inline bool keeps_name(int cls) { return cls >= kReg1 && cls <= kBgate; }

// A module input pin of one of these names makes its net a clock or reset
// net, fenced off from the reduction.
bool is_control_pin_name(const char* name);
// The supply pins "VDD" and "VSS".
bool is_supply_name(const char* name);

// How many net terminals a cell of class cls and fan-in number fan_in may
// have: a gate its inputs and its output; kNoLimit for the cells whose
// pins are named and checked one by one.
constexpr int kNoLimit = INT32_MAX;
int terminal_limit(int cls, int fan_in);

// ---------------------------------------------------------------- pin types

inline bool is_input_type(int pt) { return pt == kwInput || pt == kwInputConnected; }
inline bool is_output_type(int pt) { return pt == kwOutput || pt == kwOutputConnected; }
inline bool is_bidirect_type(int pt) { return pt == kwBidirect || pt == kwBidirectConnected; }
inline bool is_tristate_type(int pt) { return pt == kwTristate || pt == kwTristateConnected; }
inline bool is_unused_type(int pt) { return pt == kwUnused || pt == kwUnusedConnected; }
// A component terminal of this type drives its net as an output does (a
// module's scan output is one).
inline bool drives_as_output(int pt) { return is_output_type(pt) || pt == kwScanOut; }

// A terminal that reads its net although typing gave it no weight: a
// bidirect terminal anywhere, or a global pin of a module.  An inversion
// of the net does not reach it unless it is given a weight.
inline bool reads_without_weight(const Link* t) {
  if (t->weight != 0 || t->cut != 0) return false;
  const int16_t pt = t->pin_type;
  return is_bidirect_type(pt) || (pt == kwGlobal && t->inst->cls == kPin);
}

// Whether terminal l drives its net: a module pin that brings a signal in,
// or a component output (plain, tristate or bidirect).
inline bool drives(const Link* l) {
  int pt = l->pin_type;
  if (l->inst->cls == kPin) return is_bidirect_type(pt) || pt == kwGlobal || is_input_type(pt);
  return is_bidirect_type(pt) || is_output_type(pt) || is_tristate_type(pt);
}

// Signal and tristate nets: the nets that are counted, reduced and served
// with inverters.
inline bool is_signal_or_tristate(const Net* n) {
  return n->type == kNetSignal || n->type == kNetTristate;
}

// ---------------------------------------------------------------- class changes

// The De Morgan dual (the exclusive-or pair: the complement), and the class
// with the inverted output; 0 for a class that has none.
int dual_class(int cls);
int negate_class(int cls);

}  // namespace zelk
