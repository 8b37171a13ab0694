// Coverage-guided fuzzing of the Verilog reader (zelk-verilog in): the
// input is one Verilog file, converted in-process into a fresh directory.
//
// Findings (abort): a crash, a sanitizer report, a leak, a run that does not
// end; a refusal without a "file:line: " message; a refused input that left
// files behind; a temporary left in the directory; a file written that was
// not announced; a read whose instances are read in two halves at once
// that does not give the same files or fault; and a module written as NLD
// that zelk cannot read, with the cell descriptions written beside it; and
// a module that, written out again as Verilog, is refused when read in
// again.
#include <stdio.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "loader/loader.h"
#include "netlist/netlist.h"
#include "verilog/verilog.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace {

struct Dirs {
  std::string root, file, out, again, out2, halves;
};

const Dirs& dirs() {
  static const Dirs d = [] {
    Dirs r;
    r.root = zelk::fuzz::scratch_root("zelk-vfuzz");
    r.file = r.root + "/in.v";
    r.out = r.root + "/out";
    r.again = r.root + "/again.v";
    r.out2 = r.root + "/out2";
    r.halves = r.root + "/halves";
    return r;
  }();
  return d;
}

[[noreturn]] void finding(const char* what, const std::string& detail) {
  fprintf(stderr, "FINDING: %s\n%s\n", what, detail.c_str());
  abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Dirs& d = dirs();
  zelk::fuzz::put(d.file, std::string_view(reinterpret_cast<const char*>(data), size));
  zelk::fuzz::fresh(d.out);

  std::vector<std::string> names;
  bool refused = false;
  std::string message;
  try {
    zelk::read_verilog({d.file}, d.out, &names, SIZE_MAX);
  } catch (const zelk::Fault& f) {
    refused = true;
    message = f.message;
    if (f.message.rfind(d.file + ":", 0) != 0 && f.message.rfind("Could not", 0) != 0)
      finding("a refusal without file and line", f.message);
  }
  // Every module with instances read in two halves at once.
  zelk::fuzz::fresh(d.halves);
  std::vector<std::string> halves;
  std::string halves_message = "(none)";
  try {
    zelk::read_verilog({d.file}, d.halves, &halves, 1);
  } catch (const zelk::Fault& f) {
    halves_message = f.message;
  }
  if (refused != (halves_message != "(none)") || (refused && halves_message != message))
    finding("read in halves, another fault", message + " / " + halves_message);
  if (!refused) {
    if (halves.size() != names.size()) finding("read in halves, other files", d.file);
    for (std::size_t k = 0; k < names.size(); ++k) {
      const std::string name = fs::path(names[k]).filename().string();
      if (fs::path(halves[k]).filename().string() != name ||
          zelk::fuzz::get(names[k]) != zelk::fuzz::get(halves[k]))
        finding("read in halves, another file", name);
    }
  }
  std::vector<std::string> written;
  for (const auto& e : fs::directory_iterator(d.out)) written.push_back(e.path().string());
  if (refused) {
    if (!written.empty()) finding("a refused input left files behind", written.front());
    return 0;
  }
  for (const std::string& w : written) {
    if (w.ends_with(".zelk-tmp")) finding("temporary left behind", w);
    bool announced = false;
    for (const std::string& n : names) announced |= n == w;
    if (!announced) finding("a file written that was not announced", w);
  }
  // Every module written reads back, as zelk reads a design; the first
  // one, written out as Verilog again, is read in again.
  bool first = true;
  for (const std::string& w : names) {
    if (!w.ends_with(".nld")) continue;
    std::string top = fs::path(w).stem().string();
    zelk::Design back;
    back.log = fopen("/dev/null", "w");
    if (!back.log) abort();
    back.options.top_name = top;
    back.options.opt_dir = {d.out};
    try {
      zelk::read_module(back, top);
    } catch (const zelk::Fault& f) {
      fclose(back.log);
      finding("a written module cannot be read back", w + ": " + f.message);
    }
    fclose(back.log);
    if (!std::exchange(first, false)) continue;
    std::string text;
    try {
      text = zelk::write_verilog(back);
    } catch (const zelk::Fault&) {
      continue;  // NLD holds designs that Verilog cannot
    }
    zelk::fuzz::put(d.again, text);
    zelk::fuzz::fresh(d.out2);
    std::vector<std::string> again;
    try {
      zelk::read_verilog({d.again}, d.out2, &again);
    } catch (const zelk::Fault& f) {
      finding("what out wrote, in refuses", f.message + text);
    }
  }
  return 0;
}
