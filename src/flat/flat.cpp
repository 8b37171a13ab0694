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

bool is_open(const Module* m) { return m != nullptr && m->state == kStateOpen; }

}  // namespace

namespace {

// Joins a later net of the same constant into `keep`; its driver drops out.
void merge_net_h_l(Module* top, Net* keep, Net* other) {
  delete_node(other->source);
  if (keep->links == nullptr) fail();
  net_append_all(keep, other);
  delete_net(other, top);
}

// ---------------------------------------------------------------- per module

// Marks which pins of an open module are used, and takes the components
// that are on no net out of its list (all stay when none is on a net).
// Its empty nets go in the per-net pass.
void use_check(const Design& d, Module* m) {
  for (Instance* p = m->pins; p; p = p->next)
    p->pin_use = (m == d.top || p->link != nullptr) ? kPinConnected : kPinUnconnected;

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
    } else if (is_bidirect_type(t->pin_type) || is_tristate_type(t->pin_type)) {
      n->type = kNetTristate;
      t->weight = 0;
    } else if (drives_as_output(t->pin_type)) {
      n->type = kNetSignal;
      t->weight = 0;
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
  // A clock or reset pin of an opened copy fences the cone outside it too,
  // and its own cone inside, which no walk from the top module may reach
  // (when the parent's net is no control net by its own terminals): an
  // inverter there would otherwise join a signal net into the copy's
  // control net.
  for (Link* s : starts.copies) {
    if (Link* c = ix.find_node(s)) w.walk(c);
    w.walk(s);
  }
}

// Each net walked goes to `walked` when given; a later merge may take it.
Net* inv_to_weight(Design& d, Module* m, std::vector<Net*>* walked) {
  Net* last = nullptr;
  NetListAhead ahead(m->nets);
  for (Net* n = m->nets; n; n = n->next) {
    ahead.step();
    last = n;  // a merge keeps n and may take the nets after it
    if (walked) walked->push_back(n);
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
  return last;
}

// Moves the nets of open copy m but its clock and reset nets after `tail`
// in the top module, and onto `added`; returns the new tail.
Net* add_net_flat(Design& d, Net* tail, Module* m, std::vector<Net*>& added) {
  module_take_nets(m, [&](Net* n) {
    if (n->type == kNetControl) {
      module_push_net_front(m, n);  // control nets stay in their copy
    } else {
      module_insert_net_after(d.top, tail, n);
      added.push_back(n);
      tail = n;
    }
  });
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
    case kInv: case kNinv: case kAnd: case kNand: case kOr: case kNor: case kEor: case kEnor:
    case kAoi: case kOai: case kReg1: case kRegr1: case kRegs1: case kRegSR: case kRegSet:
    case kSreg1: case kSrgr1: case kSrgs1: case kSregSR: case kSregSet: case kTsBuf: case kBgate:
    case kUser:
      return -1;
    default:
      fail();  // no such class
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
      for (Net* n = m->nets, *next; n; n = next) {
        next = n->next;
        if (open && n->links == nullptr) {
          delete_net(n, m);  // an empty net of a copy goes
          continue;
        }
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

  // The top module's nets in list order, once the copies' nets have come
  // in, so that the walks below read them ahead.  A net that a join takes
  // away stays in the array and is passed over.
  std::vector<Net*> nets;
  nets.reserve(d.made<Net>());  // its pages touched only as it fills
  Net* tail = nullptr;  // the top module's last net
  if (top->state == kStateOpen) {
    tail = inv_to_weight(d, top, &nets);
  } else {
    for (Net* n = top->nets; n; n = n->next) {
      nets.push_back(n);
      tail = n;
    }
  }
  if (tail == nullptr) fail();
  // A copy's nets join the top module right after its inverters became
  // weights, while they are still at hand.
  for (Module* m = top->next; m; m = m->next) {
    if (m->state != kStateOpen) continue;
    inv_to_weight(d, m, nullptr);
    tail = add_net_flat(d, tail, m, nets);
  }

  // Cuts were cleared with the weights; nothing set one since.
  for (Module* m = top; m; m = m->next)
    if (m->state == kStateOpen) m->expanded = nullptr;

  auto net_at = [&nets](std::size_t j) { return nets[j]; };

  {
    FlatIndex ix;
    // A net is whole once its own boundaries are joined: a later join
    // either leaves it alone or takes it whole into its own net.  So its
    // driver is found while its terminals are still at hand.
    walk_nets_ahead(nets.size(), net_at, [&](std::size_t, Net* n) {
      if (!module_has_net(top, n) || !is_signal_or_tristate(n)) return;
      join_net(d, ix, n);
      find_source(n);
    });
  }

  Instance* last = top->comps;
  if (last == nullptr) fail();
  while (last->next) last = last->next;
  for (Module* m = top->next; m; m = m->next) last = add_instance_flat(last, m);

  // Constant cells and supply pins: every later net of one kind joins the
  // first.  A net has one source, so the four kinds never meet.
  Net* keep[4] = {nullptr, nullptr, nullptr, nullptr};
  walk_nets_ahead<NetReads::kDriver>(nets.size(), net_at, [&](std::size_t, Net* n) {
    if (!module_has_net(top, n)) return;
    if (n->type == kNetSignal && n->source) {
      int kind = constant_kind(n->source);
      if (kind >= 0) {
        if (keep[kind] == nullptr) keep[kind] = n;
        else merge_net_h_l(top, keep[kind], n);
      }
    }
  });
}

}  // namespace zelk
