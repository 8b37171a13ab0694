// The reduction driver, its two phases and the local moves: whole
// component, single gate, tristate bus, negated output.
#include <algorithm>
#include <functional>
#include <utility>
#include <vector>

#include "reduce/reduce.h"
#include "reduce/reduce_internal.h"

namespace zelk {

using namespace reduce_detail;

namespace {

// Nets of at least this many weighted terminals are re-armed from what
// the trials refused since their last walk read of them.
constexpr long kManyTerminals = 64;

}  // namespace

void red_inv(Design& d, Recount how) {
  Reducer r(d, how);
  r.run();
}

Reducer::Reducer(Design& d, Recount how) : d_(d), how_(how) {
  if (fast()) book_ = new Book;
}

Reducer::~Reducer() {
  d_.page_ahead.wait();  // the tables asked for go with the reducer
  delete book_;
}

void Reducer::run() {
  conn_comp();
  const std::vector<Instance*> heads = this->heads();
  for (Instance* c = d_.top->comps; c; c = c->next) {
    c->dual = 0;
    c->negate = 0;
  }
  if (absorb_after_moves())
    for (Instance* h : heads) absorb_component(h);
  // Every net is now where absorbing it again changes nothing.
  if (book_) book_->settle_all();
  for (Instance* h : heads) {
    do {
      red_inv2(h);
    } while (red_wt2(h));
  }
}

// ---------------------------------------------------------------- phases

int Reducer::red_inv2(Instance* h) {
  int any = 0;
  for (;;) {
    int changed = 0;
    while (red_inv_global(h) > 0) changed = 1;
    if (d_.eor_enor_exist == 1)
      while (red_inv_global_eor_enor(h) > 0) changed = 1;
    while (red_inv_local(h) > 0) changed = 1;
    if (!changed) return any;
    any = 1;
  }
}

int Reducer::red_wt2(Instance* h) {
  int any = 0;
  for (;;) {
    int changed = 0;
    while (red_wt_global(h) > 0) changed = 1;
    if (d_.eor_enor_exist == 1)
      while (red_wt_global_eor_enor(h) > 0) changed = 1;
    while (red_wt_local(h) > 0) changed = 1;
    if (!changed) return any;
    any = 1;
  }
}

// ---------------------------------------------------------------- local moves

int Reducer::red_inv_local(Instance* h) { return local(h, false); }
int Reducer::red_wt_local(Instance* h) { return local(h, true); }

int Reducer::local(Instance* h, bool weight_rule) {
  int changed = 0;
  if (conn_comp_flip(h, weight_rule)) {
    note('C', h);
    conn_comp_dual(members_of(h));
    if (absorb_after_moves()) eor_enor_and_or_nand_nor(h);
    changed = 1;
  }
  if (node(h, weight_rule)) changed = 1;
  if (d_.options.all && neg(h, weight_rule)) changed = 1;
  return changed;
}

int Reducer::red_inv_node(Instance* h) { return node(h, false); }
int Reducer::red_wt_node(Instance* h) { return node(h, true); }

// A gate whose nets are as they were when it was last refused is refused
// again; the walk passes over it.
int Reducer::node(Instance* h, bool weight_rule) {
  if (fast()) {
    enter(h);
    take_changes();
  }
  const uint8_t bit = refused_bit(weight_rule), refused = refused_marks(weight_rule);
  int changed = 0;
  const uint32_t first = static_cast<uint32_t>(h->id), end = comp_end(first);
  if (fast() && std::exchange(untried_[weight_rule], false) && end - first >= beside_from)
    refuse_ahead(first, end, weight_rule);
  TrialsAhead ahead{first, end, kFlipsAlone, bit, &read_ahead_};
  begin_ahead(ahead);
  // Walked by member number over a byte per member: the members themselves
  // are read only when tried.
  for (uint32_t id = first; id < end; ++id) {
    const uint8_t kind = member_kind_[id];
    if (!(kind & (kFlipsAlone | kBus))) continue;
    Instance* g = members_[id];
    if (kind & kFlipsAlone) {
      if (fast() && (member_marks_[id] & bit)) continue;
      next_ahead(ahead);
      if (gate_flip(g, weight_rule)) {
        note('N', g);
        toggle(g->dual);
        if (absorb_after_moves()) absorb_instance(g);
        if (fast()) take_changes();
        changed = 1;
      } else if (fast() && measured_by_book_) {
        member_marks_[id] |= refused_by_both_ ? kRefusedBoth : refused;
        refused_trial(false);
      }
    } else {
      if (bus_flip(g, weight_rule)) {
        note('T', g);
        if (absorb_after_moves()) absorb_instance(g);
        if (fast()) take_changes();
        changed = 1;
      }
    }
  }
  return changed;
}

int Reducer::red_inv_neg(Instance* h) { return neg(h, false); }
int Reducer::red_wt_neg(Instance* h) { return neg(h, true); }

int Reducer::neg(Instance* h, bool weight_rule) {
  if (fast()) {
    enter(h);
    take_changes();
  }
  const uint8_t bit = refused_bit(weight_rule), refused = refused_marks(weight_rule);
  int changed = 0;
  const uint32_t first = static_cast<uint32_t>(h->id), end = comp_end(first);
  TrialsAhead ahead{first, end, kAndOr, static_cast<uint8_t>(bit << kNegShift), &read_ahead_};
  begin_ahead(ahead);
  for (uint32_t id = first; id < end; ++id) {
    if (!(member_kind_[id] & kAndOr)) continue;
    if (fast() && (member_marks_[id] & (bit << kNegShift))) continue;
    next_ahead(ahead);
    Instance* g = members_[id];
    if (output_negation(g, weight_rule)) {
      note('O', g);
      toggle(g->negate);
      if (fast()) take_changes();
      changed = 1;
    } else if (fast() && measured_by_book_) {
      const uint8_t rules = refused_by_both_ ? kRefusedBoth : refused;
      member_marks_[id] |= static_cast<uint8_t>(rules << kNegShift);
      refused_trial(false);
    }
  }
  return changed;
}

// A trial refused now is refused when the walk reaches it, unless a move
// before it changes its nets or terminals, which takes the mark off again
// (as for the marks of earlier walks).  Each half of the members is tried
// on its own thread: the trials only read the design and the book, and
// each marks only members of its own half.  A gate on a net of many
// terminals is left to the walk, which notes what its trials refused; a
// half where most gates lie on such nets (a net read by most of the
// component) is left to the walk whole.
void Reducer::refuse_ahead(uint32_t first, uint32_t end, bool weight_rule) {
  const uint8_t bit = refused_bit(weight_rule), refused = refused_marks(weight_rule);
  auto part = [&](uint32_t from, uint32_t to) {
    ReadAhead reads;
    TrialsAhead ahead{from, to, kFlipsAlone, bit, &reads};
    begin_ahead(ahead);
    uint32_t measured = 0, left = 0;
    for (uint32_t id = from; id < to; ++id) {
      if (!(member_kind_[id] & kFlipsAlone) || (member_marks_[id] & bit)) continue;
      next_ahead(ahead);
      Book::Sums s;
      if (!book_->gate_sums(members_[id], kManyTerminals, s)) {
        if (++left >= 4096 && left > measured) return;
        continue;
      }
      ++measured;
      const Verdict v = verdict(s);
      if (!(weight_rule ? v.weight_rule : v.inverter_rule))
        member_marks_[id] |= v.weight_rule ? refused : kRefusedBoth;
    }
  };
  const uint32_t mid = first + (end - first) / 2;
  run_beside([&] { part(mid, end); }, [&] { part(first, mid); });
}

// The members the walk will try next are those of its kind not refused
// yet: a member refused or re-armed meanwhile is merely read for nothing.
void Reducer::start_ahead(TrialsAhead& a) {
  auto tried = [&](uint32_t id) {
    return (member_kind_[id] & a.kind) && !(member_marks_[id] & a.refused);
  };
  while (a.scan < a.end && !tried(a.scan)) ++a.scan;
  a.reads->start(a.scan < a.end ? members_[a.scan++] : nullptr);
}

void Reducer::begin_ahead(TrialsAhead& a) {
  if (!fast()) return;
  for (std::size_t k = 0; k < ReadAhead::kGates; ++k) start_ahead(a);
}

void Reducer::next_ahead(TrialsAhead& a, bool sums) {
  if (!fast()) return;
  if (sums) {
    a.reads->step([this](const Net* n) {
      if (n->id > 0) comp_sum_.read_ahead(n->id);
    });
  } else {
    a.reads->step([this](const Net* n) {
      if (n->id > 0) book_->read_ahead(n->id);
    });
  }
  start_ahead(a);
}

void Reducer::absorb_instance(Instance* g) { eor_enor_and_or_nand_nor_instance(d_, g, book_); }

// ---------------------------------------------------------------- measured by tallies

namespace {

// The weight-phase rule: fewer inverters, or as many and fewer weights.
bool wt_pays(int inv_gain, long wt_gain) { return inv_gain > 0 || (inv_gain == 0 && wt_gain > 0); }

}  // namespace

// Whether the flips gathered in the book over nets_ pay.  `whole`: measured
// as the whole counts measure (an inverter count only for an open top).
bool Reducer::gathered_pays(bool weight_rule, bool whole) const {
  const Verdict v = gathered(whole);
  return weight_rule ? v.weight_rule : v.inverter_rule;
}

Reducer::Verdict Reducer::gathered(bool whole) const {
  Book::Sums s = book_->sums(nets_);
  if (whole && d_.top->state != kStateOpen) s.inv_before = s.inv_after = 0;
  return verdict(s);
}

Reducer::Verdict Reducer::verdict(const Book::Sums& s) {
  const int gain = s.inv_before - s.inv_after;
  return {gain > 0, gain > 0 || (gain == 0 && s.wt_after < s.wt_before)};
}

// A gate flip measures the distinct signal and tristate nets around the
// gate, whatever module lists them, and an open or closed top alike.
bool Reducer::gate_flip(Instance* g, bool weight_rule) {
  if (!fast()) return weight_rule ? diff_wt(d_, g) : diff_inv(d_, g);
  bool unnumbered = false;  // a counted net the top module does not list (none, in practice)
  nets_.clear();
  book_->new_mark();
  for_each_terminal(g, [&](Link* t) {
    if (t->net && counts_in_whole(t->net) && t->net->id <= 0) unnumbered = true;
    else book_->flip_terminal(t, nets_);
  });
  measured_by_book_ = !unnumbered;
  if (unnumbered) return gate_flip_counted(g, weight_rule);  // what was gathered is dropped
  if (!refused(weight_rule, false)) {
    rev_instance(g, book_);
    return true;
  }
  return false;
}

// Whether the flips gathered do not pay; notes whether the weight rule
// refuses them too (it does whenever it was the rule applied).  A trial
// that both rules refuse is refused by either while its nets stay as they
// are, so that the phase of the weight rule need not try it again.
// Not across a net of many readers: there the trials of the weight rule
// (each moving one of its many terminals) are cheaper tried again than
// kept from the trials of the other rule (measured on the fan-out design).
bool Reducer::refused(bool weight_rule, bool whole) {
  const Verdict v = gathered(whole);
  refused_by_both_ = !v.weight_rule;  // what the weight rule refuses, the other does
  if (!weight_rule && refused_by_both_)
    for (const Net* n : nets_)
      if (book_->weighted(n) >= kManyTerminals) refused_by_both_ = false;
  return !(weight_rule ? v.weight_rule : v.inverter_rule);
}

// The same, recounting the nets the book does not hold.
bool Reducer::gate_flip_counted(Instance* g, bool weight_rule) {
  std::vector<Net*> nets;
  for_each_terminal(g, [&](Link* t) {
    Net* n = t->net;
    if (n && counts_in_whole(n) && std::find(nets.begin(), nets.end(), n) == nets.end())
      nets.push_back(n);
  });
  auto inv = [&] {
    int s = 0;
    for (const Net* n : nets) s += n->id > 0 ? book_->inv(n) : count_inv_net(d_, n);
    return s;
  };
  auto wt = [&] {
    long s = 0;
    for (const Net* n : nets) s += n->id > 0 ? book_->wt(n) : count_wt_net(d_, n);
    return s;
  };
  const int inv_before = inv();
  const long wt_before = weight_rule ? wt() : 0;
  rev_instance(g, book_);
  const int gain = inv_before - inv();
  if (gain > 0 || (weight_rule && gain == 0 && wt() < wt_before)) return true;
  rev_instance(g, book_);
  return false;
}

bool Reducer::bus_flip(Instance* t, bool weight_rule) {
  if (!fast()) return weight_rule ? diff_wt_ts(d_, t) : diff_inv_ts(d_, t);
  Link* out = first_terminal_of_type(t, kwTristate);
  if (!out || !out->net || !bus_can_flip(out->net)) return false;  // nothing would change
  nets_.clear();
  book_->new_mark();
  // The terminals the flip negates, each once per time it is reached: a
  // buffer whose output the bus names twice, or whose data input lies on
  // the bus itself, has its input negated twice, which leaves it as it was.
  bus_terms_.clear();
  for (Link* u = out->net->links; u; u = u->next) {
    if (!is_ts_buf_output(u)) bus_terms_.push_back(u);
    else if (Link* in = data_input(u->inst)) bus_terms_.push_back(in);
  }
  std::sort(bus_terms_.begin(), bus_terms_.end());
  for (std::size_t i = 0, j = 0; i < bus_terms_.size(); i = j) {
    while (j < bus_terms_.size() && bus_terms_[j] == bus_terms_[i]) ++j;
    if ((j - i) % 2 == 1) book_->flip_one(bus_terms_[i], nets_);
  }
  if (!gathered_pays(weight_rule, true)) return false;
  rev_ts_bufs(t, book_);
  return true;
}

// Measured on its own net, whatever module lists it.
bool Reducer::output_negation(Instance* g, bool weight_rule) {
  if (!fast()) return weight_rule ? diff_wt_neg(d_, g) : diff_inv_neg(d_, g);
  Link* out = first_terminal_of_type(g, kwOutput);
  // Nothing to measure: refused by both rules while the net stays.
  measured_by_book_ = true;
  refused_by_both_ = true;
  nets_.clear();
  if (!out || !out->net || !counts_in_whole(out->net)) return false;
  Net* n = out->net;
  measured_by_book_ = n->id > 0;
  if (n->id <= 0) {  // not listed by the top module (none, in practice)
    const bool ok = weight_rule ? diff_wt_neg(d_, g) : diff_inv_neg(d_, g);
    if (ok) {  // made without the book: redo it through the book
      negate_net(n, nullptr);
      negate_net(n, book_);
    }
    return ok;
  }
  nets_.clear();
  book_->new_mark();
  book_->flip_net(n, nets_);
  if (refused(weight_rule, false)) return false;
  negate_net(n, book_);
  return true;
}

// The gain of flipping the whole component is kept per net as the weights
// change, so the trial reads two sums.
bool Reducer::conn_comp_flip(Instance* h, bool weight_rule) {
  if (!fast())
    return weight_rule ? diff_wt_conn_comp(d_, members_of(h)) : diff_inv_conn_comp(d_, members_of(h));
  enter(h);
  take_changes();
  if (!comp_sum_.pays(weight_rule, open())) return false;
  flip_gates(members_of(h));
  return true;
}

// ---------------------------------------------------------------- change bookkeeping

void Reducer::enter(Instance* h) {
  if (work_ == h) return;
  take_up(h);
  sum_component(h);
}

void Reducer::take_up(Instance* h) {
  work_ = h;
  ++rearm_gen_;
  kept_at_take_up_ = kept_refusals_;
  untried_[0] = untried_[1] = true;
  book_->focus(h);
  for (Groups& g : groups_) g.of = nullptr;
  book_->clear_log();
  taken_sum_ = false;
  if (summed_ == h) {
    // Summed with the tallies: it follows the weights changed since.
    if (parked_) std::swap(comp_sum_, *parked_);
    parked_.reset();
    for (const Book::SumChange& c : book_->take_summed_changes())
      comp_sum_.weight(c.net, c.old, c.now);
    summed_ = nullptr;
    taken_sum_ = true;
  } else {
    // Entered before the summed component: the sum waits aside.
    if (summed_ && !parked_) {
      parked_ = std::make_unique<FlipSum>();
      std::swap(comp_sum_, *parked_);
    }
    comp_sum_.reset(static_cast<std::size_t>(book_->nets()));
  }
  const uint32_t first = static_cast<uint32_t>(h->id), end = comp_end(first);
  std::fill(member_marks_.begin() + first, member_marks_.begin() + end, 0);
}

void Reducer::sum_component(Instance* h) {
  if (taken_sum_) {
    comp_sum_.settle(*book_);
    return;
  }
  const uint32_t first = static_cast<uint32_t>(h->id), end = comp_end(first);
  TrialsAhead ahead{first, end, kGate, 0, &read_ahead_};
  begin_ahead(ahead);
  for (uint32_t id = first; id < end; ++id) {
    if (!(member_kind_[id] & kGate)) continue;
    next_ahead(ahead, true);
    comp_sum_.add_gate(members_[id]);
  }
  comp_sum_.settle(*book_);
}

void Reducer::take_changes() {
  Instance* h = work_;
  for (const Book::First& f : book_->firsts()) {
    if (comp_sum_.touches(f.id)) comp_sum_.before(f, *book_);
    for (Groups& g : groups_)
      if (g.of == h && g.big != kNoHead && g.big_sum.touches(f.id)) g.big_sum.before(f, *book_);
  }
  // The log holds the changes of h's members only; those made before the
  // components were last built are passed over.
  const std::size_t taken = h ? book_->log().size() : 0;
  for (std::size_t k = 0; k < taken; ++k) {
    const Book::Change& c = book_->log()[k];
    const uint32_t id = c.member;
    // A member whose own terminal changed is tried again whatever its nets'
    // tallies did.
    rearm(id);
    if (c.gate_input) comp_sum_.weight(c.net, c.old, c.now);
    for (Groups& g : groups_) {
      if (g.of != h) continue;
      if (c.gate_input && g.big != kNoHead && g.in_big(id)) g.big_sum.weight(c.net, c.old, c.now);
      if (!c.edge || !c.joins(g.with_eor)) continue;
      if (c.now == 1) {
        g.joins.push_back(c.source);
        g.joins.push_back(id);
      } else {
        g.rebuild.push_back(c.source);
        g.rebuild.push_back(id);
      }
    }
  }
  for (const Book::First& f : book_->firsts()) {
    if (comp_sum_.touches(f.id)) comp_sum_.after(f.id, *book_);
    for (Groups& g : groups_)
      if (g.of == h && g.big != kNoHead && g.big_sum.touches(f.id)) g.big_sum.after(f.id, *book_);
    // A trial reads a net only through its tallies: when they came back as
    // they were, the members around it that did not change themselves
    // would be refused again.
    if (h && book_->tallies_changed(f)) rearm_around(f.net, f.plus, f.minus);
  }
  book_->clear_log();
  for (uint32_t id : rearmed_) member_marks_[id] &= static_cast<uint8_t>(~kRearmedMark);
  rearmed_.clear();
}

void Reducer::refused_trial(bool kept) {
  if (kept) {  // its nets are read from the kept gain when they change
    ++kept_refusals_;
    return;
  }
  for (const Net* n : nets_) {
    if (book_->weighted(n) < kManyTerminals) continue;
    // Taking up the component armed every member on the net, as a walk of
    // it does: a net not walked since sums up its refusals from then.
    Walk& w = walks_[n->id];
    if (w.gen != rearm_gen_) w = {rearm_gen_, kept_at_take_up_, RefusedReads{}, false};
    w.reads.note(book_->negated_minus(n->id), book_->negated_plus(n->id),
                 book_->negated_whole(n->id));
  }
}

// A walk re-arms every member on the net.  Between walks, a change that
// every trial refused since measures alike re-arms none of them, but the
// driver when a refused trial negated the whole net.
void Reducer::rearm_around(const Net* n, long plus, long minus) {
  const Instance* h = work_;
  const bool many = book_->weighted(n) >= kManyTerminals;
  if (many) {
    auto it = walks_.find(n->id);
    if (it != walks_.end() && it->second.gen == rearm_gen_) {
      Walk& w = it->second;
      if (w.kept_seen != kept_refusals_) {
        // A largest group refused since is one of those held now, or has
        // been rebuilt or joined to another since, which re-armed it.
        const auto id = static_cast<uint32_t>(n->id);
        for (const Groups& g : groups_)
          if (g.of == h && g.big != kNoHead && g.big_sum.touches(id))
            w.reads.note(g.big_sum.minus(id), g.big_sum.plus(id), g.big_sum.whole(id));
        w.kept_seen = kept_refusals_;
      }
      const Rule r = book_->rule(n);
      if (w.reads.alike(r, plus, minus, book_->plus(n), book_->minus(n))) {
        if (!w.reads.whole || r == Rule::kNone) return;
        if (w.one_driver) {
          const Instance* s = n->source ? n->source->inst : nullptr;
          if (s && s->comp == h) rearm(static_cast<uint32_t>(s->id));
          w.reads.whole = false;
          return;
        }
      }
    }
  }
  bool one_driver = true;
  for (const Link* u = n->links; u; u = u->next) {
    if (u->inst->comp == h) rearm(static_cast<uint32_t>(u->inst->id));
    if (u != n->source && !flips_alone(u) && is_gate(u->inst->cls)) one_driver = false;
  }
  if (many) walks_[n->id] = {rearm_gen_, kept_refusals_, RefusedReads{}, one_driver};
}

// Member id of the component taken up is tried again by every move.
void Reducer::rearm(uint32_t id) {
  // Once per taking of the changes: the groups only change after it.
  if (member_marks_[id] & kRearmedMark) return;
  member_marks_[id] = kRearmedMark;
  rearmed_.push_back(id);
  for (Groups& g : groups_) {
    if (g.of != work_) continue;
    const uint32_t r = find(g, id);
    g.clear_rejected(r);
    if (g.is_head(r)) may_try(g, r);
  }
}

// ---------------------------------------------------------------- literal diffs

namespace {

// The nets around g that the whole counts measure (signal and tristate
// nets), each once however many of g's terminals it holds, so that a move is
// measured by exactly the change it makes to the whole counts.
std::vector<Net*> nets_around(const Instance* g) {
  std::vector<Net*> nets;
  for_each_terminal(g, [&nets](Link* t) {
    if (t->net && counts_in_whole(t->net)) nets.push_back(t->net);
  });
  std::sort(nets.begin(), nets.end(), std::less<Net*>());
  nets.erase(std::unique(nets.begin(), nets.end()), nets.end());
  return nets;
}

int inv_sum(const Design& d, const std::vector<Net*>& nets) {
  int sum = 0;
  for (const Net* n : nets) sum += count_inv_net(d, n);
  return sum;
}

long wt_sum(const Design& d, const std::vector<Net*>& nets) {
  long sum = 0;
  for (const Net* n : nets) sum += count_wt_net(d, n);
  return sum;
}

}  // namespace

int diff_inv(const Design& d, Instance* g) {
  std::vector<Net*> nets = nets_around(g);
  int before = inv_sum(d, nets);
  rev_instance(g);
  if (before - inv_sum(d, nets) > 0) return 1;
  rev_instance(g);
  return 0;
}

int diff_wt(const Design& d, Instance* g) {
  std::vector<Net*> nets = nets_around(g);
  int inv_before = inv_sum(d, nets);
  long wt_before = wt_sum(d, nets);
  rev_instance(g);
  if (wt_pays(inv_before - inv_sum(d, nets), wt_before - wt_sum(d, nets))) return 1;
  rev_instance(g);
  return 0;
}

int diff_inv_ts(const Design& d, Instance* t) {
  if (whole_pays(d, false, [t] { rev_ts_bufs(t); })) return 1;
  rev_ts_bufs(t);
  return 0;
}

int diff_wt_ts(const Design& d, Instance* t) {
  if (whole_pays(d, true, [t] { rev_ts_bufs(t); })) return 1;
  rev_ts_bufs(t);
  return 0;
}

int diff_inv_conn_comp(const Design& d, Members comp) {
  if (whole_pays(d, false, [comp] { rev_instance_all(comp); })) return 1;
  rev_instance_all(comp);
  return 0;
}

int diff_wt_conn_comp(const Design& d, Members comp) {
  if (whole_pays(d, true, [comp] { rev_instance_all(comp); })) return 1;
  rev_instance_all(comp);
  return 0;
}

int diff_inv_neg(const Design& d, Instance* g) {
  Link* out = first_terminal_of_type(g, kwOutput);
  if (!out || !out->net || !counts_in_whole(out->net)) return 0;
  Net* n = out->net;
  int before = count_inv_net(d, n);
  negate_net(n, nullptr);
  if (count_inv_net(d, n) < before) return 1;
  negate_net(n, nullptr);
  return 0;
}

int diff_wt_neg(const Design& d, Instance* g) {
  Link* out = first_terminal_of_type(g, kwOutput);
  if (!out || !out->net || !counts_in_whole(out->net)) return 0;
  Net* n = out->net;
  int inv_before = count_inv_net(d, n);
  long wt_before = count_wt_net(d, n);
  negate_net(n, nullptr);
  if (wt_pays(inv_before - count_inv_net(d, n), wt_before - count_wt_net(d, n))) return 1;
  negate_net(n, nullptr);
  return 0;
}

}  // namespace zelk
