#include <gtest/gtest.h>

#include "netlist/netlist.h"

namespace zelk {
namespace {

Link* term(Design& d, Net* n) {
  Link* l = d.make<Link>();
  net_push_back(n, l);
  return l;
}

TEST(NetLists, PushDeleteAppendKeepOrderAndLinks) {
  Design d;
  Module* m = d.new_module();
  Net* a = d.make<Net>();
  Net* b = d.make<Net>();
  module_push_net_front(m, b);
  module_push_net_front(m, a);
  Link* a1 = term(d, a);
  Link* a2 = term(d, a);
  Link* b1 = term(d, b);
  Link* b2 = term(d, b);
  EXPECT_TRUE(check_lists(m));
  delete_node(a1);
  EXPECT_EQ(a1->next, a2);  // the successor stays readable after unlinking
  EXPECT_FALSE(net_contains(a1));
  EXPECT_THROW(delete_node(a1), Fault);
  delete_node(b2);
  net_append_all(a, b);
  EXPECT_EQ(a->links, a2);
  EXPECT_EQ(a2->next, b1);
  EXPECT_EQ(b1->net, a);
  EXPECT_EQ(a->tail, b1);
  delete_net(b, m);
  EXPECT_EQ(m->nets, a);
  EXPECT_EQ(a->next, nullptr);
  EXPECT_THROW(delete_net(b, m), Fault);
  EXPECT_TRUE(check_lists(m));
}

TEST(NetLists, NetOfAnotherModuleIsNotFound) {
  Design d;
  Module* m1 = d.new_module();
  Module* m2 = d.new_module();
  Net* n = d.make<Net>();
  module_push_net_front(m2, n);
  EXPECT_FALSE(module_has_net(m1, n));
  EXPECT_THROW(delete_net(n, m1), Fault);
  EXPECT_TRUE(module_has_net(m2, n));
}

TEST(NetLists, FNameAlwaysInsertsSlash) {
  EXPECT_EQ(f_name("top", "dir/", "nld"), "dir//top.nld");
  EXPECT_EQ(f_name("a", ".", "pcd"), "./a.pcd");
}

}  // namespace
}  // namespace zelk
