// Grouping of each rebuilt module's components for writing, and the three
// numbered name series: new module names for used opened copies, instance
// names for gates, and pin names for new ports.
//
// Every series only moves forward and checks its candidates against sets
// built once per call (a gate series, against the sorted numbers taken in
// its own form), so naming stays linear in the size of the design even for
// many copies of one module or a million gates.
#include "netlist/classes.h"
#include "rebuild/naming.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "reader/reader.h"

namespace zelk {

namespace {

// A series that reaches this number without a free name ends the run.
constexpr long kNameLimit = 10000000;


void reverse(char* text, int length) {
  for (int i = 0, j = length - 1; i < j; ++i, --j) {
    char c = text[i];
    text[i] = text[j];
    text[j] = c;
  }
}

// Writes the decimal digits of k (k >= 0) into buf, lowest digit first,
// then puts them in reading order.  Returns the number of digits.
int itoa(long k, char* buf) {
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + k % 10);
    k /= 10;
  } while (k > 0);
  reverse(buf, n);
  buf[n] = '\0';
  return n;
}

// The candidate text of a series, built into a reused buffer so that
// rejected candidates cost no allocation.
void candidate(std::string& out, std::string_view base, long k, NameForm form) {
  char digits[24];
  int n = itoa(k, digits);
  out.assign(base);
  if (form == NameForm::kModule) out.push_back('-');
  out.append(digits, static_cast<std::size_t>(n));
}

using NameSet = std::unordered_set<std::string_view>;
using NameCount = std::unordered_map<std::string_view, int>;

int count_of(const NameCount& c, std::string_view s) {
  auto it = c.find(s);
  return it == c.end() ? 0 : it->second;
}

void add_count(NameCount& c, const char* s) {
  if (s) ++c[s];
}

bool is_tree_class(int cls) {
  return (cls >= kAnd && cls <= kNor) || cls == kAoi || cls == kOai;
}


// Names a new gate or pin must not take in module m: the written pins, the
// instances of user modules and the components that keep their names
// (registers, constant cells, tri-state buffers, bus gates).  The top
// module writes every pin, so all its named pins count when `all_pins`.
NameSet taken_names(const Module* m, bool all_pins) {
  NameSet taken;
  for (const Instance* p = m->pins; p; p = p->next) {
    if (!p->name) continue;
    if (all_pins || p->pin_use != kPinUnconnected) taken.insert(p->name);
  }
  for (const CompGroup* g = m->comp_groups; g; g = g->next) {
    if (!g->first) continue;
    int cls = g->first->cls;
    if (cls != kUser && !keeps_name(cls)) continue;
    // These groups never have fan-in subgroups, but follow them all the same.
    const CompGroup* parts[3] = {g, g->smaller, g->larger};
    for (const CompGroup* part : parts)
      for (const Instance* i = part ? part->first : nullptr; i; i = i->next)
        if (i->name) taken.insert(i->name);
  }
  return taken;
}

// Builds the fan-in search tree under root g from g's instance list.  The
// tree has the shape that inserting the instances one by one (in list
// order) gives; a sorted index finds each fan-in's group, and a new group
// is hung under its in-order neighbour that was inserted later, which is
// where the insertion walk would have put it.
void make_comp_tree_of(Design& d, CompGroup* root) {
  Instance* list = root->first;
  root->first = nullptr;
  std::map<int, CompGroup*> by_fan_in;
  Instance* next;
  for (Instance* i = list; i; i = next) {
    next = i->next;
    i->next = nullptr;
    if (!root->first) {
      root->first = i;
      by_fan_in.emplace(i->fan_in, root);
      continue;
    }
    auto it = by_fan_in.lower_bound(i->fan_in);
    if (it != by_fan_in.end() && it->first == i->fan_in) {
      CompGroup* g = it->second;
      i->next = g->first;
      g->first = i;
      continue;
    }
    CompGroup* g = d.make<CompGroup>();
    g->first = i;
    CompGroup* succ = it != by_fan_in.end() ? it->second : nullptr;
    CompGroup* pred = it != by_fan_in.begin() ? std::prev(it)->second : nullptr;
    if (pred && !pred->larger) {
      pred->larger = g;
    } else if (succ && !succ->smaller) {
      succ->smaller = g;
    } else {
      fail();  // cannot happen in a search tree
    }
    by_fan_in.emplace_hint(it, i->fan_in, g);
  }
}

void make_comp_tree(Design& d, Module* m) {
  for (CompGroup* g = m->comp_groups; g; g = g->next)
    if (g->first && is_tree_class(g->first->cls)) make_comp_tree_of(d, g);
}

// For each base, the numbers k >= 1 for which base followed by the digits
// of k is taken, in ascending order: one walk of the set for all the
// module's gate series.  A gate series only moves forward, so it steps over
// them in turn instead of asking the set for every candidate: the set of a
// large module is far bigger than the caches.
std::vector<std::vector<long>> taken_numbers(const NameSet& taken,
                                             const std::vector<std::string_view>& bases) {
  std::vector<std::vector<long>> numbers(bases.size());
  if (bases.empty()) return numbers;
  for (std::string_view s : taken) {
    for (std::size_t b = 0; b < bases.size(); ++b) {
      const std::string_view base = bases[b];
      if (s.size() <= base.size() || s.substr(0, base.size()) != base) continue;
      std::string_view digits = s.substr(base.size());
      if (digits[0] == '0') continue;  // no candidate has a leading zero
      long k = 0;
      for (char c : digits) {
        // Past the series' limit no candidate is left to clash with.
        if (c < '0' || c > '9' || k >= kNameLimit) {
          k = 0;
          break;
        }
        k = k * 10 + (c - '0');
      }
      if (k > 0 && k < kNameLimit) numbers[b].push_back(k);
    }
  }
  for (std::vector<long>& n : numbers) std::sort(n.begin(), n.end());
  return numbers;
}

// Names the gates of one root group and its fan-in subgroups, in
// ascending fan-in order, from one running counter that steps over the
// numbers taken in its series (`skip`).
void inst_name_tree(Design& d, CompGroup* root, std::string_view base_view,
                    const std::vector<long>& skip) {
  std::size_t next_skip = 0;
  std::string buf;
  long k = 1;
  // In-order walk with an explicit stack: fan-in trees may be deep.
  std::vector<CompGroup*> stack;
  CompGroup* g = root;
  while (g || !stack.empty()) {
    while (g) {
      stack.push_back(g);
      g = g->smaller;
    }
    g = stack.back();
    stack.pop_back();
    for (Instance* i = g->first; i; i = i->next) {
      for (;; ++k) {
        if (k >= kNameLimit) fail();
        while (next_skip < skip.size() && skip[next_skip] < k) ++next_skip;
        if (next_skip == skip.size() || skip[next_skip] != k) break;
      }
      candidate(buf, base_view, k, NameForm::kGate);
      i->name = d.strsave(buf);
      ++k;
    }
    g = g->larger;
  }
}

// If `name` is exactly base "-" k for some k in [1, limit), returns k;
// otherwise 0.
long module_series_number(const char* name, std::string_view base, long limit) {
  if (!name) return 0;
  std::string_view s(name);
  if (s.size() < base.size() + 2 || s.substr(0, base.size()) != base ||
      s[base.size()] != '-')
    return 0;
  std::string_view digits = s.substr(base.size() + 1);
  if (digits.size() > 7 || digits[0] == '0') return 0;
  long k = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return 0;
    k = k * 10 + (c - '0');
  }
  return k < limit ? k : 0;
}

}  // namespace

const char* make_name(Design& d, const char* base, long k, NameForm form) {
  std::string buf;
  candidate(buf, base ? base : "", k, form);
  return d.strsave(buf);
}

void make_comp(Design& d, Module* m) {
  m->comp_groups = nullptr;
  // The group a walk of comp_groups would find first: groups are pushed on
  // the front, so it is the latest one made for that class (module name).
  std::unordered_map<int, CompGroup*> by_class;
  std::unordered_map<std::string_view, CompGroup*> by_module;
  Instance* next;
  for (Instance* i = m->comps; i; i = next) {
    next = i->next;
    i->next = nullptr;
    if (i->written != 1) continue;
    CompGroup* g = nullptr;
    if (i->cls == kUser) {
      // An opened copy gets a name of its own, so it always starts a group.
      bool opened = i->def && i->def->state == kStateOpen;
      if (!opened && i->class_name) {
        auto it = by_module.find(i->class_name);
        if (it != by_module.end()) g = it->second;
      }
    } else {
      auto it = by_class.find(i->cls);
      if (it != by_class.end()) g = it->second;
    }
    if (g) {
      i->next = g->first;
      g->first = i;
      continue;
    }
    g = d.make<CompGroup>();
    g->first = i;
    g->next = m->comp_groups;
    m->comp_groups = g;
    if (i->cls == kUser) {
      if (i->class_name) by_module[i->class_name] = g;
    } else {
      by_class[i->cls] = g;
    }
  }
  make_comp_tree(d, m);
}

void class_name(Design& d) {
  Module* top = d.top;
  if (!top) return;
  auto renamed = [](const Module* m) {
    return m->state == kStateOpen && m->inst && m->inst->written == 1;
  };
  // Module names that block a candidate: every module before the one being
  // named, and the modules after it that keep their names (not opened).
  NameCount names;
  // Instance names block a candidate for every module but the one holding
  // them.  Those of copies still to be renamed are kept apart, so that a
  // copy may take a name equal to its own instance name.
  NameCount inst_done;
  NameCount inst_pending;
  add_count(names, top->name);
  add_count(inst_done, top->inst_name);
  for (Module* m = top->next; m; m = m->next) {
    if (m->state != kStateOpen) add_count(names, m->name);
    add_count(renamed(m) ? inst_pending : inst_done, m->inst_name);
  }

  // Per base name: every candidate below the hint was rejected for an
  // earlier copy by a rule that holds for all later copies too.
  std::unordered_map<std::string, long> hints;
  std::string buf;
  for (Module* m = top->next; m; m = m->next) {
    if (renamed(m)) {
      std::string_view own_inst = m->inst_name ? m->inst_name : std::string_view();
      auto blocked_elsewhere = [&](std::string_view s) {
        if (count_of(names, s) > 0 || count_of(inst_done, s) > 0) return true;
        int pending = count_of(inst_pending, s);
        if (m->inst_name && s == own_inst) --pending;
        return pending > 0;
      };
      NameSet own;  // components of this copy that keep their names
      for (const Instance* c = m->comps; c; c = c->next)
        if (keeps_name(c->cls) && c->name) own.insert(c->name);

      std::string base(m->name ? m->name : "");
      long& hint = hints[base];
      if (hint < 1) hint = 1;
      long chosen = 0;
      // Below the hint only a candidate blocked by nothing but this copy's
      // own instance name can be free.
      long k0 = module_series_number(m->inst_name, base, hint);
      if (k0 > 0 && !blocked_elsewhere(own_inst) && !own.count(own_inst)) chosen = k0;
      bool advancing = true;
      for (long k = hint; !chosen; ++k) {
        if (k >= kNameLimit) fail();
        candidate(buf, base, k, NameForm::kModule);
        if (blocked_elsewhere(buf)) {
          if (advancing) hint = k + 1;
          continue;
        }
        advancing = false;
        if (own.count(buf)) continue;
        chosen = k;
      }
      m->name = make_name(d, base.c_str(), chosen, NameForm::kModule);
      if (m->inst_name) {
        --inst_pending[m->inst_name];
        ++inst_done[m->inst_name];
      }
    }
    if (m->state == kStateOpen) add_count(names, m->name);
  }
}

namespace {

void inst_name(Design& d, Module* m, const NameSet& taken) {
  std::vector<CompGroup*> roots;
  std::vector<std::string_view> bases;
  for (CompGroup* g = m->comp_groups; g; g = g->next) {
    if (!g->first || g->first->cls >= kReg1) continue;
    const char* base = inv_screen(g->first->cls, kCellTable);
    if (!base) fail();
    roots.push_back(g);
    bases.emplace_back(base);
  }
  const std::vector<std::vector<long>> skips = taken_numbers(taken, bases);
  for (std::size_t k = 0; k < roots.size(); ++k) inst_name_tree(d, roots[k], bases[k], skips[k]);
}

// `taken` gains the new names.
void pin_name(Design& d, Module* m, NameSet& taken) {
  long out_k = 1, in_k = 1;
  std::string buf;
  for (Instance* p = m->pins; p; p = p->next) {
    if (p->name) continue;
    long* k;
    const char* base;
    switch (p->type) {
      case kwBidirect:
      case kwBidirectConnected:
      case kwOutput:
      case kwOutputConnected:
      case kwTristate:
      case kwTristateConnected:
        k = &out_k;
        base = "out";
        break;
      case kwInput:
      case kwInputConnected:
        k = &in_k;
        base = "in";
        break;
      default:
        continue;
    }
    for (;; ++*k) {
      if (*k >= kNameLimit) fail();
      candidate(buf, base, *k, NameForm::kPin);
      if (!taken.count(buf)) break;
    }
    p->name = d.strsave(buf);
    taken.insert(p->name);
    if (p->link) p->link->pin_name = p->name;
  }
}

}  // namespace

void inst_name(Design& d, Module* m) { inst_name(d, m, taken_names(m, m == d.top)); }

void inst_and_pin_name(Design& d, Module* m) {
  if (m == d.top) {
    inst_name(d, m);
    NameSet taken = taken_names(m, false);
    pin_name(d, m, taken);
    return;
  }
  // Below the top both series avoid the same names, which naming the
  // gates does not change: gathered once.
  NameSet taken = taken_names(m, false);
  inst_name(d, m, taken);
  pin_name(d, m, taken);
}

// Every terminal that the rebuild made for a port has its partner: on a
// signal or tristate net, or on a control net that reached into copies.
void other_pin_name(const std::vector<Link*>& on_copies) {
  for (Link* t : on_copies)
    if (t->partner) t->pin_name = t->partner->pin_name;
}

}  // namespace zelk
