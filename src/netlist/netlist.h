// The netlist records shared by every stage of zelk, the code values that
// fill their type fields, the run context and the fault type.
//
// Records are plain structs linked by pointers.  Every record and every
// string is allocated from the arena of one Design and lives until the
// Design is destroyed; records move between lists but are never freed.
// Strings are NUL-terminated and never modified once made, so several
// records may share one string.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <type_traits>
#include <utility>
#include <vector>

namespace zelk {

struct Module;
struct Instance;
struct Net;
struct Link;
struct CompGroup;

// ---------------------------------------------------------------- codes

// Class codes (Instance::cls).
enum : int16_t {
  kInv = 400,      // "inv-"
  kNinv = 401,     // "ninv-"
  kAnd = 402,      // "and-"
  kNand = 403,     // "nand-"
  kOr = 404,       // "or-"
  kNor = 405,      // "nor-"
  kEor = 406,      // "eor-"
  kEnor = 407,     // "enor-"
  kAoi = 408,      // "aoi-"
  kOai = 409,      // "oai-"
  kReg1 = 410,     // "reg-1"
  kRegr1 = 411,    // "regr-1"
  kRegs1 = 412,    // "regs-1"
  kRegSR = 413,    // "reg--1"
  kRegSet = 414,   // "reg---1"
  kSreg1 = 415,    // "sreg-1"
  kSrgr1 = 416,    // "srgr-1"
  kSrgs1 = 417,    // "srgs-1"
  kSregSR = 418,   // "sreg--1"
  kSregSet = 419,  // "sreg---1"
  kHigh = 420,     // "high-"
  kLow = 421,      // "low-"
  kTsBuf = 422,    // "ts_buf-"
  kBgate = 423,    // "bgate--2"
  kPin = 424,      // a module pin
  kUser = 425,     // an instance of a user module; also "no table row"
};

// Keyword codes; the value words among them are the pin type codes.
enum : int16_t {
  kwArea = 277,
  kwBidirect = 257,
  kwBidirectConnected = 258,
  kwCellName = 278,
  kwClock = 259,
  kwDefComp = 260,
  kwDefModule = 261,
  kwDefNet = 262,
  kwDefPin = 263,
  kwGates = 279,
  kwGlobal = 264,
  kwInput = 265,
  kwInputConnected = 266,
  kwLoad = 281,
  kwNote = 267,
  kwOutput = 268,
  kwOutputConnected = 269,
  kwPower = 280,
  kwScanEnb = 282,
  kwScanIn = 283,
  kwScanOut = 284,
  kwStatic = 270,
  kwTristate = 271,
  kwTristateConnected = 272,
  kwType = 273,
  kwUndefined = 274,
  kwUnused = 275,
  kwUnusedConnected = 276,
};

// Net types (Net::type).
enum : int16_t {
  kNetNone = 0,
  kNetTristate = 271,
  kNetUnused = 275,
  kNetControl = 290,
  kNetSignal = 291,
};

// How a module pin is used (Instance::pin_use).
enum : int16_t {
  kPinUnconnected = 0,  // no terminal inside the module: not written (top pins excepted)
  kPinConnected = 1,    // a terminal inside, or a pin of the top module
  kPinOpenEnd = 2,      // a boundary terminal that flattening left open: written
};

// Module states (Module::state).
enum : int16_t {
  kStateCell = 301,   // primitive cell read from a PCD file
  kStateOpen = 310,   // top module, or NLD module of an optimisation directory
  kStateFixed = 311,  // NLD module of a read-only directory, or below a fixed one
};

// Table selectors of screen / inv_screen, and file kinds of def_pin.
enum : int { kKeywordTable = 300, kCellTable = 301, kFileNld = 302, kFilePcd = 301 };

// Token codes of the lexer.
enum : int { kTokOpen = 40, kTokClose = 41, kTokDot = 46, kTokName = 350, kTokEof = -1 };

// ---------------------------------------------------------------- records

// One module copy: the top module, one copy per instance of a user module,
// or one primitive-cell definition read from a PCD file.
struct Module {
  const char* name;
  const char* inst_name;    // name of the instance realising this copy; top: == name
  Instance* pins;           // class-424 instances, linked by Instance::next
  CompGroup* comp_groups;   // components grouped for writing
  Instance* comps;          // components, linked by Instance::next
  Instance* expanded;       // instances of opened user modules taken out by flattening
  Net* nets;                // linked by Net::next
  Module* parent;           // module holding the instance this copy realises
  Module* next;             // next copy of the design's module list
  Instance* inst;           // the class-425 instance in parent realising this copy
  int16_t state;
  bool pin_named_again;     // a net names one of its pins that a net named before
                            // (the pin's link is then the last of its terminals)
  int32_t depth;            // 0 for the top module, parent's depth + 1 otherwise
  int32_t id;               // unique per Module of a Design (>= 1); see Net::owner
};

// One component of a module, or one pin of a module (class 424).
struct Instance {
  int16_t cls;              // class code
  int16_t fan_in;           // number after "--" in the cell name, 0 if none
  int16_t type;             // pins: pin type keyword code
  int16_t note;             // pins: note keyword code, 0 if none
  int8_t dual;              // 1: replaced by the dual class at output
  int8_t negate;            // 1: replaced by the negated class at output
  int8_t pin_use;           // pins: PinUse
  int8_t written;           // components: 1 when the rebuilt module writes it (on one
                            // of its nets, or a copy holding a cell in use)
  int32_t id;               // dense number the reduction gives component members
  const char* class_name;   // class 425 only: the user module's name
  const char* name;         // instance name or pin name
  Instance* next;           // next in the owning list (pins, comps, expanded)
  Link* link;               // one terminal; entry into the ring of terminals
  Instance* comp;           // head of the connected component
  Module* def;              // class 425: the module copy made for this instance
  Module* module;           // the module copy owning this instance or pin
};

// One net.  Its terminals form a doubly linked list: `links` is the head,
// `next` the successor of a terminal and `prev` its predecessor; `tail` is
// the last terminal.  The nets of a module are doubly linked the same way
// (Module::nets, Net::next, Net::prev) and each records the id of the module
// whose list holds it (0: none), so that unlinking a terminal or a net is
// O(1).  Change membership only through the list helpers below, or call
// net_relink / module_relink_nets after rebuilding a list by hand through
// `next`.
struct Net {
  Link* links;
  Link* tail;
  Link* source;             // the driving terminal, once known
  Net* next;                // next net of the owning module
  Net* prev;                // previous net of the owning module
  int16_t type;             // net type
  int32_t owner;            // Module::id of the module whose list holds it, 0 if none
  int32_t id;               // dense number the reduction gives the top module's nets (from 1)
};

// One terminal of a net: one pin of one instance, or one module pin.
struct Link {
  Instance* inst;           // the component or module pin
  const char* pin_name;     // pin name on inst; for a module pin its own name string
  Link* next;               // next terminal of the same net
  Link* prev;               // previous terminal of the same net (null at the head
                            // and when the terminal is in no net's list)
  Link* inst_next;          // next terminal of the same instance (a ring)
  Link* partner;            // terminal on the other side of a joined boundary
  Net* net;                 // the net holding this terminal
  int16_t pin_type;
  int16_t weight;           // +1, -1 (wants the inverted signal), 0 (not counted)
  int16_t cut;              // 1 excludes the terminal from component building
  uint8_t in_flip;          // set only while a flip of a set of gates runs: an input
                            // of the set, which the flip leaves alone on its net
};

struct CompGroup {
  Instance* first;          // first instance; the group continues through Instance::next
  CompGroup* next;
  CompGroup* smaller;       // groups of the same family with a smaller fan_in
  CompGroup* larger;        // groups of the same family with a larger fan_in
};

// ---------------------------------------------------------------- faults

// Every fault ends the run: the code that finds it throws a Fault carrying
// the exact message (possibly empty); only the driver prints it and turns it
// into exit status 1.  A stop without a message may say what stopped it in
// `why`: zelk prints nothing for it, the converter, which reads the same
// files for a user who asks why they are refused, prints `why`.
struct Fault {
  std::string message;
  std::string why;
};

[[noreturn]] void fail();                        // status 1, no message
[[noreturn]] void fail(std::string message);     // status 1, message as given
[[noreturn]] void fail_quietly(std::string why);  // status 1, no message; why it stopped

// ---------------------------------------------------------------- arena

// Asks the system to back the whole 2 MiB pages within [from, from + size)
// with large pages, before their first touch: for the arenas' large blocks
// and for tables read in random order (hash tables of millions of slots),
// where nearly every read would otherwise also miss the address
// translation.  Only a hint.
void ask_large_pages(void* from, std::size_t size);
// An arena's block or a table of this size or more takes large pages; a
// small design keeps the usual ones.
constexpr std::size_t kLargePagesFrom = std::size_t{8} << 20;

// Room for n elements in v (reserved, not made).  Room of kLargePagesFrom
// or more takes large pages before its first touch, which then traps once
// per 2 MiB instead of once per page: for a table of the whole design
// filled on the spot, whose pages no thread asks for ahead.
template <class T>
void room_large(std::vector<T>& v, std::size_t n) {
  v.reserve(n);
  if (n * sizeof(T) >= kLargePagesFrom) ask_large_pages(v.data(), n * sizeof(T));
}
// n value-initialised elements in v, the ones held before dropped, with
// room_large(): a table read in any order (a hash table) then also misses
// the address translation far less.
template <class T>
void fresh_table(std::vector<T>& v, std::size_t n) {
  std::vector<T> fresh;
  room_large(fresh, n);
  fresh.resize(n);
  v.swap(fresh);
}

// Bump allocator for the records and strings of a design.  Memory is zeroed.
// Asks the system for pages ahead of their first use, on a thread of its
// own: clearing the pages of a large design then overlaps the work that
// fills them.  Shared by the arenas of one design.  Without a thread to be
// had, the asking is done by the caller.
class PageAhead {
 public:
  PageAhead() = default;
  PageAhead(const PageAhead&) = delete;
  PageAhead& operator=(const PageAhead&) = delete;
  ~PageAhead() { stop(); }
  // Asks for the whole pages within [from, to); false once the system
  // refuses the asking (no harm: the pages come with their first touch).
  // With `touch`, each page is also read once it is in: on the virtual
  // machines we measure on, a page the system filled in still traps at its
  // first touch from the process, which is then taken on the thread.  Only
  // for memory that stays mapped until stop() or wait() returns.
  bool ask(char* from, char* to, bool touch = false);
  // Drops what is not asked yet and waits for the thread to end; before
  // any arena's blocks go.
  void stop();
  // Waits until every range asked for so far is done: before memory that
  // was asked for goes back to the system, where another mapping may take
  // its place.
  void wait();

 private:
  void work();
  std::mutex mutex_;
  std::condition_variable wake_;
  std::condition_variable done_;
  struct Range {
    char* from;
    char* to;
    bool touch;
  };
  std::deque<Range> ranges_;
  std::thread thread_;
  bool started_ = false;
  bool stopping_ = false;
  bool refused_ = false;
  bool busy_ = false;  // the thread is asking for a range taken off ranges_
};

// Asks the pages thread for the pages of n records from `at` on, fresh and
// about to be filled in any order (a hint; `touch` as for PageAhead::ask).
// The arrays of a small module are left to their first touches: a
// hand-over to the thread would cost more than the few traps it saves.
template <class T>
void ask_all(PageAhead& pages, const T* at, std::size_t n, bool touch = false) {
  constexpr std::size_t kAskFrom = std::size_t{1} << 20;  // bytes
  if (n * sizeof(T) < kAskFrom) return;
  char* from = reinterpret_cast<char*>(const_cast<T*>(at));
  pages.ask(from, from + n * sizeof(T), touch);
}

// Takes room for n elements in v and asks the pages thread for it: a table
// of the whole design that this thread fills later then finds its pages
// present, their first touches made on the other core meanwhile.  v must
// keep that room (no shrinking, no growing past it) until pages.wait().
template <class T>
void room_ahead(PageAhead& pages, std::vector<T>& v, std::size_t n) {
  v.reserve(n);
  ask_all(pages, v.data(), n, true);
}

class Arena {
 public:
  Arena() = default;
  explicit Arena(PageAhead* ahead) : ahead_(ahead) {}
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;
  ~Arena();

  void* allocate(std::size_t size, std::size_t align = alignof(std::max_align_t));
  template <class T>
  T* make() {
    return static_cast<T*>(allocate(sizeof(T), alignof(T)));
  }
  const char* strsave(const char* text);
  const char* strsave(const char* text, std::size_t length);
  std::size_t bytes_used() const { return used_; }

 private:
  void prefault(std::size_t size);

  std::vector<std::pair<char*, std::size_t>> blocks_;
  char* cur_ = nullptr;
  std::size_t left_ = 0;
  std::size_t used_ = 0;
  char* ready_ = nullptr;  // the current block's pages before this are asked for
  char* asked_ = nullptr;  // and those before this, ahead
  bool prefault_ = true;
  PageAhead* ahead_ = nullptr;
};

// ---------------------------------------------------------------- run context

// The form of the written result.
enum class OutputForm {
  kHierarchy,  // rebuilt module copies (the default)
  kFlat,       // one flat top module (option -f)
};

// The run's configuration, as the command line gives it.
struct RunOptions {
  std::string top_name;
  std::vector<std::string> opt_dir;   // optimisation directories, in order
  std::vector<std::string> read_dir;  // read-only directories, in order
  std::string write_dir;
  bool has_write_dir = false;
  // Option -a: and, nand, or and nor gates count as reversible, and the
  // reduction also negates gate outputs.
  bool all = false;
  OutputForm form = OutputForm::kHierarchy;
};

// The run options, the run-wide counters and the module list of one
// design.  Passed explicitly to every stage, so that one process can hold
// several designs (tests do).
struct Design {
  // Every record and string of the design lives until the design goes.
  // Nets, terminals and instances each come from an arena of their own:
  // the walks of a large design follow their lists, and records of one
  // kind laid out together, in the order made, share cache lines and
  // pages, where among the other kinds each would wait on memory alone.
  PageAhead page_ahead;
  Arena arena{&page_ahead};  // modules, strings and every other record
  Arena net_arena{&page_ahead};
  Arena link_arena{&page_ahead};
  Arena instance_arena{&page_ahead};
  std::size_t bytes_used() const {
    return arena.bytes_used() + net_arena.bytes_used() + link_arena.bytes_used() +
           instance_arena.bytes_used();
  }
  RunOptions options;

  // counters set while loading
  int first_inv_num = 0;
  int eor_enor_exist = 0;
  int reg_exist = 0;
  // Some Instance::comp was set by a build of connected components (all
  // are null until the first).
  bool comps_marked = false;

  Module* top = nullptr;              // module list, top module first
  // The high- and low- cells that the rebuild made, in the order made; their
  // names may clash with a component that keeps its name.
  std::vector<Instance*> new_constants;

  FILE* log = stderr;                 // every message of the run goes here

  // Progress and report lines, each handed to the system as it is said.
  void say(const char* text) const;
  void sayf(const char* format, ...) const __attribute__((format(printf, 2, 3)));

  int32_t module_count = 0;

  template <class T>
  T* make() {
    if constexpr (std::is_same_v<T, Net>) return net_arena.make<T>();
    else if constexpr (std::is_same_v<T, Link>) return link_arena.make<T>();
    else if constexpr (std::is_same_v<T, Instance>) return instance_arena.make<T>();
    else return arena.make<T>();
  }
  // A new, zeroed Module with its unique id.
  Module* new_module() {
    Module* m = arena.make<Module>();
    m->id = ++module_count;
    return m;
  }
  // How many records of kind T (a net, a terminal or an instance) were
  // ever made: a bound on the length of any list of them.
  template <class T>
  std::size_t made() const {
    if constexpr (std::is_same_v<T, Net>) return net_arena.bytes_used() / sizeof(T);
    else if constexpr (std::is_same_v<T, Link>) return link_arena.bytes_used() / sizeof(T);
    else {
      static_assert(std::is_same_v<T, Instance>);
      return instance_arena.bytes_used() / sizeof(T);
    }
  }
  const char* strsave(const char* text) { return arena.strsave(text); }
  // A name built in a string: its length is known, not counted again.
  const char* strsave(const std::string& text) { return arena.strsave(text.data(), text.size()); }
};

// ---------------------------------------------------------------- net lists

// Prepends l to n's terminals.  Sets l->net.
void net_push_front(Net* n, Link* l);
// Appends l after n's last terminal.  Sets l->net.
void net_push_back(Net* n, Link* l);
// Unlinks l from its net's list (fault, no message, if it is not in it).
// l->next and l->net are left as they were.
void delete_node(Link* l);
// Appends every terminal of `from` after the last terminal of `to`, setting
// their `net` to `to`; `from` is left empty.
void net_append_all(Net* to, Net* from);
// Empties n's list and returns its former head (the chain stays linked
// through `next`; the detached terminals' `prev` fields are stale).
Link* net_detach(Net* n);
// Recomputes `prev` of every terminal and `tail` after `links` was rebuilt
// by hand through `next`.
void net_relink(Net* n);
// True if l is in its net's list.
bool net_contains(const Link* l);

// Module net lists.
void module_push_net_front(Module* m, Net* n);
void module_insert_net_after(Module* m, Net* after, Net* n);  // after == null: front
// Unlinks n from m's nets (fault, no message, if absent).  n->next is left
// as it was.
void delete_net(Net* n, Module* m);
// Empties m's net list and hands each former net to f, in list order,
// owned by no module when f gets it.  Taking each net off as it is handed
// on walks the list once, not twice: on a large design every walk of the
// nets waits on memory.
template <class F>
void module_take_nets(Module* m, F f) {
  Net* n = m->nets;
  m->nets = nullptr;
  while (n) {
    Net* next = n->next;
    n->owner = 0;
    f(n);
    n = next;
  }
}
// What a walk of the nets reads of each net besides the net itself: its
// terminals, or only its driver (hints for terminals a walk never reads
// cost memory traffic, and wait on the first terminal's record).
enum class NetReads { kTerminals, kDriver };
// Asks for the instance of net n's first terminal and for its second
// terminal, n's first terminal asked for earlier.
inline void ask_first_terminals(const Net* n) {
  if (const Link* l = n->links) {
    __builtin_prefetch(l->inst);
    if (l->next) __builtin_prefetch(l->next);
  }
}
// Asks for the instance of net n's terminal number k (from 0) and for the
// terminal after it, the terminals before it asked for earlier.
inline void ask_terminal(const Net* n, int k) {
  const Link* l = n->links;
  for (int i = 0; l && i < k; ++i) l = l->next;
  if (!l) return;
  __builtin_prefetch(l->inst);
  if (l->next) __builtin_prefetch(l->next);
}
// Calls f(j, net_at(j)) for every j below count, in order.  The nets come
// in list order, their records and those of their terminals in any order:
// each net, its driver, its first four terminals and their instances are
// asked for some nets ahead, a terminal further along the chain a few
// nets nearer, each step reading only what an earlier one asked for.  It
// only reads: no decision depends on it.
template <NetReads kReads = NetReads::kTerminals, class NetAt, class F>
void walk_nets_ahead(std::size_t count, NetAt net_at, F f) {
  constexpr bool kLinksToo = kReads == NetReads::kTerminals;
  constexpr std::size_t kNet = 24, kLinks = 16, kInsts = 8, kSecond = 4, kThird = 2;
  for (std::size_t j = 0; j < count; ++j) {
    if (j + kNet < count) __builtin_prefetch(net_at(j + kNet));
    if (j + kLinks < count) {
      const Net* n = net_at(j + kLinks);
      if (kLinksToo && n->links) __builtin_prefetch(n->links);
      if (n->source) __builtin_prefetch(n->source);
    }
    if (j + kInsts < count) {
      const Net* n = net_at(j + kInsts);
      if (kLinksToo) ask_first_terminals(n);
      if (n->source) __builtin_prefetch(n->source->inst);
    }
    if (kLinksToo && j + kSecond < count) ask_terminal(net_at(j + kSecond), 1);
    if (kLinksToo && j + kThird < count) ask_terminal(net_at(j + kThird), 2);
    f(j, net_at(j));
  }
}
// Reads ahead along a net list that its walk may change (a merge that takes
// later nets away): the nets ahead are followed along `next` as it stands
// when they are reached, and only asked for, so a net taken away meanwhile
// costs a wasted hint, never a wrong step (no record is freed before the
// run ends).  step() once per net walked.
class NetListAhead {
 public:
  explicit NetListAhead(const Net* first) : far_(first), near_(first) {
    for (std::size_t k = 0; k < kFar && far_; ++k) far_ = far_->next;
    for (std::size_t k = 0; k < kNear && near_; ++k) near_ = near_->next;
  }
  void step() {
    if (far_ && (far_ = far_->next) && far_->links) __builtin_prefetch(far_->links);
    if (near_ && (near_ = near_->next)) ask_first_terminals(near_);
  }

 private:
  static constexpr std::size_t kFar = 16, kNear = 8;
  const Net* far_;
  const Net* near_;
};
// Calls f(n) for every net in `nets`, reading ahead as walk_nets_ahead does.
template <NetReads kReads = NetReads::kTerminals, class F>
void walk_net_array_ahead(const std::vector<Net*>& nets, F f) {
  walk_nets_ahead<kReads>(nets.size(), [&nets](std::size_t j) { return nets[j]; },
                          [&f](std::size_t, Net* n) { f(n); });
}
// m's nets in list order into `into` (emptied first): an array that a walk
// can read ahead in.  `most`, when given, bounds their number
// (Design::made<Net>() for the top module): room for ten million nets is
// then taken once, its pages touched only as they are filled, instead of
// copied over at every doubling.
inline void module_net_array(const Module* m, std::vector<Net*>& into, std::size_t most = 0) {
  into.clear();
  room_large(into, most);
  for (Net* n = m->nets; n; n = n->next) into.push_back(n);
}
// Calls f(n) for every net of m in list order, reading ahead.  The list is
// gathered into `scratch` first, so f may delete or relink the net it
// gets, but no later one.
template <NetReads kReads = NetReads::kTerminals, class F>
void module_walk_nets_ahead(Module* m, std::vector<Net*>& scratch, F f, std::size_t most = 0) {
  module_net_array(m, scratch, most);
  walk_net_array_ahead<kReads>(scratch, f);
}
// module_take_nets, reading ahead: f may relink the net it gets, but no
// later one.
template <class F>
void module_take_nets_ahead(Module* m, F f, std::size_t most = 0) {
  std::vector<Net*> nets;
  module_net_array(m, nets, most);
  m->nets = nullptr;
  walk_net_array_ahead(nets, [&f](Net* n) {
    n->owner = 0;
    f(n);
  });
}

// Recomputes `prev` and `owner` of m's nets after `nets` was rebuilt by hand.
void module_relink_nets(Module* m);
// The last net of m's list (linear), or null.
Net* module_last_net(const Module* m);
// The first terminal of inst (ring order from inst->link) with this pin
// type, or null.
inline Link* first_terminal_of_type(const Instance* inst, int pin_type) {
  Link* first = inst->link;
  if (!first) return nullptr;
  Link* t = first;
  do {
    if (t->pin_type == pin_type) return t;
    t = t->inst_next;
  } while (t && t != first);
  return nullptr;
}

// True if n is in m's net list.
inline bool module_has_net(const Module* m, const Net* n) {
  return n->owner == m->id && (n->prev != nullptr || m->nets == n);
}

// Consistency of every list of m (prev/tail/owner/net fields); for tests.
bool check_lists(const Module* m);

// ---------------------------------------------------------------- small helpers

// The list walks of the reader: the first pin (component) of the module's
// list whose name equals `name`; null if none.  Linear: for small lists or
// reference use only.
Instance* pin_f(const char* name, const Module* m);
Instance* instance_f(const char* name, const Module* m);

// Path of a module file: dir + "/" + name + "." + ext.
std::string f_name(const std::string& name, const std::string& dir, const char* ext);

inline bool same(const char* a, const char* b) {
  return a != nullptr && b != nullptr && std::strcmp(a, b) == 0;
}

}  // namespace zelk
