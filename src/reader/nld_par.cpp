// The parser of NLD and PCD files, the class of a cell name and the pin
// types of the built-in cells.
#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <initializer_list>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "netlist/threads.h"
#include "reader/reader.h"

namespace zelk {

namespace {

// ---------------------------------------------------------------- name tables

const char* key_of(const Instance* i) { return i->name; }
const char* key_of(const char* s) { return s; }

// Open-addressed table of records (or strings) by name.  A slot holds the
// record, whose name is the key, and the name's hash, so that a probe reads
// a record only when the hashes agree.  set() replaces an entry of the same
// name: the last definition wins, as a walk over a prepended list finds it.
template <class T>
class NameTable {
 public:
  NameTable() : slots_(64) {}

  T get(const char* s, std::size_t n) const { return get(s, n, hash_name(s, n)); }
  T get(const char* s, std::size_t n, std::uint64_t h) const {
    std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      const Slot& slot = slots_[i];
      if (slot.value == nullptr) return nullptr;
      if (slot.hash == h && matches(key_of(slot.value), s, n)) return slot.value;
    }
  }

  // Room for about n names before the first is set: a large table is made
  // once instead of by doubling, each step clearing its pages and moving
  // every name.
  void expect(std::size_t n) {
    std::size_t size = slots_.size();
    while (size * 3 < n * 4) size *= 2;
    if (size != slots_.size()) fresh_table(slots_, size);
  }

  void set(T v, std::size_t n) { set(v, n, hash_name(key_of(v), n)); }
  void set(T v, std::size_t n, std::uint64_t h) {
    if (place(v, h, n) && ++count_ * 4 >= slots_.size() * 3) grow();
  }

  // Loads the first slot of a hash (and, in a second round, the record it
  // holds) so that the loads of a batch of names overlap.
  void touch_slot(std::uint64_t h) const { sink_ += slots_[h & (slots_.size() - 1)].hash; }
  void touch_key(std::uint64_t h) const {
    const Slot& slot = slots_[h & (slots_.size() - 1)];
    if (slot.value != nullptr && slot.hash == h) sink_ += static_cast<unsigned char>(*key_of(slot.value));
  }

 private:
  struct Slot {
    T value = nullptr;
    std::uint64_t hash = 0;
  };
  static bool matches(const char* key, const char* s, std::size_t n) {
    return std::memcmp(key, s, n) == 0 && key[n] == '\0';
  }
  // True if v took an empty slot.
  bool place(T v, std::uint64_t h, std::size_t n) {
    std::size_t mask = slots_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (slot.value == nullptr) {
        slot = Slot{v, h};
        return true;
      }
      if (slot.hash == h && matches(key_of(slot.value), key_of(v), n)) {
        slot.value = v;
        return false;
      }
    }
  }
  void grow() {
    std::vector<Slot> old;
    fresh_table(old, slots_.size() * 2);
    old.swap(slots_);
    std::size_t mask = slots_.size() - 1;
    for (const Slot& s : old) {
      if (s.value == nullptr) continue;
      std::size_t i = s.hash & mask;
      while (slots_[i].value != nullptr) i = (i + 1) & mask;
      slots_[i] = s;
    }
  }

  std::vector<Slot> slots_;
  std::size_t count_ = 0;
  mutable std::uint64_t sink_ = 0;
};

// ---------------------------------------------------------------- parser

// Component names are entered into the table, and "instance . pin" members
// looked up, in batches: a design of a million cells spreads its table over
// far more memory than the caches hold, and a batch lets the misses overlap.
// Everything stays in file order: a batch of lookups is resolved before the
// next def-comp form enters names, entries are made before lookups are
// resolved, and a fault found while a batch waits resolves the batch first,
// so the first fault in file order is the one reported.
//
// In a large file the lookups are made on a thread of their own while the
// parser reads on: batches are handed over in file order and resolved in
// that order, a def-comp form waits until every batch before it is
// resolved (the table is then the parser's alone), and the thread's first
// fault comes before any the parser meets later in the file.
class Parser {
 public:
  Parser(Design& d, Source& in, const std::string& file_name, bool pcd)
      : d_(d), lx_(file_name, in), pcd_(pcd) {
    new_comps_.reserve(kBatch);
    members_.reserve(kBatch);
    comps_.expect(in.size_hint() / kFileBytesPerComp);
  }
  ~Parser() { stop_resolver(); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;
  Module* run();

 private:
  static constexpr std::size_t kBatch = 32;
  static constexpr std::size_t kFilterWords = 1024;
  // Members looked up here before the thread is started, and handed to it
  // at a time once it is.
  static constexpr std::size_t kThreadFrom = std::size_t{1} << 15;
  static constexpr std::size_t kHandOver = 2048;
  // A component takes at least this many bytes of a file, as a rule: its
  // name in a def-comp form and its terminals in the def-net forms (the
  // shipped circuits and the generated designs take 48 to 130).
  static constexpr std::size_t kFileBytesPerComp = 64;

  struct NewComp {
    Instance* inst;
    std::size_t len;
    std::uint64_t hash;
  };
  // An "instance . pin" member whose instance is not looked up yet.
  struct Member {
    Link* link;
    const char* pin_name;
    std::size_t name_at;  // instance name in member_names_
    std::size_t name_len;
    std::uint64_t hash;
    int line;  // where the lookup stands in the file
  };

  Module* parse();
  bool name_token() { return lx_.lex() == kTokName; }
  // The keyword of the name just read, which opens a form.  A large
  // module's forms come in long runs of one kind: the last one screened is
  // tried first.
  int form_keyword() {
    if (lx_.len != last_form_.size() || std::memcmp(lx_.buf, last_form_.data(), lx_.len) != 0) {
      last_form_.assign(lx_.buf, lx_.len);
      last_form_code_ = screen(lx_.buf, kKeywordTable);
    }
    return last_form_code_;
  }
  void def_pin(Module* m, int file_kind);
  void def_comp(Module* m);
  void def_net(Module* m);
  int pin_type_note();
  void paren_count();
  int read_digit();
  const char* intern_pin_name();
  void enter_comps();
  void resolve_members();
  // resolve_members(), then waits until every member handed over is
  // resolved; throws the first fault found among them.
  void settle_members();
  void resolve(const std::vector<Member>& batch, const std::string& names);
  int pin_type(const Member& mb, const Instance* c) const;
  void start_resolver();
  void stop_resolver();
  void resolver_loop();

  Design& d_;
  Lexer lx_;
  bool pcd_;
  int paren_ = 1;
  int16_t fan_in_ = 0;
  std::string last_form_;  // the name form_keyword() screened last, and its code
  int last_form_code_ = 0;
  NameTable<Instance*> pins_;
  // One bit per hash of a pin name: most members are no pin, and the bits
  // answer that from a few cache lines instead of a table probe each.
  std::vector<std::uint64_t> pin_filter_ = std::vector<std::uint64_t>(kFilterWords);
  NameTable<Instance*> comps_;
  NameTable<const char*> pin_names_;  // pin names of instance terminals, shared
  std::vector<NewComp> new_comps_;
  std::vector<Member> members_;
  std::string member_names_;
  std::size_t batch_limit_ = kBatch;  // members gathered before a resolve
  std::size_t resolved_ = 0;          // members looked up here
  bool thread_tried_ = false;

  // The resolving thread, once started; shared with it under mutex_.
  struct Batch {
    std::vector<Member> members;
    std::string names;
  };
  std::thread resolver_;
  std::mutex mutex_;
  std::condition_variable wake_;  // a batch, or the end, for the thread
  std::condition_variable idle_;  // the thread resolved all it was given
  std::deque<Batch> queue_;
  bool busy_ = false;
  bool stopping_ = false;
  std::exception_ptr fault_;  // the first of the thread's
};

Module* Parser::run() {
  try {
    Module* m = parse();
    settle_members();
    return m;
  } catch (const Fault&) {
    settle_members();  // an earlier member's fault comes first
    throw;
  }
}

Module* Parser::parse() {
  if (lx_.lex() != kTokOpen) lx_.error();
  if (!name_token() || screen(lx_.buf, kKeywordTable) != kwDefModule) lx_.error();
  Module* m = d_.new_module();
  if (!name_token()) lx_.error();
  m->name = d_.arena.strsave(lx_.buf, lx_.len);

  for (;;) {
    int t = lx_.lex();
    if (t == kTokEof) return m;
    if (paren_ == 0) lx_.error();
    if (pcd_) {
      // Cell attributes directly inside def-module: read and dropped.
      while (t == kTokName) {
        int k = screen(lx_.buf, kKeywordTable);
        if (k == kwArea || k == kwGates || k == kwPower) {
          t = read_digit();
        } else if (k == kwCellName) {
          if (!name_token()) fail();
          t = lx_.lex();
        } else {
          break;
        }
      }
      if (t == kTokEof) return m;
    }
    if (t == kTokClose) {
      --paren_;
    } else if (t == kTokOpen) {
      ++paren_;
      if (!name_token()) lx_.error();
      int k = form_keyword();
      if (k == kwDefModule) lx_.error();
      if (k == kwDefPin) def_pin(m, pcd_ ? kFilePcd : kFileNld);
      else if (k == kwDefComp && !pcd_) def_comp(m);
      else if (k == kwDefNet && !pcd_) def_net(m);
      else paren_count();
    } else {
      lx_.error();
    }
  }
}

void Parser::def_pin(Module* m, int file_kind) {
  if (!name_token()) lx_.error();
  Instance* pin = d_.make<Instance>();
  pin->cls = kPin;
  pin->name = d_.arena.strsave(lx_.buf, lx_.len);
  pin->module = m;
  pin->next = m->pins;
  m->pins = pin;
  std::uint64_t h = hash_name(lx_.buf, lx_.len);
  pins_.set(pin, lx_.len, h);
  pin_filter_[h >> 6 & (kFilterWords - 1)] |= std::uint64_t{1} << (h & 63);

  bool typed = false;
  int t = lx_.lex();
  for (;;) {
    if (t == kTokClose) {
      --paren_;
      if (!typed) lx_.stop("pin \"" + std::string(pin->name) + "\" has no type", lx_.lineno);
      return;
    }
    if (t != kTokName) lx_.error();
    switch (screen(lx_.buf, kKeywordTable)) {
      case kwType:
        if (typed) lx_.stop("pin \"" + std::string(pin->name) + "\" has two types", lx_.lineno);
        typed = true;
        pin->type = static_cast<int16_t>(pin_type_note());
        t = lx_.lex();
        break;
      case kwNote:
        pin->note = static_cast<int16_t>(pin_type_note());
        t = lx_.lex();
        break;
      case kwLoad:
        if (file_kind == kFileNld) lx_.error();
        t = read_digit();
        break;
      default:
        lx_.error();
    }
  }
}

int Parser::pin_type_note() {
  if (!name_token()) lx_.error();
  int k = screen(lx_.buf, kKeywordTable);
  if (k == kUser) lx_.error();
  return k;
}

void Parser::def_comp(Module* m) {
  settle_members();  // members read so far must not see these instances
  if (!name_token()) lx_.error();
  int cls = kUser;
  try {
    cls = class_f(lx_.buf, kCellTable, &fan_in_);
  } catch (const Fault&) {
    lx_.stop("cell \"" + std::string(lx_.buf, lx_.len) + "\" has a fan-in number it does not allow", lx_.lineno);
  }
  if (cls == kEor || cls == kEnor) d_.eor_enor_exist = 1;
  if (is_register(cls)) d_.reg_exist = 1;
  // One copy of a user module's name serves every instance of the form.
  const char* class_name = cls == kUser ? d_.arena.strsave(lx_.buf, lx_.len) : nullptr;
  for (;;) {
    int t = lx_.lex();
    if (t == kTokClose) {
      --paren_;
      return;
    }
    if (t != kTokName) lx_.error();
    Instance* c = d_.make<Instance>();
    c->cls = static_cast<int16_t>(cls);
    c->class_name = class_name;
    c->fan_in = fan_in_;
    c->name = d_.arena.strsave(lx_.buf, lx_.len);
    c->module = m;
    c->next = m->comps;
    m->comps = c;
    new_comps_.push_back(NewComp{c, lx_.len, hash_name(lx_.buf, lx_.len)});
    if (new_comps_.size() == kBatch) enter_comps();
  }
}

void Parser::enter_comps() {
  for (const NewComp& c : new_comps_) comps_.touch_slot(c.hash);
  for (const NewComp& c : new_comps_) comps_.set(c.inst, c.len, c.hash);
  new_comps_.clear();
}

const char* Parser::intern_pin_name() {
  const char* s = pin_names_.get(lx_.buf, lx_.len);
  if (s == nullptr) {
    s = d_.arena.strsave(lx_.buf, lx_.len);
    pin_names_.set(s, lx_.len);
  }
  return s;
}

void Parser::def_net(Module* m) {
  Net* net = d_.make<Net>();
  module_push_net_front(m, net);
  for (;;) {
    int t = lx_.lex();
    if (t == kTokClose) {
      --paren_;
      return;
    }
    if (t != kTokName) lx_.error();
    Link* l = d_.make<Link>();
    net_push_front(net, l);
    l->pin_type = 0;
    std::uint64_t h = hash_name(lx_.buf, lx_.len);
    Instance* pin = nullptr;
    if (pin_filter_[h >> 6 & (kFilterWords - 1)] >> (h & 63) & 1) pin = pins_.get(lx_.buf, lx_.len, h);
    if (pin != nullptr) {
      l->inst = pin;
      l->inst_next = l;  // a module pin's terminal is a ring of its own
      if (pin->link) m->pin_named_again = true;
      pin->link = l;
      l->pin_name = pin->name;
      l->pin_type = pin->type;
      continue;
    }
    // INSTANCE "." PIN
    if (members_.empty()) member_names_.clear();
    Member mb{l, nullptr, member_names_.size(), lx_.len, h, 0};
    member_names_.append(lx_.buf, lx_.len);
    if (lx_.lex() != kTokDot) lx_.error();
    if (!name_token()) lx_.error();
    mb.pin_name = intern_pin_name();
    mb.line = lx_.lineno;
    members_.push_back(mb);
    if (members_.size() == batch_limit_) resolve_members();
  }
}

void Parser::resolve_members() {
  enter_comps();
  if (members_.empty()) return;
  if (!thread_tried_ && resolved_ + members_.size() >= kThreadFrom) start_resolver();
  std::vector<Member> batch;
  std::string names;
  batch.swap(members_);  // a fault below leaves nothing waiting
  names.swap(member_names_);
  members_.reserve(batch_limit_);
  if (resolver_.joinable()) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fault_) std::rethrow_exception(fault_);  // no use reading on
    queue_.push_back(Batch{std::move(batch), std::move(names)});
    wake_.notify_one();
    return;
  }
  resolved_ += batch.size();
  resolve(batch, names);
  // The same storage serves the next batch.
  members_.swap(batch);
  members_.clear();
  member_names_.swap(names);
  member_names_.clear();
}

void Parser::settle_members() {
  resolve_members();
  if (!resolver_.joinable()) return;
  std::unique_lock<std::mutex> lock(mutex_);
  idle_.wait(lock, [this] { return queue_.empty() && !busy_; });
  if (fault_) std::rethrow_exception(fault_);
}

// Looks the members' instances up, by slots and keys of many at once, and
// rings each component's terminals as they come in file order: each joins
// the ring right after the one before it, and the component's `link` is its
// last.  (So the ring runs from the last terminal through the others in
// file order.)
void Parser::resolve(const std::vector<Member>& batch, const std::string& names) {
  Instance* found[kBatch];
  for (std::size_t at = 0; at < batch.size(); at += kBatch) {
    const std::size_t end = std::min(batch.size(), at + kBatch);
    for (std::size_t k = at; k < end; ++k) comps_.touch_slot(batch[k].hash);
    for (std::size_t k = at; k < end; ++k) comps_.touch_key(batch[k].hash);
    for (std::size_t k = at; k < end; ++k) {
      const Member& mb = batch[k];
      const char* name = names.data() + mb.name_at;
      Instance* c = comps_.get(name, mb.name_len, mb.hash);
      if (c == nullptr) lx_.fault(std::string(name, mb.name_len) + " undefined", mb.line);
      if (c->link) __builtin_prefetch(c->link);  // joined below, anywhere in memory
      found[k - at] = c;
    }
    for (std::size_t k = at; k < end; ++k) {
      const Member& mb = batch[k];
      Instance* c = found[k - at];
      Link* l = mb.link;
      l->pin_type = static_cast<int16_t>(pin_type(mb, c));
      l->inst = c;
      l->pin_name = mb.pin_name;
      if (Link* before = c->link) {
        l->inst_next = before->inst_next;
        before->inst_next = l;
      } else {
        l->inst_next = l;
      }
      c->link = l;
    }
  }
}

// Without a thread to be had, the members are looked up here, as in a
// small file.
void Parser::start_resolver() {
  thread_tried_ = true;  // once: a system that gave none is not asked again
  try {
    resolver_ = start_thread([this] { resolver_loop(); });
  } catch (const std::system_error&) {
    return;
  }
  batch_limit_ = kHandOver;
}

void Parser::stop_resolver() {
  if (!resolver_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_one();
  resolver_.join();
}

// A pin the cell does not have stops the run without a message; why it
// stopped names the terminal and the line of its net.
int Parser::pin_type(const Member& mb, const Instance* c) const {
  try {
    return pin_type_f(mb.pin_name, c->cls);
  } catch (const Fault&) {
    const char* prefix = inv_screen(c->cls, kCellTable);
    std::string cell = prefix ? prefix : "";
    if (c->fan_in) cell += "-" + std::to_string(c->fan_in);
    lx_.stop("cell \"" + cell + "\" of \"" + c->name + "\" has no pin \"" + mb.pin_name + "\"", mb.line);
  }
}

// Resolves the batches in the order given; after a fault, only takes them.
void Parser::resolver_loop() {
  for (;;) {
    Batch b;
    bool failed;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      wake_.wait(lock, [this] { return !queue_.empty() || stopping_; });
      if (queue_.empty()) return;
      b = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
      failed = fault_ != nullptr;
    }
    std::exception_ptr fault;
    if (!failed) {
      try {
        resolve(b.members, b.names);
      } catch (...) {
        fault = std::current_exception();
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (fault) fault_ = fault;
      busy_ = false;
    }
    idle_.notify_all();
  }
}

// Skips the rest of a form whose "(" is already counted.
void Parser::paren_count() {
  int target = paren_ - 1;
  for (;;) {
    int t = lx_.lex();
    if (t == kTokEof) lx_.fault("too many )'s");
    if (t == kTokOpen) ++paren_;
    else if (t == kTokClose) --paren_;
    if (paren_ == target) return;
  }
}

// Reads a NUMBER (12, 3.5, .5; the parts need not be digits) and returns
// the token after it.
int Parser::read_digit() {
  int t = lx_.lex();
  if (t == kTokOpen || t == kTokClose || t == kTokEof) fail();
  if (t == kTokName) {
    t = lx_.lex();
    if (t != kTokDot) return t;
  }
  if (!name_token()) fail();
  return lx_.lex();
}

}  // namespace

Module* nld_par(Design& d, Source& in, const std::string& file_name) {
  return Parser(d, in, file_name, false).run();
}

Module* pcd_par(Design& d, Source& in, const std::string& file_name) {
  return Parser(d, in, file_name, true).run();
}

// ---------------------------------------------------------------- classes

int class_f(const char* name, int selector, int16_t* fan_in) {
  *fan_in = 0;
  int code = screen(name, selector);
  if (code != kUser) return code;

  // "<prefix>-" "-" digits: the prefix with its "-" names the table row.
  const char* dash = std::strchr(name, '-');
  if (dash == nullptr || dash[1] != '-') return kUser;
  const char* digits = dash + 2;
  for (const char* p = digits; *p; ++p)
    if (*p < '0' || *p > '9') return kUser;
  // The number is kept modulo 2^16 in the signed 16-bit field, and tested
  // as stored.
  std::uint16_t v = 0;
  for (const char* p = digits; *p; ++p) v = static_cast<std::uint16_t>(v * 10 + (*p - '0'));
  int16_t n = static_cast<int16_t>(v);
  *fan_in = n;

  code = screen(std::string(name, static_cast<std::size_t>(digits - 1 - name)).c_str(), selector);
  switch (code) {
    case kAnd:
    case kNand:
    case kOr:
    case kNor:
      if (n < 2) fail();
      break;
    case kEor:
    case kEnor:
      if (n != 2) fail();
      break;
    case kAoi:
    case kOai:
      if (n != 21 && n != 22 && n != 31 && n != 32 && n != 33 && n != 211 && n != 221 &&
          n != 222)
        fail();
      break;
    default:
      break;
  }
  return code;
}

// ---------------------------------------------------------------- pin types

namespace {

bool one_of(const char* name, std::initializer_list<const char*> names) {
  for (const char* s : names)
    if (std::strcmp(name, s) == 0) return true;
  return false;
}

// Input and output pin names of a cell with fixed pins; anything else stops.
int fixed_pins(const char* name, std::initializer_list<const char*> inputs,
               std::initializer_list<const char*> outputs) {
  if (one_of(name, inputs)) return kwInput;
  if (one_of(name, outputs)) return kwOutput;
  fail();
}

}  // namespace

int pin_type_f(const char* pin_name, int cls) {
  switch (cls) {
    case kUser:
      return kUser;
    case kInv:
      return fixed_pins(pin_name, {"in"}, {"nout"});
    case kNinv:
      return fixed_pins(pin_name, {"in"}, {"out"});
    case kAnd:
    case kOr:
      return std::strcmp(pin_name, "out") == 0 ? kwOutput : kwInput;
    case kNand:
    case kNor:
    case kAoi:
    case kOai:
      return std::strcmp(pin_name, "nout") == 0 ? kwOutput : kwInput;
    case kEor:
      return fixed_pins(pin_name, {"in1", "in2"}, {"out"});
    case kEnor:
      return fixed_pins(pin_name, {"in1", "in2"}, {"nout"});
    case kReg1:
    case kRegr1:
    case kRegs1:
    case kRegSR:
      return fixed_pins(pin_name, {"in", "clk_enb", "m_clock", "s_clock", "p_reset"},
                        {"out", "nout"});
    case kRegSet:
      return fixed_pins(pin_name, {"set", "reset", "m_clock", "s_clock", "p_reset"},
                        {"out", "nout"});
    case kSreg1:
    case kSrgr1:
    case kSrgs1:
    case kSregSR:
      return fixed_pins(pin_name,
                        {"in", "scan_in", "clk_enb", "scan_enb", "m_clock", "s_clock",
                         "scan_clock", "p_reset"},
                        {"out", "nout", "scan_out"});
    case kSregSet:
      return fixed_pins(pin_name,
                        {"set", "reset", "scan_in", "scan_enb", "m_clock", "s_clock",
                         "scan_clock", "p_reset"},
                        {"out", "nout", "scan_out"});
    case kHigh:
      return fixed_pins(pin_name, {}, {"out"});
    case kLow:
      return fixed_pins(pin_name, {}, {"nout"});
    case kTsBuf:
      if (std::strcmp(pin_name, "out") == 0) return kwTristate;
      return fixed_pins(pin_name, {"in", "nenb"}, {});
    case kBgate:
      return fixed_pins(pin_name, {"enb", "clock"}, {"nout"});
    default:
      fail();  // module pins and unknown codes have no cell pins
  }
}

}  // namespace zelk
