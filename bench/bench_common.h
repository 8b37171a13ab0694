// Shared parts of the benchmark programs: generated designs (made once per
// process, on first use, in a temporary directory), loading a design the
// way the tool does, and the memory figures every benchmark reports.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include "gen/generator.h"
#include "netlist/netlist.h"

namespace zelkbench {

// A generated (or shipped) design, ready to be loaded.
struct DesignFiles {
  std::string top;
  std::string dir;     // optimisation directory
  std::string ro_dir;  // read-only directory ("" if none)
  long cells = 0;      // components of the flattened design
};

// The design of one benchmark configuration, generated on first use.
const DesignFiles& design(const std::string& key, const zelkgen::Options& opt);

// A real circuit of the shared benchmark designs (suite/name), or null when
// they are not there.
const DesignFiles* shipped(const std::string& suite, const std::string& name);

// A fresh, empty directory below the benchmark's temporary root.
std::string scratch_dir(const std::string& stem);

// /dev/null, for the progress lines of the runs.
FILE* null_log();

// A Design configured like a run on `f`: opt_dir, read_dir, log.
std::unique_ptr<zelk::Design> configured(const DesignFiles& f);
// configured() then read_module().  Throws zelk::Fault like the loader.
std::unique_ptr<zelk::Design> loaded(const DesignFiles& f);

// Process memory now and at its peak, in bytes.
long rss_now();
long rss_peak();

// Sets the counters every benchmark reports: cells, cells per second,
// bytes per cell of the design's arenas (when d is given), resident memory.
void report(benchmark::State& state, const DesignFiles& f, const zelk::Design* d);

// Runs body(); a Fault ends the benchmark as an error (a stage that is not
// built yet, or a design it rejects).  Returns false then.
template <class F>
bool guarded(benchmark::State& state, F&& body) {
  try {
    body();
    return true;
  } catch (const zelk::Fault& f) {
    // Kept alive: the library may hold on to the text.
    static std::string why;
    why = f.message.empty() ? "fault without message" : f.message;
    while (!why.empty() && why.back() == '\n') why.pop_back();
    state.SkipWithError(why.c_str());
    return false;
  }
}

}  // namespace zelkbench
