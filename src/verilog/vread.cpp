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
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "reader/reader.h"
#include "verilog/verilog.h"

namespace zelk {

namespace {

constexpr std::size_t kNameLimit = 4096;  // an NLD name holds at most 4095 bytes

enum Tok { tEnd, tId, tNum, tPunct, tAttr };

struct Token {
  Tok kind = tEnd;
  std::string text;  // identifier (unescaped), number text, punctuation, attribute body
  std::string_view view;  // identifiers: the same text inside the file's text
  int line = 0;
  bool escaped = false;  // an escaped identifier is never a keyword
};

[[noreturn]] void fault_at(const std::string& file, int line, const std::string& what) {
  fail(file + ":" + std::to_string(line) + ": " + what + "\n");
}

class VLexer {
 public:
  // `text` must outlive the lexer and every module read from it.
  VLexer(std::string file, std::string_view text) : file_(std::move(file)), s_(text) {}

  Token next() {
    skip();
    Token t;
    t.line = line_;
    if (p_ >= s_.size()) return t;
    char c = s_[p_];
    if (c == '\\') {
      std::size_t b = ++p_;
      while (p_ < s_.size() && !std::isspace(static_cast<unsigned char>(s_[p_]))) ++p_;
      t.kind = tId;
      t.escaped = true;
      t.view = s_.substr(b, p_ - b);
      t.text = t.view;
    } else if (std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '$') {
      std::size_t b = p_;
      while (p_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[p_])) ||
                                s_[p_] == '_' || s_[p_] == '$'))
        ++p_;
      t.kind = tId;
      t.view = s_.substr(b, p_ - b);
      t.text = t.view;
    } else if (std::isdigit(static_cast<unsigned char>(c)) || c == '\'') {
      std::size_t b = p_;
      while (p_ < s_.size() && (std::isalnum(static_cast<unsigned char>(s_[p_])) ||
                                s_[p_] == '\'' || s_[p_] == '_' || s_[p_] == '?'))
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
      t.text = std::string(1, c);
      ++p_;
    }
    if (t.kind == tId && t.text.size() >= kNameLimit)
      fault_at(file_, t.line, "name of " + std::to_string(t.text.size()) +
                                  " bytes; names must be shorter than 4096 bytes");
    return t;
  }

 private:
  void skip() {
    while (p_ < s_.size()) {
      char c = s_[p_];
      if (c == '\n') {
        ++line_;
        ++p_;
      } else if (std::isspace(static_cast<unsigned char>(c))) {
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
};

// A bit of a connection: a declared bit (>= 0) or a constant.
constexpr int kConst0 = -1, kConst1 = -2, kFloat = -3;

enum Dir { dNone, dIn, dOut, dInout };

struct Decl {
  std::string_view name;  // inside the file's text
  int msb = 0, lsb = 0;
  bool vector = false;
  int base = 0;  // id of bit lsb..msb in order of index
  Dir dir = dNone;
  std::string type_attr;  // zelk_type of a port
  int line = 0;
};

struct Conn {
  std::string port;
  std::vector<int> bits;  // most significant first
  int line;
};

struct Inst {
  std::string type, name;
  int line;
  std::vector<Conn> conns;
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

// Names to declarations: open addressing over one array of (hash, index)
// words, the names themselves kept by the declarations.  A million nets are
// looked up with one probe into the array and one name comparison.
class DeclTable {
 public:
  Decl* find(std::string_view name) {
    if (slots_.empty()) return nullptr;
    uint32_t h = hash(name);
    for (std::size_t i = h & mask_;; i = (i + 1) & mask_) {
      uint64_t v = slots_[i];
      if (v == 0) return nullptr;
      if (static_cast<uint32_t>(v >> 32) == h) {
        Decl& d = decls_[static_cast<std::size_t>(static_cast<uint32_t>(v) - 1)];
        if (d.name == name) return &d;
      }
    }
  }
  const Decl* find(std::string_view name) const { return const_cast<DeclTable*>(this)->find(name); }
  // Adds d (its name absent).
  void add(const Decl& d) {
    if ((decls_.size() + 1) * 2 > slots_.size()) grow();
    decls_.push_back(d);
    place(hash(d.name), static_cast<uint32_t>(decls_.size()));
  }

 private:
  static uint32_t hash(std::string_view s) {
    uint64_t h = 1469598103934665603ull;
    for (unsigned char c : s) h = (h ^ c) * 1099511628211ull;
    return static_cast<uint32_t>(h ^ (h >> 32));
  }
  void place(uint32_t h, uint32_t index) {
    std::size_t i = h & mask_;
    while (slots_[i] != 0) i = (i + 1) & mask_;
    slots_[i] = (static_cast<uint64_t>(h) << 32) | index;
  }
  void grow() {
    std::vector<uint64_t> old;
    old.swap(slots_);
    slots_.assign(old.empty() ? 64 : old.size() * 2, 0);
    mask_ = slots_.size() - 1;
    for (uint64_t v : old)
      if (v != 0) place(static_cast<uint32_t>(v >> 32), static_cast<uint32_t>(v));
  }
  std::vector<Decl> decls_;
  std::vector<uint64_t> slots_;
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
  std::vector<Assign> assigns;
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
      std::vector<std::pair<std::string, std::string>> attrs = attributes();
      if (tok_.kind == tEnd) break;
      if (!is_id("module")) unsupported();
      out.push_back(module(attrs));
    }
  }

 private:
  void adv() { tok_ = lx_.next(); }
  bool is_id(const char* w) const { return tok_.kind == tId && !tok_.escaped && tok_.text == w; }
  bool is_p(char c) const { return tok_.kind == tPunct && tok_.text[0] == c; }
  [[noreturn]] void err(const std::string& what) const { fault_at(file_, tok_.line, what); }
  void expect(char c) {
    if (!is_p(c)) err(std::string("expected \"") + c + "\"" + found());
    adv();
  }
  std::string found() const {
    if (tok_.kind == tEnd) return " at end of file";
    return ", found \"" + tok_.text.substr(0, 40) + "\"";
  }
  std::string_view ident_view() {
    if (tok_.kind != tId) err("expected a name" + found());
    std::string_view v = tok_.view;
    adv();
    return v;
  }
  std::string ident() {
    if (tok_.kind != tId) err("expected a name" + found());
    std::string s = tok_.text;
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
      err("behavioural code (\"" + tok_.text +
          "\") is outside the structural subset; map it to gate cells first");
    if (tok_.kind == tId && !tok_.escaped && params.count(tok_.text))
      err("parameters (\"" + tok_.text + "\") are outside the structural subset");
    err("unexpected" + found());
  }

  std::vector<std::pair<std::string, std::string>> attributes() {
    std::vector<std::pair<std::string, std::string>> v;
    while (tok_.kind == tAttr) {
      // name [= value] {, name [= value]}
      const std::string& a = tok_.text;
      std::size_t i = 0;
      while (i < a.size()) {
        while (i < a.size() && (std::isspace(static_cast<unsigned char>(a[i])) || a[i] == ',')) ++i;
        std::size_t b = i;
        while (i < a.size() && !std::isspace(static_cast<unsigned char>(a[i])) && a[i] != '=' &&
               a[i] != ',')
          ++i;
        std::string key = a.substr(b, i - b);
        while (i < a.size() && std::isspace(static_cast<unsigned char>(a[i]))) ++i;
        std::string value;
        if (i < a.size() && a[i] == '=') {
          ++i;
          while (i < a.size() && std::isspace(static_cast<unsigned char>(a[i]))) ++i;
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
    std::string t = tok_.text;
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
  void declare(VModule& m, std::string_view name, Decl d, int line) {
    if (Decl* found = m.decls.find(name)) {
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
    m.decls.add(d);
  }

  void decl_list(VModule& m, Dir dir, const std::string& type_attr, bool ansi) {
    Decl d;
    d.dir = dir;
    d.type_attr = type_attr;
    if (is_id("wire")) adv();
    if (is_id("reg")) unsupported();
    if (is_id("signed")) err("signed vectors are outside the structural subset");
    range(d);
    for (;;) {
      int line = tok_.line;
      std::string_view n = ident_view();
      if (is_p('=')) err("a declaration with a value is outside the structural subset");
      if (is_p('[')) err("arrays are outside the structural subset");
      declare(m, n, d, line);
      if (ansi) m.ports.emplace_back(n);
      if (!is_p(',')) break;
      adv();
      if (ansi && (is_id("input") || is_id("output") || is_id("inout") || tok_.kind == tAttr)) break;
    }
  }

  static Dir dir_of(const std::string& w) {
    return w == "input" ? dIn : w == "output" ? dOut : w == "inout" ? dInout : dNone;
  }

  static std::string attr(const std::vector<std::pair<std::string, std::string>>& a,
                          const char* key, bool* has = nullptr) {
    for (auto& [k, v] : a)
      if (k == key) {
        if (has) *has = true;
        return v;
      }
    return {};
  }

  std::unique_ptr<VModule> module(const std::vector<std::pair<std::string, std::string>>& attrs) {
    auto m = std::make_unique<VModule>();
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

  void instance(VModule& m) {
    Inst in;
    in.line = tok_.line;
    in.type = ident();
    if (is_p('#')) err("parameters are outside the structural subset");
    in.name = ident();
    if (is_p('[')) err("instance arrays are outside the structural subset");
    expect('(');
    std::unordered_set<std::string> seen;
    if (!is_p(')')) {
      for (;;) {
        if (!is_p('.')) err("positional connections are outside the structural subset");
        adv();
        Conn c;
        c.line = tok_.line;
        c.port = ident();
        if (!seen.insert(c.port).second)
          fault_at(file_, c.line, "port \"" + c.port + "\" of \"" + in.name + "\" connected twice");
        expect('(');
        if (!is_p(')')) c.bits = expr(m);
        expect(')');
        in.conns.push_back(std::move(c));
        if (is_p(')')) break;
        expect(',');
      }
    }
    expect(')');
    expect(';');
    m.insts.push_back(std::move(in));
  }

  // A net expression: a name, a bit or part select, a sized constant or a
  // concatenation of those; bits most significant first.
  std::vector<int> expr(VModule& m) {
    std::vector<int> bits;
    if (is_p('{')) {
      adv();
      for (;;) {
        if (tok_.kind == tNum && tok_.text.find('\'') == std::string::npos)
          err("replication is outside the structural subset");
        std::vector<int> part = expr(m);
        bits.insert(bits.end(), part.begin(), part.end());
        if (is_p('}')) break;
        expect(',');
      }
      adv();
      return bits;
    }
    if (tok_.kind == tNum) return constant();
    if (tok_.kind != tId) err("assign with an expression is outside the structural subset");
    int line = tok_.line;
    std::string_view n = ident_view();
    const Decl* found = m.decls.find(n);
    if (!found) fault_at(file_, line, "undeclared net \"" + std::string(n) + "\"");
    const Decl& d = *found;
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
    return bits;
  }

  std::vector<int> constant() {
    std::string t = tok_.text;
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
    return std::vector<int>(lsb_first.rbegin(), lsb_first.rend());
  }

  std::string file_;
  VLexer lx_;
  Token tok_;
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
std::string nld_name(const std::string& s, bool file_name) {
  std::string r;
  for (unsigned char c : s) {
    if (c == '.' || c == '(' || c == ')' || c == ';' || c <= ' ' || c == 127 ||
        (file_name && c == '/')) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      r += buf;
    } else {
      r += static_cast<char>(c);
    }
  }
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
  int comp;
  std::string_view pin;
  int bit;
  Dir dir;             // dOut drives, dInout drives as tristate
  int line;
};

class Converter {
 public:
  explicit Converter(std::vector<std::unique_ptr<VModule>>& mods) : mods_(mods) {
    for (auto& m : mods_) {
      auto [it, fresh] = by_name_.try_emplace(m->name, m.get());
      if (!fresh) fault_at(m->file, m->line, "module \"" + m->name + "\" defined twice");
    }
  }

  void run(std::vector<std::pair<std::string, std::string>>& files) {
    check_cycles();
    for (auto& m : mods_) {
      if (library_module(m->name)) continue;
      std::string file = nld_name(m->name, true);
      if (file.size() >= kNameLimit) fault_at(m->file, m->line, "module name too long");
      if (is_box(*m)) files.emplace_back(file + ".pcd", pcd(*m));
      else files.emplace_back(file + ".nld", nld(*m));
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

  static const char* type_word(const Decl& d, bool tristate_net) {
    if (!d.type_attr.empty()) return d.type_attr.c_str();
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
        std::string word = !d.type_attr.empty() ? d.type_attr
                           : d.dir == dIn       ? "input"
                           : d.dir == dOut      ? "output"
                                                : "bidirect";
        s += "  (def-pin " + nld_name(bit_name(d, i), false) +
             " type " + word + ")\n";
      }
    }
    s.back() = ')';
    return s + "\n";
  }

  // Pins of an instantiated cell: the declared module's ports, bit by bit,
  // most significant first within a port.
  // Made once per port of a module and kept, so that terminals can point
  // at them.
  const std::vector<std::string>* module_pins(const VModule& def, const std::string& port,
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

  std::string nld(VModule& m) {
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
    std::string comps;  // "(def-comp cell name)" lines
    // Component names; the set points into them, so they never move.
    std::vector<std::string> names;
    names.reserve(m.insts.size() * 4 + 2);  // at most four cells per Yosys cell
    std::unordered_set<std::string_view> inst_names;
    inst_names.reserve(m.insts.size() + 2);
    auto add_comp = [&](std::string_view cell, std::string name, int line) {
      if (name.size() >= kNameLimit) fault_at(m.file, line, "instance name too long");
      names.push_back(std::move(name));
      if (!inst_names.insert(names.back()).second)
        fault_at(m.file, line, "instance name \"" + names.back() + "\" used twice");
      comps += "  (def-comp ";
      comps += cell;
      comps += ' ';
      comps += names.back();
      comps += ")\n";
      return static_cast<int>(names.size()) - 1;
    };
    auto member = [&](const Term& t) {
      return t.comp < 0 ? std::string(t.pin)
                        : names[static_cast<std::size_t>(t.comp)] + "." + std::string(t.pin);
    };
    int helper_nets = 0;
    std::vector<int> helper_base;  // per instance: id of its helper -1
    for (const Inst& in : m.insts) {
      std::string iname = nld_name(in.name, false);
      auto ym = yosys_cells().find(in.type);
      int16_t fan = 0;
      int cls = kUser;
      bool bad_fan = false;
      try {
        cls = class_f(in.type.c_str(), kCellTable, &fan);
      } catch (const Fault&) {
        bad_fan = true;
      }
      if (bad_fan) fault_at(m.file, in.line, "cell \"" + in.type + "\" has a fan-in number it does not allow");
      if (ym != yosys_cells().end()) {
        const CellMap& cm = ym->second;
        std::vector<std::vector<int>> at(cm.ports.size());
        for (const Conn& c : in.conns) {
          auto p = std::find(cm.ports.begin(), cm.ports.end(), c.port);
          if (p == cm.ports.end())
            fault_at(m.file, c.line, "cell \"" + in.type + "\" has no port \"" + c.port + "\"");
          if (c.bits.size() != 1)
            fault_at(m.file, c.line, "port \"" + c.port + "\" of \"" + in.name + "\" is one bit wide");
          at[static_cast<std::size_t>(p - cm.ports.begin())] = c.bits;
        }
        int base = bits + 2 + helper_nets;
        int most = 0;
        for (std::size_t k = 0; k < cm.parts.size(); ++k) {
          const Part& part = cm.parts[k];
          int comp = add_comp(part.cell, cm.parts.size() == 1 ? iname : iname + "~" + std::to_string(k + 1),
                              in.line);
          int16_t f = 0;
          int pcls = class_f(part.cell.c_str(), kCellTable, &f);
          for (auto& [pin, src] : part.pins) {
            int t = pin_type_f(pin.c_str(), pcls);
            Dir dir = t == kwTristate ? dInout : t == kwOutput ? dOut : dIn;
            int bit;
            if (src < 0) {
              most = std::max(most, -src);
              bit = base + (-src - 1);
            } else {
              const std::vector<int>& b = at[static_cast<std::size_t>(src)];
              if (b.empty() || b[0] == kFloat) continue;
              bit = node(b[0]);
            }
            terms.push_back({comp, pin, bit, dir, in.line});
          }
        }
        helper_nets += most;
        u.parent.resize(static_cast<std::size_t>(bits + 2 + helper_nets));
        for (int k = base; k < bits + 2 + helper_nets; ++k) u.parent[static_cast<std::size_t>(k)] = k;
        continue;
      }
      if (cls != kUser) {
        int comp = add_comp(in.type, iname, in.line);
        for (const Conn& c : in.conns) {
          int t = 0;
          bool bad = false;
          try {
            t = pin_type_f(c.port.c_str(), cls);
          } catch (const Fault&) {
            bad = true;
          }
          if (bad) fault_at(m.file, c.line, "cell \"" + in.type + "\" has no pin \"" + c.port + "\"");
          if (c.bits.size() > 1)
            fault_at(m.file, c.line, "pin \"" + c.port + "\" of \"" + in.name + "\" is one bit wide");
          if (c.bits.empty() || c.bits[0] == kFloat) continue;
          Dir dir = t == kwTristate ? dInout : t == kwOutput ? dOut : dIn;
          // A pin name the cell has needs no encoding.
          terms.push_back({comp, c.port, node(c.bits[0]), dir, c.line});
        }
        continue;
      }
      auto def = by_name_.find(in.type);
      if (def == by_name_.end())
        fault_at(m.file, in.line, "unknown cell \"" + in.type + "\" with no port directions");
      int comp = add_comp(nld_name(in.type, false), iname, in.line);
      for (const Conn& c : in.conns) {
        Dir dir = dNone;
        const std::vector<std::string>* pins = module_pins(*def->second, c.port, &dir);
        if (!pins)
          fault_at(m.file, c.line, "module \"" + in.type + "\" has no port \"" + c.port + "\"");
        if (pins->size() != c.bits.size() && !c.bits.empty())
          fault_at(m.file, c.line, "port \"" + c.port + "\" of \"" + in.name + "\" is " +
                                       std::to_string(pins->size()) + " bits wide, connected to " +
                                       std::to_string(c.bits.size()));
        for (std::size_t i = 0; i < c.bits.size(); ++i) {
          if (c.bits[i] == kFloat) continue;
          terms.push_back({comp, (*pins)[i], node(c.bits[i]), dir, c.line});
        }
      }
    }
    // Constant cells, one per value used.
    std::string low, high;
    for (int v = 0; v < 2; ++v) {
      bool used = const_line[static_cast<std::size_t>(v)] != 0;
      for (const Term& t : terms) used = used || u.find(t.bit) == u.find(v ? c1 : c0);
      if (!used) continue;
      std::string base = v ? "high-" : "low-", name = base;
      for (int k = 1; inst_names.count(name); ++k) name = base + std::to_string(k);
      int comp = add_comp(base, name, m.line);
      terms.push_back({comp, v ? "out" : "nout", v ? c1 : c0, dOut,
                       const_line[static_cast<std::size_t>(v)] ? const_line[static_cast<std::size_t>(v)] : m.line});
    }

    // Module pins, bit by bit.
    std::string pins_text;
    std::vector<Term> pin_terms;
    std::vector<std::pair<const Decl*, int>> pin_bits;
    for (const std::string& p : m.ports) {
      const Decl& d = port_decl(m, p);
      Dir dir = dNone;
      const std::vector<std::string>& pn = *module_pins(m, p, &dir);
      for (std::size_t k = 0; k < pn.size(); ++k) {
        int b = d.base + static_cast<int>(pn.size() - 1 - k);
        pin_bits.emplace_back(&d, b);
        Dir drive = d.dir == dIn ? dOut : d.dir == dInout ? dInout : dIn;
        pin_terms.push_back({-1, pn[k], b, drive, d.line});
      }
    }
    // Drivers: one per net unless a tristate driver is on it.
    std::size_t nodes = u.parent.size();
    std::vector<int> drivers(nodes, 0), tristate(nodes, 0);
    auto count = [&](const Term& t) {
      int r = u.find(t.bit);
      if (t.dir == dInout) tristate[static_cast<std::size_t>(r)] = 1;
      if (t.dir == dOut) ++drivers[static_cast<std::size_t>(r)];
    };
    for (const Term& t : pin_terms) count(t);
    for (const Term& t : terms) count(t);
    if (drivers[static_cast<std::size_t>(u.find(c0))] && u.find(c0) == u.find(c1))
      fault_at(m.file, m.line, "a net is tied to both constants");
    std::vector<int> seen(nodes, 0);
    for (const Term& t : terms) {
      int r = u.find(t.bit);
      if (t.dir == dOut && drivers[static_cast<std::size_t>(r)] > 1 && !tristate[static_cast<std::size_t>(r)]) {
        // Report at the second driver met in file order.
        if (seen[static_cast<std::size_t>(r)]++)
          fault_at(m.file, t.line, "net of \"" + member(t) + "\" has more than one driver");
      }
    }
    for (const Term& t : pin_terms) {
      int r = u.find(t.bit);
      if (t.dir == dOut && drivers[static_cast<std::size_t>(r)] > 1 && !tristate[static_cast<std::size_t>(r)])
        fault_at(m.file, t.line, "input \"" + member(t) + "\" is driven inside the module");
    }
    for (std::size_t i = 0; i < pin_terms.size(); ++i) {
      const Decl& d = *pin_bits[i].first;
      pins_text += "  (def-pin " + std::string(pin_terms[i].pin) + " type " +
                   type_word(d, tristate[static_cast<std::size_t>(u.find(pin_terms[i].bit))] != 0) + ")\n";
    }

    // Nets: grouped by root, in order of first appearance (pins first),
    // by a counting sort over one flat array.
    std::size_t total = pin_terms.size() + terms.size();
    auto term_at = [&](std::size_t i) -> const Term& {
      return i < pin_terms.size() ? pin_terms[i] : terms[i - pin_terms.size()];
    };
    std::vector<int> group_of(nodes, -1), gid(total), start;
    for (std::size_t i = 0; i < total; ++i) {
      int& g = group_of[static_cast<std::size_t>(u.find(term_at(i).bit))];
      if (g < 0) {
        g = static_cast<int>(start.size());
        start.push_back(0);
      }
      gid[i] = g;
      ++start[static_cast<std::size_t>(g)];
    }
    std::vector<int> size(start);
    int run = 0;
    for (int& v : start) {
      int c = v;
      v = run;
      run += c;
    }
    std::vector<int> order(total), fill(start);
    for (std::size_t i = 0; i < total; ++i)
      order[static_cast<std::size_t>(fill[static_cast<std::size_t>(gid[i])]++)] = static_cast<int>(i);

    std::string s = "(def-module " + nld_name(m.name, false) + "\n" + pins_text + comps;
    for (std::size_t g = 0; g < start.size(); ++g) {
      if (size[g] < 2) continue;  // a lone terminal joins nothing
      s += "  (def-net";
      for (int k = start[g]; k < start[g] + size[g]; ++k) {
        const Term& t = term_at(static_cast<std::size_t>(order[static_cast<std::size_t>(k)]));
        s += ' ';
        if (t.comp >= 0) {
          s += names[static_cast<std::size_t>(t.comp)];
          s += '.';
        }
        s += t.pin;
      }
      s += ")\n";
    }
    s.pop_back();
    return s + ")\n";
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
  std::unordered_map<std::string, VModule*> by_name_;
};

std::string slurp(const std::string& path) {
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) fail("Could not open " + path + "\n");
  std::string s;
  char buf[1 << 16];
  std::size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  return s;
}

}  // namespace

void read_verilog(const std::vector<std::string>& files, const std::string& dir,
                  std::vector<std::string>* names) {
  std::vector<std::unique_ptr<VModule>> mods;
  // The modules point into the texts: they stay until the end.
  std::vector<std::string> texts;
  texts.reserve(files.size());
  for (const std::string& f : files) {
    texts.push_back(slurp(f));
    Parser p(f, texts.back());
    p.parse(mods);
  }
  std::vector<std::pair<std::string, std::string>> out;
  Converter(mods).run(out);
  // Whole or nothing: every file goes to a temporary first.
  std::vector<std::string> temps;
  auto drop = [&] {
    for (const std::string& t : temps) std::remove(t.c_str());
  };
  for (auto& [name, text] : out) {
    std::string path = dir + "/" + name, tmp = path + ".zelk-tmp";
    FILE* fp = std::fopen(tmp.c_str(), "wb");
    if (!fp) {
      drop();
      fail("Could not open " + path + "\n");
    }
    temps.push_back(tmp);
    bool ok = std::fwrite(text.data(), 1, text.size(), fp) == text.size();
    if (std::fclose(fp) != 0 || !ok) {
      drop();
      fail("Could not write " + path + "\n");
    }
  }
  for (std::size_t i = 0; i < out.size(); ++i) {
    std::string path = dir + "/" + out[i].first;
    if (std::rename(temps[i].c_str(), path.c_str()) != 0) {
      for (std::size_t k = i; k < temps.size(); ++k) std::remove(temps[k].c_str());
      fail("Could not write " + path + "\n");
    }
    names->push_back(path);
  }
}

}  // namespace zelk
