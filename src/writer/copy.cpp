// Copying the input files of unchanged modules into the write directory,
// byte for byte, and the two messages both writers share.
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "writer/copy.h"
#include "writer/writer.h"

namespace zelk {

namespace {

struct FileCloser {
  void operator()(FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<FILE, FileCloser>;

// True when both paths name one existing file (same device and inode).
bool same_file(const std::string& a, const std::string& b) {
  std::error_code ec;
  bool eq = std::filesystem::equivalent(a, b, ec);
  return !ec && eq;
}

// Copies file `name`.`ext`, found in the first directory of `lists` that
// holds it, into the write directory.  A target that is the source itself
// (same directory string, or another path to the same file) is left alone,
// so the input is never truncated; it is announced all the same.
void copy_one(Design& d, OutputSet& out, const std::string& name, const char* ext,
              std::initializer_list<const std::vector<std::string>*> lists) {
  FilePtr source;
  const std::string* source_dir = nullptr;
  std::string source_path;
  for (const std::vector<std::string>* dirs : lists) {
    for (const std::string& dir : *dirs) {
      source_path = f_name(name, dir, ext);
      source.reset(std::fopen(source_path.c_str(), "r"));
      if (source) {
        source_dir = &dir;
        break;
      }
    }
    if (source) break;
  }
  if (!source) fail();

  std::string target = f_name(name, d.options.write_dir, ext);
  if (*source_dir != d.options.write_dir && !same_file(source_path, target)) {
    out.begin(target);
    out.copy_from(source.get());
    out.end();
  }
  source.reset();
  print_wrote(out, target);
}

}  // namespace

void print_wrote(OutputSet& out, const std::string& path) { out.note("\tWrote " + path + "\n"); }

void print_could_not_open(const std::string& path) { fail("Could not open " + path + "\n"); }

void copy_file2(Design& d, OutputSet& out, const char* name, int state) {
  const char* ext;
  if (state == kStateCell) ext = "pcd";
  else if (state == kStateOpen || state == kStateFixed) ext = "nld";
  else return;
  copy_one(d, out, name, ext, {&d.options.opt_dir, &d.options.read_dir});
}

void copy_file(Design& d, OutputSet& out) {
  Module* top = d.top;
  copy_one(d, out, top->name, "nld", {&d.options.opt_dir});
  NameList done(top->name);
  for (Module* m = top->next; m; m = m->next) {
    if (m->state == kStateCell || done.write_or_not(m->name)) continue;
    copy_file2(d, out, m->name, m->state);
    done.add(m->name);
  }
}

void copy_file(Design& d) { write_all(d, copy_file); }

}  // namespace zelk
