// Copying unchanged input files into the write directory.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/fixture.h"
#include "writer/copy.h"
#include "writer/writer.h"

namespace zelk {
namespace {

using test::list_dir;
using test::read_file;
using test::TempDir;

// A design whose module list is made by hand: copying reads only names
// and states.
struct Env {
  TempDir dir;
  Design d;
  Module* tail = nullptr;
  std::string log;

  Env() {
    d.options.opt_dir.push_back(dir.mkdir("opt"));
    d.options.read_dir.push_back(dir.mkdir("ro"));
    d.options.write_dir = dir.mkdir("out");
    d.options.has_write_dir = true;
  }
  std::string path(const std::string& rel) const { return dir / rel; }
  void add(const char* name, int16_t state) {
    Module* m = d.new_module();
    m->name = d.strsave(name);
    m->state = state;
    if (tail) tail->next = m;
    else d.top = m;
    tail = m;
  }
  // Runs f with the log captured; returns the fault message or "ok".
  template <class F>
  std::string run(F f) {
    FILE* file = std::tmpfile();
    d.log = file;
    std::string result = "ok";
    try {
      f();
    } catch (const Fault& e) {
      result = e.message;
    }
    std::fflush(file);
    std::rewind(file);
    log.clear();
    for (int c; (c = std::fgetc(file)) != EOF;) log += static_cast<char>(c);
    std::fclose(file);
    d.log = stderr;
    return result;
  }
  std::string copy_all() {
    return run([&] { copy_file(d); });
  }
};

// Bytes no reader would need to keep: line ends, a carriage return, high
// bytes and a NUL inside a comment, no newline at the end.
const std::string kOdd = std::string("(def-module top)\r\n; \x01\xff\xfe", 11 + 6) +
                         std::string(1, '\0') + "x\n\n;end";

TEST(CopyTest, WholeDesignByteExact) {
  Env e;
  std::string big(3 << 18, 'q');  // larger than one buffer
  for (std::size_t i = 0; i < big.size(); i += 97) big[i] = static_cast<char>(i);
  e.dir.write("opt/top.nld", kOdd);
  e.dir.write("opt/mid.nld", big);
  e.dir.write("ro/mid.nld", "read-only copy: not taken\n");
  e.dir.write("ro/fix.nld", "fixed\n");
  e.dir.write("opt/cell.pcd", "cell\n");
  e.dir.write("ro/top.nld", "not the top\n");
  e.add("top", kStateOpen);
  e.add("mid", kStateOpen);
  e.add("cell", kStateCell);
  e.add("fix", kStateFixed);
  e.add("mid", kStateOpen);
  e.add("top", kStateOpen);  // a module named like the top is not copied again
  e.add("fix", kStateFixed);
  ASSERT_EQ(e.copy_all(), "ok");
  EXPECT_EQ(e.log, "\tWrote " + e.path("out/top.nld") + "\n\tWrote " + e.path("out/mid.nld") +
                       "\n\tWrote " + e.path("out/fix.nld") + "\n");
  EXPECT_EQ(list_dir(e.path("out")), (std::vector<std::string>{"fix.nld", "mid.nld", "top.nld"}));
  EXPECT_EQ(read_file(e.path("out/top.nld")), kOdd);
  EXPECT_EQ(read_file(e.path("out/mid.nld")), big);
  EXPECT_EQ(read_file(e.path("out/fix.nld")), "fixed\n");

  // an existing target is replaced
  e.dir.write("out/fix.nld", "a much longer text than the source holds\n");
  ASSERT_EQ(e.copy_all(), "ok");
  EXPECT_EQ(read_file(e.path("out/fix.nld")), "fixed\n");
}

TEST(CopyTest, TopLookedUpByModuleName) {
  Env e;
  e.dir.write("opt/t.nld", "(def-module top)\n");
  e.add("top", kStateOpen);
  e.d.options.top_name = "t";
  EXPECT_EQ(e.copy_all(), "");  // no longer found: no message
  EXPECT_EQ(e.log, "");
  // the top module is searched in the optimisation directories only
  Env f;
  f.dir.write("ro/top.nld", "x\n");
  f.add("top", kStateOpen);
  EXPECT_EQ(f.copy_all(), "");
}

TEST(CopyTest, TargetIsTheSource) {
  const std::string text = "(def-module top (def-comp sub s))\n";
  auto check = [&](Env& e, const std::string& write_dir) {
    e.dir.write("opt/top.nld", text);
    e.dir.write("ro/sub.nld", "sub\n");
    e.add("top", kStateOpen);
    e.add("sub", kStateFixed);
    e.d.options.write_dir = write_dir;
    ASSERT_EQ(e.copy_all(), "ok") << write_dir;
    EXPECT_EQ(read_file(e.path("opt/top.nld")), text) << write_dir;
    EXPECT_EQ(e.log, "\tWrote " + write_dir + "/top.nld\n\tWrote " + write_dir + "/sub.nld\n")
        << write_dir;
  };
  {
    Env e;
    check(e, e.path("opt"));  // same string
    // the read-only file is copied next to the top module
    EXPECT_EQ(read_file(e.path("opt/sub.nld")), "sub\n");
  }
  {
    Env e;
    check(e, e.path("opt") + "/");
    EXPECT_EQ(read_file(e.path("opt/sub.nld")), "sub\n");
  }
  {
    Env e;
    check(e, e.dir.path() + "/./opt");
  }
  {
    Env e;
    std::filesystem::create_directory_symlink(e.path("opt"), e.path("link"));
    check(e, e.path("link"));
  }
  {
    Env e;
    std::string cwd = std::filesystem::current_path().string();
    ASSERT_EQ(::chdir(e.dir.path().c_str()), 0);
    e.d.options.opt_dir = {"opt"};
    check(e, "./opt");
    ASSERT_EQ(::chdir(cwd.c_str()), 0);
  }
  {
    // a symbolic link in the write directory naming the source file
    Env e;
    e.dir.write("opt/top.nld", text);
    std::filesystem::create_symlink(e.path("opt/top.nld"), e.path("out/top.nld"));
    e.add("top", kStateOpen);
    ASSERT_EQ(e.copy_all(), "ok");
    EXPECT_EQ(read_file(e.path("opt/top.nld")), text);
  }
}

// A directory in the way of the target (a missing write directory is a
// golden case).
TEST(CopyTest, TargetCannotBeOpened) {
  Env f;
  f.dir.write("opt/top.nld", "top\n");
  f.dir.mkdir("out/top.nld");
  f.add("top", kStateOpen);
  EXPECT_EQ(f.copy_all(), "Could not open " + f.path("out/top.nld") + "\n");
}

// A link to a directory is in the way as much as the directory; a link to a
// file is not (the file is replaced by the copy, the link by a file).
TEST(CopyTest, LinkToADirectoryCannotBeOpened) {
  Env f;
  f.dir.write("opt/top.nld", "top\n");
  f.dir.mkdir("elsewhere");
  f.dir.mkdir("out");
  std::filesystem::create_directory_symlink(f.path("elsewhere"), f.path("out/top.nld"));
  f.add("top", kStateOpen);
  EXPECT_EQ(f.copy_all(), "Could not open " + f.path("out/top.nld") + "\n");
  std::filesystem::remove(f.path("out/top.nld"));
  f.dir.write("elsewhere/file", "old\n");
  std::filesystem::create_symlink(f.path("elsewhere/file"), f.path("out/top.nld"));
  ASSERT_EQ(f.copy_all(), "ok");
  EXPECT_EQ(read_file(f.path("out/top.nld")), "top\n");
  EXPECT_EQ(read_file(f.path("elsewhere/file")), "old\n");
}

}  // namespace
}  // namespace zelk
