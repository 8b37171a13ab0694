// Reading NLD and PCD files: the byte source, the lexer, the keyword and
// cell tables, the parser and the pin rules of the built-in cells.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "netlist/classes.h"
#include "netlist/netlist.h"

namespace zelk {

// The hash of a name for the tables of names that the readers keep (NLD
// instances and nets, Verilog declarations and instances): eight bytes at a
// time, since a million names are hashed as they are read.
inline std::uint64_t hash_name(const char* s, std::size_t n) {
  constexpr std::uint64_t kMul = 0x9e3779b97f4a7c15ull;
  std::uint64_t h = n * kMul;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    std::uint64_t w;
    std::memcpy(&w, s + i, 8);
    h = (h ^ w) * kMul;
    h ^= h >> 32;
  }
  std::uint64_t tail = 0;
  for (std::size_t k = n; k > i; --k) tail = (tail << 8) | static_cast<unsigned char>(s[k - 1]);
  h = (h ^ tail) * 0xff51afd7ed558ccdull;
  h ^= h >> 33;
  h *= 0xc4ceb9fe1a85ec53ull;
  return h ^ (h >> 29);
}

// A byte reader over an open FILE* with a large buffer and one byte of
// push-back.  get() returns 0..255, or -1 at end of file (a read error, as
// for a directory, reads as end of file).
class Source {
 public:
  explicit Source(FILE* file);
  // Reads from memory instead of a file (tests).
  Source(const char* data, std::size_t size);
  int get() {
    if (pushed_ >= 0) {
      int c = pushed_;
      pushed_ = -1;
      return c;
    }
    if (pos_ == end_ && !refill()) return -1;
    return static_cast<unsigned char>(*pos_++);
  }
  void unget(int c) { pushed_ = c; }
  // Bytes of text the source holds, when known beforehand (0 otherwise).
  std::size_t size_hint() const;

 private:
  bool refill();
  FILE* file_ = nullptr;
  std::unique_ptr<char[]> buffer_;
  const char* pos_ = nullptr;
  const char* end_ = nullptr;
  int pushed_ = -1;
};

// The token reader of one file: the text of the last name read and the
// current line number.  One per file read.
class Lexer {
 public:
  // `file_name` is quoted by the messages; it must outlive the lexer.
  Lexer(const std::string& file_name, Source& in) : file_name_(file_name), in_(in) {}
  // Next token: kTokOpen, kTokClose, kTokDot, kTokName (text in buf, length
  // in len) or kTokEof.  buf is empty after any other token.
  int lex();
  // The file's messages, quoting the file name and the current line.
  [[noreturn]] void error() const;  // "... error"
  [[noreturn]] void fault(const std::string& what) const;  // "... <what>"
  [[noreturn]] void fault(const std::string& what, int line) const;
  // A stop without a message, saying why at the file and line (Fault::why).
  [[noreturn]] void stop(const std::string& why, int line) const;

  char buf[4096] = {};
  std::size_t len = 0;
  int lineno = 1;

 private:
  int lex_name();
  int comment();
  const std::string& file_name_;
  Source& in_;
};

// Parses one whole NLD (PCD) file, read from `in`; `file_name` names it in
// the messages.  Sets d.eor_enor_exist and d.reg_exist.  Throws Fault on any
// error.
Module* nld_par(Design& d, Source& in, const std::string& file_name);
Module* pcd_par(Design& d, Source& in, const std::string& file_name);

// Class code of a class name; *fan_in receives the number after "--" (0 if
// none).  Throws Fault (no message) for a number the class does not allow.
int class_f(const char* name, int selector, int16_t* fan_in);

// Pin type of pin `pin_name` on an instance of class `cls` (265, 268, 271,
// or 425 for a user module).  Throws Fault (no message) for a pin the cell
// does not have or a class outside 400..425 (424 included).
int pin_type_f(const char* pin_name, int cls);

}  // namespace zelk
