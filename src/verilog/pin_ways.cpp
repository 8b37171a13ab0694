#include "verilog/pin_ways.h"

#include <algorithm>
#include <cstddef>
#include <unordered_set>
#include <vector>

namespace zelk {

const char* way_word(Way w) {
  switch (w) {
    case Way::kOut:
      return "output";
    case Way::kInout:
      return "inout";
    default:
      return "input";
  }
}

Way type_way(int type) {
  switch (type) {
    case kwOutput:
    case kwOutputConnected:
    case kwScanOut:
      return Way::kOut;
    case kwTristate:
    case kwTristateConnected:
    case kwBidirect:
    case kwBidirectConnected:
      return Way::kInout;
    default:
      return Way::kIn;
  }
}

bool has_own_direction(int type) {
  return type == kwInput || type == kwInputConnected || type == kwGlobal || type_way(type) != Way::kIn;
}

namespace {

PinWays::Key key(std::string_view module, std::string_view pin) { return {module, pin}; }

// A module's pins in file order (the list holds it reversed).
std::vector<const Instance*> pins_in_file_order(const Module* m) {
  std::vector<const Instance*> pins;
  for (const Instance* p = m->pins; p; p = p->next) pins.push_back(p);
  return {pins.rbegin(), pins.rend()};
}

// Pins whose type says no way, on one net that nothing inside their module
// drives: one of them is to take the signal in.
struct Group {
  std::string_view module;
  std::vector<const Instance*> pins;  // in file order
  std::vector<uint8_t> driven;        // how firmly the parents drive the pin's net
};

// How firmly a net is driven: by nothing; only by a pin whose type says no
// way that is taken to bring the signal in; by a driver.
constexpr uint8_t kNone = 0, kAssumed = 1, kFirm = 2;

}  // namespace

Way PinWays::of(std::string_view module, const Instance* p) const {
  if (has_own_direction(p->type)) return type_way(p->type);
  auto it = ways_.find(key(module, p->name));
  return it == ways_.end() ? Way::kIn : it->second;
}

Way PinWays::of_terminal(const Link* t) const {
  if (t->inst->cls != kUser) return type_way(t->pin_type);
  if (!t->pin_name) return Way::kIn;
  auto it = ways_.find(key(t->inst->class_name, t->pin_name));
  return it == ways_.end() ? Way::kIn : it->second;
}

std::string_view PinWays::name_of(const Module* m) const {
  return m->inst ? std::string_view(m->inst->class_name) : top_name_;
}

PinWays::PinWays(const Design& d) : top_name_(d.options.top_name) {
  // One module of each name, parents first: a copy follows its parent in the
  // module list, so the last copy of a module follows the last of each of
  // its parents.
  std::unordered_map<std::string_view, std::size_t> last;
  std::vector<const Module*> all;
  for (const Module* m = d.top; m; m = m->next) {
    last[name_of(m)] = all.size();
    all.push_back(m);
  }
  for (std::size_t i = 0; i < all.size(); ++i)
    if (last[name_of(all[i])] == i) order_.push_back(all[i]);

  // Every pin with a way of its own that is no input (a cell's pins all:
  // their types say it); an input is what a pin not found is taken for.
  for (const Module* m : order_)
    for (const Instance* p = m->pins; p; p = p->next)
      if ((m->state == kStateCell || has_own_direction(p->type)) && type_way(p->type) != Way::kIn)
        ways_.try_emplace(key(name_of(m), p->name), type_way(p->type));

  settle_inside();
  settle_joined(d.top);
  find_tristate_outputs();
}

void PinWays::settle_inside() {
  // A pin's way follows from the other terminals of its net, among which a
  // pin whose type says no way counts for nothing: the same for every such
  // pin on the net, found once per net.
  std::unordered_map<const Net*, Way> by_net;
  for (auto it = order_.rbegin(); it != order_.rend(); ++it) {
    const Module* m = *it;
    if (m->state == kStateCell) continue;
    by_net.clear();
    for (const Instance* p = m->pins; p; p = p->next) {
      if (has_own_direction(p->type) || !p->link || !p->link->net) continue;
      auto [at, fresh] = by_net.try_emplace(p->link->net, Way::kIn);
      Way& way = at->second;
      for (const Link* t = fresh ? p->link->net->links : nullptr; t; t = t->next) {
        // An input beside it drives the net through the module.
        if (t->inst->cls == kPin) {
          if (has_own_direction(t->inst->type) && type_way(t->inst->type) == Way::kIn) way = Way::kOut;
        } else if (const Way w = of_terminal(t); w != Way::kIn) {
          way = w;
        }
        if (way == Way::kOut) break;
      }
      if (way != Way::kIn) ways_[key(name_of(m), p->name)] = way;
    }
  }
}

void PinWays::settle_joined(const Module* top) {
  // The pins still taken for inputs, by the nets they lie on; of two or
  // more on one net, one is to take the signal in.
  std::vector<Group> groups;
  std::unordered_map<Key, std::pair<std::size_t, std::size_t>, KeyHash> slot;  // group, place
  std::unordered_set<std::string_view> has_open;
  bool joined = false;
  for (const Module* m : order_) {
    if (m->state == kStateCell) continue;
    const std::string_view name = name_of(m);
    std::unordered_map<const Net*, std::size_t> on_net;
    const std::size_t first = groups.size();
    const std::vector<const Instance*> pins = pins_in_file_order(m);
    for (const Instance* p : pins) {
      if (has_own_direction(p->type) || !p->link || !p->link->net) continue;
      if (ways_.count(key(name, p->name))) continue;
      auto [it, fresh] = on_net.try_emplace(p->link->net, groups.size());
      if (fresh) groups.push_back({name, {}, {}});
      groups[it->second].pins.push_back(p);
    }
    // A bidirect or tristate pin beside them may be the one a parent
    // drives; it stays inout and, driven more firmly than all of them,
    // takes the signal in for them (a tie leaves it to them).
    for (const Instance* p : pins) {
      if (!has_own_direction(p->type) || type_way(p->type) != Way::kInout || !p->link) continue;
      auto it = on_net.find(p->link->net);
      if (it != on_net.end()) groups[it->second].pins.push_back(p);
    }
    for (std::size_t g = first; g < groups.size(); ++g) {
      // The top module's pins are taken as driven from outside.
      groups[g].driven.assign(groups[g].pins.size(), m == top ? kAssumed : kNone);
      for (std::size_t i = 0; i < groups[g].pins.size(); ++i)
        slot.emplace(key(name, groups[g].pins[i]->name), std::make_pair(g, i));
      has_open.insert(name);
      joined = joined || groups[g].pins.size() > 1;
    }
  }
  if (!joined) return;

  // How firmly something drives a net of the module named `module`: a
  // driver (a gate, a register, an input pin, a copy's output) or only a
  // pin still taken for an input that a parent drives.  Per net, up to two
  // instances of each kind are kept, so that a net that many copies lie on
  // is walked once, and a copy's own terminals are left out of what drives
  // its pins.
  auto pin_drives = [&](std::string_view module, const Instance* p) -> uint8_t {
    const Way w = of(module, p);
    if (w != Way::kIn) return w == Way::kInout ? kFirm : kNone;
    auto it = slot.find(key(module, p->name));
    if (it == slot.end()) return kFirm;
    return groups[it->second.first].driven[it->second.second] != kNone ? kAssumed : kNone;
  };
  struct Drivers {
    const Instance* first = nullptr;
    bool more = false;
    void add(const Instance* x) {
      if (x == first) return;
      if (first) more = true;
      else first = x;
    }
    bool apart_from(const Instance* c) const { return more || (first && first != c); }
  };
  std::unordered_map<const Net*, std::pair<Drivers, Drivers>> drivers;  // firm, assumed
  auto driven_apart_from = [&](const Net* n, const Instance* c, std::string_view module) -> uint8_t {
    auto [it, fresh] = drivers.try_emplace(n);
    auto& [firm, assumed] = it->second;
    if (fresh)
      for (const Link* u = n->links; u && !firm.more; u = u->next) {
        const uint8_t how = u->inst->cls == kPin ? pin_drives(module, u->inst)
                                                 : (of_terminal(u) != Way::kIn ? kFirm : kNone);
        if (how == kFirm) firm.add(u->inst);
        else if (how == kAssumed) assumed.add(u->inst);
      }
    return firm.apart_from(c) ? kFirm : assumed.apart_from(c) ? kAssumed : kNone;
  };

  // Parents first: a module's pins are settled from what its parents
  // drive, then its copies' nets tell its children.
  std::size_t next_group = 0;
  for (const Module* m : order_) {
    if (m->state == kStateCell) continue;
    const std::string_view name = name_of(m);
    for (; next_group < groups.size() && groups[next_group].module == name; ++next_group) {
      const Group& g = groups[next_group];
      // The first pin driven most firmly takes the signal in.
      std::size_t in = 0;
      for (std::size_t i = 1; i < g.pins.size(); ++i)
        if (g.driven[i] > g.driven[in]) in = i;
      for (std::size_t i = 0; i < g.pins.size(); ++i)
        if (i != in && !has_own_direction(g.pins[i]->type)) ways_[key(name, g.pins[i]->name)] = Way::kOut;
    }
    drivers.clear();
    for (const Instance* c = m->comps; c; c = c->next) {
      if (c->cls != kUser || !c->link || !has_open.count(c->class_name)) continue;
      const Link* t = c->link;
      do {
        if (t->pin_name && t->net) {
          auto it = slot.find(key(c->class_name, t->pin_name));
          if (it != slot.end()) {
            uint8_t& driven = groups[it->second.first].driven[it->second.second];
            if (driven != kFirm) driven = std::max(driven, driven_apart_from(t->net, c, name));
          }
        }
        t = t->inst_next;
      } while (t && t != c->link);
    }
  }

  // A copy's pin that now passes a signal on may drive a pin of its parent,
  // which then passes it on as well (all of its group).
  settle_inside();
}

void PinWays::find_tristate_outputs() {
  std::unordered_map<const Net*, bool> driven;  // by tristate drivers, per net walked
  for (auto it = order_.rbegin(); it != order_.rend(); ++it) {
    const Module* m = *it;
    if (m->state == kStateCell) continue;
    driven.clear();
    for (const Instance* p = m->pins; p; p = p->next) {
      if (!p->link || !p->link->net || of(name_of(m), p) != Way::kOut) continue;
      const Net* n = p->link->net;
      auto [at, fresh] = driven.try_emplace(n, false);
      for (const Link* t = fresh ? n->links : nullptr; t && !at->second; t = t->next)
        at->second = t->inst->cls != kPin && drives_as_tristate(t);
      if (at->second) tristate_outputs_.insert(key(name_of(m), p->name));
    }
  }
}

bool PinWays::drives_as_tristate(const Link* t) const {
  if (of_terminal(t) == Way::kInout) return true;
  return t->inst->cls == kUser && t->pin_name &&
         tristate_outputs_.count(key(t->inst->class_name, t->pin_name)) != 0;
}

}  // namespace zelk
