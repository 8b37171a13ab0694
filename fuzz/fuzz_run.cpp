// Coverage-guided fuzzing of the whole run: the input becomes the files of
// a design, zelk runs on it in-process (every stage), and what it wrote is
// read back.
//
// Input format (text, so that mutations of the seeds stay readable):
//
//   af                 first line: the options; 'a' gives -a, 'f' gives -f;
//                      'l' and digits cap the size of every file the run
//                      writes (a full disk: the run must fail whole)
//   --- top.nld        a header line starts each file: "--- " and its name;
//   (def-module top    the first NLD file is the top module
//   ...
//   --- r/keep.nld     "r/": the file goes to the read-only directory
//   --- buf.pcd
//
// A file name is up to 64 bytes of letters, digits, '_' and '-' with the
// extension "nld" or "pcd"; a chunk under any other header is dropped.
//
// With ZELK_FUZZ_EQUIV=1 a rewritten design must also compute the function
// of its input (by the simulation checker of the tests), where that checker
// can take the input.
//
// Findings (abort): a crash, a sanitizer report, a leak, a run that does not
// end; a temporary left in the write directory; a failed run that left files
// behind; a written design that cannot be read back, or whose inverter count
// differs from the count the run reported as written; a written design
// that, written as Verilog, the Verilog reader refuses.
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "driver/run.h"
#include "loader/loader.h"
#include "netlist/netlist.h"
#include "reader/reader.h"
#include "support/sim.h"
#include "verilog/verilog.h"
#include "scratch.h"

namespace fs = std::filesystem;

namespace {

struct Dirs {
  std::string root, opt, ro, out, cells;
};

const Dirs& dirs() {
  static const Dirs d = [] {
    Dirs r;
    r.root = zelk::fuzz::scratch_root("zelk-fuzz");
    r.opt = r.root + "/opt";
    r.ro = r.root + "/ro";
    r.out = r.root + "/out";
    r.cells = r.root + "/cells";
    return r;
  }();
  return d;
}

using zelk::fuzz::fresh;
using zelk::fuzz::put;

bool name_ok(std::string_view name, std::string_view* stem, std::string_view* ext) {
  std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0 || dot > 64) return false;
  *stem = name.substr(0, dot);
  *ext = name.substr(dot + 1);
  if (*ext != "nld" && *ext != "pcd") return false;
  for (char c : *stem)
    if (!(isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-')) return false;
  return true;
}

[[noreturn]] void finding(const char* what, const std::string& detail) {
  fprintf(stderr, "FINDING: %s\n%s\n", what, detail.c_str());
  abort();
}

// True when the file parses and its def-module name is not its file name.
// The files of unchanged modules are found again by module name, so such a
// design is copied from other files than it was read from: its output is
// not checked by reading it back.
bool renamed(std::string_view body, std::string_view stem, bool pcd) {
  zelk::Design scratch;
  zelk::Source src(body.data(), body.size());
  try {
    zelk::Module* m = pcd ? zelk::pcd_par(scratch, src, "scratch") : zelk::nld_par(scratch, src, "scratch");
    return m && m->name && stem != m->name;
  } catch (const zelk::Fault&) {
    return false;
  }
}

// Runs zelk; returns the status and the messages.
int run_zelk(const std::vector<std::string>& args, std::string* log) {
  std::vector<const char*> argv{"zelk"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  char* text = nullptr;
  size_t size = 0;
  FILE* f = open_memstream(&text, &size);
  if (!f) abort();
  int status = zelk::run(static_cast<int>(argv.size()), argv.data(), f);
  fclose(f);
  log->assign(text, size);
  free(text);
  return status;
}

// The two numbers of the summary line "\t%d ---> %d\n".
bool summary(const std::string& log, int* first, int* final_count) {
  std::size_t at = log.rfind(" ---> ");
  if (at == std::string::npos) return false;
  std::size_t line = log.rfind('\t', at);
  if (line == std::string::npos) return false;
  *first = atoi(log.c_str() + line + 1);
  *final_count = atoi(log.c_str() + at + 6);
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Dirs& d = dirs();
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::size_t eol = in.find('\n');
  std::string_view options = in.substr(0, eol);
  if (options.size() > 16) return 0;
  bool all = options.find('a') != std::string_view::npos;
  bool flat = options.find('f') != std::string_view::npos;
  long cap = -1;
  if (std::size_t l = options.find('l'); l != std::string_view::npos)
    cap = atol(std::string(options.substr(l + 1)).c_str()) % (1 << 20);

  fresh(d.opt);
  fresh(d.ro);
  fresh(d.out);
  fresh(d.cells);
  std::string top;
  bool any_ro = false, any_renamed = false;
  constexpr std::string_view kHeader = "\n--- ";
  std::size_t pos = eol == std::string_view::npos ? in.size() : eol;
  int files = 0;
  while (pos < in.size()) {
    std::size_t start = in.find(kHeader, pos);
    if (start == std::string_view::npos) break;
    std::size_t name_at = start + kHeader.size();
    std::size_t name_end = in.find('\n', name_at);
    if (name_end == std::string_view::npos) name_end = in.size();
    std::size_t next = in.find(kHeader, name_end);
    std::size_t body_end = next == std::string_view::npos ? in.size() : next;
    std::string_view name = in.substr(name_at, name_end - name_at);
    std::string_view body =
        name_end < body_end ? in.substr(name_end + 1, body_end - name_end - 1) : std::string_view();
    pos = body_end;
    bool ro = name.substr(0, 2) == "r/";
    if (ro) name.remove_prefix(2);
    std::string_view stem, ext;
    if (!name_ok(name, &stem, &ext) || ++files > 64) continue;
    std::string file(name);
    put((ro ? d.ro : d.opt) + "/" + file, body);
    if (ext == "pcd") put(d.cells + "/" + file, body);
    any_ro |= ro;
    any_renamed |= renamed(body, stem, ext == "pcd");
    if (top.empty() && !ro && ext == "nld") top = std::string(stem);
  }
  if (top.empty()) return 0;

  std::vector<std::string> args{top, d.opt};
  if (any_ro) args.insert(args.end(), {"-r", d.ro});
  args.insert(args.end(), {"-w", d.out});
  if (all) args.push_back("-a");
  if (flat) args.push_back("-f");
  std::string log;
  int status;
  if (cap < 0) {
    status = run_zelk(args, &log);
  } else {
    // Writes past the cap fail (EFBIG) instead of raising a signal.
    static const bool ignored = signal(SIGXFSZ, SIG_IGN) != SIG_ERR;
    (void)ignored;
    rlimit old{}, capped{};
    getrlimit(RLIMIT_FSIZE, &old);
    capped = old;
    capped.rlim_cur = static_cast<rlim_t>(cap);
    setrlimit(RLIMIT_FSIZE, &capped);
    status = run_zelk(args, &log);
    setrlimit(RLIMIT_FSIZE, &old);
  }
  // ZELK_FUZZ_SHOW=1 prints each run's messages (to look at one input).
  static const bool show = getenv("ZELK_FUZZ_SHOW") != nullptr;
  if (show) fprintf(stderr, "status %d\n%s", status, log.c_str());

  std::vector<std::string> written;
  for (const auto& e : fs::directory_iterator(d.out)) written.push_back(e.path().filename());
  for (const std::string& w : written)
    if (w.size() > 9 && w.ends_with(".zelk-tmp")) finding("temporary left behind", w);
  if (status != 0) {
    if (!written.empty()) finding("a failed run left files in the write directory", log);
    return 0;
  }
  int first = 0, final_count = 0;
  if (!summary(log, &first, &final_count)) finding("no summary after status 0", log);
  if (any_renamed) return 0;
  bool rewritten = log.find("Start to write NLD files\n") != std::string::npos;

  // Read back what was written, from the top module's file (the first one
  // announced; it is named after the top's def-module name).  Library cells
  // are not copied in every case, so their descriptions are offered beside
  // it.
  std::size_t wrote = log.find("\tWrote " + d.out + "/");
  if (wrote == std::string::npos) finding("no file written", log);
  std::size_t stem_at = wrote + 8 + d.out.size();
  std::size_t stem_end = log.find('\n', stem_at);
  top = log.substr(stem_at, stem_end - stem_at);
  if (!top.ends_with(".nld")) finding("the first file written is no module file", log);
  top.resize(top.size() - 4);
  zelk::Design back;
  back.log = fopen("/dev/null", "w");
  if (!back.log) abort();
  back.options.top_name = top;
  back.options.opt_dir = {d.out, d.cells};
  back.options.write_dir = d.out;
  back.options.has_write_dir = true;
  try {
    zelk::read_module(back, top);
  } catch (const zelk::Fault& f) {
    fclose(back.log);
    finding("the written design cannot be read back", log + f.message);
  }
  fclose(back.log);
  // An unchanged copy holds exactly the inverters it was read with.  A
  // rewritten design need not hold the final count: that count includes the
  // inverters still needed inside module copies that no port reaches (they
  // are not written), and with -a it takes a net whose driver could be
  // negated for one that needs no inverter.  ZELK_FUZZ_COUNT=1 asks for it
  // all the same, to look at such cases.
  static const bool count_rewritten = getenv("ZELK_FUZZ_COUNT") != nullptr;
  if ((!rewritten || count_rewritten) &&
      back.first_inv_num != (rewritten ? final_count : first))
    finding("the written design has another inverter count",
            log + "read back: " + std::to_string(back.first_inv_num));

  // What zelk wrote, written as Verilog, reads back in as NLD: unless
  // Verilog cannot hold it, which the writer says; or a net has several
  // drivers, which NLD holds (an input may join them at a copy's pins) but
  // the Verilog reader refuses; or a fixed module, copied as it was read,
  // names a pin its instance's module lacks; or two components share a
  // name, or one takes a pin's name (components on no net, which zelk
  // reads without a check, and the writer writes as they are).
  std::string verilog;
  try {
    verilog = zelk::write_verilog(back);
  } catch (const zelk::Fault&) {
  }
  if (!verilog.empty()) {
    const std::string file = d.root + "/again.v", again = d.root + "/again";
    put(file, verilog);
    fresh(again);
    std::vector<std::string> names;
    try {
      zelk::read_verilog({file}, again, &names);
    } catch (const zelk::Fault& f) {
      const bool drivers = f.message.find("more than one driver") != std::string::npos ||
                           f.message.find("is driven inside the module") != std::string::npos ||
                           f.message.find("tied to both constants") != std::string::npos;
      const bool pins = f.message.find("\" has no port \"") != std::string::npos ||
                        f.message.find("\" used twice") != std::string::npos ||
                        f.message.find("\" has the name of an instance") != std::string::npos;
      if (!drivers && !pins)
        finding("zelk's output as Verilog is refused by the Verilog reader", log + f.message + verilog);
    }
  }

  static const bool equiv = getenv("ZELK_FUZZ_EQUIV") != nullptr;
  if (equiv && rewritten) {
    // The checker gives every undriven net a free value of its own, which a
    // rewrite need not keep: such inputs are not compared.
    zelk::test::SimDesign a;
    try {
      a = zelk::test::load_sim(args[0], {d.opt, d.ro});
    } catch (const zelk::test::SimError&) {
      return 0;
    }
    for (const auto& [name, net] : a.vars)
      if (name.rfind("?undriven", 0) == 0) return 0;
    std::string diff = zelk::test::check_equivalent(args[0], {d.opt, d.ro}, top, {d.out, d.cells});
    // A component on no net is a free value nothing observes; the rewrite
    // drops it, and the checker reports that before any value.
    bool dropped = diff.starts_with("free input ") && diff.ends_with(" only in the first design");
    if (!diff.empty() && !dropped)
      finding("the written design computes another function", log + diff);
  }
  return 0;
}
