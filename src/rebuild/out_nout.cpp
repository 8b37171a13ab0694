// Output polarity: the reduction's weights and dual/negate marks become
// netlist changes on the flat network of the top module.
#include <functional>
#include <vector>

#include "netlist/classes.h"
#include "rebuild/rebuild.h"
#include "rebuild/rebuild_internal.h"

namespace zelk {

namespace {


// A terminal of its own ring.
Link* new_single_link(Design& d, Instance* inst, const char* pin_name, int16_t pin_type) {
  Link* l = d.make<Link>();
  l->inst = inst;
  l->pin_name = pin_name;
  l->pin_type = pin_type;
  l->inst_next = l;
  inst->link = l;
  return l;
}

int count_links(const Net* n) {
  int k = 0;
  for (const Link* l = n->links; l && k < 2; l = l->next) ++k;
  return k;
}

// Makes the driver terminal of a net created by the exchange.
using MakeDriver = std::function<Link*()>;

// Serves inverted terminals of P from Q and of Q from P, where Q carries
// the inverse of P's signal.  A missing side is made here, driven by the
// terminal that make_p / make_q returns; p and q return the sides kept
// (null for a side left with its driver alone, which goes).
void exchange(Design& d, Net*& p, Net*& q, const MakeDriver& make_p, const MakeDriver& make_q,
              Instance* reg) {
  if (p == nullptr && q == nullptr) return;
  bool p_made = false;
  bool q_made = false;
  if (p == nullptr) {
    p = d.make<Net>();
    p_made = true;
  }
  if (q == nullptr) {
    q = d.make<Net>();
    q_made = true;
  }
  Module* top = d.top;

  Link* p_old = net_detach(p);
  Link* q_old = net_detach(q);
  for (Link* l = p_old; l;) {
    Link* nx = l->next;
    if (l->weight < 0) {
      l->weight = 1;
      net_push_front(q, l);
    } else {
      net_push_front(p, l);
    }
    l = nx;
  }
  for (Link* l = q_old; l;) {
    Link* nx = l->next;
    if (l->weight < 0) {
      l->weight = 1;
      net_push_front(p, l);
    } else {
      net_push_front(q, l);
    }
    l = nx;
  }

  auto finish = [&](Net*& n, bool made, const MakeDriver& make) {
    if (made) {
      if (n->links == nullptr) {  // nothing needs this side
        n = nullptr;
        return;
      }
      Link* drv = make();
      net_push_front(n, drv);
      n->type = kNetSignal;
      n->source = drv;
      module_push_net_front(top, n);
      return;
    }
    if (count_links(n) == 1) {  // its driver alone: the net goes
      Link* only = n->links;
      if (module_has_net(top, n)) delete_net(n, top);
      if (reg) delete_link(only);
      n = nullptr;
    }
  };
  finish(p, p_made, make_p);
  finish(q, q_made, make_q);
}

}  // namespace

void delete_link(Link* t) {
  Instance* i = t->inst;
  Link* start = i->link;
  Link* p = start;
  while (p->inst_next != t) {
    p = p->inst_next;
    if (p == nullptr || p == start) return;  // not in the ring
  }
  p->inst_next = t->inst_next;
  i->link = p;
}

void ConstantNets::note(Net* n) {
  if ((n->type != kNetSignal && n->type != kNetTristate) || n->source == nullptr) return;
  const Link* s = n->source;
  Net** first = nullptr;
  switch (s->inst->cls) {
    case kHigh:
      first = &high;
      break;
    case kLow:
      first = &low;
      break;
    case kPin:
      if (same(s->pin_name, kNameVdd)) first = &vdd;
      else if (same(s->pin_name, kNameVss)) first = &vss;
      break;
    default:
      break;
  }
  if (first == nullptr) return;
  if (n->type == kNetTristate) tristate.push_back(n);
  else if (*first == nullptr) *first = n;
}

namespace {

// The name the output of gate g takes when its class changes, or null.
const char* new_output_name(const Instance* g) {
  switch (g->cls) {
    case kAnd:
    case kOr:
      return g->negate == 1 ? kNameNout : nullptr;
    case kNand:
    case kNor:
      return g->negate == 1 ? kNameOut : nullptr;
    case kEor:
      return g->dual == 1 ? kNameNout : nullptr;
    case kEnor:
      return g->dual == 1 ? kNameOut : nullptr;
    case kInv: case kNinv: case kAoi: case kOai: case kReg1: case kRegr1: case kRegs1:
    case kRegSR: case kRegSet: case kSreg1: case kSrgr1: case kSrgs1: case kSregSR:
    case kSregSet: case kHigh: case kLow: case kTsBuf: case kBgate: case kPin: case kUser:
      return nullptr;  // the output keeps its name
    default:
      fail();  // no such class
  }
}

// Gives output terminal s the name `to`.  An input that happens to carry
// the new output name takes the old one, so the gate keeps distinct pin
// names.
void rename_output(Link* s, const char* to) {
  const char* from = to == kNameOut ? kNameNout : kNameOut;
  s->pin_name = to;
  for (Link* o = s->inst_next; o && o != s; o = o->inst_next)
    if (same(o->pin_name, to)) o->pin_name = from;
}

bool renamed_with_its_net(const Link* o) {
  const Net* n = o->net;
  return n && (n->type == kNetTristate || n->type == kNetSignal) && n->source == o;
}

}  // namespace

// The renaming changes no net's type or source, nor a module pin's name.
ConstantNets out_nout(Design& d) {
  ConstantNets found;
  std::vector<Net*> nets;
  module_walk_nets_ahead<NetReads::kDriver>(d.top, nets, [&](Net* n) {
    if (n->type != kNetTristate && n->type != kNetSignal) return;
    Link* s = n->source;
    if (s == nullptr) return;  // no driver: nothing to rename
    found.note(n);
    if (const char* to = new_output_name(s->inst)) rename_output(s, to);
  }, d.made<Net>());
  // A gate output that is not its net's driver (a second driver on the
  // net) takes its new name too, or the gate would be written with the
  // output name of its old class.
  for (Instance* g = d.top->comps; g; g = g->next) {
    if (!is_gate(g->cls) || (g->dual != 1 && g->negate != 1)) continue;
    const char* to = new_output_name(g);
    Link* o = to ? first_terminal_of_type(g, kwOutput) : nullptr;
    if (o && !renamed_with_its_net(o)) rename_output(o, to);
  }
  return found;
}

void high_low(Design& d, Net*& high, Net*& low) {
  auto make_cell = [&d](int16_t cls, const char* name, const char* pin) {
    Instance* c = d.make<Instance>();
    c->cls = cls;
    c->name = name;
    c->module = d.top;
    c->next = d.top->comps;
    d.top->comps = c;
    d.new_constants.push_back(c);
    return new_single_link(d, c, pin, kwOutput);
  };
  exchange(
      d, high, low, [&] { return make_cell(kHigh, kNameHigh, kNameOut); },
      [&] { return make_cell(kLow, kNameLow, kNameNout); }, nullptr);
}

void vdd_vss(Design& d, Net*& vdd, Net*& vss) {
  auto make_pin = [&d](const char* name) {
    Instance* pin = d.make<Instance>();
    pin->cls = kPin;
    pin->name = name;
    pin->type = kwGlobal;
    pin->module = d.top;
    pin->next = d.top->pins;
    d.top->pins = pin;
    return new_single_link(d, pin, pin->name, kwGlobal);
  };
  exchange(
      d, vdd, vss, [&] { return make_pin(kNameVdd); }, [&] { return make_pin(kNameVss); }, nullptr);
}

void reg_out(Design& d, Instance* reg) {
  Net* p = nullptr;
  Net* q = nullptr;
  Link* start = reg->link;
  if (start == nullptr) return;
  Link* t = start;
  do {
    if (!p && same(t->pin_name, kNameOut)) p = t->net;
    if (!q && same(t->pin_name, kNameNout)) q = t->net;
    t = t->inst_next;
  } while (t && t != start);

  // A new output terminal goes into the ring right after reg's link.
  auto make_term = [&d, reg](const char* pin) {
    Link* l = d.make<Link>();
    l->inst = reg;
    l->pin_name = pin;
    l->pin_type = kwOutput;
    Link* at = reg->link;
    l->inst_next = at->inst_next;
    at->inst_next = l;
    return l;
  };
  if (p != nullptr && p == q) {
    // Both outputs on one net: the inverted terminals stay where they are,
    // served by the same net.
    Link* old = net_detach(p);
    for (Link* l = old; l;) {
      Link* nx = l->next;
      if (l->weight < 0) l->weight = 1;
      net_push_front(p, l);
      l = nx;
    }
    if (count_links(p) == 1) {
      Link* only = p->links;
      if (module_has_net(d.top, p)) delete_net(p, d.top);
      delete_link(only);
    }
    return;
  }
  exchange(
      d, p, q, [&] { return make_term(kNameOut); }, [&] { return make_term(kNameNout); }, reg);
}

void output(Design& d) {
  ConstantNets constants = out_nout(d);
  high_low(d, constants.high, constants.low);
  // The joining of high- and low- nets leaves the VDD and VSS nets alone.
  vdd_vss(d, constants.vdd, constants.vss);
  // A tristate net of a constant source: its inverted readers join the
  // opposite constant's signal net (the one just served, or a new one).
  // Nets without one keep their terminals' order.
  for (Net* t : constants.tristate) {
    bool inverted = false;
    for (const Link* l = t->links; l && !inverted; l = l->next) inverted = l->weight < 0;
    if (!inverted) continue;
    const Link* s = t->source;
    Net* p = t;
    if (s->inst->cls == kHigh) high_low(d, p, constants.low);
    else if (s->inst->cls == kLow) high_low(d, constants.high, p);
    else if (same(s->pin_name, kNameVdd)) vdd_vss(d, p, constants.vss);
    else vdd_vss(d, constants.vdd, p);
  }
  if (d.reg_exist == 1) {
    for (Instance* i = d.top->comps; i; i = i->next)
      if (is_register(i->cls)) reg_out(d, i);
  }
  for (Instance* i = d.top->comps; i; i = i->next) {
    if (i->dual == 1) i->cls = static_cast<int16_t>(dual_class(i->cls));
    if (i->negate == 1) i->cls = static_cast<int16_t>(negate_class(i->cls));
  }
}

}  // namespace zelk
