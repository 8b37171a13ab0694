// Shared test helpers: temporary directories, designs loaded in-process
// from NLD text, and runs of zelk (the built binary, or in-process).
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "netlist/netlist.h"

namespace zelk::test {

// A fresh directory under the system temp dir, removed with its contents
// when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // path()/name
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  // Writes `text` to path()/name (creating parent directories).
  void write(const std::string& name, const std::string& text) const;
  std::string mkdir(const std::string& name) const;

 private:
  std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);
// Names of the regular files in a directory, sorted.
std::vector<std::string> list_dir(const std::string& path);

// A design loaded in-process from NLD/PCD texts.  `files` maps file names
// (for example "top.nld", "cell.pcd") to their text; they are written into
// one optimisation directory `opt`; the messages of loading are dropped.
struct Loaded {
  std::unique_ptr<TempDir> dir;
  std::unique_ptr<Design> design;
};
// Throws Fault like the loader does.
Loaded load_text(const std::map<std::string, std::string>& files, const std::string& top,
                 int all = 0);

// The same from directories on disk (a generated design, say).
Loaded load_dirs(const std::string& top, const std::vector<std::string>& opt_dirs,
                 const std::vector<std::string>& read_dirs, int all = 0);

// Loads, then flattens (the state the reduction starts from).
Loaded load_flat(const std::map<std::string, std::string>& files, const std::string& top,
                 int all = 0);

// Finders for assertions on loaded or flattened designs.
Instance* find_comp(const Module* m, const std::string& name);  // in comps
Instance* find_pin(const Module* m, const std::string& name);
// The terminal of instance `inst` on pin `pin` (ring walk), or null.
Link* find_term(const Instance* inst, const std::string& pin);

// Result of running a command.
struct RunResult {
  int status = -1;
  std::string err;  // standard error
  std::string out;  // standard output
};
// Runs the built zelk binary with `args` (not including the program name),
// in working directory `cwd` (empty: current).
RunResult run_zelk(const std::vector<std::string>& args, const std::string& cwd = "");
// Runs zelk in-process through zelk::run, capturing the log.
RunResult run_inproc(const std::vector<std::string>& args);

// The source tree (for examples).
std::string source_dir();

}  // namespace zelk::test
