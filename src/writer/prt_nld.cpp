// The NLD writer: writes the top module and every rebuilt module copy as
// NLD text, and has the files of modules that stay unchanged copied.
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "netlist/threads.h"
#include "reader/reader.h"
#include "writer/copy.h"
#include "writer/writer.h"

namespace zelk {

namespace {

// The keyword-table word of a pin type or note code; every such code has one.
const char* keyword_word(int code) {
  const char* w = inv_screen(code, kKeywordTable);
  if (!w) fail();
  return w;
}

const char* cell_word(int cls) {
  const char* w = inv_screen(cls, kCellTable);
  if (!w) fail();
  return w;
}

// "\t(def-comp\t<cell>\t<name>)\n" for every instance of one group.
void comp_lines(OutputSet& f, const char* cell, const CompGroup* g) {
  for (const Instance* i = g->first; i; i = i->next) {
    f.put("\t(def-comp\t");
    f.put(cell);
    f.put('\t');
    f.put(i->name);
    f.put(")\n");
  }
}

// Gate lines carry the fan-in: the cell name is the table name, a dash and
// the number.  A gate read without a number is written back without one.
void gate_lines(OutputSet& f, const char* cell, const CompGroup* g) {
  for (const Instance* i = g->first; i; i = i->next) {
    f.put("\t(def-comp\t");
    f.put(cell);
    if (i->fan_in != 0) {
      f.put('-');
      f.put_int(i->fan_in);
    }
    f.put('\t');
    f.put(i->name);
    f.put(")\n");
  }
}

// The component lines of one group; gate groups with their fan-in
// subgroups in ascending fan-in order (explicit stack: trees may be deep).
void comp_print(OutputSet& f, const CompGroup* g) {
  if (!g || !g->first) return;
  int cls = g->first->cls;
  if (is_gate(cls)) {
    const char* cell = cell_word(cls);
    std::vector<const CompGroup*> stack;
    const CompGroup* n = g;
    while (n || !stack.empty()) {
      while (n) {
        stack.push_back(n);
        n = n->smaller;
      }
      n = stack.back();
      stack.pop_back();
      if (n->first) gate_lines(f, cell, n);
      n = n->larger;
    }
  } else if (cls == kUser) {
    // One cell name for the whole group: the module of its first instance.
    const Instance* first = g->first;
    comp_lines(f, first->def ? first->def->name : first->class_name, g);
  } else {
    comp_lines(f, cell_word(cls), g);
  }
}

// "\t(def-net\t<instance>.<pin>\t...)\n" for net n, into an OutputSet or
// a Piece.
template <class Out>
void net_line(Out& f, const Net* n) {
  f.put("\t(def-net");
  for (const Link* t = n->links; t; t = t->next) {
    f.put('\t');
    if (t->inst && t->inst->cls != kPin) {
      f.put(t->inst->name);
      f.put('.');
    }
    f.put(t->pin_name);
  }
  f.put(")\n");
}

// Text made a name at a time.  A name is copied up to its end as it is
// read, not measured first: most names are a few bytes, and the lines of
// a large module hold tens of millions of them.
class Piece {
 public:
  explicit Piece(std::size_t room) : text_(room) {}
  void put(const char* s) {
    if (!s) return;
    for (;;) {
      char* o = text_.data() + used_;
      char* const end = text_.data() + text_.size();
      while (o != end && *s) *o++ = *s++;
      used_ = static_cast<std::size_t>(o - text_.data());
      if (!*s) return;
      grow();
    }
  }
  void put(char c) {
    if (used_ == text_.size()) grow();
    text_[used_++] = c;
  }
  std::vector<char> take() {
    text_.resize(used_);
    return std::move(text_);
  }

 private:
  void grow() { text_.resize(2 * text_.size() + 64); }
  std::vector<char> text_;
  std::size_t used_ = 0;
};

// A module of at least this many nets has its net lines made beside the
// lines before them.
constexpr int kManyNets = 1 << 15;

bool many_nets(const Module* m) {
  int count = 0;
  for (const Net* n = m->nets; n && count < kManyNets; n = n->next) ++count;
  return count == kManyNets;
}

// The net lines of a large module, made by threads of their own while the
// caller writes the lines before them, and handed back in order a piece at
// a time.  A maker takes the next piece, steps along the list over its
// kNets nets (reading only their records) and hands the piece's end on to
// the next maker, then makes the piece's lines (reading every terminal and
// its instance's name: the long part, done by the makers at once).  At
// most kQueued pieces are ahead of the caller, so the memory they take is
// bounded.  Without a thread to be had, the caller makes them.
class NetLines {
 public:
  explicit NetLines(const Net* first) : next_start_(first) {
    if (!first) total_ = 0;
    makers_.reserve(kMakers);  // a thread started is never dropped unjoined
    for (int j = 0; j < kMakers; ++j) {
      try {
        makers_.push_back(start_thread([this] { make(); }));
      } catch (const std::system_error&) {
        break;
      }
    }
  }
  ~NetLines() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    space_.notify_all();
    turn_.notify_all();
    for (std::thread& t : makers_) t.join();
  }
  NetLines(const NetLines&) = delete;
  NetLines& operator=(const NetLines&) = delete;

  // Writes every net line to f, in order.
  void write_to(OutputSet& f) {
    if (makers_.empty()) {
      for (const Net* n = next_start_; n; n = n->next) net_line(f, n);
      return;
    }
    for (std::size_t k = 0;; ++k) {
      std::vector<char> piece;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [&] { return made_[k % kQueued] || k == total_ || fault_; });
        if (fault_) std::rethrow_exception(fault_);
        if (k == total_) return;
        piece = std::move(pieces_[k % kQueued]);
        made_[k % kQueued] = false;
        taken_ = k + 1;
      }
      space_.notify_all();
      f.write(std::move(piece));
    }
  }

 private:
  static constexpr int kMakers = 2;
  static constexpr std::size_t kNets = std::size_t{1} << 13;
  static constexpr std::size_t kQueued = 64;
  static constexpr std::size_t kNone = ~std::size_t{0};

  void make() {
    try {
      for (;;) {
        std::size_t k;
        const Net* from;
        {
          std::unique_lock<std::mutex> lock(mutex_);
          turn_.wait(lock, [&] { return !stepping_ || stopping_; });
          if (stopping_ || total_ != kNone) return;
          k = next_index_++;
          from = next_start_;
          stepping_ = true;
        }
        const Net* to = from;
        for (std::size_t i = 0; i < kNets && to; ++i) to = to->next;
        {
          std::lock_guard<std::mutex> lock(mutex_);
          next_start_ = to;
          if (!to) total_ = k + 1;
          stepping_ = false;
        }
        turn_.notify_all();
        ready_.notify_one();  // the caller may wait for the end
        {
          std::unique_lock<std::mutex> lock(mutex_);
          space_.wait(lock, [&] { return k < taken_ + kQueued || stopping_; });
          if (stopping_) return;
        }
        Piece p(kNets * 80);
        for (const Net* n = from; n != to; n = n->next) net_line(p, n);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          pieces_[k % kQueued] = p.take();
          made_[k % kQueued] = true;
        }
        ready_.notify_one();
      }
    } catch (...) {
      {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!fault_) fault_ = std::current_exception();
        stopping_ = true;
      }
      ready_.notify_one();
      turn_.notify_all();
      space_.notify_all();
    }
  }

  std::vector<std::thread> makers_;
  std::mutex mutex_;
  std::condition_variable ready_;  // a piece, the end or a fault, for the caller
  std::condition_variable space_;  // room for a piece, or the end, for a maker
  std::condition_variable turn_;   // the next piece's start, for a maker
  // Under mutex_.
  const Net* next_start_;           // first net of the next piece to take
  std::size_t next_index_ = 0;      // its number
  bool stepping_ = false;           // a maker is finding the next start
  std::size_t total_ = kNone;       // number of pieces, once the end is found
  std::size_t taken_ = 0;           // pieces the caller took
  std::vector<char> pieces_[kQueued];
  bool made_[kQueued] = {};
  bool stopping_ = false;
  std::exception_ptr fault_;
};

void print_nld2(OutputSet& f, const Module* m, bool is_top) {
  std::unique_ptr<NetLines> beside;
  if (many_nets(m)) beside = std::make_unique<NetLines>(m->nets);
  f.put("(def-module\t");
  f.put(m->name);
  f.put("\n");
  for (const Instance* p = m->pins; p; p = p->next) {
    if (!is_top && p->pin_use == kPinUnconnected) continue;
    f.put("\t(def-pin\t");
    f.put(p->name);
    f.put("\ttype ");
    f.put(keyword_word(p->type));
    if (p->note != 0) {
      f.put("\tnote\t");
      f.put(keyword_word(p->note));
    }
    f.put(")\n");
  }
  f.put("\n");
  for (const CompGroup* g = m->comp_groups; g; g = g->next) comp_print(f, g);
  f.put("\n");
  if (beside) {
    beside->write_to(f);
  } else {
    for (const Net* n = m->nets; n; n = n->next) net_line(f, n);
  }
  f.put(")\n");
}

void write_module(const Design& d, OutputSet& out, const Module* m) {
  std::string path = f_name(m->name ? m->name : "", d.options.write_dir, "nld");
  out.begin(path);
  print_nld2(out, m, m == d.top);
  out.end();
  print_wrote(out, path);
}

}  // namespace

void print_nld(Design& d, OutputSet& out) {
  Module* top = d.top;
  if (!top) return;
  write_module(d, out, top);
  NameList written(top->name);
  if (d.options.form == OutputForm::kHierarchy) {
    for (Module* m = top->next; m; m = m->next) {
      if (m->state == kStateOpen) {
        if (m->inst && m->inst->written == 1) {
          write_module(d, out, m);
          // Rebuilt names are unique; listing them keeps a copy from ever
          // overwriting a file written in this pass.
          written.add(m->name);
        }
      } else if (m->state == kStateFixed) {
        if (!written.write_or_not(m->name)) {
          copy_file2(d, out, m->name, m->state);
          written.add(m->name);
        }
      }
    }
  } else {
    // Flat: only the top is text; the cells and fixed modules it still uses
    // are copied once per cell name, and so is every file a copied fixed
    // module needs below it.
    for (Module* m = top->next; m; m = m->next) {
      const Instance* c = m->inst;
      if (!c || !c->class_name || m->state == kStateOpen) continue;
      bool below_fixed = m->parent && m->parent->state == kStateFixed;
      if (c->written != 1 && !below_fixed) continue;
      if (written.write_or_not(c->class_name)) continue;
      copy_file2(d, out, c->class_name, c->def ? c->def->state : m->state);
      written.add(c->class_name);
    }
  }
}

void write_all(Design& d, void (*pass)(Design&, OutputSet&)) {
  OutputSet out(std::size_t{1} << 20, {}, d.log);
  out.run([&] { pass(d, out); });
  out.commit();
}

void print_nld(Design& d) { write_all(d, print_nld); }

}  // namespace zelk
