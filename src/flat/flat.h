// Flattening: the open module copies dissolve into the top module's flat
// network; nets get types and sources, control cones are fenced off and
// inverters become terminal weights.
#pragma once

#include <string_view>
#include <unordered_map>

#include "netlist/netlist.h"

namespace zelk {

void flat(Design& d);

// Name look-ups across module boundaries, answered from caches that are
// built lazily on first use.  Each answer equals that of the plain list walk
// (first match in list or ring order) as long as the pins, components and
// terminal rings it has seen do not change; call reset() after changing
// them (nets may change freely).
class FlatIndex {
 public:
  // First pin of m's pins whose name equals `name`, or null.
  Instance* pin(const Module* m, const char* name);
  // The terminal on the other side of a module boundary, or null.
  Link* find_node(Link* t);
  // Drops every cache.
  void reset();

 private:
  struct Chain {
    Instance* first;
    Instance* last;
  };
  using PinMap = std::unordered_map<std::string_view, Instance*>;
  using CompMap = std::unordered_map<std::string_view, Chain>;
  using RingMap = std::unordered_map<std::string_view, Link*>;

  Link* ring_find(Instance* inst, const char* pin_name);
  const CompMap& comps_of(const Module* m);

  std::unordered_map<const Module*, PinMap> pins_;
  std::unordered_map<const Module*, CompMap> comps_;
  std::unordered_map<const Instance*, Instance*> same_name_next_;
  std::unordered_map<const Instance*, RingMap> rings_;
};

// The terminal on the other side of a module boundary, or null.  A plain
// walk of the lists, for single look-ups; scans use a FlatIndex.
Link* find_node(Design& d, Link* t);
Link* find_node(FlatIndex& ix, Link* t);

// Joins l1's net into l0's net and unlinks l1's net from m's nets; returns
// the terminal at which the caller's scan of l0's net goes on (or null).
Link* merge_net(Design& d, Link* l0, Link* l1, Module* m);

// Scans the terminals of one net of the top module and joins every pin or
// opened-instance terminal with its counterpart across the boundary (the
// boundary joining of flattening, for one net).  Terminals that come over
// with a join are scanned in turn.
void join_net(Design& d, FlatIndex& ix, Net* n);

// The driving terminal of a net (first driver in list order); keeps the
// former source when there is none.
void find_source(Net* n);

}  // namespace zelk
