// Inverter reduction by polarity moves on the flat network, and its cost
// function.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "netlist/netlist.h"
#include "reduce/reduce_internal.h"

namespace zelk {

// ---------------------------------------------------------------- counts
// Recounted from the records on every call.

int count_inv(const Design& d, const Module* m);
int count_control_inv(const Design& d, const Module* m);
int count_inv_net(const Design& d, const Net* n);
int count_inv_net_normal(const Net* n);
int count_inv_net_reversible(const Net* n);
long count_wt(const Design& d);
long count_wt_net(const Design& d, const Net* n);
long count_wt_net_normal(const Net* n);
long count_wt_net_reversible(const Net* n);

// How a tentative move is measured: from running per-net tallies over the
// nets it touches, or literally, by recounting the whole flat network (and
// walking every net around a gate), with the whole absorption pass after
// each move.  Both make the same decisions; the literal form is quadratic on
// large designs and is kept as the reference to check against.
enum class Recount { kTouched, kWhole };

// Runs the whole reduction on the flat network of d.top (after flat()).
// Changes only terminal weights and the dual / negate marks of gates.
void red_inv(Design& d, Recount how = Recount::kTouched);

// Per-net tallies of the reduction (reduce_internal.h).  Every operation
// below that changes weights takes an optional Book and reports each change
// to it.
class Book;

// The members of one connected component, in member order (its head first).
struct Members {
  Instance* const* first;
  Instance* const* last;
  Instance* const* begin() const { return first; }
  Instance* const* end() const { return last; }
};

// ---------------------------------------------------------------- flips
// Each flip changes weights only and is its own inverse.

// Turns a gate into its De Morgan dual: negates the weight of each input
// terminal and every weight of the net of each other terminal.
void rev_instance(Instance* g, Book* b = nullptr);
// rev_instance on every gate (and- to oai-) of a component.
void rev_instance_all(Members comp, Book* b = nullptr);
// Toggles dual on every gate (and- to oai-) of a component.
void conn_comp_dual(Members comp);
// Inverts the tristate bus of t together with the data input of every
// tristate buffer driving it.  Does nothing when t has no tristate terminal
// or when the bus holds a driver that cannot follow the inversion.
void rev_ts_bufs(Instance* t, Book* b = nullptr);

// ---------------------------------------------------------------- literal moves
// Each returns 1 and keeps the flip when it pays, else restores it and
// returns 0.  The _inv forms need the inverter count to fall; the _wt forms
// also accept an equal inverter count with a lower weight count.  Measured
// by recounting (the nets around a gate, or the whole network).

int diff_inv(const Design& d, Instance* g);
int diff_wt(const Design& d, Instance* g);
int diff_inv_ts(const Design& d, Instance* t);
int diff_wt_ts(const Design& d, Instance* t);
int diff_inv_neg(const Design& d, Instance* g);  // negate the output net
int diff_wt_neg(const Design& d, Instance* g);
int diff_inv_conn_comp(const Design& d, Members comp);
int diff_wt_conn_comp(const Design& d, Members comp);

// ---------------------------------------------------------------- exclusive-or absorption

// Sum of the weights of n's terminals that are not on eor- / enor- cells.
int count_wt_net_eor_enor_aside(const Net* n);
// Inverted exclusive-or inputs of n become plain ones, their cells toggled.
void eor_enor_minus_wt_dual(Net* n, Book* b = nullptr);
// After n's driver took the opposite polarity: ordinary terminals change
// sign, exclusive-or inputs stay plain (their cells toggled).
void eor_enor_plus_wt_dual(Net* n, Book* b = nullptr);
// Absorption on one net, by the class of its driver.
void eor_enor_and_or_nand_nor_net(const Design& d, Net* n, Book* b = nullptr);
// Absorption on the net of each terminal of g.
void eor_enor_and_or_nand_nor_instance(const Design& d, Instance* g, Book* b = nullptr);

// ---------------------------------------------------------------- driver

// One accepted move, for comparing runs: its kind and the dense number
// (Instance::id) of the gate, buffer or head it was made on.
struct Move {
  char kind;  // 'G' sub-component, 'X' sub-component without exclusive-or,
              // 'C' component, 'N' gate, 'T' tristate bus, 'O' negated output
  int32_t inst;
  bool operator==(const Move&) const = default;
};

// The reduction of one design: connected components, the nets driven from
// each component, the sub-components of the component being worked on, and
// the phases and moves that work one component at a time.
class Reducer {
 public:
  Reducer(Design& d, Recount how = Recount::kTouched);
  ~Reducer();

  // All of the reduction (red_inv).
  void run();
  // Every accepted move in order is appended here when set.
  std::vector<Move>* log = nullptr;
  // Rebuild the sub-components on every global move and try every group
  // (measured from the tallies all the same): the plain form of keeping
  // them up to date, to check that against.
  bool fresh_groups = false;
  // Replay the merges of the last rebuild of a large group that paid when
  // the group holding it is rebuilt; off, rebuild it whole (to check that
  // against).
  bool replay_merges = true;
  // Components of at least this many members have their walks of a build
  // run two at a time (the outcome is the same either way).
  uint32_t beside_from = uint32_t{1} << 16;

  // Builds the connected components (Instance::comp: the head of each
  // member), numbers their members and the top module's nets, and records
  // per component its signal and tristate nets in net-list order.
  void conn_comp();
  // The heads of the components in list order, and the members of the
  // component headed by h.
  std::vector<Instance*> heads() const;
  Members members_of(const Instance* h) const;
  // Builds the sub-components of component h.
  void plus_factor(Instance* h);
  void plus_factor_eor_enor(Instance* h);
  // The head of x's current sub-component.
  Instance* sub_head(const Instance* x);
  // The first sub-component (in the order of the list of sub-components:
  // the reverse of member order) whose flip pays, left flipped; null when
  // none pays.  The _eor_enor forms skip exclusive-or heads.
  Instance* rev_sub_comp_inv();
  Instance* rev_sub_comp_wt();
  Instance* rev_sub_comp_inv_eor_enor();
  Instance* rev_sub_comp_wt_eor_enor();
  // rev_instance on every gate of x's sub-component (ninv- members stay).
  void rev_sub_comp_tmp(Instance* x);
  // Toggles dual on the same members.
  void sub_comp_dual(Instance* x);

  // Absorption over every net driven from component h.
  void eor_enor_and_or_nand_nor(Instance* h);
  // The first such pass, over every one of those nets in list order.
  void absorb_component(Instance* h);

  int red_inv2(Instance* h);
  int red_wt2(Instance* h);
  int red_inv_local(Instance* h);
  int red_wt_local(Instance* h);
  int red_inv_node(Instance* h);
  int red_wt_node(Instance* h);
  int red_inv_neg(Instance* h);
  int red_wt_neg(Instance* h);
  int red_inv_global(Instance* h);
  int red_wt_global(Instance* h);
  int red_inv_global_eor_enor(Instance* h);
  int red_wt_global_eor_enor(Instance* h);

 private:
  // The signal and tristate nets whose source belongs to component h.
  struct NetSpan {
    Net* const* first;
    Net* const* last;
    Net* const* begin() const { return first; }
    Net* const* end() const { return last; }
  };
  NetSpan nets_of(const Instance* h) const;
  // Part of conn_comp(): the nets each component drives, from every net of
  // the top module.
  void place_nets(const std::vector<Net*>& all);

  // The sub-components of one component built with or without
  // exclusive-or cells, over member ids.  A group is a chain of members
  // (next and prev) under a union-find parent; its head is its root
  // when is_head(root) (else not known: after a +1 connection joined two
  // groups, which head the whole build would give is found only when it
  // matters, by rebuilding the group).  With the fast measure, groups are
  // kept up to date from the weight changes, and the largest one's flip
  // gain is kept per net.
  static constexpr uint32_t kNoHead = UINT32_MAX;
  struct Groups {
    Instance* of = nullptr;  // component whose groups are held
    bool with_eor = false;
    // A chain runs forward through next to kNoHead and back through prev
    // around to its last member: a root's prev is its chain's tail.
    std::vector<uint32_t> parent, next, prev, size;
    // Room for the members of a whole design, asked ahead of the first build.
    void room_ahead(PageAhead& pages, std::size_t members) {
      for (auto* v : {&parent, &next, &prev, &size}) {
        v->clear();
        zelk::room_ahead(pages, *v, members);
      }
      marks.clear();
      zelk::room_ahead(pages, marks, members);
    }
    // Member x as a group of its own.
    void reset(uint32_t x) {
      parent[x] = x;
      next[x] = kNoHead;
      prev[x] = x;
      size[x] = 1;
    }
    // Root gone's chain follows root keep's; parents are left to the caller.
    void append(uint32_t keep, uint32_t gone) {
      const uint32_t last = prev[keep];
      next[last] = gone;
      prev[keep] = prev[gone];
      prev[gone] = last;
      size[keep] += size[gone];
    }
    // Per member, one byte: the rules that refused its group (at a root),
    // whether it is a known head, whether it is in the group whose gain
    // is kept.
    std::vector<uint8_t> marks;
    static constexpr uint8_t kHeadMark = 4, kBigMark = 8;
    bool is_head(uint32_t x) const { return marks[x] & kHeadMark; }
    void set_head(uint32_t x, bool on) { put(x, kHeadMark, on); }
    uint8_t rejected(uint32_t r) const { return marks[r] & reduce_detail::kRefusedBoth; }
    void reject(uint32_t r, uint8_t rules) { marks[r] |= rules; }
    void clear_rejected(uint32_t r) { put(r, reduce_detail::kRefusedBoth, false); }
    bool in_big(uint32_t m) const { return marks[m] & kBigMark; }
    void set_big(uint32_t m, bool on) { put(m, kBigMark, on); }
    // While the members of groups to rebuild, or the ends of lost
    // connections, are gathered: each once.
    static constexpr uint8_t kGatherMark = 16;
    bool gathered(uint32_t x) const { return marks[x] & kGatherMark; }
    void set_gathered(uint32_t x, bool on) { put(x, kGatherMark, on); }
    void put(uint32_t x, uint8_t bits, bool on) {
      marks[x] = on ? marks[x] | bits : marks[x] & static_cast<uint8_t>(~bits);
    }
    // Per rule, heads that may still be tried: every head whose group the
    // rule has not refused is marked (more may be, found out when met).
    reduce_detail::MemberBits try_marks[2];
    std::vector<uint32_t> joins;    // member pairs whose +1 connection appeared
    std::vector<uint32_t> rebuild;  // members whose +1 connection was lost
    std::vector<uint32_t> unknown;  // roots whose head is not known
    uint32_t big = UINT32_MAX;      // root of the group whose gain is kept
    FlipSum big_sum;
    // The merges of the last rebuild of one large group that paid, in
    // order, and the nets (places in comp_nets_) whose +1 connections they
    // came from.  While no +1 connection goes, the next rebuild of the
    // group that holds them replays them and walks only the nets that
    // gained a connection since and those of the members joined since.
    struct Merge {
      uint32_t at, source, load;  // the net's place, its driver, the member joined
    };
    std::vector<Merge> merges;
    uint32_t logged = UINT32_MAX;  // a member of that group; UINT32_MAX: none held
    reduce_detail::MemberBits covered;
    // Marks of the searches that split groups: a search's members hold
    // numbers above visit_base.
    std::vector<uint32_t> visit;
    uint32_t visit_base = 0;
  };
  Groups& groups(bool with_eor) { return groups_[with_eor ? 1 : 0]; }
  uint32_t find(Groups& g, uint32_t x);
  // `both`: the groups of the other kind are built for h as well, unless
  // held for it already (at the same cost, beside these on a large
  // component).
  void build_sub_comps(Instance* h, bool with_eor, bool both = false);
  // The walk of the build: touches only g and reads the netlist, so that
  // two run at once.
  void fill_groups(Groups& g, Instance* h, bool with_eor);
  void update_sub_comps(Groups& g);
  void apply_changes(Groups& g);
  void rebuild_groups(Groups& g, const std::vector<uint32_t>& roots);
  // `keep_merges`: members is one large group; its merges are kept, and
  // those held (of the group that holds them, when held) are replayed.
  void rebuild_members(Groups& g, const std::vector<uint32_t>& members, bool big_gone,
                       bool keep_merges = false);
  void rebuild_paying(Groups& g, uint32_t r);
  void split_groups(Groups& g);
  bool split_big(Groups& g, uint32_t r, const std::vector<uint32_t>& from);
  template <class F>
  void for_each_neighbour(const Groups& g, uint32_t m, F f);
  // Joins along signal net n, driven by member sid, which joins groups;
  // on_merge(sid, member) follows each merge.
  template <class OnMerge>
  void join_along(Groups& g, const Net* n, uint32_t sid, OnMerge on_merge);
  void join_along(Groups& g, const Net* n, uint32_t sid);
  uint32_t merge_keep(Groups& g, uint32_t a, uint32_t b);
  // Marks head x as worth trying again under both rules.
  static void may_try(Groups& g, uint32_t x) {
    g.try_marks[0].set(x);
    g.try_marks[1].set(x);
  }
  void keep_big(Groups& g);
  void join_big(Groups& g, uint32_t r);
  bool group_pays(Groups& g, uint32_t r, bool weight_rule);
  Instance* first_paying(bool with_eor, bool weight_rule);
  int global_move(Instance* h, bool with_eor, bool weight_rule);
  int local(Instance* h, bool weight_rule);
  int node(Instance* h, bool weight_rule);
  int neg(Instance* h, bool weight_rule);
  // A walk over members [scan, end) that reads ahead the members of one
  // kind not refused under the rule's mark (fast measure only).
  struct TrialsAhead {
    uint32_t scan, end;
    uint8_t kind, refused;
    ReadAhead* reads;
  };
  void begin_ahead(TrialsAhead& a);
  // Before each trial; `sums`: before each gate taken into the sums of the
  // component instead.
  void next_ahead(TrialsAhead& a, bool sums = false);
  void start_ahead(TrialsAhead& a);
  // The moves, measured as how_ says.
  bool gate_flip(Instance* g, bool weight_rule);
  bool gate_flip_counted(Instance* g, bool weight_rule);
  bool gathered_pays(bool weight_rule, bool whole) const;
  // Whether the flips gathered pay, under each rule.
  struct Verdict {
    bool inverter_rule, weight_rule;
  };
  Verdict gathered(bool whole) const;
  static Verdict verdict(const Book::Sums& s);
  // The single-gate trials of the walk under the rule over members
  // [first, end), made ahead on both cores: those refused are marked as
  // the walk marks them, and it passes over them.  For the first walk of a
  // large component, where every gate is tried; later walks try the few
  // gates re-armed since.
  void refuse_ahead(uint32_t first, uint32_t end, bool weight_rule);
  bool refused(bool weight_rule, bool whole);
  bool bus_flip(Instance* t, bool weight_rule);
  bool output_negation(Instance* g, bool weight_rule);
  bool conn_comp_flip(Instance* h, bool weight_rule);
  void absorb_instance(Instance* g);
  // rev_instance on every gate of the set, each weight changed at most
  // once.
  void flip_gates(Members set);
  // Fast measure: takes up component h (once), and the weight changes made
  // since last taken: they update the flip gains kept per net, mark the
  // gates and groups around changed nets to be tried again and note the +1
  // connections gained and lost.
  void enter(Instance* h);
  // The two halves of enter(): the marks of h's members and the nets'
  // focus (cheap), then the component's flip gain (a walk of its gates).
  void take_up(Instance* h);
  void sum_component(Instance* h);
  void take_changes();
  void rearm(uint32_t id);
  // Re-arms the members of the component taken up that have a terminal
  // on n, whose tallies changed from (plus, minus).
  void rearm_around(const Net* n, long plus, long minus);
  // A trial just gathered over nets_ was refused (`kept`: read from the
  // kept gain of the largest group, nets_ not gathered).
  void refused_trial(bool kept);
  void note(char kind, const Instance* x) {
    if (log) log->push_back({kind, x->id});
  }
  bool absorb_after_moves() const { return d_.eor_enor_exist == 1 || d_.options.all; }
  bool fast() const { return how_ == Recount::kTouched; }
  bool open() const { return d_.top->state == kStateOpen; }

  Design& d_;
  Recount how_;
  Book* book_ = nullptr;  // per-net tallies (fast measure only)
  std::vector<Instance*> members_;     // component members by id, in component order
  std::vector<uint8_t> member_kind_;   // per member id: member_kind() of its class
  // Per member that joins groups (fast measure only): the place in
  // comp_nets_ of the signal net it drives (kNoNet for none), so that a
  // rebuild of groups reads no terminal to find it, and puts the nets in
  // net-list order without reading them.
  std::vector<uint32_t> drive_;
  static constexpr uint32_t kNoNet = UINT32_MAX;
  std::vector<uint32_t> comp_first_;   // per component in list order: its head's id
  uint32_t component(uint32_t id) const;  // ordinal of the component holding member id
  uint32_t comp_end(uint32_t first) const;  // one past the last id of the component from first
  std::vector<uint32_t> net_first_;    // per component: start in comp_nets_
  std::vector<Net*> comp_nets_;
  Groups groups_[2];
  Groups* last_groups_ = &groups_[1];  // the groups of the last build or search
  std::vector<Net*> nets_;             // nets a tentative move touches
  ReadAhead read_ahead_;               // of the walks over members
  bool measured_by_book_ = false;      // the last gate trial was measured from the tallies
  bool refused_by_both_ = false;       // the last trial refused would be refused by either rule
  // Per rule, whether the next single-gate walk is the first since the
  // component was taken up (all of its gates untried): tried ahead then.
  bool untried_[2] = {false, false};
  Instance* work_ = nullptr;           // component taken up by enter()
  // Per member: the rules that refused it as a single-gate move (low bits)
  // and as an output negation (shifted by kNegShift); kRearmedMark once
  // re-armed while the changes are taken.
  std::vector<uint8_t> member_marks_;
  static constexpr int kNegShift = 2;
  static constexpr uint8_t kRearmedMark = 32;  // while the changes are taken
  std::vector<uint32_t> rearmed_;
  // Re-arming around a net of many terminals.  A walk re-arms every member
  // on it (so does taking up the component); until the next, the trials
  // refused that read it are summed up, and a change of its tallies that
  // all of them measure alike re-arms none of them (but the net's driver
  // when one negated the whole net).
  // Per such net:
  struct Walk {
    uint64_t gen;        // rearm_gen_ of the walk
    uint64_t kept_seen;  // kept_refusals_ when the largest groups were last read
    reduce_detail::RefusedReads reads;
    bool one_driver;  // no gate terminal but the source is other than an input
                      // (false until a walk has looked)
  };
  std::unordered_map<int32_t, Walk> walks_;
  uint64_t rearm_gen_ = 0;      // components taken up
  uint64_t kept_refusals_ = 0;  // refusals of the largest group, measured from its kept gain
  uint64_t kept_at_take_up_ = 0;  // kept_refusals_ when the component was taken up
  std::vector<Link*> bus_terms_;  // scratch of bus_flip
  std::vector<Instance*> gates_;  // scratch: the gates of the group flipped
  struct FlipInput {
    Link* t;
    int32_t net;  // its net's number, 0 for none
  };
  std::vector<FlipInput> flip_inputs_;  // scratch of flip_gates
  FlipSum comp_sum_;                   // flipping every gate of the component taken up
  // The largest component of a large design, whose sum the book's start
  // took, until it is taken up; its sum, while another component is taken
  // up first; whether the component taken up last came with its sum.
  Instance* summed_ = nullptr;
  std::unique_ptr<FlipSum> parked_;
  bool taken_sum_ = false;
};

}  // namespace zelk
