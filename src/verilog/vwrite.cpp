// An NLD design as structural Verilog: one module per distinct module name,
// built-in cells as instances of the cell library's modules, library cells
// as black boxes.

#include <algorithm>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "reader/reader.h"
#include "verilog/verilog.h"

namespace zelk {

namespace {

const char* const kKeywords[] = {
    "always", "and", "assign", "automatic", "begin", "buf", "bufif0", "bufif1", "case",
    "casex", "casez", "cell", "cmos", "config", "deassign", "default", "defparam", "design",
    "disable", "edge", "else", "end", "endcase", "endconfig", "endfunction", "endgenerate",
    "endmodule", "endprimitive", "endspecify", "endtable", "endtask", "event", "for", "force",
    "forever", "fork", "function", "generate", "genvar", "highz0", "highz1", "if", "ifnone",
    "incdir", "include", "initial", "inout", "input", "instance", "integer", "join", "large",
    "liblist", "library", "localparam", "macromodule", "medium", "module", "nand", "negedge",
    "nmos", "nor", "noshowcancelled", "not", "notif0", "notif1", "or", "output", "parameter",
    "pmos", "posedge", "primitive", "pull0", "pull1", "pulldown", "pullup", "pulsestyle_onevent",
    "pulsestyle_ondetect", "rcmos", "real", "realtime", "reg", "release", "repeat", "rnmos",
    "rpmos", "rtran", "rtranif0", "rtranif1", "scalared", "showcancelled", "signed", "small",
    "specify", "specparam", "strong0", "strong1", "supply0", "supply1", "table", "task", "time",
    "tran", "tranif0", "tranif1", "tri", "tri0", "tri1", "triand", "trior", "trireg", "unsigned",
    "use", "uwire", "vectored", "wait", "wand", "weak0", "weak1", "while", "wire", "wor",
    "xnor", "xor", "logic", "bit", "byte", "int"};

bool is_keyword(std::string_view s) {
  static const std::unordered_set<std::string_view> set(std::begin(kKeywords),
                                                        std::end(kKeywords));
  return set.count(s) != 0;
}

// Port direction word of an NLD pin type.
const char* direction(int type) {
  switch (type) {
    case kwOutput:
    case kwOutputConnected:
    case kwScanOut:
      return "output";
    case kwTristate:
    case kwTristateConnected:
    case kwBidirect:
    case kwBidirectConnected:
      return "inout";
    default:
      return "input";
  }
}

// The pin type the reading direction gives a port of that direction when no
// attribute says otherwise; other types are written as an attribute.
int default_type(const char* dir) {
  std::string_view v = dir;
  return v == "output" ? kwOutput : v == "inout" ? kwTristate : kwInput;
}

// Appends the Verilog form of an NLD name (see verilog_name).
void append_name(std::string& out, std::string_view name) {
  bool simple = !name.empty() && !(name[0] >= '0' && name[0] <= '9') && name[0] != '$';
  for (unsigned char ch : name) {
    if (ch < 33 || ch > 126)
      fail("name \"" + std::string(name) + "\" holds a byte that Verilog names cannot hold\n");
    if (!((ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z') || (ch >= '0' && ch <= '9') ||
          ch == '_' || ch == '$'))
      simple = false;
  }
  if (name.empty()) fail("empty name\n");
  if (simple && !is_keyword(name)) {
    out += name;
  } else {
    out += '\\';
    out += name;
    out += ' ';
  }
}

struct ModuleWriter {
  std::string& out;
  std::unordered_set<long long>* extra_gates;
  bool gates_as_assigns;

  // A gate as one assign of its output net: the same function as the cell
  // library's module, without one module instance per gate.  Unconnected
  // inputs read 0.
  bool gate_assign(const Instance* c, const std::vector<const Link*>& terms,
                   const std::vector<std::string>& pin_names,
                   std::unordered_map<const Net*, std::string>& names) {
    int cls = c->cls;
    if (cls != kInv && cls != kNinv && (cls < kAnd || cls > kOai) && cls != kHigh &&
        cls != kLow && cls != kBgate)
      return false;
    const char* out_pin =
        (cls == kNinv || cls == kAnd || cls == kOr || cls == kEor || cls == kHigh) ? "out" : "nout";
    std::unordered_map<std::string, std::string> at;
    for (std::size_t i = 0; i < terms.size(); ++i)
      if (terms[i]->net) at.emplace(pin_names[i], net_name(terms[i]->net, names));
    auto in = [&](const std::string& p) {
      auto it = at.find(p);
      return it == at.end() ? std::string("1'b0") : it->second;
    };
    auto target = at.find(out_pin);
    if (target == at.end()) return true;  // drives nothing
    std::string e;
    int inputs = static_cast<int>(at.size()) - 1;
    auto chain = [&](int n, const char* op) {
      std::string r;
      for (int i = 1; i <= n; ++i) r += (i > 1 ? op : "") + in("in" + std::to_string(i));
      return r;
    };
    switch (cls) {
      case kInv: e = "~" + in("in"); break;
      case kNinv: e = in("in"); break;
      case kHigh: e = "1'b1"; break;
      case kLow: e = "1'b0"; break;
      case kBgate: e = "~(" + in("enb") + " & " + in("clock") + ")"; break;
      case kEor: e = in("in1") + " ^ " + in("in2"); break;
      case kEnor: e = "~(" + in("in1") + " ^ " + in("in2") + ")"; break;
      case kAnd: case kNand: case kOr: case kNor: {
        int n = c->fan_in ? c->fan_in : inputs;
        e = "(" + chain(n, (cls == kAnd || cls == kNand) ? " & " : " | ") + ")";
        if (cls == kNand || cls == kNor) e = "~" + e;
        break;
      }
      case kAoi: case kOai: {  // groups in the order of the digits
        bool aoi = cls == kAoi;
        std::string digits = std::to_string(c->fan_in);
        int k = 0;
        for (std::size_t g = 0; g < digits.size(); ++g) {
          std::string grp;
          for (int i = 0; i < digits[g] - '0'; ++i)
            grp += (i ? (aoi ? " & " : " | ") : "") + in("in" + std::to_string(++k));
          e += (g ? (aoi ? " | " : " & ") : "") + ("(" + grp + ")");
        }
        e = "~(" + e + ")";
        break;
      }
      default:
        fail();  // no gate: passed over above
    }
    out += "  assign " + target->second + " = " + e + ";\n";
    return true;
  }

  // Only nets with a module pin are in `names` (a small table); any other
  // net is named after its first terminal, found without a lookup.
  static std::string net_name(const Net* n, std::unordered_map<const Net*, std::string>& names) {
    std::string s;
    append_net(s, n, names);
    return s;
  }
  static void append_net(std::string& out, const Net* n,
                         std::unordered_map<const Net*, std::string>& names) {
    if (!names.empty()) {
      auto it = names.find(n);
      if (it != names.end()) {
        out += it->second;
        return;
      }
    }
    const Link* l = n->links;
    if (!l) return;
    out += '\\';
    std::size_t at = out.size();
    out += l->inst->name;
    out += '.';
    if (l->pin_name) out += l->pin_name;
    // Always escaped (it holds a "."); checked like any name.
    std::string_view whole(out.data() + at, out.size() - at);
    for (unsigned char ch : whole)
      if (ch < 33 || ch > 126)
        fail("name \"" + std::string(whole) + "\" holds a byte that Verilog names cannot hold\n");
    out += ' ';
  }

  // The prover's form takes the supply pins "VDD" and "VSS" (inputs) for the
  // constants they are to zelk: their nets are 1 and 0.  The top module
  // loses them as ports (a run may add one); a copy keeps the port under
  // another name, unread.
  const char* supply(const Instance* p) const {
    if (!gates_as_assigns || std::string_view(direction(p->type)) != "input") return nullptr;
    return same(p->name, "VDD") ? "1'b1" : same(p->name, "VSS") ? "1'b0" : nullptr;
  }
  std::string port_name(const Instance* p) const {
    return verilog_name(supply(p) ? std::string(p->name) + ".supply" : std::string(p->name));
  }

  void ports(const Module* m, const char* name, std::vector<const Instance*>& pins, bool top) {
    for (const Instance* p = m->pins; p; p = p->next) pins.push_back(p);
    // The pin list holds the file order reversed.
    std::vector<const Instance*> ordered(pins.rbegin(), pins.rend());
    pins.swap(ordered);
    out += "module " + verilog_name(name) + "(";
    bool first = true;
    for (const Instance* p : pins) {
      if (top && supply(p)) continue;
      out += (first ? "" : ", ") + port_name(p);
      first = false;
    }
    out += ");\n";
    for (const Instance* p : pins) {
      if (top && supply(p)) continue;
      const char* dir = direction(p->type);
      if (p->type != default_type(dir)) {
        const char* word = inv_screen(p->type, kKeywordTable);
        if (word) out += std::string("  (* zelk_type = \"") + word + "\" *)\n";
      }
      out += std::string("  ") + dir + " " + port_name(p) + ";\n";
    }
  }

  void black_box(const Module* m, const char* name) {
    std::vector<const Instance*> pins;
    out += "(* blackbox *)\n";
    bool proof = gates_as_assigns;
    gates_as_assigns = false;  // a cell's pins are its own, supplies too
    ports(m, name, pins, false);
    gates_as_assigns = proof;
    out += "endmodule\n\n";
  }

  std::string cell_name(const Instance* c, int inputs) {
    if (c->cls == kUser) return c->class_name;
    std::string base = inv_screen(c->cls, kCellTable);
    int n = c->fan_in;
    switch (c->cls) {
      case kAnd:
      case kNand:
      case kOr:
      case kNor:
        if (n == 0) n = inputs;  // a bare gate name: its inputs give the fan-in
        if (n < 1) fail("cannot write " + std::string(c->name) + ": gate without inputs\n");
        if (n < kLibraryMinFanIn || n > kLibraryMaxFanIn)
          extra_gates->insert(static_cast<long long>(c->cls) * 100000 + n);
        return base + "-" + std::to_string(n);
      case kEor:
      case kEnor:
        return base + "-2";
      case kAoi:
      case kOai:
        if (n == 0) fail("cannot write " + std::string(c->name) + ": " + base + " without fan-in\n");
        return base + "-" + std::to_string(n);
      case kInv: case kNinv: case kReg1: case kRegr1: case kRegs1: case kRegSR: case kRegSet:
      case kSreg1: case kSrgr1: case kSrgs1: case kSregSR: case kSregSet: case kHigh: case kLow:
      case kTsBuf: case kBgate:
        return base;
      default:
        fail();  // no such class
    }
  }

  void body(const Module* m, const char* name, bool top) {
    std::vector<const Instance*> pins;
    ports(m, name, pins, top);
    // Net names: a net with a module pin takes the first pin's name, the
    // others are written as assigns; any other net is named after its first
    // terminal, "instance.pin", which no pin or instance name can be since
    // NLD names hold no ".".
    std::unordered_map<const Net*, std::string> names;
    std::vector<const Net*> nets;
    for (const Net* n = m->nets; n; n = n->next) nets.push_back(n);
    std::string assigns;
    for (const Instance* p : pins) {
      if (!p->link || !p->link->net) continue;
      auto [it, fresh] = names.try_emplace(p->link->net, verilog_name(p->name));
      if (supply(p)) {
        if (fresh) out += "  wire " + it->second + ";\n";
        assigns += "  assign " + it->second + " = " + supply(p) + ";\n";
      } else if (!fresh) {
        assigns += "  assign " + verilog_name(p->name) + " = " + it->second + ";\n";
      }
    }
    for (const Net* n : nets) {
      if (!n->links || names.count(n)) continue;
      out += "  wire " + net_name(n, names) + ";\n";
    }
    out += assigns;
    std::vector<const Instance*> comps;
    for (const Instance* c = m->comps; c; c = c->next) comps.push_back(c);
    // Scratch reused for every instance: the writer must stay linear and
    // light on a million cells.
    std::vector<const Link*> terms;
    std::vector<std::string> pin_names;
    for (auto it = comps.rbegin(); it != comps.rend(); ++it) {
      const Instance* c = *it;
      terms.clear();
      if (c->link) {
        const Link* l = c->link;
        do {
          terms.push_back(l);
          l = l->inst_next;
        } while (l && l != c->link);
      }
      // Gates whose inputs may carry any names get in1..inN.
      bool any_names = c->cls == kAnd || c->cls == kNand || c->cls == kOr || c->cls == kNor ||
                       c->cls == kAoi || c->cls == kOai;
      const char* out_pin = (c->cls == kAnd || c->cls == kOr) ? "out" : "nout";
      int inputs = 0;
      for (const Link* l : terms)
        if (!same(l->pin_name, out_pin)) ++inputs;
      std::string cell = cell_name(c, inputs);
      pin_names.resize(terms.size());
      bool standard = true;
      for (std::size_t i = 0; i < terms.size(); ++i) {
        std::string_view p = terms[i]->pin_name ? terms[i]->pin_name : "";
        pin_names[i].assign(p);
        if (any_names && p != out_pin) {
          bool ok = p.size() > 2 && p.substr(0, 2) == "in" && p[2] != '0';
          for (char ch : p.substr(2)) ok = ok && ch >= '0' && ch <= '9';
          for (std::size_t k = 0; ok && k < i; ++k) ok = pin_names[k] != p;
          if (!ok) standard = false;
        }
      }
      if (any_names && !standard) {
        int k = 0;
        for (std::size_t i = 0; i < terms.size(); ++i)
          if (pin_names[i] != out_pin) pin_names[i] = "in" + std::to_string(++k);
      }
      if (gates_as_assigns && gate_assign(c, terms, pin_names, names)) continue;
      std::string iname = c->name;
      // The prover's form: a flat output's path "u1/u2/R1" is written as the
      // name a flattened hierarchy gives the same register, "u1.u2.R1".
      if (gates_as_assigns) std::replace(iname.begin(), iname.end(), '/', '.');
      out += "  ";
      append_name(out, cell);
      out += ' ';
      append_name(out, iname);
      out += '(';
      bool first = true;
      // A pin met twice must be on one net; cells have few pins, so the
      // earlier ones are searched directly (a map for large instances).
      std::unordered_map<std::string_view, const Net*> seen;
      for (std::size_t i = 0; i < terms.size(); ++i) {
        const Net* n = terms[i]->net;
        bool again = false;
        if (terms.size() <= 16) {
          for (std::size_t k = 0; k < i && !again; ++k)
            if (pin_names[k] == pin_names[i]) {
              again = true;
              if (terms[k]->net != n)
                fail("cannot write " + std::string(c->name) + ": pin " + pin_names[i] +
                     " is on two nets\n");
            }
        } else {
          auto [it2, fresh] = seen.try_emplace(pin_names[i], n);
          again = !fresh;
          if (again && it2->second != n)
            fail("cannot write " + std::string(c->name) + ": pin " + pin_names[i] +
                 " is on two nets\n");
        }
        if (again) continue;
        if (!first) out += ", ";
        out += '.';
        append_name(out, pin_names[i]);
        out += '(';
        if (n) append_net(out, n, names);
        out += ')';
        first = false;
      }
      out += ");\n";
    }
    out += "endmodule\n\n";
  }
};

}  // namespace

std::string verilog_name(const std::string& name) {
  std::string out;
  append_name(out, name);
  return out;
}

std::string write_verilog(const Design& d, bool gates_as_assigns) {
  std::string out;
  std::unordered_set<long long> extra;
  ModuleWriter w{out, &extra, gates_as_assigns};
  out += "// Written by zelk-verilog from the NLD design " + d.options.top_name +
         ".\n// Built-in cells are the modules of share/zelk_cells.v.\n\n";
  std::unordered_set<std::string_view> done;
  for (const Module* m = d.top; m; m = m->next) {
    // Instances name the module by the name they were loaded through, which
    // may differ from the file's own def-module name.
    const char* name = m->inst ? m->inst->class_name : d.options.top_name.c_str();
    if (!done.insert(name).second) continue;
    if (m->state == kStateCell) w.black_box(m, name);
    else w.body(m, name, m == d.top);
  }
  std::vector<long long> sorted(extra.begin(), extra.end());
  std::sort(sorted.begin(), sorted.end());
  for (long long v : sorted) out += gate_model(static_cast<int>(v / 100000), static_cast<int>(v % 100000));
  return out;
}

}  // namespace zelk
