#include "driver/run.h"

#include <cstring>
#include <new>
#if defined(__GLIBC__)
#include <malloc.h>
#endif

#include "flat/flat.h"
#include "loader/loader.h"
#include "rebuild/rebuild.h"
#include "reduce/reduce.h"
#include "writer/writer.h"

namespace zelk {

namespace {

void title(FILE* log) {
  std::fputs(
      "\n"
      "***************************************************************\n"
      "*   zelk  -  fewer inverters in hierarchical gate netlists    *\n"
      "*   polarity moves, De Morgan duals, rebuilt module hierarchy *\n"
      "***************************************************************\n"
      "\n",
      log);
}

void usage(FILE* log) {
  std::fputs(
      "usage:\n"
      "        zelk [-a] <top_module_name> <nld_or_pcd_dir> ... \n"
      "             [-r <nld_or_pcd_dir> ...] -w <write_dir>\n",
      log);
}

void credit(FILE* log) {
  std::fputs(
      "zelk was designed and written by the zelk developers,\n"
      "for logic designers who want fewer inverters and exact netlists.\n",
      log);
}

bool ends_run(const char* arg, bool r_ends_too) {
  return std::strcmp(arg, "-w") == 0 || std::strcmp(arg, "-a") == 0 ||
         std::strcmp(arg, "-f") == 0 || (r_ends_too && std::strcmp(arg, "-r") == 0);
}

// Parses the command line into d.  Returns false on a usage error (the
// credit, when asked for, is already printed).
bool dir_list(Design& d, int argc, const char* const* argv) {
  int n = argc - 1;
  if (n <= 3) {
    if (n >= 1 && std::strcmp(argv[1], "-author") == 0) credit(d.log);
    return false;
  }
  bool have_top = false, have_opt = false, have_read = false;
  for (int i = 1; i <= n; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "-r") == 0) {
      if (have_read || i == n) return false;
      have_read = true;
      d.options.read_dir.emplace_back(argv[++i]);
      while (i < n && !ends_run(argv[i + 1], false)) d.options.read_dir.emplace_back(argv[++i]);
    } else if (std::strcmp(a, "-w") == 0) {
      if (d.options.has_write_dir || i == n) return false;
      d.options.has_write_dir = true;
      d.options.write_dir = argv[++i];
    } else if (std::strcmp(a, "-a") == 0) {
      d.options.all = true;
    } else if (std::strcmp(a, "-f") == 0) {
      d.options.form = OutputForm::kFlat;
    } else {
      if (have_opt) return false;
      if (!have_top) {
        have_top = true;
        d.options.top_name = a;
        continue;
      }
      have_opt = true;
      d.options.opt_dir.emplace_back(a);
      while (i < n && !ends_run(argv[i + 1], true)) d.options.opt_dir.emplace_back(argv[++i]);
    }
  }
  return !d.options.opt_dir.empty() && d.options.has_write_dir;
}

void report_count(const Design& d, int count) {
  if (count == 1) d.say("There is 1 inverter\n");
  else d.sayf("There are %d inverters\n", count);
}

// Hands freed heap pages back to the system, so that what one stage freed
// does not add up with what the next one takes in the peak memory of a
// large design.
void give_back_freed_memory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

// Arrays of up to 32 MiB (the reduction's logs and lists, which grow and
// are dropped move after move) come from the heap rather than from pages
// mapped for each and handed back when it goes: a block freed is taken
// again without its pages trapping at their first touch.  The freed heap
// is still handed back between the stages, above.  hyp with -a ran about
// 4 % faster; flat 10^7 cells took the same time and peak memory.
void keep_freed_arrays() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 32 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
}

// The run sequence after a valid command line.  Returns the exit status.
int run_design(Design& d) {
  keep_freed_arrays();
  d.say("Start to read NLD/PCD files\n");
  read_module(d, d.options.top_name);
  d.say("Done\n");

  int final_count = 0;
  if (d.first_inv_num == 0) {
    d.say("There are 0 inverters\n");
    d.say("Start to write NLD/PCD files\n");
    write_all(d, copy_file);
    d.say("Done\n");
  } else {
    report_count(d, d.first_inv_num);
    flat(d);
    d.say("Start inverter reduction\n");
    give_back_freed_memory();  // what reading and flattening freed
    red_inv(d);
    give_back_freed_memory();  // the reduction's tables, before the rebuild
    d.say("Done\n");
    for (const Module* m = d.top; m; m = m->next) {
      final_count += count_inv(d, m);
      final_count += count_control_inv(d, m);
    }
    report_count(d, final_count);
    if (d.first_inv_num > final_count) {
      output(d);
      hierarchy(d);
      d.say("Start to write NLD files\n");
      write_all(d, print_nld);
      d.say("Done\n");
    } else {
      d.say("Could not reduce the number of inverters\n");
      d.say("Start to write NLD/PCD files\n");
      write_all(d, copy_file);
      d.say("Done\n");
    }
  }
  d.say("Number of inverters\n");
  d.sayf("\t%d ---> %d\n", d.first_inv_num, final_count);
  return 0;
}

}  // namespace

int run(int argc, const char* const* argv, FILE* log) {
  try {
    title(log);
    Design d;
    d.log = log;
    if (!dir_list(d, argc, argv)) {
      usage(log);
      return 1;
    }
    return run_design(d);
  } catch (const Fault& f) {
    std::fputs(f.message.c_str(), log);
    return 1;
  } catch (const std::bad_alloc&) {
    std::fputs("memory full\n", log);
    return 1;
  }
}

}  // namespace zelk
