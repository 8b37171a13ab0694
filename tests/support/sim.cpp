#include "support/sim.h"

#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <memory>
#include <sstream>
#include <unordered_map>
#include <unordered_set>

namespace zelk::test {

namespace {

[[noreturn]] void fail(const std::string& msg) { throw SimError(msg); }

// ------------------------------------------------------------------ reader

enum Tok { kLp, kRp, kDot, kName, kEnd };

class Lexer {
 public:
  Lexer(std::string text, std::string file) : s_(std::move(text)), file_(std::move(file)) {}

  Tok next(std::string& text) {
    if (has_back_) {
      has_back_ = false;
      text = back_text_;
      return back_;
    }
    text.clear();
    for (;;) {
      if (i_ >= s_.size()) return kEnd;
      char c = s_[i_];
      if (c == ' ' || c == '\t') {
        ++i_;
      } else if (c == '\n') {
        ++i_;
        ++line_;
      } else if (c == ';') {
        while (i_ < s_.size() && s_[i_] != '\n') ++i_;
      } else if (c == '(') {
        ++i_;
        return kLp;
      } else if (c == ')') {
        ++i_;
        return kRp;
      } else if (c == '.') {
        ++i_;
        return kDot;
      } else {
        size_t start = i_;
        while (i_ < s_.size() && !is_sep(s_[i_])) ++i_;
        if (i_ >= s_.size()) error("end of file inside a name");
        text.assign(s_, start, i_ - start);
        return kName;
      }
    }
  }
  void push_back(Tok t, const std::string& text) {
    has_back_ = true;
    back_ = t;
    back_text_ = text;
  }
  [[noreturn]] void error(const std::string& what) const {
    fail(file_ + ", line " + std::to_string(line_) + ": " + what);
  }

 private:
  static bool is_sep(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '(' || c == ')' || c == '.' || c == ';';
  }
  std::string s_;
  std::string file_;
  size_t i_ = 0;
  int line_ = 1;
  bool has_back_ = false;
  Tok back_ = kEnd;
  std::string back_text_;
};

struct PPin {
  std::string name;
  std::string type;
};
struct PComp {
  std::string cls;
  std::string name;
};
struct PTerm {
  int comp;  // -1: a pin of the module
  int pin;   // pin index when comp is -1
  std::string pin_name;
};
struct PModule {
  std::string name;
  std::string file;
  bool pcd = false;
  std::vector<PPin> pins;
  std::vector<PComp> comps;
  std::vector<std::vector<PTerm>> nets;
  std::unordered_map<std::string, int> pin_index;  // the last pin of a name
};

bool output_like(const std::string& type) {
  return type == "output" || type == "output-connected" || type == "tristate" ||
         type == "tristate_connected" || type == "bidirect" || type == "bidirect_connected" ||
         type == "scan_out";
}
bool tristate_like(const std::string& type) {
  return type == "tristate" || type == "tristate_connected" || type == "bidirect" ||
         type == "bidirect_connected";
}

bool regular_file(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::unique_ptr<PModule> parse_file(const std::string& path, bool pcd) {
  Lexer lx(slurp(path), path);
  auto m = std::make_unique<PModule>();
  m->file = path;
  m->pcd = pcd;
  std::unordered_map<std::string, int> comp_index;  // the last comp of a name
  std::string t;
  auto expect_name = [&](const char* what) {
    if (lx.next(t) != kName) lx.error(std::string("expected ") + what);
    return t;
  };
  auto read_number = [&] {
    Tok k = lx.next(t);
    if (k == kName) {
      Tok k2 = lx.next(t);
      if (k2 == kDot) {
        expect_name("a number");
      } else {
        lx.push_back(k2, t);
      }
      return;
    }
    if (k == kDot) {
      expect_name("a number");
      return;
    }
    lx.error("expected a number");
  };
  auto skip_form = [&] {
    int depth = 1;
    while (depth > 0) {
      Tok k = lx.next(t);
      if (k == kEnd) lx.error("too many )'s");
      if (k == kLp) ++depth;
      if (k == kRp) --depth;
    }
  };

  if (lx.next(t) != kLp) lx.error("expected (");
  if (lx.next(t) != kName || t != "def-module") lx.error("expected def-module");
  m->name = expect_name("a module name");
  bool closed = false;
  for (;;) {
    Tok k = lx.next(t);
    if (k == kEnd) break;
    if (closed) lx.error("text after the def-module form");
    if (k == kRp) {
      closed = true;
      continue;
    }
    if (k == kName && pcd) {
      if (t == "area" || t == "gates" || t == "power") {
        read_number();
      } else if (t == "cell_name") {
        expect_name("a cell name");
      } else {
        lx.error("unexpected " + t);
      }
      continue;
    }
    if (k != kLp) lx.error("unexpected token");
    std::string kw = expect_name("a keyword");
    if (kw == "def-module") lx.error("nested def-module");
    if (kw == "def-pin") {
      PPin p;
      p.name = expect_name("a pin name");
      bool has_type = false;
      for (;;) {
        Tok a = lx.next(t);
        if (a == kRp) break;
        if (a != kName) lx.error("bad def-pin");
        if (t == "type") {
          if (has_type) lx.error("type twice");
          has_type = true;
          p.type = expect_name("a type");
        } else if (t == "note") {
          expect_name("a note");
        } else if (t == "load" && pcd) {
          read_number();
        } else {
          lx.error("bad def-pin attribute " + t);
        }
      }
      if (!has_type) lx.error("def-pin " + p.name + " without type");
      m->pin_index[p.name] = static_cast<int>(m->pins.size());
      m->pins.push_back(std::move(p));
    } else if (kw == "def-comp" && !pcd) {
      std::string cls = expect_name("a cell name");
      for (;;) {
        Tok a = lx.next(t);
        if (a == kRp) break;
        if (a != kName) lx.error("bad def-comp");
        comp_index[t] = static_cast<int>(m->comps.size());
        m->comps.push_back({cls, t});
      }
    } else if (kw == "def-net" && !pcd) {
      std::vector<PTerm> net;
      for (;;) {
        Tok a = lx.next(t);
        if (a == kRp) break;
        if (a != kName) lx.error("bad def-net");
        auto pi = m->pin_index.find(t);
        if (pi != m->pin_index.end()) {
          net.push_back({-1, pi->second, t});
          continue;
        }
        std::string inst = t;
        if (lx.next(t) != kDot) lx.error("expected . after " + inst);
        std::string pin = expect_name("a pin name");
        auto ci = comp_index.find(inst);
        if (ci == comp_index.end()) lx.error(inst + " undefined");
        net.push_back({ci->second, -1, pin});
      }
      m->nets.push_back(std::move(net));
    } else {
      skip_form();
    }
  }
  return m;
}

// ------------------------------------------------------------------ cells

enum class Cell { kInv, kNinv, kAnd, kNand, kOr, kNor, kEor, kEnor, kAoi, kOai,
                  kReg, kSreg, kRegSet, kSregSet, kHigh, kLow, kTs, kBgate, kUser };

// The kind of a cell name; `digits` receives the and-or grouping number.
Cell classify(const std::string& name, int& digits) {
  static const std::unordered_map<std::string, Cell> whole = {
      {"inv-", Cell::kInv},       {"ninv-", Cell::kNinv},     {"and-", Cell::kAnd},
      {"nand-", Cell::kNand},     {"or-", Cell::kOr},         {"nor-", Cell::kNor},
      {"eor-", Cell::kEor},       {"enor-", Cell::kEnor},     {"aoi-", Cell::kAoi},
      {"oai-", Cell::kOai},       {"high-", Cell::kHigh},     {"low-", Cell::kLow},
      {"ts_buf-", Cell::kTs},     {"bgate--2", Cell::kBgate}, {"reg-1", Cell::kReg},
      {"regr-1", Cell::kReg},     {"regs-1", Cell::kReg},     {"reg--1", Cell::kReg},
      {"reg---1", Cell::kRegSet}, {"sreg-1", Cell::kSreg},    {"srgr-1", Cell::kSreg},
      {"srgs-1", Cell::kSreg},    {"sreg--1", Cell::kSreg},   {"sreg---1", Cell::kSregSet},
  };
  digits = 0;
  auto w = whole.find(name);
  if (w != whole.end()) return w->second;
  size_t dash = name.find('-');
  if (dash == std::string::npos || dash + 1 >= name.size() || name[dash + 1] != '-')
    return Cell::kUser;
  std::string num = name.substr(dash + 2);
  if (!std::all_of(num.begin(), num.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return Cell::kUser;
  std::string prefix = name.substr(0, dash + 1);
  w = whole.find(prefix);
  if (w == whole.end() || prefix == "bgate-") return Cell::kUser;
  int n = num.empty() ? 0 : std::stoi(num.substr(0, 6));
  switch (w->second) {
    case Cell::kAnd: case Cell::kNand: case Cell::kOr: case Cell::kNor:
      if (n < 2) fail("bad cell name " + name);
      break;
    case Cell::kEor: case Cell::kEnor:
      if (n != 2) fail("bad cell name " + name);
      break;
    case Cell::kAoi: case Cell::kOai:
      if (n != 21 && n != 22 && n != 31 && n != 32 && n != 33 && n != 211 && n != 221 &&
          n != 222)
        fail("bad cell name " + name);
      digits = n;
      break;
    default:
      break;
  }
  return w->second;
}

bool is_register(Cell c) {
  return c == Cell::kReg || c == Cell::kSreg || c == Cell::kRegSet || c == Cell::kSregSet;
}

// Whether `pin` is an output of a built-in cell; throws for a pin the
// cell does not have.
bool cell_output(Cell c, const std::string& pin, const std::string& who) {
  auto bad = [&]() -> bool { fail(who + ": cell has no pin " + pin); };
  auto one_of = [&](std::initializer_list<const char*> names) {
    for (const char* n : names)
      if (pin == n) return true;
    return false;
  };
  switch (c) {
    case Cell::kInv: return pin == "nout" ? true : pin == "in" ? false : bad();
    case Cell::kNinv: return pin == "out" ? true : pin == "in" ? false : bad();
    case Cell::kAnd: case Cell::kOr: return pin == "out";
    case Cell::kNand: case Cell::kNor: case Cell::kAoi: case Cell::kOai: return pin == "nout";
    case Cell::kEor: return pin == "out" ? true : one_of({"in1", "in2"}) ? false : bad();
    case Cell::kEnor: return pin == "nout" ? true : one_of({"in1", "in2"}) ? false : bad();
    case Cell::kReg:
      if (one_of({"out", "nout"})) return true;
      return one_of({"in", "clk_enb", "m_clock", "s_clock", "p_reset"}) ? false : bad();
    case Cell::kRegSet:
      if (one_of({"out", "nout"})) return true;
      return one_of({"set", "reset", "m_clock", "s_clock", "p_reset"}) ? false : bad();
    case Cell::kSreg:
      if (one_of({"out", "nout", "scan_out"})) return true;
      return one_of({"in", "scan_in", "clk_enb", "scan_enb", "m_clock", "s_clock",
                     "scan_clock", "p_reset"})
                 ? false
                 : bad();
    case Cell::kSregSet:
      if (one_of({"out", "nout", "scan_out"})) return true;
      return one_of({"set", "reset", "scan_in", "scan_enb", "m_clock", "s_clock",
                     "scan_clock", "p_reset"})
                 ? false
                 : bad();
    case Cell::kHigh: return pin == "out" ? true : bad();
    case Cell::kLow: return pin == "nout" ? true : bad();
    case Cell::kTs: return pin == "out" ? true : one_of({"in", "nenb"}) ? false : bad();
    case Cell::kBgate: return pin == "nout" ? true : one_of({"enb", "clock"}) ? false : bad();
    case Cell::kUser: break;
  }
  return bad();
}

// Number at the end of a pin name ("in12" -> 12), -1 when there is none.
long trailing_number(const std::string& s) {
  size_t i = s.size();
  while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
  if (i == s.size() || s.size() - i > 9) return -1;
  return std::stol(s.substr(i));
}

// ------------------------------------------------------------------ flattening

struct Terminal {
  std::string pin;
  int node;
};

struct Leaf {
  Cell kind;
  int digits;
  std::string path;
  const PModule* box;  // PCD cell, else null
  std::vector<Terminal> terms;
};

struct Scope {
  const PModule* m;
  std::string path;
  std::vector<int> pin_node;  // by pin index, -1 when the parent leaves it open
  int parent;                 // scope index, -1 for the top
  std::string cell;           // the cell name this scope was loaded through
};

class Builder {
 public:
  explicit Builder(std::vector<std::string> dirs) : dirs_(std::move(dirs)) {}

  SimDesign build(const std::string& top);

 private:
  int new_node() {
    uf_.push_back(static_cast<int>(uf_.size()));
    return static_cast<int>(uf_.size()) - 1;
  }
  int find(int x) {
    while (uf_[x] != x) {
      uf_[x] = uf_[uf_[x]];
      x = uf_[x];
    }
    return x;
  }
  void unite(int a, int b) {
    a = find(a);
    b = find(b);
    if (a != b) uf_[std::max(a, b)] = std::min(a, b);
  }
  const PModule* module_file(const std::string& cell);
  const PModule* top_file(const std::string& top);
  int global_node(const std::string& name);

  std::vector<std::string> dirs_;
  std::unordered_map<std::string, std::unique_ptr<PModule>> cache_;  // by cell name
  std::vector<int> uf_;
  std::vector<Scope> scopes_;
  std::vector<Leaf> leaves_;
  std::unordered_map<std::string, int> globals_;  // open global pins, by name
};

const PModule* Builder::top_file(const std::string& top) {
  for (const auto& d : dirs_) {
    std::string p = d + "/" + top + ".nld";
    if (regular_file(p)) return (cache_["\n" + top] = parse_file(p, false)).get();
  }
  fail("could not find " + top + ".nld");
}

const PModule* Builder::module_file(const std::string& cell) {
  auto it = cache_.find(cell);
  if (it != cache_.end()) return it->second.get();
  for (const char* ext : {"pcd", "nld"}) {
    for (const auto& d : dirs_) {
      std::string p = d + "/" + cell + "." + ext;
      if (regular_file(p)) return (cache_[cell] = parse_file(p, ext[0] == 'p')).get();
    }
  }
  fail("could not find " + cell + ".pcd/nld");
}

int Builder::global_node(const std::string& name) {
  const Scope& top = scopes_[0];
  auto pi = top.m->pin_index.find(name);
  if (pi != top.m->pin_index.end()) return top.pin_node[pi->second];
  auto g = globals_.find(name);
  if (g != globals_.end()) return g->second;
  int n = new_node();
  globals_[name] = n;
  return n;
}

SimDesign Builder::build(const std::string& top_name) {
  // Expand the instance tree with a work list; every local net is a node,
  // joined to its parent's net through the instance terminals.
  {
    const PModule* tm = top_file(top_name);
    Scope s{tm, "", {}, -1, top_name};
    for (size_t p = 0; p < tm->pins.size(); ++p) s.pin_node.push_back(new_node());
    scopes_.push_back(std::move(s));
  }
  std::vector<int> work{0};
  while (!work.empty()) {
    int si = work.back();
    work.pop_back();
    const PModule* m = scopes_[si].m;
    std::string path = scopes_[si].path;
    int base = static_cast<int>(uf_.size());
    for (size_t n = 0; n < m->nets.size(); ++n) new_node();
    std::vector<int> pin_node = scopes_[si].pin_node;
    std::vector<std::vector<Terminal>> comp_terms(m->comps.size());
    for (size_t n = 0; n < m->nets.size(); ++n) {
      for (const PTerm& t : m->nets[n]) {
        if (t.comp < 0) {
          int& pn = pin_node[t.pin];
          if (pn < 0 && si != 0 && m->pins[t.pin].type == "global")
            pn = global_node(m->pins[t.pin].name);
          if (pn >= 0) unite(pn, base + static_cast<int>(n));
          pn = base + static_cast<int>(n);  // later nets on the same pin join it
        } else {
          comp_terms[t.comp].push_back({t.pin_name, base + static_cast<int>(n)});
        }
      }
    }
    for (size_t c = 0; c < m->comps.size(); ++c) {
      const PComp& pc = m->comps[c];
      std::string cpath = path.empty() ? pc.name : path + "/" + pc.name;
      int digits = 0;
      Cell kind = classify(pc.cls, digits);
      if (kind != Cell::kUser) {
        leaves_.push_back({kind, digits, cpath, nullptr, std::move(comp_terms[c])});
        continue;
      }
      for (int up = si; up >= 0; up = scopes_[up].parent)
        if (scopes_[up].cell == pc.cls) fail(cpath + ": " + pc.cls + " instantiates itself");
      const PModule* sub = module_file(pc.cls);
      if (sub->pcd) {
        for (const Terminal& t : comp_terms[c])
          if (!sub->pin_index.count(t.pin)) fail(cpath + ": " + pc.cls + " has no pin " + t.pin);
        leaves_.push_back({kind, 0, cpath, sub, std::move(comp_terms[c])});
        continue;
      }
      Scope s{sub, cpath, std::vector<int>(sub->pins.size(), -1), si, pc.cls};
      for (const Terminal& t : comp_terms[c]) {
        auto pi = sub->pin_index.find(t.pin);
        if (pi == sub->pin_index.end()) fail(cpath + ": " + pc.cls + " has no pin " + t.pin);
        int& pn = s.pin_node[pi->second];
        if (pn < 0) {
          pn = t.node;
        } else {
          unite(pn, t.node);
        }
      }
      scopes_.push_back(std::move(s));
      work.push_back(static_cast<int>(scopes_.size()) - 1);
    }
  }

  // Dense net numbers.
  SimDesign d;
  d.top = top_name;
  std::vector<int> dense(uf_.size(), -1);
  auto net_of = [&](int node) {
    int r = find(node);
    if (dense[r] < 0) dense[r] = d.num_nets++;
    return dense[r];
  };
  std::vector<SimOp> ops;
  std::vector<int> ins;
  struct Driver {
    int op;
    std::string name;
    bool tristate;
  };
  std::unordered_map<int, std::vector<Driver>> drivers;  // net -> drivers
  std::vector<std::pair<int, std::string>> readers;      // (net, name) of every read
  auto add_driver = [&](int net, const std::string& name, bool tri) {
    drivers[net].push_back({static_cast<int>(ops.size()) - 1, name, tri});
  };
  std::vector<int> owners;  // leaf of each op, for messages
  int owner = -1;
  std::unordered_set<int> ts_ops;  // ops of tri-state buffers
  auto add_op = [&](SimOp::Kind k, int out, const std::vector<int>& inputs) {
    SimOp op;
    op.kind = k;
    op.out = out;
    op.first = static_cast<int>(ins.size());
    op.count = static_cast<int>(inputs.size());
    ins.insert(ins.end(), inputs.begin(), inputs.end());
    ops.push_back(op);
    owners.push_back(owner);
  };
  // A free input; with a net, a buffer (or inverter) drives it.
  auto add_var = [&](const std::string& name, int net, bool invert) {
    int v = d.num_nets++;
    d.vars.push_back({name, v});
    if (net >= 0) add_op(invert ? SimOp::kNot : SimOp::kBuf, net, {v});
    return v;
  };

  // Top pins.
  const Scope& ts = scopes_[0];
  std::vector<bool> top_connected(ts.m->pins.size(), false);
  for (const auto& net : ts.m->nets)
    for (const PTerm& t : net)
      if (t.comp < 0) top_connected[t.pin] = true;
  for (size_t p = 0; p < ts.m->pins.size(); ++p) {
    const PPin& pin = ts.m->pins[p];
    int net = net_of(ts.pin_node[p]);
    if (output_like(pin.type)) {
      if (top_connected[p]) {
        d.observed[pin.name] = net;
        readers.push_back({net, pin.name});
      }
      continue;
    }
    if (pin.name == "VDD" || pin.name == "VSS") {
      add_op(pin.name == "VDD" ? SimOp::kConst1 : SimOp::kConst0, net, {});
    } else {
      add_var(pin.name, net, false);
    }
    add_driver(net, pin.name, false);
  }
  for (const auto& [name, node] : globals_) {
    int net = net_of(node);
    if (name == "VDD" || name == "VSS") {
      add_op(name == "VDD" ? SimOp::kConst1 : SimOp::kConst0, net, {});
    } else {
      add_var(name, net, false);
    }
    add_driver(net, name, false);
  }

  // Leaves.
  std::vector<int> in_nets;
  for (const Leaf& lf : leaves_) {
    owner = static_cast<int>(&lf - leaves_.data());
    if (lf.box) {
      ++d.black_boxes;
      std::unordered_map<std::string, int> at;
      for (const Terminal& t : lf.terms) {
        int net = net_of(t.node);
        auto [it, fresh] = at.emplace(t.pin, net);
        if (!fresh && it->second != net) fail(lf.path + "." + t.pin + " is on two nets");
      }
      std::unordered_set<std::string> seen;
      for (size_t i = lf.box->pins.size(); i-- > 0;) {
        const PPin& pin = lf.box->pins[i];
        if (!seen.insert(pin.name).second) continue;
        std::string name = lf.path + "." + pin.name;
        auto a = at.find(pin.name);
        int net = a == at.end() ? -1 : a->second;
        if (output_like(pin.type)) {
          add_var(name, net, false);
          if (net >= 0) add_driver(net, name, tristate_like(pin.type));
        } else if (net >= 0) {
          d.observed[name] = net;
          readers.push_back({net, name});
        }
      }
      continue;
    }
    ++d.cells;
    if (lf.kind == Cell::kInv) ++d.inverters;
    // Terminals by pin name; a pin named twice joins its nets.
    std::vector<std::pair<std::string, int>> pins;
    for (const Terminal& t : lf.terms) {
      int net = net_of(t.node);
      auto it = std::find_if(pins.begin(), pins.end(), [&](auto& p) { return p.first == t.pin; });
      if (it == pins.end()) {
        pins.push_back({t.pin, net});
      } else if (it->second != net) {
        fail(lf.path + "." + t.pin + " is on two nets");
      }
    }
    std::vector<std::pair<std::string, int>> inputs, outputs;
    for (auto& p : pins) (cell_output(lf.kind, p.first, lf.path) ? outputs : inputs).push_back(p);
    auto input = [&](const char* pin) {
      for (auto& p : inputs)
        if (p.first == pin) return p.second;
      fail(lf.path + ": input " + pin + " is not connected");
    };
    auto output = [&](const char* pin) {
      for (auto& p : outputs)
        if (p.first == pin) return p.second;
      return -1;
    };
    if (is_register(lf.kind)) {
      for (auto& p : inputs) readers.push_back({p.second, lf.path + "." + p.first});
      int q_out = output("out"), q_nout = output("nout"), q_scan = output("scan_out");
      for (auto& p : inputs) d.observed[lf.path + "." + p.first] = p.second;
      int q = add_var(lf.path, q_out, false);
      if (q_out >= 0) add_driver(q_out, lf.path + ".out", false);
      if (q_nout >= 0) {
        add_op(SimOp::kNot, q_nout, {q});
        add_driver(q_nout, lf.path + ".nout", false);
      }
      if (q_scan >= 0) {
        add_op(SimOp::kBuf, q_scan, {q});
        add_driver(q_scan, lf.path + ".scan_out", false);
      }
      continue;
    }
    if (outputs.empty()) continue;  // drives nothing
    for (auto& p : inputs) readers.push_back({p.second, lf.path + "." + p.first});
    const auto& [out_pin, out] = outputs.front();
    std::string dname = lf.path + "." + out_pin;
    in_nets.clear();
    switch (lf.kind) {
      case Cell::kInv: add_op(SimOp::kNot, out, {input("in")}); break;
      case Cell::kNinv: add_op(SimOp::kBuf, out, {input("in")}); break;
      case Cell::kHigh: add_op(SimOp::kConst1, out, {}); break;
      case Cell::kLow: add_op(SimOp::kConst0, out, {}); break;
      case Cell::kEor: add_op(SimOp::kXor, out, {input("in1"), input("in2")}); break;
      case Cell::kEnor: add_op(SimOp::kXnor, out, {input("in1"), input("in2")}); break;
      case Cell::kBgate: add_op(SimOp::kNand, out, {input("enb"), input("clock")}); break;
      case Cell::kTs:
        // Alone on its net the buffer passes its data; on a bus the bus op
        // takes over (see below).
        add_op(SimOp::kBuf, out, {input("in"), input("nenb")});
        ops.back().count = 1;
        ts_ops.insert(static_cast<int>(ops.size()) - 1);
        break;
      case Cell::kAnd: case Cell::kNand: case Cell::kOr: case Cell::kNor: {
        for (auto& p : inputs) in_nets.push_back(p.second);
        SimOp::Kind k = lf.kind == Cell::kAnd    ? SimOp::kAnd
                        : lf.kind == Cell::kNand ? SimOp::kNand
                        : lf.kind == Cell::kOr   ? SimOp::kOr
                                                 : SimOp::kNor;
        add_op(k, out, in_nets);
        break;
      }
      case Cell::kAoi: case Cell::kOai: {
        if (lf.digits == 0) fail(lf.path + ": and-or cell without its grouping");
        std::vector<std::pair<std::string, int>> sorted = inputs;
        std::stable_sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) {
          long na = trailing_number(a.first), nb = trailing_number(b.first);
          return na != nb ? na < nb : a.first < b.first;
        });
        std::string ds = std::to_string(lf.digits);
        int total = 0;
        for (char c : ds) total += c - '0';
        if (static_cast<int>(sorted.size()) != total)
          fail(lf.path + ": and-or cell with " + std::to_string(sorted.size()) + " inputs");
        for (auto& p : sorted) in_nets.push_back(p.second);
        add_op(lf.kind == Cell::kAoi ? SimOp::kAoi : SimOp::kOai, out, in_nets);
        ops.back().ngroups = static_cast<uint8_t>(ds.size());
        for (size_t g = 0; g < ds.size(); ++g) ops.back().groups[g] = static_cast<uint8_t>(ds[g] - '0');
        break;
      }
      default:
        fail(lf.path + ": unexpected cell");
    }
    add_driver(out, dname, lf.kind == Cell::kTs);
  }

  // Nets read but driven by nothing are free inputs, named by their
  // smallest reader.
  owner = -1;
  {
    std::map<int, std::string> undriven;
    for (auto& [net, name] : readers) {
      if (drivers.count(net)) continue;
      auto [it, fresh] = undriven.emplace(net, name);
      if (!fresh && name < it->second) it->second = name;
    }
    for (auto& [net, name] : undriven) add_var("?undriven:" + name, net, false);
  }

  // Buses: several drivers, at least one of them tri-state.
  int const0 = -1;
  std::vector<int> bus_nets;
  for (auto& [net, list] : drivers)
    if (list.size() > 1) bus_nets.push_back(net);
  std::sort(bus_nets.begin(), bus_nets.end());
  for (int net : bus_nets) {
    auto& list = drivers[net];
    if (std::none_of(list.begin(), list.end(), [](const Driver& x) { return x.tristate; }))
      fail("net driven by both " + list[0].name + " and " + list[1].name);
    std::sort(list.begin(), list.end(),
              [](const Driver& a, const Driver& b) { return a.name < b.name; });
    std::vector<int> pairs;
    for (const Driver& x : list) {
      if (ts_ops.count(x.op)) {
        // data and enable of the buffer go straight into the bus
        pairs.push_back(ins[ops[x.op].first]);
        pairs.push_back(ins[ops[x.op].first + 1]);
        ops[x.op].kind = SimOp::kDead;
        continue;
      }
      // any other driver is always enabled
      if (const0 < 0) {
        const0 = d.num_nets++;
        add_op(SimOp::kConst0, const0, {});
      }
      int tmp = d.num_nets++;
      ops[x.op].out = tmp;
      pairs.push_back(tmp);
      pairs.push_back(const0);
    }
    add_op(SimOp::kBus, net, pairs);
    ops.back().count = static_cast<int>(pairs.size()) / 2;
  }

  // Levelise: each net has at most one live op writing it.
  std::vector<int> producer(d.num_nets, -1);
  for (size_t i = 0; i < ops.size(); ++i) {
    if (ops[i].kind == SimOp::kDead) continue;
    if (producer[ops[i].out] >= 0) fail("net written twice");
    producer[ops[i].out] = static_cast<int>(i);
  }
  auto inputs_of = [&](const SimOp& op) {
    int n = op.kind == SimOp::kBus ? 2 * op.count : op.count;
    return std::pair<int, int>(op.first, op.first + n);
  };
  std::vector<int> indeg(ops.size(), 0);
  std::vector<int> fan_start(d.num_nets + 1, 0);
  for (const SimOp& op : ops) {
    if (op.kind == SimOp::kDead) continue;
    auto [b, e] = inputs_of(op);
    for (int k = b; k < e; ++k) ++fan_start[ins[k] + 1];
  }
  for (int n = 0; n < d.num_nets; ++n) fan_start[n + 1] += fan_start[n];
  std::vector<int> fan(fan_start.back());
  {
    std::vector<int> fill(fan_start.begin(), fan_start.end() - 1);
    for (size_t i = 0; i < ops.size(); ++i) {
      if (ops[i].kind == SimOp::kDead) continue;
      auto [b, e] = inputs_of(ops[i]);
      for (int k = b; k < e; ++k) {
        fan[fill[ins[k]]++] = static_cast<int>(i);
        if (producer[ins[k]] >= 0) ++indeg[i];
      }
    }
  }
  std::vector<int> order;
  size_t live = 0;
  for (size_t i = 0; i < ops.size(); ++i) {
    if (ops[i].kind == SimOp::kDead) continue;
    ++live;
    if (indeg[i] == 0) order.push_back(static_cast<int>(i));
  }
  for (size_t h = 0; h < order.size(); ++h) {
    int net = ops[order[h]].out;
    for (int k = fan_start[net]; k < fan_start[net + 1]; ++k)
      if (--indeg[fan[k]] == 0) order.push_back(fan[k]);
  }
  if (order.size() != live) {
    for (size_t i = 0; i < ops.size(); ++i)
      if (ops[i].kind != SimOp::kDead && indeg[i] > 0)
        fail("combinational loop through " +
             (owners[i] >= 0 ? leaves_[owners[i]].path : std::string("a bus")));
  }
  d.ops.reserve(order.size());
  for (int i : order) {
    SimOp op = ops[i];
    auto [b, e] = inputs_of(op);
    op.first = static_cast<int>(d.op_inputs.size());
    d.op_inputs.insert(d.op_inputs.end(), ins.begin() + b, ins.begin() + e);
    d.ops.push_back(op);
  }
  return d;
}

}  // namespace

SimDesign load_sim(const std::string& top, const std::vector<std::string>& dirs) {
  Builder b(dirs);
  return b.build(top);
}

namespace {

uint64_t mix(uint64_t x) {
  x += 0x9e3779b97f4a7c15ULL;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
  return x ^ (x >> 31);
}

uint64_t name_hash(const std::string& s) {
  uint64_t h = 0xcbf29ce484222325ULL;
  for (unsigned char c : s) h = (h ^ c) * 0x100000001b3ULL;
  return h;
}

// The stimulus of one free input: plain random words, and in some rounds
// words biased towards 0 or 1 so that wide gates and bus enables see both
// values.
uint64_t stimulus(uint64_t seed, int round) {
  uint64_t a = mix(seed + 2 * static_cast<uint64_t>(round));
  uint64_t b = mix(seed + 2 * static_cast<uint64_t>(round) + 1);
  switch (round % 4) {
    case 1: return a & b;
    case 2: return a | b;
    case 3: return (round / 4) % 2 ? a & b & mix(b) : a | b | mix(b);
    default: return a;
  }
}

}  // namespace

std::vector<uint64_t> simulate(const SimDesign& d, int round) {
  std::vector<uint64_t> w(d.num_nets, 0);
  for (const auto& [name, net] : d.vars) w[net] = stimulus(name_hash(name), round);
  const int* in = d.op_inputs.data();
  for (const SimOp& op : d.ops) {
    const int* a = in + op.first;
    uint64_t v = 0;
    switch (op.kind) {
      case SimOp::kConst0: v = 0; break;
      case SimOp::kConst1: v = ~0ULL; break;
      case SimOp::kBuf: v = w[a[0]]; break;
      case SimOp::kNot: v = ~w[a[0]]; break;
      case SimOp::kAnd: case SimOp::kNand:
        v = ~0ULL;
        for (int k = 0; k < op.count; ++k) v &= w[a[k]];
        if (op.kind == SimOp::kNand) v = ~v;
        break;
      case SimOp::kOr: case SimOp::kNor:
        for (int k = 0; k < op.count; ++k) v |= w[a[k]];
        if (op.kind == SimOp::kNor) v = ~v;
        break;
      case SimOp::kXor: v = w[a[0]] ^ w[a[1]]; break;
      case SimOp::kXnor: v = ~(w[a[0]] ^ w[a[1]]); break;
      case SimOp::kBgate: v = ~(w[a[0]] & w[a[1]]); break;
      case SimOp::kAoi: case SimOp::kOai: {
        bool aoi = op.kind == SimOp::kAoi;
        v = aoi ? 0 : ~0ULL;
        int k = 0;
        for (int g = 0; g < op.ngroups; ++g) {
          uint64_t t = aoi ? ~0ULL : 0;
          for (int j = 0; j < op.groups[g]; ++j, ++k) t = aoi ? (t & w[a[k]]) : (t | w[a[k]]);
          v = aoi ? (v | t) : (v & t);
        }
        v = ~v;
        break;
      }
      case SimOp::kBus: {
        uint64_t decided = 0;
        for (int k = 0; k < op.count; ++k) {
          uint64_t en = ~w[a[2 * k + 1]] & ~decided;
          v |= en & w[a[2 * k]];
          decided |= en;
        }
        v |= ~decided & w[a[0]];
        break;
      }
      case SimOp::kDead: break;
    }
    w[op.out] = v;
  }
  return w;
}

std::string compare(const SimDesign& a, const SimDesign& b, int rounds) {
  auto names = [](const SimDesign& d) {
    std::map<std::string, int> m;
    for (const auto& [name, net] : d.vars) m.emplace(name, net);
    return m;
  };
  std::map<std::string, int> va = names(a), vb = names(b);
  for (const auto& [name, net] : va)
    if (!vb.count(name)) return "free input " + name + " only in the first design";
  for (const auto& [name, net] : vb)
    if (!va.count(name)) return "free input " + name + " only in the second design";
  for (const auto& [name, net] : a.observed)
    if (!b.observed.count(name)) return "observed point " + name + " only in the first design";
  for (const auto& [name, net] : b.observed)
    if (!a.observed.count(name)) return "observed point " + name + " only in the second design";
  for (int r = 0; r < rounds; ++r) {
    std::vector<uint64_t> wa = simulate(a, r), wb = simulate(b, r);
    for (const auto& [name, net] : a.observed) {
      uint64_t x = wa[net], y = wb[b.observed.at(name)];
      if (x == y) continue;
      int bit = __builtin_ctzll(x ^ y);
      std::string msg = "observed point " + name + " differs (round " + std::to_string(r) +
                        ", vector " + std::to_string(bit) + ": " +
                        std::to_string((x >> bit) & 1) + " vs " + std::to_string((y >> bit) & 1) +
                        ")";
      return msg;
    }
  }
  return "";
}

std::string check_equivalent(const std::string& top_a, const std::vector<std::string>& dirs_a,
                             const std::string& top_b, const std::vector<std::string>& dirs_b,
                             int rounds) {
  SimDesign a, b;
  try {
    a = load_sim(top_a, dirs_a);
  } catch (const SimError& e) {
    return std::string("error: first design: ") + e.what();
  }
  try {
    b = load_sim(top_b, dirs_b);
  } catch (const SimError& e) {
    return std::string("error: second design: ") + e.what();
  }
  return compare(a, b, rounds);
}

}  // namespace zelk::test
