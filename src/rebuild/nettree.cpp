// Net trees: the module copies one flat net touches or passes through, the
// direction of its signal across every boundary, the ports that carry it,
// local constants instead of ports, and one net piece per copy.
#include <algorithm>

#include "netlist/classes.h"
#include "rebuild/rebuild_internal.h"

namespace zelk {

namespace {

void push_link(Link** head, Link* l) {
  l->next = *head;
  *head = l;
}

}  // namespace

Module* yca(Module* a, Module* b) {
  if (a == nullptr) return b;
  if (b == nullptr) return a;
  while (a->depth > b->depth) a = a->parent;
  while (b->depth > a->depth) b = b->parent;
  while (a != b) {
    a = a->parent;
    b = b->parent;
  }
  return a;
}

NetTrees::NetTrees(Design& d) : d_(d) {}

HierNode*& NetTrees::slot(Module* m) {
  std::size_t id = static_cast<std::size_t>(m->id);
  if (id >= node_.size()) {
    std::size_t n = std::max<std::size_t>(id + 1, static_cast<std::size_t>(d_.module_count) + 1);
    node_.resize(n, nullptr);
    stamp_.resize(n, 0);
  }
  if (stamp_[id] != gen_) {
    stamp_[id] = gen_;
    node_[id] = nullptr;
  }
  return node_[id];
}

HierNode* NetTrees::node_of(Module* m) { return slot(m); }

HierNode* NetTrees::new_node(Module* m, Link* t) {
  if (used_ == pool_.size()) pool_.emplace_back();
  HierNode* x = &pool_[used_++];
  *x = HierNode{};
  x->module = m;
  if (t) push_link(&x->links, t);
  slot(m) = x;
  return x;
}

HierNode* NetTrees::h_net(Net* net) {
  if (net == nullptr) return nullptr;
  ++gen_;
  HierNode* tree = nullptr;
  for (Link* t = net->links; t;) {
    Link* nx = t->next;
    t->next = nullptr;
    tree = add_tree(tree, t);
    t = nx;
  }
  return tree;
}

// Every edge of a tree joins a copy to a direct child copy, so a terminal
// of copy M goes to M's node when there is one, else to a new node below
// the deepest copy above M that has a node.
HierNode* NetTrees::add_tree(HierNode* tree, Link* t) {
  Module* m = t->inst->module;
  if (tree == nullptr) return new_node(m, t);
  if (HierNode* x = node_of(m)) {
    push_link(&x->links, t);
    return tree;
  }
  Module* r = tree->module;
  for (Module* a = m; a->depth > r->depth;) {
    a = a->parent;
    if (HierNode* p = node_of(a)) {
      HierNode* x = new_node(m, t);
      connect_f(p, x);
      return tree;
    }
  }
  Module* y = yca(r, m);
  HierNode* x = new_node(m, t);
  if (y == m) {  // m lies above the root
    connect_f(x, tree);
    return x;
  }
  HierNode* z = new_node(y, nullptr);
  connect_f(z, tree);
  connect_f(z, x);
  return z;
}

void NetTrees::connect_f(HierNode* upper, HierNode* lower) {
  HierNode* below = lower;
  for (Module* m = lower->module->parent; m && m != upper->module; m = m->parent) {
    HierNode* x = new_node(m, nullptr);
    x->children = below;
    below->up = x;
    below = x;
  }
  below->up = upper;
  below->sibling = upper->children;
  upper->children = below;
}

const std::vector<HierNode*>& NetTrees::preorder(HierNode* tree) {
  order_.clear();
  for (HierNode* n = tree; n;) {
    order_.push_back(n);
    if (n->children) {
      n = n->children;
      continue;
    }
    while (n != tree && n->sibling == nullptr) n = n->up;
    if (n == tree) break;
    n = n->sibling;
  }
  return order_;
}

// For each driver, the nodes on its path up to (not including) the root
// get to_up, every other node from_up.  Equivalently, with subtree driver
// counts: to_up when the subtree holds a driver, from_up when a driver
// lies outside it.
void NetTrees::pin_type_check(HierNode* tree, int net_type) {
  if (tree == nullptr) return;
  const std::vector<HierNode*>& order = preorder(tree);
  for (HierNode* n : order) {
    n->source = nullptr;
    for (Link* l = n->links; l; l = l->next)
      if (drives(l)) {
        n->source = l;
        break;
      }
    n->from_up = 0;
    n->to_up = 0;
    n->drivers_below = n->source ? 1 : 0;
    n->reads_below = 0;
    for (Link* l = n->links; l; l = l->next)
      if (l->pin_type == kwInput || l->pin_type == kwInputConnected) {
        n->reads_below = 1;
        break;
      }
  }
  for (std::size_t k = order.size(); k-- > 1;) {
    HierNode* n = order[k];
    n->up->drivers_below += n->drivers_below;
    if (n->reads_below) n->up->reads_below = 1;
  }
  int32_t total = tree->drivers_below;
  for (HierNode* n : order) {
    if (n->up != nullptr) {
      n->to_up = n->drivers_below > 0 ? 1 : 0;
      n->from_up = total - n->drivers_below > 0 ? 1 : 0;
    }
    if (n->from_up == 0)
      n->port_type = net_type != kNetSignal ? kwTristate : kwOutput;
    else if (n->to_up == 0)
      n->port_type = kwInput;
    else
      n->port_type = n->reads_below ? kwBidirect : kwTristate;
  }
}

void NetTrees::make_link(HierNode* tree) {
  if (tree == nullptr) return;
  // Ports add terminals, never nodes: the order stays valid.
  for (HierNode* p : preorder(tree))
    for (HierNode* k = p->children; k; k = k->sibling) make_new_link(p, k);
}

void NetTrees::make_new_link(HierNode* parent_node, HierNode* child_node) {
  Module* inner = child_node->module;
  // The copy's own instance, whatever else of its parent shares its name.
  Instance* i = inner->inst;
  if (i == nullptr) fail();

  Instance* q = d_.make<Instance>();
  q->cls = kPin;
  q->type = child_node->port_type;
  q->module = inner;
  q->next = inner->pins;
  inner->pins = q;

  Link* tq = d_.make<Link>();
  tq->inst = q;
  tq->pin_type = child_node->port_type;
  tq->inst_next = tq;
  push_link(&child_node->links, tq);
  q->link = tq;

  Link* ti = d_.make<Link>();
  ti->inst = i;
  // Keep i's ring whole: the new terminal joins it.
  if (i->link) {
    ti->inst_next = i->link->inst_next;
    i->link->inst_next = ti;
  } else {
    ti->inst_next = ti;
  }
  push_link(&parent_node->links, ti);
  i->link = ti;

  ti->partner = tq;
  tq->partner = ti;
}

void NetTrees::high_low_nethier(HierNode* tree, int cls) {
  if (tree == nullptr) return;
  for (HierNode* n : preorder(tree)) {
    if (n->links == nullptr) continue;
    if (n->links->next == nullptr && n->links->inst->cls == cls)
      n->links = nullptr;  // only the old cell: no piece here
    else
      high_low_nethier2(n, cls);
  }
}

void NetTrees::high_low_nethier2(HierNode* node, int cls) {
  for (Link* l = node->links; l; l = l->next)
    if (l->inst->cls == cls) return;
  Module* m = node->module;
  Instance* c = d_.make<Instance>();
  c->cls = static_cast<int16_t>(cls);
  c->name = cls == kHigh ? kNameHigh : kNameLow;
  c->module = m;
  c->next = m->comps;
  m->comps = c;
  d_.new_constants.push_back(c);
  Link* l = d_.make<Link>();
  l->inst = c;
  l->pin_name = cls == kHigh ? kNameOut : kNameNout;
  l->inst_next = l;
  c->link = l;
  push_link(&node->links, l);
  node->source = l;
}

void NetTrees::vdd_vss_nethier(HierNode* tree, int cls) {
  if (tree == nullptr) return;
  for (HierNode* n : preorder(tree)) {
    if (n->links == nullptr) continue;
    const Instance* only = n->links->inst;
    if (n->links->next == nullptr && only->cls == kPin && only->type == kwGlobal)
      n->links = nullptr;
    else
      vdd_vss_nethier2(n, cls);
  }
}

void NetTrees::vdd_vss_nethier2(HierNode* node, int cls) {
  for (Link* l = node->links; l; l = l->next)
    if (l->inst->cls == kPin && l->inst->type == kwGlobal) return;
  Module* m = node->module;
  Instance* pin = d_.make<Instance>();
  pin->cls = kPin;
  pin->type = kwGlobal;
  pin->name = cls == kHigh ? kNameVdd : kNameVss;
  pin->module = m;
  pin->next = m->pins;
  m->pins = pin;
  Link* l = d_.make<Link>();
  l->inst = pin;
  l->pin_name = pin->name;
  l->inst_next = l;
  pin->link = l;
  push_link(&node->links, l);
  node->source = l;
}

void NetTrees::deliver_net(HierNode* tree, int net_type, Net* spare) {
  if (tree == nullptr) return;
  for (HierNode* n : preorder(tree)) {
    if (n->links == nullptr) continue;
    Net* net = spare ? spare : d_.make<Net>();
    if (spare) *net = Net{};
    spare = nullptr;
    net->links = n->links;
    net->source = n->source;
    net->type = static_cast<int16_t>(net_type);
    for (Link* l = n->links; l; l = l->next) l->net = net;
    net_relink(net);
    module_push_net_front(n->module, net);
  }
}

}  // namespace zelk
