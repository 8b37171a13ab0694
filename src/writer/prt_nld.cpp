// The NLD writer: writes the top module and every rebuilt module copy as
// NLD text, and has the files of modules that stay unchanged copied.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "reader/reader.h"
#include "writer/copy.h"
#include "writer/writer.h"

namespace zelk {

namespace {

constexpr std::size_t kWriteBuffer = 1 << 20;

// One output file: opened for writing through a large buffer (shared by
// the files of one pass, which are open one at a time), closed on every way
// out (a fault thrown mid-file included).
class OutFile {
 public:
  OutFile(const std::string& path, std::vector<char>& buffer) {
    file_ = std::fopen(path.c_str(), "w");
    if (file_) std::setvbuf(file_, buffer.data(), _IOFBF, buffer.size());
  }
  ~OutFile() { close(); }
  OutFile(const OutFile&) = delete;
  OutFile& operator=(const OutFile&) = delete;
  FILE* get() const { return file_; }
  void close() {
    if (file_) std::fclose(file_);
    file_ = nullptr;
  }

 private:
  FILE* file_ = nullptr;
};

void put(FILE* f, const char* s) { std::fputs(s ? s : "", f); }

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
void comp_lines(FILE* f, const char* cell, const CompGroup* g) {
  for (const Instance* i = g->first; i; i = i->next) {
    put(f, "\t(def-comp\t");
    put(f, cell);
    std::fputc('\t', f);
    put(f, i->name);
    put(f, ")\n");
  }
}

// Gate lines carry the fan-in: the cell name is the table name, a dash and
// the number.  A gate read without a number is written back without one.
void gate_lines(FILE* f, const char* cell, const CompGroup* g) {
  for (const Instance* i = g->first; i; i = i->next) {
    put(f, "\t(def-comp\t");
    put(f, cell);
    if (i->fan_in != 0) std::fprintf(f, "-%d", static_cast<int>(i->fan_in));
    std::fputc('\t', f);
    put(f, i->name);
    put(f, ")\n");
  }
}

// The component lines of one group; gate groups with their fan-in
// subgroups in ascending fan-in order (explicit stack: trees may be deep).
void comp_print(FILE* f, const CompGroup* g) {
  if (!g || !g->first) return;
  int cls = g->first->cls;
  if (cls >= kAnd && cls <= kOai) {
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

void print_nld2(FILE* f, const Module* m, bool is_top) {
  put(f, "(def-module\t");
  put(f, m->name);
  put(f, "\n");
  for (const Instance* p = m->pins; p; p = p->next) {
    if (!is_top && p->pin_use == kPinUnconnected) continue;
    put(f, "\t(def-pin\t");
    put(f, p->name);
    put(f, "\ttype ");
    put(f, keyword_word(p->type));
    if (p->note != 0) {
      put(f, "\tnote\t");
      put(f, keyword_word(p->note));
    }
    put(f, ")\n");
  }
  put(f, "\n");
  for (const CompGroup* g = m->comp_groups; g; g = g->next) comp_print(f, g);
  put(f, "\n");
  for (const Net* n = m->nets; n; n = n->next) {
    put(f, "\t(def-net");
    for (const Link* t = n->links; t; t = t->next) {
      std::fputc('\t', f);
      if (t->inst && t->inst->cls != kPin) {
        put(f, t->inst->name);
        std::fputc('.', f);
      }
      put(f, t->pin_name);
    }
    put(f, ")\n");
  }
  put(f, ")\n");
}

void write_module(const Design& d, const Module* m, std::vector<char>& buffer) {
  std::string path = f_name(m->name ? m->name : "", d.write_dir, "nld");
  OutFile out(path, buffer);
  if (!out.get()) print_could_not_open(path);
  print_nld2(out.get(), m, m == d.top);
  out.close();
  print_wrote(d, path);
}

}  // namespace

void print_nld(Design& d) {
  Module* top = d.top;
  if (!top) return;
  std::vector<char> buffer(kWriteBuffer);
  write_module(d, top, buffer);
  NameList written(top->name);
  if (d.h_or_f == 4) {
    for (Module* m = top->next; m; m = m->next) {
      if (m->state == kStateOpen) {
        if (m->inst && m->inst->written == 1) {
          write_module(d, m, buffer);
          // Rebuilt names are unique; listing them keeps a copy from ever
          // overwriting a file written in this pass.
          written.add(m->name);
        }
      } else if (m->state == kStateFixed) {
        if (!written.write_or_not(m->name)) {
          copy_file2(d, m->name, m->state);
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
      copy_file2(d, c->class_name, c->def ? c->def->state : m->state);
      written.add(c->class_name);
    }
  }
}

}  // namespace zelk
