// The way each module pin's signal goes, for the Verilog port directions:
// the pin's type says it, or (for the types that say none: undefined,
// static, clock, ...) the way the module and its parents use it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "netlist/netlist.h"

namespace zelk {

enum class Way : uint8_t { kIn, kOut, kInout };

// The port direction word of a way: "input", "output" or "inout".
const char* way_word(Way w);

// The way an NLD pin type says; input for the types that say none.
Way type_way(int type);

// Whether a pin of that type says which way its signal goes.
bool has_own_direction(int type);

// The ways of a loaded design's pins (read_module done), by module name.
// A pin whose type says no way is an output when something inside its
// module drives its net or an input pin of the module lies on it, inout when
// a tristate driver does, and otherwise an input.  Of several such pins on
// one net that nothing inside drives, one takes the signal in and passes it
// on to the others: the one that a parent drives (the parents' own pins
// settled first), else the first in the file; all pass it on when a copy
// inside turns out to drive the net, or when a bidirect or tristate pin on
// the net is driven by the parents more firmly than any of them.
class PinWays {
 public:
  explicit PinWays(const Design& d);
  // The way of pin p of the module named `module`.
  Way of(std::string_view module, const Instance* p) const;
  // The way terminal t's signal goes, seen from its instance: a cell's by
  // the terminal's type, a copy's by its module's pin.
  Way of_terminal(const Link* t) const;
  // Whether terminal t drives its net as a tristate driver does: a
  // tristate cell's output, a copy's tristate pin, or a copy's output that
  // tristate drivers inside its module drive.
  bool drives_as_tristate(const Link* t) const;

  // A pin by its module's name and its own: views of the design's names
  // (or of the top name held here), never copied.
  struct Key {
    std::string_view module, pin;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    std::size_t operator()(const Key& k) const {
      const std::size_t a = std::hash<std::string_view>{}(k.module);
      return a ^ (std::hash<std::string_view>{}(k.pin) + 0x9E3779B97F4A7C15ull + (a << 6) + (a >> 2));
    }
  };

 private:
  std::string_view name_of(const Module* m) const;
  // The ways of the pins whose type says none from what drives their nets
  // inside their modules, children first (a copy's terminal goes the way its
  // module's pin was found to go); a pin whose net nothing drives keeps its way.
  void settle_inside();
  // Of the pins that nothing inside drives, those joined on one net.
  void settle_joined(const Module* top);
  void find_tristate_outputs();

  std::string top_name_;
  std::vector<const Module*> order_;  // one module of each name, parents first

  // Pins that are no input.
  std::unordered_map<Key, Way, KeyHash> ways_;
  // Output pins on nets that tristate drivers drive.
  std::unordered_set<Key, KeyHash> tristate_outputs_;
};

}  // namespace zelk
