// Loading a design: the top module's file, then level by level the file or
// a copy of every instantiated user module, so that each instance of the
// instance tree owns a module copy of its own.
#include <algorithm>
#include <bit>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "loader/loader.h"
#include "netlist/classes.h"
#include "reader/reader.h"

namespace zelk {

namespace {

// Closes a file opened for parsing, also when the parser throws.
struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

enum class Kind { Nld, Pcd };

// Parses the open file at `path` and announces it.
Module* parse_file(Design& d, FILE* file, const std::string& path, Kind kind) {
  Module* m = nullptr;
  {
    FilePtr guard(file);
    Source in(file);
    m = kind == Kind::Pcd ? pcd_par(d, in, path) : nld_par(d, in, path);
  }
  if (m == nullptr) fail();
  d.sayf("\tRead %s\n", path.c_str());
  return m;
}

FILE* try_open(const std::string& path) { return std::fopen(path.c_str(), "r"); }

// How to rebuild one module's nets in a copy: for each terminal, in net
// list order, the index of the pin (or component) of the first element of
// that name in list order.  A module may be copied for every one of many
// instances, so the name lookups are made once per source module.
struct CopyPlan {
  std::vector<uint32_t> net_sizes;  // terminals per net, in net order
  std::vector<int32_t> targets;     // >= 0: component index; < 0: pin index -1 - v
};

// The names on the path from the top module down to each module copy, for
// the loop check: one persistent set of name numbers per module copy that
// instantiates user modules.  A set is a 32-way trie over the bits of the
// number; adding a name copies only the few nodes on its way down, so a copy's
// set costs a few words more than its parent's and a test a few steps,
// whatever the depth of the hierarchy and however many siblings share the
// parent's set.
class PathSets {
 public:
  struct Set {
    const uint64_t* root = nullptr;  // word 0: present slots; then the children
    int levels = 1;                  // numbers below 32^levels fit
  };

  bool contains(Set s, uint32_t key) const {
    if (static_cast<uint64_t>(key) >> (kBits * s.levels) != 0) return false;
    const uint64_t* node = s.root;
    for (int level = s.levels; node; --level) {
      uint32_t slot = key >> (kBits * (level - 1)) & kMask;
      uint64_t bits = node[0];
      if ((bits >> slot & 1) == 0) return false;
      if (level == 1) return true;
      node = child(node, rank(bits, slot));
    }
    return false;
  }

  Set insert(Set s, uint32_t key) {
    if (contains(s, key)) return s;
    while (static_cast<uint64_t>(key) >> (kBits * s.levels) != 0) {
      if (s.root) {
        uint64_t* up = alloc(2);
        up[0] = 1;
        up[1] = reinterpret_cast<uint64_t>(s.root);
        s.root = up;
      }
      ++s.levels;
    }
    s.root = insert(s.root, s.levels, key);
    return s;
  }

 private:
  static constexpr int kBits = 5;
  static constexpr uint32_t kMask = 31;

  static int rank(uint64_t bits, uint32_t slot) {
    return std::popcount(bits & ((uint64_t{1} << slot) - 1));
  }
  static const uint64_t* child(const uint64_t* node, int i) {
    return reinterpret_cast<const uint64_t*>(node[1 + i]);
  }

  // The node that holds everything `node` holds, and key.  Levels are few
  // (at most seven), so the recursion is shallow.
  const uint64_t* insert(const uint64_t* node, int level, uint32_t key) {
    uint32_t slot = key >> (kBits * (level - 1)) & kMask;
    uint64_t bits = node ? node[0] : 0;
    if (level == 1) {
      uint64_t* leaf = alloc(1);
      leaf[0] = bits | uint64_t{1} << slot;
      return leaf;
    }
    int count = std::popcount(bits);
    int pos = rank(bits, slot);
    bool present = (bits >> slot & 1) != 0;
    const uint64_t* below = insert(present ? child(node, pos) : nullptr, level - 1, key);
    uint64_t* copy = alloc(1 + count + (present ? 0 : 1));
    copy[0] = bits | uint64_t{1} << slot;
    int from = 0;
    for (int i = 0; i < count + (present ? 0 : 1); ++i) {
      if (i == pos) {
        copy[1 + i] = reinterpret_cast<uint64_t>(below);
        if (present) ++from;
      } else {
        copy[1 + i] = node[1 + from++];
      }
    }
    return copy;
  }

  uint64_t* alloc(std::size_t words) {
    if (left_ < words) {
      std::size_t size = std::max<std::size_t>(words, kBlockWords);
      blocks_.push_back(std::make_unique<uint64_t[]>(size));
      next_ = blocks_.back().get();
      left_ = size;
    }
    uint64_t* p = next_;
    next_ += words;
    left_ -= words;
    return p;
  }

  static constexpr std::size_t kBlockWords = std::size_t{1} << 16;
  std::vector<std::unique_ptr<uint64_t[]>> blocks_;
  uint64_t* next_ = nullptr;
  std::size_t left_ = 0;
};

class Loader {
 public:
  explicit Loader(Design& d) : d_(d) {}

  void load(const std::string& name);

 private:
  Module* read_module2(const char* name);
  uint32_t number(const char* name);
  void enter_path(Module* m);
  void check_loop(const Instance* c, const Module* m) const;
  Module* original(const char* class_name) const;
  void append(Module* m);
  Module* copy_module(const Module* src);
  const CopyPlan& plan_for(const Module* src);
  void ring_terminals(Module* m);
  void check_terminals(Module* m);

  Design& d_;
  std::string last_read_;  // the file read last: a copy never fails the terminal count
  std::string top_cell_;  // the cell name the top module was loaded through
  Module* tail_ = nullptr;
  // Module name -> first module of that name in the list.
  std::unordered_map<std::string_view, Module*> first_by_name_;
  std::unordered_map<const Module*, CopyPlan> plans_;
  // Loop check: a number per distinct module or cell name, and for each
  // module copy that instantiates user modules (by Module::id) the set of the
  // names on its path.
  std::unordered_map<std::string_view, uint32_t> numbers_;
  PathSets path_sets_;
  std::vector<PathSets::Set> path_of_;

  // Scratch of ring_terminals, check_terminals and copy_module, kept across
  // calls.
  std::vector<Link*> saved_links_;
  std::vector<Link*> terms_;  // a chunk of terminals
  std::vector<Instance*> pins_, comps_;
};

void Loader::append(Module* m) {
  m->next = nullptr;
  if (tail_) tail_->next = m;
  else d_.top = m;
  tail_ = m;
  first_by_name_.try_emplace(std::string_view(m->name), m);
}

Module* Loader::original(const char* class_name) const {
  auto it = first_by_name_.find(std::string_view(class_name));
  return it == first_by_name_.end() ? nullptr : it->second;
}

void Loader::load(const std::string& name) {
  top_cell_ = name;
  FILE* f = nullptr;
  std::string path;
  for (const std::string& dir : d_.options.opt_dir) {
    path = f_name(name, dir, "nld");
    if ((f = try_open(path)) != nullptr) break;
  }
  if (f == nullptr) fail("Could not find \"" + name + ".nld\"\n");
  Module* top = parse_file(d_, f, path, Kind::Nld);
  last_read_ = path;
  top->state = kStateOpen;
  top->inst_name = top->name;
  top->parent = nullptr;
  top->depth = 0;
  append(top);
  check_terminals(top);

  // Breadth first: copies appended while walking are visited in turn.
  for (Module* m = d_.top; m; m = m->next) {
    if (m->state == kStateCell) continue;
    bool entered = false;
    for (Instance* c = m->comps; c; c = c->next) {
      if (c->cls != kUser) continue;
      if (!entered) enter_path(m);
      entered = true;
      check_loop(c, m);
      Module* o = original(c->class_name);
      Module* made = o ? copy_module(o) : read_module2(c->class_name);
      made->parent = m;
      append(made);
      c->def = made;
      made->inst = c;
      made->inst_name = c->name;
      made->depth = m->depth + 1;
      if (o) ring_terminals(made);
      check_terminals(made);
    }
  }
}

uint32_t Loader::number(const char* name) {
  auto [it, fresh] =
      numbers_.try_emplace(std::string_view(name), static_cast<uint32_t>(numbers_.size()));
  return it->second;
}

// Makes m's path set: its parent's, with m's own name and the cell name it
// was loaded through.  Its parent instantiates m, so the parent's set exists.
void Loader::enter_path(Module* m) {
  std::size_t id = static_cast<std::size_t>(m->id);
  if (path_of_.size() <= id) path_of_.resize(std::max<std::size_t>(id + 1, 2 * path_of_.size()));
  PathSets::Set s = m->parent ? path_of_[static_cast<std::size_t>(m->parent->id)] : PathSets::Set{};
  s = path_sets_.insert(s, number(m->name ? m->name : ""));
  s = path_sets_.insert(s, number(m->parent ? m->inst->class_name : top_cell_.c_str()));
  path_of_[id] = s;
}

// An instance of m, or of a module above it, inside m would expand forever.
// Modules are compared by name and by the cell name they were loaded
// through, since a file's def-module name may differ from its file name.
void Loader::check_loop(const Instance* c, const Module* m) const {
  if (!c->class_name) return;
  auto it = numbers_.find(std::string_view(c->class_name));
  if (it != numbers_.end() && path_sets_.contains(path_of_[static_cast<std::size_t>(m->id)], it->second))
    fail_quietly("module \"" + std::string(c->class_name) + "\" contains itself: instance \"" +
                 (c->name ? c->name : "") + "\" of \"" + c->class_name + "\" in \"" + m->name + "\"");
}

Module* Loader::read_module2(const char* name) {
  struct Step {
    const char* ext;
    const std::vector<std::string>* dirs;
    Kind kind;
    int16_t state;
  };
  // A cell description anywhere wins over a module file anywhere; within
  // one kind, optimisation directories win over read-only ones.
  const Step steps[] = {
      {"pcd", &d_.options.opt_dir, Kind::Pcd, kStateCell},
      {"pcd", &d_.options.read_dir, Kind::Pcd, kStateCell},
      {"nld", &d_.options.opt_dir, Kind::Nld, kStateOpen},
      {"nld", &d_.options.read_dir, Kind::Nld, kStateFixed},
  };
  for (const Step& s : steps) {
    for (const std::string& dir : *s.dirs) {
      std::string path = f_name(name, dir, s.ext);
      if (FILE* f = try_open(path)) {
        Module* m = parse_file(d_, f, path, s.kind);
        last_read_ = path;
        m->state = s.state;
        return m;
      }
    }
  }
  fail("Could not find \"" + std::string(name) + ".pcd/nld\"\n");
}

const CopyPlan& Loader::plan_for(const Module* src) {
  auto [it, fresh] = plans_.try_emplace(src);
  CopyPlan& plan = it->second;
  if (!fresh) return plan;
  // First element of each name in list order, as a walk from the head
  // would find it in the copy (which keeps the source's order).
  std::unordered_map<std::string_view, int32_t> pin_index, comp_index;
  int32_t i = 0;
  for (const Instance* p = src->pins; p; p = p->next, ++i)
    if (p->name) pin_index.try_emplace(std::string_view(p->name), i);
  i = 0;
  for (const Instance* c = src->comps; c; c = c->next, ++i)
    if (c->name) comp_index.try_emplace(std::string_view(c->name), i);
  for (const Net* n = src->nets; n; n = n->next) {
    uint32_t size = 0;
    for (const Link* l = n->links; l; l = l->next, ++size) {
      if (l->inst->cls == kPin) {
        auto f = l->pin_name ? pin_index.find(std::string_view(l->pin_name)) : pin_index.end();
        if (f == pin_index.end()) fail();
        plan.targets.push_back(-1 - f->second);
      } else {
        auto f = l->inst->name ? comp_index.find(std::string_view(l->inst->name))
                               : comp_index.end();
        if (f == comp_index.end()) fail();
        plan.targets.push_back(f->second);
      }
    }
    plan.net_sizes.push_back(size);
  }
  return plan;
}

// A copy of one module's own contents (not of the modules below it).
// Names are shared with the source rather than duplicated: strings are never
// changed in place (a renamed record gets a new string), and a design of
// 10^5 copies would otherwise hold 10^5 copies of every name.
Module* Loader::copy_module(const Module* src) {
  const CopyPlan& plan = plan_for(src);
  Module* m = d_.new_module();
  m->name = src->name;
  m->state = src->state;
  m->pin_named_again = src->pin_named_again;

  std::vector<Instance*>& pins = pins_;
  std::vector<Instance*>& comps = comps_;
  pins.clear();
  comps.clear();
  Instance** pin_tail = &m->pins;
  for (const Instance* p = src->pins; p; p = p->next) {
    Instance* q = d_.make<Instance>();
    q->cls = kPin;
    q->name = p->name;
    q->type = p->type;
    q->note = p->note;
    q->module = m;
    *pin_tail = q;
    pin_tail = &q->next;
    pins.push_back(q);
  }
  Instance** comp_tail = &m->comps;
  for (const Instance* c = src->comps; c; c = c->next) {
    Instance* q = d_.make<Instance>();
    q->cls = c->cls;
    q->name = c->name;
    q->fan_in = c->fan_in;
    if (c->cls == kUser) q->class_name = c->class_name;
    q->module = m;
    *comp_tail = q;
    comp_tail = &q->next;
    comps.push_back(q);
  }

  std::size_t t = 0, k = 0;
  Net** net_tail = &m->nets;
  for (const Net* n = src->nets; n; n = n->next, ++k) {
    Net* net = d_.make<Net>();
    *net_tail = net;
    net_tail = &net->next;
    const Link* l = n->links;
    for (uint32_t j = 0; j < plan.net_sizes[k]; ++j, ++t, l = l->next) {
      Link* x = d_.make<Link>();
      int32_t target = plan.targets[t];
      Instance* inst;
      if (target < 0) {
        inst = pins[static_cast<std::size_t>(-1 - target)];
        x->pin_name = inst->name;
      } else {
        inst = comps[static_cast<std::size_t>(target)];
        x->pin_name = l->pin_name;
      }
      x->inst = inst;
      x->pin_type = l->pin_type;
      net_push_back(net, x);
      inst->link = x;
    }
  }
  module_relink_nets(m);
  return m;
}

// Rings the terminals of each component of a copy (a module read from its
// file has them ringed by the parser).  The first terminal of a component
// (net list order, then terminal order) gathers the others, each put right
// after it, so the ring runs from it through the others in the reverse of
// their order.  While the rings are built, each component's `link` holds
// its first terminal; the copy's value is put back afterwards.
void Loader::ring_terminals(Module* m) {
  saved_links_.clear();
  for (Instance* c = m->comps; c; c = c->next) {
    saved_links_.push_back(c->link);
    c->link = nullptr;
  }
  // The terminals' instances and their first terminals lie anywhere in a
  // large design: the terminals are taken a chunk at a time, and each
  // instance and first terminal asked for some terminals ahead of its use.
  constexpr std::size_t kChunk = 4096, kAhead = 16;
  auto ring = [&] {
    const std::size_t count = terms_.size();
    for (std::size_t i = 0; i < count; ++i) {
      if (i + 2 * kAhead < count) __builtin_prefetch(terms_[i + 2 * kAhead]->inst);
      if (i + kAhead < count)
        if (const Link* ahead = terms_[i + kAhead]->inst->link) __builtin_prefetch(ahead);
      Link* l = terms_[i];
      l->inst_next = l;
      if (l->inst->cls == kPin) continue;
      Link* first = l->inst->link;
      if (first == nullptr) {
        l->inst->link = l;
      } else {
        l->inst_next = first->inst_next;
        first->inst_next = l;
      }
    }
    terms_.clear();
  };
  for (Net* n = m->nets; n; n = n->next) {
    for (Link* l = n->links; l; l = l->next) {
      terms_.push_back(l);
      if (terms_.size() == kChunk) ring();
    }
  }
  ring();
  std::size_t i = 0;
  for (Instance* c = m->comps; c; c = c->next) c->link = saved_links_[i++];
}

// Checks each gate's terminal count.  Of the components on too many
// terminals, the one told is the first in the order of their first
// terminals (net list order, then terminal order); that order is only
// made when there is one.
void Loader::check_terminals(Module* m) {
  // The rings of a batch of components are walked side by side, so that
  // their terminals are waited for together.
  constexpr std::size_t kBatch = 16;
  auto too_many = [](const Instance* c, int count) {
    return count > terminal_limit(c->cls, c->fan_in);
  };
  auto any_too_many = [&](const std::vector<Instance*>& cs) {
    for (std::size_t b = 0; b < cs.size(); b += kBatch) {
      const std::size_t n = std::min(kBatch, cs.size() - b);
      int counts[kBatch];
      const Link* at[kBatch];
      std::size_t live = n;
      for (std::size_t k = 0; k < n; ++k) {
        counts[k] = 1;
        at[k] = cs[b + k]->link->inst_next;
      }
      while (live > 0) {
        live = 0;
        for (std::size_t k = 0; k < n; ++k) {
          if (at[k] == cs[b + k]->link) continue;
          ++counts[k];
          at[k] = at[k]->inst_next;
          ++live;
        }
      }
      for (std::size_t k = 0; k < n; ++k)
        if (too_many(cs[b + k], counts[k])) return cs[b + k];
    }
    return static_cast<Instance*>(nullptr);
  };
  bool found = false;
  comps_.clear();
  for (Instance* c = m->comps; c && !found; c = c->next) {
    if (c->link) comps_.push_back(c);
    if (comps_.size() == 4096 || !c->next) {
      found = any_too_many(comps_) != nullptr;
      comps_.clear();
    }
  }
  if (!found) return;
  std::unordered_set<const Instance*> seen;
  for (const Net* n = m->nets; n; n = n->next)
    for (const Link* l = n->links; l; l = l->next)
      if (l->inst->cls != kPin && seen.insert(l->inst).second) comps_.push_back(l->inst);
  const Instance* c = any_too_many(comps_);
  int count = 1;
  for (const Link* t = c->link->inst_next; t != c->link; t = t->inst_next) ++count;
  fail("\"" + last_read_ + "\", " + c->name + " appears " + std::to_string(count) +
       " times in def-net\n");
}

}  // namespace

void read_module(Design& d, const std::string& name) {
  Loader loader(d);
  loader.load(name);
  // Every instance of every module copy holds its own inverters.
  for (const Module* m = d.top; m; m = m->next)
    for (const Instance* c = m->comps; c; c = c->next)
      if (c->cls == kInv) ++d.first_inv_num;
}

}  // namespace zelk
