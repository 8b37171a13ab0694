// Hierarchy reconstruction: components go back to their module copies, the
// remaining inversions get inverters, and every flat net is cut into one
// piece per copy with ports at the boundaries.  Flat output keeps the flat
// network in the top module and makes it a complete design of its own.
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "netlist/classes.h"
#include "netlist/boundary.h"
#include "rebuild/naming.h"
#include "rebuild/rebuild.h"
#include "rebuild/rebuild_internal.h"

namespace zelk {

namespace {

bool is_open_copy_instance(const Instance* i) {
  return i->cls == kUser && i->def != nullptr && i->def->state == kStateOpen;
}

// A register's scan output has no complement: its net is served like a
// gate's.
bool register_rule(const Link* source) {
  return is_register(source->inst->cls) && !same(source->pin_name, "scan_out");
}

// Instances of opened copies that flattening took out of their parents.
void restore_expanded(Design& d) {
  for (Module* m = d.top; m; m = m->next) {
    if (m->state != kStateOpen) continue;
    for (Instance* i = m->expanded; i;) {
      Instance* nx = i->next;
      i->next = m->comps;
      m->comps = i;
      i = nx;
    }
  }
}

// Terminals that flattening left cut no longer want anything inverted.
// Done net by net as the nets are distributed: nothing reads the weights
// of a net before its turn.
void uncut_weights(Net* n) {
  for (Link* l = n->links; l; l = l->next)
    if (l->cut == 1) l->weight = 1;
}

// A control net holds terminals of its own module only, unless the
// exchange of a register's complementary outputs moved an inverted reader
// onto it: the register's other output feeds a clock cone, and the reader
// may lie in another copy.
bool holds_other_modules(const Net* n, const Module* home) {
  for (const Link* l = n->links; l; l = l->next)
    if (l->inst->module != home) return true;
  return false;
}

// An unused net stays only when it belongs to the top module.
bool keep_unused(Module* top, Net* n) {
  if (!n->links || n->links->inst->module != top) return false;
  module_push_net_front(top, n);
  return true;
}

// Takes every net of the flat top module out of it: clock and reset nets
// go back as they are unless `control` takes them, an unused one only when
// it belongs to the top module (each net that goes back is handed to
// `kept`), one of no type is dropped, and each signal or tristate net, its
// cut terminals made plain, goes to `place`.
template <class Place, class Control, class Kept>
void take_flat_nets(Design& d, Place place, Control control, Kept kept) {
  Module* top = d.top;
  module_take_nets_ahead(top, [&](Net* n) {
    switch (n->type) {
      case kNetUnused:
        if (keep_unused(top, n)) kept(n);
        break;
      case kNetControl:
        if (control(n)) break;
        module_push_net_front(top, n);
        kept(n);
        break;
      case kNetTristate:
      case kNetSignal:
        uncut_weights(n);
        place(n);
        break;
      default:
        break;
    }
  }, d.made<Net>());
}

// An instance on a net of its module is written: a component, or a pin.
void mark_written(Instance* i) {
  if (i->cls == kPin) i->pin_use = kPinConnected;
  else i->written = 1;
}

// What the rebuilt copies write: every instance on a net of its module is
// marked as the net joins its module's list (the marks only ever add, so
// their order is free), and the terminals on instances of opened copies,
// which keep_named_pins and other_pin_name read, are gathered on the way.
// The nets are walked as they are distributed, not once more afterwards.
class UseMarks {
 public:
  // Clears the marks of every opened copy and marks the nets the copies
  // keep as they are (their clock and reset nets).
  UseMarks(Design& d, std::vector<Link*>& on_copies) : on_copies_(on_copies) {
    for (Module* m = d.top; m; m = m->next) {
      if (m->state != kStateOpen) continue;
      if (m != d.top)
        for (Instance* p = m->pins; p; p = p->next)
          if (p->pin_use == kPinConnected) p->pin_use = kPinUnconnected;
      for (Instance* i = m->comps; i; i = i->next) i->written = 0;
    }
    for (Module* m = d.top->next; m; m = m->next)
      if (m->state == kStateOpen)
        for (Net* n = m->nets; n; n = n->next) net(n);
  }
  void terminal(Link* l) {
    mark_written(l->inst);
    if (is_open_copy_instance(l->inst)) on_copies_.push_back(l);
  }
  void net(const Net* n) {
    for (Link* l = n->links; l; l = l->next) terminal(l);
  }
  // The pieces a tree delivered.
  void pieces(NetTrees& trees, HierNode* tree) {
    if (tree == nullptr) return;
    for (HierNode* x : trees.preorder(tree))
      for (Link* l = x->links; l; l = l->next) terminal(l);
  }

 private:
  std::vector<Link*>& on_copies_;
};

// A net whose terminals all lie in one copy, none of them wanting the
// inverted signal, is that copy's one piece as it stands: its record, its
// terminals in their order, its first driving terminal as the source.  One
// walk of its terminals gives what splitting it, building its tree of one
// node and delivering that node would give in three; false, and the net
// left for them, as soon as a terminal says otherwise.
bool keep_whole(Net* net, int type, UseMarks& marks) {
  Link* first = net->links;
  if (first == nullptr) return false;
  Module* m = first->inst->module;
  Link* source = nullptr;
  Link* prev = nullptr;
  for (Link* l = first; l; l = l->next) {
    if (l->weight < 0 || l->inst->module != m) return false;
    if (source == nullptr && drives(l)) source = l;
    l->prev = prev;
    l->net = net;
    prev = l;
  }
  // Marked only once the net stays whole: one that goes the other way is
  // marked as its pieces, and would have its copies' terminals gathered twice.
  for (Link* l = first; l; l = l->next) marks.terminal(l);
  *net = Net{};
  net->links = first;
  net->tail = prev;
  net->source = source;
  net->type = static_cast<int16_t>(type);
  module_push_net_front(m, net);
  return true;
}

void distribute(Design& d, NetTrees& trees, UseMarks& marks, Net* net) {
  trees.next_net();
  int type = net->type;
  Link* s = net->source;
  int cls = s ? s->inst->cls : 0;
  // The net's record is taken again for a piece when all its terminals
  // stay in the tree: a design of 10^7 nets would need as many new ones.
  if (s && register_rule(s)) {
    HierNode* t = trees.h_net(net);
    trees.pin_type_check(t, type);
    trees.make_link(t);
    trees.deliver_net(t, type, net);
    marks.pieces(trees, t);
    return;
  }
  if (s && (cls == kHigh || cls == kLow)) {
    HierNode* t = trees.h_net(net);
    trees.high_low_nethier(t, cls);
    trees.deliver_net(t, type);
    marks.pieces(trees, t);
    return;
  }
  if (s && cls == kPin && (same(s->pin_name, kNameVdd) || same(s->pin_name, kNameVss))) {
    HierNode* t = trees.h_net(net);
    trees.vdd_vss_nethier(t, same(s->pin_name, kNameVdd) ? kHigh : kLow);
    trees.deliver_net(t, type);
    marks.pieces(trees, t);
    return;
  }
  if (keep_whole(net, type, marks)) return;
  Net* n = div_net(d, net);
  Net* inv = n->next;
  HierNode* ti = inv ? trees.h_net(inv) : nullptr;
  HierNode* t = trees.h_net(n);
  trees.pin_type_check(t, type);
  trees.pin_type_check(ti, kNetSignal);
  trees.make_link(t);
  trees.make_link(ti);
  trees.deliver_net(t, type, n);
  trees.deliver_net(ti, kNetSignal, inv);
  marks.pieces(trees, t);
  marks.pieces(trees, ti);
}

// A control net with terminals of other copies goes to the copies where
// they lie, with ports, as a register's net does: a terminal of one copy
// written into another's net names an instance that is not there.  Its
// ports are typed as those of the signal or tristate net it carries.
void distribute_control(NetTrees& trees, UseMarks& marks, Net* net) {
  int carries = kNetSignal;
  for (const Link* l = net->links; l && carries == kNetSignal; l = l->next)
    if (l->inst->cls != kPin && (is_tristate_type(l->pin_type) || is_bidirect_type(l->pin_type)))
      carries = kNetTristate;
  trees.next_net();
  HierNode* t = trees.h_net(net);
  trees.pin_type_check(t, carries);
  trees.make_link(t);
  trees.deliver_net(t, kNetControl, net);
  marks.pieces(trees, t);
}

// The control nets of the copies that hold terminals of other modules,
// taken out of their copies' lists (in list order) for distribute_control.
std::vector<Net*> take_reaching_control_nets(Design& d) {
  std::vector<Net*> taken;
  for (Module* m = d.top->next; m; m = m->next) {
    if (m->state != kStateOpen) continue;
    for (Net *n = m->nets, *next; n; n = next) {
      next = n->next;
      if (!holds_other_modules(n, m)) continue;
      delete_net(n, m);
      taken.push_back(n);
    }
  }
  return taken;
}

// A pin of a copy that a written net of its parent still names is written
// too (for example a clock pin on no net inside, whose parent net stays as
// it was), so that the parent's terminal has a pin to meet.  Read once
// every mark is made: the pins belong to other modules.
void keep_named_pins(const std::vector<Link*>& on_copies) {
  FlatIndex ix;
  for (const Link* t : on_copies) {
    if (t->pin_name == nullptr) continue;
    Instance* p = ix.pin(t->inst->def, t->pin_name);
    if (p && p->pin_use == kPinUnconnected) p->pin_use = kPinOpenEnd;
  }
}

// A copy that holds a library cell in use, directly or through copies
// below it, is written even when no port reaches it: a black box may be a
// pad, a test or a spare cell.
void keep_black_boxes(Design& d) {
  std::vector<Module*> copies;
  for (Module* m = d.top->next; m; m = m->next)
    if (m->state == kStateOpen) copies.push_back(m);
  std::unordered_set<const Instance*> listed;  // instances of copies in their parents' comps
  for (Module* m = d.top; m; m = m->next)
    if (m->state == kStateOpen)
      for (Instance* i = m->comps; i; i = i->next)
        if (is_open_copy_instance(i)) listed.insert(i);
  std::unordered_set<const Module*> kept;
  for (std::size_t k = copies.size(); k-- > 0;) {
    Module* m = copies[k];
    bool keep = false;
    for (Instance* i = m->comps; i && !keep; i = i->next)
      keep = i->cls == kUser && i->written == 1 && i->def != nullptr &&
             (i->def->state == kStateCell || kept.count(i->def) != 0);
    if (!keep) continue;
    kept.insert(m);
    if (m->inst && listed.count(m->inst) != 0) m->inst->written = 1;
  }
}

// A constant cell that the rebuild made is named "high-" or "low-"; when a
// component of its module that keeps its name is called the same, the new
// cell takes the first free "high-1", "high-2", ...
void rename_new_constants(Design& d, Module* m, const std::unordered_set<const Instance*>& made) {
  bool any = false;
  for (Instance* i = m->comps; i && !any; i = i->next) any = i->written == 1 && made.count(i) != 0;
  if (!any) return;
  std::unordered_map<std::string_view, int> keeping;  // names of used 410..425 components
  std::unordered_map<std::string_view, int> all;      // every name of comps
  for (Instance* i = m->comps; i; i = i->next) {
    if (i->name == nullptr) continue;
    ++all[i->name];
    if (i->written == 1 && (keeps_name(i->cls) || i->cls == kPin || i->cls == kUser))
      ++keeping[i->name];
  }
  for (Instance* i = m->comps; i; i = i->next) {
    if (i->written != 1 || made.count(i) == 0 || i->name == nullptr) continue;
    auto f = keeping.find(i->name);
    if (f == keeping.end() || f->second < 2) continue;  // only itself
    std::string base = i->name;
    for (long k = 1;; ++k) {
      std::string candidate = base + std::to_string(k);
      auto g = all.find(candidate);
      if (g != all.end() && g->second > 0) continue;
      --f->second;
      --all[i->name];
      i->name = d.strsave(candidate);
      ++keeping[i->name];
      ++all[i->name];
      break;
    }
  }
}

void rename_new_constants(Design& d, bool every_copy) {
  if (d.new_constants.empty()) return;
  std::unordered_set<const Instance*> made(d.new_constants.begin(), d.new_constants.end());
  for (Module* m = d.top; m; m = m->next) {
    if (m->state != kStateOpen) continue;
    rename_new_constants(d, m, made);
    if (!every_copy) break;
  }
}

void hierarchy_tree(Design& d) {
  Module* top = d.top;
  deliver_inst(d);
  restore_expanded(d);

  const std::vector<Net*> reaching = take_reaching_control_nets(d);
  std::vector<Link*> on_copies;
  UseMarks marks(d, on_copies);
  NetTrees trees(d);
  take_flat_nets(
      d, [&](Net* n) { distribute(d, trees, marks, n); },
      [&](Net* n) {
        if (!holds_other_modules(n, top)) return false;
        distribute_control(trees, marks, n);
        return true;
      },
      [&](Net* n) { marks.net(n); });
  for (Net* n : reaching) distribute_control(trees, marks, n);
  keep_named_pins(on_copies);
  keep_black_boxes(d);
  rename_new_constants(d, true);
  class_name(d);
  for (Module* m = top; m; m = m->next) {
    if (m->state != kStateOpen) continue;
    make_comp(d, m);
    inst_and_pin_name(d, m);
  }
  other_pin_name(on_copies);
}

// ---------------------------------------------------------------- flat output

// Clock and reset nets of the opened copies join the top module and are
// joined across the copies' boundaries like the signal nets were.
void join_control_nets(Design& d, FlatIndex& ix) {
  Module* top = d.top;
  Net* last = module_last_net(top);
  for (Module* m = top->next; m; m = m->next) {
    if (m->state != kStateOpen) continue;
    module_take_nets(m, [&](Net* n) {
      module_insert_net_after(top, last, n);
      last = n;
    });
  }
  for (Net* n = top->nets; n; n = n->next)
    if (n->type == kNetControl) join_net(d, ix, n);
}

// A global pin of a copy stands for the top module's global signal of that
// name: the net joins the top pin's net before the copy's terminal goes.
void keep_global(Design& d, FlatIndex& ix, Link* t) {
  Module* top = d.top;
  Net* net = t->net;
  Instance* p = ix.pin(top, t->pin_name);
  if (p == nullptr) {
    p = d.make<Instance>();
    p->cls = kPin;
    p->name = t->pin_name;
    p->type = kwGlobal;
    p->module = top;
    p->next = top->pins;
    top->pins = p;
    ix.reset();  // the top module's pins changed
  }
  if (p->link == nullptr) {
    Link* l = d.make<Link>();
    l->inst = p;
    l->pin_name = p->name;
    l->pin_type = kwGlobal;
    l->inst_next = l;
    p->link = l;
    net_push_back(net, l);
    return;
  }
  Link* pl = p->link;
  Net* other = pl->net;
  bool listed = other != nullptr && net_contains(pl);
  if (listed && other == net) return;
  if (listed && module_has_net(top, other)) {
    net_append_all(net, other);
    delete_net(other, top);
    return;
  }
  // The pin's terminal left its net when constants were joined or an
  // emptied supply net was dropped: it comes over by itself.
  if (listed) delete_node(pl);
  pl->next = nullptr;
  net_push_back(net, pl);
}

// Terminals on pins of copies and on instances of opened copies have no
// counterpart in a flat design.
void drop_boundary_terminals(Design& d, FlatIndex& ix) {
  Module* top = d.top;
  for (Net* n = top->nets; n;) {
    for (Link* t = n->links; t;) {
      Instance* i = t->inst;
      bool boundary = (i->cls == kPin && i->module != top) || is_open_copy_instance(i);
      if (!boundary) {
        t = t->next;
        continue;
      }
      if (i->cls == kPin && i->type == kwGlobal) keep_global(d, ix, t);
      Link* nx = t->next;
      delete_node(t);
      t = nx;
    }
    Net* nn = n->next;
    if (n->links == nullptr) delete_net(n, top);
    n = nn;
  }
}

// The longest name that the reader takes back.
constexpr std::size_t kMaxName = 4095;

// Components that keep their names get the path of copies they came from:
// register R1 of copy u2 inside copy u1 becomes "u1/u2/R1".  A path name too
// long to be read back keeps its last bytes behind a "~k/" mark that makes
// it unique.
void hierarchical_names(Design& d) {
  Module* top = d.top;
  // Per copy: the length of its path prefix ("u1/u2/") and its last bytes,
  // enough for any shortened name, so that deep hierarchies stay linear.
  struct Prefix {
    std::size_t length = 0;
    std::string tail;
  };
  std::unordered_map<const Module*, Prefix> prefix;
  std::vector<Module*> path;
  auto prefix_of = [&](Module* m) -> const Prefix& {
    path.clear();
    Module* a = m;
    while (a != top && a != nullptr && prefix.find(a) == prefix.end()) {
      path.push_back(a);
      a = a->parent;
    }
    Prefix base = (a == top || a == nullptr) ? Prefix() : prefix[a];
    for (std::size_t k = path.size(); k-- > 0;) {
      Module* c = path[k];
      const char* part = c->inst_name ? c->inst_name : "";
      base.length += std::strlen(part) + 1;
      base.tail += part;
      base.tail += '/';
      if (base.tail.size() > kMaxName + 1) base.tail.erase(0, base.tail.size() - (kMaxName + 1));
      prefix[c] = base;
    }
    return prefix[m];
  };

  // Names of the top module's components, counted, made only when a long
  // name needs a free mark.
  std::unordered_map<std::string, int> taken;
  bool counting = false;
  auto start_counting = [&] {
    for (Instance* i = top->comps; i; i = i->next)
      if (i->name) ++taken[i->name];
    counting = true;
  };
  auto rename = [&](Instance* i, const std::string& name) {
    if (counting) {
      if (i->name) --taken[i->name];
      ++taken[name];
    }
    i->name = d.strsave(name);
  };

  for (Instance* i = top->comps; i; i = i->next) {
    if (!(keeps_name(i->cls) || i->cls == kUser) || i->module == top || i->module == nullptr) continue;
    const Prefix& p = prefix_of(i->module);
    const char* own = i->name ? i->name : "";
    std::string name = p.tail + own;
    if (p.length + std::strlen(own) <= kMaxName) {
      rename(i, name);
      continue;
    }
    if (!counting) start_counting();
    for (long k = 1;; ++k) {
      std::string candidate(1, '~');
      candidate += std::to_string(k);
      candidate += '/';
      std::size_t keep = kMaxName - candidate.size();
      candidate.append(name, name.size() - keep, keep);
      auto f = taken.find(candidate);
      if (f == taken.end() || f->second == 0) {
        rename(i, candidate);
        break;
      }
    }
  }
}

void hierarchy_flat(Design& d) {
  Module* top = d.top;
  restore_expanded(d);

  take_flat_nets(d, [&](Net* n) {
    Link* s = n->source;
    int cls = s ? s->inst->cls : 0;
    if (s && (is_constant_cell(cls) || register_rule(s))) {
      module_push_net_front(top, n);
      return;
    }
    Net* kept = div_net(d, n);
    if (Net* inv = kept->next) module_push_net_front(top, inv);
    module_push_net_front(top, kept);
  }, [](Net*) { return false; }, [](Net*) {});

  // Components and pins moved since flattening: fresh look-ups.
  FlatIndex ix;
  join_control_nets(d, ix);
  drop_boundary_terminals(d, ix);
  hierarchical_names(d);

  for (Instance* i = top->comps; i; i = i->next) i->written = 0;
  for (Net* n = top->nets; n; n = n->next)
    for (Link* l = n->links; l; l = l->next) mark_written(l->inst);
  rename_new_constants(d, false);
  make_comp(d, top);
  inst_name(d, top);
}

}  // namespace

void deliver_inst(Design& d) {
  Instance* list = d.top->comps;
  d.top->comps = nullptr;
  for (Instance* i = list; i;) {
    Instance* nx = i->next;
    Module* m = i->module;
    i->next = m->comps;
    m->comps = i;
    i = nx;
  }
}

Net* div_net(Design& d, Net* net) {
  Link* s = net->source;
  Link* old = net_detach(net);
  net->next = nullptr;
  Instance* v = nullptr;
  Net* inv = nullptr;
  Module* y = nullptr;
  for (Link* l = old; l;) {
    Link* nx = l->next;
    if (l->weight >= 0) {
      net_push_front(net, l);
    } else if (v == nullptr) {
      v = d.make<Instance>();
      v->cls = kInv;
      Link* vi = d.make<Link>();
      vi->inst = v;
      vi->pin_name = kNameIn;
      vi->pin_type = kwInput;
      net_push_front(net, vi);
      inv = d.make<Net>();
      inv->type = kNetSignal;
      Link* vo = d.make<Link>();
      vo->inst = v;
      vo->pin_name = kNameNout;
      vo->pin_type = kwOutput;
      net_push_front(inv, vo);
      net_push_front(inv, l);
      inv->source = vo;
      net->next = inv;
      v->link = vi;
      vi->inst_next = vo;
      vo->inst_next = vi;
      y = l->inst->module;
    } else {
      net_push_front(inv, l);
      y = yca(y, l->inst->module);
    }
    l = nx;
  }
  if (v == nullptr) return net;

  // The inverter also has to reach the net's drivers.
  if (net->type == kNetSignal) {
    y = yca(y, s ? s->inst->module : nullptr);
  } else if (net->type == kNetTristate) {
    for (Link* l = net->links; l; l = l->next) {
      int pt = l->pin_type;
      bool bidir = pt == kwBidirect || pt == kwBidirectConnected;
      bool tri = (pt == kwTristate || pt == kwTristateConnected) && l->inst->cls != kPin;
      if (bidir || tri) y = yca(y, l->inst->module);
    }
  }
  Module* home = d.options.form == OutputForm::kFlat ? d.top : y;
  v->module = home;
  v->next = home->comps;
  home->comps = v;
  return net;
}

void hierarchy(Design& d) {
  if (d.options.form == OutputForm::kFlat)
    hierarchy_flat(d);
  else
    hierarchy_tree(d);
}

}  // namespace zelk
