// Connected components of the flat network, sub-components of one
// component, and the global moves that dualise a whole sub-component.
#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "reduce/reduce.h"
#include "reduce/reduce_internal.h"

namespace zelk {

using namespace reduce_detail;

namespace {

// Builds the components by successive merges.  The result is exactly that
// of keeping a list of groups, each new instance pushed onto its front as a
// group of its own, and of moving an absorbed group's members over one by
// one behind the survivor's (order of the groups, member order, head of
// every member), but a merge costs O(1): while building, Instance::comp is a
// union-find parent whose root is the group's current head, and the groups
// are read off once at the end.  x->id numbers each instance in the order
// added until the members are numbered.
class Grouping {
 public:
  // Room for `most` instances, its pages touched only as they are added.
  explicit Grouping(std::size_t most) {
    room_large(added_, most);
    room_large(next_, most);
    room_large(tail_, most);
  }
  void add(Instance* x) {
    x->id = static_cast<int32_t>(added_.size());
    x->comp = x;
    added_.push_back(x);
    next_.push_back(kEnd);
    tail_.push_back(static_cast<uint32_t>(x->id));
  }

  // Number of instances added.
  std::size_t size() const { return added_.size(); }

  // The current head of x's group, or null when x is in no group.
  Instance* find(Instance* x) {
    Instance* root = x->comp;
    if (!root) return nullptr;
    while (root->comp != root) root = root->comp;
    while (x != root) {
      Instance* up = x->comp;
      x->comp = root;
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
    const auto k = static_cast<std::size_t>(keep->id), o = static_cast<std::size_t>(gone->id);
    next_[tail_[k]] = static_cast<uint32_t>(o);
    tail_[k] = tail_[o];
    gone->comp = keep;
    return keep;
  }

  // The groups in list order (the last added first), their members in
  // order, every member pointed at its head and numbered (Instance::id)
  // by its place: appends the members to `members`, their member_kind()
  // to `kinds` and the position of each group's head to `firsts`.
  void finish(std::vector<Instance*>& members, std::vector<uint8_t>& kinds,
              std::vector<uint32_t>& firsts) {
    for (std::size_t i = added_.size(); i-- > 0;) {
      Instance* head = added_[i];
      if (head->comp != head) continue;
      firsts.push_back(static_cast<uint32_t>(members.size()));
      for (uint32_t m = static_cast<uint32_t>(i); m != kEnd; m = next_[m]) {
        if (next_[m] != kEnd) __builtin_prefetch(added_[next_[m]]);
        Instance* x = added_[m];
        x->comp = head;
        x->id = static_cast<int32_t>(members.size());
        members.push_back(x);
        kinds.push_back(member_kind(x->cls));
      }
    }
  }

 private:
  static constexpr uint32_t kEnd = UINT32_MAX;
  std::vector<Instance*> added_;
  std::vector<uint32_t> next_;  // next member of the same group
  std::vector<uint32_t> tail_;  // on a head: last member of its group
};

bool is_flat_net(const Net* n) { return n->type == kNetSignal || n->type == kNetTristate; }

}  // namespace

// ---------------------------------------------------------------- components

void Reducer::conn_comp() {
  Module* top = d_.top;

  // The net list is walked several times, its records and those of their
  // terminals in any order: each walk reads nets ahead from this array.
  std::vector<Net*> all;
  module_net_array(top, all, d_.made<Net>());
  auto all_at = [&all](std::size_t j) { return all[j]; };
  // The tables of every net and every member are filled after walks of the
  // whole design on this thread alone: their pages are asked for as soon as
  // their sizes are known, to be present by then.
  PageAhead& pages = d_.page_ahead;
  if (book_) {
    book_->room_ahead(pages, all.size());
    comp_sum_.room_ahead(pages, all.size());
  }
  comp_nets_.clear();
  room_ahead(pages, comp_nets_, all.size());

  // Component marks left from an earlier build would read as memberships.
  if (d_.comps_marked) {
    walk_nets_ahead(all.size(), all_at, [](std::size_t, const Net* n) {
      for (Link* t = n->links; t; t = t->next) t->inst->comp = nullptr;
    });
  }
  d_.comps_marked = true;

  // A gate whose output net holds a terminal that reads it without a
  // weight (a bidirect terminal, a module's global pin) cannot flip: the
  // inversion of its output would reach that terminal.  Such a gate is in
  // no component, so no move flips, negates or absorbs it.  The walk that
  // merges finds them; when there are any (nearly never), the components
  // are built again without them.
  std::vector<Instance*> pinned;
  auto grouped = [&pinned](const Instance* c) {
    return c->cls != kInv && !std::binary_search(pinned.begin(), pinned.end(), c);
  };
  std::optional<Grouping> grouping;
  auto build = [&]() -> Grouping& {
    grouping.emplace(d_.made<Instance>());
    Grouping& g = *grouping;
    for (Instance* p = top->pins; p; p = p->next)
      if (p->pin_use == kPinConnected) g.add(p);
    for (Module* m = top->next; m; m = m->next) {
      if (m->state != kStateOpen) continue;
      for (Instance* p = m->pins; p; p = p->next)
        if (p->pin_use == kPinOpenEnd || p->type == kwGlobal) g.add(p);
    }
    for (Instance* c = top->comps; c; c = c->next)
      if (grouped(c)) g.add(c);
    return g;
  };
  Grouping* gp = &build();
  members_.clear();
  member_kind_.clear();
  drive_.clear();
  member_marks_.clear();
  room_ahead(pages, members_, gp->size());  // exactly: these run over the whole design
  room_ahead(pages, member_kind_, gp->size());
  if (book_) room_ahead(pages, drive_, gp->size());
  room_ahead(pages, member_marks_, gp->size());
  for (Groups& gr : groups_) gr.room_ahead(pages, gp->size());

  auto merge_walk = [&](Grouping& g, bool find_pinned) {
    walk_nets_ahead(all.size(), all_at, [&](std::size_t, const Net* n) {
      if (!is_flat_net(n) || !n->source) return;
      Instance* s = n->source->inst;
      Instance* current = g.find(s);
      bool unweighted_reader = false;
      for (Link* t = n->links; t; t = t->next) {
        if (t->cut != 0) continue;
        unweighted_reader |= reads_without_weight(t);
        if (!current) continue;  // a driver outside every component joins nothing
        Instance* other = g.find(t->inst);
        if (other && other != current) current = g.merge(s, t->inst);
      }
      // A gate's terminal of weight 0 is its output.
      if (find_pinned && unweighted_reader)
        for (Link* t = n->links; t; t = t->next)
          if (t->weight == 0 && is_gate(t->inst->cls)) pinned.push_back(t->inst);
    });
  };
  merge_walk(*gp, true);
  if (!pinned.empty()) {
    std::sort(pinned.begin(), pinned.end());
    pinned.erase(std::unique(pinned.begin(), pinned.end()), pinned.end());
    for (Instance* c = top->comps; c; c = c->next) c->comp = nullptr;
    for (Instance* c : pinned) c->id = 0;
    gp = &build();
    merge_walk(*gp, false);
  }
  Grouping& g = *gp;

  // Members are numbered in component order, so that each component holds
  // one range of numbers starting at its head.
  comp_first_.clear();
  g.finish(members_, member_kind_, comp_first_);
  if (book_) drive_.assign(members_.size(), kNoNet);
  // The flip gain of the largest component is summed by the walk that
  // takes the nets' tallies, each net's terminals in one go, instead of
  // gate by gate when the component is entered.
  summed_ = nullptr;
  if (book_) {
    uint32_t best = 0;
    for (std::size_t c = 0; c < comp_first_.size(); ++c) {
      const uint32_t size = comp_end(comp_first_[c]) - comp_first_[c];
      if (size > best) {
        best = size;
        summed_ = members_[comp_first_[c]];
      }
    }
    if (best < beside_from) summed_ = nullptr;
  }
  // The nets' tallies are read from the nets alone: on a large design they
  // are taken in parts by two threads, one of which places the nets below
  // first.
  if (book_ && members_.size() >= beside_from) {
    FlipSum* const sum = summed_ ? &comp_sum_ : nullptr;
    book_->begin(all.size(), sum, summed_);
    // Parts enough for the two to end together, whatever placing costs.
    constexpr std::size_t kParts = 64;
    const std::size_t part = std::max<std::size_t>(1, (all.size() + kParts - 1) / kParts);
    const std::size_t parts = (all.size() + part - 1) / part;
    std::vector<std::vector<uint32_t>> touched(sum ? parts : 0);
    std::atomic<std::size_t> next{0};
    auto take_parts = [&] {
      for (std::size_t p; (p = next.fetch_add(1)) < parts;)
        book_->take(d_, all, p * part, std::min(all.size(), (p + 1) * part), sum,
                    sum ? &touched[p] : nullptr);
    };
    run_beside(take_parts, [&] {
      place_nets(all);
      take_parts();
    });
    for (const std::vector<uint32_t>& t : touched) comp_sum_.add_touched(t);
  } else {
    if (book_) book_->start(d_, all, summed_ ? &comp_sum_ : nullptr, summed_);
    place_nets(all);
  }
  for (Groups& g : groups_) g.of = nullptr;
  member_marks_.assign(members_.size(), 0);
  if (book_ && !summed_) comp_sum_.reset(static_cast<std::size_t>(book_->nets()));
  work_ = nullptr;
  if (book_) book_->focus(nullptr);
}

// Per component, the nets it drives in net-list order: the absorption and
// the sub-components visit these, and membership never changes later.  The
// walk that places them also finds the signal net each joining member
// drives.  Reads no net's number.
void Reducer::place_nets(const std::vector<Net*>& all) {
  auto all_at = [&all](std::size_t j) { return all[j]; };
  const uint32_t count = static_cast<uint32_t>(comp_first_.size());
  // Per head's id, its component's place; only the heads' entries are
  // written and read, so the rest of the array is never touched.
  const auto ordinal = std::make_unique_for_overwrite<uint32_t[]>(members_.size());
  for (uint32_t c = 0; c < count; ++c) ordinal[comp_first_[c]] = c;
  auto driven_from = [](const Net* n) -> const Instance* {
    return is_flat_net(n) && n->source ? n->source->inst->comp : nullptr;
  };
  auto index_of = [&ordinal](const Instance* h) { return ordinal[static_cast<std::size_t>(h->id)]; };
  std::vector<uint32_t> sizes(count, 0);
  walk_nets_ahead<NetReads::kDriver>(all.size(), all_at, [&](std::size_t, const Net* n) {
    if (const Instance* h = driven_from(n)) ++sizes[index_of(h)];
  });
  net_first_.assign(count + 1, 0);
  for (uint32_t i = 0; i < count; ++i) net_first_[i + 1] = net_first_[i] + sizes[i];
  comp_nets_.assign(net_first_[count], nullptr);
  std::vector<uint32_t> fill(net_first_.begin(), net_first_.end() - 1);
  walk_nets_ahead<NetReads::kDriver>(all.size(), all_at, [&](std::size_t j, const Net* n) {
    const Instance* h = driven_from(n);
    if (!h) return;
    const uint32_t at = fill[index_of(h)]++;
    comp_nets_[at] = all[j];
    if (!book_ || n->type != kNetSignal) return;
    const auto m = static_cast<std::size_t>(n->source->inst->id);
    if (!kind_joins(member_kind_[m], true)) return;
    if (drive_[m] != kNoNet) member_kind_[m] |= kDrivesMore;
    else drive_[m] = at;
  });
}

uint32_t Reducer::component(uint32_t id) const {
  return static_cast<uint32_t>(std::upper_bound(comp_first_.begin(), comp_first_.end(), id) -
                               comp_first_.begin()) - 1;
}

uint32_t Reducer::comp_end(uint32_t first) const {
  const uint32_t c = component(first) + 1;
  return c < comp_first_.size() ? comp_first_[c] : static_cast<uint32_t>(members_.size());
}

std::vector<Instance*> Reducer::heads() const {
  std::vector<Instance*> h;
  h.reserve(comp_first_.size());
  for (uint32_t first : comp_first_) h.push_back(members_[first]);
  return h;
}

Members Reducer::members_of(const Instance* h) const {
  const uint32_t first = static_cast<uint32_t>(h->id);
  return {members_.data() + first, members_.data() + comp_end(first)};
}

Reducer::NetSpan Reducer::nets_of(const Instance* h) const {
  const std::size_t id = static_cast<std::size_t>(h->id);
  if (id >= members_.size() || members_[id] != h) return {nullptr, nullptr};
  const uint32_t c = component(static_cast<uint32_t>(id));
  Net* const* data = comp_nets_.data();
  return {data + net_first_[c], data + net_first_[c + 1]};
}

// ---------------------------------------------------------------- sub-components

namespace {

// Groups of at least this many members have their flip gain kept per net.
constexpr uint32_t kBig = 256;

// Whether terminal t, a load of a net driven from a member that joins the
// groups, joins its driver's group: a +1 connection to a cell of the kind
// that joins them, in component `of`.
bool joins_load(const Link* t, const Instance* of, bool with_eor) {
  const Instance* i = t->inst;
  return t->weight == 1 && joins_sub_comp(i->cls, with_eor) && i->comp == of;
}

}  // namespace

uint32_t Reducer::find(Groups& g, uint32_t x) {
  uint32_t root = x;
  while (g.parent[root] != root) root = g.parent[root];
  while (x != root) {
    uint32_t up = g.parent[x];
    g.parent[x] = root;
    x = up;
  }
  return root;
}

// Merges as the list of groups does: the source's group survives (or the
// one headed by a module pin) and takes the other's members after its own.
// The list of groups is never kept: all members are pushed, in member order,
// onto its front, and absorbed heads dropped, so it runs over the heads in
// the reverse of member order.
uint32_t Reducer::merge_keep(Groups& g, uint32_t a, uint32_t b) {
  uint32_t keep = find(g, a), gone = find(g, b);
  if (keep == gone) return keep;
  if (members_[gone]->cls == kPin && members_[keep]->cls != kPin) std::swap(keep, gone);
  g.append(keep, gone);
  g.parent[gone] = keep;
  return keep;
}

// Joins the groups along the +1 connections of signal net n, in terminal
// order, as the whole build does.
template <class OnMerge>
void Reducer::join_along(Groups& g, const Net* n, uint32_t sid, OnMerge on_merge) {
  uint32_t current = find(g, sid);
  for (Link* t = n->links; t; t = t->next) {
    if (!joins_load(t, g.of, g.with_eor)) continue;
    const auto id = static_cast<uint32_t>(t->inst->id);
    if (find(g, id) != current) {
      current = merge_keep(g, sid, id);
      on_merge(sid, id);
    }
  }
}

void Reducer::join_along(Groups& g, const Net* n, uint32_t sid) {
  join_along(g, n, sid, [](uint32_t, uint32_t) {});
}

void Reducer::build_sub_comps(Instance* h, bool with_eor, bool both) {
  const bool entering = fast() && work_ != h;
  if (fast()) {
    if (entering) take_up(h);
    take_changes();
  }
  Groups& g = groups(with_eor);
  Groups* other = &groups(!with_eor);
  if (!both || other->of == h) other = nullptr;
  // Summing the component's gates (on entering it) and building each kind
  // of groups read the netlist and write apart: on a large component they
  // run two at a time.
  auto sum = [&] {
    if (entering) sum_component(h);
  };
  auto fill = [&] { fill_groups(g, h, with_eor); };
  auto fill_other = [&] {
    if (other) fill_groups(*other, h, !with_eor);
  };
  const uint32_t first = static_cast<uint32_t>(h->id);
  const bool large = comp_end(first) - first >= beside_from;
  if (large && entering && book_) {
    // A large component nearly always holds a large group, whose gain is
    // kept per net and which a lost connection splits by searches over
    // the members: those tables are asked for while the groups are built.
    for (Groups* gr : {&g, other}) {
      if (!gr) continue;
      gr->big_sum.room_ahead(d_.page_ahead, static_cast<std::size_t>(book_->nets()));
      if (gr->visit.size() != members_.size()) {
        gr->visit.clear();
        room_ahead(d_.page_ahead, gr->visit, members_.size());
      }
    }
  }
  if (large && (entering || other)) {
    run_beside(fill_other, [&] {
      sum();
      fill();
    });
  } else {
    sum();
    fill();
    fill_other();
  }
  last_groups_ = &g;
  if (!fast()) return;
  if (large && other) {
    run_beside([&] { keep_big(*other); }, [&] { keep_big(g); });
  } else {
    keep_big(g);
    if (other) keep_big(*other);
  }
}

void Reducer::fill_groups(Groups& g, Instance* h, bool with_eor) {
  const std::size_t n = members_.size();
  if (g.parent.size() != n) {
    for (auto* v : {&g.parent, &g.next, &g.prev, &g.size}) v->assign(n, 0);
    g.marks.assign(n, 0);
    for (MemberBits& b : g.try_marks) b.size(n);
  }
  const uint32_t first = static_cast<uint32_t>(h->id), end = comp_end(first);
  for (uint32_t i = first; i < end; ++i) {
    g.reset(i);
    g.marks[i] = 0;
  }
  g.of = h;
  g.with_eor = with_eor;
  g.logged = kNoHead;
  g.joins.clear();
  g.rebuild.clear();
  g.unknown.clear();
  g.big = kNoHead;
  const NetSpan span = nets_of(h);
  const auto count = static_cast<std::size_t>(span.end() - span.begin());
  // While they are built, the groups are trees joined by size, so that
  // finding a member's group takes a step or two however the merges went
  // (a group's head changes with nearly every merge: trees rooted at the
  // head grow long chains).  A tree's root knows its group's head; the
  // heads, their chains and sizes are exactly those of merging by head.
  std::vector<uint32_t> head_of(end - first);
  for (uint32_t i = first; i < end; ++i) head_of[i - first] = i;
  auto root = [&g](uint32_t x) {
    while (g.parent[x] != x) {
      g.parent[x] = g.parent[g.parent[x]];
      x = g.parent[x];
    }
    return x;
  };
  walk_nets_ahead(
      count, [&](std::size_t j) { return span.begin()[j]; },
      [&](std::size_t, const Net* net) {
        if (net->type != kNetSignal) return;
        const auto sid = static_cast<uint32_t>(net->source->inst->id);
        if (!kind_joins(member_kind_[sid], with_eor)) return;
        uint32_t current = root(sid);
        for (const Link* t = net->links; t; t = t->next) {
          if (!joins_load(t, h, with_eor)) continue;
          const uint32_t r = root(static_cast<uint32_t>(t->inst->id));
          if (r == current) continue;
          // The source's group survives and takes the other's members.
          const uint32_t keep = head_of[current - first], gone = head_of[r - first];
          const bool smaller = g.size[keep] < g.size[gone];
          g.append(keep, gone);
          if (smaller) {
            g.parent[current] = r;
            head_of[r - first] = keep;
            current = r;
          } else {
            g.parent[r] = current;
          }
        }
      });
  for (uint32_t i = first; i < end; ++i) g.parent[i] = root(i);
  for (uint32_t i = first; i < end; ++i) {
    g.parent[i] = head_of[g.parent[i] - first];  // every member points at its head
    g.set_head(i, g.parent[i] == i);
    if (g.is_head(i)) {
      may_try(g, i);
    } else {
      g.try_marks[0].clear(i);
      g.try_marks[1].clear(i);
    }
  }
}

// Keeps the flip gain of the largest group per net, when it is large.
// Called on groups just built: no group is marked yet.
void Reducer::keep_big(Groups& g) {
  g.big = kNoHead;
  const uint32_t first = static_cast<uint32_t>(g.of->id), end = comp_end(first);
  uint32_t best = kNoHead;
  for (uint32_t i = first; i < end; ++i)
    if (g.parent[i] == i && g.size[i] >= kBig && (best == kNoHead || g.size[i] > g.size[best]))
      best = i;
  if (best == kNoHead) return;
  g.big = best;
  g.big_sum.reset(static_cast<std::size_t>(book_->nets()));
  // Every member points at its head: the group's members are found in
  // member order, not along its chain (a step of which waits on memory).
  for (uint32_t m = first; m < end; ++m)
    if (g.parent[m] == best) g.set_big(m, true);
  // A group of most of the component sums up to the component's flip less
  // the gates outside it: fewer terminals to read.  The component's sums
  // are current here, the changes taken just before the build.
  const bool most = work_ == g.of && g.size[best] > (end - first) / 2;
  if (most) g.big_sum.copy_counts(comp_sum_);
  for (uint32_t m = first; m < end; ++m) {
    if (!(member_kind_[m] & kGate)) continue;
    if (most && !g.in_big(m)) g.big_sum.remove_gate(members_[m]);
    if (!most && g.in_big(m)) g.big_sum.add_gate(members_[m]);
  }
  g.big_sum.settle(*book_);
}

// Rebuilds the groups of the given roots as the whole build would: no +1
// connection leaves their members, so their groups, and the order in which
// the whole build merges them, come from their own nets in net-list order.
void Reducer::rebuild_groups(Groups& g, const std::vector<uint32_t>& roots) {
  std::vector<uint32_t> members;
  bool big_gone = false;
  for (uint32_t r : roots) {
    r = find(g, r);
    if (g.gathered(r)) continue;
    if (r == g.big) big_gone = true;
    for (uint32_t m = r; m != kNoHead; m = g.next[m]) {
      members.push_back(m);
      g.set_gathered(m, true);
    }
  }
  for (uint32_t m : members) g.set_gathered(m, false);
  rebuild_members(g, members, big_gone);
}

// A group that pays with its head open is rebuilt to find it.  A large
// one keeps the merges of the rebuild for the next.
void Reducer::rebuild_paying(Groups& g, uint32_t r) {
  if (g.size[r] < kBig || !replay_merges) {
    rebuild_groups(g, {r});
    return;
  }
  if (g.logged != kNoHead && find(g, g.logged) != r) g.logged = kNoHead;  // of another group
  std::vector<uint32_t> members;
  for (uint32_t m = r; m != kNoHead; m = g.next[m]) members.push_back(m);
  rebuild_members(g, members, r == g.big, true);
}

// Rebuilds the groups of `members`, which no +1 connection leaves.
void Reducer::rebuild_members(Groups& g, const std::vector<uint32_t>& members, bool big_gone,
                              bool keep_merges) {
  // The nets the members drive, each with its place in the component's
  // nets and its driver: the whole build joins along them in that order.
  struct Driven {
    uint32_t at;
    uint32_t member;
  };
  const uint32_t c = component(static_cast<uint32_t>(g.of->id));
  Net* const* const comp_begin = comp_nets_.data() + net_first_[c];
  Net* const* const comp_end = comp_nets_.data() + net_first_[c + 1];
  // Replayed merges stand for the nets they cover: only the others are walked.
  const bool replay = keep_merges && g.logged != kNoHead;
  std::vector<Driven> nets;
  auto drives = [&](uint32_t at, uint32_t m) {
    if (!replay || !g.covered.test(at)) nets.push_back({at, m});
  };
  for (uint32_t m : members) {
    g.reset(m);
    g.set_head(m, false);
    g.clear_rejected(m);
    const uint8_t kind = member_kind_[m];
    if (!kind_joins(kind, g.with_eor)) continue;
    if (kind & kDrivesMore) {
      // The component's nets are in net-list order, so by number.
      for_each_terminal(members_[m], [&](Link* t) {
        const Net* n = t->net;
        if (!n || n->type != kNetSignal || n->source != t || n->id <= 0) return;
        Net* const* at = std::lower_bound(comp_begin, comp_end, n->id,
                                          [](const Net* x, int32_t id) { return x->id < id; });
        drives(static_cast<uint32_t>(at - comp_nets_.data()), m);
      });
    } else if (drive_[m] != kNoNet) {
      drives(drive_[m], m);
    }
  }
  std::sort(nets.begin(), nets.end(), [](const Driven& a, const Driven& b) { return a.at < b.at; });
  if (!keep_merges) {
    walk_nets_ahead(
        nets.size(), [&](std::size_t j) { return comp_nets_[nets[j].at]; },
        [&](std::size_t j, const Net* n) { join_along(g, n, nets[j].member); });
  } else {
    // Replaying is exact: no +1 connection has gone since the merges were
    // made and the nets they cover have gained none, so every connection
    // the last rebuild walked is still there, in the same order.  One that
    // merged nothing then joined members already joined by connections
    // before it, which come first now as well: only the merges need
    // replaying (each where it still joins two groups), in net-list order
    // between the walks of the nets not covered.
    std::vector<Groups::Merge> merges;
    const std::vector<Groups::Merge> none;
    const std::vector<Groups::Merge>& held = replay ? g.merges : none;
    std::size_t k = 0;
    auto replay_to = [&](uint32_t at) {
      for (; k < held.size() && held[k].at < at; ++k) {
        const Groups::Merge& e = held[k];
        if (!g.covered.test(e.at) || find(g, e.source) == find(g, e.load)) continue;
        merge_keep(g, e.source, e.load);
        merges.push_back(e);
      }
    };
    walk_nets_ahead(
        nets.size(), [&](std::size_t j) { return comp_nets_[nets[j].at]; },
        [&](std::size_t j, const Net* n) {
          const Driven& d = nets[j];
          replay_to(d.at);
          join_along(g, n, d.member,
                     [&](uint32_t s, uint32_t t) { merges.push_back({d.at, s, t}); });
        });
    replay_to(UINT32_MAX);
    if (!replay) g.covered.size(comp_nets_.size());
    for (const Driven& d : nets) g.covered.set(d.at);
    g.merges.swap(merges);
    g.logged = members.front();
  }
  uint32_t largest = kNoHead;
  for (uint32_t m : members) {
    g.parent[m] = find(g, m);
    g.set_head(m, g.parent[m] == m);
    if (g.is_head(m)) may_try(g, m);
    if (g.is_head(m) && (largest == kNoHead || g.size[m] > g.size[largest])) largest = m;
  }
  if (!big_gone) return;
  // The kept gain follows the largest of the new groups: the gates of the
  // big group that went elsewhere are taken out of it.
  g.big = kNoHead;
  if (largest == kNoHead || g.size[largest] < kBig) {
    for (uint32_t m : members) g.set_big(m, false);
    return;
  }
  for (uint32_t m : members) {
    const bool in = find(g, m) == largest;
    if (g.in_big(m) && !in && (member_kind_[m] & kGate)) g.big_sum.gate(members_[m], *book_, -1);
    if (!g.in_big(m) && in && (member_kind_[m] & kGate)) g.big_sum.gate(members_[m], *book_, 1);
    g.set_big(m, in);
  }
  g.big = largest;
}

// The members of the group of root r join the group whose gain is kept.
void Reducer::join_big(Groups& g, uint32_t r) {
  for (uint32_t m = r; m != kNoHead; m = g.next[m]) {
    g.set_big(m, true);
    if (member_kind_[m] & kGate) g.big_sum.gate(members_[m], *book_, 1);
  }
}

// Brings the held groups up to date with the weight changes made since:
// a +1 connection gained joins two groups at once (their head left open), one
// lost rebuilds the groups at its ends.
void Reducer::update_sub_comps(Groups& g) {
  take_changes();
  // The other kind of groups, held for the same component, takes its
  // changes later.  When both kinds have many (a move that lost or gained
  // many +1 connections in both), it takes them now, beside these.  Many
  // for the other kind alone wait: the flips of this kind's large groups
  // that come next would each give it as many again, and one rebuild
  // takes them all.
  Groups& o = groups(!g.with_eor);
  auto many = [this](const Groups& k) {
    const std::size_t pending = k.rebuild.size() + k.joins.size() / 2;
    return pending > 0 && pending * 16 >= beside_from;
  };
  if (o.of == g.of && many(o) && many(g)) {
    run_beside([&] { apply_changes(o); }, [&] { apply_changes(g); });
  } else {
    apply_changes(g);
  }
}

// The changes taken for g's groups, applied.  Touches only g and reads the
// netlist, so that both kinds are brought up to date at once.
void Reducer::apply_changes(Groups& g) {
  // The merges held stand while no +1 connection goes; a net that gains
  // one is walked again.
  if (g.logged != kNoHead && !g.rebuild.empty()) g.logged = kNoHead;
  for (std::size_t k = 0; g.logged != kNoHead && k + 1 < g.joins.size(); k += 2) {
    const uint32_t source = g.joins[k];
    if (member_kind_[source] & kDrivesMore) g.logged = kNoHead;
    else if (drive_[source] != kNoNet) g.covered.clear(drive_[source]);
  }
  for (std::size_t k = 0; k + 1 < g.joins.size(); k += 2) {
    uint32_t keep = find(g, g.joins[k]), gone = find(g, g.joins[k + 1]);
    if (keep != gone) {
      if (g.size[keep] < g.size[gone]) std::swap(keep, gone);
      if (gone == g.big) {  // the kept gain goes with the root
        g.big = keep;
        join_big(g, keep);
      } else if (keep == g.big) {
        join_big(g, gone);
      }
      for (uint32_t m = gone; m != kNoHead; m = g.next[m]) g.parent[m] = keep;
      g.append(keep, gone);
      g.set_head(gone, false);
    }
    // A connection inside a group can change its head as well.
    if (g.is_head(keep)) g.unknown.push_back(keep);
    g.set_head(keep, false);
    g.clear_rejected(keep);
  }
  g.joins.clear();
  if (!g.rebuild.empty()) split_groups(g);
  g.rebuild.clear();
}

// A +1 connection lost may split its group.  A small group is rebuilt.  In
// a large one, searches from the ends of the lost connections, one node at a
// time each in turn, find the parts that break away at the cost of the
// parts, not of the group: a search that runs out before the others has
// walked a whole part.  Searches that meet share a part.  The parts that
// break away are rebuilt; the rest keeps its members, its head left open.
void Reducer::split_groups(Groups& g) {
  std::vector<uint32_t> small;
  std::vector<std::pair<uint32_t, uint32_t>> ends;  // (root, member)
  for (uint32_t m : g.rebuild) {
    if (g.gathered(m)) continue;  // each end once
    g.set_gathered(m, true);
    const uint32_t r = find(g, m);
    if (g.size[r] < kBig) small.push_back(r);
    else ends.push_back({r, m});
  }
  for (uint32_t m : g.rebuild) g.set_gathered(m, false);
  std::sort(ends.begin(), ends.end());
  for (std::size_t a = 0; a < ends.size();) {
    std::size_t b = a;
    while (b < ends.size() && ends[b].first == ends[a].first) ++b;
    std::vector<uint32_t> from;
    for (std::size_t k = a; k < b; ++k) from.push_back(ends[k].second);
    // Searches from many ends cost about as much as a rebuild.
    if (from.size() * 16 > g.size[ends[a].first] || !split_big(g, ends[a].first, from))
      small.push_back(ends[a].first);
    a = b;
  }
  if (!small.empty()) rebuild_groups(g, small);
}

// The +1 neighbours of member m in component h (for the searches).
template <class F>
void Reducer::for_each_neighbour(const Groups& g, uint32_t m, F f) {
  Instance* x = members_[m];
  if (!joins_sub_comp(x->cls, g.with_eor)) return;
  for_each_terminal(x, [&](Link* t) {
    Net* n = t->net;
    if (!n || n->type != kNetSignal || !n->source) return;
    if (n->source == t) {
      for (Link* u = n->links; u; u = u->next)
        if (u->inst != x && joins_load(u, g.of, g.with_eor)) f(static_cast<uint32_t>(u->inst->id));
    } else if (t->weight == 1) {
      Instance* s = n->source->inst;
      if (s != x && s->comp == g.of && joins_sub_comp(s->cls, g.with_eor))
        f(static_cast<uint32_t>(s->id));
    }
  });
}

bool Reducer::split_big(Groups& g, uint32_t r, const std::vector<uint32_t>& from) {
  const std::size_t k_all = from.size();
  std::vector<uint32_t>& visit = g.visit;
  if (visit.size() != members_.size()) visit.assign(members_.size(), 0);
  if (g.visit_base > UINT32_MAX - k_all - 2) {
    std::fill(visit.begin(), visit.end(), 0);
    g.visit_base = 0;
  }
  const uint32_t base = g.visit_base;
  g.visit_base += static_cast<uint32_t>(k_all) + 1;
  constexpr uint32_t kNone = UINT32_MAX;
  std::vector<std::vector<uint32_t>> queue(k_all);
  std::vector<std::size_t> pos(k_all, 0);
  // Searches that meet walk one part.  Each part keeps a chain of its
  // searches (those run out are passed over when they come first), and a
  // round walks one node of each part still open, from the first search of
  // its chain: a part costs the nodes it holds, and the part that is kept
  // costs one node a round however many searches it has met.
  std::vector<uint32_t> up(k_all), first(k_all, kNone), last(k_all, kNone), after(k_all, kNone);
  auto cls = [&up](uint32_t k) {
    while (up[k] != k) k = up[k] = up[up[k]];
    return k;
  };
  std::vector<uint32_t> open;  // the parts open, by the search that started each
  auto meet = [&](uint32_t k, uint32_t other) {
    const uint32_t a = cls(k), b = cls(other);
    if (a == b) return;
    up[a] = b;
    if (first[a] == kNone) return;
    if (first[b] == kNone) {
      // A part walked whole is never met (a node's neighbours have it for
      // a neighbour as well); should it be, it is open again.
      first[b] = first[a];
      open.push_back(b);
    } else {
      after[last[b]] = first[a];
    }
    last[b] = last[a];
  };
  for (uint32_t k = 0; k < k_all; ++k) {
    up[k] = k;
    const uint32_t seen = visit[from[k]];
    if (seen > base && seen <= base + k_all) {
      meet(k, seen - base - 1);
    } else {
      visit[from[k]] = base + k + 1;
      queue[k].push_back(from[k]);
      first[k] = last[k] = k;
      open.push_back(k);
    }
  }
  std::size_t walked = 0;
  std::vector<uint32_t> turn;  // the search that walks for each part this round
  // The searches take their next node in turn, each node a chain of
  // records in any order: the nodes of the searches next in the round are
  // read ahead.
  ReadAhead ahead;
  auto node_at = [&](std::size_t i) -> const Instance* {
    if (i >= turn.size()) return nullptr;
    const uint32_t k = turn[i];
    return pos[k] < queue[k].size() ? members_[queue[k][pos[k]]] : nullptr;
  };
  // Before a node is read ahead, its place in its queue and its entry
  // among the members.
  constexpr std::size_t kMember = ReadAhead::kGates * 3 / 2, kQueue = ReadAhead::kGates * 2;
  auto ask_node = [&](std::size_t i) {
    if (i + kQueue < turn.size()) {
      const uint32_t k = turn[i + kQueue];
      if (pos[k] < queue[k].size()) __builtin_prefetch(&queue[k][pos[k]]);
    }
    if (i + kMember < turn.size()) {
      const uint32_t k = turn[i + kMember];
      if (pos[k] < queue[k].size()) __builtin_prefetch(&members_[queue[k][pos[k]]]);
    }
  };
  for (;;) {
    // Parts still being walked: stop when at most one is left.
    turn.clear();
    std::size_t still = 0;
    for (uint32_t c : open) {
      if (up[c] != c) continue;  // met another part
      uint32_t& k = first[c];
      while (k != kNone && pos[k] == queue[k].size()) k = after[k];
      if (k == kNone) continue;  // walked whole
      open[still++] = c;
      turn.push_back(k);
    }
    open.resize(still);
    if (open.size() <= 1) break;
    for (std::size_t i = 0; i < ReadAhead::kGates; ++i) ahead.start(node_at(i));
    for (std::size_t i = 0, count = turn.size(); i < count; ++i) {
      const uint32_t k = turn[i];
      ask_node(i);
      ahead.start(node_at(i + ReadAhead::kGates));
      // A node reads the driver of each net it reads, and the readers of
      // each net it drives.
      ahead.step(
          [](const Net* n) {
            if (n->links) __builtin_prefetch(n->links);
            if (n->source) __builtin_prefetch(n->source);
          },
          [](const Net* n) {
            if (n->source) __builtin_prefetch(n->source->inst);
            if (n->links) __builtin_prefetch(n->links->inst);
          });
      const uint32_t m = queue[k][pos[k]++];
      ++walked;
      for_each_neighbour(g, m, [&](uint32_t v) {
        const uint32_t seen = visit[v];
        if (seen > base && seen <= base + k_all) {
          meet(k, seen - base - 1);
        } else {
          visit[v] = base + k + 1;
          queue[k].push_back(v);
        }
      });
    }
    if (walked * 2 > g.size[r]) return false;  // no cheaper than a rebuild
  }
  // The part kept is the one still being walked, else the root's.
  uint32_t kept = UINT32_MAX;
  for (uint32_t k = 0; k < k_all; ++k)
    if (pos[k] < queue[k].size()) kept = cls(k);
  const uint32_t root_seen = visit[r];
  const bool root_walked = root_seen > base && root_seen <= base + k_all;
  if (kept == UINT32_MAX) {
    if (!root_walked) return false;
    kept = cls(root_seen - base - 1);
  } else if (root_walked && cls(root_seen - base - 1) != kept) {
    return false;  // the root breaks away: rebuild instead
  }
  // The head of what is kept is found when it matters.
  if (g.is_head(r)) {
    g.set_head(r, false);
    g.unknown.push_back(r);
  }
  g.clear_rejected(r);
  // Each part that breaks away leaves the group's chain and is rebuilt.
  std::vector<std::vector<uint32_t>> parts(k_all);
  for (uint32_t k = 0; k < k_all; ++k)
    if (cls(k) != kept) parts[cls(k)].insert(parts[cls(k)].end(), queue[k].begin(), queue[k].end());
  for (const std::vector<uint32_t>& part : parts) {
    if (part.empty()) continue;
    for (uint32_t m : part) {
      g.next[g.prev[m]] = g.next[m];  // m is not the root: prev is its predecessor
      g.prev[g.next[m] != kNoHead ? g.next[m] : r] = g.prev[m];
      if (g.in_big(m)) {
        if (member_kind_[m] & kGate) g.big_sum.gate(members_[m], *book_, -1);
        g.set_big(m, false);
      }
    }
    g.size[r] -= static_cast<uint32_t>(part.size());
    rebuild_members(g, part, false);
  }
  return true;
}

void Reducer::plus_factor(Instance* h) { build_sub_comps(h, true); }
void Reducer::plus_factor_eor_enor(Instance* h) { build_sub_comps(h, false); }

Instance* Reducer::sub_head(const Instance* x) {
  Groups& g = *last_groups_;
  return members_[find(g, static_cast<uint32_t>(x->id))];
}

namespace {

template <class F>
void for_each_gate(const std::vector<uint32_t>& next, const std::vector<Instance*>& members,
                   uint32_t root, F f) {
  for (uint32_t m = root; m != UINT32_MAX; m = next[m])
    if (is_gate(members[m]->cls)) f(members[m]);
}

}  // namespace

void Reducer::rev_sub_comp_tmp(Instance* x) {
  Groups& g = *last_groups_;
  gates_.clear();
  for_each_gate(g.next, members_, find(g, static_cast<uint32_t>(x->id)),
                [this](Instance* m) { gates_.push_back(m); });
  flip_gates({gates_.data(), gates_.data() + gates_.size()});
}

void Reducer::sub_comp_dual(Instance* x) {
  Groups& g = *last_groups_;
  for_each_gate(g.next, members_, find(g, static_cast<uint32_t>(x->id)),
                [](Instance* m) { toggle(m->dual); });
}

// Whether flipping the group of root r pays, gathered without flipping (or
// read from the kept gain).
bool Reducer::group_pays(Groups& g, uint32_t r, bool weight_rule) {
  if (r == g.big) {
    if (g.big_sum.pays(weight_rule, open())) return true;
    refused_by_both_ = weight_rule || !g.big_sum.pays(true, open());
    return false;
  }
  nets_.clear();
  book_->new_mark();
  for_each_gate(g.next, members_, r, [this](Instance* m) {
    for_each_terminal(m, [this](Link* t) { book_->flip_terminal(t, nets_); });
  });
  return !refused(weight_rule, true);
}

// The first sub-component whose flip pays.  Every candidate is undone
// before the next is tried, so whether one pays depends only on the weights
// of the nets around its gates: a group found not to pay is not tried again
// while those stay as they were.  The whole recount tries every group.
Instance* Reducer::first_paying(bool with_eor, bool weight_rule) {
  Groups& g = groups(with_eor);
  last_groups_ = &g;
  const uint32_t first = static_cast<uint32_t>(g.of->id), end = comp_end(first);
  const uint8_t bit = refused_bit(weight_rule), refused = refused_marks(weight_rule);
  if (fast()) {
    // A group whose head is open matters only if it pays: then it is
    // rebuilt, which finds its head.
    std::vector<uint32_t> still;
    for (uint32_t r : g.unknown) {
      if (find(g, r) != r || g.is_head(r)) continue;
      if (g.rejected(r) & bit) {
        g.reject(r, refused);
        still.push_back(r);
      } else if (group_pays(g, r, weight_rule)) {
        rebuild_paying(g, r);
      } else {
        refused_trial(r == g.big);
        g.reject(r, refused_by_both_ ? kRefusedBoth : refused);
        still.push_back(r);
      }
    }
    g.unknown.swap(still);
  }
  // Heads tried: gates, and without exclusive-or cells when they are left out.
  const uint8_t kind = with_eor ? kGate : kFlipsAlone;
  if (fast()) {
    // Only the marked heads, in the same order: a head passed over here
    // would be passed over by the walk of every member as well.
    MemberBits& marks = g.try_marks[weight_rule ? 1 : 0];
    for (uint32_t x = marks.prev(end, first); x != MemberBits::kNone; x = marks.prev(x, first)) {
      if (!g.is_head(x) || !(member_kind_[x] & kind)) {
        marks.clear(x);
        continue;
      }
      const uint32_t r = find(g, x);
      if (g.rejected(r) & bit) {
        marks.clear(x);
        continue;
      }
      if (group_pays(g, r, weight_rule)) {
        rev_sub_comp_tmp(members_[x]);
        return members_[x];
      }
      refused_trial(r == g.big);
      g.reject(r, refused_by_both_ ? kRefusedBoth : refused);
      marks.clear(x);
    }
    return nullptr;
  }
  for (uint32_t x = end; x-- > first;) {
    if (!g.is_head(x) || !(member_kind_[x] & kind)) continue;
    Instance* head = members_[x];
    if (whole_pays(d_, weight_rule, [&] { rev_sub_comp_tmp(head); })) return head;
    rev_sub_comp_tmp(head);
  }
  return nullptr;
}

Instance* Reducer::rev_sub_comp_inv() { return first_paying(true, false); }
Instance* Reducer::rev_sub_comp_wt() { return first_paying(true, true); }
Instance* Reducer::rev_sub_comp_inv_eor_enor() { return first_paying(false, false); }
Instance* Reducer::rev_sub_comp_wt_eor_enor() { return first_paying(false, true); }

// ---------------------------------------------------------------- global moves

int Reducer::global_move(Instance* h, bool with_eor, bool weight_rule) {
  Groups& g = groups(with_eor);
  if (fast() && !fresh_groups && g.of == h) {
    update_sub_comps(g);
  } else {
    // The moves of the other kind come next on the same component: their
    // groups, kept up to date from here on, cost nothing more to build now.
    build_sub_comps(h, with_eor, fast() && !fresh_groups && d_.eor_enor_exist == 1);
  }
  Instance* x = first_paying(with_eor, weight_rule);
  if (!x) return 0;
  note(with_eor ? 'G' : 'X', x);
  sub_comp_dual(x);
  if (!with_eor || absorb_after_moves()) eor_enor_and_or_nand_nor(h);
  return 1;
}

int Reducer::red_inv_global(Instance* h) { return global_move(h, true, false); }
int Reducer::red_wt_global(Instance* h) { return global_move(h, true, true); }
int Reducer::red_inv_global_eor_enor(Instance* h) { return global_move(h, false, false); }
int Reducer::red_wt_global_eor_enor(Instance* h) { return global_move(h, false, true); }

}  // namespace zelk
