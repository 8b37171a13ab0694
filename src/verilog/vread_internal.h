// Reading structural Verilog: the records the parser fills (declarations,
// instances, connections and assigns of each module, all inside the file's
// text) and the converter reads to write NLD and PCD files.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <type_traits>
#include <unordered_map>
#include <utility>
#include <vector>

#include "netlist/netlist.h"
#include "reader/reader.h"

namespace zelk::vread_detail {

constexpr std::size_t kNameLimit = 4096;  // an NLD name holds at most 4095 bytes
constexpr int kMaxVectorBits = 1 << 24;    // bits of one declared vector

[[noreturn]] inline void fault_at(const std::string& file, int line, const std::string& what) {
  fail(file + ":" + std::to_string(line) + ": " + what + "\n");
}

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
inline std::string bit_name(const Decl& d, int i) {
  if (!d.vector) return std::string(d.name);
  return std::string(d.name) + "[" + std::to_string(std::min(d.msb, d.lsb) + i) + "]";
}

struct Assign {
  std::vector<int> lhs, rhs;
  int line;
};

// Asks the pages thread for the pages of an array reserved ahead of its
// filling (a million instances, connections, terminals), a window ahead of
// the records filled: their first touches then overlap the work instead of
// each trapping in turn.  Only a hint; the array itself is never touched.
class FillAhead {
 public:
  explicit FillAhead(PageAhead* pages) : pages_(pages) {}
  template <class Array>
  void keep_up(const Array& v) {
    using T = std::remove_cv_t<std::remove_pointer_t<decltype(v.data())>>;
    const char* base = reinterpret_cast<const char*>(v.data());
    const std::size_t used = v.size() * sizeof(T);
    if (base != base_) {  // a new array, or the array moved
      base_ = base;
      asked_ = 0;
      // Its pages are asked for, not touched (it may move again while they
      // come): large ones trap once per 2 MiB at their first touch.
      if (v.capacity() * sizeof(T) >= kLargePagesFrom)
        ask_large_pages(const_cast<char*>(base), v.capacity() * sizeof(T));
    }
    if (!pages_ || used + kWindow <= asked_) return;
    const std::size_t from = std::max(asked_, used);
    const std::size_t to = std::min(v.capacity() * sizeof(T), used + 2 * kWindow);
    if (to <= from) return;
    char* at = const_cast<char*>(base);
    pages_->ask(at + from, at + to);  // the whole pages within
    asked_ = to;
  }

 private:
  static constexpr std::size_t kWindow = std::size_t{1} << 21;
  PageAhead* pages_;
  const char* base_ = nullptr;
  std::size_t asked_ = 0;
};

// A growing array of plain records.  A large one takes an arena per size:
// the arena's fresh pages are zero, so a table of a million empty slots
// costs nothing before its slots are used.  A small one (the tables of
// most modules) takes zeroed memory of the heap: an arena of its own would
// cost a mapping of the system's, and its release, for each of tens of
// thousands of modules.
template <class T>
class BigArray {
  static_assert(std::is_trivially_copyable_v<T>);
  static constexpr std::size_t kHeapBelow = std::size_t{64} << 10;  // bytes

 public:
  std::size_t size() const { return size_; }
  std::size_t capacity() const { return cap_; }
  bool empty() const { return size_ == 0; }
  const T* data() const { return data_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  void push_back(const T& v) {
    if (size_ == cap_) reserve(cap_ ? cap_ * 2 : 8);
    data_[size_++] = v;
  }
  // n records of zero bytes, the ones held before dropped; on large pages
  // when they are `scattered` (read in random order).
  void zeroed(std::size_t n, bool scattered = false) {
    size_ = cap_ = 0;
    reserve(n);
    size_ = n;
    if (scattered) ask_large_pages(data_, n * sizeof(T));
  }
  void reserve(std::size_t n) {
    if (n <= cap_) return;
    std::unique_ptr<Arena> arena;
    std::unique_ptr<void, HeapFree> heap;
    T* data;
    if (n * sizeof(T) < kHeapBelow) {
      heap.reset(::operator new(n * sizeof(T), std::align_val_t{alignof(T)}));
      std::memset(heap.get(), 0, n * sizeof(T));
      data = static_cast<T*>(heap.get());
    } else {
      arena = std::make_unique<Arena>();
      data = static_cast<T*>(arena->allocate(n * sizeof(T), alignof(T)));
    }
    if (size_) std::memcpy(static_cast<void*>(data), data_, size_ * sizeof(T));
    arena_ = std::move(arena);
    heap_ = std::move(heap);
    data_ = data;
    cap_ = n;
  }

 private:
  struct HeapFree {
    void operator()(void* p) const { ::operator delete(p, std::align_val_t{alignof(T)}); }
  };
  std::unique_ptr<Arena> arena_;            // a large array's, else null
  std::unique_ptr<void, HeapFree> heap_;    // a small array's, else null
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
  // Room for n declarations without growing (a table grown by doubling
  // clears and fills each smaller table before it, and moves every slot).
  void reserve(std::size_t n) {
    if (n <= 8 || n * 2 <= slots_.size()) return;
    decls_.reserve(n);
    std::size_t size = 16;
    while (size < n * 2 + 2) size *= 2;
    rehash(size);
  }
  // The declarations, in order of declaration.
  const BigArray<Decl>& records() const { return decls_; }
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
  void grow() { rehash(slots_.empty() ? 16 : slots_.size() * 2); }
  void rehash(std::size_t size) {
    BigArray<Slot> old;
    std::swap(old, slots_);
    slots_.zeroed(size, true);
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
  bool declares_nets = false;  // a "wire" or "tri" declaration in the body
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

// ---------------------------------------------------------------- Yosys cells

// One NLD cell of a translated instance: its class name and, per pin, the
// connection it takes: a port of the Verilog cell (>= 0 index into the
// cell's port letters) or a helper net made inside the translation (< 0).
struct Part {
  std::string cell;
  std::vector<std::pair<std::string, int>> pins;  // NLD pin, source
};

struct CellMap {
  std::vector<std::string> ports;  // Verilog ports, the output last
  std::vector<Part> parts;
};

// The Yosys gate cells by name, each as the built-in cells it becomes.
// Helper nets are -1, -2, ...; port k is k.
const std::unordered_map<std::string, CellMap>& yosys_cells();

// Built-in cells (the cell library may be read along) and the proof
// library's state boxes are never converted.
inline bool library_module(const std::string& name) {
  int16_t fan = 0;
  try {
    if (class_f(name.c_str(), kCellTable, &fan) != kUser) return true;
  } catch (const Fault&) {
  }
  return name.rfind("zelk_state_", 0) == 0 || name.rfind("$_", 0) == 0;
}

// Reads the modules of one file (its text stays while they do) into out.
// Throws Fault "file:line: message\n" for anything outside the subset.
// With `pages`, the pages of the large arrays are asked for ahead.  A
// module whose instances take `beside_from` bytes or more has them read in
// two halves at once (the same modules, the same faults).
void parse_verilog(const std::string& file, std::string_view text,
                   std::vector<std::unique_ptr<VModule>>& out, PageAhead* pages,
                   std::size_t beside_from);

}  // namespace zelk::vread_detail
