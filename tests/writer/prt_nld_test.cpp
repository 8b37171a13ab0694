#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "rebuild/naming.h"
#include "support/fixture.h"
#include "writer/writer.h"

namespace zelk {
namespace {

using test::TempDir;
using test::read_file;
using test::list_dir;

// Captures a design's messages.
class Log {
 public:
  explicit Log(Design& d) : file_(std::tmpfile()) { d.log = file_; }
  ~Log() { std::fclose(file_); }
  std::string text() const {
    std::fflush(file_);
    std::string s;
    std::rewind(file_);
    int c;
    while ((c = std::fgetc(file_)) != EOF) s.push_back(static_cast<char>(c));
    return s;
  }

 private:
  FILE* file_;
};

// Hand-built designs; list items are appended in the order they are made.
struct Builder {
  Design d;
  Module* last = nullptr;

  Module* add_module(const char* name, int16_t state, Module* parent, Instance* inst) {
    Module* m = d.new_module();
    m->name = d.strsave(name);
    m->state = state;
    m->parent = parent;
    m->inst = inst;
    if (inst) {
      inst->def = m;
      m->inst_name = inst->name;
    }
    if (!d.top) d.top = m;
    else last->next = m;
    last = m;
    return m;
  }
  static void append(Instance*& head, Instance* i) {
    Instance** p = &head;
    while (*p) p = &(*p)->next;
    *p = i;
  }
  Instance* comp(Module* m, int16_t cls, const char* name, int16_t fan_in = 0) {
    Instance* i = d.make<Instance>();
    i->cls = cls;
    i->fan_in = fan_in;
    i->use = 1;
    i->name = d.strsave(name);
    i->module = m;
    if (m) append(m->comps, i);
    return i;
  }
  // An instance of a user module or cell in m, with the module copy it makes.
  Module* sub(Module* m, const char* cell, const char* name, int16_t state, int16_t use = 1) {
    Instance* i = comp(m, kUser, name);
    i->use = use;
    i->class_name = d.strsave(cell);
    return add_module(cell, state, m, i);
  }
  Instance* pin(Module* m, const char* name, int16_t type, int16_t use = 1, int16_t note = 0) {
    Instance* p = d.make<Instance>();
    p->cls = kPin;
    p->type = type;
    p->note = note;
    p->use = use;
    p->name = d.strsave(name);
    p->module = m;
    append(m->pins, p);
    return p;
  }
  Net* net(Module* m) {
    Net* n = d.make<Net>();
    n->type = kNetSignal;
    module_insert_net_after(m, module_last_net(m), n);
    return n;
  }
  void term(Net* n, Instance* i, const char* pin) {
    Link* l = d.make<Link>();
    l->inst = i;
    l->pin_name = i->cls == kPin ? i->name : d.strsave(pin);
    net_push_back(n, l);
  }
};

TEST(PrtNld, HierarchicalTextAndFiles) {
  TempDir dir;
  std::string opt = dir.mkdir("opt");
  std::string out = dir.mkdir("out");
  dir.write("opt/ram.nld", "(def-module ram)\n; kept as is\n");
  dir.write("opt/cellx.pcd", "(def-module cellx (def-pin a type input))\n");

  Builder b;
  b.d.opt_dir.push_back(opt);
  b.d.write_dir = out;
  Module* top = b.add_module("top", kStateOpen, nullptr, nullptr);
  top->inst_name = top->name;
  Instance* pb = b.pin(top, "b", kwOutput, 1, kwClock);
  b.pin(top, "a", kwInput, 0);  // the top module writes every pin
  Instance* n1 = b.comp(top, kNand, "n1", 2);
  b.comp(top, kNand, "n2", 3);
  b.comp(top, kAnd, "g0", 0);  // read without a fan-in number
  b.comp(top, kInv, "i1");
  b.comp(top, kReg1, "r1");
  b.sub(top, "ram", "x", kStateFixed);
  Module* s = b.sub(top, "sub", "u", kStateOpen);
  b.sub(top, "ram", "y", kStateFixed);
  b.comp(top, kNand, "n3", 2);
  Module* e = b.sub(top, "e", "ue", kStateOpen);
  b.sub(top, "dead", "ud", kStateOpen, 0);
  b.sub(s, "ram", "z", kStateFixed);
  b.sub(s, "cellx", "c1", kStateCell);
  b.pin(s, "p0", kwInput, 0);
  b.pin(s, "p1", kwInput, 2);
  b.pin(s, "p2", kwOutputConnected, 1);
  s->name = "sub-1";
  Net* net1 = b.net(top);
  b.term(net1, pb, nullptr);
  b.term(net1, n1, "out");
  b.net(top);  // no terminals
  make_comp(b.d, top);
  make_comp(b.d, s);
  make_comp(b.d, e);

  Log log(b.d);
  print_nld(b.d);
  EXPECT_EQ(read_file(out + "/top.nld"),
            "(def-module\ttop\n"
            "\t(def-pin\tb\ttype output\tnote\tclock)\n"
            "\t(def-pin\ta\ttype input)\n"
            "\n"
            "\t(def-comp\te\tue)\n"
            "\t(def-comp\tsub-1\tu)\n"
            "\t(def-comp\tram\ty)\n"
            "\t(def-comp\tram\tx)\n"
            "\t(def-comp\treg-1\tr1)\n"
            "\t(def-comp\tinv-\ti1)\n"
            "\t(def-comp\tand-\tg0)\n"
            "\t(def-comp\tnand--2\tn1)\n"
            "\t(def-comp\tnand--2\tn3)\n"
            "\t(def-comp\tnand--3\tn2)\n"
            "\n"
            "\t(def-net\tb\tn1.out)\n"
            "\t(def-net)\n"
            ")\n");
  EXPECT_EQ(read_file(out + "/sub-1.nld"),
            "(def-module\tsub-1\n"
            "\t(def-pin\tp1\ttype input)\n"
            "\t(def-pin\tp2\ttype output-connected)\n"
            "\n"
            "\t(def-comp\tcellx\tc1)\n"
            "\t(def-comp\tram\tz)\n"
            "\n"
            ")\n");
  EXPECT_EQ(read_file(out + "/e.nld"), "(def-module\te\n\n\n)\n");
  EXPECT_EQ(read_file(out + "/ram.nld"), "(def-module ram)\n; kept as is\n");
  EXPECT_EQ(list_dir(out), (std::vector<std::string>{"e.nld", "ram.nld", "sub-1.nld", "top.nld"}));
  EXPECT_EQ(log.text(), "\tWrote " + out + "/top.nld\n" +
                            "\tWrote " + out + "/ram.nld\n" +
                            "\tWrote " + out + "/sub-1.nld\n" +
                            "\tWrote " + out + "/e.nld\n");
}

TEST(PrtNld, GroupLinesFollowTheWrittenCellName) {
  TempDir dir;
  Builder b;
  b.d.write_dir = dir.path();
  Module* top = b.add_module("t", kStateOpen, nullptr, nullptr);
  top->inst_name = top->name;
  // The constant cell keeps its bare table name, the gates with fan-in
  // subgroups below and above come in ascending order.
  b.comp(top, kOai, "o3", 3);
  b.comp(top, kOai, "o1", 21);
  b.comp(top, kOai, "o2", 2);
  b.comp(top, kHigh, "high-");
  b.comp(top, kEor, "x1", 2);
  b.comp(top, kEor, "x2", 0);
  make_comp(b.d, top);
  Log log(b.d);
  print_nld(b.d);
  EXPECT_EQ(read_file(dir / "t.nld"),
            "(def-module\tt\n"
            "\n"
            "\t(def-comp\teor-\tx2)\n"
            "\t(def-comp\teor--2\tx1)\n"
            "\t(def-comp\thigh-\thigh-)\n"
            "\t(def-comp\toai--2\to2)\n"
            "\t(def-comp\toai--3\to3)\n"
            "\t(def-comp\toai--21\to1)\n"
            "\n"
            ")\n");
}

TEST(PrtNld, FlatCopiesCellsAndFilesBelowFixedModulesOnce) {
  TempDir dir;
  std::string opt = dir.mkdir("opt");
  std::string ro = dir.mkdir("ro");
  std::string out = dir.mkdir("out");
  dir.write("opt/cellx.pcd", "(def-module cellx)\n");
  dir.write("opt/celly.pcd", "(def-module celly)\n");
  dir.write("ro/ram.nld", "(def-module ram (def-comp leaf l))\n");
  dir.write("ro/leaf.nld", "(def-module leaf)\n");

  Builder b;
  b.d.opt_dir.push_back(opt);
  b.d.read_dir.push_back(ro);
  b.d.write_dir = out;
  b.d.h_or_f = 3;
  Module* top = b.add_module("top", kStateOpen, nullptr, nullptr);
  top->inst_name = top->name;
  Module* s = b.sub(top, "sub", "u", kStateOpen);
  Module* r1 = b.sub(top, "ram", "r1", kStateFixed);
  b.sub(top, "ram", "r2", kStateFixed);
  b.sub(s, "cellx", "c1", kStateCell);
  b.sub(s, "cellx", "c2", kStateCell);
  b.sub(s, "celly", "c3", kStateCell, 0);    // dropped cell: not copied
  b.sub(r1, "leaf", "l", kStateFixed, 0);    // below a fixed module: copied
  make_comp(b.d, top);
  Log log(b.d);
  print_nld(b.d);
  EXPECT_EQ(list_dir(out),
            (std::vector<std::string>{"cellx.pcd", "leaf.nld", "ram.nld", "top.nld"}));
  EXPECT_EQ(read_file(out + "/leaf.nld"), "(def-module leaf)\n");
  EXPECT_EQ(log.text(), "\tWrote " + out + "/top.nld\n" +
                            "\tWrote " + out + "/ram.nld\n" +
                            "\tWrote " + out + "/cellx.pcd\n" +
                            "\tWrote " + out + "/leaf.nld\n");
}

TEST(PrtNld, Faults) {
  TempDir dir;
  {
    // A write directory that does not exist is not made.
    Builder b;
    b.d.write_dir = dir / "missing";
    Module* top = b.add_module("top", kStateOpen, nullptr, nullptr);
    top->inst_name = top->name;
    Log log(b.d);
    try {
      print_nld(b.d);
      ADD_FAILURE() << "no fault";
    } catch (const Fault& f) {
      EXPECT_EQ(f.message, "Could not open " + dir.path() + "/missing/top.nld\n");
    }
    EXPECT_EQ(log.text(), "");
    EXPECT_FALSE(test::file_exists(dir / "missing"));
  }
  {
    // A pin type without a keyword word ends the run without a message.
    Builder b;
    b.d.write_dir = dir.path();
    Module* top = b.add_module("top", kStateOpen, nullptr, nullptr);
    top->inst_name = top->name;
    b.pin(top, "a", 999);
    try {
      print_nld(b.d);
      ADD_FAILURE() << "no fault";
    } catch (const Fault& f) {
      EXPECT_EQ(f.message, "");
    }
  }
}

const char* kTop =
    "(def-module top\n"
    "  (def-pin a type input)\n"
    "  (def-pin b type input)\n"
    "  (def-pin c type input)\n"
    "  (def-pin y1 type output)\n"
    "  (def-pin y2 type output)\n"
    "  (def-comp half u1 u2)\n"
    "  (def-comp ram m1 m2)\n"
    "  (def-net a u1.a u2.a)\n"
    "  (def-net b u1.b u2.b)\n"
    "  (def-net c u1.c u2.c m1.d m2.d)\n"
    "  (def-net y1 u1.y)\n"
    "  (def-net y2 u2.y))\n";
// An inverter between a gate and an exclusive-or input: absorbed.
const char* kHalf =
    "(def-module half\n"
    "  (def-pin a type input)\n"
    "  (def-pin b type input)\n"
    "  (def-pin c type input)\n"
    "  (def-pin y type output)\n"
    "  (def-comp and--2 g1)\n"
    "  (def-comp inv- i1)\n"
    "  (def-comp eor--2 x1)\n"
    "  (def-net a g1.in1)\n"
    "  (def-net b g1.in2)\n"
    "  (def-net g1.out i1.in)\n"
    "  (def-net i1.nout x1.in1)\n"
    "  (def-net c x1.in2)\n"
    "  (def-net y x1.out))\n";
const char* kRam = "(def-module ram (def-pin d type input) (def-pin q type output))\n";

std::string half_copy(const std::string& name) {
  return "(def-module\t" + name +
         "\n"
         "\t(def-pin\tin1\ttype input)\n"
         "\t(def-pin\tin2\ttype input)\n"
         "\t(def-pin\tin3\ttype input)\n"
         "\t(def-pin\tout1\ttype output)\n"
         "\n"
         "\t(def-comp\tenor--2\tenor-1)\n"
         "\t(def-comp\tand--2\tand-1)\n"
         "\n"
         "\t(def-net\tenor-1.in1\tand-1.out)\n"
         "\t(def-net\tin1\tand-1.in1)\n"
         "\t(def-net\tin2\tand-1.in2)\n"
         "\t(def-net\tin3\tenor-1.in2)\n"
         "\t(def-net\tout1\tenor-1.nout)\n"
         ")\n";
}

TEST(PrtNld, EndToEndHierarchicalAndFlat) {
  TempDir dir;
  dir.write("opt/top.nld", kTop);
  dir.write("opt/half.nld", kHalf);
  dir.write("ro/ram.nld", kRam);
  std::string out = dir.mkdir("out");
  test::RunResult r = test::run_zelk({"top", dir / "opt", "-r", dir / "ro", "-w", out});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_NE(r.err.find("Start to write NLD files\n"
                       "\tWrote " + out + "/top.nld\n"
                       "\tWrote " + out + "/ram.nld\n"
                       "\tWrote " + out + "/half-1.nld\n"
                       "\tWrote " + out + "/half-2.nld\n"
                       "Done\n"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(out + "/top.nld"),
            "(def-module\ttop\n"
            "\t(def-pin\ty2\ttype output)\n"
            "\t(def-pin\ty1\ttype output)\n"
            "\t(def-pin\tc\ttype input)\n"
            "\t(def-pin\tb\ttype input)\n"
            "\t(def-pin\ta\ttype input)\n"
            "\n"
            "\t(def-comp\tram\tm2)\n"
            "\t(def-comp\tram\tm1)\n"
            "\t(def-comp\thalf-1\tu2)\n"
            "\t(def-comp\thalf-2\tu1)\n"
            "\n"
            "\t(def-net\tu1.in1\tu2.in1\ta)\n"
            "\t(def-net\tu1.in2\tu2.in2\tb)\n"
            "\t(def-net\tu1.in3\tu2.in3\tm2.d\tm1.d\tc)\n"
            "\t(def-net\tu1.out1\ty1)\n"
            "\t(def-net\tu2.out1\ty2)\n"
            ")\n");
  EXPECT_EQ(read_file(out + "/half-1.nld"), half_copy("half-1"));
  EXPECT_EQ(read_file(out + "/half-2.nld"), half_copy("half-2"));
  EXPECT_EQ(read_file(out + "/ram.nld"), kRam);

  // The written design reads back: it has no inverter left and is copied.
  std::string again = dir.mkdir("again");
  r = test::run_zelk({"top", out, "-w", again});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(read_file(again + "/half-2.nld"), half_copy("half-2"));

  // Flat: one module, the fixed module's file copied once.
  std::string flat = dir.mkdir("flat");
  r = test::run_zelk({"top", dir / "opt", "-r", dir / "ro", "-f", "-w", flat});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(list_dir(flat), (std::vector<std::string>{"ram.nld", "top.nld"}));
  EXPECT_EQ(read_file(flat + "/top.nld"),
            "(def-module\ttop\n"
            "\t(def-pin\ty2\ttype output)\n"
            "\t(def-pin\ty1\ttype output)\n"
            "\t(def-pin\tc\ttype input)\n"
            "\t(def-pin\tb\ttype input)\n"
            "\t(def-pin\ta\ttype input)\n"
            "\n"
            "\t(def-comp\tand--2\tand-1)\n"
            "\t(def-comp\tand--2\tand-2)\n"
            "\t(def-comp\tenor--2\tenor-1)\n"
            "\t(def-comp\tenor--2\tenor-2)\n"
            "\t(def-comp\tram\tm1)\n"
            "\t(def-comp\tram\tm2)\n"
            "\n"
            "\t(def-net\tand-2.out\tenor-1.in1)\n"
            "\t(def-net\tand-1.out\tenor-2.in1)\n"
            "\t(def-net\tand-2.in1\tand-1.in1\ta)\n"
            "\t(def-net\tand-2.in2\tand-1.in2\tb)\n"
            "\t(def-net\tenor-1.in2\tenor-2.in2\tc\tm1.d\tm2.d)\n"
            "\t(def-net\tenor-1.nout\ty1)\n"
            "\t(def-net\tenor-2.nout\ty2)\n"
            ")\n");
}

}  // namespace
}  // namespace zelk
