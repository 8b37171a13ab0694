// Pieces of the rebuild shared by its source files and its tests: output
// polarity steps, net trees, ports and local constants.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "netlist/netlist.h"

namespace zelk {

// Pin and cell names written into new records; shared constant strings.
inline constexpr char kNameIn[] = "in";
inline constexpr char kNameOut[] = "out";
inline constexpr char kNameNout[] = "nout";
inline constexpr char kNameHigh[] = "high-";
inline constexpr char kNameLow[] = "low-";
inline constexpr char kNameVdd[] = "VDD";
inline constexpr char kNameVss[] = "VSS";

// ---------------------------------------------------------------- output polarity

// The first signal net (in list order) driven by each constant source:
// a high- or low- cell, a VDD or VSS pin.  And every tristate net that a
// constant source drives (through a copy's tristate pin, say): the counts
// take its inverted readers as free too, so they are served from the
// opposite constant as well.
struct ConstantNets {
  Net* high = nullptr;
  Net* low = nullptr;
  Net* vdd = nullptr;
  Net* vss = nullptr;
  std::vector<Net*> tristate;
  void note(Net* n);
};
// Renames negated outputs and, in the same walk of the nets, finds the
// constant nets that high_low and vdd_vss join.
ConstantNets out_nout(Design& d);
// Exchange inverted terminals between the two nets of a pair; a side made
// for them is returned through its argument.
void high_low(Design& d, Net*& high, Net*& low);
void vdd_vss(Design& d, Net*& vdd, Net*& vss);
void reg_out(Design& d, Instance* reg);
// Takes terminal t out of its instance's ring of terminals.
void delete_link(Link* t);

// ---------------------------------------------------------------- net trees

// One module copy that a piece of a net lives in or passes through.
struct HierNode {
  HierNode* up;
  HierNode* sibling;
  HierNode* children;
  Module* module;
  Link* links;       // terminals in `module`, chained through Link::next
  Link* source;
  int16_t visited;
  int16_t from_up;   // the signal reaches `module` from its parent
  int16_t to_up;     // `module` drives the signal out to its parent
  int16_t port_type;
  // scratch of the direction search
  int32_t drivers_below;  // nodes with a source in this subtree
  int16_t reads_below;    // an input terminal in this subtree
};

// The youngest common ancestor of two module copies (a copy is its own
// ancestor); a missing argument gives the other one.
Module* yca(Module* a, Module* b);

// Net trees, ports, local constants and net pieces of one rebuild.  Holds
// the per-net table module -> node and the per-module name indexes of
// components, so that every step is linear in what it touches.
class NetTrees {
 public:
  explicit NetTrees(Design& d);

  // The nodes of the trees built so far are taken back: a tree lives
  // while its net is distributed.
  void next_net() { used_ = 0; }
  HierNode* h_net(Net* net);
  HierNode* add_tree(HierNode* tree, Link* t);
  void connect_f(HierNode* upper, HierNode* lower);

  void pin_type_check(HierNode* tree, int net_type);
  void make_link(HierNode* tree);
  void make_new_link(HierNode* parent_node, HierNode* child_node);
  void high_low_nethier(HierNode* tree, int cls);
  void vdd_vss_nethier(HierNode* tree, int cls);
  // One net per node that holds terminals, each pushed onto its copy's
  // list.  `spare`: a net record that no terminal points at any more (every
  // one of its terminals is in the tree), taken for the first of them
  // instead of a new one.
  void deliver_net(HierNode* tree, int net_type, Net* spare = nullptr);

  // Pre-order of a tree: the node, then its children's subtrees in order.
  const std::vector<HierNode*>& preorder(HierNode* tree);

 private:
  HierNode* new_node(Module* m, Link* t);
  HierNode*& slot(Module* m);
  HierNode* node_of(Module* m);
  void high_low_nethier2(HierNode* node, int cls);
  void vdd_vss_nethier2(HierNode* node, int cls);

  Design& d_;
  std::vector<HierNode*> node_;     // by Module::id, valid when stamp_ == gen_
  std::vector<uint32_t> stamp_;
  uint32_t gen_ = 0;
  std::vector<HierNode*> order_;
  std::deque<HierNode> pool_;  // nodes, reused from one net to the next
  std::size_t used_ = 0;
};

// ---------------------------------------------------------------- hierarchy

void deliver_inst(Design& d);
// Splits the inverted terminals of `net` onto a new net driven by a new
// inverter; returns `net`, whose `next` is the new net or null.
Net* div_net(Design& d, Net* net);

}  // namespace zelk
