#include "support/fixture.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "driver/run.h"
#include "flat/flat.h"
#include "loader/loader.h"

namespace fs = std::filesystem;

namespace zelk::test {

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "zelk-test-XXXXXX").string();
  std::vector<char> buf(tmpl.begin(), tmpl.end());
  buf.push_back('\0');
  if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  // Tests may remove permissions; give them back before removing.
  for (auto it = fs::recursive_directory_iterator(path_, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec))
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  fs::remove_all(path_, ec);
}

void TempDir::write(const std::string& name, const std::string& text) const {
  std::string p = *this / name;
  fs::create_directories(fs::path(p).parent_path());
  write_file(p, text);
}

std::string TempDir::mkdir(const std::string& name) const {
  std::string p = *this / name;
  fs::create_directories(p);
  return p;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

bool file_exists(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0;
}

std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(path))
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

// Captures what is written to a FILE* into a string.
class LogCapture {
 public:
  LogCapture() : file_(std::tmpfile()) {}
  ~LogCapture() {
    if (file_) std::fclose(file_);
  }
  FILE* file() const { return file_; }
  std::string text() const {
    std::fflush(file_);
    long size = std::ftell(file_);
    std::string s(static_cast<std::size_t>(size), '\0');
    std::rewind(file_);
    std::size_t got = std::fread(s.data(), 1, s.size(), file_);
    s.resize(got);
    std::fseek(file_, 0, SEEK_END);
    return s;
  }

 private:
  FILE* file_;
};

}  // namespace

Loaded load_text(const std::map<std::string, std::string>& files, const std::string& top,
                 int all) {
  Loaded r;
  r.dir = std::make_unique<TempDir>();
  std::string opt = r.dir->mkdir("opt");
  for (auto& [name, text] : files) r.dir->write("opt/" + name, text);
  r.design = std::make_unique<Design>();
  Design& d = *r.design;
  d.top_name = top;
  d.opt_dir.push_back(opt);
  d.write_dir = r.dir->mkdir("out");
  d.has_write_dir = true;
  d.all = all;
  LogCapture log;
  d.log = log.file();
  try {
    read_module(d, top);
  } catch (...) {
    d.log = stderr;
    throw;
  }
  r.log = log.text();
  d.log = stderr;
  return r;
}

Loaded load_flat(const std::map<std::string, std::string>& files, const std::string& top,
                 int all) {
  Loaded r = load_text(files, top, all);
  flat(*r.design);
  return r;
}

Instance* find_comp(const Module* m, const std::string& name) {
  for (Instance* c = m->comps; c; c = c->next)
    if (c->name && name == c->name) return c;
  return nullptr;
}

Instance* find_pin(const Module* m, const std::string& name) {
  for (Instance* p = m->pins; p; p = p->next)
    if (p->name && name == p->name) return p;
  return nullptr;
}

Link* find_term(const Instance* inst, const std::string& pin) {
  Link* start = inst->link;
  if (!start) return nullptr;
  Link* t = start;
  do {
    if (t->pin_name && pin == t->pin_name) return t;
    t = t->inst_next;
  } while (t && t != start);
  return nullptr;
}

Module* find_module(const Design& d, const std::string& name) {
  for (Module* m = d.top; m; m = m->next)
    if (m->name && name == m->name) return m;
  return nullptr;
}

RunResult run_zelk(const std::vector<std::string>& args, const std::string& cwd) {
  TempDir io;
  std::string err_path = io / "stderr";
  std::string out_path = io / "stdout";
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) _exit(127);
    if (!std::freopen(err_path.c_str(), "w", stderr)) _exit(127);
    if (!std::freopen(out_path.c_str(), "w", stdout)) _exit(127);
    std::vector<char*> argv;
    std::string prog = ZELK_BINARY;
    argv.push_back(prog.data());
    std::vector<std::string> copy = args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(prog.c_str(), argv.data());
    _exit(127);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  RunResult r;
  r.status = WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus);
  r.err = read_file(err_path);
  r.out = read_file(out_path);
  return r;
}

RunResult run_inproc(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"zelk"};
  for (auto& a : args) argv.push_back(a.c_str());
  LogCapture log;
  RunResult r;
  r.status = run(static_cast<int>(argv.size()), argv.data(), log.file());
  r.err = log.text();
  return r;
}

std::string source_dir() { return ZELK_SOURCE_DIR; }

std::string shared_designs_dir() {
  std::string p = std::string(ZELK_SOURCE_DIR) + "/../shared/designs";
  if (const char* env = std::getenv("ZELK_DESIGNS")) p = env;
  return file_exists(p) ? p : std::string();
}

}  // namespace zelk::test
