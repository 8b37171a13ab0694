// Small hierarchical designs full of corner cases, for checking that what
// zelk writes computes what it read: module pins of every type crossing a
// boundary in both directions, with and without an inverter on either side;
// every register kind; constants and supply pins; tristate buses; library
// cells; read-only modules; several copies of one module.  This is the
// generator's corner mode: it shares the random source of the large designs.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "generator.h"

namespace zelkgen {

struct CornerDesign {
  std::map<std::string, std::string> opt;  // file name -> text, optimisation directory
  std::map<std::string, std::string> lib;  // read-only directory: fixed modules, library cells
};

namespace corner_detail {

// Pin types by the side that drives the pin.  A pin declared unused-connected
// may take either polarity of its net, so it is left out.  Bidirect,
// tristate and global pins of copies, scan outputs of read-only modules and
// clocks leaving a copy through a data pin can still lose an inversion (the
// disabled corner cases of the tests show each); they are left out until a
// rule covers them, so that a failure here is always news.
inline const std::vector<const char*> kInTypes = {
    "input", "input-connected", "global", "clock", "scan_in", "scan_enb",
    "static", "undefined", "unused"};
inline const std::vector<const char*> kOutTypes = {
    "output", "output-connected", "scan_out", "static", "undefined", "clock"};

struct Cell {
  const char* kind;
  std::vector<const char*> ins;
  std::vector<const char*> outs;
};

inline const std::vector<Cell>& gates() {
  static const std::vector<Cell> v = {
      {"and--2", {"in1", "in2"}, {"out"}},          {"nand--3", {"in1", "in2", "in3"}, {"nout"}},
      {"or--2", {"in1", "in2"}, {"out"}},           {"nor--2", {"in1", "in2"}, {"nout"}},
      {"and--3", {"in1", "in2", "in3"}, {"out"}},   {"nand--2", {"in1", "in2"}, {"nout"}},
      {"eor--2", {"in1", "in2"}, {"out"}},          {"enor--2", {"in1", "in2"}, {"nout"}},
      {"aoi--21", {"in1", "in2", "in3"}, {"nout"}}, {"oai--22", {"in1", "in2", "in3", "in4"}, {"nout"}},
      {"ninv-", {"in"}, {"out"}}};
  return v;
}

inline const std::vector<Cell>& registers() {
  static const std::vector<Cell> v = [] {
    std::vector<const char*> d = {"in", "clk_enb", "p_reset"};
    std::vector<const char*> sr = {"set", "reset", "p_reset"};
    std::vector<const char*> sd = {"in", "scan_in", "clk_enb", "scan_enb", "p_reset"};
    std::vector<const char*> ssr = {"set", "reset", "scan_in", "scan_enb", "p_reset"};
    std::vector<const char*> q = {"out", "nout"}, sq = {"out", "nout", "scan_out"};
    return std::vector<Cell>{{"reg-1", d, q},     {"regr-1", d, q},     {"regs-1", d, q},
                             {"reg--1", d, q},    {"reg---1", sr, q},   {"sreg-1", sd, sq},
                             {"srgr-1", sd, sq},  {"srgs-1", sd, sq},   {"sreg--1", sd, sq},
                             {"sreg---1", ssr, sq}};
  }();
  return v;
}

struct ModuleKind {
  std::string name;
  std::vector<std::string> ins, outs;
  bool clocked = false;
};

// One module being written: its pins, components and signals (one net each).
class Module {
 public:
  Module(Rng& rng, std::string name) : rng_(rng), name_(std::move(name)) {}

  void pin(const std::string& name, const char* type, bool driven_outside) {
    if (name == "m_clock") clocked_ = true;
    pins_ += "  (def-pin " + name + " type " + type + ")\n";
    if (driven_outside) drive(name);
    else outs_.push_back(name);
  }
  std::string comp(const std::string& kind) {
    std::string n = "c" + std::to_string(++count_);
    comps_ += "  (def-comp " + kind + " " + n + ")\n";
    return n;
  }
  int drive(const std::string& term) {
    nets_.push_back({term});
    return static_cast<int>(nets_.size()) - 1;
  }
  void read(int s, const std::string& term) { nets_[s].push_back(term); }
  // A signal made earlier, read directly or through a new inverter; never
  // the clock (signal 0 of a clocked module) when `data_only`.
  int pick(bool data_only = false) {
    int first = data_only && clocked_ ? 1 : 0;
    if (first >= static_cast<int>(nets_.size())) first = 0;
    int s = first + static_cast<int>(rng_.below(nets_.size() - first));
    if (rng_.permille() < 300) {
      std::string i = comp("inv-");
      read(s, i + ".in");
      s = drive(i + ".nout");
    }
    return s;
  }
  // Output pins read what the body made.
  std::string finish() {
    for (const auto& o : outs_) read(pick(true), o);
    std::string t = "(def-module " + name_ + "\n" + pins_ + comps_;
    for (const auto& n : nets_) {
      t += "  (def-net";
      for (const auto& x : n) t += " " + x;
      t += ")\n";
    }
    return t + ")\n";
  }

 private:
  Rng& rng_;
  std::string name_, pins_, comps_;
  std::vector<std::vector<std::string>> nets_;
  std::vector<std::string> outs_;
  bool clocked_ = false;
  int count_ = 0;
};

inline void instance(Module& w, const ModuleKind& m) {
  std::string n = w.comp(m.name);
  if (m.clocked) w.read(0, n + ".m_clock");
  for (const auto& p : m.ins) w.read(w.pick(), n + "." + p);
  for (const auto& p : m.outs) w.drive(n + "." + p);
}

// Cells of every kind reading the signals made so far; signal 0 is the clock.
inline void body(Rng& rng, Module& w, bool clocked, const std::vector<ModuleKind>& below) {
  int cells = 3 + static_cast<int>(rng.below(8));
  for (int k = 0; k < cells; ++k) {
    int r = rng.permille();
    if (r < 500) {
      const Cell& c = gates()[rng.below(gates().size())];
      std::string n = w.comp(c.kind);
      for (const char* p : c.ins) w.read(w.pick(), n + "." + p);
      w.drive(n + "." + c.outs[0]);
    } else if (r < 600 && clocked) {
      const Cell& c = registers()[rng.below(registers().size())];
      std::string n = w.comp(c.kind);
      for (const char* p : c.ins)
        if (rng.permille() < 700) w.read(w.pick(), n + "." + p);
      w.read(0, n + ".m_clock");
      for (const char* p : c.outs)
        if (rng.permille() < 600) w.drive(n + "." + p);
    } else if (r < 680) {
      bool high = rng.permille() < 500;
      w.drive(w.comp(high ? "high-" : "low-") + (high ? ".out" : ".nout"));
    } else if (r < 750) {  // a tristate bus of two buffers
      std::string a = w.comp("ts_buf-"), b = w.comp("ts_buf-");
      for (const std::string& n : {a, b}) {
        w.read(w.pick(), n + ".in");
        w.read(w.pick(), n + ".nenb");
      }
      w.read(w.drive(a + ".out"), b + ".out");
    } else if (r < 800) {
      std::string n = w.comp("bb");
      w.read(w.pick(), n + ".a");
      if (rng.permille() < 600) w.drive(n + ".y");
    } else if (!below.empty()) {
      const ModuleKind& m = below[rng.below(below.size())];
      if (!m.clocked || clocked) instance(w, m);
    }
  }
}

}  // namespace corner_detail

// A design under the top module "top", deterministic from the seed; the
// library cell "bb" and the read-only modules are in `lib`.
inline CornerDesign corner_design(uint64_t seed) {
  using namespace corner_detail;
  Rng rng(seed);
  CornerDesign out;
  out.lib["bb.pcd"] = "(def-module bb (def-pin a type input) (def-pin y type output))\n";
  std::vector<ModuleKind> kinds;
  int modules = 1 + static_cast<int>(rng.below(3));
  for (int j = 1; j <= modules; ++j) {
    ModuleKind k;
    k.name = "m" + std::to_string(j);
    k.clocked = rng.permille() < 500;
    Module w(rng, k.name);
    if (k.clocked) w.pin("m_clock", "input", true);  // signal 0
    int ins = 1 + static_cast<int>(rng.below(3)), outs = 1 + static_cast<int>(rng.below(2));
    // A read-only module is seen from outside through its pin types only.
    bool fixed = rng.permille() < 200;
    for (int i = 1; i <= ins; ++i) {
      k.ins.push_back(k.name + "i" + std::to_string(i));  // pin names unique in the design
      w.pin(k.ins.back(), fixed ? "input" : kInTypes[rng.below(kInTypes.size())], true);
    }
    for (int i = 1; i <= outs; ++i) {
      k.outs.push_back(k.name + "o" + std::to_string(i));
      w.pin(k.outs.back(), fixed ? "output" : kOutTypes[rng.below(kOutTypes.size())], false);
    }
    body(rng, w, k.clocked, kinds);
    (fixed ? out.lib : out.opt)[k.name + ".nld"] = w.finish();
    kinds.push_back(k);
  }
  Module top(rng, "top");
  top.pin("m_clock", "input", true);
  for (int i = 1; i <= 3; ++i) top.pin("a" + std::to_string(i), "input", true);
  if (rng.permille() < 300) top.pin("VDD", "global", true);
  if (rng.permille() < 300) top.pin("VSS", "global", true);
  for (int i = 1; i <= 3; ++i) top.pin("z" + std::to_string(i), "output", false);
  for (const ModuleKind& k : kinds)  // every module at least once, often twice
    for (int c = rng.permille() < 500 ? 2 : 1; c > 0; --c) instance(top, k);
  body(rng, top, true, kinds);
  out.opt["top.nld"] = top.finish();
  return out;
}

}  // namespace zelkgen
