// The output set writes its files on a thread of its own: what a caller
// sees must still be what the calls made in turn would show.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "netlist/threads.h"
#include "support/fixture.h"
#include "writer/output_set.h"
#include "writer/temporaries.h"
#include "writer/writer.h"

namespace zelk {
namespace {

using test::list_dir;
using test::read_file;
using test::TempDir;

std::string log_text(std::FILE* log) {
  std::fflush(log);
  std::rewind(log);
  std::string text;
  char buf[256];
  while (std::size_t n = std::fread(buf, 1, sizeof buf, log)) text.append(buf, n);
  return text;
}

// Writes files a, b, c with a line noted after each; returns the fault.
std::string write_three(OutputSet& out, const std::string& dir) {
  try {
    for (const char* name : {"a", "b", "c"}) {
      std::string target = dir + "/" + name + ".nld";
      out.begin(target);
      out.put(name);
      out.put('\n');
      out.end();
      out.note(std::string("\tWrote ") + name + "\n");
    }
    out.commit();
  } catch (const Fault& f) {
    return f.message;
  }
  return "none";
}

// A line is printed only when every file begun before it is complete: a
// failed file, and every file after it, is never announced.  A set that
// cannot start its thread does the same on the caller's side.
TEST(OutputSet, NotesOnlyCompleteFiles) {
  using S = WriteFailure::Step;
  for (bool no_thread : {false, true}) {
    for (S step : {S::kWrite, S::kFlush, S::kClose}) {
      TempDir dir;
      std::FILE* log = std::tmpfile();
      {
        OutputSet out(64, {step, 1, 0, no_thread}, log);
        EXPECT_EQ(write_three(out, dir.path()), "Could not write " + dir.path() + "/b.nld\n");
      }
      EXPECT_EQ(log_text(log), "\tWrote a\n") << step << no_thread;
      EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{}) << step << no_thread;
      std::fclose(log);
    }
    TempDir dir;
    std::FILE* log = std::tmpfile();
    OutputSet out(64, {S::kNone, 0, 0, no_thread}, log);
    EXPECT_EQ(write_three(out, dir.path()), "none");
    EXPECT_EQ(log_text(log), "\tWrote a\n\tWrote b\n\tWrote c\n");
    EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"a.nld", "b.nld", "c.nld"}));
    EXPECT_EQ(read_file(dir / "c.nld"), "c\n");
    std::fclose(log);
  }
}

// A fault of the pass itself comes after a failure of a file it wrote
// earlier, as it would if each file were written before the pass went on;
// alone, it leaves the write directory as it was, its files announced.
TEST(OutputSet, PassFaultComesAfterEarlierFileFailure) {
  TempDir dir;
  dir.write("out/old.nld", "kept\n");
  Design d;
  d.options.write_dir = dir / "out";
  d.log = std::tmpfile();
  static std::string where;
  where = dir.path();
  auto fault_of = [&](void (*pass)(Design&, OutputSet&)) {
    try {
      write_all(d, pass);
    } catch (const Fault& f) {
      return f.message;
    }
    return std::string("none");
  };
  // The folder of the first target is missing: its temporary cannot be
  // opened, which the thread finds after the pass has gone on.
  EXPECT_EQ(fault_of([](Design&, OutputSet& out) {
              out.begin(where + "/missing/x.nld");
              out.put("x\n");
              out.end();
              fail("a later fault\n");
            }),
            "Could not open " + dir.path() + "/missing/x.nld\n");
  EXPECT_EQ(fault_of([](Design&, OutputSet& out) {
              out.begin(where + "/out/x.nld");
              out.put("x\n");
              out.end();
              out.note("\tWrote x\n");
              fail("a later fault\n");
            }),
            "a later fault\n");
  EXPECT_EQ(log_text(d.log), "\tWrote x\n");
  EXPECT_EQ(list_dir(dir / "out"), std::vector<std::string>{"old.nld"});
  std::fclose(d.log);
}

// A target written twice keeps its last text.  A name near the file
// system's limit gives each of its temporaries a short name of its own:
// the first one is removed too, whether the run is committed or fails.
TEST(OutputSet, TargetWrittenTwiceLeavesNoTemporary) {
  for (std::size_t length : {10, 250}) {
    for (bool rename_fails : {false, true}) {
      TempDir dir;
      std::string name = std::string(length - 4, 'n') + ".nld";
      OutputSet out(64, {rename_fails ? WriteFailure::kRename : WriteFailure::kNone, 1, 0});
      std::string fault = "none";
      try {
        for (const char* text : {"first\n", "other\n", "last\n"}) {
          out.begin(dir / (text[0] == 'o' ? "other.nld" : name));
          out.put(text);
          out.end();
        }
        out.commit();
      } catch (const Fault& f) {
        fault = f.message;
      }
      if (rename_fails) {
        EXPECT_EQ(fault, "Could not write " + dir.path() + "/" + name + "\n") << length;
        EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"other.nld"}) << length;
      } else {
        EXPECT_EQ(fault, "none");
        EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{name, "other.nld"})) << length;
        EXPECT_EQ(read_file(dir / name), "last\n");
      }
    }
  }
}

// A file far larger than what the set keeps in hand before the system has
// written it arrives whole, byte for byte, through a small buffer, through
// writes larger than the buffer and through texts handed over whole, each
// after a buffer part filled.
TEST(OutputSet, LargeFileArrivesWhole) {
  TempDir dir;
  OutputSet out(4096);
  std::string expected;
  out.begin(dir / "big.nld");
  std::string block(3 << 20, ' ');
  for (int i = 0; i < 12; ++i) {
    for (std::size_t k = 0; k < block.size(); k += 997) block[k] = static_cast<char>('a' + (i + k) % 26);
    if (i % 3 == 2) {
      out.write(std::vector<char>(block.begin(), block.end()));
      out.write(std::vector<char>());
    } else {
      out.write(block.data(), block.size());
    }
    expected += block;
    out.put_int(i);
    expected += std::to_string(i);
    out.put_int(-i * 1000003);
    expected += std::to_string(-i * 1000003);
  }
  for (int v : {INT_MIN, INT_MAX, -1, 10, 0}) {
    out.put_int(v);
    expected += std::to_string(v);
  }
  out.end();
  out.commit();
  EXPECT_TRUE(read_file(dir / "big.nld") == expected);  // not printed: 36 MB
}

// Each target lands in its own folder, whether named by a path or by its
// bare name (the working directory), and a set used again after a commit
// finds its folders anew: here the second folder is replaced in between.
TEST(OutputSet, TargetsInSeveralFolders) {
  TempDir dir;
  const std::string one = dir / "one", two = dir / "two";
  ASSERT_TRUE(std::filesystem::create_directory(one) && std::filesystem::create_directory(two));
  char* cwd = getcwd(nullptr, 0);
  ASSERT_NE(cwd, nullptr);
  ASSERT_EQ(chdir(one.c_str()), 0);
  OutputSet out(64);
  for (int round = 0; round < 2; ++round) {
    if (round == 1) {
      ASSERT_GT(std::filesystem::remove_all(two), 0u);
      ASSERT_TRUE(std::filesystem::create_directory(two));
    }
    for (const std::string& target : {std::string("bare.nld"), two + "/b.nld", one + "/c.nld"}) {
      out.begin(target);
      out.put(target.c_str());
      out.put_int(round);
      out.end();
    }
    out.commit();
  }
  ASSERT_EQ(chdir(cwd), 0);
  std::free(cwd);
  EXPECT_EQ(list_dir(one), (std::vector<std::string>{"bare.nld", "c.nld"}));
  EXPECT_EQ(list_dir(two), std::vector<std::string>{"b.nld"});
  EXPECT_EQ(read_file(one + "/bare.nld"), "bare.nld1");
  EXPECT_EQ(read_file(two + "/b.nld"), two + "/b.nld1");
  EXPECT_EQ(read_file(one + "/c.nld"), one + "/c.nld1");
}

// A signal that ends the run removes the temporaries of the files written
// and of the one being written, and the process ends by that signal; one
// that arrives while the temporaries are renamed waits for all of them.
// Each case runs in a process of its own, which the signal ends.
TEST(OutputSet, EndingSignalLeavesNoTemporary) {
  auto ended_by = [](auto body) {
    const pid_t pid = fork();
    if (pid == 0) {
      remove_temporaries_on_signals();
      body();
      _exit(0);  // not reached when the signal ends the process
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
  };
  TempDir dir;
  dir.write("old.nld", "kept\n");
  const std::string a = dir / "a.nld", b = dir / "b.nld";
  EXPECT_EQ(ended_by([&] {
              OutputSet out(64);
              out.begin(a);
              out.put("a\n");
              out.end();
              out.begin(b);
              out.put("b, not ended\n");
              out.settle();
              std::raise(SIGTERM);
            }),
            SIGTERM);
  EXPECT_EQ(list_dir(dir.path()), std::vector<std::string>{"old.nld"});
  EXPECT_EQ(ended_by([&] {
              OutputSet out(64);
              for (const std::string& target : {a, b}) {
                out.begin(target);
                out.put("whole\n");
                out.end();
              }
              EndingSignalsHeld held;
              std::raise(SIGHUP);  // taken once `held` ends
              out.commit();
            }),
            SIGHUP);
  EXPECT_EQ(list_dir(dir.path()), (std::vector<std::string>{"a.nld", "b.nld", "old.nld"}));
  EXPECT_EQ(read_file(a), "whole\n");
}

}  // namespace
}  // namespace zelk
