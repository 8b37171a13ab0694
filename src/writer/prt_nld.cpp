// The NLD writer: writes the top module and every rebuilt module copy as
// NLD text, and has the files of modules that stay unchanged copied.
#include <condition_variable>
#include <cstdio>
#include <deque>
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

struct Piece {
  std::string text;
  void put(const char* s) {
    if (s) text.append(s);
  }
  void put(char c) { text.push_back(c); }
};

// A module of at least this many nets has its net lines made beside the
// lines before them.
constexpr int kManyNets = 1 << 15;

bool many_nets(const Module* m) {
  int count = 0;
  for (const Net* n = m->nets; n && count < kManyNets; n = n->next) ++count;
  return count == kManyNets;
}

// The net lines of a large module, made on a thread of their own while the
// caller writes the lines before them, and handed back in order a piece at
// a time; at most kQueued pieces wait, so the memory they take is bounded.
// Without a thread to be had, the caller makes them.
class NetLines {
 public:
  explicit NetLines(const Net* first) : first_(first) {
    try {
      thread_ = start_thread([this] { make(); });
    } catch (const std::system_error&) {
    }
  }
  ~NetLines() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      stopping_ = true;
    }
    space_.notify_one();
    if (thread_.joinable()) thread_.join();
  }
  NetLines(const NetLines&) = delete;
  NetLines& operator=(const NetLines&) = delete;

  // Writes every net line to f, in order.
  void write_to(OutputSet& f) {
    if (!thread_.joinable()) {
      for (const Net* n = first_; n; n = n->next) net_line(f, n);
      return;
    }
    for (;;) {
      std::string piece;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        ready_.wait(lock, [this] { return !pieces_.empty() || done_; });
        if (pieces_.empty()) {
          if (fault_) std::rethrow_exception(fault_);
          return;
        }
        piece = std::move(pieces_.front());
        pieces_.pop_front();
      }
      space_.notify_one();
      f.write(piece.data(), piece.size());
    }
  }

 private:
  static constexpr std::size_t kPiece = std::size_t{1} << 20;
  static constexpr std::size_t kQueued = 64;

  void make() {
    std::exception_ptr fault;
    try {
      for (const Net* n = first_; n;) {
        Piece p;
        p.text.reserve(kPiece + (kPiece >> 4));
        for (; n && p.text.size() < kPiece; n = n->next) net_line(p, n);
        std::unique_lock<std::mutex> lock(mutex_);
        space_.wait(lock, [this] { return pieces_.size() < kQueued || stopping_; });
        if (stopping_) return;
        pieces_.push_back(std::move(p.text));
        lock.unlock();
        ready_.notify_one();
      }
    } catch (...) {
      fault = std::current_exception();
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      fault_ = fault;
      done_ = true;
    }
    ready_.notify_one();
  }

  const Net* const first_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable ready_;  // a piece, or the end, for the caller
  std::condition_variable space_;  // room for a piece, or the end, for the thread
  std::deque<std::string> pieces_;
  bool done_ = false;
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
