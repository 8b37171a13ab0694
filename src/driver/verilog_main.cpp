// zelk-verilog: NLD designs to structural Verilog and back.
//
//   zelk-verilog out [-proof] <top> <dir> ... [-r <dir> ...] -o <file.v>
//   zelk-verilog in <file.v> ... -w <dir>
//   zelk-verilog cells [-proof] -o <file.v>

#include <cstdio>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "loader/loader.h"
#include "verilog/verilog.h"
#include "writer/temporaries.h"

namespace {

void usage() {
  std::fputs(
      "usage:\n"
      "        zelk-verilog out [-proof] <top_module_name> <nld_or_pcd_dir> ...\n"
      "                     [-r <nld_or_pcd_dir> ...] -o <file.v>\n"
      "        zelk-verilog in <file.v> ... -w <write_dir>\n"
      "        zelk-verilog cells [-proof] -o <file.v>\n",
      stderr);
}

// Writes text to path whole or not at all.
void write_whole(const std::string& path, const std::string& text) {
  zelk::OutputSet out;
  out.begin(path);
  out.write(text.data(), text.size());
  out.end();
  out.commit();
}

int run_out(int argc, char** argv) {
  zelk::Design d;
  FILE* quiet = std::fopen("/dev/null", "w");
  d.log = quiet ? quiet : stderr;
  std::string out;
  bool have_out = false;
  std::vector<std::string>* dirs = &d.options.opt_dir;
  bool assigns = false;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "-proof") == 0) {
      assigns = true;
    } else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) {
      out = argv[++i];
      have_out = true;
    } else if (std::strcmp(argv[i], "-r") == 0) {
      dirs = &d.options.read_dir;
    } else if (d.options.top_name.empty()) {
      d.options.top_name = argv[i];
    } else {
      dirs->emplace_back(argv[i]);
    }
  }
  if (d.options.top_name.empty() || d.options.opt_dir.empty() || !have_out) {
    usage();
    return 1;
  }
  zelk::read_module(d, d.options.top_name);
  // Written as it is made, whole or not at all.
  zelk::OutputSet set;
  try {
    set.begin(out);
    zelk::write_verilog(d, assigns, set);
    set.end();
    set.commit();
  } catch (const zelk::Fault&) {
    (void)zelk::write_verilog(d, assigns);  // a fault of the design comes first
    throw;
  }
  if (quiet) std::fclose(quiet);
  d.log = stderr;
  return 0;
}

int run_in(int argc, char** argv) {
  std::vector<std::string> files;
  std::string dir;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "-w") == 0 && i + 1 < argc) dir = argv[++i];
    else files.emplace_back(argv[i]);
  }
  if (files.empty() || dir.empty()) {
    usage();
    return 1;
  }
  std::vector<std::string> written;
  zelk::read_verilog(files, dir, &written);
  for (const std::string& w : written) std::fprintf(stderr, "\tWrote %s\n", w.c_str());
  return 0;
}

int run_cells(int argc, char** argv) {
  bool proof = false;
  std::string out;
  for (int i = 2; i < argc; ++i) {
    if (std::strcmp(argv[i], "-proof") == 0) proof = true;
    else if (std::strcmp(argv[i], "-o") == 0 && i + 1 < argc) out = argv[++i];
    else {
      usage();
      return 1;
    }
  }
  std::string text = zelk::cell_library(proof);
  if (out.empty() || out == "-") std::fputs(text.c_str(), stdout);
  else write_whole(out, text);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  zelk::remove_temporaries_on_signals();
  try {
    if (argc >= 2 && std::strcmp(argv[1], "out") == 0) return run_out(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "in") == 0) return run_in(argc, argv);
    if (argc >= 2 && std::strcmp(argv[1], "cells") == 0) return run_cells(argc, argv);
    usage();
    return 1;
  } catch (const zelk::Fault& f) {
    // zelk stops on some faults of a design without a message; a user of
    // the converter is told why, when the code that stopped says so.
    if (!f.message.empty()) std::fputs(f.message.c_str(), stderr);
    else if (!f.why.empty()) std::fprintf(stderr, "%s (zelk stops on this without a message)\n", f.why.c_str());
    else std::fputs("zelk-verilog: error\n", stderr);
    return 1;
  } catch (const std::bad_alloc&) {
    std::fputs("memory full\n", stderr);
    return 1;
  }
}
