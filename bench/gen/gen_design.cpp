// zelk_gen: writes a synthetic NLD design for speed and memory measurements.
//
//   zelk_gen [options] DIR
//     --flat N         one top module of N cells (default 10000)
//     --hier K         a top module holding K instances of a leaf module
//     --hier2 K1 K2    top -> K1 middle modules -> K2 leaves each
//     --leaf-cells C   cells of the leaf module (default 10)
//     --seed S         random seed (default 1)
//     --top NAME       top module name (default "top")
//     --inputs I       top input pins (default from the size)
//     --outputs O      top output pins, at least (default from the size)
//     --regs PERMILLE  registers among flat cells (default 30)
//     --glue PERMILLE  hier: gates per instance in top and middle (default 250)
//     --no-inv         no inverter anywhere (the tool then only copies)
//     --tristate B     B tri-state buses in the top module
//     --fixed F        F instances of a module in DIR/ro (read-only dir)
//     --pcd P          P instances of a PCD library cell
//     --fanout N       flat: also N nand gates reading one inverted input
//     --fanout-exor K  every K-th of them an exclusive-or cell
//     --twice PERMILLE gate inputs repeating another input of the gate
//     --undriven PERMILLE  gate inputs on nets nothing drives
//     --bidirect PERMILLE  top outputs written as bidirect pins
//     --corner S       instead: the small corner-case design of seed S (top
//                      "top"; its library cell and read-only modules in DIR/ro)
//
// Prints one line of key=value facts about the design on standard output.
// Run the tool on it as: zelk <top> DIR -r DIR/ro -w <out>.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "generator.h"

namespace {

[[noreturn]] void usage() {
  std::fputs(
      "usage: zelk_gen [--flat N | --hier K | --hier2 K1 K2] [--leaf-cells C] [--seed S]\n"
      "                [--top NAME] [--inputs I] [--outputs O] [--regs PERMILLE]\n"
      "                [--glue PERMILLE] [--no-inv] [--tristate B] [--fixed F] [--pcd P]\n"
      "                [--fanout N] [--fanout-exor K] [--twice PERMILLE] [--undriven PERMILLE]\n"
      "                [--bidirect PERMILLE] DIR\n"
      "       zelk_gen --corner S DIR\n",
      stderr);
  std::exit(2);
}

// The corner-case design of one seed: the modules to optimise in dir, the
// library cell and read-only modules in dir/ro.
int write_corner(uint64_t seed, const std::string& dir) {
  const zelkgen::CornerDesign d = zelkgen::corner_design(seed);
  auto put = [](const std::string& at, const std::map<std::string, std::string>& files) {
    std::filesystem::create_directories(at);
    for (const auto& [name, text] : files) {
      std::ofstream f(at + "/" + name, std::ios::binary);
      f << text;
      if (!f.flush()) throw std::runtime_error("cannot write " + at + "/" + name);
    }
  };
  put(dir, d.opt);
  put(dir + "/ro", d.lib);
  std::printf("top=top dir=%s ro=%s/ro files=%zu\n", dir.c_str(), dir.c_str(), d.opt.size() + d.lib.size());
  return 0;
}

long number(int argc, char** argv, int& i) {
  if (i + 1 >= argc) usage();
  char* end = nullptr;
  long v = std::strtol(argv[++i], &end, 10);
  if (*end != '\0' || v < 0) usage();
  return v;
}

}  // namespace

int main(int argc, char** argv) {
  zelkgen::Options o;
  long corner = -1;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a == "--corner") {
      corner = number(argc, argv, i);
    } else if (a == "--flat") {
      o.hier = false;
      o.cells = number(argc, argv, i);
    } else if (a == "--hier") {
      o.hier = true;
      o.copies = number(argc, argv, i);
      o.mid = 0;
    } else if (a == "--hier2") {
      o.hier = true;
      o.mid = number(argc, argv, i);
      o.copies = o.mid * number(argc, argv, i);
    } else if (a == "--leaf-cells") {
      o.leaf_cells = static_cast<int>(number(argc, argv, i));
    } else if (a == "--seed") {
      o.seed = static_cast<uint64_t>(number(argc, argv, i));
    } else if (a == "--top") {
      if (++i >= argc) usage();
      o.top = argv[i];
    } else if (a == "--inputs") {
      o.inputs = static_cast<int>(number(argc, argv, i));
    } else if (a == "--outputs") {
      o.outputs = static_cast<int>(number(argc, argv, i));
    } else if (a == "--regs") {
      o.reg_permille = static_cast<int>(number(argc, argv, i));
    } else if (a == "--glue") {
      o.glue_permille = static_cast<int>(number(argc, argv, i));
    } else if (a == "--no-inv") {
      o.no_inv = true;
    } else if (a == "--tristate") {
      o.tristate = static_cast<int>(number(argc, argv, i));
    } else if (a == "--fixed") {
      o.fixed = static_cast<int>(number(argc, argv, i));
    } else if (a == "--pcd") {
      o.pcd = static_cast<int>(number(argc, argv, i));
    } else if (a == "--fanout") {
      o.fanout = number(argc, argv, i);
    } else if (a == "--fanout-exor") {
      o.fanout_exor = number(argc, argv, i);
    } else if (a == "--twice") {
      o.twice_permille = static_cast<int>(number(argc, argv, i));
    } else if (a == "--undriven") {
      o.undriven_permille = static_cast<int>(number(argc, argv, i));
    } else if (a == "--bidirect") {
      o.bidirect_permille = static_cast<int>(number(argc, argv, i));
    } else if (!a.empty() && a[0] != '-' && o.dir.empty()) {
      o.dir = a;
    } else {
      usage();
    }
  }
  if (o.dir.empty() || (o.hier ? o.copies : o.cells) < 1) usage();
  try {
    if (corner >= 0) return write_corner(static_cast<uint64_t>(corner), o.dir);
    zelkgen::Summary s = zelkgen::generate(o);
    std::printf(
        "top=%s dir=%s ro=%s cells=%ld inverters=%ld registers=%ld copies=%ld files=%ld "
        "top_cells=%ld outputs=%d\n",
        s.top.c_str(), s.dir.c_str(), s.ro_dir.c_str(), s.cells, s.inverters, s.registers,
        s.copies, s.files, s.top_cells, s.outputs);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zelk_gen: %s\n", e.what());
    return 1;
  }
  return 0;
}
