#include "support/fixture.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
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
  if (::mkdtemp(tmpl.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
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
  fs::create_directories(fs::path(*this / name).parent_path());
  write_file(*this / name, text);
}

std::string TempDir::mkdir(const std::string& name) const {
  fs::create_directories(*this / name);
  return *this / name;
}

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

void write_file(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}


std::vector<std::string> list_dir(const std::string& path) {
  std::vector<std::string> names;
  for (auto& e : fs::directory_iterator(path))
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

namespace {

// Reads design `top` into r's design as a run of the tool does, its
// messages dropped; written files would go to r's folder "out".
void read_into(Loaded& r, const std::string& top, const std::vector<std::string>& opt_dirs,
               const std::vector<std::string>& read_dirs, int all) {
  Design& d = *r.design;
  d.options.top_name = top;
  d.options.opt_dir = opt_dirs;
  d.options.read_dir = read_dirs;
  d.options.write_dir = r.dir->mkdir("out");
  d.options.has_write_dir = true;
  d.options.all = all != 0;
  FILE* log = std::tmpfile();
  d.log = log;
  try {
    read_module(d, top);
  } catch (...) {
    d.log = stderr;
    std::fclose(log);
    throw;
  }
  d.log = stderr;
  std::fclose(log);
}

}  // namespace

Loaded load_text(const std::map<std::string, std::string>& files, const std::string& top,
                 int all) {
  Loaded r{std::make_unique<TempDir>(), std::make_unique<Design>()};
  for (auto& [name, text] : files) r.dir->write("opt/" + name, text);
  read_into(r, top, {r.dir->mkdir("opt")}, {}, all);
  return r;
}

Loaded load_dirs(const std::string& top, const std::vector<std::string>& opt_dirs,
                 const std::vector<std::string>& read_dirs, int all) {
  Loaded r{std::make_unique<TempDir>(), std::make_unique<Design>()};
  read_into(r, top, opt_dirs, read_dirs, all);
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
  Link* t = inst->link;
  do {
    if (t && t->pin_name && pin == t->pin_name) return t;
    t = t ? t->inst_next : nullptr;
  } while (t && t != inst->link);
  return nullptr;
}

RunResult run_zelk(const std::vector<std::string>& args, const std::string& cwd) {
  TempDir io;
  pid_t pid = ::fork();
  if (pid < 0) throw std::runtime_error("fork failed");
  if (pid == 0) {
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) _exit(127);
    if (!std::freopen((io / "stderr").c_str(), "w", stderr)) _exit(127);
    if (!std::freopen((io / "stdout").c_str(), "w", stdout)) _exit(127);
    std::vector<std::string> copy = args;
    std::string prog = ZELK_BINARY;
    std::vector<char*> argv{prog.data()};
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(prog.c_str(), argv.data());
    _exit(127);
  }
  int wstatus = 0;
  ::waitpid(pid, &wstatus, 0);
  return {WIFEXITED(wstatus) ? WEXITSTATUS(wstatus) : 128 + WTERMSIG(wstatus),
          read_file(io / "stderr"), read_file(io / "stdout")};
}

RunResult run_inproc(const std::vector<std::string>& args) {
  std::vector<const char*> argv{"zelk"};
  for (auto& a : args) argv.push_back(a.c_str());
  TempDir io;
  FILE* log = std::fopen((io / "log").c_str(), "w");
  RunResult r;
  r.status = run(static_cast<int>(argv.size()), argv.data(), log);
  std::fclose(log);
  r.err = read_file(io / "log");
  return r;
}

std::string source_dir() { return ZELK_SOURCE_DIR; }


}  // namespace zelk::test
