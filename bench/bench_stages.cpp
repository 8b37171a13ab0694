// Speed and memory of the stages on generated designs of 10^4 to 10^6
// cells, on a hierarchy of 10^5 module copies, and on the largest shipped
// real circuit; and of the converter's two directions on the same designs.
// Each benchmark times one stage; what comes before it is redone, untimed,
// for every iteration.
#include <filesystem>
#include <string>
#include <vector>

#include "bench_common.h"
#include "driver/run.h"
#include "flat/flat.h"
#include "reduce/reduce.h"
#include "verilog/verilog.h"
#include "writer/output_set.h"

namespace zelkbench {
namespace {

using benchmark::State;
using zelk::Design;

void read_load(State& state, const DesignFiles& f) {
  std::unique_ptr<Design> d;
  for (auto _ : state) {
    if (d) {
      state.PauseTiming();
      d.reset();
      state.ResumeTiming();
    }
    if (!guarded(state, [&] { d = loaded(f); })) break;
  }
  report(state, f, d.get());
}

void flatten(State& state, const DesignFiles& f) {
  std::unique_ptr<Design> d;
  for (auto _ : state) {
    state.PauseTiming();
    d.reset();
    bool ok = guarded(state, [&] { d = loaded(f); });
    state.ResumeTiming();
    if (!ok || !guarded(state, [&] { zelk::flat(*d); })) break;
  }
  report(state, f, d.get());
}

void reduce(State& state, const DesignFiles& f) {
  std::unique_ptr<Design> d;
  for (auto _ : state) {
    state.PauseTiming();
    d.reset();
    bool ok = guarded(state, [&] {
      d = loaded(f);
      zelk::flat(*d);
    });
    state.ResumeTiming();
    if (!ok || !guarded(state, [&] { zelk::red_inv(*d); })) break;
  }
  report(state, f, d.get());
}

// Times work(out) once per iteration, out a fresh scratch folder that is
// removed, untimed, after it; stops at the first iteration that fails.
template <class Work>
void timed_into_scratch(State& state, const char* scratch, Work work) {
  for (auto _ : state) {
    state.PauseTiming();
    const std::string out = scratch_dir(scratch);
    state.ResumeTiming();
    const bool ok = work(out);
    state.PauseTiming();
    std::error_code ec;
    std::filesystem::remove_all(out, ec);
    state.ResumeTiming();
    if (!ok) break;
  }
}

// The whole run as the command line starts it, files written included.
void whole_run(State& state, const DesignFiles& f) {
  timed_into_scratch(state, "out", [&](const std::string& out) {
    std::vector<std::string> args = {"zelk", f.top, f.dir};
    if (!f.ro_dir.empty()) args.insert(args.end(), {"-r", f.ro_dir});
    args.insert(args.end(), {"-w", out});
    std::vector<const char*> argv;
    for (const std::string& a : args) argv.push_back(a.c_str());
    if (zelk::run(static_cast<int>(argv.size()), argv.data(), null_log()) == 0) return true;
    state.SkipWithError("run ended with status 1");
    return false;
  });
  report(state, f, nullptr);
}

// What `zelk-verilog out` does: the design read as zelk reads it, then
// written as one Verilog file.
void write_as_verilog(const DesignFiles& f, const std::string& path) {
  std::unique_ptr<Design> d = loaded(f);
  zelk::OutputSet set;
  set.begin(path);
  zelk::write_verilog(*d, false, set);
  set.end();
  set.commit();
}

void verilog_out(State& state, const DesignFiles& f) {
  timed_into_scratch(state, "v_out", [&](const std::string& out) {
    return guarded(state, [&] { write_as_verilog(f, out + "/design.v"); });
  });
  report(state, f, nullptr);
}

// `zelk-verilog in` of what `out` wrote: NLD files again.
void verilog_in(State& state, const DesignFiles& f) {
  const std::string text_dir = scratch_dir("v_text");
  const std::string text = text_dir + "/design.v";
  // A fault here skips the benchmark: its loop is not entered.
  guarded(state, [&] { write_as_verilog(f, text); });
  timed_into_scratch(state, "v_in", [&](const std::string& out) {
    std::vector<std::string> written;
    return guarded(state, [&] { zelk::read_verilog({text}, out, &written); });
  });
  std::error_code ec;
  std::filesystem::remove_all(text_dir, ec);
  report(state, f, nullptr);
}

struct Config {
  const char* name;
  zelkgen::Options opt;
  bool big;  // one iteration is enough (and all there is time for)
};

zelkgen::Options flat_design(long cells, bool inverters = true) {
  zelkgen::Options o;
  o.cells = cells;
  o.no_inv = !inverters;
  return o;
}

zelkgen::Options hier_design(long mid, long leaves_per_mid) {
  zelkgen::Options o;
  o.hier = true;
  o.mid = mid;
  o.copies = mid * leaves_per_mid;
  return o;
}

// Registers the benchmark `stage` on every configuration.
template <class Stage>
void on_all(const char* stage_name, Stage stage, const std::vector<Config>& configs) {
  for (const Config& c : configs) {
    std::string name = std::string(stage_name) + "/" + c.name;
    zelkgen::Options opt = c.opt;
    std::string key = c.name;
    auto* b = benchmark::RegisterBenchmark(name.c_str(), [stage, key, opt](State& s) {
      stage(s, design(key, opt));
    });
    b->Unit(benchmark::kMillisecond)->UseRealTime();
    if (c.big) b->Iterations(1);
  }
}

}  // namespace

void register_stage_benchmarks() {
  std::vector<Config> configs = {
      {"flat_1e4", flat_design(10000), false},
      {"flat_1e5", flat_design(100000), false},
      {"flat_1e6", flat_design(1000000), true},
      {"hier_1e5_copies", hier_design(1000, 100), true},
  };
  on_all("read_load", read_load, configs);
  on_all("flat", flatten, configs);
  on_all("red_inv", reduce, configs);
  std::vector<Config> runs = configs;
  runs.push_back({"flat_1e6_no_inv", flat_design(1000000, false), true});
  on_all("run", whole_run, runs);
  on_all("verilog_out", verilog_out, configs);
  on_all("verilog_in", verilog_in, configs);

  // The largest shipped circuit, as mapped from a real design.
  if (const DesignFiles* hyp = shipped("epfl", "hyp")) {
    DesignFiles f = *hyp;
    auto reg = [&f](const char* name, void (*fn)(State&, const DesignFiles&)) {
      benchmark::RegisterBenchmark(name, [fn, f](State& s) { fn(s, f); })
          ->Unit(benchmark::kMillisecond)
          ->UseRealTime();
    };
    reg("read_load/epfl_hyp", read_load);
    reg("flat/epfl_hyp", flatten);
    reg("red_inv/epfl_hyp", reduce);
    reg("run/epfl_hyp", whole_run);
  }
}

}  // namespace zelkbench
