// Shared by both writers: the list of module names already written or
// copied in one output pass, the two messages, and the copy of one module's
// input file.
#pragma once

#include <string>
#include <unordered_set>
#include <string_view>

#include "netlist/netlist.h"
#include "writer/output_set.h"

namespace zelk {

// Names (shared strings) of the modules whose file one output pass has
// written or copied.
class NameList {
 public:
  explicit NameList(const char* first) { add(first); }
  // 1 if the list holds exactly this name, else 0.
  int write_or_not(const char* name) const { return names_.count(name) ? 1 : 0; }
  void add(const char* name) { names_.insert(name); }

 private:
  std::unordered_set<std::string_view> names_;
};

// "\tWrote %s\n", once every file begun in `out` is complete.
void print_wrote(OutputSet& out, const std::string& path);
// Throws the fault "Could not open %s\n".
[[noreturn]] void print_could_not_open(const std::string& path);

// Copies the input file of module `name` into a temporary of `out`: state
// 301 its PCD file, 310 and 311 its NLD file (any other state: nothing).
// Searches the optimisation, then the read-only directories.  Never
// truncates its own source.
void copy_file2(Design& d, OutputSet& out, const char* name, int state);

}  // namespace zelk
