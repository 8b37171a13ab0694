// Flattening: opened module copies dissolve into the top module; every
// terminal gets a polarity weight, every net a type and a driver, clock and
// reset cones are fenced off, and the inverters of opened copies turn into
// weights on the terminals that receive the inverted signal.
#include <cstring>
#include <unordered_set>
#include <vector>

#include "netlist/classes.h"
#include "flat/flat.h"

namespace zelk {

namespace {

// Lists up to this length are walked; longer ones are looked up in a map.
constexpr int kShortList = 8;

bool is_open(const Module* m) { return m != nullptr && m->state == kStateOpen; }

// A terminal that reads the net although typing gave it no weight: a
// bidirect terminal anywhere, or a global pin of a module.
bool reads_without_weight(const Link* t) {
  if (t->weight != 0 || t->cut != 0) return false;
  int16_t pt = t->pin_type;
  return pt == kwBidirect || pt == kwBidirectConnected || (pt == kwGlobal && t->inst->cls == kPin);
}

// Negation at a folded inverter or boundary.  A terminal that reads the net
// without a weight needs the inverted signal from now on, and carries it as
// an input does.
void negate_folded(Net* n) {
  for (Link* t = n->links; t; t = t->next)
    t->weight = reads_without_weight(t) ? int16_t{-1} : static_cast<int16_t>(-t->weight);
}


}  // namespace

// ---------------------------------------------------------------- look-ups

void FlatIndex::reset() {
  pins_.clear();
  comps_.clear();
  same_name_next_.clear();
  rings_.clear();
}

Instance* FlatIndex::pin(const Module* m, const char* name) {
  Instance* p = m->pins;
  for (int k = 0; p && k < kShortList; p = p->next, ++k)
    if (same(p->name, name)) return p;
  if (p == nullptr) return nullptr;
  auto [it, fresh] = pins_.try_emplace(m);
  if (fresh)
    for (Instance* q = m->pins; q; q = q->next)
      if (q->name) it->second.try_emplace(q->name, q);
  auto f = it->second.find(name);
  return f == it->second.end() ? nullptr : f->second;
}

const FlatIndex::CompMap& FlatIndex::comps_of(const Module* m) {
  auto [it, fresh] = comps_.try_emplace(m);
  if (fresh) {
    // Nameless placeholders and instances without terminals never match.
    for (Instance* c = m->comps; c; c = c->next) {
      if (c->name == nullptr || c->link == nullptr) continue;
      auto [e, first] = it->second.try_emplace(c->name, Chain{c, c});
      if (!first) {
        same_name_next_[e->second.last] = c;
        e->second.last = c;
      }
    }
  }
  return it->second;
}

Link* FlatIndex::ring_find(Instance* inst, const char* pin_name) {
  Link* start = inst->link;
  if (start == nullptr) return nullptr;
  Link* u = start;
  for (int k = 0; k < kShortList; ++k) {
    if (same(u->pin_name, pin_name)) return u;
    u = u->inst_next;
    if (u == nullptr || u == start) return nullptr;
  }
  auto [it, fresh] = rings_.try_emplace(inst);
  if (fresh) {
    Link* v = start;
    do {
      if (v->pin_name) it->second.try_emplace(v->pin_name, v);
      v = v->inst_next;
    } while (v && v != start);
  }
  auto f = it->second.find(pin_name);
  return f == it->second.end() ? nullptr : f->second;
}

Link* FlatIndex::find_node(Link* t) {
  Instance* in = t->inst;
  if (in->cls == kUser) {
    if (in->def == nullptr) return nullptr;
    Instance* p = pin(in->def, t->pin_name);
    return p ? p->link : nullptr;
  }
  if (in->cls != kPin) return nullptr;
  const Module* m = in->module;
  if (m == nullptr || m->parent == nullptr || m->inst_name == nullptr) return nullptr;
  const CompMap& cm = comps_of(m->parent);
  auto f = cm.find(m->inst_name);
  if (f == cm.end()) return nullptr;
  for (Instance* c = f->second.first;;) {
    if (Link* u = ring_find(c, t->pin_name)) return u;
    if (c == f->second.last) return nullptr;
    c = same_name_next_[c];
  }
}

Link* find_node(FlatIndex& ix, Link* t) { return ix.find_node(t); }

Link* find_node(Design&, Link* t) {
  Instance* in = t->inst;
  if (in->cls == kUser) {
    if (in->def == nullptr) return nullptr;
    Instance* p = pin_f(t->pin_name, in->def);
    return p ? p->link : nullptr;
  }
  if (in->cls != kPin) return nullptr;
  const Module* m = in->module;
  if (m == nullptr || m->parent == nullptr || m->inst_name == nullptr) return nullptr;
  for (Instance* c = m->parent->comps; c; c = c->next) {
    if (!same(c->name, m->inst_name) || c->link == nullptr) continue;
    Link* u = c->link;
    do {
      if (same(u->pin_name, t->pin_name)) return u;
      u = u->inst_next;
    } while (u && u != c->link);
  }
  return nullptr;
}

// ---------------------------------------------------------------- joins

Link* merge_net(Design&, Link* l0, Link* l1, Module* m) {
  Net* a = l0->net;
  Net* b = l1->net;
  if (a == b) {
    // Both ends already on one net (pins tied inside and outside): the two
    // boundary terminals just leave it.
    Link* s = l0->next;
    if (s == l1) s = l1->next;
    delete_node(l0);
    delete_node(l1);
    return s;
  }
  if (b->type == kNetTristate) a->type = kNetTristate;
  Link* s = l0->next;
  delete_node(l0);
  delete_node(l1);
  // The weights of l0 and l1 as they were when they left their nets decide;
  // negating one side never reaches them.
  const int16_t w0 = l0->weight;
  const int16_t w1 = l1->weight;
  const int16_t pt = l0->pin_type;
  switch (l0->inst->cls) {
    case kInv:
      // The output side is negated when the inverter's input is plain.
      if (pt == kwOutput) {
        if (w1 == 1) negate_folded(a);
      } else if (w0 == 1) {
        negate_folded(b);
      }
      break;
    case kPin:  // l0 inside the copy (net a), l1 the instance terminal outside (net b)
    case kUser: {  // l0 the instance terminal outside (net a), l1 inside the copy (net b)
      l0->partner = l1;
      l1->partner = l0;
      Net* inside = l0->inst->cls == kPin ? a : b;
      Net* outside = l0->inst->cls == kPin ? b : a;
      int16_t w_in = l0->inst->cls == kPin ? w0 : w1;
      int16_t w_out = l0->inst->cls == kPin ? w1 : w0;
      // Input pins carry an inversion inward, output pins outward; a pin of
      // any other type may carry it either way, so both rules apply.
      bool inward = !is_output_type(pt);
      bool outward = !is_input_type(pt);
      if (inward && w_out == -1) negate_folded(inside);
      if (outward && w_in == -1) negate_folded(outside);
      break;
    }
    default:
      break;
  }
  Link* first_b = b->links;
  net_append_all(a, b);
  delete_net(b, m);
  return s ? s : first_b;
}

namespace {

// A terminal through which a component drives its net.
bool component_drives(const Link* u) { return u->inst->cls != kPin && is_output_type(u->pin_type); }

long count_component_drivers(const Net* n) {
  long k = 0;
  for (const Link* u = n->links; u; u = u->next) k += component_drives(u) ? 1 : 0;
  return k;
}

}  // namespace

void join_net(Design& d, FlatIndex& ix, Net* n) {
  Module* top = d.top;
  // Terminals of n through which a component drives it, kept up to date
  // across the joins so that no global pin has to walk the net.
  long drivers = count_component_drivers(n);
  auto join = [&](Link* t, Link* c) {
    if (component_drives(t)) --drivers;
    if (c->net == n) {
      if (component_drives(c)) --drivers;
    } else {
      drivers += count_component_drivers(c->net) - (component_drives(c) ? 1 : 0);
    }
    return merge_net(d, t, c, top);
  };
  Link* t = n->links;
  while (t) {
    Instance* in = t->inst;
    if (in->cls == kPin) {
      if (in->module == top) {
        t = t->next;
        continue;
      }
      if (t->pin_type == kwGlobal) {
        // A copy that drives its own global pin feeds a parent net that
        // nothing else types; that net joins.  Otherwise the pin stands for
        // the global signal of its name and stays apart.
        Link* c = drivers > 0 ? ix.find_node(t) : nullptr;
        if (c && c->net && c->net->type == kNetNone) {
          t = join(t, c);
          continue;
        }
        t = t->next;
        continue;
      }
      if (Link* c = ix.find_node(t)) {
        t = join(t, c);
        continue;
      }
      // No counterpart outside: the pin stays an open end of the flat net.
      in->use = 2;
      t->cut = 1;
      t->weight = 0;
      t = t->next;
    } else if (in->cls == kUser && is_open(in->def)) {
      if (Link* c = ix.find_node(t)) {
        t = join(t, c);
        continue;
      }
      Instance* p = ix.pin(in->def, t->pin_name);
      if (p == nullptr || p->use == 1) fail();
      p->use = 2;
      t->cut = 1;
      t->weight = 0;
      t = t->next;
    } else if (in->cls == kUser &&
               (t->pin_type == kwUnused || t->pin_type == kwUnusedConnected)) {
      t->cut = 1;
      t->weight = 0;
      t = t->next;
    } else {
      t = t->next;
    }
  }
}

namespace {

// Joins a later net of the same constant into `keep`; its driver drops out.
void merge_net_h_l(Module* top, Net* keep, Net* other) {
  delete_node(other->source);
  if (keep->links == nullptr) fail();
  net_append_all(keep, other);
  delete_net(other, top);
}

// ---------------------------------------------------------------- per module

void use_check(const Design& d, Module* m) {
  for (Instance* p = m->pins; p; p = p->next)
    p->use = (m == d.top || p->link != nullptr) ? 1 : 0;

  bool any_linked = false;
  for (Instance* c = m->comps; c; c = c->next)
    if (c->link) {
      any_linked = true;
      break;
    }
  if (any_linked) {
    Instance** at = &m->comps;
    for (Instance* c = m->comps; c; c = c->next)
      if (c->link) {
        *at = c;
        at = &c->next;
      }
    *at = nullptr;
  }

  Net* n = m->nets;
  while (n) {
    Net* next = n->next;
    if (n->links == nullptr) delete_net(n, m);
    n = next;
  }
}

// Terminals of a net of an open copy: pin types of user-module terminals
// from the module's own pins, boundary partners cleared, weight +1, no cut.
void prepare_terminals(FlatIndex& ix, Net* n) {
  for (Link* t = n->links; t; t = t->next) {
    Instance* in = t->inst;
    if (t->pin_type == kUser && in->def) {
      Instance* p = ix.pin(in->def, t->pin_name);
      if (p == nullptr) fail();
      t->pin_type = p->type;
      t->pin_name = p->name;
    }
    if (in->cls == kUser && is_open(in->def)) t->partner = nullptr;
    t->weight = 1;
    t->cut = 0;
  }
}

// Net type, driver weights and control source of one net: the last
// terminal that gives a type decides.
void net_type_set_wt_ctr_source(Net* n) {
  n->type = kNetNone;
  n->source = nullptr;
  for (Link* t = n->links; t; t = t->next) {
    if (t->inst->cls == kPin) {
      switch (t->pin_type) {
        case kwBidirect:
        case kwBidirectConnected:
          n->type = kNetTristate;
          t->weight = 0;
          break;
        case kwGlobal:
          n->type = kNetSignal;
          t->weight = 0;
          break;
        case kwInput:
        case kwInputConnected:
          t->weight = 0;
          if (is_control_pin_name(t->inst->name)) {
            n->type = kNetControl;
            n->source = t;
          } else {
            n->type = kNetSignal;
          }
          break;
        case kwUnusedConnected:
          // An unused pin never outweighs a terminal that types the net.
          if (n->type == kNetNone) n->type = kNetUnused;
          t->weight = 0;
          break;
        default:
          break;
      }
    } else {
      switch (t->pin_type) {
        case kwBidirect:
        case kwBidirectConnected:
        case kwTristate:
        case kwTristateConnected:
          n->type = kNetTristate;
          t->weight = 0;
          break;
        case kwOutput:
        case kwOutputConnected:
          n->type = kNetSignal;
          t->weight = 0;
          break;
        default:
          break;
      }
    }
  }
}

// Marks clock and reset cones.  Each net is entered once over the whole
// marking; the walk is kept on an explicit stack since cones can be deep.
class ControlWalk {
 public:
  ControlWalk(Design& d, FlatIndex& ix) : d_(d), ix_(ix) {}

  void walk(Link* start) {
    stack_.push_back(start);
    while (!stack_.empty()) {
      Link* t = stack_.back();
      stack_.pop_back();
      Net* n = t->net;
      if (n == nullptr || !entered_.insert(n).second) continue;
      n->type = kNetControl;
      for (Link* u = n->links; u; u = u->next) {
        if (u == t) continue;
        Instance* in = u->inst;
        int16_t cls = in->cls;
        if (is_register(cls) || cls == kBgate) continue;  // clock inputs end the cone
        if (cls == kPin) {
          if (in->module == d_.top) continue;
          if (Link* c = ix_.find_node(u)) stack_.push_back(c);
        } else if (cls == kUser) {
          if (Link* c = ix_.find_node(u)) stack_.push_back(c);
        } else {
          // Through a gate in every direction: inputs as well as output.
          for (Link* v = u->inst_next; v && v != u; v = v->inst_next) stack_.push_back(v);
        }
      }
    }
  }

 private:
  Design& d_;
  FlatIndex& ix_;
  std::vector<Link*> stack_;
  std::unordered_set<const Net*> entered_;
};

// The starts of the control cones: the top module's clock and reset nets,
// and those of the opened copies below it, each in list order.  Only the
// typing gives a net a source before flattening joins anything, so a net
// that a walk marks later never starts one.
struct ControlStarts {
  std::vector<Link*> top;     // sources of the top module's control nets
  std::vector<Link*> copies;  // clock or reset pin terminals of opened copies
};

void control_net_check(Design& d, const ControlStarts& starts) {
  FlatIndex ix;
  ControlWalk w(d, ix);
  for (Link* s : starts.top)
    if (is_control_pin_name(s->inst->name)) w.walk(s);
  // A clock or reset pin of an opened copy fences the cone outside it too.
  for (Link* s : starts.copies)
    if (Link* c = ix.find_node(s)) w.walk(c);
}

void inv_to_weight(Design& d, Module* m) {
  for (Net* n = m->nets; n; n = n->next) {
    if (!is_signal_or_tristate(n)) continue;
    Link* t = n->links;
    while (t) {
      Instance* in = t->inst;
      if (in->cls != kInv) {
        t = t->next;
        continue;
      }
      if (t->inst_next != t) {
        t = merge_net(d, t, t->inst_next, m);
        continue;
      }
      // An inverter driving nothing: a nameless placeholder keeps its input.
      if (!same(t->pin_name, "in")) fail();
      Instance* ph = d.make<Instance>();
      ph->cls = kNinv;
      ph->link = t;
      ph->module = m;
      ph->next = m->comps;
      m->comps = ph;
      t->inst = ph;
      t->weight = 0;
      t = t->next;
    }
  }
}

Net* add_net_flat(Design& d, Net* tail, Module* m) {
  if (m->state != kStateOpen) return tail;
  Net* n = module_detach_nets(m);
  while (n) {
    Net* next = n->next;
    if (n->type == kNetControl) {
      module_push_net_front(m, n);  // control nets stay in their copy
    } else {
      module_insert_net_after(d.top, tail, n);
      tail = n;
    }
    n = next;
  }
  return tail;
}

Instance* add_instance_flat(Instance* tail, Module* m) {
  if (m->state != kStateOpen) return tail;
  Instance* c = m->comps;
  m->comps = nullptr;
  while (c) {
    Instance* next = c->next;
    if (c->cls == kUser && is_open(c->def)) {
      c->next = m->expanded;
      m->expanded = c;
    } else {
      c->next = nullptr;
      tail->next = c;
      tail = c;
    }
    c = next;
  }
  return tail;
}

// Which constant a net's driver gives: 0 a high- cell, 1 a low- cell, 2 a
// pin named "VDD", 3 one named "VSS"; -1 none of them.
int constant_kind(const Link* source) {
  switch (source->inst->cls) {
    case kHigh:
      return 0;
    case kLow:
      return 1;
    case kPin:
      if (same(source->pin_name, "VDD")) return 2;
      if (same(source->pin_name, "VSS")) return 3;
      return -1;
    default:
      return -1;
  }
}

}  // namespace

void find_source(Net* n) {
  for (Link* t = n->links; t; t = t->next)
    if (drives(t)) {
      n->source = t;
      return;
    }
}

void flat(Design& d) {
  Module* top = d.top;
  if (top == nullptr) fail();

  // A closed parent closes the copies inside it (parents come first).
  for (Module* m = top->next; m; m = m->next)
    if (m->state == kStateOpen && m->parent && m->parent->state == kStateFixed)
      m->state = kStateFixed;

  // One pass per module: pin types of user-module terminals from the
  // module's own pins, unused pins and empty nets, weights, net types.
  ControlStarts starts;
  {
    FlatIndex ix;
    for (Module* m = top; m; m = m->next) {
      bool open = m->state == kStateOpen;
      if (open) use_check(d, m);
      for (Net* n = m->nets; n; n = n->next) {
        if (open) prepare_terminals(ix, n);
        net_type_set_wt_ctr_source(n);
        if (n->type != kNetControl) continue;
        if (m == top) {
          starts.top.push_back(n->source);
        } else if (open && n->source->inst->cls == kPin &&
                   is_control_pin_name(n->source->inst->name)) {
          starts.copies.push_back(n->source);
        }
      }
    }
  }

  control_net_check(d, starts);

  for (Module* m = top; m; m = m->next)
    if (m->state == kStateOpen) inv_to_weight(d, m);

  // Cuts were cleared with the weights; nothing set one since.
  for (Module* m = top; m; m = m->next)
    if (m->state == kStateOpen) m->expanded = nullptr;

  Net* tail = module_last_net(top);
  if (tail == nullptr) fail();
  for (Module* m = top->next; m; m = m->next) tail = add_net_flat(d, tail, m);

  {
    FlatIndex ix;
    for (Net* n = top->nets; n; n = n->next)
      if (is_signal_or_tristate(n)) join_net(d, ix, n);
  }

  Instance* last = top->comps;
  if (last == nullptr) fail();
  while (last->next) last = last->next;
  for (Module* m = top->next; m; m = m->next) last = add_instance_flat(last, m);

  // Sources, then constant cells and supply pins: every later net of one
  // kind joins the first.  A join touches only the kept net and the joined
  // one, both behind the scan, so both steps share one pass.  A net has one
  // source, so the four kinds never meet.
  Net* keep[4] = {nullptr, nullptr, nullptr, nullptr};
  for (Net* n = top->nets; n;) {
    Net* next = n->next;
    if (is_signal_or_tristate(n)) find_source(n);
    if (n->type == kNetSignal && n->source) {
      int kind = constant_kind(n->source);
      if (kind >= 0) {
        if (keep[kind] == nullptr) keep[kind] = n;
        else merge_net_h_l(top, keep[kind], n);
      }
    }
    n = next;
  }
}

}  // namespace zelk
