// Helpers and running state shared by the reduction's source files.
#pragma once

#include <algorithm>
#include <bit>
#include <cstdint>
#include <vector>

#include "netlist/beside.h"
#include "netlist/classes.h"
#include "netlist/netlist.h"

namespace zelk {
int count_inv(const Design& d, const Module* m);
long count_wt(const Design& d);
class Book;
class FlipSum;
}  // namespace zelk

namespace zelk::reduce_detail {

using zelk::is_exor;
inline bool is_exor(const Link* t) { return is_exor(t->inst->cls); }
// Cells that pass a signal on with a fixed polarity relation.
inline bool joins_sub_comp(int cls, bool with_eor) {
  if (cls == kNinv || cls == kAnd || cls == kNand || cls == kOr || cls == kNor || cls == kAoi ||
      cls == kOai)
    return true;
  return with_eor && is_exor(cls);
}

// What the moves may do with a member, as bits of one byte per member: a
// gate; a gate that single-gate moves flip (and-/or-/nand-/nor-/aoi-/oai-;
// exclusive-or cells only change through absorption); a tristate buffer; a
// gate whose output may be negated; a cell that joins sub-components built
// without and with exclusive-or cells.
constexpr uint8_t kGate = 1, kFlipsAlone = 2, kBus = 4, kAndOr = 8, kJoins = 16, kJoinsEor = 32;
// Set by the reduction on a joining member that drives more than one
// signal net (no built-in cell does).
constexpr uint8_t kDrivesMore = 64;
inline uint8_t member_kind(int cls) {
  uint8_t k = 0;
  if (is_gate(cls)) k |= is_exor(cls) ? kGate : kGate | kFlipsAlone;
  if (cls == kTsBuf) k |= kBus;
  if (is_and_or(cls)) k |= kAndOr;
  if (joins_sub_comp(cls, false)) k |= kJoins;
  if (joins_sub_comp(cls, true)) k |= kJoinsEor;
  return k;
}
inline bool kind_joins(uint8_t kind, bool with_eor) {
  return kind & (with_eor ? kJoinsEor : kJoins);
}

// One bit per member number, with a search for the previous set bit that
// passes over 64 clear members at a time.
class MemberBits {
 public:
  static constexpr uint32_t kNone = UINT32_MAX;
  void size(std::size_t n) { w_.assign((n + 63) / 64, 0); }
  void set(uint32_t i) { w_[i >> 6] |= uint64_t{1} << (i & 63); }
  void clear(uint32_t i) { w_[i >> 6] &= ~(uint64_t{1} << (i & 63)); }
  bool test(uint32_t i) const { return (w_[i >> 6] >> (i & 63)) & 1; }
  // The largest set number in [first, x), or kNone.
  uint32_t prev(uint32_t x, uint32_t first) const {
    if (x <= first) return kNone;
    const uint32_t i = x - 1;
    std::size_t w = i >> 6;
    uint64_t m = w_[w] & (~uint64_t{0} >> (63 - (i & 63)));
    for (;;) {
      if (m) {
        const uint32_t at = static_cast<uint32_t>(w * 64 + 63 - static_cast<unsigned>(std::countl_zero(m)));
        return at >= first ? at : kNone;
      }
      if (w == (first >> 6)) return kNone;
      m = w_[--w];
    }
  }

 private:
  std::vector<uint64_t> w_;
};

inline void toggle(int8_t& flag) { flag = flag ? 0 : 1; }

// Marks of trials found not to pay, per rule.  A move that the weight rule
// refuses, the inverter rule refuses too.
constexpr uint8_t kRefusedInv = 1, kRefusedWt = 2, kRefusedBoth = 3;
inline uint8_t refused_bit(bool weight_rule) { return weight_rule ? kRefusedWt : kRefusedInv; }
inline uint8_t refused_marks(bool weight_rule) {
  return weight_rule ? kRefusedWt | kRefusedInv : kRefusedInv;
}

// Exclusive-or inputs take either polarity by swapping eor and enor, so
// their terminals never cost.
inline bool counted(const Link* t) { return t->inst->cls != kEor && t->inst->cls != kEnor; }

// What flipping a gate does at its terminal t: an input terminal's weight
// is negated alone; at any other pin the whole net is negated.
inline bool flips_alone(const Link* t) { return t->pin_type == kwInput; }

// The nets over which the whole counts sum: signal and tristate nets.
inline bool counts_in_whole(const Net* n) {
  return n->type == kNetSignal || n->type == kNetTristate;
}

// How the driver of a net can serve an inverted terminal: not at all
// needed, with one polarity, or with either.
enum class Rule : uint8_t { kNone, kNormal, kReversible };
Rule rule_of(const Design& d, const Net* n);

// What the trials refused since a net was last walked read of it, summed
// up so as to tell which changes of its tallies they all measure alike.
//
// A trial negates, one by one, m terminals of weight -1 and p of weight +1
// of a net whose other counted terminals hold m_out = minus - m of weight
// -1 and p_out = plus - p of weight +1.  Its inverter count on the net
// changes by 0 when m and p are both above 0, else by an amount that
// follows whether m_out > 0 (and, on a reversible net, p_out > 0).  Its
// weight count changes by m - p on a normal net; on a reversible one by
// p - m while minus - plus >= max(0, 2 (m - p)) and by m - p while
// minus - plus <= min(0, 2 (m - p)).  A trial that negates the whole net
// depends on minus - plus itself: it is only marked.
struct RefusedReads {
  // Over the trials with exactly one of m and p above 0: the largest m
  // and p (-1: none).
  long one_sided_m = -1, one_sided_p = -1;
  // Over the trials with m != p: the band of minus - plus spanning 0 and
  // 2 (m - p) of each.
  long lo = 0, hi = 0;
  bool whole = false;  // a trial negated the whole net

  void note(long m, long p, bool negates_whole) {
    if (negates_whole) {
      whole = true;
      return;
    }
    if ((m == 0) != (p == 0)) {
      one_sided_m = std::max(one_sided_m, m);
      one_sided_p = std::max(one_sided_p, p);
    }
    if (m != p) {
      lo = std::min(lo, 2 * (m - p));
      hi = std::max(hi, 2 * (m - p));
    }
  }
  // Whether every trial noted (those that negate the whole net aside)
  // measures the same on a net of rule r with tallies (p1, m1) as with
  // (p2, m2), its own terminals being among both.
  bool alike(Rule r, long p1, long m1, long p2, long m2) const {
    if (p1 == p2 && m1 == m2) return true;
    auto above = [](long a1, long a2, long bound) {
      return bound < 0 || a1 == a2 || (a1 > bound && a2 > bound);
    };
    switch (r) {
      case Rule::kNone:
        return true;
      case Rule::kNormal:
        return above(m1, m2, one_sided_m);
      case Rule::kReversible: {
        const long x1 = m1 - p1, x2 = m2 - p2;
        const bool weights = x1 == x2 || (x1 >= hi && x2 >= hi) || (x1 <= lo && x2 <= lo);
        return weights && above(m1, m2, one_sided_m) && above(p1, p2, one_sided_p);
      }
    }
    return false;
  }
};

// Calls f on each terminal of inst, once around its ring from inst->link.
template <class F>
void for_each_terminal(const Instance* inst, F f) {
  Link* first = inst->link;
  if (!first) return;
  Link* t = first;
  do {
    Link* next = t->inst_next;
    f(t);
    t = next;
  } while (t && t != first);
}

inline bool is_ts_buf_output(const Link* u) {
  return u->inst->cls == kTsBuf && u->pin_type == kwTristate;
}

// The data input ("in") of a tristate buffer, first in ring order, or null.
inline Link* data_input(const Instance* buf) {
  Link* first = buf->link;
  if (!first) return nullptr;
  Link* t = first;
  do {
    if (same(t->pin_name, "in")) return t;
    t = t->inst_next;
  } while (t && t != first);
  return nullptr;
}

// Whether the bus can be inverted with all its drivers (rev_ts_bufs).
bool bus_can_flip(const Net* bus);

// A flip measured by recounting the whole network: whether it pays.  The
// flip stays made.
template <class Flip>
bool whole_pays(const Design& d, bool weight_rule, Flip flip) {
  const int inv_before = count_inv(d, d.top);
  const long wt_before = weight_rule ? count_wt(d) : 0;
  flip();
  const int gain = inv_before - count_inv(d, d.top);
  return gain > 0 || (weight_rule && gain == 0 && count_wt(d) < wt_before);
}

}  // namespace zelk::reduce_detail

namespace zelk {

// The reduction's running view of the costs: for every net of the top
// module (numbered from 1 in list order by start()), the number of counted
// terminals of weight +1 and -1 and the rule of its driver.  A net's
// inverter and weight counts are functions of these, so a move is measured
// without walking any net.  Every weight change made through the flips and
// the absorption is reported here, which also keeps the list of nets whose
// weights changed since the absorption last ran on them.
class Book {
 public:
  // Numbers the nets of d.top (`nets`, in list order) and takes their
  // tallies.  With `sum`, the same walk adds to it the gates of component
  // `of` (as FlipSum::add_gate on each, the sum left unsettled), and the
  // book keeps the changes that sum must follow until it is taken.
  void start(const Design& d, const std::vector<Net*>& nets, FlipSum* sum = nullptr,
             const Instance* of = nullptr) {
    begin(nets.size(), sum, of);
    take(d, nets, 0, nets.size(), sum, nullptr);
  }
  // start() in parts: begin() makes room for `nets` nets; take() numbers
  // and takes the nets [from, to) of the array.  Parts apart may be taken
  // on threads at once: each then lists the nets it adds to `sum` in
  // `touched`, handed to the sum in array order once all are taken
  // (FlipSum::add_touched).
  void begin(std::size_t nets, FlipSum* sum, const Instance* of);
  void take(const Design& d, const std::vector<Net*>& nets, std::size_t from, std::size_t to,
            FlipSum* sum, std::vector<uint32_t>* touched);
  // Room for the tallies of `nets` nets, asked ahead of start().
  void room_ahead(PageAhead& pages, std::size_t nets) { zelk::room_ahead(pages, net_, nets + 1); }

  // t's weight has just changed from `old`.
  void changed(const Link* t, int old) {
    Net* n = t->net;
    if (!n || n->id <= 0) return;
    Tally& k = net_[static_cast<std::size_t>(n->id)].tally;
    if (!k.logged) {
      k.logged = 1;
      firsts_.push_back({n, static_cast<uint32_t>(n->id), k.plus, k.minus});
    }
    if (!reduce_detail::counted(t)) {
      k.exor = 1;
    } else {
      if (old == 1) --k.plus;
      else if (old == -1) --k.minus;
      if (t->weight == 1) ++k.plus;
      else if (t->weight == -1) ++k.minus;
    }
    if (!k.pending) {
      k.pending = 1;
      pending_.push_back(n);
    }
    log_change(t, n, old);
    if (summed_of_) note_summed(t, n, old);
  }

  // A weight change of a counted input terminal of a gate of the
  // component summed by start(), made since.
  struct SumChange {
    uint32_t net;
    int8_t old, now;
  };
  // Hands over those changes and stops keeping them.
  std::vector<SumChange> take_summed_changes() {
    summed_of_ = nullptr;
    std::vector<SumChange> out;
    out.swap(summed_log_);
    return out;
  }

  // The component whose members' changes the log keeps (null: none).
  void focus(const Instance* h) { focus_ = h; }

  // A weight change of a terminal of a member of the focused component,
  // with what taking it needs, read while the terminal is at hand.
  struct Change {
    uint32_t net;     // the terminal's net's number
    uint32_t member;  // the terminal's instance's member id
    uint32_t source;  // when `edge`: the member id of the net's driver
    int8_t old, now;  // the weights before and after
    // A counted input terminal of a gate (a flip sum follows its weight);
    // a +1 connection from the net's driver in the component appeared or
    // went; and, per sub-component build (without, with exclusive-or
    // cells), whether both ends are cells that join one.
    uint8_t gate_input : 1, edge : 1, joins_plain : 1, joins_eor : 1;
    bool joins(bool with_eor) const { return with_eor ? joins_eor : joins_plain; }
  };
  static_assert(sizeof(Change) == 16);
  const std::vector<Change>& log() const { return log_; }
  void clear_log() {
    log_.clear();
    for (const First& f : firsts_) net_[f.id].tally.logged = 0;
    firsts_.clear();
  }
  // Each net the log holds, once, in the order of its first change, with
  // its tallies before that change.
  struct First {
    Net* net;
    uint32_t id;  // net->id, read here without touching the net
    int32_t plus, minus;
  };
  const std::vector<First>& firsts() const { return firsts_; }
  // Whether the net's tallies differ from those before its first change.
  bool tallies_changed(const First& f) const {
    const Tally& k = net_[f.id].tally;
    return k.plus != f.plus || k.minus != f.minus;
  }

  // count_inv_net and count_wt_net of a net whose driver has rule r and
  // whose counted terminals hold `plus` weights +1 and `minus` weights -1.
  static int inv_of(reduce_detail::Rule r, long plus, long minus) {
    switch (r) {
      case reduce_detail::Rule::kNormal: return minus > 0 ? 1 : 0;
      case reduce_detail::Rule::kReversible: return minus > 0 && plus > 0 ? 1 : 0;
      default: return 0;
    }
  }
  static long wt_of(reduce_detail::Rule r, long plus, long minus) {
    switch (r) {
      case reduce_detail::Rule::kNormal: return minus;
      case reduce_detail::Rule::kReversible: return minus < plus ? minus : plus;
      default: return 0;
    }
  }
  // The counted terminals of weight +1 or -1 on a numbered net.
  long weighted(const Net* n) const {
    const Tally& k = net_[static_cast<std::size_t>(n->id)].tally;
    return static_cast<long>(k.plus) + k.minus;
  }
  // The sum of the weights of a numbered net's terminals that are not on
  // exclusive-or cells.
  long weight_sum(const Net* n) const {
    const Tally& k = net_[static_cast<std::size_t>(n->id)].tally;
    return static_cast<long>(k.plus) - k.minus;
  }
  // Whether an exclusive-or terminal of a numbered net may have weight -1:
  // so from the start when one has, and after any change of one, until the
  // absorption has made them all +1 (exor_settled).
  bool exor_unsettled(const Net* n) const { return net_[static_cast<std::size_t>(n->id)].tally.exor; }
  void exor_settled(const Net* n) { net_[static_cast<std::size_t>(n->id)].tally.exor = 0; }

  // count_inv_net and count_wt_net of a numbered net, from its tallies.
  int inv(const Net* n) const {
    const Tally& k = net_[static_cast<std::size_t>(n->id)].tally;
    return inv_of(k.rule(), k.plus, k.minus);
  }
  long wt(const Net* n) const {
    const Tally& k = net_[static_cast<std::size_t>(n->id)].tally;
    return wt_of(k.rule(), k.plus, k.minus);
  }

  // The effect of flipping a set of gates (rev_instance on each), gathered
  // without flipping: per net, whether the flips negate the whole net an odd
  // number of times, and the counted +1 and -1 weights among the input
  // terminals they negate one by one.  Between new_mark() and the sums,
  // call flip_terminal for each terminal of each gate; `nets` receives each
  // counted net of the top module once.
  void flip_terminal(const Link* t, std::vector<Net*>& nets) {
    if (Effect* e = effect(t->net, nets)) flip_at(t, *e);
  }
  // t's weight alone is negated.
  void flip_one(const Link* t, std::vector<Net*>& nets) {
    if (Effect* e = effect(t->net, nets)) negate_one(t, *e);
  }
  // Every weight on n is negated.
  void flip_net(const Net* n, std::vector<Net*>& nets) {
    if (Effect* e = effect(n, nets)) e->odd ^= 1;
  }
  // The inverter and weight counts of `nets` now and after the gathered
  // flips.
  struct Sums {
    int inv_before = 0, inv_after = 0;
    long wt_before = 0, wt_after = 0;
  };
  Sums sums(const std::vector<Net*>& nets) const {
    Sums s;
    for (const Net* n : nets) {
      const Effect& e = net_[static_cast<std::size_t>(n->id)].effect;
      add_flip(s, n->id, e.plus, e.minus, e.odd);
    }
    return s;
  }
  // Adds to s the counts of net number net_id now and after flips that negate the whole
  // net when `odd`, and one by one its counted terminals of which `plus`
  // have weight +1 and `minus` weight -1.
  void add_flip(Sums& s, int32_t net_id, long plus_flipped, long minus_flipped, bool odd) const {
    const Tally& k = net_[static_cast<std::size_t>(net_id)].tally;
    add_flip(s, k.rule(), k.plus, k.minus, plus_flipped, minus_flipped, odd);
  }
  // The same for the net as it stood when its tallies were `was_plus` and
  // `was_minus` (a First's).
  void add_flip_was(Sums& s, int32_t net_id, long was_plus, long was_minus, long plus_flipped,
                    long minus_flipped, bool odd) const {
    add_flip(s, net_[static_cast<std::size_t>(net_id)].tally.rule(), was_plus, was_minus, plus_flipped,
             minus_flipped, odd);
  }

  // The sums of flipping gate g alone, as flip_terminal on each of its
  // terminals and sums() would give them, but gathered apart from the
  // book, which it only reads: trials measured so may run on two threads
  // at once.  False (nothing measured) when a terminal of g lies on a
  // counted net the book does not number or on one of `many` weighted
  // terminals or more, or g has too many terminals.
  bool gate_sums(const Instance* g, long many, Sums& s) const {
    struct Met {
      int32_t id;
      Effect e;
    };
    constexpr std::size_t kMost = 16;
    Met met[kMost];
    std::size_t count = 0;
    bool measured = true;
    reduce_detail::for_each_terminal(g, [&](const Link* t) {
      const Net* n = t->net;
      if (!measured || !n || !reduce_detail::counts_in_whole(n)) return;
      if (n->id <= 0) {
        measured = false;
        return;
      }
      Met* m = met;
      while (m != met + count && m->id != n->id) ++m;
      if (m == met + count) {
        if (count == kMost || weighted(n) >= many) {
          measured = false;
          return;
        }
        *m = Met{n->id, Effect{}};
        ++count;
      }
      flip_at(t, m->e);
    });
    if (!measured) return false;
    for (std::size_t k = 0; k < count; ++k)
      add_flip(s, met[k].id, met[k].e.plus, met[k].e.minus, met[k].e.odd);
    return true;
  }

  // Number of numbered nets.
  int32_t nets() const { return static_cast<int32_t>(net_.size()) - 1; }
  // Asks for the entries of numbered net net_id, a trial ahead of its use.
  void read_ahead(int32_t net_id) const {
    __builtin_prefetch(&net_[static_cast<std::size_t>(net_id)]);
  }

  // Starts a new gathering: every net's effect reads as none until the
  // flips gathered next reach it.
  void new_mark() {
    for (uint32_t i : gathered_) net_[i].effect = Effect{};
    gathered_.clear();
  }

  // What the flips gathered since new_mark() do to numbered net net_id:
  // the counted terminals they negate one by one, and whether they negate
  // the whole net.
  long negated_plus(int32_t net_id) const { return net_[static_cast<std::size_t>(net_id)].effect.plus; }
  long negated_minus(int32_t net_id) const { return net_[static_cast<std::size_t>(net_id)].effect.minus; }
  bool negated_whole(int32_t net_id) const { return net_[static_cast<std::size_t>(net_id)].effect.odd; }
  // The driver rule and tallies of a numbered net.
  reduce_detail::Rule rule(const Net* n) const { return net_[static_cast<std::size_t>(n->id)].tally.rule(); }
  long plus(const Net* n) const { return net_[static_cast<std::size_t>(n->id)].tally.plus; }
  long minus(const Net* n) const { return net_[static_cast<std::size_t>(n->id)].tally.minus; }

  // Whole-net negations by a set of gates flipped at once, counted mod 2
  // per numbered net since new_mark(); true the first time n is met.
  bool toggle_odd(const Net* n) {
    Effect& e = net_[static_cast<std::size_t>(n->id)].effect;
    const bool first = meet(e, n);
    e.odd ^= 1;
    return first;
  }
  bool odd(int32_t net_id) const { return net_[static_cast<std::size_t>(net_id)].effect.odd; }

  // Nets whose weights changed since the absorption last ran on them.
  std::vector<Net*>& pending() { return pending_; }
  bool is_pending(const Net* n) const { return net_[static_cast<std::size_t>(n->id)].tally.pending; }
  void settled(const Net* n) { net_[static_cast<std::size_t>(n->id)].tally.pending = 0; }
  // Every net taken as absorbed (after a whole absorption pass).
  void settle_all() {
    for (Net* n : pending_) settled(n);
    pending_.clear();
  }

 private:
  static void add_flip(Sums& s, reduce_detail::Rule rule, long now_plus, long now_minus,
                       long plus_flipped, long minus_flipped, bool odd) {
    long plus, minus;
    if (odd) {  // every weight but those negated one by one
      plus = plus_flipped + (now_minus - minus_flipped);
      minus = minus_flipped + (now_plus - plus_flipped);
    } else {
      plus = now_plus - plus_flipped + minus_flipped;
      minus = now_minus - minus_flipped + plus_flipped;
    }
    s.inv_before += inv_of(rule, now_plus, now_minus);
    s.inv_after += inv_of(rule, plus, minus);
    s.wt_before += wt_of(rule, now_plus, now_minus);
    s.wt_after += wt_of(rule, plus, minus);
  }

  // Packed into 8 bytes each: these run over every net of the design.  A
  // count of terminals stays below 2^27 in any design that fits memory.
  struct Tally {
    int32_t plus : 31 = 0;
    uint32_t exor : 1 = 0;  // an exclusive-or terminal may have weight -1
    int32_t minus : 28 = 0;
    uint32_t rule_code : 2 = static_cast<uint32_t>(reduce_detail::Rule::kNormal);
    uint32_t pending : 1 = 0;
    uint32_t logged : 1 = 0;  // in firsts_
    reduce_detail::Rule rule() const { return static_cast<reduce_detail::Rule>(rule_code); }
  };
  // What the gathering since new_mark() does to the net (all zero until
  // it meets the net).
  struct Effect {
    int32_t plus = 0;
    int32_t minus : 30 = 0;
    uint32_t odd : 1 = 0;
    uint32_t met : 1 = 0;
  };
  // A trial reads both of a net: one cache line holds four nets whole.
  struct alignas(16) Entry {
    Tally tally;
    Effect effect;
  };
  static_assert(sizeof(Tally) == 8 && sizeof(Effect) == 8 && sizeof(Entry) == 16);
  // What flipping t's gate does at t: an input's counted weight is negated
  // alone, any other pin negates the whole net.
  static void flip_at(const Link* t, Effect& e) {
    if (reduce_detail::flips_alone(t)) negate_one(t, e);
    else e.odd ^= 1;
  }
  static void negate_one(const Link* t, Effect& e) {
    if (!reduce_detail::counted(t)) return;
    if (t->weight == 1) ++e.plus;
    else if (t->weight == -1) ++e.minus;
  }
  // True the first time the gathering meets the net.
  bool meet(Effect& e, const Net* n) {
    if (e.met) return false;
    e.met = 1;
    gathered_.push_back(static_cast<uint32_t>(n->id));
    return true;
  }
  Effect* effect(const Net* n, std::vector<Net*>& nets) {
    if (!n || n->id <= 0 || !reduce_detail::counts_in_whole(n)) return nullptr;
    Effect& e = net_[static_cast<std::size_t>(n->id)].effect;
    if (meet(e, n)) nets.push_back(const_cast<Net*>(n));
    return &e;
  }

  void log_change(const Link* t, const Net* n, int old) {
    const Instance* i = t->inst;
    if (!focus_ || i->comp != focus_) return;
    Change c{};
    c.net = static_cast<uint32_t>(n->id);
    c.member = static_cast<uint32_t>(i->id);
    c.old = static_cast<int8_t>(old);
    c.now = static_cast<int8_t>(t->weight);
    c.gate_input = gate_input(t, n);
    const Instance* s = n->source ? n->source->inst : nullptr;
    c.edge = (old == 1) != (t->weight == 1) && n->type == kNetSignal && s && s->comp == focus_;
    if (c.edge) {
      c.source = static_cast<uint32_t>(s->id);
      c.joins_plain = reduce_detail::joins_sub_comp(s->cls, false) && reduce_detail::joins_sub_comp(i->cls, false);
      c.joins_eor = reduce_detail::joins_sub_comp(s->cls, true) && reduce_detail::joins_sub_comp(i->cls, true);
    }
    log_.push_back(c);
  }

  // A terminal whose weight a flip sum follows: a counted input of a gate,
  // on a net the whole counts measure.
  static bool gate_input(const Link* t, const Net* n) {
    return is_gate(t->inst->cls) && reduce_detail::flips_alone(t) && reduce_detail::counted(t) &&
           reduce_detail::counts_in_whole(n);
  }
  void note_summed(const Link* t, const Net* n, int old) {
    if (t->inst->comp == summed_of_ && gate_input(t, n))
      summed_log_.push_back({static_cast<uint32_t>(n->id), static_cast<int8_t>(old),
                             static_cast<int8_t>(t->weight)});
  }

  std::vector<Entry> net_;  // by net number
  const Instance* focus_ = nullptr;
  std::vector<Change> log_;
  const Instance* summed_of_ = nullptr;  // the component start() summed, until taken
  std::vector<SumChange> summed_log_;
  std::vector<First> firsts_;
  std::vector<uint32_t> gathered_;  // the nets the gathering met
  std::vector<Net*> pending_;
};

// Reads ahead the records that the trials of the next gates (or the next
// nodes of a search) read: the instance, its ring of terminals, their nets
// and what the walk reads of those nets.  A trial waits on memory for each
// of them in turn, the ring being a chain of pointers; here each gate
// ahead is taken one step of that chain further every second trial, so
// that its records are in the cache when its turn comes.  Every second: a
// step reads what the step before asked for, and one trial (a few hundred
// nanoseconds) is not always long enough for a load from memory to come
// in, so half the walks step at each trial and twice as many run.  It only
// reads: no decision depends on it.
class ReadAhead {
 public:
  static constexpr std::size_t kGates = 24;  // gates read ahead
  // Starts on g (null: none), the gate kGates trials ahead.
  void start(const Instance* g) {
    Walk& w = walks_[next_];
    next_ = (next_ + 1) % kGates;
    w = Walk{g, nullptr, nullptr, nullptr, nullptr};
    if (g) __builtin_prefetch(g);
  }
  // Half the gates ahead one step further: each step reads only what the
  // step before asked for.  ask(net) asks for what the walk reads beyond
  // the net record itself (the net is in the cache by then), and then(net)
  // one step later for what that brought in leads to.
  template <class Ask, class Then>
  void step(Ask ask, Then then) {
    phase_ ^= 1;
    for (std::size_t i = phase_; i < kGates; i += 2) {
      Walk& w = walks_[i];
      if (w.asked) {
        then(w.asked);
        w.asked = nullptr;
      }
      if (w.net) {
        ask(w.net);
        w.asked = w.net;
        w.net = nullptr;
      }
      if (!w.inst) continue;
      if (!w.at) {
        w.at = w.first = w.inst->link;
        if (w.at) __builtin_prefetch(w.at);
        else w.inst = nullptr;
        continue;
      }
      if ((w.net = w.at->net)) __builtin_prefetch(w.net);
      const Link* next = w.at->inst_next;
      if (!next || next == w.first) {
        w.inst = nullptr;
      } else {
        w.at = next;
        __builtin_prefetch(next);
      }
    }
  }
  template <class Ask>
  void step(Ask ask) {
    step(ask, [](const Net*) {});
  }

 private:
  struct Walk {
    const Instance* inst;  // null once its ring is walked
    const Link* first;
    const Link* at;  // the terminal asked for, read at the next step
    const Net* net;  // whose entries are asked for at the next step
    const Net* asked;  // whose further records are asked for at the next step
  };
  Walk walks_[kGates] = {};
  std::size_t next_ = 0;
  std::size_t phase_ = 0;  // the walks of this parity step next
};

// What flipping a fixed set of gates (rev_instance on each) would gain, kept
// per net as the weights change: per net, the counted input terminals of
// the set by weight (each negated on its own) and whether the set negates
// the whole net an odd number of times; and the sum over the nets of the
// gain that gives.  The caller reports the set's input terminals whose
// weight changed (weight()), and brackets each change of a net's tallies
// with before() and after().  A net's gain is not kept but computed again
// from its tallies, the net's as they were at its last after(): the book's
// now, or as a First of the book holds them once the book changed.
class FlipSum {
 public:
  // Room for `nets` nets, asked ahead of reset().
  void room_ahead(PageAhead& pages, std::size_t nets) { zelk::room_ahead(pages, e_, nets + 1); }
  void reset(std::size_t nets) {
    if (e_.size() != nets + 1) e_.assign(nets + 1, Entry{});
    for (uint32_t id : touched_) e_[id] = Entry{};
    touched_.clear();
    gain_inv_ = gain_wt_ = 0;
  }
  // Adds gate g to the set (sign 1) or takes it out (-1).
  // The book must be as it was at the last after() of every net.
  void gate(const Instance* g, const Book& b, int sign) {
    reduce_detail::for_each_terminal(g, [&](Link* t) {
      if (Entry* e = entry(t)) {
        before(static_cast<uint32_t>(t->net->id), b);
        count(*e, t, sign);
        after(static_cast<uint32_t>(t->net->id), b);
      }
    });
  }
  // Asks for the entry of numbered net id, ahead of its use.
  void read_ahead(int32_t id) const { __builtin_prefetch(&e_[static_cast<std::size_t>(id)]); }
  // The same for many gates at once: add_gate() and remove_gate() on each
  // leave the gains stale, settle() then computes them once per net.
  void add_gate(const Instance* g) {
    reduce_detail::for_each_terminal(g, [&](Link* t) {
      if (Entry* e = entry(t)) count(*e, t, 1);
    });
  }
  // The same for one terminal of a gate of the set, met on its net, which
  // goes to `touched` when it is new to the set.
  void add_terminal(const Link* t, std::vector<uint32_t>& touched) {
    if (Entry* e = entry(t, touched)) count(*e, t, 1);
  }
  void add_terminal(const Link* t) { add_terminal(t, touched_); }
  // Nets that add_terminal() listed apart, in the order met.
  void add_touched(const std::vector<uint32_t>& ids) { touched_.insert(touched_.end(), ids.begin(), ids.end()); }
  void remove_gate(const Instance* g) {
    reduce_detail::for_each_terminal(g, [&](Link* t) {
      if (Entry* e = entry(t)) count(*e, t, -1);
    });
  }
  // Takes the tallies of another set (its gains go stale, as add_gate's).
  // Nets it touched stay touched here, with gain 0 once nothing of the set
  // is left on them.
  void copy_counts(const FlipSum& o) {
    for (uint32_t id : touched_) e_[id] = Entry{};
    touched_ = o.touched_;
    for (uint32_t id : touched_) e_[id] = o.e_[id];
  }
  void settle(const Book& b) {
    gain_inv_ = gain_wt_ = 0;
    for (uint32_t id : touched_) after(id, b);
  }
  // An input terminal of a gate of the set, on net number `net`, changed
  // weight from old to now.
  void weight(uint32_t net, int old, int now) {
    Entry& e = e_[net];
    if (old == 1) --e.plus;
    else if (old == -1) --e.minus;
    if (now == 1) ++e.plus;
    else if (now == -1) ++e.minus;
  }
  // By net number.
  bool touches(uint32_t id) const { return e_[id].touched; }
  // The set's counted input terminals on the net of weight +1 and -1, and
  // whether it negates the whole net.
  long plus(uint32_t id) const { return e_[id].plus; }
  long minus(uint32_t id) const { return e_[id].minus; }
  bool whole(uint32_t id) const { return e_[id].odd; }
  // Before a change of the entry: the book is as it was at its last after().
  void before(uint32_t id, const Book& b) {
    const Entry& e = e_[id];
    Book::Sums s;
    b.add_flip(s, static_cast<int32_t>(id), e.plus, e.minus, e.odd);
    take(s);
  }
  // Before a change of the entry or of the net's tallies, once the book
  // changed them from `f`.
  void before(const Book::First& f, const Book& b) {
    const Entry& e = e_[f.id];
    Book::Sums s;
    b.add_flip_was(s, static_cast<int32_t>(f.id), f.plus, f.minus, e.plus, e.minus, e.odd);
    take(s);
  }
  void after(uint32_t id, const Book& b) {
    const Entry& e = e_[id];
    Book::Sums s;
    b.add_flip(s, static_cast<int32_t>(id), e.plus, e.minus, e.odd);
    gain_inv_ += s.inv_before - s.inv_after;
    gain_wt_ += s.wt_before - s.wt_after;
  }
  // Whether the flip pays (the whole-count rule: an inverter count only for
  // an open top).
  bool pays(bool weight_rule, bool open) const {
    const long gain = open ? gain_inv_ : 0;
    return gain > 0 || (weight_rule && gain == 0 && gain_wt_ > 0);
  }

 private:
  // 8 bytes: one per net of the design, in up to three sums.
  struct Entry {
    int32_t plus = 0;
    int32_t minus : 30 = 0;
    uint32_t odd : 1 = 0, touched : 1 = 0;
  };
  static_assert(sizeof(Entry) == 8);
  void take(const Book::Sums& s) {
    gain_inv_ -= s.inv_before - s.inv_after;
    gain_wt_ -= s.wt_before - s.wt_after;
  }
  Entry* entry(const Link* t) { return entry(t, touched_); }
  Entry* entry(const Link* t, std::vector<uint32_t>& touched) {
    Net* n = t->net;
    if (!n || n->id <= 0 || !reduce_detail::counts_in_whole(n)) return nullptr;
    Entry& e = e_[static_cast<std::size_t>(n->id)];
    if (!e.touched) {
      e.touched = 1;
      touched.push_back(static_cast<uint32_t>(n->id));
    }
    return &e;
  }
  static void count(Entry& e, const Link* t, int sign) {
    if (!reduce_detail::flips_alone(t)) {
      e.odd ^= 1;
    } else if (reduce_detail::counted(t)) {
      if (t->weight == 1) e.plus += sign;
      else if (t->weight == -1) e.minus += sign;
    }
  }

  std::vector<Entry> e_;
  std::vector<uint32_t> touched_;  // net numbers
  long gain_inv_ = 0, gain_wt_ = 0;
};

namespace reduce_detail {

inline void negate_weight(Link* t, Book* b) {
  int old = t->weight;
  if (old == 0) return;
  t->weight = static_cast<int16_t>(-old);
  if (b) b->changed(t, old);
}

inline void set_weight(Link* t, int w, Book* b) {
  int old = t->weight;
  if (old == w) return;
  t->weight = static_cast<int16_t>(w);
  if (b) b->changed(t, old);
}

// Every weight on the net changes sign (0 stays 0).
inline void negate_net(Net* n, Book* b) {
  for (Link* u = n->links; u; u = u->next) negate_weight(u, b);
}

}  // namespace reduce_detail
}  // namespace zelk
