// Loading: file search order, breadth-first expansion with one module copy
// per instance, loop checks, terminal rings and terminal counts.
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "loader/loader.h"
#include "support/fixture.h"

namespace zelk {
namespace {

using test::TempDir;
using Files = std::map<std::string, std::string>;

// A design spread over optimisation and read-only directories, loaded
// in-process with its messages captured.
struct Env {
  TempDir dir;
  Design d;
  std::string log;

  // files: "opt/x.nld", "ro/y.pcd", ...; opt and ro list directory names.
  Env(const Files& files, std::vector<std::string> opt = {"opt"},
      std::vector<std::string> ro = {}) {
    for (auto& o : opt) d.opt_dir.push_back(dir.mkdir(o));
    for (auto& r : ro) d.read_dir.push_back(dir.mkdir(r));
    for (auto& [name, text] : files) dir.write(name, text);
  }
  std::string path(const std::string& rel) const { return dir / rel; }

  // Loads `top`; returns the fault message, or "ok".
  std::string load(const std::string& top) {
    d.top_name = top;
    FILE* f = std::tmpfile();
    d.log = f;
    std::string result = "ok";
    try {
      read_module(d, top);
    } catch (const Fault& e) {
      result = e.message;
    }
    std::fflush(f);
    std::rewind(f);
    log.clear();
    for (int c; (c = std::fgetc(f)) != EOF;) log += static_cast<char>(c);
    std::fclose(f);
    d.log = stderr;
    return result;
  }
};

std::vector<Module*> modules(const Design& d) {
  std::vector<Module*> v;
  for (Module* m = d.top; m; m = m->next) v.push_back(m);
  return v;
}

template <class T>
int index_of(T* head, const T* x) {
  int i = 0;
  for (T* p = head; p; p = p->next, ++i)
    if (p == x) return i;
  return -1;
}

// Text of a module's contents with every reference given by list position,
// so that a copy and its source print alike.
std::string dump(const Module* m) {
  std::string s = std::string(m->name) + " state " + std::to_string(m->state) + "\n";
  for (Instance* p = m->pins; p; p = p->next)
    s += " pin " + std::string(p->name) + " " + std::to_string(p->type) + " " +
         std::to_string(p->note) + "\n";
  for (Instance* c = m->comps; c; c = c->next)
    s += " comp " + std::to_string(c->cls) + " " + std::to_string(c->fan_in) + " " + c->name +
         (c->class_name ? std::string(" ") + c->class_name : std::string()) + "\n";
  // every terminal numbered in net list order
  std::map<const Link*, int> num;
  for (Net* n = m->nets; n; n = n->next)
    for (Link* l = n->links; l; l = l->next) num.emplace(l, static_cast<int>(num.size()));
  for (Net* n = m->nets; n; n = n->next) {
    s += " net";
    for (Link* l = n->links; l; l = l->next) {
      bool pin = l->inst->cls == kPin;
      int at = pin ? index_of(m->pins, l->inst) : index_of(m->comps, l->inst);
      s += std::string(" ") + (pin ? "p" : "c") + std::to_string(at) + "." + l->pin_name + ":" +
           std::to_string(l->pin_type) + ">" + std::to_string(num.at(l->inst_next));
    }
    s += "\n";
  }
  for (Instance* p = m->pins; p; p = p->next)
    s += " pinlink " + (p->link ? std::to_string(num.at(p->link)) : std::string("-"));
  for (Instance* c = m->comps; c; c = c->next)
    s += " complink " + (c->link ? std::to_string(num.at(c->link)) : std::string("-"));
  return s + "\n";
}

const char* kTop =
    "(def-module top\n"
    " (def-pin a type input)\n"
    " (def-pin z type output)\n"
    " (def-comp mid u1 u2)\n"
    " (def-comp leaf l0)\n"
    " (def-net a u1.a)\n"
    " (def-net u1.z u2.a)\n"
    " (def-net u2.z l0.a)\n"
    " (def-net l0.z z))\n";
const char* kMid =
    "(def-module mid\n"
    " (def-pin a type input)\n"
    " (def-pin z type output note clock)\n"
    " (def-comp inv- i1 i2)\n"
    " (def-comp leaf x)\n"
    " (def-comp and--2 g)\n"
    " (def-net a i1.in g.p)\n"
    " (def-net i1.nout i2.in g.q)\n"
    " (def-net i2.nout x.a)\n"
    " (def-net x.z g.out z))\n";
const char* kLeaf =
    "(def-module leaf (def-pin a type input) (def-pin z type output)\n"
    " (def-comp ninv- b) (def-net a b.in) (def-net b.out z))\n";

TEST(LoaderTest, BreadthFirstOneCopyPerInstance) {
  Env e(Files{{"opt/top.nld", kTop}, {"opt/mid.nld", kMid}, {"opt/leaf.nld", kLeaf}});
  ASSERT_EQ(e.load("top"), "ok");
  // each file read once, in the order first met
  EXPECT_EQ(e.log, "\tRead " + e.path("opt/top.nld") + "\n\tRead " + e.path("opt/leaf.nld") +
                       "\n\tRead " + e.path("opt/mid.nld") + "\n");
  auto ms = modules(e.d);
  ASSERT_EQ(ms.size(), 6u);
  // comps of top are l0, u2, u1 (reverse of the file); then each mid's leaf
  const char* names[] = {"top", "leaf", "mid", "mid", "leaf", "leaf"};
  const char* insts[] = {"top", "l0", "u2", "u1", "x", "x"};
  int depths[] = {0, 1, 1, 1, 2, 2};
  for (std::size_t i = 0; i < ms.size(); ++i) {
    EXPECT_STREQ(ms[i]->name, names[i]) << i;
    EXPECT_STREQ(ms[i]->inst_name, insts[i]) << i;
    EXPECT_EQ(ms[i]->depth, depths[i]) << i;
    EXPECT_EQ(ms[i]->state, kStateOpen) << i;
    EXPECT_TRUE(check_lists(ms[i])) << i;
  }
  Module* top = ms[0];
  EXPECT_EQ(top->inst_name, top->name);
  EXPECT_EQ(top->parent, nullptr);
  EXPECT_EQ(top->inst, nullptr);
  for (std::size_t i = 1; i < ms.size(); ++i) {
    Instance* c = ms[i]->inst;
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->def, ms[i]);
    EXPECT_EQ(ms[i]->parent, c->module);
    EXPECT_EQ(ms[i]->inst_name, c->name);  // shared, not a copy
  }
  EXPECT_EQ(ms[4]->parent, ms[2]);
  EXPECT_EQ(ms[5]->parent, ms[3]);
  // two inverters per copy of mid
  EXPECT_EQ(e.d.first_inv_num, 4);
  // a copy is the read module again, rings and link fields included
  // (the parser's link is the first terminal, the copy's the last)
  EXPECT_NE(ms[2], ms[3]);
  std::string src = dump(ms[2]), cpy = dump(ms[3]);
  auto cut = [](const std::string& s) { return s.substr(0, s.find(" pinlink")); };
  EXPECT_EQ(cut(src), cut(cpy));
  EXPECT_EQ(cut(dump(ms[1])), cut(dump(ms[4])));
  for (Net* n = ms[3]->nets; n; n = n->next)
    for (Link* l = n->links; l; l = l->next) {
      EXPECT_EQ(l->inst->module, ms[3]);
      if (l->inst->cls == kPin) {
        EXPECT_EQ(l->pin_name, l->inst->name);
      }
    }
  // the copy's link: last terminal in copy order
  Instance* g = test::find_comp(ms[3], "g");
  ASSERT_NE(g, nullptr);
  EXPECT_STREQ(g->link->pin_name, "p");
  EXPECT_EQ(g->link->net->next, nullptr);
}

TEST(LoaderTest, RingOrderAndPinRings) {
  Env e(Files{{"opt/top.nld",
          "(def-module top (def-pin a type input) (def-pin b type input)\n"
          " (def-pin c type input) (def-pin z type output)\n"
          " (def-comp and--3 g)\n"
          " (def-net g.out z) (def-net c g.c) (def-net b g.b) (def-net a g.a))\n"}});
  ASSERT_EQ(e.load("top"), "ok");
  Module* top = e.d.top;
  // terminals in net list order: g.a a | g.b b | g.c c | z g.out
  Link* ga = top->nets->links;
  ASSERT_STREQ(ga->pin_name, "a");
  ASSERT_EQ(ga->inst->cls, kAnd);
  std::string ring;
  Link* t = ga;
  do {
    ring += std::string(t->pin_name) + " ";
    t = t->inst_next;
  } while (t != ga);
  EXPECT_EQ(ring, "a out c b ");
  for (Instance* p = top->pins; p; p = p->next) EXPECT_EQ(p->link->inst_next, p->link);
}

TEST(LoaderTest, DuplicateNamesInCopies) {
  // duplicate pins and components: the parser and the copy both take the
  // first of a name in list order (the one defined last)
  const char* dup =
      "(def-module dup (def-pin a type input) (def-pin a type output)\n"
      " (def-comp inv- g) (def-comp ninv- g) (def-comp dup2 h h)\n"
      " (def-net a g.in) (def-net g.out a))\n";
  const char* dup2 = "(def-module dup2 (def-pin p type input))\n";
  Env e(Files{{"opt/top.nld", "(def-module top (def-comp dup u1 u2 u3))\n"},
         {"opt/dup.nld", dup},
         {"opt/dup2.nld", dup2}});
  ASSERT_EQ(e.load("top"), "ok");
  auto ms = modules(e.d);
  // top, dup(u3, read), dup(u2), dup(u1), then two dup2 per dup copy
  ASSERT_EQ(ms.size(), 10u);
  EXPECT_EQ(dump(ms[1]).substr(0, dump(ms[1]).find(" pinlink")),
            dump(ms[2]).substr(0, dump(ms[2]).find(" pinlink")));
  EXPECT_EQ(dump(ms[2]), dump(ms[3]));
  for (int i = 1; i <= 3; ++i) {
    Module* m = ms[static_cast<std::size_t>(i)];
    // g (ninv-, first in list) has both terminals; the inverter none
    EXPECT_EQ(m->comps->next->next->cls, kNinv);
    ASSERT_NE(m->comps->next->next->link, nullptr);
    EXPECT_EQ(m->comps->next->next->link->inst_next->inst_next, m->comps->next->next->link);
    EXPECT_EQ(m->comps->next->next->next->link, nullptr);
    EXPECT_EQ(m->pins->type, kwOutput);
    EXPECT_NE(m->pins->link, nullptr);
    EXPECT_EQ(m->pins->next->link, nullptr);
  }
  // the copies count their unconnected inverter too
  EXPECT_EQ(e.d.first_inv_num, 3);
  ASSERT_NE(e.log.find("dup2.nld"), std::string::npos);
  EXPECT_EQ(e.log.find("dup2.nld"), e.log.rfind("dup2.nld"));  // read once
}

TEST(LoaderTest, FileSearchOrderAndStates) {
  const char* top =
      "(def-module top (def-comp cell c1) (def-comp fixed f1 f2) (def-comp open o1))\n";
  const char* fixed = "(def-module fixed (def-comp open o))\n";
  Env e(Files{{"opt/top.nld", top},
         {"opt/cell.nld", "(def-module cell (def-comp nothere n))\n"},
         {"ro/cell.pcd", "(def-module cell area 2 (def-pin a type input load 1))\n"},
         {"ro/fixed.nld", fixed},
         {"opt2/open.nld", "(def-module open (def-pin a type input))\n"},
         {"ro/open.nld", "(def-module open (def-comp nothere n))\n"},
         {"ro/top.nld", "(def-module top (def-comp nothere n))\n"}},
        {"opt", "opt2"}, {"ro"});
  ASSERT_EQ(e.load("top"), "ok");
  auto ms = modules(e.d);
  // top; open(o1) fixed(f2) fixed(f1) cell(c1); open(o) under each fixed
  ASSERT_EQ(ms.size(), 7u);
  EXPECT_EQ(ms[0]->state, kStateOpen);
  EXPECT_STREQ(ms[1]->inst_name, "o1");
  EXPECT_EQ(ms[1]->state, kStateOpen);  // optimisation wins over read-only
  EXPECT_EQ(ms[2]->state, kStateFixed);
  EXPECT_EQ(ms[3]->state, kStateFixed);  // a copy keeps the state
  EXPECT_STREQ(ms[4]->name, "cell");
  EXPECT_EQ(ms[4]->state, kStateCell);  // a cell file anywhere wins
  EXPECT_NE(ms[4]->pins, nullptr);
  EXPECT_EQ(ms[4]->comps, nullptr);
  // below a fixed module a copy keeps its source's state
  EXPECT_EQ(ms[5]->state, kStateOpen);
  EXPECT_EQ(ms[5]->parent, ms[2]);
  EXPECT_EQ(ms[6]->parent, ms[3]);
  EXPECT_EQ(e.log, "\tRead " + e.path("opt/top.nld") + "\n\tRead " + e.path("opt2/open.nld") +
                       "\n\tRead " + e.path("ro/fixed.nld") + "\n\tRead " +
                       e.path("ro/cell.pcd") + "\n");
}

TEST(LoaderTest, FilesNotFound) {
  {
    Env e(Files{{"ro/top.nld", "(def-module top)\n"}}, {"opt"}, {"ro"});
    EXPECT_EQ(e.load("top"), "Could not find \"top.nld\"\n");
    EXPECT_EQ(e.d.file_name, e.path("opt/top.nld"));
  }
  {
    Env e(Files{{"opt/top.nld", "(def-module top (def-comp gone g))\n"}}, {"opt"}, {"ro"});
    EXPECT_EQ(e.load("top"), "Could not find \"gone.pcd/nld\"\n");
    EXPECT_EQ(e.d.file_name, e.path("ro/gone.nld"));  // the last path tried
  }
  {
    // a directory named like the file opens and reads as an empty file
    Env e(Files{});
    e.dir.mkdir("opt/top.nld");
    EXPECT_EQ(e.load("top"), "\"" + e.path("opt/top.nld") + "\", line 1: error\n");
  }
}

TEST(LoaderTest, InstantiationLoops) {
  // self
  EXPECT_EQ(Env(Files{{"opt/top.nld", "(def-module top (def-comp a x))\n"},
                 {"opt/a.nld", "(def-module a (def-comp a y))\n"}})
                .load("top"),
            "");
  // mutual
  EXPECT_EQ(Env(Files{{"opt/top.nld", "(def-module top (def-comp a x))\n"},
                 {"opt/a.nld", "(def-module a (def-comp b y))\n"},
                 {"opt/b.nld", "(def-module b (def-comp a z))\n"}})
                .load("top"),
            "");
  // the top module's name, deeper down
  EXPECT_EQ(Env(Files{{"opt/top.nld", "(def-module top (def-comp a x))\n"},
                 {"opt/a.nld", "(def-module a (def-comp top y))\n"}})
                .load("top"),
            "");
  // the top file's def-module name differs from the name it was loaded by
  EXPECT_EQ(Env(Files{{"opt/t.nld", "(def-module top (def-comp a x))\n"},
                 {"opt/a.nld", "(def-module a (def-comp t y))\n"}})
                .load("t"),
            "");
  // a file whose def-module name is not its file name, using its own cell
  EXPECT_EQ(Env(Files{{"opt/top.nld", "(def-module top (def-comp w x))\n"},
                 {"opt/w.nld", "(def-module wx (def-comp w y))\n"}})
                .load("top"),
            "");
  EXPECT_EQ(Env(Files{{"opt/top.nld", "(def-module top (def-comp w x))\n"},
                 {"opt/w.nld", "(def-module wx (def-comp v y))\n"},
                 {"opt/v.nld", "(def-module vx (def-comp w y))\n"}})
                .load("top"),
            "");

  // siblings and one module at several depths are fine; a file named
  // otherwise than its module is read again for every instance
  Env e(Files{{"opt/top.nld", "(def-module top (def-comp a a1 a2) (def-comp w w1 w2))\n"},
         {"opt/a.nld", "(def-module a (def-comp w w3))\n"},
         {"opt/w.nld", "(def-module wx (def-comp inv- i))\n"}});
  ASSERT_EQ(e.load("top"), "ok");
  EXPECT_EQ(modules(e.d).size(), 7u);
  std::string w = "\tRead " + e.path("opt/w.nld") + "\n";
  int reads = 0;
  for (std::size_t at = 0; (at = e.log.find(w, at)) != std::string::npos; at += w.size()) ++reads;
  EXPECT_EQ(reads, 4);
  EXPECT_EQ(e.d.first_inv_num, 4);
}

std::string counts(const std::string& body) {
  Env e(Files{{"opt/top.nld", "(def-module top (def-pin a type input) (def-pin b type input)\n"
                         " (def-pin c type input) (def-pin d type input)" +
                             body + ")\n"}});
  std::string r = e.load("top");
  std::string prefix = "\"" + e.path("opt/top.nld") + "\", ";
  if (r.compare(0, prefix.size(), prefix) == 0) r = r.substr(prefix.size());
  return r;
}

TEST(LoaderTest, TerminalCounts) {
  EXPECT_EQ(counts("(def-comp inv- i) (def-net a i.in) (def-net i.nout b) (def-net c i.in)"),
            "i appears 3 times in def-net\n");
  EXPECT_EQ(counts("(def-comp inv- i) (def-net a i.in i.in) (def-net i.nout b)"),
            "i appears 3 times in def-net\n");
  EXPECT_EQ(counts("(def-comp inv- i) (def-net a i.in) (def-net i.nout b)"), "ok");
  EXPECT_EQ(counts("(def-comp ninv- i) (def-net a i.in i.out b) (def-net c i.out)"),
            "i appears 3 times in def-net\n");
  EXPECT_EQ(counts("(def-comp and--2 g) (def-net a g.x) (def-net b g.y) (def-net c g.z)"
                   " (def-net g.out d)"),
            "g appears 4 times in def-net\n");
  EXPECT_EQ(counts("(def-comp and--2 g) (def-net a g.x) (def-net b g.y) (def-net g.out d)"),
            "ok");
  EXPECT_EQ(counts("(def-comp aoi--21 g) (def-net a g.x) (def-net b g.y) (def-net c g.z)"
                   " (def-net d g.w) (def-net g.nout a)"),
            "g appears 5 times in def-net\n");
  EXPECT_EQ(counts("(def-comp oai--222 g) (def-net a g.x g.y g.z g.u g.v g.w g.nout)"), "ok");
  EXPECT_EQ(counts("(def-comp oai--222 g) (def-net a g.x g.y g.z g.u g.v g.w g.t g.nout)"),
            "g appears 8 times in def-net\n");
  EXPECT_EQ(counts("(def-comp and- g) (def-net a g.x) (def-net g.out b)"),
            "g appears 2 times in def-net\n");
  EXPECT_EQ(counts("(def-comp and- g) (def-net g.out b)"), "ok");
  EXPECT_EQ(counts("(def-comp aoi- g) (def-net a g.a g.b g.c g.d g.e g.f g.g g.h g.nout)"),
            "ok");
  EXPECT_EQ(counts("(def-comp reg-1 r) (def-net a r.in r.in r.in r.out r.nout)"), "ok");
  // the first failing component by its first terminal in net list order
  // (the net written last comes first)
  EXPECT_EQ(counts("(def-comp inv- i j) (def-net a i.in i.in i.in) (def-net b j.in j.in j.in)"),
            "j appears 3 times in def-net\n");
  EXPECT_EQ(counts("(def-comp inv- i j) (def-net a i.in i.in i.in j.in j.in j.in)"),
            "j appears 3 times in def-net\n");
  EXPECT_EQ(counts("(def-comp inv- i j) (def-net a j.in j.in j.in i.in i.in i.in)"),
            "i appears 3 times in def-net\n");
}

TEST(LoaderTest, TerminalCountInLowerModuleQuotesItsFile) {
  Env e(Files{{"opt/top.nld", "(def-module top (def-comp sub s))\n"},
         {"ro/sub.nld", "(def-module sub (def-pin a type input) (def-comp inv- i)\n"
                        " (def-net a i.in i.in i.nout))\n"}},
        {"opt"}, {"ro"});
  EXPECT_EQ(e.load("top"), "\"" + e.path("ro/sub.nld") + "\", i appears 3 times in def-net\n");
}

}  // namespace
}  // namespace zelk
