// Synthetic NLD designs for speed and memory measurements.
//
// Header-only, so that the standalone generator (gen_design.cpp) and the
// benchmark programs share it.  Everything is deterministic from the seed:
// the random source and every choice below are our own, not the standard
// library's distributions, so a seed gives the same files everywhere.
//
// Designs look like mapped gate-level netlists: nand/nor/and/or gates of 2
// to 4 inputs, and-or-invert gates, exclusive-or gates, about 10 %
// inverters, a few registers clocked by "m_clock", constant cells.  The
// combinational logic is acyclic (every gate reads only signals made before
// it; registers break the loops) and mostly local, as in real designs.
#pragma once

#include <algorithm>
#include <map>
#include <utility>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace zelkgen {

// ---------------------------------------------------------------- random

class Rng {
 public:
  explicit Rng(uint64_t seed) : s_(seed * 0x9E3779B97F4A7C15ull + 0x2545F4914F6CDD1Dull) {}
  uint64_t next() {  // splitmix64
    uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  // Uniform in [0, n), n > 0.
  uint64_t below(uint64_t n) { return next() % n; }
  // Uniform in [0, 1000).
  int permille() { return static_cast<int>(next() % 1000); }

 private:
  uint64_t s_;
};

// ---------------------------------------------------------------- cell kinds

// What can be placed in a module: a built-in cell, a library cell read from
// a PCD file, or an instance of another generated module.
struct Kind {
  std::string name;               // class name in def-comp
  std::vector<std::string> ins;   // input pins
  std::vector<std::string> outs;  // output pins (each drives one net)
  char prefix = 'U';              // instance names: prefix + number
  bool clocked = false;           // has an "m_clock" pin
  bool reg = false;               // register: a source; its input is tied last
  bool constant = false;          // constant cell: no inputs
  // Totals over the instance tree below one instance of this kind, the
  // instance included (for module instances: every cell inside).
  long cells = 1;
  long inverters = 0;
  long registers = 0;
  long copies = 0;                // module copies the loader makes per instance
};

inline std::vector<std::string> numbered(const char* stem, int n) {
  std::vector<std::string> v;
  for (int i = 1; i <= n; ++i) {
    std::string s = stem;
    s += std::to_string(i);
    v.push_back(s);
  }
  return v;
}

// The built-in cells used by the mix, with the weight (per mille, roughly)
// each gets among combinational cells.  The mix follows what area-oriented
// mapping gives on real circuits.
struct Weighted {
  Kind kind;
  int weight;
};

inline std::vector<Weighted> gate_mix(bool inverters, int inverter_weight = 100) {
  std::vector<Weighted> mix;
  auto add = [&mix](const std::string& name, std::vector<std::string> ins, const char* out,
                    int weight) {
    Kind k;
    k.name = name;
    k.ins = std::move(ins);
    k.outs = {out};
    k.inverters = name == "inv-" ? 1 : 0;
    mix.push_back({k, weight});
  };
  add("inv-", {"in"}, "nout", inverters ? inverter_weight : 0);
  add("ninv-", {"in"}, "out", 10);
  const struct {
    const char* stem;
    const char* out;
    int w2, w3, w4;
  } simple[] = {{"nand", "nout", 150, 50, 20},
                {"nor", "nout", 90, 30, 10},
                {"and", "out", 80, 30, 10},
                {"or", "out", 60, 20, 10}};
  for (const auto& s : simple) {
    add(std::string(s.stem) + "--2", numbered("in", 2), s.out, s.w2);
    add(std::string(s.stem) + "--3", numbered("in", 3), s.out, s.w3);
    add(std::string(s.stem) + "--4", numbered("in", 4), s.out, s.w4);
  }
  const struct {
    const char* digits;
    int weight;
  } andor[] = {{"21", 55}, {"22", 40}, {"211", 10}, {"31", 5}, {"32", 5},
               {"33", 3},  {"221", 5}, {"222", 3}};
  for (const auto& a : andor) {
    int inputs = 0;
    for (const char* p = a.digits; *p; ++p) inputs += *p - '0';
    add(std::string("aoi--") + a.digits, numbered("in", inputs), "nout", a.weight);
    add(std::string("oai--") + a.digits, numbered("in", inputs), "nout", a.weight);
  }
  add("eor--2", numbered("in", 2), "out", 30);
  add("enor--2", numbered("in", 2), "nout", 30);
  return mix;
}

inline Kind reg_kind() {
  Kind k;
  k.name = "reg-1";
  k.ins = {"in"};
  k.outs = {"out"};  // "nout" stays unconnected, as mapped designs leave it
  k.prefix = 'R';
  k.clocked = true;
  k.reg = true;
  k.registers = 1;
  return k;
}

inline Kind const_kind(bool high) {
  Kind k;
  k.name = high ? "high-" : "low-";
  k.outs = {high ? "out" : "nout"};
  k.constant = true;
  return k;
}

inline Kind ts_buf_kind() {
  Kind k;
  k.name = "ts_buf-";
  k.ins = {"in", "nenb"};
  k.outs = {"out"};
  k.prefix = 'T';
  return k;
}

// ---------------------------------------------------------------- one module

// What one generated module holds, in the order the generator places it.
struct ModulePlan {
  std::string name;
  std::string comment;
  int inputs = 4;
  int outputs = 2;                          // at least; every unread gate output adds one
  std::vector<const Kind*> regs;            // sources, placed first
  std::vector<const Kind*> consts;          // sources, placed first
  std::vector<const Kind*> logic;           // placed in this order, reading earlier signals
  std::vector<int> bus_after;               // tri-state bus positions (index into logic)
  const Kind* ts_buf = nullptr;
  int locality = 2000;                      // window of recent signals most reads come from
  int twice_permille = 0;                   // gate inputs that repeat an earlier input's signal
  int bidirect_permille = 0;                // outputs written as bidirect pins
  int undriven_permille = 0;                // gate inputs on a net nothing drives
  long hub_readers = 0;                     // gates reading one inverted input signal
  const Kind* hub_inv = nullptr;            // ... the inverter on that signal
  const Kind* hub_gate = nullptr;           // ... and the kind of its readers
  const Kind* hub_exor = nullptr;           // ... except every hub_exor_every-th (if > 0)
  long hub_exor_every = 0;
};

// A generated module: its interface as a Kind (for parents) and its text.
struct Built {
  Kind kind;
  long cells = 0;  // cells of this module's own text
};

class ModuleWriter {
 public:
  ModuleWriter(const ModulePlan& plan, Rng& rng) : plan_(plan), rng_(rng) {}

  Built build(const std::string& path) {
    place();
    write(path);
    Built b;
    b.kind.name = plan_.name;
    for (int i = 0; i < plan_.inputs; ++i) b.kind.ins.push_back(in_name(i));
    for (std::size_t i = 0; i < out_sig_.size(); ++i) b.kind.outs.push_back(out_name(i));
    b.kind.clocked = clocked_;
    b.kind.prefix = 'I';
    b.kind.cells = 0;
    b.kind.copies = 1;
    for (const Cell& c : cells_) {
      b.kind.cells += c.kind->cells;
      b.kind.inverters += c.kind->inverters;
      b.kind.registers += c.kind->registers;
      b.kind.copies += c.kind->copies;
    }
    b.cells = static_cast<long>(cells_.size());
    return b;
  }

 private:
  struct Cell {
    const Kind* kind;
    uint32_t number;  // instance name number
    uint32_t conn;    // index of its first signal in conn_ (inputs, then outputs)
  };

  // Built by appending: "x" + std::to_string(i) trips a false -Wrestrict
  // warning of some compilers.
  static std::string pin_name(char stem, std::size_t i) {
    std::string s(1, stem);
    s += std::to_string(i);
    return s;
  }
  static std::string in_name(int i) { return pin_name('i', static_cast<std::size_t>(i)); }
  static std::string out_name(std::size_t i) { return pin_name('o', i); }

  int new_signal() {
    reads_.push_back(0);
    is_const_.push_back(0);
    fresh_.push_back(static_cast<int>(reads_.size()) - 1);
    return static_cast<int>(reads_.size()) - 1;
  }

  // One signal to read: mostly a signal nobody reads yet (recent ones, and
  // now and then the oldest, so that inputs and register outputs get read),
  // otherwise a recent signal, rarely any signal at all.
  int pick_once() {
    int r = rng_.permille();
    if (r < 150) {
      while (head_ < fresh_.size() && reads_[fresh_[head_]] > 0) ++head_;
      if (head_ < fresh_.size()) return fresh_[head_];
    } else if (r < 550) {
      while (fresh_.size() > head_ && reads_[fresh_.back()] > 0) fresh_.pop_back();
      std::size_t span = std::min<std::size_t>(64, fresh_.size() - head_);
      for (int t = 0; span > 0 && t < 4; ++t) {
        int s = fresh_[fresh_.size() - 1 - rng_.below(span)];
        if (reads_[s] == 0) return s;
      }
    }
    std::size_t n = reads_.size();
    if (rng_.permille() < 850) {
      std::size_t w = std::min<std::size_t>(n, static_cast<std::size_t>(plan_.locality));
      return static_cast<int>(n - 1 - rng_.below(w));
    }
    return static_cast<int>(rng_.below(n));
  }

  // A signal for one input of a cell whose inputs so far are conn_[from, to):
  // never the same net twice on one cell, constants only when they come up
  // as unread (each constant feeds a few gates, not a random share).
  int pick(std::size_t from, std::size_t to) {
    if (to > from && plan_.twice_permille > 0 && rng_.permille() < plan_.twice_permille) {
      int again = conn_[from + rng_.below(to - from)];
      ++reads_[again];
      return again;
    }
    if (plan_.undriven_permille > 0 && rng_.permille() < plan_.undriven_permille) {
      int s = new_signal();  // read, never driven
      ++reads_[s];
      return s;
    }
    int s = -1;
    for (int t = 0; t < 12; ++t) {
      s = pick_once();
      if (is_const_[s] && reads_[s] >= 3) continue;
      if (std::find(conn_.begin() + static_cast<long>(from), conn_.begin() + static_cast<long>(to),
                    s) != conn_.begin() + static_cast<long>(to))
        continue;
      break;
    }
    ++reads_[s];
    return s;
  }

  uint32_t number_for(const Kind* k) {
    int slot = static_cast<unsigned char>(k->prefix);
    return ++counter_[slot];
  }

  void add_cell(const Kind* k, bool tie_inputs) {
    Cell c{k, number_for(k), static_cast<uint32_t>(conn_.size())};
    std::size_t from = conn_.size();
    for (std::size_t i = 0; i < k->ins.size(); ++i)
      conn_.push_back(tie_inputs ? pick(from, conn_.size()) : -1);
    for (std::size_t i = 0; i < k->outs.size(); ++i) conn_.push_back(-1);
    cells_.push_back(c);
    // Outputs become readable only after all inputs are chosen: acyclic.
    for (std::size_t i = 0; i < k->outs.size(); ++i) {
      int s = new_signal();
      if (k->constant) is_const_[s] = 1;
      conn_[c.conn + k->ins.size() + i] = s;
    }
    if (k->clocked) clocked_ = true;
  }

  // Two to four tri-state buffers driving one bus net; the bus exists only
  // once all their inputs are chosen, so none of them reads it.
  void add_bus() {
    int drivers = 2 + static_cast<int>(rng_.below(3));
    std::vector<std::size_t> outs;
    for (int d = 0; d < drivers; ++d) {
      std::size_t from = conn_.size();
      cells_.push_back(Cell{plan_.ts_buf, number_for(plan_.ts_buf), static_cast<uint32_t>(from)});
      conn_.push_back(pick(from, from));      // "in"
      conn_.push_back(pick(from, from + 1));  // "nenb"
      outs.push_back(conn_.size());
      conn_.push_back(-1);                    // "out"
    }
    int s = new_signal();
    for (std::size_t o : outs) conn_[o] = s;
  }

  void place() {
    for (int i = 0; i < plan_.inputs; ++i) new_signal();
    for (const Kind* k : plan_.consts) add_cell(k, true);
    std::size_t first_reg = cells_.size();
    for (const Kind* k : plan_.regs) add_cell(k, false);
    if (plan_.hub_readers > 0) {
      // One input through an inverter to many gates: one net of that many
      // inverted terminals after flattening.
      cells_.push_back(Cell{plan_.hub_inv, number_for(plan_.hub_inv), static_cast<uint32_t>(conn_.size())});
      conn_.push_back(0);
      ++reads_[0];
      int hub = new_signal();
      conn_.push_back(hub);
      for (long r = 0; r < plan_.hub_readers; ++r) {
        std::size_t from = conn_.size();
        const Kind* k = plan_.hub_exor_every > 0 && r % plan_.hub_exor_every == 0 ? plan_.hub_exor
                                                                                  : plan_.hub_gate;
        cells_.push_back(Cell{k, number_for(k), static_cast<uint32_t>(from)});
        conn_.push_back(hub);
        ++reads_[hub];
        conn_.push_back(pick(from, from + 1));
        conn_.push_back(new_signal());
      }
    }
    std::size_t bus = 0;
    for (std::size_t i = 0; i < plan_.logic.size(); ++i) {
      for (; bus < plan_.bus_after.size() && static_cast<std::size_t>(plan_.bus_after[bus]) == i;
           ++bus)
        add_bus();
      add_cell(plan_.logic[i], true);
    }
    // Register inputs last: they may read any signal, loops go through them.
    for (std::size_t r = first_reg; r < first_reg + plan_.regs.size(); ++r) {
      Cell& c = cells_[r];
      conn_[c.conn] = pick(c.conn, c.conn);
    }
    // Outputs: every gate output nobody reads, newest first, then recent
    // signals until the requested count is reached.
    for (std::size_t s = reads_.size(); s-- > static_cast<std::size_t>(plan_.inputs);)
      if (reads_[s] == 0) out_sig_.push_back(static_cast<int>(s));
    while (out_sig_.size() < static_cast<std::size_t>(plan_.outputs)) {
      std::size_t n = reads_.size();
      out_sig_.push_back(static_cast<int>(n - 1 - rng_.below(std::min<std::size_t>(n, 64))));
    }
  }

  // ---- text

  void put(const std::string& s) { text_ += s; }
  void put(const char* s) { text_ += s; }
  void put_num(uint32_t n) {
    char b[16];
    int len = std::snprintf(b, sizeof b, "%u", n);
    text_.append(b, static_cast<std::size_t>(len));
  }
  void put_inst(const Cell& c) {
    text_ += c.kind->prefix;
    put_num(c.number);
  }
  void flush(bool force) {
    if (!force && text_.size() < (1u << 20)) return;
    if (std::fwrite(text_.data(), 1, text_.size(), file_) != text_.size())
      throw std::runtime_error("write failed");
    text_.clear();
  }

  void write(const std::string& path) {
    file_ = std::fopen(path.c_str(), "w");
    if (!file_) throw std::runtime_error("cannot open " + path);
    put("; " + plan_.name + ": " + plan_.comment + "\n");
    put("(def-module " + plan_.name + "\n");
    for (int i = 0; i < plan_.inputs; ++i) put("  (def-pin " + in_name(i) + " type input)\n");
    // A bidirect pin reads its net without a weight; which outputs are
    // bidirect is drawn by a hash of the number, so the rest of the design
    // is the same with or without them.
    for (std::size_t i = 0; i < out_sig_.size(); ++i) {
      const bool bidirect = (i * 2654435761u % 1000) < static_cast<std::size_t>(plan_.bidirect_permille);
      put("  (def-pin " + out_name(i) + (bidirect ? " type bidirect)\n" : " type output)\n"));
    }
    if (clocked_) put("  (def-pin m_clock type input)\n");

    // def-comp forms: one kind after the other in order of first use, at
    // most 12 instances a form.
    std::vector<const Kind*> kinds;
    std::vector<std::vector<uint32_t>> members;
    for (uint32_t i = 0; i < cells_.size(); ++i) {
      const Kind* k = cells_[i].kind;
      std::size_t j = 0;
      while (j < kinds.size() && kinds[j] != k) ++j;
      if (j == kinds.size()) {
        kinds.push_back(k);
        members.emplace_back();
      }
      members[j].push_back(i);
    }
    for (std::size_t j = 0; j < kinds.size(); ++j) {
      for (std::size_t a = 0; a < members[j].size(); a += 12) {
        put("  (def-comp " + kinds[j]->name);
        for (std::size_t b = a; b < members[j].size() && b < a + 12; ++b) {
          put(" ");
          put_inst(cells_[members[j][b]]);
        }
        put(")\n");
        flush(false);
      }
    }

    // Terminals per signal, drivers first (CSR layout: 10^6 cells).
    std::size_t nsig = reads_.size();
    std::vector<uint32_t> nd(nsig + 1, 0), nr(nsig + 1, 0);
    for (const Cell& c : cells_) {
      const Kind* k = c.kind;
      for (std::size_t i = 0; i < k->ins.size(); ++i) ++nr[static_cast<std::size_t>(conn_[c.conn + i]) + 1];
      for (std::size_t i = 0; i < k->outs.size(); ++i)
        ++nd[static_cast<std::size_t>(conn_[c.conn + k->ins.size() + i]) + 1];
    }
    for (std::size_t s = 0; s < nsig; ++s) nd[s + 1] += nd[s], nr[s + 1] += nr[s];
    std::vector<uint64_t> drv(nd[nsig]), rd(nr[nsig]);  // cell << 8 | pin index
    std::vector<uint32_t> fd(nd.begin(), nd.end() - 1), fr(nr.begin(), nr.end() - 1);
    for (uint32_t ci = 0; ci < cells_.size(); ++ci) {
      const Cell& c = cells_[ci];
      const Kind* k = c.kind;
      for (std::size_t i = 0; i < k->ins.size(); ++i)
        rd[fr[static_cast<std::size_t>(conn_[c.conn + i])]++] = (uint64_t{ci} << 8) | i;
      for (std::size_t i = 0; i < k->outs.size(); ++i)
        drv[fd[static_cast<std::size_t>(conn_[c.conn + k->ins.size() + i])]++] =
            (uint64_t{ci} << 8) | (k->ins.size() + i);
    }
    std::vector<std::vector<uint32_t>> outs_of;  // only for signals with output pins
    std::vector<int32_t> out_slot(nsig, -1);
    for (std::size_t o = 0; o < out_sig_.size(); ++o) {
      std::size_t s = static_cast<std::size_t>(out_sig_[o]);
      if (out_slot[s] < 0) {
        out_slot[s] = static_cast<int32_t>(outs_of.size());
        outs_of.emplace_back();
      }
      outs_of[static_cast<std::size_t>(out_slot[s])].push_back(static_cast<uint32_t>(o));
    }
    auto put_term = [this](uint64_t t) {
      const Cell& c = cells_[t >> 8];
      std::size_t p = t & 0xff;
      put_inst(c);
      put(".");
      put(p < c.kind->ins.size() ? c.kind->ins[p] : c.kind->outs[p - c.kind->ins.size()]);
    };
    for (std::size_t s = 0; s < nsig; ++s) {
      bool has_out = out_slot[s] >= 0;
      if (nr[s + 1] == nr[s] && !has_out) continue;  // read by nobody
      put("  (def-net");
      if (s < static_cast<std::size_t>(plan_.inputs)) put(" " + in_name(static_cast<int>(s)));
      for (uint32_t i = nd[s]; i < nd[s + 1]; ++i) put(" "), put_term(drv[i]);
      for (uint32_t i = nr[s]; i < nr[s + 1]; ++i) put(" "), put_term(rd[i]);
      if (has_out)
        for (uint32_t o : outs_of[static_cast<std::size_t>(out_slot[s])]) put(" " + out_name(o));
      put(")\n");
      flush(false);
    }
    if (clocked_) {
      put("  (def-net m_clock");
      int n = 0;
      for (const Cell& c : cells_)
        if (c.kind->clocked) {
          put(++n % 12 == 0 ? "\n   " : " ");
          put_inst(c);
          put(".m_clock");
          flush(false);
        }
      put(")\n");
    }
    put(")\n");
    flush(true);
    if (std::fclose(file_) != 0) throw std::runtime_error("write failed: " + path);
  }

  const ModulePlan& plan_;
  Rng& rng_;
  std::vector<Cell> cells_;
  std::vector<int> conn_;
  std::vector<uint32_t> reads_;
  std::vector<char> is_const_;
  std::vector<int> fresh_;  // signals in order of creation; unread ones are candidates
  std::size_t head_ = 0;
  std::vector<int> out_sig_;
  bool clocked_ = false;
  uint32_t counter_[256] = {};
  std::string text_;
  FILE* file_ = nullptr;
};

// ---------------------------------------------------------------- designs

struct Options {
  // flat: one module of `cells` cells.  hier: the top module holds `copies`
  // instances of a leaf module, or, with mid > 0, `mid` instances of a
  // middle module holding copies / mid leaf instances each.
  bool hier = false;
  long cells = 10000;
  long copies = 1000;
  long mid = 0;
  int leaf_cells = 10;
  int inputs = 0;               // top inputs (0: chosen from the size)
  int outputs = 0;              // top outputs at least (0: chosen from the size)
  int reg_permille = 30;        // registers among the cells of the flat design
  int glue_permille = 250;      // hier: gates per module instance in top and mid
  uint64_t seed = 1;
  bool no_inv = false;          // no inverter anywhere: the copy path
  int tristate = 0;             // tri-state buses in the top module
  int fixed = 0;                // instances of a module of the read-only dir
  int pcd = 0;                  // instances of a PCD library cell
  long fanout = 0;              // flat: gates reading one inverted input (plus `cells`)
  long fanout_exor = 0;         // every this-many-th of them an exclusive-or cell (0: none)
  int twice_permille = 0;       // gate inputs repeating another input's signal
  int bidirect_permille = 0;    // top outputs written as bidirect pins
  int undriven_permille = 0;    // gate inputs on nets nothing drives
  int inverter_weight = 100;    // weight of inverters in the cell mix (gates: about 1000)
  std::string top = "top";
  std::string dir;              // optimisation dir; read-only modules go to dir/ro
};

struct Summary {
  std::string top, dir, ro_dir;
  long cells = 0;       // every component of the flattened design
  long inverters = 0;   // "inv-" cells, as the tool counts them before its run
  long registers = 0;
  long copies = 0;      // module copies the loader makes (top included)
  long files = 0;       // files written
  long top_cells = 0;   // components of the top module's own text
  int outputs = 0;
};

namespace detail {

// Fills plan.logic with `n` cells drawn from the mix.
inline void draw_logic(ModulePlan& plan, const std::vector<Weighted>& mix, long n, Rng& rng) {
  int total = 0;
  for (const Weighted& w : mix) total += w.weight;
  for (long i = 0; i < n; ++i) {
    int r = static_cast<int>(rng.below(static_cast<uint64_t>(total)));
    for (const Weighted& w : mix) {
      if (r < w.weight) {
        plan.logic.push_back(&w.kind);
        break;
      }
      r -= w.weight;
    }
  }
}

// Puts `count` instances of `k` at random places among plan.logic.
inline void scatter(ModulePlan& plan, const Kind* k, long count, Rng& rng) {
  for (long i = 0; i < count; ++i) {
    std::size_t at = static_cast<std::size_t>(rng.below(plan.logic.size() + 1));
    plan.logic.insert(plan.logic.begin() + static_cast<long>(at), k);
  }
}

}  // namespace detail

// Writes the design into opt.dir (and opt.dir + "/ro" for fixed modules).
// Run it as: zelk <top> <dir> -r <dir>/ro -w <out>.
inline Summary generate(const Options& opt) {
  namespace fs = std::filesystem;
  Rng rng(opt.seed);
  Summary sum;
  sum.top = opt.top;
  sum.dir = opt.dir;
  sum.ro_dir = opt.dir + "/ro";
  fs::create_directories(opt.dir);
  fs::create_directories(sum.ro_dir);

  std::vector<Weighted> mix = gate_mix(!opt.no_inv, opt.inverter_weight);
  Kind reg = reg_kind(), high = const_kind(true), low = const_kind(false), ts = ts_buf_kind();
  std::string made = "synthetic gate-level design, seed " + std::to_string(opt.seed);

  ModulePlan top;
  top.name = opt.top;
  top.comment = made;
  top.ts_buf = &ts;
  top.twice_permille = opt.twice_permille;
  top.bidirect_permille = opt.bidirect_permille;
  top.undriven_permille = opt.undriven_permille;
  if (opt.fanout > 0) {
    top.hub_readers = opt.fanout;
    top.hub_inv = &mix[0].kind;
    for (const Weighted& w : mix) {
      if (w.kind.name == "nand--2") top.hub_gate = &w.kind;
      if (w.kind.name == "eor--2") top.hub_exor = &w.kind;
    }
    top.hub_exor_every = opt.fanout_exor;
  }

  // Side modules: a fixed module in the read-only dir, a PCD library cell.
  Kind fixed_kind, pcd_kind;
  std::vector<Kind> sub;  // generated module kinds, kept alive
  sub.reserve(4);
  if (opt.fixed > 0) {
    ModulePlan f;
    f.name = "fixblk";
    f.comment = "fixed block, " + made;
    f.inputs = 3;
    f.outputs = 2;
    detail::draw_logic(f, mix, 6, rng);
    if (!opt.no_inv) f.logic.insert(f.logic.begin() + 2, &mix[0].kind);
    fixed_kind = ModuleWriter(f, rng).build(sum.ro_dir + "/fixblk.nld").kind;
    fixed_kind.prefix = 'F';
    ++sum.files;
  }
  if (opt.pcd > 0) {
    FILE* f = std::fopen((opt.dir + "/pnand2.pcd").c_str(), "w");
    if (!f) throw std::runtime_error("cannot write " + opt.dir + "/pnand2.pcd");
    std::fputs(
        "; pnand2: library cell\n"
        "(def-module pnand2 area 2 cell_name pnand2\n"
        "  (def-pin a type input load 1)\n"
        "  (def-pin b type input load 1)\n"
        "  (def-pin y type output))\n",
        f);
    std::fclose(f);
    pcd_kind.name = "pnand2";
    pcd_kind.ins = {"a", "b"};
    pcd_kind.outs = {"y"};
    pcd_kind.prefix = 'P';
    pcd_kind.copies = 1;
    ++sum.files;
  }

  long side = opt.fixed + opt.pcd;
  if (!opt.hier) {
    long n = opt.cells;
    long regs = n * opt.reg_permille / 1000;
    long consts = 1 + n / 50000;
    long bus_cells = opt.tristate * 3L;  // about three drivers a bus
    long logic = std::max(1L, n - regs - 2 * consts - bus_cells - side);
    top.inputs = opt.inputs > 0 ? opt.inputs : static_cast<int>(std::min(2000L, 8 + n / 100));
    top.outputs = opt.outputs > 0 ? opt.outputs : static_cast<int>(std::min(2000L, 4 + n / 200));
    for (long i = 0; i < regs; ++i) top.regs.push_back(&reg);
    for (long i = 0; i < consts; ++i) top.consts.push_back(&high), top.consts.push_back(&low);
    detail::draw_logic(top, mix, logic, rng);
  } else {
    // Leaf: a handful of gates with inverters between them.
    ModulePlan leaf;
    leaf.name = "leaf";
    leaf.comment = "leaf module, " + made;
    leaf.inputs = 4;
    leaf.outputs = 2;
    // Every leaf holds two inverters, one at its inputs and one inside; its
    // other cells are gates.
    std::vector<Weighted> gates = gate_mix(false);
    detail::draw_logic(leaf, gates, std::max(1, opt.leaf_cells - (opt.no_inv ? 0 : 2)), rng);
    if (!opt.no_inv) {
      leaf.logic.insert(leaf.logic.begin(), &mix[0].kind);
      leaf.logic.insert(leaf.logic.begin() + static_cast<long>(leaf.logic.size() / 2), &mix[0].kind);
    }
    sub.push_back(ModuleWriter(leaf, rng).build(opt.dir + "/leaf.nld").kind);
    ++sum.files;
    long per_top = opt.copies;
    if (opt.mid > 0) {
      long per_mid = std::max(1L, opt.copies / opt.mid);
      ModulePlan mid;
      mid.name = "mid";
      mid.comment = "middle module, " + made;
      mid.inputs = 8;
      mid.outputs = 4;
      detail::draw_logic(mid, mix, per_mid * opt.glue_permille / 1000, rng);
      detail::scatter(mid, &sub.back(), per_mid, rng);
      Kind mk = ModuleWriter(mid, rng).build(opt.dir + "/mid.nld").kind;
      sub.push_back(mk);
      ++sum.files;
      per_top = opt.mid;
    }
    top.inputs = opt.inputs > 0 ? opt.inputs : static_cast<int>(std::min(64L, 4 + per_top));
    top.outputs = opt.outputs > 0 ? opt.outputs : static_cast<int>(std::min(32L, 2 + per_top / 2));
    detail::draw_logic(top, mix, std::max(1L, per_top * opt.glue_permille / 1000), rng);
    detail::scatter(top, &sub.back(), per_top, rng);
  }
  if (opt.fixed > 0) detail::scatter(top, &fixed_kind, opt.fixed, rng);
  if (opt.pcd > 0) detail::scatter(top, &pcd_kind, opt.pcd, rng);
  for (int b = 0; b < opt.tristate; ++b)
    top.bus_after.push_back(static_cast<int>(rng.below(top.logic.size())));
  std::sort(top.bus_after.begin(), top.bus_after.end());

  ModuleWriter w(top, rng);
  Built t = w.build(opt.dir + "/" + opt.top + ".nld");
  ++sum.files;
  sum.cells = t.kind.cells;
  sum.inverters = t.kind.inverters;
  sum.registers = t.kind.registers;
  sum.copies = t.kind.copies;
  sum.top_cells = t.cells;
  sum.outputs = static_cast<int>(t.kind.outs.size());
  return sum;
}

}  // namespace zelkgen

// ---------------------------------------------------------------- corner mode

// Small hierarchical designs full of corner cases, for checking that what
// zelk writes computes what it read: module pins of every type crossing a
// boundary in both directions, with and without an inverter on either side;
// every register kind; constants and supply pins; tristate buses; library
// cells; read-only modules; several copies of one module.  This is the
// generator's corner mode: it shares the random source of the large designs.
namespace zelkgen {

struct CornerDesign {
  std::map<std::string, std::string> opt;  // file name -> text, optimisation directory
  std::map<std::string, std::string> lib;  // read-only directory: fixed modules, library cells
};

namespace corner_detail {

// Pin types by the side that drives the pin.  A pin declared unused-connected
// may take either polarity of its net, so it is left out.  So is a global
// pin driven inside its copy: where the parent connects it, it stands for
// the global signal of its name unless the parent's net is otherwise
// untyped, which the checker's model of the design does not follow.
inline const std::vector<const char*> kInTypes = {
    "input", "input-connected", "global", "clock", "scan_in", "scan_enb",
    "static", "undefined", "unused", "bidirect"};
inline const std::vector<const char*> kOutTypes = {
    "output", "output-connected", "scan_out", "static", "undefined", "clock",
    "bidirect", "tristate"};

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
      // A read-only module's second output is a scan output (no draw: the
      // designs of every seed stay as they were but for that type).
      const char* fixed_type = i == 2 ? "scan_out" : "output";
      w.pin(k.outs.back(), fixed ? fixed_type : kOutTypes[rng.below(kOutTypes.size())], false);
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
