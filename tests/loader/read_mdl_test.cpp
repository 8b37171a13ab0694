// Loading: file search order and module states, loop checks and terminal
// counts.  Messages, copies and their order are in the golden cases.
#include <gtest/gtest.h>

#include <sys/stat.h>

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
    for (auto& o : opt) d.options.opt_dir.push_back(dir.mkdir(o));
    for (auto& r : ro) d.options.read_dir.push_back(dir.mkdir(r));
    for (auto& [name, text] : files) dir.write(name, text);
  }
  std::string path(const std::string& rel) const { return dir / rel; }

  // Loads `top`; returns the fault message, or "ok".
  std::string load(const std::string& top) {
    d.options.top_name = top;
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

TEST(LoaderTest, InstantiationLoops) {
  // A module instantiated inside itself stops the run without a message.
  const std::vector<std::pair<std::string, Files>> loops = {
      {"top", {{"opt/top.nld", "(def-module top (def-comp a x))"},  // self
               {"opt/a.nld", "(def-module a (def-comp a y))"}}},
      {"top", {{"opt/top.nld", "(def-module top (def-comp a x))"},  // mutual
               {"opt/a.nld", "(def-module a (def-comp b y))"},
               {"opt/b.nld", "(def-module b (def-comp a z))"}}},
      {"top", {{"opt/top.nld", "(def-module top (def-comp a x))"},  // the top, deeper down
               {"opt/a.nld", "(def-module a (def-comp top y))"}}},
      // by the name the top file was loaded through, not its def-module name
      {"t", {{"opt/t.nld", "(def-module top (def-comp a x))"},
             {"opt/a.nld", "(def-module a (def-comp t y))"}}},
      // files whose def-module names are not their file names
      {"top", {{"opt/top.nld", "(def-module top (def-comp w x))"},
               {"opt/w.nld", "(def-module wx (def-comp w y))"}}},
      {"top", {{"opt/top.nld", "(def-module top (def-comp w x))"},
               {"opt/w.nld", "(def-module wx (def-comp v y))"},
               {"opt/v.nld", "(def-module vx (def-comp w y))"}}},
  };
  for (const auto& [top, files] : loops) EXPECT_EQ(Env(files).load(top), "");

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
  // Many components, rings of every length: still the first in that order.
  std::string many = " (def-comp and--2";
  for (int k = 0; k < 40; ++k) many += " g" + std::to_string(k);
  many += ")";
  for (int k = 0; k < 40; ++k) {
    std::string g = " g" + std::to_string(k);
    many += " (def-net" + g + ".in1" + g + ".in2" + g + ".out";
    for (int extra = 0; extra < (k == 3 ? 1 : k == 20 ? 2 : 0); ++extra) many += g + ".in9";
    many += ")";
  }
  EXPECT_EQ(counts(many), "g20 appears 5 times in def-net\n");
}

}  // namespace
}  // namespace zelk
