// The Yosys gate cells that structural Verilog in reads, each translated
// into built-in cells: gates as they are, and the registers of every clock,
// reset and enable polarity as a register with inverters and load logic.
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "verilog/vread_internal.h"

namespace zelk::vread_detail {

const std::unordered_map<std::string, CellMap>& yosys_cells() {
  static const std::unordered_map<std::string, CellMap> t = [] {
    std::unordered_map<std::string, CellMap> m;
    auto two = [&](const char* y, const char* cell, const char* out) {
      m[y] = {{"A", "B", "Y"}, {{cell, {{"in1", 0}, {"in2", 1}, {out, 2}}}}};
    };
    m["$_NOT_"] = {{"A", "Y"}, {{"inv-", {{"in", 0}, {"nout", 1}}}}};
    m["$_BUF_"] = {{"A", "Y"}, {{"ninv-", {{"in", 0}, {"out", 1}}}}};
    two("$_AND_", "and--2", "out");
    two("$_NAND_", "nand--2", "nout");
    two("$_OR_", "or--2", "out");
    two("$_NOR_", "nor--2", "nout");
    two("$_XOR_", "eor--2", "out");
    two("$_XNOR_", "enor--2", "nout");
    m["$_ANDNOT_"] = {{"A", "B", "Y"},
                      {{"inv-", {{"in", 1}, {"nout", -1}}}, {"and--2", {{"in1", 0}, {"in2", -1}, {"out", 2}}}}};
    m["$_ORNOT_"] = {{"A", "B", "Y"},
                     {{"inv-", {{"in", 1}, {"nout", -1}}}, {"or--2", {{"in1", 0}, {"in2", -1}, {"out", 2}}}}};
    m["$_AOI3_"] = {{"A", "B", "C", "Y"}, {{"aoi--21", {{"in1", 0}, {"in2", 1}, {"in3", 2}, {"nout", 3}}}}};
    m["$_OAI3_"] = {{"A", "B", "C", "Y"}, {{"oai--21", {{"in1", 0}, {"in2", 1}, {"in3", 2}, {"nout", 3}}}}};
    m["$_AOI4_"] = {{"A", "B", "C", "D", "Y"},
                    {{"aoi--22", {{"in1", 0}, {"in2", 1}, {"in3", 2}, {"in4", 3}, {"nout", 4}}}}};
    m["$_OAI4_"] = {{"A", "B", "C", "D", "Y"},
                    {{"oai--22", {{"in1", 0}, {"in2", 1}, {"in3", 2}, {"in4", 3}, {"nout", 4}}}}};
    // Y = S ? B : A, as ~((A & ~S) | (B & S)) inverted.
    m["$_MUX_"] = {{"A", "B", "S", "Y"},
                   {{"inv-", {{"in", 2}, {"nout", -1}}},
                    {"aoi--22", {{"in1", 0}, {"in2", -1}, {"in3", 1}, {"in4", 2}, {"nout", -2}}},
                    {"inv-", {{"in", -2}, {"nout", 3}}}}};
    // Y = ~(S ? B : A): the same and-or-invert without the last inverter.
    m["$_NMUX_"] = {{"A", "B", "S", "Y"},
                    {{"inv-", {{"in", 2}, {"nout", -1}}},
                     {"aoi--22", {{"in1", 0}, {"in2", -1}, {"in3", 1}, {"in4", 2}, {"nout", 3}}}}};
    // Y = E ? A : z; the tristate cell is enabled low.
    m["$_TBUF_"] = {{"A", "E", "Y"},
                    {{"inv-", {{"in", 1}, {"nout", -1}}}, {"ts_buf-", {{"in", 0}, {"nenb", -1}, {"out", 2}}}}};
    // Flip-flops: $_DFF_<clock><reset><value>_ and $_DFFE_<clock><reset><value><enable>_;
    // a negative polarity gets an inverter.
    const char* pn = "PN";
    for (int e = 0; e < 2; ++e)
      for (int c = 0; c < 2; ++c) {
        for (int en = 0; en < (e ? 2 : 1); ++en) {
          // without reset
          {
            std::string name = std::string(e ? "$_DFFE_" : "$_DFF_") + pn[c] + (e ? std::string(1, pn[en]) : "") + "_";
            CellMap cm;
            cm.ports = e ? std::vector<std::string>{"C", "D", "E", "Q"} : std::vector<std::string>{"C", "D", "Q"};
            int q = e ? 3 : 2;
            Part r{"reg-1", {{"in", 1}, {"m_clock", c ? -1 : 0}, {"out", q}}};
            if (c) cm.parts.push_back({"inv-", {{"in", 0}, {"nout", -1}}});
            if (e) {
              r.pins.push_back({"clk_enb", en ? -2 : 2});
              if (en) cm.parts.push_back({"inv-", {{"in", 2}, {"nout", -2}}});
            }
            cm.parts.push_back(r);
            m[name] = cm;
          }
          for (int rp = 0; rp < 2; ++rp)
            for (int v = 0; v < 2; ++v) {
              std::string name = std::string(e ? "$_DFFE_" : "$_DFF_") + pn[c] + pn[rp] + char('0' + v) +
                                 (e ? std::string(1, pn[en]) : "") + "_";
              CellMap cm;
              cm.ports = e ? std::vector<std::string>{"C", "D", "E", "R", "Q"}
                           : std::vector<std::string>{"C", "D", "R", "Q"};
              int q = e ? 4 : 3, rr = e ? 3 : 2;
              Part r{v ? "regs-1" : "regr-1",
                     {{"in", 1}, {"m_clock", c ? -1 : 0}, {"p_reset", rp ? -3 : rr}, {"out", q}}};
              if (c) cm.parts.push_back({"inv-", {{"in", 0}, {"nout", -1}}});
              if (rp) cm.parts.push_back({"inv-", {{"in", rr}, {"nout", -3}}});
              if (e) {
                r.pins.push_back({"clk_enb", en ? -2 : 2});
                if (en) cm.parts.push_back({"inv-", {{"in", 2}, {"nout", -2}}});
              }
              cm.parts.push_back(r);
              m[name] = cm;
            }
        }
      }
    // Synchronous reset: $_SDFF_<clock><reset><value>_, and with an enable
    // $_SDFFE_ (the reset acts whether enabled or not) and $_SDFFCE_ (only
    // when enabled).  The register loads D & ~reset for value 0, D | reset
    // for value 1; $_SDFFE_ loads when enabled or reset.
    for (std::string_view kind : {"$_SDFF_", "$_SDFFE_", "$_SDFFCE_"})
      for (int c = 0; c < 2; ++c)
        for (int rp = 0; rp < 2; ++rp)
          for (int v = 0; v < 2; ++v)
            for (int en = 0; en < 2; ++en) {
              const bool e = kind != "$_SDFF_";
              if (!e && en) continue;
              std::string name = std::string(kind) + pn[c] + pn[rp] + char('0' + v) +
                                 (e ? std::string(1, pn[en]) : "") + "_";
              CellMap cm;
              cm.ports = e ? std::vector<std::string>{"C", "D", "E", "R", "Q"}
                           : std::vector<std::string>{"C", "D", "R", "Q"};
              const int d = 1, ee = 2, rr = e ? 3 : 2, q = e ? 4 : 3;
              // Helper nets: -1 clock, -2 enable, -3 the reset's complement, -4 the
              // value loaded, -5 the load enable of $_SDFFE_.
              const bool reset_high = !rp, either = kind == "$_SDFFE_";
              // The reset while active (high), and while inactive.
              const int active = reset_high ? rr : -3, inactive = reset_high ? -3 : rr;
              if (c) cm.parts.push_back({"inv-", {{"in", 0}, {"nout", -1}}});
              if (e && en) cm.parts.push_back({"inv-", {{"in", ee}, {"nout", -2}}});
              if (reset_high ? v == 0 : v == 1 || either)
                cm.parts.push_back({"inv-", {{"in", rr}, {"nout", -3}}});
              cm.parts.push_back(v ? Part{"or--2", {{"in1", d}, {"in2", active}, {"out", -4}}}
                                   : Part{"and--2", {{"in1", d}, {"in2", inactive}, {"out", -4}}});
              Part r{"reg-1", {{"in", -4}, {"m_clock", c ? -1 : 0}, {"out", q}}};
              const int enable = en ? -2 : ee;
              if (either) {
                cm.parts.push_back({"or--2", {{"in1", enable}, {"in2", active}, {"out", -5}}});
                r.pins.push_back({"clk_enb", -5});
              } else if (e) {
                r.pins.push_back({"clk_enb", enable});
              }
              cm.parts.push_back(r);
              m[name] = cm;
            }
    return m;
  }();
  return t;
}

}  // namespace zelk::vread_detail
