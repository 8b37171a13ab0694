// Connected components of the flat network, sub-components of one
// component, and the global moves that dualise a whole sub-component.
#include <unordered_map>
#include <utility>
#include <vector>

#include "flat/flat.h"
#include "reduce/reduce.h"
#include "reduce/reduce_internal.h"

namespace zelk {

using namespace reduce_detail;

namespace {

// Components and sub-components are the same kind of grouping over three
// Instance links: the head of the group, the next head of the list of
// groups, and the next member of the group.
struct Links {
  Instance* Instance::*head;
  Instance* Instance::*next_head;
  Instance* Instance::*member;
};
constexpr Links kComponent{&Instance::comp, &Instance::comp_next, &Instance::comp_member};
constexpr Links kSubComponent{&Instance::sub_comp, &Instance::sub_comp_next,
                              &Instance::sub_member};

// Builds groups by successive merges.  The result is exactly that of moving
// the absorbed group's members over one by one (list of heads, member
// order, head of every member), but a merge costs O(1): while building,
// `head` is a union-find parent whose root is the group's current head, and
// the list of heads is filtered once at the end.
class Grouping {
 public:
  explicit Grouping(const Links& l) : l_(l) {}

  // A new single-member group, pushed onto the front of `list`.
  void add(Instance* x, Instance*& list) {
    x->*l_.head = x;
    x->*l_.member = nullptr;
    x->*l_.next_head = list;
    list = x;
  }

  // The current head of x's group, or null when x is in no group.
  Instance* find(Instance* x) {
    Instance* root = x->*l_.head;
    if (!root) return nullptr;
    while (root->*l_.head != root) root = root->*l_.head;
    while (x != root) {
      Instance* up = x->*l_.head;
      x->*l_.head = root;
      x = up;
    }
    return root;
  }

  // Joins the groups of a and b; returns the surviving head.  a's group
  // survives, unless only b's group is headed by a module pin: a group
  // that holds a pin head keeps it.
  Instance* merge(Instance* a, Instance* b) {
    Instance* keep = find(a);
    Instance* gone = find(b);
    if (keep == gone) return keep;
    if (gone->cls == kPin && keep->cls != kPin) std::swap(keep, gone);
    tail(keep)->*l_.member = gone;
    tails_[keep] = tail(gone);
    tails_.erase(gone);
    gone->*l_.head = keep;
    return keep;
  }

  // Drops the absorbed heads from `list` (keeping the order of the others)
  // and points every member at its final head.
  void finish(Instance*& list) {
    Instance** link = &list;
    for (Instance* x = list; x;) {
      Instance* next = x->*l_.next_head;
      if (x->*l_.head == x) {
        *link = x;
        link = &(x->*l_.next_head);
        for (Instance* m = x->*l_.member; m; m = m->*l_.member) m->*l_.head = x;
      } else {
        x->*l_.next_head = nullptr;
      }
      x = next;
    }
    *link = nullptr;
  }

 private:
  Instance* tail(Instance* head) const {
    auto it = tails_.find(head);
    return it == tails_.end() ? head : it->second;
  }

  Links l_;
  std::unordered_map<Instance*, Instance*> tails_;  // last member of groups of 2 or more
};

bool is_flat_net(const Net* n) { return n->type == kNetSignal || n->type == kNetTristate; }

}  // namespace

// ---------------------------------------------------------------- components

void Reducer::conn_comp() {
  Module* top = d_.top;
  top->conn_comps = nullptr;

  // Component marks left from an earlier build would read as memberships.
  for (Net* n = top->nets; n; n = n->next)
    for (Link* t = n->links; t; t = t->next) t->inst->comp = nullptr;

  Grouping g(kComponent);
  for (Instance* p = top->pins; p; p = p->next)
    if (p->pin_use == kPinConnected) g.add(p, top->conn_comps);
  for (Module* m = top->next; m; m = m->next) {
    if (m->state != kStateOpen) continue;
    for (Instance* p = m->pins; p; p = p->next)
      if (p->pin_use == kPinOpenEnd || p->type == kwGlobal) g.add(p, top->conn_comps);
  }
  for (Instance* c = top->comps; c; c = c->next)
    if (c->cls != kInv) g.add(c, top->conn_comps);

  for (Net* n = top->nets; n; n = n->next) {
    if (!is_flat_net(n) || !n->source) continue;
    Instance* s = n->source->inst;
    Instance* current = g.find(s);
    if (!current) continue;  // a driver outside every component joins nothing
    for (Link* t = n->links; t; t = t->next) {
      if (t->cut != 0) continue;
      Instance* other = g.find(t->inst);
      if (other && other != current) current = g.merge(s, t->inst);
    }
  }
  g.finish(top->conn_comps);

  // Per component, the nets it drives in net-list order: the absorption and
  // the sub-components visit these, and membership never changes later.
  head_index_.clear();
  uint32_t count = 0;
  for (Instance* h = top->conn_comps; h; h = h->comp_next) head_index_.emplace(h, count++);
  auto driven_from = [](const Net* n) -> const Instance* {
    return is_flat_net(n) && n->source ? n->source->inst->comp : nullptr;
  };
  std::vector<uint32_t> sizes(count, 0);
  for (Net* n = top->nets; n; n = n->next)
    if (const Instance* h = driven_from(n)) ++sizes[head_index_.at(h)];
  net_first_.assign(count + 1, 0);
  for (uint32_t i = 0; i < count; ++i) net_first_[i + 1] = net_first_[i] + sizes[i];
  comp_nets_.assign(net_first_[count], nullptr);
  std::vector<uint32_t> fill(net_first_.begin(), net_first_.end() - 1);
  for (Net* n = top->nets; n; n = n->next)
    if (const Instance* h = driven_from(n)) comp_nets_[fill[head_index_.at(h)]++] = n;
}

Reducer::NetSpan Reducer::nets_of(const Instance* h) const {
  auto it = head_index_.find(h);
  if (it == head_index_.end()) return {nullptr, nullptr};
  Net* const* data = comp_nets_.data();
  return {data + net_first_[it->second], data + net_first_[it->second + 1]};
}

// ---------------------------------------------------------------- sub-components

namespace {

// Cells that pass a signal on with a fixed polarity relation.
bool joins_sub_comp(int cls, bool with_eor) {
  if (cls == kNinv || cls == kAnd || cls == kNand || cls == kOr || cls == kNor || cls == kAoi ||
      cls == kOai)
    return true;
  return with_eor && is_exor(cls);
}

}  // namespace

void Reducer::build_sub_comps(Instance* h, bool with_eor) {
  d_.start_sub_comp = nullptr;
  Grouping g(kSubComponent);
  for (Instance* m = h; m; m = m->comp_member) g.add(m, d_.start_sub_comp);

  for (Net* n : nets_of(h)) {
    if (n->type != kNetSignal) continue;
    Instance* s = n->source->inst;
    if (!joins_sub_comp(s->cls, with_eor)) continue;
    Instance* current = g.find(s);
    for (Link* t = n->links; t; t = t->next) {
      Instance* i = t->inst;
      if (t->weight != 1 || !joins_sub_comp(i->cls, with_eor) || i->comp != h) continue;
      if (g.find(i) != current) current = g.merge(s, i);
    }
  }
  g.finish(d_.start_sub_comp);
}

void Reducer::plus_factor(Instance* h) { build_sub_comps(h, true); }
void Reducer::plus_factor_eor_enor(Instance* h) { build_sub_comps(h, false); }

void rev_sub_comp_tmp(Instance* x) {
  for (Instance* m = x->sub_comp; m; m = m->sub_member)
    if (is_gate(m->cls)) rev_instance(m);
}

void sub_comp_dual(Instance* x) {
  for (Instance* m = x->sub_comp; m; m = m->sub_member)
    if (is_gate(m->cls)) toggle(m->dual);
}

namespace {

bool tried_head(int cls, bool with_eor) { return is_gate(cls) && (with_eor || !is_exor(cls)); }

// The first sub-component whose flip pays.  Every candidate is undone
// before the next is tried, so each starts from the counts taken before the
// walk, and its own touched nets measure it against them exactly.
Instance* first_paying(const Design& d, bool with_eor, bool weight_rule, Recount how) {
  TouchedNets nets;
  for (Instance* x = d.start_sub_comp; x; x = x->sub_comp_next) {
    if (!tried_head(x->cls, with_eor)) continue;
    if (how == Recount::kTouched) {
      nets.clear();
      for (const Instance* m = x->sub_comp; m; m = m->sub_member)
        if (is_gate(m->cls)) nets.add_gate(m);
      nets.finish(d);
    }
    if (flip_pays(d, how, weight_rule, nets, [x] { rev_sub_comp_tmp(x); })) return x;
    rev_sub_comp_tmp(x);
  }
  return nullptr;
}

}  // namespace

Instance* rev_sub_comp_inv(const Design& d, Recount how) {
  return first_paying(d, true, false, how);
}
Instance* rev_sub_comp_wt(const Design& d, Recount how) { return first_paying(d, true, true, how); }
Instance* rev_sub_comp_inv_eor_enor(const Design& d, Recount how) {
  return first_paying(d, false, false, how);
}
Instance* rev_sub_comp_wt_eor_enor(const Design& d, Recount how) {
  return first_paying(d, false, true, how);
}

// ---------------------------------------------------------------- global moves

int Reducer::red_inv_global(Instance* h) {
  plus_factor(h);
  Instance* x = rev_sub_comp_inv(d_, how_);
  if (!x) return 0;
  sub_comp_dual(x);
  if (absorb_after_moves()) eor_enor_and_or_nand_nor(h);
  return 1;
}

int Reducer::red_wt_global(Instance* h) {
  plus_factor(h);
  Instance* x = rev_sub_comp_wt(d_, how_);
  if (!x) return 0;
  sub_comp_dual(x);
  if (absorb_after_moves()) eor_enor_and_or_nand_nor(h);
  return 1;
}

int Reducer::red_inv_global_eor_enor(Instance* h) {
  plus_factor_eor_enor(h);
  Instance* x = rev_sub_comp_inv_eor_enor(d_, how_);
  if (!x) return 0;
  sub_comp_dual(x);
  eor_enor_and_or_nand_nor(h);
  return 1;
}

int Reducer::red_wt_global_eor_enor(Instance* h) {
  plus_factor_eor_enor(h);
  Instance* x = rev_sub_comp_wt_eor_enor(d_, how_);
  if (!x) return 0;
  sub_comp_dual(x);
  eor_enor_and_or_nand_nor(h);
  return 1;
}

}  // namespace zelk
