// The built-in cells as Verilog modules.  One text serves simulators and
// Yosys; the proof form differs only in the registers.

#include <string>

#include "verilog/verilog.h"

namespace zelk {

namespace {

struct Reg {
  const char* name;
  const char* inputs;   // in the order of the cell's pin rules
  bool scan;            // has scan_in, scan_enb, scan_clock and scan_out
  bool set_reset;       // loads from set/reset instead of in
  const char* on_reset; // what p_reset does: "1'b0", "1'b1" or null (nothing)
};

const Reg kRegs[] = {
    {"reg-1", "in, clk_enb, m_clock, s_clock, p_reset", false, false, "1'b0"},
    {"regr-1", "in, clk_enb, m_clock, s_clock, p_reset", false, false, "1'b0"},
    {"regs-1", "in, clk_enb, m_clock, s_clock, p_reset", false, false, "1'b1"},
    {"reg--1", "in, clk_enb, m_clock, s_clock, p_reset", false, false, nullptr},
    {"reg---1", "set, reset, m_clock, s_clock, p_reset", false, true, "1'b0"},
    {"sreg-1", "in, scan_in, clk_enb, scan_enb, m_clock, s_clock, scan_clock, p_reset", true,
     false, "1'b0"},
    {"srgr-1", "in, scan_in, clk_enb, scan_enb, m_clock, s_clock, scan_clock, p_reset", true,
     false, "1'b0"},
    {"srgs-1", "in, scan_in, clk_enb, scan_enb, m_clock, s_clock, scan_clock, p_reset", true,
     false, "1'b1"},
    {"sreg--1", "in, scan_in, clk_enb, scan_enb, m_clock, s_clock, scan_clock, p_reset", true,
     false, nullptr},
    {"sreg---1", "set, reset, scan_in, scan_enb, m_clock, s_clock, scan_clock, p_reset", true,
     true, "1'b0"},
};

std::string inputs_list(const char* prefix, int n) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += (i > 1 ? ", " : "") + std::string(prefix) + std::to_string(i);
  return s;
}

std::string joined(int n, const char* op) {
  std::string s;
  for (int i = 1; i <= n; ++i) s += (i > 1 ? std::string(" ") + op + " " : "") + "in" + std::to_string(i);
  return s;
}

// aoi/oai: the inputs are numbered group by group in the order of the
// digits of the fan-in number; aoi is the inverted or of ands, oai the
// inverted and of ors.
std::string aoi_model(bool aoi, const char* digits) {
  std::string name = std::string(aoi ? "aoi--" : "oai--") + digits;
  int total = 0;
  std::string expr;
  for (const char* p = digits; *p; ++p) {
    int k = *p - '0';
    std::string group;
    for (int i = 0; i < k; ++i)
      group += (i ? (aoi ? " & " : " | ") : "") + std::string("in") + std::to_string(++total);
    expr += (p != digits ? (aoi ? " | " : " & ") : "") + ("(" + group + ")");
  }
  return "module " + verilog_name(name) + "(" + inputs_list("in", total) +
         ", nout);\n  input " + inputs_list("in", total) +
         ";\n  output nout;\n  assign nout = ~(" + expr + ");\nendmodule\n\n";
}

std::string reg_model(const Reg& r, bool proof) {
  std::string outs = r.scan ? "out, nout, scan_out" : "out, nout";
  std::string s = "module " + verilog_name(r.name) + "(" + r.inputs + ", " + outs + ");\n";
  s += "  input " + std::string(r.inputs) + ";\n  output " + outs + ";\n";
  if (proof) {
    // The state is a black box named after the register kind, so that the
    // prover cuts here and a register of another kind never matches.
    std::string core;
    for (const char* p = r.name; *p; ++p) core += (*p == '-') ? '_' : *p;
    s += "  wire q;\n  zelk_state_" + core + " " + core + "(";
    std::string list = r.inputs;
    std::size_t pos = 0;
    while (pos < list.size()) {
      std::size_t end = list.find(", ", pos);
      if (end == std::string::npos) end = list.size();
      std::string pin = list.substr(pos, end - pos);
      s += "." + pin + "(" + pin + "), ";
      pos = end + 2;
    }
    s += ".q(q));\n";
  } else {
    std::string clock = r.scan ? "m_clock | (scan_clock === 1'b1)" : "m_clock";
    s += "  reg q;\n";
    if (r.scan) s += "  wire clock = " + clock + ";\n";
    s += std::string("  always @(posedge ") + (r.scan ? "clock" : "m_clock") +
         (r.on_reset ? " or posedge p_reset)\n    if (p_reset) q <= " + std::string(r.on_reset) + ";\n    else "
                     : ")\n    ");
    if (r.scan) s += "if (scan_enb === 1'b1) q <= scan_in;\n    else ";
    if (r.set_reset)
      s += "if (set === 1'b1) q <= 1'b1;\n    else if (reset === 1'b1) q <= 1'b0;\n";
    else
      s += "if (clk_enb !== 1'b0) q <= in;\n";
  }
  s += "  assign out = q;\n  assign nout = ~q;\n";
  if (r.scan) s += "  assign scan_out = q;\n";
  s += "endmodule\n\n";
  if (proof) {
    std::string core;
    for (const char* p = r.name; *p; ++p) core += (*p == '-') ? '_' : *p;
    s += "(* blackbox *)\nmodule zelk_state_" + core + "(" + r.inputs + ", q);\n  input " +
         r.inputs + ";\n  output q;\nendmodule\n\n";
  }
  return s;
}

const char kHeader[] =
    "// Verilog models of the built-in cells of NLD designs, for simulators and\n"
    "// Yosys.  Written by `zelk-verilog cells`; do not edit by hand.\n"
    "//\n"
    "// Gates: and/or/nand/nor--N (N inputs in1..inN, output out or nout),\n"
    "// eor--2/enor--2, aoi/oai (inputs numbered group by group in the order of\n"
    "// the digits: aoi--21 is nout = ~((in1 & in2) | in3), oai--32 is\n"
    "// nout = ~((in1 | in2 | in3) & (in4 | in5))), inv- (in, nout), ninv- (in,\n"
    "// out), high- (out = 1), low- (nout = 0), bgate--2 (a clock gate:\n"
    "// nout = ~(enb & clock)), ts_buf- (a tristate driver: out = in while nenb\n"
    "// is 0, high impedance while nenb is 1).\n"
    "//\n"
    "// Registers: one state bit q per register; out = q, nout = ~q (the\n"
    "// complement that serves inverted readers) and scan_out = q.\n"
    "//   m_clock     the clock: q loads on its rising edge.\n"
    "//   s_clock     the slave clock of a two-phase register; it carries no\n"
    "//               information of its own and the model does not read it.\n"
    "//   clk_enb     load enable, active high; unconnected means enabled.\n"
    "//   p_reset     asynchronous reset, active high: q becomes 0 (reg-1,\n"
    "//               regr-1, reg---1 and their scan forms) or 1 (regs-1,\n"
    "//               srgs-1); reg--1 and sreg--1 have no reset value and\n"
    "//               ignore it.\n"
    "//   set, reset  reg---1/sreg---1 load 1 on set, else 0 on reset, else keep\n"
    "//               q, on the clock edge.\n"
    "//   scan_clock  second clock of the scan forms: the register loads on the\n"
    "//               rising edge of m_clock or scan_clock.\n"
    "//   scan_enb    while 1, the register loads scan_in instead of its data.\n"
    "// m_clock, s_clock, scan_clock and p_reset are the names that make a net\n"
    "// a clock or reset net, which the inverter reduction never touches.\n\n";

}  // namespace

std::string gate_model(int cls, int n) {
  const char* family = cls == kAnd ? "and" : cls == kNand ? "nand" : cls == kOr ? "or" : "nor";
  bool inverted = cls == kNand || cls == kNor;
  const char* op = (cls == kAnd || cls == kNand) ? "&" : "|";
  std::string out = inverted ? "nout" : "out";
  std::string expr = joined(n, op);
  return "module " + verilog_name(std::string(family) + "--" + std::to_string(n)) + "(" +
         inputs_list("in", n) + ", " + out + ");\n  input " + inputs_list("in", n) +
         ";\n  output " + out + ";\n  assign " + out + " = " + (inverted ? "~(" + expr + ")" : expr) +
         ";\nendmodule\n\n";
}

std::string cell_library(bool proof) {
  std::string s = kHeader;
  if (proof) s += "// Proof form: every register keeps its state in a black box.\n\n";
  s += "module \\inv- (in, nout);\n  input in;\n  output nout;\n  assign nout = ~in;\nendmodule\n\n";
  s += "module \\ninv- (in, out);\n  input in;\n  output out;\n  assign out = in;\nendmodule\n\n";
  for (int cls : {kAnd, kNand, kOr, kNor})
    for (int n = kLibraryMinFanIn; n <= kLibraryMaxFanIn; ++n) s += gate_model(cls, n);
  s += "module \\eor--2 (in1, in2, out);\n  input in1, in2;\n  output out;\n"
       "  assign out = in1 ^ in2;\nendmodule\n\n";
  s += "module \\enor--2 (in1, in2, nout);\n  input in1, in2;\n  output nout;\n"
       "  assign nout = ~(in1 ^ in2);\nendmodule\n\n";
  for (const char* digits : {"21", "22", "31", "32", "33", "211", "221", "222"}) {
    s += aoi_model(true, digits);
    s += aoi_model(false, digits);
  }
  for (const Reg& r : kRegs) s += reg_model(r, proof);
  s += "module \\high- (out);\n  output out;\n  assign out = 1'b1;\nendmodule\n\n";
  s += "module \\low- (nout);\n  output nout;\n  assign nout = 1'b0;\nendmodule\n\n";
  s += "module \\ts_buf- (in, nenb, out);\n  input in, nenb;\n  output out;\n"
       "  assign out = nenb ? 1'bz : in;\nendmodule\n\n";
  s += "module \\bgate--2 (enb, clock, nout);\n  input enb, clock;\n  output nout;\n"
       "  assign nout = ~(enb & clock);\nendmodule\n";
  return s;
}

}  // namespace zelk
