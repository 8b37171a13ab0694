// Structural Verilog into NLD and PCD files: the modules the parser read
// become one NLD file each (built-in cells where a cell has one, Yosys gate
// cells translated), black boxes PCD files, all written or none.

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "netlist/classes.h"
#include "reader/reader.h"
#include "verilog/verilog.h"
#include "verilog/vread_internal.h"
#include "writer/output_set.h"

namespace zelk {

using namespace vread_detail;

namespace {

// NLD names hold no blank, parenthesis, dot or semicolon, and a module name
// is a file name; such bytes are written as %XX.
void append_nld_name(std::string& r, std::string_view s, bool file_name) {
  auto plain = [file_name](unsigned char c) {
    return !(c == '.' || c == '(' || c == ')' || c == ';' || c <= ' ' || c == 127 ||
             (file_name && c == '/'));
  };
  // Most names need no encoding: they are copied whole.
  if (std::all_of(s.begin(), s.end(), plain)) {
    r += s;
    return;
  }
  for (unsigned char c : s) {
    if (!plain(c)) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      r += buf;
    } else {
      r += static_cast<char>(c);
    }
  }
}
std::string nld_name(std::string_view s, bool file_name) {
  std::string r;
  append_nld_name(r, s, file_name);
  return r;
}

struct Unions {
  std::vector<int> parent;
  int find(int x) {
    while (parent[static_cast<std::size_t>(x)] != x) {
      int& p = parent[static_cast<std::size_t>(x)];
      p = parent[static_cast<std::size_t>(p)];
      x = p;
    }
    return x;
  }
  void join(int a, int b) { parent[static_cast<std::size_t>(find(a))] = find(b); }
};

// One terminal: pin `pin` of component `comp` (an index into the module's
// component names), or the module pin `pin` (comp < 0).  The pin text is
// stable storage (the cell tables, the parsed connections, or the
// converter's pin names).
struct Term {
  Term(int comp_, std::string_view pin_, int bit_, Dir dir_, int line_)
      : pin(pin_), comp(comp_), bit(bit_), line(line_), dir(dir_) {}
  std::string_view pin;
  int comp;
  int bit;
  int line;
  Dir dir;             // dOut drives, dInout drives as tristate
};

// What drives an inout port inside its module.  kBus: a tristate driver
// (or the port is a black box's, which may drive as one); kPlain:
// ordinary drivers alone (Yosys maps a `z` to one unless `tribuf` ran
// before), so the port drives the net outside as an output does; kRead:
// nothing, the port only reads the net outside.
enum InoutKind : uint8_t { kBus, kPlain, kRead };

// The terminals (by index) of inout ports that no tristate driver drives
// inside: copies' terminals of kind kPlain (`drives`: each a driver of its
// net as an output is) and kRead (`reads`), and the module's own such
// pins, which excuse no second driver inside.
struct InoutTerms {
  std::vector<std::size_t> drives, reads, pins;
  bool empty() const { return drives.empty() && reads.empty() && pins.empty(); }
};

// Names of the components of a module: an open table of component numbers
// with their names' hashes, the names kept by the caller (name_of(comp)),
// read only when the hashes agree.
class NameSet {
 public:
  void reserve(std::size_t n) {
    std::size_t size = 64;
    while (size < n * 2) size *= 2;
    slots_.zeroed(size, true);
  }
  // Adds comp named name; false when the name is there already.
  template <class NameOf>
  bool insert(std::string_view name, int comp, const NameOf& name_of) {
    if ((count_ + 1) * 2 > slots_.size()) grow(name_of);
    const uint64_t h = hash_name(name.data(), name.size());
    std::size_t i = h & (slots_.size() - 1);
    for (; slots_[i].taken(); i = (i + 1) & (slots_.size() - 1))
      if (slots_[i].check == check_of(h) && name_of(slots_[i].comp()) == name) return false;
    slots_[i] = Slot::of(comp, check_of(h));
    ++count_;
    return true;
  }
  // Asks for the slot of name, for the reads of a batch to go together.
  void read_ahead(std::string_view name) const {
    if (!slots_.empty())
      __builtin_prefetch(&slots_[hash_name(name.data(), name.size()) & (slots_.size() - 1)]);
  }
  template <class NameOf>
  bool contains(std::string_view name, const NameOf& name_of) const {
    if (slots_.empty()) return false;
    const uint64_t h = hash_name(name.data(), name.size());
    for (std::size_t i = h & (slots_.size() - 1); slots_[i].taken(); i = (i + 1) & (slots_.size() - 1))
      if (slots_[i].check == check_of(h) && name_of(slots_[i].comp()) == name) return true;
    return false;
  }

 private:
  // The component's number plus one (zero: a free slot, as the table's
  // fresh pages hold), and the high half of the name's hash (its low bits
  // place the slot): names are compared only when it agrees.
  struct Slot {
    int32_t comp_plus_one;
    uint32_t check;
    static Slot of(int comp, uint32_t check) { return {comp + 1, check}; }
    bool taken() const { return comp_plus_one != 0; }
    int comp() const { return comp_plus_one - 1; }
  };
  static uint32_t check_of(uint64_t h) { return static_cast<uint32_t>(h >> 32); }
  template <class NameOf>
  void grow(const NameOf& name_of) {
    BigArray<Slot> old;
    std::swap(old, slots_);
    slots_.zeroed(old.empty() ? 64 : old.size() * 2, true);
    for (std::size_t k = 0; k < old.size(); ++k) {
      const Slot& s = old[k];
      if (!s.taken()) continue;
      std::string_view name = name_of(s.comp());
      std::size_t i = hash_name(name.data(), name.size()) & (slots_.size() - 1);
      while (slots_[i].taken()) i = (i + 1) & (slots_.size() - 1);
      slots_[i] = s;
    }
  }
  BigArray<Slot> slots_;
  std::size_t count_ = 0;
};

// A file's text, made in a buffer and written out in blocks as it grows.
// Its last byte stays in the buffer until finish(), where the closing
// parenthesis of the module takes the place of its final line break.
class TextOut {
 public:
  explicit TextOut(OutputSet& f) : f_(f) { buf_.reserve(kBlock + kBlock / 4); }
  // Append here, then spill().
  std::string& text() { return buf_; }
  void spill() {
    if (buf_.size() >= kBlock) write(buf_.size() - 1);
  }
  // A text made elsewhere, written out directly rather than copied.
  void put(std::string_view t) {
    if (t.empty()) return;
    write(buf_.size());
    f_.write(t.data(), t.size() - 1);
    buf_.assign(1, t.back());
  }
  void finish() {
    buf_.pop_back();
    buf_ += ")\n";
    write(buf_.size());
  }

 private:
  static constexpr std::size_t kBlock = std::size_t(1) << 20;
  void write(std::size_t n) {
    f_.write(buf_.data(), n);
    buf_.erase(0, n);
  }
  OutputSet& f_;
  std::string buf_;
};

// The components of one module as they are made: their names one after
// the other in one text, their cells, and the check that no name is used
// twice.  Their "(def-comp cell name)" lines are made as they are written,
// in a buffer written out again and again, instead of on fresh pages.
class ModuleComps {
 public:
  explicit ModuleComps(const VModule& m) : m_(m) {
    names_.reserve(m.insts.size() + 2);
    room_large(comps_, m.insts.size() + 2);
  }
  // The text a component's name is appended to before add().
  std::string& name_text() { return name_text_; }
  std::string_view name_of(int comp) const {
    const Comp& c = comps_[static_cast<std::size_t>(comp)];
    return std::string_view(name_text_).substr(c.at, c.size);
  }
  std::size_t name_size(int comp) const { return comps_[static_cast<std::size_t>(comp)].size; }
  // A component of the cell, named by the last `size` bytes of the name
  // text; returns its number.  The cell's name is stable storage (the
  // files' texts, the cell tables, the cell types found).
  int add(std::string_view cell, std::size_t size, int line) {
    if (size >= kNameLimit) fault_at(m_.file, line, "instance name too long");
    comps_.push_back({name_text_.size() - size, cell.data(), static_cast<uint32_t>(size),
                      static_cast<uint32_t>(cell.size())});
    int comp = static_cast<int>(comps_.size()) - 1;
    unchecked_.emplace_back(comp, line);
    if (unchecked_.size() == 4096) check();
    return comp;
  }
  // Names are checked for a second use in batches, their slots read
  // together first; a fault met before a batch is checked waits for the
  // check, which may find a fault earlier in the file.
  void check() {
    constexpr std::size_t kBatch = 64;
    auto name_of = [this](int comp) { return this->name_of(comp); };
    for (std::size_t b = 0; b < unchecked_.size(); b += kBatch) {
      std::size_t e = std::min(unchecked_.size(), b + kBatch);
      for (std::size_t k = b; k < e; ++k) names_.read_ahead(name_of(unchecked_[k].first));
      for (std::size_t k = b; k < e; ++k) {
        auto [comp, line] = unchecked_[k];
        if (!names_.insert(name_of(comp), comp, name_of)) {
          unchecked_.clear();  // the fault is the first one: a later check finds none
          fault_at(m_.file, line, "instance name \"" + std::string(name_of(comp)) + "\" used twice");
        }
      }
    }
    unchecked_.clear();
  }
  // Whether a checked component has the name.
  bool has(std::string_view name) const {
    return names_.contains(name, [this](int comp) { return name_of(comp); });
  }
  // The components' lines, in order.
  void write_lines(TextOut& out) const {
    std::string& s = out.text();
    for (const Comp& c : comps_) {
      s += "  (def-comp ";
      s.append(c.cell, c.cell_size);
      s += ' ';
      s.append(name_text_, c.at, c.size);
      s += ")\n";
      out.spill();
    }
  }

 private:
  struct Comp {
    std::size_t at;    // of its name in the name text
    const char* cell;  // the cell's name
    uint32_t size;     // of its name
    uint32_t cell_size;
  };
  const VModule& m_;
  std::string name_text_;
  std::vector<Comp> comps_;
  NameSet names_;
  std::vector<std::pair<int, int>> unchecked_;  // component, line
};

// The nets of one module: its bits, one node per constant value, then the
// helper nets of translated Yosys cells, joined by union-find.
struct ModuleNets {
  explicit ModuleNets(int bits) : c0(bits), c1(bits + 1) {
    u.parent.resize(static_cast<std::size_t>(bits) + 2);
    for (std::size_t i = 0; i < u.parent.size(); ++i) u.parent[i] = static_cast<int>(i);
  }
  int nodes() const { return static_cast<int>(u.parent.size()); }
  int node(int b) const { return b == kConst0 ? c0 : b == kConst1 ? c1 : b; }
  void add_helpers(int n) {
    for (int k = 0; k < n; ++k) u.parent.push_back(nodes());
  }
  // Every node's net, found once when the joins are all made; the
  // terminals then name their nets.
  void settle(std::vector<Term>& terms) {
    for (std::size_t i = 0; i < u.parent.size(); ++i) u.parent[i] = u.find(static_cast<int>(i));
    for (Term& t : terms) t.bit = root(t.bit);
  }
  int root(int b) const { return u.parent[static_cast<std::size_t>(b)]; }

  Unions u;
  const int c0, c1;
  int const_line[2] = {0, 0};  // the line of an assign of each constant, or 0
};

// What the cell name of an instance says, found once per cell name.
struct CellType {
  const CellMap* yosys = nullptr;  // a Yosys gate cell
  int cls = kUser;                 // a built-in cell's class
  bool bad_fan = false;            // a built-in cell's name with a fan-in it does not allow
  int terminals = kNoLimit;        // a built-in cell's most terminals
  const VModule* def = nullptr;    // a module read along
  bool tristate = false;           // drives as tristate: a tristate cell, or a
                                   // module with such a port (once it is known)
  std::string nld;                 // the cell name in NLD
};

class Converter {
 public:
  Converter(std::vector<std::unique_ptr<VModule>>& mods, PageAhead* pages)
      : mods_(mods), pages_(pages) {
    for (auto& m : mods_) {
      auto [it, fresh] = by_name_.try_emplace(m->name, m.get());
      if (!fresh) fault_at(m->file, m->line, "module \"" + m->name + "\" defined twice");
    }
  }

  // Writes every module into `files`, as dir/<file>.nld or .pcd; `paths`
  // receives the files' paths in the order written.
  void run(OutputSet& files, const std::string& dir, std::vector<std::string>& paths) {
    auto begin = [&](const std::string& name) {
      paths.push_back(dir + "/" + name);
      files.begin(paths.back());
    };
    for (const VModule* m : check_cycles()) {
      find_tristate_outputs(*m);
      find_inout_kinds(*m);
    }
    for (auto& m : mods_) find_inout_kinds(*m);
    std::unordered_map<std::string, const VModule*> file_of;
    for (auto& m : mods_) {
      if (library_module(m->name)) continue;
      std::string file = nld_name(m->name, true);
      if (file.size() >= kNameLimit) fault_at(m->file, m->line, "module name too long");
      auto [other, fresh] = file_of.try_emplace(file, m.get());
      if (!fresh)
        fault_at(m->file, m->line, "modules \"" + other->second->name + "\" and \"" + m->name +
                                       "\" would both be written as " + file);
      if (is_box(*m)) {
        begin(file + ".pcd");
        TextOut out(files);
        out.text() = pcd(*m);
        out.finish();
      } else {
        begin(file + ".nld");
        nld(*m, files);
      }
      files.end();
    }
  }

 private:
  // As Yosys reads it: marked, or a module of port declarations alone.
  static bool is_box(const VModule& m) {
    return m.blackbox ||
           (m.insts.empty() && m.assigns.empty() && !m.declares_nets && !m.ports.empty());
  }

  const Decl& port_decl(const VModule& m, const std::string& p) {
    const Decl* d = m.decls.find(p);
    if (!d || d->dir == dNone)
      fault_at(m.file, m.line, "port \"" + p + "\" of module \"" + m.name + "\" has no direction");
    return *d;
  }

  static std::string_view type_word(const Decl& d, bool tristate_net) {
    if (!d.type_attr.empty()) return d.type_attr;
    if (d.dir == dIn) return "input";
    if (d.dir == dInout) return "tristate";
    return tristate_net ? "tristate" : "output";
  }

  std::string pcd(const VModule& m) {
    std::string s = "(def-module " + nld_name(m.name, false) + "\n";
    for (const std::string& p : m.ports) {
      const Decl& d = port_decl(m, p);
      int w = std::abs(d.msb - d.lsb) + 1;
      for (int i = w - 1; i >= 0; --i) {
        std::string word = !d.type_attr.empty() ? std::string(d.type_attr)
                           : d.dir == dIn       ? "input"
                           : d.dir == dOut      ? "output"
                                                : "bidirect";
        s += "  (def-pin " + nld_name(bit_name(d, i), false) +
             " type " + word + ")\n";
      }
    }
    return s;  // its final line break becomes the closing parenthesis
  }

  // Pins of an instantiated cell: the declared module's ports, bit by bit,
  // most significant first within a port.
  // Made once per port of a module and kept, so that terminals can point
  // at them.
  const std::vector<std::string>* module_pins(const VModule& def, std::string_view port,
                                              const Decl** decl) {
    const Decl* found = def.decls.find(port);
    if (!found || found->dir == dNone) return nullptr;
    const Decl& d = *found;
    *decl = found;
    auto [c, fresh] = pin_cache_.try_emplace(&d);
    if (fresh) {
      int w = std::abs(d.msb - d.lsb) + 1;
      for (int i = w - 1; i >= 0; --i) c->second.push_back(nld_name(bit_name(d, i), false));
    }
    return &c->second;
  }
  std::unordered_map<const Decl*, std::vector<std::string>> pin_cache_;

  void nld(VModule& m, OutputSet& file) {
    ModuleComps comps(m);
    ModuleNets nets = join_assigns(m);
    std::vector<Term> terms;
    terms.reserve(m.conns.size() + m.insts.size());
    InoutTerms inouts;
    FillAhead terms_ahead(pages_);
    try {
      for (const Inst& in : m.insts) {
        add_instance(m, in, comps, nets, terms, inouts);
        terms_ahead.keep_up(terms);
      }
    } catch (const Fault&) {
      comps.check();  // a name used twice earlier in the file comes first
      throw;
    }
    comps.check();
    nets.settle(terms);
    // NLD names pins and components in one space: an instance may not take
    // a port's name, and a constant cell takes a name no pin has.
    std::vector<Term> pin_terms;
    std::vector<const Decl*> pin_decls;
    std::unordered_set<std::string_view> pin_names;
    const std::vector<uint8_t>* own_kinds = inout_kinds(m);
    for (const std::string& p : m.ports) {
      const Decl& d = port_decl(m, p);
      const Decl* found = nullptr;
      const std::vector<std::string>& pn = *module_pins(m, p, &found);
      for (std::size_t k = 0; k < pn.size(); ++k) {
        if (comps.has(pn[k]))
          fault_at(m.file, d.line, "port \"" + p + "\" has the name of an instance");
        pin_names.insert(pn[k]);
        int b = d.base + static_cast<int>(pn.size() - 1 - k);
        pin_decls.push_back(&d);
        Dir drive = d.dir == dIn ? dOut : d.dir == dInout ? dInout : dIn;
        if (d.dir == dInout && own_kinds && (*own_kinds)[static_cast<std::size_t>(b)] != kBus)
          inouts.pins.push_back(pin_terms.size());
        pin_terms.emplace_back(-1, pn[k], nets.root(b), drive, d.line);
      }
    }
    add_constants(m, comps, nets, terms, pin_names);
    write_nld(m, comps, nets, terms, pin_terms, pin_decls, inouts, pages_, file);
  }

  // The module's bits and constants, joined by its assigns.  Unchecked,
  // an assign to a constant is left out instead of refused.
  static ModuleNets join_assigns(const VModule& m, bool checked = true) {
    ModuleNets nets(m.bit_count);
    for (const Assign& a : m.assigns)
      for (std::size_t i = 0; i < a.lhs.size(); ++i) {
        if (a.lhs[i] < 0) {
          if (checked) fault_at(m.file, a.line, "assign to a constant");
          continue;
        }
        if (a.rhs[i] == kFloat) continue;
        if (a.rhs[i] < 0) nets.const_line[a.rhs[i] == kConst0 ? 0 : 1] = a.line;
        nets.u.join(a.lhs[i], nets.node(a.rhs[i]));
      }
    return nets;
  }

  // One instance: its cells (a Yosys gate cell may become several) and
  // their terminals.
  void add_instance(const VModule& m, const Inst& in, ModuleComps& comps, ModuleNets& nets,
                    std::vector<Term>& terms, InoutTerms& inouts) {
    std::string& name_text = comps.name_text();
    std::size_t iname_at = name_text.size();
    append_nld_name(name_text, in.name, false);
    std::size_t iname_size = name_text.size() - iname_at;
    const CellType& ct = cell_type(in.type);
    int cls = ct.cls;
    const Conn* conns = m.conns_of(in);
    if (ct.bad_fan)
      fault_at(m.file, in.line, "cell \"" + std::string(in.type) + "\" has a fan-in number it does not allow");
    if (ct.yosys) {
      const CellMap& cm = *ct.yosys;
      Bits at[8];
      for (std::size_t k = 0; k < in.count; ++k) {
        const Conn& c = conns[k];
        auto p = std::find(cm.ports.begin(), cm.ports.end(), c.port);
        if (p == cm.ports.end())
          fault_at(m.file, c.line, "cell \"" + std::string(in.type) + "\" has no port \"" + std::string(c.port) + "\"");
        if (c.count != 1)
          fault_at(m.file, c.line, "port \"" + std::string(c.port) + "\" of \"" + std::string(in.name) + "\" is one bit wide");
        at[static_cast<std::size_t>(p - cm.ports.begin())] = m.bits_of(c);
      }
      int base = nets.nodes();
      int most = 0;
      // An inverter of an input that connects nothing (Yosys writes 1'hx
      // there) is left out: its output, driven by nothing, may read
      // anything, as the inverted x may; zelk takes no inverter without an
      // input.
      auto floating = [&](const Part& part) {
        if (part.cell != "inv-") return false;
        for (auto& [pin, src] : part.pins)
          if (pin == "in" && src >= 0) {
            const Bits& b = at[static_cast<std::size_t>(src)];
            return b.empty() || b[0] == kFloat;
          }
        return false;
      };
      bool named = false;  // the name text ends with the instance's name
      for (std::size_t k = 0; k < cm.parts.size(); ++k) {
        const Part& part = cm.parts[k];
        if (floating(part)) continue;
        std::size_t size = iname_size;
        if (cm.parts.size() > 1) {
          std::string number = std::to_string(k + 1);
          if (std::exchange(named, true)) name_text += std::string(name_text, iname_at, iname_size);
          name_text += '~';
          name_text += number;
          size += 1 + number.size();
        }
        int comp = comps.add(part.cell, size, in.line);
        for (auto& [pin, src] : part.pins) {
          int bit;
          if (src < 0) {
            most = std::max(most, -src);
            bit = base + (-src - 1);
          } else {
            const Bits& b = at[static_cast<std::size_t>(src)];
            if (b.empty() || b[0] == kFloat) continue;
            bit = nets.node(b[0]);
          }
          terms.emplace_back(comp, pin, bit, part_dir(part, pin), in.line);
        }
      }
      nets.add_helpers(most);
      return;
    }
    if (cls != kUser) {
      int comp = comps.add(in.type, iname_size, in.line);
      const std::size_t first = terms.size();
      for (std::size_t k = 0; k < in.count; ++k) {
        const Conn& c = conns[k];
        int t = pin_type(cls, c.port);
        if (t < 0)
          fault_at(m.file, c.line, "cell \"" + std::string(in.type) + "\" has no pin \"" + std::string(c.port) + "\"");
        if (c.count > 1)
          fault_at(m.file, c.line, "pin \"" + std::string(c.port) + "\" of \"" + std::string(in.name) + "\" is one bit wide");
        if (c.count == 0 || m.bits[c.bits] == kFloat) continue;
        Dir dir = t == kwTristate ? dInout : t == kwOutput ? dOut : dIn;
        // A pin name the cell has needs no encoding.
        terms.emplace_back(comp, c.port, nets.node(m.bits[c.bits]), dir, c.line);
      }
      // A gate takes any names for its inputs, but no more inputs than its
      // fan-in.
      if (terms.size() - first > static_cast<std::size_t>(ct.terminals))
        fault_at(m.file, in.line, "cell \"" + std::string(in.type) + "\" takes " +
                                      std::to_string(ct.terminals) + " connections, \"" +
                                      std::string(in.name) + "\" has " + std::to_string(terms.size() - first));
      return;
    }
    if (!ct.def) {
      const std::string type(in.type);
      // Yosys's own cells, which no file declares: said as what they are.
      if (type.rfind("$_", 0) == 0)
        fault_at(m.file, in.line, "Yosys gate cell \"" + type + "\" has no built-in counterpart "
                                  "(latches and registers with both an asynchronous set and reset have none)");
      if (type.rfind('$', 0) == 0)
        fault_at(m.file, in.line, "Yosys cell \"" + type + "\" is not mapped to gate cells (Yosys: techmap)");
      fault_at(m.file, in.line, "unknown cell \"" + type + "\" with no port directions");
    }
    int comp = comps.add(ct.nld, iname_size, in.line);
    for (std::size_t k = 0; k < in.count; ++k) {
      const Conn& c = conns[k];
      Bits b = m.bits_of(c);
      const Decl* d = nullptr;
      const std::vector<std::string>* pins = module_pins(*ct.def, c.port, &d);
      if (!pins)
        fault_at(m.file, c.line, "module \"" + std::string(in.type) + "\" has no port \"" + std::string(c.port) + "\"");
      if (pins->size() != b.size() && !b.empty())
        fault_at(m.file, c.line, "port \"" + std::string(c.port) + "\" of \"" + std::string(in.name) + "\" is " +
                                     std::to_string(pins->size()) + " bits wide, connected to " +
                                     std::to_string(b.size()));
      const std::vector<bool>* tristate = tristate_outputs(*ct.def);
      const std::vector<uint8_t>* kinds = inout_kinds(*ct.def);
      for (std::size_t i = 0; i < b.size(); ++i) {
        if (b[i] == kFloat) continue;
        Dir dir = d->dir;
        const auto bit = static_cast<std::size_t>(d->base) + b.size() - 1 - i;
        if (tristate && dir == dOut && (*tristate)[bit]) dir = dInout;
        if (kinds && dir == dInout && (*kinds)[bit] != kBus)
          ((*kinds)[bit] == kPlain ? inouts.drives : inouts.reads).push_back(terms.size());
        terms.emplace_back(comp, (*pins)[i], nets.node(b[i]), dir, c.line);
      }
    }
  }

  // Constant cells, one per value used.
  static void add_constants(const VModule& m, ModuleComps& comps, const ModuleNets& nets,
                            std::vector<Term>& terms,
                            const std::unordered_set<std::string_view>& pin_names) {
    for (int v = 0; v < 2; ++v) {
      int value = nets.root(v ? nets.c1 : nets.c0);
      const int line = nets.const_line[v];
      bool used = line != 0 ||
                  std::any_of(terms.begin(), terms.end(), [&](const Term& t) { return t.bit == value; });
      if (!used) continue;
      const std::string_view base = v ? "high-" : "low-";
      std::string name(base);
      for (int k = 1; comps.has(name) || pin_names.count(name); ++k)
        name = std::string(base) + std::to_string(k);
      comps.name_text() += name;
      int comp = comps.add(base, name.size(), m.line);
      comps.check();
      terms.emplace_back(comp, v ? "out" : "nout", value, dOut, line ? line : m.line);
    }
  }

  // The module's text: its pins, components and nets, checked for nets of
  // more than one driver on the way.
  static void write_nld(const VModule& m, const ModuleComps& comps, const ModuleNets& nets,
                        const std::vector<Term>& terms, const std::vector<Term>& pin_terms,
                        const std::vector<const Decl*>& pin_decls, const InoutTerms& inouts,
                        PageAhead* pages, OutputSet& file) {
    ModuleText text(m, comps, nets, terms, pin_terms, pages);
    text.check_drivers(inouts);
    const std::string pins = text.pin_lines(pin_decls);
    const std::string_view net_lines = text.net_lines();
    TextOut out(file);
    std::string& s = out.text();
    s = "(def-module " + nld_name(m.name, false) + "\n";
    s += pins;
    out.spill();
    comps.write_lines(out);
    out.put(net_lines);
    out.finish();
  }

  // The terminals of a module gathered into its nets: one walk over them
  // tallies each net's drivers, whether a tristate driver is on it, its
  // terminals and their bytes in its line (" comp.pin" or " pin"), and
  // lists the nets in order of first appearance, pins first.
  class ModuleText {
   public:
    // The nets' records and their text take fresh pages, asked for at
    // once from the pages thread: the walks touch them in any order.
    ModuleText(const VModule& m, const ModuleComps& comps, const ModuleNets& nets,
               const std::vector<Term>& terms, const std::vector<Term>& pin_terms, PageAhead* pages)
        : m_(m), comps_(comps), nets_(nets), terms_(terms), pin_terms_(pin_terms) {
      const auto nodes = static_cast<std::size_t>(nets.nodes());
      net_.zeroed(nodes);
      if (pages) ask_all(*pages, net_.data(), nodes);
      first_seen_.reserve(nodes);
      std::size_t most = 0;  // bytes of the nets' lines, lone nets' too
      each_term([&](const Term& t) {
        Net& n = at(t);
        if (t.dir == dInout) n.tristate = true;
        if (t.dir == dOut) ++n.drivers;
        if (n.terms++ == 0) {
          first_seen_.push_back(t.bit);
          most += kHead.size() + kTail.size();
        }
        const std::size_t bytes = 1 + t.pin.size() + (t.comp < 0 ? 0 : comps.name_size(t.comp) + 1);
        n.bytes += bytes;
        most += bytes;
      });
      lines_.reset(new char[most]);
      if (pages) ask_all(*pages, lines_.get(), most);
    }

    // One driver per net unless a tristate driver is on it; a net of both
    // constants is refused first.
    void check_drivers(const InoutTerms& inouts) {
      const int c0 = nets_.root(nets_.c0), c1 = nets_.root(nets_.c1);
      if (net_[static_cast<std::size_t>(c0)].drivers && c0 == c1)
        fault_at(m_.file, m_.line, "a net is tied to both constants");
      if (!inouts.empty()) {
        check_drivers_beside_inouts(inouts);
        return;
      }
      auto clash = [&](const Term& t) { return t.dir == dOut && at(t).drivers > 1 && !at(t).tristate; };
      bool clashes = false;
      for (std::size_t b = 0; b < net_.size() && !clashes; ++b)
        clashes = net_[b].drivers > 1 && !net_[b].tristate;
      if (!clashes) return;
      for (const Term& t : terms_)
        // Reported at the second driver met in file order.
        if (clash(t) && std::exchange(at(t).seen, true))
          fault_at(m_.file, t.line, "net of \"" + member(t) + "\" has more than one driver");
      for (const Term& t : pin_terms_)
        if (clash(t)) fault_at(m_.file, t.line, "input \"" + member(t) + "\" is driven inside the module");
    }

    // The same with the inout ports that no tristate driver drives inside
    // taken as what they are: a copy's port that ordinary drivers drive is
    // one more driver, and no such terminal makes a tristate net.
    // Reported at the second driver met in file order, as above.
    void check_drivers_beside_inouts(const InoutTerms& inouts) {
      enum : char { kAsTyped, kDrives, kNeither };
      std::vector<char> term(terms_.size(), kAsTyped), pin(pin_terms_.size(), kAsTyped);
      for (std::size_t i : inouts.drives) term[i] = kDrives;
      for (std::size_t i : inouts.reads) term[i] = kNeither;
      for (std::size_t i : inouts.pins) pin[i] = kNeither;
      std::vector<int> drivers(net_.size());
      std::vector<char> tristate(net_.size()), seen(net_.size());
      auto drives = [](const Term& t, char how) {
        return how == kDrives || (how == kAsTyped && t.dir == dOut);
      };
      auto tally = [&](const Term& t, char how) {
        const auto b = static_cast<std::size_t>(t.bit);
        if (drives(t, how)) ++drivers[b];
        else if (how == kAsTyped && t.dir == dInout) tristate[b] = 1;
      };
      for (std::size_t i = 0; i < terms_.size(); ++i) tally(terms_[i], term[i]);
      for (std::size_t i = 0; i < pin_terms_.size(); ++i) tally(pin_terms_[i], pin[i]);
      auto clash = [&](const Term& t, char how) {
        const auto b = static_cast<std::size_t>(t.bit);
        return drives(t, how) && drivers[b] > 1 && !tristate[b];
      };
      for (std::size_t i = 0; i < terms_.size(); ++i) {
        const Term& t = terms_[i];
        if (clash(t, term[i]) && std::exchange(seen[static_cast<std::size_t>(t.bit)], 1))
          fault_at(m_.file, t.line, "net of \"" + member(t) + "\" has more than one driver");
      }
      for (std::size_t i = 0; i < pin_terms_.size(); ++i)
        if (clash(pin_terms_[i], pin[i]))
          fault_at(m_.file, pin_terms_[i].line, "input \"" + member(pin_terms_[i]) + "\" is driven inside the module");
    }

    // The "(def-pin ...)" lines, a pin's type following the tristate
    // drivers on its net.
    std::string pin_lines(const std::vector<const Decl*>& pin_decls) {
      std::string text;
      for (std::size_t i = 0; i < pin_terms_.size(); ++i)
        text += "  (def-pin " + std::string(pin_terms_[i].pin) + " type " +
                std::string(type_word(*pin_decls[i], at(pin_terms_[i]).tristate)) + ")\n";
      return text;
    }

    // The nets' lines, each terminal written straight into its net's place
    // in one text (a net of one terminal joins nothing and is left out).
    // The text lives as long as this.
    std::string_view net_lines() {
      std::size_t net_bytes = 0;
      for (int b : first_seen_) {
        Net& n = net_[static_cast<std::size_t>(b)];
        if (n.terms < 2) {
          n.bytes = kLone;
          continue;
        }
        std::size_t bytes = n.bytes;
        n.bytes = net_bytes + kHead.size();
        net_bytes += kHead.size() + bytes + kTail.size();
      }
      for (int b : first_seen_) {
        const Net& n = net_[static_cast<std::size_t>(b)];
        if (n.bytes != kLone) kHead.copy(lines_.get() + n.bytes - kHead.size(), kHead.size());
      }
      each_term([&](const Term& t) {
        Net& n = at(t);
        if (n.bytes == kLone) return;
        char* to = lines_.get() + n.bytes;
        *to++ = ' ';
        if (t.comp >= 0) {
          std::string_view name = comps_.name_of(t.comp);
          to = std::copy(name.begin(), name.end(), to);
          *to++ = '.';
        }
        to = std::copy(t.pin.begin(), t.pin.end(), to);
        n.bytes = static_cast<std::size_t>(to - lines_.get());
        if (--n.terms == 0) kTail.copy(to, kTail.size());
      });
      return std::string_view(lines_.get(), net_bytes);
    }

   private:
    struct Net {
      std::size_t bytes = 0;  // then where its next terminal goes, kLone for none
      int terms = 0;
      int drivers = 0;
      bool tristate = false;
      bool seen = false;
    };
    static constexpr std::size_t kLone = SIZE_MAX;
    static constexpr std::string_view kHead = "  (def-net", kTail = ")\n";

    Net& at(const Term& t) { return net_[static_cast<std::size_t>(t.bit)]; }
    std::string member(const Term& t) const {
      return t.comp < 0 ? std::string(t.pin) : std::string(comps_.name_of(t.comp)) + "." + std::string(t.pin);
    }
    // The terminals come in instance order and their nets in any order: the
    // nets of a batch of terminals are read together first, so that their
    // loads overlap instead of each waiting on memory in turn.
    template <class F>
    void each_term(F f) {
      constexpr std::size_t kBatch = 32;
      const std::size_t total = pin_terms_.size() + terms_.size();
      auto term_at = [&](std::size_t i) -> const Term& {
        return i < pin_terms_.size() ? pin_terms_[i] : terms_[i - pin_terms_.size()];
      };
      for (std::size_t b = 0; b < total; b += kBatch) {
        const std::size_t e = std::min(total, b + kBatch);
        for (std::size_t i = b; i < e; ++i) __builtin_prefetch(&at(term_at(i)));
        for (std::size_t i = b; i < e; ++i) f(term_at(i));
      }
    }

    const VModule& m_;
    const ModuleComps& comps_;
    const ModuleNets& nets_;
    const std::vector<Term>& terms_;
    const std::vector<Term>& pin_terms_;
    BigArray<Net> net_;            // by node of the module's nets
    std::vector<int> first_seen_;  // the nets, by first appearance
    std::unique_ptr<char[]> lines_;
  };

  // A module that instantiates itself, directly or through others, would
  // expand for ever.  Returns the modules that others instantiate, each
  // after those it instantiates.
  std::vector<const VModule*> check_cycles() {
    std::unordered_map<const VModule*, int> state;  // 1 on the path, 2 done
    std::unordered_set<const VModule*> inside;       // instantiated by another
    std::vector<const VModule*> order;
    for (auto& root : mods_) {
      if (state[root.get()]) continue;
      std::vector<std::pair<const VModule*, std::size_t>> stack{{root.get(), 0}};
      state[root.get()] = 1;
      while (!stack.empty()) {
        auto& [m, i] = stack.back();
        if (i == m->insts.size()) {
          state[m] = 2;
          if (inside.count(m)) order.push_back(m);
          stack.pop_back();
          continue;
        }
        const Inst& in = m->insts[i++];
        auto it = by_name_.find(in.type);
        if (it == by_name_.end()) continue;
        const VModule* c = it->second;
        if (inside.insert(c).second && state[c] == 2) order.push_back(c);
        int& st = state[c];
        if (st == 1)
          fault_at(m->file, in.line, c == m ? "module \"" + m->name + "\" instantiates itself"
                                            : "module \"" + c->name + "\" instantiates itself through \"" + m->name + "\"");
        if (st == 0) {
          st = 1;
          stack.emplace_back(c, 0);
        }
      }
    }
    return order;
  }

  // How an instance drives a bit of its module: as an output, as a
  // tristate driver, or through an inout port of a copy that no tristate
  // driver drives inside (tristate by its pin's type): one that ordinary
  // drivers drive (an output by what it does) or one that nothing drives.
  enum class Drives { kPlain, kTristate, kPlainInout, kReadInout };
  // Each bit of module m that instance `in` drives, and how: its cells'
  // outputs, a copy's output ports (tristate where tristate drivers drive
  // them inside) and inout ports.
  template <class F>
  void each_driver(const VModule& m, const Inst& in, F f) {
    const CellType& ct = cell_type(in.type);
    const Conn* conns = m.conns_of(in);
    if (ct.yosys) {
      for (const Part& part : ct.yosys->parts)
        for (auto& [pin, src] : part.pins) {
          if (src < 0) continue;
          const Dir dir = part_dir(part, pin);
          if (dir == dIn) continue;
          for (std::size_t k = 0; k < in.count; ++k)
            if (conns[k].port == ct.yosys->ports[static_cast<std::size_t>(src)] && conns[k].count == 1)
              f(m.bits[conns[k].bits], dir == dInout ? Drives::kTristate : Drives::kPlain);
        }
    } else if (ct.cls != kUser) {
      if (ct.bad_fan) return;
      for (std::size_t k = 0; k < in.count; ++k) {
        if (conns[k].count != 1) continue;
        const int t = pin_type(ct.cls, conns[k].port);
        if (t == kwTristate || t == kwOutput)
          f(m.bits[conns[k].bits], t == kwTristate ? Drives::kTristate : Drives::kPlain);
      }
    } else if (ct.def) {
      const std::vector<bool>* tristate = tristate_outputs(*ct.def);
      const std::vector<uint8_t>* kinds = inout_kinds(*ct.def);
      for (std::size_t k = 0; k < in.count; ++k) {
        const Conn& c = conns[k];
        const Decl* d = ct.def->decls.find(c.port);
        if (!d || static_cast<int>(c.count) != std::abs(d->msb - d->lsb) + 1) continue;
        for (std::size_t i = 0; i < c.count; ++i) {
          const auto bit = static_cast<std::size_t>(d->base) + c.count - 1 - i;
          if (d->dir == dOut)
            f(m.bits[c.bits + i], tristate && (*tristate)[bit] ? Drives::kTristate : Drives::kPlain);
          if (d->dir == dInout) {
            const uint8_t kind = kinds ? (*kinds)[bit] : uint8_t{kBus};
            f(m.bits[c.bits + i], kind == kPlain  ? Drives::kPlainInout
                                  : kind == kRead ? Drives::kReadInout
                                                  : Drives::kTristate);
          }
        }
      }
    }
  }

  // Yosys declares a port that a tristate driver drives `output`, and two
  // copies of its module may drive one bus: such a port is tristate in
  // NLD, and so is its copies' terminal on the bus.  Each bit of a
  // module's output ports that a tristate driver drives, through its
  // nets and assigns: a tristate cell's output or such a port of a module
  // inside.  Only a look, never a fault: the module's own conversion
  // reports its faults in file order.
  void find_tristate_outputs(const VModule& m) {
    std::vector<int> bits;  // driven by tristate drivers
    for (const Inst& in : m.insts)
      if (cell_type(in.type).tristate)
        each_driver(m, in, [&](int b, Drives how) {
          if (how != Drives::kPlain && b != kFloat) bits.push_back(b);
        });
    bool drives = false;  // has a tristate or inout port
    if (!bits.empty()) {  // few modules
      ModuleNets nets = join_assigns(m, false);
      std::vector<char> driven(static_cast<std::size_t>(nets.nodes()));
      for (int b : bits) driven[static_cast<std::size_t>(nets.u.find(nets.node(b)))] = 1;
      std::vector<bool> out(static_cast<std::size_t>(m.bit_count));
      for (const std::string& p : m.ports) {
        const Decl* d = m.decls.find(p);
        if (!d || d->dir != dOut) continue;
        for (int i = 0; i <= std::abs(d->msb - d->lsb); ++i)
          if (driven[static_cast<std::size_t>(nets.u.find(d->base + i))])
            drives = out[static_cast<std::size_t>(d->base + i)] = true;
      }
      if (drives) tristate_outputs_.emplace(&m, std::move(out));
    }
    for (const std::string& p : m.ports) {
      const Decl* d = m.decls.find(p);
      drives |= d && d->dir == dInout;
    }
    if (drives) cell_type(m.name).tristate = true;
  }
  // The bits of m's output ports that tristate drivers drive, or null.
  const std::vector<bool>* tristate_outputs(const VModule& m) const {
    auto it = tristate_outputs_.find(&m);
    return it == tristate_outputs_.end() ? nullptr : &it->second;
  }
  std::unordered_map<const VModule*, std::vector<bool>> tristate_outputs_;

  // What drives each bit of m's inout ports inside (InoutKind), for every
  // module: its copies' terminals and its own pins are checked as what they
  // are.  Only a look, as above; the copies of m come first.
  void find_inout_kinds(const VModule& m) {
    if (!inout_kinds_.try_emplace(&m).second) return;
    auto has_inout = [&](const std::string& p) {
      const Decl* d = m.decls.find(p);
      return d && d->dir == dInout;
    };
    if (is_box(m) || std::none_of(m.ports.begin(), m.ports.end(), has_inout)) return;
    ModuleNets nets = join_assigns(m, false);
    std::vector<char> drive(static_cast<std::size_t>(nets.nodes()));  // 1 tristate, 2 plain
    auto mark = [&](int b, Drives how) {
      if (b == kFloat || how == Drives::kReadInout) return;
      drive[static_cast<std::size_t>(nets.u.find(nets.node(b)))] |= how == Drives::kTristate ? 1 : 2;
    };
    for (const Inst& in : m.insts) each_driver(m, in, mark);
    for (int v = 0; v < 2; ++v)
      if (nets.const_line[v]) mark(v ? kConst1 : kConst0, Drives::kPlain);
    std::vector<uint8_t> kinds(static_cast<std::size_t>(m.bit_count), kBus);
    bool any = false;
    for (const std::string& p : m.ports) {
      const Decl* d = m.decls.find(p);
      if (!d || d->dir != dInout) continue;
      for (int i = 0; i <= std::abs(d->msb - d->lsb); ++i) {
        const char how = drive[static_cast<std::size_t>(nets.u.find(d->base + i))];
        if (how & 1) continue;
        kinds[static_cast<std::size_t>(d->base + i)] = how ? kPlain : kRead;
        any = true;
      }
    }
    if (any) inout_kinds_[&m] = std::move(kinds);
  }
  // The InoutKind of each bit of m's inout ports, or null when every one
  // is kBus.
  const std::vector<uint8_t>* inout_kinds(const VModule& m) const {
    auto it = inout_kinds_.find(&m);
    return it == inout_kinds_.end() || it->second.empty() ? nullptr : &it->second;
  }
  std::unordered_map<const VModule*, std::vector<uint8_t>> inout_kinds_;

  std::vector<std::unique_ptr<VModule>>& mods_;
  PageAhead* pages_;
  std::unordered_map<std::string_view, VModule*> by_name_;  // keys: the modules' names

  CellType& cell_type(std::string_view type) {
    auto [it, fresh] = types_.try_emplace(type);
    CellType& ct = it->second;
    if (fresh) {
      std::string name(type);
      auto ym = yosys_cells().find(name);
      if (ym != yosys_cells().end()) ct.yosys = &ym->second;
      int16_t fan = 0;
      try {
        ct.cls = class_f(name.c_str(), kCellTable, &fan);
      } catch (const Fault&) {
        ct.bad_fan = true;
      }
      if (ct.cls != kUser && !ct.bad_fan) ct.terminals = terminal_limit(ct.cls, fan);
      ct.tristate = ct.cls == kTsBuf;
      if (ct.yosys)
        for (const Part& part : ct.yosys->parts) ct.tristate |= part.cell == "ts_buf-";
      auto def = by_name_.find(type);
      if (def != by_name_.end()) ct.def = def->second;
      ct.nld = nld_name(type, false);
    }
    return ct;
  }
  std::unordered_map<std::string_view, CellType> types_;  // keys: inside the files' texts

  // The pin type of pin `pin` of a built-in cell of class cls, -1 for none.
  int pin_type(int cls, std::string_view pin) {
    const auto at = static_cast<std::size_t>(cls);
    if (at >= pin_types_.size()) pin_types_.resize(at + 1);
    auto& known = pin_types_[at];
    for (auto& [p, t] : known)
      if (p == pin) return t;
    int t = -1;
    try {
      t = pin_type_f(std::string(pin).c_str(), cls);
    } catch (const Fault&) {
    }
    known.emplace_back(pin, t);
    return t;
  }
  // By class code (a few hundred): looked up for every terminal.
  std::vector<std::vector<std::pair<std::string_view, int>>> pin_types_;

  // The direction of pin `pin` of a part of a Yosys cell's translation.
  Dir part_dir(const Part& part, const std::string& pin) {
    auto [it, fresh] = part_dirs_.try_emplace(&pin, dNone);
    if (fresh) {
      int16_t f = 0;
      int t = pin_type_f(pin.c_str(), class_f(part.cell.c_str(), kCellTable, &f));
      it->second = t == kwTristate ? dInout : t == kwOutput ? dOut : dIn;
    }
    return it->second;
  }
  std::unordered_map<const std::string*, Dir> part_dirs_;
};

// The texts of the files read.  A regular file is mapped and read in
// place: a hundred megabytes of Verilog are neither copied nor laid on
// fresh pages that must first be cleared.  Anything else (a pipe, a
// directory, which reads as an empty file) is read into memory.  The
// modules point into the texts: they stay until the end.
class Texts {
 public:
  Texts() = default;
  Texts(const Texts&) = delete;
  Texts& operator=(const Texts&) = delete;
  ~Texts() {
    for (auto [at, size] : maps_) ::munmap(at, size);
  }

  std::string_view read(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) fail("Could not open " + path + "\n");
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      auto size = static_cast<std::size_t>(st.st_size);
      void* at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
      if (at != MAP_FAILED) {
        ::close(fd);
        maps_.emplace_back(at, size);
        return {static_cast<const char*>(at), size};
      }
    }
    ::close(fd);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fail("Could not open " + path + "\n");
    std::string s;
    char buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    char* text = static_cast<char*>(arena_.allocate(s.size() + 1, 1));
    std::memcpy(text, s.data(), s.size());
    return {text, s.size()};
  }

 private:
  Arena arena_;
  std::vector<std::pair<void*, std::size_t>> maps_;
};

}  // namespace

void read_verilog(const std::vector<std::string>& files, const std::string& dir,
                  std::vector<std::string>* names, std::size_t beside_from) {
  std::vector<std::unique_ptr<VModule>> mods;
  Texts texts;
  PageAhead pages;  // stops before the arrays it asks for go
  for (const std::string& f : files) parse_verilog(f, texts.read(f), mods, &pages, beside_from);
  // Each file to a temporary beside its target, all renamed into place only
  // when every one is complete: a rejected input or a failed write leaves
  // the directory as it was.
  OutputSet out;
  std::vector<std::string> paths;
  out.run([&] { Converter(mods, &pages).run(out, dir, paths); });
  out.commit();
  names->insert(names->end(), paths.begin(), paths.end());
}

}  // namespace zelk
