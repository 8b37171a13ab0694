// Golden cases: every folder golden/<case> is one whole run of the built
// zelk.  in/ is copied to a fresh folder with an empty out/ beside it, zelk
// runs there with the arguments of `cmd`, and the standard error after the
// banner, the exit status and the written files must equal `stderr`,
// `status` and out/ byte for byte; golden/banner holds the banner.  A run
// that lowered the count must also have written a design that computes the
// input's function and that zelk reads back.  ZELK_BLESS=1 rewrites the
// expectations from the current run and prints what changed.  A case with a
// file `disabled` shows a known function change that no rule covers yet: it
// is skipped, and with ZELK_RUN_DISABLED=1 run for the function check alone.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>

#include "support/fixture.h"
#include "support/sim.h"

namespace zelk::test {
namespace {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;

std::string golden_dir() { return source_dir() + "/golden"; }

std::vector<std::string> case_names() {
  std::vector<std::string> names;
  std::error_code ec;
  for (auto& e : fs::directory_iterator(golden_dir(), ec))
    if (e.is_directory()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// The regular files under `dir` by their path relative to it (none when
// `dir` does not exist).
Files tree(const std::string& dir) {
  Files files;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(dir, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    if (it->is_regular_file())
      files[fs::relative(it->path(), dir).string()] = read_file(it->path().string());
  return files;
}

// The command line of a case, as zelk reads it.
struct Args {
  std::vector<std::string> words, opt, reads, flags;
  std::string top, out;
};

Args parse(const std::string& cmd) {
  Args a;
  std::istringstream in(cmd);
  for (std::string w; in >> w;) a.words.push_back(w);
  std::vector<std::string>* run = nullptr;
  for (size_t i = 0; i < a.words.size(); ++i) {
    const std::string& w = a.words[i];
    if (w == "-a" || w == "-f") {
      a.flags.push_back(w);
      run = nullptr;
    } else if (w == "-w" && i + 1 < a.words.size()) {
      a.out = a.words[++i];
      run = nullptr;
    } else if (w == "-r") {
      run = &a.reads;
    } else if (run) {
      run->push_back(w);
    } else if (a.top.empty()) {
      a.top = w;
    } else {
      run = &a.opt;
      run->push_back(w);
    }
  }
  return a;
}

std::vector<std::string> under(const std::string& base, std::vector<std::string> dirs) {
  for (std::string& d : dirs)
    if (d.empty() || d[0] != '/') d = base + "/" + d;
  return dirs;
}

// The written design computes what the input computes, has as many
// inverters as the summary says, and zelk reads it back; the design it
// writes from there computes the same again.
void check_written(const Args& a, const TempDir& work, int after) {
  std::vector<std::string> in_dirs = a.opt;
  in_dirs.insert(in_dirs.end(), a.reads.begin(), a.reads.end());
  SimDesign in = load_sim(a.top, under(work.path(), in_dirs));
  std::string out = a.out;
  for (int pass = 1; pass <= 2; ++pass) {
    SCOPED_TRACE("pass " + std::to_string(pass));
    std::vector<std::string> dirs{out};
    dirs.insert(dirs.end(), a.reads.begin(), a.reads.end());
    dirs.insert(dirs.end(), a.opt.begin(), a.opt.end());  // PCD cells are not written
    SimDesign written;
    try {
      written = load_sim(a.top, under(work.path(), dirs));
    } catch (const SimError& e) {
      FAIL() << e.what();
    }
    EXPECT_EQ(compare(in, written), "");
    if (pass == 2) break;
    EXPECT_EQ(written.inverters, after);
    std::vector<std::string> again{a.top, out, "-r"};
    again.insert(again.end(), dirs.begin() + 1, dirs.end());
    again.insert(again.end(), {"-w", work.mkdir("again")});
    again.insert(again.end(), a.flags.begin(), a.flags.end());
    RunResult r = run_zelk(again, work.path());
    ASSERT_EQ(r.status, 0) << r.err;
    out = "again";
  }
}

// Rewrites the expectations of case `dir` and shows the change.
void bless(const std::string& dir, const std::string& banner, const std::string& err, int status,
           const Files& out) {
  TempDir old;
  fs::copy(dir, old / "was", fs::copy_options::recursive);
  write_file(golden_dir() + "/banner", banner);
  write_file(dir + "/stderr", err);
  write_file(dir + "/status", std::to_string(status) + "\n");
  fs::remove_all(dir + "/out");
  for (auto& [name, text] : out) {
    fs::create_directories(fs::path(dir + "/out/" + name).parent_path());
    write_file(dir + "/out/" + name, text);
  }
  std::fflush(stdout);
  if (std::system(("diff -ruN '" + (old / "was") + "' '" + dir + "'").c_str()) == 0)
    std::printf("%s: unchanged\n", dir.c_str());
}

class Golden : public testing::TestWithParam<std::string> {};

bool env_is_1(const char* name) {
  const char* v = std::getenv(name);
  return v && std::string(v) == "1";
}

TEST_P(Golden, Run) {
  const std::string dir = golden_dir() + "/" + GetParam();
  const bool disabled = fs::exists(dir + "/disabled");
  if (disabled && !env_is_1("ZELK_RUN_DISABLED"))
    GTEST_SKIP() << "known function change: " << read_file(dir + "/disabled");
  TempDir work;
  if (fs::exists(dir + "/in")) fs::copy(dir + "/in", work.path(), fs::copy_options::recursive);
  work.mkdir("out");
  Args args = parse(read_file(dir + "/cmd"));
  RunResult r = run_zelk(args.words, work.path());
  size_t at = 0;
  for (int line = 0; line < 6 && at < r.err.size(); ++line) at = r.err.find('\n', at) + 1;
  if (at == 0) at = r.err.size();  // fewer lines than a banner
  const std::string banner = r.err.substr(0, at), err = r.err.substr(at);
  Files out = tree(work / "out");
  int before = 0, after = 0;
  size_t summary = err.rfind("\n\t");
  bool lowered = r.status == 0 && summary != std::string::npos &&
                 std::sscanf(err.c_str() + summary, "\n\t%d ---> %d", &before, &after) == 2 &&
                 after < before;
  if (disabled) return lowered ? check_written(args, work, after) : void();
  if (env_is_1("ZELK_BLESS")) return bless(dir, banner, err, r.status, out);

  EXPECT_EQ(banner, read_file(golden_dir() + "/banner"));
  EXPECT_EQ(err, read_file(dir + "/stderr"));
  EXPECT_EQ(r.status, std::atoi(read_file(dir + "/status").c_str()));
  EXPECT_EQ(r.out, "");  // standard output is never written
  Files want = tree(dir + "/out");
  for (auto& [name, text] : want) {
    auto it = out.find(name);
    if (it == out.end())
      ADD_FAILURE() << "not written: " << name;
    else
      EXPECT_EQ(it->second, text) << name;
  }
  for (auto& [name, text] : out)
    if (!want.count(name)) ADD_FAILURE() << "written too: " << name;

  if (lowered) check_written(args, work, after);
}

std::string case_test_name(const testing::TestParamInfo<std::string>& info) {
  std::string s = info.param;
  for (char& c : s)
    if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
  return s;
}

INSTANTIATE_TEST_SUITE_P(Cases, Golden, testing::ValuesIn(case_names()), case_test_name);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(Golden);

}  // namespace
}  // namespace zelk::test
