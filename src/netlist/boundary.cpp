// Joining nets across module boundaries: the look-up of a terminal's
// counterpart on the other side, and the join that composes the polarities
// of the two sides.  Flattening joins every boundary of the opened copies;
// flat output joins the clock and reset nets left in the copies.
#include "netlist/boundary.h"

#include "netlist/classes.h"

namespace zelk {

namespace {

// Lists up to this length are walked; longer ones are looked up in a map.
constexpr int kShortList = 8;

bool is_open(const Module* m) { return m != nullptr && m->state == kStateOpen; }

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
    case kNinv: case kAnd: case kNand: case kOr: case kNor: case kEor: case kEnor: case kAoi:
    case kOai: case kReg1: case kRegr1: case kRegs1: case kRegSR: case kRegSet: case kSreg1:
    case kSrgr1: case kSrgs1: case kSregSR: case kSregSet: case kHigh: case kLow: case kTsBuf:
    case kBgate:
      break;  // no polarity to compose
    default:
      fail();  // no such class
  }
  Link* first_b = b->links;
  net_append_all(a, b);
  delete_net(b, m);
  return s ? s : first_b;
}

namespace {

// A terminal through which a component drives its net.
bool component_drives(const Link* u) { return u->inst->cls != kPin && drives_as_output(u->pin_type); }

long count_component_drivers(const Net* n) {
  long k = 0;
  for (const Link* u = n->links; u; u = u->next) k += component_drives(u) ? 1 : 0;
  return k;
}

}  // namespace

void join_net(Design& d, FlatIndex& ix, Net* n) {
  Module* top = d.top;
  // Terminals of n through which a component drives it, counted when the
  // first global pin asks (most nets have none) and kept up to date across
  // the joins after that, so that no later global pin walks the net again.
  long drivers = -1;  // not counted yet
  auto join = [&](Link* t, Link* c) {
    if (drivers >= 0) {
      if (component_drives(t)) --drivers;
      if (c->net == n) {
        if (component_drives(c)) --drivers;
      } else {
        drivers += count_component_drivers(c->net) - (component_drives(c) ? 1 : 0);
      }
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
        if (drivers < 0) drivers = count_component_drivers(n);
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
      in->pin_use = kPinOpenEnd;
      t->cut = 1;
      t->weight = 0;
      t = t->next;
    } else if (in->cls == kUser && is_open(in->def)) {
      if (Link* c = ix.find_node(t)) {
        t = join(t, c);
        continue;
      }
      Instance* p = ix.pin(in->def, t->pin_name);
      if (p == nullptr || p->pin_use == kPinConnected) fail();
      p->pin_use = kPinOpenEnd;
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

}  // namespace zelk
