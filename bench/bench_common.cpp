#include "bench_common.h"

#include <sys/resource.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>

#include "loader/loader.h"

namespace zelkbench {

namespace fs = std::filesystem;

namespace {

// Temporary root of every generated design and output directory of this
// process; removed when the process ends normally.
struct Root {
  std::string path;
  Root() {
    std::string pattern = (fs::temp_directory_path() / "zelk_bench.XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("mkdtemp");
      std::exit(1);
    }
    path = pattern;
  }
  ~Root() {
    std::error_code ec;
    fs::remove_all(path, ec);
  }
};

Root& root() {
  static Root r;
  return r;
}

std::string designs_dir() {
  if (const char* env = std::getenv("ZELK_DESIGNS")) return env;
  // The shared designs stand beside the work tree: <tree>/build-x/zelk_bench.
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return (exe.parent_path().parent_path().parent_path() / "shared" / "designs").string();
}

}  // namespace

const DesignFiles& design(const std::string& key, const zelkgen::Options& opt) {
  static std::map<std::string, DesignFiles> cache;
  auto it = cache.find(key);
  if (it != cache.end()) return it->second;
  zelkgen::Options o = opt;
  o.dir = root().path + "/" + key;
  zelkgen::Summary s = zelkgen::generate(o);
  DesignFiles f{s.top, s.dir, s.ro_dir, s.cells};
  return cache.emplace(key, f).first->second;
}

const DesignFiles* shipped(const std::string& suite, const std::string& name) {
  static std::map<std::string, DesignFiles> cache;
  std::string key = suite + "/" + name;
  auto it = cache.find(key);
  if (it != cache.end()) return &it->second;
  std::string dir = designs_dir() + "/" + key;
  if (!fs::exists(dir + "/" + name + ".nld")) return nullptr;
  // Components: one per instance name of the def-comp forms.
  long cells = 0;
  if (FILE* f = std::fopen((dir + "/" + name + ".nld").c_str(), "r")) {
    char line[1 << 16];
    while (std::fgets(line, sizeof line, f)) {
      const char* p = std::strstr(line, "(def-comp ");
      if (!p) continue;
      int words = 0;
      for (const char* q = p; *q && *q != ')'; ++q)
        if (*q == ' ' && q[1] != ' ' && q[1] != ')') ++words;
      cells += words - 1;  // the keyword's blank, then the class name
    }
    std::fclose(f);
  }
  return &cache.emplace(key, DesignFiles{name, dir, "", cells}).first->second;
}

std::string scratch_dir(const std::string& stem) {
  static int n = 0;
  std::string p = root().path + "/" + stem + "." + std::to_string(++n);
  fs::create_directories(p);
  return p;
}

FILE* null_log() {
  static FILE* f = std::fopen("/dev/null", "w");
  return f;
}

std::unique_ptr<zelk::Design> configured(const DesignFiles& f) {
  auto d = std::make_unique<zelk::Design>();
  d->options.top_name = f.top;
  d->options.opt_dir.push_back(f.dir);
  if (!f.ro_dir.empty()) d->options.read_dir.push_back(f.ro_dir);
  d->log = null_log();
  return d;
}

std::unique_ptr<zelk::Design> loaded(const DesignFiles& f) {
  auto d = configured(f);
  zelk::read_module(*d, f.top);
  return d;
}

long rss_now() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * sysconf(_SC_PAGESIZE);
}

long rss_peak() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss * 1024L;
}

void report(benchmark::State& state, const DesignFiles& f, const zelk::Design* d) {
  using benchmark::Counter;
  double cells = static_cast<double>(f.cells);
  state.counters["cells"] = cells;
  state.counters["cells/s"] = Counter(cells, Counter::kIsIterationInvariantRate);
  if (d != nullptr && f.cells > 0)
    state.counters["B/cell"] = static_cast<double>(d->bytes_used()) / cells;
  state.counters["rss_MB"] = static_cast<double>(rss_now()) / (1 << 20);
  state.counters["peak_MB"] = static_cast<double>(rss_peak()) / (1 << 20);
}

}  // namespace zelkbench
