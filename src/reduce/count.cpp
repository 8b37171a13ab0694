// The cost of the flat network: inverters still needed (nets that carry
// inverted terminals) and the number of inverted terminals.  These functions
// recount from the records; the reduction keeps the same figures per net as
// running tallies (reduce_internal.h).
#include "reduce/reduce.h"
#include "reduce/reduce_internal.h"

namespace zelk {

using reduce_detail::counted;
using reduce_detail::Rule;

// How the driver of n can serve an inverted terminal.
Rule reduce_detail::rule_of(const Design& d, const Net* n) {
  const Link* s = n->source;
  if (s == nullptr) return Rule::kNormal;  // no driver: one polarity only
  const Instance* in = s->inst;
  switch (in->cls) {
    case kAnd:
    case kNand:
    case kOr:
    case kNor:
      return d.options.all ? Rule::kReversible : Rule::kNormal;
    case kEor:
    case kEnor:
      return Rule::kReversible;
    case kReg1:
    case kRegr1:
    case kRegs1:
    case kRegSR:
    case kRegSet:
      return Rule::kNone;  // complementary outputs
    case kSreg1:
    case kSrgr1:
    case kSrgs1:
    case kSregSR:
    case kSregSet:
      return same(s->pin_name, "scan_out") ? Rule::kNormal : Rule::kNone;
    case kHigh:
    case kLow:
      return Rule::kNone;  // the other constant serves the inverse
    case kPin:
      return same(in->name, "VDD") || same(in->name, "VSS") ? Rule::kNone : Rule::kNormal;
    case kInv: case kNinv: case kAoi: case kOai: case kTsBuf: case kBgate: case kUser:
      return Rule::kNormal;
    default:
      fail();  // no such class
  }
}

namespace {

// Without an inverted terminal a net costs nothing under every rule; most
// nets are like that, so the driver is looked at only when needed.
bool any_inverted(const Net* n) {
  for (const Link* t = n->links; t; t = t->next)
    if (t->weight == -1) return true;
  return false;
}

}  // namespace

int count_inv_net_normal(const Net* n) {
  for (const Link* t = n->links; t; t = t->next)
    if (t->weight == -1 && counted(t)) return 1;
  return 0;
}

int count_inv_net_reversible(const Net* n) {
  bool plus = false, minus = false;
  for (const Link* t = n->links; t; t = t->next) {
    if (t->weight == 0 || !counted(t)) continue;
    if (t->weight == 1) plus = true;
    else if (t->weight == -1) minus = true;
    if (plus && minus) return 1;
  }
  return 0;
}

long count_wt_net_normal(const Net* n) {
  long k = 0;
  for (const Link* t = n->links; t; t = t->next)
    if (t->weight == -1 && counted(t)) ++k;
  return k;
}

long count_wt_net_reversible(const Net* n) {
  long plus = 0, minus = 0;
  for (const Link* t = n->links; t; t = t->next) {
    if (!counted(t)) continue;
    if (t->weight == 1) ++plus;
    else if (t->weight == -1) ++minus;
  }
  return plus < minus ? plus : minus;
}

int count_inv_net(const Design& d, const Net* n) {
  if (!any_inverted(n)) return 0;
  switch (reduce_detail::rule_of(d, n)) {
    case Rule::kNone:
      return 0;
    case Rule::kReversible:
      return count_inv_net_reversible(n);
    case Rule::kNormal:
      break;
  }
  return count_inv_net_normal(n);
}

long count_wt_net(const Design& d, const Net* n) {
  if (!any_inverted(n)) return 0;
  switch (reduce_detail::rule_of(d, n)) {
    case Rule::kNone:
      return 0;
    case Rule::kReversible:
      return count_wt_net_reversible(n);
    case Rule::kNormal:
      break;
  }
  return count_wt_net_normal(n);
}

int count_inv(const Design& d, const Module* m) {
  int k = 0;
  if (m->state == kStateOpen) {
    for (const Net* n = m->nets; n; n = n->next)
      if (n->type == kNetTristate || n->type == kNetSignal) k += count_inv_net(d, n);
  } else if (m->state == kStateFixed) {
    // A closed copy keeps its inverters as cells.
    for (const Instance* c = m->comps; c; c = c->next)
      if (c->cls == kInv) ++k;
  }
  return k;
}

int count_control_inv(const Design&, const Module* m) {
  if (m->state != kStateOpen) return 0;
  int k = 0;
  for (const Instance* c = m->comps; c; c = c->next)
    if (c->cls == kInv && c->link && c->link->net && c->link->net->type == kNetControl) ++k;
  return k;
}

long count_wt(const Design& d) {
  long k = 0;
  for (const Net* n = d.top->nets; n; n = n->next)
    if (n->type == kNetTristate || n->type == kNetSignal) k += count_wt_net(d, n);
  return k;
}

void Book::begin(std::size_t nets, FlipSum* sum, const Instance* of) {
  net_.assign(nets + 1, Entry{});
  gathered_.clear();
  pending_.clear();
  summed_of_ = sum ? of : nullptr;
  summed_log_.clear();
  if (sum) sum->reset(nets);
}

void Book::take(const Design& d, const std::vector<Net*>& nets, std::size_t from, std::size_t to,
                FlipSum* sum, std::vector<uint32_t>* touched) {
  const Instance* of = summed_of_;
  // Each net is numbered as the walk reaches it (from 1, in array order):
  // what the walk reads of a net's number is only ever its own, through its
  // terminals, and a pass of its own over ten million records costs more.
  walk_nets_ahead(
      to - from, [&nets, from](std::size_t j) { return nets[from + j]; },
      [&](std::size_t j, Net* n) {
        n->id = static_cast<int32_t>(from + j + 1);
        Tally& k = net_[from + j + 1].tally;
        k.rule_code = static_cast<uint32_t>(reduce_detail::rule_of(d, n)) & 3u;
        for (const Link* t = n->links; t; t = t->next) {
          // Met here once each, as add_gate meets them around the gate
          // (which passes over those on nets the top does not list).
          if (sum && t->inst->comp == of && is_gate(t->inst->cls)) {
            if (touched) sum->add_terminal(t, *touched);
            else sum->add_terminal(t);
          }
          if (!counted(t)) {
            // Only a -1 exclusive-or terminal gives the absorption work.
            if (t->weight == -1) k.exor = 1;
            continue;
          }
          if (t->weight == 1) ++k.plus;
          else if (t->weight == -1) ++k.minus;
        }
      });
}

}  // namespace zelk
