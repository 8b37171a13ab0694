// Structural Verilog into NLD and PCD files.  Reads the subset that Yosys
// writes after mapping to its gate cells (write_verilog -noexpr) and that
// zelk-verilog writes itself: port and wire declarations (vectors are split
// into one net per bit), cell instances with named connections, and assigns
// of nets and constants.  Everything else is refused with its file and line.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <type_traits>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include "reader/reader.h"
#include "verilog/verilog.h"
#include "writer/output_set.h"

namespace zelk {

namespace {

constexpr std::size_t kNameLimit = 4096;  // an NLD name holds at most 4095 bytes

enum Tok { tEnd, tId, tNum, tPunct, tAttr, tFault };

struct Token {
  Tok kind = tEnd;
  // Identifier (unescaped), number text, punctuation or attribute body,
  // inside the file's text.
  std::string_view text;
  int line = 0;
  bool escaped = false;  // an escaped identifier is never a keyword
  uint32_t hash = 0;     // identifiers: their hash in the tables of names
  bool net = false;      // an identifier where a net's name may stand
};

[[noreturn]] void fault_at(const std::string& file, int line, const std::string& what) {
  fail(file + ":" + std::to_string(line) + ": " + what + "\n");
}

// Byte classes of the C locale, by table: the lexer asks for every byte.
enum : unsigned char { cSpace = 1, cAlpha = 2, cDigit = 4 };
constexpr struct ByteClasses {
  unsigned char of[256] = {};
  constexpr ByteClasses() {
    for (int c : {' ', '\t', '\n', '\v', '\f', '\r'}) of[c] = cSpace;
    for (int c = 'a'; c <= 'z'; ++c) of[c] = cAlpha;
    for (int c = 'A'; c <= 'Z'; ++c) of[c] = cAlpha;
    for (int c = '0'; c <= '9'; ++c) of[c] = cDigit;
  }
} kBytes;
inline bool is_space(char c) { return kBytes.of[static_cast<unsigned char>(c)] & cSpace; }
inline bool is_alpha(char c) { return kBytes.of[static_cast<unsigned char>(c)] & cAlpha; }
inline bool is_digit(char c) { return kBytes.of[static_cast<unsigned char>(c)] & cDigit; }
inline bool is_alnum(char c) { return kBytes.of[static_cast<unsigned char>(c)] & (cAlpha | cDigit); }

class VLexer {
 public:
  // `text` must outlive the lexer and every module read from it.
  VLexer(std::string file, std::string_view text) : file_(std::move(file)), s_(text) {}

  // The next token into t (made anew), where the parser keeps it.
  void next(Token& t) {
    skip();
    t = Token();
    t.line = line_;
    if (p_ >= s_.size()) return;
    char c = s_[p_];
    if (c == '\\') {
      std::size_t b = ++p_;
      while (p_ < s_.size() && !is_space(s_[p_])) ++p_;
      t.kind = tId;
      t.escaped = true;
      t.text = s_.substr(b, p_ - b);
    } else if (is_alpha(c) || c == '_' || c == '$') {
      std::size_t b = p_;
      while (p_ < s_.size() && (is_alnum(s_[p_]) || s_[p_] == '_' || s_[p_] == '$')) ++p_;
      t.kind = tId;
      t.text = s_.substr(b, p_ - b);
    } else if (is_digit(c) || c == '\'') {
      std::size_t b = p_;
      while (p_ < s_.size() &&
             (is_alnum(s_[p_]) || s_[p_] == '\'' || s_[p_] == '_' || s_[p_] == '?'))
        ++p_;
      t.kind = tNum;
      t.text = s_.substr(b, p_ - b);
    } else if (c == '(' && p_ + 1 < s_.size() && s_[p_ + 1] == '*' &&
               !(p_ + 2 < s_.size() && s_[p_ + 2] == ')')) {
      std::size_t e = s_.find("*)", p_ + 2);
      if (e == std::string::npos) fault_at(file_, line_, "unterminated attribute");
      t.kind = tAttr;
      t.text = s_.substr(p_ + 2, e - p_ - 2);
      for (char ch : t.text) line_ += ch == '\n';
      p_ = e + 2;
    } else {
      t.kind = tPunct;
      t.text = s_.substr(p_, 1);
      ++p_;
    }
    if (t.kind == tId && t.text.size() >= kNameLimit)
      fault_at(file_, t.line, "name of " + std::to_string(t.text.size()) +
                                  " bytes; names must be shorter than 4096 bytes");
  }

 private:
  void skip() {
    while (p_ < s_.size()) {
      char c = s_[p_];
      if (c == '\n') {
        ++line_;
        ++p_;
      } else if (is_space(c)) {
        ++p_;
      } else if (c == '/' && p_ + 1 < s_.size() && s_[p_ + 1] == '/') {
        while (p_ < s_.size() && s_[p_] != '\n') ++p_;
      } else if (c == '/' && p_ + 1 < s_.size() && s_[p_ + 1] == '*') {
        std::size_t e = s_.find("*/", p_ + 2);
        if (e == std::string::npos) fault_at(file_, line_, "unterminated comment");
        for (std::size_t i = p_; i < e; ++i) line_ += s_[i] == '\n';
        p_ = e + 2;
      } else if (c == '`') {
        // Compiler directives (`timescale and the like) carry no structure.
        while (p_ < s_.size() && s_[p_] != '\n') ++p_;
      } else {
        return;
      }
    }
  }

  std::string file_;
  std::string_view s_;
  std::size_t p_ = 0;
  int line_ = 1;

 public:
  // The text not lexed yet.
  std::string_view rest() const { return s_.substr(p_); }
};

// A bit of a connection: a declared bit (>= 0) or a constant.
constexpr int kConst0 = -1, kConst1 = -2, kFloat = -3;

enum Dir : uint8_t { dNone, dIn, dOut, dInout };

struct Decl {
  std::string_view name;  // inside the file's text
  int msb = 0, lsb = 0;
  bool vector = false;
  int base = 0;  // id of bit lsb..msb in order of index
  Dir dir = dNone;
  std::string_view type_attr;  // zelk_type of a port, inside the file's text
  int line = 0;
};

// The bits of a connection, most significant first: a piece of the
// module's one array of connection bits.
struct Bits {
  const int* first = nullptr;
  std::size_t count = 0;
  std::size_t size() const { return count; }
  bool empty() const { return count == 0; }
  int operator[](std::size_t i) const { return first[i]; }
};

// A million instances are read: their names and ports stay inside the
// file's text, and their connections and bits in arrays of the module.
struct Conn {
  std::string_view port;
  std::size_t bits;  // bits[bits .. bits + count) of the module
  uint32_t count;
  int line;
};

struct Inst {
  std::string_view type, name;
  std::size_t conns;  // conns[conns .. conns + count) of the module
  uint32_t count;
  int line;
};

// The name of bit `i` (counted from the low index) of a declared net.
std::string bit_name(const Decl& d, int i) {
  if (!d.vector) return std::string(d.name);
  return std::string(d.name) + "[" + std::to_string(std::min(d.msb, d.lsb) + i) + "]";
}

struct Assign {
  std::vector<int> lhs, rhs;
  int line;
};

// A growing array of plain records, an arena per size: the arena's fresh
// pages are zero, so a table of a million empty slots costs nothing before
// its slots are used.
template <class T>
class BigArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  void push_back(const T& v) {
    if (size_ == cap_) reserve(cap_ ? cap_ * 2 : 64);
    data_[size_++] = v;
  }
  // n records of zero bytes, the ones held before dropped.
  void zeroed(std::size_t n) {
    size_ = cap_ = 0;
    reserve(n);
    size_ = n;
  }
  void reserve(std::size_t n) {
    if (n <= cap_) return;
    auto arena = std::make_unique<Arena>();
    T* data = static_cast<T*>(arena->allocate(n * sizeof(T), alignof(T)));
    if (size_) std::memcpy(static_cast<void*>(data), data_, size_ * sizeof(T));
    arena_ = std::move(arena);
    data_ = data;
    cap_ = n;
  }

 private:
  std::unique_ptr<Arena> arena_;
  T* data_ = nullptr;
  std::size_t size_ = 0, cap_ = 0;
};

// Names to declarations: open addressing over one array of slots of half
// a cache line.  A slot holds the name's hash, its first bytes and the
// declaration's first bit, so that a net of a short name is found, and a
// scalar net resolved, by reading that one slot: a million nets are looked
// up in any order, and each further read would wait on memory.
class DeclTable {
 public:
  static uint32_t hash(std::string_view s) {
    return static_cast<uint32_t>(hash_name(s.data(), s.size()));
  }
  // What a lookup finds: the declaration (not read), and for a scalar net
  // its one bit.
  struct Found {
    const Decl* decl = nullptr;
    bool scalar = false;
    int base = 0;
  };
  // Asks for the slot of a name met ahead of its use.  A hint, not a
  // load: the lexing goes on while the slot comes in.
  void read_ahead(uint32_t h) const {
    if (!slots_.empty()) __builtin_prefetch(&slots_[h & mask_]);
  }
  Found look(std::string_view name, uint32_t h) const {
    if (slots_.empty()) return {};
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      const Slot& slot = slots_[i];
      if (slot.index == 0) return {};
      if (slot.hash != h || slot.size != name.size() ||
          !same_bytes(slot.prefix, name.data(), std::min(name.size(), kPrefix)))
        continue;
      const Decl& d = decls_[slot.index - 1];
      if (name.size() > kPrefix && d.name != name) continue;
      return {&d, slot.scalar, slot.base};
    }
  }
  Decl* find(std::string_view name) { return find(name, hash(name)); }
  Decl* find(std::string_view name, uint32_t h) { return const_cast<Decl*>(look(name, h).decl); }
  const Decl* find(std::string_view name) const { return look(name, hash(name)).decl; }
  // Adds d (its name absent).
  void add(const Decl& d) { add(d, hash(d.name)); }
  void add(const Decl& d, uint32_t h) {
    if ((decls_.size() + 1) * 2 > slots_.size()) grow();
    decls_.push_back(d);
    Slot slot{};
    slot.hash = h;
    slot.index = static_cast<uint32_t>(decls_.size());
    slot.base = d.base;
    slot.size = static_cast<uint16_t>(d.name.size());
    slot.scalar = !d.vector;
    std::memcpy(slot.prefix, d.name.data(), std::min(d.name.size(), kPrefix));
    place(slot);
  }

 private:
  static constexpr std::size_t kPrefix = 17;
  struct alignas(32) Slot {
    uint32_t hash;
    uint32_t index;  // of the declaration + 1; 0 for an empty slot
    int32_t base;
    uint16_t size;   // of the name (shorter than 4096 bytes)
    bool scalar;
    char prefix[kPrefix];  // the name's first bytes
  };
  static_assert(sizeof(Slot) == 32);
  // Whether a and b agree in their first n bytes (n at most kPrefix),
  // compared a word at a time: a library call would cost more than the
  // comparison of so short a name.
  static bool same_bytes(const char* a, const char* b, std::size_t n) {
    auto word = [](const char* p) {
      uint64_t w;
      std::memcpy(&w, p, 8);
      return w;
    };
    if (n < 8) {
      for (std::size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return false;
      return true;
    }
    for (std::size_t i = 0; i + 8 <= n; i += 8)
      if (word(a + i) != word(b + i)) return false;
    return word(a + n - 8) == word(b + n - 8);
  }
  void place(const Slot& slot) {
    std::size_t i = slot.hash & mask_;
    while (slots_[i].index != 0) i = (i + 1) & mask_;
    slots_[i] = slot;
  }
  void grow() {
    BigArray<Slot> old;
    std::swap(old, slots_);
    slots_.zeroed(old.empty() ? 64 : old.size() * 2);
    mask_ = slots_.size() - 1;
    for (std::size_t i = 0; i < old.size(); ++i)
      if (old[i].index != 0) place(old[i]);
  }
  BigArray<Decl> decls_;
  BigArray<Slot> slots_;
  std::size_t mask_ = 0;
};

struct VModule {
  std::string name, file;
  int line = 0;
  bool blackbox = false;
  std::vector<std::string> ports;  // port order
  DeclTable decls;
  int bit_count = 0;
  std::vector<Inst> insts;
  std::vector<Conn> conns;
  std::vector<int> bits;
  std::vector<Assign> assigns;
  const Conn* conns_of(const Inst& in) const { return conns.data() + in.conns; }
  Bits bits_of(const Conn& c) const { return {bits.data() + c.bits, c.count}; }
};

// Built-in cells (the cell library may be read along) and the proof
// library's state boxes are never converted.
bool library_module(const std::string& name) {
  int16_t fan = 0;
  try {
    if (class_f(name.c_str(), kCellTable, &fan) != kUser) return true;
  } catch (const Fault&) {
  }
  return name.rfind("zelk_state_", 0) == 0 || name.rfind("$_", 0) == 0;
}

class Parser {
 public:
  Parser(const std::string& file, std::string_view text) : file_(file), lx_(file, text) {
    adv();
  }

  void parse(std::vector<std::unique_ptr<VModule>>& out) {
    while (tok_.kind != tEnd) {
      std::vector<std::pair<std::string_view, std::string_view>> attrs = attributes();
      if (tok_.kind == tEnd) break;
      if (!is_id("module")) unsupported();
      out.push_back(module(attrs));
    }
  }

 private:
  // Tokens are read in blocks, kBlocks blocks ahead of the parsing, so
  // that the slots of the names met are in the cache when they are looked
  // up: a million of them in any order would each wait on memory.  The
  // reads of a block's slots are independent of each other and go
  // together.  A fault of the lexer ahead is raised only when the parsing
  // reaches it.
  static constexpr std::size_t kBlock = 64, kBlocks = 3, kLook = kBlock * kBlocks;
  void adv() {
    if (at_ % kBlock == 0) refill();
    tok_ = ahead_[at_];
    at_ = (at_ + 1) % kLook;
    if (tok_.kind == tFault) fail(lex_fault_);
  }
  // Lexes the block before at_ anew (the block ahead of all) and moves
  // every block one stage on.
  void refill() {
    if (!primed_) {
      for (Token& t : ahead_) lex(t);
      primed_ = true;
    } else {
      std::size_t from = (at_ + kLook - kBlock) % kLook;
      for (std::size_t i = from; i < from + kBlock; ++i) lex(ahead_[i]);
    }
    if (!decls_) return;
    // The slots of the block lexed last: the names of the blocks between
    // are read while they come in.
    std::size_t from = (at_ + kLook - kBlock) % kLook;
    for (std::size_t i = from; i < from + kBlock; ++i)
      if (ahead_[i].net) decls_->read_ahead(ahead_[i].hash);
  }
  void lex(Token& t) {
    if (!lex_failed_) {
      try {
        lx_.next(t);
      } catch (const Fault& f) {
        lex_failed_ = true;
        lex_fault_ = f.message;
      }
    }
    if (lex_failed_) {
      t = Token();
      t.kind = tFault;
      return;
    }
    if (t.kind == tId) {
      t.hash = DeclTable::hash(t.text);
      // Not a port of a connection (after "."), an instance's name (after
      // its cell's) or a keyword.
      t.net = !t.escaped && keyword(t.text) ? false
              : last_kind_ == tPunct         ? !last_dot_
              : last_kind_ == tId            ? last_net_word_
                                             : false;
    }
    last_kind_ = t.kind;
    last_net_word_ = t.kind == tId && !t.escaped && keyword(t.text);
    last_dot_ = t.kind == tPunct && t.text[0] == '.';
  }
  static bool keyword(std::string_view w) {
    return w == "wire" || w == "input" || w == "output" || w == "inout" || w == "tri" ||
           w == "assign" || w == "module" || w == "endmodule";
  }
  bool is_id(const char* w) const { return tok_.kind == tId && !tok_.escaped && tok_.text == w; }
  bool is_p(char c) const { return tok_.kind == tPunct && tok_.text[0] == c; }
  [[noreturn]] void err(const std::string& what) const { fault_at(file_, tok_.line, what); }
  void expect(char c) {
    if (!is_p(c)) err(std::string("expected \"") + c + "\"" + found());
    adv();
  }
  std::string found() const {
    if (tok_.kind == tEnd) return " at end of file";
    return ", found \"" + std::string(tok_.text.substr(0, 40)) + "\"";
  }
  std::string_view ident_view() {
    if (tok_.kind != tId) err("expected a name" + found());
    std::string_view v = tok_.text;
    adv();
    return v;
  }
  std::string ident() {
    if (tok_.kind != tId) err("expected a name" + found());
    std::string s(tok_.text);
    adv();
    return s;
  }
  [[noreturn]] void unsupported() const {
    static const std::unordered_set<std::string_view> behavioural = {
        "always", "initial", "reg", "function", "task", "generate", "for", "if", "case",
        "integer", "real", "always_ff", "always_comb", "always_latch", "logic", "genvar"};
    static const std::unordered_set<std::string_view> params = {"parameter", "localparam",
                                                                "defparam", "specparam"};
    if (tok_.kind == tId && !tok_.escaped && behavioural.count(tok_.text))
      err("behavioural code (\"" + std::string(tok_.text) +
          "\") is outside the structural subset; map it to gate cells first");
    if (tok_.kind == tId && !tok_.escaped && params.count(tok_.text))
      err("parameters (\"" + std::string(tok_.text) + "\") are outside the structural subset");
    err("unexpected" + found());
  }

  // Keys and values inside the file's text.
  std::vector<std::pair<std::string_view, std::string_view>> attributes() {
    std::vector<std::pair<std::string_view, std::string_view>> v;
    while (tok_.kind == tAttr) {
      // name [= value] {, name [= value]}
      std::string_view a = tok_.text;
      std::size_t i = 0;
      while (i < a.size()) {
        while (i < a.size() && (is_space(a[i]) || a[i] == ',')) ++i;
        std::size_t b = i;
        while (i < a.size() && !is_space(a[i]) && a[i] != '=' && a[i] != ',') ++i;
        std::string_view key = a.substr(b, i - b);
        while (i < a.size() && is_space(a[i])) ++i;
        std::string_view value;
        if (i < a.size() && a[i] == '=') {
          ++i;
          while (i < a.size() && is_space(a[i])) ++i;
          if (i < a.size() && a[i] == '"') {
            std::size_t e = a.find('"', i + 1);
            if (e == std::string::npos) e = a.size();
            value = a.substr(i + 1, e - i - 1);
            i = e + 1;
          } else {
            b = i;
            while (i < a.size() && a[i] != ',') ++i;
            value = a.substr(b, i - b);
          }
        }
        if (!key.empty()) v.emplace_back(key, value);
      }
      adv();
    }
    return v;
  }

  int number() {
    if (tok_.kind != tNum) err("expected a number" + found());
    std::string_view t = tok_.text;
    if (t.find('\'') != std::string::npos) err("expected a plain number" + found());
    adv();
    long v = 0;
    for (char c : t) {
      if (c == '_') continue;
      v = v * 10 + (c - '0');
      if (v > 1000000000) err("number too large");
    }
    return static_cast<int>(v);
  }

  void range(Decl& d) {
    d.vector = false;
    d.msb = d.lsb = 0;
    if (!is_p('[')) return;
    adv();
    d.msb = number();
    expect(':');
    d.lsb = number();
    expect(']');
    d.vector = true;
  }

  // Declares name in m (ports are declared again by "wire": same range).
  void declare(VModule& m, std::string_view name, uint32_t h, Decl d, int line) {
    if (Decl* found = m.decls.find(name, h)) {
      Decl& o = *found;
      if (o.vector != d.vector || o.msb != d.msb || o.lsb != d.lsb)
        fault_at(file_, line, "\"" + std::string(name) + "\" declared again with another width");
      if (d.dir != dNone) {
        if (o.dir != dNone) fault_at(file_, line, "port \"" + std::string(name) + "\" declared twice");
        o.dir = d.dir;
        o.type_attr = d.type_attr;
      }
      return;
    }
    d.name = name;
    d.base = m.bit_count;
    d.line = line;
    m.bit_count += std::abs(d.msb - d.lsb) + 1;
    m.decls.add(d, h);
  }

  void decl_list(VModule& m, Dir dir, std::string_view type_attr, bool ansi) {
    Decl d;
    d.dir = dir;
    d.type_attr = type_attr;
    if (is_id("wire")) adv();
    if (is_id("reg")) unsupported();
    if (is_id("signed")) err("signed vectors are outside the structural subset");
    range(d);
    for (;;) {
      int line = tok_.line;
      uint32_t h = tok_.hash;
      std::string_view n = ident_view();
      if (is_p('=')) err("a declaration with a value is outside the structural subset");
      if (is_p('[')) err("arrays are outside the structural subset");
      declare(m, n, h, d, line);
      if (ansi) m.ports.emplace_back(n);
      if (!is_p(',')) break;
      adv();
      if (ansi && (is_id("input") || is_id("output") || is_id("inout") || tok_.kind == tAttr)) break;
    }
  }

  static Dir dir_of(std::string_view w) {
    return w == "input" ? dIn : w == "output" ? dOut : w == "inout" ? dInout : dNone;
  }

  static std::string_view attr(const std::vector<std::pair<std::string_view, std::string_view>>& a,
                          const char* key, bool* has = nullptr) {
    for (auto& [k, v] : a)
      if (k == key) {
        if (has) *has = true;
        return v;
      }
    return {};
  }

  std::unique_ptr<VModule> module(
      const std::vector<std::pair<std::string_view, std::string_view>>& attrs) {
    auto m = std::make_unique<VModule>();
    decls_ = &m->decls;
    m->file = file_;
    m->line = tok_.line;
    adv();
    m->name = ident();
    attr(attrs, "blackbox", &m->blackbox);
    if (library_module(m->name)) {
      // The models of the built-in cells are behavioural; they are skipped.
      while (tok_.kind != tEnd && !is_id("endmodule")) adv();
      if (tok_.kind == tEnd) err("missing endmodule");
      adv();
      return m;
    }
    if (is_p('#')) err("parameters are outside the structural subset");
    reserve(*m);
    if (is_p('(')) {
      adv();
      if (!is_p(')')) {
        for (;;) {
          auto pa = attributes();
          if (tok_.kind == tId && !tok_.escaped && dir_of(tok_.text) != dNone) {
            Dir d = dir_of(tok_.text);
            adv();
            decl_list(*m, d, attr(pa, "zelk_type"), true);
          } else {
            m->ports.push_back(ident());
          }
          if (is_p(')')) break;
          if (is_p(',')) adv();
        }
      }
      expect(')');
    }
    expect(';');
    for (;;) {
      auto a = attributes();
      if (is_id("endmodule")) {
        adv();
        break;
      }
      if (tok_.kind == tEnd) err("missing endmodule");
      if (tok_.kind != tId) unsupported();
      Dir d = tok_.escaped ? dNone : dir_of(tok_.text);
      if (d != dNone) {
        adv();
        decl_list(*m, d, attr(a, "zelk_type"), false);
        expect(';');
      } else if (is_id("wire") || is_id("tri")) {
        adv();
        decl_list(*m, dNone, "", false);
        expect(';');
      } else if (is_id("assign")) {
        adv();
        for (;;) {
          Assign as;
          as.line = tok_.line;
          as.lhs = expr(*m);
          expect('=');
          as.rhs = expr(*m);
          if (!is_p(',') && !is_p(';'))
            err("assign with an expression is outside the structural subset");
          if (as.lhs.size() != as.rhs.size())
            fault_at(file_, as.line, "assign of " + std::to_string(as.rhs.size()) +
                                         " bits to " + std::to_string(as.lhs.size()) + " bits");
          m->assigns.push_back(std::move(as));
          if (is_p(';')) break;
          adv();
        }
        expect(';');
      } else {
        static const std::unordered_set<std::string_view> reserved = {
            "always", "initial", "reg", "function", "task", "generate", "parameter", "localparam",
            "defparam", "integer", "real", "genvar", "specify", "supply0", "supply1",
            "and", "or", "nand", "nor", "xor", "xnor", "not", "buf", "bufif0", "bufif1"};
        if (!tok_.escaped && reserved.count(tok_.text)) unsupported();
        instance(*m);
      }
    }
    return m;
  }

  uint32_t count_of(std::size_t n, int line) const {
    if (n > UINT32_MAX) fault_at(file_, line, "more than 4294967295 bits or connections in one instance");
    return static_cast<uint32_t>(n);
  }

  // Room for the module's instances and connections, reckoned from its
  // text: at most one instance per ";" and one connection per "(".  A
  // million of them are then read without moving them as the arrays grow
  // (the room not used is never touched).
  void reserve(VModule& m) {
    std::string_view text = lx_.rest();
    text = text.substr(0, text.find("endmodule"));
    auto semicolons = static_cast<std::size_t>(std::count(text.begin(), text.end(), ';'));
    auto parentheses = static_cast<std::size_t>(std::count(text.begin(), text.end(), '('));
    m.insts.reserve(semicolons);
    m.conns.reserve(parentheses);
    m.bits.reserve(parentheses);
  }

  void instance(VModule& m) {
    Inst in;
    in.line = tok_.line;
    in.type = ident_view();
    if (is_p('#')) err("parameters are outside the structural subset");
    in.name = ident_view();
    if (is_p('[')) err("instance arrays are outside the structural subset");
    expect('(');
    in.conns = m.conns.size();
    // Ports connected twice: cells have few, searched directly (a set for
    // large instances).
    std::unordered_set<std::string_view> seen;
    if (!is_p(')')) {
      for (;;) {
        if (!is_p('.')) err("positional connections are outside the structural subset");
        adv();
        Conn c;
        c.line = tok_.line;
        c.port = ident_view();
        bool twice = false;
        std::size_t made = m.conns.size() - in.conns;
        if (made < 16) {
          for (std::size_t k = in.conns; k < m.conns.size() && !twice; ++k) twice = m.conns[k].port == c.port;
        } else {
          if (seen.empty())
            for (std::size_t k = in.conns; k < m.conns.size(); ++k) seen.insert(m.conns[k].port);
          twice = !seen.insert(c.port).second;
        }
        if (twice)
          fault_at(file_, c.line, "port \"" + std::string(c.port) + "\" of \"" + std::string(in.name) +
                                      "\" connected twice");
        expect('(');
        c.bits = m.bits.size();
        if (!is_p(')')) expr(m, m.bits);
        c.count = count_of(m.bits.size() - c.bits, c.line);
        expect(')');
        m.conns.push_back(c);
        if (is_p(')')) break;
        expect(',');
      }
    }
    in.count = count_of(m.conns.size() - in.conns, in.line);
    expect(')');
    expect(';');
    m.insts.push_back(in);
  }

  // A net expression: a name, a bit or part select, a sized constant or a
  // concatenation of those; bits most significant first.
  std::vector<int> expr(VModule& m) {
    std::vector<int> bits;
    expr(m, bits);
    return bits;
  }
  // Appends the bits of the expression to bits.
  void expr(VModule& m, std::vector<int>& bits) {
    if (is_p('{')) {
      adv();
      for (;;) {
        if (tok_.kind == tNum && tok_.text.find('\'') == std::string::npos)
          err("replication is outside the structural subset");
        expr(m, bits);
        if (is_p('}')) break;
        expect(',');
      }
      adv();
      return;
    }
    if (tok_.kind == tNum) {
      constant(bits);
      return;
    }
    if (tok_.kind != tId) err("assign with an expression is outside the structural subset");
    int line = tok_.line;
    uint32_t h = tok_.hash;
    std::string_view n = ident_view();
    const DeclTable::Found found = m.decls.look(n, h);
    if (!found.decl) fault_at(file_, line, "undeclared net \"" + std::string(n) + "\"");
    if (found.scalar && !is_p('[')) {
      bits.push_back(found.base);
      return;
    }
    const Decl& d = *found.decl;
    int lo = std::min(d.msb, d.lsb), hi = std::max(d.msb, d.lsb);
    int from = d.msb, to = d.lsb;
    if (is_p('[')) {
      adv();
      from = to = number();
      if (is_p(':')) {
        adv();
        to = number();
      }
      expect(']');
      if (!d.vector || std::min(from, to) < lo || std::max(from, to) > hi)
        fault_at(file_, line, "bit select outside the range of \"" + std::string(n) + "\"");
    }
    int step = from >= to ? -1 : 1;
    for (int i = from;; i += step) {
      bits.push_back(d.base + (i - lo));
      if (i == to) break;
    }
  }

  void constant(std::vector<int>& bits) {
    std::string t(tok_.text);
    int line = tok_.line;
    adv();
    std::size_t q = t.find('\'');
    if (q == std::string::npos) fault_at(file_, line, "unsized constant \"" + t + "\"");
    int width = q ? 0 : 32;
    for (std::size_t i = 0; i < q; ++i) {
      if (!std::isdigit(static_cast<unsigned char>(t[i])) || width > 100000)
        fault_at(file_, line, "constant \"" + t + "\" is outside the structural subset");
      width = width * 10 + (t[i] - '0');
    }
    char base = static_cast<char>(std::tolower(static_cast<unsigned char>(q + 1 < t.size() ? t[q + 1] : 'x')));
    if (base == 's') fault_at(file_, line, "signed constant \"" + t + "\"");
    int per = base == 'b' ? 1 : base == 'o' ? 3 : base == 'h' ? 4 : 0;
    if (per == 0 || width < 1 || width > 100000) fault_at(file_, line, "constant \"" + t + "\" is outside the structural subset");
    std::vector<int> lsb_first;
    for (std::size_t i = t.size(); i-- > q + 2;) {
      char c = static_cast<char>(std::tolower(static_cast<unsigned char>(t[i])));
      if (c == '_') continue;
      for (int k = 0; k < per; ++k) {
        if (c == 'x' || c == 'z' || c == '?') lsb_first.push_back(kFloat);
        else {
          int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : c - 'a' + 10;
          lsb_first.push_back((v >> k) & 1 ? kConst1 : kConst0);
        }
      }
    }
    lsb_first.resize(static_cast<std::size_t>(width), kConst0);
    bits.insert(bits.end(), lsb_first.rbegin(), lsb_first.rend());
  }

  std::string file_;
  VLexer lx_;
  Token tok_;
  Token ahead_[kLook];
  std::size_t at_ = 0;
  bool primed_ = false;
  Tok last_kind_ = tEnd;  // of the token lexed last
  bool last_net_word_ = false, last_dot_ = false;
  bool lex_failed_ = false;
  std::string lex_fault_;
  const DeclTable* decls_ = nullptr;  // of the module being read
};

// ---------------------------------------------------------------- cells

// One NLD cell of a translated instance: its class name and, per pin, the
// connection it takes: a port of the Verilog cell (>= 0 index into the
// cell's port letters) or a helper net made inside the translation (< 0).
struct Part {
  std::string cell;
  std::vector<std::pair<std::string, int>> pins;  // NLD pin, source
};

struct CellMap {
  std::vector<std::string> ports;  // Verilog ports; the last ones are outputs
  int outputs;
  std::vector<Part> parts;
};

// The Yosys gate cells.  Helper nets are -1, -2, ...; port k is k.
const std::unordered_map<std::string, CellMap>& yosys_cells() {
  static const std::unordered_map<std::string, CellMap> t = [] {
    std::unordered_map<std::string, CellMap> m;
    auto two = [&](const char* y, const char* cell, const char* out) {
      m[y] = {{"A", "B", "Y"}, 1, {{cell, {{"in1", 0}, {"in2", 1}, {out, 2}}}}};
    };
    m["$_NOT_"] = {{"A", "Y"}, 1, {{"inv-", {{"in", 0}, {"nout", 1}}}}};
    m["$_BUF_"] = {{"A", "Y"}, 1, {{"ninv-", {{"in", 0}, {"out", 1}}}}};
    two("$_AND_", "and--2", "out");
    two("$_NAND_", "nand--2", "nout");
    two("$_OR_", "or--2", "out");
    two("$_NOR_", "nor--2", "nout");
    two("$_XOR_", "eor--2", "out");
    two("$_XNOR_", "enor--2", "nout");
    m["$_ANDNOT_"] = {{"A", "B", "Y"}, 1,
                      {{"inv-", {{"in", 1}, {"nout", -1}}}, {"and--2", {{"in1", 0}, {"in2", -1}, {"out", 2}}}}};
    m["$_ORNOT_"] = {{"A", "B", "Y"}, 1,
                     {{"inv-", {{"in", 1}, {"nout", -1}}}, {"or--2", {{"in1", 0}, {"in2", -1}, {"out", 2}}}}};
    m["$_AOI3_"] = {{"A", "B", "C", "Y"}, 1, {{"aoi--21", {{"in1", 0}, {"in2", 1}, {"in3", 2}, {"nout", 3}}}}};
    m["$_OAI3_"] = {{"A", "B", "C", "Y"}, 1, {{"oai--21", {{"in1", 0}, {"in2", 1}, {"in3", 2}, {"nout", 3}}}}};
    m["$_AOI4_"] = {{"A", "B", "C", "D", "Y"}, 1,
                    {{"aoi--22", {{"in1", 0}, {"in2", 1}, {"in3", 2}, {"in4", 3}, {"nout", 4}}}}};
    m["$_OAI4_"] = {{"A", "B", "C", "D", "Y"}, 1,
                    {{"oai--22", {{"in1", 0}, {"in2", 1}, {"in3", 2}, {"in4", 3}, {"nout", 4}}}}};
    // Y = S ? B : A, as ~((A & ~S) | (B & S)) inverted.
    m["$_MUX_"] = {{"A", "B", "S", "Y"}, 1,
                   {{"inv-", {{"in", 2}, {"nout", -1}}},
                    {"aoi--22", {{"in1", 0}, {"in2", -1}, {"in3", 1}, {"in4", 2}, {"nout", -2}}},
                    {"inv-", {{"in", -2}, {"nout", 3}}}}};
    // Y = E ? A : z; the tristate cell is enabled low.
    m["$_TBUF_"] = {{"A", "E", "Y"}, 1,
                    {{"inv-", {{"in", 1}, {"nout", -1}}}, {"ts_buf-", {{"in", 0}, {"nenb", -1}, {"out", 2}}}}};
    // Flip-flops: $_DFF_<clock><reset><value>_ and $_DFFE_<clock><reset><value><enable>_;
    // a negative polarity gets an inverter.
    const char* pn = "PN";
    for (int e = 0; e < 2; ++e)
      for (int c = 0; c < 2; ++c) {
        for (int en = 0; en < (e ? 2 : 1); ++en) {
          // without reset
          {
            std::string name = std::string(e ? "$_DFFE_" : "$_DFF_") + pn[c] + (e ? std::string(1, pn[en]) : "") + "_";
            CellMap cm;
            cm.ports = e ? std::vector<std::string>{"C", "D", "E", "Q"} : std::vector<std::string>{"C", "D", "Q"};
            cm.outputs = 1;
            int q = e ? 3 : 2;
            Part r{"reg-1", {{"in", 1}, {"m_clock", c ? -1 : 0}, {"out", q}}};
            if (c) cm.parts.push_back({"inv-", {{"in", 0}, {"nout", -1}}});
            if (e) {
              r.pins.push_back({"clk_enb", en ? -2 : 2});
              if (en) cm.parts.push_back({"inv-", {{"in", 2}, {"nout", -2}}});
            }
            cm.parts.push_back(r);
            m[name] = cm;
          }
          for (int rp = 0; rp < 2; ++rp)
            for (int v = 0; v < 2; ++v) {
              std::string name = std::string(e ? "$_DFFE_" : "$_DFF_") + pn[c] + pn[rp] + char('0' + v) +
                                 (e ? std::string(1, pn[en]) : "") + "_";
              CellMap cm;
              cm.ports = e ? std::vector<std::string>{"C", "D", "E", "R", "Q"}
                           : std::vector<std::string>{"C", "D", "R", "Q"};
              cm.outputs = 1;
              int q = e ? 4 : 3, rr = e ? 3 : 2;
              Part r{v ? "regs-1" : "regr-1",
                     {{"in", 1}, {"m_clock", c ? -1 : 0}, {"p_reset", rp ? -3 : rr}, {"out", q}}};
              if (c) cm.parts.push_back({"inv-", {{"in", 0}, {"nout", -1}}});
              if (rp) cm.parts.push_back({"inv-", {{"in", rr}, {"nout", -3}}});
              if (e) {
                r.pins.push_back({"clk_enb", en ? -2 : 2});
                if (en) cm.parts.push_back({"inv-", {{"in", 2}, {"nout", -2}}});
              }
              cm.parts.push_back(r);
              m[name] = cm;
            }
        }
      }
    return m;
  }();
  return t;
}

// NLD names hold no blank, parenthesis, dot or semicolon, and a module name
// is a file name; such bytes are written as %XX.
void append_nld_name(std::string& r, std::string_view s, bool file_name) {
  auto plain = [file_name](unsigned char c) {
    return !(c == '.' || c == '(' || c == ')' || c == ';' || c <= ' ' || c == 127 ||
             (file_name && c == '/'));
  };
  // Most names need no encoding: they are copied whole.
  if (std::all_of(s.begin(), s.end(), plain)) {
    r += s;
    return;
  }
  for (unsigned char c : s) {
    if (!plain(c)) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      r += buf;
    } else {
      r += static_cast<char>(c);
    }
  }
}
std::string nld_name(std::string_view s, bool file_name) {
  std::string r;
  append_nld_name(r, s, file_name);
  return r;
}

struct Unions {
  std::vector<int> parent;
  int find(int x) {
    while (parent[static_cast<std::size_t>(x)] != x) {
      int& p = parent[static_cast<std::size_t>(x)];
      p = parent[static_cast<std::size_t>(p)];
      x = p;
    }
    return x;
  }
  void join(int a, int b) { parent[static_cast<std::size_t>(find(a))] = find(b); }
};

// One terminal: pin `pin` of component `comp` (an index into the module's
// component names), or the module pin `pin` (comp < 0).  The pin text is
// stable storage (the cell tables, the parsed connections, or the
// converter's pin names).
struct Term {
  Term(int comp_, std::string_view pin_, int bit_, Dir dir_, int line_)
      : pin(pin_), comp(comp_), bit(bit_), line(line_), dir(dir_) {}
  std::string_view pin;
  int comp;
  int bit;
  int line;
  Dir dir;             // dOut drives, dInout drives as tristate
};

// Names of the components of a module: an open table of component numbers
// with their names' hashes, the names kept by the caller (name_of(comp)),
// read only when the hashes agree.
class NameSet {
 public:
  void reserve(std::size_t n) {
    std::size_t size = 64;
    while (size < n * 2) size *= 2;
    slots_.assign(size, Slot{});
  }
  // Adds comp named name; false when the name is there already.
  template <class NameOf>
  bool insert(std::string_view name, int comp, const NameOf& name_of) {
    if ((count_ + 1) * 2 > slots_.size()) grow(name_of);
    const uint64_t h = hash_name(name.data(), name.size());
    std::size_t i = h & (slots_.size() - 1);
    for (; slots_[i].comp >= 0; i = (i + 1) & (slots_.size() - 1))
      if (slots_[i].check == check_of(h) && name_of(slots_[i].comp) == name) return false;
    slots_[i] = {comp, check_of(h)};
    ++count_;
    return true;
  }
  // Asks for the slot of name, for the reads of a batch to go together.
  void read_ahead(std::string_view name) const {
    if (!slots_.empty())
      __builtin_prefetch(&slots_[hash_name(name.data(), name.size()) & (slots_.size() - 1)]);
  }
  template <class NameOf>
  bool contains(std::string_view name, const NameOf& name_of) const {
    if (slots_.empty()) return false;
    const uint64_t h = hash_name(name.data(), name.size());
    for (std::size_t i = h & (slots_.size() - 1); slots_[i].comp >= 0; i = (i + 1) & (slots_.size() - 1))
      if (slots_[i].check == check_of(h) && name_of(slots_[i].comp) == name) return true;
    return false;
  }

 private:
  // The high half of the name's hash (its low bits place the slot): names
  // are compared only when it agrees.
  struct Slot {
    int comp = -1;
    uint32_t check = 0;
  };
  static uint32_t check_of(uint64_t h) { return static_cast<uint32_t>(h >> 32); }
  template <class NameOf>
  void grow(const NameOf& name_of) {
    std::vector<Slot> old(slots_.empty() ? 64 : slots_.size() * 2);
    old.swap(slots_);
    for (const Slot& s : old) {
      if (s.comp < 0) continue;
      std::string_view name = name_of(s.comp);
      std::size_t i = hash_name(name.data(), name.size()) & (slots_.size() - 1);
      while (slots_[i].comp >= 0) i = (i + 1) & (slots_.size() - 1);
      slots_[i] = s;
    }
  }
  std::vector<Slot> slots_;
  std::size_t count_ = 0;
};

// A file's text, made in a buffer and written out in blocks as it grows.
// Its last byte stays in the buffer until finish(), where the closing
// parenthesis of the module takes the place of its final line break.
class TextOut {
 public:
  explicit TextOut(OutputSet& f) : f_(f) { buf_.reserve(kBlock + kBlock / 4); }
  // Append here, then spill().
  std::string& text() { return buf_; }
  void spill() {
    if (buf_.size() >= kBlock) write(buf_.size() - 1);
  }
  // A text made elsewhere, written out directly rather than copied.
  void put(std::string_view t) {
    if (t.empty()) return;
    write(buf_.size());
    f_.write(t.data(), t.size() - 1);
    buf_.assign(1, t.back());
  }
  void finish() {
    buf_.pop_back();
    buf_ += ")\n";
    write(buf_.size());
  }

 private:
  static constexpr std::size_t kBlock = std::size_t(1) << 20;
  void write(std::size_t n) {
    f_.write(buf_.data(), n);
    buf_.erase(0, n);
  }
  OutputSet& f_;
  std::string buf_;
};

// What the cell name of an instance says, found once per cell name.
struct CellType {
  const CellMap* yosys = nullptr;  // a Yosys gate cell
  int cls = kUser;                 // a built-in cell's class
  bool bad_fan = false;            // a built-in cell's name with a fan-in it does not allow
  const VModule* def = nullptr;    // a module read along
  std::string nld;                 // the cell name in NLD
};

class Converter {
 public:
  explicit Converter(std::vector<std::unique_ptr<VModule>>& mods) : mods_(mods) {
    for (auto& m : mods_) {
      auto [it, fresh] = by_name_.try_emplace(m->name, m.get());
      if (!fresh) fault_at(m->file, m->line, "module \"" + m->name + "\" defined twice");
    }
  }

  // Writes every module into `files`, as dir/<file>.nld or .pcd; `paths`
  // receives the files' paths in the order written.
  void run(OutputSet& files, const std::string& dir, std::vector<std::string>& paths) {
    auto begin = [&](const std::string& name) {
      paths.push_back(dir + "/" + name);
      files.begin(paths.back());
    };
    check_cycles();
    std::unordered_map<std::string, const VModule*> file_of;
    for (auto& m : mods_) {
      if (library_module(m->name)) continue;
      std::string file = nld_name(m->name, true);
      if (file.size() >= kNameLimit) fault_at(m->file, m->line, "module name too long");
      auto [other, fresh] = file_of.try_emplace(file, m.get());
      if (!fresh)
        fault_at(m->file, m->line, "modules \"" + other->second->name + "\" and \"" + m->name +
                                       "\" would both be written as " + file);
      if (is_box(*m)) {
        begin(file + ".pcd");
        TextOut out(files);
        out.text() = pcd(*m);
        out.finish();
      } else {
        begin(file + ".nld");
        nld(*m, files);
      }
      files.end();
    }
  }

 private:
  static bool is_box(const VModule& m) {
    return m.blackbox || (m.insts.empty() && m.assigns.empty() && !m.ports.empty());
  }

  const Decl& port_decl(const VModule& m, const std::string& p) {
    const Decl* d = m.decls.find(p);
    if (!d || d->dir == dNone)
      fault_at(m.file, m.line, "port \"" + p + "\" of module \"" + m.name + "\" has no direction");
    return *d;
  }

  static std::string_view type_word(const Decl& d, bool tristate_net) {
    if (!d.type_attr.empty()) return d.type_attr;
    if (d.dir == dIn) return "input";
    if (d.dir == dInout) return "tristate";
    return tristate_net ? "tristate" : "output";
  }

  std::string pcd(const VModule& m) {
    std::string s = "(def-module " + nld_name(m.name, false) + "\n";
    for (const std::string& p : m.ports) {
      const Decl& d = port_decl(m, p);
      int w = std::abs(d.msb - d.lsb) + 1;
      for (int i = w - 1; i >= 0; --i) {
        std::string word = !d.type_attr.empty() ? std::string(d.type_attr)
                           : d.dir == dIn       ? "input"
                           : d.dir == dOut      ? "output"
                                                : "bidirect";
        s += "  (def-pin " + nld_name(bit_name(d, i), false) +
             " type " + word + ")\n";
      }
    }
    return s;  // its final line break becomes the closing parenthesis
  }

  // Pins of an instantiated cell: the declared module's ports, bit by bit,
  // most significant first within a port.
  // Made once per port of a module and kept, so that terminals can point
  // at them.
  const std::vector<std::string>* module_pins(const VModule& def, std::string_view port,
                                              Dir* dir) {
    const Decl* found = def.decls.find(port);
    if (!found || found->dir == dNone) return nullptr;
    const Decl& d = *found;
    *dir = d.dir;
    auto [c, fresh] = pin_cache_.try_emplace(&d);
    if (fresh) {
      int w = std::abs(d.msb - d.lsb) + 1;
      for (int i = w - 1; i >= 0; --i) c->second.push_back(nld_name(bit_name(d, i), false));
    }
    return &c->second;
  }
  std::unordered_map<const Decl*, std::vector<std::string>> pin_cache_;

  void nld(VModule& m, OutputSet& file) {
    int bits = m.bit_count;
    Unions u;
    // Bits, then one node per constant value of this module.
    u.parent.resize(static_cast<std::size_t>(bits) + 2);
    for (std::size_t i = 0; i < u.parent.size(); ++i) u.parent[i] = static_cast<int>(i);
    const int c0 = bits, c1 = bits + 1;
    auto node = [&](int b) { return b == kConst0 ? c0 : b == kConst1 ? c1 : b; };
    std::vector<int> const_line(2, 0);
    for (const Assign& a : m.assigns)
      for (std::size_t i = 0; i < a.lhs.size(); ++i) {
        if (a.lhs[i] < 0) fault_at(m.file, a.line, "assign to a constant");
        if (a.rhs[i] == kFloat) continue;
        if (a.rhs[i] < 0) const_line[a.rhs[i] == kConst0 ? 0 : 1] = a.line;
        u.join(a.lhs[i], node(a.rhs[i]));
      }

    std::vector<Term> terms;
    terms.reserve(m.conns.size() + m.insts.size());
    std::string comps;  // "(def-comp cell name)" lines
    // Component names, one after the other in one text.
    std::string name_text;
    std::vector<std::pair<std::size_t, std::size_t>> name_at;  // offset, length
    auto name_of = [&](int comp) {
      auto [at, size] = name_at[static_cast<std::size_t>(comp)];
      return std::string_view(name_text).substr(at, size);
    };
    NameSet inst_names;
    inst_names.reserve(m.insts.size() + 2);
    // The name is the last `size` bytes of name_text.
    // Names are checked for a second use in batches, their slots read
    // together first; a fault met before a batch is checked waits for the
    // check, which may find a fault earlier in the file.
    std::vector<std::pair<int, int>> unchecked;  // component, line
    auto check = [&] {
      constexpr std::size_t kBatch = 64;
      for (std::size_t b = 0; b < unchecked.size(); b += kBatch) {
        std::size_t e = std::min(unchecked.size(), b + kBatch);
        for (std::size_t k = b; k < e; ++k) inst_names.read_ahead(name_of(unchecked[k].first));
        for (std::size_t k = b; k < e; ++k) {
          auto [comp, line] = unchecked[k];
          if (!inst_names.insert(name_of(comp), comp, name_of)) {
            unchecked.clear();  // the fault is the first one: a later check finds none
            fault_at(m.file, line, "instance name \"" + std::string(name_of(comp)) + "\" used twice");
          }
        }
      }
      unchecked.clear();
    };
    auto add_comp = [&](std::string_view cell, std::size_t size, int line) {
      if (size >= kNameLimit) fault_at(m.file, line, "instance name too long");
      name_at.emplace_back(name_text.size() - size, size);
      int comp = static_cast<int>(name_at.size()) - 1;
      std::string_view name = name_of(comp);
      unchecked.emplace_back(comp, line);
      if (unchecked.size() == 4096) check();
      comps += "  (def-comp ";
      comps += cell;
      comps += ' ';
      comps += name;
      comps += ")\n";
      return comp;
    };
    auto member = [&](const Term& t) {
      return t.comp < 0 ? std::string(t.pin) : std::string(name_of(t.comp)) + "." + std::string(t.pin);
    };
    int helper_nets = 0;
    try {
    for (const Inst& in : m.insts) {
      std::size_t iname_at = name_text.size();
      append_nld_name(name_text, in.name, false);
      std::size_t iname_size = name_text.size() - iname_at;
      const CellType& ct = cell_type(in.type);
      int cls = ct.cls;
      const Conn* conns = m.conns_of(in);
      if (ct.bad_fan)
        fault_at(m.file, in.line, "cell \"" + std::string(in.type) + "\" has a fan-in number it does not allow");
      if (ct.yosys) {
        const CellMap& cm = *ct.yosys;
        Bits at[8];
        for (std::size_t k = 0; k < in.count; ++k) {
          const Conn& c = conns[k];
          auto p = std::find(cm.ports.begin(), cm.ports.end(), c.port);
          if (p == cm.ports.end())
            fault_at(m.file, c.line, "cell \"" + std::string(in.type) + "\" has no port \"" + std::string(c.port) + "\"");
          if (c.count != 1)
            fault_at(m.file, c.line, "port \"" + std::string(c.port) + "\" of \"" + std::string(in.name) + "\" is one bit wide");
          at[static_cast<std::size_t>(p - cm.ports.begin())] = m.bits_of(c);
        }
        int base = bits + 2 + helper_nets;
        int most = 0;
        for (std::size_t k = 0; k < cm.parts.size(); ++k) {
          const Part& part = cm.parts[k];
          std::size_t size = iname_size;
          if (cm.parts.size() > 1) {
            std::string number = std::to_string(k + 1);
            if (k > 0) name_text += std::string(name_text, iname_at, iname_size);
            name_text += '~';
            name_text += number;
            size += 1 + number.size();
          }
          int comp = add_comp(part.cell, size, in.line);
          for (auto& [pin, src] : part.pins) {
            int bit;
            if (src < 0) {
              most = std::max(most, -src);
              bit = base + (-src - 1);
            } else {
              const Bits& b = at[static_cast<std::size_t>(src)];
              if (b.empty() || b[0] == kFloat) continue;
              bit = node(b[0]);
            }
            terms.emplace_back(comp, pin, bit, part_dir(part, pin), in.line);
          }
        }
        helper_nets += most;
        u.parent.resize(static_cast<std::size_t>(bits + 2 + helper_nets));
        for (int k = base; k < bits + 2 + helper_nets; ++k) u.parent[static_cast<std::size_t>(k)] = k;
        continue;
      }
      if (cls != kUser) {
        int comp = add_comp(in.type, iname_size, in.line);
        for (std::size_t k = 0; k < in.count; ++k) {
          const Conn& c = conns[k];
          int t = pin_type(cls, c.port);
          if (t < 0)
            fault_at(m.file, c.line, "cell \"" + std::string(in.type) + "\" has no pin \"" + std::string(c.port) + "\"");
          if (c.count > 1)
            fault_at(m.file, c.line, "pin \"" + std::string(c.port) + "\" of \"" + std::string(in.name) + "\" is one bit wide");
          if (c.count == 0 || m.bits[c.bits] == kFloat) continue;
          Dir dir = t == kwTristate ? dInout : t == kwOutput ? dOut : dIn;
          // A pin name the cell has needs no encoding.
          terms.emplace_back(comp, c.port, node(m.bits[c.bits]), dir, c.line);
        }
        continue;
      }
      if (!ct.def)
        fault_at(m.file, in.line, "unknown cell \"" + std::string(in.type) + "\" with no port directions");
      int comp = add_comp(ct.nld, iname_size, in.line);
      for (std::size_t k = 0; k < in.count; ++k) {
        const Conn& c = conns[k];
        Bits b = m.bits_of(c);
        Dir dir = dNone;
        const std::vector<std::string>* pins = module_pins(*ct.def, c.port, &dir);
        if (!pins)
          fault_at(m.file, c.line, "module \"" + std::string(in.type) + "\" has no port \"" + std::string(c.port) + "\"");
        if (pins->size() != b.size() && !b.empty())
          fault_at(m.file, c.line, "port \"" + std::string(c.port) + "\" of \"" + std::string(in.name) + "\" is " +
                                       std::to_string(pins->size()) + " bits wide, connected to " +
                                       std::to_string(b.size()));
        for (std::size_t i = 0; i < b.size(); ++i) {
          if (b[i] == kFloat) continue;
          terms.emplace_back(comp, (*pins)[i], node(b[i]), dir, c.line);
        }
      }
    }
    } catch (const Fault&) {
      check();
      throw;
    }
    check();
    // Every terminal's net, found once: the joins are all made.
    std::size_t nodes = u.parent.size();
    for (std::size_t i = 0; i < nodes; ++i) u.parent[i] = u.find(static_cast<int>(i));
    auto root = [&](int b) { return u.parent[static_cast<std::size_t>(b)]; };
    for (Term& t : terms) t.bit = root(t.bit);

    // Constant cells, one per value used.
    for (int v = 0; v < 2; ++v) {
      int value = root(v ? c1 : c0);
      bool used = const_line[static_cast<std::size_t>(v)] != 0 ||
                  std::any_of(terms.begin(), terms.end(), [&](const Term& t) { return t.bit == value; });
      if (!used) continue;
      std::string base = v ? "high-" : "low-", name = base;
      for (int k = 1; inst_names.contains(name, name_of); ++k) name = base + std::to_string(k);
      name_text += name;
      int comp = add_comp(base, name.size(), m.line);
      check();
      terms.emplace_back(comp, v ? "out" : "nout", value, dOut,
                         const_line[static_cast<std::size_t>(v)] ? const_line[static_cast<std::size_t>(v)] : m.line);
    }

    // Module pins, bit by bit.
    std::string pins_text;
    std::vector<Term> pin_terms;
    std::vector<const Decl*> pin_decls;
    for (const std::string& p : m.ports) {
      const Decl& d = port_decl(m, p);
      Dir dir = dNone;
      const std::vector<std::string>& pn = *module_pins(m, p, &dir);
      for (std::size_t k = 0; k < pn.size(); ++k) {
        int b = d.base + static_cast<int>(pn.size() - 1 - k);
        pin_decls.push_back(&d);
        Dir drive = d.dir == dIn ? dOut : d.dir == dInout ? dInout : dIn;
        pin_terms.emplace_back(-1, pn[k], root(b), drive, d.line);
      }
    }
    std::size_t total = pin_terms.size() + terms.size();
    auto term_at = [&](std::size_t i) -> const Term& {
      return i < pin_terms.size() ? pin_terms[i] : terms[i - pin_terms.size()];
    };

    // One walk over the terminals: each net's drivers, whether a tristate
    // driver is on it, its terminals and their bytes in its line
    // (" comp.pin" or " pin"), and the nets in order of first appearance,
    // pins first.
    struct Net {
      std::size_t bytes = 0;  // then where its next terminal goes, kLone for none
      int terms = 0;
      int drivers = 0;
      bool tristate = false;
      bool seen = false;
    };
    constexpr std::size_t kLone = SIZE_MAX;
    std::vector<Net> net(nodes);
    std::vector<int> first_seen;  // the nets, by first appearance
    // The terminals come in instance order and their nets in any order: the
    // nets of a batch of terminals are read together first, so that their
    // loads overlap instead of each waiting on memory in turn.
    auto each_term = [&](auto f) {
      constexpr std::size_t kBatch = 32;
      for (std::size_t b = 0; b < total; b += kBatch) {
        const std::size_t e = std::min(total, b + kBatch);
        for (std::size_t i = b; i < e; ++i)
          __builtin_prefetch(&net[static_cast<std::size_t>(term_at(i).bit)]);
        for (std::size_t i = b; i < e; ++i) f(term_at(i));
      }
    };
    each_term([&](const Term& t) {
      Net& n = net[static_cast<std::size_t>(t.bit)];
      if (t.dir == dInout) n.tristate = true;
      if (t.dir == dOut) ++n.drivers;
      if (n.terms++ == 0) first_seen.push_back(t.bit);
      n.bytes += 1 + t.pin.size() + (t.comp < 0 ? 0 : name_at[static_cast<std::size_t>(t.comp)].second + 1);
    });
    if (net[static_cast<std::size_t>(root(c0))].drivers && root(c0) == root(c1))
      fault_at(m.file, m.line, "a net is tied to both constants");
    // Drivers: one per net unless a tristate driver is on it.
    auto clash = [&](const Term& t) {
      const Net& n = net[static_cast<std::size_t>(t.bit)];
      return t.dir == dOut && n.drivers > 1 && !n.tristate;
    };
    if (std::any_of(net.begin(), net.end(), [](const Net& n) { return n.drivers > 1 && !n.tristate; })) {
      for (const Term& t : terms)
        // Reported at the second driver met in file order.
        if (clash(t) && std::exchange(net[static_cast<std::size_t>(t.bit)].seen, true))
          fault_at(m.file, t.line, "net of \"" + member(t) + "\" has more than one driver");
      for (const Term& t : pin_terms)
        if (clash(t)) fault_at(m.file, t.line, "input \"" + member(t) + "\" is driven inside the module");
    }
    for (std::size_t i = 0; i < pin_terms.size(); ++i)
      pins_text += "  (def-pin " + std::string(pin_terms[i].pin) + " type " +
                   std::string(type_word(*pin_decls[i], net[static_cast<std::size_t>(pin_terms[i].bit)].tristate)) +
                   ")\n";

    // The nets' lines, each terminal written straight into its net's place
    // in one text (a net of one terminal joins nothing and is left out).
    std::size_t net_bytes = 0;
    const std::string_view head = "  (def-net", tail = ")\n";
    for (int b : first_seen) {
      Net& n = net[static_cast<std::size_t>(b)];
      if (n.terms < 2) {
        n.bytes = kLone;
        continue;
      }
      std::size_t bytes = n.bytes;
      n.bytes = net_bytes + head.size();
      net_bytes += head.size() + bytes + tail.size();
    }
    std::unique_ptr<char[]> nets(new char[net_bytes]);
    for (int b : first_seen) {
      const Net& n = net[static_cast<std::size_t>(b)];
      if (n.bytes != kLone) head.copy(nets.get() + n.bytes - head.size(), head.size());
    }
    each_term([&](const Term& t) {
      Net& n = net[static_cast<std::size_t>(t.bit)];
      if (n.bytes == kLone) return;
      char* at = nets.get() + n.bytes;
      *at++ = ' ';
      if (t.comp >= 0) {
        std::string_view name = name_of(t.comp);
        at = std::copy(name.begin(), name.end(), at);
        *at++ = '.';
      }
      at = std::copy(t.pin.begin(), t.pin.end(), at);
      n.bytes = static_cast<std::size_t>(at - nets.get());
      if (--n.terms == 0) tail.copy(at, tail.size());
    });

    TextOut out(file);
    std::string& s = out.text();
    s = "(def-module " + nld_name(m.name, false) + "\n";
    s += pins_text;
    out.spill();
    out.put(comps);
    out.put(std::string_view(nets.get(), net_bytes));
    out.finish();
  }

  // A module that instantiates itself, directly or through others, would
  // expand for ever.
  void check_cycles() {
    std::unordered_map<const VModule*, int> state;  // 1 on the path, 2 done
    for (auto& root : mods_) {
      if (state[root.get()]) continue;
      std::vector<std::pair<const VModule*, std::size_t>> stack{{root.get(), 0}};
      state[root.get()] = 1;
      while (!stack.empty()) {
        auto& [m, i] = stack.back();
        if (i == m->insts.size()) {
          state[m] = 2;
          stack.pop_back();
          continue;
        }
        const Inst& in = m->insts[i++];
        auto it = by_name_.find(in.type);
        if (it == by_name_.end()) continue;
        const VModule* c = it->second;
        int& st = state[c];
        if (st == 1)
          fault_at(m->file, in.line, c == m ? "module \"" + m->name + "\" instantiates itself"
                                            : "module \"" + c->name + "\" instantiates itself through \"" + m->name + "\"");
        if (st == 0) {
          st = 1;
          stack.emplace_back(c, 0);
        }
      }
    }
  }

  std::vector<std::unique_ptr<VModule>>& mods_;
  std::unordered_map<std::string_view, VModule*> by_name_;  // keys: the modules' names

  const CellType& cell_type(std::string_view type) {
    auto [it, fresh] = types_.try_emplace(type);
    CellType& ct = it->second;
    if (fresh) {
      std::string name(type);
      auto ym = yosys_cells().find(name);
      if (ym != yosys_cells().end()) ct.yosys = &ym->second;
      int16_t fan = 0;
      try {
        ct.cls = class_f(name.c_str(), kCellTable, &fan);
      } catch (const Fault&) {
        ct.bad_fan = true;
      }
      auto def = by_name_.find(type);
      if (def != by_name_.end()) ct.def = def->second;
      ct.nld = nld_name(type, false);
    }
    return ct;
  }
  std::unordered_map<std::string_view, CellType> types_;  // keys: inside the files' texts

  // The pin type of pin `pin` of a built-in cell of class cls, -1 for none.
  int pin_type(int cls, std::string_view pin) {
    auto& known = pin_types_[cls];
    for (auto& [p, t] : known)
      if (p == pin) return t;
    int t = -1;
    try {
      t = pin_type_f(std::string(pin).c_str(), cls);
    } catch (const Fault&) {
    }
    known.emplace_back(pin, t);
    return t;
  }
  std::unordered_map<int, std::vector<std::pair<std::string_view, int>>> pin_types_;

  // The direction of pin `pin` of a part of a Yosys cell's translation.
  Dir part_dir(const Part& part, const std::string& pin) {
    auto [it, fresh] = part_dirs_.try_emplace(&pin, dNone);
    if (fresh) {
      int16_t f = 0;
      int t = pin_type_f(pin.c_str(), class_f(part.cell.c_str(), kCellTable, &f));
      it->second = t == kwTristate ? dInout : t == kwOutput ? dOut : dIn;
    }
    return it->second;
  }
  std::unordered_map<const std::string*, Dir> part_dirs_;
};

// The texts of the files read.  A regular file is mapped and read in
// place: a hundred megabytes of Verilog are neither copied nor laid on
// fresh pages that must first be cleared.  Anything else (a pipe, a
// directory, which reads as an empty file) is read into memory.  The
// modules point into the texts: they stay until the end.
class Texts {
 public:
  Texts() = default;
  Texts(const Texts&) = delete;
  Texts& operator=(const Texts&) = delete;
  ~Texts() {
    for (auto [at, size] : maps_) ::munmap(at, size);
  }

  std::string_view read(const std::string& path) {
    int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) fail("Could not open " + path + "\n");
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0) {
      auto size = static_cast<std::size_t>(st.st_size);
      void* at = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
      if (at != MAP_FAILED) {
        ::close(fd);
        maps_.emplace_back(at, size);
        return {static_cast<const char*>(at), size};
      }
    }
    ::close(fd);
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) fail("Could not open " + path + "\n");
    std::string s;
    char buf[1 << 16];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
    std::fclose(f);
    char* text = static_cast<char*>(arena_.allocate(s.size() + 1, 1));
    std::memcpy(text, s.data(), s.size());
    return {text, s.size()};
  }

 private:
  Arena arena_;
  std::vector<std::pair<void*, std::size_t>> maps_;
};

}  // namespace

void read_verilog(const std::vector<std::string>& files, const std::string& dir,
                  std::vector<std::string>* names) {
  std::vector<std::unique_ptr<VModule>> mods;
  Texts texts;
  for (const std::string& f : files) {
    Parser p(f, texts.read(f));
    p.parse(mods);
  }
  // Each file to a temporary beside its target, all renamed into place only
  // when every one is complete: a rejected input or a failed write leaves
  // the directory as it was.
  OutputSet out;
  std::vector<std::string> paths;
  out.run([&] { Converter(mods).run(out, dir, paths); });
  out.commit();
  names->insert(names->end(), paths.begin(), paths.end());
}

}  // namespace zelk
