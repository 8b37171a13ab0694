// Hostile input: sizes that a careless pass turns into quadratic time or deep
// recursion, every name length limit, and output that cannot be written.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "flat/flat.h"
#include "loader/loader.h"
#include "rebuild/rebuild.h"
#include "reduce/reduce.h"
#include "support/fixture.h"
#include "support/sim.h"
#include "writer/writer.h"

namespace zelk {
namespace {

namespace fs = std::filesystem;
using test::read_file;
using test::TempDir;

// Sanitizer builds run the same cases at a tenth of the size.
#ifdef ZELK_SANITIZED
constexpr int kDiv = 10;
#else
constexpr int kDiv = 1;
#endif

std::string seq(const std::string& prefix, int from, int to) {
  std::string s;
  for (int i = from; i < to; ++i) s += " " + prefix + std::to_string(i);
  return s;
}

// Every file of a directory tree with its bytes.
std::map<std::string, std::string> snapshot(const std::string& dir) {
  std::map<std::string, std::string> files;
  for (const auto& e : fs::recursive_directory_iterator(dir))
    files[e.path().string()] = e.is_regular_file() ? read_file(e.path().string()) : "<dir>";
  return files;
}

// Runs zelk on design `dir`/d (top module `top`) writing to `dir`/out; a
// run that lowered the count must write a design with the same function.
test::RunResult run(const TempDir& dir, const std::string& top,
                    std::vector<std::string> more = {}) {
  std::vector<std::string> args{top, dir / "d", "-w", dir / "out"};
  args.insert(args.end(), more.begin(), more.end());
  test::RunResult r = test::run_inproc(args);
  if (r.status == 0 && r.err.find("Start to write NLD files") != std::string::npos) {
    EXPECT_EQ(test::check_equivalent(top, {dir / "d"}, top, {dir / "out"}, 1), "");
  }
  return r;
}

TEST(Hostile, DeepHierarchyLoadsRunsAndWrites) {
  const int levels = 10000 / kDiv;
  TempDir dir;
  for (int i = 0; i + 1 < levels; ++i)
    dir.write("d/l" + std::to_string(i) + ".nld",
              "(def-module l" + std::to_string(i) +
                  " (def-pin a type input) (def-pin b type input) (def-pin y type output)"
                  " (def-comp l" + std::to_string(i + 1) + " u)"
                  " (def-net a u.a) (def-net b u.b) (def-net u.y y))\n");
  dir.write("d/l" + std::to_string(levels - 1) + ".nld",
            "(def-module l" + std::to_string(levels - 1) +
                " (def-pin a type input) (def-pin b type input) (def-pin y type output)"
                " (def-comp inv- i j) (def-comp and--2 g)"
                " (def-net a i.in) (def-net i.nout j.in) (def-net j.nout g.in1) (def-net b g.in2)"
                " (def-net g.out y))\n");
  dir.mkdir("out");
  for (const char* flag : {"", "-f"}) {
    test::RunResult r = run(dir, "l0", *flag ? std::vector<std::string>{flag} : std::vector<std::string>{});
    ASSERT_EQ(r.status, 0) << flag << r.err.substr(r.err.size() > 500 ? r.err.size() - 500 : 0);
    EXPECT_NE(r.err.find("\t2 ---> 0\n"), std::string::npos) << flag;
  }
  // The bottom level instantiates a module far above it: status 1, no message.
  std::string last = "l" + std::to_string(levels - 1);
  dir.write("d/" + last + ".nld", "(def-module " + last + " (def-comp l5 u))\n");
  test::RunResult r = run(dir, "l0");
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.ends_with("\tRead " + (dir / "d") + "/" + last + ".nld\n"));
}

TEST(Hostile, ManyPinsAndManyFiles) {
  const int n = 100000 / kDiv;
  // Every file costs a few system calls; ZELK_HOSTILE_FULL=1 takes all 10^5.
  const int files = std::getenv("ZELK_HOSTILE_FULL") ? n : n / 5;
  TempDir dir;
  // 10^5 pins on the top module, pairs joined through inverter pairs.
  dir.write("d/top.nld", "(def-module top" + [&] {
    std::string s;
    for (int i = 0; i < n / 2; ++i)
      s += " (def-pin a" + std::to_string(i) + " type input) (def-pin y" + std::to_string(i) +
           " type output)";
    s += " (def-comp inv-" + seq("i", 0, n / 2) + seq("j", 0, n / 2) + ")";
    for (int i = 0; i < n / 2; ++i) {
      std::string k = std::to_string(i);
      s += " (def-net a" + k + " i" + k + ".in) (def-net i" + k + ".nout j" + k +
           ".in) (def-net j" + k + ".nout y" + k + ")";
    }
    return s;
  }() + ")\n");
  dir.mkdir("out");
  test::RunResult r = run(dir, "top");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("\t" + std::to_string(n) + " ---> 0\n"), std::string::npos);

  // Module files under one top module, each copied on its own.
  TempDir wide;
  std::string top = "(def-module top (def-pin a type input)";
  for (int i = 0; i < files; ++i) {
    top += " (def-comp m" + std::to_string(i) + " u" + std::to_string(i) + ")";
    wide.write("d/m" + std::to_string(i) + ".nld",
               "(def-module m" + std::to_string(i) + " (def-pin a type input))\n");
  }
  top += " (def-net a";
  for (int i = 0; i < files; ++i) top += " u" + std::to_string(i) + ".a";
  wide.write("d/top.nld", top + ")\n");
  wide.mkdir("out");
  r = run(wide, "top");
  ASSERT_EQ(r.status, 0) << r.err.substr(0, 2000);
  EXPECT_EQ(test::list_dir(wide / "out").size(), static_cast<std::size_t>(files) + 1);
}

TEST(Hostile, MillionCellChainAndControlCone) {
  const int n = 500000 / kDiv;  // inverters in each of the two chains
  TempDir dir;
  std::string s =
      "(def-module top (def-pin a type input) (def-pin c type input) (def-pin y type output)"
      " (def-pin q type output) (def-comp reg-1 r) (def-comp inv-" + seq("i", 0, n) +
      seq("k", 0, n + 1) + ") (def-net a i0.in) (def-net c k0.in)";
  for (int i = 0; i + 1 < n; ++i)
    s += " (def-net i" + std::to_string(i) + ".nout i" + std::to_string(i + 1) + ".in)";
  for (int i = 0; i < n; ++i)
    s += " (def-net k" + std::to_string(i) + ".nout k" + std::to_string(i + 1) + ".in)";
  // The data chain folds away; the clock cone keeps one inversion.
  s += " (def-net i" + std::to_string(n - 1) + ".nout y r.in) (def-net k" + std::to_string(n) +
       ".nout r.m_clock) (def-net r.out q))\n";
  dir.write("d/top.nld", s);
  dir.mkdir("out");
  test::RunResult r = run(dir, "top");
  ASSERT_EQ(r.status, 0);
  EXPECT_NE(r.err.find("\t" + std::to_string(2 * n + 1) + " ---> 1\n"), std::string::npos)
      << r.err.substr(r.err.size() - 100);
}

TEST(Hostile, NameLengthLimits) {
  const std::string ok(4095, 'n'), over(4096, 'n');
  // Each position of a name: module, pin, component, and a pin named on a net.
  auto design = [](const std::string& mod, const std::string& pin, const std::string& comp) {
    return "(def-module " + mod + " (def-pin " + pin + " type input) (def-pin y type output)" +
           " (def-comp inv- " + comp + " j) (def-net " + pin + " " + comp + ".in) (def-net " +
           comp + ".nout j.in) (def-net j.nout y))\n";
  };
  for (int where = 0; where < 3; ++where) {
    TempDir dir;
    dir.mkdir("out");
    dir.write("d/top.nld", design(where == 0 ? ok : "top", where == 1 ? ok : "a",
                                  where == 2 ? ok : "i"));
    if (where != 0) EXPECT_EQ(run(dir, "top").status, 0) << where;
    else EXPECT_NO_THROW(test::load_text({{"top.nld", read_file(dir / "d/top.nld")}}, "top"));
    dir.write("d/top.nld", design(where == 0 ? over : "top", where == 1 ? over : "a",
                                  where == 2 ? over : "i"));
    test::RunResult r = run(dir, "top");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("\"" + (dir / "d/top.nld") + "\", line 1: name is too long\n"),
              std::string::npos)
        << where << r.err.substr(r.err.size() - 200);
  }
  // A module file name of 255 bytes leaves no room for the temporary's ending.
  TempDir dir;
  const std::string top(251, 't');
  dir.write("d/" + top + ".nld", design(top, "a", "i"));
  dir.mkdir("out");
  EXPECT_EQ(run(dir, top).status, 0);
  EXPECT_EQ(test::list_dir(dir / "out"), std::vector<std::string>{top + ".nld"});
  // A top module whose name is too long for a file name cannot be written.
  dir.write("d/" + top + ".nld", design(ok, "a", "i"));
  EXPECT_NE(run(dir, top).err.find("Could not open " + (dir / "out/") + ok + ".nld\n"),
            std::string::npos);
}

// The example design, all in one optimisation directory.  A rewrite writes
// into that directory, so a failed write must leave the user's files as they
// were; a copy writes into a directory of its own that holds an older result.
struct FailingWrite {
  TempDir dir;
  std::string d = dir.mkdir("d");
  FailingWrite() {
    dir.write("out/top.nld", "an older result\n");
    for (const char* f : {"design/top.nld", "design/half.nld", "lib/keep.nld", "lib/buf.pcd"})
      fs::copy_file(test::source_dir() + "/examples/" + f, d + "/" + fs::path(f).filename().string());
  }
  // Rewrites (or copies) the design, writing with `failure`; returns the fault.
  std::string write(WriteFailure failure, bool rewrite, std::size_t buffer = 64,
                    bool commit = true) {
    Design des;
    des.options.top_name = "top";
    des.options.opt_dir = {d};
    des.options.write_dir = rewrite ? d : dir / "out";
    des.options.has_write_dir = true;
    des.log = std::tmpfile();
    read_module(des, "top");
    if (rewrite) {
      flat(des);
      red_inv(des);
      output(des);
      hierarchy(des);
    }
    std::string fault = "none";
    try {
      OutputSet out(buffer, failure);
      if (rewrite) print_nld(des, out);
      else copy_file(des, out);
      if (commit) out.commit();
    } catch (const Fault& f) {
      fault = f.message;
    }
    std::fclose(des.log);
    return fault;
  }
};

TEST(Hostile, InjectedWriteFailuresLeaveTheDirectoryAsItWas) {
  using S = WriteFailure::Step;
  struct Case { S step; int file; std::size_t after; bool rewrite; const char* target; };
  // First write, mid-file, flush, close, rename, and the second file of a
  // run, on the rewriting and on the copying path.  The copy writes into a
  // separate directory (the write directory holds the sources otherwise).
  const Case cases[] = {
      {S::kWrite, 0, 0, true, "top.nld"},    {S::kWrite, 0, 100, true, "top.nld"},
      {S::kFlush, 0, 0, true, "top.nld"},    {S::kClose, 0, 0, true, "top.nld"},
      {S::kRename, 0, 0, true, "top.nld"},   {S::kWrite, 1, 10, true, "keep-1.nld"},
      {S::kRename, 2, 0, true, "half-1.nld"}, {S::kWrite, 0, 0, false, "top.nld"},
      {S::kWrite, 1, 50, false, "keep.nld"}, {S::kClose, 2, 0, false, "half.nld"},
  };
  for (const Case& c : cases) {
    FailingWrite w;
    auto before = snapshot(w.dir.path());
    std::string fault = w.write({c.step, c.file, c.after}, c.rewrite);
    std::string out = c.rewrite ? w.d : w.dir / "out";
    EXPECT_EQ(fault, "Could not write " + out + "/" + c.target + "\n") << c.step << c.file;
    if (c.step != S::kRename || c.file == 0) {
      EXPECT_EQ(snapshot(w.dir.path()), before) << c.step << c.file;
    }
    for (const auto& [path, text] : snapshot(w.dir.path()))
      EXPECT_EQ(path.find(OutputSet::kSuffix), std::string::npos) << path;
  }
  // A set given up before its commit (a fault later in the run) leaves
  // nothing either.
  FailingWrite given_up;
  auto before = snapshot(given_up.dir.path());
  EXPECT_EQ(given_up.write({}, true, 64, false), "none");
  EXPECT_EQ(snapshot(given_up.dir.path()), before);
  // Without a failure the same runs succeed, with nothing left over.
  FailingWrite w;
  EXPECT_EQ(w.write({}, true, 1), "none");
  EXPECT_NE(read_file(w.d + "/half-1.nld").find("(def-module\thalf-1"), std::string::npos);
}

// An inverter pair in front of 20000 gates, as `dir`/d/top.nld: a rewritten
// file of 1 MB.
void write_long_chain(TempDir& dir) {
  std::string s = "(def-module top (def-pin a type input) (def-pin y type output) (def-comp inv- i j)"
                  " (def-comp and--2" + seq("g", 0, 20000) +
                  ") (def-net a i.in) (def-net i.nout j.in) (def-net j.nout g0.in1 g0.in2)";
  for (int i = 0; i + 1 < 20000; ++i)
    s += " (def-net g" + std::to_string(i) + ".out g" + std::to_string(i + 1) + ".in1 g" +
         std::to_string(i + 1) + ".in2)";
  dir.write("d/top.nld", s + " (def-net g19999.out y))\n");
}

TEST(Hostile, FullFileSystem) {
  TempDir dir;
  write_long_chain(dir);
  // A temporary that is a link to a device that is always full.
  dir.write("out/old.nld", "kept\n");
  fs::create_symlink("/dev/full", dir / "out/top.nld.zelk-tmp");
  test::RunResult r = run(dir, "top", {"-f"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Could not write " + (dir / "out/top.nld") + "\n"), std::string::npos);
  EXPECT_EQ(test::list_dir(dir / "out"), std::vector<std::string>{"old.nld"});
  // A small file system that holds the design and is its write directory:
  // the rewritten file does not fit beside it (mounting needs root).
  std::string mnt = dir.mkdir("small");
  std::size_t size = fs::file_size(dir / "d/top.nld") + 64 * 1024;
  if (std::system(("mount -t tmpfs -o size=" + std::to_string(size) + " tmpfs " + mnt +
                   " 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "cannot mount a small tmpfs here (needs root); /dev/full case only";
  fs::copy_file(dir / "d/top.nld", mnt + "/top.nld");
  auto before = snapshot(mnt);
  r = test::run_inproc({"top", mnt, "-w", mnt, "-f"});
  EXPECT_EQ(r.status, 1);
  EXPECT_NE(r.err.find("Could not write " + mnt + "/top.nld\n"), std::string::npos);
  EXPECT_EQ(snapshot(mnt), before);
  EXPECT_EQ(std::system(("umount " + mnt).c_str()), 0);
}

// A file growing past the process's size limit fails its write as on a
// full disk: zelk says so, and leaves the write directory as it was (the
// system's default would end it with the temporary left behind).
TEST(Hostile, FileSizeLimit) {
  TempDir dir;
  write_long_chain(dir);
  dir.write("out/old.nld", "kept\n");
  const std::string cmd = "ulimit -f 64; exec " + std::string(ZELK_BINARY) + " top " + (dir / "d") +
                          " -w " + (dir / "out") + " -f >/dev/null 2>" + (dir / "err");
  const int rc = std::system(cmd.c_str());
  ASSERT_TRUE(WIFEXITED(rc)) << "ended by signal " << WTERMSIG(rc);
  EXPECT_EQ(WEXITSTATUS(rc), 1);
  EXPECT_NE(read_file(dir / "err").find("Could not write " + (dir / "out/top.nld") + "\n"), std::string::npos)
      << read_file(dir / "err");
  EXPECT_EQ(test::list_dir(dir / "out"), std::vector<std::string>{"old.nld"});
}

}  // namespace
}  // namespace zelk
