// Whole runs of the built binary: the progress messages, the summary, the
// exit status and the files in the write directory.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdio>
#include <map>

#include "support/fixture.h"

namespace zelk::test {
namespace {


struct Workspace {
  TempDir dir;
  std::string opt, out;
  Workspace() : opt(dir.mkdir("opt")), out(dir.mkdir("out")) {}
  RunResult go(const std::string& top, std::vector<std::string> extra = {}) {
    std::vector<std::string> args{top, opt, "-w", out};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_zelk(args);
  }
};

TEST(WholeRun, NoInverterCopiesTheDesign) {
  Workspace r;
  const std::string top = "(def-module top (def-pin a type input) (def-pin y type output)\n"
                          " (def-comp sub s1 s2) (def-net a s1.a) (def-net s1.y s2.a)\n"
                          " (def-net s2.y y))\n";
  const std::string sub = "(def-module sub (def-pin a type input) (def-pin y type output)\n"
                          " (def-comp ninv- b) (def-net a b.in) (def-net b.out y))\n";
  write_file(r.opt + "/top.nld", top);
  write_file(r.opt + "/sub.nld", sub);
  RunResult res = r.go("top");
  EXPECT_EQ(res.status, 0);
  EXPECT_EQ(res.err, std::string(kBanner) + "Start to read NLD/PCD files\n" +
                         "\tRead " + r.opt + "/top.nld\n" + "\tRead " + r.opt + "/sub.nld\n" +
                         "Done\n" + "There are 0 inverters\n" + "Start to write NLD/PCD files\n" +
                         "\tWrote " + r.out + "/top.nld\n" + "\tWrote " + r.out + "/sub.nld\n" +
                         "Done\n" + "Number of inverters\n" + "\t0 ---> 0\n");
  EXPECT_EQ(read_file(r.out + "/top.nld"), top);
  EXPECT_EQ(read_file(r.out + "/sub.nld"), sub);
  EXPECT_TRUE(res.out.empty());
}

TEST(WholeRun, OneInverterThatCannotGoIsCopied) {
  Workspace r;
  const std::string top = "(def-module top (def-pin a type input) (def-pin y type output)\n"
                          " (def-comp inv- i1) (def-net a i1.in) (def-net i1.nout y))\n";
  write_file(r.opt + "/top.nld", top);
  RunResult res = r.go("top");
  EXPECT_EQ(res.status, 0);
  EXPECT_EQ(res.err, std::string(kBanner) + "Start to read NLD/PCD files\n" + "\tRead " + r.opt +
                         "/top.nld\n" + "Done\n" + "There is 1 inverter\n" +
                         "Start inverter reduction\n" + "Done\n" + "There is 1 inverter\n" +
                         "Could not reduce the number of inverters\n" +
                         "Start to write NLD/PCD files\n" + "\tWrote " + r.out + "/top.nld\n" +
                         "Done\n" + "Number of inverters\n" + "\t1 ---> 1\n");
  EXPECT_EQ(read_file(r.out + "/top.nld"), top);
}

// The typical run: an inverter between an and gate and an exclusive-or
// input inside a module copy ends as an enor cell and no inverter.
TEST(WholeRun, InverterAbsorbedIntoExclusiveOr) {
  Workspace r;
  write_file(r.opt + "/top.nld",
             "(def-module top (def-pin a type input) (def-pin b type input)\n"
             " (def-pin c type input) (def-pin s type output)\n"
             " (def-comp half h) (def-net a h.a) (def-net b h.b) (def-net c h.c)\n"
             " (def-net h.s s))\n");
  write_file(r.opt + "/half.nld",
             "(def-module half (def-pin a type input) (def-pin b type input)\n"
             " (def-pin c type input) (def-pin s type output)\n"
             " (def-comp and--2 g) (def-comp inv- i) (def-comp eor--2 x)\n"
             " (def-net a g.in1) (def-net b g.in2) (def-net g.out i.in)\n"
             " (def-net i.nout x.in1) (def-net c x.in2) (def-net x.out s))\n");
  RunResult res = r.go("top");
  EXPECT_EQ(res.status, 0);
  EXPECT_EQ(res.err, std::string(kBanner) + "Start to read NLD/PCD files\n" + "\tRead " + r.opt +
                         "/top.nld\n" + "\tRead " + r.opt + "/half.nld\n" + "Done\n" +
                         "There is 1 inverter\n" + "Start inverter reduction\n" + "Done\n" +
                         "There are 0 inverters\n" + "Start to write NLD files\n" + "\tWrote " +
                         r.out + "/top.nld\n" + "\tWrote " + r.out + "/half-1.nld\n" + "Done\n" +
                         "Number of inverters\n" + "\t1 ---> 0\n");
  EXPECT_EQ(read_file(r.out + "/top.nld"),
            "(def-module\ttop\n"
            "\t(def-pin\ts\ttype output)\n"
            "\t(def-pin\tc\ttype input)\n"
            "\t(def-pin\tb\ttype input)\n"
            "\t(def-pin\ta\ttype input)\n"
            "\n"
            "\t(def-comp\thalf-1\th)\n"
            "\n"
            "\t(def-net\th.in1\ta)\n"
            "\t(def-net\th.in2\tb)\n"
            "\t(def-net\th.in3\tc)\n"
            "\t(def-net\th.out1\ts)\n"
            ")\n");
  EXPECT_EQ(read_file(r.out + "/half-1.nld"),
            "(def-module\thalf-1\n"
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
            ")\n");
  // zelk reads its own output again.
  RunResult again = run_zelk({"top", r.out, "-w", r.dir.mkdir("out2")});
  EXPECT_EQ(again.status, 0) << again.err;
}

TEST(WholeRun, FaultsEndWithStatusOneAndNoSummary) {
  Workspace r;
  write_file(r.opt + "/top.nld", "(def-module top (def-comp inv- i) (def-net i.out))\n");
  RunResult res = r.go("top");
  EXPECT_EQ(res.status, 1);
  EXPECT_EQ(res.err.find("Number of inverters"), std::string::npos);
  // A write directory that does not exist is not created.
  write_file(r.opt + "/top.nld", "(def-module top (def-pin a type input))\n");
  res = run_zelk({"top", r.opt, "-w", r.dir / "missing"});
  EXPECT_EQ(res.status, 1);
  EXPECT_NE(res.err.find("Could not open " + (r.dir / "missing") + "/top.nld\n"),
            std::string::npos);
}

TEST(WholeRun, BundledExampleLosesInverters) {
  TempDir out;
  RunResult res = run_zelk({"top", source_dir() + "/examples/design", "-r",
                            source_dir() + "/examples/lib", "-w", out.path()});
  EXPECT_EQ(res.status, 0) << res.err;
  EXPECT_NE(res.err.find("\t4 ---> "), std::string::npos);
  EXPECT_EQ(res.err.find("\t4 ---> 4"), std::string::npos);
  EXPECT_EQ(list_dir(out.path()),
            (std::vector<std::string>{"half-1.nld", "half-2.nld", "keep.nld", "top.nld"}));
}

}  // namespace
}  // namespace zelk::test

namespace zelk::test {
namespace {

// Bad input ends the run with its message and status 1, and nothing is
// written into the write directory.
TEST(WholeRun, BadInputEndsCleanly) {
  struct Case {
    std::map<std::string, std::string> files;
    std::string message;  // the last line of the log
  };
  const std::string half = "(def-module top (def-pin a type input) (def-comp inv- i)\n"
                           "(def-net a i.in";
  const std::vector<Case> cases = {
      {{{"top.nld", half}}, "\"OPT/top.nld\", line 2: error\n"},  // truncated
      {{{"top.nld", "(def-module top\r\n(def-pin a type input))\r\n"}},
       "\"OPT/top.nld\", line 3: error\n"},  // carriage returns are name bytes
      {{{"top.nld", "(def-module top (def-comp and--2 g) (def-net g.in1 g.nout)\n"
                    "(def-comp inv- i) (def-net i.in i.out))\n"}},
       ""},  // a pin the cell does not have
      {{{"top.nld", "(def-module top (def-comp inv- i) (def-comp top t)\n"
                    "(def-net i.in t.a))\n"}},
       ""},  // a module instantiating itself
      {{{"top.nld", "(def-module top (def-comp inv- i) (def-comp other t) (def-net i.in t.a))\n"},
        {"other.nld", "(def-module renamed (def-pin a type input) (def-comp other u)\n"
                      "(def-net a u.a))\n"}},
       ""},  // through a file whose module name differs from the file name
      {{{"sub.nld", "(def-module sub)\n"}}, "Could not find \"top.nld\"\n"},
  };
  for (const Case& c : cases) {
    Workspace r;
    for (auto& [name, text] : c.files) write_file(r.opt + "/" + name, text);
    RunResult res = r.go("top");
    EXPECT_EQ(res.status, 1);
    std::string want = c.message;
    for (size_t p; (p = want.find("OPT")) != std::string::npos;) want.replace(p, 3, r.opt);
    size_t last = res.err.rfind('\n', res.err.size() >= 2 ? res.err.size() - 2 : 0);
    std::string tail = res.err.substr(last == std::string::npos ? 0 : last + 1);
    if (want.empty())  // no message: the log ends with a progress line
      EXPECT_TRUE(tail.rfind("\tRead ", 0) == 0 || tail == "Start to read NLD/PCD files\n")
          << res.err;
    else
      EXPECT_EQ(tail, want) << res.err;
    EXPECT_TRUE(list_dir(r.out).empty());
  }
}

// A file that cannot be opened is passed over like a missing one.
TEST(WholeRun, UnreadableFileIsNotFound) {
  Workspace r;
  std::string second = r.dir.mkdir("second");
  write_file(r.opt + "/top.nld", "(def-module top (def-pin a type input))\n");
  write_file(second + "/top.nld", "(def-module top (def-pin b type input))\n");
  ::chmod((r.opt + "/top.nld").c_str(), 0);
  if (FILE* f = std::fopen((r.opt + "/top.nld").c_str(), "r")) {
    std::fclose(f);
    GTEST_SKIP() << "permissions do not apply to this user";
  }
  RunResult res = run_zelk({"top", r.opt, second, "-w", r.out});
  EXPECT_EQ(res.status, 0) << res.err;
  EXPECT_NE(res.err.find("\tRead " + second + "/top.nld\n"), std::string::npos);
}

}  // namespace
}  // namespace zelk::test
