// The lexer and parser of structural Verilog: the subset that Yosys writes
// after mapping to its gate cells (write_verilog -noexpr) and that
// zelk-verilog writes itself.  Port and wire declarations (vectors are
// split into one net per bit), cell instances with named connections and
// assigns of nets and constants; everything else is refused with its file
// and line.

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>
#include <vector>

#include "netlist/classes.h"
#include "netlist/threads.h"
#include "reader/reader.h"
#include "verilog/vread_internal.h"

namespace zelk::vread_detail {

namespace {

// Yosys writes gates as expressions unless told otherwise.
constexpr const char* kAssignExpression =
    "assign with an expression is outside the structural subset; write gates as cells (Yosys: "
    "write_verilog -noexpr)";

enum Tok { tEnd, tId, tNum, tPunct, tAttr, tFault };

struct Token {
  Tok kind = tEnd;
  // Identifier (unescaped), number text, punctuation or attribute body,
  // inside the file's text.
  std::string_view text;
  std::size_t at = 0;  // offset of its first byte in the file's text
  int line = 0;
  bool escaped = false;  // an escaped identifier is never a keyword
  uint32_t hash = 0;     // identifiers: their hash in the tables of names
  bool net = false;      // an identifier where a net's name may stand
};

// Byte classes of the C locale, by table: the lexer asks for every byte.
// cUnprintable: neither printable ASCII nor white space, which no name holds.
enum : unsigned char { cSpace = 1, cAlpha = 2, cDigit = 4, cUnprintable = 8 };
constexpr struct ByteClasses {
  unsigned char of[256] = {};
  constexpr ByteClasses() {
    for (int c = 0; c < 256; ++c)
      if (c < 33 || c > 126) of[c] = cUnprintable;
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
inline bool is_word_char(char c) { return is_alnum(c) || c == '_' || c == '$'; }

// A value of the file for a message: control bytes as \xNN.
std::string printable(std::string_view v) {
  std::string out;
  for (char c : v) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7f) {
      static const char* hex = "0123456789abcdef";
      out += "\\x";
      out += hex[u >> 4];
      out += hex[u & 15];
    } else {
      out += c;
    }
  }
  return out;
}

class VLexer {
 public:
  // `text` must outlive the lexer and every module read from it.
  VLexer(std::string file, std::string_view text) : file_(std::move(file)), s_(text) {}

  // Goes on from offset `at` of the text, a token's first byte on `line`.
  void seek(std::size_t at, int line) {
    p_ = at;
    line_ = line;
  }

  // The next token into t (made anew), where the parser keeps it.
  void next(Token& t) {
    skip();
    // Field by field: a new Token made on the stack and copied in stalled
    // on every token (the copy read back what had just been stored in
    // pieces of another size).
    t.kind = tEnd;
    t.text = {};
    t.line = line_;
    t.escaped = false;
    t.hash = 0;
    t.net = false;
    t.at = p_;
    if (p_ >= s_.size()) return;
    char c = s_[p_];
    if (c == '\\') {
      std::size_t b = ++p_;
      unsigned char seen = 0;  // the classes of its bytes
      for (; p_ < s_.size(); ++p_) {
        const unsigned char k = kBytes.of[static_cast<unsigned char>(s_[p_])];
        if (k & cSpace) break;
        seen |= k;
      }
      if (seen & cUnprintable)
        fault_at(file_, line_, "an escaped name holds a byte outside printable ASCII");
      t.kind = tId;
      t.escaped = true;
      t.text = s_.substr(b, p_ - b);
    } else if (is_alpha(c) || c == '_' || c == '$') {
      std::size_t b = p_;
      while (p_ < s_.size() && is_word_char(s_[p_])) ++p_;
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
  // The whole text.
  std::string_view text() const { return s_; }
};

class Parser {
 public:
  // Reads from offset `from` of the text, a statement's first byte on
  // `line`.  The instances of a module whose text from its first instance
  // on holds at least `beside_from` bytes are read in two halves at once.
  Parser(const std::string& file, std::string_view text, PageAhead* pages, std::size_t beside_from,
         std::size_t from = 0, int line = 1)
      : file_(file), lx_(file, text), pages_(pages), beside_from_(beside_from),
        insts_ahead_(pages), conns_ahead_(pages), bits_ahead_(pages), decls_ahead_(pages) {
    lx_.seek(from, line);
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
          "\") is outside the structural subset; map it to gate cells first (Yosys: synth, then "
          "write_verilog -noexpr)");
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
    if (!std::all_of(t.begin(), t.end(), [](char c) { return is_digit(c) || c == '_'; }))
      err("expected a number" + found());
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
    // Each bit becomes a pin or net of its own.
    if (std::abs(d.msb - d.lsb) >= kMaxVectorBits)
      err("vector of " + std::to_string(std::abs(d.msb - d.lsb) + 1L) + " bits; at most " +
          std::to_string(kMaxVectorBits));
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
    decls_ahead_.keep_up(m.decls.records());
  }

  void decl_list(VModule& m, Dir dir, std::string_view type_attr, bool ansi) {
    // The pin type goes into the NLD file as it stands: a word zelk reads,
    // every byte of it (a NUL byte would end the word early here).
    if (!type_attr.empty() && (type_attr.find('\0') != std::string_view::npos ||
                               screen(std::string(type_attr).c_str(), kKeywordTable) == kUser))
      err("unknown pin type \"" + printable(type_attr) + "\" in attribute zelk_type");
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
    std::unique_ptr<Beside> beside;  // goes before m, which it reads
    bool tried = false;
    for (;;) {
      if (beside && tok_.at >= beside->split) take_beside(*m, beside);
      auto a = attributes();
      if (at_instance()) {
        if (!std::exchange(tried, true)) beside = start_beside(*m);
        instance(*m);
        continue;
      }
      beside.reset();  // what it read may not stand after this statement
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
        m->declares_nets = true;
        decl_list(*m, dNone, "", false);
        expect(';');
      } else if (is_id("assign")) {
        adv();
        for (;;) {
          Assign as;
          as.line = tok_.line;
          as.lhs = expr();
          expect('=');
          as.rhs = expr();
          if (!is_p(',') && !is_p(';'))
            err(kAssignExpression);
          if (as.lhs.size() != as.rhs.size())
            fault_at(file_, as.line, "assign of " + std::to_string(as.rhs.size()) +
                                         " bits to " + std::to_string(as.lhs.size()) + " bits");
          m->assigns.push_back(std::move(as));
          if (is_p(';')) break;
          adv();
        }
        expect(';');
      } else {
        unsupported();
      }
    }
    return m;
  }

  // Whether the statement at tok_ (its attributes read) is an instance.
  bool at_instance() const {
    static const std::unordered_set<std::string_view> other = {
        "input", "output", "inout", "wire", "tri", "assign", "endmodule",
        "always", "initial", "reg", "function", "task", "generate", "parameter", "localparam",
        "defparam", "integer", "real", "genvar", "specify", "supply0", "supply1",
        "and", "or", "nand", "nor", "xor", "xnor", "not", "buf", "bufif0", "bufif1"};
    return tok_.kind == tId && (tok_.escaped || !other.count(tok_.text));
  }

  // The instances of a large module from a statement near the middle of
  // its text on, read by a parser of their own on a thread beside, into
  // arrays of their own, while this one reads those before.  They are
  // taken when this parser reaches that statement's first byte at the
  // start of a statement; a declaration or assign before it, or a guess
  // that fell inside a statement (a ";" in a comment or an escaped name),
  // drops them.  The parser beside reads only instances, which change no
  // declaration, and stops before the first other statement; a fault it
  // meets is raised only when this parser reaches the split, so that the
  // first fault of the file is the one told.
  struct Beside {
    std::size_t split = 0;         // offset of the statement it starts at
    std::size_t stop = 0;          // offset of the statement it stopped before
    int stop_line = 0;
    VModule part;                  // insts, conns and bits read (module's own offsets)
    std::exception_ptr fault;
    std::atomic<bool> cancel{false};
    std::thread thread;
    ~Beside() {
      cancel = true;
      if (thread.joinable()) thread.join();
    }
  };

  // A module's array as the parser beside sees it: where it lies and how
  // much it holds when the parser beside starts (never read after).
  struct Array {
    char* data;
    std::size_t size, capacity, record;  // in records; bytes of one
    template <class T>
    static Array of(std::vector<T>& v) {
      return {reinterpret_cast<char*>(v.data()), v.size(), v.capacity(), sizeof(T)};
    }
    // Asks for the pages that `count` records appended after about
    // `ahead` times as many more will take (a tenth either side).
    void ask(PageAhead& pages, std::size_t count, double ahead) const {
      const double at = static_cast<double>(size) + static_cast<double>(count) * ahead;
      const auto from = static_cast<std::size_t>(at * 0.9);
      const std::size_t to = std::min(capacity, static_cast<std::size_t>(at * 1.1) + count);
      if (from < to) pages.ask(data + from * record, data + to * record);
    }
  };
  struct Arrays {
    Array insts, conns, bits;
  };

  std::unique_ptr<Beside> start_beside(VModule& m) {
    const std::size_t from = tok_.at;
    if (module_end_ <= from || module_end_ - from < beside_from_) return nullptr;
    const std::string_view text = lx_.text();
    std::size_t split = text.find(';', from + (module_end_ - from) / 2);
    if (split == std::string_view::npos || split >= module_end_) return nullptr;
    for (++split; split < module_end_ && is_space(text[split]);) ++split;
    auto b = std::make_unique<Beside>();
    b->split = split;
    const std::size_t room[3] = {m.insts.capacity(), m.conns.capacity(), m.bits.capacity()};
    const Arrays arrays{Array::of(m.insts), Array::of(m.conns), Array::of(m.bits)};
    try {
      b->thread = start_thread([b = b.get(), &decls = m.decls, file = file_, text, pages = pages_,
                                from, line = tok_.line, room, arrays] {
        try {
          b->part.insts.reserve(room[0]);
          b->part.conns.reserve(room[1]);
          b->part.bits.reserve(room[2]);
          // Every line break of the text counts, outside tokens or in.
          const int split_line =
              line + static_cast<int>(std::count(text.data() + from, text.data() + b->split, '\n'));
          Parser p(file, text, pages, SIZE_MAX, b->split, split_line);
          p.decls_ = &decls;
          p.read_instances(*b);
          if (pages && !b->cancel) {
            // Where the records read here will be appended, reckoned from
            // the share of the text each half reads: asked for now, those
            // pages are ready when the append comes.
            const double ahead = static_cast<double>(b->split - from) /
                                 static_cast<double>(std::max<std::size_t>(b->stop - b->split, 1));
            arrays.insts.ask(*pages, b->part.insts.size(), ahead);
            arrays.conns.ask(*pages, b->part.conns.size(), ahead);
            arrays.bits.ask(*pages, b->part.bits.size(), ahead);
          }
        } catch (...) {
          b->fault = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      return nullptr;
    }
    return b;
  }

  // The parser beside: instances up to the first other statement.
  void read_instances(Beside& b) {
    for (;;) {
      if (b.cancel.load(std::memory_order_relaxed)) return;
      const std::size_t at = tok_.at;
      const int line = tok_.line;
      attributes();
      if (!at_instance()) {
        b.stop = at;
        b.stop_line = line;
        return;
      }
      instance(b.part);
    }
  }

  // At the start of a statement at or past the split: the instances read
  // beside are appended (or their fault raised) when it is the split, and
  // reading goes on where the parser beside stopped.
  void take_beside(VModule& m, std::unique_ptr<Beside>& beside) {
    if (tok_.at != beside->split) {
      beside.reset();
      return;
    }
    Beside& b = *beside;
    b.thread.join();
    if (b.fault) std::rethrow_exception(b.fault);
    const std::size_t conns = m.conns.size(), bits = m.bits.size();
    for (Inst in : b.part.insts) {
      in.conns += conns;
      m.insts.push_back(in);
    }
    for (Conn c : b.part.conns) {
      c.bits += bits;
      m.conns.push_back(c);
    }
    m.bits.insert(m.bits.end(), b.part.bits.begin(), b.part.bits.end());
    restart(b.stop, b.stop_line);
    beside.reset();
  }

  // Reads on from offset `at`, a statement's first byte on `line`.
  void restart(std::size_t at, int line) {
    lx_.seek(at, line);
    primed_ = false;
    at_ = 0;
    last_kind_ = tPunct;  // a statement follows a ";"
    last_net_word_ = last_dot_ = false;
    lex_failed_ = false;
    lex_fault_.clear();
    adv();
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
    module_end_ = lx_.text().size() - lx_.rest().size() + text.size();
    // Statements that start with a declaring word declare at least one
    // name each: the table of names starts that large.
    std::size_t semicolons = 0, declarations = 0;
    for (std::size_t at = text.find(';'); at != std::string_view::npos; at = text.find(';', at + 1)) {
      ++semicolons;
      std::size_t word = at + 1;
      while (word < text.size() && is_space(text[word])) ++word;
      const std::string_view rest = text.substr(word, 7);
      for (std::string_view w : {"wire", "input", "output", "inout", "tri"}) {
        if (rest.starts_with(w) && (rest.size() == w.size() || !is_word_char(rest[w.size()]))) {
          ++declarations;
          break;
        }
      }
    }
    auto parentheses = static_cast<std::size_t>(std::count(text.begin(), text.end(), '('));
    m.insts.reserve(semicolons);
    m.conns.reserve(parentheses);
    m.bits.reserve(parentheses);
    m.decls.reserve(declarations);
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
        if (!is_p(')')) expr(m.bits);
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
    insts_ahead_.keep_up(m.insts);
    conns_ahead_.keep_up(m.conns);
    bits_ahead_.keep_up(m.bits);
  }

  // A net expression: a name, a bit or part select, a sized constant or a
  // concatenation of those; bits most significant first.
  std::vector<int> expr() {
    std::vector<int> bits;
    expr(bits);
    return bits;
  }
  // Appends the bits of the expression to bits.  Concatenations only
  // order their parts' bits, so their nesting is counted, not recursed
  // into: an input may nest them deep.
  void expr(std::vector<int>& bits) {
    int depth = 0;  // braces open
    for (;;) {
      for (;;) {
        if (depth > 0 && tok_.kind == tNum && tok_.text.find('\'') == std::string::npos)
          err("replication is outside the structural subset");
        if (!is_p('{')) break;
        adv();
        ++depth;
      }
      part(bits);
      while (depth > 0 && is_p('}')) {
        adv();
        --depth;
      }
      if (depth == 0) return;
      expect(',');
    }
  }
  // A name, a bit or part select, or a sized constant.
  void part(std::vector<int>& bits) {
    if (tok_.kind == tNum) {
      constant(bits);
      return;
    }
    if (tok_.kind != tId) err(kAssignExpression);
    int line = tok_.line;
    uint32_t h = tok_.hash;
    std::string_view n = ident_view();
    const DeclTable::Found found = decls_->look(n, h);
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
  PageAhead* pages_;
  std::size_t beside_from_;
  std::size_t module_end_ = 0;  // offset of the module's "endmodule", as found by text
  Token tok_;
  Token ahead_[kLook];
  std::size_t at_ = 0;
  bool primed_ = false;
  Tok last_kind_ = tEnd;  // of the token lexed last
  bool last_net_word_ = false, last_dot_ = false;
  bool lex_failed_ = false;
  std::string lex_fault_;
  const DeclTable* decls_ = nullptr;  // of the module being read
  FillAhead insts_ahead_, conns_ahead_, bits_ahead_, decls_ahead_;
};

}  // namespace

void parse_verilog(const std::string& file, std::string_view text,
                   std::vector<std::unique_ptr<VModule>>& out, PageAhead* pages,
                   std::size_t beside_from) {
  Parser p(file, text, pages, beside_from);
  p.parse(out);
}

}  // namespace zelk::vread_detail
