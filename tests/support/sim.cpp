#include "support/sim.h"

#include <algorithm>
#include <cstdio>
#include <unordered_map>
#include <unordered_set>

#include "loader/loader.h"

namespace zelk::test {

namespace {

[[noreturn]] void fail(const std::string& msg) { throw SimError(msg); }

bool tristate_like(int type) {
  return type == kwTristate || type == kwTristateConnected || type == kwBidirect ||
         type == kwBidirectConnected;
}
bool output_like(int type) {
  return type == kwOutput || type == kwOutputConnected || type == kwScanOut ||
         tristate_like(type);
}
bool is_register(int cls) { return cls >= kReg1 && cls <= kSregSet; }
// The output pins of the built-in cells (the reader admits no pin a cell
// does not have; "nout" is an input of an and gate).
bool cell_output(int cls, const std::string& pin) {
  switch (cls) {
    case kAnd: case kOr: case kNinv: case kEor: case kHigh: case kTsBuf:
      return pin == "out";
    case kNand: case kNor: case kAoi: case kOai: case kInv: case kEnor: case kLow: case kBgate:
      return pin == "nout";
    default:  // registers
      return pin == "out" || pin == "nout" || pin == "scan_out";
  }
}

// Number at the end of a pin name ("in12" -> 12), -1 when there is none.
long trailing_number(const std::string& s) {
  size_t i = s.size();
  while (i > 0 && s[i - 1] >= '0' && s[i - 1] <= '9') --i;
  if (i == s.size() || s.size() - i > 9) return -1;
  return std::stol(s.substr(i));
}

using Terms = std::vector<std::pair<std::string, int>>;  // pin name, node

// A built-in cell or a PCD cell instance of the flattened tree.
struct Leaf {
  const Instance* inst;
  const Module* box;  // PCD cell, else null
  std::string path;
  Terms terms;
};

class Builder {
 public:
  SimDesign build(const Design& d);

 private:
  int new_node() {
    uf_.push_back(static_cast<int>(uf_.size()));
    return static_cast<int>(uf_.size()) - 1;
  }
  int find(int x) {
    while (uf_[x] != x) x = uf_[x] = uf_[uf_[x]];
    return x;
  }
  void unite(int a, int b) {
    a = find(a);
    b = find(b);
    if (a != b) uf_[std::max(a, b)] = std::min(a, b);
  }
  int pin_node(const Instance* pin) {
    auto [it, fresh] = pin_nodes_.try_emplace(pin, 0);
    if (fresh) it->second = new_node();
    return it->second;
  }
  void flatten(const Design& d);

  std::vector<int> uf_;
  std::unordered_map<const Instance*, int> pin_nodes_;  // module pins
  std::unordered_map<std::string, int> globals_;        // open global pins, by name
  std::vector<Leaf> leaves_;
};

// Every net of every module copy is a node; a terminal on a copy joins the
// parent's net to the copy's pin.  The module list holds parents before
// their copies.
void Builder::flatten(const Design& d) {
  const Module* top = d.top;
  std::unordered_map<const Module*, std::string> path{{top, ""}};
  std::unordered_set<const Instance*> joined;  // pins a parent connects
  std::unordered_map<const Instance*, size_t> leaf_of;
  for (const Module* m = top; m; m = m->next) {
    if (m->state == kStateCell) continue;
    const std::string& mp = path.at(m);
    std::unordered_map<std::string, int> by_name;  // a pin declared twice is one pin
    for (const Instance* p = m->pins; p; p = p->next)
      unite(pin_node(p), by_name.try_emplace(p->name, pin_node(p)).first->second);
    if (m != top)
      for (const Instance* p = m->pins; p; p = p->next) {
        if (p->type != kwGlobal || joined.count(p)) continue;
        const Instance* tp = pin_f(p->name, top);
        int g = tp ? pin_node(tp) : globals_.try_emplace(p->name, new_node()).first->second;
        unite(pin_node(p), g);
      }
    for (const Instance* c = m->comps; c; c = c->next) {
      std::string cp = mp.empty() ? c->name : mp + "/" + c->name;
      if (c->cls == kUser && !c->def) fail(cp + ": no module loaded");
      if (c->cls == kUser && c->def->state != kStateCell) {
        path[c->def] = cp;
        continue;
      }
      leaf_of[c] = leaves_.size();
      leaves_.push_back({c, c->cls == kUser ? c->def : nullptr, cp, {}});
    }
    for (const Net* n = m->nets; n; n = n->next) {
      int node = new_node();
      for (const Link* l = n->links; l; l = l->next) {
        const Instance* i = l->inst;
        if (i->cls == kPin) {
          unite(node, pin_node(i));
        } else if (auto lf = leaf_of.find(i); lf != leaf_of.end()) {
          leaves_[lf->second].terms.push_back({l->pin_name, node});
        } else {
          const Instance* p = pin_f(l->pin_name, i->def);
          if (!p) fail(path.at(i->def) + ": " + i->def->name + " has no pin " + l->pin_name);
          joined.insert(p);
          unite(node, pin_node(p));
        }
      }
    }
  }
}

SimDesign Builder::build(const Design& design) {
  flatten(design);
  const Module* top = design.top;
  // Dense net numbers.
  SimDesign d;
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
  auto add_var = [&](const std::string& name, int net) {
    int v = d.num_nets++;
    d.vars.push_back({name, v});
    if (net >= 0) add_op(SimOp::kBuf, net, {v});
    return v;
  };

  // Top pins and open global pins: constants or free inputs.
  auto source = [&](const std::string& name, int net) {
    if (name == "VDD" || name == "VSS")
      add_op(name == "VDD" ? SimOp::kConst1 : SimOp::kConst0, net, {});
    else
      add_var(name, net);
    add_driver(net, name, false);
  };
  std::unordered_set<const Instance*> top_connected;
  for (const Net* n = top->nets; n; n = n->next)
    for (const Link* l = n->links; l; l = l->next)
      if (l->inst->cls == kPin) top_connected.insert(l->inst);
  std::unordered_set<std::string> seen;
  for (const Instance* p = top->pins; p; p = p->next) {
    if (!seen.insert(p->name).second) continue;
    if (p->type == kwUnused || p->type == kwUnusedConnected) continue;  // neither drives nor reads
    int net = net_of(pin_node(p));
    if (!output_like(p->type)) {
      source(p->name, net);
    } else if (top_connected.count(p)) {
      d.observed[p->name] = net;
      readers.push_back({net, p->name});
    }
  }
  for (const auto& [name, node] : globals_) source(name, net_of(node));

  // Leaves.
  std::vector<int> in_nets;
  for (const Leaf& lf : leaves_) {
    owner = static_cast<int>(&lf - leaves_.data());
    // Terminals by pin name; a pin named twice joins its nets.
    Terms pins;
    for (const auto& term : lf.terms) {
      const std::string& pin = term.first;
      int net = net_of(term.second);
      auto it = std::find_if(pins.begin(), pins.end(), [&](auto& p) { return p.first == pin; });
      if (it == pins.end())
        pins.push_back({pin, net});
      else if (it->second != net)
        fail(lf.path + "." + pin + " is on two nets");
    }
    if (lf.box) {
      std::unordered_set<std::string> seen;
      for (const Instance* p = lf.box->pins; p; p = p->next) {
        if (!seen.insert(p->name).second) continue;
        std::string name = lf.path + "." + p->name;
        auto a = std::find_if(pins.begin(), pins.end(),
                              [&](auto& x) { return x.first == p->name; });
        int net = a == pins.end() ? -1 : a->second;
        if (output_like(p->type)) {
          add_var(name, net);
          if (net >= 0) add_driver(net, name, tristate_like(p->type));
        } else if (net >= 0) {
          d.observed[name] = net;
          readers.push_back({net, name});
        }
      }
      for (const auto& term : pins)
        if (!seen.count(term.first))
          fail(lf.path + ": " + lf.box->name + " has no pin " + term.first);
      continue;
    }
    int cls = lf.inst->cls;
    ++d.cells;
    if (cls == kInv) ++d.inverters;
    Terms inputs, outputs;
    for (auto& p : pins) (cell_output(cls, p.first) ? outputs : inputs).push_back(p);
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
    for (auto& p : inputs) readers.push_back({p.second, lf.path + "." + p.first});
    if (is_register(cls)) {
      for (auto& p : inputs) d.observed[lf.path + "." + p.first] = p.second;
      int q = add_var(lf.path, output("out"));
      if (output("out") >= 0) add_driver(output("out"), lf.path + ".out", false);
      for (const char* pin : {"nout", "scan_out"}) {
        if (output(pin) < 0) continue;
        add_op(pin[0] == 'n' ? SimOp::kNot : SimOp::kBuf, output(pin), {q});
        add_driver(output(pin), lf.path + "." + pin, false);
      }
      continue;
    }
    if (outputs.empty()) continue;  // drives nothing
    int out = outputs.front().second;
    in_nets.clear();
    for (auto& p : inputs) in_nets.push_back(p.second);
    switch (cls) {
      case kInv: add_op(SimOp::kNot, out, {input("in")}); break;
      case kNinv: add_op(SimOp::kBuf, out, {input("in")}); break;
      case kHigh: add_op(SimOp::kConst1, out, {}); break;
      case kLow: add_op(SimOp::kConst0, out, {}); break;
      case kEor: add_op(SimOp::kXor, out, {input("in1"), input("in2")}); break;
      case kEnor: add_op(SimOp::kXnor, out, {input("in1"), input("in2")}); break;
      case kBgate: add_op(SimOp::kNand, out, {input("enb"), input("clock")}); break;
      case kTsBuf:
        // Alone on its net the buffer passes its data; on a bus the bus op
        // takes over (see below).
        add_op(SimOp::kBuf, out, {input("in"), input("nenb")});
        ops.back().count = 1;
        ts_ops.insert(static_cast<int>(ops.size()) - 1);
        break;
      case kAnd: add_op(SimOp::kAnd, out, in_nets); break;
      case kNand: add_op(SimOp::kNand, out, in_nets); break;
      case kOr: add_op(SimOp::kOr, out, in_nets); break;
      case kNor: add_op(SimOp::kNor, out, in_nets); break;
      case kAoi: case kOai: {
        // Inputs grouped by the number in their names, whatever the order.
        Terms sorted = inputs;
        std::stable_sort(sorted.begin(), sorted.end(), [](auto& a, auto& b) {
          long na = trailing_number(a.first), nb = trailing_number(b.first);
          return na != nb ? na < nb : a.first < b.first;
        });
        std::string ds = std::to_string(lf.inst->fan_in);
        int total = 0;
        for (char c : ds) total += c - '0';
        if (static_cast<int>(sorted.size()) != total)
          fail(lf.path + ": and-or cell with " + std::to_string(sorted.size()) + " inputs");
        in_nets.clear();
        for (auto& p : sorted) in_nets.push_back(p.second);
        add_op(cls == kAoi ? SimOp::kAoi : SimOp::kOai, out, in_nets);
        ops.back().ngroups = static_cast<uint8_t>(ds.size());
        for (size_t g = 0; g < ds.size(); ++g)
          ops.back().groups[g] = static_cast<uint8_t>(ds[g] - '0');
        break;
      }
      default:
        fail(lf.path + ": unexpected cell");
    }
    add_driver(out, lf.path + "." + outputs.front().first, cls == kTsBuf);
  }

  // Nets read but driven by nothing are free inputs, named by their
  // smallest reader; what they reach is compared, but not the nets
  // themselves (an undriven net and an open pin are alike).
  owner = -1;
  {
    std::map<int, std::string> undriven;
    for (auto& [net, name] : readers) {
      if (drivers.count(net)) continue;
      auto [it, fresh] = undriven.emplace(net, name);
      if (!fresh && name < it->second) it->second = name;
    }
    for (auto& [net, name] : undriven) add_var("?undriven:" + name, net);
    std::erase_if(d.observed, [&](const auto& o) { return undriven.count(o.second) > 0; });
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

  // Evaluation order: each op after the ops writing its inputs, by an
  // explicit depth-first walk (an op met again while open closes a loop).
  std::vector<int> producer(d.num_nets, -1);
  for (size_t i = 0; i < ops.size(); ++i) {
    if (ops[i].kind == SimOp::kDead) continue;
    if (producer[ops[i].out] >= 0) fail("net written twice");
    producer[ops[i].out] = static_cast<int>(i);
  }
  auto span = [](const SimOp& op) { return op.kind == SimOp::kBus ? 2 * op.count : op.count; };
  std::vector<char> state(ops.size(), 0);  // 0 new, 1 open, 2 placed
  std::vector<std::pair<int, int>> stack;   // op, its next input
  for (size_t root = 0; root < ops.size(); ++root) {
    if (ops[root].kind == SimOp::kDead || state[root]) continue;
    state[root] = 1;
    stack.push_back({static_cast<int>(root), 0});
    while (!stack.empty()) {
      const SimOp& op = ops[stack.back().first];
      if (stack.back().second < span(op)) {
        int p = producer[ins[op.first + stack.back().second++]];
        if (p < 0 || state[p] == 2) continue;
        if (state[p] == 1)
          fail("combinational loop through " +
               (owners[p] >= 0 ? leaves_[owners[p]].path : "a bus"));
        state[p] = 1;
        stack.push_back({p, 0});
        continue;
      }
      state[stack.back().first] = 2;
      SimOp placed = op;
      placed.first = static_cast<int>(d.op_inputs.size());
      auto from = ins.begin() + op.first;
      d.op_inputs.insert(d.op_inputs.end(), from, from + span(op));
      d.ops.push_back(placed);
      stack.pop_back();
    }
  }
  return d;
}


}  // namespace

SimDesign load_sim(const std::string& top, const std::vector<std::string>& dirs) {
  Design d;
  d.options.top_name = top;
  d.options.opt_dir = dirs;
  d.log = std::tmpfile();
  try {
    read_module(d, top);
  } catch (const Fault& f) {
    std::fclose(d.log);
    fail("zelk cannot read " + top + ": " + (f.message.empty() ? "(no message)" : f.message));
  }
  std::fclose(d.log);
  return Builder().build(d);
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

namespace {

// Flat output writes a path name too long to read back as "~k/" and its
// last bytes: such a name stands for the name of `a` that ends that way.
std::map<std::string, int> restore_long(const std::map<std::string, int>& b,
                                        const std::map<std::string, int>& a) {
  std::map<std::string, int> out;
  for (const auto& [name, net] : b) {
    std::string full = name;
    std::size_t slash = name.find('/');
    if (name[0] == '~' && slash != std::string::npos) {
      std::string tail = name.substr(slash + 1);
      for (const auto& [n, _] : a)
        if (n.size() > tail.size() && n.compare(n.size() - tail.size(), tail.size(), tail) == 0)
          full = n;
    }
    out.emplace(full, net);
  }
  return out;
}

}  // namespace

std::string compare(const SimDesign& a, const SimDesign& b_in, int rounds) {
  SimDesign b = b_in;
  std::map<std::string, int> va(a.vars.begin(), a.vars.end());
  std::map<std::string, int> vb = restore_long({b.vars.begin(), b.vars.end()}, va);
  b.vars.assign(vb.begin(), vb.end());
  b.observed = restore_long(b.observed, a.observed);
  // Free inputs of undriven nets are named by a reader that may be renamed.
  auto only = [](const auto& x, const auto& y, const char* what, const char* which) {
    for (const auto& [name, net] : x)
      if (!y.count(name) && name.rfind("?undriven:", 0) != 0)
        return std::string(what) + " " + name + " only in the " + which + " design";
    return std::string();
  };
  for (std::string m : {only(va, vb, "free input", "first"), only(vb, va, "free input", "second"),
                        only(a.observed, b.observed, "observed point", "first"),
                        only(b.observed, a.observed, "observed point", "second")})
    if (!m.empty()) return m;
  for (int r = 0; r < rounds; ++r) {
    std::vector<uint64_t> wa = simulate(a, r), wb = simulate(b, r);
    for (const auto& [name, net] : a.observed) {
      uint64_t x = wa[net], y = wb[b.observed.at(name)];
      if (x == y) continue;
      int bit = __builtin_ctzll(x ^ y);
      return "observed point " + name + " differs (round " + std::to_string(r) + ", vector " +
             std::to_string(bit) + ": " + std::to_string((x >> bit) & 1) + " vs " +
             std::to_string((y >> bit) & 1) + ")";
    }
  }
  return "";
}

std::string check_equivalent(const std::string& top_a, const std::vector<std::string>& dirs_a,
                             const std::string& top_b, const std::vector<std::string>& dirs_b,
                             int rounds) {
  SimDesign a, b;
  const char* which = "first";
  try {
    a = load_sim(top_a, dirs_a);
    which = "second";
    b = load_sim(top_b, dirs_b);
  } catch (const SimError& e) {
    return std::string("error: ") + which + " design: " + e.what();
  }
  return compare(a, b, rounds);
}

}  // namespace zelk::test
