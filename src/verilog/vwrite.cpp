// An NLD design as structural Verilog: one module per distinct module name,
// built-in cells as instances of the cell library's modules, library cells
// as black boxes.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "netlist/beside.h"
#include "reader/reader.h"
#include "verilog/pin_ways.h"
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

// The pin type the reading direction gives a port of that direction when no
// attribute says otherwise; other types are written as an attribute.
int default_type(Way w) { return w == Way::kOut ? kwOutput : w == Way::kInout ? kwTristate : kwInput; }

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

void prefetch(const void* p) { __builtin_prefetch(p); }

// Net names as written, made once per net: a net is met again at each of
// its terminals, and its name lies behind its first terminal's instance.
// An open table of pointers; its slots can be asked for ahead of use.  One
// table serves every module a writer writes: its slots and the blocks its
// names lie in are used again, where memory of its own for each of a
// hundred thousand small modules would cost a mapping, its first touches
// and its release each time.
class NetNames {
 public:
  // Empty, for a module of at most half `nets` nets.
  void reset(std::size_t nets) {
    std::size_t size = 64;
    while (size < nets * 2) size *= 2;
    if (size > slots_.capacity()) fresh_table(slots_, size);
    else slots_.assign(size, Slot{});
    count_ = 0;
    block_ = 0;
    used_ = 0;
  }
  // The name of net n, empty when n has none here.
  std::string_view find(const Net* n) const {
    for (std::size_t i = slot(n);; i = (i + 1) & (slots_.size() - 1)) {
      const Slot& s = slots_[i];
      if (s.net == n) return text(s);
      if (s.net == nullptr) return {};
    }
  }
  // Adds n named text unless n is there; returns the name n has and
  // whether it is new.  At most half the size given are added.
  std::pair<std::string_view, bool> add(const Net* n, std::string_view name) {
    std::size_t i = slot(n);
    for (; slots_[i].net != nullptr; i = (i + 1) & (slots_.size() - 1))
      if (slots_[i].net == n) return {text(slots_[i]), false};
    if ((count_ + 1) * 2 > slots_.size()) fail();  // sized by the caller
    ++count_;
    char* t = take(sizeof(std::uint32_t) + name.size());
    auto size = static_cast<std::uint32_t>(name.size());
    std::memcpy(t, &size, sizeof size);
    std::memcpy(t + sizeof size, name.data(), name.size());
    slots_[i] = {n, t};
    return {text(slots_[i]), true};
  }
  void prefetch_slot(const Net* n) const { prefetch(&slots_[slot(n)]); }
  void prefetch_name(const Net* n) const {
    const Slot& s = slots_[slot(n)];
    if (s.net == n) prefetch(s.text);
  }

 private:
  struct Slot {
    const Net* net = nullptr;
    const char* text = nullptr;  // the length (4 bytes), then the name
  };
  static std::string_view text(const Slot& s) {
    std::uint32_t size = 0;
    std::memcpy(&size, s.text, sizeof size);
    return {s.text + sizeof size, size};
  }
  std::size_t slot(const Net* n) const {
    auto v = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(n));
    return static_cast<std::size_t>((v * 0x9E3779B97F4A7C15ull) >> 24) & (slots_.size() - 1);
  }
  // Room for n bytes of names, in the blocks of the modules before where
  // they have it: a block never moves while its module is written.
  char* take(std::size_t n) {
    for (; block_ < blocks_.size(); ++block_, used_ = 0)
      if (used_ + n <= blocks_[block_].second) break;
    if (block_ == blocks_.size())
      blocks_.emplace_back(new char[std::max(kBlock, n)], std::max(kBlock, n));
    char* t = blocks_[block_].first.get() + used_;
    used_ += n;
    return t;
  }
  static constexpr std::size_t kBlock = std::size_t{1} << 20;
  std::vector<Slot> slots_;
  std::size_t count_ = 0;
  std::vector<std::pair<std::unique_ptr<char[]>, std::size_t>> blocks_;
  std::size_t block_ = 0, used_ = 0;  // the block names go into, and its bytes used
};

// One terminal of an instance: its net and its pin's name.
struct Term {
  const Net* net;
  const char* pin_name;
};
using Terms = std::vector<Term>;

// The memory of a million cells is in the order the design was read, not in
// the order of the writing: the terminals of one instance lie wherever their
// nets were read.  So the terminals of many instances are gathered at a
// time, the rings of kRound instances walked side by side, and what naming
// a net reads is asked for kAhead terminals or nets before it is read.
constexpr std::size_t kChunk = 4096;
constexpr std::size_t kRound = 32;
constexpr std::size_t kAhead = 8;
constexpr std::uintptr_t kListAhead = 8192;  // bytes

struct ModuleWriter {
  std::string& out;
  std::unordered_set<long long>* extra_gates;
  bool gates_as_assigns;
  OutputSet* sink;  // when set, the text goes there as it grows
  std::size_t beside_from;  // components from which a module is made on two threads

  const PinWays* ways = nullptr;  // the ways of the design's pins
  std::string_view module_name;  // of the module being written
  // Per net of the module being written that an output pin lies on: whether
  // tristate drivers drive it (many pins may share a net).
  std::unordered_map<const Net*, bool> tristate_nets;
  bool on_tristate_net(const Instance* p) {
    if (!ways || !p->link || !p->link->net) return false;
    auto [at, fresh] = tristate_nets.try_emplace(p->link->net, false);
    for (const Link* t = fresh ? p->link->net->links : nullptr; t && !at->second; t = t->next)
      at->second = t->inst->cls != kPin && ways->drives_as_tristate(t);
    return at->second;
  }
  Way way(const Instance* p) const { return ways ? ways->of(module_name, p) : type_way(p->type); }

  // The helper that makes the other half of a large module's instances
  // starts none of its own: it is made with no beside_from.
  ModuleWriter(std::string& o, std::unordered_set<long long>* extra, bool assigns, OutputSet* f,
               std::size_t beside = SIZE_MAX)
      : out(o), extra_gates(extra), gates_as_assigns(assigns), sink(f), beside_from(beside) {}

  void drain() {
    if (!sink || out.size() < (std::size_t{1} << 20)) return;
    sink->write(out.data(), out.size());
    out.clear();
  }

  // A gate as one assign of its output net: the same function as the cell
  // library's module, without one module instance per gate.  An unconnected
  // input is written undefined, as an unconnected port of the cell's module
  // reads: the prover decides what it stands for.
  bool gate_assign(const Instance* c, const Term* terms, std::size_t count,
                   const std::vector<std::string_view>& pin_names, const NetNames& names) {
    int cls = c->cls;
    if (cls != kInv && cls != kNinv && (cls < kAnd || cls > kOai) && cls != kHigh &&
        cls != kLow && cls != kBgate)
      return false;
    const char* out_pin =
        (cls == kNinv || cls == kAnd || cls == kOr || cls == kEor || cls == kHigh) ? "out" : "nout";
    std::unordered_map<std::string_view, std::string> at;
    for (std::size_t i = 0; i < count; ++i)
      if (terms[i].net) at.emplace(pin_names[i], net_name(terms[i].net, names));
    auto in = [&](std::string_view p) {
      auto it = at.find(p);
      return it == at.end() ? std::string("1'bx") : it->second;
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

  // A net's name is in `names` once the wires are declared; a net outside
  // the module's list is named after its first terminal as they are.
  static std::string net_name(const Net* n, const NetNames& names) {
    std::string s;
    append_net(s, n, names);
    return s;
  }
  static void append_net(std::string& out, const Net* n, const NetNames& names) {
    std::string_view known = names.find(n);
    if (!known.empty()) out += known;
    else append_terminal_name(out, n);
  }
  // The name of a net without a module pin: "instance.pin" after its first
  // terminal, which no pin or instance name can be since NLD names hold no ".".
  static void append_terminal_name(std::string& out, const Net* n) {
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
    if (!gates_as_assigns || type_way(p->type) != Way::kIn) return nullptr;
    return same(p->name, "VDD") ? "1'b1" : same(p->name, "VSS") ? "1'b0" : nullptr;
  }
  std::string port_name(const Instance* p) const {
    return verilog_name(supply(p) ? std::string(p->name) + ".supply" : std::string(p->name));
  }

  void ports(const Module* m, const char* name, std::vector<const Instance*>& pins, bool top) {
    tristate_nets.clear();
    for (const Instance* p = m->pins; p; p = p->next) pins.push_back(p);
    // The pin list holds the file order reversed.
    std::vector<const Instance*> ordered(pins.rbegin(), pins.rend());
    pins.swap(ordered);
    // A Verilog module has one port of a name.  A run gives a top module
    // that has a "VDD" or "VSS" input a global pin of that name beside it
    // when a copy uses the supply: the two are one supply, and one port.
    // So are two global pins of one name (NLD delivers them by name), which
    // a run gives a module when the supply reaches it on two nets.  A net
    // names its pins by name, so at most one of them lies on a net (maybe
    // several), which is the one kept.
    std::unordered_map<std::string_view, std::size_t> named;
    std::size_t kept = 0;
    for (const Instance* p : pins) {
      auto [it, fresh] = named.try_emplace(p->name, kept);
      if (fresh) {
        pins[kept++] = p;
        continue;
      }
      const Instance*& q = pins[it->second];
      const Net* pn = p->link ? p->link->net : nullptr;
      const Net* qn = q->link ? q->link->net : nullptr;
      const bool one_signal =
          !(pn && qn && pn != qn) &&
          ((p->type == kwGlobal && q->type == kwGlobal) ||
           (top && (same(p->name, "VDD") || same(p->name, "VSS")) && type_way(p->type) == Way::kIn &&
            type_way(q->type) == Way::kIn));
      if (!one_signal)
        fail("cannot write module " + std::string(name) + ": two pins named " + p->name + "\n");
      if (!qn) q = p;
    }
    pins.resize(kept);
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
      const Way dir = way(p);
      // An output on a net that tristate drivers drive would read back as
      // tristate: its type is written.
      if (p->type != default_type(dir) || (p->type == kwOutput && on_tristate_net(p))) {
        const char* word = inv_screen(p->type, kKeywordTable);
        if (word) out += std::string("  (* zelk_type = \"") + word + "\" *)\n";
      }
      out += std::string("  ") + way_word(dir) + " " + port_name(p) + ";\n";
    }
  }

  void black_box(const Module* m, const char* name) {
    module_name = {};  // a cell's pins go the way their types say
    std::vector<const Instance*> pins;
    out += "(* blackbox *)\n";
    bool proof = gates_as_assigns;
    gates_as_assigns = false;  // a cell's pins are its own, supplies too
    ports(m, name, pins, false);
    gates_as_assigns = proof;
    out += "endmodule\n\n";
  }

  // The cell of c as a key, class * 100000 + the number its name ends in
  // (0 for none), after the checks on its fan-in; gates the library lacks
  // are noted for their models.
  long long cell_key(const Instance* c, int inputs) {
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
        break;
      case kEor:
      case kEnor:
        n = 2;
        break;
      case kAoi:
      case kOai:
        if (n == 0)
          fail("cannot write " + std::string(c->name) + ": " + inv_screen(c->cls, kCellTable) +
               " without fan-in\n");
        break;
      case kInv: case kNinv: case kReg1: case kRegr1: case kRegs1: case kRegSR: case kRegSet:
      case kSreg1: case kSrgr1: case kSrgs1: case kSregSR: case kSregSet: case kHigh: case kLow:
      case kTsBuf: case kBgate:
        n = 0;  // no number in the name
        break;
      default:
        fail();  // no such class
    }
    return static_cast<long long>(c->cls) * 100000 + n;
  }

  // The Verilog name of a built-in cell's module, made once per key.
  const std::string& cell_text(long long key) {
    auto [it, fresh] = cell_texts.try_emplace(key);
    if (fresh) {
      int cls = static_cast<int>(key / 100000), n = static_cast<int>(key % 100000);
      std::string base = inv_screen(cls, kCellTable);
      append_name(it->second, n == 0 ? base : base + "-" + std::to_string(n));
    }
    return it->second;
  }
  std::unordered_map<long long, std::string> cell_texts;

  // Pin names come from the reader's table, one string per name: their
  // Verilog form is kept per string in a small direct-mapped cache.
  void append_pin(std::string_view p, bool interned) {
    if (!interned) {
      append_name(out, p);
      return;
    }
    auto& e = pin_texts[(reinterpret_cast<std::uintptr_t>(p.data()) >> 3) % kPinCache];
    if (e.first != p.data()) {
      e.first = nullptr;
      e.second.clear();
      append_name(e.second, p);
      e.first = p.data();
    }
    out += e.second;
  }
  // What a copy's global "VDD" and "VSS" pins are connected to in the
  // plain form (NLD delivers a global pin of a supply by its name, Verilog
  // through a port): the module's own port of that name, or the constant.
  std::string supplies[2] = {"1'b1", "1'b0"};
  void find_supplies(const std::vector<const Instance*>& pins) {
    supplies[0] = "1'b1";
    supplies[1] = "1'b0";
    for (const Instance* p : pins)
      if (type_way(p->type) == Way::kIn) {
        if (same(p->name, "VDD")) supplies[0] = port_name(p);
        if (same(p->name, "VSS")) supplies[1] = port_name(p);
      }
  }
  // In the prover's form, the pin `name` of copy c's module when it is a
  // supply, whose port has another name there.
  const Instance* supply_pin_of(const Instance* c, std::string_view name) const {
    if (!gates_as_assigns || c->cls != kUser || !c->def || (name != "VDD" && name != "VSS")) return nullptr;
    for (const Instance* p = c->def->pins; p; p = p->next)
      if (name == p->name && supply(p)) return p;
    return nullptr;
  }
  // The global supply pins of copy c's module that c's terminals leave
  // open, connected (one port of each name: see ports()).
  void append_supplies(const Instance* c, const Term* terms, std::size_t count, bool& first) {
    if (gates_as_assigns || c->cls != kUser || !c->def) return;
    std::vector<const Instance*> globals;  // in file order (the list holds it reversed)
    for (const Instance* p = c->def->pins; p; p = p->next)
      if (p->type == kwGlobal) globals.push_back(p);
    bool done[2] = {false, false};
    for (auto it = globals.rbegin(); it != globals.rend(); ++it) {
      const Instance* p = *it;
      const int which = same(p->name, "VDD") ? 0 : same(p->name, "VSS") ? 1 : -1;
      if (which < 0 || std::exchange(done[which], true)) continue;
      bool connected = false;
      for (std::size_t i = 0; i < count && !connected; ++i) connected = same(terms[i].pin_name, p->name);
      if (connected) continue;
      if (!first) out += ", ";
      out += '.';
      out += verilog_name(p->name);
      out += '(' + supplies[which] + ')';
      first = false;
    }
  }

  static constexpr std::size_t kPinCache = 64;
  std::pair<const char*, std::string> pin_texts[kPinCache] = {};

  void body(const Module* m, const char* name, bool top) {
    module_name = name;
    std::vector<const Instance*> pins;
    ports(m, name, pins, top);
    find_supplies(pins);
    // Net names: a net with module pins takes a pin's name (below); any
    // other net is named after its first terminal (see append_terminal_name).
    std::vector<const Net*> nets;
    // The nets lie in memory in the order they were read, the list reversed:
    // the memory below a net holds the next ones, and is asked for ahead.
    std::uintptr_t asked = ~std::uintptr_t{0};
    for (const Net* n = m->nets; n; n = n->next) {
      nets.push_back(n);
      auto at = reinterpret_cast<std::uintptr_t>(n);
      if (asked > at || at - asked > kListAhead) asked = at;
      for (; at - asked < kListAhead && asked >= 64; asked -= 64)
        __builtin_prefetch(reinterpret_cast<const void*>(asked));
    }
    NetNames& names = names_;
    names.reset(nets.size() + pins.size());
    std::string assigns;
    // A net with pins is named after one of them, an input first (it drives
    // the net from outside); the others are joined to it by assigns that
    // drive the way the signal goes.  A pin named in several nets joins
    // them all.
    std::vector<const Instance*> naming;
    for (int inputs = 1; inputs >= 0; --inputs)
      for (const Instance* p : pins)
        if ((way(p) == Way::kIn) == (inputs == 1)) naming.push_back(p);
    // A pin that several nets name lies on each of them (its link is the
    // last of its terminals): those nets are found by a walk of the module's
    // terminals, in a module where the reader met that.
    std::unordered_map<const Instance*, std::vector<const Net*>> also;
    if (m->pin_named_again)
      for (const Net* n : nets)
        for (const Link* t = n->links; t; t = t->next)
          if (t->inst && t->inst->cls == kPin && t->inst->link && t->inst->link->net != n)
            also[t->inst].push_back(n);
    for (const Instance* p : naming) {
      const std::string pin = verilog_name(p->name);
      const bool drives = way(p) == Way::kIn;
      bool supplied = false;
      auto join = [&](const Net* n) {
        auto [text, fresh] = names.add(n, pin);
        if (supply(p)) {
          if (fresh && !supplied) out += "  wire " + std::string(text) + ";\n";
          if (!fresh || !supplied) assigns += "  assign " + std::string(text) + " = " + supply(p) + ";\n";
          supplied = true;
        } else if (!fresh && text != pin) {
          assigns += drives ? "  assign " + std::string(text) + " = " + pin + ";\n"
                            : "  assign " + pin + " = " + std::string(text) + ";\n";
        }
      };
      if (p->link && p->link->net) join(p->link->net);
      if (auto it = also.find(p); it != also.end())
        for (const Net* n : it->second) join(n);
    }
    auto at = [&](std::size_t i, std::size_t ahead) {
      return i + ahead < nets.size() ? nets[i + ahead] : nullptr;
    };
    std::string scratch;
    bool any_wire = false;
    for (std::size_t i = 0; i < nets.size(); ++i) {
      if (const Net* n = at(i, 3 * kAhead)) prefetch(n);
      if (const Net* n = at(i, 2 * kAhead); n && n->links) prefetch(n->links);
      if (const Net* n = at(i, kAhead); n && n->links) {
        prefetch(n->links->inst);
        names.prefetch_slot(n);
      }
      const Net* n = nets[i];
      if (!n->links || !names.find(n).empty()) continue;
      scratch.clear();
      append_terminal_name(scratch, n);
      names.add(n, scratch);
      any_wire = true;
      out += "  wire ";
      out += scratch;
      out += ";\n";
      if ((i & 1023) == 0) drain();
    }
    out += assigns;
    std::vector<const Instance*> comps;
    for (const Instance* c = m->comps; c; c = c->next) comps.push_back(c);
    std::reverse(comps.begin(), comps.end());
    // A large module's instances are made two chunks at a time, the second
    // by a writer of its own on a thread beside: both only read the design
    // and the net names.
    std::unique_ptr<ModuleWriter> helper;
    std::string helper_text;
    std::unordered_set<long long> helper_gates;  // the gates it met beyond the library
    if (comps.size() >= beside_from && comps.size() > kChunk)
      helper = std::make_unique<ModuleWriter>(helper_text, &helper_gates, gates_as_assigns, nullptr);
    if (helper) std::copy(std::begin(supplies), std::end(supplies), std::begin(helper->supplies));
    for (std::size_t first = 0; first < comps.size();) {
      std::size_t count = std::min(kChunk, comps.size() - first);
      if (helper && first + count < comps.size()) {
        std::size_t next = first + count, count2 = std::min(kChunk, comps.size() - next);
        helper_text.clear();
        run_beside([&] { helper->chunk(&comps[next], count2, names); },
                   [&] { chunk(&comps[first], count, names); });
        out += helper_text;
        count += count2;
      } else {
        chunk(&comps[first], count, names);
      }
      first += count;
      drain();
    }
    extra_gates->insert(helper_gates.begin(), helper_gates.end());
    // A module of ports alone (a copy left with a control pin) would be
    // taken by Yosys for a black box: a port's net, declared, says it is
    // not one.
    if (!any_wire && assigns.empty() && comps.empty() && !pins.empty())
      out += "  wire " + port_name(pins.front()) + ";\n";
    out += "endmodule\n\n";
  }

  // The instances cs[0 .. count) in turn.
  void chunk(const Instance* const* cs, std::size_t count, const NetNames& names) {
    gather(cs, count, terms_, ends_);
    std::size_t t = 0;
    for (std::size_t j = 0; j < count; ++j) {
      std::size_t begin = t;
      for (; t < ends_[j]; ++t) {
        if (t + 2 * kAhead < terms_.size() && terms_[t + 2 * kAhead].net)
          names.prefetch_slot(terms_[t + 2 * kAhead].net);
        if (t + kAhead < terms_.size() && terms_[t + kAhead].net)
          names.prefetch_name(terms_[t + kAhead].net);
      }
      instance(cs[j], terms_.data() + begin, t - begin, names);
    }
  }
  Terms terms_;
  NetNames names_;  // of the module being written
  std::vector<std::size_t> ends_;

  // The terminals of each instance, in the order of its ring, one after
  // the other in terms; ends[j] is where those of instance j end.
  void gather(const Instance* const* cs, std::size_t count, Terms& terms,
              std::vector<std::size_t>& ends) {
    terms.clear();
    ends.clear();
    for (std::size_t r0 = 0; r0 < count; r0 += kRound) {
      std::size_t n = std::min(kRound, count - r0);
      const Link* at[kRound];
      std::size_t active[kRound], live = 0;
      for (std::size_t j = 0; j < n; ++j) {
        rings_[j].clear();
        at[j] = cs[r0 + j]->link;
        if (at[j]) {
          prefetch(at[j]);
          active[live++] = j;
        }
      }
      // One step along every ring in turn, so that the walks wait together.
      while (live) {
        std::size_t k = 0;
        for (std::size_t i = 0; i < live; ++i) {
          std::size_t j = active[i];
          const Link* l = at[j];
          rings_[j].push_back({l->net, l->pin_name});
          const Link* next = l->inst_next;
          if (next && next != cs[r0 + j]->link) {
            prefetch(next);
            at[j] = next;
            active[k++] = j;
          }
        }
        live = k;
      }
      for (std::size_t j = 0; j < n; ++j) {
        terms.insert(terms.end(), rings_[j].begin(), rings_[j].end());
        ends.push_back(terms.size());
      }
    }
  }
  Terms rings_[kRound];

  void instance(const Instance* c, const Term* terms, std::size_t count, const NetNames& names) {
    // Gates whose inputs may carry any names get in1..inN.
    bool any_names = c->cls == kAnd || c->cls == kNand || c->cls == kOr || c->cls == kNor ||
                     c->cls == kAoi || c->cls == kOai;
    const char* out_pin = (c->cls == kAnd || c->cls == kOr) ? "out" : "nout";
    int inputs = 0;
    for (std::size_t i = 0; i < count; ++i)
      if (!same(terms[i].pin_name, out_pin)) ++inputs;
    long long key = c->cls == kUser ? 0 : cell_key(c, inputs);
    pin_names.resize(count);
    bool standard = true;
    for (std::size_t i = 0; i < count; ++i) {
      std::string_view p = terms[i].pin_name ? terms[i].pin_name : "";
      pin_names[i] = p;
      if (any_names && p != out_pin) {
        // inN with N from 1 up; anything shorter than "in1" is some other name.
        bool ok = p.size() > 2 && p.substr(0, 2) == "in" && p[2] != '0';
        for (std::size_t k = 2; ok && k < p.size(); ++k) ok = p[k] >= '0' && p[k] <= '9';
        for (std::size_t k = 0; ok && k < i; ++k) ok = pin_names[k] != p;
        if (!ok) standard = false;
      }
    }
    bool renamed = any_names && !standard;
    if (renamed) {
      renames.clear();
      renames.reserve(count);
      int k = 0;
      for (std::size_t i = 0; i < count; ++i)
        if (pin_names[i] != out_pin) {
          renames.push_back("in" + std::to_string(++k));
          pin_names[i] = renames.back();
        }
    }
    if (gates_as_assigns && gate_assign(c, terms, count, pin_names, names)) return;
    out += "  ";
    if (c->cls == kUser) append_name(out, c->class_name);
    else out += cell_text(key);
    out += ' ';
    if (gates_as_assigns) {
      // The prover's form: a flat output's path "u1/u2/R1" is written as the
      // name a flattened hierarchy gives the same register, "u1.u2.R1".
      std::string iname = c->name;
      std::replace(iname.begin(), iname.end(), '/', '.');
      append_name(out, iname);
    } else {
      append_name(out, c->name);
    }
    out += '(';
    bool first = true;
    // A pin met twice must be on one net; cells have few pins, so the
    // earlier ones are searched directly (a map for large instances).
    std::unordered_map<std::string_view, const Net*> seen;
    for (std::size_t i = 0; i < count; ++i) {
      const Net* n = terms[i].net;
      bool again = false;
      if (count <= 16) {
        for (std::size_t k = 0; k < i && !again; ++k)
          if (pin_names[k] == pin_names[i]) {
            again = true;
            if (terms[k].net != n)
              fail("cannot write " + std::string(c->name) + ": pin " + std::string(pin_names[i]) +
                   " is on two nets\n");
          }
      } else {
        auto [it2, fresh] = seen.try_emplace(pin_names[i], n);
        again = !fresh;
        if (again && it2->second != n)
          fail("cannot write " + std::string(c->name) + ": pin " + std::string(pin_names[i]) +
               " is on two nets\n");
      }
      if (again) continue;
      if (!first) out += ", ";
      out += '.';
      if (const Instance* sp = supply_pin_of(c, pin_names[i])) out += port_name(sp);
      else append_pin(pin_names[i], !renamed);
      out += '(';
      if (n) append_net(out, n, names);
      out += ')';
      first = false;
    }
    append_supplies(c, terms, count, first);
    out += ");\n";
  }
  std::vector<std::string_view> pin_names;
  std::vector<std::string> renames;
};

// The whole text into out; with f set, out is written to f whenever it
// grows large and holds only the rest at the end.
void write_text(const Design& d, bool gates_as_assigns, OutputSet* f, std::string& out,
                std::size_t beside_from) {
  std::unordered_set<long long> extra;
  ModuleWriter w(out, &extra, gates_as_assigns, f, beside_from);
  const PinWays ways(d);
  w.ways = &ways;
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
}

}  // namespace

std::string verilog_name(const std::string& name) {
  std::string out;
  append_name(out, name);
  return out;
}

std::string write_verilog(const Design& d, bool gates_as_assigns, std::size_t beside_from) {
  std::string out;
  write_text(d, gates_as_assigns, nullptr, out, beside_from);
  return out;
}

void write_verilog(const Design& d, bool gates_as_assigns, OutputSet& f, std::size_t beside_from) {
  std::string out;
  out.reserve(std::size_t{2} << 20);
  write_text(d, gates_as_assigns, &f, out, beside_from);
  f.write(out.data(), out.size());
}


}  // namespace zelk
