// What both fuzzers need around a run: a scratch folder of their own for
// the whole process, removed at exit, and fresh folders and files in it.
#pragma once

#include <stdio.h>
#include <stdlib.h>

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace zelk::fuzz {

// The scratch folder, made at the first call under the temporary folder
// and removed at exit.  The name is kept for good, so that the removal at
// exit can still read it.
inline const std::string& scratch_root(const char* prefix) {
  static const std::string* root = [prefix] {
    namespace fs = std::filesystem;
    std::string tmpl = (fs::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    std::vector<char> buf(tmpl.begin(), tmpl.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) abort();
    const std::string* r = new std::string(buf.data());
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(*root, ec);
    });
    return r;
  }();
  return *root;
}

inline void fresh(const std::string& dir) {
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
  std::filesystem::create_directories(dir);
}

inline std::string get(const std::string& path) {
  FILE* f = fopen(path.c_str(), "rb");
  if (!f) abort();
  std::string text;
  char buf[1 << 14];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, f)) > 0;) text.append(buf, n);
  fclose(f);
  return text;
}

inline void put(const std::string& path, std::string_view text) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  fwrite(text.data(), 1, text.size(), f);
  fclose(f);
}

}  // namespace zelk::fuzz
